{ A thermometer sends lines like "T=23.5C". Each reading is graphed and the
  minimum, maximum and mean are kept in host variables. }
var
  Count: Integer;
  Sum, MinT, MaxT: Double;

procedure Reset;
begin
  Count := 0;
  Sum := 0;
  MinT := 1000;
  MaxT := -1000;
end;

function ParseReading(const line: string; var value: Double): Boolean;
var
  s: string;
begin
  Result := False;
  s := Trim(line);
  if (Length(s) < 4) or (Copy(s, 1, 2) <> 'T=') then
    exit;
  if s[Length(s)] = 'C' then
    s := Copy(s, 3, Length(s) - 3)
  else
    s := Copy(s, 3, Length(s) - 2);
  try
    value := StrToFloat(s);
    Result := True;
  except
    AddErr('Not a number: ' + s);
  end;
end;

procedure OnLoad;
begin
  Reset;
end;

procedure OnReceive;
var
  t: Double;
begin
  if not ParseReading(RD, t) then
    exit;
  Inc(Count);
  Sum := Sum + t;
  if t < MinT then MinT := t;
  if t > MaxT then MaxT := t;
  GraphAdd(t);
  SetV('tmin', FloatToStr(MinT));
  SetV('tmax', FloatToStr(MaxT));
  SetV('tmean', FloatToStr(Sum / Count));
end;
