#include "platform/rtl/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/rtl/cp1251.h"
#include "support/temp_dir.h"

using namespace rtl;

TEST(files, name_parts) {
    EXPECT_EQ(ExtractFilePath("/a/b.c/name.ini"), "/a/b.c/");
    EXPECT_EQ(ExtractFilePath("name.ini"), "");
    EXPECT_EQ(ExtractFileName("/a/b.c/name.ini"), "name.ini");
    EXPECT_EQ(ExtractFileExt("/a/b.c/name.ini"), ".ini");
    EXPECT_EQ(ExtractFileExt("/a/b.c/name"), "");
    EXPECT_EQ(ExtractFileExt("x.tar.gz"), ".gz");
    EXPECT_EQ(ChangeFileExt("/a/b.c/name", ".cp"), "/a/b.c/name.cp");
    EXPECT_EQ(ChangeFileExt("/a/name.txt", ".cp"), "/a/name.cp");
    EXPECT_EQ(ChangeFileExt("/a/name.txt", ""), "/a/name");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/a/"), "/a");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
    EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
    EXPECT_EQ(ExpandFileName("/../x"), "/x");
    EXPECT_EQ(ExpandFileName("/a/b/"), "/a/b/");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(ExpandFileName("rel.txt"), IncludeTrailingPathDelimiter(cwd) + "rel.txt");
}

TEST(files, existence_rename_and_delete_with_cyrillic_names) {
    test_support::TempDir temp;
    const std::string dir = temp.path();
    const std::string name = dir + "/" + Utf8ToAnsi("файл.txt");
    EXPECT_FALSE(FileExists(name));
    std::ofstream(dir + "/файл.txt") << "x";  // the file system sees UTF-8
    EXPECT_TRUE(FileExists(name));
    EXPECT_FALSE(DirectoryExists(name));
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_FALSE(FileExists(dir));
    EXPECT_FALSE(FileExists(""));
    const std::string other = dir + "/other.txt";
    EXPECT_TRUE(RenameFile(name, other));
    EXPECT_FALSE(FileExists(name));
    EXPECT_TRUE(DeleteFile(other));
    EXPECT_FALSE(DeleteFile(other));
    const std::string exe = ExeFolder();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.back(), '/');
    EXPECT_TRUE(FileExists(exe + "rtl_test"));
}
