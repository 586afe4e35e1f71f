#pragma once
// Lines the user draws on the chart by dragging: free lines, pairs of
// parallel lines, rectangles and ellipses, kept in axis values so that they
// follow the data when the chart scrolls or zooms; selected by a click,
// moved as a whole or by their end handles.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/engine/plot_tool.h"

namespace chart::tools {

enum TDrawLineStyle : std::uint8_t { dlLine, dlHorizParallel, dlVertParallel, dlRectangle, dlEllipse };

class TDrawLineTool;

struct TFloatPoint {
    double X = 0;
    double Y = 0;
    bool operator==(const TFloatPoint&) const = default;
};

class TDrawLine {
  public:
    explicit TDrawLine(TDrawLineTool* Owner);
    ~TDrawLine();
    TDrawLine(const TDrawLine&) = delete;
    TDrawLine& operator=(const TDrawLine&) = delete;

    TDrawLineTool* Tool() const { return tool_; }
    const TFloatPoint& StartPos() const { return start_; }
    const TFloatPoint& EndPos() const { return end_; }
    void SetStartPos(const TFloatPoint& Value);
    void SetEndPos(const TFloatPoint& Value);
    double X0() const { return start_.X; }
    double Y0() const { return start_.Y; }
    double X1() const { return end_.X; }
    double Y1() const { return end_.Y; }
    void SetX0(double Value) { SetStartPos({Value, start_.Y}); }
    void SetY0(double Value) { SetStartPos({start_.X, Value}); }
    void SetX1(double Value) { SetEndPos({Value, end_.Y}); }
    void SetY1(double Value) { SetEndPos({end_.X, Value}); }
    TDrawLineStyle Style() const { return style_; }
    void SetStyle(TDrawLineStyle Value);
    // The line's own pen, made on first read as a copy of the tool's.
    chart::TChartPen& Pen();
    chart::TChartPen* PenIfAny() const { return pen_.get(); }
    // A copy into the line's own; none frees it.
    void SetPen(const chart::TChartPen* Value);

    // Points, style and pen of another line.
    void Assign(const TDrawLine& Source);

  private:
    friend class TDrawLines;
    friend class TDrawLineTool;
    void Repaint();
    TDrawLineTool* tool_;
    TFloatPoint start_;
    TFloatPoint end_;
    TDrawLineStyle style_ = dlLine;
    std::unique_ptr<chart::TChartPen> pen_;
};

class TDrawLines {
  public:
    explicit TDrawLines(TDrawLineTool* Owner) : tool_(Owner) {}
    int Count() const { return static_cast<int>(items_.size()); }
    TDrawLine& Items(int Index) const { return *items_.at(static_cast<std::size_t>(Index)); }
    TDrawLine& Add();
    void Delete(int Index);
    void Clear();
    int IndexOf(const TDrawLine* Line) const;
    void Assign(const TDrawLines& Source);

  private:
    TDrawLineTool* tool_;
    std::vector<std::unique_ptr<TDrawLine>> items_;
};

class TDrawLineTool : public engine::TPlotCustomToolSeries {
  public:
    explicit TDrawLineTool(vcl::TComponent* AOwner);
    ~TDrawLineTool() override;

    vcl::TMouseButton Button() const { return button_; }
    void SetButton(vcl::TMouseButton Value) { button_ = Value; }
    // Pixels of tolerance around a line's body (below 0 counts as 0).
    int ClickTolerance() const { return click_tolerance_; }
    void SetClickTolerance(int Value) { click_tolerance_ = std::max(0, Value); }
    bool EnableDraw() const { return enable_draw_; }
    void SetEnableDraw(bool Value) { enable_draw_ = Value; }
    bool EnableSelect() const { return enable_select_; }
    // Off clears the selection.
    void SetEnableSelect(bool Value);
    TDrawLines& Lines() { return *lines_; }
    void SetLines(const TDrawLines& Value) { lines_->Assign(Value); }
    bool SelectNewLines() const { return select_new_lines_; }
    void SetSelectNewLines(bool Value) { select_new_lines_ = Value; }
    TDrawLineStyle Style() const { return style_; }
    void SetStyle(TDrawLineStyle Value) { style_ = Value; }

    vcl::TNotifyEvent OnDraggedLine;
    vcl::TNotifyEvent OnDragLine;
    vcl::TNotifyEvent OnNewLine;
    vcl::TNotifyEvent OnSelect;
    std::function<void(TDrawLineTool* Sender, TDrawLine* Line, bool& AllowSelect)> OnSelecting;

    TDrawLine* Selected() const { return selected_; }
    void SetSelected(TDrawLine* Value);
    bool Drawing() const { return drawing_; }
    // 0 none, 1 the start point, 2 the end point, 3 the whole line.
    int Handle() const { return handle_; }

    TPoint AxisPoint(const TFloatPoint& P) const;
    TFloatPoint ScreenPoint(const TPoint& P) const;
    // The line under the pixel for Part (0 body, 1 start handle, 2 end
    // handle), the selected line first; none when none.
    TDrawLine* Clicked(int X, int Y, int Part) const;
    // Any part: body, then start handle, then end handle.
    TDrawLine* Clicked(int X, int Y) const;

    virtual void ClipDrawing();
    void ChartEvent(engine::TChartToolEvent AEvent) override;
    void ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button, vcl::TShiftState Shift,
                         int X, int Y) override;
    void SetActive(bool Value) override;
    void SetParentChart(engine::TCustomAxisPanel* Value) override;
    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TDrawLineEdit"; }

  private:
    friend class TDrawLine;
    void LineGone(const TDrawLine* Line);
    bool LineHit(const TDrawLine& Line, const TPoint& P, int Part) const;
    // One line (or, with none, the rubber band P0-P1 in the tool's style).
    void DrawLine(const TPoint& A, const TPoint& B, TDrawLineStyle Style, chart::TChartPen& Pen);
    void DrawHandles(const TDrawLine& Line);
    // The line being drawn or dragged, drawn on the shown image (a second
    // time takes it away).
    void ToggleDragged();
    void CancelDrag();

    vcl::TMouseButton button_ = vcl::TMouseButton::mbLeft;
    int click_tolerance_ = 0;
    bool enable_draw_ = true;
    bool enable_select_ = true;
    bool select_new_lines_ = true;
    TDrawLineStyle style_ = dlLine;
    std::unique_ptr<TDrawLines> lines_;
    TDrawLine* selected_ = nullptr;
    bool drawing_ = false;
    bool dragged_ = false;
    int handle_ = 0;
    TPoint from_;
    TPoint p0_;
    TPoint p1_;
};

}  // namespace chart::tools
