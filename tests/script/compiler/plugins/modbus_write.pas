// Writes a single Modbus register (function 6) typed as "reg=value" and
// checks the echo of the slave.
{$I inc/crc16.inc}

function ParsePair(const s: string; out reg, value: Integer): Boolean;
var
  p: Integer;
begin
  p := Pos('=', s);
  Result := p > 1;
  if Result then
  begin
    reg := StrToIntDef(Trim(Copy(s, 1, p - 1)), -1);
    value := StrToIntDef(Trim(Copy(s, p + 1, Length(s))), -1);
    Result := (reg >= 0) and (reg <= $FFFF) and (value >= 0) and (value <= $FFFF);
  end;
end;

procedure OnSend;
var
  reg, value: Integer;
  frame, echo: string;
begin
  if not ParsePair(TD, reg, value) then
  begin
    AddErr('Type reg=value, for example 10=1234');
    TD := '';
    exit;
  end;
  frame := WithCrc(#1#6 + Chr(Hi(reg)) + Chr(Lo(reg)) + Chr(Hi(value)) + Chr(Lo(value)));
  PurgeRx;
  Send(frame);
  TD := '';
  if Recv(Length(frame), 300, echo) and (echo = frame) then
    AddMsg(Format('Register %d := %d', [reg, value]))
  else
    AddErr('Write failed: ' + ArrayToHex(echo, True));
end;

end.
