#pragma once
// The one place where the program's file writes and closes reach the system,
// so that a test can make them fail as a full disk does, on any machine.
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string_view>

namespace rtl {

// One write(2), retried after an interrupting signal: what the system
// returns (-1 with errno set on failure). A pipe whose reader has gone gives
// EPIPE, never the signal that would end the program.
ssize_t WriteSome(int Fd, const void* Data, std::size_t Count);

// Writes all of Data; 0 when every byte went out, else the system's error
// number (a write that takes nothing counts as EIO).
int WriteAll(int Fd, std::string_view Data);

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
