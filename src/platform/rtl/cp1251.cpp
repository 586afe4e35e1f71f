#include "platform/rtl/cp1251.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace rtl {

namespace {

// Code points of the bytes 0x80..0xBF (0xC0..0xFF are А..я in order). 0x98 has no character in the page; it
// maps to U+0098 so that every byte survives a round trip.
constexpr std::array<char16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

// Upper-case letters of the page outside the two contiguous alphabets, with
// their lower-case partners.
constexpr std::array<std::pair<unsigned char, unsigned char>, 15> kCasePairs = {{
    {0x80, 0x90},  // Ђ ђ
    {0x81, 0x83},  // Ѓ ѓ
    {0x8A, 0x9A},  // Љ љ
    {0x8C, 0x9C},  // Њ њ
    {0x8D, 0x9D},  // Ќ ќ
    {0x8E, 0x9E},  // Ћ ћ
    {0x8F, 0x9F},  // Џ џ
    {0xA1, 0xA2},  // Ў ў
    {0xA3, 0xBC},  // Ј ј
    {0xA5, 0xB4},  // Ґ ґ
    {0xA8, 0xB8},  // Ё ё
    {0xAA, 0xBA},  // Є є
    {0xAF, 0xBF},  // Ї ї
    {0xB2, 0xB3},  // І і
    {0xBD, 0xBE},  // Ѕ ѕ
}};

struct TCaseTables {
    std::array<unsigned char, 256> upper{}, lower{};
    constexpr TCaseTables() {
        for (int i = 0; i < 256; ++i) upper[i] = lower[i] = static_cast<unsigned char>(i);
        for (int i = 'a'; i <= 'z'; ++i) upper[i] = static_cast<unsigned char>(i - 32);
        for (int i = 'A'; i <= 'Z'; ++i) lower[i] = static_cast<unsigned char>(i + 32);
        for (int i = 0xE0; i <= 0xFF; ++i) upper[i] = static_cast<unsigned char>(i - 32);
        for (int i = 0xC0; i <= 0xDF; ++i) lower[i] = static_cast<unsigned char>(i + 32);
        for (const auto& [up, low] : kCasePairs) {
            upper[low] = up;
            lower[up] = low;
        }
    }
};

constexpr TCaseTables kCase;

// Sort key of one byte: its code point, doubled so that Ё and ё can sit
// right after Е and е.
char32_t SortKey(unsigned char b) {
    const char32_t u = AnsiCharToUnicode(static_cast<char>(b));
    if (u == 0x0401) return 0x0415 * 2 + 1;
    if (u == 0x0451) return 0x0435 * 2 + 1;
    return u * 2;
}

int CompareKeys(const std::string& a, const std::string& b, bool ignoreCase) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (ignoreCase) {
            x = kCase.upper[x];
            y = kCase.upper[y];
        }
        const char32_t kx = SortKey(x), ky = SortKey(y);
        if (kx != ky) return kx < ky ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

char32_t AnsiCharToUnicode(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) return b;
    if (b >= 0xC0) return char32_t(0x0410 + (b - 0xC0));
    return kHigh[b - 0x80];
}

char UnicodeToAnsiChar(char32_t u) {
    if (u < 0x80) return static_cast<char>(u);
    if (u >= 0x0410 && u <= 0x044F) return static_cast<char>(0xC0 + (u - 0x0410));
    for (size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == u) return static_cast<char>(0x80 + i);
    return '?';
}

char AnsiUpperChar(char c) { return static_cast<char>(kCase.upper[static_cast<unsigned char>(c)]); }
char AnsiLowerChar(char c) { return static_cast<char>(kCase.lower[static_cast<unsigned char>(c)]); }

std::string AnsiUpperCase(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = AnsiUpperChar(c);
    return out;
}

std::string AnsiLowerCase(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = AnsiLowerChar(c);
    return out;
}

int AnsiCompareText(const std::string& a, const std::string& b) { return CompareKeys(a, b, true); }
int AnsiCompareStr(const std::string& a, const std::string& b) { return CompareKeys(a, b, false); }
bool AnsiSameText(const std::string& a, const std::string& b) { return AnsiCompareText(a, b) == 0; }

void AppendUtf8Char(std::string& out, char32_t u) {
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (u >> 18));
        out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

std::string AnsiToUtf8(const std::string& ansi) {
    std::string out;
    out.reserve(ansi.size() * 2);
    for (char c : ansi) AppendUtf8Char(out, AnsiCharToUnicode(c));
    return out;
}

bool DecodeUtf8Char(std::string_view s, std::size_t i, char32_t& code, std::size_t& length) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len;
    if (b < 0x80) {
        code = b;
        length = 1;
        return true;
    } else if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        code = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        code = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        code = b & 0x07;
    } else {
        length = 1;  // a stray continuation byte or an impossible lead byte
        return false;
    }
    std::size_t k = 1;
    for (; k < len && i + k < s.size(); ++k) {
        const auto cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) break;
        code = (code << 6) | (cb & 0x3F);
    }
    length = k;
    if (k < len) return false;  // cut short
    const bool overlong = (len == 3 && code < 0x800) || (len == 4 && code < 0x10000);
    return !overlong && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
}

bool IsUtf8BeyondAscii(std::string_view s) {
    bool beyond = false;
    for (std::size_t i = 0, length = 0; i < s.size(); i += length) {
        char32_t code = 0;
        if (!DecodeUtf8Char(s, i, code, length)) return false;
        beyond = beyond || length > 1;
    }
    return beyond;
}

std::string Utf8ToAnsi(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0, length = 0; i < utf8.size(); i += length) {
        char32_t u = 0;
        // A broken sequence becomes one '?' for all of its bytes.
        out += DecodeUtf8Char(utf8, i, u, length) ? UnicodeToAnsiChar(u) : '?';
    }
    return out;
}

}  // namespace rtl
