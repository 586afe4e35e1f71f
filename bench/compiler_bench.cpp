// Script compiler speed: lines per second over a generated 10,000-line
// plug-in-like script (procedures with loops, conditions, calls and strings).
#include <benchmark/benchmark.h>

#include <string>

#include "script/compiler/compiler.h"

namespace {

std::string MakeScript(int lines) {
    std::string text = "var Total: Integer; Log: string;\n";
    int written = 1;
    int proc = 0;
    while (written < lines) {
        text += "procedure P" + std::to_string(proc++) + "(n: Integer);\nvar i, x: Integer; s: string;\nbegin\n";
        written += 3;
        for (int k = 0; k < 40 && written < lines - 2; ++k, ++written) {
            switch (k % 5) {
            case 0: text += "  for i := 1 to n do x := x + i * 2;\n"; break;
            case 1: text += "  if x > 100 then x := x - 100 else x := x + 1;\n"; break;
            case 2: text += "  s := IntToStr(x) + ' items';\n"; break;
            case 3: text += "  while x > 10 do begin x := x div 2; Total := Total + 1; end;\n"; break;
            default: text += "  case x of 1: Log := s; 2..5: Log := Log + s; else Log := ''; end;\n"; break;
            }
        }
        text += "end;\n";
        ++written;
    }
    text += "begin Total := 0; end.\n";
    return text;
}

void BM_CompileTenThousandLines(benchmark::State& state) {
    const int lines = 10000;
    const std::string script = MakeScript(lines);
    for (auto _ : state) {
        script::compiler::TPSPascalCompiler compiler;
        const bool ok = compiler.Compile(script);
        if (!ok) {
            state.SkipWithError("the generated script did not compile");
            break;
        }
        benchmark::DoNotOptimize(ok);
    }
    state.counters["lines_per_second"] =
        benchmark::Counter(static_cast<double>(lines) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CompileTenThousandLines)->Unit(benchmark::kMillisecond);

}  // namespace
