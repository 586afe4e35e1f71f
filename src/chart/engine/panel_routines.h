#pragma once
// Free routines that the chart panel and everything painted on it share:
// hit tests on segments and polygons, rectangle normalising, the calendar
// steps of date-time axes, text fields and an index-based quicksort.
#include <array>
#include <span>
#include <string>

#include "platform/vcl/graphics.h"

namespace chart::engine {

// ---------------------------------------------------------------- geometry

// Swaps Left/Right and Top/Bottom where they are reversed.
void RectangleNormalise(vcl::TRect& R);

// True when P is one of the ends, or lies within Tolerance + 1 pixels of the
// segment A-B (so a tolerance of 0 still accepts a neighbouring pixel).
bool PointInLine(const vcl::TPoint& P, const vcl::TPoint& A, const vcl::TPoint& B, int Tolerance);
bool PointInLine(const vcl::TPoint& P, int X0, int Y0, int X1, int Y1, int Tolerance = 0);

// Crossing-number test on the polygon Points[0..High]. False for High < 0;
// a High beyond the last point means the points there are.
bool PointInPolygon(const vcl::TPoint& P, std::span<const vcl::TPoint> Points, int High);

// ------------------------------------------------------ date-time steps

// Steps of date-time axes, indexes into DateTimeStep.
enum TDateTimeStep : int {
    dtOneMicrosecond,
    dtOneMillisecond,
    dtOneSecond,
    dtFiveSeconds,
    dtTenSeconds,
    dtFifteenSeconds,
    dtThirtySeconds,
    dtOneMinute,
    dtFiveMinutes,
    dtTenMinutes,
    dtFifteenMinutes,
    dtThirtyMinutes,
    dtOneHour,
    dtTwoHours,
    dtSixHours,
    dtTwelveHours,
    dtOneDay,
    dtTwoDays,
    dtThreeDays,
    dtOneWeek,
    dtHalfMonth,
    dtOneMonth,
    dtTwoMonths,
    dtThreeMonths,
    dtFourMonths,
    dtSixMonths,
    dtOneYear,
    dtNone  // no step
};

// The length of each step in days. From dtHalfMonth on the steps are
// calendar units; these are their nominal lengths.
inline constexpr std::array<double, dtNone> DateTimeStep = {1.0 / 86400000000.0,
                                                            1.0 / 86400000.0,
                                                            1.0 / 86400.0,
                                                            5.0 / 86400.0,
                                                            10.0 / 86400.0,
                                                            15.0 / 86400.0,
                                                            30.0 / 86400.0,
                                                            1.0 / 1440.0,
                                                            5.0 / 1440.0,
                                                            10.0 / 1440.0,
                                                            15.0 / 1440.0,
                                                            30.0 / 1440.0,
                                                            1.0 / 24.0,
                                                            2.0 / 24.0,
                                                            6.0 / 24.0,
                                                            12.0 / 24.0,
                                                            1.0,
                                                            2.0,
                                                            3.0,
                                                            7.0,
                                                            15.0,
                                                            30.0,
                                                            60.0,
                                                            90.0,
                                                            120.0,
                                                            182.0,
                                                            365.0};

// The format for labels a Step (in days) apart: the runtime's short time
// format up to one day, else its short date format. The result is the
// pattern that names them ("t", "ddddd"), for FormatDateTime.
std::string DateTimeDefaultFormat(double Step);

// The table step above Step: the one after the largest entry not above it;
// 365 days when Step is below every entry.
double NextDateTimeStep(double Step);

// The index of the entry within one microsecond of StepValue (searched from
// the largest), dtNone when there is none.
int FindDateTimeStep(double StepValue);

// Aligns a date-time to a step: days, two, three days and weeks by rounding;
// from the half month on to the start of the calendar unit (the time of day
// dropped); 0 stays 0. Calendar units on a date outside the years 1..9999
// raise the runtime's EConvertError.
double AlignDateTimeToStep(int Step, double Value);

// Moves Value by Amount, forwards when Increment. On a date-time with a
// calendar step (dtHalfMonth..dtOneYear) it moves by calendar units instead:
// to the neighbouring half-month boundary (the 1st or the 15th); by 1, 2, 3,
// 4 or 6 months keeping the day (a day that the target month lacks becomes
// its last day); by years until Amount is covered. The time of day is kept.
// A date outside the years 1..9999, before or after the move, raises the
// runtime's EConvertError.
void IncDecDateTime(bool IsDateTime, bool Increment, double& Value, double Amount, int Step);

std::string PlotIntToStr(int Value);

// ------------------------------------------------------------------- text

// Splits the lines of labels, marks and titles.
inline constexpr char kPlotLineSeparator = '\r';
// Splits a legend row into its two columns.
inline constexpr char kPlotColumnSeparator = '\x06';

// The separator of PlotExtractField, ";" at start.
const std::string& PlotFieldSeparator();
void SetPlotFieldSeparator(std::string Separator);

// The Index-th field (from 1) of S split at the field separator: empty when
// S is empty or Index < 1, the whole rest when S has fewer separators.
std::string PlotExtractField(const std::string& S, int Index);
std::string PlotExtractFieldWithSeparator(const std::string& S, int Index,
                                          const std::string& Separator);

// Every Old becomes New; a New of '\0' deletes every Old.
std::string PlotReplaceChar(std::string S, char Old, char New);

// ------------------------------------------------------------------- sort

// Sorts the index range Lo..Hi through callbacks: Compare(A, B) < 0 when the
// item at A sorts before the one at B, Swap(A, B) exchanges them. Neither
// callback ever gets an index outside Lo..Hi, even from an inconsistent
// Compare. The smaller part is sorted first and the larger one in the same
// frame, so the stack stays within log2(Hi - Lo) frames whatever the input.
template <class CompareFn, class SwapFn>
void PlotQuickSort(int Lo, int Hi, CompareFn&& Compare, SwapFn&& Swap) {
    while (Lo < Hi) {
        int i = Lo;
        int j = Hi;
        int pivot = static_cast<int>((static_cast<long long>(Lo) + Hi) / 2);
        while (i < j) {
            while (i < Hi && Compare(i, pivot) < 0) ++i;
            while (j > Lo && Compare(pivot, j) < 0) --j;
            if (i < j) {
                Swap(i, j);
                // The pivot item moved: follow it.
                if (pivot == i)
                    pivot = j;
                else if (pivot == j)
                    pivot = i;
            }
            if (i <= j) {
                ++i;
                --j;
            }
        }
        if (j - Lo < Hi - i) {
            if (Lo < j) PlotQuickSort(Lo, j, Compare, Swap);
            Lo = i;
        } else {
            if (i < Hi) PlotQuickSort(i, Hi, Compare, Swap);
            Hi = j;
        }
    }
}

}  // namespace chart::engine
