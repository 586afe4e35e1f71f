// Host classes: the model of a class type, member lookup, and the access
// procedures through which methods, properties, casts and nil are reached.
// This system's host registers no class, so scripts of the plug-in host never
// meet these paths; they are what a host that imports classes builds on.
#include "script/compiler/compiler.h"
#include "script/compiler/compiler_constants.h"
#include "script/compiler/compiler_values.h"
#include "script/compiler/image_writer.h"

namespace script::compiler {

namespace {
// Ancestor chains are walked at most this far, so that a host making a class
// its own ancestor cannot hang the compiler.
constexpr int kMaxClassDepth = 1000;
}  // namespace

// ============================================================ the model

TPSClassMember* TPSCompileTimeClass::FindMember(std::string_view upper) const {
    int depth = 0;
    if (upper.empty()) {
        for (const TPSCompileTimeClass* c = this; c != nullptr && depth < kMaxClassDepth;
             c = c->ClassInheritsFrom, ++depth)
            if (c->DefaultProperty >= 0) return c->Members[static_cast<std::size_t>(c->DefaultProperty)].get();
        return nullptr;
    }
    const std::uint32_t h = MakeHash(upper);
    for (const TPSCompileTimeClass* c = this; c != nullptr && depth < kMaxClassDepth; c = c->ClassInheritsFrom, ++depth)
        for (auto it = c->Members.rbegin(); it != c->Members.rend(); ++it)
            if (SameName((*it)->NameHash, (*it)->Name, h, upper)) return it->get();
    return nullptr;
}

bool TPSCompileTimeClass::IsCompatibleWith(const TPSType* type) const {
    int depth = 0;
    for (const TPSCompileTimeClass* c = ClassModelOf(type); c != nullptr && depth < kMaxClassDepth;
         c = c->ClassInheritsFrom, ++depth)
        if (c == this) return true;
    return false;
}

TPSClassMember& TPSCompileTimeClass::AddMember(std::string_view name) {
    auto member = std::make_unique<TPSClassMember>();
    member->Class = this;
    member->OrgName = std::string(name);
    member->Name = FastUpperCase(name);
    member->NameHash = MakeHash(member->Name);
    Members.push_back(std::move(member));
    return *Members.back();
}

TPSClassMember* TPSCompileTimeClass::RegisterMethod(const std::string& declaration) {
    Owner->CheckCompiling();
    // A constructor reads as a function that returns an object of this class.
    std::string text = declaration;
    const std::size_t start = declaration.find_first_not_of(" \t\r\n");
    const std::size_t wordEnd = declaration.find_first_not_of(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789", start == std::string::npos ? 0 : start);
    const bool constructor =
        start != std::string::npos &&
        FastUpperCase(std::string_view(declaration).substr(start, wordEnd - start)) == "CONSTRUCTOR";
    if (constructor) {
        text = "function" + declaration.substr(wordEnd == std::string::npos ? declaration.size() : wordEnd);
        text.resize(text.find_last_not_of(" \t\r\n;") + 1);
        text += ": " + AType->Name;
    }
    TPSRegProc header;
    if (!Owner->ParseRegistrationHeader(header, text))
        throw EPSCompilerException(FormatText(kUnableToRegisterFunction, {declaration}));
    TPSClassMember& member = AddMember(header.OrgName);
    member.Kind = constructor ? TPSClassMemberKind::Constructor : TPSClassMemberKind::Method;
    member.Decl.Assign(header.Decl);
    return &member;
}

TPSClassMember* TPSCompileTimeClass::RegisterProperty(const std::string& name, const std::string& types,
                                                      std::uint8_t mode) {
    Owner->CheckCompiling();
    if (name.empty() || mode > pamWriteOnly) throw EPSCompilerException(FormatText(kUnableToRegisterType, {name}));
    std::vector<TPSType*> found;
    std::size_t start = 0;
    while (start < types.size()) {
        const std::size_t end = std::min(types.find(' ', start), types.size());
        if (end > start) {
            TPSType* t = Owner->FindNamedType(FastUpperCase(std::string_view(types).substr(start, end - start)));
            if (t == nullptr) throw EPSCompilerException(FormatText(kUnableToRegisterType, {name}));
            found.push_back(t);
        }
        start = end + 1;
    }
    if (found.empty()) throw EPSCompilerException(FormatText(kUnableToRegisterType, {name}));
    TPSClassMember& member = AddMember(name);
    member.Kind = TPSClassMemberKind::Property;
    member.AccessMode = mode;
    member.Decl.Result = found.front();
    for (std::size_t i = 1; i < found.size(); ++i) {
        TPSParameterDecl& index = member.Decl.AddParam();
        index.SetName("Index" + std::to_string(i));
        index.AType = found[i];
    }
    return &member;
}

void TPSCompileTimeClass::SetDefaultProperty(const std::string& name) {
    Owner->CheckCompiling();
    const std::string upper = FastUpperCase(name);
    for (std::size_t i = Members.size(); i-- > 0;) {
        const TPSClassMember& m = *Members[i];
        if (m.Name != upper) continue;
        // Only an indexed property can be reached as obj[i].
        if (m.Kind != TPSClassMemberKind::Property || m.Decl.Params.empty()) break;
        DefaultProperty = static_cast<std::int32_t>(i);
        return;
    }
    throw EPSCompilerException(FormatText(kUnableToRegisterType, {name}));
}

TPSCompileTimeClass* TPSPascalCompiler::AddClass(TPSCompileTimeClass* parent, const std::string& name) {
    CheckCompiling();
    if (name.empty() || !FitsImageName(name)) throw EPSCompilerException(FormatText(kUnableToRegisterType, {name}));
    if (TPSCompileTimeClass* known = FindClass(name)) {
        known->ClassInheritsFrom = parent;
        return known;
    }
    if (FindNamedType(FastUpperCase(name)) != nullptr)
        throw EPSCompilerException(FormatText(kDuplicateIdentifier, {name}));
    auto type = std::make_unique<TPSClassType>();
    type->DeclarePos = -1;
    auto* classType = static_cast<TPSClassType*>(AddNamedType(std::move(type), name));
    classType->ExportName = true;
    classes_.push_back(std::make_unique<TPSCompileTimeClass>(*this, parent, classType));
    classType->Cl = classes_.back().get();
    return classType->Cl;
}

TPSCompileTimeClass* TPSPascalCompiler::FindClass(std::string_view name) const {
    const std::string upper = FastUpperCase(name);
    for (const auto& c : classes_)
        if (c->AType->Name == upper) return c.get();
    return nullptr;
}

// ============================================================ access procedures

// Made once per member and direction. A method's text: "class:", the class
// name, "|", the member name, "|", a 0 byte, then the result byte and one
// byte per parameter (1 by reference). A property's: the same up to the
// member name, then "|" for a read or "@|" for a write, then the u32 count of
// its index parameters + 1. The object itself (for a constructor the class's
// type number) is passed in front of the parameters, and a written value
// after them.
std::int32_t TPSPascalCompiler::ClassMemberProc(TPSClassMember& member, bool write) {
    std::int32_t& cached = write ? member.WriteProcNo : member.ProcNo;
    if (cached >= 0) return cached;
    auto reg = std::make_unique<TPSRegProc>();
    reg->OrgName = member.Class->AType->Name + "." + member.OrgName;
    std::string text = "class:" + member.Class->AType->Name + "|" + member.Name;
    reg->Decl.Assign(member.Decl);
    if (member.Kind != TPSClassMemberKind::Property) {
        text += "|";
        text.push_back('\0');
        text += MakeProcSignature(member.Decl);
    } else {
        if (write) {
            reg->Decl.Result = nullptr;
            TPSParameterDecl& value = reg->Decl.AddParam();
            value.SetName("Value");
            value.AType = member.Decl.Result;
        }
        text += write ? "@|" : "|";
        BlockWriteLong(text, static_cast<std::uint32_t>(member.Decl.Params.size() + 1));
    }
    reg->ImportDecl = std::move(text);
    regProcs_.push_back(std::move(reg));
    cached = ProcNumberOfRegProc(regProcs_.back().get());
    return cached;
}

// "class:+" (Org, TypeNo: U32): the value converted to the class whose type
// number is passed; its result has the target class's type.
std::int32_t TPSPascalCompiler::ClassCastProc(TPSCompileTimeClass& cls) {
    if (cls.CastProcNo >= 0) return cls.CastProcNo;
    auto reg = std::make_unique<TPSRegProc>();
    reg->OrgName = cls.AType->Name + "+";
    reg->Decl.Result = cls.AType;
    reg->Decl.AddParam().SetName("Org");
    TPSParameterDecl& typeNo = reg->Decl.AddParam();
    typeNo.SetName("TypeNo");
    typeNo.AType = BuiltinType(btU32);
    reg->ImportDecl = "class:+";
    regProcs_.push_back(std::move(reg));
    cls.CastProcNo = ProcNumberOfRegProc(regProcs_.back().get());
    return cls.CastProcNo;
}

// "class:-" (var VarNo): sets the variable to nil.
std::int32_t TPSPascalCompiler::ClassNilProc(TPSCompileTimeClass& cls) {
    if (cls.NilProcNo >= 0) return cls.NilProcNo;
    auto reg = std::make_unique<TPSRegProc>();
    reg->OrgName = cls.AType->Name + "-";
    TPSParameterDecl& var = reg->Decl.AddParam();
    var.SetName("VarNo");
    var.Mode = pmInOut;
    var.AType = cls.AType;
    reg->ImportDecl = "class:-";
    regProcs_.push_back(std::move(reg));
    cls.NilProcNo = ProcNumberOfRegProc(regProcs_.back().get());
    return cls.NilProcNo;
}

bool TPSPascalCompiler::WriteClassNil(TPSValueAllocatedStackVar& temp, TPSCompileTimeClass& cls) {
    return WriteNilCall(temp, static_cast<std::uint32_t>(ClassNilProc(cls)));
}

// The nil-setting procedure called with the temporary as its var parameter.
bool TPSPascalCompiler::WriteNilCall(TPSValueAllocatedStackVar& temp, std::uint32_t proc_no) {
    auto call = MakeCallOf(proc_no, nullptr);
    auto var = std::make_unique<TPSValueLocalVar>();
    var->SetPos(temp.Pos, temp.Row, temp.Col);
    var->LocalVarNo = temp.LocalVarNo;
    TPSParameter& prm = call->Parameters.Add();
    prm.ExpectedType = GetTypeOf(var.get());
    prm.Val = std::move(var);
    prm.ParamMode = pmInOut;
    return WriteCall(*call, nullptr);
}

std::unique_ptr<TPSValue> TPSPascalCompiler::MakeClassCast(TPSType* target, std::unique_ptr<TPSValue>& operand) {
    target = ResolveTypeLink(target);
    TPSCompileTimeClass* cls = ClassModelOf(target);
    if (cls == nullptr) return nullptr;
    UseType(target);
    auto typeNo = NewConstValue(BuiltinType(btU32));
    typeNo->tu32 = static_cast<std::uint32_t>(target->FinalTypeNo);
    auto call = MakeCallOf(static_cast<std::uint32_t>(ClassCastProc(*cls)), target);
    call->SetPos(operand->Pos, operand->Row, operand->Col);
    TPSParameter& org = call->Parameters.Add();
    org.ExpectedType = GetTypeOf(operand.get());
    org.ParamMode = pmIn;
    org.Val = std::move(operand);
    TPSParameter& number = call->Parameters.Add();
    number.ExpectedType = typeNo->FType;
    number.ParamMode = pmIn;
    number.Val = MakeData(std::move(typeNo), call->Pos, call->Row, call->Col);
    return call;
}

// ============================================================ member access

std::unique_ptr<TPSValue> TPSPascalCompiler::ReadClassConstructor(TPSType* type) {
    TPSPascalParser& p = Parser();
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecIdentifierExpected);
        return nullptr;
    }
    const TPSCompileTimeClass* cls = ClassModelOf(type);
    TPSClassMember* member = cls != nullptr ? cls->FindMember(p.GetToken()) : nullptr;
    if (member == nullptr || member->Kind != TPSClassMemberKind::Constructor) {
        Error(ecUnknownIdentifier, p.OriginalToken());
        return nullptr;
    }
    p.Next();
    // The object made has the class named, also when the constructor was
    // registered on an ancestor.
    type = ResolveTypeLink(type);
    UseType(type);
    numbering_.UseParams(member->Decl);
    auto call = MakeCallOf(static_cast<std::uint32_t>(ClassMemberProc(*member, false)), type);
    call->Parameters.Add();  // the class, filled after the arguments are read
    if (!ReadParameters(false, call->Parameters)) return nullptr;
    if (!ValidateParameters(call->Parameters, member->Decl)) return nullptr;
    auto typeNo = NewConstValue(BuiltinType(btU32));
    typeNo->tu32 = static_cast<std::uint32_t>(type->FinalTypeNo);
    TPSParameter& first = call->Parameters.Item(0);
    first.ExpectedType = typeNo->FType;
    first.ParamMode = pmIn;
    first.Val = MakeData(std::move(typeNo), call->Pos, call->Row, call->Col);
    return call;
}

// v.Member on a class value (or, implied, a member name inside "with v do").
// A member that does not exist is an error after ".", and leaves the value
// alone in implied mode.
bool TPSPascalCompiler::ReadClassMember(std::unique_ptr<TPSValue>& v, bool implied, bool& changed) {
    TPSPascalParser& p = Parser();
    TPSType* type = ResolveTypeLink(GetTypeOf(v.get()));
    if (BaseOf(type) != btClass) return true;
    if (!implied) {
        if (p.CurrTokenId() != tkPeriod) return true;
        p.Next();
    }
    if (p.CurrTokenId() != tkIdentifier) {
        if (implied) return true;
        Error(ecIdentifierExpected);
        return false;
    }
    const TPSCompileTimeClass* cls = ClassModelOf(type);
    TPSClassMember* member = cls != nullptr ? cls->FindMember(p.GetToken()) : nullptr;
    // Constructors belong to the class, not to its objects.
    if (member == nullptr || member->Kind == TPSClassMemberKind::Constructor) {
        if (implied) return true;
        Error(ecUnknownIdentifier, p.OriginalToken());
        return false;
    }
    p.Next();
    changed = true;
    return ReadMemberAccess(v, *member);
}

// v[index] on a class value: its default indexed property.
bool TPSPascalCompiler::ReadDefaultProperty(std::unique_ptr<TPSValue>& v, bool& changed) {
    TPSType* type = ResolveTypeLink(GetTypeOf(v.get()));
    if (BaseOf(type) != btClass || Parser().CurrTokenId() != tkOpenBlock) return true;
    const TPSCompileTimeClass* cls = ClassModelOf(type);
    TPSClassMember* member = cls != nullptr ? cls->FindMember("") : nullptr;
    if (member == nullptr) {
        Error(ecPeriodExpected);
        return false;
    }
    changed = true;
    return ReadMemberAccess(v, *member);
}

// The member's name has been passed. A method reads its arguments in
// parentheses; a property its index in brackets and, when ":=" follows, the
// value to write. The object goes in front of the arguments.
bool TPSPascalCompiler::ReadMemberAccess(std::unique_ptr<TPSValue>& v, TPSClassMember& member) {
    TPSPascalParser& p = Parser();
    TPSType* selfType = GetTypeOf(v.get());
    std::unique_ptr<TPSValueProcNo> call;
    if (member.Kind == TPSClassMemberKind::Method) {
        numbering_.UseParams(member.Decl);
        call = MakeCallOf(static_cast<std::uint32_t>(ClassMemberProc(member, false)), member.Decl.Result);
        call->Parameters.Add();  // the object, filled below
        if (!ReadParameters(false, call->Parameters)) return false;
        if (!ValidateParameters(call->Parameters, member.Decl)) return false;
    } else {
        TPSParameters args;
        args.Add();  // the object
        if (!member.Decl.Params.empty()) {
            if (p.CurrTokenId() != tkOpenBlock) {
                Error(ecInvalidNumberOfParameters);
                return false;
            }
            if (!ReadParameters(true, args)) return false;
        }
        const bool write = p.CurrTokenId() == tkAssignment;
        if (write && member.AccessMode == pamReadOnly) {
            Error(ecReadOnlyProperty);
            return false;
        }
        if (!write && member.AccessMode == pamWriteOnly) {
            Error(ecWriteOnlyProperty);
            return false;
        }
        const auto procNo = static_cast<std::uint32_t>(ClassMemberProc(member, write));
        const TPSParametersDecl& decl = *ProcDecl(procNo);
        numbering_.UseParams(decl);
        if (write) {
            p.Next();
            TPSParameter& value = args.Add();
            value.Val = ReadExpression();
            if (value.Val == nullptr) return false;
        }
        if (!ValidateParameters(args, decl)) return false;
        call = MakeCallOf(procNo, decl.Result);
        call->Parameters.Items = std::move(args.Items);
    }
    call->SetPos(v->Pos, v->Row, v->Col);
    TPSParameter& self = call->Parameters.Item(0);
    self.ExpectedType = selfType;
    self.ParamMode = pmIn;
    self.Val = std::move(v);
    v = std::move(call);
    return true;
}

// ============================================================ classes named before their import

TPSUndefinedClass* TPSPascalCompiler::AddUndefinedClass(const std::string& name, TPSRegProc* member_call) {
    CheckCompiling();
    if (member_call == nullptr || member_call->Decl.ParamCount() != 4)
        throw EPSCompilerException(FormatText(kUnableToRegisterType, {name}));
    if (name.empty() || FindNamedType(FastUpperCase(name)) != nullptr)
        throw EPSCompilerException(FormatText(kDuplicateIdentifier, {name}));
    auto type = std::make_unique<TPSUndefinedClassType>();
    type->DeclarePos = -1;
    auto* undefinedType = static_cast<TPSUndefinedClassType*>(AddNamedType(std::move(type), name));
    undefinedType->ExportName = true;
    undefinedClasses_.push_back(std::make_unique<TPSUndefinedClass>());
    TPSUndefinedClass& model = *undefinedClasses_.back();
    model.AType = undefinedType;
    model.MemberCall = member_call;
    undefinedType->ExtClass = &model;
    return &model;
}

std::unique_ptr<TPSValueProcNo> TPSPascalCompiler::MakeHostCall(TPSRegProc& reg, TPSType* result) {
    numbering_.UseParams(reg.Decl);
    return MakeCallOf(static_cast<std::uint32_t>(ProcNumberOfRegProc(&reg)), result);
}

// v.Name, v.Name(arguments), v.Name[index] and any of them followed by
// ":= value" on an object of a class named before its import: one call of the
// class's member-access function.
bool TPSPascalCompiler::ReadExternalClassMember(std::unique_ptr<TPSValue>& v, bool& changed) {
    TPSPascalParser& p = Parser();
    auto* type = As<TPSUndefinedClassType>(ResolveTypeLink(GetTypeOf(v.get())));
    if (type == nullptr || p.CurrTokenId() != tkPeriod) return true;
    p.Next();
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecIdentifierExpected);
        return false;
    }
    const std::string member = p.OriginalToken();
    if (type->ExtClass == nullptr || type->ExtClass->MemberCall == nullptr) {
        Error(ecUnknownIdentifier, member);
        return false;
    }
    p.Next();
    TPSRegProc& reg = *type->ExtClass->MemberCall;
    changed = true;
    return MakeLateBoundCall(v, static_cast<std::uint32_t>(ProcNumberOfRegProc(&reg)), reg.Decl.Result, member, true);
}

// TUndefined(value): the class's cast function, when it has one.
std::unique_ptr<TPSValue> TPSPascalCompiler::ReadExternalClassCast(TPSUndefinedClassType& type) {
    TPSPascalParser& p = Parser();
    p.Next();  // "("
    auto operand = ReadExpression();
    if (operand == nullptr) return nullptr;
    if (p.CurrTokenId() != tkCloseRound) {
        Error(ecCloseRoundExpected);
        return nullptr;
    }
    TPSRegProc* cast = type.ExtClass != nullptr ? type.ExtClass->CastProc : nullptr;
    if (cast == nullptr || cast->Decl.ParamCount() != 1) {
        Error(ecTypeMismatch);
        return nullptr;
    }
    p.Next();
    UseType(&type);
    auto call = MakeHostCall(*cast, &type);
    TPSParameter& prm = call->Parameters.Add();
    prm.ExpectedType = cast->Decl.Params[0]->AType != nullptr ? cast->Decl.Params[0]->AType : GetTypeOf(operand.get());
    prm.ParamMode = pmIn;
    prm.Val = std::move(operand);
    return call;
}

bool TPSPascalCompiler::WriteUndefinedClassNil(const TPSValue* at, TPSValueAllocatedStackVar& temp) {
    const auto* type = As<TPSUndefinedClassType>(ResolveTypeLink(GetTypeOf(&temp)));
    TPSRegProc* nil = type != nullptr && type->ExtClass != nullptr ? type->ExtClass->NilProc : nullptr;
    if (nil == nullptr || nil->Decl.ParamCount() != 1 || nil->Decl.Params[0]->Mode == pmIn) {
        ErrorAt(at, ecTypeMismatch);
        return false;
    }
    numbering_.UseParams(nil->Decl);
    return WriteNilCall(temp, static_cast<std::uint32_t>(ProcNumberOfRegProc(nil)));
}

bool TPSPascalCompiler::WriteExternalClassCompare(TPSBinValueOp& node, std::unique_ptr<TPSValue>& dest,
                                                  bool& handled) {
    if (node.Operator != otEqual && node.Operator != otNotEqual) return true;
    const auto* type = As<TPSUndefinedClassType>(ResolveTypeLink(GetTypeOf(node.Val1.get())));
    TPSRegProc* compare = type != nullptr && type->ExtClass != nullptr ? type->ExtClass->CompareProc : nullptr;
    if (compare == nullptr || compare->Decl.ParamCount() != 2) return true;
    handled = true;
    // The call takes the operands (and with them a nil's temporary, released
    // when the call is freed, after the call's own).
    auto call = MakeHostCall(*compare, booleanType_);
    call->SetPos(node.Pos, node.Row, node.Col);
    for (auto* side : {&node.Val1, &node.Val2}) {
        TPSParameter& prm = call->Parameters.Add();
        prm.ExpectedType = GetTypeOf(side->get());
        prm.ParamMode = pmIn;
        prm.Val = std::move(*side);
    }
    std::unique_ptr<TPSValue> value = std::move(call);
    if (node.Operator == otNotEqual) {
        auto negation = std::make_unique<TPSUnValueOp>();
        negation->SetPos(node.Pos, node.Row, node.Col);
        negation->Operator = 0;
        negation->aType = booleanType_;
        negation->Val1 = std::move(value);
        value = std::move(negation);
    }
    return WriteCalculation(dest, value);
}

}  // namespace script::compiler
