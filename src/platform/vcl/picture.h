#pragma once
// Pictures: a holder of one graphic of any registered kind, loaded by file
// extension, and the PNG graphic (read and written through libpng).
#include <functional>
#include <memory>
#include <string>

#include "platform/gdi/dc.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/graphic.h"

namespace vcl {

// A PNG image. Pictures with an alpha channel keep it and are drawn blended.
class TPngGraphic : public TGraphic {
public:
    TPngGraphic();
    ~TPngGraphic() override;

    int Width() const override { return bitmap_->Width(); }
    int Height() const override { return bitmap_->Height(); }
    bool HasAlpha() const { return bitmap_->HasAlpha(); }
    // 32 bits per pixel: blue, green, red, alpha (255 without an alpha channel).
    const gdi::HBITMAP& Handle() const { return bitmap_; }

    void Draw(TCanvas& canvas, const TRect& r) const override;
    // Raises EInvalidGraphic "Invalid PNG image: <reason>" and keeps the old
    // pixels when the data is not a PNG image this program can hold.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    // From a PNG graphic or a bitmap: its pixels.
    void Assign(const TPersistent& Source) override;
    std::unique_ptr<TGraphic> Clone() const override;

private:
    gdi::HDC SelectedDC() const;
    gdi::HBITMAP bitmap_;
    mutable std::unique_ptr<gdi::DC> dc_;
};

class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    TGraphic* Graphic() const { return graphic_.get(); }
    // Takes a copy of graphic (none: the picture becomes empty).
    void SetGraphic(const TGraphic* graphic);
    // The graphic as a bitmap: another graphic is first replaced by a bitmap
    // of it, an empty picture gets an empty bitmap.
    TBitmap& Bitmap();
    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }

    // The graphic class is chosen by the file's extension (case does not
    // matter); an unknown one raises EInvalidGraphic.
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;
    // From a picture: a copy of its graphic; from a graphic: a copy of it.
    void Assign(const TPersistent& Source) override;

    std::function<void()> OnChange;

    using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;
    // Registers the graphic class for files with the extension ("png").
    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   TGraphicFactory factory);
    static void UnregisterFileFormat(const std::string& extension);

private:
    void Take(std::unique_ptr<TGraphic> graphic);
    void Changed() {
        if (OnChange) OnChange();
    }
    std::unique_ptr<TGraphic> graphic_;
};

}  // namespace vcl
