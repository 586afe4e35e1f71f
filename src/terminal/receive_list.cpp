#include "terminal/receive_list.h"

namespace terminal {

TMyListbox::TMyListbox(vcl::TComponent* owner) : vcl::TCustomListBox(owner) {}

void TMyListbox::SetRepaintLock(bool Locked) {
    locked_ = Locked;
    SetUpdatesEnabled(!Locked);
    if (!Locked && Count() > 0) RepaintItem(Count() - 1);
}

void TMyListbox::SyncCount(int Index) {
    const int lines = LineCount();
    if (Count() == lines) {
        if (Index < 0)
            Repaint();
        else if (Index < lines)
            RepaintItem(Index);
        return;
    }
    const int oldCount = Count();
    const int top = TopIndex();
    const int selected = ItemIndex();
    SetCount(lines);
    SetTopIndex(top);
    if (selected == oldCount - 1 || selected >= lines)
        SetItemIndex(lines - 1);
    else
        SetItemIndex(selected);
}

void TMyListbox::Clear() {
    // The panel tells the list its new count (through SyncCount) itself.
    if (panel_) panel_->ClearLines();
    vcl::TCustomListBox::Clear();
}

}  // namespace terminal
