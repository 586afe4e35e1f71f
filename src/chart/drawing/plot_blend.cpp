#include "chart/drawing/plot_blend.h"

#include <algorithm>
#include <cmath>

#include "chart/drawing/drawing_setup.h"
#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/plot_font.h"
#include "chart/drawing/projection_math.h"
#include "platform/vcl/bitmap.h"

namespace chart {

namespace {

// The off-screen bitmap the canvas draws into now, if any.
vcl::TBitmap* DrawingBitmap(TPlotCanvas& canvas) {
    auto* gdiCanvas = dynamic_cast<TPlotCanvas3D*>(&canvas);
    vcl::TBitmap* bitmap = gdiCanvas ? gdiCanvas->Bitmap() : nullptr;
    return bitmap && canvas.ReferenceCanvas == &bitmap->Canvas() ? bitmap : nullptr;
}

}  // namespace

TPlotBlend::TPlotBlend(TPlotCanvas& Canvas, const TRect& R) : canvas_(Canvas) { SetRectangle(R); }

TPlotBlend::~TPlotBlend() = default;

void TPlotBlend::SetRectangle(const TRect& R) {
    TRect r = R;
    NormalizeRect(r);
    r.Left = std::max(r.Left, 0);
    r.Top = std::max(r.Top, 0);
    if (r.Right <= r.Left) r.Right = r.Left + 1;
    if (r.Bottom <= r.Top) r.Bottom = r.Top + 1;
    r.Right = std::min(r.Right, canvas_.Bounds.Right);
    r.Bottom = std::min(r.Bottom, canvas_.Bounds.Bottom);
    // Pixels beyond the surface cannot be drawn, nor saved.
    if (canvas_.ReferenceCanvas) {
        const gdi::HDC dc = canvas_.ReferenceCanvas->Handle();
        r.Right = std::min(r.Right, dc->Width());
        r.Bottom = std::min(r.Bottom, dc->Height());
    }
    rect_ = r;
    valid_ = canvas_.ReferenceCanvas && r.Right > r.Left && r.Bottom > r.Top;
    if (!valid_) return;
    saved_.reset();
    // Kept in the pixel format of the surface, so that saving and mixing
    // back are plain copies of rows.
    auto saved = std::make_unique<vcl::TBitmap>(r.Width(), r.Height());
    vcl::TBitmap* drawing = DrawingBitmap(canvas_);
    if (drawing && drawing->PixelFormat() == vcl::TPixelFormat::pf24bit)
        saved->SetPixelFormat(vcl::TPixelFormat::pf24bit);
    vcl::TCanvas& source = drawing ? drawing->Canvas() : *canvas_.ReferenceCanvas;
    saved->Canvas().CopyRect({0, 0, r.Width(), r.Height()}, source, r);
    saved_ = std::move(saved);
}

void TPlotBlend::DoBlend(int Transparency) {
    if (canvas_.Metafiling || !valid_ || !saved_) return;
    const int transparency = std::clamp(Transparency, 0, 100);
    vcl::TBitmap* target = DrawingBitmap(canvas_);
    std::unique_ptr<vcl::TBitmap> temporary;
    int x = rect_.Left, y = rect_.Top;
    if (!target) {
        temporary = std::make_unique<vcl::TBitmap>(rect_.Width(), rect_.Height());
        temporary->Canvas().CopyRect({0, 0, rect_.Width(), rect_.Height()}, *canvas_.ReferenceCanvas, rect_);
        target = temporary.get();
        x = y = 0;
    }
    const unsigned align = canvas_.GetTextAlign();
    x = std::max(x, 0);
    y = std::max(y, 0);
    const int w = std::min(saved_->Width(), target->Width() - x);
    const int h = std::min(saved_->Height(), target->Height() - y);
    if (w >= 1 && h >= 1) {
        if (PlotAlphaBlendAvailable) {
            gdi::BLENDFUNCTION blend;
            blend.SourceConstantAlpha =
                static_cast<std::uint8_t>(255 - RoundToInt(2.55 * (100 - transparency)));
            target->Canvas().Handle()->AlphaBlend(x, y, w, h, saved_->Canvas().Handle(), 0, 0, w, h, blend);
        } else {
            PlotBlendPixels(*saved_, *target, x, y, transparency);
        }
    }
    if (canvas_.GetTextAlign() != align) {
        if (canvas_.FontReference) canvas_.AssignFont(*canvas_.FontReference);
        canvas_.SetTextAlign(align);
    }
    if (temporary) canvas_.Draw(rect_.Left, rect_.Top, temporary.get());
}

void PlotBlendPixels(const vcl::TBitmap& Saved, vcl::TBitmap& Target, int X, int Y, int Transparency) {
    const int t = std::clamp(Transparency, 0, 100);
    X = std::max(X, 0);
    Y = std::max(Y, 0);
    const int w = std::min(Saved.Width(), Target.Width() - X);
    const int h = std::min(Saved.Height(), Target.Height() - Y);
    if (w < 1 || h < 1) return;
    const gdi::Bitmap& from = *Saved.Handle();
    gdi::Bitmap& to = *Target.Handle();
    const int fs = from.BitsPerPixel() / 8, ts = to.BitsPerPixel() / 8;
    for (int row = 0; row < h; ++row) {
        const std::uint8_t* s = from.ScanLine(row);
        std::uint8_t* d = to.ScanLine(Y + row) + static_cast<std::ptrdiff_t>(X) * ts;
        for (int col = 0; col < w; ++col, s += fs, d += ts) {
            // A pure white pixel first loses one step of red.
            if (d[0] == 255 && d[1] == 255 && d[2] == 255) d[2] = 254;
            for (int c = 0; c < 3; ++c) d[c] = static_cast<std::uint8_t>(d[c] + t * (s[c] - d[c]) / 100);
        }
    }
}

}  // namespace chart
