#pragma once
// Saving a whole file so that a failure never destroys the file it replaces.
//
// SaveWholeFile writes the new contents to a temporary file in the same
// folder, checks every write and the close, and only when all of it is
// written renames the temporary over the old file. On any failure the old
// file is left exactly as it was, the temporary is removed, and the error
// names the file and the system's reason:
//   Cannot write "/data/good.cp": No space left on device
//
// - A name that is a link saves into the file it points to, which is created
//   when it is not there yet; the link stays.
// - A file that exists keeps its permission bits. A file we may not write is
//   refused (as opening it for writing would be) rather than replaced.
// - A target that exists but is not a regular file (a device, a FIFO), or is
//   a setting of the kernel's own file systems (under /proc, /sys), cannot
//   be replaced by a rename: it is opened and written in place, without
//   waiting. A FIFO that no program reads is refused at once; a reader that
//   takes nothing for a while fails the save ("... the program or device
//   reading it stopped taking data"), one that goes away fails it with the
//   system's reason (a broken pipe), and the window keeps answering while
//   the save waits (rtl::WriteAll). A save that the program stops while it
//   waits (its window closing) raises a silent rtl::EAbort.
// - A file that a stream holds open for writing with a share mode (the
//   output file, which others may read but not write), in this program or
//   another, is refused while it is held:
//     Cannot write "/data/capture.bin": it is in use by a program that lets
//     no one else write it
// - The temporary is named relative to its folder, so a target whose path
//   is a few bytes short of the system's limit saves too.
// - No fsync: the rename keeps the file whole when the program dies, the
//   usual Linux file systems write the new data out before a rename that
//   replaces a file, and a flush to the disk for every save would freeze the
//   window on a slow disk.
//
// The caller writes piece by piece into a buffered output, so a large file
// never needs to be held in memory as one string:
//
//   vcl::SaveWholeFile(name, [&](vcl::TSaveOutput& out) {
//       for (const auto& line : lines) out.Write(line);
//   });
//
// An exception the writer raises (a value it cannot convert, say) passes on
// unchanged, with the old file untouched and the temporary removed.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/rtl/exceptions.h"

namespace vcl {

// The failure of a whole-file save: the message of SaveErrorText, and the
// system's error number for callers that word their own message.
class EFileSaveError : public rtl::EWriteError {
public:
    EFileSaveError(const std::string& FileName, int Error);
    // The same with the program's own words for the reason.
    EFileSaveError(const std::string& FileName, int Error, const std::string& Reason);
    int ErrorCode;
    // Of a save given up part-way: the bytes the file took, and those it
    // was to get and never did, where the saver counted them (a save given
    // up after its window has gone says so on standard error).
    std::uint64_t Written = 0;
    std::uint64_t Unwritten = 0;
};

class TSaveOutput {
public:
    TSaveOutput(const TSaveOutput&) = delete;
    TSaveOutput& operator=(const TSaveOutput&) = delete;

    // Appends Data. Raises EFileSaveError as soon as the system refuses a
    // write.
    void Write(std::string_view Data);

private:
    friend void SaveWholeFile(const std::string&, const std::function<void(TSaveOutput&)>&);
    TSaveOutput(int Fd, const std::string& FileName);
    // Sends the buffered bytes to the file.
    void Flush();

    // Raises the failure of a write, with what the file took before it.
    [[noreturn]] void Failed(int Error) const;

    int fd_;
    const std::string& fileName_;
    std::string buffer_;
    std::uint64_t written_ = 0;  // bytes the file took
};

// Writes the file FileName (program text) anew with what Write puts into its
// output, as described above. Raises EFileSaveError on a system failure.
void SaveWholeFile(const std::string& FileName, const std::function<void(TSaveOutput& Out)>& Write);

// "Cannot write "<FileName>": <the system's text for Error>" (for
// rtl::WriteStalled: "the program or device reading it stopped taking data").
std::string SaveErrorText(const std::string& FileName, int Error);
// "Cannot write "<FileName>": <Reason>".
std::string SaveErrorText(const std::string& FileName, const std::string& Reason);

}  // namespace vcl
