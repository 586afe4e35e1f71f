#include "chart/drawing/html_attributes.h"

#include <algorithm>
#include <array>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"
#include "platform/vcl/color_names.h"

namespace chart {

namespace {

// Font sizes beyond this are no use (the device draws at most 32767
// pixels) and would overflow the conversion to pixels.
constexpr long long MaxFontPoints = 32767;

}  // namespace

std::string HtmlUnquote(const std::string& Value) {
    if (Value.size() >= 2 && Value.front() == '"' && Value.back() == '"')
        return Value.substr(1, Value.size() - 2);
    return Value;
}

std::vector<THtmlAttribute> HtmlAttributes(const std::string& Body) {
    std::vector<std::size_t> equals;
    for (std::size_t i = 0; i < Body.size(); ++i)
        if (Body[i] == '=') equals.push_back(i);
    std::vector<THtmlAttribute> out;
    out.reserve(equals.size());
    std::size_t nameStart = 0;
    for (std::size_t k = 0; k < equals.size(); ++k) {
        const std::size_t eq = equals[k];
        std::size_t valueEnd = Body.size();
        if (k + 1 < equals.size()) {
            const std::size_t next = equals[k + 1];
            // The next name begins after the last blank before its "=".
            const std::size_t blank = Body.find_last_of(' ', next);
            valueEnd = blank != std::string::npos && blank > eq ? blank : next;
        }
        out.push_back({rtl::Trim(Body.substr(nameStart, eq - nameStart)),
                       HtmlUnquote(rtl::Trim(Body.substr(eq + 1, valueEnd - eq - 1)))});
        nameStart = valueEnd;
    }
    return out;
}

vcl::TColor HtmlColor(const std::string& Value) {
    const std::string v = rtl::Trim(rtl::UpperCase(Value));
    struct Named {
        const char* Name;
        vcl::TColor Color;
    };
    static constexpr std::array<Named, 7> names{{{"BLACK", 0},
                                                 {"RED", 255},
                                                 {"BLUE", 0xFF0000},
                                                 {"YELLOW", 65535},
                                                 {"WHITE", 0xFFFFFF},
                                                 {"GREEN", 32768},
                                                 {"LIME", 65280}}};
    for (const Named& n : names)
        if (v == n.Name) return n.Color;
    if (!v.empty() && v[0] == '#') {
        // Two digits each of red, green and blue; red goes in the low byte.
        const int r = rtl::StrToInt("$" + rtl::Copy(v, 2, 2));
        const int g = rtl::StrToInt("$" + rtl::Copy(v, 4, 2));
        const int b = rtl::StrToInt("$" + rtl::Copy(v, 6, 2));
        return r | (g << 8) | (b << 16);
    }
    return vcl::StringToColor(v);
}

int HtmlFontSize(long long Points) {
    return static_cast<int>(std::clamp(Points, -MaxFontPoints, MaxFontPoints));
}

namespace {

vcl::TFontStyles HtmlWeight(const std::string& Value) {
    const std::string v = rtl::UpperCase(Value);
    if (v == "NORMAL") return 0;
    vcl::TFontStyles style = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = v.find(',', start);
        const std::string word = rtl::Trim(
            v.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (word == "BOLD")
            style |= vcl::fsBold;
        else if (word == "ITALIC")
            style |= vcl::fsItalic;
        else if (word == "UNDERLINE")
            style |= vcl::fsUnderline;
        else if (word == "STRIKE")
            style |= vcl::fsStrikeOut;
        else
            throw rtl::Exception("Unknown field in FONT WEIGHT=" + word);
        if (comma == std::string::npos) return style;
        start = comma + 1;
    }
}

}  // namespace

void ApplyHtmlFont(vcl::TFont& Font, const std::string& Tag) {
    // "<FONT " and the closing ">" go.
    const std::string body = Tag.size() > 7 ? Tag.substr(6, Tag.size() - 7) : std::string();
    for (const THtmlAttribute& a : HtmlAttributes(body)) {
        const std::string name = rtl::UpperCase(a.Name);
        if (name == "NAME" || name == "FAMILY") {
            Font.SetName(a.Value);
        } else if (name == "SIZE") {
            const long long n = rtl::StrToInt(a.Value);
            const bool relative = !a.Value.empty() && (a.Value[0] == '+' || a.Value[0] == '-');
            Font.SetSize(HtmlFontSize(relative ? Font.Size() + n : n));
        } else if (name == "COLOR") {
            Font.SetColor(HtmlColor(a.Value));
        } else if (name == "WEIGHT") {
            Font.SetStyle(HtmlWeight(a.Value));
        } else {
            throw rtl::Exception("Unknown field in FONT: " + name);
        }
    }
}

}  // namespace chart
