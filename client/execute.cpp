// Direct execution: one statement, one request/reply exchange under the
// connection's lock, without a server cursor.
#include <cstdlib>
#include <cstring>

#include "client/command_frame.h"
#include "client/conn.h"
#include "client/handle.h"
#include "client/param_set.h"
#include "client/reply_readers.h"
#include "client/result_set.h"
#include "client/vmc.h"
#include "link/wire_io.h"
#include "platform/lock.h"

namespace {

// The connection a caller's handle variable names, ready for an exchange.
Conn* exchange_conn(VMC_Handle* handle) {
  Conn* conn = conn_of_handle(handle);
  // A record whose open never made the lock has no link to talk over.
  return conn && conn->lock ? conn : nullptr;
}

// Sends the statement with the connection's current parameters and reads the
// reply with `read`. The set is consumed: a transient one is released, a
// caller-owned one only detached; either way the next statement starts without.
template <typename Read>
int run_consuming_params(Conn* conn, const char* sql, Read read) {
  char* text = strdup(sql ? sql : "");
  if (!text) return RC_NO_MEMORY;
  ParamSet* set = conn->params;
  lock_take(conn->lock);
  if (set) {
    send_query(conn, text, static_cast<uint32_t>(set->count));
    send_params(conn, set);
    if (set->mode != static_cast<uint32_t>(ParamSetMode::CallerOwned)) release_param_set(set);
    conn->params = nullptr;
  } else {
    send_query(conn, text, 0);
  }
  // A link that broke while sending shows as the reader's read failure.
  send_flush(conn);
  const int rc = read(conn);
  lock_release(conn->lock);
  std::free(text);
  return rc;
}

}  // namespace

int VMC_ExecuteNoQuery(VMC_Handle* conn_var, const char* sql) {
  Conn* conn = exchange_conn(conn_var);
  if (!conn) return RC_INVALID_HANDLE;
  return run_consuming_params(conn, sql, [](Conn* c) { return recv_noQuery(c); });
}

int VMC_ExecuteValue(VMC_Handle* conn_var, const char* sql, void* out, int* out_type) {
  Conn* conn = exchange_conn(conn_var);
  if (!conn) return RC_INVALID_HANDLE;
  return run_consuming_params(conn, sql, [out, out_type](Conn* c) { return recv_query_value(c, out, out_type); });
}

int VMC_ExecuteWithOutput(VMC_Handle* conn_var, const char* sql, VMC_Handle* out) {
  Conn* conn = exchange_conn(conn_var);
  if (!conn) return RC_INVALID_HANDLE;
  char* text = strdup(sql ? sql : "");
  if (!text) return RC_NO_MEMORY;
  ParamSet* set = conn->params;
  ResultSet* result = nullptr;
  int rc;
  lock_take(conn->lock);
  if (!set) {
    send_query(conn, text, 0);
    send_flush(conn);
    rc = recv_noQuery(conn);
  } else {
    const uint32_t had_copies = set->has_copies;
    set->has_copies = 1;
    // The return value has no record and is not counted: the server answers
    // it with the 'O' item that lands in that last slot.
    int32_t count = set->count > 0 ? set->count : 0;
    if (count > 0 && set->directions &&
        set->directions[count - 1] == static_cast<uint32_t>(ParamDirection::ReturnValue)) {
      --count;
    }
    send_query(conn, text, static_cast<uint32_t>(count));
    send_params(conn, set);
    send_flush(conn);
    rc = recv_noQuery_OP(conn, &result);
    // The output slots have been written; a set that is not the caller's is
    // emptied for the next statement and stays attached.
    if (set->mode != static_cast<uint32_t>(ParamSetMode::CallerOwned) && set->count > 0) free_params(set);
    set->has_copies = had_copies;
  }
  lock_release(conn->lock);
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
