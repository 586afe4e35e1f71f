#include "platform/rtl/datetime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/rtl/exceptions.h"

using namespace rtl;

TEST(datetime, encode_and_decode_round_trip_around_the_epoch) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2000, 3, 1), 36586.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
    EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    int y, m, d, h, n, s, z;
    for (TDateTime day : {-693593.0, -1.0, 0.0, 59.0, 60.0, 36586.0, 2958465.0}) {
        DecodeDate(day, y, m, d);
        EXPECT_EQ(EncodeDate(y, m, d), day) << day;
    }
    DecodeDate(EncodeDate(2024, 2, 29), y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
    DecodeTime(EncodeTime(23, 59, 59, 999), h, n, s, z);
    EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + z, 235959999);
    // negative values: the fraction still counts forward from the day
    DecodeDate(-1.25, y, m, d);
    DecodeTime(-1.25, h, n, s, z);
    EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
    EXPECT_EQ(h, 6);
    EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(10000, 1, 1), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
    EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
    EXPECT_EQ(DayOfWeek(0.0), 7);  // a Saturday
    EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 7)), 2);
}

TEST(datetime, format_date_time_patterns) {
    const TDateTime t = EncodeDate(2026, 3, 4) + EncodeTime(5, 6, 7, 8);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t), "2026-03-04 05:06:07.008");
    EXPECT_EQ(FormatDateTime("hh:nn", t), "05:06");
    EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", t), "05:06:07.008");
    EXPECT_EQ(FormatDateTime("h:m", t), "5:6");  // m right after h is minutes
    EXPECT_EQ(FormatDateTime("hh:mm", t), "05:06");
    EXPECT_EQ(FormatDateTime("d/m/yy", t), "4.3.26");
    EXPECT_EQ(FormatDateTime("ddd dddd mmm mmmm", t), "Wed Wednesday Mar March");
    EXPECT_EQ(FormatDateTime("'hh' \"at\" hh", t), "hh at 05");
    EXPECT_EQ(FormatDateTime("h am/pm", t + 0.5), "5 pm");
    EXPECT_EQ(FormatDateTime("hh AM/PM", EncodeTime(0, 30, 0, 0)), "12 AM");
    EXPECT_EQ(FormatDateTime("hh a/p", EncodeTime(13, 0, 0, 0)), "01 p");
    EXPECT_EQ(FormatDateTime("c", t), "04.03.2026 05:06:07");
    EXPECT_EQ(FormatDateTime("", EncodeDate(2026, 3, 4)), "04.03.2026");
    EXPECT_EQ(FormatDateTime("z|zzz", EncodeTime(0, 0, 0, 5)), "5|005");
    EXPECT_EQ(FormatDateTime("x'unterminated", t), "xunterminated");
    // the last millisecond of a day does not roll into an hour 24
    EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", 1.0 - 1e-12), "00:00:00.000");
}

TEST(datetime, now_is_local_time_to_the_millisecond) {
    const TDateTime a = Now();
    const TDateTime b = Now();
    EXPECT_GE(b, a);
    EXPECT_GT(a, EncodeDate(2020, 1, 1));
    EXPECT_EQ(Date(), std::floor(Now()));
}
