// Operations that work on a handle of any type.
#include "client/handle.h"

#include <cstdlib>
#include <cstring>

#include "client/vmc.h"

extern "C" void VMC_FreeHandle(VMC_Handle* handle) {
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::Conn:
      VMC_CloseConn(handle);
      break;
    default:
      break;
  }
}

extern "C" int VMC_ResetHandle(VMC_Handle* handle) {
  (void)handle;
  return RC_SUCCESS;
}

extern "C" void VMC_FreeBuffer(void** buf) {
  if (!buf || !*buf) return;
  std::free(*buf);
  *buf = nullptr;
}

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
