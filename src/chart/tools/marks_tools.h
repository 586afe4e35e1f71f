#pragma once
// Tools on series marks: a point's mark text shown as a hint when the mouse
// rests on (or clicks) the point, and marks dragged by the mouse to
// positions of the user's own.
#include <cstdint>
#include <functional>
#include <string>

#include "chart/engine/plot_tool.h"
#include "chart/engine/series_marks.h"

namespace chart::tools {

// A drawing surface that keeps a text per point (for pictures that show
// tips by themselves); Key is the series' name or number, "_" and the
// point index.
class TPlotHintRegions {
  public:
    virtual ~TPlotHintRegions() = default;
    virtual void AddHintRegion(const std::string& Key, const std::string& Text) = 0;
};

enum TMarkToolMouseAction : std::uint8_t { mtmMove, mtmClick };
using TMarksTipGetText = std::function<void(vcl::TComponent* Sender, std::string& Text)>;

class TMarksTipTool : public engine::TPlotCustomToolSeries {
  public:
    explicit TMarksTipTool(vcl::TComponent* AOwner);
    ~TMarksTipTool() override;

    TMarkToolMouseAction MouseAction() const { return mouse_action_; }
    // A change takes a shown hint away.
    void SetMouseAction(TMarkToolMouseAction Value);
    engine::TSeriesMarksStyle Style() const { return style_; }
    void SetStyle(engine::TSeriesMarksStyle Value) { style_ = Value; }
    // The program's hint pause and hint hide pause, in ms.
    int MouseDelay() const;
    void SetMouseDelay(int Value);
    int HideDelay() const;
    void SetHideDelay(int Value);
    TMarksTipGetText OnGetText;
    vcl::TNotifyEvent OnCancelHint;

    // The series' chart with a series, else the tool's.
    engine::TCustomAxisPanel* Chart() const;
    // Switching off takes a shown hint away.
    void SetActive(bool Value) override;
    void ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button, vcl::TShiftState Shift,
                         int X, int Y) override;
    void ChartEvent(engine::TChartToolEvent AEvent) override;
    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TMarksTipToolEdit"; }

  private:
    // The text of the point's mark in the tool's style, through OnGetText.
    std::string TipText(engine::TChartSeries& Series, int ValueIndex);
    void ShowTip(engine::TChartSeries& Series, int ValueIndex, int X, int Y);
    void CancelTip();

    TMarkToolMouseAction mouse_action_ = mtmMove;
    engine::TSeriesMarksStyle style_ = engine::smsLabel;
};

using TDragMarkEvent = std::function<void(vcl::TComponent* Sender, int Index, vcl::TMouseButton Button,
                                          vcl::TShiftState Shift, int X, int Y)>;

class TDragMarksTool : public engine::TPlotCustomToolSeries {
  public:
    using TPlotCustomToolSeries::TPlotCustomToolSeries;

    TDragMarkEvent OnDraggedMark;
    TDragMarkEvent OnDraggingMark;
    // The mark being dragged, -1 for none.
    int DragIndex() const { return drag_index_; }

    void ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button, vcl::TShiftState Shift,
                         int X, int Y) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TDragMarksToolEditor"; }

  private:
    // The mark under the point: the series and its index (-1 for none).
    int MarkAt(int X, int Y, bool VisibleOnly, engine::TChartSeries*& Series);

    int drag_index_ = -1;
    engine::TChartSeries* drag_series_ = nullptr;
    int old_x_ = 0;
    int old_y_ = 0;
};

}  // namespace chart::tools
