// SLIP framing (RFC 1055) of outgoing data and unframing of received data.
const
  SlipEnd = #$C0;
  SlipEsc = #$DB;
  SlipEscEnd = #$DC;
  SlipEscEsc = #$DD;

var
  Pending: string;

function SlipEncode(const data: string): string;
var
  i: Integer;
begin
  Result := SlipEnd;
  for i := 1 to Length(data) do
    case data[i] of
      SlipEnd: Result := Result + SlipEsc + SlipEscEnd;
      SlipEsc: Result := Result + SlipEsc + SlipEscEsc;
    else
      Result := Result + data[i];
    end;
  Result := Result + SlipEnd;
end;

function SlipDecode(const frame: string; var data: string): Boolean;
var
  i: Integer;
  escaped: Boolean;
begin
  data := '';
  escaped := False;
  Result := True;
  for i := 1 to Length(frame) do
  begin
    if escaped then
    begin
      if frame[i] = SlipEscEnd then
        data := data + SlipEnd
      else if frame[i] = SlipEscEsc then
        data := data + SlipEsc
      else
        Result := False;
      escaped := False;
    end
    else if frame[i] = SlipEsc then
      escaped := True
    else if frame[i] <> SlipEnd then
      data := data + frame[i];
  end;
  if escaped then
    Result := False;
end;

procedure OnSend;
begin
  TD := SlipEncode(TD);
end;

procedure OnReceive;
var
  p: Integer;
  frame, data: string;
begin
  Pending := Pending + RD;
  RD := '';
  p := Pos(SlipEnd, Copy(Pending, 2, Length(Pending)));
  while p > 0 do
  begin
    frame := Copy(Pending, 1, p + 1);
    Delete(Pending, 1, p + 1);
    if SlipDecode(frame, data) and (data <> '') then
      RD := RD + data + #13#10
    else if data <> '' then
      AddErr('Bad SLIP escape');
    p := Pos(SlipEnd, Copy(Pending, 2, Length(Pending)));
  end;
end;

begin
  Pending := '';
end.
