#pragma once
// Resources: named pictures (bitmaps and mouse cursors) that the program's
// parts carry in their code. Each part that has some registers one module
// of them; a lookup walks the registered modules in order, as a search of
// the loaded modules would. Names compare without regard to case.
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/graphics.h"

namespace vcl {

class TBitmap;

enum class TResourceType { rtBitmap, rtCursor };

// "Resource PlotArrowUp not found".
class EResNotFound : public rtl::Exception {
public:
    using Exception::Exception;
};

// A small picture as text: one character per pixel, each row the same
// length. Palette maps characters to colours; a character missing from it
// is transparent (cursors) or white (bitmaps).
struct TResourceImage {
    std::vector<std::string> Rows;
    std::vector<std::pair<char, TColor>> Palette;
    // The point of a cursor that is the mouse position.
    int HotX = 0;
    int HotY = 0;

    int Width() const { return Rows.empty() ? 0 : static_cast<int>(Rows.front().size()); }
    int Height() const { return static_cast<int>(Rows.size()); }
    // The colour of the pixel (x, y); false when it is transparent.
    bool PixelColor(int x, int y, TColor& color) const;
};

struct TResource {
    TResourceType Type = TResourceType::rtBitmap;
    std::string Name;
    TResourceImage Image;
};

struct TResourceModule {
    std::string Name;
    std::vector<TResource> Resources;

    // The resource of that type and name, or none.
    const TResource* Find(TResourceType type, const std::string& name) const;
};

// Modules are not copied: a module stays registered until it is removed.
void RegisterResourceModule(const TResourceModule& module);
void UnregisterResourceModule(const TResourceModule& module);
// The registered modules, first registered first.
std::vector<const TResourceModule*> ResourceModules();

// Sizes the bitmap to the image and copies its pixels (a row of different
// length raises EInvalidGraphic: the resource is damaged).
void LoadBitmapResource(TBitmap& bitmap, const TResourceImage& image);
// Loads the first registered bitmap of that name; raises EResNotFound when
// no module has one.
void LoadBitmapResource(TBitmap& bitmap, const std::string& name);
bool HasBitmapResource(const std::string& name);

}  // namespace vcl
