#include "script/runtime/errors.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "runtime_test_support.h"

namespace script::runtime {
namespace {

using testing::TestExec;

TEST(runtime_errors, texts_by_code_with_their_parameter) {
    const struct {
        std::uint8_t code;
        const char* param;
        const char* text;
    } rows[] = {
        {0, "", "No Error"},
        {1, "FOO", "Cannot Import FOO"},
        {1, "intf:.\x01\x02rest", "Cannot Import intf:."},
        {1, "ABC\r\nDEF", "Cannot Import ABC"},
        {2, "x", "Invalid Type"},
        {17, "", "Could not call proc"},
        {17, "abc", "Could not call proc (abc)"},
        {20, "Type Mismatch", "Exception: Type Mismatch"},
        {24, "my message", "my message"},
        {25, "", "Unknown error"},
        {127, "", "Unknown error"},
        {130, "", "Invalid Type"},  // only the low 7 bits count
        {128 + 24, "again", "again"},
    };
    for (const auto& r : rows) EXPECT_EQ(PSErrorText(r.code, r.param), r.text) << int(r.code);
}

TEST(runtime_errors, the_error_record_reaches_the_callback_and_the_host) {
    TestExec exec;
    exec.SetCurrent(3, 1, 42);
    exec.SetStatus(TPSStatus::isRunning);
    std::vector<std::string> seen;
    exec.OnException = [&](TPSExec& e, std::uint8_t code, const std::string& param, std::uint32_t pos,
                           std::uint32_t proc, const std::exception_ptr& obj) {
        EXPECT_EQ(&e, &exec);
        seen.push_back(std::to_string(code) + "/" + param + "/" + std::to_string(pos) + "/" + std::to_string(proc) +
                       (obj ? "/obj" : ""));
    };

    exec.RaiseErrorParam(erCouldNotCallProc, "X");
    EXPECT_EQ(exec.Status(), TPSStatus::isPaused);  // an unhandled error stops the run
    EXPECT_EQ(exec.LastErrorCode(), erCouldNotCallProc);
    EXPECT_EQ(exec.LastErrorParam(), "X");
    EXPECT_EQ(exec.LastErrorProc(), 1u);
    EXPECT_EQ(exec.LastErrorPos(), 42u);
    try {
        exec.RaiseCurrentError();
        FAIL() << "no exception";
    } catch (const EPSException& e) {
        EXPECT_STREQ(e.what(), "Could not call proc (X)");
        EXPECT_EQ(e.ProcNo, 1u);
        EXPECT_EQ(e.ProcPos, 42u);
        EXPECT_EQ(e.Exec, &exec);
    }

    // A host exception object is kept and raised again as itself, once.
    struct HostFailure : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    exec.ReportException(std::make_exception_ptr(HostFailure("disk full")));
    EXPECT_EQ(exec.LastErrorCode(), erException);
    EXPECT_EQ(exec.LastErrorParam(), "disk full");
    EXPECT_THROW(exec.RaiseCurrentError(), HostFailure);
    EXPECT_FALSE(exec.HasLastErrorObject());
    EXPECT_THROW(exec.RaiseCurrentError(), EPSException);  // the code stays; the object went once

    // A script error from a nested run keeps its own position.
    exec.ReportException(std::make_exception_ptr(EPSException("inner", &exec, 2, 7)));
    EXPECT_EQ(exec.LastErrorCode(), erCustomError);
    EXPECT_EQ(exec.LastErrorProc(), 2u);
    EXPECT_EQ(exec.LastErrorPos(), 7u);

    // Code 0 clears the record and raises nothing.
    exec.HandleError(kNoProc, kNoProc, ErNoError, {}, nullptr);
    EXPECT_NO_THROW(exec.RaiseCurrentError());
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], "17/X/42/1");
    EXPECT_EQ(seen[1], "20/disk full/42/1/obj");
    EXPECT_EQ(seen[2], "24/inner/7/2");
}

TEST(runtime_errors, caught_failures_map_to_codes_by_their_class) {
    const struct {
        std::exception_ptr e;
        std::uint8_t code;
        const char* param;
        bool keeps_object;
    } rows[] = {
        {std::make_exception_ptr(EPSDivByZero("Division by zero")), ErDivideByZero, "Division by zero", true},
        {std::make_exception_ptr(EPSMathError("Floating point overflow")), ErMathError, "Floating point overflow", true},
        {std::make_exception_ptr(EPSOutOfMemory()), erOutOfMemory, "", false},
        {std::make_exception_ptr(std::bad_alloc()), erOutOfMemory, "", false},
        {std::make_exception_ptr(EPSError(kTypeMismatchText)), erException, "Type Mismatch", true},
        {std::make_exception_ptr(42), erException, "", true},
    };
    for (const auto& r : rows) {
        TestExec exec;  // not loaded: the status stays
        exec.ReportException(r.e);
        EXPECT_EQ(exec.LastErrorCode(), r.code);
        EXPECT_EQ(exec.LastErrorParam(), r.param);
        EXPECT_EQ(exec.HasLastErrorObject(), r.keeps_object);
        EXPECT_EQ(exec.Status(), TPSStatus::isNotLoaded);
        EXPECT_EQ(exec.LastErrorProc(), kNoProc);
    }
}

}  // namespace
}  // namespace script::runtime
