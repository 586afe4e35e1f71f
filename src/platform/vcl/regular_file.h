#pragma once
// Whole regular files read into memory for a command that needs all of a
// file at once (sending it on a port). Anything that is not a regular file is
// refused before it is opened: opening a FIFO waits for a writer, a device
// may react to being opened (a serial line raises its modem lines) and one
// such as /dev/zero never ends. A file larger than the memory the system can
// still give is refused before it is read.
#include <cstdint>
#include <string>

namespace vcl {

// The whole of FileName. Every failure raises an exception whose text names
// the file and the reason: EFOpenError when it is missing, cannot be opened
// or is no regular file; EReadError when it cannot be read or is too large.
std::string LoadRegularFile(const std::string& FileName);

// The same with an explicit ceiling: a file of more than MaxBytes bytes
// is refused as too large for memory.
std::string LoadRegularFile(const std::string& FileName, std::uint64_t MaxBytes);

// Judges FileName as a file to be read, as LoadRegularFile does, without
// reading it: false when nothing is there by that name (a file not made
// yet), true for a regular file that opens for reading; anything else
// raises LoadRegularFile's EFOpenError.
bool RegularFileReadable(const std::string& FileName);

// Bytes of memory the system can still give a program (what is free or
// reclaimable, and free swap, and no more than the room below the process's
// address-space limit); the largest value when that is not known.
std::uint64_t AvailableMemory();

}  // namespace vcl
