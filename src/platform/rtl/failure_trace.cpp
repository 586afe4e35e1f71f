#include "platform/rtl/failure_trace.h"

#include <cstdio>
#include <string>

#include "platform/rtl/name_escapes.h"

namespace rtl {

void TraceFailure(std::string_view Message, std::string_view Context) noexcept {
    try {
        std::string line = "vostrel: ";
        if (!Context.empty()) line.append(Context).append(": ");
        line += MessageToUtf8(Message);
        line += '\n';
        // One write, so that lines from several threads never interleave.
        std::fwrite(line.data(), 1, line.size(), stderr);
    } catch (...) {
        // No memory even for the line: the bare message still goes out.
        std::fputs("vostrel: ", stderr);
        std::fwrite(Message.data(), 1, Message.size(), stderr);
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
}

void TraceFailure(std::exception_ptr Error, std::string_view Context) noexcept {
    if (!Error) {
        TraceFailure(std::string_view("unknown error"), Context);
        return;
    }
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& e) {
        TraceFailure(std::string_view(e.what()), Context);
    } catch (...) {
        TraceFailure(std::string_view("unknown error"), Context);
    }
}

}  // namespace rtl
