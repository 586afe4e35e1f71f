{ A vending machine reports coin values in cents; the totals are kept as
  currency and 64-bit counts. }
var
  Total: Currency;
  Coins: Int64;

function CentsToMoney(cents: Integer): Currency;
begin
  Result := cents;
  Result := Result / 100;
end;

procedure OnLoad;
begin
  Total := 0;
  Coins := 0;
end;

procedure OnReceive;
var
  cents: Integer;
begin
  if Copy(RD, 1, 5) <> 'COIN ' then
    exit;
  cents := StrToIntDef(Trim(Copy(RD, 6, 10)), 0);
  if cents <= 0 then
  begin
    AddErr('Bad coin line: ' + RD);
    exit;
  end;
  Total := Total + CentsToMoney(cents);
  Coins := Coins + 1;
  UpdMsg(Format('%d coins, total %s', [Coins, FloatToStr(Total)]));
  SetV('total', FloatToStr(Total));
end;
