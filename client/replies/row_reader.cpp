// Reading one row of an 'A' item from the link into the result's pool.
#include "client/replies/row_reader.h"

#include <algorithm>
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
  bool skip(uint32_t n) { return take(n) != nullptr; }
  const uint8_t* at() const { return at_; }

  // A raw value of n bytes, with a zero byte behind them, into pool memory.
  // Checked, it answers RC_READ_FAILED when the value is not whole here, and
  // leaves a long value, which the pool would give memory of its own, to the
  // framed reads: a row that fails part-way then leaves the pool as it was.
  int keep_raw(MemPool* pool, uint32_t n, uint8_t** out) {
    if (kChecked && n > kPoolBlockSize / 2) return RC_READ_FAILED;
    const uint8_t* src = take(n);
    if (!src) return RC_READ_FAILED;
    auto* bytes = static_cast<uint8_t*>(mem_pool_take(pool, n));
    if (!bytes) return RC_NO_MEMORY;
    std::memcpy(bytes, src, n);
    bytes[n] = 0;
    *out = bytes;
    return RC_SUCCESS;
  }

 private:
  const uint8_t* at_;
  const uint8_t* end_;
};

// The bytes of a row read from the link value by value.
class LinkBytes {
 public:
  explicit LinkBytes(Conn* conn) : conn_(conn) {}
  const uint8_t* take(uint32_t n) { return recv_bytes(&conn_->link, word_, n) ? word_ : nullptr; }
  bool skip(uint32_t n) { return skip_bytes(conn_, n); }

  // A raw value is only ever given as much memory as has arrived of it: the
  // length a server declares reserves nothing by itself. A short value takes
  // pool memory at once; a long one grows a buffer of its own piece by piece
  // as its bytes come, and joins the pool whole.
  int keep_raw(MemPool* pool, uint32_t n, uint8_t** out) {
    if (n <= kPiece) {
      auto* bytes = static_cast<uint8_t*>(mem_pool_take(pool, n));
      if (!bytes) return RC_NO_MEMORY;
      if (!recv_bytes(&conn_->link, bytes, n)) return RC_READ_FAILED;
      bytes[n] = 0;
      *out = bytes;
      return RC_SUCCESS;
    }
    uint8_t* buf = nullptr;
    for (uint32_t done = 0; done < n;) {
      // Each piece at most doubles what has arrived; the last makes the buffer exact.
      const uint32_t piece = std::min(n - done, std::max(kPiece, done));
      auto* grown = static_cast<uint8_t*>(std::realloc(buf, size_t{done} + piece + 1));
      if (!grown) {
        std::free(buf);
        return RC_NO_MEMORY;
      }
      buf = grown;
      if (!recv_bytes(&conn_->link, buf + done, piece)) {
        std::free(buf);
        return RC_READ_FAILED;
      }
      done += piece;
    }
    buf[n] = 0;
    if (!mem_pool_adopt(pool, buf, n + 1)) return RC_NO_MEMORY;
    *out = buf;
    return RC_SUCCESS;
  }

 private:
  static constexpr uint32_t kPiece = kPoolBlockSize / 2;
  Conn* conn_;
  uint8_t word_[8];  // a length word or a fixed-width value
};

// The fields of one row: for each an i32 length, below 1 for NULL, then the
// value at its type's width or, for a type without one, `length` bytes.
// Stored into row, its flag bits written whole, when kKeep; else read and
// dropped. RC_SUCCESS, RC_READ_FAILED or RC_NO_MEMORY.
template <bool kKeep, class Bytes>
int decode_fields(Bytes& in, const RowShape& shape, MemPool* pool, uint8_t* row) {
  // Held apart from the shape, which the row's byte stores could otherwise alias.
  const int32_t count = shape.count;
  const uint32_t* const slots = shape.slots;
  const uint8_t* const widths = shape.widths;
  uint8_t* const flags = kKeep ? row + RowLayout::kHeaderSize : nullptr;
  unsigned pair = 0;  // the flag bits of the four fields that share a byte
  for (int32_t k = 0; k < count; ++k) {
    const uint8_t* word = in.take(4);
    if (!word) return RC_READ_FAILED;
    const auto len = static_cast<int32_t>(from_wire<uint32_t>(word));
    const unsigned shift = 2 * (static_cast<unsigned>(k) & 3);
    const uint32_t width = widths[k];
    if (len < 1) {
      pair |= 1u << shift;
    } else if (!kKeep) {
      if (!in.skip(width != 0 ? width : static_cast<uint32_t>(len))) return RC_READ_FAILED;
    } else if (width != 0) {
      const uint8_t* value = in.take(width);
      if (!value) return RC_READ_FAILED;
      store_fixed(row + slots[k], value, static_cast<int>(width));
    } else {
      const auto n = static_cast<uint32_t>(len);
      uint8_t* bytes = nullptr;
      const int rc = in.keep_raw(pool, n, &bytes);
      if (rc != RC_SUCCESS) return rc;
      uint8_t* slot = row + slots[k];
      std::memcpy(slot, &n, sizeof n);
      std::memcpy(slot + RowLayout::kIndirectPtrOffset, &bytes, sizeof bytes);
      pair |= 2u << shift;
    }
    if (kKeep && shift == 6) {
      flags[k >> 2] = static_cast<uint8_t>(pair);
      pair = 0;
    }
  }
  if (kKeep && (count & 3) != 0) flags[count >> 2] = static_cast<uint8_t>(pair);
  return RC_SUCCESS;
}

// Rows up to this size are decoded in one pass, the pool set back when one
// turns out not to be whole; a larger row is measured first, as the pool
// may give it memory of its own.
constexpr int32_t kOnePassRow = 4096;

// The plain 'R' rows that lie whole in the receive buffer, decoded where they
// lie without a framed read per value, and stored (or dropped with a null
// result), at most `limit` of them (0: no limit). Answers how many; *status
// RC_NO_MEMORY when the pool or the result gave out. Stops, leaving nothing
// of it behind, at the first row that is not whole there (or is not a plain
// row): the framed reads then take it.
int64_t recv_buffered_rows(Conn* conn, ResultSet* result, const RowShape& shape, int64_t limit, int* status) {
  const RecvWindow window = recv_window(&conn->link);
  const uint8_t* at = window.begin;
  const bool one_pass = shape.row_size <= kOnePassRow;
  int64_t count = 0;
  while (at != window.end && *at == REPLY_ROW && (limit == 0 || count < limit)) {
    BufferedBytes<true> in(at + 1, window.end);
    int rc = RC_SUCCESS;
    if (!result) {
      if (decode_fields<false>(in, shape, nullptr, nullptr) != RC_SUCCESS) break;
    } else if (one_pass) {
      const MemPoolMark mark = mem_pool_mark(result->pool);
      uint8_t* row = take_row(result->pool, shape.row_size);
      rc = row ? decode_fields<true>(in, shape, result->pool, row) : RC_NO_MEMORY;
      if (rc == RC_READ_FAILED) {
        mem_pool_rewind(result->pool, mark);
        break;
      }
      // A full result refuses the row (EC080) but the reading goes on, so
      // the row still counts.
      if (rc == RC_SUCCESS && result_store_row(result, row) == RC_NO_MEMORY) rc = RC_NO_MEMORY;
    } else {
      if (decode_fields<false>(in, shape, nullptr, nullptr) != RC_SUCCESS) break;
      uint8_t* row = take_row(result->pool, shape.row_size);
      BufferedBytes<false> whole(at + 1, window.end);
      rc = row ? decode_fields<true>(whole, shape, result->pool, row) : RC_NO_MEMORY;
      if (rc == RC_SUCCESS && result_store_row(result, row) == RC_NO_MEMORY) rc = RC_NO_MEMORY;
    }
    if (rc != RC_SUCCESS) {
      *status = rc;
      break;
    }
    at = in.at();
    ++count;
  }
  if (at != window.begin) recv_take(&conn->link, static_cast<uint32_t>(at - window.begin));
  return count;
}

// A server error among the rows: the rows end with the ones before it. It
// becomes the connection's error text, and the result's failure.
int keep_row_error(Conn* conn, ResultSet* result, const char* text) {
  conn_set_error(conn, text);
  if (conn->reply_error == kReplyClean) conn->reply_error = kErrorAmongRows;
  if (!result) return RC_SUCCESS;
  char* copy = strdup(text);
  if (!copy) return RC_NO_MEMORY;
  std::free(result->failure_text);
  result->failure_text = copy;
  return RC_SUCCESS;
}

// Joins a text that came between rows onto the result's error text.
int join_text(Conn* conn, ResultSet* result, uint8_t letter) {
  char* text = nullptr;
  int rc = recv_text(conn, &text);
  if (rc == RC_SUCCESS && is_error_letter(letter)) rc = keep_row_error(conn, result, text);
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

// A '*' row: its row id read, and a new row with room for what it keeps of
// it (or the id dropped with a null result).
int recv_star_row(Conn* conn, ResultSet* result, const RowShape& shape, uint8_t** row) {
  uint32_t n = 0;
  if (!recv_int(&conn->link, &n)) return RC_READ_FAILED;
  if (!result) return skip_bytes(conn, n) ? RC_SUCCESS : RC_READ_FAILED;
  *row = take_row(result->pool, shape.row_size, n);
  if (!*row) return RC_NO_MEMORY;
  return recv_bytes_cut(conn, *row + shape.row_size, n, RowLayout::kRowIdSize) ? RC_SUCCESS : RC_READ_FAILED;
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
    shape->slots[k] = RowLayout::kHeaderSize + shape->fields[k].offset;
  }
  return true;
}

int recv_row(Conn* conn, ResultSet* result, const RowShape& shape, uint8_t** out) {
  *out = nullptr;
  int rc = RC_SUCCESS;
  uint8_t letter = 0;
  for (;;) {
    if (!recv_char(&conn->link, &letter)) return RC_READ_FAILED;
    if (letter == REPLY_ROW || letter == REPLY_ROW_WITH_ID) break;
    if (!is_text_letter(letter)) {
      conn->link.pushback_letter = letter;
      return kEndOfRows;
    }
    rc = join_text(conn, result, letter);
    if (rc != RC_SUCCESS) return rc;
  }
  uint8_t* row = nullptr;
  if (letter == REPLY_ROW_WITH_ID) {
    rc = recv_star_row(conn, result, shape, &row);
    if (rc != RC_SUCCESS) return rc;
  } else if (result) {
    row = take_row(result->pool, shape.row_size);
    if (!row) return RC_NO_MEMORY;
  }
  LinkBytes in(conn);
  rc = row ? decode_fields<true>(in, shape, result->pool, row) : decode_fields<false>(in, shape, nullptr, nullptr);
  if (rc == RC_SUCCESS) *out = row;
  return rc;
}

int64_t recv_row_run(Conn* conn, ResultSet* result, const RowShape& shape, int64_t limit, int* status) {
  *status = RC_SUCCESS;
  int64_t count = 0;
  // Rows that come behind a server error are read, to stay in step, and
  // counted, but are not the result's: its rows end at the error.
  if (result && result->failure_text) result = nullptr;
  while (limit == 0 || count < limit) {
    // Most rows lie whole in the receive buffer; the one that does not (it
    // crosses the buffer's end, carries a row id, or a text comes before
    // it) is read value by value.
    count += recv_buffered_rows(conn, result, shape, limit == 0 ? 0 : limit - count, status);
    if (*status != RC_SUCCESS || (limit != 0 && count == limit)) break;
    uint8_t* row = nullptr;
    const int rc = recv_row(conn, result, shape, &row);
    if (rc != RC_SUCCESS) {
      if (rc != kEndOfRows) *status = rc;
      break;
    }
    if (result && result->failure_text) result = nullptr;
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
