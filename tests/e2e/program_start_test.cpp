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

// The user closes the window while the plug-in's receive event waits in a
// flood, so that an event nearly always runs: the event is stopped, the
// program ends, and its settings still name the plug-in.
TEST(program_start, closing_in_a_flood_while_receive_events_wait_ends_the_program) {
    if (!CanRunOnDisplay()) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    ASSERT_EQ(access(test_support::BuiltProgram().c_str(), X_OK), 0) << "the program is not there";
    test_support::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::filesystem::copy_file(test_support::BuiltProgram(), dir.File("vostrel"));
    const std::string plugin = dir.File("waiter.pas");
    std::ofstream(plugin) << "procedure OnLoad; begin Send('hello'); end;\n"
                             "procedure OnReceive; begin NBSleep(1000); end;\n";
    const std::string plugPath = "PlugPath=" + rtl::FromSysPath(plugin);
    std::ofstream(dir.File("vostrel.ini")) << "[Config11]\r\nPort=5\r\nSpeed=9600\r\n" << plugPath << "\r\n";

    test_support::VirtualDisplay display;
    ASSERT_FALSE(display.Name().empty()) << display.Error();
    test_support::PtyPair dev;
    dev.MapAsCom(5);
    test_support::ProgramProcess program(
        {.binary = dir.File("vostrel"), .cwd = "/", .display = display.Name(), .runtime = dir.path()});
    ASSERT_GT(program.Pid(), 0);
    EXPECT_EQ(dev.Read(5, 120s), "hello");
    const unsigned long window = FindMainWindow(program, display, 120s);
    ASSERT_NE(window, 0u) << "window VOSTREL not found";
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        while (!stop) {
            dev.WriteSome(reinterpret_cast<const std::uint8_t*>("0123456789"), 10);
            std::this_thread::sleep_for(5ms);
        }
    });
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(CloseCleanly(program, display, window, 60s));
    stop = true;
    flood.join();
    std::stringstream ini;
    ini << std::ifstream(dir.File("vostrel.ini")).rdbuf();
    EXPECT_NE(ini.str().find(plugPath), std::string::npos) << ini.str();
}

}  // namespace
