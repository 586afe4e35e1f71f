#pragma once
// The receive panel's list control: a virtual owner-drawn list box that
// holds only a count; the main window draws every line.
#include "platform/vcl/list_box.h"

namespace terminal {

class TMyListbox : public vcl::TCustomListBox {
public:
    explicit TMyListbox(vcl::TComponent* owner);
};

}  // namespace terminal
