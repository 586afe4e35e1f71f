#pragma once
// A descriptor limit for tests of what runs out of descriptors: while the
// object lives the process can open exactly Spare more. Every free number
// below the highest one in use is taken by a filler, and RLIMIT_NOFILE is
// lowered just above it; descriptors made before stay usable (a peer's
// socket made first can still connect).
#include <sys/resource.h>

#include <vector>

#include "platform/win/message_window.h"

namespace test_support {

class DescriptorLimit {
public:
    // Warm: a window whose timer runs once first. The sanitizers' first
    // check of an object's type (a timer's, a message's) opens descriptors
    // of its own, which the limit would not leave it.
    DescriptorLimit(int Spare, win::HWND Warm);
    ~DescriptorLimit();
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

    bool Set() const { return set_; }
    // The limit as it was; the fillers stay until the object goes.
    void Lift();

private:
    rlimit saved_{};
    std::vector<int> fillers_;
    bool set_ = false;
};

}  // namespace test_support
