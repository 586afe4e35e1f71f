// The complete plug-ins of the plug-in author's manual (docs/plugins.md),
// taken from the document as it stands and run in the window against a
// pseudo-terminal playing the device each was written for.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "e2e/plugin_window.h"
#include "platform/rtl/str_proc.h"
#include "platform/vcl/file_text.h"

namespace {

using namespace std::chrono_literals;
using terminal::TMain;
using test_support::PluginWindow;

// The manual's plug-ins by file name: the code blocks whose fence reads
// "```pascal <name>.pas".
std::map<std::string, std::string> ManualPlugins() {
    const std::string doc = vcl::LoadStrFromFile(std::string(VOSTREL_SOURCE_DIR_DEFAULT) + "/docs/plugins.md");
    std::map<std::string, std::string> out;
    const std::string fence = "```pascal ";
    for (std::size_t at = doc.find(fence); at != std::string::npos; at = doc.find(fence, at + 1)) {
        const std::size_t eol = doc.find('\n', at);
        const std::string name = doc.substr(at + fence.size(), eol - at - fence.size());
        const std::size_t end = doc.find("\n```", eol);
        if (end == std::string::npos) break;
        out[name] = doc.substr(eol + 1, end - eol);
    }
    return out;
}

// A frame of the first example's protocol.
std::string Frame(const std::string& payload, int checksum_error = 0) {
    int sum = 0;
    for (char c : payload) sum += static_cast<unsigned char>(c);
    return std::string("\x02") + static_cast<char>(payload.size()) + payload +
           static_cast<char>((sum + checksum_error) % 256);
}

TEST(plugin_docs, the_manual_has_its_three_examples) {
    const auto plugins = ManualPlugins();
    EXPECT_EQ(plugins.size(), 3u);
    for (const char* name : {"frames.pas", "poller.pas", "graph_values.pas"}) EXPECT_EQ(plugins.count(name), 1u) << name;
}

TEST(plugin_docs, the_frame_decoder_checks_frames_that_come_in_pieces_and_frames_what_is_sent) {
    PluginWindow w(ManualPlugins()["frames.pas"]);
    TMain* m = w.main;
    ASSERT_NE(m->Script, nullptr) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(m->cp1->Connected());
    EXPECT_EQ(w.LastMsg(), "frame decoder ready");
    // Noise, a frame in two pieces, a frame with a wrong checksum.
    const std::string good = Frame("ABC");
    ASSERT_EQ(w.dev.Write("\x7F" + good.substr(0, 3)), 4u);
    test_support::Pump(100ms);
    EXPECT_EQ(w.LinesOf(terminal::dfMSG).size(), 1u);
    ASSERT_EQ(w.dev.Write(good.substr(3) + Frame("xy", 1)), 8u);
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.LinesOf(terminal::dfERR).size() == 1; }));
    // The plug-in emptied RD: nothing was counted.
    EXPECT_EQ(w.RxCount(), 0u);
    EXPECT_EQ(w.LinesOf(terminal::dfMSG), (std::vector<std::string>{"frame decoder ready", "frame: 41 42 43"}));
    EXPECT_EQ(w.LinesOf(terminal::dfERR), std::vector<std::string>{"bad checksum: 78 79"});
    // The raw bytes are not shown.
    EXPECT_EQ(m->RxPanel->CurLine(), "");
    // What is sent goes out as one frame.
    EXPECT_EQ(w.Transmit("hi"), 5u);
    EXPECT_EQ(w.dev.Read(5, 1s), Frame("hi"));
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

TEST(plugin_docs, the_poller_asks_and_waits_for_the_answer) {
    PluginWindow w(ManualPlugins()["poller.pas"]);
    TMain* m = w.main;
    ASSERT_NE(m->Script, nullptr) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(m->cp1->Connected());
    // A meter that answers the first request only.
    std::thread meter([&] {
        if (w.dev.Read(5, 2s) == "READ\r") {
            std::this_thread::sleep_for(50ms);
            w.dev.Write("T=231\r");
        }
    });
    EXPECT_EQ(w.Transmit("poll"), 0u);
    meter.join();
    EXPECT_EQ(w.LastMsg(), "reading: 231");
    EXPECT_EQ(w.Transmit("poll"), 0u);
    EXPECT_EQ(w.dev.Read(5, 1s), "READ\r");
    EXPECT_EQ(w.LinesOf(terminal::dfERR), std::vector<std::string>{"no answer (0 bytes)"});
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

TEST(plugin_docs, the_value_parser_graphs_each_line_and_only_those) {
    PluginWindow w(ManualPlugins()["graph_values.pas"]);
    TMain* m = w.main;
    ASSERT_NE(m->Script, nullptr) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(m->cp1->Connected());
    m->mShowGraphClick(nullptr);  // the graph window is open
    ASSERT_TRUE(w.Play("23.5\r\n24", 8));
    ASSERT_TRUE(w.Play("\r\n-1.25\r\n", 9));
    EXPECT_EQ(m->PluginFlags & terminal::APGD, 0);
    const std::string points = w.dir.File("points.txt");
    w.graph->SavePoints(points);
    std::vector<std::string> lines, ys;
    rtl::SplitStr(vcl::LoadStrFromFile(points), '\n', lines);
    for (std::string line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) ys.push_back(line.substr(line.find(';') + 1));
    }
    EXPECT_EQ(ys, (std::vector<std::string>{"23.5", "24", "-1.25"}));
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

}  // namespace
