#include "terminal/common_str_proc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/file_writes.h"
#include "platform/vcl/file_save.h"
#include "support/temp_dir.h"

using namespace terminal;

TEST(common_str_proc, whole_file_save_and_load) {
    test_support::TempDir dir;
    const std::string name = dir.File("data.bin");
    std::string data;
    for (int i = 0; i < 200000; ++i) data += static_cast<char>(i * 7);
    SaveStrToFile(data, name);
    EXPECT_EQ(LoadStrFromFile(name), data);
    EXPECT_EQ(ArrayToHex(LoadStrFromFile(name).substr(0, 3), true), "00 07 0E");
    SaveStrToFile("", name);  // truncates
    EXPECT_EQ(LoadStrFromFile(name), "");
    EXPECT_THROW(LoadStrFromFile(dir.File("missing")), rtl::EFOpenError);
    try {
        LoadStrFromFile("/proc/self/mem");  // opens, but reading its start fails
        ADD_FAILURE() << "read an unreadable file";
    } catch (const rtl::EReadError& e) {
        EXPECT_EQ(e.Message, "Cannot read \"/proc/self/mem\": Input/output error");
    }
    try {
        SaveStrToFile("x", dir.File("no/such/dir/f"));
        ADD_FAILURE() << "saved into a folder that does not exist";
    } catch (const vcl::EFileSaveError& e) {
        EXPECT_EQ(e.Message, "Cannot write \"" + dir.File("no/such/dir/f") + "\": No such file or directory");
    }
    // A full disk keeps the file that was there whole.
    SaveStrToFile(data, name);
    {
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(1);
        EXPECT_THROW(SaveStrToFile(std::string(300000, 'z'), name), vcl::EFileSaveError);
    }
    EXPECT_EQ(LoadStrFromFile(name), data);
}
