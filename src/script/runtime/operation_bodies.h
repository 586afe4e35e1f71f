#pragma once
// The one definition of each operation that the interpreter's tiers share
// (the general handlers, the quick forms, the proven forms and their fused
// loops), and the one matcher of each compiler pattern that the quick forms
// and the shape analysis both look for. A change to what an operation does
// is an edit here; every tier follows it.
#include <cstdint>
#include <cstring>

#include "script/compiler/image_format.h"
#include "script/runtime/decoded_code.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/type_records.h"

namespace script::runtime {

// ------------------------------------------------------------ types

constexpr bool IsInt32Base(std::uint8_t base) { return base == btS32 || base == btU32; }
inline bool IsInt32(const TPSTypeRec* t) { return t != nullptr && IsInt32Base(t->BaseType); }
inline bool IsByteValue(const TPSTypeRec* t) {
    return t != nullptr && (t->BaseType == btU8 || t->BaseType == btS8);
}
// A byte whose value is its code: a Char, a Byte or a Boolean.
inline bool IsUnsignedByte(const TPSTypeRec* t) {
    return t != nullptr && (t->BaseType == btU8 || t->BaseType == btChar);
}

// ------------------------------------------------------------ arithmetic

// The 32-bit Calc of two integers of one kind: wraps at 32 bits, shift
// counts taken modulo 32 (logical shifts, also of signed values), division
// and remainder of the dividend's sign. False when the operation fails
// (a zero divisor; the one signed quotient that does not fit, the most
// negative value by -1): the general form reports which.
[[gnu::always_inline]] inline bool Calc32(std::uint8_t op, std::uint32_t a, std::uint32_t b,
                                          bool is_signed, std::uint32_t& out) {
    switch (op) {
        case caAdd: out = a + b; return true;
        case caSub: out = a - b; return true;
        case caMul: out = a * b; return true;
        case caAnd: out = a & b; return true;
        case caOr: out = a | b; return true;
        case caXor: out = a ^ b; return true;
        case caShl: out = a << (b & 31); return true;
        case caShr: out = a >> (b & 31); return true;
        case caDiv:
        case caMod:
            if (b == 0) return false;
            if (is_signed) {
                const auto x = static_cast<std::int32_t>(a);
                const auto y = static_cast<std::int32_t>(b);
                if (y == -1) {
                    if (a == 0x80000000u) return false;
                    out = op == caDiv ? 0u - a : 0u;
                    return true;
                }
                out = static_cast<std::uint32_t>(op == caDiv ? x / y : x % y);
            } else {
                out = op == caDiv ? a / b : a % b;
            }
            return true;
        default:
            return false;
    }
}

// ------------------------------------------------------------ comparison

// A 32-bit comparison as bits: the relation's results for less (bit 0),
// equal (bit 1) and greater (bit 2), and what makes a signed comparison an
// unsigned one (the sign bits flipped in both operands).
inline constexpr std::uint8_t kRelLess = 1, kRelEqual = 2, kRelGreater = 4;
constexpr std::uint8_t RelationBits(std::uint8_t op) {
    constexpr std::uint8_t kBits[] = {kRelGreater | kRelEqual, kRelLess | kRelEqual, kRelGreater,
                                      kRelLess,                kRelLess | kRelGreater, kRelEqual};
    return op <= coEqual ? kBits[op] : 0;
}
constexpr std::uint32_t SignFlip(bool is_signed) { return is_signed ? 0x80000000u : 0u; }

// Whether a relation (RelationBits, SignFlip) holds between two 32-bit
// values, without a branch.
[[gnu::always_inline]] inline bool Holds(std::uint8_t bits, std::uint32_t flip, std::uint32_t a,
                                         std::uint32_t b) {
    const std::uint32_t x = a ^ flip;
    const std::uint32_t y = b ^ flip;
    const unsigned at = (x > y ? 2u : 0u) + (x == y ? 1u : 0u);
    return ((bits >> at) & 1u) != 0;
}

// The 32-bit Compare of two integers of one kind (op one of the six
// relations).
[[gnu::always_inline]] inline bool Compare32(std::uint8_t op, std::uint32_t a, std::uint32_t b,
                                             bool is_signed) {
    return Holds(RelationBits(op), SignFlip(is_signed), a, b);
}

// ------------------------------------------------------------ assignment

// The bytes an assignment between values of these types copies as they
// are: of one base that holds no reference, or a 32-bit integer to another
// (the bits go over as they are); 0 when it is no such assignment.
inline std::uint32_t SameBaseBytes(const TPSTypeRec* d, const TPSTypeRec* s) {
    if (IsInt32(d) && IsInt32(s)) return 4;
    if (d->BaseType != s->BaseType) return 0;
    switch (d->BaseType) {
        case btU8: case btS8: case btChar: return 1;
        case btU16: case btS16: return 2;
        case btSingle: return 4;
        case btDouble: case btS64: case btCurrency: return 8;
        default: return 0;
    }
}

// The common assignments: SameBaseBytes, or a string to a string (which
// shares the text). False when the general assignment must do it.
inline bool AssignSameBase(void* dest, const void* src, const TPSTypeRec* dest_type,
                           const TPSTypeRec* src_type) {
    const std::uint32_t bytes = SameBaseBytes(dest_type, src_type);
    if (bytes != 0) {
        std::memcpy(dest, src, bytes);
        return true;
    }
    if (dest_type->BaseType != btString || src_type->BaseType != btString) return false;
    ShareStringSlot(dest, src);
    return true;
}

// ------------------------------------------------------------ compiler patterns

// Whether two operands name the same plain variable.
inline bool SameVar(const TPSDecodedOperand& a, const TPSDecodedOperand& b) {
    if (a.Form != TPSOperandForm::Variable || b.Form != TPSOperandForm::Variable ||
        a.Var.Place != b.Var.Place)
        return false;
    return a.Var.Place == TPSVarPlace::Stack ? a.Var.Offset == b.Var.Offset
                                             : a.Var.Value == b.Var.Value;
}

// Whether an operand is the stack variable at a local offset.
inline bool IsLocal(const TPSDecodedOperand& d, std::int32_t offset) {
    return d.Form == TPSOperandForm::Variable && d.Var.Place == TPSVarPlace::Stack &&
           d.Var.Offset == offset;
}

inline const TPSDecodedInstr* InstrAt(const TPSDecodedInstr* instrs, std::uint32_t i) {
    return i == kNoInstr ? nullptr : &instrs[i];
}

inline bool IsCondJump(const TPSDecodedInstr* in) {
    return in != nullptr && (in->BaseOp == opCondGoto || in->BaseOp == opCondNotGoto);
}

// An if statement's jump on a condition in the stack variable var, as the
// compiler writes it: SetFlag on var, the Pop of var, FlagGoto. The
// FlagGoto, or nil.
inline const TPSDecodedInstr* FlagJumpAfter(const TPSDecodedInstr* instrs,
                                            const TPSDecodedInstr* set_flag,
                                            const TPSDecodedOperand& var) {
    if (set_flag == nullptr || set_flag->BaseOp != opSetFlag || !SameVar(set_flag->A(), var) ||
        var.Var.Place != TPSVarPlace::Stack)
        return nullptr;
    const TPSDecodedInstr* pop = InstrAt(instrs, set_flag->Next);
    if (pop == nullptr || pop->BaseOp != opPop) return nullptr;
    const TPSDecodedInstr* jump = InstrAt(instrs, pop->Next);
    return jump != nullptr && jump->BaseOp == opFlagGoto ? jump : nullptr;
}

// What follows a Compare into a byte, as the compiler writes it.
struct TPSCompareFollowers {
    enum Kind : std::uint8_t {
        kNone,      // nothing taken along
        kJump,      // CondGoto or CondNotGoto on the result
        kLoopStep,  // Inc or Dec of the left operand (a for loop's counter), then the jump
        kFlagJump,  // SetFlag on the result, its Pop, FlagGoto (an if statement)
    };
    Kind What = kNone;
    const TPSDecodedInstr* Jump = nullptr;  // the jump instruction taken along
    std::uint32_t Step = 0;                 // of kLoopStep: 1 or -1
    bool JumpWhen = false;                  // the result the jump is taken on
};

inline TPSCompareFollowers MatchCompareFollowers(const TPSDecodedInstr* instrs,
                                                 const TPSDecodedInstr& compare) {
    TPSCompareFollowers f;
    const TPSDecodedInstr* next = InstrAt(instrs, compare.Next);
    if (next == nullptr) return f;
    if ((next->BaseOp == opInc || next->BaseOp == opDec) && SameVar(next->A(), compare.B())) {
        const TPSDecodedInstr* jump = InstrAt(instrs, next->Next);
        if (!IsCondJump(jump) || !SameVar(jump->A(), compare.A())) return f;
        f.What = TPSCompareFollowers::kLoopStep;
        f.Step = next->BaseOp == opInc ? 1u : ~0u;
        f.Jump = jump;
        f.JumpWhen = jump->BaseOp == opCondGoto;
        return f;
    }
    if (IsCondJump(next) && SameVar(next->A(), compare.A())) {
        f.What = TPSCompareFollowers::kJump;
        f.Jump = next;
        f.JumpWhen = next->BaseOp == opCondGoto;
        return f;
    }
    if (const TPSDecodedInstr* jump = FlagJumpAfter(instrs, next, compare.A())) {
        f.What = TPSCompareFollowers::kFlagJump;
        f.Jump = jump;
        f.JumpWhen = next->Sub == 0;
    }
    return f;
}

}  // namespace script::runtime
