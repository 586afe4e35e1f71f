#pragma once
// Metafiles: pictures kept as the drawing calls that made them, drawn by
// playing the calls back at any size, written as an enhanced metafile
// (EMF) or a placeable Windows metafile (WMF) (what each holds:
// platform/gdi/metafile.h). A metafile is drawn through a TMetafileCanvas;
// when the canvas is freed, its calls become the metafile's picture.
#include <memory>
#include <vector>

#include "platform/gdi/dc.h"
#include "platform/vcl/graphic.h"
#include "platform/vcl/graphics.h"

namespace vcl {

class TMetafile : public TGraphic {
public:
    TMetafile();
    ~TMetafile() override;
    TMetafile(const TMetafile&) = delete;
    TMetafile& operator=(const TMetafile&) = delete;

    // The size of the picture in pixels (96 an inch). A canvas records a
    // surface of this size; the recording is played back stretched from it.
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }
    // Sides of 0 or below make an empty picture; beyond 32,767 pixels a
    // side raises gdi::EGdiError and the size is kept.
    void SetSize(int width, int height);

    // Written as an enhanced metafile (the default) or as a Windows one.
    bool Enhanced() const { return enhanced_; }
    void SetEnhanced(bool enhanced);

    // The calls of the picture (shared by copies, never changed).
    const std::vector<gdi::Record>& Records() const;
    // Replaces the picture's calls (a canvas hands its calls over so).
    void SetRecords(std::vector<gdi::Record> records);
    // Drops the calls, keeping the size.
    void Clear();

    // Plays the calls back stretched into r, clipped to it.
    void Draw(TCanvas& canvas, const TRect& r) const override;
    // The file bytes of the picture: EMF or WMF as Enhanced says.
    std::vector<std::uint8_t> FileBytes() const;
    std::vector<std::uint8_t> FileBytes(bool enhanced) const;
    // Writes FileBytes. A picture without a size raises EInvalidGraphic
    // and writes nothing; a stream that fails raises its write error.
    void SaveToStream(TStream& stream) const override;
    // Metafile files are written, not read: raises EInvalidGraphic.
    void LoadFromStream(TStream& stream) override;
    // From a metafile: its size, calls and kind.
    void Assign(const TPersistent& Source) override;
    std::unique_ptr<TGraphic> Clone() const override;

private:
    int width_ = 0;
    int height_ = 0;
    bool enhanced_ = true;
    std::shared_ptr<const std::vector<gdi::Record>> records_;
};

// A canvas whose drawing is recorded for a metafile: a surface of the
// metafile's size that answers text and clip questions as a raster one,
// and pixel reads with clNone. Freeing the canvas gives the metafile the
// calls (replacing what it had).
class TMetafileCanvas : public TCanvas {
public:
    explicit TMetafileCanvas(TMetafile& metafile);
    ~TMetafileCanvas() override;
    TMetafileCanvas(const TMetafileCanvas&) = delete;
    TMetafileCanvas& operator=(const TMetafileCanvas&) = delete;

private:
    TMetafile& metafile_;
    std::unique_ptr<gdi::DC> dc_;
};

}  // namespace vcl
