// Reading the rows of an 'A' item from the link into the result's pool.
#ifndef RIZEZOVA_CLIENT_REPLIES_ROW_READER_H
#define RIZEZOVA_CLIENT_REPLIES_ROW_READER_H

#include <cstdint>

struct Conn;
struct ResultSet;

// What recv_row answers when the rows of the item have ended.
constexpr int kEndOfRows = 101;

// One row from the link into a new row of the result's pool: RC_SUCCESS with
// *out set; kEndOfRows when a letter other than a row's came (it is given
// back); RC_READ_FAILED; RC_NO_MEMORY.
int recv_row(Conn* conn, ResultSet* result, uint8_t** out);
// recv_row with the fields' wire widths at hand (row_wire_widths), as the
// block readers call it.
int recv_row_sized(Conn* conn, ResultSet* result, const uint8_t* widths, uint8_t** out);
// Each field's width on the wire: 1, 2, 4 or 8 for a fixed type, 0 for a raw
// value whose length says how many bytes follow. widths holds field_count bytes.
void row_wire_widths(const ResultSet* result, uint8_t* widths);

#endif
