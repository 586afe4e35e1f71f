#pragma once
// Bitmaps: pixels with a canvas to draw on them and rows to read and write
// directly. 24-bit rows hold blue, green, red; 32-bit rows blue, green,
// red and a fourth byte. A new bitmap, and what a bitmap grows by, is white.
//
// The pixel formats below 24 bits are the depths a bitmap is written with:
// such a bitmap keeps 32-bit rows to draw on, its pixels are reduced to the
// colours of its format when the format is set, and again when the bitmap
// is written (the depths and their colours: platform/gdi/dib.h).
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi/dc.h"
#include "platform/vcl/graphic.h"

namespace vcl {

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

class TBitmap : public TGraphic {
public:
    TBitmap();
    TBitmap(int width, int height);
    ~TBitmap() override;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int Width() const override;
    int Height() const override;
    // Sides of 0 or below make an empty bitmap; beyond 32,767 pixels a
    // side raises gdi::EGdiError and the bitmap keeps its size.
    void SetWidth(int width) { SetSize(width, Height()); }
    void SetHeight(int height) { SetSize(Width(), height); }
    void SetSize(int width, int height);

    // pf24bit holds 24 bits per pixel, every other format 32; pfCustom
    // raises EInvalidGraphicOperation. pfDevice is written with 32 bits.
    TPixelFormat PixelFormat() const { return format_; }
    void SetPixelFormat(TPixelFormat format);
    // A monochrome bitmap is one of format pf1bit: black and white.
    // Switching monochrome off gives pfDevice.
    bool Monochrome() const { return format_ == TPixelFormat::pf1bit; }
    void SetMonochrome(bool monochrome);

    TCanvas& Canvas();
    // Row 0 is the top row; a row outside the bitmap raises
    // EInvalidGraphicOperation "Scan line index out of range".
    std::uint8_t* ScanLine(int row);

    // The pixels themselves (shared, not copied).
    const gdi::HBITMAP& Handle() const { return bitmap_; }

    void Draw(TCanvas& canvas, const TRect& r) const override;
    // From a bitmap: its size, format and pixels; from another graphic: a
    // bitmap of its size with the graphic drawn on white.
    void Assign(const TPersistent& Source) override;
    // Bitmap files: a 14-byte file header and a device-independent bitmap
    // at the depth of the pixel format, rows bottom-up. Reading takes the
    // depths and headers DecodeDib takes; the format becomes the file's.
    // A file that cannot be read raises EInvalidGraphic "Invalid bitmap
    // image: <reason>" and keeps the old pixels; an empty bitmap, or one the
    // memory cannot hold as a file, raises EInvalidGraphic and writes nothing.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    // The bytes SaveToStream writes.
    std::vector<std::uint8_t> FileBytes() const;
    std::unique_ptr<TGraphic> Clone() const override;

private:
    void Reselect();
    // A memory DC with the pixels selected (the canvas draws through it).
    gdi::HDC SelectedDC() const;

    gdi::HBITMAP bitmap_;
    TPixelFormat format_ = TPixelFormat::pfDevice;
    mutable std::unique_ptr<gdi::DC> dc_;
    std::unique_ptr<TCanvas> canvas_;
};

}  // namespace vcl
