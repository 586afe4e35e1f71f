// Script interpreter speed: compiled scripts for counting loops, integer
// arithmetic, string building, procedure calls (recursive Fibonacci) and
// array access (fill, sum, sort), each run through the host API as the
// plug-in host runs its events.
//
// When lua5.4 is on the path, the same programs are timed in it in the same
// run (inside Lua, without its start-up) and each benchmark reports
// "lua_ms" and "ratio" (script time / Lua time, both processor time; below
// 1 means faster than Lua). Without it the comparison is skipped. Lua is
// used by this benchmark only; nothing builds or tests with it.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "script/compiler/compiler.h"
#include "script/runtime/exec.h"
#include "script/runtime/variant.h"

namespace {

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

const Program kStringBuilding{
    "function Bench(n: Integer): Integer;\n"
    "var i: Integer; s: string;\n"
    "begin\n"
    "  s := '';\n"
    "  for i := 1 to n do s := s + 'x';\n"
    "  Result := Length(s);\n"
    "end;\n",
    "local function bench(n)\n"
    "  local s = ''\n"
    "  for i = 1, n do s = s .. 'x' end\n"
    "  return #s\n"
    "end\n",
    40000};

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

double ProcessSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Seconds of processor time per run of the Lua program, or a negative value
// when lua5.4 is not there.
double LuaSecondsPerRun(const Program& p, int repeats) {
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

void RunProgram(benchmark::State& state, const Program& p, int lua_repeats) {
    script::compiler::TPSPascalCompiler compiler;
    compiler.AllowNoMainBlock = true;
    std::string image;
    if (!compiler.Compile(p.Pascal) || !compiler.GetOutput(image)) {
        state.SkipWithError("the script does not compile");
        return;
    }
    TPSExec exec;
    if (!exec.LoadImage(image)) {
        state.SkipWithError("the image does not load");
        return;
    }
    const std::vector<Variant> args{Variant::Integer(p.N)};
    std::int64_t runs = 0;
    const double start = ProcessSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(exec.CallProcByName("BENCH", args));
        ++runs;
    }
    const double script_seconds = (ProcessSeconds() - start) / static_cast<double>(runs);
    state.counters["script_ms"] = script_seconds * 1000;
    const double lua = LuaSecondsPerRun(p, lua_repeats);
    if (lua > 0) {
        state.counters["lua_ms"] = lua * 1000;
        state.counters["ratio"] = script_seconds / lua;
    }
}

void BM_CountingLoops(benchmark::State& state) { RunProgram(state, kCountingLoop, 10); }
void BM_IntegerArithmetic(benchmark::State& state) { RunProgram(state, kIntegerArithmetic, 10); }
void BM_StringBuilding(benchmark::State& state) { RunProgram(state, kStringBuilding, 10); }
void BM_RecursiveCalls(benchmark::State& state) { RunProgram(state, kCalls, 10); }
void BM_ArrayFillSumSort(benchmark::State& state) { RunProgram(state, kArrays, 10); }

BENCHMARK(BM_CountingLoops)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntegerArithmetic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringBuilding)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecursiveCalls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayFillSumSort)->Unit(benchmark::kMillisecond);

}  // namespace
