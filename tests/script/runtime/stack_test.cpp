// The runtime stack: items that keep their place while others come and go,
// pages reused and given back, and typed access by position.
#include "script/runtime/stack.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime_test_support.h"
#include "script/runtime/errors.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_access.h"

namespace script::runtime {
namespace {

using testing::CompileTypes;

// Items of every size: a byte, a string, a 64-bit integer and one larger
// than a page.
struct ItemTypes {
    const testing::ImageTypes All = CompileTypes(
        "type TBig = array[0..9999] of Byte; var b: Byte; s: string; i: Int64; big: TBig; begin end.");
    const TPSTypeRec* Byte = All.Var(0);
    const TPSTypeRec* String = All.Var(1);
    const TPSTypeRec* Int64 = All.Var(2);
    const TPSTypeRec* Big = All.Var(3);
};

TEST(runtime_stack, items_keep_their_addresses_across_pages_and_pops_release_their_values) {
    const ItemTypes t;
    const TPSTypeRec* byte_type = t.Byte;
    const TPSTypeRec* string_type = t.String;
    const TPSTypeRec* int64_type = t.Int64;
    const TPSTypeRec* big_type = t.Big;

    TPSStack stack;
    EXPECT_EQ(stack.Capacity(), 0u);
    // A U8 item is the type word and one byte, rounded to a whole word.
    stack.PushType(byte_type);
    EXPECT_EQ(stack.Length(), 16u);
    EXPECT_EQ(stack.Capacity(), TPSStack::kPageBytes);

    // Items of every size, a string in each third one; more than a page's
    // worth, and one item larger than any page.
    std::vector<void*> items{stack.GetItem(0)};
    for (int i = 1; i < 1000; ++i) {
        void* item = stack.PushType(i % 3 == 0 ? string_type : int64_type);
        items.push_back(item);
        if (i % 3 == 0) {
            SetStringSlot(ValueOfTypedValue(item), "item " + std::to_string(i));
        } else {
            StoreAs(ValueOfTypedValue(item), std::int64_t{i});
        }
        if (i == 900) items.push_back(stack.PushType(big_type));
    }
    EXPECT_GT(stack.Capacity(), 3u * TPSStack::kPageBytes + big_type->RealSize);
    ASSERT_EQ(stack.Count(), items.size());
    for (std::uint32_t n = 0; n < stack.Count(); ++n) ASSERT_EQ(stack.GetItem(n), items[n]);
    EXPECT_EQ(stack.GetString(3), "item 3");
    EXPECT_EQ(stack.GetReal(-2), 998.0L);
    EXPECT_EQ(stack.GetItem(stack.Count()), nullptr);
    EXPECT_EQ(stack.GetItem(static_cast<std::uint32_t>(-1)), nullptr);

    // Popping releases the strings (the test build reports a leak else) and
    // keeps at most two spare pages of the ordinary size.
    stack.PopTo(10);
    EXPECT_EQ(stack.Count(), 10u);
    EXPECT_EQ(stack.GetString(9), "item 9");
    EXPECT_EQ(stack.Capacity(), 3u * TPSStack::kPageBytes);
    // The freed places are used again.
    void* again = stack.PushType(int64_type);
    EXPECT_EQ(again, items[10]);
    stack.Clear();
    EXPECT_EQ(stack.Count(), 0u);
    EXPECT_EQ(stack.Length(), 0u);
    EXPECT_EQ(stack.Capacity(), 0u);
    stack.Pop();  // nothing to pop

    // A large item's own page is given back once it is popped.
    stack.PushType(byte_type);
    stack.PushType(big_type);
    EXPECT_GE(stack.Capacity(), TPSStack::kPageBytes + big_type->RealSize);
    stack.Pop();
    EXPECT_EQ(stack.Capacity(), TPSStack::kPageBytes);

    // A stack with a limit refuses what goes beyond it, and stays usable.
    TPSStack limited;
    limited.SetMaxBytes(100);
    limited.PushType(int64_type);
    EXPECT_THROW(limited.PushType(big_type), EPSOutOfMemory);
    EXPECT_EQ(limited.Count(), 1u);
    EXPECT_THROW(limited.Push(0xFFFFFFF0u), EPSOutOfMemory);
    limited.PushType(int64_type);
    EXPECT_EQ(limited.Count(), 2u);
}

TEST(runtime_stack, typed_access_counts_from_either_end_and_names_only_items_that_exist) {
    const auto types = CompileTypes("var i: Integer; s: string; d: Double; c: Char; begin end.");
    const std::unique_ptr<TPSTypeRec> pointer_type = CreateTypeRec(btPointer);
    pointer_type->CalcSize();
    TPSStack stack;
    stack.PushType(types.Var(0));  // 0, -5
    stack.PushType(types.Var(1));  // 1, -4
    stack.PushType(types.Var(2));  // 2, -3
    stack.PushType(types.Var(3));  // 3, -2
    void* pointer = stack.PushType(pointer_type.get());  // 4, -1

    stack.SetInt(0, -12);
    EXPECT_EQ(stack.GetInt(-5), -12);
    stack.SetUInt(-5, 4000000000u);
    EXPECT_EQ(stack.GetInt(0), static_cast<std::int32_t>(4000000000u));
    stack.SetInt64(-5, 7);
    EXPECT_EQ(stack.GetReal(0), 7.0L);
    stack.SetString(1, "text");
    EXPECT_EQ(stack.GetAnsiString(-4), "text");
    stack.SetReal(-3, 2.5L);
    EXPECT_EQ(stack.GetReal(2), 2.5L);
    stack.SetString(-2, "xy");
    EXPECT_EQ(stack.GetString(3), "x");

    // A Pointer item (a var parameter) is read and written through.
    StoreAs(ValueOfTypedValue(pointer), PSPointerValue{ValueOfTypedValue(stack.GetItem(0)), types.Var(0), 0});
    stack.SetInt(-1, 99);
    EXPECT_EQ(stack.GetInt(0), 99);
    EXPECT_EQ(stack.GetInt(-1), 99);

    // A value the item cannot take leaves it as it was.
    EXPECT_THROW(stack.SetString(0, "no"), EPSError);
    EXPECT_EQ(stack.GetInt(0), 99);
    EXPECT_THROW(stack.SetReal(1, 1.0L), EPSError);
    EXPECT_EQ(stack.GetString(1), "text");
    EXPECT_THROW(stack.GetInt(1), EPSError);

    // Positions that name no item raise without reading anything.
    for (std::int32_t index : {5, -6, 0x7FFFFFFF, static_cast<std::int32_t>(0x80000000)}) {
        try {
            stack.SetString(index, "x");
            ADD_FAILURE() << index;
        } catch (const EPSError& e) {
            EXPECT_EQ(e.Message, "Out Of Stack Range") << index;
        }
    }
    TPSStack empty;
    EXPECT_THROW(empty.GetInt(-1), EPSError);
    // An item reserved without a type has no value to read.
    empty.Push(16);
    EXPECT_THROW(empty.GetInt(0), EPSError);
    empty.Pop();
    EXPECT_EQ(empty.Count(), 0u);
}

TEST(runtime_stack, a_stack_in_one_block_keeps_its_items_side_by_side_and_gives_a_deep_block_back) {
    const ItemTypes t;
    const TPSTypeRec* byte_type = t.Byte;
    const TPSTypeRec* string_type = t.String;
    const TPSTypeRec* int64_type = t.Int64;
    const TPSTypeRec* big_type = t.Big;

    TPSStack stack;
    stack.SetMaxBytes(std::uint64_t{8} << 20);
    stack.SetOneBlock(true);
    EXPECT_EQ(stack.Capacity(), 0u);
    // Each item follows the one before it, large ones too: a frame's items
    // lie at distances their types fix.
    std::byte* expected = stack.NextItemAddress();
    for (int n = 0; n < 200; ++n) {
        const TPSTypeRec* type = n % 50 == 7 ? big_type : n % 3 == 0 ? string_type : n % 3 == 1 ? int64_type : byte_type;
        void* item = stack.PushType(type);
        ASSERT_EQ(item, expected) << n;
        expected += TPSStack::RoundedItemBytes(kTypedValueHeaderBytes + type->RealSize);
        if (type == string_type) SetStringSlot(ValueOfTypedValue(item), "item " + std::to_string(n));
    }
    EXPECT_EQ(stack.GetString(3), "item 3");
    // The quick pushes and pops of the proven forms keep the same order.
    void* plain = stack.PushPlain(int64_type, 16);
    EXPECT_EQ(plain, expected);
    EXPECT_EQ(LoadAs<std::int64_t>(ValueOfTypedValue(plain)), 0);
    EXPECT_EQ(stack.Top(), plain);
    stack.PopPlain();
    EXPECT_EQ(stack.NextItemAddress(), expected);
    // Only the pages used count, though the whole limit is reserved.
    EXPECT_GE(stack.Capacity(), stack.Length());
    EXPECT_LT(stack.Capacity(), stack.Length() + TPSStack::kPageBytes);

    // Beyond the limit: the quick pushes answer nil, a push raises, and the
    // stack stays as it was.
    const std::uint32_t count = stack.Count();
    while (stack.Length() + 16 <= stack.MaxBytes()) ASSERT_NE(stack.PushPlain(byte_type, 16), nullptr);
    EXPECT_EQ(stack.PushPlain(byte_type, 16), nullptr);
    const std::uint32_t full = stack.Count();
    EXPECT_THROW(stack.PushType(byte_type), EPSOutOfMemory);
    EXPECT_EQ(stack.Count(), full);
    EXPECT_GT(full, count);
    EXPECT_EQ(stack.GetString(3), "item 3");
    EXPECT_THROW(stack.SetOneBlock(false), EPSError);  // not while items live
    // Popped back (the strings released: the test build reports a leak
    // else), a block used this deep is given back; a shallow one stays.
    stack.PopTo(0);
    EXPECT_EQ(stack.Length(), 0u);
    EXPECT_GT(stack.Capacity(), TPSStack::kKeptBlockBytes);
    stack.TrimBlock();
    EXPECT_EQ(stack.Capacity(), 0u);
    stack.PushType(int64_type);
    stack.Pop();
    stack.TrimBlock();
    EXPECT_EQ(stack.Capacity(), TPSStack::kPageBytes);
}

}  // namespace
}  // namespace script::runtime

namespace script::runtime {
namespace {

TEST(runtime_stack, growing_pages_start_small_double_up_to_a_page_and_keep_items_in_place) {
    const ItemTypes t;
    TPSStack stack;
    stack.SetGrowingPages(true);
    stack.PushType(t.Int64);
    EXPECT_EQ(stack.Capacity(), TPSStack::kFirstSmallPageBytes);
    std::vector<void*> items{stack.GetItem(0)};
    for (int i = 1; i < 600; ++i) {
        void* item = stack.PushType(i % 2 == 0 ? t.String : t.Int64);
        items.push_back(item);
        if (i % 2 == 0) SetStringSlot(ValueOfTypedValue(item), "constant " + std::to_string(i));
        else StoreAs(ValueOfTypedValue(item), std::int64_t{i});
    }
    // 256 + 256 + 512 + 1024 + 2048 bytes, then whole pages: never more than
    // a page beyond what the items take.
    EXPECT_LT(stack.Capacity(), stack.Length() + TPSStack::kPageBytes);
    EXPECT_GE(stack.Capacity(), stack.Length());
    for (std::uint32_t n = 0; n < stack.Count(); ++n) ASSERT_EQ(stack.GetItem(n), items[n]);
    EXPECT_EQ(stack.GetString(598), "constant 598");
    EXPECT_EQ(stack.GetReal(599), 599.0L);
    // An item larger than the next small page gets room of its own size.
    const std::uint64_t before = stack.Capacity();
    TPSStack small;
    small.SetGrowingPages(true);
    small.PushType(t.Big);
    EXPECT_GE(small.Capacity(), t.Big->RealSize);
    EXPECT_LT(small.Capacity(), t.Big->RealSize + TPSStack::kPageBytes);
    EXPECT_EQ(stack.Capacity(), before);
    // Only an empty stack changes how it grows.
    EXPECT_THROW(stack.SetGrowingPages(false), EPSError);
}

}  // namespace
}  // namespace script::runtime
