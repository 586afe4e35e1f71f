#include "script/compiler/image_writer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/ps_image_reader.h"

namespace script::compiler {
namespace {

using test_support::DecodeCode;
using test_support::PSImage;
using test_support::PSImageError;
using test_support::ReadImage;

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

std::string Le32(std::uint32_t v) { return Bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)}); }

// A hand-built compilation: the compiler's three lists and its numbering.
struct Model {
    TPSTypeList types;
    TPSProcedureList procs;
    TPSVarList vars;
    TPSTypeNumbering numbering;

    template <class T = TPSType, class... Args>
    T* Add(std::string_view name, Args&&... args) {
        auto t = std::make_unique<T>(std::forward<Args>(args)...);
        t->SetName(name);
        T* raw = t.get();
        types.push_back(std::move(t));
        return raw;
    }
    TPSType* Plain(std::string_view name, std::uint8_t code, bool use = true) {
        TPSType* t = Add(name, code);
        if (use) numbering.UseType(t);
        return t;
    }
    TPSEnumType* Enum(std::string_view name, std::uint32_t highest) {
        TPSEnumType* t = Add<TPSEnumType>(name);
        t->HighValue = highest;
        numbering.UseType(t);
        return t;
    }
    TPSInternalProcedure* Internal(std::string_view name) {
        auto p = std::make_unique<TPSInternalProcedure>();
        p->SetName(name);
        p->OriginalName = std::string(name);
        TPSInternalProcedure* raw = p.get();
        procs.push_back(std::move(p));
        return raw;
    }
    TPSVar* Var(std::string_view name, TPSType* type) {
        auto v = std::make_unique<TPSVar>();
        v->SetName(name);
        v->AType = type;
        TPSVar* raw = v.get();
        vars.push_back(std::move(v));
        return raw;
    }
    TPSImageSource Source() const {
        TPSImageSource s;
        s.Types = &types;
        s.Procs = &procs;
        s.Vars = &vars;
        return s;
    }
    std::string Write() const {
        TPSImageOutput out;
        EXPECT_TRUE(WriteImage(Source(), out)) << out.Error;
        return out.Image;
    }
    std::string Refusal() const {
        TPSImageOutput out;
        EXPECT_FALSE(WriteImage(Source(), out));
        EXPECT_TRUE(out.Image.empty());
        return out.Error;
    }
};

TEST(image_writer, empty_model_gives_the_bare_header) {
    Model m;
    EXPECT_EQ(m.Write(), std::string("VSCR") + Le32(23) + Le32(0) + Le32(0) + Le32(0) + Le32(0xFFFFFFFF) + Le32(0));
}

TEST(image_writer, tiny_main_procedure_is_written_byte_exact) {
    Model m;
    TPSType* s32 = m.Plain("LongInt", btS32);
    TPSInternalProcedure* main = m.Internal("!MAIN");
    // Assign global 0 := 7; Ret
    BlockWriteByte(main->Data, opAssign);
    WriteVariableOperand(main->Data, GlobalVarAddress(0));
    auto seven = NewConstValue(s32);
    seven->ts32 = 7;
    ASSERT_TRUE(WriteConstantOperand(main->Data, *seven));
    BlockWriteByte(main->Data, opRet);
    m.Var("X", s32);

    const std::string header = std::string("VSCR") + Le32(23) + Le32(1) + Le32(1) + Le32(1) + Le32(0) + Le32(0);
    const std::string type = Bytes({btS32}) + Le32(0);                       // no attributes
    const std::string proc_head = Bytes({2});                                // internal
    const std::string proc_tail = Le32(5) + "!MAIN" + Le32(2) + "-1";        // name, declaration
    const std::string var = Le32(0) + Bytes({0});
    const std::string code = Bytes({0, 0}) + Le32(0) + Bytes({1}) + Le32(0) + Le32(7) + Bytes({9});
    const std::uint32_t code_at = static_cast<std::uint32_t>(
        header.size() + type.size() + proc_head.size() + 8 + proc_tail.size() + var.size());
    const std::string expected =
        header + type + proc_head + Le32(code_at) + Le32(static_cast<std::uint32_t>(code.size())) + proc_tail + var + code;
    EXPECT_EQ(m.Write(), expected);

    const PSImage image = ReadImage(expected);
    ASSERT_EQ(image.Procs.size(), 1u);
    EXPECT_EQ(image.MainProc, 0u);
    EXPECT_EQ(image.Procs[0].Code, code);
    auto ins = DecodeCode(image, image.Procs[0].Code);
    ASSERT_EQ(ins.size(), 2u);
    EXPECT_EQ(ins[0].Opcode, opAssign);
    EXPECT_EQ(ins[0].Operands[0].Kind, okVariable);
    EXPECT_EQ(ins[0].Operands[1].Constant.AsUnsigned(), 7u);
    EXPECT_EQ(ins[1].Opcode, opRet);
}

// Every constant encoding: the type number, then the value bytes by base code.
TEST(image_writer, constants_carry_their_type_number_and_value_bytes) {
    Model m;
    auto check = [&](TPSType* type, auto fill, const std::string& value_bytes) {
        auto cell = NewConstValue(type);
        fill(*cell);
        std::string code;
        ASSERT_TRUE(BlockWriteConstant(code, *cell)) << type->Name;
        EXPECT_EQ(code, Le32(static_cast<std::uint32_t>(type->FinalTypeNo)) + value_bytes) << type->Name;
    };
    check(m.Plain("Byte", btU8), [](TPSConstValue& c) { c.tu8 = 0xFE; }, Bytes({0xFE}));
    check(m.Plain("ShortInt", btS8), [](TPSConstValue& c) { c.ts8 = -2; }, Bytes({0xFE}));
    check(m.Plain("Char", btChar), [](TPSConstValue& c) { c.tchar = 'A'; }, "A");
    check(m.Plain("Word", btU16), [](TPSConstValue& c) { c.tu16 = 0x1234; }, Bytes({0x34, 0x12}));
    check(m.Plain("SmallInt", btS16), [](TPSConstValue& c) { c.ts16 = -2; }, Bytes({0xFE, 0xFF}));
    check(m.Plain("LongWord", btU32), [](TPSConstValue& c) { c.tu32 = 0x89ABCDEF; }, Le32(0x89ABCDEF));
    check(m.Plain("LongInt", btS32), [](TPSConstValue& c) { c.ts32 = -1; }, Le32(0xFFFFFFFF));
    check(m.Plain("Single", btSingle), [](TPSConstValue& c) { c.tsingle = 1.5f; }, Le32(0x3FC00000));
    check(m.Plain("Double", btDouble), [](TPSConstValue& c) { c.tdouble = -2.0; },
          Le32(0) + Le32(0xC0000000));
    // 1.0 in the 80-bit format: explicit integer bit, exponent 0x3FFF.
    check(m.Plain("Extended", btExtended), [](TPSConstValue& c) { c.textended = 1.0L; },
          Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}));
    check(m.Plain("Int64", btS64), [](TPSConstValue& c) { c.ts64 = 5000000000LL; },
          Le32(0x2A05F200) + Le32(1));
    // Currency 1.5 is stored as the scaled integer 15000.
    check(m.Plain("Currency", btCurrency), [](TPSConstValue& c) { c.tcurrency = 15000; }, Le32(15000) + Le32(0));
    check(m.Plain("String", btString), [](TPSConstValue& c) { c.tstring = "it's"; }, Le32(4) + "it's");
    check(m.Plain("String", btString), [](TPSConstValue&) {}, Le32(0));
    // PChar constants are counted text as well: the runtime reads them so.
    check(m.Plain("PChar", btPChar), [](TPSConstValue&) {}, Le32(0));
    check(m.Plain("Variant", btVariant), [](TPSConstValue&) {}, "");
    TPSProceduralType* proc_type = m.Add<TPSProceduralType>("TProc");
    m.numbering.UseType(proc_type);
    check(proc_type, [](TPSConstValue& c) { c.tu32 = 3; }, Le32(3));

    TPSEnumType* colors = m.Enum("TColors", 9);
    TPSSetType* set = m.Add<TPSSetType>("TColorSet");
    set->SetType = colors;
    m.numbering.UseType(set);
    check(set, [](TPSConstValue& c) { c.tstring[0] = 0x05; c.tstring[1] = 0x02; }, Bytes({0x05, 0x02}));
    check(colors, [](TPSConstValue& c) { c.tu32 = 2; }, Bytes({2}));

    TPSType* type_ref = m.Add("!TYPEREF", btTypeRef);
    m.numbering.UseType(type_ref);
    check(type_ref, [&](TPSConstValue& c) { c.ttype = colors; }, Le32(static_cast<std::uint32_t>(colors->FinalTypeNo)));

    // Constants that cannot be written faithfully are refused, leaving the code alone.
    std::string code = "x";
    auto bad_set = NewConstValue(set);
    bad_set->tstring.push_back('\0');
    EXPECT_FALSE(BlockWriteConstant(code, *bad_set));
    TPSType* unnumbered = m.Plain("Unused", btS32, false);
    EXPECT_FALSE(BlockWriteConstant(code, *NewConstValue(unnumbered)));
    EXPECT_FALSE(BlockWriteConstant(code, TPSConstValue{}));
    EXPECT_FALSE(WriteConstantOperand(code, TPSConstValue{}));
    EXPECT_EQ(code, "x");
}

TEST(image_writer, operands_are_written_by_kind_with_variable_addresses) {
    EXPECT_EQ(LocalVarAddress(0), 0x60000001u);
    EXPECT_EQ(LocalVarAddress(2), 0x60000003u);
    EXPECT_EQ(ParamVarAddress(0), 0x5FFFFFFFu);
    EXPECT_EQ(ParamVarAddress(1), 0x5FFFFFFEu);
    EXPECT_EQ(GlobalVarAddress(3), 3u);

    std::string code;
    WriteVariableOperand(code, LocalVarAddress(1));
    WriteElementNumberOperand(code, GlobalVarAddress(2), 5);
    WriteElementIndexOperand(code, ParamVarAddress(0), LocalVarAddress(0));
    EXPECT_EQ(code, Bytes({0}) + Le32(0x60000002) + Bytes({2}) + Le32(2) + Le32(5) + Bytes({3}) + Le32(0x5FFFFFFF) +
                        Le32(0x60000001));
}

TEST(image_writer, operator_bytes_map_div_and_comparisons) {
    std::uint8_t byte = 0xFF;
    EXPECT_TRUE(CalcByteOf(otIntDiv, byte));
    EXPECT_EQ(byte, caDiv);
    EXPECT_TRUE(CalcByteOf(otDivide, byte));
    EXPECT_EQ(byte, 3);
    EXPECT_TRUE(CalcByteOf(otXor, byte));
    EXPECT_EQ(byte, 9);
    EXPECT_FALSE(CalcByteOf(otAs, byte));
    EXPECT_FALSE(CalcByteOf(otEqual, byte));
    EXPECT_TRUE(CompareByteOf(otEqual, byte));
    EXPECT_EQ(byte, 5);
    EXPECT_TRUE(CompareByteOf(otNotEqual, byte));
    EXPECT_EQ(byte, 4);
    EXPECT_TRUE(CompareByteOf(otGreaterEqual, byte));
    EXPECT_EQ(byte, 0);
    EXPECT_TRUE(CompareByteOf(otIs, byte));
    EXPECT_EQ(byte, 7);
    EXPECT_TRUE(CompareByteOf(otIn, byte));
    EXPECT_EQ(byte, 6);
    EXPECT_FALSE(CompareByteOf(otAdd, byte));
}

// Distances count from the first byte after the whole instruction, operand
// included; a placeholder is patched once.
TEST(image_writer, jumps_are_patched_relative_to_the_end_of_their_instruction) {
    Model m;
    TPSType* boolean = m.Enum("Boolean", 1);
    TPSInternalProcedure* main = m.Internal("!MAIN");
    std::string& code = main->Data;

    const std::uint32_t head = static_cast<std::uint32_t>(code.size());  // loop head
    BlockWriteByte(code, opCondNotGoto);
    const std::uint32_t cond_field = WriteJumpPlaceholder(code);
    WriteVariableOperand(code, GlobalVarAddress(0));
    const std::uint32_t cond_end = static_cast<std::uint32_t>(code.size());
    EXPECT_EQ(cond_end - cond_field, 9u);  // four distance bytes and the operand

    BlockWriteByte(code, opGoto);  // back to the head
    const std::uint32_t back_field = WriteJumpPlaceholder(code);
    const std::uint32_t back_end = static_cast<std::uint32_t>(code.size());
    const std::uint32_t loop_end = back_end;
    BlockWriteByte(code, opRet);

    EXPECT_EQ(ReadLongAt(code, cond_field), kJumpPlaceholder);
    ASSERT_TRUE(PatchJump(code, back_field, back_end, head));
    ASSERT_TRUE(PatchJump(code, cond_field, cond_end, loop_end));
    EXPECT_EQ(static_cast<std::int32_t>(ReadLongAt(code, back_field)), -static_cast<std::int32_t>(back_end));
    EXPECT_EQ(ReadLongAt(code, cond_field), 5u);  // over the five-byte Goto
    // Patched once only; fields outside the code are refused.
    EXPECT_FALSE(PatchJump(code, back_field, back_end, 0));
    EXPECT_FALSE(PatchJump(code, static_cast<std::uint32_t>(code.size()) - 2, 0, 0));
    EXPECT_FALSE(WriteLongAt(code, static_cast<std::uint32_t>(code.size()), 0));
    m.Var("Flag", boolean);

    const PSImage image = ReadImage(m.Write());
    const auto ins = DecodeCode(image, image.Procs[0].Code);
    ASSERT_EQ(ins.size(), 3u);
    EXPECT_TRUE(ins[0].IsJump);
    EXPECT_EQ(ins[0].Target, ins[2].Pos);  // the CondNotGoto lands on the Ret
    EXPECT_EQ(ins[0].Operands.size(), 1u);
    EXPECT_EQ(ins[1].Target, ins[0].Pos);  // the Goto on the loop head
    EXPECT_EQ(ins[1].Distance, -static_cast<std::int32_t>(ins[1].End));
}

// The enumeration's storage must hold its highest value: the one-byte form
// ends at 256 names, the two-byte form at 65536.
TEST(image_writer, enumerations_are_sized_by_their_highest_value) {
    struct Case {
        std::uint32_t highest;
        std::uint8_t code;
        std::size_t bytes;
    };
    for (const Case c : {Case{2, btU8, 1}, Case{255, btU8, 1}, Case{256, btU16, 2}, Case{300, btU16, 2},
                         Case{65535, btU16, 2}, Case{65536, btU32, 4}, Case{70000, btU32, 4},
                         Case{0x7FFFFFFF, btU32, 4}}) {
        Model m;
        TPSEnumType* e = m.Enum("TE", c.highest);
        auto last = NewConstValue(e);
        last->tu32 = c.highest;
        TPSInternalProcedure* main = m.Internal("!MAIN");
        BlockWriteByte(main->Data, opPush);
        ASSERT_TRUE(WriteConstantOperand(main->Data, *last));
        const PSImage image = ReadImage(m.Write());
        ASSERT_EQ(image.Types.size(), 1u);
        EXPECT_EQ(image.Types[0].BaseType, c.code) << c.highest;
        const auto ins = DecodeCode(image, image.Procs[0].Code);
        ASSERT_EQ(ins.size(), 1u);
        EXPECT_EQ(ins[0].Operands[0].Constant.Bytes.size(), c.bytes) << c.highest;
        EXPECT_EQ(ins[0].Operands[0].Constant.AsUnsigned(), c.highest);  // no value is cut
    }
    EXPECT_EQ(ImageBaseCode(btEnum, 255), btU8);     // ByteBool
    EXPECT_EQ(ImageBaseCode(btEnum, 65535), btU16);  // WordBool
    EXPECT_EQ(ImageBaseCode(btNotificationVariant), btU32);
    EXPECT_EQ(ImageBaseCode(btTypeRef), btU32);
}

// Only used types are written, each in the slot of its number, with its
// payload, export name and attributes.
TEST(image_writer, type_table_follows_the_numbers_given_by_use_marking) {
    Model m;
    TPSType* unused_first = m.Plain("Unused", btDouble, false);
    TPSType* s32 = m.Add("LongInt", btS32);
    TPSType* str = m.Add("String", btString);
    TPSRecordType* rec = m.Add<TPSRecordType>("TRec");
    rec->AddRecVal().FType = s32;
    rec->AddRecVal().FType = str;
    TPSArrayType* dyn = m.Add<TPSArrayType>("TRecs");  // declared before its element is used
    dyn->ArrayTypeNo = rec;
    TPSStaticArrayType* fixed = m.Add<TPSStaticArrayType>("TFixed");
    fixed->ArrayTypeNo = s32;
    fixed->Length = 10;
    fixed->StartOffset = -5;
    TPSProceduralType* proc_type = m.Add<TPSProceduralType>("TCallback");
    proc_type->ProcDef.Result = s32;
    proc_type->ProcDef.AddParam().AType = str;
    proc_type->ProcDef.AddParam().Mode = pmInOut;
    TPSInterfaceType* intf = m.Add<TPSInterfaceType>("IDispatch");
    intf->Guid[0] = 0x00020400;
    intf->Guid[3] = 0x46000000;
    intf->ExportName = true;
    TPSType* exported = m.Add("TVarType", btU32);
    exported->ExportName = true;
    TPSAttributeType marker;
    marker.SetName("Marker");
    auto& attribute = exported->Attributes.Add(&marker);
    attribute.AddValue(str).tstring = "hi";

    m.numbering.UseType(dyn);
    m.numbering.UseType(fixed);
    m.numbering.UseType(proc_type);
    m.numbering.UseType(intf);
    m.numbering.UseType(exported);
    ASSERT_EQ(m.numbering.Count(), 8);

    const PSImage image = ReadImage(m.Write());
    ASSERT_EQ(image.Types.size(), 8u);
    EXPECT_FALSE(unused_first->Used);
    auto at = [&](const TPSType* t) { return image.Types.at(static_cast<std::size_t>(t->FinalTypeNo)); };
    EXPECT_EQ(at(rec).BaseType, btRecord);
    EXPECT_EQ(at(rec).FieldTypes, (std::vector<std::uint32_t>{0, 1}));
    EXPECT_EQ(rec->FinalTypeNo, 2);
    EXPECT_EQ(at(dyn).ElementType, 2u);
    EXPECT_EQ(at(fixed).ElementType, 0u);
    EXPECT_EQ(at(fixed).ElementCount, 10u);
    EXPECT_EQ(static_cast<std::int32_t>(at(fixed).StartOffset), -5);
    EXPECT_EQ(at(proc_type).ProcSignature, Bytes({1, 0, 1}));
    EXPECT_EQ(at(intf).RawCode, btInterface + 128);
    EXPECT_EQ(at(intf).Guid[0], 0x00020400u);
    EXPECT_EQ(at(intf).Guid[3], 0x46000000u);
    EXPECT_EQ(at(intf).ExportName, "IDISPATCH");
    EXPECT_EQ(at(exported).RawCode, 133);  // code 5 with an export name
    EXPECT_EQ(at(exported).ExportName, "TVARTYPE");
    ASSERT_EQ(at(exported).Attributes.size(), 1u);
    EXPECT_EQ(at(exported).Attributes[0].Name, "MARKER");
    ASSERT_EQ(at(exported).Attributes[0].Values.size(), 1u);
    EXPECT_EQ(at(exported).Attributes[0].Values[0].Text, "hi");
    EXPECT_FALSE(at(s32).HasExportName);
}

TEST(image_writer, type_entries_map_compile_time_codes) {
    Model m;
    TPSEnumType* boolean = m.Enum("Boolean", 1);
    boolean->ExportName = true;
    TPSType* notify = m.Add<TPSVariantType>("!NotificationVariant", btNotificationVariant);
    m.numbering.UseType(notify);
    TPSSetType* set = m.Add<TPSSetType>("TChars");
    set->SetType = m.Plain("Char", btChar);
    m.numbering.UseType(set);
    TPSClassType* cls = m.Add<TPSClassType>("TObject");
    m.numbering.UseType(cls);
    TPSUndefinedClassType* later = m.Add<TPSUndefinedClassType>("TLater");
    m.numbering.UseType(later);

    TPSImageSource source = m.Source();
    source.ResolveUndefinedClass = [&](const TPSUndefinedClassType& t) -> const TPSType* {
        return &t == later ? cls : nullptr;
    };
    TPSImageOutput out;
    ASSERT_TRUE(WriteImage(source, out)) << out.Error;
    const PSImage image = ReadImage(out.Image);
    EXPECT_EQ(image.Types[0].RawCode, btU8 + 128);
    EXPECT_EQ(image.Types[0].ExportName, "BOOLEAN");
    EXPECT_EQ(image.Types[1].BaseType, btU32);
    EXPECT_EQ(image.Types[3].SetBits, 256u);
    EXPECT_EQ(image.Types[4].ClassName, "TOBJECT");
    EXPECT_EQ(image.Types[5].BaseType, btClass);  // resolved before writing
    EXPECT_EQ(image.Types[5].ClassName, "TOBJECT");

    // Without a resolution the class cannot be written.
    EXPECT_NE(m.Refusal().find("TLATER"), std::string::npos);
}

TEST(image_writer, procedure_table_holds_imports_and_internal_procedures_with_code) {
    Model m;
    TPSType* s32 = m.Plain("LongInt", btS32);
    TPSType* str = m.Plain("String", btString);
    TPSType* u8 = m.Plain("Byte", btU8);
    ASSERT_EQ(u8->FinalTypeNo, 2);

    TPSRegProc by_name, with_decl, anonymous;
    by_name.SetName("IntToStr");
    by_name.OrgName = "IntToStr";
    with_decl.SetName("Send");
    with_decl.ExportName = true;
    with_decl.ImportDecl = Bytes({1, 0, 1});
    anonymous.SetName("class:+");
    anonymous.ImportDecl = "class:+";
    m.procs.push_back(std::make_unique<TPSExternalProcedure>(&by_name));
    m.procs.push_back(std::make_unique<TPSExternalProcedure>(&with_decl));
    m.procs.push_back(std::make_unique<TPSExternalProcedure>(&anonymous));

    TPSInternalProcedure* func = m.Internal("Compute");
    func->Decl.Result = str;
    func->Decl.AddParam().AType = s32;
    TPSParameterDecl& by_ref = func->Decl.AddParam();
    by_ref.AType = u8;
    by_ref.Mode = pmInOut;
    func->Data = Bytes({opPop, opRet});
    TPSAttributeType marker;
    marker.SetName("Event");
    func->Attributes.Add(&marker);
    TPSInternalProcedure* empty = m.Internal("Nothing");
    TPSInternalProcedure* main = m.Internal("!MAIN");
    BlockWriteByte(main->Data, opCall);
    BlockWriteLong(main->Data, 3);
    BlockWriteByte(main->Data, opRet);

    const PSImage image = ReadImage(m.Write());
    ASSERT_EQ(image.Procs.size(), 6u);
    EXPECT_EQ(image.MainProc, 5u);
    EXPECT_EQ(image.Procs[0].Flags, pfExternal);
    EXPECT_EQ(image.Procs[0].Name, "INTTOSTR");
    EXPECT_EQ(image.Procs[1].Flags, pfExternal | pfExportOrDecl);
    EXPECT_EQ(image.Procs[1].Name, "SEND");
    EXPECT_EQ(image.Procs[1].Decl, Bytes({1, 0, 1}));
    EXPECT_EQ(image.Procs[2].Name, "");  // not exported by name
    EXPECT_EQ(image.Procs[2].Decl, "class:+");

    const auto& compute = image.Procs[3];
    EXPECT_EQ(compute.Flags, pfExportOrDecl | pfAttributes);
    EXPECT_EQ(compute.ExportName, "COMPUTE");
    EXPECT_EQ(compute.ExportDecl, "1 @0 !2");
    EXPECT_EQ(compute.Code, Bytes({opPop, opRet}));
    ASSERT_EQ(compute.Attributes.size(), 1u);
    EXPECT_EQ(compute.Attributes[0].Name, "EVENT");
    EXPECT_EQ(image.ProcNamed("NOTHING").Code, Bytes({opRet}));  // an empty body is one Ret
    EXPECT_EQ(image.ProcNamed("NOTHING").CodeLength, 1u);
    EXPECT_EQ(image.ProcNamed("!MAIN").ExportDecl, "-1");
    // The code sections follow each other in procedure order.
    EXPECT_EQ(image.Procs[4].CodeOffset, compute.CodeOffset + 2);
    EXPECT_EQ(image.Procs[5].CodeOffset, compute.CodeOffset + 3);
    EXPECT_TRUE(empty->Data.empty());  // the writer leaves the model alone

    const auto ins = DecodeCode(image, image.Procs[5].Code);
    ASSERT_EQ(ins.size(), 2u);
    EXPECT_EQ(ins[0].Opcode, opCall);
    EXPECT_EQ(ins[0].Number, 3u);
}

TEST(image_writer, declaration_texts_number_result_and_parameters) {
    TPSType t0(btS32), t2(btString), t4(btU8);
    t0.FinalTypeNo = 0;
    t2.FinalTypeNo = 2;
    t4.FinalTypeNo = 4;
    TPSParametersDecl decl;
    decl.Result = &t2;
    decl.AddParam().AType = &t0;
    TPSParameterDecl& var_param = decl.AddParam();
    var_param.AType = &t4;
    var_param.Mode = pmInOut;
    EXPECT_EQ(MakeProcDeclText(decl), "2 @0 !4");
    EXPECT_EQ(MakeProcSignature(decl), Bytes({1, 0, 1}));
    decl.Param(1).Mode = pmOut;
    EXPECT_EQ(MakeProcSignature(decl), Bytes({1, 0, 1}));
    decl.Result = nullptr;
    decl.AddParam();  // untyped
    EXPECT_EQ(MakeProcDeclText(decl), "-1 @0 !4 @-1");
    EXPECT_EQ(MakeProcSignature(TPSParametersDecl{}), Bytes({0}));
}

TEST(image_writer, variables_carry_type_numbers_and_export_names) {
    Model m;
    TPSType* str = m.Plain("String", btString);
    TPSType* first_pointer = m.Plain("___Pointer", btPointer);
    TPSType* s32 = m.Plain("LongInt", btS32);
    TPSType* last_pointer = m.Plain("PMine", btPointer);
    m.Plain("PUnused", btPointer, false);
    (void)first_pointer;
    TPSVar* td = m.Var("TD", str);
    td->ExportName = "TD";
    m.Var("Count", s32);
    TPSVar* pointer = m.Var("P", s32);
    pointer->SaveAsPointer = true;

    TPSImageOutput out;
    ASSERT_TRUE(WriteImage(m.Source(), out)) << out.Error;
    const PSImage image = ReadImage(out.Image);
    ASSERT_EQ(image.Vars.size(), 3u);
    EXPECT_EQ(image.Vars[0].TypeNo, 0u);
    EXPECT_TRUE(image.Vars[0].Exported);
    EXPECT_EQ(image.Vars[0].ExportName, "TD");
    EXPECT_EQ(image.Vars[1].TypeNo, 2u);
    EXPECT_FALSE(image.Vars[1].Exported);
    // The last numbered Pointer type of the list.
    EXPECT_EQ(image.Vars[2].TypeNo, static_cast<std::uint32_t>(last_pointer->FinalTypeNo));

    // Procedure and variable names beside the image, for debuggers.
    m.Internal("Work");
    m.Internal("!MAIN");
    ASSERT_TRUE(WriteImage(m.Source(), out));
    EXPECT_EQ(out.DebugNames, std::string("\0Work\1\1\0\1TD\1Count\1P\1\0", 21));
}

// A name with a one-byte length is never cut: such a function cannot be
// registered, and the writer refuses it if one slips through.
TEST(image_writer, host_function_names_too_long_for_one_length_byte_are_refused) {
    Model m;
    TPSRegProc longest, too_long, decl_only;
    longest.SetName(std::string(255, 'A'));
    too_long.SetName(std::string(256, 'B'));
    decl_only.SetName(std::string(300, 'C'));  // not exported by name: the name is not stored
    decl_only.ImportDecl = "dll:x";
    m.procs.push_back(std::make_unique<TPSExternalProcedure>(&longest));
    m.procs.push_back(std::make_unique<TPSExternalProcedure>(&decl_only));
    const PSImage image = ReadImage(m.Write());
    EXPECT_EQ(image.Procs[0].Name, std::string(255, 'A'));
    EXPECT_EQ(image.Procs[1].Name, "");

    m.procs.push_back(std::make_unique<TPSExternalProcedure>(&too_long));
    EXPECT_NE(m.Refusal().find("too long"), std::string::npos);
    decl_only.ExportName = true;
    m.procs.pop_back();
    EXPECT_NE(m.Refusal().find("too long"), std::string::npos);
}

TEST(image_writer, inconsistent_models_and_the_output_hook_give_no_image) {
    {
        Model m;  // numbers with a gap
        TPSType* a = m.Plain("A", btS32);
        TPSType* b = m.Plain("B", btS32);
        (void)a;
        b->FinalTypeNo = 5;
        EXPECT_NE(m.Refusal().find("dense"), std::string::npos);
    }
    {
        Model m;  // used through Use() without a number
        m.Plain("A", btS32, false)->Use();
        EXPECT_NE(m.Refusal().find("no type number"), std::string::npos);
    }
    {
        Model m;  // a variable of a type that was never numbered
        m.Var("V", m.Plain("A", btS32, false));
        EXPECT_NE(m.Refusal().find("'V'"), std::string::npos);
    }
    {
        Model m;  // a pointer variable without any Pointer type
        m.Var("P", m.Plain("A", btS32))->SaveAsPointer = true;
        EXPECT_FALSE(m.Refusal().empty());
    }
    {
        Model m;  // a record field numbered after its record cannot be loaded
        TPSType* late = m.Add("Late", btS32);
        TPSRecordType* rec = m.Add<TPSRecordType>("R");
        rec->AddRecVal().FType = late;
        rec->Use();
        rec->FinalTypeNo = 0;
        late->Use();
        late->FinalTypeNo = 1;
        EXPECT_NE(m.Refusal().find("'R'"), std::string::npos);
    }
    {
        Model m;  // types beyond what the loader accepts fail here, with their name
        TPSSetType* set = m.Add<TPSSetType>("TBigSet");
        set->SetType = m.Enum("TBig", 256);
        m.numbering.UseType(set);
        EXPECT_NE(m.Refusal().find("'TBIGSET' has more than 256 elements"), std::string::npos);
    }
    {
        Model m;
        m.numbering.UseType(m.Add<TPSRecordType>("TEmpty"));
        EXPECT_NE(m.Refusal().find("'TEMPTY' has no fields"), std::string::npos);
    }
    {
        Model m;
        TPSStaticArrayType* huge = m.Add<TPSStaticArrayType>("THuge");
        huge->ArrayTypeNo = m.Plain("Byte", btU8);
        huge->Length = 0x20000000;
        m.numbering.UseType(huge);
        EXPECT_NE(m.Refusal().find("'THUGE' has too many elements"), std::string::npos);
        huge->Length = 0x1FFFFFFF;
        EXPECT_EQ(ReadImage(m.Write()).Types[1].ElementCount, 0x1FFFFFFFu);
    }
    {
        Model m;  // the signature holds one byte for the result and one per parameter
        TPSProceduralType* wide = m.Add<TPSProceduralType>("TWide");
        TPSType* byte = m.Plain("Byte", btU8);
        for (int i = 0; i < 254; ++i) wide->ProcDef.AddParam().AType = byte;
        m.numbering.UseType(wide);
        EXPECT_EQ(ReadImage(m.Write()).Types[1].ProcSignature.size(), 255u);
        wide->ProcDef.AddParam();
        EXPECT_NE(m.Refusal().find("'TWIDE' has too many parameters"), std::string::npos);
    }
    {
        Model m;  // an attribute value of a type written after the attributed type
        TPSType* first = m.Plain("First", btS32);
        TPSType* later = m.Plain("Later", btString);
        TPSAttributeType marker;
        marker.SetName("Marker");
        first->Attributes.Add(&marker).AddValue(later);
        EXPECT_NE(m.Refusal().find("later type"), std::string::npos);
    }
    {
        Model m;  // a plain type object claiming to be a record
        m.Plain("Fake", btRecord);
        EXPECT_NE(m.Refusal().find("does not match"), std::string::npos);
    }
    Model m;
    m.Internal("!MAIN");
    TPSImageSource source = m.Source();
    int calls = 0;
    source.OnBeforeOutput = [&] {
        ++calls;
        return false;
    };
    TPSImageOutput out;
    EXPECT_FALSE(WriteImage(source, out));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(out.Image.empty());
    EXPECT_TRUE(out.Error.empty());
    source.OnBeforeOutput = [] { return true; };
    EXPECT_TRUE(WriteImage(source, out));
    EXPECT_EQ(ReadImage(out.Image).MainProc, 0u);
}

// The reader answers every damaged image with the loader's error code and
// never reads outside it.
TEST(image_writer, reader_rejects_damaged_images_with_the_loader_codes) {
    Model m;
    TPSType* s32 = m.Plain("LongInt", btS32);
    TPSRecordType* rec = m.Add<TPSRecordType>("R");
    rec->AddRecVal().FType = s32;
    m.numbering.UseType(rec);
    TPSRegProc reg;
    reg.SetName("Host");
    m.procs.push_back(std::make_unique<TPSExternalProcedure>(&reg));
    m.Internal("!MAIN")->Data = Bytes({opRet});
    m.Var("X", rec)->ExportName = "X";
    const std::string image = m.Write();
    ASSERT_NO_THROW(ReadImage(image));

    for (std::size_t n = 0; n < image.size(); ++n) {
        try {
            ReadImage(std::string_view(image).substr(0, n));
            ADD_FAILURE() << "a prefix of " << n << " bytes was accepted";
        } catch (const PSImageError& e) {
            if (n < kImageHeaderSize)
                EXPECT_EQ(e.Code, test_support::kErrInvalidHeader);
            else
                EXPECT_EQ(e.Code, test_support::kErrUnexpectedEof) << n;
        }
    }

    auto code_of = [](std::string bad) {
        try {
            ReadImage(bad);
        } catch (const PSImageError& e) {
            return e.Code;
        }
        return 0;
    };
    std::string bad = image;
    bad[4] = 11;  // build 11
    EXPECT_EQ(code_of(bad), test_support::kErrInvalidHeader);
    bad[4] = 24;
    EXPECT_EQ(code_of(bad), test_support::kErrInvalidHeader);
    bad[4] = 12;  // the oldest build is accepted (it has no type attributes, so
    EXPECT_NE(code_of(bad), test_support::kErrInvalidHeader);  // the rest reads differently)
    bad = image;
    bad[0] = 'X';
    EXPECT_EQ(code_of(bad), test_support::kErrInvalidHeader);

    bad = image;
    bad[kImageHeaderSize] = 15;  // an unassigned type code
    EXPECT_EQ(code_of(bad), test_support::kErrInvalidType);
    bad = image;
    bad.replace(kImageHeaderSize + 5 + 1, 4, Le32(0));  // record with no fields
    EXPECT_EQ(code_of(bad), test_support::kErrUnexpectedEof);
    bad = image;
    bad.replace(kImageHeaderSize + 5 + 1 + 4, 4, Le32(1));  // field of a type not yet loaded
    EXPECT_EQ(code_of(bad), test_support::kErrOutOfRange);
    bad = image;
    bad.replace(kHeaderMainProcAt, 4, Le32(2));
    EXPECT_EQ(code_of(bad), test_support::kErrNoMainProc);

    // A set of 256 bits is accepted, one of 257 rejected.
    Model sets;
    TPSSetType* set = sets.Add<TPSSetType>("S");
    set->SetType = sets.Enum("Wide", 255);
    sets.numbering.UseType(set);
    std::string set_image = sets.Write();
    EXPECT_EQ(code_of(set_image), 0);
    set_image.replace(kImageHeaderSize + 5 + 1, 4, Le32(257));
    EXPECT_EQ(code_of(set_image), test_support::kErrTypeMismatch);

    // Truncated byte code.
    const PSImage loaded = ReadImage(image);
    std::string truncated = Bytes({opAssign, 0}) + Le32(0) + Bytes({1, 0, 0});
    EXPECT_THROW(DecodeCode(loaded, truncated), PSImageError);
    EXPECT_THROW(DecodeCode(loaded, Bytes({10})), PSImageError);  // opcode 10 is not used
}

}  // namespace
}  // namespace script::compiler
