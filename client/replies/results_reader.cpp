// The result-set item and the readers of a reply into result records.
#include "client/replies/results_reader.h"

#include <cstdio>
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
#include "link/wire_io.h"

namespace {

// Rows that the batch-reading readers read at a time.
constexpr int kRowBatch = 200;

// The verbose_mode bits that let error and warning lines through.
constexpr int kVerboseAll = 1;
constexpr int kVerboseErrors = 2;
constexpr int kVerboseWarnings = 4;

// An 'E', 'F', 'M' or 'W' item met by these readers: printed as verbose_mode
// allows. Answers the status it sets: RC_ERROR for an error, RC_SUCCESS for a
// message or warning.
int result_text(const Conn* conn, uint8_t letter, const char* text) {
  if (is_error_letter(letter)) {
    if (conn->verbose_mode & (kVerboseAll | kVerboseErrors)) std::printf("[EC031]Error in recv result :%s \n", text);
    return RC_ERROR;
  }
  if (letter == REPLY_MESSAGE) {
    std::printf("[MC033]Server send message :%s \n", text);
  } else if (conn->verbose_mode & (kVerboseAll | kVerboseWarnings)) {
    std::printf("[WC032]Server Warning in recv result :%s \n", text);
  }
  return RC_SUCCESS;
}

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
  if (recv_field_descs(conn, result) != RC_SUCCESS) return Step::fail(RC_READ_FAILED);
  if (how == RowsIn::None) return Step::next(0);
  RowShape shape;
  if (!row_shape(result, &shape)) return Step::fail(RC_READ_FAILED);
  ResultSet* rows_into = keep ? result : nullptr;
  if (rows_into && !has_pool(rows_into)) return Step::fail(RC_NO_MEMORY);
  int status = RC_SUCCESS;
  int64_t rows = recv_row_run(conn, rows_into, shape, how == RowsIn::Batches ? kRowBatch : 0, &status);
  if (status < 0) return Step::fail(status);
  if (how == RowsIn::Blocks) return Step::next(static_cast<int>(rows % kRowBlock));
  if (how == RowsIn::All || rows < kRowBatch) return Step::next(count_status(rows));
  // A full first batch: the reply may end right behind it, or the server is
  // asked to go on, once.
  uint8_t next = 0;
  if (!recv_char(&conn->link, &next)) return Step::fail(RC_READ_FAILED);
  if (next == REPLY_END) return {Step::Ended, kRowBatch};
  conn->link.pushback_letter = next;
  const uint8_t go_on = COMMAND_CONTINUE_ROWS;
  send_bytes(&conn->link, &go_on, 1);
  send_flush(&conn->link);
  do {
    rows = recv_row_run(conn, rows_into, shape, kRowBatch, &status);
    if (status < 0) return Step::fail(status);
  } while (rows == kRowBatch);
  return Step::next(static_cast<int>(rows));
}

// A reply into a chain of results: one per result set, count and row id.
class ChainReader : public ReplyPolicy {
 public:
  ChainReader(Conn* conn, ResultSet** out) : ReplyPolicy(conn), out_(out) {}
  ~ChainReader() override { free_result_chain(head_); }

  int end(uint8_t /*last*/) override {
    *out_ = head_;
    head_ = nullptr;
    return status_;
  }
  Step unknown(uint8_t letter) override { return Step::stop(end(letter)); }
  Step text(uint8_t letter, const char* text) override {
    status_ = result_text(conn_, letter, text);
    return Step::next();
  }
  Step count(uint8_t letter, uint32_t count) override {
    ResultSet* result = append(letter == REPLY_DELETED ? SQL_KIND_DELETE : SQL_KIND_UPDATE);
    if (!result) return Step::fail(RC_NO_MEMORY);
    result->affected = static_cast<int32_t>(count);
    return Step::next();
  }
  Step row_id(const char (&row_id)[32]) override {
    std::memcpy(conn_->row_id, row_id, sizeof row_id);
    conn_->row_id_received = 1;
    ResultSet* result = append(SQL_KIND_INSERT);
    if (!result) return Step::fail(RC_NO_MEMORY);
    std::memcpy(result->row_id, row_id, sizeof row_id);
    // The head counts the row ids of its reply; a count that cannot grow stays where it is.
    if (head_->affected < INT32_MAX) ++head_->affected;
    return Step::next();
  }
  Step result_set() override {
    ResultSet* result = append(SQL_KIND_SELECT);
    if (!result) return Step::fail(RC_NO_MEMORY);
    tie_result(result, conn_);
    const Step step = recv_result_item(conn_, result, RowsIn::Blocks);
    if (step.kind == Step::Next) status_ = step.code;
    return step;
  }

 private:
  ResultSet* append(int kind) {
    ResultSet* result = new_result(kind);
    if (!result) return nullptr;
    (tail_ ? tail_->next : head_) = result;
    tail_ = result;
    return result;
  }

  ResultSet** out_;
  ResultSet* head_ = nullptr;
  ResultSet* tail_ = nullptr;
};

// A reply into one result: one result set with every row.
class SingleReader : public ReplyPolicy {
 public:
  SingleReader(Conn* conn, ResultSet** out) : ReplyPolicy(conn), out_(out) {}
  ~SingleReader() override { free_result(result_); }

  // Counts and row ids are not this reader's: the defaults read them whole
  // and drop them.
  int end(uint8_t /*last*/) override {
    if (second_layout_) {
      *out_ = nullptr;
      return RC_ERROR;
    }
    *out_ = result_;
    result_ = nullptr;
    return status_;
  }
  Step unknown(uint8_t letter) override { return Step::stop(end(letter)); }
  Step text(uint8_t letter, const char* text) override {
    status_ = result_text(conn_, letter, text);
    return Step::next();
  }
  Step result_set() override {
    if (result_) {
      // One record holds one layout: a second result set is read to its end
      // so the link stays in step, then dropped, and the reply fails.
      second_layout_ = true;
      return recv_result_item(conn_, nullptr, RowsIn::All);
    }
    result_ = new_result(SQL_KIND_SELECT);
    if (!result_) return Step::fail(RC_NO_MEMORY);
    tie_result(result_, conn_);
    const Step step = recv_result_item(conn_, result_, RowsIn::All);
    if (step.kind == Step::Next) status_ = step.code;
    return step;
  }

 private:
  ResultSet** out_;
  ResultSet* result_ = nullptr;
  bool second_layout_ = false;
};

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
  if (!scratch) return Step::fail(RC_NO_MEMORY);
  const Step step = read_item(conn, scratch, false, rows);
  free_result(scratch);
  return step;
}

int recv_results(Conn* conn, ResultSet** out) {
  ChainReader reader(conn, out);
  return read_reply(reader);
}

int recv_result_single(Conn* conn, ResultSet** out) {
  SingleReader reader(conn, out);
  return read_reply(reader);
}
