// Asks before sending anything that looks like a dangerous command.
const
  MB_YESNO = 4;
  MB_ICONWARNING = $30;
  IDYES = 6;

var
  Dangerous: array[0..3] of string;

procedure OnLoad;
begin
  Dangerous[0] := 'ERASE';
  Dangerous[1] := 'FORMAT';
  Dangerous[2] := 'FACTORY';
  Dangerous[3] := 'REBOOT';
end;

function IsDangerous(const cmd: string): Boolean;
var
  i: Integer;
  upper: string;
begin
  upper := Uppercase(cmd);
  Result := False;
  for i := Low(Dangerous) to High(Dangerous) do
    if Pos(Dangerous[i], upper) = 1 then
    begin
      Result := True;
      break;
    end;
end;

procedure OnSend;
begin
  if IsDangerous(TD) then
    if MsgBox('Really send "' + TD + '"?', 'Confirm', MB_YESNO or MB_ICONWARNING) <> IDYES then
    begin
      TD := '';
      ShowMessage('Not sent');
    end;
end;
