#include "platform/vcl/resources.h"

#include <algorithm>

#include "platform/vcl/bitmap.h"

namespace vcl {

namespace {

std::vector<const TResourceModule*>& Modules() {
    static std::vector<const TResourceModule*> modules;
    return modules;
}

bool SameName(const std::string& a, const std::string& b) {
    auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return up(x) == up(y); });
}

}  // namespace

bool TResourceImage::PixelColor(int x, int y, TColor& color) const {
    if (y < 0 || y >= Height()) return false;
    const std::string& row = Rows[static_cast<std::size_t>(y)];
    if (x < 0 || x >= static_cast<int>(row.size())) return false;
    const char c = row[static_cast<std::size_t>(x)];
    for (const auto& [key, value] : Palette)
        if (key == c) {
            color = value;
            return true;
        }
    return false;
}

const TResource* TResourceModule::Find(TResourceType type, const std::string& name) const {
    for (const TResource& r : Resources)
        if (r.Type == type && SameName(r.Name, name)) return &r;
    return nullptr;
}

void RegisterResourceModule(const TResourceModule& module) {
    auto& modules = Modules();
    if (std::find(modules.begin(), modules.end(), &module) == modules.end())
        modules.push_back(&module);
}

void UnregisterResourceModule(const TResourceModule& module) {
    auto& modules = Modules();
    modules.erase(std::remove(modules.begin(), modules.end(), &module), modules.end());
}

std::vector<const TResourceModule*> ResourceModules() { return Modules(); }

void LoadBitmapResource(TBitmap& bitmap, const TResourceImage& image) {
    const int w = image.Width(), h = image.Height();
    for (const std::string& row : image.Rows)
        if (static_cast<int>(row.size()) != w)
            throw EInvalidGraphic("Bitmap resource rows differ in length");
    bitmap.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            TColor color = clWhite;
            image.PixelColor(x, y, color);
            bitmap.Handle()->SetPixel(x, y, ColorToRGB(color));
        }
}

namespace {

const TResource* FindBitmap(const std::string& name) {
    for (const TResourceModule* module : Modules())
        if (const TResource* found = module->Find(TResourceType::rtBitmap, name)) return found;
    return nullptr;
}

}  // namespace

void LoadBitmapResource(TBitmap& bitmap, const std::string& name) {
    const TResource* found = FindBitmap(name);
    if (!found) throw EResNotFound("Resource " + name + " not found");
    LoadBitmapResource(bitmap, found->Image);
}

bool HasBitmapResource(const std::string& name) { return FindBitmap(name) != nullptr; }

}  // namespace vcl
