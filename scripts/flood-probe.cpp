// The measuring half of scripts/flood-bench.sh: starts the program on the
// current X display with a pseudo-terminal as its COM port, floods the port,
// and watches how well the window keeps answering meanwhile.
//
// For each run it writes vostrel.ini beside the program (the port, the data
// format asked for with millisecond time stamps, the polling delay asked
// for), starts the program, and goes through two phases of the same length:
//   flood  - as fast as the pseudo-terminal takes bytes;
//   paced  - 1 MB/s in 2 KB writes.
// During both it sends the window manager's ping (_NET_WM_PING) every 250 ms
// and types into the transmit box, timing each key until it shows on screen.
// It is the display's window manager while it runs (answers to pings go to
// the window manager alone), mapping and placing windows as they ask.
// It reports bytes taken, CPU, resident memory growth, ping and key
// latencies, and the windows the program opened on its own (the anti-hang
// notice is one). Not a test: the figures depend on the machine.
//
// Given a baseline program as well, it runs the two in turns (baseline,
// program; then program, baseline; and so on), so that both meet the same
// load of the machine, and gives each one's figures.
//
// Built by the script: g++ -O2 -std=c++20 flood-probe.cpp -lX11 -ldl -pthread
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

[[noreturn]] void Die(const std::string& text) {
    std::fprintf(stderr, "flood-probe: %s\n", text.c_str());
    std::exit(2);
}

std::string Folder(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// ---- options

struct Options {
    std::string program;
    std::string baseline;  // a second program run in turns with it: "" for none
    bool ascii = false;    // the data format: ASCII, or HEX
    int pollingMs = 50;
    int runs = 1;
    int seconds = 10;
    int comPort = 7;
    bool flood = true, paced = true;
    bool verbose = false;
    // A plug-in that reads the port itself, looping Recv(65536, 20, S) in
    // its ONRECEIVE (from the first chunk on) or its ONLOAD: "" for none.
    std::string recvLoop;
};

int PollingIndex(int ms) {
    static constexpr int entries[] = {1, 5, 50, 200, 500, 1000};
    for (int i = 0; i < 6; ++i)
        if (entries[i] == ms) return i;
    return -1;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Die("missing value after " + a);
            return argv[++i];
        };
        if (a == "--program") o.program = value();
        else if (a == "--baseline") o.baseline = value();
        else if (a == "--format") {
            const std::string format = value();
            if (format != "hex" && format != "ascii") Die("--format takes hex or ascii");
            o.ascii = format == "ascii";
        }
        else if (a == "--polling") o.pollingMs = std::atoi(value().c_str());
        else if (a == "--runs") o.runs = std::atoi(value().c_str());
        else if (a == "--seconds") o.seconds = std::atoi(value().c_str());
        else if (a == "--verbose") o.verbose = true;
        else if (a == "--recv-loop") {
            o.recvLoop = value();
            if (o.recvLoop != "onreceive" && o.recvLoop != "onload") Die("--recv-loop takes onreceive or onload");
        }
        else if (a == "--only") {
            std::string phase = value();
            if (phase != "flood" && phase != "paced") Die("--only takes flood or paced");
            o.flood = phase == "flood";
            o.paced = phase == "paced";
        }
        else Die("unknown option " + a);
    }
    if (o.program.empty()) Die("--program is required");
    if (!o.baseline.empty() && Folder(o.baseline) == Folder(o.program))
        Die("the baseline must lie in a folder of its own: each program reads vostrel.ini beside itself");
    if (PollingIndex(o.pollingMs) < 0) Die("polling delay must be one of 1, 5, 50, 200, 500, 1000 ms");
    if (o.runs < 1 || o.seconds < 1) Die("runs and seconds must be at least 1");
    return o;
}

// ---- the process under test

struct ProcSample {
    double cpuSeconds = 0;
    long rssKb = 0;
};

ProcSample Sample(pid_t pid) {
    ProcSample s;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name, which may hold spaces: state is field 3,
    // utime and stime are fields 14 and 15.
    auto close = line.rfind(')');
    if (close != std::string::npos) {
        std::istringstream rest(line.substr(close + 2));
        std::vector<std::string> f;
        std::string tok;
        while (rest >> tok) f.push_back(tok);
        if (f.size() > 12) {
            double ticks = std::stod(f[11]) + std::stod(f[12]);
            s.cpuSeconds = ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
        }
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) s.rssKb = std::atol(line.c_str() + 6);
    return s;
}

void WriteIni(const Options& o) {
    std::ofstream ini(Folder(o.program) + "/vostrel.ini", std::ios::binary | std::ios::trunc);
    // DataFormat: 4 ASCII, 1 HEX.
    ini << "[Main]\r\nDataFormat=" << (o.ascii ? 4 : 1) << "\r\n";
    const char* lines[] = {"RVPnlTime=3", "DisableOnDeactivate=0", "CurrentProfile=0"};
    for (const char* l : lines) ini << l << "\r\n";
    ini << "PollingDelay=" << PollingIndex(o.pollingMs) << "\r\n";
    ini << "[Config11]\r\nPort=" << o.comPort << "\r\nPort2=0\r\nSpeed=115200\r\n";
    if (!o.recvLoop.empty()) {
        // The loop never ends by itself: closing the program stops it.
        const std::string plugin = Folder(o.program) + "/recv-loop.pas";
        std::ofstream pas(plugin, std::ios::binary | std::ios::trunc);
        pas << "procedure " << (o.recvLoop == "onload" ? "OnLoad" : "OnReceive")
            << ";\nvar S: string;\nbegin\n  while True do Recv(65536, 20, S);\nend;\n";
        if (!pas) Die("cannot write " + plugin);
        ini << "PlugPath=" << plugin << "\r\n";
    }
    if (!ini) Die("cannot write vostrel.ini beside " + o.program);
}

// The polling delay the program wrote back when it closed, in ms.
int PollingDelayAfter(const Options& o) {
    static constexpr int entries[] = {1, 5, 50, 200, 500, 1000};
    std::ifstream ini(Folder(o.program) + "/vostrel.ini");
    std::string line;
    while (std::getline(ini, line))
        if (line.rfind("PollingDelay=", 0) == 0) {
            int i = std::atoi(line.c_str() + 13);
            return i >= 0 && i < 6 ? entries[i] : -1;
        }
    return -1;
}

struct Pty {
    int master = -1;
    int slave = -1;  // held open so the master never sees a hang-up
    std::string slavePath;
    ~Pty() {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
};

void OpenPty(Pty& p) {
    p.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (p.master < 0 || grantpt(p.master) != 0 || unlockpt(p.master) != 0) Die("cannot open a pseudo-terminal");
    p.slavePath = ptsname(p.master);
    p.slave = open(p.slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (p.slave < 0) Die("cannot open " + p.slavePath);
    termios t{};
    tcgetattr(p.slave, &t);
    cfmakeraw(&t);
    tcsetattr(p.slave, TCSANOW, &t);
    fcntl(p.master, F_SETFL, fcntl(p.master, F_GETFL) | O_NONBLOCK);
}

pid_t StartProgram(const Options& o, const Pty& pty, const std::string& log) {
    pid_t pid = fork();
    if (pid < 0) Die("fork failed");
    if (pid == 0) {
        std::string map = std::to_string(o.comPort) + "=" + pty.slavePath;
        setenv("VOSTREL_COMPORTS", map.c_str(), 1);
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        execl(o.program.c_str(), o.program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

bool Exited(pid_t pid, std::chrono::milliseconds wait) {
    auto end = Clock::now() + wait;
    do {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(20ms);
    } while (Clock::now() < end);
    return false;
}

// ---- the writer

class Writer {
public:
    enum class Mode { Flood, Paced };

    explicit Writer(int fd) : fd_(fd), data_(1 << 16) {
        std::mt19937 gen(12345);
        for (auto& b : data_) b = static_cast<unsigned char>(gen());
    }

    void Start(Mode mode) {
        stop_ = false;
        written_ = 0;
        thread_ = std::thread([this, mode] { mode == Mode::Flood ? Flood() : Paced(); });
    }
    std::uint64_t Stop() {
        stop_ = true;
        thread_.join();
        return written_;
    }

private:
    // Writes up to n bytes, waiting while the pseudo-terminal is full;
    // false once asked to stop.
    bool Put(const unsigned char* p, std::size_t n) {
        while (n > 0) {
            ssize_t w = write(fd_, p, n);
            if (w > 0) {
                written_ += static_cast<std::uint64_t>(w);
                p += w;
                n -= static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (stop_) return false;
            pollfd pf{fd_, POLLOUT, 0};
            poll(&pf, 1, 20);
        }
        return !stop_;
    }

    void Flood() {
        std::size_t at = 0;
        while (!stop_) {
            if (!Put(data_.data() + at, 4096)) return;
            at = (at + 4096) % data_.size();
        }
    }

    // 2048 bytes every 2.048 ms: 1,000,000 bytes a second.
    void Paced() {
        constexpr long kPeriodNs = 2048000;
        timespec due{};
        clock_gettime(CLOCK_MONOTONIC, &due);
        std::size_t at = 0;
        while (!stop_) {
            if (!Put(data_.data() + at, 2048)) return;
            at = (at + 2048) % data_.size();
            due.tv_nsec += kPeriodNs;
            while (due.tv_nsec >= 1000000000) {
                due.tv_nsec -= 1000000000;
                ++due.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        }
    }

    int fd_;
    std::vector<unsigned char> data_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> written_{0};
    std::thread thread_;
};

// ---- X

bool g_accessRefused = false;

int NoteXErrors(Display*, XErrorEvent* e) {
    if (e->error_code == BadAccess) g_accessRefused = true;
    return 0;
}

class X {
public:
    X() {
        d_ = XOpenDisplay(nullptr);
        if (!d_) Die("no X display (run under xvfb-run)");
        XSetErrorHandler(NoteXErrors);
        root_ = DefaultRootWindow(d_);
        // A client answers a ping to the root window with the redirect mask,
        // which the server delivers to the window manager alone: the probe
        // stands in for one (it maps and places windows as asked, and sees
        // every new top-level window come up).
        XSelectInput(d_, root_, SubstructureNotifyMask | SubstructureRedirectMask);
        XSync(d_, False);
        if (g_accessRefused) Die("another window manager runs on this display; run under xvfb-run");
        protocols_ = XInternAtom(d_, "WM_PROTOCOLS", False);
        ping_ = XInternAtom(d_, "_NET_WM_PING", False);
        delete_ = XInternAtom(d_, "WM_DELETE_WINDOW", False);
        pidAtom_ = XInternAtom(d_, "_NET_WM_PID", False);
        xtst_ = dlopen("libXtst.so.6", RTLD_NOW);
        if (xtst_) fakeKey_ = reinterpret_cast<FakeKeyFn>(dlsym(xtst_, "XTestFakeKeyEvent"));
        XFlush(d_);
    }
    ~X() {
        XCloseDisplay(d_);
        if (xtst_) dlclose(xtst_);
    }

    Display* D() const { return d_; }
    int Fd() const { return ConnectionNumber(d_); }
    Atom PingAtom() const { return ping_; }
    Atom ProtocolsAtom() const { return protocols_; }
    bool CanType() const { return fakeKey_ != nullptr; }

    long Pid(Window w) {
        Atom type;
        int format;
        unsigned long n, after;
        unsigned char* data = nullptr;
        long pid = -1;
        if (XGetWindowProperty(d_, w, pidAtom_, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after, &data) ==
                Success &&
            data && n == 1)
            pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
        if (data) XFree(data);
        return pid;
    }

    bool AdvertisesPing(Window w) {
        Atom* list = nullptr;
        int n = 0;
        bool found = false;
        if (XGetWMProtocols(d_, w, &list, &n)) {
            for (int i = 0; i < n; ++i) found = found || list[i] == ping_;
            XFree(list);
        }
        return found;
    }

    std::string Title(Window w) {
        char* name = nullptr;
        std::string s;
        if (XFetchName(d_, w, &name) && name) {
            s = name;
            XFree(name);
        }
        return s;
    }

    void SendPing(Window w, long serial) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = protocols_;
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(ping_);
        e.xclient.data.l[1] = serial;  // stands in for the time stamp, echoed back
        e.xclient.data.l[2] = static_cast<long>(w);
        XSendEvent(d_, w, False, NoEventMask, &e);
        XFlush(d_);
    }

    // Grants the requests a window manager receives; true when e was one.
    bool ServeWindowManagerRequest(const XEvent& e) {
        if (e.type == MapRequest) {
            XMapWindow(d_, e.xmaprequest.window);
        } else if (e.type == ConfigureRequest) {
            const XConfigureRequestEvent& r = e.xconfigurerequest;
            XWindowChanges c{};
            c.x = r.x;
            c.y = r.y;
            c.width = r.width;
            c.height = r.height;
            c.border_width = r.border_width;
            c.sibling = r.above;
            c.stack_mode = r.detail;
            XConfigureWindow(d_, r.window, static_cast<unsigned>(r.value_mask), &c);
        } else if (e.type == CirculateRequest) {
            XCirculateSubwindows(d_, e.xcirculaterequest.parent,
                                 e.xcirculaterequest.place == PlaceOnTop ? RaiseLowest : LowerHighest);
        } else {
            return false;
        }
        XFlush(d_);
        return true;
    }

    void Focus(Window w) { XSetInputFocus(d_, w, RevertToParent, CurrentTime); }

    void RequestClose(Window w) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = protocols_;
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(delete_);
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(d_, w, False, NoEventMask, &e);
        XFlush(d_);
    }

    void Key(KeySym sym) {
        KeyCode code = XKeysymToKeycode(d_, sym);
        fakeKey_(d_, code, True, 0);
        fakeKey_(d_, code, False, 0);
        XFlush(d_);
    }

    // Dark pixels of a window area, row by row; empty when it cannot be read.
    std::vector<unsigned char> Grab(Window w, int x, int y, int width, int height) {
        std::vector<unsigned char> dark;
        XImage* img = XGetImage(d_, w, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes,
                                ZPixmap);
        if (!img) return dark;
        dark.resize(static_cast<std::size_t>(width) * height);
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c) {
                unsigned long p = XGetPixel(img, c, r);
                unsigned sum = ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
                dark[static_cast<std::size_t>(r) * width + c] = sum < 300;
            }
        XDestroyImage(img);
        return dark;
    }

    bool Size(Window w, int& width, int& height) {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(d_, w, &a)) return false;
        width = a.width;
        height = a.height;
        return true;
    }

private:
    using FakeKeyFn = int (*)(Display*, unsigned, Bool, unsigned long);
    Display* d_ = nullptr;
    Window root_ = 0;
    Atom protocols_ = 0, ping_ = 0, delete_ = 0, pidAtom_ = 0;
    void* xtst_ = nullptr;
    FakeKeyFn fakeKey_ = nullptr;
};

// ---- the transmit box on screen

// Where typed text shows, and how to tell "a character is there" from "the
// box is empty" despite the blinking caret: the rightmost dark column of the
// area moves right by about a character's width when one is typed.
struct KeyBox {
    int x = 0, y = 0, width = 0, height = 0;
    int threshold = 0;  // rightmost dark column at or beyond it: a character shows
};

int RightmostDark(const std::vector<unsigned char>& dark, int width) {
    int right = -1;
    for (std::size_t i = 0; i < dark.size(); ++i)
        if (dark[i]) right = std::max(right, static_cast<int>(i % static_cast<std::size_t>(width)));
    return right;
}

// Types one character at idle and compares the window before and after to
// find the box; then learns the two states across the caret's blinking.
// The probe keeps serving window-manager requests while it waits (wait).
template <class Wait>
std::optional<KeyBox> FindKeyBox(X& x, Window w, bool verbose, Wait wait) {
    int width = 0, height = 0;
    if (!x.CanType() || !x.Size(w, width, height)) return std::nullopt;
    x.Focus(w);
    wait(300ms);
    auto sample = [&](int bx, int by, int bw, int bh, bool lowest) {
        int value = lowest ? 1 << 30 : -1;
        for (int i = 0; i < 8; ++i) {
            int r = RightmostDark(x.Grab(w, bx, by, bw, bh), bw);
            value = lowest ? std::min(value, r) : std::max(value, r);
            wait(150ms);
        }
        return value;
    };
    auto before = x.Grab(w, 0, 0, width, height);
    x.Key(XK_W);
    wait(500ms);
    auto after = x.Grab(w, 0, 0, width, height);
    if (before.size() != after.size() || before.empty()) return std::nullopt;
    int x0 = width, y0 = height, x1 = -1, y1 = -1;
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            std::size_t i = static_cast<std::size_t>(r) * width + c;
            if (before[i] != after[i]) {
                x0 = std::min(x0, c);
                y0 = std::min(y0, r);
                x1 = std::max(x1, c);
                y1 = std::max(y1, r);
            }
        }
    KeyBox box;
    box.x = std::max(0, x0 - 2);
    box.y = std::max(0, y0 - 2);
    box.width = std::min(width - box.x, x1 - x0 + 5);
    box.height = std::min(height - box.y, y1 - y0 + 5);
    if (verbose) std::fprintf(stderr, "key box: %d,%d %dx%d\n", box.x, box.y, box.width, box.height);
    if (x1 < 0 || box.width > 120 || box.height > 40) {
        x.Key(XK_BackSpace);
        return std::nullopt;
    }
    int typed = sample(box.x, box.y, box.width, box.height, true);
    x.Key(XK_BackSpace);
    wait(300ms);
    int empty = sample(box.x, box.y, box.width, box.height, false);
    if (verbose) std::fprintf(stderr, "key box columns: empty %d, typed %d\n", empty, typed);
    if (typed - empty < 3) return std::nullopt;
    box.threshold = (typed + empty + 1) / 2;
    return box;
}

// ---- figures

struct Percentiles {
    double median = 0, p90 = 0, max = 0;
    std::size_t count = 0;
};

Percentiles Summarise(std::vector<double> v) {
    Percentiles p;
    p.count = v.size();
    if (v.empty()) return p;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5))]; };
    p.median = at(0.5);
    p.p90 = at(0.9);
    p.max = v.back();
    return p;
}

struct PhaseResult {
    double mbPerSecond = 0;
    double cpuPercent = 0;
    double rssKbPerMb = 0;
    Percentiles ping;
    std::size_t pingsSent = 0;
    Percentiles keys;
    std::size_t keysTyped = 0;
};

struct RunResult {
    PhaseResult flood, paced;
    std::vector<std::string> newWindows;
    int pollingAfter = -1;
    bool pingAdvertised = false;
    bool keysMeasured = false;
};

// ---- one run

class Run {
public:
    Run(const Options& o, X& x) : o_(o), x_(x) {}

    RunResult Go() {
        RunResult result;
        WriteIni(o_);
        Pty pty;
        OpenPty(pty);
        const std::string log = Folder(o_.program) + "/flood-bench-program.log";
        pid_ = StartProgram(o_, pty, log);
        window_ = WaitForWindow();
        if (!window_) {
            kill(pid_, SIGKILL);
            Die("the program showed no window within 30 s (see " + log + ")");
        }
        result.pingAdvertised = x_.AdvertisesPing(window_);
        if (!result.pingAdvertised)
            std::fprintf(stderr, "flood-probe: the window does not advertise _NET_WM_PING; pinging it anyway\n");
        PumpFor(1500ms, false);
        CheckPortOpen(pty);
        box_ = FindKeyBox(x_, window_, o_.verbose, [this](Clock::duration d) { PumpFor(d, false); });
        result.keysMeasured = box_.has_value();
        if (!box_) std::fprintf(stderr, "flood-probe: could not find the transmit box; keys are not timed\n");

        Writer writer(pty.master);
        if (o_.flood) {
            result.flood = Phase(writer, Writer::Mode::Flood);
            Settle();
        }
        if (o_.paced) {
            result.paced = Phase(writer, Writer::Mode::Paced);
            Settle();
        }

        result.newWindows = newWindows_;
        x_.RequestClose(window_);
        if (!Exited(pid_, 15s)) {
            std::fprintf(stderr, "flood-probe: the program did not close within 15 s; killed\n");
            kill(pid_, SIGKILL);
            Exited(pid_, 5s);
        }
        result.pollingAfter = PollingDelayAfter(o_);
        return result;
    }

private:
    Window WaitForWindow() {
        auto end = Clock::now() + 30s;
        while (Clock::now() < end) {
            while (XPending(x_.D())) {
                XEvent e;
                XNextEvent(x_.D(), &e);
                if (x_.ServeWindowManagerRequest(e)) continue;
                if (e.type == MapNotify && !e.xmap.override_redirect && x_.Pid(e.xmap.window) == pid_)
                    return e.xmap.window;
            }
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) Die("the program ended at start-up");
            pollfd pf{x_.Fd(), POLLIN, 0};
            poll(&pf, 1, 50);
        }
        return 0;
    }

    // A few bytes must leave the pseudo-terminal's queue: the port is open.
    void CheckPortOpen(Pty& pty) {
        const unsigned char hello[16] = {0x55};
        if (write(pty.master, hello, sizeof hello) != static_cast<ssize_t>(sizeof hello)) Die("cannot write to the pty");
        auto end = Clock::now() + 5s;
        while (Clock::now() < end) {
            int queued = 0;
            ioctl(pty.slave, FIONREAD, &queued);
            if (queued == 0) return;
            PumpFor(20ms, false);
        }
        kill(pid_, SIGKILL);
        Die("the program does not read its COM port (was it opened?)");
    }

    // Lets the program work off what it still holds: until it has used
    // (almost) no CPU for half a second, at most 15 s.
    void Settle() {
        auto end = Clock::now() + 15s;
        ProcSample last = Sample(pid_);
        while (Clock::now() < end) {
            PumpFor(500ms, false);
            ProcSample now = Sample(pid_);
            if (now.cpuSeconds - last.cpuSeconds < 0.03) return;
            last = now;
        }
    }

    PhaseResult Phase(Writer& writer, Writer::Mode mode) {
        PhaseResult r;
        pings_.clear();
        pingLatencies_.clear();
        keyLatencies_.clear();
        keysTyped_ = 0;
        keyState_ = KeyState::Idle;

        ProcSample start = Sample(pid_);
        const auto t0 = Clock::now();
        writer.Start(mode);
        const auto phaseEnd = t0 + std::chrono::seconds(o_.seconds);
        nextPing_ = t0;
        nextKey_ = t0 + 100ms;
        while (Clock::now() < phaseEnd) PumpUntil(phaseEnd, true);
        std::uint64_t written = writer.Stop();
        const double elapsed = Ms(Clock::now() - t0) / 1000.0;
        ProcSample stop = Sample(pid_);

        // Late answers still count, with their full delay.
        auto grace = Clock::now() + 10s;
        while (Clock::now() < grace && (!pings_.empty() || keyState_ != KeyState::Idle)) PumpFor(20ms, false);
        for (const auto& [serial, sent] : pings_) pingLatencies_.push_back(Ms(Clock::now() - sent));
        r.pingsSent = pingsSentInPhase_;
        pingsSentInPhase_ = 0;

        const double mb = static_cast<double>(written) / 1e6;
        r.mbPerSecond = mb / elapsed;
        r.cpuPercent = 100.0 * (stop.cpuSeconds - start.cpuSeconds) / elapsed;
        r.rssKbPerMb = mb > 0 ? static_cast<double>(stop.rssKb - start.rssKb) / mb : 0;
        r.ping = Summarise(pingLatencies_);
        r.keys = Summarise(keyLatencies_);
        r.keysTyped = keysTyped_;
        return r;
    }

    void PumpFor(Clock::duration d, bool active) { PumpUntil(Clock::now() + d, active); }

    // Handles X events and, while active, sends pings and types keys, until
    // the deadline.
    void PumpUntil(Clock::time_point end, bool active) {
        while (Clock::now() < end) {
            HandleEvents();
            auto now = Clock::now();
            if (active && now >= nextPing_) {
                ++serial_;
                pings_[serial_] = now;
                ++pingsSentInPhase_;
                x_.SendPing(window_, serial_);
                nextPing_ += 250ms;
            }
            if (box_) StepKeys(active);
            int waitMs = keyState_ == KeyState::Idle ? 5 : 1;
            pollfd pf{x_.Fd(), POLLIN, 0};
            poll(&pf, 1, waitMs);
        }
    }

    void HandleEvents() {
        while (XPending(x_.D())) {
            XEvent e;
            XNextEvent(x_.D(), &e);
            if (x_.ServeWindowManagerRequest(e)) continue;
            if (e.type == ClientMessage && e.xclient.message_type == x_.ProtocolsAtom() &&
                static_cast<Atom>(e.xclient.data.l[0]) == x_.PingAtom()) {
                auto it = pings_.find(e.xclient.data.l[1]);
                if (it != pings_.end()) {
                    pingLatencies_.push_back(Ms(Clock::now() - it->second));
                    pings_.erase(it);
                }
            } else if (e.type == MapNotify && !e.xmap.override_redirect && e.xmap.window != window_ &&
                       x_.Pid(e.xmap.window) == pid_) {
                std::string title = x_.Title(e.xmap.window);
                newWindows_.push_back(title.empty() ? "(untitled)" : title);
            }
        }
    }

    // Types a character, waits until it shows, erases it, waits until it
    // is gone; both keys are timed. One key at a time, at most every 250 ms.
    enum class KeyState { Idle, Appearing, Vanishing };

    void StepKeys(bool active) {
        auto now = Clock::now();
        if (keyState_ == KeyState::Idle) {
            if (!active || now < nextKey_) return;
            // A notice window may have taken the focus; a user would click
            // back into the main window.
            x_.Focus(window_);
            x_.Key(XK_W);
            keySent_ = now;
            keyState_ = KeyState::Appearing;
            ++keysTyped_;
            return;
        }
        int right = RightmostDark(x_.Grab(window_, box_->x, box_->y, box_->width, box_->height), box_->width);
        bool shows = right >= box_->threshold;
        if (o_.verbose && shows != (keyState_ == KeyState::Vanishing))
            std::fprintf(stderr, "key %s after %.1f ms (column %d)\n",
                         keyState_ == KeyState::Appearing ? "shown" : "gone", Ms(Clock::now() - keySent_), right);
        if (keyState_ == KeyState::Appearing && shows) {
            keyLatencies_.push_back(Ms(Clock::now() - keySent_));
            x_.Key(XK_BackSpace);
            keySent_ = Clock::now();
            keyState_ = KeyState::Vanishing;
            ++keysTyped_;
        } else if (keyState_ == KeyState::Vanishing && !shows) {
            keyLatencies_.push_back(Ms(Clock::now() - keySent_));
            keyState_ = KeyState::Idle;
            nextKey_ = std::max(nextKey_ + 250ms, Clock::now());
        } else if (Clock::now() - keySent_ > 10s) {
            keyLatencies_.push_back(Ms(Clock::now() - keySent_));  // counted as seen at the give-up
            keyState_ = KeyState::Idle;
            nextKey_ = Clock::now() + 250ms;
        }
    }

    const Options& o_;
    X& x_;
    pid_t pid_ = -1;
    Window window_ = 0;
    std::optional<KeyBox> box_;
    std::map<long, Clock::time_point> pings_;
    std::vector<double> pingLatencies_;
    std::size_t pingsSentInPhase_ = 0;
    long serial_ = 0;
    Clock::time_point nextPing_{}, nextKey_{}, keySent_{};
    KeyState keyState_ = KeyState::Idle;
    std::vector<double> keyLatencies_;
    std::size_t keysTyped_ = 0;
    std::vector<std::string> newWindows_;
};

// ---- printing

void PrintPhase(const char* name, const PhaseResult& p, bool keys) {
    std::printf("  %-6s %7.2f MB/s  CPU %5.1f %%  RSS %+7.1f KB/MB  ping %6.0f / %6.0f / %6.0f ms (%zu/%zu)", name,
                p.mbPerSecond, p.cpuPercent, p.rssKbPerMb, p.ping.median, p.ping.p90, p.ping.max, p.ping.count,
                p.pingsSent);
    if (keys)
        std::printf("  keys %5.0f / %5.0f / %5.0f ms (%zu)", p.keys.median, p.keys.p90, p.keys.max, p.keys.count);
    std::printf("\n");
}

// Of an even number of runs, the mean of the middle two.
double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t mid = v.size() / 2;
    return v.size() % 2 == 1 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

PhaseResult MedianOf(const std::vector<RunResult>& runs, PhaseResult RunResult::*phase) {
    auto pick = [&](auto get) {
        std::vector<double> v;
        for (const auto& r : runs) v.push_back(get(r.*phase));
        return Median(v);
    };
    PhaseResult m;
    m.mbPerSecond = pick([](const PhaseResult& p) { return p.mbPerSecond; });
    m.cpuPercent = pick([](const PhaseResult& p) { return p.cpuPercent; });
    m.rssKbPerMb = pick([](const PhaseResult& p) { return p.rssKbPerMb; });
    m.ping.median = pick([](const PhaseResult& p) { return p.ping.median; });
    m.ping.p90 = pick([](const PhaseResult& p) { return p.ping.p90; });
    m.ping.max = pick([](const PhaseResult& p) { return p.ping.max; });
    m.ping.count = static_cast<std::size_t>(pick([](const PhaseResult& p) { return double(p.ping.count); }));
    m.pingsSent = static_cast<std::size_t>(pick([](const PhaseResult& p) { return double(p.pingsSent); }));
    m.keys.median = pick([](const PhaseResult& p) { return p.keys.median; });
    m.keys.p90 = pick([](const PhaseResult& p) { return p.keys.p90; });
    m.keys.max = pick([](const PhaseResult& p) { return p.keys.max; });
    m.keys.count = static_cast<std::size_t>(pick([](const PhaseResult& p) { return double(p.keys.count); }));
    return m;
}

// One program the bench runs, with what its runs gave.
struct Subject {
    std::string label;  // "" when there is no baseline
    Options options;
    std::vector<RunResult> results;
    int notices = 0;
};

void PrintRun(const Subject& s, int number, const RunResult& r) {
    std::printf("run %d%s%s%s\n", number, s.label.empty() ? "" : ", ", s.label.c_str(),
                r.pingAdvertised ? "" : " (window does not advertise _NET_WM_PING)");
    if (s.options.flood) PrintPhase("flood", r.flood, r.keysMeasured);
    if (s.options.paced) PrintPhase("paced", r.paced, r.keysMeasured);
    for (const auto& w : r.newWindows) std::printf("  window opened by the program: %s\n", w.c_str());
    if (r.pollingAfter != s.options.pollingMs)
        std::printf("  polling delay raised to %d ms (anti-hang)\n", r.pollingAfter);
}

double MostTaken(const std::vector<RunResult>& runs, PhaseResult RunResult::*phase) {
    double most = 0;
    for (const auto& r : runs) most = std::max(most, (r.*phase).mbPerSecond);
    return most;
}

void PrintSummary(const Subject& s) {
    const Options& o = s.options;
    const std::string who = s.label.empty() ? "" : " (" + s.label + ")";
    if (o.runs > 1) {
        std::printf("median of %d runs%s\n", o.runs, who.c_str());
        bool keys = std::all_of(s.results.begin(), s.results.end(), [](const RunResult& r) { return r.keysMeasured; });
        if (o.flood) PrintPhase("flood", MedianOf(s.results, &RunResult::flood), keys);
        if (o.paced) PrintPhase("paced", MedianOf(s.results, &RunResult::paced), keys);
        std::printf("  most taken in a run:");
        if (o.flood) std::printf("  flood %.2f MB/s", MostTaken(s.results, &RunResult::flood));
        if (o.paced) std::printf("  paced %.2f MB/s", MostTaken(s.results, &RunResult::paced));
        std::printf("\n");
    }
    std::printf("runs with a notice window or a raised polling delay%s: %d of %d\n", who.c_str(), s.notices, o.runs);
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    const Options o = ParseOptions(argc, argv);
    X x;
    std::printf("Flood bench: polling %d ms, %s with ms time stamps, %d s per phase, %d run(s)%s%s\n", o.pollingMs,
                o.ascii ? "ASCII" : "HEX", o.seconds, o.runs,
                o.baseline.empty() ? "" : " of each program in turns",
                o.recvLoop.empty() ? "" : o.recvLoop == "onload" ? ", a Recv loop in ONLOAD reads the port"
                                                                 : ", a Recv loop in ONRECEIVE reads the port");
    std::vector<Subject> subjects;
    if (!o.baseline.empty()) {
        Subject base{"baseline", o, {}, 0};
        base.options.program = o.baseline;
        std::printf("  baseline: %s\n  program:  %s\n", o.baseline.c_str(), o.program.c_str());
        subjects.push_back(std::move(base));
        subjects.push_back({"program", o, {}, 0});
    } else {
        subjects.push_back({"", o, {}, 0});
    }
    std::printf("  phase     taken       CPU        RSS growth    ping median / p90 / max (answered/sent)"
                "   keys median / p90 / max (timed)\n");
    for (int i = 0; i < o.runs; ++i) {
        // Each takes the first turn in every other round, so that neither
        // gains by going first (a machine settling, or getting busier).
        for (std::size_t k = 0; k < subjects.size(); ++k) {
            Subject& s = subjects[i % 2 == 0 ? k : subjects.size() - 1 - k];
            Run run(s.options, x);
            RunResult r = run.Go();
            PrintRun(s, i + 1, r);
            if (!r.newWindows.empty() || r.pollingAfter != s.options.pollingMs) ++s.notices;
            std::fflush(stdout);
            s.results.push_back(std::move(r));
        }
    }
    for (const Subject& s : subjects) PrintSummary(s);
    return 0;
}
