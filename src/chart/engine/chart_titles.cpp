#include "chart/engine/chart_titles.h"

#include <algorithm>

#include "chart/drawing/plot_geometry.h"
#include "chart/engine/pixel_math.h"
#include "chart/engine/plot_panel_extended.h"
#include "chart/engine/shape_text.h"

namespace chart::engine {

void TPlotCustomShapePosition::SetCustomPosition(bool Value) {
    if (Value == custom_position_) return;
    custom_position_ = Value;
    Repaint();
}

void TPlotCustomShapePosition::SetLeft(int Value) {
    ShapeBounds.Left = Value;
    custom_position_ = true;
    Repaint();
}

void TPlotCustomShapePosition::SetTop(int Value) {
    ShapeBounds.Top = Value;
    custom_position_ = true;
    Repaint();
}

void TPlotCustomShapePosition::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TPlotCustomShapePosition*>(&Source)) {
        custom_position_ = other->custom_position_;
        if (custom_position_) {
            ShapeBounds.Left = other->ShapeBounds.Left;
            ShapeBounds.Top = other->ShapeBounds.Top;
        }
    }
    TPlotCustomShape::Assign(Source);
}

TChartTitle::TChartTitle(TCustomPlotPanelExtended* Chart, bool AtTop)
    : TPlotCustomShapePosition(Chart), text_(std::make_unique<vcl::TStringList>()), at_top_(AtTop) {
    DefaultTransparent = true;
    SetTransparent(true);
    Font().DefaultColor = vcl::clBlue;
    Font().SetColor(vcl::clBlue);
    text_->OnChange = [this](vcl::TStringList*) { Repaint(); };
}

TChartTitle::~TChartTitle() = default;

void TChartTitle::SetAdjustFrame(bool Value) {
    if (Value == adjust_frame_) return;
    adjust_frame_ = Value;
    Repaint();
}

void TChartTitle::SetAlignment(TAlignment Value) {
    if (Value == alignment_) return;
    alignment_ = Value;
    Repaint();
}

void TChartTitle::SetText(const vcl::TStrings& Value) { text_->Assign(Value); }

void TChartTitle::SetVertMargin(int Value) {
    if (Value == vert_margin_) return;
    vert_margin_ = Value;
    Repaint();
}

bool TChartTitle::Clicked(int X, int Y) const {
    return Visible() && chart::PointInRectXY(ShapeBounds, X, Y);
}

void TChartTitle::DrawTitle() {
    TCustomPlotPanelExtended* chart = ParentChart();
    if (!chart || !Visible() || text_->Count() == 0) return;
    TCanvas3D& canvas = *chart->Canvas();
    const bool custom = CustomPosition();
    long long frame = 0;
    if (Frame().Visible() && Frame().Color() != vcl::clDefault) frame = Frame().Width();
    if (Bevel() != vcl::TBevelCut::bvNone) frame = BevelWidth();

    TRect& b = ShapeBounds;
    if (!custom) {
        b = chart->ChartRect;
        if (at_top_) b.Top = Clamp32(b.Top + frame);
    }
    canvas.AssignFont(Font());
    canvas.SetTextAlign(gdi::TA_LEFT);
    const long long h = canvas.FontHeight();
    const long long n = text_->Count();
    if (!at_top_ && !custom)
        b.Top = Clamp32(b.Bottom - n * h);
    else
        b.Bottom = Clamp32(b.Top + n * h);
    if (!custom) b = {Clamp32(b.Left - frame), Clamp32(b.Top - frame), Clamp32(b.Right + frame),
                      Clamp32(b.Bottom + frame)};
    const long long g = canvas.TextWidth("W");
    if (adjust_frame_) {
        long long widest = 0;
        for (int i = 0; i < n; ++i) widest = std::max<long long>(widest, canvas.TextWidth(text_->Strings(i)));
        const long long t = widest + g + frame;
        switch (alignment_) {
            case taLeftJustify: b.Right = Clamp32(b.Left + t); break;
            case taRightJustify: b.Left = Clamp32(b.Right - t); break;
            case taCenter: {
                if (custom) b.Right = Clamp32(b.Left + t);
                const long long c = ((long long)b.Left + b.Right) / 2;
                b.Left = Clamp32(c - t / 2);
                b.Right = Clamp32(c + t / 2);
                break;
            }
        }
    }
    Draw();

    // The box may have set its own font and alignment.
    canvas.AssignFont(Font());
    canvas.SetTextAlign(gdi::TA_LEFT);
    canvas.SetBackMode(gdi::TRANSPARENT);
    if (TextFormat() == ttfHtml) {
        const long long y = at_top_ ? b.Top + frame : b.Bottom - h - frame;
        DrawShapeText(canvas, Clamp32(b.Left + g / 2), Clamp32(y), text_->Text(), true);
    } else {
        for (int i = 0; i < n; ++i) {
            const std::string& line = text_->Strings(i);
            const long long y = at_top_ ? b.Top + frame + i * h : b.Bottom - h - (frame + (n - 1 - i) * h);
            long long x;
            switch (alignment_) {
                case taLeftJustify: x = b.Left + g / 2; break;
                case taRightJustify: x = b.Right - canvas.TextWidth(line) - g / 2; break;
                default: x = ((long long)b.Left + b.Right) / 2 - canvas.TextWidth(line) / 2; break;
            }
            canvas.TextOut(Clamp32(x), Clamp32(y), line);
        }
    }

    if (custom) return;
    long long margin = vert_margin_ + frame;
    if (!Transparent() && Shadow().Visible()) margin += Shadow().VertSize();
    if (at_top_)
        chart->ChartRect.Top = Clamp32(b.Bottom + margin);
    else
        chart->ChartRect.Bottom = Clamp32(b.Bottom - margin - n * h);
    chart->RecalcWidthHeight();
}

void TChartTitle::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TChartTitle*>(&Source)) {
        adjust_frame_ = other->adjust_frame_;
        alignment_ = other->alignment_;
        text_->Assign(*other->text_);
        vert_margin_ = other->vert_margin_;
    }
    TPlotCustomShapePosition::Assign(Source);
}

TChartFootTitle::TChartFootTitle(TCustomPlotPanelExtended* Chart) : TChartTitle(Chart, false) {
    Font().DefaultColor = vcl::clRed;
    Font().SetColor(vcl::clRed);
    Font().DefaultStyle = vcl::fsItalic;
    Font().SetStyle(vcl::fsItalic);
}

}  // namespace chart::engine
