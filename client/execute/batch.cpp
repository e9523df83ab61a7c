// Batch execution: one statement run for every row of array-bound values in
// one request/reply exchange.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/handles/handle.h"
#include "client/params/param_set.h"
#include "client/replies/results_reader.h"
#include "client/requests/batch_blocks.h"
#include "client/requests/command_frame.h"
#include "client/requests/exchange.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/vmc.h"
#include "link/wire_io.h"

namespace {

constexpr size_t kMessageSize = 200;
// The count word holds the parameters in its low and the rows in its high 16 bits.
constexpr int32_t kMaxBatchHalf = 0xFFFF;

constexpr const char* kNoParams = "[EC025]Error ExecuteBatch without  bindparams  \n";
constexpr const char* kNoSelect = "[EC026]Error ExecuteBatch can't surpport a select_sql  \n";

bool returns_rows(const ResultSet* chain) {
  for (; chain; chain = chain->next) {
    if (chain->kind == SQL_KIND_SELECT) return true;
  }
  return false;
}

// A batch that is refused, or that cannot be packed, takes its values as a
// sent one would: left attached, they would meet the next statement, which
// cannot send rows. A caller's own set is only detached, its values intact.
int refuse(Conn* conn, ParamSet* params, const char* text, int rc) {
  if (text) conn_set_error(conn, text);
  consume_params(conn, params);
  return rc;
}

}  // namespace

int VMC_ExecuteBatch(VMC_Handle* conn_var, const char* sql, int rows) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn || !sql) return RC_INVALID_HANDLE;
  ParamSet* params = conn->params;
  char text[kMessageSize] = {};
  if (!params) {
    conn_set_error(conn, kNoParams);
    return RC_ERROR;
  }
  if (params->batch_rows != rows) {
    std::snprintf(text, sizeof text,
                  "[EC057]Error ExecuteBatch with paramsbind arraysize %d  does not match ArrayCount %d \n",
                  params->batch_rows, rows);
    return refuse(conn, params, text, RC_ERROR);
  }
  if (params->batch_rows > kMaxBatchHalf || params->count > kMaxBatchHalf) {
    std::snprintf(text, sizeof text, "[EC065]Error ExecuteBatch with %d rows of %d params, at most %d of each \n",
                  params->batch_rows, params->count, kMaxBatchHalf);
    return refuse(conn, params, text, RC_ERROR);
  }
  char* copy = strdup(sql);
  if (!copy) return refuse(conn, params, nullptr, RC_NO_MEMORY);

  ExchangeLock lock(conn);
  int rc = RC_SUCCESS;
  if (params->batch_rows > 0) {
    rc = send_batch(conn, copy, params);
  } else {
    // A set of one row bound as single values goes out as that row, which is
    // what a count word without rows announces.
    send_query(conn, copy, static_cast<uint32_t>(params->count));
    if (params->count > 0) send_params(conn, params);
  }
  std::free(copy);
  if (rc != RC_SUCCESS) {
    lock.release();
    return refuse(conn, params, nullptr, rc);
  }
  send_flush(&conn->link);
  ResultSet* chain = nullptr;
  rc = recv_results(conn, &chain);
  lock.release();
  if (returns_rows(chain)) {
    conn_set_error(conn, kNoSelect);
    rc = RC_ERROR;
  }
  free_result_chain(chain);
  // A set that PREPARE described served that statement; emptied, it would
  // refuse every later bind by name. Other sets stay attached, emptied.
  if (params->mode == static_cast<uint32_t>(ParamSetMode::Described)) consume_params(conn, params);
  return rc;
}
