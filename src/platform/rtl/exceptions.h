#pragma once
// The exception classes of the language runtime. Every failure that the
// program reports to the user travels as one of these, carrying its text.
#include <new>
#include <stdexcept>
#include <string>

namespace rtl {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// Raised by conversion routines (StrToInt, StrToFloat, ...).
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A floating-point operation without a valid result (rounding NaN, a value
// outside the integer range, ...).
class EInvalidOp : public Exception {
public:
    using Exception::Exception;
};

// Raised by lists on an index, count or capacity out of range.
class EListError : public Exception {
public:
    using Exception::Exception;
};

// Raised by string lists (index out of range, duplicates, sorted-list misuse).
class EStringListError : public EListError {
public:
    using EListError::EListError;
};

// The silent exception: unwinds like any other, but the application's
// handler shows nothing for it.
class EAbort : public Exception {
public:
    using Exception::Exception;
};

// A broken internal assumption; raised in every build type.
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// Raised by file streams that cannot create, open, read or write a file.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};
class EReadError : public Exception {
public:
    using Exception::Exception;
};
class EWriteError : public Exception {
public:
    using Exception::Exception;
};

// The text a failure is reported with: its message, or "Out of memory" for
// a failed allocation, whose own text would name a C++ type.
inline std::string ExceptionMessage(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return "Out of memory";
    return error.what();
}

// Raises EAssertionFailed with the given text when the condition is false.
inline void Assert(bool condition, const char* text) {
    if (!condition) throw EAssertionFailed(text);
}

}  // namespace rtl
