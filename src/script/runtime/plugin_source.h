#pragma once
// The text of a plug-in source or include file as the compiler reads it:
// in the program's code page (Windows-1251), whatever today's editors saved.
#include <string>

namespace script::runtime {

// Bytes is the whole file, FileName names it in messages.
//
// A file that starts with the UTF-8 byte order mark, or that is valid UTF-8
// and holds bytes above 127, is UTF-8: the mark goes, and each character the
// code page has becomes its byte. One it lacks is an error inside a string
// or character literal (those bytes go to the device); in a directive it is
// kept as the file system spells it (rtl::FromSysPath), so that an include
// name reaches the system as written; elsewhere (comments) its bytes are
// kept as they are. Any other file is in the code page and read as it is:
// Cyrillic text in the code page is almost never valid UTF-8.
//
// A UTF-16 or UTF-32 file (with its byte order mark, or UTF-16 without one)
// is refused with a message that says so. Letters outside the code page are
// reported all at once, one "[Error] <file>(<row>:<column>): ..." line each
// ending in "\r", as compiler messages read. Both raise rtl::Exception.
std::string PluginSourceText(const std::string& Bytes, const std::string& FileName);

}  // namespace script::runtime
