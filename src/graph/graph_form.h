#pragma once
// The graph window: takes the values the main window hands it as points,
// queues them while an update lock is held and adds them to its series in
// one batch. Until the chart engine draws them, the series is a plain list
// of points and the window shows how many there are.
#include <cstdint>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/std_ctrls.h"

namespace graph {

struct TGraphPoint {
    double X = 0;
    double Y = 0;
};

// The plotted points, kept in ascending X order; a point whose X equals
// existing ones goes after them (arrival order is kept).
class TPointSeries {
public:
    int Count() const { return static_cast<int>(points_.size()); }
    const TGraphPoint& Point(int index) const { return points_.at(static_cast<size_t>(index)); }
    void AddXY(double x, double y);
    void Clear() { points_.clear(); }
    void BeginUpdate() { ++updating_; }
    void EndUpdate() {
        if (updating_ > 0) --updating_;
    }
    int UpdateCount() const { return updating_; }
    // How many batches were added (one per EndUpdate that closed a bracket
    // with points in it); lets a viewer tell single points from batches.
    int Batches() const { return batches_; }
    void CountBatch() { ++batches_; }

private:
    std::vector<TGraphPoint> points_;
    int updating_ = 0;
    int batches_ = 0;
};

class TfGraph : public vcl::TForm {
public:
    explicit TfGraph(vcl::TComponent* owner);
    ~TfGraph() override;

    // Queues one point; unless a lock is held it is plotted at once.
    void AddPoint(rtl::TDateTime X, double Y);
    // True: one more lock; False: one lock less, and the last release plots
    // everything queued in one batch.
    void SetUpdateLock(bool Lock);
    // Empties the series; points still queued stay queued.
    void ClearGraph();
    void FlushPending();
    void UpdateStatus(bool CountOnly);

    int PointCount() const { return point_count_; }
    double LastX() const { return last_x_; }
    int UpdateLock() const { return update_lock_; }
    int PendingCount() const { return static_cast<int>(pending_.size()); }
    int Page() const { return page_; }
    const TPointSeries& serLine() const { return series_; }
    std::string StatusText() const;

    vcl::TPanel* pnl1;
    vcl::TCheckBox* cbFollowLastPt;
    vcl::TCheckBox* cbXATime;
    vcl::TCheckBox* cbSigned;
    vcl::TButton* bClear;
    vcl::TPanel* Chart1;
    vcl::TLabel* lblCount;
    vcl::TStatusBar* sb1;

    void bClearClick(vcl::TComponent* Sender);

private:
    TPointSeries series_;
    std::vector<TGraphPoint> pending_;
    int point_count_ = 0;
    double last_x_ = 0;
    int update_lock_ = 0;
    int page_ = 1;
};

// The one graph window of the program (null until it is created).
extern TfGraph* fGraph;

}  // namespace graph
