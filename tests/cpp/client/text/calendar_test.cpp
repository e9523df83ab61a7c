#include "client/text/calendar.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using namespace std::chrono;

std::string double_text(double v) {
  char out[kNumberTextSize];
  std::memset(out, 'x', sizeof out);
  format_double(out, v);
  return out;
}

}  // namespace

TEST(Calendar, EveryDayFromYearOneToYear9999) {
  const int32_t first = sys_days{year{1} / January / 1}.time_since_epoch().count();
  const int32_t last = sys_days{year{9999} / December / 31}.time_since_epoch().count();
  for (int32_t d = first; d <= last; ++d) {
    const year_month_day want{sys_days{days{d}}};
    DateParts got;
    days_to_date(d, &got);
    if (got.year != int{want.year()} || got.month != static_cast<int>(unsigned{want.month()}) ||
        got.day != static_cast<int>(unsigned{want.day()})) {
      FAIL() << "day " << d << ": " << got.year << "-" << got.month << "-" << got.day;
    }
  }
  DateParts p;
  days_to_date(789, &p);
  EXPECT_EQ(p.year * 10000 + p.month * 100 + p.day, 19720229);
  days_to_date(-1, &p);
  EXPECT_EQ(p.year * 10000 + p.month * 100 + p.day, 19691231);
  // The ends of the range stay well defined.
  days_to_date(INT32_MIN, &p);
  days_to_date(INT32_MAX, &p);
}

TEST(Calendar, MillisecondsBeforeAndAfterTheEpoch) {
  // Steps that cross day, month, year and millisecond boundaries on both sides.
  for (int64_t ms = -400LL * 366 * 86400000; ms <= 400LL * 366 * 86400000; ms += 86400000LL * 7 + 3600007) {
    for (int64_t off : {int64_t{0}, int64_t{-1}, int64_t{1}, int64_t{999}, int64_t{-1000}}) {
      const int64_t t = ms + off;
      const sys_time<milliseconds> tp{milliseconds{t}};
      const auto day = floor<days>(tp);
      const year_month_day ymd{day};
      const hh_mm_ss hms{tp - day};
      DateTimeParts got;
      ms_to_datetime(t, &got);
      ASSERT_EQ(got.year, int{ymd.year()}) << t;
      ASSERT_EQ(got.month, static_cast<int>(unsigned{ymd.month()})) << t;
      ASSERT_EQ(got.day, static_cast<int>(unsigned{ymd.day()})) << t;
      ASSERT_EQ(got.hour, hms.hours().count()) << t;
      ASSERT_EQ(got.minute, hms.minutes().count()) << t;
      ASSERT_EQ(got.second, hms.seconds().count()) << t;
      ASSERT_EQ(got.millisecond, hms.subseconds().count()) << t;
    }
  }
  DateTimeParts p;
  ms_to_datetime(-1, &p);
  EXPECT_EQ(p.year, 1969);
  EXPECT_EQ(p.second, 59);
  EXPECT_EQ(p.millisecond, 999);
  ms_to_datetime(INT64_MIN, &p);
  ms_to_datetime(INT64_MAX, &p);
}

TEST(Calendar, TimeOfDayIsNotWrapped) {
  TimeParts t;
  ms_to_time(86400000 + 3600 * 1000 + 61 * 1000 + 5, &t);
  EXPECT_EQ(t.hour, 25);
  EXPECT_EQ(t.minute, 1);
  EXPECT_EQ(t.second, 1);
  EXPECT_EQ(t.millisecond, 5);
  ms_to_time(-1500, &t);
  EXPECT_EQ(t.second, -1);
  EXPECT_EQ(t.millisecond, -500);
}

TEST(Calendar, DoublesShowSixteenSignificantDigits) {
  EXPECT_EQ(double_text(1.5), "1.500000000000000");
  EXPECT_EQ(double_text(123.25), "123.2500000000000");
  EXPECT_EQ(double_text(0.1), "0.100000000000000");
  EXPECT_EQ(double_text(-2.5), "-2.500000000000000");
  EXPECT_EQ(double_text(0), "0.000000000000000");
  EXPECT_EQ(double_text(123456789012345.0), "123456789012345.0");
  EXPECT_EQ(double_text(1e15), "1000000000000000.000000");
  EXPECT_EQ(double_text(1e20), "100000000000000000000.000000");
  // The longest fixed-point forms come whole.
  for (const double v : {DBL_MAX, -DBL_MAX, 1e300, -1e63}) {
    char whole[400];
    std::snprintf(whole, sizeof whole, "%f", v);
    EXPECT_EQ(double_text(v), whole) << v;
  }
  EXPECT_EQ(double_text(-DBL_MAX).size() + 1, static_cast<size_t>(kNumberTextSize));
}
