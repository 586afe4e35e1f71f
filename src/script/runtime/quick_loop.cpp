// The loop of the quick forms (quick_forms.h): it runs the instructions
// that have quick forms one after another, and hands an instruction back
// to the general loop (interpreter.cpp) when it has none, when the types a
// form saw are no longer there and its general form must run, or for a
// tick, for attention or for an error.
#include <cstddef>
#include <cstring>
#include <iterator>

#include "script/runtime/exec.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/operation_bodies.h"
#include "script/runtime/proven_steps.h"
#include "script/runtime/quick_forms.h"
#include "script/runtime/value_layout.h"

// Each handler keeps its own dispatch jump, which the processor predicts
// by the handler it leaves: GCC would otherwise merge the jumps into a few
// shared ones.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-gcse", "no-crossjumping")
#endif

namespace script::runtime {

#define VOSTREL_NEXT() VOSTREL_FORM_NEXT(qpFirst)

TPSExec::ProvenExit TPSExec::RunQuick(std::size_t pc) {
    // The forms, from their list (decoded_code.h).
#define VOSTREL_FORM_LABEL(name, label, calc, flags) &&q_##label,
    static const void* const forms[] = {VOSTREL_QUICK_FORMS(VOSTREL_FORM_LABEL)};
#undef VOSTREL_FORM_LABEL
    static_assert(std::size(forms) == qpAfterLast - qpFirst);

    TPSDecodedInstr* instrs = run_instrs_;
    std::uint8_t reason = pxNext;

    VOSTREL_NEXT();

        q_assign32: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            void* d = QuickValue(stack_, stack_base_, in.A());
            const void* s = QuickValue(stack_, stack_base_, in.B());
            if (d == nullptr || s == nullptr) goto general_form;
            if (in.Op == qpAssign32) {
                std::memcpy(d, s, 4);
            } else {
                std::memcpy(d, s, 1);
            }
            VOSTREL_HOP(in.QuickNext);
        }

        q_set_flag_byte: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            const void* v = QuickValue(stack_, stack_base_, in.A());
            if (v == nullptr) goto general_form;
            jump_flag_ = (LoadAs<std::uint8_t>(v) != 0) != (in.Sub != 0);
            if (in.Op == qpSetFlagJump) {
                // The Pop and the FlagGoto that follow.
                if (!TopIsSeen(stack_, stack_base_, in.A())) {
                    pc = VOSTREL_AT(in.Next);
                    VOSTREL_NEXT();
                }
                stack_.Pop();
                if (jump_flag_) VOSTREL_HOP(in.QuickTarget);
                VOSTREL_HOP(in.QuickNext);
            }
            VOSTREL_HOP(in.QuickNext);
        }

        q_set_ptr: {
            // A Pointer that owns nothing set to a variable or element that
            // is no Pointer itself.
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            void* d = QuickValue(stack_, stack_base_, in.A());
            void* s = QuickValue(stack_, stack_base_, in.B());
            if (d == nullptr || s == nullptr || LoadAs<PSPointerValue>(d).OwnsCopy != 0) goto general_form;
            StoreAs(d, PSPointerValue{s, in.B().Seen, 0});
            VOSTREL_HOP(in.QuickNext);
        }

        q_assign_string: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            void* d = QuickValue(stack_, stack_base_, in.A());
            const void* s = QuickValue(stack_, stack_base_, in.B());
            if (d == nullptr || s == nullptr) goto general_form;
            ShareStringSlot(d, s);
            VOSTREL_HOP(in.QuickNext);
        }

    // A Calc whose operator the form fixes; division and remainder (one
    // form for both) leave a zero divisor and the one quotient that does not
    // fit to the general form, which reports them.
#define VOSTREL_QUICK_CALC(label, op)                                                                      \
    q_##label : {                                                                                          \
        TPSDecodedInstr& in = VOSTREL_IN(pc);                                                              \
        void* d = QuickValue(stack_, stack_base_, in.A());                                                   \
        const void* s = QuickValue(stack_, stack_base_, in.B());                                             \
        if (d == nullptr || s == nullptr) goto general_form;                                                    \
        std::uint32_t r = 0;                                                                               \
        if (!Calc32(op, LoadAs<std::uint32_t>(d), LoadAs<std::uint32_t>(s), in.A().Seen->BaseType == btS32, \
                    r))                                                                                    \
            goto general_form;                                                                                  \
        StoreAs(d, r);                                                                                     \
        VOSTREL_HOP(in.QuickNext);                                                                         \
    }
#define VOSTREL_QUICK_FIXED_CALC(name, label, calc, flags) VOSTREL_QUICK_CALC(label, calc)
            VOSTREL_CALC32_FORMS(VOSTREL_QUICK_FIXED_CALC, qp, 0)
            VOSTREL_QUICK_CALC(divmod32, in.Sub)
#undef VOSTREL_QUICK_FIXED_CALC
#undef VOSTREL_QUICK_CALC

        q_compare32: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            void* d = QuickValue(stack_, stack_base_, in.A());
            void* l = QuickValue(stack_, stack_base_, in.B());
            const void* r = QuickValue(stack_, stack_base_, in.C());
            if (d == nullptr || l == nullptr || r == nullptr) goto general_form;
            const bool result = Compare32(in.Sub, LoadAs<std::uint32_t>(l), LoadAs<std::uint32_t>(r),
                                          in.B().Seen->BaseType == btS32);
            StoreAs(d, static_cast<std::uint8_t>(result));
            if (in.Op == qpCompare32) VOSTREL_HOP(in.QuickNext);
            if (in.Op == qpCompareFlag32) {
                // The SetFlag, the Pop of the result (when it is the top
                // item, as compiled) and the FlagGoto that follow.
                if (!TopIsSeen(stack_, stack_base_, in.A())) {
                    pc = VOSTREL_AT(in.Next);
                    VOSTREL_NEXT();
                }
                jump_flag_ = result == in.QuickJumpWhen;
                stack_.Pop();
                if (jump_flag_) VOSTREL_HOP(in.QuickTarget);
                VOSTREL_HOP(in.QuickNext);
            }
            // The for loop's counter (the left operand) steps after the
            // comparison, before the jump.
            if (in.Op == qpLoopStep32) StoreAs(l, LoadAs<std::uint32_t>(l) + in.QuickStep);
            if (result == in.QuickJumpWhen) VOSTREL_HOP(in.QuickTarget);
            VOSTREL_HOP(in.QuickNext);
        }

        q_cond_byte: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            const void* v = QuickValue(stack_, stack_base_, in.A());
            if (v == nullptr) goto general_form;
            if ((LoadAs<std::uint8_t>(v) != 0) == in.QuickJumpWhen) VOSTREL_HOP(in.QuickTarget);
            VOSTREL_HOP(in.QuickNext);
        }

        q_push_assign32: {
            // A temporary pushed and given its first value (the Assign that
            // follows, whose source A holds).
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            const void* s = QuickValue(stack_, stack_base_, in.A());
            if (s == nullptr) goto general_form;
            void* item = PushOrFail(in.Type, in.End);
            if (item == nullptr) goto failed;
            const TPSDecodedInstr& assign = instrs[in.Next];
            if (static_cast<std::int64_t>(stack_.Count()) - 1 - stack_base_ != assign.A().Var.Offset) {
                pc = VOSTREL_AT(in.Next);
                VOSTREL_NEXT();
            }
            std::memcpy(ValueOfTypedValue(item), s, 4);
            VOSTREL_HOP(in.QuickNext);
        }

        q_step32: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            void* v = QuickValue(stack_, stack_base_, in.A());
            if (v == nullptr) goto general_form;
            StoreAs(v, LoadAs<std::uint32_t>(v) + (in.Op == qpInc32 ? 1u : ~0u));
            VOSTREL_HOP(in.QuickNext);
        }

general_form:
    reason = pxGeneral;
    goto to_main;
tick:
    reason = pxTick;
    goto to_main;
failed:
    reason = pxFail;
to_main:
    return ProvenExit{pc, reason};
}

#undef VOSTREL_NEXT

}  // namespace script::runtime
