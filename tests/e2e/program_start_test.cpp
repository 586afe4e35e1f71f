// Starts the real program on a virtual X server, finds its main window,
// asks the window to close as a window manager does, and checks that the
// process ends cleanly.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/rtl/files.h"
#include "support/command.h"
#include "support/program_process.h"
#include "support/pty.h"
#include "support/read_only_folder.h"
#include "support/temp_dir.h"
#include "support/virtual_display.h"
#include "support/x_client.h"
#include "support/x_windows.h"

namespace {

using namespace std::chrono_literals;

std::string Capture(const std::string& cmd) { return test_support::CommandOutput(cmd); }

// The program's main window: the id once it shows, or 0 when the program
// ended first or the window did not show within limit.
unsigned long FindMainWindow(test_support::ProgramProcess& program, const test_support::VirtualDisplay& display,
                             std::chrono::milliseconds limit) {
    const std::string search =
        "DISPLAY=" + display.Name() + " xdotool search --onlyvisible --name '^VOSTREL$' 2>/dev/null";
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        const std::string found = Capture(search);
        if (!found.empty()) return std::stoul(found);
        if (program.End(100ms)) return 0;
    }
    return 0;
}

// Closes the program through its main window as a window manager does, and
// answers whether it ended cleanly within limit.
::testing::AssertionResult CloseCleanly(test_support::ProgramProcess& program, const test_support::VirtualDisplay& display,
                                        unsigned long window, std::chrono::milliseconds limit) {
    if (!test_support::XClient(display.Name()).RequestClose(window))
        return ::testing::AssertionFailure() << "no close request sent";
    if (!program.End(limit)) return ::testing::AssertionFailure() << "the program did not end after its window was closed";
    const int status = program.Status();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ::testing::AssertionFailure() << "the program ended with wait status " << status;
    return ::testing::AssertionSuccess();
}

TEST(program_start, main_window_appears_and_closing_it_ends_the_program_cleanly) {
    if (!test_support::OnPath("Xvfb") || !test_support::OnPath("xdotool"))
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    const std::string built = test_support::BuiltProgram();
    ASSERT_EQ(access(built.c_str(), X_OK), 0) << built << " is not there";

    test_support::VirtualDisplay display;
    ASSERT_FALSE(display.Name().empty()) << display.Error();

    // A copy of its own, so the settings it writes beside itself are the
    // test's; started from another folder: it finds its things beside itself.
    test_support::TempDir dir, cwd;
    ASSERT_FALSE(dir.path().empty() || cwd.path().empty());
    const std::string binary = dir.File("vostrel");
    std::filesystem::copy_file(built, binary);
    // Leaks are checked in the program too, with the suppressions the tests use.
    test_support::ProgramProcess program({.binary = binary, .cwd = cwd.path(), .display = display.Name(),
                                          .runtime = dir.path()});
    ASSERT_GT(program.Pid(), 0);

    // Generous limits: a loaded machine may start a sanitized program slowly.
    const unsigned long window = FindMainWindow(program, display, 120s);
    ASSERT_TRUE(program.Running()) << "the program ended before showing its window";
    ASSERT_NE(window, 0u) << "window VOSTREL not found";
    EXPECT_TRUE(CloseCleanly(program, display, window, 60s));
}

// A copy of the program in Folder with an answering plug-in at Plugin, named
// in the vostrel.ini beside it; gives the settings line that names it.
std::string InstallWithPlugin(const std::string& Folder, const std::string& Plugin) {
    std::filesystem::copy_file(test_support::BuiltProgram(), Folder + "/vostrel");
    std::ofstream(Plugin) << "procedure OnLoad; begin Send('hello'); end;\n"
                             "procedure OnReceive; begin Send(UpperCase(RD)); end;\n";
    const std::string plugPath = "PlugPath=" + rtl::FromSysPath(Plugin);
    std::ofstream(Folder + "/vostrel.ini") << "[Config11]\r\nPort=5\r\nSpeed=9600\r\n" << plugPath << "\r\n";
    return plugPath;
}

// Starts the program installed in Folder with a pty as its main port: ONLOAD
// greets the device, ONRECEIVE answers it; then closes it and checks that
// the settings it wrote (in Written) still name the plug-in.
void TalkAndClose(const std::string& Folder, const std::string& Runtime, const std::string& PlugPath,
                  const std::string& Written, std::vector<std::pair<std::string, std::string>> Env = {}) {
    test_support::VirtualDisplay display;
    ASSERT_FALSE(display.Name().empty()) << display.Error();
    test_support::PtyPair dev;
    dev.MapAsCom(5);
    test_support::ProgramProcess program({.binary = Folder + "/vostrel", .cwd = "/", .display = display.Name(),
                                          .runtime = Runtime, .env = std::move(Env)});
    ASSERT_GT(program.Pid(), 0);
    EXPECT_EQ(dev.Read(5, 120s), "hello");
    ASSERT_EQ(dev.Write("abc"), 3u);
    EXPECT_EQ(dev.Read(3, 60s), "ABC");

    const unsigned long window = FindMainWindow(program, display, 120s);
    ASSERT_NE(window, 0u) << "window VOSTREL not found";
    EXPECT_TRUE(CloseCleanly(program, display, window, 60s));
    std::stringstream ini;
    ini << std::ifstream(Written).rdbuf();
    EXPECT_NE(ini.str().find(PlugPath), std::string::npos) << Written << ":\n" << ini.str();
}

bool CanRunOnDisplay() { return test_support::OnPath("Xvfb") && test_support::OnPath("xdotool"); }

// The program with a plug-in named in the vostrel.ini beside it talks to the
// device, and the plug-in is still named in the settings it writes back.
TEST(program_start, a_plugin_named_in_the_settings_beside_the_program_talks_to_the_device) {
    if (!CanRunOnDisplay()) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    ASSERT_EQ(access(test_support::BuiltProgram().c_str(), X_OK), 0) << "the program is not there";
    test_support::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string plugPath = InstallWithPlugin(dir.path(), dir.File("answer.pas"));
    TalkAndClose(dir.path(), dir.path(), plugPath, dir.File("vostrel.ini"));
}

// The program installed in a read-only folder whose name holds letters the
// code page lacks: the settings beside it start it (with a plug-in whose
// path has such letters too), and closing writes them to the user's
// configuration folder, made for them. Where no read-only mount can be
// made, the folder stays writable and the settings are written beside the
// program.
TEST(program_start, a_program_in_a_read_only_folder_named_in_any_letters_keeps_its_settings) {
    if (!CanRunOnDisplay()) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    ASSERT_EQ(access(test_support::BuiltProgram().c_str(), X_OK), 0) << "the program is not there";
    test_support::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string folder = dir.File("josé");
    std::filesystem::create_directory(folder);
    std::filesystem::create_directory(dir.File("日本"));
    const std::string plugPath = InstallWithPlugin(folder, dir.File("日本/answer.pas"));
    test_support::ReadOnlyFolder readOnly(folder);
    const std::string written = readOnly.ReadOnly() ? dir.File("cfg/vostrel/vostrel.ini") : folder + "/vostrel.ini";
    TalkAndClose(folder, dir.path(), plugPath, written, {{"XDG_CONFIG_HOME", dir.File("cfg")}});
}

// The user closes the program while its plug-in is in the middle of
// something: a receive event waiting in a flood, the box the event opened,
// the box of an event that failed, the load event waiting. Each time the
// window is gone at once, the program ends without a box, and its settings
// still name the plug-in. The plug-in tells the device where it is (a byte
// sent just before it waits), so the close comes exactly there.
TEST(program_start, closing_while_the_plugin_waits_or_shows_a_box_ends_the_program_at_once) {
    if (!CanRunOnDisplay()) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    ASSERT_EQ(access(test_support::BuiltProgram().c_str(), X_OK), 0) << "the program is not there";
    struct Case {
        const char* what;
        const char* plugin;
        bool box;  // the plug-in's situation shows a box
    };
    const Case cases[] = {
        {"an event waiting in a flood",
         "var said: Boolean;\nprocedure OnReceive;\nbegin\n  if not said then Send('W');\n  said := True;\n"
         "  NBSleep(1000);\nend;\n",
         false},
        {"the event's box", "procedure OnReceive;\nbegin\n  Send('W');\n  ShowMessage('look');\nend;\n", true},
        {"the box of an event that failed",
         "procedure OnReceive;\nvar z: Integer;\nbegin\n  Send('W');\n  z := 0;\n  z := 1 div z;\nend;\n", true},
        {"the load event waiting", "procedure OnLoad;\nbegin\n  Send('W');\n  NBSleep(8000);\nend;\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test_support::TempDir dir;
        ASSERT_FALSE(dir.path().empty());
        std::filesystem::copy_file(test_support::BuiltProgram(), dir.File("vostrel"));
        const std::string plugin = dir.File("waiter.pas");
        std::ofstream(plugin) << c.plugin;
        const std::string plugPath = "PlugPath=" + rtl::FromSysPath(plugin);
        std::ofstream(dir.File("vostrel.ini")) << "[Config11]\r\nPort=5\r\nSpeed=9600\r\n" << plugPath << "\r\n";

        test_support::VirtualDisplay display;
        ASSERT_FALSE(display.Name().empty()) << display.Error();
        test_support::PtyPair dev;
        dev.MapAsCom(5);
        test_support::ProgramProcess program(
            {.binary = dir.File("vostrel"), .cwd = "/", .display = display.Name(), .runtime = dir.path()});
        ASSERT_GT(program.Pid(), 0);
        const unsigned long window = FindMainWindow(program, display, 120s);
        ASSERT_NE(window, 0u) << "window VOSTREL not found";
        // The device speaks once the port is the program's (before, the
        // terminal would echo what it says).
        ASSERT_TRUE(test_support::WaitUntil([&] { return test_support::HoldsOpen(program.Pid(), dev.SlavePath()); }, 60s));
        std::atomic<bool> stop{false};
        std::thread flood([&] {
            while (!stop) {
                dev.WriteSome(reinterpret_cast<const std::uint8_t*>("0123456789"), 10);
                std::this_thread::sleep_for(5ms);
            }
        });
        // The plug-in is where the case wants it.
        std::string first;
        const auto limit = std::chrono::steady_clock::now() + 120s;
        while (first.find('W') == std::string::npos && std::chrono::steady_clock::now() < limit)
            first += dev.Read(64, 100ms);
        const bool there = first.find('W') != std::string::npos &&
                           (!c.box || test_support::WaitUntil(
                                          [&] { return !test_support::ProcessWindows(display.Name(), program.Pid(), "Vostrel").empty(); },
                                          60s));
        if (!there) {
            stop = true;
            flood.join();
            FAIL() << "the plug-in did not get there: the device read \"" << first << "\"";
        }
        const auto asked = std::chrono::steady_clock::now();
        ASSERT_TRUE(test_support::XClient(display.Name()).RequestClose(window));
        const bool gone = test_support::WaitUntil(
            [&] { return test_support::ProcessWindows(display.Name(), program.Pid(), "VOSTREL").empty(); }, 30s);
        const auto took = std::chrono::steady_clock::now() - asked;
        const bool ended = program.End(60s);
        stop = true;
        flood.join();
        EXPECT_TRUE(gone);
        // At once as the user sees it (the in-process table holds the close
        // to a second); the bound leaves room for a test machine under load.
        EXPECT_LT(took, 5s) << "the window took " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
        ASSERT_TRUE(ended) << "the program did not end";
        EXPECT_TRUE(WIFEXITED(program.Status()) && WEXITSTATUS(program.Status()) == 0) << program.Status();
        std::stringstream ini;
        ini << std::ifstream(dir.File("vostrel.ini")).rdbuf();
        EXPECT_NE(ini.str().find(plugPath), std::string::npos) << ini.str();
    }
}

}  // namespace
