#pragma once
// The tokenizer of the script language: a pull scanner over the already
// preprocessed text. The compiler calls Next() and reads the current token's
// id, text and position. Lexical errors go to OnParserError once, and the
// token then becomes end of file, which ends the compilation.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace script::compiler {

// Token ids. Symbols first, then literals, then the keywords 31..95 in the
// order of their ids (ORDER TOKEN: the keyword table in tokenizer.cpp).
enum TPSTokenId : std::uint8_t {
    tkEOF = 0,
    tkComment = 1,
    tkBlank = 2,
    tkIdentifier = 3,
    tkSemiColon = 4,      // ;
    tkComma = 5,          // ,
    tkPeriod = 6,         // .
    tkColon = 7,          // :
    tkOpenRound = 8,      // (
    tkCloseRound = 9,     // )
    tkOpenBlock = 10,     // [
    tkCloseBlock = 11,    // ]
    tkAssignment = 12,    // :=
    tkEqual = 13,         // =
    tkNotEqual = 14,      // <>
    tkGreater = 15,       // >
    tkGreaterEqual = 16,  // >=
    tkLess = 17,          // <
    tkLessEqual = 18,     // <=
    tkPlus = 19,          // +
    tkMinus = 20,         // -
    tkDivide = 21,        // /
    tkMultiply = 22,      // *
    tkInteger = 23,
    tkReal = 24,
    tkString = 25,        // 'text'
    tkChar = 26,          // #65 or #$41
    tkHexInt = 27,        // $FF
    tkAddressOf = 28,     // @
    tkDereference = 29,   // ^
    tkTwoDots = 30,       // ..
    tkAnd = 31,
    tkArray,
    tkBegin,
    tkCase,
    tkConst,
    tkDiv,
    tkDo,
    tkDownTo,
    tkElse,
    tkEnd,
    tkFor,
    tkFunction,
    tkIf,
    tkIn,
    tkMod,
    tkNot,
    tkOf,
    tkOr,
    tkProcedure,
    tkProgram,
    tkRepeat,
    tkRecord,
    tkSet,
    tkShl,
    tkShr,
    tkThen,
    tkTo,
    tkType,
    tkUntil,
    tkUses,
    tkVar,
    tkWhile,
    tkWith,
    tkXor,
    tkExit,
    tkClass,
    tkConstructor,
    tkDestructor,
    tkInherited,
    tkPrivate,
    tkPublic,
    tkPublished,
    tkProtected,
    tkProperty,
    tkVirtual,
    tkOverride,
    tkAs,
    tkIs,
    tkUnit,
    tkTry,
    tkExcept,
    tkFinally,
    tkExternal,
    tkForward,
    tkExport,
    tkLabel,
    tkGoto,
    tkChr,
    tkOrd,
    tkInterface,
    tkImplementation,
    tkInitialization,
    tkFinalization,
    tkOut,
    tkNil,  // 95
};
static_assert(tkNil == 95, "keyword ids run from 31 to 95");

// Kinds passed to OnParserError (0 means no error).
enum TPSLexErrorKind : std::uint8_t {
    lekNone = 0,
    lekUnterminatedComment = 1,
    lekUnterminatedString = 2,
    lekBadCharLiteral = 3,
    lekInvalidChar = 4,
};

// The keyword id of an upper-case word, or tkIdentifier when it is none.
TPSTokenId KeywordId(std::string_view upperWord);

// Shared by the tokenizer and the preprocessor's scanner, so that both count
// lines and find comment ends the same way.
// The length of the line break (CR LF, CR or LF) at offset i, 0 when none.
std::uint32_t LineBreakLength(std::string_view text, std::uint32_t i);
// Scans a comment body from i to just after the first `closer`, or to the end
// of the text (closed = false); onBreak gets the offset after each line break.
struct TCommentScan {
    std::uint32_t end;
    bool closed;
};
TCommentScan ScanCommentBody(std::string_view text, std::uint32_t i, std::string_view closer,
                             const std::function<void(std::uint32_t)>& onBreak);

class TPSPascalParser {
public:
    using TErrorCallback = std::function<void(TPSPascalParser& parser, TPSLexErrorKind kind)>;

    TPSPascalParser() = default;
    virtual ~TPSPascalParser() = default;

    // Makes the next token current; blanks and comments are skipped unless
    // KeepBlanks/KeepComments are set.
    virtual void Next();
    // Copies the text, rewinds to row 1 and makes the first token current.
    virtual void SetText(std::string_view text);

    TPSTokenId CurrTokenId() const { return tokenId_; }
    // The text for lookups: upper case for identifiers; as written for
    // numbers, strings, "#" and "$" literals, comments and blanks; empty for
    // symbols and keywords.
    const std::string& GetToken() const { return token_; }
    // As written for identifiers and the literal kinds; empty otherwise.
    const std::string& OriginalToken() const { return rawToken_; }
    // 0-based offset of the current token in the text.
    std::uint32_t CurrTokenPos() const { return position_; }
    std::uint32_t TokenLength() const { return tokenLength_; }
    // Row and column (from 1) where the current token starts.
    std::uint32_t Row() const { return tokenRow_; }
    std::uint32_t Col() const { return position_ - tokenLineStart_ + 1; }

    TErrorCallback OnParserError;
    bool KeepComments = false;
    bool KeepBlanks = false;

private:
    char At(std::uint32_t i) const {
        return i < source_.size() ? source_[i] : '\0';
    }
    // Consumes a line break at i (CR, CR LF or LF) when there is one and
    // answers the index after it; answers i unchanged otherwise.
    std::uint32_t TakeLineBreak(std::uint32_t i);
    // Scans one token at position_; sets tokenId_ and tokenLength_.
    TPSLexErrorKind Scan();

    std::string source_;
    bool hasText_ = false;
    std::uint32_t lineStart_ = 0;
    std::uint32_t row_ = 1;
    std::uint32_t tokenLineStart_ = 0;
    std::uint32_t tokenRow_ = 1;
    std::uint32_t position_ = 0;
    std::uint32_t tokenLength_ = 0;
    TPSTokenId tokenId_ = tkEOF;
    std::string token_;
    std::string rawToken_;
};

}  // namespace script::compiler
