#include "chart/engine/chart_walls.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "chart/drawing/plot_blend.h"
#include "chart/drawing/plot_geometry.h"
#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/pixel_math.h"

namespace chart::engine {

TCustomChartWall::TCustomChartWall(TCustomPlotPanelExtended* Chart, TColor Color)
    : TPlotCustomShape(Chart), DefaultColor(Color) {
    SetColor(Color);
}

void TCustomChartWall::Store(int& field, int value) {
    if (field == value) return;
    field = value;
    Repaint();
}

void TCustomChartWall::SetAutoHide(bool Value) {
    if (Value == auto_hide_) return;
    auto_hide_ = Value;
    Repaint();
}

void TCustomChartWall::SetDark3D(bool Value) {
    if (Value == dark3d_) return;
    dark3d_ = Value;
    Repaint();
}

void TCustomChartWall::SetEndPosition(int Value) { Store(end_position_, Value); }
void TCustomChartWall::SetStartPosition(int Value) { Store(start_position_, Value); }
void TCustomChartWall::SetSize(int Value) { Store(size_, Value); }

void TCustomChartWall::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TCustomChartWall*>(&Source)) {
        auto_hide_ = other->auto_hide_;
        dark3d_ = other->dark3d_;
        end_position_ = other->end_position_;
        start_position_ = other->start_position_;
        size_ = other->size_;
    }
    TPlotCustomShape::Assign(Source);
}

TChartWalls::TChartWalls(TCustomPlotPanelExtended* Chart)
    : back_(std::make_unique<TChartWall>(Chart, vcl::clSilver)),
      bottom_(std::make_unique<TChartWall>(Chart, vcl::clWhite)),
      left_(std::make_unique<TChartWall>(Chart, static_cast<TColor>(0x80FFFF))),
      right_(std::make_unique<TChartWall>(Chart, vcl::clSilver)) {
    back_->DefaultTransparent = true;
    back_->SetTransparent(true);
    back_->Shadow().SetVisible(false);
    back_->Shadow().SetColor(vcl::clGray);
    right_->SetVisible(false);
}

TChartWalls::~TChartWalls() = default;

TChartWall& TChartWalls::Wall(TWallKind Kind) {
    switch (Kind) {
        case TWallKind::Left: return *left_;
        case TWallKind::Bottom: return *bottom_;
        case TWallKind::Right: return *right_;
        default: return *back_;
    }
}

void TChartWalls::Assign(const TChartWalls& Source) {
    if (&Source == this) return;
    back_->Assign(*Source.back_);
    bottom_->Assign(*Source.bottom_);
    left_->Assign(*Source.left_);
    right_->Assign(*Source.right_);
}

// ---- Drawing

namespace {

int Percent(long long Length, int Percent) { return Clamp32(RoundTo64(Length * Percent * 0.01)); }

// One wall: its geometry, from the chart's last layout.
class TWallDrawing {
  public:
    TWallDrawing(TCustomChart& Chart, TWallKind Kind)
        : chart_(Chart), canvas_(*Chart.Canvas()), kind_(Kind), wall_(Chart.Walls().Wall(Kind)) {}

    void Draw() {
        Layout();
        canvas_.AssignVisiblePen(wall_.Frame());
        if (wall_.Transparent())
            canvas_.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        else
            chart_.SetBrushCanvas(wall_.Color(), wall_.Brush(), chart_.Color());
        std::unique_ptr<chart::TPlotBlend> blend;
        if (!wall_.Transparent() && wall_.Transparency() > 0)
            blend = canvas_.BeginBlending(chart::PolygonBounds(outline_, 4), wall_.Transparency());
        try {
            if (flat_)
                DrawFlatBack();
            else
                DrawInDepth();
            DrawPicture();
        } catch (...) {
            if (blend) canvas_.EndBlending(std::move(blend));
            throw;
        }
        if (blend) canvas_.EndBlending(std::move(blend));
    }

  private:
    void Layout() {
        const TRect& r = chart_.ChartRect;
        const long long depth = chart_.Width3D;
        SideWallHeight(chart_, wall_, top_, bottom_);
        flat_ = kind_ == TWallKind::Back && !chart_.View3D();
        switch (kind_) {
            case TWallKind::Back: {
                rect_ = {r.Left, top_, Clamp32(r.Right + 1LL),
                         wall_.EndPosition() == 100 ? Clamp32(bottom_ + 1LL) : bottom_};
                z0_ = chart_.Width3D;
                const long long size = wall_.Size();
                z1_ = Clamp32(depth < 0 ? depth - size : depth + size);
                if (size > 0 && !flat_)
                    rect_.Left = Clamp32(rect_.Left - (long long)chart_.CalcWallSize(chart_.LeftAxis()));
                outline_ = {At(rect_.Left, rect_.Top, z0_), At(rect_.Right, rect_.Top, z0_),
                            At(rect_.Right, rect_.Bottom, z0_), At(rect_.Left, rect_.Bottom, z0_)};
                break;
            }
            case TWallKind::Left:
            case TWallKind::Right: {
                x_ = kind_ == TWallKind::Left ? r.Left : r.Right;
                z0_ = 0;
                if (wall_.Size() < 1) {
                    z1_ = Clamp32(depth + 1);
                } else {
                    TChartWall& back = chart_.Walls().Back();
                    z1_ = Clamp32(depth + (back.Visible() ? back.Size() : 0));
                }
                outline_ = {At(x_, top_, z0_), At(x_, top_, z1_), At(x_, bottom_, z1_), At(x_, bottom_, z0_)};
                break;
            }
            case TWallKind::Bottom: {
                y_ = chart_.Canvas()->GetSupportsFull3D() ? Clamp32(r.Bottom + 1LL) : r.Bottom;
                left_ = r.Left;
                TChartWall& left = chart_.Walls().Left();
                if (left.Visible() && left.AutoHide() && WallSideTest(chart_, r.Left))
                    left_ = Clamp32(left_ - (long long)chart_.CalcWallSize(chart_.LeftAxis()));
                z0_ = Percent(depth, wall_.StartPosition());
                z1_ = Clamp32(depth - Percent(depth, 100 - wall_.EndPosition()));
                outline_ = {At(left_, y_, z0_), At(r.Right, y_, z0_), At(r.Right, y_, z1_), At(left_, y_, z1_)};
                break;
            }
        }
    }

    TPoint At(int X, int Y, int Z) { return canvas_.Calculate3DPosition(X, Y, Z); }

    bool DarkSides() {
        const vcl::TPicture* image = wall_.Brush().ImageIfAny();
        return wall_.Dark3D() && canvas_.Brush->Style() != vcl::TBrushStyle::bsClear &&
               !(image && image->Graphic());
    }

    // The back wall of a flat chart: the frame of the chart rectangle, with
    // its shadow and fill behind.
    void DrawFlatBack() {
        chart::TPlotShadow& shadow = wall_.Shadow();
        if (shadow.Visible() && (shadow.HorizSize() != 0 || shadow.VertSize() != 0)) {
            shadow.Draw(canvas_, rect_, 0, 0);
            // The shadow leaves its own brush on the surface.
            if (wall_.Transparent())
                canvas_.Brush->SetStyle(vcl::TBrushStyle::bsClear);
            else
                chart_.SetBrushCanvas(wall_.Color(), wall_.Brush(), chart_.Color());
            canvas_.AssignVisiblePen(wall_.Frame());
        }
        if (!wall_.Transparent() && wall_.GradientIfAny() && wall_.GradientIfAny()->Visible()) {
            wall_.GradientIfAny()->Draw(canvas_, rect_, 0);
            canvas_.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        }
        canvas_.RectangleRect(rect_);
    }

    void DrawInDepth() {
        if (!wall_.Transparent() && wall_.GradientIfAny() && wall_.GradientIfAny()->Visible()) {
            wall_.GradientIfAny()->DrawPolygon(canvas_, outline_);
            canvas_.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        }
        const TRect& r = chart_.ChartRect;
        const int size = wall_.Size();
        switch (kind_) {
            case TWallKind::Back:
                if (size < 1)
                    canvas_.RectangleWithZ(rect_, z0_);
                else
                    canvas_.Cube(rect_.Left, rect_.Right, rect_.Top, rect_.Bottom, std::min(z0_, z1_),
                                 std::max(z0_, z1_), DarkSides());
                break;
            case TWallKind::Left:
                if (size < 1)
                    canvas_.RectangleAtX(x_, top_, bottom_, z0_, z1_);
                else
                    canvas_.Cube(Clamp32(x_ - (long long)size), x_, top_, bottom_, z0_, z1_, DarkSides());
                break;
            case TWallKind::Right:
                if (size < 1)
                    canvas_.RectangleAtX(x_, top_, bottom_, z0_, z1_);
                else
                    canvas_.Cube(x_, Clamp32(x_ + (long long)size), top_, bottom_, z0_, z1_, DarkSides());
                break;
            case TWallKind::Bottom:
                if (size < 1)
                    canvas_.RectangleAtY(left_, y_, r.Right, z0_, z1_);
                else
                    canvas_.Cube(left_, r.Right, y_, Clamp32(y_ + (long long)size), z0_, z1_, DarkSides());
                break;
        }
    }

    void DrawPicture() {
        TBackImage* picture = wall_.PictureIfAny();
        vcl::TGraphic* graphic = picture && picture->Graphic() ? picture->FilteredGraphic() : nullptr;
        if (graphic) {
            switch (kind_) {
                case TWallKind::Back:
                    picture->Draw(chart_, rect_, flat_ ? 0 : z0_);
                    break;
                case TWallKind::Left:
                case TWallKind::Right:
                    canvas_.DrawBitmapCells({z0_, top_, z1_, bottom_}, graphic, 0, x_);
                    break;
                case TWallKind::Bottom:
                    canvas_.DrawBitmapCells({left_, z0_, chart_.ChartRect.Right, z1_}, graphic, 1, y_);
                    break;
            }
            return;
        }
        // The panel's picture meant for inside the chart rectangle goes on
        // the back wall.
        if (kind_ == TWallKind::Back && chart_.HasBackImage() && chart_.BackImageInside()) {
            TRect inside = chart_.ChartRect;
            if (wall_.Frame().Visible()) {
                inside.Right = Clamp32(inside.Right + 1LL);
                inside.Bottom = Clamp32(inside.Bottom + 1LL);
            }
            chart_.DrawBackImage(inside, flat_ ? 0 : z0_);
        }
    }

    TCustomChart& chart_;
    TCanvas3D& canvas_;
    TWallKind kind_;
    TChartWall& wall_;
    bool flat_ = false;
    int top_ = 0, bottom_ = 0;
    int x_ = 0, y_ = 0, left_ = 0;
    int z0_ = 0, z1_ = 0;
    TRect rect_{};
    std::vector<TPoint> outline_;
};

}  // namespace

void SideWallHeight(TCustomChart& Chart, const TCustomChartWall& Wall, int& Top, int& Bottom) {
    const TRect& r = Chart.ChartRect;
    long long bottom = (long long)r.Bottom + Chart.CalcWallSize(Chart.BottomAxis());
    if (Wall.EndPosition() != 100)
        bottom -= RoundTo64((bottom - r.Top) * (100 - Wall.EndPosition()) * 0.01);
    long long top = r.Top;
    if (Wall.StartPosition() != 0)
        top += RoundTo64(((long long)r.Bottom - r.Top) * Wall.StartPosition() * 0.01);
    Top = Clamp32(top);
    Bottom = Clamp32(bottom);
}

bool WallSideTest(TCustomChart& Chart, int X) {
    TCanvas3D& canvas = *Chart.Canvas();
    if (canvas.GetSupportsFull3D()) return true;
    const TRect& r = Chart.ChartRect;
    const int bottom = Clamp32((long long)r.Bottom + Chart.CalcWallSize(Chart.BottomAxis()));
    const int depth = Clamp32((long long)Chart.Walls().Back().Size() + Chart.Width3D);
    const TPoint p0 = canvas.Calculate3DPosition(X, r.Top, 0);
    const TPoint p1 = canvas.Calculate3DPosition(X, bottom, 0);
    const TPoint p2 = canvas.Calculate3DPosition(X, bottom, depth);
    const double c = (static_cast<double>(p0.X) - p1.X) * (static_cast<double>(p2.Y) - p1.Y) -
                     (static_cast<double>(p2.X) - p1.X) * (static_cast<double>(p0.Y) - p1.Y);
    return c < 0;
}

void DrawWall(TCustomChart& Chart, TWallKind Kind) { TWallDrawing(Chart, Kind).Draw(); }

}  // namespace chart::engine
