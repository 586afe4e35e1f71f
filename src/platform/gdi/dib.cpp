#include "platform/gdi/dib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/gdi/bytes.h"

namespace gdi {

namespace {

// Pixels in this file are 0x00RRGGBB, the layout of a 32-bit row read as
// 32-bit words (the fourth byte masked off).
using Rgb = std::uint32_t;

constexpr Rgb MakeRgb(int r, int g, int b) { return Rgb(r) << 16 | Rgb(g) << 8 | Rgb(b); }
constexpr int R(Rgb c) { return int(c >> 16 & 0xFF); }
constexpr int G(Rgb c) { return int(c >> 8 & 0xFF); }
constexpr int B(Rgb c) { return int(c & 0xFF); }
COLORREF ToColorRef(Rgb c) { return RGB(R(c), G(c), B(c)); }

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::int32_t kPixelsPerMetre = 3780;  // 96 pixels per inch

// The colours of the class library's colour constants, in the order of the
// standard 16-colour table: 4-bit bitmaps in stored files index it.
constexpr std::array<Rgb, 16> kStandardColors = {
    MakeRgb(0, 0, 0),       MakeRgb(128, 0, 0),   MakeRgb(0, 128, 0),   MakeRgb(128, 128, 0),
    MakeRgb(0, 0, 128),     MakeRgb(128, 0, 128), MakeRgb(0, 128, 128), MakeRgb(192, 192, 192),
    MakeRgb(128, 128, 128), MakeRgb(255, 0, 0),   MakeRgb(0, 255, 0),   MakeRgb(255, 255, 0),
    MakeRgb(0, 0, 255),     MakeRgb(255, 0, 255), MakeRgb(0, 255, 255), MakeRgb(255, 255, 255),
};

std::vector<Rgb> FixedPalette(int bits) {
    if (bits == 1) return {MakeRgb(0, 0, 0), MakeRgb(255, 255, 255)};
    std::vector<Rgb> table(kStandardColors.begin(), kStandardColors.end());
    if (bits == 4) return table;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) table.push_back(MakeRgb(r * 51, g * 51, b * 51));
    for (int i = 0; i < 24; ++i) table.push_back(MakeRgb(8 + 10 * i, 8 + 10 * i, 8 + 10 * i));
    return table;
}

// Reads the pixels of one row as Rgb values.
void ReadRow(const Bitmap& bitmap, int y, Rgb* out) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    const int w = bitmap.Width();
    if (bitmap.BitsPerPixel() == 24) {
        for (int x = 0; x < w; ++x, row += 3) out[x] = MakeRgb(row[2], row[1], row[0]);
    } else {
        std::memcpy(out, row, static_cast<std::size_t>(w) * 4);
        for (int x = 0; x < w; ++x) out[x] &= 0xFFFFFFu;
    }
}

void WriteRow(Bitmap& bitmap, int y, const Rgb* in) {
    std::uint8_t* row = bitmap.ScanLine(y);
    const int w = bitmap.Width();
    if (bitmap.BitsPerPixel() == 24) {
        for (int x = 0; x < w; ++x, row += 3) {
            row[0] = std::uint8_t(B(in[x]));
            row[1] = std::uint8_t(G(in[x]));
            row[2] = std::uint8_t(R(in[x]));
        }
    } else {
        auto* px = reinterpret_cast<std::uint32_t*>(row);
        for (int x = 0; x < w; ++x) px[x] = (px[x] & 0xFF000000u) | in[x];
    }
}

// The picture's own colours in the order the rows meet them; empty when
// there are more than limit.
std::vector<Rgb> OwnColors(const Bitmap& bitmap, std::size_t limit) {
    std::vector<Rgb> colors;
    std::unordered_map<Rgb, bool> seen;
    std::vector<Rgb> row(static_cast<std::size_t>(bitmap.Width()));
    Rgb last = 0;
    bool any = false;
    for (int y = 0; y < bitmap.Height(); ++y) {
        ReadRow(bitmap, y, row.data());
        for (Rgb c : row) {
            if (any && c == last) continue;
            any = true;
            last = c;
            if (seen.emplace(c, true).second) {
                if (colors.size() == limit) return {};
                colors.push_back(c);
            }
        }
    }
    return colors;
}

// The index a colour gets in a table: itself when present, else the
// nearest (the luminance rule for black and white).
class IndexMapper {
public:
    explicit IndexMapper(std::vector<Rgb> table) : table_(std::move(table)) {
        for (std::size_t i = table_.size(); i-- > 0;) cache_[table_[i]] = static_cast<std::uint8_t>(i);
        mono_ = table_.size() == 2 && table_[0] == MakeRgb(0, 0, 0) && table_[1] == MakeRgb(255, 255, 255);
    }
    std::uint8_t Index(Rgb c) {
        if (c == last_ && has_last_) return last_index_;
        auto it = cache_.find(c);
        std::uint8_t index = it != cache_.end() ? it->second : Nearest(c);
        if (it == cache_.end()) cache_.emplace(c, index);
        has_last_ = true;
        last_ = c;
        last_index_ = index;
        return index;
    }
    const std::vector<Rgb>& Table() const { return table_; }

private:
    std::uint8_t Nearest(Rgb c) const {
        if (mono_) return (299 * R(c) + 587 * G(c) + 114 * B(c)) >= 128 * 1000 ? 1 : 0;
        std::size_t best = 0;
        int bestDistance = INT32_MAX;
        for (std::size_t i = 0; i < table_.size(); ++i) {
            const int dr = R(c) - R(table_[i]), dg = G(c) - G(table_[i]), db = B(c) - B(table_[i]);
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
        }
        return static_cast<std::uint8_t>(best);
    }
    std::vector<Rgb> table_;
    std::unordered_map<Rgb, std::uint8_t> cache_;
    bool mono_ = false;
    bool has_last_ = false;
    Rgb last_ = 0;
    std::uint8_t last_index_ = 0;
};

std::vector<Rgb> TableFor(const Bitmap& bitmap, int bits) {
    if (bits == 1) return FixedPalette(1);
    std::vector<Rgb> own = OwnColors(bitmap, std::size_t{1} << bits);
    return own.empty() ? FixedPalette(bits) : own;
}

// 15 and 16 bits: the packed pixel and its colour read back.
std::uint16_t Pack16(Rgb c, bool sixGreen) {
    if (sixGreen) return std::uint16_t((R(c) >> 3) << 11 | (G(c) >> 2) << 5 | (B(c) >> 3));
    return std::uint16_t((R(c) >> 3) << 10 | (G(c) >> 3) << 5 | (B(c) >> 3));
}

// A channel of a bit-field pixel widened to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;
    explicit Channel(std::uint32_t m) : mask(m) {
        if (mask == 0) return;
        shift = std::countr_zero(mask);
        max = mask >> shift;
    }
    int Of(std::uint32_t pixel) const {
        if (max == 0) return 0;
        const std::uint32_t v = (pixel & mask) >> shift;
        return static_cast<int>((std::uint64_t{v} * 255 + max / 2) / max);
    }
};

Rgb Unpack(std::uint32_t pixel, const Channel& r, const Channel& g, const Channel& b) {
    return MakeRgb(r.Of(pixel), g.Of(pixel), b.Of(pixel));
}

Rgb Reduce16(Rgb c, bool sixGreen) {
    const std::uint16_t p = Pack16(c, sixGreen);
    if (sixGreen) return Unpack(p, Channel(0xF800), Channel(0x07E0), Channel(0x001F));
    return Unpack(p, Channel(0x7C00), Channel(0x03E0), Channel(0x001F));
}

[[noreturn]] void Bad(const std::string& why) { throw EGdiError(why); }

}  // namespace

bool IsDibDepth(int bits) {
    switch (bits) {
        case 1: case 4: case 8: case 15: case 16: case 24: case 32: return true;
        default: return false;
    }
}

std::vector<COLORREF> DibPalette(const Bitmap& bitmap, int bits) {
    if (bits > 8 || !IsDibDepth(bits)) return {};
    std::vector<COLORREF> out;
    for (Rgb c : TableFor(bitmap, bits)) out.push_back(ToColorRef(c));
    return out;
}

void ReduceColors(Bitmap& bitmap, int bits) {
    if (bitmap.Empty() || !IsDibDepth(bits) || bits >= 24) return;
    std::vector<Rgb> row(static_cast<std::size_t>(bitmap.Width()));
    if (bits >= 15) {
        for (int y = 0; y < bitmap.Height(); ++y) {
            ReadRow(bitmap, y, row.data());
            for (Rgb& c : row) c = Reduce16(c, bits == 16);
            WriteRow(bitmap, y, row.data());
        }
        return;
    }
    IndexMapper mapper(TableFor(bitmap, bits));
    for (int y = 0; y < bitmap.Height(); ++y) {
        ReadRow(bitmap, y, row.data());
        for (Rgb& c : row) c = mapper.Table()[mapper.Index(c)];
        WriteRow(bitmap, y, row.data());
    }
}

DibLayout DibLayoutOf(int width, int height, int bits, std::size_t paletteSize) {
    DibLayout l;
    const std::size_t storedBits = bits == 15 ? 16 : static_cast<std::size_t>(bits);
    l.stride = (static_cast<std::size_t>(std::max(width, 0)) * storedBits + 31) / 32 * 4;
    l.image = l.stride * static_cast<std::size_t>(std::max(height, 0));
    l.header = kInfoHeaderSize + (bits == 16 ? 12 : paletteSize * 4);
    return l;
}

void AppendDib(const Bitmap& bitmap, int bits, std::vector<std::uint8_t>& out) {
    if (!IsDibDepth(bits)) Bad("A bitmap cannot be written with " + std::to_string(bits) + " bits per pixel");
    if (bitmap.Empty()) Bad("An empty bitmap cannot be written");
    const int w = bitmap.Width(), h = bitmap.Height();
    std::vector<Rgb> table = bits <= 8 ? TableFor(bitmap, bits) : std::vector<Rgb>{};
    const DibLayout layout = DibLayoutOf(w, h, bits, table.size());

    const std::size_t start = out.size();
    out.reserve(start + layout.header + layout.image);
    ByteWriter wr(out);
    wr.U32(kInfoHeaderSize);
    wr.I32(w);
    wr.I32(h);  // positive: rows bottom-up
    wr.U16(1);
    wr.U16(static_cast<std::uint16_t>(bits == 15 ? 16 : bits));
    wr.U32(bits == 16 ? BI_BITFIELDS : BI_RGB);
    wr.U32(static_cast<std::uint32_t>(layout.image));
    wr.I32(kPixelsPerMetre);
    wr.I32(kPixelsPerMetre);
    wr.U32(static_cast<std::uint32_t>(table.size()));
    wr.U32(0);
    for (Rgb c : table) {
        wr.U8(std::uint8_t(B(c)));
        wr.U8(std::uint8_t(G(c)));
        wr.U8(std::uint8_t(R(c)));
        wr.U8(0);
    }
    if (bits == 16) {
        wr.U32(0xF800);
        wr.U32(0x07E0);
        wr.U32(0x001F);
    }
    const std::size_t pixels = out.size();
    wr.Zeros(layout.image);  // padding stays zero

    std::vector<Rgb> row(static_cast<std::size_t>(w));
    std::optional<IndexMapper> mapper;
    if (bits <= 8) mapper.emplace(std::move(table));
    for (int y = 0; y < h; ++y) {
        std::uint8_t* dst = out.data() + pixels + layout.stride * static_cast<std::size_t>(h - 1 - y);
        const std::uint8_t* src = bitmap.ScanLine(y);
        switch (bits) {
            case 32:
                if (bitmap.BitsPerPixel() == 32) {
                    std::memcpy(dst, src, static_cast<std::size_t>(w) * 4);
                    if (!bitmap.HasAlpha())
                        for (int x = 0; x < w; ++x) dst[4 * x + 3] = 0xFF;
                } else {
                    for (int x = 0; x < w; ++x) {
                        std::memcpy(dst + 4 * x, src + 3 * x, 3);
                        dst[4 * x + 3] = 0xFF;
                    }
                }
                break;
            case 24:
                if (bitmap.BitsPerPixel() == 24) {
                    std::memcpy(dst, src, static_cast<std::size_t>(w) * 3);
                } else {
                    for (int x = 0; x < w; ++x) std::memcpy(dst + 3 * x, src + 4 * x, 3);
                }
                break;
            case 16:
            case 15:
                ReadRow(bitmap, y, row.data());
                for (int x = 0; x < w; ++x) {
                    const std::uint16_t p = Pack16(row[std::size_t(x)], bits == 16);
                    dst[2 * x] = std::uint8_t(p);
                    dst[2 * x + 1] = std::uint8_t(p >> 8);
                }
                break;
            default: {  // 8, 4, 1: indices, the leftmost pixel in the high bits
                ReadRow(bitmap, y, row.data());
                const int perByte = 8 / bits;
                for (int x = 0; x < w; ++x) {
                    const int shift = (perByte - 1 - x % perByte) * bits;
                    dst[x / perByte] |= std::uint8_t(mapper->Index(row[std::size_t(x)]) << shift);
                }
                break;
            }
        }
    }
}

DecodedDib DecodeDib(std::span<const std::uint8_t> header, std::span<const std::uint8_t> bits) {
    if (!Fits(header, 0, 4)) Bad("the bitmap header is missing");
    const std::uint32_t headerSize = GetU32(header, 0);
    std::int64_t width, height;
    int depth;
    std::uint32_t compression = BI_RGB, colorsUsed = 0;
    std::size_t tableAt, entrySize;
    std::uint32_t masks[3] = {0, 0, 0};
    if (headerSize == 12) {  // the old core header
        if (!Fits(header, 0, 12)) Bad("the bitmap header is cut short");
        width = GetU16(header, 4);
        height = GetU16(header, 6);
        depth = GetU16(header, 10);
        tableAt = 12;
        entrySize = 3;
    } else if (headerSize >= kInfoHeaderSize && headerSize <= 1024) {
        if (!Fits(header, 0, headerSize)) Bad("the bitmap header is cut short");
        width = GetI32(header, 4);
        height = GetI32(header, 8);
        depth = GetU16(header, 14);
        compression = GetU32(header, 16);
        colorsUsed = GetU32(header, 32);
        tableAt = headerSize;
        entrySize = 4;
        if (compression == BI_BITFIELDS) {
            std::size_t at = 40;
            if (headerSize == kInfoHeaderSize) {
                if (!Fits(header, 40, 12)) Bad("the bit-field masks are missing");
                tableAt += 12;
            }
            for (auto& m : masks) m = GetU32(header, at), at += 4;
        }
    } else {
        Bad("unknown bitmap header size " + std::to_string(headerSize));
    }
    if (compression != BI_RGB && compression != BI_BITFIELDS)
        Bad("compressed bitmaps are not supported");
    if (compression == BI_BITFIELDS && depth != 16 && depth != 32)
        Bad("bit-field masks need 16 or 32 bits per pixel");
    if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)
        Bad(std::to_string(depth) + " bits per pixel are not supported");
    const bool topDown = height < 0;
    height = topDown ? -height : height;
    if (width <= 0 || height <= 0) Bad("the bitmap has no pixels");
    if (width > kMaxSurfaceSide || height > kMaxSurfaceSide)
        Bad(std::to_string(width) + " x " + std::to_string(height) + " pixels is too large");

    std::vector<Rgb> table;
    if (depth <= 8) {
        std::size_t count = colorsUsed != 0 ? colorsUsed : std::size_t{1} << depth;
        count = std::min<std::size_t>(count, 256);
        if (!Fits(header, tableAt, count * entrySize)) Bad("the colour table is cut short");
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = tableAt + i * entrySize;
            table.push_back(MakeRgb(header[at + 2], header[at + 1], header[at]));
        }
    }
    int reported = depth;
    if (depth == 16 && compression == BI_RGB) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
        reported = 15;
    }
    const DibLayout layout = DibLayoutOf(int(width), int(height), depth, 0);
    if (bits.size() < layout.image) Bad("the pixel data is cut short");

    DecodedDib result;
    result.bits = reported;
    result.bitmap = CreateBitmap(int(width), int(height), depth == 24 ? 24 : 32);
    Bitmap& bmp = *result.bitmap;
    const Channel cr(masks[0]), cg(masks[1]), cb(masks[2]);
    std::vector<Rgb> row(static_cast<std::size_t>(width));
    for (int y = 0; y < int(height); ++y) {
        const std::uint8_t* src = bits.data() + layout.stride * std::size_t(topDown ? y : int(height) - 1 - y);
        if (depth == 24) {
            std::memcpy(bmp.ScanLine(y), src, static_cast<std::size_t>(width) * 3);
            continue;
        }
        for (int x = 0; x < int(width); ++x) {
            Rgb c;
            switch (depth) {
                case 32: {
                    const std::uint32_t p = src[4 * x] | src[4 * x + 1] << 8 | src[4 * x + 2] << 16 |
                                            std::uint32_t(src[4 * x + 3]) << 24;
                    c = compression == BI_BITFIELDS ? Unpack(p, cr, cg, cb) : (p & 0xFFFFFFu);
                    break;
                }
                case 16: c = Unpack(std::uint32_t(src[2 * x] | src[2 * x + 1] << 8), cr, cg, cb); break;
                default: {
                    const int perByte = 8 / depth;
                    const int shift = (perByte - 1 - x % perByte) * depth;
                    const std::size_t index = (src[x / perByte] >> shift) & ((1u << depth) - 1);
                    c = index < table.size() ? table[index] : 0;
                    break;
                }
            }
            row[std::size_t(x)] = c;
        }
        WriteRow(bmp, y, row.data());
    }
    return result;
}

}  // namespace gdi
