#include "chart/drawing/plot_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "chart/drawing/drawing_setup.h"
#include "chart/drawing/plot_font.h"
#include "chart/drawing/plot_html.h"
#include "chart/drawing/projection_math.h"
#include "platform/vcl/bitmap.h"

namespace chart {

TPlotCanvas::~TPlotCanvas() = default;

void TPlotCanvas::SetCanvas(vcl::TCanvas* C) {
    ReferenceCanvas = C;
    Font = C ? &C->Font : nullptr;
    Pen = C ? &C->Pen : nullptr;
    Brush = C ? &C->Brush : nullptr;
}

void TPlotCanvas::ResetState() {
    Pen->SetColor(vcl::clBlack);
    Pen->SetWidth(1);
    Pen->SetStyle(vcl::TPenStyle::psSolid);
    Brush->SetColor(vcl::clWhite);
    Brush->SetStyle(vcl::TBrushStyle::bsSolid);
    Font->SetColor(vcl::clBlack);
    Font->SetStyle(0);
    Font->SetCharset(gdi::DEFAULT_CHARSET);
    Font->SetName(PlotDefaultFontName);
    Font->SetSize(PlotDefaultFontSize);
    blend_transparency_ = 0;
    FontReference = nullptr;
    SetBackColor(vcl::clWhite);
    SetBackMode(gdi::TRANSPARENT);
    SetTextAlign(0);
}

// ---- Pens

void TPlotCanvas::AssignVisiblePenColor(vcl::TPen& APen, TColor Color) {
    const TColor color = GetMonochrome() ? vcl::clBlack : Color;
    if (auto* chartPen = dynamic_cast<TChartPen*>(&APen)) {
        if (!chartPen->Visible()) {
            Pen->SetStyle(vcl::TPenStyle::psClear);
            return;
        }
        if (PlotExtendedPens && !GetSupportsFull3D()) {
            RealisePen(*chartPen, color);
            return;
        }
    }
    Pen->Assign(APen);
    Pen->SetColor(color);
    if (PlotZeroWidthPens && Pen->Style() != vcl::TPenStyle::psSolid && Pen->Width() == 1)
        Pen->SetWidth(0);
}

namespace {

// One-pixel dots: SmallSpace pixels apart, or every other pixel.
gdi::HPEN SmallDotsPen(TColor Color, int SmallSpace) {
    const gdi::LOGBRUSH brush{gdi::BS_SOLID, vcl::ColorToRGB(Color), 0};
    if (SmallSpace >= 1) {
        const gdi::DWORD style[2] = {0, static_cast<gdi::DWORD>(SmallSpace) + 1};
        return gdi::ExtCreatePen(gdi::PS_GEOMETRIC | gdi::PS_USERSTYLE, 1, brush, style);
    }
    return gdi::ExtCreatePen(gdi::PS_COSMETIC | gdi::PS_ALTERNATE, 1, brush);
}

gdi::DWORD EndStyleBits(TPenEndStyle Style) {
    switch (Style) {
        case esSquare: return gdi::PS_ENDCAP_SQUARE | gdi::PS_JOIN_BEVEL;
        case esFlat: return gdi::PS_ENDCAP_FLAT | gdi::PS_JOIN_MITER;
        default: return gdi::PS_ENDCAP_ROUND | gdi::PS_JOIN_ROUND;
    }
}

gdi::DWORD GdiPenStyle(vcl::TPenStyle Style) {
    const auto s = static_cast<gdi::DWORD>(Style);
    return s <= gdi::PS_INSIDEFRAME ? s : gdi::PS_SOLID;
}

}  // namespace

void TPlotCanvas::RealisePen(TChartPen& APen, TColor Color) {
    if (APen.SmallDots()) {
        Pen->SetHandle(SmallDotsPen(Color, APen.SmallSpace()));
        Pen->SetMode(APen.Mode());
        return;
    }
    if (APen.Width() < 2) {
        Pen->Assign(APen);
        if (Pen->Color() != Color) Pen->SetColor(Color);
        if (PlotZeroWidthPens && Pen->Style() != vcl::TPenStyle::psSolid && Pen->Width() == 1)
            Pen->SetWidth(0);
        return;
    }
    Pen->Assign(APen);
    Pen->SetColor(Color);
    const gdi::LOGBRUSH brush{gdi::BS_SOLID, vcl::ColorToRGB(Color), 0};
    Pen->SetHandle(gdi::ExtCreatePen(gdi::PS_GEOMETRIC | GdiPenStyle(APen.Style()) |
                                         EndStyleBits(APen.EndStyle()),
                                     static_cast<gdi::DWORD>(APen.Width()), brush));
    GetHandle()->SetROP2(vcl::PenModeToRop2(APen.Mode()));
}

// ---- Brushes and fonts

void TPlotCanvas::AssignBrushColors(TChartBrush& ABrush, TColor ForeColor, TColor BackColor) {
    if (GetMonochrome()) ForeColor = vcl::clWhite;
    vcl::TBitmap* pattern = nullptr;
    if (vcl::TPicture* image = ABrush.ImageIfAny(); image && image->Graphic() && !image->Graphic()->Empty())
        pattern = &image->Bitmap();
    else if (ABrush.Bitmap())
        pattern = ABrush.Bitmap();
    if (pattern) {
        Brush->SetStyle(vcl::TBrushStyle::bsClear);
        Brush->SetBitmap(pattern);
        GetHandle()->SetTextColor(vcl::ColorToRGB(ForeColor));
        SetBackMode(gdi::OPAQUE);
        SetBackColor(BackColor);
        return;
    }
    Brush->SetBitmap(nullptr);
    if (Brush->Color() != ForeColor) Brush->SetColor(ForeColor);
    if (Brush->Style() != ABrush.Style()) Brush->SetStyle(ABrush.Style());
    if (BackColor == vcl::clNone) {
        SetBackMode(gdi::TRANSPARENT);
    } else {
        SetBackMode(gdi::OPAQUE);
        SetBackColor(BackColor);
    }
}

void TPlotCanvas::AssignFont(TPlotFont& AFont) {
    AFont.PixelsPerInch = Font->PixelsPerInch;
    Font->Assign(AFont);
    if (FontZoom != 100.0) Font->SetSize(RoundToInt(Font->Size() * FontZoom * 0.01));
    if (GetMonochrome()) Font->SetColor(vcl::clBlack);
    gdi::HDC dc = GetHandle();
    if (dc->GetTextCharacterExtra() != AFont.InterCharSize()) dc->SetTextCharacterExtra(AFont.InterCharSize());
    FontReference = &AFont;
    AFont.Canvas = this;
}

void TPlotCanvas::TextOutHtml(int X, int Y, const std::string& Text, bool IsHtml) {
    if (IsHtml)
        HtmlTextOut(*this, X, Y, Text);
    else
        TextOut(X, Y, Text);
}

// ---- Base behaviours

std::unique_ptr<TPlotBlend> TPlotCanvas::BeginBlending(const TRect& R, int Transparency) {
    // A percent: values beyond 100 would wrap colours in the mix.
    blend_transparency_ = std::clamp(Transparency, 0, 100);
    auto blend = std::make_unique<TPlotBlend>(*this, R);
    blend->Transparency = blend_transparency_;
    return blend;
}

void TPlotCanvas::EndBlending(std::unique_ptr<TPlotBlend> Blend) {
    if (Blend) Blend->DoBlend(Blend->Transparency);
}

void TPlotCanvas::ArcByAngles(int Left, int Top, int Right, int Bottom, double StartAngle,
                              double EndAngle) {
    const long long cx = ((long long)Left + Right) / 2, cy = ((long long)Top + Bottom) / 2;
    const long long rx = ((long long)Right - Left) / 2, ry = ((long long)Bottom - Top) / 2;
    auto at = [&](double degrees, int& x, int& y) {
        const double a = degrees * std::numbers::pi / 180.0;
        x = RoundToInt(RoundToInt(rx * std::cos(a)) + double(cx));
        y = RoundToInt(double(cy) - RoundToInt(ry * std::sin(a)));
    };
    int x3, y3, x4, y4;
    at(StartAngle, x3, y3);
    at(EndAngle, x4, y4);
    Arc(Left, Top, Right, Bottom, x3, y3, x4, y4);
}

void TPlotCanvas::Frame3D(TRect& Rect, TColor TopColor, TColor BottomColor, int Width) {
    Pen->SetWidth(1);
    Pen->SetStyle(vcl::TPenStyle::psSolid);
    --Rect.Right;
    --Rect.Bottom;
    for (int i = 0; i < Width; ++i) {
        Pen->SetColor(TopColor);
        const TPoint top[3] = {{Rect.Left, Rect.Bottom}, {Rect.Left, Rect.Top}, {Rect.Right, Rect.Top}};
        Polyline(top);
        Pen->SetColor(BottomColor);
        const TPoint bottom[3] = {{Rect.Right, Rect.Top}, {Rect.Right, Rect.Bottom}, {Rect.Left - 1, Rect.Bottom}};
        Polyline(bottom);
        ++Rect.Left;
        ++Rect.Top;
        --Rect.Right;
        --Rect.Bottom;
    }
    ++Rect.Right;
    ++Rect.Bottom;
}

namespace {

// Adds the size of a visible shadow of the surface's chart font.
int WithShadow(const TPlotFont* font, int extent, bool horizontal) {
    const TPlotShadow* shadow = font ? font->ShadowIfAny() : nullptr;
    if (!shadow || !shadow->Visible()) return extent;
    const long long size = std::llabs(horizontal ? shadow->HorizSize() : shadow->VertSize());
    return static_cast<int>(std::min<long long>(extent + size, INT32_MAX));
}

}  // namespace

int TPlotCanvas::TextWidth(const std::string& Text) {
    return WithShadow(FontReference, ReferenceCanvas->TextExtent(Text).cx, true);
}

int TPlotCanvas::TextHeight(const std::string& Text) {
    return WithShadow(FontReference, ReferenceCanvas->TextExtent(Text).cy, false);
}

int TPlotCanvas::TextWidthW(const std::u16string& Text) {
    gdi::SIZE size;
    GetHandle()->GetTextExtentPoint32W(Text, &size);
    return WithShadow(FontReference, size.cx, true);
}

int TPlotCanvas::TextHeightW(const std::u16string& Text) {
    gdi::SIZE size;
    GetHandle()->GetTextExtentPoint32W(Text, &size);
    return WithShadow(FontReference, size.cy, false);
}

void TPlotCanvas::HorizLine(int X0, int X1, int Y) {
    MoveTo(X0, Y);
    LineTo(X1, Y);
}

void TPlotCanvas::VertLine(int X, int Y0, int Y1) {
    MoveTo(X, Y0);
    LineTo(X, Y1);
}

void TPlotCanvas::Line(int X0, int Y0, int X1, int Y1) {
    MoveTo(X0, Y0);
    LineTo(X1, Y1);
}

void TPlotCanvas::PolygonGradient(std::span<const TPoint> Points, TCustomPlotGradient& Gradient) {
    ClipPolygon(Points, static_cast<int>(Points.size()), false);
    try {
        Gradient.Draw(dynamic_cast<TCanvas3D&>(*this), PolygonBounds(Points, static_cast<int>(Points.size())));
    } catch (...) {
        UnClipRectangle();
        throw;
    }
    UnClipRectangle();
    if (Pen->Style() != vcl::TPenStyle::psClear) {
        const vcl::TBrushStyle old = Brush->Style();
        Brush->SetStyle(vcl::TBrushStyle::bsClear);
        Polygon(Points);
        Brush->SetStyle(old);
    }
}

// ---- TCanvas3D

long TCanvas3D::QueryInterface(const TGUID& IID, void** Obj) {
    if (IID == IID_IUnknown) {
        if (Obj) *Obj = this;
        return 0;
    }
    if (Obj) *Obj = nullptr;
    return E_NOINTERFACE;
}

void TCanvas3D::BeginGroup(const std::string&) {}
void TCanvas3D::EndGroup() {}

void TCanvas3D::Assign(TCanvas3D& Source) {
    SetMonochrome(Source.GetMonochrome());
    View3DOptions = Source.View3DOptions;
}

void TCanvas3D::Disable3D() {}
void TCanvas3D::Restore3D() {}

void TCanvas3D::HorizLine3D(int Left, int Right, int Y, int Z) {
    MoveTo3D(Left, Y, Z);
    LineTo3D(Right, Y, Z);
}

void TCanvas3D::VertLine3D(int X, int Top, int Bottom, int Z) {
    MoveTo3D(X, Top, Z);
    LineTo3D(X, Bottom, Z);
}

void TCanvas3D::ZLine3D(int X, int Y, int Z0, int Z1) {
    MoveTo3D(X, Y, Z0);
    LineTo3D(X, Y, Z1);
}

void TCanvas3D::Begin2D() {
    if (nesting_2d_ == 0) Disable3D();
    ++nesting_2d_;
}

void TCanvas3D::End2D() {
    --nesting_2d_;
    if (nesting_2d_ == 0) Restore3D();
}

void TCanvas3D::LineWithZ(int X0, int Y0, int X1, int Y1, int Z) {
    MoveTo3D(X0, Y0, Z);
    LineTo3D(X1, Y1, Z);
}

void TCanvas3D::MoveTo3D(int X, int Y, int Z) {
    const TPoint p = Calculate3DPosition(X, Y, Z);
    MoveTo(p.X, p.Y);
}

void TCanvas3D::LineTo3D(int X, int Y, int Z) {
    const TPoint p = Calculate3DPosition(X, Y, Z);
    LineTo(p.X, p.Y);
}

void TCanvas3D::PolygonWithZ(std::span<const TPoint> Points, int Z) { Polygon(Calc3DPoints(Points, Z)); }

void TCanvas3D::PolylineWithZ(std::span<const TPoint> Points, int Z) { Polyline(Calc3DPoints(Points, Z)); }

TRect TCanvas3D::CalcRect3D(const TRect& R, int Z) {
    const TPoint a = Calculate3DPosition(R.Left, R.Top, Z);
    const TPoint b = Calculate3DPosition(R.Right, R.Bottom, Z);
    return {a.X, a.Y, b.X, b.Y};
}

std::array<TPoint, 4> TCanvas3D::FourPointsFromRect(const TRect& R, int Z) {
    return {Calculate3DPosition(R.Left, R.Top, Z), Calculate3DPosition(R.Right, R.Top, Z),
            Calculate3DPosition(R.Right, R.Bottom, Z), Calculate3DPosition(R.Left, R.Bottom, Z)};
}

TRect TCanvas3D::RectFromRectZ(const TRect& R, int Z) {
    const std::array<TPoint, 4> corners = FourPointsFromRect(R, Z);
    return PolygonBounds(corners, 4);
}

std::vector<TPoint> TCanvas3D::Calc3DPoints(std::span<const TPoint> Points, int Z) {
    std::vector<TPoint> out;
    out.reserve(Points.size());
    for (const TPoint& p : Points) out.push_back(Calculate3DPosition(p.X, p.Y, Z));
    return out;
}

}  // namespace chart
