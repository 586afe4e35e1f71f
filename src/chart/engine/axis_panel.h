#pragma once
// TCustomAxisPanel: the chart panel that owns the series list, the axes,
// the tools' list and the paging, and runs one paint of a chart in its
// fixed order: background, axes laid out and drawn, series, tools told of
// each stage, titles and legend (through the chart above it). It also
// gives its series their colours from the palette and the range of an
// axis over the series bound to it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/engine/chart_lists.h"
#include "chart/engine/plot_panel_extended.h"
#include "chart/engine/plot_tool.h"

namespace chart::engine {

class TCustomChartSeries;
class TChartSeries;
class TChartAxis;
class TChartDepthAxis;
class TChartCustomAxes;
class TChartPage;
class TFiler;

// What happened to a series, as the chart's listeners hear it.
enum TPlotSeriesEventKind : std::uint8_t {
    seAdd = 0,
    seRemove = 1,
    seChangeTitle = 2,
    seChangeColor = 3,
    seChangeActive = 5,
    seDataChanged = 6,
};

class TPlotSeriesEvent : public TPlotEvent {
  public:
    std::uint8_t Event = seAdd;
    TCustomChartSeries* Series = nullptr;
};

// The page changed (or the points per page were set).
class TChartChangePage : public TPlotEvent {};

// An object the chart may hold that is told when a series' Active or Title
// changes.
class TSeriesChangeListener {
  public:
    virtual void SeriesChanged(TCustomChartSeries& Series) = 0;

  protected:
    ~TSeriesChangeListener() = default;
};

using TSeriesNotifyEvent = std::function<void(TCustomChartSeries* Sender)>;
using TAxisLabelEvent = std::function<void(TChartAxis* Sender, TChartSeries* Series,
                                           int ValueIndex, std::string& LabelText)>;
using TAxisNextLabelEvent =
    std::function<void(TChartAxis* Sender, int LabelIndex, double& LabelValue, bool& Stop)>;
using TPageChangeEvent = std::function<void(TChartPage* Sender)>;

class TCustomAxisPanel : public TCustomPlotPanelExtended {
  public:
    explicit TCustomAxisPanel(vcl::TComponent* AOwner);
    // Frees the series and the tools it lists, then its axes and pages.
    ~TCustomAxisPanel() override;

    // ---- Settings (each stores and repaints)
    int Chart3DPercent() const { return chart3d_percent_; }
    // 1 to 100; anything else raises and keeps the value.
    void SetChart3DPercent(int Value);
    bool AxisBehind() const { return axis_behind_; }
    void SetAxisBehind(bool Value) { SetBooleanProperty(axis_behind_, Value); }
    bool AxisVisible() const { return axis_visible_; }
    void SetAxisVisible(bool Value) { SetBooleanProperty(axis_visible_, Value); }
    bool ClipPoints() const { return clip_points_; }
    void SetClipPoints(bool Value) { SetBooleanProperty(clip_points_, Value); }
    bool View3DWalls() const { return view3d_walls_; }
    void SetView3DWalls(bool Value) { SetBooleanProperty(view3d_walls_, Value); }

    // ---- Axes
    TChartAxes& Axes() { return *axes_; }
    TChartAxis& BottomAxis() { return *bottom_axis_; }
    TChartAxis& TopAxis() { return *top_axis_; }
    TChartAxis& LeftAxis() { return *left_axis_; }
    TChartAxis& RightAxis() { return *right_axis_; }
    TChartDepthAxis& DepthAxis() { return *depth_axis_; }
    TChartDepthAxis& DepthTopAxis() { return *depth_top_axis_; }
    TChartCustomAxes& CustomAxes() { return *custom_axes_; }
    // Whether the axis shows: axes on, the axis visible, and (but for the
    // depth axes, which show in 3D) an active series on it, or none active.
    bool IsAxisVisible(TChartAxis& Axis);
    // The range of the values of the series bound to Axis (paged, when
    // the chart pages): along X or Y as the axis runs.
    double MaxXValue(TChartAxis& Axis) { return InternalMinMax(Axis, false, true); }
    double MaxYValue(TChartAxis& Axis) { return InternalMinMax(Axis, false, false); }
    double MinXValue(TChartAxis& Axis) { return InternalMinMax(Axis, true, true); }
    double MinYValue(TChartAxis& Axis) { return InternalMinMax(Axis, true, false); }
    double InternalMinMax(TChartAxis& Axis, bool IsMin, bool IsX);

    // ---- Tools
    TChartTools& Tools() { return tools_; }
    // ChartEvent of every active tool, in list order.
    void BroadcastToolEvent(TChartToolEvent AEvent);

    // ---- Paging
    TChartPage& Pages() { return *pages_; }
    virtual int NumPages();
    int Page();
    void SetPage(int Value);
    int GetMaxPointsPerPage();
    void SetMaxPointsPerPage(int Value);

    // ---- Series list
    TChartSeriesList& SeriesList() { return series_list_; }
    int SeriesCount() const { return series_list_.Count(); }
    TChartSeries* GetSeries(int Index) const { return series_list_.Items(Index); }
    // Joins the series (moving it from another chart); once only.
    void AddSeries(TChartSeries& ASeries);
    // Nothing for a series that is not in the list (or a negative index).
    void RemoveSeries(TChartSeries& ASeries);
    void RemoveSeries(int Index);
    // Frees every series (only those Filter accepts, when given), keeping
    // the order of the others.
    void FreeAllSeries(const std::function<bool(TChartSeries&)>& Filter = {});
    int CountActiveSeries() const;
    // The first active series on the axis (any, when none active is).
    TChartSeries* GetAxisSeries(TChartAxis& Axis);
    // Among the same, the one with most points (the first of equals).
    TChartSeries* GetAxisSeriesMaxPoints(TChartAxis& Axis);
    bool NoActiveSeries(TChartAxis& Axis);
    int GetMaxValuesCount() const;
    // The Index-th series shown in the legend (only active ones when asked):
    // its title, else its name, else "Series" and its number.
    std::string SeriesTitleLegend(int Index, bool OnlyActive);
    // The widest line of Text (lines split at the line separator) on the
    // surface, and the number of lines (no empty last line).
    int MultiLineTextWidth(const std::string& Text, int& Lines);
    int MaxTextWidth();
    // The widest mark of the active series.
    virtual int MaxMarkWidth();

    // ---- Colours
    // The chart's own palette; empty: the global default palette.
    const std::vector<TColor>& ColorPalette() const { return color_palette_; }
    void SetColorPalette(std::vector<TColor> Colors);
    // Entry Index (modulo the length, counted forward for negative indexes)
    // of the chart's palette, or of the global palette when it has none.
    TColor GetDefaultColor(int Index) const;
    // The first palette colour IsFreeSeriesColor accepts, else the last.
    TColor GetFreeSeriesColor(bool CheckBackground, TChartSeries* Series);
    // Every automatic series gets a free colour anew.
    void FillSeriesColors();

    // ---- Series news
    // While set, series events reach no listener.
    bool SuppressSeriesEvents = false;
    // Sends a TPlotSeriesEvent for Series through BroadcastPlotEvent.
    void BroadcastSeriesEvent(TCustomChartSeries& Series, std::uint8_t Event);
    // Not owned; may be none.
    TSeriesChangeListener* SeriesChangeListener = nullptr;
    // Tells the series-change listener, when there is one.
    void NotifySeriesChanged(TCustomChartSeries& Series);
    // Raises ChartException when feeding ASeries from Other would make a
    // series feed itself.
    void CheckDatasource(TChartSeries& ASeries, TChartSeries& Other);
    // The series' own rule, else a series source of a kind that serves
    // this chart.
    virtual bool IsValidDataSource(TChartSeries& ASeries, vcl::TComponent& AComponent);
    // A series source that fed ASeries feeds nothing any more.
    virtual void RemovedDataSource(TChartSeries& ASeries, vcl::TComponent& AComponent);
    // The names an editor may offer as the source of ValueList's values:
    // none here.
    virtual void FillValueSourceItems(TChartValueList& ValueList,
                                      const std::function<void(const std::string&)>& Proc);

    // ---- State of the last paint
    // Highest Z order of the active series, depth and height of one series
    // layer and of the whole 3D box, the view seen from behind.
    int MaxZOrder = 0;
    int SeriesWidth3D = 0;
    int SeriesHeight3D = 0;
    int Width3D = 0;
    int Height3D = 0;
    bool ReversedView = false;
    // The colour of the legend being drawn (set by the legend).
    TColor LegendColor = vcl::clNone;
    // The 3D sizes from the chart width, the view and the Z orders.
    void CalcSize3D();

    // ---- The paint and its steps, in their fixed order
    void InternalDraw(const TRect& UserRect) override;
    virtual void CalcWallsRect();
    // Thickness of the wall behind Axis; none here.
    virtual int CalcWallSize(TChartAxis&) { return 0; }
    virtual void DoAfterDraw();
    virtual void DoBeforeDrawAxes();
    virtual void DoBeforeDrawChart();
    virtual void DoBeforeDrawSeries();
    // Titles and legend (before the series: they take their room); none here.
    virtual void DrawTitlesAndLegend(bool) {}
    // Whether the chart rectangle at depth Z is seen from behind.
    virtual bool IsChartRectVisible(int Z);
    virtual void DrawLegendSymbolRect(const TRect& Rect);
    virtual void DrawWalls() {}
    // Fills the series again from its first source (a series: copied, or
    // through the function; a series source: refreshed); a series with a
    // function and no source is emptied.
    virtual void RefreshSeriesData(TChartSeries& ASeries);
    virtual std::string GetLegendValueText(TChartSeries*, int) { return {}; }
    // No other series has the colour (nor, when CheckBackground, is it the
    // chart's colour).
    virtual bool IsFreeSeriesColor(TColor AColor, bool CheckBackground, TChartSeries* Series);
    // Legend symbol settings a series draws its symbol with.
    virtual TColor LegendSymbolBackColor() { return vcl::clDefault; }
    virtual chart::TChartPen* LegendSymbolPen() { return nullptr; }

    // Clips the series drawing to the chart rectangle (one pixel more at
    // top and bottom) when the surface allows it; UnClip undoes that one.
    void ClipSeriesRect();
    void UnClipSeriesRect();

    // Settings, axes, palette and pages of another axis panel, then the
    // panel's settings.
    void Assign(const TCustomPlotPanel& Source) override;
    // The extra stream properties: the panel's, then the paging of older
    // streams, read only ("MaxPointsPerPage", "Page", "ScaleLastPage").
    void DefineProperties(TFiler& Filer) override;
    // What a form stream keeps below the chart: its series, in list order.
    virtual void GetChildren(const std::function<void(vcl::TComponent*)>& Proc);

    // ---- Events
    vcl::TNotifyEvent OnAfterDraw;
    vcl::TNotifyEvent OnBeforeDrawChart;
    vcl::TNotifyEvent OnBeforeDrawAxes;
    vcl::TNotifyEvent OnBeforeDrawSeries;
    TSeriesNotifyEvent OnAddSeries;
    TSeriesNotifyEvent OnRemoveSeries;
    TPageChangeEvent OnPageChange;
    TAxisLabelEvent OnGetAxisLabel;
    TAxisNextLabelEvent OnGetNextAxisLabel;

  protected:
    // The panel's handling (cursor back, panning off), then tool event 5.
    void MouseLeave() override;

  private:
    void CalcZOrders();
    void AxesPass();
    void SeriesMarginsPass();
    void DrawAxes();
    void DrawAllSeries();
    void DrawSeriesAlone(TChartSeries& Series);
    void DrawSeriesLayer(int Index);
    void DrawSeriesMarks(TChartSeries& Series);

    int chart3d_percent_ = 15;
    bool axis_behind_ = true;
    bool axis_visible_ = true;
    bool clip_points_ = true;
    bool view3d_walls_ = true;
    bool clipped_ = false;
    std::vector<TColor> color_palette_;
    TChartSeriesList series_list_;
    TChartTools tools_;
    std::unique_ptr<TChartAxes> axes_;
    std::unique_ptr<TChartCustomAxes> custom_axes_;
    std::unique_ptr<TChartAxis> bottom_axis_;
    std::unique_ptr<TChartAxis> top_axis_;
    std::unique_ptr<TChartAxis> left_axis_;
    std::unique_ptr<TChartAxis> right_axis_;
    std::unique_ptr<TChartDepthAxis> depth_axis_;
    std::unique_ptr<TChartDepthAxis> depth_top_axis_;
    std::unique_ptr<TChartPage> pages_;
};

}  // namespace chart::engine
