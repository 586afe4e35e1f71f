// The settings file "vostrel.ini": read once at the first activation (every
// value applied at once, in the file's order), written on close (the current
// settings as the only profile) and after a profile is saved or deleted (all
// profiles). Keys that are not written keep their lines; [PortMap] is only
// ever read.
#include <algorithm>
#include <climits>
#include <array>
#include <iterator>
#include <map>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"
#include "platform/vcl/ini_files.h"
#include "platform/vcl/regular_file.h"
#include "platform/vcl/string_list.h"
#include "platform/win/comm.h"
#include "terminal/main_form.h"

namespace terminal {

namespace {

constexpr const char* kMain = "Main";
constexpr const char* kHistory = "TrHistory";
constexpr const char* kPatterns = "TrPatterns";
constexpr const char* kPortMap = "PortMap";

// The least window and column sizes the window keeps (the receive group
// keeps 25 pixels right of the splitter).
constexpr int kMinWindowWidth = 200;
constexpr int kMinWindowHeight = 110;
constexpr int kMinColumn = 30;
constexpr int kMinReceiveWidth = 25;

// The longest transmit history the settings may ask for.
constexpr int kMaxHistoryLen = 1000;

// The pattern entries of the transmit box's menu, Alt+1 to Alt+5.
std::array<vcl::TMenuItem*, 5> Patterns(TMain& m) { return {m.N11, m.N9, m.N10, m.N12, m.alt51}; }

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// The reader drops blanks around a value and one pair of quotes enclosing
// it. A text that starts or ends with a blank or a quote is therefore
// written inside one pair of double quotes, so that it comes back as it
// was; any other text is written bare, as older files have it.
std::string KeptText(const std::string& s) {
    auto edge = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
    return !s.empty() && (edge(s.front()) || edge(s.back())) ? Quoted(s) : s;
}

std::string ConfigSection(int slot) { return rtl::Format("Config%d", {slot}); }

// A file name kept in the settings. The program has always written names in
// its code page (lately with escapes for what that lacks); a name typed into
// the file by hand on this system is UTF-8. Code-page text is sometimes
// valid UTF-8 too (the folders "НІ" and "Её" are), so the code page's
// reading wins whenever it names something; the UTF-8 one is taken only
// when it names something and the code page's does not. A value that names
// nothing stays as it is.
std::string StoredFileName(const std::string& value) {
    if (!rtl::IsUtf8BeyondAscii(value) || rtl::NameExists(value)) return value;
    std::string typed = rtl::FromSysPath(value);
    return rtl::NameExists(typed) ? typed : value;
}

// [PortMap]: "COMn=device" entries, consulted after the environment when a
// COM number is opened. Only a file that has the section replaces the table.
void ReadPortMap(const vcl::TIniFile& ini) {
    if (!ini.SectionExists(kPortMap)) return;
    vcl::TStringList keys;
    ini.ReadSection(kPortMap, keys);
    std::map<int, std::string> map;
    for (int i = 0; i < keys.Count(); ++i) {
        const std::string key = keys.Strings(i);
        if (key.size() < 4 || rtl::UpperCase(key.substr(0, 3)) != "COM") continue;
        const int number = rtl::StrToIntDef(key.substr(3), 0);
        if (number < 1 || number > 255 || key.find_first_not_of("0123456789", 3) != std::string::npos)
            continue;
        std::string device = ini.ReadString(kPortMap, key, "");
        if (!device.empty()) map[number] = rtl::SysPath(StoredFileName(device));
    }
    win::SetComPortMapOverrides(std::move(map));
}

void ReadMainSection(TMain& m, const vcl::TIniFile& ini, int& selected, bool& no_time_begin_period) {
    auto integer = [&](const char* key, int def) { return ini.ReadInteger(kMain, key, def); };
    auto boolean = [&](const char* key, bool def) { return ini.ReadBool(kMain, key, def); };
    // A menu option that only carries its check mark.
    auto check = [&](const char* key, vcl::TMenuItem* item) {
        item->SetChecked(boolean(key, item->Checked()));
    };

    // The placement fits a screen: no larger than its work area (the window
    // is laid out at that size) and never out of reach on none of them.
    const int left = integer("Left", m.Left()), top = integer("Top", m.Top());
    const int width = integer("Width", m.Width()), height = integer("Height", m.Height());
    const vcl::TRect placed = vcl::FitToWorkArea(
        {left, top, static_cast<int>(std::clamp<long long>(1LL * left + std::max(width, 0), INT_MIN, INT_MAX)),
         static_cast<int>(std::clamp<long long>(1LL * top + std::max(height, 0), INT_MIN, INT_MAX))},
        vcl::ScreenWorkAreas(), kMinWindowWidth, kMinWindowHeight);
    m.SetBounds(placed.Left, placed.Top, placed.Width(), placed.Height());
    if (boolean("Maximized", m.WindowState() == vcl::TWindowState::wsMaximized))
        m.SetWindowState(vcl::TWindowState::wsMaximized);
    // The column leaves the receive group at least its least width.
    const int widest = std::max(kMinColumn, m.ClientWidth() - m.Splitter1->Width() - kMinReceiveWidth);
    m.RvGB->SetWidth(std::clamp(integer("TRPanelWidth", m.RvGB->Width()), kMinColumn, widest));
    m.RxSplitter1Resize(nullptr);
    if (int layout = integer("Layout", m.Layout); layout >= 1 && layout <= 3) m.SetLayout(layout);
    // The history holds at most this many lines; a length beyond any use is
    // not taken.
    if (int len = integer("TRComboHistoryLen", m.TRComboHistoryLen); len >= 0 && len <= kMaxHistoryLen)
        m.TRComboHistoryLen = len;

    int tr_break = integer("TRLineBreak", -1) & 0xFF;
    if (tr_break > 4) tr_break = 2;
    m.SetLineBreak(true, tr_break);
    int rv_break = integer("RVLineBreak", -1) & 0xFF;
    if (rv_break != 0 && rv_break != 1 && rv_break != 3) rv_break = 1;
    m.SetLineBreak(false, rv_break);

    const int interval = integer("TimerValue", m.tmr1->Interval());
    m.Timergb->SetVisible(boolean("TimerVisible", m.Timergb->Visible()));
    m.mViewTmrClick(nullptr);
    m.SetTimerInterval(interval, false);

    // 6 and 7 would pick the separator or "Output to file.." of the menu,
    // which are no data formats: they fall back to 1 as any other value.
    int format = integer("DataFormat", m.DataFormat) & 0xFF;
    if (format > 5) format = 1;
    m.ASCII1Click(m.pmOutput->Items()->Items(format));

    m.nastrp->SetVisible(boolean("PortSettingsVisible", m.nastrp->Visible()));
    m.mViewSetClick(nullptr);
    m.dRVcb->SetChecked(boolean("DisableReceive", m.dRVcb->Checked()));
    m.dRVcbClick(nullptr);
    check("LogSentBytes", m.mShowWrites);
    m.mShowWritesClick(nullptr);
    check("StayOnTop", m.mStayonTop);
    m.mStayonTopClick(nullptr);

    // The time display is checked after its free format is read.
    int time = integer("RVPnlTime", m.RVPnlTime);
    m.RVPnlTimeFormat = ini.ReadString(kMain, "RVPnlTimeFormat", m.RVPnlTimeFormat);
    m.mTimeFreeFormatClick(nullptr);
    if (time < 0 || time > 4) time = 2;
    m.milliseconds1Click(m.mTimeInRVPanel->Items(time));

    check("Timecaninterruptdatarow", m.mTimecaninterruptdatarow);
    m.mTimecaninterruptdatarowClick(nullptr);
    check("PreciseTimeCalc", m.Precisetimecalc1);
    m.Precisetimecalc1Click(nullptr);
    check("ShowErrors", m.ShowErrorsm);
    m.ShowErrorsmClick(nullptr);
    check("InfiniteList", m.Infinitem);
    m.InfinitemClick(nullptr);
    check("ShowASCIInonvisiblecodes", m.mShowASCIInonvisiblecodes);
    m.mShowASCIInonvisiblecodesClick(nullptr);
    m.CBRS485->SetChecked(boolean("UseRS485", m.CBRS485->Checked()));
    m.CBRS485Click(nullptr);

    if (int tr = integer("TRFormat", m.TRFormat); tr >= 0 && tr <= 2)
        m.mStringModeClick(m.pmTRFormat->Items()->Items(tr));
    check("AddLineBeforeTransmit", m.mAddLnBefTr);
    m.Disableondeactivate1->SetChecked(boolean("DisableOnDeactivate", m.Disableondeactivate1->Checked()));
    m.Disableondeactivate1Click(nullptr);
    // These two only take their check marks: their menu handlers scan the
    // ports again, and the scan follows the reading.
    if (int scan = integer("PortScanMethod", m.PortScanMethod); scan >= 0 && scan <= 2) {
        m.mPortScanMeth->Items(scan)->SetChecked(true);
        m.PortScanMethod = scan;
    }
    check("Retrieveportdescriptions", m.mRetrieveportdescriptions);

    // The 1 ms entry is offered only when the timers reach 1 ms.
    m.N1ms1->SetEnabled(ports::TCommPortDriver::GetMinPollingDelay() == 1);
    int polling = integer("PollingDelay", m.PollingIndex);
    if (polling < 0 || polling > 5) polling = 2;
    if (polling == 0 && !m.N1ms1->Enabled()) polling = 1;
    m.m1000msClick(m.PollingEntry(polling));

    const int size = integer("FontSize", m.lb1->Font().Size());
    m.SetListFont(ini.ReadString(kMain, "FontName", m.lb1->Font().Name()), size);

    // A negative clock rate would time no RS-485 wait at all: it counts as
    // not measured.
    m.CPUSpeed = std::max(0, integer("CPUSpeed", m.CPUSpeed));
    no_time_begin_period = boolean("NoTimeBeginPeriod", false);
    selected = integer("CurrentProfile", m.CBProfile->ItemIndex() + 1);
}

void ReadHistory(TMain& m, const vcl::TIniFile& ini) {
    int count = ini.ReadInteger(kHistory, "Count", m.TrBCB->Items().Count());
    // No more than the history keeps; entries missing from the file read as
    // empty, but a Count far beyond the last entry there would only stall
    // the start-up.
    count = std::min(count, m.TRComboHistoryLen);
    vcl::TStringList keys;
    ini.ReadSection(kHistory, keys);
    int end = 0;
    for (int i = 0; i < keys.Count(); ++i) {
        const std::string key = keys.Strings(i);
        if (!key.empty() && key.size() < 10 && key.find_first_not_of("0123456789") == std::string::npos)
            end = std::max(end, std::stoi(key) + 1);
    }
    count = std::min(count, end);
    for (int i = 0; i < count; ++i)
        m.TrBCB->Items().Add(ini.ReadString(kHistory, rtl::IntToStr(i), ""));
    m.TrBCB->SetText(ini.ReadString(kHistory, "Current", m.TrBCB->Text()));
}

void ReadPatterns(TMain& m, const vcl::TIniFile& ini) {
    // An absent key keeps the entry's caption ("<empty>"): a blank caption
    // would make a nameless entry that sends an empty line.
    int key = 1;
    for (vcl::TMenuItem* item : Patterns(m))
        item->SetCaption(ini.ReadString(kPatterns, rtl::IntToStr(key++), item->Caption()));
}

// A slot without a section in the file stays as it is (cleared); a section
// without an RTS key turns RTS on.
TPortProfile ReadProfile(const vcl::TIniFile& ini, int slot, const TPortProfile& current) {
    const std::string s = ConfigSection(slot);
    if (!ini.SectionExists(s)) return current;
    TPortProfile p;
    p.Name = ini.ReadString(s, "Name", "");
    p.Port = ini.ReadInteger(s, "Port", 0);
    p.Port2 = ini.ReadInteger(s, "Port2", 0);
    p.DataBits = ini.ReadInteger(s, "DataBits", 3);
    p.StopBits = ini.ReadInteger(s, "StopBits", 0);
    p.Parity = ini.ReadInteger(s, "Parity", 0);
    p.Speed = ini.ReadInteger(s, "Speed", 9600);
    p.DTR = ini.ReadBool(s, "DTR", true);
    p.RTS = ini.ReadBool(s, "RTS", true);
    p.AuxParams = ini.ReadString(s, "AuxParams", "");
    p.StoredPlugPath = ini.ReadString(s, "PlugPath", "");
    p.PlugPath = p.StoredPlugPathRead = StoredFileName(p.StoredPlugPath);
    return p;
}

// The named slots come first, in file order, so that entry i of the profile
// list is slot i + 1 even when a slot without a name lies between named
// ones. Slot 11 holds the current settings and is never listed.
void ReadProfiles(TMain& m, const vcl::TIniFile& ini) {
    std::vector<TPortProfile> named, unnamed;
    for (int slot = 1; slot <= 10; ++slot) {
        TPortProfile p = ReadProfile(ini, slot, m.Profiles[slot]);
        (p.Name.empty() ? unnamed : named).push_back(std::move(p));
    }
    for (const TPortProfile& p : named) m.CBProfile->Items().Add(p.Name);
    int slot = 1;
    for (auto* list : {&named, &unnamed})
        for (TPortProfile& p : *list) m.Profiles[slot++] = std::move(p);
    m.Profiles[11] = ReadProfile(ini, 11, m.Profiles[11]);
    m.Profiles[11].Name.clear();
}

void WriteMainSection(TMain& m, vcl::TIniFile& ini) {
    auto integer = [&](const char* key, int v) { ini.WriteInteger(kMain, key, v); };
    auto boolean = [&](const char* key, bool v) { ini.WriteBool(kMain, key, v); };
    const vcl::TRect r = m.NormalBounds();
    integer("Left", r.Left);
    integer("Top", r.Top);
    integer("Width", r.Right - r.Left);
    integer("Height", r.Bottom - r.Top);
    boolean("Maximized", m.WindowState() == vcl::TWindowState::wsMaximized);
    integer("TRPanelWidth", m.RvGB->Width());
    integer("Layout", m.Layout);
    integer("TRComboHistoryLen", m.TRComboHistoryLen);
    integer("TRLineBreak", TMain::LineBreakIndex(m.TrLineBreak));
    integer("RVLineBreak", TMain::LineBreakIndex(std::string(1, m.RvLineBreak)));
    integer("TimerValue", m.tmr1->Interval());
    boolean("TimerEnable", m.TmrEnCB->Checked());  // never read back: the timer starts off
    boolean("TimerVisible", m.Timergb->Visible());
    integer("DataFormat", m.DataFormat);
    boolean("PortSettingsVisible", m.nastrp->Visible());
    boolean("DisableReceive", m.dRVcb->Checked());
    boolean("LogSentBytes", m.mShowWrites->Checked());
    boolean("StayOnTop", m.mStayonTop->Checked());
    integer("RVPnlTime", m.RVPnlTime);
    ini.WriteString(kMain, "RVPnlTimeFormat", KeptText(m.RVPnlTimeFormat));
    boolean("Timecaninterruptdatarow", m.mTimecaninterruptdatarow->Checked());
    boolean("PreciseTimeCalc", m.Precisetimecalc1->Checked());
    boolean("ShowErrors", m.ShowErrorsm->Checked());
    boolean("InfiniteList", m.Infinitem->Checked());
    boolean("ShowASCIInonvisiblecodes", m.mShowASCIInonvisiblecodes->Checked());
    boolean("UseRS485", m.CBRS485->Checked());
    integer("TRFormat", m.TRFormat);
    boolean("AddLineBeforeTransmit", m.mAddLnBefTr->Checked());
    boolean("DisableOnDeactivate", m.Disableondeactivate1->Checked());
    integer("PortScanMethod", m.PortScanMethod);
    boolean("Retrieveportdescriptions", m.mRetrieveportdescriptions->Checked());
    integer("PollingDelay", m.PollingIndex);
    integer("CPUSpeed", m.CPUSpeed);
    integer("CurrentProfile", m.CBProfile->ItemIndex() + 1);
    ini.WriteString(kMain, "FontName", KeptText(m.lb1->Font().Name()));
    integer("FontSize", m.lb1->Font().Size());
}

void WriteProfile(const TPortProfile& p, vcl::TIniFile& ini, int slot) {
    const std::string s = ConfigSection(slot);
    ini.WriteString(s, "Name", KeptText(p.Name));
    ini.WriteInteger(s, "Port", p.Port);
    ini.WriteInteger(s, "Port2", p.Port2);
    ini.WriteInteger(s, "DataBits", p.DataBits);
    ini.WriteInteger(s, "StopBits", p.StopBits);
    ini.WriteInteger(s, "Parity", p.Parity);
    ini.WriteInteger(s, "Speed", p.Speed);
    ini.WriteBool(s, "DTR", p.DTR);
    ini.WriteBool(s, "RTS", p.RTS);
    if (!p.AuxParams.empty()) ini.WriteString(s, "AuxParams", Quoted(p.AuxParams));
    const bool asRead = p.PlugPath == p.StoredPlugPathRead;
    ini.WriteString(s, "PlugPath", KeptText(asRead ? p.StoredPlugPath : p.PlugPath));
}

}  // namespace

void TMain::ReadConfig(int& SelectedProfile, bool& NoTimeBeginPeriod) {
    const std::string source = ConfigSource(ConfigPlace());
    try {
        // An existing settings file must be a regular file that can be read:
        // a folder, a FIFO (which would hold the start-up waiting for a
        // writer) or a device in its place is refused by name without being
        // opened, and one without read permission fails to open; start-up
        // reports either, naming the file and the reason. A missing file
        // reads as empty.
        vcl::RegularFileReadable(source);
        const vcl::TIniFile ini(source);
        // One that opened but failed while read (a failing disk) too.
        if (!ini.ReadFailure().empty()) throw rtl::Exception(ini.ReadFailure());
        ReadPortMap(ini);
        ReadMainSection(*this, ini, SelectedProfile, NoTimeBeginPeriod);
        ReadHistory(*this, ini);
        ReadPatterns(*this, ini);
        ReadProfiles(*this, ini);
    } catch (const std::exception& e) {
        throw EConfigRead(source, e.what());
    }
}

void TMain::SaveConfig(bool All) {
    StoreProfile(11, "");
    PrepareConfigFile(ConfigPlace());
    // Every key in memory first, then the file replaced once.
    vcl::TMemIniFile ini(ConfigFileName);
    WriteMainSection(*this, ini);

    const int count = TrBCB->Items().Count();
    ini.WriteInteger(kHistory, "Count", count);
    ini.WriteString(kHistory, "Current", Quoted(TrBCB->Text()));
    for (int i = 0; i < count; ++i)
        ini.WriteString(kHistory, rtl::IntToStr(i), Quoted(TrBCB->Items().Strings(i)));

    int key = 1;
    for (vcl::TMenuItem* item : Patterns(*this))
        ini.WriteString(kPatterns, rtl::IntToStr(key++), Quoted(item->Caption()));

    for (int slot = All ? 1 : 11; slot <= 11; ++slot) WriteProfile(Profiles[slot], ini, slot);
    ini.UpdateFile();
}

}  // namespace terminal
