// Starts the real program on a virtual X server, finds its main window,
// asks the window to close as a window manager does, and checks that the
// process ends cleanly.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/command.h"
#include "support/program_process.h"
#include "support/pty.h"
#include "support/temp_dir.h"
#include "support/virtual_display.h"

namespace {

using namespace std::chrono_literals;

std::string Capture(const std::string& cmd) { return test_support::CommandOutput(cmd); }

// The few X calls needed, loaded at run time so the test needs no X
// library or header at build time (the header's macros clash with gtest).
struct XLib {
    using OpenFn = void* (*)(const char*);
    using AtomFn = unsigned long (*)(void*, const char*, int);
    using SendFn = int (*)(void*, unsigned long, int, long, void*);
    using DisplayFn = int (*)(void*);

    void* handle = dlopen("libX11.so.6", RTLD_NOW);
    OpenFn open = handle ? reinterpret_cast<OpenFn>(dlsym(handle, "XOpenDisplay")) : nullptr;
    AtomFn atom = handle ? reinterpret_cast<AtomFn>(dlsym(handle, "XInternAtom")) : nullptr;
    SendFn send = handle ? reinterpret_cast<SendFn>(dlsym(handle, "XSendEvent")) : nullptr;
    DisplayFn flush = handle ? reinterpret_cast<DisplayFn>(dlsym(handle, "XFlush")) : nullptr;
    DisplayFn close = handle ? reinterpret_cast<DisplayFn>(dlsym(handle, "XCloseDisplay")) : nullptr;
    ~XLib() {
        if (handle) dlclose(handle);
    }
    bool ok() const { return open && atom && send && flush && close; }
};

// The client-message member of the X event union (which is 24 longs).
struct ClientMessage {
    int type;
    unsigned long serial;
    int send_event;
    void* display;
    unsigned long window;
    unsigned long message_type;
    int format;
    long data[5];
};
union XEventBytes {
    ClientMessage client;
    long pad[24];
};
constexpr int kClientMessage = 33;

// Asks a window to close the way a window manager does (WM_DELETE_WINDOW).
bool RequestClose(const std::string& display, unsigned long window) {
    XLib x;
    if (!x.ok()) return false;
    void* d = x.open(display.c_str());
    if (!d) return false;
    XEventBytes ev{};
    ev.client.type = kClientMessage;
    ev.client.window = window;
    ev.client.message_type = x.atom(d, "WM_PROTOCOLS", 0);
    ev.client.format = 32;
    ev.client.data[0] = static_cast<long>(x.atom(d, "WM_DELETE_WINDOW", 0));
    ev.client.data[1] = 0;  // CurrentTime
    bool sent = x.send(d, window, 0, 0, &ev) != 0;
    x.flush(d);
    x.close(d);
    return sent;
}

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
    if (!RequestClose(display.Name(), window)) return ::testing::AssertionFailure() << "no close request sent";
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

// The program with a plug-in named in the vostrel.ini beside it and a pty
// as its main port: ONLOAD greets the device, ONRECEIVE answers it, and
// the plug-in is still named in the settings the program writes back.
TEST(program_start, a_plugin_named_in_the_settings_beside_the_program_talks_to_the_device) {
    if (!test_support::OnPath("Xvfb") || !test_support::OnPath("xdotool"))
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    const std::string built = test_support::BuiltProgram();
    ASSERT_EQ(access(built.c_str(), X_OK), 0) << built << " is not there";
    test_support::VirtualDisplay display;
    ASSERT_FALSE(display.Name().empty()) << display.Error();

    test_support::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string binary = dir.File("vostrel");
    std::filesystem::copy_file(built, binary);
    const std::string plugin = dir.File("answer.pas");
    std::ofstream(plugin) << "procedure OnLoad; begin Send('hello'); end;\n"
                             "procedure OnReceive; begin Send(UpperCase(RD)); end;\n";
    std::ofstream(dir.File("vostrel.ini")) << "[Config11]\r\nPort=5\r\nSpeed=9600\r\nPlugPath=" << plugin << "\r\n";
    test_support::PtyPair dev;
    dev.MapAsCom(5);

    test_support::ProgramProcess program({.binary = binary, .cwd = "/", .display = display.Name(),
                                          .runtime = dir.path()});
    ASSERT_GT(program.Pid(), 0);
    EXPECT_EQ(dev.Read(5, 120s), "hello");
    ASSERT_EQ(dev.Write("abc"), 3u);
    EXPECT_EQ(dev.Read(3, 60s), "ABC");

    const unsigned long window = FindMainWindow(program, display, 120s);
    ASSERT_NE(window, 0u) << "window VOSTREL not found";
    EXPECT_TRUE(CloseCleanly(program, display, window, 60s));
    std::stringstream ini;
    ini << std::ifstream(dir.File("vostrel.ini")).rdbuf();
    EXPECT_NE(ini.str().find("PlugPath=" + plugin), std::string::npos) << ini.str();
}

}  // namespace
