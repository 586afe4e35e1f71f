// The virtual X servers the program tests run on: started side by side they
// never share a display, each takes connections while its object lives and
// is gone after, and a server that cannot start says why.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>

#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/virtual_display.h"

namespace {

bool OnPath(const char* tool) {
    const std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

bool Answers(const std::string& display) {
    const std::string cmd = "xdpyinfo -display '" + display + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

TEST(virtual_display, servers_started_together_get_displays_of_their_own_and_stop_with_their_objects) {
    if (!OnPath("Xvfb") || !OnPath("xdpyinfo")) GTEST_SKIP() << "Xvfb or xdpyinfo is not installed";
    std::vector<std::unique_ptr<test_support::VirtualDisplay>> displays;
    for (int i = 0; i < 4; ++i) displays.push_back(std::make_unique<test_support::VirtualDisplay>("320x200x24"));
    std::set<std::string> names;
    for (const auto& d : displays) {
        ASSERT_FALSE(d->Name().empty()) << d->Error();
        EXPECT_TRUE(Answers(d->Name())) << d->Name();
        names.insert(d->Name());
    }
    EXPECT_EQ(names.size(), displays.size());

    // Checked by its process: another test may take the number at once.
    const pid_t first = displays.front()->Pid();
    ASSERT_GT(first, 0);
    displays.erase(displays.begin());
    EXPECT_EQ(kill(first, 0), -1) << "the server still runs after its object went";
    EXPECT_EQ(errno, ESRCH);
    for (const auto& d : displays) EXPECT_TRUE(Answers(d->Name())) << d->Name();
}

TEST(virtual_display, a_server_that_cannot_start_leaves_no_display_and_says_why) {
    const char* old = std::getenv("PATH");
    const std::string path = old ? old : "";
    setenv("PATH", "/nonexistent", 1);
    test_support::VirtualDisplay display;
    setenv("PATH", path.c_str(), 1);
    EXPECT_TRUE(display.Name().empty());
    EXPECT_NE(display.Error().find("could not be started"), std::string::npos) << display.Error();
}

}  // namespace
