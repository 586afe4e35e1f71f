#include "platform/vcl/page_control.h"

#include <QEvent>
#include <QFrame>
#include <QTabBar>
#include <QWidget>

#include <algorithm>

#include "platform/vcl/qt_bridge.h"

namespace vcl {

namespace {
// The frame around the pages, in pixels.
constexpr int kFrame = 2;
}  // namespace

// ---------------------------------------------------------------- TTabSheet

TTabSheet::TTabSheet(TComponent* owner) : TWinControl(owner, new QWidget()) {}

TTabSheet::~TTabSheet() {
    if (page_control_) page_control_->RemovePage(this);
}

void TTabSheet::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (page_control_) page_control_->PageChanged(this);
}

void TTabSheet::SetPageControl(TPageControl* control) {
    if (control == page_control_) return;
    if (page_control_) page_control_->RemovePage(this);
    if (control) control->AddPage(this);
}

void TTabSheet::SetTabVisible(bool visible) {
    if (visible == tab_visible_) return;
    tab_visible_ = visible;
    if (page_control_) page_control_->PageChanged(this);
}

int TTabSheet::PageIndex() const {
    if (!page_control_) return -1;
    const auto& p = page_control_->pages_;
    return static_cast<int>(std::find(p.begin(), p.end(), this) - p.begin());
}

// ---------------------------------------------------------------- TPageControl

TPageControl::TPageControl(TComponent* owner) : TWinControl(owner, new QFrame()) {
    auto* frame = static_cast<QFrame*>(Widget());
    frame->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    bar_ = new QTabBar(frame);
    bar_->setDrawBase(false);
    bar_->setExpanding(false);
    QObject::connect(bar_, &QTabBar::currentChanged, frame, [this](int) {
        if (syncing_) return;
        const QVariant data = bar_->tabData(bar_->currentIndex());
        auto* page = reinterpret_cast<TTabSheet*>(data.value<quintptr>());
        if (!page || page == active_) return;
        SetActivePage(page);
        Fire(OnChange, this);
    });
    SetBounds(0, 0, 289, 193);
}

TPageControl::~TPageControl() {
    for (TTabSheet* p : pages_) p->page_control_ = nullptr;
    pages_.clear();
}

void TPageControl::AddPage(TTabSheet* page) {
    page->page_control_ = this;
    pages_.push_back(page);
    page->SetParent(this);
    if (!active_ && page->tab_visible_) active_ = page;
    Layout();
}

void TPageControl::RemovePage(TTabSheet* page) {
    pages_.erase(std::remove(pages_.begin(), pages_.end(), page), pages_.end());
    page->page_control_ = nullptr;
    if (active_ == page) active_ = FirstShownPage();
    Layout();
}

void TPageControl::PageChanged(TTabSheet* page) {
    if (page == active_ && !page->tab_visible_) active_ = FirstShownPage();
    if (!active_ && page->tab_visible_) active_ = page;
    Layout();
}

TTabSheet* TPageControl::FirstShownPage() const {
    for (TTabSheet* p : pages_)
        if (p->tab_visible_) return p;
    return nullptr;
}

void TPageControl::SetActivePage(TTabSheet* page) {
    if (page && (page->page_control_ != this || !page->tab_visible_)) return;
    active_ = page;
    Layout();
}

TRect TPageControl::PageRect() const {
    const int top = bar_ ? bar_->sizeHint().height() : 0;
    return {kFrame, top + kFrame, std::max(kFrame, Width() - kFrame), std::max(top + kFrame, Height() - kFrame)};
}

void TPageControl::SetBounds(int left, int top, int width, int height) {
    TWinControl::SetBounds(left, top, width, height);
    Layout();
}

bool TPageControl::HandleEvent(QEvent* event) {
    const bool eaten = TWinControl::HandleEvent(event);
    if (event->type() == QEvent::Resize) Layout();
    return eaten;
}

void TPageControl::Layout() {
    if (!bar_) return;
    syncing_ = true;
    while (bar_->count() > 0) bar_->removeTab(0);
    int current = -1;
    for (TTabSheet* p : pages_) {
        if (!p->tab_visible_) continue;
        const int i = bar_->addTab(ToQShown(p->caption_));
        bar_->setTabData(i, QVariant::fromValue(reinterpret_cast<quintptr>(p)));
        if (p == active_) current = i;
    }
    bar_->setCurrentIndex(current);
    const int barHeight = bar_->sizeHint().height();
    bar_->setGeometry(0, 0, std::max(0, Width()), barHeight);
    syncing_ = false;
    // The frame starts below the tabs.
    static_cast<QFrame*>(Widget())->setFrameRect(QRect(0, barHeight, std::max(0, Width()), std::max(0, Height() - barHeight)));
    const TRect r = PageRect();
    for (TTabSheet* p : pages_) {
        p->SetBounds(r.Left, r.Top, r.Width(), r.Height());
        p->SetVisible(p == active_);
    }
}

}  // namespace vcl
