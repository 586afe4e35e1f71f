#include "chart/drawing/plot_canvas3d.h"

#include <algorithm>
#include <cmath>

#include "chart/drawing/not_available.h"
#include "chart/drawing/plot_font.h"
#include "chart/drawing/projection_math.h"
#include "chart/drawing/view3d_options.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/graphic.h"

namespace chart {

namespace {

std::vector<gdi::POINT> ToGdi(std::span<const TPoint> points) {
    std::vector<gdi::POINT> out;
    out.reserve(points.size());
    for (const TPoint& p : points) out.push_back({p.X, p.Y});
    return out;
}

// a + b, held to the 32-bit range.
int AddClamped(int a, long long b) {
    return static_cast<int>(std::clamp<long long>(a + b, INT32_MIN, INT32_MAX));
}

}  // namespace

TPlotCanvas3D::TPlotCanvas3D() {
    FontZoom = 100.0;
    zoom_text_ = true;
    buffered_ = true;
    dirty_ = true;
}

TPlotCanvas3D::~TPlotCanvas3D() { DeleteBitmap(); }

// ---- Plain device-context operations

gdi::HDC TPlotCanvas3D::GetHandle() {
    if (!ReferenceCanvas) throw rtl::Exception("The drawing surface has no canvas to draw on");
    return ReferenceCanvas->Handle();
}

TColor TPlotCanvas3D::GetBackColor() { return static_cast<TColor>(GetHandle()->GetBkColor()); }
int TPlotCanvas3D::GetBackMode() { return GetHandle()->GetBkMode(); }
unsigned TPlotCanvas3D::GetTextAlign() { return GetHandle()->GetTextAlign(); }
void TPlotCanvas3D::SetBackColor(TColor Color) { GetHandle()->SetBkColor(vcl::ColorToRGB(Color)); }
void TPlotCanvas3D::SetBackMode(int Mode) { GetHandle()->SetBkMode(Mode & 0xFF); }
void TPlotCanvas3D::SetTextAlign(unsigned Align) { GetHandle()->SetTextAlign(Align); }

TColor TPlotCanvas3D::GetPixel(int X, int Y) { return ReferenceCanvas->Pixel(X, Y); }

void TPlotCanvas3D::SetPixel(int X, int Y, TColor Color) {
    GetHandle()->SetPixel(X, Y, vcl::ColorToRGB(Color));
}

void TPlotCanvas3D::SetMonochrome(bool Value) {
    if (Value == monochrome_) return;
    monochrome_ = Value;
    dirty_ = true;
    if (View3DOptions && View3DOptions->Owner()) View3DOptions->Owner()->Invalidate();
}

void TPlotCanvas3D::Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) {
    GetHandle()->Arc(X1, Y1, X2, Y2, X3, Y3, X4, Y4);
}

void TPlotCanvas3D::Pie(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) {
    GetHandle()->Pie(X1, Y1, X2, Y2, X3, Y3, X4, Y4);
}

void TPlotCanvas3D::Ellipse(int X1, int Y1, int X2, int Y2) { GetHandle()->Ellipse(X1, Y1, X2, Y2); }

void TPlotCanvas3D::Rectangle(int X0, int Y0, int X1, int Y1) { GetHandle()->Rectangle(X0, Y0, X1, Y1); }

void TPlotCanvas3D::RoundRect(int X1, int Y1, int X2, int Y2, int X3, int Y3) {
    GetHandle()->RoundRect(X1, Y1, X2, Y2, X3, Y3);
}

void TPlotCanvas3D::MoveTo(int X, int Y) { GetHandle()->MoveToEx(X, Y); }
void TPlotCanvas3D::LineTo(int X, int Y) { GetHandle()->LineTo(X, Y); }

void TPlotCanvas3D::Polyline(std::span<const TPoint> Points) { GetHandle()->Polyline(ToGdi(Points)); }
void TPlotCanvas3D::Polygon(std::span<const TPoint> Points) { GetHandle()->Polygon(ToGdi(Points)); }

void TPlotCanvas3D::FillRect(const TRect& Rect) {
    gdi::HDC dc = GetHandle();
    dc->FillRect({Rect.Left, Rect.Top, Rect.Right, Rect.Bottom}, Brush->Handle());
}

void TPlotCanvas3D::Draw(int X, int Y, vcl::TGraphic* Graphic) {
    if (Graphic && !Graphic->Empty()) ReferenceCanvas->Draw(X, Y, Graphic);
}

void TPlotCanvas3D::StretchDraw(const TRect& Rect, vcl::TGraphic* Graphic) {
    if (Graphic) ReferenceCanvas->StretchDraw(Rect, Graphic);
}

void TPlotCanvas3D::GradientFill(const TRect&, TColor, TColor, TGradientDirection, int, int, int) {
    NotAvailableYet("Gradient fill");
}

void TPlotCanvas3D::Donut(int, int, int, int, double, double, double) { NotAvailableYet("Donut drawing"); }

// ---- Off-screen buffer

void TPlotCanvas3D::SetBufferedDisplay(bool Value) {
    if (Value == buffered_) return;
    buffered_ = Value;
    if (!bitmap_) return;
    if (!Value) {
        if (!DirectDrawing) {
            DeleteBitmap();
            dirty_ = true;
        }
    } else {
        SetCanvas(&bitmap_->Canvas());
    }
}

std::unique_ptr<vcl::TBitmap> TPlotCanvas3D::SetBitmap(std::unique_ptr<vcl::TBitmap> Bitmap) {
    std::swap(bitmap_, Bitmap);
    return Bitmap;
}

void TPlotCanvas3D::DeleteBitmap() {
    if (bitmap_ && ReferenceCanvas == &bitmap_->Canvas()) SetCanvas(nullptr);
    bitmap_.reset();
}

void TPlotCanvas3D::BitBltBitmap(int X, int Y, vcl::TCanvas* DestCanvas) {
    if (!bitmap_ || !DestCanvas) return;
    DestCanvas->Handle()->BitBlt(X, Y, bitmap_->Width(), bitmap_->Height(), bitmap_->Canvas().Handle(),
                                 0, 0, gdi::SRCCOPY);
}

void TPlotCanvas3D::ShowImage(vcl::TCanvas* DestCanvas, vcl::TCanvas* DefaultCanvas, const TRect& UserRect) {
    if (buffered_ && bitmap_) {
        BitBltBitmap(UserRect.Left, UserRect.Top, DestCanvas);
        dirty_ = false;
    }
    SetCanvas(DefaultCanvas);
}

bool TPlotCanvas3D::ReDrawBitmap() {
    if (dirty_) return false;
    BitBltBitmap(0, 0, ReferenceCanvas);
    return true;
}

void TPlotCanvas3D::PolygonFour() { Polygon(FourPoints); }

// ---- Text

TRect TPlotCanvas3D::TextRect(int X, int Y, const std::string& Text) {
    const int w = TextWidth(Text), h = TextHeight(Text);
    const unsigned align = GetTextAlign() & ~static_cast<unsigned>(gdi::TA_BOTTOM);
    if (align == gdi::TA_RIGHT) return {X - w, Y, X, Y + h};
    if (align == gdi::TA_CENTER) return {X - w / 2, Y, X + w / 2, Y + h};
    return {X, Y, X + w, Y + h};
}

void TPlotCanvas3D::PlainTextOut(int X, int Y, const std::string& Text) { GetHandle()->TextOut(X, Y, Text); }

void TPlotCanvas3D::TextOut(int X, int Y, const std::string& Text) {
    TPlotFont* font = FontReference;
    TPlotShadow* shadow = font ? font->ShadowIfAny() : nullptr;
    const bool hasShadow = shadow && shadow->Visible() && (shadow->HorizSize() != 0 || shadow->VertSize() != 0);
    TChartPen* outline = font ? font->OutLineIfAny() : nullptr;
    const bool hasOutline = outline && outline->Visible();
    const TPlotFontGradient* gradient = font ? font->GradientIfAny() : nullptr;
    TPlotPicture* picture = font ? font->PictureIfAny() : nullptr;
    const bool hasPicture = picture && picture->Graphic() && !picture->Graphic()->Empty();
    // What a later step draws is refused before anything is drawn.
    if (hasShadow && shadow->Transparency() > 0) NotAvailableYet("Transparent text shadow");
    if (hasShadow && shadow->Smooth() && shadow->SmoothBlur() > 0 && bitmap_)
        NotAvailableYet("Blurred text shadow");
    if (gradient && gradient->Visible()) NotAvailableYet("Gradient-filled text");

    if (hasShadow) {
        // The shadow never lies left of or above the given point.
        const int h = shadow->HorizSize(), v = shadow->VertSize();
        if (h < 0) X = AddClamped(X, -(long long)h);
        if (v < 0) Y = AddClamped(Y, -(long long)v);
        GetHandle()->SetTextColor(vcl::ColorToRGB(shadow->Color()));
        PlainTextOut(AddClamped(X, h), AddClamped(Y, v), Text);
        SetBackMode(gdi::TRANSPARENT);
    }
    GetHandle()->SetTextColor(vcl::ColorToRGB(Font->Color()));
    if (!hasOutline && !hasPicture) {
        PlainTextOut(X, Y, Text);
        return;
    }

    if (hasOutline) AssignVisiblePen(*outline);
    else Pen->SetStyle(vcl::TPenStyle::psClear);
    Brush->SetColor(Font->Color());
    Brush->SetStyle(vcl::TBrushStyle::bsSolid);
    SetBackMode(gdi::TRANSPARENT);
    auto recordPath = [&] {
        gdi::HDC dc = GetHandle();
        dc->BeginPath();
        dc->TextOut(X, Y, Text);
        dc->EndPath();
    };
    recordPath();
    if (hasPicture) {
        const TRect rect = TextRect(X, Y, Text);
        ClipToPath();
        StretchDraw(rect, picture->FilteredGraphic());
        UnClipRectangle();
        if (!hasOutline) return;
        recordPath();
        Brush->SetStyle(vcl::TBrushStyle::bsClear);
    }
    gdi::HDC dc = GetHandle();
    if (Font->Color() == vcl::clNone) dc->StrokePath();  // hollow letters
    else dc->StrokeAndFillPath();
}

void TPlotCanvas3D::RotateLabel(int X, int Y, const std::string& Text, double Angle) {
    if (std::isfinite(Angle) && Angle >= 360) Angle = std::fmod(Angle, 360.0);
    Brush->SetStyle(vcl::TBrushStyle::bsClear);
    gdi::HDC dc = GetHandle();  // the canvas's own font is selected before ours replaces it
    gdi::LOGFONT lf = Font->LogFont();
    lf.lfEscapement = RoundToInt(Angle * 10);
    lf.lfOrientation = lf.lfEscapement;
    lf.lfOutPrecision = gdi::OUT_TT_ONLY_PRECIS;
    lf.lfQuality = gdi::ANTIALIASED_QUALITY;
    if (zoom_text_ && zoom_ != 1.0)
        lf.lfHeight = -vcl::MulDiv(std::max(RoundToInt(Font->Size() * zoom_), 1), Font->PixelsPerInch, 72);
    const gdi::HFONT old = dc->SelectObject(gdi::CreateFontIndirect(lf));
    try {
        TextOut(X, Y, Text);
    } catch (...) {
        dc->SelectObject(old);
        throw;
    }
    dc->SelectObject(old);
}

// ---- Clipping: each clip remembers the one in force, UnClipRectangle
// goes back one step.

void TPlotCanvas3D::PushClip(const gdi::HRGN& Region, int Mode) {
    gdi::HDC dc = GetHandle();
    gdi::HRGN saved = gdi::CreateRectRgn(0, 0, 0, 0);
    clips_.push_back(dc->GetClipRgn(saved) == 1 ? saved : nullptr);
    if (Region) dc->ExtSelectClipRgn(Region, Mode);
}

void TPlotCanvas3D::ClipToPath() {
    gdi::HDC dc = GetHandle();
    gdi::HRGN saved = gdi::CreateRectRgn(0, 0, 0, 0);
    clips_.push_back(dc->GetClipRgn(saved) == 1 ? saved : nullptr);
    dc->SelectClipPath(gdi::RGN_AND);
}

void TPlotCanvas3D::UnClipRectangle() {
    gdi::HDC dc = GetHandle();
    if (clips_.empty()) {
        dc->SelectClipRgn(nullptr);
        return;
    }
    const gdi::HRGN previous = clips_.back();
    clips_.pop_back();
    dc->SelectClipRgn(previous);
}

void TPlotCanvas3D::ClipRectangle(const TRect& Rect) {
    gdi::POINT corners[2] = {{Rect.Left, Rect.Top}, {Rect.Right, Rect.Bottom}};
    GetHandle()->LPtoDP(corners);
    PushClip(gdi::CreateRectRgn(corners[0].x, corners[0].y, corners[1].x, corners[1].y), gdi::RGN_AND);
}

void TPlotCanvas3D::ClipRoundRectangle(const TRect& Rect, int Corner) {
    gdi::POINT corners[2] = {{Rect.Left, Rect.Top}, {Rect.Right, Rect.Bottom}};
    GetHandle()->LPtoDP(corners);
    PushClip(gdi::CreateRoundRectRgn(corners[0].x, corners[0].y, corners[1].x, corners[1].y, Corner, Corner),
             gdi::RGN_AND);
}

void TPlotCanvas3D::ClipEllipse(const TRect& Rect, bool Inverted) {
    if (Inverted) {
        // Everything but the ellipse, in logical units.
        PushClip(gdi::CreateEllipticRgn(Rect.Left, Rect.Top, Rect.Right, Rect.Bottom), gdi::RGN_XOR);
        return;
    }
    gdi::POINT corners[2] = {{Rect.Left, Rect.Top}, {Rect.Right, Rect.Bottom}};
    GetHandle()->LPtoDP(corners);
    PushClip(gdi::CreateEllipticRgn(corners[0].x, corners[0].y, corners[1].x, corners[1].y), gdi::RGN_AND);
}

void TPlotCanvas3D::ClipPolygon(std::span<const TPoint> Points, int NumPoints, bool Inverted) {
    const std::size_t n = std::min<std::size_t>(Points.size(), static_cast<std::size_t>(std::max(NumPoints, 0)));
    std::vector<gdi::POINT> points = ToGdi(Points.first(n));
    gdi::HDC dc = GetHandle();
    if (dc->GetMapMode() != gdi::MM_TEXT) dc->LPtoDP(points);
    PushClip(gdi::CreatePolygonRgn(points, gdi::ALTERNATE), Inverted ? gdi::RGN_DIFF : gdi::RGN_AND);
}

void TPlotCanvas3D::ClipCube(const TRect& Rect, int Z0, int Z1) {
    if (!is_3d_) {
        ClipRectangle({AddClamped(Rect.Left, 1), AddClamped(Rect.Top, 1), Rect.Right, AddClamped(Rect.Bottom, -1)});
        return;
    }
    std::vector<TPoint> corners;
    for (int z : {Z0, Z1})
        for (int y : {Rect.Top, Rect.Bottom})
            for (int x : {Rect.Left, Rect.Right}) corners.push_back(Calculate3DPosition(x, y, z));
    const std::vector<TPoint> hull = ConvexHull(std::move(corners));
    ClipPolygon(hull, static_cast<int>(hull.size()), false);
}

std::vector<TPoint> TPlotCanvas3D::ConvexHull(std::vector<TPoint> Points) {
    if (Points.size() == 3) return Points;
    if (Points.size() < 3) return {};
    // The pivot: the top-most point, the right-most of those.
    std::size_t pivotAt = 0;
    for (std::size_t i = 1; i < Points.size(); ++i)
        if (Points[i].Y < Points[pivotAt].Y ||
            (Points[i].Y == Points[pivotAt].Y && Points[i].X > Points[pivotAt].X))
            pivotAt = i;
    const TPoint pivot = Points[pivotAt];
    Points[pivotAt] = Points.back();
    Points.pop_back();
    // The rest by the cosine of their direction from the pivot.
    std::vector<std::pair<float, TPoint>> keyed;
    for (const TPoint& p : Points) {
        const float dx = static_cast<float>(pivot.X) - static_cast<float>(p.X);
        const float dy = static_cast<float>(pivot.Y) - static_cast<float>(p.Y);
        const float d = std::sqrt(dx * dx + dy * dy);
        keyed.emplace_back(d == 0 ? 0.0f : dx / d, p);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<TPoint> hull;
    for (const auto& k : keyed) hull.push_back(k.second);
    // Keep the points where the outline turns the hull's way.
    std::size_t i = 1;
    while (i < hull.size()) {
        const TPoint& next = i + 1 < hull.size() ? hull[i + 1] : pivot;
        if (PlotCullPoints(hull[i - 1], hull[i], next)) {
            ++i;
        } else {
            hull.erase(hull.begin() + static_cast<long>(i));
            if (i > 1) --i;
        }
    }
    hull.push_back(pivot);
    return hull;
}

// ---- What the 3D solids and later steps draw

void TPlotCanvas3D::Arrow(bool, const TPoint&, const TPoint&, int, int, int, double) {
    NotAvailableYet("Arrow drawing");
}
void TPlotCanvas3D::Cone(bool, int, int, int, int, int, int, bool, int) { NotAvailableYet("Cone drawing"); }
void TPlotCanvas3D::Cube(int, int, int, int, int, int, bool) { NotAvailableYet("Cube drawing"); }
void TPlotCanvas3D::Cylinder(bool, int, int, int, int, int, int, bool) { NotAvailableYet("Cylinder drawing"); }
void TPlotCanvas3D::EllipseWithZ(int, int, int, int, int) { NotAvailableYet("Ellipse at depth"); }
void TPlotCanvas3D::Pie3D(int, int, int, int, int, int, double, double, bool, bool, int, TCustomPlotGradient*) {
    NotAvailableYet("3D pie drawing");
}
void TPlotCanvas3D::Plane3D(const TPoint&, const TPoint&, int, int) { NotAvailableYet("Plane drawing"); }
void TPlotCanvas3D::PlaneWithZ(const TPoint&, const TPoint&, const TPoint&, const TPoint&, int) {
    NotAvailableYet("Plane drawing");
}
void TPlotCanvas3D::PlaneBetweenDepths(const std::array<TPoint, 4>&, int, int) { NotAvailableYet("Plane drawing"); }
void TPlotCanvas3D::Polygon3D(std::span<const TPoint3D>) { NotAvailableYet("3D polygon drawing"); }
void TPlotCanvas3D::Pyramid(bool, int, int, int, int, int, int, bool) { NotAvailableYet("Pyramid drawing"); }
void TPlotCanvas3D::PyramidTruncated(const TRect&, int, int, int, int) { NotAvailableYet("Pyramid drawing"); }
void TPlotCanvas3D::RectangleWithZ(const TRect&, int) { NotAvailableYet("Rectangle at depth"); }
void TPlotCanvas3D::RectangleAtY(int, int, int, int, int) { NotAvailableYet("Rectangle at depth"); }
void TPlotCanvas3D::RectangleAtX(int, int, int, int, int) { NotAvailableYet("Rectangle at depth"); }
void TPlotCanvas3D::CircleWithZ(int, int, int, double) { NotAvailableYet("Circle at depth"); }
void TPlotCanvas3D::Triangle3D(const std::array<TPoint3D, 3>&, const std::array<TColor, 3>&) {
    NotAvailableYet("3D triangle drawing");
}
void TPlotCanvas3D::TriangleWithZ(const TPoint&, const TPoint&, const TPoint&, int) {
    NotAvailableYet("3D triangle drawing");
}

}  // namespace chart
