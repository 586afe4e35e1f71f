#pragma once
// A spin edit: a number field with two arrow buttons that step its value by
// Increment inside MinValue..MaxValue (the Up and Down keys step it too).
// What is typed counts as it is typed: Value reads the number in the field,
// which the range does not clamp (it clamps only what the buttons and
// SetValue give), and OnChange fires on every change of the text.
#include <string>

#include "platform/vcl/controls.h"

namespace vcl {

class TSpinEdit : public TWinControl {
public:
    explicit TSpinEdit(TComponent* owner);

    // The number in the field; MinValue when it holds none.
    int Value() const;
    // Clamped to the range; OnChange fires when the text changes, once the
    // box shows the value, so that a handler may set another one.
    void SetValue(int value);
    int MinValue() const { return min_; }
    int MaxValue() const { return max_; }
    void SetRange(int min, int max);
    int Increment() const { return increment_; }
    void SetIncrement(int increment);
    // Typing stops at this many characters (0: no limit); set values are
    // shown whole.
    int MaxLength() const { return max_length_; }
    void SetMaxLength(int length) { max_length_ = length < 0 ? 0 : length; }
    std::string Text() const;
    // One step up (positive) or down, as an arrow button does.
    void Step(int direction);

    TNotifyEvent OnChange;

private:
    friend class TSpinEditWidget;
    int min_ = 0;
    int max_ = 100;
    int increment_ = 1;
    int max_length_ = 0;
};

}  // namespace vcl
