// The drawing surface's own behaviour: pens, brushes and fonts as the
// device context gets them, the base operations, the point and rectangle
// routines, every operation drawing, and markup through the surface.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "chart/drawing/drawing_setup.h"
#include "chart/drawing/plot_font.h"
#include "chart/drawing/plot_html.h"
#include "chart/drawing/view3d_options.h"
#include "support/chart_surfaces.h"
#include "support/qt_app.h"

namespace {

using namespace chart;
using test_support::RasterChart;
using test_support::RecordingChart;

TEST(plot_canvas, arc_by_angles_passes_the_points_on_the_ellipse_to_arc) {
    RecordingChart r(200, 200);
    r.canvas.ArcByAngles(0, 0, 100, 100, 0, 90);
    r.canvas.ArcByAngles(10, 20, 51, 61, 180, 270);  // odd sizes: halves truncated
    const auto arcs = r.Of(gdi::RecordOp::Arc);
    ASSERT_EQ(arcs.size(), 2u);
    EXPECT_EQ(arcs[0].Args, (std::vector<int>{0, 0, 100, 100, 100, 50, 50, 0}));
    EXPECT_EQ(arcs[1].Args, (std::vector<int>{10, 20, 51, 61, 10, 40, 30, 60}));
}

TEST(plot_canvas, chart_pens_become_device_context_pens) {
    RecordingChart r(100, 100);
    auto pen = [&]() -> const gdi::EXTLOGPEN& {
        r.canvas.LineTo(5, 5);
        return r.Of(gdi::RecordOp::LineTo).back().State.Pen->Log();
    };
    // Width 3, flat, dotted: a geometric pen with flat ends and mitre joins.
    TChartPen wide;
    wide.SetWidth(3);
    wide.SetEndStyle(esFlat);
    wide.SetStyle(vcl::TPenStyle::psDot);
    wide.SetColor(vcl::clRed);
    wide.SetMode(vcl::TPenMode::pmXor);
    r.canvas.AssignVisiblePen(wide);
    EXPECT_EQ(pen().elpPenStyle, gdi::PS_GEOMETRIC | gdi::PS_ENDCAP_FLAT | gdi::PS_JOIN_MITER | gdi::PS_DOT);
    EXPECT_EQ(pen().elpWidth, 3u);
    EXPECT_EQ(pen().elpColor, gdi::RGB(255, 0, 0));
    EXPECT_EQ(r.Of(gdi::RecordOp::LineTo).back().State.Rop2, gdi::R2_XORPEN);
    wide.SetEndStyle(esSquare);
    r.canvas.AssignVisiblePen(wide);
    EXPECT_EQ(pen().elpPenStyle & ~gdi::PS_STYLE_MASK,
              gdi::PS_GEOMETRIC | gdi::PS_ENDCAP_SQUARE | gdi::PS_JOIN_BEVEL);
    // Width 1: the plain canvas pen.
    wide.SetWidth(1);
    r.canvas.AssignVisiblePen(wide);
    EXPECT_EQ(pen().elpPenStyle, gdi::PS_COSMETIC | gdi::PS_DOT);
    // Small dots: every other pixel, or dots SmallSpace + 1 apart.
    TChartPen dots;
    dots.SetSmallDots(true);
    r.canvas.AssignVisiblePen(dots);
    EXPECT_EQ(pen().elpPenStyle, gdi::PS_COSMETIC | gdi::PS_ALTERNATE);
    dots.SetSmallSpace(2);
    r.canvas.AssignVisiblePenColor(dots, vcl::clBlue);
    EXPECT_EQ(pen().elpPenStyle, gdi::PS_GEOMETRIC | gdi::PS_USERSTYLE);
    EXPECT_EQ(pen().elpStyleEntry, (std::vector<gdi::DWORD>{0, 3}));
    EXPECT_EQ(pen().elpColor, gdi::RGB(0, 0, 255));
    // An invisible pen only clears the style.
    r.canvas.Pen->SetColor(vcl::clLime);
    r.canvas.Pen->SetWidth(4);
    TChartPen hidden;
    hidden.Hide();
    hidden.SetColor(vcl::clRed);
    r.canvas.AssignVisiblePen(hidden);
    EXPECT_EQ(r.canvas.Pen->Style(), vcl::TPenStyle::psClear);
    EXPECT_EQ(r.canvas.Pen->Color(), vcl::clLime);
    EXPECT_EQ(r.canvas.Pen->Width(), 4);
    // Monochrome: black; any other pen is taken as it is.
    r.canvas.SetMonochrome(true);
    vcl::TPen plain;
    plain.SetColor(vcl::clRed);
    plain.SetStyle(vcl::TPenStyle::psDash);
    r.canvas.AssignVisiblePen(wide);
    EXPECT_EQ(pen().elpColor, 0u);
    r.canvas.AssignVisiblePenColor(plain, vcl::clRed);
    EXPECT_EQ(pen().elpColor, 0u);
    EXPECT_EQ(pen().elpPenStyle, gdi::PS_COSMETIC | gdi::PS_DASH);
}

TEST(plot_canvas, brushes_set_the_background_mode_by_their_back_colour) {
    RecordingChart r(100, 100);
    auto state = [&] {
        r.canvas.Rectangle(0, 0, 5, 5);
        return r.Of(gdi::RecordOp::Rectangle).back().State;
    };
    TChartBrush brush;
    brush.SetStyle(vcl::TBrushStyle::bsCross);
    r.canvas.AssignBrushColors(brush, vcl::clRed, vcl::clNone);
    EXPECT_EQ(state().BkMode, gdi::TRANSPARENT);
    EXPECT_EQ(state().Brush->Log().lbStyle, gdi::BS_HATCHED);
    EXPECT_EQ(state().Brush->Log().lbColor, gdi::RGB(255, 0, 0));
    r.canvas.AssignBrushColors(brush, vcl::clRed, vcl::clBlue);
    EXPECT_EQ(state().BkMode, gdi::OPAQUE);
    EXPECT_EQ(state().BkColor, gdi::RGB(0, 0, 255));
    // AssignBrush: the brush's back colour is the fore colour, its colour the back.
    brush.SetColor(vcl::clLime);
    brush.SetBackColor(vcl::clYellow);
    brush.SetStyle(vcl::TBrushStyle::bsSolid);
    r.canvas.AssignBrush(brush);
    EXPECT_EQ(state().Brush->Log().lbColor, gdi::RGB(255, 255, 0));
    EXPECT_EQ(state().BkColor, gdi::RGB(0, 255, 0));
    // A picture in the brush becomes a pattern on an opaque background.
    vcl::TBitmap tile(2, 2);
    brush.Image()->SetGraphic(&tile);
    r.canvas.AssignBrushColors(brush, vcl::clRed, vcl::clBlue);
    EXPECT_EQ(state().Brush->Log().lbStyle, gdi::BS_PATTERN);
    EXPECT_EQ(state().BkMode, gdi::OPAQUE);
    EXPECT_EQ(state().TextColor, gdi::RGB(255, 0, 0));
    // Monochrome fore colours are white.
    brush.SetImage(nullptr);
    r.canvas.SetMonochrome(true);
    r.canvas.AssignBrushColor(brush, vcl::clRed);
    EXPECT_EQ(state().Brush->Log().lbColor, gdi::RGB(255, 255, 255));
}

TEST(plot_canvas, fonts_text_sizes_and_the_reset_state) {
    test_support::EnsureQtApplication();
    RasterChart r(100, 60);
    TPlotFont font;
    font.SetSize(12);
    font.SetColor(vcl::clRed);
    r.canvas.AssignFont(font);
    EXPECT_EQ(r.canvas.FontReference, &font);
    EXPECT_EQ(font.Canvas, &r.canvas);
    EXPECT_EQ(r.canvas.Font->Size(), 12);
    const int plainWidth = r.canvas.TextWidth("Shadow");
    const int plainHeight = r.canvas.TextHeight("Shadow");
    // A visible shadow widens by |HorizSize| and heightens by |VertSize|.
    font.Shadow()->SetHorizSize(-3);
    font.Shadow()->SetVertSize(4);
    EXPECT_EQ(r.canvas.TextWidth("Shadow"), plainWidth + 3);
    EXPECT_EQ(r.canvas.TextHeight("Shadow"), plainHeight + 4);
    EXPECT_EQ(r.canvas.TextWidthW(u"Shadow"), plainWidth + 3);
    EXPECT_EQ(r.canvas.FontHeight(), r.canvas.TextHeight("W"));
    font.Shadow()->SetVisible(false);
    EXPECT_EQ(r.canvas.TextWidth("Shadow"), plainWidth);
    // Spacing goes to the device context; zoom scales the size; monochrome
    // text is black.
    font.SetInterCharSize(2);
    r.canvas.AssignFont(font);
    EXPECT_EQ(r.canvas.TextWidth("Shadow"), plainWidth + 12);
    EXPECT_EQ(r.canvas.GetHandle()->GetTextCharacterExtra(), 2);
    r.canvas.FontZoom = 150;
    r.canvas.SetMonochrome(true);
    r.canvas.AssignFont(font);
    EXPECT_EQ(r.canvas.Font->Size(), 18);
    EXPECT_EQ(r.canvas.Font->Color(), vcl::clBlack);

    r.canvas.ResetState();
    EXPECT_EQ(r.canvas.FontReference, nullptr);
    EXPECT_EQ(r.canvas.Font->Name(), PlotDefaultFontName);
    EXPECT_EQ(r.canvas.Font->Size(), PlotDefaultFontSize);
    EXPECT_EQ(r.canvas.Brush->Color(), vcl::clWhite);
    EXPECT_EQ(r.canvas.GetBackMode(), gdi::TRANSPARENT);
    EXPECT_EQ(r.canvas.GetBackColor(), vcl::clWhite);
    EXPECT_EQ(r.canvas.GetTextAlign(), 0u);
}

TEST(plot_canvas, frame3d_two_pixels_wide_shrinks_the_rectangle_by_two) {
    RasterChart r(12, 12);
    vcl::TRect rect{0, 0, 10, 10};
    r.canvas.Frame3D(rect, vcl::clRed, vcl::clBlue, 2);
    EXPECT_EQ(rect, (vcl::TRect{2, 2, 8, 8}));
    const gdi::COLORREF red = gdi::RGB(255, 0, 0), blue = gdi::RGB(0, 0, 255);
    // Each round: top and left in the top colour, then right and bottom in
    // the bottom colour, which takes the bottom-left and top-right corners.
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(r.At(i, 0), red) << i;
        EXPECT_EQ(r.At(9, i), blue) << i;
        EXPECT_EQ(r.At(i + 1, 9), blue) << i;
    }
    for (int y = 1; y < 9; ++y) EXPECT_EQ(r.At(0, y), red) << y;
    EXPECT_EQ(r.At(0, 9), blue);
    EXPECT_EQ(r.At(1, 1), red);
    EXPECT_EQ(r.At(8, 8), blue);
    EXPECT_EQ(r.At(5, 5), gdi::RGB(255, 255, 255));
    EXPECT_EQ(r.At(10, 5), gdi::RGB(255, 255, 255));
    EXPECT_EQ(r.canvas.Pen->Width(), 1);
}

TEST(plot_canvas, begin_2d_brackets_nest_and_only_the_outer_pair_switches) {
    RasterChart r(100, 100);
    TView3DOptions options(nullptr);
    r.canvas.InitWindow(&r.bitmap.Canvas(), &options, vcl::clWhite, true, {0, 0, 100, 100});
    r.canvas.Projection(0, {0, 0, 100, 100});
    EXPECT_TRUE(r.canvas.Is3D());
    r.canvas.Begin2D();
    r.canvas.Begin2D();
    r.canvas.End2D();
    EXPECT_FALSE(r.canvas.Is3D());
    EXPECT_EQ(r.canvas.Nesting2D(), 1);
    // Clips inside the bracket take the 2D rule.
    r.canvas.ClipCube({10, 10, 20, 20}, 0, 30);
    vcl::TBitmap& b = r.bitmap;
    r.canvas.Brush->SetColor(vcl::clRed);
    r.canvas.FillRect({0, 0, 100, 100});
    EXPECT_EQ(test_support::InkBoxOf(*b.Handle()), (gdi::RECT{11, 11, 20, 19}));
    r.canvas.UnClipRectangle();
    r.canvas.End2D();
    EXPECT_TRUE(r.canvas.Is3D());
    EXPECT_EQ(r.canvas.Nesting2D(), 0);
}

TEST(plot_canvas, every_operation_draws_and_only_markup_is_left_for_later) {
    test_support::EnsureQtApplication();
    RasterChart r(50, 50);
    TPlotGradient gradient;
    gradient.SetStartColor(vcl::clRed);
    TPlotShadow shadow;
    shadow.SetSize(3);
    auto& c = r.canvas;
    c.Brush->SetColor(vcl::clBlue);
    const std::vector<std::pair<const char*, std::function<void()>>> drawing = {
        {"GradientFill", [&] { c.GradientFill({0, 0, 10, 10}, 0, 0xFFFFFF, gdTopBottom, 50, 0, 0); }},
        {"Donut", [&] { c.Donut(20, 20, 10, 10, 0, 1, 50); }},
        {"Blending", [&] {
             auto blend = c.BeginBlending({0, 0, 10, 10}, 50);
             c.FillRect({0, 0, 10, 10});
             c.EndBlending(std::move(blend));
         }},
        {"Arrow", [&] { c.ArrowDefault(true, {0, 0}, {20, 20}, 5, 5, 0); }},
        {"Cone", [&] { c.Cone(true, 0, 0, 10, 10, 0, 5, false, 50); }},
        {"Cube", [&] { c.CubeRect({0, 0, 10, 10}, 0, 5); }},
        {"Cylinder", [&] { c.Cylinder(true, 0, 0, 10, 10, 0, 5, false); }},
        {"EllipseWithZ", [&] { c.EllipseWithZ(0, 0, 10, 10, 0); }},
        {"CircleWithZ", [&] { c.CircleWithZ(5, 5, 0, 2.5); }},
        {"Pie3D", [&] { c.Pie3D(20, 20, 10, 10, 0, 5, 0, 1, false, false, 0, nullptr); }},
        {"Plane3D", [&] { c.Plane3D({0, 0}, {5, 5}, 0, 5); }},
        {"PlaneWithZ", [&] { c.PlaneWithZ({0, 0}, {5, 0}, {5, 5}, {0, 5}, 0); }},
        {"PlaneBetweenDepths", [&] { c.PlaneBetweenDepths({TPoint{0, 0}, {9, 0}, {9, 9}, {0, 9}}, 0, 5); }},
        {"Polygon3D", [&] { c.Polygon3D(std::vector<TPoint3D>{{0, 0, 0}, {5, 0, 0}, {0, 5, 0}}); }},
        {"Pyramid", [&] { c.Pyramid(true, 0, 0, 10, 10, 0, 5, false); }},
        {"PyramidTruncated", [&] { c.PyramidTruncated({0, 0, 10, 10}, 0, 5, 2, 2); }},
        {"RectangleWithZ", [&] { c.RectangleWithZCoords(0, 0, 10, 10, 0); }},
        {"Triangle3D", [&] { c.Triangle3D({TPoint3D{0, 0, 0}, {9, 0, 0}, {0, 9, 0}}, {vcl::clGreen, 0, 0}); }},
        {"TriangleWithZ", [&] { c.TriangleWithZ({0, 0}, {5, 0}, {0, 5}, 0); }},
        {"PolygonGradient", [&] { c.PolygonGradient(std::vector<TPoint>{{0, 0}, {9, 0}, {0, 9}}, gradient); }},
        {"Gradient", [&] { gradient.Draw(c, {0, 0, 10, 10}); }},
        {"RadialGradient", [&] { DrawRadialGradient(gradient, c, {0, 0, 10, 10}); }},
        {"Shadow", [&] { shadow.DrawRect(c, {0, 0, 10, 10}); }},
    };
    for (const auto& [name, call] : drawing) {
        r.bitmap.Handle()->Fill(gdi::RGB(255, 255, 255));
        c.Brush->SetColor(vcl::clBlue);
        c.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
        c.Pen->SetStyle(vcl::TPenStyle::psSolid);
        call();
        EXPECT_GT(r.InkBox().right, 0) << name << " drew nothing";
    }
    // Free 3D sets up: the whole window, turned about its centre, so that
    // the centre stays and depth moves a point.
    TView3DOptions free(nullptr);
    free.SetOrthogonal(false);
    EXPECT_EQ(c.InitWindow(&r.bitmap.Canvas(), &free, vcl::clWhite, true, {0, 0, 50, 50}), (TRect{0, 0, 50, 50}));
    EXPECT_TRUE(c.Is3D());
    c.Projection(10, {0, 0, 50, 50});
    EXPECT_EQ(c.Calculate3DPosition(25, 25, 5), (TPoint{25, 25}));
    EXPECT_NE(c.Calculate3DPosition(25, 25, 0), (TPoint{25, 25}));
    // Markup draws through the surface; a tag left open raises.
    r.bitmap.Handle()->Fill(gdi::RGB(255, 255, 255));
    c.TextOutHtml(0, 0, "<b>x</b>", true);
    EXPECT_GT(r.InkBox().right, 0);
    EXPECT_THROW(c.TextOutHtml(0, 0, "<b", true), HtmlParserException);
    // Every clip taken was taken back: a fill reaches everywhere.
    c.InitWindow(&r.bitmap.Canvas(), nullptr, vcl::clWhite, false, {0, 0, 50, 50});
    c.Brush->SetColor(vcl::clRed);
    c.FillRect({0, 0, 50, 50});
    EXPECT_EQ(r.Count(gdi::RGB(255, 0, 0)), 2500);
    // Markup off: plain text.
    c.TextOutHtml(0, 0, "plain", false);
}

TEST(plot_geometry, point_and_rectangle_routines) {
    EXPECT_EQ(RectCenter({-5, -5, 0, 0}), (TPoint{-2, -2}));
    EXPECT_EQ(RectCenter({0, 0, 11, 7}), (TPoint{5, 3}));
    EXPECT_EQ(RectCenter({INT32_MAX - 2, 0, INT32_MAX, 0}), (TPoint{INT32_MAX - 1, 0}));
    EXPECT_TRUE(PointInRectXY({0, 0, 10, 10}, 10, 10));
    EXPECT_FALSE(PointInRect({0, 0, 10, 10}, {11, 5}));
    EXPECT_EQ(RectSize({2, 3, 7, 10}), (TPoint{5, 7}));
    TRect r{10, 20, 0, 5};
    NormalizeRect(r);
    EXPECT_EQ(r, (TRect{0, 5, 10, 20}));
    const std::vector<TPoint> pts = {{3, 4}, {-1, 9}, {6, 2}};
    EXPECT_EQ(PolygonBounds(pts, 3), (TRect{-1, 2, 7, 10}));
    EXPECT_EQ(PolygonBounds(pts, 1), (TRect{3, 4, 4, 5}));
    EXPECT_EQ(PolygonBounds(pts, 99), (TRect{-1, 2, 7, 10}));
    EXPECT_EQ(PolygonBounds(pts, -1), (TRect{}));
    EXPECT_EQ(PolygonBoundsHigh(pts, 2), (TRect{-1, 2, 6, 9}));
    EXPECT_EQ(PolygonBoundsHigh({}, -1), (TRect{}));
    // Faces turned away from the viewer (clockwise on the screen) are culled.
    EXPECT_TRUE(PlotCullPoints({0, 0}, {10, 0}, {10, 10}) != PlotCullPoints({0, 0}, {10, 10}, {10, 0}));
    EXPECT_FALSE(PlotCullPoints({0, 0}, {10, 0}, {20, 0}));
    EXPECT_EQ(PlotColorToTriple(0x123456), (TRGBTriple{0x12, 0x34, 0x56}));
    EXPECT_EQ(PlotColorToTriple(vcl::clWindow), (TRGBTriple{0xFF, 0xFF, 0xFF}));
    int a = 1, b = 2;
    SwapInteger(a, b);
    EXPECT_EQ(a, 2);
    double x = 1.5, y = -2;
    SwapDouble(x, y);
    EXPECT_EQ(x, -2);
    vcl::TBitmap bmp;
    SetBitmapSize(bmp, 7, 3);
    EXPECT_EQ(bmp.Width(), 7);
    EXPECT_EQ(bmp.Height(), 3);
}

}  // namespace
