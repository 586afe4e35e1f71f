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
#include <type_traits>
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

// The classes of the model's objects carry a kind tag, ordered so that each
// class and its descendants form one range (kFirstKind..kLastKind). As<T>
// tests the tag: value trees are inspected at every step of compiling an
// expression, far too often to ask the run-time type system each time.
template <typename T, typename B>
std::conditional_t<std::is_const_v<B>, const T, T>* As(B* object) {
    if (object == nullptr || object->Kind < T::kFirstKind || object->Kind > T::kLastKind) return nullptr;
    return static_cast<std::conditional_t<std::is_const_v<B>, const T, T>*>(object);
}

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

enum class TPSTypeKind : std::uint8_t {
    Plain,
    Variant,
    Record,
    Class,
    UndefinedClass,
    Interface,
    Procedural,
    Array,
    StaticArray,
    Set,
    Link,
    Enum,
};

class TPSType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::Plain;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::Enum;

    // A plain type object: no structure beyond its base code.
    explicit TPSType(std::uint8_t base_type) : TPSType(base_type, TPSTypeKind::Plain) {}
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
    const TPSTypeKind Kind;

protected:
    TPSType(std::uint8_t base_type, TPSTypeKind kind) : BaseType(base_type), Kind(kind) {}
};

// Variant and NotificationVariant. Member calls on variants are late-bound
// through the registered function "IDISPATCHINVOKE"; the compiler supplies
// the procedure number and the types involved.
class TPSVariantType : public TPSType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::Variant;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::Variant;
    explicit TPSVariantType(std::uint8_t base_type) : TPSType(base_type, TPSTypeKind::Variant) {}
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
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::Record;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::Record;
    TPSRecordType() : TPSType(btRecord, TPSTypeKind::Record) {}
    TPSRecordFieldTypeDef& AddRecVal();
    TPSRecordFieldTypeDef& RecVal(std::size_t index) const { return *Fields.at(index); }
    std::size_t RecValCount() const { return Fields.size(); }

    std::vector<std::unique_ptr<TPSRecordFieldTypeDef>> Fields;
};

class TPSClassType : public TPSType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::Class;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::Class;
    TPSClassType() : TPSType(btClass, TPSTypeKind::Class) {}
    TPSCompileTimeClass* Cl = nullptr;
};

// A class named before its import; resolved to its class type before writing.
class TPSUndefinedClassType : public TPSType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::UndefinedClass;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::UndefinedClass;
    TPSUndefinedClassType() : TPSType(btUndefinedClass, TPSTypeKind::UndefinedClass) {}
    TPSUndefinedClass* ExtClass = nullptr;
};

class TPSInterfaceType : public TPSType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::Interface;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::Interface;
    TPSInterfaceType() : TPSType(btInterface, TPSTypeKind::Interface) {}
    TPSInterface* Intf = nullptr;
    // The GUID as the image stores it (four u32, little-endian each).
    std::uint32_t Guid[4] = {0, 0, 0, 0};
};

class TPSProceduralType : public TPSType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::Procedural;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::Procedural;
    TPSProceduralType() : TPSType(btProcPtr, TPSTypeKind::Procedural) {}
    TPSParametersDecl ProcDef;
};

class TPSArrayType : public TPSType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::Array;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::StaticArray;
    TPSArrayType() : TPSType(btArray, TPSTypeKind::Array) {}
    TPSType* ArrayTypeNo = nullptr;  // the element type

protected:
    TPSArrayType(std::uint8_t base_type, TPSTypeKind kind) : TPSType(base_type, kind) {}
};

class TPSStaticArrayType : public TPSArrayType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::StaticArray;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::StaticArray;
    TPSStaticArrayType() : TPSArrayType(btStaticArray, TPSTypeKind::StaticArray) {}
    std::uint32_t Length = 0;       // element count
    std::int32_t StartOffset = 0;   // low bound
};

class TPSSetType : public TPSType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::Set;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::Set;
    TPSSetType() : TPSType(btSet, TPSTypeKind::Set) {}
    // 256 over U8 or Char, the highest value + 1 over an enumeration, else 0.
    std::uint32_t BitSize() const;
    std::uint32_t ByteSize() const { return SetByteSize(BitSize()); }

    TPSType* SetType = nullptr;  // the element type
};

class TPSTypeLink : public TPSType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::Link;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::Link;
    TPSTypeLink() : TPSType(btTypeLink, TPSTypeKind::Link) {}
    TPSType* LinkTypeNo = nullptr;
};

class TPSEnumType : public TPSType {
public:
    static constexpr TPSTypeKind kFirstKind = TPSTypeKind::Enum;
    static constexpr TPSTypeKind kLastKind = TPSTypeKind::Enum;
    TPSEnumType() : TPSType(btEnum, TPSTypeKind::Enum) {}
    std::uint32_t HighValue = 0;
};

// Makes a type object of the class that a base code selects (record, dynamic
// or static array, variant, procedural, set, class, undefined class,
// interface, enumeration, type link, else a plain type).
std::unique_ptr<TPSType> NewTypeForBaseType(std::uint8_t base_type);

// Follows type links to the real type; none stays none.
const TPSType* ResolveTypeLinkChain(const TPSType* type);
inline const TPSType* ResolveTypeLink(const TPSType* type) {
    return type == nullptr || type->BaseType != btTypeLink ? type : ResolveTypeLinkChain(type);
}
inline TPSType* ResolveTypeLink(TPSType* type) {
    return const_cast<TPSType*>(ResolveTypeLink(static_cast<const TPSType*>(type)));
}

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

enum class TPSProcedureKind : std::uint8_t { Internal, External };

class TPSProcedure {
public:
    static constexpr TPSProcedureKind kFirstKind = TPSProcedureKind::Internal;
    static constexpr TPSProcedureKind kLastKind = TPSProcedureKind::External;

    virtual ~TPSProcedure() = default;
    TPSProcedure(const TPSProcedure&) = delete;
    TPSProcedure& operator=(const TPSProcedure&) = delete;

    TPSAttributes Attributes;
    const TPSProcedureKind Kind;

protected:
    explicit TPSProcedure(TPSProcedureKind kind) : Kind(kind) {}
};

class TPSExternalProcedure : public TPSProcedure {
public:
    static constexpr TPSProcedureKind kFirstKind = TPSProcedureKind::External;
    static constexpr TPSProcedureKind kLastKind = TPSProcedureKind::External;
    explicit TPSExternalProcedure(TPSRegProc* reg_proc) : TPSProcedure(TPSProcedureKind::External), RegProc(reg_proc) {}
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
    static constexpr TPSProcedureKind kFirstKind = TPSProcedureKind::Internal;
    static constexpr TPSProcedureKind kLastKind = TPSProcedureKind::Internal;
    TPSInternalProcedure() : TPSProcedure(TPSProcedureKind::Internal) {}

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
    std::int32_t DeclarePos = 0;  // of its name
    std::int32_t DeclareRow = 0;
    std::int32_t DeclareCol = 0;
    // Where its header begins (the word PROCEDURE or FUNCTION), for errors
    // about the declaration as a whole.
    std::int32_t HeaderPos = 0;
    std::int32_t HeaderRow = 0;
    std::int32_t HeaderCol = 0;
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

enum class TPSValueKind : std::uint8_t {
    GlobalVar,
    LocalVar,
    AllocatedStackVar,
    ParamVar,
    Data,
    Replace,
    UnOp,
    BinOp,
    Nil,
    ProcPtr,
    ProcNo,
    ProcVal,
    Array,
    CallField,  // a field of a function's record result (the expression parser's own)
};

class TPSValue {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::GlobalVar;
    static constexpr TPSValueKind kLastKind = TPSValueKind::CallField;

    virtual ~TPSValue() = default;
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
    const TPSValueKind Kind;

protected:
    explicit TPSValue(TPSValueKind kind) : Kind(kind) {}
};

// A selector inside a variable: a record field or an array element.
enum class TPSSubItemKind : std::uint8_t { Number, Value };

class TPSSubItem {
public:
    static constexpr TPSSubItemKind kFirstKind = TPSSubItemKind::Number;
    static constexpr TPSSubItemKind kLastKind = TPSSubItemKind::Value;

    virtual ~TPSSubItem() = default;
    TPSSubItem(const TPSSubItem&) = delete;
    TPSSubItem& operator=(const TPSSubItem&) = delete;

    TPSType* aType = nullptr;  // the selected item's type
    const TPSSubItemKind Kind;

protected:
    explicit TPSSubItem(TPSSubItemKind kind) : Kind(kind) {}
};

// A field or element number known at compile time.
class TPSSubNumber : public TPSSubItem {
public:
    static constexpr TPSSubItemKind kFirstKind = TPSSubItemKind::Number;
    static constexpr TPSSubItemKind kLastKind = TPSSubItemKind::Number;
    TPSSubNumber() : TPSSubItem(TPSSubItemKind::Number) {}

    std::uint32_t SubNo = 0;
};

// An element selected by an index expression.
class TPSSubValue : public TPSSubItem {
public:
    static constexpr TPSSubItemKind kFirstKind = TPSSubItemKind::Value;
    static constexpr TPSSubItemKind kLastKind = TPSSubItemKind::Value;
    TPSSubValue() : TPSSubItem(TPSSubItemKind::Value) {}

    std::unique_ptr<TPSValue> SubNo;
};

class TPSValueVar : public TPSValue {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::GlobalVar;
    static constexpr TPSValueKind kLastKind = TPSValueKind::ParamVar;
    TPSSubItem& RecAdd(std::unique_ptr<TPSSubItem> item);
    void RecDelete(std::size_t index);
    TPSSubItem& RecItem(std::size_t index) const { return *RecItems.at(index); }
    std::size_t RecCount() const { return RecItems.size(); }

    std::vector<std::unique_ptr<TPSSubItem>> RecItems;

protected:
    using TPSValue::TPSValue;
};

class TPSValueGlobalVar : public TPSValueVar {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::GlobalVar;
    static constexpr TPSValueKind kLastKind = TPSValueKind::GlobalVar;
    TPSValueGlobalVar() : TPSValueVar(TPSValueKind::GlobalVar) {}

    std::uint32_t GlobalVarNo = 0;
};

class TPSValueLocalVar : public TPSValueVar {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::LocalVar;
    static constexpr TPSValueKind kLastKind = TPSValueKind::AllocatedStackVar;
    TPSValueLocalVar() : TPSValueVar(TPSValueKind::LocalVar) {}

    std::uint32_t LocalVarNo = 0;

protected:
    using TPSValueVar::TPSValueVar;
};

class TPSValueParamVar : public TPSValueVar {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::ParamVar;
    static constexpr TPSValueKind kLastKind = TPSValueKind::ParamVar;
    TPSValueParamVar() : TPSValueVar(TPSValueKind::ParamVar) {}

    std::uint32_t ParamNo = 0;
};

// A compiler temporary: a nameless local of its procedure. Releasing it
// removes the procedure's last local and appends one Pop to its code, so
// temporaries must be released in the reverse order of their allocation.
class TPSValueAllocatedStackVar : public TPSValueLocalVar {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::AllocatedStackVar;
    static constexpr TPSValueKind kLastKind = TPSValueKind::AllocatedStackVar;
    explicit TPSValueAllocatedStackVar(TPSInternalProcedure* proc)
        : TPSValueLocalVar(TPSValueKind::AllocatedStackVar), Proc(proc) {}
    ~TPSValueAllocatedStackVar() override;

    TPSInternalProcedure* Proc;
};

class TPSValueData : public TPSValue {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::Data;
    static constexpr TPSValueKind kLastKind = TPSValueKind::Data;
    TPSValueData() : TPSValue(TPSValueKind::Data) {}

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
    static constexpr TPSValueKind kFirstKind = TPSValueKind::Replace;
    static constexpr TPSValueKind kLastKind = TPSValueKind::Replace;
    TPSValueReplace() : TPSValue(TPSValueKind::Replace) {}

    TPSValueSlot OldValue;  // owned: the free-old flag
    TPSValueSlot NewValue;  // owned: the free-new flag
    bool PreWriteAllocated = false;
    std::int32_t ReplaceTimes = 1;
};

class TPSUnValueOp : public TPSValue {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::UnOp;
    static constexpr TPSValueKind kLastKind = TPSValueKind::UnOp;
    TPSUnValueOp() : TPSValue(TPSValueKind::UnOp) {}

    std::unique_ptr<TPSValue> Val1;
    std::uint8_t Operator = 0;  // 0 not, 1 negation, 2 cast
    TPSType* aType = nullptr;
};

class TPSBinValueOp : public TPSValue {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::BinOp;
    static constexpr TPSValueKind kLastKind = TPSValueKind::BinOp;
    TPSBinValueOp() : TPSValue(TPSValueKind::BinOp) {}
    // Frees a chain of left operands one after the other, not one inside the
    // other: a line of 100,000 terms is one such chain.
    ~TPSBinValueOp() override;

    std::unique_ptr<TPSValue> Val1;
    std::unique_ptr<TPSValue> Val2;
    std::uint8_t Operator = 0;  // ExprOperator
    TPSType* aType = nullptr;
};

class TPSValueNil : public TPSValue {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::Nil;
    static constexpr TPSValueKind kLastKind = TPSValueKind::Nil;
    TPSValueNil() : TPSValue(TPSValueKind::Nil) {}
};

class TPSValueProcPtr : public TPSValue {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::ProcPtr;
    static constexpr TPSValueKind kLastKind = TPSValueKind::ProcPtr;
    TPSValueProcPtr() : TPSValue(TPSValueKind::ProcPtr) {}

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
    static constexpr TPSValueKind kFirstKind = TPSValueKind::ProcNo;
    static constexpr TPSValueKind kLastKind = TPSValueKind::ProcVal;
    std::unique_ptr<TPSValue> SelfPtr;
    TPSParameters Parameters;
    TPSType* ResultType = nullptr;

protected:
    using TPSValue::TPSValue;
};

class TPSValueProcNo : public TPSValueProc {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::ProcNo;
    static constexpr TPSValueKind kLastKind = TPSValueKind::ProcNo;
    TPSValueProcNo() : TPSValueProc(TPSValueKind::ProcNo) {}

    std::uint32_t ProcNo = 0;
};

class TPSValueProcVal : public TPSValueProc {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::ProcVal;
    static constexpr TPSValueKind kLastKind = TPSValueKind::ProcVal;
    TPSValueProcVal() : TPSValueProc(TPSValueKind::ProcVal) {}

    std::unique_ptr<TPSValue> ProcNo;  // the procedural value
};

class TPSValueArray : public TPSValue {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::Array;
    static constexpr TPSValueKind kLastKind = TPSValueKind::Array;
    TPSValueArray() : TPSValue(TPSValueKind::Array) {}

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
