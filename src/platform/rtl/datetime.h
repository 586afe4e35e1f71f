#pragma once
// Date and time as the runtime keeps them: a double counting days since
// 1899-12-30 00:00, the time of day as the fraction. Negative values count
// whole days back with the fraction still forward (-1.25 is 1899-12-29 06:00).
#include <cstdint>
#include <string>

namespace rtl {

using TDateTime = double;

inline constexpr double MSecsPerDay = 86400000.0;

// The local time now, to the millisecond.
TDateTime Now();
// Today, 00:00 local time.
TDateTime Date();

// Raise EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& value);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& value);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);
bool IsLeapYear(int year);

// The pattern letters (plug-ins and stored settings use them): c d dd ddd dddd ddddd dddddd m mm mmm
// mmmm (m right after an h is minutes) yy yyyy h hh n nn s ss z zzz t tt
// am/pm a/p ampm, "/" the date separator, ":" the time separator, quoted
// text as is; an empty pattern means "c". Date separator ".", time separator
// ":", short date "dd.mm.yyyy", long time "hh:nn:ss".
std::string FormatDateTime(const std::string& format, TDateTime value);

std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);

}  // namespace rtl
