#pragma once
// A chart as the panel draws one until the axes and series come: its
// background, then through the drawing surface a frame around the chart
// rectangle, grid lines, axis labels and a red line of known points. The
// export tests write it and look for those pieces in what they read back.
// Header only: the test programs that use it link the chart engine.
#include <string>
#include <vector>

#include "chart/drawing/plot_canvas.h"
#include "support/chart_panels.h"

namespace test_support {

struct SampleChartPanel : BackgroundPanel {
    // The line, in pixels of a 400 x 300 panel.
    std::vector<vcl::TPoint> Line = {{60, 230}, {130, 80}, {200, 170}, {270, 60}, {340, 130}};
    std::vector<std::string> Labels = {"0", "50", "100", "Time"};

    explicit SampleChartPanel(vcl::TComponent* AOwner = nullptr) : BackgroundPanel(AOwner) {
        MakePlain(400, 300, vcl::clWhite);
        Shadow().SetVisible(false);
        Extra = [this](BackgroundPanel& panel, const vcl::TRect&) { DrawChart(*panel.Canvas()); };
    }

    // The frame of the plot area, in the panel's pixels.
    static constexpr vcl::TRect Frame{50, 40, 360, 250};

    void DrawChart(chart::TCanvas3D& c) {
        c.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        c.Pen->SetColor(vcl::clBlack);
        c.Pen->SetWidth(1);
        c.Rectangle(Frame.Left, Frame.Top, Frame.Right, Frame.Bottom);
        c.Pen->SetColor(vcl::clSilver);
        for (int y = 90; y < Frame.Bottom; y += 50) c.Line(Frame.Left + 1, y, Frame.Right - 1, y);
        c.Font->SetName("Arial");
        c.Font->SetSize(9);
        c.Font->SetColor(vcl::clBlack);
        c.SetBackMode(gdi::TRANSPARENT);
        c.SetTextAlign(gdi::TA_RIGHT);
        c.TextOut(Frame.Left - 4, Frame.Bottom - 8, Labels[0]);
        c.TextOut(Frame.Left - 4, 140, Labels[1]);
        c.TextOut(Frame.Left - 4, Frame.Top - 6, Labels[2]);
        c.SetTextAlign(gdi::TA_CENTER);
        c.TextOut((Frame.Left + Frame.Right) / 2, Frame.Bottom + 8, Labels[3]);
        c.SetTextAlign(gdi::TA_LEFT);
        c.Pen->SetColor(vcl::clRed);
        c.Pen->SetWidth(2);
        std::vector<chart::TPoint> points;
        for (const vcl::TPoint& p : Line) points.push_back({p.X, p.Y});
        c.Polyline(points);
    }
};

}  // namespace test_support
