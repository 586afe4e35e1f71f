#pragma once
// Device-independent bitmaps: the pixel layout that bitmap files and
// metafiles carry. A packed DIB is a 40-byte information header, then the
// colour table (1, 4 and 8 bits per pixel) or the three bit-field masks
// (16 bits, 5-6-5), then the rows bottom-up, each padded to 4 bytes.
//
// Depths and colours:
//   1 bit   black and white; a pixel is white when its luminance
//           (0.299 R + 0.587 G + 0.114 B) is at least 128;
//   4 bits  the picture's own colours when it holds at most 16, else the
//           16 standard colours (those of the class library's colour
//           constants), nearest by distance in RGB;
//   8 bits  the picture's own colours when it holds at most 256, else a
//           fixed table of the 16 standard colours, a 6 x 6 x 6 cube of the
//           levels 0, 51, 102, 153, 204, 255 and 24 greys 8, 18, ..., 238,
//           nearest by distance in RGB;
//   15 bits 5-5-5 (bit count 16, no masks), 16 bits 5-6-5 (bit-field masks):
//           the low bits of each channel are dropped;
//   24, 32  every colour as it is (32 bits: the fourth byte is the alpha of
//           a bitmap that has one, else 255).
// The picture's own colours are listed in the order the rows meet them, top
// row first. No dithering: charts are made of flat colours, and dithered
// lines and letters would read worse than the nearest colour.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/gdi/objects.h"

namespace gdi {

// The depths a DIB may be written with (15 is 5-5-5 in 16-bit pixels).
bool IsDibDepth(int bits);

// The colours a picture of this depth is reduced to (empty for 15 bits and
// above, which have no table).
std::vector<COLORREF> DibPalette(const Bitmap& bitmap, int bits);
// Each pixel of the bitmap replaced by the colour it becomes at the depth.
void ReduceColors(Bitmap& bitmap, int bits);

// Sizes of the parts of a packed DIB of the bitmap at the depth.
struct DibLayout {
    std::size_t header = 0;  // information header, table or masks
    std::size_t stride = 0;  // bytes per row, a multiple of 4
    std::size_t image = 0;   // all rows
};
DibLayout DibLayoutOf(int width, int height, int bits, std::size_t paletteSize);

// The bitmap as a packed DIB at the depth, appended to out. Every byte
// written is set (padding is zero). Raises EGdiError for a depth it cannot
// write and for an empty bitmap.
void AppendDib(const Bitmap& bitmap, int bits, std::vector<std::uint8_t>& out);

// A DIB read back: the pixels (32 bits per pixel, or 24 when the DIB has
// 24) and the depth it had (15 for 16-bit 5-5-5 pixels).
struct DecodedDib {
    HBITMAP bitmap;
    int bits = 0;
};
// Reads the information header (BITMAPINFOHEADER or a later, longer one;
// the 12-byte core header too) and its colour table or masks from header,
// and the rows from bits. Uncompressed and bit-field DIBs of 1, 4, 8, 16,
// 24 and 32 bits, bottom-up or top-down. Raises EGdiError with the reason
// for anything else, for sizes beyond kMaxSurfaceSide and for data that is
// too short; palette indices beyond the table read as black.
DecodedDib DecodeDib(std::span<const std::uint8_t> header, std::span<const std::uint8_t> bits);

}  // namespace gdi
