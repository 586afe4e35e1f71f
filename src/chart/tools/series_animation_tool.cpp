#include "chart/tools/series_animation_tool.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "chart/drawing/plot_pro_co.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_series.h"
#include "platform/vcl/forms.h"

namespace chart::tools {

using engine::TChartSeries;

TSeriesAnimationTool::TSeriesAnimationTool(vcl::TComponent* AOwner)
    : TPlotCustomToolSeries(AOwner), alive_(std::make_shared<bool>(true)) {}

TSeriesAnimationTool::~TSeriesAnimationTool() { *alive_ = false; }

void TSeriesAnimationTool::Stop() {
    if (stopped_) return;
    stopped_ = true;
    if (OnStop) OnStop(this);
}

void TSeriesAnimationTool::Restore(TChartSeries& ASeries) {
    engine::TChartValueList& v = ASeries.MandatoryValueList();
    const int n = std::min(v.Count(), static_cast<int>(backup_.size()));
    for (int i = 0; i < n; ++i) v.SetValue(i, backup_[static_cast<std::size_t>(i)]);
}

TSeriesAnimationTool::TPassEnd TSeriesAnimationTool::Frame(TChartSeries& ASeries) {
    const std::shared_ptr<bool> alive = alive_;
    // Checked after every message: the tool first (nothing of it may be
    // touched once it is freed), then its series and the program.
    auto gone = [&] {
        return !*alive || Series() != &ASeries || (vcl::Application && vcl::Application->Terminated());
    };
    // A window closed meanwhile ends the animation as Stop does.
    auto closed = [&] {
        engine::TCustomAxisPanel* chart = ASeries.ParentChart();
        if (!chart || (shown_ && !chart->Showing())) Stop();
        return stopped_;
    };
    if (engine::TCustomAxisPanel* chart = ASeries.ParentChart()) chart->Invalidate();
    vcl::TApplication& app = *vcl::EnsureApplication();
    app.ProcessMessages();
    if (gone()) return TPassEnd::Gone;
    if (closed()) return TPassEnd::Stopped;
    if (delay_ > 0) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_);
        while (std::chrono::steady_clock::now() < until) {
            app.ProcessMessages();
            if (gone()) return TPassEnd::Gone;
            if (closed()) return TPassEnd::Stopped;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return stopped_ ? TPassEnd::Stopped : TPassEnd::Done;
}

TSeriesAnimationTool::TPassEnd TSeriesAnimationTool::Pass(TChartSeries& ASeries, bool Backward) {
    engine::TChartValueList& v = ASeries.MandatoryValueList();
    const int steps = std::max(1, steps_);
    const double s = start_at_min_ ? v.MinValue() : start_value_;
    const bool shrink = Backward && loop_ == salCircular;
    auto count = [&] { return std::min(v.Count(), static_cast<int>(backup_.size())); };
    for (int i = 0; i < count(); ++i) v.SetValue(i, s);
    if (TPassEnd end = Frame(ASeries); end != TPassEnd::Done) {
        if (end == TPassEnd::Stopped) Restore(ASeries);
        return end;
    }
    const int n = count();
    const int every = draw_every_ == 0 ? std::max(1, n) : draw_every_;
    for (int first = 0; first < n; first += every) {
        const int last = std::min(n - 1, first + every - 1);
        for (int k = 0; k <= steps; ++k) {
            const double f = (shrink ? steps - k : k) * (1.0 / steps);
            const double offset = shrink ? 0 : s - s * f;
            for (int i = first; i <= last && i < count(); ++i)
                v.SetValue(i, f * backup_[static_cast<std::size_t>(i)] + offset);
            const std::shared_ptr<bool> alive = alive_;
            if (OnStep) OnStep(this, k);
            if (!*alive || Series() != &ASeries) return TPassEnd::Gone;
            if (stopped_) {
                Restore(ASeries);
                return TPassEnd::Stopped;
            }
            if (TPassEnd end = Frame(ASeries); end != TPassEnd::Done) {
                if (end == TPassEnd::Stopped) Restore(ASeries);
                return end;
            }
        }
    }
    Restore(ASeries);
    if (engine::TCustomAxisPanel* chart = ASeries.ParentChart()) chart->Invalidate();
    return TPassEnd::Done;
}

void TSeriesAnimationTool::Execute() {
    TChartSeries* series = Series();
    if (!series || !stopped_) return;
    const std::shared_ptr<bool> alive = alive_;
    const engine::TChartValueList& v = series->MandatoryValueList();
    backup_.assign(v.Values().begin(), v.Values().end());
    shown_ = series->ParentChart() && series->ParentChart()->Showing();
    series->BeginUpdate();
    stopped_ = false;
    TPassEnd end = TPassEnd::Done;
    try {
        if (OnStart) OnStart(this);
        if (*alive && Series() == series && !stopped_) {
            if (loop_ == salNo) {
                end = Pass(*series, false);
            } else {
                bool backward = false;
                while (end == TPassEnd::Done && !stopped_) {
                    end = Pass(*series, backward);
                    backward = !backward;
                }
            }
        } else if (!*alive || Series() != series) {
            end = TPassEnd::Gone;
        }
    } catch (...) {
        if (*alive) {
            if (Series() == series) {
                Restore(*series);
                series->EndUpdate();
            }
            backup_.clear();
            Stop();
        }
        throw;
    }
    // A freed tool has nothing left to finish; a freed series nothing to
    // give back.
    if (!*alive) return;
    if (Series() == series) {
        if (end == TPassEnd::Gone) Restore(*series);
        series->EndUpdate();
    }
    backup_.clear();
    Stop();
}

void TSeriesAnimationTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TSeriesAnimationTool*>(&Source)) {
        delay_ = s->delay_;
        draw_every_ = s->draw_every_;
        loop_ = s->loop_;
        start_at_min_ = s->start_at_min_;
        start_value_ = s->start_value_;
        steps_ = s->steps_;
    }
    TPlotCustomToolSeries::Assign(Source);
}

std::string TSeriesAnimationTool::Description() const { return PlotMsg_SeriesAnimationTool; }
std::string TSeriesAnimationTool::LongDescription() const { return PlotMsg_SeriesAnimationToolDesc; }

}  // namespace chart::tools
