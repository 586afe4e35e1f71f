#pragma once
// Chart panels for tests: a panel that paints its background (as the first
// step of a chart paint does) and then whatever the test adds, counting its
// full paints and its invalidations; and what its paints leave behind, as
// pixels or as the calls a recording device context kept. Header only: the
// chart engine's tests link the engine.
#include <functional>
#include <memory>
#include <vector>

#include "chart/engine/axis_panel.h"
#include "platform/gdi/dc.h"
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

    // Width x height, no bevels, one colour.
    void MakePlain(int width, int height, vcl::TColor color) {
        SetBounds(0, 0, width, height);
        SetBevelOuter(vcl::TBevelCut::bvNone);
        SetColor(color);
    }
    // A paint onto a bitmap of the panel's size.
    std::unique_ptr<vcl::TBitmap> Render() { return CreateBitmap(); }
    // The calls of a paint onto a recording device context of the panel's size.
    std::vector<gdi::Record> Record() {
        auto dc = gdi::DC::CreateRecordingDC(Width(), Height());
        vcl::TCanvas target;
        target.SetHandle(dc.get());
        DrawToCanvas(&target, {0, 0, Width(), Height()});
        return dc->Records();
    }
};

inline gdi::COLORREF PixelAt(vcl::TBitmap& b, int x, int y) { return b.Handle()->GetPixel(x, y); }

// The records of one call, in order.
inline std::vector<gdi::Record> RecordsOf(const std::vector<gdi::Record>& records,
                                          gdi::RecordOp op) {
    std::vector<gdi::Record> out;
    for (const gdi::Record& r : records)
        if (r.Op == op) out.push_back(r);
    return out;
}

}  // namespace test_support
