#include "script/runtime/decoded_code.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "script/runtime/constant_reader.h"
#include "script/runtime/errors.h"
#include "script/runtime/exec.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

// The kind byte and the address or type word of an operand.
constexpr std::uint32_t kOperandHeadBytes = 5;

std::uint32_t LongAt(const std::uint8_t* at) { return LoadAs<std::uint32_t>(at); }

// Whether an operand of an opcode stands for what a Pointer points at.
struct OperandUse {
    bool Follow;
    bool MustBeVariable;  // a constant is error 6, known when decoding
};

TPSDecodedVar DecodeVar(const TPSExec& exec, std::uint32_t address, bool element) {
    TPSDecodedVar v;
    if (address < kGlobalAddressLimit) {
        void* item = exec.GlobalItem(address);
        if (item == nullptr) {
            v.Place = TPSVarPlace::Missing;
            v.FailCode = erOutOfGlobalVarsRange;
            return v;
        }
        v.Place = TPSVarPlace::Fixed;
        v.Value = ValueOfTypedValue(item);
        v.Type = TypeOfTypedValue(item);
        return v;
    }
    // Taken modulo 2^32 from the stack base, so that an address below the
    // base names no item rather than a wrapped one.
    v.Place = TPSVarPlace::Stack;
    v.Offset = static_cast<std::int32_t>(address - kStackBaseAddress);
    v.FailCode = element ? erOutOfStackRange : erOutOfGlobalVarsRange;
    return v;
}

bool MakeConstant(const std::uint8_t* code, std::uint32_t length, std::uint32_t& pos, TPSStack& constants,
                  const TPSTypeRec* type, TPSDecodedOperand& out) {
    const std::uint32_t count = constants.Count();
    void* value = ValueOfTypedValue(constants.PushType(type));
    std::size_t at = pos;
    const std::string_view bytes(reinterpret_cast<const char*>(code), length);
    if (ReadConstantValue(bytes, at, type, value) != TPSConstantRead::crOk) {
        constants.PopTo(count);
        return false;
    }
    pos = static_cast<std::uint32_t>(at);
    out.Var.Place = TPSVarPlace::Fixed;
    out.Var.Value = value;
    out.Var.Type = type;
    return true;
}

}  // namespace

bool DecodeOperand(const TPSExec& exec, const std::uint8_t* code, std::uint32_t length, std::uint32_t& pos,
                   TPSStack& constants, TPSDecodedOperand& out) {
    auto broken = [&](std::uint8_t error, std::uint32_t at) {
        out.Form = TPSOperandForm::Broken;
        out.FailCode = error;
        out.End = at;
        return false;
    };
    if (pos > length || length - pos < kOperandHeadBytes) return broken(ErOutOfRange, pos);
    const std::uint8_t kind = code[pos];
    const std::uint32_t word = LongAt(code + pos + 1);
    pos += kOperandHeadBytes;
    out.HeadEnd = pos;
    out.End = pos;
    switch (kind) {
    case okVariable:
        out.Form = TPSOperandForm::Variable;
        out.Var = DecodeVar(exec, word, false);
        return true;
    case okConstant: {
        const TPSTypeRec* type = exec.GetType(word);
        // Only types with a constant form are made: a constant of any other
        // type would be refused after its value was made.
        if (type == nullptr || !HasConstantForm(type->BaseType)) return broken(erInvalidType, pos);
        if (!MakeConstant(code, length, pos, constants, type, out)) return broken(ErOutOfRange, out.HeadEnd);
        out.Form = TPSOperandForm::Constant;
        out.End = pos;
        return true;
    }
    case okElementNumber:
    case okElementIndex:
        out.Var = DecodeVar(exec, word, true);
        if (length - pos < 4) {
            out.Form = TPSOperandForm::ElementShort;
            return false;
        }
        out.Number = LongAt(code + pos);
        pos += 4;
        out.End = pos;
        if (kind == okElementIndex) {
            out.Form = TPSOperandForm::ElementIndex;
            out.Index = DecodeVar(exec, out.Number, true);
        } else {
            out.Form = TPSOperandForm::ElementNumber;
        }
        return true;
    default:
        return broken(erInvalidOpcodeParameter, pos);
    }
}

TPSDecodedCode::TPSDecodedCode(const TPSExec& exec, const std::vector<std::uint8_t>& code)
    : exec_(exec),
      general_(this),
      code_(code.data()),
      length_(static_cast<std::uint32_t>(code.size())) {
    // Constants of one procedure stay within what one value may take.
    constants_.SetMaxBytes(kMaxValueBytes);
    constants_.SetGrowingPages(true);
    instrs_.reserve(code.size() / 4 + 1);
    staging_ = true;
    if (length_ > 0) EntryAt(0);
    PlaceStaged();
    // What the code needs, not what was reserved for it: the list is kept
    // for as long as the image is loaded (and copied for each proven form).
    instrs_.shrink_to_fit();
    frame_offsets_.shrink_to_fit();
    for (const TPSDecodedInstr& in : instrs_) {
        for (const TPSDecodedOperand* o : {&in.A(), &in.B(), &in.C()}) {
            for (const TPSDecodedVar* v : {&o->Var, &o->Index}) {
                if (v->Place == TPSVarPlace::Stack && v->Offset < 0)
                    param_slots_ = std::max(param_slots_, static_cast<std::uint32_t>(-static_cast<std::int64_t>(v->Offset)));
            }
        }
    }
}

namespace {

// An instruction as decoded, without the forms that runs or a proof gave
// it. None of them changes what its general handler reads: the proof also
// writes the operator of a PushType that heads a form and the type a
// checked Push expects, which their general handlers do not read, and
// which a proof of the copy writes anew where it gives those forms.
void ClearForms(TPSDecodedInstr& in) {
    TPSDecodedInstr plain;
    in.Op = in.BaseOp;
    in.QuickNext = in.QuickTarget = kNoHop;
    in.QuickStep = 0;
    in.QuickJumpWhen = false;
    in.Sub2 = plain.Sub2;
    in.Reach = plain.Reach;
    in.Signs = plain.Signs;
    in.Relation = plain.Relation;
    in.Chain = plain.Chain;
    in.Size = plain.Size;
    in.Flip = plain.Flip;
    in.Access = plain.Access;
    in.PA = in.PB = in.PC = in.PD = TPSSlotRef{};
    in.Type2 = plain.Type2;
    in.Callee = plain.Callee;
}

}  // namespace

TPSDecodedCode::TPSDecodedCode(FormOf form)
    : exec_(form.General.exec_),
      general_(&form.General),
      code_(form.General.code_),
      length_(form.General.length_),
      param_slots_(form.General.param_slots_) {
    constants_.SetMaxBytes(kMaxValueBytes);
    constants_.SetGrowingPages(true);
}

TPSDecodedCode::TPSDecodedCode(CopyOf copy) : TPSDecodedCode(FormOf{copy.General}) {
    const TPSDecodedCode& list = *copy.General.list_;
    instrs_ = list.instrs_;
    starts_ = list.starts_;
    frame_offsets_ = list.frame_offsets_;
    // The forms the general code's runs (or the proof of another shape,
    // when it shares that one's list) gave its instructions are not taken
    // over. Its operands are the general code's, read only: a proven code
    // gives no quick forms, which would note the types they saw in them.
    for (TPSDecodedInstr& in : instrs_) ClearForms(in);
}

TPSDecodedCode::TPSDecodedCode(TakeFrom take) : TPSDecodedCode(FormOf{take.General}) {
    instrs_ = std::move(take.General.instrs_);
    starts_ = take.General.starts_;
    accesses_ = std::move(take.General.accesses_);
    frame_offsets_ = std::move(take.General.frame_offsets_);
    take.General.list_ = this;
    take.General.instrs_ = std::vector<TPSDecodedInstr>();
    take.General.accesses_ = std::vector<TPSProvenAccess>();
    take.General.frame_offsets_ = std::vector<FrameOffsetList>();
}

std::uint32_t TPSDecodedCode::DecodeEntry(std::uint32_t pos) {
    if (pos >= length_) return OutOfRangeAt(pos);
    index_of_pos_.assign(length_, kNoInstr);
    for (const Start& s : *starts_)
        if (s.Pos < length_) index_of_pos_[s.Pos] = s.Instr;
    const auto first = static_cast<std::uint32_t>(instrs_.size());
    const std::uint32_t entry = DecodeRun(pos);
    LinkTargets(first);
    // The positions beyond the code lie after those inside it.
    std::vector<Start> starts;
    starts.reserve(instrs_.size());
    for (std::uint32_t p = 0; p < length_; ++p)
        if (index_of_pos_[p] != kNoInstr) starts.push_back(Start{p, index_of_pos_[p]});
    for (const Start& s : *starts_)
        if (s.Pos >= length_) starts.push_back(s);
    starts_ = std::make_shared<const std::vector<Start>>(std::move(starts));
    // Given back, not only emptied ("= {}" would keep the capacity).
    index_of_pos_ = std::vector<std::uint32_t>();
    return entry;
}

std::uint32_t TPSDecodedCode::OutOfRangeAt(std::uint32_t pos) {
    const std::uint32_t found = Find(pos);
    if (found != kNoInstr) return found;
    if (instrs_.size() >= kMaxDecodedInstrs) throw EPSOutOfMemory();
    TPSDecodedInstr in;
    in.Op = popOutOfRange;
    in.BaseOp = popOutOfRange;
    in.Pos = pos;
    in.End = pos;
    HoldOperands(in, nullptr);
    const auto index = static_cast<std::uint32_t>(instrs_.size());
    instrs_.push_back(in);
    auto starts = std::make_shared<std::vector<Start>>(*starts_);
    const auto at = std::lower_bound(starts->begin(), starts->end(), pos,
                                     [](const Start& s, std::uint32_t p) { return s.Pos < p; });
    starts->insert(at, Start{pos, index});
    starts_ = std::move(starts);
    return index;
}

std::uint32_t TPSDecodedCode::DecodeRun(std::uint32_t pos) {
    const auto first = static_cast<std::uint32_t>(instrs_.size());
    for (;;) {
        // A hop names an instruction by a 32-bit offset into the list.
        if (instrs_.size() >= kMaxDecodedInstrs) throw EPSOutOfMemory();
        TPSDecodedInstr in;
        TPSDecodedOperand operands[3];
        DecodeInstr(pos, in, operands);
        // A PushType's quick form keeps the source of the Assign it takes
        // along as its operand.
        if (in.Op == opPushType) in.OpsHeld = 1;
        HoldOperands(in, operands);
        const auto index = static_cast<std::uint32_t>(instrs_.size());
        index_of_pos_[pos] = index;
        in.BaseOp = in.Op;
        const bool goes_on = FallsThrough(in);
        const std::uint32_t next = in.End;
        instrs_.push_back(in);
        if (!goes_on) break;
        if (next >= length_) {
            const std::uint32_t stop = OutOfRangeAt(next);
            instrs_[index].Next = stop;
            break;
        }
        if (index_of_pos_[next] != kNoInstr) {
            instrs_[index].Next = index_of_pos_[next];
            break;
        }
        instrs_[index].Next = static_cast<std::uint32_t>(instrs_.size());
        pos = next;
    }
    return first;
}

void TPSDecodedCode::LinkTargets(std::uint32_t first) {
    // New runs may be decoded while linking; they are linked in turn, as
    // the loop goes on over the growing list.
    for (std::uint32_t i = first; i < instrs_.size(); ++i) {
        const std::uint8_t op = instrs_[i].Op;
        const bool jumps = op == opGoto || op == opCondGoto || op == opCondNotGoto || op == opFlagGoto ||
                           op == opPopGoto || op == opPop2Goto;
        if (jumps) {
            // Every instruction from first on is new: its Target is still
            // the position it jumps to.
            const std::uint32_t target_pos = instrs_[i].Target;
            std::uint32_t target = kNoInstr;
            if (target_pos >= length_) {
                target = OutOfRangeAt(target_pos);
            } else if (index_of_pos_[target_pos] != kNoInstr) {
                target = index_of_pos_[target_pos];
            } else {
                target = DecodeRun(target_pos);
            }
            instrs_[i].Target = target;
        }
        if (op == opPushExceptionHandler) {
            // The blocks of a frame are entered by position; decoding them
            // now keeps a run from decoding while it unwinds.
            const FrameOffsetList offsets = FrameOffsets(instrs_[i]);
            for (std::uint32_t offset : offsets) {
                if (offset != kNoOffset && offset < length_ && index_of_pos_[offset] == kNoInstr) DecodeRun(offset);
            }
        }
    }
}

bool TPSDecodedCode::FallsThrough(const TPSDecodedInstr& in) const {
    switch (in.Op) {
    case opGoto:
    case opRet:
    case opPopGoto:
    case opPop2Goto:
    case popFail:
    case popOutOfRange:
        return false;
    default:
        return true;
    }
}

const TPSDecodedOperand TPSDecodedInstr::kNoOperand{};

void TPSDecodedCode::HoldOperands(TPSDecodedInstr& in, const TPSDecodedOperand* operands) {
    operand_count_ += in.OpsHeld;
    if (staging_) {
        staged_at_.push_back(static_cast<std::uint32_t>(staged_.size()));
        staged_.insert(staged_.end(), operands, operands + in.OpsHeld);
        in.Ops = nullptr;
        return;
    }
    if (in.OpsHeld == 0) {
        in.Ops = nullptr;
        return;
    }
    auto block = std::make_unique<TPSDecodedOperand[]>(in.OpsHeld);
    std::copy(operands, operands + in.OpsHeld, block.get());
    in.Ops = block.get();
    operand_blocks_.push_back(std::move(block));
}

void TPSDecodedCode::PlaceStaged() {
    staging_ = false;
    auto block = std::make_unique<TPSDecodedOperand[]>(staged_.size());
    std::copy(staged_.begin(), staged_.end(), block.get());
    for (std::size_t i = 0; i < staged_at_.size(); ++i)
        if (instrs_[i].OpsHeld != 0) instrs_[i].Ops = block.get() + staged_at_[i];
    operand_blocks_.push_back(std::move(block));
    // Given back, not only emptied: assigning {} keeps a vector's capacity,
    // and every procedure would hold its staging tables for good.
    staged_ = std::vector<TPSDecodedOperand>();
    staged_at_ = std::vector<std::uint32_t>();
}

void TPSDecodedCode::DecodeInstr(std::uint32_t pos, TPSDecodedInstr& in, TPSDecodedOperand (&operands)[3]) {
    in.Pos = pos;
    in.Op = code_[pos];
    std::uint32_t p = pos + 1;
    std::uint8_t read = 0;

    // The instruction reports an error once its operands so far resolved.
    auto fail = [&](std::uint8_t code, std::uint32_t at) {
        in.Op = popFail;
        in.OperandCount = read;
        in.FailCode = code;
        in.FailPos = at;
        in.End = at;
        return false;
    };
    auto byte = [&](std::uint8_t& out) {
        if (p >= length_) return fail(ErOutOfRange, p);
        out = code_[p++];
        return true;
    };
    auto word = [&](std::uint32_t& out) {
        if (length_ - p < 4) return fail(ErOutOfRange, p);
        out = LongAt(code_ + p);
        p += 4;
        return true;
    };
    auto operand = [&](OperandUse use) {
        TPSDecodedOperand& o = operands[read++];
        in.OpsHeld = read;
        o.Follow = use.Follow;
        if (!DecodeOperand(exec_, code_, length_, p, constants_, o)) {
            // The operand reports its own error when resolved.
            in.Op = popFail;
            in.OperandCount = read;
            in.FailCode = 0;
            in.End = p;
            return false;
        }
        if (use.MustBeVariable && o.IsConstant()) return fail(erInvalidOpcodeParameter, p);
        return true;
    };
    // Linked to its instruction by LinkTargets.
    auto jump_from = [&](std::uint32_t rel_at_end, std::uint32_t rel) {
        in.Target = rel_at_end + rel;
        // A jump back to this instruction or before it counts for the
        // executor's tick hook.
        in.JumpTicks = in.Target <= pos ? 1 : 0;
    };

    constexpr OperandUse kValue{true, false};
    constexpr OperandUse kVariable{true, true};
    constexpr OperandUse kReference{false, false};

    switch (in.Op) {
    case opAssign:
        if (!operand(kVariable) || !operand(kValue)) return;
        break;
    case opCalc:
    case opCompare:
        if (!byte(in.Sub) || !operand(kVariable) || !operand(kValue)) return;
        if (in.Op == opCompare && !operand(kValue)) return;
        break;
    case opPush:
        if (!operand(kValue)) return;
        break;
    case opPushVar:
        if (!operand(OperandUse{false, true})) return;
        in.Type = exec_.PointerType();
        // An image without a Pointer type has nothing to push.
        if (in.Type == nullptr) {
            fail(erInvalidType, p);
            return;
        }
        break;
    case opPop:
    case opRet:
    case opNop:
        break;
    case opCall:
        if (!word(in.Number)) return;
        if (in.Number >= exec_.ProcCount()) {
            fail(erOutOfProcRange, p);
            return;
        }
        break;
    case opGoto:
    case opFlagGoto:
    case opPopGoto:
    case opPop2Goto: {
        std::uint32_t rel = 0;
        if (!word(rel)) return;
        jump_from(p, rel);
        break;
    }
    case opCondGoto:
    case opCondNotGoto: {
        std::uint32_t rel = 0;
        if (!word(rel) || !operand(kValue)) return;
        jump_from(p, rel);
        break;
    }
    case opPushType:
        if (!word(in.Number)) return;
        in.Type = exec_.GetType(in.Number);
        if (in.Type == nullptr) {
            fail(erInvalidType, p);
            return;
        }
        break;
    case opCallVar:
        if (!operand(kValue)) return;
        break;
    case opSetPtr:
    case opSetPtrToCopy:
        // Whether the operands are variables is told in the order of the
        // checks of the destination's type.
        if (!operand(kReference) || !operand(kReference)) return;
        break;
    case opBoolNot:
    case opNeg:
    case opIntNot:
    case opInc:
    case opDec:
        if (!operand(kVariable)) return;
        break;
    case opSetFlag:
        if (!operand(kValue) || !byte(in.Sub)) return;
        break;
    case opPushExceptionHandler: {
        if (length_ - p < 16) {
            fail(ErOutOfRange, p);
            return;
        }
        const std::uint32_t after = p + 16;
        FrameOffsetList offsets;
        for (std::uint32_t& offset : offsets) {
            offset = LongAt(code_ + p);
            p += 4;
            if (offset == kNoOffset) continue;
            offset += after;
            if (offset >= length_) {
                fail(ErOutOfRange, after);
                return;
            }
        }
        in.Number = static_cast<std::uint32_t>(frame_offsets_.size());
        frame_offsets_.push_back(offsets);
        break;
    }
    case opPopExceptionHandler:
        if (!byte(in.Sub)) return;
        if (in.Sub > phEndOfSecondFinally) {
            fail(erInvalidOpcodeParameter, p);
            return;
        }
        break;
    default:
        fail(erInvalidOpcode, p);
        return;
    }
    in.End = p;
}

}  // namespace script::runtime
