#pragma once
// Non-blocking TCP and UDP sockets for the Ethernet port: a UDP endpoint, a
// TCP server with a sorted list of its clients, and a TCP client with a
// connect time-out. Each object owns a hidden window that its socket reports
// to; the window procedure reads the data and calls the owner's events.
// Failures are never thrown: they go to OnError as one 32-bit value, the
// error code in the low 16 bits and the step that failed (a context number)
// in the high 16 bits, which SocketErrorText turns into text.
//
// Any event may free the object that raised it; nothing of the object is
// touched after an event returns in that case.
//
// Sending never loses bytes the socket cannot take at once: the rest is kept
// per connection and sent as soon as the socket has room again, in order;
// PendingBytes tells how much still waits.
//
// A server tells the failure of one client's socket apart from its own
// (OnClientError), so that its owner can drop that client and go on serving
// the others. A UDP socket tells what it could not receive: datagrams the
// system dropped for want of room (OnDrop) and datagrams cut to the receive
// buffer (OnCut).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/win/message_window.h"
#include "platform/win/winsock.h"

namespace ports {

// Steps that can fail: the high word of an error value.
enum TSocketErrorContext : std::uint16_t {
    secReceive = 1,
    secSendData = 2,
    secBroadcast = 3,
    secListenStartup = 4,
    secListenCreateSocket = 5,
    secListenListen = 6,
    secListenSelect = 7,
    secListenBind = 8,
    secConnect = 9,
    secConnectStartup = 10,
    secConnectCreateSocket = 11,
    secConnectConnect = 12,
    secConnectSelect = 13,
    secConnectBind = 14,
    secDisconnect = 15,
    secMsgProc = 16,
    secSetOptionSndBuf = 17,
    secSetOptionRcvBuf = 18,
    secSetOptionBroadcast = 19,
};

// Error codes of the socket classes themselves (beside the WinSock ones).
constexpr int SOCK_ERR_PACKET_TOO_BIG = 12004;
constexpr int SOCK_ERR_NOT_BOUND = 12005;
constexpr int SOCK_ERR_UNKNOWN_SOCKET = 12006;
constexpr int SOCK_ERR_LIST_FULL = 12007;
constexpr int SOCK_ERR_OPTION_VERIFY = 12008;

// Host name lookups that failed; reported for an address of all ones.
constexpr int WSAHOST_NOT_FOUND = 11001;

// Messages the sockets post to their hidden windows.
constexpr win::UINT WM_UDPSOCKET = 1147;
constexpr win::UINT WM_TCPSOCKET = 1148;
// A server posts this (wParam: the handle) when it closes a client: once it
// comes, every notification queued for that client has been seen.
constexpr win::UINT WM_TCPCLIENTGONE = 1149;

// The connect time-out of the TCP client: a window timer with this id.
constexpr std::uintptr_t ConnectTimerId = 1148;
constexpr win::UINT ConnectTimeoutMs = 5000;

// Most clients a server keeps at once.
constexpr int MaxServerClients = 2048;

// The most connections waiting to be accepted: as many as the system allows
// (it caps the number). A full queue does not refuse newcomers on Linux: they
// believe they are connected, and are reset once they send.
constexpr int ListenBacklog = SOMAXCONN;

// A UDP socket tells datagrams the system dropped at most this often, all
// those dropped since the last time at once; a window timer (DropTimerId)
// tells the rest when no more datagrams come.
constexpr win::UINT DropReportMs = 100;
// The longest a UDP socket reads waiting datagrams in one turn of the event
// loop before it lets the window paint.
constexpr std::chrono::milliseconds UdpTurnBudget{10};
constexpr std::uintptr_t DropTimerId = 1147;

// Most bytes kept waiting for one connection; a send beyond it is accepted
// only in part (the count it returns says how much).
constexpr std::size_t MaxPendingBytes = 16u * 1024u * 1024u;

// The text of an error value: "<context prefix><message>".
std::string SocketErrorText(std::uint32_t Value);

// Dotted decimal of an IPv4 address held with its first octet in the lowest byte.
std::string IPToStr(std::uint32_t IP);

class TTCPUDPCustomSocket;
using TSocketErrorEvent = std::function<void(TTCPUDPCustomSocket* Sender, std::uint32_t Value)>;

// Bytes accepted for sending that the socket has not taken yet.
class TPendingBytes {
public:
    std::size_t Size() const { return data_.size() - head_; }
    bool Empty() const { return Size() == 0; }
    // Appends up to the room left below MaxPendingBytes; returns the count kept.
    std::size_t Append(const char* buf, std::size_t size);
    // Sends as much as the socket takes. False on a failure other than
    // "would block" (WSAGetLastError tells which); the rest stays queued.
    bool Flush(win::SOCKET s);
    void Clear();

private:
    std::string data_;
    std::size_t head_ = 0;
};

class TTCPUDPCustomSocket {
public:
    virtual ~TTCPUDPCustomSocket();
    TTCPUDPCustomSocket(const TTCPUDPCustomSocket&) = delete;
    TTCPUDPCustomSocket& operator=(const TTCPUDPCustomSocket&) = delete;

    std::int32_t SendBufSize() const { return sendBufSize_; }
    std::int32_t RecvBufSize() const { return recvBufSize_; }
    // Stores the sizes (values <= 0 leave one alone) and applies them to an
    // open socket as SO_SNDBUF and SO_RCVBUF; the receive size is also the
    // most that one read takes. A failure goes to OnError (contexts 17, 18).
    void SetBufSizes(std::int32_t SendSize, std::int32_t RecvSize);

    bool Opened() const { return opened_; }
    // The value most recently reported, or the error word of the latest
    // connect or close notification.
    std::uint32_t LastError() const { return lastError_; }
    win::SOCKET Socket() const { return socket_; }
    // The hidden window the socket reports to.
    win::HWND Handle() const { return window_; }

    TSocketErrorEvent OnError;

protected:
    TTCPUDPCustomSocket();

    // Creates the hidden window; each class calls it from its constructor.
    void CreateWindow(const std::string& windowText);
    virtual win::LRESULT WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) = 0;

    // Reports Code with Context through OnError. False when the handler
    // freed this object: the caller must then return at once.
    bool DoError(int Code, int Context);
    // Reports WSAGetLastError with Context after closing the socket.
    bool DoSocketError(int Context);
    // Starts WinSock once per object; a failure is reported with Context.
    bool StartWinSock(int Context);
    // Opens a socket of the given type into Socket(); reports with Context.
    bool CreateSocket(int type, int protocol, int Context);
    // Binds Socket() to ip/port (both as held in a sockaddr_in); a failure
    // closes it and reports with Context.
    bool BindSocket(std::uint32_t ip, std::uint16_t netPort, int Context);
    // Watches Socket() for events; a failure closes it and reports with Context.
    bool SelectSocket(win::UINT msg, long events, int Context);
    void CloseSocket();

    // Reads a stream socket into the receive buffer; < 0 on failure. A read
    // that finds nothing (a notification that has become stale) returns -2.
    int ReadInto(win::SOCKET s);
    char* RecvBuf() { return recvBuf_.data(); }

    // Sends buf on s behind what is already pending there, keeping what the
    // socket cannot take now. Returns the count accepted (sent or kept), or
    // -1 when the socket failed before taking anything (WSAGetLastError).
    static int SendOrKeep(win::SOCKET s, TPendingBytes& pending, const char* buf, int size);

    // A token that turns false when the object is destroyed; copy it before
    // calling an event and check it afterwards.
    std::shared_ptr<bool> AliveToken() const { return alive_; }

    bool opened_ = false;
    win::SOCKET socket_ = win::INVALID_SOCKET;
    std::uint32_t lastError_ = 0;

private:
    bool SetOption(int option, std::int32_t value, int Context);

    std::int32_t sendBufSize_ = 32768;
    std::int32_t recvBufSize_ = 32768;
    win::HWND window_ = 0;
    win::WSADATA wsaData_{};
    std::vector<char> recvBuf_;
    bool wsaStarted_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class TUDPSocket : public TTCPUDPCustomSocket {
public:
    using TReceiveEvent = std::function<void(TTCPUDPCustomSocket* Sender, std::uint32_t IP, std::uint16_t Port,
                                             const void* Buf, int Size)>;

    TUDPSocket();
    ~TUDPSocket() override;

    // Opens a UDP socket bound to any local address and LocalPort (0: the
    // system chooses).
    void Listen(std::uint16_t LocalPort);
    // Sends one datagram; the bytes sent, 0 on failure (reported).
    int SendTo(std::uint32_t IP, std::uint16_t Port, const void* Buf, int Size);

    using TDropEvent = std::function<void(TTCPUDPCustomSocket* Sender, std::uint32_t Count)>;
    using TCutEvent = std::function<void(TTCPUDPCustomSocket* Sender, std::uint32_t IP, std::uint16_t Port,
                                         int Length, int Kept)>;

    TReceiveEvent OnReceive;
    // Count datagrams dropped by the system since the last call (its receive
    // buffer was full); comes before the next datagram received, or, when
    // none follows, once the socket has nothing left to read; at most once
    // per DropReportMs.
    TDropEvent OnDrop;
    // A datagram of Length bytes from IP:Port did not fit the receive buffer:
    // only its first Kept bytes come through OnReceive, right after this.
    TCutEvent OnCut;

protected:
    win::LRESULT WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    // Adds drops just seen; tells them now or starts the timer that will.
    // False when an event freed this object.
    bool NoteDrops(std::uint32_t Count);
    bool TellDrops();

    std::uint32_t dropsUntold_ = 0;
    std::uint32_t dropToldTick_ = 0;
    bool dropTold_ = false;   // drops were told once (dropToldTick_ holds when)
    bool dropTimer_ = false;  // the timer runs
};

// One accepted connection of a server.
struct TClientRec {
    std::uint32_t Socket = 0;       // the accepted socket; the sort key
    std::uint32_t IP = 0;           // peer address, first octet in the lowest byte
    std::uint16_t Port = 0;         // peer port in host order
    std::uint32_t ConnectTick = 0;  // GetTickCount at acceptance
    std::int32_t UserValue = 0;     // free for the owner
};

class TTCPServerSocket : public TTCPUDPCustomSocket {
public:
    using TReceiveEvent =
        std::function<void(TTCPUDPCustomSocket* Sender, TClientRec* Client, const void* Buf, int Size)>;
    using TClientEvent = std::function<void(TTCPUDPCustomSocket* Sender, TClientRec* Client)>;
    using TClientErrorEvent =
        std::function<void(TTCPUDPCustomSocket* Sender, TClientRec* Client, std::uint32_t Value)>;

    TTCPServerSocket();
    // Disconnects every client, last first, each through OnDisconnect.
    ~TTCPServerSocket() override;

    // Opens a listening TCP socket bound to IP (0: any) and LocalPort.
    void Listen(std::uint16_t LocalPort, std::uint32_t IP);
    // Sends to one client; the bytes accepted, 0 on failure (reported).
    int SendData(std::uint32_t Socket, const void* Buf, int Size);
    // Closes one client and reports it through OnDisconnect.
    void DisconnectClient(std::uint32_t Socket);

    int ClientCount() const { return static_cast<int>(clients_.size()); }
    // Null when Index is outside 0..ClientCount()-1.
    TClientRec* GetClient(int Index);
    // Index of the first client (in list order) with this UserValue, -1 if none.
    int FindClientByUserValue(std::int32_t Value) const;
    // Bytes accepted for the client that its socket has not taken yet.
    std::size_t PendingBytes(std::uint32_t Socket) const;

    TReceiveEvent OnReceive;
    TClientEvent OnConnect;
    TClientEvent OnDisconnect;
    // The socket of one client failed (reading, sending, or an error in its
    // notification); Value as for OnError, which gets it when this is unset.
    // The client stays listed: the owner decides, and may disconnect it.
    TClientErrorEvent OnClientError;

protected:
    win::LRESULT WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    struct Client {
        TClientRec rec;
        TPendingBytes pending;
    };

    // Position of Socket in the sorted list, or where it would go.
    std::size_t LowerBound(std::uint32_t Socket) const;
    Client* Find(std::uint32_t Socket);
    const Client* Find(std::uint32_t Socket) const;
    void Accept(unsigned errorWord);
    bool Read(std::uint32_t Socket);
    bool Flush(std::uint32_t Socket);
    // Takes the client out of the list and calls OnDisconnect with a copy of
    // its record; closes its socket when close is set. False when the
    // handler freed this object.
    bool Remove(std::uint32_t Socket, bool close, int contextIfUnknown);
    // Reports a failure of the client's socket through OnClientError (or
    // OnError); false when the handler freed this object.
    bool ClientError(std::uint32_t Socket, int Code, int Context);

    std::vector<std::unique_ptr<Client>> clients_;
    // Clients closed here whose queued notifications may still come.
    std::unordered_set<std::uint32_t> closed_;
};

class TTCPClientSocket : public TTCPUDPCustomSocket {
public:
    using TReceiveEvent = std::function<void(TTCPUDPCustomSocket* Sender, const void* Buf, int Size)>;
    using TNotifyEvent = std::function<void(TTCPUDPCustomSocket* Sender)>;

    TTCPClientSocket();
    // Disconnects (OnDisconnect when connected).
    ~TTCPClientSocket() override;

    // Starts a non-blocking connect; the outcome comes through OnConnect
    // (LastError() is 0 on success), or as 10060 with context 9 when nothing
    // has happened after ConnectTimeoutMs.
    void Connect(std::uint32_t RemoteIP, std::uint16_t RemotePort, std::uint32_t LocalIP, std::uint16_t LocalPort);
    // Closes the socket; when connected, clears Connected and calls OnDisconnect.
    void Disconnect();
    // The bytes accepted, 0 on failure (reported).
    int SendData(const void* Buf, int Size);
    bool Connected() const { return connected_; }
    // Bytes accepted that the socket has not taken yet.
    std::size_t PendingBytes() const { return pending_.Size(); }

    TReceiveEvent OnReceive;
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;

protected:
    win::LRESULT WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    bool connected_ = false;
    TPendingBytes pending_;
};

}  // namespace ports
