// The runtime's own functions as scripts call them: texts, numbers with
// their math errors, lengths and bounds, exceptions, Variants and their
// arrays, late-bound calls and notification variables.
#include <gtest/gtest.h>

#include <stdexcept>

#include "exec_test_support.h"
#include "script_host_support.h"

namespace script::runtime {
namespace {

using testing::ScriptHost;

// Runs a main block and answers the log, or the error that stopped it.
std::string RunLog(const std::string& source, const ScriptHost::Declare& declare = {}) {
    ScriptHost host;
    if (!host.Load(source, declare)) return "compile: " + host.Messages;
    if (!host.Run()) return host.Log + "error: " + host.ErrorText();
    return host.Log;
}

TEST(builtins, text_functions_with_their_edges) {
    EXPECT_EQ(RunLog(R"(
var s, t: string; i: Integer; big: Int64;
begin
  big := 12345678901;
  Print(IntToStr(big) + ' ' + Int64ToStr(-big) + ' ' + IntToStr(-5));
  Print(IntToStr(StrToInt('42')) + ' ' + IntToStr(StrToInt('$1F')) + ' ' + IntToStr(StrToInt('4x2')) + ' ' +
        IntToStr(StrToIntDef('zz', 7)) + ' ' + IntToStr(StrToInt64('-9000000000')));
  s := 'abc';
  Print(IntToStr(Pos('c', s)) + IntToStr(Pos('x', s)) + IntToStr(Pos('', s)));
  Print(Copy(s, 2, 10) + '|' + Copy(s, 0, 2) + '|' + Copy(s, 4, 1) + '|' + Copy(s, 2, -1) + '|');
  t := 'abcdef'; Delete(t, 2, 3); Print(t);
  t := 'abcdef'; Delete(t, 5, 100); Print(t);
  t := 'abcdef'; Delete(t, 0, 2); Delete(t, 7, 1); Print(t);
  t := 'ad'; Insert('bc', t, 2); Insert('<', t, -5); Insert('>', t, 100); Print(t);
  Print(StrGet(s, 1) + StrGet2(s, 3));
  StrSet('X', 2, s); Print(s);
  Print(UpperCase('abc' + #196 + 'z') + ' ' + LowerCase('ABC' + #196 + 'Z'));
  Print(AnsiUpperCase('abc' + #228) + ' ' + AnsiLowerCase('ABC' + #196));
  Print('[' + Trim(#9'  in  '#13#10) + '][' + Trim('') + ']');
  t := 'ab';
  Print('[' + Padl(t, 5) + '][' + Padr(t, 4) + '][' + Padr('abcdef', 3) + ']');
  t := '7'; Print(Padz(t, 3) + ' ' + Replicate('x', 3) + '[' + StringOfChar('y', 0) + ']');
  SetLength(t, 3); Print(IntToStr(Length(t)) + IntToStr(Ord(t[3])));
  Print(FloatToStr(StrToFloat('2.5')) + ' ' + FloatToStr(StrToFloat(' -1e3 ')));
end.)"),
              "12345678901 -12345678901 -5\n"
              "42 31 -1 7 -9000000000\n"
              "300\n"
              "bc|ab|||\n"
              "aef\n"
              "abcd\n"
              "abcdef\n"
              "<abcd>\n"
              "ac\n"
              "aXc\n"
              "ABC\xC4Z abc\xC4z\n"
              "ABC\xC4 abc\xE4\n"
              "[in][]\n"
              "[   ab][ab  ][abcdef]\n"
              "007 xxx[]\n"
              "30\n"
              "2.500000000000 -1000.000000000000\n");
    // Characters outside the text are a custom error with that text.
    EXPECT_EQ(RunLog("var s: string; begin s := 'abc'; Print(StrGet(s, 4)); end."),
              "error: Out of string range");
    EXPECT_EQ(RunLog("var s: string; begin s := 'abc'; StrSet('x', 0, s); end."), "error: Out of string range");
    EXPECT_EQ(RunLog("begin Print(FloatToStr(StrToFloat('two'))); end."), "error: Exception: Invalid float");
    EXPECT_EQ(RunLog("begin Print(IntToStr(StrToInt64('1x'))); end."),
              "error: Exception: '1x' is not a valid integer value");
    // Growing beyond what a value may hold is running out of memory.
    EXPECT_EQ(RunLog("var s: string; begin s := Padl('', 2000000000); end."), "error: Out Of Memory");
}

TEST(builtins, numbers_report_nan_infinity_and_overflow_as_math_errors) {
    EXPECT_EQ(RunLog(R"(
var e: Extended;
begin
  Print(IntToStr(Round(2.5)) + ' ' + IntToStr(Round(3.5)) + ' ' + IntToStr(Round(-2.5)) + ' ' +
        IntToStr(Trunc(-2.7)) + ' ' + IntToStr(Trunc(2.7)));
  Print(FloatToStr(Int(-2.7)) + ' ' + FloatToStr(Abs(-1.5)) + ' ' + FloatToStr(Sqrt(16)));
  Print(FloatToStr(Sin(0)) + ' ' + FloatToStr(Cos(0)) + ' ' + FloatToStr(Pi));
  e := 3000000000.4;
  Print(IntToStr(Round(e)));
end.)"),
              "2 4 -2 -2 2\n-2.000000000000 1.500000000000 4.000000000000\n"
              "0.000000000000 1.000000000000 3.141592653590\n"
              "-1294967296\n");
    EXPECT_EQ(RunLog("begin Print(FloatToStr(Sqrt(-1))); end."), "error: Math error");
    EXPECT_EQ(RunLog("var e: Extended; begin e := 1e300; e := e * e; Print(IntToStr(Round(e * e))); end."),
              "error: Math error");
    EXPECT_EQ(RunLog("var e: Extended; begin e := 1e30; Print(IntToStr(Round(e))); end."), "error: Math error");
    EXPECT_EQ(RunLog("var e: Extended; begin e := -1e19; Print(IntToStr(Trunc(e))); end."), "error: Math error");
}

TEST(builtins, lengths_bounds_steps_and_sizes_by_type) {
    EXPECT_EQ(RunLog(R"(
type TRec = record a: Byte; b: Int64; end;
var s: string; da: array of Word; sa: array[3..7] of Char; v: Variant;
  b: Byte; si: ShortInt; w: Word; sm: SmallInt; c: Cardinal; i: Integer; i64: Int64; r: TRec; p, q: PChar;
begin
  s := 'four'; v := 12345; p := 'xy';
  SetArrayLength(da, 3); SetLength(da, 6);
  Print(IntToStr(Length(s)) + IntToStr(Length(da)) + IntToStr(Length(sa)) + IntToStr(Length(v)) +
        IntToStr(GetArrayLength(da)));
  Print(IntToStr(Low(b)) + ' ' + IntToStr(High(b)) + ' ' + IntToStr(Low(si)) + ' ' + IntToStr(High(si)));
  Print(IntToStr(Low(w)) + ' ' + IntToStr(High(w)) + ' ' + IntToStr(Low(sm)) + ' ' + IntToStr(High(sm)));
  Print(IntToStr(High(c)) + ' ' + IntToStr(Low(i)) + ' ' + IntToStr(High(i)));
  Print(IntToStr(Low(s)) + ' ' + IntToStr(High(s)) + ' ' + IntToStr(Low(da)) + ' ' + IntToStr(High(da)) + ' ' +
        IntToStr(Low(sa)) + ' ' + IntToStr(High(sa)));
  b := 255; Inc(b); si := -128; Dec(si); i64 := 4294967295; Inc(i64); i := 10; Dec(i);
  Print(IntToStr(b) + ' ' + IntToStr(si) + ' ' + IntToStr(i64) + ' ' + IntToStr(i));
  Print(IntToStr(SizeOf(b)) + IntToStr(SizeOf(r)) + IntToStr(SizeOf(s)) + IntToStr(SizeOf(v)) + IntToStr(SizeOf(sa)));
  SetArrayLength(da, 0);
  Print(IntToStr(Length(da)) + IntToStr(Ord(Assigned(p))) + IntToStr(Ord(Assigned(q))));
end.)"),
              "46556\n0 255 -128 127\n0 65535 -32768 32767\n4294967295 -2147483648 2147483647\n"
              "1 4 0 5 3 7\n0 127 4294967296 9\n198165\n010\n");
}

TEST(builtins, exceptions_raised_read_and_named_by_the_script) {
    EXPECT_EQ(RunLog(R"(
begin
  try
    RaiseException(erOutOfRange, 'ignored');
  except
    Print(IntToStr(Ord(ExceptionType)) + ' [' + ExceptionParam + '] ' + ExceptionToString(ExceptionType, ExceptionParam));
  end;
  Print(ExceptionToString(erCouldNotCallProc, '') + '/' + ExceptionToString(erCouldNotCallProc, 'abc') + '/' +
        ExceptionToString(erCannotImport, 'Name'#13'rest') + '/' + ExceptionToString(erCustomError, 'own'));
  RaiseLastException;
  Print('nothing raised outside an except block');
  RaiseException(erCustomError, 'final');
end.)"),
              "10 [ignored] Out Of Range\n"
              "Could not call proc/Could not call proc (abc)/Cannot Import Name/own\n"
              "nothing raised outside an except block\n"
              "error: final");
}

TEST(builtins, a_host_exception_raised_again_by_the_script_is_handed_over_once) {
    ScriptHost host;
    host.exec.RegisterHostFunction(+[] { throw std::runtime_error("device gone"); }, "DEVICE", cdRegister);
    ASSERT_TRUE(host.Load(R"(
begin
  try
    try
      Device;
    except
      Print('first ' + ExceptionParam);
      RaiseLastException;
    end;
  except
    Print('second ' + ExceptionParam);
    RaiseLastException;
  end;
end.)",
                          [](compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure Device"); }))
        << host.Messages;
    EXPECT_FALSE(host.Run());
    EXPECT_EQ(host.Log, "first device gone\nsecond device gone\n");
    // The host's own exception object reaches it once; then the error text.
    EXPECT_THROW(host.exec.RaiseCurrentError(), std::runtime_error);
    try {
        host.exec.RaiseCurrentError();
        ADD_FAILURE() << "no exception";
    } catch (const EPSException& e) {
        EXPECT_EQ(e.Message, "Exception: device gone");
    }
}

Variant MakeArray(std::int32_t n) {
    Variant v = Variant::Array(0, n - 1);
    for (std::int32_t i = 0; i < n; ++i) v.SetElement(i, Variant::Integer(i * 10));
    return v;
}

// A late-bound object: member "Sum" adds its arguments, "Last" is a
// property that remembers what is put into it.
class Adder final : public IPSDispatch {
public:
    void AddRef() noexcept override { ++refs; }
    void Release() noexcept override { --refs; }
    bool GetMemberId(std::string_view name, std::int32_t& id) override {
        if (name == "Sum") id = 1;
        else if (name == "Last") id = 2;
        else return false;
        return true;
    }
    Variant Invoke(std::int32_t id, bool property_put, std::vector<Variant>& args) override {
        if (property_put) {
            last = args.back();
            return Variant();
        }
        if (id == 2 || id == 0) return last;
        std::int64_t sum = 0;
        for (const Variant& a : args) sum += a.ToInt64();
        return Variant::Int64(sum);
    }
    Variant last;
    int refs = 0;
};

Adder* g_adder = nullptr;
IPSInterface* GetAdder(bool real) { return real ? g_adder : nullptr; }

TEST(builtins, variants_their_arrays_and_late_bound_calls) {
    Adder adder;
    g_adder = &adder;
    const auto declare = [](compiler::TPSPascalCompiler& c) {
        c.AddFunctionByDecl("function MakeArray(n: Integer): Variant");
        c.AddFunctionByDecl("function GetAdder(real: Boolean): IDispatch");
    };
    auto run = [&](const std::string& source) {
        ScriptHost host;
        host.exec.RegisterHostFunction(MakeArray, "MAKEARRAY", cdRegister);
        host.exec.RegisterHostFunction(GetAdder, "GETADDER", cdRegister);
        if (!host.Load(source, declare)) return "compile: " + host.Messages;
        if (!host.Run()) return host.Log + "error: " + host.ErrorText();
        return host.Log;
    };
    EXPECT_EQ(run(R"(
var v, w: Variant; d: IDispatch;
begin
  Print(IntToStr(Ord(VarIsEmpty(v))) + IntToStr(VarType(v)) + IntToStr(Ord(VarIsNull(Null))) + IntToStr(VarType(Null)));
  v := 5; Print(IntToStr(VarType(v)));
  v := Unassigned; Print(IntToStr(Ord(VarIsEmpty(v))));
  v := MakeArray(3);
  Print(IntToStr(v[2]));
  v[1] := 'one';
  w := v;
  w[0] := 'changed';
  Print(v[1] + ' ' + IntToStr(v[0]) + ' ' + w[0]);
  d := GetAdder(True);
  Print(IntToStr(IDispatchInvoke(d, False, 'Sum', [1, 2, 39])));
  IDispatchInvoke(d, True, 'Last', ['stored']);
  Print(IDispatchInvoke(d, False, '', []));
  v := MakeArray(2);
  Print(v[2]);
end.)"),
              "1011\n3\n1\n20\none 0 changed\n42\nstored\nerror: Out Of Range");
    EXPECT_EQ(run("var v: Variant; begin v := 1; v[0] := 2; end."), "error: Type Mismatch");
    EXPECT_EQ(run("var d: IDispatch; begin d := GetAdder(True); IDispatchInvoke(d, False, 'Nope', []); end."),
              "error: Exception: Unknown method");
    EXPECT_EQ(run("var d: IDispatch; begin d := GetAdder(False); IDispatchInvoke(d, False, 'Sum', []); end."),
              "error: Variant is null, cannot invoke");
    EXPECT_EQ(adder.refs, 0);
}

TEST(builtins, notification_variables_reach_the_host_callbacks) {
    ScriptHost host;
    host.Vars = {{"Watched", "!NotificationVariant"}};
    std::vector<std::string> events;
    host.exec.OnSetNotificationVariant = [&](TPSExec&, const std::string& name, const Variant& v) {
        events.push_back("set " + name + "=" + v.ToString());
    };
    host.exec.OnGetNotificationVariant = [&](TPSExec&, const std::string& name) {
        events.push_back("get " + name);
        return Variant::Integer(41);
    };
    ASSERT_TRUE(host.Load("var x: Integer; begin Watched := 'abc'; x := Watched + 1; Print(IntToStr(x)); end."))
        << host.Messages;
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(host.Log, "42\n");
    EXPECT_EQ(events, (std::vector<std::string>{"set WATCHED=abc", "get WATCHED"}));
    // Without a callback the call fails.
    host.exec.OnGetNotificationVariant = nullptr;
    EXPECT_FALSE(host.Run());
    EXPECT_EQ(host.ErrorText(), "Could not call proc");
}

}  // namespace
}  // namespace script::runtime
