#include "platform/rtl/datetime.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "platform/rtl/exceptions.h"

namespace rtl {

namespace {

constexpr const char* kShortMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonthNames[] = {"January", "February", "March",     "April",
                                           "May",     "June",     "July",      "August",
                                           "September", "October", "November", "December"};
constexpr const char* kShortDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
constexpr char kDateSeparator = '.';
constexpr char kTimeSeparator = ':';
constexpr const char* kShortDateFormat = "dd/mm/yyyy";
constexpr const char* kLongDateFormat = "d mmmm yyyy";
constexpr const char* kShortTimeFormat = "hh:nn";
constexpr const char* kLongTimeFormat = "hh:nn:ss";
constexpr const char* kTimeAMString = "AM";
constexpr const char* kTimePMString = "PM";

// Days from 0001-01-01 to 1899-12-30.
constexpr std::int64_t kDateDelta = 693594;

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Whole days and milliseconds of the day, the fraction taken forward.
void Split(TDateTime value, std::int64_t& days, std::int64_t& msecs) {
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) {
        days = 0;
        msecs = 0;
        return;
    }
    const std::int64_t total = static_cast<std::int64_t>(std::llround(value * MSecsPerDay));
    const std::int64_t perDay = 86400000;
    // Negative values: the integer part is the day, the fraction counts forward.
    days = total / perDay;
    msecs = total % perDay;
    if (msecs < 0) msecs = -msecs;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool TryEncodeDate(int year, int month, int day, TDateTime& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    std::int64_t days = day;
    for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
    const std::int64_t y = year - 1;
    days += y * 365 + y / 4 - y / 100 + y / 400;
    value = static_cast<double>(days - kDateDelta);
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& value) {
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
        msec > 999)
        return false;
    value = (((hour * 60.0 + min) * 60.0 + sec) * 1000.0 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime v;
    if (!TryEncodeDate(year, month, day, v)) throw EConvertError("Invalid argument to date encode");
    return v;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime v;
    if (!TryEncodeTime(hour, min, sec, msec, v))
        throw EConvertError("Invalid argument to time encode");
    return v;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    std::int64_t days, msecs;
    Split(value, days, msecs);
    std::int64_t t = days + kDateDelta - 1;  // days since 0001-01-01
    if (t < 0) {
        year = month = day = 0;
        return;
    }
    std::int64_t y = 1;
    y += (t / 146097) * 400;
    t %= 146097;
    std::int64_t n = t / 36524;
    if (n == 4) n = 3;
    y += n * 100;
    t -= n * 36524;
    y += (t / 1461) * 4;
    t %= 1461;
    n = t / 365;
    if (n == 4) n = 3;
    y += n;
    t -= n * 365;
    year = static_cast<int>(y);
    month = 1;
    while (t >= DaysInMonth(year, month)) t -= DaysInMonth(year, month++);
    day = static_cast<int>(t) + 1;
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
    std::int64_t days, ms;
    Split(value, days, ms);
    hour = static_cast<int>(ms / 3600000);
    min = static_cast<int>(ms / 60000 % 60);
    sec = static_cast<int>(ms / 1000 % 60);
    msec = static_cast<int>(ms % 1000);
}

int DayOfWeek(TDateTime value) {
    std::int64_t days, ms;
    Split(value, days, ms);
    // 1899-12-30 was a Saturday.
    return static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
}

TDateTime Now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
    localtime_r(&secs, &local);
    return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
           EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                      static_cast<int>(ms.count()));
}

TDateTime Date() { return std::floor(Now()); }

namespace {

class TDateFormatter {
public:
    explicit TDateFormatter(TDateTime value) : value_(value) {
        DecodeDate(value, year_, month_, day_);
        DecodeTime(value, hour_, min_, sec_, msec_);
    }

    std::string Run(const std::string& format) {
        Append(format.empty() ? "C" : format);
        return out_;
    }

private:
    void Number(int value, int digits) {
        std::string d = std::to_string(value);
        if (static_cast<int>(d.size()) < digits) d.insert(0, static_cast<size_t>(digits) - d.size(), '0');
        out_ += d;
    }

    static bool StartsWithNoCase(const std::string& s, size_t i, const char* what) {
        for (size_t k = 0; what[k]; ++k) {
            if (i + k >= s.size()) return false;
            char c = s[i + k];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            if (c != what[k]) return false;
        }
        return true;
    }

    // Whether an h at position i is followed (before the next h) by an
    // am/pm marker, which makes it a 12-hour clock.
    static bool TwelveHour(const std::string& s, size_t i) {
        bool quoted = false;
        for (; i < s.size(); ++i) {
            const char c = s[i];
            if (c == '\'' || c == '"') quoted = !quoted;
            if (quoted) continue;
            if (c == 'a' || c == 'A')
                return StartsWithNoCase(s, i, "AM/PM") || StartsWithNoCase(s, i, "A/P") ||
                       StartsWithNoCase(s, i, "AMPM");
            if (c == 'h' || c == 'H') return false;
        }
        return false;
    }

    void Append(const std::string& s) {
        // The nested short/long formats of "c", "ddddd" and "t" expand once only.
        if (++level_ > 2) {
            --level_;
            return;
        }
        char lastToken = ' ';
        size_t i = 0;
        while (i < s.size()) {
            const char starter = s[i];
            char token = starter >= 'a' && starter <= 'z' ? static_cast<char>(starter - 32) : starter;
            if (token >= 'A' && token <= 'Z') {
                if (token == 'M' && lastToken == 'H') token = 'N';
                lastToken = token;
            }
            ++i;
            auto count = [&] {
                int n = 1;
                while (i < s.size() && s[i] == starter) ++n, ++i;
                return n;
            };
            switch (token) {
                case 'Y': {
                    const int n = count();
                    if (n <= 2)
                        Number(year_ % 100, 2);
                    else
                        Number(year_, 4);
                    break;
                }
                case 'M': {
                    const int n = count();
                    if (n <= 2)
                        Number(month_, n);
                    else if (month_ >= 1)
                        out_ += n == 3 ? kShortMonthNames[month_ - 1] : kLongMonthNames[month_ - 1];
                    break;
                }
                case 'D': {
                    const int n = count();
                    const int dow = DayOfWeek(value_) - 1;
                    if (n <= 2) Number(day_, n);
                    else if (n == 3) out_ += kShortDayNames[dow];
                    else if (n == 4) out_ += kLongDayNames[dow];
                    else if (n == 5) Append(kShortDateFormat);
                    else Append(kLongDateFormat);
                    break;
                }
                case 'H': {
                    const int n = count();
                    int h = hour_;
                    if (TwelveHour(s, i)) h = h == 0 ? 12 : (h > 12 ? h - 12 : h);
                    Number(h, std::min(n, 2));
                    break;
                }
                case 'N': Number(min_, std::min(count(), 2)); break;
                case 'S': Number(sec_, std::min(count(), 2)); break;
                case 'Z': Number(msec_, std::min(count(), 3)); break;
                case 'T': Append(count() == 1 ? kShortTimeFormat : kLongTimeFormat); break;
                case 'C':
                    count();
                    Append(kShortDateFormat);
                    if (hour_ != 0 || min_ != 0 || sec_ != 0 || msec_ != 0) {
                        out_ += ' ';
                        Append(kLongTimeFormat);
                    }
                    break;
                case 'A': {
                    const size_t at = i - 1;
                    const bool pm = hour_ >= 12;
                    if (StartsWithNoCase(s, at, "AM/PM")) {
                        const bool lower = s[at] == 'a';
                        out_ += lower ? (pm ? "pm" : "am") : (pm ? "PM" : "AM");
                        i = at + 5;
                    } else if (StartsWithNoCase(s, at, "A/P")) {
                        out_ += s[at] == 'a' ? (pm ? 'p' : 'a') : (pm ? 'P' : 'A');
                        i = at + 3;
                    } else if (StartsWithNoCase(s, at, "AMPM")) {
                        out_ += pm ? kTimePMString : kTimeAMString;
                        i = at + 4;
                    } else {
                        out_ += starter;
                    }
                    break;
                }
                case '/': out_ += kDateSeparator; break;
                case ':': out_ += kTimeSeparator; break;
                case '\'':
                case '"': {
                    const auto end = s.find(starter, i);
                    out_.append(s, i, end == std::string::npos ? std::string::npos : end - i);
                    i = end == std::string::npos ? s.size() : end + 1;
                    break;
                }
                default: out_ += starter; break;
            }
        }
        --level_;
    }

    TDateTime value_;
    int year_, month_, day_, hour_, min_, sec_, msec_;
    int level_ = 0;
    std::string out_;
};

}  // namespace

std::string FormatDateTime(const std::string& format, TDateTime value) {
    return TDateFormatter(value).Run(format);
}

std::string DateToStr(TDateTime value) { return FormatDateTime("ddddd", value); }
std::string TimeToStr(TDateTime value) { return FormatDateTime("tt", value); }
std::string DateTimeToStr(TDateTime value) { return FormatDateTime("c", value); }

}  // namespace rtl
