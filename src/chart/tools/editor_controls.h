#pragma once
// Small controls of the chart's editor forms: a push button that paints a
// symbol at its right end, a colour button (a swatch that opens the colour
// dialog, optionally bound to a colour property of another object), a
// drop-down list with a flat frame, and the arrow glyphs of the editors'
// move-up and move-down buttons.
#include <functional>
#include <string>

#include "chart/drawing/plot_canvas.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/properties.h"
#include "platform/vcl/std_ctrls.h"

namespace chart::tools {

using vcl::TColor;

class TPlotButton : public vcl::TButton {
public:
    explicit TPlotButton(vcl::TComponent* owner);

    // Where the symbol goes for a button of width W and height H:
    // (W - 19, H - 3 * (H div 4), W - 6, H - H div 4).
    vcl::TRect SymbolRect() const;
    // Draws the symbol on a chart surface over the button; the base draws
    // none.
    virtual void DrawSymbol(TPlotCanvas& canvas);

protected:
    // After the button paints itself: a chart surface over the paint's
    // canvas, and the symbol on it.
    void PaintOver(vcl::TCanvas& canvas) override;
};

// The colour dialog, owned by owner, preset with color; its custom colours
// are one list shared by every colour button (made on the first call) and
// kept when the dialog is confirmed. True, and the chosen colour in color,
// when confirmed; false (color unchanged) when cancelled.
bool EditColorDialog(vcl::TComponent* owner, TColor& color);
// The chosen colour, or color when cancelled.
TColor EditColor(vcl::TComponent* owner, TColor color);

class TButtonColor : public TPlotButton {
public:
    explicit TButtonColor(vcl::TComponent* owner);

    vcl::TPersistent* Instance() const { return instance_; }
    const vcl::TPropInfo* PropInfo() const { return prop_info_; }
    // The colour kept by the button itself while no property is bound.
    TColor OwnColor = vcl::clBlack;
    // When assigned, supplies the colour shown and edited.
    std::function<TColor()> GetColorEvent;

    // Binds the button to the colour property PropName of Instance (not
    // owned: unbind with a null Instance before it goes). An empty name
    // binds none; a name the object's class does not publish raises
    // EPropertyError. Repaints.
    void LinkProperty(vcl::TPersistent* Instance, const std::string& PropName);
    // The colour: GetColorEvent's when assigned, else the bound property's
    // (system colours resolved to RGB; clNone stays clNone), else OwnColor.
    TColor SymbolColor() const;
    // Into the bound property, else into OwnColor.
    void SetSymbolColor(TColor color);

    // A filled swatch in SymbolRect; none for clNone; no outline while the
    // button is disabled.
    void DrawSymbol(TPlotCanvas& canvas) override;
    // Opens the colour dialog; only when the user confirms it is the colour
    // written, the button repainted and OnClick raised.
    void Click() override;

private:
    vcl::TPersistent* instance_ = nullptr;
    const vcl::TPropInfo* prop_info_ = nullptr;
};

class TComboFlat : public vcl::TComboBox {
public:
    // A drop-down list 21 pixels high with items of 13.
    explicit TComboFlat(vcl::TComponent* owner);

    int DropDownWidth() const { return DroppedWidth(); }
    void SetDropDownWidth(int width) { SetDroppedWidth(width); }
    // Whether the mouse is over the control.
    bool MouseInControl() const { return mouse_in_control_; }

protected:
    // Unless hovered or focused: flat frames in the face colour over the
    // platform's frame, the arrow's area framed in the window colour.
    void PaintOver(vcl::TCanvas& canvas) override;
    void ControlMessage(TControlMessage message) override;

private:
    bool mouse_in_control_ = false;
};

// Loads the glyphs "PlotArrowUp" and "PlotArrowDown" (black arrows on a
// background in the colour of their bottom-left pixel, which buttons show
// as transparent).
void PlotLoadArrowGlyphs(vcl::TBitmap& up, vcl::TBitmap& down);

}  // namespace chart::tools
