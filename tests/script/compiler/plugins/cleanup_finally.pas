{ A transaction that must always release the device: the unlock command is
  sent in a finally block even when the exchange fails. }
var
  Locked: Boolean;

procedure Lock;
var
  answer: string;
begin
  Send('LOCK'#13);
  if not Recv(3, 200, answer) or (answer <> 'OK'#13) then
    RaiseException(erCustomError, 'device did not lock');
  Locked := True;
end;

procedure Unlock;
begin
  if Locked then
    Send('UNLOCK'#13);
  Locked := False;
end;

procedure OnSend;
var
  answer: string;
begin
  try
    try
      Lock;
      Send(TD + #13);
      if not Recv(0, 300, answer) then
        AddErr('no answer');
      AddMsg('answer: ' + answer);
    finally
      Unlock;
    end;
  except
    AddErr('Transaction failed: ' + ExceptionToString(ExceptionType, ExceptionParam));
  end;
  TD := '';
end;

begin
  Locked := False;
end.
