#pragma once
// The text of a plug-in source or include file as the compiler reads it:
// in the program's code page (Windows-1251), whatever today's editors saved.
#include <string>

namespace script::runtime {

// The two ways a plug-in file can be read.
enum class TSourceEncoding { CodePage, Utf8 };

// What reading a plug-in file gives: the program text, how it was read, and
// a warning for its author when the other reading would give a text literal
// other bytes (empty otherwise).
struct TPluginSourceText {
    std::string Text;
    std::string Warning;
    TSourceEncoding Encoding = TSourceEncoding::CodePage;
};

// Bytes is the whole file, FileName names it in messages. Undecided is the
// reading of a file whose own bytes do not settle it: an include is read
// the way the file that includes it was read (an include holding a single
// Cyrillic letter belongs to the plug-in that includes it), the plug-in
// file itself in the code page.
//
// Code-page text is valid UTF-8 now and then: a capital letter followed by
// one of the page's bytes 80-BF (І, і, Ё, ё, №, «, » and others) is a UTF-8
// character, "Рі" (D0 B3) reads as "г", "В§" (C2 A7) as "§". So a file's own
// bytes settle its reading only by what just one of the readings holds:
//
// - A file that starts with the UTF-8 byte order mark is UTF-8.
// - A file holding bytes that are no UTF-8 is in the code page (two letters
//   А-я in a row in the code page never are).
// - A file that is valid UTF-8 and holds two letters of modern Russian or
//   Ukrainian (А-я, Ё, ё, Є, є, І, і, Ї, ї, Ґ, ґ) in a row in that reading,
//   as any word of theirs does, is UTF-8. Read in the code page those bytes
//   are a capital Р, С or Т and one of the bytes 80-BF, twice in a row
//   ("РґР°"), which no Russian or Ukrainian word holds. The other Cyrillic
//   letters do not count: their bytes are such capitals as "СІ" and "ТІ"
//   (Ѳ and Ҳ in UTF-8), which code-page text in capitals does hold ("СІРІ").
// - Any other file (ASCII only, or valid UTF-8 without such a pair) is read
//   the Undecided way. In the code page it keeps its bytes; when it is
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
TPluginSourceText ReadPluginSource(const std::string& Bytes, const std::string& FileName,
                                   TSourceEncoding Undecided = TSourceEncoding::CodePage);

}  // namespace script::runtime
