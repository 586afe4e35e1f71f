{ Decodes the status byte pair of a drive into named flags. }
type
  TFlag = (fReady, fRunning, fFault, fOverTemp, fLimitLeft, fLimitRight, fHomed, fBrake);

var
  Names: array[0..7] of string;
  Previous: Word;

procedure OnLoad;
begin
  Names[0] := 'ready';
  Names[1] := 'running';
  Names[2] := 'fault';
  Names[3] := 'over temperature';
  Names[4] := 'left limit';
  Names[5] := 'right limit';
  Names[6] := 'homed';
  Names[7] := 'brake';
  Previous := 0;
end;

function FlagSet(status: Word; flag: TFlag): Boolean;
begin
  Result := (status shr Ord(flag)) and 1 = 1;
end;

procedure OnReceive;
var
  status, changed: Word;
  bit: Integer;
  text: string;
begin
  if Length(RD) <> 2 then
    exit;
  status := MakeWord(Ord(RD[1]), Ord(RD[2]));
  changed := status xor Previous;
  text := '';
  for bit := 0 to 7 do
    if (changed shr bit) and 1 <> 0 then
    begin
      if (status shr bit) and 1 <> 0 then
        text := text + ' +' + Names[bit]
      else
        text := text + ' -' + Names[bit];
    end;
  if text <> '' then
    AddMsg('Status:' + text);
  if FlagSet(status, fFault) and not FlagSet(Previous, fFault) then
    Play('bad');
  Previous := status;
end;
