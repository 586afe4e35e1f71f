#pragma once
// The drawing surface every chart element draws through: TPlotCanvas, the
// 2D part, and TCanvas3D, which adds depth. The virtual operations are
// declared in their fixed slot order (the numbers in the comments); those
// with a behaviour of their own here are "base", the rest each surface
// implements (TPlotCanvas3D draws with the device context).
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "chart/drawing/plot_blend.h"
#include "chart/drawing/plot_geometry.h"
#include "chart/drawing/plot_gradient.h"
#include "chart/drawing/plot_pens.h"
#include "platform/gdi/dc.h"
#include "platform/vcl/graphics.h"

namespace vcl {
class TGraphic;
}

namespace chart {

class TPlotFont;
class TView3DOptions;
class TCustomPlotGradient;

class TPlotCanvas {
public:
    virtual ~TPlotCanvas();
    TPlotCanvas(const TPlotCanvas&) = delete;
    TPlotCanvas& operator=(const TPlotCanvas&) = delete;

    // The platform canvas drawn on now (the target, or the off-screen
    // bitmap's canvas) and its font, pen and brush. Not owned.
    vcl::TCanvas* ReferenceCanvas = nullptr;
    vcl::TFont* Font = nullptr;
    vcl::TPen* Pen = nullptr;
    vcl::TBrush* Brush = nullptr;
    // Set by the panel while it draws into a metafile: no blending then.
    bool Metafiling = false;
    // The rectangle given to InitWindow.
    TRect Bounds;
    // The chart font last applied with AssignFont (its shadow widens text
    // sizes, its effects are drawn by TextOut). Not owned.
    TPlotFont* FontReference = nullptr;
    // Percent of font sizes in AssignFont; 100 is none.
    double FontZoom = 100.0;
    int BlendTransparency() const { return blend_transparency_; }

    // ---- Slots 1 to 51
    virtual TColor GetBackColor() = 0;                                         // 1
    virtual int GetBackMode() = 0;                                             // 2
    virtual gdi::HDC GetHandle() = 0;                                          // 3
    virtual bool GetMonochrome() = 0;                                          // 4
    virtual TColor GetPixel(int X, int Y) = 0;                                 // 5
    virtual bool GetSupportsFull3D() = 0;                                      // 6
    virtual bool GetReservedFlag() = 0;                                        // 7
    virtual unsigned GetTextAlign() = 0;                                       // 8
    virtual bool GetBufferedDisplay() = 0;                                     // 9
    virtual void SetBackColor(TColor Color) = 0;                               // 10
    virtual void SetBackMode(int Mode) = 0;                                    // 11
    virtual void SetMonochrome(bool Value) = 0;                                // 12
    virtual void SetPixel(int X, int Y, TColor Color) = 0;                     // 13
    virtual void SetTextAlign(unsigned Align) = 0;                             // 14
    virtual void SetBufferedDisplay(bool Value) = 0;                           // 15
    // Base: the pen of the chart realised on the canvas (see the .cpp).
    virtual void AssignVisiblePenColor(vcl::TPen& APen, TColor Color);       // 16
    // Base: a block over R that EndBlending mixes back with Transparency
    // percent, held to 0..100 and kept by the block, so that blocks may nest.
    virtual std::unique_ptr<TPlotBlend> BeginBlending(const TRect& R, int Transparency);  // 17
    virtual void EndBlending(std::unique_ptr<TPlotBlend> Blend);               // 18
    virtual void Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) = 0;  // 19
    // Base: Arc from the points at StartAngle and EndAngle (degrees).
    virtual void ArcByAngles(int Left, int Top, int Right, int Bottom, double StartAngle,
                             double EndAngle);                                 // 20
    virtual void Donut(int XCenter, int YCenter, int XRadius, int YRadius, double StartAngle,
                       double EndAngle, double HolePercent) = 0;               // 21
    virtual void Draw(int X, int Y, vcl::TGraphic* Graphic) = 0;               // 22
    virtual void Ellipse(int X1, int Y1, int X2, int Y2) = 0;                  // 23
    virtual void FillRect(const TRect& Rect) = 0;                              // 24
    // Base: a bevel Width pixels wide; Rect comes back shrunk by Width.
    virtual void Frame3D(TRect& Rect, TColor TopColor, TColor BottomColor, int Width);  // 25
    virtual void LineTo(int X, int Y) = 0;                                     // 26
    virtual void MoveTo(int X, int Y) = 0;                                     // 27
    virtual void Pie(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) = 0;  // 28
    virtual void Rectangle(int X0, int Y0, int X1, int Y1) = 0;                // 29
    virtual void RoundRect(int X1, int Y1, int X2, int Y2, int X3, int Y3) = 0;  // 30
    virtual void StretchDraw(const TRect& Rect, vcl::TGraphic* Graphic) = 0;   // 31
    virtual void TextOut(int X, int Y, const std::string& Text) = 0;           // 32
    // Base: the extent on the reference canvas, grown by a visible shadow
    // of FontReference (|HorizSize| wider, |VertSize| higher).
    virtual int TextWidth(const std::string& Text);                            // 33
    virtual int TextHeight(const std::string& Text);                           // 34
    virtual int TextWidthW(const std::u16string& Text);                        // 35
    virtual int TextHeightW(const std::u16string& Text);                       // 36
    virtual void ClipRectangle(const TRect& Rect) = 0;                         // 37
    virtual void ClipRoundRectangle(const TRect& Rect, int Corner) = 0;        // 38
    virtual void ClipEllipse(const TRect& Rect, bool Inverted) = 0;            // 39
    // NumPoints beyond the array takes the array's points; below 0 none.
    virtual void ClipPolygon(std::span<const TPoint> Points, int NumPoints, bool Inverted) = 0;  // 40
    virtual void HorizLine(int X0, int X1, int Y);                             // 41
    virtual void VertLine(int X, int Y0, int Y1);                              // 42
    virtual void EraseBackground(const TRect& Rect) = 0;                       // 43
    virtual void GradientFill(const TRect& Rect, TColor StartColor, TColor EndColor,
                              TGradientDirection Direction, int Balance, int RadialX,
                              int RadialY) = 0;                                // 44
    virtual void Invalidate() = 0;                                             // 45
    virtual void Line(int X0, int Y0, int X1, int Y1);                         // 46
    virtual void Polyline(std::span<const TPoint> Points) = 0;                 // 47
    virtual void Polygon(std::span<const TPoint> Points) = 0;                  // 48
    // Base: clip to the polygon, the gradient over its bounds, unclip, then
    // the outline when the pen draws.
    virtual void PolygonGradient(std::span<const TPoint> Points, TCustomPlotGradient& Gradient);  // 49
    virtual void RotateLabel(int X, int Y, const std::string& Text, double Angle) = 0;  // 50
    virtual void UnClipRectangle() = 0;                                        // 51

    // ---- Non-virtual operations
    // Binds the canvas: its font, pen and brush become this surface's.
    void SetCanvas(vcl::TCanvas* C);
    // Black one-pixel solid pen, white solid brush, the default chart font
    // in black, no font reference, white transparent background, align 0.
    void ResetState();
    void AssignVisiblePen(TChartPen& APen) { AssignVisiblePenColor(APen, APen.Color()); }
    void AssignBrushColors(TChartBrush& ABrush, TColor ForeColor, TColor BackColor);
    void AssignBrushColor(TChartBrush& ABrush, TColor Color) {
        AssignBrushColors(ABrush, Color, ABrush.Color());
    }
    void AssignBrush(TChartBrush& ABrush) { AssignBrushColors(ABrush, ABrush.BackColor(), ABrush.Color()); }
    void AssignFont(TPlotFont& AFont);
    int FontHeight() { return TextHeight("W"); }
    // Markup when IsHtml (its errors raised), else TextOut.
    void TextOutHtml(int X, int Y, const std::string& Text, bool IsHtml);

    void RectangleRect(const TRect& R) { Rectangle(R.Left, R.Top, R.Right, R.Bottom); }
    void EllipseRect(const TRect& R) { Ellipse(R.Left, R.Top, R.Right, R.Bottom); }
    void RoundRectRect(const TRect& R, int CornerX, int CornerY) {
        RoundRect(R.Left, R.Top, R.Right, R.Bottom, CornerX, CornerY);
    }
    void LinePoints(const TPoint& P0, const TPoint& P1) { Line(P0.X, P0.Y, P1.X, P1.Y); }
    void MoveToPoint(const TPoint& P) { MoveTo(P.X, P.Y); }
    void LineToPoint(const TPoint& P) { LineTo(P.X, P.Y); }

protected:
    TPlotCanvas() = default;
    // The chart pen as a pen of the device context (Part of the GDI surface's
    // pen realisation, used by AssignVisiblePenColor).
    void RealisePen(TChartPen& APen, TColor Color);

    int blend_transparency_ = 0;
};

// A globally unique identifier, as interface queries name interfaces.
struct TGUID {
    std::uint32_t D1 = 0;
    std::uint16_t D2 = 0;
    std::uint16_t D3 = 0;
    std::array<std::uint8_t, 8> D4{};
    friend bool operator==(const TGUID&, const TGUID&) = default;
};
constexpr TGUID IID_IUnknown{0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr long E_NOINTERFACE = static_cast<long>(0x80004002L);

class TCanvas3D : public TPlotCanvas {
public:
    // Not owned; may be none.
    TView3DOptions* View3DOptions = nullptr;
    int Nesting2D() const { return nesting_2d_; }

    // An interface without reference counting: both counts answer -1.
    long QueryInterface(const TGUID& IID, void** Obj);
    int _AddRef() { return -1; }
    int _Release() { return -1; }

    // ---- Slots 52 to 97
    virtual void BeginGroup(const std::string& Name);                          // 52
    virtual void EndGroup();                                                   // 53
    virtual TColor GetPixel3D(int X, int Y, int Z) = 0;                        // 54
    virtual bool GetSupports3DText() = 0;                                      // 55
    virtual void SetPixel3D(int X, int Y, int Z, TColor Color) = 0;            // 56
    virtual void Calculate2DPosition(int& X, int& Y, int Z) = 0;               // 57
    virtual TPoint Calculate3DPosition(int X, int Y, int Z) = 0;               // 58
    virtual TRect InitWindow(vcl::TCanvas* DestCanvas, TView3DOptions* Options, TColor BackColor,
                             bool Is3D, const TRect& UserRect) = 0;            // 59
    // Base: the monochrome setting and the view options of Source.
    virtual void Assign(TCanvas3D& Source);                                    // 60
    virtual void Projection(int MaxDepth, const TRect& Bounds) = 0;            // 61
    virtual void ShowImage(vcl::TCanvas* DestCanvas, vcl::TCanvas* DefaultCanvas,
                           const TRect& UserRect) = 0;                         // 62
    virtual bool ReDrawBitmap() = 0;                                           // 63
    virtual void Arrow(bool Filled, const TPoint& FromPoint, const TPoint& ToPoint, int HeadWidth,
                       int HeadHeight, int Z, double ArrowPercent) = 0;        // 64
    virtual void ClipCube(const TRect& Rect, int Z0, int Z1) = 0;             // 65
    virtual void Cone(bool Vertical, int Left, int Top, int Right, int Bottom, int Z0, int Z1,
                      bool DarkCover, int ConePercent) = 0;                    // 66
    virtual void Cube(int Left, int Right, int Top, int Bottom, int Z0, int Z1, bool DarkSides) = 0;  // 67
    virtual void Cylinder(bool Vertical, int Left, int Top, int Right, int Bottom, int Z0, int Z1,
                          bool DarkCover) = 0;                                 // 68
    virtual void Disable3D();                                                  // 69
    virtual void EllipseWithZ(int X1, int Y1, int X2, int Y2, int Z) = 0;      // 70
    virtual void Restore3D();                                                  // 71
    virtual void HorizLine3D(int Left, int Right, int Y, int Z);               // 72
    virtual void VertLine3D(int X, int Top, int Bottom, int Z);                // 73
    virtual void ZLine3D(int X, int Y, int Z0, int Z1);                        // 74
    virtual void Begin2D();                                                    // 75
    virtual void End2D();                                                      // 76
    virtual void LineWithZ(int X0, int Y0, int X1, int Y1, int Z);             // 77
    virtual void MoveTo3D(int X, int Y, int Z);                                // 78
    virtual void LineTo3D(int X, int Y, int Z);                                // 79
    virtual void Pie3D(int XCenter, int YCenter, int XRadius, int YRadius, int Z0, int Z1,
                       double StartAngle, double EndAngle, bool DarkSides, bool DrawSides,
                       int DonutPercent, TCustomPlotGradient* Gradient) = 0;   // 80
    virtual void Plane3D(const TPoint& P0, const TPoint& P1, int Z0, int Z1) = 0;  // 81
    virtual void PlaneWithZ(const TPoint& P1, const TPoint& P2, const TPoint& P3, const TPoint& P4,
                            int Z) = 0;                                        // 82
    virtual void PlaneBetweenDepths(const std::array<TPoint, 4>& Points, int Z0, int Z1) = 0;  // 83
    virtual void Polygon3D(std::span<const TPoint3D> Points) = 0;              // 84
    virtual void PolygonWithZ(std::span<const TPoint> Points, int Z);          // 85
    virtual void PolylineWithZ(std::span<const TPoint> Points, int Z);         // 86
    virtual void Pyramid(bool Vertical, int Left, int Top, int Right, int Bottom, int Z0, int Z1,
                         bool DarkSides) = 0;                                  // 87
    virtual void PyramidTruncated(const TRect& Rect, int StartZ, int EndZ, int TruncX,
                                  int TruncZ) = 0;                             // 88
    virtual void RectangleWithZ(const TRect& Rect, int Z) = 0;                 // 89
    virtual void RectangleAtY(int Left, int Y, int Right, int Z0, int Z1) = 0;  // 90
    virtual void RectangleAtX(int X, int Top, int Bottom, int Z0, int Z1) = 0;  // 91
    virtual void RotateLabel3D(int X, int Y, int Z, const std::string& Text, double Angle) = 0;  // 92
    virtual void CircleWithZ(int X, int Y, int Z, double Radius) = 0;          // 93
    virtual void ReservedOperation(int, int, int, int, int, int) {}            // 94
    virtual void TextOut3D(int X, int Y, int Z, const std::string& Text) = 0;  // 95
    virtual void Triangle3D(const std::array<TPoint3D, 3>& Points,
                            const std::array<TColor, 3>& Colors) = 0;          // 96
    virtual void TriangleWithZ(const TPoint& P1, const TPoint& P2, const TPoint& P3, int Z) = 0;  // 97

    // ---- Non-virtual operations
    TPoint Calc3DPoint(const TPoint3D& P) { return Calculate3DPosition(P.X, P.Y, P.Z); }
    TPoint Calc3DPoint(const TPoint& P, int Z) { return Calculate3DPosition(P.X, P.Y, Z); }
    // Both corners of R at depth Z.
    TRect CalcRect3D(const TRect& R, int Z);
    // (Left, Top), (Right, Top), (Right, Bottom), (Left, Bottom) at Z.
    std::array<TPoint, 4> FourPointsFromRect(const TRect& R, int Z);
    TRect RectFromRectZ(const TRect& R, int Z);
    std::vector<TPoint> Calc3DPoints(std::span<const TPoint> Points, int Z);
    void CubeRect(const TRect& R, int Z0, int Z1, bool DarkSides = true) {
        Cube(R.Left, R.Right, R.Top, R.Bottom, Z0, Z1, DarkSides);
    }
    void EllipseWithZRect(const TRect& R, int Z) { EllipseWithZ(R.Left, R.Top, R.Right, R.Bottom, Z); }
    void LineWithZPoints(const TPoint& P0, const TPoint& P1, int Z) { LineWithZ(P0.X, P0.Y, P1.X, P1.Y, Z); }
    void RectangleWithZRect(const TRect& R, int Z) { RectangleWithZ(R, Z); }
    void RectangleWithZCoords(int Left, int Top, int Right, int Bottom, int Z) {
        RectangleWithZ({Left, Top, Right, Bottom}, Z);
    }
    void ArrowDefault(bool Filled, const TPoint& FromPoint, const TPoint& ToPoint, int HeadWidth,
                      int HeadHeight, int Z) {
        Arrow(Filled, FromPoint, ToPoint, HeadWidth, HeadHeight, Z, 50.0);
    }
    // A picture on a plane in depth, one polygon per pixel of it: Rect is
    // split into the picture's columns and rows, each cell projected on the
    // plane 0 (X = Fixed, rows along Y, columns along Z), 1 (Y = Fixed,
    // columns along X, rows along Z) or any other (Z = Fixed). The pen is
    // made clear.
    void DrawBitmapCells(const TRect& Rect, vcl::TGraphic* Graphic, int Plane, int Fixed);

protected:
    TCanvas3D() = default;
    int nesting_2d_ = 0;
};

}  // namespace chart
