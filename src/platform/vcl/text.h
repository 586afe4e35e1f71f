#pragma once
// The alias table that maps the font names the program asks for onto
// metric-compatible fonts installed here; it lives with the device contexts
// (platform/gdi), which realise fonts. (Text crosses to the toolkit through
// the code-page table of platform/rtl, see qt_bridge.h.)
#include "platform/gdi/font_alias.h"

namespace vcl {

using gdi::FontAlias;

}  // namespace vcl
