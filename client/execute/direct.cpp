// Direct execution: one statement, one request/reply exchange under the
// connection's lock, without a server cursor.
#include <cstdlib>
#include <cstring>

#include "client/execute/row_values.h"
#include "client/handles/conn.h"
#include "client/handles/handle.h"
#include "client/params/param_set.h"
#include "client/replies/exchange_readers.h"
#include "client/requests/command_frame.h"
#include "client/requests/exchange.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/vmc.h"
#include "client/vmc_internal.h"
#include "link/wire_io.h"

namespace {

// Sends the statement with the connection's current parameters, which go with
// it, and reads the reply with `read`.
template <typename Read>
int run_consuming_params(VMC_Handle* conn_var, const char* sql, Read read) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !sql) return RC_INVALID_HANDLE;
  if (const int refused = refuse_rows_in_single_row(conn); refused != RC_SUCCESS) return refused;
  char* text = strdup(sql);
  if (!text) return RC_NO_MEMORY;
  ParamSet* params = conn->params;
  ExchangeLock lock(conn);
  // A link that broke while sending shows as the reader's read failure.
  send_with_params(conn, text, params);
  consume_params(conn, params);
  const int rc = read(conn);
  lock.release();
  std::free(text);
  return rc;
}

// The count word of a statement with output values: a last slot for the
// return value has no record and is not counted, the server answers it with
// the 'O' item that lands there.
uint32_t output_count_word(const ParamSet* params) {
  int32_t count = params->count > 0 ? params->count : 0;
  if (count > 0 && params->directions &&
      params->directions[count - 1] == PARAM_RETURN_VALUE) {
    --count;
  }
  return static_cast<uint32_t>(count);
}

}  // namespace

int VMC_ExecuteNoQuery(VMC_Handle* conn_var, const char* sql) {
  return run_consuming_params(conn_var, sql, [](Conn* c) { return recv_noQuery(c); });
}

int VMC_ExecuteValue(VMC_Handle* conn_var, const char* sql, void* out, int* out_type) {
  return vmc_execute_value(conn_var, sql, out, out_type, nullptr);
}

int vmc_execute_value(VMC_Handle* conn_var, const char* sql, void* out, int* out_type, int* on_heap) {
  return vmc_execute_value_rows(conn_var, sql, out, out_type, on_heap, nullptr, nullptr);
}

int vmc_execute_value_rows(VMC_Handle* conn_var, const char* sql, void* out, int* out_type, int* on_heap,
                           VMC_Handle* rows, int* out_kind) {
  if (on_heap) *on_heap = 0;
  if (rows) *rows = nullptr;
  if (out_kind) *out_kind = 0;
  auto* kept = reinterpret_cast<ResultSet**>(rows);
  return run_consuming_params(conn_var, sql, [out, out_type, on_heap, kept, out_kind](Conn* c) {
    return recv_query_value(c, out, out_type, on_heap, kept, out_kind);
  });
}

int VMC_ExecuteWithOutput(VMC_Handle* conn_var, const char* sql, VMC_Handle* out) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !sql) return RC_INVALID_HANDLE;
  if (const int refused = refuse_rows_in_single_row(conn); refused != RC_SUCCESS) return refused;
  char* text = strdup(sql);
  if (!text) return RC_NO_MEMORY;
  ParamSet* params = conn->params;
  ResultSet* result = nullptr;
  int rc;
  ExchangeLock lock(conn);
  if (!params) {
    send_with_params(conn, text, nullptr);
    rc = recv_noQuery(conn);
  } else {
    const uint32_t had_copies = params->has_copies;
    params->has_copies = 1;
    send_query(conn, text, output_count_word(params));
    send_params(conn, params);
    send_flush(&conn->link);
    rc = recv_noQuery_OP(conn, &result);
    // The output slots have been written; a set that is not the caller's is
    // emptied for the next statement and stays attached.
    if (params->mode != static_cast<uint32_t>(ParamSetMode::CallerOwned) && params->count > 0) free_params(params);
    params->has_copies = had_copies;
  }
  lock.release();
  std::free(text);
  if (result) {
    if (out) {
      *out = result;
    } else {
      free_result(result);
    }
  }
  return rc;
}
