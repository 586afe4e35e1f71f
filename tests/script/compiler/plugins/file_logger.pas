// Keeps every received block in a file; the log is loaded at start and
// saved after each block.
const
  LogName = 'received.log';

var
  Log: string;

procedure OnLoad;
begin
  if not LoadStrFromFile(LogName, Log) then
    Log := '';
  AddMsg(Format('Log has %d bytes', [Length(Log)]));
end;

procedure OnReceive;
begin
  Log := Log + RD;
  try
    if not SaveStrToFile(LogName, Log) then
      AddErr('Log not saved');
  except
    AddErr('Cannot write the log: ' + ExceptionParam);
  end;
end;
