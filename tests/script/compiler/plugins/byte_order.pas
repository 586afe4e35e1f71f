// Converts received 32-bit big-endian counters to numbers; the order is
// chosen with a define.
{$DEFINE BIG_ENDIAN}

function Bytes4(const s: string; at: Integer): Cardinal;
begin
  Result := Ord(s[at]) or (Ord(s[at + 1]) shl 8) or (Ord(s[at + 2]) shl 16) or (Ord(s[at + 3]) shl 24);
{$IFDEF BIG_ENDIAN}
  Result := Swap32(Result);
{$ENDIF}
end;

procedure OnReceive;
var
  i: Integer;
  text: string;
begin
  text := '';
  i := 1;
  while i + 3 <= Length(RD) do
  begin
    text := text + IntToStr(Bytes4(RD, i)) + ' ';
    i := i + 4;
  end;
{$IFNDEF BIG_ENDIAN}
  AddMsg('little-endian counters');
{$ELSE}
  AddMsg('big-endian counters');
{$ENDIF}
  if text <> '' then
    RD := text + #13#10;
end;
