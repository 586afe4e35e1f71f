#include "graph/point_file.h"

#include <algorithm>
#include <cmath>

#include "chart/engine/value_list.h"
#include "graph/graph_form.h"
#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/str_proc.h"
#include "platform/vcl/streams.h"

namespace graph {

namespace {

// The text of a file as an error message can show it: at most 64
// characters, then "...", and control characters (a NUL would end the
// message) as \xNN.
std::string Shown(const std::string& Text) {
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

// A number of a point file; the conversion error otherwise. A number the
// line's type cannot hold (beyond the double range) is no number either.
double PointNumber(const std::string& Text) {
    double v = 0;
    if (!rtl::TryStrToFloat(Text, v) || !std::isfinite(v))
        throw rtl::EConvertError(rtl::Format("'%s' is not a valid floating point value", {Shown(Text)}));
    return v;
}

// A number as a point file holds it: in the general format, with more than
// its usual 15 significant digits only where those would not read back (the
// largest values round up beyond the double range).
std::string NumberText(double Value) {
    std::string text = rtl::Format("%g", {Value});
    for (int digits = 16; digits <= 17; ++digits) {
        double back = 0;
        if (!std::isfinite(Value) || (rtl::TryStrToFloat(text, back) && std::isfinite(back))) break;
        text = rtl::FloatToStrF(Value, rtl::TFloatFormat::ffGeneral, digits, 0);
    }
    return text;
}

constexpr std::int32_t kChunk = 1 << 20;

// Puts the points of X and Y in ascending X, points of equal X in the order
// they had.
void SortByX(chart::engine::TChartValueList& X, chart::engine::TChartValueList& Y) {
    std::vector<TGraphPoint> points(static_cast<std::size_t>(X.Count()));
    for (int i = 0; i < X.Count(); ++i) points[static_cast<std::size_t>(i)] = {X.Value(i), Y.Value(i)};
    std::stable_sort(points.begin(), points.end(),
                     [](const TGraphPoint& a, const TGraphPoint& b) { return a.X < b.X; });
    for (int i = 0; i < X.Count(); ++i) {
        X.SetValue(i, points[static_cast<std::size_t>(i)].X);
        Y.SetValue(i, points[static_cast<std::size_t>(i)].Y);
    }
}

}  // namespace

void WritePointFile(const std::string& FileName, const std::vector<TGraphPoint>& Points) {
    vcl::TFileStream file(FileName, vcl::fmCreate);
    std::string text;
    auto flush = [&] {
        if (!text.empty()) file.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
        text.clear();
    };
    for (const TGraphPoint& p : Points) {
        text += NumberText(p.X) + ";" + NumberText(p.Y);
        text += "\r\n";
        if (text.size() >= static_cast<std::size_t>(kChunk)) flush();
    }
    flush();
    file.Flush();
}

void ReadPointFile(const std::string& FileName, int MaxPoints, chart::engine::TChartValueList& X,
                   chart::engine::TChartValueList& Y) {
    std::string content;
    {
        vcl::TFileStream file(FileName, vcl::fmOpenRead | vcl::fmShareDenyWrite);
        const std::int64_t size = file.Size();
        content.resize(static_cast<std::size_t>(size));
        std::int64_t done = 0;
        while (done < size) {
            const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(kChunk, size - done));
            file.ReadBuffer(content.data() + done, n);
            done += n;
        }
    }
    // Files that other programs wrote: a UTF-8 byte order mark before the
    // first line and empty lines after the last one mean nothing.
    std::size_t at = content.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (content.size() > at && (content.back() == '\r' || content.back() == '\n')) content.pop_back();
    int lineNo = 0;
    bool ascending = true;
    // Lines end at CR LF, CR or LF; a last line without an end counts too.
    while (at < content.size()) {
        std::size_t end = content.find_first_of("\r\n", at);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(at, end - at);
        at = end;
        if (at < content.size() && content[at] == '\r') {
            ++at;
            if (at < content.size() && content[at] == '\n') ++at;
        } else if (at < content.size()) {
            ++at;
        }
        ++lineNo;
        if (X.Count() >= MaxPoints) throw rtl::EListError(rtl::Format(rtl::ListCapacityErrorText(), {lineNo}));
        double x = 0, y = 0;
        try {
            const std::string xText = rtl::CutToken(line, ';');
            x = PointNumber(xText);
            y = PointNumber(line);
        } catch (const rtl::EConvertError& e) {
            throw rtl::EConvertError(
                rtl::Format(rtl::Utf8ToAnsi("Ошибка в строке %d") + "\r\r%s", {lineNo, e.Message}));
        }
        if (X.Count() > 0 && x < X.Last()) ascending = false;
        X.AddValue(x);
        Y.AddValue(y);
    }
    if (!ascending) SortByX(X, Y);
}

}  // namespace graph
