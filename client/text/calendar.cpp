// Calendar parts of the server's day and millisecond counts, and number text.
#include "client/text/calendar.h"

#include <cmath>
#include <cstdio>

namespace {

// Floor division and the matching non-negative remainder.
int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// The civil date of a day count, in 400-year eras of 146097 days counted from
// 0000-03-01 so that the leap day falls at the end of each year of the era.
void civil_from_days(int64_t days, DateParts* out) {
  const int64_t z = days + 719468;
  const int64_t era = floor_div(z, 146097);
  const int64_t doe = z - era * 146097;                                  // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);           // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                // March = 0
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  out->year = static_cast<int32_t>(y);
  out->month = static_cast<int32_t>(m);
  out->day = static_cast<int32_t>(d);
}

}  // namespace

void days_to_date(int32_t days, DateParts* out) {
  civil_from_days(days, out);
}

void ms_to_datetime(int64_t ms, DateTimeParts* out) {
  // Floor division by remainders, which cannot overflow at the ends of the range.
  int64_t s = ms / 1000;
  int64_t milli = ms % 1000;
  if (milli < 0) {
    milli += 1000;
    --s;
  }
  int64_t days = s / 86400;
  int64_t second_of_day = s % 86400;
  if (second_of_day < 0) {
    second_of_day += 86400;
    --days;
  }
  DateParts date;
  civil_from_days(days, &date);
  out->year = date.year;
  out->month = date.month;
  out->day = date.day;
  out->hour = static_cast<int32_t>(second_of_day / 3600);
  out->minute = static_cast<int32_t>(second_of_day % 3600 / 60);
  out->second = static_cast<int32_t>(second_of_day % 60);
  out->millisecond = static_cast<int32_t>(milli);
}

void ms_to_time(int32_t ms, TimeParts* out) {
  const int32_t s = ms / 1000;
  out->hour = s / 3600;
  out->minute = s % 3600 / 60;
  out->second = s % 60;
  out->millisecond = ms % 1000;
}

void format_double(char* out, double v) {
  // The integer digits decide the decimals; a huge value prints hundreds of
  // digits with "%.0f", so only its length is asked for.
  int n = std::snprintf(nullptr, 0, "%.0f", v);
  if (std::signbit(v)) --n;  // the text starts with '-'
  if (n >= 1 && n <= 15) {
    std::snprintf(out, kNumberTextSize, "%.*f", 16 - n, v);
  } else {
    std::snprintf(out, kNumberTextSize, "%f", v);
  }
}
