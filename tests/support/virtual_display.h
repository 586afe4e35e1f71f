#pragma once
// A virtual X server of the test's own, for the tests that need a real one.
// The server picks a free display number itself and reports it (-displayfd),
// so any number of tests start one at the same time without colliding; it
// stops with this object, and also when the test program dies.
#include <sys/types.h>

#include <chrono>
#include <string>

namespace test_support {

class VirtualDisplay {
public:
    // Starts the server and waits until it takes connections; on failure
    // Name() is empty and Error() says why.
    explicit VirtualDisplay(const std::string& screen = "1280x1024x24",
                            std::chrono::milliseconds limit = std::chrono::seconds(60));
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":N", the value for DISPLAY.
    const std::string& Name() const { return name_; }
    const std::string& Error() const { return error_; }
    // The server process (-1 when none runs).
    pid_t Pid() const { return pid_; }

private:
    void Stop();

    pid_t pid_ = -1;
    std::string name_;
    std::string error_;
};

}  // namespace test_support
