// Dispatches received command letters to handlers kept in a table of
// procedure variables.
type
  THandler = procedure(const arg: string);

var
  Handlers: array[0..25] of THandler;
  Value: Integer;

procedure DoSet(const arg: string);
begin
  Value := StrToIntDef(arg, Value);
end;

procedure DoGet(const arg: string);
begin
  Send(IntToStr(Value) + #13#10);
end;

procedure DoAdd(const arg: string);
begin
  Value := Value + StrToIntDef(arg, 0);
end;

procedure Unknown(const arg: string);
begin
  AddErr('Unknown command, argument ' + arg);
end;

procedure OnLoad;
var
  i: Integer;
begin
  for i := 0 to 25 do
    Handlers[i] := @Unknown;
  Handlers[Ord('S') - Ord('A')] := @DoSet;
  Handlers[Ord('G') - Ord('A')] := @DoGet;
  Handlers[Ord('A') - Ord('A')] := @DoAdd;
  Value := 0;
end;

procedure OnReceive;
var
  line: string;
  letter: Integer;
  h: THandler;
begin
  line := Uppercase(Trim(RD));
  if line = '' then
    exit;
  letter := Ord(line[1]) - Ord('A');
  if (letter < 0) or (letter > 25) then
    exit;
  h := Handlers[letter];
  h(Copy(line, 2, Length(line)));
end;
