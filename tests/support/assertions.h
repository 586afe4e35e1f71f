#pragma once
// Checks of the runtime's assertion failures, by their text.
#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/exceptions.h"

namespace test_support {

template <class F>
void ExpectAssertion(F&& f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no assertion failure, expected: " << message;
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message, message);
    }
}

}  // namespace test_support
