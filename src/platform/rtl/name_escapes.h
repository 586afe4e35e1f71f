#pragma once
// File names in the program's single-byte text. A name on this system is any
// sequence of bytes, usually UTF-8; the program's text is Windows-1251, which
// spells only part of Unicode. So that a name from the system (a dialog's
// answer, the program's folder, an entry of a folder) always reaches the
// system again byte for byte, whatever in it the code page cannot spell is
// kept in an escape form that only the platform layer reads:
//
//   byte 0x98, then six upper-case hexadecimal digits
//
// The digits give a code point the code page lacks (é is 98 "0000E9", 日 is
// 98 "0065E5"), a control character (which would break a settings line), or
// 0xDC00 plus a byte that is not part of valid UTF-8 (0xFF is 98 "00DCFF").
// 0x98 is the one byte Windows-1251 leaves undefined, so real text never
// holds it; the digits hold no '/' and no '.', so splitting a name into its
// folder, name and extension keeps every escape whole. A 0x98 not followed
// by such digits is an ordinary byte (U+0098), as it always was.
#include <cstddef>
#include <string>
#include <string_view>

namespace rtl {

inline constexpr char NameEscapeLead = '\x98';
inline constexpr std::size_t NameEscapeLength = 7;
// Code points from here to RawByteEscapeBase + 0xFF stand for single bytes.
inline constexpr char32_t RawByteEscapeBase = 0xDC00;

// Program text for a name as the system spells it (any bytes).
std::string EscapeSystemName(std::string_view SysName);
// The system's bytes for program text: escapes become what they stand for,
// every other byte its UTF-8 form.
std::string UnescapeSystemName(std::string_view Name);

// Whether an escape starts at Pos of Text; its code point goes to Code (a
// raw byte b as RawByteEscapeBase + b).
bool NameEscapeAt(std::string_view Text, std::size_t Pos, char32_t& Code);

}  // namespace rtl
