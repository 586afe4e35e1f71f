// Host routines called from compiled scripts through the typed invoker:
// parameter order and Self under every convention, var parameters and
// results of every kind, safecall, signatures that do not fit, open arrays,
// "array of const", interface methods, and script procedures handed to the
// host as methods.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "exec_test_support.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_access.h"
#include "script_host_support.h"

namespace script::runtime {
namespace {

using testing::ScriptHost;

// What the routines received, in order.
std::string g_seen;

void Five(std::int32_t a, const std::string& b, double c, bool d, std::int64_t e) {
    g_seen += std::to_string(a) + "|" + b + "|" + std::to_string(c) + "|" + (d ? "T" : "F") + "|" + std::to_string(e) + ";";
}

struct Counter {
    std::string name;
    std::int32_t Add(std::int32_t a, std::int32_t b) {
        g_seen += name + ":" + std::to_string(a) + "-" + std::to_string(b) + ";";
        return a * 10 + b;
    }
    std::string Describe(const std::string& what) const { return name + " " + what; }
};

TEST(host_calls, parameters_arrive_in_order_and_methods_get_their_object_under_every_convention) {
    ScriptHost host;
    Counter left{"left"}, right{"right"};
    const char* const kConventions[] = {"REG", "PAS", "CDE", "STD"};
    for (std::uint8_t cc = cdRegister; cc <= cdStdCall; ++cc) {
        ASSERT_NE(host.exec.RegisterHostFunction(Five, std::string("FIVE") + kConventions[cc], cc), nullptr);
        host.exec.RegisterHostMethod(cc % 2 == 0 ? &left : &right, &Counter::Add, cc, std::string("ADD") + kConventions[cc]);
    }
    host.exec.RegisterHostMethod(&right, &Counter::Describe, cdRegister, "DESCRIBE");
    // An unknown convention registers nothing; the names are upper-cased.
    EXPECT_EQ(host.exec.RegisterHostFunction(Five, "FIVEBAD", 5), nullptr);
    EXPECT_EQ(host.exec.LookupRegisteredFunction("fivebad"), nullptr);
    EXPECT_EQ(host.exec.LookupRegisteredFunction("fiveReg")->Name, "FIVEREG");
    ASSERT_TRUE(host.Load(R"(
var n: Integer;
begin
  FiveReg(1, 'a', 1.5, True, 10000000000);
  FivePas(2, 'b', 2.5, False, -1);
  FiveCde(3, 'c', 3.5, True, 3);
  FiveStd(4, 'd', 4.5, False, 4);
  n := AddReg(1, 2) + AddPas(3, 4) + AddCde(5, 6) + AddStd(7, 8);
  Print(IntToStr(n) + ' ' + Describe('counter'));
end.)",
                          [&](compiler::TPSPascalCompiler& c) {
                              for (const char* cc : kConventions) {
                                  c.AddFunctionByDecl(std::string("procedure Five") + cc +
                                                      "(a: Integer; const b: string; c: Double; d: Boolean; e: Int64)");
                                  c.AddFunctionByDecl(std::string("function Add") + cc + "(a, b: Integer): Integer");
                              }
                              c.AddFunctionByDecl("function Describe(const what: string): string");
                          }))
        << host.Messages;
    g_seen.clear();
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(g_seen,
              "1|a|1.500000|T|10000000000;2|b|2.500000|F|-1;3|c|3.500000|T|3;4|d|4.500000|F|4;"
              "left:1-2;right:3-4;left:5-6;right:7-8;");
    EXPECT_EQ(host.Log, std::to_string(12 + 34 + 56 + 78) + " right counter\n");
}

struct Point {
    std::int32_t X;
    std::int32_t Y;
};

std::int64_t BigProduct(std::int64_t a, std::int64_t b) { return a * b; }
PSCurrency Price(PSCurrency base) { return PSCurrency{base.Scaled * 3}; }
long double Third(long double v) { return v / 3; }
float Half(float v) { return v / 2; }
std::string Repeat(const std::string& s, std::int32_t n) {
    std::string out;
    for (std::int32_t i = 0; i < n; ++i) out += s;
    return out;
}
Point Mirror(const Point& p) { return Point{p.Y, p.X}; }
Variant Pair(const Variant& a, const Variant& b) {
    Variant v = Variant::Array(0, 1);
    v.SetElement(0, a);
    v.SetElement(1, b);
    return v;
}
char Initial(const std::string& s) { return s.empty() ? '?' : s[0]; }
bool IsEven(std::int32_t v) { return v % 2 == 0; }
const char* Greeting() { return "hello"; }
std::int32_t Length0(const char* s) { return static_cast<std::int32_t>(std::string_view(s).size()); }
void Update(std::int32_t& n, std::string& s, double& d, Variant& v, Point& p, std::uint8_t& b) {
    n += 1;
    s += "!";
    d *= 2;
    v = Variant::String("changed");
    p.X += 100;
    b = 255;
}

TEST(host_calls, var_parameters_are_written_back_and_results_of_every_kind_arrive) {
    ScriptHost host;
    host.Vars = {{"I64", "Int64"}, {"Cur", "Currency"}, {"Ext", "Extended"}, {"Sng", "Single"}, {"Str", "string"},
                 {"PX", "Integer"},  {"PY", "Integer"},   {"V", "Variant"},     {"Ch", "Char"},     {"Ok", "Boolean"},
                 {"N", "Integer"},   {"D", "Double"},     {"B", "Byte"},        {"L", "Integer"}};
    host.exec.RegisterHostFunction(BigProduct, "BIGPRODUCT", cdRegister);
    host.exec.RegisterHostFunction(Price, "PRICE", cdPascal);
    host.exec.RegisterHostFunction(Third, "THIRD", cdCdecl);
    host.exec.RegisterHostFunction(Half, "HALF", cdStdCall);
    host.exec.RegisterHostFunction(Repeat, "REPEATTEXT", cdRegister);
    host.exec.RegisterHostFunction(Mirror, "MIRROR", cdRegister);
    host.exec.RegisterHostFunction(Pair, "PAIR", cdStdCall);
    host.exec.RegisterHostFunction(Initial, "INITIAL", cdRegister);
    host.exec.RegisterHostFunction(IsEven, "ISEVEN", cdPascal);
    host.exec.RegisterHostFunction(Greeting, "GREETING", cdRegister);
    host.exec.RegisterHostFunction(Length0, "LENGTH0", cdRegister);
    host.exec.RegisterHostFunction(Update, "UPDATE", cdRegister);
    ASSERT_TRUE(host.Load(R"(
var p: TPoint; s: string; vv: Variant; pc: PChar;
begin
  I64 := BigProduct(3000000000, 3);
  Cur := Price(1.25);
  Ext := Third(1);
  Sng := Half(5);
  Str := RepeatText('ab', 3);
  p.X := 1; p.Y := 2;
  p := Mirror(p);
  PX := p.X; PY := p.Y;
  V := Pair('one', 2);
  Ch := Initial('xyz');
  Ok := IsEven(4);
  L := Length0(pc) + Length0('four');
  pc := Greeting; s := pc; Str := Str + s;
  N := 41; s := 'wow'; D := 1.5; vv := 1; B := 3;
  Update(N, s, D, vv, p, B);
  Str := Str + ' ' + s + ' ' + vv + ' ' + IntToStr(p.X);
end.)",
                          [](compiler::TPSPascalCompiler& c) {
                              c.AddTypeS("TPoint", "record X, Y: Integer; end");
                              for (const char* decl :
                                   {"function BigProduct(a, b: Int64): Int64", "function Price(base: Currency): Currency",
                                    "function Third(v: Extended): Extended", "function Half(v: Single): Single",
                                    "function RepeatText(const s: string; n: Integer): string",
                                    "function Mirror(const p: TPoint): TPoint", "function Pair(a, b: Variant): Variant",
                                    "function Initial(const s: string): Char", "function IsEven(v: Integer): Boolean",
                                    "function Greeting: PChar", "function Length0(s: PChar): Integer",
                                    "procedure Update(var n: Integer; var s: string; var d: Double; var v: Variant; "
                                    "var p: TPoint; var b: Byte)"})
                                  c.AddFunctionByDecl(decl);
                          }))
        << host.Messages;
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(host.VarInt("I64"), 9000000000);
    EXPECT_EQ(LoadAs<std::int64_t>(ValueOfTypedValue(host.Var("Cur"))), 37500);  // 3.75
    EXPECT_NEAR(static_cast<double>(host.VarReal("Ext")), 1.0 / 3, 1e-15);
    EXPECT_EQ(host.VarReal("Sng"), 2.5);
    EXPECT_EQ(host.VarInt("PX"), 2);
    EXPECT_EQ(host.VarInt("PY"), 1);
    Variant pair;
    ASSERT_TRUE(PSValueToVariant(ValueOfTypedValue(host.Var("V")), TypeOfTypedValue(host.Var("V")), pair));
    ASSERT_TRUE(pair.IsArray());
    EXPECT_EQ(pair.GetElement(0).ToString(), "one");
    EXPECT_EQ(pair.GetElement(1).ToInt32(), 2);
    EXPECT_EQ(host.VarText("Ch"), "x");
    EXPECT_EQ(host.VarInt("Ok"), 1);
    EXPECT_EQ(host.VarInt("L"), 4);  // a nil PChar arrives as an empty text
    EXPECT_EQ(host.VarInt("N"), 42);
    EXPECT_EQ(host.VarReal("D"), 3.0);
    EXPECT_EQ(host.VarInt("B"), 255);
    EXPECT_EQ(host.VarText("Str"), "abababhello wow! changed 102");
}

HResult SafeDivide(std::int32_t a, std::int32_t b, std::int32_t& result) {
    if (b == 0) return static_cast<HResult>(0x80004005u);
    result = a / b;
    return 0;
}
HResult SafeTouch(std::string& s) {
    s += " touched";
    return 1;  // success codes are not failures
}
std::int32_t NotSafe(std::int32_t a) { return a; }

TEST(host_calls, safecall_takes_the_result_as_its_last_parameter_and_raises_failure_codes) {
    ScriptHost host;
    host.Vars = {{"Q", "Integer"}, {"S", "string"}};
    host.exec.RegisterHostFunction(SafeDivide, "SAFEDIVIDE", cdSafeCall);
    host.exec.RegisterHostFunction(SafeTouch, "SAFETOUCH", cdSafeCall);
    // Under safecall a routine answers an HResult: any other fails.
    host.exec.RegisterHostFunction(NotSafe, "NOTSAFE", cdSafeCall);
    ASSERT_TRUE(host.Load(R"(
begin
  Q := SafeDivide(17, 5);
  S := 'text';
  SafeTouch(S);
  try
    Q := SafeDivide(1, 0);
  except
    S := S + ' / ' + ExceptionParam;
  end;
  Q := Q + NotSafe(1);
end.)",
                          [](compiler::TPSPascalCompiler& c) {
                              c.AddFunctionByDecl("function SafeDivide(a, b: Integer): Integer");
                              c.AddFunctionByDecl("procedure SafeTouch(var s: string)");
                              c.AddFunctionByDecl("function NotSafe(a: Integer): Integer");
                          }))
        << host.Messages;
    EXPECT_FALSE(host.Run());
    EXPECT_EQ(host.VarInt("Q"), 3);
    EXPECT_EQ(host.VarText("S"), "text touched / Safecall routine failed with code $80004005");
    EXPECT_EQ(host.ErrorText(), "Could not call proc");
}

void TakesVar(std::int32_t& n) { ++n; }
void TakesValue(std::int32_t n) { g_seen += std::to_string(n); }
std::int32_t TakesTwo(std::int32_t a, std::int32_t) { return a; }
void TakesText(const std::string&) {}
std::int32_t Answer() { return 42; }

TEST(host_calls, a_signature_that_does_not_fit_the_import_fails_with_error_17) {
    // Each import is registered with a routine that differs from its
    // declaration in one way.
    const struct {
        const char* decl;
        const char* script;
        void (*reg)(TPSExec&);
    } kCases[] = {
        {"procedure Host(n: Integer)", "Host(1);", [](TPSExec& e) { e.RegisterHostFunction(TakesVar, "HOST", cdRegister); }},
        {"procedure Host(var n: Integer)", "Host(G);",
         [](TPSExec& e) { e.RegisterHostFunction(TakesValue, "HOST", cdRegister); }},
        {"procedure Host(n: Integer)", "Host(1);", [](TPSExec& e) { e.RegisterHostFunction(TakesTwo, "HOST", cdRegister); }},
        {"procedure Host(n: Integer)", "Host(1);", [](TPSExec& e) { e.RegisterHostFunction(TakesText, "HOST", cdRegister); }},
        {"procedure Host", "Host;", [](TPSExec& e) { e.RegisterHostFunction(Answer, "HOST", cdRegister); }},
        {"function Host: Integer", "G := Host;", [](TPSExec& e) { e.RegisterHostFunction(TakesVar, "HOST", cdRegister); }},
        {"function Host: Int64", "G := Host;", [](TPSExec& e) { e.RegisterHostFunction(Answer, "HOST", cdRegister); }},
        {"procedure Host(var n: Int64)", "Host(W);",
         [](TPSExec& e) { e.RegisterHostFunction(TakesVar, "HOST", cdRegister); }},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.decl);
        ScriptHost host;
        c.reg(host.exec);
        ASSERT_TRUE(host.Load(std::string("var G: Integer; W: Int64; begin ") + c.script + " end.",
                              [&](compiler::TPSPascalCompiler& comp) { comp.AddFunctionByDecl(c.decl); }))
            << host.Messages;
        EXPECT_FALSE(host.Run());
        EXPECT_EQ(host.ErrorText(), "Could not call proc");
    }
}

std::string JoinInts(const PSOpenArray<std::int32_t>& values) {
    std::string out = "high " + std::to_string(values.High()) + ":";
    for (std::int32_t v : values.Items) out += " " + std::to_string(v);
    return out;
}
void DoubleAll(PSOpenArray<std::int32_t>& values) {
    for (auto& v : values.Items) v *= 2;
}
std::string JoinTexts(const PSOpenArray<std::string>& values) {
    std::string out;
    for (const auto& v : values.Items) out += v + ",";
    return out;
}
std::string Describe(const PSOpenArray<TPSVarRec>& args) {
    std::string out;
    for (const TPSVarRec& a : args.Items) {
        switch (a.VType) {
        case vtInteger: out += "i" + std::to_string(a.VInteger); break;
        case vtChar: out += std::string("c") + a.VChar; break;
        case vtExtended: out += "e" + std::to_string(static_cast<double>(a.VExtended)); break;
        case vtAnsiString: out += "s" + a.VString; break;
        case vtVariant: out += "v" + a.VVariant.ToString(); break;
        case vtInt64: out += "l" + std::to_string(a.VInt64); break;
        default: out += "?" + std::to_string(a.VType); break;
        }
        out += " ";
    }
    return out;
}
void Bump(PSOpenArray<TPSVarRec>& args) {
    for (TPSVarRec& a : args.Items) {
        if (a.VType == vtInteger) a.VInteger += 1;
        if (a.VType == vtAnsiString) a.VString += "+";
    }
}

TEST(host_calls, open_arrays_and_array_of_const_arrive_element_by_element) {
    ScriptHost host;
    host.exec.RegisterHostFunction(JoinInts, "JOININTS", cdRegister);
    host.exec.RegisterHostFunction(DoubleAll, "DOUBLEALL", cdRegister);
    host.exec.RegisterHostFunction(JoinTexts, "JOINTEXTS", cdStdCall);
    host.exec.RegisterHostFunction(Describe, "DESCRIBE", cdRegister);
    host.exec.RegisterHostFunction(Bump, "BUMP", cdRegister);
    ASSERT_TRUE(host.Load(R"(
var a: array of Integer; i: Integer; s: string; v: Variant; c: Char; e: Extended; big: Int64;
begin
  SetArrayLength(a, 3);
  for i := 0 to 2 do a[i] := i + 1;
  Print(JoinInts(a));
  Print(JoinInts([7, 8]));
  DoubleAll(a);
  Print(JoinInts(a));
  Print(JoinTexts(['x', 'yz', '']));
  s := 'str'; v := 'var'; c := 'q'; e := 0.5; big := 12345678901; i := 5;
  Print(Describe([i, s, v, c, e, big]));
end.)",
                          [](compiler::TPSPascalCompiler& c) {
                              c.AddFunctionByDecl("function JoinInts(const values: array of Integer): string");
                              c.AddFunctionByDecl("procedure DoubleAll(var values: array of Integer)");
                              c.AddFunctionByDecl("function JoinTexts(const values: array of string): string");
                              c.AddFunctionByDecl("function Describe(const args: array of const): string");
                          }))
        << host.Messages;
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(host.Log,
              "high 2: 1 2 3\nhigh 1: 7 8\nhigh 2: 2 4 6\nx,yz,,\n"
              "i5 sstr vvar cq e0.500000 l12345678901 \n");

    // As a var parameter (no script can write one: the host's own array),
    // each entry goes back into the value its element points at.
    const TPSTypeRec* const_array = nullptr;
    for (std::uint32_t n = 0; n < host.exec.TypeCount(); ++n) {
        const TPSTypeRec* t = host.exec.GetType(n);
        if (t->BaseType == btArray && AsArray(t).ArrayType->BaseType == btPointer) const_array = t;
    }
    ASSERT_NE(const_array, nullptr);
    const TPSTypeRec* int_type = host.exec.GetType(0);
    for (std::uint32_t n = 0; int_type->BaseType != btS32; ++n) int_type = host.exec.GetType(n);
    testing::Value number(int_type);
    number.Set(std::int32_t{5});
    testing::Value array(const_array);
    SetDynArrayLength(array.Addr(), const_array, 2);
    auto* elements = LoadAs<PSPointerValue*>(array.Addr());
    StoreAs(&elements[0], PSPointerValue{number.Addr(), int_type, 0});
    const THostParam param{array.Addr(), const_array, true};
    ASSERT_TRUE(host_detail::MakeFunctionRoutine(Bump)->Invoke(host.exec, nullptr, nullptr, std::span(&param, 1), cdRegister));
    EXPECT_EQ(number.Get<std::int32_t>(), 6);
}

// An interface that scripts reach through its method table.
class Accumulator final : public IPSInterface {
public:
    void AddRef() noexcept override { ++refs; }
    void Release() noexcept override { --refs; }
    const TPSHostRoutine* MethodAt(std::uint32_t slot) override {
        static const auto add = MakeInterfaceMethod(&Accumulator::Add);
        static const auto total = MakeInterfaceMethod(&Accumulator::Total);
        if (slot == 3) return add.get();
        if (slot == 4) return total.get();
        return nullptr;
    }
    void Add(std::int32_t v) { sum += v; }
    std::int32_t Total() const { return sum; }

    std::int32_t sum = 0;
    int refs = 0;
};

Accumulator* g_accumulator = nullptr;
IPSInterface* MakeAccumulator(bool real) { return real ? g_accumulator : nullptr; }

TEST(host_calls, interface_methods_are_called_through_their_slot_and_nil_is_error_21) {
    Accumulator acc;
    g_accumulator = &acc;
    ScriptHost host;
    host.Vars = {{"Total", "Integer"}};
    host.exec.RegisterHostFunction(MakeAccumulator, "MAKEACCUMULATOR", cdRegister);
    ASSERT_TRUE(host.Load(R"(
var a: IAcc;
begin
  a := MakeAccumulator(True);
  a.Add(5); a.Add(7);
  Total := a.Total;
  try
    a.Missing;
  except
    Print(ExceptionToString(ExceptionType, ExceptionParam));
  end;
  a := MakeAccumulator(False);
  a.Add(1);
end.)",
                          [](compiler::TPSPascalCompiler& c) {
                              compiler::TPSInterface* acc = c.AddInterface(
                                  c.FindInterface("IUnknown"), "{11111111-2222-3333-4444-555555555555}", "IAcc");
                              c.AddInterfaceMethod(acc, "procedure Add(v: Integer)", cdRegister);
                              c.AddInterfaceMethod(acc, "function Total: Integer", cdStdCall);
                              c.AddInterfaceMethod(acc, "procedure Missing", cdRegister);
                              c.AddFunctionByDecl("function MakeAccumulator(real: Boolean): IAcc");
                          }))
        << host.Messages;
    EXPECT_FALSE(host.Run());
    EXPECT_EQ(host.VarInt("Total"), 12);
    EXPECT_EQ(host.Log, "Could not call proc\n");
    EXPECT_EQ(host.exec.LastErrorCode(), erNullPointerException);
    host.exec.Stop();
    host.exec.Clear();
    EXPECT_EQ(acc.refs, 0);  // every reference the script took is given back
}

// A host routine that calls the script back through the method it got.
void Each(std::int32_t count, TPSMethod callback) {
    for (std::int32_t i = 1; i <= count; ++i) callback.Call({Variant::Integer(i)});
}
std::int32_t Apply(TPSMethod f, std::int32_t v) { return f.Call({Variant::Integer(v)}).ToInt32(); }

TEST(host_calls, script_procedures_reach_the_host_as_methods_that_run_them_again) {
    ScriptHost host;
    host.Vars = {{"Sum", "Integer"}, {"Got", "Integer"}};
    host.exec.RegisterHostFunction(Each, "EACH", cdRegister);
    host.exec.RegisterHostFunction(Apply, "APPLY", cdRegister);
    // Stores, in the variable given, a method value of script procedure
    // TWICE made for the host: number 0 and an object.
    host.exec.RegisterFunction("STOREMETHOD", [](TPSExec& exec, TPSExternalProcRec&, TPSStack&, TPSStack& stack) {
        const TPSMethod m = MakeScriptMethod(exec, exec.GetProcNo("TWICE"));
        auto target = LoadAs<PSPointerValue>(ValueOfTypedValue(stack.ItemAt(-1)));
        StoreAs(target.Address, PSProcPtrValue{0, 0, const_cast<TPSHostRoutine*>(m.Code), m.Data});
        return true;
    });
    ASSERT_TRUE(host.Load(R"(
var f: TVarProc; n: Integer;
procedure Visit(i: Integer);
begin
  Sum := Sum + i;
  if i = 3 then Print('visited 3');
end;
function Square(v: Integer): Integer;
begin
  Result := v * v;
end;
procedure Twice(var v: Integer);
begin
  v := v * 2;
end;
procedure Fails(i: Integer);
begin
  RaiseException(erCustomError, 'stop at ' + IntToStr(i));
end;
begin
  Sum := 0;
  Each(4, @Visit);
  Got := Apply(@Square, 9);
  StoreMethod(f);
  n := 21;
  f(n);
  Print('through the host method ' + IntToStr(n));
  try
    Each(5, @Fails);
  except
    Print(ExceptionParam);
  end;
end.)",
                          [](compiler::TPSPascalCompiler& c) {
                              c.AddTypeS("TVisitor", "procedure(i: Integer)");
                              c.AddTypeS("TMapper", "function(v: Integer): Integer");
                              c.AddTypeS("TVarProc", "procedure(var v: Integer)");
                              c.AddFunctionByDecl("procedure Each(count: Integer; callback: TVisitor)");
                              c.AddFunctionByDecl("function Apply(f: TMapper; v: Integer): Integer");
                              compiler::TPSRegProc* store = c.AddFunction("procedure StoreMethod;");
                              compiler::TPSParameterDecl& p = store->Decl.AddParam();
                              p.SetName("f");
                              p.Mode = compiler::pmInOut;
                              p.AType = c.FindType("TVarProc");
                          }))
        << host.Messages;
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(host.VarInt("Sum"), 10);
    EXPECT_EQ(host.VarInt("Got"), 81);
    EXPECT_EQ(host.Log, "visited 3\nthrough the host method 42\nstop at 1\n");
    EXPECT_EQ(ScriptMethodProcNo(host.exec, MakeScriptMethod(host.exec, 3)), 3u);
    EXPECT_EQ(ScriptMethodProcNo(host.exec, TPSMethod{}), 0u);
    EXPECT_EQ(MakeScriptMethod(host.exec, 0).Code, nullptr);
}

}  // namespace
}  // namespace script::runtime
