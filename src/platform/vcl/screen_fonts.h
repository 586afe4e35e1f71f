#pragma once
// The screen's font list, as far as the program asks it: whether a font
// name can be shown (directly or through its alias).
#include <string>

namespace vcl {

// True when the name, or the installed family that stands in for it, is
// one of the screen's font families (case does not matter).
bool ScreenFontExists(const std::string& name);

}  // namespace vcl
