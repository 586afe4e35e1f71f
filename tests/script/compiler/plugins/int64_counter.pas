// Totals received bytes in a 64-bit counter and reports in kB and MB.
var
  Total: Int64;
  Blocks: Int64;

function Scaled(n: Int64): string;
begin
  if n >= 1048576 then
    Result := Format('%.2f MB', [n / 1048576.0])
  else if n >= 1024 then
    Result := Format('%.1f kB', [n / 1024.0])
  else
    Result := Int64ToStr(n) + ' B';
end;

procedure OnLoad;
begin
  Total := StrToInt64(GetV('total_bytes'));
  Blocks := 0;
end;

procedure OnReceive;
begin
  Total := Total + Length(RD);
  Blocks := Blocks + 1;
  if Blocks mod 100 = 0 then
  begin
    SetV('total_bytes', Int64ToStr(Total));
    UpdMsg('Received ' + Scaled(Total));
  end;
end;
