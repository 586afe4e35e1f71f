#pragma once
// The 3D view settings of a chart panel: angles, zoom, offsets and the
// orthogonal (oblique) mode. Every change repaints the panel.
#include <functional>

#include "platform/vcl/persistent.h"

namespace chart {

// What view options know of the panel that owns them.
class TView3DOwner {
public:
    virtual void Invalidate() = 0;

protected:
    ~TView3DOwner() = default;
};

class TView3DOptions : public vcl::TPersistent {
public:
    explicit TView3DOptions(TView3DOwner* Owner);

    TView3DOwner* Owner() const { return owner_; }

    // Degrees and percent, read rounded to the nearest (ties to even).
    int Elevation() const;
    int Rotation() const;
    int Zoom() const;
    double ElevationFloat() const { return elevation_; }
    double RotationFloat() const { return rotation_; }
    double ZoomFloat() const { return zoom_; }
    int FontZoom() const { return font_zoom_; }
    int HorizOffset() const { return horiz_offset_; }
    bool Orthogonal() const { return orthogonal_; }
    int OrthoAngle() const { return ortho_angle_; }
    int Perspective() const { return perspective_; }
    int Tilt() const { return tilt_; }
    int VertOffset() const { return vert_offset_; }
    bool ZoomText() const { return zoom_text_; }

    void SetElevation(int Value) { SetElevationFloat(Value); }
    void SetRotation(int Value) { SetRotationFloat(Value); }
    void SetElevationFloat(double Value);
    void SetRotationFloat(double Value);
    // Tells OnChangedZoom (rounded) before the new zoom is stored.
    void SetZoom(int Value);
    void SetFontZoom(int Value);
    void SetOrthogonal(bool Value);
    void SetOrthoAngle(int Value);
    // Above 100 becomes 100; values of 0 or below mean no perspective.
    void SetPerspective(int Value);
    void SetTilt(int Value);
    void SetZoomText(bool Value);
    // Tell OnScrolled after the repaint (True for the horizontal offset).
    void SetHorizOffset(int Value);
    void SetVertOffset(int Value);

    std::function<void(bool IsHorizontal)> OnScrolled;
    std::function<void(int NewZoom)> OnChangedZoom;

    // From view options: every setting (not the events, not the owner),
    // without repainting.
    void Assign(const vcl::TPersistent& Source) override;
    // tan(OrthoAngle) when orthogonal (angles above 90 as 180 - angle),
    // otherwise 1.
    double CalcOrthoRatio() const;

private:
    template <class T>
    bool Store(T& field, T value) {
        if (field == value) return false;
        field = value;
        Repaint();
        return true;
    }
    void Repaint() {
        if (owner_) owner_->Invalidate();
    }

    double elevation_ = 345.0;
    int font_zoom_ = 100;
    int horiz_offset_ = 0;
    bool orthogonal_ = true;
    int ortho_angle_ = 45;
    int perspective_ = 15;
    double rotation_ = 345.0;
    int tilt_ = 0;
    int vert_offset_ = 0;
    double zoom_ = 100.0;
    bool zoom_text_ = true;
    TView3DOwner* owner_;
};

}  // namespace chart
