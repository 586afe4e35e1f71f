#pragma once
// How a DCB maps onto termios flags, both ways, kept apart from the device
// handling so that every setting can be checked field by field.
#include <termios.h>

#include "platform/win/comm.h"

namespace win::tty {

// Writes the line settings of dcb into tio as a raw channel. Returns the
// standard speed constant for dcb.BaudRate, or B0 when the rate needs the
// arbitrary-speed interface. The DCB must be valid (see DcbIsValid).
speed_t DcbToTermios(const DCB& dcb, termios& tio);
bool DcbIsValid(const DCB& dcb);
// True when got holds everything asked holds, except what a pseudo-terminal
// cannot take (character size, parity enable) and the speed.
bool MatchesApartFromPtyLimits(const termios& asked, const termios& got);
// Fills the fields of dcb that termios holds (not the speed).
void TermiosToDcb(const termios& tio, DCB& dcb);

}  // namespace win::tty
