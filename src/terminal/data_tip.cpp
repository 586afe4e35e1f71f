#include "terminal/data_tip.h"

#include <algorithm>
#include <cstddef>

#include "platform/rtl/str_proc.h"

namespace terminal {

namespace {

// No panel line is this long; columns beyond it are all "past the end".
constexpr long long kMaxTipColumn = 1 << 30;

bool IsUpperHexDigit(char C) { return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'F'); }

// Columns taken by the byte whose text starts at Pos: three for a "•" with
// two hexadecimal digits, as the line's bytes are read back, else one.
std::size_t AscCellWidth(std::string_view Data, std::size_t Pos) {
    if (Data[Pos] == NonVisibleMark && Pos + 2 < Data.size() && IsUpperHexDigit(Data[Pos + 1]) &&
        IsUpperHexDigit(Data[Pos + 2]))
        return 3;
    return 1;
}

// Inserts Piece before the 1-based position Pos (after the end when Pos is
// past it).
void InsertAt(std::string& Text, int Pos, std::string_view Piece) {
    const std::size_t at = std::min(Text.size(), static_cast<std::size_t>(std::max(Pos, 1) - 1));
    Text.insert(at, Piece);
}

}  // namespace

int ColumnToByteIndex(std::string_view LineData, int Column) {
    if (Column < 1) return Column;
    int index = 0;
    int column = 1;  // first column of the byte being walked
    for (std::size_t pos = 0; pos < LineData.size();) {
        const std::size_t width = AscCellWidth(LineData, pos);
        ++index;
        if (Column < column + static_cast<int>(width)) return index;
        column += static_cast<int>(width);
        pos += width;
    }
    return index + (Column - column + 1);
}

int TipByteIndex(TDataFormat Format, std::string_view LineData, int Column, bool ShowNonVisible) {
    if (Column < 1) return Column;
    switch (Format) {
        case dfDEC: return (Column - 1) / 4 + 1;
        case dfHEX: return (Column - 1) / 3 + 1;
        case dfDW: return (Column - 1) / 6 * 2 + 1;
        case dfHW: return (Column - 1) / 5 * 2 + 1;
        case dfBIN: return (Column - 1) / 9 + 1;
        case dfASC: return ShowNonVisible ? ColumnToByteIndex(LineData, Column) : Column;
        default: return Column;
    }
}

std::string WrapTipText(std::string_view Text, int Unit, int& HighlightPos, int ScreenWidth,
                        int CharWidth) {
    std::string out(Text);
    if (ScreenWidth <= 0) return out;
    Unit = std::max(Unit, 1);
    CharWidth = std::max(CharWidth, 1);
    const int width = std::max((ScreenWidth - CharWidth) / CharWidth / Unit * Unit, Unit);
    // The bound is the length of the growing result, so that the last line
    // is as short as the others.
    for (int pos = width + 2; pos < static_cast<int>(out.size()); pos += width + 2) {
        InsertAt(out, pos, "\r ");
        if (pos <= HighlightPos) HighlightPos += 2;
    }
    return out;
}

std::string DataTipCaption(const TDataTipLine& Line, int X, int CharWidth, bool ShowNonVisible,
                           int ScreenWidth) {
    if (Line.Bytes.empty()) return {};
    CharWidth = std::max(CharWidth, 1);
    const int byteCount = static_cast<int>(Line.Bytes.size());
    // Past the last byte (or over the prefix) nothing is highlighted; the
    // bounds keep the arithmetic far from overflow for any X.
    const long long pixelColumn = static_cast<long long>(X / CharWidth) + 1 - Line.PrefixLen;
    int column = static_cast<int>(std::clamp(pixelColumn, 0LL, kMaxTipColumn));
    column = TipByteIndex(Line.Format, Line.Data, column, ShowNonVisible);
    column = std::clamp(column, 0, byteCount + 1);

    int unit = 1;
    std::string text = " ";
    if (Line.Format == dfASC) {
        unit = 3;
        text += rtl::ArrayToHex(std::string(Line.Bytes), true);
    } else {
        for (const char c : Line.Bytes) {
            const bool hidden = static_cast<unsigned char>(c) < 32 || c == '<';
            text += hidden ? NonVisibleMark : c;
        }
    }
    text += ' ';

    int highlight = (column - 1) * unit + 2;
    text = WrapTipText(text, unit, highlight, ScreenWidth, CharWidth);
    if (column >= 1 && static_cast<int>(text.size()) > highlight) {
        const bool twoChars = Line.Format == dfASC || IsWordFormat(Line.Format);
        InsertAt(text, highlight + (twoChars ? 2 : 1), TipHighlightOff);
        InsertAt(text, highlight, TipHighlightOn);
    }
    return text;
}

vcl::TPoint PlaceDataTip(const vcl::TRect& LineOnScreen, int Width, int Height,
                         const vcl::TRect& Screen) {
    vcl::TPoint at{LineOnScreen.Left, LineOnScreen.Bottom};
    if (Screen.Width() <= 0 || Screen.Height() <= 0) return at;
    if (at.X + Width > Screen.Right) at.X = Screen.Right - Width;
    if (at.X < Screen.Left) at.X = Screen.Left;
    if (at.Y + Height > Screen.Bottom) at.Y = LineOnScreen.Top - Height;
    if (at.Y < Screen.Top) at.Y = Screen.Top;
    return at;
}

}  // namespace terminal
