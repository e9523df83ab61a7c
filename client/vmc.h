// The client library's public interface: plain functions on handles.
//
// Every function takes the address of the caller's handle variable; functions
// that make an object store it there, functions that free one set it to null.
// Every function returns an int result code (see ResultCode), named beside it;
// texts that a function hands out are copied without a terminator, so callers
// zero-fill their buffers first.
#ifndef RIZEZOVA_CLIENT_VMC_H
#define RIZEZOVA_CLIENT_VMC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Result codes of the VMC_ functions. RC_SUCCESS or a positive count means
// success; every failure is negative. Several names share a value where one
// number means different things to different calls.
enum ResultCode {
  RC_SUCCESS = 0,
  RC_SUCCESS_WITH_INFO = 1,   // a server message or warning came with the reply
  RC_RECONNECTED = 1,         // VMC_Reconnect: the link is open and logged in again
  RC_OPEN_OK = 2,             // VMC_OpenConn: connected and logged in
  RC_DIAG_CUT = 2,            // VMC_GetDiag: the message did not fit and was cut
  RC_NO_DATA = 100,           // no next row, no next result, no error text
  RC_PREPARED_ROWS = 19665,   // the prepared statement returns rows
  RC_ERROR = -1,              // the server refused (its text in VMC_GetError), or a rule of the call was broken
  RC_INVALID_HANDLE = -3,     // a handle of a type the call does not serve, or a required argument is null
  RC_READ_FAILED = -4,        // the link failed, or was closed because a reply could not be read to its end
  RC_NO_MEMORY = -5,
  RC_SOCKET_FAILED = -8,      // the socket could not be opened or connected
  RC_DIRECTION_UNSUPPORTED = -8,  // a parameter direction the binder does not take (EC056)
  RC_LOGIN_FAILED = -9,
  RC_NO_ROW_OR_NULL = -11,    // no current row, or the value is NULL
  RC_TRUNCATED = -12,         // the value was cut to the caller's buffer
  RC_NO_CONVERSION = -13,     // no conversion to the client type asked for
  RC_COLUMN_RANGE = -15,      // no such column
  RC_PIECE_OFFSET = -18,      // a piecewise read from beyond the value's end
  RC_PARAM_POSITION = -51,    // parameter position out of range (EC051)
  RC_PARAM_DIRECTION = -52,   // parameter direction not 1, 2, 3 or 6 (EC052)
  RC_ARRAY_NAME_BOUND = -53,  // the name is bound already, or a described set has no such name
  RC_PARAM_SEQUENCE = -54,    // parameter position below 1 (EC054)
  RC_PARAM_TOO_FAR = -55,     // parameter position too far beyond the bound ones (EC055)
  RC_OUTPUT_UNBOUND = -56,    // output values came with nothing bound for them (EC0056)
  RC_ARRAY_CTYPE = -58,       // a client type that cannot be bound as an array (EC058)
  RC_PARAMS_NO_VALUES = -59   // parameters without values (EC059), or output values without a slot (EC060)
};

// ---- Type codes ----

// Codes the server sends with field descriptions, output values and parameter
// descriptions. A code above ST_ARRAY_BASE marks an array of code - ST_ARRAY_BASE.
enum ServerType {
  ST_BOOLEAN = 2,            // one byte, 'T' or 'F'
  ST_INT8 = 3,
  ST_INT16 = 4,
  ST_INT32 = 5,
  ST_INT64 = 6,
  ST_NUMERIC = 7,            // decimal text
  ST_FLOAT = 8,
  ST_DOUBLE = 9,
  ST_DATE = 10,              // i32 days since 1970-01-01
  ST_TIME = 11,              // i32 milliseconds of the day
  ST_TIME_TZ = 12,           // 6 bytes: u32 ms, i16 zone minutes, big-endian
  ST_DATETIME = 13,          // i64 ms since 1970-01-01 00:00:00
  ST_DATETIME_TZ = 14,       // 10 bytes: i64 us, i16 zone minutes, big-endian
  ST_IV_YEAR = 15,           // intervals 15 to 23: one i32
  ST_IV_YEAR_MONTH = 16,     // months
  ST_IV_MONTH = 17,
  ST_IV_DAY = 18,
  ST_IV_DAY_HOUR = 19,       // hours
  ST_IV_HOUR = 20,
  ST_IV_DAY_MINUTE = 21,     // minutes
  ST_IV_HOUR_MINUTE = 22,    // minutes
  ST_IV_MINUTE = 23,
  ST_IV_DAY_SECOND = 24,     // intervals 24 to 27: i64 microseconds
  ST_IV_HOUR_SECOND = 25,
  ST_IV_MINUTE_SECOND = 26,
  ST_IV_SECOND = 27,
  ST_VARBYTES = 29,
  ST_CHAR = 30,
  ST_CLOB = 32,
  ST_BINARY = 33,
  ST_BLOB = 34,
  ST_VARBYTES_45 = 45,
  ST_LOB = 47,
  ST_VARBYTES_48 = 48,       // 48 to 60: variable bytes
  ST_VARBYTES_60 = 60,
  ST_LOB_64 = 64,
  ST_ARRAY_BASE = 10000,
};

// Codes with which callers bind parameters and ask for column values.
enum CType {
  CT_INT = 1,                // 32-bit integer when fetched, one byte when bound
  CT_TEXT = 2,
  CT_INT8 = 3,
  CT_INT16 = 4,
  CT_INT32 = 5,
  CT_INT64 = 6,
  CT_FLOAT = 7,
  CT_DOUBLE = 8,
  CT_NUMERIC = 9,            // the value's bytes
  CT_DATE = 10,              // 10 to 14: as text
  CT_TIME = 11,
  CT_TIME_TZ = 12,
  CT_DATETIME = 13,
  CT_DATETIME_TZ = 14,
  CT_BINARY = 15,
  CT_BINARY_PIECE = 18,      // binary bytes read piecewise from an offset
  CT_INTERVAL = 21,
  CT_DATETIME_MS = 23,       // datetime as i64 milliseconds
  CT_INTERVAL_MONTHS = 28,
  CT_INTERVAL_I64 = 31,
  CT_LOB = 40,
  CT_CLOB = 41,
  CT_BLOB = 42,
  CT_CLOB_43 = 43,
  CT_CLOB_44 = 44,
  CT_VARBYTES_45 = 45,       // 45 to 57: defaults of server types 48 to 60
  CT_VARBYTES_57 = 57,
  CT_BIND_58 = 58,
  CT_BIND_62 = 62,
  CT_BYTE = 63,
  CT_VARBYTES = 69,          // default of server type 29
  CT_MAX = 63,               // no conversion above this code
};

// A handle: the address of an object whose first 32 bits tell its type.
typedef void* VMC_Handle;

// ---- Handles, connections and reconnecting ----

struct IpsList;

// Opens a connection from a connection string into *conn: RC_OPEN_OK;
// RC_ERROR without a string (or without the memory for the record);
// RC_SOCKET_FAILED; RC_LOGIN_FAILED. The record stays in *conn after a
// failure (with its error text) and is freed with VMC_CloseConn.
int VMC_OpenConn(const char* conn_str, VMC_Handle* conn);
// Opens a connection on one address of the string's IPS list, trying the
// others when a socket cannot be opened. *ips is the caller's walk over the
// list, made when attempt is 1 or below (freed first when attempt is -1) and
// reused when it is above 1; freed with VMC_FreeIpsList. RC_SUCCESS
// connected; RC_INVALID_HANDLE without a string, an IPS item or a list to
// restart; RC_SOCKET_FAILED when no address was reached; RC_LOGIN_FAILED;
// RC_ERROR when memory ran out.
int VMC_OpenConnIps(const char* conn_str, int attempt, struct IpsList** ips, VMC_Handle* conn);
// Re-opens the link and logs in again with the record's settings:
// RC_RECONNECTED, RC_SOCKET_FAILED, RC_LOGIN_FAILED; RC_INVALID_HANDLE when
// the handle names no connection.
int VMC_Reconnect(VMC_Handle* conn);
// Closes the link and frees the record; *conn becomes null. Results read
// over it stay valid: their server cursors are gone with the link, and
// VMC_FreeResult frees them without talking. Their rows in hand stay
// readable, but for LOB columns read as descriptors (LOB_RET), which answer
// RC_READ_FAILED as nothing can fetch them any more. Past those rows VMC_Fetch
// answers RC_NO_DATA when every row had arrived, and RC_READ_FAILED when the
// server cursor still had rows: the result was cut short with the link.
// RC_SUCCESS; RC_ERROR when null; RC_INVALID_HANDLE when it names no
// connection.
int VMC_CloseConn(VMC_Handle* conn);
// Frees a caller's address list; *ips becomes null. RC_SUCCESS; RC_ERROR when null.
int VMC_FreeIpsList(struct IpsList** ips);

// ---- Error texts, diagnostics and handle-wide operations ----

// Copies the handle's error text (connection, result set or LOB) into buf
// without a terminator and stores its length; both stay untouched when there
// is none. RC_SUCCESS.
int VMC_GetError(VMC_Handle* handle, char* buf, int* len);
// Length of the handle's error text; 0 when there is none.
int VMC_GetErrorLength(VMC_Handle* handle);
// Splits the handle's error text into its code (6 bytes, a 5-character code
// followed by a zero byte) and its message (at most 255 characters, no
// terminator). RC_SUCCESS; RC_DIAG_CUT when the message was cut; RC_NO_DATA
// without a text; RC_NO_MEMORY. `reserved` is not read.
int VMC_GetDiag(VMC_Handle* handle, char* code, char* message, void* reserved);
// Frees the object by its type and sets *handle to null.
void VMC_FreeHandle(VMC_Handle* handle);
// Empties the parameters of a connection or parameter set (as
// VMC_ClearParams), or a LOB: RC_SUCCESS, or VMC_ClearParams' result.
int VMC_ResetHandle(VMC_Handle* handle);
// Frees a buffer that the library made; *buf becomes null.
void VMC_FreeBuffer(void** buf);
// Copies the connection's last row id with its terminator (at most 32 bytes)
// into buf: RC_SUCCESS; RC_INVALID_HANDLE for a null buffer or a handle that
// is no connection.
int VMC_GetRowId(VMC_Handle* conn, char* buf);
// What a result holds: its statement kind, then by kind the row id (kind 1,
// into a 25-byte buffer) and affected count (kinds 1 to 3), or the field and
// row counts (kind 4). RC_SUCCESS; RC_INVALID_HANDLE when the handle is no
// result.
int VMC_GetExecInfo(VMC_Handle* result, int* kind, int* fields, int* rows, int* affected, char* row_id);
// The client type of the connection's server type code: RC_SUCCESS; RC_ERROR
// while it has none; RC_INVALID_HANDLE when the handle names no connection.
int VMC_GetTypeCode(VMC_Handle* conn, int* ctype);
// "YYYY-MM-DD hh:mm:ss" of milliseconds since 1970-01-01 into 20 bytes:
// RC_SUCCESS; RC_INVALID_HANDLE for a null buffer.
int VMC_FormatDatetime(int64_t ms, char* out);

// ---- Connection and result attributes ----

// Attributes of a connection (VMC_GetAttr, VMC_SetAttr on a connection).
enum ConnAttr {
  ATTR_SERVER_VERSION = 1,   // text: the server's answer to "show version"
  ATTR_DATABASE = 2,         // text
  ATTR_FIXED_TWO = 3,        // int: always 2
  ATTR_ENCODING = 4,         // text: always "UTF-8"
  ATTR_CHAR_SET = 5,         // text
  ATTR_USE_SSL = 6,          // int
  ATTR_ADDRESSES = 7,        // text: "<count>:addr,addr,..." of the IPS list
  ATTR_TIME_ZONE = 8,        // text: always "GTM+8"
  ATTR_LOB_RET = 9,          // int
  ATTR_AUTO_COMMIT_OFF = 11, // int; set with the text "ON" or "TRUE" (else off)
  ATTR_SRVCURSOR_OFF = 12    // int; set with an int
};

// Attributes of a result (VMC_GetAttr on a result or server-cursor result).
enum ResultAttr {
  ATTR_FIELD_COUNT = 61,
  ATTR_ROW_COUNT = 62,       // 8-byte int
  ATTR_AFFECTED = 63,
  ATTR_HANDLE_TYPE = 64,     // 4 a result, 6 a server-cursor result
  ATTR_KIND = 65,            // SqlKind
  ATTR_HAS_NEXT = 66         // 1 when a next result follows (not on a server-cursor result)
};

// How VMC_GetAttr hands a value out, in *type.
enum AttrValueType {
  ATTR_TYPE_TEXT = 1,        // characters without a terminator; the length counts them
  ATTR_TYPE_INT = 2,         // a 32-bit int
  ATTR_TYPE_INT64 = 3        // a 64-bit int
};

// ---- LOB objects ----

// Every LOB call answers RC_INVALID_HANDLE for a handle that names no LOB
// object (VMC_ResetLob and VMC_FreeLob answer RC_SUCCESS for a null one).

// A new empty LOB object (handle type 5) in *lob: RC_SUCCESS; RC_NO_MEMORY.
int VMC_CreateLob(VMC_Handle* lob);
// Appends length bytes; length 0xFFFFFFFF marks the object complete instead.
// RC_SUCCESS; RC_NO_MEMORY (the bytes before the missing chunk stay);
// RC_ERROR when the value would pass 2^31 - 1 bytes.
int VMC_PutLobData(VMC_Handle* lob, const void* data, uint32_t length);
// Copies up to count bytes from the read position on; answers the bytes copied.
int VMC_GetLobData(VMC_Handle* lob, void* buf, uint32_t count);
// Moves the read position; answers it, or RC_ERROR (EC097, EC098) when it
// lies outside the value.
int VMC_SetLobReadPos(VMC_Handle* lob, uint32_t position);
// Empties the object: every chunk and text released, the handle kept. RC_SUCCESS.
int VMC_ResetLob(VMC_Handle* lob);
// Frees the object and sets *lob to null. RC_SUCCESS.
int VMC_FreeLob(VMC_Handle* lob);

// ---- Result accessors and result attributes ----
// A ResultSet handle is read directly, a SmartResult handle through its
// current block; other handles, and null arguments, answer RC_INVALID_HANDLE.
// Columns count from 1. Each call answers RC_SUCCESS unless it says otherwise.

// Column col of the current row as client type ctype into buf (bufsize bytes);
// *len receives the bytes written (in, for type 18: the offset to read from).
// RC_COLUMN_RANGE; RC_NO_ROW_OR_NULL; RC_NO_CONVERSION; RC_TRUNCATED (*len:
// the bytes left over); RC_PIECE_OFFSET; for a LOB type also RC_NO_MEMORY.
int VMC_GetData(VMC_Handle* handle, int col, int ctype, void* buf, int bufsize, int* len);
// The column's default client type; RC_COLUMN_RANGE.
int VMC_GetColType(VMC_Handle* handle, int col, int* ctype);
// The column's length as the server describes it; RC_COLUMN_RANGE.
int VMC_GetColLen(VMC_Handle* handle, int col, int* length);
// The column's alias, or its name, copied without a terminator into a
// zero-filled buffer of 128 bytes (at most 127 characters); RC_ERROR out of range.
int VMC_GetColName(VMC_Handle* handle, int col, char* name);
// The number of the first column whose alias (or name) equals name in any
// letter case; 0 when none does.
int VMC_GetColIndex(VMC_Handle* handle, const char* name);
int VMC_GetFieldCount(VMC_Handle* handle, uint32_t* count);
// The low 32 bits of the row count.
int VMC_GetRowCount(VMC_Handle* handle, uint32_t* count);
// Table, column and alias into three 128-byte buffers (zero-filled here, at
// most 127 characters each) and the client type, length and third attribute;
// RC_ERROR out of range.
int VMC_DescribeCol(VMC_Handle* handle, int col, char* table, char* column, char* alias, int* ctype,
                    int* length, int* attr);
// Attribute id of a handle: a ConnAttr on a connection, a ResultAttr on a
// result. *type receives an AttrValueType, *length the bytes written.
// Connection: RC_SUCCESS (the server version: the reply's status);
// RC_INVALID_HANDLE for an unknown id (EC0103) or the address list of a
// connection without one. Result: RC_INVALID_HANDLE for an unknown id (EC0105,
// EC0106) or a null value. Parameter sets and LOBs: RC_SUCCESS, nothing written.
int VMC_GetAttr(VMC_Handle* handle, int id, void* value, int size, int* type, int* length);
// Changes connection attribute ATTR_AUTO_COMMIT_OFF or ATTR_SRVCURSOR_OFF:
// RC_SUCCESS; RC_ERROR for any other id (EC0104) or a null value. Other
// handles are left alone (RC_SUCCESS).
int VMC_SetAttr(VMC_Handle* handle, int id, void* value, int length);

// ---- Parameter sets and binding ----

// Parameter directions. Input values are copied at once; for the others the
// caller keeps value and length alive until the execution has finished, since
// output values are written through them.
enum ParamDirection {
  PARAM_IN = 1,
  PARAM_OUT = 2,
  PARAM_INOUT = 3,
  PARAM_RETURN_VALUE = 6
};

// Each call answers RC_INVALID_HANDLE for a null or wrong handle and
// RC_NO_MEMORY when memory runs out. A binding failure's text goes to the
// connection, or to the parameter set bound into.

// A new caller-owned parameter set (handle type 2) in *params: RC_SUCCESS.
int VMC_AllocParams(VMC_Handle* params);
// Connection: drops its current set (a caller-owned one is only detached).
// Parameter set: releases its values; the set stays usable. RC_SUCCESS.
int VMC_ClearParams(VMC_Handle* handle);
// Attaches a caller-owned set to the connection for the next execution: RC_SUCCESS.
int VMC_SetParams(VMC_Handle* conn, VMC_Handle* params);
// Binds the next slot under a name (in a set described by PREPARE, the slot
// of that name); `reserved` is not read. RC_SUCCESS; RC_PARAM_DIRECTION
// (EC052); RC_ERROR for a name the described set does not hold (EC053) and
// for a single value in a set bound by rows (EC062).
int VMC_BindParamByName(VMC_Handle* handle, const char* name, int direction, int ctype, void* value,
                        int buf_size, int* reserved, int* length);
// Binds the slot at a 1-based position: RC_SUCCESS; RC_PARAM_POSITION (EC051,
// beyond 4000); RC_PARAM_DIRECTION (EC052); RC_PARAM_SEQUENCE (EC054, below
// 1); RC_PARAM_TOO_FAR (EC055); RC_ERROR for a single value in a set bound by
// rows (EC062).
int VMC_BindParam(VMC_Handle* handle, int position, int direction, int ctype, void* value,
                  int buf_size, int* length);

// ---- Array parameter binding ----
// Every row of one input parameter at once, for VMC_ExecuteBatch. `values`
// holds the rows' elements one after another: 1 byte for client types 1, 3
// and 63, 2 for 4, 4 for 5 and 7, 8 for 6, 8 and 23; for 2 and 62 a u32 n,
// then n bytes; for 9, 10, 11 and 13 the row's length in bytes; for 15 a u32,
// then the row's length in bytes. `lengths` holds the rows' lengths (0 or
// more): the bytes of each element that are sent. Values of types 10, 11 and
// 13 (and 15 bound by name) stay in the caller's buffer until the execution;
// the others are copied. `declared` is the statement's parameter count; the
// first bind into an empty set lays it out for that many slots and `rows`
// rows, and every later bind must give the same rows. A declared count of 0
// makes a set of one row (rows 1), bound as single values are. Other
// directions than 1 store nothing.

// Binds the slot at a 1-based position: RC_SUCCESS; RC_INVALID_HANDLE (no
// set or connection, null values or lengths); RC_PARAM_POSITION (EC051: the
// position or declared count out of range, or a position beyond the declared
// count); RC_PARAM_DIRECTION (EC052); RC_PARAM_SEQUENCE (EC054, position
// below 1); RC_DIRECTION_UNSUPPORTED (directions 2 and 3); RC_ARRAY_CTYPE
// (EC058: client types 12, 14, 28, 31 and those without an element size
// above); RC_ERROR (EC062: rows that do not match the set's; EC063: a row
// length below 0 or beyond its element or buffer); RC_NO_MEMORY.
int VMC_BindParamArray(VMC_Handle* handle, int position, int declared, int direction, int ctype, int rows,
                       void* values, int buf_size, int* lengths);
// Binds the next free slot under a name, or the slot a PREPARE described under
// it: RC_SUCCESS; RC_ARRAY_NAME_BOUND (no text) when the name is bound
// already or the described set holds no such name; RC_PARAM_POSITION (EC051)
// beyond the declared count or past 127 names; else as VMC_BindParamArray.
int VMC_BindParamArrayByName(VMC_Handle* handle, const char* name, int declared, int direction, int ctype,
                             int rows, void* values, int buf_size, int* lengths);

// ---- Statement kinds ----

// Statement kinds by the first word of a SQL text; also the kind of a result.
enum SqlKind {
  SQL_KIND_INSERT = 1,  // INSERT, MERGE, REPLACE
  SQL_KIND_UPDATE = 2,
  SQL_KIND_DELETE = 3,
  SQL_KIND_SELECT = 4,
  SQL_KIND_CREATE = 5,
  SQL_KIND_ALTER = 6,
  SQL_KIND_OTHER = 9,
  SQL_KIND_EXEC = 10
};

// Classifies a NUL-terminated SQL text without talking to the server.
int VMC_GetSqlKind(const char* sql);

// ---- Direct execution ----
// One statement as one exchange with the server, sent with the connection's
// current parameters. A set made by binding on the connection lives for one
// execution; a caller's own set is detached and can be attached again. A set
// bound by rows goes only with VMC_ExecuteBatch: these calls, VMC_Execute,
// VMC_Execute2, VMC_ExecuteQuery and VMC_DeclareCursor refuse it with
// RC_ERROR (EC062) before sending anything, and take it as an execution does.
// RC_INVALID_HANDLE when the handle names no connection or the text is null.
//
// Every call that reads a reply (these and those below) answers RC_ERROR once
// the reply carried a server error, whatever followed it, with that error's
// text in VMC_GetError (messages and warnings behind it are printed but do
// not replace it). An error among the rows of a result set is that result's:
// a call that hands the result out keeps its answer and the rows before the
// error, past which VMC_Fetch answers RC_ERROR (and no later block is
// fetched); a call that hands no rows out answers RC_ERROR. A reply that
// cannot be followed to its end (a letter no reader knows, a length that
// cannot be held) closes the link and is answered RC_READ_FAILED, as a reply
// cut short is.

// A statement without rows (result sets its reply carries all the same are
// read and dropped): the affected-row count of the reply, the number of row
// ids it carried, RC_SUCCESS, RC_SUCCESS_WITH_INFO (a message or
// warning came), RC_ERROR (server error, text in VMC_GetError),
// RC_OUTPUT_UNBOUND (the server sent output values nothing was bound for),
// RC_READ_FAILED, RC_NO_MEMORY.
int VMC_ExecuteNoQuery(VMC_Handle* conn, const char* sql);
// The answer area of VMC_ExecuteValue: its size, and what the call adds to
// the server type in *out_type when the area holds, instead of the text, a
// u32 length and the address of a heap copy. Only numeric, character and
// binary values (ST_NUMERIC, ST_CHAR, ST_VARBYTES_45, ST_CLOB, ST_BINARY,
// ST_BLOB, ST_LOB, ST_LOB_64) too long for the area go to the heap.
enum ValueArea {
  VALUE_AREA_SIZE = 64,
  VALUE_ON_HEAP = 100
};

// A statement whose first value is wanted; out holds VALUE_AREA_SIZE bytes,
// zero-filled by the caller. RC_SUCCESS: the first column of the first row as
// text, its server type in *out_type (plus VALUE_ON_HEAP when out holds
// instead a u32 length and the address of a heap copy that the caller frees
// with VMC_FreeBuffer).
// SQL_KIND_INSERT: a row id text (RC_SUCCESS_WITH_INFO, of the same value:
// or a message or warning came); SQL_KIND_UPDATE / SQL_KIND_DELETE: the
// updated / deleted row count as a 32-bit int in the first 4 bytes. RC_ERROR,
// RC_READ_FAILED, RC_NO_MEMORY as above.
int VMC_ExecuteValue(VMC_Handle* conn, const char* sql, void* out, int* out_type);
// A statement with output parameters or a return value (the last slot, with
// direction 6): the values land in the bound buffers, cut to their buffer
// sizes (RC_TRUNCATED) with the full length in the length variables. A result
// set that ends the reply goes to *result (freed by the caller); it is left
// alone otherwise. RC_PARAMS_NO_VALUES when values came for slots not bound
// (EC060), RC_OUTPUT_UNBOUND when nothing at all was bound, RC_NO_CONVERSION
// for a date or time value that is not 4 bytes (EC061); else as above.
int VMC_ExecuteWithOutput(VMC_Handle* conn, const char* sql, VMC_Handle* result);

// ---- Prepared statements and batches ----
// Each connection has one default prepared statement; others are prepared
// under names that the library writes into the caller's buffer. Statements
// and server cursors are named from one counter of the connection ("STC%d").
// Server refusals leave the server's text in VMC_GetError.

struct ResultSet;

// Prepares the default statement, deallocating the one before it. The
// statement's parameter description becomes the connection's current set,
// into which VMC_BindParamByName binds by name. RC_PREPARED_ROWS when the
// statement returns rows, RC_SUCCESS when it does not; RC_ERROR (server
// error), RC_READ_FAILED, RC_NO_MEMORY, or the failure of deallocating the
// previous default statement; RC_INVALID_HANDLE.
int VMC_Prepare(VMC_Handle* conn, const char* sql);
// With a name buffer (at least 15 bytes): prepares a further statement under
// the new name written there, leaving the default statement as it was. Else as
// VMC_Prepare.
int VMC_Prepare2(VMC_Handle* conn, const char* sql, char* name);
// Executes the default statement with the bound values; *out receives the
// reply's results (freed when out is null). The status of the reply
// (RC_SUCCESS or above on success, RC_ERROR, RC_READ_FAILED, RC_NO_MEMORY),
// or RC_ERROR (EC023) without a default statement.
int VMC_Execute(VMC_Handle* conn, struct ResultSet** out);
// Executes statement `name`: directly, or, with a cursor buffer (at least 57
// bytes), by declaring and opening the cursor "name_CUR" over it, written into
// the buffer; *out receives the declaration's results. A refused execution or
// declaration leaves "sql:<sent text> errinfo: <server text>" and hands
// nothing out. Both names null: VMC_Execute. RC_PARAMS_NO_VALUES (EC059)
// when the statement's described parameters were not bound; RC_ERROR (EC064)
// for a name too long for its command; RC_INVALID_HANDLE for a cursor buffer
// without a statement name.
int VMC_Execute2(VMC_Handle* conn, const char* name, char* cursor, struct ResultSet** out);
// Deallocates statement `name`, or the default statement when name is null:
// RC_SUCCESS, RC_ERROR (server refusal; EC064 for a name too long),
// RC_READ_FAILED.
int VMC_UnPrepare(VMC_Handle* conn, const char* name);
// Runs sql once for every row of the values bound with the array binders, in
// one exchange; the set is emptied and stays attached (a set that PREPARE
// described is released). rows must be the rows bound. The status of the
// reply, or RC_ERROR: EC025 nothing bound, EC057 rows other than those bound,
// EC065 more than 65535 rows or parameters, EC026 the statement returned rows.
// RC_NO_MEMORY when the memory to pack the rows could not be had (nothing is
// sent). A batch refused before sending takes its set as an execution does:
// a set the connection made is released, a caller's own set detached.
int VMC_ExecuteBatch(VMC_Handle* conn, const char* sql, int rows);

// ---- Server cursors and stepping through results ----

// Runs any statement with the connection's bound values. A SELECT goes
// through a server cursor (unless the connection string turned them off) and
// *out receives a server-cursor result holding the first block of up to
// 20000 rows; any other statement is read whole and *out receives the first
// result of the reply (or null). fields, rows and affected receive the counts
// of that block or result. Answers the last reply's status (RC_SUCCESS or
// above on success), RC_ERROR, RC_READ_FAILED or RC_NO_MEMORY;
// RC_INVALID_HANDLE.
int VMC_ExecuteQuery(VMC_Handle* conn, const char* sql, VMC_Handle* out, int* fields, int64_t* rows,
                     int* affected);
// Makes the next row current, fetching the next block from the server when a
// full block is used up: RC_SUCCESS a row, RC_NO_DATA no more rows, RC_ERROR
// the next block could not be had or the server refused to close the cursor,
// or the rows ended at a server error (its text is then the connection's
// error text again), RC_READ_FAILED the link failed, RC_NO_MEMORY;
// RC_INVALID_HANDLE not a result.
int VMC_Fetch(VMC_Handle* result);
// Moves the handle on to the next result of the reply and releases the
// current one: RC_SUCCESS, or RC_NO_DATA when there is none (or the failure of
// closing the server cursor of the current one).
int VMC_NextResult(VMC_Handle* result);
// Releases a result (closing its server cursor first, unless its connection
// was closed) and the results of the reply behind it; *result becomes null. RC_SUCCESS; RC_ERROR, with the handle
// kept, when the server refused to close the cursor; RC_READ_FAILED, the result
// released, when the link failed.
int VMC_FreeResult(VMC_Handle* result);
// Closes a server cursor by name: RC_SUCCESS, RC_ERROR refused (EC027),
// RC_READ_FAILED, RC_NO_MEMORY.
int VMC_CloseCursor(VMC_Handle* conn, const char* cursor);
// Declares and opens a cursor of the caller's naming for sql with the bound
// values; *out receives the declaration's result and *fields its field count.
// RC_SUCCESS, or the failure of the declaration (the cursor is then not
// opened) or of opening the cursor.
int VMC_DeclareCursor(VMC_Handle* conn, const char* sql, const char* cursor, struct ResultSet** out,
                      int* fields);
// Fetches *count rows of a named cursor into *out: the reply's status (the
// rows of its last result set modulo 20000), RC_ERROR when the server refused
// (its text in VMC_GetError; *out may hold what the reply carried besides),
// RC_READ_FAILED, RC_NO_MEMORY.
int VMC_FetchCursor(VMC_Handle* conn, const char* cursor, struct ResultSet** out, int* fields, int64_t* rows,
                    const int* count);
// Fetches 20000 rows of a named cursor into one result: the reply's status (the
// rows read). A short answer marks the connection's cursor exhausted (RC_ERROR
// from then on).
int VMC_FetchCursorInto(VMC_Handle* conn, const char* cursor, struct ResultSet** res);
// Runs a command text, reading its reply into one result that replaces *res
// (null when the reply holds no result set; counts and row ids are read and
// dropped): the reply's status.
int VMC_ExecuteToResult(VMC_Handle* conn, const char* cmd, struct ResultSet** res);


#ifdef __cplusplus
}
#endif

#endif
