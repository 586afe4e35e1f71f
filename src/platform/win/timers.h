#pragma once
// Clocks, counters and multimedia timers in the shape of the Win32 calls.
#include <cstdint>

#include "platform/win/types.h"

namespace win {

using MMRESULT = std::uint32_t;

// Milliseconds since an arbitrary start, monotonic, wrapping at 32 bits.
DWORD GetTickCount();

// A monotonic counter in nanoseconds; the frequency is therefore 1e9.
bool QueryPerformanceCounter(std::int64_t* count);
bool QueryPerformanceFrequency(std::int64_t* frequency);

constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr std::uint32_t TIME_ONESHOT = 0;
constexpr std::uint32_t TIME_PERIODIC = 1;

struct TIMECAPS {
    std::uint32_t wPeriodMin;
    std::uint32_t wPeriodMax;
};

// (timer id, message (0), user value, 0, 0)
using LPTIMECALLBACK = void (*)(std::uint32_t, std::uint32_t, DWORD_PTR, DWORD_PTR, DWORD_PTR);

// Starts a timer whose callback runs on a timer thread of its own every
// delay ms (or once). Returns its id, 0 on failure. The callback must do
// no more than post a message; what it raises loses that tick and reaches
// the loop's error handler on the GUI thread (loop_entry.h).
MMRESULT timeSetEvent(std::uint32_t delay, std::uint32_t resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                      std::uint32_t flags);
// Stops the timer; when it returns, its callback is not running and will not
// run again (also when called from the callback itself).
MMRESULT timeKillEvent(MMRESULT id);
MMRESULT timeGetDevCaps(TIMECAPS* caps, std::uint32_t size);
// The timers here are always as precise as the system allows; these only
// check the period.
MMRESULT timeBeginPeriod(std::uint32_t period);
MMRESULT timeEndPeriod(std::uint32_t period);

}  // namespace win
