#include "chart/tools/antialias_tool.h"

#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/property_stream.h"
#include "chart/drawing/unit_start.h"
#include "chart/engine/axis_panel.h"
#include "chart/tools/filters_editor.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/class_registry.h"
#include "platform/vcl/std_ctrls.h"

namespace chart::tools {

// ---- The tool

TAntiAliasTool::TAntiAliasTool(vcl::TComponent* AOwner)
    : TPlotCustomTool(AOwner), filters_(std::make_unique<TFilterItems>()) {
    SetAntiAlias(true);
}

TAntiAliasTool::~TAntiAliasTool() {
    if (!canvas_) return;
    // A surface a chart adopted stays with that chart (which goes on
    // drawing with it); one the tool still owns goes with the tool.
    canvas_->SetTool(nullptr);
    canvas_ = nullptr;
    owned_.reset();
}

bool TAntiAliasTool::AntiAlias() const { return canvas_ && !canvas_->Disabled(); }

void TAntiAliasTool::SetAntiAlias(bool Value) {
    if (!canvas_) {
        owned_ = std::make_unique<TAntiAliasCanvas>(static_cast<TAntiAliasCanvasOwner*>(this));
        canvas_ = owned_.get();
    }
    canvas_->SetDisabled(!Value);
    Install();
}

void TAntiAliasTool::Install() {
    engine::TCustomAxisPanel* chart = ParentChart();
    if (!Active() || !AntiAlias() || !chart || chart->Canvas() == canvas_) return;
    if (!owned_) {
        // Another chart draws with the surface (the tool moved): that chart
        // keeps it, and this one gets a surface of its own.
        canvas_->SetTool(nullptr);
        owned_ = std::make_unique<TAntiAliasCanvas>(static_cast<TAntiAliasCanvasOwner*>(this));
        canvas_ = owned_.get();
    }
    chart->ReplaceCanvas(std::move(owned_));
}

void TAntiAliasTool::CanvasFreed(TAntiAliasCanvas& Canvas) {
    if (&Canvas == canvas_) canvas_ = nullptr;
}

void TAntiAliasTool::SetFilters(const TFilterItems* Value) {
    if (Value) filters_->Assign(*Value);
    else filters_->Clear();
}

void TAntiAliasTool::SetActive(bool Value) {
    TPlotCustomTool::SetActive(Value);
    SetAntiAlias(Active());
}

void TAntiAliasTool::SetParentChart(engine::TCustomAxisPanel* Value) {
    TPlotCustomTool::SetParentChart(Value);
    Install();
}

void TAntiAliasTool::ChartEvent(engine::TChartToolEvent AEvent) {
    TPlotCustomTool::ChartEvent(AEvent);
    if (AEvent != engine::cteAfterDraw || filters_->Count() == 0 || !ParentChart()) return;
    // Only the image of a paint into the off-screen bitmap: a paint onto
    // another canvas leaves the bitmap alone.
    auto* canvas = dynamic_cast<TPlotCanvas3D*>(ParentChart()->Canvas());
    if (!canvas || !canvas->Bitmap() || !canvas->GetBufferedDisplay()) return;
    filters_->ApplyTo(*canvas->Bitmap());
}

std::string TAntiAliasTool::Description() const { return PlotMsg_AntiAliasTool; }
std::string TAntiAliasTool::LongDescription() const { return PlotMsg_AntiAliasToolDesc; }

void TAntiAliasTool::WriteFilterItems(TWriter& Writer) const {
    if (!FilterItemsStored()) return;
    Writer.WritePropName("FilterItems");
    filters_->WriteItems(Writer);
}

// ---- Its settings form

TAntiAliasEditor::TAntiAliasEditor(vcl::TComponent* AOwner) : vcl::TForm(AOwner) {
    using namespace vcl;
    Name = "AntiAliasEditor";
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetClientSize(185, 83);

    CBAnti = new TCheckBox(this);
    CBAnti->Name = "CBAnti";
    CBAnti->SetParent(this);
    CBAnti->SetBounds(10, 10, 160, 17);
    CBAnti->SetCaption("&Anti-alias");
    CBAnti->SetChecked(true);
    CBAnti->OnClick = [this](TComponent*) { CBAntiClick(); };

    Button1 = new TButton(this);
    Button1->Name = "Button1";
    Button1->SetParent(this);
    Button1->SetBounds(8, 40, 89, 25);
    Button1->SetCaption("&Filters...");
    Button1->OnClick = [this](TComponent*) { Button1Click(); };

    OnShow = [this](TComponent*) { FormShow(); };
}

TAntiAliasEditor::~TAntiAliasEditor() {
    SetTool(nullptr);
    DestroyComponents();
}

void TAntiAliasEditor::SetTool(TAntiAliasTool* Value) {
    if (Value == tool_) return;
    if (tool_) {
        RemoveFreeNotification(tool_);
        tool_->RemoveFreeNotification(this);
    }
    tool_ = Value;
    if (tool_) FreeNotification(tool_);
}

void TAntiAliasEditor::Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) {
    vcl::TForm::Notification(AComponent, Operation);
    if (Operation == vcl::TOperation::opRemove && AComponent == tool_) tool_ = nullptr;
}

void TAntiAliasEditor::FormShow() {
    if (tool_) CBAnti->SetChecked(tool_->AntiAlias());
}

void TAntiAliasEditor::CBAntiClick() {
    if (tool_) tool_->SetAntiAlias(CBAnti->Checked());
}

void TAntiAliasEditor::Button1Click() {
    if (!tool_ || !tool_->ParentChart()) return;
    // The chart as it looks without the tool; the tool's switches as they
    // were afterwards (Active alone would switch the smoothing on again).
    std::unique_ptr<vcl::TBitmap> bitmap;
    {
        struct TRestore {
            TAntiAliasTool& tool;
            bool active = tool.Active(), antiAlias = tool.AntiAlias();
            ~TRestore() {
                tool.SetActive(active);
                tool.SetAntiAlias(antiAlias);
            }
        } restore{*tool_};
        tool_->SetActive(false);
        bitmap = tool_->ParentChart()->CreateBitmap();
    }
    // The user edits a copy of the list: the tool (and its list) may be
    // freed while the editor is shown. Every change is kept.
    TFilterItems filters;
    filters.Assign(tool_->Filters());
    const bool changed = ShowFiltersEditor(this, *bitmap, filters);
    if (!tool_) return;
    tool_->Filters().Assign(filters);
    if (changed && tool_->ParentChart()) tool_->ParentChart()->Invalidate();
}

// ---- The unit

namespace {

void Start() {
    PlotProCoUse();
    PlotFiltersUse();
    engine::RegisterPlotToolClasses({engine::PlotToolClass<TAntiAliasTool>()});
    vcl::RegisterClass(vcl::ClassOf<TAntiAliasEditor>());
}

void Stop() {
    engine::UnregisterPlotToolClasses({engine::PlotToolClass<TAntiAliasTool>()});
    PlotFiltersRelease();
    PlotProCoRelease();
}

constinit TUnitStart unit_start(Start, Stop);
[[maybe_unused]] const bool started = StartAtLoad(unit_start);

}  // namespace

void PlotAntiAliasUse() { unit_start.Use(); }
void PlotAntiAliasRelease() { unit_start.Release(); }

}  // namespace chart::tools
