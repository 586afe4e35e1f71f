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

#include "support/pty.h"
#include "support/temp_dir.h"
#include "support/virtual_display.h"

namespace {

using namespace std::chrono_literals;

bool OnPath(const char* tool) {
    std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// Waits up to timeout for the child; returns its wait status or -1.
int WaitFor(pid_t pid, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(20ms);
    }
    return -1;
}

std::string Capture(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

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

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

// The build folder: the test program lives in its "tests" folder.
std::string BuildFolder() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string exe(path, static_cast<std::size_t>(n));
    std::string tests = exe.substr(0, exe.rfind('/'));
    return tests.substr(0, tests.rfind('/'));
}

// The source folder recorded in the build folder's cache ("" when unknown).
std::string SourceFolderOf(const std::string& build) {
    const std::string key = "vostrel_SOURCE_DIR:STATIC=";
    std::string cache = Capture("grep -m1 '^" + key + "' '" + build + "/CMakeCache.txt' 2>/dev/null");
    if (cache.compare(0, key.size(), key) != 0) return "";
    std::string dir = cache.substr(key.size());
    while (!dir.empty() && (dir.back() == '\n' || dir.back() == '\r')) dir.pop_back();
    return dir;
}

// The leak checker's options for the program: the caller's, or the
// suppressions the tests use.
std::string LsanOptionsFor(const std::string& build) {
    std::string lsan = EnvOr("LSAN_OPTIONS", "");
    if (lsan.empty()) {
        std::string source = EnvOr("VOSTREL_SOURCE_DIR", SourceFolderOf(build));
        if (!source.empty()) lsan = "suppressions=" + source + "/tests/lsan.supp";
    }
    return lsan;
}

// Starts the program from folder Cwd on the virtual display. Runtime is a
// private folder of the test's for the window system's run-time files
// (otherwise one shared folder under /tmp).
pid_t Launch(const std::string& binary, const std::string& cwd, const std::string& display,
             const std::string& lsan, const std::string& runtime) {
    pid_t program = fork();
    if (program == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        if (!lsan.empty()) setenv("LSAN_OPTIONS", lsan.c_str(), 1);
        execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return program;
}

// A started program on the virtual display, ended (killed if need be) at
// the latest when the test ends.
struct Program {
    pid_t pid = -1;
    int status = -1;  // its wait status once it ended

    ~Program() {
        if (!Running()) return;
        kill(pid, SIGKILL);
        End(10s);
    }
    bool Running() const { return pid > 0 && status == -1; }
    bool End(std::chrono::milliseconds limit) {
        if (Running()) status = WaitFor(pid, limit);
        return !Running();
    }

    // Its main window: the id once it shows, or 0 when the program ended
    // first or the window did not show within limit.
    unsigned long FindMainWindow(const test_support::VirtualDisplay& display, std::chrono::milliseconds limit) {
        const std::string search =
            "DISPLAY=" + display.Name() + " xdotool search --onlyvisible --name '^VOSTREL$' 2>/dev/null";
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            const std::string found = Capture(search);
            if (!found.empty()) return std::stoul(found);
            if (End(100ms)) return 0;
        }
        return 0;
    }
    // Closes it through its main window as a window manager does, and
    // answers whether it ended cleanly within limit.
    ::testing::AssertionResult CloseCleanly(const test_support::VirtualDisplay& display, unsigned long window,
                                            std::chrono::milliseconds limit) {
        if (!RequestClose(display.Name(), window)) return ::testing::AssertionFailure() << "no close request sent";
        if (!End(limit)) return ::testing::AssertionFailure() << "the program did not end after its window was closed";
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return ::testing::AssertionFailure() << "the program ended with wait status " << status;
        return ::testing::AssertionSuccess();
    }
};

TEST(program_start, main_window_appears_and_closing_it_ends_the_program_cleanly) {
    if (!OnPath("Xvfb") || !OnPath("xdotool"))
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    const std::string build = BuildFolder();
    const std::string built = EnvOr("VOSTREL_BINARY", build + "/vostrel");
    ASSERT_EQ(access(built.c_str(), X_OK), 0) << built << " is not there";
    // Leaks are checked in the program too, with the suppressions the tests use.
    const std::string lsan = LsanOptionsFor(build);

    test_support::VirtualDisplay display;
    ASSERT_FALSE(display.Name().empty()) << display.Error();

    // A copy of its own, so the settings it writes beside itself are the
    // test's; started from another folder: it finds its things beside itself.
    test_support::TempDir dir, cwd;
    ASSERT_FALSE(dir.path().empty() || cwd.path().empty());
    const std::string binary = dir.File("vostrel");
    std::filesystem::copy_file(built, binary);
    Program program{Launch(binary, cwd.path(), display.Name(), lsan, dir.path())};
    ASSERT_GT(program.pid, 0);

    // Generous limits: a loaded machine may start a sanitized program slowly.
    const unsigned long window = program.FindMainWindow(display, 120s);
    ASSERT_TRUE(program.Running()) << "the program ended before showing its window";
    ASSERT_NE(window, 0u) << "window VOSTREL not found";
    EXPECT_TRUE(program.CloseCleanly(display, window, 60s));
}

// The program with a plug-in named in the vostrel.ini beside it and a pty
// as its main port: ONLOAD greets the device, ONRECEIVE answers it, and
// the plug-in is still named in the settings the program writes back.
TEST(program_start, a_plugin_named_in_the_settings_beside_the_program_talks_to_the_device) {
    if (!OnPath("Xvfb") || !OnPath("xdotool"))
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    const std::string build = BuildFolder();
    const std::string built = EnvOr("VOSTREL_BINARY", build + "/vostrel");
    ASSERT_EQ(access(built.c_str(), X_OK), 0) << built << " is not there";
    const std::string lsan = LsanOptionsFor(build);
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

    Program program{Launch(binary, "/", display.Name(), lsan, dir.path())};
    ASSERT_GT(program.pid, 0);
    EXPECT_EQ(dev.Read(5, 120s), "hello");
    ASSERT_EQ(dev.Write("abc"), 3u);
    EXPECT_EQ(dev.Read(3, 60s), "ABC");

    const unsigned long window = program.FindMainWindow(display, 120s);
    ASSERT_NE(window, 0u) << "window VOSTREL not found";
    EXPECT_TRUE(program.CloseCleanly(display, window, 60s));
    std::stringstream ini;
    ini << std::ifstream(dir.File("vostrel.ini")).rdbuf();
    EXPECT_NE(ini.str().find("PlugPath=" + plugin), std::string::npos) << ini.str();
}

}  // namespace
