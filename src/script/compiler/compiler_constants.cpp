#include "script/compiler/compiler_constants.h"

#include <cfloat>
#include <cmath>

#include "script/compiler/compiler.h"
#include "script/compiler/messages.h"

namespace script::compiler {

namespace {
std::uint8_t BaseOfCell(const TPSConstValue& v) { return v.FType == nullptr ? 0 : v.FType->BaseType; }

// The cell's integer bits, sign- or zero-extended to 64 bits by its type.
bool RawInt(const TPSConstValue& v, std::uint64_t& out) {
    switch (BaseOfCell(v)) {
    case btU8: out = v.tu8; return true;
    case btChar: out = static_cast<unsigned char>(v.tchar); return true;
    case btS8: out = static_cast<std::uint64_t>(static_cast<std::int64_t>(v.ts8)); return true;
    case btU16: out = v.tu16; return true;
    case btS16: out = static_cast<std::uint64_t>(static_cast<std::int64_t>(v.ts16)); return true;
    case btU32:
    case btEnum:
    case btProcPtr: out = v.tu32; return true;
    case btS32: out = static_cast<std::uint64_t>(static_cast<std::int64_t>(v.ts32)); return true;
    case btS64: out = static_cast<std::uint64_t>(v.ts64); return true;
    default: return false;
    }
}

// Stores the low bits that the cell's type holds.
void StoreInt(TPSConstValue& v, std::uint64_t bits) {
    switch (BaseOfCell(v)) {
    case btU8: v.tu8 = static_cast<std::uint8_t>(bits); break;
    case btChar: v.tchar = static_cast<char>(static_cast<std::uint8_t>(bits)); break;
    case btS8: v.ts8 = static_cast<std::int8_t>(static_cast<std::uint8_t>(bits)); break;
    case btU16: v.tu16 = static_cast<std::uint16_t>(bits); break;
    case btS16: v.ts16 = static_cast<std::int16_t>(static_cast<std::uint16_t>(bits)); break;
    case btU32:
    case btEnum:
    case btProcPtr: v.tu32 = static_cast<std::uint32_t>(bits); break;
    case btS32: v.ts32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)); break;
    case btS64: v.ts64 = static_cast<std::int64_t>(bits); break;
    default: break;
    }
}

long double RealOf(const TPSConstValue& v) {
    switch (BaseOfCell(v)) {
    case btSingle: return v.tsingle;
    case btDouble: return v.tdouble;
    case btExtended: return v.textended;
    case btCurrency: return static_cast<long double>(v.tcurrency) / 10000.0L;
    default: return 0;
    }
}

// Rounds to the nearest integer, ties to even; false when out of range.
bool RoundToInt64(long double x, std::int64_t& out) {
    if (!std::isfinite(x)) return false;
    const long double r = std::nearbyint(x);
    if (r < -9223372036854775808.0L || r >= 9223372036854775808.0L) return false;
    out = static_cast<std::int64_t>(r);
    return true;
}

bool StoreReal(TPSConstValue& v, long double x) {
    if (!std::isfinite(x)) return false;
    switch (BaseOfCell(v)) {
    case btSingle:
        if (std::fabs(x) > FLT_MAX) return false;
        v.tsingle = static_cast<float>(x);
        return true;
    case btDouble:
        if (std::fabs(x) > DBL_MAX) return false;
        v.tdouble = static_cast<double>(x);
        return true;
    case btExtended: v.textended = x; return true;
    default: return false;
    }
}

bool IsSigned(std::uint8_t b) { return b == btS8 || b == btS16 || b == btS32 || b == btS64 || b == btEnum; }

TFoldResult Mismatch() { return {ecTypeMismatch, {}}; }
TFoldResult MathError(const char* text) { return {ecMathError, text}; }
TFoldResult DivideByZero() { return {ecDivideByZero, {}}; }

bool SameSetType(const TPSConstValue& a, const TPSConstValue& b) {
    return a.FType != nullptr && a.FType == b.FType && a.tstring.size() == b.tstring.size();
}

TFoldResult FoldInteger(const TFoldTypes& types, TPSConstValue& left, const TPSConstValue& right, std::uint8_t op) {
    const std::uint8_t b = BaseOfCell(left);
    const bool is64 = b == btS64;
    bool ok = true;
    std::uint64_t l = 0;
    RawInt(left, l);
    std::uint64_t r = 0;
    if (is64) r = static_cast<std::uint64_t>(GetConstInt64(right, ok));
    else if (IsSigned(b)) r = static_cast<std::uint64_t>(static_cast<std::int64_t>(GetConstInt(right, ok)));
    else r = GetConstUInt(right, ok);
    if (!ok) return Mismatch();
    const bool enumType = b == btEnum;
    const std::uint32_t width = is64 ? 64 : 32;
    const std::uint64_t mask = is64 ? ~0ULL : 0xFFFFFFFFULL;
    l &= mask;
    r &= mask;
    auto sext = [&](std::uint64_t x) -> std::int64_t {
        if (is64) return static_cast<std::int64_t>(x);
        return static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(x)));
    };
    const bool signedOp = IsSigned(b) && !enumType;
    auto compare = [&](auto pred) {
        bool result;
        if (signedOp || enumType) result = pred(sext(l), sext(r));
        else result = pred(l, r);
        SetConstBoolean(left, types.Boolean, result);
        return TFoldResult{};
    };
    std::uint64_t res = 0;
    switch (op) {
    case otAdd: res = l + r; break;
    case otSub: res = l - r; break;
    case otMul:
        if (enumType) return Mismatch();
        res = l * r;
        break;
    case otDivide:
    case otIntDiv:
    case otMod: {
        if (enumType) return Mismatch();
        if (r == 0) return DivideByZero();
        if (signedOp) {
            const std::int64_t sl = sext(l);
            const std::int64_t sr = sext(r);
            const std::int64_t minimum = is64 ? INT64_MIN : INT32_MIN;
            if (sl == minimum && sr == -1) return MathError("Integer overflow");
            res = static_cast<std::uint64_t>(op == otMod ? sl % sr : sl / sr);
        } else {
            res = op == otMod ? l % r : l / r;
        }
        break;
    }
    case otShl:
        if (enumType) return Mismatch();
        res = l << (r & (width - 1));
        break;
    case otShr: {
        if (enumType) return Mismatch();
        std::uint64_t value = l;
        if (!is64 && (b == btS8 || b == btS16)) value = static_cast<std::uint64_t>(sext(l)) & 0xFFFFFFFFULL;
        res = value >> (r & (width - 1));
        break;
    }
    case otAnd: res = l & r; break;
    case otOr: res = l | r; break;
    case otXor: res = l ^ r; break;
    case otGreaterEqual:
        if (enumType) return Mismatch();
        return compare([](auto x, auto y) { return x >= y; });
    case otLessEqual:
        if (enumType) return Mismatch();
        return compare([](auto x, auto y) { return x <= y; });
    case otGreater:
        if (enumType) return Mismatch();
        return compare([](auto x, auto y) { return x > y; });
    case otLess:
        if (enumType) return Mismatch();
        return compare([](auto x, auto y) { return x < y; });
    case otEqual: return compare([](auto x, auto y) { return x == y; });
    case otNotEqual: return compare([](auto x, auto y) { return x != y; });
    default: return Mismatch();
    }
    StoreInt(left, res);
    return {};
}

TFoldResult FoldReal(const TFoldTypes& types, TPSConstValue& left, const TPSConstValue& right, std::uint8_t op) {
    bool ok = true;
    const long double r = GetConstReal(right, ok);
    if (!ok) return Mismatch();
    const long double l = RealOf(left);
    long double res = 0;
    switch (op) {
    case otAdd: res = l + r; break;
    case otSub: res = l - r; break;
    case otMul: res = l * r; break;
    case otDivide:
    case otIntDiv:
        if (r == 0) return DivideByZero();
        res = l / r;
        break;
    case otGreaterEqual: SetConstBoolean(left, types.Boolean, l >= r); return {};
    case otLessEqual: SetConstBoolean(left, types.Boolean, l <= r); return {};
    case otGreater: SetConstBoolean(left, types.Boolean, l > r); return {};
    case otLess: SetConstBoolean(left, types.Boolean, l < r); return {};
    case otEqual:
        if (BaseOfCell(left) == btSingle || BaseOfCell(left) == btDouble || BaseOfCell(left) == btExtended) {
            SetConstBoolean(left, types.Boolean, l == r);
            return {};
        }
        return Mismatch();
    case otNotEqual: SetConstBoolean(left, types.Boolean, l != r); return {};
    default: return Mismatch();
    }
    if (std::isnan(res)) return MathError("Invalid floating point operation");
    if (!StoreReal(left, res)) return MathError("Floating point overflow");
    return {};
}

TFoldResult FoldCurrency(const TFoldTypes& types, TPSConstValue& left, const TPSConstValue& right, std::uint8_t op) {
    bool ok = true;
    const long double r = GetConstReal(right, ok);
    if (!ok) return Mismatch();
    const long double stored = static_cast<long double>(left.tcurrency);
    long double res = 0;
    switch (op) {
    case otAdd: res = stored + r * 10000.0L; break;
    case otSub: res = stored - r * 10000.0L; break;
    case otMul: res = stored * r; break;
    case otDivide:
    case otIntDiv:
        if (r == 0) return DivideByZero();
        res = stored / r;
        break;
    case otGreaterEqual: SetConstBoolean(left, types.Boolean, stored >= r * 10000.0L); return {};
    case otLessEqual: SetConstBoolean(left, types.Boolean, stored <= r * 10000.0L); return {};
    case otGreater: SetConstBoolean(left, types.Boolean, stored > r * 10000.0L); return {};
    case otLess: SetConstBoolean(left, types.Boolean, stored < r * 10000.0L); return {};
    case otEqual: SetConstBoolean(left, types.Boolean, stored == r * 10000.0L); return {};
    case otNotEqual: SetConstBoolean(left, types.Boolean, stored != r * 10000.0L); return {};
    default: return Mismatch();
    }
    std::int64_t out = 0;
    if (!RoundToInt64(res, out)) return MathError("Floating point overflow");
    left.tcurrency = out;
    return {};
}

TFoldResult FoldText(const TFoldTypes& types, TPSConstValue& left, const TPSConstValue& right, std::uint8_t op) {
    const bool isChar = BaseOfCell(left) == btChar;
    bool ok = true;
    std::string l = isChar ? std::string(1, left.tchar) : left.tstring;
    std::string r = GetConstString(right, ok);
    switch (op) {
    case otAdd:
        if (!ok && !isChar) return Mismatch();
        SetConstString(left, types.String, ok ? l + r : l);
        return {};
    case otEqual:
    case otNotEqual:
        if (!ok) return Mismatch();
        SetConstBoolean(left, types.Boolean, (l == r) == (op == otEqual));
        return {};
    default: return Mismatch();
    }
}

TFoldResult FoldSet(const TFoldTypes& types, TPSConstValue& left, const TPSConstValue& right, std::uint8_t op) {
    if (BaseOfCell(right) != btSet || !SameSetType(left, right)) return Mismatch();
    std::string& a = left.tstring;
    const std::string& b = right.tstring;
    auto subset = [](const std::string& x, const std::string& y) {
        for (std::size_t i = 0; i < x.size(); ++i)
            if ((static_cast<unsigned char>(x[i]) & ~static_cast<unsigned char>(y[i])) != 0) return false;
        return true;
    };
    switch (op) {
    case otAdd:
        for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>(a[i] | b[i]);
        return {};
    case otSub:
        for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>(a[i] & ~b[i]);
        return {};
    case otMul:
        for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>(a[i] & b[i]);
        return {};
    case otGreaterEqual: {
        const bool result = subset(b, a);
        SetConstBoolean(left, types.Boolean, result);
        return {};
    }
    case otLessEqual: {
        const bool result = subset(a, b);
        SetConstBoolean(left, types.Boolean, result);
        return {};
    }
    case otEqual:
    case otNotEqual: {
        const bool result = (a == b) == (op == otEqual);
        SetConstBoolean(left, types.Boolean, result);
        return {};
    }
    default: return Mismatch();
    }
}
}  // namespace

bool OperatorOfToken(TOpLevel level, TPSTokenId token, bool constant, std::uint8_t& op) {
    // The operator and whether constant expressions accept it ("in", "is"
    // and "as" need values).
    auto found = [&](std::uint8_t o, bool in_constants) {
        if (constant && !in_constants) return false;
        op = o;
        return true;
    };
    switch (level) {
    case TOpLevel::Relation:
        switch (token) {
        case tkEqual: return found(otEqual, true);
        case tkNotEqual: return found(otNotEqual, true);
        case tkLess: return found(otLess, true);
        case tkGreater: return found(otGreater, true);
        case tkLessEqual: return found(otLessEqual, true);
        case tkGreaterEqual: return found(otGreaterEqual, true);
        case tkIn: return found(otIn, false);
        case tkIs: return found(otIs, false);
        default: return false;
        }
    case TOpLevel::Adding:
        switch (token) {
        case tkPlus: return found(otAdd, true);
        case tkMinus: return found(otSub, true);
        case tkOr: return found(otOr, true);
        case tkXor: return found(otXor, true);
        default: return false;
        }
    case TOpLevel::Multiplying:
        switch (token) {
        case tkMultiply: return found(otMul, true);
        case tkDivide: return found(otDivide, true);
        case tkDiv: return found(otIntDiv, true);
        case tkMod: return found(otMod, true);
        case tkAnd: return found(otAnd, true);
        case tkShl: return found(otShl, true);
        case tkShr: return found(otShr, true);
        case tkAs: return found(otAs, false);
        default: return false;
        }
    }
    return false;
}

std::uint32_t GetConstUInt(const TPSConstValue& v, bool& ok) {
    std::uint64_t raw = 0;
    if (!RawInt(v, raw) || BaseOfCell(v) == btProcPtr) {
        ok = false;
        return 0;
    }
    return static_cast<std::uint32_t>(raw);
}

std::int32_t GetConstInt(const TPSConstValue& v, bool& ok) {
    return static_cast<std::int32_t>(GetConstUInt(v, ok));
}

std::int64_t GetConstInt64(const TPSConstValue& v, bool& ok) {
    std::uint64_t raw = 0;
    if (!RawInt(v, raw) || BaseOfCell(v) == btProcPtr) {
        ok = false;
        return 0;
    }
    return static_cast<std::int64_t>(raw);
}

long double GetConstReal(const TPSConstValue& v, bool& ok) {
    switch (BaseOfCell(v)) {
    case btU8: case btChar: case btS8: case btU16: case btS16: case btU32: case btS32: case btS64: {
        std::uint64_t raw = 0;
        RawInt(v, raw);
        if (BaseOfCell(v) == btU32 || BaseOfCell(v) == btU8 || BaseOfCell(v) == btU16 || BaseOfCell(v) == btChar)
            return static_cast<long double>(raw);
        return static_cast<long double>(static_cast<std::int64_t>(raw));
    }
    case btSingle: case btDouble: case btExtended: case btCurrency: return RealOf(v);
    default: ok = false; return 0;
    }
}

std::string GetConstString(const TPSConstValue& v, bool& ok) {
    switch (BaseOfCell(v)) {
    case btString: return v.tstring;
    case btChar: return std::string(1, v.tchar);
    default: ok = false; return {};
    }
}

void SetConstBoolean(TPSConstValue& v, TPSType* boolean_type, bool value) {
    InitConstValue(v, boolean_type);
    v.tu32 = value ? 1 : 0;
}

void SetConstString(TPSConstValue& v, TPSType* string_type, std::string text) {
    InitConstValue(v, string_type);
    v.tstring = std::move(text);
}

bool ConvertConstToReal(TPSConstValue& v, TPSType* real_type) {
    bool ok = true;
    const long double x = GetConstReal(v, ok);
    InitConstValue(v, real_type);
    if (real_type->BaseType == btCurrency) {
        std::int64_t out = 0;
        if (!RoundToInt64(x * 10000.0L, out)) return false;
        v.tcurrency = out;
        return true;
    }
    return StoreReal(v, x);
}

bool SetTestBit(const std::string& set, std::uint32_t bit) {
    if (bit / 8 >= set.size()) return false;
    return (static_cast<unsigned char>(set[bit / 8]) >> (bit % 8) & 1) != 0;
}

void SetSetBit(std::string& set, std::uint32_t bit) {
    if (bit / 8 >= set.size()) return;
    set[bit / 8] = static_cast<char>(static_cast<unsigned char>(set[bit / 8]) | (1u << (bit % 8)));
}

bool IsCompatibleType(const TPSType* target, const TPSType* source, bool cast) {
    target = ResolveTypeLink(target);
    source = ResolveTypeLink(source);
    if (target == nullptr || source == nullptr) return false;
    // A value is always assignable to its own type (type references and
    // interfaces included).
    if (target == source) return true;
    const std::uint8_t t = target->BaseType;
    const std::uint8_t s = source->BaseType;
    if (t == btProcPtr && target == source) return true;
    if (t == btPointer || s == btPointer || t == btVariant || s == btVariant || t == btNotificationVariant ||
        s == btNotificationVariant)
        return true;
    if (IsIntType(t) && IsIntType(s)) return true;
    if (IsRealType(t) && IsIntRealType(s)) return true;
    if ((t == btString || t == btPChar) && (s == btString || s == btPChar || s == btChar)) return true;
    if ((t == btArray || t == btStaticArray) && (s == btArray || s == btStaticArray))
        return IsCompatibleType(static_cast<const TPSArrayType*>(target)->ArrayTypeNo,
                                static_cast<const TPSArrayType*>(source)->ArrayTypeNo, false);
    if ((t == btChar && s == btChar) || (t == btSet && s == btSet) || (t == btEnum && s == btEnum)) return true;
    if (t == btRecord && s == btRecord) return target == source;
    if (cast && ((IsIntType(t) && s == btEnum) || (t == btEnum && IsIntType(s)))) return true;
    // Char(65) and Byte('A'): the constant casts convert between the two.
    if (cast && ((IsIntType(t) && s == btChar) || (t == btChar && IsIntType(s)))) return true;
    if (t == btClass) {
        if (source == target || s == btU32 || s == btS32) return true;
        const TPSCompileTimeClass* cls = ClassModelOf(target);
        return cls != nullptr && cls->IsCompatibleWith(source);
    }
    if (t == btU32 || t == btS32) return s == btClass;
    if (t == btInterface) {
        if (s == btClass) return true;
        if (s != btInterface) return false;
        const auto* want = static_cast<const TPSInterfaceType*>(target)->Intf;
        const auto* have = static_cast<const TPSInterfaceType*>(source)->Intf;
        return want != nullptr && want->AcceptsValueOf(have);
    }
    return false;
}

TFoldResult FoldBinaryConstants(const TFoldTypes& types, TPSConstValue& left, const TPSConstValue& right,
                                std::uint8_t op) {
    if (left.FType == nullptr || right.FType == nullptr) return Mismatch();
    if (op == otAs || op == otIs) return Mismatch();
    const std::uint8_t rb = BaseOfCell(right);
    if (IsRealType(rb) && IsIntType(BaseOfCell(left))) {
        if (!ConvertConstToReal(left, right.FType)) return MathError("Floating point overflow");
    }
    const std::uint8_t lb = BaseOfCell(left);
    if (op == otIn) {
        std::uint64_t ordinal = 0;
        if (!RawInt(left, ordinal) || rb != btSet) return Mismatch();
        const auto* setType = static_cast<const TPSSetType*>(right.FType);
        if (ResolveTypeLink(setType->SetType) != ResolveTypeLink(left.FType)) return Mismatch();
        const bool member = ordinal < setType->BitSize() && SetTestBit(right.tstring, static_cast<std::uint32_t>(ordinal));
        SetConstBoolean(left, types.Boolean, member);
        return {};
    }
    if (IsIntType(lb) || lb == btEnum) return FoldInteger(types, left, right, op);
    if (lb == btSingle || lb == btDouble || lb == btExtended) return FoldReal(types, left, right, op);
    if (lb == btCurrency) return FoldCurrency(types, left, right, op);
    if (lb == btString || lb == btChar) return FoldText(types, left, right, op);
    if (lb == btSet) return FoldSet(types, left, right, op);
    return Mismatch();
}

bool FoldNot(TPSConstValue& v, bool boolean_enum) {
    const std::uint8_t b = BaseOfCell(v);
    if (b == btEnum) {
        if (!boolean_enum) return false;
        v.tu32 = (~v.tu32) & 1;
        return true;
    }
    if (!IsIntType(b)) return false;
    std::uint64_t raw = 0;
    RawInt(v, raw);
    StoreInt(v, ~raw);
    return true;
}

bool FoldNegate(TPSConstValue& v) {
    const std::uint8_t b = BaseOfCell(v);
    if (IsIntType(b)) {
        std::uint64_t raw = 0;
        RawInt(v, raw);
        StoreInt(v, 0 - raw);
        return true;
    }
    switch (b) {
    case btSingle: v.tsingle = -v.tsingle; return true;
    case btDouble: v.tdouble = -v.tdouble; return true;
    case btExtended: v.textended = -v.textended; return true;
    case btCurrency: v.tcurrency = static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(v.tcurrency)); return true;
    default: return false;
    }
}

bool FoldCast(const TPSConstValue& source, TPSConstValue& target) {
    const std::uint8_t s = BaseOfCell(source);
    const std::uint8_t t = BaseOfCell(target);
    if (!IsIntType(s) && s != btChar) return false;
    if (!IsIntType(t) && t != btChar) return false;
    std::uint64_t raw = 0;
    RawInt(source, raw);
    StoreInt(target, raw);
    return true;
}

}  // namespace script::compiler
