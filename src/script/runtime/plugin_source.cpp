#include "script/runtime/plugin_source.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"

namespace script::runtime {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// A file of two or four bytes a character: the name of its encoding, or
// empty. Without a mark, UTF-16 shows in the zero bytes that halve each
// ASCII character (a source is mostly ASCII): a zero on one side of most
// byte pairs, almost never on the other.
std::string WideEncoding(std::string_view s) {
    if (s.starts_with(std::string_view("\xFF\xFE\0\0", 4)) || s.starts_with(std::string_view("\0\0\xFE\xFF", 4)))
        return "UTF-32";
    if (s.starts_with("\xFF\xFE") || s.starts_with("\xFE\xFF")) return "UTF-16";
    const std::size_t pairs = std::min<std::size_t>(s.size() / 2, 512);
    std::size_t even = 0;
    std::size_t odd = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        even += s[2 * i] == '\0';
        odd += s[2 * i + 1] == '\0';
    }
    const std::size_t most = std::max(even, odd);
    const std::size_t least = std::min(even, odd);
    if (pairs > 0 && most * 2 >= pairs && least * 10 < most) return "UTF-16";
    return {};
}

// Converts a UTF-8 text, following the shapes the preprocessor and the
// tokenizer see: literals in quotes, comments, "{$...}" directives.
class TUtf8Reader {
public:
    TUtf8Reader(std::string_view Text, const std::string& FileName) : in_(Text), file_(FileName) {}

    // The text in the code page; the errors, if any, in Errors().
    std::string Convert() {
        out_.reserve(in_.size());
        while (i_ < in_.size()) {
            const char c = in_[i_];
            if (c == '\'') {
                Literal();
            } else if (c == '{' && At(i_ + 1) == '$') {
                Directive();
            } else if (c == '{') {
                CommentUntil("}");
            } else if (c == '(' && At(i_ + 1) == '*') {
                CommentUntil("*)");  // "(*)" is a whole comment, as the tokenizer reads it
            } else if (c == '/' && At(i_ + 1) == '/') {
                while (i_ < in_.size() && in_[i_] != '\r' && in_[i_] != '\n' && in_[i_] != '\0') Char(false);
            } else {
                Char(false);
            }
        }
        return std::move(out_);
    }

    const std::string& Errors() const { return errors_; }
    // Where the first character beyond ASCII inside a text literal is, its
    // column counted in bytes; row 0 when there is none.
    std::size_t LiteralRow() const { return literal_row_; }
    std::size_t LiteralColumn() const { return literal_column_; }

private:
    char At(std::size_t i) const { return i < in_.size() ? in_[i] : '\0'; }

    // One character from i_ to out_; a line break counts a row.
    void Char(bool InLiteral) {
        const char c = in_[i_];
        if (c == '\r' || c == '\n') {
            out_ += c;
            ++i_;
            if (c == '\r' && At(i_) == '\n') {
                out_ += '\n';
                ++i_;
            }
            ++row_;
            line_start_ = out_.size();
            in_line_start_ = i_;
            return;
        }
        char32_t code = 0;
        std::size_t n = 0;
        if (!rtl::DecodeUtf8Char(in_, i_, code, n) || n == 1) {  // ASCII, or a byte that is no character: kept
            out_ += c;
            ++i_;
            return;
        }
        if (InLiteral && literal_row_ == 0) {
            literal_row_ = row_;
            literal_column_ = i_ - in_line_start_ + 1;
        }
        const char mapped = rtl::UnicodeToAnsiChar(code);
        if (mapped != '?') {
            out_ += mapped;
        } else if (InLiteral) {
            errors_ += rtl::Format("[Error] %s(%d:%d): ", {file_, static_cast<int>(row_),
                                                          static_cast<int>(out_.size() - line_start_ + 1)}) +
                       "The character U+" + rtl::IntToHex(static_cast<std::int32_t>(code), 4) +
                       " of a text literal is not in the code page (Windows-1251)\r";
            out_ += '?';
        } else {
            out_.append(in_.substr(i_, n));
        }
        i_ += n;
    }

    // 'text', quotes doubled inside; a line break ends it, as it does for the
    // tokenizer.
    void Literal() {
        Char(true);
        while (i_ < in_.size()) {
            const char c = in_[i_];
            if (c == '\r' || c == '\n' || c == '\0') return;
            if (c == '\'') {
                Char(true);
                if (At(i_) != '\'') return;
            }
            Char(true);
        }
    }

    // From the opening character to the end of End, or of the text.
    void CommentUntil(std::string_view End) {
        Char(false);
        while (i_ < in_.size()) {
            if (in_.substr(i_).starts_with(End)) {
                for (std::size_t k = 0; k < End.size(); ++k) Char(false);
                return;
            }
            Char(false);
        }
    }

    // A directive names files: its letters beyond ASCII are the name the
    // file system knows, turned into program text the reversible way. Its
    // ASCII, blanks and control characters included, stays as it is, as in
    // a file in the code page: the preprocessor trims and splits the
    // directive at them, and a name holding one reaches the system as
    // written anyway.
    void Directive() {
        const std::size_t end = std::min(in_.find('}', i_), in_.size());
        while (i_ < end) {
            if (static_cast<unsigned char>(in_[i_]) < 0x80) {
                Char(false);
                continue;
            }
            // A UTF-8 sequence is all bytes above 127, so a run of them
            // holds whole characters.
            std::size_t run = i_;
            while (run < end && static_cast<unsigned char>(in_[run]) >= 0x80) ++run;
            out_ += rtl::FromSysPath(std::string(in_.substr(i_, run - i_)));
            i_ = run;
        }
        if (i_ < in_.size()) Char(false);
    }

    std::string_view in_;
    const std::string& file_;
    std::string out_;
    std::string errors_;
    std::size_t i_ = 0;
    std::size_t row_ = 1;
    std::size_t line_start_ = 0;
    std::size_t in_line_start_ = 0;
    std::size_t literal_row_ = 0;
    std::size_t literal_column_ = 0;
};

// The letters of modern Russian and Ukrainian words: А-я, Ё, ё, Є, є, І, і,
// Ї, ї, Ґ, ґ.
bool IsWordLetter(char32_t code) {
    if (code >= 0x410 && code <= 0x44F) return true;
    // Ё ё Є є І і Ї ї Ґ ґ
    constexpr char32_t kOthers[] = {0x401, 0x451, 0x404, 0x454, 0x406, 0x456, 0x407, 0x457, 0x490, 0x491};
    return std::find(std::begin(kOthers), std::end(kOthers), code) != std::end(kOthers);
}

// Whether the UTF-8 reading of valid UTF-8 holds two letters of a Russian
// or Ukrainian word in a row: a word written in UTF-8. In the code page
// those bytes are a capital Р, С or Т before a byte 80-BF, twice, which no
// word there holds.
bool HoldsWordLetters(std::string_view Utf8) {
    bool previous = false;
    for (std::size_t i = 0, n = 0; i < Utf8.size(); i += n) {
        char32_t code = 0;
        rtl::DecodeUtf8Char(Utf8, i, code, n);
        const bool letter = IsWordLetter(code);
        if (letter && previous) return true;
        previous = letter;
    }
    return false;
}

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

TPluginSourceText ReadPluginSource(const std::string& Bytes, const std::string& FileName, TSourceEncoding Undecided) {
    std::string_view text = Bytes;
    const bool marked = text.starts_with(kUtf8Mark);
    if (marked) text.remove_prefix(kUtf8Mark.size());
    if (!marked) {
        const std::string wide = WideEncoding(text);
        if (!wide.empty())
            throw rtl::Exception("\"" + FileName + "\" is saved as " + wide +
                                 ", which plug-in files cannot be: save it as UTF-8 or in the Windows-1251 code page");
        // ASCII reads alike either way; what it includes is read as it is.
        if (IsAscii(text)) return {Bytes, {}, Undecided};
        if (!rtl::IsUtf8BeyondAscii(text)) return {Bytes, {}, TSourceEncoding::CodePage};
    }
    TUtf8Reader reader(text, FileName);
    std::string converted = reader.Convert();
    if (marked || HoldsWordLetters(text) || Undecided == TSourceEncoding::Utf8) {
        if (!reader.Errors().empty()) throw rtl::Exception(reader.Errors());
        return {std::move(converted), {}, TSourceEncoding::Utf8};
    }
    // Both readings are possible: the code page's keeps the bytes of every
    // plug-in written in it. An author who saved UTF-8 learns why a literal
    // does not send what the editor shows.
    if (reader.LiteralRow() == 0) return {Bytes, {}, TSourceEncoding::CodePage};
    return {Bytes,
            rtl::Format("[Warning] %s(%d:%d): ", {FileName, static_cast<int>(reader.LiteralRow()),
                                                   static_cast<int>(reader.LiteralColumn())}) +
                "The file is read in the code page (Windows-1251), but it is valid UTF-8 too, where this "
                "text literal reads otherwise. Save it as UTF-8 with a byte order mark to have it read as "
                "UTF-8; a comment such as \"// " +
                rtl::Utf8ToAnsi("да") + "\" (two letters " + rtl::Utf8ToAnsi("А-я") + " in a row) settles either reading",
            TSourceEncoding::CodePage};
}

}  // namespace script::runtime
