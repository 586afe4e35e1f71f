// The instruction loop: runs decoded procedures with call frames on the run
// stack, exception frames, and the error unwinding that offers an error to
// the script's own frames before it stops the run.
//
// The program counter is an instruction number of the current procedure's
// decoded code. Byte positions (position_) are written only where someone
// may observe them: before an error is reported, before a host function
// runs, in return addresses, and when the loop ends.
#include <cstring>

#include "script/runtime/exec.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/operand_resolution.h"
#include "script/runtime/operators.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_layout.h"
#include "script/runtime/value_lifetime.h"

namespace script::runtime {

namespace {

bool IsPlainInteger32(std::uint8_t base) { return base == btS32 || base == btU32; }

// The common assignments: a value to another of the same base that holds
// no reference. False when the general assignment must do it.
inline bool AssignSameBase(void* dest, const void* src, const TPSTypeRec* dest_type, const TPSTypeRec* src_type) {
    const std::uint8_t base = dest_type->BaseType;
    if (base != src_type->BaseType) return false;
    switch (base) {
    case btU8: case btS8: case btChar: std::memcpy(dest, src, 1); return true;
    case btU16: case btS16: std::memcpy(dest, src, 2); return true;
    case btU32: case btS32: case btSingle: std::memcpy(dest, src, 4); return true;
    case btDouble: case btS64: case btCurrency: std::memcpy(dest, src, 8); return true;
    case btString: ShareStringSlot(dest, src); return true;
    default: return false;
    }
}

// Calc of two 32-bit integers of one kind for the operators that cannot
// fail; false for the others (division and shifts check their operands).
inline bool CalcInteger32(std::uint8_t op, void* left, const void* right) {
    const auto a = LoadAs<std::uint32_t>(left);
    const auto b = LoadAs<std::uint32_t>(right);
    std::uint32_t r = 0;
    switch (op) {
    case caAdd: r = a + b; break;
    case caSub: r = a - b; break;
    case caMul: r = a * b; break;
    case caAnd: r = a & b; break;
    case caOr: r = a | b; break;
    case caXor: r = a ^ b; break;
    default: return false;
    }
    StoreAs(left, r);
    return true;
}

// Compare of two 32-bit integers of one kind into a byte result.
inline bool CompareInteger32(std::uint8_t op, void* result, const TPSTypeRec* result_type, const void* left,
                             const void* right, std::uint8_t base) {
    if (op > coEqual || (result_type->BaseType != btU8 && result_type->BaseType != btS8)) return false;
    bool r = false;
    if (base == btS32) {
        r = Relation(op, LoadAs<std::int32_t>(left), LoadAs<std::int32_t>(right));
    } else {
        r = Relation(op, LoadAs<std::uint32_t>(left), LoadAs<std::uint32_t>(right));
    }
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

void TPSExec::EnterCode(const TPSProcRec* proc) {
    current_proc_ = proc;
    if (proc != nullptr && proc->IsInternal()) {
        auto& internal = AsInternal(const_cast<TPSProcRec&>(*proc));
        code_ = internal.Code.data();
        code_length_ = static_cast<std::uint32_t>(internal.Code.size());
        decoded_ = internal.Decoded.get();
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
    if (status_ == TPSStatus::isLoaded) exception_frames_.clear();
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
        EnterCode(main);
        position_ = 0;
        stack_base_ = -1;
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
    if (status_ == TPSStatus::isLoaded) {
        // A finished or stopped run leaves nothing behind it, except what a
        // run below it (through a host function) still uses.
        stack_.PopTo(run_floor_);
        if (run_depth_ == 0) {
            temporaries_.Clear();
            if (CleanupAfterRun) ResetGlobals();
        }
    }
    return last_error_code_ == ErNoError;
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
    EnterCode(frame.CurrProc);
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
        // The error supersedes a return that waited for this frame.
        f.PendingReturn = kNoOffset;
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

// ------------------------------------------------------------ the loop

void TPSExec::Execute(TPSStatus entry) {
    std::uint32_t pc = decoded_->EntryAt(position_);
    const TPSDecodedInstr* instrs = decoded_->Instrs();

    // Continues at a position of the current code.
    auto jump_to = [&](std::uint32_t position) {
        pc = decoded_->EntryAt(position);
        instrs = decoded_->Instrs();
    };
    // After anything that may have run the script again (a host function):
    // the list may have grown.
    auto reload = [&] { instrs = decoded_->Instrs(); };
    // Pushes on the run stack; a full run stack is error 11.
    auto push = [&](const TPSTypeRec* type, std::uint32_t at) -> void* {
        try {
            return stack_.PushType(type);
        } catch (const EPSOutOfMemory&) {
            FailAt(at, erOutOfStackRange);
            return nullptr;
        }
    };

    for (;;) {
        if (attention_) {
            if (status_ != TPSStatus::isRunning) {
                position_ = instrs[pc].Pos;
                return;
            }
            attention_ = step_active_;
            if (step_active_) {
                position_ = instrs[pc].Pos;
                StepNotify();
                attention_ = true;
                reload();
            }
        }
        const TPSDecodedInstr& in = instrs[pc];
        try {
            switch (in.Op) {
            case opAssign: {
                TPSOperand d, s;
                if (!ResolveOperand(in.A, d) || !ResolveOperand(in.B, s)) goto fail;
                if (!AssignSameBase(d.Address, s.Address, d.Type, s.Type)) {
                    position_ = in.End;
                    const std::uint32_t next = in.Next;
                    if (!AssignValue(d.Address, s.Address, d.Type, s.Type)) goto fail;
                    pc = next;
                    reload();
                    continue;
                }
                pc = in.Next;
                continue;
            }

            case opCalc: {
                TPSOperand d, s;
                if (!ResolveOperand(in.A, d) || !ResolveOperand(in.B, s)) goto fail;
                const std::uint8_t base = d.Type->BaseType;
                if (base == s.Type->BaseType && IsPlainInteger32(base) && CalcInteger32(in.Sub, d.Address, s.Address)) {
                    pc = in.Next;
                    continue;
                }
                position_ = in.End;
                const std::uint32_t next = in.Next;
                if (!CalcValues(d.Address, s.Address, d.Type, s.Type, in.Sub)) goto fail;
                pc = next;
                reload();
                continue;
            }

            case opCompare: {
                TPSOperand d, l, r;
                if (!ResolveOperand(in.A, d) || !ResolveOperand(in.B, l) || !ResolveOperand(in.C, r)) goto fail;
                const std::uint8_t base = l.Type->BaseType;
                if (base == r.Type->BaseType && IsPlainInteger32(base) &&
                    CompareInteger32(in.Sub, d.Address, d.Type, l.Address, r.Address, base)) {
                    pc = in.Next;
                    continue;
                }
                position_ = in.End;
                const std::uint32_t next = in.Next;
                if (!CompareValues(l.Address, r.Address, d.Address, l.Type, r.Type, d.Type, in.Sub)) goto fail;
                pc = next;
                reload();
                continue;
            }

            case opPush: {
                TPSOperand s;
                if (!ResolveOperand(in.A, s)) goto fail;
                const std::uint32_t next = in.Next;
                void* item = push(s.Type, in.End);
                if (item == nullptr) goto fail;
                position_ = in.End;
                if (!AssignValue(ValueOfTypedValue(item), s.Address, s.Type, s.Type)) goto fail;
                pc = next;
                reload();
                continue;
            }

            case opPushVar: {
                TPSOperand v;
                if (!ResolveOperand(in.A, v)) goto fail;
                PSPointerValue p{v.Address, v.Type, 0};
                if (v.Type->BaseType == btPointer) {
                    const auto source = LoadAs<PSPointerValue>(v.Address);
                    p = PSPointerValue{source.Address, source.Type, 0};
                }
                void* item = push(in.Type, in.End);
                if (item == nullptr) goto fail;
                StoreAs(ValueOfTypedValue(item), p);
                pc = in.Next;
                continue;
            }

            case opPushType: {
                if (push(in.Type, in.End) == nullptr) goto fail;
                pc = in.Next;
                continue;
            }

            case opPop: {
                void* top = stack_.Top();
                if (top == nullptr || IsReturnAddressItem(top)) {
                    FailAt(in.End, erOutOfStackRange);
                    goto fail;
                }
                const std::uint32_t next = in.Next;
                stack_.Pop();
                pc = next;
                // Releasing a value may have run host code.
                reload();
                continue;
            }

            case opPopGoto:
            case opPop2Goto: {
                // Only items of the current frame are popped, never a
                // return address.
                const std::uint32_t count = in.Op == opPopGoto ? 1 : 2;
                const std::int64_t left = std::int64_t{stack_.Count()} - count;
                if (left <= stack_base_ || IsReturnAddressItem(stack_.Top()) ||
                    (count == 2 && IsReturnAddressItem(stack_.GetItem(stack_.Count() - 2)))) {
                    FailAt(in.End, erOutOfStackRange);
                    goto fail;
                }
                const std::uint32_t target = in.Target;
                stack_.PopTo(static_cast<std::uint32_t>(left));
                pc = target;
                reload();
                continue;
            }

            case opGoto:
            case opFlagGoto:
                if (in.Op == opGoto || jump_flag_) {
                    pc = in.Target;
                } else {
                    pc = in.Next;
                }
                continue;

            case opCondGoto:
            case opCondNotGoto: {
                TPSOperand v;
                if (!ResolveOperand(in.A, v)) goto fail;
                bool value = false;
                if (!ConditionValue(v.Address, v.Type->BaseType, value)) {
                    FailAt(in.End, erInvalidType);
                    goto fail;
                }
                pc = value == (in.Op == opCondGoto) ? in.Target : in.Next;
                continue;
            }

            case opSetFlag: {
                TPSOperand v;
                if (!ResolveOperand(in.A, v)) goto fail;
                bool value = false;
                if (!ConditionValue(v.Address, v.Type->BaseType, value)) {
                    FailAt(in.End, erInvalidType);
                    goto fail;
                }
                jump_flag_ = in.Sub != 0 ? !value : value;
                pc = in.Next;
                continue;
            }

            case opInc:
            case opDec: {
                TPSOperand v;
                if (!ResolveOperand(in.A, v)) goto fail;
                if (!StepInteger(v.Address, v.Type->BaseType, in.Op == opInc ? 1 : ~std::uint64_t{0})) {
                    FailAt(in.End, ErTypeMismatch);
                    goto fail;
                }
                pc = in.Next;
                continue;
            }

            case opBoolNot:
            case opNeg:
            case opIntNot: {
                TPSOperand v;
                if (!ResolveOperand(in.A, v)) goto fail;
                position_ = in.End;
                const std::uint32_t next = in.Next;
                bool ok = false;
                if (in.Op == opBoolNot) {
                    ok = BooleanNotValue(v.Address, v.Type);
                } else if (in.Op == opNeg) {
                    ok = NegateValue(v.Address, v.Type);
                } else {
                    ok = IntNotValue(v.Address, v.Type);
                }
                if (!ok) goto fail;
                pc = next;
                reload();
                continue;
            }

            case opSetPtr: {
                TPSOperand d, s;
                if (!ResolveOperand(in.A, d)) goto fail;
                if (in.A.IsConstant() || d.Type->BaseType != btPointer) {
                    FailAt(in.A.End, erInvalidOpcodeParameter);
                    goto fail;
                }
                if (!ResolveOperand(in.B, s)) goto fail;
                if (in.B.IsConstant()) {
                    FailAt(in.End, erInvalidOpcodeParameter);
                    goto fail;
                }
                PSPointerValue target{s.Address, s.Type, 0};
                if (s.Type->BaseType == btPointer) {
                    const auto source = LoadAs<PSPointerValue>(s.Address);
                    target = PSPointerValue{source.Address, source.Type, 0};
                }
                const auto old = LoadAs<PSPointerValue>(d.Address);
                if (old.OwnsCopy != 0) {
                    // The copy it owned is released, unless the new target
                    // lies inside it: then the pointer owns a copy of the
                    // target instead, so nothing is left pointing into
                    // freed storage.
                    const auto* begin = static_cast<const std::byte*>(old.Address);
                    const auto* at = static_cast<const std::byte*>(target.Address);
                    const bool inside = at >= begin && at < begin + old.Type->RealSize;
                    if (inside && target.Address != nullptr) {
                        void* copy = CreateHeapValue(target.Type);
                        if (!CopyValues(copy, target.Address, 1, target.Type)) {
                            DestroyHeapValue(copy, target.Type);
                            FailAt(in.End, ErTypeMismatch);
                            goto fail;
                        }
                        target = PSPointerValue{copy, target.Type, 1};
                    }
                    StoreAs(d.Address, target);
                    DestroyHeapValue(old.Address, old.Type);
                } else {
                    StoreAs(d.Address, target);
                }
                pc = in.Next;
                reload();
                continue;
            }

            case opSetPtrToCopy: {
                TPSOperand d, s;
                if (!ResolveOperand(in.A, d)) goto fail;
                if (in.A.IsConstant() || d.Type->BaseType != btPointer) {
                    FailAt(in.A.End, erInvalidOpcodeParameter);
                    goto fail;
                }
                if (!ResolveOperand(in.B, s)) goto fail;
                const void* from = s.Address;
                const TPSTypeRec* type = s.Type;
                if (type->BaseType == btPointer) {
                    const auto source = LoadAs<PSPointerValue>(s.Address);
                    from = source.Address;
                    type = source.Type;
                }
                const auto old = LoadAs<PSPointerValue>(d.Address);
                PSPointerValue fresh;
                if (from != nullptr && type != nullptr) {
                    // The copy is made before the old one goes: the source
                    // may lie inside it.
                    void* copy = CreateHeapValue(type);
                    if (!CopyValues(copy, from, 1, type)) {
                        DestroyHeapValue(copy, type);
                        FailAt(in.End, ErTypeMismatch);
                        goto fail;
                    }
                    fresh = PSPointerValue{copy, type, 1};
                }
                StoreAs(d.Address, fresh);
                if (old.OwnsCopy != 0) DestroyHeapValue(old.Address, old.Type);
                pc = in.Next;
                reload();
                continue;
            }

            case opCall:
            case opCallVar: {
                std::uint32_t number = in.Number;
                if (in.Op == opCallVar) {
                    TPSOperand v;
                    if (!ResolveOperand(in.A, v)) goto fail;
                    if (v.Type->BaseType != btProcPtr) {
                        FailAt(in.End, ErTypeMismatch);
                        goto fail;
                    }
                    const auto value = LoadAs<PSProcPtrValue>(v.Address);
                    if (value.ProcNo == 0 && value.Object != nullptr) {
                        position_ = in.End;
                        const std::uint32_t next = in.Next;
                        if (!CallHostMethodValue(value, static_cast<const TPSTypeRec_ProcPtr&>(*v.Type).ParamInfo))
                            goto fail;
                        pc = next;
                        reload();
                        continue;
                    }
                    number = value.ProcNo;
                    if (number >= procs_.size() || number == main_proc_) {
                        FailAt(in.End, erOutOfProcRange);
                        goto fail;
                    }
                }
                TPSProcRec* proc = procs_[number].get();
                if (proc->IsExternal()) {
                    position_ = in.End;
                    const std::uint32_t next = in.Next;
                    if (!CallExternal(AsExternal(*proc))) goto fail;
                    pc = next;
                    reload();
                    continue;
                }
                void* item = push(return_address_type_.get(), in.End);
                if (item == nullptr) goto fail;
                StoreAs(ValueOfTypedValue(item), PSReturnAddress{current_proc_, in.End, stack_base_});
                stack_base_ = static_cast<std::int32_t>(stack_.Count() - 1);
                EnterCode(proc);
                jump_to(0);
                continue;
            }

            case opRet: {
                const std::uint32_t here = in.Pos;
                bool into_finally = false;
                while (!exception_frames_.empty()) {
                    TPSExceptionHandler& f = *exception_frames_.back();
                    if (f.Barrier) break;
                    const bool mine = f.BasePtr == stack_base_ || (f.BasePtr > stack_base_ && f.BasePtr != -1);
                    if (!mine) break;
                    stack_.PopTo(f.StackSize);
                    std::uint32_t block = kNoOffset;
                    if (f.FinallyOffset != kNoOffset) {
                        block = f.FinallyOffset;
                        f.FinallyOffset = kNoOffset;
                    } else if (f.Finally2Offset != kNoOffset) {
                        block = f.Finally2Offset;
                        f.Finally2Offset = kNoOffset;
                    }
                    if (block != kNoOffset) {
                        // The return runs again once the block has ended.
                        f.PendingReturn = here;
                        ResumeInFrame(f, block);
                        into_finally = true;
                        break;
                    }
                    exception_frames_.pop_back();
                }
                if (into_finally) {
                    jump_to(position_);
                    continue;
                }
                if (stack_base_ == -1) {
                    // The main procedure returned: the run is finished, also
                    // when it had been paused on the way.
                    position_ = in.End;
                    status_ = TPSStatus::isLoaded;
                    return;
                }
                if (stack_.Count() <= static_cast<std::uint32_t>(stack_base_)) {
                    position_ = in.End;
                    status_ = entry;
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
                stack_base_ = back.StackBase;
                if (back.Proc == nullptr) {
                    // The frame that the host made: its run ends here.
                    position_ = back.Position;
                    status_ = entry;
                    return;
                }
                EnterCode(back.Proc);
                jump_to(back.Position);
                continue;
            }

            case opPushExceptionHandler: {
                auto frame = std::make_unique<TPSExceptionHandler>();
                frame->CurrProc = current_proc_;
                frame->BasePtr = stack_base_;
                frame->StackSize = stack_.Count();
                frame->FinallyOffset = in.Offsets[0];
                frame->ExceptOffset = in.Offsets[1];
                frame->Finally2Offset = in.Offsets[2];
                frame->EndOfBlock = in.Offsets[3];
                exception_frames_.push_back(std::move(frame));
                pc = in.Next;
                continue;
            }

            case opPopExceptionHandler: {
                if (exception_frames_.empty() || exception_frames_.back()->Barrier) {
                    FailAt(in.End, ErOutOfRange);
                    goto fail;
                }
                TPSExceptionHandler& f = *exception_frames_.back();
                std::uint32_t block = kNoOffset;
                switch (in.Sub) {
                case phEndOfTry:
                    if (f.FinallyOffset != kNoOffset) {
                        block = f.FinallyOffset;
                        f.FinallyOffset = kNoOffset;
                    } else if (f.Finally2Offset != kNoOffset) {
                        block = f.Finally2Offset;
                        f.Finally2Offset = kNoOffset;
                    }
                    break;
                case phEndOfFinally:
                    if (last_error_code_ != ErNoError && f.ExceptOffset != kNoOffset &&
                        f.ExceptOffset != kExceptEntered) {
                        block = f.ExceptOffset;
                        f.PendingReturn = kNoOffset;
                        MoveErrorIntoFrame(f);
                    } else if (f.Finally2Offset != kNoOffset) {
                        block = f.Finally2Offset;
                        f.Finally2Offset = kNoOffset;
                    }
                    break;
                case phEndOfExcept:
                    f.ExceptOffset = kNoOffset;
                    if (f.Finally2Offset != kNoOffset) {
                        block = f.Finally2Offset;
                        f.Finally2Offset = kNoOffset;
                    }
                    break;
                default:
                    break;
                }
                if (block != kNoOffset) {
                    jump_to(block);
                    continue;
                }
                // The statement is done: the frame goes, and the run goes on
                // where it waited, unless an error is still pending.
                const std::uint32_t after = f.PendingReturn != kNoOffset ? f.PendingReturn : f.EndOfBlock;
                exception_frames_.pop_back();
                if (in.Sub != phEndOfExcept && last_error_code_ != ErNoError) {
                    std::exception_ptr object = std::move(last_error_object_);
                    last_error_object_ = nullptr;
                    ReportErrorAt(last_error_proc_, last_error_pos_, last_error_code_, last_error_param_,
                                  std::move(object));
                    goto fail;
                }
                jump_to(after);
                continue;
            }

            case opNop:
                pc = in.Next;
                continue;

            case popOutOfRange:
                FailAt(in.Pos, ErOutOfRange);
                goto fail;

            case popFail: {
                const TPSDecodedOperand* operands[3] = {&in.A, &in.B, &in.C};
                TPSOperand ignored;
                for (std::uint8_t i = 0; i < in.OperandCount; ++i)
                    if (!ResolveOperand(*operands[i], ignored)) goto fail;
                FailAt(in.FailPos, in.FailCode);
                goto fail;
            }

            default:
                FailAt(in.Pos + 1, erInvalidOpcode);
                goto fail;
            }
        } catch (...) {
            // A value beyond the cap, or memory the system refused.
            ReportException(std::current_exception());
        }

    fail:
        // An error was reported: a frame of the script may take it.
        if (status_ != TPSStatus::isLoaded && last_error_code_ != ErNoError && TakeErrorIntoFrame()) {
            status_ = TPSStatus::isRunning;
            attention_ = step_active_;
            jump_to(position_);
            continue;
        }
        if (status_ == TPSStatus::isRunning) status_ = TPSStatus::isPaused;
        return;
    }
}

}  // namespace script::runtime
