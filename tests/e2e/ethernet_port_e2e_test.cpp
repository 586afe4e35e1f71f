// The Ethernet port through the main window: chosen in the main port list,
// set up in its frame, opened with the port button, and a datagram from a
// peer on 127.0.0.1 ends up in the receive panel; a reply goes back to it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/vcl/forms.h"
#include "ports/ethernet_port.h"
#include "support/loopback.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "terminal/main_form.h"

namespace {

using terminal::TMain;

constexpr std::uint16_t kListenPort = 40000;

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

struct EthernetWindow {
    test_support::TempDir dir;
    std::vector<std::string> messages;
    TMain* m = nullptr;

    EthernetWindow() {
        vcl::EnsureApplication();
        vcl::Application->MessageHook = [this](const vcl::TMessageRequest& r) {
            messages.push_back(r.Text);
            return vcl::IDOK;
        };
        m = new TMain(vcl::Application);
        m->ConfigFileName = dir.File("vostrel.ini");
        m->FormActivate(m);
        m->RVPnlTime = 0;  // lines without a time stamp
    }
    ~EthernetWindow() {
        vcl::TComponent::Free(m);
        vcl::Application->MessageHook = nullptr;
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
    frame->edLocalPort->SetText(std::to_string(kListenPort));
    frame->edDstIp->SetText("0.0.0.0");  // no destination: replies go to the last sender
    m->mShowWrites->SetChecked(true);

    m->sbPort->Click();
    ASSERT_TRUE(m->ForeignPort->Active()) << (w.messages.empty() ? "" : w.messages.back());
    EXPECT_FALSE(m->sbPort->Down());
    EXPECT_TRUE(w.Has("Start UDP (listen port 40000)"));

    Peer peer;
    peer.SendTo(kListenPort, "xyz");
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.Has("78 79 7A"); }));
    EXPECT_TRUE(w.Has("UDP data from 127.0.0.1:" + std::to_string(peer.Port()) + ":"));
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 3u);

    // A second datagram from the same sender brings no second information line.
    peer.SendTo(kListenPort, "!");
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

}  // namespace
