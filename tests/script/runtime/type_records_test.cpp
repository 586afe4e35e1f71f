#include "script/runtime/type_records.h"

#include <gtest/gtest.h>

#include "runtime_test_support.h"
#include "script/runtime/managed_blocks.h"

namespace script::runtime {
namespace {

using testing::CompileTypes;

TEST(type_records, images_of_the_compiler_give_x86_64_sizes_and_gap_free_records) {
    const auto types = CompileTypes(
        "type TE9 = (e0, e1, e2, e3, e4, e5, e6, e7, e8); TE8 = (f0, f1, f2, f3, f4, f5, f6, f7);\n"
        "TR = record a: Byte; b: Integer; c: Word; end;\n"
        "TM = record s: String; v: Variant; n: Integer; end;\n"
        "TP = procedure(x: Integer);\n"
        "var v0: Byte; v1: ShortInt; v2: Word; v3: SmallInt; v4: Cardinal; v5: Integer;\n"
        "v6: Single; v7: Double; v8: Extended; v9: String; v10: TR; v11: array of String;\n"
        "v12: PChar; v13: Variant; v14: Int64; v15: Char; v16: TP; v17: array[1..3] of Extended;\n"
        "v18: set of TE9; v19: set of TE8; v20: set of Byte; v21: Currency; v22: IUnknown; v23: TM;\n"
        "v24: array[0..1] of TR; v25: array[0..1] of TM; v26: Boolean;\n"
        "begin end.");
    ASSERT_TRUE(types.AllAccepted);
    const std::uint32_t sizes[] = {1, 1, 2, 2, 4, 4, 4, 8, 10, 8, 7, 8, 8, 16, 8, 1,
                                   24, 30, 2, 1, 32, 8, 8, 8 + 16 + 4, 14, 56, 1};
    for (std::size_t i = 0; i < std::size(sizes); ++i) EXPECT_EQ(types.Var(i)->RealSize, sizes[i]) << "variable " << i;

    const auto& rec = AsRecord(types.Var(10));
    EXPECT_EQ(rec.FieldOffsets, (std::vector<std::uint32_t>{0, 1, 5}));
    EXPECT_EQ(AsRecord(types.Var(23)).FieldOffsets, (std::vector<std::uint32_t>{0, 8, 24}));
    EXPECT_EQ(AsSet(types.Var(18)).ByteSize, 2u);
    EXPECT_EQ(AsStaticArray(types.Var(17)).StartOffset, 1u);
    EXPECT_EQ(types.Var(26)->ExportName, "BOOLEAN");

    // Only values that hold something to release are finalised: strings,
    // PChars, arrays, Variants, interfaces, and what contains them.
    for (std::size_t i : {9, 11, 12, 13, 22, 23, 25}) EXPECT_TRUE(types.Var(i)->NeedsFinalization()) << i;
    for (std::size_t i : {0, 5, 8, 10, 14, 16, 17, 18, 21, 24}) EXPECT_FALSE(types.Var(i)->NeedsFinalization()) << i;
}

TEST(type_records, types_beyond_the_size_cap_or_the_nesting_limit_are_refused) {
    // The compiler accepts this type; 0x1FFFFFFF Extended values are 5 GiB.
    auto types = CompileTypes("type TA = array[0..$1FFFFFFE] of Extended; var a: TA; begin end.");
    EXPECT_FALSE(types.AllAccepted);
    EXPECT_FALSE(const_cast<TPSTypeRec*>(types.Var(0))->CalcSize());

    TPSTypeRec byte_type(btU8);
    ASSERT_TRUE(byte_type.CalcSize());
    TPSTypeRec_StaticArray at_cap;
    at_cap.ArrayType = &byte_type;
    at_cap.Size = static_cast<std::uint32_t>(kMaxValueBytes);
    EXPECT_TRUE(at_cap.CalcSize());
    EXPECT_EQ(at_cap.RealSize, kMaxValueBytes);
    TPSTypeRec_Record over;
    over.FieldTypes = {&at_cap, &byte_type};
    EXPECT_FALSE(over.CalcSize());  // one byte over the cap
    TPSTypeRec_StaticArray wraps_32_bits;
    wraps_32_bits.ArrayType = &at_cap;
    wraps_32_bits.Size = 16;  // 16 x 256 MiB = 2^32: zero if counted in 32 bits
    EXPECT_FALSE(wraps_32_bits.CalcSize());

    std::vector<std::unique_ptr<TPSTypeRec_Array>> chain;
    const TPSTypeRec* inner = &byte_type;
    bool refused_at = false;
    for (std::uint32_t depth = 2; depth <= kMaxTypeNesting + 1; ++depth) {
        chain.push_back(std::make_unique<TPSTypeRec_Array>());
        chain.back()->ArrayType = inner;
        const bool ok = chain.back()->CalcSize();
        if (!ok) {
            refused_at = true;
            EXPECT_EQ(depth, kMaxTypeNesting + 1);
            break;
        }
        inner = chain.back().get();
    }
    EXPECT_TRUE(refused_at);

    TPSTypeRec_Set set;
    set.BitSize = kMaxSetBits;
    EXPECT_TRUE(set.CalcSize());
    set.BitSize = kMaxSetBits + 1;
    EXPECT_FALSE(set.CalcSize());
}

}  // namespace
}  // namespace script::runtime
