// Free 3D projection and its inverse, and the planes, polygons and solids
// as the device context receives them (faces, their order and shading).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "chart/drawing/view3d_options.h"
#include "support/chart_surfaces.h"
#include "support/qt_app.h"

namespace {

using namespace chart;
using test_support::RasterChart;
using test_support::RecordingChart;

// Sets the surface up for a paint of (0, 0, 200, 100) with the options.
void SetUp3D(TPlotCanvas3D& c, vcl::TCanvas* target, TView3DOptions* options, int depth = 40) {
    c.InitWindow(target, options, vcl::clWhite, true, {0, 0, 200, 100});
    c.Projection(depth, {0, 0, 200, 100});
}

std::vector<gdi::POINT> Gdi(std::initializer_list<TPoint> points) {
    std::vector<gdi::POINT> out;
    for (const TPoint& p : points) out.push_back({p.X, p.Y});
    return out;
}

TEST(free_3d, projects_by_the_angles_perspective_and_zoom_and_back) {
    test_support::EnsureQtApplication();
    RasterChart r(200, 100);
    TView3DOptions options(nullptr);
    options.SetOrthogonal(false);
    options.SetElevation(0);
    options.SetRotation(0);
    options.SetPerspective(0);
    options.SetHorizOffset(7);
    SetUp3D(r.canvas, &r.bitmap.Canvas(), &options);
    // All angles 0, no perspective: depth moves no point, the offset does.
    EXPECT_EQ(r.canvas.Calculate3DPosition(30, 20, 0), (TPoint{37, 20}));
    EXPECT_EQ(r.canvas.Calculate3DPosition(30, 20, 40), (TPoint{37, 20}));
    int x = 37, y = 20;
    r.canvas.Calculate2DPosition(x, y, 40);
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 20);
    // Zoom 150: 10 pixels right of the centre lands 15 right of the origin.
    options.SetZoom(150);
    SetUp3D(r.canvas, &r.bitmap.Canvas(), &options);
    EXPECT_EQ(r.canvas.Calculate3DPosition(110, 50, 0), (TPoint{122, 50}));
    // Turned 90 degrees about the vertical axis: depth runs across the screen.
    options.SetZoom(100);
    options.SetRotation(270);
    SetUp3D(r.canvas, &r.bitmap.Canvas(), &options);
    const TPoint front = r.canvas.Calculate3DPosition(100, 50, 0), back = r.canvas.Calculate3DPosition(100, 50, 40);
    EXPECT_EQ(std::abs(back.X - front.X), 40);
    EXPECT_EQ(back.Y, front.Y);
    // Tilt turns the screen: at 90 a point right of the centre goes below it.
    options.SetRotation(0);
    options.SetTilt(90);
    SetUp3D(r.canvas, &r.bitmap.Canvas(), &options);
    EXPECT_EQ(r.canvas.Calculate3DPosition(120, 50, 20), (TPoint{107, 70}));
    // The floating form rounds the same way.
    EXPECT_EQ(r.canvas.Calculate3DPosition(120.0, 50.0, 20), (TPoint{107, 70}));
    // Back from the screen at the depth the point was projected at (without
    // perspective): the same point, whatever the angles (steep views
    // magnify the rounding of the screen point).
    for (int elevation : {0, 340, 300})
        for (int rotation : {0, 20, 345, 120})
            for (int tilt : {0, 10, -30}) {
                options.SetElevation(elevation);
                options.SetRotation(rotation);
                options.SetTilt(tilt);
                SetUp3D(r.canvas, &r.bitmap.Canvas(), &options);
                for (int z : {0, 20, 35}) {
                    const TPoint p = r.canvas.Calculate3DPosition(80, 30, z);
                    x = p.X, y = p.Y;
                    r.canvas.Calculate2DPosition(x, y, z);
                    EXPECT_NEAR(x, 80, 2) << elevation << " " << rotation << " " << tilt << " " << z;
                    EXPECT_NEAR(y, 30, 2) << elevation << " " << rotation << " " << tilt << " " << z;
                }
            }
}

TEST(free_3d, perspective_keeps_every_point_finite_and_on_the_pixel_scale) {
    test_support::EnsureQtApplication();
    RasterChart r(200, 100);
    TView3DOptions options(nullptr);
    options.SetOrthogonal(false);
    options.SetPerspective(100);
    options.SetZoom(2000);
    options.SetElevation(300);
    SetUp3D(r.canvas, &r.bitmap.Canvas(), &options);
    for (int z : {-100000000, -1000, 0, 1000, 100000000, INT32_MAX, INT32_MIN})
        for (int v : {INT32_MIN, -5000, 0, 5000, INT32_MAX}) {
            const TPoint p = r.canvas.Calculate3DPosition(v, v, z);
            EXPECT_LE(std::abs(static_cast<long long>(p.X)), 67108863) << z << " " << v;
            EXPECT_LE(std::abs(static_cast<long long>(p.Y)), 67108863) << z << " " << v;
        }
    // Perspective shrinks what lies deeper.
    options.SetZoom(100);
    options.SetElevation(0);
    options.SetRotation(0);
    options.SetPerspective(50);
    SetUp3D(r.canvas, &r.bitmap.Canvas(), &options, 100);
    const int nearX = r.canvas.Calculate3DPosition(190, 50, 0).X, farX = r.canvas.Calculate3DPosition(190, 50, 100).X;
    EXPECT_GT(nearX, farX);
    // Perspective 0 is none; a bounds width of 0 counts as 1.
    options.SetPerspective(0);
    SetUp3D(r.canvas, &r.bitmap.Canvas(), &options, 100);
    EXPECT_EQ(r.canvas.Calculate3DPosition(190, 50, 0).X, r.canvas.Calculate3DPosition(190, 50, 100).X);
    options.SetPerspective(10);
    r.canvas.InitWindow(&r.bitmap.Canvas(), &options, vcl::clWhite, true, {50, 0, 50, 100});
    r.canvas.Projection(100, {50, 0, 50, 100});
    const TPoint q = r.canvas.Calculate3DPosition(60, 50, 0);
    EXPECT_LE(std::abs(static_cast<long long>(q.X)), 67108863);
}

TEST(free_3d, pixels_and_zoomed_text_at_depth) {
    test_support::EnsureQtApplication();
    RasterChart r(200, 100);
    TView3DOptions options(nullptr);
    options.SetOrthogonal(false);
    options.SetRotation(0);
    options.SetElevation(0);
    options.SetPerspective(0);
    SetUp3D(r.canvas, &r.bitmap.Canvas(), &options);
    r.canvas.SetPixel3D(40, 30, 10, vcl::clRed);
    EXPECT_EQ(r.At(40, 30), gdi::RGB(255, 0, 0));
    EXPECT_EQ(r.canvas.GetPixel3D(40, 30, 10), vcl::clRed);
    // Text at depth grows with the zoom.
    auto inkWidth = [&](int zoom) {
        r.bitmap.Handle()->Fill(gdi::RGB(255, 255, 255));
        options.SetZoom(zoom);
        SetUp3D(r.canvas, &r.bitmap.Canvas(), &options);
        r.canvas.TextOut3D(100, 50, 0, "Wide");
        const gdi::RECT box = r.InkBox();
        return box.right - box.left;
    };
    const int plain = inkWidth(100), zoomed = inkWidth(200);
    EXPECT_GT(zoomed, plain * 3 / 2);
}

TEST(solids, cube_faces_their_order_and_darkness) {
    test_support::EnsureQtApplication();
    // 2D: only the front; with a clear brush the five tested faces.
    RecordingChart r(200, 100);
    r.canvas.Brush->SetColor(gdi::RGB(200, 150, 100));
    r.canvas.Cube(10, 60, 20, 70, 0, 30, true);
    auto polygons = r.Of(gdi::RecordOp::Polygon);
    ASSERT_EQ(polygons.size(), 1u);
    EXPECT_EQ(polygons[0].Points, Gdi({{10, 20}, {60, 20}, {60, 70}, {10, 70}}));
    r.dc->ClearRecords();
    r.canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    r.canvas.Cube(10, 60, 20, 70, 0, 30, false);
    EXPECT_EQ(r.Of(gdi::RecordOp::Polygon).size(), 5u);
    // Orthogonal: front, right side (128 darker), top (64 darker); the brush
    // keeps the last face's colour.
    RecordingChart o(200, 100);
    TView3DOptions options(nullptr);
    SetUp3D(o.canvas, &o.target, &options);
    o.dc->ClearRecords();
    o.canvas.Brush->SetColor(gdi::RGB(200, 150, 100));
    o.canvas.Cube(10, 60, 20, 70, 0, 30, true);
    polygons = o.Of(gdi::RecordOp::Polygon);
    ASSERT_EQ(polygons.size(), 3u);
    EXPECT_EQ(polygons[0].State.Brush->Log().lbColor, gdi::RGB(200, 150, 100));
    EXPECT_EQ(polygons[1].State.Brush->Log().lbColor, gdi::RGB(72, 22, 0));
    EXPECT_EQ(polygons[2].State.Brush->Log().lbColor, gdi::RGB(136, 86, 36));
    EXPECT_EQ(polygons[1].Points[0], (gdi::POINT{60, 20}));  // the right side starts at (Right, Top)
    EXPECT_EQ(o.canvas.Brush->Color(), static_cast<TColor>(gdi::RGB(136, 86, 36)));
    // Without DarkSides every face takes the brush colour; a hatched brush
    // darkens the back colour instead.
    o.dc->ClearRecords();
    o.canvas.Brush->SetColor(gdi::RGB(200, 150, 100));
    o.canvas.Cube(10, 60, 20, 70, 0, 30, false);
    for (const auto& p : o.Of(gdi::RecordOp::Polygon)) EXPECT_EQ(p.State.Brush->Log().lbColor, gdi::RGB(200, 150, 100));
    o.dc->ClearRecords();
    o.canvas.Brush->SetStyle(vcl::TBrushStyle::bsCross);
    o.canvas.SetBackColor(gdi::RGB(100, 100, 100));
    o.canvas.Cube(10, 60, 20, 70, 0, 30, true);
    EXPECT_EQ(o.Of(gdi::RecordOp::Polygon)[1].State.BkColor, gdi::RGB(0, 0, 0));
}

TEST(solids, ellipses_circles_and_arrows) {
    test_support::EnsureQtApplication();
    RecordingChart r(200, 100);
    r.canvas.EllipseWithZ(0, 0, 10, 10, 0);
    r.canvas.CircleWithZ(5, 5, 0, 2.5);  // r = 2, ties to even
    auto ellipses = r.Of(gdi::RecordOp::Ellipse);
    ASSERT_EQ(ellipses.size(), 2u);
    EXPECT_EQ(ellipses[0].Args, (std::vector<int>{0, 0, 11, 11}));
    EXPECT_EQ(ellipses[1].Args, (std::vector<int>{3, 3, 8, 8}));
    // Free 3D: 63 triangles without a pen, then the 64-point outline.
    TView3DOptions options(nullptr);
    options.SetOrthogonal(false);
    SetUp3D(r.canvas, &r.target, &options);
    r.dc->ClearRecords();
    r.canvas.EllipseWithZ(50, 20, 150, 80, 10);
    const auto triangles = r.Of(gdi::RecordOp::Polygon);
    ASSERT_EQ(triangles.size(), 63u);
    EXPECT_TRUE(triangles[0].State.Pen->IsNull());
    const auto outline = r.Of(gdi::RecordOp::Polyline);
    ASSERT_EQ(outline.size(), 1u);
    EXPECT_EQ(outline[0].Points.size(), 64u);
    EXPECT_FALSE(outline[0].State.Pen->IsNull());

    // Arrows: coinciding points draw nothing; a filled arrow is one polygon
    // of seven points from the tail round to the tip; a head higher than
    // the arrow is cut to its length.
    RecordingChart a(200, 100);
    a.canvas.ArrowDefault(true, {20, 20}, {20, 20}, 10, 10, 0);
    EXPECT_TRUE(a.Drawing().empty());
    a.canvas.Arrow(true, {10, 50}, {110, 50}, 20, 30, 0, 50);
    auto shapes = a.Of(gdi::RecordOp::Polygon);
    ASSERT_EQ(shapes.size(), 1u);
    EXPECT_EQ(shapes[0].Points, (std::vector<gdi::POINT>{{10, 55}, {10, 45}, {80, 45}, {80, 40}, {110, 50}, {80, 60}, {80, 55}}));
    a.dc->ClearRecords();
    a.canvas.Arrow(true, {10, 50}, {30, 50}, 20, 300, 0, 50);
    EXPECT_EQ(a.Of(gdi::RecordOp::Polygon)[0].Points[3], (gdi::POINT{10, 40}));
    // An outlined arrow: its line, then the two head strokes from the tip.
    a.dc->ClearRecords();
    a.canvas.Arrow(false, {10, 50}, {110, 50}, 20, 30, 0, 50);
    EXPECT_EQ(a.Drawing(), (std::vector<std::string>{"MoveTo", "LineTo", "MoveTo", "LineTo", "MoveTo", "LineTo"}));
    const auto lines = a.Of(gdi::RecordOp::LineTo);
    EXPECT_EQ(lines[1].Args, (std::vector<int>{80, 60}));
    EXPECT_EQ(lines[2].Args, (std::vector<int>{80, 40}));
}

TEST(solids, planes_pies_donuts_and_picture_cells) {
    test_support::EnsureQtApplication();
    RecordingChart r(200, 100);
    TView3DOptions options(nullptr);
    SetUp3D(r.canvas, &r.target, &options);
    auto& c = r.canvas;
    auto P = [&](int x, int y, int z) { return c.Calculate3DPosition(x, y, z); };
    r.dc->ClearRecords();
    c.RectangleAtX(20, 10, 40, 0, 30);
    c.RectangleAtY(20, 40, 60, 0, 30);
    c.Plane3D({20, 10}, {60, 40}, 0, 30);
    c.PlaneBetweenDepths({TPoint{10, 10}, {20, 10}, {20, 20}, {10, 20}}, 5, 25);
    c.PlaneWithZ({0, 0}, {10, 0}, {10, 10}, {0, 10}, 7);
    const auto planes = r.Of(gdi::RecordOp::Polygon);
    ASSERT_EQ(planes.size(), 5u);
    auto g = [](const TPoint& p) { return gdi::POINT{p.X, p.Y}; };
    EXPECT_EQ(planes[0].Points, (std::vector<gdi::POINT>{g(P(20, 10, 30)), g(P(20, 10, 0)), g(P(20, 40, 0)), g(P(20, 40, 30))}));
    EXPECT_EQ(planes[1].Points, (std::vector<gdi::POINT>{g(P(20, 40, 30)), g(P(60, 40, 30)), g(P(60, 40, 0)), g(P(20, 40, 0))}));
    EXPECT_EQ(planes[2].Points, (std::vector<gdi::POINT>{g(P(20, 10, 30)), g(P(60, 40, 30)), g(P(60, 40, 0)), g(P(20, 10, 0))}));
    EXPECT_EQ(planes[3].Points, (std::vector<gdi::POINT>{g(P(10, 10, 5)), g(P(20, 10, 5)), g(P(20, 20, 25)), g(P(10, 20, 25))}));
    EXPECT_EQ(planes[4].Points[2], g(P(10, 10, 7)));

    // A whole turn of a pie: 96 points per edge (the cover adds the centre);
    // one degree: 2 points.
    RecordingChart pie(200, 100);
    pie.canvas.Pie3D(100, 50, 40, 30, 0, 10, 0, 2 * std::numbers::pi, false, false, 0, nullptr);
    auto shapes = pie.Of(gdi::RecordOp::Polygon);
    ASSERT_FALSE(shapes.empty());
    EXPECT_EQ(shapes[0].Points.size(), 97u);
    pie.dc->ClearRecords();
    pie.canvas.Pie3D(100, 50, 40, 30, 0, 10, 0, std::numbers::pi / 180, false, false, 0, nullptr);
    EXPECT_EQ(pie.Of(gdi::RecordOp::Polygon)[0].Points.size(), 3u);
    // A donut: its outer arc, the hole's arc backwards, closed and filled.
    pie.dc->ClearRecords();
    pie.canvas.Donut(100, 50, 40, 30, 0, std::numbers::pi / 2, 50);
    EXPECT_EQ(pie.Drawing(), (std::vector<std::string>{"MoveTo", "BeginPath", "ArcTo", "ArcTo", "EndPath",
                                                       "StrokeAndFillPath"}));
    const auto arcs = pie.Of(gdi::RecordOp::ArcTo);
    EXPECT_EQ(arcs[0].Args, (std::vector<int>{60, 20, 140, 80, 140, 50, 100, 20}));
    EXPECT_EQ(arcs[0].State.ArcDirection, gdi::AD_COUNTERCLOCKWISE);
    EXPECT_EQ(arcs[1].Args, (std::vector<int>{80, 35, 120, 65, 100, 35, 120, 50}));
    EXPECT_EQ(arcs[1].State.ArcDirection, gdi::AD_CLOCKWISE);
    // Without a hole the slice closes at the centre; painted it is a wedge.
    RasterChart wedge(200, 100);
    wedge.canvas.Brush->SetColor(vcl::clRed);
    wedge.canvas.Donut(100, 50, 40, 30, 0, std::numbers::pi / 2, 0);
    EXPECT_EQ(wedge.At(102, 48), gdi::RGB(255, 0, 0));
    EXPECT_EQ(wedge.At(98, 52), gdi::RGB(255, 255, 255));

    // A 2 x 2 picture on the front plane in 2D: four cells in its colours.
    RecordingChart cells(200, 100);
    vcl::TBitmap picture(2, 2);
    picture.Handle()->SetPixel(0, 0, gdi::RGB(1, 0, 0));
    picture.Handle()->SetPixel(1, 0, gdi::RGB(2, 0, 0));
    picture.Handle()->SetPixel(0, 1, gdi::RGB(3, 0, 0));
    picture.Handle()->SetPixel(1, 1, gdi::RGB(4, 0, 0));
    cells.canvas.DrawBitmapCells({10, 10, 30, 31}, &picture, 2, 0);
    const auto quads = cells.Of(gdi::RecordOp::Polygon);
    ASSERT_EQ(quads.size(), 4u);
    EXPECT_EQ(quads[0].Points, (std::vector<gdi::POINT>{{10, 10}, {20, 10}, {20, 20}, {10, 20}}));
    EXPECT_EQ(quads[3].Points, (std::vector<gdi::POINT>{{20, 20}, {30, 20}, {30, 31}, {20, 31}}));
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(quads[i].State.DCBrushColor, gdi::RGB(static_cast<int>(i) + 1, 0, 0));
        EXPECT_TRUE(quads[i].State.Brush->IsDCBrush());
        EXPECT_TRUE(quads[i].State.Pen->IsNull());
    }
}

TEST(solids, round_solids_and_pyramids_show_their_front) {
    test_support::EnsureQtApplication();
    // In orthogonal 3D a cylinder shows about half its sides and its top;
    // a pyramid its front and right triangles; without height only its base.
    RecordingChart r(200, 100);
    TView3DOptions options(nullptr);
    SetUp3D(r.canvas, &r.target, &options);
    r.dc->ClearRecords();
    r.canvas.Cylinder(true, 20, 20, 60, 80, 0, 30, false);
    const auto sides = r.Of(gdi::RecordOp::Polygon);
    EXPECT_GE(sides.size(), 8u);
    EXPECT_LE(sides.size(), 11u);
    EXPECT_EQ(sides.back().Points.size(), 16u);  // the top cover, last
    r.dc->ClearRecords();
    r.canvas.Pyramid(true, 20, 20, 60, 80, 0, 30, false);
    EXPECT_EQ(r.Of(gdi::RecordOp::Polygon).size(), 2u);
    r.dc->ClearRecords();
    r.canvas.Pyramid(true, 20, 50, 60, 50, 0, 30, false);
    EXPECT_EQ(r.Of(gdi::RecordOp::Polygon).size(), 1u);
    // A cone with DarkCover: the k-th side darker by 8 k.
    r.dc->ClearRecords();
    r.canvas.Brush->SetColor(gdi::RGB(200, 200, 200));
    r.canvas.Cone(true, 20, 20, 60, 80, 0, 30, true, 0);
    bool darker = false;
    for (const auto& p : r.Of(gdi::RecordOp::Polygon)) darker |= p.State.Brush->Log().lbColor != gdi::RGB(200, 200, 200);
    EXPECT_TRUE(darker);
}

}  // namespace
