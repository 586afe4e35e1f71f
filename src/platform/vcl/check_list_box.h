#pragma once
// A list box whose lines carry a check box each, and an integer object.
#include <cstdint>
#include <string>

#include "platform/vcl/controls.h"

class QListWidget;

namespace vcl {

class TCheckListBox : public TWinControl {
public:
    explicit TCheckListBox(TComponent* owner);

    int Count() const;
    std::string Strings(int index) const;
    std::intptr_t Objects(int index) const;
    int AddObject(const std::string& text, std::intptr_t object);
    void Delete(int index);
    // Swaps two lines with their texts, objects and checks.
    void Exchange(int index1, int index2);
    void Clear();

    // Setting these raises no event.
    bool Checked(int index) const;
    void SetChecked(int index, bool checked);
    // The selected line (-1: none).
    int ItemIndex() const;
    void SetItemIndex(int index);

    // The user selected a line.
    TNotifyEvent OnClick;
    // The user checked or unchecked the selected line.
    TNotifyEvent OnClickCheck;

private:
    QListWidget* List() const;
    void Check(int index) const;
    bool updating_ = false;
};

}  // namespace vcl
