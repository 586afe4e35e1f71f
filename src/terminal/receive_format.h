#pragma once
// Pure rendering of the receive panel: one byte as a token in each data
// format, the time part of a line prefix, and reading a line's bytes back
// from its text. Nothing here keeps state between calls; the pairing of
// bytes into words is the caller's business.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace terminal {

// Receive data format codes. 0-5 render bytes; 6 and 7 mark whole-text lines.
using TDataFormat = std::uint8_t;
inline constexpr TDataFormat dfDEC = 0;
inline constexpr TDataFormat dfHEX = 1;
inline constexpr TDataFormat dfDW = 2;
inline constexpr TDataFormat dfHW = 3;
inline constexpr TDataFormat dfASC = 4;
inline constexpr TDataFormat dfBIN = 5;
inline constexpr TDataFormat dfERR = 6;
inline constexpr TDataFormat dfMSG = 7;

// The name shown in the format label and used by the settings ("HEX", ...);
// empty for a code above 7.
std::string_view DataFormatName(TDataFormat Format);

// True for the word formats, which render one token per two bytes.
constexpr bool IsWordFormat(TDataFormat Format) { return Format == dfDW || Format == dfHW; }

// The character that introduces a non-visible code in ASC lines ("•").
inline constexpr char NonVisibleMark = '\x95';

// True when ASC shows the byte as itself: 32 and above except 127, 149, 152.
constexpr bool IsAscVisible(std::uint8_t B) { return B >= 32 && B != 127 && B != 149 && B != 152; }

// Appends the token of one byte (DEC, HEX, ASC, BIN) or of one word (DW, HW:
// Value is byte x 256 + low byte) to Out and returns the width it counts for
// wrapping. In ASC a non-visible byte counts 3 only when its hexadecimal
// digits are shown (ShowNonVisible), otherwise 1.
int AppendToken(std::string& Out, TDataFormat Format, std::uint16_t Value, bool ShowNonVisible);

// The width of a byte's token in the formats where it never varies (DEC,
// HEX, BIN); 0 in the others.
constexpr int FixedTokenWidth(TDataFormat Format) {
    return Format == dfDEC ? 3 : Format == dfHEX ? 2 : Format == dfBIN ? 8 : 0;
}

// Appends a space and the token of each of Count bytes, for a format of
// fixed token width: what AppendToken gives byte by byte, in one go.
void AppendSpacedTokens(std::string& Out, TDataFormat Format, const std::uint8_t* Data, std::size_t Count);

// "01001101": eight binary digits, most significant first.
std::string ByteToBinText(std::uint8_t B);
// The inverse: S must be exactly 8 characters (assertion "Length(s) = 8");
// each character contributes its code minus 48 to its bit (plug-ins rely on
// what other characters than 0 and 1 give).
std::uint8_t BinTextToByte(std::string_view S);

// A line text as it is drawn: while non-visible codes are hidden, the two
// characters after every "•" (from the first one on) are dropped.
std::string HideNonVisibleCodes(std::string_view Text);

// Time resolutions of the line prefix (RVPnlTime).
inline constexpr int tpNone = 0;
inline constexpr int tpMinutes = 1;
inline constexpr int tpSeconds = 2;
inline constexpr int tpMilliseconds = 3;
inline constexpr int tpFreeFormat = 4;

// The time part of a line prefix at resolution RVPnlTime (empty for 0);
// Time is a date-time, days since 1899-12-30. The free format uses the
// runtime library's date-time letters.
std::string FormatPrefixTime(int RVPnlTime, std::string_view FreeFormat, double Time);

// How a line prefix is made: the time resolution, the free format, and
// whether the direction mark is shown.
struct TPrefixStyle {
    int RVPnlTime = tpSeconds;
    std::string FreeFormat;
    bool Mark = true;
    bool operator==(const TPrefixStyle&) const = default;
};

// The longest prefix a line record can describe (PrefixLen is 8 bits).
inline constexpr std::size_t MaxPrefixLen = 255;

// A line's time and direction prefix: the time part, then "<" (Dir 0),
// "«" (Dir 1) or ">" (Dir 2) when the mark is shown. The time part is cut so
// that the whole prefix stays within MaxPrefixLen.
std::string FormatLinePrefix(const TPrefixStyle& Style, std::uint8_t Dir, double Time);

// True when two time stamps show differently at the resolution: the full
// date and time are compared (the hour and the day count too), so a line
// never continues hours later under its old stamp. Resolution 0 never differs.
bool TimeChangedAtResolution(int RVPnlTime, std::string_view FreeFormat, double LineTime,
                             double Now);

// The bytes of a line's data text (its text without prefix), read back by
// the line's format: ASC decodes "•" plus two hexadecimal digits; DEC/DW and
// HEX/HW read blank-separated numbers (DW and HW give two bytes, low first);
// BIN reads 8-digit tokens; ERR and MSG give nothing. A token that is not a
// number raises rtl::EConvertError naming the text.
std::string DecodeLineBytes(TDataFormat Format, std::string_view Data);

}  // namespace terminal
