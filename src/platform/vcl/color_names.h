#pragma once
// The names of colours as the class library writes them ("clRed",
// "clBtnFace", ...) and the conversion of colour texts: a name, or a number
// (decimal or "$" hexadecimal).
#include <string>

#include "platform/vcl/graphics.h"

namespace vcl {

// The colour of a name (without case); false when it names none.
bool IdentToColor(const std::string& Ident, TColor& Color);
// A name or a number; anything else raises EConvertError "'<text>' is not a
// valid integer value".
TColor StringToColor(const std::string& S);

}  // namespace vcl
