#include "platform/win/linux/termios_map.h"

namespace win::tty {
namespace {

speed_t StandardSpeed(DWORD baud) {
    switch (baud) {
        case 50: return B50;
        case 75: return B75;
        case 110: return B110;
        case 134: return B134;
        case 150: return B150;
        case 200: return B200;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 1800: return B1800;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 500000: return B500000;
        case 576000: return B576000;
        case 921600: return B921600;
        case 1000000: return B1000000;
        case 1152000: return B1152000;
        case 1500000: return B1500000;
        case 2000000: return B2000000;
        case 2500000: return B2500000;
        case 3000000: return B3000000;
        case 3500000: return B3500000;
        case 4000000: return B4000000;
        default: return B0;
    }
}

}  // namespace

bool DcbIsValid(const DCB& dcb) {
    return dcb.BaudRate != 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 && dcb.Parity <= SPACEPARITY &&
           dcb.StopBits <= TWOSTOPBITS;
}

speed_t DcbToTermios(const DCB& dcb, termios& tio) {
    // A raw channel: no translation of input or output, no echo, no
    // signals, no line editing; breaks are reported through the error
    // counters rather than as NUL bytes.
    tio.c_iflag &= ~(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
    tio.c_iflag |= IGNBRK;
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CREAD | CLOCAL;
    // With VMIN 1 a non-blocking read with nothing there says EAGAIN, so
    // that end of file stays reserved for a hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;

    switch (dcb.ByteSize) {
        case 5: tio.c_cflag |= CS5; break;
        case 6: tio.c_cflag |= CS6; break;
        case 7: tio.c_cflag |= CS7; break;
        default: tio.c_cflag |= CS8; break;
    }
    // 1.5 stop bits exist in hardware only with 5 data bits, where the UART
    // sends them for CSTOPB.
    if (dcb.StopBits != ONESTOPBIT) tio.c_cflag |= CSTOPB;
    switch (dcb.Parity) {
        case ODDPARITY: tio.c_cflag |= PARENB | PARODD; break;
        case EVENPARITY: tio.c_cflag |= PARENB; break;
        case MARKPARITY: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case SPACEPARITY: tio.c_cflag |= PARENB | CMSPAR; break;
        default: break;
    }
    // The parity bit is sent whenever parity is set; fParity asks for
    // checking it on input.
    if (dcb.fParity) tio.c_iflag |= INPCK;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) tio.c_cflag |= CRTSCTS;
    if (dcb.fOutX) tio.c_iflag |= IXON;
    if (dcb.fInX) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

    speed_t speed = StandardSpeed(dcb.BaudRate);
    if (speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        // An input speed left over from an arbitrary rate would otherwise
        // stay in force: no input speed means the output speed.
        tio.c_cflag &= ~CIBAUD;
    }
    return speed;
}

bool MatchesApartFromPtyLimits(const termios& asked, const termios& got) {
    const tcflag_t ignored = CSIZE | PARENB | CBAUD | CIBAUD;
    return asked.c_iflag == got.c_iflag && asked.c_oflag == got.c_oflag && asked.c_lflag == got.c_lflag &&
           (asked.c_cflag & ~ignored) == (got.c_cflag & ~ignored) && asked.c_cc[VSTART] == got.c_cc[VSTART] &&
           asked.c_cc[VSTOP] == got.c_cc[VSTOP] && asked.c_cc[VMIN] == got.c_cc[VMIN] &&
           asked.c_cc[VTIME] == got.c_cc[VTIME];
}

void TermiosToDcb(const termios& tio, DCB& dcb) {
    switch (tio.c_cflag & CSIZE) {
        case CS5: dcb.ByteSize = 5; break;
        case CS6: dcb.ByteSize = 6; break;
        case CS7: dcb.ByteSize = 7; break;
        default: dcb.ByteSize = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (tio.c_cflag & CMSPAR)
        dcb.Parity = (tio.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = (tio.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    if (!(tio.c_cflag & CSTOPB))
        dcb.StopBits = ONESTOPBIT;
    else if (dcb.StopBits == ONESTOPBIT)
        dcb.StopBits = TWOSTOPBITS;
    dcb.fBinary = 1;
    dcb.fParity = (tio.c_iflag & INPCK) ? 1 : 0;
    dcb.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) ? 1 : 0;
    dcb.fOutX = (tio.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
    dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
}

}  // namespace win::tty
