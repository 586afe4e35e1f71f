#pragma once
// Waiting for the real program run on a virtual display, and finding its
// windows there, for the tests that drive it with xdotool.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/command.h"

namespace test_support {

// Polls Done until it holds (true) or Limit has passed (false).
template <class Pred>
bool WaitUntil(Pred Done, std::chrono::milliseconds Limit) {
    const auto end = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Whether process Pid holds the file Path open (a port, once it is opened).
inline bool HoldsOpen(pid_t Pid, const std::string& Path) {
    const std::string dir = "/proc/" + std::to_string(Pid) + "/fd";
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (std::filesystem::read_symlink(e.path(), ec) == Path) return true;
    return false;
}

// The visible windows of process Pid on Display whose name is exactly Name
// (any name when it is empty).
inline std::vector<std::string> ProcessWindows(const std::string& Display, pid_t Pid, const std::string& Name = {}) {
    const std::string xdo = "DISPLAY=" + Display + " xdotool ";
    std::istringstream ids(CommandOutput(xdo + "search --all --onlyvisible --pid " + std::to_string(Pid) + " --name . 2>/dev/null"));
    std::vector<std::string> found;
    for (std::string id; std::getline(ids, id);)
        if (Name.empty() || CommandOutput(xdo + "getwindowname " + id + " 2>/dev/null") == Name + "\n")
            found.push_back(id);
    return found;
}

}  // namespace test_support
