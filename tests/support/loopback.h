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

}  // namespace test_support
