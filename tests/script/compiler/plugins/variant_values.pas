{ Keeps the last value of each channel in a variant so that numbers and
  texts can both be shown, and sends a summary on request. }
var
  Channels: array[0..3] of Variant;

function Describe(const v: Variant): string;
begin
  if VarIsEmpty(v) then
    Result := '-'
  else if VarType(v) = varString then
    Result := '"' + v + '"'
  else
    Result := FloatToStr(v);
end;

procedure OnLoad;
var
  i: Integer;
begin
  for i := 0 to 3 do
    Channels[i] := Unassigned;
end;

procedure OnReceive;
var
  ch: Integer;
  text: string;
begin
  if (Length(RD) < 3) or (RD[2] <> '=') then
    exit;
  ch := Ord(RD[1]) - Ord('0');
  if (ch < 0) or (ch > 3) then
    exit;
  text := Trim(Copy(RD, 3, Length(RD)));
  if StrToIntDef(text, -1) >= 0 then
    Channels[ch] := StrToInt(text)
  else
    Channels[ch] := text;
end;

procedure OnSend;
var
  i: Integer;
  summary: string;
begin
  if Uppercase(TD) <> 'SUMMARY' then
    exit;
  summary := '';
  for i := 0 to 3 do
    summary := summary + IntToStr(i) + ':' + Describe(Channels[i]) + ' ';
  AddMsg(summary);
  TD := '';
end;
