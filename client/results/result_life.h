// Making, stepping through and freeing result records.
#ifndef RIZEZOVA_CLIENT_RESULTS_RESULT_LIFE_H
#define RIZEZOVA_CLIENT_RESULTS_RESULT_LIFE_H

#include <cstdint>

#include "client/results/result_set.h"
#include "client/vmc.h"

// A new zero-filled result of the given kind, or null.
ResultSet* new_result(int32_t kind);
// Frees this one record with its rows, descriptions and texts (not its next).
int free_result(ResultSet* result);
// Frees a whole chain.
void free_result_chain(ResultSet* head);
int free_field_descs(FieldDesc* fields, int32_t count);
// RC_SUCCESS a row is current; RC_NO_DATA no more rows; RC_ERROR not a result.
int result_next_row(ResultSet* result);

// The result that a handle stands for: a result set, or the current block of
// a server-cursor result; null for any other handle and for a server-cursor
// result without a block.
ResultSet** result_of_handle(VMC_Handle* handle);

#endif
