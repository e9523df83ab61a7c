// Dates, times and doubles as the server sends them, turned into calendar
// parts and number text. The calendar is the proleptic Gregorian one counted
// from 1970-01-01 in both directions, without time zones.
#ifndef RIZEZOVA_CLIENT_TEXT_CALENDAR_H
#define RIZEZOVA_CLIENT_TEXT_CALENDAR_H

#include <cfloat>
#include <cstdint>

struct DateTimeParts {
  int32_t year;
  int32_t month;   // 1-12
  int32_t day;     // 1-31
  int32_t hour;    // 0-23
  int32_t minute;
  int32_t second;
  int32_t millisecond;  // 0-999
};

struct DateParts {
  int32_t year;
  int32_t month;
  int32_t day;
};

struct TimeParts {
  int32_t hour;  // not wrapped at 24
  int32_t minute;
  int32_t second;
  int32_t millisecond;
};

// ms since 1970-01-01 00:00:00, negative before.
void ms_to_datetime(int64_t ms, DateTimeParts* out);
// days since 1970-01-01, negative before.
void days_to_date(int32_t days, DateParts* out);
// ms of a day; the parts follow the sign of ms.
void ms_to_time(int32_t ms, TimeParts* out);

// Room for the longest "%lf" form of a double with its terminator: a sign,
// the 309 integer digits of the largest double, the point and six decimals.
constexpr int kNumberTextSize = 1 + (DBL_MAX_10_EXP + 1) + 1 + 6 + 1;
// v with 16 significant digits in fixed notation, trailing zeros kept; "%lf"
// once the integer part has 16 digits or more. out holds kNumberTextSize bytes.
void format_double(char* out, double v);

#endif
