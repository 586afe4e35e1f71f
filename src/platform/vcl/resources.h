#pragma once
// Bitmaps built into the program, found by name: what the original's
// executable held as bitmap resources. Each is held as the bytes of a
// bitmap file and read when loaded.
#include <cstdint>
#include <span>
#include <string>

#include "platform/rtl/exceptions.h"

namespace vcl {

class TBitmap;

// "Resource PlotArrowUp not found".
class EResNotFound : public rtl::Exception {
public:
    using Exception::Exception;
};

// Adds (or replaces) the bitmap of that name (case ignored). The bytes are
// not copied: they must live as long as the program (a constant array).
void RegisterBitmapResource(const std::string& name, std::span<const std::uint8_t> file);
bool HasBitmapResource(const std::string& name);
// Reads the named bitmap into bitmap.
void LoadBitmapResource(TBitmap& bitmap, const std::string& name);

}  // namespace vcl
