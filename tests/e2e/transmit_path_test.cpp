// The transmit path end to end: a pseudo-terminal plays the device on the
// main port, the test types into the transmit box and reads what arrives at
// the device.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/vcl/clipboard.h"
#include "platform/vcl/forms.h"
#include "platform/win/comm.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "terminal/main_form.h"
#include "terminal/rs485_timing.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The main window with RTS changes of RS-485 mode recorded: each change
// notes the bytes the device had received by then.
class TObservedMain : public terminal::TMain {
public:
    using TMain::TMain;
    struct TLineChange {
        bool Raised;
        std::string BytesAtDevice;
        Clock::time_point At;
    };
    std::vector<TLineChange> Changes;
    test_support::PtyPair* Device = nullptr;
    std::string Received;  // what the device read during the changes

    void SetRS485Line(bool Raised) override {
        const Clock::time_point at = Clock::now();
        if (Device) Received += Device->Read(65536, Raised ? 1ms : 20ms);
        Changes.push_back({Raised, Received, at});
        TMain::SetRS485Line(Raised);
    }
};

struct TransmitPathFixture : test_support::BasicMainWindow<TObservedMain> {
    test_support::PtyPair device;
    std::vector<std::string>& messages = Messages;

    explicit TransmitPathFixture(bool open = true) : BasicMainWindow({.Start = false}) {
        win::SetComPortMapOverrides({{41, device.SlavePath()}});
        Start();
        if (open) {
            main->ForceComNumber(41, true);
            main->ApplyPortParams(false, true);
        }
        messages.clear();
    }
    ~TransmitPathFixture() {
        Free();
        win::SetComPortMapOverrides({});
    }
    void Line(const std::string& text) {
        main->TrBCB->SetText(text);
        main->TrBCBChange(main->TrBCB);
    }
    void Transmit() { main->Transb->Click(); }
    std::string Send(const std::string& text) {
        Line(text);
        Transmit();
        return device.Read(65536, 100ms);
    }
};

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += static_cast<char>(v);
    return s;
}

TEST(transmit_path, dec_lines_reach_the_device_as_bytes_and_are_counted) {
    TransmitPathFixture f;
    ASSERT_TRUE(f.main->cp1->Connected());
    EXPECT_EQ(f.Send("1 2,3"), Bytes({1, 2, 3}));
    EXPECT_EQ(f.Send("258W"), Bytes({2, 1}));
    EXPECT_EQ(f.Send("258WR"), Bytes({1, 2}));
    EXPECT_EQ(f.Send("-1"), Bytes({0xFF}));
    EXPECT_EQ(f.Send("1.5F"), Bytes({0, 0, 0xC0, 0x3F}));
    EXPECT_EQ(f.Send("\"A'\"'b'"), "A'b");
    EXPECT_TRUE(f.messages.empty());
    EXPECT_EQ(f.main->SentCount, 15u);
    EXPECT_EQ(f.main->TRLabel->Caption(), "15");

    // A token that is no byte: nothing is sent and the token is selected.
    EXPECT_EQ(f.Send("1 258"), "");
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "Wrong data in Input Line.\rToken \"258\" could not be converted to a number");
    EXPECT_EQ(f.main->TrBCB->SelStart(), 2);
    EXPECT_EQ(f.main->TrBCB->SelLength(), 3);
    EXPECT_EQ(f.main->TrBCB->SelText(), "258");
    EXPECT_EQ(f.main->SentCount, 15u);

    // The count goes on past 32 bits in full, as long transfers need.
    f.main->SentCount = 0xFFFFFFFFu - 1;
    EXPECT_EQ(f.Send("1 2 3"), Bytes({1, 2, 3}));
    EXPECT_EQ(f.main->SentCount, 0x100000001u);
    EXPECT_EQ(f.main->TRLabel->Caption(), "4294967297");
    // Nothing beside the count covers it.
    const vcl::TControl* next = f.main->LTRFormat->Visible() ? static_cast<vcl::TControl*>(f.main->LTRFormat)
                                                             : f.main->sbPlugin;
    EXPECT_LE(f.main->TRLabel->Left() + f.main->TRLabel->Width(), next->Left());
}

TEST(transmit_path, stepping_hex_token_sends_the_next_value_each_time) {
    TransmitPathFixture f;
    f.main->TRFormat = terminal::trfHex;
    f.Line("FF+");
    std::string got;
    for (int i = 0; i < 3; ++i) {
        f.Transmit();
        got += f.device.Read(1, 200ms);
    }
    EXPECT_EQ(got, Bytes({0xFF, 0x00, 0x01}));
    EXPECT_EQ(f.main->TrBCB->Text(), "02+");
    // Each transmission enters the line as the box shows it then.
    EXPECT_EQ(f.main->TrBCB->Items().Strings(0), "01+");
    EXPECT_EQ(f.main->TrBCB->Items().Strings(2), "FF+");
    EXPECT_TRUE(f.messages.empty());
}

TEST(transmit_path, ascii_lines_take_escapes_and_the_chosen_line_ending) {
    TransmitPathFixture f;
    f.main->TRFormat = terminal::trfAsc;
    EXPECT_EQ(f.Send("a\\tb\\x41\\\\\\q"), std::string("a\tbA\\\\q\r\n"));
    f.main->TrLineBreak = "\r";
    EXPECT_EQ(f.Send("ok"), "ok\r");
    f.main->TrLineBreak = std::string(1, '\0');
    EXPECT_EQ(f.Send("z"), std::string("z\0", 2));
    f.main->TrLineBreak = "";
    EXPECT_EQ(f.Send("\\x4"), "");
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "Wrong data in Input Line.\rWrong HEX value (\"\\x4\")");
}

// Reads Count bytes at the device while Act runs: a write of more than the
// line's buffers hold finishes only while the device reads.
std::string ReadWhile(test_support::PtyPair& Device, std::size_t Count, const std::function<void()>& Act) {
    std::string got;
    std::thread reader([&] { got = Device.Read(Count, 20s); });
    Act();
    reader.join();
    return got;
}

TEST(transmit_path, long_lines_go_out_whole_or_not_at_all_never_cut) {
    TransmitPathFixture f;
    terminal::TMain* m = f.main;
    // A pasted ASC line of 40,000 characters, longer than an edit field
    // keeps by default.
    m->TRFormat = terminal::trfAsc;
    m->TrLineBreak = "\r\n";
    std::string pasted;
    for (int i = 0; i < 40000; ++i) pasted += static_cast<char>('a' + i % 26);
    f.Line("");
    vcl::Clipboard().SetAsText(pasted);
    m->mPasteClick(nullptr);
    ASSERT_EQ(m->TrBCB->Text().size(), pasted.size());
    std::string got = ReadWhile(f.device, pasted.size() + 2, [&] { f.Transmit(); });
    EXPECT_EQ(got.size(), pasted.size() + 2);
    EXPECT_TRUE(got == pasted + "\r\n");
    // The history keeps it whole, and choosing it brings it back whole; so
    // does a pattern.
    ASSERT_GT(m->TrBCB->Items().Count(), 0);
    EXPECT_TRUE(m->TrBCB->Items().Strings(0) == pasted);
    f.Line("x");
    m->TrBCB->SelectByUser(0);
    EXPECT_EQ(m->TrBCB->Text().size(), pasted.size());
    EXPECT_TRUE(m->TrBCB->Text() == pasted);
    m->N11->SetCaption(pasted + "!");
    m->alt51Click(m->N11);
    EXPECT_TRUE(m->TrBCB->Text() == pasted + "!");

    // DEC: 1 and then 100 ten thousand times, 40,002 characters for 10,001
    // bytes: within the transmit buffer, so every token goes out.
    m->TRFormat = terminal::trfDec;
    std::string dec = "1 ";
    for (int i = 0; i < 10000; ++i) dec += "100 ";
    f.Line(dec);
    ASSERT_EQ(m->TrBCB->Text().size(), dec.size());
    got = ReadWhile(f.device, 10001, [&] { f.Transmit(); });
    EXPECT_EQ(got.size(), 10001u);
    EXPECT_TRUE(got == "\x01" + std::string(10000, 'd'));
    EXPECT_EQ(f.device.Read(1, 100ms), "");
    EXPECT_TRUE(f.messages.empty());
    EXPECT_EQ(m->SentCount, pasted.size() + 2 + 10001);

    // More than the buffer holds (70,000 bytes): nothing at all goes out,
    // and the message says why.
    std::string over;
    for (int i = 0; i < 70000; ++i) over += "7 ";
    f.Line(over);
    ASSERT_EQ(m->TrBCB->Text().size(), over.size());
    f.Transmit();
    EXPECT_EQ(f.device.Read(65536, 200ms), "");
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "Wrong data in Input Line.\rToo much data to transmit (more than 65536 bytes)");
    EXPECT_EQ(m->SentCount, pasted.size() + 2 + 10001);
}

// Byte 0x98 followed by digits is data like any other: a message line
// holding it is copied, pasted into the transmit line, sent, kept in the
// history and in the settings file, and comes back as the same bytes each
// time (it is never read as the escape a file name uses).
TEST(transmit_path, a_copied_line_with_byte_0x98_is_pasted_sent_and_kept_byte_for_byte) {
    TransmitPathFixture f;
    terminal::TMain* m = f.main;
    m->RVPnlTime = 0;
    m->TRFormat = terminal::trfAsc;
    m->TrLineBreak = "";
    const std::string line = "\x98" "0000E9 \x98" "000000 \x98" "00DCFF";
    m->AddTextLine(line, 0, 0, terminal::dfMSG);
    m->lb1->SetItemIndex(m->RxPanel->Lines().LineCount() - 2);
    m->mCopyLineClick(nullptr);
    f.Line("");
    m->mPasteClick(nullptr);
    EXPECT_EQ(m->TrBCB->Text(), line);
    f.Transmit();
    EXPECT_EQ(f.device.Read(line.size(), 2s), line);
    ASSERT_GT(m->TrBCB->Items().Count(), 0);
    EXPECT_EQ(m->TrBCB->Items().Strings(0), line);
    f.Line("x");
    m->TrBCB->SelectByUser(0);
    EXPECT_EQ(m->TrBCB->Text(), line);
    f.Transmit();
    EXPECT_EQ(f.device.Read(line.size(), 2s), line);
    EXPECT_TRUE(f.messages.empty()) << f.messages[0];
    m->SaveConfig(false);
    m = f.Start();
    ASSERT_GT(m->TrBCB->Items().Count(), 0);
    EXPECT_EQ(m->TrBCB->Items().Strings(0), line);
    EXPECT_EQ(m->TrBCB->Text(), line);
}

TEST(transmit_path, pause_splits_the_line_into_two_writes) {
    TransmitPathFixture f;
    f.Line("1 5P 2");
    const auto start = Clock::now();
    f.Transmit();
    EXPECT_GE(Clock::now() - start, 45ms);
    EXPECT_EQ(f.device.Read(2, 200ms), Bytes({1, 2}));
    EXPECT_EQ(f.main->SentCount, 2u);
}

TEST(transmit_path, sent_bytes_are_logged_only_with_the_option) {
    TransmitPathFixture f;
    f.Send("1 2 3");
    EXPECT_TRUE(f.main->RxPanel->CurLine().empty());
    f.main->mShowWrites->Click();
    ASSERT_TRUE(f.main->mShowWrites->Checked());
    EXPECT_EQ(f.Send("10 11 12"), Bytes({10, 11, 12}));
    EXPECT_EQ(f.main->RxPanel->CurLineDir(), 2);
    EXPECT_NE(f.main->RxPanel->CurLine().find("0A 0B 0C"), std::string::npos) << f.main->RxPanel->CurLine();
}

TEST(transmit_path, pseudo_commands_show_their_lines_and_send_nothing) {
    TransmitPathFixture f;
    f.main->TRFormat = terminal::trfAsc;
    f.main->TrLineBreak = "";
    EXPECT_EQ(f.Send("__setv(speed,9600)"), "");
    EXPECT_EQ(f.Send("__getv(Speed)"), "");
    EXPECT_EQ(f.Send("__send(x)"), "__send(x)");
    const auto& lines = f.main->RxPanel->Lines();
    std::vector<std::string> shown;
    for (int i = 0; i < lines.LineCount(); ++i)
        if (lines.LineRecord(i).Format == terminal::dfMSG) shown.push_back(lines.LineData(i));
    EXPECT_EQ(shown, (std::vector<std::string>{"__setv(speed,9600)", "__getv(Speed) -> 9600"}));
    EXPECT_EQ(f.main->SentCount, 9u);
    EXPECT_TRUE(f.messages.empty());
}

TEST(transmit_path, without_a_port_the_transmission_fails) {
    TransmitPathFixture f(false);
    f.main->TmrEnCB->SetChecked(true);
    f.Line("1");
    f.Transmit();
    EXPECT_EQ(f.messages, std::vector<std::string>{"Port is not connected."});
    EXPECT_FALSE(f.main->TmrEnCB->Checked());
    EXPECT_EQ(f.main->SentCount, 0u);
}

TEST(transmit_path, rs485_mode_holds_rts_while_the_bytes_leave_and_always_drops_it) {
    TransmitPathFixture f;
    TObservedMain* m = f.main;
    m->CPUSpeed = terminal::MeasureCpuSpeed(200ms);
    ASSERT_GT(m->CPUSpeed, 0);
    m->CBRS485->SetChecked(true);
    m->Device = &f.device;

    // 10 bytes at 9600 8N1 take 10616 us with the margin.
    f.Line("1 2 3 4 5 6 7 8 9 10");
    f.Transmit();
    ASSERT_EQ(m->Changes.size(), 2u);
    EXPECT_TRUE(m->Changes[0].Raised);
    EXPECT_EQ(m->Changes[0].BytesAtDevice, "");
    EXPECT_FALSE(m->Changes[1].Raised);
    EXPECT_EQ(m->Changes[1].BytesAtDevice, Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_GE(m->Changes[1].At - m->Changes[0].At, 10ms);
    EXPECT_EQ(m->SentCount, 10u);
    EXPECT_EQ(m->TRLabel->Caption(), "10");
    EXPECT_TRUE(f.messages.empty());

    // A refused pseudo-command raises after RTS went up: it comes down again.
    m->Changes.clear();
    m->TRFormat = terminal::trfAsc;
    m->TrLineBreak = "";
    f.Line("__setv(aptd,2)");
    f.Transmit();
    EXPECT_EQ(f.messages, std::vector<std::string>{"Bad Value \"2\""});
    ASSERT_EQ(m->Changes.size(), 2u);
    EXPECT_TRUE(m->Changes[0].Raised);
    EXPECT_FALSE(m->Changes[1].Raised);
    EXPECT_TRUE(m->cp1->Connected());

    // The device vanishes: the write fails, the port closes, RTS drops.
    m->Changes.clear();
    f.messages.clear();
    m->TRFormat = terminal::trfDec;
    f.device.CloseMaster();
    m->Device = nullptr;
    f.Line("1 2 3");
    f.Transmit();
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_NE(f.messages[0].find("is no longer valid"), std::string::npos) << f.messages[0];
    ASSERT_EQ(m->Changes.size(), 2u);
    EXPECT_TRUE(m->Changes[0].Raised);
    EXPECT_FALSE(m->Changes[1].Raised);
    EXPECT_FALSE(m->cp1->Connected());
}

}  // namespace
