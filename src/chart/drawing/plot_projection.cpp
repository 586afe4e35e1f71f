// The projection of TPlotCanvas3D: the per-paint set-up and the mapping of
// chart points (X, Y and a depth Z) to the screen in 2D (unchanged) and
// orthogonal 3D (depth shifts a point by a fixed ratio), and back.
#include <algorithm>
#include <cmath>

#include "chart/drawing/not_available.h"
#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/projection_math.h"
#include "chart/drawing/view3d_options.h"
#include "platform/vcl/bitmap.h"

namespace chart {

TRect TPlotCanvas3D::InitWindow(vcl::TCanvas* DestCanvas, TView3DOptions* Options, TColor, bool Is3D,
                                const TRect& UserRect) {
    Bounds = UserRect;
    View3DOptions = Options;
    if (Options) FontZoom = Options->FontZoom();
    is_3d_ = Is3D;
    orthogonal_ = false;
    zoom_ = 1.0;
    if (is_3d_ && Options) {
        orthogonal_ = Options->Orthogonal();
        if (orthogonal_) {
            int angle = Options->OrthoAngle();
            if (angle > 90) {
                ortho_x_ = -1.0;
                angle = 180 - angle;
            } else {
                ortho_x_ = 1.0;
            }
            const double a = angle * kDegreesToRadians;
            const double s = std::sin(a), c = std::cos(a);
            ortho_y_ = c >= 0.01 ? s / c : 1.0;
        }
    }
    if (is_3d_) CalcTrigValues();
    // A new paint starts with no clip to undo.
    clips_.clear();

    if (!buffered_) {
        SetCanvas(DestCanvas);
        return UserRect;
    }
    const int w = static_cast<int>(std::clamp<long long>((long long)UserRect.Right - UserRect.Left, 0, INT32_MAX));
    const int h = static_cast<int>(std::clamp<long long>((long long)UserRect.Bottom - UserRect.Top, 0, INT32_MAX));
    if (!bitmap_) bitmap_ = std::make_unique<vcl::TBitmap>();
    SetBitmapSize(*bitmap_, w, h);
    SetCanvas(&bitmap_->Canvas());
    return {0, 0, w, h};
}

void TPlotCanvas3D::CalcTrigValues() {
    if (orthogonal_) return;
    FreeProjection();
}

void TPlotCanvas3D::FreeProjection() const { NotAvailableYet("Free 3D projection"); }

void TPlotCanvas3D::Projection(int MaxDepth, const TRect& Bounds) {
    const TPoint centre = RectCenter(Bounds);
    XCenter = centre.X;
    YCenter = centre.Y;
    ZCenter = RoundToInt(MaxDepth * 0.5);
    XOrigin = XCenter;
    YOrigin = YCenter;
    if (View3DOptions) {
        XOrigin = static_cast<int>(std::clamp<long long>((long long)XOrigin + View3DOptions->HorizOffset(),
                                                         INT32_MIN, INT32_MAX));
        YOrigin = static_cast<int>(std::clamp<long long>((long long)YOrigin + View3DOptions->VertOffset(),
                                                         INT32_MIN, INT32_MAX));
        if (is_3d_) {
            zoom_ = View3DOptions->Zoom() * 0.01;
            zoom_text_ = View3DOptions->ZoomText();
        }
        CalcPerspective(Bounds);
    }
}

void TPlotCanvas3D::CalcPerspective(const TRect& Bounds) {
    has_perspective_ = View3DOptions->Perspective() > 0;
    if (!has_perspective_) return;
    const long long w = std::max<long long>((long long)Bounds.Right - Bounds.Left, 1);
    perspective_ = View3DOptions->Perspective() * zoom_ * (1.0 / 150.0) / static_cast<double>(w);
}

TPoint TPlotCanvas3D::Calculate3DPosition(int X, int Y, int Z) {
    return Calculate3DPosition(static_cast<double>(X), static_cast<double>(Y), Z);
}

TPoint TPlotCanvas3D::Calculate3DPosition(double X, double Y, int Z) {
    if (orthogonal_) {
        const double x = (Z * ortho_x_ + (X - XCenter)) * zoom_;
        const double y = ((Y - YCenter) - Z * ortho_y_) * zoom_;
        return {RoundPlus(x, XOrigin), RoundPlus(y, YOrigin)};
    }
    if (!is_3d_) return {RoundToInt(X), RoundToInt(Y)};
    FreeProjection();
}

void TPlotCanvas3D::Calculate2DPosition(int& X, int& Y, int Z) {
    if (zoom_ == 0) return;
    const double inv = 1.0 / zoom_;
    if (orthogonal_) {
        const double x = (static_cast<double>(X) - XOrigin) * inv - Z * ortho_x_;
        const double y = (static_cast<double>(Y) - YOrigin) * inv + Z * ortho_y_;
        X = RoundPlus(x, XCenter);
        Y = RoundPlus(y, YCenter);
        return;
    }
    if (!is_3d_) return;
    FreeProjection();
}

void TPlotCanvas3D::Disable3D() {
    saved_is_3d_ = is_3d_;
    is_3d_ = false;
}

void TPlotCanvas3D::Restore3D() { is_3d_ = saved_is_3d_; }

// ---- Operations that only project

TColor TPlotCanvas3D::GetPixel3D(int X, int Y, int Z) {
    const TPoint p = Calculate3DPosition(X, Y, Z);
    return GetPixel(p.X, p.Y);
}

void TPlotCanvas3D::SetPixel3D(int X, int Y, int Z, TColor Color) {
    const TPoint p = Calculate3DPosition(X, Y, Z);
    if (Pen->Width() == 1) {
        SetPixel(p.X, p.Y, Color);
    } else {
        // A dot of the pen's width.
        MoveTo(p.X, p.Y);
        LineTo(p.X, p.Y);
    }
}

void TPlotCanvas3D::RotateLabel3D(int X, int Y, int Z, const std::string& Text, double Angle) {
    const TPoint p = Calculate3DPosition(X, Y, Z);
    RotateLabel(p.X, p.Y, Text, Angle);
}

void TPlotCanvas3D::TextOut3D(int X, int Y, int Z, const std::string& Text) {
    const TPoint p = Calculate3DPosition(X, Y, Z);
    if (zoom_text_ && zoom_ != 1.0) {
        const int size = std::max(RoundToInt(Font->Size() * zoom_), 1);
        if (size != Font->Size()) {
            gdi::HDC dc = GetHandle();
            gdi::LOGFONT lf = Font->LogFont();
            lf.lfHeight = -vcl::MulDiv(size, Font->PixelsPerInch, 72);
            const gdi::HFONT old = dc->SelectObject(gdi::CreateFontIndirect(lf));
            try {
                TextOut(p.X, p.Y, Text);
            } catch (...) {
                dc->SelectObject(old);
                throw;
            }
            dc->SelectObject(old);
            return;
        }
    }
    TextOut(p.X, p.Y, Text);
}

}  // namespace chart
