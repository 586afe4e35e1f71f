#pragma once
// The files a user can send on the main port, read into what a sender
// writes: the ASCII-hex text file, the binary file with or without tags, and
// a saved receive log. Pure parsing; the sending, pausing and cancelling
// belong to the main window.
//
// Files can be large (hundreds of megabytes), so the readers take the
// file's contents by value and compact the bytes to send in place instead of
// building a second buffer: move the loaded contents in.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace terminal {

// A stretch of bytes to write, then an optional pause in milliseconds.
struct TSendChunk {
    std::size_t Offset = 0;  // into TSendPlan::Data
    std::size_t Length = 0;  // may be 0 when the pause follows nothing new
    std::optional<std::uint32_t> PauseMs;

    bool operator==(const TSendChunk&) const = default;
};

// A transfer: the chunks are written in order, each followed by its pause.
// A tagged file whose format breaks after some pause tags still sends the
// chunks before the break; Error then holds the message to raise once they
// are out (empty when the file is sound). Bytes after the last pause tag and
// before the break are not sent.
struct TSendPlan {
    std::string Data;
    std::vector<TSendChunk> Chunks;
    std::string Error;

    std::string_view Bytes(const TSendChunk& Chunk) const {
        return std::string_view(Data).substr(Chunk.Offset, Chunk.Length);
    }
    // All bytes of all chunks.
    std::size_t TotalBytes() const;
};

// Longest pause a tag may ask for, in milliseconds.
inline constexpr std::uint32_t MaxTagPauseMs = 100000;

// What a tagged transfer needs from the window that runs it.
struct TSendHooks {
    // Writes bytes to the port without its own cancel check (the main
    // window's raw sender); may raise.
    std::function<void(std::string_view Bytes)> Write;
    // Handles the pending window messages, so Cancel, timers and received
    // data are seen during the transfer.
    std::function<void()> ProcessMessages;
    // True once the user has pressed Cancel.
    std::function<bool()> Cancelled;
    // A millisecond clock, and a nap of the given milliseconds.
    std::function<std::uint64_t()> NowMs;
    std::function<void(std::uint32_t Ms)> Sleep;
};

// Runs a tagged transfer: each chunk's bytes, then its pause, handling
// window messages between chunks at most every 500 ms and during pauses
// every millisecond. Cancel during a pause ends the transfer at once, and a
// Cancel seen before the last chunk keeps it unsent. False when cancelled.
// A plan with an Error raises it (rtl::Exception) once the chunks before
// the fault are out.
bool SendTaggedPlan(const TSendPlan& Plan, const TSendHooks& Hooks);

// The ASCII-hex text file: hexadecimal digits are collected, two of them make
// one byte at once; any other character ends a pending single digit, which
// makes a byte by itself, and is otherwise ignored; a single digit at the
// end also makes a byte. "0A F 123" gives 0A 0F 12 03.
std::string ParseAsciiHexFile(std::string Text);

// The plain binary file: its bytes, as one chunk (none for an empty file).
TSendPlan PlanBinaryFile(std::string Data);

// The binary file with tags: "<" starts a tag that runs to the next ">";
// "<<" is one "<"; an empty tag and a tag starting with "!" are ignored;
// "p=N" (N from 0 to MaxTagPauseMs) sends what came before and pauses N ms;
// any other tag, and a "<" without its ">", is a format error:
// "Wrong formatting at position %d (%s)".
TSendPlan PlanTaggedBinaryFile(std::string Data);

// What "Send Self Log" sends, from the contents of a saved receive log
// (".cp" file): the bytes of every received line (neither transmitted,
// direction 2, nor an error or message line), in line order. Lines are read
// as the receive list loads them (ParseSelfLogLine; a line ends at LF, a CR
// before it dropped); a line it refuses raises "Wrong line format at line
// %d", and a data text that is not numbers the conversion error, followed by
// " at line %d". The whole
// log is read before anything is returned, so a faulty log sends nothing.
std::string SelfLogSendBytes(std::string_view Text);

}  // namespace terminal
