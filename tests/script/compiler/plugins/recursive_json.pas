// Checks that a received line is balanced JSON-like text: brackets and
// braces nest properly outside strings; written recursively.
var
  Text: string;
  At: Integer;

function Skip(closing: Char): Boolean;
var
  c: Char;
begin
  Result := False;
  while At <= Length(Text) do
  begin
    c := Text[At];
    At := At + 1;
    if c = closing then
    begin
      Result := True;
      exit;
    end;
    case c of
      '{': if not Skip('}') then exit;
      '[': if not Skip(']') then exit;
      '"':
        begin
          while (At <= Length(Text)) and (Text[At] <> '"') do
          begin
            if Text[At] = '\' then
              At := At + 1;
            At := At + 1;
          end;
          At := At + 1;
        end;
      '}', ']': exit;
    end;
  end;
  Result := closing = #0;
end;

function Balanced(const s: string): Boolean;
begin
  Text := s;
  At := 1;
  Result := Skip(#0);
end;

procedure OnReceive;
begin
  if Pos('{', RD) = 0 then
    exit;
  if not Balanced(Trim(RD)) then
    AddErr('Unbalanced message: ' + Trim(RD));
end;
