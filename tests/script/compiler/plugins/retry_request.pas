{ Sends a request and retries with a growing pause until the device answers
  with a complete line. }
const
  Attempts = 5;

function Ask(const question: string; out answer: string): Integer;
var
  attempt: Integer;
  pause: Cardinal;
  part: string;
begin
  answer := '';
  pause := 50;
  for attempt := 1 to Attempts do
  begin
    PurgeRx;
    Send(question);
    answer := '';
    while Recv(1, 100, part) do
    begin
      answer := answer + part;
      if part = #10 then
      begin
        Result := attempt;
        exit;
      end;
    end;
    NBSleep(pause);
    pause := pause * 2;
  end;
  Result := 0;
end;

procedure OnSend;
var
  reply: string;
  tries: Integer;
begin
  tries := Ask(TD + #13#10, reply);
  TD := '';
  if tries = 0 then
    AddErr('No complete answer after ' + IntToStr(Attempts) + ' attempts')
  else
    AddMsg(Format('Answer after %d attempt(s): %s', [tries, Trim(reply)]));
end;
