// The only file that sees the kernel's termios2 and BOTHER.
#include "platform/win/linux/termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace win::tty {

int SetArbitrarySpeed(int fd, std::uint32_t baud) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
    return 0;
}

int GetSpeed(int fd, std::uint32_t* inputBaud, std::uint32_t* outputBaud) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    if (inputBaud) *inputBaud = tio.c_ispeed;
    if (outputBaud) *outputBaud = tio.c_ospeed;
    return 0;
}

}  // namespace win::tty
