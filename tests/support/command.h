#pragma once
// What a shell command prints on its standard output (empty when it cannot
// be run), for the tests that ask tools such as xdotool about the screen.
#include <cstdio>
#include <string>

namespace test_support {

inline std::string CommandOutput(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

}  // namespace test_support
