#include "terminal/transmit_parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace terminal {

namespace {

constexpr char kTooMuchData[] = "Too much data to transmit (more than 65536 bytes)";
constexpr char kPauseInRS485[] = "\"Pause\" command is not allowed when \"RS-485 mode\" is on";
constexpr char kPauseWithPlugin[] =
    "\"Pause\" command is not allowed when you use a plugin. You should use script "
    "function \"Sleep\" or \"NBSleep\" inside plugin instead";

// Number text is built without the process locale, which may use "," for the
// decimal point.
std::string IntText(long long value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

std::string UIntText(std::uint64_t value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

// Upper-case hexadecimal with at least two digits.
std::string HexText(std::uint64_t value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value, 16);
    std::string text(buf, res.ptr);
    for (char& c : text) {
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
    if (text.size() < 2) text.insert(0, 2 - text.size(), '0');
    return text;
}

char UpCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = UpCase(c);
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Positioned(int first, int last, const std::string& message) {
    return "_" + IntText(first) + "-" + IntText(last) + "_" + message;
}

std::string Positioned(int pos, const std::string& message) {
    return "_" + IntText(pos) + "_" + message;
}

// An integer as the runtime reads one: an optional sign, then decimal digits,
// or "$" and hexadecimal digits. Nothing else, not even blanks.
struct TIntegerText {
    bool Negative = false;
    bool Hex = false;
    std::uint64_t Magnitude = 0;
};

std::optional<TIntegerText> ReadIntegerText(std::string_view s) {
    TIntegerText r;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        r.Negative = s[i] == '-';
        ++i;
    }
    if (i < s.size() && s[i] == '$') {
        r.Hex = true;
        ++i;
    }
    if (i == s.size()) return std::nullopt;
    const std::uint64_t base = r.Hex ? 16 : 10;
    for (; i < s.size(); ++i) {
        int d = r.Hex ? HexDigit(s[i]) : ((s[i] >= '0' && s[i] <= '9') ? s[i] - '0' : -1);
        if (d < 0) return std::nullopt;
        if (r.Magnitude > (std::numeric_limits<std::uint64_t>::max() - static_cast<std::uint64_t>(d)) / base)
            return std::nullopt;
        r.Magnitude = r.Magnitude * base + static_cast<std::uint64_t>(d);
    }
    return r;
}

// A floating-point number with "." as the decimal point: an optional sign,
// digits with at most one point (at least one digit), an optional exponent.
bool IsFloatText(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    int digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        int expDigits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == s.size();
}

template <typename T>
std::optional<T> ReadFloat(std::string_view s) {
    if (!IsFloatText(s)) return std::nullopt;
    if (s.front() == '+') s.remove_prefix(1);  // from_chars takes no plus sign
    T value{};
    auto res = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The stored bits of a float token's number.
template <typename T, typename Bits>
std::optional<std::uint64_t> FloatBits(std::string_view number) {
    static_assert(sizeof(T) == sizeof(Bits));
    const auto value = ReadFloat<T>(number);
    if (!value) return std::nullopt;
    Bits bits;
    std::memcpy(&bits, &*value, sizeof bits);
    return bits;
}

template <typename T>
std::string FloatText(T value) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

// The value of a numeric token's number for its type, as the bits to store.
std::optional<std::uint64_t> ConvertNumber(std::string_view number, std::uint16_t type) {
    if (type == tfTypeSingle) return FloatBits<float, std::uint32_t>(number);
    if (type == tfTypeDouble) return FloatBits<double, std::uint64_t>(number);
    auto parsed = ReadIntegerText(number);
    if (!parsed) return std::nullopt;
    const std::uint64_t mag = parsed->Magnitude;
    if (type == tfTypeQuad) {
        // Any 64-bit integer; hexadecimal text holds its two's complement bits.
        if (!parsed->Hex) {
            const std::uint64_t limit = parsed->Negative ? (std::uint64_t{1} << 63) : (std::uint64_t{1} << 63) - 1;
            if (mag > limit) return std::nullopt;
        }
        return parsed->Negative ? std::uint64_t{0} - mag : mag;
    }
    long long low = 0, high = 0;
    switch (type) {
        case tfTypeByte: low = -128; high = 255; break;
        case tfTypeWord: low = -32768; high = 65535; break;
        case tfTypeLong: low = -2147483648LL; high = 4294967295LL; break;
        default: return std::nullopt;
    }
    if (mag > std::uint64_t{1} << 32) return std::nullopt;
    const long long value = parsed->Negative ? -static_cast<long long>(mag) : static_cast<long long>(mag);
    if (value < low || value > high) return std::nullopt;
    return static_cast<std::uint64_t>(value);
}

std::uint64_t SizeMask(int size) {
    return size >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * size)) - 1;
}

}  // namespace

int TokenSize(std::uint16_t flags) {
    switch (flags & tfTypeMask) {
        case tfTypeWord: return 2;
        case tfTypeLong: return 4;
        case tfTypeQuad: return 8;
        case tfTypeSingle: return 4;
        case tfTypeDouble: return 8;
        default: return 1;
    }
}

TPositionedMessage SplitPositionedMessage(const std::string& text) {
    TPositionedMessage result;
    result.Message = text;
    if (text.empty() || text[0] != '_') return result;
    const std::size_t close = text.find('_', 1);
    if (close == std::string::npos) return result;
    const std::string_view span(text.data() + 1, close - 1);
    const std::size_t dash = span.find('-');
    const std::string_view firstText = span.substr(0, dash);
    const std::string_view lastText = dash == std::string_view::npos ? firstText : span.substr(dash + 1);
    auto readPos = [](std::string_view s) -> std::optional<int> {
        int v = 0;
        auto res = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.empty() || res.ec != std::errc() || res.ptr != s.data() + s.size() || v < 1) return std::nullopt;
        return v;
    };
    const auto first = readPos(firstText);
    const auto last = readPos(lastText);
    if (!first || !last || *last < *first) return result;
    result.HasSpan = true;
    result.SelStart = *first - 1;
    result.SelLength = *last - *first + 1;
    result.Message = text.substr(close + 1);
    return result;
}

TTransmitParser::TTransmitParser()
    : buffer_(MaxTransmitLen), flags_(MaxTransmitLen), random_(std::random_device{}()) {}

bool TTransmitParser::ParseTransmitLine(std::string_view text, const TTransmitParseOptions& options) {
    // A line parsed under other options must not be sent as it stands: a
    // pause byte parsed while pauses were allowed would otherwise go out as
    // data once RS-485 mode or a plug-in is switched on.
    if (!parseNeeded_ && options == lastOptions_) return false;
    parseNeeded_ = false;
    stepTokens_ = false;
    transmitLen_ = 0;
    lastOptions_ = options;
    try {
        if (options.TrFormat == trfAsc)
            ParseAscii(text, options.LineBreak);
        else
            ParseNumeric(text, options);
    } catch (...) {
        transmitLen_ = 0;
        stepTokens_ = false;
        parseNeeded_ = true;
        throw;
    }
    return true;
}

void TTransmitParser::Append(std::uint8_t byte, std::uint16_t flags) {
    if (transmitLen_ >= MaxTransmitLen) throw ETransmitParseError(kTooMuchData);
    buffer_[static_cast<std::size_t>(transmitLen_)] = byte;
    flags_[static_cast<std::size_t>(transmitLen_)] = flags;
    ++transmitLen_;
}

void TTransmitParser::ParseAscii(std::string_view line, const std::string& lineBreak) {
    std::string text(line);
    text += lineBreak;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const char c = text[i];
        if (c != '\\' || i + 1 >= n) {
            Append(static_cast<std::uint8_t>(c), 0);
            ++i;
            continue;
        }
        switch (UpCase(text[i + 1])) {
            case 'T': Append(9, 0); i += 2; break;
            case '0': Append(0, 0); i += 2; break;
            case 'N': Append(10, 0); i += 2; break;
            case 'R': Append(13, 0); i += 2; break;
            case '\\': Append('\\', 0); i += 2; break;
            case 'X': {
                const int hi = i + 2 < n ? HexDigit(text[i + 2]) : -1;
                const int lo = i + 3 < n ? HexDigit(text[i + 3]) : -1;
                if (hi < 0 || lo < 0) {
                    // Quote at most the four characters that the line holds.
                    const int xPos = static_cast<int>(i) + 2;
                    throw ETransmitParseError(Positioned(xPos, xPos + 2,
                                                         "Wrong HEX value (\"" + text.substr(i, 4) + "\")"));
                }
                Append(static_cast<std::uint8_t>(hi * 16 + lo), 0);
                i += 4;
                break;
            }
            default:
                // Not an escape: the backslash is an ordinary byte and the
                // next character is read normally.
                Append('\\', 0);
                ++i;
                break;
        }
    }
}

void TTransmitParser::ParseNumeric(std::string_view text, const TTransmitParseOptions& options) {
    const std::size_t n = text.size();
    std::size_t tokenStart = 0;  // index of the token's first character
    std::string token;
    // One step past the end: the end of the text counts as a NUL character.
    for (std::size_t i = 0; i <= n;) {
        const char c = i < n ? text[i] : '\0';
        if (c == '"' || c == '\'') {
            if (!token.empty()) throw ETransmitParseError(Positioned(static_cast<int>(i) + 1, "Unexpected quotation mark"));
            const std::size_t open = i;
            ++i;
            for (;;) {
                if (i >= n) throw ETransmitParseError(Positioned(static_cast<int>(open) + 1, "End quotation mark not found"));
                if (text[i] == c) {
                    if (i + 1 < n && text[i + 1] == c) {
                        Append(static_cast<std::uint8_t>(c), tfQuoted);
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                Append(static_cast<std::uint8_t>(text[i]), tfQuoted);
                ++i;
            }
            continue;
        }
        if (c == '\0' || c == ' ' || c == ',') {
            if (!token.empty()) {
                try {
                    ParseNumericToken(token, options);
                } catch (const rtl::Exception& e) {
                    throw ETransmitParseError(
                        Positioned(static_cast<int>(tokenStart) + 1, static_cast<int>(i), e.Message));
                }
                token.clear();
            }
            ++i;
            continue;
        }
        if (token.empty()) tokenStart = i;
        token += c;
        ++i;
    }
}

void TTransmitParser::ParseNumericToken(std::string_view written, const TTransmitParseOptions& options) {
    const bool hexMode = options.TrFormat == trfHex;
    std::string number(written);
    std::uint16_t flags = 0;

    if (!number.empty()) {
        switch (UpCase(number.back())) {
            case '+': flags |= tfStepUp; break;
            case '-': flags |= tfStepDown; break;
            case '?': flags |= tfRandom; break;
            case 'P':
                if (options.RS485Mode) throw ETransmitParseError(kPauseInRS485);
                if (options.PluginLoaded) throw ETransmitParseError(kPauseWithPlugin);
                flags |= tfPause;
                break;
            default: break;
        }
        if (flags != 0) number.pop_back();
    }
    if (!number.empty() && UpCase(number.back()) == 'R') {
        flags |= tfReverse;
        number.pop_back();
    }
    const bool dollar = !number.empty() && number.front() == '$';
    if (dollar) flags |= tfDollar;

    std::uint16_t type = tfTypeByte;
    if (!number.empty()) {
        switch (UpCase(number.back())) {
            case 'W': type = tfTypeWord; break;
            case 'L': type = tfTypeLong; break;
            case 'Q': type = tfTypeQuad; break;
            case 'F': if (!hexMode && !dollar) type = tfTypeSingle; break;
            case 'D': if (!hexMode && !dollar) type = tfTypeDouble; break;
            default: break;
        }
        if (type != tfTypeByte) number.pop_back();
    }
    flags |= type;
    const int size = TokenSize(flags);

    if (flags & (tfStepMask | tfPause)) {
        const bool incompatible = type == tfTypeSingle || type == tfTypeDouble ||
                                  ((flags & tfPause) && type != tfTypeByte) ||
                                  ((flags & tfRandom) && type == tfTypeQuad);
        if (incompatible)
            throw ETransmitParseError("Incompatible flags for token \"" + std::string(written) + "\"");
        if ((flags & tfRandom) && number.empty()) {
            const std::uint64_t r = RandomValue(size);
            number = hexMode ? HexText(r) : UIntText(r);
        }
    }
    if (hexMode) number.insert(0, 1, '$');

    const auto value = ConvertNumber(number, type);
    if (!value)
        throw ETransmitParseError("Token \"" + std::string(written) + "\" could not be converted to a number");
    if (transmitLen_ + size > MaxTransmitLen) throw ETransmitParseError(kTooMuchData);
    StoreValue(*value, size, flags);
    if (flags & tfStepMask) stepTokens_ = true;
}

void TTransmitParser::StoreValue(std::uint64_t value, int size, std::uint16_t flags) {
    const int pos = transmitLen_;
    transmitLen_ += size;
    WriteValue(pos, size, (flags & tfReverse) != 0, value);
    flags_[static_cast<std::size_t>(pos)] = flags;
    std::fill_n(flags_.begin() + pos + 1, size - 1, std::uint16_t{0});
}

std::uint64_t TTransmitParser::ReadValue(int pos, int size, bool reversed) const {
    std::uint64_t value = 0;
    for (int k = size - 1; k >= 0; --k) value = (value << 8) | buffer_[static_cast<std::size_t>(pos + k)];
    return reversed ? ReverseBytes(value, size) : value;
}

void TTransmitParser::WriteValue(int pos, int size, bool reversed, std::uint64_t value) {
    if (reversed) value = ReverseBytes(value, size);
    for (int k = 0; k < size; ++k) {
        buffer_[static_cast<std::size_t>(pos + k)] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

std::uint64_t TTransmitParser::ReverseBytes(std::uint64_t value, int size) {
    if (size != 2 && size != 4 && size != 8) return value;
    std::uint64_t result = 0;
    for (int k = 0; k < size; ++k) {
        result = (result << 8) | (value & 0xFF);
        value >>= 8;
    }
    return result;
}

std::uint64_t TTransmitParser::RandomValue(int size) {
    std::uint64_t high = 0;
    switch (size) {
        case 1: high = 255; break;
        case 2: high = 65535; break;
        case 4: high = 2147483646; break;
        default: return 0;
    }
    return std::uniform_int_distribution<std::uint64_t>(0, high)(random_);
}

std::string TTransmitParser::RebuildTransmitText() {
    const bool hexMode = lastOptions_.TrFormat == trfHex;
    std::string text;
    int pos = 0;
    while (pos < transmitLen_) {
        const std::uint16_t flags = flags_[static_cast<std::size_t>(pos)];
        if (flags & tfQuoted) {
            text += '"';
            while (pos < transmitLen_ && (flags_[static_cast<std::size_t>(pos)] & tfQuoted)) {
                const char c = static_cast<char>(buffer_[static_cast<std::size_t>(pos)]);
                if (c == '"') text += '"';
                text += c;
                ++pos;
            }
            text += "\" ";
            continue;
        }
        // Tokens were stored whole; clamp anyway so a damaged flag word can
        // never read past the bytes in use.
        const int size = std::min(TokenSize(flags), transmitLen_ - pos);
        const bool reversed = (flags & tfReverse) != 0;
        const std::uint16_t type = flags & tfTypeMask;
        std::uint64_t value = ReadValue(pos, size, reversed);
        if (flags & tfStepMask) {
            if (flags & tfStepUp)
                value += 1;
            else if (flags & tfStepDown)
                value -= 1;
            else
                value = RandomValue(size);
            value &= SizeMask(size);
            WriteValue(pos, size, reversed, value);
        }

        if (type == tfTypeSingle && size == 4) {
            const std::uint32_t bits = static_cast<std::uint32_t>(value);
            float f;
            std::memcpy(&f, &bits, sizeof f);
            text += FloatText(f);
        } else if (type == tfTypeDouble && size == 8) {
            double d;
            std::memcpy(&d, &value, sizeof d);
            text += FloatText(d);
        } else if (flags & tfDollar) {
            text += "$" + HexText(value);
        } else if (hexMode) {
            text += HexText(value);
        } else if (type == tfTypeQuad) {
            text += IntText(static_cast<long long>(value));
        } else {
            text += UIntText(value);
        }
        switch (type) {
            case tfTypeWord: text += 'W'; break;
            case tfTypeLong: text += 'L'; break;
            case tfTypeQuad: text += 'Q'; break;
            case tfTypeSingle: text += 'F'; break;
            case tfTypeDouble: text += 'D'; break;
            default: break;
        }
        if (reversed) text += 'R';
        if (flags & tfStepUp)
            text += '+';
        else if (flags & tfStepDown)
            text += '-';
        else if (flags & tfRandom)
            text += '?';
        else if (flags & tfPause)
            text += 'P';
        text += ' ';
        pos += size;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

std::vector<TTransmitSegment> TTransmitParser::TransmitSegments() const {
    std::vector<TTransmitSegment> segments;
    std::size_t start = 0;
    const std::size_t len = static_cast<std::size_t>(transmitLen_);
    for (std::size_t i = 0; i < len; ++i) {
        if (flags_[i] & tfPause) {
            segments.push_back({start, i - start, true, buffer_[i] * 10});
            start = i + 1;
        }
    }
    if (start < len) segments.push_back({start, len - start, false, 0});
    return segments;
}

}  // namespace terminal
