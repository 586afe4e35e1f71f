#pragma once
// The application's cursor table: mouse cursors by number, beyond the
// standard ones, that controls show through SetCursor. A number without an
// image in the table shows the default arrow.
#include "platform/vcl/controls.h"
#include "platform/vcl/resources.h"

namespace vcl {

// The cursor of a table number (any number beyond the standard cursors).
constexpr TCursor CursorNumber(int number) { return static_cast<TCursor>(number); }

// Puts a copy of image in the table under number; none removes the entry.
void SetScreenCursor(TCursor number, const TResourceImage* image);
// The entry, or none.
const TResourceImage* ScreenCursor(TCursor number);

}  // namespace vcl
