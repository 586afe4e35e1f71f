// Expressions: the parser, operator typing and folding, and the operand
// layer that writes values into instructions.
#include "script/compiler/compiler.h"
#include "script/compiler/compiler_constants.h"
#include "script/compiler/compiler_values.h"
#include "script/compiler/image_writer.h"

namespace script::compiler {

using namespace std::string_view_literals;


// ============================================================ value types

TPSType* TPSPascalCompiler::GetTypeOf(const TPSValue* v) const {
    if (v == nullptr) return nullptr;
    switch (v->Kind) {
    case TPSValueKind::UnOp: return static_cast<const TPSUnValueOp*>(v)->aType;
    case TPSValueKind::BinOp: return static_cast<const TPSBinValueOp*>(v)->aType;
    case TPSValueKind::Array: return FindNamedType("TVARIANTARRAY");
    case TPSValueKind::Data: return static_cast<const TPSValueData*>(v)->Data->FType;
    case TPSValueKind::ProcNo:
    case TPSValueKind::ProcVal: return static_cast<const TPSValueProc*>(v)->ResultType;
    case TPSValueKind::CallField: return static_cast<const TPSValueCallField*>(v)->FieldType;
    case TPSValueKind::Replace: return GetTypeOf(static_cast<const TPSValueReplace*>(v)->NewValue.get());
    case TPSValueKind::Nil:
    case TPSValueKind::ProcPtr: return nullptr;
    case TPSValueKind::GlobalVar:
    case TPSValueKind::LocalVar:
    case TPSValueKind::AllocatedStackVar:
    case TPSValueKind::ParamVar: break;
    }
    const auto* var = static_cast<const TPSValueVar*>(v);
    if (var->RecCount() > 0) return var->RecItems.back()->aType;
    // Numbers are checked: a value never outlives what it names, but a
    // fault there must not read outside the lists.
    if (const auto* g = As<TPSValueGlobalVar>(v))
        return g->GlobalVarNo < vars_.size() ? vars_[g->GlobalVarNo]->AType : nullptr;
    if (block_ == nullptr) return nullptr;
    if (const auto* l = As<TPSValueLocalVar>(v)) {
        const auto& locals = block_->Proc->ProcVars;
        return l->LocalVarNo < locals.size() ? locals[l->LocalVarNo]->AType : nullptr;
    }
    const TPSParametersDecl& decl = block_->Proc->Decl;
    std::uint32_t n = static_cast<const TPSValueParamVar*>(v)->ParamNo;
    if (decl.Result != nullptr) {
        if (n == 0) return decl.Result;
        --n;
    }
    return n < decl.Params.size() ? decl.Params[n]->AType : nullptr;
}

bool TPSPascalCompiler::IsCompatibleValue(const TPSValue* dest, const TPSValue* src) const {
    const TPSType* td = GetTypeOf(dest);
    const TPSType* ts = GetTypeOf(src);
    if (td != nullptr && ts != nullptr) {
        if (BaseOf(td) == btSet && As<TPSValueArray>(src) != nullptr) return true;
        return IsCompatibleType(td, ts, false);
    }
    auto nilable = [](const TPSType* t) {
        const std::uint8_t b = BaseOf(t);
        return b == btInterface || b == btClass || b == btUndefinedClass || b == btProcPtr;
    };
    if (As<TPSValueNil>(src) != nullptr) return nilable(td);
    if (As<TPSValueNil>(dest) != nullptr) return nilable(ts);
    auto matches = [this](const TPSValueProcPtr* pp, const TPSType* t) {
        if (pp == nullptr || BaseOf(t) != btProcPtr) return false;
        const TPSParametersDecl* decl = ProcDecl(pp->ProcPtr);
        return decl != nullptr && decl->Same(&static_cast<const TPSProceduralType*>(ResolveTypeLink(t))->ProcDef);
    };
    if (matches(As<TPSValueProcPtr>(src), td)) return true;
    if (matches(As<TPSValueProcPtr>(dest), ts)) return true;
    return false;
}

// ============================================================ parser

std::unique_ptr<TPSValue> TPSPascalCompiler::ReadExpression() {
    if (++exprDepth_ > kMaxExpressionDepth) {
        --exprDepth_;
        Error(ecCustomError, "Expression nested too deeply");
        return nullptr;
    }
    auto v = ReadRelation();
    if (v != nullptr && !ReadPostfix(v)) v.reset();
    if (v != nullptr && TreeDepth(v.get()) > kMaxTreeDepth) {
        Error(ecCustomError, "Expression nested too deeply");
        v.reset();
    }
    if (v != nullptr && !FoldConstants(v)) v.reset();
    --exprDepth_;
    return v;
}

std::unique_ptr<TPSValue> TPSPascalCompiler::MakeBinary(std::unique_ptr<TPSValue> left, std::unique_ptr<TPSValue> right,
                                                        std::uint8_t op, std::int32_t pos, std::int32_t row,
                                                        std::int32_t col) {
    auto node = std::make_unique<TPSBinValueOp>();
    node->SetPos(pos, row, col);
    node->Operator = op;
    node->aType = GetBinOpType(left.get(), right.get(), op);
    node->Val1 = std::move(left);
    node->Val2 = std::move(right);
    if (node->aType == nullptr) {
        Error(ecTypeMismatch);
        return nullptr;
    }
    // A left operand that continues a chain was measured when it was made:
    // the node adds what its other operands reach (measuring the whole
    // chain at every link would take time in the square of its length).
    int depth = 1 + TreeDepth(node->Val2.get());
    if (!IsChainLink(*node)) depth = std::max(depth, 1 + TreeDepth(node->Val1.get()));
    if (depth > kMaxTreeDepth) {
        Error(ecCustomError, "Expression nested too deeply");
        return nullptr;
    }
    return node;
}

std::unique_ptr<TPSValue> TPSPascalCompiler::ReadRelation() { return ReadLevel(TOpLevel::Relation); }
std::unique_ptr<TPSValue> TPSPascalCompiler::ReadSimpleExpression() { return ReadLevel(TOpLevel::Adding); }
std::unique_ptr<TPSValue> TPSPascalCompiler::ReadTerm() { return ReadLevel(TOpLevel::Multiplying); }

// One grammar level: operands of the next level joined left to right.
std::unique_ptr<TPSValue> TPSPascalCompiler::ReadLevel(TOpLevel level) {
    TPSPascalParser& p = Parser();
    auto next = [&]() {
        switch (level) {
        case TOpLevel::Relation: return ReadSimpleExpression();
        case TOpLevel::Adding: return ReadTerm();
        default: return ReadFactor();
        }
    };
    auto left = next();
    std::uint8_t op = 0;
    while (left != nullptr && OperatorOfToken(level, p.CurrTokenId(), false, op)) {
        p.Next();
        auto right = next();
        if (right == nullptr) return nullptr;
        if (op == otAs) {
            // "x as TType" is a cast, not a binary node.
            auto* d = As<TPSValueData>(right.get());
            if (d != nullptr && d->Data->FType != nullptr && d->Data->FType->BaseType == btTypeRef) {
                // Between classes or interfaces the cast is a plain copy of the
                // reference, so only a value that is already of the target
                // kind may be cast that way. Towards a class that the host
                // describes its checked cast procedure converts; anything else
                // would need a checked conversion the runtime does not have.
                TPSType* target = ResolveTypeLink(d->Data->ttype);
                TPSType* source = ResolveTypeLink(GetTypeOf(left.get()));
                if (IsReferenceBase(BaseOf(target)) && IsReferenceBase(BaseOf(source)) &&
                    !IsCompatibleType(target, source, false)) {
                    if (auto call = MakeClassCast(target, left)) {
                        left = std::move(call);
                        continue;
                    }
                    Error(ecTypeMismatch);
                    return nullptr;
                }
                auto cast = std::make_unique<TPSUnValueOp>();
                cast->SetPos(left->Pos, left->Row, left->Col);
                cast->Operator = 2;
                cast->aType = d->Data->ttype;
                cast->Val1 = std::move(left);
                left = std::move(cast);
                continue;
            }
        }
        left = MakeBinary(std::move(left), std::move(right), op, static_cast<std::int32_t>(p.CurrTokenPos()),
                          static_cast<std::int32_t>(p.Row()), static_cast<std::int32_t>(p.Col()));
    }
    return left;
}

std::unique_ptr<TPSValue> TPSPascalCompiler::ReadFactor() {
    TPSPascalParser& p = Parser();
    const auto pos = static_cast<std::int32_t>(p.CurrTokenPos());
    const auto row = static_cast<std::int32_t>(p.Row());
    const auto col = static_cast<std::int32_t>(p.Col());
    struct DepthGuard {
        int& depth;
        ~DepthGuard() { --depth; }
    };
    if (++exprDepth_ > kMaxExpressionDepth) {
        --exprDepth_;
        Error(ecCustomError, "Expression nested too deeply");
        return nullptr;
    }
    DepthGuard guard{exprDepth_};
    switch (p.CurrTokenId()) {
    case tkOpenRound: {
        p.Next();
        auto v = ReadRelation();
        if (v == nullptr) return nullptr;
        if (!Expect(tkCloseRound, ecCloseRoundExpected)) return nullptr;
        return v;
    }
    case tkOpenBlock: return ReadConstructor();
    case tkPlus: p.Next(); return ReadTerm();
    case tkMinus:
    case tkNot: {
        const bool negation = p.CurrTokenId() == tkMinus;
        p.Next();
        auto operand = negation ? ReadTerm() : ReadFactor();
        if (operand == nullptr) return nullptr;
        auto node = std::make_unique<TPSUnValueOp>();
        node->SetPos(pos, row, col);
        node->Operator = negation ? 1 : 0;
        node->aType = GetTypeOf(operand.get());
        node->Val1 = std::move(operand);
        return node;
    }
    case tkInteger:
    case tkHexInt: {
        auto c = ReadInteger(p.GetToken());
        if (c == nullptr) return nullptr;
        p.Next();
        return MakeData(std::move(c), pos, row, col);
    }
    case tkReal: {
        auto c = ReadReal(p.GetToken());
        if (c == nullptr) return nullptr;
        p.Next();
        return MakeData(std::move(c), pos, row, col);
    }
    case tkString:
    case tkChar: {
        auto c = ReadString();
        if (c == nullptr) return nullptr;
        return MakeData(std::move(c), pos, row, col);
    }
    case tkAddressOf: {
        p.Next();
        if (p.CurrTokenId() != tkIdentifier) {
            Error(ecIdentifierExpected);
            return nullptr;
        }
        const std::int32_t n = FindProcNumber(p.GetToken());
        if (n < 0 || As<TPSInternalProcedure>(procs_[static_cast<std::size_t>(n)].get()) == nullptr) {
            Error(ecUnknownIdentifier, p.OriginalToken());
            return nullptr;
        }
        p.Next();
        auto v = std::make_unique<TPSValueProcPtr>();
        v->SetPos(pos, row, col);
        v->ProcPtr = static_cast<std::uint32_t>(n);
        return v;
    }
    case tkChr: return ReadCharOrdCall(false);
    case tkOrd: return ReadCharOrdCall(true);
    case tkNil: {
        p.Next();
        auto v = std::make_unique<TPSValueNil>();
        v->SetPos(pos, row, col);
        return v;
    }
    case tkIdentifier:
        if (p.GetToken() == "SUCC"sv) return ReadSuccPred(true);
        if (p.GetToken() == "PRED"sv) return ReadSuccPred(false);
        if (p.GetToken() == "ASSIGNED"sv) return ReadAssigned();
        return ReadIdentifier(0);
    default: Error(ecSyntaxError); return nullptr;
    }
}

// The name of a built-in pseudo-function is current: "(" and its operand.
std::unique_ptr<TPSValue> TPSPascalCompiler::ReadBuiltinOperand() {
    Parser().Next();
    if (!Expect(tkOpenRound, ecOpenRoundExpected)) return nullptr;
    return ReadRelation();
}

std::unique_ptr<TPSValue> TPSPascalCompiler::ReadCharOrdCall(bool ord) {
    TPSPascalParser& p = Parser();
    auto v = ReadBuiltinOperand();
    if (v == nullptr) return nullptr;
    if (p.CurrTokenId() != tkCloseRound) {
        Error(ecCloseRoundExpected);
        return nullptr;
    }
    const std::uint8_t b = BaseOf(GetTypeOf(v.get()));
    if (!(IsIntType(b) || (ord && (b == btChar || b == btEnum)))) {
        Error(ecTypeMismatch);
        return nullptr;
    }
    p.Next();
    auto cast = std::make_unique<TPSUnValueOp>();
    cast->SetPos(v->Pos, v->Row, v->Col);
    cast->Operator = 2;
    cast->aType = BuiltinType(ord ? btU32 : btChar);
    cast->Val1 = std::move(v);
    return cast;
}

std::unique_ptr<TPSValue> TPSPascalCompiler::ReadSuccPred(bool succ) {
    auto v = ReadBuiltinOperand();
    if (v == nullptr) return nullptr;
    TPSType* t = GetTypeOf(v.get());
    if (!IsIntType(BaseOf(t)) && BaseOf(t) != btEnum) {
        Error(ecTypeMismatch);
        return nullptr;
    }
    if (!Expect(tkCloseRound, ecCloseRoundExpected)) return nullptr;
    auto one = NewConstValue(BuiltinType(btS32));
    one->ts32 = 1;
    auto node = std::make_unique<TPSBinValueOp>();
    node->SetPos(v->Pos, v->Row, v->Col);
    node->Operator = succ ? otAdd : otSub;
    node->aType = t;
    node->Val2 = MakeData(std::move(one), v->Pos, v->Row, v->Col);
    node->Val1 = std::move(v);
    return node;
}

std::unique_ptr<TPSValueProcNo> TPSPascalCompiler::MakeCallOf(std::uint32_t proc_no, TPSType* result) {
    auto call = std::make_unique<TPSValueProcNo>();
    TPSPascalParser& p = Parser();
    call->SetPos(static_cast<std::int32_t>(p.CurrTokenPos()), static_cast<std::int32_t>(p.Row()),
                 static_cast<std::int32_t>(p.Col()));
    call->ProcNo = proc_no;
    call->ResultType = result;
    return call;
}

std::unique_ptr<TPSValue> TPSPascalCompiler::ReadAssigned() {
    TPSPascalParser& p = Parser();
    p.Next();
    if (!Expect(tkOpenRound, ecOpenRoundExpected)) return nullptr;
    auto v = ReadIdentifier(0);
    if (v == nullptr) return nullptr;
    TPSType* t = GetTypeOf(v.get());
    const std::uint8_t b = BaseOf(t);
    if (b != btClass && b != btPChar && b != btString) {
        Error(ecTypeMismatch);
        return nullptr;
    }
    if (!Expect(tkCloseRound, ecCloseRoundExpected)) return nullptr;
    const std::int32_t n = FindProcNumber("!ASSIGNED");
    auto call = MakeCallOf(static_cast<std::uint32_t>(n), booleanType_);
    TPSParameter& prm = call->Parameters.Add();
    // The argument is passed with its own type: a String or PChar cannot be
    // converted to the declared Longint.
    prm.ExpectedType = t;
    prm.ParamMode = pmIn;
    prm.Val = std::move(v);
    return call;
}

std::unique_ptr<TPSValue> TPSPascalCompiler::ReadConstructor() {
    TPSPascalParser& p = Parser();
    auto array = std::make_unique<TPSValueArray>();
    array->SetPos(static_cast<std::int32_t>(p.CurrTokenPos()), static_cast<std::int32_t>(p.Row()),
                  static_cast<std::int32_t>(p.Col()));
    p.Next();
    if (p.CurrTokenId() != tkCloseBlock) {
        for (;;) {
            auto item = ReadRelation();
            if (item == nullptr || !FoldConstants(item)) return nullptr;
            array->Add(std::move(item));
            if (p.CurrTokenId() == tkCloseBlock) break;
            if (!Expect(tkComma, ecCloseBlockExpected)) return nullptr;
        }
    }
    p.Next();
    return array;
}

std::unique_ptr<TPSValue> TPSPascalCompiler::ReadTypeReference(TPSType* type) {
    TPSPascalParser& p = Parser();
    const auto pos = static_cast<std::int32_t>(p.CurrTokenPos());
    const auto row = static_cast<std::int32_t>(p.Row());
    const auto col = static_cast<std::int32_t>(p.Col());
    auto* undefined = As<TPSUndefinedClassType>(ResolveTypeLink(type));
    if (undefined != nullptr && p.CurrTokenId() == tkOpenRound) {
        auto v = ReadExternalClassCast(*undefined);
        if (v != nullptr) v->SetPos(pos, row, col);
        return v;
    }
    if (p.CurrTokenId() == tkOpenRound) {
        p.Next();
        auto v = ReadExpression();
        if (v == nullptr) return nullptr;
        if (p.CurrTokenId() != tkCloseRound) {
            Error(ecCloseRoundExpected);
            return nullptr;
        }
        TPSType* target = ResolveTypeLink(type);
        TPSType* source = ResolveTypeLink(GetTypeOf(v.get()));
        if (IsReferenceBase(BaseOf(target)) && IsReferenceBase(BaseOf(source)) && target != source) {
            // Between classes the host's model checks the conversion.
            if (auto call = MakeClassCast(target, v)) {
                p.Next();
                return call;
            }
        }
        if (!IsCompatibleType(type, GetTypeOf(v.get()), true)) {
            Error(ecTypeMismatch);
            return nullptr;
        }
        p.Next();
        UseType(type);
        auto cast = std::make_unique<TPSUnValueOp>();
        cast->SetPos(pos, row, col);
        cast->Operator = 2;
        cast->aType = ResolveTypeLink(type);
        cast->Val1 = std::move(v);
        return cast;
    }
    if (p.CurrTokenId() == tkPeriod) {
        if (BaseOf(ResolveTypeLink(type)) != btClass) {
            Error(ecClassTypeExpected);
            return nullptr;
        }
        p.Next();
        return ReadClassConstructor(type);
    }
    TPSType* ref = TypeRefType();
    UseType(ref);
    auto c = NewConstValue(ref);
    c->ttype = ResolveTypeLink(type);
    return MakeData(std::move(c), pos, row, col);
}

std::unique_ptr<TPSValue> TPSPascalCompiler::ReadIdentifier(int mode) {
    TPSPascalParser& p = Parser();
    const std::string name = p.GetToken();
    const std::string org = p.OriginalToken();
    const std::uint32_t h = MakeHash(name);
    const auto pos = static_cast<std::int32_t>(p.CurrTokenPos());
    const auto row = static_cast<std::int32_t>(p.Row());
    const auto col = static_cast<std::int32_t>(p.Col());
    std::unique_ptr<TPSValue> v;
    TPSInternalProcedure* proc = block_->Proc;

    // Fields of the active with-values, innermost first.
    if (mode != 1) {
        for (TPSBlockInfo* b = block_; b != nullptr && v == nullptr; b = b->Owner) {
            for (auto it = b->WithList.rbegin(); it != b->WithList.rend() && v == nullptr; ++it) {
                const auto* temp = As<TPSValueLocalVar>((*it)->NewValue.get());
                if (temp == nullptr) continue;
                TPSType* t = ResolveTypeLink(GetTypeOf(temp));
                if (BaseOf(t) == btClass) {
                    // A member of the object: the member reader takes the
                    // name as if it followed a period.
                    std::unique_ptr<TPSValue> self = std::make_unique<TPSValueLocalVar>();
                    self->SetPos(pos, row, col);
                    static_cast<TPSValueLocalVar*>(self.get())->LocalVarNo = temp->LocalVarNo;
                    bool found = false;
                    if (!ReadClassMember(self, true, found)) return nullptr;
                    if (found) v = std::move(self);
                    continue;
                }
                auto* record = As<TPSRecordType>(t);
                if (record == nullptr) continue;
                for (std::size_t f = 0; f < record->Fields.size(); ++f) {
                    if (!SameName(record->Fields[f]->FieldNameHash, record->Fields[f]->FieldName, h, name)) continue;
                    auto var = std::make_unique<TPSValueLocalVar>();
                    var->SetPos(pos, row, col);
                    var->LocalVarNo = temp->LocalVarNo;
                    auto sub = std::make_unique<TPSSubNumber>();
                    sub->SubNo = static_cast<std::uint32_t>(f);
                    sub->aType = record->Fields[f]->FType;
                    var->RecAdd(std::move(sub));
                    v = std::move(var);
                    p.Next();
                    break;
                }
            }
        }
    }
    if (v == nullptr && name == "RESULT"sv) {
        if (proc->Decl.Result == nullptr) {
            Error(ecUnknownIdentifier, org);
            return nullptr;
        }
        auto var = std::make_unique<TPSValueParamVar>();
        var->SetPos(pos, row, col);
        var->ParamNo = 0;
        resultUsed_ = true;
        v = std::move(var);
        p.Next();
    }
    if (v == nullptr) {
        for (std::size_t i = 0; i < proc->Decl.Params.size(); ++i) {
            if (proc->Decl.Params[i]->Name != name) continue;
            auto var = std::make_unique<TPSValueParamVar>();
            var->SetPos(pos, row, col);
            var->ParamNo = static_cast<std::uint32_t>(i + (proc->Decl.Result != nullptr ? 1 : 0));
            v = std::move(var);
            p.Next();
            break;
        }
    }
    if (v == nullptr) {
        for (std::size_t i = 0; i < proc->ProcVars.size(); ++i) {
            TPSProcVar& local = *proc->ProcVars[i];
            if (local.Name.empty() || !SameName(local.NameHash, local.Name, h, name)) continue;
            local.Used = true;
            auto var = std::make_unique<TPSValueLocalVar>();
            var->SetPos(pos, row, col);
            var->LocalVarNo = static_cast<std::uint32_t>(i);
            v = std::move(var);
            p.Next();
            break;
        }
    }
    if (v == nullptr) {
        if (const std::int32_t i = FindGlobalVar(h, name); i >= 0) {
            vars_[static_cast<std::size_t>(i)]->Use();
            auto var = std::make_unique<TPSValueGlobalVar>();
            var->SetPos(pos, row, col);
            var->GlobalVarNo = static_cast<std::uint32_t>(i);
            v = std::move(var);
            p.Next();
            ReplaceNotificationVariant(v);
            if (v == nullptr) return nullptr;
        }
    }
    if (v == nullptr) {
        if (TPSType* type = FindNamedType(name)) {
            if (mode == 1) {
                Error(ecVariableExpected);
                return nullptr;
            }
            p.Next();
            v = ReadTypeReference(type);
            if (v == nullptr) return nullptr;
        }
    }
    if (v == nullptr) {
        const std::int32_t n = FindProcNumber(name);
        if (n >= 0) {
            if (mode == 1) {
                Error(ecVariableExpected);
                return nullptr;
            }
            p.Next();
            v = MakeProcCall(static_cast<std::uint32_t>(n));
            if (v == nullptr) return nullptr;
            v->SetPos(pos, row, col);
        }
    }
    if (v == nullptr) {
        if (const TPSConstant* c = FindConstant(h, name, false)) {
            if (mode != 0) {
                Error(ecVariableExpected);
                return nullptr;
            }
            UseType(c->Value->FType);
            p.Next();
            v = MakeData(DuplicateConstValue(*c->Value), pos, row, col);
        }
    }
    if (v == nullptr) {
        Error(ecUnknownIdentifier, org);
        return nullptr;
    }
    if (!ReadPostfix(v)) return nullptr;
    return v;
}

// A read of a notification variant becomes a call of its getter, an
// assignment to it (the rest of the statement) a call of its setter.
void TPSPascalCompiler::ReplaceNotificationVariant(std::unique_ptr<TPSValue>& v) {
    const auto* global = As<TPSValueGlobalVar>(v.get());
    if (global == nullptr || BaseOf(vars_[global->GlobalVarNo]->AType) != btNotificationVariant) return;
    TPSPascalParser& p = Parser();
    const bool assignment = p.CurrTokenId() == tkAssignment;
    const std::int32_t n = FindProcNumber(assignment ? "!NOTIFICATIONVARIANTSET" : "!NOTIFICATIONVARIANTGET");
    if (n < 0) {
        Error(ecUnknownIdentifier, vars_[global->GlobalVarNo]->OrgName);
        v.reset();
        return;
    }
    const TPSParametersDecl& decl = *ProcDecl(static_cast<std::uint32_t>(n));
    numbering_.UseParams(decl);
    auto nameValue = NewConstValue(StringType());
    nameValue->tstring = vars_[global->GlobalVarNo]->Name;
    std::unique_ptr<TPSValue> args[2] = {MakeData(std::move(nameValue), v->Pos, v->Row, v->Col), nullptr};
    if (assignment) {
        p.Next();
        args[1] = ReadExpression();
        if (args[1] == nullptr) {
            v.reset();
            return;
        }
    }
    auto call = MakeCallOf(static_cast<std::uint32_t>(n), decl.Result);
    call->SetPos(v->Pos, v->Row, v->Col);
    for (std::size_t i = 0; i < decl.Params.size(); ++i) {
        TPSParameter& prm = call->Parameters.Add();
        prm.Val = std::move(args[i]);
        prm.ExpectedType = decl.Params[i]->AType;
    }
    v = std::move(call);
}

bool TPSPascalCompiler::ReadPostfix(std::unique_ptr<TPSValue>& v) {
    for (;;) {
        // Every reader below starts with one of these tokens; with any other
        // there is nothing to read.
        const TPSTokenId next = Parser().CurrTokenId();
        if (next != tkPeriod && next != tkOpenBlock && next != tkOpenRound && next != tkDereference) return true;
        bool changed = false;
        if (!ReadSubscripts(v, false, changed)) return false;
        bool classMember = false;
        if (!ReadClassMember(v, false, classMember)) return false;
        bool external = false;
        if (!ReadExternalClassMember(v, external)) return false;
        bool member = false;
        if (!ReadVariantMember(v, member)) return false;
        bool method = false;
        if (!ReadInterfaceMember(v, method)) return false;
        bool called = false;
        if (!CheckProcVarCall(v, called)) return false;
        bool indexed = false;
        if (!ReadDefaultProperty(v, indexed)) return false;
        if (!changed && !classMember && !external && !member && !method && !called && !indexed) return true;
    }
}

// v.Name(arguments) and v.Name := value on a Variant are bound late: a call
// of IDispatchInvoke with the value, whether it is a property write, the
// member name and the arguments as one array.
bool TPSPascalCompiler::ReadVariantMember(std::unique_ptr<TPSValue>& v, bool& changed) {
    TPSPascalParser& p = Parser();
    TPSType* type = ResolveTypeLink(GetTypeOf(v.get()));
    if (p.CurrTokenId() != tkPeriod || !IsVariantBase(BaseOf(type))) return true;
    p.Next();
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecIdentifierExpected);
        return false;
    }
    const std::string member = p.OriginalToken();
    p.Next();
    const std::int32_t n = FindProcNumber("IDISPATCHINVOKE");
    if (n < 0) {
        Error(ecUnknownIdentifier, "IDispatchInvoke");
        return false;
    }
    changed = true;
    return MakeLateBoundCall(v, static_cast<std::uint32_t>(n), type, member, false);
}

// The member's name has been passed. The arguments in parentheses (or, when
// allowed, in brackets) and a value assigned after ":=" go into one array;
// the call passes the object, whether it is a write, the name and the array,
// with the types the procedure declares.
bool TPSPascalCompiler::MakeLateBoundCall(std::unique_ptr<TPSValue>& v, std::uint32_t proc_no, TPSType* result,
                                          const std::string& member, bool brackets) {
    TPSPascalParser& p = Parser();
    const TPSParametersDecl& decl = *ProcDecl(proc_no);
    numbering_.UseParams(decl);
    auto args = std::make_unique<TPSValueArray>();
    args->SetPos(v->Pos, v->Row, v->Col);
    TPSParameters read;
    if (!ReadParameters(brackets && p.CurrTokenId() == tkOpenBlock, read)) return false;
    for (auto& item : read.Items) args->Add(std::move(item->Val));
    const bool assignment = p.CurrTokenId() == tkAssignment;
    if (assignment) {
        p.Next();
        auto value = ReadExpression();
        if (value == nullptr) return false;
        args->Add(std::move(value));
    }
    auto setFlag = NewConstValue(booleanType_);
    setFlag->tu32 = assignment ? 1 : 0;
    auto name = NewConstValue(StringType());
    name->tstring = member;
    auto call = MakeCallOf(proc_no, result);
    call->SetPos(v->Pos, v->Row, v->Col);
    std::unique_ptr<TPSValue> values[4] = {std::move(v), MakeData(std::move(setFlag), 0, 0, 0),
                                           MakeData(std::move(name), 0, 0, 0), std::move(args)};
    for (std::size_t i = 0; i < 4 && i < decl.Params.size(); ++i) {
        TPSParameter& prm = call->Parameters.Add();
        prm.ExpectedType = decl.Params[i]->AType;
        // An untyped parameter takes the argument with its own type.
        if (prm.ExpectedType == nullptr) prm.ExpectedType = GetTypeOf(values[i].get());
        prm.Val = std::move(values[i]);
        prm.ParamMode = decl.Params[i]->Mode;
    }
    v = std::move(call);
    return true;
}

bool TPSPascalCompiler::CheckProcVarCall(std::unique_ptr<TPSValue>& v, bool& changed) {
    TPSPascalParser& p = Parser();
    if (p.CurrTokenId() != tkOpenRound && p.CurrTokenId() != tkDereference) return true;
    if (BaseOf(GetTypeOf(v.get())) != btProcPtr || As<TPSValueProc>(v.get()) != nullptr) {
        if (p.CurrTokenId() == tkDereference || As<TPSValueProc>(v.get()) == nullptr) {
            Error(ecTypeMismatch);
            v.reset();
            return false;
        }
        return true;
    }
    if (p.CurrTokenId() == tkDereference) p.Next();
    v = MakeProcVarCall(std::move(v));
    changed = v != nullptr;
    return v != nullptr;
}

bool TPSPascalCompiler::ReadSubscripts(std::unique_ptr<TPSValue>& v, bool implied, bool& changed) {
    TPSPascalParser& p = Parser();
    TPSType* t = ResolveTypeLink(GetTypeOf(v.get()));
    for (;;) {
        const std::uint8_t b = BaseOf(t);
        if (b == btClass || b == btInterface || b == btNotificationVariant || b == btUndefinedClass) return true;
        if (p.CurrTokenId() != tkOpenBlock) {
            if (p.CurrTokenId() != tkPeriod && !implied) return true;
            if (b == btVariant) return true;
            if (!implied) p.Next();
            auto* record = As<TPSRecordType>(t);
            if (record == nullptr) {
                Error(ecSemicolonExpected);
                return false;
            }
            const std::string field = p.GetToken();
            const std::uint32_t h = MakeHash(field);
            std::int32_t index = -1;
            for (std::size_t f = 0; f < record->Fields.size() && index < 0; ++f)
                if (SameName(record->Fields[f]->FieldNameHash, record->Fields[f]->FieldName, h, field))
                    index = static_cast<std::int32_t>(f);
            if (index < 0) {
                if (implied) return true;
                Error(ecUnknownIdentifier, p.OriginalToken());
                return false;
            }
            TPSType* ft = record->Fields[static_cast<std::size_t>(index)]->FType;
            auto* var = As<TPSValueVar>(v.get());
            auto* call = As<TPSValueProcNo>(v.get());
            auto* callField = As<TPSValueCallField>(v.get());
            if (call != nullptr || callField != nullptr) {
                implied = false;
                p.Next();
                if (callField == nullptr) {
                    auto field = std::make_unique<TPSValueCallField>();
                    field->SetPos(v->Pos, v->Row, v->Col);
                    field->Call = std::move(v);
                    callField = field.get();
                    v = std::move(field);
                }
                callField->Fields.push_back(static_cast<std::uint32_t>(index));
                callField->FieldType = ft;
                changed = true;
                t = ResolveTypeLink(ft);
                continue;
            }
            if (var == nullptr) {
                Error(ecVariableExpected, p.OriginalToken());
                return false;
            }
            implied = false;
            p.Next();
            auto sub = std::make_unique<TPSSubNumber>();
            sub->SubNo = static_cast<std::uint32_t>(index);
            sub->aType = ft;
            var->RecAdd(std::move(sub));
            changed = true;
            t = ResolveTypeLink(ft);
            continue;
        }
        if (b == btString || b == btVariant) {
            // Elements of strings and of variant arrays go through the
            // standard StrGet/StrSet and VarArrayGet/VarArraySet.
            const bool text = b == btString;
            p.Next();
            auto index = ReadExpression();
            if (index == nullptr) return false;
            if (!IsIntType(BaseOf(GetTypeOf(index.get())))) {
                Error(ecTypeMismatch);
                return false;
            }
            if (!Expect(tkCloseBlock, ecCloseBlockExpected)) return false;
            const bool isVar = As<TPSValueVar>(v.get()) != nullptr;
            if (p.CurrTokenId() == tkAssignment) {
                if (!isVar) {
                    Error(ecVariableExpected);
                    return false;
                }
                const std::int32_t n = FindProcNumber(text ? "STRSET" : "VARARRAYSET");
                if (n < 0) {
                    Error(ecUnknownIdentifier, "StrSet");
                    return false;
                }
                p.Next();
                auto value = ReadExpression();
                if (value == nullptr) return false;
                if (text && BaseOf(GetTypeOf(value.get())) != btChar) {
                    Error(ecTypeMismatch);
                    return false;
                }
                auto call = MakeCallOf(static_cast<std::uint32_t>(n), nullptr);
                const TPSParametersDecl& decl = *ProcDecl(call->ProcNo);
                numbering_.UseParams(decl);
                std::unique_ptr<TPSValue> args[3] = {std::move(value), std::move(index), std::move(v)};
                for (int i = 0; i < 3; ++i) {
                    TPSParameter& prm = call->Parameters.Add();
                    prm.Val = std::move(args[i]);
                    prm.ParamMode = decl.Params[static_cast<std::size_t>(i)]->Mode;
                    prm.ExpectedType = decl.Params[static_cast<std::size_t>(i)]->AType;
                }
                v = std::move(call);
                changed = true;
                return true;
            }
            const std::int32_t n = FindProcNumber(text ? "STRGET" : "VARARRAYGET");
            if (n < 0) {
                Error(ecUnknownIdentifier, "StrGet");
                return false;
            }
            TPSType* element = text ? charType_ : BuiltinType(btVariant);
            auto call = MakeCallOf(static_cast<std::uint32_t>(n), element);
            UseType(element);
            TPSParameter& s = call->Parameters.Add();
            s.ParamMode = isVar ? pmInOut : pmIn;
            s.ExpectedType = GetTypeOf(v.get());
            s.Val = std::move(v);
            TPSParameter& i = call->Parameters.Add();
            i.ExpectedType = BuiltinType(btS32);
            i.Val = std::move(index);
            v = std::move(call);
            changed = true;
            return true;
        }
        if (b == btArray || b == btStaticArray) {
            auto* var = As<TPSValueVar>(v.get());
            if (var == nullptr) {
                Error(ecSemicolonExpected);
                return false;
            }
            p.Next();
            auto index = ReadExpression();
            if (index == nullptr) return false;
            if (!IsIntType(BaseOf(GetTypeOf(index.get())))) {
                Error(ecTypeMismatch);
                return false;
            }
            auto* array = static_cast<TPSArrayType*>(t);
            TPSType* element = array->ArrayTypeNo;
            const std::int32_t low = b == btStaticArray ? static_cast<TPSStaticArrayType*>(t)->StartOffset : 0;
            if (auto* d = As<TPSValueData>(index.get())) {
                bool ok = true;
                const std::int64_t n = GetConstInt64(*d->Data, ok);
                auto sub = std::make_unique<TPSSubNumber>();
                sub->SubNo = static_cast<std::uint32_t>(static_cast<std::uint64_t>(n) - static_cast<std::uint64_t>(low));
                sub->aType = element;
                var->RecAdd(std::move(sub));
            } else {
                if (low != 0) {
                    auto c = NewConstValue(BuiltinType(btS32));
                    c->ts32 = low;
                    auto node = std::make_unique<TPSBinValueOp>();
                    node->SetPos(index->Pos, index->Row, index->Col);
                    node->Operator = otSub;
                    node->aType = BuiltinType(btS32);
                    node->Val2 = MakeData(std::move(c), index->Pos, index->Row, index->Col);
                    node->Val1 = std::move(index);
                    index = std::move(node);
                }
                auto sub = std::make_unique<TPSSubValue>();
                sub->SubNo = std::move(index);
                sub->aType = element;
                var->RecAdd(std::move(sub));
            }
            if (!Expect(tkCloseBlock, ecCloseBlockExpected)) return false;
            changed = true;
            t = ResolveTypeLink(element);
            continue;
        }
        Error(ecSemicolonExpected);
        return false;
    }
}

// ============================================================ typing

TPSType* TPSPascalCompiler::GetBinOpType(TPSValue* left, TPSValue* right, std::uint8_t op) {
    TPSType* t1 = ResolveTypeLink(GetTypeOf(left));
    TPSType* t2 = ResolveTypeLink(GetTypeOf(right));
    if (t1 == nullptr || t2 == nullptr) {
        const bool nil1 = As<TPSValueNil>(left) != nullptr;
        const bool nil2 = As<TPSValueNil>(right) != nullptr;
        const TPSType* other = nil1 ? t2 : nil2 ? t1 : nullptr;
        const std::uint8_t b = BaseOf(other);
        if ((nil1 || nil2) && (b == btPChar || b == btString || b == btClass || b == btInterface || b == btProcPtr))
            return booleanType_;
        return nullptr;
    }
    const std::uint8_t b1 = t1->BaseType;
    const std::uint8_t b2 = t2->BaseType;
    const bool v1 = IsVariantBase(b1);
    const bool v2 = IsVariantBase(b2);
    const bool ctor1 = t1->Name == "TVARIANTARRAY"sv;
    const bool ctor2 = t2->Name == "TVARIANTARRAY"sv;
    auto anyScalar = [](std::uint8_t b) { return IsVariantBase(b) || IsTextBase(b) || IsIntRealType(b); };
    switch (op) {
    case otAdd:
        if (v1 && anyScalar(b2)) return t1;
        if (v2 && anyScalar(b1)) return t2;
        if (b1 == btSet && b2 == btSet && t1 == t2) return t1;
        if (IsIntType(b1) && IsIntType(b2)) return t1;
        if (IsIntRealType(b1) && IsIntRealType(b2)) return IsRealType(b1) ? t1 : t2;
        if (b1 == btSet && ctor2) return t1;
        if (b2 == btSet && ctor1) return t2;
        if (IsTextBase(b1) && IsTextBase(b2)) return StringType();
        return nullptr;
    case otSub:
    case otMul:
    case otDivide:
    case otIntDiv:
        if (v1 && (v2 || IsIntRealType(b2))) return t1;
        if (op == otSub || op == otMul) {
            if (b1 == btSet && b2 == btSet && t1 == t2) return t1;
            if (b1 == btSet && ctor2) return t1;
            if (b2 == btSet && ctor1) return t2;
        }
        if (v2 && (v1 || IsIntRealType(b1))) return t2;
        if (IsIntType(b1) && IsIntType(b2)) return t1;
        if (IsIntRealType(b1) && IsIntRealType(b2)) return IsRealType(b1) ? t1 : t2;
        return nullptr;
    case otMod:
    case otShl:
    case otShr:
        if (v1 && (v2 || IsIntType(b2))) return t1;
        if (v2 && (v1 || IsIntType(b1))) return t2;
        if (IsIntType(b1) && IsIntType(b2)) return t1;
        return nullptr;
    case otAnd:
    case otOr:
    case otXor: {
        if (v1 && (v2 || IsIntType(b2))) return t1;
        if (v2 && (v1 || IsIntType(b1))) return t2;
        if (IsIntType(b1) && IsIntType(b2)) return t1;
        if (IsBooleanType(t1) && (t1 == t2 || v2)) {
            if (op == otAnd || op == otOr) {
                auto warn = [&](const TPSValue* constant, bool is_left) {
                    const auto* d = As<TPSValueData>(constant);
                    if (d == nullptr) return false;
                    const bool value = d->Data->tu32 != 0;
                    std::uint8_t code;
                    const char* text;
                    if (op == otAnd) {
                        code = value ? ewIsNotNeeded : ewCalculationAlwaysEvaluatesTo;
                        text = value ? (is_left ? "True and" : "and True") : "False";
                    } else {
                        code = value ? ewCalculationAlwaysEvaluatesTo : ewIsNotNeeded;
                        text = value ? "True" : (is_left ? "False or" : "or False");
                    }
                    if (!quiet_) {
                        auto& msg = MakeWarning({}, code, text);
                        msg.SetCustomPos(static_cast<std::uint32_t>(left->Pos), static_cast<std::uint32_t>(left->Row),
                                         static_cast<std::uint32_t>(left->Col));
                    }
                    return true;
                };
                if (!warn(left, true)) warn(right, false);
            }
            return t1;
        }
        return nullptr;
    }
    case otAs:
        if (b2 == btTypeRef) {
            auto* d = As<TPSValueData>(right);
            if (d == nullptr) return nullptr;
            UseType(d->Data->ttype);
            return d->Data->ttype;
        }
        return nullptr;
    case otGreaterEqual:
    case otLessEqual:
    case otGreater:
    case otLess:
        if (v1 && anyScalar(b2)) return booleanType_;
        if ((op == otGreaterEqual || op == otLessEqual) && b1 == btSet && b2 == btSet && t1 == t2) return booleanType_;
        if (v2 && anyScalar(b1)) return booleanType_;
        if (IsIntRealType(b1) && IsIntRealType(b2)) return booleanType_;
        if ((b1 == btString || b1 == btChar) && (b2 == btString || b2 == btChar)) return booleanType_;
        if (v1 || v2) return booleanType_;
        return nullptr;
    case otEqual:
    case otNotEqual:
        if (v1 && anyScalar(b2)) return booleanType_;
        if (b1 == btSet && b2 == btSet && t1 == t2) return booleanType_;
        if (v2 && anyScalar(b1)) return booleanType_;
        if (IsIntRealType(b1) && IsIntRealType(b2)) return booleanType_;
        if ((b1 == btString || b1 == btChar) && (b2 == btString || b2 == btChar)) return booleanType_;
        if ((b1 == btSet && ctor2) || (b2 == btSet && ctor1)) return booleanType_;
        if (b1 == btEnum && t1 == t2) return booleanType_;
        if (b1 == btClass && b2 == btClass) return booleanType_;
        if (t1 == t2) return booleanType_;
        if (v1 || v2) return booleanType_;
        return nullptr;
    case otIs: return b2 == btTypeRef ? booleanType_ : nullptr;
    case otIn:
        if (ctor2) return booleanType_;
        if (b2 == btSet && ResolveTypeLink(static_cast<TPSSetType*>(t2)->SetType) == t1) return booleanType_;
        return nullptr;
    default: return nullptr;
    }
}

// ============================================================ folding

bool TPSPascalCompiler::FoldBinary(TPSConstValue& left, const TPSConstValue& right, std::uint8_t op) {
    const TFoldResult r = FoldBinaryConstants(TFoldTypes{booleanType_, StringType()}, left, right, op);
    if (!r.Ok()) {
        Error(r.Code, r.Param);
        return false;
    }
    UseType(left.FType);
    return true;
}

bool TPSPascalCompiler::FoldConstants(std::unique_ptr<TPSValue>& v) {
    if (As<TPSBinValueOp>(v.get()) != nullptr) {
        // The left operands down to the first that is no operation, folded
        // from there upwards in a loop: a long chain costs no stack.
        std::vector<std::unique_ptr<TPSValue>*> chain{&v};
        while (auto* b = As<TPSBinValueOp>(chain.back()->get())) chain.push_back(&b->Val1);
        if (!FoldConstants(*chain.back())) return false;
        chain.pop_back();
        for (auto slot = chain.rbegin(); slot != chain.rend(); ++slot) {
            auto* b = static_cast<TPSBinValueOp*>((*slot)->get());
            if (!FoldConstants(b->Val2)) return false;
            auto* l = As<TPSValueData>(b->Val1.get());
            auto* r = As<TPSValueData>(b->Val2.get());
            if (l == nullptr || r == nullptr) continue;
            if (!FoldBinary(*l->Data, *r->Data, b->Operator)) return false;
            auto result = MakeData(std::move(l->Data), b->Pos, b->Row, b->Col);
            **slot = std::move(result);
        }
        return true;
    }
    if (auto* u = As<TPSUnValueOp>(v.get())) {
        if (!FoldConstants(u->Val1)) return false;
        auto* d = As<TPSValueData>(u->Val1.get());
        if (d == nullptr) return true;
        std::unique_ptr<TPSConstValue> result;
        bool ok = false;
        switch (u->Operator) {
        case 0: ok = FoldNot(*d->Data, IsBooleanType(d->Data->FType)); break;
        case 1: ok = FoldNegate(*d->Data); break;
        default: {
            result = NewConstValue(ResolveTypeLink(u->aType));
            ok = FoldCast(*d->Data, *result);
            break;
        }
        }
        if (!ok) {
            Error(ecTypeMismatch);
            return false;
        }
        if (result == nullptr) result = std::move(d->Data);
        UseType(result->FType);
        v = MakeData(std::move(result), u->Pos, u->Row, u->Col);
        return true;
    }
    return true;
}

}  // namespace script::compiler
