// How much memory the program's stores may take: a quarter of the machine's
// memory or of the process's address-space limit, whichever is lower, and
// what a test may lower it to.
#include "platform/win/memory.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

namespace {

constexpr std::uint64_t kMB = 1024 * 1024;

TEST(memory, a_quarter_follows_the_lower_of_machine_and_address_space_limit) {
    win::MEMORYSTATUSEX status;
    ASSERT_TRUE(win::GlobalMemoryStatusEx(&status));
    ASSERT_GT(status.ullTotalPhys, 0u);
    EXPECT_EQ(win::MemoryQuarter(), std::min(status.ullTotalPhys, status.ullTotalVirtual) / 4);

    // A process limited to less than the machine has: a quarter of its
    // limit. Tried in a child, as the limit cannot be lifted again.
    const std::uint64_t limit = std::min<std::uint64_t>(status.ullTotalPhys / 2, 3072 * kMB);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit lowered{limit, limit};
        if (setrlimit(RLIMIT_AS, &lowered) != 0) _exit(2);
        _exit(win::MemoryQuarter() == limit / 4 ? 0 : 1);
    }
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0) << "the quarter did not follow a limit of " << limit / kMB << " MB";
}

TEST(memory, a_test_variable_only_ever_lowers_a_limit) {
    const char* name = "VOSTREL_TEST_MEMORY_TEST_MB";
    unsetenv(name);
    EXPECT_EQ(win::LoweredForTest(100 * kMB, name), 100 * kMB);
    setenv(name, "8", 1);
    EXPECT_EQ(win::LoweredForTest(100 * kMB, name), 8 * kMB);
    EXPECT_EQ(win::LoweredForTest(4 * kMB, name), 4 * kMB);
    // Nothing, zero or words leave the limit as it is.
    for (const char* ignored : {"", "0", "many", "-5"}) {
        setenv(name, ignored, 1);
        EXPECT_EQ(win::LoweredForTest(100 * kMB, name), 100 * kMB) << ignored;
    }
    unsetenv(name);
}

}  // namespace
