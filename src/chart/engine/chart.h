#pragma once
// TCustomChart: the chart control. The axis panel with its titles, walls
// and legend (settings objects that lay themselves out with later steps),
// the chart's palette by index, and the chart-level answers its series ask
// for (free colours, background colour, the walls' thickness behind an
// axis). TChart is the control that forms place.
#include <memory>

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

    TGetLegendTextEvent OnGetLegendText;
    TGetLegendRectEvent OnGetLegendRect;
    TGetLegendPosEvent OnGetLegendPos;

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
