#pragma once
// Windows-1251, the code page of the program's text: case mapping as the
// system maps it (Latin and Cyrillic letters, including Ё/ё, Ў/ў, Ї/ї, Ґ/ґ and
// the other Cyrillic letters of the page), and conversion to and from UTF-8,
// used wherever text leaves the program (widgets, file names).
#include <cstddef>
#include <string>
#include <string_view>

namespace rtl {

char AnsiUpperChar(char c);
char AnsiLowerChar(char c);
std::string AnsiUpperCase(const std::string& s);
std::string AnsiLowerCase(const std::string& s);
// Case-insensitive order: letters compare by the alphabet (Ё right after Е),
// other bytes by their code point; < 0, 0, > 0.
int AnsiCompareText(const std::string& a, const std::string& b);
// Case-sensitive order by the same rule.
int AnsiCompareStr(const std::string& a, const std::string& b);
bool AnsiSameText(const std::string& a, const std::string& b);

// Every byte has a mapping (0x98 becomes U+0098), so nothing is lost.
std::string AnsiToUtf8(const std::string& ansi);
// Characters outside the code page, and malformed UTF-8 bytes, become '?'.
// (File names keep them: see name_escapes.h.)
std::string Utf8ToAnsi(const std::string& utf8);
// Appends the UTF-8 form of a code point (up to U+10FFFF).
void AppendUtf8Char(std::string& out, char32_t u);
// Reads the UTF-8 character at s[i]: true with its code point and length in
// bytes; false where the bytes there are no well-formed character (a stray or
// impossible byte, a cut, overlong or surrogate sequence), with length the
// bytes that broken sequence takes.
bool DecodeUtf8Char(std::string_view s, std::size_t i, char32_t& code, std::size_t& length);
// Whether s is well-formed UTF-8 holding at least one character beyond ASCII,
// as text saved by this system's editors is. Text in the code page can be so
// too (a capital letter before І, і, Ё, №, « and others is a UTF-8
// character), so this alone never decides that text is UTF-8.
bool IsUtf8BeyondAscii(std::string_view s);

// The Unicode code point of one byte.
char32_t AnsiCharToUnicode(char c);
// The byte of a code point, or '?' when the page has none.
char UnicodeToAnsiChar(char32_t u);

}  // namespace rtl
