#include "ports/ethernet_port.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/graphics.h"
#include "support/loopback.h"
#include "support/qt_app.h"

namespace ports {
namespace {

using namespace std::chrono_literals;

// ---- plain sockets of the test's own, playing the far side ----

class Peer {
public:
    explicit Peer(int fd = -1) : fd_(fd) {}
    Peer(Peer&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Peer& operator=(Peer&& o) noexcept {
        std::swap(fd_, o.fd_);
        return *this;
    }
    ~Peer() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

using test_support::LoopbackAddress;

using test_support::BoundPort;

Peer BoundSocket(int type, std::uint16_t port) {
    Peer s(::socket(AF_INET, type, 0));
    sockaddr_in a = LoopbackAddress(port);
    if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Peer();
    return s;
}

using test_support::FreePort;

Peer ConnectTo(std::uint16_t port, bool nonBlocking = false) {
    Peer s(::socket(AF_INET, SOCK_STREAM | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
    sockaddr_in a = LoopbackAddress(port);
    int r = ::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    EXPECT_TRUE(r == 0 || (nonBlocking && errno == EINPROGRESS)) << "connect to " << port;
    return s;
}

// Closes with a reset instead of an orderly end.
void ResetAndClose(Peer& s) {
    linger l{1, 0};
    ::setsockopt(s.fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    s = Peer();
}

void SendText(const Peer& s, const std::string& text) {
    ASSERT_EQ(::send(s.fd(), text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
}

void SendDatagram(const Peer& s, std::uint16_t port, const std::string& text) {
    sockaddr_in to = LoopbackAddress(port);
    ASSERT_EQ(::sendto(s.fd(), text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(text.size()));
}

// Whatever is there to read without waiting; "<eof>" for an orderly end.
std::string ReadNow(const Peer& s) {
    char buf[4096];
    ssize_t n = ::recv(s.fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0) return "<eof>";
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

using test_support::OpenDescriptors;

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds bound = 10s) {
    return test_support::PumpUntil(done, bound);
}

// Lets queued notifications arrive, for checks that something did NOT come.
void Settle() { test_support::Pump(50ms); }

// ---- the owner ----

struct Event {
    int code;
    std::string text;
    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Event& e) { return os << e.code << ":\"" << e.text << '"'; }

std::string Data(int index, const std::string& bytes) { return std::string(1, static_cast<char>(index)) + bytes; }

// Records every callback, and for each chunk of data the origin the port
// tells with it (who sent it, and the line that names that peer); `also`
// runs after recording (to free the port, say).
struct Owner {
    std::vector<Event> events;
    std::vector<TForeignPort::TDataOrigin> origins;  // one per event; empty but for data
    std::function<void(const Event&)> also;
    const TForeignPort* port = nullptr;

    TForeignPortEvent Handler() {
        return [this](int code, const std::string& text, std::string&) {
            events.push_back({code, text});
            origins.push_back(code == fpeData && port ? port->DataOrigin() : TForeignPort::TDataOrigin{});
            if (also) also(events.back());
        };
    }
    void Clear() {
        events.clear();
        origins.clear();
    }
    // The origin told with the data event e at or after `from` (Key 0 and no
    // line when it did not come).
    TForeignPort::TDataOrigin OriginOf(const Event& e, std::size_t from = 0) const {
        const int at = Find(e, from);
        return at < 0 ? TForeignPort::TDataOrigin{} : origins[static_cast<std::size_t>(at)];
    }
    // Position of the event at or after `from`, -1 when it did not come.
    int Find(const Event& e, std::size_t from = 0) const {
        auto it = std::find(events.begin() + static_cast<std::ptrdiff_t>(std::min(from, events.size())), events.end(), e);
        return it == events.end() ? -1 : static_cast<int>(it - events.begin());
    }
    bool Has(const Event& e, std::size_t from = 0) const { return Find(e, from) >= 0; }
    std::vector<Event> Since(std::size_t from, int code) const {
        std::vector<Event> out;
        for (std::size_t i = from; i < events.size(); ++i)
            if (events[i].code == code) out.push_back(events[i]);
        return out;
    }
    bool WaitFor(const Event& e, std::size_t from = 0) {
        return PumpUntil([&] { return Has(e, from); });
    }
};

class ethernet_port_on_loopback : public ::testing::Test {
protected:
    void SetUp() override { test_support::EnsureQtApplication(); }

    // A port with the given settings text (none: the defaults); not yet active.
    std::unique_ptr<TEthernetPort> MakePort(const std::string& settings) {
        auto port = std::make_unique<TEthernetPort>(EthernetPortId, owner.Handler());
        owner.port = port.get();
        if (!settings.empty()) port->SetSettings(settings);
        return port;
    }
    static std::uint16_t TransportPort(const TEthernetPort& port) {
        return test_support::SocketPort(port.Transport()->Socket());
    }

    Owner owner;
};

// ---- addresses, the frame and its settings ----

TEST(ethernet_port, str_to_ip_reads_four_parts_first_into_the_lowest_byte) {
    EXPECT_EQ(TEthernetPort::StrToIP("127.0.0.1"), 0x0100007Fu);
    EXPECT_EQ(IPToStr(TEthernetPort::StrToIP("10.20.30.255")), "10.20.30.255");
    for (const char* bad : {"10.0.0.300", "1.2.3", "1.2.3.4.5", "", "-1.0.0.0"}) {
        try {
            TEthernetPort::StrToIP(bad);
            ADD_FAILURE() << bad << " was accepted";
        } catch (const rtl::EConvertError& e) {
            ADD_FAILURE() << bad << " gave a conversion error: " << e.Message;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message, "Wrong IP address format") << bad;
        }
    }
    EXPECT_THROW(TEthernetPort::StrToIP("1.a.3.4"), rtl::EConvertError);
    EXPECT_THROW(TEthernetPort::StrToIP("1.2.3."), rtl::EConvertError);
}

TEST_F(ethernet_port_on_loopback, the_frame_holds_four_checked_parameters_and_a_settings_text) {
    auto port = MakePort("");
    TfrmForPEth* f = port->EthFrame();
    EXPECT_EQ(TEthernetPort::GetName(), "Ethernet");
    EXPECT_EQ(f->ParamCount(), 4);
    EXPECT_EQ(port->GetSettings(), "0|127.0.0.1|0|0");
    std::string s;
    f->GetParamName(3, s);
    EXPECT_EQ(s, "Local Port");
    EXPECT_THROW(f->GetParamName(4, s), rtl::Exception);
    try {
        f->GetParam(6, s, false);
        ADD_FAILURE() << "index 6 was accepted";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "TfrmForPEth: Bad param idx (6)");
    }

    // Every field edited tells the owner; a bad value turns its field yellow.
    owner.Clear();
    f->edDstPort->SetText("65536");
    EXPECT_EQ(f->GetParam(epDstPort, s, false), psInvalid);
    EXPECT_EQ(f->edDstPort->Color(), vcl::clYellow);
    EXPECT_EQ(owner.events, (std::vector<Event>{{fpeSettingsChanged, ""}}));
    f->edDstPort->SetText("65535");
    EXPECT_EQ(f->GetParam(epDstPort, s, false), psValid);
    EXPECT_EQ(f->edDstPort->Color(), vcl::clWindow);
    f->edDstIp->SetText("1.2.3");
    EXPECT_EQ(f->GetParam(epDstIp, s, false), psInvalid);

    // The server role hides the destination; the client role the local port.
    port->SetSettings("2|10.0.0.1|5|6");
    EXPECT_EQ(port->GetSettings(), "2|10.0.0.1|5|6");
    EXPECT_EQ(f->GetParam(epRole, s, true), psValid);
    EXPECT_EQ(s, "TCPSrv");
    EXPECT_EQ(f->GetParam(epDstIp, s, false), psHidden);
    EXPECT_EQ(f->GetParam(epLocalPort, s, false), psValid);
    port->SetSettings("1");
    EXPECT_EQ(f->GetParam(epDstPort, s, false), psValid);
    EXPECT_EQ(f->GetParam(epLocalPort, s, false), psHidden);
    EXPECT_FALSE(f->lblLocalPort->Visible());
    port->SetSettings("7");
    EXPECT_EQ(f->GetParam(epRole, s, true), psInvalid);
    EXPECT_EQ(s, "-1");
    EXPECT_EQ(f->GetParam(epDstIp, s, false), psHidden);
    EXPECT_EQ(f->GetParam(epLocalPort, s, false), psHidden);
    EXPECT_THROW(port->SetActive(true), rtl::Exception);
    EXPECT_FALSE(port->Active());
    EXPECT_EQ(f->GetParam(epCurClient, s, false), psHidden);
}

TEST_F(ethernet_port_on_loopback, the_class_table_makes_ethernet_ports_under_257) {
    RegisterEthernetPort();
    RegisterEthernetPort();  // once is enough; again changes nothing
    const int at = ForeignClassIndex(EthernetPortId, true);
    const TForeignPortClass& cls = ForeignPortClasses()[static_cast<std::size_t>(at)].Class;
    EXPECT_EQ(cls.GetName(), "Ethernet");
    EXPECT_TRUE(cls.IsAvailable());
    TForeignPortPtr port = cls.Create(EthernetPortId, owner.Handler());
    ASSERT_NE(dynamic_cast<TEthernetPort*>(port.get()), nullptr);
    EXPECT_EQ(port->Id(), 257);
    EXPECT_EQ(std::to_string(port->Id()) + "|" + port->GetSettings(), "257|0|127.0.0.1|0|0");
}

// ---- UDP ----

TEST_F(ethernet_port_on_loopback, udp_sends_to_its_destination_and_delivers_datagrams_as_client_1) {
    Peer listener = BoundSocket(SOCK_DGRAM, 0);
    const std::uint16_t listenPort = BoundPort(listener.fd());
    const std::uint16_t localPort = FreePort(SOCK_DGRAM);
    ASSERT_GE(listener.fd(), 0);
    ASSERT_NE(localPort, 0);
    auto port = MakePort("0|127.0.0.1|" + std::to_string(listenPort) + "|" + std::to_string(localPort));
    port->SetActive(true);
    ASSERT_TRUE(port->Active());
    TfrmForPEth* f = port->EthFrame();
    EXPECT_FALSE(f->cbbRole->Enabled());
    EXPECT_TRUE(f->edDstIp->Enabled()) << "a running UDP port may change its destination";
    EXPECT_FALSE(f->edLocalPort->Enabled());
    EXPECT_FALSE(f->edCurCliIdx->Visible());
    ASSERT_FALSE(owner.events.empty());
    EXPECT_EQ(owner.events.back(), (Event{fpeInfo, "Start UDP (listen port " + std::to_string(localPort) + ")"}));
    EXPECT_TRUE(owner.Since(0, fpeError).empty());

    EXPECT_EQ(port->Send("AB", 2), 2);
    EXPECT_EQ(owner.events.back(), (Event{fpeSendInfo, "UDP send to 127.0.0.1:" + std::to_string(listenPort)}));
    std::string got;
    ASSERT_TRUE(PumpUntil([&] { return !(got = ReadNow(listener)).empty(); }));
    EXPECT_EQ(got, "AB");
    std::size_t mark = owner.events.size();
    EXPECT_EQ(port->Send("C", 1), 1);
    EXPECT_TRUE(owner.Since(mark, fpeSendInfo).empty()) << "the same target is announced once";

    Peer peer = BoundSocket(SOCK_DGRAM, 0);
    const std::string peerText = "127.0.0.1:" + std::to_string(BoundPort(peer.fd()));
    mark = owner.events.size();
    SendDatagram(peer, localPort, "xyz");
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, "xyz")}, mark));
    const TForeignPort::TDataOrigin sender = owner.OriginOf({fpeData, Data(1, "xyz")}, mark);
    EXPECT_EQ(sender.Line, "UDP data from " + peerText + ":");
    EXPECT_NE(sender.Key, 0u) << "a datagram's sender is a peer to be named";
    // Bytes pass untouched, format characters and zeros included.
    mark = owner.events.size();
    SendDatagram(peer, localPort, std::string("%s%d\0!", 6));
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, std::string("%s%d\0!", 6))}, mark));
    EXPECT_EQ(owner.OriginOf({fpeData, Data(1, std::string("%s%d\0!", 6))}, mark).Key, sender.Key)
        << "the same sender is the same peer";

    // While paused nothing is read: the datagram waits with the system and
    // comes once reception goes on.
    port->PauseRx();
    mark = owner.events.size();
    SendDatagram(peer, localPort, "held");
    Settle();
    EXPECT_TRUE(owner.Since(mark, fpeData).empty());
    port->ResumeRx();
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, "held")}, mark));

    mark = owner.events.size();
    port->SetActive(false);
    EXPECT_FALSE(port->Active());
    EXPECT_EQ(std::vector<Event>(owner.events.begin() + static_cast<std::ptrdiff_t>(mark), owner.events.end()),
              (std::vector<Event>{{fpeInfo, "Close Socket"}, {fpeRefresh, ""}}));
    EXPECT_EQ(port->Send("AB", 2), 0);
}

TEST_F(ethernet_port_on_loopback, udp_without_destination_replies_to_the_last_sender) {
    auto port = MakePort("0|0.0.0.0|0|0");
    port->SetActive(true);
    ASSERT_TRUE(port->Active());
    const std::uint16_t localPort = TransportPort(*port);
    EXPECT_EQ(owner.events.back(), (Event{fpeInfo, "Start UDP (listen port 0)"}));

    Peer first = BoundSocket(SOCK_DGRAM, 0);
    Peer second = BoundSocket(SOCK_DGRAM, 0);
    std::vector<std::uint64_t> senders;
    for (Peer* peer : {&first, &second}) {
        const std::string peerText = "127.0.0.1:" + std::to_string(BoundPort(peer->fd()));
        const std::size_t mark = owner.events.size();
        SendDatagram(*peer, localPort, "ping");
        ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, "ping")}, mark));
        // Both come as client 1; each sender is a peer of its own.
        const TForeignPort::TDataOrigin origin = owner.OriginOf({fpeData, Data(1, "ping")}, mark);
        EXPECT_EQ(origin.Line, "UDP data from " + peerText + ":");
        senders.push_back(origin.Key);
        EXPECT_EQ(port->Send("pong", 4), 4);
        EXPECT_EQ(owner.events.back(), (Event{fpeSendInfo, "UDP send to " + peerText}));
        std::string got;
        ASSERT_TRUE(PumpUntil([&] { return !(got = ReadNow(*peer)).empty(); }));
        EXPECT_EQ(got, "pong");
    }
    EXPECT_NE(senders[0], senders[1]);
    // An empty send announces nothing.
    std::size_t mark = owner.events.size();
    EXPECT_EQ(port->Send("", 0), 0);
    EXPECT_EQ(owner.events.size(), mark);

    // A destination typed in while running takes over at the next send.
    Peer listener = BoundSocket(SOCK_DGRAM, 0);
    port->EthFrame()->edDstPort->SetText(std::to_string(BoundPort(listener.fd())));
    port->EthFrame()->edDstIp->SetText("127.0.0.1");
    EXPECT_EQ(port->Send("there", 5), 5);
    EXPECT_EQ(owner.events.back(), (Event{fpeSendInfo, "UDP send to 127.0.0.1:" + std::to_string(BoundPort(listener.fd()))}));
    std::string got;
    ASSERT_TRUE(PumpUntil([&] { return !(got = ReadNow(listener)).empty(); }));
    EXPECT_EQ(got, "there");
}

// ---- TCP client ----

TEST_F(ethernet_port_on_loopback, tcp_client_refused_reports_it_and_frees_the_port) {
    Settle();
    const int before = OpenDescriptors();
    const std::uint16_t closed = FreePort(SOCK_STREAM);
    auto port = MakePort("1|127.0.0.1|" + std::to_string(closed) + "|0");
    owner.Clear();
    port->SetActive(true);
    EXPECT_EQ(owner.events.back(),
              (Event{fpeInfo, "Start TCP Client (connect to 127.0.0.1:" + std::to_string(closed) + ")"}));
    ASSERT_TRUE(PumpUntil([&] { return !port->Active(); }));
    EXPECT_EQ(owner.events, (std::vector<Event>{
                                {fpeInfo, "Start TCP Client (connect to 127.0.0.1:" + std::to_string(closed) + ")"},
                                {fpeError, "Connect (Connection refused)"},
                                {fpeInfo, "Close Socket"},
                                {fpeRefresh, ""},
                            }));
    EXPECT_EQ(port->Transport(), nullptr);
    EXPECT_EQ(port->Send("x", 1), 0);
    Settle();
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(ethernet_port_on_loopback, tcp_client_exchanges_data_and_reports_either_side_closing) {
    Peer listener = BoundSocket(SOCK_STREAM, 0);
    ASSERT_EQ(::listen(listener.fd(), 5), 0);
    const std::uint16_t listenPort = BoundPort(listener.fd());
    auto port = MakePort("1|127.0.0.1|" + std::to_string(listenPort) + "|0");

    // Sending before the connection stands fails and closes the port.
    port->SetActive(true);
    EXPECT_EQ(port->Send("early", 5), 0);
    EXPECT_TRUE(owner.Has({fpeError, "Error: SendData: Socket not bound"}));
    EXPECT_FALSE(port->Active());
    Peer stale(::accept(listener.fd(), nullptr, nullptr));

    owner.Clear();
    port->SetActive(true);
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Connect (No error)"}));
    Peer far(::accept(listener.fd(), nullptr, nullptr));
    ASSERT_GE(far.fd(), 0);
    EXPECT_EQ(port->Send("hello", 5), 5);
    std::string got;
    ASSERT_TRUE(PumpUntil([&] { return (got += ReadNow(far)).size() >= 5; }));
    EXPECT_EQ(got, "hello");
    SendText(far, "back");
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, "back")}));
    EXPECT_EQ(owner.OriginOf({fpeData, Data(1, "back")}).Key, 0u) << "the one far side needs no name";

    // The far side ends the connection: an error line, and the port closes.
    std::size_t mark = owner.events.size();
    far = Peer();
    ASSERT_TRUE(PumpUntil([&] { return !port->Active(); }));
    EXPECT_EQ(std::vector<Event>(owner.events.begin() + static_cast<std::ptrdiff_t>(mark), owner.events.end()),
              (std::vector<Event>{{fpeError, "Disconnect (No error)"}, {fpeInfo, "Close Socket"}, {fpeRefresh, ""}}));

    // The port's own close: the disconnect is only information.
    port->SetActive(true);
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Connect (No error)"}, mark + 3));
    Peer again(::accept(listener.fd(), nullptr, nullptr));
    mark = owner.events.size();
    port->SetActive(false);
    EXPECT_EQ(std::vector<Event>(owner.events.begin() + static_cast<std::ptrdiff_t>(mark), owner.events.end()),
              (std::vector<Event>{{fpeInfo, "Close Socket"}, {fpeInfo, "Disconnect (No error)"}, {fpeRefresh, ""}}));
    ASSERT_TRUE(PumpUntil([&] { return ReadNow(again) == "<eof>"; }));
}

TEST_F(ethernet_port_on_loopback, tcp_client_gives_up_a_connect_that_never_completes) {
    // A listener whose queue is full lets further connects hang unanswered.
    Peer listener = BoundSocket(SOCK_STREAM, 0);
    ASSERT_EQ(::listen(listener.fd(), 0), 0);
    const std::uint16_t listenPort = BoundPort(listener.fd());
    std::vector<Peer> fillers;
    for (int i = 0; i < 4; ++i) fillers.push_back(ConnectTo(listenPort, true));
    ASSERT_TRUE(test_support::WaitForFullAcceptQueue(listener.fd()));
    auto port = MakePort("1|127.0.0.1|" + std::to_string(listenPort) + "|0");
    port->SetActive(true);
    ASSERT_TRUE(PumpUntil([&] { return !port->Active(); }, 15s));
    const int found = owner.Find({fpeError, "Error: Connect: Connection timed out"});
    ASSERT_GE(found, 0) << "no time-out was reported";
    const auto at = static_cast<std::size_t>(found);
    ASSERT_LT(at + 2, owner.events.size());
    EXPECT_EQ(owner.events[at + 1], (Event{fpeInfo, "Close Socket"}));
    EXPECT_EQ(owner.events[at + 2], (Event{fpeRefresh, ""}));
    EXPECT_FALSE(owner.Has({fpeInfo, "Connect (No error)"}));
}

TEST_F(ethernet_port_on_loopback, a_reset_is_reported_and_only_the_reset_connection_goes) {
    // The client role: the far side resets, the port reports it and closes.
    Peer listener = BoundSocket(SOCK_STREAM, 0);
    ASSERT_EQ(::listen(listener.fd(), 5), 0);
    auto client = MakePort("1|127.0.0.1|" + std::to_string(BoundPort(listener.fd())) + "|0");
    client->SetActive(true);
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Connect (No error)"}));
    Peer far(::accept(listener.fd(), nullptr, nullptr));
    ResetAndClose(far);
    ASSERT_TRUE(PumpUntil([&] { return !client->Active(); }));
    EXPECT_TRUE(owner.Has({fpeError, "Disconnect (Connection reset by peer)"}));
    EXPECT_TRUE(owner.Has({fpeInfo, "Close Socket"}));

    // The server role: a client that resets leaves; the server and the other client stay.
    auto server = MakePort("2|127.0.0.1|0|0");
    server->SetActive(true);
    const std::uint16_t serverPort = TransportPort(*server);
    Peer a = ConnectTo(serverPort);
    ASSERT_TRUE(PumpUntil([&] { return server->EthFrame()->lblCCInfo->Caption() == "Clients: 1"; }));
    Peer b = ConnectTo(serverPort);
    ASSERT_TRUE(PumpUntil([&] { return server->EthFrame()->lblCCInfo->Caption() == "Clients: 2"; }));
    ResetAndClose(a);
    // The reset is named on the line; a normal close keeps the plain text.
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Disconnect CliIdx=1 (cnt=1): Connection reset by peer"}));
    EXPECT_TRUE(server->Active());
    const std::size_t mark = owner.events.size();
    SendText(b, "still");
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(2, "still")}, mark));
    b = Peer();
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Disconnect CliIdx=2 (cnt=0)"}, mark));
}

TEST_F(ethernet_port_on_loopback, udp_drops_not_yet_told_when_the_port_closes_are_told_before_the_close) {
    auto port = MakePort("0|0.0.0.0|0|0");
    port->SetActive(true);
    const std::uint16_t listen = TransportPort(*port);
    Peer peer = BoundSocket(SOCK_DGRAM, 0);
    long received = 0;
    owner.also = [&](const Event& e) { received += e.code == fpeData ? 1 : 0; };
    auto told = [&] {
        long n = 0;
        for (const Event& e : owner.events) {
            long count = 0;
            if (e.code == fpeError && std::sscanf(e.text.c_str(), "Error: Receive: %ld datagram", &count) == 1) n += count;
        }
        return n;
    };
    const sockaddr_in to = LoopbackAddress(listen);
    auto burst = [&] {
        for (int i = 0; i < 2000; ++i) ::sendto(peer.fd(), "D", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    // The first drops are told at once; those noted right after wait for
    // the next report, which the close makes.
    burst();
    ASSERT_TRUE(PumpUntil([&] { return told() > 0; }));
    const long before = received;
    burst();
    const long dropped = test_support::UdpDrops(listen);
    ASSERT_TRUE(PumpUntil([&] { return received > before; }));
    port->SetActive(false);
    EXPECT_EQ(told(), dropped);
    const int close = owner.Find({fpeInfo, "Close Socket"});
    ASSERT_GE(close, 0);
    for (std::size_t i = static_cast<std::size_t>(close); i < owner.events.size(); ++i)
        EXPECT_NE(owner.events[i].code, fpeError) << "nothing is told after the close";
    owner.also = nullptr;
}

// ---- TCP server ----

TEST_F(ethernet_port_on_loopback, tcp_server_numbers_its_clients_and_sends_to_the_current_one) {
    auto port = MakePort("2|127.0.0.1|0|0");
    TfrmForPEth* f = port->EthFrame();
    port->SetActive(true);
    ASSERT_TRUE(port->Active());
    EXPECT_EQ(owner.events.back(), (Event{fpeInfo, "Start TCP Server (listen port 0)"}));
    EXPECT_TRUE(f->edCurCliIdx->Visible());
    EXPECT_TRUE(f->bDisconnClient->Visible());
    EXPECT_FALSE(f->cbbRole->Enabled());
    EXPECT_EQ(f->lblCCInfo->Caption(), "Clients: 0");
    EXPECT_EQ(f->lblCCInfo->Color(), 0x80FFFF);
    EXPECT_EQ(f->edCurCliIdx->Color(), vcl::clYellow) << "no client holds index 1 yet";
    const std::uint16_t serverPort = TransportPort(*port);

    Peer a = ConnectTo(serverPort);
    const std::string aText = "127.0.0.1:" + std::to_string(BoundPort(a.fd()));
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Connect from " + aText + " (Idx=1)"}));
    Peer b = ConnectTo(serverPort);
    const std::string bText = "127.0.0.1:" + std::to_string(BoundPort(b.fd()));
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Connect from " + bText + " (Idx=2)"}));
    EXPECT_EQ(f->lblCCInfo->Caption(), "Clients: 2");
    EXPECT_EQ(f->lblCCInfo->Color(), vcl::clBtnFace);
    EXPECT_EQ(f->edCurCliIdx->Color(), vcl::clWindow);

    // Each chunk tells its client: the line that names it (the current one
    // too), and a key that stays with the connection.
    std::size_t mark = owner.events.size();
    SendText(b, "from-b");
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(2, "from-b")}, mark));
    const TForeignPort::TDataOrigin fromB = owner.OriginOf({fpeData, Data(2, "from-b")}, mark);
    EXPECT_EQ(fromB.Line, "RV data from CliIdx=2");
    SendText(a, "from-a");
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, "from-a")}, mark));
    const TForeignPort::TDataOrigin fromA = owner.OriginOf({fpeData, Data(1, "from-a")}, mark);
    EXPECT_EQ(fromA.Line, "RV data from CliIdx=1");
    SendText(a, "again-a");
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, "again-a")}, mark));
    EXPECT_EQ(owner.OriginOf({fpeData, Data(1, "again-a")}, mark).Key, fromA.Key);
    EXPECT_NE(fromA.Key, 0u);
    EXPECT_NE(fromB.Key, 0u);
    EXPECT_NE(fromA.Key, fromB.Key);
    EXPECT_TRUE(owner.Since(0, fpeRecvInfo).empty()) << "the port leaves naming to its owner";

    std::string got;
    EXPECT_EQ(port->Send("to-a", 4), 4);
    ASSERT_TRUE(PumpUntil([&] { return !(got = ReadNow(a)).empty(); }));
    EXPECT_EQ(got, "to-a");
    f->SetParam(epCurClient, "2");
    EXPECT_EQ(port->CurrentClient(), 2);
    EXPECT_EQ(port->Send("to-b", 4), 4);
    ASSERT_TRUE(PumpUntil([&] { return !(got = ReadNow(b)).empty(); }));
    EXPECT_EQ(got, "to-b");
    EXPECT_EQ(ReadNow(a), "");

    // An index nobody holds: nothing is sent and the field says so.
    f->SetParam(epCurClient, "7");
    EXPECT_EQ(port->Send("lost", 4), 0);
    EXPECT_EQ(f->edCurCliIdx->Color(), vcl::clYellow);
    f->SetParam(epCurClient, "0");
    EXPECT_EQ(port->CurrentClient(), 0);
    EXPECT_EQ(port->Send("lost", 4), 0);

    // Paused, nothing is read: every client's bytes wait with the system
    // (seen there while the loop runs, so the port had its chance to read
    // them) and come, each under its client's name, once reception goes on.
    f->SetParam(epCurClient, "1");
    port->PauseRx();
    mark = owner.events.size();
    auto* server = static_cast<const TTCPServerSocket*>(port->Transport());
    auto socketOf = [&](int index) {
        for (int i = 0; i < server->ClientCount(); ++i)
            if (server->GetClient(i)->UserValue == index) return static_cast<win::SOCKET>(server->GetClient(i)->Socket);
        return win::SOCKET{0};
    };
    SendText(b, "kept-b");
    SendText(a, "kept-a");
    ASSERT_TRUE(PumpUntil([&] {
        return test_support::QueueOf(socketOf(1)).memory > 0 && test_support::QueueOf(socketOf(2)).memory > 0;
    }));
    Settle();
    EXPECT_TRUE(owner.Since(mark, fpeData).empty());
    port->ResumeRx();
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(2, "kept-b")}, mark));
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, "kept-a")}, mark));
    // In whichever order the system hands them over, each chunk tells its
    // own client.
    EXPECT_EQ(owner.OriginOf({fpeData, Data(2, "kept-b")}, mark).Key, fromB.Key);
    EXPECT_EQ(owner.OriginOf({fpeData, Data(1, "kept-a")}, mark).Key, fromA.Key);
    EXPECT_EQ(owner.OriginOf({fpeData, Data(2, "kept-b")}, mark).Line, "RV data from CliIdx=2");
    EXPECT_EQ(owner.OriginOf({fpeData, Data(1, "kept-a")}, mark).Line, "RV data from CliIdx=1");

    // The disconnect button drops the current client; its index is free again.
    mark = owner.events.size();
    f->bDisconnClient->Click();
    ASSERT_TRUE(owner.Has({fpeInfo, "Disconnect CliIdx=1 (cnt=1)"}, mark));
    ASSERT_TRUE(PumpUntil([&] { return ReadNow(a) == "<eof>"; }));
    EXPECT_EQ(f->edCurCliIdx->Color(), vcl::clYellow);
    Peer c = ConnectTo(serverPort);
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Connect from 127.0.0.1:" + std::to_string(BoundPort(c.fd())) + " (Idx=1)"}, mark));
    EXPECT_EQ(f->edCurCliIdx->Color(), vcl::clWindow);
    // The newcomer holds index 1 but is another peer.
    SendText(c, "from-c");
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, "from-c")}, mark));
    EXPECT_EQ(owner.OriginOf({fpeData, Data(1, "from-c")}, mark).Line, "RV data from CliIdx=1");
    EXPECT_NE(owner.OriginOf({fpeData, Data(1, "from-c")}, mark).Key, fromA.Key);

    // Closing the server lets every client go.
    mark = owner.events.size();
    port->SetActive(false);
    EXPECT_EQ(owner.events[mark], (Event{fpeInfo, "Close Socket"}));
    EXPECT_EQ(owner.Since(mark, fpeInfo).size(), 3u);
    EXPECT_TRUE(owner.Has({fpeRefresh, ""}, mark));
    EXPECT_FALSE(f->lblCCInfo->Visible());
    EXPECT_FALSE(f->edCurCliIdx->Visible());
    EXPECT_TRUE(f->cbbRole->Enabled());
    ASSERT_TRUE(PumpUntil([&] { return ReadNow(b) == "<eof>" && ReadNow(c) == "<eof>"; }));

    // Every start begins with client 1, even under a locked frame.
    port->SetActive(true);
    f->SetParam(epCurClient, "5");
    ASSERT_EQ(port->CurrentClient(), 5);
    port->SetActive(false);
    f->Lock(true);
    port->SetActive(true);
    f->Lock(false);
    EXPECT_EQ(port->CurrentClient(), 1);
    EXPECT_EQ(f->edCurCliIdx->Text(), "1");
}

// ---- an owner that frees the port from inside its callback ----

// The owner holds back one server client: that client's bytes wait at its
// socket while every other client's come; a newcomer given a held index is
// held as well; let go, the held bytes come, under their client's name.
TEST_F(ethernet_port_on_loopback, a_server_holds_back_one_client_while_the_others_go_on) {
    auto port = MakePort("2|127.0.0.1|0|0");
    port->SetActive(true);
    ASSERT_TRUE(port->Active());
    const std::uint16_t serverPort = TransportPort(*port);
    auto* server = static_cast<const TTCPServerSocket*>(port->Transport());
    auto socketOf = [&](int index) {
        for (int i = 0; i < server->ClientCount(); ++i)
            if (server->GetClient(i)->UserValue == index) return static_cast<win::SOCKET>(server->GetClient(i)->Socket);
        return win::SOCKET{0};
    };
    Peer a = ConnectTo(serverPort);
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Connect from 127.0.0.1:" + std::to_string(BoundPort(a.fd())) + " (Idx=1)"}));
    Peer b = ConnectTo(serverPort);
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Connect from 127.0.0.1:" + std::to_string(BoundPort(b.fd())) + " (Idx=2)"}));

    port->HoldClientRx(1, true);
    std::size_t mark = owner.events.size();
    SendText(a, "held-a");
    SendText(b, "free-b");
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(2, "free-b")}, mark));
    const std::uint64_t keyB = owner.OriginOf({fpeData, Data(2, "free-b")}, mark).Key;
    ASSERT_TRUE(PumpUntil([&] { return test_support::QueueOf(socketOf(1)).memory > 0; }));
    Settle();
    EXPECT_FALSE(owner.Has({fpeData, Data(1, "held-a")}, mark)) << "the held client was read";

    // Client 2 leaves and a newcomer takes its index while index 2 is held.
    port->HoldClientRx(2, true);
    b = Peer();
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Disconnect CliIdx=2 (cnt=1)"}, mark));
    Peer c = ConnectTo(serverPort);
    ASSERT_TRUE(owner.WaitFor({fpeInfo, "Connect from 127.0.0.1:" + std::to_string(BoundPort(c.fd())) + " (Idx=2)"}, mark));
    mark = owner.events.size();
    SendText(c, "held-c");
    ASSERT_TRUE(PumpUntil([&] { return test_support::QueueOf(socketOf(2)).memory > 0; }));
    Settle();
    EXPECT_TRUE(owner.Since(mark, fpeData).empty());

    port->HoldClientRx(1, false);
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, "held-a")}, mark));
    EXPECT_FALSE(owner.Has({fpeData, Data(2, "held-c")}, mark));
    port->HoldClientRx(2, false);
    ASSERT_TRUE(owner.WaitFor({fpeData, Data(2, "held-c")}, mark));
    // The newcomer is another peer under the same index.
    EXPECT_EQ(owner.OriginOf({fpeData, Data(1, "held-a")}, mark).Line, "RV data from CliIdx=1");
    const TForeignPort::TDataOrigin fromC = owner.OriginOf({fpeData, Data(2, "held-c")}, mark);
    EXPECT_EQ(fromC.Line, "RV data from CliIdx=2");
    EXPECT_NE(fromC.Key, keyB);
}

TEST_F(ethernet_port_on_loopback, the_owner_may_free_the_port_inside_any_callback) {
    struct Case {
        const char* what;
        std::function<void(TEthernetPort&, Peer&)> start;  // sets the port going
        Event trigger;                                     // the callback that frees it
    };
    Peer listener = BoundSocket(SOCK_STREAM, 0);
    ::listen(listener.fd(), 5);
    const std::uint16_t listenPort = BoundPort(listener.fd());
    const std::uint16_t closed = FreePort(SOCK_STREAM);
    const std::vector<Case> cases = {
        {"connect refused",
         [&](TEthernetPort& p, Peer&) { p.SetSettings("1|127.0.0.1|" + std::to_string(closed)); },
         {fpeError, "Connect (Connection refused)"}},
        {"close after refusal",
         [&](TEthernetPort& p, Peer&) { p.SetSettings("1|127.0.0.1|" + std::to_string(closed)); },
         {fpeInfo, "Close Socket"}},
        {"client data",
         [&](TEthernetPort& p, Peer& far) {
             p.SetSettings("1|127.0.0.1|" + std::to_string(listenPort));
             p.SetActive(true);
             far = Peer(::accept(listener.fd(), nullptr, nullptr));
             SendText(far, "bye");
         },
         {fpeData, Data(1, "bye")}},
        {"far side closed",
         [&](TEthernetPort& p, Peer& far) {
             p.SetSettings("1|127.0.0.1|" + std::to_string(listenPort));
             p.SetActive(true);
             far = Peer(::accept(listener.fd(), nullptr, nullptr));
             far = Peer();
         },
         {fpeError, "Disconnect (No error)"}},
        {"server client arrives",
         [&](TEthernetPort& p, Peer& far) {
             p.SetSettings("2|127.0.0.1|0|0");
             p.SetActive(true);
             far = ConnectTo(TransportPort(p));
         },
         {fpeInfo, "Connect from"}},
        {"udp datagram",
         [&](TEthernetPort& p, Peer& far) {
             p.SetSettings("0|127.0.0.1|1|0");
             p.SetActive(true);
             far = BoundSocket(SOCK_DGRAM, 0);
             SendDatagram(far, TransportPort(p), "u");
         },
         {fpeData, Data(1, "u")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        owner.Clear();
        std::unique_ptr<TEthernetPort> port = MakePort("");
        bool freed = false;
        owner.also = [&](const Event& e) {
            if (port && e.code == c.trigger.code && e.text.rfind(c.trigger.text, 0) == 0) {
                port.reset();
                freed = true;
            }
        };
        Peer far;
        c.start(*port, far);
        if (port && !port->Active()) port->SetActive(true);
        EXPECT_TRUE(PumpUntil([&] { return freed; })) << "the triggering callback did not come";
        Settle();
        owner.also = nullptr;
    }
}

// ---- many clients ----

TEST_F(ethernet_port_on_loopback, a_full_server_turns_away_the_2049th_client_and_keeps_the_others) {
    rlimit lim{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &lim), 0);
    rlimit raised = lim;
    raised.rlim_cur = std::min<rlim_t>(lim.rlim_max, 8192);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &raised), 0);
    if (raised.rlim_cur < 4300) GTEST_SKIP() << "the system allows too few descriptors";
    Settle();
    const int before = OpenDescriptors();
    {
        auto port = MakePort("2|127.0.0.1|0|0");
        int connects = 0;
        owner.also = [&](const Event& e) {
            if (e.code == fpeInfo && e.text.rfind("Connect from", 0) == 0) ++connects;
        };
        port->SetActive(true);
        const std::uint16_t serverPort = TransportPort(*port);
        std::vector<Peer> peers;
        peers.reserve(MaxServerClients + 1);
        // In small batches: the listening queue holds only five.
        while (static_cast<int>(peers.size()) < MaxServerClients) {
            for (int i = 0; i < 4 && static_cast<int>(peers.size()) < MaxServerClients; ++i)
                peers.push_back(ConnectTo(serverPort, true));
            ASSERT_TRUE(PumpUntil([&] { return connects == static_cast<int>(peers.size()); }));
        }
        EXPECT_TRUE(owner.Since(0, fpeError).empty());
        EXPECT_EQ(port->EthFrame()->lblCCInfo->Caption(), "Clients: 2048");
        // Indices run out after 255: the rest are numbered 0.
        int unnumbered = 0;
        for (const Event& e : owner.events) unnumbered += e.text.ends_with("(Idx=0)") ? 1 : 0;
        EXPECT_EQ(unnumbered, MaxServerClients - 255);
        EXPECT_TRUE(owner.Has({fpeInfo, "Connect from 127.0.0.1:" + std::to_string(BoundPort(peers[254].fd())) + " (Idx=255)"}));

        peers.push_back(ConnectTo(serverPort, true));
        ASSERT_TRUE(owner.WaitFor({fpeError, "Error: Connect: Connection list is full"}));
        ASSERT_TRUE(PumpUntil([&] { return ReadNow(peers.back()) == "<eof>"; })) << "the newcomer is let go";
        EXPECT_TRUE(port->Active());
        EXPECT_EQ(port->EthFrame()->lblCCInfo->Caption(), "Clients: 2048");

        // Those already there are still served, numbered or not.
        std::size_t mark = owner.events.size();
        SendText(peers.front(), "first");
        ASSERT_TRUE(owner.WaitFor({fpeData, Data(1, "first")}, mark));
        mark = owner.events.size();
        SendText(peers[MaxServerClients - 1], "last");
        ASSERT_TRUE(owner.WaitFor({fpeData, Data(0, "last")}, mark));
        EXPECT_EQ(owner.OriginOf({fpeData, Data(0, "last")}, mark).Line, "RV data from CliIdx=Unknown");
        EXPECT_EQ(port->Send("ok", 2), 2);
        std::string got;
        ASSERT_TRUE(PumpUntil([&] { return !(got = ReadNow(peers.front())).empty(); }));
        EXPECT_EQ(got, "ok");

        owner.also = nullptr;
        mark = owner.events.size();
        port->SetActive(false);
        EXPECT_EQ(owner.Since(mark, fpeInfo).size(), static_cast<std::size_t>(MaxServerClients) + 1);
        EXPECT_EQ(port->Transport(), nullptr);
        peers.clear();
    }
    Settle();
    EXPECT_EQ(OpenDescriptors(), before) << "every socket is freed";
    ::setrlimit(RLIMIT_NOFILE, &lim);
}

}  // namespace
}  // namespace ports
