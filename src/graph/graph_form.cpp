#include "graph/graph_form.h"

#include <algorithm>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/format.h"

namespace graph {

TfGraph* fGraph = nullptr;

namespace {
// Captions are Russian text in the program's code page.
std::string Ru(const char* utf8) { return rtl::Utf8ToAnsi(utf8); }

constexpr std::size_t kReservedPoints = 65536;
}  // namespace

void TPointSeries::AddXY(double x, double y) {
    // Ascending order; equal X values keep their arrival order.
    auto at = std::upper_bound(points_.begin(), points_.end(), x,
                               [](double v, const TGraphPoint& p) { return v < p.X; });
    points_.insert(at, TGraphPoint{x, y});
}

TfGraph::TfGraph(vcl::TComponent* owner) : vcl::TForm(owner) {
    Name = "fGraph";
    SetBounds(213, 262, 671, 272);
    Font().SetName("Tahoma");
    Font().SetHeight(-13);

    pnl1 = new vcl::TPanel(this);
    pnl1->Name = "pnl1";
    pnl1->SetBevelOuter(vcl::TBevelCut::bvNone);
    pnl1->SetParent(this);
    pnl1->SetHeight(33);
    pnl1->SetAlign(vcl::TAlign::alTop);

    auto check = [this](const char* name, const char* caption, int left, int width, bool on) {
        auto* c = new vcl::TCheckBox(this);
        c->Name = name;
        c->SetParent(pnl1);
        c->SetCaption(Ru(caption));
        c->SetBounds(left, 8, width, 17);
        c->SetChecked(on);
        return c;
    };
    cbFollowLastPt = check("cbFollowLastPt", "Автоскрол", 8, 100, true);
    cbFollowLastPt->SetHint(Ru("Автоматическая смена страницы при заполнении текущей"));
    cbFollowLastPt->SetShowHint(true);
    cbXATime = check("cbXATime", "OX=Время", 116, 100, true);
    cbXATime->SetHint(Ru("Отображать время на оси OX"));
    cbXATime->SetShowHint(true);
    cbSigned = check("cbSigned", "Данные со знаком", 224, 150, false);

    bClear = new vcl::TButton(this);
    bClear->Name = "bClear";
    bClear->SetParent(pnl1);
    bClear->SetCaption(Ru("Очистить"));
    bClear->SetHint(Ru("Очистить"));
    bClear->SetBounds(560, 2, 90, 28);
    bClear->OnClick = [this](vcl::TComponent* s) { bClearClick(s); };

    sb1 = new vcl::TStatusBar(this);
    sb1->Name = "sb1";
    sb1->SetParent(this);
    sb1->SetPanels({200, 50});

    Chart1 = new vcl::TPanel(this);
    Chart1->Name = "Chart1";
    Chart1->SetBevelOuter(vcl::TBevelCut::bvNone);
    Chart1->SetColor(vcl::clWhite);
    Chart1->SetParent(this);
    Chart1->SetAlign(vcl::TAlign::alClient);

    lblCount = new vcl::TLabel(this);
    lblCount->Name = "lblCount";
    lblCount->SetParent(Chart1);
    lblCount->SetBounds(8, 8, 200, 16);

    pending_.reserve(kReservedPoints);
    ClearGraph();
    UpdateStatus(false);
    fGraph = this;
}

TfGraph::~TfGraph() {
    DestroyComponents();
    if (fGraph == this) fGraph = nullptr;
}

void TfGraph::AddPoint(rtl::TDateTime X, double Y) {
    TGraphPoint p{X, Y};
    pending_.push_back(p);
    if (!cbXATime->Checked()) pending_.back().X = series_.Count() + static_cast<double>(pending_.size());
    last_x_ = pending_.back().X;
    ++point_count_;
    if (update_lock_ == 0) FlushPending();
}

void TfGraph::SetUpdateLock(bool Lock) {
    if (Lock) {
        ++update_lock_;
        return;
    }
    if (update_lock_ <= 0) return;
    --update_lock_;
    if (update_lock_ == 0 && !pending_.empty()) FlushPending();
}

void TfGraph::FlushPending() {
    UpdateStatus(true);
    series_.BeginUpdate();
    for (const TGraphPoint& p : pending_) series_.AddXY(p.X, p.Y);
    series_.EndUpdate();
    if (!pending_.empty()) series_.CountBatch();
    pending_.clear();  // the reserved storage stays
    lblCount->SetCaption(rtl::Format("%d", {series_.Count()}));
    Chart1->Repaint();
}

void TfGraph::ClearGraph() {
    series_.Clear();
    page_ = 1;
    point_count_ = 0;
    last_x_ = 0;
    UpdateStatus(true);
    lblCount->SetCaption("0");
}

std::string TfGraph::StatusText() const { return sb1->PanelText(0); }

void TfGraph::UpdateStatus(bool CountOnly) {
    if (!CountOnly) SetCaption(Ru("График"));
    sb1->SetPanelText(0, rtl::Format(Ru("Тчк: %d"), {point_count_}));
}

void TfGraph::bClearClick(vcl::TComponent*) { ClearGraph(); }

}  // namespace graph
