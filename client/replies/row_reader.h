// Reading the rows of an 'A' item from the link into the result's pool: one
// decoder, one table of wire widths.
#ifndef RIZEZOVA_CLIENT_REPLIES_ROW_READER_H
#define RIZEZOVA_CLIENT_REPLIES_ROW_READER_H

#include <cstdint>

#include "client/results/result_set.h"

struct Conn;

// What recv_row answers when the rows of the item have ended.
constexpr int kEndOfRows = 101;

// The fields of a result as its rows are read: each field's width on the
// wire (1, 2, 4 or 8 for a fixed-width value, 0 for a value whose length says
// how many bytes follow), worked out once per result set.
struct RowShape {
  const FieldDesc* fields;
  int32_t count;
  int32_t row_size;
  uint8_t widths[kMaxFields];
  uint32_t slots[kMaxFields];  // where each field's slot lies in a row
};
// False when the result has no usable layout (no descriptions read).
bool row_shape(const ResultSet* result, RowShape* shape);

// One row from the link into a new row of the result's pool: RC_SUCCESS with
// *out set; kEndOfRows when a letter other than a row's came (it is given
// back); RC_READ_FAILED; RC_NO_MEMORY. Texts between rows are joined onto the
// result's error text; a server error among them also becomes the result's
// failure_text and the connection's error text, and marks the reply
// (kErrorAmongRows). With a null result the row is read and dropped (and so
// are the texts), *out staying null.
int recv_row(Conn* conn, ResultSet* result, const RowShape& shape, uint8_t** out);

// Rows into the result, which has its pool (or with a null result read and
// dropped), at most `limit` of them (0: no limit), each stored as it comes.
// Answers the number read, with the reason they stopped in *status:
// RC_SUCCESS the limit or the end of the rows, RC_READ_FAILED, RC_NO_MEMORY.
// A row that the result refuses as full (EC080) still counts, and so does a
// row behind a server error among the rows, which is read and dropped.
int64_t recv_row_run(Conn* conn, ResultSet* result, const RowShape& shape, int64_t limit, int* status);

#endif
