#include "ports/foreign_port.h"

#include <algorithm>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/str_proc.h"

namespace ports {

namespace {

std::vector<TForeignPortClassEntry>& ClassTable() {
    static std::vector<TForeignPortClassEntry> table;
    return table;
}

}  // namespace

// ---- TfrmForP ----

TfrmForP::TfrmForP(vcl::TComponent* AOwner, std::string ClassName)
    : vcl::TPanel(AOwner), className_(std::move(ClassName)) {
    SetBevelOuter(vcl::TBevelCut::bvNone);
}

TfrmForP::~TfrmForP() {
    // The parameter controls' handlers call back into this frame; free them
    // while it is still whole, and let nothing reach the port any more.
    OnParamChange = nullptr;
    lockCount_ = 1;
    while (ComponentCount() > 0) Free(Components(ComponentCount() - 1));
    focusControls_.clear();
}

void TfrmForP::BadParamIdx(int Index) const {
    throw rtl::Exception(rtl::Format("%s: Bad param idx (%d)", {className_, Index}));
}

void TfrmForP::AddParamName(const std::string& Name) { paramNames_.push_back(Name); }

void TfrmForP::GetParamName(int Index, std::string& S) const {
    S.clear();
    if (Index < 0 || Index >= static_cast<int>(paramNames_.size())) BadParamIdx(Index);
    S = paramNames_[static_cast<std::size_t>(Index)];
}

void TfrmForP::Lock(bool Begin) {
    if (Begin) {
        ++lockCount_;
        return;
    }
    // An unlock without a lock only checks the fields again.
    if (lockCount_ > 0) --lockCount_;
    if (lockCount_ > 0) return;
    for (int i = 0; i < ParamCount(); ++i) {
        std::string s;
        GetParam(i, s, false);
        SetParam(i, s);
    }
}

void TfrmForP::CheckParams() {
    for (int i = 0; i < ParamCount(); ++i) {
        std::string value;
        if (GetParam(i, value, false) != psInvalid) continue;
        std::string name;
        GetParamName(i, name);
        throw rtl::Exception(rtl::Format("Wrong \"%s\" Value", {name}));
    }
}

int TfrmForP::ParamCount() const { return static_cast<int>(paramNames_.size()); }

void TfrmForP::SetFieldColor(vcl::TControl* Control, bool Marked, vcl::TColor Color) {
    if (Control) Control->SetColor(Marked ? Color : vcl::clWindow);
}

void TfrmForP::SetFocusControl(vcl::TLabel* Label, vcl::TControl* Control) {
    for (auto& link : focusControls_)
        if (link.first == Label) {
            link.second = Control;
            return;
        }
    focusControls_.emplace_back(Label, Control);
}

vcl::TControl* TfrmForP::FocusControlOf(vcl::TLabel* Label) const {
    for (const auto& link : focusControls_)
        if (link.first == Label) return link.second;
    return nullptr;
}

void TfrmForP::SetLabeledEnabled(vcl::TLabel* Label, bool Value) {
    if (!Label) return;
    Label->SetEnabled(Value);
    if (auto* control = FocusControlOf(Label)) control->SetEnabled(Value);
}

void TfrmForP::SetLabeledVisible(vcl::TLabel* Label, bool Value) {
    if (!Label) return;
    Label->SetVisible(Value);
    if (auto* control = FocusControlOf(Label)) control->SetVisible(Value);
}

void TfrmForP::ParamEdited(vcl::TControl* Control, int Index) {
    if (lockCount_ > 0) return;
    std::string s;
    const std::uint8_t state = GetParam(Index, s, false);
    SetFieldColor(Control, state != psValid, vcl::clYellow);
    if (OnParamChange) OnParamChange(Index);
}

// ---- TForeignPort ----

TForeignPort::TForeignPort(std::int32_t Id, TForeignPortEvent OnEvent, std::unique_ptr<TfrmForP> Frame)
    : OnEvent(std::move(OnEvent)), id_(Id), frame_(std::move(Frame)) {
    if (!frame_) throw rtl::EAssertionFailed("foreign port created without a settings frame");
    // Dispatched when called, so it reaches the concrete class's ParamChanged.
    frame_->OnParamChange = [this](int Index) { ParamChanged(Index); };
}

TForeignPort::~TForeignPort() {
    if (frame_) frame_->OnParamChange = nullptr;
}

void TForeignPort::ParamChanged(int) {
    std::string reply;
    if (OnEvent) OnEvent(fpeSettingsChanged, std::string(), reply);
}

void TForeignPort::PauseRx() {
    if (pauseCount_++ == 0) RxHeldChanged(true);
}

void TForeignPort::ResumeRx() {
    // An unmatched resume must not leave the counter below zero: the next
    // pause would then not pause.
    if (pauseCount_ <= 0) return;
    if (--pauseCount_ == 0) RxHeldChanged(false);
}

void TForeignPort::HoldClientRx(int Client, bool Hold) {
    if (Client < 0 || Client > 255 || clientHeld_[static_cast<std::size_t>(Client)] == Hold) return;
    clientHeld_[static_cast<std::size_t>(Client)] = Hold;
    ClientRxHeldChanged(Client);
}

bool TForeignPort::ClientRxHeld(int Client) const {
    return Client >= 0 && Client <= 255 && clientHeld_[static_cast<std::size_t>(Client)];
}

std::string TForeignPort::GetSettings() const {
    std::string out;
    for (int i = 0; i < frame_->ParamCount(); ++i) {
        std::string s;
        frame_->GetParam(i, s, false);
        if (i > 0) out += '|';
        out += s;
    }
    return out;
}

void TForeignPort::SetSettings(const std::string& S) {
    int pos = 0;
    for (int i = 0; i < frame_->ParamCount(); ++i) {
        if (pos > static_cast<int>(S.size())) break;
        frame_->SetParam(i, rtl::NextToken(S, '|', pos));
    }
}

void TForeignPort::NotifyOwner(const std::string& Fmt, std::initializer_list<rtl::TVarRec> Args, int Code) {
    const std::string text = rtl::Format(Fmt, Args);
    std::string reply;
    if (OnEvent) OnEvent(Code, text, reply);
}

std::string ForeignPortName(const std::string& ClassName) {
    std::string name = ClassName;
    if (!name.empty() && name[0] == 'T') name.erase(0, 1);
    if (name.size() >= 4 && rtl::AnsiSameText(name.substr(name.size() - 4), "PORT")) name.resize(name.size() - 4);
    return name;
}

// ---- class table ----

const std::vector<TForeignPortClassEntry>& ForeignPortClasses() { return ClassTable(); }

void RegisterForeignPortClass(std::int32_t Id, TForeignPortClass Class) {
    if (Id < FirstForeignPortId)
        throw rtl::Exception(rtl::Format("Foreign port id %d is not above the COM port numbers", {Id}));
    if (ForeignClassIndex(Id, false) >= 0)
        throw rtl::Exception(rtl::Format("Foreign port with id=%d is already registered", {Id}));
    if (!Class.Create) throw rtl::Exception(rtl::Format("Foreign port with id=%d has no constructor", {Id}));
    ClassTable().push_back({Id, std::move(Class)});
}

void UnregisterForeignPortClass(std::int32_t Id) {
    auto& table = ClassTable();
    table.erase(std::remove_if(table.begin(), table.end(), [Id](const auto& e) { return e.Id == Id; }), table.end());
}

int ForeignClassIndex(std::int32_t Id, bool RaiseIfMissing) {
    const auto& table = ClassTable();
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].Id == Id) return static_cast<int>(i);
    if (RaiseIfMissing) throw rtl::Exception(rtl::Format("Foreign port with id=%d not found", {Id}));
    return -1;
}

}  // namespace ports
