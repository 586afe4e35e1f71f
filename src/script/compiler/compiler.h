#pragma once
// The script compiler as the host sees it: one object that compiles a
// preprocessed script into the image the runtime loads. The host installs its
// callbacks, declares its own functions, types and variables from OnUses, runs
// Compile, and then reads the messages or takes the image.
//
// Internally the compiler is a one-pass recursive-descent compiler; its parts
// live in separate files by concern (declarations, constant expressions,
// expressions and operands, calls, statements) but share this object's state.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/compiler/data_model.h"
#include "script/compiler/list_index.h"
#include "script/compiler/messages.h"
#include "script/compiler/tokenizer.h"

namespace script::compiler {

class TPSPascalCompiler;
enum class TOpLevel : std::uint8_t;

class TPSInterface;

// One method of an interface declared in a script; calls of it go through an
// access procedure whose import text names the method's slot.
class TPSInterfaceMethod {
public:
    TPSInterface* Intf = nullptr;
    std::string Name;     // upper case
    std::string OrgName;  // as written
    std::uint32_t NameHash = 0;
    std::uint8_t CC = 0;  // 0 register, 1 pascal, 2 cdecl, 3 stdcall, 4 safecall
    std::int32_t AProcNo = -1;
    std::uint32_t MethodNo = 0;  // the inherited interfaces' methods come first
    TPSParametersDecl Decl;
};

// An interface type's model. This system's host registers no interfaces of its
// own; the standard ones exist so that scripts can name them, and scripts may
// declare interfaces of their own.
class TPSInterface {
public:
    TPSInterfaceType* AType = nullptr;
    TPSInterface* InheritedFrom = nullptr;
    std::string Name;  // upper case
    std::uint32_t NameHash = 0;
    std::uint32_t MethodCount = 0;  // placeholder methods of the standard interfaces
    std::vector<std::unique_ptr<TPSInterfaceMethod>> Methods;

    // All methods, the inherited ones included (the next method's number).
    std::uint32_t TotalMethodCount() const;
    // By upper-case name, through this interface and then those it inherits.
    TPSInterfaceMethod* FindMethod(std::string_view upper) const;
    // A value of the given interface is assignable to this one: it is this
    // interface or inherits from it.
    bool AcceptsValueOf(const TPSInterface* value) const;
};

// Access modes of a class property.
inline constexpr std::uint8_t pamReadWrite = 0;
inline constexpr std::uint8_t pamReadOnly = 1;
inline constexpr std::uint8_t pamWriteOnly = 2;

// A constructor is reached through the class itself (TFoo.Create(...)); its
// access procedure gets the class's type number in place of an object.
enum class TPSClassMemberKind : std::uint8_t { Method, Property, Constructor };

// One member of a host class. A method's declaration is its header; a
// property's has the property's type as result and its index parameters (none
// for a plain property) as parameters.
class TPSClassMember {
public:
    TPSCompileTimeClass* Class = nullptr;  // the class that declares it
    std::string Name;     // upper case
    std::string OrgName;  // as registered
    std::uint32_t NameHash = 0;
    TPSParametersDecl Decl;
    TPSClassMemberKind Kind = TPSClassMemberKind::Method;
    std::uint8_t AccessMode = pamReadWrite;  // properties only
    std::int32_t ProcNo = -1;                // the method's, or the property read's, access procedure
    std::int32_t WriteProcNo = -1;           // the property write's access procedure
};

// A host class's model: its members, its ancestor and the access procedures
// made for it. This system's host registers no class; a host that does calls
// TPSPascalCompiler::AddClass from OnUses and registers the members on the
// answer. Every use of a member compiles into a call of an access procedure
// whose import text names the member; the runtime's class import binds them.
class TPSCompileTimeClass {
public:
    TPSCompileTimeClass(TPSPascalCompiler& owner, TPSCompileTimeClass* parent, TPSClassType* type)
        : Owner(&owner), ClassInheritsFrom(parent), AType(type) {}
    TPSCompileTimeClass(const TPSCompileTimeClass&) = delete;
    TPSCompileTimeClass& operator=(const TPSCompileTimeClass&) = delete;

    // By upper-case name: this class's members from the last registered to
    // the first, then each ancestor's. An empty name finds the default
    // indexed property of the nearest class that has one.
    TPSClassMember* FindMember(std::string_view upper) const;
    // The type is a class type whose model is this class or descends from it.
    bool IsCompatibleWith(const TPSType* type) const;

    // Registration (from OnUses; misuse raises EPSCompilerException).
    // A method header: "procedure Name(parameters)", "function Name(...): T"
    // or "constructor Name(parameters)" (which returns an object).
    TPSClassMember* RegisterMethod(const std::string& declaration);
    // types: the property's type name, then the type names of its index
    // parameters, separated by spaces ("String Integer" for s := Items[i]).
    TPSClassMember* RegisterProperty(const std::string& name, const std::string& types, std::uint8_t mode);
    // Makes an indexed property of this class the default one (obj[i]).
    void SetDefaultProperty(const std::string& name);

    TPSPascalCompiler* Owner;
    TPSCompileTimeClass* ClassInheritsFrom;
    TPSClassType* AType;
    std::vector<std::unique_ptr<TPSClassMember>> Members;
    std::int32_t DefaultProperty = -1;  // index into Members
    std::int32_t CastProcNo = -1;
    std::int32_t NilProcNo = -1;

private:
    TPSClassMember& AddMember(std::string_view name);
};

// A class that scripts may name before the host imports it. Its members are
// not known at compile time: every access is a call of one host function
// with the object, whether the access writes, the member name as written and
// the arguments as one array; that function's declaration gives the types.
// Before the image is written the host names the imported class it stands
// for (ImportedAs); a class left unimported cannot be written.
class TPSUndefinedClass {
public:
    TPSUndefinedClassType* AType = nullptr;
    TPSRegProc* MemberCall = nullptr;  // (Self; IsWrite: Boolean; Name: String; Args: array): result
    TPSRegProc* NilProc = nullptr;     // optional: procedure(var Self)
    TPSRegProc* CastProc = nullptr;    // optional: function(Value): this class
    TPSRegProc* CompareProc = nullptr; // optional: function(A, B): Boolean, true when equal
    TPSCompileTimeClass* ImportedAs = nullptr;
};

// The model of a class type (links followed); none for any other type and
// for a bare class type without one.
inline TPSCompileTimeClass* ClassModelOf(const TPSType* type) {
    const auto* c = As<TPSClassType>(ResolveTypeLink(type));
    return c != nullptr ? c->Cl : nullptr;
}

// The text "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" as the image keeps a GUID.
bool ParseGuid(const std::string& text, std::uint32_t out[4]);

// Accepts an internal procedure when its result and parameters have the given
// base codes (result first, 0 for none) and modes (0 by value, 1 out, 2 var).
bool ExportCheck(TPSPascalCompiler& compiler, TPSInternalProcedure& proc,
                 const std::vector<std::uint8_t>& types, const std::vector<std::uint8_t>& modes);

class TPSPascalCompiler {
public:
    using TPSOnUses = std::function<bool(TPSPascalCompiler&, const std::string& name)>;
    using TPSOnExportCheck =
        std::function<bool(TPSPascalCompiler&, TPSInternalProcedure&, const std::string& decl)>;
    using TPSOnExternalProc = std::function<TPSRegProc*(TPSPascalCompiler&, TPSParametersDecl& decl,
                                                        const std::string& name, const std::string& text)>;
    using TPSOnTranslateLineInfo = std::function<void(TPSPascalCompiler&, std::uint32_t& pos,
                                                      std::uint32_t& row, std::uint32_t& col,
                                                      std::string& module)>;
    using TPSOnUseVariable = std::function<void(TPSPascalCompiler&, std::uint32_t proc_no,
                                                std::uint32_t var_no, std::int32_t pos)>;

    TPSPascalCompiler();
    ~TPSPascalCompiler();
    TPSPascalCompiler(const TPSPascalCompiler&) = delete;
    TPSPascalCompiler& operator=(const TPSPascalCompiler&) = delete;

    bool Compile(std::string_view text);
    bool GetOutput(std::string& image) const;
    // Debug data: the image's name list, then one record per statement
    // position ('P', u32 procedure, u32 code offset, u32 source position,
    // u32 row, u32 column, file name, 0) and per procedure body ('N', u32
    // procedure, its result, parameter and local names each ended by 1, 0).
    // Positions are translated through OnTranslateLineInfo when it is set.
    const std::string& DebugText() const { return debug_; }

    std::size_t GetMsgCount() const { return messages_.size(); }
    TPSPascalCompilerMessage& GetMsg(std::size_t index) const { return *messages_.at(index); }
    TPSPascalCompilerMessage& MakeError(const std::string& module, std::uint8_t code, const std::string& param);
    TPSPascalCompilerMessage& MakeWarning(const std::string& module, std::uint8_t code, const std::string& param);
    TPSPascalCompilerMessage& MakeHint(const std::string& module, std::uint8_t code, const std::string& param);

    // Registration; only from OnUses (else EPSCompilerException).
    TPSRegProc* AddFunction(const std::string& header);
    TPSRegProc* AddFunctionByDecl(const std::string& header);
    TPSType* AddTypeS(const std::string& name, const std::string& decl);
    TPSType* AddType(const std::string& name, std::uint8_t base_type);
    TPSType* AddTypeCopy(const std::string& name, TPSType* type);
    TPSType* AddTypeCopyN(const std::string& name, const std::string& type_name);
    TPSType* FindType(std::string_view name) const;
    TPSConstant* AddConstant(const std::string& name, TPSType* type);
    TPSConstant* AddConstantN(const std::string& name, const std::string& type_name);
    TPSVar* AddVariable(const std::string& name, TPSType* type);
    TPSVar* AddVariableN(const std::string& name, const std::string& type_name);
    TPSVar* AddUsedVariable(const std::string& name, TPSType* type);
    TPSVar* AddUsedVariableN(const std::string& name, const std::string& type_name);
    TPSInterface* AddInterface(TPSInterface* parent, const std::string& guid, const std::string& name);
    // An attribute type that scripts may name in attribute lists; the host
    // adds its fields (and hooks) to the answer.
    TPSAttributeType* AddAttributeType(const std::string& name);
    TPSInterface* FindInterface(const std::string& name);
    // A host class with its ancestor's model (or none); its type is named by
    // the class name. Registering a name again gives the same model.
    TPSCompileTimeClass* AddClass(TPSCompileTimeClass* parent, const std::string& name);
    // The model of a registered class; none when there is no such class.
    TPSCompileTimeClass* FindClass(std::string_view name) const;
    // A class named before its import; member_call is a registered function
    // taking the four arguments of a member access (see TPSUndefinedClass).
    TPSUndefinedClass* AddUndefinedClass(const std::string& name, TPSRegProc* member_call);
    // Parses a method header ("function Name(parameters): Type") into a method
    // of the interface with the calling convention. The method is appended
    // even when its text cannot be parsed; the answer then is false.
    bool AddInterfaceMethod(TPSInterface* intf, const std::string& declaration, std::uint8_t cc);

    // Settings and callbacks.
    void* Tag = nullptr;
    bool AllowEndWithoutBegin = false;
    bool AllowNoMainBlock = false;
    bool AllowUnitHeader = false;
    TPSOnUses OnUses;
    TPSOnExportCheck OnExportCheck;
    TPSOnExternalProc OnExternalProc;
    TPSOnTranslateLineInfo OnTranslateLineInfo;
    TPSOnUseVariable OnUseVariable;

    // Limits that keep deep input from exhausting the stack.
    static constexpr int kMaxExpressionDepth = 200;
    static constexpr int kMaxBlockDepth = 200;
    static constexpr int kMaxTreeDepth = 2000;

    // The parts of the compiler share the state below; it is public to them
    // through these accessors only.
    TPSPascalParser& Parser() { return *cur_; }

private:
    friend class CompilerAccess;
    friend class TPSCompileTimeClass;
    friend bool ExportCheck(TPSPascalCompiler&, TPSInternalProcedure&, const std::vector<std::uint8_t>&,
                            const std::vector<std::uint8_t>&);

    // ------------------------------------------------------------ driver
    void CleanUp();
    void FreeWorkingLists();
    bool DoCompile(std::string_view text);
    void DefineStandardTypes();
    void DefineStandardProcedures();
    void CheckCompiling() const;
    bool CheckForwards();
    bool RunExportChecks();
    void HintUnusedGlobals();
    bool MakeOutput();
    void OnLexError(TPSPascalParser& parser, TPSLexErrorKind kind);
    TPSPascalCompilerMessage& AddMessage(std::unique_ptr<TPSPascalCompilerMessage> msg, const std::string& module);
    // Errors of registration texts are not messages; this silences them.
    bool quiet_ = false;
    int quietErrors_ = 0;
    TPSPascalCompilerMessage* Error(std::uint8_t code, const std::string& param = {});
    TPSPascalCompilerMessage* ErrorAt(const TPSValue* at, std::uint8_t code, const std::string& param = {});

    // ------------------------------------------------------------ lookups (compiler_lookup.cpp)
    // Host code runs inside a HostScope: every call of a host callback, and
    // the standard unit's registrations.
    class HostScope {
    public:
        explicit HostScope(TPSPascalCompiler& compiler);
        ~HostScope();
        HostScope(const HostScope&) = delete;
        HostScope& operator=(const HostScope&) = delete;

    private:
        TPSPascalCompiler& compiler_;
    };
    void ResetIndexes();
    // The positions to examine for a key (see TPSCandidates).
    TPSCandidates TypesNamed(std::uint32_t hash) const;
    TPSCandidates TypesOfBase(std::uint8_t base) const;
    TPSCandidates ArraysOf(const TPSType* element) const;
    TPSCandidates ProcsNamed(std::uint32_t hash) const;
    TPSCandidates ProcsOf(const TPSRegProc* reg) const;
    TPSCandidates RegProcsNamed(std::uint32_t hash) const;
    TPSCandidates VarsNamed(std::uint32_t hash) const;
    TPSCandidates ConstsNamed(std::uint32_t hash) const;

    TPSType* BuiltinType(std::uint8_t base);
    TPSType* StringType() { return BuiltinType(btString); }
    // The type of type-reference constants (TFoo as a value).
    TPSType* TypeRefType();
    TPSType* FindNamedType(std::string_view upper) const;
    TPSType* FindDynamicArrayOf(const TPSType* element) const;
    TPSRegProc* FindRegProc(std::string_view upper) const;
    std::int32_t ProcNumberOfRegProc(TPSRegProc* reg);
    std::int32_t FindProcNumber(std::string_view upper);
    // The script procedure of that name declared forward and not yet given
    // its body.
    TPSInternalProcedure* FindForward(const std::string& upper, std::uint32_t& proc_no);
    // The first global variable of that name, or -1.
    std::int32_t FindGlobalVar(std::uint32_t hash, std::string_view upper) const;
    // The first (or the most recent) constant of that name.
    TPSConstant* FindConstant(std::uint32_t hash, std::string_view upper, bool latest) const;
    enum : std::uint8_t { dcTypes = 1, dcProcs = 2, dcVars = 4, dcConsts = 8 };
    bool IsDuplicate(std::string_view upper, std::uint8_t classes, const TPSInternalProcedure* proc = nullptr,
                     bool params_only = false) const;

    // ------------------------------------------------------------ registration helpers
    TPSType* AddNamedType(std::unique_ptr<TPSType> type, std::string_view name);
    TPSRegProc* AddFunctionDecl(const std::string& header, bool full);
    bool ParseRegistrationHeader(TPSRegProc& proc, const std::string& text);
    TPSType* OpenArrayType(TPSType* element);
    TPSVar* AddVariableImpl(const std::string& name, TPSType* type, bool used);
    void UseType(TPSType* type) { numbering_.UseType(type); }
    bool IsBooleanType(const TPSType* type) const;

    // ------------------------------------------------------------ declarations
    // Requires the current token, reports the error code otherwise, and
    // moves past it.
    bool Expect(TPSTokenId token, std::uint8_t code);
    bool ProcessUses();
    bool ProcessTypeSection();
    bool ProcessConstSection();
    bool ProcessVarSection(TPSInternalProcedure* proc);
    bool ProcessLabelSection(TPSInternalProcedure* proc);
    bool ProcessProcedure(TPSAttributes& attributes);
    bool ReadParameterList(TPSParametersDecl& decl, std::string_view own_name, bool function, bool for_type);
    TPSType* ReadType(std::string_view new_name);
    TPSType* ReadTypeName();
    bool ReadAttributes(TPSAttributes& attributes);
    TPSAttributeType* FindAttributeType(std::string_view upper) const;
    // Runs the hooks of the attributes attached to a type or a procedure.
    bool ApplyAttributes(TPSType& type);
    bool ApplyAttributes(TPSProcedure& proc);
    bool ResolveLabels(TPSInternalProcedure& proc);
    void HintUnusedLocals(TPSInternalProcedure& proc);

    // ------------------------------------------------------------ interfaces
    TPSType* ReadInterfaceType(std::string_view new_name);
    bool ReadInterfaceMethod(TPSInterface& intf);
    bool ReadInterfaceMember(std::unique_ptr<TPSValue>& v, bool& changed);
    std::int32_t InterfaceMethodProc(TPSInterfaceMethod& method);

    // ------------------------------------------------------------ classes
    std::int32_t ClassMemberProc(TPSClassMember& member, bool write);
    std::int32_t ClassCastProc(TPSCompileTimeClass& cls);
    std::int32_t ClassNilProc(TPSCompileTimeClass& cls);
    bool ReadClassMember(std::unique_ptr<TPSValue>& v, bool implied, bool& changed);
    bool ReadDefaultProperty(std::unique_ptr<TPSValue>& v, bool& changed);
    bool ReadMemberAccess(std::unique_ptr<TPSValue>& v, TPSClassMember& member);
    // TFoo.Name: a constructor of the class, the name still current.
    std::unique_ptr<TPSValue> ReadClassConstructor(TPSType* type);
    // A checked conversion of a class or interface value to a class type
    // that has a model; none (and no message) when the target has none.
    std::unique_ptr<TPSValue> MakeClassCast(TPSType* target, std::unique_ptr<TPSValue>& operand);
    bool WriteClassNil(TPSValueAllocatedStackVar& temp, TPSCompileTimeClass& cls);
    bool WriteUndefinedClassNil(const TPSValue* at, TPSValueAllocatedStackVar& temp);
    bool WriteNilCall(TPSValueAllocatedStackVar& temp, std::uint32_t proc_no);
    // "=" and "<>" with such a class on the left: a call of its comparison
    // function, when it has one (handled is then set).
    bool WriteExternalClassCompare(TPSBinValueOp& node, std::unique_ptr<TPSValue>& dest, bool& handled);
    bool ReadExternalClassMember(std::unique_ptr<TPSValue>& v, bool& changed);
    std::unique_ptr<TPSValue> ReadExternalClassCast(TPSUndefinedClassType& type);
    bool MakeLateBoundCall(std::unique_ptr<TPSValue>& v, std::uint32_t proc_no, TPSType* result,
                           const std::string& member, bool brackets);
    // A call of a registered function with the given arguments by value.
    std::unique_ptr<TPSValueProcNo> MakeHostCall(TPSRegProc& reg, TPSType* result);

    // ------------------------------------------------------------ constant expressions
    std::unique_ptr<TPSConstValue> ReadConstant();

    // ------------------------------------------------------------ expressions
    std::unique_ptr<TPSValue> ReadExpression();
    std::unique_ptr<TPSValue> ReadRelation();
    std::unique_ptr<TPSValue> ReadSimpleExpression();
    std::unique_ptr<TPSValue> ReadTerm();
    std::unique_ptr<TPSValue> ReadFactor();
    std::unique_ptr<TPSValue> ReadLevel(TOpLevel level);
    std::unique_ptr<TPSValue> ReadIdentifier(int mode);
    std::unique_ptr<TPSValue> ReadConstructor();
    std::unique_ptr<TPSValue> ReadTypeReference(TPSType* type);
    std::unique_ptr<TPSValue> ReadBuiltinOperand();
    std::unique_ptr<TPSValue> ReadCharOrdCall(bool ord);
    std::unique_ptr<TPSValue> ReadSuccPred(bool succ);
    std::unique_ptr<TPSValue> ReadAssigned();
    std::unique_ptr<TPSValue> MakeBinary(std::unique_ptr<TPSValue> left, std::unique_ptr<TPSValue> right,
                                         std::uint8_t op, std::int32_t pos, std::int32_t row, std::int32_t col);
    bool ReadPostfix(std::unique_ptr<TPSValue>& v);
    bool ReadSubscripts(std::unique_ptr<TPSValue>& v, bool implied, bool& changed);
    bool CheckProcVarCall(std::unique_ptr<TPSValue>& v, bool& changed);
    bool ReadVariantMember(std::unique_ptr<TPSValue>& v, bool& changed);
    void ReplaceNotificationVariant(std::unique_ptr<TPSValue>& v);
    std::unique_ptr<TPSValueData> ReadLiteral();
    std::unique_ptr<TPSConstValue> ReadInteger(const std::string& text);
    std::unique_ptr<TPSConstValue> ReadReal(const std::string& text);
    std::unique_ptr<TPSConstValue> ReadString();
    TPSType* GetTypeOf(const TPSValue* v) const;
    TPSType* GetBinOpType(TPSValue* left, TPSValue* right, std::uint8_t op);
    bool FoldConstants(std::unique_ptr<TPSValue>& v);
    bool FoldBinary(TPSConstValue& left, const TPSConstValue& right, std::uint8_t op);
    bool IsCompatibleValue(const TPSValue* dest, const TPSValue* src) const;

    // ------------------------------------------------------------ operands and code
    std::string& Code() { return block_->Code(); }
    std::unique_ptr<TPSValueAllocatedStackVar> AllocStackVar(TPSType* type);
    std::unique_ptr<TPSValueAllocatedStackVar> AllocTempVar(TPSType* type);
    std::unique_ptr<TPSValueAllocatedStackVar> AllocPointerVar(TPSType* element);
    std::uint32_t GetVarAddress(const TPSValue* v) const;
    bool PreWriteOperand(std::unique_ptr<TPSValue>& v, TPSType* expected);
    bool WriteOperand(const TPSValue* v, bool allow_const);
    void AfterWriteOperand(std::unique_ptr<TPSValue>& v);
    bool WriteNil(const TPSValue* at, TPSValueAllocatedStackVar& temp);
    bool WriteUnOp(TPSUnValueOp& node, std::unique_ptr<TPSValue>& dest);
    bool WriteBinOp(TPSBinValueOp& node, std::unique_ptr<TPSValue>& dest);
    bool WriteCalculation(std::unique_ptr<TPSValue>& dest, std::unique_ptr<TPSValue>& src);
    bool PrepareArrayConstructor(std::unique_ptr<TPSValue>& v, TPSType* expected);
    bool ArrayToSetConstant(std::unique_ptr<TPSValue>& v, TPSType* set_type);
    bool WriteTempFrom(std::unique_ptr<TPSValueAllocatedStackVar>& temp, std::unique_ptr<TPSValue>& src);

    // ------------------------------------------------------------ calls
    std::unique_ptr<TPSValue> MakeProcCall(std::uint32_t proc_no);
    std::unique_ptr<TPSValue> MakeProcVarCall(std::unique_ptr<TPSValue> proc_value);
    const TPSParametersDecl* ProcDecl(std::uint32_t proc_no) const;
    bool ReadParameters(bool square, TPSParameters& params);
    bool ValidateParameters(TPSParameters& params, const TPSParametersDecl& decl);
    bool WriteCall(TPSValueProc& call, std::unique_ptr<TPSValue>* dest);
    std::unique_ptr<TPSValueProcNo> MakeCallOf(std::uint32_t proc_no, TPSType* result);

    // ------------------------------------------------------------ statements
    bool ProcessStatements(TPSBlockInfo& block);
    void WriteLineInfo();
    void WriteProcDebugRecord(const TPSInternalProcedure& proc, std::uint32_t proc_no);
    bool ProcessBlock(std::uint8_t kind);
    bool ProcessAssignOrCall();
    bool ProcessLabelOrStatement(bool& handled, bool& label);
    bool ProcessIf();
    bool ProcessWhile();
    bool ProcessRepeat();
    bool ProcessFor();
    bool ProcessCase();
    bool ProcessGoto();
    bool ProcessWith();
    bool ProcessTry();
    bool CheckInvalidJumps(std::uint32_t start, std::uint32_t end);
    bool CompileProcBody(TPSInternalProcedure& proc, std::uint32_t proc_no, std::uint8_t kind);
    void EmitJumpTo(std::uint8_t opcode, std::uint32_t target);
    std::uint32_t EmitJumpForward(std::uint8_t opcode);
    void PatchHere(std::uint32_t field_pos);
    bool WriteCondJump(std::uint8_t opcode, std::unique_ptr<TPSValueAllocatedStackVar>& flag,
                       std::uint32_t& field_pos);

    struct LoopContext {
        bool Active = false;
        std::vector<std::uint32_t> Breaks;     // placeholder positions
        std::vector<std::uint32_t> Continues;
        int Pushed = 0;
        int TryDepth = 0;
        int HandlerDepth = 0;
    };

    // ------------------------------------------------------------ state
    std::unique_ptr<TPSPascalParser> parser_;
    TPSPascalParser* cur_ = nullptr;
    std::vector<std::unique_ptr<TPSPascalCompilerMessage>> messages_;
    bool lexError_ = false;
    bool compiling_ = false;
    std::string output_;
    std::string debug_;
    std::string debugRecords_;

    TPSTypeList types_;
    TPSProcedureList procs_;
    TPSVarList vars_;
    std::vector<std::unique_ptr<TPSConstant>> consts_;
    std::vector<std::unique_ptr<TPSRegProc>> regProcs_;
    std::vector<std::unique_ptr<TPSInterface>> interfaces_;
    std::vector<std::unique_ptr<TPSCompileTimeClass>> classes_;
    std::vector<std::unique_ptr<TPSUndefinedClass>> undefinedClasses_;
    std::vector<std::unique_ptr<TPSAttributeType>> attributeTypes_;
    std::vector<std::string> units_;
    TPSTypeNumbering numbering_;
    TPSType* booleanType_ = nullptr;
    TPSType* anyStringType_ = nullptr;
    TPSType* charType_ = nullptr;

    struct ListIndexes {
        TPSListIndex<std::uint32_t> TypesByName;
        TPSListIndex<std::uint32_t> TypesByBase;
        TPSListIndex<const TPSType*> ArraysByElement;
        TPSListIndex<std::uint32_t> ProcsByName;
        TPSListIndex<const TPSRegProc*> ProcsByRegProc;
        TPSListIndex<std::uint32_t> RegProcsByName;
        TPSListIndex<std::uint32_t> VarsByName;
        TPSListIndex<std::uint32_t> ConstsByName;
    };
    // Caches over the lists above, brought up to date by the lookups.
    mutable ListIndexes index_;
    // The built-in type of each base code once found (the first plain type
    // of that base stays the first: types are only appended).
    std::array<TPSType*, 256> builtinTypes_{};
    int hostDepth_ = 0;

    TPSBlockInfo* block_ = nullptr;
    LoopContext loop_;
    int exprDepth_ = 0;
    bool resultUsed_ = false;
    int blockDepth_ = 0;
};

}  // namespace script::compiler
