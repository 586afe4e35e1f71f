{ Reads holding registers from a Modbus RTU slave every time the user sends
  an empty line, and shows them as decimal numbers. }
{$I inc/crc16.inc}

const
  SlaveId = 1;
  FirstRegister = 0;
  RegisterCount = 4;

var
  Polls, Failures: Integer;

function ReadRequest(slave: Byte; first, count: Word): string;
begin
  Result := WithCrc(Chr(slave) + #3 + Chr(Hi(first)) + Chr(Lo(first)) + Chr(Hi(count)) + Chr(Lo(count)));
end;

procedure ShowRegisters(const answer: string);
var
  i: Integer;
  line: string;
  value: Word;
begin
  line := '';
  for i := 0 to RegisterCount - 1 do
  begin
    value := MakeWord(Ord(answer[5 + i * 2]), Ord(answer[4 + i * 2]));
    line := line + IntToStr(value) + ' ';
  end;
  AddMsg('Registers: ' + Trim(line));
end;

procedure OnLoad;
begin
  Polls := 0;
  Failures := 0;
end;

procedure OnSend;
var
  answer: string;
begin
  if TD <> '' then
    exit;
  TD := ReadRequest(SlaveId, FirstRegister, RegisterCount);
  Send(TD);
  TD := '';
  Inc(Polls);
  if not Recv(5 + RegisterCount * 2, 500, answer) then
  begin
    Inc(Failures);
    AddErr(Format('No answer (%d of %d polls failed)', [Failures, Polls]));
  end
  else if not CrcOk(answer) then
    AddErr('CRC error: ' + ArrayToHex(answer, True))
  else
    ShowRegisters(answer);
end;

end.
