// The instruction loop: runs decoded procedures with call frames on the run
// stack, exception frames, and the error unwinding that offers an error to
// the script's own frames before it stops the run.
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
#include "script/runtime/managed_blocks.h"
#include "script/runtime/operand_resolution.h"
#include "script/runtime/operation_bodies.h"
#include "script/runtime/operators.h"
#include "script/runtime/proven_steps.h"
#include "script/runtime/quick_forms.h"
#include "script/runtime/string_append.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_layout.h"
#include "script/runtime/value_lifetime.h"

namespace script::runtime {

namespace {

// Compare of two 32-bit integers of one kind into a byte result.
inline bool CompareInteger32(std::uint8_t op, void* result, const TPSTypeRec* result_type, const void* left,
                             const void* right, std::uint8_t base) {
    if (op > coEqual || !IsByteValue(result_type)) return false;
    const bool r = Compare32(op, LoadAs<std::uint32_t>(left), LoadAs<std::uint32_t>(right), base == btS32);
    StoreAs(result, static_cast<std::uint8_t>(r));
    return true;
}

// The value of a condition of base 1-6; false for other bases.
inline bool ConditionValue(const void* value, std::uint8_t base, bool& out) {
    switch (base) {
    case btU8: case btS8: out = LoadAs<std::uint8_t>(value) != 0; return true;
    case btU16: case btS16: out = LoadAs<std::uint16_t>(value) != 0; return true;
    case btU32: case btS32: out = LoadAs<std::uint32_t>(value) != 0; return true;
    default: return false;
    }
}

// Adds delta to an integer of base 1-6 or 17 in its own width; false for
// other bases.
inline bool StepInteger(void* value, std::uint8_t base, std::uint64_t delta) {
    switch (base) {
    case btU8: case btS8: StoreAs(value, static_cast<std::uint8_t>(LoadAs<std::uint8_t>(value) + delta)); return true;
    case btU16: case btS16: StoreAs(value, static_cast<std::uint16_t>(LoadAs<std::uint16_t>(value) + delta)); return true;
    case btU32: case btS32: StoreAs(value, static_cast<std::uint32_t>(LoadAs<std::uint32_t>(value) + delta)); return true;
    case btS64: StoreAs(value, LoadAs<std::uint64_t>(value) + delta); return true;
    default: return false;
    }
}

}  // namespace

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

// ------------------------------------------------------------ conditions

bool TPSExec::ReadCondition(const TPSDecodedInstr& in, TPSOperand& v, bool& value) {
    if (!ResolveOperand(in.A(), v)) return false;
    if (ConditionValue(v.Address, v.Type->BaseType, value)) return true;
    FailAt(in.End, erInvalidType);
    return false;
}

// ------------------------------------------------------------ pointers

namespace {

// A heap copy of a value that a Pointer owns; false when the value cannot be
// copied.
bool OwnedCopy(const void* from, const TPSTypeRec* type, PSPointerValue& out) {
    void* copy = CreateHeapValue(type);
    if (!CopyValues(copy, from, 1, type)) {
        DestroyHeapValue(copy, type);
        return false;
    }
    out = PSPointerValue{copy, type, 1};
    return true;
}

}  // namespace

bool TPSExec::SetPointer(const TPSDecodedInstr& in) {
    const bool copy = in.BaseOp == opSetPtrToCopy;
    TPSOperand d, s;
    if (!ResolveOperand(in.A(), d)) return false;
    if (in.A().IsConstant() || d.Type->BaseType != btPointer) {
        FailAt(in.A().End, erInvalidOpcodeParameter);
        return false;
    }
    if (!ResolveOperand(in.B(), s)) return false;
    if (!copy && in.B().IsConstant()) {
        FailAt(in.End, erInvalidOpcodeParameter);
        return false;
    }
    // A Pointer source gives what it points at (SetPtr takes its address
    // and type words as they are, also when nil).
    const void* from = s.Address;
    const TPSTypeRec* type = s.Type;
    if (type->BaseType == btPointer) {
        const auto source = LoadAs<PSPointerValue>(s.Address);
        from = source.Address;
        type = source.Type;
    }
    const auto old = LoadAs<PSPointerValue>(d.Address);
    PSPointerValue target{const_cast<void*>(from), type, 0};
    if (copy) {
        // The copy is made before the old one goes: the source may lie
        // inside it. A nil source makes the destination all zero.
        target = PSPointerValue{};
        if (from != nullptr && type != nullptr && !OwnedCopy(from, type, target)) {
            FailAt(in.End, ErTypeMismatch);
            return false;
        }
    } else if (old.OwnsCopy != 0 && from != nullptr) {
        // The copy it owned is released, unless the new target lies inside
        // it: then the pointer owns a copy of the target instead, so nothing
        // is left pointing into freed storage.
        const auto* begin = static_cast<const std::byte*>(old.Address);
        const auto* at = static_cast<const std::byte*>(from);
        if (at >= begin && at < begin + old.Type->RealSize && !OwnedCopy(from, type, target)) {
            FailAt(in.End, ErTypeMismatch);
            return false;
        }
    }
    StoreAs(d.Address, target);
    if (old.OwnsCopy != 0) DestroyHeapValue(old.Address, old.Type);
    return true;
}

// ------------------------------------------------------------ the loop

namespace {

}  // namespace

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
    dispatch[opInc] = &&op_step;
    dispatch[opDec] = &&op_step;
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

    auto push = [this](const TPSTypeRec* type, std::uint32_t at) { return PushOrFail(type, at); };

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

        op_assign: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            TPSOperand d, s;
            if (!ResolveOperand(in.A(), d) || !ResolveOperand(in.B(), s)) goto fail;
            const std::uint32_t next = in.Next;
            if (!AssignSameBase(d.Address, s.Address, d.Type, s.Type)) {
                position_ = in.End;
                if (!AssignValue(d.Address, s.Address, d.Type, s.Type)) goto fail;
                pc = VOSTREL_AT(next);
                VOSTREL_RELOAD();
                VOSTREL_NEXT();
            }
            if (in.Op == opAssign && MakesQuickForms() && QuickOperand(stack_, stack_base_, in.Held(0), d.Type) && QuickOperand(stack_, stack_base_, in.Held(1), s.Type)) {
                QuickNextTo(in, Threaded(instrs, in.Next));
                if (IsInt32(d.Type) && IsInt32(s.Type)) in.Op = qpAssign32;
                else if (d.Type->RealSize == 1) in.Op = qpAssign8;
                else if (d.Type->BaseType == btString) in.Op = qpAssignString;
            }
            pc = VOSTREL_AT(next);
            VOSTREL_NEXT();
        }

        op_calc: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            TPSOperand d, s;
            if (!ResolveOperand(in.A(), d) || !ResolveOperand(in.B(), s)) goto fail;
            const std::uint8_t base = d.Type->BaseType;
            // s := s + x: the text grows in s, and the assignment after
            // this Calc is done with it.
            if (base == btString && !attention_ && in.Next != kNoInstr) {
                const TPSDecodedInstr& assign = instrs[in.Next];
                if (assign.Next != kNoInstr &&
                    AppendForAssignment(stack_, stack_base_, in, assign, d.Address, s.Address, s.Type)) {
                    pc = VOSTREL_AT(assign.Next);
                    VOSTREL_NEXT();
                }
            }
            const bool integers = IsInt32Base(base) && IsInt32(s.Type);
            if (integers && in.Sub <= caXor && in.Op == opCalc && MakesQuickForms() &&
                QuickOperand(stack_, stack_base_, in.Held(0), d.Type) && QuickOperand(stack_, stack_base_, in.Held(1), s.Type)) {
                // Worth a quick form; the general form runs this time.
                QuickNextTo(in, Threaded(instrs, in.Next));
                in.Op = FormOfCalc(kQuickForms, in.Sub);
            }
            std::uint32_t r = 0;
            if (integers && Calc32(in.Sub, LoadAs<std::uint32_t>(d.Address), LoadAs<std::uint32_t>(s.Address),
                                   base == btS32, r)) {
                StoreAs(d.Address, r);
                pc = VOSTREL_AT(in.Next);
                VOSTREL_NEXT();
            }
            position_ = in.End;
            const std::uint32_t next = in.Next;
            if (!CalcValues(d.Address, s.Address, d.Type, s.Type, in.Sub)) goto fail;
            pc = VOSTREL_AT(next);
            VOSTREL_RELOAD();
            VOSTREL_NEXT();
        }

        op_compare: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            TPSOperand d, l, r;
            if (!ResolveOperand(in.A(), d) || !ResolveOperand(in.B(), l) || !ResolveOperand(in.C(), r)) goto fail;
            const std::uint8_t base = l.Type->BaseType;
            if (base == r.Type->BaseType && IsInt32Base(base) &&
                CompareInteger32(in.Sub, d.Address, d.Type, l.Address, r.Address, base)) {
                if (in.Op == opCompare && MakesQuickForms() && IsByteValue(d.Type) && QuickOperand(stack_, stack_base_, in.Held(0), d.Type) && QuickOperand(stack_, stack_base_, in.Held(1), l.Type) &&
                    QuickOperand(stack_, stack_base_, in.Held(2), r.Type))
                    in.Op = QuickCompare(instrs, in);
                pc = VOSTREL_AT(in.Next);
                VOSTREL_NEXT();
            }
            position_ = in.End;
            const std::uint32_t next = in.Next;
            if (!CompareValues(l.Address, r.Address, d.Address, l.Type, r.Type, d.Type, in.Sub)) goto fail;
            pc = VOSTREL_AT(next);
            VOSTREL_RELOAD();
            VOSTREL_NEXT();
        }

        op_push: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            TPSOperand s;
            if (!ResolveOperand(in.A(), s)) goto fail;
            const std::uint32_t next = in.Next;
            void* item = push(s.Type, in.End);
            if (item == nullptr) goto fail;
            position_ = in.End;
            if (!AssignValue(ValueOfTypedValue(item), s.Address, s.Type, s.Type)) goto fail;
            pc = VOSTREL_AT(next);
            VOSTREL_RELOAD();
            VOSTREL_NEXT();
        }

        op_push_var: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            TPSOperand v;
            if (!ResolveOperand(in.A(), v)) goto fail;
            PSPointerValue p{v.Address, v.Type, 0};
            if (v.Type->BaseType == btPointer) {
                const auto source = LoadAs<PSPointerValue>(v.Address);
                p = PSPointerValue{source.Address, source.Type, 0};
            }
            void* item = push(in.Type, in.End);
            if (item == nullptr) goto fail;
            StoreAs(ValueOfTypedValue(item), p);
            pc = VOSTREL_AT(in.Next);
            VOSTREL_NEXT();
        }

        op_push_type: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            if (push(in.Type, in.End) == nullptr) goto fail;
            if (in.Op == opPushType && MakesQuickForms() && IsInt32(in.Type)) {
                // A temporary that the next instruction assigns: both at
                // once from now on.
                const TPSDecodedInstr& next = instrs[in.Next];
                const std::int64_t offset = static_cast<std::int64_t>(stack_.Count()) - 1 - stack_base_;
                if (next.BaseOp == opAssign && next.A().Form == TPSOperandForm::Variable &&
                    next.A().Var.Place == TPSVarPlace::Stack && next.A().Var.Offset == offset &&
                    next.B().Form <= TPSOperandForm::Constant && next.Next != kNoInstr) {
                    const TPSTypeRec* source = SeenType(stack_, stack_base_, next.B().Var, next.B().Follow);
                    TPSDecodedOperand copy = next.B();
                    if (IsInt32(source) &&
                        QuickOperand(stack_, stack_base_, copy, source)) {
                        in.Held(0) = copy;
                        QuickNextTo(in, Threaded(instrs, next.Next));
                        in.Op = qpPushAssign32;
                    }
                }
            }
            pc = VOSTREL_AT(in.Next);
            VOSTREL_NEXT();
        }

        op_pop: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            void* top = stack_.Top();
            if (top == nullptr || IsReturnAddressItem(top)) {
                FailAt(in.End, erOutOfStackRange);
                goto fail;
            }
            const std::uint32_t next = in.Next;
            stack_.Pop();
            pc = VOSTREL_AT(next);
            // Releasing a value may have run host code.
            VOSTREL_RELOAD();
            VOSTREL_NEXT();
        }

        op_pop_goto: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            // Only items of the current frame are popped, never a return
            // address.
            const std::uint32_t count = in.BaseOp == opPopGoto ? 1 : 2;
            const std::int64_t left = std::int64_t{stack_.Count()} - count;
            if (left <= stack_base_ || IsReturnAddressItem(stack_.Top()) ||
                (count == 2 && IsReturnAddressItem(stack_.GetItem(stack_.Count() - 2)))) {
                FailAt(in.End, erOutOfStackRange);
                goto fail;
            }
            const std::uint32_t target = in.Target;
            const std::uint8_t ticks = in.JumpTicks;
            stack_.PopTo(static_cast<std::uint32_t>(left));
            VOSTREL_RELOAD();
            VOSTREL_GO(VOSTREL_AT(target), ticks);
        }

        op_goto:
            VOSTREL_GO(VOSTREL_AT(VOSTREL_IN(pc).Target), VOSTREL_IN(pc).JumpTicks);

        op_flag_goto:
            if (jump_flag_) VOSTREL_GO(VOSTREL_AT(VOSTREL_IN(pc).Target), VOSTREL_IN(pc).JumpTicks);
            VOSTREL_GO(VOSTREL_AT(VOSTREL_IN(pc).Next), 0);

        op_cond_goto: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            TPSOperand v;
            bool value = false;
            if (!ReadCondition(in, v, value)) goto fail;
            if (in.Op == in.BaseOp && MakesQuickForms() && IsByteValue(v.Type) && QuickOperand(stack_, stack_base_, in.Held(0), v.Type)) {
                in.QuickJumpWhen = in.BaseOp == opCondGoto;
                QuickTargetTo(in, JumpHop(instrs, in));
                QuickNextTo(in, Threaded(instrs, in.Next));
                in.Op = qpCondByte;
            }
            if (value == (in.BaseOp == opCondGoto)) VOSTREL_GO(VOSTREL_AT(in.Target), in.JumpTicks);
            VOSTREL_GO(VOSTREL_AT(in.Next), 0);
        }

        op_set_flag: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            TPSOperand v;
            bool value = false;
            if (!ReadCondition(in, v, value)) goto fail;
            jump_flag_ = in.Sub != 0 ? !value : value;
            if (in.Op == in.BaseOp && MakesQuickForms() && IsByteValue(v.Type) && QuickOperand(stack_, stack_base_, in.Held(0), v.Type)) {
                QuickNextTo(in, Threaded(instrs, in.Next));
                in.Op = in.A().Form == TPSOperandForm::Variable && FlagJumpFollows(instrs, in, in.A(), in) ? qpSetFlagJump
                                                                                                      : qpSetFlagByte;
            }
            pc = VOSTREL_AT(in.Next);
            VOSTREL_NEXT();
        }

        op_step: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            TPSOperand v;
            if (!ResolveOperand(in.A(), v)) goto fail;
            if (!StepInteger(v.Address, v.Type->BaseType, in.BaseOp == opInc ? 1 : ~std::uint64_t{0})) {
                FailAt(in.End, ErTypeMismatch);
                goto fail;
            }
            if (in.Op == in.BaseOp && MakesQuickForms() && IsInt32(v.Type) && QuickOperand(stack_, stack_base_, in.Held(0), v.Type)) {
                QuickNextTo(in, Threaded(instrs, in.Next));
                in.Op = in.BaseOp == opInc ? qpInc32 : qpDec32;
            }
            pc = VOSTREL_AT(in.Next);
            VOSTREL_NEXT();
        }

        op_unary: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            TPSOperand v;
            if (!ResolveOperand(in.A(), v)) goto fail;
            position_ = in.End;
            const std::uint32_t next = in.Next;
            bool ok = false;
            if (in.BaseOp == opBoolNot) {
                ok = BooleanNotValue(v.Address, v.Type);
            } else if (in.BaseOp == opNeg) {
                ok = NegateValue(v.Address, v.Type);
            } else {
                ok = IntNotValue(v.Address, v.Type);
            }
            if (!ok) goto fail;
            pc = VOSTREL_AT(next);
            VOSTREL_RELOAD();
            VOSTREL_NEXT();
        }

        op_set_ptr: {
            const std::uint32_t next = VOSTREL_IN(pc).Next;
            const bool quick = VOSTREL_IN(pc).Op == opSetPtr && MakesQuickForms() && QuickPointerSource(stack_, stack_base_, VOSTREL_IN(pc).Held(1));
            if (!SetPointer(VOSTREL_IN(pc))) goto fail;
            // (Releasing the old copy may have run host code.)
            VOSTREL_RELOAD();
            if (quick && QuickPointerDestination(stack_, stack_base_, VOSTREL_IN(pc).Held(0))) {
                QuickNextTo(VOSTREL_IN(pc), Threaded(instrs, next));
                VOSTREL_IN(pc).Op = qpSetPtr;
            }
            pc = VOSTREL_AT(next);
            VOSTREL_NEXT();
        }

        op_call: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            std::uint32_t number = in.Number;
            const std::uint32_t next = in.Next;
            const std::uint32_t end = in.End;
            if (in.BaseOp == opCallVar) {
                TPSOperand v;
                if (!ResolveOperand(in.A(), v)) goto fail;
                if (v.Type->BaseType != btProcPtr) {
                    FailAt(end, ErTypeMismatch);
                    goto fail;
                }
                const auto value = LoadAs<PSProcPtrValue>(v.Address);
                if (value.ProcNo == 0 && value.Object != nullptr) {
                    position_ = end;
                    const std::uint32_t items = stack_.Count();
                    if (!CallHostMethodValue(value, static_cast<const TPSTypeRec_ProcPtr&>(*v.Type).ParamInfo)) goto fail;
                    VOSTREL_RELOAD();
                    if (stack_.Count() != items) goto host_changed_stack;
                    VOSTREL_GO(VOSTREL_AT(next), 1);
                }
                number = value.ProcNo;
                if (number >= procs_.size() || number == main_proc_) {
                    FailAt(end, erOutOfProcRange);
                    goto fail;
                }
            }
            TPSProcRec* proc = procs_[number].get();
            if (proc->IsExternal()) {
                position_ = end;
                const std::uint32_t items = stack_.Count();
                if (!CallExternal(AsExternal(*proc))) goto fail;
                VOSTREL_RELOAD();
                if (stack_.Count() != items) goto host_changed_stack;
                VOSTREL_GO(VOSTREL_AT(next), 1);
            }
            void* item = push(return_address_type_.get(), end);
            if (item == nullptr) goto fail;
            EnterFrame(item, proc, CodeForEntry(proc, stack_.Count() - 1), end, next);
            VOSTREL_JUMP_TO(0);
            VOSTREL_GO(pc, 1);
        }

        host_changed_stack:
            VOSTREL_COLD;
            // A host function left the run stack with another count of
            // items: what the proof of this code rests on no longer holds.
            LeaveProvenCode();
            VOSTREL_JUMP_TO(VOSTREL_IN(pc).Pos);
            VOSTREL_GO(VOSTREL_AT(VOSTREL_IN(pc).Next), 1);

        op_ret: {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            if (!exception_frames_.empty() && ReturnThroughFrames(in.Pos)) {
                VOSTREL_JUMP_TO(position_);
                VOSTREL_NEXT();
            }
            if (stack_base_ == -1) {
                // The main procedure returned: the run is finished, also when
                // it had been paused on the way.
                position_ = in.End;
                status_ = TPSStatus::isLoaded;
                return;
            }
            if (stack_.Count() <= static_cast<std::uint32_t>(stack_base_)) {
                position_ = in.End;
                status_ = run_entry_;
                return;
            }
            stack_.PopTo(static_cast<std::uint32_t>(stack_base_) + 1);
            void* top = stack_.Top();
            if (!IsReturnAddressItem(top)) {
                FailAt(in.End, erOutOfStackRange);
                goto fail;
            }
            const auto back = LoadAs<PSReturnAddress>(ValueOfTypedValue(top));
            stack_.Pop();
            if (back.Proc == nullptr) {
                // The frame that the host made: its run ends here.
                stack_base_ = back.StackBase;
                position_ = back.Position;
                status_ = run_entry_;
                return;
            }
            ReturnInto(back);
            VOSTREL_RESUME(back);
            VOSTREL_NEXT();
        }

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
            {
            TPSDecodedInstr& in = VOSTREL_IN(pc);
            const TPSDecodedOperand* operands[3] = {&in.A(), &in.B(), &in.C()};
            TPSOperand ignored;
            for (std::uint8_t i = 0; i < in.OperandCount; ++i)
                if (!ResolveOperand(*operands[i], ignored)) goto fail;
            FailAt(in.FailPos, in.FailCode);
            goto fail;
        }

        op_invalid:
            VOSTREL_COLD;
            FailAt(VOSTREL_IN(pc).Pos + 1, erInvalidOpcode);
            goto fail;

        fail:
            VOSTREL_COLD;
            // An error was reported: a frame of the script may take it.
            if (status_ != TPSStatus::isLoaded && last_error_code_ != ErNoError && TakeErrorIntoFrame()) {
                status_ = TPSStatus::isRunning;
                attention_ = step_active_;
                VOSTREL_JUMP_TO(position_);
                VOSTREL_NEXT();
            }
            if (status_ == TPSStatus::isRunning) status_ = TPSStatus::isPaused;
            return;
        } catch (...) {
            // A value beyond the cap, or memory the system refused.
            ReportException(std::current_exception());
            if (status_ != TPSStatus::isLoaded && last_error_code_ != ErNoError && TakeErrorIntoFrame()) {
                status_ = TPSStatus::isRunning;
                attention_ = step_active_;
                VOSTREL_JUMP_TO(position_);
                continue;
            }
            if (status_ == TPSStatus::isRunning) status_ = TPSStatus::isPaused;
            return;
        }
    }
}

#undef VOSTREL_GO
#undef VOSTREL_NEXT
#undef VOSTREL_RELOAD
#undef VOSTREL_JUMP_TO

}  // namespace script::runtime
