#include "graph/point_file.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "chart/engine/value_list.h"
#include "graph/graph_form.h"
#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "platform/vcl/file_save.h"
#include "platform/vcl/streams.h"

namespace graph {

namespace {

// ---- Writing

// Values from here on may need more than 15 digits to read back (the
// largest round up beyond the range of a double); below it they never do.
constexpr double kLargeValue = 1e308;

// A number as a point file holds it when it is large or no number: in the
// general format, with more than its usual 15 significant digits only where
// those would not read back.
std::string LargeNumberText(double Value) {
    std::string text = rtl::Format("%g", {Value});
    for (int digits = 16; digits <= 17; ++digits) {
        double back = 0;
        if (!std::isfinite(Value) || (rtl::TryStrToFloat(text, back) && std::isfinite(back))) break;
        text = rtl::FloatToStrF(Value, rtl::TFloatFormat::ffGeneral, digits, 0);
    }
    return text;
}

// Significant decimal digits of a magnitude: value = 0.Digits * 10^Exponent,
// no trailing zeros.
struct TDecimalDigits {
    char Digits[24];
    int Count = 0;
    int Exponent = 0;
};

// The digits of to_chars' scientific text "d.ddde+xx".
TDecimalDigits FromScientific(const char* First, const char* Last) {
    TDecimalDigits d;
    const char* e = std::find(First, Last, 'e');
    for (const char* p = First; p < e; ++p)
        if (*p != '.') d.Digits[d.Count++] = *p;
    int exp10 = 0;
    const char* at = e + 1;
    if (at < Last && *at == '+') ++at;
    std::from_chars(at, Last, exp10);
    d.Exponent = exp10 + 1;
    while (d.Count > 1 && d.Digits[d.Count - 1] == '0') --d.Count;
    return d;
}

// A positive finite magnitude correctly rounded to 15 significant digits.
// The shortest digits that read back are those digits when there are at
// most 15 of them; 16 or 17 of them round to the same 15 as the exact value
// does, except when they end exactly half-way (16 digits, the last a 5):
// there the exact value decides, at the slower fixed precision. Values
// below the normal range have fewer bits than 15 digits need, so the
// shortest digits tell nothing of them.
TDecimalDigits Digits15(double Magnitude) {
    char text[48];
    std::to_chars_result r{};
    if (Magnitude < std::numeric_limits<double>::min()) {
        r = std::to_chars(text, text + sizeof text, Magnitude, std::chars_format::scientific, 14);
        return FromScientific(text, r.ptr);
    }
    r = std::to_chars(text, text + sizeof text, Magnitude, std::chars_format::scientific);
    TDecimalDigits d = FromScientific(text, r.ptr);
    if (d.Count <= 15) return d;
    if (d.Count == 16 && d.Digits[15] == '5') {
        r = std::to_chars(text, text + sizeof text, Magnitude, std::chars_format::scientific, 14);
        return FromScientific(text, r.ptr);
    }
    const bool up = d.Digits[15] >= '5';
    d.Count = 15;
    if (up) {
        int i = 14;
        while (i >= 0 && d.Digits[i] == '9') d.Digits[i--] = '0';
        if (i < 0) {
            d.Digits[0] = '1';
            d.Count = 1;
            ++d.Exponent;
        } else {
            ++d.Digits[i];
        }
    }
    while (d.Count > 1 && d.Digits[d.Count - 1] == '0') --d.Count;
    return d;
}

// Longest text of a number: sign, 17 digits, point, "E-324".
constexpr std::size_t kMostNumberChars = 32;

// Puts Value in the general format at 15 significant digits: plain digits
// for exponents from -4 to 14 ("0.000123", "123456789012345"), else one
// digit, the rest after a point, "E" and the exponent ("1E20",
// "1.5E-5"); no trailing zeros, "0" for zero of either sign.
char* PutNumber(char* Out, double Value) {
    if (!(std::fabs(Value) < kLargeValue)) {
        const std::string text = LargeNumberText(Value);
        return std::copy(text.begin(), text.end(), Out);
    }
    if (Value == 0) {
        *Out++ = '0';
        return Out;
    }
    if (Value < 0) *Out++ = '-';
    const TDecimalDigits d = Digits15(std::fabs(Value));
    const char* digits = d.Digits;
    const int n = d.Count;
    const int e = d.Exponent;
    if (e > 15 || e < -3) {
        *Out++ = digits[0];
        if (n > 1) {
            *Out++ = rtl::DecimalSeparator;
            Out = std::copy(digits + 1, digits + n, Out);
        }
        *Out++ = 'E';
        return std::to_chars(Out, Out + 8, e - 1).ptr;
    }
    if (e <= 0) {
        *Out++ = '0';
        *Out++ = rtl::DecimalSeparator;
        Out = std::fill_n(Out, -e, '0');
        return std::copy(digits, digits + n, Out);
    }
    for (int i = 0; i < e; ++i) *Out++ = i < n ? digits[i] : '0';
    if (n > e) {
        *Out++ = rtl::DecimalSeparator;
        Out = std::copy(digits + e, digits + n, Out);
    }
    return Out;
}

// ---- Reading

// Bytes read from the file at a time.
constexpr std::int64_t kReadBlock = std::int64_t{1} << 20;

// The text of a file as an error message can show it: at most 64
// characters, then "...", and control characters (a NUL would end the
// message) as \xNN.
std::string Shown(std::string_view Text) {
    constexpr std::size_t kMost = 64;
    std::string shown;
    for (std::size_t i = 0; i < Text.size() && i < kMost; ++i) {
        const auto c = static_cast<unsigned char>(Text[i]);
        if (c < 0x20 || c == 0x7F)
            shown += "\\x" + rtl::IntToHex(static_cast<std::int32_t>(c), 2);
        else
            shown += Text[i];
    }
    if (Text.size() > kMost) shown += "...";
    return shown;
}

// A number of a point file: blanks around it, a sign, digits with at most
// one decimal point, an exponent; nothing else (no "INF", "NAN" or hex). A
// value too small for a double is zero; one beyond its range is no number.
bool ReadNumber(std::string_view Text, double& Value) {
    rtl::TDecimalText parts;
    if (!rtl::ScanDecimalText(Text, parts)) return false;
    double v = 0;
    const char* const end = Text.data() + parts.End;
    const auto r = std::from_chars(Text.data() + parts.Mantissa, end, v);
    // Beyond the range either way, or at its very edge: the general reader
    // decides (too small is zero, too large is refused).
    if (r.ec != std::errc() || r.ptr != end || v == std::numeric_limits<double>::max())
        return rtl::TryStrToFloat(std::string(Text.substr(parts.Begin, parts.End - parts.Begin)), Value);
    Value = parts.Negative ? -v : v;
    return true;
}

// A file of more points than the graph holds, found at line LineNo.
[[noreturn]] void TooMany(int LineNo) {
    throw rtl::EListError(rtl::Format(rtl::ListCapacityErrorText(), {LineNo}));
}

// Runs Line on every line of the file, without its end. Lines end at CR LF,
// CR or LF; a last line without an end counts too; a UTF-8 byte order mark
// before the first line (files that other programs wrote) means nothing.
// The file is read a block at a time.
template <class F>
void ForEachLine(vcl::TFileStream& File, F&& Line) {
    File.Seek(0, vcl::TSeekOrigin::soBeginning);
    std::int64_t left = File.Size();
    std::string text;
    bool first = true;
    while (left > 0) {
        const auto n = static_cast<std::int32_t>(std::min(kReadBlock, left));
        const std::size_t kept = text.size();
        text.resize(kept + static_cast<std::size_t>(n));
        File.ReadBuffer(text.data() + kept, n);
        left -= n;
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        const char* at = begin;
        if (std::exchange(first, false) && text.starts_with("\xEF\xBB\xBF")) at += 3;
        // The part of a line kept from the blocks before holds no line end
        // (but perhaps a CR as its last byte): it is not searched again, so
        // that a file without line ends is read in linear time.
        const char* const fresh = begin + (kept > 0 ? kept - 1 : 0);
        for (;;) {
            const char* stop = std::max(at, fresh);
            while (stop < end && *stop != '\r' && *stop != '\n') ++stop;
            // What follows the last whole line waits for the next block; so
            // does a CR at its end, which may be the first half of a CR LF.
            if (stop == end || (stop + 1 == end && *stop == '\r' && left > 0)) break;
            Line(std::string_view(at, static_cast<std::size_t>(stop - at)));
            at = stop + 1;
            if (*stop == '\r' && at < end && *at == '\n') ++at;
        }
        text.erase(0, static_cast<std::size_t>(at - begin));
    }
    if (!text.empty()) Line(std::string_view(text));
}

// Reads the lines of a point file into two value lists.
class TPointReader {
public:
    TPointReader(int MaxPoints, chart::engine::TChartValueList& X, chart::engine::TChartValueList& Y)
        : maxPoints_(MaxPoints), x_(X), y_(Y) {}

    // One line (without its end). Empty lines wait: after the last point
    // they mean nothing, before another one they are an error.
    void Line(std::string_view Text) {
        ++lineNo_;
        if (Text.empty()) {
            if (firstEmpty_ == 0) firstEmpty_ = lineNo_;
            return;
        }
        if (firstEmpty_ != 0) Refuse(firstEmpty_, {});
        Point(Text);
    }

    // After the last line: the points in ascending X.
    void Finish() {
        if (!ascending_) SortByX();
    }

private:
    void Point(std::string_view Text) {
        // Counted before, but the file may have grown since.
        if (x_.Count() >= maxPoints_) TooMany(lineNo_);
        const std::size_t semicolon = std::min(Text.find(';'), Text.size());
        const std::string_view xText = Text.substr(0, semicolon);
        const std::string_view yText = Text.substr(std::min(semicolon + 1, Text.size()));
        double x = 0, y = 0;
        if (!ReadNumber(xText, x)) Refuse(lineNo_, xText);
        if (!ReadNumber(yText, y)) Refuse(lineNo_, yText);
        if (x_.Count() > 0 && x < x_.Last()) ascending_ = false;
        x_.AddValue(x);
        y_.AddValue(y);
    }

    [[noreturn]] static void Refuse(int LineNo, std::string_view Text) {
        throw rtl::EConvertError(rtl::Format(rtl::Utf8ToAnsi("Ошибка в строке %d") + "\r\r%s",
                                             {LineNo, "'" + Shown(Text) + "' is not a valid floating point value"}));
    }

    // Ascending X, points of equal X in the order they had, as adding them
    // one by one puts them.
    void SortByX() {
        std::vector<TGraphPoint> points(static_cast<std::size_t>(x_.Count()));
        for (int i = 0; i < x_.Count(); ++i) points[static_cast<std::size_t>(i)] = {x_.Value(i), y_.Value(i)};
        std::stable_sort(points.begin(), points.end(),
                         [](const TGraphPoint& a, const TGraphPoint& b) { return a.X < b.X; });
        for (int i = 0; i < x_.Count(); ++i) {
            x_.SetValue(i, points[static_cast<std::size_t>(i)].X);
            y_.SetValue(i, points[static_cast<std::size_t>(i)].Y);
        }
    }

    int maxPoints_;
    chart::engine::TChartValueList& x_;
    chart::engine::TChartValueList& y_;
    int lineNo_ = 0;
    int firstEmpty_ = 0;
    bool ascending_ = true;
};

}  // namespace

void WritePointFile(const std::string& FileName, std::span<const double> X, std::span<const double> Y) {
    vcl::SaveWholeFile(FileName, [&](vcl::TSaveOutput& out) {
        constexpr std::size_t kBlock = 1 << 16;
        char block[kBlock];
        char* at = block;
        const std::size_t count = std::min(X.size(), Y.size());
        // The points of one received chunk share their time stamp: its
        // text is made once.
        const char* lastX = nullptr;
        std::size_t lastXSize = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (static_cast<std::size_t>(at - block) > kBlock - 2 * kMostNumberChars - 3) {
                out.Write({block, static_cast<std::size_t>(at - block)});
                at = block;
                lastX = nullptr;
            }
            if (lastX && std::bit_cast<std::uint64_t>(X[i]) == std::bit_cast<std::uint64_t>(X[i - 1])) {
                at = std::copy(lastX, lastX + lastXSize, at);
            } else {
                char* start = at;
                at = PutNumber(at, X[i]);
                lastX = start;
                lastXSize = static_cast<std::size_t>(at - start);
            }
            *at++ = ';';
            at = PutNumber(at, Y[i]);
            *at++ = '\r';
            *at++ = '\n';
        }
        out.Write({block, static_cast<std::size_t>(at - block)});
    });
}

void ReadPointFile(const std::string& FileName, int MaxPoints, chart::engine::TChartValueList& X,
                   chart::engine::TChartValueList& Y) {
    // Only a regular file is opened, without waiting: a FIFO would hold the
    // window until something writes into it, and is read twice besides.
    vcl::TFileStream file(FileName, vcl::fmOpenRead | vcl::fmShareDenyWrite | vcl::fmRegularOnly);
    // Counted first, without keeping anything: a file of more points than
    // the graph holds is refused before memory is taken for any of them,
    // and the lists take exactly what the points need.
    int points = 0, lineNo = 0;
    ForEachLine(file, [&](std::string_view Text) {
        ++lineNo;
        if (Text.empty()) return;
        if (points >= MaxPoints) TooMany(lineNo);
        ++points;
    });
    X.Reserve(points);
    Y.Reserve(points);
    TPointReader reader(MaxPoints, X, Y);
    ForEachLine(file, [&](std::string_view Text) { reader.Line(Text); });
    reader.Finish();
}

}  // namespace graph
