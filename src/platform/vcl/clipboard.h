#pragma once
// The system clipboard: text, bitmaps and metafiles.
#include <cstdint>
#include <string>
#include <vector>

namespace vcl {

class TPersistent;
class TBitmap;

// Clipboard formats, with the fixed numbers plug-ins pass to the clipboard calls.
enum : unsigned { CF_TEXT = 1, CF_BITMAP = 2, CF_METAFILEPICT = 3, CF_ENHMETAFILE = 14 };

class TClipboard {
public:
    std::string AsText() const;
    void SetAsText(const std::string& text);
    bool HasText() const;

    // Puts a bitmap, a metafile or a picture's graphic on the clipboard, in
    // place of what it held. A metafile goes as its enhanced and its Windows
    // file and as a bitmap of its picture, for programs that paste only
    // pixels. Anything else raises EConvertError.
    void Assign(const TPersistent& source);
    bool HasFormat(unsigned format) const;
    // The bitmap on the clipboard into bitmap; false (bitmap unchanged)
    // when it holds none.
    bool GetBitmap(TBitmap& bitmap) const;
    // The file bytes of the metafile on the clipboard (CF_ENHMETAFILE or
    // CF_METAFILEPICT); empty when it holds none.
    std::vector<std::uint8_t> GetMetafile(unsigned format) const;
};

// The one clipboard object.
TClipboard& Clipboard();

}  // namespace vcl
