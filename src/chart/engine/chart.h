#pragma once
// TCustomChart: the chart control. The axis panel with its titles, walls
// and legend, which lay themselves out and draw in the paint, the chart's
// palette by index, the chart-level answers its series ask for
// (free colours, background colour, the walls' thickness behind an axis),
// and the mouse: clicks on its parts, zooming with a dragged rectangle,
// panning, the wheel and undoing a zoom. TChart is the control that forms
// place.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_legend.h"
#include "chart/engine/chart_titles.h"
#include "chart/engine/chart_walls.h"

namespace chart::engine {

class TCustomChart;
// The text of legend item Index, which the handler may change.
using TGetLegendTextEvent =
    std::function<void(TCustomChart* Sender, TLegendStyle LegendStyle, int Index, std::string& LegendText)>;
// The legend's box, which the handler may move or resize.
using TGetLegendRectEvent = std::function<void(TCustomChart* Sender, TRect& Rect)>;
// The text position and symbol X of legend item Index.
using TGetLegendPosEvent = std::function<void(TCustomChart* Sender, int Index, int& X, int& Y, int& XColor)>;

// What a point of the chart lies on, the first hit in this order of
// looking: a legend item, a series point or line, a series mark, an axis,
// an axis title, a title, the chart rectangle.
enum TChartClickedPartStyle : std::uint8_t {
    cpkNone,
    cpkLegend,
    cpkAxis,
    cpkSeries,
    cpkTitle,
    cpkFoot,
    cpkChartRect,
    cpkSeriesMarks,
    cpkSubTitle,
    cpkSubFoot,
    cpkAxisTitle,
};

struct TChartClickedPart {
    TChartClickedPartStyle Part = cpkNone;
    // The point, mark or legend item; -1 for none.
    int PointIndex = -1;
    TChartSeries* ASeries = nullptr;
    TChartAxis* AAxis = nullptr;
};

using TChartClick = std::function<void(TCustomChart* Sender, vcl::TMouseButton Button,
                                       vcl::TShiftState Shift, int X, int Y)>;
using TChartClickAxis = std::function<void(TCustomChart* Sender, TChartAxis* Axis,
                                           vcl::TMouseButton Button, vcl::TShiftState Shift, int X,
                                           int Y)>;
using TChartClickSeries =
    std::function<void(TCustomChart* Sender, TChartSeries* Series, int ValueIndex,
                       vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y)>;
using TChartClickTitle = std::function<void(TCustomChart* Sender, TChartTitle* ATitle,
                                            vcl::TMouseButton Button, vcl::TShiftState Shift, int X,
                                            int Y)>;
// Before the mouse moves an axis: AMin and AMax are the range it would get;
// clearing AllowScroll keeps the range.
using TChartAllowScrollEvent =
    std::function<void(TChartAxis* Sender, double& AMin, double& AMax, bool& AllowScroll)>;

// Whether the wheel scrolls the vertical axes (where panning allows it).
extern bool ChartWheelScrollEnabled;
// The keys that must be held for a drag to pan.
extern vcl::TShiftState ChartPanKeyShift;

class TCustomChart : public TCustomAxisPanel {
  public:
    explicit TCustomChart(vcl::TComponent* AOwner);
    ~TCustomChart() override;

    TChartTitle& Title() { return *title_; }
    TChartTitle& SubTitle() { return *sub_title_; }
    TChartFootTitle& Foot() { return *foot_; }
    TChartFootTitle& SubFoot() { return *sub_foot_; }
    TChartWalls& Walls() { return *walls_; }
    TChartWall& BackWall() { return walls_->Back(); }
    TChartWall& BottomWall() { return walls_->Bottom(); }
    TChartWall& LeftWall() { return walls_->Left(); }
    TChartWall& RightWall() { return walls_->Right(); }
    // The back wall's pen.
    chart::TChartPen& Frame() { return walls_->Back().Frame(); }
    TChartLegend& Legend() { return *legend_; }

    // The button that pans.
    vcl::TMouseButton ScrollMouseButton = vcl::TMouseButton::mbRight;
    int ColorPaletteIndex() const { return color_palette_index_; }
    // A change installs that built-in palette (0 and unknown indexes: the
    // default colours) and recolours the automatic series.
    void SetColorPaletteIndex(int Value);

    // The first active series, none when there is none.
    TChartSeries* GetASeries();

    // ---- Answers to the axis panel
    // The panel colour behind a transparent back wall, else the wall's.
    TColor GetBackColor() override;
    // The 3D sizes, and in orthogonal 3D the room of the depth and of the
    // back and side walls.
    void CalcWallsRect() override;
    // The Size of the visible wall behind Axis, in 3D with 3D walls.
    int CalcWallSize(TChartAxis& Axis) override;
    // No other series has the colour, nor (when CheckBackground) is it the
    // panel's or the back wall's colour.
    bool IsFreeSeriesColor(TColor AColor, bool CheckBackground, TChartSeries* Series) override;

    // Palette index, titles, legend, panning button and walls, then the
    // axis panel's settings.
    void Assign(const TCustomPlotPanel& Source) override;

    // ---- Walls, titles and legend in the paint (chart_paint.cpp)
    // The walls behind the series.
    void DrawWalls() override;
    // Before the series: titles and legend (those not placed by hand),
    // which take their room; after them: those placed by hand, then in 3D
    // the walls that face the viewer.
    void DrawTitlesAndLegend(bool BeforeSeries) override;
    // The point's legend text (empty for no series).
    std::string GetLegendValueText(TChartSeries* Series, int ValueIndex) override;
    // Legend item Index's text: the legend's own, through OnGetLegendText.
    std::string LegendItemText(TLegendStyle Style, int Index, const std::string& Text);
    TColor LegendSymbolBackColor() override;
    // The legend symbol's pen, unless symbols keep their series' pens.
    chart::TChartPen* LegendSymbolPen() override;
    // With the legend symbol's gradient, the gradient from the surface's
    // brush colour; otherwise the panel's rectangle.
    void DrawLegendSymbolRect(const TRect& Rect) override;
    // The axis panel's, then "BackColor" of older streams (read only: the
    // back wall's colour) and "ColorPaletteIndex" (from 1).
    void DefineProperties(TFiler& Filer) override;
    // The series, then every tool.
    void GetChildren(const std::function<void(vcl::TComponent*)>& Proc) override;
    // When the series that owns ValueList is fed by a series, the names of
    // that series' value lists, in order.
    void FillValueSourceItems(TChartValueList& ValueList,
                              const std::function<void(const std::string&)>& Proc) override;

    TGetLegendTextEvent OnGetLegendText;
    TGetLegendRectEvent OnGetLegendRect;
    TGetLegendPosEvent OnGetLegendPos;

    // ---- Mouse
    // What P lies on. With OnlyWithClickEvents, series without click
    // events of their own are passed over unless OnClickSeries is set.
    void CalcClickedPart(const TPoint& P, bool OnlyWithClickEvents, TChartClickedPart& Part);
    // The end of every zoom: the four axes get these ranges (each pair in
    // either order) as Zoom.Direction selects them, after the ranges before
    // were kept for UndoZoom (unless some are kept already).
    void ZoomAxes(double LeftMin, double LeftMax, double RightMin, double RightMax,
                  double BottomMin, double BottomMax, double TopMin, double TopMax);
    // Zooms to the rectangle of the zoom action.
    virtual void ZoomToRectangle();
    // The ranges kept by the first zoom or pan come back; then OnUndoZoom,
    // a repaint, and Zoomed is cleared.
    void UndoZoom() override;
    // Whether UndoZoom has ranges to put back.
    bool HasRestorePoint() const { return !restore_pending_; }
    // ChartMouseEvent / ChartMouseWheel of each active tool in list order,
    // until one sets CancelMouseAction.
    void BroadcastToolMouseEvent(TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                 vcl::TShiftState Shift, int X, int Y);
    void BroadcastToolMouseWheel(TChartMouseWheel AKind, int WheelDelta, int X, int Y);

    TChartClick OnClickBackground;
    TChartClick OnClickLegend;
    TChartClickAxis OnClickAxis;
    TChartClickSeries OnClickSeries;
    TChartClickTitle OnClickTitle;
    TChartAllowScrollEvent OnAllowScroll;
    vcl::TNotifyEvent OnScroll;
    vcl::TNotifyEvent OnZoom;

  protected:
    void MouseDown(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) override;
    void MouseMove(vcl::TShiftState Shift, int X, int Y) override;
    void MouseUp(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) override;
    bool DoMouseWheel(vcl::TShiftState Shift, int WheelDelta, const TPoint& MousePos) override;
    bool DoMouseWheelDown(vcl::TShiftState Shift, const TPoint& MousePos) override;
    bool DoMouseWheelUp(vcl::TShiftState Shift, const TPoint& MousePos) override;

  private:
    // One axis's range as UndoZoom puts it back.
    struct TAxisSavedRange {
        bool Automatic = true;
        bool AutomaticMinimum = true;
        bool AutomaticMaximum = true;
        double Minimum = 0;
        double Maximum = 0;
    };
    void SaveAxesRanges();
    bool ClickBackground(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y);
    void StartZoomOrPan(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y);
    // Moves the axes of one direction by the values between two pixels;
    // whether the panning mode let them move.
    bool Pan(bool Horizontal, int New, int Old);
    // The zoom rectangle drawn (or, drawn again, erased) on the image shown.
    void ToggleZoomRectangle();
    // The vertical axes by 3 % of their range (Down: upward values).
    void WheelScroll(bool Down);
    // One notch after the panel's own handling (Handled): the scroll where
    // panning allows it, then the tools.
    bool WheelNotch(bool Down, bool Handled, const TPoint& MousePos);

    bool restore_pending_ = true;
    std::vector<TAxisSavedRange> saved_ranges_;

  private:
    std::unique_ptr<TChartTitle> title_;
    std::unique_ptr<TChartTitle> sub_title_;
    std::unique_ptr<TChartFootTitle> foot_;
    std::unique_ptr<TChartFootTitle> sub_foot_;
    std::unique_ptr<TChartWalls> walls_;
    std::unique_ptr<TChartLegend> legend_;
    int color_palette_index_ = 0;
};

class TChart : public TCustomChart {
  public:
    using TCustomChart::TCustomChart;
};

}  // namespace chart::engine
