#include "chart/engine/chart_element.h"

#include "chart/engine/axis_panel.h"

namespace chart::engine {

// ---- Element

TCustomChartElement::TCustomChartElement(vcl::TComponent* AOwner)
    : vcl::TComponent(AOwner),
      brush_(std::make_unique<chart::TChartBrush>([this](vcl::TPersistent*) { Repaint(); })),
      pen_(CreateChartPen()) {}

TCustomChartElement::~TCustomChartElement() {
    // Freed without Free or an owner: only this part is left to leave the
    // chart with.
    if (parent_chart_) TCustomChartElement::SetParentChart(nullptr);
}

void TCustomChartElement::BeforeDestruction() {
    vcl::TComponent::BeforeDestruction();
    if (parent_chart_) SetParentChart(nullptr);
}

std::unique_ptr<chart::TChartPen> TCustomChartElement::CreateChartPen() {
    return std::make_unique<chart::TChartPen>([this](vcl::TPersistent*) { Repaint(); });
}

void TCustomChartElement::SetActive(bool Value) { SetBooleanProperty(active_, Value); }

void TCustomChartElement::SetPen(const chart::TChartPen& Value) { pen_->Assign(Value); }

void TCustomChartElement::SetParentChart(TCustomAxisPanel* Value) { parent_chart_ = Value; }

void TCustomChartElement::Repaint() {
    if (parent_chart_) parent_chart_->Invalidate();
}

void TCustomChartElement::Assign(const TCustomChartElement& Source) {
    if (&Source == this) return;
    active_ = Source.active_;
    brush_->Assign(*Source.brush_);
    SetPen(*Source.pen_);
    Tag = Source.Tag;
}

vcl::TComponent* TCustomChartElement::GetParentComponent() const { return parent_chart_; }

void TCustomChartElement::SetParentComponent(vcl::TComponent* P) {
    if (auto* chart = dynamic_cast<TCustomAxisPanel*>(P)) SetParentChart(chart);
}

void TCustomChartElement::SetBooleanProperty(bool& Variable, bool Value) { Store(Variable, Value); }
void TCustomChartElement::SetColorProperty(TColor& Variable, TColor Value) {
    Store(Variable, Value);
}
void TCustomChartElement::SetIntegerProperty(int& Variable, int Value) { Store(Variable, Value); }
void TCustomChartElement::SetDoubleProperty(double& Variable, double Value) {
    Store(Variable, Value);
}
void TCustomChartElement::SetStringProperty(std::string& Variable, const std::string& Value) {
    Store(Variable, Value);
}

// ---- Series

TCustomChartSeries::TCustomChartSeries(vcl::TComponent* AOwner) : TCustomChartElement(AOwner) {}

void TCustomChartSeries::SetTitle(const std::string& Value) {
    SetStringProperty(title_, Value);
    if (TCustomAxisPanel* chart = ParentChart()) {
        chart->BroadcastSeriesEvent(*this, seChangeTitle);
        chart->NotifySeriesChanged(*this);
    }
}

void TCustomChartSeries::SetActive(bool Value) {
    if (Value == Active()) return;
    TCustomChartElement::SetActive(Value);
    if (TCustomAxisPanel* chart = ParentChart()) {
        chart->BroadcastSeriesEvent(*this, seChangeActive);
        chart->NotifySeriesChanged(*this);
    }
}

void TCustomChartSeries::CalcHorizMargins(int& LeftMargin, int& RightMargin) {
    LeftMargin = 0;
    RightMargin = 0;
}

void TCustomChartSeries::CalcVerticalMargins(int& TopMargin, int& BottomMargin) {
    TopMargin = 0;
    BottomMargin = 0;
}

void TCustomChartSeries::Assign(const TCustomChartElement& Source) {
    if (const auto* other = dynamic_cast<const TCustomChartSeries*>(&Source);
        other && other != this) {
        show_in_legend_ = other->show_in_legend_;
        title_ = other->title_;
        style_ = other->style_;
        Identifier = other->Identifier;
    }
    TCustomChartElement::Assign(Source);
}

}  // namespace chart::engine
