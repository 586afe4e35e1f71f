#include "chart/drawing/view3d_options.h"

#include <cmath>
#include <numbers>

#include "chart/drawing/projection_math.h"

namespace chart {

TView3DOptions::TView3DOptions(TView3DOwner* Owner) : owner_(Owner) {}

int TView3DOptions::Elevation() const { return RoundToInt(elevation_); }
int TView3DOptions::Rotation() const { return RoundToInt(rotation_); }
int TView3DOptions::Zoom() const { return RoundToInt(zoom_); }

void TView3DOptions::SetElevationFloat(double Value) { Store(elevation_, Value); }
void TView3DOptions::SetRotationFloat(double Value) { Store(rotation_, Value); }
void TView3DOptions::SetFontZoom(int Value) { Store(font_zoom_, Value); }
void TView3DOptions::SetOrthogonal(bool Value) { Store(orthogonal_, Value); }
void TView3DOptions::SetOrthoAngle(int Value) { Store(ortho_angle_, Value); }
void TView3DOptions::SetPerspective(int Value) { Store(perspective_, std::min(Value, 100)); }
void TView3DOptions::SetTilt(int Value) { Store(tilt_, Value); }
void TView3DOptions::SetZoomText(bool Value) { Store(zoom_text_, Value); }

void TView3DOptions::SetZoom(int Value) {
    const double next = Value;
    if (next == zoom_) return;
    if (OnChangedZoom) OnChangedZoom(RoundToInt(next));
    zoom_ = next;
    Repaint();
}

void TView3DOptions::SetHorizOffset(int Value) {
    if (Store(horiz_offset_, Value) && OnScrolled) OnScrolled(true);
}

void TView3DOptions::SetVertOffset(int Value) {
    if (Store(vert_offset_, Value) && OnScrolled) OnScrolled(false);
}

void TView3DOptions::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TView3DOptions*>(&Source);
    if (!other) return;
    elevation_ = other->elevation_;
    font_zoom_ = other->font_zoom_;
    horiz_offset_ = other->horiz_offset_;
    orthogonal_ = other->orthogonal_;
    ortho_angle_ = other->ortho_angle_;
    perspective_ = other->perspective_;
    rotation_ = other->rotation_;
    tilt_ = other->tilt_;
    vert_offset_ = other->vert_offset_;
    zoom_ = other->zoom_;
    zoom_text_ = other->zoom_text_;
}

double TView3DOptions::CalcOrthoRatio() const {
    if (!orthogonal_) return 1.0;
    int angle = ortho_angle_;
    if (angle > 90) angle = 180 - angle;
    const double a = angle * kDegreesToRadians;
    return std::sin(a) / std::cos(a);
}

}  // namespace chart
