#include "platform/win/linux/termios_map.h"

#include <gtest/gtest.h>

namespace {

using namespace win;

DCB Base() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

// Starts from a terminal in its default cooked state with every flag that
// the mapping must clear switched on.
termios Cooked() {
    termios tio{};
    tio.c_iflag = ICRNL | IXON | IXANY | INPCK | IGNPAR | BRKINT | ISTRIP;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    tio.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL;
    return tio;
}

TEST(termios_map, every_setting_lands_in_its_own_flag_field_and_reads_back) {
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (BYTE bits = 5; bits <= 8; ++bits) {
        for (BYTE parity = NOPARITY; parity <= SPACEPARITY; ++parity) {
            for (BYTE stop = ONESTOPBIT; stop <= TWOSTOPBITS; ++stop) {
                DCB dcb = Base();
                dcb.ByteSize = bits;
                dcb.Parity = parity;
                dcb.StopBits = stop;
                termios tio = Cooked();
                ASSERT_TRUE(tty::DcbIsValid(dcb));
                EXPECT_EQ(tty::DcbToTermios(dcb, tio), B9600);
                SCOPED_TRACE(testing::Message() << int(bits) << "/" << int(parity) << "/" << int(stop));
                EXPECT_EQ(tio.c_cflag & CSIZE, sizes[bits - 5]);
                const tcflag_t parityFlags[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
                EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), parityFlags[parity]);
                EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, stop != ONESTOPBIT);
                EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
                EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | INPCK | ICRNL | ISTRIP), 0u);
                EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
                EXPECT_EQ(tio.c_oflag & OPOST, 0u);
                EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
                EXPECT_NE(tio.c_cflag & CREAD, 0u);
                DCB back = Base();
                tty::TermiosToDcb(tio, back);
                EXPECT_EQ(back.ByteSize, bits);
                EXPECT_EQ(back.Parity, parity);
                // 1.5 stop bits are sent as 2 and read back as 2.
                EXPECT_EQ(back.StopBits, stop == ONESTOPBIT ? ONESTOPBIT : TWOSTOPBITS);
            }
        }
    }
}

TEST(termios_map, flow_control_parity_check_and_flow_characters) {
    DCB dcb = Base();
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutX = 1;
    termios tio = Cooked();
    tty::DcbToTermios(dcb, tio);
    EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(tio.c_iflag & IXON, 0u);
    EXPECT_EQ(tio.c_iflag & IXOFF, 0u);
    EXPECT_EQ(tio.c_iflag & CRTSCTS, 0u);  // never in the input flags
    EXPECT_EQ(tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13);

    dcb = Base();
    dcb.fInX = 1;
    dcb.fParity = 1;
    dcb.Parity = EVENPARITY;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    tio = Cooked();
    tty::DcbToTermios(dcb, tio);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK), IXOFF | INPCK);
    DCB back{};
    tty::TermiosToDcb(tio, back);
    EXPECT_EQ(back.fInX, 1u);
    EXPECT_EQ(back.fOutX, 0u);
    EXPECT_EQ(back.fParity, 1u);
    EXPECT_EQ(back.fOutxCtsFlow, 0u);
}

TEST(termios_map, standard_rates_map_to_constants_and_others_need_the_arbitrary_interface) {
    termios tio = Cooked();
    DCB dcb = Base();
    dcb.BaudRate = 115200;
    EXPECT_EQ(tty::DcbToTermios(dcb, tio), B115200);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(cfgetispeed(&tio), B115200);
    for (DWORD odd : {14400u, 56000u, 128000u, 250000u, 256000u, 31250u}) {
        dcb.BaudRate = odd;
        EXPECT_EQ(tty::DcbToTermios(dcb, tio), B0) << odd;
    }
    dcb = Base();
    dcb.BaudRate = 0;
    EXPECT_FALSE(tty::DcbIsValid(dcb));
    dcb = Base();
    dcb.ByteSize = 9;
    EXPECT_FALSE(tty::DcbIsValid(dcb));
    dcb = Base();
    dcb.StopBits = 3;
    EXPECT_FALSE(tty::DcbIsValid(dcb));
}

}  // namespace

namespace {

TEST(termios_map, a_pty_refusing_size_and_parity_still_matches_but_other_losses_do_not) {
    DCB dcb = Base();
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    termios asked = Cooked();
    asked.c_cflag |= CIBAUD;  // an earlier input speed of its own
    tty::DcbToTermios(dcb, asked);
    EXPECT_EQ(asked.c_cflag & CIBAUD, 0u);
    termios got = asked;
    got.c_cflag = (got.c_cflag & ~(CSIZE | PARENB)) | CS8;
    EXPECT_TRUE(tty::MatchesApartFromPtyLimits(asked, got));
    got.c_cflag &= ~CSTOPB;
    got.c_cflag ^= PARODD;
    EXPECT_FALSE(tty::MatchesApartFromPtyLimits(asked, got));
    got = asked;
    got.c_iflag |= IXON;
    EXPECT_FALSE(tty::MatchesApartFromPtyLimits(asked, got));
    got = asked;
    got.c_cc[VSTOP] = 0;
    EXPECT_FALSE(tty::MatchesApartFromPtyLimits(asked, got));
}

}  // namespace
