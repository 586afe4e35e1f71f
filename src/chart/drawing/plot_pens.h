#pragma once
// Pens and brushes of chart elements: the platform pen and brush with the
// chart's own settings, each change told to the owner.
#include <cstdint>
#include <memory>

#include "chart/drawing/notify_event.h"
#include "chart/drawing/plot_geometry.h"
#include "platform/vcl/graphics.h"
#include "platform/vcl/picture.h"

namespace chart {

enum TPenEndStyle : std::uint8_t { esRound = 0, esSquare = 1, esFlat = 2 };

class TChartPen : public vcl::TPen {
public:
    explicit TChartPen(TNotifyEvent OnChange = {});

    TPenEndStyle EndStyle() const { return end_style_; }
    bool SmallDots() const { return small_dots_; }
    int SmallSpace() const { return small_space_; }
    bool Visible() const { return visible_; }
    void SetEndStyle(TPenEndStyle Value);
    void SetSmallDots(bool Value);
    void SetSmallSpace(int Value);
    void SetVisible(bool Value);
    void Hide() { SetVisible(false); }

    // The values against which EndStyle and Visible are tested for
    // streaming; owners that want other defaults set them with the value.
    TPenEndStyle DefaultEndStyle = esRound;
    bool DefaultVisible = true;
    bool IsEndStyleStored() const { return end_style_ != DefaultEndStyle; }
    virtual bool IsVisibleStored() const { return visible_ != DefaultVisible; }

    // From a chart pen: Visible, SmallDots, SmallSpace and EndStyle, then
    // the platform pen's settings (one change event).
    void Assign(const vcl::TPersistent& Source) override;

protected:
    // The owner's event, hooked after the start values are set.
    void SetChangeEvent(TNotifyEvent Event);

private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed();
    }
    TPenEndStyle end_style_ = esRound;
    bool small_dots_ = false;
    int small_space_ = 0;
    bool visible_ = true;
};

// Hidden until shown.
class TChartHiddenPen : public TChartPen {
public:
    explicit TChartHiddenPen(TNotifyEvent OnChange = {});
};

class TDottedGrayPen : public TChartPen {
public:
    explicit TDottedGrayPen(TNotifyEvent OnChange = {});
};

class TDarkGrayPen : public TChartPen {
public:
    explicit TDarkGrayPen(TNotifyEvent OnChange = {});
};

// White; its Visible is always streamed.
class TWhitePen : public TChartPen {
public:
    explicit TWhitePen(TNotifyEvent OnChange = {});
    bool IsVisibleStored() const override { return true; }
};

class TChartBrush : public vcl::TBrush {
public:
    explicit TChartBrush(TNotifyEvent OnChange = {});
    ~TChartBrush() override;

    // Behind the hatch lines; clNone leaves the back transparent.
    TColor BackColor() const { return back_color_; }
    void SetBackColor(TColor Value);

    // A picture used as the pattern when it holds a graphic. Made on first
    // read, with the brush's change event, so loading it notifies the owner.
    vcl::TPicture* Image();
    // The picture when one was made, without making it.
    vcl::TPicture* ImageIfAny() const { return image_.get(); }
    // Copies Picture into the brush's own (made if needed); none frees it.
    // Both notify.
    void SetImage(const vcl::TPicture* Picture);

    // From a chart brush: its picture (through SetImage) and BackColor, then
    // the platform brush's settings.
    void Assign(const vcl::TPersistent& Source) override;

private:
    TColor back_color_ = vcl::clNone;
    std::unique_ptr<vcl::TPicture> image_;
};

}  // namespace chart
