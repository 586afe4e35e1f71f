#pragma once
// The compile-time data model of the script compiler: every declared or
// registered thing (types, host functions, procedures, variables, constants,
// parameter declarations, attributes) and the value trees that expressions
// are parsed into. All of it lives for one compilation; the image writer
// copies what the runtime needs.
//
// Ownership: an object owns what it holds in a std::unique_ptr (or a
// container of them); every other pointer is a non-owning reference whose
// target outlives the referrer because the compiler's lists, which own all
// types, procedures and host functions, are freed last.
//
// Every named object stores its name upper-cased with its MakeHash value;
// lookups compare the hash first and the text only on equal hashes.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/compiler/image_format.h"
#include "script/compiler/ps_utils.h"

namespace script::compiler {

class TPSType;
class TPSAttribute;
class TPSProcedure;
class TPSInternalProcedure;
class TPSPascalParser;

// Models of host classes and interfaces. This system's host imports none, so
// the compiler only ever refers to them; they are owned by the compiler.
class TPSCompileTimeClass;
class TPSUndefinedClass;
class TPSInterface;

// True when the hash and the upper-case text both match: the one comparison
// behind every name lookup.
inline bool SameName(std::uint32_t hash_a, std::string_view name_a, std::uint32_t hash_b,
                     std::string_view name_b) {
    return hash_a == hash_b && name_a == name_b;
}

// A name the image stores with a one-byte length (host functions imported by
// name) must fit in it; longer names are refused where they enter.
inline bool FitsImageName(std::string_view name) { return name.size() <= kMaxByteCountedText; }

// ============================================================ constant cell

// A typed compile-time constant. The member that holds the value is chosen by
// the type's base code; a fresh cell is zero, 0.0, the empty text or the empty
// set. Enumerations keep their ordinal in tu32, procedure pointers their
// procedure number, Currency the amount times 10000; Set keeps its bytes in
// tstring (bit i in bit i mod 8 of byte i div 8); a TypeRef names ttype.
struct TPSConstValue {
    TPSType* FType = nullptr;
    std::uint8_t tu8 = 0;
    std::int8_t ts8 = 0;
    char tchar = 0;
    std::uint16_t tu16 = 0;
    std::int16_t ts16 = 0;
    std::uint32_t tu32 = 0;
    std::int32_t ts32 = 0;
    float tsingle = 0.0f;
    double tdouble = 0.0;
    long double textended = 0.0L;
    std::int64_t ts64 = 0;
    std::int64_t tcurrency = 0;
    std::string tstring;
    TPSType* ttype = nullptr;
};

// Zero-fills the cell and gives it the type; a Set gets its zeroed bytes.
void InitConstValue(TPSConstValue& cell, TPSType* type);
std::unique_ptr<TPSConstValue> NewConstValue(TPSType* type);
// Copies the value member that the source's base type selects; the
// destination keeps its own type.
void CopyConstValue(const TPSConstValue& source, TPSConstValue& dest);
std::unique_ptr<TPSConstValue> DuplicateConstValue(const TPSConstValue& source);

// ============================================================ attributes

// One field of an attribute type: its type and whether it is filled in
// automatically rather than written by the script.
struct TPSAttributeTypeField {
    TPSType* FieldType = nullptr;
    bool AutoFill = false;
};

// An attribute type of the compiler's attribute-type list. The hooks run when
// an attribute of this type is attached to a type or a procedure; a false
// answer fails the declaration.
class TPSAttributeType {
public:
    void SetName(std::string_view name);

    std::string Name;      // upper case
    std::string OrgName;   // as written
    std::uint32_t NameHash = 0;
    std::vector<TPSAttributeTypeField> Fields;
    std::function<bool(TPSAttribute&, TPSType&)> OnApplyToType;
    std::function<bool(TPSAttribute&, TPSProcedure&)> OnApplyToProcedure;
};

class TPSAttribute {
public:
    explicit TPSAttribute(TPSAttributeType* type) : AType(type) {}

    TPSConstValue& AddValue(TPSType* type);
    std::size_t Count() const { return Values.size(); }
    TPSConstValue& Item(std::size_t index) const { return *Values.at(index); }
    // Takes the other's type and a duplicate of each of its values.
    void Assign(const TPSAttribute& other);

    TPSAttributeType* AType;
    std::vector<std::unique_ptr<TPSConstValue>> Values;
};

class TPSAttributes {
public:
    std::size_t Count() const { return Items.size(); }
    TPSAttribute& Item(std::size_t index) const { return *Items.at(index); }
    TPSAttribute& Add(TPSAttributeType* type);
    // Appends the source's attributes taken from its last to its first (so in
    // reversed order): moved out of the source when move is set, else copied.
    void Assign(TPSAttributes& source, bool move);

    std::vector<std::unique_ptr<TPSAttribute>> Items;
};

// ============================================================ declarations

class TPSParameterDecl {
public:
    // Stores the name as written and upper-cased.
    void SetName(std::string_view name);
    bool ByReference() const { return Mode != 0; }

    std::string Name;      // upper case
    std::string OrgName;   // as written
    std::uint8_t Mode = 0;  // 0 by value, 1 out, 2 var
    TPSType* AType = nullptr;  // none for an untyped parameter
    std::int32_t DeclarePos = 0;
    std::int32_t DeclareRow = 0;
    std::int32_t DeclareCol = 0;
};

// Parameter modes as declared.
inline constexpr std::uint8_t pmIn = 0;
inline constexpr std::uint8_t pmOut = 1;
inline constexpr std::uint8_t pmInOut = 2;

class TPSParametersDecl {
public:
    TPSParameterDecl& AddParam();
    std::size_t ParamCount() const { return Params.size(); }
    TPSParameterDecl& Param(std::size_t index) const { return *Params.at(index); }
    // Replaces every parameter by a copy of the other's (name, mode, type,
    // position) and takes its result type.
    void Assign(const TPSParametersDecl& other);
    // Same result type object, same count, each parameter the same mode and
    // the same type object. A missing other is never the same.
    bool Same(const TPSParametersDecl* other) const;

    std::vector<std::unique_ptr<TPSParameterDecl>> Params;
    TPSType* Result = nullptr;  // none for a procedure
};

// ============================================================ types

class TPSType {
public:
    explicit TPSType(std::uint8_t base_type) : BaseType(base_type) {}
    virtual ~TPSType() = default;
    TPSType(const TPSType&) = delete;
    TPSType& operator=(const TPSType&) = delete;

    // Stores the upper-cased name and its hash.
    void SetName(std::string_view name);
    // Sets the used flag only; numbering goes through TPSTypeNumbering.
    void Use() { Used = true; }

    std::uint32_t NameHash = 0;
    std::string Name;  // upper case
    std::uint8_t BaseType;
    std::int32_t DeclarePos = -1;  // -1 for a type the host registered
    std::int32_t DeclareRow = 0;
    std::int32_t DeclareCol = 0;
    bool Used = false;
    bool ExportName = false;
    std::string OriginalName;
    TPSAttributes Attributes;
    std::int32_t FinalTypeNo = -1;
};

// Variant and NotificationVariant. Member calls on variants are late-bound
// through the registered function "IDISPATCHINVOKE"; the compiler supplies
// the procedure number and the types involved.
class TPSVariantType : public TPSType {
public:
    using TPSType::TPSType;
};

class TPSRecordFieldTypeDef {
public:
    // Sets the name as written, its upper-case form and the hash.
    void SetFieldOrgName(std::string_view name);

    std::string FieldOrgName;
    std::string FieldName;  // upper case
    std::uint32_t FieldNameHash = 0;
    TPSType* FType = nullptr;
};

class TPSRecordType : public TPSType {
public:
    TPSRecordType() : TPSType(btRecord) {}
    TPSRecordFieldTypeDef& AddRecVal();
    TPSRecordFieldTypeDef& RecVal(std::size_t index) const { return *Fields.at(index); }
    std::size_t RecValCount() const { return Fields.size(); }

    std::vector<std::unique_ptr<TPSRecordFieldTypeDef>> Fields;
};

class TPSClassType : public TPSType {
public:
    TPSClassType() : TPSType(btClass) {}
    TPSCompileTimeClass* Cl = nullptr;
};

// A class named before its import; resolved to its class type before writing.
class TPSUndefinedClassType : public TPSType {
public:
    TPSUndefinedClassType() : TPSType(btUndefinedClass) {}
    TPSUndefinedClass* ExtClass = nullptr;
};

class TPSInterfaceType : public TPSType {
public:
    TPSInterfaceType() : TPSType(btInterface) {}
    TPSInterface* Intf = nullptr;
    // The GUID as the image stores it (four u32, little-endian each).
    std::uint32_t Guid[4] = {0, 0, 0, 0};
};

class TPSProceduralType : public TPSType {
public:
    TPSProceduralType() : TPSType(btProcPtr) {}
    TPSParametersDecl ProcDef;
};

class TPSArrayType : public TPSType {
public:
    TPSArrayType() : TPSType(btArray) {}
    TPSType* ArrayTypeNo = nullptr;  // the element type

protected:
    explicit TPSArrayType(std::uint8_t base_type) : TPSType(base_type) {}
};

class TPSStaticArrayType : public TPSArrayType {
public:
    TPSStaticArrayType() : TPSArrayType(btStaticArray) {}
    std::uint32_t Length = 0;       // element count
    std::int32_t StartOffset = 0;   // low bound
};

class TPSSetType : public TPSType {
public:
    TPSSetType() : TPSType(btSet) {}
    // 256 over U8 or Char, the highest value + 1 over an enumeration, else 0.
    std::uint32_t BitSize() const;
    std::uint32_t ByteSize() const { return SetByteSize(BitSize()); }

    TPSType* SetType = nullptr;  // the element type
};

class TPSTypeLink : public TPSType {
public:
    TPSTypeLink() : TPSType(btTypeLink) {}
    TPSType* LinkTypeNo = nullptr;
};

class TPSEnumType : public TPSType {
public:
    TPSEnumType() : TPSType(btEnum) {}
    std::uint32_t HighValue = 0;
};

// Makes a type object of the class that a base code selects (record, dynamic
// or static array, variant, procedural, set, class, undefined class,
// interface, enumeration, type link, else a plain type).
std::unique_ptr<TPSType> NewTypeForBaseType(std::uint8_t base_type);

// Follows type links to the real type; none stays none.
TPSType* ResolveTypeLink(TPSType* type);
const TPSType* ResolveTypeLink(const TPSType* type);

// The image's number for each used type. Marking a type used marks its
// components first (record fields, array, static-array and set elements, the
// result and parameter types of a procedural type), so a type's number is
// always above the numbers of the types it refers to.
class TPSTypeNumbering {
public:
    // Follows links; a type already used keeps its number.
    void UseType(TPSType* type);
    void UseParams(const TPSParametersDecl& decl);
    std::int32_t Count() const { return count_; }

private:
    std::int32_t count_ = 0;
};

// ============================================================ procedures

// A host function registered for the script.
class TPSRegProc {
public:
    void SetName(std::string_view name);

    std::uint32_t NameHash = 0;
    std::string Name;     // upper case
    std::string OrgName;  // as registered (debug names)
    TPSParametersDecl Decl;
    bool ExportName = false;
    std::string ImportDecl;  // empty: none
    // The signature made at registration; while ImportDecl still equals it,
    // the image gets the signature of Decl as it is at output time, so that
    // parameters a host adds after registering stay in step.
    std::string RegisteredImportDecl;
};

class TPSProcedure {
public:
    virtual ~TPSProcedure() = default;
    TPSProcedure() = default;
    TPSProcedure(const TPSProcedure&) = delete;
    TPSProcedure& operator=(const TPSProcedure&) = delete;

    TPSAttributes Attributes;
};

class TPSExternalProcedure : public TPSProcedure {
public:
    explicit TPSExternalProcedure(TPSRegProc* reg_proc) : RegProc(reg_proc) {}
    TPSRegProc* RegProc;
};

// A local variable or a compiler temporary (empty name).
class TPSProcVar {
public:
    void SetName(std::string_view name);

    std::uint32_t NameHash = 0;
    std::string Name;  // upper case
    std::string OrgName;
    TPSType* AType = nullptr;
    bool Used = false;
    std::int32_t DeclarePos = 0;
    std::int32_t DeclareRow = 0;
    std::int32_t DeclareCol = 0;
};

// A script procedure, and the main body ("!MAIN").
class TPSInternalProcedure : public TPSProcedure {
public:
    void SetName(std::string_view name);
    void Use() { Used = true; }

    std::string Data;  // the byte code
    std::uint32_t NameHash = 0;
    std::string Name;          // upper case
    std::string OriginalName;  // as declared (debug names)
    TPSParametersDecl Decl;
    std::vector<std::unique_ptr<TPSProcVar>> ProcVars;
    bool Used = false;
    bool Forwarded = false;
    std::int32_t DeclarePos = 0;
    std::int32_t DeclareRow = 0;
    std::int32_t DeclareCol = 0;
    // Label entries: u32 code position (0xFFFFFFFF until placed), u32 name
    // hash, then the upper-case name. Goto entries: u32 position just after
    // the jump's distance field, u32 label index.
    TPSStringList Labels;
    TPSStringList Gotos;
};

// ============================================================ variables, constants

class TPSVar {
public:
    void SetName(std::string_view name);  // as written; upper-cased copy and hash
    void Use() { Used = true; }

    std::uint32_t NameHash = 0;
    std::string OrgName;
    std::string Name;  // upper case
    TPSType* AType = nullptr;
    bool Used = false;
    std::string ExportName;  // empty: not exported
    std::int32_t DeclarePos = 0;
    std::int32_t DeclareRow = 0;
    std::int32_t DeclareCol = 0;
    // Written with the type number of the last Pointer type (see the writer).
    bool SaveAsPointer = false;
};

class TPSConstant {
public:
    void SetName(std::string_view name);

    std::uint32_t NameHash = 0;
    std::string Name;  // upper case
    std::unique_ptr<TPSConstValue> Value;
    std::int32_t DeclarePos = 0;
    std::int32_t DeclareRow = 0;
    std::int32_t DeclareCol = 0;
};

// The compiler's owning lists, in the order that gives the numbers.
using TPSTypeList = std::vector<std::unique_ptr<TPSType>>;
using TPSProcedureList = std::vector<std::unique_ptr<TPSProcedure>>;
using TPSVarList = std::vector<std::unique_ptr<TPSVar>>;

// ============================================================ value trees

class TPSValue {
public:
    virtual ~TPSValue() = default;
    TPSValue() = default;
    TPSValue(const TPSValue&) = delete;
    TPSValue& operator=(const TPSValue&) = delete;

    // Takes the position, row and column of the parser's current token.
    void SetParserPos(const TPSPascalParser& parser);
    void SetPos(std::uint32_t pos, std::uint32_t row, std::uint32_t col) {
        Pos = pos;
        Row = row;
        Col = col;
    }

    std::uint32_t Pos = 0;
    std::uint32_t Row = 0;
    std::uint32_t Col = 0;
};

// A selector inside a variable: a record field or an array element.
class TPSSubItem {
public:
    virtual ~TPSSubItem() = default;
    TPSSubItem() = default;
    TPSSubItem(const TPSSubItem&) = delete;
    TPSSubItem& operator=(const TPSSubItem&) = delete;

    TPSType* aType = nullptr;  // the selected item's type
};

// A field or element number known at compile time.
class TPSSubNumber : public TPSSubItem {
public:
    std::uint32_t SubNo = 0;
};

// An element selected by an index expression.
class TPSSubValue : public TPSSubItem {
public:
    std::unique_ptr<TPSValue> SubNo;
};

class TPSValueVar : public TPSValue {
public:
    TPSSubItem& RecAdd(std::unique_ptr<TPSSubItem> item);
    void RecDelete(std::size_t index);
    TPSSubItem& RecItem(std::size_t index) const { return *RecItems.at(index); }
    std::size_t RecCount() const { return RecItems.size(); }

    std::vector<std::unique_ptr<TPSSubItem>> RecItems;
};

class TPSValueGlobalVar : public TPSValueVar {
public:
    std::uint32_t GlobalVarNo = 0;
};

class TPSValueLocalVar : public TPSValueVar {
public:
    std::uint32_t LocalVarNo = 0;
};

class TPSValueParamVar : public TPSValueVar {
public:
    std::uint32_t ParamNo = 0;
};

// A compiler temporary: a nameless local of its procedure. Releasing it
// removes the procedure's last local and appends one Pop to its code, so
// temporaries must be released in the reverse order of their allocation.
class TPSValueAllocatedStackVar : public TPSValueLocalVar {
public:
    explicit TPSValueAllocatedStackVar(TPSInternalProcedure* proc) : Proc(proc) {}
    ~TPSValueAllocatedStackVar() override;

    TPSInternalProcedure* Proc;
};

class TPSValueData : public TPSValue {
public:
    std::unique_ptr<TPSConstValue> Data;
};

// A pointer that owns its object only when told to: the old and the new value
// of a replacement may each be owned or borrowed.
class TPSValueSlot {
public:
    TPSValue* get() const { return ptr_; }
    bool Owns() const { return owned_ != nullptr; }
    void Own(std::unique_ptr<TPSValue> value) {
        owned_ = std::move(value);
        ptr_ = owned_.get();
    }
    void Borrow(TPSValue* value) {
        owned_.reset();
        ptr_ = value;
    }
    // Hands the owned value back (none when borrowed) and empties the slot.
    std::unique_ptr<TPSValue> Release() {
        ptr_ = nullptr;
        return std::move(owned_);
    }

private:
    std::unique_ptr<TPSValue> owned_;
    TPSValue* ptr_ = nullptr;
};

// Stands in for a value while an instruction is written (and for the
// variables of a WITH statement); freeing it frees what it owns.
class TPSValueReplace : public TPSValue {
public:
    TPSValueSlot OldValue;  // owned: the free-old flag
    TPSValueSlot NewValue;  // owned: the free-new flag
    bool PreWriteAllocated = false;
    std::int32_t ReplaceTimes = 1;
};

class TPSUnValueOp : public TPSValue {
public:
    std::unique_ptr<TPSValue> Val1;
    std::uint8_t Operator = 0;  // 0 not, 1 negation, 2 cast
    TPSType* aType = nullptr;
};

class TPSBinValueOp : public TPSValue {
public:
    std::unique_ptr<TPSValue> Val1;
    std::unique_ptr<TPSValue> Val2;
    std::uint8_t Operator = 0;  // ExprOperator
    TPSType* aType = nullptr;
};

class TPSValueNil : public TPSValue {};

class TPSValueProcPtr : public TPSValue {
public:
    std::uint32_t ProcPtr = 0;
};

// One argument of a call.
class TPSParameter {
public:
    TPSParameter() = default;
    TPSParameter(const TPSParameter&) = delete;
    TPSParameter& operator=(const TPSParameter&) = delete;

    std::unique_ptr<TPSValue> Val;
    std::unique_ptr<TPSValue> TempVar;
    std::uint8_t ParamMode = 0;
    TPSType* ExpectedType = nullptr;
};

class TPSParameters {
public:
    TPSParameter& Add();
    std::size_t Count() const { return Items.size(); }
    TPSParameter& Item(std::size_t index) const { return *Items.at(index); }

    std::vector<std::unique_ptr<TPSParameter>> Items;
};

class TPSValueProc : public TPSValue {
public:
    std::unique_ptr<TPSValue> SelfPtr;
    TPSParameters Parameters;
    TPSType* ResultType = nullptr;
};

class TPSValueProcNo : public TPSValueProc {
public:
    std::uint32_t ProcNo = 0;
};

class TPSValueProcVal : public TPSValueProc {
public:
    std::unique_ptr<TPSValue> ProcNo;  // the procedural value
};

class TPSValueArray : public TPSValue {
public:
    TPSValue& Add(std::unique_ptr<TPSValue> item);
    std::size_t Count() const { return Items.size(); }
    TPSValue& Item(std::size_t index) const { return *Items.at(index); }

    std::vector<std::unique_ptr<TPSValue>> Items;
};

// ============================================================ statement context

// Block kinds of TPSBlockInfo.
inline constexpr std::uint8_t tMainBegin = 0;
inline constexpr std::uint8_t tProcBegin = 1;
inline constexpr std::uint8_t tSubBegin = 2;
inline constexpr std::uint8_t tOneLiner = 3;
inline constexpr std::uint8_t tifOneliner = 4;
inline constexpr std::uint8_t tRepeat = 5;
inline constexpr std::uint8_t tTry = 6;
inline constexpr std::uint8_t tTryEnd = 7;

class TPSBlockInfo {
public:
    // Copies the procedure and its number from the owner, when there is one.
    explicit TPSBlockInfo(TPSBlockInfo* owner);
    ~TPSBlockInfo();
    TPSBlockInfo(const TPSBlockInfo&) = delete;
    TPSBlockInfo& operator=(const TPSBlockInfo&) = delete;

    // Frees the with-list entries, the most recent first (each may release a
    // temporary).
    void Clear();
    // The code target: the byte code of the procedure being compiled.
    std::string& Code() const { return Proc->Data; }

    TPSBlockInfo* Owner;
    std::vector<std::unique_ptr<TPSValueReplace>> WithList;
    std::uint32_t ProcNo = 0;
    TPSInternalProcedure* Proc = nullptr;
    std::uint8_t SubType = tMainBegin;
};

}  // namespace script::compiler
