#include "platform/vcl/picture.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/rtl/cp1251.h"
#include "platform/vcl/streams.h"

namespace vcl {

namespace {

// Frees libpng's state however the work ends.
struct PngImage {
    png_image image{};
    PngImage() { image.version = PNG_IMAGE_VERSION; }
    ~PngImage() { png_image_free(&image); }
    std::string Message() const { return image.message; }
};

struct Format {
    std::string extension;  // lower case, no dot
    std::string description;
    TPicture::TGraphicFactory factory;
};

std::vector<Format>& Formats() {
    static std::vector<Format> formats = {
        {"png", "Portable Network Graphics", [] { return std::make_unique<TPngGraphic>(); }},
        {"bmp", "Bitmaps", [] { return std::make_unique<TBitmap>(); }},
    };
    return formats;
}

std::string ExtensionOf(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    const auto slash = fileName.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return rtl::AnsiLowerCase(fileName.substr(dot + 1));
}

const Format& FormatFor(const std::string& fileName) {
    const std::string ext = ExtensionOf(fileName);
    for (const Format& f : Formats())
        if (f.extension == ext) return f;
    throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
}

}  // namespace

// ---- PNG

TPngGraphic::TPngGraphic() : bitmap_(gdi::CreateBitmap(0, 0)) {}
TPngGraphic::~TPngGraphic() = default;

gdi::HDC TPngGraphic::SelectedDC() const {
    if (!dc_) dc_ = gdi::DC::CreateCompatibleDC();
    if (dc_->CurrentBitmap() != bitmap_) dc_->SelectObject(bitmap_);
    return dc_.get();
}

void TPngGraphic::Draw(TCanvas& canvas, const TRect& r) const {
    if (Empty()) return;
    gdi::HDC dest = canvas.Handle();
    if (HasAlpha()) {
        gdi::BLENDFUNCTION blend;
        blend.AlphaFormat = gdi::AC_SRC_ALPHA;
        dest->AlphaBlend(r.Left, r.Top, r.Width(), r.Height(), SelectedDC(), 0, 0, Width(),
                         Height(), blend);
    } else {
        dest->StretchBlt(r.Left, r.Top, r.Width(), r.Height(), SelectedDC(), 0, 0, Width(),
                         Height(), canvas.CopyMode);
    }
}

void TPngGraphic::LoadFromStream(TStream& stream) {
    const std::int64_t left = stream.Size() - stream.Position();
    if (left <= 0 || left > std::int64_t{1} << 30) throw EInvalidGraphic("Invalid PNG image: no data");
    std::vector<std::uint8_t> data(static_cast<std::size_t>(left));
    stream.ReadBuffer(data.data(), static_cast<std::int32_t>(data.size()));
    PngImage png;
    if (!png_image_begin_read_from_memory(&png.image, data.data(), data.size()))
        throw EInvalidGraphic("Invalid PNG image: " + png.Message());
    if (png.image.width > gdi::kMaxSurfaceSide || png.image.height > gdi::kMaxSurfaceSide)
        throw EInvalidGraphic("Invalid PNG image: " + std::to_string(png.image.width) + " x " +
                              std::to_string(png.image.height) + " pixels is too large");
    const bool alpha = (png.image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.image.format = PNG_FORMAT_BGRA;
    auto pixels = gdi::CreateBitmap(int(png.image.width), int(png.image.height), 32);
    pixels->SetHasAlpha(true);
    if (!png_image_finish_read(&png.image, nullptr, pixels->ScanLine(0), pixels->BytesPerLine(),
                               nullptr))
        throw EInvalidGraphic("Invalid PNG image: " + png.Message());
    pixels->SetHasAlpha(alpha);
    bitmap_ = std::move(pixels);
    Changed();
}

void TPngGraphic::SaveToStream(TStream& stream) const {
    if (Empty()) throw EInvalidGraphic("An empty picture cannot be written as a PNG image");
    PngImage png;
    png.image.width = static_cast<png_uint_32>(Width());
    png.image.height = static_cast<png_uint_32>(Height());
    std::vector<std::uint8_t> rows;
    const void* buffer = bitmap_->ScanLine(0);
    int stride = bitmap_->BytesPerLine();
    if (HasAlpha()) {
        png.image.format = PNG_FORMAT_BGRA;
    } else {
        // Opaque pixels: written without an alpha channel.
        png.image.format = PNG_FORMAT_BGR;
        stride = Width() * 3;
        rows.resize(static_cast<std::size_t>(stride) * Height());
        for (int y = 0; y < Height(); ++y) {
            const std::uint8_t* src = bitmap_->ScanLine(y);
            std::uint8_t* dst = rows.data() + static_cast<std::size_t>(y) * stride;
            for (int x = 0; x < Width(); ++x) std::memcpy(dst + 3 * x, src + 4 * x, 3);
        }
        buffer = rows.data();
    }
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png.image, nullptr, &size, 0, buffer, stride, nullptr))
        throw EInvalidGraphic("PNG image could not be written: " + png.Message());
    std::vector<std::uint8_t> out(size);
    if (!png_image_write_to_memory(&png.image, out.data(), &size, 0, buffer, stride, nullptr))
        throw EInvalidGraphic("PNG image could not be written: " + png.Message());
    stream.WriteBuffer(out.data(), static_cast<std::int32_t>(size));
}

void TPngGraphic::Assign(const TPersistent& Source) {
    if (&Source == this) return;
    if (const auto* png = dynamic_cast<const TPngGraphic*>(&Source)) {
        bitmap_ = png->bitmap_->Clone();
        Changed();
        return;
    }
    if (const auto* bmp = dynamic_cast<const TBitmap*>(&Source)) {
        auto pixels = bmp->Handle()->Clone();
        pixels->SetBitsPerPixel(32);
        bitmap_ = std::move(pixels);
        Changed();
        return;
    }
    TGraphic::Assign(Source);
}

std::unique_ptr<TGraphic> TPngGraphic::Clone() const {
    auto copy = std::make_unique<TPngGraphic>();
    copy->Assign(*this);
    return copy;
}

// ---- TPicture

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::Take(std::unique_ptr<TGraphic> graphic) {
    graphic_ = std::move(graphic);
    if (graphic_) graphic_->OnChange = [this] { Changed(); };
    Changed();
}

void TPicture::SetGraphic(const TGraphic* graphic) {
    if (graphic == graphic_.get() && graphic) return;
    Take(graphic ? graphic->Clone() : nullptr);
}

TBitmap& TPicture::Bitmap() {
    if (auto* bmp = dynamic_cast<TBitmap*>(graphic_.get())) return *bmp;
    auto bmp = std::make_unique<TBitmap>();
    if (graphic_) bmp->Assign(*graphic_);
    TBitmap& ref = *bmp;
    Take(std::move(bmp));
    return ref;
}

void TPicture::LoadFromFile(const std::string& fileName) {
    std::unique_ptr<TGraphic> graphic = FormatFor(fileName).factory();
    graphic->LoadFromFile(fileName);
    Take(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& fileName) const {
    if (graphic_) graphic_->SaveToFile(fileName);
}

void TPicture::Assign(const TPersistent& Source) {
    if (&Source == this) return;
    if (const auto* pic = dynamic_cast<const TPicture*>(&Source)) return SetGraphic(pic->Graphic());
    if (const auto* graphic = dynamic_cast<const TGraphic*>(&Source)) return SetGraphic(graphic);
    TPersistent::Assign(Source);
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  TGraphicFactory factory) {
    const std::string ext = rtl::AnsiLowerCase(extension);
    UnregisterFileFormat(ext);
    Formats().push_back({ext, description, std::move(factory)});
}

void TPicture::UnregisterFileFormat(const std::string& extension) {
    const std::string ext = rtl::AnsiLowerCase(extension);
    auto& formats = Formats();
    formats.erase(std::remove_if(formats.begin(), formats.end(),
                                 [&](const Format& f) { return f.extension == ext; }),
                  formats.end());
}

}  // namespace vcl
