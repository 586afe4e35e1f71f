#include "support/virtual_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <iterator>
#include <thread>

namespace test_support {

namespace {

using Clock = std::chrono::steady_clock;

// The descriptor the server writes its display number to.
constexpr int kDisplayFd = 3;

// In the child, before exec: nothing here may allocate (the test program
// may have other threads).
[[noreturn]] void ExecServer(int report, pid_t parent, char* const argv[]) {
    // The server goes when the test program does, even when it crashes.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(126);
    if (report == kDisplayFd) {
        fcntl(report, F_SETFD, 0);
    } else if (dup2(report, kDisplayFd) < 0) {
        _exit(126);
    }
    // Nothing else of the test's (ports, sockets) stays open in the server.
    close_range(kDisplayFd + 1, ~0U, 0);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (null > kDisplayFd) close(null);
    }
    execvp(argv[0], argv);
    _exit(127);
}

// Reads the server's "N\n" until it comes, the pipe closes or time is up.
std::string ReadDisplayNumber(int fd, Clock::time_point end) {
    std::string text;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) return "";
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[32];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) return "";
        if (n > 0) text.append(buf, static_cast<std::size_t>(n));
    }
    text.erase(text.find('\n'));
    if (text.empty()) return "";
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return "";
    return text;
}

// The child's wait status once it ended, or -1 when it still runs at end.
int WaitUntil(pid_t pid, Clock::time_point end) {
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        if (Clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

VirtualDisplay::VirtualDisplay(const std::string& screen, std::chrono::milliseconds limit) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "no pipe for the display number";
        return;
    }
    // -noreset: by default the server resets whenever its last client leaves
    // (a test's short-lived tool that looks for a window), and a program
    // that connects during the reset is turned away.
    std::string args[] = {"Xvfb", "-displayfd", std::to_string(kDisplayFd), "-screen", "0", screen,
                          "-nolisten", "tcp", "-noreset"};
    char* argv[std::size(args) + 1] = {};
    for (std::size_t i = 0; i < std::size(args); ++i) argv[i] = args[i].data();
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) ExecServer(fds[1], parent, argv);
    close(fds[1]);
    if (pid_ < 0) {
        close(fds[0]);
        error_ = "fork failed";
        return;
    }
    const std::string number = ReadDisplayNumber(fds[0], Clock::now() + limit);
    close(fds[0]);
    if (!number.empty()) {
        name_ = ":" + number;
        return;
    }
    // A server that closed the pipe without a number has ended, or soon will.
    const int status = WaitUntil(pid_, Clock::now() + std::chrono::seconds(2));
    if (status == -1) {
        error_ = "Xvfb reported no display in " + std::to_string(limit.count()) + " ms";
        Stop();
    } else {
        pid_ = -1;
        error_ = WIFEXITED(status) && WEXITSTATUS(status) == 127
                     ? "Xvfb could not be started (is it installed?)"
                     : "Xvfb ended without a display (wait status " + std::to_string(status) + ")";
    }
}

VirtualDisplay::~VirtualDisplay() { Stop(); }

void VirtualDisplay::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (WaitUntil(pid_, Clock::now() + std::chrono::seconds(10)) == -1) {
        kill(pid_, SIGKILL);
        WaitUntil(pid_, Clock::now() + std::chrono::seconds(10));
    }
    pid_ = -1;
    name_.clear();
}

}  // namespace test_support
