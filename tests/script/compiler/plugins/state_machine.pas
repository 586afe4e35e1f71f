{ Recognises frames "AA 55 len data... sum" byte by byte with a state
  machine, whatever way they are split across receive events. }
type
  TRxState = (rsSync1, rsSync2, rsLength, rsData, rsSum);
  TFrame = record
    Expected: Integer;
    Data: string;
    Sum: Byte;
  end;

var
  State: TRxState;
  Frame: TFrame;
  Frames, Errors: Integer;

procedure StartOver;
begin
  State := rsSync1;
  with Frame do
  begin
    Expected := 0;
    Data := '';
    Sum := 0;
  end;
end;

procedure FrameDone;
begin
  if Frame.Sum = 0 then
  begin
    Inc(Frames);
    AddMsg('Frame: ' + ArrayToHex(Frame.Data, True));
  end
  else
  begin
    Inc(Errors);
    AddErr('Frame checksum error');
  end;
  StartOver;
end;

procedure Feed(b: Byte);
begin
  case State of
    rsSync1: if b = $AA then State := rsSync2;
    rsSync2: if b = $55 then State := rsLength else State := rsSync1;
    rsLength:
      begin
        Frame.Expected := b;
        Frame.Sum := b;
        if b = 0 then State := rsSum else State := rsData;
      end;
    rsData:
      begin
        Frame.Data := Frame.Data + Chr(b);
        Frame.Sum := Frame.Sum + b;
        if Length(Frame.Data) >= Frame.Expected then
          State := rsSum;
      end;
    rsSum:
      begin
        Frame.Sum := Frame.Sum + b;
        FrameDone;
      end;
  end;
end;

procedure OnLoad;
begin
  StartOver;
  Frames := 0;
  Errors := 0;
end;

procedure OnReceive;
var
  i: Integer;
begin
  for i := 1 to Length(RD) do
    Feed(Ord(RD[i]));
  UpdMsg(Format('%d frames, %d errors', [Frames, Errors]));
end;
