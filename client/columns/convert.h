// A stored value of a result's current row turned into what a caller asks
// for: an integer, a float, text, bytes, bytes piece by piece, or a LOB.
#ifndef RIZEZOVA_CLIENT_COLUMNS_CONVERT_H
#define RIZEZOVA_CLIENT_COLUMNS_CONVERT_H

#include <cstdint>

struct ResultSet;

// col counts from 1; ctype is the CType wanted. buf is the caller's buffer of
// bufsize bytes (for the LOB types the address of a LobObject variable). len,
// when not null, receives the bytes written or, for a cut value, the bytes
// left over; for CT_BINARY_PIECE it also brings the offset to read from.
// 0; -3 no buffer or result; -15 column out of range; -11 no row or NULL;
// -13 no conversion; -12 cut to fit; -18 piecewise offset beyond the value.
int get_column_data(ResultSet** result, int col, int ctype, void* buf, int bufsize, int* len);

#endif
