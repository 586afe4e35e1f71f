#include "platform/rtl/str_proc.h"

#include <algorithm>
#include <cstring>

namespace rtl {

namespace {

// Forward search for C from the 1-based position Start; 0 when not found or
// when Start lies past the end.
int FindChar(const std::string& S, char C, int Start) {
    if (Start < 1 || Start > static_cast<int>(S.size())) return 0;
    const auto at = S.find(C, static_cast<size_t>(Start - 1));
    return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

}  // namespace

void SplitStr(const std::string& S, char Delim, std::vector<std::string>& Parts) {
    Parts.clear();
    if (S.empty()) return;
    Parts.resize(static_cast<size_t>(std::count(S.begin(), S.end(), Delim)) + 1);
    int from = 1;
    for (auto& part : Parts) {
        const int at = FindChar(S, Delim, from);
        const int end = at == 0 ? static_cast<int>(S.size()) + 1 : at;
        part = S.substr(static_cast<size_t>(from - 1), static_cast<size_t>(end - from));
        from = end + 1;
    }
}

std::string CutToken(std::string& S, char Delim) {
    const auto at = S.find(Delim);
    std::string token;
    if (at == std::string::npos) {
        token.swap(S);
    } else {
        token = S.substr(0, at);
        S.erase(0, at + 1);
    }
    return token;
}

std::string NextToken(const std::string& S, char Delim, int& Pos) {
    const int length = static_cast<int>(S.size());
    if (Pos >= length) {
        Pos = length + 1;
        return {};
    }
    // A start before the text counts from its first character.
    Pos = std::max(Pos, 0) + 1;
    const int at = FindChar(S, Delim, Pos);
    const int end = at == 0 ? length + 1 : at;
    std::string token = S.substr(static_cast<size_t>(Pos - 1), static_cast<size_t>(end - Pos));
    Pos = end;
    return token;
}

std::string BufToHex(const void* Buf, int Len, bool InsertSpace) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (Buf == nullptr || Len <= 0) return {};
    const auto* p = static_cast<const unsigned char*>(Buf);
    std::string out;
    out.reserve(static_cast<size_t>(Len) * 3);
    for (int i = 0; i < Len; ++i) {
        if (InsertSpace && i > 0) out += ' ';
        out += kDigits[p[i] >> 4];
        out += kDigits[p[i] & 15];
    }
    return out;
}

std::string ArrayToHex(const std::string& S, bool InsertSpace) {
    return BufToHex(S.data(), static_cast<int>(S.size()), InsertSpace);
}

std::string BufToStr(const void* Buf, int Len) {
    if (Buf == nullptr || Len <= 0) return {};
    return std::string(static_cast<const char*>(Buf), static_cast<size_t>(Len));
}

std::string Reverse(const std::string& S) { return std::string(S.rbegin(), S.rend()); }

int LastCharPos(char C, const std::string& S, int StartPos) {
    for (int i = std::clamp(StartPos, 0, static_cast<int>(S.size())); i >= 1; --i)
        if (S[static_cast<size_t>(i - 1)] == C) return i;
    return 0;
}

int RPosEx(const std::string& SubStr, const std::string& S, int StartPos) {
    const size_t zero = SubStr.find('\0');
    const size_t compared = zero == std::string::npos ? SubStr.size() : zero;
    int i = std::min(static_cast<int>(S.size()) - static_cast<int>(SubStr.size()) + 1, StartPos);
    for (; i >= 1; --i)
        if (std::memcmp(S.data() + (i - 1), SubStr.data(), compared) == 0) return i;
    return 0;
}

}  // namespace rtl
