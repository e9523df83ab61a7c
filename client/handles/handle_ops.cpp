// Operations that work on a handle of any type.
#include "client/handles/handle.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/text/calendar.h"
#include "client/lob/lob.h"
#include "client/params/param_set.h"
#include "client/results/result_set.h"
#include "client/results/smart_result.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"

namespace {
constexpr size_t kExecInfoRowIdSize = 25;
constexpr size_t kDatetimeTextSize = 20;
}  // namespace

extern "C" void VMC_FreeHandle(VMC_Handle* handle) {
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::Conn:
      VMC_CloseConn(handle);
      break;
    case HandleType::ParamSet: {
      // Only a caller's own set is the caller's to free; a connection's
      // transient set belongs to the connection.
      ParamSet* set = static_cast<ParamSet*>(*handle);
      if (set->mode == static_cast<uint32_t>(ParamSetMode::CallerOwned)) {
        release_param_set(set);
        *handle = nullptr;
      }
      break;
    }
    case HandleType::LobObject:
      VMC_FreeLob(handle);
      break;
    case HandleType::ResultSet:
    case HandleType::SmartResult:
      VMC_FreeResult(handle);
      break;
    default:
      break;
  }
}

extern "C" int VMC_ResetHandle(VMC_Handle* handle) {
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::Conn:
    case HandleType::ParamSet:
      return VMC_ClearParams(handle);
    case HandleType::LobObject:
      VMC_ResetLob(handle);
      return RC_SUCCESS;
    default:
      return RC_SUCCESS;
  }
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

extern "C" int VMC_GetExecInfo(VMC_Handle* handle, int* kind, int* fields, int* rows, int* affected, char* row_id) {
  const ResultSet* result = nullptr;
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::ResultSet:
      result = static_cast<const ResultSet*>(*handle);
      break;
    case HandleType::SmartResult:
      result = static_cast<const SmartResult*>(*handle)->block;
      break;
    default:
      break;
  }
  if (!result) return RC_INVALID_HANDLE;
  if (kind) *kind = result->kind;
  switch (result->kind) {
    case SQL_KIND_INSERT:
      if (row_id) {
        std::memset(row_id, 0, kExecInfoRowIdSize);
        std::memcpy(row_id, result->row_id, strnlen(result->row_id, kExecInfoRowIdSize - 1));
      }
      if (affected) *affected = result->affected;
      break;
    case SQL_KIND_UPDATE:
    case SQL_KIND_DELETE:
      if (affected) *affected = result->affected;
      break;
    case SQL_KIND_SELECT:
      if (fields) *fields = result->field_count;
      if (rows) *rows = static_cast<int>(static_cast<uint32_t>(result->row_count));
      break;
    default:
      break;
  }
  return RC_SUCCESS;
}

extern "C" int VMC_GetTypeCode(VMC_Handle* conn_var, int* ctype) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn) return RC_INVALID_HANDLE;
  if (conn->server_type < 1) return RC_ERROR;
  if (ctype) *ctype = map_server_type(static_cast<uint32_t>(conn->server_type));
  return RC_SUCCESS;
}

extern "C" int VMC_FormatDatetime(int64_t ms, char* out) {
  if (!out) return RC_INVALID_HANDLE;
  DateTimeParts t{};
  ms_to_datetime(ms, &t);
  // Years beyond four digits would not fit the caller's 20 bytes.
  std::snprintf(out, kDatetimeTextSize, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return RC_SUCCESS;
}
