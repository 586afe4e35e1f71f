#include "chart/drawing/plot_const.h"

#include "chart/drawing/unit_start.h"

namespace chart {

// Empty until the table starts (built first, so they exist before any
// start-up code runs).
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_LegendFirstValue;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_SeriesNoParent;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_SeriesInvalidSource;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_FillSampleValues;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_AxisLogDateTime;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_AxisLogNotPositive;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_AxisLabelSep;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_AxisIncrementNeg;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_AxisMinMax;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_AxisMaxMin;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_AxisLogBase;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_MaxPointsPerPage;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_3DPercent;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_CircularSeries;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_PointerSize;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_FunctionPeriod;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_SeriesDelete;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_OfTotal;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_OfTotalTwoLines;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_DefPercentFormat;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_DefValueFormat;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_ValuesX;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_ValuesY;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_SeriesTitle;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_GalleryNormal;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_GalleryDotted;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_GalleryMarks;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_GalleryStairs;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_DefaultFontSize;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotMsg_DefaultFontName;

void InitializePlotConst() {
    PlotMsg_LegendFirstValue = "First Legend Value must be > 0";
    PlotMsg_SeriesNoParent = "No ParentChart to validate DataSource";
    PlotMsg_SeriesInvalidSource = "No valid DataSource: %s";
    PlotMsg_FillSampleValues = "FillSampleValues NumValues must be > 0";
    PlotMsg_AxisLogDateTime = "DateTime Axis cannot be Logarithmic";
    PlotMsg_AxisLogNotPositive = "Logarithmic Axis Min and Max values should be >= 0";
    PlotMsg_AxisLabelSep = "Labels Separation % must be greater than 0";
    PlotMsg_AxisIncrementNeg = "Axis increment must be >= 0";
    PlotMsg_AxisMinMax = "Axis Minimum Value must be <= Maximum";
    PlotMsg_AxisMaxMin = "Axis Maximum Value must be >= Minimum";
    PlotMsg_AxisLogBase = "Axis Logarithmic Base should be <> 1 and > 0";
    PlotMsg_MaxPointsPerPage = "MaxPointsPerPage must be >= 0";
    PlotMsg_3DPercent = "3D effect percent must be between %d and %d";
    PlotMsg_CircularSeries = "Circular Series dependences are not allowed";
    PlotMsg_PointerSize = "Pointer size must be greater than zero";
    PlotMsg_FunctionPeriod = "Function Period should be >= 0";
    PlotMsg_SeriesDelete = "Series Delete: ValueIndex %d out of bounds (0 to %d).";
    PlotMsg_OfTotal = "%s of %s";
    PlotMsg_OfTotalTwoLines = "%s\rof %s";
    PlotMsg_DefPercentFormat = "##0.## %";
    PlotMsg_DefValueFormat = "#,##0.###";
    PlotMsg_ValuesX = "X";
    PlotMsg_ValuesY = "Y";
    PlotMsg_SeriesTitle = "Series";
    PlotMsg_GalleryNormal = "Normal";
    PlotMsg_GalleryDotted = "Dotted";
    PlotMsg_GalleryMarks = "Marks";
    PlotMsg_GalleryStairs = "Stairs";
    PlotMsg_DefaultFontSize = "8";
    PlotMsg_DefaultFontName = "Arial";
}

void FinalizePlotConst() {
    PlotMsg_LegendFirstValue.clear();
    PlotMsg_SeriesNoParent.clear();
    PlotMsg_SeriesInvalidSource.clear();
    PlotMsg_FillSampleValues.clear();
    PlotMsg_AxisLogDateTime.clear();
    PlotMsg_AxisLogNotPositive.clear();
    PlotMsg_AxisLabelSep.clear();
    PlotMsg_AxisIncrementNeg.clear();
    PlotMsg_AxisMinMax.clear();
    PlotMsg_AxisMaxMin.clear();
    PlotMsg_AxisLogBase.clear();
    PlotMsg_MaxPointsPerPage.clear();
    PlotMsg_3DPercent.clear();
    PlotMsg_CircularSeries.clear();
    PlotMsg_PointerSize.clear();
    PlotMsg_FunctionPeriod.clear();
    PlotMsg_SeriesDelete.clear();
    PlotMsg_OfTotal.clear();
    PlotMsg_OfTotalTwoLines.clear();
    PlotMsg_DefPercentFormat.clear();
    PlotMsg_DefValueFormat.clear();
    PlotMsg_ValuesX.clear();
    PlotMsg_ValuesY.clear();
    PlotMsg_SeriesTitle.clear();
    PlotMsg_GalleryNormal.clear();
    PlotMsg_GalleryDotted.clear();
    PlotMsg_GalleryMarks.clear();
    PlotMsg_GalleryStairs.clear();
    PlotMsg_DefaultFontSize.clear();
    PlotMsg_DefaultFontName.clear();
}

namespace {

constinit TUnitStart unit_start(InitializePlotConst, FinalizePlotConst);
[[maybe_unused]] const bool started = StartAtLoad(unit_start);

}  // namespace

void PlotConstUse() { unit_start.Use(); }
void PlotConstRelease() { unit_start.Release(); }

}  // namespace chart
