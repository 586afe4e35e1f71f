// The smoothing surface, painting as a chart paints (into its off-screen
// bitmap) beside the plain surface: straight lines exactly as plain, other
// lines and curves as pairs of blended pixels only where the shape is,
// dashes, wide lines, filled shapes with smoothed outlines, degenerate
// shapes, lines far beyond the bitmap, the clip, the two ways of reaching
// the pixels, and every paint that must stay plain.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <numbers>
#include <set>

#include "chart/drawing/plot_antialias.h"
#include "chart/drawing/projection_math.h"
#include "platform/gdi/metafile.h"
#include "support/gdi_surface.h"
#include "support/png_file.h"
#include "support/qt_app.h"

namespace {

using namespace chart;
using test_support::PixelsOf;

constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);
constexpr gdi::COLORREF kBlack = gdi::RGB(0, 0, 0);
constexpr gdi::COLORREF kBlue = gdi::RGB(0, 0, 255);

// A surface painting into its off-screen bitmap of Width x Height, white,
// with a black one-pixel solid pen; the bitmap shows on Window.
template <class Canvas>
struct Paint {
    vcl::TBitmap window;
    Canvas canvas;
    Paint(int Width, int Height) : window(Width, Height) {
        canvas.InitWindow(&window.Canvas(), nullptr, vcl::clWhite, false, {0, 0, Width, Height});
        canvas.Projection(0, {0, 0, Width, Height});
        canvas.Brush->SetColor(vcl::clWhite);
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
        canvas.FillRect({0, 0, Width, Height});
        canvas.Pen->SetColor(vcl::clBlack);
        canvas.Pen->SetWidth(1);
        canvas.Pen->SetStyle(vcl::TPenStyle::psSolid);
    }
    vcl::TBitmap& Image() { return *canvas.Bitmap(); }
    gdi::COLORREF At(int x, int y) { return Image().Handle()->GetPixel(x, y); }
    std::vector<gdi::COLORREF> Pixels() { return PixelsOf(*Image().Handle()); }
    // The pixels that are not white.
    std::set<std::pair<int, int>> Ink() { return test_support::InkOf(*Image().Handle()); }
};
using Smooth = Paint<TAntiAliasCanvas>;
using Plain = Paint<TPlotCanvas3D>;

// How much of the colour a grey pixel holds (0 white .. 1 black).
double Coverage(gdi::COLORREF c) { return (255.0 - (c & 0xFF)) / 255.0; }
bool Grey(gdi::COLORREF c) { return c != kWhite && c != kBlack; }

// Every inked pixel lies within Slack pixels of the segment P0-P1.
void ExpectNearSegment(const std::set<std::pair<int, int>>& ink, double x0, double y0, double x1, double y1,
                       double slack) {
    const double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    for (auto [x, y] : ink) {
        const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / len2, 0.0, 1.0);
        const double d = std::hypot(x - (x0 + t * dx), y - (y0 + t * dy));
        EXPECT_LE(d, slack) << "pixel " << x << "," << y;
    }
}

TEST(antialias_canvas, straight_lines_stay_plain_and_others_become_pairs_of_blended_pixels) {
    test_support::EnsureQtApplication();
    Smooth s(120, 90);
    Plain p(120, 90);
    ASSERT_TRUE(s.canvas.Smoothing());
    // Horizontal and vertical lines, of any width and style, are the plain ones.
    for (auto* c : std::initializer_list<TPlotCanvas3D*>{&s.canvas, &p.canvas}) {
        c->Line(5, 5, 100, 5);
        c->Line(7, 10, 7, 80);
        c->Pen->SetWidth(3);
        c->Line(20, 20, 110, 20);
        c->Pen->SetStyle(vcl::TPenStyle::psDash);
        c->Pen->SetWidth(1);
        c->Line(30, 85, 30, 30);
    }
    EXPECT_EQ(s.Pixels(), p.Pixels());

    // A flat diagonal: both ends full, between them each column holds a pair
    // of pixels whose coverages add up to one, on the line.
    Smooth d(120, 90);
    d.canvas.Line(10, 20, 90, 50);
    EXPECT_EQ(d.At(10, 20), kBlack);
    EXPECT_EQ(d.At(90, 50), kBlack);
    ExpectNearSegment(d.Ink(), 10, 20, 90, 50, 1.5);
    int greys = 0;
    for (int x = 11; x < 90; ++x) {
        double sum = 0;
        for (int y = 0; y < 90; ++y) {
            sum += Coverage(d.At(x, y));
            greys += Grey(d.At(x, y));
        }
        EXPECT_NEAR(sum, 1.0, 0.01) << "column " << x;
    }
    EXPECT_GT(greys, 60);
    // Drawn from the other end: the same pixels.
    Smooth back(120, 90);
    back.canvas.Line(90, 50, 10, 20);
    EXPECT_EQ(back.Pixels(), d.Pixels());
    // The current point is the line's end: a polyline goes on from there.
    EXPECT_EQ(d.canvas.GetHandle()->GetCurrentPositionEx().x, 90);

    // A steep one the same way, across rows.
    Smooth st(120, 90);
    st.canvas.Line(60, 5, 40, 85);
    for (int y = 6; y < 85; ++y) {
        double sum = 0;
        for (int x = 0; x < 120; ++x) sum += Coverage(st.At(x, y));
        EXPECT_NEAR(sum, 1.0, 0.01) << "row " << y;
    }
    ExpectNearSegment(st.Ink(), 60, 5, 40, 85, 1.5);
}

TEST(antialias_canvas, dashes_leave_their_steps_blank_and_wide_lines_keep_their_place) {
    test_support::EnsureQtApplication();
    // psDash: one step in four blank, at the same steps along the walk.
    Smooth d(120, 90);
    d.canvas.Pen->SetStyle(vcl::TPenStyle::psDash);
    d.canvas.Line(4, 10, 100, 60);
    std::set<int> blank;
    for (int x = 5; x < 100; ++x) {
        bool inked = false;
        for (int y = 0; y < 90; ++y) inked |= d.At(x, y) != kWhite;
        if (!inked) blank.insert(x);
    }
    for (int x = 5; x < 100; ++x) EXPECT_EQ(blank.count(x) == 1, x % 4 == 3) << "column " << x;
    // psDot: two on, two off.
    Smooth dot(120, 90);
    dot.canvas.Pen->SetStyle(vcl::TPenStyle::psDot);
    dot.canvas.Line(60, 2, 20, 88);
    for (int y = 3; y < 88; ++y) {
        bool inked = false;
        for (int x = 0; x < 120; ++x) inked |= dot.At(x, y) != kWhite;
        EXPECT_EQ(inked, y % 4 < 2) << "row " << y;
    }

    // Width 3: three lines side by side, the middle one plain (full colour),
    // the outer two smoothed.
    Smooth w(120, 90);
    w.canvas.Pen->SetWidth(3);
    w.canvas.Pen->SetColor(vcl::clBlue);
    w.canvas.Line(10, 30, 100, 60);
    EXPECT_EQ(w.canvas.Pen->Width(), 3);
    Plain middle(120, 90);
    middle.canvas.Line(10, 30, 100, 60);
    int full = 0;
    for (auto [x, y] : middle.Ink()) full += w.At(x, y) == kBlue;
    EXPECT_GE(full, static_cast<int>(middle.Ink().size()) - 2);
    ExpectNearSegment(w.Ink(), 10, 30, 100, 60, 2.6);
    // A wide smoothed polyline of many segments stays where its points are:
    // each segment starts where the last one ended.
    Smooth poly(200, 120);
    poly.canvas.Pen->SetWidth(3);
    std::vector<TPoint> zigzag;
    for (int i = 0; i < 40; ++i) zigzag.push_back({10 + i * 4, i % 2 ? 30 : 90});
    poly.canvas.Polyline(zigzag);
    EXPECT_EQ(poly.canvas.GetHandle()->GetCurrentPositionEx().x, zigzag.back().X);
    EXPECT_EQ(poly.canvas.GetHandle()->GetCurrentPositionEx().y, zigzag.back().Y);
    for (auto [x, y] : poly.Ink()) {
        EXPECT_GE(x, 7);
        EXPECT_LE(x, 169);
        EXPECT_GE(y, 27);
        EXPECT_LE(y, 93);
    }
    // Widths below one draw one pixel, as the plain pen does.
    Smooth thin(120, 90), negative(120, 90);
    thin.canvas.Line(10, 20, 90, 50);
    negative.canvas.Pen->SetWidth(-5);
    negative.canvas.Line(10, 20, 90, 50);
    EXPECT_EQ(negative.Pixels(), thin.Pixels());
}

TEST(antialias_canvas, lines_far_beyond_the_bitmap_draw_only_what_shows_and_the_same_pixels) {
    test_support::EnsureQtApplication();
    // Moved by a whole number of pixels, a line keeps its pixels: a line
    // that starts and ends outside the bitmap shows exactly the part of the
    // same line drawn whole in a larger bitmap.
    Smooth cut(100, 80), whole(400, 300);
    cut.canvas.Line(-130, -40, 210, 130);
    whole.canvas.Line(-130 + 150, -40 + 110, 210 + 150, 130 + 110);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(cut.At(x, y), whole.At(x + 150, y + 110)) << x << "," << y;
    EXPECT_GT(cut.Ink().size(), 100u);
    // A line leaving through an edge paints nothing along that edge.
    Smooth edge(100, 80);
    edge.canvas.Line(10, 50, 300, -200);
    ExpectNearSegment(edge.Ink(), 10, 50, 300, -200, 1.5);

    // From one end of the chart's pixel range to the other: it ends, and
    // what shows is the line through the bitmap.
    Smooth far(200, 100);
    far.canvas.Line(-kPixelLimit, -kPixelLimit / 1000, kPixelLimit, kPixelLimit / 1000 + 100);
    const double y0 = -kPixelLimit / 1000.0, y1 = kPixelLimit / 1000.0 + 100;
    const auto ink = far.Ink();
    ASSERT_GE(ink.size(), 200u);
    ExpectNearSegment(ink, -kPixelLimit, y0, kPixelLimit, y1, 1.5);
    // Steep, with a wide dashed pen.
    Smooth steep(200, 100);
    steep.canvas.Pen->SetWidth(4);
    steep.canvas.Pen->SetStyle(vcl::TPenStyle::psDash);
    steep.canvas.Line(-50, -kPixelLimit, 250, kPixelLimit);
    EXPECT_FALSE(steep.Ink().empty());
    ExpectNearSegment(steep.Ink(), -50, -kPixelLimit, 250, kPixelLimit, 3.5);
}

TEST(antialias_canvas, arcs_ellipses_and_filled_shapes_smooth_their_outlines_within_their_boxes) {
    test_support::EnsureQtApplication();
    // 0 to 90 degrees: the upper right quarter, as the plain arc.
    Smooth s(120, 120);
    Plain p(120, 120);
    s.canvas.ArcByAngles(10, 10, 110, 110, 0, 90);
    p.canvas.ArcByAngles(10, 10, 110, 110, 0, 90);
    auto quarter = [](const std::set<std::pair<int, int>>& ink) {
        for (auto [x, y] : ink) {
            EXPECT_GE(x, 59);
            EXPECT_LE(y, 61);
        }
    };
    quarter(s.Ink());
    quarter(p.Ink());
    // On the circle, within a pixel of it, and blended.
    int greys = 0;
    for (auto [x, y] : s.Ink()) {
        EXPECT_NEAR(std::hypot(x - 60, y - 60), 50.0, 1.5);
        greys += Grey(s.At(x, y));
    }
    EXPECT_GT(greys, 40);
    EXPECT_EQ(s.At(110, 60), kBlack);  // the arc starts on the right
    // 270 through 360 on to 45 wraps: the lower right quarter and more.
    Smooth wrap(120, 120);
    wrap.canvas.ArcByAngles(10, 10, 110, 110, 270, 45);
    for (auto [x, y] : wrap.Ink()) {
        EXPECT_GE(x, 59);
        EXPECT_GE(std::atan2(60.0 - y, x - 60.0), -std::numbers::pi / 2 - 0.05);
        EXPECT_LE(std::atan2(60.0 - y, x - 60.0), std::numbers::pi / 4 + 0.05);
    }
    // Arc by points on a wide ellipse ends on the rays through them.
    Smooth ray(220, 120);
    const double t = 45 * kDegreesToRadians;
    ray.canvas.Arc(10, 10, 210, 110, 110 + RoundToInt(100 * std::cos(t)), 60 - RoundToInt(50 * std::sin(t)), 110, 0);
    for (auto [x, y] : ray.Ink()) {
        EXPECT_GE(x, 109);
        EXPECT_LE(x, 182);
        EXPECT_LE(y, 26);
    }

    // An ellipse: its fill plain, its outline full and blended inside its box.
    Smooth e(120, 90);
    e.canvas.Brush->SetColor(vcl::clYellow);
    e.canvas.Ellipse(10, 10, 110, 80);
    Plain pe(120, 90);
    pe.canvas.Brush->SetColor(vcl::clYellow);
    pe.canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    pe.canvas.Ellipse(10, 10, 110, 80);
    EXPECT_EQ(e.At(60, 45), gdi::RGB(255, 255, 0));
    EXPECT_EQ(e.canvas.Pen->Style(), vcl::TPenStyle::psSolid);  // given back
    // (The outline's outer neighbours reach one pixel left of and above
    // the plain ellipse.)
    for (auto [x, y] : e.Ink()) {
        EXPECT_GE(x, 9);
        EXPECT_LT(x, 110);
        EXPECT_GE(y, 9);
        EXPECT_LT(y, 80);
    }
    int outline = 0;
    for (auto [x, y] : e.Ink()) outline += e.At(x, y) != pe.At(x, y);
    EXPECT_GT(outline, 250);
    // Without a pen a filled shape's edge is smoothed in the brush's colour;
    // with a clear brush as well, nothing at all is drawn.
    Smooth poly(120, 90);
    poly.canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    poly.canvas.Brush->SetColor(vcl::clBlue);
    const std::vector<TPoint> triangle{{10, 80}, {60, 10}, {110, 70}};
    poly.canvas.Polygon(triangle);
    std::map<gdi::COLORREF, int> shades;
    for (auto [x, y] : poly.Ink()) ++shades[poly.At(x, y)];
    for (auto [c, n] : shades)
        EXPECT_TRUE((c >> 16) == 255 && (c & 0xFF) == ((c >> 8) & 0xFF)) << std::hex << c;
    EXPECT_GT(shades.size(), 10u);  // shades of blue at the edges
    Smooth none(120, 90);
    none.canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    none.canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    none.canvas.Polygon(triangle);
    none.canvas.Ellipse(10, 10, 100, 80);
    none.canvas.RoundRect(10, 10, 100, 80, 20, 20);
    EXPECT_TRUE(none.Ink().empty());

    // Pie, rounded rectangle, donut: outlines within their boxes, the pen as it was.
    Smooth shapes(300, 120);
    TAntiAliasCanvas& c = shapes.canvas;
    c.Brush->SetColor(vcl::clSilver);
    c.Pen->SetColor(vcl::clNavy);
    c.Pie(10, 10, 90, 90, 90, 50, 50, 10);
    c.RoundRect(110, 10, 190, 90, 30, 30);
    c.Donut(250, 50, 40, 40, 0, std::numbers::pi, 50);
    EXPECT_EQ(c.Pen->Color(), vcl::clNavy);
    EXPECT_EQ(c.Pen->Style(), vcl::TPenStyle::psSolid);
    EXPECT_EQ(c.Brush->Style(), vcl::TBrushStyle::bsSolid);
    for (auto [x, y] : shapes.Ink()) {
        const bool inPie = x >= 48 && x <= 91 && y >= 9 && y <= 52;
        const bool inRound = x >= 109 && x <= 191 && y >= 9 && y <= 91;
        const bool inDonut = x >= 209 && x <= 291 && y >= 9 && y <= 51;
        EXPECT_TRUE(inPie || inRound || inDonut) << x << "," << y;
    }
    // The rounded rectangle's straight edges are full, its corners blended.
    EXPECT_EQ(shapes.At(150, 10), gdi::RGB(0, 0, 128));
    EXPECT_EQ(shapes.At(110, 50), gdi::RGB(0, 0, 128));
    int cornerGreys = 0;
    for (int y = 10; y < 25; ++y)
        for (int x = 110; x < 125; ++x)
            cornerGreys += shapes.At(x, y) != gdi::RGB(0, 0, 128) && shapes.At(x, y) != gdi::RGB(192, 192, 192) &&
                           shapes.At(x, y) != kWhite;
    EXPECT_GT(cornerGreys, 5);
    test_support::WritePngAndReadBack(shapes.Image(), "antialias_shapes.png");
}

TEST(antialias_canvas, degenerate_shapes_end_and_draw_at_most_their_box) {
    test_support::EnsureQtApplication();
    struct Case {
        const char* name;
        std::function<void(TAntiAliasCanvas&)> draw;
        vcl::TRect box;  // inclusive
    };
    const std::vector<Case> cases = {
        {"ellipse of one pixel", [](auto& c) { c.Ellipse(40, 40, 41, 41); }, {40, 40, 41, 41}},
        {"ellipse of none", [](auto& c) { c.Ellipse(40, 40, 40, 40); }, {40, 40, 40, 40}},
        {"flat ellipse", [](auto& c) { c.Ellipse(10, 40, 70, 41); }, {10, 40, 70, 41}},
        {"reversed ellipse", [](auto& c) { c.Ellipse(70, 60, 10, 20); }, {9, 19, 69, 59}},
        {"arc of radius 0", [](auto& c) { c.ArcByAngles(40, 40, 40, 40, 0, 90); }, {40, 40, 40, 40}},
        {"arc of a line", [](auto& c) { c.ArcByAngles(10, 40, 70, 40, 0, 360); }, {10, 40, 70, 40}},
        {"arc by points, radius 0", [](auto& c) { c.Arc(40, 40, 40, 40, 50, 40, 40, 30); }, {40, 40, 40, 40}},
        {"pie of radius 0", [](auto& c) { c.Pie(40, 40, 40, 40, 50, 40, 40, 30); }, {40, 40, 40, 40}},
        {"flat pie", [](auto& c) { c.Pie(10, 40, 70, 41, 70, 40, 10, 40); }, {10, 40, 70, 41}},
        {"arc of a column", [](auto& c) { c.ArcByAngles(40, 10, 40, 70, 45, 135); }, {40, 10, 40, 70}},
        {"round rectangle with corners bigger than it", [](auto& c) { c.RoundRect(10, 10, 50, 30, 200, -90); },
         {9, 9, 49, 29}},
        {"donut of radius 0", [](auto& c) { c.Donut(40, 40, 0, 0, 0, 1, 50); }, {40, 40, 40, 40}},
        {"line of no length", [](auto& c) { c.Line(40, 40, 40, 40); }, {40, 40, 40, 40}},
        {"arc of no finite angle", [](auto& c) { c.ArcByAngles(10, 10, 70, 70, NAN, INFINITY); }, {0, 0, -1, -1}},
    };
    for (const Case& k : cases) {
        Smooth s(100, 100);
        s.canvas.Brush->SetColor(vcl::clRed);
        k.draw(s.canvas);
        for (auto [x, y] : s.Ink())
            EXPECT_TRUE(x >= k.box.Left && x <= k.box.Right && y >= k.box.Top && y <= k.box.Bottom)
                << k.name << ": " << x << "," << y;
    }
}

TEST(antialias_canvas, blends_only_inside_the_clip_through_the_rows_or_pixel_by_pixel) {
    test_support::EnsureQtApplication();
    auto scene = [](TAntiAliasCanvas& c) {
        c.Line(0, 0, 99, 30);
        c.Line(3, 79, 0, 10);
        c.Pen->SetColor(vcl::clRed);
        c.ArcByAngles(10, 10, 90, 70, 30, 300);
        c.Brush->SetColor(vcl::clLime);
        c.Ellipse(40, 20, 95, 75);
    };
    // Through the off-screen bitmap's rows.
    Smooth rows(100, 80);
    scene(rows.canvas);
    // The same surface drawing onto another bitmap, pixel by pixel (as when
    // a tool draws on the window after the paint).
    Smooth direct(100, 80);
    direct.canvas.ShowImage(&direct.window.Canvas(), &direct.window.Canvas(), {0, 0, 100, 80});
    ASSERT_TRUE(direct.canvas.Smoothing());
    direct.window.Handle()->Fill(kWhite);
    scene(direct.canvas);
    EXPECT_EQ(PixelsOf(*direct.window.Handle()), rows.Pixels());
    // The first row and column blend as every other.
    EXPECT_TRUE(Grey(rows.At(0, 12)));
    EXPECT_TRUE(Grey(rows.At(1, 0)));

    // A rectangular clip and an elliptic one: nothing outside changes.
    for (bool ellipse : {false, true}) {
        Smooth clipped(100, 80);
        if (ellipse) clipped.canvas.ClipEllipse({20, 10, 80, 70}, false);
        else clipped.canvas.ClipRectangle({20, 10, 80, 70});
        scene(clipped.canvas);
        clipped.canvas.UnClipRectangle();
        int inside = 0;
        for (auto [x, y] : clipped.Ink()) {
            const bool in = ellipse ? std::hypot((x + 0.5 - 50) / 30, (y + 0.5 - 40) / 30) <= 1.05
                                    : x >= 20 && x < 80 && y >= 10 && y < 70;
            EXPECT_TRUE(in) << x << "," << y;
            inside += clipped.At(x, y) == rows.At(x, y);
        }
        EXPECT_GT(inside, 100);
    }
}

TEST(antialias_canvas, draws_plainly_into_metafiles_unbuffered_switched_off_and_for_gradients) {
    test_support::EnsureQtApplication();
    auto scene = [](TPlotCanvas3D& c) {
        c.Line(5, 5, 90, 60);
        c.Pen->SetWidth(2);
        c.Line(90, 5, 10, 70);
        c.Pen->SetWidth(1);
        c.Brush->SetColor(vcl::clAqua);
        c.Ellipse(20, 20, 70, 60);
        c.Pie(50, 10, 95, 55, 95, 30, 60, 10);
        c.RoundRect(5, 40, 45, 75, 12, 12);
        const std::vector<TPoint> poly{{10, 10}, {40, 5}, {30, 35}};
        c.Polygon(poly);
        c.Polyline(poly);
        c.ArcByAngles(10, 10, 90, 70, 10, 200);
        c.Donut(50, 40, 30, 25, 0.5, 2.5, 40);
        c.GradientFill({0, 60, 100, 80}, vcl::clRed, vcl::clBlue, gdDiagonalUp, 50, 0, 0);
    };
    Plain plain(100, 80);
    scene(plain.canvas);

    // Buffered, but metafiling or switched off: the plain pixels.
    for (int mode = 0; mode < 2; ++mode) {
        vcl::TBitmap window(100, 80);
        TAntiAliasCanvas c;
        if (mode == 0) c.Metafiling = true;
        else c.SetDisabled(true);
        c.InitWindow(&window.Canvas(), nullptr, vcl::clWhite, false, {0, 0, 100, 80});
        EXPECT_FALSE(c.Smoothing());
        c.Projection(0, {0, 0, 100, 80});
        c.Brush->SetColor(vcl::clWhite);
        c.FillRect({0, 0, 100, 80});
        c.Pen->SetColor(vcl::clBlack);
        scene(c);
        EXPECT_EQ(PixelsOf(*c.Bitmap()->Handle()), plain.Pixels()) << mode;
    }
    // Unbuffered, into a recording context: the plain calls.
    auto record = [&](TPlotCanvas3D& c) {
        auto dc = gdi::DC::CreateRecordingDC(100, 80);
        vcl::TCanvas target;
        target.SetHandle(dc.get());
        c.SetBufferedDisplay(false);
        c.InitWindow(&target, nullptr, vcl::clWhite, false, {0, 0, 100, 80});
        c.Projection(0, {0, 0, 100, 80});
        scene(c);
        std::vector<std::string> names;
        for (const gdi::Record& r : dc->Records()) names.push_back(gdi::RecordOpName(r.Op));
        return names;
    };
    TPlotCanvas3D plainRecorded;
    TAntiAliasCanvas smoothRecorded;
    const auto expected = record(plainRecorded);
    EXPECT_EQ(record(smoothRecorded), expected);
    EXPECT_FALSE(smoothRecorded.Smoothing());
    // Buffered again: smoothing comes back at the next paint, and a gradient
    // stays plain.
    vcl::TBitmap window(100, 80);
    smoothRecorded.SetBufferedDisplay(true);
    smoothRecorded.InitWindow(&window.Canvas(), nullptr, vcl::clWhite, false, {0, 0, 100, 80});
    EXPECT_TRUE(smoothRecorded.Smoothing());
    Smooth g(100, 80);
    Plain pg(100, 80);
    g.canvas.GradientFill({0, 0, 100, 80}, vcl::clRed, vcl::clBlue, gdDiagonalDown, 50, 0, 0);
    pg.canvas.GradientFill({0, 0, 100, 80}, vcl::clRed, vcl::clBlue, gdDiagonalDown, 50, 0, 0);
    EXPECT_EQ(g.Pixels(), pg.Pixels());
    // XOR lines stay plain, so that drawing them twice erases them.
    Smooth x(100, 80);
    const auto before = x.Pixels();
    x.canvas.Pen->SetMode(vcl::TPenMode::pmNotXor);
    x.canvas.Line(5, 5, 90, 60);
    EXPECT_NE(x.Pixels(), before);
    x.canvas.Line(5, 5, 90, 60);
    EXPECT_EQ(x.Pixels(), before);
}

}  // namespace
