// Framed shapes on a chart panel: what a shape draws and in which order,
// what it leaves out, its shadow, gradient and transparency, and the
// margins of its text.
#include "chart/engine/plot_shape.h"

#include <gtest/gtest.h>

#include "chart/drawing/pixel_filters.h"
#include "chart/engine/margins.h"
#include "support/chart_panels.h"
#include "support/gdi_surface.h"

namespace {

using chart::engine::TMargins;
using chart::engine::TPlotShape;
using test_support::BackgroundPanel;
using test_support::PixelAt;

constexpr gdi::COLORREF kWhite = 0xFFFFFF;

// A white panel of 100 x 80 that draws a shape after its background.
struct ShapePanel : BackgroundPanel {
    TPlotShape shape{this};
    vcl::TRect at{10, 10, 50, 40};
    int angle = 0;
    ShapePanel() {
        MakePlain(100, 80, vcl::clWhite);
        shape.Shadow().SetVisible(false);
        Extra = [this](BackgroundPanel&, const vcl::TRect&) {
            shape.DrawRectRotated(at, angle, 0);
        };
    }
};

int CountOf(const std::vector<gdi::Record>& records, gdi::RecordOp op) {
    return static_cast<int>(test_support::RecordsOf(records, op).size());
}

std::unique_ptr<gdi::Record> Last(const std::vector<gdi::Record>& records, gdi::RecordOp op) {
    auto found = test_support::RecordsOf(records, op);
    if (found.empty()) return nullptr;
    return std::make_unique<gdi::Record>(found.back());
}

TEST(plot_shape, defaults_and_bounds) {
    TPlotShape shape;
    EXPECT_EQ(shape.Bevel(), vcl::TBevelCut::bvNone);
    EXPECT_EQ(shape.BevelWidth(), 2);
    EXPECT_EQ(shape.Color(), vcl::clWhite);
    EXPECT_EQ(shape.RoundSize(), 16);
    EXPECT_EQ(shape.ShapeStyle(), chart::engine::fosRectangle);
    EXPECT_EQ(shape.Transparency(), 0);
    EXPECT_FALSE(shape.Transparent());
    EXPECT_TRUE(shape.Visible());
    EXPECT_EQ(shape.Shadow().Color(), vcl::clBlack);
    EXPECT_EQ(shape.Shadow().HorizSize(), 3);
    EXPECT_EQ(shape.Shadow().VertSize(), 3);
    EXPECT_FALSE(shape.Shadow().IsHorizSizeStored());
    EXPECT_EQ(shape.GradientIfAny(), nullptr);
    EXPECT_EQ(shape.PictureIfAny(), nullptr);

    shape.ShapeBounds = {5, 5, 5, 5};
    shape.SetWidth(10);
    shape.SetHeight(3);
    EXPECT_EQ(shape.ShapeBounds, (vcl::TRect{5, 5, 14, 7}));
    EXPECT_EQ(shape.Width(), 10);
    EXPECT_EQ(shape.Height(), 3);
    shape.SetTransparency(150);
    EXPECT_EQ(shape.Transparency(), 100);
    shape.SetBevelWidth(0);
    EXPECT_EQ(shape.BevelWidth(), 1);
}

TEST(plot_shape, fill_frame_and_outline_by_style) {
    ShapePanel panel;
    panel.shape.SetColor(vcl::clRed);
    auto image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 30, 25), 0x0000FFu);
    EXPECT_EQ(PixelAt(*image, 10, 10), 0u);
    EXPECT_EQ(PixelAt(*image, 49, 39), 0u);
    EXPECT_EQ(PixelAt(*image, 50, 40), kWhite);

    // A hidden frame leaves only the fill; a clear brush only the frame.
    panel.shape.Frame().SetVisible(false);
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 11, 25), 0x0000FFu);
    panel.shape.Frame().SetVisible(true);
    panel.shape.Brush().SetStyle(vcl::TBrushStyle::bsClear);
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 30, 25), kWhite);
    EXPECT_EQ(PixelAt(*image, 10, 25), 0u);
    panel.shape.Brush().SetStyle(vcl::TBrushStyle::bsSolid);

    panel.shape.SetShapeStyle(chart::engine::fosEllipse);
    auto records = panel.Record();
    ASSERT_NE(Last(records, gdi::RecordOp::Ellipse), nullptr);
    EXPECT_EQ(Last(records, gdi::RecordOp::Ellipse)->Args, (std::vector<int>{10, 10, 50, 40}));
    panel.shape.SetShapeStyle(chart::engine::fosRoundRectangle);
    panel.shape.SetRoundSize(8);
    records = panel.Record();
    ASSERT_NE(Last(records, gdi::RecordOp::RoundRect), nullptr);
    EXPECT_EQ(Last(records, gdi::RecordOp::RoundRect)->Args,
              (std::vector<int>{10, 10, 50, 40, 8, 8}));
    image = panel.Render();
    // The corner is cut off along an 8 x 8 ellipse's outline.
    EXPECT_EQ(PixelAt(*image, 10, 10), kWhite);
    EXPECT_EQ(PixelAt(*image, 11, 10), kWhite);
    EXPECT_EQ(PixelAt(*image, 10, 11), kWhite);
    EXPECT_EQ(PixelAt(*image, 11, 11), 0u);
    EXPECT_EQ(PixelAt(*image, 12, 12), 0x0000FFu);
    EXPECT_EQ(PixelAt(*image, 30, 25), 0x0000FFu);
}

TEST(plot_shape, bevel_inside_unless_rotated) {
    ShapePanel panel;
    panel.shape.SetBevel(vcl::TBevelCut::bvRaised);
    panel.shape.Frame().SetVisible(false);
    auto image = panel.Render();
    const gdi::COLORREF light = vcl::ColorToRGB(vcl::clBtnHighlight),
                        dark = vcl::ColorToRGB(vcl::clBtnShadow);
    EXPECT_EQ(PixelAt(*image, 11, 11), light);
    EXPECT_EQ(PixelAt(*image, 48, 38), dark);
    EXPECT_EQ(CountOf(panel.Record(), gdi::RecordOp::Polyline), 4);  // two lines, two wide

    // Turned by 90 degrees about its centre (30, 25): no bevel, and the box
    // is now 30 wide and 40 high.
    panel.angle = 90;
    auto records = panel.Record();
    EXPECT_EQ(CountOf(records, gdi::RecordOp::Polyline), 0);
    const auto polygon = Last(records, gdi::RecordOp::Polygon);
    ASSERT_NE(polygon, nullptr);
    const std::vector<gdi::POINT> expected = {{15, 45}, {15, 5}, {45, 5}, {45, 45}};
    ASSERT_EQ(polygon->Points.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(polygon->Points[i].x, expected[i].x);
        EXPECT_EQ(polygon->Points[i].y, expected[i].y);
    }
}

TEST(plot_shape, a_transparent_shape_draws_nothing_at_all) {
    ShapePanel panel;
    ASSERT_LT(test_support::CountPixels(*panel.Render()->Handle(), kWhite), 100 * 80);
    panel.shape.SetTransparent(true);
    panel.shape.Shadow().SetVisible(true);  // would raise if anything were drawn
    panel.shape.SetBevel(vcl::TBevelCut::bvLowered);
    const auto after = panel.Render();
    EXPECT_EQ(test_support::CountPixels(*after->Handle(), kWhite), 100 * 80);
    EXPECT_EQ(CountOf(panel.Record(), gdi::RecordOp::Rectangle), 0);
}

TEST(plot_shape, a_picture_fills_the_box_and_wins_over_the_gradient) {
    ShapePanel panel;
    vcl::TBitmap blue(4, 4);
    blue.Canvas().Brush.SetColor(vcl::clBlue);
    blue.Canvas().FillRect({0, 0, 4, 4});
    panel.shape.Picture().SetGraphic(&blue);
    panel.shape.Gradient().SetVisible(true);  // the picture wins: no gradient is drawn
    auto image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 30, 25), 0xFF0000u);
    EXPECT_EQ(PixelAt(*image, 10, 25), 0u);  // the frame is drawn over it

    // Clipped to an ellipse: the corners of the box stay white.
    panel.shape.SetShapeStyle(chart::engine::fosEllipse);
    panel.shape.Frame().SetVisible(false);
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 11, 11), kWhite);
    EXPECT_EQ(PixelAt(*image, 30, 25), 0xFF0000u);
}

TEST(plot_shape, shadow_gradient_and_transparency) {
    // The shadow (black, 3 by 3) right of and below the box, soft at its edge.
    ShapePanel panel;
    panel.shape.Shadow().SetVisible(true);
    auto image = panel.Render();
    EXPECT_LT(PixelAt(*image, 51, 25) & 0xFF, 0x80u);
    EXPECT_LT(PixelAt(*image, 30, 41) & 0xFF, 0x80u);
    EXPECT_EQ(PixelAt(*image, 8, 25), kWhite);
    EXPECT_EQ(PixelAt(*image, 30, 8), kWhite);
    // No shadow under a clear brush.
    panel.shape.Brush().SetStyle(vcl::TBrushStyle::bsClear);
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 51, 25), kWhite);
    panel.shape.Shadow().SetVisible(false);
    panel.shape.Brush().SetStyle(vcl::TBrushStyle::bsSolid);
    // A gradient fills the box (inside its frame): from white at the bottom
    // to yellow at the top.
    panel.shape.Gradient().SetVisible(true);
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 30, 11) & 0xFFFFu, 0xFFFFu);
    EXPECT_LT(PixelAt(*image, 30, 11) >> 16, 20u);
    EXPECT_GT(PixelAt(*image, 30, 38) >> 16, 235u);
    panel.shape.SetGradient(nullptr);
    // Half transparent: the black frame shows half over the white behind.
    panel.shape.SetTransparency(50);
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 10, 25), 0x808080u);
    // The filters of a picture without an image work on what shows through:
    // wholly transparent, the box shows the white behind it inverted.
    panel.shape.SetTransparency(100);
    panel.shape.Picture().Filters().Add<chart::TInvertFilter>();
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 30, 25), 0u);
    EXPECT_EQ(PixelAt(*image, 10, 25), 0u);
    EXPECT_EQ(PixelAt(*image, 60, 25), kWhite);
    // With no transparency there is nothing to show through.
    panel.shape.SetTransparency(0);
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 30, 25), kWhite);
}

TEST(plot_shape, setters_repaint_the_chart_on_change_only_and_assign_copies_everything) {
    ShapePanel panel;
    TPlotShape& shape = panel.shape;
    const int before = panel.Invalidations;
    shape.SetColor(vcl::clWhite);
    shape.SetRoundSize(16);
    shape.SetVisible(true);
    EXPECT_EQ(panel.Invalidations, before);
    shape.SetColor(vcl::clYellow);
    shape.Frame().SetColor(vcl::clRed);
    shape.Font().SetSize(12);
    shape.SetVisible(false);
    EXPECT_EQ(panel.Invalidations, before + 4);

    TPlotShape copy;
    shape.SetBevel(vcl::TBevelCut::bvLowered);
    shape.SetShapeStyle(chart::engine::fosEllipse);
    shape.SetTransparency(20);
    shape.Gradient().SetStartColor(vcl::clLime);
    shape.Shadow().SetHorizSize(5);
    copy.Assign(shape);
    EXPECT_EQ(copy.Color(), vcl::clYellow);
    EXPECT_EQ(copy.Frame().Color(), vcl::clRed);
    EXPECT_EQ(copy.Font().Size(), 12);
    EXPECT_FALSE(copy.Visible());
    EXPECT_EQ(copy.Bevel(), vcl::TBevelCut::bvLowered);
    EXPECT_EQ(copy.ShapeStyle(), chart::engine::fosEllipse);
    EXPECT_EQ(copy.Transparency(), 20);
    ASSERT_NE(copy.GradientIfAny(), nullptr);
    EXPECT_EQ(copy.GradientIfAny()->StartColor(), vcl::clLime);
    EXPECT_EQ(copy.Shadow().HorizSize(), 5);
}

TEST(plot_shape, margins_in_font_percent_size_percent_or_pixels) {
    TMargins margins;
    EXPECT_EQ(margins.Left(), 10);
    EXPECT_EQ(margins.Top(), 5);
    EXPECT_FALSE(margins.IsLeftStored());
    margins.CalcSizes(200, 100, 13);
    EXPECT_EQ(margins.LeftSize(), 3);  // 10 x 0.02 x 13 = 2.6
    EXPECT_EQ(margins.TopSize(), 1);   // 1.3
    EXPECT_EQ(margins.HorizSize(), 6);
    margins.CalcSizes(200, 100, 25);
    EXPECT_EQ(margins.TopSize(), 2);  // 2.5, halves to even
    margins.SetUnits(chart::engine::maPercentSize);
    margins.CalcSizes(200, 100, 13);
    EXPECT_EQ(margins.LeftSize(), 20);
    EXPECT_EQ(margins.BottomSize(), 5);
    margins.SetUnits(chart::engine::maPixels);
    margins.SetRight(INT_MAX);
    margins.CalcSizes(0, 0, 0);
    EXPECT_EQ(margins.VertSize(), 10);
    EXPECT_EQ(margins.HorizSize(), INT_MAX);

    // A change repaints the shape's chart.
    ShapePanel panel;
    TMargins owned(&panel.shape);
    const int before = panel.Invalidations;
    owned.SetLeft(10);
    owned.SetLeft(11);
    EXPECT_EQ(panel.Invalidations, before + 1);
}

}  // namespace
