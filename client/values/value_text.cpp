// The text form of a stored value, by its server type.
#include "client/values/value_text.h"

#include <cstdio>
#include <cstdlib>

#include "client/text/calendar.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"

namespace {

constexpr size_t kDatetimeTextSize = 20;

int print(char* out, const char* fmt, auto... args) {
  const int n = std::snprintf(out, kValueTextSize, fmt, args...);
  return n < 0 ? 0 : (n >= kValueTextSize ? kValueTextSize - 1 : n);
}

// Raw bytes as a text, cut to fit out and ended by the first zero byte.
int copy_text(char* out, const uint8_t* p, uint32_t len) {
  const uint32_t n = len < kValueTextSize - 1 ? len : kValueTextSize - 1;
  std::memcpy(out, p, n);
  out[n] = 0;
  return static_cast<int>(strnlen(out, n));
}

uint64_t load_be(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

int date_text(char* out, int32_t days) {
  DateParts d;
  days_to_date(days, &d);
  return print(out, "%04d-%02d-%02d", d.year, d.month, d.day);
}

int time_text(char* out, int32_t ms) {
  TimeParts t;
  ms_to_time(ms, &t);
  return print(out, "%02d:%02d:%02d", t.hour, t.minute, t.second);
}

int datetime_text(char* out, int64_t ms) {
  DateTimeParts t;
  ms_to_datetime(ms, &t);
  return print(out, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// Time with zone: u32 ms of the day and i16 zone minutes, both big-endian.
int time_tz_text(char* out, const uint8_t* p, uint32_t len) {
  if (len < 6) return kNoText;
  const int64_t m = static_cast<int64_t>(load_be(p, 4));
  const int16_t z = static_cast<int16_t>(load_be(p + 4, 2));
  const int64_t t = (m + int64_t{z} * 60 * 1000) / 1000;
  return print(out, "%d:%02d:%02d%+d", static_cast<int>(t / 3600), static_cast<int>(t % 3600 / 60),
               static_cast<int>(t % 60), z / 60);
}

// Datetime with zone: i64 microseconds and i16 zone minutes, both big-endian.
int datetime_tz_text(char* out, const uint8_t* p, uint32_t len) {
  if (len < 10) return kNoText;
  const uint64_t u = load_be(p, 8);
  const int16_t z = static_cast<int16_t>(load_be(p + 8, 2));
  // Wrapping arithmetic: a value at the edge of the range must not overflow.
  const auto local_us = static_cast<int64_t>(u + static_cast<uint64_t>(int64_t{z} * 60000000));
  DateTimeParts t;
  ms_to_datetime(local_us / 1000, &t);
  return print(out, "%d-%02d-%02d %02d:%02d:%02d%+d", t.year, t.month, t.day, t.hour, t.minute, t.second,
               z / 60);
}

}  // namespace

bool text_is_value_bytes(uint32_t st) { return st == ST_NUMERIC || st == ST_VARBYTES || st == ST_VARBYTES_45; }

int interval_text(uint32_t st, const uint8_t* p, char* out) {
  switch (st) {
    case ST_IV_YEAR:
    case ST_IV_MONTH:
    case ST_IV_DAY:
    case ST_IV_HOUR:
    case ST_IV_MINUTE:
      return print(out, "%d", load_value<int32_t>(p));
    case ST_IV_YEAR_MONTH: {
      const long v = load_value<int32_t>(p);
      return print(out, "%ld-%02ld", v / 12, std::labs(v % 12));
    }
    case ST_IV_DAY_HOUR: {
      const int v = load_value<int32_t>(p);
      return print(out, "%d %02d", v / 24, v % 24);
    }
    case ST_IV_DAY_MINUTE: {
      const int v = load_value<int32_t>(p);
      return print(out, "%d %02d:%02d", v / 1440, v % 1440 / 60, v % 1440 % 60);
    }
    case ST_IV_HOUR_MINUTE: {
      const int v = load_value<int32_t>(p);
      return print(out, "%d:%02d", v / 60, v % 60);
    }
    case ST_IV_DAY_SECOND: {
      const long s = load_value<int64_t>(p) / 1000000;
      return print(out, "%ld %ld:%02ld:%02ld", s / 86400, s % 86400 / 3600, s % 86400 % 3600 / 60,
                   s % 86400 % 3600 % 60);
    }
    case ST_IV_HOUR_SECOND: {
      const auto s = static_cast<int32_t>(load_value<int64_t>(p) / 1000000);
      return print(out, "%d:%02d:%02d", s / 3600, s % 3600 / 60, s % 60);
    }
    case ST_IV_MINUTE_SECOND: {
      const auto s = static_cast<int32_t>(load_value<int64_t>(p) / 1000000);
      return print(out, "%d:%02d", s / 60, s % 60);
    }
    case ST_IV_SECOND:
      return print(out, "%lld", static_cast<long long>(load_value<int64_t>(p) / 1000000));
    default:
      return kNoText;
  }
}

int value_text(uint32_t st, const uint8_t* p, uint32_t len, char* out) {
  switch (st) {
    case ST_BOOLEAN:
      return print(out, "%s", p[0] == 'T' ? "T" : p[0] == 'F' ? "F" : "UNKNOWN");
    case ST_INT8:
      return print(out, "%d", load_value<int8_t>(p));
    case ST_INT16:
      return print(out, "%d", load_value<int16_t>(p));
    case ST_INT32:
      return print(out, "%d", load_value<int32_t>(p));
    case ST_INT64:
      return print(out, "%lld", static_cast<long long>(load_value<int64_t>(p)));
    case ST_NUMERIC:
    case ST_VARBYTES:
    case ST_VARBYTES_45:
      return copy_text(out, p, len);
    case ST_FLOAT:
      return print(out, "%f", static_cast<double>(load_value<float>(p)));
    case ST_DOUBLE:
      format_double(out, load_value<double>(p));
      return static_cast<int>(strnlen(out, kValueTextSize));
    case ST_DATE:
      return date_text(out, load_value<int32_t>(p));
    case ST_TIME:
      return time_text(out, load_value<int32_t>(p));
    case ST_TIME_TZ:
      return time_tz_text(out, p, len);
    case ST_DATETIME:
      return datetime_text(out, load_value<int64_t>(p));
    case ST_DATETIME_TZ:
      return datetime_tz_text(out, p, len);
    default:
      return interval_text(st, p, out);
  }
}

extern "C" int VMC_FormatDatetime(int64_t ms, char* out) {
  if (!out) return RC_INVALID_HANDLE;
  DateTimeParts t{};
  ms_to_datetime(ms, &t);
  // Years beyond four digits would not fit the caller's 20 bytes.
  std::snprintf(out, kDatetimeTextSize, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return RC_SUCCESS;
}
