#include "script/compiler/messages.h"

#include <array>

#include "script/compiler/tokenizer.h"

namespace script::compiler {

namespace {

// ORDER TPSPascalCompilerErrorType
constexpr std::array<const char*, 42> kErrorTexts = {
    "Unknown identifier '%s'",
    "Identifier expected",
    "Comment error",
    "String error",
    "Char error",
    "Syntax error",
    "Unexpected end of file",
    "Semicolon (';') expected",
    "'BEGIN' expected",
    "period ('.') expected",
    "Duplicate identifier '%s'",
    "colon (':') expected",
    "Unknown type '%s'",
    "Closing parenthesis expected",
    "Type mismatch",
    "Internal error (%s)",
    "Assignment expected",
    "'THEN' expected",
    "'DO' expected",
    "No result",
    "opening parenthesis ('(')expected",
    "comma (',') expected",
    "'TO' expected",
    "is ('=') expected",
    "'OF' expected",
    "Closing square bracket (']') expected",
    "Variable Expected",
    "String Expected",
    "'END' expected",
    "Label '%s' not set",
    "Not in a loop",
    "Invalid jump",
    "Opening square brackets ('[') expected",
    "Write-only property",
    "Read-only property",
    "Class type expected",
    nullptr,  // ecCustomError: the parameter is the text
    "Divide by Zero",
    "Math Error",
    "Unsatisfied Forward %s",
    "Forward Parameter Mismatch",
    "Invalid number of parameters",
};
static_assert(kErrorTexts.size() == ecInvalidNumberOfParameters + 1);

// ORDER TPSPascalCompilerHintType
constexpr std::array<const char*, 3> kHintTexts = {
    "Variable '%s' never used",
    "Function '%s' never used",
    nullptr,  // ehCustomHint
};
static_assert(kHintTexts.size() == ehCustomHint + 1);

// ORDER TPSPascalCompilerWarningType
constexpr std::array<const char*, 4> kWarningTexts = {
    "Calculation always evaluates to %s",
    "%s is not needed",
    "Abstract Class Construction",
    nullptr,  // ewCustomWarning
};
static_assert(kWarningTexts.size() == ewCustomWarning + 1);

template <std::size_t N>
std::string TextFor(const std::array<const char*, N>& table, std::uint8_t code,
                    const std::string& param, const char* unknown) {
    if (code >= N) return unknown;
    if (table[code] == nullptr) return param;
    return FormatText(table[code], {param});
}

}  // namespace

std::string FormatText(std::string_view fmt, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(fmt.size() + 32);
    auto next = args.begin();
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (c == '%' && i + 1 < fmt.size()) {
            const char spec = fmt[i + 1];
            if (spec == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (spec == 's' || spec == 'd') {
                if (next != args.end()) out += *next++;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

TPSPascalCompilerErrorType LexErrorToErrorCode(std::uint8_t lexErrorKind) {
    switch (lexErrorKind) {
        case lekUnterminatedComment: return ecCommentError;
        case lekUnterminatedString: return ecStringError;
        case lekBadCharLiteral: return ecCharError;
        default: return ecSyntaxError;
    }
}

std::string TPSPascalCompilerMessage::MessageToString() const {
    return "[" + ErrorType() + "] " + moduleName_ + "(" + std::to_string(row_) +
           ":" + std::to_string(col_) + "): " + ShortMessage();
}

void TPSPascalCompilerMessage::SetParserPos(const TPSPascalParser& parser) {
    pos_ = parser.CurrTokenPos();
    row_ = parser.Row();
    col_ = parser.Col();
}

std::string TPSPascalCompilerError::ShortMessage() const {
    return TextFor(kErrorTexts, Code(), Param(), "Unknown error");
}

std::string TPSPascalCompilerHint::ShortMessage() const {
    return TextFor(kHintTexts, Code(), Param(), "Unknown hint");
}

std::string TPSPascalCompilerWarning::ShortMessage() const {
    return TextFor(kWarningTexts, Code(), Param(), "Unknown warning");
}

}  // namespace script::compiler
