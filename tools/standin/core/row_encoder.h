// Result sets on the wire: the field descriptions of a SQLite statement and
// its rows, written straight from the stepped statement into the reply.
#ifndef RIZEZOVA_STANDIN_ROW_ENCODER_H
#define RIZEZOVA_STANDIN_ROW_ENCODER_H

#include <sqlite3.h>

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/standin/core/column_types.h"
#include "tools/standin/core/reply_writer.h"

namespace standin {

// Character LOBs of a connection that asked for LOB descriptors: a row holds
// a descriptor, "get lob" brings the value. The newest values are kept, up to
// a bound, so that memory stays bounded however many rows are read.
class LobStore {
 public:
  // Keeps a copy of the value; answers its descriptor: 'C' and 12 digits
  // naming it, ':', and its length.
  std::string put(const void* data, size_t n);
  // The value a descriptor name (its first 13 characters) names; null when
  // it is unknown or no longer kept.
  const std::string* find(const std::string& name) const;

 private:
  static constexpr size_t kMaxBytes = 64u << 20;
  static constexpr size_t kMaxValues = 100000;
  uint64_t next_ = 1;
  size_t bytes_ = 0;
  std::unordered_map<std::string, std::string> values_;
  std::deque<std::string> order_;
};

struct FieldPlan {
  std::string name;  // table.column%alias as the wire carries it
  ColumnType type;
};

// The fields of a statement's result. A column whose declaration names no
// known type takes the type of its value in the current row (the statement
// has just been stepped onto one when has_row), else text; a later value
// that does not fit that type is refused when its row is written.
std::vector<FieldPlan> describe_columns(sqlite3_stmt* stmt, bool has_row);

// A value as a field of its wire type carries it: a number of `width` bytes
// in `bits` (big-endian on the wire), or `width` bytes at `data`; width 0 for
// NULL.
struct WireValue {
  uint32_t width;
  bool fixed;
  uint64_t bits;
  const void* data;  // valid while the value is
};
// The value v in a field of server type `type`; false when it does not fit
// that type, as SQLite keeps any value in any column. Character LOBs go whole.
bool wire_value(sqlite3_value* v, uint32_t type, WireValue* out);
// The error of a value that does not fit its field:
// "[ES910]row R, column C: V does not fit T".
std::string misfit_text(int64_t row, const char* column, sqlite3_value* v, uint32_t type);

class RowEncoder {
 public:
  // lobs: where character LOBs go when the connection asked for descriptors;
  // null to send them whole.
  RowEncoder(std::vector<FieldPlan> fields, LobStore* lobs);
  const std::vector<FieldPlan>& fields() const { return fields_; }

  // The 'A' letter, the field count and the field descriptions.
  void write_head(ReplyWriter& out) const;
  enum class Wrote { kRow, kMisfit, kTooLong };
  // The statement's current row as an 'R' item. kMisfit, with nothing
  // written, when a value does not fit its field's wire type; kTooLong, with
  // nothing written, when the item would take more than `limit` bytes (a
  // later call writes the row whole; not with LOB descriptors, whose values
  // are stored as the row is read).
  Wrote write_row(ReplyWriter& out, sqlite3_stmt* stmt, size_t limit = SIZE_MAX);
  // Whether writing a row stores values of this connection's LOB descriptors.
  bool stores_lobs() const;
  // The error text of the value that stopped the last write_row, while the
  // statement still stands on that row.
  std::string misfit_error(sqlite3_stmt* stmt) const;

 private:
  bool take_cell(sqlite3_stmt* stmt, int k, WireValue* cell);
  void write_slow(ReplyWriter& out) const;

  std::vector<FieldPlan> fields_;
  LobStore* lobs_;
  std::vector<WireValue> cells_;
  std::vector<std::string> descriptors_;
  int64_t rows_ = 0;  // rows written
  int misfit_ = 0;    // the column that stopped the last write_row
};

}  // namespace standin

#endif
