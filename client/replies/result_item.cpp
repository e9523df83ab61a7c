// The result-set item of a reply: descriptions and rows.
#include "client/replies/result_item.h"

#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"
#include "client/replies/reply_items.h"
#include "client/replies/row_reader.h"
#include "client/results/mem_pool.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/results/row_store.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"
#include "link/reply_letters.h"
#include "link/wire_io.h"

namespace {

// Rows that the batch-reading readers read at a time.
constexpr int kRowBatch = 200;

// A row count as a status; a count that does not fit is held at the largest.
int count_status(int64_t rows) { return rows > INT32_MAX ? INT32_MAX : static_cast<int>(rows); }

bool has_pool(ResultSet* result) {
  if (!result->pool) result->pool = mem_pool_create();
  return result->pool != nullptr;
}

// The descriptions of an 'A' item into result, and its rows into it too when
// keep is set, else read and dropped.
Step read_item(Conn* conn, ResultSet* result, bool keep, RowsIn how) {
  // Rows cannot be followed without their descriptions.
  if (recv_field_descs(conn, result) != RC_SUCCESS) return Step::fail();
  if (how == RowsIn::None) return Step::next(0);
  RowShape shape;
  if (!row_shape(result, &shape)) return Step::fail();
  ResultSet* rows_into = keep ? result : nullptr;
  if (rows_into && !has_pool(rows_into)) return Step::fail();
  int status = RC_SUCCESS;
  int64_t rows = recv_row_run(conn, rows_into, shape, how == RowsIn::Batches ? kRowBatch : 0, &status);
  if (status < 0) return Step::fail();
  if (how == RowsIn::Blocks) return Step::next(static_cast<int>(rows % kRowBlock));
  if (how == RowsIn::All || rows < kRowBatch) return Step::next(count_status(rows));
  // A full first batch: the reply may end right behind it, or the server is
  // asked to go on, once.
  uint8_t next = 0;
  if (!recv_char(&conn->link, &next)) return Step::fail();
  if (next == REPLY_END) return {Step::Ended, kRowBatch};
  conn->link.pushback_letter = next;
  const uint8_t go_on = COMMAND_CONTINUE_ROWS;
  send_bytes(&conn->link, &go_on, 1);
  send_flush(&conn->link);
  do {
    rows = recv_row_run(conn, rows_into, shape, kRowBatch, &status);
    if (status < 0) return Step::fail();
  } while (rows == kRowBatch);
  return Step::next(static_cast<int>(rows));
}

}  // namespace

int recv_field_desc(Conn* conn, FieldDesc* field) {
  uint32_t n = 0;
  if (!recv_int(&conn->link, &n)) return RC_READ_FAILED;
  if (n >= INT32_MAX) return RC_NO_MEMORY;
  auto* name = static_cast<char*>(alloc_zeroed(static_cast<size_t>(n) + 1));
  if (!name) return RC_NO_MEMORY;
  if (!recv_bytes(&conn->link, reinterpret_cast<uint8_t*>(name), n)) {
    std::free(name);
    return RC_ERROR;
  }
  if (char* pct = std::strchr(name, '%')) {
    *pct = 0;
    field->alias = pct + 1;
  }
  if (char* dot = std::strchr(name, '.')) {
    *dot = 0;
    field->table = name;
    field->column = dot + 1;
  } else {
    field->column = name;
  }
  if (!recv_int(&conn->link, &field->server_type) || !recv_int(&conn->link, &field->length) ||
      !recv_int(&conn->link, &field->attr)) {
    return RC_ERROR;
  }
  field->ctype = static_cast<uint32_t>(map_server_type(field->server_type));
  return RC_SUCCESS;
}

int recv_field_descs(Conn* conn, ResultSet* result) {
  uint32_t n = 0;
  if (!recv_int(&conn->link, &n) || n > static_cast<uint32_t>(kMaxFields)) return RC_READ_FAILED;
  auto* fields = static_cast<FieldDesc*>(alloc_zeroed(n * sizeof(FieldDesc)));
  if (!fields) return RC_ERROR;
  const auto count = static_cast<int32_t>(n);
  result->field_count = count;
  for (int32_t k = 0; k < count; ++k) {
    if (recv_field_desc(conn, &fields[k]) != RC_SUCCESS) {
      free_field_descs(fields, count);
      return RC_ERROR;
    }
  }
  result->row_size = row_layout(fields, count);
  result->fields = fields;
  return RC_SUCCESS;
}

int recv_rows(Conn* conn, ResultSet* result, int64_t limit, int* status) {
  RowShape shape;
  if (!row_shape(result, &shape)) {
    *status = RC_READ_FAILED;
    return 0;
  }
  if (!has_pool(result)) {
    *status = RC_NO_MEMORY;
    return 0;
  }
  return count_status(recv_row_run(conn, result, shape, limit, status));
}

Step recv_result_item(Conn* conn, ResultSet* result, RowsIn rows) {
  if (result) return read_item(conn, result, true, rows);
  // A result set that is dropped still needs its descriptions to be followed.
  ResultSet* scratch = new_result(SQL_KIND_SELECT);
  if (!scratch) return Step::fail();
  const Step step = read_item(conn, scratch, false, rows);
  free_result(scratch);
  return step;
}

Step recv_new_result(Conn* conn, RowsIn rows, ResultSet** out) {
  *out = new_result(SQL_KIND_SELECT);
  if (!*out) return Step::fail();
  tie_result(*out, conn);
  return read_item(conn, *out, true, rows);
}
