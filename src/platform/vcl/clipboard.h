#pragma once
// The system clipboard, text only.
#include <string>

namespace vcl {

class TClipboard {
public:
    std::string AsText() const;
    void SetAsText(const std::string& text);
    bool HasText() const;
};

// The one clipboard object.
TClipboard& Clipboard();

}  // namespace vcl
