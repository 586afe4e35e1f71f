#pragma once
// Timing of RS-485 mode: the time the bytes of a transmission take on the
// line, the busy-wait that holds RTS up for that long, the measurement of
// the processor's time-stamp counter rate that the busy-wait counts with,
// and the scheduling priority that makes the wait dependable.
//
// The counter rate is kept in kHz (ticks per millisecond), as the settings
// file stores it as CPUSpeed; all tick arithmetic is 64-bit, so a frame of
// any length (64 KB at 9600 baud lasts over a minute) is waited for in full.
#include <chrono>
#include <cstdint>

#include "ports/comm_port_driver.h"

namespace terminal {

// Microseconds that Bytes take on the line plus a margin of 200: (1 start
// bit + data bits + 1 parity bit when parity is on + stop bits, 1.5 counting
// as 1) * 1000000 * Bytes div BaudRate + 200. A rate of 0 or below gives
// the margin alone.
std::int64_t RS485FrameMicroseconds(ports::TDataBits DataBits, ports::TParity Parity, ports::TStopBits StopBits,
                                    std::int64_t Bytes, std::int64_t BaudRate);

// Counter ticks in Microseconds at CPUSpeed kHz, rounded to the nearest
// tick; 0 when either is not positive.
std::int64_t RS485WaitTicks(std::int64_t Microseconds, std::int32_t CPUSpeed);

// Spins until Microseconds have passed by the counter at CPUSpeed kHz;
// returns at once with CPUSpeed 0. A rate far above the real one (a
// settings file carried over from another machine) cannot hold the thread
// for long: the wait also ends once the system's monotonic clock shows
// twice the time asked plus 50 ms.
void RS485Wait(std::int64_t Microseconds, std::int32_t CPUSpeed);

// The counter's rate in kHz, counted over span at the highest priority the
// system grants (restored afterwards).
std::int32_t MeasureCpuSpeed(std::chrono::milliseconds span = std::chrono::milliseconds(4096));

// RS-485 mode raises the GUI thread's priority (a lower nice value) and
// switching it off puts it back to normal. Returns whether the system
// accepted the change; a refusal (no privilege) is not an error, the mode
// works at normal priority with less dependable timing.
bool SetRS485Priority(bool On);

}  // namespace terminal
