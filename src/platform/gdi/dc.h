#pragma once
// The device context: a drawing surface with GDI's calls, arguments and
// rules. Two kinds exist:
//   - raster: draws into the pixels of the selected bitmap (a memory DC,
//     CreateCompatibleDC) or onto a window while it paints (made by the
//     class library, see qt_gdi.h);
//   - recording (CreateRecordingDC): keeps every call with its arguments and
//     the objects selected at that moment, for export as a metafile; it
//     answers text and clip queries exactly as a raster DC of its size.
//
// GDI's edge rules hold: rectangles leave out their right and bottom edges,
// lines their last pixel. Coordinates may be any 32-bit value.
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi/objects.h"
#include "platform/gdi/types.h"

namespace gdi {

class DC;
using HDC = DC*;

// The calls a recording DC keeps, one record each.
enum class RecordOp {
    SelectPen,
    SelectBrush,
    SelectFont,
    SetBkColor,
    SetBkMode,
    SetTextColor,
    SetTextAlign,
    SetROP2,
    SetTextCharacterExtra,
    SetPolyFillMode,
    SetArcDirection,
    SetDCPenColor,
    SetDCBrushColor,
    MoveTo,
    LineTo,
    Polyline,
    Polygon,
    Rectangle,
    RoundRect,
    Ellipse,
    Arc,
    ArcTo,
    Pie,
    Chord,
    FillRect,
    SetPixel,
    PatBlt,
    BitBlt,
    StretchBlt,
    AlphaBlend,
    TextOut,
    ExtTextOut,
    BeginPath,
    EndPath,
    AbortPath,
    StrokePath,
    FillPath,
    StrokeAndFillPath,
    WidenPath,
    SelectClipPath,
    ExtSelectClipRgn,
};
const char* RecordOpName(RecordOp op);

// The state of the device context when a call was made.
struct RecordState {
    HPEN Pen;
    HBRUSH Brush;
    HFONT Font;
    COLORREF TextColor = 0;
    COLORREF BkColor = 0;
    COLORREF DCPenColor = 0;
    COLORREF DCBrushColor = 0;
    int BkMode = OPAQUE;
    int Rop2 = R2_COPYPEN;
    unsigned TextAlign = 0;
    int CharExtra = 0;
    int PolyFillMode = ALTERNATE;
    int ArcDirection = AD_COUNTERCLOCKWISE;
    POINT Position;  // current position before the call
};

struct Record {
    RecordOp Op;
    std::vector<int> Args;      // the integer arguments in the call's order
    std::vector<POINT> Points;  // the point array of Polyline, Polygon
    std::u16string Text;        // text calls (8-bit text converted)
    HRGN Region;                // ExtSelectClipRgn: a copy, or none; SelectClipPath: the path's pixels
    HBITMAP Image;              // block transfers: the source pixels used
    RecordState State;  // FillRect: State.Brush is the brush it fills with
};

// Blend of AlphaBlend: constant alpha 0..255, AC_SRC_ALPHA to use the
// source's own alpha as well.
struct BLENDFUNCTION {
    std::uint8_t BlendOp = 0;  // AC_SRC_OVER
    std::uint8_t BlendFlags = 0;
    std::uint8_t SourceConstantAlpha = 255;
    std::uint8_t AlphaFormat = 0;  // 0 or AC_SRC_ALPHA
};
constexpr std::uint8_t AC_SRC_OVER = 0;
constexpr std::uint8_t AC_SRC_ALPHA = 1;

class DC {
public:
    ~DC();
    DC(const DC&) = delete;
    DC& operator=(const DC&) = delete;

    // A memory DC for drawing into bitmaps; until one is selected its
    // surface is a single white pixel.
    static std::unique_ptr<DC> CreateCompatibleDC();
    // A recording DC whose surface is width x height.
    static std::unique_ptr<DC> CreateRecordingDC(int width, int height);

    bool IsRecording() const;
    const std::vector<Record>& Records() const;
    // Hands the records over, leaving none.
    std::vector<Record> TakeRecords();
    void ClearRecords();
    // Size of the surface (the selected bitmap, the window, the recording).
    int Width() const;
    int Height() const;

    // ---- Objects (SelectObject): each returns the object it replaces.
    HPEN SelectObject(const HPEN& pen);
    HBRUSH SelectObject(const HBRUSH& brush);
    HFONT SelectObject(const HFONT& font);
    HBITMAP SelectObject(const HBITMAP& bitmap);  // memory DCs only
    // Selecting a region is SelectClipRgn; returns the new clip's kind.
    int SelectObject(const HRGN& region);
    HPEN CurrentPen() const;
    HBRUSH CurrentBrush() const;
    HFONT CurrentFont() const;
    HBITMAP CurrentBitmap() const;

    COLORREF SetDCPenColor(COLORREF color);
    COLORREF GetDCPenColor() const;
    COLORREF SetDCBrushColor(COLORREF color);
    COLORREF GetDCBrushColor() const;

    // ---- Attributes: each setter returns the previous value.
    COLORREF SetBkColor(COLORREF color);
    COLORREF GetBkColor() const;
    int SetBkMode(int mode);  // 0 (and the previous mode kept) for a bad mode
    int GetBkMode() const;
    COLORREF SetTextColor(COLORREF color);
    COLORREF GetTextColor() const;
    unsigned SetTextAlign(unsigned align);
    unsigned GetTextAlign() const;
    int SetROP2(int rop2);  // 0 (and the previous mode kept) for a bad mode
    int GetROP2() const;
    int SetTextCharacterExtra(int extra);
    int GetTextCharacterExtra() const;
    int SetPolyFillMode(int mode);
    int GetPolyFillMode() const;
    int SetArcDirection(int direction);
    int GetArcDirection() const;
    int GetMapMode() const { return MM_TEXT; }
    // Logical to device units: one to one here.
    bool LPtoDP(std::span<POINT> points) const;

    // ---- Lines and shapes
    bool MoveToEx(int x, int y, POINT* old = nullptr);
    POINT GetCurrentPositionEx() const;
    bool LineTo(int x, int y);
    bool Polyline(std::span<const POINT> points);
    bool Polygon(std::span<const POINT> points);
    bool Rectangle(int left, int top, int right, int bottom);
    bool RoundRect(int left, int top, int right, int bottom, int width, int height);
    bool Ellipse(int left, int top, int right, int bottom);
    // Arc, pie and chord: the bounding box, then the radial start and end
    // points; drawn in the arc direction (counter-clockwise unless set).
    bool Arc(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd);
    bool ArcTo(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd);
    bool Pie(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd);
    bool Chord(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd);
    // Fills with the brush, whatever the ROP2 mode; no outline.
    bool FillRect(const RECT& rect, const HBRUSH& brush);
    COLORREF SetPixel(int x, int y, COLORREF color);  // CLR_INVALID when not drawn
    COLORREF GetPixel(int x, int y) const;            // CLR_INVALID when it cannot be read

    // ---- Block transfers (ternary raster operations)
    bool PatBlt(int x, int y, int width, int height, DWORD rop);
    bool BitBlt(int x, int y, int width, int height, const DC* source, int xSrc, int ySrc,
                DWORD rop);
    // Nearest pixel; a negative width or height mirrors.
    bool StretchBlt(int x, int y, int width, int height, const DC* source, int xSrc, int ySrc,
                    int widthSrc, int heightSrc, DWORD rop);
    bool AlphaBlend(int x, int y, int width, int height, const DC* source, int xSrc, int ySrc,
                    int widthSrc, int heightSrc, BLENDFUNCTION blend);

    // ---- Text: 8-bit text is in the program's code page (Windows-1251).
    bool TextOut(int x, int y, std::string_view text);
    bool TextOutW(int x, int y, std::u16string_view text);
    bool ExtTextOut(int x, int y, unsigned options, const RECT* rect, std::string_view text);
    bool ExtTextOutW(int x, int y, unsigned options, const RECT* rect, std::u16string_view text);
    bool GetTextExtentPoint32(std::string_view text, SIZE* size) const;
    bool GetTextExtentPoint32W(std::u16string_view text, SIZE* size) const;
    bool GetTextMetrics(TEXTMETRIC* metrics) const;

    // ---- Paths
    bool BeginPath();
    bool EndPath();
    bool AbortPath();
    bool StrokePath();
    bool FillPath();
    bool StrokeAndFillPath();
    bool WidenPath();
    bool SelectClipPath(int mode);

    // ---- Clipping
    // mode RGN_COPY with no region removes the clip. Without a clip the
    // other modes combine with the whole surface. Returns the new clip's
    // kind, RGN_ERROR on a bad argument (the clip is then unchanged).
    int ExtSelectClipRgn(const HRGN& region, int mode);
    int SelectClipRgn(const HRGN& region) { return ExtSelectClipRgn(region, RGN_COPY); }
    int IntersectClipRect(int left, int top, int right, int bottom);
    int ExcludeClipRect(int left, int top, int right, int bottom);
    // 1 and a copy in region when there is a clip, 0 when there is none,
    // -1 when region is missing.
    int GetClipRgn(const HRGN& region) const;
    int GetClipBox(RECT* box) const;
    bool PtVisible(int x, int y) const;

    struct Impl;
    Impl& impl() { return *impl_; }
    const Impl& impl() const { return *impl_; }
    explicit DC(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace gdi
