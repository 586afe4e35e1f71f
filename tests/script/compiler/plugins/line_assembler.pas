// Joins received fragments into whole lines; only complete lines reach the
// receive panel, a partial one waits for its end or is flushed after a pause.
var
  Partial: string;
  LastData: Cardinal;

procedure OnLoad;
begin
  Partial := '';
  LastData := GetTickCount;
end;

procedure OnReceive;
var
  p: Integer;
  lines: string;
begin
  if (Partial <> '') and (GetTickCount - LastData > 1000) then
  begin
    AddMsg('Partial line flushed: ' + Partial);
    Partial := '';
  end;
  LastData := GetTickCount;
  Partial := Partial + RD;
  lines := '';
  p := Pos(#10, Partial);
  while p > 0 do
  begin
    lines := lines + Copy(Partial, 1, p);
    Delete(Partial, 1, p);
    p := Pos(#10, Partial);
  end;
  RD := lines;
end;
