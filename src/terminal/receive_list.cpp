#include "terminal/receive_list.h"

namespace terminal {

TMyListbox::TMyListbox(vcl::TComponent* owner) : vcl::TCustomListBox(owner) {}

}  // namespace terminal
