#pragma once
// The base of every port that is not a COM port: a transport with the same
// small set of operations as the serial component (activate, send, read,
// pause and resume reception), a settings frame in which the user edits its
// parameters as text fields, a settings text that a profile can store, and
// one owner callback through which it reports information, errors and
// received data.
//
// Foreign-port classes are numbered from 256 up, so that one integer names
// either a COM port (1 to 255) or a foreign-port class; the table
// ForeignPortClasses maps those numbers to the classes.
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/format.h"
#include "platform/vcl/std_ctrls.h"

namespace ports {

// Codes of the owner callback.
enum TForeignPortEventCode : int {
    fpeInfo = 1,             // an information line
    fpeError = 2,            // an error line
    fpeRecvInfo = 3,         // a note about reception
    fpeSendInfo = 4,         // a note about sending
    fpeData = 5,             // one character holding the client index (1 to 255), then the bytes
    fpeRefresh = 6,          // the port's state changed: refresh the port button
    fpeSettingsChanged = 7,  // a parameter was edited
};

// The owner callback; the port never reads Reply.
using TForeignPortEvent = std::function<void(int Code, const std::string& Text, std::string& Reply)>;

// The lowest foreign-port class number; everything below is a COM port (or none).
constexpr std::int32_t FirstForeignPortId = 256;

// States of a parameter as the frame reports it.
enum TParamState : std::uint8_t {
    psValid = 0,
    psInvalid = 1,
    psHidden = 2,  // not shown in the current configuration
};

// The settings frame of a foreign port: a panel of parameter controls.
// Parameters are numbered from 0 in the order the subclass names them.
class TfrmForP : public vcl::TPanel {
public:
    // ClassName is the subclass's own name, used in error messages.
    TfrmForP(vcl::TComponent* AOwner, std::string ClassName);
    ~TfrmForP() override;

    const std::string& ClassName() const { return className_; }

    // Set by the port to its ParamChanged.
    std::function<void(int Index)> OnParamChange;

    // Raises "<class name>: Bad param idx (<index>)".
    [[noreturn]] virtual void BadParamIdx(int Index) const;
    virtual void AddParamName(const std::string& Name);
    // The value in its stored form (AsText: the display form where the two
    // differ) and its state (TParamState).
    virtual std::uint8_t GetParam(int Index, std::string& S, bool AsText) = 0;
    // Puts a stored-form value into its control.
    virtual void SetParam(int Index, const std::string& S) = 0;
    // S is emptied first; an index outside 0..count-1 raises BadParamIdx.
    virtual void GetParamName(int Index, std::string& S) const;
    // Enables or locks the controls for an open or closed port.
    virtual void SetActiveLook(bool Active) = 0;
    // Begin: one lock more. Otherwise one lock less, and when none is left
    // every parameter is read and written back, in index order, so that the
    // controls' change handlers check and colour every field again.
    virtual void Lock(bool Begin);
    virtual int ParamCount() const;

    bool Locked() const { return lockCount_ > 0; }
    // Before the port is opened: the first shown parameter that is not valid
    // raises "Wrong "<name>" Value".
    void CheckParams();

    // Control's colour becomes Color when Marked, else the window colour.
    static void SetFieldColor(vcl::TControl* Control, bool Marked, vcl::TColor Color);
    // The label and the control it labels are enabled or shown together.
    void SetLabeledEnabled(vcl::TLabel* Label, bool Value);
    void SetLabeledVisible(vcl::TLabel* Label, bool Value);
    // Every parameter control's change handler calls this: unless the frame
    // is locked, colour the control by the parameter's state (yellow when not
    // valid) and tell the port.
    void ParamEdited(vcl::TControl* Control, int Index);

protected:
    // Holds the frame locked while a value is put into its control, without
    // the check of every field that the last Lock(false) runs.
    class TQuietLock {
    public:
        explicit TQuietLock(TfrmForP& frame) : frame_(frame) { ++frame_.lockCount_; }
        ~TQuietLock() { --frame_.lockCount_; }
        TQuietLock(const TQuietLock&) = delete;
        TQuietLock& operator=(const TQuietLock&) = delete;

    private:
        TfrmForP& frame_;
    };

    // The control a label stands beside; SetLabeledEnabled/-Visible act on both.
    void SetFocusControl(vcl::TLabel* Label, vcl::TControl* Control);

private:
    vcl::TControl* FocusControlOf(vcl::TLabel* Label) const;

    std::string className_;
    std::int32_t lockCount_ = 0;
    std::vector<std::string> paramNames_;
    std::vector<std::pair<vcl::TLabel*, vcl::TControl*>> focusControls_;
};

// The abstract foreign port. A concrete class passes its newly made frame
// to this constructor (a base constructor cannot reach the subclass's
// frame factory), implements SetActive and Send, and closes its transport
// in its own destructor when it is still active (the base destructor can
// no longer reach the subclass's SetActive).
class TForeignPort {
public:
    virtual ~TForeignPort();
    TForeignPort(const TForeignPort&) = delete;
    TForeignPort& operator=(const TForeignPort&) = delete;

    std::int32_t Id() const { return id_; }
    TfrmForP* Frame() const { return frame_.get(); }
    bool Active() const { return active_; }
    TForeignPortEvent OnEvent;

    // Base: reports fpeSettingsChanged.
    virtual void ParamChanged(int Index);
    // Opens or closes the transport.
    virtual void SetActive(bool Value) = 0;
    // Bytes sent; 0 when not active.
    virtual int Send(const void* Buf, int Len) = 0;
    // The most bytes one Send takes whole right now; 0 while the transport's
    // queue is full (room comes back by itself as the far side takes data).
    // A sender of long data (a file) waits while it is 0 and hands over at
    // most this much at a time.
    virtual int SendRoom() const { return std::numeric_limits<int>::max(); }
    // Why the latest Send took less than it was given, or why the port
    // closed itself; empty when there is nothing to tell.
    virtual std::string LastFailure() const { return {}; }
    // Which peer Send reaches now, as a number no other peer is ever given
    // (0: none, or the transport has only one). A sender of long data (a
    // file) stops when it changes, so that no peer gets the rest of what
    // another one got the start of.
    virtual std::uint64_t SendTarget() const { return 0; }
    // The client whose data a reader of the main port takes (a plug-in's
    // Recv) and whom Send reaches; 1 for a transport that has only one peer.
    virtual int CurrentClient() const { return 1; }
    // While reception is paused the port reads nothing from its transport:
    // what the peers send waits there (a stream's sender is held back once
    // the system's buffer is full; datagrams beyond it are lost, and told),
    // so that nothing pours in while the owner cannot take it. Pauses nest.
    void PauseRx();
    void ResumeRx();
    // Holds back one client's reading (or lets it go on): what that peer
    // sends waits in its transport, while every other peer goes on. With one
    // peer only (client 1), its transport is held. A client that goes and a
    // newcomer given its index are held as it was.
    void HoldClientRx(int Client, bool Hold);
    bool ClientRxHeld(int Client) const;

    // While a report of data (fpeData) or about a client is made: the client
    // it concerns (-1: the port as a whole), and for data the peer it came
    // from as the owner's list names it. A report that the peer has gone
    // (a client that left, a connection that ended) says so, with the key
    // its data had.
    struct TDataOrigin {
        std::uint64_t Key = 0;  // 0: the data needs no name
        std::string Line;       // the line that names the peer
        bool Gone = false;      // the peer has gone: nothing more comes from it
    };
    int ReportClient() const { return reportClient_; }
    const TDataOrigin& DataOrigin() const { return dataOrigin_; }
    // The stored form of every parameter, joined by "|".
    virtual std::string GetSettings() const;
    // The "|"-separated fields, one per parameter from 0; a shorter text
    // leaves the later parameters as they are.
    virtual void SetSettings(const std::string& S);

    bool RxPaused() const { return pauseCount_ > 0; }

    // Whether the class can be used on this system; the main window lists
    // only classes that are. A subclass hides this with its own.
    static bool IsAvailable() { return true; }

protected:
    TForeignPort(std::int32_t Id, TForeignPortEvent OnEvent, std::unique_ptr<TfrmForP> Frame);

    // Reports Format(Fmt, Args) to the owner with Code; the reply is dropped.
    void NotifyOwner(const std::string& Fmt, std::initializer_list<rtl::TVarRec> Args, int Code);
    void SetActiveFlag(bool Value) { active_ = Value; }
    // Reception was paused (Held) or goes on again: the transport follows.
    virtual void RxHeldChanged(bool Held) { (void)Held; }
    // One client's reading was held back or goes on again.
    virtual void ClientRxHeldChanged(int Client) { (void)Client; }
    // Whether reading is held back for Client now, paused or held alone.
    bool ReadingHeldFor(int Client) const { return RxPaused() || ClientRxHeld(Client); }
    // Sets what ReportClient and DataOrigin answer, for the report about to
    // be made (a port the owner may free meanwhile sets nothing afterwards).
    void SetReportContext(int Client, TDataOrigin Origin) {
        reportClient_ = Client;
        dataOrigin_ = std::move(Origin);
    }
    void SetReportContext(int Client) { SetReportContext(Client, TDataOrigin()); }

private:
    std::int32_t id_;
    std::unique_ptr<TfrmForP> frame_;
    bool active_ = false;
    std::int32_t pauseCount_ = 0;
    std::array<bool, 256> clientHeld_{};
    int reportClient_ = -1;
    TDataOrigin dataOrigin_;
};

// The display name of a foreign-port class: its class name without a
// leading "T" and without a trailing "PORT" (in any case), so TEthernetPort
// is "Ethernet".
std::string ForeignPortName(const std::string& ClassName);

using TForeignPortPtr = std::unique_ptr<TForeignPort>;

// What the class table knows of a foreign-port class without an instance.
struct TForeignPortClass {
    std::string ClassName;  // e.g. "TEthernetPort"
    std::function<bool()> IsAvailable;
    std::function<TForeignPortPtr(std::int32_t Id, TForeignPortEvent OnEvent)> Create;

    std::string GetName() const { return ForeignPortName(ClassName); }
};

struct TForeignPortClassEntry {
    std::int32_t Id;
    TForeignPortClass Class;
};

// The class description of T: T has a static ClassName() and a constructor
// (Id, OnEvent); T may hide the base's static IsAvailable.
template <class T>
TForeignPortClass ForeignPortClassOf() {
    return TForeignPortClass{
        T::ClassName(),
        [] { return T::IsAvailable(); },
        [](std::int32_t Id, TForeignPortEvent OnEvent) {
            return TForeignPortPtr(std::make_unique<T>(Id, std::move(OnEvent)));
        },
    };
}

// The table of foreign-port classes, in registration order.
const std::vector<TForeignPortClassEntry>& ForeignPortClasses();
// Adds a class. An id below 256 (it would name a COM port) or one already
// taken raises an exception.
void RegisterForeignPortClass(std::int32_t Id, TForeignPortClass Class);
// Removes a class (tests and shutdown); unknown ids are ignored.
void UnregisterForeignPortClass(std::int32_t Id);
// Position of Id in the table; -1 when absent, or with RaiseIfMissing the
// exception "Foreign port with id=<Id> not found".
int ForeignClassIndex(std::int32_t Id, bool RaiseIfMissing);

}  // namespace ports
