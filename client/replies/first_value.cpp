// The first value of a result as the single-value reader hands it out.
#include "client/replies/first_value.h"

#include <cstdio>
#include <cstring>

#include "client/results/result_set.h"
#include "client/results/row_store.h"
#include "client/values/type_codes.h"
#include "client/values/value_text.h"
#include "platform/memory.h"

namespace {

// A short text formed into a kValueTextSize buffer: its length.
template <typename... Args>
int print_text(char* out, const char* fmt, Args... args) {
  const int n = std::snprintf(out, kValueTextSize, fmt, args...);
  return n < 0 ? 0 : (n >= kValueTextSize ? kValueTextSize - 1 : n);
}

}  // namespace

bool first_column_text(ResultSet* result, char* out, int* flag) {
  if (!result || result->field_count < 1 || result->cursor >= result->row_count) return true;
  result->current_row = *result_row_slot(result, result->cursor);
  const uint32_t st = result->fields[0].server_type;
  uint32_t len = 0;
  const uint8_t* p = row_field_ptr(result->current_row, result->fields, 0, &len);
  if (!p) {
    std::memset(out, 0, 4);  // an empty text
    return true;
  }

  // A value too long for out goes to a heap copy whose length and address
  // out receives.
  auto to_heap = [out, flag](const uint8_t* bytes, uint32_t n) {
    auto* copy = static_cast<char*>(alloc_zeroed(static_cast<size_t>(n) + 1));
    if (!copy) return true;
    std::memcpy(copy, bytes, n);
    std::memcpy(out, &n, sizeof n);
    std::memcpy(out + sizeof n, &copy, sizeof copy);
    if (flag) *flag = 1;
    return true;
  };

  char text[kValueTextSize];
  int n = 0;
  switch (st) {
    case ST_BOOLEAN:
      n = print_text(text, "%c", p[0]);
      break;
    case ST_DOUBLE:
      n = print_text(text, "%.16g", load_value<double>(p));
      break;
    case ST_NUMERIC: {
      // A number is never cut: a long one goes to the heap.
      const auto digits = static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(p), len));
      if (digits >= kFirstColumnSize) return to_heap(p, digits);
      n = value_text(st, p, len, text);
      break;
    }
    case ST_TIME_TZ:
    case ST_DATETIME_TZ:
    case ST_VARBYTES:
    case ST_VARBYTES_45:
      break;
    default:
      n = value_text(st, p, len, text);
      break;
  }
  if (n > 0) {
    // Every text formed here is short; out never takes more than it holds.
    const size_t take = n < kFirstColumnSize ? static_cast<size_t>(n) : kFirstColumnSize - 1;
    std::memcpy(out, text, take);
    out[take] = 0;
    if (flag) *flag = 0;
    return true;
  }
  switch (st) {
    case ST_CHAR:
    case ST_VARBYTES_45:
    case ST_CLOB:
    case ST_BINARY:
    case ST_BLOB:
    case ST_LOB:
    case ST_LOB_64:
      break;
    default:
      return true;
  }
  if ((st == ST_CHAR || st == ST_VARBYTES_45) && len < kFirstColumnSize) {
    std::memcpy(out, p, len + 1);  // the pool keeps a zero byte behind every value
    if (flag) *flag = 0;
    return true;
  }
  return to_heap(p, len);
}
