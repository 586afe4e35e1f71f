#include "chart/engine/draw3d.h"

#include "chart/engine/panel_routines.h"

namespace chart::engine {

TDraw3D::TDraw3D(vcl::TComponent* AOwner) : TCustomPlotPanelExtended(AOwner) {}

void TDraw3D::InternalDraw(const TRect& UserRect) {
    // What the handlers change must not start another paint.
    struct TNoRepaint {
        TDraw3D& panel;
        bool old;
        explicit TNoRepaint(TDraw3D& p) : panel(p), old(p.AutoRepaint) { panel.AutoRepaint = false; }
        ~TNoRepaint() { panel.AutoRepaint = old; }
    } noRepaint(*this);
    TCanvas3D& canvas = *Canvas();
    const bool full3D = canvas.GetSupportsFull3D();
    if (!full3D) DrawPanelBackground(UserRect);
    RectangleNormalise(ChartRect);
    RecalcWidthHeight();
    canvas.Projection(100, UserRect);
    if (full3D) {
        const TRect saved = ChartRect;
        ChartRect = UserRect;
        try {
            DrawPanelBackground(UserRect);
        } catch (...) {
            ChartRect = saved;
            throw;
        }
        ChartRect = saved;
    }
    canvas.ResetState();
    if (OnPaint) OnPaint(this, UserRect);
    if (Zoom().Active && !DrawingPicture()) DrawZoomRectangle();
    canvas.ResetState();
    if (OnAfterDraw) OnAfterDraw(this);
}

}  // namespace chart::engine
