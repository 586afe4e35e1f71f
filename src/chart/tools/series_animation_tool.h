#pragma once
// Grows a series' points from a start value to their real values, group by
// group, repainting the chart at every step. The loop hands the program's
// messages on between frames, so the user (or a handler) may stop it, close
// the window or free the series or the tool meanwhile: the animation then
// ends without touching what is gone.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/engine/plot_tool.h"

namespace chart::tools {

enum TSeriesAnimationLoop : std::uint8_t { salNo, salOneWay, salCircular };
using TSeriesAnimationStep = std::function<void(vcl::TComponent* Sender, int Step)>;

class TSeriesAnimationTool : public engine::TPlotCustomToolSeries {
  public:
    explicit TSeriesAnimationTool(vcl::TComponent* AOwner);
    ~TSeriesAnimationTool() override;

    // Milliseconds to wait after each frame (below 0 counts as 0).
    int Delay() const { return delay_; }
    void SetDelay(int Value) { delay_ = std::max(0, Value); }
    // Points per group; 0 animates them all together.
    int DrawEvery() const { return draw_every_; }
    void SetDrawEvery(int Value) { draw_every_ = std::max(0, Value); }
    TSeriesAnimationLoop Loop() const { return loop_; }
    void SetLoop(TSeriesAnimationLoop Value) { loop_ = Value; }
    bool StartAtMin() const { return start_at_min_; }
    void SetStartAtMin(bool Value) { start_at_min_ = Value; }
    double StartValue() const { return start_value_; }
    void SetStartValue(double Value) { start_value_ = Value; }
    // Frames per group after the first; 0 counts as 1.
    int Steps() const { return steps_; }
    void SetSteps(int Value) { steps_ = std::max(0, Value); }
    vcl::TNotifyEvent OnStart;
    TSeriesAnimationStep OnStep;
    vcl::TNotifyEvent OnStop;

    bool Running() const { return !stopped_; }
    // Runs the animation; nothing without a series or while one runs.
    virtual void Execute();
    // Ends a running animation after its current frame.
    void Stop();

    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TSeriesAnimToolEditor"; }

  private:
    enum class TPassEnd { Done, Stopped, Gone };
    TPassEnd Pass(engine::TChartSeries& ASeries, bool Backward);
    // Repaints and waits Delay ms handing messages on; Gone when the tool,
    // its series or the program went meanwhile.
    TPassEnd Frame(engine::TChartSeries& ASeries);
    void Restore(engine::TChartSeries& ASeries);

    int delay_ = 0;
    int draw_every_ = 0;
    TSeriesAnimationLoop loop_ = salNo;
    bool start_at_min_ = true;
    double start_value_ = 0;
    int steps_ = 100;
    bool stopped_ = true;
    // The chart showed when the animation began.
    bool shown_ = false;
    std::vector<double> backup_;
    // Cleared when the tool is freed, for a loop still running on the stack.
    std::shared_ptr<bool> alive_;
};

}  // namespace chart::tools
