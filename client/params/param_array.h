// Array binding: every row of one parameter handed over at once, for a batch
// execution that sends many rows of values in one request.
//
// The caller's buffer holds the R elements of one parameter one after another
// (see element_rule in array_elements.h) and a table of R row lengths says how
// many bytes of each element are sent. The set then holds one value pointer
// per slot and row (values[row][slot]) and one table of R lengths per slot.
#ifndef RIZEZOVA_CLIENT_PARAMS_PARAM_ARRAY_H
#define RIZEZOVA_CLIENT_PARAMS_PARAM_ARRAY_H

#include <cstdint>

#include "client/handles/conn.h"
#include "client/params/param_set.h"

// Names an array-bound set holds at the most.
constexpr int kMaxArrayNames = 127;

// The inner binders. Failure texts go to conn's error text when conn is set,
// else to the set's. Both answer 0 (also for directions other than 1, which
// store nothing); RC_ARRAY_CTYPE for a client type without an array layout
// (EC058); RC_PARAM_POSITION for a declared count or a slot the set cannot hold
// (EC051); RC_ERROR when the rows do not match the rows the set is laid out for
// or a value does not fit its element or buffer; RC_INVALID_HANDLE for a null
// value buffer or length table. bind_array_by_pos: RC_DIRECTION_UNSUPPORTED for
// directions 2 and 3; the codes of the single-value binder when the set holds
// one row.
int bind_array_by_pos(Conn* conn, ParamSet* set, int position, int declared, int direction, int ctype,
                      int rows, void* values, int buf_size, int* lengths);
// bind_array_by_name: RC_ARRAY_NAME_BOUND when the name is bound already, or
// when a set described by the server holds no such name.
int bind_array_by_name(Conn* conn, ParamSet* set, const char* name, int declared, int direction, int ctype,
                       int rows, void* values, int buf_size, int* lengths);

// The refusal of a single value bound into a set laid out for rows: RC_ERROR.
int refuse_single_into_array(Conn* conn, ParamSet* set);

#endif
