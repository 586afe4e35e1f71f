#include "platform/vcl/menus.h"

#include <QAction>
#include <QMenu>
#include <QWidget>
#include <algorithm>

#include "platform/vcl/qt_bridge.h"

namespace vcl {

namespace {
QKeySequence ToSequence(const std::string& text) {
    QString q = ToQ(text);
    q.replace("Enter", "Return");
    return QKeySequence::fromString(q, QKeySequence::PortableText);
}
}  // namespace

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {
    action_ = std::make_unique<QAction>();
    QObject::connect(action_.get(), &QAction::triggered, action_.get(), [this](bool) {
        // The check mark follows the handler, not the click.
        action_->setChecked(checked_);
        Click();
    });
}

TMenuItem::~TMenuItem() {
    while (!items_.empty()) items_.back()->Detach();
    Detach();
}

void TMenuItem::Detach() {
    if (!parent_) return;
    auto& v = parent_->items_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
    if (parent_->submenu_) parent_->submenu_->removeAction(action_.get());
    parent_ = nullptr;
}

QMenu* TMenuItem::SubMenu() {
    if (!submenu_) {
        submenu_ = std::make_unique<QMenu>();
        if (parent_) action_->setMenu(submenu_.get());
    }
    return submenu_.get();
}

void TMenuItem::SetCaption(const std::string& caption) {
    caption_ = caption;
    bool separator = caption == "-";
    action_->setSeparator(separator);
    QString q = separator ? QString() : ToQ(caption);
    action_->setText(q);
    if (submenu_) submenu_->setTitle(q);
}

void TMenuItem::SetChecked(bool checked) {
    checked_ = checked;
    action_->setCheckable(checked_ || radio_);
    action_->setChecked(checked_);
    if (checked && radio_ && parent_) {
        for (TMenuItem* sib : parent_->items_)
            if (sib != this && sib->radio_ && sib->group_ == group_ && sib->checked_)
                sib->SetChecked(false);
    }
}

void TMenuItem::SetRadioItem(bool radio) {
    radio_ = radio;
    action_->setCheckable(checked_ || radio_);
}

void TMenuItem::SetEnabled(bool enabled) {
    enabled_ = enabled;
    action_->setEnabled(enabled);
}

void TMenuItem::SetVisible(bool visible) {
    visible_ = visible;
    action_->setVisible(visible);
}

void TMenuItem::SetShortCut(const std::string& text) {
    shortcut_ = text;
    action_->setShortcut(ToSequence(text));
    action_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    if (TMenu* m = GetParentMenu()) m->RefreshShortcuts();
}

void TMenuItem::Add(TMenuItem* item) { Insert(Count(), item); }

void TMenuItem::Insert(int index, TMenuItem* item) {
    item->Detach();
    index = std::clamp(index, 0, Count());
    QAction* before = index < Count() ? items_[static_cast<size_t>(index)]->Action() : nullptr;
    items_.insert(items_.begin() + index, item);
    item->parent_ = this;
    SubMenu()->insertAction(before, item->Action());
    if (item->submenu_) item->action_->setMenu(item->submenu_.get());
    if (TMenu* m = GetParentMenu()) m->RefreshShortcuts();
}

void TMenuItem::Remove(TMenuItem* item) {
    if (item && item->parent_ == this) item->Detach();
}

int TMenuItem::MenuIndex() const {
    if (!parent_) return -1;
    auto it = std::find(parent_->items_.begin(), parent_->items_.end(), this);
    return static_cast<int>(it - parent_->items_.begin());
}

TMenu* TMenuItem::GetParentMenu() const {
    const TMenuItem* root = this;
    while (root->parent_) root = root->parent_;
    return root->menu_;
}

void TMenuItem::Click() {
    if (!enabled_) return;
    Fire(OnClick, this);
}

// ---------------------------------------------------------------------------

TMenu::TMenu(TComponent* owner) : TComponent(owner) {
    items_ = new TMenuItem(this);
    items_->menu_ = this;
    items_->SubMenu();
}

TMenu::~TMenu() = default;

namespace {
void CollectActions(TMenuItem* item, std::vector<QAction*>& out) {
    for (int i = 0; i < item->Count(); ++i) {
        TMenuItem* sub = item->Items(i);
        if (!sub->ShortCut().empty()) out.push_back(sub->Action());
        CollectActions(sub, out);
    }
}
}  // namespace

void TMenu::AttachTo(QWidget* w) {
    if (std::find(attached_.begin(), attached_.end(), w) == attached_.end()) {
        attached_.push_back(w);
        QObject::connect(w, &QObject::destroyed, items_->Action(), [this, w] {
            attached_.erase(std::remove(attached_.begin(), attached_.end(), w), attached_.end());
        });
    }
    RefreshShortcuts();
}

void TMenu::DetachFrom(QWidget* w) {
    attached_.erase(std::remove(attached_.begin(), attached_.end(), w), attached_.end());
    std::vector<QAction*> actions;
    CollectActions(items_, actions);
    for (QAction* a : actions) w->removeAction(a);
}

void TMenu::RefreshShortcuts() {
    std::vector<QAction*> actions;
    CollectActions(items_, actions);
    for (QWidget* w : attached_)
        for (QAction* a : actions)
            if (!w->actions().contains(a)) w->addAction(a);
}

TPopupMenu::TPopupMenu(TComponent* owner) : TMenu(owner) {}

void TPopupMenu::Popup(int x, int y) {
    Fire(OnPopup, this);
    Items()->SubMenu()->popup(QPoint(x, y));
}

TMenuItem* NewItem(TComponent* owner, TMenuItem* parent, const std::string& name,
                   const std::string& caption, TNotifyEvent on_click,
                   const std::string& shortcut, std::intptr_t tag) {
    auto* item = new TMenuItem(owner);
    item->Name = name;
    item->Tag = tag;
    item->SetCaption(caption);
    item->OnClick = std::move(on_click);
    if (parent) parent->Add(item);
    if (!shortcut.empty()) item->SetShortCut(shortcut);
    return item;
}

}  // namespace vcl
