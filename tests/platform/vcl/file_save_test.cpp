#include "platform/vcl/file_save.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <limits.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/rtl/file_writes.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/streams.h"
#include "platform/win/message_window.h"
#include "support/small_tmpfs.h"
#include "support/fifo.h"
#include "support/fifo_reader.h"
#include "support/program_process.h"
#include "support/qt_app.h"
#include "support/file_contents.h"
#include "support/long_folder.h"
#include "support/temp_dir.h"
#include "support/virtual_display.h"
#include "support/x_client.h"
#include "support/x_windows.h"

using namespace vcl;
using namespace std::chrono_literals;

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
// A window that counts the keys it gets.
struct KeyCounter : QWidget {
    int Pressed = 0;
    void keyPressEvent(QKeyEvent*) override { ++Pressed; }
};

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

TEST(file_save, a_pipe_never_ends_the_program_nor_holds_the_window) {
    EnsureApplication();
    TempDir dir;
    const std::string fifo = dir.File("pipe.bin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string data(200000, 'z');
    const auto saveData = [&](TSaveOutput& out) { out.Write(data); };
    {
        // The reader takes a little and leaves part-way through: the save
        // fails by name with the system's reason, and the program goes on
        // (the signal of a pipe without reader would end it).
        test_support::FifoReader reader(fifo);
        ASSERT_TRUE(reader.Open());
        reader.LeaveWhenFull(1000);
        EXPECT_EQ(SaveFailure(fifo, saveData), "Cannot write \"" + fifo + "\": Broken pipe");
        EXPECT_TRUE(reader.Left());
    }

    // The reader holds the pipe and takes nothing. While the save waits,
    // the window answers: a close request reaches its form, a toolkit timer
    // ticks; the user's input is dropped and the program's own messages
    // wait, so nothing changes what is being saved. Then the save fails by
    // name.
    setenv("VOSTREL_TEST_WRITE_STALL_MS", "300", 1);
    test_support::FifoReader reader(fifo);
    ASSERT_TRUE(reader.Open());
    TForm form(Application);
    int closes = 0;
    bool savingAtClose = false;
    form.OnCloseQuery = [&](TComponent*, bool& CanClose) {
        ++closes;
        savingAtClose = Application->WriteWaiting();
        CanClose = false;
    };
    QCoreApplication::postEvent(form.Widget(), new QCloseEvent);
    KeyCounter keys;
    QCoreApplication::postEvent(&keys, new QKeyEvent(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier));
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    bool posted = false;
    const win::HWND window = win::AllocateHWnd([&](win::HWND, win::UINT, win::WPARAM, win::LPARAM) -> win::LRESULT {
        posted = true;
        return 0;
    }, "saving");
    ASSERT_TRUE(win::PostMessage(window, win::WM_USER, 0, 0));
    EXPECT_EQ(SaveFailure(fifo, saveData),
              "Cannot write \"" + fifo + "\": the program or device reading it stopped taking data");
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(savingAtClose);
    EXPECT_TRUE(ticked);
    EXPECT_FALSE(posted) << "a message of the program ran inside the save";
    EXPECT_EQ(keys.Pressed, 0) << "a key reached a window inside the save";
    EXPECT_TRUE(test_support::PumpUntil([&] { return posted; }));
    QCoreApplication::postEvent(&keys, new QKeyEvent(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier));
    EXPECT_TRUE(test_support::PumpUntil([&] { return keys.Pressed == 1; }));
    EXPECT_FALSE(Application->WriteWaiting());
    win::DeallocateHWnd(window);

    // A stream onto the pipe stops short in the same way, and its caller
    // raises the stream's error.
    reader.Take();
    {
        TFileStream stream(fifo, fmCreate);
        EXPECT_THROW(stream.WriteBuffer(data.data(), static_cast<std::int32_t>(data.size())), rtl::EWriteError);
    }

    // A close that must not wait for the reader gives the save up at once,
    // without a word (the user asked to close); a later save is not stopped.
    // The limit is far off: a save that went on would end in its error.
    setenv("VOSTREL_TEST_WRITE_STALL_MS", "20000", 1);
    reader.Take();
    form.OnCloseQuery = [&](TComponent*, bool& CanClose) {
        ++closes;
        Application->StopWaitingWrite();
        CanClose = false;
    };
    QCoreApplication::postEvent(form.Widget(), new QCloseEvent);
    EXPECT_THROW(SaveWholeFile(fifo, saveData), rtl::EAbort);
    EXPECT_EQ(closes, 2);
    reader.Take();
    SaveWholeFile(fifo, [](TSaveOutput& out) { out.Write("still saves"); });
    EXPECT_EQ(reader.Take(), "still saves");
    unsetenv("VOSTREL_TEST_WRITE_STALL_MS");
}

// The part of the next test that runs in a process of its own on a real
// display (ctest does not list it; run on its own it skips). A form shows
// while a save onto the FIFO named waits; the form's close gives the save up.
TEST(file_save, child_waiting_on_a_real_display) {
    const char* fifo = std::getenv("VOSTREL_TEST_SAVE_FIFO");
    if (!fifo) GTEST_SKIP() << "part of a_save_waiting_on_a_pipe_answers_the_window_manager";
    EnsureApplication();
    TForm form(Application);
    form.SetCaption("Saving");
    form.Show();
    bool closeAsked = false;
    form.OnCloseQuery = [&](TComponent*, bool& CanClose) {
        closeAsked = true;
        Application->StopWaitingWrite();
        CanClose = false;
    };
    EXPECT_THROW(SaveWholeFile(fifo, [](TSaveOutput& out) { out.Write(std::string(200000, 'z')); }), rtl::EAbort);
    EXPECT_TRUE(closeAsked);
}

// A save onto a FIFO whose reader holds it and takes nothing, in a program
// on a real display: the window answers every ping of the window manager
// while the save waits, and its close request ends the wait.
TEST(file_save, a_save_waiting_on_a_pipe_answers_the_window_manager) {
    if (!test_support::OnPath("Xvfb") || !test_support::OnPath("xdotool"))
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    test_support::VirtualDisplay display;
    ASSERT_FALSE(display.Name().empty()) << display.Error();
    TempDir dir;
    const std::string fifo = dir.File("pipe.bin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    test_support::FifoReader holder(fifo);
    ASSERT_TRUE(holder.Open());
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    test_support::ProgramProcess saver({.binary = self,
                                        .cwd = dir.path(),
                                        .display = display.Name(),
                                        .runtime = dir.path(),
                                        .env = {{"GTEST_FILTER", "file_save.child_waiting_on_a_real_display"},
                                                {"VOSTREL_TEST_SAVE_FIFO", fifo},
                                                {"VOSTREL_TEST_WRITE_STALL_MS", "600000"}}});
    ASSERT_GT(saver.Pid(), 0);
    // The pipe is full: the save waits for room.
    ASSERT_TRUE(test_support::WaitUntil([&] { return holder.Queued() >= holder.Capacity() || !saver.Running(); },
                                        120s));
    ASSERT_TRUE(saver.Running()) << "the save did not wait";
    std::vector<std::string> windows;
    ASSERT_TRUE(test_support::WaitUntil(
        [&] { return !(windows = test_support::ProcessWindows(display.Name(), saver.Pid(), "Saving")).empty(); },
        60s));
    test_support::XClient x(display.Name());
    ASSERT_TRUE(x.Ok());
    const unsigned long window = std::stoul(windows[0]);
    for (int probe = 0; probe < 10; ++probe) EXPECT_TRUE(x.Ping(window, 30s)) << "ping " << probe << " unanswered";
    EXPECT_TRUE(saver.Running());
    ASSERT_TRUE(x.RequestClose(window));
    ASSERT_TRUE(saver.End(60s)) << "the close request did not end the save";
    EXPECT_TRUE(WIFEXITED(saver.Status()) && WEXITSTATUS(saver.Status()) == 0)
        << "the saving part failed (wait status " << saver.Status() << ")";
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
