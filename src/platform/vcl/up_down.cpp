#include "platform/vcl/up_down.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <string>

#include "platform/rtl/numbers.h"
#include "platform/vcl/std_ctrls.h"

namespace vcl {

namespace {

QToolButton* Arrow(QWidget* parent, Qt::ArrowType type) {
    auto* b = new QToolButton(parent);
    b->setArrowType(type);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    b->setMinimumSize(1, 1);
    return b;
}

}  // namespace

// The Up and Down keys in the attached edit step the position.
class TUpDownKeys : public QObject {
public:
    explicit TUpDownKeys(TUpDown* owner) : owner_(owner) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key != Qt::Key_Up && key != Qt::Key_Down) return false;
        Guarded([&] { owner_->Step(key == Qt::Key_Up ? 1 : -1); });
        return true;
    }

private:
    TUpDown* owner_;
};

TUpDown::TUpDown(TComponent* owner) : TWinControl(owner, new QWidget()) {
    QWidget* w = Widget();
    auto* layout = new QVBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QToolButton* up = Arrow(w, Qt::UpArrow);
    QToolButton* down = Arrow(w, Qt::DownArrow);
    layout->addWidget(up);
    layout->addWidget(down);
    QObject::connect(up, &QToolButton::clicked, w, [this] { Step(1); });
    QObject::connect(down, &QToolButton::clicked, w, [this] { Step(-1); });
    keys_ = std::make_unique<TUpDownKeys>(this);
    SetBounds(0, 0, 17, 21);
}

TUpDown::~TUpDown() {
    if (associate_ && associate_->Widget()) associate_->Widget()->removeEventFilter(keys_.get());
}

bool TUpDown::ParseEdit(int& value) const {
    std::int64_t v = 0;
    if (!associate_ || !rtl::TryStrToInt64(associate_->Text(), v)) return false;
    value = static_cast<int>(std::clamp<std::int64_t>(v, min_, max_));
    return true;
}

int TUpDown::Position() const {
    int v = 0;
    if (ParseEdit(v)) position_ = v;
    return position_;
}

void TUpDown::SetPosition(int position) {
    position_ = std::clamp(position, min_, max_);
    ShowPosition();
}

void TUpDown::ShowPosition() {
    if (associate_) associate_->SetText(std::to_string(position_));
}

void TUpDown::SetRange(int min, int max) {
    min_ = min;
    max_ = max < min ? min : max;
    position_ = std::clamp(position_, min_, max_);
}

void TUpDown::Step(int direction) {
    const long long next = static_cast<long long>(Position()) + static_cast<long long>(direction) * increment_;
    const int clamped = static_cast<int>(std::clamp<long long>(next, min_, max_));
    Fire(OnChanging, this);
    SetPosition(clamped);
}

void TUpDown::SetAssociate(TEdit* edit) {
    if (associate_) {
        if (associate_->Widget()) associate_->Widget()->removeEventFilter(keys_.get());
        RemoveFreeNotification(associate_);
    }
    associate_ = edit;
    if (!edit) return;
    FreeNotification(edit);
    if (edit->Widget()) edit->Widget()->installEventFilter(keys_.get());
    if (Parent() != edit->Parent()) SetParent(edit->Parent());
    const int w = Width();
    edit->SetWidth(std::max(0, edit->Width() - w));
    SetBounds(edit->Left() + edit->Width(), edit->Top(), w, edit->Height());
    ShowPosition();
}

void TUpDown::Notification(TComponent* component, TOperation operation) {
    TWinControl::Notification(component, operation);
    if (operation == TOperation::opRemove && component == associate_) associate_ = nullptr;
}

}  // namespace vcl
