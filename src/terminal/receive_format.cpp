#include "terminal/receive_format.h"

#include <array>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/numbers.h"

namespace terminal {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Appends Value as exactly Digits decimal digits (leading zeros).
void AppendDecimal(std::string& Out, unsigned Value, int Digits) {
    char buf[10];
    for (int i = Digits - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + Value % 10);
        Value /= 10;
    }
    Out.append(buf, static_cast<size_t>(Digits));
}

void AppendHex(std::string& Out, unsigned Value, int Digits) {
    char buf[8];
    for (int i = Digits - 1; i >= 0; --i) {
        buf[i] = kHexDigits[Value & 0xF];
        Value >>= 4;
    }
    Out.append(buf, static_cast<size_t>(Digits));
}

int HexValue(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
}

template <typename Fn>
void ForEachToken(std::string_view Data, Fn&& Visit) {
    size_t pos = 0;
    while (pos < Data.size()) {
        size_t end = Data.find(' ', pos);
        if (end == std::string_view::npos) end = Data.size();
        if (end > pos) Visit(Data.substr(pos, end - pos));
        pos = end + 1;
    }
}

// The date and time parts of a time stamp, to the millisecond.
struct TStampParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, MSec = 0;
};

TStampParts SplitStamp(double Time) {
    TStampParts p;
    rtl::DecodeDate(Time, p.Year, p.Month, p.Day);
    rtl::DecodeTime(Time, p.Hour, p.Minute, p.Second, p.MSec);
    return p;
}

}  // namespace

std::string_view DataFormatName(TDataFormat Format) {
    static constexpr std::array<std::string_view, 8> names = {"DEC", "HEX", "DW",  "HW",
                                                              "ASC", "BIN", "ERR", "MSG"};
    return Format < names.size() ? names[Format] : std::string_view();
}

int AppendToken(std::string& Out, TDataFormat Format, std::uint16_t Value, bool ShowNonVisible) {
    switch (Format) {
        case dfDEC:
            AppendDecimal(Out, Value & 0xFF, 3);
            return 3;
        case dfHEX:
            AppendHex(Out, Value & 0xFF, 2);
            return 2;
        case dfDW:
            AppendDecimal(Out, Value, 5);
            return 5;
        case dfHW:
            AppendHex(Out, Value, 4);
            return 4;
        case dfASC: {
            const auto b = static_cast<std::uint8_t>(Value);
            if (IsAscVisible(b)) {
                Out.push_back(static_cast<char>(b));
                return 1;
            }
            Out.push_back(NonVisibleMark);
            AppendHex(Out, b, 2);
            return ShowNonVisible ? 3 : 1;
        }
        case dfBIN: {
            char bits[8];
            for (int i = 0; i < 8; ++i) bits[i] = (Value & (0x80u >> i)) ? '1' : '0';
            Out.append(bits, 8);
            return 8;
        }
        default:
            return 0;
    }
}

namespace {

// The token of every byte value in a fixed-width format, side by side.
template <int Width, typename Fill>
constexpr std::array<char, 256 * Width> TokenTable(Fill fill) {
    std::array<char, 256 * Width> table{};
    for (int b = 0; b < 256; ++b) fill(b, table.data() + b * Width);
    return table;
}

constexpr auto kDecTokens = TokenTable<3>([](int b, char* out) {
    out[0] = static_cast<char>('0' + b / 100);
    out[1] = static_cast<char>('0' + b / 10 % 10);
    out[2] = static_cast<char>('0' + b % 10);
});
constexpr auto kHexTokens = TokenTable<2>([](int b, char* out) {
    out[0] = kHexDigits[b >> 4];
    out[1] = kHexDigits[b & 0xF];
});
constexpr auto kBinTokens = TokenTable<8>([](int b, char* out) {
    for (int i = 0; i < 8; ++i) out[i] = (b & (0x80 >> i)) ? '1' : '0';
});

template <int Width>
void AppendSpaced(std::string& Out, const std::array<char, 256 * Width>& Table, const std::uint8_t* Data,
                  std::size_t Count) {
    const std::size_t at = Out.size();
    Out.resize(at + Count * (Width + 1));
    char* p = Out.data() + at;
    for (std::size_t k = 0; k < Count; ++k) {
        *p++ = ' ';
        for (int i = 0; i < Width; ++i) *p++ = Table[static_cast<std::size_t>(Data[k]) * Width + i];
    }
}

}  // namespace

void AppendSpacedTokens(std::string& Out, TDataFormat Format, const std::uint8_t* Data, std::size_t Count) {
    switch (Format) {
        case dfDEC: AppendSpaced<3>(Out, kDecTokens, Data, Count); break;
        case dfHEX: AppendSpaced<2>(Out, kHexTokens, Data, Count); break;
        case dfBIN: AppendSpaced<8>(Out, kBinTokens, Data, Count); break;
        default: break;
    }
}

std::string ByteToBinText(std::uint8_t B) {
    std::string s;
    AppendToken(s, dfBIN, B, false);
    return s;
}

std::uint8_t BinTextToByte(std::string_view S) {
    rtl::Assert(S.size() == 8, "Length(s) = 8");
    unsigned value = 0;
    for (char c : S) value = value * 2 + static_cast<unsigned>(static_cast<unsigned char>(c) - 48);
    return static_cast<std::uint8_t>(value);
}

std::string HideNonVisibleCodes(std::string_view Text) {
    size_t first = Text.find(NonVisibleMark);
    if (first == std::string_view::npos) return std::string(Text);
    std::string out(Text.substr(0, first));
    for (size_t i = first; i < Text.size();) {
        out.push_back(Text[i]);
        i += Text[i] == NonVisibleMark ? 3 : 1;
    }
    return out;
}

std::string FormatPrefixTime(int RVPnlTime, std::string_view FreeFormat, double Time) {
    if (RVPnlTime < tpMinutes || RVPnlTime > tpFreeFormat) return {};
    if (RVPnlTime == tpFreeFormat) return rtl::FormatDateTime(std::string(FreeFormat), Time);
    // The fixed resolutions are written directly: this runs for every line.
    int hour = 0, minute = 0, second = 0, msec = 0;
    rtl::DecodeTime(Time, hour, minute, second, msec);
    std::string out;
    AppendDecimal(out, static_cast<unsigned>(hour), 2);
    out.push_back(':');
    AppendDecimal(out, static_cast<unsigned>(minute), 2);
    if (RVPnlTime >= tpSeconds) {
        out.push_back(':');
        AppendDecimal(out, static_cast<unsigned>(second), 2);
    }
    if (RVPnlTime == tpMilliseconds) {
        out.push_back('.');
        AppendDecimal(out, static_cast<unsigned>(msec), 3);
    }
    return out;
}

std::string FormatLinePrefix(const TPrefixStyle& Style, std::uint8_t Dir, double Time) {
    static constexpr char marks[] = {'<', '\xAB', '>'};
    std::string prefix = FormatPrefixTime(Style.RVPnlTime, Style.FreeFormat, Time);
    const bool mark = Style.Mark && Dir < sizeof(marks);
    const std::size_t room = MaxPrefixLen - (mark ? 1 : 0);
    if (prefix.size() > room) prefix.resize(room);
    if (mark) prefix.push_back(marks[Dir]);
    return prefix;
}

bool TimeChangedAtResolution(int RVPnlTime, std::string_view FreeFormat, double LineTime,
                             double Now) {
    if (RVPnlTime == tpFreeFormat) {
        const std::string format(FreeFormat);
        return rtl::FormatDateTime(format, LineTime) != rtl::FormatDateTime(format, Now);
    }
    if (RVPnlTime < tpMinutes || RVPnlTime > tpMilliseconds) return false;
    const TStampParts a = SplitStamp(LineTime);
    const TStampParts b = SplitStamp(Now);
    if (a.Year != b.Year || a.Month != b.Month || a.Day != b.Day || a.Hour != b.Hour ||
        a.Minute != b.Minute)
        return true;
    if (RVPnlTime >= tpSeconds && a.Second != b.Second) return true;
    return RVPnlTime == tpMilliseconds && a.MSec != b.MSec;
}

std::string DecodeLineBytes(TDataFormat Format, std::string_view Data) {
    std::string bytes;
    switch (Format) {
        case dfASC:
            for (size_t i = 0; i < Data.size(); ++i) {
                if (Data[i] == NonVisibleMark && i + 2 < Data.size()) {
                    const int hi = HexValue(Data[i + 1]);
                    const int lo = HexValue(Data[i + 2]);
                    if (hi >= 0 && lo >= 0) {
                        bytes.push_back(static_cast<char>(hi * 16 + lo));
                        i += 2;
                        continue;
                    }
                }
                bytes.push_back(Data[i]);
            }
            break;
        case dfDEC:
        case dfDW:
        case dfHEX:
        case dfHW:
            ForEachToken(Data, [&](std::string_view token) {
                // Read as the runtime reads integers, so its conversion error
                // names the text ("$" + token in the hexadecimal formats).
                const bool hex = Format == dfHEX || Format == dfHW;
                const auto value = static_cast<std::uint32_t>(
                    rtl::StrToInt(hex ? std::string("$").append(token) : std::string(token)));
                bytes.push_back(static_cast<char>(value & 0xFF));
                if (IsWordFormat(Format)) bytes.push_back(static_cast<char>((value >> 8) & 0xFF));
            });
            break;
        case dfBIN:
            ForEachToken(Data, [&](std::string_view token) {
                // A line edited or loaded from a file may hold anything: what
                // is not eight binary digits is a conversion error naming it.
                if (token.size() != 8 || token.find_first_not_of("01") != std::string_view::npos)
                    throw rtl::EConvertError("'" + std::string(token) + "' is not a valid binary value");
                bytes.push_back(static_cast<char>(BinTextToByte(token)));
            });
            break;
        default:
            break;
    }
    return bytes;
}

}  // namespace terminal
