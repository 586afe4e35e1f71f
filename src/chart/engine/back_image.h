#pragma once
// The background picture of a panel (and the picture of a framed shape):
// stretched, tiled, centred or placed at an offset, over the whole panel
// or inside the chart rectangle.
#include <cstdint>

#include "chart/drawing/plot_filters.h"
#include "platform/vcl/graphics.h"

namespace chart::engine {

class TCustomPlotPanelExtended;

enum TPlotBackImageMode : std::uint8_t { pbmStretch, pbmTile, pbmCenter, pbmCustom };

class TBackImage : public chart::TPlotPicture {
  public:
    bool Inside() const { return inside_; }
    int Left() const { return left_; }
    int Top() const { return top_; }
    TPlotBackImageMode Mode() const { return mode_; }
    // Each tells the picture's change event when the value changes.
    void SetInside(bool Value);
    void SetLeft(int Value);
    void SetTop(int Value);
    void SetMode(TPlotBackImageMode Value);

    // From a back image: Inside, Left, Top and Mode; then the picture.
    void Assign(const vcl::TPersistent& Source) override;

    // Draws the picture into Rect on Panel's surface by Mode. Z is the
    // depth of the plane (0: flat); pictures on planes at a depth are not
    // available yet.
    void Draw(TCustomPlotPanelExtended& Panel, const vcl::TRect& Rect, int Z);

  private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        if (OnChange) OnChange();
    }
    bool inside_ = false;
    int left_ = 0;
    int top_ = 0;
    TPlotBackImageMode mode_ = pbmStretch;
};

}  // namespace chart::engine
