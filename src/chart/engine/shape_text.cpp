#include "chart/engine/shape_text.h"

#include "chart/drawing/plot_html.h"

namespace chart::engine {

void DrawShapeText(chart::TCanvas3D& Canvas, int X, int Y, const std::string& Text, bool Html) {
    if (!Html) return Canvas.TextOut(X, Y, Text);
    // The markup changes the surface's font as it goes: the caller's comes
    // back for the texts after this one.
    vcl::TFont saved;
    saved.Assign(*Canvas.Font);
    chart::HtmlTextOutOrPlain(Canvas, X, Y, Text);
    Canvas.Font->Assign(saved);
}

vcl::TSize ShapeTextExtent(chart::TCanvas3D& Canvas, const std::string& Text, bool Html) {
    if (!Html) return {Canvas.TextWidth(Text), Canvas.FontHeight()};
    vcl::TFont saved;
    saved.Assign(*Canvas.Font);
    const vcl::TSize size = chart::HtmlTextExtentOrPlain(Canvas, Text);
    Canvas.Font->Assign(saved);
    return size;
}

}  // namespace chart::engine
