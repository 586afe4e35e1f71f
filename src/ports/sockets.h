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
// PendingBytes tells how much still waits. What a connection keeps is
// bounded (SendRoom tells the room left): a send goes in whole or, when it
// does not fit, not at all, so that the far side never gets a cut message.
//
// A server that runs out of descriptors (or memory) for a newcomer leaves it
// waiting in the system's queue and stops watching for newcomers until a
// client leaves or AcceptRetryMs has passed (OnAcceptHeld tells it once).
//
// A server tells the failure of one client's socket apart from its own
// (OnClientError), so that its owner can drop that client and go on serving
// the others. A UDP socket reads every datagram whole, the largest that
// IPv4 carries included, and tells what it could not receive: datagrams the
// system dropped for want of room (OnDrop), and any datagram longer than its
// read buffer (OnCut; none over IPv4).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
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

// The connect time-out of the TCP client: a window timer with this id.
constexpr std::uintptr_t ConnectTimerId = 1148;
constexpr win::UINT ConnectTimeoutMs = 5000;

// The largest UDP datagram over IPv4: 65,535 less the IP and UDP headers.
constexpr int MaxUdpDatagram = 65507;

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

// A server that could not accept for want of descriptors or memory tries
// again after this long (or as soon as a client leaves): a window timer.
constexpr std::uintptr_t AcceptRetryTimerId = 1149;
constexpr win::UINT AcceptRetryMs = 500;

// Most bytes kept waiting for one connection; a send that would go beyond it
// is refused whole.
constexpr std::size_t MaxPendingBytes = 16u * 1024u * 1024u;
// The limit a socket made now keeps to: MaxPendingBytes, or for tests the
// number of KiB in the environment variable VOSTREL_TEST_SEND_QUEUE_KB.
std::size_t SendQueueLimit();

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
    // What may still be added.
    std::size_t Room() const { return limit_ > Size() ? limit_ - Size() : 0; }
    // Appends; the caller has made sure that size fits Room().
    void Append(const char* buf, std::size_t size);
    // Sends as much as the socket takes. False on a failure other than
    // "would block" (WSAGetLastError tells which); the rest stays queued.
    bool Flush(win::SOCKET s);
    void Clear();

private:
    std::string data_;
    std::size_t head_ = 0;
    std::size_t limit_ = SendQueueLimit();
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
    // most that one read of a TCP socket takes (a UDP socket reads whole
    // datagrams). A failure goes to OnError (contexts 17, 18).
    void SetBufSizes(std::int32_t SendSize, std::int32_t RecvSize);

    bool Opened() const { return opened_; }
    // The value most recently reported, or the error word of the latest
    // connect or close notification.
    std::uint32_t LastError() const { return lastError_; }
    win::SOCKET Socket() const { return socket_; }
    // The hidden window the socket reports to.
    win::HWND Handle() const { return window_; }

    // While held, nothing is read: what arrives waits with the system (a
    // stream's sender is held back once its buffer is full; datagrams
    // beyond it are dropped, and told through a UDP socket's OnDrop). For
    // an owner that cannot take more now; releasing it reads what waits.
    void HoldReading(bool Held);
    bool ReadingHeld() const { return readingHeld_; }
    // The same for one of the object's sockets alone (a server's client):
    // its peer waits while the others go on.
    void HoldReading(win::SOCKET s, bool Held);
    bool ReadingHeld(win::SOCKET s) const;

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
    // A read notification for s came while reading is held: s is watched
    // for it again when reading goes on.
    void OweRead(win::SOCKET s);
    // Whether s is an open socket of this object (its own, or a client's).
    virtual bool Watches(win::SOCKET s) const { return opened_ && s == socket_; }

    // Reads a stream socket into the receive buffer; < 0 on failure. A read
    // that finds nothing (a notification that has become stale) returns -2.
    int ReadInto(win::SOCKET s);
    char* RecvBuf() { return recvBuf_.data(); }

    // Sends buf on s behind what is already pending there, keeping what the
    // socket cannot take now. Returns size when all of it was accepted (sent
    // or kept); SendRefused, with nothing sent, when it does not fit the
    // room left; -1 when the socket failed before taking anything
    // (WSAGetLastError).
    static constexpr int SendRefused = -2;
    static int SendOrKeep(win::SOCKET s, TPendingBytes& pending, const char* buf, int size);
    // A refused send is no failure of the connection: no event is called;
    // LastError says WSAENOBUFS with context 2, and the result is 0.
    int Refused();

    // A token that turns false when the object is destroyed; copy it before
    // calling an event and check it afterwards.
    std::shared_ptr<bool> AliveToken() const { return alive_; }
    // Calls Event (when set) with Args; false when it freed this object.
    template <class Event, class... Args>
    bool Fire(const Event& event, Args&&... args) {
        if (!event) return true;
        auto alive = alive_;
        event(std::forward<Args>(args)...);
        return *alive;
    }

    bool opened_ = false;
    win::SOCKET socket_ = win::INVALID_SOCKET;
    std::uint32_t lastError_ = 0;

private:
    bool SetOption(int option, std::int32_t value, int Context);

    std::int32_t sendBufSize_ = 32768;
    std::int32_t recvBufSize_ = 32768;
    win::HWND window_ = 0;
    win::UINT watchMsg_ = 0;
    long watchEvents_ = 0;
    bool readingHeld_ = false;
    std::vector<win::SOCKET> heldSockets_;
    std::vector<win::SOCKET> owedReads_;
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
    // Tells at once the drops counted but not told yet. The owner calls it
    // before it frees the socket; destroying the socket tells nothing.
    // False when the handler freed this object.
    bool TellDrops();

    using TDropEvent = std::function<void(TTCPUDPCustomSocket* Sender, std::uint32_t Count)>;
    using TCutEvent = std::function<void(TTCPUDPCustomSocket* Sender, std::uint32_t IP, std::uint16_t Port,
                                         int Length, int Kept)>;

    TReceiveEvent OnReceive;
    // Count datagrams dropped by the system since the last call (its receive
    // buffer was full); comes before the next datagram received, or, when
    // none follows, once the socket has nothing left to read; at most once
    // per DropReportMs.
    TDropEvent OnDrop;
    // A datagram of Length bytes from IP:Port did not fit the read buffer
    // (which holds the largest one over IPv4): only its first Kept bytes
    // come through OnReceive, right after this.
    TCutEvent OnCut;

protected:
    win::LRESULT WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    // Adds drops just seen; tells them now or starts the timer that will.
    // False when an event freed this object.
    bool NoteDrops(std::uint32_t Count);

    // A read takes one datagram, which must come whole whatever the receive
    // size: a message is the unit a UDP peer speaks in. The largest one over
    // IPv4 fits; the receive size stays what the system buffers.
    std::vector<char> datagram_ = std::vector<char>(MaxUdpDatagram);
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
    // Sends to one client; Size when accepted, 0 on failure (reported) or
    // when it does not fit SendRoom (refused whole, see Refused).
    int SendData(std::uint32_t Socket, const void* Buf, int Size);
    // Closes one client and reports it through OnDisconnect.
    void DisconnectClient(std::uint32_t Socket);

    int ClientCount() const { return static_cast<int>(clients_.size()); }
    // Null when Index is outside 0..ClientCount()-1.
    TClientRec* GetClient(int Index);
    const TClientRec* GetClient(int Index) const;
    // Index of the first client (in list order) with this UserValue, -1 if none.
    int FindClientByUserValue(std::int32_t Value) const;
    // Bytes accepted for the client that its socket has not taken yet.
    std::size_t PendingBytes(std::uint32_t Socket) const;
    // The most one SendData to the client takes now; 0 for an unknown one.
    std::size_t SendRoom(std::uint32_t Socket) const;
    // While OnDisconnect runs: the error word the client's connection ended
    // with (a reset, say); 0 when it closed normally or was closed here.
    std::uint32_t ClientCloseError() const { return closeError_; }
    // Newcomers wait in the system's queue: accepting is held.
    bool AcceptHeld() const { return acceptHeld_; }

    TReceiveEvent OnReceive;
    TClientEvent OnConnect;
    TClientEvent OnDisconnect;
    // The socket of one client failed (reading, sending, or an error in its
    // notification); Value as for OnError, which gets it when this is unset.
    // The client stays listed: the owner decides, and may disconnect it.
    TClientErrorEvent OnClientError;
    // Accepting failed for want of descriptors (WSAEMFILE) or memory
    // (WSAENOBUFS), Value with context 9 as for OnError (which gets it when
    // this is unset). Nothing was closed: the newcomer waits in the system's
    // queue and accepting is held (AcceptHeld) until a client leaves or
    // AcceptRetryMs has passed. Told once until an accept succeeds again.
    TSocketErrorEvent OnAcceptHeld;

protected:
    win::LRESULT WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;
    bool Watches(win::SOCKET s) const override { return Find(static_cast<std::uint32_t>(s)) != nullptr; }

private:
    struct Client {
        TClientRec rec;
        TPendingBytes pending;
    };

    // Position of Socket in the sorted list, or where it would go.
    std::size_t LowerBound(std::uint32_t Socket) const;
    Client* Find(std::uint32_t Socket);
    const Client* Find(std::uint32_t Socket) const;
    bool Accept(unsigned errorWord);
    // Stops watching for newcomers and starts the retry timer; tells Code
    // unless it was told since the last accept that succeeded.
    bool HoldAccepting(int Code);
    // Watches for newcomers again (the waiting ones come as FD_ACCEPT).
    void ResumeAccepting();
    bool Read(std::uint32_t Socket);
    bool Flush(std::uint32_t Socket);
    // Closes the client, takes it out of the list and calls OnDisconnect
    // with a copy of its record, closeError being ClientCloseError() then.
    // An unknown socket is reported (12006, context 15). False when the
    // handler freed this object.
    bool Remove(std::uint32_t Socket, std::uint32_t closeError);
    // Reports a failure of the client's socket through OnClientError (or
    // OnError); false when the handler freed this object.
    bool ClientError(std::uint32_t Socket, int Code, int Context);

    std::vector<std::unique_ptr<Client>> clients_;
    std::uint32_t closeError_ = 0;
    bool acceptHeld_ = false;      // not watching for newcomers; the retry timer runs
    bool acceptHeldTold_ = false;  // told since the last accept that succeeded
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
    // Size when accepted, 0 on failure (reported) or when it does not fit
    // SendRoom (refused whole, see Refused).
    int SendData(const void* Buf, int Size);
    bool Connected() const { return connected_; }
    // Bytes accepted that the socket has not taken yet.
    std::size_t PendingBytes() const { return pending_.Size(); }
    // The most one SendData takes now.
    std::size_t SendRoom() const { return pending_.Room(); }

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
