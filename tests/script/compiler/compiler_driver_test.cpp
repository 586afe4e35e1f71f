#include <gtest/gtest.h>

#include "compiler_test_support.h"

namespace script::compiler {
namespace {
using testing::CompileScript;

TEST(compiler_driver, empty_main_block_compiles_to_standard_types_and_one_ret) {
    auto r = CompileScript("begin end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_EQ(r.Parsed.Build, 23u);
    ASSERT_EQ(r.Parsed.Procs.size(), 1u);
    EXPECT_EQ(r.Parsed.Procs[0].Code, std::string(1, '\x09'));
    EXPECT_EQ(r.Parsed.MainProc, 0u);
    EXPECT_EQ(r.Image.substr(0, 4), "IFPS");
    // ___Pointer is numbered as it is declared; then Byte, Boolean (with its
    // export name), LongBool, WordBool, ByteBool, Char, the four strings ...
    ASSERT_GE(r.Parsed.Types.size(), 25u);
    EXPECT_EQ(r.Parsed.Types[0].BaseType, btPointer);
    EXPECT_EQ(r.Parsed.Types[1].BaseType, btU8);
    EXPECT_EQ(r.Parsed.Types[2].BaseType, btU8);
    EXPECT_TRUE(r.Parsed.Types[2].HasExportName);
    EXPECT_EQ(r.Parsed.Types[2].ExportName, "BOOLEAN");
    EXPECT_EQ(r.Parsed.Types[3].BaseType, btU32);  // LongBool
    EXPECT_EQ(r.Parsed.Types[4].BaseType, btU16);  // WordBool
    EXPECT_EQ(r.Parsed.Types[6].BaseType, btChar);
}
}  // namespace
}  // namespace script::compiler
