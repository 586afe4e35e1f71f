{ DLE byte stuffing: DLE STX data DLE ETX with every DLE in the data
  doubled, and the reverse for received frames. }
const
  DLE = #$10;
  STX = #$02;
  ETX = #$03;

function Stuff(const data: string): string;
var
  i: Integer;
begin
  Result := DLE + STX;
  for i := 1 to Length(data) do
  begin
    if data[i] = DLE then
      Result := Result + DLE;
    Result := Result + data[i];
  end;
  Result := Result + DLE + ETX;
end;

function Unstuff(const frame: string; out data: string): Boolean;
var
  i, n: Integer;
begin
  data := '';
  n := Length(frame);
  Result := (n >= 4) and (Copy(frame, 1, 2) = DLE + STX) and (Copy(frame, n - 1, 2) = DLE + ETX);
  if not Result then
    exit;
  i := 3;
  while i <= n - 2 do
  begin
    if frame[i] = DLE then
    begin
      if (i + 1 > n - 2) or (frame[i + 1] <> DLE) then
      begin
        Result := False;
        exit;
      end;
      i := i + 1;
    end;
    data := data + frame[i];
    i := i + 1;
  end;
end;

procedure OnSend;
begin
  TD := Stuff(TD);
end;

procedure OnReceive;
var
  data: string;
begin
  if Unstuff(RD, data) then
    RD := data
  else
    AddErr('Bad frame: ' + ArrayToHex(RD, True));
end;
