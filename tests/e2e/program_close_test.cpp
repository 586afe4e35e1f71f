// The real program on a virtual X server, closed by the user while it still
// owes a slow reader what it read or what it saves: the rest of its output
// file, and a save of the receive list onto a pipe. Its windows go at once;
// it goes on writing to a reader that still takes, and ends cleanly once
// the reader has everything; a reader that stops taking is given up after
// the stall limit, and standard error says which file was not written and
// why.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/fifo_reader.h"
#include "support/hex_text.h"
#include "support/processor_share.h"
#include "support/program_process.h"
#include "support/pty.h"
#include "support/temp_dir.h"
#include "support/virtual_display.h"
#include "support/x_client.h"
#include "support/x_windows.h"

namespace {

using namespace std::chrono_literals;

// The readers take 2,048 bytes every 100 ms: the program owes them seconds
// of writing at the close.
constexpr std::size_t kTake = 2048;
constexpr auto kPace = 100ms;
// What the readers' pipes hold at most.
constexpr std::size_t kPipe = 4096;
// The receive list's pop-up menu: where it opens, and "Save as" in it,
// counted from its top.
constexpr int kListX = 820, kListY = 550, kSaveAs = 7;

// Bytes of every value, in no short cycle.
std::string Pattern(std::size_t Count) {
    std::string s(Count, '\0');
    for (std::size_t i = 0; i < Count; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// A copy of the program in a folder of its own, its main port a pty (shown
// in HEX, without time), started on the display with its standard error
// kept in a file. Extra goes into its settings file's current profile; a
// copy given the device of another is started on that device, as COM5 too.
struct Program {
    const test_support::VirtualDisplay& display;
    test_support::TempDir dir;
    std::optional<test_support::PtyPair> own_dev;
    test_support::PtyPair& dev;
    // The port's end of the device, open in the test too (before the
    // program takes it for itself), to see what the port has not read yet.
    int line = -1;
    std::string errors;
    std::unique_ptr<test_support::ProgramProcess> process;
    std::string window;  // the main window

    Program(const test_support::VirtualDisplay& Display, std::vector<std::pair<std::string, std::string>> Env,
            const std::string& Extra = {}, test_support::PtyPair* Device = nullptr)
        : display(Display), dev(Device ? *Device : own_dev.emplace()) {
        std::filesystem::copy_file(test_support::BuiltProgram(), dir.File("vostrel"));
        std::ofstream(dir.File("vostrel.ini"), std::ios::binary)
            << "[Main]\r\nCurrentProfile=0\r\nDataFormat=1\r\nRVPnlTime=0\r\n[Config11]\r\nPort=5\r\nSpeed=115200\r\n"
            << Extra;
        if (!Device) dev.MapAsCom(5);
        line = ::open(dev.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        errors = dir.File("stderr.txt");
        process = std::make_unique<test_support::ProgramProcess>(
            test_support::ProgramStart{.binary = dir.File("vostrel"), .cwd = "/", .display = display.Name(),
                                       .runtime = dir.path(), .env = std::move(Env), .stderr_file = errors});
    }
    ~Program() {
        process.reset();
        if (line >= 0) ::close(line);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t Pid() const { return process->Pid(); }
    // The main window shows, the port is open and its opening over: the
    // opening empties what the device sent before it was done (a device
    // that began at once, on a busy machine, would lose a whole line's
    // worth), so the program is waited for until it idles.
    bool Started() {
        std::vector<std::string> main;
        const bool shown = test_support::WaitUntil(
            [&] {
                return !(main = test_support::ProcessWindows(display.Name(), Pid(), "VOSTREL")).empty() ||
                       !process->Running();
            },
            120s);
        if (!shown || main.empty()) return false;
        window = main[0];
        return line >= 0 &&
               test_support::WaitUntil([&] { return test_support::HoldsOpen(Pid(), dev.SlavePath()); }, 60s) &&
               test_support::WaitUntilIdle({Pid(), display.Pid()}, 500ms, 60s);
    }
    // The device sends Bytes, and the port reads them all: nothing waits in
    // the line for it for a while (what the kernel's buffers hold beyond
    // goes on as soon as the line has room).
    bool Send(const std::string& Bytes) {
        if (dev.Write(Bytes, 60s) != Bytes.size()) return false;
        int quiet = 0;
        return test_support::WaitUntil(
            [&] {
                int waiting = -1;
                quiet = ::ioctl(line, FIONREAD, &waiting) == 0 && waiting == 0 ? quiet + 1 : 0;
                return quiet >= 5;
            },
            60s);
    }
    // The user saves the receive list through "Save as" of its pop-up menu
    // into File, of the type the dialog offers (binary), once the list holds
    // all the port read: the port's reads go on after the line is empty,
    // and the list takes them on a busy machine only a while later (the
    // program is idle then).
    bool SaveListAs(const std::string& File) {
        return test_support::WaitUntilIdle({Pid(), display.Pid()}, 500ms, 60s) &&
               test_support::ChooseFromPopup(display.Name(), Pid(), window, kListX, kListY, kSaveAs) &&
               test_support::WaitUntil(
                   [&] {
                       return !test_support::ProcessWindows(display.Name(), Pid(), "Choose output file name").empty();
                   },
                   60s) &&
               test_support::ChooseFile(display.Name(), Pid(), "Choose output file name", File, 0);
    }
    // Closes the main window as a window manager does; then how soon every
    // window of the program went, judged against a second of the time that
    // the program, the display server and this thread were given.
    test_support::BoundedWait Close() {
        if (!test_support::XClient(display.Name()).RequestClose(std::stoul(window)))
            return {test_support::Timely::kLate, false, "sent no close request", 1s};
        return test_support::WaitWithin([&] { return test_support::ProcessWindows(display.Name(), Pid()).empty(); },
                                        1s, 60s, {Pid(), display.Pid()});
    }
    // The program ends (within a generous limit), with status 0.
    ::testing::AssertionResult EndsCleanly() {
        if (!process->End(60s)) return ::testing::AssertionFailure() << "the program did not end";
        const int status = process->Status();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return ::testing::AssertionFailure() << "the program ended with wait status " << status;
        return ::testing::AssertionSuccess();
    }
    std::string Errors() const {
        std::stringstream text;
        text << std::ifstream(errors).rdbuf();
        return text.str();
    }
};

// A FIFO in the program's folder with the test's reader on it, holding 4,096
// bytes at most.
struct Pipe {
    std::string path;
    bool made;
    test_support::FifoReader reader;
    explicit Pipe(std::string Path)
        : path(std::move(Path)), made(::mkfifo(path.c_str(), 0600) == 0), reader(path) {
        made = made && reader.SetCapacity(static_cast<int>(kPipe));
    }
    // All the reader took: while it took at its pace, and what is left.
    std::string Got() {
        reader.StopTaking();
        return reader.Taken() + reader.Take();
    }
};

// The close takes the windows away at once, and what a slow reader is still
// owed is written after them: the output file's rest (text onto a FIFO whose
// reader takes 20,000 bytes a second, with much of what the device sent not
// taken yet), and a save of the list onto such a FIFO that the close finds
// waiting. Each reader gets every byte, then the program ends with status 0.
// A save whose reader stops taking is given up after the stall limit, with
// the file and the reason on standard error.
TEST(program_close, the_windows_go_at_once_and_a_slow_reader_gets_what_it_is_owed_before_the_program_ends) {
    if (!test_support::OnPath("Xvfb") || !test_support::OnPath("xdotool"))
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    ASSERT_EQ(::access(test_support::BuiltProgram().c_str(), X_OK), 0) << "the program is not there";
    test_support::VirtualDisplay display;
    ASSERT_FALSE(display.Name().empty()) << display.Error();
    test_support::TimeBounds bounds;

    {
        SCOPED_TRACE("output to a FIFO as text");
        Program p(display, {});
        ASSERT_TRUE(p.Started()) << "the program did not start";
        Pipe pipe(p.dir.File("out.txt"));
        ASSERT_TRUE(pipe.made);
        ASSERT_TRUE(test_support::OutputToFile(display.Name(), p.Pid(), pipe.path, 1));
        ASSERT_TRUE(test_support::WaitUntil([&] { return test_support::HoldsOpen(p.Pid(), pipe.path); }, 20s));
        pipe.reader.TakeEvery(kTake, kPace);
        // 40,000 bytes are 120,000 characters of text: the reader is owed
        // most of them at the close.
        const std::string sent = Pattern(40000);
        ASSERT_TRUE(p.Send(sent));
        const std::string before = test_support::HexTextBytes(pipe.reader.Taken());
        ASSERT_TRUE(sent.compare(0, before.size(), before) == 0) << "the file is not the HEX text of what was sent";
        // (On a busy machine the port may read so slowly that the reader
        // has taken much by now: the close then owes it less.)
        if (before.size() >= sent.size() / 2)
            bounds.AddVoid("the reader had taken " + std::to_string(before.size()) + " of the " +
                           std::to_string(sent.size()) + " bytes before the close");

        EXPECT_TRUE(bounds.Within(p.Close(), "the windows' going after the close"));
        // Still running while the reader is owed more than the pipe holds
        // (two characters of text a byte at the least).
        const bool running = p.process->Running();
        const std::size_t taken = test_support::HexTextBytes(pipe.reader.Taken()).size();
        EXPECT_TRUE(running || taken + kPipe / 2 >= sent.size())
            << "the program ended before its reader had taken what it read: " << taken << " of " << sent.size();
        ASSERT_TRUE(p.EndsCleanly());
        const std::string got = test_support::HexTextBytes(pipe.Got());
        EXPECT_TRUE(got == sent) << "the reader got " << got.size() << " of the " << sent.size()
                                 << " bytes the port read; standard error: " << p.Errors();
    }
    // A save of the list onto a FIFO, 100,000 bytes long (binary), whose
    // reader takes on after the close, or stops taking at the close.
    const std::string listed = Pattern(100000);
    for (const bool stops : {false, true}) {
        SCOPED_TRACE(stops ? "a save onto a FIFO whose reader stops taking at the close"
                           : "a save onto a FIFO whose reader takes on");
        Program p(display, {{"VOSTREL_TEST_WRITE_STALL_MS", stops ? "2000" : "5000"}});
        ASSERT_TRUE(p.Started()) << "the program did not start";
        ASSERT_TRUE(p.Send(listed));
        Pipe pipe(p.dir.File("list.bin"));
        ASSERT_TRUE(pipe.made);
        pipe.reader.TakeEvery(kTake, kPace);
        ASSERT_TRUE(p.SaveListAs(pipe.path)) << "the save did not start";
        ASSERT_TRUE(test_support::WaitUntil([&] { return !pipe.reader.Taken().empty(); }, 20s));
        // The user closes the window while the save waits for the reader
        // (who takes it all in five seconds at the least: one that has by
        // now waited for a processor all the while).
        std::this_thread::sleep_for(2s);
        if (stops) pipe.reader.StopTaking();
        if (pipe.reader.Taken().size() >= listed.size()) {
            bounds.AddVoid("the reader had taken the whole save before the close");
            continue;
        }

        EXPECT_TRUE(bounds.Within(p.Close(), "the windows' going after the close"));
        if (!stops) {
            const bool running = p.process->Running();
            const std::size_t taken = pipe.reader.Taken().size();
            EXPECT_TRUE(running || taken + kPipe >= listed.size())
                << "the program ended before its reader had taken the save: " << taken << " of " << listed.size();
        }
        ASSERT_TRUE(p.EndsCleanly());
        const std::string got = pipe.Got();
        const std::string errors = p.Errors();
        if (!stops) {
            EXPECT_TRUE(got == listed) << "the reader got " << got.size() << " of the " << listed.size()
                                       << " bytes saved; standard error: " << errors;
            continue;
        }
        EXPECT_LT(got.size(), listed.size());
        // The reader got all the pipe took: the rest was never written.
        EXPECT_NE(errors.find(std::to_string(listed.size() - got.size()) + " bytes of \"" + pipe.path +
                              "\" were not written: Cannot write \"" + pipe.path +
                              "\": the program or device reading it stopped taking data"),
                  std::string::npos)
            << "standard error: " << errors;
    }
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// The user closes the window while a save of the list waits for a slow
// reader and a plug-in's load event polls the device (sending 'P', then
// waiting in Recv): at once the plug-in stops and the port closes, so that a
// second copy started right after opens the same device and receives,
// while the first goes on writing the save, which its reader gets whole.
TEST(program_close, a_close_while_a_save_is_written_on_lets_go_of_the_device_and_the_plugin_at_once) {
    if (!test_support::OnPath("Xvfb") || !test_support::OnPath("xdotool"))
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    ASSERT_EQ(::access(test_support::BuiltProgram().c_str(), X_OK), 0) << "the program is not there";
    test_support::VirtualDisplay display;
    ASSERT_FALSE(display.Name().empty()) << display.Error();
    test_support::TempDir plugins;
    const std::string plugin = plugins.File("poll.pas");
    std::ofstream(plugin, std::ios::binary)
        << "procedure OnLoad;\nvar s: string;\nbegin\n  while True do begin\n    Send('P');\n"
           "    Recv(0, 200, s);\n  end;\nend;\n";
    Program p(display, {{"VOSTREL_TEST_WRITE_STALL_MS", "20000"}}, "PlugPath=" + plugin + "\r\n");
    ASSERT_TRUE(p.Started()) << "the program did not start";
    ASSERT_TRUE(test_support::WaitUntil([&] { return p.dev.Read(1, 100ms) == "P"; }, 30s)) << "the plug-in does not poll";
    const std::string listed = Pattern(200000);
    ASSERT_TRUE(p.Send(listed));
    Pipe pipe(p.dir.File("list.bin"));
    ASSERT_TRUE(pipe.made);
    pipe.reader.TakeEvery(kPipe, 100ms);
    ASSERT_TRUE(p.SaveListAs(pipe.path)) << "the save did not start";
    ASSERT_TRUE(test_support::WaitUntil([&] { return !pipe.reader.Taken().empty(); }, 20s));

    test_support::TimeBounds bounds;
    EXPECT_TRUE(bounds.Within(p.Close(), "the windows' going after the close"));
    // The device is let go at once, while the save is still being written
    // (its reader takes five seconds for it): a save written whole would
    // leave no more than the pipe holds to its reader.
    const test_support::BoundedWait released = test_support::WaitWithin(
        [&] { return !test_support::HoldsOpen(p.Pid(), p.dev.SlavePath()); }, 2s, 60s, {p.Pid(), display.Pid()});
    const std::size_t taken = pipe.reader.Taken().size();
    ASSERT_TRUE(released.came) << "the program never let go of the device";
    EXPECT_TRUE(bounds.Within(released, "letting go of the device after the close"));
    if (released.verdict != test_support::Timely::kVoid) {
        EXPECT_LT(taken + 2 * kPipe, listed.size()) << "the device was let go only once the save was written";
    }
    EXPECT_TRUE(p.process->Running());
    // What the plug-in sent before is all there (the device is closed).
    p.dev.Read(65536, 100ms);
    // A second copy opens it and receives.
    Program second(display, {}, {}, &p.dev);
    ASSERT_TRUE(second.Started()) << "a second copy could not open the device";
    EXPECT_TRUE(second.Send("hello")) << "the second copy does not read the device";
    EXPECT_EQ(p.dev.Read(65536, 100ms).find('P'), std::string::npos) << "the plug-in polled after the close";

    ASSERT_TRUE(p.EndsCleanly());
    const std::string got = pipe.Got();
    EXPECT_TRUE(got == listed) << "the reader got " << got.size() << " of the " << listed.size()
                               << " bytes saved; standard error: " << p.Errors();
    EXPECT_TRUE(bounds.Within(second.Close(), "the second copy's windows' going after the close"));
    EXPECT_TRUE(second.EndsCleanly());
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

}  // namespace
