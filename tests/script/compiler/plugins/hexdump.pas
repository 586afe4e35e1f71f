{ Shows received data as a classic hex dump: offset, 16 bytes in hex and
  their printable characters. }
const
  BytesPerLine = 16;

var
  Offset: Integer;

function Printable(const s: string): string;
var
  i: Integer;
begin
  Result := s;
  for i := 1 to Length(Result) do
    if (Ord(Result[i]) < 32) or (Ord(Result[i]) > 126) then
      Result[i] := '.';
end;

procedure DumpLine(const chunk: string);
var
  hex: string;
begin
  hex := ArrayToHex(chunk, True);
  hex := hex + StringOfChar(' ', BytesPerLine * 3 - Length(hex));
  AddMsg(IntToHex(Offset, 8) + '  ' + hex + ' ' + Printable(chunk));
  Offset := Offset + Length(chunk);
end;

procedure OnLoad;
begin
  Offset := 0;
end;

procedure OnReceive;
var
  rest: string;
begin
  rest := RD;
  while Length(rest) > 0 do
  begin
    DumpLine(Copy(rest, 1, BytesPerLine));
    Delete(rest, 1, BytesPerLine);
  end;
  RD := '';
end;

end.
