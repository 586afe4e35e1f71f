#include "platform/rtl/strings.h"

#include <algorithm>

namespace rtl {

namespace {

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

std::string TrimLeft(const std::string& s) {
    const auto b = std::find_if_not(s.begin(), s.end(), IsTrimmed);
    return std::string(b, s.end());
}

std::string TrimRight(const std::string& s) {
    const auto e = std::find_if_not(s.rbegin(), s.rend(), IsTrimmed);
    return std::string(s.begin(), e.base());
}

std::string Trim(const std::string& s) { return TrimLeft(TrimRight(s)); }

int PosEx(const std::string& sub, const std::string& s, int offset) {
    if (sub.empty() || offset < 1 || offset > static_cast<int>(s.size())) return 0;
    const auto at = s.find(sub, static_cast<size_t>(offset - 1));
    return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

int Pos(const std::string& sub, const std::string& s) { return PosEx(sub, s, 1); }

std::string Copy(const std::string& s, int index, int count) {
    if (index < 1) index = 1;
    if (count <= 0 || index > static_cast<int>(s.size())) return {};
    return s.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count));
}

std::string StringOfChar(char c, int count) {
    return count > 0 ? std::string(static_cast<size_t>(count), c) : std::string();
}

std::string QuotedStr(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'') out += c;
    }
    return out + "'";
}

std::string UpperCase(const std::string& s) {
    std::string out = s;
    std::transform(out.begin(), out.end(), out.begin(), AsciiUpper);
    return out;
}

std::string LowerCase(const std::string& s) {
    std::string out = s;
    std::transform(out.begin(), out.end(), out.begin(), AsciiLower);
    return out;
}

int CompareStr(const std::string& a, const std::string& b) {
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareText(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(AsciiUpper(a[i]));
        const auto y = static_cast<unsigned char>(AsciiUpper(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameText(const std::string& a, const std::string& b) { return CompareText(a, b) == 0; }

}  // namespace rtl
