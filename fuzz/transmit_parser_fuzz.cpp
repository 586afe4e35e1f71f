// Any line in any input format either parses or raises the parser's own
// error; a line that parsed and steps rebuilds to a text that parses back to
// exactly the stepped buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/transmit_parser.h"

namespace {

const char* const kLineBreaks[] = {"\r", "\n", "\r\n", "", ""};

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t selector = data[0];
    terminal::TTransmitParseOptions options;
    options.TrFormat = selector % 3;
    options.LineBreak = (selector / 3) % 5 == 3 ? std::string(1, '\0') : kLineBreaks[(selector / 3) % 5];
    options.RS485Mode = (selector & 0x40) != 0;
    options.PluginLoaded = (selector & 0x80) != 0;
    // A copy of exactly the input, so that a read past the line is caught.
    const std::vector<char> line(data + 1, data + size);
    const std::string_view text(line.data(), line.size());

    terminal::TTransmitParser parser;
    parser.SeedRandom(selector);
    try {
        parser.ParseTransmitLine(text, options);
    } catch (const terminal::ETransmitParseError& e) {
        Check(parser.TransmitLen() == 0 && parser.ParseNeeded());
        const auto split = terminal::SplitPositionedMessage(e.Message);
        if (split.HasSpan)
            Check(split.SelStart >= 0 && split.SelLength > 0 &&
                  static_cast<std::size_t>(split.SelStart) < text.size() + options.LineBreak.size());
        return 0;
    }
    Check(parser.TransmitLen() <= terminal::TTransmitParser::MaxTransmitLen);
    Check(!parser.ParseNeeded());
    (void)parser.TransmitSegments();
    if (!parser.StepTokens()) return 0;

    for (int round = 0; round < 2; ++round) {
        const std::string rebuilt = parser.RebuildTransmitText();
        terminal::TTransmitParser again;
        again.ParseTransmitLine(rebuilt, options);  // must not raise
        const auto a = parser.TransmitBuffer(), b = again.TransmitBuffer();
        Check(std::vector<std::uint8_t>(a.begin(), a.end()) == std::vector<std::uint8_t>(b.begin(), b.end()));
        const auto fa = parser.TransmitFlags(), fb = again.TransmitFlags();
        Check(std::vector<std::uint16_t>(fa.begin(), fa.end()) == std::vector<std::uint16_t>(fb.begin(), fb.end()));
    }
    return 0;
}
