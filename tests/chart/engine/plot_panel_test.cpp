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

#include "chart/drawing/plot_canvas3d.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/picture.h"
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
    EXPECT_EQ(ChartRectAfterDraw(panel), (TRect{8, 4, 786, 390}));
    panel.Shadow().SetSize(-3);
    EXPECT_EQ(ChartRectAfterDraw(panel), (TRect{14, 10, 792, 396}));
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

    // A new size draws again.
    panel.SetBounds(0, 0, 300, 200);
    w->grab();
    EXPECT_EQ(panel.Draws, 4);

    // An unbuffered panel draws on every paint.
    panel.SetBufferedDisplay(false);
    w->grab();
    w->grab();
    EXPECT_EQ(panel.Draws, 6);
}

gdi::COLORREF Rgb(vcl::TColor c) { return vcl::ColorToRGB(c); }

TEST(plot_panel, bevels_and_border_band_are_drawn_where_they_take_room) {
    BackgroundPanel panel;
    panel.SetBounds(0, 0, 60, 40);
    panel.SetColor(0x00FF00);
    panel.SetBevelOuter(TBevelCut::bvRaised);
    panel.SetBevelInner(TBevelCut::bvLowered);
    panel.SetBevelWidth(2);
    panel.SetBorderWidth(3);
    auto bitmap = panel.CreateBitmap();
    auto at = [&](int x, int y) { return PixelAt(*bitmap, x, y); };
    const gdi::COLORREF light = Rgb(vcl::clBtnHighlight), dark = Rgb(vcl::clBtnShadow);
    ASSERT_NE(light, dark);
    // Outer, raised: light top and left, dark right and bottom, two deep.
    EXPECT_EQ(at(0, 0), light);
    EXPECT_EQ(at(1, 1), light);
    EXPECT_EQ(at(30, 1), light);
    EXPECT_EQ(at(59, 0), dark);
    EXPECT_EQ(at(58, 20), dark);
    EXPECT_EQ(at(0, 39), dark);
    // The band in the panel's colour, then the inner, lowered bevel.
    EXPECT_EQ(at(2, 20), 0x00FF00u);
    EXPECT_EQ(at(4, 20), 0x00FF00u);
    EXPECT_EQ(at(5, 5), dark);
    EXPECT_EQ(at(6, 20), dark);
    EXPECT_EQ(at(54, 5), light);
    EXPECT_EQ(at(20, 34), light);
    EXPECT_EQ(at(7, 7), 0x00FF00u);
    // Inside the frame the chart rectangle starts: 2 + 3 + 2 and the margins.
    EXPECT_EQ(panel.ChartRect.Left, 7 + 60 * 3 / 100);
}

TEST(plot_panel, border_pen_is_inset_by_its_width_and_rounds_with_the_panel) {
    BackgroundPanel panel;
    panel.SetBounds(0, 0, 100, 80);
    panel.Border().SetVisible(true);
    panel.Border().SetWidth(4);
    auto paint = panel.Record();
    auto records = [&](gdi::RecordOp op) { return test_support::RecordsOf(paint, op); };
    // Width 4: Left and Top in by 2, Right and Bottom by 1.
    auto rects = records(gdi::RecordOp::Rectangle);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0].Args, (std::vector<int>{2, 2, 99, 79}));
    // The raised bevel starts inside the border: inset 1 + 1.
    auto lines = records(gdi::RecordOp::Polyline);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].Points.front().x, 4);
    EXPECT_EQ(lines[0].Points.front().y, 79 - 2 - 1);

    // Rounded: one pixel less at the right and bottom, both radii.
    panel.SetBorderRound(10);
    panel.SetBevelOuter(TBevelCut::bvNone);
    paint = panel.Record();
    auto round = records(gdi::RecordOp::RoundRect);
    ASSERT_GE(round.size(), 1u);
    EXPECT_EQ(round.back().Args, (std::vector<int>{2, 2, 98, 78, 10, 10}));
}

// Records what the panel tells its listeners; may cancel mouse actions.
struct Recorder : TPlotEventListener {
    std::vector<std::string> heard;
    bool cancel = false;
    void PlotEvent(TPlotEvent& e) override {
        if (auto* m = dynamic_cast<TPlotMouseEvent*>(&e))
            heard.push_back("mouse " + std::to_string(m->Event) + " " + std::to_string(m->X) + "," +
                            std::to_string(m->Y));
        else if (dynamic_cast<TPlotView3DEvent*>(&e))
            heard.push_back("view3d");
        else
            heard.push_back("other");
        if (cancel) e.Sender->CancelMouseAction = true;
    }
};

void SendMouse(QWidget* w, QEvent::Type type, int x, int y) {
    QMouseEvent e(type, QPointF(x, y), w->mapToGlobal(QPointF(x, y)), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

TEST(plot_panel, mouse_events_reach_the_handlers_then_the_listeners_until_one_cancels) {
    BackgroundPanel panel;
    std::vector<std::string> handled;
    panel.OnMouseDown = [&](vcl::TComponent*, vcl::TMouseButton, vcl::TShiftState s, int x, int y) {
        handled.push_back("down " + std::to_string(x) + "," + std::to_string(y) +
                          ((s & vcl::ssDouble) ? " double" : ""));
    };
    panel.OnMouseUp = [&](vcl::TComponent*, vcl::TMouseButton, vcl::TShiftState, int, int) {
        handled.push_back("up");
    };
    Recorder first, second;
    panel.Listeners().Add(&first);
    panel.Listeners().Add(&second);
    panel.Listeners().Add(&first);  // once only
    QWidget* w = panel.Widget();
    SendMouse(w, QEvent::MouseButtonPress, 10, 20);
    SendMouse(w, QEvent::MouseMove, 11, 21);
    SendMouse(w, QEvent::MouseButtonRelease, 12, 22);
    EXPECT_EQ(handled, (std::vector<std::string>{"down 10,20", "up"}));
    const std::vector<std::string> all = {"mouse 0 10,20", "mouse 2 11,21", "mouse 1 12,22"};
    EXPECT_EQ(first.heard, all);
    EXPECT_EQ(second.heard, all);

    // A listener that cancels keeps the mouse from the later ones, not the
    // other events.
    first.heard.clear();
    second.heard.clear();
    first.cancel = true;
    SendMouse(w, QEvent::MouseButtonPress, 1, 2);
    panel.SetView3D(false);
    panel.SetView3D(false);
    EXPECT_EQ(first.heard, (std::vector<std::string>{"mouse 0 1,2", "view3d"}));
    EXPECT_EQ(second.heard, (std::vector<std::string>{"view3d"}));
    // The next press starts uncancelled.
    first.cancel = false;
    SendMouse(w, QEvent::MouseButtonPress, 3, 4);
    EXPECT_EQ(second.heard.back(), "mouse 0 3,4");

    // A listener may leave while it hears an event.
    struct Leaver : TPlotEventListener {
        int n = 0;
        void PlotEvent(TPlotEvent& e) override {
            ++n;
            e.Sender->Listeners().Remove(this);
        }
    } leaver;
    panel.Listeners().Remove(&first);
    panel.Listeners().Add(&leaver);
    SendMouse(w, QEvent::MouseMove, 5, 5);
    SendMouse(w, QEvent::MouseMove, 6, 6);
    EXPECT_EQ(leaver.n, 1);
    EXPECT_EQ(panel.Listeners().Count(), 1);
}

TEST(plot_panel, a_double_click_handler_that_cancels_ends_the_click_silently) {
    BackgroundPanel panel;
    auto* app = vcl::EnsureApplication();
    int messages = 0;
    app->MessageHook = [&](const vcl::TMessageRequest&) {
        ++messages;
        return 0;
    };
    bool cancel = true;
    int doubles = 0, downs = 0;
    panel.OnDblClick = [&](vcl::TComponent*) {
        ++doubles;
        panel.CancelMouseAction = cancel;
    };
    panel.OnMouseDown = [&](vcl::TComponent*, vcl::TMouseButton, vcl::TShiftState s, int, int) {
        if (s & vcl::ssDouble) ++downs;
    };
    SendMouse(panel.Widget(), QEvent::MouseButtonDblClick, 5, 5);
    EXPECT_EQ(doubles, 1);
    EXPECT_EQ(downs, 0);
    cancel = false;
    SendMouse(panel.Widget(), QEvent::MouseButtonDblClick, 5, 5);
    EXPECT_EQ(doubles, 2);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(messages, 0);
    app->MessageHook = nullptr;
}

TEST(plot_panel, leaving_restores_the_cursor_and_stops_panning) {
    BackgroundPanel panel;
    panel.Loaded();
    int left = 0;
    panel.OnMouseLeave = [&](vcl::TComponent*) { ++left; };
    panel.SetCursor(vcl::TCursor::crHandPoint);
    panel.Panning().Activate(3, 4);
    EXPECT_TRUE(panel.Panning().Active);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(panel.Widget(), &leave);
    EXPECT_EQ(panel.Cursor(), vcl::TCursor::crDefault);
    EXPECT_FALSE(panel.Panning().Active);
    EXPECT_EQ(left, 1);

    // New system colours repaint.
    const int before = panel.Invalidations;
    QEvent colours(QEvent::ApplicationPaletteChange);
    QApplication::sendEvent(panel.Widget(), &colours);
    EXPECT_EQ(panel.Invalidations, before + 1);

    // A panel without colour lets what is below show through.
    EXPECT_FALSE(panel.TransparentWindow());
    panel.SetColor(vcl::clNone);
    panel.RecreateWnd();
    EXPECT_TRUE(panel.TransparentWindow());
}

TEST(plot_panel, arrow_keys_belong_to_the_panel) {
    BackgroundPanel panel;
    std::vector<std::uint16_t> keys;
    panel.OnKeyDown = [&](vcl::TComponent*, std::uint16_t& key, vcl::TShiftState) {
        keys.push_back(key);
    };
    QKeyEvent over(QEvent::ShortcutOverride, Qt::Key_Left, Qt::NoModifier);
    over.ignore();
    QApplication::sendEvent(panel.Widget(), &over);
    EXPECT_TRUE(over.isAccepted());
    QKeyEvent other(QEvent::ShortcutOverride, Qt::Key_A, Qt::NoModifier);
    other.ignore();
    QApplication::sendEvent(panel.Widget(), &other);
    EXPECT_FALSE(other.isAccepted());
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(panel.Widget(), &press);
    EXPECT_EQ(keys, (std::vector<std::uint16_t>{vcl::VK_DOWN}));
}

TEST(plot_panel, a_rounded_panel_with_a_parent_gets_a_round_window_region) {
    vcl::EnsureApplication();
    vcl::TForm form(vcl::Application);
    auto* panel = new BackgroundPanel(&form);
    panel->SetBorderRound(10);
    EXPECT_FALSE(panel->HasWindowRgn());  // no parent: the window is not shaped
    panel->SetParent(&form);
    panel->SetBorderRound(12);
    EXPECT_TRUE(panel->HasWindowRgn());
    // The corner is cut off, the middle of an edge is not.
    EXPECT_FALSE(panel->Widget()->mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(panel->Widget()->mask().contains(QPoint(200, 0)));
    panel->SetBounds(0, 0, 300, 100);
    EXPECT_TRUE(panel->Widget()->mask().contains(QPoint(290, 50)));
    EXPECT_FALSE(panel->Widget()->mask().contains(QPoint(350, 50)));
    panel->SetBorderRound(0);
    EXPECT_FALSE(panel->HasWindowRgn());
}

TEST(plot_panel, drawing_onto_another_canvas_restores_buffering_even_when_drawing_fails) {
    BackgroundPanel panel;
    panel.SetColor(0x123456);
    auto bitmap = panel.PlotCreateBitmap(0x00FF00, {0, 0, 50, 30}, vcl::TPixelFormat::pf24bit);
    EXPECT_EQ(bitmap->Width(), 50);
    EXPECT_EQ(bitmap->PixelFormat(), vcl::TPixelFormat::pf24bit);
    EXPECT_EQ(PixelAt(*bitmap, 25, 15), 0x123456u);
    EXPECT_TRUE(panel.BufferedDisplay());

    panel.Extra = [](BackgroundPanel&, const TRect&) { throw rtl::Exception("drawing failed"); };
    vcl::TBitmap other(20, 20);
    EXPECT_THROW(panel.DrawToCanvas(&other.Canvas(), {0, 0, 20, 20}), rtl::Exception);
    EXPECT_TRUE(panel.BufferedDisplay());
    panel.Extra = nullptr;
    const int draws = panel.Draws;
    // The window paints in full afterwards (the image was marked stale).
    panel.Widget()->grab();
    EXPECT_EQ(panel.Draws, draws + 1);
}

TEST(plot_panel, assign_copies_the_panel_settings_and_assign_to_makes_a_picture) {
    BackgroundPanel a, b;
    a.SetMargin(0, 7);
    a.SetMarginUnits(chart::engine::muPixels);
    a.Border().SetVisible(true);
    a.Border().SetColor(vcl::clRed);
    a.SetBorderRound(4);
    a.Shadow().SetColor(vcl::clBlue);
    a.SetView3D(false);
    a.View3DOptions().SetOrthoAngle(60);
    a.SetColor(0x0000FF);
    a.PrintResolution = 300;
    a.SetMonochrome(true);
    b.Assign(a);
    EXPECT_EQ(b.MarginLeft(), 7);
    EXPECT_EQ(b.MarginUnits(), chart::engine::muPixels);
    EXPECT_TRUE(b.Border().Visible());
    EXPECT_EQ(b.Border().Color(), vcl::clRed);
    EXPECT_EQ(b.BorderRound(), 4);
    EXPECT_EQ(b.Shadow().Color(), vcl::clBlue);
    EXPECT_FALSE(b.View3D());
    EXPECT_EQ(b.View3DOptions().OrthoAngle(), 60);
    EXPECT_EQ(b.Color(), 0x0000FF);
    EXPECT_EQ(b.PrintResolution, 300);
    EXPECT_TRUE(b.Monochrome());

    // Replacing the surface keeps its settings.
    b.ReplaceCanvas(std::make_unique<chart::TPlotCanvas3D>());
    EXPECT_TRUE(b.Monochrome());

    a.SetMonochrome(false);
    vcl::TPicture picture;
    a.AssignTo(picture);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Width(), 400);
    EXPECT_EQ(PixelAt(picture.Bitmap(), 200, 125), 0x0000FFu);
    vcl::TFont font;
    EXPECT_THROW(a.AssignTo(font), rtl::EConvertError);
}

}  // namespace
