// The operand layer: compiler temporaries on the run stack, bringing any
// value into a form that fits one instruction operand, writing operands, and
// the code of unary and binary nodes and of assignments.
#include <cstdint>
#include <limits>

#include "script/compiler/compiler.h"
#include "script/compiler/compiler_constants.h"
#include "script/compiler/compiler_values.h"
#include "script/compiler/image_writer.h"

namespace script::compiler {

// ============================================================ operands

std::unique_ptr<TPSValueAllocatedStackVar> TPSPascalCompiler::AllocStackVar(TPSType* type) {
    TPSInternalProcedure* proc = block_->Proc;
    TPSPascalParser& p = Parser();
    auto pv = std::make_unique<TPSProcVar>();
    pv->AType = type;
    pv->Used = true;
    pv->DeclarePos = static_cast<std::int32_t>(p.CurrTokenPos());
    pv->DeclareRow = static_cast<std::int32_t>(p.Row());
    pv->DeclareCol = static_cast<std::int32_t>(p.Col());
    proc->ProcVars.push_back(std::move(pv));
    auto v = std::make_unique<TPSValueAllocatedStackVar>(proc);
    v->SetPos(static_cast<std::int32_t>(p.CurrTokenPos()), static_cast<std::int32_t>(p.Row()),
              static_cast<std::int32_t>(p.Col()));
    v->LocalVarNo = static_cast<std::uint32_t>(proc->ProcVars.size() - 1);
    return v;
}

std::unique_ptr<TPSValueAllocatedStackVar> TPSPascalCompiler::AllocTempVar(TPSType* type) {
    type = ResolveTypeLink(type);
    UseType(type);
    auto v = AllocStackVar(type);
    BlockWriteByte(Code(), opPushType);
    BlockWriteLong(Code(), static_cast<std::uint32_t>(type->FinalTypeNo));
    return v;
}

std::unique_ptr<TPSValueAllocatedStackVar> TPSPascalCompiler::AllocPointerVar(TPSType* element) {
    auto v = AllocTempVar(BuiltinType(btPointer));
    block_->Proc->ProcVars[v->LocalVarNo]->AType = element;
    return v;
}

std::uint32_t TPSPascalCompiler::GetVarAddress(const TPSValue* v) const {
    if (const auto* g = As<TPSValueGlobalVar>(v)) return GlobalVarAddress(g->GlobalVarNo);
    if (const auto* l = As<TPSValueLocalVar>(v)) return LocalVarAddress(l->LocalVarNo);
    if (const auto* p = As<TPSValueParamVar>(v)) return ParamVarAddress(p->ParamNo);
    return kInvalidAddress;
}

namespace {
std::unique_ptr<TPSValue> MakeReplace(std::unique_ptr<TPSValue> old_value, std::unique_ptr<TPSValue> new_value) {
    auto r = std::make_unique<TPSValueReplace>();
    r->SetPos(old_value->Pos, old_value->Row, old_value->Col);
    r->OldValue.Own(std::move(old_value));
    r->NewValue.Own(std::move(new_value));
    r->PreWriteAllocated = true;
    r->ReplaceTimes = 1;
    return r;
}

// The values of an ordinal base type; false for any other. An enumeration
// is stored in at most 32 bits.
bool OrdinalRange(std::uint8_t base, std::int64_t& low, std::int64_t& high) {
    switch (base) {
    case btU8: case btChar: low = 0; high = 0xFF; return true;
    case btS8: low = -0x80; high = 0x7F; return true;
    case btU16: low = 0; high = 0xFFFF; return true;
    case btS16: low = -0x8000; high = 0x7FFF; return true;
    case btU32: case btEnum: low = 0; high = 0xFFFFFFFF; return true;
    case btS32: low = -0x80000000LL; high = 0x7FFFFFFF; return true;
    case btS64:
        low = std::numeric_limits<std::int64_t>::min();
        high = std::numeric_limits<std::int64_t>::max();
        return true;
    default: return false;
    }
}

// Whether assigning a value of type source straight to a destination of
// type dest stores what assigning its cast to type cast would: the same
// type, or an integer destination and a cast that keeps every value of the
// source (Ord of a Char or a Byte into an Integer).
bool AssignsAsCast(TPSType* source, TPSType* cast, TPSType* dest) {
    if (ResolveTypeLink(dest) == cast) return true;
    std::int64_t sourceLow = 0, sourceHigh = 0, castLow = 0, castHigh = 0;
    return IsIntType(BaseOf(dest)) && OrdinalRange(BaseOf(source), sourceLow, sourceHigh) &&
           OrdinalRange(BaseOf(cast), castLow, castHigh) && castLow <= sourceLow && sourceHigh <= castHigh;
}

}  // namespace

bool TPSPascalCompiler::PreWriteOperand(std::unique_ptr<TPSValue>& v, TPSType* expected) {
    if (auto* r = As<TPSValueReplace>(v.get())) {
        if (r->PreWriteAllocated) ++r->ReplaceTimes;
        return true;
    }
    if (auto* pp = As<TPSValueProcPtr>(v.get())) {
        if (expected == nullptr) {
            Error(ecTypeMismatch);
            return false;
        }
        UseType(expected);
        auto c = NewConstValue(ResolveTypeLink(expected));
        c->tu32 = pp->ProcPtr;
        auto d = MakeData(std::move(c), v->Pos, v->Row, v->Col);
        v = MakeReplace(std::move(v), std::move(d));
        return true;
    }
    if (As<TPSValueNil>(v.get()) != nullptr) {
        if (expected == nullptr) {
            Error(ecTypeMismatch);
            return false;
        }
        auto temp = AllocTempVar(expected);
        if (!WriteNil(v.get(), *temp)) return false;
        v = MakeReplace(std::move(v), std::move(temp));
        return true;
    }
    if (As<TPSValueArray>(v.get()) != nullptr) {
        if (expected == nullptr) {
            Error(ecTypeMismatch);
            return false;
        }
        return PrepareArrayConstructor(v, expected);
    }
    if (auto* u = As<TPSUnValueOp>(v.get())) {
        std::unique_ptr<TPSValue> temp = AllocTempVar(u->aType);
        if (!WriteUnOp(*u, temp)) return false;
        v = MakeReplace(std::move(v), std::move(temp));
        return true;
    }
    if (auto* b = As<TPSBinValueOp>(v.get())) {
        std::unique_ptr<TPSValue> temp = AllocTempVar(b->aType);
        if (!WriteBinOp(*b, temp)) return false;
        v = MakeReplace(std::move(v), std::move(temp));
        return true;
    }
    if (auto* f = As<TPSValueCallField>(v.get())) {
        // The record result in one temporary, the selected field copied into
        // a second; the pair is released together, the field's first.
        auto* call = static_cast<TPSValueProc*>(f->Call.get());
        std::unique_ptr<TPSValue> result = AllocTempVar(call->ResultType);
        if (!WriteCall(*call, &result)) return false;
        auto field = std::make_unique<TPSValueLocalVar>();
        field->SetPos(v->Pos, v->Row, v->Col);
        field->LocalVarNo = static_cast<TPSValueLocalVar*>(result.get())->LocalVarNo;
        TPSType* t = ResolveTypeLink(call->ResultType);
        for (std::uint32_t n : f->Fields) {
            auto sub = std::make_unique<TPSSubNumber>();
            sub->SubNo = n;
            sub->aType = static_cast<TPSRecordType*>(t)->Fields.at(n)->FType;
            t = ResolveTypeLink(sub->aType);
            field->RecAdd(std::move(sub));
        }
        std::unique_ptr<TPSValue> copy = AllocTempVar(f->FieldType);
        std::unique_ptr<TPSValue> source = std::move(field);
        if (!WriteCalculation(copy, source)) return false;
        auto pair = std::make_unique<TPSValueReplace>();
        pair->SetPos(v->Pos, v->Row, v->Col);
        pair->OldValue.Own(std::move(result));
        pair->NewValue.Own(std::move(copy));
        v = MakeReplace(std::move(v), std::move(pair));
        return true;
    }
    if (auto* c = As<TPSValueProc>(v.get())) {
        if (c->ResultType == nullptr) {
            Error(ecNoResult);
            return false;
        }
        std::unique_ptr<TPSValue> temp = AllocTempVar(c->ResultType);
        if (!WriteCall(*c, &temp)) return false;
        v = MakeReplace(std::move(v), std::move(temp));
        return true;
    }
    if (auto* var = As<TPSValueVar>(v.get())) {
        if (var->RecCount() == 0) return true;
        if (var->RecCount() == 1) {
            if (As<TPSSubNumber>(&var->RecItem(0)) != nullptr) return true;
            const auto& sv = static_cast<TPSSubValue&>(var->RecItem(0));
            const auto* idx = As<TPSValueVar>(sv.SubNo.get());
            if (idx != nullptr && idx->RecCount() == 0 && As<TPSValueReplace>(sv.SubNo.get()) == nullptr) return true;
        }
        auto ptr = AllocPointerVar(GetTypeOf(v.get()));
        const std::uint32_t ptrAddress = GetVarAddress(ptr.get());
        BlockWriteByte(Code(), opSetPtr);
        WriteVariableOperand(Code(), ptrAddress);
        WriteVariableOperand(Code(), GetVarAddress(v.get()));
        for (std::size_t i = 0; i < var->RecCount(); ++i) {
            TPSSubItem& item = var->RecItem(i);
            if (auto* num = As<TPSSubNumber>(&item)) {
                BlockWriteByte(Code(), opSetPtr);
                WriteVariableOperand(Code(), ptrAddress);
                WriteElementNumberOperand(Code(), ptrAddress, num->SubNo);
            } else {
                auto& sv = static_cast<TPSSubValue&>(item);
                std::unique_ptr<TPSValue> idx = AllocTempVar(BuiltinType(btU32));
                if (!WriteCalculation(idx, sv.SubNo)) return false;
                BlockWriteByte(Code(), opSetPtr);
                WriteVariableOperand(Code(), ptrAddress);
                WriteElementIndexOperand(Code(), ptrAddress, GetVarAddress(idx.get()));
            }
        }
        v = MakeReplace(std::move(v), std::move(ptr));
        return true;
    }
    return true;
}

bool TPSPascalCompiler::WriteOperand(const TPSValue* v, bool allow_const) {
    if (const auto* r = As<TPSValueReplace>(v)) return WriteOperand(r->NewValue.get(), allow_const);
    if (const auto* var = As<TPSValueVar>(v)) {
        const std::uint32_t address = GetVarAddress(v);
        if (var->RecCount() == 0) {
            WriteVariableOperand(Code(), address);
            return true;
        }
        if (var->RecCount() != 1) return false;
        if (const auto* num = As<TPSSubNumber>(&var->RecItem(0))) {
            WriteElementNumberOperand(Code(), address, num->SubNo);
            return true;
        }
        const auto& sv = static_cast<const TPSSubValue&>(var->RecItem(0));
        WriteElementIndexOperand(Code(), address, GetVarAddress(sv.SubNo.get()));
        return true;
    }
    if (const auto* d = As<TPSValueData>(v)) {
        if (!allow_const) return false;
        UseType(d->Data->FType);
        return WriteConstantOperand(Code(), *d->Data);
    }
    return false;
}

void TPSPascalCompiler::AfterWriteOperand(std::unique_ptr<TPSValue>& v) {
    auto* r = As<TPSValueReplace>(v.get());
    if (r == nullptr || !r->PreWriteAllocated) return;
    if (--r->ReplaceTimes > 0) return;
    std::unique_ptr<TPSValue> old = r->OldValue.Release();
    v = std::move(old);  // frees the replacement and with it its temporaries
}

bool TPSPascalCompiler::WriteNil(const TPSValue* at, TPSValueAllocatedStackVar& temp) {
    const std::uint8_t b = BaseOf(GetTypeOf(&temp));
    if (b == btClass) {
        // A class the host describes is set to nil by its own procedure; a
        // bare class type's fresh temporary already is nil.
        TPSCompileTimeClass* cls = ClassModelOf(GetTypeOf(&temp));
        return cls == nullptr || WriteClassNil(temp, *cls);
    }
    // A fresh temporary of these types already holds nil. Interfaces need no
    // nil-setting procedure for it: the runtime binds none (no host interface
    // is imported), and the assignment of the temporary releases whatever the
    // destination referred to.
    if (b == btUndefinedClass) return WriteUndefinedClassNil(at, temp);
    if (b == btProcPtr || b == btInterface) return true;
    if (b == btString || b == btPChar) {
        auto c = NewConstValue(ResolveTypeLink(GetTypeOf(&temp)));
        BlockWriteByte(Code(), opAssign);
        WriteVariableOperand(Code(), GetVarAddress(&temp));
        return WriteConstantOperand(Code(), *c);
    }
    Error(ecTypeMismatch);
    return false;
}

bool TPSPascalCompiler::WriteUnOp(TPSUnValueOp& node, std::unique_ptr<TPSValue>& dest) {
    if (node.Operator == 2) {
        TPSType* target = ResolveTypeLink(node.aType);
        std::unique_ptr<TPSValue> own;
        std::unique_ptr<TPSValue>* out = &dest;
        // A cast to Char, and one whose value an assignment straight to the
        // destination would not give, is made in a temporary of the cast's
        // type first: Byte(300) is 44 in a Double too, and Ord(c) is a number
        // there, where assigning the Char itself to a real is a type mismatch.
        if (BaseOf(target) == btChar || !AssignsAsCast(GetTypeOf(node.Val1.get()), target, GetTypeOf(dest.get()))) {
            own = AllocTempVar(target);
            out = &own;
        }
        if (!PreWriteOperand(node.Val1, target) || !PreWriteOperand(*out, target)) return false;
        BlockWriteByte(Code(), opAssign);
        const bool ok = WriteOperand(out->get(), false) && WriteOperand(node.Val1.get(), true);
        AfterWriteOperand(node.Val1);
        AfterWriteOperand(*out);
        if (!ok) {
            Error(ecInternalError, "00019");
            return false;
        }
        if (out != &dest) return WriteCalculation(dest, own);
        return true;
    }
    if (!PreWriteOperand(dest, nullptr)) return false;
    bool ok = true;
    if (!SameVarReference(node.Val1.get(), dest.get())) ok = WriteCalculation(dest, node.Val1);
    if (ok) {
        const std::uint8_t opcode = node.Operator == 1 ? opNeg : IsBooleanType(node.aType) ? opBoolNot : opIntNot;
        BlockWriteByte(Code(), opcode);
        ok = WriteOperand(dest.get(), false);
        if (!ok) Error(ecInternalError, "00020");
    }
    AfterWriteOperand(dest);
    return ok;
}

bool TPSPascalCompiler::WriteBinOp(TPSBinValueOp& node, std::unique_ptr<TPSValue>& dest) {
    if (node.Operator <= otIntDiv) {
        if (node.aType != nullptr && ResolveTypeLink(node.aType) != ResolveTypeLink(GetTypeOf(dest.get()))) {
            std::unique_ptr<TPSValue> temp = AllocTempVar(node.aType);
            if (!WriteBinOp(node, temp)) return false;
            return WriteCalculation(dest, temp);
        }
        if (!PreWriteOperand(dest, nullptr)) return false;
        // The chain of left operands that compute into the same destination
        // is written in a loop, innermost first, exactly as the recursion
        // through WriteCalculation would write it: a long chain costs no
        // stack. A link whose operands may read the destination (any element
        // or field does) stops the chain: it is computed apart in a
        // temporary, and TreeDepth counts that step. When the first link does
        // not read it, none further in does, so that is asked once.
        std::vector<TPSBinValueOp*> chain{&node};
        for (;;) {
            TPSBinValueOp& link = *chain.back();
            auto* left = As<TPSBinValueOp>(link.Val1.get());
            if (left == nullptr || !IsChainLink(link) || !IsCompatibleValue(dest.get(), left) ||
                (left->aType != nullptr && ResolveTypeLink(left->aType) != ResolveTypeLink(GetTypeOf(dest.get()))) ||
                (chain.size() == 1 && ReadsDestination(left, dest.get(), true)))
                break;
            chain.push_back(left);
        }
        TPSBinValueOp& first = *chain.back();
        bool ok = true;
        if (!SameVarReference(first.Val1.get(), dest.get())) ok = WriteCalculation(dest, first.Val1);
        for (auto link = chain.rbegin(); ok && link != chain.rend(); ++link) {
            TPSBinValueOp& n = **link;
            ok = PreWriteOperand(n.Val2, GetTypeOf(dest.get()));
            if (!ok) break;
            std::uint8_t calc = 0;
            CalcByteOf(n.Operator, calc);
            BlockWriteByte(Code(), opCalc);
            BlockWriteByte(Code(), calc);
            ok = WriteOperand(dest.get(), false) && WriteOperand(n.Val2.get(), true);
            if (!ok) Error(ecInternalError, "00021");
            AfterWriteOperand(n.Val2);
        }
        AfterWriteOperand(dest);
        return ok;
    }
    // Comparisons: nil on either side takes the other side's type.
    std::unique_ptr<TPSValue> nilLeft;
    std::unique_ptr<TPSValue> nilRight;
    if (As<TPSValueNil>(node.Val1.get()) != nullptr) {
        auto temp = AllocTempVar(GetTypeOf(node.Val2.get()));
        if (!WriteNil(node.Val1.get(), *temp)) return false;
        node.Val1 = MakeReplace(std::move(node.Val1), std::move(temp));
    }
    if (As<TPSValueNil>(node.Val2.get()) != nullptr) {
        auto temp = AllocTempVar(GetTypeOf(node.Val1.get()));
        if (!WriteNil(node.Val2.get(), *temp)) return false;
        node.Val2 = MakeReplace(std::move(node.Val2), std::move(temp));
    }
    bool handled = false;
    bool ok = WriteExternalClassCompare(node, dest, handled);
    if (!handled) {
        ok = PreWriteOperand(dest, nullptr);
        if (ok) ok = PreWriteOperand(node.Val1, GetTypeOf(node.Val2.get()));
        if (ok) ok = PreWriteOperand(node.Val2, GetTypeOf(node.Val1.get()));
        if (ok) {
            std::uint8_t compare = 0;
            CompareByteOf(node.Operator, compare);
            BlockWriteByte(Code(), opCompare);
            BlockWriteByte(Code(), compare);
            ok = WriteOperand(dest.get(), false) && WriteOperand(node.Val1.get(), true) &&
                 WriteOperand(node.Val2.get(), true);
            if (!ok) Error(ecInternalError, "00022");
        }
        AfterWriteOperand(node.Val1);
        AfterWriteOperand(node.Val2);
        AfterWriteOperand(dest);
    }
    // Undo the nil replacements (their temporaries are popped), right first.
    for (auto* side : {&node.Val2, &node.Val1}) {
        if (auto* r = As<TPSValueReplace>(side->get()); r != nullptr && r->PreWriteAllocated) {
            std::unique_ptr<TPSValue> old = r->OldValue.Release();
            *side = std::move(old);
        }
    }
    return ok;
}

bool TPSPascalCompiler::ArrayToSetConstant(std::unique_ptr<TPSValue>& v, TPSType* set_type) {
    auto* array = As<TPSValueArray>(v.get());
    auto* set = static_cast<TPSSetType*>(ResolveTypeLink(set_type));
    auto c = NewConstValue(set);
    for (const auto& item : array->Items) {
        auto* d = As<TPSValueData>(item.get());
        TPSType* element = ResolveTypeLink(set->SetType);
        // Integer literals are S32 constants; they fit a set of Byte when in
        // range. An element of another type is reported where it stands, one
        // that is not a constant at the current token.
        const bool sameType = ResolveTypeLink(GetTypeOf(item.get())) == element;
        const bool integer = d != nullptr && IsIntType(BaseOf(d->Data->FType)) && IsIntType(BaseOf(element));
        if (!sameType && !integer) {
            ErrorAt(item.get(), ecTypeMismatch);
            return false;
        }
        if (d == nullptr) {
            Error(ecTypeMismatch);
            return false;
        }
        bool ok = true;
        const std::int64_t bit = GetConstInt64(*d->Data, ok);
        if (!ok || bit < 0 || bit >= static_cast<std::int64_t>(set->BitSize())) {
            ErrorAt(item.get(), ecTypeMismatch);
            return false;
        }
        SetSetBit(c->tstring, static_cast<std::uint32_t>(bit));
    }
    UseType(set);
    v = MakeData(std::move(c), v->Pos, v->Row, v->Col);
    return true;
}

bool TPSPascalCompiler::PrepareArrayConstructor(std::unique_ptr<TPSValue>& v, TPSType* expected) {
    TPSType* t = ResolveTypeLink(expected);
    if (t->BaseType == btSet) return ArrayToSetConstant(v, t);
    TPSType* arrayType = t;
    if (t->BaseType != btArray) {
        arrayType = FindNamedType("!OPENARRAYOFVARIANT");
        if (arrayType == nullptr) arrayType = OpenArrayType(FindNamedType("VARIANT"));
        if (arrayType == nullptr) return false;
    }
    auto* array = As<TPSValueArray>(v.get());
    auto temp = AllocTempVar(arrayType);
    {
        auto len = AllocTempVar(BuiltinType(btS32));
        auto count = NewConstValue(BuiltinType(btS32));
        count->ts32 = static_cast<std::int32_t>(array->Count());
        BlockWriteByte(Code(), opAssign);
        WriteVariableOperand(Code(), GetVarAddress(len.get()));
        WriteConstantOperand(Code(), *count);
        BlockWriteByte(Code(), opPushVar);
        WriteVariableOperand(Code(), GetVarAddress(temp.get()));
        BlockWriteByte(Code(), opCall);
        BlockWriteLong(Code(), static_cast<std::uint32_t>(FindProcNumber("SETARRAYLENGTH")));
        BlockWriteByte(Code(), opPop);
    }
    TPSType* element = static_cast<TPSArrayType*>(arrayType)->ArrayTypeNo;
    for (std::size_t i = 0; i < array->Count(); ++i) {
        if (!PreWriteOperand(array->Items[i], element)) return false;
        BlockWriteByte(Code(), BaseOf(element) == btPointer ? opSetPtrToCopy : opAssign);
        WriteElementNumberOperand(Code(), GetVarAddress(temp.get()), static_cast<std::uint32_t>(i));
        const bool ok = WriteOperand(array->Items[i].get(), true);
        AfterWriteOperand(array->Items[i]);
        if (!ok) {
            Error(ecTypeMismatch);
            return false;
        }
    }
    v = MakeReplace(std::move(v), std::move(temp));
    return true;
}

bool TPSPascalCompiler::WriteTempFrom(std::unique_ptr<TPSValueAllocatedStackVar>& temp,
                                      std::unique_ptr<TPSValue>& src) {
    std::unique_ptr<TPSValue> dest = std::move(temp);
    const bool ok = WriteCalculation(dest, src);
    temp.reset(static_cast<TPSValueAllocatedStackVar*>(dest.release()));
    return ok;
}

bool TPSPascalCompiler::WriteCalculation(std::unique_ptr<TPSValue>& dest, std::unique_ptr<TPSValue>& src) {
    if (auto* call = As<TPSValueProc>(src.get()); call != nullptr && call->ResultType == nullptr) {
        Error(ecNoResult);
        return false;
    }
    if (!IsCompatibleValue(dest.get(), src.get())) {
        Error(ecTypeMismatch);
        return false;
    }
    if (SameVarReference(dest.get(), src.get())) return true;
    if (auto* call = As<TPSValueProc>(src.get())) return WriteCall(*call, &dest);
    if (!PreWriteOperand(dest, nullptr)) return false;
    bool ok = true;
    auto* bin = As<TPSBinValueOp>(src.get());
    auto* un = As<TPSUnValueOp>(src.get());
    if (bin != nullptr && !ReadsDestination(src.get(), dest.get(), true)) {
        ok = WriteBinOp(*bin, dest);
    } else if (un != nullptr && !ReadsDestination(src.get(), dest.get(), true)) {
        ok = WriteUnOp(*un, dest);
    } else {
        ok = PreWriteOperand(src, GetTypeOf(dest.get()));
        if (ok) {
            BlockWriteByte(Code(), opAssign);
            ok = WriteOperand(dest.get(), false) && WriteOperand(src.get(), true);
            if (!ok) Error(ecVariableExpected);
            AfterWriteOperand(src);
        }
    }
    AfterWriteOperand(dest);
    return ok;
}

}  // namespace script::compiler
