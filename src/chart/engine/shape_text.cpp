#include "chart/engine/shape_text.h"

#include <algorithm>

namespace chart::engine {

namespace {

vcl::TSize PlainExtent(chart::TCanvas3D& Canvas, const std::string& Text) {
    vcl::TSize size{0, 0};
    int lines = 0;
    std::size_t from = 0;
    while (from <= Text.size()) {
        std::size_t at = Text.find('\n', from);
        if (at == std::string::npos) at = Text.size();
        std::string line = Text.substr(from, at - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (at == Text.size() && line.empty() && lines > 0) break;
        size.cx = std::max(size.cx, Canvas.TextWidth(line));
        ++lines;
        from = at + 1;
    }
    size.cy = lines * Canvas.FontHeight();
    return size;
}

}  // namespace

void DrawShapeText(chart::TCanvas3D& Canvas, int X, int Y, const std::string& Text, bool Html) {
    Canvas.TextOutHtml(X, Y, Text, Html);
}

vcl::TSize ShapeTextExtent(chart::TCanvas3D& Canvas, const std::string& Text, bool) {
    return PlainExtent(Canvas, Text);
}

}  // namespace chart::engine
