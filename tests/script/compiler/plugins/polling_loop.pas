// Polls a sensor a fixed number of times at a fixed interval when loaded,
// without blocking the terminal.
const
  Interval = 200;
  Samples = 50;

var
  Readings: array of Integer;

function ReadSensor(var value: Integer): Boolean;
var
  answer: string;
begin
  Send('R?'#13);
  Result := Recv(6, Interval, answer);
  if Result then
    value := StrToIntDef(Trim(answer), -1);
  Result := Result and (value >= 0);
end;

procedure OnLoad;
var
  i, v, good: Integer;
  next: Cardinal;
begin
  SetLength(Readings, Samples);
  good := 0;
  next := GetTickCount;
  for i := 0 to High(Readings) do
  begin
    next := next + Interval;
    if ReadSensor(v) then
    begin
      Readings[good] := v;
      Inc(good);
      GraphAdd(v);
    end;
    if GetTickCount < next then
      NBSleep(next - GetTickCount);
  end;
  SetLength(Readings, good);
  AddMsg(Format('%d of %d samples read', [Length(Readings), Samples]));
end;
