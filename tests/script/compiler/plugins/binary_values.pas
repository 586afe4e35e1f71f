{ Sends typed numbers as raw little-endian bytes and decodes a received
  float, using Data2Str and Str2Data. }
var
  Counter: Word;
  Setpoint: Single;

procedure OnLoad;
begin
  Counter := $1234;
  Setpoint := 21.5;
end;

procedure OnSend;
var
  stamp: Cardinal;
  big: Int64;
begin
  stamp := GetTickCount;
  big := 1000000000;
  big := big * 10;
  TD := TD + Data2Str(Counter) + Data2Str(Setpoint) + Data2Str(stamp) + Data2Str(big);
  Counter := Counter + 1;
end;

procedure OnReceive;
var
  value: Single;
  raw: string;
begin
  if Length(RD) < 5 then
    exit;
  if RD[1] <> 'F' then
    exit;
  raw := Copy(RD, 2, 4);
  Str2Data(raw, value);
  AddMsg('Float: ' + FloatToStr(value));
  GraphAdd(value);
end;
