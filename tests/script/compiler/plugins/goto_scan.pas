{ Sends the typed command and repeats it up to three times when the device
  stays silent; written with labels, as the old macro it replaces was. }
procedure OnSend;
label
  retry, answered;
var
  tries: Integer;
  answer: string;
begin
  tries := 0;
retry:
  Inc(tries);
  PurgeRx;
  Send(TD + #13);
  if Recv(0, 250, answer) and (answer <> '') then
    goto answered;
  if tries < 3 then
    goto retry;
  AddErr('No answer to "' + TD + '" after ' + IntToStr(tries) + ' tries');
  TD := '';
  exit;
answered:
  SetV('last_answer', Trim(answer));
  AddMsg(Format('"%s" answered after %d tries', [TD, tries]));
  TD := '';
end;
