#pragma once
// The anti-alias tool: puts a smoothing surface in place of its chart's
// surface, switches the smoothing on and off (with the tool's Active), and
// passes the finished chart image through a list of image filters after
// every paint. Its settings form offers the switch and the filters editor.
#include <memory>
#include <string>

#include "chart/drawing/plot_antialias.h"
#include "chart/drawing/plot_filters.h"
#include "chart/engine/plot_tool.h"
#include "platform/vcl/forms.h"

namespace vcl {
class TButton;
class TCheckBox;
}  // namespace vcl

namespace chart::tools {

class TAntiAliasTool : public engine::TPlotCustomTool, private TAntiAliasCanvasOwner {
  public:
    explicit TAntiAliasTool(vcl::TComponent* AOwner);
    ~TAntiAliasTool() override;

    // Whether the tool's surface smooths (false without a surface).
    bool AntiAlias() const;
    // Makes the surface on first use, switches it (a change repaints the
    // chart drawing with it) and puts it in the chart's place when the tool
    // is active on a chart.
    void SetAntiAlias(bool Value);
    TFilterItems& Filters() { return *filters_; }
    // Copies Value's filters (none: empties the list).
    void SetFilters(const TFilterItems* Value);
    // The tool's surface: its own until a chart adopts it (the chart then
    // frees it); none once freed.
    TAntiAliasCanvas* Canvas() const { return canvas_; }

    // Active switches the smoothing with it.
    void SetActive(bool Value) override;
    void SetParentChart(engine::TCustomAxisPanel* Value) override;
    // After the whole chart is drawn: the filters over the chart's
    // off-screen image.
    void ChartEvent(engine::TChartToolEvent AEvent) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TAntiAliasEditor"; }

    // The filters are kept in form streams as "FilterItems", written only
    // when there is at least one.
    bool FilterItemsStored() const { return filters_->Count() > 0; }
    void WriteFilterItems(TWriter& Writer) const;
    void ReadFilterItems(TReader& Reader) { filters_->ReadItems(Reader); }

  private:
    void CanvasFreed(TAntiAliasCanvas& Canvas) override;
    void Install();

    std::unique_ptr<TFilterItems> filters_;
    // The surface while the tool owns it; null once a chart adopted it.
    std::unique_ptr<TAntiAliasCanvas> owned_;
    TAntiAliasCanvas* canvas_ = nullptr;
};

// The tool's settings form.
class TAntiAliasEditor : public vcl::TForm {
  public:
    explicit TAntiAliasEditor(vcl::TComponent* AOwner);
    ~TAntiAliasEditor() override;

    // The tool edited (none when it is freed meanwhile).
    TAntiAliasTool* Tool() const { return tool_; }
    void SetTool(TAntiAliasTool* Value);

    vcl::TCheckBox* CBAnti;
    vcl::TButton* Button1;

    void FormShow();
    void CBAntiClick();
    // The filters editor over the chart drawn without the tool.
    void Button1Click();

  protected:
    void Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) override;

  private:
    TAntiAliasTool* tool_ = nullptr;
};

// The unit registers the tool class and its form as the program loads;
// counted users may hold it longer, the last release removes the tool class.
void PlotAntiAliasUse();
void PlotAntiAliasRelease();

}  // namespace chart::tools
