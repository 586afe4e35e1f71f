#pragma once
// The standard controls: panels, group boxes, labels, buttons, check boxes,
// combo boxes, edits, track bars, splitters.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/vcl/controls.h"

class QComboBox;
class QLineEdit;

namespace vcl {

class TBitmap;

enum class TBevelCut { bvNone, bvLowered, bvRaised };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

class TPanel : public TWinControl {
public:
    explicit TPanel(TComponent* owner);
    void SetBevelOuter(TBevelCut bevel);
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);

private:
    std::string caption_;
};

class TGroupBox : public TWinControl {
public:
    explicit TGroupBox(TComponent* owner);
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);

private:
    std::string caption_;
};

class TLabel : public TControl {
public:
    explicit TLabel(TComponent* owner);
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    bool AutoSize() const { return auto_size_; }
    void SetAutoSize(bool on);
    // The text's place across the label (left by default).
    void SetAlignment(TAlignment alignment);
    void SetTransparent(bool on);
    // The control that the caption's "&" key focuses (the "&" then marks
    // the key instead of showing).
    TWinControl* FocusControl() const { return focus_control_; }
    void SetFocusControl(TWinControl* control);

protected:
    // A label has no click of its own: a left button released over it is one.
    bool HandleEvent(QEvent* event) override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    void Fit();
    std::string caption_;
    bool auto_size_ = true;
    TWinControl* focus_control_ = nullptr;
};

class TButton : public TWinControl {
public:
    explicit TButton(TComponent* owner);
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    // Enter pressed in its form, where no control takes it, clicks the
    // default button.
    bool Default() const { return default_; }
    void SetDefault(bool on);
    // A click gives the button's form this modal result (0: none).
    int ModalResult() const { return modal_result_; }
    void SetModalResult(int result) { modal_result_ = result; }
    void Click() override;

private:
    std::string caption_;
    bool default_ = false;
    int modal_result_ = 0;
};

// A push button with a picture beside (or, without a caption, instead of)
// its caption; the colour of the picture's bottom-left pixel is transparent.
class TBitBtn : public TButton {
public:
    explicit TBitBtn(TComponent* owner) : TButton(owner) {}
    void SetGlyph(const TBitmap& glyph);
};

// A tool button; with a GroupIndex it stays down when clicked, and with
// AllowAllUp a click on a down button raises it again.
class TSpeedButton : public TControl {
public:
    explicit TSpeedButton(TComponent* owner);
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    bool Down() const { return down_; }
    void SetDown(bool down);
    int GroupIndex() const { return group_; }
    void SetGroupIndex(int group) { group_ = group; }
    bool AllowAllUp() const { return allow_all_up_; }
    void SetAllowAllUp(bool allow) { allow_all_up_ = allow; }
    void SetFlat(bool flat);
    // The picture beside the caption (copied); the colour of its bottom-left
    // pixel is transparent, a disabled button shows it greyed, and an empty
    // bitmap removes it.
    void SetGlyph(const TBitmap& glyph);
    // Pixels between the glyph and the caption.
    int Spacing() const { return 4; }
    void Click() override;

private:
    std::string caption_;
    bool down_ = false;
    int group_ = 0;
    bool allow_all_up_ = false;
};

enum class TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

// Changing Checked raises OnClick, whether the user clicked or the program
// set it: handlers keep dependent settings in step either way.
class TCheckBox : public TWinControl {
public:
    explicit TCheckBox(TComponent* owner);
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    bool Checked() const;
    void SetChecked(bool checked);
    TCheckBoxState State() const;
    void SetState(TCheckBoxState state);

private:
    std::string caption_;
};

enum class TComboBoxStyle { csDropDown, csDropDownList, csOwnerDrawFixed };

enum TOwnerDrawStateFlag : std::uint16_t {
    odSelected = 1, odGrayed = 2, odDisabled = 4, odChecked = 8, odFocused = 16,
    odComboBoxEdit = 0x1000,
};
using TOwnerDrawState = std::uint16_t;

using TDrawItemEvent = std::function<void(TComponent* Control, int Index, const TRect& Rect,
                                          TOwnerDrawState State)>;

class TComboBox;

// The entries of a combo box: texts with an integer object each.
class TComboItems {
public:
    int Count() const;
    std::string Strings(int index) const;
    void SetString(int index, const std::string& text);
    std::intptr_t Objects(int index) const;
    int Add(const std::string& text) { return AddObject(text, 0); }
    int AddObject(const std::string& text, std::intptr_t object);
    void Insert(int index, const std::string& text) { InsertObject(index, text, 0); }
    void InsertObject(int index, const std::string& text, std::intptr_t object);
    void Delete(int index);
    void Clear();
    int IndexOf(const std::string& text) const;
    int IndexOfObject(std::intptr_t object) const;

private:
    friend class TComboBox;
    explicit TComboItems(TComboBox* owner) : owner_(owner) {}
    void Check(int index) const;
    TComboBox* owner_;
};

class TComboBox : public TWinControl {
public:
    explicit TComboBox(TComponent* owner);
    ~TComboBox() override;

    TComboItems& Items() { return items_; }
    int ItemIndex() const;
    void SetItemIndex(int index);  // raises no event: only the user's choice does
    std::string Text() const;
    void SetText(const std::string& text);
    TComboBoxStyle Style() const { return style_; }
    void SetStyle(TComboBoxStyle style);
    void SetDropDownCount(int count);
    void SetItemHeight(int height);
    bool DroppedDown() const;
    void SetDroppedDown(bool down);
    // Width of the drop-down list: at least the control's width.
    int DroppedWidth() const;
    void SetDroppedWidth(int width);
    TCanvas& Canvas() { return canvas_; }

    // The selection of the edit field (editable style only; otherwise 0 and
    // empty). Positions count characters of Text from 0, one per byte.
    // Setting SelStart puts the cursor there and clears the selection;
    // SelLength selects that many characters from SelStart. Both clamp to
    // the text.
    int SelStart() const;
    void SetSelStart(int pos);
    int SelLength() const;
    void SetSelLength(int length);
    std::string SelText() const;
    // Replaces the selection (or inserts at the cursor) as typing would,
    // leaving the cursor after the new text; raises OnChange.
    void SetSelText(const std::string& text);
    // Puts the selected text on the clipboard; nothing when none is selected.
    void CopyToClipboard();

    TNotifyEvent OnChange;
    TNotifyEvent OnSelect;
    TNotifyEvent OnDropDown;
    TNotifyEvent OnCloseUp;
    TDrawItemEvent OnDrawItem;

    // Raises the events a user's choice of entry index raises.
    void SelectByUser(int index);

private:
    friend class TComboItems;
    friend class TComboDelegate;
    friend class TComboWidget;
    QComboBox* Combo() const;
    QLineEdit* EditField() const;  // null unless editable
    void DrawItem(QPainter* painter, int index, const TRect& rect, TOwnerDrawState state);
    TComboItems items_{this};
    TComboBoxStyle style_ = TComboBoxStyle::csDropDown;
    TCanvas canvas_;
    int item_height_ = 0;
};

// Changing Text raises OnChange, whether the user typed or the program set it.
class TEdit : public TWinControl {
public:
    explicit TEdit(TComponent* owner);
    std::string Text() const;
    void SetText(const std::string& text);
    int SelStart() const;
    void SetSelStart(int pos);
    int SelLength() const;
    void SetSelLength(int length);
    void SelectAll();
    void SetReadOnly(bool on);

    TNotifyEvent OnChange;
};

class TTrackBar : public TWinControl {
public:
    explicit TTrackBar(TComponent* owner);
    int Position() const;
    void SetPosition(int position);
    void SetRange(int min, int max);
    int Min() const;
    int Max() const;
    int PageSize() const;
    void SetPageSize(int page);
    void SetFrequency(int frequency);

    TNotifyEvent OnChange;
};

// A bar that the user drags to resize the control aligned next to it.
class TSplitter : public TControl {
public:
    explicit TSplitter(TComponent* owner);
    int MinSize() const { return min_size_; }
    void SetMinSize(int size) { min_size_ = size; }
    // Moves the splitter by dx pixels, as dragging it does.
    void DragBy(int dx);

    TNotifyEvent OnMoved;

protected:
    bool HandleEvent(QEvent* event) override;

private:
    TControl* Neighbour() const;
    int min_size_ = 30;
    int drag_x_ = -1;
};

// A status bar of panels, each with a width (the last one takes the rest).
class TStatusBar : public TWinControl {
public:
    explicit TStatusBar(TComponent* owner);
    // Replaces the panels by ones of these widths.
    void SetPanels(const std::vector<int>& widths);
    int PanelCount() const { return static_cast<int>(texts_.size()); }
    const std::string& PanelText(int index) const { return texts_.at(static_cast<size_t>(index)); }
    void SetPanelText(int index, const std::string& text);

private:
    std::vector<std::string> texts_;
    std::vector<QWidget*> labels_;
};

}  // namespace vcl
