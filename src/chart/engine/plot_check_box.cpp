#include "chart/engine/plot_check_box.h"

#include <array>

#include "chart/engine/pixel_math.h"

namespace chart::engine {

namespace {

// The colours of a sunken control edge.
constexpr vcl::TColor kShadow = 0x808080;
constexpr vcl::TColor kDarkShadow = 0x404040;
constexpr vcl::TColor kLight = 0xC0C0C0;
constexpr vcl::TColor kHighlight = 0xFFFFFF;

void Pen(chart::TPlotCanvas& Canvas, vcl::TColor Color) {
    Canvas.Pen->SetStyle(vcl::TPenStyle::psSolid);
    Canvas.Pen->SetMode(vcl::TPenMode::pmCopy);
    Canvas.Pen->SetWidth(1);
    Canvas.Pen->SetColor(Color);
}

}  // namespace

void PlotDrawCheckBox(int X, int Y, chart::TPlotCanvas& Canvas, bool Checked, bool IsCheckBox) {
    // Far from the 32-bit ends, so that the box's own offsets never overflow.
    X = ClampPixel(X);
    Y = ClampPixel(Y);
    Canvas.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
    Canvas.Brush->SetColor(kHighlight);
    if (!IsCheckBox) {
        Pen(Canvas, kShadow);
        Canvas.Ellipse(X, Y, X + 13, Y + 13);
        Pen(Canvas, kDarkShadow);
        Canvas.ArcByAngles(X + 1, Y + 1, X + 12, Y + 12, 45, 225);
        if (Checked) {
            Pen(Canvas, vcl::clBlack);
            Canvas.Brush->SetColor(vcl::clBlack);
            Canvas.Ellipse(X + 4, Y + 4, X + 9, Y + 9);
        }
        return;
    }
    // The white well, then the sunken edge round it: shadow above and on
    // the left, highlight below and on the right.
    Canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    Canvas.Rectangle(X + 2, Y + 2, X + 12, Y + 12);
    Pen(Canvas, kShadow);
    const std::array<vcl::TPoint, 3> outerTop{{{X, Y + 12}, {X, Y}, {X + 12, Y}}};
    Canvas.Polyline(outerTop);
    Pen(Canvas, kDarkShadow);
    const std::array<vcl::TPoint, 3> innerTop{{{X + 1, Y + 11}, {X + 1, Y + 1}, {X + 11, Y + 1}}};
    Canvas.Polyline(innerTop);
    Pen(Canvas, kHighlight);
    const std::array<vcl::TPoint, 3> outerBottom{{{X, Y + 12}, {X + 12, Y + 12}, {X + 12, Y - 1}}};
    Canvas.Polyline(outerBottom);
    Pen(Canvas, kLight);
    const std::array<vcl::TPoint, 3> innerBottom{{{X + 1, Y + 11}, {X + 11, Y + 11}, {X + 11, Y}}};
    Canvas.Polyline(innerBottom);
    if (!Checked) return;
    // The mark: three rows of a short stroke down and a long one up.
    Pen(Canvas, vcl::clBlack);
    for (int dy = 0; dy < 3; ++dy) {
        const std::array<vcl::TPoint, 3> mark{{{X + 3, Y + 5 + dy}, {X + 5, Y + 7 + dy}, {X + 10, Y + 2 + dy}}};
        Canvas.Polyline(mark);
    }
}

}  // namespace chart::engine
