#include "platform/vcl/spin_edit.h"

#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <limits>

#include "platform/vcl/qt_bridge.h"

namespace vcl {

// The toolkit's spin box checks typed text against the range; here a typed
// number only has to be a whole number of at most MaxLength characters;
// the range bounds only the arrows, so a number on its way to a valid one
// (typing 50 when the minimum is 10) is never refused.
class TSpinEditWidget : public QSpinBox {
public:
    explicit TSpinEditWidget(TSpinEdit* owner) : owner_(owner) {
        setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
        setKeyboardTracking(true);
        setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    }
    QValidator::State validate(QString& input, int&) const override {
        if (owner_->max_length_ > 0 && input.size() > owner_->max_length_) return QValidator::Invalid;
        if (input.isEmpty() || input == "-") return QValidator::Intermediate;
        bool ok = false;
        input.toInt(&ok);
        return ok ? QValidator::Acceptable : QValidator::Invalid;
    }
    // The arrows step inside the range only.
    void stepBy(int steps) override {
        const long long next = static_cast<long long>(owner_->Value()) +
                               static_cast<long long>(steps) * owner_->increment_;
        owner_->SetValue(static_cast<int>(std::clamp<long long>(next, owner_->min_, owner_->max_)));
    }

protected:
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }

private:
    TSpinEdit* owner_;
};

TSpinEdit::TSpinEdit(TComponent* owner) : TWinControl(owner, new TSpinEditWidget(this)) {
    auto* box = static_cast<TSpinEditWidget*>(Widget());
    QObject::connect(box->findChild<QLineEdit*>(), &QLineEdit::textChanged, box,
                     [this](const QString&) { Fire(OnChange, this); });
    SetBounds(0, 0, 121, 22);
    box->setValue(0);
}

int TSpinEdit::Value() const {
    auto* box = static_cast<QSpinBox*>(Widget());
    if (!box) return min_;
    bool ok = false;
    const int v = box->text().toInt(&ok);
    return ok ? v : min_;
}

void TSpinEdit::SetValue(int value) {
    auto* box = static_cast<QSpinBox*>(Widget());
    if (!box) return;
    value = std::clamp(value, min_, max_);
    const QString text = QString::number(value);
    const bool changed = box->text() != text;
    {
        // The box and its field take the value quietly (also a value equal
        // to the box's last one replaces text typed since); OnChange comes
        // last, so that a handler that sets another value in its turn has
        // the last word and the field shows that one.
        QLineEdit* field = box->findChild<QLineEdit*>();
        const QSignalBlocker quiet(field);
        box->setValue(value);
        if (box->text() != text) field->setText(text);
    }
    if (changed) Fire(OnChange, this);
}

void TSpinEdit::SetRange(int min, int max) {
    min_ = min;
    max_ = std::max(min, max);
}

void TSpinEdit::SetIncrement(int increment) { increment_ = std::max(1, increment); }

std::string TSpinEdit::Text() const {
    auto* box = static_cast<QSpinBox*>(Widget());
    return box ? FromQ(box->text()) : std::string();
}

void TSpinEdit::Step(int direction) {
    if (auto* box = static_cast<TSpinEditWidget*>(Widget())) box->stepBy(direction > 0 ? 1 : -1);
}

}  // namespace vcl
