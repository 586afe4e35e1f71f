#include "terminal/receive_format.h"

#include <array>
#include <cctype>
#include <cmath>

#include "platform/rtl/exceptions.h"

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

// Decimal without padding; Value may be negative.
void AppendInt(std::string& Out, long long Value, int MinDigits) {
    if (Value < 0) {
        Out.push_back('-');
        Value = -Value;
    }
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + Value % 10));
        Value /= 10;
    } while (Value > 0);
    if (static_cast<int>(digits.size()) < MinDigits)
        Out.append(static_cast<size_t>(MinDigits) - digits.size(), '0');
    Out += digits;
}

int HexValue(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
}

int HexValueAnyCase(char C) {
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    return HexValue(C);
}

[[noreturn]] void RaiseNotInteger(std::string_view Text) {
    throw rtl::EConvertError("'" + std::string(Text) + "' is not a valid integer value");
}

// A decimal integer with an optional sign, within the 32-bit range.
std::int32_t ParseDecimal(std::string_view Token) {
    size_t i = 0;
    bool negative = false;
    if (i < Token.size() && (Token[i] == '-' || Token[i] == '+')) negative = Token[i++] == '-';
    if (i == Token.size()) RaiseNotInteger(Token);
    long long value = 0;
    for (; i < Token.size(); ++i) {
        if (Token[i] < '0' || Token[i] > '9') RaiseNotInteger(Token);
        value = value * 10 + (Token[i] - '0');
        if (value > 2147483648LL) RaiseNotInteger(Token);
    }
    if (negative) value = -value;
    if (value > 2147483647LL) RaiseNotInteger(Token);
    return static_cast<std::int32_t>(value);
}

// "$" + Token read as hexadecimal: up to 8 digits, wrapping into 32 bits.
std::uint32_t ParseHex(std::string_view Token) {
    if (Token.empty() || Token.size() > 8) RaiseNotInteger("$" + std::string(Token));
    std::uint32_t value = 0;
    for (char c : Token) {
        int digit = HexValueAnyCase(c);
        if (digit < 0) RaiseNotInteger("$" + std::string(Token));
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
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

constexpr std::array<const char*, 12> kShortMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 12> kLongMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kShortDays = {"Sun", "Mon", "Tue", "Wed",
                                                   "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 7> kLongDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};

constexpr long long kMSecsPerDay = 86400000LL;
// 1899-12-30 counted from 1970-01-01.
constexpr long long kDelphiEpochUnixDays = -25569;

// Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
void CivilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

long long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// True when an am/pm marker follows position Pos in the format.
bool TwelveHourClockAfter(std::string_view Format, size_t Pos) {
    for (size_t i = Pos; i < Format.size(); ++i) {
        char c = Format[i];
        if (c == '\'' || c == '"') {
            size_t close = Format.find(c, i + 1);
            if (close == std::string_view::npos) return false;
            i = close;
            continue;
        }
        if (c == 'a' || c == 'A') {
            std::string rest;
            for (size_t k = i; k < Format.size() && k < i + 5; ++k)
                rest.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(Format[k]))));
            if (rest.rfind("AM/PM", 0) == 0 || rest.rfind("A/P", 0) == 0 ||
                rest.rfind("AMPM", 0) == 0)
                return true;
        }
    }
    return false;
}

size_t CountRun(std::string_view Format, size_t Pos, char Upper) {
    size_t n = 0;
    while (Pos + n < Format.size() &&
           std::toupper(static_cast<unsigned char>(Format[Pos + n])) == Upper)
        ++n;
    return n;
}

bool StartsWithNoCase(std::string_view Text, size_t Pos, std::string_view Prefix) {
    if (Pos + Prefix.size() > Text.size()) return false;
    for (size_t i = 0; i < Prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(Text[Pos + i])) != Prefix[i]) return false;
    return true;
}

void AppendFormatted(std::string& Out, std::string_view Format, const TDateTimeParts& P,
                     int Depth);

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

TDateTimeParts DecodeDateTime(double Time) {
    TDateTimeParts p;
    if (!std::isfinite(Time)) return p;
    // Whole days and the time of day, as the runtime library splits them:
    // before 1899-12-30 the fraction still counts forward from midnight.
    double whole = std::trunc(Time);
    // Clamp far outside any real date so the arithmetic below stays defined.
    if (whole > 1e9) whole = 1e9;
    if (whole < -1e9) whole = -1e9;
    long long days = static_cast<long long>(whole);
    long long ms = std::llround(std::fabs(Time - std::trunc(Time)) * kMSecsPerDay);
    if (ms >= kMSecsPerDay) {
        ms -= kMSecsPerDay;
        days += 1;
    }
    p.DayNumber = days;
    p.MSecOfDay = static_cast<int>(ms);
    CivilFromDays(days + kDelphiEpochUnixDays, p.Year, p.Month, p.Day);
    p.Hour = static_cast<int>(ms / 3600000);
    p.Minute = static_cast<int>(ms / 60000 % 60);
    p.Second = static_cast<int>(ms / 1000 % 60);
    p.MSec = static_cast<int>(ms % 1000);
    return p;
}

double EncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MSec) {
    const long long days = DaysFromCivil(Year, Month, Day) - kDelphiEpochUnixDays;
    const double frac =
        (((Hour * 60.0 + Minute) * 60.0 + Second) * 1000.0 + MSec) / static_cast<double>(kMSecsPerDay);
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

namespace {

void AppendFormatted(std::string& Out, std::string_view Format, const TDateTimeParts& P,
                     int Depth) {
    char lastToken = ' ';
    size_t i = 0;
    while (i < Format.size()) {
        const char c = Format[i];
        char token = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (token >= 'A' && token <= 'Z') {
            if (token == 'M' && lastToken == 'H') token = 'N';
            lastToken = token;
        }
        switch (token) {
            case 'Y': {
                size_t n = CountRun(Format, i, 'Y');
                if (n <= 2)
                    AppendInt(Out, P.Year % 100, 2);
                else
                    AppendInt(Out, P.Year, 4);
                i += n;
                break;
            }
            case 'M': {
                size_t n = CountRun(Format, i, 'M');
                if (n <= 2)
                    AppendInt(Out, P.Month, static_cast<int>(n));
                else
                    Out += (n == 3 ? kShortMonths : kLongMonths)[static_cast<size_t>(P.Month - 1)];
                i += n;
                break;
            }
            case 'D': {
                size_t n = CountRun(Format, i, 'D');
                // 1899-12-30 was a Saturday.
                const auto weekday = static_cast<size_t>(((P.DayNumber + 6) % 7 + 7) % 7);
                if (n <= 2)
                    AppendInt(Out, P.Day, static_cast<int>(n));
                else if (n == 3)
                    Out += kShortDays[weekday];
                else if (n == 4)
                    Out += kLongDays[weekday];
                else if (Depth == 0)
                    AppendFormatted(Out, "dd/mm/yyyy", P, Depth + 1);
                i += n;
                break;
            }
            case 'H': {
                size_t n = CountRun(Format, i, 'H');
                int hour = P.Hour;
                if (TwelveHourClockAfter(Format, i + n)) {
                    hour %= 12;
                    if (hour == 0) hour = 12;
                }
                AppendInt(Out, hour, n >= 2 ? 2 : 1);
                i += n;
                break;
            }
            case 'N': {
                size_t n = CountRun(Format, i, static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
                AppendInt(Out, P.Minute, n >= 2 ? 2 : 1);
                i += n;
                break;
            }
            case 'S': {
                size_t n = CountRun(Format, i, 'S');
                AppendInt(Out, P.Second, n >= 2 ? 2 : 1);
                i += n;
                break;
            }
            case 'Z': {
                size_t n = CountRun(Format, i, 'Z');
                AppendInt(Out, P.MSec, n >= 3 ? 3 : 1);
                i += n;
                break;
            }
            case 'T': {
                size_t n = CountRun(Format, i, 'T');
                if (Depth == 0) AppendFormatted(Out, n == 1 ? "hh:nn" : "hh:nn:ss", P, Depth + 1);
                i += n;
                break;
            }
            case 'C':
                if (Depth == 0) AppendFormatted(Out, "dd/mm/yyyy hh:nn:ss", P, Depth + 1);
                ++i;
                break;
            case 'A':
                // The marker's own letters are copied, so its case is kept.
                if (StartsWithNoCase(Format, i, "AM/PM")) {
                    Out.append(Format.substr(i + (P.Hour >= 12 ? 3 : 0), 2));
                    i += 5;
                } else if (StartsWithNoCase(Format, i, "A/P")) {
                    Out.push_back(Format[i + (P.Hour >= 12 ? 2 : 0)]);
                    i += 3;
                } else if (StartsWithNoCase(Format, i, "AMPM")) {
                    Out += P.Hour >= 12 ? "PM" : "AM";
                    i += 4;
                } else {
                    Out.push_back(c);
                    ++i;
                }
                break;
            case '\'':
            case '"': {
                size_t close = Format.find(c, i + 1);
                if (close == std::string_view::npos) close = Format.size();
                Out.append(Format.substr(i + 1, close - i - 1));
                i = close + 1;
                break;
            }
            default:
                Out.push_back(c);
                ++i;
                break;
        }
    }
}

}  // namespace

std::string FormatPanelDateTime(std::string_view Format, double Time) {
    std::string out;
    AppendFormatted(out, Format, DecodeDateTime(Time), 0);
    return out;
}

std::string FormatPrefixTime(int RVPnlTime, std::string_view FreeFormat, double Time) {
    if (RVPnlTime < tpMinutes || RVPnlTime > tpFreeFormat) return {};
    if (RVPnlTime == tpFreeFormat) return FormatPanelDateTime(FreeFormat, Time);
    const TDateTimeParts p = DecodeDateTime(Time);
    std::string out;
    AppendDecimal(out, static_cast<unsigned>(p.Hour), 2);
    out.push_back(':');
    AppendDecimal(out, static_cast<unsigned>(p.Minute), 2);
    if (RVPnlTime >= tpSeconds) {
        out.push_back(':');
        AppendDecimal(out, static_cast<unsigned>(p.Second), 2);
    }
    if (RVPnlTime == tpMilliseconds) {
        out.push_back('.');
        AppendDecimal(out, static_cast<unsigned>(p.MSec), 3);
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
    long long unit = 0;
    switch (RVPnlTime) {
        case tpMinutes: unit = 60000; break;
        case tpSeconds: unit = 1000; break;
        case tpMilliseconds: unit = 1; break;
        case tpFreeFormat:
            return FormatPanelDateTime(FreeFormat, LineTime) != FormatPanelDateTime(FreeFormat, Now);
        default: return false;
    }
    const TDateTimeParts a = DecodeDateTime(LineTime);
    const TDateTimeParts b = DecodeDateTime(Now);
    return a.DayNumber != b.DayNumber || a.MSecOfDay / unit != b.MSecOfDay / unit;
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
                const bool hex = Format == dfHEX || Format == dfHW;
                const std::uint32_t value =
                    hex ? ParseHex(token) : static_cast<std::uint32_t>(ParseDecimal(token));
                bytes.push_back(static_cast<char>(value & 0xFF));
                if (IsWordFormat(Format)) bytes.push_back(static_cast<char>((value >> 8) & 0xFF));
            });
            break;
        case dfBIN:
            ForEachToken(Data, [&](std::string_view token) {
                bytes.push_back(static_cast<char>(BinTextToByte(token)));
            });
            break;
        default:
            break;
    }
    return bytes;
}

}  // namespace terminal
