// The tiers of forms: the switch chooses which run (the general handlers
// only; with quick forms; with proven forms), the tiers compute and fail
// alike on the values where 32-bit arithmetic is delicate, and the common
// statements the compiler writes get the fused proven forms made for them,
// so that a change of the compiler that stops them matching fails here.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "exec_test_support.h"
#include "script_host_support.h"
#include "support/form_tiers.h"

namespace script::runtime {
namespace {

using testing::ScriptHost;
using test_support::kEveryTier;
using test_support::RunEveryTier;
using test_support::TierName;

// The forms in a list of instructions (a proven form's twin for plain
// slots counted as the form).
std::set<std::uint8_t> FormsIn(const TPSDecodedCode& code) {
    std::set<std::uint8_t> forms;
    for (std::uint32_t i = 0; i < code.InstrCount(); ++i) {
        std::uint8_t op = code.Instrs()[i].Op;
        if (op >= ppAssign1 + kPlainSlotsTwin && op <= ppLastTwinned + kPlainSlotsTwin) op -= kPlainSlotsTwin;
        forms.insert(op);
    }
    return forms;
}

// The forms of every proven code of a procedure.
std::set<std::uint8_t> ProvenForms(const TPSExec& exec, std::uint32_t proc) {
    std::set<std::uint8_t> forms;
    for (const auto& form : AsInternal(*exec.GetProc(proc)).Proven)
        if (form.Code != nullptr) forms.merge(FormsIn(*form.Code));
    return forms;
}

bool HasQuickForm(const std::set<std::uint8_t>& forms) {
    for (const std::uint8_t op : forms)
        if (op >= qpFirst && op < qpAfterLast) return true;
    return false;
}

using testing::Ending;
using testing::RunScript;

TEST(form_tiers, the_switch_chooses_which_tiers_run_and_each_computes_as_the_general_handlers_do) {
    const std::string source = R"(
var i, x, n: Integer;
begin
  n := 200; x := 0;
  for i := 1 to n do begin
    if i mod 3 = 0 then x := x + i else x := x - 1;
  end;
  Print(IntToStr(x));
end.)";
    RunEveryTier(
        [&](TPSFormTiers tiers) {
            SCOPED_TRACE(TierName(tiers));
            ScriptHost host;
            const Ending r = RunScript(source, tiers, host);
            EXPECT_EQ(r.Log, "6499\n");
            const std::uint32_t main = host.exec.MainProcNo();
            // The general code keeps its instructions as decoded unless quick
            // forms are allowed; then the loop gives them quick forms.
            const std::set<std::uint8_t> general = FormsIn(*AsInternal(*host.exec.GetProc(main)).Decoded);
            EXPECT_EQ(HasQuickForm(general), tiers == TPSFormTiers::GeneralAndQuick);
            EXPECT_EQ(ProvenForms(host.exec, main).empty(), tiers != TPSFormTiers::All);
            // A proven code reads its general code's operands, in which a
            // quick form would note the types it saw: it gives none.
            const TPSInternalProcRec& proc = AsInternal(*host.exec.GetProc(main));
            for (const auto& form : proc.Proven) {
                if (form.Code == nullptr) continue;
                EXPECT_FALSE(HasQuickForm(FormsIn(*form.Code)));
                for (std::uint32_t i = 0; i < proc.Decoded->InstrCount(); ++i)
                    EXPECT_EQ(form.Code->Instrs()[i].Ops, proc.Decoded->Instrs()[i].Ops);
            }
            return r;
        },
        [](const Ending& general, const Ending& other, TPSFormTiers tiers) {
            ADD_FAILURE() << TierName(tiers) << ": " << other.Log << other.Error << " / " << general.Log
                          << general.Error;
        });
}

TEST(form_tiers, thirty_two_bit_arithmetic_at_its_edges_computes_and_fails_alike_in_every_tier) {
    // Each operation in a loop (so that the quick and proven forms run it
    // after the first pass), on the values where a quicker form could part
    // from the general one: the most negative value by -1, a divisor of -1,
    // shift counts of 32 and more, unsigned values with the top bit set.
    const std::string source = R"(
var i, a, b, r: Integer; u, v: Cardinal; log: string;
procedure Try1(op: Integer);
begin
  for i := 1 to 3 do begin
    try
      r := a;
      case op of
        0: r := r div b;
        1: r := r mod b;
        2: r := r shl b;
        3: r := r shr b;
        4: r := r * b;
        5: r := r - b;
      end;
      log := log + IntToStr(r) + ' ';
    except
      log := log + ExceptionToString(ExceptionType, ExceptionParam) + ' ';
    end;
  end;
end;
var k, m: Integer; as_: array[0..4] of Integer; bs: array[0..4] of Integer;
begin
  as_[0] := -2147483647 - 1; as_[1] := -7; as_[2] := 7; as_[3] := 2147483647; as_[4] := 0;
  bs[0] := -1; bs[1] := 0; bs[2] := 33; bs[3] := 2; bs[4] := -3;
  log := '';
  for k := 0 to 4 do
    for m := 0 to 4 do begin
      a := as_[k]; b := bs[m];
      Try1(0); Try1(1); Try1(2); Try1(3); Try1(4); Try1(5);
    end;
  u := 4000000000; v := 7;
  for k := 1 to 3 do begin u := u div v; u := u + 3000000000; end;
  log := log + IntToStr(u);
  Print(log);
end.)";
    const auto runs = RunEveryTier(
        [&](TPSFormTiers tiers) {
            ScriptHost host;
            return RunScript(source, tiers, host);
        },
        [](const Ending& general, const Ending& other, TPSFormTiers tiers) {
            ADD_FAILURE() << TierName(tiers) << " differs:\n" << other.Log << "\ngeneral:\n" << general.Log;
        });
    const Ending& general = runs[0];
    EXPECT_TRUE(general.Ok) << general.Error;
    // The most negative value: by -1 its quotient and remainder do not fit,
    // shifted by 31 (-1 masked) it leaves 0 and 1, times -1 it wraps to
    // itself. -7 by -1: 7 and 0. A zero divisor fails.
    EXPECT_EQ(general.Log.substr(0, general.Log.find(" -2147483647 ")),
              "Exception: Integer overflow Exception: Integer overflow Exception: Integer overflow "
              "Exception: Integer overflow Exception: Integer overflow Exception: Integer overflow "
              "0 0 0 1 1 1 -2147483648 -2147483648 -2147483648")
        << general.Log;
    EXPECT_NE(general.Log.find("7 7 7 0 0 0 "), std::string::npos);
    EXPECT_NE(general.Log.find("divide by Zero"), std::string::npos);
}

// Whether a statement, compiled in a procedure with the given variables,
// gets the expected form (a quick form: in the general code, the tier of
// quick forms running; a proven form: in a proven code), and computes in
// every tier what the general handlers compute.
void ExpectChosen(const std::string& vars, const std::string& body, std::uint8_t form, const std::string& log) {
    SCOPED_TRACE(body);
    const std::string source = "procedure P;\nvar " + vars + ";\nbegin\n" + body + "\nend;\nbegin P; end.";
    const bool quick = form >= qpFirst && form < qpAfterLast;
    RunEveryTier(
        [&](TPSFormTiers tiers) {
            ScriptHost host;
            const Ending r = RunScript(source, tiers, host);
            EXPECT_EQ(r.Log, log) << TierName(tiers);
            if (tiers == (quick ? TPSFormTiers::GeneralAndQuick : TPSFormTiers::All)) {
                const std::uint32_t p = host.exec.GetProcNo("P");
                const std::set<std::uint8_t> forms =
                    quick ? FormsIn(*AsInternal(*host.exec.GetProc(p)).Decoded) : ProvenForms(host.exec, p);
                std::string chosen;
                for (const std::uint8_t op : forms) chosen += std::to_string(op) + " ";
                EXPECT_TRUE(forms.contains(form)) << "form " << int{form} << " not among " << chosen;
            }
            return r;
        },
        [](const Ending& general, const Ending& other, TPSFormTiers tiers) {
            ADD_FAILURE() << TierName(tiers) << ": " << other.Log << " / " << general.Log;
        });
}

TEST(form_tiers, the_common_statements_get_their_fused_proven_forms) {
    // A for loop of one Calc runs whole in one step.
    ExpectChosen("i, x: Integer", "x := 0; for i := 1 to 100 do x := x + i; Print(IntToStr(x));", ppForCalc,
                 "5050\n");
    // A while loop of one Calc likewise.
    ExpectChosen("i: Integer", "i := 0; while i < 100 do i := i + 7; Print(IntToStr(i));", ppWhileCalc, "105\n");
    // An element of an array at a computed index gets a value in one step.
    ExpectChosen("a: array of Integer; j, t: Integer",
                 "SetArrayLength(a, 5); t := 9; for j := 0 to 3 do begin a[j + 1] := t; t := t + j; end;"
                 " Print(IntToStr(a[4]));",
                 ppElementStore32, "12\n");
    // An if statement on a 32-bit comparison: no temporary pushed.
    ExpectChosen("i, x, y: Integer",
                 "x := 0; y := 5; for i := 1 to 10 do begin if i < y then x := x + 1 else x := x + 2; end;"
                 " Print(IntToStr(x));",
                 ppIf32, "16\n");
    // A for loop to a bound computed at every step.
    ExpectChosen("j, n, s: Integer", "n := 10; s := 0; for j := 0 to n - 1 do begin s := s + j; s := s xor 1; end;"
                 " Print(IntToStr(s));",
                 ppBoundStep32, "47\n");
    // A temporary calculation into a variable, and one added to it.
    ExpectChosen("i, x: Integer", "x := 1; for i := 1 to 4 do begin x := i - x; x := x * 3; end; Print(IntToStr(x));",
                 ppTempAssign, "39\n");
    ExpectChosen("i, s: Integer", "s := 0; for i := 1 to 5 do begin s := s + i * 2; s := s - 1; end;"
                 " Print(IntToStr(s));",
                 ppTempCalc, "25\n");
    // A character of a string read, at an index computed or not, and its
    // code taken as a number.
    const std::string codes = "s := 'ab' + #200; x := 0; for i := 1 to 3 do x := x * 2 + Ord(s[i]);"
                              " for i := 1 to 2 do x := x + Ord(s[i + 1]); Print(IntToStr(x));";
    ExpectChosen("i, x: Integer; s: string", codes, ppStringElement, "1082\n");
    ExpectChosen("i, x: Integer; s: string", codes, ppAssignWiden8, "1082\n");
    // A loop to the length of a string, which is read at every step.
    ExpectChosen("i, x: Integer; s: string", "s := 'abcd'; x := 0; for i := 1 to Length(s) do x := x + i; Print(IntToStr(x));",
                 ppStringLength, "10\n");
    ExpectChosen("i: Integer; s: string; c: Char; b: Byte",
                 "s := 'xyz'; for i := 1 to 3 do begin c := s[i]; b := Ord(c); end; Print(c + IntToStr(b));",
                 ppAssign1, "z122\n");
    // A piece of a string, its length, and a String temporary popped.
    const std::string pieces = "s := 'abcdef'; t := ''; x := 0; for i := 0 to 7 do begin"
                               " t := t + Copy(s, i, 2); x := x + Length(Copy(s, 7 - i, i)); end;"
                               " Print(t + ' ' + IntToStr(x));";
    ExpectChosen("i, x: Integer; s, t: string", pieces, ppStringCopy, "ababbccddeeff 27\n");
    ExpectChosen("i, x: Integer; s, t: string", pieces, ppTopLength, "ababbccddeeff 27\n");
    ExpectChosen("i, x: Integer; s, t: string", pieces, ppPopString, "ababbccddeeff 27\n");
    // A number's text, and a 32-bit integer widened into an Int64.
    const std::string numbers = "t := ''; c := 4000000000; for i := -2 to 2 do begin"
                                " t := t + IntToStr(i * 1000000000) + ' ' + IntToStr(c + i) + ' '; big := i; big := big * 3;"
                                " t := t + IntToStr(big) + ' '; big := c; end; Print(t + IntToStr(big));";
    const std::string texts = "-2000000000 3999999998 -6 -1000000000 3999999999 -3 0 4000000000 0 "
                              "1000000000 4000000001 3 2000000000 4000000002 6 4000000000\n";
    ExpectChosen("i: Integer; c: Cardinal; big: Int64; t: string", numbers, ppTopIntToStr, texts);
    ExpectChosen("i: Integer; c: Cardinal; big: Int64; t: string", numbers, ppAssignWiden32, texts);
}


TEST(form_tiers, the_general_loop_gives_the_common_statements_their_quick_forms) {
    // Assignments of one base.
    ExpectChosen("i, x, y: Integer", "y := 3; for i := 1 to 3 do x := y; Print(IntToStr(x));", qpAssign32, "3\n");
    ExpectChosen("i: Integer; b, c: Byte", "c := 7; for i := 1 to 3 do b := c; Print(IntToStr(b));", qpAssign8,
                 "7\n");
    ExpectChosen("i: Integer; s, t: string", "t := 'ab'; for i := 1 to 3 do s := t; Print(s);", qpAssignString,
                 "ab\n");
    // Calculations, a division among them, and a temporary pushed with its
    // first value.
    ExpectChosen("i, x: Integer", "x := 0; for i := 1 to 3 do x := x + i; Print(IntToStr(x));", qpAdd32, "6\n");
    ExpectChosen("i, x: Integer", "x := 100; for i := 1 to 3 do x := x div 3; Print(IntToStr(x));", qpDivMod32,
                 "3\n");
    ExpectChosen("i, x: Integer", "x := 1; for i := 1 to 4 do x := i - x; Print(IntToStr(x));", qpPushAssign32,
                 "3\n");
    // Comparisons with what they take along: a for loop's step and jump, a
    // while loop's jump, an if statement's flag.
    ExpectChosen("i, x: Integer", "x := 0; for i := 1 to 3 do x := x + i; Print(IntToStr(x));", qpLoopStep32,
                 "6\n");
    ExpectChosen("i: Integer", "i := 0; while i < 10 do i := i + 3; Print(IntToStr(i));", qpCompareJump32, "12\n");
    ExpectChosen("i, x, y: Integer",
                 "x := 0; y := 3; for i := 1 to 6 do if i < y then x := x + 1; Print(IntToStr(x));",
                 qpCompareFlag32, "2\n");
    // Conditions on a Boolean: a jump, and an if statement's flag.
    ExpectChosen("i: Integer; b: Boolean", "b := True; i := 0; while b do begin i := i + 1; b := i < 4; end;"
                 " Print(IntToStr(i));",
                 qpCondByte, "4\n");
    ExpectChosen("i, x: Integer; b: Boolean",
                 "x := 0; for i := 1 to 4 do begin b := i > 2; if b then x := x + 1; end; Print(IntToStr(x));",
                 qpSetFlagJump, "2\n");
    // A counter stepped down, and a Pointer set to an array that an element
    // is stored in.
    ExpectChosen("i, x: Integer", "x := 0; for i := 3 downto 1 do x := x + i; Print(IntToStr(x));", qpDec32, "6\n");
    ExpectChosen("a: array of Integer; j, t: Integer",
                 "SetArrayLength(a, 5); t := 9; for j := 0 to 3 do begin a[j + 1] := t; t := t + j; end;"
                 " Print(IntToStr(a[4]));",
                 qpSetPtr, "12\n");
}

}  // namespace
}  // namespace script::runtime

namespace script::runtime {
namespace {

TEST(decoded_code, a_procedure_is_decoded_at_its_first_entry_and_finds_every_position_it_was_entered_at) {
    const std::string source = R"(
var x: Integer;
procedure Called;
var i: Integer;
begin
  for i := 1 to 10 do x := x + i;
end;
procedure NeverCalled;
begin
  x := x * 2;
end;
begin
  Called;
  Called;
  Print(IntToStr(x));
end.)";
    ScriptHost host;
    ASSERT_TRUE(host.Load(source)) << host.Messages;
    auto decoded_of = [&](const char* name) -> TPSDecodedCode* {
        for (std::uint32_t n = 0; n < host.exec.ProcCount(); ++n) {
            const TPSProcRec* proc = host.exec.GetProc(n);
            if (proc->IsInternal() && AsInternal(*proc).ExportName == name) return AsInternal(*proc).Decoded.get();
        }
        ADD_FAILURE() << name << " not found";
        return nullptr;
    };
    // Nothing is decoded by the load itself.
    EXPECT_EQ(decoded_of("CALLED"), nullptr);
    EXPECT_EQ(decoded_of("NEVERCALLED"), nullptr);
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(host.Log, "110\n");
    TPSDecodedCode* code = decoded_of("CALLED");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(decoded_of("NEVERCALLED"), nullptr);

    // Every instruction is found again at its start, and no position inside
    // an instruction counts as a start.
    const std::uint32_t count = code->InstrCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        const TPSDecodedInstr& in = code->Instrs()[i];
        if (in.BaseOp == popOutOfRange) continue;
        EXPECT_TRUE(code->HasInstrAt(in.Pos)) << in.Pos;
        EXPECT_EQ(code->EntryAt(in.Pos), i);
        for (std::uint32_t p = in.Pos + 1; p < in.End; ++p) EXPECT_FALSE(code->HasInstrAt(p)) << p;
    }
    // A position beyond the code is one instruction that reports it, the
    // same each time; entering the middle of an instruction (as a damaged
    // image may) decodes from there and keeps every start known before.
    const std::uint32_t beyond = code->EntryAt(code->CodeLength() + 7);
    EXPECT_EQ(code->Instrs()[beyond].Op, popOutOfRange);
    EXPECT_EQ(code->EntryAt(code->CodeLength() + 7), beyond);
    std::uint32_t wide = 0;
    while (wide < count && code->Instrs()[wide].End - code->Instrs()[wide].Pos < 2) ++wide;
    ASSERT_LT(wide, count);
    const std::uint32_t inside_pos = code->Instrs()[wide].Pos + 1;
    // Its first proven form took its list (it had not run before): both
    // run on one list, and a position either enters is known to both.
    ASSERT_TRUE(code->RunsSharedList());
    const TPSDecodedCode* proven = nullptr;
    for (std::uint32_t n = 0; n < host.exec.ProcCount(); ++n) {
        const TPSProcRec* proc = host.exec.GetProc(n);
        if (proc->IsInternal() && AsInternal(*proc).Decoded.get() == code)
            proven = AsInternal(*proc).Proven.at(0).Code.get();
    }
    ASSERT_NE(proven, nullptr);
    EXPECT_EQ(proven->Instrs(), code->Instrs());
    // A copy (the proven form of another shape) shares the table of starts
    // until it enters a position of its own: the general code does not see
    // that one, and the copy holds none of the forms of the list it copied.
    TPSDecodedCode copy(TPSDecodedCode::CopyOf{*code});
    for (std::uint32_t i = 0; i < count; ++i) EXPECT_EQ(copy.Instrs()[i].Op, copy.Instrs()[i].BaseOp) << i;
    EXPECT_EQ(copy.EntryAt(code->Instrs()[wide].Pos), wide);
    EXPECT_EQ(copy.EntryAt(inside_pos), count + 1);  // after the one beyond the code
    EXPECT_TRUE(copy.HasInstrAt(inside_pos));
    EXPECT_FALSE(code->HasInstrAt(inside_pos));
    const std::uint32_t inside = code->EntryAt(inside_pos);
    EXPECT_EQ(inside, count + 1);
    EXPECT_TRUE(code->HasInstrAt(inside_pos));
    EXPECT_TRUE(proven->HasInstrAt(inside_pos));
    EXPECT_EQ(code->EntryAt(inside_pos), inside);
    EXPECT_EQ(code->EntryAt(code->CodeLength() + 7), beyond);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (code->Instrs()[i].BaseOp != popOutOfRange) {
            EXPECT_EQ(code->EntryAt(code->Instrs()[i].Pos), i);
        }
    }
}

}  // namespace
}  // namespace script::runtime
