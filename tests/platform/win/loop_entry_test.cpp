#include "platform/win/loop_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

// What entries from the loop raise is never lost: with no handler to take it,
// or a handler that fails on it, each failure leaves a line on standard error,
// also one that is no standard exception.
TEST(loop_entry, without_a_working_handler_every_failure_reaches_standard_error) {
    win::LoopEntryState site;
    win::SetLoopErrorHandler(nullptr);
    ::testing::internal::CaptureStderr();
    win::RunLoopEntry(site, [] { throw std::runtime_error("read failed"); });
    win::RunLoopEntry(site, [] { throw 42; });
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("read failed"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;

    int calls = 0;
    win::SetLoopErrorHandler([&](std::exception_ptr, bool) {
        ++calls;
        throw std::runtime_error("the box could not be shown");
    });
    ::testing::internal::CaptureStderr();
    win::RunLoopEntry(site, [] { throw std::runtime_error("tick failed"); });
    err = ::testing::internal::GetCapturedStderr();
    win::SetLoopErrorHandler(nullptr);
    EXPECT_EQ(calls, 1);
    EXPECT_NE(err.find("tick failed"), std::string::npos) << err;
}

}  // namespace
