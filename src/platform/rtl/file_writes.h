#pragma once
// The one place where the program's file writes and closes reach the system:
// every writer (saves, the settings file, the output file, streams) goes
// through here, so that no write can end the program by a pipe's signal or
// hold it for good on a reader that takes nothing, and so that a test can
// make writes fail as a full disk does, on any machine.
#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

namespace rtl {

// One write(2), retried after an interrupting signal: what the system
// returns (-1 with errno set on failure). A pipe whose reader has gone gives
// EPIPE, or a short count when the reader left part-way through, never the
// signal that would end the program: a SIGPIPE the write raised is taken
// back, one that was pending before is left alone.
ssize_t WriteSome(int Fd, const void* Data, std::size_t Count);

// What WriteAll gives when a pipe or device took nothing for the stall
// limit (no error number has this value).
inline constexpr int WriteStalled = -1;

// How long a pipe or device may take nothing before a write gives it up:
// 5 s, or the milliseconds in VOSTREL_TEST_WRITE_STALL_MS when that holds a
// positive number (tests lower it).
std::chrono::milliseconds WriteStallLimit();

// The bytes written to Fd that its reader has not taken yet: what a pipe
// holds, or a terminal device's output queue; -1 for anything else. A pipe
// makes room for a writer only a page at a time, so a reader that takes a
// little at a time is seen taking by this count going down, not by writes
// going through.
long QueuedForReader(int Fd);

// Writes all of Data: 0 when every byte went out, else the system's error
// number (a write that takes nothing counts as EIO). Written, when given,
// gets the count of bytes that went out, also on failure.
//
// A descriptor of a regular file is written as it always was. One opened
// without waiting (a pipe or a device: the program's openers do so) that
// cannot take more yet is waited for in short slices, and between them the
// turn of the innermost TWriteWaitTurns runs (the application's keeps its
// windows answering). A turn that says stop gives the write up with
// ECANCELED; a reader that takes nothing for StallLimit (zero: the usual
// WriteStallLimit) gives WriteStalled. A reader that takes bytes, however
// slowly, is waited for.
int WriteAll(int Fd, std::string_view Data, std::chrono::milliseconds StallLimit = {},
             std::size_t* Written = nullptr);

// What writes on this thread do between slices of waiting, while this
// object lives: Turn runs, and returns false to give the waiting write up.
// An empty Turn makes them only wait (for a caller that must not be entered
// again meanwhile). The object it covers comes back when it goes. Without
// any, writes only wait.
class TWriteWaitTurns {
public:
    explicit TWriteWaitTurns(std::function<bool()> Turn);
    ~TWriteWaitTurns();
    TWriteWaitTurns(const TWriteWaitTurns&) = delete;
    TWriteWaitTurns& operator=(const TWriteWaitTurns&) = delete;

    // Runs the innermost turn: false when it says stop; true without one.
    static bool RunInnermost();

private:
    std::function<bool()> turn_;
    TWriteWaitTurns* outer_;
};

// Closes Fd: 0, or the error number the system gave. Some file systems
// (network ones, quotas) report a failed write only here, so a file that was
// written must have its close checked. An interrupted close has closed the
// descriptor anyway and counts as success.
int CloseFile(int Fd);

// A test seam: while one of these lives, writes and closes through the
// functions above fail as asked. Only one may live at a time; the program
// itself never makes one.
class TInjectedFileFaults {
public:
    TInjectedFileFaults();
    ~TInjectedFileFaults();
    TInjectedFileFaults(const TInjectedFileFaults&) = delete;
    TInjectedFileFaults& operator=(const TInjectedFileFaults&) = delete;

    // From the Nth write counted from now on (1: the next one), every write
    // fails with Error and writes nothing, as on a disk that is full.
    void FailWritesFrom(int Nth, int Error = ENOSPC);
    // Every close fails with Error (after closing the descriptor).
    void FailCloses(int Error);
    // Writes seen since this object was made.
    int Writes() const { return writes_; }

    // Called by the functions above.
    bool WriteFails(int& Error);
    bool CloseFails(int& Error) const;

private:
    int writes_ = 0;
    int failFrom_ = 0;  // 0: writes do not fail
    int writeError_ = 0;
    int closeError_ = 0;
};

}  // namespace rtl
