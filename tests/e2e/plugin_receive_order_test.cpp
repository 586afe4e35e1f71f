// What the device sends reaches the list and the raw output file in the order
// it was sent, also when the plug-in's receive event reads the rest of a frame
// itself or waits while more comes: a pseudo-terminal plays the device behind
// COM5.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "e2e/plugin_window.h"
#include "support/file_contents.h"

namespace {

using namespace std::chrono_literals;
using terminal::TMain;
using test_support::PluginWindow;

// A header that the event completes with Recv; a one-byte trigger followed
// by a large block, read with Recv; a byte on which the event waits in
// NBSleep while the device goes on sending. Each Recv ends once its bytes
// are in: its limit is only how long a busy machine may take to send them.
constexpr const char* kFramer = R"(
procedure OnReceive;
var body, big: string;
begin
  if RD = 'HDR' then
  begin
    if Recv(4, 20000, body) then AddMsg('body read: ' + body);
  end
  else if RD = 'T' then
  begin
    Recv(200000, 20000, big);
    AddMsg('block read: ' + IntToStr(Length(big)));
  end
  else if RD = 'W' then
    NBSleep(1000)
  else if RD = 'abc' then
    AddMsg('the event got abc');
end;
)";

TEST(plugin_receive_order, bytes_read_or_received_inside_onreceive_follow_the_chunk_that_started_it) {
    PluginWindow w(kFramer);
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);

    // The list: the body the event read comes after its header.
    ASSERT_TRUE(test_support::Exchange(w, "HDR", [&] { w.dev.Write("BODY"); }));
    EXPECT_EQ(w.LastMsg(), "body read: BODY");
    EXPECT_NE(w.AllLines().find("HDRBODY"), std::string::npos) << w.AllLines();
    EXPECT_EQ(w.RxCount(), 7u);

    // The raw output file gets every exchange as the device sent it.
    const std::string file = w.dir.File("raw.bin");
    m->RxRouter.OpenOutput(file, terminal::TListFileType::Binary);
    ASSERT_TRUE(test_support::Exchange(w, "HDR", [&] { w.dev.Write("BODY"); }));

    std::string block;
    for (int i = 0; i < 200000; ++i) block.push_back(static_cast<char>(i % 251));
    std::thread writer;
    ASSERT_TRUE(test_support::Exchange(w, "T", [&] {
        writer = std::thread([&] { w.dev.Write(block, 60s); });
    }));
    writer.join();
    EXPECT_EQ(w.LastMsg(), "block read: 200000");

    // While the event waits, what comes waits for it: counted, shown and
    // given to the event as its next chunk once the event is over.
    std::uint64_t counted_while_waiting = 0;
    const std::uint64_t before = w.RxCount();
    ASSERT_TRUE(test_support::Exchange(w, "W", [&] {
        w.dev.Write("abc");
        test_support::PumpUntil([&] { return w.RxCount() == before + 3; }, 300ms);
        counted_while_waiting = w.RxCount() - before;
    }));
    EXPECT_EQ(counted_while_waiting, 0u);
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.RxCount() == before + 4; }));
    ASSERT_TRUE(w.ShowReceived());
    EXPECT_EQ(w.LastMsg(), "the event got abc");
    m->SwitchOutputOff();

    const std::string raw = test_support::Slurp(file);
    EXPECT_EQ(raw.size(), 7 + 1 + block.size() + 4);
    EXPECT_TRUE(raw == "HDRBODY" "T" + block + "Wabc") << raw.substr(0, 16);
    EXPECT_EQ(w.RxCount(), before + 4);
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

// The event reads a byte at a time with Recv after the chunk that started
// it: what it takes waits behind that chunk however many single bytes it
// takes, as long as they are less than the port's input buffer (lowered
// here, so that a few thousand bytes are many).
TEST(plugin_receive_order, bytes_a_recv_takes_one_at_a_time_keep_behind_the_events_chunk) {
    constexpr int kDigits = 6000;
    PluginWindow w("procedure OnReceive; var i: Integer; c: string; begin if RD <> 'G' then Exit; "
                   "for i := 1 to " + std::to_string(kDigits) + " do Recv(1, 3000, c); Send('#'); end;");
    TMain* m = w.main;
    ASSERT_TRUE(w.LowerInputBuffer(64 * 1024)) << ::testing::PrintToString(w.Messages);
    const std::string file = w.dir.File("raw.bin");
    m->RxRouter.OpenOutput(file, terminal::TListFileType::Binary);
    std::string digits;
    for (int i = 0; i < kDigits; ++i) digits.push_back(static_cast<char>('0' + i % 10));
    std::thread writer;
    test_support::WhileBusy inside(*m, [&] { writer = std::thread([&] { w.dev.Write(digits, 30s); }); });
    ASSERT_EQ(w.dev.Write("G"), 1u);
    const bool over = test_support::PumpUntil([&] { return inside.done && !m->PluginBusy; }, 120s);
    if (writer.joinable()) writer.join();
    ASSERT_TRUE(over);
    EXPECT_EQ(w.dev.Read(1, 5s), "#");
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.RxCount() == 1u + kDigits; }));
    m->SwitchOutputOff();
    const std::string raw = test_support::Slurp(file);
    EXPECT_EQ(raw.find('G'), 0u);
    EXPECT_TRUE(raw == "G" + digits) << raw.size() << " bytes";
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

}  // namespace
