// Recognising what a caller's handle variable names.
#ifndef RIZEZOVA_CLIENT_HANDLES_HANDLE_H
#define RIZEZOVA_CLIENT_HANDLES_HANDLE_H

#include <cstdint>

#include "client/vmc.h"

struct Conn;

// The first 32 bits of every object a handle can name.
enum class HandleType : uint32_t {
  Conn = 1,
  ParamSet = 2,
  // 3 is not used
  ResultSet = 4,
  LobObject = 5,
  SmartResult = 6,
};

// What handle_type_of answers for a null address or variable.
constexpr uint32_t kNoHandleType = 0;

// The type of the object that *handle names; kNoHandleType when the address
// or the variable is null.
uint32_t handle_type_of(VMC_Handle* handle);
// The connection that *handle names, or null when it names none.
Conn* conn_of_handle(VMC_Handle* handle);

#endif
