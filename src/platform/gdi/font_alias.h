#pragma once
// The one alias table that maps the font names the program asks for onto
// metric-compatible fonts installed here.
#include <string>

namespace gdi {

// The installed family that stands in for a requested font name (case does
// not matter); names without an alias are returned unchanged.
std::string FontAlias(const std::string& name);

// The face of the stock GUI font, and of fonts that name none.
inline constexpr const char* kDefaultGuiFace = "Tahoma";

}  // namespace gdi
