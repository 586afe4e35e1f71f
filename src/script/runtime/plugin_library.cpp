#include "script/runtime/plugin_library.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/file_writes.h"
#include "platform/rtl/format.h"
#include "platform/rtl/name_escapes.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/str_proc.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/file_text.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/regular_file.h"
#include "platform/win/message_window.h"
#include "platform/win/timers.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/my_script.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

std::int32_t ReplyCount(const std::string& reply) { return rtl::StrToIntDef(reply, 0); }

// One of Format's arguments from the script's "array of const"; texts keeps
// the strings that the argument refers to.
rtl::TVarRec FormatArg(const TPSVarRec& r, std::vector<std::string>& texts) {
    switch (r.VType) {
        case vtInteger: return rtl::TVarRec(static_cast<int>(r.VInteger));
        case vtChar: return rtl::TVarRec(r.VChar);
        case vtExtended: return rtl::TVarRec(r.VExtended);
        case vtAnsiString:
        case vtPChar: return rtl::TVarRec(std::string_view(r.VString));
        case vtInt64: return rtl::TVarRec(static_cast<long long>(r.VInt64));
        case vtObject: return rtl::TVarRec(static_cast<const void*>(r.VObject));
        case vtInterface: return rtl::TVarRec(static_cast<const void*>(r.VInterface));
        case vtVariant:
            switch (r.VVariant.VType()) {
                case varShortInt: case varByte: case varSmallInt: case varWord: case varInteger:
                    return rtl::TVarRec(static_cast<int>(r.VVariant.ToInt32()));
                case varLongWord: case varInt64: return rtl::TVarRec(static_cast<long long>(r.VVariant.ToInt64()));
                case varSingle: case varDouble: case varCurrency: case varDate:
                    return rtl::TVarRec(r.VVariant.ToReal());
                case varBoolean: return rtl::TVarRec(r.VVariant.ToBoolean());
                default:
                    texts.push_back(r.VVariant.ToString());
                    return rtl::TVarRec(std::string_view(texts.back()));
            }
        default: return rtl::TVarRec(static_cast<const void*>(nullptr));
    }
}

std::string FormatRoutine(const std::string& format, const PSOpenArray<TPSVarRec>& args) {
    std::vector<std::string> texts;
    texts.reserve(args.Items.size());  // the views below point into it
    std::vector<rtl::TVarRec> list;
    for (const TPSVarRec& r : args.Items) list.push_back(FormatArg(r, texts));
    return rtl::Format(format, std::span<const rtl::TVarRec>(list));
}

void AppendLittleEndian(std::string& out, std::uint64_t v, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
}

std::string Compose(const PSOpenArray<Variant>& data) {
    std::string out;
    for (const Variant& v : data.Items) {
        switch (v.VType()) {
            case varShortInt: case varByte: AppendLittleEndian(out, v.IntegerPayload(), 1); break;
            case varSmallInt: case varWord: AppendLittleEndian(out, v.IntegerPayload(), 2); break;
            case varInteger: case varLongWord: AppendLittleEndian(out, v.IntegerPayload(), 4); break;
            case varInt64: AppendLittleEndian(out, v.IntegerPayload(), 8); break;
            case varSingle: {
                const float f = static_cast<float>(v.FloatPayload());
                out.append(reinterpret_cast<const char*>(&f), sizeof f);
                break;
            }
            case varDouble: {
                const double d = v.FloatPayload();
                out.append(reinterpret_cast<const char*>(&d), sizeof d);
                break;
            }
            case varString: out += v.ToString(); break;
            default: return {};
        }
    }
    return out;
}

// Data2Str(X): the bytes of X as a string.
bool Data2Str(TPSExec& exec, TPSExternalProcRec& proc, TPSStack&, TPSStack& stack) {
    std::vector<THostParam> params;
    THostParam result;
    bool has_result = false;
    if (!TakeHostParams(exec, stack, proc.Decl, 0, params, result, has_result)) return false;
    if (!has_result || params.size() != 1 || params[0].Data == nullptr || result.Data == nullptr) return false;
    const std::uint32_t size = PluginDataSize(params[0].Type);
    if (size == 0) return false;
    bool ok = true;
    PSWriteString(result.Data, result.Type, ok, std::string(static_cast<const char*>(params[0].Data), size));
    return ok;
}

// Str2Data(S, X): X's bytes from S; bytes that S does not hold become zero.
bool Str2Data(TPSExec& exec, TPSExternalProcRec& proc, TPSStack&, TPSStack& stack) {
    std::vector<THostParam> params;
    THostParam result;
    bool has_result = false;
    if (!TakeHostParams(exec, stack, proc.Decl, 0, params, result, has_result)) return false;
    if (has_result || params.size() != 2 || params[0].Data == nullptr || params[1].Data == nullptr) return false;
    if (params[0].Type == nullptr || params[0].Type->BaseType != btString) return false;
    const std::uint32_t size = PluginDataSize(params[1].Type);
    if (size == 0) return false;
    const std::string_view s = StringSlotView(params[0].Data);
    const std::size_t n = std::min<std::size_t>(size, s.size());
    auto* x = static_cast<char*>(params[1].Data);
    std::memcpy(x, s.data(), n);
    std::memset(x + n, 0, size - n);
    return true;
}

// A name as a script writes it: quoted text, line breaks as #13 and #10.
std::string ScriptLiteral(const std::string& s) {
    std::string out;
    bool quoted = false;
    for (char c : s) {
        const bool lineBreak = c == '\r' || c == '\n';
        if (lineBreak == quoted) {
            out += '\'';
            quoted = !quoted;
        }
        if (lineBreak)
            out += c == '\r' ? "#13" : "#10";
        else
            out += c == '\'' ? std::string("''") : std::string(1, c);
    }
    if (quoted || out.empty()) out += out.empty() ? "''" : "'";
    return out;
}

// Data is the script's string variable, written here so that a file the
// plug-in's memory cannot take answers False like any file that cannot be
// read, instead of failing the call once it has returned.
bool LoadStrFromFileRoutine(const std::string& fileName, PSVarRef data) {
    bool ok = true;
    PSWriteString(data.Data, data.Type, ok, {});
    if (!ok) return false;
    std::string name = fileName;
    if (name.empty()) {
        vcl::TOpenDialog dialog(nullptr);
        dialog.Options |= vcl::ofPathMustExist | vcl::ofFileMustExist;
        if (!dialog.Execute()) return false;
        name = dialog.FileName;
    }
    // The read holds up to twice the file while the buffer of a file that
    // grows meanwhile moves, and the plug-in's copy comes on top: a file
    // (or what a growing one reaches) beyond a quarter of the memory left,
    // or beyond what a script string may hold, is not read at all.
    const std::uint64_t ceiling = std::min(vcl::AvailableMemory() / 4, kMaxValueBytes);
    try {
        const std::string text = vcl::LoadRegularFile(name, ceiling);
        PSWriteString(data.Data, data.Type, ok, text);
    } catch (const std::exception&) {
        // Cannot be opened or read, or no memory left for it after all;
        // Data is still empty.
        return false;
    }
    return ok;
}

bool SaveStrToFileRoutine(const std::string& fileName, const std::string& data) {
    std::string name = fileName;
    if (name.empty()) {
        vcl::TSaveDialog dialog(nullptr);
        dialog.Options |= vcl::ofOverwritePrompt;
        if (!dialog.Execute()) return false;
        name = dialog.FileName;
    }
    // Never True after a failed create or write.
    try {
        vcl::SaveStrToFile(data, name);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace

void CheckVariableName(const std::string& Name) {
    if (Name.find_first_of("\r\n") != std::string::npos)
        throw rtl::Exception("Bad variable name " + ScriptLiteral(Name) + ": a name cannot hold a line break");
}

std::uint32_t PluginDataSize(const TPSTypeRec* type) {
    if (type == nullptr) return 0;
    switch (type->BaseType) {
        case btU8: case btS8: return 1;
        case btU16: case btS16: return 2;
        case btU32: case btS32: case btSingle: return 4;
        case btS64: case btDouble: return 8;
        case btExtended: return kExtendedBytes;
        default: return 0;
    }
}

PluginLibrary::PluginLibrary(TMyScript& host) : host_(host) {
    TPSExec& exec = *host.Exec();
    // The plug-in's texts are plain text: a message box shows their bytes.
    exec.RegisterHostFunction(+[](const std::string& msg) { vcl::ShowMessage(rtl::PlainInMessage(msg)); },
                              "SHOWMESSAGE", cdRegister);
    exec.RegisterHostMethod(this, &PluginLibrary::Send, cdRegister, "SEND");
    exec.RegisterHostMethod(this, &PluginLibrary::Send2, cdRegister, "SEND2");
    exec.RegisterHostFunction(+[](std::uint16_t v) { return static_cast<std::uint8_t>(v); }, "LO", cdRegister);
    exec.RegisterHostFunction(+[](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }, "HI", cdRegister);
    exec.RegisterHostFunction(+[](std::uint32_t v) { return static_cast<std::uint16_t>(v); }, "LOWORD", cdRegister);
    exec.RegisterHostFunction(+[](std::uint32_t v) { return static_cast<std::uint16_t>(v >> 16); }, "HIWORD",
                              cdRegister);
    exec.RegisterHostFunction(+[](std::uint8_t lo, std::uint8_t hi) { return static_cast<std::uint16_t>(lo + hi * 256); },
                              "MAKEWORD", cdRegister);
    exec.RegisterHostFunction(+[](std::uint16_t lo, std::uint16_t hi) { return std::uint32_t{lo} + std::uint32_t{hi} * 65536; },
                              "MAKELONG", cdRegister);
    exec.RegisterHostFunction(+[](const std::string& text, const std::string& caption, std::int32_t flags) {
        return vcl::Application != nullptr
                   ? static_cast<std::int32_t>(vcl::Application->MessageBox(
                         rtl::PlainInMessage(text), rtl::PlainInMessage(caption), static_cast<unsigned>(flags)))
                   : std::int32_t{0};
    }, "MSGBOX", cdRegister);
    exec.RegisterHostFunction(+[](std::uint32_t v) { return __builtin_bswap32(v); }, "SWAP32", cdRegister);
    exec.RegisterHostFunction(+[](std::int32_t v, std::int32_t digits) { return rtl::IntToHex(v, digits); }, "INTTOHEX",
                              cdRegister);
    exec.RegisterHostFunction(&FormatRoutine, "FORMAT", cdRegister);
    exec.RegisterFunction("DATA2STR", Data2Str);
    exec.RegisterFunction("STR2DATA", Str2Data);
    exec.RegisterHostFunction(+[](const std::string& s) { return rtl::Reverse(s); }, "REVERSE", cdRegister);
    exec.RegisterHostFunction(&Compose, "COMPOSE", cdRegister);
    exec.RegisterHostFunction(+[](std::uint32_t ms) { win::Sleep(ms); }, "SLEEP", cdRegister);
    exec.RegisterHostMethod(this, &PluginLibrary::NBSleep, cdRegister, "NBSLEEP");
    exec.RegisterHostFunction(+[](const std::string& s, bool space) { return rtl::ArrayToHex(s, space); }, "ARRAYTOHEX",
                              cdRegister);
    exec.RegisterHostMethod(this, &PluginLibrary::AddMsg, cdRegister, "ADDMSG");
    exec.RegisterHostMethod(this, &PluginLibrary::UpdMsg, cdRegister, "UPDMSG");
    exec.RegisterHostMethod(this, &PluginLibrary::AddErr, cdRegister, "ADDERR");
    exec.RegisterHostFunction(+[](std::int32_t range) { return range > 0 ? rtl::Random(range) : std::int32_t{0}; },
                              "RANDOM", cdRegister);
    exec.RegisterHostFunction(+[] { return rtl::Random(); }, "RND", cdRegister);
    exec.RegisterHostMethod(this, &PluginLibrary::Recv, cdRegister, "RECV");
    exec.RegisterHostMethod(this, &PluginLibrary::PurgeRx, cdRegister, "PURGERX");
    exec.RegisterHostFunction(&LoadStrFromFileRoutine, "LOADSTRFROMFILE", cdRegister);
    exec.RegisterHostMethod(this, &PluginLibrary::SaveStrToFile, cdRegister, "SAVESTRTOFILE");
    exec.RegisterHostFunction(+[] { return static_cast<std::uint32_t>(win::GetTickCount()); }, "GETTICKCOUNT", cdRegister);
    exec.RegisterHostMethod(this, &PluginLibrary::SetV, cdRegister, "SETV");
    exec.RegisterHostMethod(this, &PluginLibrary::GetV, cdRegister, "GETV");
    exec.RegisterHostMethod(this, &PluginLibrary::GraphAdd, cdRegister, "GRAPHADD");
    // No sounds of its own: the system's alert for "bad" and for the rest.
    exec.RegisterHostFunction(+[](const std::string&) { vcl::Beep(); }, "PLAY", cdRegister);
}

std::int32_t PluginLibrary::Send(const std::string& s) { return ReplyCount(host_.Request(srSend, s)); }
std::int32_t PluginLibrary::Send2(const std::string& s) { return ReplyCount(host_.Request(srSend2, s)); }
void PluginLibrary::NBSleep(std::uint32_t ms) { host_.WaitPumping(ms); }
void PluginLibrary::AddMsg(const std::string& s) { host_.Request(srAddMsg, s); }
void PluginLibrary::UpdMsg(const std::string& s) { host_.Request(srUpdMsg, s); }
void PluginLibrary::AddErr(const std::string& s) { host_.Request(srAddErr, s); }

bool PluginLibrary::Recv(std::int32_t nBytes, std::int32_t timeoutMs, std::string& data) {
    data = host_.Request(srRecv, rtl::IntToHex(nBytes, 8) + rtl::IntToHex(timeoutMs, 8));
    return nBytes == 0 || data.size() == static_cast<std::size_t>(nBytes);
}

void PluginLibrary::PurgeRx() { host_.Request(srPurgeRx, {}); }
void PluginLibrary::SetV(const std::string& name, const std::string& value) {
    CheckVariableName(name);
    host_.Request(srSetV, name + "\r" + value);
}
std::string PluginLibrary::GetV(const std::string& name) {
    CheckVariableName(name);
    return host_.Request(srGetV, name);
}

bool PluginLibrary::SaveStrToFile(const std::string& fileName, const std::string& data) {
    // A pipe or device that takes its time is waited for as NBSleep waits:
    // the window answers and the plug-in can be stopped or unloaded, which
    // gives the save up (False). One that takes nothing for a while gives
    // False too.
    const rtl::TWriteWaitTurns turns([this] { return host_.WaitTurn(); });
    return SaveStrToFileRoutine(fileName, data);
}

void PluginLibrary::GraphAdd(double value) {
    std::string bytes(sizeof value, '\0');
    std::memcpy(bytes.data(), &value, sizeof value);
    host_.Request(srGraphAdd, bytes);
}

}  // namespace script::runtime
