#pragma once
// The WinSock 1.1 calls the socket classes use, on POSIX sockets.
//
// Handles are numbers of the layer's own, never given out twice, so that a
// notification still queued for a closed socket cannot be taken for a newer
// one; they are no descriptors. Failures set a per-thread error
// value that WSAGetLastError returns, with errno translated to the WinSock
// numbers: the socket classes pick the texts of their messages and decide
// what a failure means (would block, refused, reset) by these numbers, so
// one failure keeps one number and one text whatever errno the system gave,
// and the error lines the user reads in the receive panel mean the same on
// every system.
// WSAAsyncSelect watches a socket on the GUI thread's event loop and posts
// its notifications to a hidden message window with the re-enabling rules of
// WinSock: each kind of event is posted once, and again only after the call
// that consumes it (recv for FD_READ, accept for FD_ACCEPT, a send that would
// block for FD_WRITE). No thread of its own.
//
// Addresses and option constants are the system's (sockaddr_in, AF_INET,
// SOL_SOCKET, SO_SNDBUF, INADDR_ANY, INADDR_NONE, htons, ntohs, ...): the
// shapes are the same, only the numbers differ, and code here names them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

#include "platform/win/message_window.h"

namespace win {

using SOCKET = std::uintptr_t;
inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;

// WinSock error numbers.
inline constexpr int WSA_NOT_ENOUGH_MEMORY = 8;
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSAENOTEMPTY = 10066;
inline constexpr int WSAEUSERS = 10068;
inline constexpr int WSAEDQUOT = 10069;
inline constexpr int WSAESTALE = 10070;
inline constexpr int WSAEREMOTE = 10071;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSASYSCALLFAILURE = 10107;

// Events of WSAAsyncSelect.
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

constexpr LPARAM WSAMAKESELECTREPLY(unsigned event, unsigned error) {
    return static_cast<LPARAM>((event & 0xFFFFu) | ((error & 0xFFFFu) << 16));
}
constexpr unsigned WSAGETSELECTEVENT(LPARAM lParam) { return static_cast<unsigned>(lParam) & 0xFFFFu; }
constexpr unsigned WSAGETSELECTERROR(LPARAM lParam) { return (static_cast<unsigned>(lParam) >> 16) & 0xFFFFu; }

struct WSADATA {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    std::uint16_t iMaxSockets = 0;
    std::uint16_t iMaxUdpDg = 0;
    char* lpVendorInfo = nullptr;
};

// Start-up is counted; every successful WSAStartup owes one WSACleanup.
// Socket calls made while the count is 0 fail with WSANOTINITIALISED.
int WSAStartup(std::uint16_t versionRequested, WSADATA* data);
int WSACleanup();

int WSAGetLastError();
void WSASetLastError(int error);
// The WinSock number for a POSIX errno value.
int WinSockErrorFromErrno(int err);

SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int nameLen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrLen);
// On a socket watched by WSAAsyncSelect a connect never completes here, as
// with WinSock: it fails with WSAEWOULDBLOCK and its outcome, success or
// refusal, comes as FD_CONNECT. On other non-blocking sockets a connect in
// progress also fails with WSAEWOULDBLOCK.
int connect(SOCKET s, const sockaddr* name, int nameLen);
// Never raises SIGPIPE.
int send(SOCKET s, const void* buf, int len, int flags);
int sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr* to, int toLen);
int recv(SOCKET s, void* buf, int len, int flags);
int recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr* from, int* fromLen);
int getsockname(SOCKET s, sockaddr* name, int* nameLen);
int getpeername(SOCKET s, sockaddr* name, int* nameLen);
int closesocket(SOCKET s);

// Beyond WinSock, for datagram sockets: what the system knows of a datagram
// read and of those it could not keep.
struct DatagramInfo {
    int length = 0;             // the datagram's whole length; more than was read when it did not fit
    std::uint32_t dropped = 0;  // datagrams the system dropped at this socket (its receive buffer
                                // was full) before this one came, and not told by an earlier read
};
// recvfrom for a datagram socket that also fills info. A datagram longer than
// len is cut to len, which is the count returned; info tells its whole length.
// When nothing is waiting (WSAEWOULDBLOCK), info->dropped still tells the
// datagrams dropped since the last one read.
int RecvDatagram(SOCKET s, void* buf, int len, sockaddr* from, int* fromLen, DatagramInfo* info);
int setsockopt(SOCKET s, int level, int optName, const void* optVal, int optLen);
int getsockopt(SOCKET s, int level, int optName, void* optVal, int* optLen);

// Makes the socket non-blocking and posts msg to wnd with wParam = s and
// lParam = WSAMAKESELECTREPLY(event, error) for the events asked for; events
// 0 stops the notifications. Needs the application object (GUI thread).
// Sockets accepted from a watched listening socket are watched the same way.
int WSAAsyncSelect(SOCKET s, HWND wnd, UINT msg, long events);

}  // namespace win
