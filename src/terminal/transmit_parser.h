#pragma once
// The transmit line parser: turns the text of the transmit box into the
// transmit buffer (bytes plus one flag word per byte), steps the values that
// change after every transmission and writes the line text back from the
// buffer. It holds no user interface; the main window passes in everything a
// parse depends on and shows the errors it raises.
#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/exceptions.h"

namespace terminal {

// Input formats of the transmit line (setting TRFormat).
constexpr int trfDec = 0;
constexpr int trfHex = 1;
constexpr int trfAsc = 2;

// Flag word of a transmit buffer byte. Only the first byte of a multi-byte
// token carries flags; the other bytes of the token hold 0.
constexpr std::uint16_t tfStepUp = 0x0001;    // "+": add 1 after each transmission
constexpr std::uint16_t tfStepDown = 0x0002;  // "-": subtract 1 after each transmission
constexpr std::uint16_t tfRandom = 0x0004;    // "?": new random value after each transmission
constexpr std::uint16_t tfReverse = 0x0008;   // "R": most significant byte first
constexpr std::uint16_t tfPause = 0x0020;     // "P": not sent; wait value x 10 ms here
constexpr std::uint16_t tfQuoted = 0x0040;    // a byte of quoted text
constexpr std::uint16_t tfDollar = 0x0080;    // written with a leading "$"
constexpr std::uint16_t tfTypeMask = 0x0700;  // the type field, bits 8-10
constexpr std::uint16_t tfTypeByte = 0x0000;
constexpr std::uint16_t tfTypeWord = 0x0100;    // "W"
constexpr std::uint16_t tfTypeLong = 0x0200;    // "L"
constexpr std::uint16_t tfTypeQuad = 0x0300;    // "Q"
constexpr std::uint16_t tfTypeSingle = 0x0400;  // "F"
constexpr std::uint16_t tfTypeDouble = 0x0500;  // "D"
constexpr std::uint16_t tfStepMask = tfStepUp | tfStepDown | tfRandom;

// Byte size of a token from its flag word's type field.
int TokenSize(std::uint16_t flags);

// A parse error. Errors that point at a span of the line carry it in front of
// the text: "_", the first and last position (1-based) joined by "-" or one
// position, "_" (see SplitPositionedMessage).
class ETransmitParseError : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

// Everything a parse depends on besides the text itself.
struct TTransmitParseOptions {
    int TrFormat = trfDec;      // trfDec, trfHex or trfAsc
    std::string LineBreak;      // appended to the text in ASC format
    bool RS485Mode = false;     // the RS-485 box is checked: pauses are refused
    bool PluginLoaded = false;  // a plug-in is loaded: pauses are refused

    bool operator==(const TTransmitParseOptions&) const = default;
};

// An error text split into the span of the line to select and the message
// proper. SelStart counts from 0, as edit controls do; HasSpan is false when
// the text carries no position.
struct TPositionedMessage {
    bool HasSpan = false;
    int SelStart = 0;
    int SelLength = 0;
    std::string Message;
};
TPositionedMessage SplitPositionedMessage(const std::string& text);

// One write of a transmission: Length bytes at Offset of the buffer (possibly
// none), then, when PauseAfter is set, a wait of PauseMs milliseconds.
struct TTransmitSegment {
    std::size_t Offset = 0;
    std::size_t Length = 0;
    bool PauseAfter = false;
    int PauseMs = 0;
};

class TTransmitParser {
public:
    static constexpr int MaxTransmitLen = 65536;

    TTransmitParser();

    // Parses text into the buffer when the line is marked for parsing or any
    // of the options differs from the last parse; otherwise keeps the buffer
    // of the last parse with its stepped values. Returns whether it parsed.
    // On failure the buffer is emptied, the line stays marked for parsing and
    // ETransmitParseError is raised.
    bool ParseTransmitLine(std::string_view text, const TTransmitParseOptions& options);

    // Converts one DEC or HEX token and appends its bytes; errors carry no
    // position (ParseTransmitLine adds the token's span).
    void ParseNumericToken(std::string_view token, const TTransmitParseOptions& options);

    // Steps the marked values in the buffer, then returns the line text
    // written from the buffer in the format of the last parse.
    std::string RebuildTransmitText();

    // Size bytes of random value: 1 -> 0..255, 2 -> 0..65535,
    // 4 -> 0..2147483646, any other size -> 0.
    std::uint64_t RandomValue(int size);
    void SeedRandom(std::uint32_t seed) { random_.seed(seed); }

    // Reverses the byte order of the low Size bytes (2, 4 or 8) of Value.
    static std::uint64_t ReverseBytes(std::uint64_t value, int size);

    // Forces the next ParseTransmitLine to parse (the line text changed, a
    // pattern was chosen, the input format, RS-485 mode or the plug-in changed).
    void MarkForParse() { parseNeeded_ = true; }

    bool ParseNeeded() const { return parseNeeded_; }
    bool StepTokens() const { return stepTokens_; }
    int TransmitLen() const { return transmitLen_; }
    std::span<const std::uint8_t> TransmitBuffer() const {
        return {buffer_.data(), static_cast<std::size_t>(transmitLen_)};
    }
    std::span<const std::uint16_t> TransmitFlags() const {
        return {flags_.data(), static_cast<std::size_t>(transmitLen_)};
    }

    // The writes of one transmission: the buffer cut at its pause bytes.
    // Pause bytes themselves are never part of a segment.
    std::vector<TTransmitSegment> TransmitSegments() const;

private:
    void ParseAscii(std::string_view text, const std::string& lineBreak);
    void ParseNumeric(std::string_view text, const TTransmitParseOptions& options);
    void Append(std::uint8_t byte, std::uint16_t flags);
    void StoreValue(std::uint64_t value, int size, std::uint16_t flags);
    std::uint64_t ReadValue(int pos, int size, bool reversed) const;
    void WriteValue(int pos, int size, bool reversed, std::uint64_t value);

    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint16_t> flags_;
    int transmitLen_ = 0;
    bool parseNeeded_ = true;
    bool stepTokens_ = false;
    TTransmitParseOptions lastOptions_;
    std::mt19937 random_;
};

}  // namespace terminal
