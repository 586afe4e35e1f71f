#pragma once
// The line series of the graph window: one polyline through the points with
// a single pen and nothing else, built for millions of points. Points that
// fall on the pixel column drawn last may be skipped, a new point can draw
// only its own segment into the chart's image instead of a repaint, and
// that segment can use the device context's recolourable stock pen.
// TCustomLineSeries adds how null points are drawn.
#include <cstdint>

#include "chart/engine/chart_series.h"

namespace chart::engine {

// How null points (colour clNone) are drawn: the segments touching one left
// out, the line joining the points on either side, or joined like any.
enum TTreatNullsStyle : std::uint8_t { tnDontPaint, tnSkip, tnIgnore };

class TCustomLineSeries : public TChartSeries {
  public:
    explicit TCustomLineSeries(vcl::TComponent* AOwner);

    TTreatNullsStyle TreatNulls() const { return treat_nulls_; }
    // A new value repaints.
    void SetTreatNulls(TTreatNullsStyle Value);

    // TreatNulls, then the series' settings.
    void Assign(const TCustomChartElement& Source) override;

  private:
    TTreatNullsStyle treat_nulls_ = tnIgnore;
};

class TFastLineSeries : public TCustomLineSeries {
  public:
    explicit TFastLineSeries(vcl::TComponent* AOwner);

    // False: a point added while no update is pending draws its own segment
    // into the chart's image at once, with no repaint (and nothing else of
    // a new point's news runs).
    bool AutoRepaint = true;
    // False: a point on the pixel column of the previous drawn point is
    // skipped. Each setter below repaints on a change.
    bool DrawAllPoints() const { return draw_all_points_; }
    void SetDrawAllPoints(bool Value) { SetBooleanProperty(draw_all_points_, Value); }
    // True: null points are not looked for; they are drawn like any.
    bool IgnoreNulls() const { return ignore_nulls_; }
    void SetIgnoreNulls(bool Value) { SetBooleanProperty(ignore_nulls_, Value); }
    // Each segment as a step: across, then up or down (inverted: up or
    // down first).
    bool Stairs() const { return stairs_; }
    void SetStairs(bool Value) { SetBooleanProperty(stairs_, Value); }
    bool InvertedStairs() const { return inverted_stairs_; }
    void SetInvertedStairs(bool Value) { SetBooleanProperty(inverted_stairs_, Value); }
    // The newly added segment is drawn with the device context's stock pen
    // recoloured, not a pen made for it. Only where the drawing layer has
    // such a pen; elsewhere nothing changes.
    bool FastPen() const { return fast_pen_; }
    void SetFastPen(bool Value);

    // The series' pen; its colour is the series colour.
    chart::TChartPen& LinePen() { return Pen(); }
    void SetLinePen(const chart::TChartPen& Value) { SetPen(Value); }

    // Pixel position of the last point drawn (or moved to).
    int LastX() const { return last_x_; }
    int LastY() const { return last_y_; }

    // ---- Overrides
    // The drawing options of another fast line, then TreatNulls and the
    // series' settings.
    void Assign(const TCustomChartElement& Source) override;
    std::string GetEditorClassName() const override { return "TFastLineSeriesEditor"; }
    // The pen, whose colour becomes the series colour.
    void SetPen(const chart::TChartPen& Value) override;
    // Room for the pen at the chart's edges: W - (W - 2) div 2 pixels more
    // on each side for a pen W wide.
    void CalcHorizMargins(int& LeftMargin, int& RightMargin) override;
    void CalcVerticalMargins(int& TopMargin, int& BottomMargin) override;
    // "Normal", then marks, dotted and stairs.
    void CreateSubGallery(const std::function<void(const std::string&)>& AddSubChart) override;
    void SetSubGallery(TChartSeries* ASeries, int Index) override;
    // The line from the point before the first visible one to the last
    // visible one, forward only.
    void DrawAllValues() override;
    // One horizontal line across the middle of Rect.
    void DrawLegendShape(int ValueIndex, const TRect& Rect) override;
    // The segment from the last point drawn to this one (or a move there
    // when it is not drawn).
    void DrawValue(int ValueIndex) override;
    // A mark stands on its callout: lifted by the callout's length (when
    // the marks have one) before it is drawn.
    void DrawMark(int ValueIndex, const std::string& Text, TSeriesMarkPosition* Position) override;
    void NotifyNewValue(TChartSeries* Sender, int ValueIndex) override;
    void PrepareLegendCanvas(int ValueIndex, TColor& BackColor,
                             vcl::TBrushStyle& BrushStyle) override;
    // The series colour, which the pen takes too.
    void SetSeriesColor(TColor Value) override;
    // The point under the pixel, or the first point of the segment under
    // it (within a pixel); -1 for none.
    int Clicked(int X, int Y) override;

  private:
    // The pen in its colour, brush clear, background transparent.
    void PrepareCanvas();
    // The pixel of point i; false when X or Y is not a number (the point
    // has no place: the line is broken there).
    bool Position(int ValueIndex, int& X, int& Y);
    void MoveToPixel(int X, int Y);
    void LineToPixel(int X, int Y);
    // The line by the general rules, point by point.
    void DrawPointByPoint(int First, int Last);
    // Whether the one-pixel line of the fast routine paints the same
    // pixels as the general rules do here.
    bool CanDrawFast();
    // The line through both axes' pixel maps, as polylines in chunks, each
    // run of points on one pixel column cut to the few that paint it.
    void DrawFast(int First, int Last);
    // Draws point ValueIndex's segment into the chart's image.
    void DrawNewSegment(int ValueIndex);

    bool draw_all_points_ = true;
    bool fast_pen_ = false;
    bool ignore_nulls_ = true;
    bool inverted_stairs_ = false;
    bool stairs_ = false;
    int last_x_ = 0;
    int last_y_ = 0;
    // Set by a point without a place: the next point starts the line anew.
    bool broken_ = false;
};

}  // namespace chart::engine
