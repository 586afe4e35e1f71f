#include "ports/sockets.h"

#include <netinet/tcp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/controls.h"
#include "platform/vcl/forms.h"
#include "platform/win/timers.h"

namespace ports {
namespace {

struct CodeText {
    int code;
    const char* text;
};

constexpr CodeText kMessages[] = {
    {0, "No error"},
    {6, "Specified event object handle is invalid"},
    {8, "Insufficient memory available"},
    {87, "One or more parameters are invalid"},
    {995, "Overlapped operation aborted"},
    {996, "Overlapped I/O event object not in signaled state"},
    {997, "Overlapped operations will complete later"},
    {10004, "Interrupted function call"},
    {10009, "File handle is not valid"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Resource temporarily unavailable"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Cannot assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Cannot send after socket shutdown"},
    {10059, "Too many references"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Cannot translate name"},
    {10063, "Name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "User quota exceeded"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale file handle reference"},
    {10071, "Item is remote"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Winsock.dll version out of range"},
    {10093, "Successful WSAStartup not yet performed"},
    {10101, "Graceful shutdown in progress"},
    {10102, "No more results"},
    {10103, "Call has been canceled"},
    {10104, "Procedure call table is invalid"},
    {10105, "Service provider is invalid"},
    {10106, "Service provider failed to initialize"},
    {10107, "System call failure"},
    {10108, "Service not found"},
    {10109, "Class type not found"},
    {10110, "No more results"},
    {10111, "Call was canceled"},
    {10112, "Database query was refused"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, "Valid name, no data record of requested type"},
    {SOCK_ERR_PACKET_TOO_BIG, "Packet too big"},
    {SOCK_ERR_NOT_BOUND, "Socket not bound"},
    {SOCK_ERR_UNKNOWN_SOCKET, "Unknown socket"},
    {SOCK_ERR_LIST_FULL, "Connection list is full"},
    {SOCK_ERR_OPTION_VERIFY, "Error verifying option parameter"},
};

// Indexed by context number.
constexpr const char* kContextPrefixes[] = {
    "",
    "Receive: ",
    "SendData: ",
    "Broadcast: ",
    "Listen: Startup: ",
    "Listen: CreateSocket: ",
    "Listen: Listen: ",
    "Listen: Select: ",
    "Listen: Bind: ",
    "Connect: ",
    "Connect: Startup: ",
    "Connect: CreateSocket: ",
    "Connect: Connect: ",
    "Connect: Select: ",
    "Connect: Bind: ",
    "Disconnect: ",
    "MsgProc: ",
    "SetOption: SO_SNDBUF: ",
    "SetOption: SO_RCVBUF: ",
    "SetOption: SO_BROADCAST: ",
};

constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;  // INADDR_NONE as held here

sockaddr_in MakeAddress(std::uint32_t ip, std::uint16_t netPort) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = netPort;
    a.sin_addr.s_addr = ip;
    return a;
}

const sockaddr* AsSockaddr(const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); }

// The code in the low word, the step that failed in the high word.
std::uint32_t ErrorValue(int Code, int Context) {
    return (static_cast<std::uint32_t>(Code) & 0xFFFFu) | (static_cast<std::uint32_t>(Context) << 16);
}

// The default events: a message box, as long as the owner has set none.
void ShowDefaultMessage(const std::string& text, const char* caption);

// Segments of a connection are kept well below what the send buffer holds.
// On loopback a segment may be 64 KB, as large as the whole send buffer these
// sockets keep: one segment is then all that is ever in flight, and each
// waits for the far side's delayed acknowledgement (some 40 ms), which caps
// a stream near 1.6 MB/s. Real networks have far smaller segments already.
// Best effort: a socket that refuses keeps the system's size.
constexpr int kMaxSegment = 16384;
void KeepSegmentsSmall(win::SOCKET s) {
    win::setsockopt(s, IPPROTO_TCP, TCP_MAXSEG, &kMaxSegment, sizeof kMaxSegment);
}

}  // namespace

std::string SocketErrorText(std::uint32_t Value) {
    int code = static_cast<int>(Value & 0xFFFFu);
    std::uint32_t context = Value >> 16;
    auto it = std::find_if(std::begin(kMessages), std::end(kMessages),
                           [code](const CodeText& m) { return m.code == code; });
    std::string text = it != std::end(kMessages)
                           ? std::string(it->text)
                           : "Not a WinSock error (" + std::to_string(Value) + ")";
    if (context >= 1 && context < std::size(kContextPrefixes)) text = kContextPrefixes[context] + text;
    return text;
}

std::string IPToStr(std::uint32_t IP) {
    return std::to_string(IP & 0xFFu) + "." + std::to_string((IP >> 8) & 0xFFu) + "." +
           std::to_string((IP >> 16) & 0xFFu) + "." + std::to_string(IP >> 24);
}

std::size_t SendQueueLimit() {
    if (const char* test = std::getenv("VOSTREL_TEST_SEND_QUEUE_KB")) {
        const long kb = std::strtol(test, nullptr, 10);
        if (kb > 0) return static_cast<std::size_t>(kb) * 1024u;
    }
    return MaxPendingBytes;
}

// ---------------------------------------------------------------------------
// TPendingBytes

void TPendingBytes::Append(const char* buf, std::size_t size) {
    if (head_ > 0 && head_ >= data_.size() / 2) {
        data_.erase(0, head_);
        head_ = 0;
    }
    data_.append(buf, size);
}

bool TPendingBytes::Flush(win::SOCKET s) {
    while (!Empty()) {
        std::size_t chunk = std::min<std::size_t>(Size(), 1u << 20);
        int n = win::send(s, data_.data() + head_, static_cast<int>(chunk), 0);
        if (n < 0) return win::WSAGetLastError() == win::WSAEWOULDBLOCK;
        head_ += static_cast<std::size_t>(n);
        if (n == 0) break;
    }
    if (Empty()) Clear();
    return true;
}

void TPendingBytes::Clear() {
    data_.clear();
    head_ = 0;
}

// ---------------------------------------------------------------------------
// TTCPUDPCustomSocket

TTCPUDPCustomSocket::TTCPUDPCustomSocket() {
    OnError = [](TTCPUDPCustomSocket*, std::uint32_t Value) {
        ShowDefaultMessage("Error: \r" + SocketErrorText(Value), "Easy_TCP");
    };
    SetBufSizes(sendBufSize_, recvBufSize_);
}

TTCPUDPCustomSocket::~TTCPUDPCustomSocket() {
    *alive_ = false;
    CloseSocket();
    if (wsaStarted_) win::WSACleanup();
    if (window_ != 0) win::DeallocateHWnd(window_);
}

void TTCPUDPCustomSocket::CreateWindow(const std::string& windowText) {
    // An owner's event that throws is caught by the window's guard for
    // entries from the loop: the application's handler shows it (a failure
    // with every datagram is told as a repeat), and the loop goes on.
    window_ = win::AllocateHWnd(
        [this](win::HWND, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
            return WndProc(msg, wParam, lParam);
        },
        windowText);
}

bool TTCPUDPCustomSocket::DoError(int Code, int Context) {
    const std::uint32_t value = ErrorValue(Code, Context);
    lastError_ = value;
    return Fire(OnError, this, value);
}

bool TTCPUDPCustomSocket::DoSocketError(int Context) {
    int code = win::WSAGetLastError();
    CloseSocket();
    return DoError(code, Context);
}

bool TTCPUDPCustomSocket::StartWinSock(int Context) {
    if (wsaStarted_) return true;
    int result = win::WSAStartup(0x0101, &wsaData_);
    if (result != 0) {
        DoError(result, Context);
        return false;
    }
    wsaStarted_ = true;
    return true;
}

bool TTCPUDPCustomSocket::CreateSocket(int type, int protocol, int Context) {
    socket_ = win::socket(AF_INET, type, protocol);
    if (socket_ != win::INVALID_SOCKET) return true;
    DoError(win::WSAGetLastError(), Context);
    return false;
}

bool TTCPUDPCustomSocket::BindSocket(std::uint32_t ip, std::uint16_t netPort, int Context) {
    sockaddr_in a = MakeAddress(ip, netPort);
    if (win::bind(socket_, AsSockaddr(a), sizeof a) == 0) return true;
    DoSocketError(Context);
    return false;
}

bool TTCPUDPCustomSocket::SelectSocket(win::UINT msg, long events, int Context) {
    watchMsg_ = msg;
    watchEvents_ = events;
    if (win::WSAAsyncSelect(socket_, window_, msg, events) == 0) return true;
    DoSocketError(Context);
    return false;
}

void TTCPUDPCustomSocket::CloseSocket() {
    if (socket_ != win::INVALID_SOCKET) win::closesocket(socket_);
    socket_ = win::INVALID_SOCKET;
    opened_ = false;
}

void TTCPUDPCustomSocket::SetBufSizes(std::int32_t SendSize, std::int32_t RecvSize) {
    if (SendSize > 0) {
        if (opened_ && !SetOption(SO_SNDBUF, SendSize, secSetOptionSndBuf)) return;
        sendBufSize_ = SendSize;
    }
    if (RecvSize > 0) {
        if (opened_ && !SetOption(SO_RCVBUF, RecvSize, secSetOptionRcvBuf)) return;
        recvBufSize_ = RecvSize;
        recvBuf_.resize(static_cast<std::size_t>(RecvSize));
    }
}

bool TTCPUDPCustomSocket::SetOption(int option, std::int32_t value, int Context) {
    if (win::setsockopt(socket_, SOL_SOCKET, option, &value, sizeof value) != 0) {
        DoError(win::WSAGetLastError(), Context);
        return false;
    }
    std::int32_t readBack = 0;
    int len = sizeof readBack;
    if (win::getsockopt(socket_, SOL_SOCKET, option, &readBack, &len) != 0) {
        DoError(win::WSAGetLastError(), Context);
        return false;
    }
    // Linux keeps twice the size asked for (its bookkeeping share), so a
    // larger read-back is what was set; only less means it did not hold.
    if (len != sizeof readBack || readBack < value) {
        DoError(SOCK_ERR_OPTION_VERIFY, Context);
        return false;
    }
    return true;
}

void TTCPUDPCustomSocket::HoldReading(bool Held) {
    readingHeld_ = Held;
    if (Held) return;
    // Watching a socket again brings the read notification it is owed, as
    // after a read; one held alone stays owed.
    std::vector<win::SOCKET> still;
    for (const win::SOCKET s : std::exchange(owedReads_, {})) {
        if (ReadingHeld(s))
            still.push_back(s);
        else if (Watches(s))
            win::WSAAsyncSelect(s, window_, watchMsg_, watchEvents_);
    }
    owedReads_ = std::move(still);
}

void TTCPUDPCustomSocket::HoldReading(win::SOCKET s, bool Held) {
    const auto it = std::find(heldSockets_.begin(), heldSockets_.end(), s);
    if (Held) {
        if (it == heldSockets_.end()) heldSockets_.push_back(s);
        return;
    }
    if (it == heldSockets_.end()) return;
    heldSockets_.erase(it);
    const auto owed = std::find(owedReads_.begin(), owedReads_.end(), s);
    if (readingHeld_ || owed == owedReads_.end()) return;
    owedReads_.erase(owed);
    if (Watches(s)) win::WSAAsyncSelect(s, window_, watchMsg_, watchEvents_);
}

bool TTCPUDPCustomSocket::ReadingHeld(win::SOCKET s) const {
    return readingHeld_ || std::find(heldSockets_.begin(), heldSockets_.end(), s) != heldSockets_.end();
}

void TTCPUDPCustomSocket::OweRead(win::SOCKET s) {
    if (std::find(owedReads_.begin(), owedReads_.end(), s) == owedReads_.end()) owedReads_.push_back(s);
}

int TTCPUDPCustomSocket::ReadInto(win::SOCKET s) {
    int n = win::recv(s, recvBuf_.data(), recvBufSize_, 0);
    if (n < 0 && win::WSAGetLastError() == win::WSAEWOULDBLOCK) return -2;
    return n;
}

int TTCPUDPCustomSocket::SendOrKeep(win::SOCKET s, TPendingBytes& pending, const char* buf, int size) {
    if (size < 0) {
        win::WSASetLastError(win::WSAEINVAL);
        return -1;
    }
    // Bytes already waiting go first, so that nothing overtakes them.
    if (!pending.Empty() && !pending.Flush(s)) return -1;
    // Whole or not at all: a message cut in two would reach the far side
    // as two halves with whatever came between.
    if (static_cast<std::size_t>(size) > pending.Room()) return SendRefused;
    int sent = 0;
    if (pending.Empty()) {
        while (sent < size) {
            int n = win::send(s, buf + sent, size - sent, 0);
            if (n < 0) {
                if (win::WSAGetLastError() != win::WSAEWOULDBLOCK) return sent > 0 ? sent : -1;
                break;
            }
            if (n == 0) break;
            sent += n;
        }
    }
    pending.Append(buf + sent, static_cast<std::size_t>(size - sent));
    return size;
}

int TTCPUDPCustomSocket::Refused() {
    lastError_ = ErrorValue(win::WSAENOBUFS, secSendData);
    return 0;
}

// ---------------------------------------------------------------------------
// TUDPSocket

TUDPSocket::TUDPSocket() {
    CreateWindow("UDPSocketUtil");
    OnReceive = [](TTCPUDPCustomSocket*, std::uint32_t IP, std::uint16_t Port, const void*, int Size) {
        ShowDefaultMessage("Data Received\rOnReiceive not Assigned\rHost: " + IPToStr(IP) + "\r" + "Port: " +
                               std::to_string(Port) + "\r" + "Size: " + std::to_string(Size),
                           "Easy_UDP");
    };
}

TUDPSocket::~TUDPSocket() = default;

void TUDPSocket::Listen(std::uint16_t LocalPort) {
    // A second Listen replaces the socket rather than leaking it.
    CloseSocket();
    if (!StartWinSock(secListenStartup)) return;
    if (!CreateSocket(SOCK_DGRAM, IPPROTO_UDP, secListenCreateSocket)) return;
    if (!BindSocket(INADDR_ANY, htons(LocalPort), secListenBind)) return;
    if (!SelectSocket(WM_UDPSOCKET, win::FD_READ, secListenSelect)) return;
    opened_ = true;
    SetBufSizes(SendBufSize(), RecvBufSize());
}

int TUDPSocket::SendTo(std::uint32_t IP, std::uint16_t Port, const void* Buf, int Size) {
    if (!opened_) {
        DoError(SOCK_ERR_NOT_BOUND, secSendData);
        return 0;
    }
    if (IP == kAllOnes) {
        DoError(WSAHOST_NOT_FOUND, secSendData);
        return 0;
    }
    sockaddr_in to = MakeAddress(IP, htons(Port));
    int n = win::sendto(socket_, Buf, Size, 0, AsSockaddr(to), sizeof to);
    if (n < 0) {
        DoError(win::WSAGetLastError(), secSendData);
        return 0;
    }
    return n;
}

bool TUDPSocket::NoteDrops(std::uint32_t Count) {
    dropsUntold_ += Count;
    if (dropTimer_) return true;  // the timer will tell them with the rest
    const std::uint32_t since = win::GetTickCount() - dropToldTick_;
    if (!dropTold_ || since >= DropReportMs) return TellDrops();
    dropTimer_ = win::SetTimer(Handle(), DropTimerId, DropReportMs - since) != 0;
    return true;
}

bool TUDPSocket::TellDrops() {
    if (dropTimer_) win::KillTimer(Handle(), DropTimerId);
    dropTimer_ = false;
    const std::uint32_t count = std::exchange(dropsUntold_, 0);
    if (count == 0) return true;
    dropTold_ = true;
    dropToldTick_ = win::GetTickCount();
    return Fire(OnDrop, this, count);
}

win::LRESULT TUDPSocket::WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    if (msg == win::WM_TIMER && wParam == DropTimerId) {
        TellDrops();
        return 0;
    }
    if (msg != WM_UDPSOCKET) return win::DefWindowProc(Handle(), msg, wParam, lParam);
    // A notification for a socket closed since it was posted is stale.
    if (!opened_ || wParam != socket_ || win::WSAGETSELECTEVENT(lParam) != win::FD_READ) return 0;
    const win::SOCKET s = socket_;
    // Unread, the socket is not watched again until reading goes on.
    if (ReadingHeld()) {
        OweRead(s);
        return 0;
    }
    // Every datagram waiting is read in one turn, so that a flood is not
    // taken one datagram per turn of the event loop; the turn is bounded so
    // that the window still paints, and the socket, watched again after each
    // read, brings the rest with the next turn.
    const auto until = std::chrono::steady_clock::now() + UdpTurnBudget;
    do {
        sockaddr_in from{};
        int fromLen = sizeof from;
        win::DatagramInfo info;
        const int n = win::RecvDatagram(s, datagram_.data(), static_cast<int>(datagram_.size()),
                                        reinterpret_cast<sockaddr*>(&from), &fromLen, &info);
        const int error = n < 0 ? win::WSAGetLastError() : 0;
        // What was lost before this datagram goes first, then what is lost
        // of it; with nothing left, what was lost after the last one.
        if (info.dropped != 0 && (!NoteDrops(info.dropped) || !opened_ || socket_ != s)) return 0;
        if (n < 0) {
            if (error != win::WSAEWOULDBLOCK) DoError(error, secReceive);
            return 0;
        }
        const std::uint32_t ip = from.sin_addr.s_addr;
        const std::uint16_t port = ntohs(from.sin_port);
        if (info.length > n && !Fire(OnCut, this, ip, port, info.length, n)) return 0;
        // The owner may have closed or replaced the socket meanwhile, or
        // have no room for more.
        if (!Fire(OnReceive, this, ip, port, datagram_.data(), n) || !opened_ || socket_ != s) return 0;
        if (ReadingHeld()) {
            OweRead(s);
            return 0;
        }
    } while (std::chrono::steady_clock::now() < until);
    return 0;
}

// ---------------------------------------------------------------------------
// TTCPServerSocket

TTCPServerSocket::TTCPServerSocket() {
    CreateWindow("TCPServerSocketUtil");
    OnReceive = [](TTCPUDPCustomSocket*, TClientRec*, const void*, int Size) {
        ShowDefaultMessage("Data Received\rOnReiceive not Assigned\rSize: " + std::to_string(Size), "Easy_TCP");
    };
}

TTCPServerSocket::~TTCPServerSocket() {
    while (!clients_.empty()) Remove(clients_.back()->rec.Socket, 0);
}

namespace {
// A listening socket's events, which accepted sockets inherit. FD_WRITE is
// among them: it sends what a client could not take at once.
constexpr long kServerEvents = win::FD_READ | win::FD_WRITE | win::FD_ACCEPT | win::FD_CONNECT | win::FD_CLOSE;
}  // namespace

void TTCPServerSocket::Listen(std::uint16_t LocalPort, std::uint32_t IP) {
    // A second Listen replaces the listening socket rather than leaking it.
    CloseSocket();
    if (!StartWinSock(secListenStartup)) return;
    if (!CreateSocket(SOCK_STREAM, IPPROTO_TCP, secListenCreateSocket)) return;
    KeepSegmentsSmall(socket_);  // accepted connections inherit it
    if (!BindSocket(IP, htons(LocalPort), secListenBind)) return;
    if (acceptHeld_) win::KillTimer(Handle(), AcceptRetryTimerId);
    acceptHeld_ = false;
    acceptHeldTold_ = false;
    if (!SelectSocket(WM_TCPSOCKET, kServerEvents, secListenSelect)) return;
    opened_ = true;
    auto alive = AliveToken();
    SetBufSizes(SendBufSize(), RecvBufSize());
    if (!*alive) return;
    if (win::listen(socket_, ListenBacklog) != 0) DoSocketError(secListenListen);
}

std::size_t TTCPServerSocket::LowerBound(std::uint32_t Socket) const {
    auto it = std::lower_bound(clients_.begin(), clients_.end(), Socket,
                               [](const std::unique_ptr<Client>& c, std::uint32_t s) { return c->rec.Socket < s; });
    return static_cast<std::size_t>(it - clients_.begin());
}

TTCPServerSocket::Client* TTCPServerSocket::Find(std::uint32_t Socket) {
    std::size_t i = LowerBound(Socket);
    return i < clients_.size() && clients_[i]->rec.Socket == Socket ? clients_[i].get() : nullptr;
}

const TTCPServerSocket::Client* TTCPServerSocket::Find(std::uint32_t Socket) const {
    return const_cast<TTCPServerSocket*>(this)->Find(Socket);
}

TClientRec* TTCPServerSocket::GetClient(int Index) {
    if (Index < 0 || Index >= ClientCount()) return nullptr;
    return &clients_[static_cast<std::size_t>(Index)]->rec;
}

const TClientRec* TTCPServerSocket::GetClient(int Index) const {
    return const_cast<TTCPServerSocket*>(this)->GetClient(Index);
}

int TTCPServerSocket::FindClientByUserValue(std::int32_t Value) const {
    for (std::size_t i = 0; i < clients_.size(); ++i)
        if (clients_[i]->rec.UserValue == Value) return static_cast<int>(i);
    return -1;
}

std::size_t TTCPServerSocket::PendingBytes(std::uint32_t Socket) const {
    const Client* c = Find(Socket);
    return c ? c->pending.Size() : 0;
}

std::size_t TTCPServerSocket::SendRoom(std::uint32_t Socket) const {
    const Client* c = Find(Socket);
    return c ? c->pending.Room() : 0;
}

int TTCPServerSocket::SendData(std::uint32_t Socket, const void* Buf, int Size) {
    if (!opened_) {
        DoError(SOCK_ERR_NOT_BOUND, secSendData);
        return 0;
    }
    // Only the server's own clients: any other handle could be someone
    // else's connection or file.
    Client* c = Find(Socket);
    if (!c) {
        DoError(SOCK_ERR_UNKNOWN_SOCKET, secSendData);
        return 0;
    }
    int n = SendOrKeep(Socket, c->pending, static_cast<const char*>(Buf), Size);
    if (n == SendRefused) return Refused();
    if (n < 0) {
        ClientError(Socket, win::WSAGetLastError(), secSendData);
        return 0;
    }
    return n;
}

bool TTCPServerSocket::ClientError(std::uint32_t Socket, int Code, int Context) {
    Client* c = Find(Socket);
    if (!c || !OnClientError) return DoError(Code, Context);
    const std::uint32_t value = ErrorValue(Code, Context);
    lastError_ = value;
    return Fire(OnClientError, this, &c->rec, value);
}

void TTCPServerSocket::DisconnectClient(std::uint32_t Socket) { Remove(Socket, 0); }

bool TTCPServerSocket::Remove(std::uint32_t Socket, std::uint32_t closeError) {
    std::size_t i = LowerBound(Socket);
    if (i >= clients_.size() || clients_[i]->rec.Socket != Socket) return DoError(SOCK_ERR_UNKNOWN_SOCKET, secDisconnect);
    TClientRec copy = clients_[i]->rec;
    clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
    HoldReading(Socket, false);
    // Its handle is never given out again: what is still queued for it
    // finds no client and is dropped where it arrives.
    win::closesocket(Socket);
    // A descriptor is free again: a newcomer held back may be taken now.
    ResumeAccepting();
    closeError_ = closeError;
    return Fire(OnDisconnect, this, &copy);
}

bool TTCPServerSocket::HoldAccepting(int Code) {
    // The newcomer stays queued; watching the listener now would only wake
    // this up again at once, for as long as the want lasts.
    if (!acceptHeld_) {
        acceptHeld_ = true;
        win::WSAAsyncSelect(socket_, Handle(), WM_TCPSOCKET, kServerEvents & ~win::FD_ACCEPT);
        win::SetTimer(Handle(), AcceptRetryTimerId, AcceptRetryMs);
    }
    if (std::exchange(acceptHeldTold_, true)) return true;
    const std::uint32_t value = ErrorValue(Code, secConnect);
    lastError_ = value;
    return Fire(OnAcceptHeld ? OnAcceptHeld : OnError, this, value);
}

void TTCPServerSocket::ResumeAccepting() {
    if (!acceptHeld_) return;
    acceptHeld_ = false;
    win::KillTimer(Handle(), AcceptRetryTimerId);
    if (opened_) win::WSAAsyncSelect(socket_, Handle(), WM_TCPSOCKET, kServerEvents);
}

bool TTCPServerSocket::Accept(unsigned errorWord) {
    sockaddr_in peer{};
    int peerLen = sizeof peer;
    win::SOCKET s = win::accept(socket_, reinterpret_cast<sockaddr*>(&peer), &peerLen);
    if (s == win::INVALID_SOCKET) {
        const int code = win::WSAGetLastError();
        // A connection that went away before it was taken leaves nothing to do.
        if (code == win::WSAEWOULDBLOCK) return true;
        // Short of descriptors or memory: the server and its clients are
        // fine, only the newcomer has to wait.
        if (code == win::WSAEMFILE || code == win::WSAENOBUFS) return HoldAccepting(code);
        return DoError(code, secConnect);
    }
    acceptHeldTold_ = false;
    if (ClientCount() >= MaxServerClients) {
        win::closesocket(s);
        return DoError(SOCK_ERR_LIST_FULL, secConnect);
    }
    lastError_ = errorWord;
    auto client = std::make_unique<Client>();
    client->rec.Socket = static_cast<std::uint32_t>(s);
    client->rec.IP = peer.sin_addr.s_addr;
    client->rec.Port = ntohs(peer.sin_port);
    client->rec.ConnectTick = win::GetTickCount();
    std::size_t i = LowerBound(client->rec.Socket);
    rtl::Assert(i >= clients_.size() || clients_[i]->rec.Socket != client->rec.Socket, "addclient");
    TClientRec* rec = &client->rec;
    clients_.insert(clients_.begin() + static_cast<std::ptrdiff_t>(i), std::move(client));
    return Fire(OnConnect, this, rec);
}

bool TTCPServerSocket::Read(std::uint32_t Socket) {
    Client* c = Find(Socket);
    if (!c) return DoError(SOCK_ERR_UNKNOWN_SOCKET, secReceive);
    if (ReadingHeld(Socket)) {
        OweRead(Socket);
        return true;
    }
    int n = ReadInto(Socket);
    if (n == -2) return true;
    if (n < 0) return ClientError(Socket, win::WSAGetLastError(), secReceive);
    return Fire(OnReceive, this, &c->rec, RecvBuf(), n);
}

bool TTCPServerSocket::Flush(std::uint32_t Socket) {
    Client* c = Find(Socket);
    if (!c || c->pending.Flush(Socket)) return true;
    // The connection cannot take the rest any more.
    c->pending.Clear();
    return ClientError(Socket, win::WSAGetLastError(), secSendData);
}

win::LRESULT TTCPServerSocket::WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    if (msg == win::WM_TIMER && wParam == AcceptRetryTimerId) {
        ResumeAccepting();
        return 0;
    }
    if (msg != WM_TCPSOCKET) return win::DefWindowProc(Handle(), msg, wParam, lParam);
    auto socket = static_cast<std::uint32_t>(wParam);
    unsigned event = win::WSAGETSELECTEVENT(lParam);
    unsigned error = win::WSAGETSELECTERROR(lParam);
    // Handles are never given out twice, so a notification for a client not
    // in the list was queued before that client was closed here, and one for
    // a listening socket since replaced is as old: both are stale and must
    // not pass for errors of the server.
    bool stale = event == win::FD_ACCEPT ? (!opened_ || wParam != socket_) : Find(socket) == nullptr;
    if (stale) return 0;
    switch (event) {
    case win::FD_READ:
        if (!Read(socket)) return 0;
        break;
    case win::FD_WRITE:
        if (!Flush(socket)) return 0;
        break;
    case win::FD_ACCEPT:
        if (!Accept(error)) return 0;
        break;
    case win::FD_CLOSE:
        lastError_ = error;
        // Closed here too, so that its descriptor does not stay behind.
        Remove(socket, error);
        return 0;
    default:
        break;
    }
    // An error word on a client's notification is that client's.
    if (error != 0) {
        if (event == win::FD_ACCEPT)
            DoError(static_cast<int>(error), secMsgProc);
        else if (Find(socket))
            ClientError(socket, static_cast<int>(error), secMsgProc);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// TTCPClientSocket

TTCPClientSocket::TTCPClientSocket() {
    CreateWindow("TCPClientSocketUtil");
    OnReceive = [](TTCPUDPCustomSocket*, const void*, int Size) {
        ShowDefaultMessage("Data Received\rOnReiceive not Assigned\rSize: " + std::to_string(Size), "Easy_TCP");
    };
}

TTCPClientSocket::~TTCPClientSocket() { Disconnect(); }

void TTCPClientSocket::Connect(std::uint32_t RemoteIP, std::uint16_t RemotePort, std::uint32_t LocalIP,
                               std::uint16_t LocalPort) {
    if (connected_) {
        DoError(win::WSAEISCONN, secConnect);
        return;
    }
    // A socket left from an earlier attempt is closed, not leaked.
    win::KillTimer(Handle(), ConnectTimerId);
    CloseSocket();
    pending_.Clear();
    if (!StartWinSock(secConnectStartup)) return;
    if (!CreateSocket(SOCK_STREAM, IPPROTO_TCP, secConnectCreateSocket)) return;
    KeepSegmentsSmall(socket_);
    if (!BindSocket(LocalIP, htons(LocalPort), secConnectBind)) return;
    // FD_WRITE too: it sends what the connection could not take at once.
    long events = win::FD_READ | win::FD_WRITE | win::FD_CONNECT | win::FD_CLOSE;
    if (!SelectSocket(WM_TCPSOCKET, events, secConnectSelect)) return;
    opened_ = true;
    auto alive = AliveToken();
    SetBufSizes(SendBufSize(), RecvBufSize());
    if (!*alive) return;
    if (RemoteIP == kAllOnes) {
        DoError(WSAHOST_NOT_FOUND, secConnect);
        return;
    }
    sockaddr_in to = MakeAddress(RemoteIP, htons(RemotePort));
    int result = win::connect(socket_, AsSockaddr(to), sizeof to);
    int error = win::WSAGetLastError();
    connected_ = false;
    if (result != 0 && error != win::WSAEWOULDBLOCK) {
        DoError(error, secConnectConnect);
        return;
    }
    win::SetTimer(Handle(), ConnectTimerId, ConnectTimeoutMs);
}

void TTCPClientSocket::Disconnect() {
    // A connect time-out must not fire for a connection given up.
    if (Handle() != 0) win::KillTimer(Handle(), ConnectTimerId);
    pending_.Clear();
    if (opened_) CloseSocket();
    if (!connected_) return;
    connected_ = false;
    if (OnDisconnect) OnDisconnect(this);
}

int TTCPClientSocket::SendData(const void* Buf, int Size) {
    if (!opened_ || !connected_) {
        DoError(SOCK_ERR_NOT_BOUND, secSendData);
        return 0;
    }
    int n = SendOrKeep(socket_, pending_, static_cast<const char*>(Buf), Size);
    if (n == SendRefused) return Refused();
    if (n < 0) {
        DoError(win::WSAGetLastError(), secSendData);
        return 0;
    }
    return n;
}

win::LRESULT TTCPClientSocket::WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    if (msg == win::WM_TIMER && wParam == ConnectTimerId) {
        win::KillTimer(Handle(), ConnectTimerId);
        // A tick that outlived its connect attempt has nothing to time out.
        if (opened_ && !connected_) DoError(win::WSAETIMEDOUT, secConnect);
        return 0;
    }
    if (msg != WM_TCPSOCKET) return win::DefWindowProc(Handle(), msg, wParam, lParam);
    // A notification for a socket closed since it was posted is stale.
    if (!opened_ || wParam != socket_) return 0;
    unsigned event = win::WSAGETSELECTEVENT(lParam);
    unsigned error = win::WSAGETSELECTERROR(lParam);
    switch (event) {
    case win::FD_READ: {
        if (ReadingHeld()) {
            OweRead(socket_);
            break;
        }
        int n = ReadInto(socket_);
        if (n == -2) break;
        if (n < 0) {
            if (!DoError(win::WSAGetLastError(), secReceive)) return 0;
            break;
        }
        if (!Fire(OnReceive, this, RecvBuf(), n)) return 0;
        break;
    }
    case win::FD_WRITE:
        if (!pending_.Flush(socket_)) {
            pending_.Clear();
            if (!DoError(win::WSAGetLastError(), secSendData)) return 0;
        }
        break;
    case win::FD_CONNECT:
        lastError_ = error;
        win::KillTimer(Handle(), ConnectTimerId);
        connected_ = error == 0;
        Fire(OnConnect, this);
        return 0;
    case win::FD_CLOSE:
        lastError_ = error;
        win::KillTimer(Handle(), ConnectTimerId);
        connected_ = false;
        pending_.Clear();  // nothing more can be sent on this connection
        Fire(OnDisconnect, this);
        return 0;
    default:
        break;
    }
    if (error != 0) DoError(static_cast<int>(error), secMsgProc);
    return 0;
}

namespace {

void ShowDefaultMessage(const std::string& text, const char* caption) {
    // Without an application object there is nowhere to show it.
    if (vcl::Application) vcl::Application->MessageBox(text, caption, vcl::MB_OK);
}

}  // namespace

}  // namespace ports
