// Script interpreter speed: compiled scripts for counting loops, integer
// arithmetic, string building (and a million one-character appends),
// procedure calls (recursive Fibonacci) and
// array access (fill, sum, sort), each run through the host API as the
// plug-in host runs its events; and two loops as a plug-in's ONLOAD would
// run them (a sum of the counter, and filling then summing an array).
//
// Each program runs twice: BM_<name> on a bare executor through the host
// API, and BM_<name>_Hosted as a plug-in in the plug-in host (TMyScript,
// with its hook that handles the window's messages while an event
// computes), whose ONLOAD calls the same function; the hosted benchmark
// also times the bare executor and reports "host_ratio" (hosted time /
// bare time).
//
// When lua5.4 is on the path, the same programs are timed in it in the same
// run (inside Lua, without its start-up) and each benchmark reports
// "lua_ms" and "ratio" (script time / Lua time, both processor time; below
// 1 means faster than Lua). Without it the comparison is skipped. Lua is
// used by this benchmark only; nothing builds or tests with it.
//
// BM_String<operation>/<n>: one operation per byte of a string of n bytes
// (1,000 to 64,000), as a plug-in decoding a received chunk does it: a
// character read (of a local, of a global as RD is, of a const parameter),
// a character written (to a copy, which must be made unique once), Length,
// Copy, Pos, a comparison with a constant, and a call passing the string
// as a const parameter; and BM_StringRDDecode_Hosted/<n>, a plug-in's
// ONRECEIVE decoding RD of n bytes in the plug-in host. They report
// "ns_per_byte", which must not grow with n (an operation that copies the
// string grows linearly), and, where Lua has the operation,
// "lua_ns_per_byte" and "lua_ratio". BM_StringSplit/<n> takes a text of n
// bytes apart at its commas with Pos, Copy and Delete, as a plug-in splits
// a received line, against Lua's find and sub.
//
// BM_Append<form>/<n>: S := S + E, n times (64 K and 1 M), for each form
// of E a plug-in writes (a Char variable, Chr(...), T[i], G[i] of a
// global, Copy(T, i, 1), IntToStr(...)) and for S a global and a var
// parameter; BM_AppendRD_Hosted/<n> builds a line from RD in a plug-in's
// ONRECEIVE. Each appends one byte, so "ns_per_append" must not grow with
// n; "to_char_variable" is the time over the Char variable's form at the
// same n (which the others should stay within twice of). Beside them
// Lua's s = s .. piece ("lua_dotdot_ns_per_append", up to 64 K: it copies
// the whole string at every append) and its pieces joined once by
// table.concat ("lua_concat_ns_per_append", "lua_concat_ratio").
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "script/compiler/compiler.h"
#include "script/runtime/exec.h"
#include "script/runtime/my_script.h"
#include "script/runtime/value_access.h"
#include "script/runtime/variant.h"
#include "support/qt_app.h"

namespace {

using script::runtime::TMyScript;
using script::runtime::TPSExec;
using script::runtime::Variant;

struct Program {
    const char* Pascal;  // declares function Bench(n: Integer): Integer
    const char* Lua;     // declares local function bench(n)
    int N;
};

const Program kCountingLoop{
    "function Bench(n: Integer): Integer;\n"
    "var i, c: Integer;\n"
    "begin\n"
    "  c := 0;\n"
    "  for i := 1 to n do c := c + 1;\n"
    "  i := 0;\n"
    "  while i < n do i := i + 1;\n"
    "  Result := c + i;\n"
    "end;\n",
    "local function bench(n)\n"
    "  local c = 0\n"
    "  for i = 1, n do c = c + 1 end\n"
    "  local i = 0\n"
    "  while i < n do i = i + 1 end\n"
    "  return c + i\n"
    "end\n",
    2000000};

const Program kIntegerArithmetic{
    "function Bench(n: Integer): Integer;\n"
    "var i, x, y: Integer;\n"
    "begin\n"
    "  x := 1; y := 7;\n"
    "  for i := 1 to n do begin\n"
    "    x := (x * 3 + i) mod 1000003;\n"
    "    y := (y xor x) + (x shr 3) - i div 7;\n"
    "  end;\n"
    "  Result := x + y;\n"
    "end;\n",
    "local function bench(n)\n"
    "  local x, y = 1, 7\n"
    "  for i = 1, n do\n"
    "    x = (x * 3 + i) % 1000003\n"
    "    y = (y ~ x) + (x >> 3) - i // 7\n"
    "  end\n"
    "  return x + y\n"
    "end\n",
    1000000};

// s := s + 'x', n times.
constexpr const char* kAppendLoop =
    "function Bench(n: Integer): Integer;\n"
    "var i: Integer; s: string;\n"
    "begin\n"
    "  s := '';\n"
    "  for i := 1 to n do s := s + 'x';\n"
    "  Result := Length(s);\n"
    "end;\n";

const Program kStringBuilding{
    kAppendLoop,
    "local function bench(n)\n"
    "  local s = ''\n"
    "  for i = 1, n do s = s .. 'x' end\n"
    "  return #s\n"
    "end\n",
    40000};

// One character appended a million times to a string that nothing else
// holds, against Lua's way of building a long string: pieces in a table,
// joined once.
const Program kStringAppends{
    kAppendLoop,
    "local function bench(n)\n"
    "  local t = {}\n"
    "  for i = 1, n do t[i] = 'x' end\n"
    "  return #table.concat(t)\n"
    "end\n",
    1000000};

const Program kCalls{
    "function Fib(n: Integer): Integer;\n"
    "begin\n"
    "  if n < 2 then Result := n else Result := Fib(n - 1) + Fib(n - 2);\n"
    "end;\n"
    "function Bench(n: Integer): Integer;\n"
    "begin\n"
    "  Result := Fib(n);\n"
    "end;\n",
    "local function fib(n)\n"
    "  if n < 2 then return n else return fib(n - 1) + fib(n - 2) end\n"
    "end\n"
    "local function bench(n) return fib(n) end\n",
    24};

const Program kArrays{
    "function Bench(n: Integer): Integer;\n"
    "var a: array of Integer; i, j, t, seed, sum: Integer;\n"
    "begin\n"
    "  SetArrayLength(a, n);\n"
    "  seed := 12345;\n"
    "  for i := 0 to n - 1 do begin\n"
    "    seed := (seed * 1103 + 12345) mod 65536;\n"
    "    a[i] := seed;\n"
    "  end;\n"
    "  sum := 0;\n"
    "  for i := 0 to n - 1 do sum := sum + a[i];\n"
    "  for i := 1 to n - 1 do begin\n"
    "    t := a[i];\n"
    "    j := i - 1;\n"
    "    while j >= 0 do begin\n"
    "      if a[j] <= t then Break;\n"
    "      a[j + 1] := a[j];\n"
    "      j := j - 1;\n"
    "    end;\n"
    "    a[j + 1] := t;\n"
    "  end;\n"
    "  Result := sum + a[0] + a[n - 1];\n"
    "end;\n",
    "local function bench(n)\n"
    "  local a = {}\n"
    "  local seed = 12345\n"
    "  for i = 0, n - 1 do\n"
    "    seed = (seed * 1103 + 12345) % 65536\n"
    "    a[i] = seed\n"
    "  end\n"
    "  local sum = 0\n"
    "  for i = 0, n - 1 do sum = sum + a[i] end\n"
    "  for i = 1, n - 1 do\n"
    "    local t = a[i]\n"
    "    local j = i - 1\n"
    "    while j >= 0 do\n"
    "      if a[j] <= t then break end\n"
    "      a[j + 1] = a[j]\n"
    "      j = j - 1\n"
    "    end\n"
    "    a[j + 1] = t\n"
    "  end\n"
    "  return sum + a[0] + a[n - 1]\n"
    "end\n",
    1500};

// A plug-in's ONLOAD: the sum of a counter up to n.
const Program kPluginLoop{
    "function Bench(n: Integer): Integer;\n"
    "var i, x: Integer;\n"
    "begin\n"
    "  x := 0;\n"
    "  for i := 1 to n do x := x + i;\n"
    "  Result := x;\n"
    "end;\n",
    "local function bench(n)\n"
    "  local x = 0\n"
    "  for i = 1, n do x = x + i end\n"
    "  return x\n"
    "end\n",
    10000000};

// A plug-in's ONLOAD: an array of n elements filled, then summed.
const Program kPluginArray{
    "function Bench(n: Integer): Integer;\n"
    "var a: array of Integer; i, s: Integer;\n"
    "begin\n"
    "  SetArrayLength(a, n);\n"
    "  for i := 0 to n - 1 do a[i] := i;\n"
    "  s := 0;\n"
    "  for i := 0 to n - 1 do s := s + a[i];\n"
    "  Result := s;\n"
    "end;\n",
    "local function bench(n)\n"
    "  local a = {}\n"
    "  for i = 0, n - 1 do a[i] = i end\n"
    "  local s = 0\n"
    "  for i = 0, n - 1 do s = s + a[i] end\n"
    "  return s\n"
    "end\n",
    1000000};

double ProcessSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Seconds of processor time per run of the Lua program, or a negative value
// when lua5.4 is not there (or the program has no Lua text).
double LuaSecondsPerRun(const Program& p, int repeats) {
    if (p.Lua == nullptr) return -1;
    if (std::system("command -v lua5.4 >/dev/null 2>&1") != 0) return -1;
    char path[] = "/tmp/vostrel_bench_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return -1;
    const std::string code = std::string(p.Lua) + "bench(" + std::to_string(p.N) + ")\n" +
                             "local t = os.clock()\n" + "for r = 1, " + std::to_string(repeats) + " do bench(" +
                             std::to_string(p.N) + ") end\n" + "print(string.format('%.9f', (os.clock() - t) / " +
                             std::to_string(repeats) + "))\n";
    const bool written = write(fd, code.data(), code.size()) == static_cast<ssize_t>(code.size());
    close(fd);
    double seconds = -1;
    if (written) {
        FILE* lua = popen(("lua5.4 " + std::string(path)).c_str(), "r");
        if (lua != nullptr) {
            if (std::fscanf(lua, "%lf", &seconds) != 1) seconds = -1;
            pclose(lua);
        }
    }
    unlink(path);
    return seconds;
}

// A bare executor with the program loaded; nil (and the benchmark skipped)
// when it does not compile or load.
std::unique_ptr<TPSExec> LoadBare(benchmark::State& state, const Program& p) {
    script::compiler::TPSPascalCompiler compiler;
    compiler.AllowNoMainBlock = true;
    std::string image;
    if (!compiler.Compile(p.Pascal) || !compiler.GetOutput(image)) {
        state.SkipWithError("the script does not compile");
        return nullptr;
    }
    auto exec = std::make_unique<TPSExec>();
    if (!exec->LoadImage(image)) {
        state.SkipWithError("the image does not load");
        return nullptr;
    }
    return exec;
}

// Seconds of processor time per run of Bench(n) on a bare executor.
double BareSecondsPerRun(TPSExec& exec, const Program& p, int runs) {
    const std::vector<Variant> args{Variant::Integer(p.N)};
    const double start = ProcessSeconds();
    for (int r = 0; r < runs; ++r) benchmark::DoNotOptimize(exec.CallProcByName("BENCH", args));
    return (ProcessSeconds() - start) / runs;
}

// Seconds of processor time per run of Bench(n) on a bare executor, run as
// often as the benchmark's state asks.
double StateSecondsPerRun(benchmark::State& state, TPSExec& exec, int n) {
    const std::vector<Variant> args{Variant::Integer(n)};
    std::int64_t runs = 0;
    const double start = ProcessSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(exec.CallProcByName("BENCH", args));
        ++runs;
    }
    return (ProcessSeconds() - start) / static_cast<double>(std::max<std::int64_t>(runs, 1));
}

void ReportLua(benchmark::State& state, const Program& p, double script_seconds, int lua_repeats) {
    state.counters["script_ms"] = script_seconds * 1000;
    const double lua = LuaSecondsPerRun(p, lua_repeats);
    if (lua > 0) {
        state.counters["lua_ms"] = lua * 1000;
        state.counters["ratio"] = script_seconds / lua;
    }
}

void RunProgram(benchmark::State& state, const Program& p, int lua_repeats) {
    const std::unique_ptr<TPSExec> exec = LoadBare(state, p);
    if (!exec) return;
    ReportLua(state, p, StateSecondsPerRun(state, *exec, p.N), lua_repeats);
}

// The program as a plug-in whose ONLOAD calls Bench(n), run by the plug-in
// host with its hook installed, as the main window runs it.
void RunHosted(benchmark::State& state, const Program& p, int lua_repeats) {
    test_support::EnsureQtApplication();
    TMyScript host([](std::int32_t, const std::string&, std::string&) {});
    const std::string source = std::string(p.Pascal) + "var BenchResult: Integer;\n" +
                               "procedure OnLoad;\nbegin\n  BenchResult := Bench(" + std::to_string(p.N) +
                               ");\nend;\n";
    try {
        host.Compile(source, "bench.pas");
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    std::int64_t runs = 0;
    const double start = ProcessSeconds();
    for (auto _ : state) {
        host.RunOnLoad();
        ++runs;
    }
    const double hosted = (ProcessSeconds() - start) / static_cast<double>(runs);
    ReportLua(state, p, hosted, lua_repeats);
    const std::unique_ptr<TPSExec> bare = LoadBare(state, p);
    if (!bare) return;
    const double bare_seconds = BareSecondsPerRun(*bare, p, static_cast<int>(std::max<std::int64_t>(runs, 3)));
    state.counters["bare_ms"] = bare_seconds * 1000;
    state.counters["host_ratio"] = hosted / bare_seconds;
}

void BM_CountingLoops(benchmark::State& state) { RunProgram(state, kCountingLoop, 10); }
void BM_IntegerArithmetic(benchmark::State& state) { RunProgram(state, kIntegerArithmetic, 10); }
void BM_StringBuilding(benchmark::State& state) { RunProgram(state, kStringBuilding, 10); }
void BM_StringAppends(benchmark::State& state) { RunProgram(state, kStringAppends, 5); }
void BM_RecursiveCalls(benchmark::State& state) { RunProgram(state, kCalls, 10); }
void BM_ArrayFillSumSort(benchmark::State& state) { RunProgram(state, kArrays, 10); }
void BM_PluginLoop(benchmark::State& state) { RunProgram(state, kPluginLoop, 5); }
void BM_PluginArray(benchmark::State& state) { RunProgram(state, kPluginArray, 5); }

void BM_CountingLoops_Hosted(benchmark::State& state) { RunHosted(state, kCountingLoop, 10); }
void BM_IntegerArithmetic_Hosted(benchmark::State& state) { RunHosted(state, kIntegerArithmetic, 10); }
void BM_StringBuilding_Hosted(benchmark::State& state) { RunHosted(state, kStringBuilding, 10); }
void BM_RecursiveCalls_Hosted(benchmark::State& state) { RunHosted(state, kCalls, 10); }
void BM_ArrayFillSumSort_Hosted(benchmark::State& state) { RunHosted(state, kArrays, 10); }
void BM_PluginLoop_Hosted(benchmark::State& state) { RunHosted(state, kPluginLoop, 5); }
void BM_PluginArray_Hosted(benchmark::State& state) { RunHosted(state, kPluginArray, 5); }

// ------------------------------------------------------------ string operations

// One operation per byte of s, a string of n bytes ('a' repeated); Lua's
// text, where Lua has the operation, does the same to a string of n bytes.
struct StringOperation {
    const char* Pascal;  // statements over s and n, adding to x (t is free)
    const char* Lua;     // the loop's body over s and i, adding to x; nil: none
};

constexpr const char* kStringHelpers =
    "var Global: string;\n"
    "function ConstRead(const S: string; i: Integer): Integer;\n"
    "begin\n"
    "  Result := Ord(S[i]);\n"
    "end;\n"
    "function ConstLength(const S: string): Integer;\n"
    "begin\n"
    "  Result := Length(S);\n"
    "end;\n";

const StringOperation kIndexRead{"for i := 1 to n do x := x + Ord(s[i]);\n", "x = x + s:byte(i)"};
const StringOperation kGlobalIndexRead{"Global := s;\nfor i := 1 to n do x := x + Ord(Global[i]);\n",
                                       "x = x + s:byte(i)"};
const StringOperation kConstParamRead{"for i := 1 to n do x := x + ConstRead(s, i);\n", nullptr};
// t shares s until its first write, which copies it once.
const StringOperation kIndexWrite{"t := s;\nfor i := 1 to n do t[i] := 'b';\nx := Ord(t[n]) + Ord(s[n]);\n",
                                  nullptr};
const StringOperation kLength{"for i := 1 to n do x := x + Length(s);\n", "x = x + #s"};
const StringOperation kCopy{"for i := 1 to n do x := x + Length(Copy(s, i, 2));\n", "x = x + #s:sub(i, i + 1)"};
const StringOperation kPos{"for i := 1 to n do x := x + Pos('a', s);\n", "x = x + s:find('a', 1, true)"};
const StringOperation kCompare{"for i := 1 to n do if 'abc' <> s then x := x + 1;\n",
                               "if 'abc' ~= s then x = x + 1 end"};
const StringOperation kConstParamPass{"for i := 1 to n do x := x + ConstLength(s);\n",
                                      "x = x + len(s)"};

// The operation as a Program over n bytes; its texts live in `texts`.
Program StringProgram(const StringOperation& op, int n, std::string (&texts)[2]) {
    texts[0] = std::string(kStringHelpers) +
               "function Bench(n: Integer): Integer;\n"
               "var i, x: Integer; s, t: string;\n"
               "begin\n"
               "  s := StringOfChar('a', n);\n"
               "  x := 0;\n" +
               op.Pascal +
               "  Result := x;\n"
               "end;\n";
    if (op.Lua != nullptr)
        texts[1] = std::string("local function len(s) return #s end\n") +
                   "local function bench(n)\n"
                   "  local s = string.rep('a', n)\n"
                   "  local x = 0\n"
                   "  for i = 1, n do " +
                   op.Lua +
                   " end\n"
                   "  return x\n"
                   "end\n";
    return Program{texts[0].c_str(), op.Lua != nullptr ? texts[1].c_str() : nullptr, n};
}

// Reports ns_per_byte of a run over n bytes, and Lua's beside it when p has
// a Lua text.
void ReportPerByte(benchmark::State& state, double seconds_per_run, int n, const Program& p) {
    const double ns_per_byte = seconds_per_run / n * 1e9;
    state.counters["ns_per_byte"] = ns_per_byte;
    // Lua's runs take about a tenth of a second in all.
    const double lua = LuaSecondsPerRun(p, std::max(10, 4000000 / n));
    if (lua > 0) {
        state.counters["lua_ns_per_byte"] = lua / n * 1e9;
        state.counters["lua_ratio"] = ns_per_byte / (lua / n * 1e9);
    }
}

void RunStringOperation(benchmark::State& state, const StringOperation& op) {
    const int n = static_cast<int>(state.range(0));
    std::string texts[2];
    const Program p = StringProgram(op, n, texts);
    const std::unique_ptr<TPSExec> exec = LoadBare(state, p);
    if (!exec) return;
    ReportPerByte(state, StateSecondsPerRun(state, *exec, n), n, p);
}

// Seconds of processor time per run of a plug-in's ONRECEIVE in the plug-in
// host, with RD a chunk of n bytes, after one run that is not timed;
// negative (and the benchmark skipped) when the plug-in does not compile.
double HostedReceiveSeconds(benchmark::State& state, const char* source, int n) {
    test_support::EnsureQtApplication();
    TMyScript host([](std::int32_t, const std::string&, std::string&) {});
    try {
        host.Compile(source, "bench.pas");
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return -1;
    }
    host.SetRD(true, std::string(static_cast<std::size_t>(n), 'a'));
    host.RunOnReceive(true);
    std::int64_t runs = 0;
    const double start = ProcessSeconds();
    for (auto _ : state) {
        host.RunOnReceive(true);
        ++runs;
    }
    return (ProcessSeconds() - start) / static_cast<double>(std::max<std::int64_t>(runs, 1));
}

// A plug-in's ONRECEIVE decoding RD, a chunk of n bytes, one byte at a
// time, as the plug-in host runs it; Lua's figure is its index read.
void BM_StringRDDecode_Hosted(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const double seconds = HostedReceiveSeconds(state,
                                                "var Sum: Integer;\n"
                                                "procedure OnReceive;\n"
                                                "var i, x: Integer;\n"
                                                "begin\n"
                                                "  x := 0;\n"
                                                "  for i := 1 to Length(RD) do x := x + Ord(RD[i]);\n"
                                                "  Sum := x;\n"
                                                "end;\n"
                                                "begin end.\n",
                                                n);
    if (seconds < 0) return;
    std::string texts[2];
    ReportPerByte(state, seconds, n, StringProgram(kIndexRead, n, texts));
}

void StringSizes(benchmark::internal::Benchmark* b) {
    b->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMicrosecond);
}

void BM_StringIndexRead(benchmark::State& state) { RunStringOperation(state, kIndexRead); }
void BM_StringGlobalIndexRead(benchmark::State& state) { RunStringOperation(state, kGlobalIndexRead); }
void BM_StringConstParamRead(benchmark::State& state) { RunStringOperation(state, kConstParamRead); }
void BM_StringIndexWrite(benchmark::State& state) { RunStringOperation(state, kIndexWrite); }
void BM_StringLength(benchmark::State& state) { RunStringOperation(state, kLength); }
void BM_StringCopy(benchmark::State& state) { RunStringOperation(state, kCopy); }
void BM_StringPos(benchmark::State& state) { RunStringOperation(state, kPos); }
void BM_StringCompare(benchmark::State& state) { RunStringOperation(state, kCompare); }
void BM_StringConstParamPass(benchmark::State& state) { RunStringOperation(state, kConstParamPass); }

// ------------------------------------------------------------ splitting

// A text of n bytes (n a multiple of 8) of fields "abcdefg," taken apart
// field by field; Src is made once per size.
const char* const kSplitPascal =
    "var Src: string;\n"
    "function Bench(n: Integer): Integer;\n"
    "var s: string; p, x, i: Integer;\n"
    "begin\n"
    "  if Length(Src) <> n then begin\n"
    "    Src := '';\n"
    "    for i := 1 to n div 8 do Src := Src + 'abcdefg,';\n"
    "  end;\n"
    "  s := Src;\n"
    "  x := 0;\n"
    "  p := Pos(',', s);\n"
    "  while p > 0 do begin\n"
    "    x := x + Length(Copy(s, 1, p - 1));\n"
    "    Delete(s, 1, p);\n"
    "    p := Pos(',', s);\n"
    "  end;\n"
    "  Result := x;\n"
    "end;\n";
const char* const kSplitLua =
    "local src\n"
    "local function bench(n)\n"
    "  if src == nil or #src ~= n then src = string.rep('abcdefg,', n // 8) end\n"
    "  local s = src\n"
    "  local x = 0\n"
    "  local p = s:find(',', 1, true)\n"
    "  while p do\n"
    "    x = x + #s:sub(1, p - 1)\n"
    "    s = s:sub(p + 1)\n"
    "    p = s:find(',', 1, true)\n"
    "  end\n"
    "  return x\n"
    "end\n";

// Seconds of processor time per run of Bench(n) of the program, after one
// run that is not timed; runs is how many are timed.
double TimedBareRuns(TPSExec& exec, int n, int runs) {
    const std::vector<Variant> args{Variant::Integer(n)};
    benchmark::DoNotOptimize(exec.CallProcByName("BENCH", args));
    const double start = ProcessSeconds();
    for (int r = 0; r < runs; ++r) benchmark::DoNotOptimize(exec.CallProcByName("BENCH", args));
    return runs > 0 ? (ProcessSeconds() - start) / runs : 0;
}

void BM_StringSplit(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const Program p{kSplitPascal, kSplitLua, n};
    const std::unique_ptr<TPSExec> exec = LoadBare(state, p);
    if (!exec) return;
    // The first run makes the text, which the others take apart.
    TimedBareRuns(*exec, n, 0);
    ReportPerByte(state, StateSecondsPerRun(state, *exec, n), n, p);
}

// ------------------------------------------------------------ appends

// One form of S := S + E: the statements that append n times, over S (a
// local), T (n bytes), G (a global of n bytes, as RD is), GS (a global), c
// (a Char) and i, or AddAll (into a var parameter). LuaPiece is Lua's E
// over t and i.
struct AppendForm {
    const char* Pascal;
    const char* LuaPiece;
};

const AppendForm kAppendCharVariable{"for i := 1 to n do begin c := Chr(i mod 256); S := S + c; end;\n",
                                     "string.char(i % 256)"};
const AppendForm kAppendChr{"for i := 1 to n do S := S + Chr(i mod 256);\n", "string.char(i % 256)"};
const AppendForm kAppendElement{"for i := 1 to n do S := S + T[i];\n", "t:sub(i, i)"};
const AppendForm kAppendGlobalElement{"for i := 1 to n do S := S + G[i];\n", "t:sub(i, i)"};
const AppendForm kAppendCopy{"for i := 1 to n do S := S + Copy(T, i, 1);\n", "t:sub(i, i)"};
const AppendForm kAppendIntToStr{"for i := 1 to n do S := S + IntToStr(i mod 10);\n", "tostring(i % 10)"};
const AppendForm kAppendToGlobal{"for i := 1 to n do GS := GS + T[i];\n", "t:sub(i, i)"};
const AppendForm kAppendToVarParam{"AddAll(S, T, n);\n", "t:sub(i, i)"};

Program AppendProgram(const AppendForm& form, int n, std::string& text) {
    text = std::string(
               "var G, GS: string;\n"
               "procedure AddAll(var V: string; const T: string; n: Integer);\n"
               "var i: Integer;\n"
               "begin\n"
               "  for i := 1 to n do V := V + T[i];\n"
               "end;\n"
               "function Bench(n: Integer): Integer;\n"
               "var i: Integer; S, T: string; c: Char;\n"
               "begin\n"
               "  T := StringOfChar('a', n);\n"
               "  G := T;\n"
               "  S := '';\n"
               "  GS := '';\n  ") +
           form.Pascal +
           "  Result := Length(S) + Length(GS);\n"
           "end;\n";
    return Program{text.c_str(), nullptr, n};
}

// Lua's seconds per run of n appends of the piece: by .. (joined: false)
// or into a table joined once.
double LuaAppendSeconds(const AppendForm& form, int n, bool joined, int repeats) {
    const std::string body = joined ? std::string("p[i] = ") + form.LuaPiece : std::string("s = s .. ") + form.LuaPiece;
    const std::string lua = std::string("local function bench(n)\n"
                                        "  local t = string.rep('a', n)\n"
                                        "  local s, p = '', {}\n"
                                        "  for i = 1, n do ") +
                            body +
                            " end\n"
                            "  if #p > 0 then s = table.concat(p) end\n"
                            "  return #s\n"
                            "end\n";
    return LuaSecondsPerRun(Program{"", lua.c_str(), n}, repeats);
}

void RunAppend(benchmark::State& state, const AppendForm& form) {
    const int n = static_cast<int>(state.range(0));
    std::string text;
    const Program p = AppendProgram(form, n, text);
    const std::unique_ptr<TPSExec> exec = LoadBare(state, p);
    if (!exec) return;
    const double seconds = StateSecondsPerRun(state, *exec, n);
    state.counters["ns_per_append"] = seconds / n * 1e9;
    std::string variable_text;
    const std::unique_ptr<TPSExec> variable = LoadBare(state, AppendProgram(kAppendCharVariable, n, variable_text));
    if (!variable) return;
    state.counters["to_char_variable"] = seconds / TimedBareRuns(*variable, n, 3);
    // Lua's .. copies the whole string at every append: beyond 64 K a run
    // takes seconds.
    if (n <= 65536) {
        const double dotdot = LuaAppendSeconds(form, n, false, 2);
        if (dotdot > 0) state.counters["lua_dotdot_ns_per_append"] = dotdot / n * 1e9;
    }
    const double concat = LuaAppendSeconds(form, n, true, 3);
    if (concat > 0) {
        state.counters["lua_concat_ns_per_append"] = concat / n * 1e9;
        state.counters["lua_concat_ratio"] = seconds / concat;
    }
}

// A plug-in's ONRECEIVE building a line from RD, a chunk of n bytes, one
// byte at a time, as the plug-in host runs it.
void BM_AppendRD_Hosted(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const double seconds = HostedReceiveSeconds(state,
                                                "var Line: string; Size: Integer;\n"
                                                "procedure OnReceive;\n"
                                                "var i: Integer;\n"
                                                "begin\n"
                                                "  Line := '';\n"
                                                "  for i := 1 to Length(RD) do Line := Line + RD[i];\n"
                                                "  Size := Length(Line);\n"
                                                "end;\n"
                                                "begin end.\n",
                                                n);
    if (seconds < 0) return;
    state.counters["ns_per_append"] = seconds / n * 1e9;
    const double concat = LuaAppendSeconds(kAppendElement, n, true, 3);
    if (concat > 0) {
        state.counters["lua_concat_ns_per_append"] = concat / n * 1e9;
        state.counters["lua_concat_ratio"] = seconds / concat;
    }
}

void AppendSizes(benchmark::internal::Benchmark* b) {
    b->Arg(65536)->Arg(1048576)->Unit(benchmark::kMillisecond)->MinTime(0.5);
}

void BM_AppendCharVariable(benchmark::State& state) { RunAppend(state, kAppendCharVariable); }
void BM_AppendChr(benchmark::State& state) { RunAppend(state, kAppendChr); }
void BM_AppendElement(benchmark::State& state) { RunAppend(state, kAppendElement); }
void BM_AppendGlobalElement(benchmark::State& state) { RunAppend(state, kAppendGlobalElement); }
void BM_AppendCopy(benchmark::State& state) { RunAppend(state, kAppendCopy); }
void BM_AppendIntToStr(benchmark::State& state) { RunAppend(state, kAppendIntToStr); }
void BM_AppendToGlobal(benchmark::State& state) { RunAppend(state, kAppendToGlobal); }
void BM_AppendToVarParam(benchmark::State& state) { RunAppend(state, kAppendToVarParam); }

BENCHMARK(BM_CountingLoops)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntegerArithmetic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringBuilding)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringAppends)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecursiveCalls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayFillSumSort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PluginLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PluginArray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountingLoops_Hosted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntegerArithmetic_Hosted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringBuilding_Hosted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecursiveCalls_Hosted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayFillSumSort_Hosted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PluginLoop_Hosted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PluginArray_Hosted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringIndexRead)->Apply(StringSizes);
BENCHMARK(BM_StringGlobalIndexRead)->Apply(StringSizes);
BENCHMARK(BM_StringConstParamRead)->Apply(StringSizes);
BENCHMARK(BM_StringIndexWrite)->Apply(StringSizes);
BENCHMARK(BM_StringLength)->Apply(StringSizes);
BENCHMARK(BM_StringCopy)->Apply(StringSizes);
BENCHMARK(BM_StringPos)->Apply(StringSizes);
BENCHMARK(BM_StringCompare)->Apply(StringSizes);
BENCHMARK(BM_StringConstParamPass)->Apply(StringSizes);
BENCHMARK(BM_StringRDDecode_Hosted)->Apply(StringSizes);
BENCHMARK(BM_StringSplit)->Apply(StringSizes);
BENCHMARK(BM_AppendCharVariable)->Apply(AppendSizes);
BENCHMARK(BM_AppendChr)->Apply(AppendSizes);
BENCHMARK(BM_AppendElement)->Apply(AppendSizes);
BENCHMARK(BM_AppendGlobalElement)->Apply(AppendSizes);
BENCHMARK(BM_AppendCopy)->Apply(AppendSizes);
BENCHMARK(BM_AppendIntToStr)->Apply(AppendSizes);
BENCHMARK(BM_AppendToGlobal)->Apply(AppendSizes);
BENCHMARK(BM_AppendToVarParam)->Apply(AppendSizes);
BENCHMARK(BM_AppendRD_Hosted)->Apply(AppendSizes);

}  // namespace
