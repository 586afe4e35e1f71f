#include "chart/engine/panel_routines.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/numbers.h"

namespace chart::engine {

// ---------------------------------------------------------------- geometry

void RectangleNormalise(vcl::TRect& R) {
    if (R.Left > R.Right) std::swap(R.Left, R.Right);
    if (R.Top > R.Bottom) std::swap(R.Top, R.Bottom);
}

namespace {

constexpr double AsDouble(int v) { return static_cast<double>(v); }

// Distance from P to the segment A-B. Doubles throughout: pixel positions
// reach far beyond the visible area and their products overflow 32 bits.
double DistanceToSegment(const vcl::TPoint& P, const vcl::TPoint& A, const vcl::TPoint& B) {
    const double px = P.X - AsDouble(A.X);
    const double py = P.Y - AsDouble(A.Y);
    const double dx = B.X - AsDouble(A.X);
    const double dy = B.Y - AsDouble(A.Y);
    const double length2 = dx * dx + dy * dy;
    if (length2 == 0) return std::hypot(px, py);
    const double t = (px * dx + py * dy) / length2;
    if (t < 0) return std::hypot(px, py);
    if (t > 1) return std::hypot(P.X - AsDouble(B.X), P.Y - AsDouble(B.Y));
    return std::hypot(px - t * dx, py - t * dy);
}

bool SamePoint(const vcl::TPoint& A, const vcl::TPoint& B) { return A.X == B.X && A.Y == B.Y; }

}  // namespace

bool PointInLine(const vcl::TPoint& P, const vcl::TPoint& A, const vcl::TPoint& B, int Tolerance) {
    if (SamePoint(P, A) || SamePoint(P, B)) return true;
    return DistanceToSegment(P, A, B) <= AsDouble(Tolerance) + 1;
}

bool PointInLine(const vcl::TPoint& P, int X0, int Y0, int X1, int Y1, int Tolerance) {
    return PointInLine(P, vcl::TPoint{X0, Y0}, vcl::TPoint{X1, Y1}, Tolerance);
}

bool PointInPolygon(const vcl::TPoint& P, std::span<const vcl::TPoint> Points, int High) {
    if (High < 0 || Points.empty()) return false;
    const std::size_t count = std::min(static_cast<std::size_t>(High) + 1, Points.size());
    bool inside = false;
    std::size_t j = count - 1;
    for (std::size_t i = 0; i < count; j = i++) {
        const vcl::TPoint& a = Points[i];
        const vcl::TPoint& b = Points[j];
        if ((a.Y <= P.Y && P.Y < b.Y) || (b.Y <= P.Y && P.Y < a.Y)) {
            const double crossX =
                (AsDouble(b.X) - a.X) * (AsDouble(P.Y) - a.Y) / (AsDouble(b.Y) - a.Y) + a.X;
            if (P.X < crossX) inside = !inside;
        }
    }
    return inside;
}

// ------------------------------------------------------ date-time steps

namespace {

// The runtime's dates run from 0001-01-01 (day -693593) to 9999-12-31 (day
// 2958465); the fraction of a negative value counts forward from its day.
constexpr double kFirstDay = -693593.0;
constexpr double kLastDay = 2958465.0;

[[noreturn]] void DateError() { throw rtl::EConvertError("Invalid argument to date encode"); }

struct TCalendarDate {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    double TimeOfDay = 0;
};

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && rtl::IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Decoding outside the runtime's range would give a wrong date silently.
TCalendarDate Decode(double value) {
    if (!(value > kFirstDay - 1 && value < kLastDay + 1)) DateError();
    TCalendarDate d;
    rtl::DecodeDate(value, d.Year, d.Month, d.Day);
    int hour, min, sec, msec;
    rtl::DecodeTime(value, hour, min, sec, msec);
    d.TimeOfDay = rtl::EncodeTime(hour, min, sec, msec);
    return d;
}

// A day past the end of its month becomes the month's last day.
double Encode(const TCalendarDate& d) {
    if (d.Year < 1 || d.Year > 9999) DateError();
    const double date =
        rtl::EncodeDate(d.Year, d.Month, std::min(d.Day, DaysInMonth(d.Year, d.Month)));
    return date < 0 ? date - d.TimeOfDay : date + d.TimeOfDay;
}

void MoveMonths(TCalendarDate& d, int months) {
    const int total = d.Year * 12 + (d.Month - 1) + months;
    d.Year = total >= 0 ? total / 12 : -((11 - total) / 12);
    d.Month = total - d.Year * 12 + 1;
}

double RoundToMultiple(double value, double unit, double offset) {
    return static_cast<double>(rtl::Round((value - offset) / unit)) * unit + offset;
}

}  // namespace

std::string DateTimeDefaultFormat(double Step) { return Step <= 1 ? "t" : "ddddd"; }

double NextDateTimeStep(double Step) {
    for (int i = dtSixMonths; i >= 0; --i)
        if (Step >= DateTimeStep[static_cast<std::size_t>(i)])
            return DateTimeStep[static_cast<std::size_t>(i) + 1];
    return DateTimeStep[dtOneYear];
}

int FindDateTimeStep(double StepValue) {
    for (int i = dtOneYear; i >= 0; --i)
        if (std::fabs(DateTimeStep[static_cast<std::size_t>(i)] - StepValue) <
            DateTimeStep[dtOneMicrosecond])
            return i;
    return dtNone;
}

double AlignDateTimeToStep(int Step, double Value) {
    if (Value == 0) return 0;
    switch (Step) {
        case dtOneDay:
            return RoundToMultiple(Value, 1, 0);
        case dtTwoDays:
            return RoundToMultiple(Value, 2, 0);
        case dtThreeDays:
            return RoundToMultiple(Value, 3, 0);
        // Weeks start on Monday: day 2 (1900-01-01) was one.
        case dtOneWeek:
            return RoundToMultiple(Value, 7, 2);
        default:
            break;
    }
    if (Step < dtHalfMonth) return Value;
    TCalendarDate d = Decode(Value);
    d.TimeOfDay = 0;
    if (Step == dtHalfMonth)
        d.Day = d.Day >= 15 ? 15 : 1;
    else if (Step >= dtOneMonth && Step <= dtSixMonths)
        d.Day = 1;
    else if (Step == dtOneYear)
        d.Day = d.Month = 1;
    return Encode(d);
}

void IncDecDateTime(bool IsDateTime, bool Increment, double& Value, double Amount, int Step) {
    if (!IsDateTime || Step < dtHalfMonth || Step > dtOneYear) {
        Value = Increment ? Value + Amount : Value - Amount;
        return;
    }
    TCalendarDate d = Decode(Value);
    const int sign = Increment ? 1 : -1;
    if (Step == dtHalfMonth) {
        // The neighbouring boundary of the 1st and the 15th.
        if (Increment) {
            if (d.Day < 15) {
                d.Day = 15;
            } else {
                MoveMonths(d, 1);
                d.Day = 1;
            }
        } else if (d.Day > 15) {
            d.Day = 15;
        } else if (d.Day > 1) {
            d.Day = 1;
        } else {
            MoveMonths(d, -1);
            d.Day = 15;
        }
        Value = Encode(d);
    } else if (Step < dtOneYear) {
        static constexpr int kMonths[] = {1, 2, 3, 4, 6};
        MoveMonths(d, sign * kMonths[Step - dtOneMonth]);
        Value = Encode(d);
    } else {
        // Whole years until Amount is covered; the loop ends at the latest
        // when the year leaves the runtime's range.
        const double target = Value + sign * Amount;
        do {
            d.Year += sign;
            Value = Encode(d);
        } while (Increment ? Value < target : Value > target);
    }
}

std::string PlotIntToStr(int Value) { return rtl::IntToStr(Value); }

// ------------------------------------------------------------------- text

namespace {

std::string& FieldSeparator() {
    static std::string separator = ";";
    return separator;
}

}  // namespace

const std::string& PlotFieldSeparator() { return FieldSeparator(); }

void SetPlotFieldSeparator(std::string Separator) { FieldSeparator() = std::move(Separator); }

std::string PlotExtractField(const std::string& S, int Index) {
    return PlotExtractFieldWithSeparator(S, Index, FieldSeparator());
}

std::string PlotExtractFieldWithSeparator(const std::string& S, int Index,
                                          const std::string& Separator) {
    if (S.empty() || Index < 1) return {};
    if (Separator.empty()) return S;
    std::size_t start = 0;
    for (int i = 1; i < Index; ++i) {
        const std::size_t at = S.find(Separator, start);
        if (at == std::string::npos) break;  // fewer fields: the rest
        start = at + Separator.size();
    }
    const std::size_t end = S.find(Separator, start);
    return S.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string PlotReplaceChar(std::string S, char Old, char New) {
    if (New == '\0')
        S.erase(std::remove(S.begin(), S.end(), Old), S.end());
    else
        std::replace(S.begin(), S.end(), Old, New);
    return S;
}

}  // namespace chart::engine
