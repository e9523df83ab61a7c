// What the Node module reads of the library beyond the public interface:
// forms of stored values that the VMC_ calls only hand out as text or through
// a copy. Not part of the public interface; nothing outside this project's
// own module may rely on it.
#ifndef RIZEZOVA_CLIENT_VMC_INTERNAL_H
#define RIZEZOVA_CLIENT_VMC_INTERNAL_H

#include <stdint.h>

#include "client/vmc.h"

#ifdef __cplusplus
extern "C" {
#endif

// Whether freeing the result would talk to the server: 1 while it holds an
// open server cursor (VMC_FreeResult then sends a CLOSE and waits for the
// answer), else 0, also for a null handle or one that names no result.
int vmc_result_holds_cursor(VMC_Handle* result);
// Lets go of the result's server cursor without closing it; the cursor closes
// with its connection. The reply of a FETCH it sent ahead (see
// vmc_read_ahead) is read first, so that no later exchange takes it for its
// own. VMC_FreeResult then frees the result without talking. RC_SUCCESS (also
// for a result without a cursor); RC_INVALID_HANDLE when the handle names no
// result.
int vmc_forget_cursor(VMC_Handle* result);
// VMC_ExecuteValue, telling besides in *on_heap (when given) whether out holds
// a heap copy's length and address: 1 exactly when the library made one, else
// 0. The type code cannot tell it, as a server's own code may be
// VALUE_ON_HEAP or more.
int vmc_execute_value(VMC_Handle* conn, const char* sql, void* out, int* out_type, int* on_heap);
// vmc_execute_value for a statement whose reply may carry rows besides or
// instead of its count or row id: the same request, its reply read the same
// way, the same answer. When the reply carries result sets, *rows receives
// them (the first of a chain, read with VMC_Fetch and VMC_NextResult and
// freed with VMC_FreeResult) and no value of theirs goes to out; else *rows
// is null. A null rows drops them, as vmc_execute_value does.
// *out_kind (when given) says what out holds, which the answer cannot tell
// once the reply has run several statements (RC_SUCCESS_WITH_INFO, after a
// message or warning, is SQL_KIND_INSERT too): the kind of the item that
// wrote it last, SQL_KIND_INSERT for a row id, SQL_KIND_UPDATE or
// SQL_KIND_DELETE for a count, SQL_KIND_SELECT for the value of a result
// set; 0 when nothing was written there.
int vmc_execute_value_rows(VMC_Handle* conn, const char* sql, void* out, int* out_type, int* on_heap,
                           VMC_Handle* rows, int* out_kind);

// ---- Connection strings ----

// The longest values, in bytes, that an item of a connection string carries
// whole: a server address (IP, SERVER), and any other value, which passes
// through a buffer of VMC_CONN_VALUE_MAX + 1 bytes as it is read. Longer
// values are cut.
enum vmc_conn_value_max {
  VMC_CONN_ADDRESS_MAX = 31,
  VMC_CONN_VALUE_MAX = 63
};

// ---- Reading rows ----

// How a stored value of the current row lies, so that the module can make
// its script value without VMC_GetData: the same value VMC_GetData would give
// for the column's own client type, read where it is stored.
enum vmc_cell_form {
  VMC_CELL_GENERAL = 0,  // read it with VMC_GetData: NULL, or a type the view does not serve
  VMC_CELL_INT8,         // i: the integer of that width
  VMC_CELL_INT16,
  VMC_CELL_INT32,
  VMC_CELL_INT64,
  VMC_CELL_FLOAT,        // f: the float, widened
  VMC_CELL_DOUBLE,       // f
  VMC_CELL_DATE,         // i: days since 1970-01-01
  VMC_CELL_DATETIME,     // i: milliseconds since 1970-01-01 00:00:00
  VMC_CELL_CHARS,        // bytes, length: a value whose text is all of its bytes
  VMC_CELL_DIGITS,       // bytes, length: a value whose text is its bytes up to the
                         // first zero byte (none when it begins with one)
};

typedef struct vmc_cell {
  int32_t form;     // vmc_cell_form
  uint32_t length;  // of bytes; a zero byte follows them
  union {
    int64_t i;
    double f;
    const char* bytes;  // valid until the result steps to another row or block
  } v;
} vmc_cell;

// The stored values of the current row's columns 1 to count into cells[0]
// onwards; a column beyond the result's is VMC_CELL_GENERAL. RC_SUCCESS;
// RC_NO_ROW_OR_NULL without a current row (every cell VMC_CELL_GENERAL);
// RC_INVALID_HANDLE when the handle names no result or a server-cursor result
// without a block (every cell VMC_CELL_GENERAL when cells is given).
int vmc_row_cells(VMC_Handle* result, vmc_cell* cells, int count);

// How the result's LOB columns are held: 1 when its rows hold them as LOB_RET
// asks (a descriptor whose value VMC_GetData fetches over the connection, or
// the content inline), 0 when they hold the values themselves or the handle
// names no result. *conn (when given) receives the connection the rows were
// read over, whose error text tells why the server refused a fetch; null once
// that connection has closed.
int vmc_result_lobs(VMC_Handle* result, VMC_Handle* conn);

// With on set, a server-cursor result has the FETCH of its next block sent
// as soon as a full block is in hand, the block in hand included, so that
// the server makes the next block while the caller converts this one. Only
// for a caller that converts each block whole before it talks to the server
// again. With on clear, the reading ahead stops, and the reply of a FETCH
// already sent is read and kept for the step that needs it, so that nothing
// of the result is left on the link. RC_SUCCESS (nothing done for a result
// without a cursor); RC_INVALID_HANDLE when the handle names no result.
int vmc_read_ahead(VMC_Handle* result, int on);

#ifdef __cplusplus
}
#endif

#endif
