#pragma once
// Chart panels for tests: a panel that paints its background (as the first
// step of a chart paint does) and then whatever the test adds, counting its
// full paints and its invalidations. Header only: the chart engine's tests
// link the engine.
#include <functional>

#include "chart/engine/axis_panel.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/forms.h"

namespace test_support {

class BackgroundPanel : public chart::engine::TCustomAxisPanel {
  public:
    // The application (with its toolkit) comes first: the panel is a window.
    explicit BackgroundPanel(vcl::TComponent* AOwner = nullptr)
        : TCustomAxisPanel((vcl::EnsureApplication(), AOwner)) {}

    int Draws = 0;
    int Invalidations = 0;
    // Drawn after the background, with the rectangle InternalDraw got.
    std::function<void(BackgroundPanel&, const vcl::TRect&)> Extra;

    void InternalDraw(const vcl::TRect& Rect) override {
        ++Draws;
        DrawPanelBackground(Rect);
        if (Extra) Extra(*this, Rect);
    }
    void Invalidate() override {
        ++Invalidations;
        TCustomAxisPanel::Invalidate();
    }
};

inline gdi::COLORREF PixelAt(vcl::TBitmap& b, int x, int y) { return b.Handle()->GetPixel(x, y); }

}  // namespace test_support
