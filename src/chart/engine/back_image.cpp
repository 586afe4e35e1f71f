#include "chart/engine/back_image.h"

#include <algorithm>

#include "chart/drawing/not_available.h"
#include "chart/engine/plot_panel_extended.h"
#include "platform/vcl/graphic.h"

namespace chart::engine {

void TBackImage::SetInside(bool Value) { Store(inside_, Value); }
void TBackImage::SetLeft(int Value) { Store(left_, Value); }
void TBackImage::SetTop(int Value) { Store(top_, Value); }
void TBackImage::SetMode(TPlotBackImageMode Value) { Store(mode_, Value); }

void TBackImage::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TBackImage*>(&Source)) {
        if (other == this) return;
        inside_ = other->inside_;
        left_ = other->left_;
        top_ = other->top_;
        mode_ = other->mode_;
    }
    chart::TPlotPicture::Assign(Source);
}

void TBackImage::Draw(TCustomPlotPanelExtended& Panel, const vcl::TRect& Rect, int Z) {
    vcl::TGraphic* graphic = FilteredGraphic();
    if (!graphic) return;
    TCanvas3D& canvas = *Panel.Canvas();
    if (mode_ == pbmStretch && Z < 1) {
        canvas.StretchDraw(Rect, graphic);
        return;
    }
    if (Z != 0) NotAvailableYet("A picture on a plane at a depth");
    const bool clip = Panel.CanClip();
    if (clip) canvas.ClipRectangle(Rect);
    try {
        const long long w = graphic->Width(), h = graphic->Height();
        const long long rw = (long long)Rect.Right - Rect.Left,
                        rh = (long long)Rect.Bottom - Rect.Top;
        if (mode_ == pbmTile) {
            if (w >= 1 && h >= 1) {
                // Only the tiles that reach into this paint's surface are
                // drawn: a tiny picture in a huge rectangle would take for
                // ever otherwise.
                const vcl::TRect& seen = Panel.ChartBounds;
                auto first = [](long long from, long long step) {
                    return from > 0 ? from / step * step : 0;
                };
                const long long y0 = first((long long)seen.Top - Rect.Top, h);
                const long long x0 = first((long long)seen.Left - Rect.Left, w);
                const long long yEnd = std::min(rh, (long long)seen.Bottom - Rect.Top);
                const long long xEnd = std::min(rw, (long long)seen.Right - Rect.Left);
                for (long long y = y0; y < yEnd; y += h)
                    for (long long x = x0; x < xEnd; x += w)
                        canvas.Draw(static_cast<int>(Rect.Left + x), static_cast<int>(Rect.Top + y),
                                    graphic);
            }
        } else {
            Panel.FillPanelRect(Rect);
            long long x, y;
            if (mode_ == pbmCustom) {
                x = (long long)Rect.Left + left_;
                y = (long long)Rect.Top + top_;
            } else {
                x = Rect.Left + (rw - w) / 2;
                y = Rect.Top + (rh - h) / 2;
            }
            canvas.Draw(static_cast<int>(std::clamp<long long>(x, INT32_MIN, INT32_MAX)),
                        static_cast<int>(std::clamp<long long>(y, INT32_MIN, INT32_MAX)), graphic);
        }
    } catch (...) {
        if (clip) canvas.UnClipRectangle();
        throw;
    }
    if (clip) canvas.UnClipRectangle();
}

}  // namespace chart::engine
