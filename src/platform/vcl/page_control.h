#pragma once
// A page control: pages (tab sheets) on top of each other, one shown at a
// time, chosen by their tabs. A page holds controls as a panel does.
#include <string>
#include <vector>

#include "platform/vcl/controls.h"

class QTabBar;

namespace vcl {

class TPageControl;

class TTabSheet : public TWinControl {
public:
    explicit TTabSheet(TComponent* owner);
    ~TTabSheet() override;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    TPageControl* PageControl() const { return page_control_; }
    // Puts the page into a page control (as its last page); null takes it out.
    void SetPageControl(TPageControl* control);
    // A page without its tab cannot be chosen; hiding the tab of the page
    // shown shows another page.
    bool TabVisible() const { return tab_visible_; }
    void SetTabVisible(bool visible);
    // Index among the pages of the control (-1 without one).
    int PageIndex() const;

private:
    friend class TPageControl;
    std::string caption_;
    TPageControl* page_control_ = nullptr;
    bool tab_visible_ = true;
};

class TPageControl : public TWinControl {
public:
    explicit TPageControl(TComponent* owner);
    ~TPageControl() override;

    int PageCount() const { return static_cast<int>(pages_.size()); }
    TTabSheet* Pages(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
    TTabSheet* ActivePage() const { return active_; }
    // Shows the page (whose tab must be visible; otherwise nothing changes).
    void SetActivePage(TTabSheet* page);
    // Where pages lie, in the control's client coordinates.
    TRect PageRect() const;

    // After the user chose another tab.
    TNotifyEvent OnChange;

    void SetBounds(int left, int top, int width, int height) override;

protected:
    bool HandleEvent(QEvent* event) override;

private:
    friend class TTabSheet;
    void AddPage(TTabSheet* page);
    void RemovePage(TTabSheet* page);
    void PageChanged(TTabSheet* page);
    // Tabs from the pages, the pages placed, the active one shown.
    void Layout();
    TTabSheet* FirstShownPage() const;

    QTabBar* bar_ = nullptr;
    std::vector<TTabSheet*> pages_;
    TTabSheet* active_ = nullptr;
    bool syncing_ = false;
};

}  // namespace vcl
