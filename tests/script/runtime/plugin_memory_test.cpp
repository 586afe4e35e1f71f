// A plug-in's LoadStrFromFile when memory runs out: in a process whose
// address space is limited to a little more than it uses, a file that
// does not fit, and one that another program appends to as fast as it can,
// answer False (or, for the growing one, what the file held when the read
// reached its end), never an error that ends the event; a file that fits
// still loads whole.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "script/runtime/my_script.h"
#include "support/address_space.h"
#include "support/temp_dir.h"

namespace script::runtime {
namespace {

constexpr std::uint64_t kMB = 1024 * 1024;
// What the reading process may map beyond what it has mapped already.
constexpr std::uint64_t kHeadroom = 64 * kMB;

// The byte at each offset of the files written here.
char PatternAt(std::uint64_t offset) { return static_cast<char>(offset % 251); }

std::string Pattern(std::uint64_t from, std::size_t length) {
    std::string out(length, '\0');
    for (std::size_t i = 0; i < length; ++i) out[i] = PatternAt(from + i);
    return out;
}

bool WriteAll(int fd, const std::string& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// A process that appends the pattern to File as fast as it can, up to Cap
// bytes; it has written First bytes when this returns.
pid_t StartAppending(const std::string& File, std::uint64_t First, std::uint64_t Cap) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t writer = fork();
    if (writer != 0) {
        close(ready[1]);
        char c = 0;
        const bool started = writer > 0 && ::read(ready[0], &c, 1) == 1;
        close(ready[0]);
        return started ? writer : -1;
    }
    close(ready[0]);
    const int fd = open(File.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::uint64_t written = 0;
    for (const std::size_t chunk = 64 * 1024; fd >= 0 && written < Cap; written += chunk) {
        if (!WriteAll(fd, Pattern(written, chunk))) break;
        if (written < First && written + chunk >= First && ::write(ready[1], "!", 1) != 1) break;
    }
    _exit(0);
}

constexpr const char* kReader = R"(
procedure OnLoad;
var data: string;
begin
  if LoadStrFromFile(TD, data) then TD := 'True' else TD := 'False';
  RD := data;
end;
)";

// How the plug-in's read of File ended under the limit: "True", "False" or
// the error that ended the event; then the length of what it read, and
// whether that is the pattern from its start.
std::string ReadUnderLimit(TMyScript& host, const std::string& File) {
    host.SetTD(File);
    host.SetRD(true, "");
    if (!test_support::LimitAddressSpace(kHeadroom)) return "no limit";
    std::string ended;
    try {
        host.RunOnLoad();
        ended = host.GetTD();
    } catch (const std::exception& e) {
        ended = host.ExceptionText(e);
    }
    if (!test_support::UnlimitAddressSpace()) return "limit kept";
    const std::string data = host.GetRD(true);
    host.SetRD(true, "");
    const bool pattern = data == Pattern(0, data.size());
    return ended + " " + std::to_string(data.size()) + (pattern ? " pattern" : " other");
}

// Runs the reads in a child process of its own (the limit holds for a
// whole process) and gives back one line for each.
std::vector<std::string> ReadsInAChild(const test_support::TempDir& dir) {
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        alarm(120);  // a child that hangs ends, and its lines are missing
        std::string report;
        TMyScript host([](std::int32_t, const std::string&, std::string&) {});
        host.Compile(kReader, dir.File("reader.pas"));
        // A first run makes the interpreter's stack, as any plug-in's first
        // event does, before memory is short.
        host.SetTD(dir.File("none"));
        host.RunOnLoad();
        // Fits once, not twice: the file in memory and the plug-in's copy.
        report += ReadUnderLimit(host, dir.File("large")) + "\n";
        report += ReadUnderLimit(host, dir.File("small")) + "\n";
        const pid_t writer = StartAppending(dir.File("growing"), 2 * kMB, 4 * kHeadroom);
        report += (writer > 0 ? ReadUnderLimit(host, dir.File("growing")) : "no writer") + "\n";
        if (writer > 0) {
            kill(writer, SIGKILL);
            waitpid(writer, nullptr, 0);
        }
        WriteAll(out[1], report);
        _exit(0);
    }
    close(out[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(plugin_memory, load_str_from_file_answers_false_for_what_memory_cannot_hold) {
    test_support::TempDir dir;
    // 40 MB of a sparse file (zeros, read at once), and 1 MB of the pattern.
    const int large = open(dir.File("large").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(large, 0);
    ASSERT_EQ(ftruncate(large, static_cast<off_t>(40 * kMB)), 0);
    close(large);
    const int small = open(dir.File("small").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(small, 0);
    ASSERT_TRUE(WriteAll(small, Pattern(0, kMB)));
    close(small);

    const std::vector<std::string> reads = ReadsInAChild(dir);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0], "False 0 pattern");
    EXPECT_EQ(reads[1], "True 1048576 pattern");
    // The growing file: refused, or read up to where it ended when the read
    // got there, which is at least what was there before.
    if (reads[2].rfind("True ", 0) == 0) {
        std::istringstream fields(reads[2].substr(5));
        std::uint64_t length = 0;
        std::string pattern;
        fields >> length >> pattern;
        EXPECT_GE(length, 2 * kMB) << reads[2];
        EXPECT_EQ(pattern, "pattern") << reads[2];
    } else {
        EXPECT_EQ(reads[2], "False 0 pattern");
    }
}

}  // namespace
}  // namespace script::runtime
