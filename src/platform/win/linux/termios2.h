#pragma once
// Line speeds through the kernel's termios2 interface, which takes any rate
// in bits per second. Kept apart because its header clashes with <termios.h>.
#include <cstdint>

namespace win::tty {

// Sets input and output speed to baud (BOTHER). Returns 0 or an errno value.
int SetArbitrarySpeed(int fd, std::uint32_t baud);
// Reads the speeds in bits per second. Returns 0 or an errno value.
int GetSpeed(int fd, std::uint32_t* inputBaud, std::uint32_t* outputBaud);

}  // namespace win::tty
