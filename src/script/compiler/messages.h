#pragma once
// Compiler messages: every problem found in a script becomes one of these
// objects in the compiler's list (compiling a script never throws). The text
// is produced on demand from the kind, the code and the parameter. Also the
// two exception classes of the compiler subsystem and their texts.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "script/compiler/ps_utils.h"

namespace script::compiler {

class TPSPascalParser;

// Raised when the host misuses the registration operations.
class EPSCompilerException : public EPSError {
public:
    using EPSError::EPSError;
};

// Raised by the preprocessor for every error in directives or includes.
class EPSPreProcessor : public EPSError {
public:
    using EPSError::EPSError;
};

// Error codes; the order is the code, and the texts in messages.cpp follow it.
enum TPSPascalCompilerErrorType : std::uint8_t {
    ecUnknownIdentifier,         // 0 "Unknown identifier '%s'"
    ecIdentifierExpected,        // 1
    ecCommentError,              // 2
    ecStringError,               // 3
    ecCharError,                 // 4
    ecSyntaxError,               // 5
    ecUnexpectedEndOfFile,       // 6
    ecSemicolonExpected,         // 7
    ecBeginExpected,             // 8
    ecPeriodExpected,            // 9
    ecDuplicateIdentifier,       // 10 "Duplicate identifier '%s'"
    ecColonExpected,             // 11
    ecUnknownType,               // 12 "Unknown type '%s'"
    ecCloseRoundExpected,        // 13
    ecTypeMismatch,              // 14
    ecInternalError,             // 15 "Internal error (%s)"
    ecAssignmentExpected,        // 16
    ecThenExpected,              // 17
    ecDoExpected,                // 18
    ecNoResult,                  // 19
    ecOpenRoundExpected,         // 20
    ecCommaExpected,             // 21
    ecToExpected,                // 22
    ecIsExpected,                // 23
    ecOfExpected,                // 24
    ecCloseBlockExpected,        // 25
    ecVariableExpected,          // 26
    ecStringExpected,            // 27
    ecEndExpected,               // 28
    ecUnsetLabel,                // 29 "Label '%s' not set"
    ecNotInLoop,                 // 30
    ecInvalidJump,               // 31
    ecOpenBlockExpected,         // 32
    ecWriteOnlyProperty,         // 33
    ecReadOnlyProperty,          // 34
    ecClassTypeExpected,         // 35
    ecCustomError,               // 36 the parameter is the text
    ecDivideByZero,              // 37
    ecMathError,                 // 38
    ecUnsatisfiedForward,        // 39 "Unsatisfied Forward %s"
    ecForwardParameterMismatch,  // 40
    ecInvalidNumberOfParameters, // 41
};

enum TPSPascalCompilerHintType : std::uint8_t {
    ehVariableNotUsed,  // 0 "Variable '%s' never used"
    ehFunctionNotUsed,  // 1 "Function '%s' never used"
    ehCustomHint,       // 2 the parameter is the text
};

enum TPSPascalCompilerWarningType : std::uint8_t {
    ewCalculationAlwaysEvaluatesTo,  // 0 "Calculation always evaluates to %s"
    ewIsNotNeeded,                   // 1 "%s is not needed"
    ewAbstractClass,                 // 2
    ewCustomWarning,                 // 3 the parameter is the text
};

// Texts of EPSCompilerException (registration misuse).
inline constexpr const char* kOnlyFromOnUses =
    "This function can only be called from within the OnUses event";
inline constexpr const char* kUnableToRegisterFunction = "Unable to register function %s";
inline constexpr const char* kUnableToRegisterConst = "Unable to register constant %s";
inline constexpr const char* kInvalidTypeForVariable = "Invalid type for variable %s";
inline constexpr const char* kInvalidType = "Invalid Type";
inline constexpr const char* kUnableToRegisterType = "Unable to register type %s";
inline constexpr const char* kUnknownInterface = "Unknown interface: %s";
inline constexpr const char* kDuplicateIdentifier = "Duplicate identifier '%s'";

// Texts of EPSPreProcessor.
inline constexpr const char* kTooManyNestedIncludes =
    "Too many nested include files while processing '%s' from '%s'";
inline constexpr const char* kUnableToFindFile = "Unable to find file '%s' used from '%s'";
inline constexpr const char* kTooManyParameters = "Too many parameters at %d:%d";
inline constexpr const char* kNoIfdefForEndif = "No IFDEF for ENDIF at %d:%d";
inline constexpr const char* kNoIfdefForElse = "No IFDEF for ELSE at %d:%d";
inline constexpr const char* kElseTwice = "Can't use ELSE twice at %d:%d";
inline constexpr const char* kUnknownDirective = "Unknown compiler directives at %d:%d";
inline constexpr const char* kDefineNotClosed = "Define not closed";
// Limits on include expansion, so that input including itself repeatedly
// ends in an error instead of exhausting memory.
inline constexpr const char* kTooManyIncludeFiles =
    "Too many include files while processing '%s' from '%s'";
inline constexpr const char* kOutputTooLarge =
    "Preprocessed text too large while processing '%s' from '%s'";

// Fills "%s" and "%d" in order with the given texts (numbers already as text);
// "%%" gives one "%". Missing arguments leave the placeholder empty.
std::string FormatText(std::string_view fmt, std::initializer_list<std::string_view> args);

// Lexical error kinds of the tokenizer (1..4) map onto error codes 2..5.
TPSPascalCompilerErrorType LexErrorToErrorCode(std::uint8_t lexErrorKind);

class TPSPascalCompilerMessage {
public:
    explicit TPSPascalCompilerMessage(std::uint8_t code, std::string param = {})
        : param_(std::move(param)), code_(code) {}
    virtual ~TPSPascalCompilerMessage() = default;

    virtual std::string ErrorType() const = 0;
    // "[Kind] module(row:col): text"
    virtual std::string MessageToString() const;
    // The text of the message, without kind or position.
    virtual std::string ShortMessage() const = 0;

    // Takes the position of the parser's current token.
    void SetParserPos(const TPSPascalParser& parser);
    void SetCustomPos(std::uint32_t pos, std::uint32_t row, std::uint32_t col) {
        pos_ = pos;
        row_ = row;
        col_ = col;
    }
    void SetModuleName(std::string name) { moduleName_ = std::move(name); }
    void SetParam(std::string param) { param_ = std::move(param); }

    std::uint32_t Row() const { return row_; }
    std::uint32_t Col() const { return col_; }
    std::uint32_t Pos() const { return pos_; }
    const std::string& ModuleName() const { return moduleName_; }
    const std::string& Param() const { return param_; }
    std::uint8_t Code() const { return code_; }

private:
    std::uint32_t row_ = 0;
    std::uint32_t col_ = 0;
    std::string moduleName_;
    std::string param_;
    std::uint32_t pos_ = 0;
    std::uint8_t code_;
};

class TPSPascalCompilerError : public TPSPascalCompilerMessage {
public:
    using TPSPascalCompilerMessage::TPSPascalCompilerMessage;
    std::string ErrorType() const override { return "Error"; }
    std::string ShortMessage() const override;
};

class TPSPascalCompilerHint : public TPSPascalCompilerMessage {
public:
    using TPSPascalCompilerMessage::TPSPascalCompilerMessage;
    std::string ErrorType() const override { return "Hint"; }
    std::string ShortMessage() const override;
};

class TPSPascalCompilerWarning : public TPSPascalCompilerMessage {
public:
    using TPSPascalCompilerMessage::TPSPascalCompilerMessage;
    std::string ErrorType() const override { return "Warning"; }
    std::string ShortMessage() const override;
};

}  // namespace script::compiler
