// Builds binary packets from mixed values with Compose.
var
  Sequence: Byte;

function Packet(command: Byte; argument: SmallInt; const payload: string): string;
begin
  Result := Compose([Sequence, command, argument, Length(payload), payload]);
  Sequence := (Sequence + 1) and $7F;
end;

procedure OnLoad;
begin
  Sequence := 0;
end;

procedure OnSend;
var
  body: string;
begin
  body := TD;
  TD := Packet($10, -2, body);
  AddMsg('TX ' + ArrayToHex(TD, True));
end;
