#include "chart/tools/editor_controls.h"

#include <vector>

#include "chart/drawing/plot_canvas3d.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/resources.h"

namespace chart::tools {

namespace {

// The width of a window caption button at 96 pixels an inch: the arrow
// area of a drop-down list.
constexpr int kCaptionButtonWidth = 18;

// The custom colours of every colour dialog the buttons open.
std::vector<TColor>& SharedCustomColors() {
    static std::vector<TColor> colors;
    return colors;
}

// 11 x 7 arrows: black on a fuchsia background, which the buttons show as
// transparent (the colour of the bottom-left pixel).
const vcl::TResourceModule& ToolResources() {
    static const vcl::TResourceModule module{
        "chart tools",
        {{vcl::TResourceType::rtBitmap,
          "PlotArrowUp",
          {{"...........", ".....X.....", "....XXX....", "...XXXXX...", "..XXXXXXX..", ".XXXXXXXXX.",
            "..........."},
           {{'X', vcl::clBlack}, {'.', vcl::clFuchsia}}}},
         {vcl::TResourceType::rtBitmap,
          "PlotArrowDown",
          {{"...........", ".XXXXXXXXX.", "..XXXXXXX..", "...XXXXX...", "....XXX....", ".....X.....",
            "..........."},
           {{'X', vcl::clBlack}, {'.', vcl::clFuchsia}}}}}};
    return module;
}

}  // namespace

// ---- TPlotButton

TPlotButton::TPlotButton(vcl::TComponent* owner) : vcl::TButton(owner) { SetPaintsOver(true); }

vcl::TRect TPlotButton::SymbolRect() const {
    const int w = Width(), h = Height();
    return {w - 19, h - 3 * (h / 4), w - 6, h - h / 4};
}

void TPlotButton::DrawSymbol(TPlotCanvas&) {}

void TPlotButton::PaintOver(vcl::TCanvas& canvas) {
    TPlotCanvas3D surface;
    surface.SetCanvas(&canvas);
    DrawSymbol(surface);
}

// ---- The colour dialog

bool EditColorDialog(vcl::TComponent* owner, TColor& color) {
    vcl::TColorDialog dialog(owner);
    dialog.Color = color;
    dialog.CustomColors = SharedCustomColors();
    if (!dialog.Execute()) return false;
    SharedCustomColors() = dialog.CustomColors;
    color = dialog.Color;
    return true;
}

TColor EditColor(vcl::TComponent* owner, TColor color) {
    EditColorDialog(owner, color);
    return color;
}

// ---- TButtonColor

TButtonColor::TButtonColor(vcl::TComponent* owner) : TPlotButton(owner) {}

void TButtonColor::LinkProperty(vcl::TPersistent* Instance, const std::string& PropName) {
    instance_ = Instance;
    prop_info_ = nullptr;
    if (instance_ && !PropName.empty()) {
        prop_info_ = vcl::GetPropInfo(*instance_, PropName);
        if (!prop_info_)
            throw vcl::EPropertyError("Unknown property: " + PropName + " of " + instance_->ClassName());
    }
    Invalidate();
}

TColor TButtonColor::SymbolColor() const {
    if (GetColorEvent) return GetColorEvent();
    if (prop_info_ && instance_) {
        const TColor c = static_cast<TColor>(vcl::GetOrdProp(*instance_, *prop_info_));
        // System colours (high bit set) become their RGB; clNone and other
        // values stay as they are.
        return c < 0 ? static_cast<TColor>(vcl::ColorToRGB(c)) : c;
    }
    return OwnColor;
}

void TButtonColor::SetSymbolColor(TColor color) {
    if (prop_info_ && instance_) vcl::SetOrdProp(*instance_, *prop_info_, color);
    else OwnColor = color;
}

void TButtonColor::DrawSymbol(TPlotCanvas& canvas) {
    const TColor color = SymbolColor();
    canvas.Brush->SetColor(color);
    if (color == vcl::clNone) return;
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
    if (!Enabled()) canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    const vcl::TRect r = SymbolRect();
    canvas.Rectangle(r.Left, r.Top, r.Right, r.Bottom);
}

void TButtonColor::Click() {
    TColor color = SymbolColor();
    if (!EditColorDialog(this, color)) return;
    SetSymbolColor(color);
    Repaint();
    TPlotButton::Click();
}

// ---- TComboFlat

TComboFlat::TComboFlat(vcl::TComponent* owner) : vcl::TComboBox(owner) {
    SetStyle(vcl::TComboBoxStyle::csDropDownList);
    SetItemHeight(13);
    SetHeight(21);
    SetPaintsOver(true);
}

void TComboFlat::PaintOver(vcl::TCanvas& canvas) {
    if (mouse_in_control_ || Focused()) return;
    canvas.Pen.SetColor(vcl::clBtnFace);
    canvas.Pen.SetStyle(vcl::TPenStyle::psSolid);
    canvas.Pen.SetWidth(1);
    canvas.Brush.SetStyle(vcl::TBrushStyle::bsClear);
    vcl::TRect r{0, 0, Width(), Height()};
    canvas.Rectangle(r);
    r = {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
    canvas.Rectangle(r);
    const vcl::TRect arrow{r.Right - kCaptionButtonWidth - 2, r.Top + 1, r.Right, r.Bottom - 1};
    canvas.Pen.SetColor(vcl::clWindow);
    canvas.Rectangle(arrow);
    canvas.MoveTo(arrow.Right - 2, arrow.Top);
    canvas.LineTo(arrow.Right - 2, arrow.Bottom);
}

void TComboFlat::ControlMessage(TControlMessage message) {
    mouse_in_control_ = message == TControlMessage::cmMouseEnter;
    Repaint();
}

// ---- Glyphs

void PlotLoadArrowGlyphs(vcl::TBitmap& up, vcl::TBitmap& down) {
    static const bool registered = [] {
        vcl::RegisterResourceModule(ToolResources());
        return true;
    }();
    (void)registered;
    vcl::LoadBitmapResource(up, "PlotArrowUp");
    vcl::LoadBitmapResource(down, "PlotArrowDown");
}

}  // namespace chart::tools
