// The choice of proven forms: once the stack shapes of a code are proven
// (stack_proof.h), each instruction whose operands the proof knows gets the
// form made for it, and the compiler's common sequences one form for all.
#include "script/runtime/shape_analysis.h"

#include <initializer_list>

#include "script/runtime/exec.h"
#include "script/runtime/operation_bodies.h"
#include "script/runtime/stack_proof.h"
#include "script/runtime/stack.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

using shape_proof::Frames;
using shape_proof::Items;
using shape_proof::Operand;
using shape_proof::Slot;
using shape_proof::State;

// Items that a proven form pushes and pops itself: nothing to release (a
// Pointer only when it owns no copy, which the pop checks), a small value.
bool IsPlainItem(const TPSTypeRec* t) {
    return t != nullptr && t->RealSize <= 24 &&
           (!t->NeedsFinalization() || t->BaseType == btPointer);
}

struct Edge {
    std::uint32_t To = kNoInstr;
    std::uint8_t Ticks = 0;
};

// The choice of forms for the instructions of a code whose stack shapes
// are proven.
class Prover : public shape_proof::StackProof {
  public:
    using StackProof::StackProof;

    // Gives the instructions their forms; false when the shapes cannot be
    // proven.
    bool Prove() {
        if (count_ == 0 || count_ > kMaxDecodedInstrs || !Flow()) return false;
        for (std::uint32_t i = 0; i < count_; ++i) {
            Give(i);
            // All operands in plain slots: the twin that checks nothing.
            TPSDecodedInstr& in = instrs_[i];
            if (in.Op >= ppAssign1 && in.Op <= ppPopString && in.QuickNext == kNoHop)
                in.Op = in.BaseOp;
            if (in.Op >= ppAssign1 && in.Op <= ppLastTwinned && in.Reach == 0)
                in.Op += kPlainSlotsTwin;
        }
        for (std::uint32_t i = 0; i < count_; ++i) GiveLoop(i);
        for (std::uint32_t i = 0; i < count_; ++i) GiveChain(instrs_[i]);
        return true;
    }

  private:
    // ---------------------------------------------------------------- forms

    Edge Via(std::uint32_t to, std::uint8_t ticks) const {
        // A Goto there is taken at once.
        if (to != kNoInstr && instrs_[to].BaseOp == opGoto)
            return Edge{instrs_[to].Target,
                        static_cast<std::uint8_t>(ticks + instrs_[to].JumpTicks)};
        return Edge{to, ticks};
    }
    Edge NextOf(const TPSDecodedInstr& in) const { return Via(in.Next, 0); }
    Edge JumpOf(const TPSDecodedInstr& in) const { return Via(in.Target, in.JumpTicks); }

    static void SetNext(TPSDecodedInstr& in, Edge e) {
        in.QuickNext = e.To == kNoInstr ? kNoHop : HopTo(e.To, e.Ticks);
    }
    static void SetTarget(TPSDecodedInstr& in, Edge e) {
        in.QuickTarget = e.To == kNoInstr ? kNoHop : HopTo(e.To, e.Ticks);
    }

    // The relation of a 32-bit comparison (CompareOperator) as the proven
    // forms test it.
    static void SetRelation(TPSDecodedInstr& in, std::uint8_t op, bool is_signed) {
        in.Relation = RelationBits(op);
        in.Flip = SignFlip(is_signed);
    }

    void Place(TPSDecodedInstr& in, int n, const Operand& o) {
        TPSSlotRef* refs[4] = {&in.PA, &in.PB, &in.PC, &in.PD};
        *refs[n] = o.Ref;
        if (o.Direct) return;
        code_->AccessToSet(in, n) = o.Access;
        in.Reach |= static_cast<std::uint8_t>(1u << n);
    }

    bool Int32(const Operand& o) const { return o.Provable && IsInt32(o.Type); }

    const TPSDecodedInstr* At(std::uint32_t i) const {
        return i == kNoInstr ? nullptr : &instrs_[i];
    }

    void Give(std::uint32_t i) {
        TPSDecodedInstr& in = instrs_[i];
        if (in.BaseOp == opRet) {
            in.Op = ppRet;
            return;
        }
        const State& s = states_[i];
        if (!s.Seen) return;
        switch (in.BaseOp) {
            case opAssign:
                GiveAssign(in, s);
                break;
            case opCalc:
                GiveCalc(in, s);
                break;
            case opCompare:
                GiveCompare(in, s);
                break;
            case opPushType:
                GivePushType(in, s);
                break;
            case opPop:
                GivePop(in, s);
                break;
            case opInc:
            case opDec: {
                const Operand v = Value(in.A(), s);
                if (!Int32(v)) break;
                Place(in, 0, v);
                SetNext(in, NextOf(in));
                in.Op = in.BaseOp == opInc ? ppInc32 : ppDec32;
                break;
            }
            case opCondGoto:
            case opCondNotGoto: {
                const Operand v = Value(in.A(), s);
                if (!v.Provable || !IsByteValue(v.Type)) break;
                Place(in, 0, v);
                in.QuickJumpWhen = in.BaseOp == opCondGoto;
                SetNext(in, NextOf(in));
                SetTarget(in, JumpOf(in));
                in.Op = ppCondByte;
                break;
            }
            case opPushVar: {
                if (GiveTopCall(in, s)) break;
                const Operand v = Value(in.A(), s);
                if (!v.Provable || !IsPlainItem(in.Type)) break;
                Place(in, 1, v);
                in.Size = StackItemBytes(in.Type);
                in.Sub2 = v.Type->BaseType == btPointer ? 1 : 0;
                in.Type2 = v.Type;
                SetNext(in, NextOf(in));
                in.Op = ppPushVar;
                break;
            }
            case opSetPtr: {
                const Operand d = Value(in.A(), s);
                const Operand v = Value(in.B(), s);
                if (!d.Provable || !d.Direct || d.Type->BaseType != btPointer || in.A().IsConstant())
                    break;
                if (!v.Provable || v.Type->BaseType == btPointer || in.B().IsConstant()) break;
                Place(in, 0, d);
                Place(in, 1, v);
                in.Type2 = v.Type;
                SetNext(in, NextOf(in));
                in.Op = ppSetPtr;
                break;
            }
            case opPush: {
                const Operand v = Value(in.A(), s);
                // Its item's type is what the general form finds: checked.
                if (v.Known && v.Expected) {
                    in.Type = v.Type;
                    in.Op = ppPushChecked;
                }
                break;
            }
            case opCall: {
                const TPSProcRec* callee = exec_.GetProc(in.Number);
                if (callee == nullptr || !callee->IsInternal()) break;
                SetNext(in, NextOf(in));
                in.Callee = nullptr;
                in.Op = ppCall;
                break;
            }
            case opPopExceptionHandler:
                in.Op = ppPopFrame;
                // The frame the proof expects on top: its instruction.
                in.QuickStep = s.Open.empty() ? kNoInstr : s.Open.back();
                break;
            default:
                break;
        }
    }

    void GiveAssign(TPSDecodedInstr& in, const State& s) {
        const Operand d = Value(in.A(), s);
        const Operand v = Value(in.B(), s);
        if (!d.Provable || !v.Provable || in.A().IsConstant()) return;
        std::uint8_t op = 0;
        if (d.Type->BaseType == btString && v.Type->BaseType == btString) {
            op = ppAssignString;
        } else if (d.Type->BaseType == btS64 && IsInt32(v.Type)) {
            // IntToStr(i) and n := i into an Int64.
            op = ppAssignWiden32;
            in.Signs = v.Type->BaseType == btS32 ? 1 : 0;
        } else if (IsUnsignedByte(v.Type) && (IsUnsignedByte(d.Type) || IsInt32(d.Type))) {
            // Ord(S[i]) and b := S[i]: a character's code goes on as a
            // number, zero-extended.
            op = IsInt32(d.Type) ? ppAssignWiden8 : ppAssign1;
        } else {
            switch (SameBaseBytes(d.Type, v.Type)) {
                case 1:
                    op = ppAssign1;
                    break;
                case 2:
                    op = ppAssign2;
                    break;
                case 4:
                    op = ppAssign4;
                    break;
                case 8:
                    op = ppAssign8;
                    break;
                default:
                    return;
            }
        }
        Place(in, 0, d);
        Place(in, 1, v);
        SetNext(in, NextOf(in));
        in.Op = op;
    }

    static std::uint8_t CalcForm(std::uint8_t op) { return FormOfCalc(kProvenForms, op); }

    void GiveCalc(TPSDecodedInstr& in, const State& s) {
        const Operand d = Value(in.A(), s);
        const Operand v = Value(in.B(), s);
        if (!Int32(d) || !Int32(v) || in.A().IsConstant() || CalcForm(in.Sub) == 0) return;
        Place(in, 0, d);
        Place(in, 1, v);
        in.Signs = d.Type->BaseType == btS32 ? 1 : 0;
        SetNext(in, NextOf(in));
        in.Op = CalcForm(in.Sub);
    }

    // A comparison of two 32-bit integers of one kind into a byte.
    bool ComparesInt32(const TPSDecodedInstr& c, const State& s, Operand& d, Operand& l,
                       Operand& r) const {
        if (c.BaseOp != opCompare || c.Sub > coEqual || c.A().IsConstant()) return false;
        d = Value(c.A(), s);
        l = Value(c.B(), s);
        r = Value(c.C(), s);
        return d.Provable && IsByteValue(d.Type) && Int32(l) && Int32(r) &&
               l.Type->BaseType == r.Type->BaseType;
    }

    void GiveCompare(TPSDecodedInstr& in, const State& s) {
        Operand d, l, r;
        if (!ComparesInt32(in, s, d, l, r)) return;
        Place(in, 0, d);
        Place(in, 1, l);
        Place(in, 2, r);
        SetRelation(in, in.Sub, l.Type->BaseType == btS32);
        SetNext(in, NextOf(in));
        in.Op = ppCompare32;
        const TPSCompareFollowers f = MatchCompareFollowers(instrs_, in);
        if (f.What == TPSCompareFollowers::kNone) return;
        in.QuickJumpWhen = f.JumpWhen;
        if (f.What == TPSCompareFollowers::kFlagJump) {
            // An if statement on a temporary pushed before: it is the top
            // item, which the Pop drops.
            if (!IsLocal(in.A(), static_cast<std::int32_t>(s.Stack.size()))) return;
            in.Size = StackItemBytes(s.Stack.back().Type);
        }
        SetNext(in, NextOf(*f.Jump));
        SetTarget(in, JumpOf(*f.Jump));
        in.QuickStep = f.Step;
        in.Op = f.What == TPSCompareFollowers::kLoopStep ? ppLoopStep32
                : f.What == TPSCompareFollowers::kJump   ? ppCompareJump32
                                                         : ppCompareFlag32;
    }

    void GivePushType(TPSDecodedInstr& in, const State& s) {
        if (GiveStringLength(in, s) || GiveStringCopy(in, s) || !IsPlainItem(in.Type)) return;
        in.Size = StackItemBytes(in.Type);
        SetNext(in, NextOf(in));
        in.Op = ppPushPlain;
        if (GiveIf(in, s) || GiveStringElement(in, s) || GiveTemp(in, s) || GiveElementStore(in, s))
            return;
    }

    // The instructions after one, each of the given opcode; nil where they
    // end or another opcode stands.
    bool Sequence(const TPSDecodedInstr& first, std::initializer_list<std::uint8_t> ops,
                  const TPSDecodedInstr** out) const {
        const TPSDecodedInstr* at = &first;
        for (const std::uint8_t op : ops) {
            at = At(at->Next);
            if (at == nullptr || at->BaseOp != op) return false;
            *out++ = at;
        }
        return true;
    }

    // An assignment to an element of an array at a computed index, as the
    // compiler writes it: a Pointer temporary p set to the array, an index
    // temporary u given the value of a 32-bit expression s, p set to the
    // element, the value assigned through p, and the temporaries popped.
    bool GiveElementStore(TPSDecodedInstr& in, const State& s) {
        if (in.Type->BaseType != btPointer) return false;
        const TPSDecodedInstr* at[11] = {};
        if (!Sequence(in,
                      {opSetPtr, opPushType, opPushType, opAssign, opCalc, opAssign, opPop, opSetPtr,
                       opPop, opAssign, opPop},
                      at))
            return false;
        const auto p = static_cast<std::int32_t>(s.Stack.size() + 1);
        const auto u = p + 1;
        const auto t = p + 2;
        const TPSDecodedInstr &set_array = *at[0], &push_u = *at[1], &push_t = *at[2],
                              &assign_t = *at[3], &calc_t = *at[4], &assign_u = *at[5],
                              &set_element = *at[7], &store = *at[9];
        if (!IsLocal(set_array.A(), p) || push_u.Type->BaseType != btU32 || !IsInt32(push_t.Type) ||
            !IsLocal(assign_t.A(), t) || !IsLocal(calc_t.A(), t) || CalcForm(calc_t.Sub) == 0 ||
            !IsLocal(assign_u.A(), u) || !IsLocal(assign_u.B(), t) || !IsLocal(set_element.A(), p) ||
            set_element.B().Form != TPSOperandForm::ElementIndex ||
            set_element.B().Var.Place != TPSVarPlace::Stack || set_element.B().Var.Offset != p ||
            set_element.B().Index.Place != TPSVarPlace::Stack || set_element.B().Index.Offset != u ||
            !IsLocal(store.A(), p))
            return false;
        // The array, the index's operands and the value, on the items before
        // the pushes: none names a temporary.
        const Operand array = Value(set_array.B(), s);
        if (!array.Provable || !array.Direct || set_array.B().Form != TPSOperandForm::Variable)
            return false;
        const std::uint8_t kind = array.Type->BaseType;
        if (kind != btArray && kind != btStaticArray) return false;
        const TPSTypeRec* element = AsArray(array.Type).ArrayType;
        const Operand x = Value(assign_t.B(), s);
        const Operand y = Value(calc_t.B(), s);
        const Operand v = Value(store.B(), s);
        if (!IsInt32(element) || !Int32(x) || !Int32(y) || !Int32(v)) return false;
        Place(in, 0, array);
        TPSProvenAccess& elements = code_->AccessToSet(in, 0);
        elements.Kind = kind == btArray ? paArrayElement : paStaticElement;
        elements.ElementSize = element->RealSize;
        elements.Count = kind == btStaticArray ? AsStaticArray(array.Type).Size : 0;
        Place(in, 1, x);
        Place(in, 2, y);
        Place(in, 3, v);
        in.Sub = calc_t.Sub;
        in.Signs = push_t.Type->BaseType == btS32 ? 1 : 0;
        // The room the general form's three pushes would need.
        in.Size = StackItemBytes(in.Type) + StackItemBytes(push_u.Type) + StackItemBytes(push_t.Type);
        SetNext(in, NextOf(*at[10]));
        in.Op = ppElementStore32;
        return true;
    }

    // Length(S) of a string compiles to a call of Length: a String
    // temporary t given S, a Pointer r to where the length goes, the call,
    // and the two popped.
    bool GiveStringLength(TPSDecodedInstr& in, const State& s) {
        if (in.Type == nullptr || in.Type->BaseType != btString) return false;
        const auto t = static_cast<std::int32_t>(s.Stack.size() + 1);
        const TPSDecodedInstr* at[5] = {};
        if (!Sequence(in, {opAssign, opPushVar, opCall, opPop, opPop}, at)) return false;
        const TPSDecodedInstr &assign = *at[0], &push_r = *at[1], &call = *at[2];
        if (!IsLocal(assign.A(), t) || !CallsIntrinsic(call, TPSIntrinsic::Length) || push_r.Type == nullptr ||
            push_r.Type->BaseType != btPointer || push_r.A().IsConstant())
            return false;
        // Taken on the items before the push: neither names the temporary.
        const Operand text = Value(assign.B(), s);
        const Operand r = Value(push_r.A(), s);
        if (!text.Provable || text.Type->BaseType != btString || !r.Provable || !IsInt32(r.Type)) return false;
        Place(in, 0, r);
        Place(in, 1, text);
        // The room the general form's two pushes would need.
        in.Size = StackItemBytes(in.Type) + StackItemBytes(push_r.Type);
        SetNext(in, AfterCall(*at[4]));
        in.Op = ppStringLength;
        return true;
    }

    // Copy(S, i, n) compiles to a call of Copy: an Integer temporary given n,
    // another given i, a String temporary given S, a Pointer r to the String
    // the piece goes to, the call, and the four popped.
    bool GiveStringCopy(TPSDecodedInstr& in, const State& s) {
        if (in.Type == nullptr || in.Type->BaseType != btS32) return false;
        const auto t = static_cast<std::int32_t>(s.Stack.size() + 1);
        const TPSDecodedInstr* at[10] = {};
        if (!Sequence(in, {opAssign, opPushType, opAssign, opPushType, opAssign, opPushVar, opCall, opPop, opPop, opPop},
                      at))
            return false;
        const TPSDecodedInstr &set_n = *at[0], &push_x = *at[1], &set_x = *at[2], &push_t = *at[3],
                              &set_t = *at[4], &push_r = *at[5], &call = *at[6];
        const TPSDecodedInstr* last = At(at[9]->Next);
        if (last == nullptr || last->BaseOp != opPop || !CallsIntrinsic(call, TPSIntrinsic::Copy)) return false;
        if (!IsLocal(set_n.A(), t) || push_x.Type == nullptr || push_x.Type->BaseType != btS32 ||
            !IsLocal(set_x.A(), t + 1) || push_t.Type == nullptr || push_t.Type->BaseType != btString ||
            !IsLocal(set_t.A(), t + 2) || push_r.Type == nullptr || push_r.Type->BaseType != btPointer ||
            push_r.A().IsConstant())
            return false;
        // Taken on the items before the pushes: none names a temporary. The
        // numbers are Integers as they are, so that the pushes copy them.
        const Operand n = Value(set_n.B(), s);
        const Operand x = Value(set_x.B(), s);
        const Operand text = Value(set_t.B(), s);
        const Operand r = Value(push_r.A(), s);
        if (!n.Provable || n.Type->BaseType != btS32 || !x.Provable || x.Type->BaseType != btS32 ||
            !text.Provable || text.Type->BaseType != btString || !r.Provable || r.Type->BaseType != btString)
            return false;
        Place(in, 0, r);
        Place(in, 1, text);
        Place(in, 2, x);
        Place(in, 3, n);
        // The room the general form's four pushes would need.
        in.Size = StackItemBytes(in.Type) + StackItemBytes(push_x.Type) + StackItemBytes(push_t.Type) +
                  StackItemBytes(push_r.Type);
        SetNext(in, AfterCall(*last));
        in.Op = ppStringCopy;
        return true;
    }

    // A function of one argument whose value E is the top item (a value
    // computed first), then a Pointer r to where its result goes, the call,
    // and both popped: Length(E) of a String into a 32-bit r, IntToStr(E) of
    // an Int64 into a String r.
    bool GiveTopCall(TPSDecodedInstr& in, const State& s) {
        if (s.Stack.empty() || s.Stack.back().Type == nullptr || in.Type == nullptr ||
            in.Type->BaseType != btPointer || in.A().IsConstant())
            return false;
        const std::uint8_t argument = s.Stack.back().Type->BaseType;
        const TPSDecodedInstr* at[3] = {};
        if (!Sequence(in, {opCall, opPop, opPop}, at)) return false;
        const Operand r = Value(in.A(), s);
        if (!r.Provable) return false;
        if (argument == btString && CallsIntrinsic(*at[0], TPSIntrinsic::Length) && IsInt32(r.Type)) {
            in.Op = ppTopLength;
        } else if (argument == btS64 && CallsIntrinsic(*at[0], TPSIntrinsic::IntToStr) &&
                   r.Type->BaseType == btString) {
            in.Op = ppTopIntToStr;
        } else {
            return false;
        }
        Place(in, 0, r);
        // The room the general form's push would need.
        in.Size = StackItemBytes(in.Type);
        SetNext(in, AfterCall(*at[2]));
        return true;
    }

    // Whether a Call calls the runtime's own function that the intrinsic names.
    bool CallsIntrinsic(const TPSDecodedInstr& call, TPSIntrinsic intrinsic) const {
        const TPSProcRec* callee = exec_.GetProc(call.Number);
        return callee != nullptr && callee->IsExternal() &&
               AsExternal(*callee).Intrinsic == intrinsic;
    }

    // Where a form that runs a host call in place goes on: after the last
    // instruction it takes along, the call counted as a tick, as it is
    // counted when it has returned.
    Edge AfterCall(const TPSDecodedInstr& last) const {
        Edge after = NextOf(last);
        after.Ticks = static_cast<std::uint8_t>(after.Ticks + 1);
        return after;
    }

    // A character of a string read as S[i] compiles to a call of StrGet: an
    // index temporary u given the value of a 32-bit expression, a Pointer
    // temporary p set to the string, a Pointer r to where the character
    // goes, the call, and the three popped.
    bool GiveStringElement(TPSDecodedInstr& in, const State& s) {
        if (!IsInt32(in.Type)) return false;
        const auto u = static_cast<std::int32_t>(s.Stack.size() + 1);
        const TPSDecodedInstr* assign = At(in.Next);
        if (assign == nullptr || assign->BaseOp != opAssign || !IsLocal(assign->A(), u)) return false;
        const TPSDecodedInstr* calc = At(assign->Next);
        const bool calculated = calc != nullptr && calc->BaseOp == opCalc && IsLocal(calc->A(), u);
        const TPSDecodedInstr* at[8] = {};
        if (!Sequence(calculated ? *calc : *assign,
                      {opPushType, opSetPtr, opPushVar, opCall, opPop, opPop, opPop}, at))
            return false;
        const TPSDecodedInstr &push_p = *at[0], &set_p = *at[1], &push_r = *at[2], &call = *at[3];
        if (!CallsIntrinsic(call, TPSIntrinsic::StrGet)) return false;
        if (push_p.Type == nullptr || push_p.Type->BaseType != btPointer || !IsLocal(set_p.A(), u + 1) ||
            push_r.Type == nullptr || push_r.Type->BaseType != btPointer)
            return false;
        // The index, the string and the character's place, on the items
        // before the pushes: none names a temporary. SetPtr takes a Pointer
        // (a var parameter) as it is, which StrGet then follows: the string
        // is its target.
        const Operand x = Value(assign->B(), s);
        const Operand y = calculated ? Value(calc->B(), s) : Operand{};
        TPSDecodedOperand string_operand = set_p.B();
        string_operand.Follow = true;
        const Operand text = Value(string_operand, s);
        const Operand r = Value(push_r.A(), s);
        if (!Int32(x) || (calculated && (!Int32(y) || CalcForm(calc->Sub) == 0)) || !text.Provable ||
            text.Type->BaseType != btString || set_p.B().IsConstant() || !r.Provable ||
            r.Type->BaseType != btChar || push_r.A().IsConstant())
            return false;
        Place(in, 0, r);
        Place(in, 1, x);
        if (calculated) Place(in, 2, y);
        Place(in, 3, text);
        in.Sub = calculated ? calc->Sub : kNoCalc;
        in.Signs = in.Type->BaseType == btS32 ? 1 : 0;
        // The room the general form's three pushes would need.
        in.Size = StackItemBytes(in.Type) + StackItemBytes(push_p.Type) + StackItemBytes(push_r.Type);
        SetNext(in, AfterCall(*at[6]));
        in.Op = ppStringElement;
        return true;
    }

    // PushType t, Compare into t (or into a second temporary t2 copied to
    // t), SetFlag on t, Pop of t, FlagGoto: the condition of an if
    // statement, which leaves nothing on the stack.
    bool GiveIf(TPSDecodedInstr& in, const State& s) {
        if (!IsByteValue(in.Type)) return false;
        const auto t = static_cast<std::int32_t>(s.Stack.size() + 1);
        const TPSDecodedInstr* c = At(in.Next);
        std::uint32_t pushed = in.Size;
        const TPSDecodedInstr* after = nullptr;
        if (c != nullptr && c->BaseOp == opPushType && IsByteValue(c->Type)) {
            // The second form: PushType t2; Compare into t2; Assign t, t2;
            // Pop (t2).
            const TPSDecodedInstr* compare = At(c->Next);
            const TPSDecodedInstr* copy = compare != nullptr ? At(compare->Next) : nullptr;
            const TPSDecodedInstr* pop = copy != nullptr ? At(copy->Next) : nullptr;
            if (pop == nullptr || !IsLocal(compare->A(), t + 1) || copy->BaseOp != opAssign ||
                !IsLocal(copy->A(), t) || !IsLocal(copy->B(), t + 1) || pop->BaseOp != opPop ||
                copy->A().Follow != copy->B().Follow)
                return false;
            if (SameBaseBytes(c->Type, in.Type) != 1) return false;
            pushed += StackItemBytes(c->Type);
            after = At(pop->Next);
            c = compare;
        } else {
            if (c == nullptr || !IsLocal(c->A(), t)) return false;
            after = At(c->Next);
        }
        // The operands are taken on the items before the push: one that
        // names the new temporary is not proven.
        Operand l, r;
        if (c->BaseOp != opCompare || !CompareOperands(*c, s, l, r)) return false;
        const TPSDecodedInstr* set_flag = after;
        const TPSDecodedInstr* pop =
            set_flag != nullptr && set_flag->BaseOp == opSetFlag ? At(set_flag->Next) : nullptr;
        const TPSDecodedInstr* jump =
            pop != nullptr && pop->BaseOp == opPop ? At(pop->Next) : nullptr;
        if (jump == nullptr || jump->BaseOp != opFlagGoto || !IsLocal(set_flag->A(), t)) return false;
        in.Sub = c->Sub;
        SetRelation(in, c->Sub, l.Type->BaseType == btS32);
        Place(in, 1, l);
        Place(in, 2, r);
        in.QuickJumpWhen = set_flag->Sub == 0;
        // The room the general form would need for its pushes.
        in.Size = pushed;
        SetNext(in, NextOf(*jump));
        SetTarget(in, JumpOf(*jump));
        in.Op = ppIf32;
        return true;
    }

    // The left and right operands of a 32-bit comparison whose result goes
    // into a temporary not yet pushed.
    bool CompareOperands(const TPSDecodedInstr& c, const State& s, Operand& l, Operand& r) const {
        if (c.Sub > coEqual) return false;
        l = Value(c.B(), s);
        r = Value(c.C(), s);
        return Int32(l) && Int32(r) && l.Type->BaseType == r.Type->BaseType;
    }

    // PushType t; Assign t, B; Calc op t, C, and then either the item stays
    // (an argument), or Calc op2 A, t or Assign A, t and its Pop follow.
    bool GiveTemp(TPSDecodedInstr& in, const State& s) {
        if (!IsInt32(in.Type)) return false;
        const auto t = static_cast<std::int32_t>(s.Stack.size() + 1);
        const TPSDecodedInstr* assign = At(in.Next);
        if (assign == nullptr || assign->BaseOp != opAssign || !IsLocal(assign->A(), t)) return false;
        const Operand x = Value(assign->B(), s);
        if (!Int32(x)) return false;
        in.Signs = in.Type->BaseType == btS32 ? 1 : 0;
        Place(in, 1, x);
        const TPSDecodedInstr* calc = At(assign->Next);
        const Operand y = calc != nullptr && calc->BaseOp == opCalc && IsLocal(calc->A(), t)
                              ? Value(calc->B(), s)
                              : Operand{};
        if (!Int32(y) || CalcForm(calc->Sub) == 0) {
            SetNext(in, NextOf(*assign));
            in.Op = ppPushAssign;
            return true;
        }
        in.Sub = calc->Sub;
        Place(in, 2, y);
        SetNext(in, NextOf(*calc));
        in.Op = ppPushCalc;
        // The value goes on into a variable below, and the temporary goes.
        const TPSDecodedInstr* use = At(calc->Next);
        if (GiveBoundStep(in, s, t, use)) return true;
        const TPSDecodedInstr* pop = use != nullptr ? At(use->Next) : nullptr;
        if (pop == nullptr || pop->BaseOp != opPop || use->A().IsConstant()) return true;
        const bool calc_use = use->BaseOp == opCalc && CalcForm(use->Sub) != 0;
        if ((!calc_use && use->BaseOp != opAssign) || !IsLocal(use->B(), t)) return true;
        const Operand d = Value(use->A(), s);
        if (!Int32(d)) return true;
        Place(in, 0, d);
        in.Sub2 = use->Sub;
        in.Signs |= d.Type->BaseType == btS32 ? 2 : 0;
        SetNext(in, NextOf(*pop));
        in.Op = calc_use ? ppTempCalc : ppTempAssign;
        return true;
    }

    // The rest of a for loop's step to a bound in the temporary t: Compare
    // c, i, t; Pop; Inc or Dec i; CondGoto or CondNotGoto on c.
    bool GiveBoundStep(TPSDecodedInstr& in, const State& s, std::int32_t t,
                       const TPSDecodedInstr* compare) {
        if (compare == nullptr || compare->BaseOp != opCompare || compare->Sub > coEqual ||
            !IsLocal(compare->C(), t) || compare->A().IsConstant())
            return false;
        const TPSDecodedInstr* pop = At(compare->Next);
        const TPSDecodedInstr* step =
            pop != nullptr && pop->BaseOp == opPop ? At(pop->Next) : nullptr;
        if (step == nullptr || (step->BaseOp != opInc && step->BaseOp != opDec) ||
            !SameVar(step->A(), compare->B()))
            return false;
        const TPSDecodedInstr* jump = At(step->Next);
        if (jump == nullptr || (jump->BaseOp != opCondGoto && jump->BaseOp != opCondNotGoto) ||
            !SameVar(jump->A(), compare->A()))
            return false;
        // Taken on the items before the push: none names the temporary.
        const Operand c = Value(compare->A(), s);
        const Operand i = Value(compare->B(), s);
        if (!c.Provable || !IsByteValue(c.Type) || !Int32(i) ||
            i.Type->BaseType != in.Type->BaseType)
            return false;
        Place(in, 0, c);
        Place(in, 3, i);
        SetRelation(in, compare->Sub, i.Type->BaseType == btS32);
        in.QuickStep = step->BaseOp == opInc ? 1u : ~0u;
        in.QuickJumpWhen = jump->BaseOp == opCondGoto;
        SetNext(in, NextOf(*jump));
        SetTarget(in, JumpOf(*jump));
        in.Op = ppBoundStep32;
        return true;
    }

    // A push that goes on, with no tick, to a call or to the push of a
    // reference to a variable in a plain slot (a call's arguments): the
    // next form is taken at once.
    void GiveChain(TPSDecodedInstr& in) {
        const std::uint8_t form = FormOf(in);
        if (form != ppPushVar && form != ppPushCalc && form != ppPushAssign && in.Op != ppPushPlain) return;
        if (in.QuickNext == kNoHop || HopTicks(in.QuickNext) != 0) return;
        const TPSDecodedInstr& next = instrs_[HopInstr(in.QuickNext)];
        if (next.Op == ppCall) in.Chain = kChainCall;
        if (next.Op == ppPushVar + kPlainSlotsTwin) in.Chain = kChainPushVar;
    }

    // The proven form of an instruction, with or without its twin for
    // plain slots; 0 when it has none.
    static std::uint8_t FormOf(const TPSDecodedInstr& in) {
        if (in.Op >= ppAssign1 + kPlainSlotsTwin && in.Op <= ppLastTwinned + kPlainSlotsTwin)
            return static_cast<std::uint8_t>(in.Op - kPlainSlotsTwin);
        return in.Op >= ppAssign1 && in.Op <= ppLastTwinned ? in.Op : 0;
    }

    // Whether the operands that are not plain slots are all Pointer targets:
    // found once, they stay where they are while a loop of such forms runs
    // (it writes integers only, never a Pointer).
    bool TargetsOnly(const TPSDecodedInstr& in) const {
        for (int n = 0; n < 4; ++n)
            if ((in.Reach & (1u << n)) != 0 && code_->AccessOf(in, n).Kind != paTarget) return false;
        return true;
    }

    // A loop whose body is one 32-bit Calc that cannot fail: the whole loop
    // as one step.
    void GiveLoop(std::uint32_t i) {
        TPSDecodedInstr& body = instrs_[i];
        const std::uint8_t calc = FormOf(body);
        if ((ProvenFlags(calc) & kFusable) == 0 || body.QuickNext == kNoHop || !TargetsOnly(body))
            return;
        TPSDecodedInstr& next = instrs_[HopInstr(body.QuickNext)];
        const std::uint8_t form = FormOf(next);
        if (!TargetsOnly(next) || next.QuickNext == kNoHop || HopInstr(next.QuickNext) != i) return;
        // for: the step goes on at the Calc.
        if (HopTicks(body.QuickNext) == 0 && (form == ppLoopStep32 || form == ppBoundStep32)) {
            body.Op = ppForCalc;
            return;
        }
        // while: the Calc goes on at the comparison, which goes on at the
        // Calc.
        if (form == ppCompareJump32 && HopTicks(next.QuickNext) == 0) next.Op = ppWhileCalc;
    }

    void GivePop(TPSDecodedInstr& in, const State& s) {
        if (!s.Stack.empty() && s.Stack.back().Type != nullptr && s.Stack.back().Type->BaseType == btString) {
            SetNext(in, NextOf(in));
            in.Op = ppPopString;
            return;
        }
        if (s.Stack.empty() || !IsPlainItem(s.Stack.back().Type)) return;
        in.Size = StackItemBytes(s.Stack.back().Type);
        in.Sub2 = s.Stack.back().Type->BaseType == btPointer ? 1 : 0;
        SetNext(in, NextOf(in));
        in.Op = ppPopPlain;
        const TPSDecodedInstr* next = At(in.Next);
        if (next == nullptr || next->BaseOp != opPop || s.Stack.size() < 2) return;
        const TPSTypeRec* below = s.Stack[s.Stack.size() - 2].Type;
        if (!IsPlainItem(below)) return;
        in.Sub2 |= below->BaseType == btPointer ? 2 : 0;
        SetNext(in, NextOf(*next));
        in.Op = ppPop2Plain;
    }

};

}  // namespace

std::unique_ptr<TPSDecodedCode> ProveCode(const TPSExec& exec, TPSDecodedCode& general,
                                          const TPSEntryShape& entry, bool fresh) {
    if (entry.Targets.size() != entry.Params.size()) return nullptr;
    if (fresh && !general.RunsSharedList()) {
        // The proof changes nothing until the shapes are proven (the stack
        // proof only reads): a failed one leaves the list as decoded.
        Prover prover(exec, general, entry);
        if (!prover.Prove()) return nullptr;
        return std::make_unique<TPSDecodedCode>(TPSDecodedCode::TakeFrom{general});
    }
    auto code = std::make_unique<TPSDecodedCode>(TPSDecodedCode::CopyOf{general});
    Prover prover(exec, *code, entry);
    if (!prover.Prove()) return nullptr;
    return code;
}

}  // namespace script::runtime
