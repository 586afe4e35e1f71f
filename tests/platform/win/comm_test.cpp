#include "platform/win/comm.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/rtl/files.h"
#include "platform/rtl/name_escapes.h"
#include "platform/win/message_window.h"
#include "support/pty.h"
#include "support/temp_dir.h"
#include "support/qt_app.h"
#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;
using test_support::PtyPair;

win::HANDLE Open(const std::string& name) {
    return win::CreateFileA(name, win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr, win::OPEN_EXISTING,
                            win::FILE_ATTRIBUTE_NORMAL, 0);
}

win::DCB RawDcb(win::DWORD baud) {
    win::DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = baud;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    return dcb;
}

using test_support::CpuSeconds;
using test_support::Pump;

// Opens the pty's slave as a raw 8N1 port with the given time-outs.
win::HANDLE OpenRaw(const PtyPair& pty, win::DWORD baud, win::COMMTIMEOUTS timeouts) {
    win::HANDLE h = Open(pty.SlavePath());
    if (h == win::INVALID_HANDLE_VALUE) return h;
    win::DCB dcb = RawDcb(baud);
    if (!win::SetCommState(h, &dcb) || !win::SetCommTimeouts(h, &timeouts)) {
        win::CloseHandle(h);
        return win::INVALID_HANDLE_VALUE;
    }
    return h;
}

TEST(comm, com_numbers_map_through_environment_overrides_and_fixed_rule) {
    setenv("VOSTREL_COMPORTS", "7=/dev/pts/77;COM8=/dev/serial/by-id/x;bad;=1;9=", 1);
    win::SetComPortMapOverrides({{7, "/dev/ignored"}, {9, "/dev/ttyUSB5"}, {40, "/dev/ttyX"}});
    EXPECT_EQ(win::ComPortDevice(7), "/dev/pts/77");
    EXPECT_EQ(win::ComPortDevice(8), "/dev/serial/by-id/x");
    EXPECT_EQ(win::ComPortDevice(9), "/dev/ttyUSB5");
    EXPECT_EQ(win::ComPortDevice(40), "/dev/ttyX");
    win::SetComPortMapOverrides({});
    unsetenv("VOSTREL_COMPORTS");
    EXPECT_EQ(win::ComPortDevice(1), "/dev/ttyS0");
    EXPECT_EQ(win::ComPortDevice(32), "/dev/ttyS31");
    EXPECT_EQ(win::ComPortDevice(33), "/dev/ttyUSB0");
    EXPECT_EQ(win::ComPortDevice(96), "/dev/ttyUSB63");
    EXPECT_EQ(win::ComPortDevice(97), "/dev/ttyACM0");
    EXPECT_EQ(win::ComPortDevice(161), "/dev/rfcomm0");
    EXPECT_EQ(win::ComPortDevice(192), "/dev/rfcomm31");
    EXPECT_EQ(win::ComPortDevice(193), "");
    EXPECT_EQ(win::ComPortDevice(0), "");
}

TEST(comm, opening_fails_cleanly_for_missing_unmapped_non_tty_and_busy_devices) {
    test_support::EnsureQtApplication();
    unsetenv("VOSTREL_COMPORTS");
    EXPECT_EQ(Open("\\\\.\\COM250"), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_NE(win::GetLastErrorText().find("COM250"), std::string::npos);
    EXPECT_EQ(Open("/dev/does-not-exist-vostrel"), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("/dev/null"), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("nonsense"), win::INVALID_HANDLE_VALUE);
    // A device's name shows its letters in the reason, whether mapped (as
    // the system spells it) or given as program text.
    win::SetComPortMapOverrides({{249, "/dev/vostrel-né-日本"}});
    EXPECT_EQ(Open("\\\\.\\COM249"), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(rtl::MessageToUtf8(win::GetLastErrorText()), "/dev/vostrel-né-日本: no such device");
    win::SetComPortMapOverrides({});
    EXPECT_EQ(Open(rtl::FromSysPath("/dev/vostrel-né-日本")), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(rtl::MessageToUtf8(win::GetLastErrorText()), "/dev/vostrel-né-日本: no such device");

    PtyPair pty;
    pty.MapAsCom(12);
    win::HANDLE h = Open("\\\\.\\COM12");
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE) << win::GetLastErrorText();
    EXPECT_EQ(Open("com12"), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_NE(win::GetLastErrorText().find("in use"), std::string::npos);
    EXPECT_TRUE(win::CloseHandle(h));
    EXPECT_FALSE(win::CloseHandle(h));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
    win::HANDLE again = Open(pty.SlavePath());
    EXPECT_NE(again, win::INVALID_HANDLE_VALUE);
    EXPECT_NE(again, h);
    win::CloseHandle(again);
    // A device named in letters the code page lacks, given as program text,
    // is the device that name spells.
    test_support::TempDir dir;
    const std::string link = dir.File("порт-é");
    ASSERT_EQ(::symlink(pty.SlavePath().c_str(), link.c_str()), 0);
    win::HANDLE named = Open(rtl::FromSysPath(link));
    EXPECT_NE(named, win::INVALID_HANDLE_VALUE) << win::GetLastErrorText();
    win::CloseHandle(named);
}

TEST(comm, line_settings_read_back_from_the_terminal) {
    test_support::EnsureQtApplication();
    PtyPair pty;
    win::HANDLE h = Open(pty.SlavePath());
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    win::DCB dcb = RawDcb(250000);
    dcb.ByteSize = 7;
    dcb.Parity = win::MARKPARITY;
    dcb.StopBits = win::TWOSTOPBITS;
    dcb.fOutX = 1;
    ASSERT_TRUE(win::SetCommState(h, &dcb));
    // A pty keeps every line flag except the character size and parity
    // enable, which it forces to 8 bits without parity.
    win::DCB back{};
    ASSERT_TRUE(win::GetCommState(h, &back));
    EXPECT_EQ(back.BaudRate, 250000u);
    EXPECT_EQ(back.StopBits, win::TWOSTOPBITS);
    EXPECT_EQ(back.fOutX, 1u);
    EXPECT_EQ(back.fInX, 0u);
    EXPECT_EQ(pty.SlaveTermios().c_cflag & (CMSPAR | PARODD | CSTOPB), CMSPAR | PARODD | CSTOPB);
    EXPECT_EQ(pty.SlaveBaud(), 250000u);
    termios tio = pty.SlaveTermios();
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    dcb = RawDcb(9600);
    dcb.ByteSize = 4;
    EXPECT_FALSE(win::SetCommState(h, &dcb));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
    dcb = RawDcb(0);
    EXPECT_FALSE(win::SetCommState(h, &dcb));
    dcb = RawDcb(9600);
    dcb.Parity = 5;
    EXPECT_FALSE(win::SetCommState(h, &dcb));
    win::CloseHandle(h);
}

TEST(comm, reads_follow_the_time_outs_and_the_queue_holds_back_the_writer_when_full) {
    test_support::EnsureQtApplication();
    PtyPair pty;
    win::HANDLE h = OpenRaw(pty, 115200, {0, 0, 30, 0, 100});
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    ASSERT_TRUE(win::SetupComm(h, 64, 64));

    char buf[256];
    win::DWORD got = 99;
    test_support::TimeBounds bounds;
    auto start = std::chrono::steady_clock::now();
    test_support::ProcessorShare share;
    ASSERT_TRUE(win::ReadFile(h, buf, 10, &got, nullptr)) << win::GetLastErrorText();
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(got, 0u);
    EXPECT_GE(waited, 29ms);
    EXPECT_TRUE(bounds.Within(share, 1000ms, "a read with a time-out of 30 ms"));

    ASSERT_EQ(pty.Write("hello"), 5u);
    ASSERT_TRUE(win::ReadFile(h, buf, 10, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "hello");

    // 200 bytes into a 64-byte queue: the queue fills, the rest stays with
    // the kernel, and all of it comes out in order.
    std::string burst;
    for (int i = 0; i < 200; ++i) burst += static_cast<char>(i);
    ASSERT_EQ(pty.Write(burst), 200u);
    Pump(30ms);
    win::DWORD errors = 1;
    win::COMSTAT stat{};
    ASSERT_TRUE(win::ClearCommError(h, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 64u);
    std::string all;
    while (all.size() < 200) {
        ASSERT_TRUE(win::ReadFile(h, buf, 50, &got, nullptr));
        if (got == 0) break;
        all.append(buf, got);
    }
    EXPECT_EQ(all, burst);

    // Purging drops what is queued.
    ASSERT_EQ(pty.Write("xyz"), 3u);
    Pump(10ms);
    ASSERT_TRUE(win::PurgeComm(h, win::PURGE_RXCLEAR | win::PURGE_RXABORT));
    ASSERT_TRUE(win::ClearCommError(h, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);

    // Return at once with what is there.
    win::COMMTIMEOUTS atOnce{win::MAXDWORD, 0, 0, 0, 0};
    ASSERT_TRUE(win::SetCommTimeouts(h, &atOnce));
    share = test_support::ProcessorShare();
    ASSERT_TRUE(win::ReadFile(h, buf, 10, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(bounds.Within(share, 500ms, "a read that returns at once"));
    win::CloseHandle(h);
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(comm, a_write_that_runs_out_of_time_succeeds_with_the_short_count) {
    test_support::EnsureQtApplication();
    PtyPair pty;
    win::HANDLE h = OpenRaw(pty, 9600, {0, 0, 16, 0, 50});
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    std::string big(1 << 20, 'a');  // nobody reads the master: it fills
    win::DWORD written = 0;
    test_support::TimeBounds bounds;
    auto start = std::chrono::steady_clock::now();
    test_support::ProcessorShare share;
    EXPECT_TRUE(win::WriteFile(h, big.data(), static_cast<win::DWORD>(big.size()), &written, nullptr));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    EXPECT_GE(took, 45ms);
    EXPECT_TRUE(bounds.Within(share, 2000ms, "a write with a time-out of 50 ms"));
    std::string seen = pty.Read(written, 10s);
    EXPECT_EQ(seen.size(), written);
    win::CloseHandle(h);
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(comm, a_purge_of_the_output_keeps_what_a_pty_took_and_the_reopened_port_too) {
    // A pty takes far more than the other side reads at once; its output
    // queue reads empty all the same, since the bytes wait as the other
    // side's input. A purge (as every opening makes) must not take them back.
    test_support::EnsureQtApplication();
    PtyPair pty;
    win::HANDLE h = OpenRaw(pty, 9600, {0, 0, 16, 0, 50});
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    const std::string big(1 << 20, 'a');
    win::DWORD written = 0;
    ASSERT_TRUE(win::WriteFile(h, big.data(), static_cast<win::DWORD>(big.size()), &written, nullptr));
    ASSERT_GT(written, 8192u);  // more than the other side's input holds
    ASSERT_TRUE(win::PurgeComm(h, win::PURGE_TXABORT | win::PURGE_TXCLEAR | win::PURGE_RXABORT | win::PURGE_RXCLEAR));
    // Closed and opened anew, and purged again, as a port whose speed changed.
    ASSERT_TRUE(win::CloseHandle(h));
    h = OpenRaw(pty, 19200, {0, 0, 16, 0, 50});
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    ASSERT_TRUE(win::PurgeComm(h, win::PURGE_TXABORT | win::PURGE_TXCLEAR | win::PURGE_RXABORT | win::PURGE_RXCLEAR));
    EXPECT_EQ(pty.Read(written + 1, 1000ms).size(), written);
    win::CloseHandle(h);
}

TEST(comm, modem_lines_of_a_pty_are_remembered_and_report_nothing_on) {
    test_support::EnsureQtApplication();
    PtyPair pty;
    win::HANDLE h = Open(pty.SlavePath());
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    for (win::DWORD f : {win::SETDTR, win::CLRDTR, win::SETRTS, win::CLRRTS, win::SETBREAK, win::CLRBREAK})
        EXPECT_TRUE(win::EscapeCommFunction(h, f)) << f;
    EXPECT_FALSE(win::EscapeCommFunction(h, 77));
    win::DWORD status = 0xFF;
    EXPECT_TRUE(win::GetCommModemStatus(h, &status));
    EXPECT_EQ(status, 0u);
    win::CloseHandle(h);
    EXPECT_FALSE(win::EscapeCommFunction(h, win::SETDTR));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
}

TEST(comm, a_vanished_device_fails_reads_without_spinning) {
    test_support::EnsureQtApplication();
    PtyPair pty;
    win::HANDLE h = OpenRaw(pty, 9600, {0, 0, 16, 0, 50});
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    pty.CloseMaster();
    double cpu0 = CpuSeconds();
    Pump(300ms);
    double cpu = CpuSeconds() - cpu0;
    EXPECT_LT(cpu, 0.15);  // a spinning notifier would burn the whole 300 ms
    char buf[8];
    win::DWORD got = 5;
    EXPECT_FALSE(win::ReadFile(h, buf, 8, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(win::GetLastError(), win::ERROR_BAD_COMMAND);
    win::COMSTAT stat{};
    win::DWORD errors = 0;
    EXPECT_FALSE(win::ClearCommError(h, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_FALSE(win::WriteFile(h, "x", 1, &got, nullptr));
    EXPECT_TRUE(win::CloseHandle(h));
}

}  // namespace
