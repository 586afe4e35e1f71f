#include "platform/win/winsock.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <linux/sock_diag.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/win/guarded_notifier.h"

namespace win {
namespace {

thread_local int lastError = 0;
int startupCount = 0;

int Fail(int wsaError) {
    lastError = wsaError;
    return SOCKET_ERROR;
}

int FailFromErrno() { return Fail(WinSockErrorFromErrno(errno)); }

// Socket handles are numbers of the layer's own, as WinSock's are, and one
// is never given out twice: a notification still queued for a closed socket
// names a handle that nothing else will ever have. Descriptor numbers would
// not do, since the system hands a closed one out again at once (often to
// the very next connection accepted). Handles stay below 2^32, as the
// socket classes keep them in 32 bits.
struct SocketEntry {
    int fd = -1;
    std::uint32_t drops = 0;  // the system's drop count at the last datagram read
};

struct HandleTable {
    std::mutex lock;
    std::unordered_map<SOCKET, SocketEntry> entries;
    SOCKET next = kFirstHandle;

    static constexpr SOCKET kFirstHandle = 0x100;
    static constexpr SOCKET kLastHandle = 0xFFFFFF00;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

SOCKET NewHandle(int fd) {
    auto& t = Handles();
    std::lock_guard guard(t.lock);
    // Multiples of 4, as WinSock's; after some billion sockets the numbers
    // start again, past the ones still open.
    SOCKET s = t.next;
    do {
        s = s >= HandleTable::kLastHandle ? HandleTable::kFirstHandle : s + 4;
    } while (t.entries.count(s) != 0);
    t.next = s;
    t.entries[s].fd = fd;
    return s;
}

// The descriptor of a handle, or -1 for a handle that is not an open socket.
int Fd(SOCKET s) {
    auto& t = Handles();
    std::lock_guard guard(t.lock);
    auto it = t.entries.find(s);
    return it == t.entries.end() ? -1 : it->second.fd;
}

// Forgets the handle; its descriptor, or -1 when there was none.
int TakeFd(SOCKET s) {
    auto& t = Handles();
    std::lock_guard guard(t.lock);
    auto it = t.entries.find(s);
    if (it == t.entries.end()) return -1;
    int fd = it->second.fd;
    t.entries.erase(it);
    return fd;
}

// The drops counted since the previous call for this handle. A count taken
// earlier than the one already seen (a datagram queued before the idle check
// read the socket's count) adds nothing; the counter itself may wrap.
std::uint32_t NewDrops(SOCKET s, std::uint32_t total) {
    auto& t = Handles();
    std::lock_guard guard(t.lock);
    auto it = t.entries.find(s);
    if (it == t.entries.end()) return 0;
    const auto fresh = static_cast<std::int32_t>(total - it->second.drops);
    if (fresh <= 0) return 0;
    it->second.drops = total;
    return static_cast<std::uint32_t>(fresh);
}

// The socket's drop count as the system holds it now.
bool CurrentDrops(int fd, std::uint32_t* total) {
    std::uint32_t meminfo[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof meminfo;
    if (::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, meminfo, &size) != 0 ||
        size <= SK_MEMINFO_DROPS * sizeof meminfo[0])
        return false;
    *total = meminfo[SK_MEMINFO_DROPS];
    return true;
}

// What WSAAsyncSelect keeps for one socket. A stream socket is watched for
// reading only while it listens or is connected: an idle or connecting one
// reports hang-up to poll, which must not pass for a close.
struct Watch {
    HWND wnd = 0;
    UINT msg = 0;
    long events = 0;
    bool datagram = false;
    bool listening = false;
    bool connecting = false;
    bool established = false;
    bool closeReported = false;  // FD_CLOSE comes once
    bool wantWrite = false;      // FD_WRITE owed when the socket is writable
    // Notifications that could not be posted, as one entry from the loop.
    std::shared_ptr<LoopEntryState> postFailed = std::make_shared<LoopEntryState>();
    std::unique_ptr<QSocketNotifier> reader;
    std::unique_ptr<QSocketNotifier> writer;
};

// The async-select table, GUI thread only (the notifiers live there).
std::map<SOCKET, std::unique_ptr<Watch>>& Watches() {
    static std::map<SOCKET, std::unique_ptr<Watch>> watches;
    return watches;
}

Watch* FindWatch(SOCKET s) {
    auto& watches = Watches();
    auto it = watches.find(s);
    return it == watches.end() ? nullptr : it->second.get();
}

const char* EventName(long event) {
    switch (event) {
    case FD_READ: return "FD_READ";
    case FD_WRITE: return "FD_WRITE";
    case FD_ACCEPT: return "FD_ACCEPT";
    case FD_CONNECT: return "FD_CONNECT";
    case FD_CLOSE: return "FD_CLOSE";
    default: return "?";
    }
}

std::exception_ptr NotificationLost(long event, const std::exception& reason) noexcept {
    try {
        return std::make_exception_ptr(std::runtime_error(std::string("Socket notification ") + EventName(event) +
                                                          " lost: " + reason.what()));
    } catch (...) {
        return std::current_exception();  // out of memory: that is what to report
    }
}

// The notification's owner would wait for it for ever (its notifier stays
// off until the owner reads, accepts or sends), so one that cannot be
// posted is reported, never dropped. Later, from the loop: the socket call
// that posts it must finish without a box opening in its middle.
void Post(SOCKET s, const Watch& w, long event, int error) {
    if ((w.events & event) == 0) return;
    try {
        PostMessageOrThrow(w.wnd, w.msg, s,
                           WSAMAKESELECTREPLY(static_cast<unsigned>(event), static_cast<unsigned>(error)));
    } catch (const std::exception& e) {
        ReportLoopFailureLater(w.postFailed, NotificationLost(event, e));
    }
}

void ArmReader(Watch& w) {
    bool watching = w.datagram || w.listening || (w.established && !w.closeReported);
    // A listener without FD_ACCEPT is not watched at all: its owner has
    // stopped taking newcomers for now, and they wait in the system's queue.
    const long wanted = w.listening ? FD_ACCEPT : (FD_READ | FD_ACCEPT | FD_CLOSE);
    w.reader->setEnabled(watching && (w.events & wanted) != 0);
}

void ArmWriter(Watch& w) {
    bool owed = w.connecting || (w.wantWrite && (w.datagram || w.established));
    w.writer->setEnabled(owed);
}

// Readable: a connection to accept, data, or the end of the connection. Each
// is posted once; the call that consumes it arms the notifier again.
void OnReadable(SOCKET s) {
    Watch* w = FindWatch(s);
    if (!w) return;
    w->reader->setEnabled(false);
    if (w->listening) {
        Post(s, *w, FD_ACCEPT, 0);
        return;
    }
    if (w->datagram) {
        Post(s, *w, FD_READ, 0);
        return;
    }
    char probe;
    ssize_t n = ::recv(Fd(s), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        Post(s, *w, FD_READ, 0);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        ArmReader(*w);
        return;
    }
    // All data has been read and the peer has gone: gracefully (0) or not.
    int error = n == 0 ? 0 : WinSockErrorFromErrno(errno);
    w->closeReported = true;
    Post(s, *w, FD_CLOSE, error);
}

// Writable: a pending connect has finished, or room after a send that would
// have blocked.
void OnWritable(SOCKET s) {
    Watch* w = FindWatch(s);
    if (!w) return;
    w->writer->setEnabled(false);
    if (w->connecting) {
        w->connecting = false;
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        if (err != 0) {
            Post(s, *w, FD_CONNECT, WinSockErrorFromErrno(err));
            return;
        }
        w->established = true;
        w->wantWrite = false;
        Post(s, *w, FD_CONNECT, 0);
        Post(s, *w, FD_WRITE, 0);
        ArmReader(*w);
        return;
    }
    if (w->wantWrite) {
        w->wantWrite = false;
        Post(s, *w, FD_WRITE, 0);
    }
}

// Starts watching s for wnd/msg, with the notifiers disabled until armed.
Watch& AddWatch(SOCKET s, HWND wnd, UINT msg, long events) {
    auto& slot = Watches()[s];
    if (!slot) {
        slot = std::make_unique<Watch>();
        const auto fd = static_cast<qintptr>(Fd(s));
        slot->reader = MakeGuardedNotifier(fd, QSocketNotifier::Read, [s] { OnReadable(s); });
        slot->writer = MakeGuardedNotifier(fd, QSocketNotifier::Write, [s] { OnWritable(s); });
        slot->reader->setEnabled(false);
        slot->writer->setEnabled(false);
    }
    slot->wnd = wnd;
    slot->msg = msg;
    slot->events = events;
    return *slot;
}

void RemoveWatch(SOCKET s) { Watches().erase(s); }

bool SetNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

// Failures of one connection waiting to be accepted (see accept).
bool IsFailedConnection(int err) {
    switch (err) {
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENONET:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETUNREACH: return true;
    default: return false;
    }
}
// Each failed try takes one connection off the queue; the bound only keeps a
// listener that fails in some other way from holding the loop.
constexpr int kMaxAcceptTries = 64;

// Descriptors held back while listeners accept, so that accepting never
// takes the last ones: the event loop, the windows and the libraries under
// them need descriptors of their own (a new thread's wakeup, a font file),
// and some of them end the process when none is left. Accepting uses only
// what lies beyond the reserve; when it runs out, the reserve is given up
// to the rest of the program, and taken again before the next accept. An
// eighth of what the process may open when the first listener starts, 4 to
// 64.
std::size_t ReserveSize() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 64;
    return static_cast<std::size_t>(std::clamp<rlim_t>(limit.rlim_cur / 8, 4, 64));
}

struct DescriptorReserve {
    std::vector<int> fds;
    std::size_t size = 0;

    // False when not all of them could be had (none is kept then).
    bool Take() {
        if (size == 0) size = ReserveSize();
        while (fds.size() < size) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                const int err = errno;
                Release();
                errno = err;
                return false;
            }
            fds.push_back(fd);
        }
        return true;
    }
    void Release() {
        for (int fd : fds) ::close(fd);
        fds.clear();
    }
};

// GUI thread only, as the watches.
DescriptorReserve& Reserve() {
    static DescriptorReserve reserve;
    return reserve;
}

bool IsOutOfDescriptors(int err) { return err == EMFILE || err == ENFILE; }

// Outcomes of a connect attempt that WinSock reports through FD_CONNECT
// rather than from the call.
bool IsConnectOutcome(int err) { return err == ECONNREFUSED || err == ETIMEDOUT || err == ECONNRESET; }

}  // namespace

int WinSockErrorFromErrno(int err) {
    switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;  // a handle that is no socket
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;  // a connect under way, as WinSock reports it
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case EPIPE: return WSAECONNRESET;  // the peer has gone; sending cannot go on
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return WSASYSCALLFAILURE;
    }
}

int WSAStartup(std::uint16_t versionRequested, WSADATA* data) {
    unsigned major = versionRequested & 0xFFu;
    unsigned minor = versionRequested >> 8;
    if (major < 1) return WSAVERNOTSUPPORTED;
    if (data == nullptr) return WSAEFAULT;
    *data = WSADATA{};
    // The version granted is the one asked for, up to 2.2.
    if (major > 2 || (major == 2 && minor > 2)) versionRequested = 0x0202;
    data->wVersion = versionRequested;
    data->wHighVersion = 0x0202;
    std::strcpy(data->szDescription, "POSIX sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0x7FFF;
    data->iMaxUdpDg = 65467;
    ++startupCount;
    return 0;
}

int WSACleanup() {
    if (startupCount == 0) return Fail(WSANOTINITIALISED);
    --startupCount;
    return 0;
}

int WSAGetLastError() { return lastError; }
void WSASetLastError(int error) { lastError = error; }

SOCKET socket(int af, int type, int protocol) {
    if (startupCount == 0) {
        Fail(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailFromErrno();
        return INVALID_SOCKET;
    }
    // Each datagram then carries the system's drop count with it, so that
    // reading it costs no second call (see RecvDatagram).
    if (type == SOCK_DGRAM) {
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    }
    return NewHandle(fd);
}

int bind(SOCKET s, const sockaddr* name, int nameLen) {
    int fd = Fd(s);
    int type = 0;
    socklen_t len = sizeof type;
    // A listening port of WinSock can be taken again while connections of
    // its previous owner wait out their closing time; on Linux that needs
    // SO_REUSEADDR (which, for TCP, still refuses a second listener).
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_STREAM) {
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (::bind(fd, name, static_cast<socklen_t>(nameLen)) != 0) return FailFromErrno();
    return 0;
}

int listen(SOCKET s, int backlog) {
    if (::listen(Fd(s), backlog) != 0) return FailFromErrno();
    if (Watch* w = FindWatch(s)) {
        w->listening = true;
        Reserve().Take();  // failing here, it is tried again before each accept
        ArmReader(*w);
    }
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrLen) {
    Watch* listener = FindWatch(s);
    socklen_t len = 0;
    int flags = SOCK_CLOEXEC | (listener ? SOCK_NONBLOCK : 0);
    int fd = -1;
    int err = 0;
    if (listener && !Reserve().Take()) {
        // No room beyond the reserve: the newcomer waits in the queue.
        err = IsOutOfDescriptors(errno) ? errno : EMFILE;
        ArmReader(*listener);
        Fail(WinSockErrorFromErrno(err));
        return INVALID_SOCKET;
    }
    // Linux hands the failure of a connection that went wrong while it waited
    // to be accepted to accept itself; WinSock never reports it. Such a
    // connection is gone: the next one waiting is taken instead.
    for (int tries = 0; tries < kMaxAcceptTries; ++tries) {
        len = addrLen ? static_cast<socklen_t>(*addrLen) : 0;
        fd = ::accept4(Fd(s), addr, addrLen ? &len : nullptr, flags);
        err = errno;
        if (fd >= 0 || !IsFailedConnection(err)) break;
        err = EAGAIN;
    }
    if (listener) ArmReader(*listener);  // accept re-enables FD_ACCEPT
    if (fd < 0 && IsOutOfDescriptors(err)) Reserve().Release();
    if (fd < 0) {
        Fail(WinSockErrorFromErrno(err));
        return INVALID_SOCKET;
    }
    if (addrLen) *addrLen = static_cast<int>(len);
    SOCKET socket = NewHandle(fd);
    if (listener) {
        // The accepted socket inherits the listener's notifications.
        Watch& w = AddWatch(socket, listener->wnd, listener->msg, listener->events);
        w.established = true;
        w.wantWrite = true;
        ArmReader(w);
        ArmWriter(w);
    }
    return socket;
}

int connect(SOCKET s, const sockaddr* name, int nameLen) {
    int result = ::connect(Fd(s), name, static_cast<socklen_t>(nameLen));
    int err = result == 0 ? 0 : errno;
    Watch* w = FindWatch(s);
    if (!w) return result == 0 ? 0 : Fail(WinSockErrorFromErrno(err));
    if (result == 0 || err == EINPROGRESS) {
        // Finished or not, the outcome comes as FD_CONNECT once writable.
        w->connecting = true;
        ArmWriter(*w);
        return Fail(WSAEWOULDBLOCK);
    }
    if (IsConnectOutcome(err)) {
        Post(s, *w, FD_CONNECT, WinSockErrorFromErrno(err));
        return Fail(WSAEWOULDBLOCK);
    }
    return Fail(WinSockErrorFromErrno(err));
}

namespace {
// After a send: one that would have blocked owes FD_WRITE once there is room.
int AfterSend(SOCKET s, ssize_t n) {
    if (n >= 0) return static_cast<int>(n);
    int err = errno;
    Watch* w = FindWatch(s);
    if (WouldBlock(err) && w) {
        w->wantWrite = true;
        ArmWriter(*w);
    }
    // Linux says EPIPE both for a connection that has gone and for one that
    // never was; WinSock tells them apart.
    if (err == EPIPE && !(w && w->established)) return Fail(WSAENOTCONN);
    return Fail(WinSockErrorFromErrno(err));
}

// After a read: recv and recvfrom re-enable FD_READ (and a close not yet seen).
int AfterRecv(SOCKET s, ssize_t n) {
    int err = errno;
    if (Watch* w = FindWatch(s)) ArmReader(*w);
    if (n >= 0) return static_cast<int>(n);
    return Fail(WinSockErrorFromErrno(err));
}
}  // namespace

int send(SOCKET s, const void* buf, int len, int flags) {
    if (len < 0) return Fail(WSAEINVAL);
    return AfterSend(s, ::send(Fd(s), buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL));
}

int sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr* to, int toLen) {
    if (len < 0) return Fail(WSAEINVAL);
    return AfterSend(s, ::sendto(Fd(s), buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL, to,
                                 static_cast<socklen_t>(toLen)));
}

int recv(SOCKET s, void* buf, int len, int flags) {
    if (len < 0) return Fail(WSAEINVAL);
    return AfterRecv(s, ::recv(Fd(s), buf, static_cast<size_t>(len), flags));
}

int recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr* from, int* fromLen) {
    if (len < 0) return Fail(WSAEINVAL);
    socklen_t addrLen = fromLen ? static_cast<socklen_t>(*fromLen) : 0;
    ssize_t n = ::recvfrom(Fd(s), buf, static_cast<size_t>(len), flags, from, fromLen ? &addrLen : nullptr);
    int err = errno;
    if (n >= 0 && fromLen) *fromLen = static_cast<int>(addrLen);
    errno = err;
    return AfterRecv(s, n);
}

int RecvDatagram(SOCKET s, void* buf, int len, sockaddr* from, int* fromLen, DatagramInfo* info) {
    if (len < 0) return Fail(WSAEINVAL);
    const int fd = Fd(s);
    iovec part{buf, static_cast<size_t>(len)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
    msghdr m{};
    m.msg_name = from;
    m.msg_namelen = fromLen ? static_cast<socklen_t>(*fromLen) : 0;
    m.msg_iov = &part;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    // MSG_TRUNC: the datagram's whole length, not only what fitted.
    ssize_t n = ::recvmsg(fd, &m, MSG_TRUNC);
    int err = errno;
    if (info) {
        info->length = 0;
        info->dropped = 0;
    }
    if (n >= 0) {
        if (fromLen) *fromLen = static_cast<int>(m.msg_namelen);
        if (info) {
            info->length = static_cast<int>(std::min<ssize_t>(n, INT32_MAX));
            // The count the system held when this datagram was queued; none
            // comes along while it is still 0.
            std::uint32_t total = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
                    std::memcpy(&total, CMSG_DATA(c), sizeof total);
            info->dropped = NewDrops(s, total);
        }
        n = std::min<ssize_t>(n, len);
    } else if (info && WouldBlock(err)) {
        // Nothing left: datagrams dropped after the last one read come with
        // no datagram, so the socket's own count tells them.
        std::uint32_t total = 0;
        if (CurrentDrops(fd, &total)) info->dropped = NewDrops(s, total);
    }
    errno = err;
    return AfterRecv(s, n);
}

int getsockname(SOCKET s, sockaddr* name, int* nameLen) {
    if (nameLen == nullptr || *nameLen < 0) return Fail(WSAEFAULT);
    auto len = static_cast<socklen_t>(*nameLen);
    if (::getsockname(Fd(s), name, &len) != 0) return FailFromErrno();
    *nameLen = static_cast<int>(len);
    return 0;
}

int getpeername(SOCKET s, sockaddr* name, int* nameLen) {
    if (nameLen == nullptr || *nameLen < 0) return Fail(WSAEFAULT);
    auto len = static_cast<socklen_t>(*nameLen);
    if (::getpeername(Fd(s), name, &len) != 0) return FailFromErrno();
    *nameLen = static_cast<int>(len);
    return 0;
}

int closesocket(SOCKET s) {
    // The notifiers go first: they must never watch a closed descriptor.
    const Watch* w = FindWatch(s);
    const bool listening = w && w->listening;
    RemoveWatch(s);
    // The reserve is kept only while someone accepts.
    if (listening && std::none_of(Watches().begin(), Watches().end(),
                                  [](const auto& entry) { return entry.second->listening; }))
        Reserve().Release();
    int fd = TakeFd(s);
    if (fd < 0) return Fail(WSAENOTSOCK);
    if (::close(fd) != 0) return FailFromErrno();
    return 0;
}

int setsockopt(SOCKET s, int level, int optName, const void* optVal, int optLen) {
    if (optLen < 0) return Fail(WSAEFAULT);
    if (::setsockopt(Fd(s), level, optName, optVal, static_cast<socklen_t>(optLen)) != 0) return FailFromErrno();
    return 0;
}

int getsockopt(SOCKET s, int level, int optName, void* optVal, int* optLen) {
    if (optLen == nullptr || *optLen < 0) return Fail(WSAEFAULT);
    auto len = static_cast<socklen_t>(*optLen);
    if (::getsockopt(Fd(s), level, optName, optVal, &len) != 0) return FailFromErrno();
    *optLen = static_cast<int>(len);
    return 0;
}

int WSAAsyncSelect(SOCKET s, HWND wnd, UINT msg, long events) {
    int fd = Fd(s);
    int type = 0;
    socklen_t len = sizeof type;
    if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) return Fail(WSAENOTSOCK);
    if (!SetNonBlocking(fd)) return FailFromErrno();
    if (events == 0) {
        RemoveWatch(s);
        return 0;
    }
    if (QCoreApplication::instance() == nullptr) return Fail(WSASYSNOTREADY);
    bool known = FindWatch(s) != nullptr;
    Watch& w = AddWatch(s, wnd, msg, events);
    if (!known) {
        int accepting = 0;
        len = sizeof accepting;
        sockaddr_storage peer{};
        socklen_t peerLen = sizeof peer;
        w.datagram = type == SOCK_DGRAM;
        w.listening = ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &len) == 0 && accepting != 0;
        w.established = !w.datagram && ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0;
        // Like WinSock, a socket that can send already owes one FD_WRITE.
        w.wantWrite = w.datagram || w.established;
    }
    ArmReader(w);
    ArmWriter(w);
    return 0;
}

}  // namespace win
