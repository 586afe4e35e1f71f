#include "ports/ethernet_port.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/failure_trace.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"

namespace ports {

namespace {

constexpr const char* kRoleTexts[] = {"UDP Client+Srv", "TCP Client", "TCP Server"};
constexpr const char* kRoleShortTexts[] = {"UDP", "TCPCli", "TCPSrv"};
constexpr int kRoleCount = 3;

constexpr vcl::TColor kLightYellow = 0x80FFFF;

// The server refuses a newcomer when its list is full; that is not a failure
// of the server itself.
constexpr std::uint32_t kListFullOnAccept =
    static_cast<std::uint32_t>(SOCK_ERR_LIST_FULL) | (static_cast<std::uint32_t>(secConnect) << 16);

// A plain decimal number within [lo, hi]: digits only, nothing else.
bool DecimalIn(const std::string& S, long lo, long hi, long* value = nullptr) {
    if (S.empty() || S.size() > 9) return false;
    long v = 0;
    for (char c : S) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return false;
    if (value) *value = v;
    return true;
}

bool ValidIP(const std::string& S) {
    try {
        TEthernetPort::StrToIP(S);
        return true;
    } catch (const rtl::Exception&) {
        return false;
    }
}

std::vector<std::string> SplitAt(const std::string& S, char Delim) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = S.find(Delim, start);
        if (at == std::string::npos) break;
        parts.push_back(S.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(S.substr(start));
    return parts;
}

template <class T>
T* Placed(vcl::TWinControl* parent, int left, int top, int width, int height) {
    T* control = vcl::Create<T>(parent);
    control->SetParent(parent);
    control->SetBounds(left, top, width, height);
    return control;
}

vcl::TLabel* PlacedLabel(vcl::TWinControl* parent, const std::string& caption, int left, int top) {
    auto* label = vcl::Create<vcl::TLabel>(parent);
    label->SetParent(parent);
    label->SetLeft(left);
    label->SetTop(top);
    label->SetCaption(caption);
    return label;
}

}  // namespace

// ---- TfrmForPEth ----

TfrmForPEth::TfrmForPEth(vcl::TComponent* AOwner) : TfrmForP(AOwner, "TfrmForPEth") {
    SetBounds(0, 0, 470, 52);
    lblRole = PlacedLabel(this, "Role", 4, 2);
    lblDstIp = PlacedLabel(this, "Dst IP", 118, 2);
    lblDstPort = PlacedLabel(this, "Dst\r\nPort", 222, 2);
    lblLocalPort = PlacedLabel(this, "Local\r\nPort", 280, 2);
    lblCCInfo = PlacedLabel(this, "Clients:", 4, 52);
    lblCCInfo->SetVisible(false);
    lblCCInfo->SetTransparent(false);
    edDstIp = Placed<vcl::TEdit>(this, 118, 28, 100, 21);
    edDstIp->SetText("127.0.0.1");
    cbbRole = Placed<vcl::TComboBox>(this, 4, 28, 110, 21);
    cbbRole->SetStyle(vcl::TComboBoxStyle::csDropDownList);
    for (const char* text : kRoleTexts) cbbRole->Items().Add(text);
    cbbRole->SetItemIndex(0);
    edDstPort = Placed<vcl::TEdit>(this, 222, 28, 54, 21);
    edDstPort->SetText("0");
    edLocalPort = Placed<vcl::TEdit>(this, 280, 28, 54, 21);
    edLocalPort->SetText("0");
    lblCurCliIdx = PlacedLabel(this, "Current\r\nCliIdx", 338, 2);
    lblCurCliIdx->SetVisible(false);
    edCurCliIdx = Placed<vcl::TEdit>(this, 338, 28, 40, 21);
    edCurCliIdx->SetText("1");
    edCurCliIdx->SetVisible(false);
    bDisconnClient = Placed<vcl::TSpeedButton>(this, 382, 27, 23, 22);
    bDisconnClient->SetHint("Disconnect current client");
    bDisconnClient->SetShowHint(true);
    bDisconnClient->SetCaption("X");  // stands in for the cancel glyph
    bDisconnClient->SetFlat(false);
    bDisconnClient->SetVisible(false);

    const std::pair<vcl::TComponent*, const char*> names[] = {
        {lblRole, "lblRole"},           {lblDstIp, "lblDstIp"},         {lblDstPort, "lblDstPort"},
        {lblLocalPort, "lblLocalPort"}, {lblCCInfo, "lblCCInfo"},       {edDstIp, "edDstIp"},
        {cbbRole, "cbbRole"},           {edDstPort, "edDstPort"},       {edLocalPort, "edLocalPort"},
        {lblCurCliIdx, "lblCurCliIdx"}, {edCurCliIdx, "edCurCliIdx"},   {bDisconnClient, "bDisconnClient"}};
    for (const auto& [component, name] : names) component->Name = name;

    SetFocusControl(lblRole, cbbRole);
    SetFocusControl(lblDstIp, edDstIp);
    SetFocusControl(lblDstPort, edDstPort);
    SetFocusControl(lblLocalPort, edLocalPort);
    SetFocusControl(lblCurCliIdx, edCurCliIdx);

    AddParamName("Role");
    AddParamName("Destination IP");
    AddParamName("Destination Port");
    AddParamName("Local Port");

    cbbRole->OnChange = [this](vcl::TComponent* Sender) { cbbRoleChange(Sender); };
    edDstIp->OnChange = [this](vcl::TComponent*) { ParamEdited(edDstIp, epDstIp); };
    edDstPort->OnChange = [this](vcl::TComponent*) { ParamEdited(edDstPort, epDstPort); };
    edLocalPort->OnChange = [this](vcl::TComponent*) { ParamEdited(edLocalPort, epLocalPort); };
    edCurCliIdx->OnChange = [this](vcl::TComponent*) { ParamEdited(edCurCliIdx, epCurClient); };
    bDisconnClient->OnClick = [this](vcl::TComponent*) {
        if (OnParamChange) OnParamChange(epDisconnectClient);
    };
    OnResize = [this](vcl::TComponent*) { Arrange(); };
    Arrange();
}

void TfrmForPEth::Arrange() {
    constexpr int kMargin = 4, kGap = 6, kRowGap = 4;
    vcl::TCanvas& canvas = cbbRole->Canvas();
    canvas.Font.Assign(cbbRole->Font());
    // Wide enough for their longest values: the longest role, an address
    // and a port number, with room for the frame and the drop-down arrow.
    int roleWidth = 0;
    for (const char* text : kRoleTexts) roleWidth = std::max(roleWidth, canvas.TextWidth(text));
    roleWidth += 34;
    const int ipWidth = canvas.TextWidth("255.255.255.255") + 14;
    const int portWidth = std::max(54, canvas.TextWidth("65535") + 14);
    const int indexWidth = std::max(40, canvas.TextWidth("255") + 14);
    struct TField {
        vcl::TLabel* Label;
        vcl::TControl* Control;
        int Width;
    };
    const TField fields[] = {{lblRole, cbbRole, roleWidth},
                             {lblDstIp, edDstIp, ipWidth},
                             {lblDstPort, edDstPort, portWidth},
                             {lblLocalPort, edLocalPort, portWidth},
                             {lblCurCliIdx, edCurCliIdx, indexWidth}};
    int labels = 0, rowWidth = kMargin, labelHeight = 0;
    for (const TField& f : fields) {
        if (!f.Control->Visible()) continue;
        labels = std::max(labels, f.Label->Width());
        labelHeight = std::max(labelHeight, f.Label->Height());
        rowWidth += std::max(f.Width, f.Label->Width()) + kGap;
        if (f.Control == edCurCliIdx) rowWidth += bDisconnClient->Width() + 2;
    }
    int bottom = kMargin;
    if (rowWidth <= ClientWidth()) {
        int x = kMargin;
        const int top = 2 + labelHeight + 2;
        for (const TField& f : fields) {
            if (!f.Control->Visible()) continue;
            f.Label->SetLeft(x);
            f.Label->SetTop(top - 2 - f.Label->Height());
            f.Control->SetBounds(x, top, f.Width, f.Control->Height());
            x += std::max(f.Width, f.Label->Width()) + kGap;
            bottom = std::max(bottom, top + f.Control->Height());
        }
    } else {
        int y = kMargin;
        const int left = kMargin + labels + kGap;
        for (const TField& f : fields) {
            if (!f.Control->Visible()) continue;
            const int height = std::max(f.Control->Height(), f.Label->Height());
            f.Label->SetLeft(kMargin);
            f.Label->SetTop(y + (height - f.Label->Height()) / 2);
            const int width = std::min(f.Width, std::max(20, ClientWidth() - left - kMargin));
            f.Control->SetBounds(left, y + (height - f.Control->Height()) / 2, width, f.Control->Height());
            y += height + kRowGap;
            bottom = y;
        }
    }
    bDisconnClient->SetBounds(edCurCliIdx->Left() + edCurCliIdx->Width() + 2, edCurCliIdx->Top(),
                              bDisconnClient->Width(), edCurCliIdx->Height());
    lblCCInfo->SetLeft(kMargin);
    lblCCInfo->SetTop(bottom + kRowGap);
}

vcl::TEdit* TfrmForPEth::EditOf(int Index) const {
    switch (Index) {
    case epDstIp: return edDstIp;
    case epDstPort: return edDstPort;
    case epLocalPort: return edLocalPort;
    case epCurClient: return edCurCliIdx;
    default: return nullptr;
    }
}

std::uint8_t TfrmForPEth::FieldState(vcl::TControl* Control, bool Valid) const {
    if (!Control->Visible()) return psHidden;
    return Valid ? psValid : psInvalid;
}

std::uint8_t TfrmForPEth::GetParam(int Index, std::string& S, bool AsText) {
    if (Index == epRole) {
        const int item = cbbRole->ItemIndex();
        S = rtl::IntToStr(item);
        if (AsText && item >= 0 && item < kRoleCount) S = kRoleShortTexts[item];
        return FieldState(cbbRole, item >= 0);
    }
    vcl::TEdit* edit = EditOf(Index);
    if (!edit) BadParamIdx(Index);
    S = edit->Text();
    switch (Index) {
    case epDstIp: return FieldState(edit, ValidIP(S));
    case epCurClient: return FieldState(edit, DecimalIn(S, 1, 255));
    default: return FieldState(edit, DecimalIn(S, 0, 65535));
    }
}

void TfrmForPEth::SetParam(int Index, const std::string& S) {
    if (Index == epRole) {
        const int item = rtl::StrToIntDef(S, -1);
        cbbRole->SetItemIndex(item >= 0 && item < cbbRole->Items().Count() ? item : -1);
        cbbRoleChange(cbbRole);
        return;
    }
    vcl::TEdit* edit = EditOf(Index);
    if (!edit) BadParamIdx(Index);
    // The text goes in quietly; its change handler then runs exactly once,
    // whether or not the text differed.
    vcl::TNotifyEvent handler = std::exchange(edit->OnChange, nullptr);
    try {
        edit->SetText(S);
    } catch (...) {
        edit->OnChange = std::move(handler);
        throw;
    }
    edit->OnChange = std::move(handler);
    if (edit->OnChange) edit->OnChange(edit);
}

void TfrmForPEth::SetActiveLook(bool Active) {
    const int role = cbbRole->ItemIndex();
    SetLabeledEnabled(lblRole, !Active);
    const bool destination = !Active || role == erUDP;
    SetLabeledEnabled(lblDstIp, destination);
    SetLabeledEnabled(lblDstPort, destination);
    SetLabeledEnabled(lblLocalPort, !Active);
    const bool current = Active && role == erTCPServer;
    SetLabeledVisible(lblCurCliIdx, current);
    bDisconnClient->SetVisible(current);
    Arrange();
}

void TfrmForPEth::cbbRoleChange(vcl::TComponent*) {
    if (Locked()) return;
    const int role = cbbRole->ItemIndex();
    const bool any = role >= 0 && role < kRoleCount;
    SetLabeledVisible(lblDstIp, any && role != erTCPServer);
    SetLabeledVisible(lblDstPort, any && role != erTCPServer);
    SetLabeledVisible(lblLocalPort, any && role != erTCPClient);
    Arrange();
    ParamEdited(cbbRole, epRole);
    ParamEdited(edDstIp, epDstIp);
    ParamEdited(edDstPort, epDstPort);
    ParamEdited(edLocalPort, epLocalPort);
}

// ---- TEthernetPort ----

TEthernetPort::TEthernetPort(std::int32_t Id, TForeignPortEvent OnEvent)
    : TForeignPort(Id, std::move(OnEvent), CreateFrame()) {}

TEthernetPort::~TEthernetPort() {
    // A port freed while open closes first; there is no one left to tell
    // about a failure then, so it goes to standard error.
    if (Active() || socket_) {
        try {
            Close();
        } catch (...) {
            rtl::TraceFailure(std::current_exception(), "closing the Ethernet port");
        }
    }
    *alive_ = false;
}

std::unique_ptr<TfrmForP> TEthernetPort::CreateFrame() { return std::make_unique<TfrmForPEth>(nullptr); }

std::uint32_t TEthernetPort::StrToIP(const std::string& S) {
    const std::vector<std::string> parts = SplitAt(S, '.');
    if (parts.size() != 4) throw rtl::Exception("Wrong IP address format");
    std::uint32_t ip = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::int32_t v = rtl::StrToInt(parts[i]);
        if (v < 0 || v > 255) throw rtl::Exception("Wrong IP address format");
        ip |= static_cast<std::uint32_t>(v) << (8 * i);
    }
    return ip;
}

bool TEthernetPort::Report(int Code, const std::string& Fmt, std::initializer_list<rtl::TVarRec> Args) {
    return ReportAbout(-1, Code, Fmt, Args);
}

bool TEthernetPort::ReportAbout(int Client, int Code, const std::string& Fmt,
                                std::initializer_list<rtl::TVarRec> Args, TDataOrigin Origin) {
    auto alive = alive_;
    // The latest error is what a sender that was cut short is told.
    if (Code == fpeError) failure_ = rtl::Format(Fmt, Args);
    SetReportContext(Client, std::move(Origin));
    NotifyOwner(Fmt, Args, Code);
    if (!*alive) return false;
    SetReportContext(-1);
    return true;
}

TTCPServerSocket* TEthernetPort::Server() const {
    return role_ == erTCPServer ? static_cast<TTCPServerSocket*>(socket_.get()) : nullptr;
}

int TEthernetPort::CurrentClientPos() const {
    // Clients past index 255 all hold 0; none of them is ever "the" client.
    TTCPServerSocket* server = Server();
    if (!server || currentClient_ == 0) return -1;
    return server->FindClientByUserValue(currentClient_);
}

void TEthernetPort::ShowClientCount(int Count) {
    vcl::TLabel* label = EthFrame()->lblCCInfo;
    label->SetCaption(rtl::Format("Clients: %d", {Count}));
    label->SetColor(Count != 0 ? vcl::clBtnFace : kLightYellow);
    label->SetVisible(true);
}

void TEthernetPort::ColourCurrentClient() {
    TfrmForP::SetFieldColor(EthFrame()->edCurCliIdx, CurrentClientPos() < 0, vcl::clYellow);
}

void TEthernetPort::ParamChanged(int Index) {
    auto alive = alive_;
    TForeignPort::ParamChanged(Index);
    if (!*alive) return;
    std::string s;
    switch (Index) {
    case epDstIp:
        dstIP_ = EthFrame()->GetParam(epDstIp, s, false) == psValid ? StrToIP(s) : 0;
        break;
    case epDstPort:
        dstPort_ = EthFrame()->GetParam(epDstPort, s, false) == psValid ? rtl::StrToInt(s) : 0;
        break;
    case epCurClient:
        currentClient_ = static_cast<std::uint8_t>(
            EthFrame()->GetParam(epCurClient, s, false) == psValid ? rtl::StrToInt(s) : 0);
        ColourCurrentClient();
        break;
    case epDisconnectClient:
        if (const int pos = CurrentClientPos(); pos >= 0) Server()->DisconnectClient(Server()->GetClient(pos)->Socket);
        break;
    default:
        break;
    }
}

void TEthernetPort::SetActive(bool Value) {
    auto alive = alive_;
    if (!Value) {
        Close();
        return;
    }
    if (Active() && !Close()) return;
    try {
        TfrmForPEth* frame = EthFrame();
        std::string s;
        frame->GetParam(epRole, s, false);
        const int role = rtl::StrToIntDef(s, -1);
        if (role < 0 || role >= kRoleCount) throw rtl::Exception(rtl::Format("Wrong \"%s\" Value", {"Role"}));
        role_ = static_cast<std::uint8_t>(role);
        dstIP_ = frame->GetParam(epDstIp, s, false) == psValid ? StrToIP(s) : 0;
        dstPort_ = frame->GetParam(epDstPort, s, false) == psValid ? rtl::StrToInt(s) : 0;
        localPort_ = frame->GetParam(epLocalPort, s, false) == psValid ? rtl::StrToInt(s) : 0;

        SetActiveFlag(true);
        frame->SetActiveLook(true);
        failure_.clear();
        if (role_ == erTCPServer) {
            ShowClientCount(0);
        } else {
            frame->lblCCInfo->SetCaption("");
            frame->lblCCInfo->SetVisible(false);
            currentClient_ = 1;
        }

        const auto port16 = static_cast<std::uint16_t>(localPort_);
        switch (role_) {
        case erUDP: {
            auto sock = std::make_unique<TUDPSocket>();
            sock->HoldReading(ReadingHeldFor(1));
            sock->OnError = [this](TTCPUDPCustomSocket*, std::uint32_t v) { SocketError(v); };
            sock->OnReceive = [this](TTCPUDPCustomSocket*, std::uint32_t ip, std::uint16_t port, const void* buf,
                                     int size) { UdpReceive(ip, port, buf, size); };
            sock->OnDrop = [this](TTCPUDPCustomSocket*, std::uint32_t count) { UdpDrop(count); };
            sock->OnCut = [this](TTCPUDPCustomSocket*, std::uint32_t ip, std::uint16_t port, int length, int kept) {
                UdpCut(ip, port, length, kept);
            };
            TUDPSocket* raw = sock.get();
            socket_ = std::move(sock);
            if (!Report(fpeInfo, "Start UDP (listen port %d)", {localPort_}) || socket_.get() != raw) return;
            raw->Listen(port16);
            break;
        }
        case erTCPClient: {
            auto sock = std::make_unique<TTCPClientSocket>();
            sock->HoldReading(ReadingHeldFor(1));
            sock->OnError = [this](TTCPUDPCustomSocket*, std::uint32_t v) { SocketError(v); };
            sock->OnReceive = [this](TTCPUDPCustomSocket*, const void* buf, int size) { ClientReceive(buf, size); };
            sock->OnConnect = [this](TTCPUDPCustomSocket* sender) { ClientConnect(sender); };
            sock->OnDisconnect = [this](TTCPUDPCustomSocket* sender) { ClientDisconnect(sender); };
            TTCPClientSocket* raw = sock.get();
            socket_ = std::move(sock);
            if (!Report(fpeInfo, "Start TCP Client (connect to %s:%d)", {IPToStr(dstIP_), dstPort_}) ||
                socket_.get() != raw)
                return;
            raw->Connect(dstIP_, static_cast<std::uint16_t>(dstPort_), 0, 0);
            break;
        }
        default: {
            clientIndexUsed_.fill(false);
            frame->SetParam(epCurClient, "1");
            if (!*alive || !Active()) return;
            currentClient_ = 1;  // also when a locked frame kept the edit from telling
            auto sock = std::make_unique<TTCPServerSocket>();
            sock->HoldReading(RxPaused());
            sock->OnError = [this](TTCPUDPCustomSocket*, std::uint32_t v) { SocketError(v); };
            sock->OnReceive = [this](TTCPUDPCustomSocket*, TClientRec* client, const void* buf, int size) {
                ServerReceive(client, buf, size);
            };
            sock->OnConnect = [this](TTCPUDPCustomSocket* sender, TClientRec* client) {
                ServerConnect(static_cast<TTCPServerSocket*>(sender), client);
            };
            sock->OnDisconnect = [this](TTCPUDPCustomSocket* sender, TClientRec* client) {
                ServerDisconnect(static_cast<TTCPServerSocket*>(sender), client);
            };
            sock->OnClientError = [this](TTCPUDPCustomSocket* sender, TClientRec* client, std::uint32_t v) {
                ServerClientError(static_cast<TTCPServerSocket*>(sender), client, v);
            };
            sock->OnAcceptHeld = [this](TTCPUDPCustomSocket*, std::uint32_t v) { ServerAcceptHeld(v); };
            TTCPServerSocket* raw = sock.get();
            socket_ = std::move(sock);
            if (!Report(fpeInfo, "Start TCP Server (listen port %d)", {localPort_}) || socket_.get() != raw) return;
            raw->Listen(port16, 0);
            break;
        }
        }
    } catch (...) {
        if (*alive) Close();
        throw;
    }
}

bool TEthernetPort::Close() {
    auto alive = alive_;
    SetActiveFlag(false);
    EthFrame()->SetActiveLook(false);
    // Datagrams lost since the last report are told while the socket that
    // counted them is still here.
    if (socket_ && role_ == erUDP) {
        static_cast<TUDPSocket*>(socket_.get())->TellDrops();
        if (!*alive) return false;
    }
    if (socket_) {
        if (!Report(fpeInfo, "Close Socket")) return false;
        // The field is cleared before the socket goes, so that what the
        // socket reports while closing finds the port without one.
        std::unique_ptr<TTCPUDPCustomSocket> sock = std::move(socket_);
        sock.reset();
        if (!*alive) return false;
        if (!Report(fpeRefresh, "")) return false;
    }
    EthFrame()->lblCCInfo->SetCaption("");
    EthFrame()->lblCCInfo->SetVisible(false);
    return true;
}

void TEthernetPort::SocketError(std::uint32_t Value) {
    if (!Report(fpeError, "Error: %s", {SocketErrorText(Value)})) return;
    // One connection too many is turned away by the server; the clients it
    // already serves keep their connections.
    if (role_ == erTCPServer && Value == kListFullOnAccept && socket_) return;
    Close();
}

void TEthernetPort::ServerClientError(TTCPServerSocket* Server, const TClientRec* Client, std::uint32_t Value) {
    // The record goes with the client: what is needed of it is kept first.
    const std::uint32_t socket = Client->Socket;
    if (!ReportAbout(Client->UserValue, fpeError, "Error: %s", {SocketErrorText(Value)})) return;
    if (socket_.get() != Server) return;  // closed meanwhile
    for (int i = 0; i < Server->ClientCount(); ++i)
        if (Server->GetClient(i)->Socket == socket) {
            Server->DisconnectClient(socket);
            return;
        }
}

void TEthernetPort::UdpDrop(std::uint32_t Count) {
    ReportAbout(1, fpeError, "Error: Receive: %d %s lost, the receive buffer was full",
           {static_cast<std::int64_t>(Count), Count == 1 ? "datagram" : "datagrams"});
}

void TEthernetPort::UdpCut(std::uint32_t IP, std::uint16_t Port, int Length, int Kept) {
    ReportAbout(1, fpeError, "Error: Receive: datagram from %s:%d cut to %d of its %d bytes, %d bytes lost",
           {IPToStr(IP), Port, Kept, Length, Length - Kept});
}

void TEthernetPort::UdpReceive(std::uint32_t IP, std::uint16_t Port, const void* Buf, int Size) {
    // Replies go to the last sender.
    lastSenderIP_ = IP;
    lastSenderPort_ = Port;
    currentClient_ = 1;
    DeliverData(1, Buf, Size,
                {.Key = (static_cast<std::uint64_t>(IP) << 16 | Port) + 1,
                 .Line = rtl::Format("UDP data from %s:%d:", {IPToStr(IP), Port})});
}

void TEthernetPort::ClientReceive(const void* Buf, int Size) {
    currentClient_ = 1;
    DeliverData(1, Buf, Size, {});
}

void TEthernetPort::ClientConnect(TTCPUDPCustomSocket* Sender) {
    const std::uint32_t error = Sender->LastError();
    if (error == 0) {
        Report(fpeInfo, "Connect (%s)", {SocketErrorText(error)});
        return;
    }
    if (!ReportAbout(1, fpeError, "Connect (%s)", {SocketErrorText(error)})) return;
    Close();
}

void TEthernetPort::ClientDisconnect(TTCPUDPCustomSocket* Sender) {
    const std::string reason = SocketErrorText(Sender->LastError());
    // With the socket still here the far side closed; otherwise this is the
    // port's own close going on. Either way the peer has gone.
    if (!ReportAbout(1, socket_ ? fpeError : fpeInfo, "Disconnect (%s)", {reason}, {.Key = 0, .Line = {}, .Gone = true}))
        return;
    Close();
}

void TEthernetPort::ServerReceive(const TClientRec* Client, const void* Buf, int Size) {
    // A server's data always comes under its client's name, a newcomer
    // given a freed index being another peer.
    const int index = Client->UserValue;
    const bool known = index > 0 && index <= 255;
    TDataOrigin origin;
    origin.Key = known ? connection_[static_cast<std::size_t>(index)] : 1;
    origin.Line = known ? rtl::Format("RV data from CliIdx=%d", {index}) : std::string("RV data from CliIdx=Unknown");
    DeliverData(index, Buf, Size, std::move(origin));
}

void TEthernetPort::ServerConnect(TTCPServerSocket* Server, TClientRec* Client) {
    int index = 0;
    for (int i = 1; i < static_cast<int>(clientIndexUsed_.size()); ++i)
        if (!clientIndexUsed_[static_cast<std::size_t>(i)]) {
            clientIndexUsed_[static_cast<std::size_t>(i)] = true;
            index = i;
            break;
        }
    Client->UserValue = index;
    // Keys 0 (none) and 1 (an unknown index) are never a connection's.
    if (index > 0) connection_[static_cast<std::size_t>(index)] = ++connections_ + 1;
    // A newcomer given the index of a client that is held back is held too:
    // what waits under that index is still to be handed on.
    if (ClientRxHeld(index)) Server->HoldReading(Client->Socket, true);
    const int count = Server->ClientCount();
    if (!ReportAbout(index, fpeInfo, "Connect from %s:%d (Idx=%d)", {IPToStr(Client->IP), Client->Port, index}))
        return;
    if (socket_.get() != Server) return;  // closed meanwhile
    ShowClientCount(count);
    ColourCurrentClient();
}

void TEthernetPort::ServerDisconnect(TTCPServerSocket* Server, const TClientRec* Client) {
    const int index = Client->UserValue;
    const int count = Server->ClientCount();
    // A connection that ended with an error (a reset) says which.
    const std::uint32_t error = Server->ClientCloseError();
    // The client's data had its connection's key: what it left goes.
    const bool known = index > 0 && index <= 255;
    const TDataOrigin gone{.Key = known ? connection_[static_cast<std::size_t>(index)] : 1, .Line = {}, .Gone = true};
    if (!(error == 0 ? ReportAbout(index, fpeInfo, "Disconnect CliIdx=%d (cnt=%d)", {index, count}, gone)
                     : ReportAbout(index, fpeInfo, "Disconnect CliIdx=%d (cnt=%d): %s",
                                   {index, count, SocketErrorText(error)}, gone)))
        return;
    if (index >= 1 && index <= 255) clientIndexUsed_[static_cast<std::size_t>(index)] = false;
    // While the server closes, the label goes with it.
    if (socket_.get() != Server) return;
    ShowClientCount(count);
    ColourCurrentClient();
}

void TEthernetPort::ServerAcceptHeld(std::uint32_t Value) {
    // The server and its clients go on; newcomers are taken once a client
    // leaves or the system has room again.
    Report(fpeError, "Error: %s (new clients wait until one can be accepted)", {SocketErrorText(Value)});
}

int TEthernetPort::RefuseSend(int Len, int Index) {
    if (Index > 0)
        Report(fpeError, "Error: SendData: %d bytes not sent to CliIdx=%d: its send queue is full", {Len, Index});
    else
        Report(fpeError, "Error: SendData: %d bytes not sent: the send queue is full", {Len});
    return 0;
}

void TEthernetPort::DeliverData(int Index, const void* Buf, int Len, TDataOrigin Origin) {
    if (Len < 0) return;
    std::string text(1, static_cast<char>(Index));
    text.append(static_cast<const char*>(Buf), static_cast<std::size_t>(Len));
    auto alive = alive_;
    SetReportContext(Index, std::move(Origin));
    NotifyOwner("%s", {text}, fpeData);
    if (*alive) SetReportContext(-1);
}

void TEthernetPort::RxHeldChanged(bool Held) {
    if (!socket_) return;
    if (role_ == erTCPServer)
        socket_->HoldReading(Held);
    else
        socket_->HoldReading(ReadingHeldFor(1));
}

void TEthernetPort::ClientRxHeldChanged(int Client) {
    if (!socket_) return;
    if (role_ != erTCPServer) {
        if (Client == 1) socket_->HoldReading(ReadingHeldFor(1));
        return;
    }
    TTCPServerSocket* server = Server();
    for (int i = 0; i < server->ClientCount(); ++i)
        if (server->GetClient(i)->UserValue == Client)
            server->HoldReading(server->GetClient(i)->Socket, ClientRxHeld(Client));
}

int TEthernetPort::SendRoom() const {
    if (!Active() || !socket_) return 0;
    constexpr std::size_t kAny = static_cast<std::size_t>(std::numeric_limits<int>::max());
    switch (role_) {
    case erUDP: return MaxUdpDatagram;
    case erTCPClient:
        return static_cast<int>(std::min(static_cast<TTCPClientSocket*>(socket_.get())->SendRoom(), kAny));
    default: {
        const int pos = CurrentClientPos();
        if (pos < 0) return static_cast<int>(kAny);
        return static_cast<int>(std::min(Server()->SendRoom(Server()->GetClient(pos)->Socket), kAny));
    }
    }
}

std::uint64_t TEthernetPort::SendTarget() const {
    if (!Active() || !socket_) return 0;
    switch (role_) {
    case erUDP: {
        const bool toDestination = dstIP_ != 0;
        const std::uint64_t ip = toDestination ? dstIP_ : lastSenderIP_;
        const auto port = static_cast<std::uint16_t>(toDestination ? dstPort_ : lastSenderPort_);
        return (ip << 16 | port) + 1;
    }
    case erTCPClient: return socket_->Socket();
    default: {
        const int pos = CurrentClientPos();
        return pos < 0 ? 0 : Server()->GetClient(pos)->Socket;
    }
    }
}

int TEthernetPort::Send(const void* Buf, int Len) {
    failure_.clear();
    if (!Active() || !socket_ || Len < 0 || (!Buf && Len > 0)) return 0;
    switch (role_) {
    case erUDP: {
        // More than one datagram holds: refused here, as the system would
        // refuse it; that is no failure of the socket, which stays open.
        if (Len > MaxUdpDatagram) {
            Report(fpeError, "Error: SendData: %d bytes not sent (UDP max %d)", {Len, MaxUdpDatagram});
            return 0;
        }
        const bool toDestination = dstIP_ != 0;
        const std::uint32_t ip = toDestination ? dstIP_ : lastSenderIP_;
        const std::int32_t port = toDestination ? dstPort_ : lastSenderPort_;
        if ((ip != lastTargetIP_ || port != lastTargetPort_) && Len != 0) {
            lastTargetIP_ = ip;
            lastTargetPort_ = port;
            if (!Report(fpeSendInfo, "UDP send to %s:%d", {IPToStr(ip), port})) return 0;
            if (!socket_ || role_ != erUDP) return 0;
        }
        return static_cast<TUDPSocket*>(socket_.get())->SendTo(ip, static_cast<std::uint16_t>(port), Buf, Len);
    }
    case erTCPClient: {
        auto* client = static_cast<TTCPClientSocket*>(socket_.get());
        if (client->Connected() && static_cast<std::size_t>(Len) > client->SendRoom()) return RefuseSend(Len, 0);
        return client->SendData(Buf, Len);
    }
    default: {
        const int pos = CurrentClientPos();
        if (pos < 0) {
            failure_ = rtl::Format("no client holds CliIdx=%d", {static_cast<int>(currentClient_)});
            return 0;
        }
        const std::uint32_t socket = Server()->GetClient(pos)->Socket;
        if (static_cast<std::size_t>(Len) > Server()->SendRoom(socket)) return RefuseSend(Len, static_cast<int>(currentClient_));
        return Server()->SendData(socket, Buf, Len);
    }
    }
}

void RegisterEthernetPort() {
    if (ForeignClassIndex(EthernetPortId, false) < 0)
        RegisterForeignPortClass(EthernetPortId, ForeignPortClassOf<TEthernetPort>());
}

}  // namespace ports
