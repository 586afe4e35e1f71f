#pragma once
// The data tip's text: while Ctrl is held over a receive line, the tip shows
// the line's bytes in a second representation (hexadecimal for ASC lines,
// characters for numeric lines) with the byte under the mouse highlighted in
// the text style "h". Everything here is pure: the window that shows the text
// is TfrmData (data_tip_form.h).
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/vcl/graphics.h"
#include "terminal/receive_format.h"

namespace terminal {

// The tags that start and end the highlighted byte.
inline constexpr std::string_view TipHighlightOn = "<y=h>";
inline constexpr std::string_view TipHighlightOff = "<y=.>";

// The 1-based byte index of the byte drawn at a 1-based column of an ASC
// line's data while non-visible codes are shown: a "•" with its two
// hexadecimal digits is one byte over three columns, any other character one
// byte. Columns past the text count one byte each (so they never land on the
// last byte); a column below 1 is returned unchanged.
int ColumnToByteIndex(std::string_view LineData, int Column);

// The 1-based byte index under a 1-based column of a line's data in Format:
// DEC tokens take 4 columns, HEX 3, BIN 9; DW and HW give the index of the
// word's first byte (6 and 5 columns per word); ASC is one column per byte,
// or ColumnToByteIndex while non-visible codes are shown. A column over the
// prefix (below 1) stays as it is: it highlights nothing.
int TipByteIndex(TDataFormat Format, std::string_view LineData, int Column, bool ShowNonVisible);

// Breaks Text into lines that fit the screen: Width is (ScreenWidth −
// CharWidth) div CharWidth div Unit × Unit characters (at least one Unit), and
// "\r " is inserted at position Width + 2 and every Width + 2 characters of
// the result after it, so each line holds whole units. Every insertion at or
// before the 1-based HighlightPos moves it on by 2. A ScreenWidth of 0 or
// less (not known) leaves the text whole.
std::string WrapTipText(std::string_view Text, int Unit, int& HighlightPos, int ScreenWidth,
                        int CharWidth);

// The line the tip describes.
struct TDataTipLine {
    TDataFormat Format = dfHEX;
    std::uint8_t PrefixLen = 0;  // characters of time and direction prefix
    std::string_view Data;       // the line's text after the prefix
    std::string_view Bytes;      // the bytes the text stands for
};

// The tip's caption for the mouse at client X of the panel (CharWidth pixels
// per character): the bytes with one blank before and after, as hexadecimal
// pairs with blanks for ASC lines, as characters for the other formats (a
// byte below 32 and "<" become "•"), wrapped to ScreenWidth, with the byte
// under the mouse between TipHighlightOn and TipHighlightOff (both digits of
// an ASC byte, both bytes of a DW or HW word). Empty when the line has no
// bytes: the tip is then hidden.
std::string DataTipCaption(const TDataTipLine& Line, int X, int CharWidth, bool ShowNonVisible,
                           int ScreenWidth);

// Where a tip of Width × Height goes: at the left-bottom corner of the hovered
// line, moved left so that it does not cross the right edge of the screen,
// and above the line when it would cross the bottom edge. An empty Screen
// (not known) places it at the corner.
vcl::TPoint PlaceDataTip(const vcl::TRect& LineOnScreen, int Width, int Height,
                         const vcl::TRect& Screen);

}  // namespace terminal
