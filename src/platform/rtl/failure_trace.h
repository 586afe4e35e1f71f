#pragma once
// The last resort for a failure that nothing can show to the user: no error
// handler (no application yet, or none any more), a destructor, a handler
// that failed itself, or a failure that the program's own rules keep silent
// to the user. Its message goes to standard error as one line, so that it
// still leaves a trace for whoever runs the program from a terminal or keeps
// its output. Everything that would otherwise swallow a failure ends here.
#include <exception>
#include <string_view>

namespace rtl {

// Writes "vostrel: <context>: <message>" (without the context part when it
// is empty); the message of what was raised, whatever its type. Messages
// are message text (name_escapes.h) and are written as UTF-8, a name in one
// with its letters. Never throws; any thread.
void TraceFailure(std::exception_ptr Error, std::string_view Context = {}) noexcept;
void TraceFailure(std::string_view Message, std::string_view Context = {}) noexcept;

}  // namespace rtl
