// What a connection tells its caller besides its attributes: the row id of
// its last insert and the client type of its server type code.
#include <cstring>

#include "client/handles/conn.h"
#include "client/handles/handle.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"

extern "C" int VMC_GetRowId(VMC_Handle* conn_var, char* buf) {
  if (!buf) return RC_INVALID_HANDLE;
  Conn* conn = conn_of_handle(conn_var);
  if (!conn) return RC_INVALID_HANDLE;
  // Only the text and its terminator are written: the caller's buffer may be
  // no larger than that.
  size_t n = strnlen(conn->row_id, sizeof conn->row_id - 1);
  std::memcpy(buf, conn->row_id, n);
  buf[n] = '\0';
  return RC_SUCCESS;
}

extern "C" int VMC_GetTypeCode(VMC_Handle* conn_var, int* ctype) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn) return RC_INVALID_HANDLE;
  if (conn->server_type < 1) return RC_ERROR;
  if (ctype) *ctype = map_server_type(static_cast<uint32_t>(conn->server_type));
  return RC_SUCCESS;
}
