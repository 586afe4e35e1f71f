#include "platform/vcl/scroll_bar.h"

#include <QScrollBar>

namespace vcl {

namespace {
QScrollBar* Bar(QWidget* w) { return static_cast<QScrollBar*>(w); }
}  // namespace

TScrollBar::TScrollBar(TComponent* owner, TScrollBarKind kind)
    : TWinControl(owner, new QScrollBar(kind == TScrollBarKind::sbHorizontal ? Qt::Horizontal : Qt::Vertical)) {
    QScrollBar* b = Bar(Widget());
    b->setRange(0, 100);
    b->setPageStep(1);
    b->setFocusPolicy(Qt::StrongFocus);
    // The toolkit's bars step backwards on the Right key; a user expects
    // Right to move the thumb right.
    b->setInvertedControls(false);
    QObject::connect(b, &QScrollBar::valueChanged, b, [this](int) { Fire(OnChange, this); });
    if (kind == TScrollBarKind::sbHorizontal)
        SetBounds(0, 0, 121, 17);
    else
        SetBounds(0, 0, 17, 121);
}

int TScrollBar::Position() const { return Widget() ? Bar(Widget())->value() : 0; }

void TScrollBar::SetPosition(int position) {
    if (Widget()) Bar(Widget())->setValue(position);
}

int TScrollBar::Min() const { return Widget() ? Bar(Widget())->minimum() : 0; }
int TScrollBar::Max() const { return Widget() ? Bar(Widget())->maximum() : 0; }

void TScrollBar::SetRange(int min, int max) {
    if (Widget()) Bar(Widget())->setRange(min, max < min ? min : max);
}

int TScrollBar::LargeChange() const { return Widget() ? Bar(Widget())->pageStep() : 1; }

void TScrollBar::SetLargeChange(int change) {
    if (Widget()) Bar(Widget())->setPageStep(change < 1 ? 1 : change);
}

}  // namespace vcl
