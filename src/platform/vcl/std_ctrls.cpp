#include "platform/vcl/std_ctrls.h"

#include "platform/vcl/bitmap.h"

#include <algorithm>
#include <limits>

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QStyledItemDelegate>
#include <QStylePainter>
#include <QHBoxLayout>
#include <QToolButton>
#include <cstring>
#include <QPixmap>
#include <QImage>
#include <QIcon>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/clipboard.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/qt_bridge.h"

namespace vcl {

// ---------------------------------------------------------------- TPanel

TPanel::TPanel(TComponent* owner) : TWinControl(owner, new QFrame()) {
    auto* f = static_cast<QFrame*>(Widget());
    f->setFrameStyle(QFrame::Panel | QFrame::Raised);
    SetBounds(0, 0, 185, 41);
}

void TPanel::SetBevelOuter(TBevelCut bevel) {
    auto* f = static_cast<QFrame*>(Widget());
    if (!f) return;
    switch (bevel) {
        case TBevelCut::bvNone: f->setFrameStyle(QFrame::NoFrame); break;
        case TBevelCut::bvLowered: f->setFrameStyle(QFrame::Panel | QFrame::Sunken); break;
        case TBevelCut::bvRaised: f->setFrameStyle(QFrame::Panel | QFrame::Raised); break;
    }
    Realign();
}

void TPanel::SetCaption(const std::string& caption) { caption_ = caption; }

// ---------------------------------------------------------------- TGroupBox

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner, new QGroupBox()) {
    SetBounds(0, 0, 185, 105);
}

void TGroupBox::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (auto* g = static_cast<QGroupBox*>(Widget())) g->setTitle(ToQShown(caption));
}

// ---------------------------------------------------------------- TLabel

TLabel::TLabel(TComponent* owner) : TControl(owner, new QLabel()) {
    static_cast<QLabel*>(Widget())->setTextFormat(Qt::PlainText);
    SetBounds(0, 0, 32, 13);
}

void TLabel::SetCaption(const std::string& caption) {
    caption_ = caption;
    // A carriage return breaks the line: captions from plug-ins and stored
    // settings use "\r" or "\r\n" for a line break.
    QString q = ToQShown(caption);
    q.replace("\r\n", "\n");
    q.replace('\r', '\n');
    if (auto* l = static_cast<QLabel*>(Widget())) l->setText(q);
    Fit();
}

void TLabel::SetAutoSize(bool on) {
    auto_size_ = on;
    Fit();
}

void TLabel::SetAlignment(TAlignment alignment) {
    const Qt::Alignment across = alignment == TAlignment::taRightJustify ? Qt::AlignRight
                                 : alignment == TAlignment::taCenter     ? Qt::AlignHCenter
                                                                         : Qt::AlignLeft;
    if (auto* l = static_cast<QLabel*>(Widget())) l->setAlignment(across | Qt::AlignTop);
}

void TLabel::SetFocusControl(TWinControl* control) {
    if (focus_control_) RemoveFreeNotification(focus_control_);
    focus_control_ = control;
    if (control) FreeNotification(control);
    if (auto* l = static_cast<QLabel*>(Widget())) l->setBuddy(control ? control->Widget() : nullptr);
    Fit();
}

void TLabel::Notification(TComponent* component, TOperation operation) {
    TControl::Notification(component, operation);
    if (operation == TOperation::opRemove && component == focus_control_) focus_control_ = nullptr;
}

void TLabel::SetTransparent(bool on) {
    if (Widget()) Widget()->setAutoFillBackground(!on);
}

bool TLabel::HandleEvent(QEvent* event) {
    bool eaten = TControl::HandleEvent(event);
    if (event->type() == QEvent::MouseButtonRelease && Widget()) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton && Widget()->rect().contains(me->position().toPoint()))
            Click();
    }
    return eaten;
}

void TLabel::Fit() {
    if (!auto_size_ || !Widget()) return;
    QSize s = Widget()->sizeHint();
    SetBounds(Left(), Top(), s.width(), s.height());
}

// ---------------------------------------------------------------- TButton

TButton::TButton(TComponent* owner) : TWinControl(owner, new QPushButton()) {
    QObject::connect(static_cast<QPushButton*>(Widget()), &QPushButton::clicked, Widget(),
                     [this] { Click(); });
    SetBounds(0, 0, 75, 25);
}

void TButton::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (auto* b = static_cast<QPushButton*>(Widget())) b->setText(ToQShown(caption));
}

void TButton::SetDefault(bool on) {
    default_ = on;
    if (auto* b = static_cast<QPushButton*>(Widget())) b->setDefault(on);
}

void TButton::Click() {
    if (modal_result_ != 0 && !EventsMuted()) {
        TWinControl* c = Parent();
        while (c && !dynamic_cast<TForm*>(c)) c = c->Parent();
        if (auto* form = dynamic_cast<TForm*>(c)) form->SetModalResult(modal_result_);
    }
    Fire(OnClick, this);
}

// ---------------------------------------------------------------- TSpeedButton

TSpeedButton::TSpeedButton(TComponent* owner) : TControl(owner, new QToolButton()) {
    auto* b = static_cast<QToolButton*>(Widget());
    b->setAutoRaise(true);
    QObject::connect(b, &QToolButton::clicked, b, [this] { Click(); });
    SetBounds(0, 0, 23, 22);
}

void TSpeedButton::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (auto* b = static_cast<QToolButton*>(Widget())) b->setText(ToQShown(caption));
}

namespace {
// The glyph as an icon: the colour of its bottom-left pixel becomes clear.
// A glyph without pixels gives an empty icon.
QIcon GlyphIcon(const TBitmap& glyph) {
    const int w = glyph.Width(), h = glyph.Height();
    if (w <= 0 || h <= 0) return QIcon();
    QImage image(w, h, QImage::Format_ARGB32);
    const gdi::COLORREF clear = glyph.Handle()->GetPixel(0, h - 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const gdi::COLORREF c = glyph.Handle()->GetPixel(x, y);
            image.setPixel(x, y, c == clear ? 0u : qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
        }
    return QIcon(QPixmap::fromImage(image));
}
}  // namespace

void TSpeedButton::SetGlyph(const TBitmap& glyph) {
    auto* b = static_cast<QToolButton*>(Widget());
    if (!b) return;
    b->setIcon(GlyphIcon(glyph));
    if (glyph.Width() <= 0 || glyph.Height() <= 0) {
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        return;
    }
    b->setIconSize(QSize(glyph.Width(), glyph.Height()));
    b->setToolButtonStyle(caption_.empty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
}

void TBitBtn::SetGlyph(const TBitmap& glyph) {
    auto* b = static_cast<QPushButton*>(Widget());
    if (!b) return;
    b->setIcon(GlyphIcon(glyph));
    if (glyph.Width() > 0 && glyph.Height() > 0) b->setIconSize(QSize(glyph.Width(), glyph.Height()));
}

void TSpeedButton::SetDown(bool down) {
    down_ = down;
    if (auto* b = static_cast<QToolButton*>(Widget())) {
        b->setCheckable(group_ != 0 || down);
        b->setChecked(down);
    }
    if (down && group_ != 0 && Parent()) {
        for (int i = 0; i < Parent()->ControlCount(); ++i) {
            auto* other = dynamic_cast<TSpeedButton*>(Parent()->Controls(i));
            if (other && other != this && other->group_ == group_ && other->down_)
                other->SetDown(false);
        }
    }
}

void TSpeedButton::SetFlat(bool flat) {
    if (auto* b = static_cast<QToolButton*>(Widget())) b->setAutoRaise(flat);
}

void TSpeedButton::Click() {
    if (group_ != 0) {
        if (!down_)
            SetDown(true);
        else if (allow_all_up_)
            SetDown(false);
        else
            SetDown(true);
    } else if (auto* b = static_cast<QToolButton*>(Widget())) {
        b->setChecked(false);
    }
    Fire(OnClick, this);
}

// ---------------------------------------------------------------- TCheckBox

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner, new QCheckBox()) {
    auto* c = static_cast<QCheckBox*>(Widget());
    QObject::connect(c, &QCheckBox::stateChanged, c, [this](int) { Fire(OnClick, this); });
    SetBounds(0, 0, 97, 17);
}

void TCheckBox::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (auto* c = static_cast<QCheckBox*>(Widget())) c->setText(ToQShown(caption));
}

bool TCheckBox::Checked() const {
    auto* c = static_cast<QCheckBox*>(Widget());
    return c && c->checkState() == Qt::Checked;
}

void TCheckBox::SetChecked(bool checked) {
    SetState(checked ? TCheckBoxState::cbChecked : TCheckBoxState::cbUnchecked);
}

TCheckBoxState TCheckBox::State() const {
    auto* c = static_cast<QCheckBox*>(Widget());
    if (!c) return TCheckBoxState::cbUnchecked;
    switch (c->checkState()) {
        case Qt::Checked: return TCheckBoxState::cbChecked;
        case Qt::PartiallyChecked: return TCheckBoxState::cbGrayed;
        default: return TCheckBoxState::cbUnchecked;
    }
}

void TCheckBox::SetState(TCheckBoxState state) {
    auto* c = static_cast<QCheckBox*>(Widget());
    if (!c) return;
    if (state == TCheckBoxState::cbGrayed) c->setTristate(true);
    c->setCheckState(state == TCheckBoxState::cbChecked   ? Qt::Checked
                     : state == TCheckBoxState::cbGrayed ? Qt::PartiallyChecked
                                                         : Qt::Unchecked);
}

// ---------------------------------------------------------------- TComboBox

class TComboWidget : public QComboBox {
public:
    explicit TComboWidget(TComboBox* owner) : owner_(owner) {}
    void showPopup() override {
        Fire(owner_->OnDropDown, owner_);
        QComboBox::showPopup();
    }
    void hidePopup() override {
        QComboBox::hidePopup();
        Fire(owner_->OnCloseUp, owner_);
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        if (owner_->style_ != TComboBoxStyle::csOwnerDrawFixed || !owner_->OnDrawItem) {
            QComboBox::paintEvent(e);
            return;
        }
        QStylePainter p(this);
        QStyleOptionComboBox opt;
        initStyleOption(&opt);
        opt.currentText.clear();
        opt.currentIcon = QIcon();
        p.drawComplexControl(QStyle::CC_ComboBox, opt);
        QRect r = style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                          QStyle::SC_ComboBoxEditField, this);
        TOwnerDrawState st = odComboBoxEdit;
        if (hasFocus()) st |= odSelected | odFocused;
        owner_->DrawItem(&p, currentIndex(),
                         {r.left(), r.top(), r.right() + 1, r.bottom() + 1}, st);
    }

private:
    TComboBox* owner_;
};

class TComboDelegate : public QStyledItemDelegate {
public:
    TComboDelegate(TComboBox* owner, QObject* parent) : QStyledItemDelegate(parent), owner_(owner) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (owner_->style_ != TComboBoxStyle::csOwnerDrawFixed || !owner_->OnDrawItem) {
            QStyledItemDelegate::paint(p, option, index);
            return;
        }
        QRect r = option.rect;
        TOwnerDrawState st = 0;
        if (option.state & QStyle::State_Selected) st |= odSelected;
        owner_->DrawItem(p, index.row(), {r.left(), r.top(), r.right() + 1, r.bottom() + 1}, st);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        if (owner_->item_height_ > 0) s.setHeight(owner_->item_height_);
        return s;
    }

private:
    TComboBox* owner_;
};


// The edit field claims the standard editing keys (Ctrl+C, Ctrl+V, ...) for
// itself. An enabled entry of the combo's own menu with the same shortcut
// comes first: a control's menu sees its keys before the control does, so a
// menu's "Paste" can clean what is pasted.
class TComboEditShortcuts : public QObject {
public:
    TComboEditShortcuts(QComboBox* combo, QObject* parent) : QObject(parent), combo_(combo) {}
    bool eventFilter(QObject*, QEvent* e) override {
        // Unanswered, the question travels on to the parents; none of them
        // claims a menu's key.
        if (e->type() != QEvent::ShortcutOverride) return false;
        const QKeySequence keys(static_cast<QKeyEvent*>(e)->keyCombination());
        for (const QAction* a : combo_->actions())
            if (a->isEnabled() && a->shortcut() == keys) return true;  // left to the menu
        return false;
    }

private:
    QComboBox* combo_;
};

TComboBox::TComboBox(TComponent* owner) : TWinControl(owner, new TComboWidget(this)) {
    QComboBox* c = Combo();
    c->setItemDelegate(new TComboDelegate(this, c));
    c->setInsertPolicy(QComboBox::NoInsert);
    SetStyle(TComboBoxStyle::csDropDown);
    QObject::connect(c, QOverload<int>::of(&QComboBox::activated), c, [this](int index) {
        SelectByUser(index);
    });
    SetBounds(0, 0, 145, 21);
}

TComboBox::~TComboBox() = default;

QComboBox* TComboBox::Combo() const { return static_cast<QComboBox*>(Widget()); }

void TComboBox::SelectByUser(int index) {
    if (QComboBox* c = Combo(); c && c->currentIndex() != index) c->setCurrentIndex(index);
    if (OnSelect)
        Fire(OnSelect, this);
    else
        Fire(OnChange, this);
}

int TComboBox::ItemIndex() const { return Combo() ? Combo()->currentIndex() : -1; }

void TComboBox::SetItemIndex(int index) {
    if (!Combo()) return;
    if (index < -1 || index >= Combo()->count()) index = -1;
    Combo()->setCurrentIndex(index);
}

std::string TComboBox::Text() const { return Combo() ? FromQ(Combo()->currentText()) : std::string(); }

void TComboBox::SetText(const std::string& text) {
    QComboBox* c = Combo();
    if (!c) return;
    if (c->isEditable()) {
        c->setCurrentIndex(c->findText(ToQ(text), Qt::MatchExactly));
        c->setEditText(ToQ(text));
    } else {
        c->setCurrentIndex(c->findText(ToQ(text), Qt::MatchExactly));
    }
}

void TComboBox::SetStyle(TComboBoxStyle style) {
    style_ = style;
    QComboBox* c = Combo();
    if (!c) return;
    bool editable = style == TComboBoxStyle::csDropDown;
    if (editable != c->isEditable()) {
        c->setEditable(editable);
        if (editable) {
            // The toolkit completes typed text inline from the entries; the
            // box keeps exactly what was typed, so a command is sent as the
            // user wrote it (the entries stay in the drop-down list).
            c->setCompleter(nullptr);
            // The field takes text of any length: its owner decides what is
            // too long and says so, where a cap here would cut the text
            // without a word (the toolkit's default is 32,767 characters).
            c->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
            QObject::connect(c->lineEdit(), &QLineEdit::textEdited, c,
                             [this](const QString&) { Fire(OnChange, this); });
            // The combo hands the field's shortcut question on to the
            // field itself, so both ways in are watched.
            auto* shortcuts = new TComboEditShortcuts(c, c->lineEdit());
            c->lineEdit()->installEventFilter(shortcuts);
            c->installEventFilter(shortcuts);
        }
    }
}

void TComboBox::SetDropDownCount(int count) {
    if (Combo()) Combo()->setMaxVisibleItems(count);
}

void TComboBox::SetItemHeight(int height) { item_height_ = height; }

bool TComboBox::DroppedDown() const { return Combo() && Combo()->view()->isVisible(); }

void TComboBox::SetDroppedDown(bool down) {
    if (!Combo()) return;
    if (down)
        Combo()->showPopup();
    else
        Combo()->hidePopup();
}

int TComboBox::DroppedWidth() const {
    return Combo() ? std::max(Combo()->view()->minimumWidth(), Width()) : Width();
}

void TComboBox::SetDroppedWidth(int width) {
    if (Combo()) Combo()->view()->setMinimumWidth(width);
}

QLineEdit* TComboBox::EditField() const {
    QComboBox* c = Combo();
    return c && c->isEditable() ? c->lineEdit() : nullptr;
}

int TComboBox::SelStart() const {
    QLineEdit* e = EditField();
    if (!e) return 0;
    return e->hasSelectedText() ? e->selectionStart() : e->cursorPosition();
}

void TComboBox::SetSelStart(int pos) {
    QLineEdit* e = EditField();
    if (!e) return;
    e->setCursorPosition(std::clamp(pos, 0, static_cast<int>(e->text().size())));
}

int TComboBox::SelLength() const {
    QLineEdit* e = EditField();
    return e ? static_cast<int>(e->selectedText().size()) : 0;
}

void TComboBox::SetSelLength(int length) {
    QLineEdit* e = EditField();
    if (!e) return;
    const int start = SelStart();
    length = std::clamp(length, 0, static_cast<int>(e->text().size()) - start);
    if (length == 0)
        e->setCursorPosition(start);
    else
        e->setSelection(start, length);
}

std::string TComboBox::SelText() const {
    QLineEdit* e = EditField();
    return e ? FromQ(e->selectedText()) : std::string();
}

void TComboBox::SetSelText(const std::string& text) {
    QLineEdit* e = EditField();
    if (!e) return;
    // The field reports this as an edit, which raises OnChange.
    e->insert(ToQ(text));
}

void TComboBox::CopyToClipboard() {
    if (SelLength() > 0) Clipboard().SetAsText(SelText());
}

void TComboBox::DrawItem(QPainter* painter, int index, const TRect& rect, TOwnerDrawState state) {
    canvas_.Font.Assign(Font());
    canvas_.Brush.SetColor((state & odSelected) ? clHighlight : Color());
    canvas_.Brush.SetStyle(TBrushStyle::bsSolid);
    canvas_.Attach(painter);
    Fire(OnDrawItem, this, index, rect, state);
    canvas_.Attach(nullptr);
}

void TComboItems::Check(int index) const {
    if (index < 0 || index >= Count())
        throw rtl::EListError("List index out of bounds (" + std::to_string(index) + ")");
}

int TComboItems::Count() const { return owner_->Combo() ? owner_->Combo()->count() : 0; }

std::string TComboItems::Strings(int index) const {
    Check(index);
    return FromQ(owner_->Combo()->itemText(index));
}

void TComboItems::SetString(int index, const std::string& text) {
    Check(index);
    owner_->Combo()->setItemText(index, ToQ(text));
}

std::intptr_t TComboItems::Objects(int index) const {
    Check(index);
    return static_cast<std::intptr_t>(owner_->Combo()->itemData(index).toLongLong());
}

int TComboItems::AddObject(const std::string& text, std::intptr_t object) {
    InsertObject(Count(), text, object);
    return Count() - 1;
}

void TComboItems::InsertObject(int index, const std::string& text, std::intptr_t object) {
    if (index < 0 || index > Count())
        throw rtl::EListError("List index out of bounds (" + std::to_string(index) + ")");
    QComboBox* c = owner_->Combo();
    // Inserting into an empty list would select the entry; inserting never
    // changes the selection, so no OnChange or stale text follows.
    int keep = c->currentIndex();
    c->insertItem(index, ToQ(text), QVariant::fromValue<qlonglong>(object));
    c->setCurrentIndex(keep >= index && keep >= 0 ? keep + 1 : keep);
}

void TComboItems::Delete(int index) {
    Check(index);
    owner_->Combo()->removeItem(index);
}

void TComboItems::Clear() {
    if (owner_->Combo()) owner_->Combo()->clear();
}

int TComboItems::IndexOf(const std::string& text) const {
    for (int i = 0; i < Count(); ++i)
        if (Strings(i) == text) return i;
    return -1;
}

int TComboItems::IndexOfObject(std::intptr_t object) const {
    for (int i = 0; i < Count(); ++i)
        if (Objects(i) == object) return i;
    return -1;
}

// ---------------------------------------------------------------- TEdit

TEdit::TEdit(TComponent* owner) : TWinControl(owner, new QLineEdit()) {
    auto* e = static_cast<QLineEdit*>(Widget());
    QObject::connect(e, &QLineEdit::textChanged, e, [this](const QString&) { Fire(OnChange, this); });
    SetBounds(0, 0, 121, 21);
}

std::string TEdit::Text() const {
    auto* e = static_cast<QLineEdit*>(Widget());
    return e ? FromQ(e->text()) : std::string();
}

void TEdit::SetText(const std::string& text) {
    if (auto* e = static_cast<QLineEdit*>(Widget())) e->setText(ToQ(text));
}

int TEdit::SelStart() const {
    auto* e = static_cast<QLineEdit*>(Widget());
    if (!e) return 0;
    return e->hasSelectedText() ? e->selectionStart() : e->cursorPosition();
}

void TEdit::SetSelStart(int pos) {
    if (auto* e = static_cast<QLineEdit*>(Widget())) e->setCursorPosition(pos);
}

int TEdit::SelLength() const {
    auto* e = static_cast<QLineEdit*>(Widget());
    return e ? static_cast<int>(e->selectedText().size()) : 0;
}

void TEdit::SetSelLength(int length) {
    if (auto* e = static_cast<QLineEdit*>(Widget())) e->setSelection(SelStart(), length);
}

void TEdit::SelectAll() {
    if (auto* e = static_cast<QLineEdit*>(Widget())) e->selectAll();
}

void TEdit::SetReadOnly(bool on) {
    if (auto* e = static_cast<QLineEdit*>(Widget())) e->setReadOnly(on);
}

// ---------------------------------------------------------------- TTrackBar

TTrackBar::TTrackBar(TComponent* owner) : TWinControl(owner, new QSlider(Qt::Horizontal)) {
    auto* s = static_cast<QSlider*>(Widget());
    s->setTickPosition(QSlider::TicksBelow);
    s->setRange(0, 10);
    QObject::connect(s, &QSlider::valueChanged, s, [this](int) { Fire(OnChange, this); });
    SetBounds(0, 0, 150, 45);
}

static QSlider* Slider(QWidget* w) { return static_cast<QSlider*>(w); }

int TTrackBar::Position() const { return Widget() ? Slider(Widget())->value() : 0; }
void TTrackBar::SetPosition(int position) {
    if (Widget()) Slider(Widget())->setValue(position);
}
void TTrackBar::SetRange(int min, int max) {
    if (Widget()) Slider(Widget())->setRange(min, max);
}
int TTrackBar::Min() const { return Widget() ? Slider(Widget())->minimum() : 0; }
int TTrackBar::Max() const { return Widget() ? Slider(Widget())->maximum() : 0; }
int TTrackBar::PageSize() const { return Widget() ? Slider(Widget())->pageStep() : 0; }
void TTrackBar::SetPageSize(int page) {
    if (Widget()) Slider(Widget())->setPageStep(page);
}
void TTrackBar::SetFrequency(int frequency) {
    if (Widget()) Slider(Widget())->setTickInterval(frequency);
}

// ---------------------------------------------------------------- TSplitter

TSplitter::TSplitter(TComponent* owner) : TControl(owner, new QWidget()) {
    SetCursor(TCursor::crHSplit);
    SetBounds(0, 0, 3, 100);
    SetAlign(TAlign::alLeft);
}

TControl* TSplitter::Neighbour() const {
    if (!Parent()) return nullptr;
    TControl* best = nullptr;
    for (int i = 0; i < Parent()->ControlCount(); ++i) {
        TControl* c = Parent()->Controls(i);
        if (c == this || !c->Visible() || c->Align() != Align()) continue;
        if (Align() == TAlign::alLeft && c->Left() + c->Width() == Left()) best = c;
        if (Align() == TAlign::alRight && c->Left() == Left() + Width()) best = c;
    }
    return best;
}

void TSplitter::DragBy(int dx) {
    TControl* n = Neighbour();
    if (!n || dx == 0) return;
    int w = Align() == TAlign::alRight ? n->Width() - dx : n->Width() + dx;
    if (w < min_size_) w = min_size_;
    n->SetWidth(w);
    Fire(OnMoved, this);
}

bool TSplitter::HandleEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            drag_x_ = static_cast<int>(static_cast<QMouseEvent*>(event)->globalPosition().x());
            return true;
        case QEvent::MouseMove:
            if (drag_x_ >= 0) {
                int x = static_cast<int>(static_cast<QMouseEvent*>(event)->globalPosition().x());
                DragBy(x - drag_x_);
                drag_x_ = x;
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            drag_x_ = -1;
            return true;
        default:
            break;
    }
    return TControl::HandleEvent(event);
}

// ---------------------------------------------------------------- TStatusBar

TStatusBar::TStatusBar(TComponent* owner) : TWinControl(owner, new QWidget()) {
    auto* layout = new QHBoxLayout(Widget());
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(2);
    SetBounds(0, 0, 200, 19);
    SetAlign(TAlign::alBottom);
}

void TStatusBar::SetPanels(const std::vector<int>& widths) {
    texts_.assign(widths.size(), std::string());
    if (!Widget()) {
        labels_.clear();  // they went with the widget
        return;
    }
    auto* layout = static_cast<QHBoxLayout*>(Widget()->layout());
    for (QWidget* l : labels_) delete l;
    labels_.clear();
    for (std::size_t i = 0; i < widths.size(); ++i) {
        auto* l = new QLabel();
        l->setTextFormat(Qt::PlainText);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (i + 1 < widths.size()) l->setFixedWidth(widths[i]);
        layout->addWidget(l, i + 1 < widths.size() ? 0 : 1);
        labels_.push_back(l);
    }
}

void TStatusBar::SetPanelText(int index, const std::string& text) {
    texts_.at(static_cast<size_t>(index)) = text;
    if (Widget()) static_cast<QLabel*>(labels_[static_cast<size_t>(index)])->setText(ToQShown(text));
}

}  // namespace vcl
