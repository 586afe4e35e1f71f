#include "support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "platform/win/linux/termios2.h"

namespace test_support {

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("no pseudo-terminal name");
    slavePath_ = name;
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (keeper_ >= 0) close(keeper_);
}

void PtyPair::MapAsCom(int number) const {
    std::string entry = std::to_string(number) + "=" + slavePath_;
    const char* old = std::getenv("VOSTREL_COMPORTS");
    std::string kept;
    if (old) {
        std::string text = old;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find(';', pos);
            if (end == std::string::npos) end = text.size();
            std::string e = text.substr(pos, end - pos);
            if (!e.empty() && e.rfind(std::to_string(number) + "=", 0) != 0) kept += e + ";";
            pos = end + 1;
        }
    }
    setenv("VOSTREL_COMPORTS", (kept + entry).c_str(), 1);
}

std::size_t PtyPair::WriteSome(const std::uint8_t* data, std::size_t size) {
    ssize_t n = write(master_, data, size);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::size_t PtyPair::Write(const std::string& bytes, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, static_cast<int>(left.count()));
    }
    return done;
}

std::string PtyPair::Read(std::size_t max, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    std::string out;
    char buf[4096];
    while (out.size() < max) {
        ssize_t n = read(master_, buf, std::min(sizeof buf, max - out.size()));
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        // With no slave open the master reports EIO and polls as hung up;
        // sleep briefly instead of spinning.
        if (n < 0 && errno == EIO) {
            usleep(1000);
            continue;
        }
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 10)));
    }
    return out;
}

void PtyPair::CloseMaster() {
    if (master_ < 0) return;
    // The slave held open here keeps its number from another test's new
    // pseudo-terminal while this one is gone (its node goes with the
    // master): a program retrying the vanished device must find nothing,
    // not a device of a test running beside it.
    if (keeper_ < 0) keeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    close(master_);
    master_ = -1;
}

termios PtyPair::SlaveTermios() const {
    // On the master, the terminal ioctls reach the slave's settings.
    termios tio{};
    tcgetattr(master_, &tio);
    return tio;
}

std::uint32_t PtyPair::SlaveBaud() const {
    std::uint32_t in = 0, out = 0;
    win::tty::GetSpeed(master_, &in, &out);
    return out;
}

}  // namespace test_support
