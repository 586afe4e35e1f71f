// Script compiler speed, in lines per second:
// - a generated 10,000-line script of small procedures with loops,
//   conditions, calls and strings (the long-standing figure);
// - realistic plug-in code at 10,000 and 50,000 lines: one device driver
//   module after another, each with its own constants, types, globals and
//   routines that call the library and earlier modules. Comparing the two
//   sizes shows whether the cost per line stays flat as a script grows.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "script/compiler/compiler.h"
#include "script/compiler/compiler_test_support.h"

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

// A fixed pseudo-random sequence, so every run compiles the same text.
class Sequence {
public:
    std::uint32_t Next(std::uint32_t range) {
        state_ = state_ * 1103515245u + 12345u;
        return (state_ >> 8) % range;
    }

private:
    std::uint32_t state_ = 20240607u;
};

// Replaces every "@" by the module's number and every "#" by the number of
// an earlier module (the module itself for the first).
std::string Fill(const std::string& pattern, int k, int earlier) {
    std::string out;
    for (char c : pattern) {
        if (c == '@') out += std::to_string(k);
        else if (c == '#') out += std::to_string(earlier);
        else out += c;
    }
    return out;
}

std::size_t CountLines(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += c == '\n' ? 1 : 0;
    return n;
}

// One module: a device's declarations and routines. Which optional routines
// a module has, its numbers and which earlier modules it calls vary.
std::string MakeModule(int k, Sequence& rnd) {
    auto earlier = [&] { return k == 0 ? 0 : static_cast<int>(rnd.Next(static_cast<std::uint32_t>(k))); };
    auto num = [&](std::uint32_t range) { return std::to_string(rnd.Next(range)); };
    std::string m = Fill(
        "{ Device @: framing, polling and decoding. }\n"
        "const\n"
        "  Dev@Addr = " + std::to_string(k % 247 + 1) + ";\n"
        "  Dev@Timeout = " + std::to_string(100 + rnd.Next(900)) + ";\n"
        "  Dev@Name = 'device " + std::to_string(k) + "';\n"
        "type\n"
        "  TDev@State = (d@Idle, d@Wait, d@Data, d@Done);\n"
        "  TDev@Frame = record\n"
        "    Addr: Byte;\n"
        "    Cmd: Byte;\n"
        "    Data: string;\n"
        "    Crc: Word;\n"
        "  end;\n"
        "var\n"
        "  Dev@: TDev@Frame;\n"
        "  Dev@State: TDev@State;\n"
        "  Dev@Count, Dev@Errors: Integer;\n"
        "  Dev@Log: array[0..7] of string;\n\n",
        k, 0);
    switch (rnd.Next(3)) {
    case 0:
        m += Fill(
            "function Dev@Crc(const s: string): Word;\nvar\n  i, bit: Integer;\n  crc: Word;\nbegin\n"
            "  crc := $" + std::string(rnd.Next(2) ? "FFFF" : "0000") + ";\n"
            "  for i := 1 to Length(s) do\n  begin\n    crc := crc xor Ord(s[i]);\n"
            "    for bit := 1 to 8 do\n      if (crc and 1) <> 0 then\n        crc := (crc shr 1) xor $A001\n"
            "      else\n        crc := crc shr 1;\n  end;\n  Result := crc;\nend;\n\n",
            k, 0);
        break;
    case 1:
        m += Fill(
            "function Dev@Crc(const s: string): Word;\nvar\n  i: Integer;\n  sum: Word;\nbegin\n  sum := " +
                num(256) + ";\n  for i := 1 to Length(s) do\n    sum := (sum + Ord(s[i])) and $FFFF;\n"
                "  Result := sum;\nend;\n\n",
            k, 0);
        break;
    default:
        m += Fill(
            "function Dev@Crc(const s: string): Word;\nvar\n  i: Integer;\n  x: Byte;\nbegin\n  x := 0;\n"
            "  i := Length(s);\n  while i > 0 do\n  begin\n    x := x xor Ord(s[i]);\n    Dec(i);\n  end;\n"
            "  Result := x;\nend;\n\n",
            k, 0);
        break;
    }
    m += Fill(
        "function Dev@Build(cmd: Byte; const data: string): string;\nvar\n  crc: Word;\nbegin\n"
        "  Result := Chr(Dev@Addr) + Chr(cmd) + data;\n  crc := Dev@Crc(Result);\n"
        "  Result := Result + Chr(Lo(crc)) + Chr(Hi(crc));\nend;\n\n",
        k, 0);
    m += Fill(
        "procedure Dev@Feed(b: Byte);\nbegin\n  case Dev@State of\n"
        "    d@Idle: if b = Dev@Addr then Dev@State := d@Wait;\n"
        "    d@Wait:\n      begin\n        Dev@.Cmd := b;\n        Dev@State := d@Data;\n      end;\n"
        "    d@Data:\n      begin\n        Dev@.Data := Dev@.Data + Chr(b);\n"
        "        if Length(Dev@.Data) >= " + num(60) + " then\n          Dev@State := d@Done;\n      end;\n"
        "  else\n    Dev@State := d@Idle;\n  end;\nend;\n\n",
        k, 0);
    m += Fill(
        "procedure Dev@Poll;\nvar\n  answer, line: string;\n  i: Integer;\nbegin\n"
        "  TD := Dev@Build(" + num(16) + ", Dev#Build(" + num(8) + ", ''));\n  Send(TD);\n  Inc(Dev@Count);\n"
        "  if not Recv(" + num(40) + ", Dev@Timeout, answer) then\n  begin\n    Inc(Dev@Errors);\n"
        "    AddErr(Format('%s: no answer (%d of %d)', [Dev@Name, Dev@Errors, Dev@Count]));\n    exit;\n  end;\n"
        "  line := '';\n  for i := 1 to Length(answer) do\n  begin\n    Dev@Feed(Ord(answer[i]));\n"
        "    line := line + IntToHex(Ord(answer[i]), 2) + ' ';\n  end;\n"
        "  Dev@Log[Dev@Count mod 8] := line;\n  try\n    if Dev@State = d@Done then\n"
        "      AddMsg(Dev@Name + ': ' + Trim(line));\n  finally\n    Dev@State := d@Idle;\n  end;\nend;\n\n",
        k, earlier());
    if (rnd.Next(2) == 0)
        m += Fill(
            "function Dev@Field(const s: string; n: Integer): string;\nvar\n  rest: string;\n  p: Integer;\n"
            "begin\n  rest := s;\n  repeat\n    p := Pos(',', rest);\n    if p = 0 then\n      p := Length(rest) + 1;\n"
            "    Result := Copy(rest, 1, p - 1);\n    Delete(rest, 1, p);\n    Dec(n);\n"
            "  until (n < 0) or (rest = '');\nend;\n\n",
            k, 0);
    if (rnd.Next(2) == 0)
        m += Fill(
            "procedure Dev@Report;\nvar\n  i, total: Integer;\n  ratio: Double;\nbegin\n  total := 0;\n"
            "  for i := 0 to 7 do\n    if Dev@Log[i] <> '' then\n      total := total + Length(Dev@Log[i]);\n"
            "  with Dev@ do\n  begin\n    Addr := Dev@Addr;\n    Crc := Dev#Crc(Data);\n  end;\n"
            "  if Dev@Count > 0 then\n  begin\n    ratio := Dev@Errors * 100.0 / Dev@Count;\n    GraphAdd(ratio);\n"
            "    UpdMsg(Format('%s: %d bytes logged, %.1f%% lost', [Dev@Name, total, ratio]));\n  end;\nend;\n\n",
            k, earlier());
    if (rnd.Next(3) == 0)
        m += Fill(
            "function Dev@Decode(const answer: string): Integer;\nvar\n  i: Integer;\nbegin\n  Result := 0;\n"
            "  for i := 3 to Length(answer) - 2 do\n    case Ord(answer[i]) of\n"
            "      0..9: Result := Result * 10 + Ord(answer[i]);\n      $30..$39: Result := Result * 10 + Ord(answer[i]) - $30;\n"
            "      $0D, $0A: Break;\n    else\n      Result := -1;\n    end;\n"
            "  if Result > " + num(10000) + " then\n    Result := Dev#Crc(answer);\nend;\n\n",
            k, earlier());
    return m;
}

// Whole modules until the size is reached, then the plug-in's events.
std::string MakePluginScript(std::size_t lines) {
    Sequence rnd;
    std::string text;
    std::size_t written = 0;
    int modules = 0;
    while (written + 12 < lines) {
        const std::string module = MakeModule(modules++, rnd);
        written += CountLines(module);
        text += module;
    }
    text += "procedure OnLoad;\nbegin\n  Dev0Count := 0;\n  Dev0Errors := 0;\nend;\n\n";
    text += "procedure OnSend;\nbegin\n  if TD = '' then\n    Dev" + std::to_string(modules - 1) + "Poll;\nend;\n";
    return text;
}

void RunCompile(benchmark::State& state, const std::string& script,
                const std::function<void(script::compiler::TPSPascalCompiler&)>& setup) {
    const auto lines = static_cast<double>(CountLines(script));
    for (auto _ : state) {
        script::compiler::TPSPascalCompiler compiler;
        if (setup) setup(compiler);
        const bool ok = compiler.Compile(script);
        if (!ok) {
            state.SkipWithError(("the generated script did not compile: " + compiler.GetMsg(0).MessageToString()).c_str());
            break;
        }
        benchmark::DoNotOptimize(ok);
    }
    state.counters["lines"] = lines;
    state.counters["lines_per_second"] =
        benchmark::Counter(lines * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_CompileTenThousandLines(benchmark::State& state) { RunCompile(state, MakeScript(10000), {}); }
BENCHMARK(BM_CompileTenThousandLines)->Unit(benchmark::kMillisecond);

// The per-line cost at 50,000 lines against that at 10,000 is the figure to
// watch: lines_per_second should hardly drop.
void BM_CompilePluginCode(benchmark::State& state) {
    RunCompile(state, MakePluginScript(static_cast<std::size_t>(state.range(0))),
               script::compiler::testing::PluginHostSettings);
}
BENCHMARK(BM_CompilePluginCode)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace
