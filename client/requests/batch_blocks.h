// The values of a batch: many rows of one statement's parameters in one
// request, behind the '?' frame whose count word carries the rows in its high
// half. Row 0 goes out as parameter records; every later row is packed into
// blocks of about half a megabyte, each sent as its length and its bytes.
#ifndef RIZEZOVA_CLIENT_REQUESTS_BATCH_BLOCKS_H
#define RIZEZOVA_CLIENT_REQUESTS_BATCH_BLOCKS_H

#include <cstdint>

#include "client/handles/conn.h"
#include "client/params/param_set.h"

// Room of the block buffer at the start; a row larger than that grows it.
constexpr uint32_t kBatchBlockSize = 512000;
// A finished row that leaves more than the room less this in the buffer sends
// it.
constexpr uint32_t kBatchBlockSlack = 64000;

// Queues the '?' frame of sql with the batch count word (the set's count in
// the low, its rows in the high 16 bits), row 0 of an array-bound set (rows
// above 0) and the blocks of its later rows, then empties the set (count,
// capacity and batch_rows 0; mode and error text stay). The caller holds the
// lock and flushes afterwards. RC_SUCCESS; RC_NO_MEMORY when the memory to
// pack the rows could not be had, with nothing queued or sent and the set as
// it was.
int send_batch(Conn* conn, const char* sql, ParamSet* set);

#endif
