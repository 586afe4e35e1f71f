#include "platform/win/port_scan.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/rtl/cp1251.h"
#include "platform/win/comm.h"

namespace win {
namespace {

namespace fs = std::filesystem;

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (in) std::getline(in, line);
    return line;
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Digits from pos on, after any blanks; 0 when there are none. Stops
// counting past the COM range so that a long run of digits cannot overflow.
long long ReadNumber(const std::string& s, std::size_t pos) {
    while (pos < s.size() && s[pos] == ' ') ++pos;
    long long n = 0;
    for (; pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++pos)
        if (n <= LastComPort) n = n * 10 + (s[pos] - '0');
    return n;
}

// The name of the device's entry under <sysRoot>/class/tty: that of the
// device the path resolves to (a by-id link names a ttyUSB), else that of
// the path itself.
fs::path SysTtyEntry(const std::string& path, const std::string& sysRoot) {
    const fs::path ttyClass = fs::path(sysRoot) / "class" / "tty";
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (!ec) {
        const fs::path entry = ttyClass / real.filename();
        if (fs::exists(entry, ec)) return entry;
    }
    const fs::path entry = ttyClass / fs::path(path).filename();
    if (fs::exists(entry, ec)) return entry;
    return {};
}

bool IsLegacyUartName(const std::string& name) {
    if (name.size() < 5 || name.compare(0, 4, "ttyS") != 0) return false;
    return std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether a UART answers behind a ttyS node: sysfs "type" is the port type,
// 0 meaning none; without that file the driver is asked directly.
bool HasUart(const std::string& path, const fs::path& entry) {
    std::error_code ec;
    if (entry.empty() || !fs::exists(entry / "device", ec)) return false;
    const std::string type = Trim(ReadFirstLine(entry / "type"));
    if (!type.empty()) return type != "0";
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;  // cannot ask (busy, forbidden): the device link says it is there
    serial_struct info{};
    const bool known = ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
    close(fd);
    return known;
}

// The first non-empty answer of look for the device and the devices above
// it, a few levels up at most.
template <class Look>
std::string FromDeviceOrAbove(const fs::path& device, Look look) {
    std::error_code ec;
    fs::path dir = fs::canonical(device, ec);
    for (int level = 0; !ec && level < 4 && !dir.empty() && dir != dir.root_path(); ++level) {
        if (std::string text = look(dir); !text.empty()) return text;
        dir = dir.parent_path();
    }
    return {};
}

// Whether a character device belongs to the tty layer, told without
// opening it (opening a modem or a board's USB port can reset what is on
// the other end). Pseudo-terminal slaves have no sysfs entry; their major
// numbers are fixed.
bool IsTtyDevice(dev_t rdev, const std::string& sysRoot) {
    const unsigned maj = major(rdev);
    if (maj >= 136 && maj <= 143) return true;
    std::error_code ec;
    const fs::path subsystem = fs::read_symlink(fs::path(sysRoot) / "dev" / "char" /
                                                    (std::to_string(maj) + ":" + std::to_string(minor(rdev))) /
                                                    "subsystem",
                                                ec);
    return !ec && subsystem.filename() == "tty";
}

// Text from sysfs made fit for one line of the program's text.
std::string CleanText(const std::string& utf8) {
    std::string s = rtl::Utf8ToAnsi(utf8);
    for (char& c : s)
        if (IsBlank(c)) c = ' ';
    return Trim(s);
}

}  // namespace

bool IsRealSerialDevice(const std::string& path, const std::string& sysRoot) {
    struct stat st{};
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    if (!IsTtyDevice(st.st_rdev, sysRoot)) return false;
    const fs::path entry = SysTtyEntry(path, sysRoot);
    const std::string name = entry.empty() ? std::string() : entry.filename().string();
    if (IsLegacyUartName(name) || (entry.empty() && IsLegacyUartName(fs::path(path).filename().string())))
        return HasUart(path, entry);
    return true;
}

std::string SerialDeviceDescription(const std::string& path, const std::string& sysRoot) {
    const fs::path entry = SysTtyEntry(path, sysRoot);
    std::error_code ec;
    if (!entry.empty() && fs::exists(entry / "device", ec)) {
        // A USB adapter: the interface or product name of the nearest USB
        // device above the tty.
        std::string text = FromDeviceOrAbove(entry / "device", [](const fs::path& dir) {
            for (const char* file : {"interface", "product"})
                if (std::string line = CleanText(ReadFirstLine(dir / file)); !line.empty()) return line;
            return std::string();
        });
        if (!text.empty()) return text;
        // Else the nearest driver; the serial core's own port and controller
        // devices, which newer kernels put between the tty and the hardware,
        // say nothing.
        text = FromDeviceOrAbove(entry / "device", [](const fs::path& dir) {
            std::error_code linkError;
            const fs::path driver = fs::read_symlink(dir / "driver", linkError);
            if (linkError || driver.parent_path().parent_path().filename() == "serial-base") return std::string();
            return CleanText(driver.filename().string());
        });
        if (!text.empty()) return text;
    }
    return CleanText(path);
}

std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysRoot) {
    // A device that two numbers reach (mapped by hand and by the fixed rule,
    // or mapped twice) is listed once: under a number mapped by hand when
    // there is one, else under the lowest.
    struct Found {
        int number;
        std::string device;
        fs::path real;
        bool explicitly;
    };
    std::vector<Found> found;
    for (int n = FirstComPort; n <= LastComPort; ++n) {
        std::string device = ComPortDevice(n);
        if (!IsRealSerialDevice(device, sysRoot)) continue;
        std::error_code ec;
        fs::path real = fs::canonical(device, ec);
        if (ec) real = device;
        found.push_back({n, std::move(device), std::move(real), !ExplicitComPortDevice(n).empty()});
    }
    std::vector<SerialPortInfo> ports;
    for (const Found& f : found) {
        const bool better_elsewhere = std::any_of(found.begin(), found.end(), [&](const Found& o) {
            return &o != &f && o.real == f.real &&
                   (o.explicitly > f.explicitly || (o.explicitly == f.explicitly && o.number < f.number));
        });
        if (better_elsewhere) continue;
        ports.push_back({f.number, f.device, SerialDeviceDescription(f.device, sysRoot)});
    }
    return ports;
}

std::vector<std::string> ReadSerialCommList(const std::string& sysRoot) {
    std::vector<std::string> names;
    for (const auto& port : ListSerialPorts(sysRoot)) names.push_back("COM" + std::to_string(port.Number));
    return names;
}

std::vector<std::string> ReadPnPPortNames(const std::string& sysRoot) {
    std::vector<std::string> names;
    for (const auto& port : ListSerialPorts(sysRoot))
        names.push_back(port.Description + " (COM" + std::to_string(port.Number) + ")");
    return names;
}

std::vector<int> ComNumbersFromList(const std::vector<std::string>& portNames) {
    std::vector<int> numbers;
    for (const auto& name : portNames) {
        if (name.size() < 4 || name.compare(0, 3, "COM") != 0) continue;
        const std::string digits = name.substr(3);
        if (digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int n = std::stoi(digits);
        if (IsComPortNumber(n)) numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::vector<std::pair<std::string, std::string>> PortDescriptionsFromNames(const std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& raw : names) {
        const std::string name = Trim(raw);
        const std::size_t p = name.rfind("(COM");
        if (p == std::string::npos) continue;
        const long long n = ReadNumber(name, p + 4);
        if (!IsComPortNumber(n)) continue;
        const std::string desc = Trim(name.substr(0, p));
        out.emplace_back("COM" + std::to_string(n), desc);
        const std::size_t q = name.find("COM", p + 4);
        if (q == std::string::npos) continue;
        const long long m = ReadNumber(name, q + 3);
        if (IsComPortNumber(m)) out.emplace_back("COM" + std::to_string(m), desc);
    }
    return out;
}

bool ProbeComPort(int number) {
    if (!IsComPortNumber(number)) return false;
    HANDLE h = CreateFileA("\\\\.\\COM" + std::to_string(number), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

std::vector<int> ProbeComPorts(int last) {
    std::vector<int> found;
    for (int n = FirstComPort; n <= std::min(last, LastComPort); ++n)
        if (ProbeComPort(n)) found.push_back(n);
    return found;
}

}  // namespace win
