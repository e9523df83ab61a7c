// The result-set item 'A' of a reply: its field descriptions and its rows,
// read into a result or read whole and dropped.
#ifndef RIZEZOVA_CLIENT_REPLIES_RESULT_ITEM_H
#define RIZEZOVA_CLIENT_REPLIES_RESULT_ITEM_H

#include <cstdint>

#include "client/replies/reply_step.h"

struct Conn;
struct ResultSet;
struct FieldDesc;

// The field descriptions of an 'A' item and the row layout they give:
// RC_SUCCESS; RC_READ_FAILED when the count cannot be read or exceeds 4000;
// RC_ERROR when a description fails.
int recv_field_descs(Conn* conn, ResultSet* result);
// One description: RC_SUCCESS; RC_READ_FAILED the name length unreadable;
// RC_NO_MEMORY no memory; RC_ERROR a later read failed.
int recv_field_desc(Conn* conn, FieldDesc* field);

// Rows of an 'A' item into the result, at most `limit` of them (0: no limit);
// answers the number of rows read in this call, with the reason the rows
// stopped in *status: RC_SUCCESS the limit or the end of rows, RC_READ_FAILED a
// read failure, RC_NO_MEMORY no memory.
int recv_rows(Conn* conn, ResultSet* result, int64_t limit, int* status);

// How the rows of an 'A' item are read, and the status the item then gives.
enum class RowsIn : uint8_t {
  Blocks,   // all of them, nothing sent between; the rows modulo 20000
  All,      // all of them; their number
  Batches,  // 200 at a time, with one '.' after a full first batch that the
            // reply's end does not follow; the rows of the last batch
  None,     // descriptions only; 0
};
// The payload of an 'A' item into result, or with a null result read whole
// and dropped. Step::next with the item's status; Step::Ended when a full
// first batch was followed by the reply's 'K'; Step::fail.
Step recv_result_item(Conn* conn, ResultSet* result, RowsIn rows);
// The payload of an 'A' item into a new result of its own, tied to the
// connection so that it outlives it safely. *out receives the result, also
// when the reading failed part-way (the reader frees it with the rest), and
// stays null when no result could be made (Step::fail, memory having run out).
Step recv_new_result(Conn* conn, RowsIn rows, ResultSet** out);

#endif
