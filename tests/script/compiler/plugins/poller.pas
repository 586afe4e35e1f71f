// Polls a device with a request frame and graphs the 16-bit reading of the
// answer; keeps statistics in host variables.
type
  TState = (stIdle, stWaiting, stDone);
  TReading = record
    Value: Word;
    Time: Cardinal;
  end;

var
  State: TState;
  Readings: array[0..9] of TReading;
  Count: Integer;

procedure Poll; forward;

procedure OnLoad;
var
  i: Integer;
begin
  State := stIdle;
  Count := 0;
  for i := 0 to 9 do
  begin
    Readings[i].Value := 0;
    Readings[i].Time := 0;
  end;
  SetV('polls', '0');
  Poll;
end;

procedure Poll;
var
  answer: string;
  w: Word;
begin
  PurgeRx;
  Send(#$01#$03 + Chr(0) + Chr(2));
  State := stWaiting;
  if Recv(4, 200, answer) then
  begin
    Str2Data(answer, w);
    w := Swap32(w) shr 16;
    with Readings[Count mod 10] do
    begin
      Value := w;
      Time := GetTickCount;
    end;
    GraphAdd(w / 10.0);
    Count := Count + 1;
    SetV('polls', IntToStr(Count));
    State := stDone;
  end
  else
    case State of
      stWaiting: AddErr('No answer');
      stIdle, stDone: ;
    end;
end;

procedure OnReceive2;
var
  s: string;
  k: Integer;
begin
  s := RD2;
  k := 0;
  while k < Length(s) do
  begin
    k := k + 1;
    if s[k] = #0 then
      continue;
    if s[k] = #$FF then
      break;
  end;
  try
    RD2 := Data2Str(MakeWord(Lo(k), Hi(k)));
  except
    AddErr('conversion failed');
  end;
end;
