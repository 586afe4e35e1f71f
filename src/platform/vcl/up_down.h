#pragma once
// An up-down control: two arrow buttons that step a position inside a
// range. Attached to an edit, it sits at the edit's right end (the edit
// gives up that room), shows its position as the edit's text and reads its
// position back from what is typed there; the Up and Down keys in the edit
// step it too.
#include <memory>

#include "platform/vcl/controls.h"

class QObject;

namespace vcl {

class TEdit;

class TUpDown : public TWinControl {
public:
    explicit TUpDown(TComponent* owner);
    ~TUpDown() override;

    // The position: with an edit attached, the number typed there (clamped
    // to the range); text that is not a whole number leaves the last
    // position.
    int Position() const;
    // Clamped to the range; writes the edit's text (raising its OnChange).
    void SetPosition(int position);
    int Min() const { return min_; }
    int Max() const { return max_; }
    // A Max below Min is taken as Min..Min.
    void SetRange(int min, int max);
    int Increment() const { return increment_; }
    void SetIncrement(int increment) { increment_ = increment < 1 ? 1 : increment; }

    TEdit* Associate() const { return associate_; }
    // Moves the control into the edit's right end and shows the position
    // there; null detaches it.
    void SetAssociate(TEdit* edit);
    // One step up (positive) or down, as a click on an arrow does.
    void Step(int direction);

    TNotifyEvent OnChanging;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    // The number in the edit, when it holds one.
    bool ParseEdit(int& value) const;
    void ShowPosition();

    int min_ = 0;
    int max_ = 100;
    int increment_ = 1;
    mutable int position_ = 0;
    TEdit* associate_ = nullptr;
    std::unique_ptr<QObject> keys_;
};

}  // namespace vcl
