// Running any statement with the bound values: a SELECT through a server
// cursor whose first block comes back at once, any other statement read whole.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"
#include "client/execute/cursors.h"
#include "client/execute/row_values.h"
#include "client/handles/handle.h"
#include "client/params/param_set.h"
#include "client/replies/results_reader.h"
#include "client/requests/exchange.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/results/smart_result.h"
#include "client/vmc.h"

namespace {

constexpr char kCursorSuffix[] = "SMARTCUR";

void report_counts(const ResultSet* r, int* fields, int64_t* rows, int* affected) {
  if (fields) *fields = r ? r->field_count : 0;
  if (rows) *rows = r ? r->row_count : 0;
  if (affected) *affected = r ? r->affected : 0;
}

int execute_through_cursor(Conn* conn, const char* sql, ParamSet* params, VMC_Handle* out, int* fields,
                           int64_t* rows, int* affected) {
  auto* smart = static_cast<SmartResult*>(alloc_zeroed(sizeof(SmartResult)));
  if (!smart) return RC_NO_MEMORY;
  smart->handle_type = static_cast<uint32_t>(HandleType::SmartResult);
  std::snprintf(smart->cursor_name, sizeof smart->cursor_name, "STC%u_%s", conn->stc_counter++, kCursorSuffix);
  char* declare = format_command("DECLARE %s CURSOR FOR %s;", smart->cursor_name, sql);
  if (!declare) {
    free_smart_result(smart);
    return RC_NO_MEMORY;
  }

  ExchangeLock lock(conn);
  send_with_params(conn, declare, params);
  std::free(declare);
  ResultSet* reply = nullptr;
  const int declared = recv_results(conn, &reply);
  // A declaration whose reply broke off among rows failed as well: the
  // cursor is not opened, and the server's text stays the connection's.
  const bool refused = declared < 0 || chain_failed(reply);
  free_result_chain(reply);
  if (refused) {
    free_smart_result(smart);
    return fetch_failure(declared);
  }

  int rc = open_cursor(conn, smart->cursor_name);
  if (rc != RC_SUCCESS) {
    free_smart_result(smart);
    return rc;
  }
  rc = fetch_block(conn, smart->cursor_name, &smart->block);
  lock.release();

  if (!smart->block) {
    // No block to walk: close the cursor (a failed link carries no CLOSE)
    // and hand nothing out.
    if (rc != RC_READ_FAILED) close_after_failed_fetch(conn, smart->cursor_name);
    free_smart_result(smart);
    return fetch_failure(rc);
  }
  // A block whose rows ended at a server error is the last: the cursor
  // goes, and stepping past those rows answers the error.
  if (block_leaves_rows(smart->block)) {
    smart->more_rows = 1;
    smart->conn = conn;
    smart->cursor_open = 1;
  } else if (smart->block->failure_text) {
    close_after_failed_fetch(conn, smart->cursor_name);
    mark_closed(smart);
  } else {
    // A short block is the whole rest of the result: the cursor can go now.
    VMC_Handle handle = conn;
    VMC_CloseCursor(&handle, smart->cursor_name);
    mark_closed(smart);
  }
  report_counts(smart->block, fields, rows, affected);
  tie_smart_result(smart, conn);
  *out = smart;
  return rc;
}

int execute_direct(Conn* conn, const char* sql, ParamSet* params, VMC_Handle* out, int* fields, int64_t* rows,
                   int* affected) {
  ExchangeLock lock(conn);
  send_with_params(conn, sql, params);
  ResultSet* head = nullptr;
  const int rc = recv_results(conn, &head);
  lock.release();
  *out = head;
  if (head) report_counts(head, fields, rows, affected);
  return rc;
}

}  // namespace

extern "C" int VMC_ExecuteQuery(VMC_Handle* conn_var, const char* sql, VMC_Handle* out, int* fields, int64_t* rows,
                                int* affected) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !sql || !out) return RC_INVALID_HANDLE;
  *out = nullptr;
  if (const int refused = refuse_rows_in_single_row(conn); refused != RC_SUCCESS) return refused;
  char* copy = strdup(sql);
  if (!copy) return RC_NO_MEMORY;
  ParamSet* params = conn->params;
  int rc;
  if (VMC_GetSqlKind(copy) == SQL_KIND_SELECT && conn->srvcursor_off == 0) {
    rc = execute_through_cursor(conn, copy, params, out, fields, rows, affected);
  } else {
    rc = execute_direct(conn, copy, params, out, fields, rows, affected);
  }
  std::free(copy);
  consume_params(conn, params);
  return rc;
}
