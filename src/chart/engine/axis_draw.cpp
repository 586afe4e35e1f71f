// Drawing one axis on the chart's surface: title, labels, axis line, outer
// ticks, grid, inner ticks, minor ticks and minor grid, in that order, at
// the positions its layout computed.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "chart/drawing/view3d_options.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/panel_routines.h"

namespace chart::engine {

namespace {

// Opens a named group of the surface and closes it however the scope ends.
class TCanvasGroup {
  public:
    TCanvasGroup(TCanvas3D& Canvas, const std::string& Name) : canvas_(Canvas) {
        canvas_.BeginGroup(Name);
    }
    ~TCanvasGroup() { canvas_.EndGroup(); }
    TCanvasGroup(const TCanvasGroup&) = delete;
    TCanvasGroup& operator=(const TCanvasGroup&) = delete;

  private:
    TCanvas3D& canvas_;
};

// The lines of a label: split at the line separator, no empty last line.
std::vector<std::string> LinesOf(const std::string& Text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < Text.size()) {
        const std::size_t at = Text.find(kPlotLineSeparator, from);
        if (at == std::string::npos) {
            lines.push_back(Text.substr(from));
            break;
        }
        lines.push_back(Text.substr(from, at - from));
        from = at + 1;
    }
    return lines;
}

enum class TSide { Bottom, Top, Left, Right };

// The alignment of labels beside an axis of each side.
unsigned SideAlign(TSide Side) {
    switch (Side) {
        case TSide::Left:
            return gdi::TA_RIGHT;
        case TSide::Right:
            return gdi::TA_LEFT;
        case TSide::Bottom:
            return gdi::TA_CENTER;
        case TSide::Top:
            return gdi::TA_CENTER | gdi::TA_BOTTOM;
    }
    return gdi::TA_LEFT;
}

// Vertical text beside a vertical axis.
unsigned TurnedAlign(bool OtherSide) { return OtherSide ? gdi::TA_CENTER | gdi::TA_BOTTOM : gdi::TA_CENTER; }

}  // namespace

// ---- Whole axis

void TChartAxis::Draw(bool CalcPosAxis) {
    TCanvas3D& canvas = *chart_->Canvas();
    TCanvasGroup group(canvas, "axis");
    ShowsDateTime = IsDateTimeAxis();
    if (CalcPosAxis) {
        const int base = BasePosition(chart_->ChartRect);
        const int shift = PositionShift(chart_->ChartRect);
        // Into the chart: up for the bottom axis, down for the top one,
        // right for the left axis, left for the right one.
        const bool plus = horizontal_ ? other_side_ : !other_side_;
        AxisPosition = PixelPlus(base, plus ? shift : -static_cast<long long>(shift));
    }
    if (title_->Visible() && !title_->Caption().empty()) {
        if (IsDepthAxis)
            DrawTitle(TitlePosition, DepthAxisY());
        else if (horizontal_)
            DrawTitle(CenterPixel, TitlePosition);
        else
            DrawTitle(TitlePosition, CenterPixel);
    }
    TickPositions.clear();
    tick_values_.clear();
    alternate_ = false;
    alternate_width_ = -1;
    if (!items_->Automatic) {
        DrawCustomLabels();
    } else {
        items_->Clear();
        const TAxisLabelStyle style = EffectiveLabelStyle();
        if (style != talNone) {
            const double inc = CalcLabelIncrement();
            canvas.AssignFont(LabelsFont());
            int step = dtNone;
            if (ShowsDateTime && exact_date_time_ && increment_ != 0) {
                step = FindDateTimeStep(increment_);
                if (step != dtNone)
                    while (DateTimeStep[static_cast<std::size_t>(step)] < inc && step < dtOneYear) ++step;
            }
            if (style == talValue) {
                if ((inc > 0 || (step > dtOneWeek && step < dtNone)) && InternalMinimum <= InternalMaximum)
                    DrawValueLabels(inc, step);
            } else if (style == talText && IsDepthAxis) {
                DrawDepthTextLabels();
            } else {
                DrawTextLabels(style);
            }
        }
    }
    DrawLines();
}

void TChartAxis::DrawTitle(int X, int Y) {
    TCanvas3D& canvas = *chart_->Canvas();
    TCanvasGroup group(canvas, "title");
    canvas.AssignFont(title_->Font());
    canvas.SetBackMode(gdi::TRANSPARENT);
    if (IsDepthAxis) {
        canvas.SetTextAlign(other_side_ ? gdi::TA_LEFT : gdi::TA_RIGHT);
        canvas.RotateLabel3D(X, Y, chart_->Width3D / 2, title_->Caption(), title_->Angle());
        return;
    }
    // The title is never drawn in the exponent form.
    const bool exponent = labels_exponent_;
    labels_exponent_ = false;
    try {
        DrawAxisLabel(X, Y, title_->Angle(), title_->Caption(), title_.get(), 0);
    } catch (...) {
        labels_exponent_ = exponent;
        throw;
    }
    labels_exponent_ = exponent;
}

int TChartAxis::DepthAxisY() const {
    const TRect& r = chart_->ChartRect;
    return other_side_ ? PixelPlus(r.Bottom, -static_cast<long long>(DepthPixel))
                       : PixelPlus(r.Top, DepthPixel);
}

// ---- One label

void TChartAxis::DrawLabelAt(int Pixel, double Value, const std::string& Text, TPlotCustomShape* Own) {
    if (tick_on_labels_only_) AddTick(Pixel, Value);
    TCanvas3D& canvas = *chart_->Canvas();
    TPlotCustomShape* shape = nullptr;
    if (Own) {
        canvas.AssignFont(Own->Font());
        shape = Own;
    } else if (items_->Automatic) {
        shape = &items_->AddAutomatic(Value, Text);
    } else {
        canvas.AssignFont(items_->Format().Font());
    }
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    canvas.SetBackMode(gdi::TRANSPARENT);
    if (IsDepthAxis) {
        int z = Pixel;
        if (const chart::TView3DOptions* view = canvas.View3DOptions;
            view && (view->Rotation() == 360 || view->Orthogonal()))
            z = PixelPlus(z, canvas.FontHeight() / 2);
        const int x = other_side_ ? LabelsPosition
                                  : PixelPlus(LabelsPosition, -2LL - canvas.TextWidth("W") / 2);
        DrawAxisLabel(x, DepthAxisY(), labels_angle_, Text, shape, z);
        return;
    }
    int position = LabelsPosition;
    if (labels_alternate_) {
        if (alternate_) {
            long long by;
            if (horizontal_)
                by = other_side_ ? -canvas.FontHeight() : canvas.FontHeight();
            else {
                if (alternate_width_ < 0) {
                    // Measured once a paint; measuring selects other fonts.
                    alternate_width_ = MaxLabelsWidth();
                    canvas.AssignFont(Own ? Own->Font() : LabelsFont());
                }
                by = other_side_ ? alternate_width_ : -static_cast<long long>(alternate_width_);
            }
            position = PixelPlus(position, by);
        }
        alternate_ = !alternate_;
    }
    if (horizontal_)
        DrawAxisLabel(Pixel, position, labels_angle_, Text, shape, 0);
    else
        DrawAxisLabel(position, Pixel, labels_angle_, Text, shape, 0);
}

void TChartAxis::DrawAxisLabel(int X, int Y, int Angle, std::string Text, TPlotCustomShape* Format,
                               int Z) {
    TCanvas3D& canvas = *chart_->Canvas();
    Angle = static_cast<int>(((static_cast<long long>(Angle) % 360) + 360) % 360);
    const long long fontHeight = canvas.FontHeight();
    const long long h = fontHeight / 2;
    const bool vertical = !horizontal_;
    const TSide side = horizontal_ ? (other_side_ ? TSide::Top : TSide::Bottom)
                                   : (other_side_ ? TSide::Right : TSide::Left);
    auto opposite = [](TSide s) {
        switch (s) {
            case TSide::Bottom:
                return TSide::Top;
            case TSide::Top:
                return TSide::Bottom;
            case TSide::Left:
                return TSide::Right;
            default:
                return TSide::Left;
        }
    };
    long long x = X, y = Y;
    unsigned align = gdi::TA_LEFT;
    switch (Angle) {
        case 0:
            if (vertical && labels_align_ == alOpposite) {
                const long long size = LabelsSizeAcross();
                align = other_side_ ? gdi::TA_RIGHT : gdi::TA_LEFT;
                x += other_side_ ? size : -size;
            } else {
                align = SideAlign(side);
            }
            if (vertical && !IsDepthAxis) y -= h;
            break;
        case 180:
            align = SideAlign(opposite(side));
            if (vertical) y += h;
            break;
        case 90:
            if (vertical) {
                align = TurnedAlign(!other_side_);
                if (IsDepthAxis) y += h;
            } else {
                align = SideAlign(other_side_ ? TSide::Right : TSide::Left);
                x -= h;
            }
            break;
        case 270:
            if (vertical) {
                align = TurnedAlign(other_side_);
                if (IsDepthAxis) y += h;
            } else {
                align = SideAlign(other_side_ ? TSide::Left : TSide::Right);
                x += h;
            }
            break;
        case 45:
            align = gdi::TA_LEFT;
            if (horizontal_) {
                int lines = 0;
                if (!other_side_) {
                    const long long d = RoundTo64(chart_->MultiLineTextWidth(Text, lines) * std::sin(std::numbers::pi / 4));
                    x -= d;
                    y += d;
                } else {
                    const long long d = canvas.TextWidth("Wj");
                    x -= d;
                    y -= d;
                }
            }
            break;
        default:
            align = gdi::TA_LEFT;
            break;
    }
    const int z = IsDepthAxis ? Z : DepthPixel;

    auto lines = LinesOf(Text);
    long long n = static_cast<long long>(lines.size());
    const long long L = (Angle == 180 || Angle == 270) ? -fontHeight : fontHeight;
    const long long T = L * n;
    const long long half = RoundTo64(L * 0.5 * static_cast<double>(n + 1));
    if (horizontal_) {
        if (Angle == 0)
            y -= other_side_ ? T : L;
        else if (Angle == 180)
            y -= other_side_ ? L : T;
        else if (Angle == 90 || Angle == 270)
            x -= half;
    } else {
        if (Angle == 0 || Angle == 180)
            y -= half;
        else if (Angle == 90)
            x -= other_side_ ? L : T;
        else if (Angle == 270)
            x -= other_side_ ? T : L;
    }

    // A shape of its own (custom item, automatic label's item, title): its
    // bounds around the text block, turned with the text.
    if (Format && Format != &items_->Format()) {
        int count = 0;
        const long long width = chart_->MultiLineTextWidth(Text, count);
        const long long height = n * fontHeight;
        const long long grow = canvas.TextWidth("W") / 2;
        // The block in the text's own frame, from the first line's anchor.
        double left = 0, top = 0;
        if ((align & gdi::TA_CENTER) == gdi::TA_CENTER)
            left = -width / 2.0;
        else if (align & gdi::TA_RIGHT)
            left = -static_cast<double>(width);
        if (align & gdi::TA_BOTTOM) top = -static_cast<double>(height);
        left -= grow;
        const double w = width + 2.0 * grow, hgt = static_cast<double>(height);
        const bool turned = Angle == 90 || Angle == 270;
        const double ax = static_cast<double>(turned ? x + L : x);
        const double ay = static_cast<double>(turned ? y : y + L);
        const double a = Angle * std::numbers::pi / 180.0;
        const double cx = left + w / 2, cy = top + hgt / 2;
        const double sx = ax + cx * std::cos(a) + cy * std::sin(a);
        const double sy = ay - cx * std::sin(a) + cy * std::cos(a);
        TRect bounds{RoundPixel(sx - w / 2), RoundPixel(sy - hgt / 2), RoundPixel(sx + w / 2),
                     RoundPixel(sy + hgt / 2)};
        if (z != 0) bounds = canvas.CalcRect3D(bounds, z);
        Format->ShapeBounds = bounds;
        if (!Format->Transparent()) {
            chart::TPlotFont* font = canvas.FontReference;
            Format->DrawRectRotated(bounds, Angle, 0);
            if (font) canvas.AssignFont(*font);
            canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
            canvas.SetBackMode(gdi::TRANSPARENT);
        }
    }

    const unsigned oldAlign = canvas.GetTextAlign();
    canvas.SetTextAlign(align);
    int dx = static_cast<int>(std::clamp<long long>(x, INT32_MIN, INT32_MAX));
    int dy = static_cast<int>(std::clamp<long long>(y, INT32_MIN, INT32_MAX));
    int dz = z;
    if (OnDrawLabel) {
        bool draw = true;
        OnDrawLabel(this, dx, dy, dz, Text, draw);
        if (!draw) {
            canvas.SetTextAlign(oldAlign);
            return;
        }
        lines = LinesOf(Text);
    }
    x = dx;
    y = dy;
    for (const std::string& line : lines) {
        if (Angle == 90 || Angle == 270)
            x += L;
        else
            y += L;
        const int px = ClampPixel(x), py = ClampPixel(y);
        if (Angle == 0) {
            if (labels_exponent_)
                LabelExponent(px, py, dz, line);
            else
                canvas.TextOut3D(px, py, dz, line);
        } else {
            canvas.RotateLabel3D(px, py, dz, line, Angle);
        }
    }
    canvas.SetTextAlign(oldAlign);
}

void TChartAxis::LabelExponent(int X, int Y, int Z, const std::string& Text) {
    TCanvas3D& canvas = *chart_->Canvas();
    const std::size_t at = Text.find_first_of("eE");
    if (at == std::string::npos) {
        canvas.TextOut3D(X, Y, Z, Text);
        return;
    }
    const std::string mantissa = Text.substr(0, at), exponent = Text.substr(at + 1);
    const int h = canvas.FontHeight() - 1;
    const int size = canvas.Font->Size();
    const int raised = PixelPlus(Y, -static_cast<long long>(h / 2) + 2);
    const unsigned align = canvas.GetTextAlign();
    auto restoreSize = [&] { canvas.Font->SetSize(size); };
    if ((align & gdi::TA_CENTER) == 0 && (align & gdi::TA_RIGHT) == 0) {
        canvas.TextOut3D(X, Y, Z, mantissa);
        const int w = canvas.TextWidth(mantissa) + 1;
        canvas.Font->SetSize(size - size / 4);
        try {
            canvas.TextOut3D(PixelPlus(X, w), raised, Z, exponent);
        } catch (...) {
            restoreSize();
            throw;
        }
        restoreSize();
        return;
    }
    canvas.Font->SetSize(size - size / 4);
    int w = 0;
    try {
        w = canvas.TextWidth(exponent) + 1;
        const bool centred = (align & gdi::TA_CENTER) == gdi::TA_CENTER;
        canvas.TextOut3D(PixelPlus(X, centred ? w / 2 : 0), raised, Z, exponent);
    } catch (...) {
        restoreSize();
        throw;
    }
    restoreSize();
    canvas.TextOut3D(PixelPlus(X, -static_cast<long long>(w)), Y, Z, mantissa);
}

// ---- Lines

void TChartAxis::DrawLines() {
    TCanvas3D& canvas = *chart_->Canvas();
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    canvas.SetBackMode(gdi::TRANSPARENT);
    WallThickness = chart_->CalcWallSize(*this);
    // Whatever fills the spaces between grid lines goes beneath every line
    // of the axis; a wall's second drawing of the axis leaves it alone.
    if (OnDrawGrids && !HideBackGrid) {
        OnDrawGrids(this);
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        canvas.SetBackMode(gdi::TRANSPARENT);
    }
    if (axis_pen_->Visible()) DrawAxisLine();
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    if (ticks_->Visible()) {
        canvas.AssignVisiblePen(*ticks_);
        for (int p : TickPositions) DrawTick(p, 1, tick_length_);
    }
    if (grid_->Visible()) {
        canvas.AssignVisiblePen(*grid_);
        const std::size_t every = static_cast<std::size_t>(std::max(1, grid_->DrawEvery()));
        if (!grid_->Centered()) {
            for (std::size_t i = 0; i < TickPositions.size(); i += every) DrawGridLine(TickPositions[i]);
        } else {
            for (std::size_t i = 1; i < TickPositions.size(); ++i)
                if (i % every == 0)
                    DrawGridLine(RoundPixel(
                        (static_cast<double>(TickPositions[i]) + TickPositions[i - 1]) * 0.5));
        }
    }
    if (ticks_inner_->Visible()) {
        canvas.AssignVisiblePen(*ticks_inner_);
        for (int p : TickPositions) DrawTick(p, -1, -tick_inner_length_);
    }
    if (minor_ticks_->Visible() && !TickPositions.empty()) {
        canvas.AssignVisiblePen(*minor_ticks_);
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        DrawMinorMarks(true);
    }
    if (minor_grid_->Visible()) {
        canvas.AssignVisiblePen(*minor_grid_);
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        DrawMinorMarks(false);
    }
    canvas.SetBackMode(gdi::OPAQUE);
}

void TChartAxis::DrawAxisLine() {
    TCanvas3D& canvas = *chart_->Canvas();
    canvas.AssignVisiblePen(*axis_pen_);
    const TPenLineMode mode = axis_pen_->LineMode();
    if (mode != lmLine) {
        canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
        canvas.Brush->SetColor(axis_pen_->Color());
    }
    const bool flat = !chart_->View3D();
    const TRect& r = chart_->ChartRect;
    const long long bottomWall = chart_->CalcWallSize(chart_->BottomAxis());
    const long long w = axis_pen_->Width();
    // A solid line: a cylinder or a box around it, the pen's width to
    // each side and in depth.
    auto solid = [&](long long x0, long long y0, long long x1, long long y1, long long z0, long long z1,
                     bool verticalCylinder) {
        const int left = ClampPixel(std::min(x0, x1) - w), right = ClampPixel(std::max(x0, x1) + w);
        const int top = ClampPixel(std::min(y0, y1) - w), bottom = ClampPixel(std::max(y0, y1) + w);
        const int za = ClampPixel(z0 - w), zb = ClampPixel(z1 + w);
        if (mode == lmCylinder)
            canvas.Cylinder(verticalCylinder, left, top, right, bottom, za, zb, true);
        else
            canvas.Cube(left, right, top, bottom, za, zb, true);
    };
    if (IsDepthAxis) {
        const int y = other_side_ ? PixelPlus(r.Bottom + bottomWall, -static_cast<long long>(DepthPixel))
                                  : PixelPlus(r.Top, -static_cast<long long>(DepthPixel));
        if (mode == lmLine)
            canvas.ZLine3D(AxisPosition, y, StartPixel, EndPixel);
        else
            solid(AxisPosition, y, AxisPosition, y, StartPixel, EndPixel, false);
        return;
    }
    long long x0, y0, x1, y1;
    if (horizontal_) {
        if (other_side_) {
            x0 = StartPixel, x1 = EndPixel;
            y0 = y1 = AxisPosition;
        } else {
            x0 = static_cast<long long>(StartPixel) - chart_->CalcWallSize(chart_->LeftAxis());
            x1 = static_cast<long long>(EndPixel) + chart_->CalcWallSize(chart_->RightAxis());
            y0 = y1 = static_cast<long long>(AxisPosition) + WallThickness;
        }
    } else {
        x0 = x1 = other_side_ ? static_cast<long long>(AxisPosition) + WallThickness
                              : static_cast<long long>(AxisPosition) - WallThickness;
        y0 = StartPixel;
        y1 = EndPixel + bottomWall;
    }
    if (mode != lmLine) {
        solid(x0, y0, x1, y1, DepthPixel, DepthPixel, !horizontal_);
        return;
    }
    const int a0 = ClampPixel(x0), b0 = ClampPixel(y0), a1 = ClampPixel(x1), b1 = ClampPixel(y1);
    const bool plain = flat && !other_side_;
    if (horizontal_) {
        if (plain)
            canvas.HorizLine(a0, a1, b0);
        else
            canvas.HorizLine3D(a0, a1, b0, DepthPixel);
    } else {
        if (plain)
            canvas.VertLine(a0, b0, b1);
        else
            canvas.VertLine3D(a0, b0, b1, DepthPixel);
    }
}

void TChartAxis::DrawTick(int Pixel, int Offset, int Length) {
    TCanvas3D& canvas = *chart_->Canvas();
    const bool flat = !chart_->View3D();
    if (IsDepthAxis) {
        const int y = DepthAxisY();
        const long long x0 = other_side_ ? static_cast<long long>(AxisPosition) + Offset
                                         : static_cast<long long>(AxisPosition) - Offset;
        const long long x1 = other_side_ ? x0 + Length : x0 - Length;
        canvas.HorizLine3D(ClampPixel(x0), ClampPixel(x1), y, Pixel);
        return;
    }
    if (horizontal_) {
        long long y0, y1;
        if (other_side_) {
            y0 = static_cast<long long>(AxisPosition) - Offset;
            y1 = y0 - Length;
        } else {
            y0 = static_cast<long long>(AxisPosition) + Offset + WallThickness;
            y1 = y0 + Length;
        }
        if (flat && !other_side_)
            canvas.VertLine(Pixel, ClampPixel(y0), ClampPixel(y1));
        else
            canvas.VertLine3D(Pixel, ClampPixel(y0), ClampPixel(y1), DepthPixel);
    } else {
        long long x0, x1;
        if (other_side_) {
            x0 = static_cast<long long>(AxisPosition) + Offset + WallThickness;
            x1 = x0 + Length;
        } else {
            x0 = static_cast<long long>(AxisPosition) - (static_cast<long long>(Offset) + WallThickness);
            x1 = x0 - Length;
        }
        if (flat && !other_side_)
            canvas.HorizLine(ClampPixel(x0), ClampPixel(x1), Pixel);
        else
            canvas.HorizLine3D(ClampPixel(x0), ClampPixel(x1), Pixel, DepthPixel);
    }
}

void TChartAxis::DrawGridLine(int Pixel) {
    if (!(StartPixel < Pixel && Pixel < EndPixel)) return;
    TCanvas3D& canvas = *chart_->Canvas();
    const TRect& r = chart_->ChartRect;
    if (IsDepthAxis) {
        canvas.VertLine3D(r.Left, r.Top, r.Bottom, Pixel);
        canvas.HorizLine3D(r.Left, r.Right, r.Bottom, Pixel);
        return;
    }
    auto across = [&](int z) {
        if (horizontal_)
            canvas.VertLine3D(Pixel, PixelPlus(r.Top, 1), r.Bottom, z);
        else
            canvas.HorizLine3D(PixelPlus(r.Left, 1), r.Right, Pixel, z);
    };
    if (!chart_->View3D()) {
        if (horizontal_)
            canvas.VertLine(Pixel, PixelPlus(r.Top, 1), r.Bottom);
        else
            canvas.HorizLine(PixelPlus(r.Left, 1), r.Right, Pixel);
        return;
    }
    if (!chart_->AxisBehind()) {
        across(0);
        return;
    }
    const int depth = chart_->Width3D;
    if (!HideBackGrid) across(depth);
    if (!HideSideGrid) {
        const int z = RoundTo32(depth * grid_->ZPosition() * 0.01);
        if (z != depth) {
            if (horizontal_)
                canvas.ZLine3D(Pixel, AxisPosition, depth, z);
            else
                canvas.ZLine3D(AxisPosition, Pixel, depth, z);
        }
    }
}

void TChartAxis::DrawMinorMark(int Pixel, bool Tick) {
    if (!(StartPixel < Pixel && Pixel < EndPixel)) return;
    if (Tick)
        DrawTick(Pixel, 1, minor_tick_length_);
    else
        DrawGridLine(Pixel);
}

void TChartAxis::DrawMinorMarks(bool Ticks) {
    // More marks than the axis has pixels could not be told apart.
    const long long count =
        std::min<long long>(minor_tick_count_, std::abs(static_cast<long long>(AxisPixelSize)));
    if (count < 1 || TickPositions.empty()) return;
    if (!logarithmic_) {
        if (TickPositions.size() < 2) return;
        // Between two ticks no more marks than pixels.
        auto marksBetween = [&](long long a, long long b) { return std::min(count, std::abs(b - a)); };
        const long long outer = marksBetween(TickPositions[0], TickPositions[1]);
        const double step = (static_cast<double>(TickPositions[1]) - TickPositions[0]) / (count + 1);
        const int first = TickPositions.front(), last = TickPositions.back();
        for (long long i = 1; i <= outer; ++i) {
            const long long d = RoundTo64(i * step);
            DrawMinorMark(PixelPlus(first, -d), Ticks);
            DrawMinorMark(PixelPlus(last, d), Ticks);
        }
        for (std::size_t k = 1; k < TickPositions.size(); ++k) {
            const long long a = TickPositions[k - 1], b = TickPositions[k];
            const long long marks = marksBetween(a, b);
            for (long long i = 1; i <= marks; ++i)
                DrawMinorMark(PixelPlus(b, -RoundTo64(static_cast<double>(i * (b - a)) / (count + 1))), Ticks);
        }
        return;
    }
    // Each decade of a tick value (and the one below the first) once.
    const double base = logarithmic_base_ < 1 ? 1 / logarithmic_base_ : logarithmic_base_;
    std::vector<double> decades;
    if (!tick_values_.empty() && tick_values_.front() > 0) decades.push_back(tick_values_.front() / base);
    for (double v : tick_values_)
        if (v > 0 && std::isfinite(v)) decades.push_back(v);
    std::sort(decades.begin(), decades.end());
    decades.erase(std::unique(decades.begin(), decades.end()), decades.end());
    for (double v : decades) {
        const double step = (v * base - v) / (count + 1);
        for (long long i = 1; i <= count; ++i) {
            const double x = v + i * step;
            if (x >= InternalMinimum && x <= InternalMaximum) DrawMinorMark(CalcPosValue(x), Ticks);
        }
    }
}

}  // namespace chart::engine
