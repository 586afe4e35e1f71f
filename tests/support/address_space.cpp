#include "support/address_space.h"

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

// The address sanitizer stops the program at a failed allocation; a
// program that lowers its address space wants the failure itself, as the
// C library gives it (a null pointer, std::bad_alloc). Defined here, the
// option holds for each test program that uses these functions.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace test_support {

std::uint64_t MappedBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

bool LimitAddressSpace(std::uint64_t Headroom) {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0) return false;
    limit.rlim_cur = MappedBytes() + Headroom;
    return setrlimit(RLIMIT_AS, &limit) == 0;
}

bool UnlimitAddressSpace() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0) return false;
    limit.rlim_cur = limit.rlim_max;
    return setrlimit(RLIMIT_AS, &limit) == 0;
}

}  // namespace test_support
