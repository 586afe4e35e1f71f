#pragma once
// Series marks: the small labelled boxes a series draws above its points.
// The marks decide each box's text (by Style, a per-point item or an
// event), measure and place it, keep where it was put (and where the user
// dragged it), draw it with an optional callout line from the point and a
// colour symbol inside, and answer which mark is under the mouse.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/engine/chart_titles.h"
#include "chart/engine/margins.h"
#include "chart/engine/plot_shape.h"
#include "platform/vcl/string_list.h"

namespace chart::engine {

class TChartSeries;
class TSeriesMarks;
class TMarksCallout;
class TFiler;

// Which text a mark shows.
enum TSeriesMarksStyle : std::uint8_t {
    smsValue,
    smsPercent,
    smsLabel,
    smsLabelPercent,
    smsLabelValue,
    smsLegend,
    smsPercentTotal,
    smsLabelPercentTotal,
    smsXValue,
    smsXY,
    smsSeriesTitle,
    smsPointIndex,
    smsPercentRelative,
};

// Where the box of one mark was placed, or where the user dragged it.
struct TSeriesMarkPosition {
    TPoint ArrowFrom;
    bool ArrowFix = false;
    TPoint ArrowTo;
    bool Custom = false;
    int Height = 0;
    TPoint LeftTop;
    int Width = 0;
    TPoint MidPoint;
    bool HasMidPoint = false;
};

// One entry per point, as far as points have one; entries may be none.
class TSeriesMarksPositions {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    // The entry, or none (also past the end).
    TSeriesMarkPosition* Position(int Index) const;
    // The entry, made (not custom) when missing; the list is padded to it.
    TSeriesMarkPosition& Ensure(int Index);
    // Removes the entry when the list reaches that far.
    void Delete(int Index);
    // Removes the entries of the range that the list holds.
    void DeleteRange(int Start, int Quantity);
    void Clear() { items_.clear(); }
    bool HasCustom() const;

  private:
    std::vector<std::unique_ptr<TSeriesMarkPosition>> items_;
};

// A box of one point that overrides the marks' look, with its own text.
class TMarksItem : public TPlotCustomShape {
  public:
    explicit TMarksItem(TCustomPlotPanelExtended* AOwner = nullptr);
    ~TMarksItem() override;
    // Made on first read, with the chart's change notification.
    vcl::TStringList& Text();
    vcl::TStringList* TextIfAny() const { return text_.get(); }
    // Frees the text.
    void ClearText() { text_.reset(); }

  private:
    std::unique_ptr<vcl::TStringList> text_;
};

class TMarksItems {
  public:
    explicit TMarksItems(TSeriesMarks& Owner) : owner_(Owner) {}
    int Count() const { return static_cast<int>(items_.size()); }
    // The item of point Index, made when missing (the list is padded to it).
    TMarksItem& Items(int Index);
    // The item, or none.
    TMarksItem* ItemIfAny(int Index) const;
    // Removes the entry when the list reaches that far.
    void Delete(int Index);
    // Frees every item and repaints the owner.
    void Clear();
    // The items were read from a form: clearing the series keeps them.
    bool Loaded = false;

  private:
    friend class TSeriesMarks;
    TSeriesMarks& owner_;
    std::vector<std::unique_ptr<TMarksItem>> items_;
};

// The marks' gradient: silver to white from the right.
class TSeriesMarksGradient : public chart::TPlotGradient {
  public:
    explicit TSeriesMarksGradient(chart::TNotifyEvent ChangedEvent = {});
};

// The small colour box left of a mark's text; hidden until asked for.
class TSeriesMarksSymbol : public TPlotCustomShape {
  public:
    explicit TSeriesMarksSymbol(TCustomPlotPanelExtended* AOwner = nullptr);
    bool Shown() const { return Visible() && !Transparent(); }
};

using TSeriesMarkTextEvent = std::function<void(TChartSeries* Sender, int ValueIndex, std::string& MarkText)>;

class TSeriesMarks : public TPlotCustomShape {
  public:
    explicit TSeriesMarks(TChartSeries& Series);
    ~TSeriesMarks() override;

    TChartSeries& Series() const { return series_; }
    TSeriesMarksPositions& Positions() { return positions_; }
    TMarksItems& Items() { return items_; }
    // The box of point ValueIndex: its own item when it has one, else the
    // marks.
    TPlotCustomShape& Item(int ValueIndex);
    // Positions, and the items unless they were read from a form.
    void Clear();

    // ---- Settings (each repaints)
    TSeriesMarksStyle Style() const { return style_; }
    void SetStyle(TSeriesMarksStyle Value) { Store(style_, Value); }
    // Degrees, used modulo 360.
    int Angle() const { return angle_; }
    void SetAngle(int Value) { Store(angle_, Value); }
    // Clipped to the chart rectangle by the chart's marks pass.
    bool Clip() const { return clip_; }
    void SetClip(bool Value) { Store(clip_, Value); }
    // Marks only at indexes that are multiples of it; below 1 counts as 1.
    int DrawEvery() const { return draw_every_; }
    void SetDrawEvery(int Value) { Store(draw_every_, Value); }
    int EffectiveDrawEvery() const { return draw_every_ < 1 ? 1 : draw_every_; }
    TMargins& Margins() { return *margins_; }
    void SetMargins(const TMargins& Value) { margins_->Assign(Value); }
    // Two-part texts on two lines.
    bool MultiLine() const { return multi_line_; }
    void SetMultiLine(bool Value) { Store(multi_line_, Value); }
    TAlignment TextAlign() const { return text_align_; }
    void SetTextAlign(TAlignment Value) { Store(text_align_, Value); }
    TColor BackColor() const { return Color(); }
    void SetBackColor(TColor Value) { SetColor(Value); }
    // Made on first use: the line from the point and how far above it the
    // box sits.
    TMarksCallout& Callout();
    TMarksCallout* CalloutIfAny() const { return callout_.get(); }
    // A copy into the marks' own; none frees it.
    void SetCallout(const TMarksCallout* Value);
    chart::TChartPen& Arrow();
    void SetArrow(const chart::TChartPen& Value);
    int ArrowLength();
    void SetArrowLength(int Value);
    // Made on first use; hidden until shown.
    TSeriesMarksSymbol& Symbol();
    TSeriesMarksSymbol* SymbolIfAny() const { return symbol_.get(); }
    void SetSymbol(const TSeriesMarksSymbol* Value);
    // The depth marks are drawn at (the series' middle).
    int ZPosition = 0;
    // The text takes the point's colour; never set inside the engine.
    bool TextInPointColor = false;

    // Joins the chart: the callout and the symbol follow.
    void SetParentChart(TCustomPlotPanelExtended* Value) override;
    // Every setting and every item, then the box's.
    void Assign(const vcl::TPersistent& Source) override;

    // ---- Marks of points
    // The widest line of the point's mark text on the chart's surface.
    int TextWidth(int ValueIndex);
    // The box of a mark of Text at the point's pixel (PX, PY): its size
    // with margins, symbol and frame, above the point.
    void CalcPosition(int ValueIndex, int PX, int PY, const std::string& Text, TSeriesMarkPosition& Position);
    // Keeps the position (or takes the user's, when it was dragged), then
    // draws the callout, the box, the symbol and the text.
    void DrawItem(int ValueIndex, TColor Color, TSeriesMarkPosition& Position, const std::string& Text);
    // The mark under the pixel (by the positions last kept), -1 when none.
    int Clicked(int X, int Y);

    // The shape's, then "Items", when there are items: their count, then
    // each item's properties. A block that is short, negative or
    // inconsistent raises rtl::EReadError and the items stay as they were.
    void DefineProperties(TFiler& Filer) override;
    void WriteItems(vcl::TStream& Stream);
    void ReadItems(vcl::TStream& Stream);

  protected:
    // Grey, 3 pixels.
    void InitShadow(chart::TPlotShadow& AShadow) override;
    std::unique_ptr<chart::TPlotGradient> CreateGradient() override;

  private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Repaint();
    }
    // The box rectangle of a position, as drawn (moved to its depth).
    TRect BoxOf(const TSeriesMarkPosition& Position);

    TChartSeries& series_;
    TSeriesMarksPositions positions_;
    TMarksItems items_{*this};
    TSeriesMarksStyle style_ = smsLabel;
    int angle_ = 0;
    bool clip_ = false;
    int draw_every_ = 1;
    std::unique_ptr<TMargins> margins_;
    bool multi_line_ = false;
    TAlignment text_align_ = taCenter;
    std::unique_ptr<TMarksCallout> callout_;
    std::unique_ptr<TSeriesMarksSymbol> symbol_;
};

}  // namespace chart::engine
