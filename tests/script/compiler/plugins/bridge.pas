{ Bridges the two ports: what arrives on one is sent on the other, with a
  tag so the user sees the direction. }
var
  ToSecond, ToMain: Cardinal;

procedure OnReceive;
var
  n: Integer;
begin
  n := Send2(RD);
  ToSecond := ToSecond + n;
  if n <> Length(RD) then
    AddErr(Format('Second port took %d of %d bytes', [n, Length(RD)]));
  RD := '>> ' + RD;
end;

procedure OnReceive2;
var
  n: Integer;
begin
  n := Send(RD2);
  ToMain := ToMain + n;
  if n <> Length(RD2) then
    AddErr(Format('Main port took %d of %d bytes', [n, Length(RD2)]));
  RD2 := '<< ' + RD2;
end;

procedure OnLoad;
begin
  ToSecond := 0;
  ToMain := 0;
  AddMsg('Bridge between the main and the second port');
end;
