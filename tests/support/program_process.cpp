#include "support/program_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "support/command.h"

namespace test_support {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

// The source folder recorded in the build folder's cache ("" when unknown).
std::string SourceFolderOf(const std::string& build) {
    const std::string key = "vostrel_SOURCE_DIR:STATIC=";
    std::string cache = CommandOutput("grep -m1 '^" + key + "' '" + build + "/CMakeCache.txt' 2>/dev/null");
    if (cache.compare(0, key.size(), key) != 0) return "";
    std::string dir = cache.substr(key.size());
    while (!dir.empty() && (dir.back() == '\n' || dir.back() == '\r')) dir.pop_back();
    return dir;
}

// The program's environment: the test's, with the variables start sets.
std::vector<std::string> EnvironmentFor(const ProgramStart& start) {
    std::vector<std::pair<std::string, std::string>> set = {
        {"DISPLAY", start.display}, {"QT_QPA_PLATFORM", "xcb"}, {"XDG_RUNTIME_DIR", start.runtime}};
    if (const std::string lsan = ProgramLsanOptions(); !lsan.empty()) set.emplace_back("LSAN_OPTIONS", lsan);
    if (!start.asan_extra.empty()) set.emplace_back("ASAN_OPTIONS", EnvOr("ASAN_OPTIONS", "") + ":" + start.asan_extra);
    set.insert(set.end(), start.env.begin(), start.env.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (std::none_of(set.begin(), set.end(), [&](const auto& v) { return v.first == name; }))
            env.push_back(entry);
    }
    for (const auto& [name, value] : set) env.push_back(name + "=" + value);
    return env;
}

}  // namespace

bool OnPath(const char* tool) {
    const std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

std::string BuildFolder() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    const std::string exe(path, static_cast<std::size_t>(n));
    const std::string tests = exe.substr(0, exe.rfind('/'));
    return tests.substr(0, tests.rfind('/'));
}

std::string BuiltProgram() { return EnvOr("VOSTREL_BINARY", BuildFolder() + "/vostrel"); }

std::string ProgramLsanOptions() {
    std::string lsan = EnvOr("LSAN_OPTIONS", "");
    if (lsan.empty()) {
        const std::string source = EnvOr("VOSTREL_SOURCE_DIR", SourceFolderOf(BuildFolder()));
        if (!source.empty()) lsan = "suppressions=" + source + "/tests/lsan.supp";
    }
    return lsan;
}

ProgramProcess::ProgramProcess(const ProgramStart& start) {
    // Everything the child needs is made before the fork: after it, only
    // calls that are safe in a copy of a threaded process.
    std::vector<std::string> env = EnvironmentFor(start);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* const argv[] = {const_cast<char*>(start.binary.c_str()), nullptr};
    const std::string errors = start.quiet ? "/dev/null" : start.stderr_file;
    const int error_fd =
        errors.empty() ? -1 : open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = fork();
    if (pid_ != 0) {
        if (error_fd >= 0) close(error_fd);
        return;
    }
    if (chdir(start.cwd.c_str()) != 0) _exit(126);
    if (error_fd >= 0) dup2(error_fd, STDERR_FILENO);
    execve(start.binary.c_str(), argv, envp.data());
    _exit(127);
}

ProgramProcess::~ProgramProcess() {
    if (!Running()) return;
    kill(pid_, SIGKILL);
    End(std::chrono::seconds(10));
}

bool ProgramProcess::Running() {
    if (pid_ <= 0 || status_ != -1) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return status_ == -1;
}

bool ProgramProcess::End(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pid_ > 0;
}

}  // namespace test_support
