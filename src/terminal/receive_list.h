#pragma once
// The receive panel's list control: a virtual owner-drawn list box that
// holds only a count. The lines themselves live in the receive panel's line
// store; the main window draws every visible line from there, so a list of
// millions of lines costs the control nothing but its count.
#include "platform/vcl/list_box.h"
#include "terminal/receive_panel.h"

namespace terminal {

class TMyListbox : public vcl::TCustomListBox {
public:
    explicit TMyListbox(vcl::TComponent* owner);

    // The panel whose lines are shown (none: the list stays empty).
    void SetPanel(TReceivePanel* Panel) {
        panel_ = Panel;
        dropped_ = panel_ ? panel_->Lines().DroppedLines() : 0;
    }
    TReceivePanel* Panel() const { return panel_; }

    int LineCount() const { return panel_ ? panel_->Lines().LineCount() : 0; }

    // Repainting held off while a chunk is rendered; when it is allowed
    // again the last line (the one being filled) is repainted, since it may
    // have grown without the count changing.
    void SetRepaintLock(bool Locked);
    bool RepaintLocked() const { return locked_; }

    // Follows the line store: a new count keeps the top line and keeps the
    // selection on the last line when it was there (so the view follows the
    // end of the list); an unchanged count repaints line Index (-1: all).
    // Lines the store dropped at its front since the last call move the top
    // line and the selection up with the lines they stand on; a selected
    // line that was dropped leaves nothing selected.
    void SyncCount(int Index);

    // Frees every line and its record, then follows the new count.
    void Clear() override;

private:
    TReceivePanel* panel_ = nullptr;
    bool locked_ = false;
    std::uint64_t dropped_ = 0;  // the store's drop count the view follows
};

}  // namespace terminal
