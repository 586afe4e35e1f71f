#pragma once
// The plug-in host: compiles a plug-in source with its function library,
// loads it into an executor and runs its event procedures for the main
// window. A plug-in reaches the main window only through OnRequest.
//
// my_script.cpp holds compiling, running and the variables;
// plugin_library.cpp the library's host routines.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "script/runtime/exec.h"
#include "script/runtime/plugin_declarations.h"

namespace script::runtime {

class PluginLibrary;

// Requests of a plug-in to its owner.
enum TScriptRequest : std::int32_t {
    srSend = 1,      // Text: bytes for the main port; Reply: count sent, decimal
    srAddMsg = 2,    // Text: a message line
    srUpdMsg = 3,    // Text: the new text of the last message line
    srAddErr = 4,    // Text: an error line
    srRecv = 5,      // Text: IntToHex(count, 8) + IntToHex(ms, 8); Reply: the bytes read
    srPurgeRx = 6,   // discard the main port's pending input
    srSetV = 7,      // Text: name, CR, value
    srGetV = 8,      // Text: name; Reply: value
    srGraphAdd = 9,  // Text: the 8 bytes of an IEEE double, least significant first
    srSend2 = 10,    // as srSend, on the second port
};

// Refuses a plug-in variable name that holds a line break, raising
// rtl::Exception "Bad variable name <the name as a script writes it>: a name
// cannot hold a line break". The owner's store is handed a name and a value
// joined by a carriage return, and the transmit line's __getv ends at the
// line: such a name would set or read another variable than the one named.
// SetV, GetV and the transmit line's __setv and __getv all ask it.
void CheckVariableName(const std::string& Name);

// (Code, Text, Reply): the owner's answer to a request.
using TScriptRequestEvent = std::function<void(std::int32_t Code, const std::string& Text, std::string& Reply)>;

// Where an include file is: beside the including file, or as written when
// absolute; "\" separates folders too. A name not found as written is
// matched without regard to letter case in its folder. A name that finds
// nothing and whose bytes are valid UTF-8 beyond ASCII is tried as UTF-8
// too (a file read in the code page may have been saved as UTF-8), as file
// names in the settings are. Empty when there is nothing of that name (a
// folder or a FIFO of that name is found: reading it then tells why it is
// no include file).
std::string ResolveIncludeFile(const std::string& IncludingFile, const std::string& FileName);

class TMyScript {
public:
    explicit TMyScript(TScriptRequestEvent OnRequest);
    virtual ~TMyScript();
    TMyScript(const TMyScript&) = delete;
    TMyScript& operator=(const TMyScript&) = delete;

    // Preprocesses, compiles and loads a plug-in. Raises an exception whose
    // message is every compiler message followed by "\r", the
    // preprocessor's error, or the loader's error.
    void Compile(const std::string& Source, const std::string& FileName);
    // What the last Compile found worth telling the author about how its
    // files were read (see ReadPluginSource): one line each, message text.
    const std::vector<std::string>& SourceWarnings() const { return warnings_; }

    // Run the event procedures; a script error comes out as the
    // executor's exception.
    void RunOnLoad();
    void RunOnSend();
    void RunOnReceive(bool Main);

    bool HasOnLoad() const { return events_.HasOnLoad; }
    bool HasOnSend() const { return events_.HasOnSend; }
    bool HasOnReceive(bool Main) const { return Main ? events_.HasOnReceive : events_.HasOnReceive2; }

    std::string GetTD() const;
    void SetTD(const std::string& S);
    std::string GetRD(bool Main) const;
    void SetRD(bool Main, const std::string& S);

    // The message ShowException shows for E: "An exception occurred during
    // script execution" with the place of the script's error when there is
    // one, two line breaks, then E's message.
    std::string ExceptionText(const std::exception& E) const;
    // Shows ExceptionText(E) through the application's exception display,
    // one box at a time: while one is open, and after an event's error has
    // been shown in one until that event next runs without an error, the
    // text goes to the owner as an error line (srAddErr) instead.
    void ShowException(const std::exception& E);

    // Asks a running event to stop; its waits return at once.
    void Stop();
    bool Stopped() const { return stopped_; }

    // While an event computes, the window's messages are handled about this
    // often (ms of run time), so the user can still stop it.
    static constexpr std::uint32_t kPumpIntervalMs = 50;

    TScriptRequestEvent OnRequest;
    // Called after each turn of the message loop that a wait of the
    // plug-in's own (NBSleep) runs: the owner learns that the plug-in is
    // not holding the loop by itself.
    std::function<void()> OnWaitTurn;
    // The executor; nil until the first Compile.
    TPSExec* Exec() const { return exec_.get(); }

private:
    friend class PluginLibrary;

    // The events, in the order of the flags below.
    enum TEvent : int { evLoad, evSend, evReceive, evReceive2, evCount };
    void RunEvent(TEvent Event, const char* Name);
    std::string Request(std::int32_t Code, const std::string& Text);
    // Sleeps in 1 ms steps handling messages until Ms have passed or the
    // plug-in is stopped.
    void WaitPumping(std::uint32_t Ms);
    // One turn of a wait of the plug-in's own: the messages are handled
    // (the user may stop or unload the plug-in). False once it is stopped.
    bool WaitTurn();
    void StepHook();

    // The library outlives the executor that holds its routines.
    std::unique_ptr<PluginLibrary> library_;
    std::unique_ptr<TPSExec> exec_;
    PluginEvents events_;
    void* td_ = nullptr;
    void* rd_ = nullptr;
    void* rd2_ = nullptr;
    bool stopped_ = false;
    // The event that ran last; which events' errors were shown in a box
    // since they last ran without one; whether a box is open.
    int event_ = -1;
    bool boxed_[evCount] = {};
    bool box_open_ = false;
    // False once the host is gone (a box may outlive it).
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::uint32_t last_pump_ = 0;
    std::vector<std::string> warnings_;
};

}  // namespace script::runtime
