#pragma once
// Chart tools: components that a chart lists (not owns) and tells of its
// paint stages, mouse and wheel events, in the order they joined it. The
// base TPlotCustomTool, its variants bound to a series or to an axis, the
// chart's list of tools and the program-wide registries of tool classes and
// series types.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/engine/chart_element.h"
#include "platform/vcl/class_registry.h"
#include "platform/vcl/controls.h"

namespace chart::engine {

class TFiler;

class TChartAxis;
class TChartSeries;

// The paint stages and other chart events a tool hears (ChartEvent).
enum TChartToolEvent : std::uint8_t {
    cteAfterDraw = 0,
    cteBeforeDrawSeries = 1,
    cteAfterBackground = 2,
    cteBeforeDrawAxes = 3,
    cteAfterDrawSeries = 4,
    cteMouseLeave = 5,
};

enum TChartMouseEvent : std::uint8_t { cmeDown = 0, cmeMove = 1, cmeUp = 2 };
enum TChartMouseWheel : std::uint8_t { cmwDown = 0, cmwWheel = 1, cmwUp = 2 };
// What a series tool hears around the drawing of its series' values.
enum TChartSeriesToolEvent : std::uint8_t { cseBeforeDrawValues = 1, cseAfterDrawValues = 4 };

class TPlotCustomTool : public TCustomChartElement {
  public:
    explicit TPlotCustomTool(vcl::TComponent* AOwner);
    // A tool deleted without Free still leaves its chart's list.
    ~TPlotCustomTool() override;

    // ---- The tool's own virtual operations, in their fixed order
    virtual void ChartEvent(TChartToolEvent) {}
    virtual void ChartMouseEvent(TChartMouseEvent, vcl::TMouseButton, vcl::TShiftState, int, int) {}
    virtual void SeriesEvent(TChartSeriesToolEvent) {}
    virtual void ChartMouseWheel(TChartMouseWheel, int, int, int) {}
    // The kind of tool, short and in one line; empty here.
    virtual std::string Description() const { return {}; }
    virtual std::string LongDescription() const { return {}; }

    // Leaves the old chart's tools (invalidating that chart when it joins
    // none) and is appended to the new chart's.
    void SetParentChart(TCustomAxisPanel* Value) override;
};

// A tool that works on one series.
class TPlotCustomToolSeries : public TPlotCustomTool {
  public:
    explicit TPlotCustomToolSeries(vcl::TComponent* AOwner);
    ~TPlotCustomToolSeries() override;

    TChartSeries* Series() const { return series_; }
    // Follows the series until it is freed (then none).
    virtual void SetSeries(TChartSeries* Value);
    // The series' horizontal axis; without a series the chart's bottom axis
    // when a series uses it, else the top axis when one uses that, else the
    // bottom axis. None without a chart.
    TChartAxis* GetHorizAxis() const;
    // Likewise with the left axis, then the right axis.
    TChartAxis* GetVertAxis() const;

    void Assign(const TCustomChartElement& Source) override;
    std::string GetEditorClassName() const override { return "TSeriesToolEditor"; }

  protected:
    void Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) override;

  private:
    TChartSeries* series_ = nullptr;
    // The series as the component that tells of its end.
    const vcl::TComponent* series_component_ = nullptr;
};

// A tool that works on one axis.
class TPlotCustomToolAxis : public TPlotCustomTool {
  public:
    explicit TPlotCustomToolAxis(vcl::TComponent* AOwner);

    TChartAxis* Axis() const { return axis_; }
    // The tool joins the axis's chart (none for none) and repaints.
    virtual void SetAxis(TChartAxis* Value);
    // The axis is going: the tool lets go of it and stays on its chart
    // (which still lists it, and frees it when no one else does).
    void ForgetAxis() { axis_ = nullptr; }

    void Assign(const TCustomChartElement& Source) override;
    std::string GetEditorClassName() const override { return "TAxisToolEditor"; }
    // Joins the chart; an axis read by its place before the tool had a
    // chart is taken from it now.
    void SetParentChart(TCustomAxisPanel* Value) override;

    // "AxisID": the axis's place in the chart's axes, when there is an axis.
    // A place the chart does not have raises rtl::EReadError.
    void DefineProperties(TFiler& Filer);

  private:
    TChartAxis* axis_ = nullptr;
    int pending_axis_id_ = -1;
};

// The tools of one chart, in the order they joined it (the order in which
// they hear its events). Not owned: a tool is a component of whatever owns
// it; it leaves the list when it leaves the chart or is destroyed.
class TChartTools {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    TPlotCustomTool* Items(int Index) const { return items_.at(static_cast<std::size_t>(Index)); }
    TPlotCustomTool* GetTool(int Index) const { return Items(Index); }
    int IndexOf(const TPlotCustomTool* Tool) const;
    // Frees every tool (each leaves the list and its owner as it goes).
    void Clear();

  private:
    friend class TPlotCustomTool;
    friend class TCustomAxisPanel;
    void Add(TPlotCustomTool* Tool);
    void Remove(const TPlotCustomTool* Tool);
    std::vector<TPlotCustomTool*> items_;
};

// ---- Registries

// A tool class: what the class library registers, and a typed way to make one.
using TPlotToolClass = vcl::TComponentClass;
template <class T>
TPlotToolClass PlotToolClass() {
    static_assert(std::is_base_of_v<TPlotCustomTool, T>);
    return vcl::ClassOf<T>();
}
// A new tool of Class with Owner; none when the class makes no tool.
TPlotCustomTool* CreatePlotTool(TPlotToolClass Class, vcl::TComponent* Owner);

class TPlotToolTypes {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    TPlotToolClass Items(int Index) const { return items_.at(static_cast<std::size_t>(Index)); }
    int IndexOf(TPlotToolClass Class) const;
    void Add(TPlotToolClass Class) { items_.push_back(Class); }
    // Adds the class at its place among the program's tool classes (after
    // every class of the same or an earlier place).
    void Insert(TPlotToolClass Class);
    void Remove(TPlotToolClass Class);

  private:
    std::vector<TPlotToolClass> items_;
};

// A series type as galleries offer it.
struct TPlotSeriesType {
    vcl::TComponentClass SeriesClass = nullptr;
    std::string Description;
    std::string GalleryPage;
    int NumGallerySeries = 1;
};

class TPlotSeriesTypes {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    TPlotSeriesType& Items(int Index) const { return *items_.at(static_cast<std::size_t>(Index)); }
    void Add(std::unique_ptr<TPlotSeriesType> Type) { items_.push_back(std::move(Type)); }
    // Frees every record.
    void Clear() { items_.clear(); }

  private:
    std::vector<std::unique_ptr<TPlotSeriesType>> items_;
};

// The program's registries, each made on first use and freed when the
// chart unit stops.
TPlotToolTypes& PlotToolTypesList();
TPlotSeriesTypes& PlotSeriesTypesList();
void FreePlotRegistries();

// Appends each class not yet registered (also to the class library's
// registry, for reading forms); Unregister takes each listed class out.
void RegisterPlotToolClasses(std::initializer_list<TPlotToolClass> Classes);
void UnregisterPlotToolClasses(std::initializer_list<TPlotToolClass> Classes);

}  // namespace chart::engine
