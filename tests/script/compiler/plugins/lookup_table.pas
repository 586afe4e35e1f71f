// Translates device error codes into texts with a table of records built
// once, looked up by binary search.
type
  TErrorEntry = record
    Code: Word;
    Text: string;
  end;

var
  Table: array[0..7] of TErrorEntry;
  Used: Integer;

procedure AddEntry(code: Word; const text: string);
begin
  Table[Used].Code := code;
  Table[Used].Text := text;
  Used := Used + 1;
end;

function Describe(code: Word): string;
var
  first, last, mid: Integer;
begin
  first := 0;
  last := Used - 1;
  while first <= last do
  begin
    mid := (first + last) div 2;
    if Table[mid].Code = code then
    begin
      Result := Table[mid].Text;
      exit;
    end;
    if Table[mid].Code < code then
      first := mid + 1
    else
      last := mid - 1;
  end;
  Result := 'unknown error $' + IntToHex(code, 4);
end;

procedure OnLoad;
begin
  Used := 0;
  AddEntry($0001, 'illegal function');
  AddEntry($0002, 'illegal data address');
  AddEntry($0003, 'illegal data value');
  AddEntry($0004, 'device failure');
  AddEntry($0005, 'acknowledge');
  AddEntry($0006, 'device busy');
  AddEntry($0008, 'memory parity error');
  AddEntry($000B, 'gateway target failed');
end;

procedure OnReceive;
begin
  if (Length(RD) >= 3) and ((Ord(RD[2]) and $80) <> 0) then
    AddErr('Exception: ' + Describe(Ord(RD[3])));
end;
