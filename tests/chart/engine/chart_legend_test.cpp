// The legend through the real paint: what it lists (points of one series,
// the series, the groups), how its box is laid out beside the chart and how
// much room it takes, the items it answers for a click, its check boxes
// switching series for the next paint, and its settings' errors.
#include <gtest/gtest.h>

#include "chart/engine/chart_exceptions.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/series_groups.h"
#include "support/recording_series.h"

namespace {

using namespace chart::engine;
using test_support::At;
using test_support::PlainChart;
using test_support::RecordingSeries;

// A chart whose rectangle is the whole panel (no margins, no axes): what
// the legend leaves of it is what a paint ends with.
struct LegendChart {
    PlainChart chart;
    explicit LegendChart(int Width = 400, int Height = 300) : chart(Width, Height) {
        for (int i = 0; i < 4; ++i) chart.SetMargin(i, 0);
        chart.SetAxisVisible(false);
        chart.Legend().SetVisible(true);
    }
    RecordingSeries& Series(const std::string& Title, int Points) {
        RecordingSeries& s = chart.AddRecording();
        s.SetTitle(Title);
        s.Fill(Points, [](int i) { return 10.0 * (i + 1); });
        return s;
    }
    TChartLegend& Legend() { return chart.Legend(); }
};

TEST(chart_legend, auto_style_lists_the_points_of_one_series_and_the_series_of_two) {
    LegendChart t;
    RecordingSeries& a = t.Series("Alpha", 3);
    t.chart.Render();
    TChartLegend& legend = t.Legend();
    EXPECT_EQ(legend.LastStyle, lsValues);
    ASSERT_EQ(legend.TotalItems, 3);
    // Value first (right-aligned column), then the label column (none here).
    EXPECT_EQ(legend.Items().Items(0).Text, "10");
    EXPECT_EQ(legend.Items().Items(2).Text, "30");

    t.Series("Beta", 5);
    t.chart.Render();
    EXPECT_EQ(legend.LastStyle, lsSeries);
    ASSERT_EQ(legend.TotalItems, 2);
    EXPECT_EQ(legend.Items().Items(0).Text, "Alpha");
    EXPECT_EQ(legend.Items().Items(1).Text, "Beta");

    // An inactive series leaves the list (and with it the second column of
    // series); a series hidden from the legend is never listed.
    a.SetActive(false);
    t.chart.Render();
    EXPECT_EQ(legend.LastStyle, lsValues);
    EXPECT_EQ(legend.TotalItems, 3);  // Alpha is the formatting series still
    a.SetActive(true);
    a.SetShowInLegend(false);
    legend.SetLegendStyle(lsSeries);
    t.chart.Render();
    ASSERT_EQ(legend.TotalItems, 1);
    EXPECT_EQ(legend.Items().Items(0).Text, "Beta");

    // Two columns from the chart's text event, split at character 6; the
    // legend's first item from FirstValue.
    legend.SetLegendStyle(lsValues);
    a.SetShowInLegend(true);
    legend.Series = &a;
    legend.SetFirstValue(1);
    t.chart.OnGetLegendText = [](TCustomChart*, TLegendStyle Style, int Index, std::string& Text) {
        EXPECT_EQ(Style, lsValues);
        Text = "#" + std::to_string(Index) + "\x06" + Text + "\x06" + "rest";
    };
    t.chart.Render();
    ASSERT_EQ(legend.TotalItems, 2);
    EXPECT_EQ(legend.Items().Items(0).Text, "#1");
    EXPECT_EQ(legend.Items().Items(0).Text2, "20\x06rest");
    EXPECT_GT(legend.ColumnWidths[1], 0);

    // With no series active the legend is left out, and a click where it
    // was finds no item.
    const vcl::TRect box = legend.ShapeBounds;
    EXPECT_EQ(legend.Clicked(box.Left + 5, box.Top + 5), 1);
    t.chart.OnGetLegendText = nullptr;
    for (int i = 0; i < t.chart.SeriesCount(); ++i) t.chart.GetSeries(i)->SetActive(false);
    t.chart.Render();
    EXPECT_EQ(legend.Clicked(box.Left + 5, box.Top + 5), -1);

    // A negative first value is refused and kept.
    try {
        legend.SetFirstValue(-1);
        ADD_FAILURE() << "no error";
    } catch (const LegendException& e) {
        EXPECT_EQ(e.Message, "First Legend Value must be > 0");
    }
    EXPECT_EQ(legend.FirstValue(), 1);
}

TEST(chart_legend, a_right_legend_takes_its_width_and_the_gap_off_the_chart) {
    LegendChart t(400, 300);
    t.Series("Alpha", 4);
    t.Series("Beta", 4);
    TChartLegend& legend = t.Legend();
    t.chart.Render();
    // The chart was 400 wide: the gap is 3 * 400 div 100.
    const vcl::TRect box = legend.ShapeBounds;
    const int shadow = legend.Shadow().HorizSize(), frame = legend.Frame().Width();
    EXPECT_EQ(box.Right, 400 - shadow - frame - 1);
    EXPECT_EQ(box.Left - t.chart.ChartRect.Right, 12);
    // The box is white inside, framed, with the items' symbols in the
    // series' colours.
    auto image = t.chart.Render();
    EXPECT_EQ(At(*image, box.Left, (box.Top + box.Bottom) / 2), 0u);
    const vcl::TRect symbol = legend.Items().Items(1).SymbolRect;
    EXPECT_EQ(At(*image, (symbol.Left + symbol.Right) / 2, (symbol.Top + symbol.Bottom) / 2),
              t.chart.GetSeries(1)->SeriesColor());

    // HorizMargin replaces the gap; without ResizeChart nothing is taken.
    legend.SetHorizMargin(20);
    t.chart.Render();
    EXPECT_EQ(legend.ShapeBounds.Left - t.chart.ChartRect.Right, 20);
    legend.SetResizeChart(false);
    t.chart.Render();
    EXPECT_EQ(t.chart.ChartRect.Right, 400);

    // A left legend: the chart starts after it.
    legend.SetResizeChart(true);
    legend.SetHorizMargin(0);
    legend.SetAlignment(laLeft);
    t.chart.Render();
    EXPECT_EQ(legend.ShapeBounds.Left, frame + 1);
    EXPECT_EQ(t.chart.ChartRect.Left, legend.ShapeBounds.Right + 12);

    // A title adds its lines' height; one without lines adds nothing.
    legend.SetAlignment(laRight);
    t.chart.Render();
    const int plain = legend.ShapeBounds.Bottom - legend.ShapeBounds.Top;
    legend.Title().Text().Add("Signals");
    t.chart.Render();
    t.chart.Canvas()->AssignFont(legend.Title().Font());
    EXPECT_EQ(legend.ShapeBounds.Bottom - legend.ShapeBounds.Top, plain + t.chart.Canvas()->FontHeight() + 4);
    legend.Title().Text().Clear();
    t.chart.Render();
    EXPECT_EQ(legend.ShapeBounds.Bottom - legend.ShapeBounds.Top, plain);
}

TEST(chart_legend, rows_that_do_not_fit_are_left_out_and_clicks_find_the_items_also_inverted) {
    LegendChart t(300, 120);
    t.Series("Many", 40);
    TChartLegend& legend = t.Legend();
    t.chart.Render();
    const int h = legend.ItemHeight;
    ASSERT_GT(h, 0);
    const int fw = legend.Frame().Width();
    const int rows = (120 - 2 * fw - legend.ItemsTop) / h;
    EXPECT_EQ(legend.LastShown, legend.FirstShown + rows - 1);
    EXPECT_LT(legend.LastShown, 39);

    auto rowY = [&](int Row) { return legend.ItemsTop + 1 + Row * h + h / 2; };
    const int x = (legend.ShapeBounds.Left + legend.ShapeBounds.Right) / 2;
    EXPECT_EQ(legend.Clicked(x, rowY(0)), 0);
    EXPECT_EQ(legend.Clicked(x, rowY(2)), 2);
    EXPECT_EQ(legend.Clicked(legend.ShapeBounds.Left - 3, rowY(0)), -1);

    // Inverted: the last shown item on the top row, answered for it.
    legend.SetInverted(true);
    t.chart.Render();
    EXPECT_EQ(legend.Items().Items(0).Text, std::to_string(10 * (legend.LastShown + 1)));
    EXPECT_EQ(legend.Clicked(x, rowY(0)), legend.LastShown);
    EXPECT_EQ(legend.Clicked(x, rowY(1)), legend.LastShown - 1);

    // With paging, the current page's points from its first.
    legend.SetInverted(false);
    t.chart.SetMaxPointsPerPage(5);
    t.chart.SetPage(3);
    t.chart.Render();
    EXPECT_EQ(legend.FirstShown, 10);
    EXPECT_EQ(legend.TotalItems, 5);
    EXPECT_EQ(legend.Items().Items(0).Text, "110");
    EXPECT_EQ(legend.Clicked(x, rowY(0)), 10);
    EXPECT_EQ(legend.FirstValue(), 0);
}

TEST(chart_legend, bottom_legend_lays_items_in_columns_and_rows) {
    LegendChart t(400, 300);
    for (int i = 0; i < 12; ++i) t.Series("Signal " + std::to_string(i), 2);
    TChartLegend& legend = t.Legend();
    legend.SetAlignment(laBottom);
    t.chart.Render();
    ASSERT_GE(legend.NumCols, 2);
    ASSERT_LT(legend.NumCols, 12);
    EXPECT_EQ(legend.NumRows, (12 + legend.NumCols - 1) / legend.NumCols);
    EXPECT_EQ(legend.LastShown, 11);
    // The chart ends above the box by 4 percent of its height.
    EXPECT_EQ(t.chart.ChartRect.Bottom, legend.ShapeBounds.Top - 4 * 300 / 100);
    // Second item: the first row's second column.
    const int w = (legend.ShapeBounds.Right - legend.ShapeBounds.Left) / legend.NumCols;
    const int y = legend.ItemsTop + 1 + legend.ItemHeight / 2;
    EXPECT_EQ(legend.Clicked(legend.ShapeBounds.Left + 1 + w + w / 2, y), 1);
    EXPECT_EQ(legend.Clicked(legend.ShapeBounds.Left + 1 + w / 2, y + legend.ItemHeight), legend.NumCols);

    // MaxNumRows cuts the rows (and the items shown).
    legend.SetMaxNumRows(1);
    t.chart.Render();
    EXPECT_EQ(legend.NumRows, 1);
    EXPECT_EQ(legend.LastShown, legend.NumCols - 1);
}

TEST(chart_legend, check_boxes_switch_series_and_groups_for_the_next_paint) {
    LegendChart t(400, 300);
    RecordingSeries& a = t.Series("Alpha", 3);
    RecordingSeries& b = t.Series("Beta", 3);
    TChartLegend& legend = t.Legend();
    legend.SetCheckBoxes(true);
    t.chart.Render();
    EXPECT_TRUE(legend.HasCheckBoxes());
    const vcl::TRect symbol = legend.Items().Items(0).SymbolRect;
    const int y = (symbol.Top + symbol.Bottom) / 2;
    const int boxX = legend.ShapeBounds.Left + 4 + 6;

    // A press on the first item switches Alpha off: it is not drawn next
    // time, but stays listed (with check boxes every series is).
    a.Drawn.clear();
    EXPECT_TRUE(legend.DoMouseDown(boxX, y));
    EXPECT_FALSE(a.Active());
    t.chart.Render();
    EXPECT_TRUE(a.Drawn.empty());
    EXPECT_FALSE(b.Drawn.empty());
    EXPECT_EQ(legend.TotalItems, 2);
    EXPECT_TRUE(legend.ShouldDraw());
    EXPECT_TRUE(legend.DoMouseDown(boxX, y));
    EXPECT_TRUE(a.Active());
    EXPECT_FALSE(legend.DoMouseDown(legend.ShapeBounds.Left - 5, y));
    EXPECT_FALSE(legend.DoCheck(-1));

    // Radio: setting it keeps the first active one; a check activates only
    // the item's series.
    legend.SetCheckBoxesStyle(cbsRadio);
    EXPECT_TRUE(a.Active());
    EXPECT_FALSE(b.Active());
    EXPECT_TRUE(legend.DoCheck(1));
    EXPECT_FALSE(a.Active());
    EXPECT_TRUE(b.Active());

    // Groups: listed by name, checked when all their series are active.
    TSeriesGroups& groups = t.chart.SeriesList().SeriesGroups();
    TSeriesGroup& g1 = groups.Add();
    TSeriesGroup& g2 = groups.Add();
    EXPECT_EQ(g1.Name(), "Group1");
    EXPECT_EQ(g2.Name(), "Group2");
    g1.Series().Add(&a);
    g1.Series().Add(&b);
    EXPECT_EQ(g1.Active(), gaSome);
    EXPECT_EQ(g2.Active(), gaYes);  // empty
    g1.SetActive(gaSome);
    EXPECT_FALSE(a.Active());
    legend.SetCheckBoxesStyle(cbsCheck);
    legend.SetLegendStyle(lsSeriesGroups);
    t.chart.Render();
    ASSERT_EQ(legend.TotalItems, 2);
    EXPECT_EQ(legend.Items().Items(1).Text, "Group2");
    EXPECT_TRUE(legend.DoCheck(0));
    EXPECT_EQ(g1.Active(), gaYes);
    EXPECT_TRUE(legend.DoCheck(0));
    EXPECT_EQ(g1.Active(), gaNo);
    EXPECT_FALSE(b.Active());

    // A freed series leaves its group.
    vcl::TComponent::Free(&a);
    EXPECT_EQ(g1.Series().Count(), 1);
}

}  // namespace
