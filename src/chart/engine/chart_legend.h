#pragma once
// The chart's legend: the framed box that lists the series (or the points
// of one series, or the series groups), each with a coloured symbol, up to
// two text columns, an optional check box and an optional title above the
// items. It lays itself out on every paint (beside the chart rectangle,
// which it shrinks, or where it was placed by hand), draws, and answers
// which item a point of the chart is on.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/engine/chart_series.h"
#include "chart/engine/chart_titles.h"
#include "chart/engine/plot_panel.h"
#include "platform/vcl/string_list.h"

namespace chart::engine {

class TCustomChart;

enum TLegendAlignment : std::uint8_t { laLeft, laRight, laTop, laBottom };
enum TCheckBoxesStyle : std::uint8_t { cbsCheck, cbsRadio };
enum TLegendStyle : std::uint8_t { lsAuto, lsSeries, lsValues, lsLastValues, lsSeriesGroups };
enum TLegendSymbolPosition : std::uint8_t { spLeft, spRight };
enum TLegendSymbolSize : std::uint8_t { lcsPercent, lcsPixels };

// Draws the symbol of an item (the point ValueIndex of Series, -1 for the
// series as a whole) into R, in place of the series' own symbol.
using TSymbolDrawEvent =
    std::function<void(vcl::TPersistent* Sender, TChartSeries* Series, int ValueIndex, const TRect& R)>;

// How item symbols look.
class TLegendSymbol : public vcl::TPersistent {
  public:
    explicit TLegendSymbol(TPlotCustomShape& Legend);
    ~TLegendSymbol() override;

    // Symbols of neighbouring items touch.
    bool Continuous() const { return continuous_; }
    void SetContinuous(bool Value) { Store(continuous_, Value); }
    // Symbols draw with each series' own pen, not Pen.
    bool DefaultPen() const { return default_pen_; }
    void SetDefaultPen(bool Value) { Store(default_pen_, Value); }
    // Hidden until asked for.
    chart::TPlotGradient& Gradient() { return *gradient_; }
    chart::TChartPen& Pen() { return *pen_; }
    TLegendSymbolPosition Position() const { return position_; }
    void SetPosition(TLegendSymbolPosition Value) { Store(position_, Value); }
    // 3 pixels; hidden until asked for.
    chart::TPlotShadow& Shadow() { return *shadow_; }
    // As wide as the item is high (less 5).
    bool Squared() const { return squared_; }
    void SetSquared(bool Value) { Store(squared_, Value); }
    bool Visible() const { return visible_; }
    void SetVisible(bool Value) { Store(visible_, Value); }
    // In percent of the text width or in pixels, by WidthUnits.
    int Width() const { return width_; }
    void SetWidth(int Value) { Store(width_, Value); }
    TLegendSymbolSize WidthUnits() const { return width_units_; }
    void SetWidthUnits(TLegendSymbolSize Value) { Store(width_units_, Value); }
    TSymbolDrawEvent OnDraw;

    // The symbol's width for a base width Base (the text width), given
    // the legend's item height.
    int CalcWidth(int Base, int ItemHeight) const;

    void Assign(const vcl::TPersistent& Source) override;

  private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        legend_.Repaint();
    }
    TPlotCustomShape& legend_;
    bool continuous_ = false;
    bool default_pen_ = true;
    std::unique_ptr<chart::TPlotGradient> gradient_;
    std::unique_ptr<chart::TChartPen> pen_;
    TLegendSymbolPosition position_ = spLeft;
    std::unique_ptr<chart::TPlotShadow> shadow_;
    bool squared_ = false;
    bool visible_ = true;
    int width_ = 20;
    TLegendSymbolSize width_units_ = lcsPercent;
};

// One item as it was last drawn (or as the user set it, in a custom list).
struct TLegendItem {
    unsigned Align = 0;  // text alignment used
    int Left = 0;
    int Top = 0;
    TRect SymbolRect{};
    std::string Text;
    std::string Text2;
};

class TLegendItems {
  public:
    explicit TLegendItems(TPlotCustomShape& Legend) : legend_(Legend) {}
    int Count() const { return static_cast<int>(items_.size()); }
    // The item, made (with the list padded to it) when missing.
    TLegendItem& Items(int Index);
    // Texts set by the user: the list is then kept between paints.
    void SetText(int Index, const std::string& Value);
    void SetText2(int Index, const std::string& Value);
    // Items are the user's: their texts and places are used as they are.
    bool Custom = false;
    void Clear() { items_.clear(); }

  private:
    TPlotCustomShape& legend_;
    std::vector<TLegendItem> items_;
};

// The title box at the top of a legend.
class TLegendTitle : public TPlotShape {
  public:
    explicit TLegendTitle(TCustomPlotPanelExtended* Chart);
    ~TLegendTitle() override;
    vcl::TStringList& Text() { return *text_; }
    void SetText(const vcl::TStrings& Value) { text_->Assign(Value); }
    TAlignment TextAlignment() const { return text_alignment_; }
    void SetTextAlignment(TAlignment Value);
    // Visible and with at least one line.
    bool Shown() const { return Visible() && text_->Count() > 0; }
    void Assign(const vcl::TPersistent& Source) override;

  private:
    std::unique_ptr<vcl::TStringList> text_;
    TAlignment text_alignment_ = taLeftJustify;
};

// The legend's gradient: silver to white from the right.
class TChartLegendGradient : public chart::TPlotGradient {
  public:
    explicit TChartLegendGradient(chart::TNotifyEvent ChangedEvent = {});
};

class TCustomChartLegend : public TPlotCustomShapePosition {
  public:
    explicit TCustomChartLegend(TCustomPlotPanelExtended* Chart);
    ~TCustomChartLegend() override;

    // ---- Settings (each stores and repaints)
    TLegendAlignment Alignment() const { return alignment_; }
    void SetAlignment(TLegendAlignment Value) { Store(alignment_, Value); }
    bool CheckBoxes() const { return check_boxes_; }
    void SetCheckBoxes(bool Value) { Store(check_boxes_, Value); }
    TCheckBoxesStyle CheckBoxesStyle() const { return check_boxes_style_; }
    // Radio keeps only the first active series (shown in the legend) active.
    void SetCheckBoxesStyle(TCheckBoxesStyle Value);
    // The symbol's width.
    int ColorWidth() const { return symbol_->Width(); }
    void SetColorWidth(int Value) { symbol_->SetWidth(Value); }
    // With paging, a legend of points lists the current page's.
    bool CurrentPage() const { return current_page_; }
    void SetCurrentPage(bool Value) { Store(current_page_, Value); }
    chart::TChartHiddenPen& DividingLines() { return *dividing_lines_; }
    // The first item listed; below 0 raises LegendException.
    int FirstValue() const { return first_value_; }
    void SetFirstValue(int Value);
    // Item texts in each item's colour.
    bool FontSeriesColor() const { return font_series_color_; }
    void SetFontSeriesColor(bool Value) { Store(font_series_color_, Value); }
    // Gap to the chart for left and right legends; 0: 3 percent of its width.
    int HorizMargin() const { return horiz_margin_; }
    void SetHorizMargin(int Value) { Store(horiz_margin_, Value); }
    bool Inverted() const { return inverted_; }
    void SetInverted(bool Value) { Store(inverted_, Value); }
    // A placement by hand in percent of the panel (PositionUnits muPercent).
    int LeftPercent() const { return left_percent_; }
    void SetLeftPercent(int Value) { Store(left_percent_, Value); }
    int TopPercent() const { return top_percent_; }
    void SetTopPercent(int Value) { Store(top_percent_, Value); }
    TPlotUnits PositionUnits() const { return position_units_; }
    void SetPositionUnits(TPlotUnits Value) { Store(position_units_, Value); }
    TLegendStyle LegendStyle() const { return legend_style_; }
    void SetLegendStyle(TLegendStyle Value);
    // Rows of a legend above or below the chart.
    int MaxNumRows() const { return max_num_rows_; }
    void SetMaxNumRows(int Value) { Store(max_num_rows_, Value); }
    // The legend takes its room off the chart rectangle.
    bool ResizeChart() const { return resize_chart_; }
    void SetResizeChart(bool Value) { Store(resize_chart_, Value); }
    TLegendSymbol& Symbol() { return *symbol_; }
    TLegendTextStyle TextStyle() const { return text_style_; }
    void SetTextStyle(TLegendTextStyle Value) { Store(text_style_, Value); }
    TLegendTitle& Title() { return *title_; }
    // Place along the chart's side, in percent.
    int TopPos() const { return top_pos_; }
    void SetTopPos(int Value) { Store(top_pos_, Value); }
    // Gap to the chart for top and bottom legends; 0: 4 percent of its height.
    int VertMargin() const { return vert_margin_; }
    void SetVertMargin(int Value) { Store(vert_margin_, Value); }
    // Extra pixels per item.
    int VertSpacing() const { return vert_spacing_; }
    void SetVertSpacing(int Value) { Store(vert_spacing_, Value); }

    // The series whose points a legend of points lists; none: chosen.
    TChartSeries* Series = nullptr;
    TLegendItems& Items() { return items_; }

    // ---- Answers
    // Visible, and check boxes to show or an active series.
    bool ShouldDraw();
    // Check boxes shown: asked for, and not a legend of points.
    bool HasCheckBoxes();
    // LegendStyle with lsAuto resolved.
    TLegendStyle ResolvedStyle();
    // Series when set; else the chart's first series shown in the legend,
    // the first active one shown, or the first one.
    TChartSeries* FormattingSeries();
    // The legend text of a point: the series' legend row by TextStyle, lines
    // joined by blanks; empty for a negative index.
    std::string FormattedValue(TChartSeries& ASeries, int ValueIndex);
    // The item under the point, -1 when none (by the last layout).
    int Clicked(int X, int Y);
    // Switches the series (or group) of item Index by its check box: only
    // it on (radio), or on and off (check). False without check boxes or
    // for -1.
    bool DoCheck(int Index);
    // A mouse press on the legend: the check box of the item under it.
    bool DoMouseDown(int X, int Y);

    // ---- The last layout (kept for the click test)
    TLegendStyle LastStyle = lsSeries;
    int TotalItems = 0;
    int FirstShown = 0;
    int LastShown = -1;
    int ItemHeight = 0;
    int NumCols = 0;
    int NumRows = 0;
    int SymbolWidth = 0;
    std::array<int, 2> ColumnWidths = {0, 0};
    bool TitleShown = false;
    int ItemsTop = 0;

    // Lays out and draws the legend, shrinking the chart rectangle unless
    // placed by hand.
    void DrawLegend();

    void Assign(const vcl::TPersistent& Source) override;

  protected:
    std::unique_ptr<chart::TPlotGradient> CreateGradient() override;

  private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Repaint();
    }
    friend class TLegendLayout;

    TLegendAlignment alignment_ = laRight;
    bool check_boxes_ = false;
    TCheckBoxesStyle check_boxes_style_ = cbsCheck;
    bool current_page_ = true;
    std::unique_ptr<chart::TChartHiddenPen> dividing_lines_;
    int first_value_ = 0;
    bool font_series_color_ = false;
    int horiz_margin_ = 0;
    bool inverted_ = false;
    int left_percent_ = 0;
    int top_percent_ = 0;
    TPlotUnits position_units_ = muPixels;
    TLegendStyle legend_style_ = lsAuto;
    int max_num_rows_ = 10;
    bool resize_chart_ = true;
    std::unique_ptr<TLegendSymbol> symbol_;
    TLegendTextStyle text_style_ = ltsLeftValue;
    std::unique_ptr<TLegendTitle> title_;
    int top_pos_ = 10;
    int vert_margin_ = 0;
    int vert_spacing_ = 0;
    TLegendItems items_{*this};
};

class TChartLegend : public TCustomChartLegend {
  public:
    using TCustomChartLegend::TCustomChartLegend;
};

}  // namespace chart::engine
