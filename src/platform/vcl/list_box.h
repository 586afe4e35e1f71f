#pragma once
// A virtual, owner-drawn list box: it stores only a count and the selection;
// the owner paints every visible item through OnDrawItem.
#include <vector>

#include "platform/vcl/std_ctrls.h"

namespace vcl {

class TListBoxWidget;

class TCustomListBox : public TWinControl {
public:
    explicit TCustomListBox(TComponent* owner);
    ~TCustomListBox() override;

    int Count() const { return count_; }
    void SetCount(int count);
    // Removes every item (a virtual list: the count becomes 0).
    virtual void Clear();

    int ItemHeight() const { return item_height_; }
    void SetItemHeight(int height);
    int TopIndex() const;
    void SetTopIndex(int index);
    // The focused item (-1: none); setting it selects that item alone.
    int ItemIndex() const { return item_index_; }
    void SetItemIndex(int index);
    bool MultiSelect() const { return multi_select_; }
    void SetMultiSelect(bool on);
    bool Selected(int index) const;
    void SetSelected(int index, bool selected);
    int SelCount() const;

    // The item under a client point; -1 when there is none there and
    // Existing is true, else the nearest item (or Count when below the last).
    int ItemAtPos(const TPoint& pos, bool existing) const;
    TRect ItemRect(int index) const;
    // Whole items that fit in the client area (at least 1).
    int VisibleRows() const;
    int ClientAreaWidth() const;
    int ClientAreaHeight() const;
    int ScrollBarWidth() const;
    void SetBorder(bool on);
    void SetUpdatesEnabled(bool on);
    void RepaintItem(int index);

    TCanvas& Canvas() { return canvas_; }

    TDrawItemEvent OnDrawItem;

private:
    friend class TListBoxWidget;
    TListBoxWidget* List() const;
    void Paint(QPainter* painter);
    void UpdateScroll();
    void UserSelect(int index, TShiftState shift);
    void ResizeSelection();
    void Select(int index, bool on);
    void ClearSelection();

    int count_ = 0;
    int item_height_ = 16;
    int item_index_ = -1;
    int anchor_ = -1;
    bool multi_select_ = false;
    std::vector<bool> selected_;
    std::size_t selected_count_ = 0;
    TCanvas canvas_;
};

}  // namespace vcl
