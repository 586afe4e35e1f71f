{ Load test: after every received line, sends a random-length block of
  random bytes and reports throughput. }
var
  BytesSent: Cardinal;
  Started: Cardinal;

function RandomBlock(maxLen: Integer): string;
var
  i, n: Integer;
begin
  n := 1 + Random(maxLen);
  Result := '';
  for i := 1 to n do
    Result := Result + Chr(Random(256));
end;

procedure OnLoad;
begin
  BytesSent := 0;
  Started := GetTickCount;
end;

procedure OnReceive;
var
  block: string;
  seconds: Double;
begin
  block := RandomBlock(64);
  BytesSent := BytesSent + Send(block);
  seconds := (GetTickCount - Started) / 1000.0;
  if seconds > 0 then
    UpdMsg(Format('%d bytes, %.1f bytes/s', [BytesSent, BytesSent / seconds]));
  if Rnd < 0.01 then
    Play('good');
end;
