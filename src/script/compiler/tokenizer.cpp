#include "script/compiler/tokenizer.h"

#include <algorithm>
#include <array>
#include <utility>

#include "script/compiler/ps_utils.h"

namespace script::compiler {

namespace {

struct Keyword {
    std::string_view text;
    TPSTokenId id;
};

// Sorted by text in byte order (a proper prefix first), searched by binary
// search. Every id from tkAnd to tkNil appears exactly once.
constexpr std::array<Keyword, 65> kKeywords = {{
    {"AND", tkAnd},
    {"ARRAY", tkArray},
    {"AS", tkAs},
    {"BEGIN", tkBegin},
    {"CASE", tkCase},
    {"CHR", tkChr},
    {"CLASS", tkClass},
    {"CONST", tkConst},
    {"CONSTRUCTOR", tkConstructor},
    {"DESTRUCTOR", tkDestructor},
    {"DIV", tkDiv},
    {"DO", tkDo},
    {"DOWNTO", tkDownTo},
    {"ELSE", tkElse},
    {"END", tkEnd},
    {"EXCEPT", tkExcept},
    {"EXIT", tkExit},
    {"EXPORT", tkExport},
    {"EXTERNAL", tkExternal},
    {"FINALIZATION", tkFinalization},
    {"FINALLY", tkFinally},
    {"FOR", tkFor},
    {"FORWARD", tkForward},
    {"FUNCTION", tkFunction},
    {"GOTO", tkGoto},
    {"IF", tkIf},
    {"IMPLEMENTATION", tkImplementation},
    {"IN", tkIn},
    {"INHERITED", tkInherited},
    {"INITIALIZATION", tkInitialization},
    {"INTERFACE", tkInterface},
    {"IS", tkIs},
    {"LABEL", tkLabel},
    {"MOD", tkMod},
    {"NIL", tkNil},
    {"NOT", tkNot},
    {"OF", tkOf},
    {"OR", tkOr},
    {"ORD", tkOrd},
    {"OUT", tkOut},
    {"OVERRIDE", tkOverride},
    {"PRIVATE", tkPrivate},
    {"PROCEDURE", tkProcedure},
    {"PROGRAM", tkProgram},
    {"PROPERTY", tkProperty},
    {"PROTECTED", tkProtected},
    {"PUBLIC", tkPublic},
    {"PUBLISHED", tkPublished},
    {"RECORD", tkRecord},
    {"REPEAT", tkRepeat},
    {"SET", tkSet},
    {"SHL", tkShl},
    {"SHR", tkShr},
    {"THEN", tkThen},
    {"TO", tkTo},
    {"TRY", tkTry},
    {"TYPE", tkType},
    {"UNIT", tkUnit},
    {"UNTIL", tkUntil},
    {"USES", tkUses},
    {"VAR", tkVar},
    {"VIRTUAL", tkVirtual},
    {"WHILE", tkWhile},
    {"WITH", tkWith},
    {"XOR", tkXor},
}};
static_assert(kKeywords.size() == tkNil - tkAnd + 1);

consteval bool KeywordsSortedAndComplete() {
    for (std::size_t i = 1; i < kKeywords.size(); ++i) {
        if (!(kKeywords[i - 1].text < kKeywords[i].text)) return false;
    }
    for (int id = tkAnd; id <= tkNil; ++id) {
        int seen = 0;
        for (const auto& k : kKeywords) seen += k.id == id ? 1 : 0;
        if (seen != 1) return false;
    }
    return true;
}
static_assert(KeywordsSortedAndComplete());

constexpr std::size_t kLongestKeyword = 14;  // "IMPLEMENTATION", "INITIALIZATION"

// For each first letter, the range of keywords that start with it: every
// identifier token is looked up, so the search starts among a handful.
struct LetterRange {
    std::uint8_t first = 0;
    std::uint8_t end = 0;
};
consteval std::array<LetterRange, 26> MakeLetterRanges() {
    std::array<LetterRange, 26> ranges{};
    for (std::size_t i = 0; i < kKeywords.size(); ++i) {
        auto& r = ranges[static_cast<std::size_t>(kKeywords[i].text[0] - 'A')];
        if (r.end == 0) r.first = static_cast<std::uint8_t>(i);
        r.end = static_cast<std::uint8_t>(i + 1);
    }
    return ranges;
}
constexpr std::array<LetterRange, 26> kLetterRanges = MakeLetterRanges();

consteval bool KeywordsFitTheBuffer() {
    for (const auto& k : kKeywords)
        if (k.text.size() > kLongestKeyword) return false;
    return true;
}
static_assert(KeywordsFitTheBuffer());

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

TPSTokenId KeywordId(std::string_view upperWord) {
    if (upperWord.empty() || upperWord[0] < 'A' || upperWord[0] > 'Z') return tkIdentifier;
    const LetterRange r = kLetterRanges[static_cast<std::size_t>(upperWord[0] - 'A')];
    for (std::size_t i = r.first; i < r.end; ++i)
        if (kKeywords[i].text == upperWord) return kKeywords[i].id;
    return tkIdentifier;
}

namespace {
// The keyword a word of the source spells in any case, else tkIdentifier.
TPSTokenId KeywordOfWord(std::string_view word) {
    if (word.size() > kLongestKeyword) return tkIdentifier;
    char upper[kLongestKeyword];
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        upper[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    }
    return KeywordId(std::string_view(upper, word.size()));
}
}  // namespace

void TPSPascalParser::SetText(std::string_view text) {
    source_.assign(text);
    // The text ends at its first zero byte, as the scanner always did.
    const std::size_t zero = source_.find('\0');
    if (zero != std::string::npos) source_.resize(zero);
    hasText_ = !source_.empty();
    position_ = 0;
    tokenLength_ = 0;
    tokenId_ = tkEOF;
    lineStart_ = 0;
    row_ = 1;
    tokenLineStart_ = 0;
    tokenRow_ = 1;
    token_.clear();
    rawToken_.clear();
    Next();
}

std::uint32_t LineBreakLength(std::string_view text, std::uint32_t i) {
    if (i >= text.size()) return 0;
    if (text[i] == '\n') return 1;
    if (text[i] != '\r') return 0;
    return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
}

TCommentScan ScanCommentBody(std::string_view text, std::uint32_t i, std::string_view closer,
                             const std::function<void(std::uint32_t)>& onBreak) {
    while (i < text.size()) {
        if (text.substr(i, closer.size()) == closer) {
            return {static_cast<std::uint32_t>(i + closer.size()), true};
        }
        const std::uint32_t br = LineBreakLength(text, i);
        if (br == 0) {
            ++i;
            continue;
        }
        i += br;
        if (onBreak) onBreak(i);
    }
    return {i, false};
}

std::uint32_t TPSPascalParser::TakeLineBreak(std::uint32_t i) {
    const std::uint32_t br = LineBreakLength(source_, i);
    if (br == 0) return i;
    ++row_;
    lineStart_ = i + br;
    return lineStart_;
}

void TPSPascalParser::Next() {
    token_.clear();
    rawToken_.clear();
    if (!hasText_) {
        tokenLength_ = 0;
        position_ = 0;
        tokenId_ = tkEOF;
        return;
    }
    for (;;) {
        position_ += tokenLength_;
        tokenLength_ = 0;
        if (!KeepBlanks) {
            // Blanks that would be skipped anyway are passed over here, as
            // the blank token's scan would (lines counted the same way).
            for (;;) {
                const char b = At(position_);
                if (b == ' ' || b == '\t') ++position_;
                else if (b == '\r' || b == '\n') position_ = TakeLineBreak(position_);
                else break;
            }
        }
        tokenRow_ = row_;
        tokenLineStart_ = lineStart_;
        const TPSLexErrorKind error = Scan();
        if (error != lekNone) {
            // Report the error where the faulty token starts, not where the
            // scan gave up (an unclosed comment may span many lines).
            row_ = tokenRow_;
            lineStart_ = tokenLineStart_;
            tokenLength_ = 0;
            tokenId_ = tkEOF;
            if (OnParserError) OnParserError(*this, error);
            return;
        }
        if (tokenId_ == tkComment && !KeepComments) continue;
        if (tokenId_ == tkBlank && !KeepBlanks) continue;
        break;
    }
    switch (tokenId_) {
        case tkIdentifier:
            rawToken_.assign(source_, position_, tokenLength_);
            token_.assign(rawToken_);
            for (char& c : token_)
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            break;
        case tkComment:
        case tkBlank:
        case tkInteger:
        case tkReal:
        case tkString:
        case tkChar:
        case tkHexInt:
            rawToken_.assign(source_, position_, tokenLength_);
            token_.assign(rawToken_);
            break;
        default:
            break;
    }
}

TPSLexErrorKind TPSPascalParser::Scan() {
    const std::uint32_t start = position_;
    std::uint32_t i = start;
    TPSLexErrorKind error = lekNone;
    auto finish = [&](TPSTokenId id, std::uint32_t end) {
        tokenId_ = id;
        tokenLength_ = end - start;
    };

    const char c = At(i);
    switch (c) {
        case '\0':
            finish(tkEOF, i);
            break;
        case '\t':
        case '\n':
        case '\r':
        case ' ':
            while (true) {
                const char b = At(i);
                if (b == '\r' || b == '\n') {
                    i = TakeLineBreak(i);
                } else if (b == '\t' || b == ' ') {
                    ++i;
                } else {
                    break;
                }
            }
            finish(tkBlank, i);
            break;
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9': {
            bool real = false;
            while (IsDigit(At(i))) ++i;
            if (At(i) == '.' && At(i + 1) != '.') {
                real = true;
                ++i;
                while (IsDigit(At(i))) ++i;
            }
            if (At(i) == 'E' || At(i) == 'e') {
                const char s = At(i + 1);
                std::uint32_t digitsAt = 0;
                if (IsDigit(s)) {
                    digitsAt = i + 1;
                } else if ((s == '+' || s == '-') && IsDigit(At(i + 2))) {
                    digitsAt = i + 2;
                }
                if (digitsAt != 0) {
                    real = true;
                    i = digitsAt;
                    while (IsDigit(At(i))) ++i;
                }
            }
            finish(real ? tkReal : tkInteger, i);
            break;
        }
        case '\'': {
            ++i;
            bool closed = false;
            while (true) {
                const char b = At(i);
                if (b == '\0' || b == '\r' || b == '\n') break;
                ++i;
                if (b == '\'') {
                    if (At(i) == '\'') {
                        ++i;  // a doubled quote stands for one quote
                        continue;
                    }
                    closed = true;
                    break;
                }
            }
            finish(tkString, i);
            if (!closed) error = lekUnterminatedString;
            break;
        }
        case '#':
            ++i;
            if (At(i) == '$') {
                ++i;
                while (IsHexDigit(At(i))) ++i;
            } else {
                while (IsDigit(At(i))) ++i;
                if (IsLetter(At(i))) error = lekBadCharLiteral;
            }
            finish(tkChar, i);
            break;
        case '$':
            ++i;
            while (IsHexDigit(At(i))) ++i;
            finish(tkHexInt, i);
            break;
        case '{':
        case '(': {
            if (c == '(' && At(i + 1) != '*') {
                finish(tkOpenRound, i + 1);
                break;
            }
            // The search for "*)" starts at the opening "*", so "(*)" is a
            // whole comment.
            const TCommentScan scan =
                ScanCommentBody(source_, i + 1, c == '{' ? "}" : "*)", [this](std::uint32_t after) {
                    ++row_;
                    lineStart_ = after;
                });
            if (!scan.closed) error = lekUnterminatedComment;
            finish(tkComment, scan.end);
            break;
        }
        case '/':
            if (At(i + 1) != '/') {
                finish(tkDivide, i + 1);
                break;
            }
            while (At(i) != '\0' && At(i) != '\r' && At(i) != '\n') ++i;
            finish(tkComment, i);
            break;
        case ':':
            if (At(i + 1) == '=') finish(tkAssignment, i + 2);
            else finish(tkColon, i + 1);
            break;
        case '<':
            if (At(i + 1) == '=') finish(tkLessEqual, i + 2);
            else if (At(i + 1) == '>') finish(tkNotEqual, i + 2);
            else finish(tkLess, i + 1);
            break;
        case '>':
            if (At(i + 1) == '=') finish(tkGreaterEqual, i + 2);
            else finish(tkGreater, i + 1);
            break;
        case '.':
            if (At(i + 1) == '.') finish(tkTwoDots, i + 2);
            else finish(tkPeriod, i + 1);
            break;
        case ';': finish(tkSemiColon, i + 1); break;
        case ',': finish(tkComma, i + 1); break;
        case ')': finish(tkCloseRound, i + 1); break;
        case '*': finish(tkMultiply, i + 1); break;
        case '+': finish(tkPlus, i + 1); break;
        case '-': finish(tkMinus, i + 1); break;
        case '=': finish(tkEqual, i + 1); break;
        case '@': finish(tkAddressOf, i + 1); break;
        case '[': finish(tkOpenBlock, i + 1); break;
        case ']': finish(tkCloseBlock, i + 1); break;
        case '^': finish(tkDereference, i + 1); break;
        default:
            if (IsLetter(c)) {
                while (IsLetter(At(i)) || IsDigit(At(i))) ++i;
                finish(tkIdentifier, i);
                if (tokenLength_ <= 255) tokenId_ = KeywordOfWord(std::string_view(source_).substr(start, tokenLength_));
                break;
            }
            finish(tkEOF, i);
            error = lekInvalidChar;
            break;
    }
    return error;
}

}  // namespace script::compiler
