#pragma once
// The built program as a process of its own, for the tests that start it on
// a virtual display: where it is, how it is started (with the leak checker's
// options the tests use), and a handle that waits for it and reaps it.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

// Whether a tool can be run from the search path.
bool OnPath(const char* tool);

// The build folder: the test program lives in its "tests" folder.
std::string BuildFolder();
// The program to start: $VOSTREL_BINARY, or the one built beside the tests.
std::string BuiltProgram();
// The leak checker's options for the program: the caller's, or the
// suppressions the tests use.
std::string ProgramLsanOptions();

// How the program is started on a virtual display.
struct ProgramStart {
    std::string binary = {};
    std::string cwd = {};      // the folder it starts in
    std::string display = {};  // the value for DISPLAY
    // A private folder for the window system's run-time files (otherwise
    // one shared folder under /tmp).
    std::string runtime = {};
    std::vector<std::pair<std::string, std::string>> env = {};  // more variables
    // Appended to the address sanitizer's options ("" for none).
    std::string asan_extra = {};
    bool quiet = false;  // standard error goes to /dev/null
    // Standard error goes to this file, made anew ("" for the test's own).
    std::string stderr_file = {};
};

// A started program, ended (killed if need be) and reaped when the object
// goes at the latest.
class ProgramProcess {
public:
    explicit ProgramProcess(const ProgramStart& start);
    ~ProgramProcess();
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Whether it still runs (an ended one is reaped and its status kept).
    bool Running();
    // Waits up to limit for it to end; true once it has.
    bool End(std::chrono::milliseconds limit);
    // Its wait status once it ended, -1 before.
    int Status() const { return status_; }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

}  // namespace test_support
