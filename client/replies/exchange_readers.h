// The readers of the replies to statements run without a server cursor: the
// items after a '?' command up to the reply's 'K'. Each runs inside an
// exchange whose caller holds the connection's lock; none takes a lock.
#ifndef RIZEZOVA_CLIENT_REPLIES_EXCHANGE_READERS_H
#define RIZEZOVA_CLIENT_REPLIES_EXCHANGE_READERS_H

#include <cstdint>

#include "client/vmc.h"

struct Conn;
struct ParamSet;
struct ResultSet;

// Room that recv_query_value's `out` must have.
constexpr int kQueryValueSize = VALUE_AREA_SIZE;
// Added to the server type in *out_type when the value went to a heap copy
// whose u32 length and address `out` holds.
constexpr int kQueryValueOnHeap = VALUE_ON_HEAP;

// A reply read for its counts: result sets and other items it carries are
// read whole and dropped. Answers the count of the last 'D' or 'U' item,
// the number of 'I' items when the reply ends right after one (the last row id
// is in the connection's row_id), RC_SUCCESS_WITH_INFO after a message or
// warning, RC_ERROR when the reply carried an error text (among the rows of
// a result set too), RC_OUTPUT_UNBOUND when the reply carried output values,
// RC_READ_FAILED when the link failed. Every reader here closes the link when
// a reply cannot be read to its end (a letter it cannot follow, memory
// running out), and answers RC_READ_FAILED.
int recv_noQuery(Conn* conn);

// A reply whose first value is wanted: the first column of the first row of its
// result set as text in out (and its server type in *out_type), the row id of
// an 'I' item as text, or the count of a 'D' or 'U' item as an i32 in the first
// 4 bytes of out. Output values ('O', 'P') are read and dropped. Answers
// RC_SUCCESS after a result set or an output value, SQL_KIND_INSERT after an
// 'I' item (RC_SUCCESS_WITH_INFO, the same value, after a message or warning),
// SQL_KIND_UPDATE after 'U', SQL_KIND_DELETE after 'D', RC_ERROR when the
// reply carried an error text, RC_READ_FAILED when the link failed.
// out holds kQueryValueSize bytes; a long value goes to a heap copy that the
// caller frees (see kQueryValueOnHeap). *on_heap (when given) is 1 exactly
// when out holds such a copy, else 0: the type alone cannot tell, as a
// server's own type code may be kQueryValueOnHeap or more.
// With `kept`, the reply's result sets are kept: when the reply read to its
// 'K' carried any, *kept receives them in their order (a chain that the
// caller frees) and no value of theirs goes to out; else *kept is null. The
// reply is read, printed and answered the same either way.
// *out_kind (when given) tells what out holds when the reply has been read:
// the kind of the item that wrote it last (SQL_KIND_INSERT a row id,
// SQL_KIND_UPDATE or SQL_KIND_DELETE a count, SQL_KIND_SELECT the value of a
// result set), 0 when nothing did.
int recv_query_value(Conn* conn, void* out, int* out_type, int* on_heap = nullptr, ResultSet** kept = nullptr,
                     int* out_kind = nullptr);

// A reply to a statement with output parameters or a return value: each value
// is written into the connection's current parameter set, which must be present
// for them. A result set followed directly by 'K' is handed out through *out
// (the caller frees it); any other is released, and counts and row ids are
// read and dropped. Answers the status of the last
// item (the rows of the last batch of a result set, RC_ERROR after an error
// text, RC_SUCCESS_WITH_INFO after a message or warning, RC_TRUNCATED when a
// value was cut to its buffer, RC_PARAMS_NO_VALUES when a value had no slot to
// go to, RC_NO_CONVERSION when a date or time value was not 4 bytes long),
// RC_ERROR when the reply carried an error text, RC_READ_FAILED when the link
// failed.
int recv_noQuery_OP(Conn* conn, ResultSet** out);

// The parameter description that follows PREPARE: names, positions, server
// types and sizes into set, whose earlier tables are released. RC_SUCCESS;
// RC_READ_FAILED when the link failed (the set then holds the parameters read
// so far); RC_NO_MEMORY when memory ran out.
int recv_param_descs(Conn* conn, ParamSet* set);

#endif
