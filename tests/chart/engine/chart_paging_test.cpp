// Paging and the series' place on the chart: pages of points and the axis
// range they give, a page past the end, the visible points found by binary
// search with the result of the plain walk, drawing order, depth rows,
// legend texts, the mouse over points, and the series list with its
// automatic colours.
#include "chart/engine/chart_page.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_exceptions.h"
#include "chart/engine/palettes.h"
#include "support/recording_series.h"

namespace {

using chart::engine::ChartException;
using chart::engine::PageRange;
using chart::engine::TChartChangePage;
using chart::engine::TChartPage;
using chart::engine::TChartSeries;
using test_support::PlainChart;
using test_support::RecordingSeries;

std::pair<int, int> Page(int count, int perPage, int page) {
    int first = 0, last = 0;
    PageRange(count, perPage, page, first, last);
    return {first, last};
}

struct PageNews : chart::engine::TPlotEventListener {
    int heard = 0;
    void PlotEvent(chart::engine::TPlotEvent& e) override {
        heard += dynamic_cast<TChartChangePage*>(&e) != nullptr;
    }
};

TEST(chart_paging, pages_of_points_give_the_axis_its_range_and_a_page_past_a_series_end_shows_one_before_its_last) {
    EXPECT_EQ(Page(0, 10, 1), std::make_pair(-1, -1));
    EXPECT_EQ(Page(25, 0, 7), std::make_pair(0, 24));
    EXPECT_EQ(Page(25, 10, 3), std::make_pair(20, 24));
    // A page past a series' end shows the page before its last whole one.
    EXPECT_EQ(Page(25, 10, 4), std::make_pair(10, 19));
    EXPECT_EQ(Page(25, 10, 99), std::make_pair(10, 19));
    EXPECT_EQ(Page(30, 10, 9), std::make_pair(20, 29));
    EXPECT_EQ(Page(5, 10, 2), std::make_pair(0, 4));
    EXPECT_EQ(Page(5, 2147483647, 3), std::make_pair(0, 4));

    PlainChart chart;
    PageNews news;
    chart.Listeners().Add(&news);
    std::vector<int> changes;
    chart.OnPageChange = [&](TChartPage* page) { changes.push_back(page->Current()); };
    TChartPage& pages = chart.Pages();
    EXPECT_EQ(pages.Count(), 1);  // no series
    RecordingSeries& s = chart.AddRecording();
    s.Fill(95, [](int i) { return i % 7; });
    for (int i = 0; i < 95; ++i) s.XValues().SetValue(i, 2.0 * i);
    EXPECT_EQ(pages.Count(), 1);  // no paging
    pages.SetCurrent(5);
    EXPECT_EQ(pages.Current(), 1);

    pages.SetMaxPointsPerPage(10);
    EXPECT_EQ(pages.Count(), 10);
    EXPECT_EQ(news.heard, 1);
    pages.SetCurrent(10);
    EXPECT_EQ(changes, (std::vector<int>{10}));
    EXPECT_EQ(news.heard, 2);
    EXPECT_EQ(pages.FirstValueIndex(), 90);
    chart.Render();
    // Page 10 shows points 90..94 and the axis spans exactly them.
    EXPECT_EQ(chart.BottomAxis().InternalMinimum, 180);
    EXPECT_EQ(chart.BottomAxis().InternalMaximum, 188);
    EXPECT_EQ(s.FirstVisibleIndex, 90);
    EXPECT_EQ(s.LastVisibleIndex, 94);
    EXPECT_EQ(s.Drawn, (std::vector<int>{90, 91, 92, 93, 94}));
    // Scaled as a full page: x90 + 10 (x94 - x90) / 5.
    pages.SetScaleLastPage(false);
    chart.Render();
    EXPECT_EQ(chart.BottomAxis().InternalMaximum, 180 + 10 * (188 - 180) / 5.0);
    // Equal ends of a short page: x + N / n.
    for (int i = 90; i < 95; ++i) s.XValues().SetValue(i, 180);
    chart.Render();
    EXPECT_EQ(chart.BottomAxis().InternalMaximum, 180 + 10 / 5.0);

    // The value axis from the page's points only.
    pages.SetCurrent(1);
    pages.SetAutoScale(true);
    chart.Render();
    EXPECT_EQ(chart.LeftAxis().InternalMinimum, 0);
    EXPECT_EQ(chart.LeftAxis().InternalMaximum, 6);
    s.YValues().SetValue(50, 1000);
    chart.Render();
    EXPECT_EQ(chart.LeftAxis().InternalMaximum, 6);
    pages.SetAutoScale(false);
    chart.Render();
    EXPECT_EQ(chart.LeftAxis().InternalMaximum, 1000);

    // Points deleted under the last page: the chart shows, and keeps, the
    // last page there is now.
    pages.SetCurrent(10);
    changes.clear();
    s.DeleteRange(55, 40);
    EXPECT_EQ(pages.Count(), 6);
    EXPECT_EQ(pages.Current(), 6);
    chart.Render();
    EXPECT_EQ(s.FirstVisibleIndex, 50);
    s.Fill(40, [](int) { return 1.0; });
    EXPECT_EQ(pages.Current(), 6);

    // Fewer pages than the one shown: back to the last, with the news of
    // the page and then, as always, that of the setting.
    const int heard = news.heard;
    pages.SetMaxPointsPerPage(50);
    EXPECT_EQ(pages.Current(), 2);
    EXPECT_EQ(changes, (std::vector<int>{2}));
    EXPECT_EQ(news.heard, heard + 2);
    pages.SetCurrent(0);
    EXPECT_EQ(pages.Current(), 1);
    pages.SetCurrent(-7);
    EXPECT_EQ(pages.Current(), 1);
    try {
        pages.SetMaxPointsPerPage(-1);
        ADD_FAILURE() << "-1 accepted";
    } catch (const ChartException& e) {
        EXPECT_EQ(e.Message, "MaxPointsPerPage must be >= 0");
    }
    EXPECT_EQ(pages.MaxPointsPerPage(), 50);
    chart.SetMaxPointsPerPage(0);
    EXPECT_EQ(chart.NumPages(), 1);
    chart.Listeners().Remove(&news);
}

TEST(chart_paging, a_shorter_series_on_the_other_axis_shows_its_page_before_its_last_whole_one) {
    PlainChart chart;
    RecordingSeries& longer = chart.AddRecording();
    longer.Fill(95, [](int i) { return i; });
    RecordingSeries& shorter = chart.AddRecording();
    shorter.SetHorizAxis(chart::engine::aTopAxis);
    shorter.Fill(25, [](int i) { return i; });
    for (int i = 0; i < 25; ++i) shorter.XValues().SetValue(i, 100.0 + i);
    chart.Pages().SetMaxPointsPerPage(10);
    chart.Pages().SetCurrent(10);
    EXPECT_EQ(chart.Pages().Current(), 10);
    chart.Render();
    EXPECT_EQ(chart.BottomAxis().InternalMinimum, 90);
    EXPECT_EQ(chart.BottomAxis().InternalMaximum, 94);
    // Page 10 lies past the 25 points of the top axis' series: 10..19.
    EXPECT_EQ(chart.TopAxis().InternalMinimum, 110);
    EXPECT_EQ(chart.TopAxis().InternalMaximum, 119);
}

// The walk of the visible range as it is written down, for comparison.
std::pair<int, int> WalkVisible(const std::vector<double>& L, double minV, double maxV, bool keep) {
    const int n = static_cast<int>(L.size());
    int first = 0;
    if (L[0] <= minV) {
        while (first < n && L[first] < minV) ++first;
        if (first > n - 1) return {-1, -1};
    }
    int last = n - 1;
    if (L[n - 1] > maxV) {
        last = first;
        while (last < n - 1 && L[last] < maxV) ++last;
        if (!keep)
            while (last > 0 && L[last] > maxV) --last;
    }
    return {first, last};
}

TEST(chart_series_frame, visible_points_are_found_by_search_with_the_walks_result) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.Paint = false;
    // Runs of equal X, as received chunks share one time stamp.
    std::mt19937 random(7);
    std::vector<double> xs;
    double x = 0;
    for (int i = 0; i < 5000; ++i) {
        if (random() % 4 == 0) x += (random() % 5) * 0.5;
        xs.push_back(x);
        s.AddXY(x, i % 13);
    }
    chart.Render();
    chart::engine::TChartAxis& axis = chart.BottomAxis();
    for (int trial = 0; trial < 400; ++trial) {
        const double a = (static_cast<double>(random() % 13000) - 1000) / 10.0;
        const double b = a + (random() % 3000) / 10.0 + 1e-10;
        axis.SetMinMax(a, b);
        chart.Render();
        const double minV = axis.CalcPosPoint(chart.ChartRect.Left);
        const double maxV = axis.CalcPosPoint(chart.ChartRect.Right);
        for (bool keep : {false, true}) {
            s.KeepPointAfterLast = keep;
            s.CalcFirstLastVisibleIndex();
            const auto expected = WalkVisible(xs, minV, maxV, keep);
            ASSERT_EQ(std::make_pair(s.FirstVisibleIndex, s.LastVisibleIndex), expected)
                << a << ".." << b << " keep " << keep;
        }
    }

    // Everything left of the axis: nothing drawn; an unordered list: all.
    axis.SetMinMax(1e6, 2e6);
    s.Drawn.clear();
    chart.Render();
    EXPECT_EQ(s.FirstVisibleIndex, -1);
    EXPECT_TRUE(s.Drawn.empty());
    s.XValues().Order = chart::engine::TChartListOrder::loNone;
    chart.Render();
    EXPECT_EQ(s.FirstVisibleIndex, 0);
    EXPECT_EQ(s.LastVisibleIndex, 4999);

    // The keep flag: the last point is the first one at or past the end.
    s.Clear();
    s.XValues().Order = chart::engine::TChartListOrder::loAscending;
    s.Fill(10, [](int i) { return i; });
    axis.SetMinMax(2.5, 6.5);
    s.KeepPointAfterLast = true;
    chart.Render();
    EXPECT_EQ(std::make_pair(s.FirstVisibleIndex, s.LastVisibleIndex), std::make_pair(3, 7));
    s.KeepPointAfterLast = false;
    s.Drawn.clear();
    chart.Render();
    EXPECT_EQ(s.Drawn, (std::vector<int>{3, 4, 5, 6}));
    // An inverted axis draws from the last point back.
    axis.SetInverted(true);
    s.Drawn.clear();
    chart.Render();
    EXPECT_EQ(s.Drawn, (std::vector<int>{6, 5, 4, 3}));
}

TEST(chart_series_frame, rows_legend_texts_and_the_mouse_over_points) {
    PlainChart chart;
    RecordingSeries& a = chart.AddRecording();
    RecordingSeries& b = chart.AddRecording();
    a.Fill(3, [](int i) { return 10.0 * (i + 1); });
    // 2D: every series on row 0, so two of them share it.
    chart.Render();
    EXPECT_EQ(a.DepthRow(), 0);
    EXPECT_TRUE(a.MoreSameZOrder());
    EXPECT_TRUE(a.FirstInZOrder());
    EXPECT_FALSE(b.FirstInZOrder());
    chart.ApplyZOrder = false;
    EXPECT_FALSE(a.MoreSameZOrder());
    chart.ApplyZOrder = true;
    // 3D: one row each, one series depth apart, front row drawn last.
    chart.SetView3D(true);
    chart.Render();
    EXPECT_EQ(a.DepthRow(), 0);
    EXPECT_EQ(b.DepthRow(), 1);
    EXPECT_EQ(chart.MaxZOrder, 1);
    EXPECT_GT(chart.SeriesWidth3D, 0);
    EXPECT_EQ(b.InternalDepthIndex, 0);
    EXPECT_EQ(a.StartZ, chart.SeriesWidth3D);
    EXPECT_EQ(a.EndZ, 2 * chart.SeriesWidth3D);
    EXPECT_EQ(a.MiddleZ, (a.StartZ + a.EndZ) / 2);
    EXPECT_EQ(chart.Width3D, 2 * chart.SeriesWidth3D);
    // The depth axis maps a series' row to its depth in pixels.
    chart::engine::TChartAxis& depth = chart.DepthAxis();
    EXPECT_EQ(depth.InternalMinimum, -0.5);
    EXPECT_EQ(depth.InternalMaximum, 1.5);
    EXPECT_EQ(depth.CalcPosValue(-0.5), 0);
    EXPECT_EQ(depth.CalcPosValue(1.5), chart.Width3D);
    EXPECT_EQ(depth.CalcPosValue(0.5), chart.Width3D / 2);
    // A fixed row shared with an automatic one: the two draw as one layer.
    b.SetZOrder(0);
    chart.Render();
    EXPECT_EQ(a.DepthRow(), 0);
    EXPECT_EQ(b.DepthRow(), 0);
    EXPECT_TRUE(a.MoreSameZOrder());
    EXPECT_EQ(chart.MaxZOrder, 0);
    chart.SetView3D(false);

    // Legend texts: label and value in either order, percent, X.
    a.Labels().InsertLabel(1, "mid");
    std::string text;
    a.LegendString(1, chart::engine::ltsLeftValue, text);
    EXPECT_EQ(text, "20\x06mid");
    a.LegendString(1, chart::engine::ltsRightPercent, text);
    EXPECT_EQ(text, "mid\x06" "33.33 %");
    a.LegendString(0, chart::engine::ltsRightValue, text);
    EXPECT_EQ(text, "10");
    a.LegendString(2, chart::engine::ltsXAndValue, text);
    EXPECT_EQ(text, "2\x06" "30");
    a.LegendString(1, chart::engine::ltsPlain, text);
    EXPECT_EQ(text, "mid");
    a.LegendString(9, chart::engine::ltsValue, text);
    EXPECT_EQ(text, "");
    EXPECT_EQ(a.GetMarkText(0), "10");
    EXPECT_EQ(a.GetMarkText(1), "mid");

    // The mouse over a point: enter once, leave once, the cursor shown.
    struct HitSeries : RecordingSeries {
        int Clicked(int X, int) override { return X >= 100 && X < 110 ? 0 : -1; }
    };
    auto* hit = new HitSeries;
    hit->SetParentChart(&chart);
    EXPECT_FALSE(hit->CheckMouse(105, 5));  // nothing asked for: no test at all
    int entered = 0, left = 0;
    hit->OnMouseEnter = [&](vcl::TComponent*) { ++entered; };
    hit->OnMouseLeave = [&](vcl::TComponent*) { ++left; };
    hit->Cursor = vcl::TCursor::crHandPoint;
    EXPECT_TRUE(hit->CheckMouse(105, 5));
    EXPECT_TRUE(hit->CheckMouse(106, 5));
    EXPECT_EQ(chart.Cursor(), vcl::TCursor::crHandPoint);
    EXPECT_FALSE(hit->CheckMouse(50, 5));
    EXPECT_EQ(entered, 1);
    EXPECT_EQ(left, 1);
    hit->CheckMouse(105, 5);
    chart.RemoveSeries(*hit);
    EXPECT_EQ(chart.Cursor(), vcl::TCursor::crDefault);
    vcl::TComponent::Free(hit);
}

TEST(chart_series_list, series_join_once_with_free_colours_and_leave_cleanly) {
    PlainChart chart;
    std::vector<std::string> added, removed;
    chart.OnAddSeries = [&](chart::engine::TCustomChartSeries* s) { added.push_back(s->Title()); };
    chart.OnRemoveSeries = [&](chart::engine::TCustomChartSeries* s) { removed.push_back(s->Title()); };
    std::vector<RecordingSeries*> s;
    for (int i = 0; i < 3; ++i) {
        s.push_back(new RecordingSeries);
        s.back()->SetTitle(std::string(1, static_cast<char>('a' + i)));
        s.back()->SetParentChart(&chart);
    }
    chart.AddSeries(*s[0]);
    EXPECT_EQ(added, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(chart.SeriesCount(), 3);
    // Automatic colours: the palette in turn, skipping colours in use.
    EXPECT_EQ(s[0]->SeriesColor(), vcl::clRed);
    EXPECT_EQ(s[1]->SeriesColor(), vcl::clGreen);
    EXPECT_EQ(s[2]->SeriesColor(), vcl::clYellow);
    EXPECT_FALSE(chart.IsFreeSeriesColor(vcl::clGreen, false, nullptr));
    EXPECT_TRUE(chart.IsFreeSeriesColor(vcl::clGreen, false, s[1]));
    EXPECT_FALSE(chart.IsFreeSeriesColor(vcl::clWhite, true, nullptr));   // the chart's colour
    EXPECT_FALSE(chart.IsFreeSeriesColor(vcl::clSilver, true, nullptr));  // the back wall's
    EXPECT_TRUE(chart.IsFreeSeriesColor(vcl::clSilver, false, nullptr));
    // Every palette colour in use: the last one.
    const vcl::TColor two[] = {vcl::clRed, vcl::clGreen};
    chart::engine::SetChartPalette(chart, two, 1);
    EXPECT_EQ(chart.GetFreeSeriesColor(false, nullptr), vcl::clGreen);
    // A new palette gives the automatic series their colours afresh.
    const vcl::TColor three[] = {vcl::clBlue, vcl::clNavy, vcl::clTeal};
    chart::engine::SetChartPalette(chart, three, 2);
    EXPECT_EQ(s[0]->SeriesColor(), vcl::clBlue);
    EXPECT_EQ(s[1]->SeriesColor(), vcl::clNavy);
    EXPECT_EQ(s[2]->SeriesColor(), vcl::clTeal);
    chart.SetColorPaletteIndex(12);
    EXPECT_EQ(s[0]->SeriesColor(), 0xF0F0F0);
    chart.SetColorPaletteIndex(0);
    EXPECT_EQ(s[0]->SeriesColor(), vcl::clRed);

    // Moving a series to another chart takes it out of this one.
    PlainChart other;
    other.AddSeries(*s[1]);
    EXPECT_EQ(removed, (std::vector<std::string>{"b"}));
    EXPECT_EQ(chart.SeriesCount(), 2);
    EXPECT_EQ(s[1]->ParentChart(), &other);
    chart.RemoveSeries(*s[1]);  // not here: nothing
    EXPECT_EQ(removed.size(), 1u);
    EXPECT_EQ(chart.SeriesTitleLegend(1, true), "c");
    s[0]->SetTitle("");
    s[0]->Name = "";
    EXPECT_EQ(chart.SeriesTitleLegend(0, true), "Series1");

    // Sources: a chain back to the series is refused.
    s[0]->AddDataSource(*s[2]);
    EXPECT_THROW(chart.CheckDatasource(*s[2], *s[0]), ChartException);
    EXPECT_NO_THROW(chart.CheckDatasource(*s[0], *s[2]));

    // Multi-line widths: no empty last line.
    int lines = 0;
    const int w = chart.MultiLineTextWidth("ab\rabcd\r", lines);
    EXPECT_EQ(lines, 2);
    EXPECT_EQ(w, chart.Canvas()->TextWidth("abcd"));
    chart.MultiLineTextWidth("", lines);
    EXPECT_EQ(lines, 0);

    // Freeing one kind keeps the others in order; a series deleted
    // outright leaves the list too.
    auto* d = new RecordingSeries;
    d->SetParentChart(&chart);
    d->Tag = 1;
    chart.FreeAllSeries([](TChartSeries& series) { return series.Tag == 1; });
    EXPECT_EQ(chart.SeriesCount(), 2);
    EXPECT_EQ(chart.GetSeries(0), s[0]);
    EXPECT_EQ(chart.GetSeries(1), s[2]);
    delete s[2];
    EXPECT_EQ(chart.SeriesCount(), 1);
    chart.Render();
}

}  // namespace
