// Talks to an AT-command modem: each command waits for OK or ERROR with a
// time-out, and the plug-in stops at the first failing step.
{$I inc/settings.inc}

function WaitFor(const expected: string; timeout: Cardinal): Boolean;
var
  started: Cardinal;
  buffer, part: string;
begin
  Result := False;
  buffer := '';
  started := GetTickCount;
  repeat
    if Recv(0, 20, part) then
      buffer := buffer + part;
    if Pos(expected, buffer) > 0 then
    begin
      Result := True;
      break;
    end;
    if Pos('ERROR', buffer) > 0 then
      break;
  until GetTickCount - started >= timeout;
{$IFDEF VERBOSE}
  AddMsg('< ' + Trim(buffer));
{$ENDIF}
end;

function Command(const cmd: string): Boolean;
var
  attempt: Integer;
begin
  Result := False;
  for attempt := 1 to MaxRetries do
  begin
    PurgeRx;
    Send(cmd + #13);
    if WaitFor('OK', DefaultTimeout) then
    begin
      Result := True;
      exit;
    end;
  end;
  AddErr(Format('"%s" failed %d times', [cmd, MaxRetries]));
end;

procedure OnLoad;
begin
  if Command('ATZ') and Command('ATE0') and Command('AT+CSQ') then
    AddMsg('Modem ready')
  else
    AddErr('Modem not ready');
end;
