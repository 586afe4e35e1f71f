// The chart's own extra stream properties: the paging properties of older
// streams, the back colour of older streams and the palette index, and the
// axis a tool is bound to, kept as the axis's place in the chart.
#include <algorithm>

#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_filer.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/chart_series.h"
#include "chart/engine/plot_tool.h"

namespace chart::engine {

void TCustomAxisPanel::DefineProperties(TFiler& Filer) {
    TCustomPlotPanelExtended::DefineProperties(Filer);
    TChartPage& pages = *pages_;
    Filer.DefineProperty(
        "MaxPointsPerPage", [&pages](chart::TReader& Reader) { pages.SetMaxPointsPerPage(ReadInt32(Reader)); }, {},
        false);
    Filer.DefineProperty("Page", [&pages](chart::TReader& Reader) { pages.SetCurrent(ReadInt32(Reader)); }, {}, false);
    Filer.DefineProperty(
        "ScaleLastPage", [&pages](chart::TReader& Reader) { pages.SetScaleLastPage(Reader.ReadBoolean()); }, {},
        false);
}

void TCustomChart::DefineProperties(TFiler& Filer) {
    TCustomAxisPanel::DefineProperties(Filer);
    Filer.DefineProperty(
        "BackColor",
        [this](chart::TReader& Reader) {
            walls_->Back().SetColor(ReadColorValue(Reader));
            if (Parent() && !(ComponentState() & vcl::csLoading))
                walls_->Back().Brush().SetStyle(vcl::TBrushStyle::bsSolid);
        },
        {}, false);
    Filer.DefineProperty(
        "ColorPaletteIndex", [this](chart::TReader& Reader) { SetColorPaletteIndex(ReadInt32(Reader)); },
        [this](chart::TWriter& Writer) { Writer.WriteInteger(color_palette_index_); }, color_palette_index_ >= 1);
    // The framed shapes the chart holds, under their names.
    const std::pair<const char*, TPlotCustomShape*> shapes[] = {
        {"Title.", &Title()}, {"SubTitle.", &SubTitle()}, {"Foot.", &Foot()}, {"SubFoot.", &SubFoot()},
        {"Legend.", &Legend()}};
    for (const auto& [name, shape] : shapes) {
        TPrefixedFiler filer(Filer, name);
        shape->DefineProperties(filer);
    }
}

void TCustomAxisPanel::FillValueSourceItems(TChartValueList&, const std::function<void(const std::string&)>&) {}

void TCustomChart::FillValueSourceItems(TChartValueList& ValueList,
                                        const std::function<void(const std::string&)>& Proc) {
    auto* series = dynamic_cast<TChartSeries*>(ValueList.Owner());
    if (!series) return;
    if (auto* source = dynamic_cast<TChartSeries*>(series->DataSource()))
        for (int i = 0; i < source->ValueListCount(); ++i) Proc(source->ValueList(i).Name);
}

void TCustomAxisPanel::GetChildren(const std::function<void(vcl::TComponent*)>& Proc) {
    for (int i = 0; i < SeriesCount(); ++i) Proc(GetSeries(i));
}

void TCustomChart::GetChildren(const std::function<void(vcl::TComponent*)>& Proc) {
    TCustomAxisPanel::GetChildren(Proc);
    for (int i = 0; i < Tools().Count(); ++i) Proc(Tools().Items(i));
}

void TPlotCustomToolAxis::SetParentChart(TCustomAxisPanel* Value) {
    TPlotCustomTool::SetParentChart(Value);
    if (Value && pending_axis_id_ >= 0 && pending_axis_id_ < Value->Axes().Count()) {
        const int id = pending_axis_id_;
        pending_axis_id_ = -1;
        SetAxis(Value->Axes().Items(id));
    }
}

void TPlotCustomToolAxis::DefineProperties(TFiler& Filer) {
    TCustomAxisPanel* chart = ParentChart();
    const int id = chart && axis_ ? chart->Axes().IndexOf(axis_) : -1;
    Filer.DefineProperty(
        "AxisID",
        [this](chart::TReader& Reader) {
            const long long read = Reader.ReadInteger();
            TCustomAxisPanel* owner = ParentChart();
            if (read < 0 || (owner && read >= owner->Axes().Count()))
                throw rtl::EReadError("AxisID " + std::to_string(read) + " names no axis of the chart");
            if (owner)
                SetAxis(owner->Axes().Items(static_cast<int>(read)));
            else
                pending_axis_id_ = static_cast<int>(std::min<long long>(read, INT32_MAX));
        },
        [id](chart::TWriter& Writer) { Writer.WriteInteger(id); }, id >= 0);
}

}  // namespace chart::engine
