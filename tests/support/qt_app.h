#pragma once
// Tests that use windows, timers or port notifications need an application
// object with an event loop; this creates one (offscreen) the first time.
namespace test_support {

void EnsureQtApplication();

}  // namespace test_support
