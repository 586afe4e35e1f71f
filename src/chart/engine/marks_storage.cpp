// The marks' per-point items in a form stream: "Items" is a block holding
// the number of items, then each item's properties (those that differ from
// an item's defaults) as a list of the property stream, ended by a null.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "chart/drawing/property_stream.h"
#include "chart/engine/chart_filer.h"
#include "chart/engine/series_marks.h"
#include "platform/rtl/cp1251.h"

namespace chart::engine {

namespace {

// One published property of an item: written when it differs from a new
// item's, read back by name.
struct TItemProperty {
    const char* Name;
    std::function<bool(TMarksItem&, TMarksItem&)> Differs;  // the item, a fresh one
    std::function<void(TMarksItem&, chart::TWriter&)> Write;
    std::function<void(TMarksItem&, chart::TReader&)> Read;
};

const std::vector<std::string> kBevels{"bvNone", "bvLowered", "bvRaised"};
const std::vector<std::string> kShapeStyles{"fosRectangle", "fosRoundRectangle", "fosEllipse"};
const std::vector<std::string> kDirections{"gdTopBottom",    "gdBottomTop",      "gdLeftRight",  "gdRightLeft",
                                           "gdFromCenter",   "gdFromTopLeft",    "gdFromBottomLeft", "gdRadial",
                                           "gdDiagonalUp",   "gdDiagonalDown"};

int IdentIndex(const std::vector<std::string>& Names, const std::string& Ident) {
    for (std::size_t i = 0; i < Names.size(); ++i)
        if (rtl::AnsiSameText(Names[i], Ident)) return static_cast<int>(i);
    throw rtl::EReadError("Invalid property value " + Ident);
}

// An item's gradient, or a new one's settings while it has none (reading
// them must not make one).
const chart::TPlotGradient& GradientOf(TMarksItem& Item) {
    static const chart::TPlotGradient none;
    return Item.GradientIfAny() ? *Item.GradientIfAny() : none;
}

// Integer-valued properties through a getter and a setter.
template <class Get, class Set>
TItemProperty Int(const char* Name, Get get, Set set) {
    return {Name, [get](TMarksItem& a, TMarksItem& b) { return get(a) != get(b); },
            [get](TMarksItem& i, chart::TWriter& w) { w.WriteInteger(get(i)); },
            [set](TMarksItem& i, chart::TReader& r) {
                set(i, static_cast<long long>(std::clamp<long long>(r.ReadInteger(), INT32_MIN, INT32_MAX)));
            }};
}

template <class Get, class Set>
TItemProperty Bool(const char* Name, Get get, Set set) {
    return {Name, [get](TMarksItem& a, TMarksItem& b) { return get(a) != get(b); },
            [get](TMarksItem& i, chart::TWriter& w) { w.WriteBoolean(get(i)); },
            [set](TMarksItem& i, chart::TReader& r) { set(i, r.ReadBoolean()); }};
}

template <class Get, class Set>
TItemProperty Ident(const char* Name, const std::vector<std::string>& Names, Get get, Set set) {
    return {Name, [get](TMarksItem& a, TMarksItem& b) { return get(a) != get(b); },
            [&Names, get](TMarksItem& i, chart::TWriter& w) { w.WriteIdent(Names.at(static_cast<std::size_t>(get(i)))); },
            [&Names, set](TMarksItem& i, chart::TReader& r) { set(i, IdentIndex(Names, r.ReadIdent())); }};
}

const std::vector<TItemProperty>& ItemProperties() {
    using TColor = vcl::TColor;
    static const std::vector<TItemProperty> all = [] {
        std::vector<TItemProperty> p;
        p.push_back(Ident("Bevel", kBevels, [](TMarksItem& i) { return static_cast<int>(i.Bevel()); },
                          [](TMarksItem& i, int v) { i.SetBevel(static_cast<vcl::TBevelCut>(v)); }));
        p.push_back(Int("BevelWidth", [](TMarksItem& i) { return i.BevelWidth(); },
                        [](TMarksItem& i, long long v) { i.SetBevelWidth(static_cast<int>(v)); }));
        p.push_back(Int("Color", [](TMarksItem& i) { return static_cast<long long>(i.Color()); },
                        [](TMarksItem& i, long long v) { i.SetColor(static_cast<TColor>(v)); }));
        p.push_back(Int("Font.Color", [](TMarksItem& i) { return static_cast<long long>(i.Font().Color()); },
                        [](TMarksItem& i, long long v) { i.Font().SetColor(static_cast<TColor>(v)); }));
        p.push_back(Int("Font.Height", [](TMarksItem& i) { return i.Font().Height(); },
                        [](TMarksItem& i, long long v) { i.Font().SetHeight(static_cast<int>(v)); }));
        p.push_back({"Font.Name", [](TMarksItem& a, TMarksItem& b) { return a.Font().Name() != b.Font().Name(); },
                     [](TMarksItem& i, chart::TWriter& w) { w.WriteString(i.Font().Name()); },
                     [](TMarksItem& i, chart::TReader& r) { i.Font().SetName(r.ReadString()); }});
        p.push_back(Int("Font.Style", [](TMarksItem& i) { return static_cast<long long>(i.Font().Style()); },
                        [](TMarksItem& i, long long v) { i.Font().SetStyle(static_cast<vcl::TFontStyles>(v & 0xF)); }));
        p.push_back(Bool("Gradient.Visible", [](TMarksItem& i) { return i.GradientIfAny() && i.GradientIfAny()->Visible(); },
                         [](TMarksItem& i, bool v) { i.Gradient().SetVisible(v); }));
        p.push_back(Int("Gradient.StartColor", [](TMarksItem& i) { return static_cast<long long>(GradientOf(i).StartColor()); },
                        [](TMarksItem& i, long long v) { i.Gradient().SetStartColor(static_cast<TColor>(v)); }));
        p.push_back(Int("Gradient.EndColor", [](TMarksItem& i) { return static_cast<long long>(GradientOf(i).EndColor()); },
                        [](TMarksItem& i, long long v) { i.Gradient().SetEndColor(static_cast<TColor>(v)); }));
        p.push_back(Ident("Gradient.Direction", kDirections, [](TMarksItem& i) { return static_cast<int>(GradientOf(i).Direction()); },
                          [](TMarksItem& i, int v) { i.Gradient().SetDirection(static_cast<chart::TGradientDirection>(v)); }));
        p.push_back(Int("Shadow.Color", [](TMarksItem& i) { return static_cast<long long>(i.Shadow().Color()); },
                        [](TMarksItem& i, long long v) { i.Shadow().SetColor(static_cast<TColor>(v)); }));
        p.push_back(Int("Shadow.HorizSize", [](TMarksItem& i) { return i.Shadow().HorizSize(); },
                        [](TMarksItem& i, long long v) { i.Shadow().SetHorizSize(static_cast<int>(v)); }));
        p.push_back(Int("Shadow.VertSize", [](TMarksItem& i) { return i.Shadow().VertSize(); },
                        [](TMarksItem& i, long long v) { i.Shadow().SetVertSize(static_cast<int>(v)); }));
        p.push_back(Bool("Shadow.Visible", [](TMarksItem& i) { return i.Shadow().Visible(); },
                         [](TMarksItem& i, bool v) { i.Shadow().SetVisible(v); }));
        p.push_back(Ident("ShapeStyle", kShapeStyles, [](TMarksItem& i) { return static_cast<int>(i.ShapeStyle()); },
                          [](TMarksItem& i, int v) { i.SetShapeStyle(static_cast<TChartObjectShapeStyle>(v)); }));
        p.push_back(Int("Transparency", [](TMarksItem& i) { return i.Transparency(); },
                        [](TMarksItem& i, long long v) { i.SetTransparency(static_cast<int>(v)); }));
        p.push_back(Bool("Transparent", [](TMarksItem& i) { return i.Transparent(); },
                         [](TMarksItem& i, bool v) { i.SetTransparent(v); }));
        p.push_back({"Text.Strings",
                     [](TMarksItem& a, TMarksItem&) { return a.TextIfAny() && a.TextIfAny()->Count() > 0; },
                     [](TMarksItem& i, chart::TWriter& w) {
                         w.WriteListBegin();
                         for (int k = 0; k < i.Text().Count(); ++k) w.WriteString(i.Text().Strings(k));
                         w.WriteListEnd();
                     },
                     [](TMarksItem& i, chart::TReader& r) {
                         r.ReadListBegin();
                         i.Text().Clear();
                         while (!r.EndOfList()) i.Text().Add(r.ReadString());
                         r.ReadListEnd();
                     }});
        return p;
    }();
    return all;
}

// A new item as the marks make one (the defaults to compare with).
void InitItem(TMarksItem& Item) { Item.Shadow().SetDefaults(0x808080, 3); }

}  // namespace

void TSeriesMarks::DefineProperties(TFiler& Filer) {
    TPlotCustomShape::DefineProperties(Filer);
    Filer.DefineBinaryProperty(
        "Items", [this](vcl::TStream& Stream) { ReadItems(Stream); },
        [this](vcl::TStream& Stream) { WriteItems(Stream); }, items_.Count() > 0);
}

void TSeriesMarks::WriteItems(vcl::TStream& Stream) {
    const std::uint32_t count = static_cast<std::uint32_t>(items_.Count());
    const unsigned char bytes[4] = {static_cast<unsigned char>(count), static_cast<unsigned char>(count >> 8),
                                    static_cast<unsigned char>(count >> 16), static_cast<unsigned char>(count >> 24)};
    Stream.WriteBuffer(bytes, 4);
    chart::TWriter writer(Stream);
    TMarksItem fresh(nullptr);
    InitItem(fresh);
    for (int i = 0; i < static_cast<int>(count); ++i) {
        TMarksItem& item = items_.Items(i);
        for (const TItemProperty& p : ItemProperties())
            if (p.Differs(item, fresh)) {
                writer.WritePropName(p.Name);
                p.Write(item, writer);
            }
        writer.WriteListEnd();
    }
}

void TSeriesMarks::ReadItems(vcl::TStream& Stream) {
    if (Stream.Size() - Stream.Position() < 4) throw rtl::EReadError("Items block is shorter than its count");
    unsigned char bytes[4];
    Stream.ReadBuffer(bytes, 4);
    const auto count = static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) | bytes[1] << 8 |
                                                 bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24);
    // Each item takes at least its list's end: no count may promise more
    // than the block holds.
    if (count < 0 || count > Stream.Size() - Stream.Position())
        throw rtl::EReadError("Items block does not hold " + std::to_string(count) + " items");
    chart::TReader reader(Stream);
    // Read aside: a block that fails half way leaves the items as they were.
    std::vector<std::unique_ptr<TMarksItem>> read;
    for (int i = 0; i < count; ++i) {
        auto item = std::make_unique<TMarksItem>(ParentChart());
        InitItem(*item);
        while (!reader.EndOfList()) {
            const std::string name = reader.ReadPropName();
            const auto& all = ItemProperties();
            const auto it = std::find_if(all.begin(), all.end(),
                                         [&](const TItemProperty& p) { return rtl::AnsiSameText(p.Name, name); });
            if (it == all.end()) throw rtl::EReadError("Property " + name + " does not exist");
            it->Read(*item, reader);
        }
        reader.ReadListEnd();
        read.push_back(std::move(item));
    }
    if (Stream.Position() != Stream.Size()) throw rtl::EReadError("Items block is longer than its items");
    items_.items_ = std::move(read);
    items_.Loaded = count > 0;
    Repaint();
}

}  // namespace chart::engine
