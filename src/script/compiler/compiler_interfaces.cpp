// Interfaces: the model of an interface type, interface declarations in a
// script, and calls of their methods through access procedures that the
// runtime binds by the method's slot.
#include "script/compiler/compiler.h"
#include "script/compiler/compiler_constants.h"
#include "script/compiler/compiler_values.h"
#include "script/compiler/image_writer.h"

namespace script::compiler {

namespace {
// Ancestor chains are walked at most this far, so that a host declaring an
// interface as its own ancestor cannot hang the compiler.
constexpr int kMaxInterfaceDepth = 1000;

constexpr struct {
    const char* name;
    std::uint8_t cc;
} kCallingConventions[] = {{"REGISTER", 0}, {"PASCAL", 1}, {"CDECL", 2}, {"STDCALL", 3}, {"SAFECALL", 4}};
}  // namespace

std::uint32_t TPSInterface::TotalMethodCount() const {
    std::uint32_t total = 0;
    int depth = 0;
    for (const TPSInterface* i = this; i != nullptr && depth < kMaxInterfaceDepth; i = i->InheritedFrom, ++depth)
        total += i->MethodCount + static_cast<std::uint32_t>(i->Methods.size());
    return total;
}

TPSInterfaceMethod* TPSInterface::FindMethod(std::string_view upper) const {
    const std::uint32_t h = MakeHash(upper);
    int depth = 0;
    for (const TPSInterface* i = this; i != nullptr && depth < kMaxInterfaceDepth; i = i->InheritedFrom, ++depth)
        for (const auto& m : i->Methods)
            if (SameName(m->NameHash, m->Name, h, upper)) return m.get();
    return nullptr;
}

bool TPSInterface::AcceptsValueOf(const TPSInterface* value) const {
    int depth = 0;
    for (const TPSInterface* i = value; i != nullptr && depth < kMaxInterfaceDepth; i = i->InheritedFrom, ++depth)
        if (i == this) return true;
    return false;
}

bool TPSPascalCompiler::AddInterfaceMethod(TPSInterface* intf, const std::string& declaration, std::uint8_t cc) {
    CheckCompiling();
    if (intf == nullptr) throw EPSCompilerException(kInvalidType);
    TPSRegProc header;
    const bool ok = ParseRegistrationHeader(header, declaration);
    auto method = std::make_unique<TPSInterfaceMethod>();
    method->Intf = intf;
    method->Name = header.Name;
    method->OrgName = header.OrgName;
    method->NameHash = header.NameHash;
    method->CC = cc;
    method->Decl.Assign(header.Decl);
    method->MethodNo = intf->TotalMethodCount();
    intf->Methods.push_back(std::move(method));
    return ok;
}

// "INTERFACE" is current: "(" parent ")" "[" GUID "]" methods "END".
TPSType* TPSPascalCompiler::ReadInterfaceType(std::string_view new_name) {
    TPSPascalParser& p = Parser();
    const auto pos = static_cast<std::int32_t>(p.CurrTokenPos());
    const auto row = static_cast<std::int32_t>(p.Row());
    const auto col = static_cast<std::int32_t>(p.Col());
    p.Next();
    if (!Expect(tkOpenRound, ecOpenRoundExpected)) return nullptr;
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecIdentifierExpected);
        return nullptr;
    }
    TPSType* parentType = ResolveTypeLink(FindNamedType(p.GetToken()));
    if (parentType == nullptr) {
        Error(ecUnknownType, p.OriginalToken());
        return nullptr;
    }
    if (parentType->BaseType != btInterface) {
        Error(ecTypeMismatch);
        return nullptr;
    }
    p.Next();
    if (!Expect(tkCloseRound, ecCloseRoundExpected)) return nullptr;
    if (!Expect(tkOpenBlock, ecOpenBlockExpected)) return nullptr;
    if (p.CurrTokenId() != tkString) {
        Error(ecStringExpected);
        return nullptr;
    }
    auto guidText = ReadString();
    if (guidText == nullptr) return nullptr;
    bool isText = true;
    const std::string guid = GetConstString(*guidText, isText);
    auto type = std::make_unique<TPSInterfaceType>();
    if (!isText || !ParseGuid(guid, type->Guid)) {
        Error(ecCustomError, "Invalid GUID");
        return nullptr;
    }
    if (!Expect(tkCloseBlock, ecCloseBlockExpected)) return nullptr;

    interfaces_.push_back(std::make_unique<TPSInterface>());
    TPSInterface& intf = *interfaces_.back();
    intf.Name = FastUpperCase(new_name);
    intf.NameHash = MakeHash(intf.Name);
    intf.InheritedFrom = static_cast<TPSInterfaceType*>(parentType)->Intf;
    type->Intf = &intf;
    type->DeclarePos = pos;
    type->DeclareRow = row;
    type->DeclareCol = col;
    intf.AType = static_cast<TPSInterfaceType*>(AddNamedType(std::move(type), new_name));
    while (p.CurrTokenId() != tkEnd) {
        if (!ReadInterfaceMethod(intf)) return nullptr;
    }
    p.Next();
    return intf.AType;
}

// A method header: "PROCEDURE" or "FUNCTION", the name, parameters, result,
// ";" and an optional calling convention with its ";".
bool TPSPascalCompiler::ReadInterfaceMethod(TPSInterface& intf) {
    TPSPascalParser& p = Parser();
    const TPSTokenId kind = p.CurrTokenId();
    if ((kind != tkProcedure && kind != tkFunction)) {
        Error(ecCustomError, "Invalid method");
        return false;
    }
    p.Next();
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecCustomError, "Invalid method");
        return false;
    }
    auto method = std::make_unique<TPSInterfaceMethod>();
    method->Intf = &intf;
    method->OrgName = p.OriginalToken();
    method->Name = p.GetToken();
    method->NameHash = MakeHash(method->Name);
    if (intf.FindMethod(method->Name) != nullptr) {
        Error(ecDuplicateIdentifier, method->OrgName);
        return false;
    }
    p.Next();
    // The header reader's own messages would point into the middle of the
    // method; one message names the method as a whole instead.
    const bool savedQuiet = quiet_;
    const int savedErrors = quietErrors_;
    quiet_ = true;
    bool ok = ReadParameterList(method->Decl, method->Name, kind == tkFunction, true) &&
              p.CurrTokenId() == tkSemiColon;
    quiet_ = savedQuiet;
    quietErrors_ = savedErrors;
    if (!ok) {
        Error(ecCustomError, "Invalid method");
        return false;
    }
    p.Next();
    if (p.CurrTokenId() == tkIdentifier) {
        for (const auto& c : kCallingConventions) {
            if (p.GetToken() != c.name) continue;
            method->CC = c.cc;
            p.Next();
            if (!Expect(tkSemiColon, ecSemicolonExpected)) return false;
            break;
        }
    }
    method->MethodNo = intf.TotalMethodCount();
    intf.Methods.push_back(std::move(method));
    return true;
}

// The access procedure of a method, made once: "intf:." then the method's
// slot as a 4-byte number, the calling convention byte and the result and
// parameter modes. The interface itself is passed in front of the
// parameters; the runtime takes it from there.
std::int32_t TPSPascalCompiler::InterfaceMethodProc(TPSInterfaceMethod& method) {
    if (method.AProcNo >= 0) return method.AProcNo;
    auto reg = std::make_unique<TPSRegProc>();
    reg->Decl.Assign(method.Decl);
    reg->OrgName = method.Intf->Name + "." + method.OrgName;
    std::string text = "intf:.";
    BlockWriteLong(text, method.MethodNo);
    text.push_back(static_cast<char>(method.CC));
    text += MakeProcSignature(method.Decl);
    reg->ImportDecl = std::move(text);
    regProcs_.push_back(std::move(reg));
    method.AProcNo = ProcNumberOfRegProc(regProcs_.back().get());
    return method.AProcNo;
}

// v.Method(arguments) on an interface value: a call of the method's access
// procedure with v in front of the arguments.
bool TPSPascalCompiler::ReadInterfaceMember(std::unique_ptr<TPSValue>& v, bool& changed) {
    TPSPascalParser& p = Parser();
    TPSType* type = ResolveTypeLink(GetTypeOf(v.get()));
    if (p.CurrTokenId() != tkPeriod || BaseOf(type) != btInterface) return true;
    p.Next();
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecIdentifierExpected);
        return false;
    }
    const TPSInterface* intf = static_cast<TPSInterfaceType*>(type)->Intf;
    TPSInterfaceMethod* method = intf != nullptr ? intf->FindMethod(p.GetToken()) : nullptr;
    if (method == nullptr) {
        Error(ecUnknownIdentifier, p.OriginalToken());
        return false;
    }
    p.Next();
    const auto procNo = static_cast<std::uint32_t>(InterfaceMethodProc(*method));
    numbering_.UseParams(method->Decl);
    auto call = MakeCallOf(procNo, method->Decl.Result);
    call->SetPos(v->Pos, v->Row, v->Col);
    call->Parameters.Add();  // the interface, filled below
    if (!ReadParameters(false, call->Parameters)) return false;
    if (!ValidateParameters(call->Parameters, method->Decl)) return false;
    TPSParameter& self = call->Parameters.Item(0);
    self.Val = std::move(v);
    self.ExpectedType = type;
    self.ParamMode = pmIn;
    v = std::move(call);
    changed = true;
    return true;
}

}  // namespace script::compiler
