// Plug-in control in the main window: loading and unloading, the plug-in
// button and its menu, the plug-in's requests, its reads from the main port
// and the hooks that run its events.
#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/rtl/name_escapes.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"
#include "platform/vcl/bitmap.h"
#include "platform/win/message_window.h"
#include "platform/win/shell.h"
#include "platform/win/timers.h"
#include "graph/graph_form.h"
#include "script/runtime/my_script.h"
#include "terminal/common_str_proc.h"
#include "terminal/main_form.h"

namespace terminal {

namespace {

using script::runtime::TMyScript;

// The button's pictures: a plug (green while a plug-in is active, grey
// while none is).
std::unique_ptr<vcl::TBitmap> PluginGlyph(bool Active) {
    auto bmp = std::make_unique<vcl::TBitmap>(12, 12);
    vcl::TCanvas& c = bmp->Canvas();
    const vcl::TColor body = Active ? vcl::TColor(0x00209020) : vcl::TColor(0x00A0A0A0);
    c.Brush.SetColor(vcl::clBtnFace);
    c.FillRect({0, 0, 12, 12});
    c.Brush.SetColor(body);
    c.Pen.SetColor(body);
    c.Rectangle(2, 4, 10, 10);  // the body
    c.Rectangle(3, 1, 5, 5);    // two pins
    c.Rectangle(7, 1, 9, 5);
    c.Rectangle(5, 9, 7, 12);   // the cord
    return bmp;
}

}  // namespace

// ---- Loading and unloading

void TMain::LoadPlugin(const std::string& FileName) {
    // Loading frees the running script: never while one of its events runs
    // (profiles also reach here).
    CheckPluginIdle();
    UnloadPlugin();
    if (FileName.empty()) return;
    try {
        LastPluginPath = FileName;
        const std::string source = LoadStrFromFile(FileName);
        Script = std::make_unique<TMyScript>(
            [this](std::int32_t Code, const std::string& Text, std::string& Reply) { ScriptCommand(Code, Text, Reply); });
        Script->OnWaitTurn = [this] { NotePluginLoopTurn(); };
        Script->Compile(source, FileName);
        for (const std::string& warning : Script->SourceWarnings()) AddTextLine(warning, 0, 0, dfERR);
        PluginFlags = APTD | APRD | APGD;
        if (Script->HasOnLoad()) {
            SetPluginBusy(true);
            try {
                Script->RunOnLoad();
            } catch (const std::exception& e) {
                SetPluginBusy(false);
                Script->ShowException(e);
                UnloadPlugin();
                return;
            }
            SetPluginBusy(false);
            if (Script->Stopped()) {
                UnloadPlugin();
                return;
            }
        }
        PluginPath = FileName;
        PendingPluginPath.clear();
        SetPluginButton(rtl::ChangeFileExt(rtl::ExtractFileName(FileName), ""));
    } catch (const std::exception& e) {
        UnloadPlugin();
        throw rtl::Exception("Error loading plugin\r" + FileName + "\r\r" + rtl::ExceptionMessage(e));
    }
}

void TMain::UnloadPlugin() {
    Script.reset();
    SetPluginButton("");
    PluginPath.clear();
    SetPluginBusy(false);
}

void TMain::UnloadIfStopped() {
    if (Script && Script->Stopped()) UnloadPlugin();
}

void TMain::SetPluginButton(const std::string& Caption) {
    sbPlugin->SetCaption(Caption);
    const bool active = !Caption.empty();
    auto glyph = PluginGlyph(active);
    sbPlugin->SetGlyph(*glyph);
    PluginCaption = Caption;
    FitPluginButton();
}

void TMain::FitPluginButton() {
    if (!sbPlugin || !sbTRFormat || !TRLabel || !LTRFormat) return;
    vcl::TBitmap measure(1, 1);
    measure.Canvas().Font.Assign(sbPlugin->Font());
    // The caption is a file name: measured, shortened and shown by its
    // letters, never by the escapes that carry the ones the code page lacks.
    measure.Canvas().SetMessageText(true);
    const int frame = 18 + sbPlugin->Spacing() + 2;
    // Room for a sent count of four digits stays free; a long plug-in name
    // takes the place of the "Input:" label before it is shortened.
    const int countRight = TRLabel->Left() + std::max(TRLabel->Width(), measure.Canvas().TextWidth("0000"));
    const int room = sbTRFormat->Left() - 5 - (countRight + 5);
    const int label = LTRFormat->Width() + 5;
    std::string caption = PluginCaption;
    const int wanted = measure.Canvas().TextWidth(caption) + frame;
    const bool withLabel = wanted <= room - label;
    const bool shortened = wanted > room;
    if (shortened) {
        while (!caption.empty() && measure.Canvas().TextWidth(caption + "...") + frame > room)
            caption.resize(rtl::LastMessageCharStart(caption));
        caption += "...";
    }
    // A shortened name stays whole in the hint.
    if (PluginCaption.empty())
        sbPlugin->SetHint("Plugin: inactive");
    else
        sbPlugin->SetHint(shortened ? "Plugin: active\r" + rtl::ExtractFileName(PluginPath) : "Plugin: active");
    sbPlugin->SetCaption(caption);
    sbPlugin->SetWidth(measure.Canvas().TextWidth(caption) + frame);
    sbPlugin->SetLeft(sbTRFormat->Left() - sbPlugin->Width() - 5);
    LTRFormat->SetLeft(sbPlugin->Left() - LTRFormat->Width() - 5);
    LTRFormat->SetVisible(withLabel);
}

// ---- The button's menu

void TMain::sbPluginClick(vcl::TComponent*) {
    const vcl::TPoint p = sbPlugin->ClientToScreen({0, sbPlugin->Height()});
    pmPlugin->Popup(p.X, p.Y);
}

void TMain::pmPluginPopup(vcl::TComponent*) {
    const bool any = !PluginPath.empty() || !LastPluginPath.empty();
    mReloadPlugin->SetEnabled(any);
    // A plug-in still in its ONLOAD has no path yet, and can be stopped too;
    // one that could not be loaded is dropped from the settings with Unload.
    mUnloadPlugin->SetEnabled(!PluginPath.empty() || Script != nullptr ||
                              !PendingPluginPath.empty());
    mEditPlugin->SetEnabled(any);
}

void TMain::mLoadPluginClick(vcl::TComponent*) {
    CheckPluginIdle();
    if (!odPlug->Execute()) return;
    // A failed load still leaves the settings apart from any profile, and
    // the plug-in they named is no longer wanted.
    CBProfile->SetItemIndex(-1);
    CBProfileChange(nullptr);
    PendingPluginPath.clear();
    LoadPlugin(odPlug->FileName);
}

void TMain::mReloadPluginClick(vcl::TComponent*) {
    CheckPluginIdle();
    const std::string path = !PluginPath.empty() ? PluginPath : LastPluginPath;
    CBProfile->SetItemIndex(-1);
    CBProfileChange(nullptr);
    LoadPlugin(path);
}

void TMain::mUnloadPluginClick(vcl::TComponent*) {
    if (PluginBusy) {
        // The running event's hook unloads it once the event returns.
        if (Script) Script->Stop();
        return;
    }
    UnloadPlugin();
    PendingPluginPath.clear();
    CBProfile->SetItemIndex(-1);
    CBProfileChange(nullptr);
}

void TMain::mEditPluginClick(vcl::TComponent*) {
    const std::string path = !PluginPath.empty() ? PluginPath : LastPluginPath;
    const int result = ShellOpen ? ShellOpen(path) : win::ShellExecute("open", path, win::SW_SHOWNORMAL);
    if (result < 33) throw rtl::Exception("Can't open editor");
}

// ---- Requests of the plug-in

void TMain::AddPluginLine(std::string_view Text, TDataFormat Format) {
    NameEventPeer();
    AddTextLine(Text, 0, 0, Format);
}

void TMain::ScriptCommand(std::int32_t Code, const std::string& Text, std::string& Reply) {
    using namespace script::runtime;
    switch (Code) {
        case srSend: {
            const std::uint32_t n =
                SendData(Text.data(), static_cast<std::uint32_t>(Text.size()), true, TSender::Plugin);
            Reply = rtl::IntToStr(static_cast<std::int64_t>(n));
            TRLabel->Repaint();
            break;
        }
        case srAddMsg: AddPluginLine(Text, dfMSG); break;
        case srUpdMsg: {
            RxRouter.SettleFailures();
            TLineStore& lines = RxPanel->Lines();
            const int n = lines.LineCount();
            int target = -1;
            // (The list's own last line: while a text file takes the data
            // lines, the list's last line waits empty for its next line.)
            if (n > 0 && lines.LineRecord(n - 1).Format == dfMSG)
                target = n - 1;
            else if (n > 1 && lines.LineLength(n - 1) == 0 && lines.LineRecord(n - 2).Format == dfMSG)
                target = n - 2;
            if (target < 0) {
                AddPluginLine(Text, dfMSG);
                break;
            }
            const TLineRecord r = lines.LineRecord(target);
            const std::string line = lines.GetLine(target);
            std::string text = Text;
            std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
            lines.PutLine(target, line.substr(0, std::min<std::size_t>(r.PrefixLen, line.size())) + text);
            lb1->SyncCount(target);
            break;
        }
        // Error lines are message text, which shows file names by their
        // letters; the plug-in's text shows as the bytes it is.
        case srAddErr: AddPluginLine(rtl::PlainInMessage(Text), dfERR); break;
        case srRecv: {
            std::int32_t count = 0;
            std::int32_t timeout = 0;
            if (Text.size() < 16 || !rtl::TryStrToInt("$" + Text.substr(0, 8), count) ||
                !rtl::TryStrToInt("$" + Text.substr(8, 8), timeout))
                throw rtl::Exception("Bad \"Recv\" request");
            ScriptRecv(count, timeout, Reply);
            break;
        }
        case srPurgeRx: {
            // What waits for the plug-in goes, and what the serial port holds.
            if (!ForeignPort) cp1->FlushBuffers(true, false);
            RxRouter.Drop(RecvSource());
            break;
        }
        case srSetV: ScriptSetV(Text, "\r"); break;
        case srGetV: Reply = ScriptGetV(rtl::UpperCase(Text)); break;
        case srGraphAdd:
            if (Text.size() == sizeof(double) && graph::fGraph) {
                double value = 0;
                std::memcpy(&value, Text.data(), sizeof value);
                graph::fGraph->AddPoint(CurrentTime(), value);
            }
            break;
        case srSend2: {
            const std::uint32_t n =
                SendData2(Text.data(), static_cast<std::uint32_t>(Text.size()), TSender::Plugin);
            Reply = rtl::IntToStr(static_cast<std::int64_t>(n));
            break;
        }
        default: Reply.clear(); break;
    }
}

// ---- Reading for the plug-in

TReceiveSource TMain::RecvSource() const {
    if (!ForeignPort) return {};
    const int client = ForeignPort->CurrentClient();
    return {.IsMain = client == 1, .Client = client};
}

void TMain::ScriptRecv(std::int32_t nBytes, std::int32_t Timeout, std::string& Data) {
    CheckConnected(true);
    // The port goes on reading meanwhile; what it reads waits in the receive
    // queue, where the wait takes it from (also what came before the wait,
    // while its event ran), and what is taken shows at once in its place.
    // Whose bytes: as they were when the wait began.
    const TReceiveSource source = RecvSource();
    // A wait whose port goes away (the foreign port freed or replaced) ends.
    const std::uint32_t port_serial = ForeignPortSerial;
    const TReceiveRouter::TRecvScope waiting(RxRouter, source);
    Data.clear();
    const std::uint32_t start = win::GetTickCount();
    bool stopped = false;
    for (;;) {
        if (static_cast<std::int64_t>(win::GetTickCount() - start) >= Timeout) break;
        win::Sleep(1);
        win::ProcessMessages();
        NotePluginLoopTurn();
        if (!Script || Script->Stopped() || ForeignPortSerial != port_serial) {
            stopped = true;
            break;
        }
        if (TakeForRecv(source, nBytes, Data)) break;
    }
    if (!stopped) TakeForRecv(source, nBytes, Data);
}

bool TMain::TakeForRecv(const TReceiveSource& Source, std::int32_t nBytes, std::string& Data) {
    const bool counted = nBytes > 0;
    const std::size_t want = counted ? static_cast<std::size_t>(nBytes) - std::min<std::size_t>(Data.size(), nBytes) : 0;
    if (!counted || want > 0) RxRouter.Take(Source, want, Data);
    return counted && Data.size() == static_cast<std::size_t>(nBytes);
}

// ---- The event hooks

void TMain::PluginReceiveHook(bool IsMain, std::string& Data) {
    SetPluginBusy(true);
    try {
        Script->SetRD(IsMain, Data);
        Script->RunOnReceive(IsMain);
        Data = Script->GetRD(IsMain);
    } catch (const std::exception& e) {
        // The chunk goes on as it came: a faulty plug-in loses no data. The
        // port's queue still waits while the box is up. A close stops the
        // event without a box.
        if (!RxRouter.Closing()) Script->ShowException(e);
    }
    SetPluginBusy(false);
    UnloadIfStopped();
}

bool TMain::PluginTransmitHook(std::string& Data) {
    SetPluginBusy(true);
    bool send = true;
    try {
        Script->SetTD(Data);
        Script->RunOnSend();
        Data = Script->GetTD();
    } catch (const std::exception& e) {
        if (!RxRouter.Closing()) Script->ShowException(e);
        send = false;
    }
    // Stopped from the menu: the plug-in had no say in what TD holds.
    if (Script->Stopped()) send = false;
    SetPluginBusy(false);
    UnloadIfStopped();
    return send;
}

}  // namespace terminal
