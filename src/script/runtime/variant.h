#pragma once
// The script Variant (base type 16): a 16-byte tagged cell.
//
//     VType (u16) | reserved (u16) | low bound (i32, arrays) | payload (8 bytes)
//
// VType is the code that the script's VarType answers (the var... constants
// the compiler declares). The payload holds the number, a String handle (the
// same reference-counted block as a script String), a dispatch interface
// reference, or for an array the handle of a block of Variant cells (the
// block of a dynamic array of Variants). A zero cell is the empty Variant.
//
// Copies share strings and arrays; writing an array element copies the
// array first when another Variant holds it, so Variants never form cycles.
//
// In slots the cell is handled through the static *Slot functions; C++ code
// holds a Variant object, which owns what its cell refers to. Every failure
// (a conversion that does not fit, an operation on kinds that do not take
// it) raises a general exception (EPSError) whose text names both kinds;
// division by zero raises EPSDivByZero, floating-point overflow and invalid
// results EPSMathError, an array beyond the size cap EPSOutOfMemory.
#include <cstdint>
#include <string>
#include <string_view>

#include "script/runtime/interfaces.h"

namespace script::runtime {

// VarType codes of the kinds a Variant holds.
enum TVarKind : std::uint16_t {
    varEmpty = 0,
    varNull = 1,
    varSmallInt = 2,
    varInteger = 3,
    varSingle = 4,
    varDouble = 5,
    varCurrency = 6,
    varDate = 7,
    varDispatch = 9,
    varBoolean = 11,
    varVariant = 12,
    varShortInt = 16,
    varByte = 17,
    varWord = 18,
    varLongWord = 19,
    varInt64 = 20,
    varString = 256,
    varArray = 8192,
};
// The kind of a one-dimensional array of Variants.
inline constexpr std::uint16_t varVariantArray = varArray | varVariant;

struct VariantCell {
    std::uint16_t VType = varEmpty;
    std::uint16_t Reserved = 0;
    std::int32_t LowBound = 0;
    std::uint64_t Payload = 0;
};
static_assert(sizeof(VariantCell) == 16);

class Variant {
public:
    Variant() noexcept = default;
    Variant(const Variant& other);
    Variant(Variant&& other) noexcept;
    Variant& operator=(const Variant& other);
    Variant& operator=(Variant&& other) noexcept;
    ~Variant();

    static Variant Null();
    static Variant ShortInt(std::int8_t v);
    static Variant Byte(std::uint8_t v);
    static Variant SmallInt(std::int16_t v);
    static Variant Word(std::uint16_t v);
    static Variant Integer(std::int32_t v);
    static Variant LongWord(std::uint32_t v);
    static Variant Int64(std::int64_t v);
    static Variant Single(float v);
    static Variant Double(double v);
    // Days since 1899-12-30, the time of day as the fraction.
    static Variant Date(double v);
    // The amount times 10000.
    static Variant Currency(std::int64_t scaled);
    static Variant String(std::string_view v);
    static Variant Boolean(bool v);
    // Holds a new reference of the interface (nil is a nil dispatch Variant).
    static Variant Dispatch(IPSDispatch* v);
    // An array of empty Variants with bounds low..high (high = low - 1 for
    // none).
    static Variant Array(std::int32_t low, std::int32_t high);

    std::uint16_t VType() const { return cell_.VType; }
    bool IsEmpty() const { return cell_.VType == varEmpty; }
    bool IsNull() const { return cell_.VType == varNull; }
    bool IsArray() const { return cell_.VType == varVariantArray; }
    // The name of the kind, as failure texts show it.
    std::string_view KindName() const;

    // Conversions. Integers from floats and Currency round to nearest, ties
    // to even; strings convert when they hold a number (integers also in
    // "$" hexadecimal), to Boolean also "True" and "False".
    bool ToBoolean() const;
    std::int32_t ToInt32() const;
    std::int64_t ToInt64() const;
    long double ToReal() const;
    // The amount times 10000.
    std::int64_t ToCurrency() const;
    std::string ToString() const;
    // The held dispatch interface without a new reference (nil for Empty
    // and Null and a nil dispatch Variant); other kinds fail.
    IPSDispatch* ToDispatch() const;

    // The raw payload of a number kind, for the caller that knows the kind.
    std::int64_t IntegerPayload() const;
    double FloatPayload() const;

    // Arrays; a Variant that is not an array fails, as does an index outside
    // the bounds.
    std::int32_t LowBound() const;
    std::int32_t HighBound() const;
    std::int32_t ElementCount() const;
    Variant GetElement(std::int32_t index) const;
    void SetElement(std::int32_t index, Variant value);

    // Slots holding a Variant cell (see value_layout.h).
    static Variant CopyFromSlot(const void* slot);
    // The slot takes value; its old content is released after, so a slot
    // may be given a copy of itself.
    static void StoreIntoSlot(void* slot, Variant value);
    static void ClearSlot(void* slot) noexcept;
    // The kind of the Variant in a slot.
    static std::uint16_t SlotVType(const void* slot);

    const VariantCell& Cell() const { return cell_; }

private:
    explicit Variant(const VariantCell& owned) noexcept : cell_(owned) {}
    void AddRefContents() noexcept;
    void ReleaseContents() noexcept;
    // The array block, unshared, for writing.
    void* UniqueArrayData();

    VariantCell cell_;
};

// The name of a kind (VType), as failure texts show it.
std::string_view VarKindName(std::uint16_t vtype);

// ------------------------------------------------------------ operations

enum class TVarOp : std::uint8_t { Add, Sub, Mul, RealDiv, IntDiv, Mod, Shl, Shr, And, Or, Xor };

// left op right. Null with anything gives Null; Empty counts as 0 (or the
// empty string beside a String); Boolean as 0 or 1, except that and/or/xor
// of two Booleans give a Boolean; "+" of two Strings concatenates, and a
// String beside a number is read as a number. Integers give an Integer when
// both sides are at most 32 bits and the result fits, else an Int64 (64-bit
// results wrap); beside Currency the result is Currency, beside a float
// Double (a Date plus or minus a number stays a Date). RealDiv of integers
// gives a Double; IntDiv, Mod, shifts and bit operations work on integers.
Variant VarOp(TVarOp op, const Variant& left, const Variant& right);
Variant VarNeg(const Variant& v);
// Boolean not of a Boolean, bitwise not of integers.
Variant VarNot(const Variant& v);

enum class TVarOrder : std::uint8_t { Less, Equal, Greater, Unordered };
// Ordering of two Variants: Strings ordinally, numbers by value (NaN is
// unordered), Null before anything else. Arrays and dispatch interfaces
// have no order.
TVarOrder VarCompare(const Variant& left, const Variant& right);
// Equality: as VarCompare, except that a String that is not a number is
// unequal to a number, and arrays and dispatch interfaces are equal only to
// themselves.
bool VarEquals(const Variant& left, const Variant& right);
// Whether a Variant holds a Single, Double or Currency (the kinds for which
// "/" divides as reals).
bool VariantHoldsFloat(const Variant& v);
// Whether some element of the array equals value, searching from the first.
bool VariantArrayContains(const Variant& array, const Variant& value);

}  // namespace script::runtime
