// The judgement of the tests that bound wall time: a process that takes
// long because it sleeps is late whatever the machine does, one that takes
// long because it waited for a processor is void, and the processor time of
// the processes a watched one starts is counted with it. A give-up limit
// counted in the time given moves out by a wait for a processor.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;

// A child that spins until it has run For of processor time, on the
// processor Cpu when it is 0 or more; then it ends.
pid_t Spinner(std::chrono::milliseconds For, int Cpu) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (Cpu >= 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(Cpu, &one);
        if (::sched_setaffinity(0, sizeof one, &one) != 0) ::_exit(1);
    }
    for (timespec t{}; ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) == 0 &&
                       t.tv_sec * 1000 + t.tv_nsec / 1000000 < For.count();) {
    }
    ::_exit(0);
}

// A child that starts a spinner of its own, waits for it and ends.
pid_t Parent(std::chrono::milliseconds For) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const pid_t child = Spinner(For, -1);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::_exit(0);
}

// A spinner as Spinner(For, Cpu) makes, but not this process's: its parent
// ends at once, so that it is nobody's here. Its id, or -1.
pid_t Stranger(std::chrono::milliseconds For, int Cpu) {
    int ends[2];
    if (::pipe(ends) != 0) return -1;
    const pid_t middle = ::fork();
    if (middle == 0) {
        ::close(ends[0]);
        const pid_t spinner = Spinner(For, Cpu);
        const bool told = ::write(ends[1], &spinner, sizeof spinner) == static_cast<ssize_t>(sizeof spinner);
        ::_exit(told ? 0 : 1);
    }
    ::close(ends[1]);
    pid_t spinner = -1;
    if (middle < 0 || ::read(ends[0], &spinner, sizeof spinner) != static_cast<ssize_t>(sizeof spinner)) spinner = -1;
    ::close(ends[0]);
    int status = 0;
    if (middle > 0) ::waitpid(middle, &status, 0);
    return spinner;
}

// The first processor this thread may run on.
int FirstProcessor() {
    cpu_set_t mine;
    if (::sched_getaffinity(0, sizeof mine, &mine) != 0) return -1;
    int cpu = 0;
    while (cpu < CPU_SETSIZE && !CPU_ISSET(cpu, &mine)) ++cpu;
    return cpu < CPU_SETSIZE ? cpu : -1;
}

// Whether process Pid has ended (reaped then).
bool Ended(pid_t Pid) {
    int status = 0;
    return ::waitpid(Pid, &status, WNOHANG) == Pid;
}

// A child that sleeps For, then ends.
pid_t Sleeper(std::chrono::milliseconds For) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::usleep(static_cast<useconds_t>(For.count() * 1000));
    ::_exit(0);
}

// A child killed and reaped when this goes.
struct Killed {
    pid_t pid = -1;
    ~Killed() {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
};

// A spinner (see there) that runs For on a processor where Other, started
// there first, spins all the while: it takes twice as long or more, half of
// it waiting for a processor. -1 when either could not be started.
pid_t CrowdedSpinner(std::chrono::milliseconds For, Killed& Other) {
    const int cpu = FirstProcessor();
    if (cpu < 0) return -1;
    Other.pid = Spinner(60s, cpu);
    return Other.pid > 0 ? Spinner(For, cpu) : -1;
}

TEST(processor_share, a_sleep_is_late_a_wait_for_a_processor_is_void_and_children_count) {
    test_support::TimeBounds bounds;
    {
        SCOPED_TRACE("a process that sleeps");
        const pid_t sleeper = Sleeper(600ms);
        ASSERT_GT(sleeper, 0);
        const test_support::BoundedWait w = test_support::WaitWithin([&] { return Ended(sleeper); }, 200ms, 30s, {sleeper});
        EXPECT_TRUE(w.came);
        EXPECT_EQ(w.verdict, test_support::Timely::kLate) << w.account;
        EXPECT_FALSE(bounds.Within(w, "the sleep"));
    }
    {
        SCOPED_TRACE("a process that shares its processor");
        // It runs 300 ms beside another spinner: it takes 600 ms or more,
        // half of them waiting, and 300 ms and a little of the time it was
        // given.
        Killed other;
        const pid_t spinner = CrowdedSpinner(300ms, other);
        ASSERT_GT(spinner, 0);
        const test_support::BoundedWait w =
            test_support::WaitWithin([&] { return Ended(spinner); }, 450ms, 30s, {spinner});
        EXPECT_TRUE(w.came);
        EXPECT_EQ(w.verdict, test_support::Timely::kVoid) << w.account;
        EXPECT_TRUE(bounds.Within(w, "the shared spin"));
        EXPECT_TRUE(bounds.Void());
    }
    {
        SCOPED_TRACE("a process whose child spins");
        const pid_t parent = Parent(400ms);
        ASSERT_GT(parent, 0);
        test_support::ProcessorShare share({parent});
        while (!Ended(parent)) {
            std::this_thread::sleep_for(5ms);
            share.Sample();
        }
        EXPECT_GE(share.Ran(), 300ms) << "the child's processor time was not counted";
        EXPECT_LE(share.Ran(), share.Elapsed());
    }
}

// A window in which something had to come and did not: a failure when the
// watched process was given the window's time (it slept), void when it
// spent the window waiting for a processor; what came passes, whatever the
// window gave.
TEST(processor_share, a_missed_window_fails_only_when_its_time_was_given) {
    // The window lasts as long as the watched process, sampled meanwhile.
    const auto window = [](pid_t Watched) {
        test_support::ProcessorShare share({Watched});
        while (!Ended(Watched)) {
            std::this_thread::sleep_for(5ms);
            share.Sample();
        }
        return share;
    };
    {
        SCOPED_TRACE("a process that sleeps");
        const pid_t sleeper = Sleeper(400ms);
        ASSERT_GT(sleeper, 0);
        const test_support::ProcessorShare share = window(sleeper);
        test_support::TimeBounds bounds;
        EXPECT_FALSE(bounds.Came(share, false, 300ms, "the answer"));
        EXPECT_FALSE(bounds.Void());
        EXPECT_TRUE(bounds.Came(share, true, 300ms, "the answer"));
        EXPECT_FALSE(bounds.Void());
    }
    {
        SCOPED_TRACE("a process that shares its processor");
        // 300 ms of running beside another spinner: a window of 600 ms or
        // more that gave little more than 300 ms.
        Killed other;
        const pid_t spinner = CrowdedSpinner(300ms, other);
        ASSERT_GT(spinner, 0);
        const test_support::ProcessorShare share = window(spinner);
        // The spinner never sleeps: time it neither ran nor was seen waiting
        // is a wait the counters had not shown yet when last read (they
        // count a wait once it ends), which leaves this case unjudged.
        if (share.Elapsed() - share.Ran() - share.Waited() > 150ms)
            GTEST_SKIP() << "void: the spinner's wait went uncounted: it " << share.Account() << ", ran "
                         << share.Ran().count() << " ms";
        test_support::TimeBounds bounds;
        EXPECT_TRUE(bounds.Came(share, false, 450ms, "the answer")) << share.Account();
        EXPECT_TRUE(bounds.Void()) << share.Account();
        EXPECT_NE(bounds.Text().find("the answer did not come"), std::string::npos) << bounds.Text();
    }
}

// A give-up limit counted in the time given: a wait of a thread that only
// sleeps ends once the limit has passed, not before and not much after
// (what it waited for a processor aside); a wait of a thread that shares
// its processor with a program outside the test ends only once the thread
// has been given the limit, so about twice as late.
TEST(processor_share, a_given_time_limit_passes_after_its_limit_of_the_time_given) {
    using Clock = std::chrono::steady_clock;
    test_support::TimeBounds bounds;
    {
        SCOPED_TRACE("a thread that sleeps");
        const test_support::ProcessorShare share;
        const Clock::time_point start = Clock::now();
        test_support::GivenTimeLimit limit(300ms);
        while (!limit.Passed()) std::this_thread::sleep_for(5ms);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        EXPECT_GE(took, 300ms);
        // Past the limit by a look at the counters and a nap at most.
        EXPECT_TRUE(bounds.Within(share, took, 400ms, "the end of a sleeping wait"));
    }
    {
        SCOPED_TRACE("a thread that shares its processor");
        const int cpu = FirstProcessor();
        ASSERT_GE(cpu, 0);
        // Nobody's child here: killed, and reaped by the system.
        struct Stopped {
            pid_t pid;
            ~Stopped() {
                if (pid > 0) ::kill(pid, SIGKILL);
            }
        } other{Stranger(60s, cpu)};
        ASSERT_GT(other.pid, 0);
        cpu_set_t was, one;
        ASSERT_EQ(::sched_getaffinity(0, sizeof was, &was), 0);
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
        // It spins too, asking all the while: it runs half the time at the
        // most, and waits for a processor the rest.
        const Clock::time_point start = Clock::now();
        test_support::GivenTimeLimit limit(300ms);
        while (!limit.Passed()) {
        }
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        ::sched_setaffinity(0, sizeof was, &was);
        EXPECT_GE(took, 450ms) << "the wait for a processor did not move the limit out";
    }
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

}  // namespace
