#pragma once
// Shows the chart alone in a borderless window over the whole monitor it is
// on; the release key (Escape unless changed) or closing that window gives
// the chart back to its place with its former bounds and alignment.
#include <cstdint>
#include <string>

#include "chart/engine/plot_tool.h"

namespace vcl {
class TForm;
class TWinControl;
}  // namespace vcl

namespace chart::tools {

class TFullScreenTool : public engine::TPlotCustomTool {
  public:
    explicit TFullScreenTool(vcl::TComponent* AOwner);
    ~TFullScreenTool() override;

    // The key that ends full screen.
    std::uint16_t ReleaseKey() const { return release_key_; }
    void SetReleaseKey(std::uint16_t Value) { release_key_ = Value; }
    // The window while the chart is in it.
    vcl::TForm* Window() const { return window_; }

    // On: the chart goes full screen; off: it comes back.
    void SetActive(bool Value) override;
    void SetParentChart(engine::TCustomAxisPanel* Value) override;
    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;

  protected:
    void Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) override;

  private:
    void GoFullScreen();
    // Later: the window is freed once the event that ended it is handled.
    void GoBack(bool Later);

    std::uint16_t release_key_ = 27;
    vcl::TForm* window_ = nullptr;
    vcl::TWinControl* old_parent_ = nullptr;
    vcl::TAlign old_align_ = vcl::TAlign::alNone;
    TRect old_bounds_;
    bool closing_ = false;
};

}  // namespace chart::tools
