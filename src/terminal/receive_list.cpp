#include "terminal/receive_list.h"

#include <algorithm>

namespace terminal {

TMyListbox::TMyListbox(vcl::TComponent* owner) : vcl::TCustomListBox(owner) {}

void TMyListbox::SetRepaintLock(bool Locked) {
    locked_ = Locked;
    SetUpdatesEnabled(!Locked);
    if (!Locked && Count() > 0) RepaintItem(Count() - 1);
}

void TMyListbox::SyncCount(int Index) {
    const int lines = LineCount();
    const std::uint64_t dropped = panel_ ? panel_->Lines().DroppedLines() : dropped_;
    const int oldCount = Count();
    const int gone = static_cast<int>(std::min<std::uint64_t>(dropped - dropped_, oldCount));
    dropped_ = dropped;
    if (oldCount == lines && gone == 0) {
        if (Index < 0)
            Repaint();
        else if (Index < lines)
            RepaintItem(Index);
        return;
    }
    const int top = std::max(0, TopIndex() - gone);
    const int selected = ItemIndex();
    const bool atEnd = selected == oldCount - 1;
    SetCount(lines);
    SetTopIndex(top);
    if (atEnd || selected - gone >= lines)
        SetItemIndex(lines - 1);
    else
        SetItemIndex(selected < gone ? -1 : selected - gone);
    // The same count with lines dropped: every row shows another line.
    if (oldCount == lines) Repaint();
}

void TMyListbox::Clear() {
    // The panel tells the list its new count (through SyncCount) itself.
    if (panel_) panel_->ClearLines();
    vcl::TCustomListBox::Clear();
}

}  // namespace terminal
