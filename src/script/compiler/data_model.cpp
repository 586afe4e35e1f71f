#include "script/compiler/data_model.h"

#include <limits>

#include "script/compiler/tokenizer.h"

namespace script::compiler {

namespace {
// Every named object keeps its name upper-cased beside the name's hash.
void StoreName(std::string_view name, std::string& upper, std::uint32_t& hash) {
    upper = FastUpperCase(name);
    hash = MakeHash(upper);
}
}  // namespace

// ------------------------------------------------------------ constant cell

void InitConstValue(TPSConstValue& cell, TPSType* type) {
    cell = TPSConstValue{};
    cell.FType = type;
    if (type != nullptr && type->BaseType == btSet) {
        const auto* set_type = As<TPSSetType>(type);
        if (set_type != nullptr) cell.tstring.assign(set_type->ByteSize(), '\0');
    }
}

std::unique_ptr<TPSConstValue> NewConstValue(TPSType* type) {
    auto cell = std::make_unique<TPSConstValue>();
    InitConstValue(*cell, type);
    return cell;
}

void CopyConstValue(const TPSConstValue& source, TPSConstValue& dest) {
    if (source.FType == nullptr) return;
    switch (source.FType->BaseType) {
    case btU8: dest.tu8 = source.tu8; break;
    case btS8: dest.ts8 = source.ts8; break;
    case btChar: dest.tchar = source.tchar; break;
    case btU16: dest.tu16 = source.tu16; break;
    case btS16: dest.ts16 = source.ts16; break;
    case btU32:
    case btEnum:
    case btProcPtr: dest.tu32 = source.tu32; break;
    case btS32: dest.ts32 = source.ts32; break;
    case btSingle: dest.tsingle = source.tsingle; break;
    case btDouble: dest.tdouble = source.tdouble; break;
    case btExtended: dest.textended = source.textended; break;
    case btS64: dest.ts64 = source.ts64; break;
    case btCurrency: dest.tcurrency = source.tcurrency; break;
    case btString:
    case btPChar:
    case btSet: dest.tstring = source.tstring; break;
    case btTypeRef: dest.ttype = source.ttype; break;
    default: break;
    }
}

std::unique_ptr<TPSConstValue> DuplicateConstValue(const TPSConstValue& source) {
    auto cell = NewConstValue(source.FType);
    CopyConstValue(source, *cell);
    return cell;
}

// ------------------------------------------------------------ attributes

void TPSAttributeType::SetName(std::string_view name) {
    OrgName = std::string(name);
    StoreName(name, Name, NameHash);
}

TPSConstValue& TPSAttribute::AddValue(TPSType* type) {
    Values.push_back(NewConstValue(type));
    return *Values.back();
}

void TPSAttribute::Assign(const TPSAttribute& other) {
    if (&other == this) return;
    AType = other.AType;
    Values.clear();
    for (const auto& value : other.Values) Values.push_back(DuplicateConstValue(*value));
}

TPSAttribute& TPSAttributes::Add(TPSAttributeType* type) {
    Items.push_back(std::make_unique<TPSAttribute>(type));
    return *Items.back();
}

void TPSAttributes::Assign(TPSAttributes& source, bool move) {
    if (&source == this) return;
    for (std::size_t i = source.Items.size(); i-- > 0;) {
        if (move) {
            Items.push_back(std::move(source.Items[i]));
            source.Items.erase(source.Items.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            auto copy = std::make_unique<TPSAttribute>(nullptr);
            copy->Assign(*source.Items[i]);
            Items.push_back(std::move(copy));
        }
    }
}

// ------------------------------------------------------------ declarations

void TPSParameterDecl::SetName(std::string_view name) {
    OrgName = std::string(name);
    Name = FastUpperCase(name);
}

TPSParameterDecl& TPSParametersDecl::AddParam() {
    Params.push_back(std::make_unique<TPSParameterDecl>());
    return *Params.back();
}

void TPSParametersDecl::Assign(const TPSParametersDecl& other) {
    if (&other == this) return;
    Params.clear();
    for (const auto& p : other.Params) {
        TPSParameterDecl& copy = AddParam();
        copy.Name = p->Name;
        copy.OrgName = p->OrgName;
        copy.Mode = p->Mode;
        copy.AType = p->AType;
        copy.DeclarePos = p->DeclarePos;
        copy.DeclareRow = p->DeclareRow;
        copy.DeclareCol = p->DeclareCol;
    }
    Result = other.Result;
}

bool TPSParametersDecl::Same(const TPSParametersDecl* other) const {
    if (other == nullptr || other->Params.size() != Params.size() || other->Result != Result)
        return false;
    for (std::size_t i = 0; i < Params.size(); ++i) {
        if (Params[i]->Mode != other->Params[i]->Mode || Params[i]->AType != other->Params[i]->AType)
            return false;
    }
    return true;
}

// ------------------------------------------------------------ types

void TPSType::SetName(std::string_view name) {
    StoreName(name, Name, NameHash);
}

void TPSRecordFieldTypeDef::SetFieldOrgName(std::string_view name) {
    FieldOrgName = std::string(name);
    StoreName(name, FieldName, FieldNameHash);
}

TPSRecordFieldTypeDef& TPSRecordType::AddRecVal() {
    Fields.push_back(std::make_unique<TPSRecordFieldTypeDef>());
    return *Fields.back();
}

std::uint32_t TPSSetType::BitSize() const {
    const TPSType* element = ResolveTypeLink(SetType);
    if (element == nullptr) return 0;
    switch (element->BaseType) {
    case btU8:
    case btChar:
        return 256;
    case btEnum: {
        const auto* e = As<TPSEnumType>(element);
        if (e == nullptr || e->HighValue == std::numeric_limits<std::uint32_t>::max()) return 0;
        return e->HighValue + 1;
    }
    default:
        return 0;
    }
}

std::unique_ptr<TPSType> NewTypeForBaseType(std::uint8_t base_type) {
    switch (base_type) {
    case btRecord: return std::make_unique<TPSRecordType>();
    case btArray: return std::make_unique<TPSArrayType>();
    case btStaticArray: return std::make_unique<TPSStaticArrayType>();
    case btVariant:
    case btNotificationVariant: return std::make_unique<TPSVariantType>(base_type);
    case btProcPtr: return std::make_unique<TPSProceduralType>();
    case btSet: return std::make_unique<TPSSetType>();
    case btClass: return std::make_unique<TPSClassType>();
    case btUndefinedClass: return std::make_unique<TPSUndefinedClassType>();
    case btInterface: return std::make_unique<TPSInterfaceType>();
    case btEnum: return std::make_unique<TPSEnumType>();
    case btTypeLink: return std::make_unique<TPSTypeLink>();
    default: return std::make_unique<TPSType>(base_type);
    }
}

namespace {
// Links are made only towards types that already exist, so a chain ends; the
// bound only keeps a damaged model from hanging the compiler.
constexpr int kMaxLinkChain = 1000;
}  // namespace

const TPSType* ResolveTypeLinkChain(const TPSType* type) {
    for (int i = 0; type != nullptr && type->BaseType == btTypeLink; ++i) {
        const auto* link = As<TPSTypeLink>(type);
        if (link == nullptr || i >= kMaxLinkChain) return nullptr;
        type = link->LinkTypeNo;
    }
    return type;
}

void TPSTypeNumbering::UseParams(const TPSParametersDecl& decl) {
    UseType(decl.Result);
    for (const auto& p : decl.Params) UseType(p->AType);
}

void TPSTypeNumbering::UseType(TPSType* type) {
    type = ResolveTypeLink(type);
    if (type == nullptr || type->Used) return;
    // Marked before its components, so a type that (through a damaged model)
    // refers back to itself cannot recurse without end.
    type->Use();
    if (auto* record = As<TPSRecordType>(type)) {
        for (const auto& field : record->Fields) UseType(field->FType);
    } else if (auto* array = As<TPSArrayType>(type)) {
        UseType(array->ArrayTypeNo);
    } else if (auto* set = As<TPSSetType>(type)) {
        UseType(set->SetType);
    } else if (auto* procedural = As<TPSProceduralType>(type)) {
        UseParams(procedural->ProcDef);
    }
    type->FinalTypeNo = count_++;
}

// ------------------------------------------------------------ procedures, variables

void TPSRegProc::SetName(std::string_view name) {
    StoreName(name, Name, NameHash);
}

void TPSProcVar::SetName(std::string_view name) {
    OrgName = std::string(name);
    StoreName(name, Name, NameHash);
}

void TPSInternalProcedure::SetName(std::string_view name) {
    StoreName(name, Name, NameHash);
}

void TPSVar::SetName(std::string_view name) {
    OrgName = std::string(name);
    StoreName(name, Name, NameHash);
}

void TPSConstant::SetName(std::string_view name) {
    StoreName(name, Name, NameHash);
}

// ------------------------------------------------------------ value trees

void TPSValue::SetParserPos(const TPSPascalParser& parser) {
    SetPos(parser.CurrTokenPos(), parser.Row(), parser.Col());
}

TPSSubItem& TPSValueVar::RecAdd(std::unique_ptr<TPSSubItem> item) {
    RecItems.push_back(std::move(item));
    return *RecItems.back();
}

void TPSValueVar::RecDelete(std::size_t index) {
    if (index < RecItems.size()) RecItems.erase(RecItems.begin() + static_cast<std::ptrdiff_t>(index));
}

TPSValueAllocatedStackVar::~TPSValueAllocatedStackVar() {
    if (Proc == nullptr || Proc->ProcVars.empty()) return;
    Proc->ProcVars.pop_back();
    Proc->Data.push_back(static_cast<char>(opPop));
}

TPSBinValueOp::~TPSBinValueOp() {
    // The order of a recursive free is kept (each right operand, then down
    // the left): temporaries a tree still holds are released in reverse.
    Val2.reset();
    std::unique_ptr<TPSValue> left = std::move(Val1);
    while (auto* b = As<TPSBinValueOp>(left.get())) {
        b->Val2.reset();
        left = std::move(b->Val1);
    }
}

TPSParameter& TPSParameters::Add() {
    Items.push_back(std::make_unique<TPSParameter>());
    return *Items.back();
}

TPSValue& TPSValueArray::Add(std::unique_ptr<TPSValue> item) {
    Items.push_back(std::move(item));
    return *Items.back();
}

// ------------------------------------------------------------ statement context

TPSBlockInfo::TPSBlockInfo(TPSBlockInfo* owner) : Owner(owner) {
    if (owner != nullptr) {
        ProcNo = owner->ProcNo;
        Proc = owner->Proc;
    }
}

TPSBlockInfo::~TPSBlockInfo() { Clear(); }

void TPSBlockInfo::Clear() {
    while (!WithList.empty()) WithList.pop_back();
}

}  // namespace script::compiler
