#include "script/runtime/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "runtime_test_support.h"
#include "script/runtime/errors.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_access.h"
#include "script/runtime/variant_bridge.h"

namespace script::runtime {
namespace {

using testing::CompileTypes;
using testing::CountedDispatch;
using testing::TestExec;
using testing::Value;

// The message of the general failure a statement raises ("" when none).
template <typename F>
std::string FailureOf(F f) {
    try {
        f();
    } catch (const EPSError& e) {
        return e.Message;
    }
    return {};
}

TEST(variant, every_kind_answers_its_var_type_and_converts) {
    CountedDispatch disp;
    {
    const struct {
        Variant v;
        std::uint16_t vtype;
        const char* text;  // nullptr: no text form
        std::optional<std::int64_t> integer;
        std::optional<long double> real;
        std::optional<std::int64_t> currency;
        std::optional<bool> boolean;
    } rows[] = {
        {Variant(), 0, "", 0, 0.0L, 0, false},
        {Variant::Null(), 1, nullptr, {}, {}, {}, {}},
        {Variant::SmallInt(-300), 2, "-300", -300, -300.0L, -3000000, true},
        {Variant::Integer(-7), 3, "-7", -7, -7.0L, -70000, true},
        {Variant::Single(0.1f), 4, "0.1", 0, static_cast<long double>(0.1f), 1000, true},
        {Variant::Double(2.5), 5, "2.5", 2, 2.5L, 25000, true},
        {Variant::Currency(15000), 6, "1.5", 2, 1.5L, 15000, true},
        {Variant::Currency(-25000), 6, "-2.5", -2, -2.5L, -25000, true},
        {Variant::Date(45000.5), 7, "15.03.2023 12:00:00", 45000, 45000.5L, 450005000, true},
        {Variant::Dispatch(&disp), 9, nullptr, {}, {}, {}, {}},
        {Variant::Boolean(true), 11, "True", 1, 1.0L, 10000, true},
        {Variant::ShortInt(-128), 16, "-128", -128, -128.0L, -1280000, true},
        {Variant::Byte(255), 17, "255", 255, 255.0L, 2550000, true},
        {Variant::Word(65535), 18, "65535", 65535, 65535.0L, 655350000, true},
        {Variant::LongWord(4294967295u), 19, "4294967295", 4294967295, 4294967295.0L, 42949672950000, true},
        {Variant::Int64(INT64_MIN), 20, "-9223372036854775808", INT64_MIN, -9223372036854775808.0L, {}, true},
        {Variant::String(" $FF "), 256, " $FF ", 255, 255.0L, 2550000, true},
        {Variant::String("-1.25e2"), 256, "-1.25e2", -125, -125.0L, -1250000, true},
        {Variant::String("false"), 256, "false", {}, {}, {}, false},
        {Variant::Array(0, 1), 8204, nullptr, {}, {}, {}, {}},
    };
    for (const auto& r : rows) {
        const std::string kind(r.v.KindName());
        EXPECT_EQ(r.v.VType(), r.vtype) << kind;
        if (r.text) {
            EXPECT_EQ(r.v.ToString(), r.text) << kind;
        } else {
            EXPECT_EQ(FailureOf([&] { (void)r.v.ToString(); }), "Cannot convert a " + kind + " Variant to String");
        }
        if (r.integer) {
            EXPECT_EQ(r.v.ToInt64(), *r.integer) << kind;
        } else {
            EXPECT_THROW((void)r.v.ToInt64(), EPSError) << kind;
        }
        if (r.real) {
            EXPECT_EQ(r.v.ToReal(), *r.real) << kind;
        } else {
            EXPECT_THROW((void)r.v.ToReal(), EPSError) << kind;
        }
        if (r.currency) {
            EXPECT_EQ(r.v.ToCurrency(), *r.currency) << kind;
        } else {
            EXPECT_THROW((void)r.v.ToCurrency(), EPSError) << kind;  // a conversion or a math failure
        }
        if (r.boolean) {
            EXPECT_EQ(r.v.ToBoolean(), *r.boolean) << kind;
        } else {
            EXPECT_THROW((void)r.v.ToBoolean(), EPSError) << kind;
        }
    }
    }
    // Ranges: a LongWord beyond Integer, a float beyond 64 bits.
    EXPECT_EQ(FailureOf([] { (void)Variant::LongWord(4294967295u).ToInt32(); }),
              "Cannot convert a LongWord Variant to Integer");
    EXPECT_THROW((void)Variant::Double(1e19).ToInt64(), EPSMathError);
    EXPECT_THROW((void)Variant::Double(std::nan("")).ToInt64(), EPSMathError);
    EXPECT_EQ(Variant::Double(-3.5).ToInt32(), -4);
    EXPECT_EQ(Variant::Currency(25000).ToInt64(), 2);  // 2.5 to even
    EXPECT_EQ(Variant::Currency(35000).ToInt64(), 4);
    EXPECT_EQ(FailureOf([] { (void)Variant::String("12abc").ToInt64(); }), "Cannot convert a String Variant to Int64");
    EXPECT_EQ(FailureOf([] { (void)Variant::Null().ToDispatch(); }), "");
    EXPECT_EQ(Variant::Dispatch(&disp).ToDispatch(), &disp);
    EXPECT_EQ(disp.refs, 0);  // every copy released its reference
    EXPECT_EQ(Variant::Double(1e300).ToString(), "1e+300");
    EXPECT_EQ(Variant::Currency(-1).ToString(), "-0.0001");
}

TEST(variant, arithmetic_follows_the_kinds_of_both_sides) {
    const auto I = Variant::Integer;
    const struct {
        const char* name;
        TVarOp op;
        Variant a, b;
        std::uint16_t vtype;
        const char* text;
    } rows[] = {
        {"7 + 1", TVarOp::Add, I(7), I(1), varInteger, "8"},
        {"Byte 200 + Byte 100", TVarOp::Add, Variant::Byte(200), Variant::Byte(100), varInteger, "300"},
        {"max + 1 leaves 32 bits", TVarOp::Add, I(2147483647), I(1), varInt64, "2147483648"},
        {"Int64 wraps", TVarOp::Add, Variant::Int64(INT64_MAX), I(1), varInt64, "-9223372036854775808"},
        {"LongWord - 1", TVarOp::Sub, Variant::LongWord(0), I(1), varInt64, "-1"},
        {"7 div 2", TVarOp::IntDiv, I(7), I(2), varInteger, "3"},
        {"-7 div 2", TVarOp::IntDiv, I(-7), I(2), varInteger, "-3"},
        {"-7 mod 2", TVarOp::Mod, I(-7), I(2), varInteger, "-1"},
        {"7 / 2", TVarOp::RealDiv, I(7), I(2), varDouble, "3.5"},
        {"7.0 / 2", TVarOp::RealDiv, Variant::Double(7), I(2), varDouble, "3.5"},
        {"Currency 1 / 3", TVarOp::RealDiv, Variant::Currency(10000), I(3), varCurrency, "0.3333"},
        {"Currency 1.5 * Currency 2", TVarOp::Mul, Variant::Currency(15000), Variant::Currency(20000), varCurrency, "3"},
        {"Currency 10 + 1", TVarOp::Add, Variant::Currency(100000), I(1), varCurrency, "11"},
        {"Currency * Double", TVarOp::Mul, Variant::Currency(20000), Variant::Double(0.25), varDouble, "0.5"},
        {"Single + Single", TVarOp::Add, Variant::Single(0.5f), Variant::Single(0.25f), varDouble, "0.75"},
        {"strings concatenate", TVarOp::Add, Variant::String("ab"), Variant::String("cd"), varString, "abcd"},
        {"Empty + String", TVarOp::Add, Variant(), Variant::String("x"), varString, "x"},
        {"Empty + 3", TVarOp::Add, Variant(), I(3), varInteger, "3"},
        {"a number text + 2", TVarOp::Add, Variant::String("5"), I(2), varInteger, "7"},
        {"a float text * 2", TVarOp::Mul, Variant::String("2.5"), I(2), varDouble, "5"},
        {"Null + 1", TVarOp::Add, Variant::Null(), I(1), varNull, nullptr},
        {"True and False", TVarOp::And, Variant::Boolean(true), Variant::Boolean(false), varBoolean, "False"},
        {"True xor True", TVarOp::Xor, Variant::Boolean(true), Variant::Boolean(true), varBoolean, "False"},
        {"True + 1", TVarOp::Add, Variant::Boolean(true), I(1), varInteger, "2"},
        {"1 shl 33 in 32 bits", TVarOp::Shl, I(1), I(33), varInteger, "2"},
        {"Int64 1 shl 33", TVarOp::Shl, Variant::Int64(1), I(33), varInt64, "8589934592"},
        {"-8 shr 1 is logical", TVarOp::Shr, I(-8), I(1), varInteger, "2147483644"},
        {"6 xor 3", TVarOp::Xor, I(6), I(3), varInteger, "5"},
        {"6.6 or 1 rounds", TVarOp::Or, Variant::Double(6.6), I(1), varInteger, "7"},
        {"Date + 1", TVarOp::Add, Variant::Date(45000), I(1), varDate, "16.03.2023"},
        {"Date - Date", TVarOp::Sub, Variant::Date(45001), Variant::Date(45000), varDouble, "1"},
        {"Int64 min mod -1", TVarOp::Mod, Variant::Int64(INT64_MIN), I(-1), varInt64, "0"},
    };
    for (const auto& r : rows) {
        const Variant result = VarOp(r.op, r.a, r.b);
        EXPECT_EQ(result.VType(), r.vtype) << r.name;
        if (r.text) {
            EXPECT_EQ(result.ToString(), r.text) << r.name;
        }
    }

    EXPECT_THROW(VarOp(TVarOp::IntDiv, I(1), I(0)), EPSDivByZero);
    EXPECT_THROW(VarOp(TVarOp::Mod, I(1), Variant()), EPSDivByZero);
    EXPECT_THROW(VarOp(TVarOp::RealDiv, Variant::Double(1), Variant::Double(0)), EPSDivByZero);
    EXPECT_THROW(VarOp(TVarOp::RealDiv, Variant::Currency(1), I(0)), EPSDivByZero);
    EXPECT_THROW(VarOp(TVarOp::Mul, Variant::Double(1e308), I(10)), EPSMathError);
    EXPECT_THROW(VarOp(TVarOp::Sub, Variant::Double(INFINITY), Variant::Double(INFINITY)), EPSMathError);
    EXPECT_THROW(VarOp(TVarOp::Mul, Variant::Currency(INT64_MAX), I(2)), EPSMathError);
    EXPECT_EQ(FailureOf([&] { VarOp(TVarOp::IntDiv, Variant::Int64(INT64_MIN), I(-1)); }), "Integer overflow");
    EXPECT_EQ(FailureOf([&] { VarOp(TVarOp::Add, Variant::String("abc"), I(1)); }),
              "Cannot convert a String Variant to Double");
    EXPECT_EQ(FailureOf([&] { VarOp(TVarOp::Mul, Variant::Array(0, 0), I(1)); }),
              "Invalid Variant operation: Array * Integer");
    CountedDispatch disp;
    EXPECT_EQ(FailureOf([&] { VarOp(TVarOp::Add, Variant::Boolean(true), Variant::Dispatch(&disp)); }),
              "Invalid Variant operation: Boolean + Dispatch");

    EXPECT_EQ(VarNeg(I(INT32_MIN)).VType(), varInt64);
    EXPECT_EQ(VarNeg(I(INT32_MIN)).ToInt64(), 2147483648);
    EXPECT_EQ(VarNeg(Variant::Currency(15000)).ToString(), "-1.5");
    EXPECT_EQ(VarNeg(Variant::Single(2)).VType(), varSingle);
    EXPECT_TRUE(VarNeg(Variant::Null()).IsNull());
    EXPECT_EQ(FailureOf([] { VarNeg(Variant::Array(0, 0)); }), "Invalid Variant operation: - Array");
    EXPECT_THROW(VarNeg(Variant::Currency(INT64_MIN)), EPSMathError);
    EXPECT_EQ(VarNot(Variant::Boolean(true)).ToString(), "False");
    EXPECT_EQ(VarNot(I(0)).ToString(), "-1");
    EXPECT_EQ(VarNot(Variant::Int64(0)).VType(), varInt64);
    EXPECT_EQ(VarNot(Variant::String("true")).ToString(), "False");
    EXPECT_TRUE(VarNot(Variant::Null()).IsNull());
}

TEST(variant, comparisons_order_texts_ordinally_and_numbers_by_value) {
    const auto I = Variant::Integer;
    const struct {
        Variant a, b;
        TVarOrder order;
    } rows[] = {
        {I(1), Variant::Double(1.5), TVarOrder::Less},
        {Variant::LongWord(4294967295u), I(-1), TVarOrder::Greater},
        {Variant::Currency(15000), Variant::Double(1.5), TVarOrder::Equal},
        {Variant::Currency(10000), I(1), TVarOrder::Equal},
        {Variant::Int64(INT64_MAX), Variant::Currency(1), TVarOrder::Greater},
        {Variant::String("B"), Variant::String("a"), TVarOrder::Less},
        {Variant::String("ab"), Variant::String("abc"), TVarOrder::Less},
        {Variant::String("\xE0"), Variant::String("z"), TVarOrder::Greater},  // bytes compare unsigned
        {Variant(), Variant::String(""), TVarOrder::Equal},
        {Variant(), I(0), TVarOrder::Equal},
        {Variant::Null(), I(-5), TVarOrder::Less},
        {Variant::Null(), Variant::Null(), TVarOrder::Equal},
        {Variant::String("10"), I(9), TVarOrder::Greater},
        {Variant::Boolean(true), Variant::String("TRUE"), TVarOrder::Equal},
        {Variant::Boolean(false), Variant::Boolean(true), TVarOrder::Less},
        {Variant::Double(std::nan("")), I(1), TVarOrder::Unordered},
    };
    for (const auto& r : rows)
        EXPECT_EQ(VarCompare(r.a, r.b), r.order) << r.a.KindName() << " " << r.b.KindName();

    // Equality takes a text that is no number as simply unequal.
    EXPECT_FALSE(VarEquals(Variant::String("abc"), I(1)));
    EXPECT_THROW(VarCompare(Variant::String("abc"), I(1)), EPSError);
    EXPECT_TRUE(VarEquals(Variant::String(" 1 "), I(1)));
    EXPECT_FALSE(VarEquals(Variant::Null(), I(0)));
    EXPECT_TRUE(VarEquals(Variant(), Variant::Byte(0)));
    CountedDispatch d1, d2;
    EXPECT_TRUE(VarEquals(Variant::Dispatch(&d1), Variant::Dispatch(&d1)));
    EXPECT_FALSE(VarEquals(Variant::Dispatch(&d1), Variant::Dispatch(&d2)));
    EXPECT_FALSE(VarEquals(Variant::Dispatch(&d1), I(0)));
    EXPECT_EQ(FailureOf([&] { VarCompare(Variant::Dispatch(&d1), Variant::Dispatch(&d1)); }),
              "Invalid Variant operation: Dispatch compared with Dispatch");
    const Variant arr = Variant::Array(0, 0);
    EXPECT_FALSE(VarEquals(arr, Variant::Array(0, 0)));
    EXPECT_TRUE(VarEquals(arr, Variant(arr)));
    EXPECT_FALSE(VarEquals(arr, I(0)));
    EXPECT_TRUE(VariantHoldsFloat(Variant::Currency(1)));
    EXPECT_TRUE(VariantHoldsFloat(Variant::Single(1)));
    EXPECT_FALSE(VariantHoldsFloat(I(1)));
    EXPECT_FALSE(VariantHoldsFloat(Variant::String("1.5")));
}

TEST(variant, arrays_have_bounds_elements_and_copy_on_write) {
    Variant a = Variant::Array(2, 4);
    EXPECT_EQ(a.LowBound(), 2);
    EXPECT_EQ(a.HighBound(), 4);
    EXPECT_EQ(a.ElementCount(), 3);
    a.SetElement(2, Variant::String("two"));
    a.SetElement(4, Variant::Integer(4));
    EXPECT_TRUE(a.GetElement(3).IsEmpty());
    EXPECT_EQ(a.GetElement(2).ToString(), "two");
    EXPECT_EQ(FailureOf([&] { (void)a.GetElement(5); }), "Variant array index out of bounds");
    EXPECT_THROW(a.SetElement(1, Variant()), EPSError);

    Variant b = a;  // shared
    b.SetElement(4, Variant::String("changed"));
    EXPECT_EQ(a.GetElement(4).ToString(), "4");
    EXPECT_EQ(b.GetElement(4).ToString(), "changed");
    EXPECT_EQ(b.GetElement(2).ToString(), "two");

    // An array put into itself holds the old array, not a cycle.
    a.SetElement(3, a);
    EXPECT_EQ(a.GetElement(3).GetElement(2).ToString(), "two");
    EXPECT_TRUE(a.GetElement(3).GetElement(3).IsEmpty());

    EXPECT_TRUE(VariantArrayContains(a, Variant::String("4")));
    EXPECT_TRUE(VariantArrayContains(b, Variant::String("changed")));
    EXPECT_FALSE(VariantArrayContains(b, Variant::Integer(5)));
    EXPECT_EQ(Variant::Array(1, 0).ElementCount(), 0);
    EXPECT_EQ(FailureOf([] { (void)Variant::Array(5, 3); }), "Invalid Variant array bounds");
    EXPECT_EQ(FailureOf([] { (void)Variant::Integer(1).LowBound(); }), "Variant is not an array (Integer)");

    // In a slot, a Variant may be given a copy of itself.
    std::byte slot[16] = {};
    Variant::StoreIntoSlot(slot, b);
    Variant::StoreIntoSlot(slot, Variant::CopyFromSlot(slot));
    EXPECT_EQ(Variant::CopyFromSlot(slot).GetElement(4).ToString(), "changed");
    Variant::ClearSlot(slot);
    EXPECT_EQ(Variant::SlotVType(slot), varEmpty);
}

TEST(variant, script_values_become_variants_and_back) {
    const auto types = CompileTypes(
        "type TR = record a: Byte; end;\n"
        "var u8: Byte; s8: ShortInt; u16: Word; s16: SmallInt; u32: Cardinal; s32: Integer; i64: Int64;\n"
        "sg: Single; db: Double; ex: Extended; st: String; pc: PChar; ch: Char; cu: Currency; b: Boolean;\n"
        "da: array of Integer; sa: array[1..2] of String; r: TR; v: Variant;\n"
        "begin end.");
    TestExec exec;
    const struct {
        std::size_t var;
        std::function<void(Value&)> set;
        std::uint16_t vtype;
        const char* text;
    } rows[] = {
        {0, [](Value& v) { v.Set<std::uint8_t>(2); }, varByte, "2"},
        {1, [](Value& v) { v.Set<std::int8_t>(-2); }, varShortInt, "-2"},
        {2, [](Value& v) { v.Set<std::uint16_t>(2); }, varWord, "2"},
        {3, [](Value& v) { v.Set<std::int16_t>(-2); }, varSmallInt, "-2"},
        {4, [](Value& v) { v.Set<std::uint32_t>(4000000000u); }, varLongWord, "4000000000"},
        {5, [](Value& v) { v.Set<std::int32_t>(1); }, varInteger, "1"},
        {6, [](Value& v) { v.Set<std::int64_t>(-5); }, varInt64, "-5"},
        {7, [](Value& v) { v.Set<float>(0.5f); }, varDouble, "0.5"},
        {8, [](Value& v) { v.Set<double>(0.1); }, varDouble, "0.1"},
        {9, [](Value& v) { StoreExtended(v.Addr(), 1.5L); }, varDouble, "1.5"},
        {10, [](Value& v) { SetStringSlot(v.Addr(), "text"); }, varString, "text"},
        {11, [](Value& v) { SetStringSlot(v.Addr(), std::string("pc\0x", 4)); }, varString, "pc"},
        {12, [](Value& v) { v.Set<char>('c'); }, varString, "c"},
        {13, [](Value& v) { v.Set<std::int64_t>(12345); }, varCurrency, "1.2345"},
        {14, [](Value& v) { v.Set<std::uint8_t>(1); }, varBoolean, "True"},
        {18, [](Value& v) { Variant::StoreIntoSlot(v.Addr(), Variant::Word(9)); }, varWord, "9"},
    };
    for (const auto& r : rows) {
        Value value(types.Var(r.var));
        r.set(value);
        Variant v;
        ASSERT_TRUE(PSValueToVariant(value.Addr(), value.Type(), v)) << r.var;
        EXPECT_EQ(v.VType(), r.vtype) << r.var;
        EXPECT_EQ(v.ToString(), r.text) << r.var;

        // And back into a fresh value of the same type, as a host result.
        Value back(types.Var(r.var));
        EXPECT_TRUE(VariantToPSValue(exec, v, THostParam{back.Addr(), back.Type(), true})) << exec.LastErrorParam();
        Variant again;
        ASSERT_TRUE(PSValueToVariant(back.Addr(), back.Type(), again));
        EXPECT_EQ(again.ToString(), r.text) << r.var;
    }

    // Arrays become arrays 0..count-1, element by element.
    Value da(types.Var(15));
    SetDynArrayLength(da.Addr(), da.Type(), 2);
    StoreAs(LoadAs<std::byte*>(da.Addr()) + 4, std::int32_t{7});
    Variant v;
    ASSERT_TRUE(PSValueToVariant(da.Addr(), da.Type(), v));
    EXPECT_EQ(v.VType(), varVariantArray);
    EXPECT_EQ(v.HighBound(), 1);
    EXPECT_EQ(v.GetElement(1).VType(), varInteger);
    EXPECT_EQ(v.GetElement(1).ToString(), "7");
    Value sa(types.Var(16));
    SetStringSlot(static_cast<std::byte*>(sa.Addr()) + 8, "second");
    ASSERT_TRUE(PSValueToVariant(sa.Addr(), sa.Type(), v));
    EXPECT_EQ(v.GetElement(1).ToString(), "second");

    // A Pointer converts its target; a nil type is Null, no value at all Empty.
    TPSTypeRec pointer(btPointer);
    pointer.CalcSize();
    Value p(&pointer);
    p.Set(PSPointerValue{sa.Addr(), sa.Type(), 0});
    ASSERT_TRUE(PSValueToVariant(p.Addr(), &pointer, v));
    EXPECT_TRUE(v.IsArray());
    int dummy = 0;
    ASSERT_TRUE(PSValueToVariant(&dummy, nullptr, v));
    EXPECT_TRUE(v.IsNull());
    ASSERT_TRUE(PSValueToVariant(nullptr, nullptr, v));
    EXPECT_TRUE(v.IsEmpty());
    Value r(types.Var(17));
    EXPECT_FALSE(PSValueToVariant(r.Addr(), r.Type(), v));

    // A Double of the type named TDATETIME is a Date; an Extended beyond
    // Double is a math failure.
    TPSTypeRec date(btDouble);
    date.ExportName = "TDATETIME";
    date.CalcSize();
    Value dv(&date);
    dv.Set(2.0);
    ASSERT_TRUE(PSValueToVariant(dv.Addr(), &date, v));
    EXPECT_EQ(v.ToString(), "01.01.1900");
    Value ex(types.Var(9));
    StoreExtended(ex.Addr(), 1e4000L);
    EXPECT_THROW(PSValueToVariant(ex.Addr(), ex.Type(), v), EPSMathError);

    // Into a Pointer parameter: its target receives the value.
    Value cu(types.Var(13));
    p.Set(PSPointerValue{cu.Addr(), cu.Type(), 0});
    EXPECT_TRUE(VariantToPSValue(exec, Variant::Double(2.5), THostParam{p.Addr(), &pointer, true}));
    EXPECT_EQ(cu.Get<std::int64_t>(), 25000);
    EXPECT_FALSE(VariantToPSValue(exec, Variant::String("x"), THostParam{cu.Addr(), cu.Type(), false}));
    EXPECT_EQ(exec.LastErrorCode(), erException);
    EXPECT_FALSE(VariantToPSValue(exec, Variant(), THostParam{r.Addr(), r.Type(), false}));
    EXPECT_EQ(exec.LastErrorCode(), ErTypeMismatch);
}

}  // namespace
}  // namespace script::runtime
