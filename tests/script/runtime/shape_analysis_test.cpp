// Proven code: procedures whose stack shapes are proven at load run their
// proven forms, and compute, raise and report exactly as the general
// handlers do, and so do the quick forms; code whose shape cannot be proven
// keeps the general path with its errors; ticks and hooks count alike in
// every tier.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "exec_test_support.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_lifetime.h"
#include "script_host_support.h"
#include "support/form_tiers.h"

namespace script::runtime {
namespace {

using testing::Ending;
using testing::RunScript;
using testing::ScriptHost;
using testing::WriteImage;
using test_support::kEveryTier;
using test_support::RunEveryTier;
using test_support::TierName;

// A difference between the general handlers' result and another tier's.
template <class Result>
void TierDiffers(const Result& general, const Result& other, TPSFormTiers tiers) {
    ADD_FAILURE() << TierName(tiers) << " differs from the general handlers:\n" << other << "\ngeneral:\n" << general;
}

// Whether a procedure has a proven form for some entry, and whether one of
// its entries could not be proven.
bool HasProvenForm(const TPSExec& exec, std::uint32_t no) {
    for (const auto& form : AsInternal(*exec.GetProc(no)).Proven)
        if (form.Code != nullptr) return true;
    return false;
}
bool HasRefusedEntry(const TPSExec& exec, std::uint32_t no) {
    for (const auto& form : AsInternal(*exec.GetProc(no)).Proven)
        if (form.Code == nullptr) return true;
    return false;
}


TEST(shape_analysis, proven_code_computes_raises_and_reports_as_the_general_path_does) {
    struct Case {
        const char* Source;
        const char* Log;    // what the run prints
        const char* Error;  // the error that stopped it
    };
    const Case cases[] = {
        // Loops of one Calc, a bound computed at every step, temporaries,
        // elements, an insertion sort, unsigned and byte arithmetic.
        {R"(
var a: array of Integer; i, j, t, n, x, y, s: Integer; c: Cardinal; b: Byte;
begin
  n := 50;
  x := 0; for i := 1 to n do x := x + i;
  y := 0; for i := n downto 1 do y := y xor i;
  i := 0; while i < n do i := i + 3;
  s := 0; for j := 0 to n - 1 do s := s + j * 2;
  SetArrayLength(a, n);
  for j := 0 to n - 1 do a[j] := (j * 7919) mod 97;
  for i := 1 to n - 1 do begin
    t := a[i]; j := i - 1;
    while j >= 0 do begin
      if a[j] <= t then Break;
      a[j + 1] := a[j];
      j := j - 1;
    end;
    a[j + 1] := t;
  end;
  c := 4000000000; c := c div 3; c := c shr 2; c := (c + 7) mod 1000;
  b := 200; b := b + 100;
  Print(IntToStr(x) + ' ' + IntToStr(y) + ' ' + IntToStr(i) + ' ' + IntToStr(s) + ' ' + IntToStr(a[0]) + ' ' +
        IntToStr(a[n - 1]) + ' ' + IntToStr(a[25]) + ' ' + IntToStr(c) + ' ' + IntToStr(b));
  t := 0;
  try x := (y + 1) div t; except Print('div ' + ExceptionToString(ExceptionType, '')); end;
  try a[n + 1] := 1; except Print('store ' + ExceptionToString(ExceptionType, '')); end;
  s := 0;
  try for j := 0 to n do s := s + a[j]; except Print('sum ' + IntToStr(j) + ' ' + IntToStr(s)); end;
end.)",
         "1275 51 50 2450 0 95 47 340 44\ndiv divide by Zero\nstore Out Of Range\nsum 50 2327\n", "No Error"},
        // Calls: recursion, var parameters, a function's result, strings,
        // and recursion that fills the run stack.
        {R"(
function Fib(n: Integer): Integer;
begin
  if n < 2 then Result := n else Result := Fib(n - 1) + Fib(n - 2);
end;
procedure Twice(var v: Integer);
begin
  v := v * 2;
end;
function Sum(const s: string; k: Integer): Integer;
var i: Integer;
begin
  Result := 0;
  for i := 1 to Length(s) do Result := Result + Ord(s[i]) * k;
end;
function Deep(n: Integer): Integer;
begin
  if n = 0 then Result := 0 else Result := Deep(n - 1) + 1;
end;
var v: Integer; s: string;
begin
  v := 3; Twice(v); Twice(v);
  Print(IntToStr(Fib(15)) + ' ' + IntToStr(v));
  s := ''; for v := 1 to 20 do s := s + Chr(65 + v mod 26);
  Print(s + ' ' + IntToStr(Sum(s, 3)));
  try Deep(100000000); except Print('deep ' + ExceptionToString(ExceptionType, '')); end;
end.)",
         "610 12\nBCDEFGHIJKLMNOPQRSTU 4530\ndeep Out Of Stack Range\n", "No Error"},
        // Try statements left by Break, Continue and Exit, a case statement
        // inside one, and errors handled inside a loop.
        {R"(
var log: string; i, k: Integer;
procedure P(n: Integer);
var j: Integer;
begin
  for j := 1 to n do begin
    try
      case j mod 4 of
        0: Continue;
        1: log := log + 'a';
        2: if j > 6 then Break;
      else log := log + 'c';
      end;
    finally
      log := log + IntToStr(j);
    end;
  end;
  try
    if n > 3 then Exit;
    log := log + 'x';
  finally
    log := log + 'f';
  end;
end;
begin
  log := '';
  P(9); P(2);
  k := 0;
  for i := 1 to 10 do begin
    try
      if i mod 5 = 0 then RaiseException(erCustomError, 'five');
      k := k + i;
    except
      log := log + '!';
    end;
  end;
  Print(log + ' ' + IntToStr(k));
end.)",
         "a12c34a56c78a9fa12xf!! 40\n", "No Error"},
        // An error no script frame takes stops the run where it happens.
        {R"(
var a: array of Integer; i, s: Integer;
begin
  SetArrayLength(a, 10);
  s := 0;
  for i := 0 to 20 do s := s + a[i] + i;
end.)",
         "", "Out Of Range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Source);
        const auto endings = RunEveryTier(
            [&](TPSFormTiers tiers) {
                ScriptHost host;
                const Ending e = RunScript(c.Source, tiers, host);
                // Only the host of all tiers runs the main block's proven form.
                EXPECT_EQ(HasProvenForm(host.exec, host.exec.MainProcNo()), tiers == TPSFormTiers::All);
                return e;
            },
            TierDiffers<Ending>);
        EXPECT_EQ(endings[0].Log, c.Log);
        EXPECT_EQ(endings[0].Error, c.Error);
    }
}


TEST(shape_analysis, ticks_count_backward_jumps_and_calls_alike_in_both_forms_and_stop_the_run_alike) {
    const char* source = R"(
var i: Integer;
procedure Q;
begin
  x := x + 1;
end;
begin
  x := 0;
  for i := 1 to 10 do x := x + i;
  i := 0;
  while i < 5 do i := i + 1;
  for i := 1 to 3 do Q;
end.)";
    for (const TPSFormTiers tiers : kEveryTier) {
        SCOPED_TRACE(TierName(tiers));
        ScriptHost host;
        host.Vars = {{"X", "Integer"}};
        host.exec.Forms = tiers;
        ASSERT_TRUE(host.Load(source)) << host.Messages;
        // Nine jumps back in the first loop, five in the second, two in the
        // third with its three calls.
        int ticks = 0;
        host.exec.SetOnTick([&](TPSExec&) { ++ticks; }, 1);
        ASSERT_TRUE(host.Run());
        EXPECT_EQ(ticks, 19);
        EXPECT_EQ(host.VarInt("X"), 58);
        // Every fourth tick: the callback runs 4 times.
        int calls = 0;
        host.exec.SetOnTick([&](TPSExec&) { ++calls; }, 4);
        ASSERT_TRUE(host.Run());
        EXPECT_EQ(calls, 4);
        // Stopped at the seventh tick, before the first loop's body runs an
        // eighth time (a stop takes effect before the instruction a tick
        // leads to).
        ticks = 0;
        host.exec.SetOnTick(
            [&](TPSExec& e) {
                if (++ticks == 7) e.Stop();
            },
            1);
        ASSERT_TRUE(host.Run());
        EXPECT_EQ(host.exec.Status(), TPSStatus::isLoaded);
        EXPECT_EQ(host.VarInt("X"), 28);
        EXPECT_EQ(ticks, 7);
    }
}

TEST(shape_analysis, a_pointer_target_of_another_type_or_a_host_that_changes_the_stack_gets_the_general_forms) {
    const char* source = R"(
procedure Twice(var v: Integer);
var k: Integer;
begin
  for k := 1 to 3 do v := v * 2;
end;
procedure Grows;
var i, x: Integer;
begin
  x := 0;
  for i := 1 to 4 do begin
    Grow;
    x := x + i;
  end;
  G := x;
end;
procedure CallTwice;
var x: Integer;
begin
  x := 5;
  Twice(x);
  G := x;
end;
begin end.)";
    for (const TPSFormTiers tiers : kEveryTier) {
        SCOPED_TRACE(TierName(tiers));
        ScriptHost host;
        host.Vars = {{"G", "Integer"}, {"N", "Integer"}, {"D", "Double"},   {"B", "Byte"},
                     {"W", "Word"},    {"C", "Cardinal"}, {"S", "SmallInt"}, {"H", "ShortInt"},
                     {"Q", "Int64"},   {"F", "Single"},   {"E", "Extended"}};
        host.exec.Forms = tiers;
        // A host function that leaves an item more on the run stack each
        // time: the proof of the code that calls it no longer holds.
        host.exec.RegisterFunction("GROW", [](TPSExec& exec, TPSExternalProcRec&, TPSStack&, TPSStack& stack) {
            stack.PushType(exec.GetType(0));
            return true;
        });
        ASSERT_TRUE(host.Load(source, [](compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure Grow"); }))
            << host.Messages;
        TPSExec& exec = host.exec;
        const std::uint32_t twice = exec.GetProcNo("TWICE");
        // A procedure's proven form is made when it is first entered, not at
        // load.
        EXPECT_FALSE(HasProvenForm(exec, twice));
        // The host passes values of other types than the declared one: the
        // steps that expected an Integer run their general forms.
        auto run_twice = [&](const char* global, auto value) {
            const TPSTypeRec* type = TypeOfTypedValue(exec.FindGlobalVar(global));
            void* heap = CreateTypedHeapValue(type);
            bool ok = true;
            if constexpr (std::is_floating_point_v<decltype(value)>) {
                PSWriteReal(ValueOfTypedValue(heap), type, ok, value);
            } else {
                PSWriteInt(ValueOfTypedValue(heap), type, ok, value);
            }
            EXPECT_TRUE(exec.RunProc({heap}, twice));
            const long double result = PSReadReal(ValueOfTypedValue(heap), type);
            DestroyTypedHeapValue(heap);
            return result;
        };
        EXPECT_EQ(run_twice("N", 5), 40.0L);
        EXPECT_EQ(HasProvenForm(exec, twice), tiers == TPSFormTiers::All);
        // Its general form, which had not run, gave its list to the proven
        // form: the entries of other types and the proven one after them
        // run on that one list.
        EXPECT_EQ(AsInternal(*exec.GetProc(twice)).Decoded->RunsSharedList(), tiers == TPSFormTiers::All);
        EXPECT_EQ(run_twice("D", 2.5), 20.0L);
        EXPECT_EQ(run_twice("B", 100), 32.0L);  // 800 in a byte
        EXPECT_EQ(run_twice("N", -3), -24.0L);
        // Every entry passes a Pointer: one proven form serves them all. In
        // one whose target is of another type, each step that reaches the
        // target runs its general handler; the entries after it, from the
        // host or from a proven caller, run the proven steps again.
        for (const char* global : {"W", "C", "S", "H", "Q"}) EXPECT_EQ(run_twice(global, 3), 24.0L) << global;
        for (const char* global : {"F", "E"}) EXPECT_EQ(run_twice(global, 2.5), 20.0L) << global;
        EXPECT_EQ(AsInternal(*exec.GetProc(twice)).Proven.size(), tiers == TPSFormTiers::All ? 1u : 0u);
        EXPECT_TRUE(exec.RunProc({}, exec.GetProcNo("CALLTWICE"))) << host.ErrorText();
        EXPECT_EQ(host.VarInt("G"), 40);
        EXPECT_EQ(HasProvenForm(exec, exec.GetProcNo("CALLTWICE")), tiers == TPSFormTiers::All);
        EXPECT_EQ(run_twice("N", 5), 40.0L);
        EXPECT_TRUE(exec.RunProc({}, exec.GetProcNo("GROWS"))) << host.ErrorText();
        EXPECT_EQ(host.VarInt("G"), 10);
    }
}

// A script whose procedure P the test replaces with code of its own, run
// by the main block (inside a try statement of its own when asked); G is an
// exported Integer global (number 0).
class HandWrittenShapes : public ::testing::Test {
protected:
    void SetUp() override { Compile("begin P; end."); }

    void Compile(const std::string& main) {
        auto compiled = compiler::testing::CompileScript("procedure P; begin end; " + main,
                                                         [](compiler::TPSPascalCompiler& c) {
                                                             c.OnUses = [](compiler::TPSPascalCompiler& comp,
                                                                           const std::string&) {
                                                                 comp.AddUsedVariableN("G", "Integer");
                                                                 return true;
                                                             };
                                                         });
        ASSERT_TRUE(compiled.Ok) << compiled.AllMessages();
        image_ = compiled.Parsed;
        for (std::uint32_t n = 0; n < image_.Types.size(); ++n)
            if (image_.Types[n].BaseType == btS32 && s32_ == kNoProc) s32_ = n;
        for (std::uint32_t n = 0; n < image_.Procs.size(); ++n)
            if (image_.Procs[n].ExportName == "P") p_ = n;
    }

    // How P's code, set to code, runs from the main block in the given
    // tiers of forms.
    struct Result {
        std::uint8_t Code = 0;
        std::uint32_t Proc = 0;
        std::uint32_t Pos = 0;
        std::int32_t G = 0;
        bool Proven = false;   // P has a proven form
        bool Refused = false;  // an entry of P could not be proven
        bool operator==(const Result&) const = default;
    };
    Result RunWith(const std::string& code, TPSFormTiers tiers) {
        auto image = image_;
        image.Procs[p_].Code = code;
        TPSExec exec;
        exec.Forms = tiers;
        Result r;
        EXPECT_TRUE(exec.LoadImage(WriteImage(image)));
        exec.Run();
        r.Code = exec.LastErrorCode();
        r.Proc = exec.LastErrorProc();
        r.Pos = exec.LastErrorPos();
        r.G = LoadAs<std::int32_t>(ValueOfTypedValue(exec.FindGlobalVar("G")));
        r.Proven = HasProvenForm(exec, p_);
        r.Refused = HasRefusedEntry(exec, p_);
        return r;
    }
    // Runs code in every tier: the same end, and whether it was proven
    // (only in the tier of proven forms).
    Result RunEveryWay(const std::string& code) {
        const auto results = RunEveryTier(
            [&](TPSFormTiers tiers) {
                Result r = RunWith(code, tiers);
                if (tiers == TPSFormTiers::All) return r;
                EXPECT_FALSE(r.Proven || r.Refused);
                r.Proven = r.Refused = false;
                return r;
            },
            [](const Result& general, const Result& other, TPSFormTiers tiers) {
                // Whether it was proven is the one thing that may differ.
                Result without = other;
                without.Proven = without.Refused = false;
                EXPECT_EQ(without, general) << TierName(tiers);
            });
        return results.back();
    }

    static std::string Op(std::uint8_t op) { return testing::CodeOp(op); }
    static std::string Long(std::uint32_t v) { return testing::CodeLong(v); }
    static std::string Var(std::uint32_t address) { return testing::CodeVar(address); }
    std::string Int(std::int32_t v) const { return Op(okConstant) + Long(s32_) + Long(static_cast<std::uint32_t>(v)); }
    // PushExceptionHandler with its finally block and the statement's end at
    // distances from the byte after it.
    static std::string Try(std::uint32_t finally_at, std::uint32_t end_at) {
        return Op(opPushExceptionHandler) + Long(finally_at) + Long(kNoOffset) + Long(kNoOffset) + Long(end_at);
    }

    test_support::PSImage image_;
    std::uint32_t s32_ = kNoProc;
    std::uint32_t p_ = kNoProc;
};

TEST_F(HandWrittenShapes, shapes_that_cannot_be_proven_leave_the_procedure_to_the_general_path) {
    const std::string set_g = Op(opAssign) + Var(0) + Int(7);  // 15 bytes
    const std::string push = Op(opPushType) + Long(s32_);       // 5 bytes
    const std::string pop = Op(opPop);

    // Proven: one item pushed and popped on the one path there is.
    Result r = RunEveryWay(push + set_g + pop + Op(opRet));
    EXPECT_TRUE(r.Proven);
    EXPECT_EQ(r.G, 7);

    // A jump into the middle of a shape: the Assign is reached with one
    // item by falling through, and with none by the jump over the push.
    const std::string skip_push = Op(opCondNotGoto) + Long(5) + Var(0);
    r = RunEveryWay(skip_push + push + set_g + Op(opRet));
    EXPECT_FALSE(r.Proven);
    EXPECT_TRUE(r.Refused);
    EXPECT_EQ(r.Code, ErNoError);
    EXPECT_EQ(r.G, 7);

    // A try block that ends with an item more than it began with: its
    // finally block would be entered at another depth than an error's.
    const std::string finally_block = set_g + Op(opPopExceptionHandler) + Op(phEndOfFinally);
    const auto end_at = static_cast<std::uint32_t>(push.size() + 2 + finally_block.size());
    r = RunEveryWay(Try(static_cast<std::uint32_t>(push.size() + 2), end_at) + push + Op(opPopExceptionHandler) +
                Op(phEndOfTry) + finally_block + pop + Op(opRet));
    EXPECT_FALSE(r.Proven);
    EXPECT_TRUE(r.Refused);
    EXPECT_EQ(r.G, 7);

    // A pop of an item below an open try frame.
    r = RunEveryWay(push + Try(3, 3 + finally_block.size()) + pop + Op(opPopExceptionHandler) + Op(phEndOfTry) +
                finally_block + Op(opRet));
    EXPECT_FALSE(r.Proven);
    EXPECT_TRUE(r.Refused);

    // A damaged image: a PopExceptionHandler with no frame of the
    // procedure's own. With none at all it is error 10 where it ends; with
    // the main block's frame open around the call, it would close that one.
    r = RunEveryWay(set_g + Op(opPopExceptionHandler) + Op(phEndOfTry) + Op(opRet));
    EXPECT_FALSE(r.Proven);
    EXPECT_EQ(r.Code, ErOutOfRange);
    EXPECT_EQ(r.Proc, p_);
    EXPECT_EQ(r.Pos, set_g.size() + 2);

    // Damaged code that a proof passes over still fails where it fails: an
    // unknown opcode after a proven Assign is error 5 at its position, and
    // the main block's finally block runs on the way out.
    Compile("begin try P; finally G := G + 100; end; end.");
    r = RunEveryWay(set_g + Op(10) + Op(opRet));
    EXPECT_TRUE(r.Proven);
    EXPECT_EQ(r.Code, erInvalidOpcode);
    EXPECT_EQ(r.Pos, set_g.size() + 1);
    EXPECT_EQ(r.G, 107);
    r = RunEveryWay(set_g + Op(opPopExceptionHandler) + Op(phEndOfTry) + Op(opRet));
    EXPECT_FALSE(r.Proven);
}

TEST_F(HandWrittenShapes, a_calc_with_an_operator_byte_of_no_operator_fails_in_every_tier) {
    // Damaged code: a Calc of 32-bit integers whose operator byte names no
    // operator, among them the byte that marks the forms computing none.
    for (const std::uint8_t op : {std::uint8_t{10}, std::uint8_t{0x17}, std::uint8_t{0xFF}}) {
        SCOPED_TRACE(static_cast<int>(op));
        const std::string code = Op(opAssign) + Var(0) + Int(7) + Op(opCalc) + Op(op) + Var(0) + Int(1) + Op(opRet);
        const Result r = RunEveryWay(code);
        EXPECT_NE(r.Code, ErNoError);
        EXPECT_EQ(r.G, 7);
    }
}

TEST_F(HandWrittenShapes, an_entry_of_another_shape_runs_the_general_form_on_the_list_the_proven_form_took) {
    // P reads the item below its return address: from Q, its Integer local;
    // from the main block, nothing. Its first entry (from Q) is proven, and
    // its general form, which had not run, gave its list to that proven
    // form; the main block's entry, of another shape, runs the general form
    // on that list, instruction by instruction as decoded.
    // It first calls R, proven, which returns into it.
    Compile("procedure R; begin G := G + 1; end; procedure Q; var s: Integer; begin s := 5; P; end; "
            "begin Q; G := G + 10; P; end.");
    std::uint32_t r_no = kNoProc;
    for (std::uint32_t n = 0; n < image_.Procs.size(); ++n)
        if (image_.Procs[n].ExportName == "R") r_no = n;
    ASSERT_NE(r_no, kNoProc);
    const std::string code =
        Op(opCall) + Long(r_no) + Op(opAssign) + Var(0) + Var(kStackBaseAddress - 1) + Op(opRet);
    const Result r = RunEveryWay(code);
    EXPECT_TRUE(r.Proven);
    EXPECT_EQ(r.G, 16);
    EXPECT_EQ(r.Code, erOutOfGlobalVarsRange);
    EXPECT_EQ(r.Proc, p_);
}

}  // namespace
}  // namespace script::runtime
