{ Computes statistics over the last readings with procedures that take open
  arrays, and shows them as a padded table. }
const
  Window = 8;

var
  Last: array[0..Window - 1] of Double;
  Filled, Next: Integer;

function Mean(const values: array of Double; count: Integer): Double;
var
  i: Integer;
begin
  Result := 0;
  if count = 0 then
    exit;
  for i := 0 to count - 1 do
    Result := Result + values[i];
  Result := Result / count;
end;

procedure MinMax(const values: array of Double; count: Integer; out least, most: Double);
var
  i: Integer;
begin
  least := values[0];
  most := values[0];
  for i := 1 to count - 1 do
  begin
    if values[i] < least then least := values[i];
    if values[i] > most then most := values[i];
  end;
end;

function Column(const text: string): string;
begin
  Result := Padl(text, 10);
end;

procedure OnReceive;
var
  value, least, most: Double;
begin
  value := StrToFloat(Trim(RD));
  Last[Next] := value;
  Next := (Next + 1) mod Window;
  if Filled < Window then
    Inc(Filled);
  MinMax(Last, Filled, least, most);
  AddMsg(Column(FloatToStr(least)) + Column(FloatToStr(Mean(Last, Filled))) + Column(FloatToStr(most)));
end;

procedure OnLoad;
begin
  Filled := 0;
  Next := 0;
  AddMsg(Column('min') + Column('mean') + Column('max'));
end;
