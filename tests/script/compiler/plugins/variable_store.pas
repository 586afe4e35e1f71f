{ Counts the lines sent and received across plug-in reloads through the
  host's variable store. }
var
  TxLines, RxLines: Integer;

function LoadCounter(const name: string): Integer;
begin
  Result := StrToIntDef(GetV(name), 0);
end;

procedure SaveCounters;
begin
  SetV('tx_lines', IntToStr(TxLines));
  SetV('rx_lines', IntToStr(RxLines));
end;

procedure OnLoad;
begin
  TxLines := LoadCounter('tx_lines');
  RxLines := LoadCounter('rx_lines');
  AddMsg(Format('Counters restored: %d sent, %d received', [TxLines, RxLines]));
end;

procedure OnSend;
begin
  Inc(TxLines);
  SaveCounters;
end;

procedure OnReceive;
var
  i: Integer;
begin
  for i := 1 to Length(RD) do
    if RD[i] = #10 then
      Inc(RxLines);
  SaveCounters;
end;

procedure OnReceive2;
begin
  if Uppercase(Trim(RD2)) = 'CLEAR' then
  begin
    TxLines := 0;
    RxLines := 0;
    SaveCounters;
    Send2('cleared'#13#10);
  end;
end;
