#include "platform/vcl/file_save.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <limits.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/rtl/file_writes.h"
#include "platform/vcl/streams.h"
#include "support/small_tmpfs.h"
#include "support/fifo.h"
#include "support/file_contents.h"
#include "support/long_folder.h"
#include "support/temp_dir.h"

using namespace vcl;

namespace {

using test_support::TempDir;

using test_support::Slurp;
using test_support::Spit;

std::size_t Entries(const std::string& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

// Writes Pieces pieces of Piece each: more than one block in all.
void WritePieces(TSaveOutput& out, const std::string& Piece, int Pieces) {
    for (int i = 0; i < Pieces; ++i) out.Write(Piece);
}

// The message raised by a save, empty when it went through.
template <class F>
std::string SaveFailure(const std::string& name, F&& write) {
    try {
        SaveWholeFile(name, write);
    } catch (const EFileSaveError& e) {
        return e.Message;
    }
    return {};
}

}  // namespace

TEST(file_save, writes_new_files_and_replaces_old_ones_keeping_links_and_permissions) {
    TempDir dir;
    const std::string name = dir.File("list.cp");
    // A new file, from many small pieces and one piece larger than a block.
    const std::string line = "0112345678ABCDEF0\tdata line\r\n";
    const std::string big(3u << 20, 'x');
    SaveWholeFile(name, [&](TSaveOutput& out) {
        WritePieces(out, line, 50000);
        out.Write(big);
        out.Write("end");
    });
    std::string expected;
    for (int i = 0; i < 50000; ++i) expected += line;
    expected += big + "end";
    EXPECT_EQ(Slurp(name), expected);

    // Over an existing file: its permission bits stay.
    ASSERT_EQ(chmod(name.c_str(), 0640), 0);
    SaveWholeFile(name, [](TSaveOutput& out) { out.Write("second"); });
    EXPECT_EQ(Slurp(name), "second");
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Through a link: the file it points to is saved, the link stays a link.
    const std::string link = dir.File("link.cp");
    ASSERT_EQ(symlink(name.c_str(), link.c_str()), 0);
    SaveWholeFile(link, [](TSaveOutput& out) { out.Write("third"); });
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Slurp(name), "third");
    // An empty save is an empty file, not a missing one.
    SaveWholeFile(name, [](TSaveOutput&) {});
    EXPECT_TRUE(std::filesystem::exists(name));
    EXPECT_EQ(Slurp(name), "");
    EXPECT_EQ(Entries(dir.path()), 2u) << "a temporary file was left behind";
}

TEST(file_save, a_failed_save_leaves_the_old_file_and_names_the_file_and_the_reason) {
    TempDir dir;
    const std::string name = dir.File("good.cp");
    const std::string good(82240, 'g');
    Spit(name, good);
    const std::string piece(4096, 'n');
    {
        // The disk fills up during the third block of a 5 MB save.
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(3);
        EXPECT_EQ(SaveFailure(name, [&](TSaveOutput& out) { WritePieces(out, piece, 1280); }),
                  "Cannot write \"" + name + "\": No space left on device");
        EXPECT_EQ(faults.Writes(), 3);  // the save stopped at the first refused write
    }
    EXPECT_EQ(Slurp(name), good);
    EXPECT_EQ(Entries(dir.path()), 1u) << "a temporary file was left behind";
    {
        // The last bytes go out at the end only: that write is checked too.
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(1, EDQUOT);
        EXPECT_EQ(SaveFailure(name, [](TSaveOutput& out) { out.Write("small"); }),
                  "Cannot write \"" + name + "\": Disk quota exceeded");
    }
    {
        // Every byte written, but the file system reports the loss at close.
        rtl::TInjectedFileFaults faults;
        faults.FailCloses(EIO);
        EXPECT_EQ(SaveFailure(name, [](TSaveOutput& out) { out.Write("closed badly"); }),
                  "Cannot write \"" + name + "\": Input/output error");
    }
    EXPECT_EQ(Slurp(name), good);

    // The writer's own error passes on unchanged; nothing is replaced.
    EXPECT_THROW(SaveWholeFile(name,
                               [](TSaveOutput& out) {
                                   out.Write("half");
                                   throw rtl::EConvertError("'zz' is not a valid integer value");
                               }),
                 rtl::EConvertError);
    EXPECT_EQ(Slurp(name), good);
    EXPECT_EQ(Entries(dir.path()), 1u) << "a temporary file was left behind";

    // A new file that cannot be written is not left behind cut off.
    const std::string fresh = dir.File("fresh.bin");
    {
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(1);
        EXPECT_FALSE(SaveFailure(fresh, [](TSaveOutput& out) { out.Write("x"); }).empty());
    }
    EXPECT_FALSE(std::filesystem::exists(fresh));
    // A folder that does not exist, and a folder in place of the file.
    EXPECT_EQ(SaveFailure(dir.File("no/such.cp"), [](TSaveOutput&) {}),
              "Cannot write \"" + dir.File("no/such.cp") + "\": No such file or directory");
    const std::string folder = dir.File("folder.cp");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    EXPECT_EQ(SaveFailure(folder, [](TSaveOutput& out) { out.Write("x"); }),
              "Cannot write \"" + folder + "\": Is a directory");
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    if (geteuid() != 0) {  // permissions do not bite for root
        ASSERT_EQ(chmod(name.c_str(), 0444), 0);
        EXPECT_EQ(SaveFailure(name, [](TSaveOutput& out) { out.Write("x"); }),
                  "Cannot write \"" + name + "\": Permission denied");
        EXPECT_EQ(Slurp(name), good);
    }
    EXPECT_EQ(Entries(dir.path()), 2u) << "a temporary file was left behind";
}

TEST(file_save, a_fifo_is_written_in_place) {
    TempDir dir;
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A reader is there first, so opening the FIFO for writing does not wait.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string got;
    SaveWholeFile(fifo, [](TSaveOutput& out) { out.Write("through the pipe"); });
    char buf[64];
    for (ssize_t n; (n = read(reader, buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    close(reader);
    EXPECT_EQ(got, "through the pipe");
    struct stat st {};
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced by a file";
    EXPECT_EQ(Entries(dir.path()), 1u);

    // A pipe named through the process's descriptors (/dev/stdout when the
    // output goes to a pipe): no path spells it, yet it takes the bytes.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_NONBLOCK), 0);
    SaveWholeFile("/proc/self/fd/" + std::to_string(ends[1]), [](TSaveOutput& out) { out.Write("down the pipe"); });
    got.clear();
    for (ssize_t n; (n = read(ends[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    close(ends[0]);
    close(ends[1]);
    EXPECT_EQ(got, "down the pipe");

    // With no program reading it, opening it for writing would wait for good:
    // the save is refused at once, and the FIFO stays as it was.
    const test_support::Fifo unread(dir.File("unread"));
    ASSERT_TRUE(unread.Made());
    try {
        SaveWholeFile(unread.path(), [](TSaveOutput& out) { out.Write("into nothing"); });
        ADD_FAILURE() << "a FIFO nobody reads took the save";
    } catch (const EFileSaveError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot write \"" + unread.path() + "\": it is a pipe that no program reads");
    }
    EXPECT_FALSE(unread.Rescued()) << "the save waited for a reader";
    EXPECT_TRUE(unread.StillFifo());
}

TEST(file_save, a_really_full_disk_leaves_the_old_file_whole) {
    test_support::SmallTmpfs disk(256 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << "no private tmpfs can be mounted here";
    const std::string name = disk.File("good.cp");
    const std::string good(100 * 1024, 'g');
    Spit(name, good);
    ASSERT_EQ(Slurp(name), good);
    const std::string piece(1000, 'n');
    EXPECT_EQ(SaveFailure(name, [&](TSaveOutput& out) { WritePieces(out, piece, 400); }),
              "Cannot write \"" + name + "\": No space left on device");
    EXPECT_EQ(Slurp(name), good);
    EXPECT_EQ(Entries(disk.path()), 1u) << "a temporary file was left behind";
    // With room again, the same save goes through.
    SaveWholeFile(name, [&](TSaveOutput& out) { WritePieces(out, piece, 100); });
    EXPECT_EQ(Slurp(name).size(), 100000u);
}

TEST(file_save, a_link_to_a_file_not_there_yet_creates_that_file_and_stays_a_link) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("elsewhere").c_str(), 0700), 0);
    // Relative links, one through another, to a file that does not exist.
    const std::string link = dir.File("settings.ini");
    ASSERT_EQ(symlink("middle.ini", link.c_str()), 0);
    ASSERT_EQ(symlink("elsewhere/real.ini", dir.File("middle.ini").c_str()), 0);
    SaveWholeFile(link, [](TSaveOutput& out) { out.Write("first"); });
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
    ASSERT_EQ(lstat(dir.File("middle.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link it points to was replaced by a file";
    EXPECT_EQ(Slurp(dir.File("elsewhere/real.ini")), "first");
    // Saved again, the file now there is replaced; the links stay.
    SaveWholeFile(link, [](TSaveOutput& out) { out.Write("second"); });
    EXPECT_EQ(Slurp(dir.File("elsewhere/real.ini")), "second");
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Entries(dir.path()), 3u) << "a temporary file was left behind";
    EXPECT_EQ(Entries(dir.File("elsewhere")), 1u) << "a temporary file was left behind";

    // A link that goes round in a circle is refused with the system's reason,
    // and nothing takes its place.
    const std::string circle = dir.File("circle");
    ASSERT_EQ(symlink("circle", circle.c_str()), 0);
    EXPECT_THROW(SaveWholeFile(circle, [](TSaveOutput& out) { out.Write("x"); }), EFileSaveError);
    ASSERT_EQ(lstat(circle.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(file_save, a_file_of_the_kernel_is_written_in_place) {
    // Files under /proc and /sys are the kernel's settings, not stored data:
    // no temporary can be made beside them, and writing them is how a
    // plug-in sets one (a thread's name here, a GPIO line elsewhere).
    const std::string comm = "/proc/thread-self/comm";
    std::string before = Slurp(comm);
    if (before.empty()) GTEST_SKIP() << "no " << comm << " here";
    SaveWholeFile(comm, [](TSaveOutput& out) { out.Write("renamed-by-save"); });
    EXPECT_EQ(Slurp(comm), "renamed-by-save\n");
    while (!before.empty() && before.back() == '\n') before.pop_back();
    SaveWholeFile(comm, [&](TSaveOutput& out) { out.Write(before); });
}

TEST(file_save, a_file_a_stream_writes_with_a_share_mode_is_refused_and_keeps_being_written) {
    TempDir dir;
    const std::string name = dir.File("capture.bin");
    // The output file: written by one stream, others may read but not write.
    std::optional<TFileStream> capture;
    capture.emplace(name, fmCreate | fmShareDenyWrite);
    capture->WriteBuffer("first", 5);
    EXPECT_EQ(SaveFailure(name, [](TSaveOutput& out) { out.Write("list text"); }),
              "Cannot write \"" + name + "\": it is in use by a program that lets no one else write it");
    // Through another name for the same file too.
    const std::string link = dir.File("link.bin");
    ASSERT_EQ(symlink(name.c_str(), link.c_str()), 0);
    EXPECT_NE(SaveFailure(link, [](TSaveOutput& out) { out.Write("list text"); }), "");
    // The capture goes on into the file that is still there under its name.
    capture->WriteBuffer(" second", 7);
    EXPECT_EQ(Slurp(name), "first second");
    EXPECT_EQ(Entries(dir.path()), 2u) << "a temporary file was left behind";

    // Once the stream lets go, the file is an ordinary one to replace.
    capture.reset();
    EXPECT_EQ(SaveFailure(name, [](TSaveOutput& out) { out.Write("list text"); }), "");
    EXPECT_EQ(Slurp(name), "list text");
}

TEST(file_save, a_name_a_few_bytes_short_of_the_path_limit_saves_and_replaces) {
    TempDir dir;
    // A folder whose absolute path leaves room for a short name, not for
    // the temporary's longer one beside it.
    const test_support::LongFolder folder(dir.path(), PATH_MAX - 18);
    ASSERT_FALSE(folder.Path().empty()) << "the long folder could not be made";
    const std::string name = folder.Path() + "/a.cp";
    ASSERT_LT(name.size(), static_cast<std::size_t>(PATH_MAX));
    EXPECT_EQ(SaveFailure(name, [](TSaveOutput& out) { out.Write("first"); }), "");
    EXPECT_EQ(Slurp(name), "first");
    ASSERT_EQ(chmod(name.c_str(), 0640), 0);
    EXPECT_EQ(SaveFailure(name, [](TSaveOutput& out) { out.Write("second"); }), "");
    EXPECT_EQ(Slurp(name), "second");
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // A failed write there leaves the old file whole and nothing beside it.
    {
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(1);
        EXPECT_EQ(SaveFailure(name, [](TSaveOutput& out) { out.Write("third"); }),
                  "Cannot write \"" + name + "\": No space left on device");
    }
    EXPECT_EQ(Slurp(name), "second");
    EXPECT_EQ(Entries(folder.Path()), 1u) << "a temporary file was left behind";
}
