#pragma once
// Stateless routines on 8-bit strings that several layers share (the
// Ethernet port's settings text, the terminal, the plug-in library):
// splitting and tokenizing at a delimiter, hexadecimal dumps, byte buffers to
// strings, reversing, backward search. Positions count from 1; 0 means
// "none". The terminal's string procedures (terminal/common_str_proc.h) are
// these plus whole-file load and save.
#include <string>
#include <vector>

namespace rtl {

// Empty S gives no parts; otherwise (number of Delim in S) + 1 parts, empty
// ones included.
void SplitStr(const std::string& S, char Delim, std::vector<std::string>& Parts);
// The text before the first Delim, removed from S with the Delim; without a
// Delim the whole S, leaving S empty.
std::string CutToken(std::string& S, char Delim);
// Pos := Pos + 1; the text from Pos up to the next Delim (or the end), with
// Pos left on that Delim (or at Length(S) + 1). Start with Pos = 0.
std::string NextToken(const std::string& S, char Delim, int& Pos);
// Two upper-case hexadecimal digits per byte, optionally one blank between bytes.
std::string BufToHex(const void* Buf, int Len, bool InsertSpace);
std::string ArrayToHex(const std::string& S, bool InsertSpace);
std::string BufToStr(const void* Buf, int Len);
std::string Reverse(const std::string& S);
// The highest i <= StartPos (limited to 0..Length(S)) with S[i] = C, else 0.
int LastCharPos(char C, const std::string& S, int StartPos);
// The highest i <= min(StartPos, Length(S) - Length(SubStr) + 1), i >= 1, at
// which S holds SubStr (compared up to its first zero byte), else 0.
int RPosEx(const std::string& SubStr, const std::string& S, int StartPos);

}  // namespace rtl
