// The '?' command frame that carries every SQL text to the server, and the
// parameter records of one row of values that follow it.
#ifndef RIZEZOVA_CLIENT_REQUESTS_COMMAND_FRAME_H
#define RIZEZOVA_CLIENT_REQUESTS_COMMAND_FRAME_H

#include <cstdint>

#include "client/handles/conn.h"
#include "client/params/param_set.h"

// Queues '?', the text's length, the text with its terminating zero and the
// parameter-count word; does not flush. 0. Every request begins with it: a
// link with bytes waiting that no FETCH sent ahead accounts for is out of
// step with its replies, and is closed first (the request then fails on it).
int send_query(Conn* conn, const char* sql, uint32_t param_count);
// The frame with parameter count 0, flushed at once. 0.
int send_query_flush(Conn* conn, const char* sql);
// Queues one record per slot of a single-row set (return-value slots have
// none), then releases the set's copies unless the caller owns it. RC_SUCCESS;
// RC_ERROR when a piece of a binary LOB did not go out. A set bound by rows
// writes nothing: the executions of one row refuse it before its frame.
int send_params(Conn* conn, ParamSet* set);
// The wire type byte of a client type in the packed rows of a batch.
int ctype_to_wire_type(uint32_t ctype);

#endif
