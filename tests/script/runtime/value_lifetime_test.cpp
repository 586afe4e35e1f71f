#include "script/runtime/value_lifetime.h"

#include <gtest/gtest.h>

#include "runtime_test_support.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_access.h"
#include "script/runtime/variant.h"

namespace script::runtime {
namespace {

using testing::CompileTypes;
using testing::Value;

// Globals: 0 array of String, 1 TM (String, Variant, Integer), 2 array of
// TM, 3 String, 4 Pointer-free record, 5 array of array of String.
const testing::ImageTypes& Types() {
    static const auto types = CompileTypes(
        "type TM = record s: String; v: Variant; n: Integer; end; TPlain = record a: Byte; b: Double; end;\n"
        "var a: array of String; m: TM; am: array of TM; s: String; p: TPlain; aa: array of array of String;\n"
        "begin end.");
    return types;
}

void* Element(Value& array, std::size_t i, const TPSTypeRec* type) {
    return static_cast<std::byte*>(array.Get<void*>()) + i * AsArray(type).ArrayType->RealSize;
}

TEST(value_lifetime, dynamic_arrays_live_as_long_as_their_last_reference) {
    const TPSTypeRec* strings = Types().Var(0);
    Value a(strings), b(strings);
    SetDynArrayLength(a.Addr(), strings, 3);
    for (int i = 0; i < 3; ++i) SetStringSlot(Element(a, i, strings), "item" + std::to_string(i));
    ASSERT_TRUE(CopyValues(b.Addr(), a.Addr(), 1, strings));
    void* block = a.Get<void*>();
    EXPECT_EQ(b.Get<void*>(), block);
    EXPECT_EQ(BlockRefCount(block), 2);

    FinalizeValue(b.Addr(), strings);
    EXPECT_EQ(BlockRefCount(block), 1);
    EXPECT_EQ(b.Get<void*>(), nullptr);  // b no longer holds it
    EXPECT_EQ(StringSlotView(Element(a, 2, strings)), "item2");
    FinalizeValue(a.Addr(), strings);  // the last reference: strings and block go (ASan checks)
    EXPECT_EQ(a.Get<void*>(), nullptr);
    EXPECT_EQ(GetDynArrayLength(a.Addr(), strings), 0);

    // A block with a negative count belongs to no value and is never freed.
    void* fixed = NewBlock(2 * sizeof(void*), 2);
    BlockHeaderOf(fixed)->RefCount = -1;
    a.Set(fixed);
    FinalizeValue(a.Addr(), strings);
    EXPECT_EQ(BlockRefCount(fixed), -1);
    a.Set(fixed);
    SetDynArrayLength(a.Addr(), strings, 1);  // changing it makes a copy
    EXPECT_NE(a.Get<void*>(), fixed);
    EXPECT_EQ(BlockCount(fixed), 2);
    FreeBlock(fixed);
}

TEST(value_lifetime, containers_release_every_string_array_and_variant_they_hold) {
    const TPSTypeRec* tm = Types().Var(1);
    const TPSTypeRec* tms = Types().Var(2);
    const TPSTypeRec* str = Types().Var(3);
    Value keeper(str);
    SetStringSlot(keeper.Addr(), "shared text");
    const PSStr text = LoadStr(keeper.Addr());

    {
        Value m(tm);
        ShareStringSlot(m.Addr(), keeper.Addr());
        Variant::StoreIntoSlot(static_cast<std::byte*>(m.Addr()) + 8, Variant::String("variant text"));
        EXPECT_EQ(BlockRefCount(text), 2);
        // Finalising the record releases its string and its Variant.
        FinalizeValue(m.Addr(), tm);
        EXPECT_EQ(BlockRefCount(text), 1);
        EXPECT_EQ(Variant::SlotVType(static_cast<std::byte*>(m.Addr()) + 8), varEmpty);

        // An array of records holding strings and Variants that hold arrays.
        Value am(tms);
        SetDynArrayLength(am.Addr(), tms, 4);
        for (std::size_t i = 0; i < 4; ++i) {
            auto* rec = static_cast<std::byte*>(Element(am, i, tms));
            ShareStringSlot(rec, keeper.Addr());
            Variant inner = Variant::Array(0, 1);
            inner.SetElement(0, Variant::String("deep"));
            inner.SetElement(1, Variant::Array(5, 6));
            Variant::StoreIntoSlot(rec + 8, inner);
        }
        EXPECT_EQ(BlockRefCount(text), 5);
        Value copy(tms);
        ASSERT_TRUE(CopyValues(copy.Addr(), am.Addr(), 1, tms));
    }  // both values finalised here; ASan reports any leak or double free
    EXPECT_EQ(BlockRefCount(text), 1);

    // Typed heap values hold their type record; a list of them goes last
    // first.
    auto list = std::make_unique<TPSList>();
    for (const TPSTypeRec* t : {str, tm, tms, Types().Var(5), Types().Var(4)}) {
        void* block = CreateTypedHeapValue(t);
        EXPECT_EQ(TypeOfTypedValue(block), t);
        list->Add(block);
    }
    PSSetVarString(list->GetItem(0), "heap string");
    EXPECT_EQ(PSGetVarString(list->GetItem(0)), "heap string");
    void* nested = ValueOfTypedValue(list->GetItem(3));
    SetDynArrayLength(nested, Types().Var(5), 2);
    SetDynArrayLength(LoadAs<std::byte*>(nested) + sizeof(void*), AsArray(Types().Var(5)).ArrayType, 3);
    FreeTypedHeapValueList(std::move(list));

    // Attributes own their typed values.
    TPSTypeRec with_attributes(btU8);
    TPSRuntimeAttribute& attr = with_attributes.Attributes.Add("TAG");
    EXPECT_EQ(attr.AttribTypeHash, MakeHash("TAG"));
    SetStringSlot(attr.AddValue(str), "attribute text");
    SetDynArrayLength(attr.AddValue(tms), tms, 2);
    EXPECT_EQ(with_attributes.Attributes.Count(), 1u);
    EXPECT_EQ(PSGetVarString(with_attributes.Attributes[0].Values[0].get()), "attribute text");
    DestroyTypedHeapValue(nullptr);
    DestroyHeapValue(nullptr, str);
}

TEST(value_lifetime, a_pointer_frees_only_the_copy_it_owns) {
    testing::ImageTypes types = CompileTypes("var s: String; begin end.");
    const TPSTypeRec* str = types.Var(0);
    TPSTypeRec pointer(btPointer);
    pointer.CalcSize();
    Value target(str);
    SetStringSlot(target.Addr(), "target");

    Value borrowed(&pointer);
    borrowed.Set(PSPointerValue{target.Addr(), str, 0});
    FinalizeValue(borrowed.Addr(), &pointer);
    EXPECT_EQ(borrowed.Get<PSPointerValue>().Address, target.Addr());  // left pointing where it pointed
    EXPECT_EQ(StringSlotView(target.Addr()), "target");

    Value owning(&pointer);
    void* copy = CreateHeapValue(str);
    SetStringSlot(copy, "owned copy");
    owning.Set(PSPointerValue{copy, str, 1});
    FinalizeValue(owning.Addr(), &pointer);  // the copy and its string are freed
    EXPECT_EQ(owning.Get<PSPointerValue>().Address, nullptr);
    EXPECT_EQ(owning.Get<PSPointerValue>().OwnsCopy, 0u);
}

TEST(value_lifetime, deeply_nested_variant_arrays_are_released_without_recursion) {
    Variant v = Variant::String("core");
    for (int i = 0; i < 200000; ++i) {
        Variant outer = Variant::Array(0, 0);
        outer.SetElement(0, std::move(v));
        v = std::move(outer);
    }
    EXPECT_EQ(v.VType(), varVariantArray);
    v = Variant();  // would overflow the machine stack if released recursively
    EXPECT_TRUE(v.IsEmpty());
}

}  // namespace
}  // namespace script::runtime
