#include "platform/win/memory.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace win {

bool GlobalMemoryStatusEx(MEMORYSTATUSEX* Status) {
    if (!Status) return false;
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return false;
    const std::uint64_t unit = info.mem_unit ? info.mem_unit : 1;
    Status->ullTotalPhys = static_cast<std::uint64_t>(info.totalram) * unit;
    Status->ullAvailPhys = (static_cast<std::uint64_t>(info.freeram) + info.bufferram) * unit;
    // Without a limit, the user half of the 48-bit address space.
    Status->ullTotalVirtual = std::uint64_t{1} << 47;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < Status->ullTotalVirtual)
        Status->ullTotalVirtual = limit.rlim_cur;
    return true;
}

std::uint64_t MemoryQuarter() {
    MEMORYSTATUSEX status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    return std::min(status.ullTotalPhys, status.ullTotalVirtual) / 4;
}

std::uint64_t LoweredForTest(std::uint64_t Limit, const char* Variable) {
    const char* text = std::getenv(Variable);
    if (!text) return Limit;
    std::uint64_t mb = 0;
    const char* end = text + std::strlen(text);
    if (std::from_chars(text, end, mb).ec != std::errc() || mb == 0) return Limit;
    return std::min(Limit, mb * 1024 * 1024);
}

void* VirtualAlloc(std::size_t Size) {
    if (Size == 0) return nullptr;
    void* p = mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void VirtualFree(void* Address, std::size_t Size) {
    if (Address) munmap(Address, Size);
}

}  // namespace win
