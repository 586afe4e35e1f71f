{ Frames outgoing lines as STX data ETX LRC, where LRC is the XOR of the data
  and ETX. }
const
  STX = #$02;
  ETX = #$03;

function Lrc(const s: string): Byte;
var
  i: Integer;
begin
  Result := 0;
  for i := 1 to Length(s) do
    Result := Result xor Ord(s[i]);
end;

procedure OnSend;
begin
  TD := STX + TD + ETX + Chr(Lrc(TD + ETX));
end;

procedure OnReceive;
var
  data: string;
begin
  if (Length(RD) >= 3) and (RD[1] = STX) and (RD[Length(RD) - 1] = ETX) then
  begin
    data := Copy(RD, 2, Length(RD) - 3);
    if Chr(Lrc(data + ETX)) <> RD[Length(RD)] then
      AddErr('LRC mismatch in ' + ArrayToHex(RD, True))
    else
      RD := data;
  end;
end;
