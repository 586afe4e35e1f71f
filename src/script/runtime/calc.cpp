// The Calc instruction and the unary operators. The left operand's base
// type chooses the operation, the right operand is read towards it, and the
// result keeps the left's type. Integers wrap at their stored width (all
// arithmetic is done on unsigned types), every division checks its divisor
// and the one quotient that does not fit, shift counts are masked first,
// and float results are checked, since C++ floats never trap.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "script/runtime/exec.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/numbers.h"
#include "script/runtime/operation_bodies.h"
#include "script/runtime/operators.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_layout.h"
#include "script/runtime/variant.h"
#include "script/runtime/variant_bridge.h"

namespace script::runtime {

namespace {

constexpr std::uint8_t kOpAs = 10;

// Which left base codes an operator takes.
bool Accepts(std::uint8_t op, std::uint8_t base) {
    const bool numeric = base >= btU8 && base <= btExtended;
    const bool integer = base >= btU8 && base <= btS32;
    switch (op) {
    case caAdd:
        return numeric || base == btString || base == btPChar || base == btVariant || base == btS64 ||
               base == btChar || base == btSet || base == btCurrency;
    case caSub:
        return numeric || base == btVariant || base == btS64 || base == btChar || base == btSet ||
               base == btCurrency;
    case caMul: return numeric || base == btVariant || base == btS64 || base == btSet || base == btCurrency;
    case caDiv: return numeric || base == btVariant || base == btS64 || base == btCurrency;
    case kOpAs: return base == btClass;
    default: return integer || base == btVariant || base == btS64;
    }
}

TVarOp VariantOpOf(std::uint8_t op, bool real_division) {
    switch (op) {
    case caAdd: return TVarOp::Add;
    case caSub: return TVarOp::Sub;
    case caMul: return TVarOp::Mul;
    case caDiv: return real_division ? TVarOp::RealDiv : TVarOp::IntDiv;
    case caMod: return TVarOp::Mod;
    case caShl: return TVarOp::Shl;
    case caShr: return TVarOp::Shr;
    case caAnd: return TVarOp::And;
    case caOr: return TVarOp::Or;
    default: return TVarOp::Xor;
    }
}

[[noreturn]] void DivideByZero() { ThrowRuntimeFault(ErDivideByZero); }
[[noreturn]] void IntegerOverflow() { ThrowRuntimeFault(erException, kIntegerOverflowText); }

// Division and remainder of two integers of one width, signed or not. The
// remainder takes the dividend's sign; the one signed quotient that does not
// fit (the most negative value by -1) is an overflow, for "mod" as well.
template <typename U, bool Signed>
U DivideOrRemainder(std::uint8_t op, U a, U b) {
    using S = std::make_signed_t<U>;
    if (b == 0) DivideByZero();
    if constexpr (Signed) {
        const auto x = static_cast<S>(a);
        const auto y = static_cast<S>(b);
        if (x == std::numeric_limits<S>::min() && y == -1) IntegerOverflow();
        return static_cast<U>(op == caDiv ? x / y : x % y);
    } else {
        return op == caDiv ? a / b : a % b;
    }
}

// The shift count of 64 bits is the low byte: 64-127 shift everything out,
// 128-255 count modulo 32 (32 bits: Calc32). Shifts are logical, also of
// signed values.
std::uint32_t ShiftCount(std::uint64_t b) {
    const auto count = static_cast<std::uint32_t>(b & 0xFF);
    if (count >= 64 && count < 128) return 64;
    return count >= 128 ? count % 32 : count;
}

// One integer operation of a width; a and b hold the operands' bits.
template <typename U, bool Signed>
U IntegerOp(std::uint8_t op, U a, U b) {
    switch (op) {
    case caAdd: return a + b;
    case caSub: return a - b;
    case caMul: return a * b;
    case caDiv:
    case caMod: return DivideOrRemainder<U, Signed>(op, a, b);
    case caShl:
    case caShr: {
        const std::uint32_t count = ShiftCount(b);
        if (count >= 8 * sizeof(U)) return 0;
        return op == caShl ? static_cast<U>(a << count) : static_cast<U>(a >> count);
    }
    case caAnd: return a & b;
    case caOr: return a | b;
    default: return a ^ b;
    }
}

// 32 bits: the one body the interpreter's quicker forms run too.
template <bool Signed>
std::uint32_t Op32(std::uint8_t op, std::uint32_t a, std::uint32_t b) {
    std::uint32_t out = 0;
    if (Calc32(op, a, b, Signed, out)) return out;
    if (b == 0) DivideByZero();
    IntegerOverflow();
}

// U8, S8, U16, S16 and Char: done in 32 bits, the low bits stored.
template <typename T>
void CalcSmall(std::uint8_t op, void* left, const void* right, const TPSTypeRec* right_type) {
    constexpr bool kSigned = std::is_signed_v<T>;
    const auto a = static_cast<std::uint32_t>(static_cast<std::int32_t>(LoadAs<T>(left)));
    const std::uint32_t b = kSigned ? static_cast<std::uint32_t>(PSReadInt(right, right_type)) : PSReadUInt(right, right_type);
    StoreAs(left, static_cast<T>(Op32<kSigned>(op, a, b)));
}

// A numeric left with a Variant right: the operation is the Variant one on
// the left made a Variant of its own kind, converted back.
Variant VariantOperation(std::uint8_t op, const Variant& left, const void* right, bool real_division) {
    return VarOp(VariantOpOf(op, real_division), left, Variant::CopyFromSlot(right));
}

// U32 and S32.
template <bool Signed>
void CalcInt32Left(std::uint8_t op, void* left, const void* right, const TPSTypeRec* right_type) {
    const auto a = LoadAs<std::uint32_t>(left);
    if (op >= caShl) {
        const std::uint32_t b = Signed ? static_cast<std::uint32_t>(PSReadInt(right, right_type)) : PSReadUInt(right, right_type);
        StoreAs(left, Op32<Signed>(op, a, b));
        return;
    }
    if (!FollowPointer(right, right_type)) ThrowTypeMismatch();
    std::int64_t r = 0;
    switch (right_type->BaseType) {
    case btU8: case btS8: case btU16: case btS16: case btU32: case btS32: case btChar:
        ReadIntegerValue(right, right_type->BaseType, r);
        StoreAs(left, Op32<Signed>(op, a, static_cast<std::uint32_t>(r)));
        return;
    case btS64: {
        r = LoadAs<std::int64_t>(right);
        if (op != caDiv && op != caMod) {
            StoreAs(left, Op32<Signed>(op, a, static_cast<std::uint32_t>(r)));
            return;
        }
        // The full 64-bit divisor; the left widened fits 33 bits, so the
        // quotient cannot overflow.
        const std::int64_t wide = Signed ? std::int64_t{static_cast<std::int32_t>(a)} : std::int64_t{a};
        StoreAs(left, static_cast<std::uint32_t>(DivideOrRemainder<std::uint64_t, true>(
                          op, static_cast<std::uint64_t>(wide), static_cast<std::uint64_t>(r))));
        return;
    }
    case btVariant: {
        const Variant l = Signed ? Variant::Integer(static_cast<std::int32_t>(a)) : Variant::LongWord(a);
        const Variant result = VariantOperation(op, l, right, false);
        StoreAs(left, Signed ? static_cast<std::uint32_t>(result.ToInt32()) : static_cast<std::uint32_t>(result.ToInt64()));
        return;
    }
    default:
        ThrowTypeMismatch();
    }
}

void CalcS64(std::uint8_t op, void* left, const void* right, const TPSTypeRec* right_type) {
    const auto b = static_cast<std::uint64_t>(PSReadInt64(right, right_type));
    StoreAs(left, IntegerOp<std::uint64_t, true>(op, LoadAs<std::uint64_t>(left), b));
}

long double FloatOp(std::uint8_t op, long double a, long double b) {
    long double r = 0;
    switch (op) {
    case caAdd: r = a + b; break;
    case caSub: r = a - b; break;
    case caMul: r = a * b; break;
    default:
        if (b == 0) DivideByZero();
        r = a / b;
        break;
    }
    return CheckFloatResult(r, a, b);
}

// The value of an integer (U8..S32, S64) or float right operand of a float
// or Currency left; false for other bases (Char is no number here).
bool ReadNumber(const void* right, std::uint8_t base, long double& value) {
    std::int64_t i = 0;
    if (base != btChar && ReadIntegerValue(right, base, i)) {
        value = static_cast<long double>(i);
        return true;
    }
    return ReadFloatValue(right, base, value);
}

// Single, Double, Extended: in Extended precision, rounded to the left's.
void CalcFloat(std::uint8_t op, void* left, const void* right, const TPSTypeRec* left_type,
               const TPSTypeRec* right_type) {
    long double a = 0;
    ReadFloatValue(left, left_type->BaseType, a);
    if (!FollowPointer(right, right_type)) ThrowTypeMismatch();
    long double b = 0;
    if (right_type->BaseType == btVariant) {
        const Variant result = VariantOperation(op, Variant::Double(NarrowToDouble(a)), right, true);
        StoreFloatValue(left, left_type->BaseType, result.ToReal());
        return;
    }
    if (right_type->BaseType == btCurrency) {
        b = CurrencyToReal(LoadAs<std::int64_t>(right));
    } else if (!ReadNumber(right, right_type->BaseType, b)) {
        ThrowTypeMismatch();
    }
    StoreFloatValue(left, left_type->BaseType, FloatOp(op, a, b));
}

// Currency: on the amounts, rounded to 1/10000 with ties to even.
void CalcCurrency(std::uint8_t op, void* left, const void* right, const TPSTypeRec* right_type) {
    const auto scaled = LoadAs<std::int64_t>(left);
    const auto a = static_cast<long double>(scaled);
    if (!FollowPointer(right, right_type)) ThrowTypeMismatch();
    if (right_type->BaseType == btVariant) {
        const Variant result = VariantOperation(op, Variant::Currency(scaled), right, true);
        StoreAs(left, result.ToCurrency());
        return;
    }
    if (right_type->BaseType == btCurrency) {
        const auto b = static_cast<long double>(LoadAs<std::int64_t>(right));
        long double r = 0;
        switch (op) {
        case caAdd: r = a + b; break;
        case caSub: r = a - b; break;
        case caMul: r = a * b / kCurrencyScale; break;
        default:
            if (b == 0) DivideByZero();
            r = a / b * kCurrencyScale;
            break;
        }
        StoreAs(left, RoundToInt64(r));
        return;
    }
    long double amount = 0;
    if (!ReadNumber(right, right_type->BaseType, amount)) ThrowTypeMismatch();
    long double r = 0;
    switch (op) {
    case caAdd: r = a + amount * kCurrencyScale; break;
    case caSub: r = a - amount * kCurrencyScale; break;
    case caMul: r = a * amount; break;
    default:
        if (amount == 0) DivideByZero();
        r = a / amount;
        break;
    }
    // Beyond 64 bits, and NaN, are math errors.
    StoreAs(left, RoundToInt64(r));
}

void CalcVariantLeft(std::uint8_t op, void* left, const void* right, const TPSTypeRec* right_type) {
    Variant r;
    if (!PSValueToVariant(right, right_type, r)) ThrowRuntimeFault(ErTypeMismatch);
    const Variant l = Variant::CopyFromSlot(left);
    // "/" divides as reals only when the left holds a float or Currency.
    Variant::StoreIntoSlot(left, VarOp(VariantOpOf(op, VariantHoldsFloat(l)), l, r));
}

void CalcSet(std::uint8_t op, void* left, const void* right, const TPSTypeRec* left_type,
             const TPSTypeRec* right_type) {
    if (right_type != left_type) ThrowRuntimeFault(ErTypeMismatch);
    auto* l = static_cast<std::uint8_t*>(left);
    const auto* r = static_cast<const std::uint8_t*>(right);
    for (std::uint32_t i = 0; i < AsSet(left_type).ByteSize; ++i) {
        switch (op) {
        case caAdd: l[i] = static_cast<std::uint8_t>(l[i] | r[i]); break;
        case caSub: l[i] = static_cast<std::uint8_t>(l[i] & ~r[i]); break;
        default: l[i] = static_cast<std::uint8_t>(l[i] & r[i]); break;
        }
    }
}

void Calc(const TPSExec& exec, std::uint8_t op, void* left, const void* right, const TPSTypeRec* left_type,
          const TPSTypeRec* right_type) {
    if (op > kOpAs) ThrowRuntimeFault(erInvalidOpcodeParameter);
    if (!Accepts(op, left_type->BaseType)) ThrowRuntimeFault(ErTypeMismatch);
    switch (left_type->BaseType) {
    case btU8: CalcSmall<std::uint8_t>(op, left, right, right_type); break;
    case btChar: CalcSmall<std::uint8_t>(op, left, right, right_type); break;
    case btS8: CalcSmall<std::int8_t>(op, left, right, right_type); break;
    case btU16: CalcSmall<std::uint16_t>(op, left, right, right_type); break;
    case btS16: CalcSmall<std::int16_t>(op, left, right, right_type); break;
    case btU32: CalcInt32Left<false>(op, left, right, right_type); break;
    case btS32: CalcInt32Left<true>(op, left, right, right_type); break;
    case btS64: CalcS64(op, left, right, right_type); break;
    case btSingle: case btDouble: case btExtended: CalcFloat(op, left, right, left_type, right_type); break;
    case btCurrency: CalcCurrency(op, left, right, right_type); break;
    case btVariant: CalcVariantLeft(op, left, right, right_type); break;
    case btString:
    case btPChar: {
        // The right may be the left itself, or lie in its text: its view
        // stays valid, as AppendStringSlot takes text that lies in the
        // string it grows.
        std::string made;
        AppendStringSlot(left, PSReadText(right, right_type, made));
        break;
    }
    case btSet: CalcSet(op, left, right, left_type, right_type); break;
    case btClass:
        // "as" leaves the object as it is when it is of the class.
        if (!ObjectIsOfClassOperand(exec, left, right, left_type, right_type)) ThrowRuntimeFault(ErTypeMismatch);
        break;
    default: ThrowRuntimeFault(ErTypeMismatch);
    }
}

// Runs a Variant operation, its failures being type mismatches.
template <typename Operation>
void VariantUnary(void* value, Operation operation) {
    Variant result;
    try {
        result = operation(Variant::CopyFromSlot(value));
    } catch (const EPSOutOfMemory&) {
        throw;
    } catch (const EPSError&) {
        ThrowRuntimeFault(ErTypeMismatch);
    }
    Variant::StoreIntoSlot(value, std::move(result));
}

// Applies f to an integer value of base 1-6 or 17 in its own width; false
// for other bases.
template <typename F>
bool WithIntegerValue(void* value, std::uint8_t base, F f) {
    switch (base) {
    case btU8: case btS8: StoreAs(value, static_cast<std::uint8_t>(f(std::uint64_t{LoadAs<std::uint8_t>(value)}))); return true;
    case btU16: case btS16: StoreAs(value, static_cast<std::uint16_t>(f(std::uint64_t{LoadAs<std::uint16_t>(value)}))); return true;
    case btU32: case btS32: StoreAs(value, static_cast<std::uint32_t>(f(std::uint64_t{LoadAs<std::uint32_t>(value)}))); return true;
    case btS64: StoreAs(value, f(LoadAs<std::uint64_t>(value))); return true;
    default: return false;
    }
}

void Negate(void* value, const TPSTypeRec* type) {
    if (WithIntegerValue(value, type->BaseType, [](std::uint64_t v) { return 0 - v; })) return;
    switch (type->BaseType) {
    case btSingle: StoreAs(value, -LoadAs<float>(value)); return;
    case btDouble: StoreAs(value, -LoadAs<double>(value)); return;
    case btExtended: StoreExtended(value, -LoadExtended(value)); return;
    case btCurrency: {
        const auto v = LoadAs<std::int64_t>(value);
        if (v == std::numeric_limits<std::int64_t>::min()) ThrowRuntimeFault(ErMathError);
        StoreAs(value, -v);
        return;
    }
    case btVariant: VariantUnary(value, [](const Variant& v) { return VarNeg(v); }); return;
    default: ThrowRuntimeFault(ErTypeMismatch);
    }
}

void BooleanNot(void* value, const TPSTypeRec* type) {
    if (WithIntegerValue(value, type->BaseType, [](std::uint64_t v) { return std::uint64_t{v == 0}; })) return;
    if (type->BaseType != btVariant) ThrowRuntimeFault(ErTypeMismatch);
    VariantUnary(value, [](const Variant& v) { return Variant::Boolean(VarEquals(v, Variant::Byte(0))); });
}

void IntNot(void* value, const TPSTypeRec* type) {
    if (WithIntegerValue(value, type->BaseType, [](std::uint64_t v) { return ~v; })) return;
    if (type->BaseType != btVariant) ThrowRuntimeFault(ErTypeMismatch);
    VariantUnary(value, [](const Variant& v) { return VarNot(v); });
}

}  // namespace

bool TPSExec::CalcValues(void* left, const void* right, const TPSTypeRec* left_type, const TPSTypeRec* right_type,
                         std::uint8_t op) {
    return RunOperator([&] { Calc(*this, op, left, right, left_type, right_type); });
}

bool TPSExec::NegateValue(void* value, const TPSTypeRec* type) {
    return RunOperator([&] { Negate(value, type); });
}

bool TPSExec::BooleanNotValue(void* value, const TPSTypeRec* type) {
    return RunOperator([&] { BooleanNot(value, type); });
}

bool TPSExec::IntNotValue(void* value, const TPSTypeRec* type) {
    return RunOperator([&] { IntNot(value, type); });
}

}  // namespace script::runtime
