#pragma once
// String routines of the runtime on 8-bit strings. Positions count from 1,
// 0 means "not found". Case-insensitive routines here know ASCII only; the
// Windows-1251 ones are in cp1251.h.
#include <string>

namespace rtl {

// Strip characters up to and including blank (control characters too).
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);

int Pos(const std::string& sub, const std::string& s);
// Search from position offset (1-based); 0 when offset is below 1 or past the end.
int PosEx(const std::string& sub, const std::string& s, int offset = 1);
// Copy(s, index, count) clamps an index below 1 to 1 (plug-ins rely on it).
std::string Copy(const std::string& s, int index, int count);

std::string StringOfChar(char c, int count);
// 'text' with every quote doubled.
std::string QuotedStr(const std::string& s);

std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
// Byte order; < 0, 0, > 0.
int CompareStr(const std::string& a, const std::string& b);
// ASCII case-insensitive byte order.
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);

}  // namespace rtl
