// Return values and output parameters turned into the bound slot's form and stored there.
#include "client/replies/output_value.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "client/text/calendar.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"
#include "link/wire_io.h"

namespace {

void to_host_order(uint8_t* p, int n) {
  if (host_is_little_endian) std::reverse(p, p + n);
}

template <typename T>
T host_value(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// What value_as_text answers for a type that keeps its bytes.
constexpr int kKeepsBytes = 0;

// The text of a value already in host order (dates and times as their parts
// in `parts`); its length, or kKeepsBytes.
int value_as_text(uint32_t st, const uint8_t* raw, const int32_t* parts, char* out) {
  int n = -1;
  switch (st) {
    case ST_INT8:
      n = std::snprintf(out, kOutValueTextSize, "%d", host_value<int8_t>(raw));
      break;
    case ST_INT16:
      n = std::snprintf(out, kOutValueTextSize, "%d", host_value<int16_t>(raw));
      break;
    case ST_INT32:
      n = std::snprintf(out, kOutValueTextSize, "%d", host_value<int32_t>(raw));
      break;
    case ST_INT64:
      n = std::snprintf(out, kOutValueTextSize, "%lld", static_cast<long long>(host_value<int64_t>(raw)));
      break;
    case ST_FLOAT:
      n = std::snprintf(out, kOutValueTextSize, "%f", static_cast<double>(host_value<float>(raw)));
      break;
    case ST_DOUBLE:
      n = std::snprintf(out, kOutValueTextSize, "%.16g", host_value<double>(raw));
      break;
    case ST_DATE:
      n = std::snprintf(out, kOutValueTextSize, "%04d-%02d-%02d", parts[0], parts[1], parts[2]);
      break;
    case ST_TIME:
      n = std::snprintf(out, kOutValueTextSize, "%02d:%02d:%02d.%03d", parts[0], parts[1], parts[2], parts[3]);
      break;
    case ST_DATETIME: {
      DateTimeParts t;
      ms_to_datetime(host_value<int64_t>(raw), &t);
      n = std::snprintf(out, kOutValueTextSize, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                        t.minute, t.second);
      break;
    }
    default:  // numeric text and time with zone keep their bytes
      return kKeepsBytes;
  }
  return n < 0 ? kKeepsBytes : static_cast<int>(strnlen(out, kOutValueTextSize));
}

}  // namespace

int convert_out_value(uint32_t st, uint8_t* raw, uint32_t length, uint32_t ctype,
                      char (&work)[kOutValueTextSize], OutValue* out) {
  *out = OutValue{raw, length};
  std::memset(work, 0, sizeof work);
  int32_t parts[4] = {};
  switch (st) {
    case ST_INT16:
      to_host_order(raw, 2);
      break;
    case ST_INT32:
    case ST_FLOAT:
      to_host_order(raw, 4);
      break;
    case ST_INT64:
    case ST_DOUBLE:
    case ST_DATETIME:
      to_host_order(raw, 8);
      break;
    case ST_DATE:
    case ST_TIME: {
      // A day count or a time of day is exactly four bytes; any other length
      // cannot be read as one.
      if (length != 4) return RC_NO_CONVERSION;
      to_host_order(raw, 4);
      const int32_t v = host_value<int32_t>(raw);
      if (st == ST_DATE) {
        DateParts d;
        days_to_date(v, &d);
        parts[0] = d.year;
        parts[1] = d.month;
        parts[2] = d.day;
        *out = OutValue{reinterpret_cast<const uint8_t*>(work), 3 * sizeof(int32_t)};
      } else {
        TimeParts t;
        ms_to_time(v, &t);
        parts[0] = t.hour;
        parts[1] = t.minute;
        parts[2] = t.second;
        parts[3] = t.millisecond;
        *out = OutValue{reinterpret_cast<const uint8_t*>(work), 4 * sizeof(int32_t)};
      }
      std::memcpy(work, parts, out->length);
      break;
    }
    default:
      break;
  }
  if (ctype == static_cast<uint32_t>(CT_TEXT) && st >= ST_INT8 && st <= ST_DATETIME) {
    char text[kOutValueTextSize] = {};
    const int n = value_as_text(st, raw, parts, text);
    if (n > 0) {
      std::memcpy(work, text, sizeof work);
      *out = OutValue{reinterpret_cast<const uint8_t*>(work), static_cast<uint32_t>(n)};
    }
  }
  return RC_SUCCESS;
}

int store_out_value(ParamSet* set, int slot, const OutValue& value) {
  int64_t room = set->buf_sizes ? static_cast<int32_t>(set->buf_sizes[slot]) : 0;
  void* dst = set->values && set->values[0] ? set->values[0][slot] : nullptr;
  if (room < 0 || !dst) room = 0;
  const size_t n = static_cast<size_t>(std::min<int64_t>(value.length, room));
  if (n > 0) std::memcpy(dst, value.bytes, n);
  if (set->lengths && set->lengths[slot]) *set->lengths[slot] = static_cast<int32_t>(value.length);
  return value.length > room ? RC_TRUNCATED : RC_SUCCESS;
}

bool out_slot_accepts(const ParamSet* set, int slot, uint32_t direction_bits) {
  if (!set || slot < 0 || slot >= set->count || !set->directions) return false;
  const uint32_t dir = set->directions[slot];
  return dir < 32 && (direction_bits & (1u << dir)) != 0;
}
