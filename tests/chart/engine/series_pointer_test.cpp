// Series pointers and callouts: settings and their checks, the colour rules
// of the surface, every style flat and in a 3D view at its series' depth,
// shadow, gradient and transparency, callout lines and arrow heads on a
// chart, the marks callout's lift, and all of it written as a PNG file.
#include "chart/engine/series_pointer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "chart/drawing/view3d_options.h"
#include "chart/engine/callout.h"
#include "chart/engine/chart_exceptions.h"
#include "support/chart_panels.h"
#include "support/chart_surfaces.h"
#include "support/png_file.h"
#include "support/qt_app.h"

namespace {

using namespace chart::engine;
using chart::TCanvas3D;
using chart::TPoint;
using test_support::BackgroundPanel;
using test_support::RasterChart;
using test_support::RecordingChart;

constexpr vcl::TColor kPointRed = vcl::clRed;
constexpr gdi::COLORREF kRed = gdi::RGB(255, 0, 0);
constexpr gdi::COLORREF kBlue = gdi::RGB(0, 0, 255);
constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);
constexpr gdi::COLORREF kBlack = gdi::RGB(0, 0, 0);

const TSeriesPointerStyle kAllStyles[] = {
    psRectangle, psCircle,   psTriangle, psDownTriangle, psCross,         psDiagCross, psStar,
    psDiamond,   psSmallDot, psNothing,  psLeftTriangle, psRightTriangle, psHexagon};

struct FakeOwner : TPointerOwner {
    TPointerDepth depth;
    TPoint offset;
    TPointerDepth PointerDepth() const override { return depth; }
    TPoint DrawingOffset() const override { return offset; }
};

// A drawing call as the device context got it.
struct Call {
    gdi::RecordOp Op;
    std::vector<int> Args;
    std::vector<gdi::POINT> Points;
    friend bool operator==(const Call& a, const Call& b) {
        if (a.Op != b.Op || a.Args != b.Args || a.Points.size() != b.Points.size()) return false;
        for (std::size_t i = 0; i < a.Points.size(); ++i)
            if (a.Points[i].x != b.Points[i].x || a.Points[i].y != b.Points[i].y) return false;
        return true;
    }
};

std::vector<Call> Calls(const RecordingChart& r) {
    std::vector<Call> out;
    for (const gdi::Record& rec : r.dc->Records())
        if (rec.Op >= gdi::RecordOp::MoveTo) out.push_back({rec.Op, rec.Args, rec.Points});
    return out;
}

std::vector<gdi::POINT> Pts(std::initializer_list<std::pair<int, int>> points) {
    std::vector<gdi::POINT> out;
    for (auto [x, y] : points) out.push_back({x, y});
    return out;
}

TEST(series_pointer, sizes_are_checked_changes_repaint_and_copies_draw_alike) {
    test_support::EnsureQtApplication();
    BackgroundPanel panel;
    TSeriesPointer pointer(&panel);
    // Sizes below 1 are refused with the chart's message; the old size stays.
    try {
        pointer.SetHorizSize(0);
        ADD_FAILURE() << "a zero size was taken";
    } catch (const ChartException& e) {
        EXPECT_STREQ(e.what(), "Pointer size must be greater than zero");
    }
    EXPECT_THROW(pointer.SetVertSize(-3), ChartException);
    EXPECT_EQ(pointer.HorizSize() * 10 + pointer.VertSize(), 44);
    // A change repaints the chart, the same value again does not.
    const int before = panel.Invalidations;
    pointer.SetHorizSize(6);
    pointer.SetHorizSize(6);
    pointer.Shadow().SetVisible(true);
    EXPECT_EQ(panel.Invalidations, before + 2);
    pointer.SetTransparency(250);
    EXPECT_EQ(pointer.Transparency(), 100);

    // A copy draws what its source draws.
    pointer.SetStyle(psHexagon);
    pointer.SetVertSize(9);
    pointer.SetTransparency(30);
    pointer.Shadow().SetSmooth(false);
    pointer.Gradient().SetVisible(true);
    pointer.Brush().SetColor(vcl::clLime);
    pointer.Pen().SetWidth(2);
    pointer.SetDark3D(false);
    pointer.SetDraw3D(false);
    pointer.SetInflateMargins(false);
    TSeriesPointer copy;
    copy.Assign(pointer);
    RecordingChart a(100, 100), b(100, 100);
    for (auto [p, r] : {std::pair{&pointer, &a}, std::pair{&copy, &b}}) {
        p->PrepareCanvas(r->canvas, kPointRed);
        p->DrawPointer(r->canvas, false, 50, 50, p->HorizSize(), p->VertSize(), kPointRed,
                       p->Style());
    }
    EXPECT_EQ(Calls(a), Calls(b));
    EXPECT_GT(Calls(a).size(), 3u);
    EXPECT_FALSE(copy.Dark3D() || copy.Draw3D() || copy.InflateMargins());

    // Callouts draw no solids; the marks' callout hides its pointer, and
    // copies its length with the rest.
    EXPECT_FALSE(TCallout().Draw3D());
    TMarksCallout marks;
    EXPECT_FALSE(marks.Visible());
    EXPECT_FALSE(marks.IsLengthStored());
    marks.SetLength(12);
    marks.SetDistance(3);
    marks.SetArrowHead(ahSolid);
    marks.SetArrowHeadSize(5);
    marks.Arrow().SetColor(vcl::clNavy);
    TMarksCallout marksCopy;
    marksCopy.Assign(marks);
    EXPECT_TRUE(marksCopy.IsLengthStored());
    EXPECT_EQ(marksCopy.Length() * 10 + marksCopy.Distance(), 123);
    EXPECT_EQ(marksCopy.ArrowHead(), ahSolid);
    EXPECT_EQ(marksCopy.ArrowHeadSize(), 5);
    EXPECT_EQ(marksCopy.Arrow().Color(), vcl::clNavy);
}

TEST(series_pointer, prepare_canvas_gives_pen_and_brush_the_point_colour_where_they_leave_it) {
    test_support::EnsureQtApplication();
    RecordingChart r(100, 100);
    TSeriesPointer pointer;
    auto brushOf = [&] {
        r.canvas.FillRect({0, 0, 1, 1});
        return r.Of(gdi::RecordOp::FillRect).back().State.Brush->Log();
    };
    auto penOf = [&] {
        r.canvas.LineTo(5, 5);
        return r.Of(gdi::RecordOp::LineTo).back().State.Pen->Log();
    };
    // Brush of colour clDefault: the point colour; the pen its own.
    pointer.PrepareCanvas(r.canvas, kPointRed);
    EXPECT_EQ(brushOf().lbColor, kRed);
    EXPECT_EQ(brushOf().lbStyle, gdi::BS_SOLID);
    EXPECT_EQ(penOf().elpColor, kBlack);
    // A pen of colour clDefault draws in the point colour.
    pointer.Pen().SetColor(vcl::clDefault);
    pointer.PrepareCanvas(r.canvas, vcl::clBlue);
    EXPECT_EQ(penOf().elpColor, kBlue);
    // An invisible pen draws nothing.
    pointer.Pen().SetVisible(false);
    pointer.PrepareCanvas(r.canvas, vcl::clBlue);
    EXPECT_EQ(r.canvas.Pen->Style(), vcl::TPenStyle::psClear);
    // A patterned brush of colour clDefault takes its back colour.
    pointer.Brush().SetStyle(vcl::TBrushStyle::bsCross);
    pointer.Brush().SetBackColor(vcl::clGreen);
    EXPECT_EQ(pointer.PointerColor(kPointRed), vcl::clGreen);
    pointer.PrepareCanvas(r.canvas, kPointRed);
    EXPECT_EQ(brushOf().lbColor, gdi::RGB(0, 128, 0));
    // A brush of its own colour keeps it.
    pointer.Brush().SetStyle(vcl::TBrushStyle::bsSolid);
    pointer.Brush().SetColor(vcl::clYellow);
    pointer.PrepareCanvas(r.canvas, kPointRed);
    EXPECT_EQ(brushOf().lbColor, gdi::RGB(255, 255, 0));
}

TEST(series_pointer, flat_styles_draw_their_shape_symmetric_about_the_point) {
    test_support::EnsureQtApplication();
    TSeriesPointer pointer;
    // Half-width 4, half-height 3 about (50, 50): the box is 46..54 x 47..53,
    // every shape but the circle symmetric about the point.
    const std::vector<std::pair<TSeriesPointerStyle, std::vector<Call>>> expected = {
        {psRectangle, {{gdi::RecordOp::Rectangle, {46, 47, 55, 54}, {}}}},
        {psCircle, {{gdi::RecordOp::Ellipse, {46, 47, 54, 53}, {}}}},
        {psTriangle, {{gdi::RecordOp::Polygon, {}, Pts({{46, 53}, {54, 53}, {50, 47}})}}},
        {psDownTriangle, {{gdi::RecordOp::Polygon, {}, Pts({{46, 47}, {54, 47}, {50, 53}})}}},
        {psCross,
         {{gdi::RecordOp::MoveTo, {46, 50}, {}},
          {gdi::RecordOp::LineTo, {55, 50}, {}},
          {gdi::RecordOp::MoveTo, {50, 47}, {}},
          {gdi::RecordOp::LineTo, {50, 54}, {}}}},
        {psDiagCross,
         {{gdi::RecordOp::MoveTo, {46, 47}, {}},
          {gdi::RecordOp::LineTo, {55, 54}, {}},
          {gdi::RecordOp::MoveTo, {46, 53}, {}},
          {gdi::RecordOp::LineTo, {55, 46}, {}}}},
        {psDiamond, {{gdi::RecordOp::Polygon, {}, Pts({{46, 50}, {50, 47}, {54, 50}, {50, 53}})}}},
        {psSmallDot, {{gdi::RecordOp::SetPixel, {50, 50, int(kRed)}, {}}}},
        {psNothing, {}},
        {psLeftTriangle, {{gdi::RecordOp::Polygon, {}, Pts({{46, 50}, {54, 47}, {54, 53}})}}},
        {psRightTriangle, {{gdi::RecordOp::Polygon, {}, Pts({{54, 50}, {46, 47}, {46, 53}})}}},
        {psHexagon,
         {{gdi::RecordOp::Polygon,
           {},
           Pts({{50, 47}, {54, 49}, {54, 51}, {50, 53}, {46, 51}, {46, 49}})}}},
    };
    for (const auto& [style, calls] : expected) {
        SCOPED_TRACE(int(style));
        RecordingChart r(100, 100);
        pointer.PrepareCanvas(r.canvas, kPointRed);
        r.dc->ClearRecords();
        pointer.DrawPointer(r.canvas, false, 50, 50, 4, 3, kPointRed, style);
        EXPECT_EQ(Calls(r), calls);
    }
}

// A surface that answers that it does 3D itself.
struct Full3DCanvas : chart::TPlotCanvas3D {
    bool GetSupportsFull3D() override { return true; }
};

TEST(series_pointer, in_a_3d_view_shapes_stand_in_their_series_depth_row) {
    test_support::EnsureQtApplication();
    chart::TView3DOptions options(nullptr);
    options.SetElevation(330);
    FakeOwner owner;
    owner.depth = {10, 15, 20};
    TSeriesPointer pointer(nullptr, &owner);
    // The pointer's drawing and the solid or flat shape the rules name, on
    // two equal surfaces.
    auto same = [&](TSeriesPointerStyle style, const std::function<void(TCanvas3D&)>& rule) {
        SCOPED_TRACE(int(style));
        RecordingChart a(200, 100), b(200, 100);
        for (RecordingChart* r : {&a, &b}) {
            r->canvas.InitWindow(&r->target, &options, vcl::clWhite, true, {0, 0, 200, 100});
            r->canvas.Projection(40, {0, 0, 200, 100});
            pointer.PrepareCanvas(r->canvas, kPointRed);
            r->dc->ClearRecords();
        }
        pointer.DrawPointer(a.canvas, true, 100, 50, 6, 5, kPointRed, style);
        rule(b.canvas);
        EXPECT_EQ(Calls(a), Calls(b));
        EXPECT_FALSE(Calls(b).empty());
    };
    same(psRectangle, [](TCanvas3D& c) { c.Cube(94, 106, 45, 55, 10, 20, true); });
    same(psTriangle, [](TCanvas3D& c) { c.Pyramid(true, 94, 45, 106, 55, 10, 20, true); });
    same(psDownTriangle, [](TCanvas3D& c) { c.Pyramid(true, 94, 55, 106, 45, 10, 20, true); });
    same(psCircle, [](TCanvas3D& c) { c.EllipseWithZ(94, 45, 106, 55, 10); });
    same(psSmallDot, [](TCanvas3D& c) { c.SetPixel3D(100, 50, 15, vcl::clRed); });
    // Without solids: flat shapes at the front of the row.
    pointer.SetDraw3D(false);
    same(psRectangle, [](TCanvas3D& c) { c.RectangleWithZ({94, 45, 107, 56}, 10); });
    same(psTriangle, [](TCanvas3D& c) {
        const TPoint p[] = {{94, 55}, {106, 55}, {100, 45}};
        c.PolygonWithZ(p, 10);
    });
    // A surface doing 3D itself gets a circle of radius VertSize in the
    // middle of the row.
    pointer.SetDraw3D(true);
    {
        Full3DCanvas full;
        full.SetBufferedDisplay(false);
        RecordingChart a(200, 100), b(200, 100);
        for (RecordingChart* r : {&a, &b}) {
            TCanvas3D& c = r == &a ? static_cast<TCanvas3D&>(full) : r->canvas;
            c.InitWindow(&r->target, &options, vcl::clWhite, true, {0, 0, 200, 100});
            c.Projection(40, {0, 0, 200, 100});
            pointer.PrepareCanvas(c, kPointRed);
            r->dc->ClearRecords();
        }
        pointer.DrawPointer(full, true, 100, 50, 6, 5, kPointRed, psCircle);
        b.canvas.CircleWithZ(100, 50, 15, 5);
        EXPECT_EQ(Calls(a), Calls(b));
    }
}

TEST(series_pointer, shadow_gradient_and_transparency) {
    test_support::EnsureQtApplication();
    BackgroundPanel panel;
    TSeriesPointer pointer(&panel);
    auto draw = [&](TSeriesPointerStyle style, vcl::TColor back = vcl::clWhite) {
        auto r = std::make_unique<RasterChart>(100, 100);
        r->canvas.Brush->SetColor(back);
        r->canvas.FillRect({0, 0, 100, 100});
        pointer.PrepareCanvas(r->canvas, kPointRed);
        pointer.DrawPointer(r->canvas, false, 50, 50, 4, 3, kPointRed, style);
        return r;
    };
    // A flat shadow 3 pixels right and down of the rectangle, in its colour.
    pointer.Shadow().SetVisible(true);
    pointer.Shadow().SetSmooth(false);
    pointer.Shadow().SetColor(vcl::clGray);
    const gdi::COLORREF grey = gdi::RGB(128, 128, 128);
    auto r = draw(psRectangle);
    EXPECT_EQ(r->At(56, 52), grey);
    EXPECT_EQ(r->At(51, 55), grey);
    EXPECT_EQ(r->At(58, 52), kWhite);
    EXPECT_EQ(r->At(50, 50), kRed);
    // Lines cast none; nothing casts none either.
    r = draw(psCross);
    EXPECT_EQ(r->Count(grey), 0);
    r = draw(psNothing);
    EXPECT_EQ(r->InkBox().right, 0);
    pointer.Shadow().SetVisible(false);

    // The gradient ends in the point colour, set without repainting the
    // chart; the outline is drawn again over it.
    pointer.Gradient().SetVisible(true);
    pointer.Gradient().SetStartColor(vcl::clWhite);
    const int before = panel.Invalidations;
    r = draw(psRectangle);
    EXPECT_EQ(panel.Invalidations, before);
    EXPECT_EQ(pointer.Gradient().EndColor(), kPointRed);
    auto green = [&](int x, int y) { return (r->At(x, y) >> 8) & 0xFF; };
    // The start colour at the bottom, the point colour at the top.
    EXPECT_LT(green(50, 48), green(50, 52));
    EXPECT_EQ(r->At(50, 48) & 0xFF, 255u);
    EXPECT_EQ(r->At(46, 50), kBlack);
    EXPECT_EQ(r->At(54, 50), kBlack);
    pointer.KeepGradientColors = true;  // unless it keeps its own
    pointer.Gradient().SetEndColor(vcl::clBlue);
    r = draw(psRectangle);
    EXPECT_EQ(pointer.Gradient().EndColor(), vcl::clBlue);
    pointer.KeepGradientColors = false;
    // A circle's and a triangle's gradient stay inside the shape.
    r = draw(psCircle);
    EXPECT_EQ(r->At(46, 47), kWhite);
    EXPECT_NE(r->At(50, 51), kWhite);
    r = draw(psTriangle);
    EXPECT_EQ(r->At(47, 48), kWhite);
    EXPECT_NE(r->At(50, 51), kWhite);
    // Lines and the dot take no gradient.
    r = draw(psCross);
    EXPECT_EQ(r->Count(kBlack), 9 + 7 - 1);
    pointer.Gradient().SetVisible(false);

    // Half transparent red over blue.
    pointer.SetTransparency(50);
    r = draw(psRectangle, vcl::clBlue);
    const gdi::COLORREF mixed = r->At(50, 50);
    EXPECT_NEAR(int(mixed & 0xFF), 128, 2);
    EXPECT_NEAR(int((mixed >> 16) & 0xFF), 128, 2);
    EXPECT_EQ(r->At(80, 80), kBlue);
}

// A 2D chart of 200 x 120 that draws a callout after its background.
struct CalloutPanel : BackgroundPanel {
    FakeOwner owner;
    TCallout callout{this, &owner};
    TPoint from{100, 60}, to{40, 60}, mid{0, 0};
    bool hasMid = false;
    CalloutPanel() {
        MakePlain(200, 120, vcl::clWhite);
        SetView3D(false);
        callout.Arrow().SetColor(vcl::clBlue);
        callout.SetHorizSize(3);
        callout.SetVertSize(3);
        Extra = [this](BackgroundPanel&, const vcl::TRect&) {
            callout.Draw(kPointRed, from, hasMid, 0, to, mid);
        };
    }
};

TEST(callout, lines_arrow_heads_and_the_pointer_at_the_point) {
    test_support::EnsureQtApplication();
    CalloutPanel panel;
    auto at = [](vcl::TBitmap& b, int x, int y) { return test_support::PixelAt(b, x, y); };
    // A plain line from the mark to the point, and the pointer on the point
    // in the point colour with its own pen.
    auto b = panel.Render();
    EXPECT_EQ(at(*b, 60, 60), kBlue);
    EXPECT_EQ(at(*b, 40, 60), kBlue);
    EXPECT_EQ(at(*b, 100, 60), kRed);
    EXPECT_EQ(at(*b, 97, 57), kBlack);
    EXPECT_EQ(at(*b, 103, 63), kBlack);
    EXPECT_EQ(at(*b, 94, 48), kWhite);
    // Not visible: the line only.
    panel.callout.SetVisible(false);
    b = panel.Render();
    EXPECT_EQ(at(*b, 97, 57), kWhite);
    EXPECT_EQ(at(*b, 99, 60), kBlue);
    // Open head at the point, 8 long and 8 wide: its sides end near
    // (92, 56) and (92, 64); inside the head stays white.
    panel.callout.SetVisible(true);
    panel.callout.SetArrowHead(ahLine);
    b = panel.Render();
    EXPECT_EQ(at(*b, 96, 58), kBlue);
    EXPECT_EQ(at(*b, 96, 62), kBlue);
    EXPECT_EQ(at(*b, 94, 58), kWhite);
    EXPECT_EQ(at(*b, 97, 57), kWhite);  // no pointer with a head
    panel.callout.SetArrowHead(ahSolid);
    b = panel.Render();
    // Filled head: the pointer's brush inside the arrow pen.
    EXPECT_EQ(at(*b, 94, 58), kRed);
    EXPECT_EQ(at(*b, 94, 62), kRed);
    EXPECT_EQ(at(*b, 90, 56), kWhite);
    // Through a middle point, moved with the rest by the drawing offset.
    panel.callout.SetArrowHead(ahNone);
    panel.hasMid = true;
    panel.mid = {40, 100};
    panel.to = {100, 100};
    panel.owner.offset = {5, -10};
    b = panel.Render();
    EXPECT_EQ(at(*b, 75, 70), kBlue);  // half way from the moved mid to the moved point
    EXPECT_EQ(at(*b, 75, 90), kBlue);  // (70, 100) moved: on mark -> mid
    EXPECT_EQ(at(*b, 105, 50), kRed);  // the pointer at the moved point
    EXPECT_EQ(at(*b, 70, 100), kWhite);
    // In a 3D chart the points are projected at the depth given.
    panel.callout.Arrow().SetVisible(true);
    panel.owner.offset = {};
    panel.hasMid = false;
    panel.to = {40, 60};
    panel.SetView3D(true);
    TPoint tip3D, tail3D;
    panel.Extra = [&](BackgroundPanel& p, const vcl::TRect& rect) {
        p.Canvas()->Projection(40, rect);
        tip3D = p.Canvas()->Calculate3DPosition(100, 60, 30);
        tail3D = p.Canvas()->Calculate3DPosition(60, 60, 30);
        panel.callout.Draw(kPointRed, panel.from, false, 30, panel.to, {});
    };
    b = panel.Render();
    ASSERT_NE(tip3D, (TPoint{100, 60}));
    EXPECT_EQ(at(*b, tip3D.X, tip3D.Y), kRed);
    EXPECT_EQ(at(*b, tail3D.X, tail3D.Y), kBlue);
}

TEST(marks_callout, apply_length_lifts_the_box_and_the_line) {
    TMarksCallout callout;
    TSeriesMarkPosition p;
    p.LeftTop = {10, 100};
    p.ArrowTo = {20, 110};
    p.ArrowFrom = {20, 110};
    callout.SetDistance(3);
    callout.ApplyLength(p);
    EXPECT_EQ(p.LeftTop, (TPoint{10, 89}));
    EXPECT_EQ(p.ArrowTo, (TPoint{20, 99}));
    EXPECT_EQ(p.ArrowFrom, (TPoint{20, 107}));
    // Length 0 and Distance 0: a box placed on its point stays touching it.
    callout.SetLength(0);
    callout.SetDistance(0);
    const int height = 15, pointY = 110;
    p.LeftTop = {10, pointY - height + 1};
    p.ArrowTo = p.ArrowFrom = {20, pointY};
    callout.ApplyLength(p);
    EXPECT_EQ(p.LeftTop.Y + height - 1, pointY);
    EXPECT_EQ(p.ArrowFrom.Y, pointY);
    // Far lifts stop at the edge of the integers.
    callout.SetLength(INT32_MAX);
    callout.SetDistance(10);
    p.LeftTop.Y = INT32_MIN + 5;
    callout.ApplyLength(p);
    EXPECT_EQ(p.LeftTop.Y, INT32_MIN);
}

// Every style flat and as a solid, and callouts with each head,
// drawn as a chart draws them, composed into chart_pointers.png in the
// test's folder, read back and checked against the rules.
TEST(pointer_gallery, styles_solids_and_callouts_written_as_png) {
    test_support::EnsureQtApplication();
    constexpr int kW = 560, kRowH = 90;
    const vcl::TColor colours[] = {vcl::clRed,    vcl::clGreen, vcl::clBlue,   vcl::clFuchsia,
                                   vcl::clTeal,   vcl::clNavy,  vcl::clMaroon, vcl::clOlive,
                                   vcl::clPurple, vcl::clGray,  vcl::clLime,   vcl::clAqua,
                                   0x0080FF};
    auto x = [](int i) { return 25 + i * 40; };
    FakeOwner owner;
    owner.depth = {0, 10, 20};
    TSeriesPointer pointer(nullptr, &owner);

    // Row 1: flat.
    RasterChart flat(kW, kRowH);
    for (int i = 0; i < 13; ++i) {
        pointer.PrepareCanvas(flat.canvas, colours[i]);
        pointer.DrawPointer(flat.canvas, false, x(i), 45, 9, 9, colours[i], kAllStyles[i]);
    }
    // Row 2: solids in an orthogonal view, 20 deep.
    RasterChart solid(kW, kRowH);
    chart::TView3DOptions options(nullptr);
    solid.canvas.InitWindow(&solid.bitmap.Canvas(), &options, vcl::clWhite, true,
                            {0, 0, kW, kRowH});
    solid.canvas.Projection(20, {0, 0, kW, kRowH});
    for (int i = 0; i < 13; ++i) {
        pointer.PrepareCanvas(solid.canvas, colours[i]);
        pointer.DrawPointer(solid.canvas, true, x(i), 50, 9, 9, colours[i], kAllStyles[i]);
    }
    // Row 3: callouts on a chart: a line with the pointer, an open head, a
    // filled head, and one through a middle point.
    struct Callouts : BackgroundPanel {
        TCallout line{this}, open{this}, filled{this}, bent{this};
        Callouts() {
            MakePlain(kW, kRowH, vcl::clWhite);
            SetView3D(false);
            open.SetArrowHead(ahLine);
            filled.SetArrowHead(ahSolid);
            for (TCallout* c : {&line, &open, &filled, &bent}) c->Arrow().SetColor(vcl::clBlack);
            Extra = [this](BackgroundPanel&, const vcl::TRect&) {
                line.Draw(vcl::clRed, {120, 60}, false, 0, {20, 20}, {});
                open.Draw(vcl::clBlue, {250, 60}, false, 0, {150, 20}, {});
                filled.Draw(vcl::clGreen, {380, 60}, false, 0, {280, 20}, {});
                bent.Draw(vcl::clFuchsia, {530, 70}, true, 0, {410, 20}, {530, 20});
            };
        }
    } callouts;
    const auto calloutImage = callouts.Render();

    vcl::TBitmap sheet(kW, 3 * kRowH);
    sheet.Canvas().Draw(0, 0, &flat.bitmap);
    sheet.Canvas().Draw(0, kRowH, &solid.bitmap);
    sheet.Canvas().Draw(0, 2 * kRowH, calloutImage.get());
    const auto picture = test_support::WritePngAndReadBack(sheet, "chart_pointers.png");
    const auto* png = dynamic_cast<const vcl::TPngGraphic*>(picture->Graphic());
    ASSERT_NE(png, nullptr);
    ASSERT_EQ(test_support::PixelsOf(*png->Handle()), test_support::PixelsOf(*sheet.Handle()));
    auto at = [&](int px, int py) { return png->Handle()->GetPixel(px, py); };

    // Flat: filled shapes are their colour at the point, line shapes the
    // pen's; nothing is nothing.
    for (int i : {0, 1, 4, 9, 12}) {
        const gdi::COLORREF expect = i == 4   ? kBlack
                                     : i == 9 ? kWhite
                                              : vcl::ColorToRGB(colours[i]);
        EXPECT_EQ(at(x(i), 45), expect) << i;
    }
    // Solids: the front face, projected at the row's start, is the point
    // colour at its centre; the rest of the solid lies behind and above.
    for (int i : {0, 2}) {
        SCOPED_TRACE(i);
        const TPoint front = solid.canvas.Calculate3DPosition(x(i), 50, 0);
        EXPECT_EQ(at(front.X, kRowH + front.Y), vcl::ColorToRGB(colours[i]));
    }
    const TPoint dot = solid.canvas.Calculate3DPosition(x(8), 50, 10);
    EXPECT_EQ(at(dot.X, kRowH + dot.Y), vcl::ColorToRGB(colours[8]));
    // Callouts: the pointer at the point, the heads at the point.
    const int y4 = 2 * kRowH;
    EXPECT_EQ(at(120, y4 + 60), kRed);
    EXPECT_EQ(at(250, y4 + 60), kBlack);               // the open head's tip
    EXPECT_EQ(at(376, y4 + 57), gdi::RGB(0, 128, 0));  // inside the filled head
    EXPECT_EQ(at(530, y4 + 70), gdi::RGB(255, 0, 255));
    EXPECT_EQ(at(530, y4 + 45), kBlack);  // on the bend down to the point
}

}  // namespace
