// The loop of the proven forms (shape_analysis.h): it runs the instructions
// that have proven forms one after another, and hands an instruction back
// to the general loop (interpreter.cpp) when it has none, or when the checks
// of its form fail and its general form must run, or for a tick, for
// attention, for an error or to leave the proven code.
//
// It is a function of its own so that the compiler keeps its few values
// (pc, the instruction list, the frame base) in registers: the general loop
// has too many.
#include <cstddef>
#include <cstring>
#include <iterator>

#include "script/runtime/exec.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/numbers.h"
#include "script/runtime/operand_resolution.h"
#include "script/runtime/proven_steps.h"
#include "script/runtime/value_layout.h"

// Each handler keeps its own dispatch jump, which the processor predicts
// by the handler it leaves: GCC would otherwise merge the jumps into a few
// shared ones.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-gcse", "no-crossjumping")
#endif

namespace script::runtime {

std::byte* ProvenElement(std::byte* at, const TPSProvenAccess& x, std::byte* lb) {
    if (x.ThroughPointer) {
        at = PointerTarget(at, x.Expect);
        if (at == nullptr) return nullptr;
    }
    return ElementAt(at, x, x.ByIndexVar ? LoadAs<std::uint32_t>(ProvenSlot(x.Index, lb)) : x.Number);
}

// On the hot path of every proven call: always inline.
inline void* TPSExec::EnterProvenCall(TPSDecodedInstr& call) {
    TPSProcRec* proc = procs_[call.Number].get();
    TPSDecodedCode* code = call.Callee;
    if (code == nullptr) {
        // The items below are of the types the proof knows: the form found
        // now serves every run of this call.
        code = CodeForEntry(proc, stack_.Count());
        call.Callee = code;
    }
    // A general form on its proven form's list runs in the general loop,
    // which enters it.
    if (code->RunsSharedList()) return nullptr;
    void* item = stack_.PushUnset(return_address_type_.get(), ReturnAddressItemBytes());
    if (item != nullptr) EnterFrame(item, proc, code, call.End, call.Next);
    return item;
}

inline bool TPSExec::LeaveProvenFrame(PSReturnAddress& back) {
    // Without a try frame of its own to run, the return goes back to the
    // caller's form at once.
    if (!exception_frames_.empty()) {
        const TPSExceptionHandler& f = *exception_frames_.back();
        if (!f.Barrier && (f.BasePtr == stack_base_ || (f.BasePtr > stack_base_ && f.BasePtr != -1)))
            return false;
    }
    const std::uint32_t items = stack_.Count();
    if (stack_base_ < 0 || items <= static_cast<std::uint32_t>(stack_base_)) return false;
    if (items != static_cast<std::uint32_t>(stack_base_) + 1)
        stack_.PopTo(static_cast<std::uint32_t>(stack_base_) + 1);
    void* top = stack_.Top();
    if (!IsReturnAddressItem(top)) return false;
    back = LoadAs<PSReturnAddress>(ValueOfTypedValue(top));
    if (back.Proc == nullptr || back.Code == nullptr || back.Code->RunsSharedList()) return false;
    stack_.PopPlain();
    ReturnInto(back);
    return true;
}

// A push goes on: at once to the next proven form it knows (a call's
// argument and the call: no host code ran, nothing asks for attention), else
// along its hop.
#define VOSTREL_CHAIN(in)                                               \
    do {                                                                \
        if ((in).Chain == kChainCall) {                                 \
            pc = (in).QuickNext;                                        \
            goto p_call;                                                \
        }                                                               \
        if ((in).Chain == kChainPushVar) {                              \
            pc = (in).QuickNext;                                        \
            goto d_push_var;                                            \
        }                                                               \
        VOSTREL_HOP((in).QuickNext);                                    \
    } while (false)
#define VOSTREL_NEXT() VOSTREL_FORM_NEXT(ppAssign1)
// Goes on where a fused loop stopped.
#define VOSTREL_FUSED_END(stop)                                  \
    do {                                                         \
        pc = (stop).Pc;                                          \
        switch ((stop).End) {                                    \
            case FusedEnd::Hop: VOSTREL_HOP(pc);                 \
            case FusedEnd::General: goto general_form;           \
            case FusedEnd::Tick: goto tick;                      \
            case FusedEnd::Attention: goto to_main;              \
        }                                                        \
    } while (false)
TPSExec::ProvenExit TPSExec::RunProven(std::size_t pc) {
    // The forms, from their list (decoded_code.h): every form, then the
    // twins for plain slots of the twinned ones, which come first.
#define VOSTREL_FORM_LABEL(name, label, calc, flags) &&p_##label,
#define VOSTREL_TWIN_LABEL(name, label, calc, flags) &&d_##label,
    static const void* const forms[] = {
        VOSTREL_PROVEN_FORMS(VOSTREL_FORM_LABEL)
        VOSTREL_PROVEN_TWINNED_FORMS(VOSTREL_TWIN_LABEL)
    };
#undef VOSTREL_FORM_LABEL
#undef VOSTREL_TWIN_LABEL
    static_assert(std::size(forms) == ppLastTwinned + kPlainSlotsTwin - ppAssign1 + 1);

    TPSDecodedInstr* instrs = run_instrs_;
    std::byte* lb = run_frame_;
    std::uint8_t reason = pxNext;

    VOSTREL_NEXT();

    // ---------------------------------------------------- proven forms

    // A proven operand's value (bit: its bit in Reach); a check that
    // fails goes to the general form. The forms come twice: with
    // operands that may need a check, and (a "d_" label) with all
    // operands plain slots.
#define VOSTREL_PROVEN(name, bit, P, X, general)             \
    std::byte* name = ProvenSlot(in.P, lb);                  \
    if ((in.Reach & (bit)) != 0) [[unlikely]] {              \
        name = ProvenReach(name, decoded_->AccessOf(in, X), lb); \
        if (name == nullptr) goto general;                   \
    }
#define VOSTREL_DIRECT(name, bit, P, X, general) std::byte* name = ProvenSlot(in.P, lb);

    // An assignment of s to d: the statement that copies it.
#define VOSTREL_P_ASSIGN(label, FETCH, ...)   \
    label : {                                 \
        TPSDecodedInstr& in = VOSTREL_IN(pc); \
        FETCH(d, 1, PA, 0, general_form)     \
        FETCH(s, 2, PB, 1, general_form)     \
        __VA_ARGS__;                          \
        VOSTREL_HOP(in.QuickNext);            \
    }
    // A Calc whose operator the form fixes (its check folds away for the
    // operators that cannot fail).
#define VOSTREL_P_CALC(label, FETCH, op)                                             \
    label : {                                                                        \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                        \
        FETCH(d, 1, PA, 0, general_form)                                            \
        FETCH(s, 2, PB, 1, general_form)                                            \
        std::uint32_t r = 0;                                                         \
        if (!Calc32(op, LoadAs<std::uint32_t>(d), LoadAs<std::uint32_t>(s), false, r)) \
            goto general_form;                                                       \
        StoreAs(d, r);                                                               \
        VOSTREL_HOP(in.QuickNext);                                                   \
    }
#define VOSTREL_P_DIVMOD(label, FETCH)                                          \
    label : {                                                                   \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                   \
        FETCH(d, 1, PA, 0, general_form)                                       \
        FETCH(s, 2, PB, 1, general_form)                                       \
        std::uint32_t r = 0;                                                    \
        if (!Calc32(in.Sub, LoadAs<std::uint32_t>(d), LoadAs<std::uint32_t>(s), \
                    (in.Signs & 1) != 0, r))                                    \
            goto general_form;                                                  \
        StoreAs(d, r);                                                          \
        VOSTREL_HOP(in.QuickNext);                                              \
    }
    // A comparison into a byte; perhaps the jump on its result, and before
    // it a for loop's step of its counter (the left operand).
#define VOSTREL_P_COMPARE(label, FETCH, jumps, steps)                           \
    label : {                                                                   \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                   \
        FETCH(d, 1, PA, 0, general_form)                                       \
        FETCH(l, 2, PB, 1, general_form)                                       \
        FETCH(r, 4, PC, 2, general_form)                                       \
        const bool result = Related(in, l, r);                                  \
        StoreAs(d, static_cast<std::uint8_t>(result));                          \
        if (steps) StoreAs(l, LoadAs<std::uint32_t>(l) + in.QuickStep);         \
        if ((jumps) && result == in.QuickJumpWhen) VOSTREL_HOP(in.QuickTarget); \
        VOSTREL_HOP(in.QuickNext);                                              \
    }
    // An if statement's condition: the result goes into the flag; its
    // temporary, the top item, goes with the Pop that follows, or was never
    // pushed (then the general form's pushes would have found room).
#define VOSTREL_P_FLAG(label, FETCH, pushed)                                               \
    label : {                                                                              \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                              \
        if (!(pushed) && stack_.Length() + in.Size > stack_.MaxBytes()) goto general_form; \
        FETCH(l, 2, PB, 1, general_form)                                                  \
        FETCH(r, 4, PC, 2, general_form)                                                  \
        jump_flag_ = Related(in, l, r) == in.QuickJumpWhen;                                \
        if (pushed) stack_.PopPlain();                                                     \
        if (jump_flag_) VOSTREL_HOP(in.QuickTarget);                                       \
        VOSTREL_HOP(in.QuickNext);                                                         \
    }
#define VOSTREL_P_COND_BYTE(label, FETCH)                                                    \
    label : {                                                                                \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                                \
        FETCH(v, 1, PA, 0, general_form)                                                    \
        if ((LoadAs<std::uint8_t>(v) != 0) == in.QuickJumpWhen) VOSTREL_HOP(in.QuickTarget); \
        VOSTREL_HOP(in.QuickNext);                                                           \
    }
#define VOSTREL_P_STEP(label, FETCH, delta)             \
    label : {                                           \
        TPSDecodedInstr& in = VOSTREL_IN(pc);           \
        FETCH(v, 1, PA, 0, general_form)               \
        StoreAs(v, LoadAs<std::uint32_t>(v) + (delta)); \
        VOSTREL_HOP(in.QuickNext);                      \
    }
    // A Pointer passes on what it points at.
#define VOSTREL_P_PUSH_VAR(label, FETCH)                        \
    label : {                                                   \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                   \
        FETCH(v, 2, PB, 1, general_form)                       \
        PSPointerValue p{v, in.Type2, 0};                       \
        if (in.Sub2 != 0) {                                     \
            const auto source = LoadAs<PSPointerValue>(v);      \
            p = PSPointerValue{source.Address, source.Type, 0}; \
        }                                                       \
        void* item = stack_.PushPlain(in.Type, in.Size);        \
        if (item == nullptr) goto general_form;                 \
        StoreAs(ValueOfTypedValue(item), p);                    \
        VOSTREL_CHAIN(in);                                     \
    }
    // A Pointer that owns nothing set to a variable or element that is no
    // Pointer itself.
#define VOSTREL_P_SET_PTR(label, FETCH)                                 \
    label : {                                                           \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                           \
        FETCH(d, 1, PA, 0, general_form)                               \
        FETCH(s, 2, PB, 1, general_form)                               \
        if (LoadAs<PSPointerValue>(d).OwnsCopy != 0) goto general_form; \
        StoreAs(d, PSPointerValue{s, in.Type2, 0});                     \
        VOSTREL_HOP(in.QuickNext);                                      \
    }
#define VOSTREL_P_PUSH_ASSIGN(label, FETCH)              \
    label : {                                            \
        TPSDecodedInstr& in = VOSTREL_IN(pc);            \
        FETCH(x, 2, PB, 1, general_form)                \
        void* item = stack_.PushPlain(in.Type, in.Size); \
        if (item == nullptr) goto general_form;          \
        std::memcpy(ValueOfTypedValue(item), x, 4);      \
        VOSTREL_CHAIN(in);                              \
    }
    // The forms that push a temporary t := B <Sub> C and use it: pushed as
    // an argument (kPushIt), or computed without being pushed as a for
    // loop's bound (kStepToBound: Compare A, D, t; the step of D; the jump
    // on A), an element's index (kStoreElement: the array A's element gets
    // D), or a value calculated into A (kCalcInto, with Sub2) or assigned to
    // it (kAssignInto). What is not pushed needs the room its push would
    // have (or the general form runs, and reports that); a Calc that fails
    // runs the general form, which reports it.
#define VOSTREL_P_PUSH_CALCULATE(label, FETCH, use)                                               \
    label : {                                                                                     \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                                     \
        if ((use) != kPushIt && stack_.Length() + in.Size > stack_.MaxBytes()) goto general_form; \
        FETCH(x, 2, PB, 1, general_form)                                                          \
        FETCH(y, 4, PC, 2, general_form)                                                          \
        std::uint32_t t = 0;                                                                      \
        if (!Calc32(in.Sub, LoadAs<std::uint32_t>(x), LoadAs<std::uint32_t>(y),                   \
                    (in.Signs & 1) != 0, t))                                                      \
            goto general_form;                                                                    \
        if ((use) == kPushIt) {                                                                   \
            void* item = stack_.PushPlain(in.Type, in.Size);                                      \
            if (item == nullptr) goto general_form;                                               \
            StoreAs(ValueOfTypedValue(item), t);                                                  \
            VOSTREL_CHAIN(in);                                                                    \
        }                                                                                         \
        if ((use) == kStepToBound) {                                                              \
            FETCH(c, 1, PA, 0, general_form)                                                      \
            FETCH(i, 8, PD, 3, general_form)                                                      \
            const bool result = Related(in, i, &t);                                               \
            StoreAs(c, static_cast<std::uint8_t>(result));                                        \
            StoreAs(i, LoadAs<std::uint32_t>(i) + in.QuickStep);                                  \
            if (result == in.QuickJumpWhen) VOSTREL_HOP(in.QuickTarget);                          \
            VOSTREL_HOP(in.QuickNext);                                                            \
        }                                                                                         \
        if ((use) == kStoreElement) {                                                             \
            FETCH(v, 8, PD, 3, general_form)                                                      \
            std::byte* element = ElementAt(ProvenSlot(in.PA, lb), decoded_->AccessOf(in, 0), t);  \
            if (element == nullptr) goto general_form;                                            \
            std::memcpy(element, v, 4);                                                           \
            VOSTREL_HOP(in.QuickNext);                                                            \
        }                                                                                         \
        FETCH(d, 1, PA, 0, general_form)                                                          \
        if ((use) == kCalcInto &&                                                                 \
            !Calc32(in.Sub2, LoadAs<std::uint32_t>(d), t, (in.Signs & 2) != 0, t))                \
            goto general_form;                                                                    \
        StoreAs(d, t);                                                                            \
        VOSTREL_HOP(in.QuickNext);                                                                \
    }

    // S[i] read into the Char A: the index B (or B <Sub> C), the string D.
    // The index is checked as StrGet checks it, so that the general form
    // runs and reports an index out of range.
#define VOSTREL_P_STRING_ELEMENT(label, FETCH)                                                \
    label : {                                                                                 \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                                 \
        if (stack_.Length() + in.Size > stack_.MaxBytes()) goto general_form;                 \
        FETCH(x, 2, PB, 1, general_form)                                                      \
        std::uint32_t index = LoadAs<std::uint32_t>(x);                                       \
        if (in.Sub != kNoCalc) {                                                              \
            FETCH(y, 4, PC, 2, general_form)                                                  \
            if (!Calc32(in.Sub, index, LoadAs<std::uint32_t>(y), (in.Signs & 1) != 0, index)) \
                goto general_form;                                                            \
        }                                                                                     \
        FETCH(s, 8, PD, 3, general_form)                                                      \
        const PSStr text = LoadStr(s);                                                        \
        const auto i = static_cast<std::int32_t>(index);                                      \
        if (i < 1 || i > BlockCount(text)) goto general_form;                                 \
        FETCH(d, 1, PA, 0, general_form)                                                      \
        StoreAs(d, text[i - 1]);                                                              \
        VOSTREL_HOP(in.QuickNext);                                                            \
    }

#define VOSTREL_P_STRING_LENGTH(label, FETCH)                                 \
    label : {                                                                 \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                 \
        if (stack_.Length() + in.Size > stack_.MaxBytes()) goto general_form; \
        FETCH(s, 2, PB, 1, general_form)                                      \
        FETCH(d, 1, PA, 0, general_form)                                      \
        StoreAs(d, static_cast<std::uint32_t>(BlockCount(LoadStr(s))));       \
        VOSTREL_HOP(in.QuickNext);                                            \
    }

    // Copy(B, C, D) into the String A; a piece the system refuses runs the
    // general form, which reports it.
#define VOSTREL_P_STRING_COPY(label, FETCH)                                                       \
    label : {                                                                                     \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                                     \
        if (stack_.Length() + in.Size > stack_.MaxBytes()) goto general_form;                     \
        FETCH(n, 8, PD, 3, general_form)                                                          \
        FETCH(x, 4, PC, 2, general_form)                                                          \
        FETCH(s, 2, PB, 1, general_form)                                                          \
        FETCH(d, 1, PA, 0, general_form)                                                          \
        if (!TrySetStringSlot(d, CopySlice(StringSlotView(s), LoadAs<std::int32_t>(x), LoadAs<std::int32_t>(n)))) \
            goto general_form;                                                                    \
        VOSTREL_HOP(in.QuickNext);                                                                \
    }

    // The length of the String on top into the 32-bit A, and the String
    // popped.
#define VOSTREL_P_TOP_LENGTH(label, FETCH)                                    \
    label : {                                                                 \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                 \
        if (stack_.Length() + in.Size > stack_.MaxBytes()) goto general_form; \
        FETCH(d, 1, PA, 0, general_form)                                      \
        StoreAs(d, static_cast<std::uint32_t>(BlockCount(LoadStr(ValueOfTypedValue(stack_.Top()))))); \
        PopString(stack_);                                                    \
        VOSTREL_HOP(in.QuickNext);                                            \
    }

    // IntToStr of the Int64 on top into the String A, and the Int64 popped;
    // a text the system refuses runs the general form, which reports it.
#define VOSTREL_P_TOP_INT_TO_STR(label, FETCH)                                                  \
    label : {                                                                                   \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                                   \
        if (stack_.Length() + in.Size > stack_.MaxBytes()) goto general_form;                   \
        FETCH(d, 1, PA, 0, general_form)                                                        \
        char digits[24];                                                                        \
        const std::size_t length = IntegerDigits(LoadAs<std::int64_t>(ValueOfTypedValue(stack_.Top())), digits); \
        if (!TrySetStringSlot(d, std::string_view(digits, length))) goto general_form;          \
        stack_.PopPlain();                                                                      \
        VOSTREL_HOP(in.QuickNext);                                                              \
    }

    // Every form with operands, as twin labels.
#define VOSTREL_P_TWINS(FORM, ...)        \
    FORM(p_##__VA_ARGS__, VOSTREL_PROVEN) \
    FORM(d_##__VA_ARGS__, VOSTREL_DIRECT)
#define VOSTREL_P_TWINS_WITH(FORM, name, ...)   \
    FORM(p_##name, VOSTREL_PROVEN, __VA_ARGS__) \
    FORM(d_##name, VOSTREL_DIRECT, __VA_ARGS__)

    VOSTREL_P_TWINS_WITH(VOSTREL_P_ASSIGN, assign1, std::memcpy(d, s, 1))
    VOSTREL_P_TWINS_WITH(VOSTREL_P_ASSIGN, assign2, std::memcpy(d, s, 2))
    VOSTREL_P_TWINS_WITH(VOSTREL_P_ASSIGN, assign4, std::memcpy(d, s, 4))
    VOSTREL_P_TWINS_WITH(VOSTREL_P_ASSIGN, assign8, std::memcpy(d, s, 8))
    VOSTREL_P_TWINS_WITH(VOSTREL_P_ASSIGN, assign_string, ShareStringSlot(d, s))
    // A byte's code widened (zero-extended) into 32 bits.
    VOSTREL_P_TWINS_WITH(VOSTREL_P_ASSIGN, assign_widen8, StoreAs(d, std::uint32_t{LoadAs<std::uint8_t>(s)}))
#define VOSTREL_P_CALC_TWINS(name, label, calc, flags) \
    VOSTREL_P_TWINS_WITH(VOSTREL_P_CALC, label, calc)
    VOSTREL_CALC32_FORMS(VOSTREL_P_CALC_TWINS, pp, 0)
#undef VOSTREL_P_CALC_TWINS
    VOSTREL_P_TWINS(VOSTREL_P_DIVMOD, divmod32)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_COMPARE, compare32, false, false)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_COMPARE, compare_jump32, true, false)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_COMPARE, loop_step32, true, true)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_FLAG, compare_flag32, true)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_FLAG, if32, false)
    VOSTREL_P_TWINS(VOSTREL_P_COND_BYTE, cond_byte)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_STEP, inc32, 1u)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_STEP, dec32, ~0u)
    VOSTREL_P_TWINS(VOSTREL_P_PUSH_VAR, push_var)
    VOSTREL_P_TWINS(VOSTREL_P_SET_PTR, set_ptr)
    VOSTREL_P_TWINS(VOSTREL_P_PUSH_ASSIGN, push_assign)
    enum : int { kPushIt, kStepToBound, kStoreElement, kCalcInto, kAssignInto };
    VOSTREL_P_TWINS_WITH(VOSTREL_P_PUSH_CALCULATE, push_calc, kPushIt)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_PUSH_CALCULATE, temp_calc, kCalcInto)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_PUSH_CALCULATE, temp_assign, kAssignInto)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_PUSH_CALCULATE, bound_step32, kStepToBound)
    VOSTREL_P_TWINS_WITH(VOSTREL_P_PUSH_CALCULATE, element_store32, kStoreElement)
    VOSTREL_P_TWINS(VOSTREL_P_STRING_ELEMENT, string_element)
    VOSTREL_P_TWINS(VOSTREL_P_STRING_LENGTH, string_length)
    VOSTREL_P_TWINS(VOSTREL_P_STRING_COPY, string_copy)
    VOSTREL_P_TWINS(VOSTREL_P_TOP_LENGTH, top_length)
    VOSTREL_P_TWINS(VOSTREL_P_TOP_INT_TO_STR, top_int_to_str)
    // A 32-bit integer widened into 64 bits, sign- or zero-extended.
    VOSTREL_P_TWINS_WITH(VOSTREL_P_ASSIGN, assign_widen32,
                         StoreAs(d, (in.Signs & 1) != 0 ? std::int64_t{LoadAs<std::int32_t>(s)}
                                                        : std::int64_t{LoadAs<std::uint32_t>(s)}))

p_for_calc : {
    const FusedStop stop = RunForCalc(instrs, pc, lb);
    VOSTREL_FUSED_END(stop);
}

p_while_calc : {
    const FusedStop stop = RunWhileCalc(instrs, pc, lb);
    VOSTREL_FUSED_END(stop);
}

p_push_plain : {
    TPSDecodedInstr& in = VOSTREL_IN(pc);
    if (stack_.PushPlain(in.Type, in.Size) == nullptr) goto general_form;
    VOSTREL_CHAIN(in);
}

p_pop_plain : {
    TPSDecodedInstr& in = VOSTREL_IN(pc);
    if ((in.Sub2 & 1) != 0 && OwnsCopyAt(stack_.Top())) goto general_form;
    stack_.PopPlain();
    VOSTREL_HOP(in.QuickNext);
}

p_pop2_plain : {
    TPSDecodedInstr& in = VOSTREL_IN(pc);
    if ((in.Sub2 & 1) != 0 && OwnsCopyAt(stack_.Top())) goto general_form;
    if ((in.Sub2 & 2) != 0 && OwnsCopyAt(stack_.GetItem(stack_.Count() - 2))) goto general_form;
    stack_.PopPlain();
    stack_.PopPlain();
    VOSTREL_HOP(in.QuickNext);
}

p_pop_string : {
    TPSDecodedInstr& in = VOSTREL_IN(pc);
    PopString(stack_);
    VOSTREL_HOP(in.QuickNext);
}

p_push_checked : {
    // The item's type is what the proof expected of a Pointer's
    // target: when it is another, the rest runs in the general form.
    TPSDecodedInstr& in = VOSTREL_IN(pc);
    TPSOperand v;
    if (!ResolveOperand(in.A(), v)) goto failed;
    if (v.Type != in.Type) goto leave;
    goto general_form;
}

p_pop_frame : {
    // The frame on top must be the one the proof expects.
    TPSDecodedInstr& in = VOSTREL_IN(pc);
    if (exception_frames_.empty()) goto general_form;
    const TPSExceptionHandler& f = *exception_frames_.back();
    if (f.Barrier) goto general_form;
    if (f.Code != decoded_ || f.Origin != in.QuickStep || f.BasePtr != stack_base_) goto leave;
    goto general_form;
}

p_call : {
    void* item = EnterProvenCall(VOSTREL_IN(pc));
    // No room (the general form reports it), or a callee that runs in the
    // general loop.
    if (item == nullptr) goto general_form;
    lb = static_cast<std::byte*>(item);
    instrs = decoded_->Instrs();
    // (Code is never empty: its first instruction starts at 0.)
    VOSTREL_GO(0, 1);
}

p_ret : {
    PSReturnAddress back{};
    if (!LeaveProvenFrame(back)) goto general_form;
    VOSTREL_RESUME(back);
    // The caller's pops of the arguments, at once (nothing between can have
    // asked for attention).
    if (VOSTREL_IN(pc).Op == ppPop2Plain) goto p_pop2_plain;
    if (VOSTREL_IN(pc).Op == ppPopPlain) goto p_pop_plain;
    VOSTREL_NEXT();
}

#undef VOSTREL_P_TWINS_WITH
#undef VOSTREL_P_TWINS
#undef VOSTREL_P_PUSH_CALCULATE
#undef VOSTREL_P_STRING_ELEMENT
#undef VOSTREL_P_STRING_LENGTH
#undef VOSTREL_P_STRING_COPY
#undef VOSTREL_P_TOP_LENGTH
#undef VOSTREL_P_TOP_INT_TO_STR
#undef VOSTREL_P_PUSH_ASSIGN
#undef VOSTREL_P_SET_PTR
#undef VOSTREL_P_PUSH_VAR
#undef VOSTREL_P_STEP
#undef VOSTREL_P_COND_BYTE
#undef VOSTREL_P_COMPARE
#undef VOSTREL_P_FLAG
#undef VOSTREL_P_DIVMOD
#undef VOSTREL_P_CALC
#undef VOSTREL_P_ASSIGN
#undef VOSTREL_DIRECT
#undef VOSTREL_PROVEN

general_form:
    reason = pxGeneral;
    goto to_main;
tick:
    reason = pxTick;
    goto to_main;
leave:
    reason = pxLeave;
    goto to_main;
failed:
    reason = pxFail;
to_main:
    run_instrs_ = instrs;
    run_frame_ = lb;
    return ProvenExit{pc, reason};
}

#undef VOSTREL_FUSED_END
#undef VOSTREL_CHAIN
#undef VOSTREL_NEXT

TPSExec::FusedStop TPSExec::RunForCalc(TPSDecodedInstr* instrs, std::size_t pc, std::byte* lb) {
    // A for loop of one Calc runs here until it ends; it is left at the
    // Calc for a tick or for attention, as the general form would stop
    // there.
    const std::size_t body = pc;
    const TPSDecodedInstr& in = VOSTREL_IN(pc);
    const std::size_t next = in.QuickNext & ~kHopTicks;
    const TPSDecodedInstr& step = VOSTREL_IN(next);
    const bool bound = step.BaseOp == opPushType;
    if (bound && stack_.Length() + step.Size > stack_.MaxBytes()) return {body, FusedEnd::General};
    std::byte* d = LoopOperand(*decoded_, in, 0, lb);
    const std::byte* s = LoopOperand(*decoded_, in, 1, lb);
    std::byte* c = LoopOperand(*decoded_, step, 0, lb);
    std::byte* i = LoopOperand(*decoded_, step, bound ? 3 : 1, lb);
    const std::byte* x = bound ? LoopOperand(*decoded_, step, 1, lb) : c;
    const std::byte* y = LoopOperand(*decoded_, step, 2, lb);
    if (d == nullptr || s == nullptr || c == nullptr || i == nullptr || x == nullptr || y == nullptr)
        return {body, FusedEnd::General};
    for (;;) {
        // Every step that can fail is checked: a failure leaves the loop at
        // the step, whose general form reports it.
        std::uint32_t v = 0;
        if (!Calc32(in.Sub, LoadAs<std::uint32_t>(d), LoadAs<std::uint32_t>(s), (in.Signs & 1) != 0, v))
            return {body, FusedEnd::General};
        StoreAs(d, v);
        std::uint32_t limit = LoadAs<std::uint32_t>(y);
        if (bound && !Calc32(step.Sub, LoadAs<std::uint32_t>(x), limit, (step.Signs & 1) != 0, limit))
            return {next, FusedEnd::General};
        const bool result = Related(step, i, &limit);
        StoreAs(c, static_cast<std::uint8_t>(result));
        StoreAs(i, LoadAs<std::uint32_t>(i) + step.QuickStep);
        if (result == step.QuickJumpWhen) return {step.QuickTarget, FusedEnd::Hop};
        if (HopTicks(step.QuickNext) != 0 && (ticks_left_ -= HopTicks(step.QuickNext)) <= 0)
            return {body, FusedEnd::Tick};
        if (attention_) return {body, FusedEnd::Attention};
    }
}

TPSExec::FusedStop TPSExec::RunWhileCalc(TPSDecodedInstr* instrs, std::size_t pc, std::byte* lb) {
    // A while loop of one Calc, from its comparison, likewise.
    const std::size_t test = pc;
    const TPSDecodedInstr& in = VOSTREL_IN(pc);
    const std::size_t next = in.QuickNext & ~kHopTicks;
    const TPSDecodedInstr& body = VOSTREL_IN(next);
    std::byte* c = LoopOperand(*decoded_, in, 0, lb);
    const std::byte* l = LoopOperand(*decoded_, in, 1, lb);
    const std::byte* r = LoopOperand(*decoded_, in, 2, lb);
    std::byte* d = LoopOperand(*decoded_, body, 0, lb);
    const std::byte* s = LoopOperand(*decoded_, body, 1, lb);
    if (c == nullptr || l == nullptr || r == nullptr || d == nullptr || s == nullptr)
        return {test, FusedEnd::General};
    for (;;) {
        const bool result = Related(in, l, r);
        StoreAs(c, static_cast<std::uint8_t>(result));
        if (result == in.QuickJumpWhen) return {in.QuickTarget, FusedEnd::Hop};
        std::uint32_t v = 0;
        if (!Calc32(body.Sub, LoadAs<std::uint32_t>(d), LoadAs<std::uint32_t>(s), (body.Signs & 1) != 0, v))
            return {next, FusedEnd::General};
        StoreAs(d, v);
        if (HopTicks(body.QuickNext) != 0 && (ticks_left_ -= HopTicks(body.QuickNext)) <= 0)
            return {test, FusedEnd::Tick};
        if (attention_) return {test, FusedEnd::Attention};
    }
}

}  // namespace script::runtime
