#pragma once
// What a plug-in sees of its host when it is compiled: the plug-in function
// library and the variables TD, RD and RD2, declared as part of the unit
// SYSTEM (no other unit can be used), and the check of the four event
// procedures. The plug-in host compiles with these; so do the compiler's
// tests of plug-in sources.
#include <string>

#include "script/compiler/compiler.h"

namespace script::runtime {

// The event procedures a plug-in declares.
struct PluginEvents {
    bool HasOnLoad = false;
    bool HasOnSend = false;
    bool HasOnReceive = false;
    bool HasOnReceive2 = false;
};

// The OnUses answer of the plug-in host: declares the library for SYSTEM.
inline bool DeclarePluginLibrary(compiler::TPSPascalCompiler& comp, const std::string& name) {
    using namespace compiler;
    if (name != "SYSTEM") return false;
    for (const char* decl :
         {"procedure ShowMessage(const Msg: string)", "function Send(const s: string): integer",
          "function Send2(const s: string): integer", "function Lo(data: word): byte", "function Hi(data: word): byte",
          "function LoWord(data: cardinal): word", "function HiWord(data: cardinal): word",
          "function MakeWord(Lo, Hi: byte): word", "function MakeLong(Lo, Hi: word): cardinal",
          "function MsgBox(const Text: string; const Caption: string; Flags: integer): integer",
          "function Swap32(data: cardinal): cardinal", "function IntToHex(Value: Integer; Digits: Integer): string",
          "function Format(const Format: string; const Args: array of const): string"})
        comp.AddFunctionByDecl(decl);
    // X has no type, so these two are completed parameter by parameter.
    TPSRegProc* d2s = comp.AddFunction("function Data2Str(): string;");
    d2s->Decl.AddParam().SetName("X");
    TPSRegProc* s2d = comp.AddFunction("procedure Str2Data;");
    TPSParameterDecl& s = s2d->Decl.AddParam();
    s.SetName("S");
    s.AType = comp.FindType("string");
    TPSParameterDecl& x = s2d->Decl.AddParam();
    x.SetName("X");
    x.Mode = pmInOut;
    for (const char* decl :
         {"function Reverse(const s: string): string", "function Compose(const data: array of Variant): string",
          "procedure Sleep(dwMilliseconds: cardinal)", "procedure NBSleep(dwMilliseconds: cardinal)",
          "function ArrayToHex(const s: string; bInsertSpace: boolean): string", "procedure AddMsg(const s: string)",
          "procedure UpdMsg(const s: string)", "procedure AddErr(const s: string)",
          "function Random(Range: Integer): integer", "function Rnd(): double",
          "function Recv(nBytes: integer; Timeout_ms: integer; var Data: string): boolean", "procedure PurgeRx()",
          "function LoadStrFromFile(const FileName: string; var Data: string): boolean",
          "function SaveStrToFile(const FileName: string; const Data: string): boolean",
          "function GetTickCount(): cardinal", "procedure SetV(const Name: string; const Value: string)",
          "function GetV(const Name: string): string;", "procedure GraphAdd(const Value: double)",
          "procedure Play(const sound: string)"})
        comp.AddFunctionByDecl(decl);
    comp.AddUsedVariableN("TD", "string");
    comp.AddUsedVariableN("RD", "string");
    comp.AddUsedVariableN("RD2", "string");
    return true;
}

// The OnExportCheck answer of the plug-in host: an event procedure is
// recorded in events (when given) and must take no parameters and give no
// result, else the compilation fails with "Type mismatch".
inline bool CheckPluginEvent(compiler::TPSPascalCompiler& comp, compiler::TPSInternalProcedure& proc,
                             PluginEvents* events) {
    PluginEvents unused;
    if (events == nullptr) events = &unused;
    bool* flag = nullptr;
    if (proc.Name == "ONLOAD") flag = &events->HasOnLoad;
    if (proc.Name == "ONSEND") flag = &events->HasOnSend;
    if (proc.Name == "ONRECEIVE") flag = &events->HasOnReceive;
    if (proc.Name == "ONRECEIVE2") flag = &events->HasOnReceive2;
    if (flag != nullptr) {
        *flag = true;
        // Reported where the user wrote the declaration, not where the
        // compiler stands when it checks the events (the end of the text).
        if (!compiler::ExportCheck(comp, proc, {0}, {}))
            comp.MakeError({}, compiler::ecTypeMismatch, {})
                .SetCustomPos(static_cast<std::uint32_t>(proc.HeaderPos), static_cast<std::uint32_t>(proc.HeaderRow),
                              static_cast<std::uint32_t>(proc.HeaderCol));
    }
    return true;
}

}  // namespace script::runtime
