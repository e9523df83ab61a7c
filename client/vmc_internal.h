// What the Node module reads of the library beyond the public interface:
// forms of stored values that the VMC_ calls only hand out as text or through
// a copy. Not part of the public interface; nothing outside this project's
// own module may rely on it.
#ifndef RIZEZOVA_CLIENT_VMC_INTERNAL_H
#define RIZEZOVA_CLIENT_VMC_INTERNAL_H

#include "client/vmc.h"

#ifdef __cplusplus
extern "C" {
#endif

// Whether freeing the result would talk to the server: 1 while it holds an
// open server cursor (VMC_FreeResult then sends a CLOSE and waits for the
// answer), else 0, also for a null handle or one that names no result.
int vmc_result_holds_cursor(VMC_Handle* result);
// Lets go of the result's server cursor without closing it; the cursor closes
// with its connection. VMC_FreeResult then frees the result without talking.
// RC_SUCCESS (also for a result without a cursor); RC_INVALID_HANDLE when the
// handle names no result.
int vmc_forget_cursor(VMC_Handle* result);
// VMC_ExecuteValue, telling besides in *on_heap (when given) whether out holds
// a heap copy's length and address: 1 exactly when the library made one, else
// 0. The type code cannot tell it, as a server's own code may be
// VALUE_ON_HEAP or more.
int vmc_execute_value(VMC_Handle* conn, const char* sql, void* out, int* out_type, int* on_heap);

#ifdef __cplusplus
}
#endif

#endif
