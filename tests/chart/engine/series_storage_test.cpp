// A series and its chart in the property stream: the "Data" block byte for
// byte (with and without X values, colours, labels and mark positions),
// what is never stored, bad blocks refused before anything changes, the
// links to sources and custom axes, the chart's older properties, a tool's
// axis and the marks' items; and how sources are linked, checked, moved,
// opened and closed, copies and sample points.
#include <gtest/gtest.h>

#include <cstring>

#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_exceptions.h"
#include "chart/engine/chart_filer.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/engine_startup.h"
#include "chart/engine/plot_function.h"
#include "chart/engine/series_source.h"
#include "support/dialog_answers.h"
#include "support/extra_properties.h"
#include "support/recording_series.h"

namespace {

using namespace chart::engine;
using test_support::PlainChart;
using test_support::RecordingSeries;

// The extra properties of an object, written as the stream keeps them, and
// read back (false when one of them has no definition there).
template <class T>
std::string Written(T& Object) {
    return test_support::WrittenProperties(Object);
}
template <class T>
bool ReadInto(T& Object, const std::string& Bytes) {
    return test_support::ReadProperties(Object, Bytes);
}

// The "Data" block alone.
std::string DataOf(TChartSeries& Series) {
    vcl::TMemoryStream stream;
    Series.WriteData(stream);
    return {reinterpret_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size())};
}
void ReadDataInto(TChartSeries& Series, const std::string& Bytes) {
    vcl::TMemoryStream stream;
    if (!Bytes.empty()) stream.WriteBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
    stream.SetPosition(0);
    Series.ReadData(stream);
}

// Little-endian pieces of an expected block.
template <class T>
std::string Le(T v) {
    std::string s(sizeof(T), '\0');
    std::memcpy(s.data(), &v, sizeof(T));
    return s;
}

TEST(series_storage, data_is_written_byte_for_byte_and_read_back) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.SetSeriesColor(vcl::clRed);
    // X values 0, 1, 2: none stored, each point gets its index back.
    s.AddXY(0, 1.5);
    s.AddXY(1, -2);
    s.AddXY(2, 1e300);
    EXPECT_EQ(DataOf(s), Le<std::uint8_t>(0) + Le<std::int32_t>(3) + Le(1.5) + Le(-2.0) + Le(1e300));
    RecordingSeries& back = chart.AddRecording();
    ReadDataInto(back, DataOf(s));
    ASSERT_EQ(back.Count(), 3);
    EXPECT_EQ(back.XValues().Value(2), 2);
    EXPECT_EQ(back.YValues().Value(2), 1e300);
    EXPECT_TRUE(back.HasOwnData());

    // X values, a colour of its own (the series colour does not count) and
    // labels: every point carries all three.
    s.Clear();
    s.AddXY(0.5, 7, "a", vcl::clBlue);
    s.AddXY(3, 8, "", vcl::clRed);
    const std::string expected = Le<std::uint8_t>(1 | 2 | 4) + Le<std::int32_t>(2) +  //
                                 Le(0.5) + Le(7.0) + Le<std::uint32_t>(vcl::clBlue) + Le<std::uint8_t>(1) + "a" +
                                 Le(3.0) + Le(8.0) + Le<std::uint32_t>(vcl::clRed) + Le<std::uint8_t>(0);
    EXPECT_EQ(DataOf(s), expected);
    ReadDataInto(back, expected);
    ASSERT_EQ(back.Count(), 2);
    EXPECT_EQ(back.XValues().Value(0), 0.5);
    EXPECT_EQ(back.Labels().Labels(0), "a");
    EXPECT_EQ(back.ValueColor(0), vcl::clBlue);
    EXPECT_EQ(DataOf(back), expected);

    // Mark positions: once one is the user's, every point carries one (a
    // new, empty one where the point had none).
    TSeriesMarkPosition& dragged = s.Marks().Positions().Ensure(1);
    dragged.Custom = true;
    dragged.ArrowFrom = {1, 2};
    dragged.ArrowFix = true;
    dragged.ArrowTo = {3, 4};
    dragged.Height = 5;
    dragged.LeftTop = {-6, 7};
    dragged.Width = 8;
    const std::string marks = DataOf(s);
    ASSERT_EQ(marks.size(), expected.size() + 2 * 34);
    EXPECT_EQ(static_cast<std::uint8_t>(marks[0]), 1 | 2 | 4 | 8);
    EXPECT_EQ(marks.substr(marks.size() - 34), Le<std::int32_t>(1) + Le<std::int32_t>(2) + Le<std::uint8_t>(1) +
                                                   Le<std::int32_t>(3) + Le<std::int32_t>(4) + Le<std::uint8_t>(1) +
                                                   Le<std::int32_t>(5) + Le<std::int32_t>(-6) + Le<std::int32_t>(7) +
                                                   Le<std::int32_t>(8));
    ReadDataInto(back, marks);
    ASSERT_NE(back.Marks().Positions().Position(1), nullptr);
    EXPECT_TRUE(back.Marks().Positions().Position(1)->Custom);
    EXPECT_EQ(back.Marks().Positions().Position(1)->LeftTop.X, -6);
    EXPECT_FALSE(back.Marks().Positions().Position(0)->Custom);

    // A label longer than a length byte holds is cut at 255 characters.
    s.Clear();
    s.AddXY(0, 1, std::string(300, 'x'));
    ReadDataInto(back, DataOf(s));
    EXPECT_EQ(back.Labels().Labels(0), std::string(255, 'x'));
}

TEST(series_storage, only_own_points_are_stored_and_bad_blocks_change_nothing) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.AddXY(0, 1);
    // Points added at run time are not the series' own: no "Data".
    EXPECT_EQ(Written(s).find("Data"), std::string::npos);
    // Read ones are, and go back out with the series.
    RecordingSeries& copy = chart.AddRecording();
    s.ForceSaveData = true;
    ASSERT_TRUE(ReadInto(copy, Written(s)));
    EXPECT_EQ(copy.Count(), 1);
    EXPECT_TRUE(copy.HasOwnData());
    EXPECT_NE(Written(copy).find("Data"), std::string::npos);
    copy.DontSaveData = true;
    EXPECT_EQ(Written(copy).find("Data"), std::string::npos);
    copy.DontSaveData = false;

    const std::string good = DataOf(copy);
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"", "short"},
        {good.substr(0, good.size() - 1), "cut"},
        {good + "x", "longer"},
        {Le<std::uint8_t>(0) + Le<std::int32_t>(-1), "negative count"},
        {Le<std::uint8_t>(0) + Le<std::int32_t>(0x7FFFFFFF) + Le(1.0), "a count the block does not hold"},
        {Le<std::uint8_t>(0x10) + Le<std::int32_t>(0), "unknown flags"},
        {Le<std::uint8_t>(4) + Le<std::int32_t>(1) + Le(1.0) + Le<std::uint8_t>(200) + "ab", "a label past the end"},
    };
    for (const auto& [bytes, what] : bad) {
        EXPECT_THROW(ReadDataInto(copy, bytes), rtl::EReadError) << what;
        ASSERT_EQ(copy.Count(), 1) << what;
        EXPECT_EQ(copy.YValues().Value(0), 1) << what;
    }

    // Sample points are never stored.
    copy.FillSampleValues(5);
    EXPECT_EQ(copy.Count(), 5);
    EXPECT_FALSE(copy.HasOwnData());
    EXPECT_EQ(Written(copy).find("Data"), std::string::npos);
}

TEST(series_storage, links_to_sources_and_custom_axes_are_kept_by_name_and_place) {
    vcl::TComponent owner(nullptr);
    PlainChart chart(600, 400, &owner);
    auto make = [&](const char* name) -> RecordingSeries& {
        auto* s = new RecordingSeries(&owner);
        s->Name = name;
        s->SetParentChart(&chart);
        return *s;
    };
    RecordingSeries& a = make("a");
    RecordingSeries& b = make("b");
    RecordingSeries& fed = make("fed");
    a.AddXY(1, 10);
    b.AddXY(2, 20);
    fed.SetFunction(std::make_unique<TPlotFunction>());
    fed.SetDataSource(&a);
    // Setting a second source while the series is being read adds it.
    fed.SetLoading(true);
    fed.SetDataSource(&b);
    fed.SetLoading(false);
    ASSERT_EQ(fed.DataSources().Count(), 2);
    TChartAxis& extraX = chart.CustomAxes().Add();
    extraX.SetHorizontal(true);
    TChartAxis& extraY = chart.CustomAxes().Add();
    fed.SetCustomHorizAxis(&extraX);
    fed.SetCustomVertAxis(&extraY);
    const std::string stored = Written(fed);
    EXPECT_NE(stored.find("DataSources"), std::string::npos);

    RecordingSeries& read = make("read");
    read.SetLoading(true);
    ASSERT_TRUE(ReadInto(read, stored));
    read.Loaded();
    ASSERT_EQ(read.DataSources().Count(), 2);
    EXPECT_EQ(read.DataSources().Items(0), &a);
    EXPECT_EQ(read.DataSources().Items(1), &b);
    EXPECT_EQ(read.CustomHorizAxis(), &extraX);
    EXPECT_EQ(read.CustomVertAxis(), &extraY);

    // One source only, no custom axes: none of them is written.
    fed.SetDataSource(nullptr);
    fed.SetDataSource(&a);
    fed.SetCustomHorizAxis(nullptr);
    fed.SetCustomVertAxis(nullptr);
    const std::string plain = Written(fed);
    EXPECT_EQ(plain.find("DataSources"), std::string::npos);
    EXPECT_EQ(plain.find("Custom"), std::string::npos);

    // A value list's obsolete multiplier tells the user when it is not 1.
    test_support::DialogAnswers answers;
    vcl::TMemoryStream multiplier;
    chart::TWriter w(multiplier);
    w.WritePropName("YValues.Multiplier");
    w.WriteFloat(1);
    w.WritePropName("XValues.Multiplier");
    w.WriteFloat(2.5);
    ASSERT_TRUE(ReadInto(read, std::string(reinterpret_cast<const char*>(multiplier.Memory()),
                                           static_cast<std::size_t>(multiplier.Size()))));
    ASSERT_EQ(answers.Messages.size(), 1u);
    EXPECT_EQ(answers.Messages[0],
              "Error: Multiplier property is obsolete.\rModify PlotDefs.inc (enable Multiplier) and recompile.");
}

TEST(series_storage, the_chart_reads_older_properties_keeps_its_palette_and_a_tool_its_axis) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.Fill(95, [](int i) { return i; });
    vcl::TMemoryStream old;
    chart::TWriter w(old);
    w.WritePropName("MaxPointsPerPage");
    w.WriteInteger(10);
    w.WritePropName("Page");
    w.WriteInteger(3);
    w.WritePropName("ScaleLastPage");
    w.WriteBoolean(false);
    w.WritePropName("BackColor");
    w.WriteIdent("clNavy");
    ASSERT_TRUE(ReadInto(chart, std::string(reinterpret_cast<const char*>(old.Memory()),
                                            static_cast<std::size_t>(old.Size()))));
    EXPECT_EQ(chart.Pages().MaxPointsPerPage(), 10);
    EXPECT_EQ(chart.Pages().Current(), 3);
    EXPECT_FALSE(chart.Pages().ScaleLastPage());
    EXPECT_EQ(chart.BackWall().Color(), vcl::clNavy);
    // Never written again; the palette index only from 1.
    EXPECT_EQ(Written(chart), "");
    chart.SetColorPaletteIndex(2);
    PlainChart other;
    ASSERT_TRUE(ReadInto(other, Written(chart)));
    EXPECT_EQ(other.ColorPaletteIndex(), 2);
    vcl::TMemoryStream numeric;
    chart::TWriter n(numeric);
    n.WritePropName("BackColor");
    n.WriteInteger(0x123456);
    ASSERT_TRUE(ReadInto(other, std::string(reinterpret_cast<const char*>(numeric.Memory()),
                                            static_cast<std::size_t>(numeric.Size()))));
    EXPECT_EQ(other.BackWall().Color(), 0x123456u);

    // A tool's axis by its place among the chart's axes.
    TPlotCustomToolAxis tool(nullptr);
    tool.SetAxis(&chart.RightAxis());
    const std::string axis = Written(tool);
    TPlotCustomToolAxis read(nullptr);
    read.SetParentChart(&other);
    ASSERT_TRUE(ReadInto(read, axis));
    EXPECT_EQ(read.Axis(), &other.RightAxis());
    // Read before the tool has a chart: bound when it joins one.
    TPlotCustomToolAxis early(nullptr);
    ASSERT_TRUE(ReadInto(early, axis));
    EXPECT_EQ(early.Axis(), nullptr);
    early.SetParentChart(&chart);
    EXPECT_EQ(early.Axis(), &chart.RightAxis());
    vcl::TMemoryStream wrong;
    chart::TWriter ww(wrong);
    ww.WritePropName("AxisID");
    ww.WriteInteger(99);
    EXPECT_THROW(ReadInto(read, std::string(reinterpret_cast<const char*>(wrong.Memory()),
                                            static_cast<std::size_t>(wrong.Size()))),
                 rtl::EReadError);
    EXPECT_EQ(read.Axis(), &other.RightAxis());
    tool.SetParentChart(nullptr);
    early.SetParentChart(nullptr);
    read.SetParentChart(nullptr);

    // Below the chart in a stream: its series, then its tools.
    std::vector<vcl::TComponent*> children;
    other.AddRecording();
    read.SetParentChart(&other);
    other.GetChildren([&](vcl::TComponent* c) { children.push_back(c); });
    EXPECT_EQ(children, (std::vector<vcl::TComponent*>{other.GetSeries(0), &read}));

    // The engine's start-up: the pixel limit and the classes it names.
    EXPECT_EQ(PlotPixelLimit(), 67108863);
    EXPECT_TRUE(IsPlotStreamableClass("TSeriesMarks"));
    EXPECT_TRUE(IsPlotStreamableClass("tchartaxis"));
    EXPECT_FALSE(IsPlotStreamableClass("TChartLegend"));
}

// The bytes of a stream that a test wrote.
std::string BytesOf(vcl::TMemoryStream& Stream) {
    return {reinterpret_cast<const char*>(Stream.Memory()), static_cast<std::size_t>(Stream.Size())};
}

TEST(series_storage, identifiers_styles_print_margins_and_older_panel_and_shape_properties) {
    // A series' identifier and style flags go through the stream and back;
    // a series with neither writes nothing of them.
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    EXPECT_EQ(Written(s), "");
    s.Identifier = "pressure";
    s.SetStyle(0x25);
    const std::string series = Written(s);
    EXPECT_NE(series.find("Identifier"), std::string::npos);
    RecordingSeries& t = chart.AddRecording();
    ASSERT_TRUE(ReadInto(t, series));
    EXPECT_EQ(t.Identifier, "pressure");
    EXPECT_EQ(t.Style(), 0x25);
    vcl::TMemoryStream flags;
    chart::TWriter f(flags);
    f.WritePropName("Style");
    f.WriteInteger(0x1C3);
    ASSERT_TRUE(ReadInto(t, BytesOf(flags)));
    EXPECT_EQ(t.Style(), 0x03);  // flags 0 to 5 only

    // The print margins, written when one differs from 15.
    PlainChart other;
    EXPECT_EQ(Written(chart), "");
    chart.PrintMargins = {15, 10, 15, 40};
    ASSERT_TRUE(ReadInto(other, Written(chart)));
    EXPECT_EQ(other.PrintMargins, (std::array<int, 4>{15, 10, 15, 40}));
    vcl::TMemoryStream three;
    chart::TWriter m(three);
    m.WritePropName("PrintMargins");
    m.WriteListBegin();
    for (int v : {1, 2, 3}) m.WriteInteger(v);
    m.WriteListEnd();
    EXPECT_THROW(ReadInto(other, BytesOf(three)), rtl::EReadError);
    EXPECT_EQ(other.PrintMargins, (std::array<int, 4>{15, 10, 15, 40}));

    // Older streams: the border style, the zoom settings of the panel and
    // the shadows of the framed shapes (the chart's and the marks'), read
    // and never written again.
    vcl::TMemoryStream old;
    chart::TWriter w(old);
    w.WritePropName("BorderStyle");
    w.WriteIdent("bsSingle");
    w.WritePropName("AllowZoom");
    w.WriteBoolean(false);
    w.WritePropName("AnimatedZoom");
    w.WriteBoolean(true);
    w.WritePropName("AnimatedZoomSteps");
    w.WriteInteger(3);
    w.WritePropName("Legend.ShadowColor");
    w.WriteIdent("clRed");
    w.WritePropName("Legend.ShadowSize");
    w.WriteInteger(7);
    w.WritePropName("SubFoot.ShadowColor");
    w.WriteInteger(0x123456);
    PlainChart older;
    ASSERT_TRUE(ReadInto(older, BytesOf(old)));
    EXPECT_TRUE(older.Border().Visible());
    EXPECT_FALSE(older.Zoom().Allow);
    EXPECT_TRUE(older.Zoom().Animated);
    EXPECT_EQ(older.Zoom().AnimatedSteps, 3);
    EXPECT_EQ(older.Legend().Shadow().Color(), vcl::clRed);
    EXPECT_EQ(older.Legend().Shadow().HorizSize(), 7);
    EXPECT_EQ(older.Legend().Shadow().VertSize(), 7);
    EXPECT_EQ(older.SubFoot().Shadow().Color(), 0x123456u);
    EXPECT_EQ(Written(older), "");
    vcl::TMemoryStream none;
    chart::TWriter b(none);
    b.WritePropName("BorderStyle");
    b.WriteIdent("bsNone");
    ASSERT_TRUE(ReadInto(older, BytesOf(none)));
    EXPECT_FALSE(older.Border().Visible());
    vcl::TMemoryStream marks;
    chart::TWriter k(marks);
    k.WritePropName("Marks.ShadowSize");
    k.WriteInteger(5);
    ASSERT_TRUE(ReadInto(t, BytesOf(marks)));
    EXPECT_EQ(t.Marks().Shadow().HorizSize(), 5);
    EXPECT_EQ(Written(t).find("Shadow"), std::string::npos);
}

TEST(series_storage, marks_items_round_trip_and_a_bad_block_keeps_them) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.Fill(3, [](int i) { return i; });
    TMarksItem& item = s.Marks().Items().Items(2);
    item.Text().Add("two");
    item.Text().Add("lines");
    item.SetColor(vcl::clYellow);
    item.Font().SetStyle(vcl::fsBold);
    item.Shadow().SetVisible(false);
    item.SetShapeStyle(fosEllipse);
    item.Gradient().SetVisible(true);
    RecordingSeries& back = chart.AddRecording();
    ASSERT_TRUE(ReadInto(back, Written(s)));
    ASSERT_EQ(back.Marks().Items().Count(), 3);
    EXPECT_TRUE(back.Marks().Items().Loaded);
    const TMarksItem& read = back.Marks().Items().Items(2);
    EXPECT_EQ(read.TextIfAny()->Text(), "two\r\nlines\r\n");
    EXPECT_EQ(read.Color(), vcl::clYellow);
    EXPECT_EQ(const_cast<TMarksItem&>(read).Font().Style(), vcl::fsBold);
    EXPECT_FALSE(const_cast<TMarksItem&>(read).Shadow().Visible());
    EXPECT_EQ(read.ShapeStyle(), fosEllipse);
    EXPECT_TRUE(read.GradientIfAny() && read.GradientIfAny()->Visible());
    // Padding items are there with their defaults.
    EXPECT_EQ(back.Marks().Items().Items(0).Color(), vcl::clInfoBk);
    // Items read from a form survive clearing the points.
    back.Clear();
    EXPECT_EQ(back.Marks().Items().Count(), 3);
    // Bad blocks: refused, the items as they were.
    for (const std::string& bytes : {std::string("\x05\x00\x00\x00", 4), std::string("\xff\xff\xff\xff", 4),
                                     std::string("\x01\x00", 2), std::string("\x01\x00\x00\x00\x05Bogus\x02\x01\x00", 13)}) {
        vcl::TMemoryStream block;
        block.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        block.SetPosition(0);
        EXPECT_THROW(back.Marks().ReadItems(block), rtl::EReadError);
        EXPECT_EQ(back.Marks().Items().Count(), 3);
    }
}

// A source that loads three points when opened, counting its loads.
struct ThreePoints : TPlotSeriesSource {
    using TPlotSeriesSource::TPlotSeriesSource;
    int loads = 0;
    void Load() override {
        ++loads;
        Series()->Clear();
        for (int i = 0; i < 3; ++i) Series()->AddXY(i, i * 2);
    }
};

TEST(series_storage, sources_are_checked_linked_opened_closed_and_moved) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    RecordingSeries& t = chart.AddRecording();
    s.Name = "s";
    // A component of no source kind is refused by the chart, a series by
    // itself.
    vcl::TComponent stranger(nullptr);
    stranger.Name = "stranger";
    try {
        s.SetDataSource(&stranger);
        ADD_FAILURE();
    } catch (const ChartException& e) {
        EXPECT_EQ(e.Message, "No valid DataSource: stranger");
    }
    RecordingSeries loose;
    try {
        loose.SetDataSource(&loose);
        ADD_FAILURE();
    } catch (const ChartException& e) {
        EXPECT_EQ(e.Message, "No ParentChart to validate DataSource");
    }
    // Circular chains are refused and change nothing.
    t.SetDataSource(&s);
    try {
        s.SetDataSource(&t);
        ADD_FAILURE();
    } catch (const ChartException& e) {
        EXPECT_EQ(e.Message, "Circular Series dependences are not allowed");
    }
    EXPECT_EQ(s.DataSource(), nullptr);
    // Detaching the first source clears points that are not the series'.
    s.AddXY(5, 5);
    EXPECT_EQ(t.Count(), 1);
    t.SetDataSource(nullptr);
    EXPECT_EQ(t.Count(), 0);

    // A series source: opening loads, closing clears (unless kept).
    auto* source = new ThreePoints(nullptr);
    source->SetSeries(&t);
    EXPECT_EQ(t.DataSource(), source);
    EXPECT_TRUE(source->HasSeries(t));
    source->Open();
    EXPECT_EQ(t.Count(), 3);
    EXPECT_EQ(source->loads, 1);
    source->Close();
    EXPECT_EQ(t.Count(), 0);
    source->KeepData = true;
    source->Open();
    source->Close();
    EXPECT_EQ(t.Count(), 3);
    // Set as the DataSource of another series, an open source moves there:
    // closed, taken off the first, opened again.
    source->KeepData = false;
    source->Open();
    RecordingSeries& u = chart.AddRecording();
    u.SetDataSource(source);
    EXPECT_EQ(source->Series(), &u);
    EXPECT_EQ(t.DataSource(), nullptr);
    EXPECT_EQ(t.Count(), 0);
    EXPECT_EQ(u.Count(), 3);
    EXPECT_TRUE(source->Active());
    // The series going away leaves the source without one (and not cleared
    // on the way); the source going away leaves its series without it.
    vcl::TComponent::Free(&u);
    EXPECT_EQ(source->Series(), nullptr);
    source->SetSeries(&t);
    vcl::TComponent::Free(source);
    EXPECT_EQ(t.DataSource(), nullptr);
}

TEST(series_storage, a_series_follows_its_source_on_a_chart_and_a_moved_source_changes_owner) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    RecordingSeries& t = chart.AddRecording();
    t.SetDataSource(&s);
    s.AddXY(1, 1);
    EXPECT_EQ(t.Count(), 1);
    // An editor offers the value lists of the series that feeds a list's
    // series; a series fed by none offers nothing.
    std::vector<std::string> names;
    chart.FillValueSourceItems(t.YValues(), [&](const std::string& n) { names.push_back(n); });
    EXPECT_EQ(names, (std::vector<std::string>{s.XValues().Name, s.YValues().Name}));
    names.clear();
    chart.FillValueSourceItems(s.YValues(), [&](const std::string& n) { names.push_back(n); });
    EXPECT_TRUE(names.empty());
    // Off the chart, t no longer follows s; back on it, it does again.
    t.SetParentChart(nullptr);
    EXPECT_EQ(s.Dependents().IndexOf(&t), -1);
    s.AddXY(2, 2);
    EXPECT_EQ(t.Count(), 1);
    t.SetParentChart(&chart);
    EXPECT_EQ(t.Count(), 2);
    s.AddXY(3, 3);
    EXPECT_EQ(t.Count(), 3);

    // A series source that its series owned moves to the series it feeds
    // next, ownership and all; one owned by another stays with its owner.
    auto* owned = new ThreePoints(&s);
    owned->SetSeries(&s);
    t.SetDataSource(owned);
    EXPECT_EQ(owned->Owner(), &t);
    EXPECT_EQ(owned->Series(), &t);
    EXPECT_EQ(s.DataSource(), nullptr);
    vcl::TComponent keeper(nullptr);
    auto* kept = new ThreePoints(&keeper);
    kept->SetSeries(&s);
    t.SetDataSource(kept);
    EXPECT_EQ(kept->Owner(), &keeper);
    EXPECT_EQ(kept->Series(), &t);
    // The series that owns a source frees it with itself.
    bool freed = false;
    struct Watch : vcl::TComponent {
        bool& freed;
        vcl::TComponent* watched;
        Watch(bool& f, vcl::TComponent* w) : TComponent(nullptr), freed(f), watched(w) { FreeNotification(w); }
        void Notification(vcl::TComponent* c, vcl::TOperation op) override {
            if (c == watched && op == vcl::TOperation::opRemove) freed = true;
        }
    } watch(freed, owned);
    vcl::TComponent::Free(&t);
    EXPECT_TRUE(freed);
}

TEST(series_storage, copies_take_settings_function_and_points_and_samples_fill_a_range) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.SetSeriesColor(vcl::clGreen);
    s.SetPercentFormat("0 %");
    s.Marks().SetStyle(smsPointIndex);
    s.AddXY(1, 10, "one");
    RecordingSeries& copy = chart.AddRecording();
    copy.Assign(s);
    EXPECT_EQ(copy.SeriesColor(), vcl::clGreen);
    EXPECT_EQ(copy.PercentFormat(), "0 %");
    EXPECT_EQ(copy.Marks().Style(), smsPointIndex);
    ASSERT_EQ(copy.Count(), 1);
    EXPECT_EQ(copy.Labels().Labels(0), "one");

    // A series fed by a source copies the link, and a function moves over.
    RecordingSeries& fed = chart.AddRecording();
    auto f = std::make_unique<TPlotFunction>();
    TPlotFunction* function = f.get();
    fed.SetFunction(std::move(f));
    fed.SetDataSource(&s);
    RecordingSeries& follower = chart.AddRecording();
    follower.Assign(fed);
    EXPECT_EQ(follower.Function(), function);
    EXPECT_EQ(fed.Function(), nullptr);
    EXPECT_EQ(follower.DataSource(), &s);

    // Sample points: the default count, one point at the range's start, and
    // a negative count refused.
    RecordingSeries& sample = chart.AddRecording();
    sample.FillSampleValues();
    EXPECT_EQ(sample.Count(), 25);
    sample.FillSampleValues(1);
    ASSERT_EQ(sample.Count(), 1);
    EXPECT_TRUE(std::isfinite(sample.XValues().Value(0)));
    EXPECT_EQ(sample.XValues().Value(0), chart.BottomAxis().Minimum());
    try {
        sample.FillSampleValues(-1);
        ADD_FAILURE();
    } catch (const ChartException& e) {
        EXPECT_EQ(e.Message, "FillSampleValues NumValues must be > 0");
    }
    EXPECT_EQ(sample.Count(), 1);
}

}  // namespace
