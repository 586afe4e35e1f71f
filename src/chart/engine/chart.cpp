#include "chart/engine/chart.h"

#include <cstdlib>
#include <typeinfo>

#include "chart/drawing/view3d_options.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_series.h"
#include "chart/engine/palettes.h"

namespace chart::engine {

TCustomChart::TCustomChart(vcl::TComponent* AOwner) : TCustomAxisPanel(AOwner) {
    AutoRepaint = false;
    title_ = std::make_unique<TChartTitle>(this);
    if (Designing()) title_->Text().Add(vcl::ClassNameOf(typeid(*this)));
    sub_title_ = std::make_unique<TChartTitle>(this);
    foot_ = std::make_unique<TChartFootTitle>(this);
    sub_foot_ = std::make_unique<TChartFootTitle>(this);
    walls_ = std::make_unique<TChartWalls>(this);
    legend_ = std::make_unique<TChartLegend>(this);
    AutoRepaint = true;
}

TCustomChart::~TCustomChart() {
    AutoRepaint = false;
    sub_title_.reset();
    title_.reset();
    sub_foot_.reset();
    foot_.reset();
    walls_.reset();
    legend_.reset();
}

void TCustomChart::SetColorPaletteIndex(int Value) {
    if (Value == color_palette_index_) return;
    color_palette_index_ = Value;
    ApplyChartPalette(*this, Value);
}

TChartSeries* TCustomChart::GetASeries() {
    for (int i = 0; i < SeriesCount(); ++i)
        if (GetSeries(i)->Active()) return GetSeries(i);
    return nullptr;
}

TColor TCustomChart::GetBackColor() {
    return walls_->Back().Transparent() ? Color() : walls_->Back().Color();
}

bool TCustomChart::IsFreeSeriesColor(TColor AColor, bool CheckBackground, TChartSeries* Series) {
    for (int i = 0; i < SeriesCount(); ++i) {
        TChartSeries* s = GetSeries(i);
        if (s != Series && s->SeriesColor() == AColor) return false;
    }
    return !(CheckBackground && (AColor == Color() || AColor == walls_->Back().Color()));
}

int TCustomChart::CalcWallSize(TChartAxis& Axis) {
    if (!View3D() || !View3DWalls()) return 0;
    TChartWall& wall = &Axis == &LeftAxis()     ? walls_->Left()
                       : &Axis == &BottomAxis() ? walls_->Bottom()
                       : &Axis == &RightAxis()  ? walls_->Right()
                                                : walls_->Back();
    return wall.Visible() ? wall.Size() : 0;
}

void TCustomChart::CalcWallsRect() {
    CalcSize3D();
    const chart::TView3DOptions& view = View3DOptions();
    if (View3D() && view.Orthogonal()) {
        bool usesAxes = CountActiveSeries() == 0;
        for (int i = 0; i < SeriesCount() && !usesAxes; ++i)
            usesAxes = GetSeries(i)->Active() && GetSeries(i)->UseAxis();
        const long long w = usesAxes ? walls_->Back().Size() : 0;
        const long long d = std::llabs(static_cast<long long>(Width3D)) + w;
        if (view.OrthoAngle() < 91) {
            long long right = ChartRect.Right - d;
            if (walls_->Right().Visible()) right -= walls_->Right().Size() + 1LL;
            ChartRect.Right = Clamp32(right);
        } else {
            long long left = ChartRect.Left + d;
            if (walls_->Left().Visible()) left += walls_->Left().Size() + 1LL;
            ChartRect.Left = Clamp32(left);
        }
        ChartRect.Top = Clamp32(ChartRect.Top + w + std::llabs(static_cast<long long>(Height3D)));
    }
    RecalcWidthHeight();
}

void TCustomChart::Assign(const TCustomPlotPanel& Source) {
    if (const auto* other = dynamic_cast<const TCustomChart*>(&Source); other && other != this) {
        SetColorPaletteIndex(other->color_palette_index_);
        foot_->Assign(*other->foot_);
        legend_->Assign(*other->legend_);
        ScrollMouseButton = other->ScrollMouseButton;
        sub_foot_->Assign(*other->sub_foot_);
        sub_title_->Assign(*other->sub_title_);
        title_->Assign(*other->title_);
        walls_->Assign(*other->walls_);
    }
    TCustomAxisPanel::Assign(Source);
}

}  // namespace chart::engine
