#include "platform/vcl/list_box.h"

#include <QAbstractScrollArea>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>

#include "platform/vcl/keys.h"
#include "platform/vcl/menus.h"
#include "platform/vcl/qt_bridge.h"

namespace vcl {

// A scroll bar that repaints only when it would look different: a list
// that grows by many lines a second changes the range all the time, while
// its handle, long since at its shortest and at the bottom, stays put. The
// look is compared once the change is complete (a new count moves the
// handle off the bottom for a moment, until the list follows its end).
class TListScrollBar : public QScrollBar {
public:
    TListScrollBar() : QScrollBar(Qt::Vertical) {}

protected:
    void sliderChange(SliderChange) override {
        if (checkQueued_) return;
        checkQueued_ = true;
        QMetaObject::invokeMethod(this, [this] {
            checkQueued_ = false;
            if (Look() != painted_) update();
        }, Qt::QueuedConnection);
    }
    void paintEvent(QPaintEvent* e) override {
        painted_ = Look();
        QScrollBar::paintEvent(e);
    }

private:
    struct TLook {
        QRect Handle;
        bool AtMinimum, AtMaximum, Empty;
        bool operator==(const TLook&) const = default;
    };
    TLook Look() const {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum(), minimum() == maximum()};
    }
    TLook painted_{{}, false, false, false};
    bool checkQueued_ = false;
};

class TListBoxWidget : public QAbstractScrollArea {
public:
    explicit TListBoxWidget(TCustomListBox* owner) : owner_(owner) {
        setVerticalScrollBar(new TListScrollBar);  // the area takes it over
        setFocusPolicy(Qt::StrongFocus);
        // Opaque, so that repainting the list never repaints what lies
        // under it (a group box's frame is costly to draw).
        setAutoFillBackground(true);
        viewport()->setMouseTracking(true);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QObject::connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
                         [this](int) { viewport()->update(); });
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(viewport());
        owner_->Paint(&p);
    }
    void resizeEvent(QResizeEvent* e) override {
        QAbstractScrollArea::resizeEvent(e);
        owner_->UpdateScroll();
    }
    void mousePressEvent(QMouseEvent* e) override {
        setFocus(Qt::MouseFocusReason);
        QPoint p = e->position().toPoint();
        TShiftState s = ShiftFromModifiers(e->modifiers(), e->buttons());
        if (e->button() == Qt::LeftButton) {
            int i = owner_->ItemAtPos({p.x(), p.y()}, true);
            if (i >= 0) owner_->UserSelect(i, s);
        }
        TMouseButton b = e->button() == Qt::RightButton ? TMouseButton::mbRight : TMouseButton::mbLeft;
        Fire(owner_->OnMouseDown, owner_, b, s, p.x(), p.y());
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        QPoint p = e->position().toPoint();
        TMouseButton b = e->button() == Qt::RightButton ? TMouseButton::mbRight : TMouseButton::mbLeft;
        Fire(owner_->OnMouseUp, owner_, b, ShiftFromModifiers(e->modifiers(), e->buttons()), p.x(),
             p.y());
    }
    void mouseDoubleClickEvent(QMouseEvent*) override { Fire(owner_->OnDblClick, owner_); }
    void mouseMoveEvent(QMouseEvent* e) override {
        QPoint p = e->position().toPoint();
        Fire(owner_->OnMouseMove, owner_, ShiftFromModifiers(e->modifiers(), e->buttons()), p.x(),
             p.y());
    }
    void wheelEvent(QWheelEvent* e) override {
        int steps = e->angleDelta().y() / 120 * 3;
        owner_->SetTopIndex(owner_->TopIndex() - steps);
    }
    void contextMenuEvent(QContextMenuEvent* e) override {
        if (TPopupMenu* m = owner_->PopupMenu()) {
            m->SetPopupComponent(owner_);
            m->Popup(e->globalPos().x(), e->globalPos().y());
        }
    }
    void keyPressEvent(QKeyEvent* e) override {
        int i = owner_->ItemIndex();
        int page = owner_->VisibleRows();
        switch (e->key()) {
            case Qt::Key_Up: i = std::max(0, i - 1); break;
            case Qt::Key_Down: i = std::min(owner_->Count() - 1, i + 1); break;
            case Qt::Key_PageUp: i = std::max(0, i - page); break;
            case Qt::Key_PageDown: i = std::min(owner_->Count() - 1, i + page); break;
            case Qt::Key_Home: i = 0; break;
            case Qt::Key_End: i = owner_->Count() - 1; break;
            default: QAbstractScrollArea::keyPressEvent(e); return;
        }
        if (i >= 0 && owner_->Count() > 0)
            owner_->UserSelect(i, ShiftFromModifiers(e->modifiers()) & ssShift);
    }

private:
    TCustomListBox* owner_;
};

TCustomListBox::TCustomListBox(TComponent* owner)
    : TWinControl(owner, new TListBoxWidget(this)) {
    SetColor(clWindow);
    SetBounds(0, 0, 121, 97);
}

TCustomListBox::~TCustomListBox() = default;

TListBoxWidget* TCustomListBox::List() const { return static_cast<TListBoxWidget*>(Widget()); }

void TCustomListBox::SetCount(int count) {
    count_ = std::max(0, count);
    if (item_index_ >= count_) item_index_ = -1;
    if (anchor_ >= count_) anchor_ = -1;
    ResizeSelection();
    UpdateScroll();
    Repaint();
}

void TCustomListBox::Clear() {
    item_index_ = -1;
    anchor_ = -1;
    selected_.clear();
    selected_count_ = 0;
    SetCount(0);
}

void TCustomListBox::ResizeSelection() {
    const auto size = static_cast<size_t>(count_);
    for (size_t i = size; i < selected_.size() && selected_count_ > 0; ++i) selected_count_ -= selected_[i];
    selected_.resize(size, false);
}

void TCustomListBox::Select(int index, bool on) {
    auto bit = selected_[static_cast<size_t>(index)];
    if (bit == on) return;
    bit = on;
    on ? ++selected_count_ : --selected_count_;
}

// A list that follows its end selects its last item again and again: with a
// single item selected, only that one is cleared, not the whole list.
void TCustomListBox::ClearSelection() {
    if (selected_count_ == 1 && item_index_ >= 0 && item_index_ < count_ && Selected(item_index_))
        Select(item_index_, false);
    if (selected_count_ == 0) return;
    std::fill(selected_.begin(), selected_.end(), false);
    selected_count_ = 0;
}

void TCustomListBox::SetItemHeight(int height) {
    item_height_ = std::max(1, height);
    UpdateScroll();
    Repaint();
}

int TCustomListBox::TopIndex() const {
    return List() ? List()->verticalScrollBar()->value() : 0;
}

void TCustomListBox::SetTopIndex(int index) {
    if (!List()) return;
    List()->verticalScrollBar()->setValue(std::clamp(index, 0, std::max(0, count_ - 1)));
}

int TCustomListBox::VisibleRows() const {
    return std::max(1, ClientAreaHeight() / item_height_);
}

int TCustomListBox::ClientAreaWidth() const { return List() ? List()->viewport()->width() : 0; }
int TCustomListBox::ClientAreaHeight() const { return List() ? List()->viewport()->height() : 0; }

int TCustomListBox::ScrollBarWidth() const {
    return List() ? List()->style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 16;
}

void TCustomListBox::SetBorder(bool on) {
    if (List()) List()->setFrameShape(on ? QFrame::StyledPanel : QFrame::NoFrame);
}

void TCustomListBox::SetUpdatesEnabled(bool on) {
    if (List()) List()->viewport()->setUpdatesEnabled(on);
}

void TCustomListBox::UpdateScroll() {
    if (!List()) return;
    QScrollBar* sb = List()->verticalScrollBar();
    int rows = VisibleRows();
    sb->setRange(0, std::max(0, count_ - rows));
    sb->setPageStep(rows);
    sb->setSingleStep(1);
}

void TCustomListBox::SetItemIndex(int index) {
    if (index < -1 || index >= count_) index = -1;
    ClearSelection();
    item_index_ = index;
    if (index >= 0) {
        Select(index, true);
        anchor_ = index;
        int top = TopIndex();
        int rows = VisibleRows();
        if (index < top) SetTopIndex(index);
        else if (index >= top + rows) SetTopIndex(index - rows + 1);
    }
    Repaint();
}

void TCustomListBox::SetMultiSelect(bool on) { multi_select_ = on; }

bool TCustomListBox::Selected(int index) const {
    return index >= 0 && index < count_ && selected_[static_cast<size_t>(index)];
}

void TCustomListBox::SetSelected(int index, bool selected) {
    if (index < 0 || index >= count_) return;
    if (!multi_select_ && selected) {
        SetItemIndex(index);
        return;
    }
    Select(index, selected);
    RepaintItem(index);
}

int TCustomListBox::SelCount() const { return static_cast<int>(selected_count_); }

void TCustomListBox::UserSelect(int index, TShiftState shift) {
    if (multi_select_ && (shift & ssCtrl)) {
        Select(index, !Selected(index));
        item_index_ = index;
        anchor_ = index;
        Repaint();
    } else if (multi_select_ && (shift & ssShift) && anchor_ >= 0) {
        int a = std::min(anchor_, index), b = std::max(anchor_, index);
        ClearSelection();
        for (int i = a; i <= b; ++i) Select(i, true);
        item_index_ = index;
        Repaint();
    } else {
        SetItemIndex(index);
    }
    Fire(OnClick, this);
}

int TCustomListBox::ItemAtPos(const TPoint& pos, bool existing) const {
    if (pos.Y < 0 || pos.X < 0 || pos.X >= ClientAreaWidth()) return existing ? -1 : 0;
    int i = TopIndex() + pos.Y / item_height_;
    if (i >= count_) return existing ? -1 : count_;
    return i;
}

TRect TCustomListBox::ItemRect(int index) const {
    int y = (index - TopIndex()) * item_height_;
    return {0, y, ClientAreaWidth(), y + item_height_};
}

void TCustomListBox::RepaintItem(int index) {
    if (!List()) return;
    TRect r = ItemRect(index);
    List()->viewport()->update(QRect(r.Left, r.Top, r.Width(), r.Height()));
}

void TCustomListBox::Paint(QPainter* painter) {
    int top = TopIndex();
    int rows = ClientAreaHeight() / item_height_ + 1;
    // The items paint their own rows; the list's colour shows below them.
    const int below = std::clamp(count_ - top, 0, rows) * item_height_;
    if (below < ClientAreaHeight())
        painter->fillRect(QRect(0, below, ClientAreaWidth(), ClientAreaHeight() - below), ToQColor(Color()));
    canvas_.Attach(painter);
    for (int i = top; i < count_ && i < top + rows; ++i) {
        TRect r = ItemRect(i);
        TOwnerDrawState st = 0;
        if (selected_[static_cast<size_t>(i)]) st |= odSelected;
        if (i == item_index_ && List()->hasFocus()) st |= odFocused;
        canvas_.Font.Assign(Font());
        canvas_.Brush.SetStyle(TBrushStyle::bsSolid);
        canvas_.Brush.SetColor((st & odSelected) ? clHighlight : Color());
        if (st & odSelected) canvas_.Font.SetColor(clHighlightText);
        if (OnDrawItem)
            Fire(OnDrawItem, this, i, r, st);
        else
            canvas_.FillRect(r);
    }
    canvas_.Attach(nullptr);
}

}  // namespace vcl
