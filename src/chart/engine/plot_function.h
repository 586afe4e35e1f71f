#pragma once
// Calculation functions: a function fills its parent series with values
// computed from the points of one or more source series, one value over
// all points or one per period (a number of points, or a range of X). The
// base calculates 0; a kind of function (a moving average, say) overrides
// Calculate and CalculateMany.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/vcl/component.h"

namespace chart::engine {

class TChartSeries;
class TChartValueList;
class TCustomAxisPanel;

// What Period counts: points, or a range of X values.
enum TFunctionPeriodStyle : std::uint8_t { psNumPoints, psRange };
// Where a period's result sits along X.
enum TFunctionPeriodAlign : std::uint8_t { paFirst, paCenter, paLast };

class TPlotFunction : public vcl::TComponent {
  public:
    explicit TPlotFunction(vcl::TComponent* AOwner = nullptr);

    // ---- Virtual operations, in their fixed order
    // Adds one point at X of the value over points FirstIndex..LastIndex.
    virtual void CalculatePeriod(TChartSeries& Source, double X, int FirstIndex, int LastIndex);
    // One value over all points: one point at the middle of the X range
    // (the parent's single-point flag), or a level line at both ends.
    virtual void CalculateAllPoints(TChartSeries& Source, TChartValueList& NotMandatory);
    // One point per period.
    virtual void CalculateByPeriod(TChartSeries& Source, TChartValueList& NotMandatory);
    // By period when Period is not 0, else over all points.
    virtual void DoCalculation(TChartSeries& Source, TChartValueList& NotMandatory);
    virtual std::string GetEditorClassName() const { return "TPlotFunctionEditor"; }
    // Puts every series of Chart in its preview look.
    virtual void PrepareForGallery(TCustomAxisPanel& Chart, bool IsEnabled = true);
    // The value over points FirstIndex..LastIndex (-1, -1: all); 0 here.
    virtual double Calculate(TChartSeries& Source, int FirstIndex, int LastIndex);
    // The value at ValueIndex over several sources; 0 here.
    virtual double CalculateMany(const std::vector<TChartSeries*>& SourceList, int ValueIndex);

    // ---- Settings (each recalculates the parent)
    double Period() const { return period_; }
    // Negative or not finite: ChartException, the period kept.
    void SetPeriod(double Value);
    TFunctionPeriodStyle PeriodStyle() const { return period_style_; }
    void SetPeriodStyle(TFunctionPeriodStyle Value);
    TFunctionPeriodAlign PeriodAlign() const { return period_align_; }
    void SetPeriodAlign(TFunctionPeriodAlign Value);
    // Period, PeriodStyle and PeriodAlign.
    void Assign(const TPlotFunction& Source);

    // While updating, settings recalculate nothing.
    void BeginUpdate() { updating_ = true; }
    void EndUpdate();
    bool Updating() const { return updating_; }
    // Unless updating, the parent series refills from its sources.
    void ReCalculate();

    // ---- The parent series (which owns the function)
    TChartSeries* ParentSeries() const { return parent_series_; }
    // Moves the function to Value (which takes it over); the old parent
    // forgets it.
    void SetParentSeries(TChartSeries* Value);
    vcl::TComponent* GetParentComponent() const;
    void SetParentComponent(vcl::TComponent* Value);
    bool HasParent() const { return true; }

    // Adds to the parent series the points computed from Source, or, when
    // the parent has several sources, one point per index of the largest.
    virtual void AddPoints(TChartSeries& Source);
    // The parent series was cleared; nothing to do here.
    virtual void SeriesCleared() {}
    // Whether the function can take Source as a source; any series here.
    virtual bool IsValidSource(TChartSeries&) { return true; }

  protected:
    // Adds (X, Y) to the parent, X and Y exchanged for a source kept along
    // a horizontal axis.
    void AddFunctionXY(bool YMandatorySource, double X, double Y);

  private:
    friend class TChartSeries;
    TChartSeries* parent_series_ = nullptr;
    double period_ = 0;
    TFunctionPeriodStyle period_style_ = psNumPoints;
    TFunctionPeriodAlign period_align_ = paCenter;
    bool updating_ = false;
};

}  // namespace chart::engine
