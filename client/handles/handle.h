// Recognising what a caller's handle variable names.
#ifndef RIZEZOVA_CLIENT_HANDLES_HANDLE_H
#define RIZEZOVA_CLIENT_HANDLES_HANDLE_H

#include <cstdint>

#include "client/connection/conn.h"

// The type of the object that *handle names; 0 when the address or the
// variable is null.
uint32_t handle_type_of(VMC_Handle* handle);
// The connection that *handle names, or null when it names none.
Conn* conn_of_handle(VMC_Handle* handle);

#endif
