// The value operators on globals of real image types: arithmetic, bitwise
// and unary operators family by family, comparisons by the left type, and
// the errors each reports.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "exec_test_support.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_access.h"
#include "script/runtime/variant_bridge.h"

namespace script::runtime {
namespace {

using V = Variant;
using testing::CompileOk;

constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();

struct Slot {
    void* Value;
    const TPSTypeRec* Type;
};

// Two globals (L and R) of each type a row may name, in one loaded image.
class Operators : public ::testing::Test {
protected:
    void SetUp() override {
        const char* types[] = {"Byte",     "ShortInt", "Word",    "SmallInt", "Cardinal", "Integer",  "Single",
                               "Double",   "Extended", "string",  "PChar",    "Variant",  "Int64",    "Char",
                               "Currency", "TSet",     "TOtherSet", "TEightSet", "TRec",   "TOtherRec", "TVariants",
                               "TProc",    "Boolean"};
        std::string source =
            "type TSet = set of Byte; TOtherSet = set of Byte; TEight = (e0, e1, e2, e3, e4, e5, e6, e7);\n"
            "TEightSet = set of TEight; TRec = record a: Byte; s: string; end;\n"
            "TOtherRec = record a: Byte; s: string; end; TVariants = array of Variant; TProc = procedure;\nvar ";
        for (const char* t : types) source += std::string("L") + t + ", R" + t + ": " + t + ";\n";
        source += "begin end.";
        const auto compiled = CompileOk(source);
        ASSERT_TRUE(exec.LoadImage(compiled.Image)) << PSErrorText(exec.LastErrorCode(), exec.LastErrorParam());
        std::uint32_t n = 0;
        for (const char* t : types) {
            index[std::string("L") + t] = n++;
            index[std::string("R") + t] = n++;
        }
    }

    Slot Get(const std::string& name) {
        void* item = exec.Globals().GetItem(index.at(name));
        return {ValueOfTypedValue(item), TypeOfTypedValue(item)};
    }
    void Set(const Slot& s, const Variant& v) {
        if (s.Type->BaseType == btProcPtr) {
            StoreAs(s.Value, PSProcPtrValue{static_cast<std::uint32_t>(v.ToInt64()), 0, nullptr, nullptr});
            return;
        }
        ASSERT_TRUE(VariantToPSValue(exec, v, THostParam{s.Value, s.Type, false})) << v.KindName();
    }
    Variant Read(const Slot& s) {
        Variant v;
        EXPECT_TRUE(PSValueToVariant(s.Value, s.Type, v));
        return v;
    }
    // Clears the error record for the next row.
    void ResetError() { exec.HandleError(kNoProc, 0, ErNoError, {}, nullptr); }
    std::string ErrorText() const { return PSErrorText(exec.LastErrorCode(), exec.LastErrorParam()); }

    TPSExec exec;
    std::map<std::string, std::uint32_t> index;
};

struct Row {
    const char* left;
    Variant lv;
    std::uint8_t op;
    const char* right;
    Variant rv;
    Variant want;  // the left afterwards (Calc) or the result (Compare)
    std::uint8_t error = ErNoError;
    const char* param = "";
};

std::string Describe(const Row& r) {
    return std::string(r.left) + " " + r.lv.ToString() + " <" + std::to_string(r.op) + "> " + r.right + " " +
           (r.rv.IsArray() ? std::string("[array]") : r.rv.ToString());
}

TEST_F(Operators, arithmetic_and_bitwise_operators_by_left_family) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        // U8, S8, U16, S16 and Char: in 32 bits, the low bits kept.
        {"Byte", V::Byte(250), caAdd, "Byte", V::Byte(10), V::Byte(4)},
        {"Byte", V::Byte(255), caMul, "Byte", V::Byte(2), V::Byte(254)},
        {"Byte", V::Byte(7), caDiv, "Byte", V::Byte(2), V::Byte(3)},
        {"Byte", V::Byte(200), caDiv, "ShortInt", V::ShortInt(-1), V::Byte(0)},  // by 4294967295
        {"Byte", V::Byte(1), caShl, "Byte", V::Byte(8), V::Byte(0)},
        {"Byte", V::Byte(248), caShr, "Byte", V::Byte(1), V::Byte(124)},
        {"Byte", V::Byte(12), caAnd, "Byte", V::Byte(10), V::Byte(8)},
        {"Byte", V::Byte(12), caXor, "Integer", V::Integer(10), V::Byte(6)},
        {"Byte", V::Byte(5), caMod, "Byte", V::Byte(0), {}, ErDivideByZero},
        {"ShortInt", V::ShortInt(127), caAdd, "Byte", V::Byte(1), V::ShortInt(-128)},
        {"ShortInt", V::ShortInt(-8), caShr, "Byte", V::Byte(1), V::ShortInt(-4)},
        {"ShortInt", V::ShortInt(-7), caDiv, "Byte", V::Byte(2), V::ShortInt(-3)},
        {"ShortInt", V::ShortInt(-7), caMod, "Byte", V::Byte(2), V::ShortInt(-1)},
        {"ShortInt", V::ShortInt(-128), caDiv, "ShortInt", V::ShortInt(-1), V::ShortInt(-128)},
        {"Word", V::Word(65535), caAdd, "Byte", V::Byte(1), V::Word(0)},
        {"Word", V::Word(1), caShl, "Byte", V::Byte(33), V::Word(2)},  // counts modulo 32
        {"SmallInt", V::SmallInt(-32768), caSub, "Byte", V::Byte(1), V::SmallInt(32767)},
        {"SmallInt", V::SmallInt(-1), caShr, "Byte", V::Byte(8), V::SmallInt(-1)},
        {"Char", V::String("a"), caAdd, "Byte", V::Byte(1), V::String("b")},
        {"Char", V::String("b"), caSub, "Char", V::String("\x01"), V::String("a")},
        {"Char", V::String("b"), caMul, "Byte", V::Byte(1), {}, ErTypeMismatch},
        {"Byte", V::Byte(1), caAdd, "string", V::String("x"), {}, erException, "Type Mismatch"},
        // U32 and S32: the right at its own width.
        {"Cardinal", V::LongWord(4294967295u), caDiv, "Integer", V::Integer(-1), V::LongWord(1)},
        {"Cardinal", V::LongWord(4294967295u), caAdd, "Byte", V::Byte(1), V::LongWord(0)},
        {"Cardinal", V::LongWord(1), caShl, "Byte", V::Byte(32), V::LongWord(1)},
        {"Cardinal", V::LongWord(10), caDiv, "Int64", V::Int64(3), V::LongWord(3)},
        {"Cardinal", V::LongWord(7), caAdd, "Int64", V::Int64((std::int64_t{1} << 32) + 1), V::LongWord(8)},
        {"Cardinal", V::LongWord(7), caDiv, "Variant", V::Integer(2), V::LongWord(3)},
        {"Cardinal", V::LongWord(5), caSub, "Variant", V::Integer(6), V::LongWord(4294967295u)},
        {"Cardinal", V::LongWord(5), caDiv, "Double", V::Double(2), {}, erException, "Type Mismatch"},
        {"Integer", V::Integer(2147483647), caAdd, "Byte", V::Byte(1), V::Integer(-2147483647 - 1)},
        {"Integer", V::Integer(-7), caDiv, "Byte", V::Byte(2), V::Integer(-3)},
        {"Integer", V::Integer(-7), caMod, "Byte", V::Byte(2), V::Integer(-1)},
        {"Integer", V::Integer(-8), caShr, "Byte", V::Byte(1), V::Integer(2147483644)},
        {"Integer", V::Integer(-7), caDiv, "Int64", V::Int64(2), V::Integer(-3)},
        {"Integer", V::Integer(-2147483647 - 1), caDiv, "Int64", V::Int64(-1), V::Integer(-2147483647 - 1)},
        {"Integer", V::Integer(5), caAdd, "Variant", V::Integer(2), V::Integer(7)},
        {"Integer", V::Integer(7), caDiv, "Double", V::Double(2), {}, erException, "Type Mismatch"},
        {"Integer", V::Integer(-2147483647 - 1), caDiv, "Integer", V::Integer(-1), {}, erException, "Integer overflow"},
        {"Integer", V::Integer(-2147483647 - 1), caMod, "Integer", V::Integer(-1), {}, erException, "Integer overflow"},
        {"Integer", V::Integer(3), caDiv, "Integer", V::Integer(0), {}, ErDivideByZero},
        {"Integer", V::Integer(3), caMod, "Int64", V::Int64(0), {}, ErDivideByZero},
        // S64.
        {"Int64", V::Int64(kMax64), caAdd, "Byte", V::Byte(1), V::Int64(kMin64)},
        {"Int64", V::Int64(1), caShl, "Byte", V::Byte(63), V::Int64(kMin64)},
        {"Int64", V::Int64(1), caShl, "Byte", V::Byte(64), V::Int64(0)},
        {"Int64", V::Int64(1), caShl, "Integer", V::Integer(127), V::Int64(0)},
        {"Int64", V::Int64(1), caShl, "Integer", V::Integer(200), V::Int64(256)},  // 200 mod 32
        {"Int64", V::Int64(-1), caShr, "Byte", V::Byte(60), V::Int64(15)},
        {"Int64", V::Int64(-7), caMod, "Byte", V::Byte(2), V::Int64(-1)},
        {"Int64", V::Int64(7), caXor, "Variant", V::Integer(5), V::Int64(2)},
        {"Int64", V::Int64(kMin64), caDiv, "Integer", V::Integer(-1), {}, erException, "Integer overflow"},
        {"Int64", V::Int64(10), caDiv, "Byte", V::Byte(0), {}, ErDivideByZero},
        // Floats: in Extended, rounded to the left's precision.
        {"Double", V::Double(7), caDiv, "Byte", V::Byte(2), V::Double(3.5)},
        {"Double", V::Double(1), caAdd, "Currency", V::Currency(15000), V::Double(2.5)},
        {"Double", V::Double(2), caAdd, "Variant", V::Double(0.5), V::Double(2.5)},
        {"Double", V::Double(1), caSub, "Cardinal", V::LongWord(4294967295u), V::Double(-4294967294.0)},
        {"Single", V::Single(1), caDiv, "Integer", V::Integer(4), V::Single(0.25f)},
        {"Double", V::Double(1), caDiv, "Double", V::Double(0), {}, ErDivideByZero},
        {"Double", V::Double(0), caDiv, "Integer", V::Integer(0), {}, ErDivideByZero},
        {"Double", V::Double(1e300), caMul, "Double", V::Double(1e300), {}, ErMathError},
        {"Single", V::Single(1e30f), caMul, "Double", V::Double(1e10), {}, ErMathError},
        {"Double", V::Double(1), caMul, "string", V::String("2"), {}, erException, "Type Mismatch"},
        {"Double", V::Double(1), caMod, "Double", V::Double(2), {}, ErTypeMismatch},
        // Currency: on the amounts, to 1/10000, ties to even.
        {"Currency", V::Currency(10000), caDiv, "Integer", V::Integer(3), V::Currency(3333)},
        {"Currency", V::Currency(10000), caMul, "Currency", V::Currency(15000), V::Currency(15000)},
        {"Currency", V::Currency(100000), caAdd, "Cardinal", V::LongWord(1), V::Currency(110000)},
        {"Currency", V::Currency(20000), caMul, "Int64", V::Int64(3), V::Currency(60000)},
        {"Currency", V::Currency(10000), caDiv, "Currency", V::Currency(30000), V::Currency(3333)},
        {"Currency", V::Currency(1), caMul, "Double", V::Double(0.5), V::Currency(0)},
        {"Currency", V::Currency(3), caMul, "Double", V::Double(0.5), V::Currency(2)},
        {"Currency", V::Currency(10000), caSub, "Variant", V::Double(0.25), V::Currency(7500)},
        {"Currency", V::Currency(10000), caDiv, "Byte", V::Byte(0), {}, ErDivideByZero},
        {"Currency", V::Currency(10000), caDiv, "Currency", V::Currency(0), {}, ErDivideByZero},
        {"Currency", V::Currency(kMax64), caAdd, "Byte", V::Byte(1), {}, ErMathError},
        {"Currency", V::Currency(1), caMul, "Double", V::Double(nan), {}, ErMathError},
        {"Currency", V::Currency(1), caAdd, "Char", V::String("a"), {}, erException, "Type Mismatch"},
        // Variant left: the Variant operation; "/" by the left's kind.
        {"Variant", V::Integer(7), caDiv, "Byte", V::Byte(2), V::Integer(3)},
        {"Variant", V::Double(7), caDiv, "Byte", V::Byte(2), V::Double(3.5)},
        {"Variant", V::String("ab"), caAdd, "Char", V::String("c"), V::String("abc")},
        {"Variant", V::Integer(1), caAdd, "TRec", V::Integer(0), {}, ErTypeMismatch},
        {"Variant", V::Integer(1), caDiv, "Integer", V::Integer(0), {}, ErDivideByZero},
        // Strings: "+" only.
        {"string", V::String("ab"), caAdd, "Char", V::String("c"), V::String("abc")},
        {"string", V::String("ab"), caAdd, "Variant", V::Integer(12), V::String("ab12")},
        {"PChar", V::String("x"), caAdd, "string", V::String("yz"), V::String("xyz")},
        {"string", V::String("ab"), caAdd, "Integer", V::Integer(1), {}, erException, "Type Mismatch"},
        {"string", V::String("ab"), caSub, "string", V::String("b"), {}, ErTypeMismatch},
        // Operators without a row for the left type, and beyond the last.
        {"Boolean", V::Boolean(true), caAdd, "TRec", V::Integer(0), {}, erException, "Type Mismatch"},
        {"TRec", V::Integer(0), caAdd, "TRec", V::Integer(0), {}, ErTypeMismatch},
        {"Integer", V::Integer(1), 10, "Cardinal", V::LongWord(0), {}, ErTypeMismatch},
        {"Integer", V::Integer(1), 11, "Integer", V::Integer(1), {}, erInvalidOpcodeParameter},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(Describe(r));
        const Slot left = Get(std::string("L") + r.left);
        const Slot right = Get(std::string("R") + r.right);
        if (left.Type->BaseType != btRecord) Set(left, r.lv);
        if (right.Type->BaseType != btRecord) Set(right, r.rv);
        const Variant before = left.Type->BaseType == btRecord ? Variant() : Read(left);
        ResetError();
        const bool ok = exec.CalcValues(left.Value, right.Value, left.Type, right.Type, r.op);
        EXPECT_EQ(ok, r.error == ErNoError) << ErrorText();
        EXPECT_EQ(exec.LastErrorCode(), r.error) << ErrorText();
        if (r.error == ErNoError) {
            const Variant got = Read(left);
            EXPECT_TRUE(VarEquals(got, r.want)) << got.ToString() << " (" << got.KindName() << ")";
            continue;
        }
        EXPECT_EQ(exec.LastErrorParam(), r.param);
        if (std::string_view(r.param) != "Type Mismatch") {
            EXPECT_FALSE(exec.HasLastErrorObject());
        }
        if (left.Type->BaseType != btRecord) {
            EXPECT_TRUE(VarEquals(Read(left), before)) << "the left changed";
        }
    }
    EXPECT_EQ(PSErrorText(ErDivideByZero, {}), "divide by Zero");
}

TEST_F(Operators, comparisons_by_left_type) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto yes = V::Boolean(true);
    const auto no = V::Boolean(false);
    const Row rows[] = {
        {"Byte", V::Byte(200), coGreater, "ShortInt", V::ShortInt(-1), no},  // right read as 4294967295
        {"Byte", V::Byte(65), coEqual, "string", V::String("A"), yes},
        {"Byte", V::Byte(65), coLess, "string", V::String("AB"), yes},
        {"ShortInt", V::ShortInt(-1), coLess, "Byte", V::Byte(0), yes},
        {"Word", V::Word(65535), coGreaterEqual, "Cardinal", V::LongWord(65535), yes},
        {"Integer", V::Integer(-1), coLess, "Cardinal", V::LongWord(1), yes},
        {"Cardinal", V::LongWord(4294967295u), coGreater, "Integer", V::Integer(1), yes},
        {"Integer", V::Integer(-1), coEqual, "Cardinal", V::LongWord(4294967295u), yes},
        {"Integer", V::Integer(5), coLess, "Int64", V::Int64(std::int64_t{1} << 40), yes},
        {"Integer", V::Integer(3), coLess, "Double", V::Double(3.5), yes},
        {"Integer", V::Integer(3), coEqual, "Variant", V::String("3"), yes},
        {"Integer", V::Integer(5), coEqual, "TProc", V::Integer(5), yes},
        {"Integer", V::Integer(5), coGreater, "TProc", V::Integer(5), {}, ErTypeMismatch},
        {"Integer", V::Integer(1), coEqual, "string", V::String("1"), {}, erException, "Type Mismatch"},
        {"Char", V::String("a"), coLess, "string", V::String("b"), yes},
        {"Char", V::String("a"), coEqual, "string", V::String("a"), yes},
        {"string", V::String("abc"), coLess, "string", V::String("abd"), yes},
        {"string", V::String("ab"), coLess, "string", V::String("abc"), yes},
        {"string", V::String("B"), coLess, "string", V::String("a"), yes},
        {"string", V::String("\xE9"), coGreater, "string", V::String("z"), yes},  // bytes unsigned
        {"PChar", V::String("abc"), coEqual, "Char", V::String("a"), no},
        {"Double", V::Double(nan), coEqual, "Double", V::Double(nan), no},
        {"Double", V::Double(nan), coNotEqual, "Double", V::Double(nan), yes},
        {"Double", V::Double(nan), coGreaterEqual, "Integer", V::Integer(1), no},
        {"Single", V::Single(0.5f), coEqual, "Currency", V::Currency(5000), yes},
        {"Currency", V::Currency(15000), coEqual, "Double", V::Double(1.5), yes},
        {"Currency", V::Currency(0), coEqual, "Double", V::Double(0.00004), yes},
        {"Currency", V::Currency(0), coEqual, "Double", V::Double(0.00006), no},
        {"Int64", V::Int64(kMin64), coLess, "Int64", V::Int64(kMax64), yes},
        {"Variant", V::Integer(2), coLess, "Byte", V::Byte(3), yes},
        {"Variant", V::String("x"), coEqual, "Integer", V::Integer(1), no},
        {"Variant", V::Integer(1), coEqual, "TRec", V::Integer(0), {}, ErTypeMismatch},
        {"TRec", V::Integer(0), coLess, "TRec", V::Integer(0), {}, ErTypeMismatch},
        {"TRec", V::Integer(0), coEqual, "TOtherRec", V::Integer(0), {}, ErTypeMismatch},
        {"TProc", V::Integer(3), coEqual, "TProc", V::Integer(3), yes},
        {"TProc", V::Integer(3), coNotEqual, "TProc", V::Integer(4), yes},
        {"TProc", V::Integer(3), coLess, "TProc", V::Integer(4), {}, ErTypeMismatch},
        {"TProc", V::Integer(3), coEqual, "Integer", V::Integer(3), {}, ErTypeMismatch},
        {"Integer", V::Integer(1), 8, "Integer", V::Integer(1), {}, erInvalidOpcodeParameter},
        // "in": a set's bit, or an equal element of an array of Variants.
        {"Byte", V::Byte(5), coIn, "Integer", V::Integer(0), {}, ErTypeMismatch},
        {"Integer", V::Integer(2), coIn, "TVariants", V::Array(0, -1), no},
        {"string", V::String("x"), coIn, "TVariants", V::Integer(0), no},
        {"Byte", V::Byte(5), coIs, "Cardinal", V::LongWord(0), {}, ErTypeMismatch},
    };
    const Slot result = Get("LBoolean");
    for (const Row& r : rows) {
        SCOPED_TRACE(Describe(r));
        const Slot left = Get(std::string("L") + r.left);
        const Slot right = Get(std::string("R") + r.right);
        if (left.Type->BaseType != btRecord) Set(left, r.lv);
        if (right.Type->BaseType != btRecord && right.Type->BaseType != btArray) Set(right, r.rv);
        Set(result, V::Byte(7));
        ResetError();
        const bool ok = exec.CompareValues(left.Value, right.Value, result.Value, left.Type, right.Type, result.Type, r.op);
        EXPECT_EQ(ok, r.error == ErNoError) << ErrorText();
        EXPECT_EQ(exec.LastErrorCode(), r.error) << ErrorText();
        if (r.error == ErNoError) {
            EXPECT_EQ(LoadAs<std::uint8_t>(result.Value), r.want.ToBoolean() ? 1 : 0);
        } else {
            EXPECT_EQ(exec.LastErrorParam(), r.param);
            EXPECT_EQ(LoadAs<std::uint8_t>(result.Value), 7) << "nothing is stored after a failure";
        }
    }

    // Result slots: integers of any width and Variants take the answer.
    const Slot one = Get("LInteger");
    Set(one, V::Integer(1));
    for (const char* name : {"RWord", "RCardinal", "RVariant", "RSmallInt"}) {
        const Slot out = Get(name);
        ASSERT_TRUE(exec.CompareValues(one.Value, one.Value, out.Value, one.Type, one.Type, out.Type, coEqual)) << name;
        EXPECT_TRUE(VarEquals(Read(out), V::Integer(1))) << name;
    }
    EXPECT_EQ(Read(Get("RVariant")).VType(), varBoolean);
    const Slot char_result = Get("RChar");
    ResetError();
    EXPECT_FALSE(exec.CompareValues(one.Value, one.Value, char_result.Value, one.Type, one.Type, char_result.Type, coEqual));
    EXPECT_EQ(exec.LastErrorCode(), ErTypeMismatch);
}

TEST_F(Operators, sets_records_procedures_variant_arrays_and_classes) {
    const Slot result = Get("LBoolean");
    auto compare = [&](const Slot& l, const Slot& r, std::uint8_t op) -> int {
        ResetError();
        if (!exec.CompareValues(l.Value, r.Value, result.Value, l.Type, r.Type, result.Type, op))
            return -exec.LastErrorCode();
        return LoadAs<std::uint8_t>(result.Value);
    };
    auto calc = [&](const Slot& l, const Slot& r, std::uint8_t op) {
        ResetError();
        return exec.CalcValues(l.Value, r.Value, l.Type, r.Type, op) ? 0 : exec.LastErrorCode();
    };
    auto set_bits = [](const Slot& s, std::initializer_list<int> bits) {
        std::memset(s.Value, 0, AsSet(s.Type).ByteSize);
        for (int b : bits) static_cast<std::uint8_t*>(s.Value)[b / 8] |= static_cast<std::uint8_t>(1 << (b % 8));
    };
    auto bits_of = [](const Slot& s) {
        std::vector<int> out;
        for (std::uint32_t b = 0; b < AsSet(s.Type).BitSize; ++b)
            if (static_cast<const std::uint8_t*>(s.Value)[b / 8] >> (b % 8) & 1) out.push_back(static_cast<int>(b));
        return out;
    };

    const Slot l = Get("LTSet"), r = Get("RTSet"), other = Get("LTOtherSet");
    ASSERT_NE(l.Type, other.Type);
    set_bits(l, {1, 2});
    set_bits(r, {1});
    EXPECT_EQ(compare(l, r, coGreaterEqual), 1);
    EXPECT_EQ(compare(r, l, coLessEqual), 1);
    EXPECT_EQ(compare(r, l, coGreaterEqual), 0);
    EXPECT_EQ(compare(l, r, coEqual), 0);
    EXPECT_EQ(compare(l, r, coNotEqual), 1);
    EXPECT_EQ(compare(l, r, coGreater), -ErTypeMismatch);
    EXPECT_EQ(compare(l, other, coEqual), -ErTypeMismatch);
    set_bits(r, {2});
    ASSERT_EQ(calc(l, r, caSub), 0);
    EXPECT_EQ(bits_of(l), std::vector<int>{1});
    set_bits(l, {1, 2, 200});
    set_bits(r, {2, 3, 200});
    ASSERT_EQ(calc(l, r, caMul), 0);
    EXPECT_EQ(bits_of(l), (std::vector<int>{2, 200}));
    ASSERT_EQ(calc(l, r, caAdd), 0);
    EXPECT_EQ(bits_of(l), (std::vector<int>{2, 3, 200}));
    EXPECT_EQ(calc(l, other, caAdd), ErTypeMismatch);
    EXPECT_EQ(calc(l, r, caDiv), ErTypeMismatch);
    // "in" reads the left by its own type; a value beyond the set's bits is
    // error 18.
    const Slot eight = Get("LTEightSet"), b = Get("LByte");
    set_bits(eight, {5});
    Set(b, V::Byte(5));
    EXPECT_EQ(compare(b, eight, coIn), 1);
    Set(b, V::Byte(7));
    EXPECT_EQ(compare(b, eight, coIn), 0);
    Set(b, V::Byte(8));
    EXPECT_EQ(compare(b, eight, coIn), -erOutofRecordRange);
    EXPECT_EQ(compare(Get("Lstring"), eight, coIn), -erException);

    // Records compare their bytes, so strings by reference.
    const Slot rec1 = Get("LTRec"), rec2 = Get("RTRec");
    StoreAs(rec1.Value, std::uint8_t{1});
    StoreAs(rec2.Value, std::uint8_t{1});
    EXPECT_EQ(compare(rec1, rec2, coEqual), 1);
    SetStringSlot(static_cast<std::byte*>(rec1.Value) + 1, "s");
    SetStringSlot(static_cast<std::byte*>(rec2.Value) + 1, "s");
    EXPECT_EQ(compare(rec1, rec2, coEqual), 0);
    ShareStringSlot(static_cast<std::byte*>(rec2.Value) + 1, static_cast<std::byte*>(rec1.Value) + 1);
    EXPECT_EQ(compare(rec1, rec2, coEqual), 1);

    // Procedure values: by number; host methods (number 0) by code and
    // object.
    const Slot p1 = Get("LTProc"), p2 = Get("RTProc");
    int code = 0, object = 0;
    StoreAs(p1.Value, PSProcPtrValue{0, 0, &code, &object});
    StoreAs(p2.Value, PSProcPtrValue{0, 0, &code, &object});
    EXPECT_EQ(compare(p1, p2, coEqual), 1);
    StoreAs(p2.Value, PSProcPtrValue{0, 0, &code, nullptr});
    EXPECT_EQ(compare(p1, p2, coEqual), 0);
    StoreAs(p2.Value, PSProcPtrValue{2, 0, &code, &object});
    EXPECT_EQ(compare(p1, p2, coNotEqual), 1);

    // "in" an array of Variants: some element equal to the left, which is
    // made a Variant first (or counts as empty when it cannot be one).
    const Slot arr = Get("RTVariants");
    Variant values = V::Array(0, 2);
    values.SetElement(0, V::Integer(1));
    values.SetElement(1, V::String("x"));
    Set(arr, values);
    Set(Get("Lstring"), V::String("y"));
    EXPECT_EQ(compare(Get("Lstring"), arr, coIn), 0);
    Set(Get("Lstring"), V::String("x"));
    EXPECT_EQ(compare(Get("Lstring"), arr, coIn), 1);
    Set(Get("LDouble"), V::Double(1.0));
    EXPECT_EQ(compare(Get("LDouble"), arr, coIn), 1);
    EXPECT_EQ(compare(rec1, arr, coIn), 1);  // an empty element

    // Classes and interfaces by reference; "is" and "as" know no class, so
    // "is" answers false and "as" fails, once the operands are right.
    auto class_type = CreateTypeRec(btClass);
    class_type->CalcSize();
    auto intf_type = CreateTypeRec(btInterface);
    intf_type->CalcSize();
    testing::TestObject obj;
    void* objects[2] = {&obj, nullptr};
    testing::CountedDispatch d1, d2;
    IPSInterface* intfs[2] = {&d1, &d2};
    const Slot o1{&objects[0], class_type.get()}, o2{&objects[1], class_type.get()};
    const Slot i1{&intfs[0], intf_type.get()}, i2{&intfs[1], intf_type.get()};
    EXPECT_EQ(compare(o1, o1, coEqual), 1);
    EXPECT_EQ(compare(o1, o2, coEqual), 0);
    EXPECT_EQ(compare(i1, i2, coNotEqual), 1);
    EXPECT_EQ(compare(o1, i1, coEqual), -ErTypeMismatch);
    EXPECT_EQ(compare(o1, o2, coLess), -ErTypeMismatch);
    const Slot type_no = Get("RCardinal");
    Set(type_no, V::LongWord(0));  // type 0 is not a class type of the image
    EXPECT_EQ(compare(o1, type_no, coIs), -ErTypeMismatch);
    EXPECT_EQ(calc(o1, type_no, 10), ErTypeMismatch);

    // The unary operators, each in its value's width.
    struct Unary {
        const char* slot;
        Variant value;
        int which;  // 0 negate, 1 Boolean not, 2 bitwise not
        Variant want;
        std::uint8_t error = ErNoError;
    } unary[] = {
        {"LByte", V::Byte(1), 0, V::Byte(255)},
        {"LInteger", V::Integer(-2147483647 - 1), 0, V::Integer(-2147483647 - 1)},
        {"LInt64", V::Int64(kMin64), 0, V::Int64(kMin64)},
        {"LSmallInt", V::SmallInt(5), 0, V::SmallInt(-5)},
        {"LDouble", V::Double(2.5), 0, V::Double(-2.5)},
        {"LExtended", V::Double(2.5), 0, V::Double(-2.5)},
        {"LSingle", V::Single(0.5f), 0, V::Single(-0.5f)},
        {"LCurrency", V::Currency(15000), 0, V::Currency(-15000)},
        {"LCurrency", V::Currency(kMin64), 0, {}, ErMathError},
        {"LVariant", V::Integer(5), 0, V::Integer(-5)},
        {"LVariant", V::String("abc"), 0, {}, ErTypeMismatch},
        {"LChar", V::String("a"), 0, {}, ErTypeMismatch},
        {"LByte", V::Byte(2), 1, V::Byte(0)},
        {"LByte", V::Byte(0), 1, V::Byte(1)},
        {"LInt64", V::Int64(0), 1, V::Int64(1)},
        {"LVariant", V::Integer(0), 1, V::Boolean(true)},
        {"LVariant", V::String("x"), 1, V::Boolean(false)},
        {"LVariant", V::Double(0.5), 1, V::Boolean(false)},
        {"LDouble", V::Double(0), 1, {}, ErTypeMismatch},
        {"LByte", V::Byte(0), 2, V::Byte(255)},
        {"LWord", V::Word(0x00FF), 2, V::Word(0xFF00)},
        {"LInteger", V::Integer(0), 2, V::Integer(-1)},
        {"LInt64", V::Int64(5), 2, V::Int64(-6)},
        {"LVariant", V::Integer(5), 2, V::Integer(-6)},
        {"Lstring", V::String("x"), 2, {}, ErTypeMismatch},
    };
    for (const Unary& u : unary) {
        SCOPED_TRACE(std::string(u.slot) + " " + u.value.ToString() + " #" + std::to_string(u.which));
        const Slot s = Get(u.slot);
        Set(s, u.value);
        ResetError();
        const bool ok = u.which == 0   ? exec.NegateValue(s.Value, s.Type)
                        : u.which == 1 ? exec.BooleanNotValue(s.Value, s.Type)
                                       : exec.IntNotValue(s.Value, s.Type);
        EXPECT_EQ(ok, u.error == ErNoError);
        EXPECT_EQ(exec.LastErrorCode(), u.error) << ErrorText();
        if (ok) {
            EXPECT_TRUE(VarEquals(Read(s), u.want)) << Read(s).ToString();
        } else {
            EXPECT_TRUE(VarEquals(Read(s), u.value)) << "the value changed";
        }
    }
}

}  // namespace
}  // namespace script::runtime
