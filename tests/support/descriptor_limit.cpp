#include "support/descriptor_limit.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "support/qt_app.h"

namespace test_support {

namespace {

// The highest descriptor open, the listing's own left out.
int HighestDescriptor() {
    DIR* d = ::opendir("/proc/self/fd");
    if (!d) return -1;
    int top = -1;
    const int own = ::dirfd(d);
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const int fd = std::atoi(e->d_name);
        if (fd != own) top = std::max(top, fd);
    }
    ::closedir(d);
    return top;
}

}  // namespace

DescriptorLimit::DescriptorLimit(int Spare, win::HWND Warm) {
    constexpr std::uintptr_t kWarmTimer = 0x7E57;
    win::SetTimer(Warm, kWarmTimer, 1);
    Pump(std::chrono::milliseconds(50));
    win::KillTimer(Warm, kWarmTimer);
    Pump(std::chrono::milliseconds(10));

    const int top = HighestDescriptor();
    for (int f; (f = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        if (f > top) {
            ::close(f);
            break;
        }
        fillers_.push_back(f);
    }
    if (::getrlimit(RLIMIT_NOFILE, &saved_) != 0) return;
    rlimit low = saved_;
    low.rlim_cur = static_cast<rlim_t>(top + 1 + Spare);
    set_ = ::setrlimit(RLIMIT_NOFILE, &low) == 0;
}

void DescriptorLimit::Lift() {
    if (set_) ::setrlimit(RLIMIT_NOFILE, &saved_);
    set_ = false;
}

DescriptorLimit::~DescriptorLimit() {
    Lift();
    for (int f : fillers_) ::close(f);
}

}  // namespace test_support
