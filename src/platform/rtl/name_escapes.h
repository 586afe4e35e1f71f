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
// by such digits is an ordinary byte (U+0098), as it always was. The digits
// are upper case and name only what the escape form must carry, so that two
// program texts never name one file.
//
// Only names are read this way. Plain text (received bytes, a line typed
// for the device, the history, a profile's name) keeps its bytes wherever it
// goes, 0x98 included. Message text (what the program writes for a person
// to read: a message box, a hint, a caption, an error line of the receive
// list, a trace on standard error) may hold names and shows their letters;
// plain text quoted in a message goes in through PlainInMessage, so that
// none of its bytes is ever shown as a name.
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

// Plain text for a message: each 0x98 written as the escape of U+0098, so
// that a message display shows it as the byte it is.
std::string PlainInMessage(std::string_view Plain);
// A message as this system spells text: UTF-8, with each name's letters
// (and a name's bytes that are no UTF-8 as they are).
std::string MessageToUtf8(std::string_view Message);
// Where the last character of a message starts (an escape is one
// character); 0 for an empty one.
std::size_t LastMessageCharStart(std::string_view Message);

// Whether an escape starts at Pos of Text; its code point goes to Code (a
// raw byte b as RawByteEscapeBase + b).
bool NameEscapeAt(std::string_view Text, std::size_t Pos, char32_t& Code);

}  // namespace rtl
