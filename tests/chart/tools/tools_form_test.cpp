// A form with a chart and the chart tools, used as a user uses it: mouse
// presses, moves and releases and the Escape key sent to the chart's
// window, each tool doing its part through the chart's mouse handling; the
// registry of tool classes; the finished form written as PNG files.
#include <gtest/gtest.h>

#include <QKeyEvent>

#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/series_marks.h"
#include "chart/tools/annotation_tool.h"
#include "chart/tools/axis_tools.h"
#include "chart/tools/draw_line_tool.h"
#include "chart/tools/full_screen_tool.h"
#include "chart/tools/marks_tools.h"
#include "chart/tools/nearest_tool.h"
#include "chart/tools/plot_tools.h"
#include "chart/tools/rotate_tool.h"
#include "chart/tools/series_animation_tool.h"
#include "chart/tools/series_tools.h"
#include "platform/vcl/bitmap.h"
#include "support/mouse.h"
#include "support/png_file.h"
#include "support/screen.h"
#include "support/tool_chart.h"

namespace {

using namespace chart::engine;
using namespace chart::tools;
using test_support::MouseDrag;
using test_support::MouseMoveTo;
using test_support::MousePress;
using test_support::MouseRelease;

void PressKey(vcl::TControl& Control, Qt::Key Key) {
    static quint64 stamp = 1000;
    QKeyEvent press(QEvent::KeyPress, Key, Qt::NoModifier);
    press.setTimestamp(++stamp);
    QApplication::sendEvent(Control.Widget(), &press);
}

// The form: a chart with a title, axes, a series of labelled points with
// their marks, and the tools.
struct ToolsForm {
    vcl::TForm form{(vcl::EnsureApplication(), vcl::Application)};
    TChart* chart = new TChart(&form);
    test_support::ClickablePoints* points = new test_support::ClickablePoints(&form);
    TGridBandTool* bands = new TGridBandTool(&form);
    TChartImageTool* image = new TChartImageTool(&form);
    TClipSeriesTool* clip = new TClipSeriesTool(&form);
    TAxisArrowTool* arrows = new TAxisArrowTool(&form);
    TAxisScrollTool* scroll = new TAxisScrollTool(&form);
    TRectangleTool* rectangle = new TRectangleTool(&form);
    TAnnotationTool* note = new TAnnotationTool(&form);
    TDragMarksTool* marks = new TDragMarksTool(&form);
    TRotateTool* rotate = new TRotateTool(&form);
    TDrawLineTool* lines = new TDrawLineTool(&form);
    TNearestTool* nearest = new TNearestTool(&form);
    TMarksTipTool* tips = new TMarksTipTool(&form);
    TFullScreenTool* fullScreen = new TFullScreenTool(&form);

    ToolsForm() {
        form.SetClientSize(640, 420);
        chart->SetParent(&form);
        chart->SetAlign(vcl::TAlign::alClient);
        chart->SetView3D(false);
        chart->SetColor(vcl::clWhite);
        chart->Legend().SetVisible(false);
        chart->Title().Text().SetText("Chart tools");
        chart->Shadow().SetVisible(false);
        points->SetParentChart(chart);
        points->SetSeriesColor(vcl::clRed);
        const char* labels[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
        const double values[] = {30, 55, 42, 80, 64, 20, 48};
        for (int i = 0; i < 7; ++i) points->AddXY(i, values[i], labels[i]);
        points->Marks().SetVisible(true);
        points->Marks().Callout().SetLength(6);
        chart->BottomAxis().SetMinMax(-0.5, 6.5);
        chart->LeftAxis().SetMinMax(0, 100);
        chart->LeftAxis().SetIncrement(20);
        for (TPlotCustomTool* t : std::initializer_list<TPlotCustomTool*>{
                 bands, image, clip, arrows, scroll, rectangle, note, marks, rotate, lines, nearest, tips, fullScreen})
            t->SetParentChart(chart);
        bands->SetAxis(&chart->LeftAxis());
        bands->Band1().SetColor(static_cast<vcl::TColor>(0xF4EEE8));
        bands->Band2().SetColor(vcl::clWhite);
        vcl::TBitmap picture(64, 64);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                picture.Canvas().Handle()->SetPixel(x, y, 0xFFF0E0 - (x / 8) * 0x000800 - (y / 8) * 0x080000);
        image->Picture().Assign(picture);
        image->SetSeries(points);
        clip->SetSeries(points);
        arrows->SetAxis(&chart->LeftAxis());
        scroll->SetAxis(&chart->BottomAxis());
        rectangle->Shape().SetColor(vcl::clYellow);
        rectangle->SetText("drag me");
        note->SetText("Tools on a chart");
        note->SetPosition(ppRightTop);
        rotate->SetButton(vcl::TMouseButton::mbRight);
        rotate->Pen().SetVisible(false);
        lines->Pen().SetColor(vcl::clBlue);
        lines->Pen().SetWidth(1);
        nearest->SetSeries(points);
        nearest->SetFullRepaint(false);
        nearest->Pen().SetColor(vcl::clGreen);
        form.Show();
        Paint();
    }
    void Paint() {
        test_support::Pump(std::chrono::milliseconds(20));
        chart->Update();
    }
    vcl::TPoint At(int I) { return {points->CalcXPos(I), points->CalcYPos(I)}; }
    vcl::TBitmap& Image() { return *dynamic_cast<chart::TPlotCanvas3D&>(*chart->Canvas()).Bitmap(); }
};

TEST(tools_form, a_user_draws_resizes_drags_scrolls_rotates_and_rests_on_points) {
    ToolsForm f;
    TChart& chart = *f.chart;
    const vcl::TRect r = chart.ChartRect;
    // The bands and the picture behind the series.
    EXPECT_FALSE(chart.LeftAxis().TickPositions.empty());

    // Draw a line in an empty corner, then drag its end handle.
    const int x0 = r.Left + 60, y0 = r.Bottom - 30;
    MouseDrag(chart, Qt::LeftButton, x0, y0, x0 + 80, y0 - 20);
    ASSERT_EQ(f.lines->Lines().Count(), 1);
    TDrawLine& line = f.lines->Lines().Items(0);
    f.Paint();
    MouseDrag(chart, Qt::LeftButton, x0 + 80, y0 - 20, x0 + 120, y0 - 60);
    EXPECT_EQ(f.lines->AxisPoint(line.EndPos()).X, x0 + 120);
    EXPECT_EQ(f.lines->AxisPoint(line.EndPos()).Y, y0 - 60);
    EXPECT_EQ(f.lines->AxisPoint(line.StartPos()).X, x0);
    f.Paint();
    // Selected: its handles show.
    EXPECT_EQ(f.lines->Selected(), &line);
    EXPECT_EQ(f.Image().Handle()->GetPixel(x0 + 1, y0 + 1), 0u);

    // Resize the rectangle from its bottom-right corner.
    vcl::TRect b = f.rectangle->Bounds();
    MouseDrag(chart, Qt::LeftButton, b.Right - 1, b.Bottom - 1, b.Right + 39, b.Bottom + 9);
    f.Paint();
    EXPECT_EQ(f.rectangle->Bounds().Right, b.Right + 40);
    EXPECT_EQ(f.rectangle->Bounds().Bottom, b.Bottom + 10);

    // Drag the mark of Thursday up and to the left.
    TSeriesMarkPosition& mark = *f.points->Marks().Positions().Position(3);
    const vcl::TPoint m{mark.LeftTop.X + 4, mark.LeftTop.Y + 4};
    const vcl::TPoint arrowFrom = mark.ArrowFrom;
    MouseDrag(chart, Qt::LeftButton, m.X, m.Y, m.X - 30, m.Y - 15);
    f.Paint();
    EXPECT_TRUE(mark.Custom);
    EXPECT_EQ(mark.LeftTop.X, m.X - 4 - 30);
    EXPECT_EQ(mark.ArrowFrom.X, arrowFrom.X);

    // Scroll the bottom axis by dragging it, the left one by its arrow.
    const double before = chart.BottomAxis().Minimum();
    const int axisY = chart.BottomAxis().AxisPosition + 2;
    MouseDrag(chart, Qt::LeftButton, 300, axisY, 260, axisY);
    EXPECT_GT(chart.BottomAxis().Minimum(), before);
    f.Paint();
    TChartAxis& left = chart.LeftAxis();
    MousePress(chart, Qt::LeftButton, left.AxisPosition, left.EndPixel - 8);
    MouseRelease(chart, Qt::LeftButton, left.AxisPosition, left.EndPixel - 8);
    EXPECT_DOUBLE_EQ(left.Minimum(), -10);
    f.Paint();

    // Rest on Wednesday's point (below its mark): its label as the hint;
    // the nearest marker.
    const vcl::TPoint wed = f.At(2);
    MouseMoveTo(chart, wed.X, wed.Y + 3);
    EXPECT_EQ(chart.Hint(), "Wed");
    EXPECT_EQ(f.nearest->Point(), 2);
    test_support::WritePngAndReadBack(f.Image(), "tools_form.png");

    // Turn the chart into 3D with the right button.
    chart.SetView3D(true);
    chart.View3DOptions().SetOrthogonal(false);
    chart.View3DOptions().SetRotation(345);
    chart.View3DOptions().SetElevation(345);
    f.Paint();
    MouseDrag(chart, Qt::RightButton, 200, 200, 260, 180);
    EXPECT_NE(chart.View3DOptions().RotationFloat(), 345);
    EXPECT_GT(chart.View3DOptions().ElevationFloat(), 345);
    f.Paint();
    test_support::WritePngAndReadBack(f.Image(), "tools_form_3d.png");
}

TEST(tools_form, full_screen_and_escape_give_the_chart_back_its_place) {
    ToolsForm f;
    TChart& chart = *f.chart;
    chart.SetAlign(vcl::TAlign::alNone);
    chart.SetBounds(10, 20, 500, 300);
    f.fullScreen->SetActive(true);
    vcl::TForm* window = f.fullScreen->Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(chart.Parent(), window);
    const vcl::TRect screen = vcl::MonitorRect(window->ClientToScreen({0, 0}));
    EXPECT_EQ(chart.Width(), screen.Right - screen.Left);
    EXPECT_EQ(chart.Height(), screen.Bottom - screen.Top);
    // What the screen shows: the chart over all of it.
    const QImage shown = test_support::OnScreen(&chart);
    EXPECT_EQ(shown.width(), screen.Right - screen.Left);
    shown.save("tools_full_screen.png");
    // Another key does nothing; Escape ends it.
    PressKey(chart, Qt::Key_A);
    EXPECT_TRUE(f.fullScreen->Active());
    PressKey(chart, Qt::Key_Escape);
    EXPECT_FALSE(f.fullScreen->Active());
    EXPECT_EQ(chart.Parent(), &f.form);
    EXPECT_EQ(chart.BoundsRect(), (vcl::TRect{10, 20, 510, 320}));
    EXPECT_EQ(chart.Align(), vcl::TAlign::alNone);
    test_support::Pump(std::chrono::milliseconds(20));

    // Closing the window does the same; so does freeing the tool, with the
    // form's alignment restored.
    chart.SetAlign(vcl::TAlign::alClient);
    f.fullScreen->SetActive(true);
    f.fullScreen->Window()->Close();
    EXPECT_FALSE(f.fullScreen->Active());
    EXPECT_EQ(chart.Parent(), &f.form);
    EXPECT_EQ(chart.Align(), vcl::TAlign::alClient);
    test_support::Pump(std::chrono::milliseconds(20));
    f.fullScreen->SetActive(true);
    vcl::TComponent::Free(f.fullScreen);
    EXPECT_EQ(chart.Parent(), &f.form);
    EXPECT_EQ(chart.Align(), vcl::TAlign::alClient);
}

TEST(tools_form, the_registry_lists_the_tool_classes_in_their_order) {
    PlotToolsUse();
    const std::vector<std::string> expected = {
        "TCursorTool",     "TDragMarksTool",  "TAxisArrowTool",       "TDrawLineTool",  "TNearestTool",
        "TColorBandTool",  "TColorLineTool",  "TRotateTool",          "TChartImageTool", "TMarksTipTool",
        "TAnnotationTool", "TSeriesAnimationTool", "TGridBandTool",   "TAxisScrollTool", "TRectangleTool",
        "TClipSeriesTool", "TFullScreenTool"};
    auto names = [] {
        std::vector<std::string> out;
        for (int i = 0; i < PlotToolTypesList().Count(); ++i) out.push_back(PlotToolTypesList().Items(i)->Name);
        return out;
    };
    std::vector<std::string> listed = names();
    std::erase_if(listed, [&](const std::string& n) { return std::find(expected.begin(), expected.end(), n) == expected.end(); });
    EXPECT_EQ(listed, expected);
    // Taken out and registered again, a class goes back to its own place
    // whatever the order of the call; one of no place goes last; twice is once.
    const TPlotToolClass cursor = vcl::GetClass("TCursorTool");
    const TPlotToolClass colorBand = vcl::GetClass("TColorBandTool");
    ASSERT_NE(cursor, nullptr);
    ASSERT_NE(colorBand, nullptr);
    static const vcl::TComponentClassInfo other{"TOtherTool", nullptr};
    UnregisterPlotToolClasses({colorBand, cursor});
    RegisterPlotToolClasses({&other, colorBand, cursor, cursor});
    const std::vector<std::string> all = names();
    auto at = [&](const std::string& n) { return std::find(all.begin(), all.end(), n) - all.begin(); };
    EXPECT_EQ(at("TCursorTool"), 0);
    EXPECT_EQ(at("TColorBandTool"), at("TNearestTool") + 1);
    EXPECT_EQ(at("TOtherTool"), static_cast<long>(all.size()) - 1);
    EXPECT_EQ(std::count(all.begin(), all.end(), "TCursorTool"), 1);
    UnregisterPlotToolClasses({&other});
    listed = names();
    std::erase_if(listed, [&](const std::string& n) { return std::find(expected.begin(), expected.end(), n) == expected.end(); });
    EXPECT_EQ(listed, expected);
    // Each makes a tool that tells what it is.
    for (const std::string& n : expected) {
        TPlotCustomTool* tool = CreatePlotTool(vcl::GetClass(n), nullptr);
        ASSERT_NE(tool, nullptr) << n;
        EXPECT_FALSE(tool->Description().empty()) << n;
        EXPECT_FALSE(tool->LongDescription().empty()) << n;
        vcl::TComponent::Free(tool);
    }
    PlotToolsRelease();
}

}  // namespace
