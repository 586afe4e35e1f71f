#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "graph/graph_form.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/file_writes.h"
#include "platform/vcl/clipboard.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/forms.h"
#include "ports/foreign_port.h"
#include "support/dialog_answers.h"
#include "support/fifo.h"
#include "support/fifo_reader.h"
#include "support/main_window.h"
#include "support/small_tmpfs.h"
#include "support/temp_dir.h"
#include "terminal/main_form.h"

namespace {

using terminal::TMain;

// The main window after its first activation with no port open; modal
// messages are recorded and file dialogs answered with the name and filter
// the test chose.
struct FilesFixture : test_support::MainWindow {
    test_support::DialogAnswers answers;
    std::vector<std::string>& messages = answers.Messages;
    std::vector<std::string>& dialogs = answers.Dialogs;
    bool shift = false;

    FilesFixture() : BasicMainWindow({.Start = false, .Graph = true}) {
        Start();
        main->RVPnlTime = 0;  // lines are exactly their mark and data
        main->mShowWrites->SetChecked(true);  // received lines get the "<" mark
        main->ShiftHeld = [this] { return shift; };
    }
    // The windows go while the answers still stand.
    ~FilesFixture() { Free(); }
    // A chunk read and handed on, and the loop's turn after it (an output
    // that failed on it is settled there).
    void Receive(const std::string& bytes) {
        main->cp1->OnReceiveData(main->cp1, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        main->PumpReceived();
        Settle();
    }
    // The same without the loop's turn: an output that failed on it waits
    // to be settled.
    void ReceiveUnsettled(const std::string& bytes) {
        main->cp1->OnReceiveData(main->cp1, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        main->PumpReceived();
    }
    static void Settle() { QCoreApplication::processEvents(); }
    void Answer(const std::string& file, int filter) { answers.Answer(file, filter); }
    void Click(const char* name) { ASSERT_TRUE(test_support::ClickMenu(main, name)) << name; }
    // Output to the file, as text (filter 1) or raw (filter 2).
    void OutputTo(const std::string& file, int filter) {
        Answer(file, filter);
        Click("Outputtofile1");
        ASSERT_TRUE((main->OutputOn() != nullptr));
    }
    const terminal::TLineStore& Lines() const { return main->RxPanel->Lines(); }
    // A list file to load (internal format), saved through Save as with
    // Bytes received on the line.
    std::string ListFileOf(const std::string& Bytes) {
        Receive(Bytes);
        const std::string cp = dir.File("list.cp");
        Answer(cp, 3);
        Click("mSaveAll");
        return cp;
    }
};

std::string ReadFile(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& p, const std::string& data) {
    std::ofstream(p, std::ios::binary) << data;
}

TEST(main_form_files, list_menu_starts_deletes_and_copies_lines) {
    FilesFixture f;
    TMain* m = f.main;
    f.Receive("AB");
    f.Click("Crm");  // New Line
    f.Receive("C");
    ASSERT_EQ(f.Lines().LineCount(), 2);
    EXPECT_EQ(f.Lines().GetLine(0), "<41 42");

    // Copy Line: with its prefix, or its data alone while Shift is held.
    m->lb1->SetItemIndex(0);
    f.Click("mCopyLine");
    EXPECT_EQ(vcl::Clipboard().AsText(), "<41 42");
    f.shift = true;
    f.Click("mCopyLine");
    EXPECT_EQ(vcl::Clipboard().AsText(), "41 42");
    f.Click("mCopyAll");
    EXPECT_EQ(vcl::Clipboard().AsText(), "41 42\r\n43\r\n");
    f.shift = false;
    f.Click("mCopyAll");
    EXPECT_EQ(vcl::Clipboard().AsText(), "<41 42\r\n<43\r\n");

    // Delete Line on the current line with text: it is emptied in place.
    m->lb1->SetItemIndex(1);
    f.Click("mDeleteLine");
    ASSERT_EQ(f.Lines().LineCount(), 2);
    EXPECT_EQ(f.Lines().LineLength(1), 0);
    EXPECT_EQ(m->lb1->ItemIndex(), 1);
    // On the empty current line: the line before it goes.
    f.Click("mDeleteLine");
    ASSERT_EQ(f.Lines().LineCount(), 1);
    // Received data after that starts on the current line, not in a deleted one.
    f.Receive("D");
    EXPECT_EQ(f.Lines().GetLine(0), "<44");
    EXPECT_TRUE(f.messages.empty());

    // With no line selected: the list's index error, and the list unchanged.
    m->lb1->SetItemIndex(-1);
    EXPECT_THROW(m->mDeleteLineClick(nullptr), rtl::EListError);
    EXPECT_EQ(f.Lines().GetLine(0), "<44");
}

TEST(main_form_files, clear_resets_list_counters_and_an_open_output_file) {
    FilesFixture f;
    TMain* m = f.main;
    f.Receive("AB");
    m->SentCount = 7;
    m->ShowTxCount();
    f.graph->AddPoint(1, 2);
    ASSERT_EQ(m->RVLabel->Caption(), "(2, 0)");

    const std::string out = f.dir.File("out.txt");
    f.Answer(out, 1);
    f.Click("Outputtofile1");
    ASSERT_TRUE((m->OutputOn() != nullptr));
    m->OutputOn()->Write("old text");

    f.Click("Clearm");
    EXPECT_EQ(f.Lines().LineCount(), 1);
    EXPECT_EQ(f.Lines().LineLength(0), 0);
    EXPECT_EQ(m->RVLabel->Caption(), "(0, 0)");
    EXPECT_EQ(m->TRLabel->Caption(), "0");
    EXPECT_EQ(m->SentCount, 0u);
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 0u);
    EXPECT_EQ(f.graph->PointCount(), 0);
    // The output file is emptied and stays open for what comes next.
    EXPECT_EQ(ReadFile(out), "");
    EXPECT_TRUE((m->OutputOn() != nullptr));
    m->OutputOn()->Write("new");
    EXPECT_EQ(ReadFile(out), "new");
    EXPECT_TRUE(f.messages.empty());
}

TEST(main_form_files, save_as_text_binary_and_internal_then_load_back) {
    FilesFixture f;
    TMain* m = f.main;
    m->AddTextLine("hello", 0, 0.5, terminal::dfMSG);
    f.Receive("\x0A\x0B");
    f.Click("Crm");

    // Text: lines with prefixes; the dialog is the save dialog.
    const std::string txt = f.dir.File("list.txt");
    f.Answer(txt, 1);
    f.Click("mSaveAll");
    EXPECT_EQ(f.dialogs.back(), "Choose output file name");
    EXPECT_EQ(ReadFile(txt), "<hello\r\n<0A 0B\r\n\r\n");
    // Binary: the bytes of the data lines only.
    const std::string bin = f.dir.File("list.bin");
    f.Answer(bin, 2);
    f.Click("mSaveAll");
    EXPECT_EQ(ReadFile(bin), "\x0A\x0B");
    // Internal format: one record per line, the empty current line left out.
    const std::string cp = f.dir.File("list.cp");
    f.Answer(cp, 3);
    f.Click("mSaveAll");
    const std::string saved = ReadFile(cp);
    EXPECT_EQ(saved.substr(0, 24), "073FE0000000000000\thello");

    // Load: the list is cleared (counters too), the lines come back with
    // their times, and received data starts a line of its own.
    const double time = f.Lines().LineRecord(1).Time;
    f.Answer(cp, 0);
    f.Click("Load1");
    EXPECT_EQ(f.dialogs.back(), "Choose file");
    ASSERT_EQ(f.Lines().LineCount(), 3);
    EXPECT_EQ(f.Lines().GetLine(0), "<hello");
    EXPECT_EQ(f.Lines().LineRecord(0).Time, 0.5);
    EXPECT_EQ(f.Lines().GetLine(1), "<0A 0B");
    EXPECT_EQ(f.Lines().LineRecord(1).Time, time);
    EXPECT_EQ(m->RVLabel->Caption(), "(0, 0)");
    f.Receive("\x0C");
    EXPECT_EQ(f.Lines().GetLine(1), "<0A 0B");
    EXPECT_EQ(f.Lines().GetLine(2), "<0C");
    EXPECT_TRUE(f.messages.empty());

    // A broken line stops loading with its number; the lines before it stay.
    const std::string bad = f.dir.File("bad.cp");
    WriteFile(bad, saved.substr(0, saved.find('\n') + 1) + "1x\r\n");
    f.Answer(bad, 0);
    f.Click("Load1");
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "Wrong line format at line 2.");
    EXPECT_EQ(f.Lines().GetLine(0), "<hello");
    EXPECT_EQ(f.Lines().LineCount(), 2);

    // A cancelled dialog changes nothing.
    f.Answer("", 0);
    f.Click("Load1");
    EXPECT_EQ(f.Lines().LineCount(), 2);
}

TEST(main_form_files, a_loaded_binary_line_that_is_not_eight_digits_reports_its_text) {
    FilesFixture f;
    // Format 5 (BIN) lines: one sound, one with short and non-binary tokens.
    const std::string cp = f.dir.File("bin.cp");
    WriteFile(cp, "050000000000000000\t00000001 11111111\r\n"
                  "050000000000000000\t0101 00000002\r\n");
    f.Answer(cp, 0);
    f.Click("Load1");
    ASSERT_TRUE(f.messages.empty());
    ASSERT_EQ(f.Lines().LineCount(), 3);
    // Saving the bytes reads every line back: the bad token is named.
    const std::string bin = f.dir.File("bin.bin");
    f.Answer(bin, 2);
    f.Click("mSaveAll");
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "'0101' is not a valid binary value.");
    // So does a statistic; a line of eight binary digits that are not all
    // 0 and 1 is no number either.
    f.main->RxPanel->Lines().PutLine(1, "<00000011 00000002");
    f.Click("mCountSum");
    ASSERT_EQ(f.messages.size(), 2u);
    EXPECT_EQ(f.messages[1], "'00000002' is not a valid binary value.");
    f.main->RxPanel->Lines().PutLine(1, "<00000011");
    f.Click("mCountSum");
    ASSERT_EQ(f.messages.size(), 3u);
    EXPECT_EQ(f.messages[2], "Result is $0103\r\rData count: 3");
}

TEST(main_form_files, output_to_file_toggles_refuses_internal_format_and_shows_file_label) {
    FilesFixture f;
    TMain* m = f.main;
    f.Receive("A");
    ASSERT_EQ(m->LNumFormat->Caption(), "HEX");

    // The internal format cannot take output: nothing is created or cleared.
    const std::string cp = f.dir.File("out.cp");
    f.Answer(cp, 3);
    f.Click("Outputtofile1");
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "This file type is not supported for output.");
    EXPECT_FALSE((m->OutputOn() != nullptr));
    EXPECT_FALSE(m->Outputtofile1->Checked());
    EXPECT_FALSE(std::filesystem::exists(cp));
    EXPECT_EQ(m->RxPanel->CurLine(), "<41");

    // Binary: raw mode, the list cleared, the label reads "FILE:".
    const std::string bin = f.dir.File("out.bin");
    WriteFile(bin, "previous contents");
    f.Answer(bin, 2);
    f.Click("Outputtofile1");
    EXPECT_TRUE((m->OutputOn() != nullptr));
    EXPECT_TRUE(m->OutputOn()->Raw());
    EXPECT_TRUE(m->Outputtofile1->Checked());
    EXPECT_EQ(m->LNumFormat->Caption(), "FILE:");
    EXPECT_EQ(m->RxPanel->CurLine(), "");
    f.Receive(std::string("\x00\xFF\n", 3));
    EXPECT_EQ(ReadFile(bin), std::string("\x00\xFF\n", 3));
    EXPECT_EQ(f.Lines().LineCount(), 1);

    // Again: output is off, no dialog asked, the label shows the format.
    const std::size_t shown = f.dialogs.size();
    f.Click("Outputtofile1");
    EXPECT_EQ(f.dialogs.size(), shown);
    EXPECT_FALSE((m->OutputOn() != nullptr));
    EXPECT_FALSE(m->Outputtofile1->Checked());
    EXPECT_EQ(m->LNumFormat->Caption(), "HEX");
    f.Receive("B");
    EXPECT_EQ(m->RxPanel->CurLine(), "<42");

    // Text: the rendered lines go to the file instead of the panel.
    const std::string txt = f.dir.File("out.txt");
    f.Answer(txt, 1);
    f.Click("Outputtofile1");
    EXPECT_FALSE(m->OutputOn()->Raw());
    f.Receive("C");
    f.Click("Crm");
    f.Click("Outputtofile1");
    EXPECT_NE(ReadFile(txt).find("<43"), std::string::npos) << ReadFile(txt);
    EXPECT_EQ(f.messages.size(), 1u);
}

// Whether the menu's check mark, the label and where received data goes
// all say the same about output to a file.
void ExpectOutputShown(FilesFixture& f, bool on) {
    TMain* m = f.main;
    EXPECT_EQ((m->OutputOn() != nullptr), on);
    EXPECT_EQ(m->Outputtofile1->Checked(), on);
    EXPECT_EQ(m->LNumFormat->Caption(), on ? "FILE:" : "HEX");
}

TEST(main_form_files, output_to_a_fifo_never_waits_and_menu_label_and_data_always_agree) {
    FilesFixture f;
    TMain* m = f.main;
    vcl::Application->Title = "Vostrel";  // the caption notices are found by
    // No program reads the FIFO: refused at once by what it is; output stays
    // off and received data goes on to the list.
    const test_support::Fifo unread(f.dir.File("unread"));
    ASSERT_TRUE(unread.Made());
    f.Answer(unread.path(), 2);
    f.Click("Outputtofile1");
    EXPECT_FALSE(unread.Rescued()) << "the window waited for a reader";
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "Cannot create file \"" + unread.path() + "\". It is a pipe that no program reads.");
    ExpectOutputShown(f, false);
    f.Receive("A");
    EXPECT_EQ(m->RxPanel->CurLine(), "<41");

    // A reader there: no box, the capture is on as the menu and label say,
    // and the bytes reach the reader, not the list.
    const test_support::Fifo pipe(f.dir.File("pipe"));
    ASSERT_TRUE(pipe.Made());
    const int reader = open(pipe.path().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    f.Answer(pipe.path(), 2);
    f.Click("Outputtofile1");
    EXPECT_EQ(f.messages.size(), 1u) << f.messages.back();
    ExpectOutputShown(f, true);
    f.Receive("BC");
    char buf[16];
    EXPECT_EQ(read(reader, buf, sizeof buf), 2);
    EXPECT_EQ(f.Lines().LineCount(), 1);
    EXPECT_EQ(m->RxPanel->CurLine(), "");
    // "Clear" has nothing to empty there and keeps the capture on.
    f.Click("Clearm");
    EXPECT_EQ(f.messages.size(), 1u) << f.messages.back();
    ExpectOutputShown(f, true);

    // The reader goes: the next chunk switches output off with a notice (the
    // program is not ended by the pipe), and it goes to the list whole.
    close(reader);
    f.Receive("DE");
    ExpectOutputShown(f, false);
    EXPECT_EQ(m->RxPanel->CurLine(), "<44 45");
    auto notices = FilesFixture::Notices();
    ASSERT_EQ(notices.size(), 1u);
    const std::string notice = FilesFixture::NoticeText(notices[0]);
    EXPECT_EQ(notice.rfind("Cannot write \"" + pipe.path() + "\": Broken pipe\r\rOutput to file was switched off.", 0),
              0u)
        << notice;
    // The next Ctrl+F asks for a file again, as the unchecked entry says.
    const std::size_t asked = f.dialogs.size();
    f.Answer("", 0);
    f.Click("Outputtofile1");
    EXPECT_EQ(f.dialogs.size(), asked + 1);
    ExpectOutputShown(f, false);
    EXPECT_FALSE(pipe.Rescued());
}

TEST(main_form_files, saving_onto_the_output_file_is_refused_and_the_capture_goes_on) {
    FilesFixture f;
    f.graph->SetVisible(true);
    const std::string capture = f.dir.File("capture.bin");
    f.OutputTo(capture, 2);
    f.Receive("AB");
    const std::string link = f.dir.File("link.bin");
    ASSERT_EQ(symlink(capture.c_str(), link.c_str()), 0);
    // The list's Save as, by the file's name or another one for it, and the
    // graph window's save of its points: each refused with a box that names
    // it as the output file.
    for (const std::string& name : {capture, link}) {
        f.Answer(name, 1);
        f.Click("mSaveAll");
    }
    f.graph->AddPoint(1.0, 2.0);
    f.Answer(capture, 0);
    ASSERT_TRUE(test_support::ClickMenu(f.graph, "mSaveAs"));
    ASSERT_EQ(f.messages.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(f.messages[i], "Cannot write \"" + (i == 1 ? link : capture) +
                                     "\": it is the output file that Output to file is writing.");
    // The capture goes on into the file that keeps its name.
    f.Receive("CD");
    ExpectOutputShown(f, true);
    EXPECT_EQ(ReadFile(capture), "ABCD");
    f.Click("Outputtofile1");
    f.Answer(capture, 1);
    f.Click("mSaveAll");
    EXPECT_EQ(f.messages.size(), 3u);
    EXPECT_NE(ReadFile(capture), "ABCD") << "once output is off, the file is the user's to replace";
}

TEST(main_form_files, switching_output_off_ends_the_line_that_went_to_the_file) {
    FilesFixture f;
    TMain* m = f.main;
    const std::string txt = f.dir.File("out.txt");
    f.Answer(txt, 1);
    f.Click("Outputtofile1");
    ASSERT_TRUE((m->OutputOn() != nullptr));
    std::string bytes;
    for (int b = 0; b < 30; ++b) bytes.push_back(static_cast<char>(b));
    f.Receive(bytes);
    f.Click("Outputtofile1");
    ASSERT_FALSE((m->OutputOn() != nullptr));
    const std::string in_file = ReadFile(txt);
    EXPECT_NE(in_file.find("1C 1D"), std::string::npos) << in_file;

    // The bytes after it start a line of their own, stamped when they came;
    // nothing of the file's last line shows again in front of them.
    const double before = m->CurrentTime();
    f.Receive("\xAA\xBB");
    ASSERT_EQ(f.Lines().LineCount(), 1);
    EXPECT_EQ(f.Lines().GetLine(0), "<AA BB");
    EXPECT_GE(f.Lines().LineRecord(0).Time, before);
    EXPECT_EQ(ReadFile(txt), in_file);
}

// The bytes the list's lines stand for, in order.
std::string ListBytes(const terminal::TLineStore& lines) {
    std::string bytes;
    for (int i = 0; i < lines.LineCount(); ++i) bytes += lines.LineBytes(i);
    return bytes;
}

std::size_t FolderEntries(const std::string& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

// Bytes 0, 1, 2, ... of the given length, so a misplaced or lost stretch shows.
std::string Pattern(std::size_t length, std::size_t from = 0) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((from + i) * 7 % 251);
    return bytes;
}

TEST(main_form_files, a_save_on_a_full_disk_keeps_the_old_file_and_says_which_file_and_why) {
    FilesFixture f;
    for (int k = 0; k < 40; ++k) f.Receive(Pattern(1000, k * 1000));
    const std::string good = f.dir.File("good.cp");
    const std::string old = Pattern(82240);
    WriteFile(good, old);
    const std::size_t entries = FolderEntries(f.dir.path());
    // Text, binary and internal format: the disk is full at the first write.
    for (int filter = 1; filter <= 3; ++filter) {
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(1);
        f.Answer(good, filter);
        f.Click("mSaveAll");
        ASSERT_EQ(f.messages.size(), static_cast<std::size_t>(filter));
        EXPECT_EQ(f.messages.back(), "Cannot write \"" + good + "\": No space left on device.");
        EXPECT_EQ(ReadFile(good), old) << "filter " << filter;
        EXPECT_EQ(FolderEntries(f.dir.path()), entries) << "a temporary file was left behind";
    }
    // A line that no longer reads as numbers stops a binary save before the
    // old file is touched.
    const int last = f.Lines().LineCount() - 1;
    f.main->RxPanel->Lines().PutLine(last - 1, "<zz");
    f.Answer(good, 2);
    f.Click("mSaveAll");
    EXPECT_EQ(f.messages.size(), 4u);
    EXPECT_EQ(ReadFile(good), old);
    // With room, the save replaces the file.
    f.main->RxPanel->Lines().DeleteLine(last - 1);
    f.Answer(good, 2);
    f.Click("mSaveAll");
    EXPECT_EQ(ReadFile(good), ListBytes(f.Lines()));
    EXPECT_EQ(f.messages.size(), 4u);
}

TEST(main_form_files, saving_the_list_onto_a_pipe_neither_ends_the_program_nor_freezes_the_window) {
    FilesFixture f;
    TMain* m = f.main;
    m->Show();
    f.Receive(Pattern(100000));  // the device sends 100,000 bytes
    const std::string fifo = f.dir.File("pipe.bin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    {
        // `head -c 1000 < pipe.bin`: it takes a little and leaves while the
        // save writes. The save fails by name; the program goes on.
        test_support::FifoReader head(fifo);
        ASSERT_TRUE(head.Open());
        head.LeaveWhenFull(1000);
        f.Answer(fifo, 2);
        f.Click("mSaveAll");
        EXPECT_TRUE(head.Left());
        ASSERT_EQ(f.messages.size(), 1u);
        EXPECT_EQ(f.messages.back(), "Cannot write \"" + fifo + "\": Broken pipe.");
    }

    // A reader that holds the pipe and takes nothing: the window answers
    // while the save waits (a toolkit timer ticks), and after a while the
    // save fails naming the file.
    setenv("VOSTREL_TEST_WRITE_STALL_MS", "300", 1);
    test_support::FifoReader holder(fifo);
    ASSERT_TRUE(holder.Open());
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    f.Answer(fifo, 2);
    f.Click("mSaveAll");
    EXPECT_TRUE(ticked) << "the window was held while the save waited";
    ASSERT_EQ(f.messages.size(), 2u);
    EXPECT_EQ(f.messages.back(),
              "Cannot write \"" + fifo + "\": the program or device reading it stopped taking data.");
    EXPECT_TRUE(m->Visible());

    // A close request while such a save waits for a slow reader: the
    // windows go at once, the save is written on until the reader has it
    // all (as output files are once the window has gone), no box comes,
    // and the window then closes as it always does, settings saved. The
    // reader begins to take at the save's first turn of waiting, which
    // handles the close: a reader that took from the start could take it
    // all before the save ever waited long enough for a turn, and the
    // close would come after the save.
    setenv("VOSTREL_TEST_WRITE_STALL_MS", "20000", 1);
    holder.Take();
    const std::string ini = f.ini;
    std::filesystem::remove(ini);
    QCoreApplication::postEvent(m->Widget(), new QCloseEvent);
    f.Answer(fifo, 2);
    const std::function<void()> turn = vcl::Application->OnWriteWaitTurn;
    int turns = 0;
    vcl::Application->OnWriteWaitTurn = [&] {
        if (turns++ == 0) holder.TakeEvery(20000, std::chrono::milliseconds(20));
        if (turn) turn();
    };
    f.Click("mSaveAll");
    vcl::Application->OnWriteWaitTurn = turn;
    unsetenv("VOSTREL_TEST_WRITE_STALL_MS");
    ASSERT_GT(turns, 0) << "the save never waited for the reader";
    EXPECT_FALSE(m->Visible()) << "the window stayed while the save was finished";
    EXPECT_EQ(f.messages.size(), 2u) << f.messages.back();
    EXPECT_TRUE(test_support::PumpUntil([&] { return std::filesystem::exists(ini); }))
        << "the settings were not saved at the close";
    holder.StopTaking();
    const std::string got = holder.Taken() + holder.Take();
    EXPECT_EQ(got.size(), Pattern(100000).size()) << "the reader did not get the whole save";
    EXPECT_TRUE(got == Pattern(100000)) << "the reader got other bytes";
}

TEST(main_form_files, output_to_a_file_that_fails_is_switched_off_and_nothing_received_is_lost) {
    FilesFixture f;
    TMain* m = f.main;
    vcl::Application->Title = "Vostrel";  // the caption notices are found by
    const std::string bin = f.dir.File("out.bin");
    f.OutputTo(bin, 2);
    ASSERT_TRUE(m->OutputOn()->Raw());
    f.Receive(Pattern(100));
    {
        // Raw mode: the disk is full when the second chunk comes.
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(1);
        f.Receive(Pattern(50, 100));
        f.Receive(Pattern(30, 150));
        EXPECT_EQ(faults.Writes(), 1) << "output went on writing after its first failure";
    }
    EXPECT_EQ(ReadFile(bin), Pattern(100));
    EXPECT_EQ(ListBytes(f.Lines()), Pattern(80, 100));
    EXPECT_FALSE((m->OutputOn() != nullptr));
    EXPECT_FALSE(m->Outputtofile1->Checked());
    EXPECT_EQ(m->LNumFormat->Caption(), "HEX");
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 180u);
    auto notices = FilesFixture::Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(FilesFixture::NoticeText(notices[0]),
              "Cannot write \"" + bin + "\": No space left on device\r\rOutput to file was switched off. "
              "What was received from then on is shown in the list.");
    EXPECT_TRUE(f.messages.empty()) << "a modal box in the receive path";
}

// The bytes of a HEX text output file: every whole token after a line's
// mark; a token the file got in part is none of its bytes.
std::string HexFileBytes(const std::string& Text) {
    std::string bytes;
    std::size_t at = 0;
    while (at < Text.size()) {
        std::size_t end = Text.find('\r', at);
        if (end == std::string::npos) end = Text.size();
        const std::string line = Text.substr(at, end - at);
        at = end + 1;
        const std::size_t mark = line.find('<');
        if (mark == std::string::npos) continue;
        for (std::size_t k = mark + 1; k + 2 <= line.size(); k += 3)
            bytes.push_back(static_cast<char>(std::stoi(line.substr(k, 2), nullptr, 16)));
    }
    return bytes;
}

TEST(main_form_files, text_output_that_fails_leaves_the_list_exactly_what_the_file_never_took) {
    FilesFixture f;
    TMain* m = f.main;
    vcl::Application->Title = "Vostrel";
    f.graph->SetVisible(true);
    const std::string txt = f.dir.File("out.txt");
    f.OutputTo(txt, 1);
    ASSERT_FALSE(m->OutputOn()->Raw());
    f.Receive("\x01\x02");
    const std::string before = ReadFile(txt);
    EXPECT_NE(before.find("<01 02"), std::string::npos) << before;
    {
        // The file takes one more piece of the next chunk, then the disk is full.
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(2);
        // An error line after it, before the loop's turn settles the failure.
        f.ReceiveUnsettled(Pattern(200));
        m->cp1ReceiveError(m->cp1, 0x2);
        f.Settle();
        EXPECT_EQ(faults.Writes(), 2) << "output went on writing after its first failure";
    }
    EXPECT_FALSE(m->OutputOn());
    EXPECT_FALSE(m->Outputtofile1->Checked());
    EXPECT_EQ(m->LNumFormat->Caption(), "HEX");
    // What the file took of the chunk is there, the rest is in the list,
    // then the error line; each byte once, and the graph has each value
    // once.
    const std::string in_file = HexFileBytes(ReadFile(txt));
    const std::string listed = ListBytes(f.Lines());
    ASSERT_GT(in_file.size(), 2u) << "the file took none of the chunk";
    EXPECT_EQ(in_file + listed, "\x01\x02" + Pattern(200));
    ASSERT_GE(f.Lines().LineCount(), 3);
    EXPECT_EQ(f.Lines().GetLine(f.Lines().LineCount() - 2), "<= OverRun Err =");
    EXPECT_EQ(f.graph->PointCount(), 202);
    EXPECT_EQ(FilesFixture::Notices().size(), 1u);
    EXPECT_TRUE(f.messages.empty());
}

// The same in a word format, with a low byte the port sent before the chunk
// waiting for its pair: the chunk shown again is paired as it would be with
// output off, that low byte included.
// A line error that the text output file refuses is kept as data is: it
// comes back to the list, once, in its place after the data before it;
// whether the file refuses it at once (the disk full) or it waits behind
// what a pipe has not taken and the pipe's reader leaves.
TEST(main_form_files, a_line_error_the_text_output_refuses_comes_back_to_the_list_in_its_place) {
    for (const bool pipe : {false, true}) {
        SCOPED_TRACE(pipe ? "behind a pipe's backlog, the reader leaving" : "refused by a full disk");
        FilesFixture f;
        TMain* m = f.main;
        vcl::Application->Title = "Vostrel";
        const test_support::Fifo fifo(f.dir.File("pipe"));
        std::unique_ptr<test_support::FifoReader> reader;
        const std::string file = pipe ? fifo.path() : f.dir.File("out.txt");
        if (pipe) {
            ASSERT_TRUE(fifo.Made());
            reader = std::make_unique<test_support::FifoReader>(fifo.path());
            ASSERT_TRUE(reader->SetCapacity(4096));
        }
        f.OutputTo(file, 1);
        // Two chunks, a line error between them: a pipe that holds a page
        // takes the first only in part.
        const std::string first = Pattern(pipe ? 3000 : 20), second = Pattern(10, 3000);
        f.Receive(first);
        {
            rtl::TInjectedFileFaults faults;
            if (!pipe) faults.FailWritesFrom(1);
            m->cp1ReceiveError(m->cp1, 0x2);
            f.Receive(second);
        }
        std::string piped;
        if (pipe) {
            ASSERT_TRUE(m->OutputOn() && m->OutputOn()->HasBacklog()) << "the pipe took everything";
            piped = reader->Take();
            reader.reset();  // the reader leaves
            ASSERT_TRUE(test_support::PumpUntil([&] { return !m->OutputOn() && m->RxQueue.Empty(); }));
        }
        const std::string in_file = HexFileBytes(pipe ? piped : ReadFile(file));
        EXPECT_EQ(in_file + ListBytes(f.Lines()), first + second);
        EXPECT_EQ((pipe ? piped : ReadFile(file)).find("Err"), std::string::npos) << "the file took the line";
        // The line once, after the first chunk's bytes and before the second's.
        int at = -1;
        std::string before;
        for (int i = 0; i < f.Lines().LineCount(); ++i) {
            if (f.Lines().GetLine(i) == "<= OverRun Err =") {
                EXPECT_EQ(at, -1) << "the line came back twice";
                at = i;
            }
            if (at < 0) before += f.Lines().LineBytes(i);
        }
        ASSERT_GE(at, 0) << "the line the file refused is nowhere";
        EXPECT_EQ(in_file + before, first);
        EXPECT_EQ(FilesFixture::Notices().size(), 1u);
        EXPECT_TRUE(f.messages.empty());
    }
}

TEST(main_form_files, text_output_that_fails_in_a_word_format_pairs_the_chunk_as_without_output) {
    FilesFixture f;
    TMain* m = f.main;
    const std::string txt = f.dir.File("out.txt");
    m->ASCII1Click(m->pmOutput->Items()->Items(terminal::dfHW));
    f.OutputTo(txt, 1);
    f.Receive("\x07");  // a low byte: nothing shows yet
    {
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(2);
        f.Receive(Pattern(201));
    }
    EXPECT_FALSE((m->OutputOn() != nullptr));
    // 0x07 and the 201 bytes make 101 words, in the list whole.
    EXPECT_EQ(ListBytes(f.Lines()), "\x07" + Pattern(201));
}

// The bytes a text output file holds, read back in Format: each line's
// text after its mark, decoded as the list decodes its lines. Whole: the
// text ends after a whole token; otherwise its last token, which the file
// may have got in part, is left out.
std::string TextFileBytes(std::string Text, terminal::TDataFormat Format, bool Whole) {
    if (!Whole) {
        if (Format == terminal::dfASC) {
            // A non-visible code is a mark and two digits.
            const std::size_t mark = Text.rfind(terminal::NonVisibleMark);
            if (mark != std::string::npos && Text.size() - mark < 3) Text.erase(mark);
        } else if (!Text.empty() && Text.back() != ' ' && Text.back() != '\r') {
            Text.erase(Text.find_last_of(" <\r") + 1);
        }
    }
    std::string bytes;
    std::size_t at = 0;
    while (at < Text.size()) {
        std::size_t end = Text.find('\r', at);
        if (end == std::string::npos) end = Text.size();
        const std::string line = Text.substr(at, end - at);
        at = end + 1;
        const std::size_t mark = line.find('<');
        if (mark != std::string::npos) bytes += terminal::DecodeLineBytes(Format, line.substr(mark + 1));
    }
    return bytes;
}

// Text output onto a pipe whose reader takes a few thousand bytes and
// stops, in every format: once the output has failed, each byte the port
// read is once in the pipe or once in the list, and the list pairs the
// words of what the pipe never got as they were read, wherever the pipe
// stopped within a token (a word's token cut after some of its digits is
// none of its two bytes).
TEST(main_form_files, text_output_onto_a_pipe_that_stops_leaves_each_byte_once_in_every_format) {
    setenv("VOSTREL_TEST_WRITE_STALL_MS", "100", 1);
    // Chunks of 2 to 12 bytes, then five of 4,000.
    std::vector<std::string> chunks;
    std::size_t from = 0;
    for (std::size_t n = 2; n <= 12; ++n, from += n) chunks.push_back(Pattern(n, from));
    for (int k = 0; k < 5; ++k, from += 4000) chunks.push_back(Pattern(4000, from));
    std::string sent;
    for (const std::string& c : chunks) sent += c;
    for (const terminal::TDataFormat format :
         {terminal::dfHEX, terminal::dfDEC, terminal::dfDW, terminal::dfHW, terminal::dfASC, terminal::dfBIN}) {
        // A pipe takes a token written on its own whole or not at all, and
        // what waits behind a full pipe (more than a page of it) a page at a
        // time: a line error of a chosen length first (12, 13, 14, 15, 22
        // and 11 characters) makes the place the pipe stops at fall
        // everywhere within a token of up to six characters. (ASC writes
        // about a character a byte: its reader takes less.)
        const std::size_t takes = format == terminal::dfASC ? 1000 : 5000;
        for (const std::int32_t error : {0x8000, 0x10, 0x4, 0x2, 0x6, 0x400}) {
            SCOPED_TRACE(std::string(terminal::DataFormatName(format)) + " after error " + std::to_string(error));
            FilesFixture f;
            TMain* m = f.main;
            m->mShowASCIInonvisiblecodes->SetChecked(true);
            m->ASCII1Click(m->pmOutput->Items()->Items(format));
            const test_support::Fifo pipe(f.dir.File("pipe"));
            ASSERT_TRUE(pipe.Made());
            test_support::FifoReader reader(pipe.path());
            ASSERT_TRUE(reader.SetCapacity(4096));
            f.OutputTo(pipe.path(), 1);
            m->cp1ReceiveError(m->cp1, error);
            for (const std::string& c : chunks) f.Receive(c);
            std::string piped;
            ASSERT_TRUE(test_support::PumpUntil([&] {
                piped += reader.TakeSome(takes - piped.size());
                return piped.size() == takes;
            }));
            ASSERT_TRUE(test_support::PumpUntil([&] { return !m->OutputOn() && m->RxQueue.Empty(); }))
                << "the reader that stopped was not given up";
            piped += reader.Take();
            const std::string listed = ListBytes(f.Lines());
            const std::string strict = TextFileBytes(piped, format, false) + listed;
            // (A token the pipe got in part may not read as a number.)
            std::string whole;
            try {
                whole = TextFileBytes(piped, format, true) + listed;
            } catch (const rtl::EConvertError&) {
            }
            EXPECT_TRUE(strict == sent || whole == sent)
                << "pipe and list hold " << strict.size() << " or " << whole.size() << " bytes of " << sent.size()
                << "; the pipe's text ends with \"" << piped.substr(piped.size() - std::min<std::size_t>(piped.size(), 20))
                << "\"";
            EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, sent.size());
        }
    }
    unsetenv("VOSTREL_TEST_WRITE_STALL_MS");
}

TEST(main_form_files, text_output_failing_outside_a_chunk_is_told_and_later_chunks_show_once) {
    FilesFixture f;
    TMain* m = f.main;
    vcl::Application->Title = "Vostrel";
    const std::string txt = f.dir.File("out.txt");
    f.OutputTo(txt, 1);
    // A message line goes to the list on a line of its own, the file's line
    // left alone; a new line the user asks for ends the line in the file,
    // and that write fails.
    m->AddTextLine("port opened", 0, 0.5, terminal::dfMSG);
    m->AddTextLine("port closed", 0, 0.5, terminal::dfMSG);
    const int last = f.Lines().LineCount() - 1;
    EXPECT_EQ(f.Lines().LineLength(last), 0u);
    EXPECT_NE(f.Lines().GetLine(last - 2).find("port opened"), std::string::npos);
    EXPECT_NE(f.Lines().GetLine(last - 1).find("port closed"), std::string::npos);
    {
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(1);
        f.Click("Crm");
        EXPECT_EQ(faults.Writes(), 1);
    }
    f.Settle();
    EXPECT_FALSE((m->OutputOn() != nullptr));
    EXPECT_FALSE(m->Outputtofile1->Checked()) << "output failed without being switched off";
    EXPECT_EQ(FilesFixture::Notices().size(), 1u) << "the failure was not told";
    // The next chunk goes to the list, once.
    f.Receive(Pattern(40));
    EXPECT_EQ(ListBytes(f.Lines()), Pattern(40));
    EXPECT_EQ(FilesFixture::Notices().size(), 1u);
    EXPECT_TRUE(f.messages.empty());
}

// Whatever writes to the text output file, a write it refuses is told as
// every failed output is: a Load clears the list and the file and ends with
// a fresh line, written to the file last. Should that last write fail, the
// notice comes, output is off, and the next chunk goes to the list, once.
TEST(main_form_files, a_load_whose_last_write_to_the_output_fails_switches_output_off_with_its_notice) {
    FilesFixture f;
    TMain* m = f.main;
    vcl::Application->Title = "Vostrel";
    const std::string cp = f.ListFileOf("AB");
    const std::string txt = f.dir.File("out.txt");
    f.OutputTo(txt, 1);
    // How many writes a load makes into the file: the last is to fail.
    int writes = 0;
    {
        rtl::TInjectedFileFaults count;
        f.Answer(cp, 0);
        f.Click("Load1");
        writes = count.Writes();
    }
    f.Settle();
    ASSERT_GE(writes, 1);
    ASSERT_TRUE(m->OutputOn() != nullptr);
    ASSERT_TRUE(FilesFixture::Notices().empty());
    {
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(writes);
        f.Answer(cp, 0);
        f.Click("Load1");
        EXPECT_EQ(faults.Writes(), writes);
    }
    f.Settle();
    EXPECT_EQ(m->OutputOn(), nullptr);
    EXPECT_FALSE(m->Outputtofile1->Checked()) << "output failed, and the menu still says it is on";
    EXPECT_EQ(m->LNumFormat->Caption(), "HEX");
    const auto notices = FilesFixture::Notices();
    ASSERT_EQ(notices.size(), 1u) << "the failure was not told";
    EXPECT_EQ(FilesFixture::NoticeText(notices[0]).rfind("Cannot write \"" + txt + "\": No space left on device", 0),
              0u);
    // The line loaded last stays as it was: received data starts a line of
    // its own after it.
    f.Receive("C");
    EXPECT_EQ(f.Lines().GetLine(f.Lines().LineCount() - 1), "<43");
    EXPECT_EQ(ListBytes(f.Lines()), "ABC");
    EXPECT_TRUE(f.messages.empty());
}

// A write to the text output fails part-way through a chunk, and before the
// loop's next turn the user (or the program) writes to the window: whatever
// writes, the failure is settled first, so that what the file never took
// shows in the list ahead of what is written after it, and a Clear (also
// the one a Load or a new output makes) clears it with the rest. From the
// failure on, the menu shows output off, and a click on it opens the file
// dialog.
TEST(main_form_files, a_failed_output_is_settled_before_anything_the_window_writes_after_it) {
    const std::string rest_of = Pattern(200);
    struct Writer {
        const char* name;
        // Writes to the window; then checks what the list (and a file it
        // saved) holds, given the bytes the failed file never took.
        std::function<void(FilesFixture&, const std::string& cp)> write;
        std::function<void(FilesFixture&, const std::string& rest)> check;
    };
    auto bytes_before = [](FilesFixture& f, const std::string& text) {
        // The list's bytes on the lines before the one holding Text.
        std::string bytes;
        for (int i = 0; i < f.Lines().LineCount(); ++i) {
            if (f.Lines().GetLine(i).find(text) != std::string::npos) return bytes;
            bytes += f.Lines().LineBytes(i);
        }
        ADD_FAILURE() << "no line holds " << text;
        return bytes;
    };
    auto cleared = [](FilesFixture& f, const std::string&) {
        EXPECT_EQ(ListBytes(f.Lines()), "") << "the rest of the failed chunk shows after the clear";
        EXPECT_EQ(f.main->PortSlots[terminal::PortSlotMain].RxCount, 0u);
    };
    const std::vector<Writer> writers = {
        {"Clear", [](FilesFixture& f, const std::string&) { f.Click("Clearm"); }, cleared},
        {"New Line", [](FilesFixture& f, const std::string&) { f.Click("Crm"); },
         [](FilesFixture& f, const std::string& rest) {
             EXPECT_EQ(ListBytes(f.Lines()), rest);
             EXPECT_EQ(f.Lines().LineLength(f.Lines().LineCount() - 1), 0u)
                 << "the new line came before the rest of the failed chunk";
         }},
        {"Load",
         [](FilesFixture& f, const std::string& cp) {
             f.Answer(cp, 0);
             f.Click("Load1");
         },
         [](FilesFixture& f, const std::string&) { EXPECT_EQ(ListBytes(f.Lines()), "LOADED"); }},
        {"the echo of sent data",
         [](FilesFixture& f, const std::string&) { f.main->ShowData("xyz", 3, 2); },
         [](FilesFixture& f, const std::string& rest) { EXPECT_EQ(ListBytes(f.Lines()), rest + "xyz"); }},
        {"an information line",
         [](FilesFixture& f, const std::string&) { f.main->AddTextLine("port note", 0, 0, terminal::dfMSG); },
         [&](FilesFixture& f, const std::string& rest) { EXPECT_EQ(bytes_before(f, "port note"), rest); }},
        {"Output to file",
         [](FilesFixture& f, const std::string&) {
             f.Answer(f.dir.File("second.txt"), 1);
             f.Click("Outputtofile1");
         },
         [&](FilesFixture& f, const std::string& rest) {
             // (The save of the list file and the first output asked for one each.)
             EXPECT_EQ(f.dialogs.size(), 3u) << "the click switched the failed output off instead of opening the dialog";
             EXPECT_TRUE(f.main->OutputOn() != nullptr);
             cleared(f, rest);
         }},
        {"Save as",
         [](FilesFixture& f, const std::string&) {
             f.Answer(f.dir.File("saved.bin"), 2);
             f.Click("mSaveAll");
         },
         [](FilesFixture& f, const std::string& rest) { EXPECT_EQ(ReadFile(f.dir.File("saved.bin")), rest); }},
    };
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.name);
        FilesFixture f;
        TMain* m = f.main;
        vcl::Application->Title = "Vostrel";
        const std::string cp = f.ListFileOf("LOADED");
        const std::string txt = f.dir.File("out.txt");
        f.OutputTo(txt, 1);
        f.Receive("\x01\x02");
        {
            // The file takes one more piece of the chunk, then the disk is full.
            rtl::TInjectedFileFaults faults;
            faults.FailWritesFrom(2);
            f.ReceiveUnsettled(rest_of);
        }
        EXPECT_FALSE(m->Outputtofile1->Checked()) << "output is off, and the menu says it is on";
        EXPECT_EQ(m->LNumFormat->Caption(), "HEX");
        const std::string in_file = HexFileBytes(ReadFile(txt));
        ASSERT_GT(in_file.size(), 2u);
        ASSERT_LT(in_file.size(), 202u);
        const std::string rest = rest_of.substr(in_file.size() - 2);
        w.write(f, cp);
        f.Settle();
        w.check(f, rest);
        EXPECT_EQ(FilesFixture::Notices().size(), 1u) << "the failure was not told once";
        EXPECT_TRUE(f.messages.empty());
    }
}

// The close hands on what the port read and the window had not shown yet
// (300 bytes in two chunks): should the output file refuse it then (the
// disk full), the window is going and its list with it, so standard error
// names the file and the bytes it never got, as text or as binary.
TEST(main_form_files, a_failure_while_the_close_hands_data_on_is_told_on_standard_error) {
    for (const int filter : {1, 2}) {
        SCOPED_TRACE(filter == 1 ? "text" : "binary");
        FilesFixture f;
        TMain* m = f.main;
        vcl::Application->Title = "Vostrel";
        const std::string out = f.dir.File(filter == 1 ? "out.txt" : "out.bin");
        f.OutputTo(out, filter);
        f.Receive("\x01\x02");
        // Read, not handed on yet.
        for (const std::string& chunk : {Pattern(100), Pattern(200, 100)})
            m->cp1->OnReceiveData(m->cp1, chunk.data(), static_cast<std::uint32_t>(chunk.size()));
        ASSERT_FALSE(m->RxQueue.Empty());
        ::testing::internal::CaptureStderr();
        {
            rtl::TInjectedFileFaults faults;
            faults.FailWritesFrom(1);
            m->Close();
        }
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(errors, "vostrel: 300 bytes of data for \"" + out + "\" were not written: Cannot write \"" + out +
                              "\": No space left on device\n");
        EXPECT_TRUE(FilesFixture::Notices().empty()) << "a notice that goes with the window";
        // (The settings file cannot be written either: that box is the
        // close's own.)
        for (const std::string& message : f.messages) EXPECT_EQ(message.find(out), std::string::npos) << message;
    }
}

TEST(main_form_files, raw_output_on_a_really_full_disk_keeps_a_true_prefix_and_shows_the_rest_once) {
    test_support::SmallTmpfs disk(64 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << "no private tmpfs can be mounted here";
    FilesFixture f;
    TMain* m = f.main;
    const std::string bin = disk.File("capture.bin");
    f.OutputTo(bin, 2);
    constexpr std::size_t kChunk = 8192, kChunks = 16;
    const std::string data = Pattern(kChunk * kChunks);
    for (std::size_t k = 0; k < kChunks; ++k) f.Receive(data.substr(k * kChunk, kChunk));
    EXPECT_FALSE((m->OutputOn() != nullptr));
    const std::string in_file = ReadFile(bin);
    const std::string shown = ListBytes(f.Lines());
    ASSERT_FALSE(shown.empty());
    // The file holds a true prefix; the list holds every byte the file
    // never took, from the middle of the chunk it failed on: together every
    // byte, each once.
    EXPECT_EQ(in_file + shown, data);
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, data.size());
}

TEST(main_form_files, a_load_refused_at_its_first_line_or_unreadable_changes_nothing) {
    FilesFixture f;
    TMain* m = f.main;
    // A raw capture going on: the file must keep what it took.
    const std::string capture = f.dir.File("capture.bin");
    f.OutputTo(capture, 2);
    f.Receive(Pattern(5000));
    ASSERT_EQ(ReadFile(capture), Pattern(5000));
    m->AddTextLine("port opened", 0, 0.5, terminal::dfMSG);
    f.graph->AddPoint(1, 2);
    const std::vector<std::string> lines = {"<port opened", ""};
    auto texts = [&] {
        std::vector<std::string> out;
        for (int i = 0; i < f.Lines().LineCount(); ++i) out.push_back(f.Lines().GetLine(i));
        return out;
    };
    ASSERT_EQ(texts(), lines);
    const int points = f.graph->PointCount();

    const std::string bad = f.dir.File("bad.cp");
    WriteFile(bad, "not a list\r\n013FE0000000000000\t01\r\n");
    // A FIFO or a device is no list: refused by its name at once (opening a
    // FIFO would wait for a writer, and the window with it).
    const test_support::Fifo fifo(f.dir.File("pipe.cp"));
    ASSERT_TRUE(fifo.Made());
    const std::string notRegular = "\": it is not a regular file (a folder, a device or a pipe)";
    const std::pair<std::string, std::string> refused[] = {
        {fifo.path(), "Cannot read \"" + fifo.path() + notRegular},
        {"/dev/zero", "Cannot read \"/dev/zero" + notRegular},
        {bad, "Wrong line format at line 1."},
        {"/proc/self/mem", "Cannot read \"/proc/self/mem\": Input/output error."},
        {f.dir.File("missing.cp"),
         "Cannot open file \"" + f.dir.File("missing.cp") + "\". No such file or directory."},
    };
    for (const auto& [name, message] : refused) {
        f.Answer(name, 0);
        f.Click("Load1");
        ASSERT_FALSE(f.messages.empty()) << name;
        EXPECT_EQ(f.messages.back(), message);
        EXPECT_EQ(texts(), lines) << name;
        EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 5000u) << name;
        EXPECT_EQ(f.graph->PointCount(), points) << name;
        EXPECT_TRUE((m->OutputOn() != nullptr)) << name;
        EXPECT_EQ(ReadFile(capture), Pattern(5000)) << name;
    }
    EXPECT_FALSE(fifo.Rescued());
    EXPECT_TRUE(fifo.StillFifo());
    // A file that fails at a later line is loaded up to it, over a cleared list.
    WriteFile(bad, "013FE0000000000000\t0A\r\nbroken\r\n");
    f.Answer(bad, 0);
    f.Click("Load1");
    EXPECT_EQ(f.messages.back(), "Wrong line format at line 2.");
    EXPECT_EQ(texts(), (std::vector<std::string>{"<0A", ""}));
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 0u);
    EXPECT_EQ(f.graph->PointCount(), 0);
    EXPECT_EQ(ReadFile(capture), "");
}

TEST(main_form_files, file_commands_on_a_closed_port_say_so_before_asking_for_a_file) {
    FilesFixture f;
    TMain* m = f.main;
    ASSERT_FALSE(m->cp1->Connected());
    const std::string file = f.dir.File("data.bin");
    WriteFile(file, "ABC");
    f.Answer(file, 0);
    for (const char* entry :
         {"SendASCIIHEXFile1", "SendSelflog1", "SendBINFile1", "mSendBinaryFileWithTags"}) {
        f.messages.clear();
        f.Click(entry);
        ASSERT_EQ(f.messages.size(), 1u) << entry;
        EXPECT_EQ(f.messages[0], "Port is not connected.") << entry;
    }
    EXPECT_TRUE(f.dialogs.empty());
    // The raw sender itself refuses too, and leaves the controls alone.
    EXPECT_THROW(m->SendRaw("A", 1, true), rtl::Exception);
    EXPECT_THROW(m->SendBinaryFile(file, false), rtl::Exception);
    EXPECT_THROW(m->SendBinaryFile(file, true), rtl::Exception);
    EXPECT_TRUE(m->TransmitEnabled);
    EXPECT_EQ(m->Transb->Caption(), "Transmit");
    EXPECT_TRUE(m->BTrArrow->Enabled());
    EXPECT_EQ(m->SentCount, 0u);
}

// A foreign port that takes at most Room bytes a call (all when negative).
class TTakingFrame : public ports::TfrmForP {
public:
    TTakingFrame() : TfrmForP(nullptr, "TTakingPort") {}
    std::uint8_t GetParam(int, std::string&, bool) override { return 0; }
    void SetParam(int, const std::string&) override {}
    void SetActiveLook(bool) override {}
};
class TTakingPort : public ports::TForeignPort {
public:
    TTakingPort() : TForeignPort(300, nullptr, std::make_unique<TTakingFrame>()) {}
    void SetActive(bool Value) override { SetActiveFlag(Value); }
    int Send(const void* Buf, int Len) override {
        const int n = Room < 0 ? Len : std::min(Len, Room);
        Taken.append(static_cast<const char*>(Buf), static_cast<std::size_t>(n));
        return n;
    }
    std::string Taken;
    int Room = -1;
};

TEST(main_form_files, files_go_out_of_an_active_foreign_port_whole_or_stop_saying_how_far) {
    FilesFixture f;
    TMain* m = f.main;
    auto owned = std::make_unique<TTakingPort>();
    TTakingPort* port = owned.get();
    m->ForeignPort = std::move(owned);
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
    const std::string file = f.dir.File("big.bin");
    WriteFile(file, big);
    f.Answer(file, 0);

    // Inactive: refused before any dialog.
    f.Click("SendBINFile1");
    EXPECT_EQ(f.messages, std::vector<std::string>{"Port is not connected."});
    EXPECT_TRUE(f.dialogs.empty());

    // Active: every byte, counted, never logged in the panel.
    port->SetActive(true);
    f.Receive("A");
    f.Click("SendBINFile1");
    EXPECT_EQ(f.messages.size(), 1u);
    EXPECT_TRUE(port->Taken == big);
    EXPECT_EQ(m->SentCount, big.size());
    EXPECT_EQ(m->TRLabel->Caption(), "200000");
    EXPECT_EQ(f.Lines().LineCount(), 1);
    EXPECT_EQ(m->RxPanel->CurLine(), "<41");
    EXPECT_TRUE(m->TransmitEnabled);

    // A transport that takes only part of a write: the transfer stops there
    // and says how far it got (the port is open: "not connected" would be
    // wrong); what went out is counted.
    port->Taken.clear();
    port->Room = 1000;
    f.Click("SendBINFile1");
    ASSERT_EQ(f.messages.size(), 2u);
    EXPECT_EQ(f.messages[1], "File sending stopped after 1000 of 200000 bytes.");
    EXPECT_EQ(port->Taken, big.substr(0, 1000));
    EXPECT_EQ(m->SentCount, big.size() + 1000);
    EXPECT_TRUE(m->TransmitEnabled);
    m->ForeignPort.reset();
}

}  // namespace
