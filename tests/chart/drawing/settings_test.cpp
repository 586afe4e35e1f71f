// The chart's settings objects: every change told to the owner once, none
// for equal values, lazily made parts, Assign and the stored defaults.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "chart/drawing/plot_filters.h"
#include "chart/drawing/plot_font.h"
#include "chart/drawing/plot_gradient.h"
#include "chart/drawing/plot_pens.h"
#include "chart/drawing/plot_shadow.h"
#include "chart/drawing/view3d_options.h"
#include "support/qt_app.h"

namespace {

using namespace chart;

// Collects the senders of change events.
struct Changes {
    std::vector<vcl::TPersistent*> senders;
    TNotifyEvent Event() {
        return [this](vcl::TPersistent* s) { senders.push_back(s); };
    }
    std::size_t Take() {
        const std::size_t n = senders.size();
        senders.clear();
        return n;
    }
};

TEST(chart_pens, changes_are_told_once_and_equal_values_tell_nobody) {
    Changes c;
    TChartPen pen(c.Event());
    pen.SetVisible(true);
    pen.SetSmallSpace(0);
    pen.SetEndStyle(esRound);
    EXPECT_EQ(c.Take(), 0u);
    pen.SetVisible(false);
    ASSERT_EQ(c.senders.size(), 1u);
    EXPECT_EQ(c.senders[0], &pen);
    c.Take();
    pen.SetSmallDots(true);
    pen.SetSmallSpace(3);
    pen.SetEndStyle(esFlat);
    pen.SetColor(vcl::clRed);
    pen.SetWidth(4);
    EXPECT_EQ(c.Take(), 5u);
    // Streaming tests: hidden only counts for a pen shown by default.
    EXPECT_TRUE(pen.IsVisibleStored());
    EXPECT_TRUE(pen.IsEndStyleStored());

    // Assign: the chart settings, then the platform pen's, one change.
    TChartHiddenPen hidden(c.Event());
    EXPECT_EQ(c.Take(), 0u);  // start values tell nobody
    EXPECT_FALSE(hidden.Visible());
    EXPECT_FALSE(hidden.IsVisibleStored());
    hidden.Assign(pen);
    EXPECT_EQ(c.Take(), 1u);
    EXPECT_TRUE(hidden.SmallDots());
    EXPECT_EQ(hidden.SmallSpace(), 3);
    EXPECT_EQ(hidden.EndStyle(), esFlat);
    EXPECT_EQ(hidden.Color(), vcl::clRed);
    EXPECT_EQ(hidden.Width(), 4);
    hidden.SetVisible(true);
    EXPECT_TRUE(hidden.IsVisibleStored());
    // From a plain pen only the platform settings come over.
    vcl::TPen plain;
    plain.SetColor(vcl::clBlue);
    hidden.Assign(plain);
    EXPECT_EQ(hidden.Color(), vcl::clBlue);
    EXPECT_TRUE(hidden.SmallDots());

    TDottedGrayPen dotted;
    EXPECT_EQ(dotted.Color(), 0x808080);
    EXPECT_EQ(dotted.Style(), vcl::TPenStyle::psDot);
    EXPECT_EQ(TDarkGrayPen().Color(), 0x808080);
    TWhitePen white;
    EXPECT_EQ(white.Color(), vcl::clWhite);
    EXPECT_TRUE(white.IsVisibleStored());
    white.Hide();
    EXPECT_FALSE(white.Visible());
}

TEST(chart_brushes, the_picture_is_made_on_first_read_and_assign_takes_the_source_picture) {
    Changes c;
    TChartBrush brush(c.Event());
    EXPECT_EQ(brush.Color(), vcl::clDefault);
    EXPECT_EQ(brush.BackColor(), vcl::clNone);
    EXPECT_EQ(brush.ImageIfAny(), nullptr);
    brush.SetBackColor(vcl::clNone);
    EXPECT_EQ(c.Take(), 0u);
    brush.SetBackColor(vcl::clRed);
    EXPECT_EQ(c.Take(), 1u);
    // Loading a picture into the brush's own tells the owner.
    vcl::TPicture* image = brush.Image();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(brush.Image(), image);
    vcl::TBitmap bmp(2, 2);
    image->SetGraphic(&bmp);
    ASSERT_EQ(c.senders.size(), 1u);
    EXPECT_EQ(c.senders[0], &brush);
    c.Take();

    // A source whose picture was never read clears this brush's picture.
    TChartBrush other;
    other.SetColor(vcl::clLime);
    brush.Assign(other);
    EXPECT_EQ(brush.ImageIfAny(), nullptr);
    EXPECT_EQ(brush.Color(), vcl::clLime);
    EXPECT_EQ(brush.BackColor(), vcl::clNone);
    // A source with a picture gives a copy of it.
    other.Image()->SetGraphic(&bmp);
    brush.Assign(other);
    ASSERT_NE(brush.ImageIfAny(), nullptr);
    EXPECT_NE(brush.ImageIfAny(), other.ImageIfAny());
    EXPECT_EQ(brush.ImageIfAny()->Width(), 2);
    c.Take();
    brush.SetImage(nullptr);
    EXPECT_EQ(brush.ImageIfAny(), nullptr);
    EXPECT_EQ(c.Take(), 1u);
}

struct Panel : TView3DOwner {
    int repaints = 0;
    void Invalidate() override { ++repaints; }
};

TEST(chart_view3d, setters_repaint_the_panel_and_tell_zoom_and_scroll) {
    Panel panel;
    TView3DOptions v(&panel);
    EXPECT_EQ(v.Elevation(), 345);
    EXPECT_EQ(v.Zoom(), 100);
    EXPECT_TRUE(v.Orthogonal());
    EXPECT_EQ(v.OrthoAngle(), 45);
    v.SetPerspective(250);
    EXPECT_EQ(v.Perspective(), 100);
    v.SetPerspective(-5);
    EXPECT_EQ(v.Perspective(), -5);
    EXPECT_EQ(panel.repaints, 2);

    std::vector<int> zooms;
    v.OnChangedZoom = [&](int z) {
        zooms.push_back(z);
        EXPECT_EQ(v.ZoomFloat(), 100.0);  // told before the zoom is stored
        EXPECT_EQ(panel.repaints, 2);
    };
    v.SetZoom(100);
    EXPECT_TRUE(zooms.empty());
    v.SetZoom(150);
    EXPECT_EQ(zooms, std::vector<int>{150});
    EXPECT_EQ(v.Zoom(), 150);
    EXPECT_EQ(panel.repaints, 3);

    std::vector<bool> scrolled;
    v.OnScrolled = [&](bool horizontal) {
        scrolled.push_back(horizontal);
        EXPECT_GT(panel.repaints, 3);  // after the repaint
    };
    v.SetHorizOffset(10);
    v.SetVertOffset(10);
    v.SetVertOffset(10);
    EXPECT_EQ(scrolled, (std::vector<bool>{true, false}));

    // Angles read back rounded, halves to even.
    v.SetElevationFloat(344.5);
    EXPECT_EQ(v.Elevation(), 344);
    v.SetElevationFloat(345.5);
    EXPECT_EQ(v.Elevation(), 346);
    v.SetRotation(10);
    EXPECT_EQ(v.RotationFloat(), 10.0);

    // Assign copies every setting, silently.
    TView3DOptions copy(&panel);
    const int before = panel.repaints;
    copy.Assign(v);
    EXPECT_EQ(panel.repaints, before);
    EXPECT_EQ(copy.Zoom(), 150);
    EXPECT_EQ(copy.VertOffset(), 10);
    EXPECT_EQ(copy.ElevationFloat(), 345.5);
    vcl::TPen notOptions;
    copy.Assign(notOptions);  // anything else: nothing

    EXPECT_NEAR(v.CalcOrthoRatio(), 1.0, 1e-12);
    v.SetOrthoAngle(120);
    EXPECT_NEAR(v.CalcOrthoRatio(), std::tan(60 * 0.017453292519943295), 1e-12);
    v.SetOrthogonal(false);
    EXPECT_EQ(v.CalcOrthoRatio(), 1.0);
    TView3DOptions orphan(nullptr);
    orphan.SetTilt(5);  // no panel to repaint
    EXPECT_EQ(orphan.Tilt(), 5);
}

TEST(chart_font, defaults_lazy_effects_and_their_events) {
    test_support::EnsureQtApplication();
    Changes c;
    TPlotFont font(c.Event());
    EXPECT_EQ(font.Name(), "Arial");
    EXPECT_EQ(font.Size(), 8);
    EXPECT_EQ(font.Color(), vcl::clBlack);
    EXPECT_FALSE(font.IsNameStored());
    EXPECT_FALSE(font.IsHeightStored());
    EXPECT_FALSE(font.IsColorStored());
    EXPECT_FALSE(font.IsStyleStored());
    EXPECT_FALSE(font.IsCharsetStored());
    EXPECT_EQ(c.Take(), 0u);
    font.SetSize(10);
    EXPECT_TRUE(font.IsHeightStored());
    ASSERT_EQ(c.senders.size(), 1u);
    EXPECT_EQ(c.senders[0], &font);
    c.Take();

    // Effects exist only once read; the shadow starts silver with no size.
    EXPECT_EQ(font.ShadowIfAny(), nullptr);
    TPlotShadow* shadow = font.Shadow();
    EXPECT_EQ(shadow->Color(), 0xC0C0C0);
    EXPECT_FALSE(shadow->Valid());
    shadow->SetHorizSize(2);
    ASSERT_EQ(c.senders.size(), 1u);
    EXPECT_EQ(c.senders[0], shadow);
    c.Take();
    // The gradient's changes become the font's own change, once.
    font.Gradient()->SetStartColor(vcl::clRed);
    ASSERT_EQ(c.senders.size(), 1u);
    EXPECT_EQ(c.senders[0], &font);
    c.Take();
    font.OutLine()->SetVisible(true);
    EXPECT_EQ(c.senders.back(), font.OutLineIfAny());
    font.SetInterCharSize(2);
    font.SetInterCharSize(2);
    EXPECT_EQ(c.Take(), 2u);
    font.Picture();

    // Assigning a font without effects removes them here.
    TPlotFont plain;
    plain.SetStyle(vcl::fsBold);
    font.Assign(plain);
    EXPECT_EQ(font.PictureIfAny(), nullptr);
    EXPECT_EQ(font.ShadowIfAny(), nullptr);
    EXPECT_EQ(font.GradientIfAny(), nullptr);
    EXPECT_EQ(font.OutLineIfAny(), nullptr);
    EXPECT_EQ(font.InterCharSize(), 0);
    EXPECT_EQ(font.Style(), vcl::fsBold);
    EXPECT_EQ(font.Size(), 8);
    // And one with effects gives copies of them.
    plain.Shadow()->SetVertSize(-3);
    font.Assign(plain);
    ASSERT_NE(font.ShadowIfAny(), nullptr);
    EXPECT_NE(font.ShadowIfAny(), plain.ShadowIfAny());
    EXPECT_EQ(font.ShadowIfAny()->VertSize(), -3);
}

TEST(chart_gradient, middle_colour_sub_gradient_and_assign) {
    Changes c;
    TPlotGradient g(c.Event());
    EXPECT_EQ(g.StartColor(), 0xFFFFFF);
    EXPECT_EQ(g.EndColor(), 0x00FFFF);
    EXPECT_EQ(g.Balance(), 50);
    EXPECT_FALSE(g.Visible());
    EXPECT_EQ(g.MidColor(), vcl::clNone);
    g.SetMidColor(vcl::clNone);
    EXPECT_EQ(c.Take(), 0u);
    g.SetMidColor(vcl::clRed);
    g.SetMidColor(vcl::clRed);
    EXPECT_EQ(g.MidColor(), vcl::clRed);
    g.SetMidColor(vcl::clNone);
    EXPECT_EQ(g.MidColor(), vcl::clNone);
    EXPECT_FALSE(g.HasMidColor());
    EXPECT_EQ(c.Take(), 2u);

    // The sub-gradient shares the parent's event and starts half transparent.
    EXPECT_EQ(g.SubGradientIfAny(), nullptr);
    TSubGradient* sub = g.SubGradient();
    EXPECT_EQ(sub->Transparency(), 50);
    sub->SetTransparency(250);
    EXPECT_EQ(sub->Transparency(), 100);
    EXPECT_EQ(c.senders.back(), sub);
    c.Take();

    // Assign copies everything, fires nothing, and drops a sub-gradient the
    // source lacks.
    TPlotGradient source;
    source.SetDirection(gdRadial);
    source.SetMidColor(vcl::clBlue);
    source.SetAngle(30);
    g.Assign(source);
    EXPECT_EQ(c.Take(), 0u);
    EXPECT_EQ(g.Direction(), gdRadial);
    EXPECT_EQ(g.MidColor(), vcl::clBlue);
    EXPECT_EQ(g.Angle(), 30);
    EXPECT_EQ(g.SubGradientIfAny(), nullptr);
    source.SubGradient()->SetTransparency(20);
    g.Assign(source);
    ASSERT_NE(g.SubGradientIfAny(), nullptr);
    EXPECT_EQ(g.SubGradientIfAny()->Transparency(), 20);

    TPlotFontGradient fg(c.Event());
    fg.SetOutline(true);
    EXPECT_TRUE(fg.Outline());
    EXPECT_EQ(c.Take(), 1u);
}

TEST(chart_shadow, sizes_defaults_and_assign) {
    Changes c;
    TPlotShadow s(c.Event());
    EXPECT_TRUE(s.Smooth());
    EXPECT_TRUE(s.Visible());
    s.SetHorizSize(-7);
    s.SetVertSize(3);
    EXPECT_EQ(s.Size(), 7);
    EXPECT_TRUE(s.Valid());
    s.SetSize(4);
    EXPECT_EQ(s.HorizSize(), 4);
    EXPECT_EQ(s.VertSize(), 4);
    s.SetHorizSize(INT32_MIN);
    EXPECT_EQ(s.Size(), INT32_MAX);
    c.Take();
    // Other defaults for an owner: set silently, not streamed while kept.
    s.SetDefaults(vcl::clBlack, 3);
    EXPECT_EQ(c.Take(), 0u);
    EXPECT_EQ(s.HorizSize(), 3);
    EXPECT_FALSE(s.IsColorStored());
    EXPECT_FALSE(s.IsVertSizeStored());
    s.SetColor(vcl::clNone);
    EXPECT_FALSE(s.Valid());
    // Assign leaves the receiver's Clip alone.
    TPlotShadow other;
    other.SetClip(true);
    other.SetTransparency(40);
    s.Assign(other);
    EXPECT_FALSE(s.Clip());
    EXPECT_EQ(s.Transparency(), 40);
    EXPECT_EQ(s.Color(), 0xC0C0C0);
}

TEST(chart_filters, regions_lists_and_the_filtered_picture) {
    TFilterItems items;
    TPlotFilter& f = items.Add();
    EXPECT_EQ(f.Collection(), &items);
    EXPECT_TRUE(f.Enabled);
    EXPECT_EQ(f.RegionIfAny(), nullptr);
    vcl::TBitmap bmp(100, 50);
    EXPECT_EQ(f.ApplyRect(bmp), (TRect{0, 0, 99, 49}));
    f.Region().Left = 5;
    f.Region().Width = 10;
    EXPECT_EQ(f.ApplyRect(bmp), (TRect{5, 0, 15, 49}));
    f.Region().Width = 1000;
    f.Region().Height = 7;
    EXPECT_EQ(f.ApplyRect(bmp), (TRect{5, 0, 99, 7}));
    f.SetRegion(nullptr);
    EXPECT_EQ(f.Region().Left, 0);
    EXPECT_EQ(f.Description(), "TPlotFilter");

    // A copied list has the same classes, in order, with their settings.
    struct TOther : TPlotFilter {
        TPlotFilter& CreateLike(TFilterItems& c) const override { return c.Add<TOther>(); }
    };
    items.Add<TOther>().Enabled = false;
    TFilterItems copy;
    copy.Add();
    copy.Assign(items);
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy.Items(1).ClassName(), "TOther");
    EXPECT_FALSE(copy.Items(1).Enabled);
    EXPECT_THROW(copy.Items(2), rtl::EListError);

    // Without filters a picture hands out its graphic; with a disabled one
    // an unfiltered copy; a plain filter only makes the copy 24 bits per
    // pixel, with the same pixels.
    TPlotPicture picture;
    bmp.Handle()->SetPixel(3, 4, gdi::RGB(1, 2, 3));
    picture.SetGraphic(&bmp);
    EXPECT_EQ(picture.FilteredGraphic(), picture.Graphic());
    picture.Filters().Add().Enabled = false;
    vcl::TGraphic* filtered = picture.FilteredGraphic();
    EXPECT_NE(filtered, picture.Graphic());
    EXPECT_EQ(filtered->Width(), 100);
    picture.Filters().Add();
    auto* plain = dynamic_cast<vcl::TBitmap*>(picture.FilteredGraphic());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->PixelFormat(), vcl::TPixelFormat::pf24bit);
    EXPECT_EQ(plain->Handle()->GetPixel(3, 4), gdi::RGB(1, 2, 3));
    TPlotPicture other;
    other.Assign(picture);
    EXPECT_EQ(other.Filters().Count(), 2);
    EXPECT_EQ(other.Width(), 100);
}

}  // namespace
