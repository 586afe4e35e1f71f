// Declarations: uses clause, type/const/var/label sections, the type reader,
// procedure headers and bodies, name clashes, labels and unused-name hints.
#include <limits>

#include "script/compiler/compiler.h"
#include "script/compiler/compiler_constants.h"
#include "script/compiler/image_writer.h"

namespace script::compiler {

bool TPSPascalCompiler::Expect(TPSTokenId token, std::uint8_t code) {
    if (Parser().CurrTokenId() != token) {
        Error(code);
        return false;
    }
    Parser().Next();
    return true;
}

bool TPSPascalCompiler::ProcessUses() {
    TPSPascalParser& p = Parser();
    p.Next();
    for (;;) {
        if (p.CurrTokenId() != tkIdentifier) {
            Error(ecIdentifierExpected);
            return false;
        }
        const std::string name = p.GetToken();
        for (const auto& u : units_) {
            if (u == name) {
                Error(ecDuplicateIdentifier, p.OriginalToken());
                return false;
            }
        }
        units_.push_back(name);
        // A unit that the host does not know is an error of the script.
        HostScope host(*this);
        if (!OnUses || !OnUses(*this, name)) {
            Error(ecCustomError, FormatText("Unknown unit '%s'", {p.OriginalToken()}));
            return false;
        }
        p.Next();
        if (p.CurrTokenId() == tkSemiColon) {
            p.Next();
            return true;
        }
        if (!Expect(tkComma, ecSemicolonExpected)) return false;
    }
}

bool TPSPascalCompiler::ProcessTypeSection() {
    TPSPascalParser& p = Parser();
    for (;;) {
        TPSAttributes attributes;
        if (p.CurrTokenId() == tkOpenBlock && !ReadAttributes(attributes)) return false;
        if (p.CurrTokenId() == tkProcedure || p.CurrTokenId() == tkFunction) return ProcessProcedure(attributes);
        if (p.CurrTokenId() != tkIdentifier) {
            if (attributes.Count() > 0) {
                Error(ecIdentifierExpected);
                return false;
            }
            return true;
        }
        const std::string name = p.GetToken();
        const std::string org = p.OriginalToken();
        const auto pos = static_cast<std::int32_t>(p.CurrTokenPos());
        const auto row = static_cast<std::int32_t>(p.Row());
        const auto col = static_cast<std::int32_t>(p.Col());
        if (IsDuplicate(name, dcTypes | dcProcs | dcVars)) {
            Error(ecDuplicateIdentifier, org);
            return false;
        }
        p.Next();
        if (!Expect(tkEqual, ecIsExpected)) return false;
        TPSType* type = ReadType(org);
        if (type == nullptr) return false;
        type->DeclarePos = pos;
        type->DeclareRow = row;
        type->DeclareCol = col;
        type->Attributes.Assign(attributes, true);
        if (!ApplyAttributes(*type)) return false;
        if (!Expect(tkSemiColon, ecSemicolonExpected)) return false;
    }
}

bool TPSPascalCompiler::ProcessConstSection() {
    TPSPascalParser& p = Parser();
    while (p.CurrTokenId() == tkIdentifier) {
        const std::string name = p.GetToken();
        const std::string org = p.OriginalToken();
        auto c = std::make_unique<TPSConstant>();
        c->SetName(name);
        c->DeclarePos = static_cast<std::int32_t>(p.CurrTokenPos());
        c->DeclareRow = static_cast<std::int32_t>(p.Row());
        c->DeclareCol = static_cast<std::int32_t>(p.Col());
        if (IsDuplicate(name, dcProcs | dcVars | dcConsts)) {
            Error(ecDuplicateIdentifier, org);
            return false;
        }
        p.Next();
        if (!Expect(tkEqual, ecIsExpected)) return false;
        c->Value = ReadConstant();
        if (c->Value == nullptr) return false;
        if (!Expect(tkSemiColon, ecSemicolonExpected)) return false;
        consts_.push_back(std::move(c));
    }
    return true;
}

bool TPSPascalCompiler::ProcessVarSection(TPSInternalProcedure* proc) {
    TPSPascalParser& p = Parser();
    while (p.CurrTokenId() == tkIdentifier) {
        std::vector<std::pair<std::string, std::string>> names;  // upper, as written
        const auto pos = static_cast<std::int32_t>(p.CurrTokenPos());
        const auto row = static_cast<std::int32_t>(p.Row());
        const auto col = static_cast<std::int32_t>(p.Col());
        for (;;) {
            if (p.CurrTokenId() != tkIdentifier) {
                Error(ecIdentifierExpected);
                return false;
            }
            const std::string name = p.GetToken();
            // A local may hide a global variable of the same name.
            const std::uint8_t classes = proc == nullptr ? dcProcs | dcVars | dcConsts : dcProcs | dcConsts;
            bool taken = IsDuplicate(name, classes, proc);
            for (const auto& n : names) taken = taken || n.first == name;
            if (taken) {
                Error(ecDuplicateIdentifier, p.OriginalToken());
                return false;
            }
            names.emplace_back(name, p.OriginalToken());
            p.Next();
            if (p.CurrTokenId() != tkComma) break;
            p.Next();
        }
        if (!Expect(tkColon, ecColonExpected)) return false;
        TPSType* type = ReadType({});
        if (type == nullptr) return false;
        type = ResolveTypeLink(type);
        UseType(type);
        if (!Expect(tkSemiColon, ecSemicolonExpected)) return false;
        for (const auto& n : names) {
            if (proc == nullptr) {
                auto var = std::make_unique<TPSVar>();
                var->SetName(n.second);
                var->AType = type;
                var->DeclarePos = pos;
                var->DeclareRow = row;
                var->DeclareCol = col;
                vars_.push_back(std::move(var));
                if (OnUseVariable) OnUseVariable(*this, 0, static_cast<std::uint32_t>(vars_.size() - 1), pos);
            } else {
                auto var = std::make_unique<TPSProcVar>();
                var->SetName(n.second);
                var->AType = type;
                var->DeclarePos = pos;
                var->DeclareRow = row;
                var->DeclareCol = col;
                proc->ProcVars.push_back(std::move(var));
                // A local lives on the run stack from the start of the body.
                BlockWriteByte(proc->Data, opPushType);
                BlockWriteLong(proc->Data, static_cast<std::uint32_t>(type->FinalTypeNo));
            }
        }
    }
    return true;
}

bool TPSPascalCompiler::ProcessLabelSection(TPSInternalProcedure* proc) {
    TPSPascalParser& p = Parser();
    for (;;) {
        if (p.CurrTokenId() != tkIdentifier) {
            Error(ecIdentifierExpected);
            return false;
        }
        const std::string name = p.GetToken();
        bool taken = name == "RESULT" || name == proc->Name || IsDuplicate(name, 0, proc);
        for (std::uint32_t i = 0; i < proc->Labels.Count() && !taken; ++i)
            taken = proc->Labels.GetItem(i).substr(8) == name;
        if (taken) {
            Error(ecDuplicateIdentifier, p.OriginalToken());
            return false;
        }
        std::string entry;
        BlockWriteLong(entry, 0xFFFFFFFF);
        BlockWriteLong(entry, MakeHash(name));
        entry += name;
        proc->Labels.Add(entry);
        p.Next();
        if (p.CurrTokenId() == tkSemiColon) {
            p.Next();
            return true;
        }
        if (!Expect(tkComma, ecCommaExpected)) return false;
    }
}

TPSType* TPSPascalCompiler::OpenArrayType(TPSType* element) {
    std::string name;
    std::string decl;
    TPSType* resolved = ResolveTypeLink(element);
    if (resolved == nullptr) {
        name = "!OPENARRAYOFCONST";
        decl = "___POINTER";
    } else {
        switch (resolved->BaseType) {
        case btU8: name = "!OPENARRAYOFU8"; decl = "BYTE"; break;
        case btS8: name = "!OPENARRAYOFS8"; decl = "SHORTINT"; break;
        case btU16: name = "!OPENARRAYOFU16"; decl = "WORD"; break;
        case btS16: name = "!OPENARRAYOFS16"; decl = "SMALLINT"; break;
        case btU32: name = "!OPENARRAYOFU32"; decl = "CARDINAL"; break;
        case btS32: name = "!OPENARRAYOFS32"; decl = "LONGINT"; break;
        case btSingle: name = "!OPENARRAYOFSINGLE"; decl = "SINGLE"; break;
        case btDouble: name = "!OPENARRAYOFDOUBLE"; decl = "DOUBLE"; break;
        case btExtended: name = "!OPENARRAYOFEXTENDED"; decl = "EXTENDED"; break;
        case btString: name = "!OPENARRAYOFSTRING"; decl = "STRING"; break;
        case btRecord: name = "!OPENARRAYOFRECORD_" + resolved->Name; decl = resolved->Name; break;
        case btPChar: name = "!OPENARRAYOFPCHAR"; decl = "PCHAR"; break;
        case btVariant:
        case btNotificationVariant: name = "!OPENARRAYOFVARIANT"; decl = "VARIANT"; break;
        case btS64: name = "!OPENARRAYOFS64"; decl = "INT64"; break;
        case btChar: name = "!OPENARRAYOFCHAR"; decl = "CHAR"; break;
        case btClass: name = "!OPENARRAYOFTOBJECT"; decl = "TOBJECT"; break;
        default: break;
        }
    }
    if (name.empty()) {
        Error(ecUnknownType, resolved->Name);
        return nullptr;
    }
    if (TPSType* existing = FindNamedType(name)) return existing;
    TPSType* element_type = FindNamedType(decl);
    if (element_type == nullptr) {
        Error(ecUnknownType, decl);
        return nullptr;
    }
    auto array = std::make_unique<TPSArrayType>();
    array->ArrayTypeNo = element_type;
    return AddNamedType(std::move(array), name);
}

// A parameter or result type: a type name, or "array of" a type name or const.
TPSType* TPSPascalCompiler::ReadTypeName() {
    TPSPascalParser& p = Parser();
    if (p.CurrTokenId() == tkArray) {
        p.Next();
        if (!Expect(tkOf, ecOfExpected)) return nullptr;
        TPSType* element = nullptr;
        if (p.CurrTokenId() == tkConst) {
            p.Next();
        } else {
            if (p.CurrTokenId() != tkIdentifier) {
                Error(ecIdentifierExpected);
                return nullptr;
            }
            element = FindNamedType(p.GetToken());
            if (element == nullptr) {
                Error(ecUnknownType, p.OriginalToken());
                return nullptr;
            }
            p.Next();
        }
        return OpenArrayType(element);
    }
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecIdentifierExpected);
        return nullptr;
    }
    TPSType* type = FindNamedType(p.GetToken());
    if (type == nullptr) {
        Error(ecUnknownType, p.OriginalToken());
        return nullptr;
    }
    p.Next();
    return type;
}

bool TPSPascalCompiler::ReadParameterList(TPSParametersDecl& decl, std::string_view own_name, bool function,
                                          bool for_type) {
    TPSPascalParser& p = Parser();
    if (p.CurrTokenId() == tkOpenRound) {
        p.Next();
        if (p.CurrTokenId() != tkCloseRound) {
            for (;;) {
                std::uint8_t mode = pmIn;
                if (p.CurrTokenId() == tkConst) {
                    p.Next();
                } else if (p.CurrTokenId() == tkOut) {
                    mode = pmOut;
                    p.Next();
                } else if (p.CurrTokenId() == tkVar) {
                    mode = pmInOut;
                    p.Next();
                }
                const std::size_t first = decl.Params.size();
                for (;;) {
                    if (p.CurrTokenId() != tkIdentifier) {
                        Error(ecIdentifierExpected);
                        return false;
                    }
                    const std::string name = p.GetToken();
                    // Host declarations may name a parameter like their function
                    // (Format(const Format: string; ...)).
                    bool taken = name == "RESULT" || (!quiet_ && name == own_name);
                    for (const auto& prm : decl.Params) taken = taken || prm->Name == name;
                    if (taken) {
                        Error(ecDuplicateIdentifier, p.OriginalToken());
                        return false;
                    }
                    TPSParameterDecl& prm = decl.AddParam();
                    prm.SetName(p.OriginalToken());
                    prm.Mode = mode;
                    prm.DeclarePos = static_cast<std::int32_t>(p.CurrTokenPos());
                    prm.DeclareRow = static_cast<std::int32_t>(p.Row());
                    prm.DeclareCol = static_cast<std::int32_t>(p.Col());
                    p.Next();
                    if (p.CurrTokenId() != tkComma) break;
                    p.Next();
                }
                if (!Expect(tkColon, ecColonExpected)) return false;
                if (for_type && p.CurrTokenId() == tkIdentifier && FindNamedType(p.GetToken()) == nullptr) {
                    Error(ecUnknownIdentifier, p.OriginalToken());
                    return false;
                }
                TPSType* type = ReadTypeName();
                if (type == nullptr) return false;
                for (std::size_t i = first; i < decl.Params.size(); ++i) decl.Params[i]->AType = type;
                if (p.CurrTokenId() == tkCloseRound) break;
                if (!Expect(tkSemiColon, ecSemicolonExpected)) return false;
            }
        }
        p.Next();
    }
    if (function) {
        if (!Expect(tkColon, ecColonExpected)) return false;
        if (for_type && p.CurrTokenId() == tkIdentifier && FindNamedType(p.GetToken()) == nullptr) {
            Error(ecUnknownIdentifier, p.OriginalToken());
            return false;
        }
        decl.Result = ReadTypeName();
        if (decl.Result == nullptr) return false;
    }
    return true;
}

TPSType* TPSPascalCompiler::ReadType(std::string_view new_name) {
    TPSPascalParser& p = Parser();
    auto finish = [&](std::unique_ptr<TPSType> type) {
        type->DeclarePos = static_cast<std::int32_t>(p.CurrTokenPos());
        type->DeclareRow = static_cast<std::int32_t>(p.Row());
        type->DeclareCol = static_cast<std::int32_t>(p.Col());
        return AddNamedType(std::move(type), new_name);
    };
    switch (p.CurrTokenId()) {
    case tkProcedure:
    case tkFunction: {
        const bool function = p.CurrTokenId() == tkFunction;
        p.Next();
        auto type = std::make_unique<TPSProceduralType>();
        if (!ReadParameterList(type->ProcDef, {}, function, true)) return nullptr;
        return finish(std::move(type));
    }
    case tkSet: {
        p.Next();
        if (!Expect(tkOf, ecOfExpected)) return nullptr;
        if (p.CurrTokenId() != tkIdentifier) {
            Error(ecIdentifierExpected);
            return nullptr;
        }
        TPSType* element = FindNamedType(p.GetToken());
        if (element == nullptr) {
            Error(ecUnknownIdentifier, p.OriginalToken());
            return nullptr;
        }
        if (element->BaseType != btEnum && element->BaseType != btChar && element->BaseType != btU8) {
            Error(ecTypeMismatch);
            return nullptr;
        }
        p.Next();
        auto type = std::make_unique<TPSSetType>();
        type->SetType = element;
        return finish(std::move(type));
    }
    case tkOpenRound: {
        p.Next();
        auto owned = std::make_unique<TPSEnumType>();
        TPSEnumType* type = owned.get();
        finish(std::move(owned));
        std::uint32_t count = 0;
        for (;;) {
            if (p.CurrTokenId() != tkIdentifier) {
                Error(ecIdentifierExpected);
                return nullptr;
            }
            const std::string name = p.GetToken();
            if (IsDuplicate(name, dcTypes)) {
                Error(ecDuplicateIdentifier, p.OriginalToken());
                return nullptr;
            }
            auto c = std::make_unique<TPSConstant>();
            c->SetName(name);
            c->DeclarePos = static_cast<std::int32_t>(p.CurrTokenPos());
            c->DeclareRow = static_cast<std::int32_t>(p.Row());
            c->DeclareCol = static_cast<std::int32_t>(p.Col());
            c->Value = NewConstValue(type);
            c->Value->tu32 = count++;
            consts_.push_back(std::move(c));
            p.Next();
            if (p.CurrTokenId() == tkCloseRound) break;
            if (!Expect(tkComma, ecCloseRoundExpected)) return nullptr;
        }
        p.Next();
        type->HighValue = count - 1;
        return type;
    }
    case tkRecord: {
        p.Next();
        auto type = std::make_unique<TPSRecordType>();
        while (p.CurrTokenId() != tkEnd) {
            const std::size_t first = type->Fields.size();
            for (;;) {
                if (p.CurrTokenId() != tkIdentifier) {
                    Error(ecIdentifierExpected);
                    return nullptr;
                }
                const std::string name = p.GetToken();
                for (const auto& f : type->Fields) {
                    if (f->FieldName == name) {
                        Error(ecDuplicateIdentifier, p.OriginalToken());
                        return nullptr;
                    }
                }
                type->AddRecVal().SetFieldOrgName(p.OriginalToken());
                p.Next();
                if (p.CurrTokenId() != tkComma) break;
                p.Next();
            }
            if (!Expect(tkColon, ecColonExpected)) return nullptr;
            TPSType* ft = ReadType({});
            if (ft == nullptr) return nullptr;
            for (std::size_t i = first; i < type->Fields.size(); ++i) type->Fields[i]->FType = ResolveTypeLink(ft);
            if (!Expect(tkSemiColon, ecSemicolonExpected)) return nullptr;
        }
        p.Next();
        return finish(std::move(type));
    }
    case tkArray: {
        p.Next();
        if (p.CurrTokenId() == tkOpenBlock) {
            p.Next();
            auto low = ReadConstant();
            if (low == nullptr) return nullptr;
            auto ordinal = [](const TPSConstValue& v) {
                const std::uint8_t b = v.FType->BaseType;
                return (b >= btU8 && b <= btS32) || b == btS64;
            };
            if (!ordinal(*low)) {
                Error(ecTypeMismatch);
                return nullptr;
            }
            if (!Expect(tkTwoDots, ecPeriodExpected)) return nullptr;
            auto high = ReadConstant();
            if (high == nullptr) return nullptr;
            if (!ordinal(*high)) {
                Error(ecTypeMismatch);
                return nullptr;
            }
            if (!Expect(tkCloseBlock, ecCloseBlockExpected)) return nullptr;
            bool okLow = true;
            bool okHigh = true;
            const std::int64_t lo = GetConstInt64(*low, okLow);
            const std::int64_t hi = GetConstInt64(*high, okHigh);
            // Computed in unsigned arithmetic, so extreme bounds cannot
            // overflow: a high bound below low - 1 wraps to a huge count.
            const std::uint64_t diff = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo) + 1;
            if (diff >= 0x20000000ULL || lo < std::numeric_limits<std::int32_t>::min() ||
                lo > std::numeric_limits<std::int32_t>::max()) {
                Error(ecTypeMismatch);
                return nullptr;
            }
            if (!Expect(tkOf, ecOfExpected)) return nullptr;
            TPSType* element = ReadType({});
            if (element == nullptr) return nullptr;
            auto type = std::make_unique<TPSStaticArrayType>();
            type->ArrayTypeNo = ResolveTypeLink(element);
            type->StartOffset = static_cast<std::int32_t>(lo);
            type->Length = static_cast<std::uint32_t>(diff);
            return finish(std::move(type));
        }
        if (!Expect(tkOf, ecOfExpected)) return nullptr;
        TPSType* element = ReadType({});
        if (element == nullptr) return nullptr;
        element = ResolveTypeLink(element);
        if (new_name.empty() && element->Used) {
            if (TPSType* existing = FindDynamicArrayOf(element)) return existing;
        }
        auto type = std::make_unique<TPSArrayType>();
        type->ArrayTypeNo = element;
        return finish(std::move(type));
    }
    case tkInterface: return ReadInterfaceType(new_name);
    case tkIdentifier: {
        TPSType* found = FindNamedType(p.GetToken());
        if (found == nullptr) {
            Error(ecUnknownType, p.OriginalToken());
            return nullptr;
        }
        p.Next();
        if (new_name.empty()) return found;
        auto link = std::make_unique<TPSTypeLink>();
        link->LinkTypeNo = found;
        return finish(std::move(link));
    }
    default:
        Error(ecIdentifierExpected);
        return nullptr;
    }
}

TPSAttributeType* TPSPascalCompiler::FindAttributeType(std::string_view upper) const {
    const std::uint32_t h = MakeHash(upper);
    for (std::size_t i = attributeTypes_.size(); i-- > 0;)
        if (SameName(attributeTypes_[i]->NameHash, attributeTypes_[i]->Name, h, upper)) return attributeTypes_[i].get();
    return nullptr;
}

// "[" Name "(" constants for the fields the script writes ")" "]"; fields
// filled automatically get zero values in their places.
bool TPSPascalCompiler::ReadAttributes(TPSAttributes& attributes) {
    TPSPascalParser& p = Parser();
    if (p.CurrTokenId() != tkOpenBlock) return true;
    p.Next();
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecIdentifierExpected);
        return false;
    }
    TPSAttributeType* type = FindAttributeType(p.GetToken());
    if (type == nullptr) {
        Error(ecUnknownIdentifier, p.OriginalToken());
        return false;
    }
    TPSAttribute& attribute = attributes.Add(type);
    const std::size_t count = type->Fields.size();
    std::size_t field = 0;
    auto fillAutomatic = [&] {
        for (; field < count && type->Fields[field].AutoFill; ++field) attribute.AddValue(type->Fields[field].FieldType);
    };
    fillAutomatic();
    p.Next();
    if (!Expect(tkOpenRound, ecOpenRoundExpected)) return false;
    while (field < count) {
        auto value = ReadConstant();
        if (value == nullptr) return false;
        if (!IsCompatibleType(type->Fields[field].FieldType, value->FType, false)) {
            Error(ecTypeMismatch);
            return false;
        }
        // The value keeps its own type: the image stores each value with it.
        UseType(value->FType);
        attribute.Values.push_back(std::move(value));
        ++field;
        fillAutomatic();
        if (field < count && !Expect(tkComma, ecCommaExpected)) return false;
    }
    if (!Expect(tkCloseRound, ecCloseRoundExpected)) return false;
    return Expect(tkCloseBlock, ecCloseBlockExpected);
}

namespace {
template <class Target>
bool RunAttributeHooks(TPSPascalCompiler& compiler, TPSAttributes& attributes, Target& target) {
    for (const auto& attribute : attributes.Items) {
        const std::size_t before = compiler.GetMsgCount();
        bool ok = true;
        if constexpr (std::is_base_of_v<TPSType, Target>) {
            if (attribute->AType->OnApplyToType) ok = attribute->AType->OnApplyToType(*attribute, target);
        } else {
            if (attribute->AType->OnApplyToProcedure) ok = attribute->AType->OnApplyToProcedure(*attribute, target);
        }
        if (ok) continue;
        // A hook that refuses without saying why still leaves a message.
        if (compiler.GetMsgCount() == before)
            compiler.MakeError({}, ecCustomError, "Attribute '" + attribute->AType->OrgName + "' not accepted");
        return false;
    }
    return true;
}
}  // namespace

bool TPSPascalCompiler::ApplyAttributes(TPSType& type) {
    if (type.Attributes.Count() == 0) return true;
    HostScope host(*this);
    return RunAttributeHooks(*this, type.Attributes, type);
}

bool TPSPascalCompiler::ApplyAttributes(TPSProcedure& proc) {
    if (proc.Attributes.Count() == 0) return true;
    HostScope host(*this);
    return RunAttributeHooks(*this, proc.Attributes, proc);
}

bool TPSPascalCompiler::ProcessProcedure(TPSAttributes& attributes) {
    TPSPascalParser& p = Parser();
    const bool function = p.CurrTokenId() == tkFunction;
    const auto headerPos = static_cast<std::int32_t>(p.CurrTokenPos());
    const auto headerRow = static_cast<std::int32_t>(p.Row());
    const auto headerCol = static_cast<std::int32_t>(p.Col());
    p.Next();
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecIdentifierExpected);
        return false;
    }
    const std::string name = p.GetToken();
    const std::string org = p.OriginalToken();
    const auto pos = static_cast<std::int32_t>(p.CurrTokenPos());
    const auto row = static_cast<std::int32_t>(p.Row());
    const auto col = static_cast<std::int32_t>(p.Col());
    std::uint32_t forwardNo = 0;
    TPSInternalProcedure* forward = FindForward(name, forwardNo);
    if (forward == nullptr && IsDuplicate(name, dcTypes | dcProcs | dcVars | dcConsts)) {
        Error(ecDuplicateIdentifier, org);
        return false;
    }
    p.Next();
    TPSParametersDecl decl;
    if (!ReadParameterList(decl, name, function, false)) return false;
    if (!Expect(tkSemiColon, ecSemicolonExpected)) return false;
    numbering_.UseParams(decl);

    if (p.CurrTokenId() == tkExternal) {
        p.Next();
        if (p.CurrTokenId() != tkString) {
            Error(ecStringExpected);
            return false;
        }
        std::string text = p.GetToken();
        p.Next();
        if (p.CurrTokenId() != tkSemiColon) {
            Error(ecSemicolonExpected);
            return false;
        }
        TPSRegProc* reg = nullptr;
        if (OnExternalProc) {
            HostScope host(*this);
            reg = OnExternalProc(*this, decl, name, text);
        }
        if (reg == nullptr) {
            Error(ecCustomError, "External procedures are not supported");
            return false;
        }
        p.Next();
        auto ext = std::make_unique<TPSExternalProcedure>(reg);
        ext->Attributes.Assign(attributes, true);
        if (!ApplyAttributes(*ext)) return false;
        procs_.push_back(std::move(ext));
        return true;
    }
    if (p.CurrTokenId() == tkForward) {
        if (forward != nullptr) {
            Error(ecBeginExpected);
            return false;
        }
        p.Next();
        if (!Expect(tkSemiColon, ecSemicolonExpected)) return false;
        auto proc = std::make_unique<TPSInternalProcedure>();
        proc->SetName(name);
        proc->OriginalName = org;
        proc->Decl.Assign(decl);
        proc->Forwarded = true;
        proc->DeclarePos = pos;
        proc->DeclareRow = row;
        proc->DeclareCol = col;
        proc->HeaderPos = headerPos;
        proc->HeaderRow = headerRow;
        proc->HeaderCol = headerCol;
        proc->Attributes.Assign(attributes, true);
        if (!ApplyAttributes(*proc)) return false;
        procs_.push_back(std::move(proc));
        return true;
    }
    TPSInternalProcedure* proc = forward;
    std::uint32_t procNo = forwardNo;
    if (proc != nullptr) {
        if (!proc->Decl.Same(&decl)) {
            Error(ecForwardParameterMismatch);
            return false;
        }
        // The body's parameter names are the ones in force.
        proc->Decl.Assign(decl);
        proc->Forwarded = false;
    } else {
        auto owned = std::make_unique<TPSInternalProcedure>();
        proc = owned.get();
        proc->SetName(name);
        proc->OriginalName = org;
        proc->Decl.Assign(decl);
        proc->DeclarePos = pos;
        proc->DeclareRow = row;
        proc->DeclareCol = col;
        proc->HeaderPos = headerPos;
        proc->HeaderRow = headerRow;
        proc->HeaderCol = headerCol;
        proc->Attributes.Assign(attributes, true);
        if (!ApplyAttributes(*proc)) return false;
        procs_.push_back(std::move(owned));
        procNo = static_cast<std::uint32_t>(procs_.size() - 1);
    }
    if (p.CurrTokenId() == tkExport) {
        p.Next();
        if (!Expect(tkSemiColon, ecSemicolonExpected)) return false;
    }
    for (;;) {
        if (p.CurrTokenId() == tkVar) {
            p.Next();
            if (!ProcessVarSection(proc)) return false;
        } else if (p.CurrTokenId() == tkLabel) {
            p.Next();
            if (!ProcessLabelSection(proc)) return false;
        } else if (p.CurrTokenId() == tkBegin) {
            break;
        } else {
            Error(ecBeginExpected);
            return false;
        }
    }
    if (!CompileProcBody(*proc, procNo, tProcBegin)) return false;
    HintUnusedLocals(*proc);
    return ResolveLabels(*proc);
}

void TPSPascalCompiler::HintUnusedLocals(TPSInternalProcedure& proc) {
    for (const auto& v : proc.ProcVars) {
        if (v->Used || v->Name.empty()) continue;
        auto& msg = MakeHint({}, ehVariableNotUsed, v->OrgName);
        msg.SetCustomPos(static_cast<std::uint32_t>(v->DeclarePos), static_cast<std::uint32_t>(v->DeclareRow),
                         static_cast<std::uint32_t>(v->DeclareCol));
    }
}

bool TPSPascalCompiler::ResolveLabels(TPSInternalProcedure& proc) {
    for (std::uint32_t i = 0; i < proc.Labels.Count(); ++i) {
        const std::string entry = proc.Labels.GetItem(i);
        if (ReadLongAt(entry, 0) == 0xFFFFFFFF) {
            Error(ecUnsetLabel, entry.substr(8));
            return false;
        }
    }
    for (std::uint32_t i = 0; i < proc.Gotos.Count(); ++i) {
        const std::string entry = proc.Gotos.GetItem(i);
        const std::uint32_t at = ReadLongAt(entry, 0);
        const std::uint32_t label = ReadLongAt(entry, 4);
        const std::uint32_t target = ReadLongAt(proc.Labels.GetItem(label), 0);
        if (!PatchJump(proc.Data, at - 4, at, target)) {
            Error(ecInternalError, "goto");
            return false;
        }
    }
    return true;
}

}  // namespace script::compiler
