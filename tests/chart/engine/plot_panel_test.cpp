// The chart panel: the chart rectangle, the paint road with its cached
// image, bevels and border on real pixels, the mouse and the listeners,
// drawing onto other canvases, and settings that repaint.
#include "chart/engine/plot_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <climits>
#include <vector>

#include "chart/drawing/not_available.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/forms.h"
#include "support/chart_panels.h"

namespace {

using chart::engine::TPlotEvent;
using chart::engine::TPlotEventListener;
using chart::engine::TPlotMouseEvent;
using chart::engine::TPlotView3DEvent;
using test_support::BackgroundPanel;
using test_support::PixelAt;
using vcl::TBevelCut;
using vcl::TRect;

constexpr gdi::COLORREF kWhite = 0xFFFFFF;

// The panel with no bevels, drawn once onto a bitmap of its size.
void NoBevels(BackgroundPanel& panel) { panel.SetBevelOuter(TBevelCut::bvNone); }

TRect ChartRectAfterDraw(BackgroundPanel& panel) {
    panel.PlotCreateBitmap(vcl::clWhite, panel.GetRectangle(), vcl::TPixelFormat::pfDevice);
    return panel.ChartRect;
}

TEST(plot_panel, chart_rectangle_is_the_panel_less_frame_margins_and_shadow) {
    BackgroundPanel panel;
    NoBevels(panel);
    EXPECT_EQ(panel.Width(), 400);
    EXPECT_EQ(panel.Height(), 250);
    EXPECT_EQ(ChartRectAfterDraw(panel), (TRect{12, 10, 388, 240}));
    EXPECT_EQ(panel.ChartWidth, 376);
    EXPECT_EQ(panel.ChartXCenter, 200);
    EXPECT_EQ(panel.ChartYCenter, 125);

    // The graph window's settings on 800 x 400.
    panel.SetBounds(0, 0, 800, 400);
    for (int i = 0; i < 4; ++i) panel.SetMargin(i, 1);
    EXPECT_EQ(ChartRectAfterDraw(panel), (TRect{8, 4, 792, 396}));

    // Bevels, the border band and a visible border pen all take room.
    panel.SetBevelOuter(TBevelCut::bvRaised);
    panel.SetBevelInner(TBevelCut::bvLowered);
    panel.SetBevelWidth(2);
    panel.SetBorderWidth(3);
    panel.Border().SetVisible(true);
    panel.Border().SetWidth(4);
    EXPECT_EQ(ChartRectAfterDraw(panel), (TRect{8 + 11, 4 + 11, 792 - 11, 396 - 11}));

    // A shadow moves the side it falls on, by twice its size.
    panel.SetBevelOuter(TBevelCut::bvNone);
    panel.SetBevelInner(TBevelCut::bvNone);
    panel.SetBorderWidth(0);
    panel.Border().SetVisible(false);
    panel.Shadow().SetSize(3);
    // (A shadow with a size cannot be painted yet; the rectangle is known
    // before that.)
    EXPECT_THROW(ChartRectAfterDraw(panel), chart::ENotAvailableYet);
    EXPECT_EQ(panel.ChartRect, (TRect{8, 4, 786, 390}));
    panel.Shadow().SetSize(-3);
    EXPECT_THROW(ChartRectAfterDraw(panel), chart::ENotAvailableYet);
    EXPECT_EQ(panel.ChartRect, (TRect{14, 10, 792, 396}));
    panel.Shadow().SetSize(0);

    // Pixels as the margin unit.
    panel.SetMarginUnits(chart::engine::muPixels);
    panel.SetMarginLeft(50);
    EXPECT_EQ(ChartRectAfterDraw(panel).Left, 50);

    // Margins that cross give a rectangle of width 1; ones that meet, the
    // panel's width.
    panel.SetMarginLeft(500);
    panel.SetMarginRight(400);
    EXPECT_EQ(ChartRectAfterDraw(panel).Left, 500);
    EXPECT_EQ(panel.ChartRect.Right, 501);
    panel.SetMarginRight(300);
    EXPECT_EQ(ChartRectAfterDraw(panel).Right, 500 + 800);
    EXPECT_EQ(panel.ChartWidth, 800);
}

TEST(plot_panel, margins_and_widths_of_any_32_bit_value_give_a_rectangle_without_overflow) {
    BackgroundPanel panel;
    NoBevels(panel);
    for (int v : {INT_MAX, INT_MIN, -1}) {
        for (int i = 0; i < 4; ++i) panel.SetMargin(i, v);
        panel.SetBorderWidth(v);
        panel.SetBevelWidth(v);
        panel.SetBevelOuter(TBevelCut::bvRaised);
        panel.Border().SetVisible(true);
        panel.Border().SetWidth(v);
        for (auto units : {chart::engine::muPercent, chart::engine::muPixels}) {
            panel.SetMarginUnits(units);
            const TRect r = ChartRectAfterDraw(panel);
            EXPECT_GE(r.Left, 0);
            EXPECT_GE(r.Top, 0);
            EXPECT_GE(r.Right, r.Left);
            EXPECT_GE(r.Bottom, r.Top);
            EXPECT_EQ(panel.ChartWidth, r.Right - r.Left);
        }
    }
}

TEST(plot_panel, a_paint_draws_once_and_shows_the_cached_image_until_invalidated) {
    BackgroundPanel panel;
    panel.SetColor(0x00FF00);
    QWidget* w = panel.Widget();
    const QImage first = w->grab().toImage();
    EXPECT_EQ(panel.Draws, 1);
    const QImage second = w->grab().toImage();
    EXPECT_EQ(panel.Draws, 1);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first.pixel(200, 125), 0xFF00FF00u);

    // A change invalidates; the next paint draws again.
    panel.SetColor(0x0000FF);
    w->grab();
    EXPECT_EQ(panel.Draws, 2);

    // Without AutoRepaint a change leaves the image; invalidating once it is
    // back on draws it.
    panel.AutoRepaint = false;
    const int before = panel.Invalidations;
    panel.SetMarginLeft(20);
    panel.SetColor(0xFF0000);
    EXPECT_EQ(panel.Invalidations, before + 2);
    const QImage stale = w->grab().toImage();
    EXPECT_EQ(panel.Draws, 2);
    EXPECT_EQ(stale.pixel(200, 125), 0xFFFF0000u);  // still red (0x0000FF)
    panel.AutoRepaint = true;
    panel.Invalidate();
    EXPECT_EQ(w->grab().toImage().pixel(200, 125), 0xFF0000FFu);
    EXPECT_EQ(panel.Draws, 3);

    // An unbuffered panel draws on every paint.
    panel.SetBufferedDisplay(false);
    w->grab();
    w->grab();
    EXPECT_EQ(panel.Draws, 5);
}

}  // namespace
