#include "chart/engine/fast_line_series.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

#include "chart/drawing/drawing_setup.h"
#include "chart/drawing/plot_const.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/callout.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/panel_routines.h"
#include "chart/engine/series_marks.h"
#include "platform/gdi/objects.h"

namespace chart::engine {

namespace {

// The points of a one-pixel solid line, handed to the surface as polylines
// of at most kChunk points. A run of points on one pixel column goes in as
// at most four that paint the same pixels: the vertical segments of such a
// run cover every pixel between its lowest and highest point, except its
// last point when that is a new extreme reached only at the end (a line
// leaves out its last pixel).
class TChunkedPolyline {
  public:
    explicit TChunkedPolyline(TCanvas3D& Canvas) : canvas_(Canvas) { points_.reserve(kChunk); }
    TChunkedPolyline(const TChunkedPolyline&) = delete;
    TChunkedPolyline& operator=(const TChunkedPolyline&) = delete;

    void Add(int X, int Y) {
        points_.push_back({X, Y});
        if (points_.size() < kChunk) return;
        canvas_.Polyline(points_);
        // The next chunk goes on from the last point.
        points_.front() = points_.back();
        points_.resize(1);
    }

    // The run of Count points on column X that began with the last point
    // added, as the points that paint it: Lowest and Highest are the
    // extremes of all its points but the last, Exit the last.
    void AddRun(int X, int Count, int Lowest, int Highest, int Exit) {
        if (Count < 2) return;
        const int entry = points_.back().Y;
        if (Exit > Highest || Exit < Lowest) {
            // A new extreme at the end: the line stops short of it.
            const int far = Exit > Highest ? Lowest : Highest;
            if (far != entry) Add(X, far);
            Add(X, Exit);
            return;
        }
        // The last point lies within the others, so it is painted: go to the
        // extreme it is not, then to the other, then back to it.
        const int first = Exit == Highest ? Highest : Lowest;
        const int second = first == Highest ? Lowest : Highest;
        if (first != entry) Add(X, first);
        Add(X, second);
        Add(X, Exit);
    }

    // Draws the line so far; the next point starts a new one.
    void Finish() {
        if (points_.size() > 1) canvas_.Polyline(points_);
        points_.clear();
    }

  private:
    static constexpr std::size_t kChunk = 4096;
    TCanvas3D& canvas_;
    std::vector<TPoint> points_;
};

// The line through points From..To as the one-pixel fast line draws it;
// LastX, LastY and Broken carry its state out. A pixel is the axis map's,
// with the common case inline: an offset from the axis minimum small
// enough that no clamping happens, so the map's result is the rounded
// sum; anything else (NaN, values far out, a zero range) takes the map.
template <bool FastX, bool FastY>
void DrawRuns(const double* Xs, const double* Ys, int From, int To, const TAxisPixelMap& MapX,
              const TAxisPixelMap& MapY, bool All, TChunkedPolyline& Line, int& LastX, int& LastY,
              bool& Broken) {
    // Below this offset Origin + offset (rounded) is within the limit.
    auto room = [](const TAxisPixelMap& m) {
        return m.RangeIsZero || m.Scale == 0 ? -1.0 : kPixelLimit - 2.0 - std::fabs(double(m.Origin));
    };
    const double minX = MapX.Minimum, scaleX = MapX.Scale, roomX = room(MapX);
    const double minY = MapY.Minimum, scaleY = MapY.Scale, roomY = room(MapY);
    const int originX = MapX.Origin, originY = MapY.Origin;
    auto pixel = [](auto fast, int origin, double offset) {
        if constexpr (decltype(fast)::value) return origin + static_cast<int>(RoundSmall(offset));
        return static_cast<int>(RoundSmall(origin + offset));
    };
    // No pixel is this far out: the column while the line is broken.
    constexpr int kNone = INT32_MIN;
    int lastX = kNone, lastY = 0;
    // The run of points on column lastX: how many, and the extremes of all
    // of them but the last (which is lastY).
    int count = 0, lowest = 0, highest = 0;
    // X of the point before, and its pixel: points in a received chunk
    // share their time stamp.
    double previous = std::numeric_limits<double>::quiet_NaN();
    int previousX = 0;
    for (int i = From; i <= To; ++i) {
        const double x = Xs[i], y = Ys[i];
        const double dy = (y - minY) * scaleY;
        int X, Y;
        if (x == previous && std::fabs(dy) < roomY) {
            X = previousX;
            Y = pixel(std::bool_constant<FastY>(), originY, dy);
        } else {
            const double dx = (x - minX) * scaleX;
            if (std::fabs(dx) < roomX && std::fabs(dy) < roomY) {
                X = pixel(std::bool_constant<FastX>(), originX, dx);
                Y = pixel(std::bool_constant<FastY>(), originY, dy);
            } else if (std::isnan(x) || std::isnan(y)) {
                // No place for the point: the line breaks here.
                if (lastX != kNone) {
                    Line.AddRun(lastX, count, lowest, highest, lastY);
                    Line.Finish();
                }
                lastX = kNone;
                continue;
            } else {
                X = MapX.Pixel(x);
                Y = MapY.Pixel(y);
            }
            previous = x;
            previousX = X;
        }
        if (X == lastX) {
            if (!All || Y == lastY) continue;
            lowest = std::min(lowest, lastY);
            highest = std::max(highest, lastY);
            lastY = Y;
            ++count;
            continue;
        }
        if (lastX != kNone) Line.AddRun(lastX, count, lowest, highest, lastY);
        Line.Add(X, Y);
        lastX = X;
        lastY = lowest = highest = Y;
        count = 1;
    }
    Broken = lastX == kNone;
    if (!Broken) Line.AddRun(lastX, count, lowest, highest, lastY);
    Line.Finish();
    LastX = Broken ? 0 : lastX;
    LastY = lastY;
}

// The rectangle spanned by the points, widened by Width on every side.
TRect Around(std::initializer_list<TPoint> Points, int Width) {
    long long left = Points.begin()->X, right = left, top = Points.begin()->Y, bottom = top;
    for (const TPoint& p : Points) {
        left = std::min<long long>(left, p.X);
        right = std::max<long long>(right, p.X);
        top = std::min<long long>(top, p.Y);
        bottom = std::max<long long>(bottom, p.Y);
    }
    return {Clamp32(left - Width), Clamp32(top - Width), Clamp32(right + Width + 1),
            Clamp32(bottom + Width + 1)};
}

}  // namespace

// ---- Line series

TCustomLineSeries::TCustomLineSeries(vcl::TComponent* AOwner) : TChartSeries(AOwner) {}

void TCustomLineSeries::SetTreatNulls(TTreatNullsStyle Value) {
    if (Value == treat_nulls_) return;
    treat_nulls_ = Value;
    Repaint();
}

void TCustomLineSeries::Assign(const TCustomChartElement& Source) {
    if (const auto* other = dynamic_cast<const TCustomLineSeries*>(&Source); other && other != this)
        treat_nulls_ = other->treat_nulls_;
    TChartSeries::Assign(Source);
}

// ---- Fast line

TFastLineSeries::TFastLineSeries(vcl::TComponent* AOwner) : TCustomLineSeries(AOwner) {
    CalcVisiblePoints = true;
    KeepPointAfterLast = true;
    // A function over all points gives a level line across the range.
    FunctionSinglePoint = false;
}

void TFastLineSeries::DrawMark(int ValueIndex, const std::string& Text, TSeriesMarkPosition* Position) {
    if (Position)
        if (const TMarksCallout* callout = Marks().CalloutIfAny()) callout->ApplyLength(*Position);
    TCustomLineSeries::DrawMark(ValueIndex, Text, Position);
}

void TFastLineSeries::SetFastPen(bool Value) {
    if (chart::PlotHasDCPenColor) fast_pen_ = Value;
}

void TFastLineSeries::Assign(const TCustomChartElement& Source) {
    if (const auto* other = dynamic_cast<const TFastLineSeries*>(&Source); other && other != this) {
        AutoRepaint = other->AutoRepaint;
        draw_all_points_ = other->draw_all_points_;
        fast_pen_ = other->fast_pen_;
        ignore_nulls_ = other->ignore_nulls_;
        inverted_stairs_ = other->inverted_stairs_;
        stairs_ = other->stairs_;
    }
    TCustomLineSeries::Assign(Source);
}

void TFastLineSeries::SetPen(const chart::TChartPen& Value) {
    TCustomLineSeries::SetPen(Value);
    SetSeriesColor(LinePen().Color());
}

void TFastLineSeries::SetSeriesColor(TColor Value) {
    TCustomLineSeries::SetSeriesColor(Value);
    LinePen().SetColor(Value);
}

namespace {

// W - (W - 2) div 2, the division cut toward zero, for any width.
int PenMargin(int Width) {
    const long long w = Width;
    return Clamp32(w - (w - 2) / 2);
}

}  // namespace

void TFastLineSeries::CalcHorizMargins(int& LeftMargin, int& RightMargin) {
    TCustomLineSeries::CalcHorizMargins(LeftMargin, RightMargin);
    const int more = PenMargin(LinePen().Width());
    LeftMargin = Clamp32((long long)LeftMargin + more);
    RightMargin = Clamp32((long long)RightMargin + more);
}

void TFastLineSeries::CalcVerticalMargins(int& TopMargin, int& BottomMargin) {
    TCustomLineSeries::CalcVerticalMargins(TopMargin, BottomMargin);
    const int more = PenMargin(LinePen().Width());
    TopMargin = Clamp32((long long)TopMargin + more);
    BottomMargin = Clamp32((long long)BottomMargin + more);
}

void TFastLineSeries::CreateSubGallery(const std::function<void(const std::string&)>& AddSubChart) {
    TCustomLineSeries::CreateSubGallery(AddSubChart);
    AddSubChart(PlotMsg_GalleryMarks);
    AddSubChart(PlotMsg_GalleryDotted);
    AddSubChart(PlotMsg_GalleryStairs);
}

void TFastLineSeries::SetSubGallery(TChartSeries* ASeries, int Index) {
    if (!ASeries) return;
    auto* line = dynamic_cast<TFastLineSeries*>(ASeries);
    switch (Index) {
        case 1:
            ASeries->Marks().SetVisible(true);
            break;
        case 2:
            if (line) line->LinePen().SetSmallDots(true);
            break;
        case 3:
            if (line) line->SetStairs(true);
            break;
        default:
            TCustomLineSeries::SetSubGallery(ASeries, Index);
    }
}

// ---- Drawing

void TFastLineSeries::PrepareCanvas() {
    TCanvas3D& canvas = *ParentChart()->Canvas();
    canvas.AssignVisiblePen(LinePen());
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    canvas.SetBackMode(gdi::TRANSPARENT);
}

void TFastLineSeries::PrepareLegendCanvas(int, TColor&, vcl::TBrushStyle&) {
    if (ParentChart()) PrepareCanvas();
}

void TFastLineSeries::DrawLegendShape(int, const TRect& Rect) {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    const int middle = static_cast<int>(((long long)Rect.Top + Rect.Bottom) / 2);
    chart->Canvas()->MoveTo(Rect.Left, middle);
    chart->Canvas()->LineTo(Rect.Right, middle);
}

bool TFastLineSeries::Position(int ValueIndex, int& X, int& Y) {
    if (std::isnan(XValues().Value(ValueIndex)) || std::isnan(YValues().Value(ValueIndex)))
        return false;
    X = CalcXPos(ValueIndex);
    Y = CalcYPos(ValueIndex);
    return true;
}

void TFastLineSeries::MoveToPixel(int X, int Y) {
    TCustomAxisPanel* chart = ParentChart();
    if (chart->View3D())
        chart->Canvas()->MoveTo3D(X, Y, MiddleZ);
    else
        chart->Canvas()->MoveTo(X, Y);
}

void TFastLineSeries::LineToPixel(int X, int Y) {
    TCustomAxisPanel* chart = ParentChart();
    if (chart->View3D())
        chart->Canvas()->LineTo3D(X, Y, MiddleZ);
    else
        chart->Canvas()->LineTo(X, Y);
}

void TFastLineSeries::DrawValue(int ValueIndex) {
    if (!ParentChart()) return;
    int x, y;
    if (!Position(ValueIndex, x, y)) {
        broken_ = true;
        return;
    }
    if (broken_) {
        broken_ = false;
        MoveToPixel(x, y);
        last_x_ = x;
        last_y_ = y;
        return;
    }
    if (x == last_x_) {
        if (!draw_all_points_) return;
        if (y == last_y_) return;
    }
    if (!ignore_nulls_) {
        bool drawable;
        if (IsNull(ValueIndex)) {
            // Skipped: nothing drawn, the next point joins the last real one.
            if (TreatNulls() == tnSkip) return;
            drawable = TreatNulls() == tnIgnore;
        } else {
            drawable = !(TreatNulls() == tnDontPaint && ValueIndex > 0 && IsNull(ValueIndex - 1));
        }
        if (!drawable) {
            MoveToPixel(x, y);
            last_x_ = x;
            last_y_ = y;
            return;
        }
    }
    if (stairs_) {
        if (inverted_stairs_)
            LineToPixel(last_x_, y);
        else
            LineToPixel(x, last_y_);
    }
    LineToPixel(x, y);
    last_x_ = x;
    last_y_ = y;
}

void TFastLineSeries::DrawPointByPoint(int First, int Last) {
    const int start = First > 0 ? First - 1 : First;
    broken_ = !Position(start, last_x_, last_y_);
    if (!broken_) MoveToPixel(last_x_, last_y_);
    if (First > 0) DrawValue(First);
    for (int i = First + 1; i <= Last; ++i) DrawValue(i);
}

bool TFastLineSeries::CanDrawFast() {
    TCustomAxisPanel* chart = ParentChart();
    const TChartAxis* horiz = GetHorizAxis();
    const TChartAxis* vert = GetVertAxis();
    const chart::TChartPen& pen = LinePen();
    // A solid pen of one pixel that paints over: drawing a pixel twice is
    // drawing it once, and one polyline paints what its segments do.
    return !chart->View3D() && ignore_nulls_ && !stairs_ && horiz && vert && horiz->IsLinear() &&
           vert->IsLinear() && pen.Visible() && !pen.SmallDots() && pen.Width() <= 1 &&
           pen.Style() == vcl::TPenStyle::psSolid && pen.Mode() == vcl::TPenMode::pmCopy &&
           !chart->Canvas()->GetSupportsFull3D();
}

void TFastLineSeries::DrawFast(int First, int Last) {
    const TAxisPixelMap mx = GetHorizAxis()->PixelMap(true);
    const TAxisPixelMap my = GetVertAxis()->PixelMap(false);
    const double* xs = XValues().Values().data();
    const double* ys = YValues().Values().data();
    TChunkedPolyline line(*ParentChart()->Canvas());
    // From the point before the first visible one.
    const int from = First > 0 ? First - 1 : First;
    auto draw = [&](auto runs) {
        runs(xs, ys, from, Last, mx, my, draw_all_points_, line, last_x_, last_y_, broken_);
    };
    if (mx.Fast && my.Fast)
        draw(DrawRuns<true, true>);
    else if (!mx.Fast && !my.Fast)
        draw(DrawRuns<false, false>);
    else if (mx.Fast)
        draw(DrawRuns<true, false>);
    else
        draw(DrawRuns<false, true>);
}

void TFastLineSeries::DrawAllValues() {
    const int first = FirstVisibleIndex, last = std::min(LastVisibleIndex, Count() - 1);
    if (!ParentChart() || first < 0 || last < first) return;
    PrepareCanvas();
    if (CanDrawFast())
        DrawFast(first, last);
    else
        DrawPointByPoint(first, last);
}

// ---- A new point

void TFastLineSeries::NotifyNewValue(TChartSeries* Sender, int ValueIndex) {
    if (AutoRepaint) {
        TCustomLineSeries::NotifyNewValue(Sender, ValueIndex);
        return;
    }
    TCustomAxisPanel* chart = ParentChart();
    if (!chart || !Active() || ValueIndex < 0 || ValueIndex >= Count()) return;
    if (!chart->BufferedDisplay()) {
        // No image to draw into: the window paints the chart again.
        chart->Repaint();
        return;
    }
    DrawNewSegment(ValueIndex);
}

void TFastLineSeries::DrawNewSegment(int ValueIndex) {
    TCustomAxisPanel& chart = *ParentChart();
    const int before = ValueIndex > 0 ? ValueIndex - 1 : 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    const bool from = Position(before, x0, y0);
    if (!Position(ValueIndex, x1, y1)) return;
    TPoint corner = inverted_stairs_ ? TPoint{x0, y1} : TPoint{x1, y0};
    if (!from) corner = {x1, y1};
    TRect area = Around({{x0, y0}, {x1, y1}, corner}, std::max(LinePen().Width(), 1) + 1);
    const bool clip = UseAxis() && chart.ClipPoints();
    if (clip) {
        const TRect& r = chart.ChartRect;
        area = {std::max(area.Left, r.Left), std::max(area.Top, Clamp32(r.Top - 1LL)),
                std::min(area.Right, r.Right), std::min(area.Bottom, Clamp32(r.Bottom + 1LL))};
    }
    chart.DrawOnCachedImage(area, [&] {
        TCanvas3D& canvas = *chart.Canvas();
        // A zoom band being dragged lies over the line, as a paint draws
        // it: out of the way while the segment goes in, then back, so that
        // taking it away at the release leaves the line whole.
        const bool band = chart.Zoom().Active;
        if (band) chart.DrawZoomRectangle();
        const chart::TChartPen& pen = LinePen();
        // The stock pen draws only what a solid one-pixel pen draws.
        const bool stock = fast_pen_ && pen.Visible() && !pen.SmallDots() && pen.Width() <= 1 &&
                           pen.Style() == vcl::TPenStyle::psSolid;
        gdi::HDC dc = nullptr;
        gdi::HPEN old;
        int oldRop = 0;
        if (stock) {
            dc = canvas.GetHandle();
            old = dc->SelectObject(gdi::GetStockPen(gdi::DC_PEN));
            dc->SetDCPenColor(vcl::ColorToRGB(canvas.GetMonochrome() ? vcl::clBlack : pen.Color()));
            oldRop = dc->SetROP2(vcl::PenModeToRop2(pen.Mode()));
        } else {
            canvas.AssignVisiblePen(LinePen());
        }
        if (clip) chart.ClipSeriesRect();
        auto restore = [&] {
            if (clip) chart.UnClipSeriesRect();
            if (stock) {
                dc->SelectObject(old);
                dc->SetROP2(oldRop);
            }
            if (band) chart.DrawZoomRectangle();
        };
        try {
            broken_ = !from;
            last_x_ = x0;
            last_y_ = y0;
            if (from) MoveToPixel(x0, y0);
            DrawValue(ValueIndex);
        } catch (...) {
            restore();
            throw;
        }
        restore();
    });
}

// ---- Mouse

int TFastLineSeries::Clicked(int X, int Y) {
    const int first = FirstVisibleIndex, last = std::min(LastVisibleIndex, Count() - 1);
    if (first < 0 || last < 0) return -1;
    if (TCustomAxisPanel* chart = ParentChart()) chart->Canvas()->Calculate2DPosition(X, Y, MiddleZ);
    const TPoint click{X, Y};
    TPoint q{};
    bool haveQ = false;
    for (int i = first; i <= last; ++i) {
        TPoint p;
        if (!Position(i, p.X, p.Y)) {
            haveQ = false;
            continue;
        }
        if (p == click) return i;
        if (i > first && haveQ) {
            if (!stairs_) {
                if (PointInLine(click, q, p, 0)) return i - 1;
            } else {
                const TPoint corner = inverted_stairs_ ? TPoint{q.X, p.Y} : TPoint{p.X, q.Y};
                if (PointInLine(click, q, corner, 0) || PointInLine(click, corner, p, 0))
                    return i - 1;
            }
        }
        q = p;
        haveQ = true;
    }
    return -1;
}

}  // namespace chart::engine
