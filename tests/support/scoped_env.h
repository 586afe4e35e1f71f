#pragma once
// An environment variable set for the length of a scope (a limit a test
// lowers for the code it drives), and taken away again at its end.
#include <cstdlib>

namespace test_support {

struct ScopedEnv {
    ScopedEnv(const char* Name, const char* Value) : name(Name) { ::setenv(Name, Value, 1); }
    ~ScopedEnv() { ::unsetenv(name); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    const char* name;
};

}  // namespace test_support
