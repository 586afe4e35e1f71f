#include "terminal/common_str_proc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
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
    EXPECT_THROW(SaveStrToFile("x", dir.File("no/such/dir/f")), rtl::EFCreateError);
}
