// The instruction loop: runs decoded procedures with call frames on the run
// stack, exception frames, and the error unwinding that offers an error to
// the script's own frames before it stops the run. The loop only
// dispatches: an instruction's work is its general handler's
// (general_handlers.h), or its quick or proven form's (quick_loop.cpp,
// proven_loop.cpp), and the loop turns what that returns into its jump.
//
// The program counter is the byte offset of an instruction in the list of
// the current procedure's decoded code (of the form of it that runs: its
// general form, or a proven form whose steps run in proven_loop.cpp). Byte
// positions of the byte code (position_) are written only where someone
// may observe them: before an error is reported, before a host function
// runs, in return addresses, and when the loop ends.
#include <cstddef>
#include <cstring>
#include <iterator>
#include <utility>

#include "script/runtime/exec.h"
#include "script/runtime/general_handlers.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/operand_resolution.h"
#include "script/runtime/operation_bodies.h"
#include "script/runtime/operators.h"
#include "script/runtime/proven_steps.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_layout.h"
#include "script/runtime/value_lifetime.h"

namespace script::runtime {

// ------------------------------------------------------------ run

void TPSExec::EnterOtherCode(const TPSProcRec* proc) {
    current_proc_ = proc;
    if (proc != nullptr && proc->IsInternal()) {
        auto& internal = AsInternal(const_cast<TPSProcRec&>(*proc));
        code_ = internal.Code.data();
        code_length_ = static_cast<std::uint32_t>(internal.Code.size());
        decoded_ = GeneralCode(internal);
    } else {
        code_ = nullptr;
        code_length_ = 0;
        decoded_ = nullptr;
    }
}

void TPSExec::StepNotify() {
    if (on_step_) on_step_(*this);
}

void TPSExec::SetOnStep(TPSOnStep callback) {
    on_step_ = std::move(callback);
    step_active_ = static_cast<bool>(on_step_) || step_notify_active_;
    attention_ = true;
}

void TPSExec::SetStepNotifyActive(bool on) {
    step_notify_active_ = on;
    step_active_ = static_cast<bool>(on_step_) || step_notify_active_;
    attention_ = true;
}

bool TPSExec::Run() {
    if (status_ == TPSStatus::isLoaded) {
        exception_frames_.clear();
        dropped_items_ = 0;
    }
    HandleError(kNoProc, kNoProc, ErNoError, {}, nullptr);
    TPSStatus entry = TPSStatus::isLoaded;
    if (status_ == TPSStatus::isLoaded) {
        if (main_proc_ == kNoProc) return false;
        status_ = TPSStatus::isRunning;
        const TPSProcRec* main = procs_[main_proc_].get();
        if (!main->IsInternal()) {
            current_proc_ = main;
            RaiseError(erNoMainProc);
            status_ = TPSStatus::isLoaded;
            return false;
        }
        stack_base_ = -1;
        EnterCode(main, CodeForEntry(main, 0, true));
        position_ = 0;
    } else if (status_ == TPSStatus::isPaused) {
        status_ = TPSStatus::isRunning;
        entry = TPSStatus::isPaused;
    } else {
        return false;
    }
    ++run_depth_;
    attention_ = step_active_;
    try {
        Execute(entry);
    } catch (...) {
        // Only the decoding of a damaged procedure can fail here.
        ReportException(std::current_exception());
        if (status_ == TPSStatus::isRunning) status_ = TPSStatus::isPaused;
    }
    --run_depth_;
    // While it is paused, the host may change the run stack: the run goes
    // on in the general form of the code it paused in.
    if (status_ == TPSStatus::isPaused) LeaveProvenCode();
    if (status_ == TPSStatus::isLoaded) {
        // A finished or stopped run leaves nothing behind it, except what a
        // run below it (through a host function) still uses.
        stack_.PopTo(run_floor_);
        if (run_depth_ == 0) {
            temporaries_.Clear();
            // What a deep recursion took of the run stack goes back.
            stack_.TrimBlock();
            if (CleanupAfterRun) ResetGlobals();
        }
    }
    return last_error_code_ == ErNoError;
}

void* TPSExec::PushOrFail(const TPSTypeRec* type, std::uint32_t at) {
    try {
        return stack_.PushType(type);
    } catch (const EPSOutOfMemory&) {
        FailAt(at, erOutOfStackRange);
        return nullptr;
    }
}

// ------------------------------------------------------------ frames

const TPSExceptionHandler* TPSExec::TopExceptionFrame() const {
    if (exception_frames_.empty() || exception_frames_.back()->Barrier) return nullptr;
    return exception_frames_.back().get();
}

std::uint8_t TPSExec::LastErrorCode() const {
    const TPSExceptionHandler* f = TopExceptionFrame();
    return f != nullptr ? f->ExceptionCode : last_error_code_;
}

const std::string& TPSExec::LastErrorParam() const {
    const TPSExceptionHandler* f = TopExceptionFrame();
    return f != nullptr ? f->ExceptionParam : last_error_param_;
}

std::uint32_t TPSExec::LastErrorProc() const {
    const TPSExceptionHandler* f = TopExceptionFrame();
    return f != nullptr ? f->ExceptionProc : last_error_proc_;
}

std::uint32_t TPSExec::LastErrorPos() const {
    const TPSExceptionHandler* f = TopExceptionFrame();
    return f != nullptr ? f->ExceptionPos : last_error_pos_;
}

bool TPSExec::RaiseFrameError() {
    if (exception_frames_.empty()) return false;
    TPSExceptionHandler& f = *exception_frames_.back();
    if (f.Barrier || f.ExceptOffset != kExceptEntered) return false;
    // The object goes with the error: the frame keeps no second owner.
    std::exception_ptr object = std::move(f.ExceptionObject);
    f.ExceptionObject = nullptr;
    ReportErrorAt(f.ExceptionProc, f.ExceptionPos, f.ExceptionCode, f.ExceptionParam, std::move(object));
    return true;
}

void TPSExec::ResumeInFrame(const TPSExceptionHandler& frame, std::uint32_t position) {
    stack_base_ = frame.BasePtr;
    EnterCode(frame.CurrProc, frame.Code);
    position_ = position;
}

void TPSExec::MoveErrorIntoFrame(TPSExceptionHandler& frame) {
    frame.ExceptOffset = kExceptEntered;
    frame.ExceptionCode = last_error_code_;
    frame.ExceptionParam = std::move(last_error_param_);
    frame.ExceptionObject = std::move(last_error_object_);
    frame.ExceptionProc = last_error_proc_;
    frame.ExceptionPos = last_error_pos_;
    last_error_code_ = ErNoError;
    last_error_param_.clear();
    last_error_object_ = nullptr;
}

bool TPSExec::TakeErrorIntoFrame() {
    while (!exception_frames_.empty()) {
        TPSExceptionHandler& f = *exception_frames_.back();
        if (f.Barrier) return false;
        stack_.PopTo(f.StackSize);
        // The error supersedes a return or jump that waited for this frame.
        f.PendingReturn = kNoOffset;
        f.PendingJump = kNoOffset;
        dropped_items_ = 0;
        std::uint32_t block = kNoOffset;
        if (f.FinallyOffset != kNoOffset) {
            block = f.FinallyOffset;
            f.FinallyOffset = kNoOffset;
        } else if (f.ExceptOffset != kNoOffset && f.ExceptOffset != kExceptEntered) {
            block = f.ExceptOffset;
            MoveErrorIntoFrame(f);
        } else if (f.Finally2Offset != kNoOffset) {
            block = f.Finally2Offset;
            f.Finally2Offset = kNoOffset;
        }
        if (block != kNoOffset) {
            ResumeInFrame(f, block);
            return true;
        }
        exception_frames_.pop_back();
    }
    return false;
}

bool TPSExec::ResumeAfterError() {
    if (status_ != TPSStatus::isLoaded && last_error_code_ != ErNoError && TakeErrorIntoFrame()) {
        status_ = TPSStatus::isRunning;
        attention_ = step_active_;
        return true;
    }
    if (status_ == TPSStatus::isRunning) status_ = TPSStatus::isPaused;
    return false;
}

// ------------------------------------------------------------ host calls

bool TPSExec::CallExternal(TPSExternalProcRec& proc) {
    return RunHostCall([&] { return proc.Handler(*this, proc, globals_, stack_); });
}

EPSException TPSExec::ScriptException(std::string message) {
    return EPSException(std::move(message), this, CurrentProcNo(), position_);
}

// ------------------------------------------------------------ frames of the script

void TPSExec::PushExceptionFrame(const TPSDecodedInstr& in, std::uint32_t index) {
    auto frame = std::make_unique<TPSExceptionHandler>();
    frame->Code = decoded_;
    frame->Origin = index;
    frame->CurrProc = current_proc_;
    frame->BasePtr = stack_base_;
    frame->StackSize = stack_.Count();
    const TPSDecodedCode::FrameOffsetList& offsets = decoded_->FrameOffsets(in);
    frame->FinallyOffset = offsets[0];
    frame->ExceptOffset = offsets[1];
    frame->Finally2Offset = offsets[2];
    frame->EndOfBlock = offsets[3];
    for (int i = 0; i < 3; ++i) frame->BlockStarts[i] = offsets[i];
    exception_frames_.push_back(std::move(frame));
}

namespace {
// Whether a pop of an exception frame that ends at a position leaves its
// statement early.
bool LeavesEarly(const TPSExceptionHandler& f, std::uint32_t end) { return LeavesTryEarly(f.BlockStarts, f.EndOfBlock, end); }
}  // namespace

std::uint32_t TPSExec::TakeFinallyBlock(TPSExceptionHandler& f) {
    std::uint32_t* block = f.FinallyOffset != kNoOffset ? &f.FinallyOffset : &f.Finally2Offset;
    return std::exchange(*block, kNoOffset);
}

bool TPSExec::ReturnThroughFrames(std::uint32_t here) {
    while (!exception_frames_.empty()) {
        TPSExceptionHandler& f = *exception_frames_.back();
        if (f.Barrier) return false;
        const bool mine = f.BasePtr == stack_base_ || (f.BasePtr > stack_base_ && f.BasePtr != -1);
        if (!mine) return false;
        stack_.PopTo(f.StackSize);
        const std::uint32_t block = TakeFinallyBlock(f);
        if (block != kNoOffset) {
            // The return runs again once the block has ended.
            f.PendingReturn = here;
            ResumeInFrame(f, block);
            return true;
        }
        exception_frames_.pop_back();
    }
    return false;
}

std::uint32_t TPSExec::EndTryBlock(std::uint32_t index) {
    const TPSDecodedInstr* instrs = decoded_->Instrs();
    const TPSDecodedInstr& in = instrs[index];
    if (exception_frames_.empty() || exception_frames_.back()->Barrier) {
        FailAt(in.End, ErOutOfRange);
        return kNoInstr;
    }
    TPSExceptionHandler& f = *exception_frames_.back();
    // (Dropping values may run host code: in is not used after it.)
    const std::uint8_t sub = in.Sub;
    if (f.PendingReturn == kNoOffset && f.PendingJump == kNoOffset && LeavesEarly(f, in.End)) {
        // A Break or Continue leaves the statement here: the blocks it must
        // run run first, then the run goes on after the pops that leave it.
        // (Leaving the try block, the end of a try block comes with the end
        // of its finally block.)
        const TPSDecodedInstr& next = instrs[in.Next];
        const bool paired = in.Sub == phEndOfTry && next.BaseOp == opPopExceptionHandler &&
                            next.Sub == phEndOfFinally && next.Pos == in.End;
        const std::uint32_t at = paired ? next.Next : in.Next;
        // Values pushed inside the statement (by a case or with statement)
        // go now, so that its blocks run on the stack they were compiled
        // for; the pops that the jump makes for them are passed over once
        // the blocks have ended.
        const std::uint32_t count = stack_.Count();
        const std::uint32_t mine = count > f.StackSize ? count - f.StackSize : 0;
        f.DroppedItems = std::exchange(dropped_items_, 0) + mine;
        f.PendingJump = instrs[at].Pos;
        stack_.PopTo(count - mine);
    }
    dropped_items_ = 0;
    std::uint32_t block = kNoOffset;
    switch (sub) {
    case phEndOfTry:
        block = TakeFinallyBlock(f);
        break;
    case phEndOfFinally:
        if (last_error_code_ != ErNoError && f.ExceptOffset != kNoOffset && f.ExceptOffset != kExceptEntered) {
            block = f.ExceptOffset;
            f.PendingReturn = kNoOffset;
            f.PendingJump = kNoOffset;
            MoveErrorIntoFrame(f);
        } else {
            block = std::exchange(f.Finally2Offset, kNoOffset);
        }
        break;
    case phEndOfExcept:
        f.ExceptOffset = kNoOffset;
        block = std::exchange(f.Finally2Offset, kNoOffset);
        break;
    default:
        break;
    }
    if (block != kNoOffset) return decoded_->EntryAt(block);
    // The statement is done: the frame goes, and the run goes on where it
    // waited, unless an error is still pending.
    const std::uint32_t after = f.PendingReturn != kNoOffset ? f.PendingReturn
                                : f.PendingJump != kNoOffset ? f.PendingJump
                                                             : f.EndOfBlock;
    const std::uint32_t dropped = f.PendingReturn == kNoOffset && f.PendingJump != kNoOffset ? f.DroppedItems : 0;
    exception_frames_.pop_back();
    if (sub != phEndOfExcept && last_error_code_ != ErNoError) {
        std::exception_ptr object = std::move(last_error_object_);
        last_error_object_ = nullptr;
        ReportErrorAt(last_error_proc_, last_error_pos_, last_error_code_, last_error_param_, std::move(object));
        return kNoInstr;
    }
    std::uint32_t at = decoded_->EntryAt(after);
    if (dropped > 0) {
        // An outer try statement left by the same jump passes them on;
        // else the pops for them are passed over.
        const TPSDecodedInstr* list = decoded_->Instrs();
        if (list[at].BaseOp == opPopExceptionHandler) {
            dropped_items_ = dropped;
        } else {
            for (std::uint32_t n = 0; n < dropped && list[at].BaseOp == opPop; ++n) at = list[at].Next;
        }
    }
    return at;
}

// ------------------------------------------------------------ the loop

// Dispatch goes from handler to handler through a table of label addresses
// (each handler ends in its own indirect jump, which the processor predicts
// per handler). The one test per instruction is attention_: Stop, Pause, an
// error and stepping set it; while it is set, instructions run in their
// general form and the step hook is called before each.
// (The moves from instruction to instruction are proven_steps.h's.)
// After anything that may have run the script again (a host function): the
// list may have grown.
#define VOSTREL_RELOAD() (instrs = decoded_->Instrs(), lb = FrameBase())

#define VOSTREL_NEXT()                      \
    do {                                    \
        if (attention_) goto attention;     \
        goto* dispatch[VOSTREL_IN(pc).Op];  \
    } while (false)

// Goes on as a general handler asks (GeneralMove). Each handler has its
// own copy: inlined, the compiler keeps only the ways its handler takes.
#define VOSTREL_TAKE(move)                                      \
    do {                                                        \
        const GeneralMove taken = (move);                       \
        switch (taken.How) {                                    \
            case ghNext:                                        \
                pc = VOSTREL_AT(taken.At);                      \
                VOSTREL_NEXT();                                 \
            case ghReload:                                      \
                pc = VOSTREL_AT(taken.At);                      \
                VOSTREL_RELOAD();                               \
                VOSTREL_NEXT();                                 \
            case ghGo:                                          \
                VOSTREL_GO(VOSTREL_AT(taken.At), taken.Ticks);  \
            case ghReloadGo:                                    \
                VOSTREL_RELOAD();                               \
                VOSTREL_GO(VOSTREL_AT(taken.At), taken.Ticks);  \
            case ghEnter:                                       \
                VOSTREL_JUMP_TO(taken.At);                      \
                VOSTREL_GO(pc, taken.Ticks);                    \
            case ghEndRun:                                      \
                return;                                         \
            case ghFail:                                        \
                goto fail;                                      \
        }                                                       \
        goto fail;                                              \
    } while (false)

// What seldom runs: the compiler keeps the hot forms' values in registers
// at its cost.
#if defined(__GNUC__) && !defined(__clang__)
#define VOSTREL_COLD __attribute__((cold))
#else
#define VOSTREL_COLD
#endif

void TPSExec::Execute(TPSStatus entry_status) {
    // Kept in the executor, not in a register the loop needs.
    const TPSStatus saved_entry = run_entry_;
    run_entry_ = entry_status;
    struct RestoreEntry {
        TPSExec& exec;
        TPSStatus status;
        ~RestoreEntry() { exec.run_entry_ = status; }
    } restore{*this, saved_entry};
    const void* dispatch[256];
    for (const void*& d : dispatch) d = &&op_invalid;
    dispatch[opAssign] = &&op_assign;
    dispatch[opCalc] = &&op_calc;
    dispatch[opPush] = &&op_push;
    dispatch[opPushVar] = &&op_push_var;
    dispatch[opPop] = &&op_pop;
    dispatch[opCall] = &&op_call;
    dispatch[opGoto] = &&op_goto;
    dispatch[opCondGoto] = &&op_cond_goto;
    dispatch[opCondNotGoto] = &&op_cond_goto;
    dispatch[opRet] = &&op_ret;
    dispatch[popFail] = &&op_fail;
    dispatch[opPushType] = &&op_push_type;
    dispatch[opCompare] = &&op_compare;
    dispatch[opCallVar] = &&op_call;
    dispatch[opSetPtr] = &&op_set_ptr;
    dispatch[opBoolNot] = &&op_unary;
    dispatch[opNeg] = &&op_unary;
    dispatch[opSetFlag] = &&op_set_flag;
    dispatch[opFlagGoto] = &&op_flag_goto;
    dispatch[opPushExceptionHandler] = &&op_push_frame;
    dispatch[opPopExceptionHandler] = &&op_pop_frame;
    dispatch[opIntNot] = &&op_unary;
    dispatch[opSetPtrToCopy] = &&op_set_ptr;
    dispatch[opInc] = &&op_inc_dec;
    dispatch[opDec] = &&op_inc_dec;
    dispatch[opPopGoto] = &&op_pop_goto;
    dispatch[opPop2Goto] = &&op_pop_goto;
    dispatch[opNop] = &&op_nop;
    dispatch[popOutOfRange] = &&op_out_of_range;
    // The quick forms run in their own loop, and so do the proven forms and
    // their twins.
    for (unsigned op = qpFirst; op < qpAfterLast; ++op) dispatch[op] = &&quick;
    for (unsigned op = ppAssign1; op <= ppLastTwinned + kPlainSlotsTwin; ++op) dispatch[op] = &&proven;

    std::size_t pc = VOSTREL_AT(decoded_->EntryAt(position_));
    // The list that runs and the frame base of the procedure that runs
    // (proven operands lie at byte distances from it), kept in the executor
    // rather than in registers: they change seldom, the registers are for
    // pc. A run that a host function starts from inside keeps its own.
    struct RestoreLoop {
        TPSExec& exec;
        TPSDecodedInstr* instrs;
        std::byte* frame;
        ~RestoreLoop() {
            exec.run_instrs_ = instrs;
            exec.run_frame_ = frame;
        }
    } restore_loop{*this, run_instrs_, run_frame_};
    run_instrs_ = decoded_->Instrs();
    run_frame_ = FrameBase();
    TPSDecodedInstr*& instrs = run_instrs_;
    std::byte*& lb = run_frame_;

    for (;;) {
        try {
            VOSTREL_NEXT();

        attention:
            VOSTREL_COLD;
            if (status_ != TPSStatus::isRunning) {
                position_ = VOSTREL_IN(pc).Pos;
                return;
            }
            attention_ = step_active_;
            if (step_active_) {
                position_ = VOSTREL_IN(pc).Pos;
                StepNotify();
                attention_ = true;
                VOSTREL_RELOAD();
            }
            goto* dispatch[VOSTREL_IN(pc).BaseOp];

        quick: {
            const ProvenExit exit = RunQuick(pc);
            pc = exit.Pc;
            switch (exit.Reason) {
            case pxNext: VOSTREL_NEXT();
            case pxGeneral: goto* dispatch[VOSTREL_IN(pc).BaseOp];
            case pxTick: goto tick;
            default: goto fail;
            }
        }

        proven: {
            // A general form that runs on its proven form's list runs each
            // instruction as decoded.
            if (decoded_->RunsSharedList()) goto* dispatch[VOSTREL_IN(pc).BaseOp];
            const ProvenExit exit = RunProven(pc);
            pc = exit.Pc;
            switch (exit.Reason) {
            case pxNext: VOSTREL_NEXT();
            case pxGeneral: goto* dispatch[VOSTREL_IN(pc).BaseOp];
            case pxTick: goto tick;
            case pxLeave: goto leave_proven;
            default: goto fail;
            }
        }

        leave_proven:
            VOSTREL_COLD;
            // What a proven form expected no longer holds: the rest of this
            // procedure's run goes on in its general form, from this
            // instruction.
            LeaveProvenCode();
            VOSTREL_JUMP_TO(VOSTREL_IN(pc).Pos);
            VOSTREL_NEXT();

        tick:
            VOSTREL_COLD;
            ticks_left_ = on_tick_ ? tick_every_ : kTicksWithoutHook;
            if (on_tick_) {
                position_ = VOSTREL_IN(pc).Pos;
                on_tick_(*this);
                VOSTREL_RELOAD();
            }
            VOSTREL_NEXT();

            // ---------------------------------------------------- instructions
            // Their general handlers (general_handlers.h).

        op_assign:
            VOSTREL_TAKE(GeneralAssign(VOSTREL_IN(pc)));

        op_calc:
            VOSTREL_TAKE(GeneralCalc(VOSTREL_IN(pc)));

        op_compare:
            VOSTREL_TAKE(GeneralCompare(VOSTREL_IN(pc)));

        op_push:
            VOSTREL_TAKE(GeneralPush(VOSTREL_IN(pc)));

        op_push_var:
            VOSTREL_TAKE(GeneralPushVar(VOSTREL_IN(pc)));

        op_push_type:
            VOSTREL_TAKE(GeneralPushType(VOSTREL_IN(pc)));

        op_pop:
            VOSTREL_TAKE(GeneralPop(VOSTREL_IN(pc)));

        op_pop_goto:
            VOSTREL_TAKE(GeneralPopGoto(VOSTREL_IN(pc)));

        op_goto:
            VOSTREL_GO(VOSTREL_AT(VOSTREL_IN(pc).Target), VOSTREL_IN(pc).JumpTicks);

        op_flag_goto:
            if (jump_flag_) VOSTREL_GO(VOSTREL_AT(VOSTREL_IN(pc).Target), VOSTREL_IN(pc).JumpTicks);
            VOSTREL_GO(VOSTREL_AT(VOSTREL_IN(pc).Next), 0);

        op_cond_goto:
            VOSTREL_TAKE(GeneralCondGoto(VOSTREL_IN(pc)));

        op_set_flag:
            VOSTREL_TAKE(GeneralSetFlag(VOSTREL_IN(pc)));

        op_inc_dec:
            VOSTREL_TAKE(GeneralIncDec(VOSTREL_IN(pc)));

        op_unary:
            VOSTREL_TAKE(GeneralUnary(VOSTREL_IN(pc)));

        op_set_ptr:
            VOSTREL_TAKE(GeneralSetPtr(VOSTREL_IN(pc)));

        op_call:
            VOSTREL_TAKE(GeneralCall(VOSTREL_IN(pc)));

        op_ret:
            VOSTREL_TAKE(GeneralReturn(VOSTREL_IN(pc)));

        op_push_frame:
            VOSTREL_COLD;
            // (Nothing with a destructor may live where a dispatch jumps
            // from: the frame is made in a function of its own.)
            PushExceptionFrame(VOSTREL_IN(pc), static_cast<std::uint32_t>(pc / sizeof(TPSDecodedInstr)));
            pc = VOSTREL_AT(VOSTREL_IN(pc).Next);
            VOSTREL_NEXT();

        op_pop_frame:
            VOSTREL_COLD;
            {
            const std::uint32_t at = EndTryBlock(static_cast<std::uint32_t>(pc / sizeof(TPSDecodedInstr)));
            if (at == kNoInstr) goto fail;
            pc = VOSTREL_AT(at);
            VOSTREL_RELOAD();
            VOSTREL_NEXT();
            }

        op_nop:
            pc = VOSTREL_AT(VOSTREL_IN(pc).Next);
            VOSTREL_NEXT();

        op_out_of_range:
            VOSTREL_COLD;
            FailAt(VOSTREL_IN(pc).Pos, ErOutOfRange);
            goto fail;

        op_fail:
            VOSTREL_COLD;
            ReportDecodedFailure(VOSTREL_IN(pc));
            goto fail;

        op_invalid:
            VOSTREL_COLD;
            FailAt(VOSTREL_IN(pc).Pos + 1, erInvalidOpcode);
            goto fail;

        fail:
            VOSTREL_COLD;
            if (!ResumeAfterError()) return;
            VOSTREL_JUMP_TO(position_);
            VOSTREL_NEXT();
        } catch (...) {
            // A value beyond the cap, or memory the system refused.
            ReportException(std::current_exception());
            if (!ResumeAfterError()) return;
            VOSTREL_JUMP_TO(position_);
        }
    }
}

#undef VOSTREL_TAKE
#undef VOSTREL_GO
#undef VOSTREL_NEXT
#undef VOSTREL_RELOAD
#undef VOSTREL_JUMP_TO

}  // namespace script::runtime
