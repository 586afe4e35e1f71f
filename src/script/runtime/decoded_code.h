#pragma once
// The form in which the interpreter runs a script procedure: its byte code
// decoded once into instructions whose operands are already resolved as far
// as the loaded image allows (globals to their addresses, constants to
// values made once, jump distances to instruction numbers).
//
// Decoding never fails and never changes what a run observes. Whatever the
// byte code would have reported while being read (short code, an unknown
// operand kind, a constant of a type without constants, a global that does
// not exist) is kept in the decoded instruction with its error code and the
// position at which it is reported, and is reported only when the
// instruction runs, after the operands before it were resolved as the run
// would have resolved them. Every instruction keeps the byte positions of
// its start and end, so errors, return addresses, paused runs and exception
// frames still speak in positions of the byte code.
//
// A procedure's code is decoded at its first entry, not when the image is
// loaded (TPSExec::GeneralCode): only constants beyond what one value may
// take (a damaged image) fail it, and they then fail that entry.
//
// Positions that no instruction starts at (a jump into the middle of an
// instruction, as a damaged image may hold) are decoded when first entered;
// a position beyond the code is an instruction that reports "Out Of Range".
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "script/compiler/image_format.h"
#include "script/runtime/stack.h"
#include "script/runtime/type_records.h"

namespace script::runtime {

class TPSExec;
class TPSInternalProcRec;
class TPSDecodedCode;

inline constexpr std::uint32_t kNoInstr = 0xFFFFFFFF;

// Where a decoded variable lies.
enum class TPSVarPlace : std::uint8_t {
    Fixed,    // a global or a constant: Value and Type are known
    Stack,    // a local or parameter: run-stack item stack base + Offset
    Missing,  // a global that does not exist: resolving reports FailCode
};

struct TPSDecodedVar {
    TPSVarPlace Place = TPSVarPlace::Missing;
    // The error of a Stack item that is not there, or of a Missing global.
    std::uint8_t FailCode = 0;
    std::int32_t Offset = 0;
    void* Value = nullptr;
    const TPSTypeRec* Type = nullptr;
};

enum class TPSOperandForm : std::uint8_t {
    Variable,       // Var
    Constant,       // Var (Fixed), a value made at decoding
    ElementNumber,  // element Number of Var
    ElementIndex,   // element of Var selected by the index variable Index
    ElementShort,   // Var resolves, then the element word is missing (error 10)
    Broken,         // the operand itself cannot be read: FailCode at End
};

struct TPSDecodedOperand {
    TPSOperandForm Form = TPSOperandForm::Broken;
    std::uint8_t FailCode = 0;
    // Whether a Pointer value stands for what it points at (an element's
    // container is always followed).
    bool Follow = true;
    std::uint32_t Number = 0;
    // Errors of the variable or container are reported at HeadEnd (after
    // the kind byte and the address word), those of the element at End;
    // a Broken operand reports its FailCode at End.
    std::uint32_t HeadEnd = 0;
    std::uint32_t End = 0;
    TPSDecodedVar Var;
    TPSDecodedVar Index;
    // The type the loop saw when it gave the instruction a quick form (of
    // the value, what a followed Pointer points at).
    const TPSTypeRec* Seen = nullptr;
    // Of an element: the container's type (what a Pointer container points
    // at) and the index variable's type.
    const TPSTypeRec* SeenContainer = nullptr;
    const TPSTypeRec* SeenIndex = nullptr;

    bool IsConstant() const { return Form == TPSOperandForm::Constant; }
};
// Most instructions read one or two operands, and every one is kept for as
// long as the image is loaded.
static_assert(sizeof(TPSDecodedOperand) <= 88);

// Instructions that the byte code does not have.
enum TPSPseudoOp : std::uint8_t {
    // Resolves OperandCount operands, then reports FailCode at FailPos.
    popFail = 10,
    // A position beyond the code: error 10 at Pos.
    popOutOfRange = 254,
};

// The forms of the tiers above the general one come from the lists below:
// their enumerators, the label tables of the loops that run them and the
// rules those loops rely on all follow from one entry each, so their order
// cannot drift apart. Each entry is X(enumerator, label, calc, flags):
// label names the handler (quick forms: q_label in quick_loop.cpp; proven
// forms: p_label and, for a twinned form, d_label in proven_loop.cpp),
// calc the 32-bit Calc operator the form computes with a fixed operator
// (kNoCalc for none), flags the form's properties.
inline constexpr std::uint8_t kNoCalc = 0xFF;
// Whether a 32-bit Calc operator can fail on some values (Calc32 in
// operation_bodies.h): every form that runs it must check its result.
constexpr bool Calc32CanFail(std::uint8_t op) { return op == caDiv || op == caMod || op > caXor; }
enum TPSFormFlag : std::uint8_t {
    // A proven form with operands, which has a twin at + kPlainSlotsTwin for
    // when all its operands are plain slots.
    kTwinned = 1,
    // Its computation may fail on some values (a division); it then runs the
    // general form, which reports the error.
    kMayFail = 2,
    // It may be fused into a loop that runs whole in one step
    // (ppForCalc, ppWhileCalc): only forms that cannot fail.
    kFusable = 4,
};

// The 32-bit Calc operators with a form of their own, which cannot fail.
#define VOSTREL_CALC32_FORMS(X, P, flags) \
    X(P##Add32, add32, caAdd, flags)      \
    X(P##Sub32, sub32, caSub, flags)      \
    X(P##Mul32, mul32, caMul, flags)      \
    X(P##And32, and32, caAnd, flags)      \
    X(P##Or32, or32, caOr, flags)         \
    X(P##Xor32, xor32, caXor, flags)      \
    X(P##Shl32, shl32, caShl, flags)      \
    X(P##Shr32, shr32, caShr, flags)

// Forms that the loop gives an instruction once it has run it with plain
// 32-bit integers (or bytes, strings, a Pointer set to a variable): they
// test those types at every run and do what the instruction does without
// the general machinery, or run the instruction itself when the types
// differ. Some take the instructions that follow along (a comparison with
// the jump on its result, the step and the test of a for loop).
#define VOSTREL_QUICK_FORMS(X)                                \
    X(qpAssign32, assign32, kNoCalc, 0)                       \
    X(qpAssignString, assign_string, kNoCalc, 0)              \
    VOSTREL_CALC32_FORMS(X, qp, 0)                            \
    X(qpDivMod32, divmod32, caDiv, kMayFail)                  \
    X(qpCompare32, compare32, kNoCalc, 0)                     \
    X(qpCompareJump32, compare32, kNoCalc, 0)                 \
    X(qpLoopStep32, compare32, kNoCalc, 0)                    \
    X(qpCondByte, cond_byte, kNoCalc, 0)                      \
    X(qpInc32, step32, kNoCalc, 0)                            \
    X(qpDec32, step32, kNoCalc, 0)                            \
    X(qpPushAssign32, push_assign32, kNoCalc, 0)              \
    X(qpAssign8, assign32, kNoCalc, 0)                        \
    X(qpSetFlagByte, set_flag_byte, kNoCalc, 0)               \
    X(qpSetPtr, set_ptr, kNoCalc, 0)                          \
    X(qpCompareFlag32, compare32, kNoCalc, 0)                 \
    X(qpSetFlagJump, set_flag_byte, kNoCalc, 0)

// Forms that a proven code (shape_analysis.h) gives the instructions whose
// operands lie in slots of types known at every run. Each checks only what
// may change under it (a Pointer's target, an element's index, a divisor,
// room on the run stack) and runs the general form when that fails. Those
// that take the instructions after them along keep the byte positions of
// all of them: a jump into the middle runs the instructions there.
#define VOSTREL_PROVEN_TWINNED_FORMS(X)                                                      \
    X(ppAssign1, assign1, kNoCalc, kTwinned)                                                 \
    X(ppAssign2, assign2, kNoCalc, kTwinned)                                                 \
    X(ppAssign4, assign4, kNoCalc, kTwinned)                                                 \
    X(ppAssign8, assign8, kNoCalc, kTwinned)                                                 \
    X(ppAssignString, assign_string, kNoCalc, kTwinned)                                      \
    VOSTREL_CALC32_FORMS(X, pp, kTwinned | kFusable)                                         \
    X(ppDivMod32, divmod32, caDiv, kTwinned | kMayFail)                                      \
    X(ppCompare32, compare32, kNoCalc, kTwinned)                                             \
    /* and the CondGoto or CondNotGoto on its result */                                      \
    X(ppCompareJump32, compare_jump32, kNoCalc, kTwinned)                                    \
    /* and the Inc or Dec of its left operand, and the jump */                               \
    X(ppLoopStep32, loop_step32, kNoCalc, kTwinned)                                          \
    /* and SetFlag on its result, the Pop of it, FlagGoto */                                 \
    X(ppCompareFlag32, compare_flag32, kNoCalc, kTwinned)                                    \
    /* PushType, Compare into the new item (perhaps through a second one), SetFlag, Pop, */ \
    /* FlagGoto: nothing pushed */                                                           \
    X(ppIf32, if32, kNoCalc, kTwinned)                                                       \
    X(ppCondByte, cond_byte, kNoCalc, kTwinned)                                              \
    X(ppInc32, inc32, kNoCalc, kTwinned)                                                     \
    X(ppDec32, dec32, kNoCalc, kTwinned)                                                     \
    X(ppPushVar, push_var, kNoCalc, kTwinned)                                                \
    X(ppSetPtr, set_ptr, kNoCalc, kTwinned)                                                  \
    /* PushType t; Assign t, B; Calc Sub t, C; Calc Sub2 A, t; Pop */                        \
    X(ppTempCalc, temp_calc, kNoCalc, kTwinned | kMayFail)                                   \
    /* PushType t; Assign t, B; Calc Sub t, C; Assign A, t; Pop */                           \
    X(ppTempAssign, temp_assign, kNoCalc, kTwinned | kMayFail)                               \
    /* PushType t; Assign t, B; Calc Sub t, C */                                             \
    X(ppPushCalc, push_calc, kNoCalc, kTwinned | kMayFail)                                   \
    /* PushType t; Assign t, B */                                                            \
    X(ppPushAssign, push_assign, kNoCalc, kTwinned)                                          \
    /* A for loop's step to a bound computed at every step: PushType t; Assign t, B; */     \
    /* Calc Sub t, C; Compare c, D, t (into A); Pop; Inc or Dec D; the jump on A. */         \
    X(ppBoundStep32, bound_step32, kNoCalc, kTwinned | kMayFail)                             \
    /* An element of the array A at a computed index gets a 32-bit value: PushType p; */    \
    /* SetPtr p, A; PushType u; PushType s; Assign s, B; Calc Sub s, C; Assign u, s; */     \
    /* Pop; SetPtr p, p[u]; Pop; Assign p, D; Pop. */                                        \
    X(ppElementStore32, element_store32, kNoCalc, kTwinned | kMayFail)                       \
    /* A byte (Char, Byte) widened into a 32-bit integer: Assign A, B */                     \
    X(ppAssignWiden8, assign_widen8, kNoCalc, kTwinned)                                      \
    /* A character of the string D read into the Char A, at an index computed as S[i] */     \
    /* compiles it: PushType u; Assign u, B; (Calc Sub u, C;) PushType p; SetPtr p, D; */    \
    /* PushVar r, A; Call StrGet; Pop; Pop; Pop. An index out of range runs the */           \
    /* general form, which reports it. */                                                    \
    X(ppStringElement, string_element, kNoCalc, kTwinned | kMayFail)                         \
    /* The length of the string B into the 32-bit A, as Length(S) compiles it: */            \
    /* PushType t; Assign t, B; PushVar r, A; Call Length; Pop; Pop. */                      \
    X(ppStringLength, string_length, kNoCalc, kTwinned)                                      \
    /* Copy(B, C, D) into the string A, as it compiles: PushType n; Assign n, D; */          \
    /* PushType x; Assign x, C; PushType t; Assign t, B; PushVar r, A; Call Copy; */         \
    /* Pop; Pop; Pop; Pop. */                                                                \
    X(ppStringCopy, string_copy, kNoCalc, kTwinned)                                          \
    /* The length of the string on top of the stack (a result passed on) into the */         \
    /* 32-bit A, and that string popped: PushVar r, A; Call Length; Pop; Pop. */             \
    X(ppTopLength, top_length, kNoCalc, kTwinned)                                            \
    /* IntToStr of the Int64 on top of the stack (an argument computed) into the */          \
    /* String A, and that Int64 popped: PushVar r, A; Call IntToStr; Pop; Pop. */            \
    X(ppTopIntToStr, top_int_to_str, kNoCalc, kTwinned)                                      \
    /* A 32-bit integer widened into an Int64 (signed by Signs bit 0): Assign A, B */        \
    X(ppAssignWiden32, assign_widen32, kNoCalc, kTwinned)
#define VOSTREL_PROVEN_SINGLE_FORMS(X)                                                       \
    X(ppPushPlain, push_plain, kNoCalc, 0)                                                   \
    X(ppPopPlain, pop_plain, kNoCalc, 0)                                                     \
    X(ppPop2Plain, pop2_plain, kNoCalc, 0)                                                   \
    /* Pop of a String, released */                                                          \
    X(ppPopString, pop_string, kNoCalc, 0)                                                   \
    X(ppCall, call, kNoCalc, 0)                                                              \
    X(ppRet, ret, kNoCalc, 0)                                                                \
    /* Push of a value whose type is a Pointer target's expected one */                      \
    X(ppPushChecked, push_checked, kNoCalc, 0)                                               \
    /* PopExceptionHandler of the frame the proof expects on top */                          \
    X(ppPopFrame, pop_frame, kNoCalc, 0)                                                     \
    /* Loops of one 32-bit Calc on plain slots run whole in one step: the Calc with the */  \
    /* for loop's step after it (at QuickNext, which goes on at the Calc again), or a */    \
    /* while loop's comparison with the Calc after it (at QuickNext, which goes on at */    \
    /* the comparison again). */                                                             \
    X(ppForCalc, for_calc, kNoCalc, 0)                                                       \
    X(ppWhileCalc, while_calc, kNoCalc, 0)
#define VOSTREL_PROVEN_FORMS(X) VOSTREL_PROVEN_TWINNED_FORMS(X) VOSTREL_PROVEN_SINGLE_FORMS(X)

#define VOSTREL_FORM_ENUMERATOR(name, label, calc, flags) name,
enum TPSQuickOp : std::uint8_t {
    qpBeforeFirst = 99,
    VOSTREL_QUICK_FORMS(VOSTREL_FORM_ENUMERATOR)
    qpAfterLast
};
enum TPSProvenOp : std::uint8_t {
    ppBeforeFirst = 129,
    VOSTREL_PROVEN_FORMS(VOSTREL_FORM_ENUMERATOR)
    ppAfterLast
};
#undef VOSTREL_FORM_ENUMERATOR

// A form's entry in its list.
struct TPSFormInfo {
    std::uint8_t Op;
    std::uint8_t Calc;
    std::uint8_t Flags;
};
#define VOSTREL_FORM_INFO(name, label, calc, flags) TPSFormInfo{name, calc, flags},
inline constexpr TPSFormInfo kQuickForms[] = {VOSTREL_QUICK_FORMS(VOSTREL_FORM_INFO)};
inline constexpr TPSFormInfo kProvenForms[] = {VOSTREL_PROVEN_FORMS(VOSTREL_FORM_INFO)};
inline constexpr TPSFormInfo kTwinnedForms[] = {VOSTREL_PROVEN_TWINNED_FORMS(VOSTREL_FORM_INFO)};
#undef VOSTREL_FORM_INFO

inline constexpr std::uint8_t qpFirst = qpBeforeFirst + 1;
inline constexpr std::uint8_t ppLastProven = ppAfterLast - 1;
// The twinned forms come first in the list.
inline constexpr std::uint8_t ppLastTwinned = ppAssign1 + std::size(kTwinnedForms) - 1;
inline constexpr std::uint8_t kPlainSlotsTwin = ppLastProven - ppAssign1 + 1;

// The properties of a proven form (0 for an opcode that is none).
constexpr std::uint8_t ProvenFlags(std::uint8_t op) {
    return op >= ppAssign1 && op <= ppLastProven ? kProvenForms[op - ppAssign1].Flags : 0;
}
// The form of a list that computes a 32-bit Calc operator (division and
// remainder share one); 0 when it has none. An operator byte beyond the
// operators (damaged code) has none: kNoCalc, which marks the forms that
// compute nothing, is one such byte.
template <std::size_t N>
constexpr std::uint8_t FormOfCalc(const TPSFormInfo (&forms)[N], std::uint8_t op) {
    if (op > caXor) return 0;
    const std::uint8_t calc = op == caMod ? std::uint8_t{caDiv} : op;
    for (const TPSFormInfo& f : forms)
        if (f.Calc == calc) return f.Op;
    return 0;
}

namespace form_list_checks {
template <std::size_t N>
constexpr bool InOrder(const TPSFormInfo (&forms)[N], std::uint8_t first) {
    for (std::size_t i = 0; i < N; ++i)
        if (forms[i].Op != first + i) return false;
    return true;
}
constexpr bool TwinnedFirst() {
    for (const TPSFormInfo& f : kProvenForms)
        if (((f.Flags & kTwinned) != 0) != (f.Op <= ppLastTwinned)) return false;
    return true;
}
// Every operator has a form, and no other operator byte has one.
template <std::size_t N>
constexpr bool OnlyOperatorsHaveForms(const TPSFormInfo (&forms)[N]) {
    for (unsigned op = 0; op < 256; ++op)
        if ((FormOfCalc(forms, static_cast<std::uint8_t>(op)) != 0) != (op <= caXor)) return false;
    return true;
}
// A fused loop runs its Calc without handing back: only a form that cannot
// fail may be fused, and a Calc of it is one of the operators that cannot.
template <std::size_t N>
constexpr bool FusedCannotFail(const TPSFormInfo (&forms)[N]) {
    for (const TPSFormInfo& f : forms) {
        if (f.Calc != kNoCalc && ((f.Flags & kMayFail) != 0) != Calc32CanFail(f.Calc)) return false;
        if ((f.Flags & kFusable) != 0 && ((f.Flags & kMayFail) != 0 || f.Calc == kNoCalc)) return false;
    }
    return true;
}
}  // namespace form_list_checks
static_assert(form_list_checks::InOrder(kQuickForms, qpFirst));
static_assert(form_list_checks::InOrder(kProvenForms, ppAssign1));
static_assert(form_list_checks::TwinnedFirst());
static_assert(form_list_checks::OnlyOperatorsHaveForms(kQuickForms));
static_assert(form_list_checks::OnlyOperatorsHaveForms(kProvenForms));
static_assert(form_list_checks::FusedCannotFail(kQuickForms));
static_assert(form_list_checks::FusedCannotFail(kProvenForms));
static_assert(std::uint8_t{qpAfterLast} <= std::uint8_t{ppAssign1}, "the quick and proven opcodes overlap");
static_assert(qpFirst > opPop2Goto && qpFirst > popFail, "the forms overlap the byte code's opcodes");
static_assert(ppLastTwinned + kPlainSlotsTwin < popOutOfRange);

// What a proven push goes on to at once (TPSDecodedInstr::Chain): the
// pushes of a call's arguments and the call.
enum TPSChain : std::uint8_t { kChainNone, kChainCall, kChainPushVar };

// Where a quick or proven form goes on, as a hop: the byte offset of the
// instruction in its code's list, with the ticks passed on the way (backward
// jumps and calls of the instructions it takes along) in the low bits.
inline constexpr std::uint32_t kHopTicks = 63;
inline constexpr std::uint32_t kNoHop = 0xFFFFFFFF;

// A proven operand's place, in one word. The frame base is the address of
// the running procedure's return-address item (where it would lie, at the
// top level). A global or a constant is its address as it is; a slot of the
// frame is its byte distance from the frame base less kFrameSlotBias. The
// distances are small and the addresses below 2^62, so the sign of the word
// tells which it is, and the value lies at
// ((frame base + kFrameSlotBias) & the sign spread over the word) + Word:
// one word an operand, and no table to look the kind up in on the hot path.
static_assert(sizeof(std::intptr_t) == 8, "a slot word needs 64-bit addresses");
inline constexpr std::intptr_t kFrameSlotBias = std::intptr_t{1} << 62;
struct TPSSlotRef {
    std::intptr_t Word = 0;

    static TPSSlotRef Fixed(const void* address) { return {reinterpret_cast<std::intptr_t>(address)}; }
    static TPSSlotRef FrameSlot(std::intptr_t distance) { return {distance - kFrameSlotBias}; }
    // The same place moved on by bytes (an element at a fixed offset).
    void MoveBy(std::intptr_t bytes) { Word += bytes; }
};

// How a proven operand whose value does not lie in its slot is reached.
enum TPSProvenAccessKind : std::uint8_t {
    paSlot,          // the value lies at the slot
    paTarget,        // the slot holds a Pointer whose target is the value
    paArrayElement,  // an element of the dynamic array in the slot
    paStaticElement, // an element of the static array in the slot
};

struct TPSProvenAccess {
    std::uint8_t Kind = paSlot;
    // Of an element: whether the slot holds a Pointer to the container.
    bool ThroughPointer = false;
    bool ByIndexVar = false;
    // What a Pointer in the slot must point at (its target's type, or the
    // container's); another target leaves the step to the general path.
    const TPSTypeRec* Expect = nullptr;
    TPSSlotRef Index;  // the index variable, a 32-bit integer
    std::uint32_t Number = 0;
    std::uint32_t Count = 0;  // of a static array
    std::uint32_t ElementSize = 0;
};

inline constexpr std::uint32_t kNoAccess = 0xFFFFFFFF;

// One instruction as the loops run it. It is copied for every proven form
// of its code, so it holds only what a run reads: what is read once or
// seldom lies in its code's tables (a try frame's block offsets:
// TPSDecodedCode::FrameOffsets). Its fields are laid out by size, the
// general loop's in the first 64 bytes.
struct alignas(64) TPSDecodedInstr {
    std::uint8_t Op = popFail;      // what the loop runs: BaseOp, or a quick or proven form of it
    std::uint8_t BaseOp = popFail;  // the instruction as decoded
    std::uint8_t Sub = 0;           // Calc/Compare operator, pop kind, SetFlag's invert byte
    std::uint8_t Sub2 = 0;          // of a proven form: a second operator, or what its pops check
    // Backward jumps and calls that this jump passes (to Target): 1 when it
    // jumps back.
    std::uint8_t JumpTicks = 0;
    bool QuickJumpWhen = false;
    std::uint8_t Reach = 0;  // bit n: proven operand n is not a plain slot
    std::uint8_t Signs = 0;  // of a proven form: bit n set when its n-th 32-bit operation is signed
    // Of a proven comparison: the results it gives true for, bit 0 less,
    // bit 1 equal, bit 2 greater; and what makes a signed comparison an
    // unsigned one (Flip: 0x80000000 flipped in both operands, else 0).
    std::uint8_t Relation = 0;
    // Of a proven push: the proven form of the next instruction, taken at
    // once (kChainNone: dispatched).
    std::uint8_t Chain = 0;
    std::uint8_t OperandCount = 0;  // operands that popFail resolves first
    std::uint8_t FailCode = 0;
    // Of a quick or proven form: where it goes on (a Goto that follows is
    // taken at once), and for the comparisons that jump, where the jump
    // goes (each a hop: HopTo), on which result it is taken, and the step
    // of a for loop's counter (of a proven PopExceptionHandler: the number
    // of the instruction that opened the frame the proof expects on top).
    std::uint32_t QuickNext = kNoHop;
    std::uint32_t QuickTarget = kNoHop;
    std::uint32_t QuickStep = 0;
    std::uint32_t Size = 0;  // of a proven form: the bytes of items it pushes or pops
    std::uint32_t Flip = 0;
    std::uint32_t Pos = 0;            // the opcode byte
    std::uint32_t End = 0;            // the byte after the whole instruction
    std::uint32_t FailPos = 0;        // where popFail reports
    std::uint32_t Next = kNoInstr;    // the instruction that follows
    // A jump's instruction (while its code is decoded, until LinkTargets:
    // the position it jumps to).
    std::uint32_t Target = kNoInstr;
    // Call's procedure number, PushType's type number; PushExceptionHandler:
    // its entry in its code's table of frame offsets.
    std::uint32_t Number = 0;
    // Of a proven form: where the ways to reach its operands that do not lie
    // in their slots begin in its code's table (TPSDecodedCode::AccessOf);
    // kNoAccess when all do.
    std::uint32_t Access = kNoAccess;
    std::uint8_t OpsHeld = 0;
    TPSSlotRef PA;
    TPSSlotRef PB;
    TPSSlotRef PC;
    TPSSlotRef PD;
    const TPSTypeRec* Type = nullptr;  // PushType's type, PushVar's Pointer type
    // Of a proven PushVar or SetPtr: the type of the value it points at.
    const TPSTypeRec* Type2 = nullptr;
    // Of a proven Call: the form its callee runs in, found at its first run
    // (nil until then).
    TPSDecodedCode* Callee = nullptr;
    // The operands it reads (OpsHeld of them), kept beside the list in its
    // code's table: most instructions have fewer than three, and the record
    // stays small. A missing one reads as an operand that is not there.
    TPSDecodedOperand* Ops = nullptr;

    const TPSDecodedOperand& A() const { return Operand(0); }
    const TPSDecodedOperand& B() const { return Operand(1); }
    const TPSDecodedOperand& C() const { return Operand(2); }
    const TPSDecodedOperand& Operand(unsigned n) const { return n < OpsHeld ? Ops[n] : kNoOperand; }
    // An operand the instruction has, to be changed (a quick form notes the
    // types it saw in it).
    TPSDecodedOperand& Held(unsigned n) { return Ops[n]; }

    static const TPSDecodedOperand kNoOperand;
};

// Every copy of a code holds one of these an instruction: two cache lines.
static_assert(sizeof(TPSDecodedInstr) == 128);
static_assert(sizeof(TPSDecodedInstr) % (kHopTicks + 1) == 0);
// The most instructions a code's list holds: a hop is a 32-bit offset.
inline constexpr std::uint32_t kMaxDecodedInstrs = 0xFFFFFFFFu / sizeof(TPSDecodedInstr) - 1;

constexpr std::uint32_t HopTo(std::uint32_t instr, std::uint32_t ticks) {
    return instr * static_cast<std::uint32_t>(sizeof(TPSDecodedInstr)) + (ticks < kHopTicks ? ticks : kHopTicks);
}
constexpr std::uint32_t HopInstr(std::uint32_t hop) {
    return (hop & ~kHopTicks) / static_cast<std::uint32_t>(sizeof(TPSDecodedInstr));
}
constexpr std::uint32_t HopTicks(std::uint32_t hop) { return hop & kHopTicks; }

// Whether a PopExceptionHandler that ends at pos leaves its try statement
// early (a Break or Continue): the pops that end its blocks are followed by
// the next block (starts: the finally, except and second finally offsets)
// or by the end of the statement.
inline bool LeavesTryEarly(const std::uint32_t (&starts)[3], std::uint32_t end_of_block, std::uint32_t pos) {
    if (pos == end_of_block) return false;
    for (const std::uint32_t start : starts)
        if (pos == start) return false;
    return true;
}

// Decodes the operand at pos of code and moves pos past what was read. A
// constant is made on constants (removed again when it cannot be read).
// False when the instruction cannot go on: the operand is Broken or
// ElementShort (it reports its error when resolved). Throws EPSOutOfMemory
// when constants cannot take the value.
bool DecodeOperand(const TPSExec& exec, const std::uint8_t* code, std::uint32_t length, std::uint32_t& pos,
                   TPSStack& constants, TPSDecodedOperand& out);

// The decoded code of one script procedure. It refers to the executor's
// types and globals, so it lives no longer than the loaded image.
class TPSDecodedCode {
public:
    TPSDecodedCode(const TPSExec& exec, const std::vector<std::uint8_t>& code);
    // A copy of a general form's instructions, to be given proven forms for
    // one shape of the stack at entry (shape_analysis.h). It shares the
    // general form's constants and operands, so it lives no longer than
    // that.
    struct CopyOf {
        TPSDecodedCode& General;
    };
    explicit TPSDecodedCode(CopyOf copy);
    // A proven form that takes over a general form's instructions once the
    // proof has given them their forms in place: for a general form that
    // has not run yet (its list holds no quick forms), the first of its
    // proven forms. The general form then runs on that list, each
    // instruction by its decoded operation (BaseOp), and gives no quick
    // forms (RunsSharedList): one list for both instead of two. The proof
    // changes none of what the general handlers read.
    struct TakeFrom {
        TPSDecodedCode& General;
    };
    explicit TPSDecodedCode(TakeFrom take);
    TPSDecodedCode(const TPSDecodedCode&) = delete;
    TPSDecodedCode& operator=(const TPSDecodedCode&) = delete;

    // The general form of the same code (itself for a general form): where
    // a run that cannot go on in a proven form goes on.
    TPSDecodedCode* General() const { return general_; }
    bool IsProven() const { return general_ != this; }
    // Whether this general form runs on the list of its first proven form
    // (TakeFrom): its loop must run every instruction by BaseOp.
    bool RunsSharedList() const { return list_ != this; }
    // Whether runs of this code may give its instructions quick forms: only
    // a general form with a list of its own (a proven form shares its
    // general form's operands, in which a quick form notes the types it
    // saw).
    bool GivesQuickForms() const { return general_ == this && list_ == this; }
    // How many items below the return address the code's operands name
    // (its parameters, as far as they are used).
    std::uint32_t ParamSlots() const { return param_slots_; }
    // Whether an instruction starts at a code position (none is decoded).
    bool HasInstrAt(std::uint32_t pos) const { return pos < length_ && list_->Find(pos) != kNoInstr; }
    std::uint32_t CodeLength() const { return length_; }
    const std::uint8_t* CodeBytes() const { return code_; }

    // The instruction that starts at a code position, decoding from there
    // when none does yet. Throws EPSOutOfMemory when the constants made for
    // this code would exceed the value cap (a damaged image only).
    std::uint32_t EntryAt(std::uint32_t pos) {
        TPSDecodedCode& list = *list_;
        // Every call enters at 0, the first instruction decoded.
        if (pos == 0 && length_ != 0 && !list.instrs_.empty()) return 0;
        const std::uint32_t found = list.Find(pos);
        return found != kNoInstr ? found : list.DecodeEntry(pos);
    }

    // Instructions are appended as new positions are entered: pointers into
    // the list are valid until the next EntryAt.
    const TPSDecodedInstr* Instrs() const { return list_->instrs_.data(); }
    TPSDecodedInstr* Instrs() { return list_->instrs_.data(); }
    std::uint32_t InstrCount() const { return static_cast<std::uint32_t>(list_->instrs_.size()); }
    // How operand n (0 to 3) of a proven form is reached when it does not lie
    // in its slot (its bit in Reach is set), or an element store's array;
    // AccessToSet makes room for the four when the proof first gives one.
    const TPSProvenAccess& AccessOf(const TPSDecodedInstr& in, int n) const { return accesses_[in.Access + n]; }
    TPSProvenAccess& AccessToSet(TPSDecodedInstr& in, int n) {
        if (in.Access == kNoAccess) {
            in.Access = static_cast<std::uint32_t>(accesses_.size());
            accesses_.resize(accesses_.size() + 4);
        }
        return accesses_[in.Access + n];
    }
    // The absolute positions of a PushExceptionHandler's blocks (finally,
    // except, second finally, end of the statement), or kNoOffset.
    using FrameOffsetList = std::array<std::uint32_t, 4>;
    const FrameOffsetList& FrameOffsets(const TPSDecodedInstr& in) const {
        return list_->frame_offsets_[in.Number];
    }
    // The bytes its tables hold.
    std::size_t HeldBytes() const {
        const bool own_starts = !IsProven() || starts_ != general_->starts_;
        return instrs_.capacity() * sizeof(TPSDecodedInstr) + (own_starts ? starts_->capacity() * sizeof(Start) : 0) +
               accesses_.capacity() * sizeof(TPSProvenAccess) + operand_count_ * sizeof(TPSDecodedOperand) +
               frame_offsets_.capacity() * sizeof(FrameOffsetList);
    }

private:
    // A form of a general code, with no instructions yet.
    struct FormOf {
        TPSDecodedCode& General;
    };
    explicit TPSDecodedCode(FormOf form);
    // Where an instruction starts, or the instruction that reports a
    // position beyond the code.
    struct Start {
        std::uint32_t Pos;
        std::uint32_t Instr;
    };
    // The instruction at pos (kNoInstr when none starts there).
    std::uint32_t Find(std::uint32_t pos) const {
        const std::vector<Start>& starts = *starts_;
        const auto at = std::lower_bound(starts.begin(), starts.end(), pos,
                                         [](const Start& s, std::uint32_t p) { return s.Pos < p; });
        return at != starts.end() && at->Pos == pos ? at->Instr : kNoInstr;
    }
    std::uint32_t DecodeEntry(std::uint32_t pos);
    // Decodes instructions from pos on until one does not go on to the
    // next, or the next is decoded already; returns the first one's index.
    std::uint32_t DecodeRun(std::uint32_t pos);
    // Decodes the instruction at pos into in, its operands into operands
    // (their count in in.OpsHeld).
    void DecodeInstr(std::uint32_t pos, TPSDecodedInstr& in, TPSDecodedOperand (&operands)[3]);
    // Keeps an instruction's operands in the table and points it at them.
    void HoldOperands(TPSDecodedInstr& in, const TPSDecodedOperand* operands);
    bool FallsThrough(const TPSDecodedInstr& in) const;
    std::uint32_t OutOfRangeAt(std::uint32_t pos);
    // Links every jump and frame of instructions from first on.
    void LinkTargets(std::uint32_t first);

    const TPSExec& exec_;
    TPSDecodedCode* general_;
    // The code whose instruction list (with its table of starts and frame
    // offsets) this one runs on: itself, or for a general form that gave
    // its list away (TakeFrom), that proven form, which lives no longer.
    TPSDecodedCode* list_ = this;
    const std::uint8_t* code_;
    std::uint32_t length_;
    std::uint32_t param_slots_ = 0;
    std::vector<TPSDecodedInstr> instrs_;
    // The starts of the instructions and the positions beyond the code
    // entered, by position: a few bytes an instruction, where a table of
    // every code byte would take four bytes a byte for as long as the
    // image is loaded.
    // A copy shares its general code's table until it enters a position
    // that one had not (its instructions are numbered alike until then).
    std::shared_ptr<const std::vector<Start>> starts_ = std::make_shared<const std::vector<Start>>();
    // While instructions are decoded: the instruction of every code
    // position (kNoInstr where none starts), folded into starts_ after.
    std::vector<std::uint32_t> index_of_pos_;
    std::vector<TPSProvenAccess> accesses_;
    std::vector<FrameOffsetList> frame_offsets_;
    // The instructions' operands, in blocks that never move: one for all the
    // instructions decoded with the code (or copied), one for each decoded
    // later. While the code is first decoded they are gathered in staged_.
    std::vector<std::unique_ptr<TPSDecodedOperand[]>> operand_blocks_;
    std::vector<TPSDecodedOperand> staged_;
    std::vector<std::uint32_t> staged_at_;
    bool staging_ = false;
    std::size_t operand_count_ = 0;
    // Moves the staged operands into one block.
    void PlaceStaged();
    // The constants of the code; items never move.
    TPSStack constants_;
};

}  // namespace script::runtime
