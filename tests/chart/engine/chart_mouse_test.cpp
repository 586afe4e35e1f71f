// The chart under the mouse, driven by mouse and wheel events sent to the
// widget of a chart in a shown window: the rubber band in the image the
// window shows, zooming and undoing by the drag's length and direction,
// panning and the ranges UndoZoom puts back, the tools hearing the mouse
// first, clicks on the parts of the chart, the wheel, a deep zoom on a
// date-time axis, and the whole as a user sees it (written as PNG files).
#include <gtest/gtest.h>

#include <QImage>
#include <chrono>
#include <climits>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "chart/drawing/plot_canvas3d.h"
#include "chart/engine/plot_tool.h"
#include "platform/rtl/datetime.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/picture.h"
#include "support/chart_surfaces.h"
#include "support/line_chart.h"
#include "support/mouse.h"
#include "support/qt_app.h"
#include "support/screen.h"

namespace {

using namespace chart::engine;
using test_support::MouseDrag;
using test_support::MouseMoveTo;
using test_support::MousePress;
using test_support::MouseRelease;
using test_support::MouseWheel;
using test_support::PixelChart;

constexpr int kW = 400, kH = 200;

// A chart of kW x kH in a shown window, a wave of 401 points on it, its
// axes automatic, the zoom band grey (on white the default white band
// changes no pixel), painted once.
struct ShownChart {
    vcl::TForm form{(vcl::EnsureApplication(), vcl::Application)};
    PixelChart* chart = nullptr;
    explicit ShownChart(int Margin = 0) {
        form.SetClientSize(kW, kH);
        chart = new PixelChart(kW, kH, &form);
        chart->SetParent(&form);
        for (int i = 0; i < 4; ++i) chart->SetMargin(i, Margin);
        for (int i = 0; i <= 400; ++i) chart->Line->AddXY(i, 100 + 80 * std::sin(i / 20.0));
        chart->BottomAxis().SetAutomatic(true);
        chart->LeftAxis().SetAutomatic(true);
        chart->Zoom().Pen().SetColor(vcl::clGray);
        form.Show();
        Paint();
    }
    // A paint now, as the window does it.
    void Paint() {
        test_support::Pump(std::chrono::milliseconds(20));
        chart->Update();
    }
    // The image the window shows (the last paint and what was drawn into it).
    vcl::TBitmap& Image() { return test_support::ShownImage(*chart); }
    std::unique_ptr<vcl::TBitmap> CopyImage() { return test_support::CopyOf(Image()); }
};

// The pixels where two pictures differ.
std::vector<vcl::TPoint> Differences(vcl::TBitmap& A, vcl::TBitmap& B) {
    std::vector<vcl::TPoint> out;
    for (int y = 0; y < A.Height(); ++y)
        for (int x = 0; x < A.Width(); ++x)
            if (A.Handle()->GetPixel(x, y) != B.Handle()->GetPixel(x, y)) out.push_back({x, y});
    return out;
}

// How many pixels the window shows otherwise than Image has them.
int ScreenDifferences(vcl::TControl& Control, vcl::TBitmap& Image) {
    const QImage screen = test_support::OnScreen(&Control);
    int n = 0;
    for (int y = 0; y < Image.Height(); ++y)
        for (int x = 0; x < Image.Width(); ++x) {
            const QRgb q = screen.pixel(x, y);
            n += static_cast<gdi::COLORREF>(qRed(q) | qGreen(q) << 8 | qBlue(q) << 16) !=
                 Image.Handle()->GetPixel(x, y);
        }
    return n;
}

// Whether every point lies on the outline of the rectangle (x0, y0)-(x1, y1)
// as a rectangle is drawn (the right and bottom edges one pixel in).
bool OnOutline(const std::vector<vcl::TPoint>& Points, int X0, int Y0, int X1, int Y1) {
    for (const vcl::TPoint& p : Points) {
        const bool side = (p.X == X0 || p.X == X1 - 1) && p.Y >= Y0 && p.Y < Y1;
        const bool edge = (p.Y == Y0 || p.Y == Y1 - 1) && p.X >= X0 && p.X < X1;
        if (!side && !edge) return false;
    }
    return true;
}

struct Range {
    bool automatic;
    double min, max;
    friend bool operator==(const Range&, const Range&) = default;
};
Range Of(const TChartAxis& Axis) { return {Axis.Automatic(), Axis.Minimum(), Axis.Maximum()}; }

TEST(chart_mouse, the_band_follows_the_drag_in_the_shown_image_and_the_release_decides) {
    ShownChart shown;
    PixelChart& chart = *shown.chart;
    const auto before = shown.CopyImage();
    const Range bottom = Of(chart.BottomAxis()), left = Of(chart.LeftAxis());

    // While dragging, the image differs from the picture by the band's
    // outline only; a repaint meanwhile (new data) still shows one band.
    MousePress(chart, Qt::LeftButton, 100, 50);
    EXPECT_TRUE(chart.Zoom().Active);
    MouseMoveTo(chart, 130, 80, Qt::LeftButton);
    MouseMoveTo(chart, 150, 120, Qt::LeftButton);
    auto band = Differences(*before, shown.Image());
    EXPECT_GT(band.size(), 150u);
    EXPECT_TRUE(OnOutline(band, 100, 50, 150, 120));
    chart.Invalidate();
    shown.Paint();
    EXPECT_EQ(Differences(*before, shown.Image()), band);
    // And what the window shows is that image.
    const QImage screen = test_support::OnScreen(&chart);
    for (const vcl::TPoint& p : band) {
        const QRgb q = screen.pixel(p.X, p.Y);
        ASSERT_EQ(static_cast<gdi::COLORREF>(qRed(q) | qGreen(q) << 8 | qBlue(q) << 16),
                  shown.Image().Handle()->GetPixel(p.X, p.Y));
    }

    // Released 16 pixels from the start both ways: no zoom, the image as
    // it was before the drag, no repaint.
    MouseMoveTo(chart, 116, 66, Qt::LeftButton);
    const int draws = chart.Draws;
    MouseRelease(chart, Qt::LeftButton, 116, 66);
    EXPECT_FALSE(chart.Zoom().Active);
    EXPECT_TRUE(Differences(*before, shown.Image()).empty());
    shown.Paint();
    EXPECT_EQ(chart.Draws, draws);
    EXPECT_FALSE(chart.Zoomed);
    EXPECT_EQ(Of(chart.BottomAxis()), bottom);

    // 17 pixels zoom to the rectangle.
    const double x0 = chart.BottomAxis().CalcPosPoint(100), x1 = chart.BottomAxis().CalcPosPoint(117);
    const double yTop = chart.LeftAxis().CalcPosPoint(50), yBottom = chart.LeftAxis().CalcPosPoint(67);
    MouseDrag(chart, Qt::LeftButton, 100, 50, 117, 67);
    EXPECT_TRUE(chart.Zoomed);
    EXPECT_TRUE(chart.HasRestorePoint());
    EXPECT_EQ(Of(chart.BottomAxis()), (Range{false, x0, x1}));
    EXPECT_EQ(Of(chart.LeftAxis()), (Range{false, yBottom, yTop}));
    shown.Paint();
    EXPECT_EQ(chart.Draws, draws + 1);

    // A drag ending outside the window zooms to the values there.
    chart.UndoZoom();
    shown.Paint();
    const double far = chart.BottomAxis().CalcPosPoint(kW + 60);
    MouseDrag(chart, Qt::LeftButton, 300, 100, kW + 60, kH + 80);
    EXPECT_DOUBLE_EQ(chart.BottomAxis().Maximum(), far);
    EXPECT_GT(far, 400);
    EXPECT_TRUE(std::isfinite(chart.LeftAxis().Minimum()));
    shown.Paint();

    // A leftward drag of 17 pixels undoes it, however far it goes up.
    int undos = 0;
    chart.OnUndoZoom = [&](vcl::TComponent*) { ++undos; };
    MouseDrag(chart, Qt::LeftButton, 200, 150, 183, 10);
    EXPECT_EQ(undos, 1);
    EXPECT_FALSE(chart.Zoomed);
    EXPECT_FALSE(chart.HasRestorePoint());
    EXPECT_EQ(Of(chart.BottomAxis()), bottom);
    EXPECT_EQ(Of(chart.LeftAxis()), left);

    // Horizontal zooming: the band spans the chart's height, 16 pixels
    // across are too few, 17 zoom only the bottom axis.
    chart.Zoom().Direction = tzdHorizontal;
    shown.Paint();
    const auto plain = shown.CopyImage();
    MousePress(chart, Qt::LeftButton, 300, 90);
    MouseMoveTo(chart, 340, 95, Qt::LeftButton);
    EXPECT_TRUE(OnOutline(Differences(*plain, shown.Image()), 300, 0, 340, kH));
    MouseRelease(chart, Qt::LeftButton, 316, 10);
    EXPECT_FALSE(chart.Zoomed);
    MouseDrag(chart, Qt::LeftButton, 300, 90, 317, 91);
    EXPECT_TRUE(chart.Zoomed);
    EXPECT_TRUE(chart.LeftAxis().Automatic());
    EXPECT_FALSE(chart.BottomAxis().Automatic());
    // Right to left, with any vertical move: undone.
    MouseDrag(chart, Qt::LeftButton, 300, 20, 250, 190);
    EXPECT_EQ(undos, 2);
    EXPECT_TRUE(chart.BottomAxis().Automatic());

    // Both ways: a drag right and up zooms the rectangle made from it; with
    // UpLeftZooms a leftward drag zooms too.
    chart.Zoom().Direction = tzdBoth;
    shown.Paint();
    const double left0 = chart.LeftAxis().CalcPosPoint(150), left1 = chart.LeftAxis().CalcPosPoint(40);
    MouseDrag(chart, Qt::LeftButton, 50, 150, 250, 40);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), left0);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Maximum(), left1);
    chart.UndoZoom();
    chart.Zoom().UpLeftZooms = true;
    shown.Paint();
    MouseDrag(chart, Qt::LeftButton, 250, 150, 50, 40);
    EXPECT_TRUE(chart.Zoomed);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), left0);
    chart.Zoom().UpLeftZooms = false;

    // Without a restore point UndoZoom only tells, repaints and clears
    // Zoomed.
    chart.UndoZoom();
    const Range now = Of(chart.BottomAxis());
    chart.Zoomed = true;
    chart.UndoZoom();
    EXPECT_EQ(undos, 5);
    EXPECT_FALSE(chart.Zoomed);
    EXPECT_EQ(Of(chart.BottomAxis()), now);

    // Animated: the steps between show one by one.
    chart.Zoom().Animated = true;
    chart.Zoom().AnimatedSteps = 4;
    shown.Paint();
    const int painted = chart.Draws;
    chart.ZoomAxes(50, 60, 50, 60, 100, 200, 100, 200);
    EXPECT_EQ(chart.Draws, painted + 3);
    EXPECT_EQ(Of(chart.BottomAxis()), (Range{false, 100, 200}));
    EXPECT_EQ(Of(chart.LeftAxis()), (Range{false, 50, 60}));

    // A wide band pen: the window shows every pixel of the band as it
    // moves and shrinks, and none once it is gone.
    chart.Zoom().Animated = false;
    chart.Zoom().Pen().SetWidth(9);
    shown.Paint();
    MousePress(chart, Qt::LeftButton, 60, 40);
    MouseMoveTo(chart, 200, 160, Qt::LeftButton);
    MouseMoveTo(chart, 150, 120, Qt::LeftButton);
    EXPECT_EQ(ScreenDifferences(chart, shown.Image()), 0);
    MouseRelease(chart, Qt::LeftButton, 61, 41);
    EXPECT_EQ(ScreenDifferences(chart, shown.Image()), 0);
}

TEST(chart_mouse, panning_moves_the_axes_and_undo_brings_back_the_first_ranges) {
    ShownChart shown;
    PixelChart& chart = *shown.chart;
    const Range bottom = Of(chart.BottomAxis()), left = Of(chart.LeftAxis());
    int scrolls = 0;
    chart.OnScroll = [&](vcl::TComponent*) { ++scrolls; };

    // Zoom, pan, zoom again: undo gives the ranges before the first zoom.
    MouseDrag(chart, Qt::LeftButton, 100, 40, 300, 160);
    const Range zoomed = Of(chart.BottomAxis());
    shown.Paint();
    const double across = chart.BottomAxis().CalcPosPoint(200) - chart.BottomAxis().CalcPosPoint(150);
    const double upDown = chart.LeftAxis().CalcPosPoint(100) - chart.LeftAxis().CalcPosPoint(80);
    const double leftMin = chart.LeftAxis().Minimum();
    MouseDrag(chart, Qt::RightButton, 200, 100, 150, 80, 1);
    EXPECT_EQ(scrolls, 1);
    EXPECT_DOUBLE_EQ(chart.BottomAxis().Minimum(), zoomed.min + across);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), leftMin + upDown);
    shown.Paint();
    MouseDrag(chart, Qt::LeftButton, 120, 60, 260, 150);
    chart.UndoZoom();
    EXPECT_EQ(Of(chart.BottomAxis()), bottom);
    EXPECT_EQ(Of(chart.LeftAxis()), left);
    EXPECT_FALSE(chart.Zoomed);

    // A pan alone keeps a restore point and counts as zoomed.
    shown.Paint();
    MouseDrag(chart, Qt::RightButton, 200, 100, 220, 100, 2);
    EXPECT_TRUE(chart.Zoomed);
    EXPECT_TRUE(chart.HasRestorePoint());
    EXPECT_FALSE(chart.BottomAxis().Automatic());
    chart.UndoZoom();
    EXPECT_EQ(Of(chart.BottomAxis()), bottom);

    // Leaving the chart rectangle stops the pan; coming back does not
    // start it again.
    shown.Paint();
    MousePress(chart, Qt::RightButton, 200, 100);
    MouseMoveTo(chart, 210, 100, Qt::RightButton);
    const Range moved = Of(chart.BottomAxis());
    MouseMoveTo(chart, -5, 100, Qt::RightButton);
    EXPECT_FALSE(chart.Panning().Active);
    MouseMoveTo(chart, 100, 100, Qt::RightButton);
    MouseRelease(chart, Qt::RightButton, 100, 100);
    EXPECT_EQ(Of(chart.BottomAxis()), moved);
    chart.UndoZoom();

    // The panning mode and OnAllowScroll decide which axes move.
    shown.Paint();
    chart.AllowPanning = pmHorizontal;
    MouseDrag(chart, Qt::RightButton, 200, 100, 190, 50, 1);
    EXPECT_EQ(Of(chart.LeftAxis()), left);
    EXPECT_NE(Of(chart.BottomAxis()), bottom);
    chart.UndoZoom();
    shown.Paint();
    chart.AllowPanning = pmBoth;
    chart.OnAllowScroll = [&](TChartAxis* Axis, double&, double&, bool& Allow) {
        Allow = Axis->Horizontal();
    };
    MouseDrag(chart, Qt::RightButton, 200, 100, 190, 50, 1);
    EXPECT_EQ(Of(chart.LeftAxis()), left);
    EXPECT_NE(Of(chart.BottomAxis()), bottom);
    chart.UndoZoom();
    // Keys that must be held: without them a drag does not pan.
    ChartPanKeyShift = vcl::ssCtrl;
    MouseDrag(chart, Qt::RightButton, 200, 100, 150, 50, 1);
    EXPECT_EQ(Of(chart.BottomAxis()), bottom);
    MouseDrag(chart, Qt::RightButton, 200, 100, 150, 50, 1, Qt::ControlModifier);
    EXPECT_NE(Of(chart.BottomAxis()), bottom);
    ChartPanKeyShift = 0;
    chart.UndoZoom();
    // No panning at all, or another button: nothing moves.
    chart.AllowPanning = pmNone;
    MouseDrag(chart, Qt::RightButton, 200, 100, 150, 50, 1);
    chart.AllowPanning = pmBoth;
    MouseDrag(chart, Qt::MiddleButton, 200, 100, 150, 50, 1);
    EXPECT_EQ(Of(chart.BottomAxis()), bottom);
    EXPECT_FALSE(chart.Zoomed);
}

// A tool that writes down what it hears and may take the press for itself.
class HearingTool : public TPlotCustomTool {
  public:
    HearingTool(vcl::TComponent* Owner, std::vector<std::string>& Heard, const std::string& Name)
        : TPlotCustomTool(Owner), heard_(Heard), name_(Name) {}
    bool TakePress = false;
    void ChartEvent(TChartToolEvent Event) override {
        if (Event == cteMouseLeave) heard_.push_back(name_ + " leave");
    }
    void ChartMouseEvent(TChartMouseEvent Event, vcl::TMouseButton, vcl::TShiftState, int X, int) override {
        heard_.push_back(name_ + " mouse" + std::to_string(Event) + " " + std::to_string(X));
        if (Event == cmeDown && TakePress) ParentChart()->CancelMouseAction = true;
    }
    void ChartMouseWheel(TChartMouseWheel Kind, int Delta, int, int) override {
        heard_.push_back(name_ + " wheel" + std::to_string(Kind) + " " + std::to_string(Delta));
    }

  private:
    std::vector<std::string>& heard_;
    std::string name_;
};

TEST(chart_mouse, tools_hear_the_mouse_first_and_may_keep_it) {
    ShownChart shown;
    PixelChart& chart = *shown.chart;
    std::vector<std::string> heard;
    auto* first = new HearingTool(&shown.form, heard, "a");
    auto* second = new HearingTool(&shown.form, heard, "b");
    first->SetParentChart(&chart);
    second->SetParentChart(&chart);

    MouseDrag(chart, Qt::LeftButton, 100, 50, 150, 120, 1);
    EXPECT_EQ(heard, (std::vector<std::string>{"a mouse0 100", "b mouse0 100", "a mouse1 150", "b mouse1 150",
                                               "a mouse2 150", "b mouse2 150"}));
    EXPECT_TRUE(chart.Zoomed);
    chart.UndoZoom();
    shown.Paint();

    // The first tool takes the press: the second does not hear it and the
    // chart does not zoom; an inactive tool hears nothing.
    heard.clear();
    first->TakePress = true;
    second->SetActive(false);
    MouseDrag(chart, Qt::LeftButton, 100, 50, 150, 120, 1);
    EXPECT_EQ(heard, (std::vector<std::string>{"a mouse0 100", "a mouse1 150", "a mouse2 150"}));
    EXPECT_FALSE(chart.Zoomed);
    EXPECT_FALSE(chart.Zoom().Active);

    // The wheel: each notch, then the turn as a whole.
    heard.clear();
    MouseWheel(chart, 10, 10, -240);
    EXPECT_EQ(heard, (std::vector<std::string>{"a wheel0 0", "a wheel0 0", "a wheel1 -240"}));

    // Leaving the window stops a pan and tells the tools.
    heard.clear();
    first->TakePress = false;
    MousePress(chart, Qt::RightButton, 200, 100);
    EXPECT_TRUE(chart.Panning().Active);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(chart.Widget(), &leave);
    EXPECT_FALSE(chart.Panning().Active);
    EXPECT_EQ(heard.back(), "a leave");
    MouseRelease(chart, Qt::RightButton, 200, 100);
}

TEST(chart_mouse, a_press_reaches_the_part_under_it) {
    ShownChart shown(10);
    PixelChart& chart = *shown.chart;
    chart.SetAxisVisible(true);
    shown.Paint();
    TFastLineSeries& line = *chart.Line;
    const vcl::TRect r = chart.ChartRect;
    const vcl::TPoint onPoint{line.CalcXPos(200), line.CalcYPos(200)};
    TChartClickedPart part;

    // A series without click events is not looked at: the press is on the
    // chart rectangle, whose default handler takes it (no zoom) unless it
    // lets go.
    chart.CalcClickedPart(onPoint, true, part);
    EXPECT_EQ(part.Part, cpkChartRect);
    chart.CalcClickedPart(onPoint, false, part);
    EXPECT_EQ(part.Part, cpkSeries);
    EXPECT_EQ(part.PointIndex, 200);
    EXPECT_EQ(part.ASeries, &line);
    int backgroundClicks = 0;
    chart.OnClickBackground = [&](TCustomChart*, vcl::TMouseButton, vcl::TShiftState, int, int) { ++backgroundClicks; };
    MousePress(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    EXPECT_EQ(backgroundClicks, 1);
    EXPECT_FALSE(chart.Zoom().Active);
    MouseRelease(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    chart.OnClickBackground = [&](TCustomChart* Sender, vcl::TMouseButton, vcl::TShiftState, int, int) {
        ++backgroundClicks;
        Sender->CancelMouseAction = false;
    };
    MousePress(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    EXPECT_TRUE(chart.Zoom().Active);
    MouseRelease(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    chart.OnClickBackground = nullptr;

    // With a click event the series is hit: its point, or the first point
    // of the segment under the mouse; a double click is the second press.
    std::vector<std::string> clicks;
    line.OnClick = [&](TChartSeries*, int Index, vcl::TMouseButton, vcl::TShiftState, int, int) {
        clicks.push_back("click " + std::to_string(Index));
    };
    line.OnDblClick = [&](TChartSeries*, int Index, vcl::TMouseButton, vcl::TShiftState Shift, int, int) {
        clicks.push_back("double " + std::to_string(Index) + ((Shift & vcl::ssDouble) ? " marked" : ""));
    };
    MousePress(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    EXPECT_TRUE(chart.Zoom().Active);  // the click did not take the press
    MouseRelease(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    test_support::SendMouse(chart, QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton, onPoint.X,
                            onPoint.Y);
    MouseRelease(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    EXPECT_EQ(clicks, (std::vector<std::string>{"click 200", "double 200 marked"}));
    // A handler that keeps CancelMouseAction set takes the press.
    line.OnClick = [&](TChartSeries* Sender, int, vcl::TMouseButton, vcl::TShiftState, int, int) {
        Sender->ParentChart()->CancelMouseAction = true;
    };
    MousePress(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    EXPECT_FALSE(chart.Zoom().Active);
    MouseRelease(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    int seriesClicks = 0;
    chart.OnClickSeries = [&](TCustomChart*, TChartSeries* S, int Index, vcl::TMouseButton, vcl::TShiftState, int,
                              int) { seriesClicks += S == &line && Index == 200; };
    MousePress(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    MouseRelease(chart, Qt::LeftButton, onPoint.X, onPoint.Y);
    EXPECT_EQ(seriesClicks, 1);
    line.OnClick = nullptr;
    line.OnDblClick = nullptr;
    chart.OnClickSeries = nullptr;

    // The bottom axis below the chart rectangle; outside everything,
    // nothing (and no zoom starts there).
    TChartAxis* clickedAxis = nullptr;
    chart.OnClickAxis = [&](TCustomChart*, TChartAxis* Axis, vcl::TMouseButton, vcl::TShiftState, int, int) {
        clickedAxis = Axis;
    };
    chart.CalcClickedPart({kW / 2, r.Bottom + 2}, true, part);
    EXPECT_EQ(part.Part, cpkAxis);
    EXPECT_EQ(part.AAxis, &chart.BottomAxis());
    MousePress(chart, Qt::LeftButton, kW / 2, r.Bottom + 2);
    MouseRelease(chart, Qt::LeftButton, kW / 2, r.Bottom + 2);
    EXPECT_EQ(clickedAxis, &chart.BottomAxis());
    chart.CalcClickedPart({2, 2}, true, part);
    EXPECT_EQ(part.Part, cpkNone);
    MousePress(chart, Qt::LeftButton, 2, 2);
    EXPECT_FALSE(chart.Zoom().Active);
    MouseRelease(chart, Qt::LeftButton, 2, 2);
    // Without an active series the chart rectangle is not a part.
    line.SetActive(false);
    chart.CalcClickedPart({kW / 2, kH / 2}, true, part);
    EXPECT_EQ(part.Part, cpkNone);
}

TEST(chart_mouse, the_wheel_scrolls_the_vertical_axes_a_notch_at_a_time) {
    ShownChart shown;
    PixelChart& chart = *shown.chart;
    chart.LeftAxis().SetMinMax(0, 200);
    chart.RightAxis().SetMinMax(-10, 10);
    // Down: the values move up by 3 % of the range per notch; up: down.
    MouseWheel(chart, 50, 50, -120);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), 6);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Maximum(), 206);
    EXPECT_DOUBLE_EQ(chart.RightAxis().Minimum(), -9.4);
    MouseWheel(chart, 50, 50, 240);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), -6);
    // Small turns add up to a notch.
    MouseWheel(chart, 50, 50, -50);
    MouseWheel(chart, 50, 50, -50);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), -6);
    MouseWheel(chart, 50, 50, -20);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), 0);
    // The horizontal axes stay. The first turn kept the ranges before it,
    // as a zoom does, and UndoZoom puts them back.
    EXPECT_TRUE(chart.BottomAxis().Automatic());
    EXPECT_TRUE(chart.Zoomed);
    chart.UndoZoom();
    EXPECT_FALSE(chart.Zoomed);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), 0);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Maximum(), 200);
    EXPECT_DOUBLE_EQ(chart.RightAxis().Minimum(), -10);

    // OnAllowScroll sees the range to come and may refuse it.
    std::vector<double> asked;
    chart.OnAllowScroll = [&](TChartAxis* Axis, double& AMin, double& AMax, bool& Allow) {
        if (Axis != &chart.LeftAxis()) return;
        asked.push_back(AMin);
        asked.push_back(AMax);
        AMin = AMax = 12345;  // not used
        Allow = false;
    };
    MouseWheel(chart, 50, 50, -120);
    EXPECT_EQ(asked, (std::vector<double>{6, 206}));
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), 0);
    chart.OnAllowScroll = nullptr;

    // Only where panning goes up and down, and while the wheel scrolls.
    chart.AllowPanning = pmHorizontal;
    MouseWheel(chart, 50, 50, -120);
    chart.AllowPanning = pmVertical;
    ChartWheelScrollEnabled = false;
    MouseWheel(chart, 50, 50, -120);
    ChartWheelScrollEnabled = true;
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), 0);

    // A turn of very many notches at once ends soon, scrolls by a bounded
    // amount and leaves nothing over for the next turn.
    MouseWheel(chart, 50, 50, -120 * 10'000'000);
    const double far = chart.LeftAxis().Minimum();
    EXPECT_TRUE(std::isfinite(far));
    EXPECT_GT(far, 0);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Maximum() - far, 200);
    MouseWheel(chart, 50, 50, 120);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), far - 6);
    MouseWheel(chart, 50, 50, INT_MIN);
    EXPECT_TRUE(std::isfinite(chart.LeftAxis().Minimum()));
    chart.Invalidate();
    shown.Paint();
}

TEST(chart_mouse, zooming_down_to_the_least_range_of_a_date_time_axis) {
    ShownChart shown(8);
    PixelChart& chart = *shown.chart;
    chart.SetAxisVisible(true);
    chart.Axes().SetFastCalc(true);
    TFastLineSeries& line = *chart.Line;
    line.Clear();
    line.XValues().SetDateTime(true);
    chart.BottomAxis().SetDateTimeFormat("h:nn:ss");
    const double start = rtl::EncodeDate(2024, 5, 1);
    line.BeginUpdate();
    for (int i = 0; i < 5000; ++i) line.AddXY(start + i / 86400.0, (i * 7919) % 256);
    line.EndUpdate();
    chart.Zoom().Direction = tzdHorizontal;
    shown.Paint();

    // Each drag zooms to its middle tenth until the axis holds its least
    // range; every paint ends, with few labels and the line kept inside.
    double range = 1;
    for (int i = 0; i < 40; ++i) {
        const vcl::TRect r = chart.ChartRect;
        const int from = r.Left + r.Width() * 45 / 100, to = r.Left + r.Width() * 55 / 100;
        MouseDrag(chart, Qt::LeftButton, from, r.Top + 5, to, r.Top + 5, 2);
        shown.Paint();
        range = chart.BottomAxis().Maximum() - chart.BottomAxis().Minimum();
        ASSERT_GE(range, 1e-10);
        ASSERT_LE(chart.BottomAxis().TickPositions.size(), 100u);
    }
    EXPECT_LT(range, 2e-10);
    // The line crosses the chart as one clamped segment, drawn inside the
    // chart rectangle only (nothing else is navy).
    auto image = shown.CopyImage();
    const vcl::TRect r = chart.ChartRect;
    int inside = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            if (image->Handle()->GetPixel(x, y) != vcl::ColorToRGB(PixelChart::kLineColor)) continue;
            ASSERT_TRUE(x > r.Left && x < r.Right && y >= r.Top && y < r.Bottom) << x << "," << y;
            ++inside;
        }
    EXPECT_GT(inside, 0);
}

// As a user sees it: a window with the chart, dragged, undone, panned and
// scrolled; each picture written beside the test as a PNG.
TEST(chart_mouse, a_chart_in_a_window_zooms_pans_and_scrolls_under_the_mouse) {
    ShownChart shown(6);
    PixelChart& chart = *shown.chart;
    chart.SetAxisVisible(true);
    shown.Paint();
    auto save = [&](const std::string& name) {
        const QImage screen = test_support::OnScreen(&chart);
        screen.save(QString::fromStdString((std::filesystem::current_path() / ("chart_engine_mouse_" + name + ".png")).string()));
        return screen;
    };
    // The columns of the screen picture where the line shows.
    auto lineColumns = [&](const QImage& image) {
        int n = 0;
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (image.pixel(x, y) == qRgb(0, 0, 0x80)) {
                    ++n;
                    break;
                }
        return n;
    };
    const QImage first = save("1_whole");
    const int wholeColumns = lineColumns(first);
    const vcl::TRect r = chart.ChartRect;

    const int draws = chart.Draws;
    MousePress(chart, Qt::LeftButton, r.Left + 100, r.Top + 20);
    MouseMoveTo(chart, r.Left + 160, r.Top + 140, Qt::LeftButton);
    const QImage dragging = save("2_band");
    EXPECT_EQ(chart.Draws, draws);
    EXPECT_NE(dragging, first);
    MouseRelease(chart, Qt::LeftButton, r.Left + 160, r.Top + 140);
    const QImage zoomed = save("3_zoomed");
    EXPECT_TRUE(chart.Zoomed);
    EXPECT_NE(zoomed, first);
    EXPECT_GT(lineColumns(zoomed), wholeColumns / 2);  // the zoomed part fills the width

    const double before = chart.BottomAxis().Minimum();
    MouseDrag(chart, Qt::RightButton, r.Left + 200, r.Top + 80, r.Left + 100, r.Top + 80, 5);
    const QImage panned = save("4_panned");
    EXPECT_GT(chart.BottomAxis().Minimum(), before);
    EXPECT_NE(panned, zoomed);

    const double low = chart.LeftAxis().Minimum();
    MouseWheel(chart, r.Left + 50, r.Top + 50, -360);
    const QImage scrolled = save("5_scrolled");
    EXPECT_GT(chart.LeftAxis().Minimum(), low);
    EXPECT_NE(scrolled, panned);

    MouseDrag(chart, Qt::LeftButton, r.Left + 300, r.Top + 100, r.Left + 100, r.Top + 10);
    const QImage undone = save("6_undone");
    EXPECT_FALSE(chart.Zoomed);
    EXPECT_EQ(undone, first);
}

}  // namespace
