#include "script/compiler/data_model.h"

#include <gtest/gtest.h>

#include "script/compiler/tokenizer.h"

namespace script::compiler {
namespace {

std::unique_ptr<TPSEnumType> MakeEnum(std::uint32_t highest) {
    auto e = std::make_unique<TPSEnumType>();
    e->HighValue = highest;
    return e;
}

TEST(data_model, set_size_follows_its_element_type) {
    TPSType u8(btU8), ch(btChar), s32(btS32);
    auto small_enum = MakeEnum(9);
    auto big_enum = MakeEnum(255);
    TPSTypeLink link;
    link.LinkTypeNo = small_enum.get();

    TPSSetType set;
    set.SetType = &ch;
    EXPECT_EQ(set.BitSize(), 256u);
    EXPECT_EQ(set.ByteSize(), 32u);
    set.SetType = &u8;
    EXPECT_EQ(set.ByteSize(), 32u);
    set.SetType = small_enum.get();
    EXPECT_EQ(set.BitSize(), 10u);
    EXPECT_EQ(set.ByteSize(), 2u);  // the remainder counts as one more byte
    set.SetType = &link;            // links are followed
    EXPECT_EQ(set.BitSize(), 10u);
    set.SetType = big_enum.get();
    EXPECT_EQ(set.BitSize(), 256u);
    EXPECT_EQ(set.ByteSize(), 32u);
    set.SetType = &s32;
    EXPECT_EQ(set.BitSize(), 0u);
    EXPECT_EQ(set.ByteSize(), 0u);
    set.SetType = nullptr;
    EXPECT_EQ(set.BitSize(), 0u);
}

TEST(data_model, names_are_stored_upper_case_with_their_hash) {
    TPSType type(btS32);
    type.SetName("myType");
    EXPECT_EQ(type.Name, "MYTYPE");
    EXPECT_EQ(type.NameHash, MakeHash("MYTYPE"));

    TPSVar var;
    var.SetName("Counter");
    EXPECT_EQ(var.OrgName, "Counter");
    EXPECT_EQ(var.Name, "COUNTER");
    EXPECT_EQ(var.NameHash, MakeHash("COUNTER"));

    TPSParameterDecl param;
    param.SetName("aValue");
    EXPECT_EQ(param.OrgName, "aValue");
    EXPECT_EQ(param.Name, "AVALUE");

    TPSRecordFieldTypeDef field;
    field.SetFieldOrgName("x1");
    EXPECT_EQ(field.FieldName, "X1");
    EXPECT_EQ(field.FieldNameHash, MakeHash("X1"));

    TPSRegProc reg;
    reg.SetName("IntToStr");
    EXPECT_EQ(reg.Name, "INTTOSTR");
    EXPECT_EQ(reg.NameHash, MakeHash("INTTOSTR"));

    EXPECT_TRUE(SameName(reg.NameHash, reg.Name, MakeHash("INTTOSTR"), "INTTOSTR"));
    EXPECT_FALSE(SameName(reg.NameHash, reg.Name, MakeHash("INTTOSTR"), "IntToStr"));
}

TEST(data_model, declarations_are_the_same_only_with_equal_result_modes_and_types) {
    TPSType s32(btS32), str(btString);
    TPSParametersDecl a, b;
    for (TPSParametersDecl* d : {&a, &b}) {
        TPSParameterDecl& p1 = d->AddParam();
        p1.AType = &s32;
        TPSParameterDecl& p2 = d->AddParam();
        p2.AType = &str;
        p2.Mode = pmInOut;
    }
    a.Result = &s32;
    b.Result = &s32;
    EXPECT_TRUE(a.Same(&b));
    b.Result = &str;
    EXPECT_FALSE(a.Same(&b));  // only the result type differs
    b.Result = &s32;
    b.Param(1).Mode = pmOut;
    EXPECT_FALSE(a.Same(&b));
    b.Param(1).Mode = pmInOut;
    b.AddParam().AType = &s32;
    EXPECT_FALSE(a.Same(&b));
    EXPECT_FALSE(a.Same(nullptr));

    TPSParametersDecl copy;
    copy.AddParam().SetName("old");
    a.Param(0).SetName("First");
    a.Param(0).DeclareRow = 7;
    copy.Assign(a);
    ASSERT_EQ(copy.ParamCount(), 2u);
    EXPECT_EQ(copy.Param(0).Name, "FIRST");
    EXPECT_EQ(copy.Param(0).OrgName, "First");
    EXPECT_EQ(copy.Param(0).DeclareRow, 7);
    EXPECT_EQ(copy.Param(1).Mode, pmInOut);
    EXPECT_EQ(copy.Result, &s32);
    EXPECT_TRUE(copy.Same(&a));
    EXPECT_NE(&copy.Param(0), &a.Param(0));  // copies, not shared items
}

TEST(data_model, released_temporaries_pop_and_remove_the_latest_locals) {
    TPSType s32(btS32);
    TPSInternalProcedure proc;
    auto named = std::make_unique<TPSProcVar>();
    named->SetName("i");
    proc.ProcVars.push_back(std::move(named));
    proc.Data = "\x0B";

    auto alloc = [&] {
        auto var = std::make_unique<TPSProcVar>();
        var->AType = &s32;
        proc.ProcVars.push_back(std::move(var));
        auto temp = std::make_unique<TPSValueAllocatedStackVar>(&proc);
        temp->LocalVarNo = static_cast<std::uint32_t>(proc.ProcVars.size() - 1);
        return temp;
    };
    auto first = alloc();
    auto second = alloc();
    EXPECT_EQ(first->LocalVarNo, 1u);
    EXPECT_EQ(second->LocalVarNo, 2u);
    second.reset();
    first.reset();
    EXPECT_EQ(proc.Data, std::string("\x0B\x04\x04"));
    ASSERT_EQ(proc.ProcVars.size(), 1u);
    EXPECT_EQ(proc.ProcVars[0]->Name, "I");

    // A temporary released with no local left is a compiler bug; it must not
    // corrupt anything.
    proc.ProcVars.clear();
    TPSValueAllocatedStackVar stray(&proc);
    (void)stray;
}

TEST(data_model, marking_types_used_numbers_components_first) {
    TPSType s32(btS32), str(btString), u8(btU8), unused(btDouble);
    TPSArrayType ta;  // array of tb, used before tb
    TPSRecordType tb;
    tb.AddRecVal().FType = &str;
    tb.AddRecVal().FType = &u8;
    ta.ArrayTypeNo = &tb;
    TPSTypeLink link;
    link.LinkTypeNo = &ta;
    TPSProceduralType proc_type;
    proc_type.ProcDef.Result = &s32;
    proc_type.ProcDef.AddParam().AType = &u8;

    TPSTypeNumbering numbering;
    numbering.UseType(&link);  // through the link
    EXPECT_FALSE(link.Used);
    EXPECT_EQ(str.FinalTypeNo, 0);
    EXPECT_EQ(u8.FinalTypeNo, 1);
    EXPECT_EQ(tb.FinalTypeNo, 2);  // element before its array
    EXPECT_EQ(ta.FinalTypeNo, 3);
    numbering.UseType(&tb);  // already used: keeps its number
    EXPECT_EQ(tb.FinalTypeNo, 2);
    numbering.UseType(&proc_type);
    EXPECT_EQ(s32.FinalTypeNo, 4);
    EXPECT_EQ(proc_type.FinalTypeNo, 5);
    numbering.UseType(nullptr);
    EXPECT_EQ(numbering.Count(), 6);
    EXPECT_FALSE(unused.Used);
    EXPECT_EQ(unused.FinalTypeNo, -1);

    TPSSetType set;
    auto e = MakeEnum(3);
    set.SetType = e.get();
    TPSStaticArrayType fixed;
    fixed.ArrayTypeNo = &set;
    numbering.UseType(&fixed);
    EXPECT_EQ(e->FinalTypeNo, 6);
    EXPECT_EQ(set.FinalTypeNo, 7);
    EXPECT_EQ(fixed.FinalTypeNo, 8);
}

TEST(data_model, type_objects_match_their_base_code) {
    EXPECT_NE(dynamic_cast<TPSRecordType*>(NewTypeForBaseType(btRecord).get()), nullptr);
    EXPECT_NE(dynamic_cast<TPSStaticArrayType*>(NewTypeForBaseType(btStaticArray).get()), nullptr);
    EXPECT_NE(dynamic_cast<TPSArrayType*>(NewTypeForBaseType(btArray).get()), nullptr);
    EXPECT_NE(dynamic_cast<TPSVariantType*>(NewTypeForBaseType(btNotificationVariant).get()), nullptr);
    EXPECT_NE(dynamic_cast<TPSSetType*>(NewTypeForBaseType(btSet).get()), nullptr);
    EXPECT_NE(dynamic_cast<TPSEnumType*>(NewTypeForBaseType(btEnum).get()), nullptr);
    EXPECT_NE(dynamic_cast<TPSTypeLink*>(NewTypeForBaseType(btTypeLink).get()), nullptr);
    EXPECT_NE(dynamic_cast<TPSProceduralType*>(NewTypeForBaseType(btProcPtr).get()), nullptr);
    EXPECT_NE(dynamic_cast<TPSInterfaceType*>(NewTypeForBaseType(btInterface).get()), nullptr);
    EXPECT_NE(dynamic_cast<TPSUndefinedClassType*>(NewTypeForBaseType(btUndefinedClass).get()), nullptr);
    for (std::uint8_t code : {btU8, btString, btS64, btCurrency, btPointer, btClass}) {
        auto t = NewTypeForBaseType(code);
        EXPECT_EQ(t->BaseType, code);
        EXPECT_EQ(t->FinalTypeNo, -1);
        EXPECT_EQ(t->DeclarePos, -1);
    }
}

TEST(data_model, constant_cells_start_empty_and_duplicate_deeply) {
    auto e = MakeEnum(9);
    TPSSetType set;
    set.SetType = e.get();
    auto cell = NewConstValue(&set);
    EXPECT_EQ(cell->tstring, std::string(2, '\0'));  // the empty set of 10 bits

    TPSType str(btString), s32(btS32);
    auto text = NewConstValue(&str);
    text->tstring = "hello";
    auto dup = DuplicateConstValue(*text);
    text->tstring = "changed";
    EXPECT_EQ(dup->FType, &str);
    EXPECT_EQ(dup->tstring, "hello");

    auto number = NewConstValue(&s32);
    number->ts32 = -5;
    number->tstring = "stale";
    InitConstValue(*number, &s32);
    EXPECT_EQ(number->ts32, 0);
    EXPECT_TRUE(number->tstring.empty());

    // Copying keeps the destination's type and copies the member that the
    // source's type selects.
    TPSType u16(btU16);
    auto source = NewConstValue(&u16);
    source->tu16 = 0xBEEF;
    auto dest = NewConstValue(&s32);
    CopyConstValue(*source, *dest);
    EXPECT_EQ(dest->FType, &s32);
    EXPECT_EQ(dest->tu16, 0xBEEF);
}

TEST(data_model, attributes_assign_in_reverse_order_by_copy_or_move) {
    TPSAttributeType first_type, second_type;
    first_type.SetName("First");
    second_type.SetName("Second");
    TPSType str(btString);

    TPSAttributes source;
    source.Add(&first_type).AddValue(&str).tstring = "one";
    source.Add(&second_type);

    TPSAttributes copied;
    copied.Assign(source, false);
    ASSERT_EQ(copied.Count(), 2u);
    EXPECT_EQ(copied.Item(0).AType, &second_type);
    EXPECT_EQ(copied.Item(1).AType, &first_type);
    ASSERT_EQ(copied.Item(1).Count(), 1u);
    source.Item(0).Item(0).tstring = "changed";
    EXPECT_EQ(copied.Item(1).Item(0).tstring, "one");  // values were duplicated
    EXPECT_EQ(source.Count(), 2u);

    TPSAttributes moved;
    moved.Add(&first_type);
    moved.Assign(source, true);
    EXPECT_EQ(source.Count(), 0u);
    ASSERT_EQ(moved.Count(), 3u);
    EXPECT_EQ(moved.Item(1).AType, &second_type);
    EXPECT_EQ(moved.Item(2).Item(0).tstring, "changed");
}

// A whole expression tree with replacements, calls and their temporaries is
// freed exactly once; every temporary it held is released with one Pop.
TEST(data_model, value_trees_free_what_they_own_and_release_temporaries) {
    TPSType s32(btS32);
    TPSInternalProcedure proc;
    auto temp = [&] {
        proc.ProcVars.push_back(std::make_unique<TPSProcVar>());
        auto t = std::make_unique<TPSValueAllocatedStackVar>(&proc);
        t->LocalVarNo = static_cast<std::uint32_t>(proc.ProcVars.size() - 1);
        return t;
    };

    auto call = std::make_unique<TPSValueProcNo>();
    call->ProcNo = 3;
    call->SelfPtr = std::make_unique<TPSValueNil>();
    TPSParameter& arg = call->Parameters.Add();
    auto data = std::make_unique<TPSValueData>();
    data->Data = NewConstValue(&s32);
    arg.Val = std::move(data);
    arg.TempVar = temp();

    auto var = std::make_unique<TPSValueGlobalVar>();
    auto index = std::make_unique<TPSSubValue>();
    index->SubNo = std::make_unique<TPSValueLocalVar>();
    var->RecAdd(std::move(index));
    var->RecAdd(std::make_unique<TPSSubNumber>());
    var->RecDelete(1);
    var->RecDelete(5);  // out of range: nothing
    EXPECT_EQ(var->RecCount(), 1u);

    auto bin = std::make_unique<TPSBinValueOp>();
    bin->Val1 = std::move(var);
    bin->Val2 = std::move(call);
    bin->Operator = otAdd;

    // The replacement owns the temporary it writes instead, and borrows the
    // value it stands for.
    auto replace = std::make_unique<TPSValueReplace>();
    replace->OldValue.Borrow(bin.get());
    replace->NewValue.Own(temp());
    replace->PreWriteAllocated = true;
    EXPECT_FALSE(replace->OldValue.Owns());
    EXPECT_TRUE(replace->NewValue.Owns());
    EXPECT_EQ(proc.ProcVars.size(), 2u);
    replace.reset();
    EXPECT_EQ(proc.Data, "\x04");
    EXPECT_EQ(proc.ProcVars.size(), 1u);

    // Owning the old value and handing it back.
    auto back = std::make_unique<TPSValueReplace>();
    back->OldValue.Own(std::move(bin));
    std::unique_ptr<TPSValue> restored = back->OldValue.Release();
    back.reset();
    ASSERT_NE(restored, nullptr);
    restored.reset();  // frees the call, its argument and its temporary
    EXPECT_EQ(proc.Data, "\x04\x04");
    EXPECT_TRUE(proc.ProcVars.empty());

    auto array = std::make_unique<TPSValueArray>();
    array->Add(std::make_unique<TPSValueNil>());
    array->Add(std::make_unique<TPSValueProcPtr>());
    EXPECT_EQ(array->Count(), 2u);
    auto unary = std::make_unique<TPSUnValueOp>();
    unary->Val1 = std::move(array);
    auto proc_val = std::make_unique<TPSValueProcVal>();
    proc_val->ProcNo = std::move(unary);
    proc_val.reset();
}

TEST(data_model, values_take_the_position_of_the_current_token) {
    TPSPascalParser parser;
    parser.SetText("a\r\n  bc");
    parser.Next();
    TPSValueNil value;
    value.SetParserPos(parser);
    EXPECT_EQ(value.Pos, 5u);
    EXPECT_EQ(value.Row, 2u);
    EXPECT_EQ(value.Col, 3u);
}

TEST(data_model, block_info_shares_its_owners_procedure_and_frees_its_with_list) {
    TPSInternalProcedure proc;
    TPSBlockInfo outer(nullptr);
    outer.Proc = &proc;
    outer.ProcNo = 4;
    {
        TPSBlockInfo inner(&outer);
        EXPECT_EQ(inner.Owner, &outer);
        EXPECT_EQ(inner.Proc, &proc);
        EXPECT_EQ(inner.ProcNo, 4u);
        for (int i = 0; i < 2; ++i) {
            proc.ProcVars.push_back(std::make_unique<TPSProcVar>());
            auto with = std::make_unique<TPSValueReplace>();
            with->NewValue.Own(std::make_unique<TPSValueAllocatedStackVar>(&proc));
            inner.WithList.push_back(std::move(with));
        }
        inner.Code() += "\x09";
    }
    EXPECT_EQ(proc.Data, "\x09\x04\x04");
    EXPECT_TRUE(proc.ProcVars.empty());
}

TEST(data_model, image_names_longer_than_one_length_byte_are_refused) {
    EXPECT_TRUE(FitsImageName(""));
    EXPECT_TRUE(FitsImageName(std::string(255, 'A')));
    EXPECT_FALSE(FitsImageName(std::string(256, 'A')));
}

}  // namespace
}  // namespace script::compiler
