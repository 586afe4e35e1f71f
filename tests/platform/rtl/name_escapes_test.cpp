#include "platform/rtl/name_escapes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/files.h"

using namespace rtl;

TEST(name_escapes, every_system_name_comes_back_byte_for_byte_and_splits_whole) {
    for (const std::string name : {"café.cp", "naïve/ß.cp", "日本.cp", "\xF0\x9F\x98\x80", "caf\xE9.cp", "\xE6\x97.x",
                                   "\xC2\x98" "0000E9", "a\nb\tc", "файл.txt", "plain"})
        EXPECT_EQ(SysPath(FromSysPath(name)), name) << name;
    // Any bytes at all.
    std::mt19937 random(50);
    for (int i = 0; i < 20000; ++i) {
        std::string name(random() % 12, ' ');
        for (char& c : name) c = static_cast<char>(1 + random() % 255);
        ASSERT_EQ(SysPath(FromSysPath(name)), name);
    }
    // The code page's letters stay its bytes, as settings written before
    // hold them; what it lacks is escaped.
    EXPECT_EQ(FromSysPath("файл"), Utf8ToAnsi("файл"));
    EXPECT_EQ(SysPath(Utf8ToAnsi("файл")), "файл");
    EXPECT_EQ(FromSysPath("café.cp"), "caf\x98" "0000E9.cp");
    EXPECT_EQ(FromSysPath("\xFF"), "\x98" "00DCFF");
    // A 0x98 without the digits of an escape is text as it always was.
    EXPECT_EQ(SysPath("\x98" "0000E"), "\xC2\x98" "0000E");
    EXPECT_EQ(SysPath("\x98" "000041"), "\xC2\x98" "000041");
    // Folder, name and extension split with the escapes whole.
    const std::string n = FromSysPath("/d\xFF/日本.tar.gz");
    EXPECT_EQ(ExtractFileExt(n), ".gz");
    EXPECT_EQ(SysPath(ExtractFileName(n)), "日本.tar.gz");
    EXPECT_EQ(SysPath(ExtractFilePath(n)), "/d\xFF/");
}
