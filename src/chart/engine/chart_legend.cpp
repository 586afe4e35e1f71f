#include "chart/engine/chart_legend.h"

#include <algorithm>
#include <cstdlib>

#include "chart/drawing/plot_const.h"
#include "chart/drawing/plot_geometry.h"
#include "chart/engine/chart.h"
#include "chart/engine/chart_exceptions.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/panel_routines.h"
#include "chart/engine/pixel_math.h"
#include "chart/engine/plot_check_box.h"
#include "chart/engine/series_groups.h"
#include "chart/engine/shape_text.h"

namespace chart::engine {

// ---- Symbol

TLegendSymbol::TLegendSymbol(TPlotCustomShape& Legend) : legend_(Legend) {
    auto repaint = [this](vcl::TPersistent*) { legend_.Repaint(); };
    gradient_ = std::make_unique<chart::TPlotGradient>(repaint);
    pen_ = std::make_unique<chart::TChartPen>(repaint);
    shadow_ = std::make_unique<chart::TPlotShadow>(repaint);
    // Drawn only when asked for: an item's symbol has no shadow by default.
    shadow_->SetDefaults(vcl::clBlack, 3);
    shadow_->DefaultVisible = false;
    shadow_->SetVisible(false);
}

TLegendSymbol::~TLegendSymbol() = default;

int TLegendSymbol::CalcWidth(int Base, int ItemHeight) const {
    if (!visible_) return 0;
    if (squared_) return std::max(0, ItemHeight - 5);
    if (width_units_ == lcsPixels) return width_;
    return Clamp32(RoundTo64(width_ * static_cast<double>(Base) * 0.01));
}

void TLegendSymbol::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TLegendSymbol*>(&Source);
    if (!other) return vcl::TPersistent::Assign(Source);
    if (other == this) return;
    continuous_ = other->continuous_;
    default_pen_ = other->default_pen_;
    gradient_->Assign(*other->gradient_);
    pen_->Assign(*other->pen_);
    position_ = other->position_;
    shadow_->Assign(*other->shadow_);
    squared_ = other->squared_;
    visible_ = other->visible_;
    width_ = other->width_;
    width_units_ = other->width_units_;
    OnDraw = other->OnDraw;
    legend_.Repaint();
}

// ---- Items

TLegendItem& TLegendItems::Items(int Index) {
    if (Index < 0) throw rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
    if (Index >= Count()) items_.resize(static_cast<std::size_t>(Index) + 1);
    return items_[static_cast<std::size_t>(Index)];
}

void TLegendItems::SetText(int Index, const std::string& Value) {
    Items(Index).Text = Value;
    Custom = true;
    legend_.Repaint();
}

void TLegendItems::SetText2(int Index, const std::string& Value) {
    Items(Index).Text2 = Value;
    Custom = true;
    legend_.Repaint();
}

// ---- Title

TLegendTitle::TLegendTitle(TCustomPlotPanelExtended* Chart)
    : TPlotShape(Chart), text_(std::make_unique<vcl::TStringList>()) {
    DefaultTransparent = true;
    SetTransparent(true);
    Font().DefaultStyle = vcl::fsBold;
    Font().SetStyle(vcl::fsBold);
    Shadow().SetDefaults(vcl::clSilver, 2);
    text_->OnChange = [this](vcl::TStringList*) { Repaint(); };
}

TLegendTitle::~TLegendTitle() = default;

void TLegendTitle::SetTextAlignment(TAlignment Value) {
    if (Value == text_alignment_) return;
    text_alignment_ = Value;
    Repaint();
}

void TLegendTitle::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TLegendTitle*>(&Source); other && other != this) {
        text_->Assign(*other->text_);
        text_alignment_ = other->text_alignment_;
    }
    TPlotShape::Assign(Source);
}

TChartLegendGradient::TChartLegendGradient(chart::TNotifyEvent ChangedEvent)
    : chart::TPlotGradient(std::move(ChangedEvent)) {
    SetDirection(chart::gdRightLeft);
    SetStartColor(vcl::clSilver);
    SetEndColor(vcl::clWhite);
}

// ---- Legend settings

TCustomChartLegend::TCustomChartLegend(TCustomPlotPanelExtended* Chart)
    : TPlotCustomShapePosition(Chart),
      dividing_lines_(std::make_unique<chart::TChartHiddenPen>(RepaintEvent())),
      symbol_(std::make_unique<TLegendSymbol>(*this)),
      title_(std::make_unique<TLegendTitle>(Chart)) {}

TCustomChartLegend::~TCustomChartLegend() = default;

std::unique_ptr<chart::TPlotGradient> TCustomChartLegend::CreateGradient() {
    return std::make_unique<TChartLegendGradient>(RepaintEvent());
}

void TCustomChartLegend::SetFirstValue(int Value) {
    if (Value < 0) throw LegendException(PlotMsg_LegendFirstValue);
    Store(first_value_, Value);
}

void TCustomChartLegend::SetLegendStyle(TLegendStyle Value) {
    Store(legend_style_, Value);
    LastStyle = ResolvedStyle();
}

void TCustomChartLegend::SetCheckBoxesStyle(TCheckBoxesStyle Value) {
    if (Value == check_boxes_style_) return;
    check_boxes_style_ = Value;
    if (Value == cbsRadio)
        if (auto* chart = dynamic_cast<TCustomAxisPanel*>(ParentChart())) {
            bool kept = false;
            for (int i = 0; i < chart->SeriesCount(); ++i) {
                TChartSeries& s = *chart->GetSeries(i);
                if (!s.ShowInLegend() || !s.Active()) continue;
                if (kept) s.SetActive(false);
                kept = true;
            }
        }
    Repaint();
}

void TCustomChartLegend::Assign(const vcl::TPersistent& Source) {
    if (const auto* o = dynamic_cast<const TCustomChartLegend*>(&Source); o && o != this) {
        alignment_ = o->alignment_;
        check_boxes_ = o->check_boxes_;
        check_boxes_style_ = o->check_boxes_style_;
        current_page_ = o->current_page_;
        dividing_lines_->Assign(*o->dividing_lines_);
        first_value_ = o->first_value_;
        font_series_color_ = o->font_series_color_;
        horiz_margin_ = o->horiz_margin_;
        inverted_ = o->inverted_;
        left_percent_ = o->left_percent_;
        top_percent_ = o->top_percent_;
        position_units_ = o->position_units_;
        legend_style_ = o->legend_style_;
        max_num_rows_ = o->max_num_rows_;
        resize_chart_ = o->resize_chart_;
        symbol_->Assign(*o->symbol_);
        text_style_ = o->text_style_;
        title_->Assign(*o->title_);
        top_pos_ = o->top_pos_;
        vert_margin_ = o->vert_margin_;
        vert_spacing_ = o->vert_spacing_;
    }
    TPlotCustomShapePosition::Assign(Source);
}

// ---- Answers

namespace {

TCustomChart* ChartOf(TPlotCustomShape& Shape) { return dynamic_cast<TCustomChart*>(Shape.ParentChart()); }

}  // namespace

TLegendStyle TCustomChartLegend::ResolvedStyle() {
    if (legend_style_ != lsAuto) return legend_style_;
    TCustomChart* chart = ChartOf(*this);
    const int active = chart ? chart->CountActiveSeries() : 0;
    return !check_boxes_ && active < 2 ? lsValues : lsSeries;
}

bool TCustomChartLegend::HasCheckBoxes() { return check_boxes_ && ResolvedStyle() != lsValues; }

bool TCustomChartLegend::ShouldDraw() {
    TCustomChart* chart = ChartOf(*this);
    return Visible() && chart && (HasCheckBoxes() || chart->CountActiveSeries() > 0);
}

TChartSeries* TCustomChartLegend::FormattingSeries() {
    if (Series) return Series;
    TCustomChart* chart = ChartOf(*this);
    if (!chart || chart->SeriesCount() == 0) return nullptr;
    if (chart->GetSeries(0)->ShowInLegend()) return chart->GetSeries(0);
    for (int i = 0; i < chart->SeriesCount(); ++i) {
        TChartSeries* s = chart->GetSeries(i);
        if (s->Active() && s->ShowInLegend()) return s;
    }
    return chart->GetSeries(0);
}

std::string TCustomChartLegend::FormattedValue(TChartSeries& ASeries, int ValueIndex) {
    if (ValueIndex < 0) return {};
    std::string text;
    ASeries.LegendString(ValueIndex, text_style_, text);
    std::replace(text.begin(), text.end(), kPlotLineSeparator, ' ');
    return text;
}

namespace {

// The series that legend row Index lists: those shown in the legend that
// are active (or all of them, with check boxes), in chart order.
TChartSeries* SeriesOfItem(TCustomChart& Chart, int Index, bool AnySeries) {
    int n = 0;
    for (int i = 0; i < Chart.SeriesCount(); ++i) {
        TChartSeries* s = Chart.GetSeries(i);
        if (!s->ShowInLegend() || !(AnySeries || s->Active())) continue;
        if (n++ == Index) return s;
    }
    return nullptr;
}

int CountSeriesItems(TCustomChart& Chart, bool AnySeries) {
    int n = 0;
    for (int i = 0; i < Chart.SeriesCount(); ++i) {
        TChartSeries* s = Chart.GetSeries(i);
        n += s->ShowInLegend() && (AnySeries || s->Active()) ? 1 : 0;
    }
    return n;
}

}  // namespace

bool TCustomChartLegend::DoCheck(int Index) {
    TCustomChart* chart = ChartOf(*this);
    if (!chart || !HasCheckBoxes() || Index == -1) return false;
    const bool radio = check_boxes_style_ == cbsRadio;
    if (ResolvedStyle() == lsSeriesGroups) {
        TSeriesGroups& groups = chart->SeriesList().SeriesGroups();
        if (Index < 0 || Index >= groups.Count()) return false;
        TSeriesGroup& group = groups.Items(Index);
        if (radio) {
            for (int i = 0; i < groups.Count(); ++i)
                if (i != Index) groups.Items(i).SetActive(gaNo);
            group.SetActive(gaYes);
        } else {
            group.SetActive(group.Active() == gaYes ? gaNo : gaYes);
        }
        return true;
    }
    TChartSeries* series = SeriesOfItem(*chart, Index, true);
    if (!series) return false;
    if (radio) {
        for (int i = 0; i < chart->SeriesCount(); ++i) {
            TChartSeries* s = chart->GetSeries(i);
            if (s != series && s->ShowInLegend()) s->SetActive(false);
        }
        series->SetActive(true);
    } else {
        series->SetActive(!series->Active());
    }
    return true;
}

bool TCustomChartLegend::DoMouseDown(int X, int Y) { return DoCheck(Clicked(X, Y)); }

namespace {

bool Vertical(TLegendAlignment A) { return A == laLeft || A == laRight; }

}  // namespace

int TCustomChartLegend::Clicked(int X, int Y) {
    TCustomChart* chart = ChartOf(*this);
    if (!chart || !chart::PointInRectXY(ShapeBounds, X, Y)) return -1;
    TCanvas3D& canvas = *chart->Canvas();
    canvas.AssignFont(Font());
    const long long h = ItemHeight > 0 ? ItemHeight : canvas.FontHeight();
    const int shown = LastShown - FirstShown + 1;
    if (shown < 1 || h < 1) return -1;
    auto rowAt = [&](int Rows) {
        for (int r = 0; r < Rows; ++r) {
            const long long top = ItemsTop + 1LL + r * h;
            if (Y >= top && Y <= top + h) return r;
        }
        return -1;
    };
    if (Vertical(alignment_)) {
        const int r = rowAt(shown);
        if (r < 0) return -1;
        return (inverted_ ? shown - 1 - r : r) + FirstShown;
    }
    if (NumCols < 1) return -1;
    const long long w = ((long long)ShapeBounds.Right - ShapeBounds.Left) / NumCols;
    int c = -1;
    for (int k = 0; k < NumCols && w > 0; ++k) {
        const long long left = ShapeBounds.Left + 1LL + k * w;
        if (X >= left && X <= left + w) {
            c = k;
            break;
        }
    }
    const int row = rowAt(NumRows);
    if (c < 0 || row < 0) return -1;
    long long index = (long long)NumCols * row + c;
    if (inverted_) {
        index = (long long)NumCols * row + (NumCols - c - 1);
        const int rest = shown % NumCols;
        if (rest > 0) index += rest - NumCols;
    }
    if (index < 0 || index > TotalItems - 1) return -1;
    return static_cast<int>(index + FirstShown);
}

// ---- Layout and drawing

class TLegendLayout {
  public:
    TLegendLayout(TCustomChartLegend& Legend, TCustomChart& Chart)
        : l_(Legend), chart_(Chart), canvas_(*Chart.Canvas()) {}

    void Run();

  private:
    int CountItems();
    std::string OwnText(int Index);
    void ComputeTexts();
    void ComputeColumnWidths();
    long long TotalTextWidth() const;
    void SizeTitle();
    void DrawTitle();
    void DrawItem(int Slot, int Index);
    void DrawSymbol(int Index, const TRect& R);
    void DrawPlainSymbol(TColor Color, const TRect& R);
    void Shrink();
    bool Vertical() const { return engine::Vertical(l_.alignment_); }

    TCustomChartLegend& l_;
    TCustomChart& chart_;
    TCanvas3D& canvas_;
    TLegendStyle style_ = lsSeries;
    bool custom_ = false;
    bool checks_ = false;
    long long fw_ = 0;
    int first_ = 0;
    int total_ = 0;
    int last_ = -1;
    long long item_height_ = 0;
    long long space_ = 0;
    long long margin_ = 0;
    long long title_width_ = 0, title_height_ = 0;
    long long left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    long long items_left_ = 0, check_left_ = 0;
    long long symbol_x_ = 0, text_x_ = 0;
    std::vector<std::pair<std::string, std::string>> texts_;
};

int TLegendLayout::CountItems() {
    long long n = 0;
    switch (style_) {
        case lsSeriesGroups: n = chart_.SeriesList().SeriesGroups().Count(); break;
        case lsSeries:
        case lsLastValues: n = CountSeriesItems(chart_, l_.check_boxes_) - (long long)first_; break;
        default:
            if (TChartSeries* s = l_.FormattingSeries(); s && s->ShowInLegend())
                n = s->CountLegendItems() - (long long)first_;
            break;
    }
    return static_cast<int>(std::clamp<long long>(n, 0, INT32_MAX));
}

std::string TLegendLayout::OwnText(int Index) {
    switch (style_) {
        case lsSeries: return chart_.SeriesTitleLegend(Index, !l_.check_boxes_);
        case lsValues: return chart_.GetLegendValueText(l_.FormattingSeries(), Index);
        case lsLastValues:
            if (TChartSeries* s = SeriesOfItem(chart_, Index, l_.check_boxes_))
                return chart_.GetLegendValueText(s, s->Count() - 1);
            return {};
        case lsSeriesGroups: {
            TSeriesGroups& groups = chart_.SeriesList().SeriesGroups();
            return Index < groups.Count() ? groups.Items(Index).Name() : std::string();
        }
        default: return {};
    }
}

void TLegendLayout::ComputeTexts() {
    texts_.clear();
    for (int slot = 0; first_ + slot <= last_; ++slot) {
        const int index = l_.inverted_ ? last_ - slot : first_ + slot;
        if (l_.items_.Custom && slot < l_.items_.Count()) {
            const TLegendItem& item = l_.items_.Items(slot);
            texts_.emplace_back(item.Text, item.Text2);
            continue;
        }
        const std::string text = chart_.LegendItemText(style_, index, OwnText(index));
        const std::size_t sep = text.find(kPlotColumnSeparator);
        if (sep == std::string::npos)
            texts_.emplace_back(text, std::string());
        else
            texts_.emplace_back(text.substr(0, sep), text.substr(sep + 1));
    }
}

void TLegendLayout::ComputeColumnWidths() {
    const bool html = l_.TextFormat() == ttfHtml;
    l_.ColumnWidths = {0, 0};
    for (const auto& [a, b] : texts_) {
        if (!a.empty()) l_.ColumnWidths[0] = std::max(l_.ColumnWidths[0], ShapeTextExtent(canvas_, a, html).cx);
        if (!b.empty()) l_.ColumnWidths[1] = std::max(l_.ColumnWidths[1], ShapeTextExtent(canvas_, b, html).cx);
    }
}

long long TLegendLayout::TotalTextWidth() const {
    long long w = 0;
    for (int width : l_.ColumnWidths)
        if (width > 0) w += space_ + width - 1;
    return w;
}

void TLegendLayout::SizeTitle() {
    title_width_ = title_height_ = 0;
    TLegendTitle& title = *l_.title_;
    if (!l_.TitleShown) return;
    canvas_.AssignFont(title.Font());
    const vcl::TSize size = ShapeTextExtent(canvas_, title.Text().Text(), title.TextFormat() == ttfHtml);
    if (title.TextFormat() == ttfHtml) {
        title_width_ = size.cx;
        title_height_ = size.cy;
    } else {
        long long widest = 0;
        for (int i = 0; i < title.Text().Count(); ++i)
            widest = std::max<long long>(widest, canvas_.TextWidth(title.Text().Strings(i)));
        title_width_ = widest;
        title_height_ = (long long)title.Text().Count() * canvas_.FontHeight();
    }
    // Half a "W" of room on each side of the lines, and the box's inset.
    title_width_ += canvas_.TextWidth("W") + 4;
    canvas_.AssignFont(l_.Font());
}

long long TitleShadowRoom(TLegendTitle& Title) {
    return !Title.Transparent() && Title.Shadow().Visible() ? std::llabs(Title.Shadow().VertSize()) : 0;
}

void TLegendLayout::Run() {
    style_ = l_.ResolvedStyle();
    l_.LastStyle = style_;
    custom_ = l_.CustomPosition();
    checks_ = l_.HasCheckBoxes();
    fw_ = l_.Frame().Visible() ? l_.Frame().Width() : 0;
    if (l_.Bevel() != vcl::TBevelCut::bvNone) fw_ = l_.BevelWidth();

    TRect& box = l_.ShapeBounds;
    const TRect& bounds = chart_.ChartBounds;
    if (custom_ && l_.position_units_ == muPercent) {
        const long long w = (long long)box.Right - box.Left, h = (long long)box.Bottom - box.Top;
        box.Left = Clamp32(RoundTo64(l_.left_percent_ * (double)chart_.Width() * 0.01));
        box.Top = Clamp32(RoundTo64(l_.top_percent_ * (double)chart_.Height() * 0.01));
        box.Right = Clamp32(box.Left + w);
        box.Bottom = Clamp32(box.Top + h);
    }
    const long long offsetX = custom_ ? bounds.Left : 0, offsetY = custom_ ? bounds.Top : 0;
    left_ = box.Left + offsetX;
    top_ = box.Top + offsetY;
    right_ = box.Right + offsetX;
    bottom_ = box.Bottom + offsetY;

    first_ = l_.first_value_;
    const int perPage = chart_.Pages().MaxPointsPerPage();
    const bool paged = style_ == lsValues && l_.current_page_ && perPage > 0;
    if (paged)
        first_ = static_cast<int>(std::min<long long>(chart_.Pages().FirstValueIndex(), INT32_MAX));
    else if (perPage > 0 && style_ != lsValues)
        first_ = 0;
    total_ = CountItems();
    if (paged) total_ = std::min(total_, perPage);

    chart_.LegendColor = l_.Color();
    canvas_.AssignFont(l_.Font());
    space_ = canvas_.TextWidth(" ");
    item_height_ = canvas_.FontHeight();
    if (checks_) item_height_ = std::max<long long>(item_height_, 17);
    item_height_ += l_.vert_spacing_;
    if (Vertical() && l_.dividing_lines_->Visible()) item_height_ += l_.dividing_lines_->Width();
    l_.TitleShown = l_.title_->Shown();
    SizeTitle();

    long long itemsTop = 0;
    int rows = 0, cols = 0;
    chart::TPlotShadow& shadow = l_.Shadow();
    if (Vertical()) {
        if (!custom_) {
            chart::TPlotShadow& panel = chart_.Shadow();
            const long long d = panel.Visible() && panel.VertSize() < 0 ? 2 * std::llabs(panel.VertSize()) : 0;
            top_ = RoundTo64(l_.top_pos_ * (((long long)bounds.Bottom - bounds.Top) - d) * 0.01) + bounds.Top + d;
        }
        cols = 1;
        itemsTop = top_;
        if (l_.TitleShown) itemsTop += title_height_ + 2 + TitleShadowRoom(*l_.title_);
        const TRect& cr = chart_.ChartRect;
        if (cr.Bottom > itemsTop && item_height_ >= 1)
            rows = static_cast<int>(std::clamp<long long>(
                std::min<long long>(total_, (chart_.ChartHeight - 2 * fw_ - itemsTop + cr.Top) / item_height_),
                0, INT32_MAX));
        last_ = first_ + std::min(total_, rows) - 1;
        ComputeTexts();
    } else {
        last_ = first_ + total_ - 1;
        ComputeTexts();
        ComputeColumnWidths();
        l_.SymbolWidth = l_.symbol_->CalcWidth(static_cast<int>(std::min<long long>(TotalTextWidth(), INT32_MAX)),
                                               static_cast<int>(item_height_));
        if (!custom_) {
            if (l_.alignment_ == laBottom) {
                long long d = fw_ + 1;
                if (shadow.Visible()) d += shadow.VertSize();
                bottom_ = chart_.ChartRect.Bottom - d;
            } else {
                top_ = chart_.ChartRect.Top + fw_ + 1;
            }
        }
        long long itemWidth = l_.SymbolWidth + TotalTextWidth() + 8;
        if (checks_) itemWidth += 27;
        if (chart_.ChartRect.Right > 8 && itemWidth > 0)
            cols = static_cast<int>(
                std::clamp<long long>(std::min<long long>(total_, (chart_.ChartWidth - 2 * fw_ - 8) / itemWidth), 0,
                                      INT32_MAX));
        if (cols > 0) rows = std::min((total_ + cols - 1) / cols, l_.max_num_rows_);
        rows = std::max(rows, 0);
        last_ = first_ + static_cast<int>(std::min<long long>(total_, (long long)cols * rows)) - 1;
        texts_.resize(static_cast<std::size_t>(std::max(0, last_ - first_ + 1)));
    }
    l_.TotalItems = total_;
    l_.FirstShown = first_;
    l_.LastShown = last_;
    l_.NumCols = cols;
    l_.NumRows = rows;
    l_.ItemHeight = static_cast<int>(std::min<long long>(item_height_, INT32_MAX));

    if (last_ >= first_) {
        // Height
        margin_ = RoundTo64(item_height_ * 0.1);
        long long h = item_height_ * rows + 2 + 2 * margin_;
        if (l_.TitleShown) h += title_height_ + 4 + TitleShadowRoom(*l_.title_);
        chart::TPlotShadow& symbolShadow = l_.symbol_->Shadow();
        if (l_.symbol_->Visible() && symbolShadow.Visible() && item_height_ / 6 < symbolShadow.VertSize())
            h += symbolShadow.VertSize() - item_height_ / 6;
        if (l_.alignment_ == laBottom && !custom_)
            top_ = bottom_ - h;
        else
            bottom_ = top_ + h;
        if (!Vertical()) {
            itemsTop = top_;
            if (l_.TitleShown) itemsTop += title_height_ + 2 + TitleShadowRoom(*l_.title_);
        }

        // Width and place
        const bool symbolShown = l_.symbol_->Visible();
        const long long symbolShadowH =
            symbolShadow.Visible() ? std::llabs(symbolShadow.HorizSize()) : 0;
        if (Vertical()) {
            ComputeColumnWidths();
            long long w = TotalTextWidth() + 12;
            if (style_ != lsSeriesGroups) {
                l_.SymbolWidth = l_.symbol_->CalcWidth(static_cast<int>(std::min<long long>(w, INT32_MAX)),
                                                       static_cast<int>(item_height_));
                w += l_.SymbolWidth;
                if (symbolShown) w += 2;
                w += symbolShadowH;
            } else {
                l_.SymbolWidth = 0;
            }
            if (l_.TitleShown) w = std::max(w, title_width_);
            if (l_.alignment_ == laLeft || custom_) {
                if (!custom_) left_ = chart_.ChartRect.Left + fw_ + 1;
            } else {
                right_ = chart_.ChartRect.Right - (shadow.Visible() ? shadow.HorizSize() : 0) - fw_ - 1;
                left_ = right_ - w - (checks_ ? 15 : 0);
            }
            check_left_ = left_ + 4;
            items_left_ = checks_ ? left_ + 15 : left_;
            right_ = items_left_ + w;
        } else {
            long long w = (long long)(cols - 1) * 6 + 4 + (l_.SymbolWidth + TotalTextWidth()) * cols + 8 + 2LL * cols;
            if (checks_) w += 15LL * cols + 4;
            if (l_.TitleShown) w = std::max(w, title_width_);
            w = std::min<long long>(w, chart_.ChartWidth);
            const long long half = w / 2;
            if (!custom_)
                left_ = RoundTo64(l_.top_pos_ * (((long long)bounds.Right - bounds.Left) - 2 * half) * 0.01) +
                        chart_.ChartXCenter - half;
            right_ = left_ + 2 * half;
            check_left_ = left_ + 4;
            items_left_ = checks_ ? left_ + 15 : left_;
        }
        if (symbolShown && l_.symbol_->Position() == spLeft) {
            symbol_x_ = items_left_ + 6;
            if (symbolShadow.Visible() && symbolShadow.HorizSize() < 0) symbol_x_ += -(long long)symbolShadow.HorizSize();
            text_x_ = symbol_x_ + l_.SymbolWidth + 6 + symbolShadowH;
        } else {
            text_x_ = items_left_ + 6 + (symbolShown ? 0 : 2);
            symbol_x_ = text_x_ + TotalTextWidth();
        }
        l_.ItemsTop = Clamp32(itemsTop);

        TRect r{Clamp32(left_), Clamp32(top_), Clamp32(right_), Clamp32(bottom_)};
        if (chart_.OnGetLegendRect) chart_.OnGetLegendRect(&chart_, r);
        // The items follow a box moved by the event.
        const long long dx = (long long)r.Left - Clamp32(left_), dy = (long long)r.Top - Clamp32(top_);
        left_ = r.Left;
        top_ = r.Top;
        right_ = r.Right;
        bottom_ = r.Bottom;
        items_left_ += dx;
        check_left_ += dx;
        symbol_x_ += dx;
        text_x_ += dx;
        l_.ItemsTop = Clamp32(l_.ItemsTop + dy);
        l_.ShapeBounds = r;

        l_.Draw();
        if (l_.TitleShown) DrawTitle();
        canvas_.AssignFont(l_.Font());
        for (int slot = 0; first_ + slot <= last_; ++slot)
            DrawItem(slot, l_.inverted_ ? last_ - slot : first_ + slot);
        if (l_.resize_chart_ && !custom_) Shrink();
    }
    if (custom_) {
        // Back in the legend's own coordinates.
        l_.ShapeBounds = {Clamp32(l_.ShapeBounds.Left - offsetX), Clamp32(l_.ShapeBounds.Top - offsetY),
                          Clamp32(l_.ShapeBounds.Right - offsetX), Clamp32(l_.ShapeBounds.Bottom - offsetY)};
    }
}

void TLegendLayout::DrawTitle() {
    TLegendTitle& title = *l_.title_;
    TRect r{Clamp32(left_ + 2), Clamp32(top_ + 2), Clamp32(right_ - 2), Clamp32(top_ + 2 + title_height_)};
    if (!title.Transparent()) {
        const chart::TPlotShadow& shadow = title.Shadow();
        if (shadow.HorizSize() < 1)
            r.Left = Clamp32(r.Left + std::llabs(shadow.HorizSize()));
        else
            r.Right = Clamp32(r.Right - (long long)shadow.HorizSize());
        if (shadow.VertSize() < 0) r.Top = Clamp32(r.Top + std::llabs(shadow.VertSize()));
    }
    title.ShapeBounds = r;
    title.Draw();
    canvas_.AssignFont(title.Font());
    canvas_.SetTextAlign(gdi::TA_LEFT);
    canvas_.SetBackMode(gdi::TRANSPARENT);
    const long long g = canvas_.TextWidth("W");
    if (title.TextFormat() == ttfHtml) {
        DrawShapeText(canvas_, Clamp32(r.Left + g / 2), Clamp32(r.Top + 1LL), title.Text().Text(), true);
        return;
    }
    const long long h = canvas_.FontHeight();
    for (int i = 0; i < title.Text().Count(); ++i) {
        const std::string line = title.Text().Strings(i);
        const long long w = canvas_.TextWidth(line);
        long long x;
        switch (title.TextAlignment()) {
            case taLeftJustify: x = r.Left + g / 2; break;
            case taRightJustify: x = r.Right - g / 2 - w; break;
            default: x = ((long long)r.Left + r.Right) / 2 - w / 2; break;
        }
        canvas_.TextOut(Clamp32(x), Clamp32(r.Top + 1 + i * h), line);
    }
}

void TLegendLayout::DrawPlainSymbol(TColor Color, const TRect& R) {
    TLegendSymbol& symbol = *l_.symbol_;
    chart::TPlotShadow& shadow = symbol.Shadow();
    if (shadow.Visible() && (shadow.HorizSize() != 0 || shadow.VertSize() != 0)) shadow.Draw(canvas_, R, 0, 0);
    if (!symbol.DefaultPen()) canvas_.AssignVisiblePen(symbol.Pen());
    if (symbol.Gradient().Visible()) {
        symbol.Gradient().SetEndColor(Color);
        symbol.Gradient().Draw(canvas_, R, 0);
        canvas_.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    } else {
        canvas_.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
        canvas_.Brush->SetColor(Color);
    }
    TRect r = R;
    if (canvas_.Pen->Style() == vcl::TPenStyle::psClear && canvas_.Brush->Style() != vcl::TBrushStyle::bsClear) {
        r.Right = Clamp32(r.Right + 1LL);
        r.Bottom = Clamp32(r.Bottom + 1LL);
    }
    canvas_.RectangleRect(r);
}

void TLegendLayout::DrawSymbol(int Index, const TRect& R) {
    TChartSeries* series = nullptr;
    int valueIndex = -1;
    switch (style_) {
        case lsSeries:
        case lsLastValues: series = SeriesOfItem(chart_, Index, l_.check_boxes_); break;
        case lsValues:
            series = l_.FormattingSeries();
            if (series) valueIndex = series->LegendToValueIndex(Index);
            break;
        default: break;
    }
    if (style_ == lsSeriesGroups) return;
    if (l_.symbol_->OnDraw) {
        l_.symbol_->OnDraw(&l_, series, valueIndex, R);
        return;
    }
    if (l_.SymbolWidth <= 0) return;
    // Settings the symbol changes must not schedule a new paint.
    const bool repaint = chart_.AutoRepaint;
    chart_.AutoRepaint = false;
    try {
        if (series)
            series->DrawLegend(valueIndex, R);
        else
            DrawPlainSymbol(vcl::clWhite, R);
    } catch (...) {
        chart_.AutoRepaint = repaint;
        throw;
    }
    chart_.AutoRepaint = repaint;
}

void TLegendLayout::DrawItem(int Slot, int Index) {
    if (Slot >= total_) return;
    canvas_.Brush->SetColor(l_.Color());
    canvas_.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    canvas_.SetBackMode(gdi::TRANSPARENT);

    const bool vertical = Vertical();
    const int row = vertical ? Slot : Slot / std::max(1, l_.NumCols);
    long long columnOffset = 0;
    if (!vertical)
        columnOffset = (long long)(Slot % std::max(1, l_.NumCols)) *
                       (TotalTextWidth() + l_.SymbolWidth + 8 + (checks_ ? 15 : 0));
    int textX = Clamp32(text_x_ + columnOffset);
    int symbolX = Clamp32(symbol_x_ + columnOffset);
    int y = Clamp32(l_.ItemsTop + 1 + margin_ + item_height_ * row + l_.vert_spacing_ / 2);
    if (chart_.OnGetLegendPos) chart_.OnGetLegendPos(&chart_, Index, textX, y, symbolX);

    // Texts
    TChartSeries* series = nullptr;
    if (style_ == lsSeries || style_ == lsLastValues) series = SeriesOfItem(chart_, Index, l_.check_boxes_);
    canvas_.AssignFont(l_.Font());
    if (l_.font_series_color_) {
        if (series)
            canvas_.Font->SetColor(series->SeriesColor());
        else if (style_ == lsValues)
            if (TChartSeries* f = l_.FormattingSeries()) canvas_.Font->SetColor(f->LegendItemColor(Index));
    }
    const bool customItems = l_.items_.Custom && Slot < l_.items_.Count();
    TLegendItem& item = l_.items_.Items(Slot);
    const auto& [text1, text2] = texts_[static_cast<std::size_t>(Slot)];
    long long x = (long long)textX - 2;
    const int textY = checks_ ? y + 1 : y;
    const bool html = l_.TextFormat() == ttfHtml;
    for (int column = 0; column < 2; ++column) {
        const std::string& text = column == 0 ? text1 : text2;
        bool right = false;
        if (style_ != lsSeries) {
            switch (l_.text_style_) {
                case ltsLeftValue:
                case ltsLeftPercent:
                case ltsXValue:
                case ltsValue:
                case ltsPercent: right = column == 0; break;
                case ltsRightValue:
                case ltsRightPercent: right = column == 1; break;
                case ltsXAndValue:
                case ltsXAndPercent: right = true; break;
                default: break;
            }
        }
        const int width = l_.ColumnWidths[static_cast<std::size_t>(column)];
        if (right) x += width;
        canvas_.SetTextAlign(right ? gdi::TA_RIGHT : gdi::TA_LEFT);
        if (column == 0 && !customItems) {
            item.Left = Clamp32(x);
            item.Top = textY;
            item.Align = right ? gdi::TA_RIGHT : gdi::TA_LEFT;
        }
        if (!text.empty()) {
            if (customItems && column == 0)
                DrawShapeText(canvas_, item.Left, item.Top, text, html);
            else
                DrawShapeText(canvas_, Clamp32(x), textY, text, html);
        }
        if (!right) x += width;
        x += space_;
    }
    canvas_.SetTextAlign(gdi::TA_LEFT);
    if (!customItems) {
        item.Text = text1;
        item.Text2 = text2;
    }

    // Symbol
    TRect symbol{symbolX, y, Clamp32((long long)symbolX + l_.SymbolWidth), Clamp32(y + item_height_ + 1)};
    const bool continuous = l_.symbol_->Continuous();
    if (!(continuous && Slot > 0)) symbol.Top = Clamp32(symbol.Top + 2LL);
    if (!(continuous && Slot == last_ - first_)) symbol.Bottom = Clamp32(symbol.Bottom - (l_.vert_spacing_ + 3LL));
    if (!customItems) item.SymbolRect = symbol;
    else symbol = item.SymbolRect;

    // Check box and symbol
    const int boxX = Clamp32(check_left_ + columnOffset);
    const int boxY = Clamp32((item_height_ - l_.vert_spacing_ - 11) / 2 + y - 1);
    const bool radio = l_.check_boxes_style_ == cbsRadio;
    if (style_ == lsSeriesGroups) {
        TSeriesGroups& groups = chart_.SeriesList().SeriesGroups();
        if (checks_ && Index < groups.Count())
            PlotDrawCheckBox(boxX, boxY, canvas_, groups.Items(Index).Active() == gaYes, !radio);
    } else {
        if (checks_ && series) PlotDrawCheckBox(boxX, boxY, canvas_, series->Active(), !radio);
        DrawSymbol(Index, symbol);
    }

    // Dividing line
    chart::TChartHiddenPen& lines = *l_.dividing_lines_;
    if (Slot > 0 && lines.Visible() && (vertical || row == 0)) {
        canvas_.AssignVisiblePen(lines);
        const long long half = l_.Frame().Visible() ? (l_.Frame().Width() + 1) / 2 : 0;
        if (vertical) {
            const int lineY = y - l_.vert_spacing_ / 2;
            canvas_.Line(Clamp32(left_ + half), lineY, Clamp32(right_ - half), lineY);
        } else {
            const int lineX = Clamp32(left_ + columnOffset + 2);
            canvas_.Line(lineX, Clamp32(top_ + half), lineX, Clamp32(bottom_ - half));
        }
    }
}

void TLegendLayout::Shrink() {
    TRect& r = chart_.ChartRect;
    const long long width = chart_.ChartWidth, height = chart_.ChartHeight;
    chart::TPlotShadow& panel = chart_.Shadow();
    switch (l_.alignment_) {
        case laLeft: r.Left = Clamp32(right_); break;
        case laRight: r.Right = Clamp32(left_); break;
        case laTop: r.Top = Clamp32(bottom_ + (panel.Visible() ? panel.VertSize() : 0)); break;
        case laBottom: r.Bottom = Clamp32(top_); break;
    }
    if (Vertical()) {
        const long long gap = l_.horiz_margin_ != 0 ? l_.horiz_margin_ : 3 * width / 100;
        if (l_.alignment_ == laRight)
            r.Right = Clamp32(r.Right - gap);
        else
            r.Left = Clamp32(r.Left + gap);
    } else {
        const long long gap = l_.vert_margin_ != 0 ? l_.vert_margin_ : 4 * height / 100;
        if (l_.alignment_ == laTop)
            r.Top = Clamp32(r.Top + gap);
        else
            r.Bottom = Clamp32(r.Bottom - gap);
    }
    chart_.RecalcWidthHeight();
}

void TCustomChartLegend::DrawLegend() {
    TCustomChart* chart = ChartOf(*this);
    if (!chart) return;
    TCanvas3D& canvas = *chart->Canvas();
    canvas.BeginGroup("Legend");
    try {
        TLegendLayout(*this, *chart).Run();
    } catch (...) {
        canvas.EndGroup();
        throw;
    }
    canvas.EndGroup();
}

}  // namespace chart::engine
