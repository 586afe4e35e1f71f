#include "script/compiler/image_writer.h"

#include <bit>
#include <cstring>
#include <limits>
#include <vector>

namespace script::compiler {

static_assert(std::numeric_limits<long double>::digits == 64,
              "Extended constants are written in the 80-bit x87 format");

// ------------------------------------------------------------ code emission

void BlockWriteByte(std::string& code, std::uint8_t value) { code.push_back(static_cast<char>(value)); }

void BlockWriteLong(std::string& code, std::uint32_t value) {
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF)};
    code.append(bytes, 4);
}

void BlockWriteData(std::string& code, std::string_view bytes) { code.append(bytes); }

namespace {

void WriteLittleEndian(std::string& code, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) code.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void WriteCountedText(std::string& code, std::string_view text) {
    BlockWriteLong(code, static_cast<std::uint32_t>(text.size()));
    code.append(text);
}

// Appends the value bytes of a constant whose (resolved) type is type.
bool WriteConstantBytes(std::string& code, const TPSConstValue& value, const TPSType& type) {
    switch (type.BaseType) {
    case btU8: BlockWriteByte(code, value.tu8); return true;
    case btS8: BlockWriteByte(code, static_cast<std::uint8_t>(value.ts8)); return true;
    case btChar: BlockWriteByte(code, static_cast<std::uint8_t>(value.tchar)); return true;
    case btU16: WriteLittleEndian(code, value.tu16, 2); return true;
    case btS16: WriteLittleEndian(code, static_cast<std::uint16_t>(value.ts16), 2); return true;
    case btU32:
    case btProcPtr: BlockWriteLong(code, value.tu32); return true;
    case btS32: BlockWriteLong(code, static_cast<std::uint32_t>(value.ts32)); return true;
    case btSingle: BlockWriteLong(code, std::bit_cast<std::uint32_t>(value.tsingle)); return true;
    case btDouble: WriteLittleEndian(code, std::bit_cast<std::uint64_t>(value.tdouble), 8); return true;
    case btS64: WriteLittleEndian(code, static_cast<std::uint64_t>(value.ts64), 8); return true;
    case btCurrency: WriteLittleEndian(code, static_cast<std::uint64_t>(value.tcurrency), 8); return true;
    case btExtended: {
        // The x87 format keeps its 10 significant bytes first.
        char bytes[sizeof(long double)];
        std::memcpy(bytes, &value.textended, sizeof bytes);
        code.append(bytes, 10);
        return true;
    }
    // The runtime reads PChar constants as counted text, as it does strings;
    // writing them as such keeps the operand stream in step.
    case btString:
    case btPChar: WriteCountedText(code, value.tstring); return true;
    case btSet: {
        const auto* set = As<TPSSetType>(&type);
        if (set == nullptr || value.tstring.size() != set->ByteSize()) return false;
        code.append(value.tstring);
        return true;
    }
    case btEnum: {
        const auto* e = As<TPSEnumType>(&type);
        if (e == nullptr) return false;
        WriteLittleEndian(code, value.tu32, static_cast<int>(EnumStorageBytes(e->HighValue)));
        return true;
    }
    case btTypeRef: {
        const TPSType* named = ResolveTypeLink(value.ttype);
        if (named == nullptr || named->FinalTypeNo < 0) return false;
        BlockWriteLong(code, static_cast<std::uint32_t>(named->FinalTypeNo));
        return true;
    }
    default: return true;  // no value bytes
    }
}

}  // namespace

bool BlockWriteConstant(std::string& code, const TPSConstValue& value) {
    const TPSType* type = ResolveTypeLink(value.FType);
    if (type == nullptr || type->FinalTypeNo < 0) return false;
    std::string bytes;
    BlockWriteLong(bytes, static_cast<std::uint32_t>(type->FinalTypeNo));
    if (!WriteConstantBytes(bytes, value, *type)) return false;
    code += bytes;
    return true;
}

void WriteVariableOperand(std::string& code, std::uint32_t address) {
    const char bytes[5] = {static_cast<char>(okVariable), static_cast<char>(address & 0xFF),
                           static_cast<char>((address >> 8) & 0xFF), static_cast<char>((address >> 16) & 0xFF),
                           static_cast<char>((address >> 24) & 0xFF)};
    code.append(bytes, 5);
}

void WriteElementNumberOperand(std::string& code, std::uint32_t address, std::uint32_t number) {
    BlockWriteByte(code, okElementNumber);
    BlockWriteLong(code, address);
    BlockWriteLong(code, number);
}

void WriteElementIndexOperand(std::string& code, std::uint32_t address, std::uint32_t index_address) {
    BlockWriteByte(code, okElementIndex);
    BlockWriteLong(code, address);
    BlockWriteLong(code, index_address);
}

bool WriteConstantOperand(std::string& code, const TPSConstValue& value) {
    std::string operand;
    BlockWriteByte(operand, okConstant);
    if (!BlockWriteConstant(operand, value)) return false;
    code += operand;
    return true;
}

std::uint32_t WriteJumpPlaceholder(std::string& code) {
    const auto pos = static_cast<std::uint32_t>(code.size());
    BlockWriteLong(code, kJumpPlaceholder);
    return pos;
}

std::uint32_t ReadLongAt(std::string_view code, std::uint32_t pos) {
    if (pos > code.size() || code.size() - pos < 4) return 0;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(code[pos + i])) << (8 * i);
    return value;
}

bool WriteLongAt(std::string& code, std::uint32_t pos, std::uint32_t value) {
    if (pos > code.size() || code.size() - pos < 4) return false;
    for (int i = 0; i < 4; ++i) code[pos + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return true;
}

bool PatchJump(std::string& code, std::uint32_t field_pos, std::uint32_t instruction_end,
               std::uint32_t target) {
    if (field_pos > code.size() || code.size() - field_pos < 4) return false;
    if (ReadLongAt(code, field_pos) != kJumpPlaceholder) return false;
    const std::int64_t distance = static_cast<std::int64_t>(target) - static_cast<std::int64_t>(instruction_end);
    if (distance < std::numeric_limits<std::int32_t>::min() || distance > std::numeric_limits<std::int32_t>::max())
        return false;
    return WriteLongAt(code, field_pos, static_cast<std::uint32_t>(static_cast<std::int32_t>(distance)));
}

// ------------------------------------------------------------ declaration texts

std::string MakeProcSignature(const TPSParametersDecl& decl) {
    std::string text;
    text.push_back(decl.Result != nullptr ? '\1' : '\0');
    for (const auto& p : decl.Params) text.push_back(p->ByReference() ? '\1' : '\0');
    return text;
}

namespace {
std::int32_t NumberOf(const TPSType* type) {
    type = ResolveTypeLink(type);
    return type != nullptr ? type->FinalTypeNo : -1;
}
}  // namespace

std::string MakeProcDeclText(const TPSParametersDecl& decl) {
    std::string text = std::to_string(NumberOf(decl.Result));
    for (const auto& p : decl.Params) {
        text += p->ByReference() ? " !" : " @";
        text += std::to_string(NumberOf(p->AType));
    }
    return text;
}

// ------------------------------------------------------------ the image

namespace {

// A model that cannot be written faithfully; caught by WriteImage.
struct ImageError {
    std::string text;
};

// The type object of the class its base code promises; a mismatch is a
// damaged model.
template <class T>
const T& Typed(const TPSType& type) {
    const auto* typed = As<T>(&type);
    if (typed == nullptr) throw ImageError{"Type '" + type.Name + "' does not match its base code"};
    return *typed;
}

// Limits of the loader: an entry beyond them would only fail at load time,
// with a less helpful message.
void Require(bool holds, const TPSType& type, const char* what) {
    if (!holds) throw ImageError{"Type '" + type.Name + "' " + what};
}

class ImageBuilder {
public:
    explicit ImageBuilder(const TPSImageSource& source) : source_(source) {}

    void Build(TPSImageOutput& output);

private:
    void CollectTypes();
    const TPSType& Writable(const TPSType& type) const;
    std::uint32_t ComponentNumber(const TPSType* component, const TPSType& owner, std::uint32_t owner_no) const;
    void WriteType(const TPSType& type, std::uint32_t number);
    void WriteAttributes(const TPSAttributes& attributes, std::uint32_t type_limit);
    void WriteProcedure(const TPSProcedure& proc);
    void WriteVariable(const TPSVar& var);
    void WriteCode();
    void BuildDebugNames(std::string& names) const;
    std::uint32_t PointerTypeNumber() const;

    const TPSImageSource& source_;
    std::string image_;
    std::vector<const TPSType*> types_;  // by final number
    std::vector<std::uint32_t> entry_of_proc_;  // image position of each internal procedure's flags byte
};

void ImageBuilder::Build(TPSImageOutput& output) {
    CollectTypes();

    std::uint32_t main_proc = kNoMainProc;
    const auto& procs = *source_.Procs;
    // Room for all the code and a generous entry per type, procedure and
    // variable, so that a large image is not copied as it grows.
    std::size_t estimate = 64 * (types_.size() + procs.size() + source_.Vars->size());
    for (const auto& proc : procs)
        if (const auto* internal = As<TPSInternalProcedure>(proc.get())) estimate += internal->Data.size();
    image_.reserve(estimate);
    for (std::size_t i = 0; i < procs.size(); ++i) {
        const auto* internal = As<TPSInternalProcedure>(procs[i].get());
        if (internal != nullptr && internal->Name == kMainProcName) {
            main_proc = static_cast<std::uint32_t>(i);
            break;
        }
    }

    BlockWriteLong(image_, kImageMagic);
    BlockWriteLong(image_, kImageBuildNumber);
    BlockWriteLong(image_, static_cast<std::uint32_t>(types_.size()));
    BlockWriteLong(image_, static_cast<std::uint32_t>(procs.size()));
    BlockWriteLong(image_, static_cast<std::uint32_t>(source_.Vars->size()));
    BlockWriteLong(image_, main_proc);
    BlockWriteLong(image_, 0);

    for (std::size_t n = 0; n < types_.size(); ++n) WriteType(*types_[n], static_cast<std::uint32_t>(n));
    entry_of_proc_.assign(procs.size(), 0);
    for (std::size_t i = 0; i < procs.size(); ++i) {
        entry_of_proc_[i] = static_cast<std::uint32_t>(image_.size());
        WriteProcedure(*procs[i]);
    }
    for (const auto& var : *source_.Vars) WriteVariable(*var);
    WriteCode();

    if (image_.size() > std::numeric_limits<std::uint32_t>::max())
        throw ImageError{"The compiled image exceeds 4 GB"};
    BuildDebugNames(output.DebugNames);
    output.Image = std::move(image_);
}

// Places every used type at its number; the numbers must be 0 .. count-1,
// each taken once.
void ImageBuilder::CollectTypes() {
    std::size_t used = 0;
    for (const auto& type : *source_.Types)
        if (type->Used) ++used;
    types_.assign(used, nullptr);
    for (const auto& type : *source_.Types) {
        if (!type->Used) continue;
        const std::int32_t n = type->FinalTypeNo;
        if (n < 0) throw ImageError{"Type '" + type->Name + "' is used but has no type number"};
        if (static_cast<std::size_t>(n) >= used || types_[static_cast<std::size_t>(n)] != nullptr)
            throw ImageError{"Type numbers are not dense at type '" + type->Name + "' (" + std::to_string(n) + ")"};
        types_[static_cast<std::size_t>(n)] = type.get();
    }
}

// The type whose entry is written in the given type's slot.
const TPSType& ImageBuilder::Writable(const TPSType& type) const {
    if (type.BaseType == btTypeLink) throw ImageError{"Type link '" + type.Name + "' cannot be written"};
    if (type.BaseType != btUndefinedClass) return type;
    const TPSType* resolved = nullptr;
    if (source_.ResolveUndefinedClass)
        resolved = source_.ResolveUndefinedClass(Typed<TPSUndefinedClassType>(type));
    if (resolved == nullptr || resolved->BaseType != btClass)
        throw ImageError{"Class '" + type.Name + "' was never imported"};
    return *resolved;
}

// Number of a type that a type entry refers to; the loader accepts only types
// written before the referring one.
std::uint32_t ImageBuilder::ComponentNumber(const TPSType* component, const TPSType& owner,
                                            std::uint32_t owner_no) const {
    const std::int32_t n = NumberOf(component);
    if (n < 0 || static_cast<std::uint32_t>(n) >= owner_no)
        throw ImageError{"Type '" + owner.Name + "' refers to a type without a smaller type number"};
    return static_cast<std::uint32_t>(n);
}

void ImageBuilder::WriteType(const TPSType& slot_type, std::uint32_t number) {
    const TPSType& type = Writable(slot_type);
    std::uint32_t enum_highest = 0;
    if (type.BaseType == btEnum) enum_highest = Typed<TPSEnumType>(type).HighValue;
    std::uint8_t code = ImageBaseCode(type.BaseType, enum_highest);
    if (slot_type.ExportName) code = static_cast<std::uint8_t>(code + kTypeExportNameFlag);
    BlockWriteByte(image_, code);

    switch (type.BaseType) {
    case btInterface: {
        const auto& intf = Typed<TPSInterfaceType>(type);
        for (std::uint32_t word : intf.Guid) BlockWriteLong(image_, word);
        break;
    }
    case btClass:
        Require(type.Name.size() <= kMaxClassNameLength, type, "has a name too long for the image");
        WriteCountedText(image_, type.Name);
        break;
    case btProcPtr: {
        const std::string signature = MakeProcSignature(Typed<TPSProceduralType>(type).ProcDef);
        Require(signature.size() <= kMaxProcSignatureLength, type, "has too many parameters");
        WriteCountedText(image_, signature);
        break;
    }
    case btSet: {
        const std::uint32_t bits = Typed<TPSSetType>(type).BitSize();
        Require(bits <= kMaxSetBits, type, "has more than 256 elements");
        BlockWriteLong(image_, bits);
        break;
    }
    case btArray:
        BlockWriteLong(image_, ComponentNumber(Typed<TPSArrayType>(type).ArrayTypeNo, type, number));
        break;
    case btStaticArray: {
        const auto& array = Typed<TPSStaticArrayType>(type);
        Require(array.Length <= kMaxStaticArrayCount, type, "has too many elements");
        BlockWriteLong(image_, ComponentNumber(array.ArrayTypeNo, type, number));
        BlockWriteLong(image_, array.Length);
        BlockWriteLong(image_, static_cast<std::uint32_t>(array.StartOffset));
        break;
    }
    case btRecord: {
        const auto& record = Typed<TPSRecordType>(type);
        Require(!record.Fields.empty(), type, "has no fields");
        BlockWriteLong(image_, static_cast<std::uint32_t>(record.Fields.size()));
        for (const auto& field : record.Fields) BlockWriteLong(image_, ComponentNumber(field->FType, type, number));
        break;
    }
    default:
        break;
    }
    if (slot_type.ExportName) WriteCountedText(image_, slot_type.Name);
    WriteAttributes(slot_type.Attributes, number);
}

// Values of a type's attributes are loaded with the type, so their own types
// must come before it; a procedure's may be of any type.
void ImageBuilder::WriteAttributes(const TPSAttributes& attributes, std::uint32_t type_limit) {
    BlockWriteLong(image_, static_cast<std::uint32_t>(attributes.Count()));
    for (const auto& attribute : attributes.Items) {
        if (attribute->AType == nullptr) throw ImageError{"Attribute without an attribute type"};
        WriteCountedText(image_, attribute->AType->Name);
        BlockWriteLong(image_, static_cast<std::uint32_t>(attribute->Count()));
        for (const auto& value : attribute->Values) {
            if (NumberOf(value->FType) >= static_cast<std::int64_t>(type_limit))
                throw ImageError{"Attribute '" + attribute->AType->Name + "' holds a value of a later type"};
            if (!BlockWriteConstant(image_, *value))
                throw ImageError{"Attribute '" + attribute->AType->Name + "' holds a value that cannot be written"};
        }
    }
}

void ImageBuilder::WriteProcedure(const TPSProcedure& proc) {
    const std::uint8_t attribute_flag = proc.Attributes.Count() > 0 ? pfAttributes : 0;
    if (const auto* internal = As<TPSInternalProcedure>(&proc)) {
        BlockWriteByte(image_, static_cast<std::uint8_t>(pfExportOrDecl | attribute_flag));
        BlockWriteLong(image_, 0);  // code offset, patched by WriteCode
        BlockWriteLong(image_, 0);  // code length
        WriteCountedText(image_, internal->Name);
        WriteCountedText(image_, MakeProcDeclText(internal->Decl));
    } else if (const auto* external = As<TPSExternalProcedure>(&proc)) {
        const TPSRegProc* reg = external->RegProc;
        if (reg == nullptr) throw ImageError{"External procedure without a registered function"};
        const std::string import_decl = !reg->ImportDecl.empty() && reg->ImportDecl == reg->RegisteredImportDecl
                                            ? MakeProcSignature(reg->Decl)
                                            : reg->ImportDecl;
        const bool by_name = import_decl.empty() || reg->ExportName;
        if (by_name && !FitsImageName(reg->Name))
            throw ImageError{"Function name too long for the image: " + reg->Name};
        if (import_decl.empty()) {
            BlockWriteByte(image_, static_cast<std::uint8_t>(pfExternal | attribute_flag));
            BlockWriteByte(image_, static_cast<std::uint8_t>(reg->Name.size()));
            image_ += reg->Name;
        } else {
            BlockWriteByte(image_, static_cast<std::uint8_t>(pfExternal | pfExportOrDecl | attribute_flag));
            if (reg->ExportName) {
                BlockWriteByte(image_, static_cast<std::uint8_t>(reg->Name.size()));
                image_ += reg->Name;
            } else {
                BlockWriteByte(image_, 0);
            }
            WriteCountedText(image_, import_decl);
        }
    } else {
        throw ImageError{"Unknown kind of procedure"};
    }
    if (attribute_flag != 0) WriteAttributes(proc.Attributes, std::numeric_limits<std::uint32_t>::max());
}

// The last numbered type of base Pointer in the type list: what a variable
// flagged as a pointer variable is written with.
std::uint32_t ImageBuilder::PointerTypeNumber() const {
    const auto& types = *source_.Types;
    for (auto it = types.rbegin(); it != types.rend(); ++it) {
        if ((*it)->BaseType == btPointer && (*it)->Used && (*it)->FinalTypeNo >= 0)
            return static_cast<std::uint32_t>((*it)->FinalTypeNo);
    }
    throw ImageError{"No Pointer type for a pointer variable"};
}

void ImageBuilder::WriteVariable(const TPSVar& var) {
    std::uint32_t type_no = 0;
    if (var.SaveAsPointer) {
        type_no = PointerTypeNumber();
    } else {
        const std::int32_t n = NumberOf(var.AType);
        if (n < 0) throw ImageError{"Variable '" + var.Name + "' has a type without a type number"};
        type_no = static_cast<std::uint32_t>(n);
    }
    BlockWriteLong(image_, type_no);
    if (var.ExportName.empty()) {
        BlockWriteByte(image_, 0);
    } else {
        BlockWriteByte(image_, 1);
        WriteCountedText(image_, var.ExportName);
    }
}

void ImageBuilder::WriteCode() {
    const auto& procs = *source_.Procs;
    static const std::string kEmptyBody(1, static_cast<char>(opRet));
    for (std::size_t i = 0; i < procs.size(); ++i) {
        const auto* internal = As<TPSInternalProcedure>(procs[i].get());
        if (internal == nullptr) continue;
        const std::string& code = internal->Data.empty() ? kEmptyBody : internal->Data;
        const auto offset = static_cast<std::uint32_t>(image_.size());
        image_ += code;
        WriteLongAt(image_, entry_of_proc_[i] + 1, offset);
        WriteLongAt(image_, entry_of_proc_[i] + 5, static_cast<std::uint32_t>(code.size()));
    }
}

void ImageBuilder::BuildDebugNames(std::string& names) const {
    names.assign(1, '\0');
    for (const auto& proc : *source_.Procs) {
        if (const auto* internal = As<TPSInternalProcedure>(proc.get())) {
            if (internal->Name != kMainProcName) names += internal->OriginalName;
        } else if (const auto* external = As<TPSExternalProcedure>(proc.get())) {
            if (external->RegProc != nullptr) names += external->RegProc->OrgName;
        }
        names.push_back('\1');
    }
    names.push_back('\0');
    names.push_back('\1');
    for (const auto& var : *source_.Vars) {
        names += var->OrgName;
        names.push_back('\1');
    }
    names.push_back('\0');
}

}  // namespace

bool WriteImage(const TPSImageSource& source, TPSImageOutput& output) {
    output = TPSImageOutput{};
    if (source.OnBeforeOutput && !source.OnBeforeOutput()) return false;
    static const TPSTypeList kNoTypes;
    static const TPSProcedureList kNoProcs;
    static const TPSVarList kNoVars;
    TPSImageSource complete = source;
    if (complete.Types == nullptr) complete.Types = &kNoTypes;
    if (complete.Procs == nullptr) complete.Procs = &kNoProcs;
    if (complete.Vars == nullptr) complete.Vars = &kNoVars;
    try {
        ImageBuilder(complete).Build(output);
    } catch (const ImageError& error) {
        output.Image.clear();
        output.DebugNames.clear();
        output.Error = error.text;
        return false;
    }
    return true;
}

}  // namespace script::compiler
