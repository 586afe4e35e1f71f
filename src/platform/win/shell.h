#pragma once
// Opening a document with the desktop's default handler, in the shape of
// the Win32 shell call: the result is above 32 on success, otherwise one of
// the shell's error codes.
#include <string>

namespace win {

constexpr int SW_SHOWNORMAL = 1;

// Shell error codes (results of 32 or less mean failure).
constexpr int SE_ERR_FNF = 2;           // the file does not exist (or its name cannot be handed on)
constexpr int SE_ERR_ACCESSDENIED = 5;  // the file cannot be read
constexpr int SE_ERR_NOASSOC = 31;      // no handler for it, or it could not be started
constexpr int SE_ERR_OK = 42;           // what a successful call answers

// Opens File (a document path in the program's 8-bit text) with the verb
// "open" (any case; an empty verb means the same). The desktop's opener
// runs detached; its own later failures are not seen here. Other verbs
// answer SE_ERR_NOASSOC.
int ShellExecute(const std::string& Verb, const std::string& File, int ShowCmd);

}  // namespace win
