#include "platform/vcl/screen_fonts.h"

#include <gtest/gtest.h>

#include "platform/vcl/forms.h"

namespace {

TEST(screen_fonts, names_are_found_directly_or_through_their_alias) {
    vcl::EnsureApplication();
    EXPECT_TRUE(vcl::ScreenFontExists("Liberation Mono"));
    EXPECT_TRUE(vcl::ScreenFontExists("liberation mono")) << "case does not matter";
    EXPECT_TRUE(vcl::ScreenFontExists("Courier New")) << "through the alias table";
    EXPECT_FALSE(vcl::ScreenFontExists("No Such Font Family"));
    EXPECT_FALSE(vcl::ScreenFontExists(""));
}

}  // namespace
