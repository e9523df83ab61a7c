// Attributes by number: a connection's (read back and changed) and a
// result's (read back), through one pair of calls for any handle.
#include <cstdint>
#include <cstring>

#include "client/connection/conn_attr.h"
#include "client/handles/conn.h"
#include "client/handles/handle.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/text/heap_text.h"
#include "client/vmc.h"

namespace {

void set_result_error(ResultSet* result, const char* text) { replace_text(&result->error_text, text); }

template <typename T>
void put_attr(void* value, int* type, int* length, T v) {
  std::memcpy(value, &v, sizeof v);
  if (type) *type = sizeof v == sizeof(int64_t) ? ATTR_TYPE_INT64 : ATTR_TYPE_INT;
  if (length) *length = sizeof v;
}

int get_result_attr(ResultSet* result, bool smart, int id, void* value, int* type, int* length) {
  if (!result) return RC_INVALID_HANDLE;
  switch (id) {
    case ATTR_FIELD_COUNT: put_attr(value, type, length, int32_t{result->field_count}); return RC_SUCCESS;
    case ATTR_ROW_COUNT: put_attr(value, type, length, int64_t{result->row_count}); return RC_SUCCESS;
    case ATTR_AFFECTED: put_attr(value, type, length, int32_t{result->affected}); return RC_SUCCESS;
    case ATTR_HANDLE_TYPE: put_attr(value, type, length, int32_t{smart ? 6 : 4}); return RC_SUCCESS;
    case ATTR_KIND: put_attr(value, type, length, int32_t{result->kind}); return RC_SUCCESS;
    case ATTR_HAS_NEXT:
      if (smart) break;
      put_attr(value, type, length, int32_t{result->next ? 1 : 0});
      return RC_SUCCESS;
    default:
      break;
  }
  set_result_error(result, smart ? "[EC0106]smart result attribute type get error,unknown attribute type\n"
                                 : "[EC0105]result attribute type get error,unknown attribute type\n");
  return RC_INVALID_HANDLE;
}

}  // namespace

extern "C" {

int VMC_GetAttr(VMC_Handle* handle, int id, void* value, int size, int* type, int* length) {
  switch (handle_type_of(handle)) {
    case static_cast<uint32_t>(HandleType::Conn):
      return get_conn_attr(static_cast<Conn*>(*handle), id, value, size, type, length);
    case static_cast<uint32_t>(HandleType::ResultSet):
      if (!value) return RC_INVALID_HANDLE;
      return get_result_attr(*reinterpret_cast<ResultSet**>(handle), false, id, value, type, length);
    case static_cast<uint32_t>(HandleType::SmartResult): {
      ResultSet** block = result_of_handle(handle);
      if (!value || !block) return RC_INVALID_HANDLE;
      return get_result_attr(*block, true, id, value, type, length);
    }
    case static_cast<uint32_t>(HandleType::ParamSet):
    case static_cast<uint32_t>(HandleType::LobObject):
      return RC_SUCCESS;
    default:
      return RC_INVALID_HANDLE;
  }
}

int VMC_SetAttr(VMC_Handle* handle, int id, void* value, int length) {
  if (handle_type_of(handle) == static_cast<uint32_t>(HandleType::Conn))
    return set_conn_attr(static_cast<Conn*>(*handle), id, value, length) == RC_SUCCESS ? RC_SUCCESS : RC_ERROR;
  return RC_SUCCESS;
}

}  // extern "C"
