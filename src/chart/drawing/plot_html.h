#pragma once
// Chart texts in a small markup: line breaks, font size, name, colour and
// style changes, centring, sub- and superscript, headings, a horizontal
// rule, images and four character entities, measured and drawn on a chart
// surface. The surface's font (and, for rules and images, its pen and
// brush) is left as the markup set it: callers that need theirs back set it
// again.
#include <memory>
#include <string>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/graphics.h"

namespace vcl {
class TGraphic;
class TStream;
}  // namespace vcl

namespace chart {

class TPlotCanvas;

// A tag without its closing ">".
class HtmlParserException : public rtl::Exception {
  public:
    using Exception::Exception;
};

// Lays Text out from (X, Y), drawing it when Draw, and answers the size it
// found. Each call starts with empty font and tag stacks. Raises
// HtmlParserException "Missing > at <rest>" for a tag that is not closed,
// Exception "Unknown field in FONT: <name>" or "Unknown field in FONT
// WEIGHT=<word>" for FONT attributes it does not know, and EConvertError for
// a number or colour it cannot read; what was drawn before stays drawn.
vcl::TSize HtmlRender(TPlotCanvas& Canvas, int X, int Y, const std::string& Text, bool Draw);
// Text with its top-left at (X, Y).
void HtmlTextOut(TPlotCanvas& Canvas, int X, int Y, const std::string& Text);
// The layout run without drawing, from (0, 0): the widest line and the
// tallest line height.
vcl::TSize HtmlTextExtent(TPlotCanvas& Canvas, const std::string& Text);

// For texts a paint must get through whatever they hold (titles, legend,
// marks): markup that cannot be read is drawn plainly instead, each line
// (split at CR, a following LF dropped) one font height below the last,
// and nothing of the failed markup is drawn. The extent answers the size
// of what the drawing call draws.
void HtmlTextOutOrPlain(TPlotCanvas& Canvas, int X, int Y, const std::string& Text);
vcl::TSize HtmlTextExtentOrPlain(TPlotCanvas& Canvas, const std::string& Text);

// The graphic class for an image's file extension (upper case, with its
// dot): a new, empty graphic of that class, or none. Installed by the export
// formats as they start; while it is missing every image draws its
// placeholder.
using TPlotGraphicFromExtension = std::unique_ptr<vcl::TGraphic> (*)(const std::string& Extension);
extern TPlotGraphicFromExtension PlotGraphicFromExtensionHook;

// Fills Stream with the bytes of the image named Source and answers 0, or
// answers anything else when it cannot. An application may install one;
// without it every image draws its placeholder.
using TPlotHtmlImageLoader = int (*)(const std::string& Source, vcl::TStream& Stream);
extern TPlotHtmlImageLoader PlotHtmlImageLoader;

}  // namespace chart
