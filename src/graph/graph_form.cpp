#include "graph/graph_form.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <utility>

#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/fast_line_series.h"
#include "chart/engine/value_list.h"
#include "chart/tools/color_band_tool.h"
#include "chart/tools/cursor_tool.h"
#include "chart/tools/export_formats.h"
#include "chart/tools/plot_tools.h"
#include "graph/point_file.h"
#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/clipboard.h"
#include "platform/win/memory.h"

namespace graph {

TfGraph* fGraph = nullptr;

namespace {

using chart::engine::TChartListOrder;

// Captions are Russian text in the program's code page.
std::string Ru(const char* utf8) { return rtl::Utf8ToAnsi(utf8); }

constexpr int kReservedPoints = 65536;
// The shortest time between two repaints of the feed: a screen frame.
constexpr int kFrameMs = 16;
constexpr vcl::TColor kNavy = 0x800000;
constexpr vcl::TColor kBlue = 0xFF0000;
constexpr vcl::TColor kYellow = 0x00FFFF;

// The tool bar's glyphs, drawn here: three lines for the menu of actions,
// a red cross for clearing. The bottom-left pixel's colour is clear.
// A 16 x 16 glyph on white with Draw's picture on it.
std::unique_ptr<vcl::TBitmap> Glyph(const std::function<void(vcl::TCanvas&)>& Draw) {
    auto glyph = std::make_unique<vcl::TBitmap>();
    glyph->SetSize(16, 16);
    vcl::TCanvas& c = glyph->Canvas();
    c.Brush.SetColor(vcl::clWhite);
    c.FillRect({0, 0, 16, 16});
    Draw(c);
    return glyph;
}

std::unique_ptr<vcl::TBitmap> MenuGlyph() {
    return Glyph([](vcl::TCanvas& c) {
        c.Brush.SetColor(0x404040);
        for (int y : {3, 7, 11}) c.FillRect({2, y, 14, y + 2});
    });
}

std::unique_ptr<vcl::TBitmap> ClearGlyph() {
    return Glyph([](vcl::TCanvas& c) {
        c.Pen.SetColor(0x0000C0);
        c.Pen.SetWidth(2);
        c.MoveTo(3, 3);
        c.LineTo(13, 13);
        c.MoveTo(12, 3);
        c.LineTo(2, 13);
    });
}

// The most points the graph holds, taken once when the window is made: a
// quarter of memory at what a point costs (its two values on the line and
// its record in the queue), so that the graph and the receive list together
// keep within about half of it; never more than the queue and the 32-bit
// point count can number.
int GraphPointLimit() {
    constexpr std::uint64_t kPointCost = 2 * sizeof(double) + sizeof(TGraphPoint);
    constexpr std::uint64_t kMost = rtl::TLEList::MaxListSize - 1;
    std::uint64_t budget = win::MemoryQuarter();
    if (budget == 0) budget = kMost * kPointCost;  // the system does not say
    budget = win::LoweredForTest(budget, "VOSTREL_TEST_GRAPH_LIMIT_MB");
    return static_cast<int>(std::clamp<std::uint64_t>(budget / kPointCost, 1, kMost));
}

TGraphPoint& PointAt(const rtl::TLEList& List, int Index) {
    return *static_cast<TGraphPoint*>(List.Get(Index));
}

}  // namespace

TfGraph::TfGraph(vcl::TComponent* owner)
    : vcl::TForm(owner), MaxPoints(GraphPointLimit()), FPending(sizeof(TGraphPoint)) {
    // Tools and export formats are started with the window that uses them.
    chart::tools::PlotToolsUse();
    chart::tools::PlotExportFormatsUse();
    CreateComponents();
    FormCreate();
    fGraph = this;
}

TfGraph::~TfGraph() {
    DestroyComponents();
    if (fGraph == this) fGraph = nullptr;
    chart::tools::PlotExportFormatsRelease();
    chart::tools::PlotToolsRelease();
}

// ---------------------------------------------------------------------------
// The form as its description makes it

void TfGraph::CreateComponents() {
    Name = "fGraph";
    SetCaption("Graph");
    SetBounds(213, 262, 671, 272);
    SetMinSize(571, 200);
    Font().SetName("Tahoma");
    Font().SetHeight(-13);

    pnl1 = new vcl::TPanel(this);
    pnl1->Name = "pnl1";
    pnl1->SetBevelOuter(vcl::TBevelCut::bvNone);
    pnl1->SetParent(this);
    pnl1->SetHeight(33);
    pnl1->SetAlign(vcl::TAlign::alTop);

    auto label = [this](const char* name, const char* caption, int left, int width) {
        auto* l = new vcl::TLabel(this);
        l->Name = name;
        l->SetParent(pnl1);
        l->SetAutoSize(false);
        l->SetAlignment(vcl::TAlignment::taRightJustify);
        l->SetCaption(Ru(caption));
        l->SetBounds(left, 9, width, 16);
        return l;
    };
    auto spin = [this](const char* name, const char* hint, int left) {
        auto* s = new vcl::TSpinEdit(this);
        s->Name = name;
        s->SetParent(pnl1);
        s->SetBounds(left, 5, 62, 23);
        s->SetHint(Ru(hint));
        s->SetShowHint(true);
        s->SetRange(0, 2000000);
        s->SetMaxLength(4);
        return s;
    };
    auto check = [this](const char* name, const char* caption, const char* hint, int left, int top,
                        int width, bool on) {
        auto* c = new vcl::TCheckBox(this);
        c->Name = name;
        c->SetParent(pnl1);
        c->SetCaption(Ru(caption));
        c->SetBounds(left, top, width, 16);
        c->SetChecked(on);
        c->SetHint(Ru(hint));
        c->SetShowHint(true);
        return c;
    };

    // Two rows of check boxes beside the page boxes, so that everything fits
    // the window's smallest width.
    LPtPerPage = label("LPtPerPage", "Тчк/стр:", 2, 56);
    sePtPerPage = spin("sePtPerPage", "Количество точек на страницу", 60);
    sePtPerPage->SetIncrement(100);
    cbInfinite = check("cbInfinite", "Стр.", "Не разбивать по страницам", 126, 9, 50, false);
    cbInfinite->Font().SetStyle(vcl::fsStrikeOut);
    LPage = label("LPage", "Стр:", 176, 34);
    sePage = spin("sePage", "Номер текущей страницы", 212);
    sePage->SetValue(1);
    cbFollowLastPt = check("cbFollowLastPt", "Автоскрол",
                           "Автоматическая смена страницы при заполнении текущей", 278, 1, 90, true);
    cbXATime = check("cbXATime", "OX=Время", "Отображать время на оси OX", 278, 17, 90, true);
    cbAllowVertZoom = check("cbAllowVertZoom", "Верт. масштаб",
                            "Разрешить ручное масштабирование графика и по горизонтали, и по вертикали. "
                            "Если не отмечено - только по горизонтали.",
                            372, 1, 128, false);
    cbSigned = check("cbSigned", "Данные со знаком", "Данные со знаком", 372, 17, 128, false);
    cbSigned->SetShowHint(false);

    auto button = [this](const char* name, const char* hint, const std::unique_ptr<vcl::TBitmap>& glyph) {
        auto* b = new vcl::TBitBtn(this);
        b->Name = name;
        b->SetParent(pnl1);
        b->SetBounds(0, 1, 33, 30);
        b->SetHint(Ru(hint));
        b->SetShowHint(true);
        b->SetGlyph(*glyph);
        return b;
    };
    bActionsMenu = button("bActionsMenu", "Дополнительные действия", MenuGlyph());
    bClear = button("bClear", "Очистить", ClearGlyph());
    pnl1->OnResize = [this](vcl::TComponent*) { PlaceButtons(); };

    sb1 = new vcl::TStatusBar(this);
    sb1->Name = "sb1";
    sb1->SetParent(this);
    sb1->SetPanels({200, 50});

    // Menus and dialogs.
    auto item = [this](vcl::TPopupMenu* menu, const char* name, const char* caption) {
        auto* m = new vcl::TMenuItem(this);
        m->Name = name;
        m->SetCaption(Ru(caption));
        menu->Items()->Add(m);
        return m;
    };
    pm1 = new vcl::TPopupMenu(this);
    pm1->Name = "pm1";
    mLoadFile = item(pm1, "mLoadFile", "Загрузить...");
    N1 = item(pm1, "N1", "-");
    mSaveAs = item(pm1, "mSaveAs", "Сохранить как...");
    pmGraph = new vcl::TPopupMenu(this);
    pmGraph->Name = "pmGraph";
    mMarkStart = item(pmGraph, "mMarkStart", "Отметить начало");
    mMarkEnd = item(pmGraph, "mMarkEnd", "Отметить конец");
    N2 = item(pmGraph, "N2", "-");
    mDelRange = item(pmGraph, "mDelRange", "Удалить диапазон");
    N3 = item(pmGraph, "N3", "-");
    N4 = item(pmGraph, "N4", "Скопировать текущее значение");
    sd1 = new vcl::TSaveDialog(this);
    sd1->Name = "sd1";
    sd1->DefaultExt = "csv";
    sd1->Filter = "*.csv|*.csv";
    sd1->Options = vcl::ofOverwritePrompt | vcl::ofHideReadOnly | vcl::ofPathMustExist | vcl::ofEnableSizing;
    od1 = new vcl::TOpenDialog(this);
    od1->Name = "od1";
    od1->DefaultExt = "csv";
    od1->Filter = "*.csv|*.csv";
    od1->Options = vcl::ofPathMustExist | vcl::ofFileMustExist | vcl::ofHideReadOnly | vcl::ofEnableSizing;

    // The chart, its line and its cursor.
    Chart1 = new chart::engine::TChart(this);
    Chart1->Name = "Chart1";
    Chart1->SetParent(this);
    Chart1->SetAlign(vcl::TAlign::alClient);
    Chart1->SetBevelOuter(vcl::TBevelCut::bvNone);
    Chart1->SetColor(vcl::clWhite);
    Chart1->SetPopupMenu(pmGraph);
    Chart1->AllowPanning = chart::engine::pmHorizontal;
    Chart1->Legend().SetVisible(false);
    for (int i = 0; i < 4; ++i) Chart1->SetMargin(i, 1);
    Chart1->Title().SetVisible(false);
    Chart1->BottomAxis().SetDateTimeFormat("h:nn:ss");
    Chart1->Pages().SetMaxPointsPerPage(800);
    Chart1->Pages().SetScaleLastPage(false);
    Chart1->SetView3D(false);
    Chart1->SetView3DWalls(false);
    Chart1->Zoom().Direction = chart::engine::tzdHorizontal;
    Chart1->Zoom().Pen().SetColor(vcl::clGray);

    serLine = new chart::engine::TFastLineSeries(this);
    serLine->Name = "serLine";
    serLine->Marks().SetVisible(false);
    serLine->SetShowInLegend(false);
    serLine->SetSeriesColor(kNavy);
    serLine->XValues().Name = "X";
    serLine->XValues().SetDateTime(true);
    serLine->XValues().Order = TChartListOrder::loAscending;
    serLine->YValues().Name = "Y";
    serLine->YValues().Order = TChartListOrder::loNone;
    serLine->SetParentChart(Chart1);

    Cursor1 = new chart::tools::TCursorTool(this);
    Cursor1->Name = "Cursor1";
    Cursor1->SetParentChart(Chart1);
    Cursor1->SetSeries(serLine);
    Cursor1->FollowMouse = true;
    Cursor1->Snap = true;
    Cursor1->SnapStyle = chart::tools::ssVertical;
    Cursor1->SetStyle(chart::tools::cssScopeOnly);
    Cursor1->SetHorizSize(20);
    Cursor1->SetVertSize(20);

    // The events, once the form's values are in place (the form's reading
    // raises none).
    sePtPerPage->OnChange = [this](vcl::TComponent* s) { sePtPerPageChange(s); };
    sePage->OnChange = [this](vcl::TComponent* s) { sePageChange(s); };
    cbInfinite->OnClick = [this](vcl::TComponent* s) { cbInfiniteClick(s); };
    cbFollowLastPt->OnClick = [this](vcl::TComponent* s) { cbFollowLastPtClick(s); };
    cbXATime->OnClick = [this](vcl::TComponent* s) { cbXATimeClick(s); };
    cbAllowVertZoom->OnClick = [this](vcl::TComponent* s) { cbAllowVertZoomClick(s); };
    cbSigned->OnClick = [this](vcl::TComponent* s) { cbAllowVertZoomClick(s); };
    bActionsMenu->OnClick = [this](vcl::TComponent* s) { bActionsMenuClick(s); };
    bClear->OnClick = [this](vcl::TComponent* s) { bClearClick(s); };
    mLoadFile->OnClick = [this](vcl::TComponent* s) { mLoadFileClick(s); };
    mSaveAs->OnClick = [this](vcl::TComponent* s) { mSaveAsClick(s); };
    mMarkStart->OnClick = [this](vcl::TComponent* s) { mMarkStartClick(s); };
    mMarkEnd->OnClick = [this](vcl::TComponent* s) { mMarkEndClick(s); };
    mDelRange->OnClick = [this](vcl::TComponent* s) { mDelRangeClick(s); };
    N4->OnClick = [this](vcl::TComponent* s) { N4Click(s); };
    Cursor1->OnChange = [this](chart::tools::TCursorTool* s, int x, int y, double xv, double yv,
                               chart::engine::TChartSeries* series, int i) {
        Cursor1Change(s, x, y, xv, yv, series, i);
    };
    FMergeTimer = new vcl::TTimer(this);
    FMergeTimer->SetEnabled(false);
    FMergeTimer->SetOnTimer([this](vcl::TComponent*) {
        FMergeTimer->SetEnabled(false);
        MergeLate();
    });
    FRepaintTimer = new vcl::TTimer(this);
    FRepaintTimer->SetEnabled(false);
    FRepaintTimer->SetInterval(kFrameMs);
    FRepaintTimer->SetOnTimer([this](vcl::TComponent*) {
        FRepaintTimer->SetEnabled(false);
        FLastRepaint = std::chrono::steady_clock::now();
        Chart1->Invalidate();
    });
    Chart1->OnBeforeDrawChart = [this](vcl::TComponent*) { FPaintStart = std::chrono::steady_clock::now(); };
    Chart1->OnAfterDraw = [this](vcl::TComponent*) {
        FPaintTime = std::chrono::steady_clock::now() - FPaintStart;
        // The interval counts from the end of the paint.
        FLastRepaint = std::chrono::steady_clock::now();
    };
    PlaceButtons();
}

void TfGraph::PlaceButtons() {
    const int right = pnl1->Width();
    bClear->SetBounds(right - 35, 1, 33, 30);
    bActionsMenu->SetBounds(right - 70, 1, 33, 30);
}

void TfGraph::FormCreate() {
    // A window of its own on the task bar: every top-level form here is one.
    FPending.SetCapacity(kReservedPoints);
    sePtPerPage->SetValue(Chart1->Pages().MaxPointsPerPage());
    serLine->AutoRepaint = false;
    serLine->YValues().Order = TChartListOrder::loNone;
    serLine->SetSeriesColor(kBlue);
    serLine->SetFastPen(true);
    Chart1->Axes().SetFastCalc(true);
    SetMarkedRange(-1, -1, true);
    ClearGraph();
    UpdateStatus(false);
}

// ---------------------------------------------------------------------------
// Point feed

double TfGraph::NextSampleNumber() const {
    const int plotted = serLine->Count();
    const bool any = plotted > 0 || FPending.Count() > 0;
    if (!any) return 1;
    double top = -HUGE_VAL;
    if (plotted > 0) top = serLine->XValues().MaxValue();
    if (FPending.Count() > 0) top = std::max(top, FPendingMaxX);
    return std::floor(top) + 1;
}

void TfGraph::GraphFull() {
    FFull = true;
    if (FFullNoticeShown) return;
    FFullNoticeShown = true;
    // Told without waiting for an answer: this runs inside the receive
    // path, and a box waiting there would stop reception (the port's buffer
    // overruns and data is lost).
    const long long held = HeldPoints();
    vcl::ShowNotice(rtl::Format(Ru("График заполнен: %d точек. Новые точки не добавляются."),
                                {static_cast<int>(held)}),
                    vcl::mtWarning);
}

void TfGraph::AddPoint(rtl::TDateTime X, double Y) {
    // A value that is not a number has no place on the line.
    if (!std::isfinite(X) || !std::isfinite(Y)) return;
    if (FFull || HeldPoints() >= MaxPoints) {
        GraphFull();
        return;
    }
    const double x = cbXATime->Checked() ? X : NextSampleNumber();
    TGraphPoint* p = nullptr;
    try {
        p = static_cast<TGraphPoint*>(FPending.Add());
    } catch (const std::bad_alloc&) {
        // No room for the queue to grow: full, as at the limit.
        GraphFull();
        return;
    }
    p->X = x;
    p->Y = Y;
    FPendingMaxX = FPending.Count() == 1 ? x : std::max(FPendingMaxX, x);
    FLastX = x;
    if (FPointCount < INT_MAX) ++FPointCount;
    if (FUpdateLock == 0) FlushPending();
}

void TfGraph::SetUpdateLock(bool Lock) {
    if (Lock) {
        if (FUpdateLock < INT_MAX) ++FUpdateLock;
        return;
    }
    if (FUpdateLock <= 0) return;
    --FUpdateLock;
    if (FUpdateLock == 0 && FPending.Count() > 0) FlushPending();
}

int TfGraph::LastPage() const {
    const int per = Chart1->Pages().MaxPointsPerPage();
    return per > 0 ? (serLine->Count() - 1) / per + 1 : 1;
}

void TfGraph::PointsInsertedAt(std::span<const int> Places) {
    for (int* mark : {&FMarkStart, &FMarkEnd}) {
        if (*mark == -1) continue;
        for (const int place : Places) {
            if (place > *mark) break;
            ++*mark;
        }
    }
}

bool TfGraph::ViewFollowsData() const {
    const int per = Chart1->Pages().MaxPointsPerPage();
    return cbFollowLastPt->Checked() && per > 0 && (serLine->Count() - 1) / per == sePage->Value() - 1;
}

long long TfGraph::HeldPoints() const {
    return serLine->Count() + static_cast<long long>(FPending.Count()) + static_cast<long long>(FLate.size());
}

bool TfGraph::AddToLine(std::span<const TGraphPoint> Points, int& Taken) {
    Taken = 0;
    if (Points.empty()) return true;
    chart::engine::TAddedPoints added;
    try {
        serLine->AddXYs(Points, added);
    } catch (const std::bad_alloc&) {
        // The line cannot grow: the points that did not fit are dropped and
        // the graph is full until it is cleared. Nothing is raised, so the
        // receive path that flushes here goes on with its chunk.
        PointsInsertedAt(added.Places);
        Taken = static_cast<int>(Points.size());
        FPointCount -= std::min(FPointCount, static_cast<int>(Points.size()) - added.Taken);
        return false;
    } catch (...) {
        PointsInsertedAt(added.Places);
        Taken = added.Taken;
        throw;
    }
    PointsInsertedAt(added.Places);
    Taken = added.Taken;
    return true;
}

bool TfGraph::MergeIsDue(double MinX, std::size_t Late) const {
    // A merge moves the points after the earliest late one: when they are
    // few beside the late points, it costs about what the late points do.
    const std::span<const double> x = serLine->XValues().Values();
    const auto moved = static_cast<std::size_t>(x.end() - std::upper_bound(x.begin(), x.end(), MinX));
    constexpr std::size_t kShortTail = 4096;
    if (moved <= 2 * Late + kShortTail) return true;
    return std::chrono::steady_clock::now() >= FLastMerge + MergeInterval();
}

void TfGraph::FlushPending() {
    UpdateStatus(true);
    const bool onLast = ViewFollowsData();
    const auto queue = [this](int Count) {
        return Count > 0 ? std::span<const TGraphPoint>(&PointAt(FPending, 0), static_cast<std::size_t>(Count))
                         : std::span<const TGraphPoint>();
    };
    // The queued points that come before the line's last one (counting the
    // queued ones before them that do not) are late.
    const double lineEnd = serLine->Count() > 0 ? serLine->XValues().Last() : -HUGE_VAL;
    double end = lineEnd;
    std::size_t late = 0;
    double lateMin = FLate.empty() ? HUGE_VAL : FLateMinX;
    for (const TGraphPoint& p : queue(FPending.Count())) {
        if (p.X >= end) {
            end = p.X;
        } else {
            ++late;
            lateMin = std::min(lateMin, p.X);
        }
    }
    const std::size_t waiting = FLate.size() + late;
    const bool mergeNow = waiting == 0 || MergeIsDue(lateMin, waiting);
    // Each point leaves the queue as it enters the line: whatever fails
    // later (or in the middle) never adds a point twice.
    int taken = 0;
    bool fits = true;
    serLine->BeginUpdate();
    try {
        if (!mergeNow) {
            // The late points join those waiting; the others go on at the
            // line's end at once, kept in the queue in their order.
            FLate.reserve(FLate.size() + late);
            int kept = 0;
            end = lineEnd;
            for (int i = 0; i < FPending.Count(); ++i) {
                const TGraphPoint p = PointAt(FPending, i);
                if (p.X >= end) {
                    end = p.X;
                    PointAt(FPending, kept++) = p;
                } else {
                    if (FLate.empty() || p.X < FLateMinX) FLateMinX = p.X;
                    FLate.push_back(p);
                }
            }
            FPending.SetCount(kept);
            if (!FMergeTimer->Enabled()) {
                const auto wait = FLastMerge + MergeInterval() - std::chrono::steady_clock::now();
                const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count() + 1;
                FMergeTimer->SetInterval(static_cast<int>(std::clamp<long long>(ms, 1, 1000)));
                FMergeTimer->SetEnabled(true);
            }
        }
        // Those waiting came first; a line that is full takes nothing more.
        const auto start = std::chrono::steady_clock::now();
        fits = (!mergeNow || MergeLateIntoLine()) && AddToLine(queue(FPending.Count()), taken);
        if (!fits) FPointCount -= std::min(FPointCount, FPending.Count() - taken);
        if (mergeNow && waiting > 0) {
            FLastMerge = std::chrono::steady_clock::now();
            FMergeTime = FLastMerge - start;
        }
    } catch (const std::bad_alloc&) {
        // No room for the late points to wait: they are dropped with the rest.
        FPointCount -= std::min(FPointCount, FPending.Count());
        fits = false;
    } catch (...) {
        serLine->EndUpdate();
        const int left = FPending.Count() - taken;
        if (left > 0 && taken > 0)
            std::memmove(FPending.Get(0), FPending.Get(taken), static_cast<std::size_t>(left) * sizeof(TGraphPoint));
        FPending.SetCount(left);
        throw;
    }
    FPending.SetCount(0);
    serLine->EndUpdate();
    if (!fits) {
        UpdateStatus(true);
        GraphFull();
    }
    ShowNewPoints(onLast);
}

bool TfGraph::MergeLateIntoLine() {
    if (FLate.empty()) return true;
    int taken = 0;
    bool fits = false;
    try {
        fits = AddToLine(FLate, taken);
    } catch (...) {
        FLate.erase(FLate.begin(), FLate.begin() + taken);
        throw;
    }
    FLate.clear();
    FMergeTimer->SetEnabled(false);
    return fits;
}

void TfGraph::MergeLate() {
    if (FLate.empty()) return;
    const auto start = std::chrono::steady_clock::now();
    const bool onLast = ViewFollowsData();
    bool fits = true;
    serLine->BeginUpdate();
    try {
        fits = MergeLateIntoLine();
    } catch (...) {
        serLine->EndUpdate();
        throw;
    }
    serLine->EndUpdate();
    if (!fits) {
        UpdateStatus(true);
        GraphFull();
    }
    ShowNewPoints(onLast);
    FLastMerge = std::chrono::steady_clock::now();
    FMergeTime = FLastMerge - start;
}

std::chrono::steady_clock::duration TfGraph::MergeInterval() const {
    // A merge moves much of the line: merges take at most a fifth of the time.
    return std::max<std::chrono::steady_clock::duration>(std::chrono::milliseconds(kFrameMs), 4 * FMergeTime);
}

void TfGraph::ShowNewPoints(bool OnLast) {
    // The page box follows the points without merging the late ones.
    struct Showing {
        bool& flag;
        bool was;
        ~Showing() { flag = was; }
    } showing{FShowingPoints, std::exchange(FShowingPoints, true)};
    const int per = Chart1->Pages().MaxPointsPerPage();
    if (OnLast && (serLine->Count() - 1) / per != sePage->Value() - 1) {
        // The new page shows with the flush's one repaint below.
        Chart1->AutoRepaint = false;
        try {
            sePage->SetValue((serLine->Count() - 1) / per + 1);
        } catch (...) {
            Chart1->AutoRepaint = true;
            throw;
        }
        Chart1->AutoRepaint = true;
    }
    Chart1->BottomAxis().AdjustMaxMin();
    RepaintChart();
}

std::chrono::steady_clock::duration TfGraph::RepaintInterval() const {
    return std::max<std::chrono::steady_clock::duration>(std::chrono::milliseconds(kFrameMs), 4 * FPaintTime);
}

void TfGraph::RepaintChart() {
    // A busy feed flushing many times within one frame paints once, and a
    // chart slow to paint (millions of points) paints less often: the
    // receive path keeps the time it needs.
    if (FRepaintTimer->Enabled()) return;
    const auto now = std::chrono::steady_clock::now();
    const auto due = FLastRepaint + RepaintInterval();
    if (now >= due) {
        FLastRepaint = now;
        Chart1->Invalidate();
    } else {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1;
        FRepaintTimer->SetInterval(static_cast<int>(wait));
        FRepaintTimer->SetEnabled(true);
    }
}

void TfGraph::ClearGraph() {
    // Late points are on the line as far as anyone can tell: they go too.
    FLate.clear();
    FMergeTimer->SetEnabled(false);
    serLine->Clear();
    // Marks of points that are gone mean nothing any more.
    SetMarkedRange(-1, -1, true);
    // Back to the first page, the view unzoomed and unpanned, also when the
    // page box shows 1 already.
    if (sePage->Value() == 1)
        sePageChange(sePage);
    else
        sePage->SetValue(1);
    FPointCount = 0;
    FLastX = 0;
    FFullNoticeShown = false;
    FFull = false;
    UpdateStatus(true);
}

void TfGraph::UpdateStatus(bool CountOnly) {
    if (!CountOnly) SetCaption(Ru("График"));
    sb1->SetPanelText(0, rtl::Format(Ru("Тчк: %d"), {FPointCount}));
}

// ---------------------------------------------------------------------------
// Paging and the tool bar

void TfGraph::sePtPerPageChange(vcl::TComponent* Sender) {
    Chart1->Pages().SetMaxPointsPerPage(sePtPerPage->Value());
    sePageChange(Sender);
}

void TfGraph::sePageChange(vcl::TComponent*) {
    // The pages count the late points as well.
    if (!FShowingPoints) MergeLate();
    const int per = Chart1->Pages().MaxPointsPerPage();
    // Each assignment runs this handler again at once; that run finds a
    // valid page and shows it.
    if (sePage->Value() < 1 && per > 0) sePage->SetValue(LastPage());
    if (sePage->Value() == 0) sePage->SetValue(1);
    if (per > 0 && LastPage() < sePage->Value()) sePage->SetValue(1);
    // Undoes a pan as well as a zoom.
    Chart1->UndoZoom();
    Chart1->SetPage(sePage->Value());
}

void TfGraph::cbFollowLastPtClick(vcl::TComponent*) {
    MergeLate();
    if (Chart1->Pages().MaxPointsPerPage() > 0 && cbFollowLastPt->Checked()) sePage->SetValue(LastPage());
}

void TfGraph::cbInfiniteClick(vcl::TComponent* Sender) {
    const bool all = cbInfinite->Checked();
    Chart1->Pages().SetMaxPointsPerPage(all ? 0 : sePtPerPage->Value());
    for (vcl::TControl* c : {static_cast<vcl::TControl*>(LPtPerPage), static_cast<vcl::TControl*>(sePtPerPage),
                             static_cast<vcl::TControl*>(LPage), static_cast<vcl::TControl*>(sePage)})
        c->SetEnabled(!all);
    sePageChange(Sender);
}

void TfGraph::cbXATimeClick(vcl::TComponent*) {
    serLine->XValues().SetDateTime(cbXATime->Checked());
    ShowCursorValue(Cursor1->XValue, Cursor1->YValue);
}

void TfGraph::cbAllowVertZoomClick(vcl::TComponent*) {
    const bool both = cbAllowVertZoom->Checked();
    Chart1->Zoom().Direction = both ? chart::engine::tzdBoth : chart::engine::tzdHorizontal;
    Chart1->AllowPanning = both ? chart::engine::pmBoth : chart::engine::pmHorizontal;
}

void TfGraph::bClearClick(vcl::TComponent*) { ClearGraph(); }

void TfGraph::bActionsMenuClick(vcl::TComponent*) {
    const vcl::TPoint at = bActionsMenu->ClientToScreen({0, bActionsMenu->Height()});
    pm1->Popup(at.X, at.Y);
}

// ---------------------------------------------------------------------------
// Read-out and marked range

void TfGraph::Cursor1Change(chart::tools::TCursorTool*, int, int, double XValue, double YValue,
                            chart::engine::TChartSeries*, int) {
    ShowCursorValue(XValue, YValue);
}

void TfGraph::ShowCursorValue(double X, double Y) {
    if (cbXATime->Checked()) {
        int year = 0, month = 0, day = 0, hour = 0, min = 0, sec = 0, msec = 0;
        rtl::DecodeDate(X, year, month, day);
        rtl::DecodeTime(X, hour, min, sec, msec);
        sb1->SetPanelText(1, rtl::Format("X:%d/%.2d %d:%.2d:%.2d.%.3d  Y:%g",
                                         {day, month, hour, min, sec, msec, Y}));
    } else {
        sb1->SetPanelText(1, rtl::Format("X:%g  Y:%g", {X, Y}));
    }
}

void TfGraph::N4Click(vcl::TComponent*) { vcl::Clipboard().SetAsText(sb1->PanelText(1)); }

// Marks name points of the line as it is; late points merged later move
// them along. The cursor snaps among the late points too.
void TfGraph::mMarkStartClick(vcl::TComponent*) {
    MergeLate();
    SetMarkedRange(Cursor1->SnapToNearest(), FMarkEnd, true);
}

void TfGraph::mMarkEndClick(vcl::TComponent*) {
    MergeLate();
    SetMarkedRange(FMarkStart, Cursor1->SnapToNearest(), false);
}

void TfGraph::SetMarkedRange(int AStart, int AEnd, bool IsStart) {
    // An index that names no point marks nothing.
    const int count = serLine->Count();
    if (AStart < -1 || AStart >= count) AStart = -1;
    if (AEnd < -1 || AEnd >= count) AEnd = -1;
    if (IsStart) {
        if (AStart > AEnd || AEnd == -1) AEnd = AStart;
    } else {
        if (AStart > AEnd || AStart == -1) AStart = AEnd;
    }
    FMarkStart = AStart;
    FMarkEnd = AEnd;
    if (FMarkStart != -1 && FMarkEnd != -1) {
        if (!FBand) {
            FBand = new chart::tools::TColorBandTool(Chart1);
            FBand->SetAxis(&Chart1->BottomAxis());
            FBand->SetColor(kYellow);
            FBand->Pen().SetWidth(2);
        }
        FBand->SetStartValue(serLine->XValues().Value(FMarkStart));
        FBand->SetEndValue(serLine->XValues().Value(FMarkEnd));
    } else if (FBand) {
        vcl::TComponent::Free(FBand);
        FBand = nullptr;
    }
    mDelRange->SetEnabled(FMarkStart != -1 && FMarkEnd != -1);
}

void TfGraph::mDelRangeClick(vcl::TComponent*) {
    if (FMarkStart == -1 || FMarkEnd == -1) return;
    // Late points that belong inside the range go with it.
    MergeLate();
    // Every point in the band goes, from the start mark's X to the end
    // mark's: a received chunk puts all its points at one read time and a
    // mark names only one of them (the cursor snaps to the first), so the
    // range reaches out to every point that shares either mark's X. The
    // line is kept in ascending X.
    const std::span<const double> x = serLine->XValues().Values();
    const auto first = std::lower_bound(x.begin(), x.end(), x[static_cast<std::size_t>(FMarkStart)]);
    const auto past = std::upper_bound(first, x.end(), x[static_cast<std::size_t>(FMarkEnd)]);
    const int gone = static_cast<int>(past - first);
    serLine->DeleteRange(static_cast<int>(first - x.begin()), gone, false);
    // The status bar counts the points the graph holds, not those it was
    // ever given: the deleted ones leave the count with the line.
    FPointCount -= std::min(FPointCount, gone);
    UpdateStatus(true);
    SetMarkedRange(-1, -1, true);
    // The points deleted leave room (and the memory they took) for new
    // ones: a graph that was full takes points again up to its limit.
    FFull = false;
}

// ---------------------------------------------------------------------------
// Point files

void TfGraph::mSaveAsClick(vcl::TComponent*) {
    if (sd1->Execute()) SavePoints(sd1->FileName);
}

void TfGraph::mLoadFileClick(vcl::TComponent*) {
    if (od1->Execute()) LoadPoints(od1->FileName);
}

void TfGraph::SavePoints(const std::string& FileName) {
    if (OnSavePoints) OnSavePoints(FileName);
    MergeLate();
    WritePointFile(FileName, serLine->XValues().Values(), serLine->YValues().Values());
}

void TfGraph::LoadPoints(const std::string& FileName) {
    // The file is read whole into lists of its own before anything changes:
    // a bad line, too many points or no memory leave graph, queue and count
    // as they were, and the lists give their memory back as they go.
    chart::engine::TChartValueList x, y;
    ReadPointFile(FileName, MaxPoints, x, y);
    // From here nothing takes memory for the points, so the graph never
    // ends up half-loaded.
    ClearGraph();
    FPending.SetCount(0);
    const bool onLast = ViewFollowsData();
    serLine->BeginUpdate();
    serLine->XValues().ExchangeValues(x);
    serLine->YValues().ExchangeValues(y);
    serLine->EndUpdate();
    FPointCount = serLine->Count();
    UpdateStatus(true);
    ShowNewPoints(onLast);
}

}  // namespace graph
