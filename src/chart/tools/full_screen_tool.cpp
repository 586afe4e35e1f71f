#include "chart/tools/full_screen_tool.h"

#include "chart/drawing/plot_pro_co.h"
#include "chart/engine/axis_panel.h"
#include "platform/vcl/forms.h"

namespace chart::tools {

TFullScreenTool::TFullScreenTool(vcl::TComponent* AOwner) : TPlotCustomTool(AOwner) {
    TPlotCustomTool::SetActive(false);
}

TFullScreenTool::~TFullScreenTool() {
    if (window_) GoBack(false);
}

void TFullScreenTool::SetActive(bool Value) {
    const bool was = Active();
    TPlotCustomTool::SetActive(Value);
    if (Value == was || (ComponentState() & vcl::csLoading)) return;
    if (Value)
        GoFullScreen();
    else if (window_)
        GoBack(false);
}

void TFullScreenTool::SetParentChart(engine::TCustomAxisPanel* Value) {
    if (Value != ParentChart() && window_) GoBack(false);
    TPlotCustomTool::SetParentChart(Value);
}

void TFullScreenTool::GoFullScreen() {
    engine::TCustomAxisPanel* chart = ParentChart();
    if (!chart || window_) return;
    vcl::EnsureApplication();
    old_parent_ = chart->Parent();
    if (old_parent_) FreeNotification(old_parent_);
    old_align_ = chart->Align();
    old_bounds_ = chart->BoundsRect();
    const TRect screen = vcl::MonitorRect(chart->ClientToScreen({chart->Width() / 2, chart->Height() / 2}));
    window_ = new vcl::TForm(nullptr);
    window_->SetBorderStyle(vcl::TFormBorderStyle::bsNone);
    window_->SetKeyPreview(true);
    window_->SetBounds(screen.Left, screen.Top, screen.Right - screen.Left, screen.Bottom - screen.Top);
    window_->OnKeyDown = [this](vcl::TComponent*, std::uint16_t& Key, vcl::TShiftState) {
        if (Key != release_key_) return;
        Key = 0;
        TPlotCustomTool::SetActive(false);
        GoBack(true);
    };
    window_->OnClose = [this](vcl::TComponent*, vcl::TCloseAction& Action) {
        // The window hides itself; it is freed once its close is handled.
        closing_ = true;
        TPlotCustomTool::SetActive(false);
        GoBack(true);
        closing_ = false;
        Action = vcl::TCloseAction::caHide;
    };
    chart->SetAlign(vcl::TAlign::alNone);
    chart->SetParent(window_);
    chart->SetBounds(0, 0, screen.Right - screen.Left, screen.Bottom - screen.Top);
    window_->Show();
    window_->Activate();
}

void TFullScreenTool::GoBack(bool Later) {
    vcl::TForm* window = window_;
    window_ = nullptr;
    if (!window) return;
    window->OnKeyDown = nullptr;
    window->OnClose = nullptr;
    if (engine::TCustomAxisPanel* chart = ParentChart(); chart && chart->Parent() == window) {
        vcl::TWinControl* back = old_parent_ && !old_parent_->Destroying() ? old_parent_ : nullptr;
        chart->SetParent(back);
        chart->SetBounds(old_bounds_.Left, old_bounds_.Top, old_bounds_.Right - old_bounds_.Left,
                         old_bounds_.Bottom - old_bounds_.Top);
        chart->SetAlign(old_align_);
    }
    if (old_parent_) RemoveFreeNotification(old_parent_);
    old_parent_ = nullptr;
    if (Later || closing_) {
        window->Hide();
        window->Release();
    } else {
        delete window;
    }
}

void TFullScreenTool::Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) {
    TPlotCustomTool::Notification(AComponent, Operation);
    if (Operation == vcl::TOperation::opRemove && AComponent == old_parent_) old_parent_ = nullptr;
}

void TFullScreenTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TFullScreenTool*>(&Source)) release_key_ = s->release_key_;
    TPlotCustomTool::Assign(Source);
}

std::string TFullScreenTool::Description() const { return PlotMsg_FullScreenTool; }
std::string TFullScreenTool::LongDescription() const { return PlotMsg_FullScreenToolDesc; }

}  // namespace chart::tools
