#pragma once
// Private to the class library: key and modifier translation.
#include <QKeyEvent>
#include <cstdint>

#include "platform/vcl/controls.h"

namespace vcl {

std::uint16_t VirtualKey(int qt_key);
TShiftState ShiftFromModifiers(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons = {});

}  // namespace vcl
