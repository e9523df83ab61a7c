// Operations that work on a handle of any type.
#include "client/handles/handle.h"

#include <cstdlib>

#include "client/params/param_set.h"
#include "client/vmc.h"

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

