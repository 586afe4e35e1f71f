#include "chart/engine/plot_shape.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "chart/drawing/plot_geometry.h"
#include "chart/drawing/projection_math.h"
#include "chart/engine/chart_filer.h"
#include "chart/engine/pixel_math.h"
#include "chart/engine/plot_panel_extended.h"

namespace chart::engine {

// ---- Brush, frame, visibility

TPlotCustomShapeBrushPen::TPlotCustomShapeBrushPen(TCustomPlotPanelExtended* AOwner)
    : parent_(AOwner),
      brush_(std::make_unique<chart::TChartBrush>(RepaintEvent())),
      frame_(std::make_unique<chart::TChartPen>(RepaintEvent())) {}

TPlotCustomShapeBrushPen::~TPlotCustomShapeBrushPen() = default;

chart::TNotifyEvent TPlotCustomShapeBrushPen::RepaintEvent() {
    return [this](vcl::TPersistent*) { Repaint(); };
}

void TPlotCustomShapeBrushPen::Repaint() {
    if (parent_) parent_->Invalidate();
}

void TPlotCustomShapeBrushPen::SetVisible(bool Value) {
    if (parent_)
        parent_->SetBooleanProperty(visible_, Value);
    else
        visible_ = Value;
}

void TPlotCustomShapeBrushPen::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TPlotCustomShapeBrushPen*>(&Source);
    if (!other) return vcl::TPersistent::Assign(Source);
    if (other == this) return;
    brush_->Assign(*other->brush_);
    frame_->Assign(*other->frame_);
    SetVisible(other->visible_);
}

// ---- Shape

TPlotCustomShape::TPlotCustomShape(TCustomPlotPanelExtended* AOwner)
    : TPlotCustomShapeBrushPen(AOwner),
      font_(std::make_unique<chart::TPlotFont>(RepaintEvent())),
      shadow_(std::make_unique<chart::TPlotShadow>(RepaintEvent())) {
    TPlotCustomShape::InitShadow(*shadow_);
}

TPlotCustomShape::~TPlotCustomShape() = default;

void TPlotCustomShape::InitShadow(chart::TPlotShadow& AShadow) {
    AShadow.SetDefaults(vcl::clBlack, 3);
}

std::unique_ptr<chart::TPlotGradient> TPlotCustomShape::CreateGradient() {
    return std::make_unique<chart::TPlotGradient>(RepaintEvent());
}

void TPlotCustomShape::SetBevel(vcl::TBevelCut Value) { Store(bevel_, Value); }
void TPlotCustomShape::SetBevelWidth(int Value) { Store(bevel_width_, std::max(Value, 1)); }
void TPlotCustomShape::SetColor(TColor Value) { Store(color_, Value); }
void TPlotCustomShape::SetRoundSize(int Value) { Store(round_size_, Value); }
void TPlotCustomShape::SetShapeStyle(TChartObjectShapeStyle Value) { Store(shape_style_, Value); }
void TPlotCustomShape::SetTextFormat(TTextFormat Value) { Store(text_format_, Value); }
void TPlotCustomShape::SetTransparency(int Value) {
    Store(transparency_, std::clamp(Value, 0, 100));
}
void TPlotCustomShape::SetTransparent(bool Value) { Store(transparent_, Value); }

chart::TPlotGradient& TPlotCustomShape::Gradient() {
    if (!gradient_) gradient_ = CreateGradient();
    return *gradient_;
}

void TPlotCustomShape::SetGradient(const chart::TPlotGradient* Value) {
    if (!Value) {
        if (gradient_) {
            gradient_.reset();
            Repaint();
        }
    } else if (Value != gradient_.get()) {
        Gradient().Assign(*Value);
        Repaint();
    }
}

TBackImage& TPlotCustomShape::Picture() {
    if (!picture_) {
        picture_ = std::make_unique<TBackImage>();
        picture_->OnChange = [this] { Repaint(); };
    }
    return *picture_;
}

void TPlotCustomShape::SetPicture(const TBackImage* Value) {
    if (!Value) {
        if (picture_) {
            picture_.reset();
            Repaint();
        }
    } else if (Value != picture_.get()) {
        Picture().Assign(*Value);
    }
}

int TPlotCustomShape::Width() const {
    return Clamp32((long long)ShapeBounds.Right - ShapeBounds.Left + 1);
}
int TPlotCustomShape::Height() const {
    return Clamp32((long long)ShapeBounds.Bottom - ShapeBounds.Top + 1);
}
void TPlotCustomShape::SetWidth(int Value) {
    ShapeBounds.Right = Clamp32((long long)ShapeBounds.Left + Value - 1);
}
void TPlotCustomShape::SetHeight(int Value) {
    ShapeBounds.Bottom = Clamp32((long long)ShapeBounds.Top + Value - 1);
}

void TPlotCustomShape::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TPlotCustomShape*>(&Source);
    if (other && other != this) {
        bevel_ = other->bevel_;
        bevel_width_ = other->bevel_width_;
        color_ = other->color_;
        font_->Assign(*other->font_);
        SetGradient(other->gradient_.get());
        SetPicture(other->picture_.get());
        round_size_ = other->round_size_;
        shadow_->Assign(*other->shadow_);
        shape_style_ = other->shape_style_;
        text_format_ = other->text_format_;
        transparency_ = other->transparency_;
        transparent_ = other->transparent_;
        ShapeBounds = other->ShapeBounds;
    }
    TPlotCustomShapeBrushPen::Assign(Source);
}

std::array<TPoint, 4> TPlotCustomShape::RotatedCorners(const TRect& Rect, int Angle) {
    const long long cx = ((long long)Rect.Left + Rect.Right) / 2;
    const long long cy = ((long long)Rect.Top + Rect.Bottom) / 2;
    const double a = Angle * chart::kDegreesToRadians;
    const double s = std::sin(a), c = std::cos(a);
    const std::array<TPoint, 4> corners = {
        TPoint{Rect.Left, Rect.Top}, TPoint{Rect.Right, Rect.Top}, TPoint{Rect.Right, Rect.Bottom},
        TPoint{Rect.Left, Rect.Bottom}};
    std::array<TPoint, 4> out;
    for (std::size_t i = 0; i < 4; ++i) {
        const double x = static_cast<double>(corners[i].X - cx);
        const double y = static_cast<double>(corners[i].Y - cy);
        out[i] = {chart::RoundToInt(std::nearbyint(x * c + y * s) + static_cast<double>(cx)),
                  chart::RoundToInt(std::nearbyint(-x * s + y * c) + static_cast<double>(cy))};
    }
    return out;
}

// The outline primitive: fills with the surface's brush, frames with its pen.
void TPlotCustomShape::DrawShape(TCanvas3D& Canvas, const TRect& Rect, bool Rotated,
                                 const std::array<TPoint, 4>& Corners, int Z) {
    if (Rotated) {
        Canvas.PolygonWithZ(Corners, Z);
    } else if (Canvas.GetSupportsFull3D()) {
        if (shape_style_ == fosEllipse)
            Canvas.EllipseWithZRect(Rect, Z);
        else
            Canvas.RectangleWithZ(Rect, Z);
    } else if (shape_style_ == fosEllipse) {
        Canvas.EllipseRect(Rect);
    } else if (shape_style_ == fosRoundRectangle) {
        Canvas.RoundRectRect(Rect, round_size_, round_size_);
    } else {
        Canvas.RectangleRect(Rect);
    }
}

// Under a shape that is itself partly transparent the shadow would show
// through it: its area is painted again at the shadow's offset.
void TPlotCustomShape::DrawShadowArea(TCanvas3D& Canvas, const TRect& Rect, bool Rotated,
                                      const std::array<TPoint, 4>& Corners, int Z) {
    long long dx = shadow_->HorizSize(), dy = shadow_->VertSize();
    if (Frame().Visible() && std::max(dx, dy) > 0) {
        dx += Frame().Width();
        dy += Frame().Width();
    }
    const TRect moved{Clamp32(Rect.Left + dx), Clamp32(Rect.Top + dy), Clamp32(Rect.Right + dx),
                      Clamp32(Rect.Bottom + dy)};
    std::array<TPoint, 4> corners = Corners;
    for (TPoint& p : corners) p = {Clamp32(p.X + dx), Clamp32(p.Y + dy)};
    Canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    Canvas.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
    Canvas.Brush->SetColor(shadow_->Color());
    std::unique_ptr<chart::TPlotBlend> blend;
    if (shadow_->Transparency() > 0)
        blend = Canvas.BeginBlending(Rotated ? chart::PolygonBounds(corners, 4) : moved,
                                     shadow_->Transparency());
    DrawShape(Canvas, moved, Rotated, corners, Z);
    if (blend) Canvas.EndBlending(std::move(blend));
}

void TPlotCustomShape::DefineProperties(TFiler& Filer) {
    chart::TPlotShadow& shadow = *shadow_;
    Filer.DefineProperty(
        "ShadowColor", [&shadow](chart::TReader& Reader) { shadow.SetColor(ReadColorValue(Reader)); }, {}, false);
    Filer.DefineProperty("ShadowSize", [&shadow](chart::TReader& Reader) { shadow.SetSize(ReadInt32(Reader)); },
                         {}, false);
}

void TPlotCustomShape::DrawRectRotated(const TRect& Rect, int Angle, int Z) {
    TCustomPlotPanelExtended* chart = ParentChart();
    if (!chart || transparent_) return;
    TCanvas3D& canvas = *chart->Canvas();
    const bool rotated = Angle != 0;
    const std::array<TPoint, 4> corners =
        rotated ? RotatedCorners(Rect, Angle) : std::array<TPoint, 4>{};
    const bool full3D = canvas.GetSupportsFull3D();
    const bool round = shape_style_ == fosRoundRectangle;

    std::unique_ptr<chart::TPlotBlend> blend;
    if (transparency_ > 0)
        blend =
            canvas.BeginBlending(rotated ? chart::PolygonBounds(corners, 4) : Rect, transparency_);

    // Shadow
    if (shadow_->Visible() && (shadow_->HorizSize() != 0 || shadow_->VertSize() != 0) &&
        Brush().Style() != vcl::TBrushStyle::bsClear) {
        if (!full3D) canvas.Begin2D();
        try {
            if (shape_style_ == fosEllipse)
                shadow_->DrawEllipse(canvas, Rect, Z);
            else if (rotated)
                shadow_->DrawPolygon(canvas, corners, Z);
            else
                shadow_->Draw(canvas, Rect, Z, round ? round_size_ : 0);
        } catch (...) {
            if (!full3D) canvas.End2D();
            throw;
        }
        if (!full3D) canvas.End2D();
        if (transparency_ > 0) DrawShadowArea(canvas, Rect, rotated, corners, Z);
    }

    // Fill
    if (picture_ && picture_->Graphic()) {
        bool clipped = false;
        if (shape_style_ == fosEllipse) {
            canvas.ClipEllipse(Rect, false);
            clipped = true;
        } else if (round) {
            canvas.ClipRoundRectangle(Rect, round_size_);
            clipped = true;
        }
        try {
            picture_->Draw(*chart, Rect, 0);
        } catch (...) {
            if (clipped) canvas.UnClipRectangle();
            throw;
        }
        if (clipped) canvas.UnClipRectangle();
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    } else if (gradient_ && gradient_->Visible()) {
        if (!rotated)
            gradient_->Draw(canvas, Rect, round ? round_size_ : 0);
        else if (full3D)
            gradient_->DrawPolygonWithZ(canvas, corners, Z);
        else
            gradient_->DrawPolygon(canvas, corners);
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    } else {
        canvas.AssignBrushColor(Brush(), color_);
    }

    // Frame and outline
    canvas.AssignVisiblePen(Frame());
    DrawShape(canvas, Rect, rotated, corners, Z);

    if (!rotated && bevel_ != vcl::TBevelCut::bvNone) {
        TRect inner = Rect;
        TCustomPlotPanel::DrawBevel(canvas, bevel_, inner, 0, bevel_width_);
    }

    // The filters of a picture without a graphic work on what shows
    // through the shape: the image under it, saved when blending began.
    if (!blend) return;
    if (picture_ && !picture_->Graphic() && picture_->FiltersIfAny() && picture_->FiltersIfAny()->Count() > 0 &&
        blend->Saved())
        picture_->FiltersIfAny()->ApplyTo(*blend->Saved());
    canvas.EndBlending(std::move(blend));
}

}  // namespace chart::engine
