#pragma once
// A FIFO made where a test wants one, for the program to be given in place of
// a file. Should the program ever open it and wait there (for a writer when
// it reads, for a reader when it writes), a helper thread opens both ends
// after a while, so that the wait ends and the test fails instead of hanging.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace test_support {

class Fifo {
public:
    explicit Fifo(std::string Path, std::chrono::milliseconds RescueAfter = std::chrono::seconds(5))
        : path_(std::move(Path)) {
        made_ = ::mkfifo(path_.c_str(), 0600) == 0;
        if (!made_) return;
        rescuer_ = std::thread([this, RescueAfter] {
            const auto end = std::chrono::steady_clock::now() + RescueAfter;
            while (!done_ && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (done_) return;
            rescued_ = true;
            // A reader of our own, kept open (and drained) to the end, lets a
            // writer's open return and its writes land; a writer that comes
            // and goes, again and again, lets every reader's open return, and
            // the reader then reads an end.
            reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
            char sink[4096];
            while (!done_) {
                const int writer = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0) ::close(writer);
                while (reader_ >= 0 && ::read(reader_, sink, sizeof sink) > 0) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~Fifo() {
        done_ = true;
        if (rescuer_.joinable()) rescuer_.join();
        if (reader_ >= 0) ::close(reader_);
    }
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;

    const std::string& path() const { return path_; }
    bool Made() const { return made_; }
    // Whether something waited on the FIFO long enough to need the rescue.
    bool Rescued() const { return rescued_; }
    // Still a FIFO (nothing replaced it with a file).
    bool StillFifo() const {
        struct stat st {};
        return ::lstat(path_.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    }

private:
    std::string path_;
    bool made_ = false;
    std::atomic<bool> done_{false};
    std::atomic<bool> rescued_{false};
    int reader_ = -1;
    std::thread rescuer_;
};

}  // namespace test_support
