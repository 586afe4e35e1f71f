#include "platform/vcl/image.h"

#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace vcl {

namespace {

// A widget whose paints go to the control.
class TImageWidget : public QWidget {
public:
    explicit TImageWidget(TImage* owner) : owner_(owner) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        TCanvas canvas;
        canvas.Attach(&painter);
        Guarded(paintFailed_, [&] { owner_->Paint(canvas); });
        canvas.Attach(nullptr);
    }

private:
    TImage* owner_;
    win::LoopEntryState paintFailed_;
};

}  // namespace

TImage::TImage(TComponent* owner) : TControl(owner, new TImageWidget(this)) {
    SetBounds(0, 0, 105, 105);
    picture_.OnChange = [this] { Repaint(); };
}

TImage::~TImage() { picture_.OnChange = nullptr; }

void TImage::SetStretch(bool on) {
    if (on == stretch_) return;
    stretch_ = on;
    Repaint();
}

void TImage::SetProportional(bool on) {
    if (on == proportional_) return;
    proportional_ = on;
    Repaint();
}

void TImage::SetCenter(bool on) {
    if (on == center_) return;
    center_ = on;
    Repaint();
}

TRect TImage::DestRect() const {
    const int cw = ClientWidth(), ch = ClientHeight();
    long long w = picture_.Width(), h = picture_.Height();
    const bool tooLarge = w > cw || h > ch;
    if (stretch_ || (proportional_ && tooLarge)) {
        if (proportional_ && w > 0 && h > 0) {
            // The largest size of the picture's shape that fits.
            if (w * ch > h * cw) {
                h = h * cw / w;
                w = cw;
            } else {
                w = w * ch / h;
                h = ch;
            }
        } else {
            w = cw;
            h = ch;
        }
    }
    long long x = 0, y = 0;
    if (center_) {
        x = (cw - w) / 2;
        y = (ch - h) / 2;
    }
    return {static_cast<int>(x), static_cast<int>(y), static_cast<int>(x + w), static_cast<int>(y + h)};
}

void TImage::Paint(TCanvas& Canvas) { Canvas.StretchDraw(DestRect(), picture_.Graphic()); }

}  // namespace vcl
