#include "platform/vcl/check_list_box.h"

#include <QListWidget>

#include <algorithm>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/qt_bridge.h"

namespace vcl {

namespace {

// Program changes of the list must not look like the user's.
class TUpdating {
public:
    explicit TUpdating(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~TUpdating() { flag_ = old_; }
    TUpdating(const TUpdating&) = delete;
    TUpdating& operator=(const TUpdating&) = delete;

private:
    bool& flag_;
    bool old_;
};

constexpr int kObjectRole = Qt::UserRole;

}  // namespace

TCheckListBox::TCheckListBox(TComponent* owner) : TWinControl(owner, new QListWidget()) {
    QListWidget* l = List();
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    QObject::connect(l, &QListWidget::currentRowChanged, l, [this](int) {
        if (!updating_) Fire(OnClick, this);
    });
    QObject::connect(l, &QListWidget::itemChanged, l, [this](QListWidgetItem* item) {
        if (updating_) return;
        // A check on another line than the selected one selects it first.
        if (List()->currentItem() != item) {
            List()->setCurrentItem(item);
        }
        Fire(OnClickCheck, this);
    });
    SetBounds(0, 0, 121, 97);
}

QListWidget* TCheckListBox::List() const { return static_cast<QListWidget*>(Widget()); }

void TCheckListBox::Check(int index) const {
    if (index < 0 || index >= Count())
        throw rtl::EListError("List index out of bounds (" + std::to_string(index) + ")");
}

int TCheckListBox::Count() const { return List() ? List()->count() : 0; }

std::string TCheckListBox::Strings(int index) const {
    Check(index);
    return FromQ(List()->item(index)->text());
}

std::intptr_t TCheckListBox::Objects(int index) const {
    Check(index);
    return static_cast<std::intptr_t>(List()->item(index)->data(kObjectRole).toLongLong());
}

int TCheckListBox::AddObject(const std::string& text, std::intptr_t object) {
    if (!List()) return -1;
    TUpdating guard(updating_);
    auto* item = new QListWidgetItem(ToQ(text));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    item->setData(kObjectRole, QVariant::fromValue<qlonglong>(object));
    List()->addItem(item);
    return Count() - 1;
}

void TCheckListBox::Delete(int index) {
    Check(index);
    TUpdating guard(updating_);
    delete List()->takeItem(index);
}

void TCheckListBox::Exchange(int index1, int index2) {
    Check(index1);
    Check(index2);
    if (index1 == index2) return;
    TUpdating guard(updating_);
    QListWidget* l = List();
    const int current = l->currentRow();
    const int lo = std::min(index1, index2), hi = std::max(index1, index2);
    QListWidgetItem* high = l->takeItem(hi);
    QListWidgetItem* low = l->takeItem(lo);
    l->insertItem(lo, high);
    l->insertItem(hi, low);
    l->setCurrentRow(current == lo ? hi : current == hi ? lo : current);
}

void TCheckListBox::Clear() {
    TUpdating guard(updating_);
    if (List()) List()->clear();
}

bool TCheckListBox::Checked(int index) const {
    Check(index);
    return List()->item(index)->checkState() == Qt::Checked;
}

void TCheckListBox::SetChecked(int index, bool checked) {
    Check(index);
    TUpdating guard(updating_);
    List()->item(index)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

int TCheckListBox::ItemIndex() const { return List() ? List()->currentRow() : -1; }

void TCheckListBox::SetItemIndex(int index) {
    if (!List()) return;
    TUpdating guard(updating_);
    if (index < 0 || index >= Count()) {
        List()->setCurrentRow(-1);
        List()->clearSelection();
        return;
    }
    List()->setCurrentRow(index);
}

}  // namespace vcl
