// The 3D drawing panel: the application's drawing comes after the
// background on a reset surface, then the zoom rectangle, then the end of
// the paint; repaints asked meanwhile are not made; and the panel drawn
// into a metafile.
#include "chart/engine/draw3d.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chart/drawing/plot_canvas3d.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/metafile.h"
#include "support/chart_panels.h"
#include "support/metafile_reader.h"

namespace {

using chart::engine::TDraw3D;
using test_support::PixelAt;

struct Panel : TDraw3D {
    Panel() : TDraw3D((vcl::EnsureApplication(), nullptr)) {
        SetBounds(0, 0, 200, 100);
        SetBevelOuter(vcl::TBevelCut::bvNone);
        SetColor(vcl::clYellow);
        Shadow().SetVisible(false);
    }
};

TEST(draw3d, the_application_draws_after_the_background_then_the_zoom_rectangle_then_the_end) {
    Panel panel;
    std::vector<std::string> steps;
    vcl::TRect painted;
    panel.OnPaint = [&](vcl::TComponent* sender, const vcl::TRect& r) {
        EXPECT_EQ(sender, &panel);
        painted = r;
        chart::TCanvas3D& c = *panel.Canvas();
        // The background is there, the surface as reset leaves it.
        EXPECT_EQ(c.GetPixel(100, 50), vcl::clYellow);
        EXPECT_EQ(c.Pen->Color(), vcl::clBlack);
        EXPECT_EQ(c.Pen->Width(), 1);
        EXPECT_EQ(c.Brush->Color(), vcl::clWhite);
        EXPECT_EQ(c.GetBackMode(), gdi::TRANSPARENT);
        EXPECT_FALSE(panel.AutoRepaint);
        steps.push_back("paint");
        // Drawing over the zoom's area, with a pen of its own.
        c.Brush->SetColor(vcl::clBlue);
        c.Pen->SetColor(vcl::clRed);
        c.Pen->SetWidth(5);
        c.FillRect({0, 0, 200, 100});
        panel.SetMarginLeft(20);  // a setting changed while drawing: no new paint
    };
    panel.OnAfterDraw = [&](vcl::TComponent*) {
        chart::TCanvas3D& c = *panel.Canvas();
        EXPECT_EQ(c.Pen->Color(), vcl::clBlack);
        EXPECT_EQ(c.Pen->Width(), 1);
        steps.push_back("after");
    };
    panel.Zoom().Activate(20, 20);
    panel.Zoom().X1 = 80;
    panel.Zoom().Y1 = 60;

    const auto bitmap = panel.CreateBitmap();
    EXPECT_EQ(steps, (std::vector<std::string>{"paint", "after"}));
    EXPECT_EQ(painted, (vcl::TRect{0, 0, 200, 100}));
    EXPECT_TRUE(panel.AutoRepaint);
    // The zoom rectangle lies over the application's drawing.
    EXPECT_EQ(PixelAt(*bitmap, 50, 50), vcl::ColorToRGB(vcl::clBlue));
    EXPECT_NE(PixelAt(*bitmap, 20, 40), vcl::ColorToRGB(vcl::clBlue));
    EXPECT_NE(PixelAt(*bitmap, 50, 20), vcl::ColorToRGB(vcl::clBlue));

    // A handler that raises leaves repaints on.
    panel.OnPaint = [](vcl::TComponent*, const vcl::TRect&) { throw std::runtime_error("drawing failed"); };
    EXPECT_THROW(panel.CreateBitmap(), std::runtime_error);
    EXPECT_TRUE(panel.AutoRepaint);
}

TEST(draw3d, a_panel_drawn_into_a_metafile_is_its_drawing_at_its_size) {
    Panel panel;
    bool metafiling = false;
    panel.OnPaint = [&](vcl::TComponent*, const vcl::TRect&) {
        chart::TCanvas3D& c = *panel.Canvas();
        metafiling = c.Metafiling;
        c.Pen->SetColor(vcl::clRed);
        c.Line(10, 10, 190, 90);
    };
    const auto emf = panel.CreateMetafile(true, {0, 0, 200, 100});
    EXPECT_TRUE(metafiling);
    EXPECT_FALSE(panel.Canvas()->Metafiling);
    EXPECT_EQ(emf->Width(), 200);
    EXPECT_EQ(emf->Height(), 100);
    EXPECT_TRUE(emf->Enhanced());
    const auto file = test_support::ReadEmf(emf->FileBytes());
    EXPECT_EQ(file.bounds, (test_support::EmfFile::Rect{0, 0, 199, 99}));
    const auto lines = file.Of(54);  // the line's end
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].I32(8), 190);
    // A Windows metafile of an empty rectangle is one pixel of it.
    const auto wmf = panel.CreateMetafile(false, {0, 0, 0, 0});
    EXPECT_FALSE(wmf->Enhanced());
    EXPECT_EQ(wmf->Width(), 1);
    EXPECT_EQ(wmf->Height(), 1);
    const auto placeable = test_support::ReadWmf(wmf->FileBytes());
    EXPECT_EQ(placeable.right - placeable.left, 1);
    EXPECT_EQ(placeable.bottom - placeable.top, 1);
    // The drawing is all there, cut to that pixel only when played.
    const auto ends = placeable.Of(0x0213);  // META_LINETO: y, then x
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].Param(0), 90);
    EXPECT_EQ(ends[0].Param(1), 190);
}

}  // namespace
