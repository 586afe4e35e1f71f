#include "platform/rtl/file_writes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>

#include "support/fifo_reader.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

bool PipeSignalPending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

// SIGPIPE held back on this thread while it lives, so that a signal left
// pending can be seen instead of ending the test; a pending one is taken at
// the end.
class PipeSignalHeld {
public:
    PipeSignalHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~PipeSignalHeld() {
        const timespec none{};
        while (PipeSignalPending() && sigtimedwait(&pipe_, nullptr, &none) >= 0) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t pipe_, old_;
};

// A FIFO in a fresh folder with the test's reader on it, and the writing
// end opened as Flags ask.
struct FifoFixture {
    explicit FifoFixture(int Flags = 0) : writer(open(path.c_str(), O_WRONLY | O_CLOEXEC | Flags)) {}
    ~FifoFixture() {
        if (writer >= 0) close(writer);
    }
    FifoFixture(const FifoFixture&) = delete;
    FifoFixture& operator=(const FifoFixture&) = delete;

    test_support::TempDir dir;
    std::string path = dir.File("pipe.bin");
    bool made = mkfifo(path.c_str(), 0600) == 0;
    test_support::FifoReader reader{path};
    int writer;
};

TEST(file_writes, a_reader_that_leaves_never_ends_the_program) {
    const std::string data(200000, 'z');
    {
        // A blocking write that the reader leaves part-way returns a short
        // count with the signal raised: it is taken back, and the rest fails
        // with the system's reason. With the signal's default action, as in
        // the program, the test process is still here.
        FifoFixture f;
        ASSERT_TRUE(f.reader.Open());
        ASSERT_GE(f.writer, 0);
        f.reader.LeaveWhenFull(1000);
        std::size_t written = 0;
        EXPECT_EQ(rtl::WriteAll(f.writer, data, {}, &written), EPIPE);
        EXPECT_TRUE(f.reader.Left());
        EXPECT_GT(written, 0u);
        EXPECT_LT(written, data.size());
    }
    {
        // The same with the signal held back by the caller: nothing of it
        // is left pending for the caller to receive later.
        const PipeSignalHeld held;
        FifoFixture f;
        ASSERT_GE(f.writer, 0);
        f.reader.LeaveWhenFull(1000);
        const ssize_t n = rtl::WriteSome(f.writer, data.data(), data.size());
        EXPECT_GT(n, 0) << "the reader left before the write began";
        EXPECT_LT(n, static_cast<ssize_t>(data.size()));
        EXPECT_FALSE(PipeSignalPending()) << "the short write left SIGPIPE pending";
        EXPECT_EQ(rtl::WriteSome(f.writer, "x", 1), -1);
        EXPECT_EQ(errno, EPIPE);
        EXPECT_FALSE(PipeSignalPending());

        // One that was pending before the write is the caller's: left alone.
        ASSERT_EQ(pthread_kill(pthread_self(), SIGPIPE), 0);
        ASSERT_TRUE(PipeSignalPending());
        EXPECT_EQ(rtl::WriteSome(f.writer, "x", 1), -1);
        EXPECT_TRUE(PipeSignalPending());
    }
}

TEST(file_writes, a_pipe_that_takes_nothing_is_waited_for_in_turns_then_given_up) {
    const std::string data(256 * 1024, 'w');
    // Regular files are written as they always were: no waiting, no turns.
    {
        test_support::TempDir dir;
        const int fd = open(dir.File("plain.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        int turns = 0;
        const rtl::TWriteWaitTurns counting([&] { return ++turns, true; });
        EXPECT_EQ(rtl::WriteAll(fd, data), 0);
        EXPECT_EQ(turns, 0);
        struct stat st {};
        fstat(fd, &st);
        EXPECT_EQ(st.st_size, static_cast<off_t>(data.size()));
        close(fd);
    }
    // A reader that holds the pipe and takes nothing: the write waits in
    // turns, then gives up once nothing was taken for the limit.
    {
        FifoFixture f(O_NONBLOCK);
        ASSERT_GE(f.writer, 0);
        int turns = 0;
        const rtl::TWriteWaitTurns counting([&] { return ++turns, true; });
        const auto start = std::chrono::steady_clock::now();
        std::size_t written = 0;
        EXPECT_EQ(rtl::WriteAll(f.writer, data, 100ms, &written), rtl::WriteStalled);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
        EXPECT_GE(turns, 1) << "the wait never let the caller's loop turn";
        EXPECT_EQ(f.reader.Take().size(), written);

        // A turn that says stop gives the write up at once.
        turns = 0;
        {
            const rtl::TWriteWaitTurns stopping([&] { return ++turns, false; });
            EXPECT_EQ(rtl::WriteAll(f.writer, data, std::chrono::hours(1)), ECANCELED);
            EXPECT_EQ(turns, 1);
        }
        // Turns that must not run (a caller that cannot be entered again):
        // the write only waits, and still gives up.
        f.reader.Take();
        {
            const rtl::TWriteWaitTurns none(nullptr);
            EXPECT_EQ(rtl::WriteAll(f.writer, data, 50ms), rtl::WriteStalled);
        }
        EXPECT_EQ(turns, 1) << "the covered turns ran";
    }
    // A reader that keeps taking, a little at a time and slower than the
    // limit in all, is waited for to the end.
    {
        FifoFixture f(O_NONBLOCK);
        ASSERT_GE(f.writer, 0);
        std::string got;
        int turns = 0;
        const rtl::TWriteWaitTurns reading([&] {
            ++turns;
            got += f.reader.TakeSome(4096);
            return true;
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(rtl::WriteAll(f.writer, data, 60ms), 0);
        EXPECT_GT(std::chrono::steady_clock::now() - start, 60ms);
        got += f.reader.Take();
        EXPECT_EQ(got, data);
        EXPECT_GT(turns, 10);
    }
    // One that takes less than a page of the pipe at a time makes room for
    // the writer only every few takes, slower than the limit: it is taking
    // all the same, and is waited for to the end.
    {
        FifoFixture f(O_NONBLOCK);
        ASSERT_GE(f.writer, 0);
        ASSERT_TRUE(f.reader.SetCapacity(4096));
        const std::string some(32 * 1024, 's');
        std::string got;
        const rtl::TWriteWaitTurns reading([&] {
            got += f.reader.TakeSome(1000);
            return true;
        });
        EXPECT_EQ(rtl::WriteAll(f.writer, some, 60ms), 0);
        got += f.reader.Take();
        EXPECT_TRUE(got == some) << got.size() << " of " << some.size() << " bytes";
    }
}

}  // namespace
