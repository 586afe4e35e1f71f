#include "platform/vcl/regular_file.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/vcl/streams.h"

namespace vcl {

namespace {

std::string Quoted(const std::string& FileName) { return "\"" + FileName + "\""; }

[[noreturn]] void RaiseTooLarge(const std::string& FileName, std::uint64_t Size) {
    throw rtl::EReadError("Cannot read " + Quoted(FileName) + " into memory: it holds " +
                          std::to_string(Size) + " bytes, more than the memory available");
}

}  // namespace

std::uint64_t AvailableMemory() {
    std::ifstream info("/proc/meminfo");
    std::uint64_t available = 0;
    std::uint64_t swap = 0;
    bool known = false;
    for (std::string line; std::getline(info, line);) {
        std::istringstream fields(line);
        std::string key;
        std::uint64_t kb = 0;
        if (!(fields >> key >> kb)) continue;
        if (key == "MemAvailable:") {
            available = kb * 1024;
            known = true;
        } else if (key == "SwapFree:") {
            swap = kb * 1024;
        }
    }
    std::uint64_t bytes = known ? available + swap : std::numeric_limits<std::uint64_t>::max();
    // A process whose address space is limited gets no more than the room
    // left below its limit, whatever the machine has free.
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        std::uint64_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const std::uint64_t mapped = pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
        bytes = std::min<std::uint64_t>(bytes, limit.rlim_cur > mapped ? limit.rlim_cur - mapped : 0);
    }
    return bytes;
}

std::string LoadRegularFile(const std::string& FileName) {
    return LoadRegularFile(FileName, AvailableMemory());
}

std::string LoadRegularFile(const std::string& FileName, std::uint64_t MaxBytes) {
    // Nothing but a regular file is opened, and that without waiting.
    const TFileStream file(FileName, fmOpenRead | fmShareDenyNone | fmRegularOnly);
    const int fd = file.Handle();
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        throw rtl::EReadError("Cannot read " + Quoted(FileName) + ": " + SysErrorMessage(err));
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > MaxBytes) RaiseTooLarge(FileName, size);

    std::string data;
    try {
        data.reserve(static_cast<std::size_t>(size));
        // Read to the end rather than trusting the size: the file may still
        // grow, but never past the ceiling.
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                const int err = errno;
                throw rtl::EReadError("Cannot read " + Quoted(FileName) + ": " + SysErrorMessage(err));
            }
            if (n == 0) break;
            const std::uint64_t grown = data.size() + static_cast<std::size_t>(n);
            if (grown > MaxBytes) RaiseTooLarge(FileName, grown);
            data.append(buf, static_cast<std::size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        RaiseTooLarge(FileName, std::max<std::uint64_t>(size, data.size()));
    }
    return data;
}

bool RegularFileReadable(const std::string& FileName) {
    struct stat st {};
    if (::stat(rtl::SysPath(FileName).c_str(), &st) != 0 && errno == ENOENT) return false;
    const TFileStream file(FileName, fmOpenRead | fmShareDenyNone | fmRegularOnly);
    return true;
}

}  // namespace vcl
