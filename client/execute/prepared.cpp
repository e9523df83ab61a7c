// Statements prepared on the server under a name and executed by that name.
#include "client/execute/prepared.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/execute/cursors.h"
#include "client/execute/row_values.h"
#include "client/handles/handle.h"
#include "client/params/param_set.h"
#include "client/replies/command_replies.h"
#include "client/replies/exchange_readers.h"
#include "client/replies/results_reader.h"
#include "client/requests/command_frame.h"
#include "client/requests/exchange.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/vmc.h"
#include "link/wire_io.h"

namespace {

constexpr size_t kMessageSize = 200;
constexpr char kCursorSuffix[] = "CUR";
// Room of the caller's buffers: a statement name ("STC" and up to ten digits)
// and a cursor name over a statement.
constexpr size_t kStatementNameRoom = 15;
constexpr size_t kCursorNameRoom = 57;

constexpr const char* kNoDefault =
    "[EC023]Error Execute without a default prepare ,or you can VMC_Execute2 with a prepare_name value\n";
constexpr const char* kNoValues =
    "[EC059]Error params need values-bind, here params without bindparams-byname or bindparams-bypos  \n";

// Formats a command into a fixed buffer. A name that makes it longer than the
// buffer is refused: false, with a text on the connection.
bool format_fixed(Conn* conn, char* buf, size_t size, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
bool format_fixed(Conn* conn, char* buf, size_t size, const char* fmt, ...) {
  std::memset(buf, 0, size);
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(buf, size, fmt, args);
  va_end(args);
  if (n >= 0 && static_cast<size_t>(n) < size) return true;
  char text[kMessageSize] = {};
  std::snprintf(text, sizeof text, "[EC064]Error name too long for its command: %.60s", buf);
  conn_set_error(conn, text);
  return false;
}

// A failed execution by name: the server's text is kept behind the text that was sent.
void wrap_error(Conn* conn, const char* sent) {
  if (!conn->error_text) return;
  char text[kMessageSize] = {};
  // A long combination is cut to the buffer.
  if (std::snprintf(text, sizeof text, "sql:%s errinfo: %s \n", sent, conn->error_text) < 0) return;
  conn_set_error(conn, text);
}

// The chain goes to a caller that takes it, and the reply's code with it: a
// result whose rows ended at a server error answers for itself when read.
// A caller that takes none hears of such an error from the code.
int hand_out(ResultSet* chain, ResultSet** out, int rc) {
  if (out) {
    *out = chain;
    return rc;
  }
  if (rc >= 0 && chain_failed(chain)) rc = RC_ERROR;
  free_result_chain(chain);
  return rc;
}

// Sends a text with the bound values, which go with it, and reads the reply
// into a chain. A refusal is wrapped with the text when `wrap` is set.
int run_with_values(Conn* conn, const char* text, ResultSet** chain, bool wrap) {
  ParamSet* params = conn->params;
  send_with_params(conn, text, params);
  // The values have gone, whatever the reply: a set described by PREPARE
  // would otherwise stay behind empty and refuse the next binds by name.
  consume_params(conn, params);
  *chain = nullptr;
  const int rc = recv_results(conn, chain);
  if (rc < 0 && wrap) wrap_error(conn, text);
  return rc;
}

// A PREPARE item that replaces the connection's current set releases it,
// unless it is the caller's own.
void replace_params(Conn* conn, ParamSet* described) {
  if (conn->params && conn->params->mode != static_cast<uint32_t>(ParamSetMode::CallerOwned)) {
    release_param_set(conn->params);
  }
  conn->params = described;
}

int read_field_item(Conn* conn) {
  ResultSet* desc = new_result(0);
  if (!desc) return RC_NO_MEMORY;
  if (recv_field_descs(conn, desc) != RC_SUCCESS) {
    free_result(desc);
    return RC_READ_FAILED;
  }
  free_result(conn->prepare_desc);
  conn->prepare_desc = desc;
  return RC_SUCCESS;
}

int read_param_item(Conn* conn) {
  auto* described = static_cast<ParamSet*>(alloc_zeroed(sizeof(ParamSet)));
  if (!described) return RC_NO_MEMORY;
  described->handle_type = static_cast<uint32_t>(HandleType::ParamSet);
  described->mode = static_cast<uint32_t>(ParamSetMode::Described);
  const int rc = recv_param_descs(conn, described);
  if (rc != RC_SUCCESS) {
    release_param_set(described);
    return rc;
  }
  replace_params(conn, described);
  return RC_SUCCESS;
}

int execute_through_cursor(Conn* conn, const char* name, char* cursor, ResultSet** out) {
  char cursor_name[kCursorNameRoom];
  char declare[256];
  char open[64];
  if (!format_fixed(conn, cursor_name, sizeof cursor_name, "%s_%s", name, kCursorSuffix) ||
      !format_fixed(conn, declare, sizeof declare, "DECLARE  %s CURSOR FOR %s ", cursor_name, name) ||
      !format_fixed(conn, open, sizeof open, "OPEN %s ;", cursor_name)) {
    return RC_ERROR;
  }
  std::memcpy(cursor, cursor_name, std::strlen(cursor_name) + 1);

  ExchangeLock lock(conn);
  ResultSet* chain = nullptr;
  const int rc = run_with_values(conn, declare, &chain, true);
  if (rc < 0) {
    lock.release();
    free_result_chain(chain);
    return rc;
  }
  clear_cursor_exhausted(conn, cursor_name);  // declared anew: its rows are to come
  const int opened = run_short_command(conn, open);
  lock.release();
  if (opened != RC_SUCCESS) {
    free_result_chain(chain);
    return opened;
  }
  return hand_out(chain, out, rc);
}

int execute_by_name(Conn* conn, const char* name, ResultSet** out) {
  char text[256];
  if (!format_fixed(conn, text, sizeof text, "? %s ", name)) return RC_ERROR;
  ExchangeLock lock(conn);
  ResultSet* chain = nullptr;
  const int rc = run_with_values(conn, text, &chain, true);
  lock.release();
  return hand_out(chain, rc < 0 ? nullptr : out, rc);
}

// A set that PREPARE described but that was never bound.
bool described_without_values(const ParamSet* params) {
  return params && params->mode == static_cast<uint32_t>(ParamSetMode::Described) && params->count > 0 &&
         !params->values;
}

}  // namespace

int prepare_statement(Conn* conn, const char* sql, const char* name) {
  char* text = format_command("PREPARE %s AS %s", name, sql);
  if (!text) return RC_NO_MEMORY;
  ExchangeLock lock(conn);
  send_query_flush(conn, text);
  std::free(text);
  bool prepared = false;
  const int status = recv_prepare_reply(conn, {read_field_item, read_param_item}, &prepared);
  if (prepared) conn->prepare_pending = 1;
  return status;
}

int deallocate_prepared(Conn* conn, const char* name) {
  char text[128];
  if (!format_fixed(conn, text, sizeof text, "DEALLOCATE %s ", name)) return RC_ERROR;
  ExchangeLock lock(conn);
  const int rc = run_short_command(conn, text);
  if (rc != RC_READ_FAILED) conn->prepare_pending = 0;
  return rc;
}

void release_pending_prepare(Conn* conn) {
  if (!conn->prepare_pending) return;
  // Without a link there is nothing on the server to release.
  if (conn->link.sock != 0 && conn->lock) deallocate_prepared(conn, conn->prepare_name);
  conn->prepare_pending = 0;
}

int VMC_Prepare(VMC_Handle* conn_var, const char* sql) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !sql) return RC_INVALID_HANDLE;
  if (conn->prepare_pending) {
    const int rc = deallocate_prepared(conn, conn->prepare_name);
    if (rc < 0) return rc;
  }
  std::snprintf(conn->prepare_name, sizeof conn->prepare_name, "STC%u", conn->stc_counter++);
  return prepare_statement(conn, sql, conn->prepare_name);
}

int VMC_Prepare2(VMC_Handle* conn_var, const char* sql, char* name) {
  if (!name) return VMC_Prepare(conn_var, sql);
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !sql) return RC_INVALID_HANDLE;
  const int32_t pending = conn->prepare_pending;
  std::snprintf(name, kStatementNameRoom, "STC%u", conn->stc_counter++);
  const int rc = prepare_statement(conn, sql, name);
  conn->prepare_pending = pending;
  return rc;
}

int VMC_Execute(VMC_Handle* conn_var, ResultSet** out) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn) return RC_INVALID_HANDLE;
  if (!conn->prepare_pending) {
    conn_set_error(conn, kNoDefault);
    return RC_ERROR;
  }
  if (const int refused = refuse_rows_in_single_row(conn); refused != RC_SUCCESS) return refused;
  char text[128];
  std::snprintf(text, sizeof text, "? %s ", conn->prepare_name);
  ExchangeLock lock(conn);
  ResultSet* chain = nullptr;
  const int rc = run_with_values(conn, text, &chain, false);
  lock.release();
  return hand_out(chain, out, rc);
}

int VMC_Execute2(VMC_Handle* conn_var, const char* name, char* cursor, ResultSet** out) {
  if (!name && !cursor) return VMC_Execute(conn_var, out);
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !name) return RC_INVALID_HANDLE;
  if (described_without_values(conn->params)) {
    conn_set_error(conn, kNoValues);
    return RC_PARAMS_NO_VALUES;
  }
  if (const int refused = refuse_rows_in_single_row(conn); refused != RC_SUCCESS) return refused;
  return cursor ? execute_through_cursor(conn, name, cursor, out) : execute_by_name(conn, name, out);
}

int VMC_UnPrepare(VMC_Handle* conn_var, const char* name) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn) return RC_INVALID_HANDLE;
  if (name) {
    // A named statement is its owner's: the default one stays as it was.
    const int32_t pending = conn->prepare_pending;
    const int rc = deallocate_prepared(conn, name);
    conn->prepare_pending = pending;
    return rc;
  }
  const int rc = deallocate_prepared(conn, conn->prepare_name);
  conn->prepare_pending = 0;
  return rc;
}
