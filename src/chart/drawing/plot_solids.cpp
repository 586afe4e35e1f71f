// The planes and solids of the GDI surface: each projects its corners and
// draws the faces that face the viewer with the 2D operations, darkening
// side faces to suggest light. In 2D the projection leaves points as they
// are, so the same calls draw flat shapes.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/plot_gradient.h"
#include "chart/drawing/plot_shadow.h"
#include "chart/drawing/projection_math.h"
#include "platform/vcl/bitmap.h"

namespace chart {

namespace {

// (P3 - P2) x (P1 - P2): how a face's corners turn on the screen.
long long Turn(const std::array<TPoint, 4>& p) {
    return ((long long)p[3].X - p[2].X) * ((long long)p[1].Y - p[2].Y) -
           ((long long)p[1].X - p[2].X) * ((long long)p[3].Y - p[2].Y);
}

int Mid(int a, int b) { return static_cast<int>(((long long)a + b) / 2); }
int Half(int a, int b) { return static_cast<int>(((long long)b - a) / 2); }
int Add(long long a, long long b) { return static_cast<int>(std::clamp<long long>(a + b, INT32_MIN, INT32_MAX)); }

template <class Points>
std::vector<TPoint> Reversed(const Points& p) {
    return std::vector<TPoint>(p.rbegin(), p.rend());
}

}  // namespace

TColor TPlotCanvas3D::BaseColor() {
    return Brush->Style() == vcl::TBrushStyle::bsSolid ? Brush->Color() : GetBackColor();
}

void TPlotCanvas3D::ApplyDark(TColor Base, int Amount) {
    const TColor c = PlotShadeColor(Base, Amount);
    if (Brush->Style() == vcl::TBrushStyle::bsSolid) Brush->SetColor(c);
    else SetBackColor(c);
}

// ---- Planes and polygons

void TPlotCanvas3D::RectangleWithZ(const TRect& Rect, int Z) { DrawFour(FourPointsFromRect(Rect, Z)); }

void TPlotCanvas3D::PlaneWithZ(const TPoint& P1, const TPoint& P2, const TPoint& P3, const TPoint& P4, int Z) {
    DrawFour({Calc3DPoint(P1, Z), Calc3DPoint(P2, Z), Calc3DPoint(P3, Z), Calc3DPoint(P4, Z)});
}

void TPlotCanvas3D::Plane3D(const TPoint& P0, const TPoint& P1, int Z0, int Z1) {
    DrawFour({Calc3DPoint(P0, Z1), Calc3DPoint(P1, Z1), Calc3DPoint(P1, Z0), Calc3DPoint(P0, Z0)});
}

void TPlotCanvas3D::RectangleAtX(int X, int Top, int Bottom, int Z0, int Z1) {
    DrawFour({Calculate3DPosition(X, Top, Z1), Calculate3DPosition(X, Top, Z0), Calculate3DPosition(X, Bottom, Z0),
              Calculate3DPosition(X, Bottom, Z1)});
}

void TPlotCanvas3D::RectangleAtY(int Left, int Y, int Right, int Z0, int Z1) {
    DrawFour({Calculate3DPosition(Left, Y, Z1), Calculate3DPosition(Right, Y, Z1), Calculate3DPosition(Right, Y, Z0),
              Calculate3DPosition(Left, Y, Z0)});
}

void TPlotCanvas3D::PlaneBetweenDepths(const std::array<TPoint, 4>& Points, int Z0, int Z1) {
    auto at = [&](const TPoint& p, int z) { return Calculate3DPosition(double(p.X), double(p.Y), z); };
    DrawFour({at(Points[0], Z0), at(Points[1], Z0), at(Points[2], Z1), at(Points[3], Z1)});
}

void TPlotCanvas3D::Polygon3D(std::span<const TPoint3D> Points) {
    std::vector<TPoint> projected;
    projected.reserve(Points.size());
    for (const TPoint3D& p : Points) projected.push_back(Calc3DPoint(p));
    Polygon(projected);
}

void TPlotCanvas3D::TriangleWithZ(const TPoint& P1, const TPoint& P2, const TPoint& P3, int Z) {
    const TPoint p[3] = {Calc3DPoint(P1, Z), Calc3DPoint(P2, Z), Calc3DPoint(P3, Z)};
    Polygon(p);
}

void TPlotCanvas3D::Triangle3D(const std::array<TPoint3D, 3>& Points, const std::array<TColor, 3>& Colors) {
    const TPoint p[3] = {Calc3DPoint(Points[0]), Calc3DPoint(Points[1]), Calc3DPoint(Points[2])};
    if (Brush->Style() != vcl::TBrushStyle::bsClear) Brush->SetColor(Colors[0]);
    Polygon(p);
}

// ---- Cube

void TPlotCanvas3D::Cube(int Left, int Right, int Top, int Bottom, int Z0, int Z1, bool DarkSides) {
    auto P = [&](int x, int y, int z) { return Calculate3DPosition(x, y, z); };
    const TColor base = BaseColor();
    // With a clear brush every face counts as facing: wire frames show all edges.
    const bool wire = Brush->Style() == vcl::TBrushStyle::bsClear;
    const std::array<TPoint, 4> front{P(Left, Top, Z0), P(Right, Top, Z0), P(Right, Bottom, Z0), P(Left, Bottom, Z0)};
    if (wire || Turn(front) > 0)
        DrawFour(front);
    else
        DrawFour({P(Left, Top, Z1), P(Right, Top, Z1), P(Right, Bottom, Z1), P(Left, Bottom, Z1)});
    auto side = [&](const std::array<TPoint, 4>& face, bool facing, int dark) {
        if (!wire && !facing) return;
        if (DarkSides) ApplyDark(base, dark);
        DrawFour(face);
    };
    const std::array<TPoint, 4> right{P(Right, Top, Z0), P(Right, Top, Z1), P(Right, Bottom, Z1), P(Right, Bottom, Z0)};
    side(right, Turn(right) > 0, DarkerAmount);
    const std::array<TPoint, 4> left{P(Left, Top, Z0), P(Left, Top, Z1), P(Left, Bottom, Z1), P(Left, Bottom, Z0)};
    const long long leftTurn = ((long long)left[3].X - left[0].X) * ((long long)left[1].Y - left[0].Y) -
                               ((long long)left[1].X - left[0].X) * ((long long)left[3].Y - left[0].Y);
    side(left, leftTurn > 0, DarkerAmount);
    const std::array<TPoint, 4> top{P(Left, Top, Z0), P(Right, Top, Z0), P(Right, Top, Z1), P(Left, Top, Z1)};
    const TPoint &a = top[0], &b = top[1], &d = top[2];
    const long long topTurn = ((long long)a.X - b.X) * ((long long)d.Y - b.Y) - ((long long)d.X - b.X) * ((long long)a.Y - b.Y);
    side(top, topTurn > 0, DarkAmount);
    const std::array<TPoint, 4> bottom{P(Left, Bottom, Z0), P(Left, Bottom, Z1), P(Right, Bottom, Z1),
                                       P(Right, Bottom, Z0)};
    side(bottom, Turn(bottom) < 0, DarkAmount);
}

// ---- Ellipses and circles

void TPlotCanvas3D::EllipseWithZ(int X1, int Y1, int X2, int Y2, int Z) {
    if (orthogonal_) {
        const TPoint a = Calculate3DPosition(X1, Y1, Z), b = Calculate3DPosition(X2, Y2, Z);
        Ellipse(a.X, a.Y, b.X, b.Y);
        return;
    }
    if (!is_3d_) {
        Ellipse(X1, Y1, Add(X2, 1), Add(Y2, 1));
        return;
    }
    // Free 3D: the outline as 64 projected points.
    const int cx = Mid(X1, X2), cy = Mid(Y1, Y2), rx = Half(X1, X2), ry = Half(Y1, Y2);
    std::array<TPoint, 64> outline;
    outline[0] = Calculate3DPosition(cx, Y2, Z);
    for (int i = 1; i < 64; ++i) {
        const double t = i * 2 * std::numbers::pi / 63;
        outline[static_cast<std::size_t>(i)] = Calculate3DPosition(cx + rx * std::sin(t), cy + ry * std::cos(t), Z);
    }
    const vcl::TPenStyle pen = Pen->Style();
    if (Brush->Style() != vcl::TBrushStyle::bsClear) {
        const TPoint centre = Calculate3DPosition(cx, cy, Z);
        Pen->SetStyle(vcl::TPenStyle::psClear);
        for (std::size_t i = 0; i < 63; ++i) {
            const TPoint triangle[3] = {centre, outline[i], outline[i + 1]};
            Polygon(triangle);
        }
        Pen->SetStyle(pen);
    }
    if (pen != vcl::TPenStyle::psClear) Polyline(outline);
}

void TPlotCanvas3D::CircleWithZ(int X, int Y, int Z, double Radius) {
    const long long r = RoundToInt(Radius);
    EllipseWithZ(Add(X, -r), Add(Y, -r), Add(X, r), Add(Y, r), Z);
}

// ---- Round solids

void TPlotCanvas3D::Cylinder(bool Vertical, int Left, int Top, int Right, int Bottom, int Z0, int Z1, bool DarkCover) {
    Cone(Vertical, Left, Top, Right, Bottom, Z0, Z1, DarkCover, 100);
}

void TPlotCanvas3D::Cone(bool Vertical, int Left, int Top, int Right, int Bottom, int Z0, int Z1, bool DarkCover,
                         int ConePercent) {
    const TColor base = BaseColor();
    // The ring lies across the solid's axis: X-Z for a vertical solid
    // (full at Bottom, scaled at Top), Y-Z for a horizontal one (full at
    // Left, scaled at Right).
    const int c1 = Vertical ? Mid(Left, Right) : Mid(Top, Bottom), cz = Mid(Z0, Z1);
    const double r1 = Vertical ? Half(Left, Right) : Half(Top, Bottom), r2 = Half(Z0, Z1);
    const double scale = ConePercent * 0.01;
    std::array<TPoint, RoundSides + 1> full, scaled;
    for (int k = 0; k <= RoundSides; ++k) {
        const double a = k * 2 * std::numbers::pi / RoundSides;
        auto point = [&](double s1, double s2, int end) {
            const int u = Add(c1, RoundToInt(RoundToInt(r1 * s1) * std::sin(a)));
            const int z = Add(cz, -(long long)RoundToInt(RoundToInt(r2 * s2) * std::cos(a)));
            return Vertical ? Calculate3DPosition(u, end, z) : Calculate3DPosition(end, u, z);
        };
        full[static_cast<std::size_t>(k)] = point(1.0, 1.0, Vertical ? Bottom : Left);
        scaled[static_cast<std::size_t>(k)] = point(scale, scale, Vertical ? Top : Right);
    }
    for (int k = 0; k < RoundSides; ++k) {
        const auto i = static_cast<std::size_t>(k);
        const TPoint side[4] = {full[i], full[i + 1], scaled[i + 1], scaled[i]};
        if (DarkCover) ApplyDark(base, (k * (256 / (2 * RoundSides))) % 256);
        if (!PlotCullPoints(side[0], side[1], side[2])) Polygon(side);
    }
    // The covers: the scaled end as the ring runs, the full end the other way.
    auto cover = [&](std::vector<TPoint> ring) {
        ring.pop_back();
        if (std::all_of(ring.begin(), ring.end(), [&](const TPoint& p) { return p == ring[0]; })) return;
        if (PlotCullPoints(ring[0], ring[RoundSides / 4], ring[RoundSides / 2])) return;
        if (DarkCover) ApplyDark(base, DarkAmount);
        Polygon(ring);
    };
    cover(std::vector<TPoint>(scaled.begin(), scaled.end()));
    cover(Reversed(full));
}

// ---- Pyramids

void TPlotCanvas3D::Pyramid(bool Vertical, int Left, int Top, int Right, int Bottom, int Z0, int Z1, bool DarkSides) {
    auto P = [&](int x, int y, int z) { return Calculate3DPosition(x, y, z); };
    const TColor base = BaseColor();
    const int mz = Mid(Z0, Z1);
    // The base's corners and the tip in the middle of the far end.
    std::array<TPoint, 4> b;
    TPoint tip;
    bool forward;
    if (Vertical) {
        b = {P(Left, Bottom, Z0), P(Right, Bottom, Z0), P(Right, Bottom, Z1), P(Left, Bottom, Z1)};
        tip = P(Mid(Left, Right), Top, mz);
        forward = Top < Bottom;
    } else {
        b = {P(Left, Top, Z0), P(Left, Bottom, Z0), P(Left, Bottom, Z1), P(Left, Top, Z1)};
        tip = P(Right, Mid(Top, Bottom), mz);
        forward = Left < Right;
    }
    const bool hasHeight = Vertical ? Top != Bottom : Left != Right;
    if (hasHeight)
        for (std::size_t k = 0; k < 4; ++k) {
            const TPoint triangle[3] = {b[k], b[(k + 1) % 4], tip};
            const bool culled = PlotCullPoints(triangle[0], triangle[1], triangle[2]);
            if (forward ? culled : !culled) continue;
            if (DarkSides && k >= 2) ApplyDark(base, DarkerAmount);
            Polygon(triangle);
        }
    // The base, last, when it faces the viewer.
    const std::array<TPoint, 4> foot = Vertical ? std::array<TPoint, 4>{P(Left, Bottom, Z1), P(Right, Bottom, Z1),
                                                                        P(Right, Bottom, Z0), P(Left, Bottom, Z0)}
                                                : std::array<TPoint, 4>{P(Left, Top, Z1), P(Left, Top, Z0),
                                                                        P(Left, Bottom, Z0), P(Left, Bottom, Z1)};
    const bool culled = PlotCullPoints(foot[0], foot[1], foot[2]);
    const bool facing = Vertical ? (forward ? !culled : culled) : (forward ? culled : !culled);
    if (!hasHeight || facing) {
        if (DarkSides) ApplyDark(base, DarkAmount);
        DrawFour(foot);
    }
}

void TPlotCanvas3D::PyramidTruncated(const TRect& Rect, int StartZ, int EndZ, int TruncX, int TruncZ) {
    const TRect r = Rect;
    auto fullCap = [&] { RectangleAtY(r.Left, r.Bottom, r.Right, StartZ, EndZ); };
    auto truncatedCap = [&] {
        if (TruncX != 0)
            RectangleAtY(Add(r.Left, TruncX), r.Top, Add(r.Right, -(long long)TruncX), Add(StartZ, TruncZ),
                         Add(EndZ, -(long long)TruncZ));
    };
    const bool upward = r.Top < r.Bottom;
    if (upward) fullCap();
    else truncatedCap();
    // The sides between the full end (at Bottom) and the truncated one (at
    // Top), each when it faces the viewer.
    auto P = [&](long long x, int y, long long z) {
        return Calculate3DPosition(Add(x, 0), y, Add(z, 0));
    };
    const long long l = r.Left, rt = r.Right, tx = TruncX, tz = TruncZ;
    const std::array<TPoint, 4> low{P(l, r.Bottom, StartZ), P(rt, r.Bottom, StartZ), P(rt, r.Bottom, EndZ),
                                    P(l, r.Bottom, EndZ)};
    const std::array<TPoint, 4> high{P(l + tx, r.Top, StartZ + tz), P(rt - tx, r.Top, StartZ + tz),
                                     P(rt - tx, r.Top, EndZ - tz), P(l + tx, r.Top, EndZ - tz)};
    for (std::size_t k = 0; k < 4; ++k) {
        const std::size_t n = (k + 1) % 4;
        const std::array<TPoint, 4> face{low[k], low[n], high[n], high[k]};
        const bool culled = PlotCullPoints(face[0], face[1], face[2]) && PlotCullPoints(face[0], face[2], face[3]);
        if (upward ? culled : !culled) continue;
        DrawFour(face);
    }
    if (upward) truncatedCap();
    else fullCap();
}

// ---- Pies and donuts

void TPlotCanvas3D::Pie3D(int XCenter, int YCenter, int XRadius, int YRadius, int Z0, int Z1, double StartAngle,
                          double EndAngle, bool DarkSides, bool DrawSides, int DonutPercent,
                          TCustomPlotGradient* Gradient) {
    if (!std::isfinite(StartAngle) || !std::isfinite(EndAngle)) return;
    const TColor base = BaseColor();
    const long long steps = std::min<long long>(RoundToInt(std::fabs(EndAngle - StartAngle) * 180 / std::numbers::pi / 2), 94);
    const std::size_t n = static_cast<std::size_t>(steps) + 2;
    const double step = (EndAngle - StartAngle) / static_cast<double>(n - 1);
    const bool hole = DonutPercent > 0;
    const double inner = DonutPercent * 0.01;
    std::vector<TPoint> front(n), back(n), innerFront, innerBack;
    if (hole) {
        innerFront.resize(n);
        innerBack.resize(n);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double a = StartAngle + step * static_cast<double>(i);
        const double c = std::cos(a), s = std::sin(a);
        front[i] = Calculate3DPosition(XCenter + XRadius * c, YCenter - YRadius * s, Z0);
        back[i] = Calculate3DPosition(XCenter + XRadius * c, YCenter - YRadius * s, Z1);
        if (hole) {
            innerFront[i] = Calculate3DPosition(XCenter + inner * XRadius * c, YCenter - inner * YRadius * s, Z0);
            innerBack[i] = Calculate3DPosition(XCenter + inner * XRadius * c, YCenter - inner * YRadius * s, Z1);
        }
    }
    const TPoint centreFront = Calculate3DPosition(XCenter, YCenter, Z0);
    const TPoint centreBack = Calculate3DPosition(XCenter, YCenter, Z1);
    auto fill = [&](const std::vector<TPoint>& points) {
        if (Gradient) PolygonGradient(points, *Gradient);
        else Polygon(points);
    };
    if (hole) {
        std::vector<TPoint> curved(innerFront);
        curved.insert(curved.end(), innerBack.rbegin(), innerBack.rend());
        if (DarkSides) ApplyDark(base, DarkerAmount);
        Polygon(curved);
    }
    if (DrawSides) {
        auto radial = [&](std::size_t i) {
            const TPoint side[4] = {hole ? innerFront[i] : centreFront, front[i], back[i],
                                    hole ? innerBack[i] : centreBack};
            Polygon(side);
        };
        if (front[n - 1].X < XOrigin) radial(n - 1);
        if (front[0].X > XOrigin) radial(0);
    }
    ApplyDark(base, 0);
    std::vector<TPoint> cover(front);
    if (hole) cover.insert(cover.end(), innerFront.rbegin(), innerFront.rend());
    else cover.push_back(centreFront);
    fill(cover);
    // The outer side: runs of points going right on the screen are its front.
    if (DarkSides && !Brush->Bitmap()) ApplyDark(base, 32);
    for (std::size_t i = 0; i + 1 < n;) {
        std::size_t j = i;
        while (j + 1 < n && front[j + 1].X > front[j].X) ++j;
        if (j > i) {
            std::vector<TPoint> run(front.begin() + static_cast<long>(i), front.begin() + static_cast<long>(j) + 1);
            run.insert(run.end(), std::make_reverse_iterator(back.begin() + static_cast<long>(j) + 1),
                       std::make_reverse_iterator(back.begin() + static_cast<long>(i)));
            fill(run);
            i = j;
        } else {
            ++i;
        }
    }
}

void TPlotCanvas3D::Donut(int XCenter, int YCenter, int XRadius, int YRadius, double StartAngle, double EndAngle,
                          double HolePercent) {
    if (!std::isfinite(StartAngle) || !std::isfinite(EndAngle) || !std::isfinite(HolePercent)) return;
    auto at = [&](double rx, double ry, double a) {
        return TPoint{Add(RoundToInt(rx * std::cos(a)), XCenter), Add(YCenter, -(long long)RoundToInt(ry * std::sin(a)))};
    };
    const TPoint outerStart = at(XRadius, YRadius, StartAngle), outerEnd = at(XRadius, YRadius, EndAngle);
    const double hx = XRadius * HolePercent * 0.01, hy = YRadius * HolePercent * 0.01;
    const TPoint innerStart = at(hx, hy, StartAngle), innerEnd = at(hx, hy, EndAngle);
    gdi::HDC dc = GetHandle();
    MoveTo(outerStart.X, outerStart.Y);
    dc->BeginPath();
    dc->ArcTo(Add(XCenter, -(long long)XRadius), Add(YCenter, -(long long)YRadius), Add(XCenter, XRadius),
              Add(YCenter, YRadius), outerStart.X, outerStart.Y, outerEnd.X, outerEnd.Y);
    const int ihx = RoundToInt(hx), ihy = RoundToInt(hy);
    if (ihx == 0 && ihy == 0) {
        // No hole: a slice to the centre.
        dc->LineTo(XCenter, YCenter);
    } else if (!(innerStart == innerEnd) || outerStart == outerEnd) {
        // The hole's arc backwards (a whole ring when the slice is whole).
        dc->SetArcDirection(gdi::AD_CLOCKWISE);
        dc->ArcTo(Add(XCenter, -(long long)ihx), Add(YCenter, -(long long)ihy), Add(XCenter, ihx), Add(YCenter, ihy),
                  innerEnd.X, innerEnd.Y, innerStart.X, innerStart.Y);
        dc->SetArcDirection(gdi::AD_COUNTERCLOCKWISE);
    }
    dc->EndPath();
    dc->StrokeAndFillPath();
}

// ---- Arrows

void TPlotCanvas3D::Arrow(bool Filled, const TPoint& FromPoint, const TPoint& ToPoint, int HeadWidth, int HeadHeight,
                          int Z, double ArrowPercent) {
    const double dx = static_cast<double>(ToPoint.X) - FromPoint.X, dy = static_cast<double>(FromPoint.Y) - ToPoint.Y;
    const double length = std::sqrt(dx * dx + dy * dy);
    if (!(length > 0)) return;
    const double sinA = dy / length, cosA = dx / length;
    const double u = ToPoint.X * cosA - ToPoint.Y * sinA, v = ToPoint.X * sinA + ToPoint.Y * cosA;
    const double h = std::min<double>(HeadHeight, RoundToInt(length));
    const double u0 = u - h;
    // A point of the arrow's own frame back on the chart, at depth Z.
    auto back = [&](double p, double q) {
        return Calculate3DPosition(RoundToInt(p * cosA + q * sinA), RoundToInt(-p * sinA + q * cosA), Z);
    };
    const TPoint headLeft = back(u0, v - HeadWidth * 0.5), headRight = back(u0, v + HeadWidth * 0.5);
    const TPoint tip = Calculate3DPosition(ToPoint.X, ToPoint.Y, Z);
    if (Filled) {
        const double b = HeadWidth * ArrowPercent * 0.005;
        const double uF = FromPoint.X * cosA - FromPoint.Y * sinA;
        const TPoint shape[7] = {back(uF, v + b), back(uF, v - b), back(u0, v - b), headLeft,
                                 tip,             headRight,       back(u0, v + b)};
        Polygon(shape);
        return;
    }
    LineWithZ(FromPoint.X, FromPoint.Y, ToPoint.X, ToPoint.Y, Z);
    Line(tip.X, tip.Y, headRight.X, headRight.Y);
    Line(tip.X, tip.Y, headLeft.X, headLeft.Y);
}

// ---- Pictures on planes

void TCanvas3D::DrawBitmapCells(const TRect& Rect, vcl::TGraphic* Graphic, int Plane, int Fixed) {
    Pen->SetStyle(vcl::TPenStyle::psClear);
    if (!Graphic || Graphic->Empty()) return;
    std::unique_ptr<vcl::TBitmap> drawn;
    auto* bitmap = dynamic_cast<vcl::TBitmap*>(Graphic);
    if (!bitmap) {
        drawn = std::make_unique<vcl::TBitmap>(Graphic->Width(), Graphic->Height());
        drawn->SetPixelFormat(vcl::TPixelFormat::pf24bit);
        Graphic->Draw(drawn->Canvas(), {0, 0, drawn->Width(), drawn->Height()});
        bitmap = drawn.get();
    }
    const int w = bitmap->Width(), h = bitmap->Height();
    if (w == 0 || h == 0) return;
    const double dx = (static_cast<double>(Rect.Right) - Rect.Left) / w;
    const double dy = (static_cast<double>(Rect.Bottom) - Rect.Top) / h;
    auto column = [&](int c) { return c < 0 ? Rect.Left : RoundPlus(dx * (c + 1), Rect.Left); };
    auto row = [&](int r) { return r < 0 ? Rect.Top : RoundPlus(dy * (r + 1), Rect.Top); };
    auto corner = [&](int x, int y) {
        switch (Plane) {
            case 0: return Calculate3DPosition(Fixed, y, x);
            case 1: return Calculate3DPosition(x, Fixed, y);
            default: return Calculate3DPosition(x, y, Fixed);
        }
    };
    gdi::HDC dc = GetHandle();
    const gdi::HBRUSH old = dc->SelectObject(gdi::GetStockBrush(gdi::DC_BRUSH));
    const gdi::Bitmap& pixels = *bitmap->Handle();
    try {
        for (int r = 0; r < h; ++r) {
            const int y0 = row(r - 1), y1 = row(r);
            for (int c = 0; c < w; ++c) {
                const int x0 = column(c - 1), x1 = column(c);
                dc->SetDCBrushColor(pixels.GetPixel(c, r));
                const TPoint cell[4] = {corner(x0, y0), corner(x1, y0), corner(x1, y1), corner(x0, y1)};
                Polygon(cell);
            }
        }
    } catch (...) {
        dc->SelectObject(old);
        throw;
    }
    dc->SelectObject(old);
}

}  // namespace chart
