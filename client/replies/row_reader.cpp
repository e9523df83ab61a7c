// Reading one row of an 'A' item from the link into the result's pool.
#include "client/replies/row_reader.h"

#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"
#include "client/replies/reply_items.h"
#include "client/replies/results_reader.h"
#include "client/results/mem_pool.h"
#include "client/results/result_set.h"
#include "client/results/row_store.h"
#include "client/values/type_codes.h"
#include "link/wire_io.h"

namespace {

// Joins a text that came between rows onto the result's error text.
int join_text(Conn* conn, ResultSet* result) {
  char* text = nullptr;
  const int rc = recv_text(conn, &text);
  if (rc != RC_SUCCESS) return rc;
  if (!result->error_text) {
    result->error_text = text;
    return RC_SUCCESS;
  }
  const size_t old_len = std::strlen(result->error_text);
  const size_t add_len = std::strlen(text);
  auto* joined = static_cast<char*>(std::realloc(result->error_text, old_len + add_len + 1));
  if (!joined) {
    std::free(text);
    return RC_NO_MEMORY;
  }
  std::memcpy(joined + old_len, text, add_len + 1);
  result->error_text = joined;
  std::free(text);
  return RC_SUCCESS;
}

// The row id of a '*' row into the header, cut to the 20 bytes it holds.
bool recv_star_row_id(Conn* conn, uint8_t* row) {
  uint32_t n = 0;
  if (!recv_int(&conn->link, &n)) return false;
  return recv_bytes_cut(conn, row + RowLayout::kRowIdOffset, n, RowLayout::kRowIdSize);
}

int recv_value(Conn* conn, ResultSet* result, uint8_t* row, int k, uint32_t len) {
  const FieldDesc* fields = result->fields;
  switch (fields[k].server_type) {
    case ST_BOOLEAN:
    case ST_INT8: {
      uint8_t v;
      if (!recv_char(&conn->link, &v)) return RC_READ_FAILED;
      row_set_i8(row, fields, k, static_cast<int8_t>(v));
      return RC_SUCCESS;
    }
    case ST_INT16: {
      uint16_t v;
      if (!recv_short(&conn->link, &v)) return RC_READ_FAILED;
      row_set_i16(row, fields, k, static_cast<int16_t>(v));
      return RC_SUCCESS;
    }
    case ST_INT32:
    case ST_DATE:
    case ST_TIME:
    case ST_IV_YEAR:
    case ST_IV_YEAR_MONTH:
    case ST_IV_MONTH:
    case ST_IV_DAY:
    case ST_IV_DAY_HOUR:
    case ST_IV_HOUR:
    case ST_IV_DAY_MINUTE:
    case ST_IV_HOUR_MINUTE:
    case ST_IV_MINUTE: {
      uint32_t v;
      if (!recv_int(&conn->link, &v)) return RC_READ_FAILED;
      row_set_i32(row, fields, k, static_cast<int32_t>(v));
      return RC_SUCCESS;
    }
    case ST_INT64:
    case ST_DATETIME:
    case ST_IV_DAY_SECOND:
    case ST_IV_HOUR_SECOND:
    case ST_IV_MINUTE_SECOND:
    case ST_IV_SECOND: {
      uint64_t v;
      if (!recv_long(&conn->link, &v)) return RC_READ_FAILED;
      row_set_i64(row, fields, k, static_cast<int64_t>(v));
      return RC_SUCCESS;
    }
    case ST_FLOAT: {
      float v;
      if (!recv_float(&conn->link, &v)) return RC_READ_FAILED;
      row_set_f32(row, fields, k, v);
      return RC_SUCCESS;
    }
    case ST_DOUBLE: {
      double v;
      if (!recv_double(&conn->link, &v)) return RC_READ_FAILED;
      row_set_f64(row, fields, k, v);
      return RC_SUCCESS;
    }
    default: {
      auto* bytes = static_cast<uint8_t*>(mem_pool_take(result->pool, len));
      if (!bytes) return RC_NO_MEMORY;
      if (!recv_bytes(&conn->link, bytes, len)) return RC_READ_FAILED;
      row_set_indirect(row, k);
      row_set_ptr(row, fields, k, bytes, len);
      return RC_SUCCESS;
    }
  }
}

// A big-endian value of n bytes out of the receive buffer, in host order.
template <int N>
inline void store_wire(uint8_t* dst, const uint8_t* src) {
  if (host_is_little_endian) {
    for (int i = 0; i < N; ++i) dst[i] = src[N - 1 - i];
  } else {
    std::memcpy(dst, src, N);
  }
}

inline uint32_t wire_u32(const uint8_t* p) {
  uint32_t v;
  store_wire<4>(reinterpret_cast<uint8_t*>(&v), p);
  return v;
}

// A plain 'R' row that already lies whole in the receive buffer is decoded
// where it lies, without a framed read per value. Answers false, touching
// nothing, when the row is not whole there (or is not a plain 'R' row); the
// framed readers then take it.
bool recv_buffered_row(Conn* conn, ResultSet* result, const uint8_t* widths, uint8_t** out, int* rc) {
  const RecvWindow window = recv_window(&conn->link);
  const uint8_t* const start = window.begin;
  const uint8_t* const end = window.end;
  if (start == end || *start != 'R') return false;
  const FieldDesc* fields = result->fields;
  const int n = result->field_count;

  // Measure first: the row must end inside the buffer.
  const uint8_t* p = start + 1;
  for (int k = 0; k < n; ++k) {
    if (end - p < 4) return false;
    const auto len = static_cast<int32_t>(wire_u32(p));
    p += 4;
    if (len < 1) continue;
    const int width = widths[k];
    const int64_t size = width ? width : len;
    if (end - p < size) return false;
    p += size;
  }

  uint8_t* row = new_row(result->pool, result->row_size, n);
  if (!row) {
    *rc = RC_NO_MEMORY;
    return true;
  }
  p = start + 1;
  for (int k = 0; k < n; ++k) {
    const auto len = static_cast<int32_t>(wire_u32(p));
    p += 4;
    if (len < 1) continue;
    uint8_t* slot = row + RowLayout::kHeaderSize + fields[k].offset;
    switch (widths[k]) {
      case 1: *slot = *p; p += 1; break;
      case 2: store_wire<2>(slot, p); p += 2; break;
      case 4: store_wire<4>(slot, p); p += 4; break;
      case 8: store_wire<8>(slot, p); p += 8; break;
      default: {
        auto* bytes = static_cast<uint8_t*>(mem_pool_take(result->pool, static_cast<uint32_t>(len)));
        if (!bytes) {
          *rc = RC_NO_MEMORY;
          return true;
        }
        std::memcpy(bytes, p, static_cast<size_t>(len));
        p += len;
        row_set_indirect(row, k);
        row_set_ptr(row, fields, k, bytes, static_cast<uint32_t>(len));
        continue;
      }
    }
    row_clear_null(row, k);
  }
  recv_take(&conn->link, static_cast<uint32_t>(p - start));
  *out = row;
  *rc = 0;
  return true;
}

}  // namespace

void row_wire_widths(const ResultSet* result, uint8_t* widths) {
  for (int k = 0; k < result->field_count; ++k) {
    const int slot = row_slot_size(result->fields[k].server_type);
    widths[k] = static_cast<uint8_t>(slot == RowLayout::kIndirectSlot ? 0 : slot);
  }
}

int recv_row(Conn* conn, ResultSet* result, uint8_t** out) {
  if (result->field_count > kMaxFields) return recv_row_sized(conn, result, nullptr, out);
  uint8_t widths[kMaxFields];
  row_wire_widths(result, widths);
  return recv_row_sized(conn, result, widths, out);
}

int recv_row_sized(Conn* conn, ResultSet* result, const uint8_t* widths, uint8_t** out) {
  *out = nullptr;
  int rc = 0;
  if (widths && recv_buffered_row(conn, result, widths, out, &rc)) return rc;
  uint8_t letter = 0;
  for (;;) {
    if (!recv_char(&conn->link, &letter)) return RC_READ_FAILED;
    if (letter == 'R' || letter == '*') break;
    if (is_text_letter(letter)) {
      const int rc = join_text(conn, result);
      if (rc != RC_SUCCESS) return rc;
      continue;
    }
    conn->link.pushback_letter = letter;
    return kEndOfRows;
  }
  uint8_t* row = new_row(result->pool, result->row_size, result->field_count);
  if (!row) return RC_NO_MEMORY;
  if (letter == '*' && !recv_star_row_id(conn, row)) return RC_READ_FAILED;
  for (int k = 0; k < result->field_count; ++k) {
    uint32_t len = 0;
    if (!recv_int(&conn->link, &len)) return RC_READ_FAILED;
    if (static_cast<int32_t>(len) < 1) continue;  // NULL: the bit is already set
    const int rc = recv_value(conn, result, row, k, len);
    if (rc != RC_SUCCESS) return rc;
  }
  *out = row;
  return RC_SUCCESS;
}
