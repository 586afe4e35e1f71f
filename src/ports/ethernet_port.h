#pragma once
// The Ethernet port: raw bytes over UDP, as a TCP client or as a TCP server
// whose clients are numbered 1 to 255. One of the server's clients is the
// current one: sending goes to it. Everything the port has to say goes to
// its owner through the foreign-port callback; received data goes out as
// fpeData with the client index as the first character, and the owner takes
// index 1 as the main port's data and every other index (the current
// client's too) as the second port's. Each chunk tells its owner which peer
// it came from (a server's client, a datagram's sender) and the line that
// names it ("RV data from CliIdx=<index>", "UDP data from <ip>:<port>:");
// the owner's list shows that line whenever it named another peer last.
//
// The owner may free the port from inside any of its callbacks: the port
// then returns at once without touching itself again.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "ports/foreign_port.h"
#include "ports/sockets.h"

namespace ports {

// The class number of the Ethernet port in the foreign-port table.
constexpr std::int32_t EthernetPortId = 257;

// Roles: the item index of the role combo box.
enum TEthernetRole : std::uint8_t {
    erUDP = 0,
    erTCPClient = 1,
    erTCPServer = 2,
};

// Parameter indices of the frame; the current client index is not part of
// the settings text, and the disconnect button reports itself as 5.
enum TEthernetParam : int {
    epRole = 0,
    epDstIp = 1,
    epDstPort = 2,
    epLocalPort = 3,
    epCurClient = 4,
    epDisconnectClient = 5,
};

// The settings frame: role, destination address and port, local port, and
// while a server runs, the current client index with a button that drops
// that client.
class TfrmForPEth : public TfrmForP {
public:
    explicit TfrmForPEth(vcl::TComponent* AOwner);

    std::uint8_t GetParam(int Index, std::string& S, bool AsText) override;
    void SetParam(int Index, const std::string& S) override;
    void SetActiveLook(bool Active) override;

    // Shows or hides the destination and local port fields by the role
    // chosen, then checks and colours the four settings fields and tells the
    // port. Nothing while the frame is locked.
    void cbbRoleChange(vcl::TComponent* Sender);
    // Places the shown fields: in one row, each label above its field, when
    // the frame is wide enough; otherwise one field a row, its label left of it.
    void Arrange();

    vcl::TLabel* lblRole;
    vcl::TLabel* lblDstIp;
    vcl::TLabel* lblDstPort;
    vcl::TLabel* lblLocalPort;
    vcl::TLabel* lblCCInfo;
    vcl::TEdit* edDstIp;
    vcl::TComboBox* cbbRole;
    vcl::TEdit* edDstPort;
    vcl::TEdit* edLocalPort;
    vcl::TLabel* lblCurCliIdx;
    vcl::TEdit* edCurCliIdx;
    vcl::TSpeedButton* bDisconnClient;

private:
    vcl::TEdit* EditOf(int Index) const;
    // The text of a shown field and whether it holds a valid value.
    std::uint8_t FieldState(vcl::TControl* Control, bool Valid) const;
};

class TEthernetPort : public TForeignPort {
public:
    TEthernetPort(std::int32_t Id, TForeignPortEvent OnEvent);
    ~TEthernetPort() override;

    static std::string ClassName() { return "TEthernetPort"; }
    static std::string GetName() { return ForeignPortName(ClassName()); }
    static std::unique_ptr<TfrmForP> CreateFrame();

    // Dotted decimal, the first part into the lowest byte. Raises "Wrong IP
    // address format" unless there are four parts of 0 to 255; a part that
    // is not a number raises the number-conversion error.
    static std::uint32_t StrToIP(const std::string& S);

    void ParamChanged(int Index) override;
    void SetActive(bool Value) override;
    // A TCP send that does not fit whole into the connection's send queue
    // is refused: an error line names the client and the bytes not sent,
    // and 0 comes back. So is a UDP send longer than one datagram holds
    // (MaxUdpDatagram). The port stays open.
    int Send(const void* Buf, int Len) override;
    // UDP: the largest datagram; TCP: the room left in the send queue (of
    // the current client; with none, any size: Send then fails).
    int SendRoom() const override;
    std::string LastFailure() const override { return failure_; }
    // TCP server: the current client's connection (handles are never given
    // out twice); UDP: the address datagrams go to; TCP client: its socket.
    std::uint64_t SendTarget() const override;

    TfrmForPEth* EthFrame() const { return static_cast<TfrmForPEth*>(Frame()); }
    std::uint8_t Role() const { return role_; }
    int CurrentClient() const override { return currentClient_; }
    // The open transport (null while inactive), for looking at its state.
    const TTCPUDPCustomSocket* Transport() const { return socket_.get(); }

private:
    // Reports Format(Fmt, Args) with Code; false when the owner freed the port.
    bool Report(int Code, const std::string& Fmt, std::initializer_list<rtl::TVarRec> Args = {});
    // The same about one client (its lines keep their place among its data).
    bool ReportAbout(int Client, int Code, const std::string& Fmt, std::initializer_list<rtl::TVarRec> Args = {},
                     TDataOrigin Origin = {});
    // Deactivates; false when the owner freed the port meanwhile.
    bool Close();

    void SocketError(std::uint32_t Value);
    // A server client's socket failed: that client goes, the server stays.
    void ServerClientError(TTCPServerSocket* Server, const TClientRec* Client, std::uint32_t Value);
    void UdpDrop(std::uint32_t Count);
    void UdpCut(std::uint32_t IP, std::uint16_t Port, int Length, int Kept);
    void UdpReceive(std::uint32_t IP, std::uint16_t Port, const void* Buf, int Size);
    void ClientReceive(const void* Buf, int Size);
    void ClientConnect(TTCPUDPCustomSocket* Sender);
    void ClientDisconnect(TTCPUDPCustomSocket* Sender);
    void ServerReceive(const TClientRec* Client, const void* Buf, int Size);
    void ServerConnect(TTCPServerSocket* Server, TClientRec* Client);
    void ServerDisconnect(TTCPServerSocket* Server, const TClientRec* Client);
    // The server has no descriptor (or memory) for a newcomer: it waits.
    void ServerAcceptHeld(std::uint32_t Value);
    // Len bytes do not fit the send queue (of client Index, 0: the TCP
    // client's): told, and 0 is returned.
    int RefuseSend(int Len, int Index);
    void DeliverData(int Index, const void* Buf, int Len, TDataOrigin Origin);
    void RxHeldChanged(bool Held) override;
    void ClientRxHeldChanged(int Client) override;

    TTCPServerSocket* Server() const;
    // Position in the server's list of the client holding the current index,
    // -1 when none does (or the index is 0: no client is chosen then).
    int CurrentClientPos() const;
    void ShowClientCount(int Count);
    void ColourCurrentClient();

    std::uint8_t role_ = erUDP;
    std::unique_ptr<TTCPUDPCustomSocket> socket_;
    std::uint32_t dstIP_ = 0;
    std::int32_t dstPort_ = 0;
    std::int32_t localPort_ = 0;
    std::uint32_t lastTargetIP_ = 0;
    std::int32_t lastTargetPort_ = 0;
    std::uint32_t lastSenderIP_ = 0;
    std::uint16_t lastSenderPort_ = 0;
    std::array<bool, 256> clientIndexUsed_{};
    std::uint8_t currentClient_ = 1;
    // Each server client's connection, numbered from 1 as they come, so that
    // a newcomer given a freed index is another peer to its owner's list.
    std::array<std::uint64_t, 256> connection_{};
    std::uint64_t connections_ = 0;
    std::string failure_;  // LastFailure
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Puts the Ethernet port into the foreign-port class table (once).
void RegisterEthernetPort();

}  // namespace ports
