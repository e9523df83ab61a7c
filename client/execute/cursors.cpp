// Server cursors: opening them, fetching their blocks, stepping through rows
// and results, closing them, and the cursors that callers name themselves.
#include "client/execute/cursors.h"
#include "client/execute/row_values.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"
#include "client/handles/handle.h"
#include "client/params/param_set.h"
#include "client/replies/results_reader.h"
#include "client/requests/command_frame.h"
#include "client/requests/exchange.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/results/row_store.h"
#include "client/results/smart_result.h"
#include "client/vmc.h"
#include "client/vmc_internal.h"

namespace {

constexpr size_t kCloseErrorSize = 200;

// Closes the cursor of a SmartResult; on failure the connection's text moves
// into the SmartResult. RC_READ_FAILED when the link failed, RC_ERROR when
// the server refused.
int close_smart_cursor(SmartResult* smart) {
  VMC_Handle handle = smart->conn;
  const int rc = VMC_CloseCursor(&handle, smart->cursor_name);
  if (rc != RC_SUCCESS) {
    std::free(smart->error_text);
    smart->error_text = smart->conn->error_text;
    smart->conn->error_text = nullptr;
    return rc == RC_READ_FAILED ? rc : RC_ERROR;
  }
  mark_closed(smart);
  return RC_SUCCESS;
}

// The next row of a result whose rows may have ended at a server error: past
// them the result answers RC_ERROR, not the end of its rows, and the error
// is again the text of the connection the rows came over.
int step_rows(ResultSet* rows) {
  const int rc = result_step(rows);
  if (rc != RC_NO_DATA || !rows->failure_text) return rc;
  if (rows->conn) conn_set_error(rows->conn, rows->failure_text);
  return RC_ERROR;
}

// The reply to a FETCH: its code, with the block in *block. A reply that
// failed is no block, whatever it carried: *block is then null.
int recv_block(Conn* conn, ResultSet** block) {
  const int rc = recv_results(conn, block);
  if (rc < 0) {
    free_result_chain(*block);
    *block = nullptr;
  }
  return rc;
}

// Sends the FETCH of the cursor's next block; its reply is left on the link.
int send_fetch(Conn* conn, const char* cursor) {
  char* fetch = format_command("FETCH %d FROM %s ;", kRowBlock, cursor);
  if (!fetch) return RC_NO_MEMORY;
  send_query_flush(conn, fetch);
  std::free(fetch);
  return RC_SUCCESS;
}

// A reader that asked for it has the FETCH of the next block sent as soon as
// a full block is in hand, so that the server makes the next block while
// this one is converted. Only its reply may come next on the link, so not
// while any column could send a LOB fetch of its own.
void fetch_ahead(SmartResult* smart) {
  if (!smart->read_ahead || smart->fetch_sent || smart->ahead_read || !smart->cursor_open || !smart->more_rows ||
      !smart->block || !block_leaves_rows(smart->block)) {
    return;
  }
  for (int32_t k = 0; k < smart->block->field_count; ++k) {
    const uint32_t ctype = smart->block->fields[k].ctype;
    if (ctype >= CT_CLOB && ctype <= CT_CLOB_44) return;
  }
  ExchangeLock lock(smart->conn);
  // A send that failed shows as the failed read of its reply.
  if (send_fetch(smart->conn, smart->cursor_name) == RC_SUCCESS) {
    smart->fetch_sent = 1;
    ++smart->conn->fetches_ahead;
  }
}

// Its reply is being read: the link owes that FETCH nothing more.
void fetch_answered(SmartResult* smart) {
  smart->fetch_sent = 0;
  --smart->conn->fetches_ahead;
}

// The next block of the cursor: the reply of a FETCH sent ahead, or of one
// sent now. Its code, with the block in *block (null when the FETCH failed).
int next_block(SmartResult* smart, ResultSet** block) {
  *block = nullptr;
  if (smart->ahead_read) {
    *block = smart->ahead_block;
    smart->ahead_block = nullptr;
    smart->ahead_read = 0;
    return smart->ahead_code;
  }
  ExchangeLock lock(smart->conn);
  if (!smart->fetch_sent) return fetch_block(smart->conn, smart->cursor_name, block);
  fetch_answered(smart);
  return recv_block(smart->conn, block);
}

// Frees a used-up block, all but the descriptions of its columns, which are
// kept in a result without rows (null when there is no memory for one): the
// result still describes its columns if its next block cannot be had.
ResultSet* keep_descriptions(ResultSet* used) {
  ResultSet* described = new_result(used->kind);
  if (described) {
    described->fields = used->fields;
    described->field_count = used->field_count;
    described->row_size = used->row_size;
    used->fields = nullptr;
    used->field_count = 0;
  }
  free_result_chain(used);
  return described;
}

// Frees a block read ahead that no step took.
void drop_ahead(SmartResult* smart) {
  free_result_chain(smart->ahead_block);
  smart->ahead_block = nullptr;
  smart->ahead_read = 0;
}

// The step past the rows in hand of a result whose connection closed while
// its cursor still had rows: a block read ahead before the close is still
// served; past that the result ends as its link did, not as a whole result.
int step_cut_off(SmartResult* smart) {
  if (!smart->ahead_read) return RC_READ_FAILED;
  free_result_chain(smart->block);
  const int fetched = next_block(smart, &smart->block);
  if (!smart->block) return fetch_failure(fetched);
  // A short block was the cursor's last: every row has arrived after all.
  if (smart->block->row_count != kRowBlock) smart->cut_off = 0;
  return step_rows(smart->block);
}

}  // namespace

bool block_leaves_rows(const ResultSet* block) { return block->row_count == kRowBlock && !block->failure_text; }

int fetch_failure(int code) { return code == RC_READ_FAILED || code == RC_NO_MEMORY ? code : RC_ERROR; }

void settle_fetch(SmartResult* smart) {
  if (!smart->fetch_sent || !smart->conn) return;
  ExchangeLock lock(smart->conn);
  fetch_answered(smart);
  smart->ahead_code = recv_block(smart->conn, &smart->ahead_block);
  smart->ahead_read = 1;
}

int open_cursor(Conn* conn, const char* cursor) {
  char* open = format_command("OPEN %s ;", cursor);
  if (!open) return RC_NO_MEMORY;
  const int rc = run_short_command(conn, open);
  std::free(open);
  return rc;
}

int fetch_block(Conn* conn, const char* cursor, ResultSet** block) {
  *block = nullptr;
  const int sent = send_fetch(conn, cursor);
  if (sent != RC_SUCCESS) return sent;
  return recv_block(conn, block);
}

void close_after_failed_fetch(Conn* conn, const char* cursor) {
  char* reason = conn->error_text;
  conn->error_text = nullptr;
  VMC_Handle handle = conn;
  VMC_CloseCursor(&handle, cursor);
  std::free(conn->error_text);
  conn->error_text = reason;
}

void mark_cursor_exhausted(Conn* conn, const char* cursor) {
  std::memset(conn->exhausted_cursor, 0, sizeof conn->exhausted_cursor);
  const size_t n = std::strlen(cursor);
  if (n < sizeof conn->exhausted_cursor) std::memcpy(conn->exhausted_cursor, cursor, n);
}

bool cursor_is_exhausted(const Conn* conn, const char* cursor) {
  return conn->exhausted_cursor[0] != 0 && strcasecmp(conn->exhausted_cursor, cursor) == 0;
}

void clear_cursor_exhausted(Conn* conn, const char* cursor) {
  if (!cursor || cursor_is_exhausted(conn, cursor)) {
    std::memset(conn->exhausted_cursor, 0, sizeof conn->exhausted_cursor);
  }
}

extern "C" int VMC_Fetch(VMC_Handle* handle) {
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::ResultSet:
      return step_rows(static_cast<ResultSet*>(*handle));
    case HandleType::SmartResult:
      break;
    default:
      return RC_INVALID_HANDLE;
  }
  auto* smart = static_cast<SmartResult*>(*handle);
  if (!smart->block || smart->fetch_failed) return RC_ERROR;
  int rc = step_rows(smart->block);
  if (rc != RC_NO_DATA) return rc;
  if (smart->cut_off) return step_cut_off(smart);
  if (!smart->more_rows) return rc;

  // The block is used up and the server may hold more: only one block at a
  // time stays in memory.
  ResultSet* described = keep_descriptions(smart->block);
  smart->block = nullptr;
  Conn* conn = smart->conn;
  const int fetched = next_block(smart, &smart->block);
  if (!smart->block) {
    // A failed link is a read failure and carries no CLOSE; a refused FETCH
    // closes the cursor. The rows end there, and the columns stay described.
    if (fetched != RC_READ_FAILED) close_after_failed_fetch(conn, smart->cursor_name);
    mark_closed(smart);
    smart->block = described;
    smart->fetch_failed = 1;
    return fetch_failure(fetched);
  }
  free_result(described);
  if (smart->block->failure_text) {
    // The rows ended at a server error: they are the result's whatever the
    // server says to closing the cursor, and the error is its answer.
    close_after_failed_fetch(conn, smart->cursor_name);
    mark_closed(smart);
  } else if (smart->block->row_count != kRowBlock) {
    const int closed = close_smart_cursor(smart);
    if (closed != RC_SUCCESS) return closed;
  }
  fetch_ahead(smart);
  return step_rows(smart->block);
}

extern "C" int vmc_read_ahead(VMC_Handle* handle, int on) {
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::ResultSet:
      return RC_SUCCESS;
    case HandleType::SmartResult:
      break;
    default:
      return RC_INVALID_HANDLE;
  }
  auto* smart = static_cast<SmartResult*>(*handle);
  smart->read_ahead = on ? 1 : 0;
  if (on) {
    fetch_ahead(smart);
  } else {
    settle_fetch(smart);
  }
  return RC_SUCCESS;
}

extern "C" int VMC_NextResult(VMC_Handle* handle) {
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::ResultSet: {
      auto* result = static_cast<ResultSet*>(*handle);
      if (!result->next) return RC_NO_DATA;
      *handle = result->next;
      result->next = nullptr;
      free_result(result);
      return RC_SUCCESS;
    }
    case HandleType::SmartResult: {
      auto* smart = static_cast<SmartResult*>(*handle);
      if (!smart->block || !smart->block->next) return RC_NO_DATA;
      settle_fetch(smart);
      // The handle moves on to a plain result; the cursor and its record go.
      // A CLOSE that fails leaves the handle as it was, with the reason in
      // the connection's error text.
      if (smart->cursor_open) {
        VMC_Handle conn_handle = smart->conn;
        const int rc = VMC_CloseCursor(&conn_handle, smart->cursor_name);
        if (rc != RC_SUCCESS) return rc;
        mark_closed(smart);
      }
      *handle = smart->block->next;
      smart->block->next = nullptr;
      drop_ahead(smart);
      free_smart_result(smart);
      return RC_SUCCESS;
    }
    default:
      return RC_SUCCESS;
  }
}

extern "C" int VMC_FreeResult(VMC_Handle* handle) {
  if (!handle || !*handle) return RC_SUCCESS;
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::ResultSet:
      // The results of the reply behind it are reachable only through it.
      free_result_chain(static_cast<ResultSet*>(*handle));
      break;
    case HandleType::SmartResult: {
      auto* smart = static_cast<SmartResult*>(*handle);
      settle_fetch(smart);
      // A refused CLOSE keeps the result for another try; a cursor whose link
      // failed is gone with the link, and its result goes too.
      const int closed = smart->cursor_open ? close_smart_cursor(smart) : RC_SUCCESS;
      if (closed == RC_ERROR) return RC_ERROR;
      mark_closed(smart);
      drop_ahead(smart);
      free_smart_result(smart);
      *handle = nullptr;
      return closed;
    }
    default:
      break;
  }
  *handle = nullptr;
  return RC_SUCCESS;
}

extern "C" int VMC_CloseCursor(VMC_Handle* conn_var, const char* cursor) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !cursor) return RC_INVALID_HANDLE;
  if (cursor_is_exhausted(conn, cursor)) {
    // Its rows ran out: there is nothing left to close on the server.
    clear_cursor_exhausted(conn, cursor);
    return RC_SUCCESS;
  }
  char* close = format_command("CLOSE %s ", cursor);
  if (!close) return RC_NO_MEMORY;
  ExchangeLock lock(conn);
  send_query_flush(conn, close);
  std::free(close);
  char* text = nullptr;
  const int rc = recv_short_reply(conn, &text);
  if (rc == RC_ERROR) {
    char message[kCloseErrorSize];
    std::snprintf(message, sizeof message, "[EC027]Error :%s Close Cursor %s  \n", text ? text : "", cursor);
    conn_set_error(conn, message);
  }
  std::free(text);
  return rc;
}

extern "C" int VMC_DeclareCursor(VMC_Handle* conn_var, const char* sql, const char* cursor, ResultSet** out,
                                 int* fields) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !sql || !cursor || !out) return RC_INVALID_HANDLE;
  if (const int refused = refuse_rows_in_single_row(conn); refused != RC_SUCCESS) return refused;
  char* declare = format_command("DECLARE %s CURSOR FOR %s ", cursor, sql);
  if (!declare) return RC_NO_MEMORY;
  ParamSet* params = conn->params;
  ExchangeLock lock(conn);
  send_with_params(conn, declare, params);
  std::free(declare);
  consume_params(conn, params);
  ResultSet* reply = nullptr;
  // A declaration the server refused is not opened: its reason stays the
  // connection's error text.
  int rc = recv_results(conn, &reply);
  if (rc >= 0) rc = open_cursor(conn, cursor);
  lock.release();
  if (rc != RC_SUCCESS) {
    free_result_chain(reply);
    return rc;
  }
  clear_cursor_exhausted(conn, cursor);
  if (fields) *fields = reply ? reply->field_count : 0;
  if (reply) tie_result(reply, conn);
  *out = reply;
  return RC_SUCCESS;
}

extern "C" int VMC_FetchCursor(VMC_Handle* conn_var, const char* cursor, ResultSet** out, int* fields,
                               int64_t* rows, const int* count) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !cursor || !out || !count) return RC_INVALID_HANDLE;
  char* fetch = format_command("FETCH %d  FROM %s ", *count, cursor);
  if (!fetch) return RC_NO_MEMORY;
  ResultSet* reply = nullptr;
  int rc;
  {
    ExchangeLock lock(conn);
    send_query_flush(conn, fetch);
    rc = recv_results(conn, &reply);
  }
  std::free(fetch);
  if (fields) *fields = reply ? reply->field_count : 0;
  if (rows) *rows = reply ? reply->row_count : 0;
  *out = reply;
  return rc;
}

extern "C" int VMC_FetchCursorInto(VMC_Handle* conn_var, const char* cursor, ResultSet** res) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !cursor || !res) return RC_INVALID_HANDLE;
  if (cursor_is_exhausted(conn, cursor)) return RC_ERROR;
  char* fetch = format_command("FETCH  %d  FROM  %s ", kRowBlock, cursor);
  if (!fetch) return RC_NO_MEMORY;
  int rc;
  {
    ExchangeLock lock(conn);
    send_query_flush(conn, fetch);
    rc = recv_result_single(conn, res);
  }
  std::free(fetch);
  if (rc < kRowBlock) mark_cursor_exhausted(conn, cursor);
  return rc;
}

extern "C" int VMC_ExecuteToResult(VMC_Handle* conn_var, const char* cmd, ResultSet** res) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !cmd || !res) return RC_INVALID_HANDLE;
  if (*res) {
    free_result(*res);
    *res = nullptr;
  }
  int rc;
  {
    ExchangeLock lock(conn);
    send_query_flush(conn, cmd);
    rc = recv_result_single(conn, res);
  }
  if (*res) (*res)->cursor = 0;
  return rc;
}
