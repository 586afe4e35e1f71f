#include "chart/engine/series_pointer.h"

#include <algorithm>
#include <climits>

#include "chart/drawing/plot_canvas.h"
#include "chart/drawing/plot_const.h"
#include "chart/engine/chart_exceptions.h"

namespace chart::engine {

namespace {

int Clamp32(long long v) { return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

bool HasArea(TSeriesPointerStyle Style) {
    switch (Style) {
        case psCross:
        case psDiagCross:
        case psStar:
        case psSmallDot:
        case psNothing:
            return false;
        default:
            return true;
    }
}

TRect Union(const TRect& A, const TRect& B) {
    return {std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
            std::max(A.Bottom, B.Bottom)};
}

}  // namespace

// The symbol's box around (PX, PY) and the depth row it stands in.
struct TSeriesPointer::TBox {
    int PX, PY, Left, Top, Right, Bottom, HalfHeight;
    TPointerDepth Depth;

    // Rectangles take one pixel more on the right and bottom, as the
    // surface leaves those edges out.
    TRect Rect() const {
        return {Left, Top, Clamp32((long long)Right + 1), Clamp32((long long)Bottom + 1)};
    }
    TRect Ellipse() const { return {Left, Top, Right, Bottom}; }
    // The corners of the polygon styles.
    std::vector<TPoint> Polygon(TSeriesPointerStyle Style) const {
        const int up = Clamp32((long long)PY - HalfHeight / 2),
                  down = Clamp32((long long)PY + HalfHeight / 2);
        switch (Style) {
            case psTriangle:
                return {{Left, Bottom}, {Right, Bottom}, {PX, Top}};
            case psDownTriangle:
                return {{Left, Top}, {Right, Top}, {PX, Bottom}};
            case psDiamond:
                return {{Left, PY}, {PX, Top}, {Right, PY}, {PX, Bottom}};
            case psLeftTriangle:
                return {{Left, PY}, {Right, Top}, {Right, Bottom}};
            case psRightTriangle:
                return {{Right, PY}, {Left, Top}, {Left, Bottom}};
            case psHexagon:
                return {{PX, Top},    {Right, up},  {Right, down},
                        {PX, Bottom}, {Left, down}, {Left, up}};
            default:
                return {};
        }
    }
};

TSeriesPointer::TSeriesPointer(TCustomPlotPanelExtended* Chart, const TPointerOwner* Owner)
    : TPlotCustomShapeBrushPen(Chart),
      owner_(Owner),
      gradient_(std::make_unique<chart::TPlotGradient>(QuietRepaintEvent())),
      shadow_(std::make_unique<chart::TPlotShadow>(QuietRepaintEvent())) {
    quiet_ = true;
    shadow_->SetDefaults(shadow_->Color(), 3);
    shadow_->DefaultVisible = false;
    shadow_->SetVisible(false);
    quiet_ = false;
}

chart::TNotifyEvent TSeriesPointer::QuietRepaintEvent() {
    return [this](vcl::TPersistent*) {
        if (!quiet_) Repaint();
    };
}

TSeriesPointer::~TSeriesPointer() = default;

void TSeriesPointer::SetHorizSize(int Value) {
    if (Value < 1) throw ChartException(chart::PlotMsg_PointerSize);
    Store(horiz_size_, Value);
}

void TSeriesPointer::SetVertSize(int Value) {
    if (Value < 1) throw ChartException(chart::PlotMsg_PointerSize);
    Store(vert_size_, Value);
}

void TSeriesPointer::SetTransparency(int Value) { Store(transparency_, std::clamp(Value, 0, 100)); }

void TSeriesPointer::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TSeriesPointer*>(&Source);
    if (other && other != this) {
        dark_3d_ = other->dark_3d_;
        draw_3d_ = other->draw_3d_;
        gradient_->Assign(*other->gradient_);
        horiz_size_ = other->horiz_size_;
        inflate_margins_ = other->inflate_margins_;
        shadow_->Assign(*other->shadow_);
        style_ = other->style_;
        transparency_ = other->transparency_;
        vert_size_ = other->vert_size_;
        KeepGradientColors = other->KeepGradientColors;
    }
    TPlotCustomShapeBrushPen::Assign(Source);
}

TColor TSeriesPointer::PointerColor(TColor Color) {
    const TColor own = Brush().Color();
    if (own != vcl::clDefault) return own;
    return Brush().Style() != vcl::TBrushStyle::bsSolid ? Brush().BackColor() : Color;
}

void TSeriesPointer::PrepareCanvas(TCanvas3D& Canvas, TColor Color) {
    chart::TChartPen& pen = Pen();
    if (!pen.Visible())
        Canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    else if (pen.Color() == vcl::clDefault)
        Canvas.AssignVisiblePenColor(pen, Color);
    else
        Canvas.AssignVisiblePen(pen);
    Canvas.AssignBrushColor(Brush(), PointerColor(Color));
}

void TSeriesPointer::DrawPointer(TCanvas3D& Canvas, bool Is3D, int PX, int PY, int HorizSize,
                                 int VertSize, TColor Color, TSeriesPointerStyle Style) {
    if (Style == psNothing) return;
    const TBox box{PX,
                   PY,
                   Clamp32((long long)PX - HorizSize),
                   Clamp32((long long)PY - VertSize),
                   Clamp32((long long)PX + HorizSize),
                   Clamp32((long long)PY + VertSize),
                   VertSize,
                   owner_ ? owner_->PointerDepth() : TPointerDepth{}};
    const int frontZ = Is3D ? box.Depth.StartZ : 0;

    if (shadow_->Visible() && (shadow_->HorizSize() != 0 || shadow_->VertSize() != 0)) {
        if (Style == psRectangle)
            shadow_->Draw(Canvas, box.Rect(), frontZ, 0);
        else if (Style == psCircle)
            shadow_->DrawEllipse(Canvas, box.Ellipse(), frontZ);
        else if (Style == psHexagon)
            shadow_->DrawPolygon(Canvas, box.Polygon(psHexagon), frontZ);
    }

    std::unique_ptr<chart::TPlotBlend> blend;
    if (transparency_ > 0) {
        TRect area = box.Rect();
        if (Is3D) {
            area = Canvas.RectFromRectZ(area, box.Depth.StartZ);
            // A solid reaches back to the end of the row.
            if (draw_3d_ &&
                (Style == psRectangle || Style == psTriangle || Style == psDownTriangle))
                area = Union(area, Canvas.RectFromRectZ(box.Rect(), box.Depth.EndZ));
        }
        blend = Canvas.BeginBlending(area, transparency_);
    }
    DrawShape(Canvas, Is3D, box, Style);
    if (gradient_->Visible() && HasArea(Style)) DrawGradient(Canvas, Is3D, box, Color, Style);
    if (blend) Canvas.EndBlending(std::move(blend));
}

void TSeriesPointer::DrawShape(TCanvas3D& Canvas, bool Is3D, const TBox& Box,
                               TSeriesPointerStyle Style) {
    const int z0 = Box.Depth.StartZ, z1 = Box.Depth.EndZ, zm = Box.Depth.MiddleZ;
    const int L = Box.Left, T = Box.Top, R = Box.Right, B = Box.Bottom, PX = Box.PX, PY = Box.PY;
    // Lines take the far end one pixel on, so that both ends are drawn.
    const int R1 = Clamp32((long long)R + 1), B1 = Clamp32((long long)B + 1),
              T1 = Clamp32((long long)T - 1);
    auto line = [&](int x0, int y0, int x1, int y1) {
        if (Is3D)
            Canvas.LineWithZ(x0, y0, x1, y1, z0);
        else
            Canvas.Line(x0, y0, x1, y1);
    };
    auto polygon = [&](const std::vector<TPoint>& points) {
        if (Is3D)
            Canvas.PolygonWithZ(points, z0);
        else
            Canvas.Polygon(points);
    };
    switch (Style) {
        case psRectangle:
            if (!Is3D)
                Canvas.RectangleRect(Box.Rect());
            else if (draw_3d_)
                Canvas.Cube(L, R, T, B, z0, z1, dark_3d_);
            else
                Canvas.RectangleWithZ(Box.Rect(), z0);
            break;
        case psCircle:
            if (!Is3D)
                Canvas.EllipseRect(Box.Ellipse());
            else if (draw_3d_ && Canvas.GetSupportsFull3D())
                Canvas.CircleWithZ(PX, PY, zm, Box.HalfHeight);
            else
                Canvas.EllipseWithZRect(Box.Ellipse(), z0);
            break;
        case psTriangle:
        case psDownTriangle:
            if (Is3D && draw_3d_) {
                const bool up = Style == psTriangle;
                Canvas.Pyramid(true, L, up ? T : B, R, up ? B : T, z0, z1, dark_3d_);
            } else {
                polygon(Box.Polygon(Style));
            }
            break;
        case psCross:
            line(L, PY, R1, PY);
            line(PX, T, PX, B1);
            break;
        case psDiagCross:
        case psStar:
            if (Style == psStar) {
                line(L, PY, R1, PY);
                line(PX, T, PX, B1);
            }
            line(L, T, R1, B1);
            line(L, B, R1, T1);
            break;
        case psSmallDot:
            if (Is3D)
                Canvas.SetPixel3D(PX, PY, zm, Canvas.Brush->Color());
            else
                Canvas.SetPixel(PX, PY, Canvas.Brush->Color());
            break;
        case psNothing:
            break;
        default:
            polygon(Box.Polygon(Style));
            break;
    }
}

// The gradient over the shape's area; the outline is drawn again over it.
void TSeriesPointer::DrawGradient(TCanvas3D& Canvas, bool Is3D, const TBox& Box, TColor Color,
                                  TSeriesPointerStyle Style) {
    if (!KeepGradientColors) {
        quiet_ = true;
        gradient_->SetEndColor(Color);
        quiet_ = false;
    }
    const int z = Box.Depth.StartZ;
    const bool outline = Canvas.Pen->Style() != vcl::TPenStyle::psClear;
    if (Style == psRectangle || Style == psCircle) {
        const bool ellipse = Style == psCircle;
        const TRect flat = ellipse ? Box.Ellipse() : Box.Rect();
        const TRect area = Is3D ? Canvas.RectFromRectZ(flat, z) : flat;
        if (ellipse) Canvas.ClipEllipse(area, false);
        try {
            gradient_->Draw(Canvas, area);
        } catch (...) {
            if (ellipse) Canvas.UnClipRectangle();
            throw;
        }
        if (ellipse) Canvas.UnClipRectangle();
        if (!outline) return;
        const vcl::TBrushStyle brush = Canvas.Brush->Style();
        Canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        if (ellipse)
            Canvas.EllipseRect(area);
        else
            Canvas.RectangleRect(area);
        Canvas.Brush->SetStyle(brush);
        return;
    }
    const std::vector<TPoint> points = Box.Polygon(Style);
    Canvas.PolygonGradient(Is3D ? Canvas.Calc3DPoints(points, z) : points, *gradient_);
}

}  // namespace chart::engine
