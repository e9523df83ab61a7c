#include "tools/standin/core/row_encoder.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "client/vmc.h"

namespace standin {

namespace {

bool has_separator(const char* s) { return std::strpbrk(s, ".%") != nullptr; }

// The name the wire carries: table.column, with %alias when the column was
// renamed. A name that holds a '.' or '%' of its own goes behind a '%' alone,
// so that the client reads all of it as the alias.
std::string wire_name(sqlite3_stmt* stmt, int k) {
  const char* alias = sqlite3_column_name(stmt, k);
  if (!alias) alias = "";
  const char* table = sqlite3_column_table_name(stmt, k);
  const char* origin = sqlite3_column_origin_name(stmt, k);
  if (table && origin && !has_separator(table) && !has_separator(origin) && !has_separator(alias)) {
    std::string name = std::string(table) + "." + origin;
    if (std::strcmp(alias, origin) != 0) name.append("%").append(alias);
    return name;
  }
  if (has_separator(alias)) return std::string("%") + alias;
  return alias;
}

uint64_t double_bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, 8);
  return b;
}

uint64_t float_bits(double v) {
  const float f = static_cast<float>(v);
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

std::string_view value_text(sqlite3_value* v) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return p ? std::string_view(p, static_cast<size_t>(sqlite3_value_bytes(v))) : std::string_view();
}

// A truth value kept as text: T, Y, 1 (any case) are true.
bool text_is_true(std::string_view t) {
  return !t.empty() && (t[0] == 'T' || t[0] == 't' || t[0] == 'Y' || t[0] == 'y' || t[0] == '1');
}

constexpr int64_t kMsPerDay = 86400000;

// The whole number a value stands for when it is one within [lo, hi]: an
// integer, or a real without a fraction. A text or a blob is none.
bool whole_number(sqlite3_value* v, int storage, int64_t lo, int64_t hi, int64_t* out) {
  if (storage == SQLITE_INTEGER) {
    *out = sqlite3_value_int64(v);
  } else if (storage == SQLITE_FLOAT) {
    const double d = sqlite3_value_double(v);
    // 2^63 is the first double past the 64-bit range.
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0) || d != std::trunc(d)) return false;
    *out = static_cast<int64_t>(d);
  } else {
    return false;
  }
  return *out >= lo && *out <= hi;
}

// What a wire type holds, for the error of a value that does not fit it.
const char* wire_type_words(uint32_t server_type) {
  switch (server_type) {
    case ST_INT8: return "an 8-bit integer";
    case ST_INT16: return "a 16-bit integer";
    case ST_INT32: return "a 32-bit integer";
    case ST_INT64: return "a 64-bit integer";
    case ST_FLOAT: return "a 32-bit float";
    case ST_DOUBLE: return "a 64-bit float";
    case ST_DATE: return "a date";
    case ST_TIME: return "a time of day";
    case ST_DATETIME: return "a date and time";
    default: return "its column's type";
  }
}

}  // namespace

std::string LobStore::put(const void* data, size_t n) {
  char name[16];
  std::snprintf(name, sizeof name, "C%012llu", static_cast<unsigned long long>(next_++ % 1000000000000ull));
  while (!order_.empty() && (bytes_ + n > kMaxBytes || order_.size() >= kMaxValues)) {
    auto it = values_.find(order_.front());
    if (it != values_.end()) {
      bytes_ -= it->second.size();
      values_.erase(it);
    }
    order_.pop_front();
  }
  values_[name].assign(static_cast<const char*>(data), n);
  order_.emplace_back(name);
  bytes_ += n;
  return std::string(name) + ":" + std::to_string(n);
}

const std::string* LobStore::find(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? nullptr : &it->second;
}

std::vector<FieldPlan> describe_columns(sqlite3_stmt* stmt, bool has_row) {
  const int n = sqlite3_column_count(stmt);
  std::vector<FieldPlan> out(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    out[k].name = wire_name(stmt, k);
    if (!declared_column_type(sqlite3_column_decltype(stmt, k), &out[k].type))
      out[k].type = value_column_type(has_row ? sqlite3_column_type(stmt, k) : SQLITE_NULL);
  }
  return out;
}

RowEncoder::RowEncoder(std::vector<FieldPlan> fields, LobStore* lobs)
    : fields_(std::move(fields)), lobs_(lobs), cells_(fields_.size()), descriptors_(lobs ? fields_.size() : 0) {}

void RowEncoder::write_head(ReplyWriter& out) const {
  out.letter(REPLY_RESULT_SET);
  out.u32(static_cast<uint32_t>(fields_.size()));
  for (const FieldPlan& f : fields_) out.field(f.name, f.type.server_type, f.type.length, f.type.attr);
}

bool wire_value(sqlite3_value* v, uint32_t type, WireValue* cell) {
  cell->width = 0;
  cell->fixed = true;
  const int storage = sqlite3_value_type(v);
  if (storage == SQLITE_NULL) return true;
  auto fixed = [cell](uint32_t width, uint64_t bits) {
    cell->width = width;
    cell->bits = bits;
    return true;
  };
  // SQLite keeps any value in any column: one outside what the wire type
  // holds is refused, never cut to its width.
  auto whole = [&](uint32_t width, int64_t lo, int64_t hi) {
    int64_t n = 0;
    return whole_number(v, storage, lo, hi, &n) && fixed(width, static_cast<uint64_t>(n));
  };
  switch (type) {
    case ST_BOOLEAN: {
      const bool yes = storage == SQLITE_TEXT ? text_is_true(value_text(v)) : sqlite3_value_int64(v) != 0;
      return fixed(1, yes ? 'T' : 'F');
    }
    case ST_INT8: return whole(1, INT8_MIN, INT8_MAX);
    case ST_INT16: return whole(2, INT16_MIN, INT16_MAX);
    case ST_INT32: return whole(4, INT32_MIN, INT32_MAX);
    case ST_INT64: return whole(8, INT64_MIN, INT64_MAX);
    case ST_FLOAT:
    case ST_DOUBLE: {
      if (storage != SQLITE_INTEGER && storage != SQLITE_FLOAT) return false;
      const double d = sqlite3_value_double(v);
      if (type == ST_DOUBLE) return fixed(8, double_bits(d));
      // A float takes any number in its range, rounded to its precision.
      return !(std::isfinite(d) && std::fabs(d) > FLT_MAX) && fixed(4, float_bits(d));
    }
    case ST_DATE:
    case ST_TIME:
    case ST_DATETIME: {
      // Numbers are taken as the wire's own unit; texts must be calendar texts.
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
        if (type == ST_DATETIME) return whole(8, INT64_MIN, INT64_MAX);
        return type == ST_DATE ? whole(4, INT32_MIN, INT32_MAX) : whole(4, 0, kMsPerDay - 1);
      }
      if (storage != SQLITE_TEXT) return false;
      const std::string_view text = value_text(v);
      if (type == ST_DATETIME) {
        int64_t ms;
        return local_text_to_ms(text, &ms) && fixed(8, static_cast<uint64_t>(ms));
      }
      int32_t n;
      const bool ok = type == ST_DATE ? text_to_days(text, &n) : text_to_day_ms(text, &n);
      return ok && fixed(4, static_cast<uint32_t>(n));
    }
    case ST_BINARY: {
      const void* p = sqlite3_value_blob(v);
      cell->fixed = false;
      // An empty blob has no bytes, and no address either.
      cell->data = p ? p : "";
      cell->width = p ? static_cast<uint32_t>(sqlite3_value_bytes(v)) : 0;
      return true;
    }
    default: {
      const std::string_view text = value_text(v);
      cell->fixed = false;
      cell->data = text.data();
      cell->width = static_cast<uint32_t>(text.size());
      return true;
    }
  }
}

std::string misfit_text(int64_t row, const char* column, sqlite3_value* v, uint32_t type) {
  std::string shown;
  switch (sqlite3_value_type(v)) {
    case SQLITE_BLOB: shown = "a blob"; break;
    case SQLITE_TEXT: {
      constexpr size_t kShownMax = 40;
      const std::string_view text = value_text(v);
      shown = "'" + std::string(text.substr(0, kShownMax)) + (text.size() > kShownMax ? "...'" : "'");
      break;
    }
    default: shown = std::string(value_text(v));
  }
  return "[ES910]row " + std::to_string(row) + ", column " + (column ? column : "?") + ": " + shown +
         " does not fit " + wire_type_words(type);
}

// The value is read through its sqlite3_value: one call into the statement
// per column rather than one per question asked of it. The statement's
// connection belongs to this thread alone (it is opened without a mutex), so
// the value needs no protection.
bool RowEncoder::take_cell(sqlite3_stmt* stmt, int k, WireValue* cell) {
  if (!wire_value(sqlite3_column_value(stmt, k), fields_[k].type.server_type, cell)) return false;
  if (lobs_ && fields_[k].type.server_type == ST_CLOB && cell->width > 0) {
    descriptors_[k] = lobs_->put(cell->data, cell->width);
    cell->data = descriptors_[k].data();
    cell->width = static_cast<uint32_t>(descriptors_[k].size());
  }
  return true;
}

bool RowEncoder::stores_lobs() const {
  if (!lobs_) return false;
  for (const FieldPlan& f : fields_) {
    if (f.type.server_type == ST_CLOB) return true;
  }
  return false;
}

RowEncoder::Wrote RowEncoder::write_row(ReplyWriter& out, sqlite3_stmt* stmt, size_t limit) {
  const int n = static_cast<int>(fields_.size());
  size_t need = 1;
  for (int k = 0; k < n; ++k) {
    if (!take_cell(stmt, k, &cells_[k])) {
      misfit_ = k;
      return Wrote::kMisfit;
    }
    need += 4 + cells_[k].width;
  }
  if (need > limit) return Wrote::kTooLong;
  ++rows_;
  if (need > ReplyWriter::kRoom) {
    write_slow(out);
    return Wrote::kRow;
  }
  uint8_t* const start = out.reserve_for_fill(need);
  uint8_t* p = start;
  *p++ = REPLY_ROW;
  for (const WireValue& c : cells_) {
    p = put_be32(p, c.width);
    if (!c.fixed) {
      std::memcpy(p, c.data, c.width);
      p += c.width;
      continue;
    }
    switch (c.width) {
      case 1: *p++ = static_cast<uint8_t>(c.bits); break;
      case 2: p = put_be16(p, static_cast<uint16_t>(c.bits)); break;
      case 4: p = put_be32(p, static_cast<uint32_t>(c.bits)); break;
      case 8: p = put_be64(p, c.bits); break;
      default: break;
    }
  }
  out.commit(static_cast<size_t>(p - start));
  return Wrote::kRow;
}

std::string RowEncoder::misfit_error(sqlite3_stmt* stmt) const {
  return misfit_text(rows_ + 1, sqlite3_column_name(stmt, misfit_), sqlite3_column_value(stmt, misfit_),
                     fields_[misfit_].type.server_type);
}

// A row too long for the staging room: value by value.
void RowEncoder::write_slow(ReplyWriter& out) const {
  out.letter(REPLY_ROW);
  for (const WireValue& c : cells_) {
    out.u32(c.width);
    if (!c.fixed) {
      out.bytes(c.data, c.width);
      continue;
    }
    uint8_t be[8];
    put_be64(be, c.bits);
    out.bytes(be + 8 - c.width, c.width);
  }
}

}  // namespace standin
