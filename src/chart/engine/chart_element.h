#pragma once
// Chart elements: every series and tool of a chart. An element is switched
// on and off (Active), has its own pen and brush, knows the chart it
// belongs to and asks it to repaint when one of its settings changes: a
// setter stores a new value only when it differs, then calls Repaint.
// TCustomChartSeries adds what every series has before it holds data.
#include <cstdint>
#include <memory>
#include <string>

#include "chart/drawing/plot_pens.h"
#include "platform/vcl/component.h"
#include "platform/vcl/graphics.h"

namespace chart::engine {

class TCustomAxisPanel;
class TFiler;
using vcl::TColor;

class TCustomChartElement : public vcl::TComponent {
  public:
    explicit TCustomChartElement(vcl::TComponent* AOwner);
    ~TCustomChartElement() override;

    bool Active() const { return active_; }
    virtual void SetActive(bool Value);
    chart::TChartBrush& Brush() { return *brush_; }
    void SetBrush(const chart::TChartBrush& Value) { brush_->Assign(Value); }
    chart::TChartPen& Pen() { return *pen_; }
    virtual void SetPen(const chart::TChartPen& Value);
    TCustomAxisPanel* ParentChart() const { return parent_chart_; }
    // Joins (or with none leaves) a chart. Called again with none before
    // the element is freed, while all of it is still there.
    virtual void SetParentChart(TCustomAxisPanel* Value);
    // Whether editing dialogs list the element.
    bool ShowInEditor = true;

    // Invalidates the chart, when there is one.
    virtual void Repaint();
    // The class name of the element's editing dialog; none here.
    virtual std::string GetEditorClassName() const { return {}; }
    // A pen whose changes repaint the element.
    std::unique_ptr<chart::TChartPen> CreateChartPen();

    // Active, Brush, Pen and Tag of another element.
    virtual void Assign(const TCustomChartElement& Source);

    // The parent protocol of form reading: the parent is the chart.
    vcl::TComponent* GetParentComponent() const;
    // Joins P when it is a chart; anything else is ignored.
    void SetParentComponent(vcl::TComponent* P);
    bool HasParent() const { return true; }

    // Store-and-repaint setters of every chart class: the value is stored
    // and Repaint called only when it differs (doubles compared exactly).
    void SetBooleanProperty(bool& Variable, bool Value);
    void SetColorProperty(TColor& Variable, TColor Value);
    void SetIntegerProperty(int& Variable, int Value);
    void SetDoubleProperty(double& Variable, double Value);
    void SetStringProperty(std::string& Variable, const std::string& Value);

  protected:
    // Leaves the chart through the most derived SetParentChart first, so
    // that it sees pen, brush and data intact.
    void BeforeDestruction() override;

  private:
    template <class T>
    void Store(T& field, const T& value) {
        if (field == value) return;
        field = value;
        Repaint();
    }

    bool active_ = true;
    std::unique_ptr<chart::TChartBrush> brush_;
    std::unique_ptr<chart::TChartPen> pen_;
    TCustomAxisPanel* parent_chart_ = nullptr;
};

// The six style flags of a series (bits 0 to 5), kept and copied as they are.
using TSeriesStyle = std::uint8_t;

class TCustomChartSeries : public TCustomChartElement {
  public:
    explicit TCustomChartSeries(vcl::TComponent* AOwner);

    bool ShowInLegend() const { return show_in_legend_; }
    void SetShowInLegend(bool Value) { SetBooleanProperty(show_in_legend_, Value); }
    const std::string& Title() const { return title_; }
    // Tells the chart's listeners (title changed) and its series-change
    // listener.
    void SetTitle(const std::string& Value);
    // Streamed as the extra property "Identifier", when not empty.
    std::string Identifier;
    TSeriesStyle Style() const { return style_; }
    // Bits above 5 are dropped.
    void SetStyle(TSeriesStyle Value) { style_ = Value & 0x3F; }
    bool IsIdentifierStored() const { return !Identifier.empty(); }
    bool IsStyleStored() const { return style_ != 0; }
    // The extra stream properties "Identifier" and "Style", each written
    // when not empty.
    virtual void DefineProperties(TFiler& Filer);

    // Extra pixels the series needs at the edges of the chart rectangle;
    // none here.
    virtual void CalcHorizMargins(int& LeftMargin, int& RightMargin);
    virtual void CalcVerticalMargins(int& TopMargin, int& BottomMargin);
    // Called by the chart for every active series after its before-draw
    // stage; empty here.
    virtual void DoBeforeDrawChart() {}

    // On a change, also tells the chart's listeners (active changed) and its
    // series-change listener.
    void SetActive(bool Value) override;
    // ShowInLegend, Title, Style and Identifier of another series; then the
    // element's settings.
    void Assign(const TCustomChartElement& Source) override;

  private:
    bool show_in_legend_ = true;
    std::string title_;
    TSeriesStyle style_ = 0;
};

}  // namespace chart::engine
