#pragma once
// How markup text finds the picture class of an image file: a new, empty
// graphic for a file extension with its dot (".BMP"), or none. The export
// formats install the routine as they start; without it no image loads.
#include <memory>
#include <string>

namespace vcl {
class TGraphic;
}

namespace chart {

using TPlotGraphicFromExtension = std::unique_ptr<vcl::TGraphic> (*)(const std::string& Extension);
extern TPlotGraphicFromExtension PlotGraphicFromExtensionHook;

}  // namespace chart
