// Operand decoding: compiled code run through the decoder and the value
// operations, operands of every kind with their range checks, and decoded
// addresses that stay valid while the stacks grow.
#include <gtest/gtest.h>

#include "exec_test_support.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_access.h"
#include "script/runtime/variant_bridge.h"

namespace script::runtime {
namespace {

using testing::CompileOk;
using testing::PutByte;
using testing::PutLong;
using testing::StepExec;

std::string ErrorText(const TPSExec& exec) { return PSErrorText(exec.LastErrorCode(), exec.LastErrorParam()); }

// Global n of a loaded executor as (value, type).
std::pair<void*, const TPSTypeRec*> Global(TPSExec& exec, std::uint32_t n) {
    void* item = exec.Globals().GetItem(n);
    return {ValueOfTypedValue(item), TypeOfTypedValue(item)};
}

Variant GlobalVariant(TPSExec& exec, std::uint32_t n) {
    Variant v;
    auto [value, type] = Global(exec, n);
    EXPECT_TRUE(PSValueToVariant(value, type, v));
    return v;
}

TEST(operand_decoding, compiled_straight_line_code_runs_through_the_decoder_and_the_operators) {
    std::string many_names;
    for (int i = 0; i < 300; ++i) many_names += (i ? ", v" : "v") + std::to_string(i);
    const auto compiled = CompileOk(
        "type TRec = record x: Byte; t: string; end; TSmall = (e0, e1, e2); TWide = (" + many_names + ");\n"
        "var b: Byte; i, k: Integer; c: Cardinal; cu, cu2: Currency; s8: ShortInt; ch: Char; s: string;\n"
        "  ok1, ok2, ok3: Boolean; a: array[1..3] of Integer; r: TRec; d: Double; e: Int64; p: PChar;\n"
        "  st: set of Byte; v: Variant; small: TSmall; wide: TWide; u: Byte;\n"
        "begin\n"
        "  u := 250; u := u + 10;\n"
        "  i := -7; i := i mod 2;\n"
        "  c := 4294967295; k := -1; c := c div k;\n"
        "  cu := 1; cu := cu / 3;\n"
        "  s8 := -8; s8 := s8 shr 1;\n"
        "  ch := 'a'; s := 'b'; ok1 := ch < s;\n"
        "  cu2 := 0; ok2 := cu2 = 0.00004;\n"
        "  a[2] := 5; k := 2; a[k] := a[k] * 3 + k; a[3] := -a[k];\n"
        "  r.t := 'ab'; r.t := r.t + ch; r.x := 200;\n"
        "  d := 7; d := d / 2;\n"
        "  e := 1; e := e shl 40; e := -e;\n"
        "  p := 'xyz';\n"
        "  st := [1, 5]; b := 5; ok3 := b in st;\n"
        "  v := 7; v := v / 2;\n"
        "  small := e2; wide := v299;\n"
        "end.");
    StepExec exec;
    ASSERT_TRUE(exec.LoadImage(compiled.Image)) << ErrorText(exec);
    ASSERT_TRUE(exec.Run()) << ErrorText(exec);
    // Every temporary is gone again.
    EXPECT_EQ(exec.RunStack().Count(), 0u);
    EXPECT_EQ(exec.Temporaries().Count(), 0u);

    enum { B, I, K, C, CU, CU2, S8, CH, S, OK1, OK2, OK3, A, R, D, E, P, ST, V, SMALL, WIDE, U };
    EXPECT_EQ(LoadAs<std::uint8_t>(Global(exec, U).first), 4);
    EXPECT_EQ(LoadAs<std::uint8_t>(Global(exec, B).first), 5);
    EXPECT_EQ(LoadAs<std::int32_t>(Global(exec, I).first), -1);
    EXPECT_EQ(LoadAs<std::uint32_t>(Global(exec, C).first), 1u);
    EXPECT_EQ(LoadAs<std::int64_t>(Global(exec, CU).first), 3333);
    EXPECT_EQ(LoadAs<std::int8_t>(Global(exec, S8).first), -4);
    EXPECT_EQ(LoadAs<std::uint8_t>(Global(exec, OK1).first), 1);
    EXPECT_EQ(LoadAs<std::uint8_t>(Global(exec, OK2).first), 1);
    EXPECT_EQ(LoadAs<std::uint8_t>(Global(exec, OK3).first), 1);
    const auto* a = static_cast<const std::int32_t*>(Global(exec, A).first);
    EXPECT_EQ(a[1], 17);
    EXPECT_EQ(a[2], -17);
    EXPECT_EQ(LoadAs<std::uint8_t>(Global(exec, R).first), 200);
    EXPECT_EQ(StringSlotView(static_cast<std::byte*>(Global(exec, R).first) + 1), "aba");
    EXPECT_EQ(LoadAs<double>(Global(exec, D).first), 3.5);
    EXPECT_EQ(LoadAs<std::int64_t>(Global(exec, E).first), -(std::int64_t{1} << 40));
    EXPECT_EQ(PCharSlotView(Global(exec, P).first), "xyz");
    EXPECT_EQ(GlobalVariant(exec, V).VType(), varInteger);  // integer division of an integer Variant
    EXPECT_EQ(GlobalVariant(exec, V).ToInt32(), 3);
    // Enumerations are stored in the width of their highest value.
    EXPECT_EQ(Global(exec, SMALL).second->BaseType, btU8);
    EXPECT_EQ(LoadAs<std::uint8_t>(Global(exec, SMALL).first), 2);
    EXPECT_EQ(Global(exec, WIDE).second->BaseType, btU16);
    EXPECT_EQ(LoadAs<std::uint16_t>(Global(exec, WIDE).first), 299);
    // Host constants of type Currency come as their scaled eight bytes.
    const auto priced = CompileOk("var c: Currency; begin c := Price; c := c * 2; end.", [](compiler::TPSPascalCompiler& c) {
        c.OnUses = [](compiler::TPSPascalCompiler& comp, const std::string&) {
            comp.AddConstantN("Price", "Currency")->Value->tcurrency = 12345;
            return true;
        };
    });
    ASSERT_TRUE(exec.LoadImage(priced.Image)) << ErrorText(exec);
    ASSERT_TRUE(exec.Run()) << ErrorText(exec);
    EXPECT_EQ(LoadAs<std::int64_t>(Global(exec, 0).first), 24690);

    // Errors stop the code with the operator's code; their temporaries are
    // released all the same.
    const auto failing = CompileOk(
        "var a: array[1..3] of Integer; k, z: Integer; s: string;\n"
        "begin k := 4; z := 0; s := 'x'; a[k] := 1; end.");
    ASSERT_TRUE(exec.LoadImage(failing.Image));
    EXPECT_FALSE(exec.Run());
    EXPECT_EQ(exec.LastErrorCode(), ErOutOfRange);
    EXPECT_EQ(exec.LastErrorProc(), exec.MainProcNo());
    EXPECT_GT(exec.LastErrorPos(), 0u);
    EXPECT_EQ(exec.Temporaries().Count(), 0u);
}

// Code bytes for hand-written operands: the kind byte and its words.
std::string Operand(std::uint8_t kind, std::uint32_t word, std::string_view rest = {}) {
    std::string out;
    PutByte(out, kind);
    PutLong(out, word);
    out.append(rest);
    return out;
}
std::string Word(std::uint32_t v) {
    std::string out;
    PutLong(out, v);
    return out;
}
std::string Var(std::uint32_t address) { return Operand(okVariable, address); }
std::string Element(std::uint32_t address, std::uint32_t number) {
    return Operand(okElementNumber, address, Word(number));
}
std::string Indexed(std::uint32_t address, std::uint32_t index_address) {
    return Operand(okElementIndex, address, Word(index_address));
}
std::string Const(std::uint32_t type_no, std::string_view bytes) { return Operand(okConstant, type_no, bytes); }
std::string CountedText(std::string_view text) { return Word(static_cast<std::uint32_t>(text.size())) + std::string(text); }

constexpr std::uint32_t Local(std::uint32_t n) { return LocalVarAddress(n); }

TEST(operand_decoding, every_kind_is_checked_against_its_code_its_stacks_and_its_container) {
    const auto compiled = CompileOk(
        "type TRec = record x: Byte; t: string; end; TProc = procedure;\n"
        "  TBits = (b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15);\n"
        "var i: Integer; r: TRec; sa: array[0..2] of Word; da: array of Byte; s8: ShortInt; d: Double;\n"
        "  cu: Currency; s: string; p: PChar; st: set of TBits; pr: TProc; u8: Byte;\n"
        "begin end.");
    enum { I, R, SA, DA, S8, D, CU, S, P, ST, PR, U8 };
    // Made before the executor, whose stack will hold a value of it.
    const std::unique_ptr<TPSTypeRec> pointer_type = CreateTypeRec(btPointer);
    pointer_type->CalcSize();
    StepExec exec;
    ASSERT_TRUE(exec.LoadImage(compiled.Image)) << ErrorText(exec);
    auto type_of = [&](std::uint32_t global) { return Global(exec, global).second; };
    auto type_no = [&](const TPSTypeRec* t) {
        for (std::uint32_t n = 0; n < exec.TypeCount(); ++n)
            if (exec.GetType(n) == t) return n;
        ADD_FAILURE() << "no such type";
        return 0u;
    };
    SetDynArrayLength(Global(exec, DA).first, type_of(DA), 4);
    static_cast<std::uint8_t*>(LoadAs<void*>(Global(exec, DA).first))[3] = 33;
    static_cast<std::uint16_t*>(Global(exec, SA).first)[2] = 22;

    TPSOperand op;
    // Decodes code and answers the error code (0 when it decoded); the
    // operand stays in op, released by the caller.
    auto decode = [&](const std::string& code, bool follow = true) {
        exec.SetCode(code);
        const std::uint32_t before = exec.Temporaries().Count();
        const bool ok = exec.ReadOperand(op, follow);
        EXPECT_EQ(ok, exec.LastErrorCode() == ErNoError);
        if (!ok) {
            EXPECT_EQ(exec.Temporaries().Count(), before);
        }
        const std::uint8_t code_out = exec.LastErrorCode();
        exec.HandleError(kNoProc, 0, ErNoError, {}, nullptr);
        return code_out;
    };

    // Variables: globals by number, locals and parameters around the base.
    ASSERT_EQ(decode(Var(I)), ErNoError);
    EXPECT_EQ(op.Address, Global(exec, I).first);
    EXPECT_EQ(op.Type, type_of(I));
    EXPECT_FALSE(op.Temporary);
    EXPECT_EQ(exec.Position(), 5u);
    EXPECT_EQ(decode(Var(U8 + 1)), erOutOfGlobalVarsRange);
    EXPECT_EQ(decode(Var(0x3FFFFFFF)), erOutOfGlobalVarsRange);
    EXPECT_EQ(decode(Var(I).substr(0, 4)), ErOutOfRange);
    EXPECT_EQ(decode(std::string("\x07\0\0\0\0", 5)), erInvalidOpcodeParameter);
    exec.RunStack().PushType(type_of(S));   // parameter 0 (below the base)
    exec.RunStack().PushType(exec.ReturnAddressType());
    exec.SetStackBase(1);
    void* local = exec.RunStack().PushType(type_of(I));  // local 0
    ASSERT_EQ(decode(Var(Local(0))), ErNoError);
    EXPECT_EQ(op.Address, ValueOfTypedValue(local));
    ASSERT_EQ(decode(Var(ParamVarAddress(0))), ErNoError);
    EXPECT_EQ(op.Type, type_of(S));
    EXPECT_EQ(decode(Var(Local(1))), erOutOfGlobalVarsRange);
    EXPECT_EQ(decode(Var(ParamVarAddress(1))), erOutOfGlobalVarsRange);  // below the stack's bottom
    EXPECT_EQ(decode(Element(Local(1), 0)), erOutOfStackRange);
    EXPECT_EQ(decode(Indexed(R, Local(1))), erOutOfStackRange);
    EXPECT_EQ(decode(Element(U8 + 1, 0)), erOutOfGlobalVarsRange);

    // Constants live on the temporaries stack until their instruction ends.
    ASSERT_EQ(decode(Const(type_no(type_of(S)), CountedText(""))), ErNoError);
    EXPECT_TRUE(op.Temporary);
    EXPECT_EQ(exec.Position(), 9u);  // the length word only
    EXPECT_EQ(PSReadString(op.Address, op.Type), "");
    EXPECT_EQ(exec.Temporaries().Count(), 1u);
    exec.ReleaseOperand(op);
    EXPECT_EQ(exec.Temporaries().Count(), 0u);
    ASSERT_EQ(decode(Const(type_no(type_of(P)), CountedText("hi"))), ErNoError);
    EXPECT_EQ(PCharSlotView(op.Address), "hi");
    exec.ReleaseOperand(op);
    ASSERT_EQ(decode(Const(type_no(type_of(CU)), std::string("\x98\x3A\0\0\0\0\0\0", 8))), ErNoError);
    EXPECT_EQ(LoadAs<std::int64_t>(op.Address), 15000);
    EXPECT_EQ(exec.Position(), 13u);
    exec.ReleaseOperand(op);
    ASSERT_EQ(decode(Const(type_no(type_of(ST)), std::string("\x21\x80", 2))), ErNoError);
    EXPECT_EQ(LoadAs<std::uint16_t>(op.Address), 0x8021);
    exec.ReleaseOperand(op);
    ASSERT_EQ(decode(Const(type_no(type_of(PR)), std::string("\x05\0\0\0", 4))), ErNoError);
    EXPECT_EQ(LoadAs<PSProcPtrValue>(op.Address).ProcNo, 5u);
    EXPECT_EQ(LoadAs<PSProcPtrValue>(op.Address).Object, nullptr);
    exec.ReleaseOperand(op);
    EXPECT_EQ(decode(Const(exec.TypeCount(), "\x01")), erInvalidType);
    EXPECT_EQ(decode(Const(type_no(type_of(R)), "")), erInvalidType);  // records have no constants
    EXPECT_EQ(decode(Const(type_no(type_of(D)), "\x01\x02\x03")), ErOutOfRange);
    EXPECT_EQ(decode(Const(type_no(type_of(S)), CountedText("abc").substr(0, 6))), ErOutOfRange);
    EXPECT_EQ(decode(Const(type_no(type_of(S)), std::string("\xFF\xFF\xFF\xFF", 4))), ErOutOfRange);

    // Elements by number: record fields, static and dynamic array elements.
    ASSERT_EQ(decode(Element(R, 1)), ErNoError);
    EXPECT_EQ(op.Type->BaseType, btString);
    EXPECT_EQ(op.Address, static_cast<std::byte*>(Global(exec, R).first) + 1);
    EXPECT_EQ(decode(Element(R, 2)), ErOutOfRange);
    ASSERT_EQ(decode(Element(SA, 2)), ErNoError);
    EXPECT_EQ(LoadAs<std::uint16_t>(op.Address), 22);
    EXPECT_EQ(decode(Element(SA, 3)), ErOutOfRange);
    ASSERT_EQ(decode(Element(DA, 3)), ErNoError);
    EXPECT_EQ(LoadAs<std::uint8_t>(op.Address), 33);
    EXPECT_EQ(decode(Element(DA, 4)), ErOutOfRange);
    EXPECT_EQ(decode(Element(I, 0)), erInvalidType);

    // Elements by an index variable, read by its own type.
    auto set_index = [&](std::uint32_t global, auto value) { StoreAs(Global(exec, global).first, value); };
    set_index(I, std::int32_t{2});
    ASSERT_EQ(decode(Indexed(SA, I)), ErNoError);
    EXPECT_EQ(LoadAs<std::uint16_t>(op.Address), 22);
    set_index(I, std::int32_t{-1});  // 4294967295
    EXPECT_EQ(decode(Indexed(SA, I)), ErOutOfRange);
    set_index(S8, std::int8_t{-1});
    EXPECT_EQ(decode(Indexed(DA, S8)), ErOutOfRange);
    set_index(U8, std::uint8_t{3});
    ASSERT_EQ(decode(Indexed(DA, U8)), ErNoError);
    EXPECT_EQ(LoadAs<std::uint8_t>(op.Address), 33);
    EXPECT_EQ(decode(Indexed(SA, D)), ErTypeMismatch);
    EXPECT_EQ(decode(Indexed(SA, PR)), ErTypeMismatch);  // a procedure only through a Pointer

    // Pointers: followed where the flag asks, always for a container; an
    // index variable behind a Pointer is followed too.
    void* pointer = exec.RunStack().PushType(pointer_type.get());  // local 1
    ASSERT_EQ(decode(Var(Local(1)), true), erNullPointerException);
    ASSERT_EQ(decode(Element(Local(1), 0), false), erNullPointerException);
    ASSERT_EQ(decode(Indexed(SA, Local(1))), ErTypeMismatch);
    StoreAs(ValueOfTypedValue(pointer), PSPointerValue{Global(exec, SA).first, type_of(SA), 0});
    ASSERT_EQ(decode(Var(Local(1)), false), ErNoError);
    EXPECT_EQ(op.Type, pointer_type.get());
    ASSERT_EQ(decode(Var(Local(1)), true), ErNoError);
    EXPECT_EQ(op.Type, type_of(SA));
    ASSERT_EQ(decode(Element(Local(1), 2), false), ErNoError);
    EXPECT_EQ(LoadAs<std::uint16_t>(op.Address), 22);
    StoreAs(Global(exec, PR).first, PSProcPtrValue{1, 0, nullptr, nullptr});
    StoreAs(ValueOfTypedValue(pointer), PSPointerValue{Global(exec, PR).first, type_of(PR), 0});
    ASSERT_EQ(decode(Indexed(SA, Local(1))), ErNoError);
    EXPECT_EQ(op.Address, static_cast<std::byte*>(Global(exec, SA).first) + 2);
    StoreAs(ValueOfTypedValue(pointer), PSPointerValue{Global(exec, S).first, type_of(S), 0});
    EXPECT_EQ(decode(Indexed(SA, Local(1))), ErTypeMismatch);
}

TEST(operand_decoding, decoded_addresses_stay_valid_while_the_stacks_grow) {
    const auto compiled = CompileOk("var s: string; i: Int64; begin end.");
    const std::unique_ptr<TPSTypeRec> pointer_type = CreateTypeRec(btPointer);
    pointer_type->CalcSize();
    StepExec exec;
    ASSERT_TRUE(exec.LoadImage(compiled.Image));
    const TPSTypeRec* string_type = Global(exec, 0).second;
    const TPSTypeRec* int64_type = Global(exec, 1).second;
    std::uint32_t string_no = 0;
    while (exec.GetType(string_no) != string_type) ++string_no;

    // A local decoded, then the run stack grows over several pages before
    // the value is written through the decoded address, as a Push of a
    // decoded operand does.
    exec.RunStack().PushType(string_type);
    exec.SetCode(Var(Local(0)) + Const(string_no, CountedText("constant")));
    TPSOperand dest, src;
    ASSERT_TRUE(exec.ReadOperand(dest, true));
    ASSERT_TRUE(exec.ReadOperand(src, true));
    for (int n = 0; n < 2000; ++n) exec.RunStack().PushType(int64_type);
    EXPECT_GT(exec.RunStack().Capacity(), 4u * TPSStack::kPageBytes);
    ASSERT_TRUE(exec.AssignValue(dest.Address, src.Address, dest.Type, src.Type));
    exec.ReleaseOperand(src);
    EXPECT_EQ(exec.RunStack().GetString(0), "constant");

    // Many constants of one instruction share the temporaries stack; the
    // first ones keep their place while the later ones fill more pages.
    std::string code;
    for (int n = 0; n < 600; ++n) code += Const(string_no, CountedText("text " + std::to_string(n)));
    exec.SetCode(code);
    std::vector<TPSOperand> constants(600);
    for (auto& c : constants) ASSERT_TRUE(exec.ReadOperand(c, true));
    EXPECT_GT(exec.Temporaries().Capacity(), 2u * TPSStack::kPageBytes);
    for (int n = 0; n < 600; ++n) EXPECT_EQ(PSReadString(constants[n].Address, constants[n].Type), "text " + std::to_string(n));
    for (auto it = constants.rbegin(); it != constants.rend(); ++it) exec.ReleaseOperand(*it);
    EXPECT_EQ(exec.Temporaries().Count(), 0u);

    // A Pointer item to another item of the same stack still reaches it.
    exec.RunStack().Clear();
    void* target = exec.RunStack().PushType(string_type);
    void* pointer = exec.RunStack().PushType(pointer_type.get());
    StoreAs(ValueOfTypedValue(pointer), PSPointerValue{ValueOfTypedValue(target), string_type, 0});
    for (int n = 0; n < 2000; ++n) exec.RunStack().PushType(string_type);
    exec.RunStack().SetString(1, "through the pointer");
    EXPECT_EQ(exec.RunStack().GetString(0), "through the pointer");
}

}  // namespace
}  // namespace script::runtime
