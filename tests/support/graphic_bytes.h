#pragma once
// The bytes a graphic writes, and the pixels of a bitmap, for tests of the
// class library's pictures. Header only: the test programs that use it
// link the class library themselves.
#include <cstdint>
#include <vector>

#include "platform/vcl/bitmap.h"
#include "platform/vcl/streams.h"
#include "support/gdi_surface.h"

namespace test_support {

inline std::vector<std::uint8_t> SavedBytes(const vcl::TGraphic& graphic) {
    vcl::TMemoryStream s;
    graphic.SaveToStream(s);
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.Memory());
    return {p, p + s.Size()};
}

inline std::vector<gdi::COLORREF> PixelsOf(const vcl::TBitmap& bitmap) { return PixelsOf(*bitmap.Handle()); }

}  // namespace test_support
