#pragma once
// How much of the machine a test's processes were given while the test
// waited on them: how long their threads ran, and how long they were ready
// to run but waited for a processor, read from the scheduler's counters of
// every thread (/proc/<pid>/task/<tid>/schedstat). A test that bounds the
// wall time of something judges by these, so that a machine busy with other
// work never fails a correct program: what took longer than its bound only
// because it waited for a processor is void (it could not be judged), and
// only what took longer than its bound in the time it was given is late.
#include <dirent.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace test_support {

class ProcessorShare {
public:
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::milliseconds;

    // Watches this process and every process it started, theirs too (the
    // program under test, the display server, the helper process in which
    // the leak checker scans the program as it ends), from now.
    ProcessorShare() : ProcessorShare(std::vector<pid_t>{::getpid()}) {}
    // Watches the processes Roots and every process they started, and the
    // threads Threads of this process (the one that waits for them, whose
    // own wait for a processor delays what it sees) with the processes they
    // started.
    explicit ProcessorShare(std::vector<pid_t> Roots, std::vector<pid_t> Threads = {})
        : roots_(std::move(Roots)), threads_(std::move(Threads)), start_(Clock::now()) {
        Sample();
    }
    // Leaves the thread Tid out from now (one that only samples: its own
    // waits hold back nothing that is judged).
    void Ignore(long Tid) { ignored_ = Tid; }

    // Reads the counters. Called every few tens of milliseconds while the
    // interval lasts: a thread that ends counts up to the look before.
    void Sample() {
        const Clock::time_point now = Clock::now();
        const long long look = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_).count();
        const bool first = !sampled_;
        sampled_ = true;
        long long ran = 0, waited = 0, longest = 0;
        std::vector<pid_t> pids = roots_;
        // Counts the thread Tid whose files are under Task; false when it
        // has gone.
        const auto count = [&](long Tid, const std::string& Task) {
            Counters c;
            if (std::sscanf(ReadSmallFile(Task + "/schedstat").c_str(), "%lld %lld", &c.ran, &c.waited) != 2)
                return false;
            // A thread first seen after the first look was born within the
            // interval: all it counted is the interval's.
            const auto it = seen_.try_emplace(Tid, first ? c : Counters{}).first;
            if (!first) {
                ran += c.ran - it->second.ran;
                waited += c.waited - it->second.waited;
                longest = std::max(longest, c.waited - it->second.waited);
            }
            it->second = c;
            return true;
        };
        // (With the processes it started: the tools it asks.)
        const auto children = [&](const std::string& Task) {
            const std::string list = ReadSmallFile(Task + "/children");
            for (const char* at = list.c_str(); *at;) {
                char* end = nullptr;
                const long child = std::strtol(at, &end, 10);
                if (end == at) break;
                at = end;
                if (std::find(pids.begin(), pids.end(), child) == pids.end()) pids.push_back(static_cast<pid_t>(child));
            }
        };
        for (const pid_t tid : threads_) {
            const std::string task = "/proc/self/task/" + std::to_string(tid);
            if (count(tid, task)) children(task);
        }
        for (std::size_t i = 0; i < pids.size(); ++i) {
            const std::string tasks = "/proc/" + std::to_string(pids[i]) + "/task";
            DIR* dir = ::opendir(tasks.c_str());
            if (!dir) continue;
            while (const dirent* e = ::readdir(dir)) {
                const long tid = std::atol(e->d_name);
                if (tid <= 0 || tid == ignored_) continue;
                const std::string task = tasks + "/" + e->d_name;
                if (count(tid, task)) children(task);
            }
            ::closedir(dir);
        }
        ran_ns_ += ran;
        // A thread's counter takes in a wait once the wait is over: one that
        // waited three seconds shows them all at the look after it ran
        // again. So the look's waits reach back before the look, as far as
        // the longest of them, and what the threads waited together within
        // the look counts as the look's at the most. Spans that earlier looks
        // counted already are not counted twice.
        AddWait(std::max(longest, std::min(waited, look)), now);
        last_ = now;
    }

    // The wall time from the start to the last look.
    Ms Elapsed() const { return std::chrono::duration_cast<Ms>(last_ - start_); }
    // The processor time all watched threads ran.
    Ms Ran() const { return Ms(ran_ns_ / 1000000); }
    // The time they waited for a processor: the wall time in which one of
    // them or more waited (one thread that waits for another that waited
    // for a processor waits as long), never more than the interval.
    Ms Waited() const { return Ms(waited_ns_ / 1000000); }
    // The wall time less the wait: what the interval would have taken had
    // nothing waited for a processor.
    Ms Given() const { return Elapsed() - Waited(); }
    // "took 1234 ms, 1100 of them waiting for a processor", for a message.
    std::string Account() const {
        return "took " + std::to_string(Elapsed().count()) + " ms, " + std::to_string(Waited().count()) +
               " of them waiting for a processor";
    }

private:
    struct Counters {
        long long ran = 0, waited = 0;  // nanoseconds
    };
    // What the file Path holds (a few hundred bytes at the most), or nothing.
    // Plain calls, no stream: a test may sample while it holds the process
    // to its last descriptors, and then the open simply fails.
    static std::string ReadSmallFile(const std::string& Path) {
        const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return {};
        std::string text;
        char buf[512];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
        ::close(fd);
        return text;
    }
    // Counts the span of Wait nanoseconds that ends at Now, within the
    // interval, less what earlier spans counted of it.
    void AddWait(long long Wait, Clock::time_point Now) {
        if (Wait <= 0) return;
        const long long end = std::chrono::duration_cast<std::chrono::nanoseconds>(Now - start_).count();
        long long begin = std::max(0LL, end - Wait);
        // Spans end in the order of the looks: those that reach into this
        // one join it.
        while (!waits_.empty() && waits_.back().second >= begin) {
            begin = std::min(begin, waits_.back().first);
            waited_ns_ -= waits_.back().second - waits_.back().first;
            waits_.pop_back();
        }
        waits_.emplace_back(begin, end);
        waited_ns_ += end - begin;
    }
    std::vector<pid_t> roots_, threads_;
    long ignored_ = 0;
    std::vector<std::pair<long long, long long>> waits_;  // counted spans, from the start
    bool sampled_ = false;
    std::map<long, Counters> seen_;
    Clock::time_point start_, last_ = Clock::now();
    long long ran_ns_ = 0, waited_ns_ = 0;
};

// A ProcessorShare of the processes Roots (see there) and of the thread that
// makes this object (which waits for them), sampled every 10 ms by a thread
// of its own while this object lives, so that a look stays short however
// long the caller's own checks take.
class ProcessorWatch {
public:
    explicit ProcessorWatch(std::vector<pid_t> Roots) : share_(std::move(Roots), {::gettid()}) {
        std::unique_lock<std::mutex> lock(lock_);
        sampler_ = std::thread([this] {
            {
                const std::lock_guard<std::mutex> own(lock_);
                share_.Ignore(::gettid());
                ignored_ = true;
            }
            started_.notify_one();
            while (!stop_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                const std::lock_guard<std::mutex> own(lock_);
                share_.Sample();
            }
        });
        started_.wait(lock, [this] { return ignored_; });
    }
    ~ProcessorWatch() {
        stop_ = true;
        sampler_.join();
    }
    ProcessorWatch(const ProcessorWatch&) = delete;
    ProcessorWatch& operator=(const ProcessorWatch&) = delete;
    // The share up to now.
    ProcessorShare Now() {
        const std::lock_guard<std::mutex> lock(lock_);
        share_.Sample();
        return share_;
    }

private:
    std::mutex lock_;
    std::condition_variable started_;
    bool ignored_ = false;
    ProcessorShare share_;
    std::atomic<bool> stop_{false};
    std::thread sampler_;
};

// The give-up limit of a wait that ends on an event (a pump of the loop
// until something holds, a poll for a reply), counted in the time that this
// process and every process it started were given: the deadline moves out
// by however long they waited for a processor meanwhile. A machine busy with
// other work then never ends such a wait early, while a real hang still
// ends it once the limit of given time has passed. However starved the
// test, a wait gives up after ten times its limit of wall time, so that it
// still ends well within the run's own time-out.
//
//   for (test_support::GivenTimeLimit limit(5s); !done() && !limit.Passed();)
//       std::this_thread::sleep_for(1ms);
class GivenTimeLimit {
public:
    using Clock = ProcessorShare::Clock;
    using Ms = ProcessorShare::Ms;

    explicit GivenTimeLimit(Ms Limit) : limit_(Limit), start_(Clock::now()) {}

    // Whether the limit has passed in the time given. Cheap enough to ask at
    // every turn of a loop: the counters are read at most once a look, and
    // not at all in the first look, which counts as given whole (a wait that
    // ends soon, as most do, costs nothing).
    bool Passed() {
        if (passed_) return true;
        const Clock::time_point now = Clock::now();
        const Ms wall = std::chrono::duration_cast<Ms>(now - start_);
        // A limit within one look is wall time: no wait in it could be seen.
        if (limit_ <= kLook) {
            passed_ = wall >= limit_;
            return passed_;
        }
        if (now < next_) return false;
        next_ = now + kLook;
        if (!share_) {
            share_.emplace();
            unwatched_ = wall;
            return false;
        }
        share_->Sample();
        passed_ = unwatched_ + share_->Given() >= limit_ || wall >= kMostStretch * limit_;
        return passed_;
    }

private:
    static constexpr Ms kLook{50};
    static constexpr int kMostStretch = 10;
    Ms limit_;
    Clock::time_point start_, next_ = start_ + kLook;
    std::optional<ProcessorShare> share_;
    Ms unwatched_{};  // the span before the first look
    bool passed_ = false;
};

// How a wait bounded by wall time came out.
enum class Timely {
    kWithin,  // what was waited for came within the bound
    kVoid,    // it came later, but within the bound of the time given
    kLate,    // it took longer than the bound in the time given, or never came
};

struct BoundedWait {
    Timely verdict;
    bool came;            // what was waited for came at all (within Patience)
    std::string account;  // how long it took, and how much of it waiting
    std::chrono::milliseconds bound;
};

// Judges an interval that ends now against Bound: within when it lasted no
// longer than Bound; void when it lasted longer, but no longer than Bound of
// the time given; late otherwise (also when what was waited for never Came).
inline BoundedWait Judge(const ProcessorShare& Share, std::chrono::milliseconds Bound, bool Came = true) {
    const Timely verdict = !Came                        ? Timely::kLate
                           : Share.Elapsed() <= Bound ? Timely::kWithin
                           : Share.Given() <= Bound   ? Timely::kVoid
                                                      : Timely::kLate;
    return {verdict, Came, Share.Account(), Bound};
}

// Runs Wait, a wait of this thread that takes a limit and says whether
// what it waits for came (a pump of the message loop, a poll), judged
// against Bound: first for Bound, then, if need be, for Patience more.
// For what this process does itself: its threads' waits decide.
template <class W>
BoundedWait JudgedWait(W Wait, std::chrono::milliseconds Bound, std::chrono::milliseconds Patience) {
    ProcessorShare share;
    const bool came = Wait(Bound) || Wait(Patience);
    share.Sample();
    return Judge(share, Bound, came);
}

// Waits until Done holds, judged against Bound: within when it held within
// Bound of wall time; otherwise it is waited for up to Patience, and it was
// void when it held within Bound of the time that the processes Roots (see
// ProcessorShare) and the calling thread were given, late when it held
// later or not at all.
template <class Pred>
BoundedWait WaitWithin(Pred Done, std::chrono::milliseconds Bound, std::chrono::milliseconds Patience,
                       std::vector<pid_t> Roots) {
    ProcessorWatch watch(std::move(Roots));
    const auto end = ProcessorShare::Clock::now() + Patience;
    bool came = Done();
    while (!came && ProcessorShare::Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        came = Done();
    }
    return Judge(watch.Now(), Bound, came);
}

// The longest span between two calls of Tick (a timer's ticks, to see how
// long a loop went without turning), and what of it was not waiting for a
// processor, judged against a bound.
class LongestGap {
public:
    LongestGap() : last_(ProcessorShare::Clock::now()), waited_(share_.Waited()) {}
    void Tick() {
        share_.Sample();
        const auto now = ProcessorShare::Clock::now();
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - last_);
        const auto waited = share_.Waited() - waited_;
        longest_ = std::max(longest_, gap);
        given_ = std::max(given_, gap - waited);
        if (gap == longest_) waitedInLongest_ = waited;
        last_ = now;
        waited_ = share_.Waited();
    }
    std::chrono::milliseconds Longest() const { return longest_; }
    // Within when no gap was longer than Bound, void when none was in the
    // time given, late otherwise.
    BoundedWait Judged(std::chrono::milliseconds Bound) const {
        const Timely verdict = longest_ <= Bound ? Timely::kWithin : given_ <= Bound ? Timely::kVoid : Timely::kLate;
        return {verdict, true,
                "went " + std::to_string(longest_.count()) + " ms without a turn, " +
                    std::to_string(waitedInLongest_.count()) + " of them waiting for a processor; the longest in the "
                    "time given was " + std::to_string(given_.count()) + " ms",
                Bound};
    }

private:
    ProcessorShare share_;
    ProcessorShare::Clock::time_point last_;
    std::chrono::milliseconds waited_, longest_{}, given_{}, waitedInLongest_{};
};

// Waits until the processes Roots (see ProcessorShare) have been idle for
// Quiet: their threads ran, and waited for a processor, for less than a
// tenth of it together. False when they were not within Limit.
inline bool WaitUntilIdle(std::vector<pid_t> Roots, std::chrono::milliseconds Quiet, std::chrono::milliseconds Limit) {
    using Clock = ProcessorShare::Clock;
    ProcessorShare share(std::move(Roots));
    struct Look {
        Clock::time_point at;
        std::chrono::milliseconds busy;
    };
    std::vector<Look> looks{{Clock::now(), {}}};
    const auto end = Clock::now() + Limit;
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        share.Sample();
        looks.push_back({Clock::now(), share.Ran() + share.Waited()});
        // The oldest look at least Quiet ago starts the span judged.
        const auto from = std::find_if(looks.rbegin(), looks.rend(),
                                       [&](const Look& l) { return looks.back().at - l.at >= Quiet; });
        if (from != looks.rend() && (looks.back().busy - from->busy) * 10 < Quiet) return true;
    }
    return false;
}

// The wall-time bounds of one test, each judged by the time given: a bound
// that was passed only because the test's processes waited for a processor
// is no failure but a void, and a test that has one (and no failure) is
// marked void at its end:
//
//   test_support::TimeBounds bounds;
//   test_support::ProcessorShare share;
//   ...the work...
//   EXPECT_TRUE(bounds.Within(share, 1s, "the read"));
//   ...
//   if (bounds.Void()) GTEST_SKIP() << bounds.Text();
class TimeBounds {
public:
    // Whether the interval Share measured (up to now) lasted at most Bound:
    // a failure, saying What, when it lasted longer in the time given.
    ::testing::AssertionResult Within(ProcessorShare Share, std::chrono::milliseconds Bound, const std::string& What) {
        Share.Sample();
        return Within(Judge(Share, Bound), What);
    }
    // The same for a span Took measured within that interval (from a time
    // stamp to another): void when it is within Bound once the wait of the
    // whole interval is taken off.
    ::testing::AssertionResult Within(ProcessorShare Share, std::chrono::milliseconds Took,
                                      std::chrono::milliseconds Bound, const std::string& What) {
        Share.Sample();
        const Timely verdict = Took <= Bound                    ? Timely::kWithin
                               : Took - Share.Waited() <= Bound ? Timely::kVoid
                                                                : Timely::kLate;
        return Within(BoundedWait{verdict, true,
                                  "took " + std::to_string(Took.count()) + " ms, in an interval of " +
                                      std::to_string(Share.Elapsed().count()) + " ms of which " +
                                      std::to_string(Share.Waited().count()) + " waiting for a processor",
                                  Bound},
                      What);
    }
    // Whether a span Took measured within the interval Share measured
    // lasted at least Bound: a span that starts from a time stamp taken
    // after the thing it times began is shortened by a wait for a processor
    // before the stamp, so one shorter than Bound is void when the wait of
    // the whole interval makes up for it.
    ::testing::AssertionResult AtLeast(ProcessorShare Share, std::chrono::milliseconds Took,
                                       std::chrono::milliseconds Bound, const std::string& What) {
        Share.Sample();
        const std::string account = "took " + std::to_string(Took.count()) + " ms (bound " +
                                    std::to_string(Bound.count()) + " ms at the least), in an interval with " +
                                    std::to_string(Share.Waited().count()) + " ms of waiting for a processor";
        if (Took >= Bound) return ::testing::AssertionSuccess();
        if (Took + Share.Waited() >= Bound) {
            voids_.push_back(What + " " + account);
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << What << " too short: it " << account;
    }
    // Whether something that had to come within a window of fixed length
    // (a plug-in's Recv time-out, a span the test pumps the loop for) came;
    // the window is the interval Share measured, up to now. When it did not
    // come, the window is judged by the time it gave: a failure, saying
    // What, when it gave at least Bound, void when it gave less (what had to
    // come may have been held back by nothing but the wait for a processor).
    ::testing::AssertionResult Came(ProcessorShare Share, bool Arrived, std::chrono::milliseconds Bound,
                                    const std::string& What) {
        if (Arrived) return ::testing::AssertionSuccess();
        Share.Sample();
        const std::string account = " in a window that " + Share.Account() + " (bound " +
                                    std::to_string(Bound.count()) + " ms of the time given)";
        if (Share.Given() < Bound) {
            voids_.push_back(What + " did not come" + account);
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << What << " did not come" << account;
    }
    ::testing::AssertionResult Within(const BoundedWait& Wait, const std::string& What) {
        const std::string bound = " (bound " + std::to_string(Wait.bound.count()) + " ms): it ";
        if (Wait.verdict == Timely::kVoid) voids_.push_back(What + bound + Wait.account);
        if (Wait.verdict != Timely::kLate) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << What << (Wait.came ? " late" : " never came") << bound << Wait.account;
    }
    // A void noted by the test itself.
    void AddVoid(const std::string& Why) { voids_.push_back(Why); }
    bool Void() const { return !voids_.empty(); }
    // The text that marks the test void, which scripts count apart from
    // passes and failures.
    std::string Text() const {
        std::string text = "void: ";
        for (std::size_t i = 0; i < voids_.size(); ++i) text += (i ? "; " : "") + voids_[i];
        return text;
    }

private:
    std::vector<std::string> voids_;
};

}  // namespace test_support
