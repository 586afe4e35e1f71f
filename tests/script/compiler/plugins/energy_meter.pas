program EnergyMeter;
{ Reads a 32-bit energy counter (two registers, high word first) from a
  meter, graphs the power between two readings and keeps the total. }
{$I inc/settings.inc}
{$I inc/frame_io.inc}

var
  LastEnergy: Cardinal;
  LastTime: Cardinal;
  HaveLast: Boolean;

function ReadEnergy(out wh: Cardinal): Boolean;
var
  answer: string;
begin
  wh := 0;
  Result := Transact(#1#4#0#0#0#2, 9, answer);
  if Result then
    wh := MakeLong(MakeWord(Ord(answer[7]), Ord(answer[6])), MakeWord(Ord(answer[5]), Ord(answer[4])));
end;

procedure OnSend;
var
  wh, now: Cardinal;
  watts: Double;
begin
  TD := '';
  if not ReadEnergy(wh) then
  begin
    AddErr('Meter did not answer');
    exit;
  end;
  now := GetTickCount;
  if HaveLast and (now > LastTime) then
  begin
    watts := (wh - LastEnergy) * 3600000.0 / (now - LastTime);
    GraphAdd(watts);
  end;
  AddMsg(Format('Energy %d Wh (hi %d, lo %d)', [wh, HiWord(wh), LoWord(wh)]));
  LastEnergy := wh;
  LastTime := now;
  HaveLast := True;
end;

begin
  HaveLast := False;
end.
