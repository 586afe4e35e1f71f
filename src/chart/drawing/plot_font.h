#pragma once
// The font of every chart text: the platform font with the chart's
// defaults, extra space between characters, and four optional effects made
// on first use: an outline pen, a drop shadow, a picture fill and a
// gradient fill.
#include <memory>

#include "chart/drawing/notify_event.h"
#include "chart/drawing/plot_filters.h"
#include "chart/drawing/plot_gradient.h"
#include "chart/drawing/plot_pens.h"
#include "chart/drawing/plot_shadow.h"
#include "platform/vcl/graphics.h"

namespace chart {

class TPlotCanvas;

class TPlotFont : public vcl::TFont {
public:
    explicit TPlotFont(TNotifyEvent ChangedEvent = {});
    ~TPlotFont() override;

    // Made on first read. The outline and the shadow tell the owner's event
    // of their changes, the gradient the font's own; the picture tells none.
    TPlotFontGradient* Gradient();
    TChartHiddenPen* OutLine();
    TPlotPicture* Picture();
    TPlotShadow* Shadow();
    // The effects that exist, without making them.
    TPlotFontGradient* GradientIfAny() const { return gradient_.get(); }
    TChartHiddenPen* OutLineIfAny() const { return outline_.get(); }
    TPlotPicture* PictureIfAny() const { return picture_.get(); }
    TPlotShadow* ShadowIfAny() const { return shadow_.get(); }
    // Copy Value into the font's own object (made if needed); none frees it.
    void SetGradient(const TPlotFontGradient* Value);
    void SetOutLine(const TChartPen* Value);
    void SetPicture(const TPlotPicture* Value);
    void SetShadow(const TPlotShadow* Value);

    int InterCharSize() const { return inter_char_size_; }
    void SetInterCharSize(int Value);

    // What is not written to a stream.
    TColor DefaultColor = vcl::clBlack;
    vcl::TFontStyles DefaultStyle = 0;
    bool IsCharsetStored() const { return Charset() != gdi::DEFAULT_CHARSET; }
    bool IsColorStored() const { return Color() != DefaultColor; }
    bool IsHeightStored() const;
    bool IsInterCharSizeStored() const { return inter_char_size_ != 0; }
    bool IsNameStored() const;
    bool IsStyleStored() const { return Style() != DefaultStyle; }

    // The surface the font was last applied to (TPlotCanvas::AssignFont).
    TPlotCanvas* Canvas = nullptr;

    // From a chart font: its effects and spacing (an effect the source
    // lacks is freed here), then for any font the platform settings.
    void Assign(const vcl::TPersistent& Source) override;

private:
    TNotifyEvent changed_;
    std::unique_ptr<TPlotFontGradient> gradient_;
    int inter_char_size_ = 0;
    std::unique_ptr<TChartHiddenPen> outline_;
    std::unique_ptr<TPlotPicture> picture_;
    std::unique_ptr<TPlotShadow> shadow_;
};

}  // namespace chart
