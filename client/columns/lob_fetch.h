// LOB values of a column: carried inline, or held as a descriptor whose
// content is fetched from the server.
#ifndef RIZEZOVA_CLIENT_COLUMNS_LOB_FETCH_H
#define RIZEZOVA_CLIENT_COLUMNS_LOB_FETCH_H

#include <cstdint>

struct Conn;
struct LobObject;

// Brings a LOB's value from the server by the object's descriptor with "get lob
// '%s' offset 0 limit %s ", under the connection lock, and appends it.
// RC_SUCCESS (also when the server sent no value); RC_READ_FAILED read failure;
// RC_INVALID_HANDLE no memory for the field descriptions; RC_ERROR a descriptor
// or a piece the exchange cannot carry.
int fetch_lob(Conn* conn, LobObject* lob);

// Fills a LOB object from a stored column value for the LOB client types 41,
// 43, 44 (character) and 42 (binary). With descriptors on (`lob_ret` 1), a
// value starting 'C'/'B' is a descriptor whose content is fetched, one starting
// 'c'/'b' carries up to one chunk of content inline, anything else leaves the
// object alone. Otherwise only columns whose server type keeps raw text, binary
// or LOB bytes (`raw_value`) are copied whole. The object ends complete, with
// *out_len (when given) its size. RC_SUCCESS; RC_INVALID_HANDLE no LOB object;
// RC_READ_FAILED the link failed while fetching (the object holds what came);
// RC_NO_CONVERSION no conversion (*out_len 0).
int lob_from_column_value(Conn* conn, LobObject* lob, int ctype, bool raw_value, const uint8_t* value,
                          uint32_t value_len, int* out_len);

#endif
