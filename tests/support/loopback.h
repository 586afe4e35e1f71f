#pragma once
// Small helpers of the tests that talk over 127.0.0.1.
#include <netinet/in.h>

#include <cstdint>
#include <utility>

#include "platform/win/winsock.h"

namespace test_support {

// A descriptor of the test's own (a peer outside the code under test),
// closed when it goes.
struct Fd {
    explicit Fd(int f = -1) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd, o.fd);
        return *this;
    }
    ~Fd();
    int fd;
};

// 127.0.0.1 at the given port (host order).
sockaddr_in LoopbackAddress(std::uint16_t port);
// The local port a socket is bound to (host order); 0 when unknown.
std::uint16_t BoundPort(int fd);
// The same for a socket of the WinSock layer (its handles are no descriptors).
std::uint16_t SocketPort(win::SOCKET s);
// A port of the given socket type (SOCK_DGRAM, SOCK_STREAM) that nobody on
// this machine uses right now: the system picks it for a socket on
// 127.0.0.1, which is then closed again. For a test that must name a port
// before the code under test binds it; 0 when none could be had.
std::uint16_t FreePort(int type);
// Descriptors this process has open, to show that nothing leaked.
int OpenDescriptors();
// The kernel's count of datagrams it dropped at a UDP socket bound to the
// port (any local address), from /proc/net/udp; -1 when not found.
long UdpDrops(std::uint16_t port);


// A datagram socket's receive queue as the system accounts for it: the
// memory its waiting datagrams take and the datagrams it dropped. The system
// may hand a datagram to the socket a moment after sendto returns; each one
// it hands over adds to one of the two, and while nothing reads the socket
// neither shrinks, so a test can wait for exactly the datagrams it sent.
struct DatagramQueue {
    std::uint32_t memory = 0;
    std::uint32_t drops = 0;
    bool operator==(const DatagramQueue&) const = default;
};
DatagramQueue QueueOf(win::SOCKET s);
// Waits (without running the loop, so that nothing reads s) until the
// memory of s has grown past before's: the first datagram sent since has
// come. Answers the memory that one datagram takes; 0 when none came.
std::uint32_t WaitForOneDatagram(win::SOCKET s, DatagramQueue before);
// Waits (likewise) until count datagrams sent since before was taken have
// each been queued (taking share bytes) or dropped. False when they have
// not within the bound, which only keeps a broken case from hanging.
bool WaitForDatagrams(win::SOCKET s, DatagramQueue before, std::uint32_t share, long count);

// Whether a listening socket's queue of connections waiting to be accepted
// is full, so that the system drops further connection requests.
bool AcceptQueueFull(int listenerFd);
// Waits (without running the loop) until it is; false when it is not within
// the bound.
bool WaitForFullAcceptQueue(int listenerFd);

}  // namespace test_support
