#pragma once
// The graph window: takes the values the main window (and plug-ins) hand
// it as points (time stamp, value), queues them while an update lock is
// held and adds them to its line in one batch, shows them page by page or
// all at once against time or sample number, reads out the point under the
// mouse, marks and deletes ranges of points and saves and loads them as
// text.
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "chart/engine/chart_xy.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/le_list.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/menus.h"
#include "platform/vcl/spin_edit.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/timer.h"

namespace chart::engine {
class TChart;
class TChartSeries;
class TFastLineSeries;
}  // namespace chart::engine
namespace chart::tools {
class TCursorTool;
class TColorBandTool;
}  // namespace chart::tools

namespace graph {

// One queued point as the queue keeps it: 16 bytes, X then Y, as the line
// takes a batch of them.
using TGraphPoint = chart::engine::TChartXY;
static_assert(sizeof(TGraphPoint) == 16);

class TfGraph : public vcl::TForm {
public:
    explicit TfGraph(vcl::TComponent* owner);
    ~TfGraph() override;

    // ---- What the main window and the plug-in host call
    // Queues one point (unless the graph is full, or a value is not a
    // number); unless a lock is held it is plotted at once. Running out of
    // memory makes the graph full and raises nothing.
    void AddPoint(rtl::TDateTime X, double Y);
    // True: one more lock; False: one lock less, and the last release plots
    // everything queued in one batch.
    void SetUpdateLock(bool Lock);
    // Empties the line, unmarks and goes to page 1; points still queued
    // stay queued.
    void ClearGraph();
    // Moves the queue into the line in one batch and repaints once. Points
    // that come before the line's last ones are merged into it; when that
    // would move a long part of the line for a few of them, they wait (at
    // most a few frames) to be merged with those that come after them, so
    // that a stream of late chunks costs one pass over the line per merge,
    // not one per chunk.
    void FlushPending();
    void UpdateStatus(bool CountOnly);

    // ---- Read-out, marked range, point files
    void ShowCursorValue(double X, double Y);
    // AStart..AEnd become the marked points (-1: unset); the end being set
    // moves the start along and the other way round, so that the range is
    // never reversed.
    void SetMarkedRange(int AStart, int AEnd, bool IsStart);
    // Every plotted point, one "X;Y" line each. Raises on failure, leaving
    // the file that was there as it was.
    void SavePoints(const std::string& FileName);
    // Asked with the file's name before SavePoints writes anything; raising
    // refuses the save (the main window refuses its output file).
    std::function<void(const std::string& FileName)> OnSavePoints;
    // Reads the whole file first: a bad line raises "Ошибка в строке %d";
    // that, a file of more than MaxPoints points, or memory running out
    // leave graph, queue and count as they were. Else the points replace
    // the graph and the queue is emptied.
    void LoadPoints(const std::string& FileName);

    // ---- State, for the window's users and tests
    int PointCount() const { return FPointCount; }
    double LastX() const { return FLastX; }
    int UpdateLock() const { return FUpdateLock; }
    int PendingCount() const { return FPending.Count(); }
    // Late points flushed but not yet merged into the line.
    int LateCount() const { return static_cast<int>(FLate.size()); }
    int MarkStart() const { return FMarkStart; }
    int MarkEnd() const { return FMarkEnd; }
    chart::tools::TColorBandTool* Band() const { return FBand; }
    // The most points the graph holds, plotted and queued together: a
    // quarter of memory's worth, at most the lists' limit; a test may lower
    // it.
    int MaxPoints;

    // ---- Components
    vcl::TPanel* pnl1;
    vcl::TLabel* LPtPerPage;
    vcl::TSpinEdit* sePtPerPage;
    vcl::TCheckBox* cbInfinite;
    vcl::TLabel* LPage;
    vcl::TSpinEdit* sePage;
    vcl::TCheckBox* cbFollowLastPt;
    vcl::TCheckBox* cbXATime;
    vcl::TCheckBox* cbAllowVertZoom;
    vcl::TCheckBox* cbSigned;
    vcl::TBitBtn* bActionsMenu;
    vcl::TBitBtn* bClear;
    chart::engine::TChart* Chart1;
    chart::engine::TFastLineSeries* serLine;
    chart::tools::TCursorTool* Cursor1;
    vcl::TStatusBar* sb1;
    vcl::TPopupMenu* pm1;
    vcl::TMenuItem* mLoadFile;
    vcl::TMenuItem* N1;
    vcl::TMenuItem* mSaveAs;
    vcl::TPopupMenu* pmGraph;
    vcl::TMenuItem* mMarkStart;
    vcl::TMenuItem* mMarkEnd;
    vcl::TMenuItem* N2;
    vcl::TMenuItem* mDelRange;
    vcl::TMenuItem* N3;
    vcl::TMenuItem* N4;
    vcl::TSaveDialog* sd1;
    vcl::TOpenDialog* od1;

    // ---- Handlers
    void FormCreate();
    void sePtPerPageChange(vcl::TComponent* Sender);
    void sePageChange(vcl::TComponent* Sender);
    void cbFollowLastPtClick(vcl::TComponent* Sender);
    void cbInfiniteClick(vcl::TComponent* Sender);
    void cbXATimeClick(vcl::TComponent* Sender);
    void bClearClick(vcl::TComponent* Sender);
    void cbAllowVertZoomClick(vcl::TComponent* Sender);
    void bActionsMenuClick(vcl::TComponent* Sender);
    void Cursor1Change(chart::tools::TCursorTool* Sender, int X, int Y, double XValue, double YValue,
                       chart::engine::TChartSeries* Series, int ValueIndex);
    void N4Click(vcl::TComponent* Sender);
    void mMarkStartClick(vcl::TComponent* Sender);
    void mMarkEndClick(vcl::TComponent* Sender);
    void mDelRangeClick(vcl::TComponent* Sender);
    void mSaveAsClick(vcl::TComponent* Sender);
    void mLoadFileClick(vcl::TComponent* Sender);

private:
    void CreateComponents();
    // The graph takes no more points; tells the user once, without a box
    // that waits.
    void GraphFull();
    // The tool bar's right-hand buttons stay at its right edge.
    void PlaceButtons();
    // The sample number of a new point: the next whole number above every
    // X plotted or queued (1 for an empty graph).
    double NextSampleNumber() const;
    // Adds Points to the line in one batch and moves the marks over the
    // points that went in before them. Taken says how many were gone
    // through, also when a failure passes on. Memory running out is no
    // failure: the rest are dropped and uncounted, the graph is full, and
    // the answer is false.
    bool AddToLine(std::span<const TGraphPoint> Points, int& Taken);
    // The marks follow their points over new points at Places (ascending).
    void PointsInsertedAt(std::span<const int> Places);
    // Merges the late points that wait into the line now (the marks, the
    // page and the picture follow); nothing when none wait.
    void MergeLate();
    // The line part of it, inside an update bracket: false when memory ran
    // out (the rest were dropped). Points not gone through when a failure
    // passes on still wait.
    bool MergeLateIntoLine();
    // The shortest time between two merges that are not cheap.
    std::chrono::steady_clock::duration MergeInterval() const;
    // Whether the late points are to be merged now: the part of the line
    // they land in (from the earliest, MinX, on) is short beside them, or
    // the last merge was long enough ago.
    bool MergeIsDue(double MinX, std::size_t Late) const;
    // Late points and the line's count together with the queue's.
    long long HeldPoints() const;
    // The view follows the data: "Автоскрол" is on and the page shown is
    // the last one (counted before new points arrive).
    bool ViewFollowsData() const;
    // After points entered the line: the last page when the view follows,
    // the axis adjusted, a repaint.
    void ShowNewPoints(bool OnLast);
    // The page of the last point at MaxPointsPerPage (1 when not paged).
    int LastPage() const;
    // Repaints the chart, at most once a frame and so that painting takes
    // at most a fifth of the time: a flush sooner leaves it to the timer.
    void RepaintChart();
    // The shortest time between two repaints of the feed.
    std::chrono::steady_clock::duration RepaintInterval() const;

    int FPointCount = 0;
    double FLastX = 0;
    int FUpdateLock = 0;
    rtl::TLEList FPending;
    // The highest X queued since the last flush.
    double FPendingMaxX = 0;
    // Flushed points that come before the line's last ones, in the order
    // they came, waiting to be merged into the line together; and the
    // smallest X among them.
    std::vector<TGraphPoint> FLate;
    double FLateMinX = 0;
    vcl::TTimer* FMergeTimer = nullptr;
    std::chrono::steady_clock::time_point FLastMerge{};
    std::chrono::steady_clock::duration FMergeTime{};
    // Set while a flush shows its points (the page box moves with them).
    bool FShowingPoints = false;
    chart::tools::TColorBandTool* FBand = nullptr;
    int FMarkStart = -1;
    int FMarkEnd = -1;
    // Full: no point is taken until the graph is cleared or a range is
    // deleted (the limit was reached, or memory ran out).
    bool FFull = false;
    // The notice that the graph is full was shown (since the last clear).
    bool FFullNoticeShown = false;
    vcl::TTimer* FRepaintTimer = nullptr;
    std::chrono::steady_clock::time_point FLastRepaint{};
    // When the chart's last paint began, and how long it took.
    std::chrono::steady_clock::time_point FPaintStart{};
    std::chrono::steady_clock::duration FPaintTime{};
};

// The one graph window of the program (null until it is created).
extern TfGraph* fGraph;

}  // namespace graph
