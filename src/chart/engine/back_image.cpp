#include "chart/engine/back_image.h"

#include <algorithm>

#include "chart/engine/plot_panel_extended.h"
#include "platform/vcl/graphic.h"

namespace chart::engine {

namespace {

// The plane of DrawBitmapCells at a fixed depth.
constexpr int kFrontPlane = 2;

}  // namespace

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
    const bool orthogonal = Panel.View3DOptions().Orthogonal();
    // A plane at a depth: in an orthogonal view a plain rectangle at its
    // projected corners (one row lower in 2D), in a free view a picture
    // drawn cell by cell onto the plane.
    auto projected = [&] {
        vcl::TRect r = canvas.CalcRect3D(Rect, Z);
        if (!Panel.View3D()) ++r.Top;
        return r;
    };
    auto onPlane = [&](const vcl::TRect& r) { canvas.DrawBitmapCells(r, graphic, kFrontPlane, Z); };
    if (mode_ == pbmStretch) {
        if (Z < 1) canvas.StretchDraw(Rect, graphic);
        else if (!orthogonal) onPlane(Rect);
        else canvas.StretchDraw(projected(), graphic);
        return;
    }
    const bool clip = Panel.CanClip();
    if (clip) {
        if (Z == 0) canvas.ClipRectangle(Rect);
        else canvas.ClipCube(Rect, 0, Z);
    }
    const bool flat = Z < 1 || orthogonal;
    const vcl::TRect area = Z > 0 && orthogonal ? projected() : Rect;
    try {
        const long long w = graphic->Width(), h = graphic->Height();
        const long long rw = (long long)area.Right - area.Left,
                        rh = (long long)area.Bottom - area.Top;
        auto place = [&](long long x, long long y) {
            const int px = static_cast<int>(std::clamp<long long>(x, INT32_MIN, INT32_MAX));
            const int py = static_cast<int>(std::clamp<long long>(y, INT32_MIN, INT32_MAX));
            if (flat) canvas.Draw(px, py, graphic);
            else onPlane({px, py, static_cast<int>(std::clamp<long long>(px + w, INT32_MIN, INT32_MAX)),
                          static_cast<int>(std::clamp<long long>(py + h, INT32_MIN, INT32_MAX))});
        };
        if (mode_ == pbmTile) {
            if (w >= 1 && h >= 1) {
                // Only the tiles that reach into this paint's surface are
                // drawn: a tiny picture in a huge rectangle would take for
                // ever otherwise.
                const vcl::TRect& seen = Panel.ChartBounds;
                auto first = [](long long from, long long step) {
                    return from > 0 ? from / step * step : 0;
                };
                const long long y0 = first((long long)seen.Top - area.Top, h);
                const long long x0 = first((long long)seen.Left - area.Left, w);
                const long long yEnd = std::min(rh, (long long)seen.Bottom - area.Top);
                const long long xEnd = std::min(rw, (long long)seen.Right - area.Left);
                for (long long y = y0; y < yEnd; y += h)
                    for (long long x = x0; x < xEnd; x += w) place(area.Left + x, area.Top + y);
            }
        } else {
            Panel.FillPanelRect(area);
            if (mode_ == pbmCustom) place((long long)area.Left + left_, (long long)area.Top + top_);
            else place(area.Left + (rw - w) / 2, area.Top + (rh - h) / 2);
        }
    } catch (...) {
        if (clip) canvas.UnClipRectangle();
        throw;
    }
    if (clip) canvas.UnClipRectangle();
}

}  // namespace chart::engine
