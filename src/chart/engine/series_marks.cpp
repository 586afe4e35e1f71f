#include "chart/engine/series_marks.h"

#include <algorithm>
#include <cmath>

#include "chart/drawing/plot_geometry.h"
#include "chart/drawing/projection_math.h"
#include "chart/drawing/view3d_options.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/callout.h"
#include "chart/engine/chart_series.h"
#include "chart/engine/panel_routines.h"
#include "chart/engine/pixel_math.h"
#include "chart/engine/shape_text.h"

namespace chart::engine {

// ---- Positions

TSeriesMarkPosition* TSeriesMarksPositions::Position(int Index) const {
    if (Index < 0 || Index >= Count()) return nullptr;
    return items_[static_cast<std::size_t>(Index)].get();
}

TSeriesMarkPosition& TSeriesMarksPositions::Ensure(int Index) {
    if (Index < 0)
        throw rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
    if (Index >= Count()) items_.resize(static_cast<std::size_t>(Index) + 1);
    auto& entry = items_[static_cast<std::size_t>(Index)];
    if (!entry) entry = std::make_unique<TSeriesMarkPosition>();
    return *entry;
}

void TSeriesMarksPositions::Delete(int Index) {
    if (Index >= 0 && Index < Count()) items_.erase(items_.begin() + Index);
}

void TSeriesMarksPositions::DeleteRange(int Start, int Quantity) {
    const long long from = std::max(Start, 0);
    const long long to = std::min<long long>((long long)Start + Quantity, Count());
    if (from < to) items_.erase(items_.begin() + from, items_.begin() + to);
}

bool TSeriesMarksPositions::HasCustom() const {
    return std::any_of(items_.begin(), items_.end(), [](const auto& p) { return p && p->Custom; });
}

// ---- Items

TMarksItem::TMarksItem(TCustomPlotPanelExtended* AOwner) : TPlotCustomShape(AOwner) {
    SetColor(vcl::clInfoBk);
}

TMarksItem::~TMarksItem() = default;

vcl::TStringList& TMarksItem::Text() {
    if (!text_) {
        text_ = std::make_unique<vcl::TStringList>();
        text_->OnChange = [this](vcl::TStringList*) { Repaint(); };
    }
    return *text_;
}

TMarksItem& TMarksItems::Items(int Index) {
    if (Index < 0)
        throw rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
    if (Index >= Count()) items_.resize(static_cast<std::size_t>(Index) + 1);
    auto& entry = items_[static_cast<std::size_t>(Index)];
    if (!entry) {
        entry = std::make_unique<TMarksItem>(owner_.ParentChart());
        chart::TPlotShadow& shadow = entry->Shadow();
        shadow.SetDefaults(0x808080, 3);
    }
    return *entry;
}

TMarksItem* TMarksItems::ItemIfAny(int Index) const {
    if (Index < 0 || Index >= Count()) return nullptr;
    return items_[static_cast<std::size_t>(Index)].get();
}

void TMarksItems::Delete(int Index) {
    if (Index >= 0 && Index < Count()) items_.erase(items_.begin() + Index);
}

void TMarksItems::Clear() {
    items_.clear();
    owner_.Repaint();
}

TSeriesMarksGradient::TSeriesMarksGradient(chart::TNotifyEvent ChangedEvent)
    : chart::TPlotGradient(std::move(ChangedEvent)) {
    SetDirection(chart::gdRightLeft);
    SetStartColor(vcl::clSilver);
    SetEndColor(vcl::clWhite);
}

TSeriesMarksSymbol::TSeriesMarksSymbol(TCustomPlotPanelExtended* AOwner) : TPlotCustomShape(AOwner) {
    Shadow().SetDefaults(vcl::clBlack, 1);
    SetVisible(false);
}

// ---- Marks

TSeriesMarks::TSeriesMarks(TChartSeries& Series)
    : TPlotCustomShape(Series.ParentChart()), series_(Series), margins_(std::make_unique<TMargins>(this)) {
    InitShadow(Shadow());
    SetColor(vcl::clInfoBk);
    margins_->DefaultHorizMargin = 20;
    margins_->SetLeft(20);
    margins_->SetRight(20);
    // Marks are off until asked for.
    TPlotCustomShapeBrushPen::SetVisible(false);
}

TSeriesMarks::~TSeriesMarks() = default;

void TSeriesMarks::InitShadow(chart::TPlotShadow& AShadow) { AShadow.SetDefaults(0x808080, 3); }

std::unique_ptr<chart::TPlotGradient> TSeriesMarks::CreateGradient() {
    return std::make_unique<TSeriesMarksGradient>(RepaintEvent());
}

TPlotCustomShape& TSeriesMarks::Item(int ValueIndex) {
    if (TMarksItem* item = items_.ItemIfAny(ValueIndex)) return *item;
    return *this;
}

void TSeriesMarks::Clear() {
    positions_.Clear();
    if (items_.Count() > 0 && !items_.Loaded) items_.Clear();
}

TMarksCallout& TSeriesMarks::Callout() {
    if (!callout_) callout_ = std::make_unique<TMarksCallout>(ParentChart(), &series_);
    return *callout_;
}

void TSeriesMarks::SetCallout(const TMarksCallout* Value) {
    if (!Value) {
        if (callout_) {
            callout_.reset();
            Repaint();
        }
    } else if (Value != callout_.get()) {
        Callout().Assign(*Value);
    }
}

chart::TChartPen& TSeriesMarks::Arrow() { return Callout().Arrow(); }
void TSeriesMarks::SetArrow(const chart::TChartPen& Value) { Callout().SetArrow(Value); }
int TSeriesMarks::ArrowLength() { return Callout().Length(); }
void TSeriesMarks::SetArrowLength(int Value) { Callout().SetLength(Value); }

TSeriesMarksSymbol& TSeriesMarks::Symbol() {
    if (!symbol_) symbol_ = std::make_unique<TSeriesMarksSymbol>(ParentChart());
    return *symbol_;
}

void TSeriesMarks::SetSymbol(const TSeriesMarksSymbol* Value) {
    if (!Value) {
        if (symbol_) {
            symbol_.reset();
            Repaint();
        }
    } else if (Value != symbol_.get()) {
        Symbol().Assign(*Value);
    }
}

void TSeriesMarks::SetParentChart(TCustomPlotPanelExtended* Value) {
    TPlotCustomShape::SetParentChart(Value);
    if (callout_) callout_->SetParentChart(Value);
    if (symbol_) symbol_->SetParentChart(Value);
    for (auto& item : items_.items_)
        if (item) item->SetParentChart(Value);
}

void TSeriesMarks::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TSeriesMarks*>(&Source); other && other != this) {
        angle_ = other->angle_;
        SetCallout(other->callout_.get());
        clip_ = other->clip_;
        draw_every_ = other->draw_every_;
        style_ = other->style_;
        margins_->Assign(*other->margins_);
        multi_line_ = other->multi_line_;
        SetSymbol(other->symbol_.get());
        text_align_ = other->text_align_;
        for (int i = 0; i < other->items_.Count(); ++i)
            if (TMarksItem* item = other->items_.ItemIfAny(i)) {
                TMarksItem& mine = items_.Items(i);
                mine.Assign(*item);
                if (item->TextIfAny())
                    mine.Text().Assign(*item->TextIfAny());
                else
                    mine.ClearText();
            }
    }
    TPlotCustomShape::Assign(Source);
}

// ---- Measuring and placing

int TSeriesMarks::TextWidth(int ValueIndex) {
    TCustomPlotPanelExtended* chart = ParentChart();
    if (!chart) return 0;
    TCanvas3D& canvas = *chart->Canvas();
    canvas.AssignFont(Item(ValueIndex).Font());
    const std::string text = series_.GetMarkText(ValueIndex);
    int widest = 0;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t at = text.find(kPlotLineSeparator, from);
        if (at == std::string::npos) at = text.size();
        widest = std::max(widest, canvas.TextWidth(text.substr(from, at - from)));
        from = at + 1;
    }
    return widest;
}

namespace {

// The lines of a mark's text (split at the line separator).
std::vector<std::string> LinesOf(const std::string& Text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (true) {
        const std::size_t at = Text.find(kPlotLineSeparator, from);
        lines.push_back(Text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) break;
        from = at + 1;
    }
    return lines;
}

// The surface's font for a box S: its font, zoomed with the view where the
// surface does not draw 3D text itself.
void AssignMarkFont(TCustomPlotPanelExtended& Chart, TPlotCustomShape& S) {
    TCanvas3D& canvas = *Chart.Canvas();
    canvas.AssignFont(S.Font());
    const chart::TView3DOptions& view = Chart.View3DOptions();
    if (Chart.View3D() && !canvas.GetSupports3DText() && view.ZoomText() && view.Zoom() != 100)
        canvas.Font->SetSize(std::max(1, Clamp32(RoundTo64(canvas.Font->Size() * view.Zoom() * 0.01))));
}

}  // namespace

void TSeriesMarks::CalcPosition(int ValueIndex, int PX, int PY, const std::string& Text,
                                TSeriesMarkPosition& Position) {
    TCustomPlotPanelExtended* chart = ParentChart();
    if (!chart) return;
    TCanvas3D& canvas = *chart->Canvas();
    TPlotCustomShape& s = Item(ValueIndex);
    AssignMarkFont(*chart, s);
    const int fontHeight = canvas.FontHeight();
    long long w = 0, h = 0;
    if (s.TextFormat() == ttfHtml) {
        const vcl::TSize size = ShapeTextExtent(canvas, Text, true);
        w = size.cx;
        h = size.cy;
    } else {
        const std::vector<std::string> lines = LinesOf(Text);
        for (const std::string& line : lines) w = std::max<long long>(w, canvas.TextWidth(line));
        h = static_cast<long long>(lines.size()) * fontHeight;
    }
    margins_->CalcSizes(Clamp32(w), Clamp32(h), fontHeight);
    w += margins_->HorizSize();
    h += margins_->VertSize();
    if (symbol_ && symbol_->Shown()) w += fontHeight - 4;
    if (s.Frame().Visible()) {
        w += s.Frame().Width() - 1;
        h += s.Frame().Width() - 1;
    } else {
        w += 1;
        h += 1;
    }
    Position.Width = Clamp32(w);
    Position.Height = Clamp32(h);
    if (symbol_) symbol_->ShapeBounds = {0, 0, fontHeight, fontHeight};
    Position.ArrowTo = {PX, PY};
    Position.ArrowFrom = {PX, PY};
    Position.LeftTop = {Clamp32(PX - w / 2), Clamp32(PY - h + 1)};
    if (symbol_) {
        const TRect b = symbol_->ShapeBounds;
        symbol_->ShapeBounds = {Position.LeftTop.X + 2, Position.LeftTop.Y + 2,
                                Clamp32(Position.LeftTop.X + 2LL + b.Right - b.Left),
                                Clamp32(Position.LeftTop.Y + 2LL + b.Bottom - b.Top)};
    }
}

TRect TSeriesMarks::BoxOf(const TSeriesMarkPosition& Position) {
    TRect r{Position.LeftTop.X, Position.LeftTop.Y, Clamp32((long long)Position.LeftTop.X + Position.Width),
            Clamp32((long long)Position.LeftTop.Y + Position.Height)};
    TCustomPlotPanelExtended* chart = ParentChart();
    if (chart && chart->View3D() && !chart->Canvas()->GetSupportsFull3D()) {
        const TPoint at = chart->Canvas()->Calculate3DPosition(r.Left, r.Top, ZPosition);
        const long long dx = (long long)at.X - r.Left, dy = (long long)at.Y - r.Top;
        r = {Clamp32(r.Left + dx), Clamp32(r.Top + dy), Clamp32(r.Right + dx), Clamp32(r.Bottom + dy)};
    }
    return r;
}

// ---- Drawing

void TSeriesMarks::DrawItem(int ValueIndex, TColor Color, TSeriesMarkPosition& Position, const std::string& Text) {
    TCustomPlotPanelExtended* chart = ParentChart();
    if (!chart || ValueIndex < 0) return;
    TCanvas3D& canvas = *chart->Canvas();

    // The position kept: the user's, once dragged; else the one computed.
    TSeriesMarkPosition& stored = positions_.Ensure(ValueIndex);
    if (stored.Custom) {
        const TPoint from = Position.ArrowFrom;
        Position = stored;
        if (stored.ArrowFix) Position.ArrowFrom = from;
    } else {
        stored = Position;
    }

    if (callout_ && (callout_->Visible() || callout_->Arrow().Visible()))
        callout_->Draw(Color, Position.ArrowFrom, Position.HasMidPoint, ZPosition, Position.ArrowTo,
                       Position.MidPoint);

    TPlotCustomShape& s = Item(ValueIndex);
    if (s.Transparent()) {
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        canvas.SetBackMode(gdi::TRANSPARENT);
    } else {
        canvas.AssignBrushColor(s.Brush(), s.Color());
    }
    canvas.AssignVisiblePen(s.Frame());
    TRect r = BoxOf(Position);
    const int angle = ((angle_ % 360) + 360) % 360;
    s.DrawRectRotated(r, angle, Clamp32(ZPosition + 1LL));

    AssignMarkFont(*chart, s);
    const int fontHeight = canvas.FontHeight();
    const bool symbol = symbol_ && symbol_->Shown();
    if (symbol) {
        const bool repaint = chart->AutoRepaint;
        chart->AutoRepaint = false;
        symbol_->SetColor(Color);
        symbol_->SetTransparent(false);
        chart->AutoRepaint = repaint;
        const TRect box{Clamp32(r.Left + 4LL), Clamp32(r.Top + 3LL), Clamp32(r.Left + (long long)fontHeight - 1),
                        Clamp32(r.Top + (long long)fontHeight - 2)};
        symbol_->ShapeBounds = box;
        symbol_->DrawRectRotated(box, angle, Clamp32(ZPosition + 1LL));
        AssignMarkFont(*chart, s);
    }

    canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    canvas.SetBackMode(gdi::TRANSPARENT);
    r.Left = Clamp32(r.Left + 2LL);
    if (symbol) r.Left = Clamp32(r.Left + (long long)(symbol_->ShapeBounds.Right - symbol_->ShapeBounds.Left) + 4);
    if (TextInPointColor) canvas.Font->SetColor(Color);

    const long long left = margins_->LeftSize(), right = margins_->RightSize();
    const long long top = margins_->TopSize(), bottom = margins_->BottomSize();
    long long x;
    unsigned align;
    switch (text_align_) {
        case taLeftJustify:
            x = r.Left + left;
            align = gdi::TA_LEFT;
            break;
        case taRightJustify:
            x = r.Right - right;
            align = gdi::TA_RIGHT;
            break;
        default:
            x = ((long long)r.Left + left + r.Right - right) / 2;
            align = gdi::TA_CENTER;
            break;
    }
    const long long centreX = ((long long)r.Left + left + r.Right - right) / 2;
    const long long centreY = ((long long)r.Top + top + r.Bottom - bottom) / 2;
    if (s.TextFormat() == ttfHtml) {
        canvas.SetTextAlign(gdi::TA_LEFT);
        DrawShapeText(canvas, Clamp32(r.Left + left), Clamp32(r.Top + top), Text, true);
        return;
    }
    canvas.SetTextAlign(align);
    const bool full3DText = canvas.GetSupports3DText();
    const long long frame = s.Frame().Visible() ? (s.Frame().Width() - 1) / 2 : 0;
    const std::vector<std::string> lines = LinesOf(Text);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (angle == 0) {
            const int y = Clamp32(r.Top + top + (long long)k * fontHeight + frame);
            if (full3DText)
                canvas.TextOut3D(Clamp32(x), y, ZPosition, lines[k]);
            else
                canvas.TextOut(Clamp32(x), y, lines[k]);
            continue;
        }
        const double a = angle * chart::kDegreesToRadians;
        const double d = static_cast<double>(k) * fontHeight - (static_cast<double>(r.Bottom) + bottom - centreY);
        const int lx = Clamp32(centreX + RoundTo64(d * std::sin(a)) + (angle == 90 ? 1 : 0));
        const int ly = Clamp32(centreY + RoundTo64(d * std::cos(a)));
        if (full3DText)
            canvas.RotateLabel3D(lx, ly, ZPosition, lines[k], angle);
        else
            canvas.RotateLabel(lx, ly, lines[k], angle);
    }
}

int TSeriesMarks::Clicked(int X, int Y) {
    const int every = EffectiveDrawEvery();
    const int angle = ((angle_ % 360) + 360) % 360;
    for (int i = positions_.Count() - 1; i >= 0; --i) {
        if (i % every != 0) continue;
        const TSeriesMarkPosition* p = positions_.Position(i);
        if (!p) continue;
        const TRect r = BoxOf(*p);
        if (angle > 0) {
            const std::array<TPoint, 4> corners = RotatedCorners(r, angle);
            if (PointInPolygon({X, Y}, corners, 3)) return i;
        } else if (chart::PointInRectXY(r, X, Y)) {
            return i;
        }
    }
    return -1;
}

}  // namespace chart::engine
