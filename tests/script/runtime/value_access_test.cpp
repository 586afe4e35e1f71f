#include "script/runtime/value_access.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "runtime_test_support.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/numbers.h"
#include "script/runtime/variant.h"
#include "script/runtime/variant_bridge.h"

namespace script::runtime {
namespace {

using testing::CompileTypes;
using testing::CountedDispatch;
using testing::TestExec;
using testing::TestObject;
using testing::Value;

// The globals of this script, by number.
enum G : std::size_t {
    gU8, gS8, gU16, gS16, gU32, gS32, gSingle, gDouble, gExt, gStr, gPChar, gVar, gS64, gChar, gCur,
    gRec, gRec2, gStrArr, gStatic3, gSet, gProc, gIntf, gDisp, gBool, gIntArr, gStrArr2, gBigArr, gRecArr,
};

const testing::ImageTypes& Types() {
    static const auto types = CompileTypes(
        "type TR = record s: String; n: Integer; end; TR2 = record s: String; n: Integer; end;\n"
        "TP = procedure(x: Integer); TBig = array[0..299] of Byte;\n"
        "var u8: Byte; s8: ShortInt; u16: Word; s16: SmallInt; u32: Cardinal; s32: Integer;\n"
        "sg: Single; db: Double; ex: Extended; st: String; pc: PChar; v: Variant; i64: Int64; ch: Char;\n"
        "cu: Currency; r: TR; r2: TR2; sa: array of String; st3: array[0..2] of String; bs: set of Byte;\n"
        "pp: TP; iu: IUnknown; idp: IDispatch; b: Boolean; ia: array of Integer; sa2: array of String;\n"
        "big: array of TBig; ra: array of TR;\n"
        "begin end.");
    return types;
}

const TPSTypeRec* T(G g) { return Types().Var(g); }

const TPSTypeRec* PointerType() {
    static TPSTypeRec pointer(btPointer);
    static const bool ready = pointer.CalcSize();
    (void)ready;
    return &pointer;
}

void* At(Value& array, std::size_t i) {
    return static_cast<std::byte*>(array.Get<void*>()) + i * AsArray(array.Type()).ArrayType->RealSize;
}

// ------------------------------------------------------------ readers

struct ReadRow {
    const char* name;
    G type;
    std::function<void(Value&)> set;
    std::optional<std::uint32_t> uint;
    std::optional<std::int32_t> sint;
    std::optional<std::int64_t> int64;
    std::optional<long double> real;
    std::optional<std::int64_t> currency;
    std::optional<std::string> text;
};

template <typename T, typename Read>
void ExpectRead(const char* name, const char* reader, const std::optional<T>& expected, Read read) {
    if (expected) {
        EXPECT_EQ(read(), *expected) << name << " " << reader;
    } else {
        try {
            (void)read();
            ADD_FAILURE() << name << " " << reader << " read a value";
        } catch (const EPSError& e) {
            EXPECT_EQ(e.Message, kTypeMismatchText) << name << " " << reader;
        }
    }
}

TEST(value_access, readers_convert_every_base_type_or_fail_with_type_mismatch) {
    const auto none = std::nullopt;
    const ReadRow rows[] = {
        {"U8 200", gU8, [](Value& v) { v.Set<std::uint8_t>(200); }, 200u, 200, 200, 200.0L, 2000000, "\xC8"},
        {"S8 -1", gS8, [](Value& v) { v.Set<std::int8_t>(-1); }, 0xFFFFFFFFu, -1, -1, -1.0L, -10000, none},
        {"U16 65535", gU16, [](Value& v) { v.Set<std::uint16_t>(65535); }, 65535u, 65535, 65535, 65535.0L, 655350000, none},
        {"S16 -2", gS16, [](Value& v) { v.Set<std::int16_t>(-2); }, 0xFFFFFFFEu, -2, -2, -2.0L, -20000, none},
        {"U32 max", gU32, [](Value& v) { v.Set<std::uint32_t>(4294967295u); }, 4294967295u, -1, 4294967295, 4294967295.0L, 42949672950000, none},
        {"S32 -7", gS32, [](Value& v) { v.Set<std::int32_t>(-7); }, 0xFFFFFFF9u, -7, -7, -7.0L, -70000, none},
        {"Single 2.5", gSingle, [](Value& v) { v.Set<float>(2.5f); }, none, none, none, 2.5L, 25000, none},
        {"Double -1.5", gDouble, [](Value& v) { v.Set<double>(-1.5); }, none, none, none, -1.5L, -15000, none},
        {"Extended 0.25", gExt, [](Value& v) { StoreExtended(v.Addr(), 0.25L); }, none, none, none, 0.25L, 2500, none},
        {"S64", gS64, [](Value& v) { v.Set<std::int64_t>(0x100000005); }, 5u, 5, 0x100000005, 4294967301.0L, 42949673010000, none},
        {"Char a", gChar, [](Value& v) { v.Set<char>('a'); }, 97u, 97, 97, none, none, "a"},
        {"Currency 1.2345", gCur, [](Value& v) { v.Set<std::int64_t>(12345); }, none, none, none, 1.2345L, 12345, none},
        {"String", gStr, [](Value& v) { SetStringSlot(v.Addr(), "AB"); }, none, none, none, none, none, "AB"},
        {"PChar", gPChar, [](Value& v) { SetStringSlot(v.Addr(), std::string("xy\0z", 4)); }, none, none, none, none, none, "xy"},
        {"Variant 7", gVar, [](Value& v) { Variant::StoreIntoSlot(v.Addr(), Variant::Integer(7)); }, 7u, 7, 7, 7.0L, 70000, "7"},
        {"Variant 'A'", gVar, [](Value& v) { Variant::StoreIntoSlot(v.Addr(), Variant::String("A")); }, 65u, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "A"},
        {"Record", gRec, [](Value&) {}, none, none, none, none, none, none},
        {"Set", gSet, [](Value&) {}, none, none, none, none, none, none},
    };
    for (const auto& r : rows) {
        Value v(T(r.type));
        r.set(v);
        const void* a = v.Addr();
        const TPSTypeRec* t = v.Type();
        if (r.name == std::string("Variant 'A'")) {
            // The one-character rule is PSReadUInt's alone; the other
            // readers convert the text as a number and fail on "A".
            EXPECT_EQ(PSReadUInt(a, t), 65u);
            EXPECT_THROW(PSReadInt(a, t), EPSError);
            EXPECT_EQ(PSReadString(a, t), "A");
            Variant::StoreIntoSlot(v.Addr(), Variant::String("AB"));
            ExpectRead<std::uint32_t>(r.name, "uint", std::nullopt, [&] { return PSReadUInt(a, t); });
            continue;
        }
        ExpectRead(r.name, "uint", r.uint, [&] { return PSReadUInt(a, t); });
        ExpectRead(r.name, "int", r.sint, [&] { return PSReadInt(a, t); });
        ExpectRead(r.name, "int64", r.int64, [&] { return PSReadInt64(a, t); });
        ExpectRead(r.name, "real", r.real, [&] { return PSReadReal(a, t); });
        ExpectRead(r.name, "currency", r.currency, [&] { return PSReadCurrency(a, t); });
        ExpectRead(r.name, "string", r.text, [&] { return PSReadString(a, t); });

        // Through a Pointer the same, one level deep.
        Value p(PointerType());
        p.Set(PSPointerValue{v.Addr(), t, 0});
        ExpectRead(r.name, "uint via pointer", r.uint, [&] { return PSReadUInt(p.Addr(), PointerType()); });
        Value pp(PointerType());
        pp.Set(PSPointerValue{p.Addr(), PointerType(), 0});
        ExpectRead<std::uint32_t>(r.name, "pointer to pointer", std::nullopt,
                                  [&] { return PSReadUInt(pp.Addr(), PointerType()); });
    }
    Value nil_pointer(PointerType());
    EXPECT_THROW(PSReadInt(nil_pointer.Addr(), PointerType()), EPSError);

    // Rounding to Currency: nearest, ties to even, and never beyond 64 bits.
    Value d(T(gDouble));
    d.Set(1e300);
    EXPECT_THROW(PSReadCurrency(d.Addr(), d.Type()), EPSMathError);
    Value i64(T(gS64));
    i64.Set<std::int64_t>(std::int64_t{1} << 62);
    EXPECT_THROW(PSReadCurrency(i64.Addr(), i64.Type()), EPSMathError);
    for (auto [x, rounded] : {std::pair{2.5L, 2}, {3.5L, 4}, {-2.5L, -2}, {0.5L, 0}, {-0.5L, 0}, {1.4999L, 1}})
        EXPECT_EQ(RoundToInt64(x), rounded) << static_cast<double>(x);
    EXPECT_THROW(RoundToInt64(9223372036854775808.0L), EPSMathError);
    EXPECT_EQ(RoundToInt64(-9223372036854775808.0L), INT64_MIN);
}

// ------------------------------------------------------------ writers

TEST(value_access, writers_store_into_every_base_type_that_takes_the_value) {
    const auto write = [](G g, auto&& writer, auto check) {
        Value v(T(g));
        bool ok = true;
        writer(v.Addr(), v.Type(), ok);
        check(v, ok);
    };
    const auto uint = [](std::uint32_t x) { return [x](void* a, const TPSTypeRec* t, bool& ok) { PSWriteUInt(a, t, ok, x); }; };
    const auto sint = [](std::int32_t x) { return [x](void* a, const TPSTypeRec* t, bool& ok) { PSWriteInt(a, t, ok, x); }; };
    const auto int64 = [](std::int64_t x) { return [x](void* a, const TPSTypeRec* t, bool& ok) { PSWriteInt64(a, t, ok, x); }; };
    const auto real = [](long double x) { return [x](void* a, const TPSTypeRec* t, bool& ok) { PSWriteReal(a, t, ok, x); }; };
    const auto text = [](std::string x) { return [x](void* a, const TPSTypeRec* t, bool& ok) { PSWriteString(a, t, ok, x); }; };
    const auto ok_and = [](auto expected, auto get) {
        return [=](Value& v, bool ok) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(get(v), expected);
        };
    };
    const auto fails = [](Value&, bool ok) { EXPECT_FALSE(ok); };
    const auto u8 = [](Value& v) { return v.Get<std::uint8_t>(); };
    const auto s64 = [](Value& v) { return v.Get<std::int64_t>(); };
    const auto vtype = [](Value& v) { return Variant::SlotVType(v.Addr()); };

    write(gU8, uint(0xFFFFFF80u), ok_and(0x80, u8));
    write(gS16, uint(0xFFFFFF80u), ok_and(0xFF80, [](Value& v) { return v.Get<std::uint16_t>(); }));
    write(gS64, uint(0xFFFFFF80u), ok_and(0xFFFFFF80, s64));  // zero-extended
    write(gSingle, uint(0xFFFFFF80u), ok_and(4294967168.0f, [](Value& v) { return v.Get<float>(); }));
    write(gCur, uint(7), ok_and(70000, s64));
    write(gVar, uint(7), ok_and(std::uint16_t{varLongWord}, vtype));
    write(gProc, uint(9), ok_and(9u, [](Value& v) { return v.Get<PSProcPtrValue>().ProcNo; }));
    write(gStr, uint(7), fails);
    write(gS64, sint(-128), ok_and(-128, s64));  // sign-extended
    write(gDouble, sint(-128), ok_and(-128.0, [](Value& v) { return v.Get<double>(); }));
    write(gVar, sint(-1), ok_and(std::uint16_t{varInteger}, vtype));
    write(gU32, int64(-1), ok_and(0xFFFFFFFFu, [](Value& v) { return v.Get<std::uint32_t>(); }));
    write(gCur, int64(-1), ok_and(-10000, s64));
    write(gVar, int64(5), ok_and(std::uint16_t{varInt64}, vtype));
    write(gProc, int64(5), fails);
    write(gSingle, real(2.5L), ok_and(2.5f, [](Value& v) { return v.Get<float>(); }));
    write(gCur, real(2.5L), ok_and(25000, s64));
    write(gVar, real(2.5L), ok_and(std::uint16_t{varDouble}, vtype));
    write(gU8, real(2.5L), fails);
    write(gChar, text("xy"), ok_and('x', [](Value& v) { return v.Get<char>(); }));
    write(gStr, text("xy"), ok_and(std::string("xy"), [](Value& v) { return std::string(StringSlotView(v.Addr())); }));
    write(gVar, text("xy"), ok_and(std::uint16_t{varString}, vtype));
    write(gS32, text("xy"), fails);
    write(gPChar, text("xy"), fails);

    // A Char keeps its character when given an empty text.
    Value ch(T(gChar));
    ch.Set('q');
    bool ok = true;
    PSWriteString(ch.Addr(), ch.Type(), ok, "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(ch.Get<char>(), 'q');

    // Faults: a float beyond Single, a Currency beyond 64 bits.
    Value sg(T(gSingle));
    EXPECT_THROW(PSWriteReal(sg.Addr(), sg.Type(), ok, 1e300L), EPSMathError);
    Value cu(T(gCur));
    EXPECT_THROW(PSWriteInt64(cu.Addr(), cu.Type(), ok, INT64_MAX / 1000), EPSMathError);

    // Through a Pointer into its target; a nil Pointer takes nothing.
    Value target(T(gS32));
    Value p(PointerType());
    p.Set(PSPointerValue{target.Addr(), target.Type(), 0});
    ok = true;
    PSWriteInt(p.Addr(), PointerType(), ok, -5);
    EXPECT_TRUE(ok);
    EXPECT_EQ(target.Get<std::int32_t>(), -5);
    Value nil_pointer(PointerType());
    PSWriteInt(nil_pointer.Addr(), PointerType(), ok, 1);
    EXPECT_FALSE(ok);
}

// ------------------------------------------------------------ assignment

// dest := src through the executor; the error code it reported (0 for none).
std::uint8_t Assign(TPSExec& exec, Value& dest, Value& src) {
    exec.HandleError(kNoProc, kNoProc, ErNoError, {}, nullptr);
    const bool ok = exec.AssignValue(dest.Addr(), src.Addr(), dest.Type(), src.Type());
    EXPECT_EQ(ok, exec.LastErrorCode() == ErNoError);
    return exec.LastErrorCode();
}

TEST(value_access, assignment_converts_between_numeric_and_text_types) {
    TestExec exec;
    struct Row {
        const char* name;
        G src;
        std::function<void(Value&)> set;
        G dest;
        std::function<void(Value&)> check;
    };
    const Row rows[] = {
        {"S32 -1 to U8", gS32, [](Value& v) { v.Set(-1); }, gU8, [](Value& v) { EXPECT_EQ(v.Get<std::uint8_t>(), 255); }},
        {"S32 -1 to U16", gS32, [](Value& v) { v.Set(-1); }, gU16, [](Value& v) { EXPECT_EQ(v.Get<std::uint16_t>(), 65535); }},
        {"S32 -1 to S64", gS32, [](Value& v) { v.Set(-1); }, gS64, [](Value& v) { EXPECT_EQ(v.Get<std::int64_t>(), -1); }},
        {"U32 max to S64", gU32, [](Value& v) { v.Set(4294967295u); }, gS64, [](Value& v) { EXPECT_EQ(v.Get<std::int64_t>(), 4294967295); }},
        {"U32 max to Double", gU32, [](Value& v) { v.Set(4294967295u); }, gDouble, [](Value& v) { EXPECT_EQ(v.Get<double>(), 4294967295.0); }},
        {"Double 2.5 to Currency", gDouble, [](Value& v) { v.Set(2.5); }, gCur, [](Value& v) { EXPECT_EQ(v.Get<std::int64_t>(), 25000); }},
        {"Double -1.5 to Currency", gDouble, [](Value& v) { v.Set(-1.5); }, gCur, [](Value& v) { EXPECT_EQ(v.Get<std::int64_t>(), -15000); }},
        {"S32 7 to Currency", gS32, [](Value& v) { v.Set(7); }, gCur, [](Value& v) { EXPECT_EQ(v.Get<std::int64_t>(), 70000); }},
        {"Currency to Double", gCur, [](Value& v) { v.Set<std::int64_t>(12345); }, gDouble, [](Value& v) { EXPECT_EQ(v.Get<double>(), 1.2345); }},
        {"Currency to Single", gCur, [](Value& v) { v.Set<std::int64_t>(-5000); }, gSingle, [](Value& v) { EXPECT_EQ(v.Get<float>(), -0.5f); }},
        {"S64 to U32", gS64, [](Value& v) { v.Set<std::int64_t>(0x1FFFFFFFF); }, gU32, [](Value& v) { EXPECT_EQ(v.Get<std::uint32_t>(), 0xFFFFFFFFu); }},
        {"S8 to U32", gS8, [](Value& v) { v.Set<std::int8_t>(-2); }, gU32, [](Value& v) { EXPECT_EQ(v.Get<std::uint32_t>(), 0xFFFFFFFEu); }},
        {"Char to U32", gChar, [](Value& v) { v.Set('a'); }, gU32, [](Value& v) { EXPECT_EQ(v.Get<std::uint32_t>(), 97u); }},
        {"Extended to Extended", gExt, [](Value& v) { StoreExtended(v.Addr(), 1.0L / 3); }, gExt, [](Value& v) { EXPECT_EQ(LoadExtended(v.Addr()), 1.0L / 3); }},
        {"Char to String", gChar, [](Value& v) { v.Set('a'); }, gStr, [](Value& v) { EXPECT_EQ(StringSlotView(v.Addr()), "a"); }},
        {"U8 to String", gU8, [](Value& v) { v.Set<std::uint8_t>(65); }, gStr, [](Value& v) { EXPECT_EQ(StringSlotView(v.Addr()), "A"); }},
        {"PChar to String", gPChar, [](Value& v) { SetStringSlot(v.Addr(), "pc"); }, gStr, [](Value& v) { EXPECT_EQ(StringSlotView(v.Addr()), "pc"); }},
        {"Variant 300 to U8", gVar, [](Value& v) { Variant::StoreIntoSlot(v.Addr(), Variant::Integer(300)); }, gU8, [](Value& v) { EXPECT_EQ(v.Get<std::uint8_t>(), 44); }},
        {"Variant '12' to S32", gVar, [](Value& v) { Variant::StoreIntoSlot(v.Addr(), Variant::String("12")); }, gS32, [](Value& v) { EXPECT_EQ(v.Get<std::int32_t>(), 12); }},
        {"Variant 2.5 to S64", gVar, [](Value& v) { Variant::StoreIntoSlot(v.Addr(), Variant::Double(2.5)); }, gS64, [](Value& v) { EXPECT_EQ(v.Get<std::int64_t>(), 2); }},
        {"Variant LongWord max to U32", gVar, [](Value& v) { Variant::StoreIntoSlot(v.Addr(), Variant::LongWord(4294967295u)); }, gU32, [](Value& v) { EXPECT_EQ(v.Get<std::uint32_t>(), 4294967295u); }},
        {"String to Variant", gStr, [](Value& v) { SetStringSlot(v.Addr(), "txt"); }, gVar, [](Value& v) { EXPECT_EQ(Variant::CopyFromSlot(v.Addr()).ToString(), "txt"); }},
        {"Byte to Variant", gU8, [](Value& v) { v.Set<std::uint8_t>(2); }, gVar, [](Value& v) { EXPECT_EQ(Variant::SlotVType(v.Addr()), varByte); }},
        {"Integer to Variant", gS32, [](Value& v) { v.Set(1); }, gVar, [](Value& v) { EXPECT_EQ(Variant::SlotVType(v.Addr()), varInteger); }},
        {"Boolean to Variant", gBool, [](Value& v) { v.Set<std::uint8_t>(1); }, gVar, [](Value& v) { EXPECT_EQ(Variant::SlotVType(v.Addr()), varBoolean); }},
        {"U32 to ProcPtr", gU32, [](Value& v) { v.Set(3u); }, gProc, [](Value& v) { EXPECT_EQ(v.Get<PSProcPtrValue>().ProcNo, 3u); }},
        {"Record to Record", gRec, [](Value& v) { SetStringSlot(v.Addr(), "field"); }, gRec, [](Value& v) { EXPECT_EQ(StringSlotView(v.Addr()), "field"); }},
        {"Static to static", gStatic3, [](Value& v) { SetStringSlot(static_cast<std::byte*>(v.Addr()) + 16, "third"); }, gStatic3, [](Value& v) { EXPECT_EQ(StringSlotView(static_cast<std::byte*>(v.Addr()) + 16), "third"); }},
        {"ProcPtr to ProcPtr", gProc, [](Value& v) { v.Set(PSProcPtrValue{4, 0, nullptr, &v}); }, gProc, [](Value& v) { EXPECT_EQ(v.Get<PSProcPtrValue>().ProcNo, 4u); EXPECT_NE(v.Get<PSProcPtrValue>().Object, nullptr); }},
        {"Set to Set", gSet, [](Value& v) { v.Set<std::uint8_t>(0x05); }, gSet, [](Value& v) { EXPECT_EQ(v.Get<std::uint8_t>(), 0x05); }},
    };
    for (const auto& r : rows) {
        Value src(T(r.src)), dest(T(r.dest));
        r.set(src);
        EXPECT_EQ(Assign(exec, dest, src), ErNoError) << r.name << ": " << exec.LastErrorParam();
        r.check(dest);
    }

    // A Boolean survives the trip through a Variant and back.
    Value b(T(gBool)), v(T(gVar)), back(T(gBool));
    b.Set<std::uint8_t>(1);
    Assign(exec, v, b);
    Assign(exec, back, v);
    EXPECT_EQ(back.Get<std::uint8_t>(), 1);
}

TEST(value_access, failed_assignments_report_their_code_and_leave_the_destination) {
    TestExec exec;
    exec.SetCurrent(2, 1, 17);
    const auto expect_failure = [&](Value& dest, Value& src, std::uint8_t code, const std::string& param) {
        std::vector<std::byte> before(static_cast<const std::byte*>(dest.Addr()),
                                      static_cast<const std::byte*>(dest.Addr()) + dest.Type()->RealSize);
        EXPECT_EQ(Assign(exec, dest, src), code);
        EXPECT_EQ(exec.LastErrorParam(), param);
        EXPECT_EQ(exec.LastErrorPos(), 17u);
        EXPECT_EQ(0, std::memcmp(before.data(), dest.Addr(), before.size()));
    };
    Value s(T(gStr)), i(T(gS32)), r(T(gRec)), r2(T(gRec2)), d(T(gDouble)), sg(T(gSingle)), cu(T(gCur)), v(T(gVar));
    SetStringSlot(s.Addr(), "text");
    i.Set(99);
    expect_failure(i, s, erException, "Type Mismatch");
    expect_failure(r, r2, ErTypeMismatch, "");  // same layout, another type
    expect_failure(r, i, ErTypeMismatch, "");
    d.Set(1e300);
    expect_failure(sg, d, ErMathError, "Floating point overflow");
    expect_failure(cu, d, ErMathError, "Invalid floating point operation");
    Variant::StoreIntoSlot(v.Addr(), Variant::String("abc"));
    expect_failure(i, v, erException, "Cannot convert a String Variant to Int64");
    Variant::StoreIntoSlot(v.Addr(), Variant::LongWord(4294967295u));
    expect_failure(i, v, erException, "Cannot convert a LongWord Variant to Integer");
    Value sa(T(gStrArr)), ia(T(gIntArr));
    SetDynArrayLength(ia.Addr(), ia.Type(), 2);
    expect_failure(sa, ia, ErTypeMismatch, "");  // arrays of other element types
    Value p(T(gProc)), nil_pointer(PointerType());
    expect_failure(p, nil_pointer, erException, "Type Mismatch");
    // The kept exception object is what the host sees.
    EXPECT_THROW(exec.RaiseCurrentError(), EPSError);
}

TEST(value_access, a_value_assigned_to_itself_or_through_an_alias_keeps_its_content) {
    TestExec exec;
    Value a(T(gStrArr));
    SetDynArrayLength(a.Addr(), a.Type(), 3);
    for (int k = 0; k < 3; ++k) SetStringSlot(At(a, k), "s" + std::to_string(k));
    ASSERT_EQ(BlockRefCount(a.Get<void*>()), 1);
    EXPECT_EQ(Assign(exec, a, a), ErNoError);
    ASSERT_EQ(GetDynArrayLength(a.Addr(), a.Type()), 3);
    EXPECT_EQ(StringSlotView(At(a, 2)), "s2");
    EXPECT_EQ(BlockRefCount(a.Get<void*>()), 1);

    Value s(T(gStr));
    SetStringSlot(s.Addr(), "only reference");
    EXPECT_EQ(Assign(exec, s, s), ErNoError);
    EXPECT_EQ(StringSlotView(s.Addr()), "only reference");
    // A string through a Pointer to itself.
    Value p(PointerType());
    p.Set(PSPointerValue{s.Addr(), s.Type(), 0});
    EXPECT_EQ(Assign(exec, s, p), ErNoError);
    EXPECT_EQ(StringSlotView(s.Addr()), "only reference");

    Value v(T(gVar));
    Variant arr = Variant::Array(0, 1);
    arr.SetElement(0, Variant::String("kept"));
    Variant::StoreIntoSlot(v.Addr(), std::move(arr));
    EXPECT_EQ(Assign(exec, v, v), ErNoError);
    EXPECT_EQ(Variant::CopyFromSlot(v.Addr()).GetElement(0).ToString(), "kept");

    CountedDispatch intf;
    Value d(T(gDisp));
    intf.AddRef();
    d.Set(static_cast<IPSInterface*>(&intf));
    EXPECT_EQ(Assign(exec, d, d), ErNoError);
    EXPECT_FALSE(intf.released);  // never dropped to 0 on the way
    EXPECT_EQ(intf.refs, 1);

    // A record holding an array, assigned to itself.
    Value r(T(gRecArr));
    SetDynArrayLength(r.Addr(), r.Type(), 1);
    SetStringSlot(At(r, 0), "in record");
    void* element = At(r, 0);
    EXPECT_TRUE(exec.AssignValue(element, element, AsArray(r.Type()).ArrayType, AsArray(r.Type()).ArrayType));
    EXPECT_EQ(StringSlotView(At(r, 0)), "in record");

    // An owning Pointer copied onto itself gets a fresh copy of its target.
    Value owner(PointerType());
    void* copy = CreateHeapValue(T(gStr));
    SetStringSlot(copy, "owned");
    owner.Set(PSPointerValue{copy, T(gStr), 1});
    ASSERT_TRUE(CopyValues(owner.Addr(), owner.Addr(), 1, PointerType()));
    const auto now = owner.Get<PSPointerValue>();
    EXPECT_NE(now.OwnsCopy, 0u);
    EXPECT_EQ(StringSlotView(now.Address), "owned");

    d.Set(static_cast<IPSInterface*>(nullptr));
    intf.Release();
}

TEST(value_access, objects_and_integers_never_turn_into_each_other) {
    TestExec exec;
    TPSTypeRec_Class cls;
    cls.CalcSize();
    TestObject object;
    Value c(&cls), i(T(gS32)), u(T(gU32));
    c.Set(static_cast<IPSObject*>(&object));
    u.Set(5u);
    EXPECT_EQ(Assign(exec, c, u), ErTypeMismatch);  // no forged address
    EXPECT_EQ(c.Get<IPSObject*>(), &object);
    i.Set(0);
    EXPECT_EQ(Assign(exec, c, i), ErNoError);  // 0 is nil
    EXPECT_EQ(c.Get<IPSObject*>(), nullptr);
    i.Set(77);
    EXPECT_EQ(Assign(exec, i, c), ErNoError);  // nil reads 0
    EXPECT_EQ(i.Get<std::int32_t>(), 0);
    c.Set(static_cast<IPSObject*>(&object));
    EXPECT_EQ(Assign(exec, i, c), ErTypeMismatch);  // an object is no number
    EXPECT_EQ(i.Get<std::int32_t>(), 0);
    EXPECT_EQ(Assign(exec, u, c), erException);

    // Interface from Class: asked first, the old reference released after.
    CountedDispatch old_intf, new_intf;
    Value d(T(gDisp));
    old_intf.AddRef();
    d.Set(static_cast<IPSInterface*>(&old_intf));
    object.intf = &new_intf;  // but not for IDispatch's identity yet
    EXPECT_EQ(Assign(exec, d, c), erInterfaceNotSupported);
    EXPECT_EQ(d.Get<IPSInterface*>(), &old_intf);
    EXPECT_EQ(old_intf.refs, 1);
    object.provides = AsInterface(T(gDisp)).Guid;
    EXPECT_EQ(Assign(exec, d, c), ErNoError);
    EXPECT_EQ(d.Get<IPSInterface*>(), &new_intf);
    EXPECT_EQ(old_intf.refs, 0);
    EXPECT_EQ(new_intf.refs, 1);
    c.Set(static_cast<IPSObject*>(nullptr));
    EXPECT_EQ(Assign(exec, d, c), erInterfaceNotSupported);
    EXPECT_EQ(new_intf.refs, 1);

    // Host code failing inside an assignment becomes the error of its class;
    // a script error raised there keeps its own place.
    c.Set(static_cast<IPSObject*>(&object));
    object.on_ask = [&] { throw EPSException("nested failure", &exec, 3, 99); };
    EXPECT_EQ(Assign(exec, d, c), erCustomError);
    EXPECT_EQ(exec.LastErrorParam(), "nested failure");
    EXPECT_EQ(exec.LastErrorPos(), 99u);
    object.on_ask = [] { throw EPSDivByZero("Division by zero"); };
    EXPECT_EQ(Assign(exec, d, c), ErDivideByZero);
    object.on_ask = [] { throw std::runtime_error("host said no"); };
    EXPECT_EQ(Assign(exec, d, c), erException);
    EXPECT_EQ(exec.LastErrorParam(), "host said no");
    EXPECT_EQ(new_intf.refs, 1);
    object.on_ask = nullptr;

    // nil is written as an assignment from a fresh nil interface.
    Value nil_intf(T(gDisp));
    EXPECT_EQ(Assign(exec, d, nil_intf), ErNoError);
    EXPECT_EQ(new_intf.refs, 0);

    EXPECT_FALSE(new_intf.revived);

    // A dispatch interface goes into a Variant and back.
    CountedDispatch disp;
    disp.AddRef();
    d.Set(static_cast<IPSInterface*>(&disp));
    Value v(T(gVar));
    EXPECT_EQ(Assign(exec, v, d), ErNoError);
    EXPECT_EQ(Variant::SlotVType(v.Addr()), varDispatch);
    EXPECT_EQ(disp.refs, 2);
    Value d2(T(gDisp)), unknown(T(gIntf));
    EXPECT_EQ(Assign(exec, d2, v), ErNoError);
    EXPECT_EQ(disp.refs, 3);
    EXPECT_EQ(Assign(exec, unknown, v), ErTypeMismatch);  // only IDispatch takes a Variant
    Variant::ClearSlot(v.Addr());
    FinalizeValue(d2.Addr(), d2.Type());
    FinalizeValue(d.Addr(), d.Type());
    EXPECT_EQ(disp.refs, 0);
    EXPECT_FALSE(disp.revived);
}

TEST(value_access, a_pchar_keeps_its_own_characters) {
    TestExec exec;
    Value pc(T(gPChar));
    {
        Value v(T(gVar));
        Variant::StoreIntoSlot(v.Addr(), Variant::Integer(1234));
        EXPECT_EQ(Assign(exec, pc, v), ErNoError);
    }  // the source and any temporary text are gone
    EXPECT_EQ(PCharSlotView(pc.Addr()), "1234");
    EXPECT_EQ(LoadStr(pc.Addr())[4], '\0');

    Value s(T(gStr));
    SetStringSlot(s.Addr(), "from a string");
    EXPECT_EQ(Assign(exec, pc, s), ErNoError);
    SetStringSlot(s.Addr(), "changed");
    FinalizeValue(s.Addr(), s.Type());
    EXPECT_EQ(PCharSlotView(pc.Addr()), "from a string");
    Value copy(T(gPChar));
    ASSERT_TRUE(CopyValues(copy.Addr(), pc.Addr(), 1, pc.Type()));
    FinalizeValue(pc.Addr(), pc.Type());
    EXPECT_EQ(PCharSlotView(copy.Addr()), "from a string");
}

TEST(value_access, text_is_read_where_the_value_holds_it) {
    // A String's, a PChar's and a Char's text is seen in place, also through
    // a Pointer: reading a character of a long string costs no copy of it.
    Value s(T(gStr));
    SetStringSlot(s.Addr(), "characters");
    std::string made;
    std::string_view text = PSReadText(s.Addr(), s.Type(), made);
    EXPECT_EQ(text, "characters");
    EXPECT_EQ(text.data(), LoadStr(s.Addr()));
    EXPECT_EQ(BlockRefCount(LoadStr(s.Addr())), 1);
    Value pointer(PointerType());
    pointer.Set(PSPointerValue{s.Addr(), s.Type(), 0});
    EXPECT_EQ(PSReadText(pointer.Addr(), pointer.Type(), made).data(), LoadStr(s.Addr()));
    Value pc(T(gPChar));
    ShareStringSlot(pc.Addr(), s.Addr());
    EXPECT_EQ(PSReadText(pc.Addr(), pc.Type(), made).data(), LoadStr(s.Addr()));
    Value ch(T(gChar));
    ch.Set('q');
    text = PSReadText(ch.Addr(), ch.Type(), made);
    EXPECT_EQ(text, "q");
    EXPECT_EQ(text.data(), ch.Addr());
    EXPECT_TRUE(made.empty());
    // A Variant's text is made for the reader, and the view shows it.
    Value v(T(gVar));
    Variant::StoreIntoSlot(v.Addr(), Variant::Integer(-17));
    text = PSReadText(v.Addr(), v.Type(), made);
    EXPECT_EQ(text, "-17");
    EXPECT_EQ(text.data(), made.data());
    // What has no text fails as PSReadString does.
    Value n(T(gS32));
    EXPECT_THROW(PSReadText(n.Addr(), n.Type(), made), EPSError);
    pointer.Set(PSPointerValue{nullptr, s.Type(), 0});
    EXPECT_THROW(PSReadText(pointer.Addr(), pointer.Type(), made), EPSError);
}

// ------------------------------------------------------------ arrays

TEST(value_access, dynamic_arrays_are_shared_until_one_of_them_changes) {
    TestExec exec;
    Value keeper(T(gStr));
    SetStringSlot(keeper.Addr(), "element");
    const PSStr text = LoadStr(keeper.Addr());

    Value a(T(gStrArr)), b(T(gStrArr));
    SetDynArrayLength(a.Addr(), a.Type(), 3);
    for (int k = 0; k < 3; ++k) ShareStringSlot(At(a, k), keeper.Addr());
    EXPECT_EQ(BlockRefCount(text), 4);
    EXPECT_EQ(Assign(exec, b, a), ErNoError);
    EXPECT_EQ(b.Get<void*>(), a.Get<void*>());
    EXPECT_EQ(BlockRefCount(a.Get<void*>()), 2);

    SetDynArrayLength(b.Addr(), b.Type(), 4);  // copied before the change
    EXPECT_NE(b.Get<void*>(), a.Get<void*>());
    EXPECT_EQ(GetDynArrayLength(a.Addr(), a.Type()), 3);
    EXPECT_EQ(GetDynArrayLength(b.Addr(), b.Type()), 4);
    EXPECT_EQ(BlockRefCount(text), 7);
    EXPECT_EQ(StringSlotView(At(b, 3)), "");

    SetDynArrayLength(a.Addr(), a.Type(), 1);  // unshared: releases elements 1 and 2
    EXPECT_EQ(BlockRefCount(text), 5);
    SetDynArrayLength(a.Addr(), a.Type(), 3);
    EXPECT_EQ(StringSlotView(At(a, 0)), "element");
    EXPECT_EQ(StringSlotView(At(a, 2)), "");
    SetDynArrayLength(a.Addr(), a.Type(), -5);
    EXPECT_EQ(a.Get<void*>(), nullptr);
    // Arrays of another declaration but the same element type share too.
    Value b2(T(gStrArr2));
    EXPECT_EQ(Assign(exec, b2, b), ErNoError);
    EXPECT_EQ(b2.Get<void*>(), b.Get<void*>());

    // From a static array of the same element type: a copy.
    Value st3(T(gStatic3));
    ShareStringSlot(st3.Addr(), keeper.Addr());
    EXPECT_EQ(Assign(exec, b2, st3), ErNoError);
    EXPECT_EQ(GetDynArrayLength(b2.Addr(), b2.Type()), 3);
    EXPECT_EQ(StringSlotView(At(b2, 0)), "element");
    EXPECT_EQ(GetDynArrayLength(b.Addr(), b.Type()), 4);  // the block b2 shared is untouched

    // A Variant array converts element by element.
    Value ia(T(gIntArr)), v(T(gVar));
    Variant arr = Variant::Array(3, 5);
    arr.SetElement(3, Variant::Integer(1));
    arr.SetElement(4, Variant::String("2"));
    arr.SetElement(5, Variant::Double(3.5));
    Variant::StoreIntoSlot(v.Addr(), arr);
    EXPECT_EQ(Assign(exec, ia, v), ErNoError);
    ASSERT_EQ(GetDynArrayLength(ia.Addr(), ia.Type()), 3);
    EXPECT_EQ(LoadAs<std::int32_t>(At(ia, 2)), 4);  // 3.5 rounds to even
    arr.SetElement(4, Variant::String("two"));
    EXPECT_FALSE(VariantArrayToDynArray(exec, ia.Addr(), arr, ia.Type()));
    EXPECT_EQ(exec.LastErrorCode(), erException);
    EXPECT_THROW(GetDynArrayLength(v.Addr(), v.Type()), EPSError);
    EXPECT_THROW(SetDynArrayLength(v.Addr(), v.Type(), 1), EPSError);
}

TEST(value_access, a_record_copied_only_in_part_is_not_taken_as_copied) {
    // A record whose middle field is of a type without values to copy (the
    // interpreter's own return-address type): the fields before it are
    // copied, the record is not.
    TPSTypeRec stray(0);
    ASSERT_TRUE(stray.CalcSize());
    TPSTypeRec_Record rec;
    rec.FieldTypes = {T(gStr), &stray, T(gStr)};
    ASSERT_TRUE(rec.CalcSize());
    const auto field = [&](Value& v, std::size_t f) { return static_cast<std::byte*>(v.Addr()) + rec.FieldOffsets[f]; };
    Value src(&rec), dest(&rec);
    SetStringSlot(field(src, 0), "first");
    SetStringSlot(field(src, 2), "last");
    EXPECT_FALSE(CopyRecordValue(dest.Addr(), src.Addr(), &rec));
    EXPECT_EQ(StringSlotView(field(dest, 0)), "first");
    EXPECT_EQ(StringSlotView(field(dest, 2)), "") << "the copy goes no further than the field it could not copy";
    EXPECT_FALSE(CopyValues(dest.Addr(), src.Addr(), 1, &rec));
    TestExec exec;
    EXPECT_EQ(Assign(exec, dest, src), ErTypeMismatch);

    // Nor is an array of them: a dynamic array made from a static one stays
    // as it was.
    TPSTypeRec_StaticArray fixed;
    fixed.ArrayType = &rec;
    fixed.Size = 2;
    ASSERT_TRUE(fixed.CalcSize());
    TPSTypeRec_Array open;
    open.ArrayType = &rec;
    ASSERT_TRUE(open.CalcSize());
    Value from(&fixed), to(&open);
    EXPECT_EQ(Assign(exec, to, from), ErTypeMismatch);
    EXPECT_EQ(to.Get<void*>(), nullptr);

    // Without the stray field the same copies are whole.
    TPSTypeRec_Record plain;
    plain.FieldTypes = {T(gStr), T(gStr)};
    ASSERT_TRUE(plain.CalcSize());
    Value a(&plain), b(&plain);
    SetStringSlot(a.Addr(), "x");
    EXPECT_TRUE(CopyRecordValue(b.Addr(), a.Addr(), &plain));
    EXPECT_EQ(StringSlotView(b.Addr()), "x");
    EXPECT_EQ(Assign(exec, b, a), ErNoError);
}

TEST(value_access, arrays_beyond_the_size_cap_are_out_of_memory_and_stay_as_they_were) {
    TestExec exec;
    Value a(T(gIntArr));
    SetDynArrayLength(a.Addr(), a.Type(), 2);
    LoadAs<std::int32_t*>(a.Addr())[0] = 5;
    void* block = a.Get<void*>();
    const std::int64_t too_many = static_cast<std::int64_t>(kMaxValueBytes / 4);  // + the header: over
    EXPECT_THROW(SetDynArrayLength(a.Addr(), a.Type(), too_many), EPSOutOfMemory);
    EXPECT_THROW(SetDynArrayLength(a.Addr(), a.Type(), std::int64_t{1} << 40), EPSOutOfMemory);
    EXPECT_EQ(a.Get<void*>(), block);
    EXPECT_EQ(GetDynArrayLength(a.Addr(), a.Type()), 2);
    EXPECT_EQ(LoadAs<std::int32_t*>(a.Addr())[0], 5);
    EXPECT_THROW(Variant::Array(0, static_cast<std::int32_t>(kMaxValueBytes / 16)), EPSOutOfMemory);

    // Through an assignment it is runtime error 19: a million Variants are
    // within the cap, a million 300-byte elements are not.
    Value big(T(gBigArr)), v(T(gVar));
    Variant::StoreIntoSlot(v.Addr(), Variant::Array(0, 999999));
    EXPECT_EQ(Assign(exec, big, v), erOutOfMemory);
    EXPECT_EQ(PSErrorText(exec.LastErrorCode(), exec.LastErrorParam()), "Out Of Memory");
    EXPECT_EQ(big.Get<void*>(), nullptr);
}

}  // namespace
}  // namespace script::runtime
