#pragma once
// Builds the controls that edit an object's properties, one per property,
// each bound to its property by name through the class's published
// property table: check boxes, colour buttons, drop-down lists of an
// enumeration's values, numbers with up-down arrows and scroll bars. The
// filters ask for their editors through it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/drawing/plot_filters.h"
#include "platform/vcl/controls.h"

namespace vcl {
struct TPropInfo;
}

namespace chart::tools {

// What a control edits: the property's name, the range a typed number is
// held to, and a handler of the asker's own run after each change.
struct TFormItem {
    std::string PropName;
    std::function<void()> OnChange;
    int Min = 0;
    int Max = 0;
};

// One item per control made; clearing frees them.
class TFormItems {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    TFormItem& Items(int Index) const { return *items_.at(static_cast<std::size_t>(Index)); }
    TFormItem& Add(std::string PropName);
    void Clear() { items_.clear(); }

  private:
    std::vector<std::unique_ptr<TFormItem>> items_;
};

// The caption of an enumeration's value name: the lower-case prefix goes
// and words are set apart ("dlHorizParallel" gives "Horiz Parallel",
// "gmEye2" gives "Eye2"); a name that would leave nothing stays whole.
std::string EnumCaption(const std::string& Name);

class TFormCreator : public vcl::TComponent, public chart::IFormCreator {
  public:
    // Fills AOwner with controls.
    explicit TFormCreator(vcl::TWinControl* AOwner);

    vcl::TWinControl* Parent() const { return parent_; }
    // After any bound property changed, with Instance.
    std::function<void(vcl::TPersistent* Sender)> OnChange;
    // While set, the controls write nothing (they are being filled).
    bool Locked = false;
    // Top of the next control.
    int NextTop = 0;
    // The object whose properties are edited (not owned: set it to null
    // before the object goes).
    vcl::TPersistent* Instance = nullptr;
    TFormItems& Items() { return items_; }

    // A check box of the Boolean property (width 75, 2 pixels below it
    // before the next control); OnClick runs after each write.
    void AddCheckBox(const std::string& PropName, const std::string& Caption,
                     std::function<void()> OnClick = {}) override;
    // A colour button bound to the property; the button writes it.
    void AddColor(const std::string& PropName, const std::string& Caption) override;
    // A drop-down list of the enumeration's values as captions.
    void AddCombo(const std::string& PropName) override;
    // A label, an edit and up-down arrows. What is typed is written only
    // when it is a whole number, held to Min..Max; leaving the edit shows
    // the value the property took.
    void AddInteger(const std::string& PropName, const std::string& Caption, int Min, int Max) override;
    // A horizontal scroll bar over Min..Max, as wide as the parent allows.
    std::weak_ptr<chart::TFormScrollBar> AddScroll(const std::string& PropName, int Min, int Max) override;

    // Writes the control's value to its property (unless Locked), then the
    // item's own handler and OnChange.
    void ControlChange(vcl::TControl* Sender);

  private:
    const vcl::TPropInfo& Prop(const std::string& PropName) const;
    std::int64_t ReadValue(const std::string& PropName) const;
    void WriteValue(const std::string& PropName, std::int64_t Value);
    // Places a new control at (4, NextTop) with its item and handler.
    template <class T>
    T* Place(TFormItem& Item, int Width, int Height);

    vcl::TWinControl* parent_;
    TFormItems items_;
};

}  // namespace chart::tools
