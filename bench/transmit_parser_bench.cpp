// Parse-and-step of a 64 KB transmit line: what a repeating timer
// transmission costs when the line was just edited (parse) and on every send
// (step and rebuild the text).
#include <benchmark/benchmark.h>

#include <string>

#include "terminal/transmit_parser.h"

namespace {

std::string RepeatTo(const std::string& unit, std::size_t size) {
    std::string line;
    while (line.size() + unit.size() <= size) line += unit;
    return line;
}

void ParseAndStep(benchmark::State& state, const std::string& line, const terminal::TTransmitParseOptions& options) {
    terminal::TTransmitParser parser;
    parser.SeedRandom(1);
    for (auto _ : state) {
        parser.MarkForParse();
        parser.ParseTransmitLine(line, options);
        std::string text = parser.RebuildTransmitText();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(line.size()));
    state.counters["buffer_bytes"] = parser.TransmitLen();
}

void StepOnly(benchmark::State& state, const std::string& line, const terminal::TTransmitParseOptions& options) {
    terminal::TTransmitParser parser;
    parser.SeedRandom(1);
    parser.ParseTransmitLine(line, options);
    for (auto _ : state) {
        parser.ParseTransmitLine(line, options);  // unchanged line: no parse
        std::string text = parser.RebuildTransmitText();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(line.size()));
}

const terminal::TTransmitParseOptions kDec{terminal::trfDec, "", false, false};
const terminal::TTransmitParseOptions kHex{terminal::trfHex, "", false, false};
const terminal::TTransmitParseOptions kAsc{terminal::trfAsc, "\r\n", false, false};

const std::string kDecLine = RepeatTo("200+ 65535W- $7F 9? \"ab\" ", 65536);
const std::string kHexLine = RepeatTo("C8+ FFFFW- 7F ? \"ab\" ", 65536);
const std::string kAscLine = RepeatTo("text\\t\\x41\\r\\n", 65000);

void BM_dec_line_parse_and_step(benchmark::State& state) { ParseAndStep(state, kDecLine, kDec); }
void BM_hex_line_parse_and_step(benchmark::State& state) { ParseAndStep(state, kHexLine, kHex); }
void BM_dec_line_step_only(benchmark::State& state) { StepOnly(state, kDecLine, kDec); }
void BM_hex_line_step_only(benchmark::State& state) { StepOnly(state, kHexLine, kHex); }
void BM_asc_line_parse(benchmark::State& state) {
    terminal::TTransmitParser parser;
    for (auto _ : state) {
        parser.MarkForParse();
        parser.ParseTransmitLine(kAscLine, kAsc);
        benchmark::DoNotOptimize(parser.TransmitBuffer().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kAscLine.size()));
}

}  // namespace

BENCHMARK(BM_dec_line_parse_and_step);
BENCHMARK(BM_hex_line_parse_and_step);
BENCHMARK(BM_dec_line_step_only);
BENCHMARK(BM_hex_line_step_only);
BENCHMARK(BM_asc_line_parse);
