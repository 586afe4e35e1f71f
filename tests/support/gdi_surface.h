#pragma once
// A white memory device context of a given size for drawing tests, and
// the pixel questions those tests ask. Header only: the test programs that
// use it link the device-context layer themselves.
#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/gdi/dc.h"

namespace test_support {

// Pixel questions about a bitmap.
inline int CountPixels(const gdi::Bitmap& b, const std::function<bool(gdi::COLORREF)>& pred) {
    int n = 0;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) n += pred(b.GetPixel(x, y)) ? 1 : 0;
    return n;
}
inline int CountPixels(const gdi::Bitmap& b, gdi::COLORREF color) {
    return CountPixels(b, [color](gdi::COLORREF c) { return c == color; });
}
// Where the pixels are not white.
inline std::set<std::pair<int, int>> InkOf(const gdi::Bitmap& b) {
    std::set<std::pair<int, int>> ink;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            if (b.GetPixel(x, y) != gdi::RGB(255, 255, 255)) ink.insert({x, y});
    return ink;
}
// The bounding box of the ink, right and bottom outside; empty when none.
inline gdi::RECT InkBoxOf(const gdi::Bitmap& b) {
    gdi::RECT box{b.Width(), b.Height(), 0, 0};
    for (auto [x, y] : InkOf(b)) {
        box.left = std::min(box.left, x);
        box.top = std::min(box.top, y);
        box.right = std::max(box.right, x + 1);
        box.bottom = std::max(box.bottom, y + 1);
    }
    return box.right == 0 ? gdi::RECT{} : box;
}
// Every pixel, for before/after comparisons.
inline std::vector<gdi::COLORREF> PixelsOf(const gdi::Bitmap& b) {
    std::vector<gdi::COLORREF> all;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) all.push_back(b.GetPixel(x, y));
    return all;
}

struct Surface {
    std::unique_ptr<gdi::DC> dc = gdi::DC::CreateCompatibleDC();
    gdi::HBITMAP bitmap;

    Surface(int width, int height) : bitmap(gdi::CreateBitmap(width, height)) { dc->SelectObject(bitmap); }

    gdi::DC* operator->() { return dc.get(); }
    gdi::DC& operator*() { return *dc; }
    int Width() const { return bitmap->Width(); }
    int Height() const { return bitmap->Height(); }
    gdi::COLORREF At(int x, int y) const { return bitmap->GetPixel(x, y); }
    int Count(const std::function<bool(gdi::COLORREF)>& pred) const { return CountPixels(*bitmap, pred); }
    int Count(gdi::COLORREF color) const { return CountPixels(*bitmap, color); }
    std::set<std::pair<int, int>> Ink() const { return InkOf(*bitmap); }
    gdi::RECT InkBox() const { return InkBoxOf(*bitmap); }
    std::vector<gdi::COLORREF> Pixels() const { return PixelsOf(*bitmap); }
    // Fills every pixel with a colour that differs from its neighbours.
    void Scramble() {
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x)
                bitmap->SetPixel(x, y, gdi::RGB(x * 37 + y * 11, x * 5 + y * 71, (x ^ y) * 13));
    }
};

}  // namespace test_support
