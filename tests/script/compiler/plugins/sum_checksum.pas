// Adds an 8-bit sum and its two's complement to every packet, as many
// simple instruments expect.
var
  Sent: Cardinal;

function Sum8(const s: string): Byte;
var
  i: Integer;
  total: Cardinal;
begin
  total := 0;
  for i := 1 to Length(s) do
    total := total + Ord(s[i]);
  Result := total and $FF;
end;

function TwosComplement(b: Byte): Byte;
begin
  Result := (not b + 1) and $FF;
end;

procedure OnLoad;
begin
  Sent := 0;
  AddMsg('Sum checksum: appends sum and its complement');
end;

procedure OnSend;
var
  s: Byte;
begin
  s := Sum8(TD);
  TD := TD + Chr(s) + Chr(TwosComplement(s));
  Sent := Sent + 1;
  UpdMsg('Packets sent: ' + IntToStr(Sent));
end;

end.
