#include "platform/vcl/bitmap.h"

#include <algorithm>
#include <new>

#include "platform/gdi/bytes.h"
#include "platform/gdi/dib.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/streams.h"

namespace vcl {

namespace {

// The depth a format is written with.
int FileBitsOf(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf1bit: return 1;
        case TPixelFormat::pf4bit: return 4;
        case TPixelFormat::pf8bit: return 8;
        case TPixelFormat::pf15bit: return 15;
        case TPixelFormat::pf16bit: return 16;
        case TPixelFormat::pf24bit: return 24;
        case TPixelFormat::pfDevice:
        case TPixelFormat::pf32bit: return 32;
        default:
            throw EInvalidGraphicOperation("This pixel format is not supported");
    }
}

TPixelFormat FormatOfBits(int bits) {
    switch (bits) {
        case 1: return TPixelFormat::pf1bit;
        case 4: return TPixelFormat::pf4bit;
        case 8: return TPixelFormat::pf8bit;
        case 15: return TPixelFormat::pf15bit;
        case 16: return TPixelFormat::pf16bit;
        case 24: return TPixelFormat::pf24bit;
        default: return TPixelFormat::pf32bit;
    }
}

// Bytes of the rows kept for a format.
int StorageBitsOf(TPixelFormat format) { return format == TPixelFormat::pf24bit ? 24 : 32; }

constexpr std::size_t kFileHeaderSize = 14;
// Larger than any bitmap of kMaxSurfaceSide pixels a side can be.
constexpr std::int64_t kLargestBitmapFile = std::int64_t{1} << 33;

}  // namespace

void WriteGraphicBytes(TStream& stream, std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t n = std::min(kChunk, bytes.size() - done);
        stream.WriteBuffer(bytes.data() + done, static_cast<std::int32_t>(n));
        done += n;
    }
}

std::vector<std::uint8_t> ReadGraphicBytes(TStream& stream, const std::string& format,
                                           std::int64_t limit) {
    const std::int64_t left = stream.Size() - stream.Position();
    if (left <= 0) throw EInvalidGraphic("Invalid " + format + " image: no data");
    if (left > limit) throw EInvalidGraphic("Invalid " + format + " image: too much data");
    std::vector<std::uint8_t> data(static_cast<std::size_t>(left));
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    for (std::size_t done = 0; done < data.size();) {
        const std::size_t n = std::min(kChunk, data.size() - done);
        stream.ReadBuffer(data.data() + done, static_cast<std::int32_t>(n));
        done += n;
    }
    return data;
}

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) const {
    TFileStream stream(fileName, fmCreate);
    SaveToStream(stream);
}

TBitmap::TBitmap() : bitmap_(gdi::CreateBitmap(0, 0)) {}

TBitmap::TBitmap(int width, int height) : bitmap_(gdi::CreateBitmap(width, height)) {}

TBitmap::~TBitmap() {
    canvas_.reset();
    dc_.reset();
}

int TBitmap::Width() const { return bitmap_->Width(); }
int TBitmap::Height() const { return bitmap_->Height(); }

void TBitmap::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width() && height == Height()) return;
    bitmap_->SetSize(width, height);
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    const int fileBits = FileBitsOf(format);
    const int bits = StorageBitsOf(format);
    const bool changed = format != format_;
    format_ = format;
    if (bits != bitmap_->BitsPerPixel()) bitmap_->SetBitsPerPixel(bits);
    if (changed) {
        gdi::ReduceColors(*bitmap_, fileBits);
        Changed();
    }
}

void TBitmap::SetMonochrome(bool monochrome) {
    if (monochrome == Monochrome()) return;
    SetPixelFormat(monochrome ? TPixelFormat::pf1bit : TPixelFormat::pfDevice);
}

gdi::HDC TBitmap::SelectedDC() const {
    if (!dc_) {
        dc_ = gdi::DC::CreateCompatibleDC();
        dc_->SelectObject(bitmap_);
    }
    return dc_.get();
}

TCanvas& TBitmap::Canvas() {
    if (!canvas_) {
        canvas_ = std::make_unique<TCanvas>();
        canvas_->SetHandle(SelectedDC());
    }
    return *canvas_;
}

void TBitmap::Reselect() {
    if (dc_) dc_->SelectObject(bitmap_);
}

std::uint8_t* TBitmap::ScanLine(int row) {
    if (row < 0 || row >= Height()) throw EInvalidGraphicOperation("Scan line index out of range");
    return bitmap_->ScanLine(row);
}

void TBitmap::Draw(TCanvas& canvas, const TRect& r) const {
    if (Empty()) return;
    if (Transparent()) {
        // The pixels of the bottom-left pixel's colour become fully
        // transparent, the others opaque, and the copy is blended.
        const gdi::COLORREF key = bitmap_->GetPixel(0, Height() - 1);
        gdi::HBITMAP masked = bitmap_->Clone();
        masked->SetBitsPerPixel(32);
        masked->SetHasAlpha(true);
        for (int y = 0; y < Height(); ++y) {
            std::uint8_t* row = masked->ScanLine(y);
            for (int x = 0; x < Width(); ++x, row += 4) {
                const bool clear = bitmap_->GetPixel(x, y) == key;
                if (clear) row[0] = row[1] = row[2] = 0;
                row[3] = clear ? 0 : 255;
            }
        }
        auto dc = gdi::DC::CreateCompatibleDC();
        dc->SelectObject(masked);
        gdi::BLENDFUNCTION blend;
        blend.AlphaFormat = gdi::AC_SRC_ALPHA;
        canvas.Handle()->AlphaBlend(r.Left, r.Top, r.Width(), r.Height(), dc.get(), 0, 0, Width(),
                                    Height(), blend);
        return;
    }
    canvas.Handle()->StretchBlt(r.Left, r.Top, r.Width(), r.Height(), SelectedDC(), 0, 0, Width(),
                                Height(), canvas.CopyMode);
}

void TBitmap::Assign(const TPersistent& Source) {
    if (&Source == this) return;
    if (const auto* other = dynamic_cast<const TBitmap*>(&Source)) {
        bitmap_ = other->bitmap_->Clone();
        format_ = other->format_;
        Reselect();
        Changed();
        return;
    }
    if (const auto* graphic = dynamic_cast<const TGraphic*>(&Source)) {
        auto pixels = gdi::CreateBitmap(graphic->Width(), graphic->Height(), bitmap_->BitsPerPixel());
        bitmap_ = std::move(pixels);
        Reselect();
        if (!Empty()) graphic->Draw(Canvas(), {0, 0, Width(), Height()});
        Changed();
        return;
    }
    TGraphic::Assign(Source);
}

void TBitmap::LoadFromStream(TStream& stream) {
    const std::vector<std::uint8_t> data = ReadGraphicBytes(stream, "bitmap", kLargestBitmapFile);
    const std::span<const std::uint8_t> bytes(data);
    if (!gdi::Fits(bytes, 0, kFileHeaderSize) || data[0] != 'B' || data[1] != 'M')
        throw EInvalidGraphic("Invalid bitmap image: not a bitmap file");
    const std::uint32_t offBits = gdi::GetU32(bytes, 10);
    if (offBits < kFileHeaderSize + 12 || offBits > data.size())
        throw EInvalidGraphic("Invalid bitmap image: the pixel data is not in the file");
    gdi::DecodedDib dib;
    try {
        dib = gdi::DecodeDib(bytes.subspan(kFileHeaderSize, offBits - kFileHeaderSize),
                             bytes.subspan(offBits));
    } catch (const gdi::EGdiError& e) {
        throw EInvalidGraphic(std::string("Invalid bitmap image: ") + e.what());
    }
    bitmap_ = std::move(dib.bitmap);
    format_ = FormatOfBits(dib.bits);
    Reselect();
    Changed();
}

std::vector<std::uint8_t> TBitmap::FileBytes() const {
    if (Empty()) throw EInvalidGraphic("An empty bitmap cannot be written");
    std::vector<std::uint8_t> out;
    try {
        out.resize(kFileHeaderSize);
        gdi::AppendDib(*bitmap_, FileBitsOf(format_), out);
    } catch (const std::bad_alloc&) {
        throw EInvalidGraphic("Not enough memory to write a bitmap of " + std::to_string(Width()) +
                              " x " + std::to_string(Height()) + " pixels");
    } catch (const gdi::EGdiError& e) {
        throw EInvalidGraphic(e.what());
    }
    const gdi::DibLayout layout = gdi::DibLayoutOf(Width(), Height(), FileBitsOf(format_), 0);
    gdi::ByteWriter header(out);
    out[0] = 'B';
    out[1] = 'M';
    header.PatchU32(2, static_cast<std::uint32_t>(std::min<std::size_t>(out.size(), UINT32_MAX)));
    header.PatchU32(10, static_cast<std::uint32_t>(out.size() - layout.image));
    return out;
}

void TBitmap::SaveToStream(TStream& stream) const { WriteGraphicBytes(stream, FileBytes()); }

std::unique_ptr<TGraphic> TBitmap::Clone() const {
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(*this);
    return copy;
}

}  // namespace vcl
