#include "script/runtime/variant.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "script/compiler/ps_utils.h"
#include "script/runtime/errors.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/numbers.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

constexpr std::uint64_t kCellBytes = sizeof(VariantCell);

template <typename T>
T PayloadAs(const VariantCell& c) {
    T v;
    std::memcpy(&v, &c.Payload, sizeof v);
    return v;
}

template <typename T>
VariantCell MakeCell(std::uint16_t vtype, T v) {
    VariantCell c;
    c.VType = vtype;
    std::memcpy(&c.Payload, &v, sizeof v);
    return c;
}

bool IsIntegerKind(std::uint16_t k) {
    switch (k) {
    case varShortInt: case varByte: case varSmallInt: case varWord: case varInteger: case varLongWord:
    case varInt64:
        return true;
    default:
        return false;
    }
}

bool HasNoValueOps(std::uint16_t k) { return k == varVariantArray || k == varDispatch; }

[[noreturn]] void ThrowConversion(std::uint16_t from, std::string_view to) {
    throw EPSError("Cannot convert a " + std::string(VarKindName(from)) + " Variant to " + std::string(to));
}

[[noreturn]] void ThrowInvalidOp(std::uint16_t left, std::string_view op, std::uint16_t right) {
    throw EPSError("Invalid Variant operation: " + std::string(VarKindName(left)) + " " + std::string(op) + " " +
                   std::string(VarKindName(right)));
}

[[noreturn]] void ThrowInvalidUnary(std::string_view op, std::uint16_t kind) {
    throw EPSError("Invalid Variant operation: " + std::string(op) + " " + std::string(VarKindName(kind)));
}

[[noreturn]] void ThrowNotArray(std::uint16_t kind) {
    throw EPSError("Variant is not an array (" + std::string(VarKindName(kind)) + ")");
}

std::string_view OpName(TVarOp op) {
    switch (op) {
    case TVarOp::Add: return "+";
    case TVarOp::Sub: return "-";
    case TVarOp::Mul: return "*";
    case TVarOp::RealDiv: return "/";
    case TVarOp::IntDiv: return "div";
    case TVarOp::Mod: return "mod";
    case TVarOp::Shl: return "shl";
    case TVarOp::Shr: return "shr";
    case TVarOp::And: return "and";
    case TVarOp::Or: return "or";
    case TVarOp::Xor: return "xor";
    }
    return "?";
}

bool FitsInt32(std::int64_t v) {
    return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

// An integer result: Integer when the operands were at most 32 bits and it
// fits, else Int64.
Variant IntegerResult(std::int64_t v, bool wide) {
    if (!wide && FitsInt32(v)) return Variant::Integer(static_cast<std::int32_t>(v));
    return Variant::Int64(v);
}

// Drops one reference of an array block; when it was the last, the
// elements are released and the block freed. Nested arrays are released
// from a work list rather than by recursion, so that arbitrarily deep
// nesting cannot exhaust the machine stack.
void ReleaseArrayBlock(void* data) noexcept {
    std::vector<void*> pending;
    for (;;) {
        if (DropBlockRef(data)) {
            auto* cells = static_cast<std::byte*>(data);
            const auto count = static_cast<std::size_t>(BlockCount(data));
            for (std::size_t i = 0; i < count; ++i) {
                void* slot = cells + i * kCellBytes;
                if (Variant::SlotVType(slot) == varVariantArray) {
                    pending.push_back(PayloadAs<void*>(LoadAs<VariantCell>(slot)));
                } else {
                    Variant::ClearSlot(slot);
                }
            }
            FreeBlock(data);
        }
        if (pending.empty()) return;
        data = pending.back();
        pending.pop_back();
    }
}

// A number taken from a Variant for an operation.
struct Num {
    enum Kind : std::uint8_t { Int, Cur, Float } kind = Int;
    bool wide = false;  // Int: from a 64-bit kind (or a value beyond 32 bits)
    bool date = false;  // Float: a Date
    std::int64_t i = 0;  // Int: the value; Cur: the amount times 10000
    long double f = 0;   // Float
};

Num NumOfText(std::string_view text) {
    bool is_integer = false;
    std::int64_t integer = 0;
    double real = 0;
    if (!ParseNumberText(text, is_integer, integer, real)) ThrowConversion(varString, "Double");
    Num n;
    if (is_integer) {
        n.i = integer;
        n.wide = !FitsInt32(integer);
    } else {
        n.kind = Num::Float;
        n.f = real;
    }
    return n;
}

Num ToNum(const Variant& v) {
    Num n;
    switch (v.VType()) {
    case varEmpty: return n;
    case varBoolean: n.i = v.ToBoolean() ? 1 : 0; return n;
    case varShortInt: case varByte: case varSmallInt: case varWord: case varInteger:
        n.i = v.IntegerPayload();
        return n;
    case varLongWord: case varInt64:
        n.i = v.IntegerPayload();
        n.wide = true;
        return n;
    case varCurrency:
        n.kind = Num::Cur;
        n.i = v.IntegerPayload();
        return n;
    case varSingle: case varDouble: case varDate:
        n.kind = Num::Float;
        n.f = v.FloatPayload();
        n.date = v.VType() == varDate;
        return n;
    case varString: return NumOfText(v.ToString());
    default: ThrowConversion(v.VType(), "Double");
    }
}

long double RealOf(const Num& n) {
    switch (n.kind) {
    case Num::Int: return static_cast<long double>(n.i);
    case Num::Cur: return CurrencyToReal(n.i);
    default: return n.f;
    }
}

std::int64_t ScaledOf(const Num& n) { return n.kind == Num::Cur ? n.i : IntToCurrency(n.i); }

// The integer of a number, for the integer-only operations; floats and
// Currency round to nearest, ties to even.
Num IntegerOf(const Num& n) {
    if (n.kind == Num::Int) return n;
    Num out;
    out.i = n.kind == Num::Cur ? CurrencyToInt(n.i) : RoundToInt64(n.f);
    out.wide = !FitsInt32(out.i);
    return out;
}

bool IsZero(const Num& n) { return n.kind == Num::Float ? n.f == 0 : n.i == 0; }

Variant FloatResult(long double r, long double a, long double b, bool date) {
    CheckFloatResult(r, a, b);
    const double d = NarrowToDouble(r);
    return date ? Variant::Date(d) : Variant::Double(d);
}

Variant IntegerOnlyOp(TVarOp op, const Num& left, const Num& right) {
    const Num a = IntegerOf(left);
    const Num b = IntegerOf(right);
    const bool wide = a.wide || b.wide;
    const auto ua = static_cast<std::uint64_t>(a.i);
    const auto ub = static_cast<std::uint64_t>(b.i);
    switch (op) {
    case TVarOp::IntDiv:
    case TVarOp::Mod:
        if (b.i == 0) throw EPSDivByZero("Division by zero");
        if (a.i == std::numeric_limits<std::int64_t>::min() && b.i == -1) {
            if (op == TVarOp::Mod) return IntegerResult(0, wide);
            throw EPSError("Integer overflow");
        }
        return IntegerResult(op == TVarOp::IntDiv ? a.i / b.i : a.i % b.i, wide);
    default:
        break;
    }
    if (wide) {
        std::uint64_t r = 0;
        switch (op) {
        case TVarOp::Shl: r = ua << (ub & 63); break;
        case TVarOp::Shr: r = ua >> (ub & 63); break;
        case TVarOp::And: r = ua & ub; break;
        case TVarOp::Or: r = ua | ub; break;
        default: r = ua ^ ub; break;
        }
        return Variant::Int64(static_cast<std::int64_t>(r));
    }
    const auto xa = static_cast<std::uint32_t>(ua);
    const auto xb = static_cast<std::uint32_t>(ub);
    std::uint32_t r = 0;
    switch (op) {
    case TVarOp::Shl: r = xa << (xb & 31); break;
    case TVarOp::Shr: r = xa >> (xb & 31); break;
    case TVarOp::And: r = xa & xb; break;
    case TVarOp::Or: r = xa | xb; break;
    default: r = xa ^ xb; break;
    }
    return Variant::Integer(static_cast<std::int32_t>(r));
}

Variant NumericOp(TVarOp op, const Num& a, const Num& b) {
    switch (op) {
    case TVarOp::Add:
    case TVarOp::Sub:
    case TVarOp::Mul:
        break;
    case TVarOp::RealDiv: {
        if (IsZero(b)) throw EPSDivByZero("Division by zero");
        const bool exact = a.kind != Num::Float && b.kind != Num::Float;
        if (exact && (a.kind == Num::Cur || b.kind == Num::Cur)) {
            const long double q = static_cast<long double>(ScaledOf(a)) * kCurrencyScale /
                                  static_cast<long double>(ScaledOf(b));
            return Variant::Currency(RoundToInt64(q));
        }
        const long double x = RealOf(a), y = RealOf(b);
        return FloatResult(x / y, x, y, false);
    }
    default:
        return IntegerOnlyOp(op, a, b);
    }

    if (a.kind == Num::Float || b.kind == Num::Float) {
        const long double x = RealOf(a), y = RealOf(b);
        long double r = op == TVarOp::Add ? x + y : op == TVarOp::Sub ? x - y : x * y;
        // A Date moved by a number stays a Date; the distance of two Dates
        // is a number.
        const bool date = (op == TVarOp::Add && a.date != b.date) || (op == TVarOp::Sub && a.date && !b.date);
        return FloatResult(r, x, y, date);
    }
    if (a.kind == Num::Cur || b.kind == Num::Cur) {
        std::int64_t r = 0;
        bool overflow = false;
        if (op == TVarOp::Mul) {
            if (a.kind == Num::Cur && b.kind == Num::Cur) {
                return Variant::Currency(RoundToInt64(static_cast<long double>(a.i) * b.i / kCurrencyScale));
            }
            overflow = __builtin_mul_overflow(a.i, b.i, &r);
        } else {
            const std::int64_t x = ScaledOf(a), y = ScaledOf(b);
            overflow = op == TVarOp::Add ? __builtin_add_overflow(x, y, &r) : __builtin_sub_overflow(x, y, &r);
        }
        if (overflow) throw EPSMathError("Floating point overflow");
        return Variant::Currency(r);
    }
    const bool wide = a.wide || b.wide;
    const auto ua = static_cast<std::uint64_t>(a.i);
    const auto ub = static_cast<std::uint64_t>(b.i);
    // Operands of at most 32 bits never overflow 64; wide ones wrap.
    const std::uint64_t r = op == TVarOp::Add ? ua + ub : op == TVarOp::Sub ? ua - ub : ua * ub;
    return IntegerResult(static_cast<std::int64_t>(r), wide);
}

int Compare3(auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); }

TVarOrder OrderOf(int c) { return c < 0 ? TVarOrder::Less : (c > 0 ? TVarOrder::Greater : TVarOrder::Equal); }

bool IsTextual(std::uint16_t k) { return k == varString || k == varEmpty; }

bool TextToBoolean(std::string_view text, bool& out) {
    const std::string upper = FastUpperCase(text);
    if (upper == "TRUE") return out = true, true;
    if (upper == "FALSE") return out = false, true;
    bool is_integer = false;
    std::int64_t integer = 0;
    double real = 0;
    if (!ParseNumberText(text, is_integer, integer, real)) return false;
    out = is_integer ? integer != 0 : real != 0;
    return true;
}

}  // namespace

// ------------------------------------------------------------ kinds

std::string_view VarKindName(std::uint16_t vtype) {
    switch (vtype) {
    case varEmpty: return "Empty";
    case varNull: return "Null";
    case varSmallInt: return "SmallInt";
    case varInteger: return "Integer";
    case varSingle: return "Single";
    case varDouble: return "Double";
    case varCurrency: return "Currency";
    case varDate: return "Date";
    case varDispatch: return "Dispatch";
    case varBoolean: return "Boolean";
    case varShortInt: return "ShortInt";
    case varByte: return "Byte";
    case varWord: return "Word";
    case varLongWord: return "LongWord";
    case varInt64: return "Int64";
    case varString: return "String";
    case varVariantArray: return "Array";
    default: return "Unknown";
    }
}

std::string_view Variant::KindName() const { return VarKindName(cell_.VType); }

// ------------------------------------------------------------ lifetime

void Variant::AddRefContents() noexcept {
    switch (cell_.VType) {
    case varString: AddStringRef(PayloadAs<PSStr>(cell_)); break;
    case varVariantArray: AddBlockRef(PayloadAs<void*>(cell_)); break;
    case varDispatch:
        if (auto* d = PayloadAs<IPSDispatch*>(cell_)) d->AddRef();
        break;
    default: break;
    }
}

void Variant::ReleaseContents() noexcept {
    switch (cell_.VType) {
    case varString: ReleaseString(PayloadAs<PSStr>(cell_)); break;
    case varVariantArray: ReleaseArrayBlock(PayloadAs<void*>(cell_)); break;
    case varDispatch:
        if (auto* d = PayloadAs<IPSDispatch*>(cell_)) d->Release();
        break;
    default: break;
    }
    cell_ = VariantCell{};
}

Variant::Variant(const Variant& other) : cell_(other.cell_) { AddRefContents(); }

Variant::Variant(Variant&& other) noexcept : cell_(other.cell_) { other.cell_ = VariantCell{}; }

Variant& Variant::operator=(const Variant& other) {
    Variant copy(other);
    return *this = std::move(copy);
}

Variant& Variant::operator=(Variant&& other) noexcept {
    if (this != &other) {
        Variant old(std::move(*this));
        cell_ = other.cell_;
        other.cell_ = VariantCell{};
    }
    return *this;
}

Variant::~Variant() { ReleaseContents(); }

Variant Variant::CopyFromSlot(const void* slot) {
    Variant v(LoadAs<VariantCell>(slot));
    v.AddRefContents();
    return v;
}

void Variant::StoreIntoSlot(void* slot, Variant value) {
    Variant old(LoadAs<VariantCell>(slot));
    StoreAs(slot, value.cell_);
    value.cell_ = VariantCell{};
}

void Variant::ClearSlot(void* slot) noexcept {
    Variant old(LoadAs<VariantCell>(slot));
    StoreAs(slot, VariantCell{});
}

std::uint16_t Variant::SlotVType(const void* slot) { return LoadAs<std::uint16_t>(slot); }

// ------------------------------------------------------------ factories

Variant Variant::Null() { return Variant(MakeCell<std::uint8_t>(varNull, 0)); }
Variant Variant::ShortInt(std::int8_t v) { return Variant(MakeCell(varShortInt, v)); }
Variant Variant::Byte(std::uint8_t v) { return Variant(MakeCell(varByte, v)); }
Variant Variant::SmallInt(std::int16_t v) { return Variant(MakeCell(varSmallInt, v)); }
Variant Variant::Word(std::uint16_t v) { return Variant(MakeCell(varWord, v)); }
Variant Variant::Integer(std::int32_t v) { return Variant(MakeCell(varInteger, v)); }
Variant Variant::LongWord(std::uint32_t v) { return Variant(MakeCell(varLongWord, v)); }
Variant Variant::Int64(std::int64_t v) { return Variant(MakeCell(varInt64, v)); }
Variant Variant::Single(float v) { return Variant(MakeCell(varSingle, v)); }
Variant Variant::Double(double v) { return Variant(MakeCell(varDouble, v)); }
Variant Variant::Date(double v) { return Variant(MakeCell(varDate, v)); }
Variant Variant::Currency(std::int64_t scaled) { return Variant(MakeCell(varCurrency, scaled)); }
Variant Variant::String(std::string_view v) { return Variant(MakeCell(varString, NewString(v))); }
Variant Variant::Boolean(bool v) { return Variant(MakeCell<std::uint8_t>(varBoolean, v ? 1 : 0)); }

Variant Variant::Dispatch(IPSDispatch* v) {
    if (v != nullptr) v->AddRef();
    return Variant(MakeCell(varDispatch, v));
}

Variant Variant::Array(std::int32_t low, std::int32_t high) {
    const std::int64_t count = std::int64_t{high} - low + 1;
    if (count < 0) throw EPSError("Invalid Variant array bounds");
    CheckValueBytes(static_cast<std::uint64_t>(count) * kCellBytes);
    void* data = count == 0 ? nullptr : NewBlock(static_cast<std::uint64_t>(count) * kCellBytes,
                                                 static_cast<std::int32_t>(count));
    VariantCell c = MakeCell(varVariantArray, data);
    c.LowBound = low;
    return Variant(c);
}

// ------------------------------------------------------------ conversions

std::int64_t Variant::IntegerPayload() const {
    switch (cell_.VType) {
    case varShortInt: return PayloadAs<std::int8_t>(cell_);
    case varByte: return PayloadAs<std::uint8_t>(cell_);
    case varSmallInt: return PayloadAs<std::int16_t>(cell_);
    case varWord: return PayloadAs<std::uint16_t>(cell_);
    case varInteger: return PayloadAs<std::int32_t>(cell_);
    case varLongWord: return PayloadAs<std::uint32_t>(cell_);
    case varInt64: case varCurrency: return PayloadAs<std::int64_t>(cell_);
    case varBoolean: return PayloadAs<std::uint8_t>(cell_) != 0 ? 1 : 0;
    default: return 0;
    }
}

double Variant::FloatPayload() const {
    switch (cell_.VType) {
    case varSingle: return PayloadAs<float>(cell_);
    case varDouble: case varDate: return PayloadAs<double>(cell_);
    default: return 0;
    }
}

bool Variant::ToBoolean() const {
    const std::uint16_t k = cell_.VType;
    if (k == varEmpty) return false;
    if (k == varBoolean || IsIntegerKind(k) || k == varCurrency) return IntegerPayload() != 0;
    if (k == varSingle || k == varDouble || k == varDate) return FloatPayload() != 0;
    bool out = false;
    if (k == varString && TextToBoolean(StringView(PayloadAs<PSStr>(cell_)), out)) return out;
    ThrowConversion(k, "Boolean");
}

std::int64_t Variant::ToInt64() const {
    const std::uint16_t k = cell_.VType;
    if (k == varEmpty) return 0;
    if (k == varBoolean || IsIntegerKind(k)) return IntegerPayload();
    if (k == varCurrency) return CurrencyToInt(IntegerPayload());
    if (k == varSingle || k == varDouble || k == varDate) return RoundToInt64(FloatPayload());
    if (k == varString) {
        bool is_integer = false;
        std::int64_t integer = 0;
        double real = 0;
        if (ParseNumberText(StringView(PayloadAs<PSStr>(cell_)), is_integer, integer, real))
            return is_integer ? integer : RoundToInt64(real);
    }
    ThrowConversion(k, "Int64");
}

std::int32_t Variant::ToInt32() const {
    const std::int64_t v = ToInt64();
    if (!FitsInt32(v)) ThrowConversion(cell_.VType, "Integer");
    return static_cast<std::int32_t>(v);
}

long double Variant::ToReal() const {
    const std::uint16_t k = cell_.VType;
    if (k == varEmpty) return 0;
    if (k == varBoolean || IsIntegerKind(k)) return static_cast<long double>(IntegerPayload());
    if (k == varCurrency) return CurrencyToReal(IntegerPayload());
    if (k == varSingle || k == varDouble || k == varDate) return FloatPayload();
    if (k == varString) {
        bool is_integer = false;
        std::int64_t integer = 0;
        double real = 0;
        if (ParseNumberText(StringView(PayloadAs<PSStr>(cell_)), is_integer, integer, real))
            return is_integer ? static_cast<long double>(integer) : real;
    }
    ThrowConversion(k, "Double");
}

std::int64_t Variant::ToCurrency() const {
    const std::uint16_t k = cell_.VType;
    if (k == varEmpty) return 0;
    if (k == varBoolean || IsIntegerKind(k)) return IntToCurrency(IntegerPayload());
    if (k == varCurrency) return IntegerPayload();
    if (k == varSingle || k == varDouble || k == varDate) return RoundToCurrency(FloatPayload());
    if (k == varString) {
        bool is_integer = false;
        std::int64_t integer = 0;
        double real = 0;
        if (ParseNumberText(StringView(PayloadAs<PSStr>(cell_)), is_integer, integer, real))
            return is_integer ? IntToCurrency(integer) : RoundToCurrency(real);
    }
    ThrowConversion(k, "Currency");
}

std::string Variant::ToString() const {
    const std::uint16_t k = cell_.VType;
    switch (k) {
    case varEmpty: return {};
    case varString: return std::string(StringView(PayloadAs<PSStr>(cell_)));
    case varBoolean: return IntegerPayload() != 0 ? "True" : "False";
    case varLongWord: return UnsignedText(static_cast<std::uint64_t>(IntegerPayload()));
    case varShortInt: case varByte: case varSmallInt: case varWord: case varInteger: case varInt64:
        return IntegerText(IntegerPayload());
    case varSingle: return FloatText(FloatPayload(), 7);
    case varDouble: return FloatText(FloatPayload(), 15);
    case varCurrency: return CurrencyText(IntegerPayload());
    case varDate: {
        std::string text;
        if (DateText(FloatPayload(), text)) return text;
        break;
    }
    default: break;
    }
    ThrowConversion(k, "String");
}

IPSDispatch* Variant::ToDispatch() const {
    switch (cell_.VType) {
    case varEmpty: case varNull: return nullptr;
    case varDispatch: return PayloadAs<IPSDispatch*>(cell_);
    default: ThrowConversion(cell_.VType, "Dispatch");
    }
}

// ------------------------------------------------------------ arrays

std::int32_t Variant::LowBound() const {
    if (!IsArray()) ThrowNotArray(cell_.VType);
    return cell_.LowBound;
}

std::int32_t Variant::ElementCount() const {
    if (!IsArray()) ThrowNotArray(cell_.VType);
    return BlockCount(PayloadAs<void*>(cell_));
}

std::int32_t Variant::HighBound() const {
    return static_cast<std::int32_t>(std::int64_t{LowBound()} + ElementCount() - 1);
}

namespace {
std::size_t ElementOffset(const Variant& array, std::int32_t index) {
    const std::int64_t pos = std::int64_t{index} - array.LowBound();
    if (pos < 0 || pos >= array.ElementCount()) throw EPSError("Variant array index out of bounds");
    return static_cast<std::size_t>(pos) * kCellBytes;
}
}  // namespace

Variant Variant::GetElement(std::int32_t index) const {
    const std::size_t at = ElementOffset(*this, index);
    return CopyFromSlot(PayloadAs<std::byte*>(cell_) + at);
}

void* Variant::UniqueArrayData() {
    void* data = PayloadAs<void*>(cell_);
    if (data == nullptr || BlockRefCount(data) == 1) return data;
    const auto count = static_cast<std::size_t>(BlockCount(data));
    auto* fresh = static_cast<std::byte*>(NewBlock(count * kCellBytes, static_cast<std::int32_t>(count)));
    for (std::size_t i = 0; i < count; ++i) {
        Variant copy = CopyFromSlot(static_cast<std::byte*>(data) + i * kCellBytes);
        StoreIntoSlot(fresh + i * kCellBytes, std::move(copy));
    }
    std::memcpy(&cell_.Payload, &fresh, sizeof fresh);
    ReleaseArrayBlock(data);
    return fresh;
}

void Variant::SetElement(std::int32_t index, Variant value) {
    const std::size_t at = ElementOffset(*this, index);
    StoreIntoSlot(static_cast<std::byte*>(UniqueArrayData()) + at, std::move(value));
}

// ------------------------------------------------------------ operations

Variant VarOp(TVarOp op, const Variant& left, const Variant& right) {
    const std::uint16_t lk = left.VType(), rk = right.VType();
    if (HasNoValueOps(lk) || HasNoValueOps(rk)) ThrowInvalidOp(lk, OpName(op), rk);
    if (lk == varNull || rk == varNull) return Variant::Null();
    if (op == TVarOp::Add && IsTextual(lk) && IsTextual(rk) && (lk == varString || rk == varString)) {
        const std::string a = left.ToString(), b = right.ToString();
        CheckValueBytes(std::uint64_t{a.size()} + b.size() + 1);
        return Variant::String(a + b);
    }
    if ((op == TVarOp::And || op == TVarOp::Or || op == TVarOp::Xor) && lk == varBoolean && rk == varBoolean) {
        const bool a = left.ToBoolean(), b = right.ToBoolean();
        return Variant::Boolean(op == TVarOp::And ? (a && b) : op == TVarOp::Or ? (a || b) : (a != b));
    }
    return NumericOp(op, ToNum(left), ToNum(right));
}

Variant VarNeg(const Variant& v) {
    const std::uint16_t k = v.VType();
    if (HasNoValueOps(k)) ThrowInvalidUnary("-", k);
    if (k == varNull) return Variant::Null();
    if (k == varSingle) return Variant::Single(-static_cast<float>(v.FloatPayload()));
    const Num n = ToNum(v);
    switch (n.kind) {
    case Num::Float: return n.date ? Variant::Date(-static_cast<double>(n.f)) : Variant::Double(-static_cast<double>(n.f));
    case Num::Cur:
        if (n.i == std::numeric_limits<std::int64_t>::min()) throw EPSMathError("Floating point overflow");
        return Variant::Currency(-n.i);
    default: return IntegerResult(static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(n.i)), n.wide);
    }
}

Variant VarNot(const Variant& v) {
    const std::uint16_t k = v.VType();
    if (HasNoValueOps(k)) ThrowInvalidUnary("not", k);
    if (k == varNull) return Variant::Null();
    if (k == varBoolean) return Variant::Boolean(!v.ToBoolean());
    if (k == varString) {
        const std::string upper = FastUpperCase(v.ToString());
        if (upper == "TRUE" || upper == "FALSE") return Variant::Boolean(upper == "FALSE");
    }
    const Num n = IntegerOf(ToNum(v));
    if (n.wide) return Variant::Int64(~n.i);
    return Variant::Integer(~static_cast<std::int32_t>(n.i));
}

TVarOrder VarCompare(const Variant& left, const Variant& right) {
    const std::uint16_t lk = left.VType(), rk = right.VType();
    if (HasNoValueOps(lk) || HasNoValueOps(rk)) ThrowInvalidOp(lk, "compared with", rk);
    if (lk == varNull || rk == varNull) {
        if (lk == rk) return TVarOrder::Equal;
        return lk == varNull ? TVarOrder::Less : TVarOrder::Greater;
    }
    if (IsTextual(lk) && IsTextual(rk)) {
        // Ordinal: bytes as unsigned values, a prefix before the longer text.
        return OrderOf(left.ToString().compare(right.ToString()));
    }
    if ((lk == varBoolean || rk == varBoolean) && (IsTextual(lk) || IsTextual(rk) || lk == rk)) {
        // Beside a Boolean a text reads "True", "False" or a number.
        return OrderOf(Compare3(left.ToBoolean(), right.ToBoolean()));
    }
    const Num a = ToNum(left), b = ToNum(right);
    if (a.kind == Num::Float || b.kind == Num::Float) {
        const long double x = RealOf(a), y = RealOf(b);
        if (std::isnan(x) || std::isnan(y)) return TVarOrder::Unordered;
        return OrderOf(Compare3(x, y));
    }
    if (a.kind == Num::Cur || b.kind == Num::Cur) {
        const auto scaled = [](const Num& n) { return n.kind == Num::Cur ? __int128{n.i} : __int128{n.i} * kCurrencyScale; };
        return OrderOf(Compare3(scaled(a), scaled(b)));
    }
    return OrderOf(Compare3(a.i, b.i));
}

bool VarEquals(const Variant& left, const Variant& right) {
    const std::uint16_t lk = left.VType(), rk = right.VType();
    if (lk == varVariantArray || rk == varVariantArray) {
        // An array is equal only to itself.
        return lk == rk && left.Cell().LowBound == right.Cell().LowBound &&
               left.Cell().Payload == right.Cell().Payload;
    }
    if (lk == varDispatch || rk == varDispatch) return lk == rk && left.ToDispatch() == right.ToDispatch();
    if (lk == varNull || rk == varNull) return lk == rk;
    // A text that is no number is simply not equal to a number.
    const auto isNumberOrBool = [](std::uint16_t k) { return k != varString && k != varEmpty; };
    bool is_integer = false;
    std::int64_t integer = 0;
    double real = 0;
    bool boolean = false;
    const auto comparable = [&](std::uint16_t other, const Variant& text) {
        if (other == varBoolean) return TextToBoolean(text.ToString(), boolean);
        return ParseNumberText(text.ToString(), is_integer, integer, real);
    };
    if (lk == varString && isNumberOrBool(rk) && !comparable(rk, left)) return false;
    if (rk == varString && isNumberOrBool(lk) && !comparable(lk, right)) return false;
    return VarCompare(left, right) == TVarOrder::Equal;
}

bool VariantHoldsFloat(const Variant& v) {
    return v.VType() == varSingle || v.VType() == varDouble || v.VType() == varCurrency;
}

bool VariantArrayContains(const Variant& array, const Variant& value) {
    const std::int32_t count = array.ElementCount();
    for (std::int32_t i = 0; i < count; ++i) {
        if (VarEquals(array.GetElement(array.LowBound() + i), value)) return true;
    }
    return false;
}

}  // namespace script::runtime
