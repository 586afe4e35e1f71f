#pragma once
// The image control: shows a picture at its size, stretched to the
// control (optionally keeping its proportions) or centred.
#include <memory>

#include "platform/vcl/controls.h"
#include "platform/vcl/picture.h"

namespace vcl {

class TImage : public TControl {
public:
    explicit TImage(TComponent* owner);
    ~TImage() override;

    // Changes of the picture repaint the control.
    TPicture& Picture() { return picture_; }

    bool Stretch() const { return stretch_; }
    bool Proportional() const { return proportional_; }
    bool Center() const { return center_; }
    void SetStretch(bool on);
    void SetProportional(bool on);
    void SetCenter(bool on);

    // Where the picture is drawn in the client area: its own size, or
    // stretched to the client (with Proportional scaled to fit, never past
    // the client; without Stretch, Proportional only shrinks a picture that
    // is too large), moved to the middle with Center.
    TRect DestRect() const;

    // Paints the control's picture on Canvas (each paint of the control
    // comes here with a canvas on the window).
    virtual void Paint(TCanvas& Canvas);

private:
    TPicture picture_;
    bool stretch_ = false;
    bool proportional_ = false;
    bool center_ = false;
};

}  // namespace vcl
