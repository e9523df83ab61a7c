// The VMC_ functions that make, attach, empty and bind parameter sets.
#include <cstdio>

#include "client/handles/conn.h"
#include "client/handles/handle.h"
#include "client/params/param_array.h"
#include "client/params/param_set.h"
#include "client/results/result_life.h"
#include "client/vmc.h"

int VMC_AllocParams(VMC_Handle* params) {
  if (!params) return RC_INVALID_HANDLE;
  ParamSet* set = static_cast<ParamSet*>(alloc_zeroed(sizeof(ParamSet)));
  if (!set) return RC_NO_MEMORY;
  set->handle_type = static_cast<uint32_t>(HandleType::ParamSet);
  set->mode = static_cast<uint32_t>(ParamSetMode::CallerOwned);
  *params = set;
  return RC_SUCCESS;
}

int VMC_ClearParams(VMC_Handle* handle) {
  if (!handle || !*handle) return RC_INVALID_HANDLE;
  const uint32_t type = *static_cast<uint32_t*>(*handle);
  if (type == static_cast<uint32_t>(HandleType::ParamSet)) {
    free_param_copies(static_cast<ParamSet*>(*handle));
    return RC_SUCCESS;
  }
  if (type != static_cast<uint32_t>(HandleType::Conn)) return RC_INVALID_HANDLE;
  Conn* conn = static_cast<Conn*>(*handle);
  if (conn->params && conn->params->mode != static_cast<uint32_t>(ParamSetMode::CallerOwned)) {
    release_param_set(conn->params);
  }
  conn->params = nullptr;
  free_result(conn->prepare_desc);
  conn->prepare_desc = nullptr;
  return RC_SUCCESS;
}

int VMC_SetParams(VMC_Handle* conn_handle, VMC_Handle* params) {
  if (!conn_handle || !*conn_handle || !params || !*params) return RC_INVALID_HANDLE;
  if (*static_cast<uint32_t*>(*conn_handle) != static_cast<uint32_t>(HandleType::Conn) ||
      *static_cast<uint32_t*>(*params) != static_cast<uint32_t>(HandleType::ParamSet)) {
    return RC_INVALID_HANDLE;
  }
  Conn* conn = static_cast<Conn*>(*conn_handle);
  ParamSet* set = static_cast<ParamSet*>(*params);
  if (conn->params && conn->params != set &&
      conn->params->mode != static_cast<uint32_t>(ParamSetMode::CallerOwned)) {
    release_param_set(conn->params);
  }
  conn->params = set;
  return RC_SUCCESS;
}

int VMC_BindParamByName(VMC_Handle* handle, const char* name, int direction, int ctype, void* value,
                        int buf_size, int* reserved, int* length) {
  if (!name) return RC_INVALID_HANDLE;
  Conn* conn;
  ParamSet* set = param_bind_target(handle, &conn);
  if (!set) return RC_INVALID_HANDLE;
  if (set->batch_rows > 0) return refuse_single_into_array(conn, set);
  char text[80] = {};
  if (!valid_direction(direction)) {
    std::snprintf(text, sizeof text, "[EC052]Error invalis param type %d", direction);
    param_bind_fail(conn, set, text);
    return RC_PARAM_DIRECTION;
  }
  const int rc = bind_param_by_name(set, name, direction, ctype, value, buf_size, reserved, length);
  if (rc >= 0) return rc;
  // Running out of memory is no fault of the name.
  if (rc == RC_NO_MEMORY) return rc;
  if (conn) {
    char named[100] = {};
    std::snprintf(named, sizeof named, "[EC053]Error invalid  param_name :%s out  of prepared ", name);
    conn_set_error(conn, named);
  }
  return RC_ERROR;
}

int VMC_BindParam(VMC_Handle* handle, int position, int direction, int ctype, void* value, int buf_size,
                  int* length) {
  Conn* conn;
  ParamSet* set = param_bind_target(handle, &conn);
  if (!set) return RC_INVALID_HANDLE;
  if (set->batch_rows > 0) return refuse_single_into_array(conn, set);
  char text[80] = {};
  if (position > kMaxParamPosition) {
    std::snprintf(text, sizeof text, "[EC051]Error invalid param NO %d out of range paramnum", position);
    param_bind_fail(conn, set, text);
    return RC_PARAM_POSITION;
  }
  if (!valid_direction(direction)) {
    std::snprintf(text, sizeof text, "[EC052]Error invalid param type %d", direction);
    param_bind_fail(conn, set, text);
    return RC_PARAM_DIRECTION;
  }
  if (position < 1) {
    std::snprintf(text, sizeof text, "[EC054]Error param_no  param seq %d invalid", position);
    param_bind_fail(conn, set, text);
    return RC_PARAM_SEQUENCE;
  }
  const int rc = bind_param_by_pos(set, position, direction, ctype, value, buf_size, length);
  if (rc == RC_PARAM_TOO_FAR) {
    std::snprintf(text, sizeof text, "[EC055]Error bindparam jump long %d invalid", rc);
    param_bind_fail(conn, set, text);
  } else if (rc == RC_DIRECTION_UNSUPPORTED) {
    std::snprintf(text, sizeof text, "[EC056]Error bindparam unsurpported ret %d invalid", rc);
    param_bind_fail(conn, set, text);
  }
  return rc;
}
