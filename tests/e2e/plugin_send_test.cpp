// A plug-in's Send and Send2, and a line the user sends, to a device that
// reads slowly or not at all: pseudo-terminals play the devices behind COM5
// and COM6 and never read until the end. The write time-outs of the ports are lowered through the
// driver's own setting, so that what takes 10 s in use takes a moment here.
// What is counted as sent is what the device gets, also when the port is
// opened anew (a speed change) while bytes still wait for it. Over UDP a
// local peer plays the device.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "e2e/plugin_window.h"
#include "ports/ethernet_port.h"
#include "support/loopback.h"
#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;
using terminal::TMain;
using test_support::PluginWindow;

const std::string kRunning = std::string(terminal::kPluginRunningText) + ".";

constexpr const char* kSender = R"(
procedure OnReceive;
var n, i: Integer;
begin
  if RD = 'big' then
  begin
    n := Send(StringOfChar('A', 200000));
    AddMsg('sent ' + IntToStr(n));
  end
  else if RD = 'more' then
  begin
    for i := 1 to 3 do Send(StringOfChar('B', 1000));
  end
  else if RD = 'two' then
    AddMsg('sent2 ' + IntToStr(Send2(StringOfChar('C', 200000))))
  else if RD = 'stop' then
  begin
    Send(StringOfChar('D', 100));
    AddMsg('after the stop');
  end;
end;
)";

struct SendWindow : test_support::TwoPortWindow {
    SendWindow() : TwoPortWindow(kSender) {}
};

// What the first "big" Send answered (its message line, "sent <n>"), the
// part of its 200000 bytes that went out: all of the counter, and told by
// the one error line there is, with the reason given.
std::uint32_t PartOfTheBigSend(const SendWindow& w, const std::string& Why) {
    const std::string sent = w.LastMsg();
    EXPECT_EQ(sent.rfind("sent ", 0), 0u) << sent;
    if (sent.rfind("sent ", 0) != 0) return 0;
    const auto n = static_cast<std::uint32_t>(std::stoul(sent.substr(5)));
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, 200000u);
    EXPECT_EQ(w.main->SentCount, n);
    EXPECT_EQ(w.LinesOf(terminal::dfERR),
              std::vector<std::string>{"Send: " + std::to_string(n) + " of 200000 sent (" + Why + ")"});
    return n;
}

TEST(plugin_send, a_send_the_device_cannot_take_says_so_keeps_the_window_going_and_the_port_to_itself) {
    SendWindow w;
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(m->cp2->Connected()) << ::testing::PrintToString(w.Messages);
    m->cp1->SetWriteTimeouts(0, 300);
    m->cp2->SetWriteTimeouts(0, 300);
    m->mStringModeClick(m->pmTRFormat->Items()->Items(terminal::trfAsc));
    m->SetLineBreak(true, 4);
    m->TrBCB->SetText("T");
    m->TrBCBChange(m->TrBCB);

    // While the Send waits, the loop runs: the user's Transmit is refused
    // and a tick of the transmit timer sends nothing.
    ASSERT_TRUE(test_support::Exchange(w, "big", [&] {
        test_support::ClickControl(*m->Transb);
        m->TransbClick(m->tmr1);
    }));
    ASSERT_EQ(w.Messages, std::vector<std::string>{kRunning});
    const std::uint32_t n = PartOfTheBigSend(w, "time-out 300 ms");

    // The same failure again and again is one line with its count.
    ASSERT_TRUE(test_support::Exchange(w, "more"));
    std::vector<std::string> errors = w.LinesOf(terminal::dfERR);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1], "Send: 0 of 1000 sent (time-out 300 ms) [3]");

    // Send2 on the second port alike.
    ASSERT_TRUE(test_support::Exchange(w, "two"));
    const std::string sent2 = w.LastMsg();
    ASSERT_EQ(sent2.rfind("sent2 ", 0), 0u) << sent2;
    errors = w.LinesOf(terminal::dfERR);
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[2], "Send2: " + sent2.substr(6) + " of 200000 sent (time-out 300 ms)");

    // Unload ends a waiting Send at once, whatever its time-out.
    m->cp1->SetWriteTimeouts(0, 20000);
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare start;
    ASSERT_TRUE(test_support::Exchange(w, "stop", [&] {
        EXPECT_TRUE(test_support::ChoosePluginEntry(*m, m->mUnloadPlugin));
    }));
    EXPECT_TRUE(bounds.Within(start, 5s, "the unload of a Send waiting with a time-out of 20 s"));
    EXPECT_EQ(m->Script, nullptr);
    EXPECT_NE(w.LastMsg(), "after the stop");
    errors = w.LinesOf(terminal::dfERR);
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[3], "Send: 0 of 100 sent (plugin stopped)");

    // The device gets the plug-in's bytes alone: no T in the middle.
    EXPECT_EQ(w.dev.Read(300000, 500ms), std::string(n, 'A'));
    EXPECT_EQ(w.second.Read(300000, 500ms).size(), std::stoul(sent2.substr(6)));
    EXPECT_EQ(w.Messages, std::vector<std::string>{kRunning});

    // A line the user sends that the device takes only in part says so too.
    m->cp1->SetWriteTimeouts(0, 300);
    m->TrBCB->SetText(std::string(65536, 'T'));
    m->TrBCBChange(m->TrBCB);
    test_support::ClickControl(*m->Transb);
    const std::string taken = w.dev.Read(300000, 500ms);
    EXPECT_LT(taken.size(), 65536u);
    errors = w.LinesOf(terminal::dfERR);
    ASSERT_EQ(errors.size(), 5u);
    EXPECT_EQ(errors[4], "Transmit: " + std::to_string(taken.size()) + " of 65536 sent (time-out 300 ms)");
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(plugin_send, a_line_setting_changed_while_bytes_wait_for_the_device_keeps_the_port_and_the_send) {
    SendWindow w;
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(m->cp2->Connected()) << ::testing::PrintToString(w.Messages);
    const int fast = m->speedcb->Items().IndexOf("19200"), slow = m->speedcb->Items().IndexOf("9600");
    ASSERT_GE(fast, 0);
    ASSERT_GE(slow, 0);

    // The user picks another speed while the plug-in's Send waits for the
    // device: the port stays open with the new speed, the Send goes on, and
    // once the device reads it gets every byte, once.
    std::string got;
    std::thread reader;
    ASSERT_TRUE(test_support::Exchange(w, "big", [&] {
        m->speedcb->SelectByUser(fast);
        EXPECT_TRUE(m->cp1->Connected());
        reader = std::thread([&] { got = w.dev.Read(200000, 20s); });
    }));
    reader.join();
    ASSERT_EQ(m->cp1->BaudRateValue(), 19200u);
    EXPECT_EQ(w.LastMsg(), "sent 200000");
    EXPECT_EQ(m->SentCount, 200000u);
    EXPECT_EQ(w.LinesOf(terminal::dfERR), std::vector<std::string>{});
    EXPECT_EQ(got, std::string(200000, 'A'));

    // A line the user sent that the device has not read yet, then a speed
    // change: the device still gets it.
    m->cp1->SetWriteTimeouts(0, 300);
    m->mStringModeClick(m->pmTRFormat->Items()->Items(terminal::trfAsc));
    m->SetLineBreak(true, 4);
    m->TrBCB->SetText(std::string(65536, 'T'));
    m->TrBCBChange(m->TrBCB);
    test_support::ClickControl(*m->Transb);
    const std::uint64_t line = m->SentCount - 200000;
    EXPECT_GT(line, 0u);
    EXPECT_LT(line, 65536u);
    m->speedcb->SelectByUser(slow);
    ASSERT_EQ(m->cp1->BaudRateValue(), 9600u);
    ASSERT_TRUE(m->cp1->Connected());
    EXPECT_EQ(w.dev.Read(300000, 500ms).size(), line);

    // Send2 on the second port alike.
    std::string got2;
    ASSERT_TRUE(test_support::Exchange(w, "two", [&] {
        m->speedcb->SelectByUser(fast);
        reader = std::thread([&] { got2 = w.second.Read(200000, 20s); });
    }));
    reader.join();
    ASSERT_EQ(m->cp2->BaudRateValue(), 19200u);
    ASSERT_TRUE(m->cp2->Connected());
    EXPECT_EQ(w.LastMsg(), "sent2 200000");
    EXPECT_EQ(got2, std::string(200000, 'C'));
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

TEST(plugin_send, a_send_longer_than_a_datagram_is_refused_and_the_udp_port_stays_open) {
    PluginWindow w(R"(
procedure OnReceive;
begin
  if RD = 'go' then
  begin
    AddMsg('too long ' + IntToStr(Send(StringOfChar('A', 65508))));
    AddMsg('longest ' + IntToStr(Send(StringOfChar('B', 65507))));
  end;
end;
)");
    TMain* m = w.main;
    ASSERT_NE(m->Script, nullptr) << ::testing::PrintToString(w.Messages);
    // The far side: a UDP socket on 127.0.0.1 that datagrams go to.
    test_support::Fd peer(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0));
    sockaddr_in any = test_support::LoopbackAddress(0);
    ASSERT_EQ(::bind(peer.fd, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    const int room = 1 << 20;
    ::setsockopt(peer.fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    // The main port becomes the Ethernet port in the UDP role, sending to the peer.
    m->ComNcb->SelectByUser(m->ComNcb->Items().IndexOfObject(ports::EthernetPortId));
    ASSERT_TRUE(m->ForeignPort);
    auto* frame = static_cast<ports::TfrmForPEth*>(m->ForeignPort->Frame());
    frame->edLocalPort->SetText("0");
    frame->edDstIp->SetText("127.0.0.1");
    frame->edDstPort->SetText(std::to_string(test_support::BoundPort(peer.fd)));
    m->sbPort->Click();
    ASSERT_TRUE(m->ForeignPort->Active()) << ::testing::PrintToString(w.Messages);
    auto* port = static_cast<ports::TEthernetPort*>(m->ForeignPort.get());
    const std::uint16_t local = test_support::SocketPort(port->Transport()->Socket());
    const sockaddr_in to = test_support::LoopbackAddress(local);
    const auto tell = [&](const std::string& bytes) {
        const auto* at = reinterpret_cast<const sockaddr*>(&to);
        return ::sendto(peer.fd, bytes.data(), bytes.size(), 0, at, sizeof to) ==
               static_cast<ssize_t>(bytes.size());
    };

    // One byte too many for a datagram: refused with its line, 0 for the
    // plug-in, the port open; the longest datagram goes out whole.
    ASSERT_TRUE(tell("go"));
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.LastMsg().rfind("longest ", 0) == 0; })) << w.AllLines();
    EXPECT_EQ(w.LinesOf(terminal::dfERR),
              std::vector<std::string>{"Error: SendData: 65508 bytes not sent (UDP max 65507)"});
    std::vector<std::string> msgs = w.LinesOf(terminal::dfMSG);
    ASSERT_GE(msgs.size(), 2u);
    EXPECT_EQ(msgs[msgs.size() - 2], "too long 0");
    EXPECT_EQ(msgs.back(), "longest 65507");
    EXPECT_EQ(std::count(msgs.begin(), msgs.end(), "Close Socket"), 0);
    EXPECT_TRUE(m->ForeignPort->Active());
    std::string got(70000, '\0');
    ssize_t n = -1;
    ASSERT_TRUE(test_support::PumpUntil([&] { return (n = ::recv(peer.fd, got.data(), got.size(), 0)) >= 0; }));
    EXPECT_EQ(got.substr(0, static_cast<std::size_t>(n)), std::string(65507, 'B'));
    EXPECT_EQ(m->SentCount, 65507u);

    // What the peer sends afterwards is received.
    const std::uint64_t before = w.RxCount();
    ASSERT_TRUE(tell("after"));
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.RxCount() == before + 5; }));
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

}  // namespace
