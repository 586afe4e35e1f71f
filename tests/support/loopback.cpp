#include "support/loopback.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace test_support {

Fd::~Fd() {
    if (fd >= 0) ::close(fd);
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::uint16_t BoundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

std::uint16_t SocketPort(win::SOCKET s) {
    sockaddr_in a{};
    int len = sizeof a;
    if (win::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

std::uint16_t FreePort(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0) return 0;
    sockaddr_in a = LoopbackAddress(0);
    const std::uint16_t port = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? BoundPort(fd) : 0;
    ::close(fd);
    return port;
}

long UdpDrops(std::uint16_t port) {
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line);  // heading
    char want[8];
    std::snprintf(want, sizeof want, ":%04X", port);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string t; fields >> t;) f.push_back(t);
        if (f.size() < 13 || f[1].size() < 5 || f[1].substr(f[1].size() - 5) != want) continue;
        return std::stol(f.back());
    }
    return -1;
}

int OpenDescriptors() {
    int n = 0;
    DIR* d = ::opendir("/proc/self/fd");
    if (!d) return -1;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    return n - 1;  // the directory stream's own descriptor
}

namespace {

// Waits for done() in 1 ms naps; the bound only keeps a broken case from
// hanging the run.
bool WaitFor(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

DatagramQueue QueueOf(win::SOCKET s) {
    std::uint32_t meminfo[SK_MEMINFO_VARS] = {};
    int size = sizeof meminfo;
    if (win::getsockopt(s, SOL_SOCKET, SO_MEMINFO, meminfo, &size) != 0) return {};
    return {meminfo[SK_MEMINFO_RMEM_ALLOC], meminfo[SK_MEMINFO_DROPS]};
}

std::uint32_t WaitForOneDatagram(win::SOCKET s, DatagramQueue before) {
    if (!WaitFor([&] { return QueueOf(s).memory > before.memory; })) return 0;
    return QueueOf(s).memory - before.memory;
}

bool WaitForDatagrams(win::SOCKET s, DatagramQueue before, std::uint32_t share, long count) {
    if (share == 0) return false;
    return WaitFor([&] {
        const DatagramQueue now = QueueOf(s);
        return static_cast<long>((now.memory - before.memory) / share + (now.drops - before.drops)) >= count;
    });
}

bool AcceptQueueFull(int listenerFd) {
    // For a listening socket the system reports the connections waiting to
    // be accepted and the most it keeps in these two fields.
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(listenerFd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return false;
    return info.tcpi_unacked > info.tcpi_sacked;
}

bool WaitForFullAcceptQueue(int listenerFd) {
    return WaitFor([&] { return AcceptQueueFull(listenerFd); });
}

}  // namespace test_support
