// Reading one row of an 'A' item from the link into the result's pool.
#include "client/replies/row_reader.h"

#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"
#include "client/replies/reply_items.h"
#include "client/results/mem_pool.h"
#include "client/results/row_store.h"
#include "client/vmc.h"
#include "client/values/type_codes.h"
#include "link/wire_io.h"

namespace {

// A big-endian value of type T at src, in host order.
template <typename T>
inline T from_wire(const uint8_t* src) {
  T v;
  std::memcpy(&v, src, sizeof v);
  if (host_is_little_endian) {
    if constexpr (sizeof v == 2) v = __builtin_bswap16(v);
    if constexpr (sizeof v == 4) v = __builtin_bswap32(v);
    if constexpr (sizeof v == 8) v = __builtin_bswap64(v);
  }
  return v;
}

template <typename T>
inline void store_from_wire(uint8_t* slot, const uint8_t* value) {
  const T v = from_wire<T>(value);
  std::memcpy(slot, &v, sizeof v);
}

inline void store_fixed(uint8_t* slot, const uint8_t* value, int width) {
  switch (width) {
    case 1: *slot = *value; break;
    case 2: store_from_wire<uint16_t>(slot, value); break;
    case 4: store_from_wire<uint32_t>(slot, value); break;
    default: store_from_wire<uint64_t>(slot, value); break;
  }
}

// The bytes of a row that lie in the receive buffer. A measuring pass takes
// with checks (a take past their end answers null); the decoding pass that
// follows it knows the row is whole there.
template <bool kChecked>
class BufferedBytes {
 public:
  BufferedBytes(const uint8_t* begin, const uint8_t* end) : at_(begin), end_(end) {}
  const uint8_t* take(uint32_t n) {
    if (kChecked && static_cast<size_t>(end_ - at_) < n) return nullptr;
    const uint8_t* p = at_;
    at_ += n;
    return p;
  }
  bool copy(uint8_t* dst, uint32_t n) {
    std::memcpy(dst, take(n), n);
    return true;
  }
  bool skip(uint32_t n) { return take(n) != nullptr; }
  const uint8_t* at() const { return at_; }

 private:
  const uint8_t* at_;
  const uint8_t* end_;
};

// The bytes of a row read from the link value by value.
class LinkBytes {
 public:
  explicit LinkBytes(Conn* conn) : conn_(conn) {}
  const uint8_t* take(uint32_t n) { return recv_bytes(&conn_->link, word_, n) ? word_ : nullptr; }
  bool copy(uint8_t* dst, uint32_t n) { return recv_bytes(&conn_->link, dst, n); }
  bool skip(uint32_t n) { return skip_bytes(conn_, n); }

 private:
  Conn* conn_;
  uint8_t word_[8];  // a length word or a fixed-width value
};

// The fields of one row: for each an i32 length, below 1 for NULL, then the
// value at its type's width or, for a type without one, `length` bytes.
// Stored into row (every field NULL to begin with) when kKeep, else read and
// dropped. RC_SUCCESS, RC_READ_FAILED or RC_NO_MEMORY.
template <bool kKeep, class Bytes>
int decode_fields(Bytes& in, const RowShape& shape, MemPool* pool, uint8_t* row) {
  // Held apart from the shape, which the row's byte stores could otherwise alias.
  const int32_t count = shape.count;
  const FieldDesc* const fields = shape.fields;
  const uint8_t* const widths = shape.widths;
  for (int32_t k = 0; k < count; ++k) {
    const uint8_t* word = in.take(4);
    if (!word) return RC_READ_FAILED;
    const auto len = static_cast<int32_t>(from_wire<uint32_t>(word));
    if (len < 1) continue;
    const uint32_t width = widths[k];
    const auto n = static_cast<uint32_t>(len);
    if (!kKeep) {
      if (!in.skip(width != 0 ? width : n)) return RC_READ_FAILED;
      continue;
    }
    if (width != 0) {
      const uint8_t* value = in.take(width);
      if (!value) return RC_READ_FAILED;
      store_fixed(row_slot(row, fields, k), value, static_cast<int>(width));
      row_clear_null(row, k);
      continue;
    }
    auto* bytes = static_cast<uint8_t*>(mem_pool_take(pool, n));
    if (!bytes) return RC_NO_MEMORY;
    if (!in.copy(bytes, n)) return RC_READ_FAILED;
    row_set_indirect(row, k);
    row_set_ptr(row, fields, k, bytes, n);
  }
  return RC_SUCCESS;
}

// A plain 'R' row that lies whole in the receive buffer is decoded where it
// lies, without a framed read per value. False, touching nothing, when it is
// not whole there (or is not a plain row): the framed reads then take it.
bool recv_buffered_row(Conn* conn, ResultSet* result, const RowShape& shape, uint8_t** out, int* rc) {
  const RecvWindow window = recv_window(&conn->link);
  if (window.begin == window.end || *window.begin != REPLY_ROW) return false;
  BufferedBytes<true> measure(window.begin + 1, window.end);
  if (decode_fields<false>(measure, shape, nullptr, nullptr) != RC_SUCCESS) return false;
  *rc = RC_SUCCESS;
  if (result) {
    uint8_t* row = new_row(result->pool, shape.row_size, shape.count);
    BufferedBytes<false> in(window.begin + 1, window.end);
    *rc = row ? decode_fields<true>(in, shape, result->pool, row) : RC_NO_MEMORY;
    if (*rc == RC_SUCCESS) *out = row;
  }
  if (*rc == RC_SUCCESS) recv_take(&conn->link, static_cast<uint32_t>(measure.at() - window.begin));
  return true;
}

// Joins a text that came between rows onto the result's error text.
int join_text(Conn* conn, ResultSet* result) {
  char* text = nullptr;
  const int rc = recv_text(conn, &text);
  if (rc != RC_SUCCESS || !result) {
    std::free(text);
    return rc;
  }
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
  return row ? recv_bytes_cut(conn, row + RowLayout::kRowIdOffset, n, RowLayout::kRowIdSize) : skip_bytes(conn, n);
}

}  // namespace

bool row_shape(const ResultSet* result, RowShape* shape) {
  if (result->row_size < RowLayout::kHeaderSize || result->field_count > kMaxFields ||
      (result->field_count > 0 && !result->fields)) {
    return false;
  }
  shape->fields = result->fields;
  shape->count = result->field_count;
  shape->row_size = result->row_size;
  for (int32_t k = 0; k < shape->count; ++k) {
    const int slot = row_slot_size(shape->fields[k].server_type);
    shape->widths[k] = static_cast<uint8_t>(slot == RowLayout::kIndirectSlot ? 0 : slot);
  }
  return true;
}

int recv_row(Conn* conn, ResultSet* result, const RowShape& shape, uint8_t** out) {
  *out = nullptr;
  int rc = RC_SUCCESS;
  if (recv_buffered_row(conn, result, shape, out, &rc)) return rc;
  uint8_t letter = 0;
  for (;;) {
    if (!recv_char(&conn->link, &letter)) return RC_READ_FAILED;
    if (letter == REPLY_ROW || letter == REPLY_ROW_WITH_ID) break;
    if (!is_text_letter(letter)) {
      conn->link.pushback_letter = letter;
      return kEndOfRows;
    }
    rc = join_text(conn, result);
    if (rc != RC_SUCCESS) return rc;
  }
  uint8_t* row = nullptr;
  if (result) {
    row = new_row(result->pool, shape.row_size, shape.count);
    if (!row) return RC_NO_MEMORY;
  }
  if (letter == REPLY_ROW_WITH_ID && !recv_star_row_id(conn, row)) return RC_READ_FAILED;
  LinkBytes in(conn);
  rc = row ? decode_fields<true>(in, shape, result->pool, row) : decode_fields<false>(in, shape, nullptr, nullptr);
  if (rc == RC_SUCCESS) *out = row;
  return rc;
}

int64_t recv_row_run(Conn* conn, ResultSet* result, const RowShape& shape, int64_t limit, int* status) {
  *status = RC_SUCCESS;
  int64_t count = 0;
  while (limit == 0 || count < limit) {
    uint8_t* row = nullptr;
    const int rc = recv_row(conn, result, shape, &row);
    if (rc != RC_SUCCESS) {
      if (rc != kEndOfRows) *status = rc;
      break;
    }
    // A full result refuses the row (EC080) but the reading goes on, so
    // the row still counts.
    if (result && result_store_row(result, row) == RC_NO_MEMORY) {
      *status = RC_NO_MEMORY;
      break;
    }
    ++count;
  }
  return count;
}
