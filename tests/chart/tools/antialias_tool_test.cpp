// The anti-alias tool on a real chart painted as a window paints it
// (through the off-screen bitmap): registered by its own unit, smoothing
// while it is active and switched on, the surface left with the chart that
// draws with it whichever of the two goes first, the filters over every
// finished paint, and its settings form with the filters editor over the
// chart drawn without the tool.
#include <gtest/gtest.h>

#include <QTimer>
#include <QtTest/QTest>

#include <cmath>

#include "chart/drawing/pixel_filters.h"
#include "chart/drawing/property_stream.h"
#include "chart/engine/fast_line_series.h"
#include "chart/tools/antialias_tool.h"
#include "chart/tools/filters_editor.h"
#include "platform/vcl/class_registry.h"
#include "platform/vcl/streams.h"
#include "platform/vcl/std_ctrls.h"
#include "support/gdi_surface.h"
#include "support/png_file.h"
#include "support/qt_app.h"
#include "support/recording_series.h"

namespace {

using namespace chart::tools;
using chart::TAntiAliasCanvas;
using test_support::PlainChart;

constexpr gdi::COLORREF kRed = gdi::RGB(255, 0, 0);

std::vector<gdi::COLORREF> PixelsOf(const vcl::TBitmap& b) { return test_support::PixelsOf(*b.Handle()); }

// A chart with a red zigzag and a blue fast-line wave across it, no legend needed.
struct Chart : PlainChart {
    explicit Chart(int Width = 400, int Height = 250) : PlainChart(Width, Height) {
        auto& zigzag = AddRecording();
        zigzag.SetSeriesColor(vcl::clRed);
        zigzag.Fill(21, [](int i) { return i % 2 ? 80.0 : 10.0 + i; });
        // The graph window's own kind of series, smoothed like any other.
        auto* wave = new chart::engine::TFastLineSeries(nullptr);
        wave->SetParentChart(this);
        wave->SetSeriesColor(vcl::clBlue);
        for (int i = 0; i < 60; ++i) wave->AddXY(i, 45 + 30 * std::sin(i / 6.0));
    }
    // A window paint: through the surface's off-screen bitmap.
    std::unique_ptr<vcl::TBitmap> Shown() {
        auto window = std::make_unique<vcl::TBitmap>(Width(), Height());
        Draw(&window->Canvas(), {0, 0, Width(), Height()});
        return window;
    }
};

// Pixels between pure red and white: red smoothed into the background.
int RedBlends(const vcl::TBitmap& b) {
    return test_support::CountPixels(*b.Handle(), [](gdi::COLORREF c) {
        const int r = c & 0xFF, g = (c >> 8) & 0xFF, bl = (c >> 16) & 0xFF;
        return r == 255 && g == bl && g > 0 && g < 255;
    });
}

// Whether Mixed is Color blended into Background (one weight for all three
// channels, give or take rounding).
bool BlendOf(gdi::COLORREF Background, gdi::COLORREF Mixed, gdi::COLORREF Color) {
    for (int w = 0; w <= 255; ++w) {
        bool all = true;
        for (int shift = 0; shift <= 16 && all; shift += 8) {
            const int b = (Background >> shift) & 0xFF, m = (Mixed >> shift) & 0xFF, c = (Color >> shift) & 0xFF;
            all = std::abs((b - c) * w / 255 + c - m) <= 1;
        }
        if (all) return true;
    }
    return false;
}

TAntiAliasTool* NewTool(chart::engine::TCustomAxisPanel* Chart) {
    auto* tool = new TAntiAliasTool(nullptr);
    tool->SetParentChart(Chart);
    return tool;
}

TEST(antialias_tool, is_registered_by_its_unit_with_its_texts_editor_and_stored_filters) {
    test_support::EnsureQtApplication();
    const auto cls = chart::engine::PlotToolClass<TAntiAliasTool>();
    EXPECT_GE(chart::engine::PlotToolTypesList().IndexOf(cls), 0);
    EXPECT_EQ(vcl::GetClass("TAntiAliasTool"), cls);
    ASSERT_NE(vcl::GetClass("TAntiAliasEditor"), nullptr);
    std::unique_ptr<vcl::TComponent, vcl::TComponentDeleter> made(chart::engine::CreatePlotTool(cls, nullptr));
    auto* tool = dynamic_cast<TAntiAliasTool*>(made.get());
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(tool->Description(), "Anti-Alias");
    EXPECT_EQ(tool->LongDescription(), "Improves display of diagonal and curved lines, removing zig-zag.");
    EXPECT_EQ(tool->GetEditorClassName(), "TAntiAliasEditor");
    EXPECT_TRUE(tool->Active());
    EXPECT_TRUE(tool->AntiAlias());
    EXPECT_NE(tool->Canvas(), nullptr);
    std::unique_ptr<vcl::TComponent, vcl::TComponentDeleter> editor(
        vcl::GetClass("TAntiAliasEditor")->Create(vcl::EnsureApplication()));
    EXPECT_NE(dynamic_cast<TAntiAliasEditor*>(editor.get()), nullptr);

    // The filters go into form streams only when there are some.
    vcl::TMemoryStream empty;
    chart::TWriter none(empty);
    tool->WriteFilterItems(none);
    EXPECT_FALSE(tool->FilterItemsStored());
    EXPECT_EQ(empty.Size(), 0);
    auto& blur = tool->Filters().Add<chart::TBlurFilter>();
    blur.Amount = 3;
    tool->Filters().Add<chart::TInvertFilter>().Enabled = false;
    vcl::TMemoryStream stream;
    chart::TWriter writer(stream);
    tool->WriteFilterItems(writer);
    stream.SetPosition(0);
    chart::TReader reader(stream);
    EXPECT_EQ(reader.ReadPropName(), "FilterItems");
    TAntiAliasTool other(nullptr);
    other.ReadFilterItems(reader);
    ASSERT_EQ(other.Filters().Count(), 2);
    EXPECT_EQ(dynamic_cast<chart::TBlurFilter&>(other.Filters().Items(0)).Amount, 3);
    EXPECT_FALSE(other.Filters().Items(1).Enabled);
}

TEST(antialias_tool, smooths_its_chart_while_active_and_on_and_the_chart_keeps_the_surface) {
    test_support::EnsureQtApplication();
    Chart chart;
    const auto plain = chart.Shown();
    EXPECT_EQ(RedBlends(*plain), 0);

    TAntiAliasTool* tool = NewTool(&chart);
    TAntiAliasCanvas* canvas = tool->Canvas();
    ASSERT_EQ(chart.Canvas(), canvas);
    EXPECT_GT(RedBlends(*chart.Shown()), 60);
    // Deactivated: smoothing off (the chart repaints), the surface stays.
    EXPECT_FALSE(canvas->Dirty());
    tool->SetActive(false);
    EXPECT_FALSE(tool->AntiAlias());
    EXPECT_TRUE(canvas->Dirty());
    EXPECT_EQ(chart.Canvas(), canvas);
    EXPECT_EQ(PixelsOf(*chart.Shown()), PixelsOf(*plain));
    tool->SetActive(true);
    EXPECT_TRUE(tool->AntiAlias());
    EXPECT_GT(RedBlends(*chart.Shown()), 60);
    // Switched off alone, the tool stays active.
    tool->SetAntiAlias(false);
    EXPECT_TRUE(tool->Active());
    EXPECT_EQ(RedBlends(*chart.Shown()), 0);
    tool->SetAntiAlias(true);

    // Another surface put in its place frees it; the tool knows.
    chart.ReplaceCanvas(std::make_unique<chart::TPlotCanvas3D>());
    EXPECT_EQ(tool->Canvas(), nullptr);
    EXPECT_FALSE(tool->AntiAlias());
    EXPECT_EQ(RedBlends(*chart.Shown()), 0);
    tool->SetAntiAlias(true);
    ASSERT_NE(tool->Canvas(), nullptr);
    EXPECT_EQ(chart.Canvas(), tool->Canvas());
    canvas = tool->Canvas();

    // Moved to another chart: the first keeps drawing with the surface it
    // has, the second gets one of its own.
    Chart second;
    tool->SetParentChart(&second);
    EXPECT_EQ(chart.Canvas(), canvas);
    EXPECT_EQ(canvas->Tool(), nullptr);
    EXPECT_NE(second.Canvas(), canvas);
    EXPECT_EQ(second.Canvas(), tool->Canvas());
    EXPECT_GT(RedBlends(*chart.Shown()), 60);
    EXPECT_GT(RedBlends(*second.Shown()), 60);

    // The tool freed while the chart draws with its surface: the chart goes
    // on drawing with it, smoothed.
    chart::TCanvas3D* kept = second.Canvas();
    vcl::TComponent::Free(tool);
    EXPECT_EQ(second.Canvas(), kept);
    EXPECT_GT(RedBlends(*second.Shown()), 60);

    // A tool that never reached a chart frees its own surface; one that left
    // its chart learns when the chart frees the surface.
    { TAntiAliasTool alone(nullptr); }
    auto third = std::make_unique<Chart>();
    TAntiAliasTool* leaving = NewTool(third.get());
    leaving->SetParentChart(nullptr);
    EXPECT_NE(leaving->Canvas(), nullptr);
    third.reset();
    EXPECT_EQ(leaving->Canvas(), nullptr);
    vcl::TComponent::Free(leaving);
}

TEST(antialias_tool, filters_every_finished_paint_once) {
    test_support::EnsureQtApplication();
    Chart chart;
    TAntiAliasTool* tool = NewTool(&chart);
    const auto smooth = chart.Shown();
    // Without filters the image is the smoothing surface's own.
    Chart bare;
    bare.ReplaceCanvas(std::make_unique<TAntiAliasCanvas>());
    EXPECT_EQ(PixelsOf(*bare.Shown()), PixelsOf(*smooth));

    auto& blur = tool->Filters().Add<chart::TBlurFilter>();
    blur.Amount = 2;
    chart.Invalidate();
    auto expected = std::make_unique<vcl::TBitmap>();
    expected->Assign(*smooth);
    chart::TBlurFilter once;
    once.Amount = 2;
    once.ApplyTo(*expected);
    EXPECT_EQ(PixelsOf(*chart.Shown()), PixelsOf(*expected));
    // Each paint blurs its own image once, not the last one again.
    EXPECT_EQ(PixelsOf(*chart.Shown()), PixelsOf(*expected));
    // A copy drawn onto another canvas (unbuffered) is neither smoothed
    // nor filtered.
    Chart plain;
    EXPECT_EQ(PixelsOf(*chart.CreateBitmap()), PixelsOf(*plain.CreateBitmap()));
    // An inactive tool hears no paint.
    tool->SetActive(false);
    EXPECT_EQ(PixelsOf(*chart.Shown()), PixelsOf(*plain.Shown()));
}

// A click on a check box's box, as the user makes it.
void ClickBox(vcl::TCheckBox* Box) {
    QTest::mouseClick(Box->Widget(), Qt::LeftButton, {}, {6, Box->Widget()->height() / 2});
}

// The filters editor that the settings form opened, once it shows.
TFiltersEditor* OpenFiltersEditor(vcl::TComponent* Form) {
    auto* editor = dynamic_cast<TFiltersEditor*>(Form->FindComponent("FiltersEditor"));
    if (editor) test_support::PumpUntil([&] { return editor->Widget()->isVisible(); });
    return editor;
}

TEST(antialias_tool, settings_form_switches_smoothing_and_edits_filters_over_the_chart_without_it) {
    test_support::EnsureQtApplication();
    vcl::EnsureApplication();
    Chart chart;
    TAntiAliasTool* tool = NewTool(&chart);
    std::unique_ptr<TAntiAliasEditor, vcl::TComponentDeleter> form(new TAntiAliasEditor(vcl::Application));
    form->SetTool(tool);
    form->Show();
    ASSERT_TRUE(test_support::PumpUntil([&] { return form->Widget()->isVisible(); }));
    EXPECT_EQ(form->ClientWidth(), 185);
    EXPECT_EQ(form->ClientHeight(), 83);
    EXPECT_EQ(form->CBAnti->Caption(), "&Anti-alias");
    EXPECT_EQ(form->Button1->Caption(), "&Filters...");
    EXPECT_TRUE(form->CBAnti->Checked());
    // The user unticks "Anti-alias": the chart is drawn plainly.
    ClickBox(form->CBAnti);
    EXPECT_FALSE(tool->AntiAlias());
    EXPECT_EQ(RedBlends(*chart.Shown()), 0);
    form->Hide();
    form->Show();  // shows the tool's setting
    EXPECT_FALSE(form->CBAnti->Checked());

    // "Filters...": the editor works on the chart drawn without the tool;
    // the user adds an inverting filter and presses OK.
    int blendsSeen = -1;
    QTimer::singleShot(0, [&] {
        TFiltersEditor* editor = OpenFiltersEditor(form.get());
        ASSERT_NE(editor, nullptr);
        editor->AddFilter(chart::TInvertFilter::Class());
        ASSERT_NE(editor->Filtered(), nullptr);
        // Inverted, red smoothed into white would be cyan into black.
        blendsSeen = test_support::CountPixels(*editor->Filtered()->Handle(), [](gdi::COLORREF c) {
            const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
            return r == 0 && g == b && g > 0 && g < 255;
        });
        QTest::mouseClick(editor->BOK->Widget(), Qt::LeftButton);
    });
    tool->SetAntiAlias(true);
    chart.Shown();
    QTest::mouseClick(form->Button1->Widget(), Qt::LeftButton);
    EXPECT_EQ(blendsSeen, 0);
    ASSERT_EQ(tool->Filters().Count(), 1);
    EXPECT_EQ(tool->Filters().Items(0).Description(), "Invert");
    EXPECT_TRUE(chart.Canvas()->ReDrawBitmap() == false);  // the chart repaints
    // The tool's switches are as they were, also with smoothing off while
    // the tool is active.
    EXPECT_TRUE(tool->Active());
    EXPECT_TRUE(tool->AntiAlias());
    tool->SetAntiAlias(false);
    QTimer::singleShot(0, [&] {
        if (TFiltersEditor* editor = OpenFiltersEditor(form.get())) editor->Widget()->close();
    });
    form->Button1Click();
    EXPECT_TRUE(tool->Active());
    EXPECT_FALSE(tool->AntiAlias());
    EXPECT_EQ(tool->Filters().Count(), 1);

    // The tool freed while the filters editor is open: nothing reaches it.
    QTimer::singleShot(0, [&] {
        TFiltersEditor* editor = OpenFiltersEditor(form.get());
        ASSERT_NE(editor, nullptr);
        vcl::TComponent::Free(tool);
        editor->AddFilter(chart::TGrayScaleFilter::Class());
        QTest::mouseClick(editor->BOK->Widget(), Qt::LeftButton);
    });
    form->Button1Click();
    EXPECT_EQ(form->Tool(), nullptr);
    form->Button1Click();  // without a tool: nothing
    ClickBox(form->CBAnti);
}

TEST(antialias_tool, the_same_chart_with_and_without_it_differs_only_along_its_lines) {
    test_support::EnsureQtApplication();
    Chart off(500, 300), on(500, 300);
    NewTool(&on);
    const auto plain = off.Shown(), smooth = on.Shown();
    test_support::WritePngAndReadBack(*plain, "antialias_chart_off.png");
    test_support::WritePngAndReadBack(*smooth, "antialias_chart_on.png");
    // Axes, grid and labels are untouched: whatever changed lies next to a
    // pixel of a series line in the plain picture, or (where the plain line
    // hides under the axis) is a series colour blended into what the plain
    // picture shows there.
    int changed = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 500; ++x) {
            const gdi::COLORREF p = plain->Handle()->GetPixel(x, y), s = smooth->Handle()->GetPixel(x, y);
            if (p == s) continue;
            ++changed;
            bool nearLine = false;
            for (int dy = -2; dy <= 2 && !nearLine; ++dy)
                for (int dx = -2; dx <= 2 && !nearLine; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= 500 || ny >= 300) continue;
                    const gdi::COLORREF n = plain->Handle()->GetPixel(nx, ny);
                    nearLine = n == kRed || n == gdi::RGB(0, 0, 255);
                }
            EXPECT_TRUE(nearLine || BlendOf(p, s, kRed) || BlendOf(p, s, gdi::RGB(0, 0, 255))) << x << "," << y;
        }
    EXPECT_GT(changed, 500);
    EXPECT_GT(RedBlends(*smooth), 100);
    // The fast line too: blue smoothed into white.
    const int blueBlends = test_support::CountPixels(*smooth->Handle(), [](gdi::COLORREF c) {
        const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
        return b == 255 && r == g && r > 0 && r < 255;
    });
    EXPECT_GT(blueBlends, 100);
}

}  // namespace
