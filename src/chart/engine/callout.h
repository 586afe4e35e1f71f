#pragma once
// Callouts: the line or arrow that joins a series point to its mark box,
// with a pointer drawn at the point when the line has no arrow head; and
// the callout of series marks, which also sets how far above its point a
// mark box sits.
#include <cstdint>
#include <memory>

#include "chart/drawing/plot_pens.h"
#include "chart/engine/series_marks.h"
#include "chart/engine/series_pointer.h"

namespace chart::engine {

enum TArrowHeadStyle : std::uint8_t { ahNone, ahLine, ahSolid };

class TCallout : public TSeriesPointer {
  public:
    explicit TCallout(TCustomPlotPanelExtended* Chart = nullptr,
                      const TPointerOwner* Owner = nullptr);
    ~TCallout() override;

    // The pen of the line: white, visible.
    chart::TWhitePen& Arrow() { return *arrow_; }
    void SetArrow(const chart::TChartPen& Value) { arrow_->Assign(Value); }
    TArrowHeadStyle ArrowHead() const { return arrow_head_; }
    void SetArrowHead(TArrowHeadStyle Value) { Store(arrow_head_, Value); }
    // Width and length of the head in pixels.
    int ArrowHeadSize() const { return arrow_head_size_; }
    void SetArrowHeadSize(int Value) { Store(arrow_head_size_, Value); }
    // The gap between the point and the start of the line.
    int Distance() const { return distance_; }
    void SetDistance(int Value) { Store(distance_, Value); }

    // Distance, Arrow, ArrowHead, ArrowHeadSize, then the pointer's settings.
    void Assign(const vcl::TPersistent& Source) override;

    // On the chart's surface, for a point of colour Color: the line from To
    // (through Mid when HasMid) to From, or an arrow from To with its head
    // at From, at depth Z in a 3D chart; then, without an arrow head, the
    // pointer at From when it is visible. All three points are first moved
    // by the owner's drawing offset. Nothing without a chart.
    void Draw(TColor Color, TPoint From, bool HasMid, int Z, TPoint To, TPoint Mid);

  private:
    std::unique_ptr<chart::TWhitePen> arrow_;
    TArrowHeadStyle arrow_head_ = ahNone;
    int arrow_head_size_ = 8;
    int distance_ = 0;
};

class TMarksCallout : public TCallout {
  public:
    explicit TMarksCallout(TCustomPlotPanelExtended* Chart = nullptr,
                           const TPointerOwner* Owner = nullptr);

    // How far the mark box sits above its point.
    int Length() const { return length_; }
    void SetLength(int Value) { Store(length_, Value); }
    bool IsLengthStored() const { return length_ != 8; }

    // Length, then the callout's settings.
    void Assign(const vcl::TPersistent& Source) override;

    // Lifts a mark's box by Length + Distance and starts its line Distance
    // above the point.
    void ApplyLength(TSeriesMarkPosition& Position) const;

  private:
    int length_ = 8;
};

}  // namespace chart::engine
