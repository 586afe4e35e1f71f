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

struct Surface {
    std::unique_ptr<gdi::DC> dc = gdi::DC::CreateCompatibleDC();
    gdi::HBITMAP bitmap;

    Surface(int width, int height) : bitmap(gdi::CreateBitmap(width, height)) { dc->SelectObject(bitmap); }

    gdi::DC* operator->() { return dc.get(); }
    gdi::DC& operator*() { return *dc; }
    int Width() const { return bitmap->Width(); }
    int Height() const { return bitmap->Height(); }
    gdi::COLORREF At(int x, int y) const { return bitmap->GetPixel(x, y); }

    // Pixels for which the predicate holds.
    int Count(const std::function<bool(gdi::COLORREF)>& pred) const {
        int n = 0;
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x) n += pred(At(x, y)) ? 1 : 0;
        return n;
    }
    int Count(gdi::COLORREF color) const {
        return Count([color](gdi::COLORREF c) { return c == color; });
    }
    // Where the pixels are not white.
    std::set<std::pair<int, int>> Ink() const {
        std::set<std::pair<int, int>> ink;
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x)
                if (At(x, y) != gdi::RGB(255, 255, 255)) ink.insert({x, y});
        return ink;
    }
    // The bounding box of the ink, right and bottom outside; empty when none.
    gdi::RECT InkBox() const {
        gdi::RECT box{Width(), Height(), 0, 0};
        for (auto [x, y] : Ink()) {
            box.left = std::min(box.left, x);
            box.top = std::min(box.top, y);
            box.right = std::max(box.right, x + 1);
            box.bottom = std::max(box.bottom, y + 1);
        }
        return box.right == 0 ? gdi::RECT{} : box;
    }
    // A copy of every pixel, for before/after comparisons.
    std::vector<gdi::COLORREF> Pixels() const {
        std::vector<gdi::COLORREF> all;
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x) all.push_back(At(x, y));
        return all;
    }
    // Fills every pixel with a colour that differs from its neighbours.
    void Scramble() {
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x)
                bitmap->SetPixel(x, y, gdi::RGB(x * 37 + y * 11, x * 5 + y * 71, (x ^ y) * 13));
    }
};

}  // namespace test_support
