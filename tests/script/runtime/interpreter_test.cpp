// The instruction loop, run on compiled scripts: values of every kind,
// control flow, calls, exceptions in every frame order, errors with their
// procedure and position, stop, pause and the step hook, and damaged code
// that must end in an error.
#include <gtest/gtest.h>

#include <stdexcept>

#include "exec_test_support.h"
#include "script_host_support.h"

namespace script::runtime {
namespace {

using testing::PutByte;
using testing::PutLong;
using testing::ScriptHost;
using testing::WriteImage;

TEST(interpreter, scripts_compute_with_every_kind_of_value_and_statement) {
    ScriptHost host;
    ASSERT_TRUE(host.Load(R"(
type TRec = record Name: string; Count: Integer; Values: array[0..2] of Byte; end;
  TColor = (Red, Green, Blue);
var b: Byte; si: ShortInt; w: Word; sm: SmallInt; c: Cardinal; i: Integer; i64: Int64;
  cu: Currency; d: Double; e: Extended; s: string; ch: Char; st: set of Byte; da: array of string;
  sa: array[1..5] of Integer; r, r2: TRec; col: TColor; k, n: Integer; ok: Boolean;
function Fact(x: Int64): Int64;
begin
  if x <= 1 then Result := 1 else Result := x * Fact(x - 1);
end;
procedure Swap(var a, b: Integer);
var t: Integer;
begin
  t := a; a := b; b := t;
end;
function Describe(c: TColor): string;
begin
  case c of
    Red: Result := 'red';
    Green, Blue: Result := 'not red';
  else
    Result := '?';
  end;
end;
begin
  b := 250; b := b + 10; Print('byte ' + IntToStr(b));
  si := 127; si := si + 1; Print('shortint ' + IntToStr(si));
  w := 0; w := w - 1; Print('word ' + IntToStr(w));
  sm := -32768; sm := sm - 1; Print('smallint ' + IntToStr(sm));
  c := 4000000000; c := c + 500000000; Print('cardinal ' + IntToStr(c));
  i := 2147483647; i := i + 1; Print('integer ' + IntToStr(i));
  i64 := 9000000000; i64 := i64 * 1000; Print('int64 ' + IntToStr(i64));
  cu := 10; cu := cu / 3; Print('currency ' + FloatToStr(cu));
  d := 1; d := d / 8; Print('double ' + FloatToStr(d));
  e := 2; e := Sqrt(e) * Sqrt(e); Print('extended ' + FloatToStr(e));
  i := -7; Print('div mod ' + IntToStr(i div 2) + ' ' + IntToStr(i mod 2));
  s := 'Hello'; ch := s[1]; s := s + ', ' + 'World'; s[1] := 'J';
  Print(s + ' ' + ch + ' ' + IntToStr(Length(s)));
  st := [1, 3, 5]; st := st + [7]; st := st - [3];
  b := 5; ok := b in st; b := 7; ok := ok and (b in st); b := 3; if b in st then ok := False;
  if ok then Print('sets ok');
  SetArrayLength(da, 3); da[0] := 'a'; da[1] := 'b'; da[2] := da[0] + da[1];
  Print('dyn ' + da[2] + ' ' + IntToStr(GetArrayLength(da)) + ' ' + IntToStr(High(da)));
  for k := 1 to 5 do sa[k] := k * k;
  n := 0; for k := 5 downto 1 do n := n * 10 + sa[k] mod 10;
  Print('static ' + IntToStr(n));
  r.Name := 'rec'; r.Count := 2; r.Values[2] := 9; r2 := r; r2.Name := 'copy';
  Print(r.Name + IntToStr(r.Count + r.Values[2]) + ' ' + r2.Name + IntToStr(r2.Values[2]));
  n := 0; k := 0;
  while k < 10 do begin k := k + 1; if k mod 2 = 0 then Continue; n := n + k; if k > 7 then Break; end;
  Print('while ' + IntToStr(n) + ' ' + IntToStr(k));
  n := 0; repeat n := n + 3; until n > 10; Print('repeat ' + IntToStr(n));
  Print('fact ' + IntToStr(Fact(20)));
  k := 1; n := 2; Swap(k, n); Print('swap ' + IntToStr(k) + IntToStr(n));
  col := Green; Print(Describe(col) + ' ' + Describe(Red));
end.)")) << host.Messages;
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(host.Log,
              "byte 4\nshortint -128\nword 65535\nsmallint 32767\ncardinal 205032704\ninteger -2147483648\n"
              "int64 9000000000000\ncurrency 3.333300000000\ndouble 0.125000000000\nextended 2.000000000000\n"
              "div mod -3 -1\nJello, World H 12\nsets ok\ndyn ab 3 2\nstatic 56941\nrec11 copy9\n"
              "while 25 9\nrepeat 12\nfact 2432902008176640000\nswap 21\nnot red red\n");
    // A finished run leaves nothing on the run stack.
    EXPECT_EQ(host.exec.Status(), TPSStatus::isLoaded);
}

TEST(interpreter, a_long_chain_of_operators_at_one_level_compiles_and_computes) {
    // Generated tables write sums of many terms on one line: 100,000 terms
    // of constants (folded), of a variable (computed into the destination)
    // and of a comparison's operand (computed into a temporary).
    std::string constants = "0";
    std::string variables = "n";
    for (int i = 1; i < 100000; ++i) {
        constants += "+1";
        variables += i % 2 == 0 ? "+n" : "-n+n+n";
    }
    std::string elements = "a[1]";
    for (int i = 1; i < 1000; ++i) elements += " + a[1]";
    ScriptHost host;
    ASSERT_TRUE(host.Load("var x, y, n: Integer; a: array[0..1] of Integer;\nbegin\n  n := 2; a[1] := 3;\n  x := " +
                          constants + ";\n  y := " + variables + ";\n  Print(IntToStr(x) + ' ' + IntToStr(y));\n" +
                          "  if " + variables + " = 200000 then Print('compared');\n  x := " + elements +
                          ";\n  Print(IntToStr(x));\nend."))
        << host.Messages;
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(host.Log, "99999 200000\ncompared\n3000\n");
}

TEST(interpreter, errors_go_to_the_script_frames_in_every_order) {
    ScriptHost host;
    host.exec.RegisterHostFunction(+[](const std::string& s) { throw std::runtime_error(s); }, "HOSTFAIL", cdRegister);
    ASSERT_TRUE(host.Load(R"(
var n: Integer;
procedure Fail(code: Integer);
begin
  if code = 1 then n := n div (n - n);
  if code = 2 then RaiseException(erCustomError, 'custom');
  if code = 3 then HostFail('from the host');
  Print('no fail');
end;
function Guarded(code: Integer): string;
begin
  Result := 'start';
  try
    try
      Fail(code);
      Result := 'ok';
    finally
      Print('inner finally ' + IntToStr(code));
    end;
  except
    Result := 'caught ' + ExceptionToString(ExceptionType, ExceptionParam);
  end;
end;
procedure Reraise;
begin
  try
    Fail(2);
  except
    Print('reraising ' + ExceptionParam);
    RaiseLastException;
  end;
end;
procedure ExitInFinally;
begin
  try
    Print('before exit');
    Exit;
    Print('never');
  finally
    Print('finally on exit');
  end;
end;
begin
  n := 5;
  Print(Guarded(0));
  Print(Guarded(1));
  Print(Guarded(2));
  Print(Guarded(3));
  try
    Reraise;
  except
    Print('outer got ' + ExceptionParam + ' type ' + IntToStr(Ord(ExceptionType)));
  end;
  ExitInFinally;
  try
    try
      Fail(1);
    except
      Print('in except ' + IntToStr(ExceptionProc) + ' ' + IntToStr(Ord(ExceptionPos < 100000)));
      Fail(2);
    end;
  except
    Print('second ' + ExceptionParam);
  end;
  try
    Print('try body');
  finally
    Print('finally without error');
  end;
  try
    try
      Fail(2);
    finally
      Print('finally first');
    end;
  except
    Print('then except ' + ExceptionParam);
  end;
  Print('after handled errors ' + IntToStr(Ord(ExceptionType)));
end.)",
                          [](compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure HostFail(const s: string)"); }))
        << host.Messages;
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    const std::uint32_t fail = host.exec.GetProcNo("fail");
    ASSERT_NE(fail, kNoProc);
    EXPECT_EQ(host.Log,
              "no fail\ninner finally 0\nok\n"
              "inner finally 1\ncaught divide by Zero\n"
              "inner finally 2\ncaught custom\n"
              "inner finally 3\ncaught Exception: from the host\n"
              "reraising custom\nouter got custom type 24\n"
              "before exit\nfinally on exit\n"
              "in except " +
                  std::to_string(fail) +
                  " 1\nsecond custom\n"
                  "try body\nfinally without error\n"
                  "finally first\nthen except custom\n"
                  "after handled errors 0\n");
}

TEST(interpreter, an_unhandled_error_stops_the_run_at_its_procedure_and_position) {
    ScriptHost host;
    ASSERT_TRUE(host.Load(R"(
var k: Integer;
procedure Inner;
begin
  k := k div k;
end;
begin
  k := 0;
  try
    Inner;
  finally
    Print('finally runs');
  end;
  Print('not reached');
end.)")) << host.Messages;
    EXPECT_FALSE(host.Run());
    EXPECT_EQ(host.Log, "finally runs\n");
    EXPECT_EQ(host.exec.Status(), TPSStatus::isPaused);
    EXPECT_EQ(host.exec.LastErrorCode(), ErDivideByZero);
    EXPECT_EQ(host.exec.LastErrorProc(), host.exec.GetProcNo("INNER"));
    // The position lies inside Inner's code, after the division's operands.
    const auto& inner = AsInternal(*host.exec.GetProc(host.exec.GetProcNo("INNER")));
    EXPECT_GT(host.exec.LastErrorPos(), 0u);
    EXPECT_LT(host.exec.LastErrorPos(), inner.Code.size());
    try {
        host.exec.RaiseCurrentError();
        ADD_FAILURE() << "no exception";
    } catch (const EPSException& e) {
        EXPECT_EQ(e.Message, "divide by Zero");
        EXPECT_EQ(e.ProcNo, host.exec.GetProcNo("INNER"));
        EXPECT_EQ(e.ProcPos, host.exec.LastErrorPos());
        EXPECT_EQ(e.Exec, &host.exec);
    }
    host.exec.Stop();
    EXPECT_EQ(host.exec.Status(), TPSStatus::isLoaded);
    // A host exception object raised in a host function is raised itself,
    // once; a second raise is the error's text.
    host.exec.RegisterHostFunction(+[] { throw std::out_of_range("range"); }, "BOOM", cdStdCall);
    ASSERT_TRUE(host.Load("begin Boom; end.", [](compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure Boom"); }))
        << host.Messages;
    EXPECT_FALSE(host.Run());
    EXPECT_EQ(host.ErrorText(), "Exception: range");
    EXPECT_THROW(host.exec.RaiseCurrentError(), std::out_of_range);
    EXPECT_THROW(host.exec.RaiseCurrentError(), EPSException);
}

TEST(interpreter, stop_and_pause_act_after_the_current_instruction_and_a_paused_run_resumes) {
    ScriptHost host;
    host.Vars = {{"Count", "Integer"}, {"Text", "string"}};
    int calls = 0;
    struct Ticker {
        TPSExec* exec;
        int* calls;
        bool stop;
        void Tick() {
            if (++*calls == 2) {
                if (stop) exec->Stop();
                else exec->Pause();
            }
        }
    } ticker{&host.exec, &calls, false};
    host.exec.RegisterHostMethod(&ticker, &Ticker::Tick, cdRegister, "TICK");
    ASSERT_TRUE(host.Load(R"(
var i: Integer;
begin
  Count := 0;
  for i := 1 to 5 do begin
    Count := Count + 1;
    Tick;
    Count := Count + 100;
  end;
  Text := 'done';
end.)",
                          [](compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure Tick"); }))
        << host.Messages;
    // Paused inside the second Tick: the instruction after it has not run.
    EXPECT_TRUE(host.Run());
    EXPECT_EQ(host.exec.Status(), TPSStatus::isPaused);
    EXPECT_EQ(host.VarInt("Count"), 102);
    // Resumed, it runs to the end and finishes: loaded again.
    EXPECT_TRUE(host.Run());
    EXPECT_EQ(host.VarInt("Count"), 505);
    EXPECT_EQ(host.VarText("Text"), "done");
    EXPECT_EQ(host.exec.Status(), TPSStatus::isLoaded);
    EXPECT_TRUE(host.Run());  // a new run from the start
    EXPECT_EQ(host.VarInt("Count"), 505);

    // Stopped: the run ends at once, and a resumed-then-finished run resets
    // the globals when asked to.
    calls = 0;
    ticker.stop = true;
    host.exec.CleanupAfterRun = true;
    EXPECT_TRUE(host.Run());
    EXPECT_EQ(host.exec.Status(), TPSStatus::isLoaded);
    EXPECT_EQ(host.VarInt("Count"), 0);  // reset with the stop's clean-up
    calls = 0;
    ticker.stop = false;
    EXPECT_TRUE(host.Run());
    EXPECT_EQ(host.exec.Status(), TPSStatus::isPaused);
    EXPECT_EQ(host.VarInt("Count"), 102);
    EXPECT_TRUE(host.Run());
    EXPECT_EQ(host.exec.Status(), TPSStatus::isLoaded);
    EXPECT_EQ(host.VarInt("Count"), 0);
    EXPECT_EQ(host.VarText("Text"), "");

    // The step hook sees every instruction and may stop the run.
    host.exec.CleanupAfterRun = false;
    calls = 100;
    int steps = 0;
    host.exec.SetOnStep([&](TPSExec&) { ++steps; });
    EXPECT_TRUE(host.Run());
    const int all_steps = steps;
    EXPECT_GT(all_steps, 5 * 6);
    steps = 0;
    host.exec.SetOnStep([&](TPSExec& e) {
        if (++steps == 10) e.Stop();
    });
    EXPECT_TRUE(host.Run());
    EXPECT_EQ(steps, 10);
    EXPECT_EQ(host.exec.Status(), TPSStatus::isLoaded);
    host.exec.SetOnStep({});
    steps = 0;
    EXPECT_TRUE(host.Run());
    EXPECT_EQ(steps, 0);
}

// A script whose procedure P the test replaces with code of its own; G is
// an exported Integer global (number 0), L a string global, R a record of
// an Integer and a string (the last global).
class HandWritten : public ::testing::Test {
protected:
    void SetUp() override {
        auto compiled = compiler::testing::CompileScript(
            "var L: string; R: record A: Integer; B: string; end; procedure P; begin end; begin P; Two(1, 2); end.", [](compiler::TPSPascalCompiler& c) {
                c.OnUses = [](compiler::TPSPascalCompiler& comp, const std::string&) {
                    comp.AddUsedVariableN("G", "Integer");
                    comp.AddFunctionByDecl("procedure Two(a, b: Integer)");
                    return true;
                };
            });
        ASSERT_TRUE(compiled.Ok) << compiled.AllMessages();
        image_ = compiled.Parsed;
        for (std::uint32_t n = 0; n < image_.Procs.size(); ++n)
            if (image_.Procs[n].Name == "TWO") two_ = n;
        exec_.RegisterHostFunction(+[](std::int32_t, std::int32_t) {}, "TWO", cdRegister);
        for (std::uint32_t n = 0; n < image_.Types.size(); ++n) {
            if (image_.Types[n].BaseType == btS32 && s32_ == kNoProc) s32_ = n;
            if (image_.Types[n].BaseType == btPointer && pointer_ == kNoProc) pointer_ = n;
        }
    }
    bool LoadWith(const std::string& code, bool keep_pointer_type = true) {
        auto image = image_;
        for (auto& p : image.Procs)
            if (p.ExportName == "P") p.Code = code;
        if (!keep_pointer_type) {
            for (auto& t : image.Types)
                if (t.BaseType == btPointer) t.BaseType = btU32;
        }
        return exec_.LoadImage(WriteImage(image));
    }
    std::uint8_t RunCode() {
        exec_.Run();
        return exec_.LastErrorCode();
    }
    static std::string Var(std::uint32_t address) { return testing::CodeVar(address); }
    static std::string Op(std::uint8_t op) { return testing::CodeOp(op); }
    static std::string Long(std::uint32_t v) { return testing::CodeLong(v); }

    test_support::PSImage image_;
    testing::TestExec exec_;
    std::uint32_t s32_ = kNoProc;
    std::uint32_t pointer_ = kNoProc;
    std::uint32_t two_ = kNoProc;
};

TEST_F(HandWritten, damaged_code_ends_in_an_error_and_never_leaves_its_frame) {
    const std::uint32_t local0 = LocalVarAddress(0);
    // Pops of PopGoto and Pop2Goto stay in the frame: with one item of its
    // own, popping two is error 11 and the caller's return address stays.
    ASSERT_TRUE(LoadWith(Op(opPushType) + Long(s32_) + Op(opPop2Goto) + Long(0) + Op(opRet)));
    EXPECT_EQ(RunCode(), erOutOfStackRange);
    ASSERT_TRUE(LoadWith(Op(opPushType) + Long(s32_) + Op(opPopGoto) + Long(0) + Op(opPopGoto) + Long(0) + Op(opRet)));
    EXPECT_EQ(RunCode(), erOutOfStackRange);
    ASSERT_TRUE(LoadWith(Op(opPushType) + Long(s32_) + Op(opPushType) + Long(s32_) + Op(opPop2Goto) + Long(0) + Op(opRet)));
    EXPECT_EQ(RunCode(), ErNoError);
    // Plain pops refuse the return address too.
    ASSERT_TRUE(LoadWith(Op(opPop) + Op(opRet)));
    EXPECT_EQ(RunCode(), erOutOfStackRange);
    // A host function whose parameters are not all in the caller's frame is
    // not called: the return address below is never taken for one.
    ASSERT_TRUE(LoadWith(Op(opCall) + Long(two_) + Op(opRet)));
    EXPECT_EQ(RunCode(), erCouldNotCallProc);
    ASSERT_TRUE(LoadWith(Op(opPushType) + Long(s32_) + Op(opCall) + Long(two_) + Op(opPop) + Op(opRet)));
    EXPECT_EQ(RunCode(), erCouldNotCallProc);
    ASSERT_TRUE(LoadWith(Op(opPushType) + Long(s32_) + Op(opPushType) + Long(s32_) + Op(opCall) + Long(two_) +
                         Op(opPop) + Op(opPop) + Op(opRet)));
    EXPECT_EQ(RunCode(), ErNoError);
    // PushVar in an image without a Pointer type is error 2.
    ASSERT_TRUE(LoadWith(Op(opPushVar) + Var(0) + Op(opPop) + Op(opRet), false));
    EXPECT_EQ(RunCode(), erInvalidType);
    // A jump beyond the code, an unknown opcode, a call of no procedure,
    // a return address used as a value, short code.
    ASSERT_TRUE(LoadWith(Op(opGoto) + Long(1000) + Op(opRet)));
    EXPECT_EQ(RunCode(), ErOutOfRange);
    ASSERT_TRUE(LoadWith(Op(10) + Op(opRet)));
    EXPECT_EQ(RunCode(), erInvalidOpcode);
    ASSERT_TRUE(LoadWith(Op(opCall) + Long(1000) + Op(opRet)));
    EXPECT_EQ(RunCode(), erOutOfProcRange);
    ASSERT_TRUE(LoadWith(Op(opAssign) + Var(0) + Var(kStackBaseAddress) + Op(opRet)));
    EXPECT_EQ(RunCode(), erInvalidType);
    ASSERT_TRUE(LoadWith(Op(opCalc) + Op(caAdd) + Var(0)));
    EXPECT_EQ(RunCode(), ErOutOfRange);
    EXPECT_EQ(exec_.LastErrorPos(), 7u);  // where the second operand should start
    ASSERT_TRUE(LoadWith(Op(opAssign) + std::string("\x01", 1) + Long(s32_) + Long(1) + Var(0) + Op(opRet)));
    EXPECT_EQ(RunCode(), erInvalidOpcodeParameter);  // a constant destination
    // A jump into the middle of an instruction runs the bytes found there.
    const std::string inc = Op(opInc) + Var(0);
    ASSERT_TRUE(LoadWith(Op(opGoto) + Long(1) + Op(opNop) + inc + Op(opRet)));
    EXPECT_EQ(RunCode(), ErNoError);
    EXPECT_EQ(LoadAs<std::int32_t>(ValueOfTypedValue(exec_.FindGlobalVar("G"))), 1);
    // A local pointer that owns a copy releases it when pointed elsewhere.
    ASSERT_TRUE(LoadWith(Op(opPushType) + Long(pointer_) + Op(opSetPtrToCopy) + Var(local0) + Var(1) +
                         Op(opSetPtr) + Var(local0) + Var(0) + Op(opAssign) + Var(local0) + std::string("\x01", 1) +
                         Long(s32_) + Long(42) + Op(opPop) + Op(opRet)));
    EXPECT_EQ(RunCode(), ErNoError);
    EXPECT_EQ(LoadAs<std::int32_t>(ValueOfTypedValue(exec_.FindGlobalVar("G"))), 42);
    // Pointed into its own copy, it keeps a copy of the element instead.
    ASSERT_TRUE(LoadWith(Op(opPushType) + Long(pointer_) + Op(opSetPtrToCopy) + Var(local0) + Var(1) +
                         Op(opSetPtr) + Var(local0) + Var(local0) + Op(opPop) + Op(opRet)));
    EXPECT_EQ(RunCode(), ErNoError);
}

TEST(interpreter, runaway_recursion_and_deep_host_nesting_are_errors_a_script_can_catch) {
    ScriptHost host;
    // Again runs the script procedure Recurse, which calls Again: each level
    // is a run inside a host function.
    struct Again {
        TPSExec* exec;
        void Call() { MakeScriptMethod(*exec, exec->GetProcNo("RECURSE")).Call({}); }
    } again{&host.exec};
    host.exec.RegisterHostMethod(&again, &Again::Call, cdRegister, "AGAIN");
    ASSERT_TRUE(host.Load(R"(
var depth: Integer;
procedure Down;
begin
  depth := depth + 1;
  Down;
end;
procedure Recurse;
begin
  depth := depth + 1;
  Again;
end;
begin
  depth := 0;
  try
    Down;
  except
    Print('caught ' + ExceptionToString(ExceptionType, '') + ' deep ' + IntToStr(Ord(depth > 10000)));
  end;
  depth := 0;
  try
    Recurse;
  except
    Print('host nesting ' + ExceptionParam + ' at ' + IntToStr(depth));
  end;
end.)",
                          [](compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure Again"); }))
        << host.Messages;
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(host.Log, "caught Out Of Stack Range deep 1\nhost nesting Out Of Stack Range at " +
                            std::to_string(TPSExec::kMaxRunNesting) + "\n");
    EXPECT_EQ(host.exec.Status(), TPSStatus::isLoaded);
}

TEST(interpreter, a_return_waiting_for_a_finally_block_belongs_to_its_own_procedure) {
    ScriptHost host;
    ASSERT_TRUE(host.Load(R"(
procedure Helper;
begin
  try
    Print('helper body');
  finally
    Print('helper finally');
  end;
  Print('helper end');
end;
procedure Leave;
begin
  try
    Exit;
  finally
    Helper;
  end;
  Print('never');
end;
procedure LeaveThenFail;
var z: Integer;
begin
  z := 0;
  try
    try
      Exit;
    finally
      z := 1 div z;
    end;
  except
    Print('error replaces the exit');
  end;
  Print('after the statement');
end;
begin
  Leave;
  LeaveThenFail;
  Print('main end');
end.)")) << host.Messages;
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(host.Log,
              "helper body\nhelper finally\nhelper end\n"
              "error replaces the exit\nafter the statement\nmain end\n");
}

TEST(interpreter, break_and_continue_leave_try_statements_after_running_their_blocks) {
    ScriptHost host;
    ASSERT_TRUE(host.Load(R"(
var i, j, n: Integer; s: string;
begin
  // try..finally: Continue and Break run the finally block and leave.
  n := 0;
  for i := 1 to 5 do
    try
      if i = 2 then Continue;
      if i = 4 then Break;
      n := n + 10;
    finally
      n := n + 1;
    end;
  Print('finally ' + IntToStr(n) + ' ' + IntToStr(i));
  // try..except: no error, the loop is left at once.
  s := '';
  i := 0;
  while i < 10 do begin
    i := i + 1;
    try
      if i = 3 then Break;
      s := s + IntToStr(i);
    except
      s := s + 'E';
    end;
  end;
  Print('except ' + s + ' ' + IntToStr(i));
  // try..except..finally and nested statements: every finally block runs
  // once, innermost first, then the loop is left.
  s := '';
  for i := 1 to 3 do
    try
      try
        try
          if i = 2 then Break;
          s := s + 'a';
        finally
          s := s + 'f';
        end;
      except
        s := s + 'E';
      end;
    finally
      s := s + 'F';
    end;
  Print('nested ' + s + ' ' + IntToStr(i));
  // Break inside an except block and inside a finally block.
  s := '';
  for i := 1 to 3 do
    try
      RaiseException(erCustomError, 'x');
    except
      s := s + ExceptionParam;
      if i = 2 then Break;
    end;
  for j := 1 to 3 do
    try
      s := s + 'b';
    finally
      s := s + 'f';
      if j = 1 then Break;
    end;
  Print('handlers ' + s + ' ' + IntToStr(i) + ' ' + IntToStr(j));
  // Case statements push their value: a jump out of one inside a try
  // statement runs the finally blocks on the stack they were made for, and
  // the values pushed outside the try statements are popped as before.
  s := '';
  for i := 1 to 4 do
    case i of
      0: s := s + 'zero';
    else
      try
        case i of
          3: try
               case i of 3: Break; end;
             finally s := s + 'f'; end;
          2: try
               case i of 2: Continue; end;
             except s := s + 'E'; end;
        end;
        s := s + IntToStr(i);
      finally s := s + 'F'; end;
    end;
  Print('case ' + s + ' ' + IntToStr(i));
  // Nothing is left behind: later errors find the right frames.
  try
    try
      n := n div (n - n);
    finally
      Print('last finally');
    end;
  except
    Print('caught ' + ExceptionToString(ExceptionType, ExceptionParam));
  end;
  n := n div (n - n);
end.)")) << host.Messages;
    EXPECT_FALSE(host.Run());
    EXPECT_EQ(host.Log,
              "finally 24 4\nexcept 12 3\nnested afFfF 2\nhandlers xxbf 2 1\ncase 1FFfF 3\nlast finally\n"
              "caught divide by Zero\n");
    EXPECT_EQ(host.exec.LastErrorCode(), ErDivideByZero);
    EXPECT_EQ(host.exec.LastErrorProc(), host.exec.MainProcNo());
}

TEST_F(HandWritten, an_element_whose_type_changes_between_runs_is_checked_at_every_run) {
    // A record field chosen by a variable may be of another type every time
    // the instruction runs: what the first run saw must not be taken for
    // the second.
    const std::uint32_t local0 = LocalVarAddress(0);
    const auto r = static_cast<std::uint32_t>(image_.Vars.size() - 1);
    ASSERT_EQ(image_.Types[image_.Vars[r].TypeNo].BaseType, btRecord);
    std::string field;
    PutByte(field, okElementIndex);
    PutLong(field, r);
    PutLong(field, local0);
    const std::string assign = Op(opAssign) + Var(0) + field;
    const std::string push = Op(opPushType) + Long(s32_);
    const std::string inc = Op(opInc) + Var(local0);
    // Field B at once: the error of the general form.
    ASSERT_TRUE(LoadWith(push + inc + assign + Op(opPop) + Op(opRet)));
    const std::uint8_t expected = RunCode();
    ASSERT_NE(expected, ErNoError);
    // Field A, then the same instruction again with field B.
    const auto loop_end = static_cast<std::uint32_t>(push.size() + assign.size() + inc.size() + 5);
    ASSERT_TRUE(LoadWith(push + assign + inc + Op(opGoto) + Long(static_cast<std::uint32_t>(push.size()) - loop_end)));
    EXPECT_EQ(RunCode(), expected);
    EXPECT_EQ(exec_.LastErrorPos(), push.size() + assign.size());
}

TEST(interpreter, loops_that_run_fast_still_report_their_errors_where_they_happen) {
    ScriptHost host;
    host.Vars = {{"Sum", "Integer"}, {"Last", "Integer"}};
    ASSERT_TRUE(host.Load(R"(
var a: array of Integer; i: Integer;
begin
  SetArrayLength(a, 3);
  for i := 0 to 2 do a[i] := i + 1;
  Sum := 0;
  for i := 0 to 5 do begin
    Last := i;
    Sum := Sum + a[i];
  end;
end.)")) << host.Messages;
    EXPECT_FALSE(host.Run());
    EXPECT_EQ(host.exec.LastErrorCode(), ErOutOfRange);
    EXPECT_EQ(host.VarInt("Sum"), 6);
    EXPECT_EQ(host.VarInt("Last"), 3);
    const std::uint32_t pos = host.exec.LastErrorPos();
    // Run again, the same error at the same place.
    host.exec.Stop();
    EXPECT_FALSE(host.Run());
    EXPECT_EQ(host.exec.LastErrorPos(), pos);
    EXPECT_EQ(host.VarInt("Sum"), 6);
    // Stepped, every instruction runs in its general form: the same result.
    host.exec.Stop();
    int steps = 0;
    host.exec.SetOnStep([&](TPSExec&) { ++steps; });
    EXPECT_FALSE(host.Run());
    EXPECT_EQ(host.exec.LastErrorPos(), pos);
    EXPECT_EQ(host.VarInt("Sum"), 6);
    EXPECT_GT(steps, 20);
}

TEST(interpreter, inside_an_except_block_the_error_reads_its_own_procedure_and_position) {
    ScriptHost host;
    host.Vars = {{"ErrPos", "Cardinal"}, {"ErrProc", "Cardinal"}, {"ErrCode", "Integer"}};
    ASSERT_TRUE(host.Load(R"(
procedure Fail;
var z: Integer;
begin
  z := 0;
  z := z div z;
end;
begin
  try
    Fail;
  except
    ErrPos := ExceptionPos;
    ErrProc := ExceptionProc;
    ErrCode := Ord(ExceptionType);
  end;
  Fail;
end.)")) << host.Messages;
    EXPECT_FALSE(host.Run());
    // The unhandled second error is the same division at the same place.
    EXPECT_EQ(host.VarInt("ErrCode"), ErDivideByZero);
    EXPECT_EQ(host.VarInt("ErrProc"), host.exec.LastErrorProc());
    EXPECT_EQ(host.VarInt("ErrPos"), host.exec.LastErrorPos());
    EXPECT_NE(host.VarInt("ErrPos"), 0xFFFFFFFE);
}

TEST(interpreter, an_append_grows_only_its_own_string_and_every_other_holder_keeps_its_text) {
    const char* source = R"(
type TRec = record Name: string; Count: Integer; end;
var s, t, u: string; a: array of string; r: TRec; i: Integer; p: PChar; w: AnsiString;
procedure AddBang(var v: string); begin v := v + '!'; end;
procedure Twice(var v: string); begin v := v + v; end;
begin
  s := 'ab'; s := s + 'c'; t := s; s := s + 'd';
  Print(s + ' ' + t);
  // Grown far past its first block, with copies taken on the way.
  s := '';
  for i := 1 to 300 do begin
    s := s + Chr(48 + i mod 10);
    if i = 7 then t := s;
    if i = 150 then u := s;
  end;
  t := t + '-'; s := s + '+';
  Print(IntToStr(Length(s)) + ' ' + t + ' ' + IntToStr(Length(u)) + ' ' + Copy(u, 146, 5) + ' ' + Copy(s, 297, 5));
  p := s; Print(IntToStr(Length(p)));
  // An array element and the variable it came from.
  SetArrayLength(a, 2);
  s := 'e'; s := s + 'l'; a[0] := s; s := s + 's';
  a[1] := a[0]; a[1] := a[1] + 'y'; a[0] := a[0] + a[0];
  Print(s + ' ' + a[0] + ' ' + a[1]);
  // A record field.
  t := 'f'; t := t + 'i'; r.Name := t; r.Name := r.Name + 'r'; t := t + 't';
  Print(r.Name + ' ' + t);
  // A var parameter, and the string appended to itself.
  u := t; AddBang(t); Twice(u);
  Print(t + ' ' + u);
  s := 'xy'; s := s + 'z'; u := s; s := s + s;
  Print(s + ' ' + u);
  for i := 1 to 6 do s := s + s;
  Print(IntToStr(Length(s)) + ' ' + Copy(s, 379, 6) + ' ' + u);
  // Strings of another string type mix with these.
  w := s; s := s + '.'; w := w + t;
  Print(IntToStr(Length(s)) + ' ' + IntToStr(Length(w)) + ' ' + Copy(w, 380, 10));
end.)";
    const std::string expected =
        "abcd abc\n"
        "301 1234567- 150 67890 7890+\n"
        "301\n"
        "els elel ely\n"
        "fir fit\n"
        "fit! fitfit\n"
        "xyzxyz xyz\n"
        "384 xyzxyz xyz\n"
        "385 388 yzxyzfit!\n";
    for (const TPSFormTiers tiers : {TPSFormTiers::All, TPSFormTiers::GeneralAndQuick, TPSFormTiers::GeneralOnly}) {
        ScriptHost host;
        host.exec.Forms = tiers;
        ASSERT_TRUE(host.Load(source)) << host.Messages;
        ASSERT_TRUE(host.Run()) << host.ErrorText();
        EXPECT_EQ(host.Log, expected) << "tiers " << static_cast<int>(tiers);
    }
}

}  // namespace
}  // namespace script::runtime
