// Calls: argument lists, matching against declarations, and the code of a
// call (result slot, arguments pushed last to first, the call, the pops).
#include "script/compiler/compiler.h"
#include "script/compiler/compiler_constants.h"
#include "script/compiler/image_writer.h"

namespace script::compiler {

const TPSParametersDecl* TPSPascalCompiler::ProcDecl(std::uint32_t proc_no) const {
    if (proc_no >= procs_.size()) return nullptr;
    if (const auto* internal = As<TPSInternalProcedure>(procs_[proc_no].get())) return &internal->Decl;
    if (const auto* ext = As<TPSExternalProcedure>(procs_[proc_no].get()))
        return ext->RegProc == nullptr ? nullptr : &ext->RegProc->Decl;
    return nullptr;
}

bool TPSPascalCompiler::ReadParameters(bool square, TPSParameters& params) {
    TPSPascalParser& p = Parser();
    const TPSTokenId open = square ? tkOpenBlock : tkOpenRound;
    const TPSTokenId close = square ? tkCloseBlock : tkCloseRound;
    if (p.CurrTokenId() != open) return true;
    p.Next();
    if (p.CurrTokenId() == close) {
        p.Next();
        return true;
    }
    for (;;) {
        TPSParameter& prm = params.Add();
        prm.Val = ReadExpression();
        if (prm.Val == nullptr) return false;
        if (p.CurrTokenId() == close) {
            p.Next();
            return true;
        }
        if (!Expect(tkComma, ecCommaExpected)) return false;
    }
}

bool TPSPascalCompiler::ValidateParameters(TPSParameters& params, const TPSParametersDecl& decl) {
    std::size_t arg = 0;
    for (const auto& declared : decl.Params) {
        while (arg < params.Count() && params.Item(arg).Val == nullptr) ++arg;
        if (arg >= params.Count()) {
            Error(ecInvalidNumberOfParameters);
            return false;
        }
        TPSParameter& prm = params.Item(arg++);
        prm.ExpectedType = declared->AType;
        prm.ParamMode = declared->Mode;
        if (declared->Mode == pmIn) continue;
        if (As<TPSValueVar>(prm.Val.get()) == nullptr) {
            ErrorAt(prm.Val.get(), ecVariableExpected);
            return false;
        }
        TPSType* t = ResolveTypeLink(declared->AType);
        TPSType* a = ResolveTypeLink(GetTypeOf(prm.Val.get()));
        if (t == nullptr) {
            prm.ExpectedType = a;
            continue;
        }
        const bool anyString = declared->AType == anyStringType_ ||
                               (t->BaseType == btArray && static_cast<TPSArrayType*>(t)->ArrayTypeNo == nullptr &&
                                BaseOf(a) == btArray);
        if (anyString) {
            if (BaseOf(a) != btString && BaseOf(a) != btChar) {
                ErrorAt(prm.Val.get(), ecTypeMismatch);
                return false;
            }
            prm.ExpectedType = BaseOf(a) == btChar ? StringType() : a;
            continue;
        }
        if (t->BaseType == btArray && BaseOf(a) == btArray) {
            if (ResolveTypeLink(static_cast<TPSArrayType*>(t)->ArrayTypeNo) !=
                ResolveTypeLink(static_cast<TPSArrayType*>(a)->ArrayTypeNo)) {
                ErrorAt(prm.Val.get(), ecTypeMismatch);
                return false;
            }
            continue;
        }
        if (t != a) {
            ErrorAt(prm.Val.get(), ecTypeMismatch);
            return false;
        }
    }
    for (; arg < params.Count(); ++arg) {
        if (params.Item(arg).Val != nullptr) {
            Error(ecInvalidNumberOfParameters);
            return false;
        }
    }
    return true;
}

std::unique_ptr<TPSValue> TPSPascalCompiler::MakeProcCall(std::uint32_t proc_no) {
    const TPSParametersDecl* decl = ProcDecl(proc_no);
    if (decl == nullptr) {
        Error(ecInternalError, "call");
        return nullptr;
    }
    numbering_.UseParams(*decl);
    if (auto* internal = As<TPSInternalProcedure>(procs_[proc_no].get())) internal->Use();
    auto call = MakeCallOf(proc_no, decl->Result);
    if (!ReadParameters(false, call->Parameters)) return nullptr;
    if (!ValidateParameters(call->Parameters, *decl)) return nullptr;
    return call;
}

std::unique_ptr<TPSValue> TPSPascalCompiler::MakeProcVarCall(std::unique_ptr<TPSValue> proc_value) {
    auto* type = As<TPSProceduralType>(ResolveTypeLink(GetTypeOf(proc_value.get())));
    if (type == nullptr) {
        Error(ecTypeMismatch);
        return nullptr;
    }
    numbering_.UseParams(type->ProcDef);
    auto call = std::make_unique<TPSValueProcVal>();
    call->SetPos(proc_value->Pos, proc_value->Row, proc_value->Col);
    call->ResultType = type->ProcDef.Result;
    call->ProcNo = std::move(proc_value);
    if (!ReadParameters(false, call->Parameters)) return nullptr;
    if (!ValidateParameters(call->Parameters, type->ProcDef)) return nullptr;
    return call;
}

bool TPSPascalCompiler::WriteCall(TPSValueProc& call, std::unique_ptr<TPSValue>* dest) {
    TPSType* result = call.ResultType;
    if (result != nullptr && result == anyStringType_) {
        for (std::size_t i = call.Parameters.Count(); i-- > 0;) {
            TPSParameter& prm = call.Parameters.Item(i);
            if (prm.ExpectedType == anyStringType_ && prm.ParamMode == pmIn) {
                result = GetTypeOf(prm.Val.get());
                break;
            }
        }
    }
    if (dest != nullptr && result == nullptr) {
        Error(ecNoResult);
        return false;
    }
    result = ResolveTypeLink(result);
    // Open-array copies are made before anything of the call is pushed, so
    // they stay alive (below the call's frame) until the call has returned.
    std::vector<std::unique_ptr<TPSValueAllocatedStackVar>> copies(call.Parameters.Count());
    for (std::size_t i = 0; i < call.Parameters.Count(); ++i) {
        TPSParameter& prm = call.Parameters.Item(i);
        if (prm.Val == nullptr || prm.ParamMode == pmIn) continue;
        const TPSType* expected = ResolveTypeLink(prm.ExpectedType);
        if (expected == nullptr || expected->Name.rfind("!OPENARRAY", 0) != 0) continue;
        auto copy = AllocTempVar(prm.ExpectedType);
        if (!PreWriteOperand(prm.Val, prm.ExpectedType)) return false;
        BlockWriteByte(Code(), opAssign);
        WriteVariableOperand(Code(), GetVarAddress(copy.get()));
        const bool ok = WriteOperand(prm.Val.get(), false);
        AfterWriteOperand(prm.Val);
        if (!ok) {
            ErrorAt(prm.Val.get(), ecVariableExpected);
            return false;
        }
        copies[i] = std::move(copy);
    }
    std::unique_ptr<TPSValue> slotTemp;
    std::unique_ptr<TPSValue>* slot = nullptr;
    if (result != nullptr) {
        if (dest != nullptr && ResolveTypeLink(GetTypeOf(dest->get())) == result) {
            slot = dest;
        } else {
            slotTemp = AllocTempVar(result);
            slot = &slotTemp;
        }
        if (!PreWriteOperand(*slot, nullptr)) return false;
    }
    auto* byValue = As<TPSValueProcVal>(&call);
    if (byValue != nullptr && !PreWriteOperand(byValue->ProcNo, nullptr)) return false;

    std::vector<std::unique_ptr<TPSValue>> temps;
    bool ok = true;
    for (std::size_t i = call.Parameters.Count(); ok && i-- > 0;) {
        TPSParameter& prm = call.Parameters.Item(i);
        if (prm.Val == nullptr) continue;
        if (prm.ParamMode == pmIn) {
            TPSType* expected = prm.ExpectedType;
            if (expected == nullptr || expected == anyStringType_) expected = GetTypeOf(prm.Val.get());
            if (expected == nullptr) {
                Error(ecTypeMismatch);
                ok = false;
                break;
            }
            if (BaseOf(expected) == btPChar) expected = StringType();
            std::unique_ptr<TPSValue> temp = AllocTempVar(expected);
            ok = WriteCalculation(temp, prm.Val);
            temps.push_back(std::move(temp));
            continue;
        }
        if (ResolveTypeLink(GetTypeOf(prm.Val.get())) != ResolveTypeLink(prm.ExpectedType) && copies[i] == nullptr) {
            ErrorAt(prm.Val.get(), ecTypeMismatch);
            ok = false;
            break;
        }
        std::unique_ptr<TPSValue> ptr = AllocPointerVar(prm.ExpectedType);
        if (copies[i] != nullptr) {
            BlockWriteByte(Code(), opSetPtr);
            WriteVariableOperand(Code(), GetVarAddress(ptr.get()));
            WriteVariableOperand(Code(), GetVarAddress(copies[i].get()));
        } else {
            ok = PreWriteOperand(prm.Val, nullptr);
            if (ok) {
                BlockWriteByte(Code(), opSetPtr);
                WriteVariableOperand(Code(), GetVarAddress(ptr.get()));
                ok = WriteOperand(prm.Val.get(), false);
                if (!ok) ErrorAt(prm.Val.get(), ecVariableExpected);
            }
            AfterWriteOperand(prm.Val);
        }
        temps.push_back(std::move(ptr));
    }
    if (ok && slot != nullptr) {
        BlockWriteByte(Code(), opPushVar);
        ok = WriteOperand(slot->get(), false);
        if (!ok) Error(ecInternalError, "00015");
    }
    if (ok) {
        if (byValue != nullptr) {
            BlockWriteByte(Code(), opCallVar);
            ok = WriteOperand(byValue->ProcNo.get(), true);
            if (!ok) Error(ecInternalError, "00014");
        } else {
            BlockWriteByte(Code(), opCall);
            BlockWriteLong(Code(), static_cast<TPSValueProcNo&>(call).ProcNo);
        }
    }
    if (ok && slot != nullptr) BlockWriteByte(Code(), opPop);
    // Release in reverse order of allocation: first argument first.
    while (!temps.empty()) temps.pop_back();
    if (byValue != nullptr) AfterWriteOperand(byValue->ProcNo);
    if (slot != nullptr) AfterWriteOperand(*slot);
    if (ok && slotTemp != nullptr && dest != nullptr) ok = WriteCalculation(*dest, slotTemp);
    slotTemp.reset();
    for (std::size_t i = copies.size(); i-- > 0;) copies[i].reset();
    return ok;
}

}  // namespace script::compiler
