#pragma once
// Menus: items with captions, check marks (radio groups by GroupIndex),
// shortcuts such as "Ctrl+F" or "F5", and pop-up menus attached to controls.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/vcl/controls.h"

class QAction;
class QMenu;
class QWidget;

namespace vcl {

class TMenu;

class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* owner);
    ~TMenuItem() override;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);  // "-" makes a separator
    bool Checked() const { return checked_; }
    // Checking a radio item unchecks the radio items of its group.
    void SetChecked(bool checked);
    bool RadioItem() const { return radio_; }
    void SetRadioItem(bool radio);
    int GroupIndex() const { return group_; }
    void SetGroupIndex(int group) { group_ = group; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    const std::string& ShortCut() const { return shortcut_; }
    void SetShortCut(const std::string& text);  // "Ctrl+F", "F5", "Alt+1", "Del", "Enter"
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint) { hint_ = hint; }

    // Sub-items.
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Items(int index) const { return items_.at(static_cast<size_t>(index)); }
    void Add(TMenuItem* item);
    void Insert(int index, TMenuItem* item);
    void Remove(TMenuItem* item);
    TMenuItem* Parent() const { return parent_; }
    int MenuIndex() const;
    TMenu* GetParentMenu() const;

    // Raises OnClick as choosing the entry does (nothing while disabled).
    void Click();

    TNotifyEvent OnClick;

    QAction* Action() const { return action_.get(); }
    QMenu* SubMenu();

private:
    friend class TMenu;
    void Detach();
    std::string caption_;
    std::string shortcut_;
    std::string hint_;
    bool checked_ = false;
    bool radio_ = false;
    bool enabled_ = true;
    bool visible_ = true;
    int group_ = 0;
    TMenuItem* parent_ = nullptr;
    TMenu* menu_ = nullptr;  // set on the root item
    std::vector<TMenuItem*> items_;
    std::unique_ptr<QAction> action_;
    std::unique_ptr<QMenu> submenu_;
};

class TMenu : public TComponent {
public:
    TMenuItem* Items() const { return items_; }
    // Makes the shortcuts of every entry work while the focus is inside w.
    void AttachTo(QWidget* w);
    void DetachFrom(QWidget* w);
    void RefreshShortcuts();

protected:
    explicit TMenu(TComponent* owner);
    ~TMenu() override;

private:
    TMenuItem* items_;
    std::vector<QWidget*> attached_;
};

class TPopupMenu : public TMenu {
public:
    explicit TPopupMenu(TComponent* owner);
    // Shows the menu at the screen point (raises OnPopup first); returns at once.
    void Popup(int x, int y);
    TComponent* PopupComponent() const { return popup_component_; }
    void SetPopupComponent(TComponent* c) { popup_component_ = c; }

    TNotifyEvent OnPopup;

private:
    TComponent* popup_component_ = nullptr;
};

class TMainMenu : public TMenu {
public:
    explicit TMainMenu(TComponent* owner) : TMenu(owner) {}
};

// Creates a menu item owned by owner with the given caption, shortcut and
// click handler, and adds it to parent.
TMenuItem* NewItem(TComponent* owner, TMenuItem* parent, const std::string& name,
                   const std::string& caption, TNotifyEvent on_click = {},
                   const std::string& shortcut = {}, std::intptr_t tag = 0);

}  // namespace vcl
