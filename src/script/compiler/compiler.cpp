// The compiler driver: life cycle, messages, the compilation steps and the
// host registration operations.
#include "script/compiler/compiler.h"

#include <cctype>

#include "script/compiler/image_writer.h"

namespace script::compiler {

TPSPascalCompiler::TPSPascalCompiler() : parser_(std::make_unique<TPSPascalParser>()) {
    cur_ = parser_.get();
    parser_->OnParserError = [this](TPSPascalParser& p, TPSLexErrorKind kind) { OnLexError(p, kind); };
}

TPSPascalCompiler::~TPSPascalCompiler() {
    FreeWorkingLists();
    CleanUp();
}

void TPSPascalCompiler::OnLexError(TPSPascalParser& parser, TPSLexErrorKind kind) {
    if (kind == lekNone) return;
    lexError_ = true;
    if (quiet_) {
        ++quietErrors_;
        return;
    }
    auto msg = std::make_unique<TPSPascalCompilerError>(LexErrorToErrorCode(kind));
    msg->SetParserPos(parser);
    messages_.push_back(std::move(msg));
}

void TPSPascalCompiler::CleanUp() {
    output_.clear();
    debug_.clear();
    debugRecords_.clear();
    messages_.clear();
}

void TPSPascalCompiler::FreeWorkingLists() {
    compiling_ = false;
    block_ = nullptr;
    loop_ = LoopContext{};
    // Procedures refer to types and registered functions: free them first.
    procs_.clear();
    vars_.clear();
    consts_.clear();
    regProcs_.clear();
    interfaces_.clear();
    classes_.clear();
    undefinedClasses_.clear();
    types_.clear();
    attributeTypes_.clear();
    ResetIndexes();
    units_.clear();
    numbering_ = TPSTypeNumbering{};
    booleanType_ = anyStringType_ = charType_ = nullptr;
}

TPSPascalCompilerMessage& TPSPascalCompiler::AddMessage(std::unique_ptr<TPSPascalCompilerMessage> msg,
                                                        const std::string& module) {
    msg->SetParserPos(*cur_);
    msg->SetModuleName(module);
    messages_.push_back(std::move(msg));
    return *messages_.back();
}

TPSPascalCompilerMessage& TPSPascalCompiler::MakeError(const std::string& module, std::uint8_t code,
                                                       const std::string& param) {
    return AddMessage(std::make_unique<TPSPascalCompilerError>(code, param), module);
}

TPSPascalCompilerMessage& TPSPascalCompiler::MakeWarning(const std::string& module, std::uint8_t code,
                                                         const std::string& param) {
    return AddMessage(std::make_unique<TPSPascalCompilerWarning>(code, param), module);
}

TPSPascalCompilerMessage& TPSPascalCompiler::MakeHint(const std::string& module, std::uint8_t code,
                                                      const std::string& param) {
    return AddMessage(std::make_unique<TPSPascalCompilerHint>(code, param), module);
}

TPSPascalCompilerMessage* TPSPascalCompiler::Error(std::uint8_t code, const std::string& param) {
    if (quiet_) {
        ++quietErrors_;
        return nullptr;
    }
    return &MakeError({}, code, param);
}

TPSPascalCompilerMessage* TPSPascalCompiler::ErrorAt(const TPSValue* at, std::uint8_t code,
                                                     const std::string& param) {
    TPSPascalCompilerMessage* msg = Error(code, param);
    if (msg != nullptr && at != nullptr)
        msg->SetCustomPos(static_cast<std::uint32_t>(at->Pos), static_cast<std::uint32_t>(at->Row),
                          static_cast<std::uint32_t>(at->Col));
    return msg;
}

bool TPSPascalCompiler::GetOutput(std::string& image) const {
    if (output_.empty()) return false;
    image = output_;
    return true;
}

bool TPSPascalCompiler::Compile(std::string_view text) {
    FreeWorkingLists();
    CleanUp();
    lexError_ = false;
    quiet_ = false;
    exprDepth_ = blockDepth_ = 0;
    cur_ = parser_.get();
    bool ok = false;
    try {
        ok = DoCompile(text);
    } catch (...) {
        // A host callback misused the registration API: the exception goes
        // to the host, but no half-built state stays behind.
        cur_ = parser_.get();
        output_.clear();
        FreeWorkingLists();
        throw;
    }
    cur_ = parser_.get();
    if (!ok) output_.clear();
    FreeWorkingLists();
    return ok;
}

bool TPSPascalCompiler::DoCompile(std::string_view text) {
    compiling_ = true;
    auto main = std::make_unique<TPSInternalProcedure>();
    main->SetName(kMainProcName);
    main->OriginalName = "Main Proc";
    main->Use();
    procs_.push_back(std::move(main));
    {
        HostScope host(*this);
        DefineStandardTypes();
        DefineStandardProcedures();
        units_.push_back("SYSTEM");
        if (OnUses && !OnUses(*this, "SYSTEM")) {
            Error(ecCustomError, FormatText("Unknown unit '%s'", {"SYSTEM"}));
            return false;
        }
    }

    parser_->SetText(text);
    if (lexError_) return false;
    if (parser_->CurrTokenId() == tkProgram) {
        parser_->Next();
        if (parser_->CurrTokenId() != tkIdentifier) {
            Error(ecIdentifierExpected);
            return false;
        }
        parser_->Next();
        if (parser_->CurrTokenId() != tkSemiColon) {
            Error(ecSemicolonExpected);
            return false;
        }
        parser_->Next();
    }
    if (parser_->CurrTokenId() == tkUses && !ProcessUses()) return false;

    for (;;) {
        if (lexError_) return false;
        const TPSTokenId tok = parser_->CurrTokenId();
        if (tok == tkProcedure || tok == tkFunction || tok == tkOpenBlock) {
            TPSAttributes attributes;
            if (!ReadAttributes(attributes)) return false;
            if (!ProcessProcedure(attributes)) return false;
        } else if (tok == tkVar) {
            parser_->Next();
            if (!ProcessVarSection(nullptr)) return false;
        } else if (tok == tkConst) {
            parser_->Next();
            if (!ProcessConstSection()) return false;
        } else if (tok == tkType) {
            parser_->Next();
            if (!ProcessTypeSection()) return false;
        } else if (tok == tkLabel) {
            parser_->Next();
            if (!ProcessLabelSection(static_cast<TPSInternalProcedure*>(procs_[0].get()))) return false;
        } else {
            break;
        }
    }

    auto* mainProc = static_cast<TPSInternalProcedure*>(procs_[0].get());
    const TPSTokenId tok = parser_->CurrTokenId();
    if (tok == tkEOF) {
        if (lexError_) return false;
        if (!AllowNoMainBlock) {
            Error(ecUnexpectedEndOfFile);
            return false;
        }
        mainProc->Data.push_back(static_cast<char>(opRet));
    } else if (tok == tkBegin) {
        if (!CompileProcBody(*mainProc, 0, tMainBegin)) return false;
    } else if (tok == tkEnd && AllowEndWithoutBegin) {
        parser_->Next();
        if (parser_->CurrTokenId() != tkPeriod) {
            Error(ecPeriodExpected);
            return false;
        }
        mainProc->Data.push_back(static_cast<char>(opRet));
    } else {
        Error(ecBeginExpected);
        return false;
    }
    if (lexError_) return false;
    if (!ResolveLabels(*mainProc)) return false;
    if (!CheckForwards()) return false;
    if (!RunExportChecks()) return false;
    HintUnusedGlobals();
    return MakeOutput();
}

bool TPSPascalCompiler::CheckForwards() {
    for (const auto& p : procs_) {
        auto* internal = As<TPSInternalProcedure>(p.get());
        if (internal != nullptr && internal->Forwarded) {
            auto* msg = Error(ecUnsatisfiedForward, internal->OriginalName);
            if (msg != nullptr)
                msg->SetCustomPos(static_cast<std::uint32_t>(internal->DeclarePos),
                                  static_cast<std::uint32_t>(internal->DeclareRow),
                                  static_cast<std::uint32_t>(internal->DeclareCol));
            return false;
        }
    }
    return true;
}

bool TPSPascalCompiler::RunExportChecks() {
    if (!OnExportCheck) return true;
    for (std::size_t i = 0; i < procs_.size(); ++i) {
        auto* internal = As<TPSInternalProcedure>(procs_[i].get());
        if (internal == nullptr || internal->Name == kMainProcName) continue;
        std::string decl;
        const TPSType* result = ResolveTypeLink(internal->Decl.Result);
        decl = result == nullptr ? "0" : result->Name;
        for (const auto& param : internal->Decl.Params) {
            const TPSType* t = ResolveTypeLink(param->AType);
            decl += param->Mode == pmIn ? " @" : " !";
            decl += t == nullptr ? std::string() : t->Name;
        }
        const std::size_t before = messages_.size();
        HostScope host(*this);
        if (!OnExportCheck(*this, *internal, decl)) return false;
        // A check that recorded an error refuses the procedure too.
        for (std::size_t m = before; m < messages_.size(); ++m)
            if (dynamic_cast<TPSPascalCompilerError*>(messages_[m].get()) != nullptr) return false;
    }
    return true;
}

void TPSPascalCompiler::HintUnusedGlobals() {
    for (const auto& var : vars_) {
        if (var->Used) continue;
        auto& msg = MakeHint({}, ehVariableNotUsed, var->OrgName);
        msg.SetCustomPos(static_cast<std::uint32_t>(var->DeclarePos), static_cast<std::uint32_t>(var->DeclareRow),
                         static_cast<std::uint32_t>(var->DeclareCol));
    }
}

bool TPSPascalCompiler::MakeOutput() {
    TPSImageSource source;
    source.Types = &types_;
    source.Procs = &procs_;
    source.Vars = &vars_;
    source.ResolveUndefinedClass = [](const TPSUndefinedClassType& type) -> const TPSType* {
        const TPSUndefinedClass* model = type.ExtClass;
        return model != nullptr && model->ImportedAs != nullptr ? model->ImportedAs->AType : nullptr;
    };
    TPSImageOutput out;
    if (!WriteImage(source, out)) {
        Error(ecInternalError, out.Error.empty() ? std::string("output") : out.Error);
        return false;
    }
    output_ = std::move(out.Image);
    debug_ = std::move(out.DebugNames) + debugRecords_;
    return true;
}

bool ExportCheck(TPSPascalCompiler& /*compiler*/, TPSInternalProcedure& proc, const std::vector<std::uint8_t>& types,
                 const std::vector<std::uint8_t>& modes) {
    const auto& decl = proc.Decl;
    if (types.size() != decl.Params.size() + 1 || modes.size() != decl.Params.size()) return false;
    const TPSType* result = ResolveTypeLink(decl.Result);
    if ((result == nullptr ? 0 : result->BaseType) != types[0]) return false;
    for (std::size_t i = 0; i < decl.Params.size(); ++i) {
        const TPSType* t = ResolveTypeLink(decl.Params[i]->AType);
        if (decl.Params[i]->Mode != modes[i]) return false;
        if ((t == nullptr ? 0 : t->BaseType) != types[i + 1]) return false;
    }
    return true;
}

// ============================================================ lookups

bool TPSPascalCompiler::IsBooleanType(const TPSType* type) const {
    type = ResolveTypeLink(type);
    if (type == nullptr) return false;
    const std::string_view name = type->Name;
    return type == booleanType_ || name == "LONGBOOL" || name == "WORDBOOL" || name == "BYTEBOOL";
}

TPSType* TPSPascalCompiler::FindType(std::string_view name) const {
    if (!compiling_) return nullptr;
    return FindNamedType(FastUpperCase(name));
}

TPSType* TPSPascalCompiler::AddNamedType(std::unique_ptr<TPSType> type, std::string_view name) {
    type->SetName(name);
    type->OriginalName = std::string(name);
    types_.push_back(std::move(type));
    return types_.back().get();
}

// ============================================================ registration

void TPSPascalCompiler::CheckCompiling() const {
    if (!compiling_) throw EPSCompilerException(kOnlyFromOnUses);
}

TPSRegProc* TPSPascalCompiler::AddFunction(const std::string& header) { return AddFunctionDecl(header, false); }

TPSRegProc* TPSPascalCompiler::AddFunctionByDecl(const std::string& header) { return AddFunctionDecl(header, true); }

TPSRegProc* TPSPascalCompiler::AddFunctionDecl(const std::string& header, bool full) {
    CheckCompiling();
    auto reg = std::make_unique<TPSRegProc>();
    (void)full;  // both forms go through the one header reader
    if (!ParseRegistrationHeader(*reg, header))
        throw EPSCompilerException(FormatText(kUnableToRegisterFunction, {header}));
    reg->ExportName = true;
    reg->ImportDecl = MakeProcSignature(reg->Decl);
    reg->RegisteredImportDecl = reg->ImportDecl;
    regProcs_.push_back(std::move(reg));
    return regProcs_.back().get();
}

// Runs a reader over a registration text with a private parser; the reader's
// errors make the registration fail instead of becoming messages.
namespace {
class QuietParse {
public:
    QuietParse(TPSPascalParser*& cur, bool& quiet, int& errors, const std::string& text)
        : cur_(cur), quiet_(quiet), errors_(errors), savedCur_(cur), savedQuiet_(quiet), savedErrors_(errors) {
        parser_.OnParserError = [this](TPSPascalParser&, TPSLexErrorKind kind) {
            if (kind != lekNone) ++errors_;
        };
        cur_ = &parser_;
        quiet_ = true;
        errors_ = 0;
        parser_.SetText(text);
    }
    ~QuietParse() {
        cur_ = savedCur_;
        quiet_ = savedQuiet_;
        errors_ = savedErrors_;
    }
    bool Clean() const { return errors_ == 0; }

private:
    TPSPascalParser parser_;
    TPSPascalParser*& cur_;
    bool& quiet_;
    int& errors_;
    TPSPascalParser* savedCur_;
    bool savedQuiet_;
    int savedErrors_;
};
}  // namespace

bool TPSPascalCompiler::ParseRegistrationHeader(TPSRegProc& proc, const std::string& text) {
    QuietParse scope(cur_, quiet_, quietErrors_, text);
    TPSPascalParser& p = *cur_;
    const TPSTokenId kind = p.CurrTokenId();
    if (kind != tkFunction && kind != tkProcedure) return false;
    p.Next();
    if (p.CurrTokenId() != tkIdentifier) return false;
    proc.SetName(p.GetToken());
    proc.OrgName = p.OriginalToken();
    p.Next();
    if (!ReadParameterList(proc.Decl, proc.Name, kind == tkFunction, false)) return false;
    if (p.CurrTokenId() == tkSemiColon) p.Next();
    return p.CurrTokenId() == tkEOF && scope.Clean();
}

TPSType* TPSPascalCompiler::AddTypeS(const std::string& name, const std::string& decl) {
    CheckCompiling();
    TPSType* type = nullptr;
    {
        QuietParse scope(cur_, quiet_, quietErrors_, decl);
        type = ReadType(name);
        if (type != nullptr && (!scope.Clean() || cur_->CurrTokenId() != tkEOF)) type = nullptr;
    }
    if (type == nullptr) throw EPSCompilerException(FormatText(kUnableToRegisterType, {name}));
    type->ExportName = true;
    type->DeclarePos = -1;
    return type;
}

TPSType* TPSPascalCompiler::AddType(const std::string& name, std::uint8_t base_type) {
    CheckCompiling();
    TPSType* type = AddNamedType(NewTypeForBaseType(base_type), name);
    type->DeclarePos = -1;
    return type;
}

TPSType* TPSPascalCompiler::AddTypeCopy(const std::string& name, TPSType* type) {
    CheckCompiling();
    if (type == nullptr) throw EPSCompilerException(kInvalidType);
    auto link = std::make_unique<TPSTypeLink>();
    link->LinkTypeNo = ResolveTypeLink(type);
    TPSType* result = AddNamedType(std::move(link), name);
    result->DeclarePos = -1;
    return result;
}

TPSType* TPSPascalCompiler::AddTypeCopyN(const std::string& name, const std::string& type_name) {
    CheckCompiling();
    return AddTypeCopy(name, FindType(type_name));
}

TPSConstant* TPSPascalCompiler::AddConstant(const std::string& name, TPSType* type) {
    CheckCompiling();
    type = ResolveTypeLink(type);
    if (type == nullptr) throw EPSCompilerException(FormatText(kUnableToRegisterConst, {name}));
    auto c = std::make_unique<TPSConstant>();
    c->SetName(name);
    c->DeclarePos = -1;
    c->Value = NewConstValue(type);
    consts_.push_back(std::move(c));
    return consts_.back().get();
}

TPSConstant* TPSPascalCompiler::AddConstantN(const std::string& name, const std::string& type_name) {
    CheckCompiling();
    TPSType* type = FindType(type_name);
    if (type == nullptr) throw EPSCompilerException(FormatText(kUnableToRegisterConst, {name}));
    return AddConstant(name, type);
}

TPSVar* TPSPascalCompiler::AddVariableImpl(const std::string& name, TPSType* type, bool used) {
    CheckCompiling();
    if (type == nullptr) throw EPSCompilerException(FormatText(kInvalidTypeForVariable, {name}));
    const std::string upper = FastUpperCase(name);
    if (IsDuplicate(upper, dcProcs | dcVars | dcConsts))
        throw EPSCompilerException(FormatText(kDuplicateIdentifier, {name}));
    auto var = std::make_unique<TPSVar>();
    var->SetName(name);
    var->AType = ResolveTypeLink(type);
    var->ExportName = upper;
    var->DeclarePos = -1;
    UseType(var->AType);
    if (used) var->Use();
    vars_.push_back(std::move(var));
    return vars_.back().get();
}

TPSVar* TPSPascalCompiler::AddVariable(const std::string& name, TPSType* type) {
    return AddVariableImpl(name, type, false);
}

TPSVar* TPSPascalCompiler::AddVariableN(const std::string& name, const std::string& type_name) {
    CheckCompiling();
    return AddVariableImpl(name, FindType(type_name), false);
}

TPSVar* TPSPascalCompiler::AddUsedVariable(const std::string& name, TPSType* type) {
    return AddVariableImpl(name, type, true);
}

TPSVar* TPSPascalCompiler::AddUsedVariableN(const std::string& name, const std::string& type_name) {
    CheckCompiling();
    return AddVariableImpl(name, FindType(type_name), true);
}

// The first three groups as numbers, the last eight bytes in order.
bool ParseGuid(const std::string& text, std::uint32_t out[4]) {
    std::string hex;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) hex.push_back(c);
        else if (c != '{' && c != '}' && c != '-') return false;
    if (hex.size() != 32) return false;
    auto num = [&](std::size_t at, std::size_t len) {
        return static_cast<std::uint32_t>(std::stoul(hex.substr(at, len), nullptr, 16));
    };
    std::uint8_t bytes[16];
    const std::uint32_t d1 = num(0, 8);
    const std::uint32_t d2 = num(8, 4);
    const std::uint32_t d3 = num(12, 4);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(d1 >> (8 * i));
    for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<std::uint8_t>(d2 >> (8 * i));
    for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<std::uint8_t>(d3 >> (8 * i));
    for (int i = 0; i < 8; ++i) bytes[8 + i] = static_cast<std::uint8_t>(num(16 + 2 * static_cast<std::size_t>(i), 2));
    for (int w = 0; w < 4; ++w)
        out[w] = static_cast<std::uint32_t>(bytes[4 * w]) | static_cast<std::uint32_t>(bytes[4 * w + 1]) << 8 |
                 static_cast<std::uint32_t>(bytes[4 * w + 2]) << 16 | static_cast<std::uint32_t>(bytes[4 * w + 3]) << 24;
    return true;
}

TPSInterface* TPSPascalCompiler::AddInterface(TPSInterface* parent, const std::string& guid, const std::string& name) {
    CheckCompiling();
    const std::string upper = FastUpperCase(name);
    TPSInterface* intf = nullptr;
    for (auto& i : interfaces_)
        if (i->Name == upper) intf = i.get();
    if (intf == nullptr) {
        interfaces_.push_back(std::make_unique<TPSInterface>());
        intf = interfaces_.back().get();
        intf->Name = upper;
        intf->NameHash = MakeHash(upper);
        auto type = std::make_unique<TPSInterfaceType>();
        type->Intf = intf;
        type->DeclarePos = -1;
        intf->AType = static_cast<TPSInterfaceType*>(AddNamedType(std::move(type), name));
    }
    intf->InheritedFrom = parent;
    if (!ParseGuid(guid, intf->AType->Guid)) throw EPSCompilerException(kInvalidType);
    return intf;
}

TPSAttributeType* TPSPascalCompiler::AddAttributeType(const std::string& name) {
    CheckCompiling();
    attributeTypes_.push_back(std::make_unique<TPSAttributeType>());
    attributeTypes_.back()->SetName(name);
    return attributeTypes_.back().get();
}

TPSInterface* TPSPascalCompiler::FindInterface(const std::string& name) {
    CheckCompiling();
    const std::string upper = FastUpperCase(name);
    for (auto& i : interfaces_)
        if (i->Name == upper) return i.get();
    throw EPSCompilerException(FormatText(kUnknownInterface, {name}));
}

}  // namespace script::compiler
