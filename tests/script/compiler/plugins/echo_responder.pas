// Plays a device: answers known commands received on the second port.
type
  TCommand = (cmUnknown, cmPing, cmVersion, cmReset, cmStatus);

var
  Resets: Integer;

function Parse(const line: string): TCommand;
var
  s: string;
begin
  s := Uppercase(Trim(line));
  if s = 'PING' then
    Result := cmPing
  else if s = 'VER?' then
    Result := cmVersion
  else if s = 'RESET' then
    Result := cmReset
  else if s = 'STAT?' then
    Result := cmStatus
  else
    Result := cmUnknown;
end;

procedure OnReceive2;
var
  answer: string;
begin
  case Parse(RD2) of
    cmPing: answer := 'PONG';
    cmVersion: answer := 'DEVICE 1.04';
    cmReset:
      begin
        Inc(Resets);
        answer := 'OK';
      end;
    cmStatus: answer := Format('RESETS=%d', [Resets]);
  else
    answer := 'ERR';
  end;
  Send2(answer + #13#10);
end;

begin
  Resets := 0;
end.
