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

// Queues row 0 and sends the blocks of the later rows of an array-bound set,
// then empties the set (count, capacity and batch_rows 0; mode and error text
// stay). A set without rows is left alone. The caller holds the lock, has
// queued the frame and flushes afterwards. RC_SUCCESS; RC_NO_MEMORY when the
// block buffer could not be had or grown, after which the request is
// incomplete.
int send_params_batch(Conn* conn, ParamSet* set);

#endif
