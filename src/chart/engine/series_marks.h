#pragma once
// The per-point data of a series' marks that the series' data operations
// keep in step with the points: the stored box positions and the per-point
// boxes that override the marks' look. Placing and drawing marks builds on
// this.
#include <memory>
#include <vector>

#include "chart/engine/plot_shape.h"
#include "platform/vcl/string_list.h"

namespace chart::engine {

class TChartSeries;
class TSeriesMarks;

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
    TSeriesMarks& owner_;
    std::vector<std::unique_ptr<TMarksItem>> items_;
};

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

  protected:
    // Grey, 3 pixels.
    void InitShadow(chart::TPlotShadow& AShadow) override;

  private:
    TChartSeries& series_;
    TSeriesMarksPositions positions_;
    TMarksItems items_{*this};
};

}  // namespace chart::engine
