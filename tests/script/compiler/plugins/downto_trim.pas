// Removes trailing padding (spaces, NULs and 0xFF) that a device adds to
// fixed-size records, and pads outgoing text to the record size.
const
  RecordSize = 32;

function TrimPadding(const s: string): string;
var
  n: Integer;
begin
  n := Length(s);
  for n := Length(s) downto 1 do
    if not ((s[n] = ' ') or (s[n] = #0) or (s[n] = #$FF)) then
      break;
  if (n = 1) and ((s[1] = ' ') or (s[1] = #0) or (s[1] = #$FF)) then
    n := 0;
  Result := Copy(s, 1, n);
end;

procedure OnSend;
begin
  if Length(TD) > RecordSize then
  begin
    AddErr(Format('Record longer than %d bytes cut', [RecordSize]));
    TD := Copy(TD, 1, RecordSize);
  end;
  TD := Padr(TD, RecordSize);
end;

procedure OnReceive;
begin
  if Length(RD) > 0 then
    RD := TrimPadding(RD) + #13#10;
end;
