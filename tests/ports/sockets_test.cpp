#include "ports/sockets.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/forms.h"
#include "platform/win/message_window.h"
#include "support/descriptor_limit.h"
#include "support/loopback.h"
#include "support/qt_app.h"

namespace ports {
namespace {

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);  // 127.0.0.1 as held here

// The loop until done(), within a generous bound that only keeps a broken
// case from hanging the run.
bool PumpUntil(const std::function<bool()>& done, int boundMs = 10000) {
    return test_support::PumpUntil(done, std::chrono::milliseconds(boundMs));
}

// Lets queued notifications arrive, for checks that something did NOT come.
void Settle() { test_support::Pump(std::chrono::milliseconds(30)); }

std::uint16_t LocalPort(int fd) { return test_support::BoundPort(fd); }
using test_support::SocketPort;

sockaddr_in Loopback(std::uint16_t port) { return test_support::LoopbackAddress(port); }

using test_support::Fd;

Fd PlainUdp(std::uint16_t port = 0) {
    Fd s(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in a = Loopback(port);
    EXPECT_EQ(::bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return s;
}

// A plain client connected (or connecting, when nonBlocking) to port.
Fd PlainConnect(std::uint16_t port, bool nonBlocking = false) {
    Fd s(::socket(AF_INET, SOCK_STREAM | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
    sockaddr_in a = Loopback(port);
    int r = ::connect(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    EXPECT_TRUE(r == 0 || (nonBlocking && errno == EINPROGRESS));
    return s;
}

// A plain listening socket on a port of the system's choice.
Fd PlainListener(int backlog = 5) {
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = Loopback(0);
    EXPECT_EQ(::bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(s.fd, backlog), 0);
    return s;
}

// A port with nobody listening: one the system handed out and took back.
std::uint16_t ClosedPort() {
    Fd probe(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = Loopback(0);
    ::bind(probe.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return LocalPort(probe.fd);
}

std::string ReadAll(int fd, std::size_t count) {
    std::string got;
    std::vector<char> buf(65536);
    while (got.size() < count) {
        ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0) break;
        got.append(buf.data(), static_cast<std::size_t>(n));
    }
    return got;
}

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

using test_support::OpenDescriptors;

struct Errors {
    std::vector<std::uint32_t> values;
    TSocketErrorEvent Handler() {
        return [this](TTCPUDPCustomSocket*, std::uint32_t v) { values.push_back(v); };
    }
};

std::uint32_t Value(int code, int context) { return static_cast<std::uint32_t>(code) | (static_cast<std::uint32_t>(context) << 16); }

class sockets_on_loopback : public ::testing::Test {
protected:
    void SetUp() override { test_support::EnsureQtApplication(); }
};

// A server listening on a port of the system's choice, recording its events.
struct Server {
    Server() {
        sock.OnError = errors.Handler();
        sock.OnConnect = [this](TTCPUDPCustomSocket*, TClientRec* c) { connected.push_back(*c); };
        sock.OnDisconnect = [this](TTCPUDPCustomSocket*, TClientRec* c) { disconnected.push_back(*c); };
        sock.OnReceive = [this](TTCPUDPCustomSocket*, TClientRec* c, const void* buf, int size) {
            received[c->Socket].append(static_cast<const char*>(buf), static_cast<std::size_t>(size));
        };
        sock.Listen(0, kLoopback);
        port = SocketPort(sock.Socket());
    }
    Errors errors;
    std::vector<TClientRec> connected;
    std::vector<TClientRec> disconnected;
    std::map<std::uint32_t, std::string> received;
    std::uint16_t port = 0;
    TTCPServerSocket sock;  // last: its destructor still reports into the fields above
};

// A client socket recording its events.
struct Client {
    Client() {
        sock.OnError = errors.Handler();
        sock.OnConnect = [this](TTCPUDPCustomSocket*) { ++connects; };
        sock.OnDisconnect = [this](TTCPUDPCustomSocket*) { ++disconnects; };
        sock.OnReceive = [this](TTCPUDPCustomSocket*, const void* buf, int size) {
            received.append(static_cast<const char*>(buf), static_cast<std::size_t>(size));
        };
    }
    Errors errors;
    int connects = 0;
    int disconnects = 0;
    std::string received;
    TTCPClientSocket sock;  // last: its destructor still reports into the fields above
};

TEST(sockets, error_text_joins_context_prefix_and_message) {
    EXPECT_EQ(SocketErrorText(Value(10061, 12)), "Connect: Connect: Connection refused");
    EXPECT_EQ(SocketErrorText(Value(12006, 15)), "Disconnect: Unknown socket");
    EXPECT_EQ(SocketErrorText(Value(5, 2)), "SendData: Not a WinSock error (131077)");
    EXPECT_EQ(SocketErrorText(10060), "Connection timed out");
    EXPECT_EQ(SocketErrorText(0), "No error");
    EXPECT_EQ(SocketErrorText(Value(12008, 19)), "SetOption: SO_BROADCAST: Error verifying option parameter");
    EXPECT_EQ(SocketErrorText(Value(10035, 1)), "Receive: Resource temporarily unavailable");
    EXPECT_EQ(SocketErrorText(Value(10110, 16)), "MsgProc: No more results");
    EXPECT_EQ(SocketErrorText(Value(12007, 9)), "Connect: Connection list is full");
    // Contexts outside 1..19 give no prefix; unknown codes show the whole value.
    EXPECT_EQ(SocketErrorText(Value(10054, 20)), "Connection reset by peer");
    EXPECT_EQ(SocketErrorText(Value(1, 0xFFFF)), "Not a WinSock error (4294901761)");

    EXPECT_EQ(IPToStr(0x0100007Fu), "127.0.0.1");
    EXPECT_EQ(IPToStr(0xFFFFFFFFu), "255.255.255.255");
    EXPECT_EQ(IPToStr(0x0403020Au), "10.2.3.4");
}

TEST_F(sockets_on_loopback, udp_datagrams_travel_both_ways_with_sender_address) {
    TUDPSocket a, b;
    Errors errors;
    a.OnError = b.OnError = errors.Handler();
    struct Got {
        std::uint32_t ip;
        std::uint16_t port;
        std::string data;
    };
    std::vector<Got> atA, atB;
    a.OnReceive = [&](TTCPUDPCustomSocket* s, std::uint32_t ip, std::uint16_t port, const void* buf, int size) {
        EXPECT_EQ(s, &a);
        atA.push_back({ip, port, std::string(static_cast<const char*>(buf), static_cast<std::size_t>(size))});
    };
    b.OnReceive = [&](TTCPUDPCustomSocket*, std::uint32_t ip, std::uint16_t port, const void* buf, int size) {
        atB.push_back({ip, port, std::string(static_cast<const char*>(buf), static_cast<std::size_t>(size))});
    };
    a.Listen(0);
    b.Listen(0);
    ASSERT_TRUE(a.Opened() && b.Opened());
    EXPECT_EQ(win::GetWindowText(a.Handle()), "UDPSocketUtil");
    auto portA = SocketPort(a.Socket());
    auto portB = SocketPort(b.Socket());

    EXPECT_EQ(a.SendTo(kLoopback, portB, "ping", 4), 4);
    EXPECT_EQ(a.SendTo(kLoopback, portB, "", 0), 0) << "an empty datagram is a datagram";
    ASSERT_TRUE(PumpUntil([&] { return atB.size() == 2; }));
    EXPECT_EQ(atB[0].data, "ping");
    EXPECT_EQ(atB[0].ip, 0x0100007Fu) << "first octet in the lowest byte";
    EXPECT_EQ(atB[0].port, portA) << "port in host order";
    EXPECT_EQ(atB[1].data, "");
    EXPECT_EQ(b.SendTo(atB[0].ip, atB[0].port, "pong", 4), 4);
    ASSERT_TRUE(PumpUntil([&] { return atA.size() == 1; }));
    EXPECT_EQ(atA[0].data, "pong");
    EXPECT_EQ(atA[0].port, portB);

    // A plain peer both ways.
    Fd peer = PlainUdp();
    sockaddr_in toA = Loopback(portA);
    ASSERT_EQ(::sendto(peer.fd, "raw", 3, 0, reinterpret_cast<sockaddr*>(&toA), sizeof toA), 3);
    ASSERT_TRUE(PumpUntil([&] { return atA.size() == 2; }));
    EXPECT_EQ(atA[1].data, "raw");
    EXPECT_EQ(atA[1].port, LocalPort(peer.fd));
    EXPECT_EQ(a.SendTo(kLoopback, LocalPort(peer.fd), "back", 4), 4);
    char buf[8];
    EXPECT_EQ(::recv(peer.fd, buf, sizeof buf, 0), 4);
    EXPECT_EQ(std::string(buf, 4), "back");
    EXPECT_TRUE(errors.values.empty());
}

// A UDP socket that counts the turns of the event loop in which it reads.
class TurnCountingUdp : public TUDPSocket {
public:
    int turns = 0;

protected:
    win::LRESULT WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override {
        if (msg == WM_UDPSOCKET) ++turns;
        return TUDPSocket::WndProc(msg, wParam, lParam);
    }
};

TEST_F(sockets_on_loopback, udp_takes_all_waiting_datagrams_in_one_turn_yet_lets_the_window_paint) {
    TurnCountingUdp u;
    Errors errors;
    u.OnError = errors.Handler();
    std::string got;
    std::chrono::milliseconds handling{0};
    u.OnReceive = [&](TTCPUDPCustomSocket*, std::uint32_t, std::uint16_t, const void* buf, int size) {
        got.append(static_cast<const char*>(buf), static_cast<std::size_t>(size));
        std::this_thread::sleep_for(handling);
    };
    u.Listen(0);
    ASSERT_TRUE(u.Opened());
    Fd peer = PlainUdp();
    const sockaddr_in to = Loopback(SocketPort(u.Socket()));
    // Thirty datagrams, well inside the socket's room, all waiting before
    // the loop runs: the system may hand them to the socket a moment after
    // sendto, so the loop waits until it holds every one.
    auto play = [&] {
        std::string sent;
        const test_support::DatagramQueue before = test_support::QueueOf(u.Socket());
        std::uint32_t share = 0;
        for (int i = 0; i < 30; ++i) {
            const char c = static_cast<char>('a' + i % 26);
            ASSERT_EQ(::sendto(peer.fd, &c, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 1);
            sent += c;
            if (i == 0) {
                share = test_support::WaitForOneDatagram(u.Socket(), before);
                ASSERT_GT(share, 0u);
            }
        }
        ASSERT_TRUE(test_support::WaitForDatagrams(u.Socket(), before, share, 30));
        ASSERT_EQ(test_support::QueueOf(u.Socket()).drops, before.drops) << "all thirty wait";
        got.clear();
        u.turns = 0;
        ASSERT_TRUE(PumpUntil([&] { return got.size() == sent.size(); }));
        EXPECT_EQ(got, sent);
    };
    play();
    EXPECT_LE(u.turns, 2) << "one turn takes what waits";
    // An owner that takes its time with each datagram: the socket reads on
    // in later turns instead of holding the loop for all thirty.
    handling = std::chrono::milliseconds(3);
    play();
    EXPECT_GE(u.turns, 4);
    EXPECT_TRUE(errors.values.empty());
}

TEST_F(sockets_on_loopback, udp_failures_are_reported_with_their_context) {
    TUDPSocket a, b;
    Errors errors;
    a.OnError = b.OnError = errors.Handler();
    EXPECT_EQ(a.SendTo(kLoopback, 9, "x", 1), 0);
    ASSERT_EQ(errors.values.size(), 1u);
    EXPECT_EQ(errors.values[0], Value(12005, 2)) << "not opened yet";
    EXPECT_EQ(a.LastError(), Value(12005, 2));

    a.Listen(0);
    EXPECT_EQ(a.SendTo(0xFFFFFFFFu, 9, "x", 1), 0);
    EXPECT_EQ(errors.values.back(), Value(11001, 2));

    b.Listen(SocketPort(a.Socket()));
    EXPECT_EQ(errors.values.back(), Value(10048, 8)) << "the port is taken";
    EXPECT_FALSE(b.Opened());
    EXPECT_EQ(b.Socket(), win::INVALID_SOCKET) << "a failed bind closes the socket";
}

TEST_F(sockets_on_loopback, unassigned_events_show_a_message_box) {
    vcl::TApplication* app = vcl::EnsureApplication();
    std::vector<vcl::TMessageRequest> shown;
    app->MessageHook = [&](const vcl::TMessageRequest& r) {
        shown.push_back(r);
        return vcl::IDOK;
    };
    {
        TUDPSocket a, b;
        a.SendTo(kLoopback, 9, "x", 1);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].Caption, "Easy_TCP");
        EXPECT_EQ(shown[0].Text, "Error: \rSendData: Socket not bound");
        b.Listen(0);
        a.Listen(0);
        EXPECT_EQ(a.SendTo(kLoopback, SocketPort(b.Socket()), "four", 4), 4);
        ASSERT_TRUE(PumpUntil([&] { return shown.size() == 2; }));
        EXPECT_EQ(shown[1].Caption, "Easy_UDP");
        EXPECT_EQ(shown[1].Text, "Data Received\rOnReiceive not Assigned\rHost: 127.0.0.1\rPort: " +
                                     std::to_string(SocketPort(a.Socket())) + "\rSize: 4");
    }
    {
        TTCPServerSocket server;
        server.Listen(0, kLoopback);
        TTCPClientSocket client;
        client.Connect(kLoopback, SocketPort(server.Socket()), 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return client.Connected() && server.ClientCount() == 1; }));
        EXPECT_EQ(client.SendData("abc", 3), 3);
        ASSERT_TRUE(PumpUntil([&] { return shown.size() == 3; }));
        EXPECT_EQ(shown[2].Caption, "Easy_TCP");
        EXPECT_EQ(shown[2].Text, "Data Received\rOnReiceive not Assigned\rSize: 3");
        EXPECT_EQ(server.SendData(server.GetClient(0)->Socket, "hello", 5), 5);
        ASSERT_TRUE(PumpUntil([&] { return shown.size() == 4; }));
        EXPECT_EQ(shown[3].Text, "Data Received\rOnReiceive not Assigned\rSize: 5");

        // An event that throws reaches the application's handler; the socket goes on.
        int calls = 0;
        client.OnReceive = [&](TTCPUDPCustomSocket*, const void*, int) {
            ++calls;
            throw rtl::Exception("handler failed");
        };
        EXPECT_EQ(server.SendData(server.GetClient(0)->Socket, "1", 1), 1);
        ASSERT_TRUE(PumpUntil([&] { return shown.size() == 5; }));
        EXPECT_EQ(shown[4].Text, "handler failed.");
        EXPECT_EQ(server.SendData(server.GetClient(0)->Socket, "2", 1), 1);
        ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    }
    app->MessageHook = nullptr;
}

TEST_F(sockets_on_loopback, server_lists_clients_by_handle_and_reports_their_life) {
    Server server;
    ASSERT_TRUE(server.sock.Opened());
    EXPECT_EQ(win::GetWindowText(server.sock.Handle()), "TCPServerSocketUtil");
    Fd first = PlainConnect(server.port);
    Fd second = PlainConnect(server.port);
    Fd third = PlainConnect(server.port);
    ASSERT_TRUE(PumpUntil([&] { return server.sock.ClientCount() == 3; }));
    ASSERT_EQ(server.connected.size(), 3u);
    for (int i = 0; i + 1 < 3; ++i) EXPECT_LT(server.sock.GetClient(i)->Socket, server.sock.GetClient(i + 1)->Socket);
    EXPECT_EQ(server.sock.GetClient(-1), nullptr);
    EXPECT_EQ(server.sock.GetClient(3), nullptr);
    const TClientRec& rec = server.connected[0];
    EXPECT_EQ(rec.IP, 0x0100007Fu);
    EXPECT_TRUE(rec.Port == LocalPort(first.fd) || rec.Port == LocalPort(second.fd) || rec.Port == LocalPort(third.fd));
    EXPECT_EQ(rec.UserValue, 0);

    // UserValue lookups go in list order.
    server.sock.GetClient(2)->UserValue = 7;
    server.sock.GetClient(1)->UserValue = 7;
    EXPECT_EQ(server.sock.FindClientByUserValue(7), 1);
    EXPECT_EQ(server.sock.FindClientByUserValue(8), -1);

    ASSERT_EQ(::send(second.fd, "from two", 8, 0), 8);
    ASSERT_TRUE(PumpUntil([&] { return !server.received.empty(); }));
    std::uint32_t secondSocket = server.received.begin()->first;
    EXPECT_EQ(server.received[secondSocket], "from two");
    EXPECT_EQ(server.sock.SendData(secondSocket, "reply", 5), 5);
    EXPECT_EQ(ReadAll(second.fd, 5), "reply");

    // The peer closes: the client leaves the list and its record is reported.
    second = Fd();
    ASSERT_TRUE(PumpUntil([&] { return server.disconnected.size() == 1; }));
    EXPECT_EQ(server.disconnected[0].Socket, secondSocket);
    EXPECT_EQ(server.sock.ClientCount(), 2);
    EXPECT_EQ(server.sock.LastError(), 0u) << "a graceful close";

    // Closing a client from this side, with notifications on their way for
    // it: they are dropped quietly.
    std::uint32_t firstListed = server.sock.GetClient(0)->Socket;
    for (unsigned event : {win::FD_READ, win::FD_CLOSE, win::FD_WRITE})
        win::PostMessage(server.sock.Handle(), WM_TCPSOCKET, firstListed, win::WSAMAKESELECTREPLY(event, 0));
    server.sock.DisconnectClient(firstListed);
    ASSERT_EQ(server.disconnected.size(), 2u);
    EXPECT_EQ(server.disconnected[1].Socket, firstListed);
    EXPECT_EQ(server.sock.ClientCount(), 1);
    Settle();
    EXPECT_TRUE(server.errors.values.empty());
    EXPECT_EQ(server.disconnected.size(), 2u);

    server.sock.DisconnectClient(firstListed);
    EXPECT_EQ(server.errors.values.back(), Value(12006, 15));
    // A notification for a handle that is not listed can only be an old one:
    // dropped, whatever it says.
    for (unsigned event : {win::FD_READ, win::FD_CLOSE})
        win::PostMessage(server.sock.Handle(), WM_TCPSOCKET, 99999, win::WSAMAKESELECTREPLY(event, 10054));
    Settle();
    EXPECT_EQ(server.errors.values.size(), 1u);
    EXPECT_EQ(server.disconnected.size(), 2u);
    EXPECT_EQ(server.sock.SendData(firstListed, "x", 1), 0) << "not a client of this server";
    EXPECT_EQ(server.errors.values.back(), Value(12006, 2));
}

TEST_F(sockets_on_loopback, a_reset_is_reported_to_server_and_client) {
    Server server;
    Fd rude = PlainConnect(server.port);
    ASSERT_TRUE(PumpUntil([&] { return server.sock.ClientCount() == 1; }));
    linger abort{1, 0};
    ASSERT_EQ(::setsockopt(rude.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    rude = Fd();
    ASSERT_TRUE(PumpUntil([&] { return server.disconnected.size() == 1; }));
    EXPECT_EQ(server.sock.LastError(), 10054u);
    EXPECT_TRUE(server.errors.values.empty()) << "a close is no error of the server";

    Fd listener = PlainListener();
    Client client;
    client.sock.Connect(kLoopback, LocalPort(listener.fd), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return client.connects == 1; }));
    ASSERT_TRUE(client.sock.Connected());
    Fd accepted(::accept(listener.fd, nullptr, nullptr));
    ASSERT_EQ(::setsockopt(accepted.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    accepted = Fd();
    ASSERT_TRUE(PumpUntil([&] { return client.disconnects == 1; }));
    EXPECT_EQ(client.sock.LastError(), 10054u);
    EXPECT_FALSE(client.sock.Connected());
}

TEST_F(sockets_on_loopback, client_connects_exchanges_data_and_sees_the_close) {
    Client client;
    EXPECT_EQ(win::GetWindowText(client.sock.Handle()), "TCPClientSocketUtil");
    Fd listener = PlainListener();
    client.sock.Connect(kLoopback, LocalPort(listener.fd), 0, 0);
    ASSERT_TRUE(client.sock.Opened());
    EXPECT_FALSE(client.sock.Connected());
    EXPECT_EQ(client.sock.SendData("early", 5), 0);
    ASSERT_EQ(client.errors.values.size(), 1u);
    EXPECT_EQ(client.errors.values[0], Value(12005, 2)) << "the connect is still pending";

    ASSERT_TRUE(PumpUntil([&] { return client.connects == 1; }));
    EXPECT_TRUE(client.sock.Connected());
    EXPECT_EQ(client.sock.LastError(), 0u);
    Fd peer(::accept(listener.fd, nullptr, nullptr));
    EXPECT_EQ(client.sock.SendData("hello", 5), 5);
    EXPECT_EQ(ReadAll(peer.fd, 5), "hello");
    ASSERT_EQ(::send(peer.fd, "world", 5, 0), 5);
    ASSERT_TRUE(PumpUntil([&] { return client.received.size() == 5; }));
    EXPECT_EQ(client.received, "world");

    client.sock.Connect(kLoopback, LocalPort(listener.fd), 0, 0);
    EXPECT_EQ(client.errors.values.back(), Value(10056, 9)) << "already connected";

    peer = Fd();
    ASSERT_TRUE(PumpUntil([&] { return client.disconnects == 1; }));
    EXPECT_FALSE(client.sock.Connected());
    EXPECT_EQ(client.sock.LastError(), 0u);

    // A disconnect of a connection already closed raises nothing more.
    client.sock.Disconnect();
    EXPECT_EQ(client.disconnects, 1);
    EXPECT_FALSE(client.sock.Opened());
}

TEST_F(sockets_on_loopback, a_refused_connect_reaches_on_connect_with_its_code) {
    Client client;
    client.sock.Connect(kLoopback, ClosedPort(), 0, 0);
    EXPECT_TRUE(client.errors.values.empty()) << "the refusal comes later, through OnConnect";
    ASSERT_TRUE(PumpUntil([&] { return client.connects == 1; }));
    EXPECT_FALSE(client.sock.Connected());
    EXPECT_EQ(client.sock.LastError(), 10061u);
    EXPECT_EQ(SocketErrorText(client.sock.LastError()), "Connection refused");
    Settle();
    EXPECT_TRUE(client.errors.values.empty()) << "no context-16 report for a connect outcome";
    EXPECT_EQ(client.disconnects, 0);

    client.sock.Connect(0xFFFFFFFFu, 80, 0, 0);
    EXPECT_EQ(client.errors.values.back(), Value(11001, 9));
}

TEST_F(sockets_on_loopback, a_connect_with_no_answer_times_out_after_five_seconds) {
    // A listener whose queue is full drops further connection requests, so
    // the connect neither completes nor fails.
    Fd listener = PlainListener(0);
    std::vector<Fd> fillers;
    for (int i = 0; i < 3; ++i) fillers.push_back(PlainConnect(LocalPort(listener.fd), true));
    ASSERT_TRUE(test_support::WaitForFullAcceptQueue(listener.fd));

    Client client;
    auto started = std::chrono::steady_clock::now();
    client.sock.Connect(kLoopback, LocalPort(listener.fd), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !client.errors.values.empty(); }, 15000));
    auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(client.errors.values[0], Value(10060, 9));
    EXPECT_GE(waited, std::chrono::milliseconds(ConnectTimeoutMs - 100)) << "not before the time-out";
    EXPECT_EQ(client.connects, 0);
    EXPECT_TRUE(client.sock.Opened()) << "the socket stays open";
    Settle();
    EXPECT_EQ(client.errors.values.size(), 1u) << "the time-out fires once";

    // A connect given up before its time-out must not time out afterwards,
    // not even through a tick that was already on its way.
    Client other;
    other.sock.Connect(kLoopback, LocalPort(listener.fd), 0, 0);
    win::PostMessage(other.sock.Handle(), win::WM_TIMER, ConnectTimerId, 0);
    other.sock.Disconnect();
    Settle();
    EXPECT_TRUE(other.errors.values.empty());
}

// Reads what the peer has (making it non-blocking) into got while the loop
// runs, until done().
bool ReadWhilePumping(int peerFd, std::string& got, const std::function<bool()>& done) {
    ::fcntl(peerFd, F_SETFL, ::fcntl(peerFd, F_GETFL) | O_NONBLOCK);
    std::vector<char> buf(65536);
    return PumpUntil([&] {
        ssize_t n;
        while ((n = ::recv(peerFd, buf.data(), buf.size(), 0)) > 0) got.append(buf.data(), static_cast<std::size_t>(n));
        return done();
    }, 30000);
}

// Fills the peer's receive window by not reading, then reads everything.
template <class SendFn>
void CheckNothingIsLost(int peerFd, SendFn send, const std::function<std::size_t()>& pending) {
    // Well beyond what the kernel buffers for a peer that does not read
    // (a 32 KB send buffer and the peer's initial receive window).
    const std::string data = Pattern(1024u * 1024u);
    std::size_t chunk = 64u * 1024u;
    for (std::size_t at = 0; at < data.size(); at += chunk)
        ASSERT_EQ(send(data.data() + at, static_cast<int>(chunk)), static_cast<int>(chunk)) << "accepted whole";
    ASSERT_GT(pending(), 0u) << "the peer does not read, so some must wait";
    ASSERT_LT(pending(), data.size());

    std::string got;
    ASSERT_TRUE(ReadWhilePumping(peerFd, got, [&] { return got.size() >= data.size(); }));
    EXPECT_EQ(pending(), 0u);
    EXPECT_TRUE(got == data) << "all bytes, in order";
}

TEST_F(sockets_on_loopback, bytes_the_socket_cannot_take_yet_are_sent_later) {
    Server server;
    Fd peer = PlainConnect(server.port);
    ASSERT_TRUE(PumpUntil([&] { return server.sock.ClientCount() == 1; }));
    std::uint32_t s = server.sock.GetClient(0)->Socket;
    CheckNothingIsLost(
        peer.fd, [&](const char* p, int n) { return server.sock.SendData(s, p, n); },
        [&] { return server.sock.PendingBytes(s); });
    EXPECT_TRUE(server.errors.values.empty());

    Fd listener = PlainListener();
    Client client;
    client.sock.Connect(kLoopback, LocalPort(listener.fd), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return client.sock.Connected(); }));
    Fd accepted(::accept(listener.fd, nullptr, nullptr));
    CheckNothingIsLost(
        accepted.fd, [&](const char* p, int n) { return client.sock.SendData(p, n); },
        [&] { return client.sock.PendingBytes(); });
    EXPECT_TRUE(client.errors.values.empty());
}

// Sets an environment variable for the life of the object.
struct ScopedEnv {
    ScopedEnv(const char* name, const char* value) : name_(name) { ::setenv(name, value, 1); }
    ~ScopedEnv() { ::unsetenv(name_); }
    const char* name_;
};

// Sends 1000-byte messages to a peer that does not read until one is
// refused; then the peer reads: every accepted message arrives whole.
template <class SendFn>
void CheckRefusedWhole(int peerFd, TTCPUDPCustomSocket& sock, SendFn send, const std::function<std::size_t()>& room,
                       const std::function<std::size_t()>& pending) {
    const std::string message = Pattern(1000);
    std::size_t accepted = 0;
    int refused = 0;
    for (int i = 0; i < 100000 && refused == 0; ++i) {
        const int n = send(message.data(), 1000);
        if (n == 1000)
            accepted += 1000;
        else
            ASSERT_EQ(n, 0) << "a message is never taken in part";
        refused += n == 0 ? 1 : 0;
    }
    ASSERT_EQ(refused, 1);
    EXPECT_EQ(sock.LastError(), Value(10055, 2)) << "the refusal says why";
    EXPECT_LT(room(), 1000u);
    EXPECT_EQ(room() + pending(), 64u * 1024u);

    std::string got;
    ASSERT_TRUE(ReadWhilePumping(peerFd, got, [&] { return got.size() >= accepted && pending() == 0; }));
    Settle();
    ReadWhilePumping(peerFd, got, [] { return true; });
    ASSERT_EQ(got.size(), accepted) << "nothing more than the accepted messages";
    for (std::size_t at = 0; at < got.size(); at += 1000) ASSERT_EQ(got.compare(at, 1000, message), 0) << at;
    EXPECT_EQ(room(), 64u * 1024u) << "the room is back once everything has gone";
    EXPECT_EQ(send(message.data(), 1000), 1000);
}

TEST_F(sockets_on_loopback, a_send_that_does_not_fit_the_queue_is_refused_whole_and_the_connection_stays) {
    ScopedEnv small("VOSTREL_TEST_SEND_QUEUE_KB", "64");
    Server server;
    Fd peer = PlainConnect(server.port);
    ASSERT_TRUE(PumpUntil([&] { return server.sock.ClientCount() == 1; }));
    const std::uint32_t s = server.sock.GetClient(0)->Socket;
    CheckRefusedWhole(
        peer.fd, server.sock, [&](const char* p, int n) { return server.sock.SendData(s, p, n); },
        [&] { return server.sock.SendRoom(s); }, [&] { return server.sock.PendingBytes(s); });
    EXPECT_TRUE(server.errors.values.empty()) << "a full queue is no failure";
    EXPECT_EQ(server.sock.ClientCount(), 1);
    EXPECT_EQ(server.sock.SendRoom(12345), 0u) << "no such client";

    Fd listener = PlainListener();
    Client client;
    client.sock.Connect(kLoopback, LocalPort(listener.fd), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return client.sock.Connected(); }));
    Fd accepted(::accept(listener.fd, nullptr, nullptr));
    CheckRefusedWhole(
        accepted.fd, client.sock, [&](const char* p, int n) { return client.sock.SendData(p, n); },
        [&] { return client.sock.SendRoom(); }, [&] { return client.sock.PendingBytes(); });
    EXPECT_TRUE(client.errors.values.empty());
    EXPECT_TRUE(client.sock.Connected());
}

// CPU time this process has used, in seconds.
double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST_F(sockets_on_loopback, a_server_out_of_descriptors_keeps_its_clients_and_takes_newcomers_later) {
    Server server;
    std::vector<std::uint32_t> held;
    server.sock.OnAcceptHeld = [&](TTCPUDPCustomSocket*, std::uint32_t v) { held.push_back(v); };
    // The peers' sockets exist before the limit goes down: only two accepts
    // still fit.
    std::vector<Fd> peers;
    for (int i = 0; i < 6; ++i) peers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    test_support::DescriptorLimit limit(2, server.sock.Handle());
    ASSERT_TRUE(limit.Set());

    for (Fd& p : peers) {
        sockaddr_in a = Loopback(server.port);
        ::connect(p.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ASSERT_TRUE(PumpUntil([&] { return server.sock.AcceptHeld(); }));
    EXPECT_GE(server.sock.ClientCount(), 1);
    EXPECT_LE(server.sock.ClientCount(), 2);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0], Value(10024, 9));
    EXPECT_EQ(SocketErrorText(held[0]), "Connect: Too many open files");

    // Waiting spans a retry or two: nothing is closed, nothing told again,
    // and the server does not spin on the listener that stays ready.
    const int kept = server.sock.ClientCount();
    const double cpu = CpuSeconds();
    test_support::Pump(std::chrono::milliseconds(1200));
    EXPECT_LT(CpuSeconds() - cpu, 0.6) << "no busy loop while newcomers wait";
    EXPECT_EQ(server.sock.ClientCount(), kept);
    EXPECT_EQ(held.size(), 1u);
    EXPECT_TRUE(server.errors.values.empty()) << "the server itself is fine";
    EXPECT_TRUE(server.disconnected.empty());
    EXPECT_TRUE(server.sock.Opened());
    // Accepting never takes the last descriptors: the rest of the program
    // (the event loop's own) still gets some.
    Fd probe(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    EXPECT_GE(probe.fd, 0) << "descriptors are left for the rest of the program";
    probe = Fd();

    // A client leaving frees a descriptor: the next newcomer is taken, and
    // the limit, still there, is told again once.
    server.sock.DisconnectClient(server.sock.GetClient(0)->Socket);
    ASSERT_TRUE(PumpUntil([&] { return static_cast<int>(server.connected.size()) == kept + 1; }));
    ASSERT_TRUE(PumpUntil([&] { return held.size() == 2u; }));

    // With the limit gone every waiting newcomer comes in.
    limit.Lift();
    ASSERT_TRUE(PumpUntil([&] { return server.connected.size() == peers.size(); }));
    EXPECT_FALSE(server.sock.AcceptHeld());
    EXPECT_TRUE(server.errors.values.empty());
    EXPECT_EQ(held.size(), 2u);
}

TEST_F(sockets_on_loopback, an_event_may_free_its_socket) {
    // Each case frees the object from inside its own notification; the
    // sanitizer watches that nothing of it is touched afterwards.
    {
        auto udp = std::make_unique<TUDPSocket>();
        udp->OnReceive = [&](TTCPUDPCustomSocket*, std::uint32_t, std::uint16_t, const void*, int) { udp.reset(); };
        udp->Listen(0);
        Fd peer = PlainUdp();
        sockaddr_in to = Loopback(SocketPort(udp->Socket()));
        ::sendto(peer.fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ASSERT_TRUE(PumpUntil([&] { return !udp; }));
    }
    {
        auto server = std::make_unique<TTCPServerSocket>();
        server->OnReceive = [&](TTCPUDPCustomSocket*, TClientRec*, const void*, int) { server.reset(); };
        server->OnDisconnect = [](TTCPUDPCustomSocket*, TClientRec*) {};
        server->Listen(0, kLoopback);
        Fd peer = PlainConnect(SocketPort(server->Socket()));
        ::send(peer.fd, "x", 1, 0);
        ASSERT_TRUE(PumpUntil([&] { return !server; }));
    }
    {
        auto server = std::make_unique<TTCPServerSocket>();
        server->OnDisconnect = [&](TTCPUDPCustomSocket*, TClientRec* c) {
            EXPECT_NE(c->Socket, 0u);
            server.reset();
        };
        server->Listen(0, kLoopback);
        Fd peer = PlainConnect(SocketPort(server->Socket()));
        ASSERT_TRUE(PumpUntil([&] { return server->ClientCount() == 1; }));
        peer = Fd();
        ASSERT_TRUE(PumpUntil([&] { return !server; }));
    }
    {
        auto client = std::make_unique<TTCPClientSocket>();
        client->OnConnect = [&](TTCPUDPCustomSocket*) { client.reset(); };
        client->Connect(kLoopback, ClosedPort(), 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return !client; }));
    }
    {
        Fd listener = PlainListener();
        auto client = std::make_unique<TTCPClientSocket>();
        client->OnDisconnect = [&](TTCPUDPCustomSocket*) { client.reset(); };
        client->Connect(kLoopback, LocalPort(listener.fd), 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return client->Connected(); }));
        { Fd closed(::accept(listener.fd, nullptr, nullptr)); }
        ASSERT_TRUE(PumpUntil([&] { return !client; }));
    }
    {
        Fd listener = PlainListener();
        auto client = std::make_unique<TTCPClientSocket>();
        client->OnError = [&](TTCPUDPCustomSocket*, std::uint32_t) { client.reset(); };
        client->Connect(kLoopback, LocalPort(listener.fd), 0, 0);
        EXPECT_EQ(client->SendData("x", 1), 0);  // frees the client inside OnError
        EXPECT_FALSE(client);
    }
    {
        // The time-out's error handler frees the client from inside the timer.
        Fd listener = PlainListener(0);
        std::vector<Fd> fillers;
        for (int i = 0; i < 3; ++i) fillers.push_back(PlainConnect(LocalPort(listener.fd), true));
        ASSERT_TRUE(test_support::WaitForFullAcceptQueue(listener.fd));
        auto client = std::make_unique<TTCPClientSocket>();
        client->OnError = [&](TTCPUDPCustomSocket*, std::uint32_t) { client.reset(); };
        client->Connect(kLoopback, LocalPort(listener.fd), 0, 0);
        win::PostMessage(client->Handle(), win::WM_TIMER, ConnectTimerId, 0);
        ASSERT_TRUE(PumpUntil([&] { return !client; }));
    }
    Settle();
}

TEST_F(sockets_on_loopback, destroying_the_server_disconnects_its_clients_last_first) {
    auto server = std::make_unique<Server>();
    Fd a = PlainConnect(server->port);
    Fd b = PlainConnect(server->port);
    ASSERT_TRUE(PumpUntil([&] { return server->sock.ClientCount() == 2; }));
    std::vector<std::uint32_t> gone;
    server->sock.OnDisconnect = [&](TTCPUDPCustomSocket*, TClientRec* c) { gone.push_back(c->Socket); };
    std::uint32_t lower = server->sock.GetClient(0)->Socket;
    std::uint32_t higher = server->sock.GetClient(1)->Socket;
    server.reset();
    EXPECT_EQ(gone, (std::vector<std::uint32_t>{higher, lower}));
    char byte;
    EXPECT_EQ(::recv(a.fd, &byte, 1, 0), 0) << "the connection is closed";
}

TEST_F(sockets_on_loopback, the_client_list_holds_at_most_2048) {
    rlimit lim{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &lim), 0);
    rlimit raised = lim;
    raised.rlim_cur = std::min<rlim_t>(lim.rlim_max, 8192);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &raised), 0);
    if (raised.rlim_cur < 4200) GTEST_SKIP() << "the system allows too few descriptors";

    Server server;
    std::vector<Fd> peers;
    peers.reserve(MaxServerClients + 1);
    // In small batches: the listening queue holds only a few at a time.
    while (static_cast<int>(peers.size()) < MaxServerClients) {
        for (int i = 0; i < 4 && static_cast<int>(peers.size()) < MaxServerClients; ++i)
            peers.push_back(PlainConnect(server.port, true));
        ASSERT_TRUE(PumpUntil([&] { return server.sock.ClientCount() == static_cast<int>(peers.size()); }));
    }
    EXPECT_TRUE(server.errors.values.empty());
    peers.push_back(PlainConnect(server.port, true));
    ASSERT_TRUE(PumpUntil([&] { return !server.errors.values.empty(); }));
    EXPECT_EQ(server.errors.values[0], Value(12007, 9));
    EXPECT_EQ(server.sock.ClientCount(), MaxServerClients);
    char byte;
    ASSERT_TRUE(PumpUntil([&] { return ::recv(peers.back().fd, &byte, 1, 0) == 0; })) << "closed at once";
    for (int i = 0; i + 1 < server.sock.ClientCount(); ++i)
        ASSERT_LT(server.sock.GetClient(i)->Socket, server.sock.GetClient(i + 1)->Socket);

    peers.clear();
    ASSERT_TRUE(PumpUntil([&] { return server.sock.ClientCount() == 0; }, 30000));
    EXPECT_EQ(server.disconnected.size(), static_cast<std::size_t>(MaxServerClients));
    ::setrlimit(RLIMIT_NOFILE, &lim);
}

TEST_F(sockets_on_loopback, nothing_is_left_open_after_destroying_everything) {
    Settle();
    int before = OpenDescriptors();
    {
        Server server;
        TUDPSocket udp;
        udp.OnError = server.errors.Handler();
        udp.Listen(0);
        Client client;
        client.sock.Connect(kLoopback, server.port, 0, 0);
        Fd plain = PlainConnect(server.port);
        ASSERT_TRUE(PumpUntil([&] { return client.sock.Connected() && server.sock.ClientCount() == 2; }));
        // A peer that left: its record goes, and its descriptor with it.
        plain = Fd();
        ASSERT_TRUE(PumpUntil([&] { return server.sock.ClientCount() == 1; }));
        // Connecting again replaces the socket of the earlier attempt.
        Client retry;
        retry.sock.Connect(kLoopback, ClosedPort(), 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return retry.connects == 1; }));
        retry.sock.Connect(kLoopback, ClosedPort(), 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return retry.connects == 2; }));
        udp.Listen(0);
        server.sock.Listen(0, kLoopback);
        EXPECT_TRUE(server.errors.values.empty());
    }
    Settle();
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace ports
