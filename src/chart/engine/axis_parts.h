#pragma once
// What an axis is drawn with besides its numbers: the title, the pens of
// the axis line and of the grid, and the custom labels that may take the
// place of the automatic ones.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chart/drawing/plot_pens.h"
#include "chart/engine/plot_shape.h"

namespace chart::engine {

class TChartAxis;

enum TPenLineMode : std::uint8_t { lmLine, lmCylinder, lmRectangle };

// The caption of an axis: a transparent framed shape with a text and an
// angle (0 to 359).
class TChartAxisTitle : public TPlotCustomShape {
  public:
    explicit TChartAxisTitle(TCustomPlotPanelExtended* Chart);

    int Angle() const { return angle_; }
    // Stored modulo 360 (negative angles counted forward).
    void SetAngle(int Value);
    // The angle the title was made with (90 on a left axis, ...); Angle is
    // written to a stream only when it differs.
    int DefaultAngle = 0;
    bool IsAngleStored() const { return angle_ != DefaultAngle; }
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& Value);

    // Visible, a caption, and the point inside the shape's bounds (turned
    // by the angle about their centre).
    bool Clicked(int X, int Y) const;

    // Angle and Caption, then the shape.
    void Assign(const vcl::TPersistent& Source) override;

  private:
    int angle_ = 0;
    std::string caption_;
};

// The pen of the axis line: two pixels wide, drawn as a line, a cylinder or
// a box.
class TChartAxisPen : public chart::TChartPen {
  public:
    explicit TChartAxisPen(chart::TNotifyEvent OnChange = {});
    TPenLineMode LineMode() const { return line_mode_; }
    void SetLineMode(TPenLineMode Value);
    void Assign(const vcl::TPersistent& Source) override;

  private:
    TPenLineMode line_mode_ = lmLine;
};

// The dotted grey pen of the grid lines at the ticks.
class TAxisGridPen : public chart::TDottedGrayPen {
  public:
    explicit TAxisGridPen(chart::TNotifyEvent OnChange = {});
    // Grid lines halfway between the ticks.
    bool Centered() const { return centered_; }
    void SetCentered(bool Value);
    // A grid line at every n-th tick; below 1 acts as 1.
    int DrawEvery() const { return draw_every_; }
    void SetDrawEvery(int Value);
    // Where grid lines along the depth end, in percent of the chart depth.
    double ZPosition() const { return z_position_; }
    void SetZPosition(double Value);
    double DefaultZPosition = 0;
    bool IsZPositionStored() const { return z_position_ != DefaultZPosition; }
    void Assign(const vcl::TPersistent& Source) override;

  private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed();
    }
    bool centered_ = false;
    int draw_every_ = 1;
    double z_position_ = 0;
};

// One custom label: a transparent shape with the value it stands at and its
// text.
class TAxisItem : public TPlotCustomShape {
  public:
    explicit TAxisItem(TCustomPlotPanelExtended* Chart);
    double Value() const { return value_; }
    void SetValue(double Value);
    const std::string& Text() const { return text_; }
    void SetText(const std::string& Value);

  private:
    double value_ = 0;
    std::string text_;
};

// The labels of an axis. While Automatic the axis makes its own labels and
// keeps the ones it drew last here; adding one by hand ends that.
class TAxisItems {
  public:
    explicit TAxisItems(TChartAxis& Axis);
    ~TAxisItems();

    bool Automatic = true;
    // The look of labels without a shape of their own (also the font and
    // visibility of the automatic labels).
    TPlotShape& Format() { return *format_; }
    const TPlotShape& Format() const { return *format_; }
    TChartAxis& Axis() const { return axis_; }

    int Count() const { return static_cast<int>(items_.size()); }
    TAxisItem& Items(int Index) const { return *items_.at(static_cast<std::size_t>(Index)); }
    // A label of the user's: Automatic becomes False (the first one drops
    // the labels the axis drew itself).
    TAxisItem& Add(double Value);
    TAxisItem& Add(double Value, const std::string& Text);
    // A label the axis drew (Automatic stays as it is).
    TAxisItem& AddAutomatic(double Value, const std::string& Text);
    // Frees every item and repaints; Automatic stays as it is.
    void Clear();
    // The format and Automatic; the items of custom labels anew.
    void Assign(const TAxisItems& Source);

  private:
    TChartAxis& axis_;
    std::unique_ptr<TPlotShape> format_;
    std::vector<std::unique_ptr<TAxisItem>> items_;
};

}  // namespace chart::engine
