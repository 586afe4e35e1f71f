#include "chart/engine/callout.h"

#include <algorithm>
#include <climits>

#include "chart/drawing/plot_canvas.h"
#include "chart/engine/plot_panel_extended.h"

namespace chart::engine {

namespace {

int Clamp32(long long v) { return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

TPoint Moved(const TPoint& P, const TPoint& By) {
    return {Clamp32((long long)P.X + By.X), Clamp32((long long)P.Y + By.Y)};
}

}  // namespace

TCallout::TCallout(TCustomPlotPanelExtended* Chart, const TPointerOwner* Owner)
    : TSeriesPointer(Chart, Owner), arrow_(std::make_unique<chart::TWhitePen>(RepaintEvent())) {
    SetDraw3D(false);
}

TCallout::~TCallout() = default;

void TCallout::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TCallout*>(&Source);
    if (other && other != this) {
        distance_ = other->distance_;
        arrow_->Assign(*other->arrow_);
        arrow_head_ = other->arrow_head_;
        arrow_head_size_ = other->arrow_head_size_;
    }
    TSeriesPointer::Assign(Source);
}

void TCallout::Draw(TColor Color, TPoint From, bool HasMid, int Z, TPoint To, TPoint Mid) {
    TCustomPlotPanelExtended* chart = ParentChart();
    if (!chart || !chart->Canvas()) return;
    TCanvas3D& canvas = *chart->Canvas();
    const bool is3D = chart->View3D();
    if (const TPointerOwner* owner = Owner()) {
        const TPoint offset = owner->DrawingOffset();
        From = Moved(From, offset);
        To = Moved(To, offset);
        Mid = Moved(Mid, offset);
    }
    if (arrow_->Visible()) {
        PrepareCanvas(canvas, Color);
        if (arrow_head_ != ahSolid) canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        canvas.AssignVisiblePen(*arrow_);
        if (arrow_head_ != ahNone) {
            canvas.ArrowDefault(arrow_head_ == ahSolid, To, From, arrow_head_size_,
                                arrow_head_size_, Z);
        } else if (is3D) {
            canvas.MoveTo3D(To.X, To.Y, Z);
            if (HasMid) canvas.LineTo3D(Mid.X, Mid.Y, Z);
            canvas.LineTo3D(From.X, From.Y, Z);
        } else {
            canvas.MoveToPoint(To);
            if (HasMid) canvas.LineToPoint(Mid);
            canvas.LineToPoint(From);
        }
    }
    if (arrow_head_ == ahNone && Visible()) {
        const TPoint at = is3D ? canvas.Calc3DPoint(From, Z) : From;
        // The pointer in its own pen and brush, not the line's.
        PrepareCanvas(canvas, Color);
        DrawPointer(canvas, false, at.X, at.Y, HorizSize(), VertSize(), PointerColor(Color),
                    Style());
    }
}

TMarksCallout::TMarksCallout(TCustomPlotPanelExtended* Chart, const TPointerOwner* Owner)
    : TCallout(Chart, Owner) {
    SetVisible(false);
    Arrow().SetColor(vcl::clWhite);
}

void TMarksCallout::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TMarksCallout*>(&Source); other && other != this)
        length_ = other->length_;
    TCallout::Assign(Source);
}

void TMarksCallout::ApplyLength(TSeriesMarkPosition& Position) const {
    const long long lift = (long long)length_ + Distance();
    Position.LeftTop.Y = Clamp32(Position.LeftTop.Y - lift);
    Position.ArrowTo.Y = Clamp32(Position.ArrowTo.Y - lift);
    Position.ArrowFrom.Y = Clamp32((long long)Position.ArrowFrom.Y - Distance());
}

}  // namespace chart::engine
