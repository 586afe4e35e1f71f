// Passes received text through a chain of filters chosen in OnLoad; each
// filter is a function value.
type
  TFilter = function(const s: string): string;

var
  Filters: array[0..3] of TFilter;
  Count: Integer;

function NoCR(const s: string): string;
var
  i: Integer;
begin
  Result := '';
  for i := 1 to Length(s) do
    if s[i] <> #13 then
      Result := Result + s[i];
end;

function Upper(const s: string): string;
begin
  Result := Uppercase(s);
end;

function Lower(const s: string): string;
begin
  Result := Lowercase(s);
end;

function ApplyAll(const s: string): string;
var
  i: Integer;
  f: TFilter;
begin
  Result := s;
  for i := 0 to Count - 1 do
  begin
    f := Filters[i];
    Result := f(Result);
  end;
end;

procedure Use(f: TFilter);
begin
  if Count <= High(Filters) then
  begin
    Filters[Count] := f;
    Count := Count + 1;
  end;
end;

procedure OnLoad;
begin
  Count := 0;
  Use(@NoCR);
  if GetV('case') = 'upper' then
    Use(@Upper)
  else if GetV('case') = 'lower' then
    Use(@Lower);
end;

procedure OnReceive;
begin
  RD := ApplyAll(RD);
end;
