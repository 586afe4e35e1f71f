// Starts the real program on a virtual X server, finds its main window,
// asks the window to close as a window manager does, and checks that the
// process ends cleanly.
#include <dlfcn.h>
#include <fcntl.h>
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
#include <vector>

#include "support/command.h"
#include "support/pty.h"

namespace {

using namespace std::chrono_literals;

bool OnPath(const char* tool) {
    std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// A child process started with its own environment additions.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    pid_t pid = fork();
    if (pid == 0) {
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
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

struct VirtualDisplay {
    pid_t pid = -1;
    std::string name;
    VirtualDisplay() {
        for (int n = 87; n < 200 && pid < 0; ++n) {
            std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            if (access(lock.c_str(), F_OK) == 0) continue;
            name = ":" + std::to_string(n);
            pid = Spawn({"Xvfb", name, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, {});
            std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            for (int i = 0; i < 100; ++i) {
                if (access(socket.c_str(), F_OK) == 0) return;
                if (WaitFor(pid, 50ms) != -1) break;  // it died (display taken)
            }
            if (access(socket.c_str(), F_OK) != 0) {
                kill(pid, SIGTERM);
                WaitFor(pid, 2000ms);
                pid = -1;
            }
        }
    }
    ~VirtualDisplay() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            WaitFor(pid, 3000ms);
        }
    }
};

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

// Starts the program from folder Cwd on the virtual display.
pid_t Launch(const std::string& binary, const std::string& cwd, const std::string& display,
             const std::string& lsan) {
    pid_t program = fork();
    if (program == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        if (!lsan.empty()) setenv("LSAN_OPTIONS", lsan.c_str(), 1);
        execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return program;
}

TEST(program_start, main_window_appears_and_closing_it_ends_the_program_cleanly) {
    if (!OnPath("Xvfb") || !OnPath("xdotool"))
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    const std::string build = BuildFolder();
    std::string binary = EnvOr("VOSTREL_BINARY", build + "/vostrel");
    ASSERT_EQ(access(binary.c_str(), X_OK), 0) << binary << " is not there";
    // Leaks are checked in the program too, with the suppressions the tests use.
    const std::string lsan = LsanOptionsFor(build);

    VirtualDisplay display;
    ASSERT_GT(display.pid, 0) << "no virtual display could be started";

    // Started from another folder: the program finds its things beside itself.
    char tmpl[] = "/tmp/vostrel_e2e_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string cwd = tmpl;
    pid_t program = Launch(binary, cwd, display.name, lsan);
    ASSERT_GT(program, 0);

    std::string search = "DISPLAY=" + display.name +
                         " xdotool search --onlyvisible --name '^VOSTREL$' 2>/dev/null";
    std::string found;
    for (int i = 0; i < 300 && found.empty(); ++i) {
        found = Capture(search);
        if (found.empty()) {
            int status = WaitFor(program, 100ms);
            ASSERT_EQ(status, -1) << "the program ended before showing its window";
        }
    }
    if (found.empty()) kill(program, SIGKILL);
    ASSERT_FALSE(found.empty()) << "window VOSTREL not found";
    unsigned long window = std::stoul(found);

    ASSERT_TRUE(RequestClose(display.name, window));
    int status = WaitFor(program, 10000ms);
    if (status == -1) {
        kill(program, SIGKILL);
        WaitFor(program, 2000ms);
        FAIL() << "the program did not end after its window was closed";
    }
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    rmdir(cwd.c_str());
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
    VirtualDisplay display;
    ASSERT_GT(display.pid, 0) << "no virtual display could be started";

    char tmpl[] = "/tmp/vostrel_plugin_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string binary = dir + "/vostrel";
    std::filesystem::copy_file(built, binary);
    const std::string plugin = dir + "/answer.pas";
    std::ofstream(plugin) << "procedure OnLoad; begin Send('hello'); end;\n"
                             "procedure OnReceive; begin Send(UpperCase(RD)); end;\n";
    std::ofstream(dir + "/vostrel.ini") << "[Config11]\r\nPort=5\r\nSpeed=9600\r\nPlugPath=" << plugin << "\r\n";
    test_support::PtyPair dev;
    dev.MapAsCom(5);

    pid_t program = Launch(binary, "/", display.name, lsan);
    ASSERT_GT(program, 0);
    EXPECT_EQ(dev.Read(5, 30s), "hello");
    ASSERT_EQ(dev.Write("abc"), 3u);
    EXPECT_EQ(dev.Read(3, 10s), "ABC");

    std::string found;
    const std::string search = "DISPLAY=" + display.name + " xdotool search --onlyvisible --name '^VOSTREL$' 2>/dev/null";
    for (int i = 0; i < 300 && found.empty(); ++i) {
        found = Capture(search);
        if (found.empty() && WaitFor(program, 100ms) != -1) break;
    }
    if (!found.empty()) RequestClose(display.name, std::stoul(found));
    int status = WaitFor(program, 15000ms);
    if (status == -1) {
        kill(program, SIGKILL);
        WaitFor(program, 2000ms);
        ADD_FAILURE() << "the program did not end after its window was closed";
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::stringstream ini;
    ini << std::ifstream(dir + "/vostrel.ini").rdbuf();
    EXPECT_NE(ini.str().find("PlugPath=" + plugin), std::string::npos) << ini.str();
    std::filesystem::remove_all(dir);
}

}  // namespace
