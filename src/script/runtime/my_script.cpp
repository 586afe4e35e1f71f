#include "script/runtime/my_script.h"

#include <malloc.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "platform/vcl/file_text.h"
#include "platform/vcl/forms.h"
#include "platform/win/message_window.h"
#include "platform/win/timers.h"
#include "script/compiler/compiler.h"
#include "script/compiler/preprocessor.h"
#include "script/runtime/plugin_library.h"
#include "script/runtime/plugin_source.h"
#include "script/runtime/value_access.h"

namespace script::runtime {

namespace {

// How many ticks (backward jumps and calls) pass between two looks at the
// clock: the hook costs the run a count on those steps only.
constexpr std::uint32_t kTicksPerClockCheck = 1024;
// Plug-in sources beyond which the compiler's memory is handed back at once.
constexpr std::size_t kTrimAfterSourceBytes = 1u << 20;

// Whatever the name is (a folder, a FIFO, a device): reading it then says
// why it cannot be an include file.
bool Exists(const std::string& name) {
    std::error_code ec;
    return std::filesystem::exists(rtl::SysPath(name), ec);
}

std::string WithSlashes(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

std::string FindIncludeFile(const std::string& IncludingFile, const std::string& FileName) {
    const std::string name = WithSlashes(FileName);
    if (name.empty()) return {};
    const std::string path = name.front() == '/' ? name : rtl::ExtractFilePath(WithSlashes(IncludingFile)) + name;
    if (Exists(path)) return path;
    // Sources written elsewhere name their includes and folders in any
    // letter case: each part not found as written is matched in its folder.
    std::string found = path.front() == '/' ? "/" : "";
    std::size_t from = found.size();
    while (from < path.size()) {
        std::size_t to = path.find('/', from);
        if (to == std::string::npos) to = path.size();
        const std::string part = path.substr(from, to - from);
        from = to + 1;
        if (part.empty() || part == "." || part == "..") {
            found += part.empty() ? "" : part + "/";
            continue;
        }
        std::error_code ec;
        if (std::filesystem::exists(rtl::SysPath(found + part), ec)) {
            found += part + (to < path.size() ? "/" : "");
            continue;
        }
        const std::string wanted = rtl::AnsiUpperCase(part);
        std::string match;
        for (std::filesystem::directory_iterator it(rtl::SysPath(found.empty() ? "." : found), ec), end;
             !ec && it != end; it.increment(ec)) {
            const std::string entry = rtl::FromSysPath(it->path().filename().string());
            if (rtl::AnsiUpperCase(entry) == wanted) {
                match = entry;
                break;
            }
        }
        if (match.empty()) return {};
        found += match + (to < path.size() ? "/" : "");
    }
    return Exists(found) ? found : std::string();
}

}  // namespace

std::string ResolveIncludeFile(const std::string& IncludingFile, const std::string& FileName) {
    std::string found = FindIncludeFile(IncludingFile, FileName);
    // A source read in the code page may have been saved as UTF-8: a name
    // that names nothing in the code page is tried as UTF-8, as names kept
    // in the settings are.
    if (found.empty() && rtl::IsUtf8BeyondAscii(FileName))
        found = FindIncludeFile(IncludingFile, rtl::FromSysPath(FileName));
    return found;
}

TMyScript::TMyScript(TScriptRequestEvent OnRequest) : OnRequest(std::move(OnRequest)) {}

TMyScript::~TMyScript() { *alive_ = false; }

void TMyScript::Compile(const std::string& Source, const std::string& FileName) {
    warnings_.clear();
    // How each file of this run was read, in the order the preprocessor
    // lists them (LineInfo): an include whose own bytes leave its reading
    // open is read as the file that includes it, so a UTF-8 plug-in's
    // include holding one Cyrillic letter sends what its author wrote.
    // Files the preprocessor takes from MainFileText again were read as the
    // main file.
    std::vector<TSourceEncoding> encodings;
    TSourceEncoding main_encoding = TSourceEncoding::CodePage;
    auto read = [this](const std::string& bytes, const std::string& file, TSourceEncoding undecided) {
        TPluginSourceText source = ReadPluginSource(bytes, file, undecided);
        if (!source.Warning.empty() && std::find(warnings_.begin(), warnings_.end(), source.Warning) == warnings_.end())
            warnings_.push_back(std::move(source.Warning));
        return source;
    };
    PluginEvents events;
    std::string image;
    {
        compiler::TPSPascalCompiler comp;
        comp.OnUses = DeclarePluginLibrary;
        comp.OnExportCheck = [&events](compiler::TPSPascalCompiler& c, compiler::TPSInternalProcedure& proc,
                                       const std::string&) { return CheckPluginEvent(c, proc, &events); };
        comp.AllowEndWithoutBegin = true;
        comp.AllowNoMainBlock = true;
        comp.Tag = this;

        compiler::TPSPreProcessor pre;
        pre.OnNeedFile = [&](compiler::TPSPreProcessor& sender, const std::string& including, std::string& name,
                             std::string& text) {
            const std::string found = ResolveIncludeFile(including, name);
            if (found.empty()) return false;
            // A file that is there but cannot be read (no regular file, too
            // large, no permission) is reported with the system's reason.
            std::string bytes;
            try {
                bytes = vcl::LoadStrFromFile(found);
            } catch (const std::exception& e) {
                throw compiler::EPSPreProcessor(compiler::FormatText(compiler::kUnableToFindFile, {name, including}) +
                                                ": " + rtl::ExceptionMessage(e));
            }
            encodings.resize(sender.LineInfo.Count(), main_encoding);
            TPluginSourceText source = read(bytes, found, encodings.at(sender.LineInfo.Current()));
            text = std::move(source.Text);
            encodings.push_back(source.Encoding);
            name = found;
            return true;
        };
        pre.Clear();
        comp.OnTranslateLineInfo = [&pre](compiler::TPSPascalCompiler&, std::uint32_t& pos, std::uint32_t& row,
                                          std::uint32_t& col, std::string& module) {
            compiler::TPSLineInfoResults res;
            if (pre.LineInfo.GetLineInfo(module, pos, res)) {
                pos = res.Pos;
                row = res.Row;
                col = res.Col;
                module = res.Name;
            }
        };
        TPluginSourceText main = read(Source, FileName, TSourceEncoding::CodePage);
        main_encoding = main.Encoding;
        pre.MainFileText = std::move(main.Text);
        pre.MainFileName = FileName;
        std::string text;
        pre.PreProcess(FileName, text);

        if (!comp.Compile(text)) {
            pre.AdjustMessages(comp);
            std::string message;
            for (std::size_t i = 0; i < comp.GetMsgCount(); ++i) message += comp.GetMsg(i).MessageToString() + "\r";
            throw EPSError(message);
        }
        if (!comp.GetOutput(image)) throw EPSError("The compiler gave no compiled image");
    }
    // What the compiler of a large plug-in took goes back to the system, not
    // only to the allocator: the program keeps running with the plug-in.
    if (Source.size() >= kTrimAfterSourceBytes) malloc_trim(0);

    if (!exec_) {
        exec_ = std::make_unique<TPSExec>();
        library_ = std::make_unique<PluginLibrary>(*this);
        exec_->SetOnTick([this](TPSExec&) { StepHook(); }, kTicksPerClockCheck);
    }
    td_ = rd_ = rd2_ = nullptr;
    events_ = {};
    if (!exec_->LoadImage(image)) throw EPSError(PSErrorText(exec_->LastErrorCode(), exec_->LastErrorParam()));
    td_ = exec_->FindGlobalVar("TD");
    rd_ = exec_->FindGlobalVar("RD");
    rd2_ = exec_->FindGlobalVar("RD2");
    events_ = events;
}

void TMyScript::RunEvent(TEvent Event, const char* Name) {
    if (!exec_) return;
    event_ = Event;
    last_pump_ = win::GetTickCount();
    exec_->CallProcByName(Name, {});
    // It ran without an error: its next error is shown in a box again.
    if (!stopped_) boxed_[Event] = false;
}

void TMyScript::RunOnLoad() { RunEvent(evLoad, "ONLOAD"); }
void TMyScript::RunOnSend() { RunEvent(evSend, "ONSEND"); }
void TMyScript::RunOnReceive(bool Main) { RunEvent(Main ? evReceive : evReceive2, Main ? "ONRECEIVE" : "ONRECEIVE2"); }

std::string TMyScript::GetTD() const { return td_ != nullptr ? PSGetVarString(td_) : std::string(); }
void TMyScript::SetTD(const std::string& S) {
    if (td_ != nullptr) PSSetVarString(td_, S);
}
std::string TMyScript::GetRD(bool Main) const {
    void* rd = Main ? rd_ : rd2_;
    return rd != nullptr ? PSGetVarString(rd) : std::string();
}
void TMyScript::SetRD(bool Main, const std::string& S) {
    void* rd = Main ? rd_ : rd2_;
    if (rd != nullptr) PSSetVarString(rd, S);
}

std::string TMyScript::ExceptionText(const std::exception& E) const {
    std::string suffix;
    if (exec_ && exec_->LastErrorCode() != 0) {
        try {
            suffix = rtl::Format(" (proc=%d, pos=%d)", {static_cast<std::int32_t>(exec_->LastErrorProc()),
                                                        static_cast<std::int32_t>(exec_->LastErrorPos())});
        } catch (const std::exception&) {
            suffix.clear();
        }
    }
    return "An exception occurred during script execution" + suffix + "\r\r" + E.what();
}

void TMyScript::ShowException(const std::exception& E) {
    const std::string text = ExceptionText(E);
    // A plug-in that fails on every chunk or every tick must not keep the
    // user from its menu behind one box after another.
    if (box_open_ || (event_ >= 0 && boxed_[event_])) {
        Request(srAddErr, text);
        return;
    }
    if (event_ >= 0) boxed_[event_] = true;
    if (vcl::Application == nullptr) return;
    const std::shared_ptr<bool> alive = alive_;
    box_open_ = true;
    vcl::Application->ShowException(rtl::Exception(text));
    if (*alive) box_open_ = false;
}

void TMyScript::Stop() {
    stopped_ = true;
    if (exec_) exec_->Stop();
}

std::string TMyScript::Request(std::int32_t Code, const std::string& Text) {
    std::string reply;
    if (OnRequest) OnRequest(Code, Text, reply);
    return reply;
}

void TMyScript::WaitPumping(std::uint32_t Ms) {
    const std::uint32_t start = win::GetTickCount();
    while (!stopped_ && win::GetTickCount() - start < Ms) {
        win::Sleep(1);
        WaitTurn();
    }
    last_pump_ = win::GetTickCount();
}

bool TMyScript::WaitTurn() {
    win::ProcessMessages();
    if (OnWaitTurn) OnWaitTurn();
    last_pump_ = win::GetTickCount();
    return !stopped_;
}

void TMyScript::StepHook() {
    const std::uint32_t now = win::GetTickCount();
    if (now - last_pump_ < kPumpIntervalMs) return;
    // Painting and the user's input only: the port's polling, the window's
    // timers and socket messages wait until the event ends or waits.
    win::ProcessInputMessages();
    last_pump_ = win::GetTickCount();
}

}  // namespace script::runtime
