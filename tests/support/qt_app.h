#pragma once
// Tests that use windows, timers or port notifications need an application
// object with an event loop; this creates one (offscreen) the first time,
// and runs the loop for a while.
#include <chrono>
#include <functional>

namespace test_support {

void EnsureQtApplication();

// Runs the message loop (1 ms naps) until pred holds; false if it did not
// within limit, counted in the time this process and what it started were
// given (a wait for a processor moves the limit out: see GivenTimeLimit).
// The default is generous: it returns as soon as pred holds, and a loaded
// machine (tests run side by side) may be slow to get there.
bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = std::chrono::seconds(30));
// Runs the message loop for the whole span of wall time.
void Pump(std::chrono::milliseconds span);
// CPU time this process has used so far, user plus system, in seconds.
double CpuSeconds();

}  // namespace test_support
