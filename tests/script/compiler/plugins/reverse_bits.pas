{ Some sensors send their bytes least significant bit first; this plug-in
  mirrors the bits of every received byte and shows both forms. }
var
  Mirror: array[0..255] of Byte;

function MirrorByte(b: Byte): Byte;
var
  i: Integer;
begin
  Result := 0;
  for i := 0 to 7 do
  begin
    Result := (Result shl 1) or (b and 1);
    b := b shr 1;
  end;
end;

procedure OnLoad;
var
  i: Integer;
begin
  for i := 0 to 255 do
    Mirror[i] := MirrorByte(i);
end;

procedure OnReceive;
var
  i: Integer;
  fixed: string;
begin
  fixed := RD;
  for i := 1 to Length(fixed) do
    fixed[i] := Chr(Mirror[Ord(fixed[i])]);
  AddMsg('raw ' + ArrayToHex(RD, True) + ' / mirrored ' + ArrayToHex(fixed, True) + ' / reversed ' + ArrayToHex(Reverse(fixed), False));
  RD := fixed;
end;
