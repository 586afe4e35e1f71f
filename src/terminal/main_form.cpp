#include "terminal/main_form.h"

#include "graph/graph_form.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "script/runtime/my_script.h"

namespace terminal {

namespace {

using vcl::TAlign;

template <class T>
T* Make(TMain* form, const char* name, vcl::TWinControl* parent) {
    T* c = new T(form);
    c->Name = name;
    if (parent) c->SetParent(parent);
    return c;
}

vcl::TCheckBox* MakeCheck(TMain* form, const char* name, vcl::TWinControl* parent,
                          const char* caption, int left, int top, int width) {
    auto* c = Make<vcl::TCheckBox>(form, name, parent);
    c->SetCaption(caption);
    c->SetBounds(left, top, width, 17);
    return c;
}

vcl::TLabel* MakeLabel(TMain* form, const char* name, vcl::TWinControl* parent,
                       const char* caption, int left, int top) {
    auto* l = Make<vcl::TLabel>(form, name, parent);
    l->SetCaption(caption);
    l->SetLeft(left);
    l->SetTop(top);
    return l;
}

vcl::TComboBox* MakeList(TMain* form, const char* name, vcl::TWinControl* parent,
                         std::initializer_list<const char*> items, int index, int left, int top,
                         int width) {
    auto* c = Make<vcl::TComboBox>(form, name, parent);
    c->SetStyle(vcl::TComboBoxStyle::csDropDownList);
    for (const char* s : items) c->Items().Add(s);
    c->SetItemIndex(index);
    c->SetBounds(left, top, width, 21);
    return c;
}

}  // namespace

TMain::TMain(vcl::TComponent* owner) : vcl::TForm(owner) {
    Name = "Main";
    SetCaption("VOSTREL");
    SetBounds(120, 80, 860, 600);
    SetKeyPreview(true);
    BuildPorts();
    BuildMenus();
    BuildControls();
    BuildDialogs();
    OnActivate = [this](vcl::TComponent* s) { FormActivate(s); };
    OnCloseQuery = [this](vcl::TComponent* s, bool& can) { FormCloseQuery(s, can); };
    FormCreate(this);
}

TMain::~TMain() {
    // The window is gone: the output files get what their readers still
    // take before the program ends.
    FinishOutputs();
    // Errors no longer go to this form's panel.
    if (vcl::Application) {
        vcl::Application->OnErrorLine = nullptr;
        vcl::Application->OnWriteWaitTurn = nullptr;
    }
    // The graph window may outlive this form: its handlers go first.
    if (graph::fGraph && !first_activation_) {
        graph::fGraph->OnClose = nullptr;
        graph::fGraph->OnSavePoints = nullptr;
    }
    // The foreign port reports its closing to this form: it goes while the
    // receive panel is still there.
    ForeignPort.reset();
    // A port closing as it goes has nobody left to tell.
    cp1->OnClosed = nullptr;
    cp2->OnClosed = nullptr;
    // The handlers use this form's members: free the controls first.
    DestroyComponents();
    if (PostWindow != 0) win::DeallocateHWnd(PostWindow);
}

void TMain::BuildPorts() {
    for (ports::TCommPortDriver** cp : {&cp1, &cp2}) {
        auto* d = new ports::TCommPortDriver(this);
        d->SetPort(ports::pnCustom);
        d->SetBaudRate(ports::brCustom);
        d->SetHwFlow(ports::hfNONE);
        d->SetInBufSize(1000000);
        d->SetOutBufSize(1000000);
        d->SetPollingDelay(5);
        d->SetEnableDTROnOpen(false);
        d->SetInputTimeout(100);
        d->SetUseMultimediaTimer(true);
        // The receive path of the main window takes over these events.
        d->OnReceiveData = nullptr;
        d->OnReceiveError = nullptr;
        *cp = d;
    }
    cp1->Name = "cp1";
    cp2->Name = "cp2";
}

void TMain::BuildMenus() {
    using vcl::NewItem;
    auto toggle = [this](vcl::TComponent* s) { ToggleCheck(s); };

    pmView = new vcl::TPopupMenu(this);
    pmView->Name = "pmView";
    mViewTmr = NewItem(this, pmView->Items(), "mViewTmr", "Timer");
    mViewSet = NewItem(this, pmView->Items(), "mViewSet", "Settings");
    NewItem(this, pmView->Items(), "N1", "-");
    mLayout1 = NewItem(this, pmView->Items(), "mLayout1", "Layout 1", {}, {}, 1);
    mLayout2 = NewItem(this, pmView->Items(), "mLayout2", "Layout 2", {}, {}, 2);
    mLayout3 = NewItem(this, pmView->Items(), "mLayout3", "Layout 3", {}, {}, 3);
    for (vcl::TMenuItem* m : {mLayout1, mLayout2, mLayout3}) {
        m->SetRadioItem(true);
        m->SetGroupIndex(1);
        m->OnClick = [this](vcl::TComponent* s) {
            SetLayout(static_cast<int>(static_cast<vcl::TMenuItem*>(s)->Tag));
        };
    }
    pmView->OnPopup = [this](vcl::TComponent*) {
        mViewTmr->SetChecked(Timergb->Visible());
        mViewSet->SetChecked(nastrp->Visible());
    };

    pmList = new vcl::TPopupMenu(this);
    pmList->Name = "pmList";
    vcl::TMenuItem* L = pmList->Items();
    NewItem(this, L, "Crm", "New Line", {}, "Enter");
    NewItem(this, L, "mDeleteLine", "Delete Line", {}, "Del");
    NewItem(this, L, "mCopyLine", "Copy Line", {}, "Ctrl+C");
    NewItem(this, L, "Clearm", "Clear", {}, "Esc");
    NewItem(this, L, "mCopyAll", "Copy All");
    NewItem(this, L, "N2", "-");
    NewItem(this, L, "Load1", "Load...");
    NewItem(this, L, "mSaveAll", "Save as...");
    NewItem(this, L, "N3", "-");
    vcl::TMenuItem* special = NewItem(this, L, "Special1", "Special");
    NewItem(this, special, "mCountSum", "Count Sum");
    NewItem(this, special, "mCountAverage", "Count Average");
    NewItem(this, special, "CountMin1", "Count Minimum");
    NewItem(this, special, "CountMaximum1", "Count Maximum");
    NewItem(this, special, "N4", "-");
    NewItem(this, special, "FindText1", "Find Text...");
    NewItem(this, special, "mFindTimeGap", "Find Time Gap...");
    NewItem(this, special, "Finddifference1", "Find two line difference...");
    NewItem(this, special, "Finderror1", "Find error");
    NewItem(this, special, "Findnext1", "Find next", {}, "F3");
    mTimeInRVPanel = NewItem(this, L, "mTimeInRVPanel", "Time in Receive panel");
    const char* times[] = {"No", "Hour:min", "Hour:min:sec", "Hour:min:sec:ms"};
    for (int i = 0; i < 4; ++i) {
        vcl::TMenuItem* t = NewItem(this, mTimeInRVPanel, rtl::Format("mTime%d", {i}), times[i]);
        t->SetRadioItem(true);
        t->SetGroupIndex(2);
    }
    mTimeFreeFormat = NewItem(this, mTimeInRVPanel, "mTimeFreeFormat",
                              "Free format (" + RVPnlTimeFormat + ")...");
    mTimeFreeFormat->SetRadioItem(true);
    mTimeFreeFormat->SetGroupIndex(2);
    mTimeInRVPanel->Items(2)->SetChecked(true);
    NewItem(this, mTimeInRVPanel, "N5", "-");
    mTimecaninterruptdatarow = NewItem(this, mTimeInRVPanel, "mTimecaninterruptdatarow",
                                       "Start new line on time change", toggle);
    Precisetimecalc1 =
        NewItem(this, mTimeInRVPanel, "Precisetimecalc1", "Precise time calculation", toggle);
    mPollDelay = NewItem(this, L, "mPollDelay", "Polling Delay");
    struct Poll {
        const char* name;
        const char* caption;
        int tag;
    };
    static const Poll kPoll[] = {{"N1ms1", "1 ms", 1},       {"m5ms", "5 ms", 5},
                                 {"m50ms", "50 ms", 50},     {"m200ms", "200 ms", 200},
                                 {"m500ms", "500 ms", 500},  {"m1000ms", "1000 ms", 1000}};
    vcl::TMenuItem** poll_items[] = {&N1ms1, &m5ms, &m50ms, &m200ms, &m500ms, &m1000ms};
    for (int i = 0; i < 6; ++i) {
        vcl::TMenuItem* m = NewItem(this, mPollDelay, kPoll[i].name, kPoll[i].caption,
                                    [this](vcl::TComponent* s) { m1000msClick(s); }, {},
                                    kPoll[i].tag);
        m->SetRadioItem(true);
        m->SetGroupIndex(3);
        *poll_items[i] = m;
    }
    // Enabled only when the timer service reports a 1 ms minimum (decided
    // while the settings are read).
    N1ms1->SetEnabled(false);
    ShowErrorsm = NewItem(this, L, "ShowErrorsm", "Show Errors", toggle);
    ShowErrorsm->SetChecked(true);
    Infinitem = NewItem(this, L, "Infinitem", "Infinite List", toggle);
    Infinitem->SetChecked(true);
    mShowASCIInonvisiblecodes = NewItem(this, L, "mShowASCIInonvisiblecodes",
                                        "Show ASCII non-visible codes", toggle);
    mShowWrites =
        NewItem(this, L, "mShowWrites", "Log transmitted bytes to Receive panel", toggle);
    vcl::TMenuItem* status = NewItem(this, L, "Showstatuschanging1", "Show status changing");
    NewItem(this, status, "ctsm", "CTS line");
    NewItem(this, status, "dsrm", "DSR line");
    NewItem(this, status, "ringm", "Ring line");
    NewItem(this, status, "dcdm", "DCD line");
    Fontm = NewItem(this, L, "Fontm", "Font...");
    NewItem(this, L, "N6", "-");
    mShowGraph = NewItem(this, L, "mShowGraph", "Show Graph",
                         [this](vcl::TComponent* s) { mShowGraphClick(s); });
    mStayonTop = NewItem(this, L, "mStayonTop", "Stay on top", toggle);
    Disableondeactivate1 = NewItem(this, L, "Disableondeactivate1", "Free port on focus loss",
                                   [this](vcl::TComponent* s) { Disableondeactivate1Click(s); });
    mPortScanMeth = NewItem(this, L, "mPortScanMeth", "Port scan method");
    const char* scans[] = {"Open COM1-COM9", "Open COM1-COM19", "Use registry data"};
    for (int i = 0; i < 3; ++i) {
        vcl::TMenuItem* m =
            NewItem(this, mPortScanMeth, rtl::Format("mPortScan%d", {i}), scans[i], {}, {}, i);
        m->SetRadioItem(true);
        m->SetGroupIndex(4);
    }
    mPortScanMeth->Items(PortScanMethod)->SetChecked(true);
    mRetrieveportdescriptions = NewItem(this, L, "mRetrieveportdescriptions",
                                        "Retrieve port descriptions", toggle);
    mRetrieveportdescriptions->SetChecked(true);
    NewItem(this, L, "N7", "-");
    mHelp = NewItem(this, L, "mHelp", "Help", {}, "F1");
    NewItem(this, L, "About1", "About...");

    pmOutput = new vcl::TPopupMenu(this);
    pmOutput->Name = "pmOutput";
    const char* formats[] = {"&Dec byte", "&Hex byte", "Dec word", "Hex word", "&ASCII",
                             "&Bin byte"};
    for (int i = 0; i < 6; ++i) {
        vcl::TMenuItem* m = NewItem(this, pmOutput->Items(), rtl::Format("mFormat%d", {i}),
                                    formats[i], {}, {}, i);
        m->SetRadioItem(true);
        m->SetGroupIndex(5);
    }
    pmOutput->Items()->Items(DataFormat)->SetChecked(true);
    NewItem(this, pmOutput->Items(), "N8", "-");
    Outputtofile1 = NewItem(this, pmOutput->Items(), "Outputtofile1", "Output to file..", {},
                            "Ctrl+F", 6);
    NewItem(this, pmOutput->Items(), "N16", "-");
    vcl::TMenuItem* rvlb = NewItem(this, pmOutput->Items(), "mAscRvLb", "ASCII line break");
    const char* rv_names[] = {"mAscRvLbR", "mAscRvLbN", "mAscRvLb0"};
    const char* rv_caps[] = {"CR (\\r)", "LF (\\n)", "NUL (\\0)"};
    for (int i = 0; i < 3; ++i) {
        vcl::TMenuItem* m = NewItem(this, rvlb, rv_names[i], rv_caps[i]);
        m->SetRadioItem(true);
        m->SetGroupIndex(6);
    }
    rvlb->Items(1)->SetChecked(true);

    pmTRFormat = new vcl::TPopupMenu(this);
    pmTRFormat->Name = "pmTRFormat";
    const char* modes[] = {"&Dec Mode", "&Hex Mode", "&ASCII Mode"};
    for (int i = 0; i < 3; ++i) {
        vcl::TMenuItem* m =
            NewItem(this, pmTRFormat->Items(), rtl::Format("mMode%d", {i}), modes[i], {}, {}, i);
        m->SetRadioItem(true);
        m->SetGroupIndex(7);
    }
    pmTRFormat->Items()->Items(TRFormat)->SetChecked(true);
    NewItem(this, pmTRFormat->Items(), "N9b", "-");
    vcl::TMenuItem* trlb = NewItem(this, pmTRFormat->Items(), "mAscTrLb", "ASCII line break");
    const char* tr_names[] = {"mAscTrLbR", "mAscTrLbN", "mAscTrLbRN", "mAscTrLb0", "mAscTrLbNone"};
    const char* tr_caps[] = {"CR (\\r)", "LF (\\n)", "CR LF (\\r\\n)", "NUL (\\0)", "None"};
    for (int i = 0; i < 5; ++i) {
        vcl::TMenuItem* m = NewItem(this, trlb, tr_names[i], tr_caps[i]);
        m->SetRadioItem(true);
        m->SetGroupIndex(8);
    }
    trlb->Items(2)->SetChecked(true);

    pmLine = new vcl::TPopupMenu(this);
    pmLine->Name = "pmLine";
    NewItem(this, pmLine->Items(), "mCopy", "Copy", {}, "Ctrl+C");
    NewItem(this, pmLine->Items(), "mPaste", "Paste", {}, "Ctrl+V");
    NewItem(this, pmLine->Items(), "N13", "-");
    vcl::TMenuItem** patterns[] = {&N11, &N9, &N10, &N12, &alt51};
    const char* pattern_names[] = {"N11", "N9", "N10", "N12", "alt51"};
    for (int i = 0; i < 5; ++i)
        *patterns[i] = NewItem(this, pmLine->Items(), pattern_names[i], "<empty>", {},
                               rtl::Format("Alt+%d", {i + 1}), i + 1);
    NewItem(this, pmLine->Items(), "N14", "-");
    NewItem(this, pmLine->Items(), "Addcurrent1", "Add current pattern...");
    NewItem(this, pmLine->Items(), "Clearfixedlines1", "Clear all fixed patterns");
    NewItem(this, pmLine->Items(), "N15", "-");
    mAddLnBefTr = NewItem(this, pmLine->Items(), "mAddLnBefTr", "Add line before transmit", toggle);

    pmTrArrow = new vcl::TPopupMenu(this);
    pmTrArrow->Name = "pmTrArrow";
    NewItem(this, pmTrArrow->Items(), "SendASCIIHEXFile1", "Send ASCII HEX File...");
    NewItem(this, pmTrArrow->Items(), "SendSelflog1", "Send Self Log...");
    NewItem(this, pmTrArrow->Items(), "SendBINFile1", "Send Binary File...");
    NewItem(this, pmTrArrow->Items(), "mSendBinaryFileWithTags", "Send Binary File with tags...");

    pmLCount = new vcl::TPopupMenu(this);
    pmLCount->Name = "pmLCount";
    mClearCounter = NewItem(this, pmLCount->Items(), "mClearCounter", "Clear counter",
                            [this](vcl::TComponent* s) { mClearCounterClick(s); });

    pmPlugin = new vcl::TPopupMenu(this);
    pmPlugin->Name = "pmPlugin";
    pmPlugin->OnPopup = [this](vcl::TComponent* s) { pmPluginPopup(s); };
    mLoadPlugin = NewItem(this, pmPlugin->Items(), "mLoadPlugin", "Load...",
                          [this](vcl::TComponent* s) { mLoadPluginClick(s); });
    mReloadPlugin = NewItem(this, pmPlugin->Items(), "mReloadPlugin", "Reload",
                            [this](vcl::TComponent* s) { mReloadPluginClick(s); });
    mUnloadPlugin = NewItem(this, pmPlugin->Items(), "mUnloadPlugin", "Unload",
                            [this](vcl::TComponent* s) { mUnloadPluginClick(s); });
    mEditPlugin = NewItem(this, pmPlugin->Items(), "mEditPlugin", "Edit",
                          [this](vcl::TComponent* s) { mEditPluginClick(s); });
}

void TMain::BuildDialogs() {
    fd1 = new vcl::TFontDialog(this);
    fd1->Name = "fd1";
    od1 = new vcl::TOpenDialog(this);
    od1->Name = "od1";
    od1->Title = "Choose file for transmission";
    od1->Filter = "All files (*.*)|*";
    sd1 = new vcl::TSaveDialog(this);
    sd1->Name = "sd1";
    sd1->Title = "Choose output file name";
    sd1->Filter =
        "Text File (*.txt)|*.txt|Binary File (*.bin)|*.bin|Internal Format (*.cp)|*.cp";
    sd1->DefaultExt = "bin";
    sd1->FilterIndex = 2;
    sd1->Options |= vcl::ofOverwritePrompt;
    odPlug = new vcl::TOpenDialog(this);
    odPlug->Name = "odPlug";
    odPlug->Title = "Choose plugin file";
    odPlug->Filter = "Pascal Files (*.pas)|*.pas";
    odInt = new vcl::TOpenDialog(this);
    odInt->Name = "odInt";
    odInt->Title = "Choose file";
    odInt->Filter = "Internal Format (*.cp)|*.cp";
}

void TMain::BuildControls() {
    // Layout 1: the transmission column on the left, reception filling the rest.
    GBUpper = Make<vcl::TGroupBox>(this, "GBUpper", this);
    // The transmit counter stands right of this caption in layouts 2 and 3.
    GBUpper->SetCaption("Transmission");
    GBUpper->SetHeight(64);
    GBUpper->SetAlign(TAlign::alTop);
    GBUpper->SetVisible(false);

    RvGB = Make<vcl::TGroupBox>(this, "RvGB", this);
    RvGB->SetCaption("Transmission");
    RvGB->SetWidth(270);
    RvGB->SetAlign(TAlign::alLeft);
    RvGB->SetPopupMenu(pmView);

    Splitter1 = Make<vcl::TSplitter>(this, "Splitter1", this);
    Splitter1->SetBounds(270, 0, 4, 100);
    Splitter1->SetAlign(TAlign::alLeft);

    TrGB = Make<vcl::TGroupBox>(this, "TrGB", this);
    TrGB->SetCaption("Reception");
    TrGB->SetAlign(TAlign::alClient);

    // -- Transmit panel
    pnlTR = Make<vcl::TPanel>(this, "pnlTR", RvGB);
    pnlTR->SetBevelOuter(vcl::TBevelCut::bvNone);
    pnlTR->SetBounds(0, 0, 260, 56);
    pnlTR->SetAlign(TAlign::alTop);
    TrBCB = Make<vcl::TComboBox>(this, "TrBCB", pnlTR);
    TrBCB->SetBounds(4, 2, 250, 22);
    TrBCB->SetPopupMenu(pmLine);
    Transb = Make<vcl::TButton>(this, "Transb", pnlTR);
    Transb->SetCaption("Transmit");
    Transb->SetBounds(4, 28, 220, 25);
    BTrArrow = Make<vcl::TButton>(this, "BTrArrow", pnlTR);
    BTrArrow->SetCaption("...");
    BTrArrow->SetBounds(228, 28, 26, 25);

    TRLabel = MakeLabel(this, "TRLabel", RvGB, "0", 100, 0);
    TRLabel->OnClick = [this](vcl::TComponent* s) { RVLabelClick(s); };
    LTRFormat = MakeLabel(this, "LTRFormat", RvGB, "Input:", 150, 0);
    sbTRFormat = Make<vcl::TSpeedButton>(this, "sbTRFormat", RvGB);
    sbTRFormat->SetCaption("DEC");
    sbTRFormat->SetBounds(224, 0, 36, 16);
    sbTRFormat->OnClick = [this](vcl::TComponent*) {
        vcl::TPoint p = sbTRFormat->ClientToScreen({0, sbTRFormat->Height()});
        pmTRFormat->Popup(p.X, p.Y);
    };
    sbPlugin = Make<vcl::TSpeedButton>(this, "sbPlugin", RvGB);
    sbPlugin->SetBounds(190, 0, 30, 16);
    sbPlugin->SetShowHint(true);
    sbPlugin->OnClick = [this](vcl::TComponent* s) { sbPluginClick(s); };
    SetPluginButton("");

    // -- Transmit timer
    Timergb = Make<vcl::TGroupBox>(this, "Timergb", RvGB);
    Timergb->SetCaption("Timer");
    Timergb->SetBounds(0, 60, 260, 64);
    Timergb->SetAlign(TAlign::alTop);
    Timergb->SetPopupMenu(pmView);
    TmrEnCB = MakeCheck(this, "TmrEnCB", Timergb, "Enable (F5)", 8, 18, 100);
    TmrEd = Make<vcl::TEdit>(this, "TmrEd", Timergb);
    TmrEd->SetBounds(112, 16, 60, 21);
    TmrEd->SetText("0.1");
    MakeLabel(this, "lblSec", Timergb, "s", 176, 19);
    ttr1 = Make<vcl::TTrackBar>(this, "ttr1", Timergb);
    ttr1->SetRange(1, 37);
    ttr1->SetPageSize(9);
    ttr1->SetFrequency(5);
    ttr1->SetPosition(10);
    ttr1->SetBounds(4, 38, 250, 22);
    tmr1 = new vcl::TTimer(this);
    tmr1->Name = "tmr1";
    tmr1->SetEnabled(false);
    tmr1->SetInterval(100);

    // -- Connection group
    nastrp = Make<vcl::TGroupBox>(this, "nastrp", RvGB);
    nastrp->SetCaption("Connection");
    nastrp->SetBounds(0, 130, 260, 300);
    nastrp->SetAlign(TAlign::alTop);
    nastrp->SetPopupMenu(pmView);
    CBProfile = Make<vcl::TComboBox>(this, "CBProfile", nastrp);
    CBProfile->SetStyle(vcl::TComboBoxStyle::csDropDownList);
    CBProfile->SetBounds(8, 20, 150, 22);
    Saveb = Make<vcl::TButton>(this, "Saveb", nastrp);
    Saveb->SetCaption("Save");
    Saveb->SetBounds(162, 19, 44, 24);
    BDelProfile = Make<vcl::TButton>(this, "BDelProfile", nastrp);
    BDelProfile->SetCaption("Del");
    BDelProfile->SetBounds(210, 19, 40, 24);
    BDelProfile->SetEnabled(false);

    sbPort = Make<vcl::TSpeedButton>(this, "sbPort", nastrp);
    sbPort->SetCaption("Port");
    sbPort->SetFlat(false);  // a button in both states, up and down
    sbPort->SetGroupIndex(1);
    sbPort->SetAllowAllUp(true);
    sbPort->SetHint("Press to free port");
    sbPort->SetShowHint(true);
    sbPort->SetBounds(8, 50, 44, 22);
    ComNcb = Make<vcl::TComboBox>(this, "ComNcb", nastrp);
    ComNcb->SetStyle(vcl::TComboBoxStyle::csOwnerDrawFixed);
    ComNcb->SetDropDownCount(16);
    ComNcb->SetShowHint(true);  // the hint is set while the port fails
    ComNcb->SetBounds(56, 50, 150, 22);
    Rereadportsb = Make<vcl::TButton>(this, "Rereadportsb", nastrp);
    Rereadportsb->SetCaption("rR");
    Rereadportsb->SetHint("Reread available ports list");
    Rereadportsb->SetShowHint(true);
    Rereadportsb->SetBounds(210, 49, 40, 24);

    pnlCommPrms = Make<vcl::TPanel>(this, "pnlCommPrms", nastrp);
    pnlCommPrms->SetBevelOuter(vcl::TBevelCut::bvNone);
    pnlCommPrms->SetBounds(4, 78, 252, 180);
    lblSpeed = MakeLabel(this, "lblSpeed", pnlCommPrms, "Speed", 4, 6);
    speedcb = MakeList(this, "speedcb", pnlCommPrms,
                       {"150", "300", "600", "1200", "2400", "4800", "9600", "19200", "38400",
                        "57600", "115200", "Custom.."},
                       6, 64, 2, 90);
    speedcb->SetDropDownCount(16);
    lblDataBits = MakeLabel(this, "lblDataBits", pnlCommPrms, "Data bits", 4, 32);
    Databitscb = MakeList(this, "Databitscb", pnlCommPrms, {"5", "6", "7", "8"}, 3, 64, 28, 50);
    lblParity = MakeLabel(this, "lblParity", pnlCommPrms, "Parity", 4, 58);
    Parcb = MakeList(this, "Parcb", pnlCommPrms, {"None", "Odd", "Even", "Mark", "Space"}, 0,
                     64, 54, 70);
    lblStopBits = MakeLabel(this, "lblStopBits", pnlCommPrms, "Stop bits", 4, 84);
    Stopbcb = MakeList(this, "Stopbcb", pnlCommPrms, {"1", "1.5", "2"}, 0, 64, 80, 50);
    cbFlow = MakeCheck(this, "cbFlow", pnlCommPrms, "FLOW", 160, 4, 80);
    DTRcb = MakeCheck(this, "DTRcb", pnlCommPrms, "DTR", 160, 30, 80);
    DTRcb->SetChecked(true);
    rtscb = MakeCheck(this, "rtscb", pnlCommPrms, "RTS", 160, 56, 80);
    rtscb->SetChecked(true);
    CBLineBreak = MakeCheck(this, "CBLineBreak", pnlCommPrms, "Line Break", 4, 110, 100);
    CBRS485 = MakeCheck(this, "CBRS485", pnlCommPrms, "RS-485 mode", 4, 134, 110);
    BSpeed = Make<vcl::TButton>(this, "BSpeed", pnlCommPrms);
    BSpeed->SetCaption("CPU");
    BSpeed->SetShowHint(true);
    BSpeed->SetBounds(160, 130, 60, 24);

    pnlForPPrms = Make<vcl::TPanel>(this, "pnlForPPrms", nastrp);
    pnlForPPrms->SetBevelOuter(vcl::TBevelCut::bvNone);
    pnlForPPrms->SetBounds(4, 78, 252, 180);
    pnlForPPrms->SetVisible(false);

    sbPort2 = Make<vcl::TSpeedButton>(this, "sbPort2", nastrp);
    sbPort2->SetCaption("Port2");
    sbPort2->SetFlat(false);  // a button in both states, up and down
    sbPort2->SetGroupIndex(2);
    sbPort2->SetAllowAllUp(true);
    sbPort2->SetHint("Press to free port");
    sbPort2->SetShowHint(true);
    sbPort2->SetBounds(8, 266, 44, 22);
    cbComN2 = Make<vcl::TComboBox>(this, "cbComN2", nastrp);
    cbComN2->SetStyle(vcl::TComboBoxStyle::csOwnerDrawFixed);
    cbComN2->SetDropDownCount(16);
    cbComN2->SetShowHint(true);
    cbComN2->SetBounds(56, 266, 150, 22);

    pnlDRV = Make<vcl::TPanel>(this, "pnlDRV", RvGB);
    pnlDRV->SetBevelOuter(vcl::TBevelCut::bvNone);
    pnlDRV->SetHeight(26);
    pnlDRV->SetAlign(TAlign::alBottom);
    dRVcb = MakeCheck(this, "dRVcb", pnlDRV, "Disable Receive (F10)", 8, 4, 200);

    // -- Reception
    RVLabel = MakeLabel(this, "RVLabel", TrGB, "(0, 0)", 62, 0);
    // The counters change with every frame of received data: an opaque
    // label repaints alone, without the group box's frame under it.
    RVLabel->SetTransparent(false);
    RVLabel->OnClick = [this](vcl::TComponent* s) { RVLabelClick(s); };
    lblSets = MakeLabel(this, "lblSets", TrGB, "", 62, 0);
    lblSets->SetVisible(false);
    lblSets->Font().SetColor(vcl::clBlue);
    lblSets->SetCursor(vcl::TCursor::crHandPoint);
    LNumFormat = Make<vcl::TSpeedButton>(this, "LNumFormat", TrGB);
    LNumFormat->SetCaption("HEX");
    LNumFormat->SetHint("Output format");
    LNumFormat->SetShowHint(true);
    LNumFormat->SetBounds(520, 0, 40, 16);
    LNumFormat->OnClick = [this](vcl::TComponent*) {
        vcl::TPoint p = LNumFormat->ClientToScreen({0, LNumFormat->Height()});
        pmOutput->Popup(p.X, p.Y);
    };
    TrGB->OnResize = [this](vcl::TComponent*) {
        LNumFormat->SetLeft(TrGB->Width() - LNumFormat->Width() - 5);
    };

    // -- Timers and application events
    TmrPortConn = new vcl::TTimer(this);
    TmrPortConn->Name = "TmrPortConn";
    TmrPortConn->SetEnabled(false);
    TmrPortConn->SetInterval(1000);
    tmrAntiHang = new vcl::TTimer(this);
    tmrAntiHang->Name = "tmrAntiHang";
    tmrAntiHang->SetInterval(static_cast<int>(kAntiHangTickMs));
    tmrAntiHang->SetOnTimer([this](vcl::TComponent* s) { tmrAntiHangTimer(s); });

    ApplicationEvents1 = new vcl::TApplicationEvents(this);
    ApplicationEvents1->Name = "ApplicationEvents1";
    ApplicationEvents1->OnActivate = [this](vcl::TComponent* s) { ApplicationEvents1Activate(s); };
    ApplicationEvents1->OnDeactivate = [this](vcl::TComponent* s) {
        ApplicationEvents1Deactivate(s);
    };
    ApplicationEvents1->OnMinimize = [this](vcl::TComponent* s) { ApplicationEvents1Minimize(s); };
    ApplicationEvents1->OnRestore = [this](vcl::TComponent* s) { ApplicationEvents1Restore(s); };
    ApplicationEvents1->OnSettingChange = [this](vcl::TComponent* s) {
        ApplicationEvents1SettingChange(s);
    };
}

void TMain::FormCreate(vcl::TComponent*) {
    // 1. The option state of the table in main_form.h holds already; numbers
    //    are always formatted with "." by rtl.
    // 2. The plug-in variable store.
    PluginVars = std::make_unique<rtl::TLEListOf<TPluginVar>>();
    // 3. The receive list.
    lb1 = new TMyListbox(this);
    lb1->Name = "lb1";
    lb1->SetParent(TrGB);
    lb1->SetAlign(TAlign::alClient);
    lb1->SetBorder(false);
    lb1->Font().SetName("Courier New");
    lb1->Font().SetHeight(-15);
    lb1->SetItemHeight(17);
    lb1->SetPopupMenu(pmList);
    lb1->SetShowHint(true);
    CreateReceivePanel();
    BuildAnalysisCommands();
    BuildTransmitPath();
    BuildFileCommands();
    // 4. The port slots; both drivers get write time-outs (0, 10000).
    PortSlots[PortSlotMain] = {sbPort, ComNcb, 0, cp1, 0};
    PortSlots[PortSlot2] = {sbPort2, cbComN2, 0, cp2, 0};
    HookPortControls();
    HookProfileControls();
    cp1->SetWriteTimeouts(0, 10000);
    cp2->SetWriteTimeouts(0, 10000);
    // 5. The (empty) port-description list.
    PortDescriptions.clear();

    const TConfigLocation config = ConfigLocation(rtl::ExeFolder());
    ConfigFileName = config.FileName;
    ConfigSeedFileName = config.SeedFileName;
    for (vcl::TComboBox* c : {ComNcb, cbComN2}) c->Items().AddObject("[No]", 0);
    ComNcb->SetItemIndex(0);
    cbComN2->SetItemIndex(0);
    mLayout1->SetChecked(true);
    PollingEntry(PollingIndex)->SetChecked(true);
    HookViewControls();
}

vcl::TMenuItem* TMain::PollingEntry(int Index) const { return mPollDelay->Items(Index); }

}  // namespace terminal
