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
    conn_set_error(conn, text);
    return RC_ERROR;
  }
  if (params->batch_rows > kMaxBatchHalf || params->count > kMaxBatchHalf) {
    std::snprintf(text, sizeof text, "[EC065]Error ExecuteBatch with %d rows of %d params, at most %d of each \n",
                  params->batch_rows, params->count, kMaxBatchHalf);
    conn_set_error(conn, text);
    return RC_ERROR;
  }
  char* copy = strdup(sql);
  if (!copy) return RC_NO_MEMORY;

  ExchangeLock lock(conn);
  const uint32_t word = static_cast<uint32_t>(params->count) | (static_cast<uint32_t>(params->batch_rows) << 16);
  send_query(conn, copy, word);
  std::free(copy);
  if (params->count > 0) {
    if (params->batch_rows > 0) {
      // The request broke off: no reply will come for it.
      if (send_params_batch(conn, params) == RC_NO_MEMORY) return RC_NO_MEMORY;
    } else {
      // A set of one row bound as single values goes out as that row, which
      // is what a count word without rows announces.
      send_params(conn, params);
    }
  }
  send_flush(&conn->link);
  ResultSet* chain = nullptr;
  int rc = recv_results(conn, &chain);
  lock.release();
  if (returns_rows(chain)) {
    conn_set_error(conn, kNoSelect);
    rc = RC_ERROR;
  }
  free_result_chain(chain);
  return rc;
}
