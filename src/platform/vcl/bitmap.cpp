#include "platform/vcl/bitmap.h"

#include "platform/vcl/streams.h"

namespace vcl {

namespace {

int BitsOf(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pfDevice:
        case TPixelFormat::pf32bit: return 32;
        case TPixelFormat::pf24bit: return 24;
        default:
            throw EInvalidGraphicOperation(
                "Bitmaps hold 24 or 32 bits per pixel; this pixel format is not supported");
    }
}

}  // namespace

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
    const int bits = BitsOf(format);
    format_ = format;
    if (bits != bitmap_->BitsPerPixel()) {
        bitmap_->SetBitsPerPixel(bits);
        Changed();
    }
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

void TBitmap::LoadFromStream(TStream&) {
    throw EInvalidGraphic("Reading bitmap files is not available yet");
}

void TBitmap::SaveToStream(TStream&) const {
    throw EInvalidGraphic("Writing bitmap files is not available yet");
}

std::unique_ptr<TGraphic> TBitmap::Clone() const {
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(*this);
    return copy;
}

}  // namespace vcl
