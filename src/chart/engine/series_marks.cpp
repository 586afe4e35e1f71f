#include "chart/engine/series_marks.h"

#include <algorithm>

#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_series.h"

namespace chart::engine {

// ---- Positions

TSeriesMarkPosition* TSeriesMarksPositions::Position(int Index) const {
    if (Index < 0 || Index >= Count()) return nullptr;
    return items_[static_cast<std::size_t>(Index)].get();
}

TSeriesMarkPosition& TSeriesMarksPositions::Ensure(int Index) {
    if (Index < 0)
        throw rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
    if (Index >= Count()) items_.resize(static_cast<std::size_t>(Index) + 1);
    auto& entry = items_[static_cast<std::size_t>(Index)];
    if (!entry) entry = std::make_unique<TSeriesMarkPosition>();
    return *entry;
}

void TSeriesMarksPositions::Delete(int Index) {
    if (Index >= 0 && Index < Count()) items_.erase(items_.begin() + Index);
}

void TSeriesMarksPositions::DeleteRange(int Start, int Quantity) {
    const long long from = std::max(Start, 0);
    const long long to = std::min<long long>((long long)Start + Quantity, Count());
    if (from < to) items_.erase(items_.begin() + from, items_.begin() + to);
}

bool TSeriesMarksPositions::HasCustom() const {
    return std::any_of(items_.begin(), items_.end(), [](const auto& p) { return p && p->Custom; });
}

// ---- Items

TMarksItem::TMarksItem(TCustomPlotPanelExtended* AOwner) : TPlotCustomShape(AOwner) {
    SetColor(vcl::clInfoBk);
}

TMarksItem::~TMarksItem() = default;

vcl::TStringList& TMarksItem::Text() {
    if (!text_) {
        text_ = std::make_unique<vcl::TStringList>();
        text_->OnChange = [this](vcl::TStringList*) { Repaint(); };
    }
    return *text_;
}

TMarksItem& TMarksItems::Items(int Index) {
    if (Index < 0)
        throw rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
    if (Index >= Count()) items_.resize(static_cast<std::size_t>(Index) + 1);
    auto& entry = items_[static_cast<std::size_t>(Index)];
    if (!entry) {
        entry = std::make_unique<TMarksItem>(owner_.ParentChart());
        chart::TPlotShadow& shadow = entry->Shadow();
        shadow.SetDefaults(0x808080, 3);
    }
    return *entry;
}

TMarksItem* TMarksItems::ItemIfAny(int Index) const {
    if (Index < 0 || Index >= Count()) return nullptr;
    return items_[static_cast<std::size_t>(Index)].get();
}

void TMarksItems::Delete(int Index) {
    if (Index >= 0 && Index < Count()) items_.erase(items_.begin() + Index);
}

void TMarksItems::Clear() {
    items_.clear();
    owner_.Repaint();
}

// ---- Marks

TSeriesMarks::TSeriesMarks(TChartSeries& Series)
    : TPlotCustomShape(Series.ParentChart()), series_(Series) {
    InitShadow(Shadow());
    SetColor(vcl::clInfoBk);
    // Marks are off until asked for.
    TPlotCustomShapeBrushPen::SetVisible(false);
}

TSeriesMarks::~TSeriesMarks() = default;

void TSeriesMarks::InitShadow(chart::TPlotShadow& AShadow) { AShadow.SetDefaults(0x808080, 3); }

TPlotCustomShape& TSeriesMarks::Item(int ValueIndex) {
    if (TMarksItem* item = items_.ItemIfAny(ValueIndex)) return *item;
    return *this;
}

void TSeriesMarks::Clear() {
    positions_.Clear();
    if (items_.Count() > 0 && !items_.Loaded) items_.Clear();
}

}  // namespace chart::engine
