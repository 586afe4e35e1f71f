// The virtual X servers the program tests run on: started side by side they
// never share a display, each takes connections while its object lives and
// is gone after, none resets between clients, and a server that cannot
// start says why.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/program_process.h"
#include "support/virtual_display.h"

namespace {

using test_support::OnPath;

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

// A server that reset whenever its last client left (a tool looking for a
// window) would turn away a program connecting at that moment; a reset
// also drops what clients left on the root window, which is what this sees.
TEST(virtual_display, a_server_keeps_going_when_its_last_client_leaves) {
    if (!OnPath("Xvfb") || !OnPath("xprop")) GTEST_SKIP() << "Xvfb or xprop is not installed";
    test_support::VirtualDisplay display("320x200x24");
    ASSERT_FALSE(display.Name().empty()) << display.Error();
    const std::string xprop = "xprop -display '" + display.Name() + "' -root ";
    ASSERT_EQ(std::system((xprop + "-f VOSTREL_MARK 8s -set VOSTREL_MARK kept").c_str()), 0);
    std::string shown;
    if (FILE* p = popen((xprop + "VOSTREL_MARK 2>&1").c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) shown += buf;
        pclose(p);
    }
    EXPECT_NE(shown.find("\"kept\""), std::string::npos) << shown;
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
