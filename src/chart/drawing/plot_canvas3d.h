#pragma once
// The surface every chart panel draws on: TCanvas3D over the device context
// of a platform canvas, by default through an off-screen bitmap that is
// copied to the window at the end of a paint and reused to repaint it
// without drawing the chart again. Projects in 2D and orthogonal 3D; the
// free 3D projection and the 3D solids come with a later step and raise
// ENotAvailableYet until then.
#include <array>
#include <memory>
#include <vector>

#include "chart/drawing/plot_canvas.h"
#include "platform/gdi/objects.h"

namespace vcl {
class TBitmap;
}

namespace chart {

class TPlotCanvas3D : public TCanvas3D {
public:
    TPlotCanvas3D();
    ~TPlotCanvas3D() override;

    // Set by the panel while it draws unbuffered onto a foreign canvas:
    // switching buffering off then keeps the bitmap.
    bool DirectDrawing = false;
    // Corners filled by the plane operations and drawn by PolygonFour.
    std::array<TPoint, 4> FourPoints{};

    bool Dirty() const { return dirty_; }
    vcl::TBitmap* Bitmap() const { return bitmap_.get(); }
    bool Is3D() const { return is_3d_; }
    bool IsOrthogonal() const { return orthogonal_; }
    double ZoomFactor() const { return zoom_; }
    bool ZoomText() const { return zoom_text_; }
    int XCenter = 0, YCenter = 0, ZCenter = 0;
    int XOrigin = 0, YOrigin = 0;

    // ---- TPlotCanvas
    TColor GetBackColor() override;
    int GetBackMode() override;
    gdi::HDC GetHandle() override;
    bool GetMonochrome() override { return monochrome_; }
    TColor GetPixel(int X, int Y) override;
    bool GetSupportsFull3D() override { return false; }
    bool GetReservedFlag() override { return false; }
    unsigned GetTextAlign() override;
    bool GetBufferedDisplay() override { return buffered_; }
    void SetBackColor(TColor Color) override;
    void SetBackMode(int Mode) override;
    void SetMonochrome(bool Value) override;
    void SetPixel(int X, int Y, TColor Color) override;
    void SetTextAlign(unsigned Align) override;
    void SetBufferedDisplay(bool Value) override;
    void Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) override;
    void Donut(int XCenter, int YCenter, int XRadius, int YRadius, double StartAngle,
               double EndAngle, double HolePercent) override;
    void Draw(int X, int Y, vcl::TGraphic* Graphic) override;
    void Ellipse(int X1, int Y1, int X2, int Y2) override;
    void FillRect(const TRect& Rect) override;
    void LineTo(int X, int Y) override;
    void MoveTo(int X, int Y) override;
    void Pie(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) override;
    void Rectangle(int X0, int Y0, int X1, int Y1) override;
    void RoundRect(int X1, int Y1, int X2, int Y2, int X3, int Y3) override;
    void StretchDraw(const TRect& Rect, vcl::TGraphic* Graphic) override;
    // With the effects of FontReference: flat shadow, outline, picture fill,
    // hollow letters (transparent or blurred shadows and gradient fills are
    // not available yet).
    void TextOut(int X, int Y, const std::string& Text) override;
    void ClipRectangle(const TRect& Rect) override;
    void ClipRoundRectangle(const TRect& Rect, int Corner) override;
    void ClipEllipse(const TRect& Rect, bool Inverted) override;
    void ClipPolygon(std::span<const TPoint> Points, int NumPoints, bool Inverted) override;
    void EraseBackground(const TRect& Rect) override { FillRect(Rect); }
    void GradientFill(const TRect& Rect, TColor StartColor, TColor EndColor,
                      TGradientDirection Direction, int Balance, int RadialX, int RadialY) override;
    void Invalidate() override { dirty_ = true; }
    void Polyline(std::span<const TPoint> Points) override;
    void Polygon(std::span<const TPoint> Points) override;
    // Angle in degrees, reduced below 360 from above.
    void RotateLabel(int X, int Y, const std::string& Text, double Angle) override;
    // Back to the clip in force before the last clip (none when no clip is
    // left to undo).
    void UnClipRectangle() override;

    // ---- TCanvas3D
    TColor GetPixel3D(int X, int Y, int Z) override;
    bool GetSupports3DText() override { return false; }
    void SetPixel3D(int X, int Y, int Z, TColor Color) override;
    void Calculate2DPosition(int& X, int& Y, int Z) override;
    TPoint Calculate3DPosition(int X, int Y, int Z) override;
    // The floating-point form of the forward projection.
    TPoint Calculate3DPosition(double X, double Y, int Z);
    TRect InitWindow(vcl::TCanvas* DestCanvas, TView3DOptions* Options, TColor BackColor, bool Is3D,
                     const TRect& UserRect) override;
    void Projection(int MaxDepth, const TRect& Bounds) override;
    void ShowImage(vcl::TCanvas* DestCanvas, vcl::TCanvas* DefaultCanvas, const TRect& UserRect) override;
    bool ReDrawBitmap() override;
    void Arrow(bool Filled, const TPoint& FromPoint, const TPoint& ToPoint, int HeadWidth,
               int HeadHeight, int Z, double ArrowPercent) override;
    void ClipCube(const TRect& Rect, int Z0, int Z1) override;
    void Cone(bool Vertical, int Left, int Top, int Right, int Bottom, int Z0, int Z1, bool DarkCover,
              int ConePercent) override;
    void Cube(int Left, int Right, int Top, int Bottom, int Z0, int Z1, bool DarkSides) override;
    void Cylinder(bool Vertical, int Left, int Top, int Right, int Bottom, int Z0, int Z1,
                  bool DarkCover) override;
    void Disable3D() override;
    void EllipseWithZ(int X1, int Y1, int X2, int Y2, int Z) override;
    void Restore3D() override;
    void Pie3D(int XCenter, int YCenter, int XRadius, int YRadius, int Z0, int Z1, double StartAngle,
               double EndAngle, bool DarkSides, bool DrawSides, int DonutPercent,
               TCustomPlotGradient* Gradient) override;
    void Plane3D(const TPoint& P0, const TPoint& P1, int Z0, int Z1) override;
    void PlaneWithZ(const TPoint& P1, const TPoint& P2, const TPoint& P3, const TPoint& P4, int Z) override;
    void PlaneBetweenDepths(const std::array<TPoint, 4>& Points, int Z0, int Z1) override;
    void Polygon3D(std::span<const TPoint3D> Points) override;
    void Pyramid(bool Vertical, int Left, int Top, int Right, int Bottom, int Z0, int Z1,
                 bool DarkSides) override;
    void PyramidTruncated(const TRect& Rect, int StartZ, int EndZ, int TruncX, int TruncZ) override;
    void RectangleWithZ(const TRect& Rect, int Z) override;
    void RectangleAtY(int Left, int Y, int Right, int Z0, int Z1) override;
    void RectangleAtX(int X, int Top, int Bottom, int Z0, int Z1) override;
    void RotateLabel3D(int X, int Y, int Z, const std::string& Text, double Angle) override;
    void CircleWithZ(int X, int Y, int Z, double Radius) override;
    void TextOut3D(int X, int Y, int Z, const std::string& Text) override;
    void Triangle3D(const std::array<TPoint3D, 3>& Points, const std::array<TColor, 3>& Colors) override;
    void TriangleWithZ(const TPoint& P1, const TPoint& P2, const TPoint& P3, int Z) override;

    // ---- Added operations
    // The four-point buffer as a polygon.
    virtual void PolygonFour();
    // Puts Bitmap in place of the off-screen bitmap and hands back the
    // previous one (nothing is freed).
    virtual std::unique_ptr<vcl::TBitmap> SetBitmap(std::unique_ptr<vcl::TBitmap> Bitmap);
    virtual void DeleteBitmap();
    // Copies the whole off-screen bitmap to DestCanvas at (X, Y).
    virtual void BitBltBitmap(int X, int Y, vcl::TCanvas* DestCanvas);

    // The convex hull of the points as ClipCube takes it (exactly three
    // points are their own hull; fewer have none).
    static std::vector<TPoint> ConvexHull(std::vector<TPoint> Points);

private:
    // Applies a region with a mode, first remembering the clip in force.
    void PushClip(const gdi::HRGN& Region, int Mode);
    // Clips to the device context's closed path (ANDed).
    void ClipToPath();
    void CalcTrigValues();
    void CalcPerspective(const TRect& Bounds);
    [[noreturn]] void FreeProjection() const;
    TRect TextRect(int X, int Y, const std::string& Text);
    void PlainTextOut(int X, int Y, const std::string& Text);

    std::unique_ptr<vcl::TBitmap> bitmap_;
    bool dirty_ = true;
    bool monochrome_ = false;
    bool buffered_ = true;
    // The clips in force before each clip still open (none: no clip).
    std::vector<gdi::HRGN> clips_;
    // Projection state.
    bool is_3d_ = false;
    bool saved_is_3d_ = false;
    bool orthogonal_ = false;
    double ortho_x_ = 1.0;
    double ortho_y_ = 1.0;
    double zoom_ = 1.0;
    bool zoom_text_ = true;
    bool has_perspective_ = false;
    double perspective_ = 0.0;
};

}  // namespace chart
