// The Ethernet port through the main window: chosen in the main port list,
// set up in its frame, opened with the port button, fed by peers on
// 127.0.0.1 (UDP senders, TCP clients and servers, rude and silent ones, a
// flood) whose bytes end up in the receive panel, and answered through the
// transmit box. Closing is checked to leave no descriptor behind.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chart/engine/fast_line_series.h"
#include "e2e/plugin_window.h"
#include "support/dialog_answers.h"
#include "support/fifo_reader.h"
#include "support/file_contents.h"
#include "platform/vcl/file_text.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/timer.h"
#include "platform/win/message_window.h"
#include "ports/ethernet_port.h"
#include "support/loopback.h"
#include "support/main_window.h"
#include "support/qt_app.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "terminal/main_form.h"
#include "terminal/transmit_parser.h"
#include "support/processor_share.h"

namespace {

using terminal::TMain;
using test_support::FreePort;

// A UDP socket on 127.0.0.1 playing the far side.
struct Peer {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    Peer() {
        sockaddr_in a = test_support::LoopbackAddress(0);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    ~Peer() { ::close(fd); }
    std::uint16_t Port() const { return test_support::BoundPort(fd); }
    void SendTo(std::uint16_t port, const std::string& bytes) const {
        sockaddr_in a = test_support::LoopbackAddress(port);
        ASSERT_EQ(::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::string Receive() const {
        char buf[256];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }
};

// The local port of the open Ethernet port's socket.
std::uint16_t PortOf(TMain* m) {
    const auto* port = static_cast<ports::TEthernetPort*>(m->ForeignPort.get());
    return port && port->Transport() ? test_support::SocketPort(port->Transport()->Socket()) : 0;
}

struct EthernetWindow : test_support::MainWindow {
    std::vector<std::string>& messages = Messages;
    TMain*& m = main;

    // Graph: with the graph window (hidden until shown).
    explicit EthernetWindow(bool Graph = false) : test_support::BasicMainWindow<>({.Graph = Graph}) {
        m->RVPnlTime = 0;  // lines without a time stamp
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        const auto& lines = m->RxPanel->Lines();
        for (int i = 0; i < lines.LineCount(); ++i) out.push_back(lines.GetLine(i));
        return out;
    }
    bool Has(const std::string& text) const {
        for (const std::string& line : Lines())
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
};

TEST(ethernet_port_e2e, a_datagram_from_a_peer_reaches_the_panel_and_a_reply_goes_back) {
    EthernetWindow w;
    TMain* m = w.m;
    const int ethernet = m->ComNcb->Items().IndexOfObject(257);
    ASSERT_GT(ethernet, 0);
    m->ComNcb->SelectByUser(ethernet);
    ASSERT_TRUE(m->ForeignPort);
    auto* frame = static_cast<ports::TfrmForPEth*>(m->ForeignPort->Frame());
    EXPECT_EQ(frame->Parent(), m->pnlForPPrms);
    frame->edLocalPort->SetText("0");  // a port of the system's choice
    frame->edDstIp->SetText("0.0.0.0");  // no destination: replies go to the last sender
    m->mShowWrites->SetChecked(true);

    m->sbPort->Click();
    ASSERT_TRUE(m->ForeignPort->Active()) << (w.messages.empty() ? "" : w.messages.back());
    EXPECT_FALSE(m->sbPort->Down());
    EXPECT_TRUE(w.Has("Start UDP (listen port 0)"));
    const std::uint16_t listen = PortOf(m);
    ASSERT_NE(listen, 0);

    Peer peer;
    peer.SendTo(listen, "xyz");
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("78 79 7A"); }));
    EXPECT_TRUE(w.Has("UDP data from 127.0.0.1:" + std::to_string(peer.Port()) + ":"));
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 3u);

    // A second datagram from the same sender brings no second information line.
    peer.SendTo(listen, "!");
    ASSERT_TRUE(test_support::PumpUntil([&] { return m->PortSlots[terminal::PortSlotMain].RxCount == 4u; }));
    int info_lines = 0;
    for (const std::string& line : w.Lines())
        if (line.find("UDP data from") != std::string::npos) ++info_lines;
    EXPECT_EQ(info_lines, 1);

    // The reply is addressed to the peer, announced once.
    EXPECT_EQ(m->ForeignPort->Send("ok", 2), 2);
    EXPECT_TRUE(w.Has("UDP send to 127.0.0.1:" + std::to_string(peer.Port())));
    std::string reply;
    ASSERT_TRUE(test_support::PumpUntil([&] { return !(reply = peer.Receive()).empty(); }));
    EXPECT_EQ(reply, "ok");

    // The port button closes it again.
    m->sbPort->Click();
    EXPECT_FALSE(m->ForeignPort->Active());
    EXPECT_TRUE(m->sbPort->Down());
    EXPECT_TRUE(w.Has("Close Socket"));
    EXPECT_EQ(m->ComNcb->Tag, 1);
    EXPECT_TRUE(w.messages.empty());
}

// A TCP connection from 127.0.0.1 to a local port, playing a far client.
struct TcpPeer {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    explicit TcpPeer(std::uint16_t port) {
        sockaddr_in a = test_support::LoopbackAddress(port);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    explicit TcpPeer(int accepted) : fd(accepted) {}
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;
    ~TcpPeer() { Close(); }
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    std::uint16_t Port() const { return test_support::BoundPort(fd); }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // Whatever has arrived, without waiting.
    std::string Receive() const {
        char buf[256];
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }
    // Closing with a zero linger time resets the connection instead of
    // closing it in order.
    void Reset() {
        const linger l{1, 0};
        ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l), 0);
        Close();
    }
};

// A listening TCP socket on 127.0.0.1 playing a far server.
struct TcpListener {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    TcpListener() {
        sockaddr_in a = test_support::LoopbackAddress(0);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd, 4), 0);
    }
    ~TcpListener() { ::close(fd); }
    std::uint16_t Port() const { return test_support::BoundPort(fd); }
    int Accept() const { return ::accept(fd, nullptr, nullptr); }
};

// Chooses "Ethernet" in the main port list and the role in its frame.
ports::TfrmForPEth* ChooseEthernet(TMain* m, int role) {
    const int ethernet = m->ComNcb->Items().IndexOfObject(ports::EthernetPortId);
    EXPECT_GT(ethernet, 0);
    m->ComNcb->SelectByUser(ethernet);
    EXPECT_TRUE(m->ForeignPort);
    if (!m->ForeignPort) return nullptr;
    auto* frame = static_cast<ports::TfrmForPEth*>(m->ForeignPort->Frame());
    frame->cbbRole->SelectByUser(role);
    return frame;
}

// Types a line into the transmit box and presses the transmit button.
void Transmit(TMain* m, const std::string& line) {
    m->TrBCB->SetText(line);
    m->TrBCBChange(m->TrBCB);
    m->Transb->Click();
}

// Selects the Ethernet port as a TCP server on the port and opens it with
// the port button; null (with the failure recorded) when it did not open.
ports::TfrmForPEth* StartServer(EthernetWindow& w, std::uint16_t port) {
    ports::TfrmForPEth* frame = ChooseEthernet(w.m, ports::erTCPServer);
    if (!frame) return nullptr;
    frame->edLocalPort->SetText(std::to_string(port));
    w.m->sbPort->Click();
    EXPECT_TRUE(w.m->ForeignPort->Active()) << (w.messages.empty() ? "" : w.messages.back());
    return w.m->ForeignPort->Active() ? frame : nullptr;
}

// Selects the Ethernet port as a UDP endpoint on a port of the system's
// choice and opens it; that port, 0 (with the failure recorded) when it did
// not open.
std::uint16_t StartUdp(EthernetWindow& w) {
    ports::TfrmForPEth* frame = ChooseEthernet(w.m, ports::erUDP);
    if (!frame) return 0;
    frame->edLocalPort->SetText("0");
    w.m->sbPort->Click();
    EXPECT_TRUE(w.m->ForeignPort->Active()) << (w.messages.empty() ? "" : w.messages.back());
    return w.m->ForeignPort->Active() ? PortOf(w.m) : 0;
}

// How many panel lines hold the text, and the last one that does (-1: none).
int CountLines(const EthernetWindow& w, const std::string& text) {
    int n = 0;
    for (const std::string& line : w.Lines()) n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
}
int LastLineWith(const EthernetWindow& w, const std::string& text) {
    const std::vector<std::string> lines = w.Lines();
    for (int i = static_cast<int>(lines.size()) - 1; i >= 0; --i)
        if (lines[static_cast<std::size_t>(i)].find(text) != std::string::npos) return i;
    return -1;
}

// The last Count lines of the panel.
std::vector<std::string> LastLines(const EthernetWindow& w, std::size_t Count) {
    const std::vector<std::string> lines = w.Lines();
    return {lines.end() - static_cast<std::ptrdiff_t>(std::min(Count, lines.size())), lines.end()};
}

std::vector<std::string> Tokens(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string t; in >> t;) out.push_back(t);
    return out;
}

// Count clients connected to the open server, each once it has its index
// (1, 2, ...); the ones before it when one is not taken in time.
std::vector<std::unique_ptr<TcpPeer>> ConnectClients(EthernetWindow& w, int Count) {
    std::vector<std::unique_ptr<TcpPeer>> clients;
    for (int i = 1; i <= Count; ++i) {
        auto client = std::make_unique<TcpPeer>(PortOf(w.m));
        if (!test_support::PumpUntil([&] { return w.Has("(Idx=" + std::to_string(i) + ")"); })) break;
        clients.push_back(std::move(client));
    }
    return clients;
}

// A reader following the lines that say whose data follows (they start
// with Prefix): every chunk belongs to the one the last such line named (""
// before any). Check sees each data line's record with that name.
std::map<std::string, std::string> ReadByNames(
    TMain* m, const std::string& Prefix,
    const std::function<void(const terminal::TLineRecord&, const std::string&)>& Check = {}) {
    std::map<std::string, std::string> read;
    std::string named;
    const terminal::TLineStore& lines = m->RxPanel->Lines();
    for (int i = 0; i < lines.LineCount(); ++i) {
        const terminal::TLineRecord r = lines.LineRecord(i);
        const std::string data = lines.LineData(i);
        if (r.Format == terminal::dfMSG && data.rfind(Prefix, 0) == 0) named = data.substr(Prefix.size());
        if (r.Format != terminal::dfHEX) continue;
        if (Check) Check(r, named);
        for (const std::string& token : Tokens(data))
            read[named].push_back(static_cast<char>(std::stoi(token, nullptr, 16)));
    }
    return read;
}

// The same for a server's clients, by their numbers; client 1's data has
// the main port's mark, every other client's the second port's.
std::map<int, std::string> ReadByMarkers(TMain* m) {
    std::map<int, std::string> read;
    for (auto& [name, bytes] :
         ReadByNames(m, "RV data from CliIdx=", [](const terminal::TLineRecord& r, const std::string& named) {
             EXPECT_EQ(r.Dir == 0, named == "1") << "data of client " << named << " has the mark of another port";
         }))
        read[name.empty() ? 0 : std::stoi(name)] = bytes;
    return read;
}

// Loads a plug-in of the given source into the window.
void LoadPlugin(EthernetWindow& w, const test_support::TempDir& dir, const std::string& Source) {
    const std::string plugin = dir.File("plugin.pas");
    vcl::SaveStrToFile(Source, plugin);
    w.m->LoadPlugin(plugin);
    EXPECT_NE(w.m->Script, nullptr);
}

TEST(ethernet_port_e2e, udp_line_typed_in_dec_reaches_the_destination_listener) {
    EthernetWindow w;
    TMain* m = w.m;
    const int fds_before = test_support::OpenDescriptors();
    Peer listener;
    ports::TfrmForPEth* frame = ChooseEthernet(m, ports::erUDP);
    ASSERT_TRUE(frame);
    frame->edDstIp->SetText("127.0.0.1");
    frame->edDstPort->SetText(std::to_string(listener.Port()));
    frame->edLocalPort->SetText(std::to_string(FreePort(SOCK_DGRAM)));
    m->mShowWrites->SetChecked(true);
    m->TRFormat = terminal::trfDec;

    m->sbPort->Click();
    ASSERT_TRUE(m->ForeignPort->Active()) << (w.messages.empty() ? "" : w.messages.back());
    Transmit(m, "65 66");
    std::string got;
    ASSERT_TRUE(test_support::PumpUntil([&] { return !(got = listener.Receive()).empty(); }));
    EXPECT_EQ(got, "AB");
    EXPECT_EQ(m->SentCount, 2u);
    EXPECT_TRUE(w.Has("UDP send to 127.0.0.1:" + std::to_string(listener.Port())));

    // A second line goes to the same target without a second announcement.
    Transmit(m, "67");
    ASSERT_TRUE(test_support::PumpUntil([&] { return !(got = listener.Receive()).empty(); }));
    EXPECT_EQ(got, "C");
    EXPECT_EQ(CountLines(w, "UDP send to"), 1);

    m->sbPort->Click();
    EXPECT_FALSE(m->ForeignPort->Active());
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(test_support::OpenDescriptors(), fds_before + 1);  // the listener only

    // No destination and no sender heard from yet: the line goes to 0.0.0.0
    // port 0, which the socket refuses; the error shows and the port closes.
    frame->edDstIp->SetText("0.0.0.0");
    m->sbPort->Click();
    ASSERT_TRUE(m->ForeignPort->Active());
    Transmit(m, "1");
    EXPECT_TRUE(w.Has("UDP send to 0.0.0.0:0"));
    EXPECT_TRUE(w.Has("Error: SendData: Invalid argument"));
    EXPECT_FALSE(m->ForeignPort->Active());
    EXPECT_TRUE(m->sbPort->Down());
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(test_support::OpenDescriptors(), fds_before + 1);
}

TEST(ethernet_port_e2e, tcp_client_to_a_closed_port_reports_refusal_and_frees_the_port) {
    EthernetWindow w;
    TMain* m = w.m;
    // Bound but not listening: a connection attempt is refused at once, and
    // no one else can take the port meanwhile.
    const int closed = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = test_support::LoopbackAddress(0);
    ASSERT_EQ(::bind(closed, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::uint16_t port = test_support::BoundPort(closed);
    const int fds_before = test_support::OpenDescriptors();

    ports::TfrmForPEth* frame = ChooseEthernet(m, ports::erTCPClient);
    ASSERT_TRUE(frame);
    EXPECT_FALSE(frame->edLocalPort->Visible());
    frame->edDstIp->SetText("127.0.0.1");
    frame->edDstPort->SetText(std::to_string(port));
    m->sbPort->Click();
    EXPECT_TRUE(w.Has("Start TCP Client (connect to 127.0.0.1:" + std::to_string(port) + ")"));

    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("Close Socket"); }));
    const int refused = LastLineWith(w, "Connect (Connection refused)");
    ASSERT_GE(refused, 0);
    EXPECT_LT(refused, LastLineWith(w, "Close Socket"));
    EXPECT_EQ(m->RxPanel->Lines().LineRecord(refused).Format, terminal::dfERR);
    EXPECT_FALSE(m->ForeignPort->Active());
    EXPECT_FALSE(static_cast<ports::TEthernetPort*>(m->ForeignPort.get())->Transport());
    EXPECT_TRUE(m->sbPort->Down());
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(test_support::OpenDescriptors(), fds_before);

    // Sending while it is closed takes nothing.
    EXPECT_EQ(m->ForeignPort->Send("x", 1), 0);
    ::close(closed);
}

TEST(ethernet_port_e2e, tcp_server_numbers_clients_shows_second_client_apart_and_sends_to_the_chosen_one) {
    EthernetWindow w;
    TMain* m = w.m;
    const int fds_before = test_support::OpenDescriptors();
    ports::TfrmForPEth* frame = ChooseEthernet(m, ports::erTCPServer);
    ASSERT_TRUE(frame);
    EXPECT_FALSE(frame->edDstIp->Visible());
    const std::uint16_t port = FreePort(SOCK_STREAM);
    frame->edLocalPort->SetText(std::to_string(port));
    m->TRFormat = terminal::trfDec;
    m->sbPort->Click();
    ASSERT_TRUE(m->ForeignPort->Active()) << (w.messages.empty() ? "" : w.messages.back());
    EXPECT_TRUE(w.Has("Start TCP Server (listen port " + std::to_string(port) + ")"));
    EXPECT_TRUE(frame->edCurCliIdx->Visible());
    EXPECT_EQ(frame->edCurCliIdx->Text(), "1");

    {
        TcpPeer one(port);
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("(Idx=1)"); }));
        TcpPeer two(port);
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("(Idx=2)"); }));
        EXPECT_TRUE(w.Has("Connect from 127.0.0.1:" + std::to_string(one.Port()) + " (Idx=1)"));
        EXPECT_TRUE(w.Has("Connect from 127.0.0.1:" + std::to_string(two.Port()) + " (Idx=2)"));
        EXPECT_EQ(frame->lblCCInfo->Caption(), "Clients: 2");

        // Client 2 is not the current client: its bytes are announced and
        // shown as second-port data.
        two.Send("hi");
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("68 69"); }));
        EXPECT_TRUE(w.Has("RV data from CliIdx=2"));
        const terminal::TLineStore& store = m->RxPanel->Lines();
        const int shown_at = LastLineWith(w, "68 69");
        ASSERT_GE(shown_at, 0);
        EXPECT_EQ(store.LineRecord(shown_at).Dir, 1);
        EXPECT_EQ(m->PortSlots[terminal::PortSlot2].RxCount, 2u);
        EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 0u);

        // The current client gets what is transmitted, the other nothing.
        Transmit(m, "49");
        std::string got;
        ASSERT_TRUE(test_support::PumpUntil([&] { return !(got = one.Receive()).empty(); }));
        EXPECT_EQ(got, "1");

        frame->edCurCliIdx->SetText("2");
        EXPECT_EQ(static_cast<ports::TEthernetPort*>(m->ForeignPort.get())->CurrentClient(), 2);
        Transmit(m, "50 51");
        ASSERT_TRUE(test_support::PumpUntil([&] { return !(got = two.Receive()).empty(); }));
        EXPECT_EQ(got, "23");
        test_support::Pump(std::chrono::milliseconds(50));
        EXPECT_EQ(one.Receive(), "");

        // Client 2, named last, is named no more while it goes on speaking;
        // it is the current client now, yet the window still takes every
        // index but 1 as second-port data.
        two.Send("k");
        ASSERT_TRUE(test_support::PumpUntil([&] { return m->PortSlots[terminal::PortSlot2].RxCount == 3u; }));
        EXPECT_EQ(CountLines(w, "RV data from CliIdx=2"), 1);
        EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 0u);
        // Client 1 speaking after it is named, though it is not the current
        // client, and once only while it goes on.
        const auto& main_count = m->PortSlots[terminal::PortSlotMain].RxCount;
        one.Send("a");
        ASSERT_TRUE(test_support::PumpUntil([&] { return main_count == 1u; }));
        one.Send("b");
        ASSERT_TRUE(test_support::PumpUntil([&] { return main_count == 2u; }));
        const std::vector<std::string> named_one = {"RV data from CliIdx=1", "61 62"};
        EXPECT_EQ(LastLines(w, 2), named_one);
        EXPECT_EQ(CountLines(w, "RV data from CliIdx="), 2);

        // An index no client holds: nothing is sent and the field is yellow.
        frame->edCurCliIdx->SetText("7");
        EXPECT_EQ(frame->edCurCliIdx->Color(), vcl::clYellow);
        EXPECT_EQ(m->ForeignPort->Send("z", 1), 0);

        // Client 1 leaves; a newcomer gets index 1 again.
        one.Close();
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("Disconnect CliIdx=1 (cnt=1)"); }));
        TcpPeer three(port);
        ASSERT_TRUE(test_support::PumpUntil([&] {
            return w.Has("Connect from 127.0.0.1:" + std::to_string(three.Port()) + " (Idx=1)");
        }));
        // The newcomer is another peer than the client 1 named last: named
        // anew before its data.
        three.Send("c");
        ASSERT_TRUE(test_support::PumpUntil([&] { return main_count == 3u; }));
        const std::vector<std::string> named_three = {"RV data from CliIdx=1", "63"};
        EXPECT_EQ(LastLines(w, 2), named_three);
        EXPECT_EQ(CountLines(w, "RV data from CliIdx=1"), 2);

        // Closing the port with clients attached drops them all.
        m->sbPort->Click();
        EXPECT_FALSE(m->ForeignPort->Active());
        EXPECT_TRUE(m->sbPort->Down());
        EXPECT_FALSE(frame->edCurCliIdx->Visible());
    }
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(test_support::OpenDescriptors(), fds_before);
}

TEST(ethernet_port_e2e, six_server_clients_speaking_in_turn_are_each_read_back_by_the_markers) {
    EthernetWindow w;
    TMain* m = w.m;
    ports::TfrmForPEth* frame = StartServer(w, 0);
    ASSERT_TRUE(frame);
    const std::vector<std::unique_ptr<TcpPeer>> clients = ConnectClients(w, 6);
    ASSERT_EQ(clients.size(), 6u);
    frame->edCurCliIdx->SetText("3");

    // First the current client and client 1 in turn, then in a random turn,
    // so that the current client follows every other one and itself, each
    // client sends a few bytes of its own letter; each chunk is shown before
    // the next is sent.
    std::vector<int> turns = {3, 1, 3, 1, 3, 2, 3, 1, 3};
    std::minstd_rand random(52);
    for (int turn = 0; turn < 80; ++turn) turns.push_back(1 + static_cast<int>(random() % 6));
    std::map<int, std::string> sent;
    const auto& main_count = m->PortSlots[terminal::PortSlotMain].RxCount;
    const auto& second_count = m->PortSlots[terminal::PortSlot2].RxCount;
    for (const int client : turns) {
        const std::string bytes(1 + random() % 4, static_cast<char>('a' + client));
        const std::uint64_t want = main_count + second_count + bytes.size();
        clients[static_cast<std::size_t>(client - 1)]->Send(bytes);
        ASSERT_TRUE(test_support::PumpUntil([&] { return main_count + second_count == want; }));
        sent[client] += bytes;
    }
    EXPECT_EQ(ReadByMarkers(m), sent);
    // The counters keep their meaning: client 1 is the main port.
    EXPECT_EQ(main_count, sent[1].size());
    EXPECT_TRUE(w.messages.empty());
}

// While a plug-in's Recv waits for the current client, the other clients'
// bytes are kept: counted, and shown in order under their clients' names.
TEST(ethernet_port_e2e, a_recv_on_the_server_keeps_every_other_clients_bytes_under_their_names) {
    EthernetWindow w;
    TMain* m = w.m;
    ASSERT_TRUE(StartServer(w, 0));
    const std::vector<std::unique_ptr<TcpPeer>> clients = ConnectClients(w, 3);
    ASSERT_EQ(clients.size(), 3u);
    test_support::TempDir dir;
    LoadPlugin(w, dir,
               "procedure OnSend; var got: string;\n"
               "begin Recv(10, 5000, got); AddMsg('[' + got + ']'); TD := ''; end;");

    // The current client answers last; the others speak while the plug-in waits.
    const std::string b(1000, 'b'), c(500, 'c'), a = "0123456789";
    // While the Recv waits (the timer can only come inside it), the other
    // clients' bytes are read, counted and shown; only then does the
    // current client answer.
    bool inside_recv = false;
    vcl::TTimer during(nullptr);
    during.SetInterval(20);
    during.SetOnTimer([&](vcl::TComponent*) {
        during.SetEnabled(false);
        inside_recv = m->RxRouter.RecvWaiting();
        clients[1]->Send(b);
        clients[2]->Send(c);
        EXPECT_TRUE(test_support::PumpUntil(
            [&] { return m->PortSlots[terminal::PortSlot2].RxCount == b.size() + c.size(); }));
        inside_recv = inside_recv && m->RxRouter.RecvWaiting();
        clients[0]->Send(a);
    });
    during.SetEnabled(true);
    m->TrBCB->SetText("");
    m->SendData("", 0, true);
    EXPECT_TRUE(inside_recv) << "the other clients did not speak while Recv waited";
    EXPECT_EQ(m->RxPanel->Lines().LineData(m->RxPanel->Lines().LineCount() - 2), "[" + a + "]");
    ASSERT_TRUE(w.ShowReceived());
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, a.size());
    EXPECT_EQ(m->PortSlots[terminal::PortSlot2].RxCount, b.size() + c.size());
    EXPECT_EQ(ReadByMarkers(m), (std::map<int, std::string>{{1, a}, {2, b}, {3, c}}));
    EXPECT_TRUE(w.messages.empty());
}

// Datagrams from two senders while the receive event waits: each waits with
// the line that names its sender, so that a reader following those lines
// gives every byte to the sender that sent it.
TEST(ethernet_port_e2e, udp_senders_stay_named_in_order_while_the_receive_event_waits) {
    EthernetWindow w;
    TMain* m = w.m;
    const std::uint16_t port = StartUdp(w);
    ASSERT_NE(port, 0);
    test_support::TempDir dir;
    LoadPlugin(w, dir,
               "procedure OnReceive; begin if RD = 'wait' then "
               "while GetV('GO') <> '1' do NBSleep(5); end;");
    Peer a, b;
    // Inside the event's wait: each datagram is read (it waits for the
    // event) before the next is sent; then the event may end.
    bool held = false;
    test_support::WhileBusy inside(*m, [&] {
        for (const auto& [peer, bytes] : {std::pair{&a, "a1"}, {&b, "b1"}, {&a, "a2"}}) {
            const std::size_t before = m->RxQueue.Cost({.IsMain = true, .Client = 1});
            peer->SendTo(port, bytes);
            EXPECT_TRUE(test_support::PumpUntil(
                [&] { return m->RxQueue.Cost({.IsMain = true, .Client = 1}) > before; }));
        }
        // The window has had its turn, and nothing is counted yet: not even
        // the event's own chunk.
        held = test_support::PumpUntil([&] { return !m->PumpPosted; }) && m->PluginBusy &&
               m->PortSlots[terminal::PortSlotMain].RxCount == 0u;
        m->SetPluginVar("GO", "1");
    });
    a.SendTo(port, "wait");
    const auto& count = m->PortSlots[terminal::PortSlotMain].RxCount;
    ASSERT_TRUE(test_support::PumpUntil([&] { return count == 10u; }));
    ASSERT_TRUE(w.ShowReceived());
    EXPECT_TRUE(held) << "the datagrams did not wait for the event";
    const std::string from = "127.0.0.1:";
    EXPECT_EQ(ReadByNames(m, "UDP data from "),
              (std::map<std::string, std::string>{{from + std::to_string(a.Port()) + ":", "waita1a2"},
                                                  {from + std::to_string(b.Port()) + ":", "b1"}}));
    EXPECT_TRUE(w.messages.empty());
}

// A box the receive event opens stays up while a TCP peer floods the port:
// what waits for the event stays within an input buffer's size (reading
// stops, and the peer is held back), and afterwards the raw output file
// holds every byte the peer sent, in order.
TEST(ethernet_port_e2e, a_box_left_open_in_a_tcp_flood_holds_the_peer_back_and_loses_nothing) {
    EthernetWindow w;
    TMain* m = w.m;
    TcpListener far;
    ports::TfrmForPEth* frame = ChooseEthernet(m, ports::erTCPClient);
    ASSERT_TRUE(frame);
    frame->edDstIp->SetText("127.0.0.1");
    frame->edDstPort->SetText(std::to_string(far.Port()));
    m->sbPort->Click();
    int peer = -1;
    ASSERT_TRUE(test_support::PumpUntil([&] { return (peer = far.Accept()) >= 0; }));
    TcpPeer device(peer);
    test_support::TempDir dir;
    LoadPlugin(w, dir, "procedure OnReceive; begin if Pos('!', RD) > 0 then ShowMessage('look'); end;");
    const std::string file = dir.File("raw.bin");
    m->RxRouter.OpenOutput(file, terminal::TListFileType::Binary);

    std::size_t most_waiting = 0;
    vcl::Application->MessageHook = [&](const vcl::TMessageRequest& r) {
        w.messages.push_back(r.Text);
        // Up for a second and a half, and on until something waits for the
        // event (a busy machine may start the sender late); a program that
        // reads nothing while the box is up is given up after 30 s of the
        // time the test was given.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        test_support::GivenTimeLimit limit(std::chrono::seconds(30));
        while ((std::chrono::steady_clock::now() < until || most_waiting == 0) && !limit.Passed()) {
            win::ProcessMessages();
            win::Sleep(1);
            most_waiting = std::max(most_waiting, m->RxQueue.Cost({.IsMain = true, .Client = 1}));
        }
        return vcl::IDOK;
    };
    std::string sent = "!";
    for (int i = 0; sent.size() < 3 * 1000 * 1000; ++i) sent += std::to_string(i) + ',';
    std::thread sender([&] {
        for (std::size_t at = 0; at < sent.size();) {
            const ssize_t n = ::send(device.fd, sent.data() + at, sent.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return;
            at += static_cast<std::size_t>(n);
        }
    });
    const auto& count = m->PortSlots[terminal::PortSlotMain].RxCount;
    const bool all = test_support::PumpUntil([&] { return count == sent.size(); }, std::chrono::seconds(60));
    sender.join();
    ASSERT_TRUE(all) << count;
    m->SwitchOutputOff();
    EXPECT_EQ(w.messages, std::vector<std::string>{"look"});
    EXPECT_GT(most_waiting, 0u);
    // One read (a TCP read takes at most the socket's receive size) may
    // find the queue just short of full.
    EXPECT_LE(most_waiting, 1000000u + 64 * 1024);
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == sent) << "the file is not what was sent";
}

TEST(ethernet_port_e2e, peers_that_reset_the_connection_are_reported_without_harm) {
    EthernetWindow w;
    TMain* m = w.m;
    const int fds_before = test_support::OpenDescriptors();

    // A server's client resets: the server goes on serving.
    const std::uint16_t port = FreePort(SOCK_STREAM);
    ports::TfrmForPEth* frame = StartServer(w, port);
    ASSERT_TRUE(frame);
    {
        TcpPeer rude(port);
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("(Idx=1)"); }));
        rude.Send("a");
        rude.Reset();
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("Disconnect CliIdx=1 (cnt=0)"); }));
        EXPECT_TRUE(m->ForeignPort->Active());
        TcpPeer polite(port);
        ASSERT_TRUE(test_support::PumpUntil([&] {
            return w.Has("Connect from 127.0.0.1:" + std::to_string(polite.Port()) + " (Idx=1)");
        }));
        polite.Send("b");
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("62"); }));
    }
    m->sbPort->Click();
    ASSERT_FALSE(m->ForeignPort->Active());

    // A server the client is connected to resets: the error is shown and
    // the port closes.
    TcpListener far;
    frame->cbbRole->SelectByUser(ports::erTCPClient);
    frame->edDstIp->SetText("127.0.0.1");
    frame->edDstPort->SetText(std::to_string(far.Port()));
    m->sbPort->Click();
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("Connect (No error)"); }));
    int accepted = -1;
    ASSERT_TRUE(test_support::PumpUntil([&] { return (accepted = far.Accept()) >= 0; }));
    {
        TcpPeer served(accepted);
        served.Send("q");
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("71"); }));
        served.Reset();
    }
    ASSERT_TRUE(test_support::PumpUntil([&] { return !m->ForeignPort->Active(); }));
    const terminal::TLineStore& store = m->RxPanel->Lines();
    const int reset_at = LastLineWith(w, "Disconnect (Connection reset by peer)");
    ASSERT_GE(reset_at, 0);
    EXPECT_EQ(store.LineRecord(reset_at).Format, terminal::dfERR);
    EXPECT_TRUE(w.Has("Close Socket"));
    EXPECT_TRUE(m->sbPort->Down());
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(test_support::OpenDescriptors(), fds_before + 1);  // the far listener
}

// How often the token stands in the panel's data lines.
long CountShown(const EthernetWindow& w, const std::string& token) {
    long shown = 0;
    const terminal::TLineStore& store = w.m->RxPanel->Lines();
    for (int i = 0; i < store.LineCount(); ++i) {
        const terminal::TDataFormat format = store.LineRecord(i).Format;
        if (format == terminal::dfMSG || format == terminal::dfERR) continue;
        for (const std::string& t : Tokens(store.LineData(i))) shown += t == token ? 1 : 0;
    }
    return shown;
}

using test_support::UdpDrops;

TEST(ethernet_port_e2e, udp_flood_is_counted_and_shown_exactly_as_far_as_the_kernel_delivered_it) {
    EthernetWindow w;
    TMain* m = w.m;
    const int fds_before = test_support::OpenDescriptors();
    ports::TfrmForPEth* frame = ChooseEthernet(m, ports::erUDP);
    ASSERT_TRUE(frame);
    const std::uint16_t port = FreePort(SOCK_DGRAM);
    frame->edLocalPort->SetText(std::to_string(port));
    frame->edDstIp->SetText("0.0.0.0");
    m->sbPort->Click();
    ASSERT_TRUE(m->ForeignPort->Active()) << (w.messages.empty() ? "" : w.messages.back());

    constexpr int kDatagrams = 100000;
    Peer peer;
    sockaddr_in to = test_support::LoopbackAddress(port);
    const auto& received = m->PortSlots[terminal::PortSlotMain].RxCount;
    int sent = 0;
    while (sent < kDatagrams) {
        // A burst well inside the socket's queue (its 32 KB, which the
        // kernel doubles, hold some eighty one-byte datagrams).
        for (int i = 0; i < 32 && sent < kDatagrams; ++i) {
            if (::sendto(peer.fd, "U", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 1) ++sent;
        }
        // The window runs its loop flat out between bursts, as it does on
        // its own, until it has taken what the kernel kept; the kernel may
        // still drop some while the window is busy.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (int spins = 1; static_cast<int>(received) < sent; ++spins) {
            win::ProcessMessages();
            if (spins % 64 != 0) continue;
            if (static_cast<long>(received) + UdpDrops(port) >= sent) break;
            ASSERT_LT(std::chrono::steady_clock::now(), limit) << "the window stopped taking datagrams";
        }
    }
    test_support::Pump(std::chrono::milliseconds(100));  // nothing more may come
    const long drops = UdpDrops(port);
    ASSERT_GE(drops, 0);
    const std::uint64_t count = m->PortSlots[terminal::PortSlotMain].RxCount;
    EXPECT_EQ(static_cast<long>(count), kDatagrams - drops);
    // Bursts smaller than the socket's queue, taken between bursts: at most
    // a few are lost while the window is busy drawing.
    EXPECT_GT(count, static_cast<std::uint32_t>(kDatagrams * 9 / 10));
    ASSERT_TRUE(w.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(" + std::to_string(count) + ", 0)");

    // Every byte counted is on the panel, one "55" each.
    EXPECT_EQ(CountShown(w, "55"), static_cast<long>(count));

    m->sbPort->Click();
    EXPECT_FALSE(m->ForeignPort->Active());
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(test_support::OpenDescriptors(), fds_before + 1);  // the peer
}

TEST(ethernet_port_e2e, clients_that_vanish_leave_the_server_running_and_nothing_open_after_close) {
    EthernetWindow w;
    TMain* m = w.m;
    const int fds_before = test_support::OpenDescriptors();
    const std::uint16_t port = FreePort(SOCK_STREAM);
    ports::TfrmForPEth* frame = StartServer(w, port);
    ASSERT_TRUE(frame);

    // Connected and gone again before the window even saw the connection,
    // a few at a time (the listen queue holds five).
    for (int round = 1; round <= 5; ++round) {
        for (int i = 0; i < 4; ++i) {
            TcpPeer ghost(port);
            ghost.Send("g");
        }
        ASSERT_TRUE(test_support::PumpUntil([&] { return CountLines(w, "Disconnect CliIdx=") == 4 * round; }));
    }
    EXPECT_EQ(CountLines(w, "Connect from 127.0.0.1:"), 20);
    EXPECT_EQ(frame->lblCCInfo->Caption(), "Clients: 0");

    // One that connects and then says nothing, never closing.
    auto silent = std::make_unique<TcpPeer>(port);
    ASSERT_TRUE(test_support::PumpUntil([&] { return frame->lblCCInfo->Caption() == "Clients: 1"; }));
    test_support::Pump(std::chrono::milliseconds(100));
    EXPECT_TRUE(m->ForeignPort->Active());

    // The window closes the port with it still attached; the far side sees
    // the connection end.
    m->sbPort->Click();
    EXPECT_FALSE(m->ForeignPort->Active());
    char c;
    EXPECT_EQ(::recv(silent->fd, &c, 1, 0), 0);
    silent.reset();
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(test_support::OpenDescriptors(), fds_before);
}

TEST(ethernet_port_e2e, a_fast_tcp_stream_from_a_client_arrives_whole) {
    EthernetWindow w;
    TMain* m = w.m;
    const std::uint16_t port = FreePort(SOCK_STREAM);
    ASSERT_TRUE(StartServer(w, port));
    TcpPeer client(port);
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("(Idx=1)"); }));

    // The client writes as fast as the connection takes it; TCP loses
    // nothing, so neither may the window.
    constexpr std::size_t kBytes = 256 * 1024;
    const std::string chunk(4096, 'T');
    std::size_t sent = 0;
    const auto& received = m->PortSlots[terminal::PortSlotMain].RxCount;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (received < kBytes) {
        ASSERT_LT(std::chrono::steady_clock::now(), limit) << "the window stopped taking the stream";
        if (sent < kBytes) {
            const ssize_t n = ::send(client.fd, chunk.data(), std::min(chunk.size(), kBytes - sent),
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) sent += static_cast<std::size_t>(n);
        }
        win::ProcessMessages();
    }
    test_support::Pump(std::chrono::milliseconds(50));
    EXPECT_EQ(received, kBytes);
    EXPECT_EQ(m->PortSlots[terminal::PortSlot2].RxCount, 0u);
    // One line names the client before its first chunk; no other is needed.
    EXPECT_EQ(CountLines(w, "RV data from"), 1);
    EXPECT_EQ(CountLines(w, "RV data from CliIdx=1"), 1);
    EXPECT_TRUE(w.messages.empty());
}

// ---- Many peers at once ----

// Follows what the port tells the window about server clients: for each
// connection, by its peer port and in order, the bytes delivered between its
// acceptance and its departure.
struct ClientLedger {
    explicit ClientLedger(ports::TForeignPort& Port) : port(Port), forward(Port.OnEvent) {
        port.OnEvent = [this](int Code, const std::string& Text, std::string& Reply) {
            Note(Code, Text);
            forward(Code, Text, Reply);
        };
    }
    ~ClientLedger() { port.OnEvent = forward; }
    ClientLedger(const ClientLedger&) = delete;
    ClientLedger& operator=(const ClientLedger&) = delete;

    void Note(int Code, const std::string& Text) {
        unsigned peer = 0;
        int index = 0, count = 0;
        if (Code == ports::fpeInfo &&
            std::sscanf(Text.c_str(), "Connect from 127.0.0.1:%u (Idx=%d)", &peer, &index) == 2) {
            open[index] = {static_cast<std::uint16_t>(peer), 0};
        } else if (Code == ports::fpeInfo &&
                   std::sscanf(Text.c_str(), "Disconnect CliIdx=%d (cnt=%d)", &index, &count) == 2) {
            const auto it = open.find(index);
            if (it == open.end()) return;
            done[it->second.first].push_back(it->second.second);
            open.erase(it);
        } else if (Code == ports::fpeData && !Text.empty()) {
            open[static_cast<unsigned char>(Text[0])].second += Text.size() - 1;
        }
    }

    ports::TForeignPort& port;
    ports::TForeignPortEvent forward;
    std::map<int, std::pair<std::uint16_t, std::size_t>> open;  // by client index: peer port, bytes so far
    std::map<std::uint16_t, std::vector<std::size_t>> done;     // by peer port: bytes of each connection
};

// One connection of a far client: its port, when it began among all, the
// bytes it sent, and the errno it failed with (0: it ended in order).
struct Visit {
    std::uint16_t port = 0;
    long order = 0;
    std::size_t sent = 0;
    int error = 0;
};

// A far client that, until told to stop, connects, sends 0 to 20,000
// bytes, closes its sending side and reads until the server has closed,
// again and again; Ended counts the connections over. Plain blocking calls:
// it runs on a thread of its own.
std::vector<Visit> Visitor(std::uint16_t port, unsigned seed, const std::atomic<bool>& stop, std::atomic<long>& order,
                           std::atomic<long>& ended) {
    std::vector<Visit> visits;
    std::minstd_rand random(seed);
    const std::string bytes(20000, 'v');
    char sink[512];
    while (!stop) {
        Visit v;
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in to = test_support::LoopbackAddress(port);
        v.order = order++;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) v.error = errno;
        v.port = test_support::BoundPort(fd);
        const std::size_t size = random() % (bytes.size() + 1);
        while (v.error == 0 && v.sent < size) {
            const ssize_t n = ::send(fd, bytes.data(), size - v.sent, MSG_NOSIGNAL);
            if (n <= 0) v.error = errno;
            if (n > 0) v.sent += static_cast<std::size_t>(n);
        }
        if (v.error == 0 && ::shutdown(fd, SHUT_WR) != 0) v.error = errno;
        for (ssize_t n = 1; v.error == 0 && n != 0;) {
            n = ::recv(fd, sink, sizeof sink, 0);
            if (n < 0) v.error = errno;
        }
        ::close(fd);
        visits.push_back(v);
        ++ended;
    }
    return visits;
}

TEST(ethernet_port_e2e, a_server_under_many_clients_gets_every_byte_of_each_and_resets_none) {
    EthernetWindow w;
    TMain* m = w.m;
    ASSERT_TRUE(StartServer(w, 0));
    const std::uint16_t port = PortOf(m);
    ASSERT_NE(port, 0);
    ClientLedger ledger(*m->ForeignPort);

    // Fifty clients coming and going for a few seconds, many of them at once,
    // and on until more connections than clients are over: a busy machine
    // may start a client late or hold the server back for a while. A server
    // that stops serving is given up after 20 s of the time it was given.
    constexpr int kClients = 50;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    std::atomic<bool> stop{false};
    std::atomic<long> order{0}, ended{0};
    std::atomic<int> finished{0};
    std::vector<std::vector<Visit>> visits(kClients);
    std::vector<std::thread> clients;
    test_support::GivenTimeLimit limit(std::chrono::seconds(20));
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            visits[static_cast<std::size_t>(c)] = Visitor(port, static_cast<unsigned>(c + 1), stop, order, ended);
            ++finished;
        });
    while (finished < kClients) {
        win::ProcessMessages();
        if (!stop && ((std::chrono::steady_clock::now() >= until && ended > kClients) || limit.Passed())) stop = true;
    }
    for (std::thread& t : clients) t.join();
    ASSERT_TRUE(test_support::PumpUntil([&] { return ledger.open.empty(); }));

    // Every connection ended in order, and the window got exactly its bytes.
    std::map<std::uint16_t, std::vector<Visit>> byPort;  // a port may serve again later
    std::size_t total = 0, count = 0, failed = 0;
    for (const std::vector<Visit>& list : visits)
        for (const Visit& v : list) {
            byPort[v.port].push_back(v);
            total += v.sent;
            ++count;
            failed += v.error != 0 ? 1 : 0;
        }
    EXPECT_EQ(failed, 0u) << "of " << count << " connections";
    std::size_t wrong = 0;
    for (auto& [peer, list] : byPort) {
        std::sort(list.begin(), list.end(), [](const Visit& a, const Visit& b) { return a.order < b.order; });
        std::vector<std::size_t> sent;
        for (const Visit& v : list) sent.push_back(v.sent);
        wrong += ledger.done[peer] != sent ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0u) << "ports whose connections' byte counts differ, of " << byPort.size();
    EXPECT_GT(count, static_cast<std::size_t>(kClients));
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount + m->PortSlots[terminal::PortSlot2].RxCount, total);
    EXPECT_TRUE(m->ForeignPort->Active());
    EXPECT_EQ(CountLines(w, "Error:"), 0);
    EXPECT_TRUE(w.messages.empty());
}

TEST(ethernet_port_e2e, a_server_client_that_fails_goes_alone_and_the_server_serves_on) {
    EthernetWindow w;
    TMain* m = w.m;
    ports::TfrmForPEth* frame = StartServer(w, 0);
    ASSERT_TRUE(frame);
    const std::uint16_t port = PortOf(m);
    m->TRFormat = terminal::trfDec;
    TcpPeer one(port);
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("(Idx=1)"); }));
    TcpPeer two(port);
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("(Idx=2)"); }));

    // The current client resets; the next line sent to it fails: its error
    // is shown and it alone is dropped.
    one.Reset();
    Transmit(m, "49");
    const int failed_at = LastLineWith(w, "Error: SendData: Connection reset by peer");
    ASSERT_GE(failed_at, 0);
    EXPECT_EQ(m->RxPanel->Lines().LineRecord(failed_at).Format, terminal::dfERR);
    EXPECT_GT(LastLineWith(w, "Disconnect CliIdx=1 (cnt=1)"), failed_at);
    EXPECT_TRUE(m->ForeignPort->Active());
    EXPECT_FALSE(m->sbPort->Down());
    EXPECT_EQ(frame->lblCCInfo->Caption(), "Clients: 1");
    two.Send("k");
    ASSERT_TRUE(test_support::PumpUntil([&] { return m->PortSlots[terminal::PortSlot2].RxCount == 1u; }));
    TcpPeer three(port);
    ASSERT_TRUE(test_support::PumpUntil([&] {
        return w.Has("Connect from 127.0.0.1:" + std::to_string(three.Port()) + " (Idx=1)");
    }));

    // The transmit timer sends to client 2 while it resets: whichever notices
    // first, the send or the reading side, client 2 alone goes.
    frame->edCurCliIdx->SetText("2");
    m->TrBCB->SetText("50");
    m->TrBCBChange(m->TrBCB);
    m->TmrEnCB->SetChecked(true);
    ASSERT_TRUE(test_support::PumpUntil([&] { return !two.Receive().empty(); }));
    two.Reset();
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("Disconnect CliIdx=2 (cnt=1)"); }));
    test_support::Pump(std::chrono::milliseconds(300));  // the timer goes on ticking
    m->TmrEnCB->SetChecked(false);
    EXPECT_TRUE(m->ForeignPort->Active());
    three.Send("z");
    ASSERT_TRUE(test_support::PumpUntil([&] { return m->PortSlots[terminal::PortSlotMain].RxCount == 1u; }));
    TcpPeer four(port);
    ASSERT_TRUE(test_support::PumpUntil([&] {
        return w.Has("Connect from 127.0.0.1:" + std::to_string(four.Port()) + " (Idx=2)");
    }));
    EXPECT_EQ(CountLines(w, "Close Socket"), 0);
    EXPECT_TRUE(w.messages.empty());
}

TEST(ethernet_port_e2e, udp_from_senders_in_turn_is_shown_whole_and_the_list_follows_once_a_frame) {
    EthernetWindow w;
    TMain* m = w.m;
    const std::uint16_t port = StartUdp(w);
    ASSERT_NE(port, 0);

    // Each datagram comes from another sender than the one before, so each
    // brings a message line as well as its data.
    constexpr int kDatagrams = 400;
    std::vector<Peer> senders(4);
    const auto& received = m->PortSlots[terminal::PortSlotMain].RxCount;
    int list_changes = 0;
    int shown = m->lb1->Count();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kDatagrams; ++i) {
        senders[static_cast<std::size_t>(i) % senders.size()].SendTo(port, "S");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (static_cast<int>(received) <= i) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "datagram " << i << " did not arrive";
            win::ProcessMessages();
            list_changes += m->lb1->Count() != shown ? 1 : 0;
            shown = m->lb1->Count();
        }
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(w.ShowReceived());
    EXPECT_EQ(CountLines(w, "UDP data from 127.0.0.1:"), kDatagrams);
    EXPECT_EQ(CountShown(w, "53"), kDatagrams);
    EXPECT_EQ(m->lb1->Count(), m->RxPanel->Lines().LineCount());
    // The list control follows the lines once a frame, not once a line.
    const auto frames = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / TMain::kReceiveFrameMs;
    EXPECT_LE(list_changes, frames + 2) << "in " << kDatagrams << " datagrams";
}

TEST(ethernet_port_e2e, udp_loss_the_program_cannot_avoid_is_told_in_error_lines) {
    EthernetWindow w;
    TMain* m = w.m;
    const std::uint16_t port = StartUdp(w);
    ASSERT_NE(port, 0);
    const auto& received = m->PortSlots[terminal::PortSlotMain].RxCount;
    Peer peer;

    // Datagrams longer than the receive size (32,768 bytes) come whole, the
    // largest that IPv4 carries too: nothing is cut.
    peer.SendTo(port, std::string(40000, 'L'));
    ASSERT_TRUE(test_support::PumpUntil([&] { return received == 40000u; })) << received;
    peer.SendTo(port, std::string(ports::MaxUdpDatagram, 'M'));
    constexpr std::uint32_t kWhole = 40000u + ports::MaxUdpDatagram;
    ASSERT_TRUE(test_support::PumpUntil([&] { return received == kWhole; })) << received;
    EXPECT_EQ(CountLines(w, "cut to"), 0);
    EXPECT_EQ(CountLines(w, "Error:"), 0);

    // Two bursts far beyond what the receive buffer holds, sent while the
    // window is not reading, the second as soon as the first's drops are
    // told: every drop is told (the later ones together, a moment after),
    // and with what came through makes up everything sent.
    auto told = [&] {
        long n = 0;
        for (const std::string& line : w.Lines()) {
            long count = 0;
            if (std::sscanf(line.c_str(), "Error: Receive: %ld datagram", &count) == 1) n += count;
        }
        return n;
    };
    const sockaddr_in to = test_support::LoopbackAddress(port);
    long sent = 0;
    for (int burst = 0; burst < 2; ++burst) {
        for (int i = 0; i < 3000; ++i, ++sent)
            ASSERT_EQ(::sendto(peer.fd, "D", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 1);
        if (burst == 0) {
            ASSERT_TRUE(test_support::PumpUntil([&] { return told() > 0; }));
        }
    }
    ASSERT_TRUE(test_support::PumpUntil([&] { return static_cast<long>(received - kWhole) + told() == sent; }))
        << "received " << received - kWhole << ", told lost " << told() << " of " << sent;
    EXPECT_GT(told(), 0);
    EXPECT_EQ(told(), UdpDrops(port));
    EXPECT_TRUE(m->ForeignPort->Active());
    EXPECT_TRUE(w.messages.empty());
}

// Two senders send empty datagrams as fast as they can while a box the
// receive event opened is up: each datagram names its sender, and what waits
// for the event (lines as well as bytes) stays within an input buffer; the
// rest is lost at the socket and told. Once the box is answered everything
// goes on, and the program's memory goes back down.
TEST(ethernet_port_e2e, empty_datagrams_while_a_box_is_up_stay_within_an_input_buffer) {
    EthernetWindow w;
    TMain* m = w.m;
    const std::uint16_t port = StartUdp(w);
    ASSERT_NE(port, 0);
    test_support::TempDir dir;
    LoadPlugin(w, dir, "procedure OnReceive; begin if RD = '!' then ShowMessage('look'); end;");
    Peer a, b;
    std::atomic<bool> stop{false};
    std::atomic<long> sent{0};
    std::size_t most = 0;
    bool reached = false;
    vcl::Application->MessageHook = [&](const vcl::TMessageRequest& r) {
        w.messages.push_back(r.Text);
        std::thread senders([&] {
            while (!stop) {
                for (const Peer* p : {&a, &b}) {
                    sockaddr_in to = test_support::LoopbackAddress(port);
                    if (::sendto(p->fd, "", 0, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) ++sent;
                }
            }
        });
        // Up until the queue is as full as it gets, and a while longer; a
        // queue that never fills is given up after 20 s of the time the test
        // was given.
        test_support::GivenTimeLimit limit(std::chrono::seconds(20));
        std::chrono::steady_clock::time_point full_since{};
        while (!limit.Passed() &&
               !(reached && std::chrono::steady_clock::now() >= full_since + std::chrono::seconds(1))) {
            win::ProcessMessages();
            win::Sleep(1);
            most = std::max(most, m->RxQueue.Cost({.IsMain = true, .Client = 1}));
            if (!reached && m->ForeignPort->ClientRxHeld(1)) {
                reached = true;
                full_since = std::chrono::steady_clock::now();
            }
        }
        stop = true;
        senders.join();
        return vcl::IDOK;
    };
    a.SendTo(port, "!");
    ASSERT_TRUE(test_support::PumpUntil([&] { return stop.load(); }, std::chrono::seconds(60)));
    ASSERT_TRUE(test_support::PumpUntil([&] { return !m->PluginBusy && m->RxQueue.Empty(); }, std::chrono::seconds(60)));
    EXPECT_TRUE(reached) << "the queue never filled: " << most << " bytes after " << sent << " datagrams";
    EXPECT_LE(most, 1000000u + 4096u);
    EXPECT_FALSE(m->ForeignPort->ClientRxHeld(1));
    EXPECT_TRUE(m->ForeignPort->Active());
    EXPECT_EQ(w.messages, std::vector<std::string>{"look"});
    EXPECT_GT(CountLines(w, "datagram"), 0) << "the datagrams lost were not told";
}

// A server's clients are held back one by one: while client 1's receive
// event waits in a Recv for the current client (2), client 1's flood fills
// its own stream and only client 1 is held; client 2's answer reaches the
// Recv at once, and afterwards nothing of client 1's flood is missing.
TEST(ethernet_port_e2e, a_server_holds_back_only_the_client_whose_bytes_wait) {
    EthernetWindow w;
    TMain* m = w.m;
    ports::TfrmForPEth* frame = StartServer(w, 0);
    ASSERT_TRUE(frame);
    const std::vector<std::unique_ptr<TcpPeer>> clients = ConnectClients(w, 2);
    ASSERT_EQ(clients.size(), 2u);
    frame->edCurCliIdx->SetText("2");
    ASSERT_EQ(m->ForeignPort->CurrentClient(), 2);
    test_support::TempDir dir;
    LoadPlugin(w, dir,
               "procedure OnReceive; var s: string; t: Cardinal;\n"
               "begin if Pos('!', RD) = 0 then Exit; t := GetTickCount;\n"
               "  if Recv(4, 60000, s) then AddMsg('[' + s + '] ' + IntToStr(GetTickCount - t))\n"
               "  else AddErr('Recv got ' + IntToStr(Length(s)));\nend;");
    std::string flood = "!";
    for (int i = 0; flood.size() < 3000000; ++i) flood += std::to_string(i) + ',';
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare share;
    std::thread sender([&] {
        for (std::size_t at = 0; at < flood.size();) {
            const ssize_t n = ::send(clients[0]->fd, flood.data() + at, flood.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return;
            at += static_cast<std::size_t>(n);
        }
    });
    bool held_alone = false;
    test_support::WhileBusy inside(*m, [&] {
        // Client 1 is held back once its stream is full; then client 2 answers.
        EXPECT_TRUE(test_support::PumpUntil([&] { return m->ForeignPort->ClientRxHeld(1); }));
        held_alone = m->ForeignPort->ClientRxHeld(1) && !m->ForeignPort->ClientRxHeld(2) && m->RxRouter.RecvWaiting();
        clients[1]->Send("ABCD");
    });
    ASSERT_TRUE(test_support::PumpUntil([&] { return inside.done && !m->PluginBusy; }, std::chrono::seconds(30)));
    // The event, and so the Recv, is over.
    test_support::ProcessorShare event = share;
    event.Sample();
    EXPECT_TRUE(held_alone);
    const std::vector<std::string> msgs = w.Lines();
    const auto answer = std::find_if(msgs.begin(), msgs.end(), [](const std::string& l) { return l.find("[ABCD] ") != std::string::npos; });
    const auto& count = m->PortSlots[terminal::PortSlotMain].RxCount;
    const bool all = test_support::PumpUntil([&] { return count == flood.size(); }, std::chrono::seconds(60));
    sender.join();
    // The Recv's own limit is the program's wall time: one that ran out
    // before the answer was sent only because the test waited for a
    // processor (it had not had 8 s of the machine) could not be judged.
    if (answer == msgs.end() && test_support::Judge(event, std::chrono::seconds(8)).verdict == test_support::Timely::kVoid) {
        bounds.AddVoid("the Recv gave up before the answer came, in an event that " + event.Account());
    } else {
        ASSERT_NE(answer, msgs.end()) << "the Recv did not get the other client's answer";
        EXPECT_TRUE(bounds.Within(share, std::chrono::milliseconds(std::stoi(answer->substr(answer->find("] ") + 2))),
                                  std::chrono::milliseconds(2000), "the Recv for the current client"))
            << "the Recv waited for the other client";
    }
    EXPECT_TRUE(all) << count << " of " << flood.size();
    EXPECT_EQ(m->PortSlots[terminal::PortSlot2].RxCount, 4u);
    EXPECT_TRUE(w.messages.empty());
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// The list names a server's client whenever it named another one last, as
// the list shows it: data that reception disabled (F10) dropped, and a
// cleared list, leave no name behind.
TEST(ethernet_port_e2e, clients_are_named_anew_after_f10_and_a_clear) {
    EthernetWindow w;
    TMain* m = w.m;
    ASSERT_TRUE(StartServer(w, 0));
    const std::vector<std::unique_ptr<TcpPeer>> clients = ConnectClients(w, 3);
    ASSERT_EQ(clients.size(), 3u);
    const auto& port2 = m->PortSlots[terminal::PortSlot2].RxCount;
    auto say = [&](int client, const std::string& bytes) {
        const std::uint64_t before = port2;
        clients[static_cast<std::size_t>(client - 1)]->Send(bytes);
        return test_support::PumpUntil([&] { return port2 == before + bytes.size(); }) && w.ShowReceived();
    };
    ASSERT_TRUE(say(2, "a"));
    // Client 3's data while reception is off: not shown, and not named.
    std::uint16_t f10 = vcl::VK_F10;
    m->FormKeyDown(m, f10, {});
    ASSERT_FALSE(m->ReceptionEnabled);
    const std::uint64_t ignored_at = port2;
    // The byte reaches the program's socket (the loop does not run, so it
    // stays there), then the port reads it and drops it.
    auto* server = static_cast<const ports::TTCPServerSocket*>(
        static_cast<ports::TEthernetPort*>(m->ForeignPort.get())->Transport());
    win::SOCKET third = 0;
    for (int i = 0; i < server->ClientCount(); ++i)
        if (server->GetClient(i)->UserValue == 3) third = server->GetClient(i)->Socket;
    ASSERT_NE(third, 0u);
    clients[2]->Send("b");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (test_support::QueueOf(third).memory == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(test_support::QueueOf(third).memory, 0u);
    ASSERT_TRUE(test_support::PumpUntil([&] { return test_support::QueueOf(third).memory == 0; }));
    EXPECT_EQ(port2, ignored_at);
    f10 = vcl::VK_F10;
    m->FormKeyDown(m, f10, {});
    ASSERT_TRUE(m->ReceptionEnabled);
    ASSERT_TRUE(say(3, "c"));
    EXPECT_EQ(ReadByMarkers(m), (std::map<int, std::string>{{2, "a"}, {3, "c"}}));
    // A cleared list names the next client's data again.
    m->ClearmClick(nullptr);
    ASSERT_TRUE(say(3, "d"));
    EXPECT_EQ(ReadByMarkers(m), (std::map<int, std::string>{{3, "d"}}));
    EXPECT_TRUE(w.messages.empty());
}

// The lines from the first that names a peer ("RV data from", "UDP data
// from") to the end, and the list saved as binary through Save as...
std::vector<std::string> LinesFromFirstName(const EthernetWindow& w) {
    const std::vector<std::string> lines = w.Lines();
    auto first = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("RV data from", 0) == 0 || line.rfind("UDP data from", 0) == 0;
    });
    return {first, lines.end()};
}
std::string SavedAsBinary(EthernetWindow& w, const test_support::TempDir& dir) {
    const std::string file = dir.File("list.bin");
    vcl::Application->DialogHook = [&](vcl::TCommonDialog& d) {
        auto& sd = static_cast<vcl::TOpenDialog&>(d);
        sd.FileName = file;
        sd.FilterIndex = 2;  // Binary File (*.bin)
        return true;
    };
    w.m->mSaveAllClick(nullptr);
    vcl::Application->DialogHook = nullptr;
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Each destination names the peers whose data it holds, and only with their
// data: a server's clients 2 and 3 share Port2 and its receive event; client
// 2's event waits while client 3 sends and the user switches text output
// off. The file takes both chunks, each under its own client's name, and
// the list, which takes neither, names nobody; the plug-in's own lines
// about a chunk come under its client's name in the list.
TEST(ethernet_port_e2e, name_lines_go_with_their_data_into_the_file_it_was_read_for) {
    EthernetWindow w;
    TMain* m = w.m;
    ASSERT_TRUE(StartServer(w, 0));
    const std::vector<std::unique_ptr<TcpPeer>> clients = ConnectClients(w, 3);
    ASSERT_EQ(clients.size(), 3u);
    test_support::TempDir dir;
    LoadPlugin(w, dir,
               std::string(test_support::kWaitForGo) +
                   "procedure OnReceive2; begin if RD2 = 'W' then WaitForGo else AddMsg('got ' + RD2); end;");
    const std::string file = dir.File("a.txt");
    vcl::Application->DialogHook = [&](vcl::TCommonDialog& d) {
        auto& sd = static_cast<vcl::TOpenDialog&>(d);
        sd.FileName = file;
        sd.FilterIndex = 1;  // Text File (*.txt)
        return true;
    };
    m->Outputtofile1Click(nullptr);
    vcl::Application->DialogHook = nullptr;
    ASSERT_TRUE((m->OutputOn() != nullptr));
    // (The list's last line is the one being filled: what comes is put there.)
    const std::size_t listed = w.Lines().size() - 1;
    const auto& port2 = m->PortSlots[terminal::PortSlot2].RxCount;
    test_support::WhileBusy inside(*m, [&] {
        ASSERT_TRUE(test_support::PumpUntil([&] { return m->GetPluginVar("WAITING") == "1"; }));
        clients[2]->Send("x");
        ASSERT_TRUE(test_support::PumpUntil([&] {
            return m->RxQueue.Any([](const terminal::TReceivedPiece& p) { return p.Bytes == "x"; });
        }));
        m->Outputtofile1Click(nullptr);  // off, inside the wait
        ASSERT_FALSE((m->OutputOn() != nullptr));
        m->SetPluginVar("GO", "1");
    });
    clients[1]->Send("W");
    ASSERT_TRUE(test_support::PumpUntil([&] { return inside.done && !m->PluginBusy && port2 == 2; }));
    ASSERT_TRUE(w.ShowReceived());
    EXPECT_EQ(m->RxRouter.WaitingFile(file), nullptr) << "the file switched off was kept open";
    EXPECT_EQ(test_support::Slurp(file), "RV data from CliIdx=2\r57\rRV data from CliIdx=3\r78");
    // The list, cleared when output came on, holds the plug-in's line about
    // client 3's chunk, under client 3's name: nothing else names anybody.
    const std::vector<std::string> all = w.Lines();
    std::vector<std::string> after(all.begin() + static_cast<std::ptrdiff_t>(std::min(listed, all.size())), all.end());
    std::erase_if(after, [](const std::string& line) { return line.empty(); });
    EXPECT_EQ(after, (std::vector<std::string>{"RV data from CliIdx=3", "got x"}));
    EXPECT_TRUE(w.messages.empty());
    // The file let go is written to no more: the next event's line and its
    // data go to the list.
    clients[2]->Send("y");
    ASSERT_TRUE(test_support::PumpUntil([&] { return !m->PluginBusy && port2 == 3; }));
    ASSERT_TRUE(w.ShowReceived());
    EXPECT_EQ(w.Lines().back(), "79");
    EXPECT_EQ(test_support::Slurp(file), "RV data from CliIdx=2\r57\rRV data from CliIdx=3\r78");
    // A new output file names its first peer, whoever the file before it
    // named last: also one that a Clear cannot empty (a pipe that another
    // program reads).
    const std::string next = dir.File("b.pipe");
    ASSERT_EQ(::mkfifo(next.c_str(), 0600), 0);
    test_support::FifoReader reader(next);
    vcl::Application->DialogHook = [&](vcl::TCommonDialog& d) {
        auto& sd = static_cast<vcl::TOpenDialog&>(d);
        sd.FileName = next;
        sd.FilterIndex = 1;
        return true;
    };
    m->Outputtofile1Click(nullptr);
    vcl::Application->DialogHook = nullptr;
    ASSERT_NE(m->OutputOn(), nullptr);
    clients[2]->Send("z");
    ASSERT_TRUE(test_support::PumpUntil([&] { return !m->PluginBusy && port2 == 1; }));
    ASSERT_TRUE(w.ShowReceived());
    m->Outputtofile1Click(nullptr);
    EXPECT_EQ(reader.Take(), "\rRV data from CliIdx=3\r7A");
}

// In a word format each peer pairs its own bytes, as each serial port does:
// the line that names the next peer leaves a word a peer has begun waiting
// for that peer's next byte, and a word never joins two peers' bytes, even
// of two clients that share the second port's mark or of two datagram
// senders that share the main port's. Nothing a peer sent is lost on the
// way, and a binary save gives each peer's bytes back in its order.
TEST(ethernet_port_e2e, word_views_pair_the_bytes_of_one_peer_and_keep_every_byte) {
    test_support::TempDir dir;
    {
        SCOPED_TRACE("TCP server");
        EthernetWindow w;
        TMain* m = w.m;
        m->DataFormat = terminal::dfHW;
        ASSERT_TRUE(StartServer(w, 0));
        const std::vector<std::unique_ptr<TcpPeer>> clients = ConnectClients(w, 3);
        ASSERT_EQ(clients.size(), 3u);
        const auto& main_count = m->PortSlots[terminal::PortSlotMain].RxCount;
        const auto& second_count = m->PortSlots[terminal::PortSlot2].RxCount;
        // Each chunk is taken before the next is sent.
        auto say = [&](int client, const std::string& bytes) {
            const std::uint64_t want = main_count + second_count + bytes.size();
            clients[static_cast<std::size_t>(client - 1)]->Send(bytes);
            return test_support::PumpUntil([&] { return main_count + second_count == want; });
        };
        ASSERT_TRUE(say(1, "\x01\x02\x03"));
        ASSERT_TRUE(say(2, "\xAA\xBB\xCC\xDD"));
        ASSERT_TRUE(say(1, "\x04\x05"));
        ASSERT_TRUE(say(1, "\x06"));
        ASSERT_TRUE(say(2, "\x11"));
        ASSERT_TRUE(say(3, "\x22\x33"));  // the second port's too, but not client 2's
        ASSERT_TRUE(say(2, "\x12"));
        ASSERT_TRUE(w.ShowReceived());
        EXPECT_EQ(LinesFromFirstName(w),
                  (std::vector<std::string>{"RV data from CliIdx=1", "0201", "RV data from CliIdx=2", "BBAA DDCC",
                                            "RV data from CliIdx=1", "0403 0605", "RV data from CliIdx=3", "3322",
                                            "RV data from CliIdx=2", "1211"}));
        EXPECT_EQ(main_count, 6u);
        EXPECT_EQ(second_count, 8u);
        EXPECT_EQ(SavedAsBinary(w, dir), "\x01\x02\xAA\xBB\xCC\xDD\x03\x04\x05\x06\x22\x33\x11\x12");

        // No line between resets a peer's pairing: a newcomer's connect line
        // leaves clients 1 and 3 their low bytes. A client that leaves with
        // a byte waiting has it shown alone (in the byte format, so that it
        // reads back as one byte), under its name.
        const std::size_t before = w.Lines().size();
        ASSERT_TRUE(say(1, "\x07\x08\x09"));
        ASSERT_TRUE(say(3, "\x31"));
        TcpPeer fourth(PortOf(m));
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("(Idx=4)"); }));
        ASSERT_TRUE(say(1, "\x0A\x0B"));
        ASSERT_TRUE(say(3, "\x32\x33"));
        {
            const std::uint64_t want = main_count + second_count + 2;
            fourth.Send("\x41\x42");
            ASSERT_TRUE(test_support::PumpUntil([&] { return main_count + second_count == want; }));
        }
        ASSERT_TRUE(say(2, "\xAA\xBB\xCC"));
        clients[1]->Close();
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("Disconnect CliIdx=2"); }));
        ASSERT_TRUE(w.ShowReceived());
        const std::vector<std::string> all = w.Lines();
        std::vector<std::string> after(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        std::erase_if(after, [](const std::string& line) {
            return line.empty() || line.find("(Idx=4)") != std::string::npos;
        });
        EXPECT_EQ(after, (std::vector<std::string>{"RV data from CliIdx=1", "0807", "0A09", "RV data from CliIdx=3",
                                                   "3231", "RV data from CliIdx=4", "4241", "RV data from CliIdx=2",
                                                   "BBAA", "CC", "Disconnect CliIdx=2 (cnt=3)"}));
        EXPECT_EQ(SavedAsBinary(w, dir), std::string("\x01\x02\xAA\xBB\xCC\xDD\x03\x04\x05\x06\x22\x33\x11\x12"
                                                     "\x07\x08\x09\x0A\x31\x32\x41\x42\xAA\xBB\xCC"));
        EXPECT_TRUE(w.messages.empty());
    }
    {
        SCOPED_TRACE("UDP");
        EthernetWindow w(true);
        TMain* m = w.m;
        m->DataFormat = terminal::dfHW;
        const std::uint16_t port = StartUdp(w);
        ASSERT_NE(port, 0);
        Peer a, b;
        const auto& count = m->PortSlots[terminal::PortSlotMain].RxCount;
        auto say = [&](const Peer& peer, const std::string& bytes) {
            const std::uint64_t want = count + bytes.size();
            peer.SendTo(port, bytes);
            return test_support::PumpUntil([&] { return count == want; });
        };
        ASSERT_TRUE(say(a, "\x01\x02\x03"));
        ASSERT_TRUE(say(b, "\xAA\xBB\xCC\xDD\xEE"));
        ASSERT_TRUE(say(a, "\x04\x05"));
        ASSERT_TRUE(say(a, "\x06"));
        ASSERT_TRUE(say(b, "\xFF"));
        ASSERT_TRUE(w.ShowReceived());
        const std::string from_a = "UDP data from 127.0.0.1:" + std::to_string(a.Port()) + ":";
        const std::string from_b = "UDP data from 127.0.0.1:" + std::to_string(b.Port()) + ":";
        EXPECT_EQ(LinesFromFirstName(w),
                  (std::vector<std::string>{from_a, "0201", from_b, "BBAA DDCC", from_a, "0403 0605", from_b, "FFEE"}));
        EXPECT_EQ(SavedAsBinary(w, dir), "\x01\x02\xAA\xBB\xCC\xDD\x03\x04\x05\x06\xEE\xFF");

        // The graph opened in the middle of a peer's word pairs the bytes it
        // gets from then on, each peer its own, out of step with the list:
        // A's 52 waits there for A's 53, B's word between.
        const std::size_t before = w.Lines().size();
        ASSERT_TRUE(say(a, "\x51"));
        w.graph->Show();
        ASSERT_TRUE(w.graph->Visible());
        ASSERT_TRUE(say(a, "\x52"));
        ASSERT_TRUE(say(b, "\x61\x62"));
        ASSERT_TRUE(say(a, "\x53\x54"));
        ASSERT_TRUE(w.ShowReceived());
        const std::vector<std::string> all = w.Lines();
        std::vector<std::string> after(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        std::erase_if(after, [](const std::string& line) { return line.empty(); });
        EXPECT_EQ(after, (std::vector<std::string>{from_a, "5251", from_b, "6261", from_a, "5453"}));
        ASSERT_EQ(w.graph->PointCount(), 2);
        EXPECT_EQ(w.graph->serLine->YValues().Value(0), 0x6261);
        EXPECT_EQ(w.graph->serLine->YValues().Value(1), 0x5352);
        EXPECT_TRUE(w.messages.empty());
    }
}

// UDP senders without end (each from an address of its own, 127.0.x.y) that
// each leave a low byte waiting: the word view keeps the bytes of the latest
// TReceivePanel::MaxWaitingPeers of them. The sender heard from longest ago
// is done with as if it had gone: its byte shows alone, under its name, and
// its next two bytes pair with each other; the next oldest still completes
// its word. Senders show no name line while their bytes wait.
TEST(ethernet_port_e2e, udp_senders_past_the_bound_of_waiting_words_show_the_oldest_low_byte_alone) {
    EthernetWindow w;
    w.m->DataFormat = terminal::dfHW;
    const std::uint16_t port = StartUdp(w);
    ASSERT_NE(port, 0);
    const auto& count = w.m->PortSlots[terminal::PortSlotMain].RxCount;
    struct Sender {
        int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        explicit Sender(std::size_t n) {
            sockaddr_in a = test_support::LoopbackAddress(0);
            a.sin_addr.s_addr = htonl(0x7F000000u | static_cast<std::uint32_t>(((1 + n / 250) << 8) | (1 + n % 250)));
            EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << n;
        }
        ~Sender() { ::close(fd); }
        std::string Name() const {
            sockaddr_in a{};
            socklen_t size = sizeof a;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
            const std::uint32_t ip = ntohl(a.sin_addr.s_addr);
            return "UDP data from 127.0." + std::to_string((ip >> 8) & 0xFF) + "." + std::to_string(ip & 0xFF) + ":" +
                   std::to_string(ntohs(a.sin_port)) + ":";
        }
    };
    // Each datagram is taken before the next is sent.
    auto say = [&](const Sender& from, const std::string& bytes) {
        const std::uint64_t want = count + bytes.size();
        sockaddr_in to = test_support::LoopbackAddress(port);
        EXPECT_EQ(::sendto(from.fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(bytes.size()));
        return test_support::PumpUntil([&] { return count == want; });
    };
    const Sender first(0), second(1);
    ASSERT_TRUE(say(first, "\x11"));
    ASSERT_TRUE(say(second, "\x22"));
    for (std::size_t n = 2; n <= terminal::TReceivePanel::MaxWaitingPeers; ++n) {
        const Sender other(n);
        ASSERT_TRUE(say(other, "\x01")) << n;
    }
    // The second completes its word (and waits no more), so that the first,
    // heard anew, finds room.
    ASSERT_TRUE(say(second, "\x55"));
    ASSERT_TRUE(say(first, "\x33\x44"));
    ASSERT_TRUE(w.ShowReceived());
    // Each sender's data under its own name; the others still wait.
    std::vector<std::string> shown;
    for (const std::string& line : LinesFromFirstName(w)) {
        if (line.empty()) continue;
        const bool named = line.rfind("UDP data from", 0) == 0;
        shown.push_back(line == first.Name() ? "first:" : line == second.Name() ? "second:" : named ? "other:" : line);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"first:", "11", "second:", "5522", "first:", "4433"}));
    EXPECT_TRUE(w.messages.empty());
}

// The window's Ethernet port opened as a TCP server with Count clients, and
// a plug-in of the given source (written into Dir) loaded: the clients; none
// when the server did not open or a client was not taken (recorded).
std::vector<std::unique_ptr<TcpPeer>> ServeWithPlugin(EthernetWindow& w, std::size_t Count,
                                                      const test_support::TempDir& Dir, const std::string& Plugin) {
    if (!StartServer(w, 0)) return {};
    std::vector<std::unique_ptr<TcpPeer>> clients = ConnectClients(w, static_cast<int>(Count));
    if (clients.size() != Count) return {};
    LoadPlugin(w, Dir, Plugin);
    return clients;
}

// Bytes of a pattern of a client's own, so that whose they are shows.
std::string Pattern(std::size_t Count, int Client) {
    std::string s(Count, '\0');
    for (std::size_t i = 0; i < Count; ++i) s[i] = static_cast<char>((i * 7 + 40 * Client) & 0xFF);
    return s;
}

// What a text output file holds of each of a server's clients, as a reader
// following its name lines reads it: a line of HEX tokens (the first may
// carry the port's mark) is the data of the client named last. A line that
// is no data (a name line cut short) gives nothing, nor does a token cut
// short at the end, where a writer stopped.
std::map<int, std::string> FileByNames(std::string Text) {
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    const std::size_t last = Text.find_last_of(" \r");
    if (const std::string tail = Text.substr(last == std::string::npos ? 0 : last + 1); tail.size() == 1 && hex(tail[0]))
        Text.pop_back();
    const std::string prefix = "RV data from CliIdx=";
    std::map<int, std::string> read;
    int named = 0;
    std::istringstream lines(Text);
    for (std::string line; std::getline(lines, line, '\r');) {
        if (line.rfind(prefix, 0) == 0) {
            named = std::atoi(line.c_str() + prefix.size());
            continue;
        }
        std::vector<std::string> tokens = Tokens(line);
        if (!tokens.empty() && tokens[0].size() == 3 && !hex(tokens[0][0])) tokens[0].erase(0, 1);
        std::string bytes;
        const bool data = std::all_of(tokens.begin(), tokens.end(), [&](const std::string& t) {
            if (t.size() != 2 || !hex(t[0]) || !hex(t[1])) return false;
            bytes.push_back(static_cast<char>(std::stoi(t, nullptr, 16)));
            return true;
        });
        if (data) read[named] += bytes;
    }
    return read;
}

// A server's clients 1 and 2 send in turn into output to a FIFO whose reader
// never takes anything, so that the second client's bytes stay with the
// output: after the stall limit it fails, and what its pipe never took comes
// back to the list, each client's bytes under a line that names that client
// whatever the list named last (client 2's receive event names client 2
// there with its line). A reader following the name lines of the pipe and
// of the list gives every byte to the client that sent it, each once. In
// binary and as text, client 2 first and client 1 first.
TEST(ethernet_port_e2e, a_failed_output_gives_back_what_its_pipe_never_took_under_each_clients_name) {
    const test_support::ScopedEnv stall("VOSTREL_TEST_WRITE_STALL_MS", "300");
    struct Case {
        const char* what;
        int filter;  // 1 text, 2 binary
        int first;   // the client that sends first
        std::size_t first_size, second_size;
    };
    // The pipe holds 4096 bytes: all of the first client's (as text each
    // byte takes three), not all of the second's.
    const Case cases[] = {
        {"binary, client 2 first", 2, 2, 3000, 3000},
        {"binary, client 1 first", 2, 1, 3000, 3000},
        {"text, client 2 first", 1, 2, 1000, 3000},
        {"text, client 1 first", 1, 1, 1000, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EthernetWindow w;
        TMain* m = w.m;
        test_support::TempDir dir;
        const std::vector<std::unique_ptr<TcpPeer>> clients =
            ServeWithPlugin(w, 2, dir, "procedure OnReceive2; begin AddMsg('got ' + IntToStr(Length(RD2))); end;");
        ASSERT_EQ(clients.size(), 2u);
        const std::string pipe = dir.File("pipe");
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        test_support::FifoReader reader(pipe);
        ASSERT_TRUE(reader.SetCapacity(4096));
        vcl::Application->DialogHook = [&](vcl::TCommonDialog& d) {
            auto& sd = static_cast<vcl::TOpenDialog&>(d);
            sd.FileName = pipe;
            sd.FilterIndex = c.filter;
            return true;
        };
        ASSERT_TRUE(test_support::ClickMenu(m, "Outputtofile1"));
        vcl::Application->DialogHook = nullptr;
        ASSERT_TRUE((m->OutputOn() != nullptr));

        const int second = 3 - c.first;
        const std::map<int, std::string> sent = {{c.first, Pattern(c.first_size, c.first)},
                                                 {second, Pattern(c.second_size, second)}};
        const auto& main_count = m->PortSlots[terminal::PortSlotMain].RxCount;
        const auto& second_count = m->PortSlots[terminal::PortSlot2].RxCount;
        // The first client's bytes are handed on (into the pipe) before the
        // second client speaks.
        clients[static_cast<std::size_t>(c.first - 1)]->Send(sent.at(c.first));
        ASSERT_TRUE(test_support::PumpUntil([&] { return main_count + second_count == c.first_size; }));
        clients[static_cast<std::size_t>(second - 1)]->Send(sent.at(second));
        ASSERT_TRUE(test_support::PumpUntil([&] {
            return m->OutputOn() == nullptr && main_count + second_count == c.first_size + c.second_size;
        }));
        ASSERT_TRUE(w.ShowReceived());

        const std::string piped = reader.Take();
        std::map<int, std::string> in_pipe;
        if (c.filter == 2) {
            // Raw bytes name nobody: the pipe holds the start of what came,
            // in order.
            const std::string came = sent.at(c.first) + sent.at(second);
            ASSERT_TRUE(came.compare(0, piped.size(), piped) == 0) << "the pipe holds other bytes";
            in_pipe[c.first] = piped.substr(0, std::min(piped.size(), c.first_size));
            if (piped.size() > c.first_size) in_pipe[second] = piped.substr(c.first_size);
        } else {
            in_pipe = FileByNames(piped);
        }
        const std::map<int, std::string> listed = ReadByMarkers(m);
        EXPECT_TRUE(listed.count(second) && !listed.at(second).empty())
            << "nothing came back to the list under client " << second << "'s name";
        std::map<int, std::string> both = in_pipe;
        for (const auto& [client, bytes] : listed) both[client] += bytes;
        std::erase_if(both, [](const auto& e) { return e.second.empty(); });
        EXPECT_TRUE(both == sent) << "pipe and list do not hold each client's bytes once, under its name: the list has "
                                  << (listed.count(1) ? listed.at(1).size() : 0) << " bytes under client 1, "
                                  << (listed.count(2) ? listed.at(2).size() : 0) << " under client 2, "
                                  << (listed.count(0) ? listed.at(0).size() : 0) << " under no name; the pipe "
                                  << piped.size() << " bytes";
        EXPECT_TRUE(w.messages.empty());
    }
}

// A plug-in's line about a chunk read before the list was cleared comes
// under its client's name: client 2's receive event waits while client 3
// sends twice (its chunk waits behind the event), the user clears the list
// and client 1's byte is shown; the line the event adds for client 3's chunk
// afterwards is named for client 3, not left under client 1's name.
TEST(ethernet_port_e2e, a_plugin_line_about_a_chunk_read_before_a_clear_comes_under_its_clients_name) {
    EthernetWindow w;
    TMain* m = w.m;
    test_support::TempDir dir;
    const std::vector<std::unique_ptr<TcpPeer>> clients = ServeWithPlugin(
        w, 3, dir,
        std::string(test_support::kWaitForGo) +
            "procedure OnReceive2; begin AddMsg('#' + RD2); if Pos('W', RD2) > 0 then WaitForGo; end;");
    ASSERT_EQ(clients.size(), 3u);
    const auto& main_count = m->PortSlots[terminal::PortSlotMain].RxCount;
    test_support::WhileBusy inside(*m, [&] {
        EXPECT_TRUE(test_support::PumpUntil([&] { return m->GetPluginVar("WAITING") == "1"; }));
        for (const char letter : {'y', 'Y'}) {
            clients[2]->Send(std::string(1, letter));
            EXPECT_TRUE(test_support::PumpUntil([&] {
                return m->RxQueue.Any([&](const terminal::TReceivedPiece& p) {
                    return p.Bytes.find(letter) != std::string::npos;
                });
            }));
        }
        EXPECT_TRUE(test_support::ClickMenu(m, "Clearm"));
        clients[0]->Send("a");
        EXPECT_TRUE(test_support::PumpUntil([&] { return main_count == 1u; }));
        m->SetPluginVar("GO", "1");
    });
    clients[1]->Send("W");
    ASSERT_TRUE(test_support::PumpUntil([&] { return inside.done && !m->PluginBusy && w.Has("#yY"); }));
    ASSERT_TRUE(w.ShowReceived());
    std::vector<std::string> lines = w.Lines();
    std::erase_if(lines, [](const std::string& line) { return line.empty(); });
    EXPECT_EQ(lines, (std::vector<std::string>{"RV data from CliIdx=1", "61", "RV data from CliIdx=3", "#yY"}));
    EXPECT_TRUE(w.messages.empty());
}

// The far end of a TCP client sends while the receive event waits, then
// closes: the lines about its going come after its data, which waited for
// the event, never ahead of it.
TEST(ethernet_port_e2e, a_tcp_clients_disconnect_comes_after_the_data_that_waited_for_its_event) {
    EthernetWindow w;
    TMain* m = w.m;
    TcpListener far;
    ports::TfrmForPEth* frame = ChooseEthernet(m, ports::erTCPClient);
    ASSERT_TRUE(frame);
    frame->edDstIp->SetText("127.0.0.1");
    frame->edDstPort->SetText(std::to_string(far.Port()));
    m->sbPort->Click();
    int accepted = -1;
    ASSERT_TRUE(test_support::PumpUntil([&] { return (accepted = far.Accept()) >= 0; }));
    TcpPeer device(accepted);
    test_support::TempDir dir;
    LoadPlugin(w, dir, std::string(test_support::kWaitForGo) + "procedure OnReceive; begin if RD = 'S' then WaitForGo; end;");
    const std::size_t before = w.Lines().size();
    test_support::WhileBusy inside(*m, [&] {
        ASSERT_TRUE(test_support::PumpUntil([&] { return m->GetPluginVar("WAITING") == "1"; }));
        device.Send("abc");
        ASSERT_TRUE(test_support::PumpUntil([&] {
            return m->RxQueue.Any([](const terminal::TReceivedPiece& p) { return p.Bytes == "abc"; });
        }));
        device.Close();
        // The loop's turns meanwhile: the port sees the close.
        ASSERT_TRUE(test_support::PumpUntil([&] { return !m->ForeignPort->Active(); }));
        test_support::Pump(std::chrono::milliseconds(100));
        m->SetPluginVar("GO", "1");
    });
    device.Send("S");
    ASSERT_TRUE(test_support::PumpUntil([&] { return inside.done && !m->PluginBusy && m->RxQueue.Empty(); }));
    ASSERT_TRUE(w.ShowReceived());
    const std::vector<std::string> all = w.Lines();
    std::vector<std::string> after(all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())), all.end());
    std::erase_if(after, [](const std::string& line) { return line.empty(); });
    ASSERT_GE(after.size(), 3u) << ::testing::PrintToString(after);
    EXPECT_EQ(after[0], "53 61 62 63") << ::testing::PrintToString(after);
    EXPECT_EQ(after[1], "Disconnect (No error)");
    EXPECT_EQ(after.back(), "Close Socket");
    EXPECT_TRUE(w.messages.empty());
}

}  // namespace

// The window closes while a save of the list waits for a slow reader: the
// plug-in (its load event sending 'P' and waiting in Recv) is stopped, the
// transmit timer ends and the Ethernet port closes at once, in every role
// (a server stops listening and lets its client go, a client lets its server
// go, UDP gives its local port back), while the save is still being written;
// the reader still gets the whole save, and the far side gets nothing more
// once the port has let it go.
TEST(ethernet_port_e2e, the_close_lets_go_of_the_port_and_the_plugin_at_once_while_a_save_is_written_on) {
    using namespace std::chrono_literals;
    const std::string listed(100000, 'L');
    std::vector<std::string> voids;
    for (const int role : {ports::erTCPServer, ports::erTCPClient, ports::erUDP}) {
        SCOPED_TRACE(role == ports::erTCPServer ? "TCP server" : role == ports::erTCPClient ? "TCP client" : "UDP");
        EthernetWindow w;
        TMain* m = w.m;
        test_support::DialogAnswers answers;
        ports::TfrmForPEth* frame = ChooseEthernet(m, role);
        ASSERT_TRUE(frame);
        // The far side: a peer the port talks with, and whether the port has
        // let go of what it held (asked from the probe's thread).
        TcpListener far_server;
        Peer datagrams;
        std::unique_ptr<TcpPeer> peer;
        std::uint16_t local = 0;
        if (role == ports::erTCPClient) {
            frame->edDstIp->SetText("127.0.0.1");
            frame->edDstPort->SetText(std::to_string(far_server.Port()));
        } else {
            frame->edLocalPort->SetText("0");
            frame->edDstIp->SetText(role == ports::erUDP ? "127.0.0.1" : "0.0.0.0");
            if (role == ports::erUDP) frame->edDstPort->SetText(std::to_string(datagrams.Port()));
        }
        m->sbPort->Click();
        ASSERT_TRUE(m->ForeignPort->Active()) << (w.messages.empty() ? "" : w.messages.back());
        if (role == ports::erTCPClient) {
            int accepted = -1;
            ASSERT_TRUE(test_support::PumpUntil([&] { return (accepted = far_server.Accept()) >= 0; }));
            peer = std::make_unique<TcpPeer>(accepted);
        } else {
            local = PortOf(m);
            ASSERT_NE(local, 0);
        }
        if (role == ports::erTCPServer) {
            peer = std::make_unique<TcpPeer>(local);
            ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("(Idx=1)"); }));
        }
        // What the list will save: 100,000 bytes from the far side.
        for (std::size_t at = 0; at < listed.size(); at += 1000) {
            const std::string piece = listed.substr(at, 1000);
            if (peer)
                peer->Send(piece);
            else
                datagrams.SendTo(local, piece);
            ASSERT_TRUE(test_support::PumpUntil(
                [&] { return m->PortSlots[terminal::PortSlotMain].RxCount == at + piece.size(); }));
        }
        ASSERT_TRUE(w.ShowReceived());
        auto let_go = [&] {
            if (role == ports::erUDP) {
                // Its local port is free again.
                test_support::Fd probe(::socket(AF_INET, SOCK_DGRAM, 0));
                sockaddr_in a = test_support::LoopbackAddress(local);
                return ::bind(probe.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            }
            // The connection is closed: the peer reads its end.
            char c;
            const ssize_t n = ::recv(peer->fd, &c, 1, MSG_DONTWAIT | MSG_PEEK);
            if (n != 0) return false;
            if (role == ports::erTCPClient) return true;
            // And nobody listens any more.
            test_support::Fd probe(::socket(AF_INET, SOCK_STREAM, 0));
            sockaddr_in a = test_support::LoopbackAddress(local);
            return ::connect(probe.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
        };
        // What the far side got from the program: the plug-in's 'P's and
        // the transmit timer's "T"s.
        auto take_sent = [&] {
            char buf[4096];
            const int fd = peer ? peer->fd : datagrams.fd;
            std::string got;
            for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;) got.append(buf, static_cast<std::size_t>(n));
            return got;
        };
        m->TRFormat = terminal::trfAsc;
        m->TrLineBreak = "";
        m->TrBCB->SetText("T");
        m->TrBCBChange(m->TrBCB);
        m->TmrEd->SetText("0.1");
        m->TmrEnCB->SetChecked(true);

        const std::string fifo = w.dir.File("list.bin");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        test_support::FifoReader reader(fifo);
        ASSERT_TRUE(reader.SetCapacity(4096));
        reader.TakeEvery(4096, 100ms);
        // The probe, beside the window: when the port let go, and what the
        // reader had taken of the save then; what the far side got after.
        std::atomic<bool> stop{false}, released{false};
        std::atomic<std::size_t> taken_at_release{0};
        std::atomic<std::chrono::steady_clock::time_point> closed_at{}, released_at{};
        std::string sent_before, sent_after;
        std::thread probe([&] {
            while (!stop) {
                (released ? sent_after : sent_before) += take_sent();
                if (!released && let_go()) {
                    taken_at_release = reader.Taken().size();
                    released_at = std::chrono::steady_clock::now();
                    released = true;
                }
                std::this_thread::sleep_for(5ms);
            }
            sent_after += take_sent();
        });
        // The user saves the list onto the pipe while the plug-in's load
        // event runs, and closes the window while the save waits.
        bool saved = false;
        test_support::ProcessorShare share;
        QTimer::singleShot(600, [&] {
            closed_at = std::chrono::steady_clock::now();
            QCoreApplication::postEvent(m->Widget(), new QCloseEvent);
            answers.Answer(fifo, 2);
            ASSERT_TRUE(test_support::ClickMenu(m, "mSaveAll"));
            saved = true;
        });
        const std::string plugin = w.dir.File("poll.pas");
        vcl::SaveStrToFile("procedure OnLoad;\nvar s: string;\nbegin\n  while True do begin\n    Send('P');\n"
                           "    Recv(0, 200, s);\n  end;\nend;\n",
                           plugin);
        m->LoadPlugin(plugin);
        EXPECT_TRUE(saved);
        EXPECT_FALSE(m->PluginBusy);
        EXPECT_FALSE(m->Visible());
        ASSERT_TRUE(test_support::PumpUntil([&] { return released.load(); }, 10s)) << "the port was never let go";
        // The close ends once the save has returned.
        EXPECT_TRUE(test_support::PumpUntil([] { return !vcl::Application->FinishingWrites(); }));
        std::this_thread::sleep_for(300ms);
        stop = true;
        probe.join();
        reader.StopTaking();
        const std::string got = reader.Taken() + reader.Take();
        // Let go within a second of the close (in the time the machine gave
        // the test), while the save is still being written: a save written
        // whole leaves no more than the pipe holds to its reader, who takes
        // 100,000 bytes in 2.5 s.
        test_support::TimeBounds bounds;
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(released_at.load() - closed_at.load());
        EXPECT_TRUE(bounds.Within(share, took, 1s, "letting go of the port after the close"));
        if (!bounds.Void())
            EXPECT_LT(taken_at_release.load() + 2 * 4096, listed.size())
                << "the port was let go only once the save was written";
        else
            voids.push_back(bounds.Text());
        EXPECT_TRUE(got == listed) << "the reader got " << got.size() << " of the " << listed.size() << " bytes";
        EXPECT_NE(sent_before.find('P'), std::string::npos) << "the plug-in never sent";
        EXPECT_EQ(sent_after, "") << "sent after the port let go";
    }
    if (!voids.empty()) GTEST_SKIP() << voids.front();
}
