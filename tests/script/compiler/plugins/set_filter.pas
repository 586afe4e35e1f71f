// Drops control characters from received text except the ones the user
// keeps, and counts what was dropped by kind.
type
  TKind = (kNul, kBell, kEscape, kOther);
  TKinds = set of TKind;

var
  Keep: set of Char;
  Dropped: array[0..3] of Integer;
  Reported: TKinds;

function KindOf(c: Char): TKind;
begin
  case Ord(c) of
    0: Result := kNul;
    7: Result := kBell;
    27: Result := kEscape;
  else
    Result := kOther;
  end;
end;

procedure OnLoad;
var
  k: Integer;
begin
  Keep := [#9, #10, #13];
  Reported := [];
  for k := 0 to High(Dropped) do
    Dropped[k] := 0;
end;

procedure OnReceive;
var
  i: Integer;
  c: Char;
  k: TKind;
  clean: string;
begin
  clean := '';
  for i := 1 to Length(RD) do
  begin
    c := RD[i];
    if (c >= ' ') or (c in Keep) then
      clean := clean + c
    else
    begin
      k := KindOf(c);
      Dropped[Ord(k)] := Dropped[Ord(k)] + 1;
      if not (k in Reported) then
      begin
        case k of
          kNul: Reported := Reported + [kNul];
          kBell: Reported := Reported + [kBell];
          kEscape: Reported := Reported + [kEscape];
        else
          Reported := Reported + [kOther];
        end;
        AddMsg('Dropping control characters of kind ' + IntToStr(Ord(k)));
      end;
    end;
  end;
  RD := clean;
end;
