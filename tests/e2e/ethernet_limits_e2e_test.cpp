// The Ethernet port at its limits, through the main window: a TCP server
// that runs out of descriptors, lines transmitted to a client that does not
// read, and whole files sent to readers fast and slow over TCP (both roles)
// and UDP. The send queue is made small through the environment and the
// descriptor limit is lowered for the test's own process, so that the
// limits are reached in a moment.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/timer.h"
#include "ports/ethernet_port.h"
#include "support/descriptor_limit.h"
#include "support/loopback.h"
#include "support/main_window.h"
#include "support/qt_app.h"
#include "support/scoped_env.h"
#include "terminal/main_form.h"

namespace {

using terminal::TMain;

using test_support::ScopedEnv;
using test_support::Fd;

Fd ConnectTo(std::uint16_t port) {
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = test_support::LoopbackAddress(port);
    EXPECT_EQ(::connect(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return s;
}

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
    return s;
}

// Reads a stream on a thread of its own until it ends or Stop is called.
struct Reader {
    explicit Reader(int fd) : fd_(fd), thread_([this] { Run(); }) {}
    ~Reader() { Stop(); }
    void Stop() {
        if (!thread_.joinable()) return;
        ::shutdown(fd_, SHUT_RD);
        thread_.join();
    }
    std::size_t Size() const { return size_.load(); }
    std::string Got() {
        Stop();
        return got_;
    }

private:
    void Run() {
        std::vector<char> buf(65536);
        for (ssize_t n; (n = ::recv(fd_, buf.data(), buf.size(), 0)) > 0;) {
            got_.append(buf.data(), static_cast<std::size_t>(n));
            size_ += static_cast<std::size_t>(n);
        }
    }
    int fd_;
    std::string got_;
    std::atomic<std::size_t> size_{0};
    std::thread thread_;
};

struct Window : test_support::MainWindow {
    TMain*& m = main;
    Window() { m->RVPnlTime = 0; }

    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        const auto& lines = m->RxPanel->Lines();
        for (int i = 0; i < lines.LineCount(); ++i) out.push_back(lines.GetLine(i));
        return out;
    }
    int Count(const std::string& text) const {
        int n = 0;
        for (const std::string& line : Lines()) n += line.find(text) != std::string::npos ? 1 : 0;
        return n;
    }
    std::string LineWith(const std::string& text) const {
        for (const std::string& line : Lines())
            if (line.find(text) != std::string::npos) return line;
        return {};
    }
    // Opens the Ethernet port in the role; the local port it listens on
    // (server, UDP) or 0.
    std::uint16_t Open(int role, std::uint16_t dstPort = 0) {
        const int ethernet = m->ComNcb->Items().IndexOfObject(ports::EthernetPortId);
        m->ComNcb->SelectByUser(ethernet);
        auto* frame = static_cast<ports::TfrmForPEth*>(m->ForeignPort->Frame());
        frame->cbbRole->SelectByUser(role);
        frame->edLocalPort->SetText("0");
        frame->edDstIp->SetText("127.0.0.1");
        frame->edDstPort->SetText(std::to_string(dstPort));
        m->sbPort->Click();
        EXPECT_TRUE(m->ForeignPort->Active()) << (Messages.empty() ? "" : Messages.back());
        const auto* port = static_cast<ports::TEthernetPort*>(m->ForeignPort.get());
        return port->Transport() ? test_support::SocketPort(port->Transport()->Socket()) : 0;
    }
    std::string MakeFile(const std::string& data) {
        const std::string path = dir.File("data.bin");
        std::ofstream(path, std::ios::binary) << data;
        return path;
    }
    // Sends the file as Send Binary File does; the error it raised, if any.
    std::string SendFile(const std::string& path) {
        try {
            m->SendBinaryFile(path, false);
        } catch (const rtl::Exception& e) {
            return e.Message;
        }
        return {};
    }
    // Runs fn once, after ms, from the event loop (as a user's click would).
    void After(int ms, std::function<void()> fn) {
        auto* timer = new vcl::TTimer(m);
        timer->SetInterval(ms);
        timer->SetOnTimer([timer, fn = std::move(fn)](vcl::TComponent*) {
            timer->SetEnabled(false);
            fn();
        });
        timer->SetEnabled(true);
    }
};

TEST(ethernet_limits_e2e, a_server_out_of_descriptors_keeps_its_clients_and_tells_it_once) {
    Window w;
    const std::uint16_t port = w.Open(ports::erTCPServer);
    ASSERT_NE(port, 0);
    // A first client comes while there is room, so that everything a
    // newcomer sets going in the window has run once (see DescriptorLimit).
    Fd first = ConnectTo(port);
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Count("Connect from") == 1; }));
    test_support::Pump(std::chrono::milliseconds(300));
    // The other peers exist before the limit goes down: the program can
    // accept two more of them.
    std::vector<Fd> peers;
    for (int i = 0; i < 5; ++i) peers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    const auto* ethernet = static_cast<ports::TEthernetPort*>(w.m->ForeignPort.get());
    test_support::DescriptorLimit limit(2, ethernet->Transport()->Handle());
    ASSERT_TRUE(limit.Set());
    for (Fd& p : peers) {
        sockaddr_in a = test_support::LoopbackAddress(port);
        ::connect(p.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    const std::string told = "Error: Connect: Too many open files (new clients wait until one can be accepted)";
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Count(told) == 1; }));
    const int accepted = w.Count("Connect from");
    EXPECT_GE(accepted, 2);
    EXPECT_LE(accepted, 3);
    EXPECT_EQ(w.Count("Disconnect"), 0) << "nobody is dropped";
    EXPECT_EQ(w.Count("Close Socket"), 0);
    EXPECT_TRUE(w.m->ForeignPort->Active());

    // Room again: every newcomer that waited comes in, in the system's queue
    // all along, and the limit is not told again.
    limit.Lift();
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Count("Connect from") == 6; }));
    EXPECT_EQ(w.Count(told), 1);
    EXPECT_EQ(ethernet->EthFrame()->lblCCInfo->Caption(), "Clients: 6");
    EXPECT_TRUE(w.Messages.empty());
}

TEST(ethernet_limits_e2e, lines_to_a_client_that_does_not_read_go_whole_or_are_told_and_not_counted) {
    ScopedEnv queue("VOSTREL_TEST_SEND_QUEUE_KB", "64");
    Window w;
    const std::uint16_t port = w.Open(ports::erTCPServer);
    Fd peer = ConnectTo(port);
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Count("(Idx=1)") == 1; }));

    // Transmissions of one line each, as the transmit timer makes them,
    // until a few did not fit.
    const std::string line = Pattern(1996);
    std::size_t accepted = 0;
    int refused = 0;
    for (int i = 0; i < 5000 && refused < 5; ++i) {
        const std::uint32_t n = w.m->SendData(line.data(), static_cast<std::uint32_t>(line.size()), true);
        ASSERT_TRUE(n == 0 || n == line.size()) << "never a part of a line";
        accepted += n;
        refused += n == 0 ? 1 : 0;
    }
    ASSERT_EQ(refused, 5);
    EXPECT_EQ(w.m->SentCount, accepted) << "only what was queued is counted";
    const std::string told = "Error: SendData: 1996 bytes not sent to CliIdx=1: its send queue is full";
    EXPECT_EQ(w.Count(told), 1) << "one line, its count going up";
    EXPECT_TRUE(w.LineWith(told).ends_with(told + " [5]")) << w.LineWith(told);
    EXPECT_TRUE(w.m->ForeignPort->Active());
    EXPECT_EQ(w.Count("Disconnect"), 0);

    // The client reads at last: only whole lines arrive, and all of them.
    Reader reader(peer.fd);
    ASSERT_TRUE(test_support::PumpUntil([&] { return reader.Size() >= accepted; }, std::chrono::seconds(30)));
    test_support::Pump(std::chrono::milliseconds(50));
    const std::string got = reader.Got();
    ASSERT_EQ(got.size(), accepted);
    for (std::size_t at = 0; at < got.size(); at += line.size()) ASSERT_EQ(got.compare(at, line.size(), line), 0) << at;
    EXPECT_EQ(w.m->SendData(line.data(), static_cast<std::uint32_t>(line.size()), true), line.size());
    EXPECT_TRUE(w.Messages.empty());
}

TEST(ethernet_limits_e2e, a_file_goes_out_whole_over_tcp_in_either_role_and_in_datagrams_over_udp) {
    ScopedEnv queue("VOSTREL_TEST_SEND_QUEUE_KB", "64");
    const std::string data = Pattern(3u * 1024u * 1024u + 17u);  // far beyond the queue
    {
        // To a fast reader of the server.
        Window w;
        const std::string path = w.MakeFile(data);
        const std::uint16_t port = w.Open(ports::erTCPServer);
        Fd peer = ConnectTo(port);
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Count("(Idx=1)") == 1; }));
        Reader reader(peer.fd);
        EXPECT_EQ(w.SendFile(path), "");
        EXPECT_EQ(w.m->SentCount, data.size()) << "counted exactly";
        ASSERT_TRUE(test_support::PumpUntil([&] { return reader.Size() >= data.size(); }, std::chrono::seconds(30)));
        EXPECT_TRUE(reader.Got() == data);
        EXPECT_TRUE(w.Messages.empty());
        EXPECT_EQ(w.m->Transb->Caption(), "Transmit");
    }
    {
        // To a fast server, from the client role.
        Window w;
        const std::string path = w.MakeFile(data);
        Fd listener(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a = test_support::LoopbackAddress(0);
        ASSERT_EQ(::bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        // A small window that does not grow: a far side that stops reading
        // soon holds the sender up.
        const int window = 16384;
        ASSERT_EQ(::setsockopt(listener.fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window), 0);
        ASSERT_EQ(::listen(listener.fd, 1), 0);
        w.Open(ports::erTCPClient, test_support::BoundPort(listener.fd));
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Count("Connect (No error)") == 1; }));
        Fd far(::accept(listener.fd, nullptr, nullptr));
        Reader reader(far.fd);
        EXPECT_EQ(w.SendFile(path), "");
        EXPECT_EQ(w.m->SentCount, data.size());
        ASSERT_TRUE(test_support::PumpUntil([&] { return reader.Size() >= data.size(); }, std::chrono::seconds(30)));
        EXPECT_TRUE(reader.Got() == data);

        // A far side that stops reading and then resets: the transfer waits
        // with Cancel there, and stops with the reason when the reset comes.
        w.m->SentCount = 0;
        std::string caption;
        w.After(300, [&] {
            caption = w.m->Transb->Caption();
            const linger l{1, 0};
            ::setsockopt(far.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            far = Fd();
        });
        const std::string error = w.SendFile(path);
        EXPECT_EQ(caption, "Cancel");
        EXPECT_NE(error.find("File sending stopped after"), std::string::npos) << error;
        EXPECT_NE(error.find("Connection reset by peer"), std::string::npos) << error;
        EXPECT_EQ(error.find("is not connected"), std::string::npos) << error;
        EXPECT_LT(w.m->SentCount, data.size());
        EXPECT_EQ(w.m->Transb->Caption(), "Transmit");
    }
    {
        // To a client that never reads: Cancel ends the wait, and the count
        // is what went into the queue.
        Window w;
        const std::string path = w.MakeFile(data);
        const std::uint16_t port = w.Open(ports::erTCPServer);
        Fd peer = ConnectTo(port);
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Count("(Idx=1)") == 1; }));
        w.After(300, [&] { w.m->Transb->Click(); });
        EXPECT_EQ(w.SendFile(path), "");
        EXPECT_GT(w.m->SentCount, 0u);
        EXPECT_LT(w.m->SentCount, data.size());
        EXPECT_TRUE(w.m->ForeignPort->Active());
        Reader reader(peer.fd);
        ASSERT_TRUE(test_support::PumpUntil([&] { return reader.Size() >= w.m->SentCount; }, std::chrono::seconds(30)));
        test_support::Pump(std::chrono::milliseconds(50));
        const std::string got = reader.Got();
        EXPECT_EQ(got.size(), w.m->SentCount);
        EXPECT_EQ(got, data.substr(0, got.size()));
        EXPECT_TRUE(w.Messages.empty());
    }
    {
        // Over UDP each piece of the file is one datagram that fits.
        Window w;
        Fd far(::socket(AF_INET, SOCK_DGRAM, 0));
        sockaddr_in a = test_support::LoopbackAddress(0);
        ASSERT_EQ(::bind(far.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        const std::string small = data.substr(0, 100000);
        const std::string path = w.MakeFile(small);
        w.Open(ports::erUDP, test_support::BoundPort(far.fd));
        EXPECT_EQ(w.SendFile(path), "");
        EXPECT_EQ(w.m->SentCount, small.size());
        std::vector<std::size_t> sizes;
        std::string got;
        std::vector<char> buf(70000);
        while (got.size() < small.size()) {
            const ssize_t n = ::recv(far.fd, buf.data(), buf.size(), MSG_DONTWAIT);
            if (n <= 0) break;
            sizes.push_back(static_cast<std::size_t>(n));
            got.append(buf.data(), static_cast<std::size_t>(n));
        }
        EXPECT_EQ(sizes, (std::vector<std::size_t>{65507, small.size() - 65507}));
        EXPECT_TRUE(got == small);
        EXPECT_TRUE(w.Messages.empty());
    }
}

TEST(ethernet_limits_e2e, a_file_never_goes_on_to_a_client_that_took_the_place_of_the_one_it_went_to) {
    ScopedEnv queue("VOSTREL_TEST_SEND_QUEUE_KB", "64");
    const std::string data = Pattern(1024u * 1024u);
    Window w;
    const std::string path = w.MakeFile(data);
    const std::uint16_t port = w.Open(ports::erTCPServer);
    auto first = std::make_unique<Fd>(ConnectTo(port));
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Count("(Idx=1)") == 1; }));

    // While the file waits for room, the client it goes to leaves and a new
    // one comes in its index before the sender looks again: the newcomer
    // must not get the rest of a file whose start went to another peer.
    Fd second;
    bool replaced = false;
    w.After(300, [&] {
        first.reset();
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Count("Disconnect CliIdx=1") == 1; }));
        second = ConnectTo(port);
        replaced = test_support::PumpUntil([&] { return w.Count("(Idx=1)") == 2; });
    });
    // The newcomer does not read yet: a transfer that went on to it would
    // wait for room until cancelled.
    w.After(3000, [&] {
        if (w.m->Transb->Caption() == "Cancel") w.m->Transb->Click();
    });
    const std::string error = w.SendFile(path);
    ASSERT_TRUE(replaced);
    EXPECT_NE(error.find("File sending stopped after"), std::string::npos) << error;
    EXPECT_NE(error.find("is no longer the one sent to"), std::string::npos) << error;
    EXPECT_LT(w.m->SentCount, data.size());
    Reader reader(second.fd);
    test_support::Pump(std::chrono::milliseconds(300));
    EXPECT_EQ(reader.Got().size(), 0u) << "the newcomer got a part of the file";
    EXPECT_TRUE(w.m->ForeignPort->Active());
}

}  // namespace
