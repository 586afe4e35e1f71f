#include "chart/tools/form_creator.h"

#include <algorithm>
#include <cmath>

#include "chart/tools/editor_controls.h"
#include "platform/rtl/cp1251.h"
#include "platform/rtl/numbers.h"
#include "platform/vcl/properties.h"
#include "platform/vcl/scroll_bar.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/up_down.h"

namespace chart::tools {

namespace {

// Left edge of every control, and of the edits of numbers.
constexpr int kLeft = 4;
constexpr int kEditLeft = 44;

// A scroll bar that a filter may give a new range later: the filter holds
// it weakly, and it goes with the control.
class TFormScroll : public vcl::TScrollBar {
  public:
    explicit TFormScroll(vcl::TComponent* AOwner)
        : vcl::TScrollBar(AOwner), handle_(std::make_shared<THandle>(this)) {}
    std::weak_ptr<chart::TFormScrollBar> Handle() const { return handle_; }

  private:
    struct THandle : chart::TFormScrollBar {
        explicit THandle(vcl::TScrollBar* b) : bar(b) {}
        void SetRange(int Min, int Max) override { bar->SetRange(Min, Max); }
        vcl::TScrollBar* bar;
    };
    std::shared_ptr<THandle> handle_;
};

}  // namespace

TFormItem& TFormItems::Add(std::string PropName) {
    items_.push_back(std::make_unique<TFormItem>());
    items_.back()->PropName = std::move(PropName);
    return *items_.back();
}

std::string EnumCaption(const std::string& Name) {
    auto unchanged = [](char c) { return rtl::AnsiUpperChar(c) == c; };
    std::size_t start = 0;
    while (start < Name.size() && !unchanged(Name[start])) ++start;
    const std::string s = Name.substr(start);
    if (s.empty()) return Name;
    std::string out(1, s[0]);
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        if (unchanged(s[i])) out += ' ';
        out += s[i];
    }
    if (s.size() > 1) out += s.back();
    return out;
}

TFormCreator::TFormCreator(vcl::TWinControl* AOwner) : vcl::TComponent(AOwner), parent_(AOwner) {}

const vcl::TPropInfo& TFormCreator::Prop(const std::string& PropName) const {
    if (!Instance) throw vcl::EPropertyError("No object to edit: " + PropName);
    const vcl::TPropInfo* p = vcl::GetPropInfo(*Instance, PropName);
    if (!p) throw vcl::EPropertyError("Unknown property: " + PropName + " of " + Instance->ClassName());
    return *p;
}

std::int64_t TFormCreator::ReadValue(const std::string& PropName) const {
    const vcl::TPropInfo& p = Prop(PropName);
    if (p.Kind == vcl::TTypeKind::tkFloat) {
        const double v = vcl::GetFloatProp(*Instance, p);
        return std::isfinite(v) ? static_cast<std::int64_t>(std::clamp(std::round(v), -2147483648.0, 2147483647.0)) : 0;
    }
    return vcl::GetOrdProp(*Instance, p);
}

void TFormCreator::WriteValue(const std::string& PropName, std::int64_t Value) {
    const vcl::TPropInfo& p = Prop(PropName);
    if (p.Kind == vcl::TTypeKind::tkFloat)
        vcl::SetFloatProp(*Instance, p, static_cast<double>(Value));
    else
        vcl::SetOrdProp(*Instance, p, Value);
}

template <class T>
T* TFormCreator::Place(TFormItem& Item, int Width, int Height) {
    auto* control = new T(parent_);
    control->SetParent(parent_);
    control->SetBounds(kLeft, NextTop, Width, Height);
    control->Tag = reinterpret_cast<std::intptr_t>(&Item);
    return control;
}

void TFormCreator::AddCheckBox(const std::string& PropName, const std::string& Caption,
                               std::function<void()> OnClick) {
    TFormItem& item = items_.Add(PropName);
    item.OnChange = std::move(OnClick);
    auto* box = Place<vcl::TCheckBox>(item, 75, 16);
    box->SetCaption(Caption);
    box->SetChecked(ReadValue(PropName) != 0);
    box->OnClick = [this](vcl::TComponent* s) { ControlChange(static_cast<vcl::TControl*>(s)); };
    NextTop += box->Height() + 2;
}

void TFormCreator::AddColor(const std::string& PropName, const std::string& Caption) {
    TFormItem& item = items_.Add(PropName);
    auto* button = Place<TButtonColor>(item, 75, 25);
    button->SetCaption(Caption);
    button->LinkProperty(Instance, PropName);
    button->OnClick = [this](vcl::TComponent* s) { ControlChange(static_cast<vcl::TControl*>(s)); };
    NextTop += button->Height() + 6;
}

void TFormCreator::AddCombo(const std::string& PropName) {
    const vcl::TPropInfo& p = Prop(PropName);
    if (!p.EnumType) throw vcl::EPropertyError("Not an enumeration: " + PropName);
    TFormItem& item = items_.Add(PropName);
    auto* combo = Place<TComboFlat>(item, parent_->ClientWidth() - 8, 21);
    for (const std::string& name : p.EnumType->Names) combo->Items().Add(EnumCaption(name));
    combo->SetItemIndex(static_cast<int>(vcl::GetOrdProp(*Instance, p)));
    combo->OnChange = [this](vcl::TComponent* s) { ControlChange(static_cast<vcl::TControl*>(s)); };
    NextTop += combo->Height() + 6;
}

void TFormCreator::AddInteger(const std::string& PropName, const std::string& Caption, int Min, int Max) {
    TFormItem& item = items_.Add(PropName);
    item.Min = Min;
    item.Max = std::max(Min, Max);
    const int top = NextTop;
    auto* label = new vcl::TLabel(parent_);
    label->SetParent(parent_);
    label->SetBounds(kLeft, top + 4, 0, 0);
    std::string text = Caption.empty() ? PropName : Caption;
    if (text.find('&') == std::string::npos) text = std::string(1, '&').append(text);
    label->SetCaption(text);
    // A caption wider than the room before the edit moves the edit right
    // (its right end stays), so that both can be read.
    const int left = std::max(kEditLeft, label->Left() + label->Width() + 4);
    auto* edit = new vcl::TEdit(parent_);
    edit->SetParent(parent_);
    edit->SetBounds(left, top, parent_->ClientWidth() - 68 - (left - kEditLeft), 16);
    edit->Tag = reinterpret_cast<std::intptr_t>(&item);
    label->SetFocusControl(edit);
    auto* arrows = new vcl::TUpDown(parent_);
    arrows->SetParent(parent_);
    arrows->SetRange(item.Min, item.Max);
    arrows->SetAssociate(edit);
    arrows->SetPosition(static_cast<int>(std::clamp<std::int64_t>(ReadValue(PropName), item.Min, item.Max)));
    edit->OnChange = [this](vcl::TComponent* s) { ControlChange(static_cast<vcl::TControl*>(s)); };
    // Leaving the edit shows what the property holds, once typing is over.
    edit->OnExit = [this, edit, PropName](vcl::TComponent*) {
        if (!Instance) return;
        const bool locked = Locked;
        Locked = true;
        edit->SetText(std::to_string(ReadValue(PropName)));
        Locked = locked;
    };
    NextTop = top + edit->Height() + 6;
}

std::weak_ptr<chart::TFormScrollBar> TFormCreator::AddScroll(const std::string& PropName, int Min, int Max) {
    TFormItem& item = items_.Add(PropName);
    auto* bar = Place<TFormScroll>(item, parent_->ClientWidth() - 8, 16);
    bar->SetRange(Min, Max);
    // A bar has no caption: its hint names what it sets.
    bar->SetHint(PropName);
    bar->SetShowHint(true);
    bar->SetPosition(static_cast<int>(std::clamp<std::int64_t>(ReadValue(PropName), INT32_MIN, INT32_MAX)));
    bar->OnChange = [this](vcl::TComponent* s) { ControlChange(static_cast<vcl::TControl*>(s)); };
    NextTop += bar->Height() + 6;
    return bar->Handle();
}

void TFormCreator::ControlChange(vcl::TControl* Sender) {
    if (Locked || !Instance || !Sender || Sender->Tag == 0) return;
    const TFormItem& item = *reinterpret_cast<const TFormItem*>(Sender->Tag);
    if (auto* box = dynamic_cast<vcl::TCheckBox*>(Sender)) {
        WriteValue(item.PropName, box->Checked() ? 1 : 0);
    } else if (auto* bar = dynamic_cast<vcl::TScrollBar*>(Sender)) {
        WriteValue(item.PropName, bar->Position());
    } else if (auto* combo = dynamic_cast<vcl::TComboBox*>(Sender)) {
        WriteValue(item.PropName, combo->ItemIndex());
    } else if (auto* edit = dynamic_cast<vcl::TEdit*>(Sender)) {
        // Half-typed or wrong text writes nothing.
        std::int64_t value = 0;
        if (!rtl::TryStrToInt64(edit->Text(), value)) return;
        WriteValue(item.PropName, std::clamp<std::int64_t>(value, item.Min, item.Max));
    }
    // A colour button has written its colour itself.
    if (item.OnChange) item.OnChange();
    if (OnChange) OnChange(Instance);
}

}  // namespace chart::tools
