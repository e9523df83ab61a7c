// The bound values that a single-row execution can send.
#include "client/execute/row_values.h"

#include "client/params/param_array.h"
#include "client/params/param_set.h"
#include "client/requests/exchange.h"
#include "client/vmc.h"

int refuse_rows_in_single_row(Conn* conn) {
  ParamSet* params = conn->params;
  if (!params || params->batch_rows <= 0) return RC_SUCCESS;
  const int rc = refuse_single_into_array(conn, params);
  consume_params(conn, params);
  return rc;
}
