// Series marks through the real paint: the text of every style, which
// points get a mark (DrawEvery counted in the whole series, no nulls, no
// empty texts), boxes placed above their points and kept where the user
// dragged them, clicks on straight and turned boxes, clipping, the widest
// mark; and a whole chart (titles, a legend with check boxes, three series
// with pointers and marks with callouts) written as a PNG and checked.
#include <gtest/gtest.h>

#include <QWidget>
#include <cmath>

#include "chart/engine/callout.h"
#include "chart/engine/chart_axis.h"
#include "platform/vcl/forms.h"
#include "support/mouse.h"
#include "support/png_file.h"
#include "support/point_series.h"
#include "support/recording_series.h"

namespace {

using namespace chart::engine;
using test_support::At;
using test_support::PlainChart;
using test_support::PointSeries;
using test_support::RecordingSeries;

TEST(series_marks, texts_by_style_item_and_event) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.SetTitle("Temp\x06" "C");
    s.AddXY(1, 10);
    s.AddXY(2, -30, "low");
    s.AddXY(3, 60);
    TSeriesMarks& m = s.Marks();
    auto text = [&](TSeriesMarksStyle Style, int Index) {
        m.SetStyle(Style);
        return s.GetMarkText(Index);
    };
    EXPECT_EQ(text(smsLabel, 0), "10");  // no label: the value
    EXPECT_EQ(text(smsLabel, 1), "low");
    EXPECT_EQ(text(smsValue, 1), "-30");
    EXPECT_EQ(text(smsPercent, 1), "30 %");  // |-30| of the absolute total 100
    EXPECT_EQ(text(smsLabelPercent, 1), "low 30 %");
    EXPECT_EQ(text(smsLabelValue, 2), "60 60");
    EXPECT_EQ(text(smsPercentTotal, 2), "60 % of 40");
    EXPECT_EQ(text(smsXValue, 2), "3");
    EXPECT_EQ(text(smsXY, 2), "3 60");
    EXPECT_EQ(text(smsSeriesTitle, 0), "Temp C");
    EXPECT_EQ(text(smsPointIndex, 2), "2");
    EXPECT_EQ(text(smsPercentRelative, 0), "100 %");
    EXPECT_EQ(text(smsPercentRelative, 2), "600 %");
    EXPECT_EQ(text(smsLegend, 1), "-30 low");
    m.SetMultiLine(true);
    EXPECT_EQ(text(smsLabelPercentTotal, 1), "low\r30 %\rof 40");
    m.SetMultiLine(false);

    // Relative to a first point of 0 there is no ratio: no text (no mark).
    RecordingSeries& zero = chart.AddRecording();
    zero.AddXY(0, 0);
    zero.AddXY(1, 5);
    zero.Marks().SetStyle(smsPercentRelative);
    EXPECT_EQ(zero.GetMarkText(1), "");

    // An item's own text wins (without its last line break); an item with
    // no lines keeps the style's; then the event has the last word.
    m.SetStyle(smsValue);
    m.Items().Items(0).Text().Add("own");
    m.Items().Items(0).Text().Add("text");
    EXPECT_EQ(s.GetMarkText(0), "own\r\ntext");
    m.Items().Items(1);
    EXPECT_EQ(s.GetMarkText(1), "-30");
    s.OnGetMarkText = [](TChartSeries*, int Index, std::string& Text) {
        if (Index == 2) Text = "[" + Text + "]";
    };
    EXPECT_EQ(s.GetMarkText(2), "[60]");
    EXPECT_EQ(s.GetMarkText(7), "");
}

TEST(series_marks, the_pass_marks_every_nth_point_of_the_series_and_keeps_dragged_boxes) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.Fill(10, [](int i) { return 10 + i; });
    s.AddNull();  // index 10: never marked
    TSeriesMarks& m = s.Marks();
    m.SetVisible(true);
    m.SetDrawEvery(3);
    chart.BottomAxis().SetMinMax(2, 10);
    chart.Render();
    std::vector<int> marked;
    for (int i = 0; i < m.Positions().Count(); ++i)
        if (m.Positions().Position(i)) marked.push_back(i);
    EXPECT_EQ(marked, (std::vector<int>{3, 6, 9}));

    // DrawEvery below 1 counts as 1, in the pass and in clicks.
    m.Positions().Clear();
    m.SetDrawEvery(0);
    chart.Render();
    EXPECT_EQ(m.Positions().Count(), 10);
    EXPECT_EQ(m.Positions().Position(10), nullptr);
    const TSeriesMarkPosition p4 = *m.Positions().Position(4);
    EXPECT_EQ(m.Clicked(p4.LeftTop.X + p4.Width / 2, p4.LeftTop.Y + p4.Height / 2), 4);
    EXPECT_EQ(m.Clicked(-100, -100), -1);
    m.SetDrawEvery(-5);
    EXPECT_EQ(m.Clicked(p4.LeftTop.X + p4.Width / 2, p4.LeftTop.Y + p4.Height / 2), 4);
    m.SetDrawEvery(1);

    // An empty text gets no mark and keeps no position.
    m.Positions().Clear();
    s.OnGetMarkText = [](TChartSeries*, int Index, std::string& Text) {
        if (Index == 5) Text.clear();
    };
    chart.Render();
    EXPECT_EQ(m.Positions().Position(5), nullptr);
    ASSERT_NE(m.Positions().Position(4), nullptr);

    // The box sits on its point: centred on its X, its bottom row one below.
    const int x4 = s.CalcXPos(4), y4 = s.CalcYPos(4);
    const TSeriesMarkPosition& placed = *m.Positions().Position(4);
    EXPECT_EQ(placed.LeftTop.X, x4 - placed.Width / 2);
    EXPECT_EQ(placed.LeftTop.Y + placed.Height, y4 + 1);

    // Dragged: the box stays where the user put it, paint after paint, until
    // the series' points are cleared.
    TSeriesMarkPosition& dragged = m.Positions().Ensure(4);
    dragged.Custom = true;
    dragged.LeftTop = {30, 30};
    for (int paint = 0; paint < 2; ++paint) {
        auto image = chart.Render();
        EXPECT_EQ(m.Positions().Position(4)->LeftTop.X, 30);
        EXPECT_EQ(At(*image, 32, 32), static_cast<gdi::COLORREF>(vcl::ColorToRGB(vcl::clInfoBk))) << paint;
    }
    s.Clear();
    EXPECT_EQ(m.Positions().Count(), 0);
}

TEST(series_marks, turned_boxes_are_hit_on_their_turned_shape_and_clip_keeps_marks_inside) {
    PlainChart chart(400, 300);
    RecordingSeries& s = chart.AddRecording();
    s.AddXY(0, 50, "a long label for a wide box");
    s.AddXY(1, 100);
    TSeriesMarks& m = s.Marks();
    m.SetVisible(true);
    chart.LeftAxis().SetMinMax(0, 100);
    chart.Render();
    const TSeriesMarkPosition wide = *m.Positions().Position(0);
    ASSERT_GT(wide.Width, 2 * wide.Height);
    // A point inside the box but off its middle row...
    const int cx = wide.LeftTop.X + wide.Width / 2, cy = wide.LeftTop.Y + wide.Height / 2;
    const int offX = wide.LeftTop.X + wide.Width - 3;
    EXPECT_EQ(m.Clicked(offX, cy), 0);
    // ...is outside it turned upright, where a point above the box is in.
    m.SetAngle(90);
    EXPECT_EQ(m.Clicked(offX, cy), -1);
    EXPECT_EQ(m.Clicked(cx, cy - wide.Width / 2 + 4), 0);
    m.SetAngle(0);

    // The mark of the top point reaches above the chart rectangle; clipped
    // marks do not.
    auto mark = [&](const vcl::TBitmap& b) {
        int n = 0;
        for (int y = 0; y < chart.ChartRect.Top - 1; ++y)
            for (int x = 0; x < 400; ++x) n += At(b, x, y) == static_cast<gdi::COLORREF>(vcl::ColorToRGB(vcl::clInfoBk)) ? 1 : 0;
        return n;
    };
    EXPECT_GT(mark(*chart.Render()), 0);
    m.SetClip(true);
    EXPECT_EQ(mark(*chart.Render()), 0);

    // The widest mark of the series and of the chart's active series.
    chart.Canvas()->AssignFont(m.Font());
    const int wanted = chart.Canvas()->TextWidth("a long label for a wide box");
    EXPECT_EQ(s.MaxMarkWidth(), wanted);
    EXPECT_EQ(chart.MaxMarkWidth(), wanted);
    s.SetActive(false);
    EXPECT_EQ(chart.MaxMarkWidth(), 0);
}

// Pixels of a colour family (text and lines are smoothed).
bool Bluish(gdi::COLORREF c) { return (c >> 16) > 0xA0 && (c & 0xFF) < 0x60 && ((c >> 8) & 0xFF) < 0x60; }

TEST(series_marks, a_whole_chart_with_titles_legend_pointers_and_callouts_as_a_user_sees_it) {
    vcl::EnsureApplication();
    vcl::TForm form(nullptr);
    form.SetClientSize(640, 480);
    auto* chart = new PlainChart(640, 480, &form);
    chart->SetParent(&form);
    chart->Title().Text().Add("Line voltages");
    chart->SubTitle().Text().Add("three phases");
    chart->Foot().Text().Add("sampled every second");
    TChartLegend& legend = chart->Legend();
    legend.SetVisible(true);
    legend.SetCheckBoxes(true);
    // A smooth shadow is blurred only on a buffered surface: plain, the
    // window and the bitmap show the same.
    legend.Shadow().SetSmooth(false);
    const char* names[] = {"L1", "L2", "L3"};
    PointSeries* series[3];
    for (int k = 0; k < 3; ++k) {
        auto* s = new PointSeries(&form);
        s->SetParentChart(chart);
        s->SetTitle(names[k]);
        for (int i = 0; i < 6; ++i) s->AddXY(i, 40 + 25 * std::sin(i + 2.1 * k));
        s->Pointer().SetStyle(k == 0 ? psRectangle : k == 1 ? psCircle : psTriangle);
        TSeriesMarks& m = s->Marks();
        m.SetVisible(true);
        m.SetStyle(smsValue);
        m.SetDrawEvery(2);
        m.Shadow().SetSmooth(false);
        m.Callout().SetLength(14);
        m.Callout().SetDistance(3);
        m.Arrow().SetColor(vcl::clBlack);
        series[k] = s;
    }
    chart->LeftAxis().SetMinMax(0, 100);
    chart->BottomAxis().SetMinMax(-0.5, 5.5);
    form.Show();

    // The window's paint and the bitmap show the same; the bitmap goes to
    // a PNG file, and the checks read the file back.
    const QImage shown = chart->Widget()->grab().toImage();
    auto png = test_support::WritePngAndReadBack(*chart->Render(), "chart_engine_walls_legend_marks.png");
    vcl::TBitmap image;
    image.Assign(*png->Graphic());
    for (int y = 0; y < 480; y += 4)
        for (int x = 0; x < 640; x += 4) {
            const QRgb p = shown.pixel(x, y);
            ASSERT_EQ(static_cast<gdi::COLORREF>(qRed(p) | qGreen(p) << 8 | qBlue(p) << 16), At(image, x, y)) << x << "," << y;
        }

    // The legend right of the chart rectangle by the gap of 3 percent of the
    // chart's width before it (margins of 3 percent each side).
    const int before = 640 - 2 * (640 * 3 / 100);
    EXPECT_EQ(legend.ShapeBounds.Left - chart->ChartRect.Right, 3 * before / 100);
    EXPECT_LT(legend.ShapeBounds.Right, 640);
    // The titles' blue pixels inside their bands at the top only.
    int blueInTitle = 0, blueElsewhere = 0;
    const vcl::TRect title = chart->Title().ShapeBounds, sub = chart->SubTitle().ShapeBounds;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            if (Bluish(At(image, x, y))) {
                if (y >= title.Top && y <= title.Bottom && x >= title.Left && x <= title.Right)
                    ++blueInTitle;
                else if (!(y >= sub.Top && y <= sub.Bottom))
                    ++blueElsewhere;
            }
    EXPECT_GT(blueInTitle, 20);
    EXPECT_EQ(blueElsewhere, 0);
    // A mark box ending Length + Distance above its point, its callout
    // reaching down towards the point.
    for (int k = 0; k < 3; ++k) {
        const TSeriesMarkPosition& p = *series[k]->Marks().Positions().Position(2);
        const int x = series[k]->CalcXPos(2), y = series[k]->CalcYPos(2);
        EXPECT_EQ(p.LeftTop.Y + p.Height - 1, y - 14 - 3) << k;
        EXPECT_EQ(p.ArrowFrom.Y, y - 3) << k;
        EXPECT_EQ(series[k]->Marks().Positions().Position(1), nullptr) << k;  // DrawEvery 2
        // The box's middle is that mark's, but a press only looks at the
        // marks of series with click events.
        TChartClickedPart part;
        const vcl::TPoint onBox{x, p.LeftTop.Y + p.Height / 2};
        chart->CalcClickedPart(onBox, true, part);
        EXPECT_EQ(part.Part, cpkChartRect) << k;
        chart->CalcClickedPart(onBox, false, part);
        EXPECT_EQ(part.Part, cpkSeriesMarks) << k;
        EXPECT_EQ(part.PointIndex, 2) << k;
        EXPECT_EQ(part.ASeries, series[k]) << k;
    }
    // The titles and the legend's items answer the hit test too.
    TChartClickedPart part;
    const auto middle = [](const vcl::TRect& R) { return vcl::TPoint{(R.Left + R.Right) / 2, (R.Top + R.Bottom) / 2}; };
    chart->CalcClickedPart(middle(title), true, part);
    EXPECT_EQ(part.Part, cpkTitle);
    chart->CalcClickedPart(middle(sub), true, part);
    EXPECT_EQ(part.Part, cpkSubTitle);
    chart->CalcClickedPart(middle(chart->Foot().ShapeBounds), true, part);
    EXPECT_EQ(part.Part, cpkFoot);
    const TLegendItem& second = legend.Items().Items(1);
    chart->CalcClickedPart({legend.ShapeBounds.Left + 10, (second.SymbolRect.Top + second.SymbolRect.Bottom) / 2}, true,
                           part);
    EXPECT_EQ(part.Part, cpkLegend);
    EXPECT_EQ(part.PointIndex, 1);

    // A real click on the first item's check box in the window hides that
    // series at the next paint; the legend still lists it, and the press
    // started no zoom.
    const int px = series[0]->CalcXPos(1), py = series[0]->CalcYPos(1);
    EXPECT_EQ(At(image, px, py), vcl::clRed);
    int legendClicks = 0;
    chart->OnClickLegend = [&](TCustomChart*, vcl::TMouseButton, vcl::TShiftState, int, int) {
        ++legendClicks;
        chart->CancelMouseAction = false;
    };
    const TLegendItem& first = legend.Items().Items(0);
    const int cx = legend.ShapeBounds.Left + 10, cy = (first.SymbolRect.Top + first.SymbolRect.Bottom) / 2;
    test_support::MousePress(*chart, Qt::LeftButton, cx, cy);
    test_support::MouseRelease(*chart, Qt::LeftButton, cx, cy);
    EXPECT_FALSE(series[0]->Active());
    EXPECT_EQ(legendClicks, 1);
    EXPECT_FALSE(chart->Zoom().Active);
    EXPECT_FALSE(chart->Zoomed);
    const QImage next = chart->Widget()->grab().toImage();
    EXPECT_EQ(legend.TotalItems, 3);
    EXPECT_NE(next.pixel(px, py), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(px, py), qRgb(255, 0, 0));
    // A second click brings it back.
    test_support::MousePress(*chart, Qt::LeftButton, cx, cy);
    test_support::MouseRelease(*chart, Qt::LeftButton, cx, cy);
    EXPECT_TRUE(series[0]->Active());
    EXPECT_EQ(chart->Widget()->grab().toImage().pixel(px, py), qRgb(255, 0, 0));
}

}  // namespace
