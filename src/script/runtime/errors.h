#pragma once
// Runtime errors of the script interpreter: the one-byte codes with their
// texts, and the exception classes that cross between the runtime and the
// host.
//
// Every failure with a message derives from script::EPSError, the general
// exception of the script engine; the classes below only add what the
// runtime needs to tell them apart when it turns a caught failure into an
// error code (TPSExec::ReportException).
#include <cstdint>
#include <string>
#include <string_view>

#include "script/compiler/ps_utils.h"

namespace script::runtime {

class TPSExec;

// Error codes, in the order of the script's TIFException enumeration.
enum TPSError : std::uint8_t {
    ErNoError = 0,
    erCannotImport = 1,
    erInvalidType = 2,
    ErInternalError = 3,
    erInvalidHeader = 4,
    erInvalidOpcode = 5,
    erInvalidOpcodeParameter = 6,
    erNoMainProc = 7,
    erOutOfGlobalVarsRange = 8,
    erOutOfProcRange = 9,
    ErOutOfRange = 10,
    erOutOfStackRange = 11,
    ErTypeMismatch = 12,
    erUnexpectedEof = 13,
    erVersionError = 14,
    ErDivideByZero = 15,
    ErMathError = 16,
    erCouldNotCallProc = 17,
    erOutofRecordRange = 18,
    erOutOfMemory = 19,
    erException = 20,
    erNullPointerException = 21,
    erNullVariantError = 22,
    erInterfaceNotSupported = 23,
    erCustomError = 24,
};

// The text of an error code with its parameter. Only the low 7 bits of the
// code count; codes from 25 on read "Unknown error".
std::string PSErrorText(std::uint8_t code, std::string_view param);

// The message of the failure that readers raise for a value they cannot read.
inline constexpr char kTypeMismatchText[] = "Type Mismatch";

// A script error raised in the host: the text of the error, and where it
// happened. Exec is the executor that raised it (not owned).
class EPSException : public EPSError {
public:
    EPSException(std::string message, TPSExec* exec, std::uint32_t proc_no, std::uint32_t proc_pos)
        : EPSError(std::move(message)), ProcPos(proc_pos), ProcNo(proc_no), Exec(exec) {}

    std::uint32_t ProcPos;
    std::uint32_t ProcNo;
    TPSExec* Exec;
};

// Integer or floating-point division by zero (runtime error 15).
class EPSDivByZero : public EPSError {
public:
    using EPSError::EPSError;
};

// Floating-point overflow or invalid operation, and a float that does not
// fit the 64-bit integer it is rounded to (runtime error 16).
class EPSMathError : public EPSError {
public:
    using EPSError::EPSError;
};

// A value or block larger than the runtime allows, or memory the system
// refused (runtime error 19).
class EPSOutOfMemory : public EPSError {
public:
    EPSOutOfMemory() : EPSError("Out Of Memory") {}
};

}  // namespace script::runtime
