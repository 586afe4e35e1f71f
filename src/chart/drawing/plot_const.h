#pragma once
// The chart's messages, formats and default texts: one variable per entry,
// read whenever the text is needed, so a translation may replace them.
#include <string>

namespace chart {

extern std::string PlotMsg_LegendFirstValue;  // "First Legend Value must be > 0"
extern std::string PlotMsg_SeriesNoParent;  // "No ParentChart to validate DataSource"
extern std::string PlotMsg_SeriesInvalidSource;  // "No valid DataSource: %s"
extern std::string PlotMsg_FillSampleValues;  // "FillSampleValues NumValues must be > 0"
extern std::string PlotMsg_AxisLogDateTime;  // "DateTime Axis cannot be Logarithmic"
extern std::string PlotMsg_AxisLogNotPositive;  // "Logarithmic Axis Min and Max values should be >= 0"
extern std::string PlotMsg_AxisLabelSep;  // "Labels Separation % must be greater than 0"
extern std::string PlotMsg_AxisIncrementNeg;  // "Axis increment must be >= 0"
extern std::string PlotMsg_AxisMinMax;  // "Axis Minimum Value must be <= Maximum"
extern std::string PlotMsg_AxisMaxMin;  // "Axis Maximum Value must be >= Minimum"
extern std::string PlotMsg_AxisLogBase;  // "Axis Logarithmic Base should be <> 1 and > 0"
extern std::string PlotMsg_MaxPointsPerPage;  // "MaxPointsPerPage must be >= 0"
extern std::string PlotMsg_3DPercent;  // "3D effect percent must be between %d and %d"
extern std::string PlotMsg_CircularSeries;  // "Circular Series dependences are not allowed"
extern std::string PlotMsg_PointerSize;  // "Pointer size must be greater than zero"
extern std::string PlotMsg_FunctionPeriod;  // "Function Period should be >= 0"
extern std::string PlotMsg_SeriesDelete;  // "Series Delete: ValueIndex %d out of bounds (0 to %d)."
extern std::string PlotMsg_OfTotal;  // "%s of %s"
extern std::string PlotMsg_OfTotalTwoLines;  // "%s\rof %s"
extern std::string PlotMsg_DefPercentFormat;  // "##0.## %"
extern std::string PlotMsg_DefValueFormat;  // "#,##0.###"
extern std::string PlotMsg_ValuesX;  // "X"
extern std::string PlotMsg_ValuesY;  // "Y"
extern std::string PlotMsg_SeriesTitle;  // "Series"
extern std::string PlotMsg_GalleryNormal;  // "Normal"
extern std::string PlotMsg_GalleryDotted;  // "Dotted"
extern std::string PlotMsg_GalleryMarks;  // "Marks"
extern std::string PlotMsg_GalleryStairs;  // "Stairs"
extern std::string PlotMsg_DefaultFontSize;  // "8"
extern std::string PlotMsg_DefaultFontName;  // "Arial"

// Fills every entry with its text / empties every entry. The table starts
// as the program loads; PlotConstUse and PlotConstRelease count further users,
// and the table is emptied when the last one releases it.
void InitializePlotConst();
void FinalizePlotConst();
void PlotConstUse();
void PlotConstRelease();

}  // namespace chart
