#pragma once
// A text box on the chart (at one of five places or where the user puts
// it), optionally with a callout line to a point; and a semi-transparent
// rectangle that the user drags and resizes with the mouse.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "chart/engine/callout.h"
#include "chart/engine/chart_titles.h"
#include "chart/engine/margins.h"
#include "chart/engine/plot_panel.h"
#include "chart/engine/plot_tool.h"

namespace chart::tools {

// The box of an annotation: a positioned shape with lines of text.
class TTextShape : public engine::TPlotCustomShapePosition {
  public:
    explicit TTextShape(engine::TCustomPlotPanelExtended* AOwner = nullptr);
    ~TTextShape() override;

    bool AutoSize() const { return auto_size_; }
    void SetAutoSize(bool Value) { Store(auto_size_, Value); }
    bool ClipText() const { return clip_text_; }
    void SetClipText(bool Value) { Store(clip_text_, Value); }
    vcl::TCursor Cursor() const { return cursor_; }
    void SetCursor(vcl::TCursor Value) { cursor_ = Value; }
    engine::TMargins& Margins() { return *margins_; }
    // Lines split at line feeds.
    const std::string& Text() const { return text_; }
    void SetText(const std::string& Value) { Store(text_, Value); }
    engine::TAlignment TextAlignment() const { return text_alignment_; }
    void SetTextAlignment(engine::TAlignment Value) { Store(text_alignment_, Value); }

    void Assign(const vcl::TPersistent& Source) override;
    // The frame and fill at ShapeBounds, then the lines (clipped to the box
    // when asked).
    void DrawText();

  private:
    template <class T>
    void Store(T& field, const T& value) {
        if (field == value) return;
        field = value;
        Repaint();
    }
    bool auto_size_ = true;
    bool clip_text_ = true;
    vcl::TCursor cursor_ = vcl::TCursor::crDefault;
    std::unique_ptr<engine::TMargins> margins_;
    std::string text_;
    engine::TAlignment text_alignment_ = engine::taLeftJustify;
};

// The line from the box to a point in pixels; hidden until shown.
class TAnnotationCallout : public engine::TCallout {
  public:
    explicit TAnnotationCallout(engine::TCustomPlotPanelExtended* Chart = nullptr);

    int XPosition() const { return x_; }
    int YPosition() const { return y_; }
    int ZPosition() const { return z_; }
    void SetXPosition(int Value) { Store(x_, Value); }
    void SetYPosition(int Value) { Store(y_, Value); }
    void SetZPosition(int Value) { Store(z_, Value); }
    void Assign(const vcl::TPersistent& Source) override;

  private:
    int x_ = 0;
    int y_ = 0;
    int z_ = 0;
};

enum TAnnotationPosition : std::uint8_t { ppLeftTop, ppLeftBottom, ppRightTop, ppRightBottom, ppCenter };
using TAnnotationClick = std::function<void(vcl::TComponent* Sender, vcl::TMouseButton Button,
                                            vcl::TShiftState Shift, int X, int Y)>;

class TAnnotationTool : public engine::TPlotCustomTool {
  public:
    explicit TAnnotationTool(vcl::TComponent* AOwner);
    ~TAnnotationTool() override;

    TTextShape& Shape() { return *shape_; }
    TAnnotationCallout& Callout() { return *callout_; }
    const std::string& Text() const { return shape_->Text(); }
    void SetText(const std::string& Value) { shape_->SetText(Value); }
    TAnnotationPosition Position() const { return position_; }
    // Places the box there (no longer where the user put it).
    void SetPosition(TAnnotationPosition Value);
    engine::TPlotUnits PositionUnits() const { return position_units_; }
    void SetPositionUnits(engine::TPlotUnits Value);
    int Left() const { return shape_->Left(); }
    int Top() const { return shape_->Top(); }
    void SetLeft(int Value) { shape_->SetLeft(Value); }
    void SetTop(int Value) { shape_->SetTop(Value); }
    int Width() const { return shape_->Width(); }
    int Height() const { return shape_->Height(); }
    // Negative sizes count as 0.
    void SetWidth(int Value);
    void SetHeight(int Value);

    vcl::TNotifyEvent OnBeforeDraw;
    vcl::TNotifyEvent OnAfterDraw;
    TAnnotationClick OnClick;
    TAnnotationClick OnDblClick;

    // The text shown: the shape's.
    virtual std::string GetText() { return shape_->Text(); }
    // The box and where its text starts, on the chart's surface.
    virtual void GetBounds(TRect& Rect, TPoint& TextOrigin);
    virtual void DrawText();
    // The box as last drawn (empty before).
    const TRect& Bounds() const { return bounds_; }
    bool Clicked(int X, int Y) const;

    void SetParentChart(engine::TCustomAxisPanel* Value) override;
    void ChartEvent(engine::TChartToolEvent AEvent) override;
    void ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button, vcl::TShiftState Shift,
                         int X, int Y) override;
    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TAnnotationToolEdit"; }

  protected:
    TRect bounds_;
    // The margins' pixel sizes of the last layout.
    int margin_width_ = 0;
    int margin_height_ = 0;

  private:
    std::unique_ptr<TTextShape> shape_;
    std::unique_ptr<TAnnotationCallout> callout_;
    TAnnotationPosition position_ = ppLeftTop;
    engine::TPlotUnits position_units_ = engine::muPixels;
};

class TRectangleTool : public TAnnotationTool {
  public:
    explicit TRectangleTool(vcl::TComponent* AOwner);

    bool AllowDrag() const { return allow_drag_; }
    void SetAllowDrag(bool Value) { allow_drag_ = Value; }
    bool AllowResize() const { return allow_resize_; }
    void SetAllowResize(bool Value) { allow_resize_ = Value; }
    vcl::TNotifyEvent OnDragging;
    vcl::TNotifyEvent OnDragged;
    vcl::TNotifyEvent OnResizing;
    vcl::TNotifyEvent OnResized;

    // Edges 0 left, 1 top, 2 right, 3 bottom; corners 4 top-left,
    // 5 bottom-left, 6 top-right, 7 bottom-right; -1 inside elsewhere or
    // outside.
    int ClickedZone(int X, int Y) const;
    bool Resizing() const { return zone_ != -1; }
    bool Dragging() const { return dragging_; }

    void SetActive(bool Value) override;
    void ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button, vcl::TShiftState Shift,
                         int X, int Y) override;
    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;

  private:
    // The shape at the new box (pixel units), or at its new corner (percent).
    void PlaceBox(const TRect& Box, bool KeepSize);

    bool allow_drag_ = true;
    bool allow_resize_ = true;
    int zone_ = -1;
    bool dragging_ = false;
    int grab_x_ = 0;
    int grab_y_ = 0;
};

}  // namespace chart::tools
