#pragma once
// The text of a plug-in source or include file as the compiler reads it:
// in the program's code page (Windows-1251), whatever today's editors saved.
#include <string>

namespace script::runtime {

// What reading a plug-in file gives: the program text, and a warning for
// its author when the other reading would give a text literal other bytes
// (empty otherwise).
struct TPluginSourceText {
    std::string Text;
    std::string Warning;
};

// Bytes is the whole file, FileName names it in messages.
//
// Code-page text is valid UTF-8 now and then: a capital letter followed by
// one of the page's bytes 80-BF (І, і, Ё, ё, №, «, » and others) is a UTF-8
// character, "Рі" (D0 B3) reads as "г", "В§" (C2 A7) as "§". So which
// reading a file gets is settled by what only one of them can hold:
//
// - A file that starts with the UTF-8 byte order mark is UTF-8.
// - A file that is valid UTF-8 and holds two Cyrillic letters in a row in
//   that reading (any word: "да", "привет") is UTF-8. Their bytes read in
//   the code page are a capital Р, С, Т or У and one of the bytes 80-BF,
//   twice in a row ("РґР°"), which no text in the code page has; while two
//   letters А-я in a row in the code page are never valid UTF-8.
// - Any other file is in the code page and read as it is, byte for byte:
//   every plug-in written in the code page keeps its bytes. When it is
//   valid UTF-8 too and a text literal holds a character beyond ASCII,
//   Warning says where, and how the author settles the reading.
//
// In UTF-8 the mark goes, and each character the code page has becomes its
// byte. One it lacks is an error inside a string or character literal
// (those bytes go to the device); in a directive it is kept as the file
// system spells it (rtl::FromSysPath), so that an include name reaches the
// system as written; elsewhere (comments) its bytes are kept as they are.
//
// A UTF-16 or UTF-32 file (with its byte order mark, or UTF-16 without one)
// is refused with a message that says so. Letters outside the code page are
// reported all at once, one "[Error] <file>(<row>:<column>): ..." line each
// ending in "\r", as compiler messages read. Both raise rtl::Exception.
TPluginSourceText ReadPluginSource(const std::string& Bytes, const std::string& FileName);

}  // namespace script::runtime
