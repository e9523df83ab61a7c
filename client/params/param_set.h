// Parameter sets: the values of one statement execution, bound by 1-based
// position or by name, either into a caller's own set or into the connection's
// transient set that the next execution consumes.
#ifndef RIZEZOVA_CLIENT_PARAMS_PARAM_SET_H
#define RIZEZOVA_CLIENT_PARAMS_PARAM_SET_H

#include <cstdint>

#include "client/handles/conn.h"

enum class ParamSetMode : uint32_t {
  Transient = 0,    // made by a bind on a connection, consumed by the next execution
  CallerOwned = 1,  // VMC_AllocParams
  Described = 2,    // described by the server after PREPARE
};

// Slots are laid out and grown in steps of this many.
constexpr int kParamSlotStep = 128;
// Highest 1-based position a bind accepts.
constexpr int kMaxParamPosition = 4000;
// positions[] of a slot bound by name.
constexpr uint32_t kParamPositionByName = 0xFFFFFFFFu;

struct ParamSet {
  uint32_t handle_type;  // HandleType::ParamSet
  int32_t count;         // slots in use
  int32_t capacity;      // slots the per-slot tables hold
  int32_t batch_rows;    // rows of an array binding; 0 for a single row
  void*** values;        // values[row][slot]: one row table per row
  uint32_t* ctypes;      // client type per slot (server type while only described)
  uint32_t* buf_sizes;
  int32_t** lengths;     // per slot: one i32 (single row) or one per row (array)
  char** names;          // per slot name, or a null table when bound by position
  uint32_t* positions;
  uint32_t* directions;  // ParamDirection per slot; 0 while the slot is unbound
  char* error_text;      // last binding failure on this set
  uint32_t has_copies;   // 1 once a direction-1 value was copied in
  uint32_t mode;         // ParamSetMode
};

// Directions 1, 2, 3 and 6.
bool valid_direction(int direction);

// Resolves the handle that a binding call was given: a connection binds into
// its `params` (made transient first when there is none) and keeps failure
// texts itself; a parameter set binds into itself. Null for any other handle
// (or when the transient set cannot be made); *conn_out is the connection or
// null.
ParamSet* param_bind_target(void** handle, Conn** conn_out);
// Leaves a binding failure text where it belongs: the connection's error text
// when conn is set, else the set's.
void param_bind_fail(Conn* conn, ParamSet* set, const char* text);

// The inner binders. Both answer RC_SUCCESS; RC_NO_MEMORY when memory ran out.
// bind_param_by_name: RC_ARRAY_NAME_BOUND when a described set holds no such
// name.
int bind_param_by_name(ParamSet* set, const char* name, int direction, int ctype, void* value,
                       int buf_size, int* unused, int* length);
// bind_param_by_pos: RC_PARAM_TOO_FAR when the position lies too far beyond the
// tables, RC_DIRECTION_UNSUPPORTED for a direction other than 1, 2, 3 or 6,
// RC_PARAM_SEQUENCE for a position below 1.
int bind_param_by_pos(ParamSet* set, int position, int direction, int ctype, void* value,
                      int buf_size, int* length);

// Releases the copies of the input slots. When no slot is an output slot the
// tables go too and the set is empty; otherwise the tables and the output slots
// stay for the reader of the output values.
void free_param_copies(ParamSet* set);
// Releases the tables of a set (one row table per row), not what their
// entries point to; count and capacity become 0.
void release_param_tables(ParamSet* set);
// Releases every copy, name and table; the set record itself stays.
void free_params(ParamSet* set);
// free_params, then the set's error text and the record.
void release_param_set(ParamSet* set);

// Of a set laid out for rows: releases what a slot holds from an earlier
// bind (its value copies and length table), leaving it unbound.
void clear_array_slot(ParamSet* set, int slot);
// Releases the value copies, length tables, names and tables of a set laid
// out for rows; count, capacity and batch_rows become 0.
void free_array_params(ParamSet* set);

#endif
