#pragma once
// The main window: its controls, menus, dialogs, timers and the two serial
// port components, the state the terminal's parts share, and its life:
// creation, the one-time first activation, application focus changes, the
// anti-hang watchdog, notices, the plug-in busy flag and closing.
//
// The implementation is split by concern: main_form.cpp builds the window,
// main_form_lifecycle.cpp holds activation, focus, anti-hang, notices and
// closing, main_form_ports.cpp the port side the life cycle calls.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/list_box.h"
#include "platform/vcl/menus.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/timer.h"
#include "platform/win/message_window.h"
#include "ports/comm_port_driver.h"
#include "ports/foreign_port.h"
#include "platform/rtl/le_list.h"
#include "terminal/config_location.h"
#include "terminal/list_analysis.h"
#include "terminal/receive_list.h"
#include "terminal/receive_list_files.h"
#include "terminal/receive_panel.h"
#include "terminal/receive_queue.h"
#include "terminal/receive_router.h"
#include "terminal/transmit_parser.h"

namespace graph {
class TfGraph;
}

namespace script::runtime {
class TMyScript;
}

namespace terminal {

// One port of the main window (index 0 "Port2", index 1 the main port).
struct TPortSlot {
    vcl::TSpeedButton* Button = nullptr;
    vcl::TComboBox* Combo = nullptr;
    int DropWidth = 0;
    ports::TCommPortDriver* Driver = nullptr;
    // Bytes received since the counter was cleared; 64 bits, so that a long
    // capture never wraps to a small number.
    std::uint64_t RxCount = 0;
};

// "Port is not connected": the message stays as it is for plug-ins, which see
// it through Send; Reason is the serial layer's word on why the port could not
// be used (empty when there is none), which the Transmit box adds on a line
// of its own.
class ENotConnected : public rtl::Exception {
public:
    ENotConnected(std::string message, std::string reason)
        : rtl::Exception(std::move(message)), Reason(std::move(reason)) {}
    std::string Reason;
};

// A stored set of port settings (slots 1 to 10 named, 11 the current ones).
struct TPortProfile {
    std::int32_t Port = 0;
    std::int32_t Port2 = 0;
    std::int32_t DataBits = 3;
    std::int32_t StopBits = 0;
    std::int32_t Parity = 0;
    std::int32_t Speed = 9600;
    bool DTR = true;
    bool RTS = false;
    std::string Name;
    std::string PlugPath;
    std::string AuxParams;
    // PlugPath as the settings file spelled it, and what that was read as:
    // while PlugPath is still that, the file gets its own spelling back, so
    // that a profile nobody touched is written as it was read.
    std::string StoredPlugPath;
    std::string StoredPlugPathRead;
};

// A named plug-in variable (names upper case).
struct TPluginVar {
    std::string Name;
    std::string Value;
};

// Plug-in flags.
enum : std::uint8_t { APTD = 1, APRD = 2, APGD = 4 };

// Slots of the port-slot table.
enum : int { PortSlot2 = 0, PortSlotMain = 1 };

// Text of the guard that keeps commands from a running plug-in event.
inline constexpr const char* kPluginRunningText =
    "Can't execute this command because the plugin is running";

class TMain : public vcl::TForm {
public:
    explicit TMain(vcl::TComponent* owner);
    ~TMain() override;

    // ---- Ports
    ports::TCommPortDriver* cp1;
    ports::TCommPortDriver* cp2;
    vcl::TSpeedButton* sbPort;
    vcl::TComboBox* ComNcb;
    vcl::TSpeedButton* sbPort2;
    vcl::TComboBox* cbComN2;
    vcl::TComboBox* speedcb;
    vcl::TComboBox* Databitscb;
    vcl::TComboBox* Stopbcb;
    vcl::TComboBox* Parcb;
    vcl::TLabel* lblSpeed;
    vcl::TLabel* lblDataBits;
    vcl::TLabel* lblStopBits;
    vcl::TLabel* lblParity;
    vcl::TCheckBox* cbFlow;
    vcl::TCheckBox* DTRcb;
    vcl::TCheckBox* rtscb;
    vcl::TCheckBox* CBLineBreak;
    vcl::TCheckBox* CBRS485;
    vcl::TButton* BSpeed;
    vcl::TButton* Rereadportsb;
    vcl::TPanel* pnlCommPrms;
    vcl::TPanel* pnlForPPrms;
    // ---- Profiles
    vcl::TComboBox* CBProfile;
    vcl::TButton* Saveb;
    vcl::TButton* BDelProfile;
    // ---- Transmit
    vcl::TComboBox* TrBCB;
    vcl::TButton* Transb;
    vcl::TButton* BTrArrow;
    vcl::TTimer* tmr1;
    vcl::TCheckBox* TmrEnCB;
    vcl::TEdit* TmrEd;
    vcl::TTrackBar* ttr1;
    vcl::TLabel* LTRFormat;
    vcl::TSpeedButton* sbTRFormat;
    vcl::TSpeedButton* sbPlugin;
    // ---- Layout containers
    vcl::TGroupBox* GBUpper;
    vcl::TGroupBox* RvGB;
    vcl::TGroupBox* TrGB;
    vcl::TSplitter* Splitter1;
    vcl::TPanel* pnlTR;
    vcl::TGroupBox* Timergb;
    vcl::TGroupBox* nastrp;
    vcl::TPanel* pnlDRV;
    vcl::TCheckBox* dRVcb;
    vcl::TLabel* TRLabel;
    vcl::TLabel* RVLabel;
    vcl::TLabel* lblSets;
    vcl::TSpeedButton* LNumFormat;
    // ---- Timers and application events
    vcl::TTimer* TmrPortConn;
    vcl::TTimer* tmrAntiHang;
    vcl::TApplicationEvents* ApplicationEvents1;
    // ---- Menus
    vcl::TPopupMenu* pmView;
    vcl::TPopupMenu* pmList;
    vcl::TPopupMenu* pmLine;
    vcl::TPopupMenu* pmTrArrow;
    vcl::TPopupMenu* pmOutput;
    vcl::TPopupMenu* pmLCount;
    vcl::TPopupMenu* pmTRFormat;
    vcl::TPopupMenu* pmPlugin;
    vcl::TMenuItem* mLoadPlugin;
    vcl::TMenuItem* mReloadPlugin;
    vcl::TMenuItem* mUnloadPlugin;
    vcl::TMenuItem* mEditPlugin;
    vcl::TMenuItem* mViewTmr;
    vcl::TMenuItem* mViewSet;
    vcl::TMenuItem* mLayout1;
    vcl::TMenuItem* mLayout2;
    vcl::TMenuItem* mLayout3;
    vcl::TMenuItem* mShowGraph;
    vcl::TMenuItem* mClearCounter;
    vcl::TMenuItem* mPollDelay;
    vcl::TMenuItem* N1ms1;
    vcl::TMenuItem* m5ms;
    vcl::TMenuItem* m50ms;
    vcl::TMenuItem* m200ms;
    vcl::TMenuItem* m500ms;
    vcl::TMenuItem* m1000ms;
    vcl::TMenuItem* mTimeInRVPanel;
    vcl::TMenuItem* mTimeFreeFormat;
    vcl::TMenuItem* mTimecaninterruptdatarow;
    vcl::TMenuItem* Precisetimecalc1;
    vcl::TMenuItem* ShowErrorsm;
    vcl::TMenuItem* Infinitem;
    vcl::TMenuItem* mShowASCIInonvisiblecodes;
    vcl::TMenuItem* mShowWrites;
    vcl::TMenuItem* mStayonTop;
    vcl::TMenuItem* Disableondeactivate1;
    vcl::TMenuItem* mAddLnBefTr;
    vcl::TMenuItem* Fontm;
    vcl::TMenuItem* mPortScanMeth;
    vcl::TMenuItem* mRetrieveportdescriptions;
    vcl::TMenuItem* Outputtofile1;
    vcl::TMenuItem* mHelp;
    // Pattern entries of pmLine (fourth to eighth entries).
    vcl::TMenuItem* N11;
    vcl::TMenuItem* N9;
    vcl::TMenuItem* N10;
    vcl::TMenuItem* N12;
    vcl::TMenuItem* alt51;
    // ---- Dialogs
    vcl::TFontDialog* fd1;
    vcl::TOpenDialog* od1;
    vcl::TSaveDialog* sd1;
    vcl::TOpenDialog* odPlug;
    vcl::TOpenDialog* odInt;
    // ---- The receive list (built in FormCreate)
    TMyListbox* lb1 = nullptr;

    // ---- Receive panel and receive path (main_form_receive.cpp)
    // The clock goes first: the panel keeps a reference to it.
    TSystemReceiveClock RxClock;
    std::unique_ptr<TReceivePanel> RxPanel;  // the lines shown in lb1
    // Output to a file, while it is on: open as the binary type (raw mode)
    // it takes the received chunks as they come, as text it takes the
    // rendered lines. Each file opened is an output of its own, which
    // RxRouter owns (receive_router.h).
    TListOutput* OutputOn() const { return RxRouter.On(); }
    // Line errors counted per port slot in the current one-second window.
    struct TErrStat {
        std::uint32_t StartTick = 0;
        std::uint32_t Count = 0;
    };
    TErrStat ErrStat[2];

    // While data comes in, what it changes on screen (the list, its scroll
    // bar, the byte counters) is shown once a frame rather than once a
    // chunk: a chunk that comes within a frame of the last one shown is
    // held (its lines are in the panel, the list control does not know of
    // them yet), and the frame timer shows all that was held together. Any
    // other change of the list shows at once, held lines included.
    static constexpr int kReceiveFrameMs = 100;
    std::unique_ptr<vcl::TTimer> ReceiveFrame;
    std::uint32_t ReceiveFrameShown = 0;  // tick count of the last frame
    bool ReceiveViewHeld = false;         // something waits for the frame
    bool HoldingChunk = false;            // a held chunk is being rendered
    // A received chunk is about to change the view: true when it is to be
    // held for the next frame, false when it may show at once.
    bool HoldReceiveView();
    void ShowReceiveFrame();

    // Creates the panel and links it with lb1, the graph window, the
    // anti-hang check and the output file; hooks both drivers' events.
    void CreateReceivePanel();
    // The panel's options as the menus and settings hold them now.
    void SyncReceivePanelOptions();
    // Shown where lines go now: the text output that is on, or the list.
    // Time 0: now. Peer: whose bytes within the port (TReceivePanel::ShowData).
    void ShowData(const void* Data, std::size_t Count, std::uint8_t Dir, double Time = 0, std::uint64_t Peer = 0);
    // A whole MSG or ERR line in the list; Time 0 means now.
    void AddTextLine(std::string_view Text, std::uint8_t Dir, double Time, TDataFormat Format);
    // The output that is on when it takes the list's lines as text, or null
    // (the list).
    TListOutput* TextOutput();
    // A chunk read for Owner (an output file; null: the list), whose words
    // it pairs with, rendered into To (a text file; null: the list), under
    // its peer's Name where To named another peer last. A file kept it
    // until it has taken it: should it fail first, what it never took comes
    // back to the list (the output tells its failure itself).
    void Render(TListOutput* To, TLineSink* Owner, const void* Data, std::size_t Count, std::uint8_t Dir,
                double Time, std::uint64_t Peer, std::string_view Name = {});
    // What the words read for Owner (null: the list) left unpaired, of
    // stream Dir and Peer (every peer: All): each byte shown alone where
    // Owner's data goes now (Owner while it is open, else the list).
    void ShowLoneBytesOf(TListOutput* Owner, std::uint8_t Dir, std::uint64_t Peer, bool All);
    // One such byte shown in To, kept there until the file has taken it.
    void ShowLoneByte(TListOutput* To, const TLoneByte& Lone);
    bool GraphValue(std::uint8_t B, std::uint8_t Dir, bool Signed, double& Value);
    double CurrentTime();
    void RecalcListMetrics();
    void lb1DrawItem(vcl::TComponent* Control, int Index, const vcl::TRect& Rect,
                     vcl::TOwnerDrawState State);
    // OnReceiveData of both drivers: the main port's driver is cp1.
    void cp1ReceiveData(vcl::TComponent* Sender, const void* DataPtr, std::uint32_t DataSize);

    // The one way of received bytes: every chunk a port reads joins the
    // receive queue (receive_queue.h) with the time it was read, and one
    // pump, started by a posted message, hands the queue on: each chunk to
    // the plug-in's receive event, then counted and to the raw output file,
    // or the list and the graph. What comes for a port while that port's own
    // receive event runs, or while a plug-in's Recv reads it, waits in the
    // queue; every other port's bytes go on meanwhile. Each port reads no
    // more than the room its waiting pieces leave it. Which piece goes where
    // and when is RxRouter's (receive_router.h); the window wires it to the
    // ports, the panel, the plug-in and the output files.
    TReceiveQueue RxQueue;
    TReceiveRouter RxRouter{RxQueue, RouterHooks()};
    TReceiveRouterHooks RouterHooks();
    // A piece read now. NameKey and NameLine name the peer it came from (see
    // TReceivedPiece).
    void ReceiveData(TReceiveSource Source, const void* DataPtr, std::uint32_t DataSize,
                     std::uint64_t NameKey = 0, std::string NameLine = {});
    // A foreign port's line about reception or its peers, in its place in
    // the stream of the client it concerns.
    void ReceiveLine(int Code, const std::string& Text, TReceiveSource Source);
    // A line handed on (the router's ShowLine): a foreign port's in the
    // list, a serial port's line error where its port's data goes (To).
    void ShowReceiveLine(TListOutput* To, const TReceivedPiece& Piece);
    void PostReceivePump();
    // Hands on the oldest pieces nothing holds (RxRouter.Pump).
    void PumpReceived();
    // The router's hooks: a piece shown (or written) where it goes, and what
    // a peer or port that has gone left unpaired.
    void ShowReceived(TListOutput* To, const TReceivedPiece& Piece);
    void ShowGone(const TReceivedPiece& Piece);
    // A port (Key 0: every peer of it) or a peer has gone: after what it
    // sent, what its words left unpaired is shown.
    void ReceiveGone(const TReceiveSource& Source, std::uint64_t Key);
    // An output file failed: the notice, the check mark, and what it had not
    // taken shown in the list.
    void OutputFailed(TListOutput& File, bool WasOn, std::vector<TUnwrittenChunk> Rest);
    // The peer whose receive event runs: the lines the plug-in adds then
    // come under its name in the list.
    struct TEventPeer {
        std::uint64_t Key = 0;
        std::string Name;
        double Time = 0;
    };
    TEventPeer EventPeer;
    void NameEventPeer();
    // A line the plug-in adds: under its receive event's peer, in the list.
    void AddPluginLine(std::string_view Text, TDataFormat Format);
    // Output files the program still owes what their pipes have not taken
    // when the window closes: written once the window has gone.
    std::vector<std::unique_ptr<TListOutput>> Finishing;
    void FinishOutputs();
    // An output that failed while the close handed data on: what it never
    // got (bytes of data, counted until the close has handed all on) goes
    // to standard error, the only place left to tell it.
    struct TCloseFailure {
        const TListOutput* File = nullptr;
        std::string Name;
        std::string Failure;
        std::size_t Unwritten = 0;
    };
    std::vector<TCloseFailure> CloseFailures;
    // Counts Bytes read for File as never written when File failed during
    // the close; false (nothing counted) otherwise.
    bool UnwrittenAtClose(const TListOutput* File, std::size_t Bytes);
    void TellCloseFailures();
    // A save of the list is under way as the window closes: the list takes
    // no more lines (what would go there goes with the window unseen).
    bool ListHeld = false;
    // Each port may read as much as its input buffer less what its stream
    // holds; a foreign port's client is held back once its stream holds as
    // much.
    void UpdateReceiveRooms();
    void UpdateForeignHold(const TReceiveSource& Source);
    // The room of the port Source's stream belongs to.
    void UpdateRoomOf(const TReceiveSource& Source);
    // The largest a stream grows to: the port's input buffer.
    std::size_t StreamBound(const TReceiveSource& Source) const;
    // Closing: the ports are closed and what they had read goes on at once,
    // without plug-in events (RxRouter.Closing() tells from then on).
    void DeliverEverything();
    // The window's own posted messages: the pump, and a close that let a
    // waiting save return first.
    win::HWND PostWindow = 0;
    static constexpr win::UINT kPumpMessage = win::WM_USER + 1;
    static constexpr win::UINT kCloseMessage = win::WM_USER + 2;
    bool PumpPosted = false;
    // Output to file off: closes the file, or keeps it for what was read for
    // it and still waits.
    void SwitchOutputOff();
    // Output to file on into a file switched off that still waits for what
    // was read for it: carries on writing it, as the same type only.
    void ResumeOutput(const TListOutput& Waiting, TListFileType Type);
    // Counts a chunk on its port; true when its display waits for the next
    // frame (HoldReceiveView).
    bool CountReceived(bool IsMain, std::size_t Size);
    // OnReceiveError of both drivers; Errs is the driver's line-error bit set.
    void cp1ReceiveError(vcl::TComponent* Sender, std::int32_t Errs);
    // An error line in the panel: folded into the line before the current
    // one when that is the same error of the same direction within 10 s
    // (its count in brackets goes up), else a new ERR line.
    void AddErrorLine(const std::string& Text, std::uint8_t Dir, double Time);
    // A chunk a failed output (Owner) had not taken, shown in the list
    // (counted already, and graphed when it was rendered as text), paired
    // as it was read for it.
    void ShowUnwritten(const TUnwrittenChunk& Chunk, TListOutput& Owner);
    bool RenderingFailedChunk = false;  // the chunk is shown again: its values are graphed already
    // The receive list has reached its memory limit: the notice, once.
    void ListLimitReached(std::size_t LimitBytes, int Lines);
    void ShowErrorsmClick(vcl::TComponent* Sender);
    // Whether a plug-in is loaded (its receive hook and its display flags).
    bool PluginLoaded() const;
    // ---- End of receive panel and receive path

    // ---- Transmit path (main_form_transmit.cpp)
    // The transmit buffer and the parse of the transmit box's line.
    TTransmitParser TrParser;
    // Whether the next transmission parses the line again. Setting it marks
    // the line; only a successful parse clears it.
    class TParseNeededFlag {
    public:
        explicit TParseNeededFlag(TTransmitParser& Parser) : parser_(Parser) {}
        operator bool() const { return parser_.ParseNeeded(); }
        TParseNeededFlag& operator=(bool Value) {
            if (Value) parser_.MarkForParse();
            return *this;
        }

    private:
        TTransmitParser& parser_;
    };
    TParseNeededFlag ParseNeeded{TrParser};
    // Cleared while a file is being sent; setting it again cancels the file.
    bool TransmitEnabled = true;
    // The Transmit button's caption while it reads "Cancel".
    std::string TransbCaption;

    // Wires the transmit controls, menus and the transmit timer.
    void BuildTransmitPath();
    void TransbClick(vcl::TComponent* Sender);
    void TransmitLine(vcl::TComponent* Sender);  // TransbClick's work
    // Parses the line when needed; shows a parse error and answers false.
    bool ParseTransmitLine();
    // A transmission the user starts while a plug-in event runs: refused
    // ("the plugin is running") when the plug-in has a send event that would
    // be left out; without one it goes out as usual.
    void CheckPluginSendIdle();
    // Whether a plug-in event runs in a plug-in that has a send event: only
    // then is anything that would be sent held back.
    bool PluginHoldsSends() const;
    // Selects Length characters of the transmit box's line from Start (0-based).
    void SelectTransmitSpan(int Start, int Length);
    // Who sends: a plug-in's Send or Send2 to a serial port waits for a slow
    // device with the message loop running (WriteForPlugin) and says in an
    // error line when not every byte went out.
    enum class TSender { User, Plugin };
    std::uint32_t SendData(const void* Buf, std::uint32_t Count, bool ShowCount, TSender By = TSender::User);
    std::uint32_t SendData2(const void* Buf, std::uint32_t Count, TSender By = TSender::User);
    // Set while a plug-in's Send (PortSlotMain) or Send2 (PortSlot2) waits
    // for the device: every other send to that port is refused meanwhile
    // (PluginHoldsSends; Port2 has no sender but the plug-in), so that no
    // bytes interleave with the plug-in's.
    bool PluginSendWaiting[2] = {false, false};
    // Writes Count bytes within the driver's write time-out for them, in
    // slices with the message loop running between them; stops early when
    // the plug-in is stopped or the port closed. Ok as the driver's; Why is
    // the reason when bytes are left over.
    std::uint32_t WriteForPlugin(ports::TCommPortDriver& Driver, int Slot, const void* Buf, std::uint32_t Count,
                                 bool& Ok, std::string& Why);
    // The error line of a send (a plug-in's, or the user's line) that left
    // bytes unsent: "<What>: <Sent> of <Count> sent (<Why>)".
    void ReportUnsent(const char* What, std::uint32_t Sent, std::uint32_t Count, const std::string& Why,
                      std::uint8_t Dir);
    void TrBCBKeyDown(vcl::TComponent* Sender, std::uint16_t& Key, vcl::TShiftState Shift);
    void TrBCBChange(vcl::TComponent* Sender);
    void Addcurrent1Click(vcl::TComponent* Sender);
    void Clearfixedlines1Click(vcl::TComponent* Sender);
    void alt51Click(vcl::TComponent* Sender);
    void mCopyClick(vcl::TComponent* Sender);
    void mPasteClick(vcl::TComponent* Sender);
    void BTrArrowClick(vcl::TComponent* Sender);
    void EnableTrControls(bool Enable);
    // Plug-in variables and display flags (names upper case).
    void ScriptSetV(const std::string& Text, const std::string& Delimiter);
    std::string ScriptGetV(const std::string& Name);
    void SetPluginVar(const std::string& Name, const std::string& Value);
    std::string GetPluginVar(const std::string& Name);
    // RS-485 mode drives RTS around a transmission through this.
    virtual void SetRS485Line(bool Raised);
    // ---- End of transmit path

    // ---- Receive-list files and file sending (main_form_files.cpp)
    // Whether Shift is held (copying without prefixes); a seam for tests.
    std::function<bool()> ShiftHeld;
    // Hooks the receive list's menu, "Output to file.." and the file
    // sending entries (called by FormCreate).
    void BuildFileCommands();
    void CrmClick(vcl::TComponent* Sender);
    void mDeleteLineClick(vcl::TComponent* Sender);
    void mCopyLineClick(vcl::TComponent* Sender);
    void ClearmClick(vcl::TComponent* Sender);
    void mCopyAllClick(vcl::TComponent* Sender);
    void Load1Click(vcl::TComponent* Sender);
    void mSaveAllClick(vcl::TComponent* Sender);
    void Outputtofile1Click(vcl::TComponent* Sender);
    // A save onto the file that output goes to would replace the capture:
    // refused with EFileSaveError naming it as the output file (the list's
    // and the graph window's saves ask first).
    void CheckNotOutputFile(const std::string& FileName) const;
    // What a file switched off that is still written waits for, as a
    // clause of a message.
    std::string WaitsFor(const TListOutput& Waiting) const;
    // The check mark of "Output to file", the "FILE:" label and the panel's
    // writer made to agree with whether the output file is open.
    void ShowOutputState();
    // Writes Count bytes to the main port in chunks, keeping the window
    // alive; with WithCancel the Transmit button reads "Cancel" meanwhile.
    // False when the user cancelled. A closed port raises "Port is not
    // connected".
    bool SendRaw(const void* Buf, std::size_t Count, bool WithCancel);
    // SendRaw on the foreign port: waits for room in its send queue with
    // the window going on, counts exactly what was handed over, and names
    // the port's reason when it cannot go on.
    bool SendForeignRaw(const char* p, std::size_t Count, bool WithCancel);
    // A write to the serial port failed: the port is lost. What the write
    // did put out has left and is counted before the error is raised.
    [[noreturn]] void SerialWriteFailed(std::uint32_t Written);
    void SendASCIIHEXFile1Click(vcl::TComponent* Sender);
    void SendSelflog1Click(vcl::TComponent* Sender);
    void SendBINFile1Click(vcl::TComponent* Sender);
    void mSendBinaryFileWithTagsClick(vcl::TComponent* Sender);
    void SendBinaryFile(const std::string& FileName, bool WithTags);
    // ---- End of receive-list files and file sending

    // ---- State shared by the terminal's parts
    TPortSlot PortSlots[2];
    TPortProfile Profiles[12];  // slots 1 to 11; [0] is unused
    bool WasMinimized = false;
    std::uint32_t AntiHangStamp = 0;
    std::string PluginPath;
    bool PluginBusy = false;
    std::uint8_t PluginFlags = 0;
    std::unique_ptr<ports::TForeignPort> ForeignPort;  // when one is selected
    std::unique_ptr<rtl::TLEListOf<TPluginVar>> PluginVars;
    std::vector<std::string> PortDescriptions;  // "COMn=description"
    std::uint64_t SentCount = 0;

    // Options (values after creation; the settings file may change them).
    int DataFormat = 1;
    int TRFormat = 0;
    std::string TrLineBreak = "\r\n";
    char RvLineBreak = '\n';
    int TRComboHistoryLen = 7;
    int RVPnlTime = 2;
    std::string RVPnlTimeFormat = "yyyy-mm-dd hh:nn:ss.zzz";
    int Layout = 1;
    int PollingIndex = 2;
    int PortScanMethod = 2;
    bool ReceptionEnabled = true;
    bool SendingCancelled = true;
    int CPUSpeed = 0;

    // The settings file (config_location.h): read at the first activation
    // (the seed instead while it does not exist yet), written on close and
    // when profiles change.
    std::string ConfigFileName;
    std::string ConfigSeedFileName;
    TConfigLocation ConfigPlace() const { return {ConfigFileName, ConfigSeedFileName}; }

    // ---- Life cycle
    void FormCreate(vcl::TComponent* Sender);
    void FormActivate(vcl::TComponent* Sender);
    // Closing never waits for a plug-in: a running event is asked to stop
    // (as Unload does), its boxes close, and what the ports have read goes on
    // at once without plug-in events; the settings keep the plug-in.
    void FormCloseQuery(vcl::TComponent* Sender, bool& CanClose);
    // The close's first part, at once also while a save is written on: the
    // plug-in stopped, the timers ended, the ports closed and what they had
    // read handed on; the output files set aside to be finished. Once.
    void LetGoOfPorts(bool ListSaving);
    // One part of the close: a failure is shown and the rest goes on.
    void CloseStep(const std::function<void()>& Do);
    bool Closed = false;  // the close has let go of everything
    bool FirstActivationDone() const { return !first_activation_; }

    void ApplicationEvents1Activate(vcl::TComponent* Sender);
    void ApplicationEvents1Deactivate(vcl::TComponent* Sender);
    void ApplicationEvents1Minimize(vcl::TComponent* Sender);
    void ApplicationEvents1Restore(vcl::TComponent* Sender);
    void ApplicationEvents1SettingChange(vcl::TComponent* Sender);
    void FocusChanged(bool Active);

    void tmrAntiHangTimer(vcl::TComponent* Sender);
    // The period of tmrAntiHang, which renews AntiHangStamp.
    static constexpr std::uint32_t kAntiHangTickMs = 2000;
    // Raises the polling delay when the anti-hang stamp is over 7 s old, not
    // counting what a plug-in event held the loop for by itself.
    void CheckAntiHang();
    // The watchdog's clock in ms: GetTickCount, unless a test sets one.
    std::function<std::uint32_t()> AntiHangClock;
    std::uint32_t AntiHangNow() const;
    // When the running plug-in event last let the message loop run: its
    // start, or the last turn of a wait of its own (NBSleep, Recv, a Send
    // that waits for the device).
    std::uint32_t PluginLoopTurn = 0;
    void NotePluginLoopTurn();
    // How long the running event has held the loop by itself (since
    // PluginLoopTurn), when that is at least the watchdog timer's period, so
    // that the timer could not tick; 0 otherwise and while no event runs.
    std::uint32_t PluginHeldLoopMs(std::uint32_t Now) const;
    void IncreasePollingDelay();
    void ShowNotice(vcl::TMsgDlgType DlgType, const std::string& Text);

    void CheckPluginIdle();
    void SetPluginBusy(bool Value);

    void GraphWindowClose(vcl::TComponent* Sender, vcl::TCloseAction& Action);
    void mShowGraphClick(vcl::TComponent* Sender);

    // ---- Counters
    void ShowRxCount();
    void ShowTxCount();
    void RVLabelClick(vcl::TComponent* Sender);
    void mClearCounterClick(vcl::TComponent* Sender);

    // ---- Calls into other parts of the terminal (see each definition for
    // how much of them stands so far)
    void ReadConfig(int& SelectedProfile, bool& NoTimeBeginPeriod);
    void SaveConfig(bool All);
    void ReadPorts();
    void ApplyConf(int Slot);
    void ClearProfile(int Slot);
    bool ApplyPortParams(bool Silent, bool Main);
    // The main port, then Port2 even when the main port failed; the main
    // port's error (if any) goes on afterwards, with Port2's error after its
    // text when both failed.
    void ApplyBothPortParams(bool SilentMain, bool Silent2);
    void ApplyBothPortParams(bool Silent) { ApplyBothPortParams(Silent, Silent); }
    void RefreshPortState(bool Main);
    void ForceComNumber(int PortNum, bool Main);
    void AddPortItem(vcl::TComboBox* Combo, int PortNum, int Index);
    void StartNewLine(bool Repaint);
    void SetLayout(int L);
    void m1000msClick(vcl::TComponent* Sender);
    void BSpeedClick(vcl::TComponent* Sender);
    void UpdateSettingsSummary();
    void CBProfileChange(vcl::TComponent* Sender);
    void Disableondeactivate1Click(vcl::TComponent* Sender);
    void ToggleCheck(vcl::TComponent* Sender);

    // The polling-delay entries in menu order.
    vcl::TMenuItem* PollingEntry(int Index) const;

    // ---- Port selection, port control and RS-485 (main_form_ports.cpp,
    // main_form_rs485.cpp; ReadPorts, ApplyPortParams, ApplyBothPortParams,
    // RefreshPortState, ForceComNumber, AddPortItem, m1000msClick and
    // BSpeedClick are declared above)
    // The settings of the last foreign port freed: "<class id>|<settings>".
    std::string LastForeignSettings;
    // The last rate typed for "Custom..".
    std::string LastCustomSpeed = "200";
    // How long the clock measurement counts (a seam for tests).
    int CpuMeasureMs = 4096;
    // Position of a class id in the foreign-port table (-1, or the error).
    static int ForeignClassIndex(std::int32_t Id, bool RaiseIfMissing);
    void SwitchPortPanel();
    void ForeignPortStateChanged();
    void ForeignPortEvent(int Code, const std::string& Text, std::string& Reply);
    // The transmit path's checks: the port is open (else ENotConnected) / its
    // handle still takes writes.
    void CheckConnected(bool Main);
    // Why a serial port that is wanted (a COM port chosen, not freed by the
    // user) is closed, as the serial layer said it; empty otherwise.
    std::string PortFailureReason(bool Main) const;
    bool CheckPortHandle(bool Main, bool RaiseIt);
    void SetPortButtonLook(vcl::TSpeedButton* Button);
    void sbPortClick(vcl::TComponent* Sender);
    void ComNcbChange(vcl::TComponent* Sender);
    void ComNcbDrawItem(vcl::TComponent* Control, int Index, const vcl::TRect& Rect,
                        vcl::TOwnerDrawState State);
    void ComNcbDropDown(vcl::TComponent* Sender);
    void speedcbChange(vcl::TComponent* Sender);
    void cbFlowClick(vcl::TComponent* Sender);
    void RereadportsbClick(vcl::TComponent* Sender);
    void TmrPortConnTimer(vcl::TComponent* Sender);
    void CBLineBreakClick(vcl::TComponent* Sender);
    void mPortScanMethClick(vcl::TComponent* Sender);
    void mRetrieveportdescriptionsClick(vcl::TComponent* Sender);
    void CBRS485Click(vcl::TComponent* Sender);
    // Switching RS-485 mode on without a known clock rate measures it once
    // the current event is over: while the settings file is read the mode
    // comes before the stored rate, which must not cost a measurement.
    vcl::TTimer* tmrRS485On = nullptr;
    void tmrRS485OnTimer(vcl::TComponent* Sender);
    // The transmit path's wait in RS-485 mode, counted at CPUSpeed.
    void RS485Wait(std::int64_t Microseconds) const;
    // Hooks the handlers above to their controls (called by FormCreate).
    void HookPortControls();
    // ---- End of port selection, port control and RS-485

    // ---- Settings file and profiles (main_form_settings.cpp,
    // main_form_profiles.cpp; ReadConfig, SaveConfig, ApplyConf, ClearProfile,
    // CBProfileChange and UpdateSettingsSummary are declared above)
    int ApplyingProfile = 0;      // non-zero while ApplyConf runs
    int AppliedProfile = -1;      // the entry of CBProfile in force (-1: none)
    std::string LastProfileName;  // initial text of the save dialog
    void StoreProfile(int Slot, const std::string& Name);
    void SavecfgbClick(vcl::TComponent* Sender);
    void BDelProfileClick(vcl::TComponent* Sender);
    void CBProfileDropDown(vcl::TComponent* Sender);
    // Gives CBProfile, Saveb and BDelProfile their handlers (FormCreate).
    void HookProfileControls();
    // The one-line summary of the port settings ("9600,8N1,Dr,485").
    std::string GetParamsSummary(bool NoPlugin);
    // Every change of a port setting ends here: the profile selection is
    // dropped (unless a profile is being applied) and the ports follow.
    void speedcbExit(vcl::TComponent* Sender);

    // ---- Timer, views, shortcuts, layouts and help (main_form_views.cpp;
    // SetLayout and UpdateSettingsSummary are declared above). Every option
    // handler called with no Sender applies the state its control holds now
    // without toggling it (this is how the settings reading applies values).
    // Raised while SetTimerInterval runs, so that the text box, the track
    // bar and the timer do not update each other in a loop.
    int TimerIntervalGuard = 0;
    // Track bar positions 1 to 37 and timer intervals in ms.
    static int TrackPosToInterval(int Position);
    static int IntervalToTrackPos(int Milliseconds);
    // The single place that changes the transmit timer's interval.
    void SetTimerInterval(int Milliseconds, bool FromTextBox);
    void ttr1Change(vcl::TComponent* Sender);
    void TmrEdChange(vcl::TComponent* Sender);
    void TmrEdKeyDown(vcl::TComponent* Sender, std::uint16_t& Key, vcl::TShiftState Shift);
    void TmrEnCBClick(vcl::TComponent* Sender);
    // Output data format (pmOutput) and its label LNumFormat.
    void ASCII1Click(vcl::TComponent* Sender);
    void UpdateNumFormat();
    // Input format (pmTRFormat).
    void mStringModeClick(vcl::TComponent* Sender);
    // Line breaks: the index into the table CR, LF, CR LF, NUL, none.
    void SetLineBreak(bool IsTransmit, int Index);
    static int LineBreakIndex(const std::string& Text);
    // Time display of the receive panel and the panel's view toggles.
    void milliseconds1Click(vcl::TComponent* Sender);
    void mTimeFreeFormatClick(vcl::TComponent* Sender);
    void mTimecaninterruptdatarowClick(vcl::TComponent* Sender);
    void Precisetimecalc1Click(vcl::TComponent* Sender);
    void mShowASCIInonvisiblecodesClick(vcl::TComponent* Sender);
    void InfinitemClick(vcl::TComponent* Sender);
    void mShowWritesClick(vcl::TComponent* Sender);
    void mStayonTopClick(vcl::TComponent* Sender);
    void FontmClick(vcl::TComponent* Sender);
    // Takes the font only when the screen has it.
    void SetListFont(const std::string& Name, int Size);
    void dRVcbClick(vcl::TComponent* Sender);
    void mViewTmrClick(vcl::TComponent* Sender);
    void mViewSetClick(vcl::TComponent* Sender);
    // The settings link of layout 3 and its floating column.
    void lblSetsClick(vcl::TComponent* Sender);
    void RvGBExit(vcl::TComponent* Sender);
    // Layout 3: the summary refreshed and the floating column hidden.
    void HideFloatingColumn();
    bool ColumnFloating() const { return Layout == 3 && RvGB->Parent() == TrGB; }
    // Window geometry.
    void FormResize(vcl::TComponent* Sender);
    void RxSplitter1Resize(vcl::TComponent* Sender);
    // "Disable Receive (F10)" at the column's bottom, or below the groups
    // above it when the column is too low for both.
    void PlaceReceptionSwitch();
    void FormKeyDown(vcl::TComponent* Sender, std::uint16_t& Key, vcl::TShiftState Shift);
    void mHelpClick(vcl::TComponent* Sender);
    void About1Click(vcl::TComponent* Sender);
    // The program's version from the build ("" when the build gave none).
    static std::string FileVersion();
    // Whether Alt is held (a pattern entry chosen by its shortcut); a seam
    // for tests.
    std::function<bool()> AltHeld;
    // Gives the controls and entries above their handlers (FormCreate).
    void HookViewControls();
    // ---- End of timer, views, shortcuts, layouts and help

    // ---- Plug-in control (main_form_plugin.cpp; PluginPath, PluginBusy,
    // PluginFlags and the variable store are with the shared state below,
    // ScriptSetV and ScriptGetV with the transmit path)
    std::unique_ptr<script::runtime::TMyScript> Script;
    std::string LastPluginPath;  // the last plug-in that loading was tried for
    // The plug-in the settings or a chosen profile named that could not be
    // loaded (a share not mounted yet): the profiles keep naming it until
    // the user loads another plug-in, chooses a profile or unloads, so that
    // a failed start does not erase it from the settings.
    std::string PendingPluginPath;
    // Raised whenever the foreign port object is replaced or freed, so that
    // a wait that paused one can tell that it has gone.
    std::uint32_t ForeignPortSerial = 0;
    // Opens a document with the desktop's opener (a seam for tests).
    std::function<int(const std::string& File)> ShellOpen;
    void LoadPlugin(const std::string& FileName);
    void UnloadPlugin();
    void SetPluginButton(const std::string& Caption);
    // Sizes the plug-in button to its caption, shortened with "..." where the
    // row between the sent count and the format button is too narrow, and
    // places the button and the "Input:" label left of the format button.
    void FitPluginButton();
    std::string PluginCaption;
    void sbPluginClick(vcl::TComponent* Sender);
    void pmPluginPopup(vcl::TComponent* Sender);
    void mLoadPluginClick(vcl::TComponent* Sender);
    void mReloadPluginClick(vcl::TComponent* Sender);
    void mUnloadPluginClick(vcl::TComponent* Sender);
    void mEditPluginClick(vcl::TComponent* Sender);
    // The plug-in's requests (codes of script::runtime::TScriptRequest).
    void ScriptCommand(std::int32_t Code, const std::string& Text, std::string& Reply);
    // Reads from the main port for a plug-in: nBytes (0: whatever arrives
    // within the time-out) within Timeout ms, taken from the receive queue.
    void ScriptRecv(std::int32_t nBytes, std::int32_t Timeout, std::string& Data);
    // Whose bytes Recv takes and PurgeRx drops: the main serial port's, or
    // the foreign port's current client's.
    TReceiveSource RecvSource() const;
    // Takes what Recv still wants; true when it has all of nBytes.
    bool TakeForRecv(const TReceiveSource& Source, std::int32_t nBytes, std::string& Data);
    // The receive event: Data becomes what the plug-in left in RD or RD2
    // (unchanged when the event failed).
    void PluginReceiveHook(bool IsMain, std::string& Data);
    // The send event: Data becomes what the plug-in left in TD; false when
    // the event failed and nothing is to be sent.
    bool PluginTransmitHook(std::string& Data);
    // Unloads a plug-in that was asked to stop while its event ran.
    void UnloadIfStopped();
    // ---- End of plug-in control

    // ---- Receive-list analysis, search and data tip (main_form_analysis.cpp)
    // The searches of the "Special" menu and what they remember.
    TListSearch ListSearch;
    // Hooks the "Special" entries of pmList and lb1's mouse moves (FormCreate).
    void BuildAnalysisCommands();
    // Shows a statistic over the whole receive list in the current data format.
    void ShowResult(const TAccumulator& Result);
    void ShowStatistic(TStatistic Statistic);
    void mCountSumClick(vcl::TComponent* Sender);
    void mCountAverageClick(vcl::TComponent* Sender);
    void CountMin1Click(vcl::TComponent* Sender);
    void CountMaximum1Click(vcl::TComponent* Sender);
    // Selects the line found (scrolling to it) or says "Not found".
    void ShowSearchResult(const TSearchResult& Result);
    void FindText1Click(vcl::TComponent* Sender);
    void mFindTimeGapClick(vcl::TComponent* Sender);
    void Finddifference1Click(vcl::TComponent* Sender);
    void Finderror1Click(vcl::TComponent* Sender);
    void Findnext1Click(vcl::TComponent* Sender);
    // With Ctrl held, the data tip for the line under the mouse.
    void lb1MouseMove(vcl::TComponent* Sender, vcl::TShiftState Shift, int X, int Y);
    // ---- End of receive-list analysis, search and data tip

private:
    void BuildControls();
    void BuildMenus();
    void BuildDialogs();
    void BuildPorts();
    void ShowError(const std::string& Text);

    bool first_activation_ = true;
    // The first activation runs and has not applied the stored profile yet.
    bool starting_up_ = false;
};

}  // namespace terminal
