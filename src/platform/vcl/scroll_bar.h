#pragma once
// A scroll bar control: a position in a range that the user moves with the
// arrows, the page area, the thumb or the keys.
#include "platform/vcl/controls.h"

namespace vcl {

enum class TScrollBarKind { sbHorizontal, sbVertical };

class TScrollBar : public TWinControl {
public:
    explicit TScrollBar(TComponent* owner, TScrollBarKind kind = TScrollBarKind::sbHorizontal);

    int Position() const;
    // Clamped to the range; raises OnChange when the position changes.
    void SetPosition(int position);
    int Min() const;
    int Max() const;
    // A range whose Max is below Min is taken as Min..Min; the position is
    // brought inside it (raising OnChange when it moves).
    void SetRange(int min, int max);
    int LargeChange() const;
    void SetLargeChange(int change);

    TNotifyEvent OnChange;
};

}  // namespace vcl
