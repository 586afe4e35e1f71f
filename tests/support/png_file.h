#pragma once
// Pictures that tests leave behind for a person to look at: a bitmap written
// as a PNG file in the test's folder and read back from it, so that the test
// checks what the file shows. Header only.
#include <filesystem>
#include <memory>
#include <string>

#include "platform/vcl/bitmap.h"
#include "platform/vcl/picture.h"

namespace test_support {

// Writes Bitmap as <current folder>/Name and answers the picture read back
// from that file (its graphic a PNG graphic).
inline std::unique_ptr<vcl::TPicture> WritePngAndReadBack(const vcl::TBitmap& Bitmap,
                                                          const std::string& Name) {
    const std::string file = (std::filesystem::current_path() / Name).string();
    vcl::TPngGraphic png;
    png.Assign(Bitmap);
    png.SaveToFile(file);
    auto picture = std::make_unique<vcl::TPicture>();
    picture->LoadFromFile(file);
    return picture;
}

}  // namespace test_support
