// A stored value of a result's current row turned into what a caller asks
// for: an integer, a float, text, bytes, bytes piece by piece, or a LOB.
#ifndef RIZEZOVA_CLIENT_COLUMNS_CONVERT_H
#define RIZEZOVA_CLIENT_COLUMNS_CONVERT_H

#include <cstdint>

#include "client/vmc.h"

struct ResultSet;

// col counts from 1; ctype is the CType wanted. buf is the caller's buffer of
// bufsize bytes (for the LOB types the address of a LobObject variable). len,
// when not null, receives the bytes written or, for a cut value, the bytes left
// over; for CT_BINARY_PIECE it also brings the offset to read from. RC_SUCCESS;
// RC_INVALID_HANDLE no buffer or result; RC_COLUMN_RANGE column out of range;
// RC_NO_ROW_OR_NULL no row or NULL; RC_NO_CONVERSION no conversion;
// RC_TRUNCATED cut to fit; RC_PIECE_OFFSET piecewise offset beyond the value.
int get_column_data(ResultSet** result, int col, int ctype, void* buf, int bufsize, int* len);

// The server types without a text form of their own, whose raw bytes are
// their text: character, binary and LOB types and arrays.
inline bool is_raw_text_type(uint32_t st) {
  if (st > ST_ARRAY_BASE) return true;
  if (st >= ST_LOB && st <= ST_VARBYTES_60) return true;
  return st == ST_CHAR || st == ST_CLOB || st == ST_BINARY || st == ST_BLOB || st == ST_LOB_64;
}

#endif
