// Making, stepping through and freeing result records.
#ifndef RIZEZOVA_CLIENT_RESULTS_RESULT_LIFE_H
#define RIZEZOVA_CLIENT_RESULTS_RESULT_LIFE_H

#include <cstdint>

#include "client/results/result_set.h"
#include "client/results/smart_result.h"
#include "client/vmc.h"

// A new zero-filled result of the given kind, or null.
ResultSet* new_result(int32_t kind);
// Ties a result of rows to the connection it is read over: its conn, until
// the result is freed or the connection closes.
void tie_result(ResultSet* result, Conn* conn);
// Frees this one record with its rows, descriptions and texts (not its next),
// untying it from its connection.
int free_result(ResultSet* result);
// Frees a whole chain.
void free_result_chain(ResultSet* head);
// Whether the rows of any result of the chain ended at a server error.
bool chain_failed(const ResultSet* chain);
int free_field_descs(FieldDesc* fields, int32_t count);
// RC_SUCCESS a row is current; RC_NO_DATA no more rows; RC_ERROR not a result.
int result_next_row(ResultSet* result);

// A server-cursor result whose cursor is closed: no more rows, no name, no connection.
void mark_closed(SmartResult* smart);
// Frees a server-cursor result with its block chain and text, untying it
// from its connection.
void free_smart_result(SmartResult* smart);
// Ties a server-cursor result handed out to the connection it was read over.
void tie_smart_result(SmartResult* smart, Conn* conn);
// A closing connection detaches its live results: the server-cursor ones are
// closed without a word (their cursors died with the link), and no result
// refers to the connection any more. Their rows can still be read (but for
// LOB columns read with descriptors on, which answer RC_READ_FAILED), and
// freeing them talks to no one. A server-cursor result whose cursor still
// had rows is marked cut off: past the rows in hand it answers
// RC_READ_FAILED, not the end of its rows. A FETCH sent ahead stays
// unanswered: fetches_ahead still counts it.
void detach_conn_results(Conn* conn);

// The result that a handle stands for: a result set, or the current block of
// a server-cursor result; null for any other handle and for a server-cursor
// result without a block.
ResultSet** result_of_handle(VMC_Handle* handle);

#endif
