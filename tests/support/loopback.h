#pragma once
// Small helpers of the tests that talk over 127.0.0.1.
#include <netinet/in.h>

#include <cstdint>

namespace test_support {

// 127.0.0.1 at the given port (host order).
sockaddr_in LoopbackAddress(std::uint16_t port);
// The local port a socket is bound to (host order); 0 when unknown.
std::uint16_t BoundPort(int fd);
// A port of the given socket type (SOCK_DGRAM, SOCK_STREAM) that nobody on
// this machine uses right now: the system picks it for a socket on
// 127.0.0.1, which is then closed again. For a test that must name a port
// before the code under test binds it; 0 when none could be had.
std::uint16_t FreePort(int type);
// Descriptors this process has open, to show that nothing leaked.
int OpenDescriptors();

}  // namespace test_support
