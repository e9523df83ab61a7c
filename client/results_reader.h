// Readers that turn a reply's result items ('A' with its field descriptions
// and rows, 'D', 'U', 'I', texts) into a chain of ResultSet records.
#ifndef RIZEZOVA_CLIENT_RESULTS_READER_H
#define RIZEZOVA_CLIENT_RESULTS_READER_H

#include <cstdint>

struct Conn;
struct ResultSet;
struct FieldDesc;

constexpr int kRowBlock = 20000;

// A whole reply to its 'K' as a chain. Answers the status of the last item
// that set one (-1 after an error text, 0 after a message or warning, the
// rows of the last result set modulo 20000); *out receives the head (or null)
// when the reply was read. A read failure (-4) or no memory (-5) releases
// everything read and leaves *out alone.
int recv_results(Conn* conn, ResultSet** out);
// A reply whose result set items all go into one ResultSet.
int recv_result_single(Conn* conn, ResultSet** out);

// The field descriptions of an 'A' item and the row layout they give: 0; -4
// when the count cannot be read or exceeds 4000; -1 when a description fails.
int recv_field_descs(Conn* conn, ResultSet* result);
// One description: 0; -4 the name length unreadable; -5 no memory; -1 a later read failed.
int recv_field_desc(Conn* conn, FieldDesc* field);

// Rows of an 'A' item into the result, at most `limit` of them (0: no
// limit); answers the number of rows read in this call, with the reason the
// rows stopped in *status: 0 the limit or the end of rows, -4 a read failure,
// -5 no memory.
int recv_rows(Conn* conn, ResultSet* result, int64_t limit, int* status);

// Reads n bytes and keeps the first keep of them in dst; the rest is read and
// dropped so the stream stays in step. False when the link failed.
bool recv_bytes_cut(Conn* conn, uint8_t* dst, uint32_t n, uint32_t keep);
// The row id of an 'I' item (u32 length and bytes) into a zeroed row_id,
// read whole and kept cut to 31 bytes and its terminator. False when the link failed.
bool recv_row_id(Conn* conn, char (&row_id)[32]);

#endif
