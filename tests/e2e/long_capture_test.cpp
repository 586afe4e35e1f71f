// A long capture as a user makes one: the real program on a virtual X
// server of its own, a pseudo-terminal flooding its port with more than the
// receive list may hold (its memory limit lowered for the test), then raw
// output to a file switched on through the window's own key and dialog.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/command.h"
#include "support/program_process.h"
#include "support/pty.h"
#include "support/temp_dir.h"
#include "support/virtual_display.h"
#include "support/x_windows.h"
#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using test_support::CommandOutput;

// The visible windows of the display with exactly this name (the tool's own
// search ignores case, and "VOSTREL" is not "Vostrel").
std::vector<std::string> Windows(const std::string& display, const std::string& name) {
    const std::string xdo = "DISPLAY=" + display + " xdotool ";
    std::istringstream ids(CommandOutput(xdo + "search --onlyvisible --name . 2>/dev/null"));
    std::vector<std::string> found;
    for (std::string id; std::getline(ids, id);)
        if (CommandOutput(xdo + "getwindowname " + id + " 2>/dev/null") == name + "\n") found.push_back(id);
    return found;
}

int CountWindows(const std::string& display, const std::string& name) {
    return static_cast<int>(Windows(display, name).size());
}

std::string FirstWindow(const std::string& display, const std::string& name) {
    const std::vector<std::string> found = Windows(display, name);
    return found.empty() ? std::string() : found.front();
}

using test_support::WaitUntil;

using test_support::HoldsOpen;

long ResidentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen());
    return s;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(long_capture, past_the_list_limit_the_program_stays_up_says_so_once_and_a_raw_file_gets_every_byte) {
    if (!test_support::OnPath("Xvfb") || !test_support::OnPath("xdotool"))
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    const std::string built = test_support::BuiltProgram();
    ASSERT_EQ(access(built.c_str(), X_OK), 0) << built << " is not there";
    test_support::VirtualDisplay display;
    ASSERT_FALSE(display.Name().empty()) << display.Error();

    // The program in a folder of its own with its settings beside it: the
    // main port on the pseudo-terminal, HEX.
    test_support::TempDir dir;
    const std::string program = dir.File("vostrel");
    std::filesystem::copy_file(built, program);
    std::ofstream(dir.File("vostrel.ini"), std::ios::binary)
        << "[Main]\r\nDataFormat=1\r\nCurrentProfile=0\r\n[Config11]\r\nPort=5\r\nSpeed=115200\r\n";
    test_support::PtyPair device;
    device.MapAsCom(5);
    // A sanitized build keeps freed memory for a while: not much of it here,
    // so that what the program holds shows in its resident size.
    test_support::ProgramProcess app({.binary = program,
                                      .cwd = dir.path(),
                                      .display = display.Name(),
                                      .runtime = dir.path(),
                                      .env = {{"VOSTREL_TEST_LIST_LIMIT_MB", "8"}},
                                      .asan_extra = "quarantine_size_mb=4",
                                      .quiet = true});
    ASSERT_GT(app.Pid(), 0);
    ASSERT_TRUE(WaitUntil([&] { return !FirstWindow(display.Name(), "VOSTREL").empty(); }, 60s))
        << "the main window did not show";
    ASSERT_TRUE(WaitUntil([&] { return HoldsOpen(app.Pid(), device.SlavePath()); }, 30s)) << "the port was not opened";

    // More than the list may hold, twice over: the program takes it all,
    // stays up, and says once that the oldest lines are being dropped.
    ASSERT_EQ(device.Write(RandomBytes(6u << 20, 1), 120s), 6u << 20);
    ASSERT_TRUE(WaitUntil([&] { return CountWindows(display.Name(), "Vostrel") > 0; }, 30s))
        << "no notice that the list is full";
    const long rss_full = ResidentKb(app.Pid());
    ASSERT_EQ(device.Write(RandomBytes(24u << 20, 2), 240s), 24u << 20);
    // A second notice would come while the program works through what it
    // was sent: seen once it has handled all of it.
    // (Handled: over a whole second it ran, and waited for a processor,
    // no more than a tenth of it.)
    ASSERT_TRUE(test_support::WaitUntilIdle({app.Pid()}, 1s, 120s)) << "the program kept busy";
    ASSERT_TRUE(app.Running());
    EXPECT_EQ(CountWindows(display.Name(), "Vostrel"), 1) << "the notice comes once";
    // The list holds no more than it did when it was full (kept whole, the
    // last 24 MB would take about 90 MB more).
    EXPECT_LT(ResidentKb(app.Pid()), rss_full + 32 * 1024);

    // Raw output switched on as the user does it (Ctrl+F, a name, the
    // binary type the dialog offers first): every byte sent after it is in
    // the file.
    const std::string out = dir.File("capture.bin");
    ASSERT_TRUE(test_support::OutputToFile(display.Name(), app.Pid(), out));
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(out); }, 20s)) << "output did not start";
    const std::string sent = RandomBytes(4u << 20, 3);
    ASSERT_EQ(device.Write(sent, 120s), sent.size());
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::file_size(out) >= sent.size(); }, 60s))
        << std::filesystem::file_size(out) << " of " << sent.size() << " bytes in the file";
    EXPECT_TRUE(ReadFile(out) == sent) << "the file differs from what was sent";
    EXPECT_TRUE(app.Running());
}

}  // namespace
