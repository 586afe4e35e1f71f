// The implicit unit "SYSTEM": the standard types, constants and functions
// that every compilation starts with.
#include "script/compiler/compiler.h"
#include "script/compiler/image_writer.h"

namespace script::compiler {

namespace {
struct PlainType {
    const char* name;
    std::uint8_t base;
};
}  // namespace

void TPSPascalCompiler::DefineStandardTypes() {
    AddType("Byte", btU8);
    booleanType_ = AddTypeS("Boolean", "(False, True)");
    static constexpr struct {
        const char* name;
        std::uint32_t high;
    } kBools[] = {{"LongBool", 0x7FFFFFFF}, {"WordBool", 65535}, {"ByteBool", 255}};
    for (const auto& b : kBools) static_cast<TPSEnumType*>(AddType(b.name, btEnum))->HighValue = b.high;
    charType_ = AddType("Char", btChar);
    static constexpr PlainType kTexts[] = {
        {"AnsiString", btString}, {"String", btString}, {"NativeString", btString}, {"AnyString", btString},
        {"ShortInt", btS8},       {"Word", btU16},      {"SmallInt", btS16},        {"LongInt", btS32},
        {"___Pointer", btPointer}, {"LongWord", btU32}};
    for (const auto& t : kTexts) {
        TPSType* type = AddType(t.name, t.base);
        if (t.base == btPointer) UseType(type);
    }
    anyStringType_ = FindType("AnyString");
    AddTypeCopyN("Integer", "LONGINT");
    AddTypeCopyN("Cardinal", "LONGWORD");
    static constexpr PlainType kRest[] = {{"tbtString", btString}, {"Int64", btS64},      {"Single", btSingle},
                                          {"Double", btDouble},    {"Extended", btExtended}, {"Currency", btCurrency},
                                          {"PChar", btPChar},      {"Variant", btVariant},
                                          {"!NotificationVariant", btNotificationVariant}};
    for (const auto& t : kRest) AddType(t.name, t.base);
    // Every standard type is always written to the image.
    for (std::size_t i = 0; i < types_.size(); ++i) UseType(types_[i].get());
    auto* variants = static_cast<TPSArrayType*>(AddType("TVariantArray", btArray));
    variants->ArrayTypeNo = FindType("VARIANT");

    AddFunction("function Assigned(I: Longint): Boolean;")->SetName("!ASSIGNED");
    AddFunction("procedure _T(Name: tbtString; v: Variant);")->SetName("!NOTIFICATIONVARIANTSET");
    AddFunction("function _T(Name: tbtString): Variant;")->SetName("!NOTIFICATIONVARIANTGET");
}

void TPSPascalCompiler::DefineStandardProcedures() {
    auto untyped = [](TPSRegProc* proc, const char* name, std::uint8_t mode) {
        TPSParameterDecl& p = proc->Decl.AddParam();
        p.SetName(name);
        p.Mode = mode;
        proc->ImportDecl = MakeProcSignature(proc->Decl);
        return &p;
    };
    for (const char* text :
         {"function IntToStr(i: Int64): String;", "function StrToInt(s: String): Longint;",
          "function StrToIntDef(s: String; def: Longint): Longint;",
          "function Copy(s: AnyString; iFrom, iCount: Longint): AnyString;",
          "function Pos(SubStr, S: AnyString): Longint;", "procedure Delete(var s: AnyString; ifrom, icount: Longint);",
          "procedure Insert(s: AnyString; var s2: AnyString; iPos: Longint);"})
        AddFunction(text);
    untyped(AddFunction("function GetArrayLength: integer;"), "arr", pmInOut);
    // An untyped var parameter followed by a Longint count.
    auto withCount = [&](const char* header, const char* first, const char* count) {
        TPSRegProc* p = AddFunction(header);
        untyped(p, first, pmInOut);
        untyped(p, count, pmIn)->AType = BuiltinType(btS32);
        p->ImportDecl = MakeProcSignature(p->Decl);
    };
    withCount("procedure SetArrayLength;", "arr", "count");
    for (const char* text : {"Function StrGet(var S : String; I : Integer) : Char;",
                             "Function StrGet2(S : String; I : Integer) : Char;",
                             "procedure StrSet(c : Char; I : Integer; var s : String);"})
        AddFunction(text);
    AddFunctionByDecl("Function VarArrayGet(var S : Variant; I : Integer) : Variant;");
    AddFunctionByDecl("procedure VarArraySet(c : Variant; I : Integer; var s : Variant);");
    for (const char* text :
         {"Function AnsiUppercase(s : String) : String;", "Function AnsiLowercase(s : String) : String;",
          "Function Uppercase(s : AnyString) : AnyString;", "Function Lowercase(s : AnyString) : AnyString;",
          "Function Trim(s : AnyString) : AnyString;"})
        AddFunction(text);
    untyped(AddFunction("function Length: Integer;"), "s", pmIn);
    withCount("procedure SetLength;", "s", "NewLength");
    untyped(AddFunction("function Low: Int64;"), "x", pmIn);
    untyped(AddFunction("function High: Int64;"), "x", pmIn);
    untyped(AddFunction("procedure Dec;"), "x", pmInOut);
    untyped(AddFunction("procedure Inc;"), "x", pmInOut);
    for (const char* text :
         {"Function Sin(e : Extended) : Extended;", "Function Cos(e : Extended) : Extended;",
          "Function Sqrt(e : Extended) : Extended;", "Function Round(e : Extended) : Longint;",
          "Function Trunc(e : Extended) : Longint;", "Function Int(e : Extended) : Extended;",
          "Function Pi : Extended;", "Function Abs(e : Extended) : Extended;",
          "function StrToFloat(s: String): Extended;", "Function FloatToStr(e : Extended) : String;",
          "Function Padl(s : AnyString;I : longInt) : AnyString;", "Function Padr(s : AnyString;I : longInt) : AnyString;",
          "Function Padz(s : AnyString;I : longInt) : AnyString;", "Function Replicate(c : char;I : longInt) : String;",
          "Function StringOfChar(c : char;I : longInt) : String;"})
        AddFunction(text);

    AddTypeS("TVarType", "Word")->ExportName = true;
    static constexpr struct {
        const char* name;
        std::uint16_t value;
    } kVarTypes[] = {{"varEmpty", 0},     {"varNull", 1},      {"varSmallInt", 2},  {"varInteger", 3},
                     {"varSingle", 4},    {"varDouble", 5},    {"varCurrency", 6},  {"varDate", 7},
                     {"varOleStr", 8},    {"varDispatch", 9},  {"varError", 10},    {"varBoolean", 11},
                     {"varVariant", 12},  {"varUnknown", 13},  {"varShortInt", 16}, {"varByte", 17},
                     {"varWord", 18},     {"varLongWord", 19}, {"varInt64", 20},    {"varStrArg", 72},
                     {"varAny", 257},     {"varString", 256},  {"varTypeMask", 4095}, {"varArray", 8192},
                     {"varByRef", 16384}};
    for (const auto& c : kVarTypes) AddConstantN(c.name, "Word")->Value->tu16 = c.value;
    for (const char* text : {"function Unassigned: Variant;", "function VarIsEmpty(const V: Variant): Boolean;",
                             "function Null: Variant;", "function VarIsNull(const V: Variant): Boolean;",
                             "function VarType(const V: Variant): TVarType;"})
        AddFunctionByDecl(text);

    AddTypeS("TIFException",
             "(ErNoError, erCannotImport, erInvalidType, ErInternalError, erInvalidHeader, erInvalidOpcode, "
             "erInvalidOpcodeParameter, erNoMainProc, erOutOfGlobalVarsRange, erOutOfProcRange, ErOutOfRange, "
             "erOutOfStackRange, ErTypeMismatch, erUnexpectedEof, erVersionError, ErDivideByZero, ErMathError,"
             "erCouldNotCallProc, erOutofRecordRange, erOutOfMemory, erException, erNullPointerException, "
             "erNullVariantError, erInterfaceNotSupported, erCustomError)");
    for (const char* text :
         {"procedure RaiseLastException;", "procedure RaiseException(Ex: TIFException; Param: String);",
          "function ExceptionType: TIFException;", "function ExceptionParam: String;",
          "function ExceptionProc: Cardinal;", "function ExceptionPos: Cardinal;",
          "function ExceptionToString(er: TIFException; Param: String): String;",
          "function StrToInt64(s: String): int64;", "function Int64ToStr(i: Int64): String;"})
        AddFunction(text);
    untyped(AddFunction("function SizeOf: Longint;"), "Data", pmIn);

    TPSInterface* unknown = AddInterface(nullptr, "{00000000-0000-0000-C000-000000000046}", "IUnknown");
    unknown->MethodCount = 3;
    AddInterface(nullptr, "{00000000-0000-0000-C000-000000000046}", "IInterface")->MethodCount = 3;
    TPSInterface* dispatch = AddInterface(unknown, "{00020400-0000-0000-C000-000000000046}", "IDispatch");
    dispatch->MethodCount = 4;
    dispatch->AType->ExportName = true;
    AddFunctionByDecl(
        "function IDispatchInvoke(Self: IDispatch; PropertySet: Boolean; const Name: String; Par: array of variant): "
        "variant;");
}

}  // namespace script::compiler
