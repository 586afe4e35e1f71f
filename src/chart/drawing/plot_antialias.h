#pragma once
// The smoothing surface: a GDI surface that draws the chart's line art
// (lines, arcs, ellipses, pies, donuts, rounded rectangles, polygons and
// polylines) with pixels of fractional intensity, each blended with what
// lies under it, and leaves fills and everything else to the plain
// operations. Smoothing holds for a paint into the off-screen bitmap only:
// it is decided anew at each InitWindow (not while drawing a metafile, not
// unbuffered, not when switched off), so every other paint draws exactly as
// the plain surface does.
#include <cstdint>
#include <memory>

#include "chart/drawing/plot_canvas3d.h"

namespace chart {

class TPlotFilter;
class TAntiAliasCanvas;

// Whatever made a smoothing surface and keeps a reference to it: told when
// the surface is freed (by it or by the chart that adopted it).
class TAntiAliasCanvasOwner {
public:
    virtual void CanvasFreed(TAntiAliasCanvas& Canvas) = 0;

protected:
    ~TAntiAliasCanvasOwner() = default;
};

class TAntiAliasCanvas : public TPlotCanvas3D {
public:
    explicit TAntiAliasCanvas(TAntiAliasCanvasOwner* Tool = nullptr);
    ~TAntiAliasCanvas() override;

    // Smoothing switched off (by the tool); a change repaints the panel
    // whose view options the surface holds.
    bool Disabled() const { return disabled_; }
    void SetDisabled(bool Value);
    // Whether what is drawn now is smoothed.
    bool Smoothing() const;
    // The tool that made the surface (none once it let go of it).
    TAntiAliasCanvasOwner* Tool() const { return tool_; }
    void SetTool(TAntiAliasCanvasOwner* Value) { tool_ = Value; }

    // ---- Overridden operations
    void SetBufferedDisplay(bool Value) override;
    void AssignVisiblePenColor(vcl::TPen& APen, TColor Color) override;
    // Counter-clockwise from the ray through (X3, Y3) to the ray through
    // (X4, Y4), as the plain arc.
    void Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) override;
    void ArcByAngles(int Left, int Top, int Right, int Bottom, double StartAngle,
                     double EndAngle) override;
    void Donut(int XCenter, int YCenter, int XRadius, int YRadius, double StartAngle,
               double EndAngle, double HolePercent) override;
    void Ellipse(int X1, int Y1, int X2, int Y2) override;
    // A smoothed line draws both of its end pixels; the current point
    // becomes (X, Y) whatever the pen's width.
    void LineTo(int X, int Y) override;
    void Pie(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) override;
    void RoundRect(int X1, int Y1, int X2, int Y2, int X3, int Y3) override;
    // Never smoothed.
    void GradientFill(const TRect& Rect, TColor StartColor, TColor EndColor,
                      TGradientDirection Direction, int Balance, int RadialX, int RadialY) override;
    void Polyline(std::span<const TPoint> Points) override;
    void Polygon(std::span<const TPoint> Points) override;
    TRect InitWindow(vcl::TCanvas* DestCanvas, TView3DOptions* Options, TColor BackColor, bool Is3D,
                     const TRect& UserRect) override;
    std::unique_ptr<vcl::TBitmap> SetBitmap(std::unique_ptr<vcl::TBitmap> Bitmap) override;
    void DeleteBitmap() override;

private:
    class TTarget;
    struct TStroke {
        gdi::COLORREF Color;
        // Bit k: whether step k of every eight is drawn.
        std::uint8_t Pattern;
    };
    // Plain drawing for the time of one operation.
    class TSuspend;

    // Smoothing on for this paint or not; the bitmap's rows made ready.
    void Recompute();
    // The row table of the off-screen bitmap when what is drawn goes into
    // that bitmap (made again when the bitmap changed since); null else.
    const std::vector<std::uint8_t*>* Rows();
    // The pen's colour and dash pattern.
    TStroke PenStroke();
    bool SmoothsPen();
    void SmoothLine(long long X0, long long Y0, long long X1, long long Y1, const TStroke& Stroke);
    void WideLine(long long X0, long long Y0, int X, int Y, int Width);
    // The arc of the ellipse of centre (Cx, Cy) and radii A, B (both at
    // least 1) from Start counter-clockwise over Sweep degrees.
    void SmoothArc(long long Cx, long long Cy, long long A, long long B, double Start, double Sweep,
                   const TStroke& Stroke);
    // The same where the box has no width or height (A or B below 1).
    void FlatArc(long long Cx, long long Cy, long long A, long long B, double Start, double Sweep,
                 const TStroke& Stroke);
    void TraceEllipse(long long X1, long long Y1, long long X2, long long Y2, gdi::COLORREF Color);
    // Whether shapes with a fill and an outline are smoothed.
    bool SmoothsShapes();
    // The plain fill, then the smoothed outline in its colour, the pen
    // given back afterwards. SolidRule: only a solid pen outlines (and is
    // cleared for the fill); any other outlines in the brush's colour.
    // Else any pen that draws outlines. Without such a pen the brush's
    // colour outlines, unless the brush is clear.
    template <class Fill, class Outline>
    void FilledShape(bool SolidRule, Fill&& DrawFill, Outline&& DrawOutline);

    bool disabled_ = false;
    bool active_ = false;
    int suspended_ = 0;
    TAntiAliasCanvasOwner* tool_ = nullptr;
    // Holds the off-screen bitmap's rows (24 bits per pixel), and the size
    // and first row they were taken for.
    std::unique_ptr<TPlotFilter> rows_;
    int rows_width_ = 0;
    int rows_height_ = 0;
    // The pen last assigned drew small dots.
    bool small_dots_ = false;
};

}  // namespace chart
