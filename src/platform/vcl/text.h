#pragma once
// The alias table that maps the font names the program asks for onto
// metric-compatible fonts installed here. (Text crosses to the toolkit
// through the code-page table of platform/rtl, see qt_bridge.h.)
#include <string>

namespace vcl {

// The installed family that stands in for a requested font name; names
// without an alias are returned unchanged.
std::string FontAlias(const std::string& name);

}  // namespace vcl
