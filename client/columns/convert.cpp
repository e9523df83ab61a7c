// A stored value of the current row turned into the client type a caller asks for.
#include "client/columns/convert.h"

#include <cstdlib>
#include <cstring>

#include "client/columns/lob_fetch.h"
#include "client/lob/lob.h"
#include "client/results/result_set.h"
#include "client/results/row_store.h"
#include "client/values/type_codes.h"
#include "client/values/value_text.h"

namespace {

// One value of the current row as the conversions see it.
struct Value {
  uint32_t type;       // server type
  const uint8_t* p;    // the slot, or the raw bytes (a zero byte behind them)
  uint32_t len;        // the slot's width, or the raw length
};

void set_len(int* len, int v) {
  if (len) *len = v;
}

template <typename T>
int put(void* buf, int* len, T v) {
  std::memcpy(buf, &v, sizeof v);
  set_len(len, sizeof v);
  return RC_SUCCESS;
}

int no_conversion(int* len) {
  set_len(len, 0);
  return RC_NO_CONVERSION;
}

// The numeric text's leading integer, as the C library's atoi reads it but
// without its undefined overflow.
int32_t numeric_int(const uint8_t* p) {
  return static_cast<int32_t>(std::strtol(reinterpret_cast<const char*>(p), nullptr, 10));
}

double numeric_double(const uint8_t* p) {
  return std::strtod(reinterpret_cast<const char*>(p), nullptr);
}

// Integer types 2 to 6 sign-extended; false for any other type.
bool integer_value(const Value& v, int64_t* out) {
  switch (v.type) {
    case ST_BOOLEAN:
    case ST_INT8: *out = load_value<int8_t>(v.p); return true;
    case ST_INT16: *out = load_value<int16_t>(v.p); return true;
    case ST_INT32: *out = load_value<int32_t>(v.p); return true;
    case ST_INT64: *out = load_value<int64_t>(v.p); return true;
    default: return false;
  }
}

bool is_binary_type(uint32_t st) {
  switch (st) {
    case ST_CHAR:
    case ST_CLOB:
    case ST_BINARY:
    case ST_BLOB:
    case ST_LOB:
    case ST_LOB_64:
      return true;
    default:
      return false;
  }
}

// Copies n bytes of text into a zero-filled buffer, keeping room for its
// terminator: whole when shorter than bufsize, else cut (-12, len = what was
// left over). keep_exact lets a raw value of exactly bufsize bytes through
// whole, without a terminator.
int copy_out(const uint8_t* src, uint32_t n, void* buf, int bufsize, int* len, bool keep_exact) {
  const int64_t room = bufsize;
  const bool whole = int64_t{n} < room || (keep_exact && int64_t{n} == room);
  const int64_t take = whole ? int64_t{n} : (room > 0 ? room - 1 : 0);
  // The bytes, and zeros over the rest of the buffer.
  std::memcpy(buf, src, static_cast<size_t>(take));
  if (room > take) std::memset(static_cast<uint8_t*>(buf) + take, 0, static_cast<size_t>(room - take));
  set_len(len, static_cast<int>(whole ? int64_t{n} : int64_t{n} - take));
  return whole ? RC_SUCCESS : RC_TRUNCATED;
}

int to_text(const Value& v, void* buf, int bufsize, int* len) {
  // These have no text form of their own: their bytes are their text.
  if (is_raw_text_type(v.type)) return copy_out(v.p, v.len, buf, bufsize, len, true);
  if (text_is_value_bytes(v.type)) {
    // The value's own bytes are its text: given whole, or cut with -12.
    const auto n = static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(v.p), v.len));
    if (n > 0) return copy_out(v.p, n, buf, bufsize, len, false);
  } else {
    char text[kValueTextSize];  // a double's widest form; only what is written is read
    const int n = value_text(v.type, v.p, v.len, text);
    if (n > 0) {
      return copy_out(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(n), buf, bufsize, len, false);
    }
  }
  return no_conversion(len);
}

int to_binary(const Value& v, void* buf, int bufsize, int* len) {
  if (!is_binary_type(v.type)) return no_conversion(len);
  const int64_t room = bufsize > 0 ? bufsize : 0;
  if (room > 0) std::memset(buf, 0, static_cast<size_t>(room));
  if (int64_t{v.len} <= room) {
    std::memcpy(buf, v.p, v.len);
    set_len(len, static_cast<int>(v.len));
    return RC_SUCCESS;
  }
  std::memcpy(buf, v.p, static_cast<size_t>(room));
  set_len(len, static_cast<int>(int64_t{v.len} - room));
  return RC_TRUNCATED;
}

int to_binary_piece(const Value& v, void* buf, int bufsize, int* len) {
  if (!is_binary_type(v.type)) return no_conversion(len);
  const int64_t offset = len ? *len : 0;
  if (offset < 0 || offset > int64_t{v.len}) return RC_PIECE_OFFSET;
  if (offset == v.len) {
    set_len(len, 0);
    return RC_SUCCESS;
  }
  const int64_t room = bufsize > 0 ? bufsize : 0;
  if (room > 0) std::memset(buf, 0, static_cast<size_t>(room));
  const int64_t left = int64_t{v.len} - offset;
  const int64_t n = left < room ? left : room;
  std::memcpy(buf, v.p + offset, static_cast<size_t>(n));
  set_len(len, static_cast<int>(n));
  return RC_SUCCESS;
}

// The value's bytes whole. A caller that tells its buffer size never gets
// more than that.
int to_numeric_bytes(const Value& v, void* buf, int bufsize, int* len) {
  if (bufsize > 0 && v.len > static_cast<uint32_t>(bufsize)) {
    std::memcpy(buf, v.p, static_cast<size_t>(bufsize));
    set_len(len, static_cast<int>(v.len - static_cast<uint32_t>(bufsize)));
    return RC_TRUNCATED;
  }
  std::memcpy(buf, v.p, v.len);
  set_len(len, static_cast<int>(v.len));
  return RC_SUCCESS;
}

int convert(const Value& v, int ctype, void* buf, int bufsize, int* len) {
  int64_t i = 0;
  switch (ctype) {
    case CT_INT:
    case CT_INT32:
      if (v.type == ST_INT64 || !integer_value(v, &i)) {
        if (v.type != ST_NUMERIC) return no_conversion(len);
        i = numeric_int(v.p);
      }
      return put(buf, len, static_cast<int32_t>(i));
    case CT_TEXT:
    case CT_DATE:
    case CT_TIME:
    case CT_TIME_TZ:
    case CT_DATETIME:
    case CT_DATETIME_TZ:
      return to_text(v, buf, bufsize, len);
    case CT_INT8:
    case CT_BYTE:
      return put(buf, len, v.p[0]);
    case CT_INT16:
      if (v.type != ST_BOOLEAN && v.type != ST_INT8 && v.type != ST_INT16) return no_conversion(len);
      integer_value(v, &i);
      return put(buf, len, static_cast<int16_t>(i));
    case CT_INT64:
      if (!integer_value(v, &i)) {
        if (v.type != ST_NUMERIC) return no_conversion(len);
        i = numeric_int(v.p);
      }
      return put(buf, len, i);
    case CT_FLOAT:
    case CT_DOUBLE: {
      double d;
      if (v.type == ST_FLOAT) {
        d = load_value<float>(v.p);
      } else if (v.type == ST_DOUBLE) {
        d = load_value<double>(v.p);
      } else if (v.type == ST_NUMERIC) {
        d = numeric_double(v.p);
      } else if (v.type != ST_BOOLEAN && integer_value(v, &i)) {
        if (ctype == CT_FLOAT) return put(buf, len, static_cast<float>(i));
        d = static_cast<double>(i);
      } else {
        return no_conversion(len);
      }
      if (ctype == CT_FLOAT) return put(buf, len, static_cast<float>(d));
      return put(buf, len, d);
    }
    case CT_NUMERIC:
      return to_numeric_bytes(v, buf, bufsize, len);
    case CT_BINARY:
      return to_binary(v, buf, bufsize, len);
    case CT_BINARY_PIECE:
      return to_binary_piece(v, buf, bufsize, len);
    case CT_INTERVAL:
      if (v.type == ST_IV_YEAR_MONTH || v.type == ST_IV_DAY_SECOND) return RC_SUCCESS;
      return no_conversion(len);
    case CT_DATETIME_MS:
      if (v.type != ST_DATETIME) return no_conversion(len);
      return put(buf, len, load_value<int64_t>(v.p));
    case CT_INTERVAL_MONTHS:
      if (v.type == ST_INT32) return put(buf, len, int64_t{load_value<int32_t>(v.p)});
      if (v.type == ST_INT64) return put(buf, len, load_value<int64_t>(v.p));
      if (v.type == ST_IV_YEAR_MONTH) return put(buf, len, load_value<int32_t>(v.p));
      return no_conversion(len);
    case CT_INTERVAL_I64:
      if (v.type == ST_INT32) return put(buf, len, int64_t{load_value<int32_t>(v.p)});
      if (v.type == ST_INT64 || v.type == ST_IV_DAY_SECOND) return put(buf, len, load_value<int64_t>(v.p));
      return no_conversion(len);
    default:
      return no_conversion(len);
  }
}

// Every other pair: kept apart from the common ones, whose path then needs
// none of the room that the conversions take.
[[gnu::noinline]] int convert_stored(ResultSet* rs, int k, int ctype, void* buf, int bufsize, int* len) {
  Value v;
  v.type = rs->fields[k].server_type;
  v.p = row_field_ptr(rs->current_row, rs->fields, k, &v.len);
  if (ctype < 1 || ctype > CT_MAX) return no_conversion(len);
  if (ctype >= CT_CLOB && ctype <= CT_CLOB_44) {
    // buf is the caller's LOB variable; the LOB may have to be fetched over
    // the result's connection.
    LobObject* lob = *static_cast<LobObject**>(buf);
    // Rows that hold LOBs by descriptor cannot have them fetched once their
    // connection has closed.
    if (rs->lob_descriptors && !rs->conn) return RC_READ_FAILED;
    return lob_from_column_value(rs->conn, lob, ctype, is_binary_type(v.type), v.p, v.len, len);
  }
  return convert(v, ctype, buf, bufsize, len);
}

}  // namespace

int get_column_data(ResultSet** result, int col, int ctype, void* buf, int bufsize, int* len) {
  if (!buf || !result || !*result) return RC_INVALID_HANDLE;
  ResultSet* rs = *result;
  if (col < 1 || col > rs->field_count) return RC_COLUMN_RANGE;
  const int k = col - 1;
  if (!rs->current_row || row_is_null(rs->current_row, k)) {
    set_len(len, 0);
    return RC_NO_ROW_OR_NULL;
  }
  // The common pairs, straight from the stored value.
  const FieldDesc& field = rs->fields[k];
  const uint8_t* slot = row_slot(rs->current_row, rs->fields, k);
  switch (ctype) {
    case CT_INT32:
      if (field.server_type == ST_INT32) return put(buf, len, load_value<int32_t>(slot));
      break;
    case CT_INT64:
      if (field.server_type == ST_INT64) return put(buf, len, load_value<int64_t>(slot));
      break;
    case CT_DOUBLE:
      if (field.server_type == ST_DOUBLE) return put(buf, len, load_value<double>(slot));
      break;
    case CT_TEXT:
      if (is_raw_text_type(field.server_type) && row_is_indirect(rs->current_row, k)) {
        const uint8_t* p;
        std::memcpy(&p, slot + RowLayout::kIndirectPtrOffset, sizeof p);
        return copy_out(p, load_value<uint32_t>(slot), buf, bufsize, len, true);
      }
      break;
    default:
      break;
  }
  return convert_stored(rs, k, ctype, buf, bufsize, len);
}
