// Characters of strings as scripts read and write them (S[i], S[i] := c):
// every kind of variable a string lies in, indexes computed and out of
// range, in every tier of forms; a write changes only the string written
// to, and a read never copies a string, which the host sees in the blocks
// the variables hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exec_test_support.h"
#include "script/runtime/managed_blocks.h"
#include "script_host_support.h"
#include "support/form_tiers.h"

namespace script::runtime {
namespace {

using testing::Ending;
using testing::RunScript;
using testing::ScriptHost;
using test_support::RunEveryTier;
using test_support::TierName;

// Runs the script in every tier: each must end as the general handlers do,
// and the general one as expected.
void ExpectEveryTier(const std::string& source, const Ending& expected) {
    const auto runs = RunEveryTier(
        [&](TPSFormTiers tiers) {
            ScriptHost host;
            return RunScript(source, tiers, host);
        },
        [](const Ending& general, const Ending& other, TPSFormTiers tiers) {
            ADD_FAILURE() << TierName(tiers) << " differs:\n" << other << "\ngeneral:\n" << general;
        });
    EXPECT_EQ(runs[0].Ok, expected.Ok);
    EXPECT_EQ(runs[0].Log, expected.Log);
    EXPECT_EQ(runs[0].Error, expected.Error);
}

TEST(string_elements, a_read_gives_the_character_of_every_kind_of_string_variable_and_fails_outside_it) {
    const std::string source = R"(
var G: string;
function Weighted(const c: string; var v: string; p: string): string;
var i, a, b, d: Integer;
begin
  a := 0; b := 0; d := 0;
  for i := 1 to Length(c) do a := a + i * Ord(c[i]);
  for i := 1 to Length(v) do b := b + i * Ord(v[i]);
  for i := 1 to Length(p) do d := d + i * Ord(p[i]);
  Result := IntToStr(a) + ' ' + IntToStr(b) + ' ' + IntToStr(d);
end;
procedure Reads;
var s, t: string; i, x, y: Integer; ch: Char; b: Byte;
begin
  s := '';
  for i := 1 to 300 do s := s + Chr((i * 7) mod 256);
  G := s;
  x := 0; y := 0;
  for i := 1 to Length(s) do x := x + i * Ord(s[i]);
  for i := 1 to Length(G) do y := y + Ord(G[i]);
  Print(IntToStr(x) + ' ' + IntToStr(y));
  x := 0;
  for i := 2 to Length(s) - 1 do x := x + Ord(s[i + 1]) - Ord(s[i - 1]);
  Print(IntToStr(x));
  t := s;
  Print(Weighted(s, t, G));
  x := 0;
  for i := 1 to 300 do begin
    ch := s[i];
    b := Ord(s[301 - i]);
    if ch = Chr(b) then x := x + 1;
    if s[i] = #252 then x := x + 1000;
  end;
  Print(IntToStr(x) + ' ' + IntToStr(Ord(s[1])) + ' ' + IntToStr(Ord(s[300])));
  // The string changes between reads: each read sees it as it is then.
  t := 'a';
  for i := 1 to 50 do begin t := t + Chr(65 + i mod 26); x := Ord(t[i + 1]); end;
  Print(IntToStr(x) + ' ' + IntToStr(Length(t)));
end;
procedure OutOfRange;
var s: string; i, k: Integer; idx: array[0..5] of Integer;
begin
  s := 'abc';
  idx[0] := 0; idx[1] := -1; idx[2] := 4; idx[3] := 3; idx[4] := 2147483647; idx[5] := 1;
  for k := 0 to 5 do begin
    i := idx[k];
    try
      Print(IntToStr(k) + ':' + s[i]);
    except
      Print(IntToStr(k) + ':' + ExceptionToString(ExceptionType, ExceptionParam));
    end;
  end;
  i := 2147483647;
  try Print(s[i + 1]); except Print('wrapped: ' + ExceptionParam); end;
  s := '';
  i := 1;
  try Print(s[i]); except Print('empty: ' + ExceptionParam); end;
  // Lengths as loops read them: of a string emptied, grown and shrunk.
  for k := 1 to 3 do begin
    if k = 2 then s := 'abcde';
    if k = 3 then Delete(s, 1, 2);
    i := Length(s);
    Print('length ' + IntToStr(i) + ' ' + IntToStr(Length(s)));
  end;
end;
procedure Uncaught;
var s: string; i, x: Integer;
begin
  s := 'xyz'; x := 0;
  for i := 1 to 4 do x := x + Ord(s[i]);
end;
begin
  Reads; OutOfRange; Uncaught;
end.)";
    // The same sums over the same bytes, (i * 7) mod 256 for i = 1 to 300.
    auto c = [](int i) { return (i * 7) % 256; };
    long long weighted = 0, sum = 0, neighbours = 0;
    int same = 0;
    for (int i = 1; i <= 300; ++i) {
        weighted += static_cast<long long>(i) * c(i);
        sum += c(i);
        if (i >= 2 && i <= 299) neighbours += c(i + 1) - c(i - 1);
        same += (c(i) == c(301 - i)) + (c(i) == 252 ? 1000 : 0);
    }
    const std::string w = std::to_string(weighted);
    Ending expected;
    expected.Ok = false;
    expected.Error = "Out of string range";
    expected.Log = w + " " + std::to_string(sum) + "\n" + std::to_string(neighbours) + "\n" + w + " " + w + " " + w +
                   "\n" + std::to_string(same) + " 7 52\n" + "89 51\n" +
                   "0:Out of string range\n"
                   "1:Out of string range\n"
                   "2:Out of string range\n"
                   "3:c\n"
                   "4:Out of string range\n"
                   "5:a\n"
                   "wrapped: Out of string range\n"
                   "empty: Out of string range\n"
                   "length 0 0\n"
                   "length 5 5\n"
                   "length 3 3\n";
    // The text holds characters of 128 and above (252 among them), which
    // count as their codes, not as negative bytes.
    ASSERT_GE(same, 1000);
    ExpectEveryTier(source, expected);
}

TEST(string_elements, a_write_changes_only_the_string_written_to) {
    const std::string source = R"(
var G, H: string;
procedure SetFirst(var v: string; c: Char); begin v[1] := c; end;
procedure Fill(var v: string); var i: Integer; begin for i := 1 to Length(v) do v[i] := 'z'; end;
function Changed(const c: string): string; var t: string; begin t := c; t[2] := '#'; Result := t; end;
function ByValue(p: string): string; begin p[3] := '%'; Result := p; end;
var s, t, u: string; i: Integer; a: array of string;
begin
  s := 'abcdef'; t := s;
  t[1] := 'X';
  Print(s + ' ' + t);
  // Written on after its first write: the copy taken in between keeps its text.
  u := t;
  for i := 2 to 6 do t[i] := Chr(Ord('0') + i);
  Print(t + ' ' + u + ' ' + s);
  G := s; SetFirst(G, 'g'); Print(G + ' ' + s);
  H := G; SetFirst(H, 'h'); Print(G + ' ' + H);
  H := G; Fill(G); Print(G + ' ' + H);
  Print(Changed(s) + ' ' + s + ' ' + ByValue(s) + ' ' + s);
  SetArrayLength(a, 2); a[0] := s; t := a[0]; t[6] := '!'; Print(a[0] + ' ' + t);
  s := StringOfChar('q', 3); t := s; s[2] := 'w'; t[3] := 'e'; Print(s + ' ' + t);
  // The text of a literal is never written.
  for i := 1 to 2 do begin s := 'lit'; Print(s); s[1] := 'L'; end;
  // Nor the host's: RD shares its text with t until t is written.
  t := RD; t[1] := 'Z'; Print(RD + ' ' + t);
  RD[2] := 'y'; Print(RD);
end.)";
    const std::string expected =
        "abcdef Xbcdef\n"
        "X23456 Xbcdef abcdef\n"
        "gbcdef abcdef\n"
        "gbcdef hbcdef\n"
        "zzzzzz gbcdef\n"
        "a#cdef abcdef ab%def abcdef\n"
        "abcdef abcde!\n"
        "qwq qqe\n"
        "lit\n"
        "lit\n"
        "rd Zd\n"
        "ry\n";
    for (const TPSFormTiers tiers : test_support::kEveryTier) {
        SCOPED_TRACE(TierName(tiers));
        ScriptHost host;
        host.Vars = {{"RD", "String"}};
        host.exec.Forms = tiers;
        ASSERT_TRUE(host.Load(source)) << host.Messages;
        // The host's text, as the plug-in host sets RD before an event.
        PSSetVarString(host.Var("RD"), "rd");
        ASSERT_TRUE(host.Run()) << host.ErrorText();
        EXPECT_EQ(host.Log, expected);
        EXPECT_EQ(host.VarText("RD"), "ry");
    }
}

// What the host sees of two string variables: the blocks they hold.
struct Blocks {
    const void* S = nullptr;
    const void* T = nullptr;
    std::int32_t RefS = 0;
    std::int32_t RefT = 0;
};

TEST(string_elements, a_read_copies_no_string_and_a_write_copies_a_shared_one_once) {
    // S and T are the host's, as RD is: it finds them by name.
    const std::string source = R"(
var i, x: Integer;
procedure ReadAll(const c: string; var v: string);
var k: Integer;
begin
  for k := 1 to Length(c) do x := x + Ord(c[k]) + Ord(v[k]);
end;
begin
  S := StringOfChar('a', 100); T := S; Probe;
  x := 0;
  for i := 1 to 100 do x := x + Ord(T[i]) + Ord(S[i]);
  Probe;
  ReadAll(S, T); Probe;
  T[1] := 'b'; Probe;
  for i := 2 to 100 do T[i] := 'b';
  Probe;
  Print(IntToStr(x) + ' ' + T[100] + S[100]);
end.)";
    for (const TPSFormTiers tiers : test_support::kEveryTier) {
        SCOPED_TRACE(TierName(tiers));
        ScriptHost host;
        host.Vars = {{"S", "String"}, {"T", "String"}};
        std::vector<Blocks> seen;
        host.exec.RegisterFunction("PROBE", [&](TPSExec&, TPSExternalProcRec&, TPSStack&, TPSStack&) {
            const PSStr s = LoadStr(ValueOfTypedValue(host.Var("S")));
            const PSStr t = LoadStr(ValueOfTypedValue(host.Var("T")));
            seen.push_back({s, t, BlockRefCount(s), BlockRefCount(t)});
            return true;
        });
        host.exec.Forms = tiers;
        ASSERT_TRUE(host.Load(source, [](compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure Probe"); }))
            << host.Messages;
        ASSERT_TRUE(host.Run()) << host.ErrorText();
        EXPECT_EQ(host.Log, std::to_string(97 * 400) + " ba\n");
        ASSERT_EQ(seen.size(), 5u);
        // T := S shares one block; reading either, directly or through
        // parameters, leaves both holding it.
        const void* shared = seen[0].S;
        for (int n = 0; n < 3; ++n) {
            EXPECT_EQ(seen[n].S, shared) << n;
            EXPECT_EQ(seen[n].T, shared) << n;
            EXPECT_EQ(seen[n].RefS, 2) << n;
        }
        // The first write gives T a block of its own; S keeps the old one.
        EXPECT_EQ(seen[3].S, shared);
        EXPECT_NE(seen[3].T, shared);
        EXPECT_EQ(seen[3].RefS, 1);
        EXPECT_EQ(seen[3].RefT, 1);
        // The writes after it change T's block in place.
        EXPECT_EQ(seen[4].T, seen[3].T);
        EXPECT_EQ(seen[4].S, shared);
    }
}

}  // namespace
}  // namespace script::runtime
