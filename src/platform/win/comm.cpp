#include "platform/win/comm.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/rtl/files.h"
#include "platform/win/linux/termios2.h"
#include "platform/win/guarded_notifier.h"
#include "platform/win/message_window.h"
#include "platform/win/linux/termios_map.h"

namespace win {
namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local std::string t_lastErrorText;

bool Fail(DWORD code, std::string text) {
    t_lastError = code;
    t_lastErrorText = std::move(text);
    return false;
}

std::string ErrnoText(int err) { return std::error_code(err, std::generic_category()).message(); }

using Clock = std::chrono::steady_clock;

constexpr std::size_t kDefaultQueue = 4096;
constexpr std::size_t kMinQueue = 16;

class CommDevice {
public:
    CommDevice(int fd, std::string path) : fd_(fd), path_(std::move(path)), ring_(kDefaultQueue) {
        if (QCoreApplication::instance()) {
            notifier_ = MakeGuardedNotifier(fd_, QSocketNotifier::Read, [this] {
                // A device that keeps signalling without giving data has
                // hung up; stop listening rather than spin.
                if (Drain() == 0 && !dead_ && !Full() && HungUp()) MarkDead(EIO);
                UpdateNotifier();
            });
        }
        serial_icounter_struct counts{};
        haveCounts_ = ioctl(fd_, TIOCGICOUNT, &counts) == 0;
        if (haveCounts_) lastCounts_ = counts;
    }

    ~CommDevice() {
        notifier_.reset();
        ioctl(fd_, TIOCNXCL);
        flock(fd_, LOCK_UN);
        close(fd_);
    }

    CommDevice(const CommDevice&) = delete;
    CommDevice& operator=(const CommDevice&) = delete;

    int Fd() const { return fd_; }
    bool Dead() const { return dead_; }
    // The queue takes no more from the device now: it holds as much as its
    // size or its owner's limit allows.
    bool Full() const { return count_ >= Capacity(); }
    bool FailVanished() const { return Fail(ERROR_BAD_COMMAND, path_ + ": the device has gone away (" + ErrnoText(deadErrno_) + ")"); }
    bool FailErrno(int err, const char* what) const {
        if (err == EIO || err == ENXIO || err == ENODEV) return Fail(ERROR_BAD_COMMAND, path_ + ": " + what + ": " + ErrnoText(err));
        return Fail(ERROR_GEN_FAILURE, path_ + ": " + what + ": " + ErrnoText(err));
    }

    // Moves what the device has into the queue, as far as there is room;
    // returns the bytes moved.
    std::size_t Drain() {
        const std::size_t before = count_;
        while (!dead_ && !Full()) {
            std::size_t tail = (head_ + count_) % ring_.size();
            std::size_t room = std::min(Capacity() - count_, ring_.size() - tail);
            ssize_t n = read(fd_, ring_.data() + tail, room);
            if (n > 0) {
                count_ += static_cast<std::size_t>(n);
                taken_ += static_cast<std::uint64_t>(n);
                // A terminal hands out all it holds at once: a short read
                // means it has nothing more now.
                if (static_cast<std::size_t>(n) < room) break;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) break;
            // End of file is either a hang-up or, in a polling read mode,
            // simply no data: only a hang-up shows in poll.
            if (n == 0 && !HungUp()) break;
            MarkDead(n == 0 ? EIO : errno);
        }
        UpdateNotifier();
        return count_ - before;
    }

    std::size_t Take(std::uint8_t* out, std::size_t max) {
        std::size_t taken = 0;
        while (taken < max && count_ > 0) {
            std::size_t chunk = std::min({max - taken, count_, ring_.size() - head_});
            std::memcpy(out + taken, ring_.data() + head_, chunk);
            head_ = (head_ + chunk) % ring_.size();
            count_ -= chunk;
            taken += chunk;
        }
        if (count_ == 0) head_ = 0;
        UpdateNotifier();
        return taken;
    }

    void ClearQueue() {
        head_ = 0;
        count_ = 0;
        UpdateNotifier();
    }

    // Resizes the queue; never below what it holds now.
    void Resize(std::size_t size) {
        size = std::max({size, kMinQueue, count_});
        std::vector<std::uint8_t> fresh(size);
        std::size_t held = count_;
        Take(fresh.data(), held);
        ring_ = std::move(fresh);
        head_ = 0;
        count_ = held;
        UpdateNotifier();
    }

    std::size_t Queued() const { return count_; }
    std::uint64_t Taken() const { return taken_; }

    // The most the queue holds from now on (at most its size): while its
    // owner cannot take more, the rest stays with the device.
    void SetLimit(std::size_t limit) {
        limit_ = limit;
        UpdateNotifier();
    }

    // Line errors since the last call, from the driver's counters.
    DWORD TakeErrors() {
        if (!haveCounts_ || dead_) return 0;
        serial_icounter_struct now{};
        if (ioctl(fd_, TIOCGICOUNT, &now) != 0) return 0;
        DWORD errors = 0;
        if (now.frame != lastCounts_.frame) errors |= CE_FRAME;
        if (now.overrun != lastCounts_.overrun) errors |= CE_OVERRUN;
        if (now.parity != lastCounts_.parity) errors |= CE_RXPARITY;
        if (now.brk != lastCounts_.brk) errors |= CE_BREAK;
        if (now.buf_overrun != lastCounts_.buf_overrun) errors |= CE_RXOVER;
        lastCounts_ = now;
        return errors;
    }

    // Sets or clears a modem line; a device without modem lines keeps only
    // the remembered state.
    bool SetModemLine(int line, bool on) {
        (line == TIOCM_DTR ? dtr_ : rts_) = on;
        if (dead_) return FailVanished();
        int bits = line;
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0 && (errno == EIO || errno == ENXIO))
            return FailErrno(errno, "modem line");
        return true;
    }

    COMMTIMEOUTS timeouts{};
    DCB dcb{};
    bool breakOn = false;

private:
    bool HungUp() const {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }

    void MarkDead(int err) {
        dead_ = true;
        deadErrno_ = err;
    }

    std::size_t Capacity() const { return std::min(limit_, ring_.size()); }

    void UpdateNotifier() {
        if (notifier_) notifier_->setEnabled(!dead_ && !Full());
    }

    int fd_;
    std::string path_;
    std::vector<std::uint8_t> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    bool dead_ = false;
    std::size_t limit_ = SIZE_MAX;
    std::uint64_t taken_ = 0;  // bytes read from the device
    int deadErrno_ = 0;
    bool dtr_ = true;
    bool rts_ = true;
    bool haveCounts_ = false;
    serial_icounter_struct lastCounts_{};
    std::unique_ptr<QSocketNotifier> notifier_;
};

// Open ports by handle; handles are never reused.
struct DeviceTable {
    std::map<HANDLE, std::unique_ptr<CommDevice>> devices;
    HANDLE next = 0x1000;
};

DeviceTable& Devices() {
    static DeviceTable table;
    return table;
}

CommDevice* Find(HANDLE handle) {
    auto& devices = Devices().devices;
    auto it = devices.find(handle);
    if (it != devices.end()) return it->second.get();
    Fail(ERROR_INVALID_HANDLE, "not an open serial port");
    return nullptr;
}

struct PortMapOverrides {
    std::mutex lock;
    std::map<int, std::string> map;
};

PortMapOverrides& Overrides() {
    static PortMapOverrides overrides;
    return overrides;
}

// One entry of VOSTREL_COMPORTS: its COM number (0 when it has none that
// can be used) and device.
struct EnvEntry {
    std::string text;
    int number = 0;
    std::string device;
};

// "7=/dev/pts/3;COM8=/dev/ttyUSB0"; empty entries are skipped.
std::vector<EnvEntry> EnvironmentEntries() {
    std::vector<EnvEntry> entries;
    const char* env = std::getenv("VOSTREL_COMPORTS");
    if (!env) return entries;
    std::string text = env;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(';', pos);
        if (end == std::string::npos) end = text.size();
        EnvEntry entry;
        entry.text = text.substr(pos, end - pos);
        pos = end + 1;
        if (entry.text.empty()) continue;
        std::size_t eq = entry.text.find('=');
        std::string key = entry.text.substr(0, eq == std::string::npos ? 0 : eq);
        if (key.size() > 3 && (key[0] == 'C' || key[0] == 'c') && (key[1] == 'O' || key[1] == 'o') &&
            (key[2] == 'M' || key[2] == 'm'))
            key = key.substr(3);
        if (eq != std::string::npos && !key.empty() && key.size() <= 6 &&
            std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            const int n = std::stoi(key);
            // Port numbers above 255 name the program's other kinds of port.
            if (n >= 1 && n <= 255) entry.number = n;
            entry.device = entry.text.substr(eq + 1);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string FromEnvironment(int number) {
    for (const EnvEntry& e : EnvironmentEntries())
        if (e.number == number) return e.device;
    return {};
}

std::string FromFixedRule(int number) {
    struct Range {
        int first, count;
        const char* prefix;
    };
    static constexpr Range ranges[] = {{1, 32, "/dev/ttyS"}, {33, 64, "/dev/ttyUSB"}, {97, 64, "/dev/ttyACM"}, {161, 32, "/dev/rfcomm"}};
    for (const auto& r : ranges)
        if (number >= r.first && number < r.first + r.count) return r.prefix + std::to_string(number - r.first);
    return {};
}

// The COM number in "\\.\COMn" or "COMn", if the name is one.
std::optional<int> ComNumber(std::string name) {
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    if (name.size() < 4 || name.size() > 9) return std::nullopt;
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm') return std::nullopt;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

// A device's system name as message text, so that its letters show.
std::string Shown(const std::string& path) { return rtl::FromSysPath(path); }

std::string AccessDeniedReason(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return Shown(path) + ": permission denied";
    gid_t groups[256];
    int n = getgroups(256, groups);
    bool member = getegid() == st.st_gid;
    for (int i = 0; i < n && !member; ++i) member = groups[i] == st.st_gid;
    if (member) return Shown(path) + ": permission denied";
    const group* g = getgrgid(st.st_gid);
    std::string name = g ? g->gr_name : std::to_string(st.st_gid);
    return Shown(path) + ": permission denied; the user is not a member of the group '" + name +
           "' that owns the device (usually dialout)";
}

bool FailInUse(const std::string& path) {
    return Fail(ERROR_ACCESS_DENIED, Shown(path) + ": the device is in use by another program");
}

int MillisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) {
    t_lastError = code;
    t_lastErrorText.clear();
}
std::string GetLastErrorText() { return t_lastErrorText; }

void SetComPortMapOverrides(std::map<int, std::string> overrides) {
    auto& o = Overrides();
    std::lock_guard guard(o.lock);
    o.map = std::move(overrides);
}

std::string ExplicitComPortDevice(int number) {
    if (number < 1) return {};
    if (auto path = FromEnvironment(number); !path.empty()) return path;
    auto& o = Overrides();
    std::lock_guard guard(o.lock);
    auto it = o.map.find(number);
    return it != o.map.end() ? it->second : std::string();
}

std::string ComPortDevice(int number) {
    if (number < 1) return {};
    if (auto path = ExplicitComPortDevice(number); !path.empty()) return path;
    return FromFixedRule(number);
}

std::vector<std::string> ComPortMapErrors() {
    std::vector<std::string> errors;
    for (const EnvEntry& e : EnvironmentEntries())
        if (e.number == 0)
            errors.push_back("VOSTREL_COMPORTS: \"" + e.text +
                             "\" is ignored: an entry is a COM number from 1 to 255, \"=\" and a device");
    return errors;
}

HANDLE CreateFileA(const std::string& fileName, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
    // The device's system name: a mapped one is one already, a path given
    // directly is program text.
    std::string path = rtl::SysPath(fileName);
    if (auto number = ComNumber(fileName)) {
        path = ComPortDevice(*number);
        if (path.empty()) {
            Fail(ERROR_FILE_NOT_FOUND, "COM" + std::to_string(*number) + " is not mapped to a device");
            return INVALID_HANDLE_VALUE;
        }
    } else if (path.empty() || path[0] != '/') {
        Fail(ERROR_FILE_NOT_FOUND, "'" + fileName + "' is neither a COM port nor a device path");
        return INVALID_HANDLE_VALUE;
    }

    // Non-blocking so that a missing carrier cannot hang the open, and never
    // the controlling terminal of this process.
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        // A serial device node without hardware behind it fails with EIO.
        if (err == ENOENT || err == ENODEV || err == ENXIO || err == ENOTDIR || err == EIO)
            Fail(ERROR_FILE_NOT_FOUND, Shown(path) + ": no such device");
        else if (err == EACCES || err == EPERM)
            Fail(ERROR_ACCESS_DENIED, AccessDeniedReason(path));
        else if (err == EBUSY)
            FailInUse(path);
        else
            Fail(ERROR_GEN_FAILURE, Shown(path) + ": " + ErrnoText(err));
        return INVALID_HANDLE_VALUE;
    }
    termios probe{};
    if (tcgetattr(fd, &probe) != 0) {
        close(fd);
        Fail(ERROR_FILE_NOT_FOUND, Shown(path) + ": not a serial device");
        return INVALID_HANDLE_VALUE;
    }
    // Both locks are needed: TIOCEXCL keeps out other opens (but not a
    // privileged one, and only once it is set, so two programs opening at
    // the same moment both get in), while flock settles that race among
    // programs that take it, whatever their privileges. A privileged open
    // gets past another program's TIOCEXCL, and a program that only sets
    // TIOCEXCL takes no flock: asking the mode is what keeps the two from
    // splitting one stream.
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        close(fd);
        FailInUse(path);
        return INVALID_HANDLE_VALUE;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        FailInUse(path);
        return INVALID_HANDLE_VALUE;
    }
    ioctl(fd, TIOCEXCL);

    auto& table = Devices();
    HANDLE handle = table.next;
    table.next += 4;
    table.devices[handle] = std::make_unique<CommDevice>(fd, path);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

bool CloseHandle(HANDLE handle) {
    auto& devices = Devices().devices;
    auto it = devices.find(handle);
    if (it == devices.end()) return Fail(ERROR_INVALID_HANDLE, "not an open serial port");
    devices.erase(it);
    return true;
}

bool SetCommState(HANDLE handle, const DCB* dcb) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    if (!dcb || !tty::DcbIsValid(*dcb))
        return Fail(ERROR_INVALID_PARAMETER, "invalid line settings");
    if (dev->Dead()) return dev->FailVanished();

    termios tio{};
    if (tcgetattr(dev->Fd(), &tio) != 0) return dev->FailErrno(errno, "reading the line settings");
    speed_t speed = tty::DcbToTermios(*dcb, tio);
    if (tcsetattr(dev->Fd(), TCSANOW, &tio) != 0) {
        // The C library reports a pseudo-terminal's refusal of character
        // size and parity as EINVAL after the kernel took everything else;
        // like its missing modem lines, that is not a failure here.
        int err = errno;
        termios now{};
        if (err != EINVAL || tcgetattr(dev->Fd(), &now) != 0 || !tty::MatchesApartFromPtyLimits(tio, now))
            return dev->FailErrno(err, "applying the line settings");
    }
    if (speed == B0) {
        if (int err = tty::SetArbitrarySpeed(dev->Fd(), dcb->BaudRate); err != 0)
            return err == EINVAL ? Fail(ERROR_INVALID_PARAMETER, "baud rate " + std::to_string(dcb->BaudRate) + " is not supported")
                                 : dev->FailErrno(err, "setting the baud rate");
    }

    bool dtr = dcb->fDtrControl != DTR_CONTROL_DISABLE;
    bool rts = dcb->fRtsControl == RTS_CONTROL_ENABLE || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE;
    if (!dev->SetModemLine(TIOCM_DTR, dtr) || !dev->SetModemLine(TIOCM_RTS, rts)) return false;
    dev->dcb = *dcb;
    return true;
}

bool GetCommState(HANDLE handle, DCB* dcb) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    if (!dcb) return Fail(ERROR_INVALID_PARAMETER, "no DCB");
    termios tio{};
    if (tcgetattr(dev->Fd(), &tio) != 0) return dev->FailErrno(errno, "reading the line settings");
    DCB out = dev->dcb;
    out.DCBlength = sizeof(DCB);
    std::uint32_t in = 0, speed = 0;
    if (tty::GetSpeed(dev->Fd(), &in, &speed) == 0) out.BaudRate = speed;
    tty::TermiosToDcb(tio, out);
    *dcb = out;
    return true;
}

bool SetupComm(HANDLE handle, DWORD inQueue, DWORD) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    dev->Resize(inQueue);
    return true;
}

bool SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS* timeouts) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    if (!timeouts) return Fail(ERROR_INVALID_PARAMETER, "no time-outs");
    dev->timeouts = *timeouts;
    return true;
}

bool GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    if (!timeouts) return Fail(ERROR_INVALID_PARAMETER, "no time-outs");
    *timeouts = dev->timeouts;
    return true;
}

bool PurgeComm(HANDLE handle, DWORD flags) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return Fail(ERROR_INVALID_PARAMETER, "invalid purge flags");
    // Reads and writes are synchronous, so there is never one to abort.
    if (flags & PURGE_RXCLEAR) {
        dev->ClearQueue();
        if (!dev->Dead()) tcflush(dev->Fd(), TCIFLUSH);
    }
    // Only what the output queue itself says it holds is dropped. A
    // pseudo-terminal has no output queue (it reads 0): what was written
    // waits in the other side's input already, yet its output flush would
    // empty that input, taking back bytes the writer was told went out (a
    // port reopened after a long write, whose new handle is flushed).
    if ((flags & PURGE_TXCLEAR) && !dev->Dead()) {
        int queued = 0;
        if (ioctl(dev->Fd(), TIOCOUTQ, &queued) == 0 && queued > 0) tcflush(dev->Fd(), TCOFLUSH);
    }
    return true;
}

bool ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* stat) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    dev->Drain();
    DWORD bits = dev->TakeErrors();
    if (errors) *errors = bits;
    if (stat) {
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(dev->Queued());
        int out = 0;
        if (!dev->Dead() && ioctl(dev->Fd(), TIOCOUTQ, &out) == 0 && out > 0) stat->cbOutQue = static_cast<DWORD>(out);
    }
    if (dev->Dead()) return dev->FailVanished();
    return true;
}

bool ReadFile(HANDLE handle, void* buffer, DWORD toRead, DWORD* read, void*) {
    if (read) *read = 0;
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    if (toRead > 0 && !buffer) return Fail(ERROR_INVALID_PARAMETER, "no buffer");
    const COMMTIMEOUTS t = dev->timeouts;
    auto* out = static_cast<std::uint8_t*>(buffer);

    // The COMMTIMEOUTS cases: return at once with what is there; return as
    // soon as anything is there (waiting for the first byte at most the
    // constant); otherwise a total time-out and/or a time-out between bytes,
    // and with neither, wait until everything has come.
    const bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    const bool firstByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                           t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    std::optional<Clock::time_point> totalDeadline;
    const auto start = Clock::now();
    if (firstByte) {
        totalDeadline = start + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
    } else if (!atOnce && (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)) {
        std::uint64_t ms = std::uint64_t{t.ReadTotalTimeoutMultiplier} * toRead + t.ReadTotalTimeoutConstant;
        totalDeadline = start + std::chrono::milliseconds(ms);
    }
    const bool useInterval = !atOnce && !firstByte && t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;

    DWORD got = 0;
    Clock::time_point lastByte = start;
    for (;;) {
        std::size_t n = dev->Take(out + got, toRead - got);
        if (n > 0) {
            got += static_cast<DWORD>(n);
            lastByte = Clock::now();
        }
        if (got == toRead) break;
        dev->Drain();
        if (dev->Queued() > 0) continue;
        if (dev->Dead()) {
            if (got > 0) break;
            return dev->FailVanished();
        }
        // Nothing more will come through a port that reads no more.
        if (atOnce || dev->Full() || (firstByte && got > 0)) break;
        std::optional<Clock::time_point> deadline = totalDeadline;
        if (useInterval && got > 0) {
            auto gap = lastByte + std::chrono::milliseconds(t.ReadIntervalTimeout);
            if (!deadline || gap < *deadline) deadline = gap;
        }
        if (deadline && Clock::now() >= *deadline) break;
        pollfd p{dev->Fd(), POLLIN, 0};
        int rc = poll(&p, 1, deadline ? MillisecondsUntil(*deadline) : -1);
        if (rc < 0 && errno != EINTR) return dev->FailErrno(errno, "waiting for input");
    }
    if (read) *read = got;
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool WriteFile(HANDLE handle, const void* buffer, DWORD toWrite, DWORD* written, void*) {
    if (written) *written = 0;
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    if (toWrite > 0 && !buffer) return Fail(ERROR_INVALID_PARAMETER, "no buffer");
    if (dev->Dead()) return dev->FailVanished();
    const COMMTIMEOUTS t = dev->timeouts;
    std::optional<Clock::time_point> deadline;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0)
        deadline = Clock::now() + std::chrono::milliseconds(std::uint64_t{t.WriteTotalTimeoutMultiplier} * toWrite +
                                                            t.WriteTotalTimeoutConstant);
    const bool toggle = dev->dcb.fRtsControl == RTS_CONTROL_TOGGLE;
    if (toggle) dev->SetModemLine(TIOCM_RTS, true);

    const auto* in = static_cast<const std::uint8_t*>(buffer);
    DWORD done = 0;
    bool ok = true;
    while (done < toWrite) {
        ssize_t n = write(dev->Fd(), in + done, toWrite - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            if (deadline && Clock::now() >= *deadline) break;
            pollfd p{dev->Fd(), POLLOUT, 0};
            int rc = poll(&p, 1, deadline ? MillisecondsUntil(*deadline) : -1);
            if (rc < 0 && errno != EINTR) {
                ok = dev->FailErrno(errno, "waiting to write");
                break;
            }
            continue;
        }
        ok = dev->FailErrno(n < 0 ? errno : EIO, "writing");
        break;
    }
    if (toggle) {
        tcdrain(dev->Fd());
        dev->SetModemLine(TIOCM_RTS, false);
    }
    if (written) *written = done;
    if (ok) SetLastError(ERROR_SUCCESS);
    return ok;
}

bool SetCommInputLimit(HANDLE handle, DWORD limit) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    dev->SetLimit(limit);
    return true;
}

bool GetCommInputTotal(HANDLE handle, std::uint64_t* total) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    if (!total) return Fail(ERROR_INVALID_PARAMETER, "no count");
    *total = dev->Taken();
    return true;
}

bool GetCommModemStatus(HANDLE handle, DWORD* modemStatus) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    if (!modemStatus) return Fail(ERROR_INVALID_PARAMETER, "no status");
    *modemStatus = 0;
    if (dev->Dead()) return dev->FailVanished();
    int bits = 0;
    if (ioctl(dev->Fd(), TIOCMGET, &bits) != 0) {
        if (errno == EIO || errno == ENXIO) return dev->FailErrno(errno, "reading the modem lines");
        return true;  // no modem lines: nothing is on
    }
    if (bits & TIOCM_CTS) *modemStatus |= MS_CTS_ON;
    if (bits & TIOCM_DSR) *modemStatus |= MS_DSR_ON;
    if (bits & TIOCM_RNG) *modemStatus |= MS_RING_ON;
    if (bits & TIOCM_CD) *modemStatus |= MS_RLSD_ON;
    return true;
}

bool EscapeCommFunction(HANDLE handle, DWORD function) {
    CommDevice* dev = Find(handle);
    if (!dev) return false;
    switch (function) {
        case SETRTS: return dev->SetModemLine(TIOCM_RTS, true);
        case CLRRTS: return dev->SetModemLine(TIOCM_RTS, false);
        case SETDTR: return dev->SetModemLine(TIOCM_DTR, true);
        case CLRDTR: return dev->SetModemLine(TIOCM_DTR, false);
        case SETBREAK:
        case CLRBREAK:
            if (dev->Dead()) return dev->FailVanished();
            dev->breakOn = function == SETBREAK;
            if (ioctl(dev->Fd(), dev->breakOn ? TIOCSBRK : TIOCCBRK) != 0 && (errno == EIO || errno == ENXIO))
                return dev->FailErrno(errno, "line break");
            return true;
        case SETXOFF:
        case SETXON:
            if (dev->Dead()) return dev->FailVanished();
            tcflow(dev->Fd(), function == SETXOFF ? TCOOFF : TCOON);
            return true;
        case RESETDEV: return true;
        default: return Fail(ERROR_INVALID_PARAMETER, "unknown escape function " + std::to_string(function));
    }
}

}  // namespace win
