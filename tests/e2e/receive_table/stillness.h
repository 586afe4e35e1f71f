#pragma once
// How long the test's threads waited for a processor.
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "e2e/receive_table/records.h"

namespace receive_table::detail {

// How long the test's threads waited for a processor: the machine then kept
// them from running, not the program. Sampled on the test's ticks from the
// system's scheduling counters of every thread of the process; the main
// thread is the one that makes it.
class Stillness {
public:
    Stillness() : main_(static_cast<int>(::syscall(SYS_gettid))) {}
    void Sample() {
        const long now = NowMsOfDay();
        long main = 0, most = 0;
        DIR* dir = ::opendir("/proc/self/task");
        if (!dir) return;
        while (const dirent* e = ::readdir(dir)) {
            const int tid = std::atoi(e->d_name);
            if (tid <= 0) continue;
            std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
            long long ran = 0, waited = -1;
            if (!(stat >> ran >> waited) || waited < 0) continue;
            // A thread seen for the first time counts from now.
            const auto [it, fresh] = seen_.try_emplace(tid, waited);
            const long ms = static_cast<long>((waited - it->second) / 1000000);
            it->second = waited;
            if (fresh) continue;
            if (tid == main_) main = ms;
            most = std::max(most, ms);
        }
        ::closedir(dir);
        if (last_ != kNoStamp) looks_.push_back({last_, now, main, most});
        last_ = now;
    }
    // The ms that the main thread (Main) or, look by look, the thread that
    // waited most waited for a processor in the looks that overlap From to
    // To.
    long Waited(long From, long To, bool Main) const {
        long sum = 0;
        for (const Look& l : looks_)
            if (Minus(l.to, From) > 0 && Minus(To, l.from) > 0) sum += Main ? l.main : l.most;
        return sum;
    }
    long Total(bool Main) const {
        long sum = 0;
        for (const Look& l : looks_) sum += Main ? l.main : l.most;
        return sum;
    }

private:
    struct Look {
        long from, to, main, most;
    };
    int main_;
    std::map<int, long long> seen_;
    std::vector<Look> looks_;
    long last_ = kNoStamp;
};

}  // namespace receive_table::detail
