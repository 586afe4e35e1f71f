#include "platform/rtl/name_escapes.h"

#include "platform/rtl/cp1251.h"

namespace rtl {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsRawByteCode(char32_t Code) { return Code >= RawByteEscapeBase + 0x80 && Code <= RawByteEscapeBase + 0xFF; }

// A character that program text must keep escaped: one the code page lacks,
// U+0098 (whose byte leads the escapes), and the control characters, which
// would cut a name short or break it over lines in the settings file.
bool NeedsEscape(char32_t Code) {
    if (Code < 0x20 || Code == 0x7F || Code == 0x98) return true;
    if (Code < 0x80) return false;
    return UnicodeToAnsiChar(Code) == '?';
}

bool IsScalar(char32_t Code) { return Code <= 0x10FFFF && !(Code >= 0xD800 && Code <= 0xDFFF); }

void AppendEscape(std::string& Out, char32_t Code) {
    Out += NameEscapeLead;
    for (int shift = 20; shift >= 0; shift -= 4) Out += kHexDigits[(Code >> shift) & 0xF];
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // lower-case digits too: one name has one spelling
}

}  // namespace

bool NameEscapeAt(std::string_view Text, std::size_t Pos, char32_t& Code) {
    if (Pos + NameEscapeLength > Text.size() || Text[Pos] != NameEscapeLead) return false;
    char32_t value = 0;
    for (std::size_t k = 1; k < NameEscapeLength; ++k) {
        const int digit = HexValue(Text[Pos + k]);
        if (digit < 0) return false;
        value = (value << 4) | static_cast<char32_t>(digit);
    }
    // Only what EscapeSystemName writes counts; any other digits after a
    // 0x98 are text as they stand.
    if (!IsRawByteCode(value) && !(IsScalar(value) && NeedsEscape(value))) return false;
    Code = value;
    return true;
}

std::string EscapeSystemName(std::string_view SysName) {
    std::string out;
    out.reserve(SysName.size());
    std::size_t i = 0;
    while (i < SysName.size()) {
        char32_t code = 0;
        std::size_t len = 0;
        if (!DecodeUtf8Char(SysName, i, code, len)) {
            // One byte that is no character: kept as that byte.
            AppendEscape(out, RawByteEscapeBase + static_cast<unsigned char>(SysName[i]));
            ++i;
            continue;
        }
        i += len;
        if (NeedsEscape(code))
            AppendEscape(out, code);
        else
            out += UnicodeToAnsiChar(code);
    }
    return out;
}

std::string UnescapeSystemName(std::string_view Name) {
    std::string out;
    out.reserve(Name.size() * 2);
    std::size_t i = 0;
    while (i < Name.size()) {
        char32_t code = 0;
        if (NameEscapeAt(Name, i, code)) {
            if (IsRawByteCode(code))
                out += static_cast<char>(code - RawByteEscapeBase);
            else
                AppendUtf8Char(out, code);
            i += NameEscapeLength;
            continue;
        }
        AppendUtf8Char(out, AnsiCharToUnicode(Name[i]));
        ++i;
    }
    return out;
}

std::string PlainInMessage(std::string_view Plain) {
    std::string out;
    out.reserve(Plain.size());
    for (char c : Plain) {
        if (c == NameEscapeLead)
            AppendEscape(out, static_cast<unsigned char>(NameEscapeLead));
        else
            out += c;
    }
    return out;
}

std::string MessageToUtf8(std::string_view Message) { return UnescapeSystemName(Message); }

std::size_t LastMessageCharStart(std::string_view Message) {
    if (Message.empty()) return 0;
    char32_t code = 0;
    if (Message.size() >= NameEscapeLength && NameEscapeAt(Message, Message.size() - NameEscapeLength, code))
        return Message.size() - NameEscapeLength;
    return Message.size() - 1;
}

}  // namespace rtl
