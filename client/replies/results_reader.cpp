// Reading a reply's result items into a chain of result records.
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

// The verbose_mode bits that let error and warning lines through.
constexpr int kVerboseAll = 1;
constexpr int kVerboseErrors = 2;
constexpr int kVerboseWarnings = 4;

// An 'E', 'F', 'M' or 'W' item: its text becomes the connection's error text,
// printed as verbose_mode allows, and sets the status (RC_ERROR for an error,
// RC_SUCCESS for a message or warning). RC_SUCCESS, or the failure of reading
// the text.
int result_text(Conn* conn, uint8_t letter, int* status) {
  const char* text = nullptr;
  const int rc = take_server_text(conn, &text);
  if (rc != RC_SUCCESS) return rc;
  if (is_error_letter(letter)) {
    if (conn->verbose_mode & (kVerboseAll | kVerboseErrors)) std::printf("[EC031]Error in recv result :%s \n", text);
    *status = RC_ERROR;
  } else if (letter == 'M') {
    std::printf("[MC033]Server send message :%s \n", text);
    *status = RC_SUCCESS;
  } else {
    if (conn->verbose_mode & (kVerboseAll | kVerboseWarnings))
      std::printf("[WC032]Server Warning in recv result :%s \n", text);
    *status = RC_SUCCESS;
  }
  return RC_SUCCESS;
}

// Field descriptions and all rows of one 'A' item, 20000 rows at a time when
// block is set, else in one go. Answers the rows of the last block read, or a
// failure code.
int recv_result_item(Conn* conn, ResultSet* result, bool block) {
  if (recv_field_descs(conn, result) != RC_SUCCESS) return RC_READ_FAILED;
  int status = 0;
  int n;
  do {
    n = recv_rows(conn, result, block ? kRowBlock : 0, &status);
    if (status < 0) return status;
  } while (block && n == kRowBlock);
  return n;
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
  if (!recv_int(&conn->link, &field->server_type) || !recv_int(&conn->link, &field->length) || !recv_int(&conn->link, &field->attr))
    return RC_ERROR;
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
  *status = RC_SUCCESS;
  int count = 0;
  // Rows need the layout of their field descriptions.
  if (result->row_size < RowLayout::kHeaderSize || (result->field_count > 0 && !result->fields)) {
    *status = RC_READ_FAILED;
    return count;
  }
  if (!result->pool) {
    result->pool = mem_pool_create();
    if (!result->pool) {
      *status = RC_NO_MEMORY;
      return count;
    }
  }
  // The wire widths are worked out once per block, not once per row.
  uint8_t widths[kMaxFields];
  const bool sized = result->field_count <= kMaxFields;
  if (sized) row_wire_widths(result, widths);
  while (limit == 0 || count < limit) {
    uint8_t* row = nullptr;
    const int rc = recv_row_sized(conn, result, sized ? widths : nullptr, &row);
    if (rc != RC_SUCCESS) {
      if (rc != kEndOfRows) *status = rc;
      break;
    }
    // A full result refuses the row (EC080) but the reading goes on, so
    // the row still counts.
    if (result_store_row(result, row) == RC_NO_MEMORY) {
      *status = RC_NO_MEMORY;
      break;
    }
    ++count;
  }
  return count;
}

int recv_results(Conn* conn, ResultSet** out) {
  ResultSet* head = nullptr;
  ResultSet* tail = nullptr;
  int status = 0;
  auto fail = [&](int code) {
    free_result_chain(head);
    return code;
  };
  auto append = [&](int kind) {
    ResultSet* result = new_result(kind);
    if (!result) return result;
    if (tail) {
      tail->next = result;
    } else {
      head = result;
    }
    tail = result;
    return result;
  };

  uint8_t letter = 0;
  if (!recv_char(&conn->link, &letter)) return fail(RC_READ_FAILED);
  for (;;) {
    if (letter == 'A') {
      ResultSet* result = append(SQL_KIND_SELECT);
      if (!result) return fail(RC_NO_MEMORY);
      result->conn = conn;
      const int rc = recv_result_item(conn, result, true);
      if (rc < 0) return fail(rc);
      status = rc;
    } else if (letter == 'D' || letter == 'U') {
      uint32_t count = 0;
      if (!recv_int(&conn->link, &count)) return fail(RC_READ_FAILED);
      ResultSet* result = append(letter == 'D' ? SQL_KIND_DELETE : SQL_KIND_UPDATE);
      if (!result) return fail(RC_NO_MEMORY);
      result->affected = static_cast<int32_t>(count);
    } else if (letter == 'I') {
      char row_id[32];
      if (!recv_row_id(conn, row_id)) return fail(RC_READ_FAILED);
      std::memcpy(conn->row_id, row_id, sizeof row_id);
      conn->row_id_received = 1;
      ResultSet* result = append(SQL_KIND_INSERT);
      if (!result) return fail(RC_NO_MEMORY);
      std::memcpy(result->row_id, row_id, sizeof row_id);
      ++head->affected;
    } else if (is_text_letter(letter)) {
      const int rc = result_text(conn, letter, &status);
      if (rc < 0) return fail(rc);
    } else {
      break;  // 'K', or a letter that ends the reply
    }
    if (!recv_char(&conn->link, &letter)) return fail(RC_READ_FAILED);
  }
  *out = head;
  return status;
}

int recv_result_single(Conn* conn, ResultSet** out) {
  ResultSet* result = nullptr;
  bool second_layout = false;
  int status = 0;
  auto fail = [&](int code) {
    free_result(result);
    return code;
  };

  uint8_t letter = 0;
  if (!recv_char(&conn->link, &letter)) return fail(RC_READ_FAILED);
  for (;;) {
    if (letter == 'A') {
      // One record holds one layout: a second result set is read to its end
      // so the link stays in step, then dropped, and the read fails.
      ResultSet* target = result ? new_result(SQL_KIND_SELECT) : (result = new_result(SQL_KIND_SELECT));
      if (!target) return fail(RC_NO_MEMORY);
      target->conn = conn;
      const int rc = recv_result_item(conn, target, false);
      if (target != result) {
        free_result(target);
        second_layout = true;
      }
      if (rc < 0) return fail(rc);
      if (target == result) status = rc;
    } else if (is_text_letter(letter)) {
      const int rc = result_text(conn, letter, &status);
      if (rc < 0) return fail(rc);
    } else {
      break;
    }
    if (!recv_char(&conn->link, &letter)) return fail(RC_READ_FAILED);
  }
  if (second_layout) {
    *out = nullptr;
    return fail(RC_ERROR);
  }
  *out = result;
  return status;
}
