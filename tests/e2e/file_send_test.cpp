// Files end to end: a pseudo-terminal plays the device behind COM45; the
// main window receives into its list and saves, clears and loads it, writes
// raw output to a file, and sends files (ASCII hex, binary with and without
// tags) while the device reads what arrives and when.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "graph/graph_form.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/timer.h"
#include "platform/win/comm.h"
#include "support/dialog_answers.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "terminal/main_form.h"
#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using terminal::TMain;

// Reads the device side on a thread of its own, noting when each byte came;
// Pace slows it down to about 4 KB per 10 ms.
class DeviceReader {
public:
    explicit DeviceReader(test_support::PtyPair& dev, bool Pace = false)
        : dev_(dev), pace_(Pace), thread_([this] { Run(); }) {}
    ~DeviceReader() {
        stop_ = true;
        thread_.join();
    }
    std::string Bytes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }
    // When byte Index arrived.
    Clock::time_point At(std::size_t Index) {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_.at(Index);
    }
    bool WaitFor(std::size_t Count, std::chrono::milliseconds Limit) {
        const auto end = Clock::now() + Limit;
        while (Clock::now() < end) {
            if (Bytes().size() >= Count) return true;
            std::this_thread::sleep_for(1ms);
        }
        return Bytes().size() >= Count;
    }

private:
    void Run() {
        while (!stop_) {
            const std::string got = dev_.Read(pace_ ? 4096 : 65536, 5ms);
            if (!got.empty()) {
                std::lock_guard<std::mutex> lock(mutex_);
                bytes_ += got;
                times_.insert(times_.end(), got.size(), Clock::now());
            }
            if (pace_) std::this_thread::sleep_for(10ms);
        }
    }
    test_support::PtyPair& dev_;
    bool pace_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string bytes_;
    std::vector<Clock::time_point> times_;
    std::thread thread_;
};

struct FilePath : test_support::MainWindow {
    test_support::PtyPair dev;
    test_support::DialogAnswers answers;
    std::vector<std::string>& messages = answers.Messages;

    FilePath() : BasicMainWindow({.Start = false, .Graph = true}) {
        dev.MapAsCom(45);
        Start();
        main->mShowWrites->SetChecked(true);  // files are never logged, even so
        main->ForceComNumber(45, true);
        main->ApplyPortParams(false, true);
    }
    // The windows go while the answers and the device still stand.
    ~FilePath() { Free(); }
    void Answer(const std::string& file, int filter) { answers.Answer(file, filter); }
    void Click(const char* name) { ASSERT_TRUE(test_support::ClickMenu(main, name)) << name; }
    std::string MakeFile(const std::string& name, const std::string& data) {
        const std::string path = dir.File(name);
        std::ofstream(path, std::ios::binary) << data;
        return path;
    }
    const terminal::TLineStore& Lines() const { return main->RxPanel->Lines(); }
    win::COMMTIMEOUTS Timeouts() const {
        win::COMMTIMEOUTS t{};
        win::GetCommTimeouts(main->cp1->Handle(), &t);
        return t;
    }
};

std::string ReadFile(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Presses the Transmit button ("Cancel" during a transfer) once, Delay after
// the start, noting the button's caption at that moment.
struct CancelPress {
    vcl::TTimer* timer;
    std::string caption;
    win::DWORD write_timeout = 0;  // the port's write time-out then
    Clock::time_point at{};
    CancelPress(TMain* m, int DelayMs) : timer(new vcl::TTimer(m)) {
        timer->SetInterval(DelayMs);
        timer->SetOnTimer([this, m](vcl::TComponent*) {
            timer->SetEnabled(false);
            caption = m->Transb->Caption();
            win::COMMTIMEOUTS t{};
            win::GetCommTimeouts(m->cp1->Handle(), &t);
            write_timeout = t.WriteTotalTimeoutConstant;
            at = Clock::now();
            m->Transb->Click();
        });
        timer->SetEnabled(true);
    }
};

TEST(file_send, received_list_saved_cleared_and_loaded_back_and_saved_as_binary) {
    FilePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_EQ(m->DataFormat, terminal::dfHEX);
    ASSERT_EQ(p.dev.Write("\x0A\x0B"), 2u);
    ASSERT_TRUE(test_support::PumpUntil([&] { return m->PortSlots[terminal::PortSlotMain].RxCount == 2; }));
    const std::string line = p.Lines().GetLine(0);
    const double time = p.Lines().LineRecord(0).Time;
    EXPECT_EQ(p.Lines().LineData(0), "0A 0B");

    const std::string cp = p.dir.File("log.cp");
    p.Answer(cp, 3);
    p.Click("mSaveAll");
    const std::string bin = p.dir.File("log.bin");
    p.Answer(bin, 2);
    p.Click("mSaveAll");
    EXPECT_EQ(ReadFile(bin), "\x0A\x0B");

    p.Click("Clearm");
    ASSERT_EQ(p.Lines().LineCount(), 1);
    p.Answer(cp, 0);
    p.Click("Load1");
    ASSERT_EQ(p.Lines().LineCount(), 2);
    EXPECT_EQ(p.Lines().GetLine(0), line);
    EXPECT_EQ(p.Lines().LineRecord(0).Time, time);
    EXPECT_EQ(p.Lines().LineRecord(0).Format, terminal::dfHEX);
    // What comes next starts a line of its own.
    ASSERT_EQ(p.dev.Write("\x0C"), 1u);
    ASSERT_TRUE(test_support::PumpUntil([&] { return m->PortSlots[terminal::PortSlotMain].RxCount == 1; }));
    EXPECT_EQ(p.Lines().GetLine(0), line);
    EXPECT_EQ(p.Lines().LineData(1), "0C");
    EXPECT_TRUE(p.messages.empty());

    // The saved log sent back out: only received lines, as bytes.
    DeviceReader reader(p.dev);
    p.Answer(cp, 0);
    p.Click("SendSelflog1");
    ASSERT_TRUE(reader.WaitFor(2, 10s));
    EXPECT_EQ(reader.Bytes(), "\x0A\x0B");
    EXPECT_TRUE(p.messages.empty());
}

TEST(file_send, raw_output_to_a_file_gets_every_byte_of_a_megabyte_burst) {
    FilePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    const std::string out = p.dir.File("raw.bin");
    p.Answer(out, 2);
    p.Click("Outputtofile1");
    ASSERT_TRUE(m->OutputOn()->Raw());

    std::string burst(1 << 20, '\0');
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    std::size_t written = 0;
    std::thread writer([&] { written = p.dev.Write(burst, 60s); });
    const bool all = test_support::PumpUntil(
        [&] { return m->PortSlots[terminal::PortSlotMain].RxCount >= burst.size(); }, 60s);
    writer.join();
    ASSERT_TRUE(all) << m->PortSlots[terminal::PortSlotMain].RxCount;
    EXPECT_EQ(written, burst.size());
    p.Click("Outputtofile1");
    EXPECT_FALSE((m->OutputOn() != nullptr));
    const std::string got = ReadFile(out);
    EXPECT_EQ(got.size(), burst.size());
    EXPECT_TRUE(got == burst);
    EXPECT_EQ(p.Lines().LineCount(), 1);
    EXPECT_TRUE(p.messages.empty());
}

TEST(file_send, ascii_hex_and_tagged_files_arrive_as_their_bytes_with_pauses) {
    FilePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    DeviceReader reader(p.dev);
    const int lines = p.Lines().LineCount();

    // ASCII hex through the menu; counted, never logged in the panel.
    p.Answer(p.MakeFile("hex.txt", "0A F 123"), 0);
    p.Click("SendASCIIHEXFile1");
    ASSERT_TRUE(reader.WaitFor(4, 10s));
    EXPECT_EQ(reader.Bytes(), std::string("\x0A\x0F\x12\x03", 4));
    EXPECT_EQ(m->SentCount, 4u);
    EXPECT_EQ(m->TRLabel->Caption(), "4");
    EXPECT_EQ(p.Lines().LineCount(), lines);
    EXPECT_EQ(m->RxPanel->CurLine(), "");

    // "<<" is one "<".
    p.Answer(p.MakeFile("lt.bin", "<<A"), 0);
    p.Click("mSendBinaryFileWithTags");
    ASSERT_TRUE(reader.WaitFor(6, 10s));
    EXPECT_EQ(reader.Bytes().substr(4), "<A");

    // A, a pause of one second, B.
    const std::string tagged = p.MakeFile("pause.bin", "A<p=1000>B");
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare share;
    const Clock::time_point start = Clock::now();
    m->SendBinaryFile(tagged, true);
    const auto took = Clock::now() - start;
    ASSERT_TRUE(reader.WaitFor(8, 10s));
    EXPECT_EQ(reader.Bytes().substr(6), "AB");
    // (The device's reader stamps each byte as it reads it: one that a
    // busy machine held back shortens or lengthens the gap it sees.)
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(reader.At(7) - reader.At(6));
    EXPECT_TRUE(bounds.AtLeast(share, gap, 900ms, "the pause between A and B"));
    EXPECT_TRUE(bounds.Within(share, gap, 6s, "the pause between A and B"));
    EXPECT_GE(took, 950ms);  // the pause is timed on a coarser clock
    EXPECT_EQ(m->SentCount, 8u);
    EXPECT_TRUE(m->TransmitEnabled);
    EXPECT_EQ(m->Transb->Caption(), "Transmit");
    EXPECT_EQ(p.Timeouts().WriteTotalTimeoutConstant, 10000u);

    // A format fault after a pause: what came before the pause is sent.
    p.Answer(p.MakeFile("bad.bin", "C<p=1>D<P=1>E"), 0);
    p.Click("mSendBinaryFileWithTags");
    ASSERT_EQ(p.messages.size(), 1u);
    EXPECT_EQ(p.messages[0], "Wrong formatting at position 12 (Wrong tag P=1)");
    ASSERT_TRUE(reader.WaitFor(9, 10s));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(reader.Bytes().substr(8), "C");
    EXPECT_TRUE(m->TransmitEnabled);
    EXPECT_TRUE(m->BTrArrow->Enabled());
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(file_send, only_regular_files_that_fit_in_memory_are_sent_and_refusals_name_the_file) {
    FilePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    DeviceReader reader(p.dev);
    const std::string fifo = p.dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = p.dir.File("folder.bin");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    // Should the window ever wait in open() for a writer of the FIFO, one
    // comes after a while, so that the test fails instead of hanging.
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (auto end = Clock::now() + 10s; !done && Clock::now() < end;) std::this_thread::sleep_for(10ms);
        if (done) return;
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });
    struct Join {
        std::atomic<bool>& done;
        std::thread& thread;
        ~Join() {
            done = true;
            thread.join();
        }
    } join{done, writer};
    const char* entries[] = {"SendASCIIHEXFile1", "SendSelflog1", "SendBINFile1", "mSendBinaryFileWithTags"};
    test_support::TimeBounds bounds;
    for (const std::string& file : {fifo, folder, std::string("/dev/null")}) {
        for (const char* entry : entries) {
            p.messages.clear();
            const test_support::ProcessorShare start;
            p.Answer(file, 0);
            p.Click(entry);
            EXPECT_TRUE(bounds.Within(start, 5s, std::string("the refusal of ") + entry)) << file;
            ASSERT_EQ(p.messages.size(), 1u) << entry << " " << file;
            EXPECT_EQ(p.messages[0], "Cannot read \"" + file +
                                         "\": it is not a regular file (a folder, a device or a pipe)")
                << entry;
        }
    }
    // A file that is read whole although it should have been refused
    // (a file of 1 TB would then be read into memory): stop here.
    ASSERT_FALSE(HasFailure());

    // A regular file larger than memory (a sparse one, where the file
    // system allows it) is refused before it is read.
    const std::string huge = p.dir.File("huge.bin");
    const std::uint64_t size = std::uint64_t{1} << 40;
    const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const bool sparse = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    ::close(fd);
    if (sparse) {
        p.messages.clear();
        p.Answer(huge, 0);
        p.Click("SendBINFile1");
        ASSERT_EQ(p.messages.size(), 1u);
        EXPECT_EQ(p.messages[0], "Cannot read \"" + huge + "\" into memory: it holds " + std::to_string(size) +
                                     " bytes, more than the memory available.");
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(reader.Bytes(), "");
    EXPECT_EQ(m->SentCount, 0u);
    EXPECT_TRUE(m->TransmitEnabled);
    EXPECT_TRUE(m->cp1->Connected());
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// The most a pseudo-terminal holds for the device to read (its line
// discipline's buffer, raw on the device side, less one byte).
constexpr int kDeviceQueueFull = 4095;

// The device reads the first bytes and then no more: the line's buffers fill
// (once the device's own queue is full, the program's writes soon stall half
// done), then the device goes away. What waited in its queue by then is in
// pending: full, unless the program stopped writing (pending then tells how
// far it got).
struct DeviceLostAfterFirstBytes {
    std::size_t got = 0;
    int pending = -1;
    std::thread thread;
    explicit DeviceLostAfterFirstBytes(FilePath& p)
        : thread([this, &p] {
              // Each wait gives up after ten seconds of the time the test was
              // given: the program's writes may come late on a busy machine.
              for (test_support::GivenTimeLimit limit(10s); got < 1000 && !limit.Passed();)
                  got += p.dev.Read(1000 - got, 10ms).size();
              for (test_support::GivenTimeLimit limit(10s); !limit.Passed(); std::this_thread::sleep_for(1ms)) {
                  if (::ioctl(p.dev.MasterFd(), FIONREAD, &pending) != 0) pending = -1;
                  if (pending < 0 || pending >= kDeviceQueueFull) break;
              }
              p.dev.CloseMaster();
          }) {}
    void Join() { thread.join(); }
};

TEST(file_send, a_device_lost_mid_send_leaves_every_byte_that_left_counted) {
    FilePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    const std::string file = p.MakeFile("big.bin", std::string(4 << 20, 'U'));
    DeviceLostAfterFirstBytes device(p);
    p.Answer(file, 0);
    p.Click("SendBINFile1");
    device.Join();
    ASSERT_EQ(device.got, 1000u);
    ASSERT_EQ(device.pending, kDeviceQueueFull);
    EXPECT_FALSE(m->cp1->Connected());
    ASSERT_EQ(p.messages.size(), 1u);
    // What the device read and what waited for it in the line's buffers
    // had all left the program.
    EXPECT_GE(m->SentCount, device.got + static_cast<std::size_t>(device.pending));
    EXPECT_LT(m->SentCount, 4u << 20);
    EXPECT_EQ(m->TRLabel->Caption(), std::to_string(m->SentCount));
    EXPECT_TRUE(m->TransmitEnabled);
}

// A typed line lost the same way: the part of the failed write that left is
// counted too, not only the writes that finished.
TEST(file_send, a_device_lost_under_a_typed_line_leaves_what_left_counted) {
    FilePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    const std::string line(60000, 'T');
    DeviceLostAfterFirstBytes device(p);
    bool raised = false;
    try {
        m->SendData(line.data(), static_cast<std::uint32_t>(line.size()), true);
    } catch (const rtl::Exception&) {
        raised = true;
    }
    device.Join();
    ASSERT_TRUE(raised);
    ASSERT_EQ(device.got, 1000u);
    ASSERT_EQ(device.pending, kDeviceQueueFull);
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_GE(m->SentCount, device.got + static_cast<std::size_t>(device.pending));
    EXPECT_LT(m->SentCount, line.size());
    EXPECT_EQ(m->TRLabel->Caption(), std::to_string(m->SentCount));
}

TEST(file_send, cancelling_a_long_binary_send_stops_it_within_a_second) {
    FilePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    DeviceReader reader(p.dev, true);  // about 400 KB/s: 4 MB would take ten seconds
    const std::string file = p.MakeFile("big.bin", std::string(4 << 20, 'x'));

    test_support::TimeBounds bounds;
    test_support::ProcessorShare share;
    CancelPress cancel(m, 300);
    const bool finished = [&] {
        m->SendBinaryFile(file, false);
        return true;
    }();
    const Clock::time_point done = Clock::now();
    ASSERT_TRUE(finished);
    EXPECT_EQ(cancel.caption, "Cancel");
    EXPECT_EQ(cancel.write_timeout, 500u);
    ASSERT_NE(cancel.at, Clock::time_point{});
    EXPECT_TRUE(bounds.Within(share, std::chrono::duration_cast<std::chrono::milliseconds>(done - cancel.at), 1s, "the end after the cancel"));
    EXPECT_GT(m->SentCount, 0u);
    EXPECT_LT(m->SentCount, 4u << 20);
    EXPECT_EQ(m->Transb->Caption(), "Transmit");
    EXPECT_TRUE(m->TransmitEnabled);
    EXPECT_TRUE(m->BTrArrow->Enabled());
    EXPECT_TRUE(m->nastrp->Enabled());
    EXPECT_EQ(p.Timeouts().WriteTotalTimeoutConstant, 10000u);

    // Cancel during a long pause of a tagged file: the rest is never sent.
    ASSERT_TRUE(reader.WaitFor(m->SentCount, 10s));
    const std::size_t before = reader.Bytes().size();
    CancelPress pause_cancel(m, 300);
    share = test_support::ProcessorShare();
    m->SendBinaryFile(p.MakeFile("pause.bin", "A<p=5000>B"), true);
    EXPECT_TRUE(bounds.Within(share, 2s, "a send cancelled in its pause of 5 s"));
    EXPECT_EQ(pause_cancel.caption, "Cancel");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(reader.Bytes().substr(before), "A");
    EXPECT_EQ(m->Transb->Caption(), "Transmit");
    EXPECT_TRUE(p.messages.empty());
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(file_send, writes_that_make_no_progress_keep_the_window_alive_and_cancellable) {
    FilePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    // Nobody reads the device: once the line's buffer is full, no write
    // gets anything through, as with flow control holding the line.
    const std::string big(2 << 20, 'y');

    test_support::TimeBounds bounds;
    for (const bool tagged : {false, true}) {
        SCOPED_TRACE(tagged ? "tagged" : "plain");
        const std::string file = p.MakeFile("stuck.bin", tagged ? "A<p=10>" + big : big);
        // Window timers keep running during the transfer: each stalled
        // write gives up after half a second and the window is seen to.
        int ticks = 0;
        vcl::TTimer* alive = new vcl::TTimer(m);
        alive->SetInterval(50);
        alive->SetOnTimer([&](vcl::TComponent*) { ++ticks; });
        alive->SetEnabled(true);
        // A running transmit timer must not cut the file short: its ticks
        // would press Transmit, which reads "Cancel" now.
        m->tmr1->SetInterval(50);
        m->tmr1->SetEnabled(true);
        CancelPress cancel(m, 1500);
        const test_support::ProcessorShare share;
        const std::uint64_t before = m->SentCount;
        m->SendBinaryFile(file, tagged);
        const Clock::time_point done = Clock::now();
        alive->SetEnabled(false);
        EXPECT_TRUE(m->tmr1->Running()) << "the timer goes on after the transfer";
        EXPECT_TRUE(bool(m->tmr1->OnTimer()));
        m->tmr1->SetEnabled(false);
        EXPECT_EQ(cancel.caption, "Cancel");
        EXPECT_EQ(cancel.write_timeout, 500u);
        ASSERT_NE(cancel.at, Clock::time_point{});
        EXPECT_TRUE(bounds.Within(share, std::chrono::duration_cast<std::chrono::milliseconds>(done - cancel.at), 2s, "the end after the cancel"));
        EXPECT_GE(ticks, 2);
        EXPECT_LT(m->SentCount - before, big.size());
        EXPECT_TRUE(m->TransmitEnabled);
        EXPECT_EQ(m->Transb->Caption(), "Transmit");
        EXPECT_EQ(p.Timeouts().WriteTotalTimeoutConstant, 10000u);
        // Let the device drain before the next round.
        p.dev.Read(8 << 20, 300ms);
    }
    EXPECT_TRUE(p.messages.empty());
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// The program ends in the child process these run in: the application
// object cannot be used again after that.
TEST(file_send_death_test, closing_the_program_during_a_stalled_transfer_stops_it) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const bool tagged : {false, true}) {
        SCOPED_TRACE(tagged ? "tagged" : "plain");
        EXPECT_EXIT(
            {
                ::alarm(20);  // a transfer that goes on kills the child instead of hanging
                FilePath p;
                const std::string big(2 << 20, 'z');  // nobody reads: the writes stall
                const std::string file = p.MakeFile("stuck.bin", tagged ? "A<p=10>" + big : big);
                vcl::TTimer* quit = new vcl::TTimer(p.main);
                quit->SetInterval(300);
                quit->SetOnTimer([quit](vcl::TComponent*) {
                    quit->SetEnabled(false);
                    vcl::Application->Terminate();
                });
                quit->SetEnabled(true);
                // Within 3 s of the time the child was given (a child that
                // a busy machine kept from running cannot mark the test
                // void: it passes then).
                test_support::ProcessorShare start;
                p.main->SendBinaryFile(file, tagged);
                start.Sample();
                const bool stopped = test_support::Judge(start, 3s).verdict != test_support::Timely::kLate &&
                                     p.main->SentCount < big.size() && p.main->TransmitEnabled;
                std::_Exit(stopped ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

}  // namespace
