#pragma once
// Transparency blocks: the pixels under a rectangle are saved when a block
// starts; when it ends they are mixed back over what was drawn meanwhile,
// so that the drawing shows Transparency percent see-through.
#include <memory>

#include "chart/drawing/plot_geometry.h"

namespace vcl {
class TBitmap;
}

namespace chart {

class TPlotCanvas;

class TPlotBlend {
public:
    // Saves the pixels under R on Canvas (see SetRectangle).
    TPlotBlend(TPlotCanvas& Canvas, const TRect& R);
    virtual ~TPlotBlend();
    TPlotBlend(const TPlotBlend&) = delete;
    TPlotBlend& operator=(const TPlotBlend&) = delete;

    // R normalised, negative coordinates made 0, at least one pixel wide and
    // high, limited to the canvas Bounds; when that leaves a rectangle, the
    // pixels under it are copied (in the surface's pixel format).
    void SetRectangle(const TRect& R);
    // Mixes the saved pixels back: 0 keeps the drawing, 100 restores what
    // was there before (values outside 0..100 are taken as the nearer end).
    // Nothing happens while the canvas draws into a metafile.
    void DoBlend(int Transparency);

    // The transparency the block was begun with (EndBlending mixes with it).
    int Transparency = 0;

    const TRect& Rectangle() const { return rect_; }
    bool Valid() const { return valid_; }
    vcl::TBitmap* Saved() const { return saved_.get(); }

private:
    TPlotCanvas& canvas_;
    TRect rect_;
    bool valid_ = false;
    std::unique_ptr<vcl::TBitmap> saved_;
};

// Mixes Saved over Target at (X, Y) (both 24 or 32 bits per pixel):
// each channel t becomes t + Transparency * (s - t) / 100 (truncated), a
// pure white target pixel first losing one step of red. Transparency is
// held to 0..100. Used where the platform blend is not available.
void PlotBlendPixels(const vcl::TBitmap& Saved, vcl::TBitmap& Target, int X, int Y, int Transparency);

}  // namespace chart
