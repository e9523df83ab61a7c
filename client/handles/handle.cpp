// Recognising what a caller's handle variable names.
#include "client/handles/handle.h"

#include "client/handles/conn.h"

uint32_t handle_type_of(VMC_Handle* handle) {
  if (!handle || !*handle) return kNoHandleType;
  return *static_cast<const uint32_t*>(*handle);
}

Conn* conn_of_handle(VMC_Handle* handle) {
  if (handle_type_of(handle) != static_cast<uint32_t>(HandleType::Conn)) return nullptr;
  return static_cast<Conn*>(*handle);
}
