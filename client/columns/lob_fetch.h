// LOB values of a column: carried inline, or held as a descriptor whose
// content is fetched from the server.
#ifndef RIZEZOVA_CLIENT_COLUMNS_LOB_FETCH_H
#define RIZEZOVA_CLIENT_COLUMNS_LOB_FETCH_H

#include <cstdint>

struct Conn;
struct LobObject;

// Brings a LOB's value from the server by the object's descriptor with "get lob
// '%s' offset 0 limit %s ", under the connection lock, and appends it.
// RC_SUCCESS (also when the server sent no value); RC_ERROR when the server
// refused (its text is the connection's error text) or the descriptor does not
// fit the command (nothing sent; EC064); RC_READ_FAILED, the link closed,
// when the link failed or the reply could not be read to its end;
// RC_INVALID_HANDLE without a connection, an object or a descriptor.
int fetch_lob(Conn* conn, LobObject* lob);

// Fills a LOB object from a stored column value for the LOB client types 41,
// 43, 44 (character) and 42 (binary). With descriptors on (`lob_ret` 1), a
// value starting 'C'/'B' is a descriptor whose content is fetched, one starting
// 'c'/'b' carries up to one chunk of content inline, anything else leaves the
// object alone. Otherwise only columns whose server type keeps raw text, binary
// or LOB bytes (`raw_value`) are copied whole. The object ends complete, with
// *out_len (when given) its size. RC_SUCCESS; RC_INVALID_HANDLE no LOB object;
// RC_ERROR the fetch was refused, with the reason as the connection's error
// text; RC_READ_FAILED the fetch failed otherwise, and the link is closed (in
// both cases the object holds what came before); RC_NO_CONVERSION no
// conversion (*out_len 0).
int lob_from_column_value(Conn* conn, LobObject* lob, int ctype, bool raw_value, const uint8_t* value,
                          uint32_t value_len, int* out_len);

#endif
