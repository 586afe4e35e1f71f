#pragma once
// Holds off a chart's own repaints while a tool changes settings that would
// each ask for one, and gives the chart its flag back however the work
// ends: at the end of a scope, or when a tool that held it over several
// mouse events lets it go (also when the tool is switched off or freed).
#include "chart/engine/plot_panel.h"

namespace chart::tools {

class TRepaintHold {
  public:
    TRepaintHold() = default;
    explicit TRepaintHold(engine::TCustomPlotPanel& Panel) { Hold(Panel); }
    ~TRepaintHold() { Release(); }
    TRepaintHold(const TRepaintHold&) = delete;
    TRepaintHold& operator=(const TRepaintHold&) = delete;

    // Remembers the panel's flag and clears it (once; holding again keeps
    // the flag first remembered).
    void Hold(engine::TCustomPlotPanel& Panel) {
        if (panel_) return;
        panel_ = &Panel;
        saved_ = Panel.AutoRepaint;
        Panel.AutoRepaint = false;
    }
    // Gives the flag back; whether one was held.
    bool Release() {
        if (!panel_) return false;
        panel_->AutoRepaint = saved_;
        panel_ = nullptr;
        return true;
    }
    // The panel is going: nothing to give back.
    void Forget() { panel_ = nullptr; }
    bool Held() const { return panel_ != nullptr; }
    engine::TCustomPlotPanel* Panel() const { return panel_; }

  private:
    engine::TCustomPlotPanel* panel_ = nullptr;
    bool saved_ = true;
};

}  // namespace chart::tools
