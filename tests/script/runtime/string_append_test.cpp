// S := S + E as scripts build text (letters := letters + Chr(i), Line :=
// Line + RD[i]): for every form of E and every kind of variable S, in every
// tier of forms, the text grows in S's own block, which the host sees stay
// put between appends but for a growth now and then, where a copy at every
// append would give S a new block each time; and the statement keeps its
// meaning: a text shared with another variable is left as it was, an error
// raised while E is computed leaves S as it was, and what the host set RD
// to and reads back after the run is the text the script built.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "exec_test_support.h"
#include "script/runtime/managed_blocks.h"
#include "script_host_support.h"
#include "support/form_tiers.h"

namespace script::runtime {
namespace {

using testing::Ending;
using testing::ScriptHost;
using test_support::RunEveryTier;
using test_support::TierName;

// What the host's Probe(const S: string) saw: the block that holds S's
// text and how many hold it besides the probe.
struct Seen {
    const void* Block = nullptr;
    std::int32_t Holders = 0;
};

// Registers Probe, which records the block of the string it is given. The
// parameter is a copy of S that shares its text (or a Pointer to S, which
// takes no reference).
void AddProbe(ScriptHost& host, std::vector<Seen>& seen) {
    host.exec.RegisterFunction("PROBE", [&seen](TPSExec&, TPSExternalProcRec&, TPSStack&, TPSStack& stack) {
        void* item = stack.ItemAt(-1);
        const void* value = ValueOfTypedValue(item);
        std::int32_t own = 1;
        if (TypeOfTypedValue(item)->BaseType == btPointer) {
            value = LoadAs<PSPointerValue>(value).Address;
            own = 0;
        }
        const PSStr s = LoadStr(value);
        seen.push_back({s, s != nullptr ? BlockRefCount(s) - own : 0});
        return true;
    });
}

void DeclareProbe(compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure Probe(const S: string)"); }

// The host's text of RD: 300 capitals.
std::string HostText() {
    std::string text;
    for (int k = 0; k < 300; ++k) text += static_cast<char>('A' + k % 26);
    return text;
}

constexpr int kAppends = 200;
// The most new blocks 200 appends may give S: its growths (each makes room
// for as much again), the copy of the literal it starts from and the copy
// that a second holder of its text asks for once. A copy per append gives
// one every time.
constexpr int kMostNewBlocks = 20;

struct Form {
    const char* E;  // over i, c (a lowercase letter), T and RD (the host's text)
    std::function<std::string(int i, const std::string& host)> Piece;
};

struct Destination {
    const char* Name;
    const char* D;   // the variable the script appends to
    bool StartsAsRD;  // else it starts as 'start'
};

TEST(string_append, an_append_of_any_expression_grows_its_own_string_in_place_in_every_tier) {
    const auto letter = [](int i) { return std::string(1, static_cast<char>('a' + i % 26)); };
    const std::vector<Form> forms = {
        {"'x'", [](int, const std::string&) { return std::string("x"); }},
        {"c", [&](int i, const std::string&) { return letter(i); }},
        {"Chr(97 + i mod 26)", [&](int i, const std::string&) { return letter(i); }},
        {"T[i]", [](int i, const std::string& host) { return host.substr(i - 1, 1); }},
        {"RD[i]", [](int i, const std::string& host) { return host.substr(i - 1, 1); }},
        {"Copy(T, i, 2)", [](int i, const std::string& host) { return host.substr(i - 1, 2); }},
        {"IntToStr(i)", [](int i, const std::string&) { return std::to_string(i); }},
    };
    const std::vector<Destination> destinations = {
        {"a local", "L", false},
        {"a global", "G", false},
        {"a var parameter", "V", false},
        {"RD", "RD", true},
    };
    const std::string host_text = HostText();
    for (const Destination& dest : destinations) {
        for (const Form& form : forms) {
            const std::string d = dest.D;
            // T shares RD's text, so that RD's first append copies it once
            // and T keeps it; U takes S's text half-way.
            const std::string source = std::string(R"(
var G: string;
procedure Build(var V: string);
var L, T, U: string; i: Integer; c: Char;
begin
  T := RD;
  )") + (dest.StartsAsRD ? "" : d + " := 'start';") + R"(
  for i := 1 to )" + std::to_string(kAppends) + R"( do begin
    c := Chr(97 + i mod 26);
    )" + d + " := " + d + " + " + form.E + R"(;
    if i = 100 then U := )" + d + R"(;
    Probe()" + d + R"();
  end;
  Print()" + d + R"();
  Print(U);
  Print(T);
end;
procedure Outer;
var X: string;
begin
  Build(X);
end;
begin
  Outer;
end.)";
            std::string built = dest.StartsAsRD ? host_text : "start";
            std::string half;
            for (int i = 1; i <= kAppends; ++i) {
                built += form.Piece(i, host_text);
                if (i == 100) half = built;
            }
            for (const TPSFormTiers tiers : test_support::kEveryTier) {
                SCOPED_TRACE(std::string(dest.Name) + " + " + form.E + ", " + TierName(tiers));
                ScriptHost host;
                host.Vars = {{"RD", "String"}};
                host.exec.Forms = tiers;
                std::vector<Seen> seen;
                AddProbe(host, seen);
                ASSERT_TRUE(host.Load(source, DeclareProbe)) << host.Messages;
                PSSetVarString(host.Var("RD"), host_text);
                ASSERT_TRUE(host.Run()) << host.ErrorText();
                EXPECT_EQ(host.Log, built + "\n" + half + "\n" + host_text + "\n");
                // The host reads RD after the run as the script left it.
                EXPECT_EQ(host.VarText("RD"), dest.StartsAsRD ? built : host_text);
                ASSERT_EQ(seen.size(), static_cast<std::size_t>(kAppends));
                int new_blocks = 0;
                for (std::size_t n = 0; n < seen.size(); ++n) {
                    if (n > 0 && seen[n].Block != seen[n - 1].Block) ++new_blocks;
                    // S alone holds its text, and U too from the 100th on
                    // until the next append gives S a copy of its own.
                    EXPECT_EQ(seen[n].Holders, n == 99 ? 2 : 1) << "append " << n + 1;
                }
                EXPECT_LE(new_blocks, kMostNewBlocks);
            }
        }
    }
}

// Runs the script in every tier: each must end as the general handlers do,
// and the general one as expected.
void ExpectEveryTier(const std::string& source, const Ending& expected) {
    const auto runs = RunEveryTier(
        [&](TPSFormTiers tiers) {
            ScriptHost host;
            host.Vars = {{"RD", "String"}};
            host.exec.Forms = tiers;
            EXPECT_TRUE(host.Load(source)) << host.Messages;
            PSSetVarString(host.Var("RD"), "rd");
            Ending e;
            e.Ok = host.Run();
            e.Log = host.Log + "RD=" + host.VarText("RD") + "\n";
            e.Error = host.ErrorText();
            return e;
        },
        [](const Ending& general, const Ending& other, TPSFormTiers tiers) {
            ADD_FAILURE() << TierName(tiers) << " differs:\n" << other << "\ngeneral:\n" << general;
        });
    EXPECT_EQ(runs[0].Ok, expected.Ok) << runs[0];
    EXPECT_EQ(runs[0].Log, expected.Log);
    EXPECT_EQ(runs[0].Error, expected.Error);
}

TEST(string_append, an_append_keeps_the_meaning_of_the_statement) {
    const std::string source = R"(
var G, H: string;
function Side: string;
begin
  // S grows while E is computed: S := S + E appends to what S was.
  G := G + 'side';
  Result := 'f';
end;
function Keep: string;
begin
  // Another holder of S's text taken while E is computed.
  H := G;
  Result := 'k';
end;
procedure Fail(var V: string; z: Integer);
begin
  V := V + Copy('xyz', 1, 10 div z);
end;
var S, T: string; i, z: Integer;
begin
  // Appended to itself, and to the front: no append to the end.
  S := 'ab';
  for i := 1 to 3 do S := S + S;
  Print(S);
  S := '';
  for i := 1 to 5 do S := Chr(64 + i) + S;
  Print(S);
  S := 'xy';
  for i := 1 to 3 do S := S + Copy(S, 1, 2) + S[i];
  Print(S);
  // A text shared with another variable stays as it was.
  S := 'ab'; S := S + Chr(99); T := S; S := S + Chr(100);
  Print(T + ' ' + S);
  // E changes S, or takes another holder of its text.
  G := 'ab'; G := G + Side;
  Print(G);
  G := 'ab'; G := G + 'c'; G := G + Keep;
  Print(G + ' ' + H);
  // An error while E is computed leaves S as it was.
  z := 0;
  S := 'ab'; S := S + 'c';
  try S := S + Copy('xyz', 1, 10 div z); except Print('1 ' + S); end;
  try S := S + 'q' + IntToStr(10 div z); except Print('2 ' + S); end;
  try Fail(S, z); except Print('3 ' + S); end;
  RD := RD + 'x';
  try RD := RD + Chr(10 div z); except Print('4 ' + RD); end;
  // Delete: in place in a text of its own, a copy of a shared one.
  S := 'abcdef'; S := S + 'g'; T := S;
  Delete(S, 2, 3);
  Print(S + ' ' + T);
  Delete(S, 1, 1); Delete(S, 3, 100); Delete(S, 0, 1); Delete(S, 5, 1); Delete(S, 1, 0);
  Print(S + ' ' + T);
  Delete(T, 1, 7);
  Print('[' + T + ']');
  RD := RD + 'yz'; Delete(RD, 1, 2);
end.)";
    Ending expected;
    expected.Ok = true;
    expected.Error = "No Error";
    expected.Log =
        "abababababababab\n"
        "EDCBA\n"
        "xyxyxxyyxyx\n"
        "abc abcd\n"
        "abf\n"
        "abck abc\n"
        "1 abc\n"
        "2 abc\n"
        "3 abc\n"
        "4 rdx\n"
        "aefg abcdefg\n"
        "ef abcdefg\n"
        "[]\n"
        "RD=xyz\n";
    ExpectEveryTier(source, expected);
}

TEST(string_append, a_piece_taken_by_copy_and_its_length_are_alike_in_every_tier) {
    // Starts and counts below, at and beyond the ends of the text, of every
    // kind of string variable, the piece appended and its length read.
    const std::vector<std::pair<int, int>> pieces = {
        {1, 2}, {0, 3}, {-5, 2}, {3, 0}, {3, -1}, {5, 1}, {6, 1}, {7, 1}, {4, 100}, {2, 2147483647},
        {-2147483647 - 1, 4}, {2147483647, 1},
    };
    std::string starts = "  SetArrayLength(Froms, " + std::to_string(pieces.size()) + "); SetArrayLength(Counts, " +
                         std::to_string(pieces.size()) + ");\n";
    for (std::size_t k = 0; k < pieces.size(); ++k)
        starts += "  Froms[" + std::to_string(k) + "] := " + std::to_string(pieces[k].first) + "; Counts[" +
                  std::to_string(k) + "] := " + std::to_string(pieces[k].second) + ";\n";
    const std::string source = R"(
var G: string; Froms, Counts: array of Integer;
procedure Take(const C: string; var V: string; P: string);
var L, T: string; k, f, n, x: Integer;
begin
  L := 'abcdef';
  T := '';
  x := 0;
  for k := 0 to GetArrayLength(Froms) - 1 do begin
    f := Froms[k]; n := Counts[k];
    T := T + Copy(L, f, n) + '|' + Copy(G, f, n) + '|' + Copy(C, f, n) + '|' + Copy(V, f, n) + '|' + Copy(P, f, n) + ';';
    x := x + Length(Copy(L, f, n)) + Length(Copy(V, f, n));
  end;
  Print(T);
  Print(IntToStr(x));
end;
var S: string;
begin
)" + starts + R"(
  G := 'abcdef'; S := G;
  Take(G, S, S);
end.)";
    const std::string text = "abcdef";
    std::string expected;
    long long lengths = 0;
    for (const auto& [f, n] : pieces) {
        const long long from = f < 1 ? 1 : f;
        std::string piece;
        if (n > 0 && from <= static_cast<long long>(text.size()))
            piece = text.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(n));
        for (int v = 0; v < 5; ++v) expected += piece + (v < 4 ? "|" : ";");
        lengths += 2 * static_cast<long long>(piece.size());
    }
    Ending ending;
    ending.Ok = true;
    ending.Error = "No Error";
    ending.Log = expected + "\n" + std::to_string(lengths) + "\nRD=rd\n";
    ExpectEveryTier(source, ending);
}

TEST(string_append, delete_changes_a_text_of_its_own_in_place_and_copies_a_shared_one_once) {
    const std::string source = R"(
var S, T: string;
begin
  S := StringOfChar('a', 50) + StringOfChar('b', 50);
  Probe(S);
  Delete(S, 1, 10);
  Probe(S);
  T := S;
  Delete(S, 41, 10);
  Probe(S);
  Probe(T);
  Delete(S, 1, 30);
  Probe(S);
  Print(S + ' ' + IntToStr(Length(T)));
end.)";
    for (const TPSFormTiers tiers : test_support::kEveryTier) {
        SCOPED_TRACE(TierName(tiers));
        ScriptHost host;
        host.exec.Forms = tiers;
        std::vector<Seen> seen;
        AddProbe(host, seen);
        ASSERT_TRUE(host.Load(source, DeclareProbe)) << host.Messages;
        ASSERT_TRUE(host.Run()) << host.ErrorText();
        EXPECT_EQ(host.Log, std::string(10, 'a') + std::string(40, 'b') + " 90\n");
        ASSERT_EQ(seen.size(), 5u);
        // In place while S alone holds its text.
        EXPECT_EQ(seen[1].Block, seen[0].Block);
        EXPECT_EQ(seen[1].Holders, 1);
        // Shared with T: S gets a text of its own, T keeps the old one.
        EXPECT_NE(seen[2].Block, seen[1].Block);
        EXPECT_EQ(seen[3].Block, seen[1].Block);
        EXPECT_EQ(seen[2].Holders, 1);
        EXPECT_EQ(seen[3].Holders, 1);
        EXPECT_EQ(seen[4].Block, seen[2].Block);
    }
}

}  // namespace
}  // namespace script::runtime
