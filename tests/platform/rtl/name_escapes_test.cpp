#include "platform/rtl/name_escapes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/failure_trace.h"
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

TEST(name_escapes, one_spelling_names_a_file_and_messages_show_names_but_never_plain_bytes_as_names) {
    // Lower-case digits are no escape: the two texts name two files.
    EXPECT_EQ(SysPath("caf\x98" "0000e9"), "caf\xC2\x98" "0000e9");
    EXPECT_NE(SysPath("caf\x98" "0000e9"), SysPath("caf\x98" "0000E9"));
    EXPECT_EQ(FromSysPath(SysPath("caf\x98" "0000e9")), "caf\x98" "000098" "0000e9");

    // A message shows the letters of the name in it; plain bytes quoted in
    // it show as the bytes they are, even when they look like an escape.
    const std::string name = FromSysPath("/t/température/日本\xFF.pas");
    EXPECT_EQ(MessageToUtf8("Error loading plugin\r" + name), "Error loading plugin\r/t/température/日本\xFF.pas");
    const std::string plain = "\x98" "0000E9 \x98" "000000 \x98";
    EXPECT_EQ(MessageToUtf8("Bad Value \"" + PlainInMessage(plain) + "\""), "Bad Value \"" + AnsiToUtf8(plain) + "\"");
    EXPECT_EQ(PlainInMessage("plain"), "plain");

    // A message is shortened by whole characters: an escape is one.
    std::string shortened = "a" + FromSysPath("日本");
    shortened.resize(LastMessageCharStart(shortened));
    EXPECT_EQ(shortened, "a" + FromSysPath("日"));
    shortened.resize(LastMessageCharStart(shortened));
    EXPECT_EQ(shortened, "a");
    EXPECT_EQ(LastMessageCharStart("a"), 0u);
    EXPECT_EQ(LastMessageCharStart(""), 0u);

    // A trace on standard error spells the name as the system does.
    ::testing::internal::CaptureStderr();
    TraceFailure(std::string_view("Cannot open file \"" + name + "\""), "loading");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "vostrel: loading: Cannot open file \"/t/température/日本\xFF.pas\"\n");
}
