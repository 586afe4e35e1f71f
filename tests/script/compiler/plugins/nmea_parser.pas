{ Checks NMEA sentences ($...*hh) from a GPS receiver on the main port and
  graphs the speed over ground of every valid $GPRMC sentence. }
var
  Valid, Invalid: Integer;

function NmeaChecksum(const body: string): Byte;
var
  i: Integer;
begin
  Result := 0;
  for i := 1 to Length(body) do
    Result := Result xor Ord(body[i]);
end;

function Field(const sentence: string; index: Integer): string;
var
  i, n: Integer;
begin
  Result := '';
  n := 0;
  for i := 1 to Length(sentence) do
  begin
    if sentence[i] = ',' then
    begin
      Inc(n);
      if n > index then
        exit;
    end
    else if n = index then
      Result := Result + sentence[i];
  end;
end;

function CheckSentence(const line: string; out body: string): Boolean;
var
  star: Integer;
begin
  Result := False;
  body := '';
  star := Pos('*', line);
  if (Length(line) < 4) or (line[1] <> '$') or (star = 0) or (star + 2 > Length(line)) then
    exit;
  body := Copy(line, 2, star - 2);
  Result := IntToHex(NmeaChecksum(body), 2) = Uppercase(Copy(line, star + 1, 2));
end;

procedure OnReceive;
var
  body: string;
  knots: Extended;
begin
  if not CheckSentence(Trim(RD), body) then
  begin
    Inc(Invalid);
    exit;
  end;
  Inc(Valid);
  if Field(body, 0) = 'GPRMC' then
  begin
    knots := StrToFloat(Field(body, 7));
    GraphAdd(knots * 1.852);
  end;
  UpdMsg(Format('NMEA: %d valid, %d invalid', [Valid, Invalid]));
end;

procedure OnLoad;
begin
  Valid := 0;
  Invalid := 0;
  AddMsg('NMEA: waiting for sentences');
end;
