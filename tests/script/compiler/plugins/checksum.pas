{ Appends a checksum byte to every transmitted line and checks the one
  at the end of every received line. }
const
  STX = #2;
  ETX = #3;

var
  Errors: Integer;
  LastGood: string;

function Checksum(const s: string): Byte;
var
  i: Integer;
  sum: Byte;
begin
  sum := 0;
  for i := 1 to Length(s) do
    sum := sum xor Ord(s[i]);
  Result := sum;
end;

procedure OnLoad;
begin
  Errors := 0;
  LastGood := '';
  AddMsg('Checksum plug-in loaded');
end;

procedure OnSend;
begin
  TD := STX + TD + ETX + Chr(Checksum(TD));
end;

procedure OnReceive;
var
  body: string;
  expected: Byte;
begin
  if Length(RD) < 3 then
    exit;
  body := Copy(RD, 2, Length(RD) - 3);
  expected := Ord(RD[Length(RD)]);
  if Checksum(body) <> expected then
  begin
    Errors := Errors + 1;
    AddErr(Format('Bad checksum #%d: %s', [Errors, ArrayToHex(RD, True)]));
  end
  else
    LastGood := body;
end;

end.
