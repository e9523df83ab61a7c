// Connection attributes read back, and two of them changed, by number.
#ifndef RIZEZOVA_CLIENT_CONNECTION_CONN_ATTR_H
#define RIZEZOVA_CLIENT_CONNECTION_CONN_ATTR_H

#include "client/handles/conn.h"

// Writes attribute `id` (a ConnAttr) into value (never more than `size` bytes
// when size is above 0), its type into *type and its full length into *len. 0,
// or for the server version the reply reader's result; RC_INVALID_HANDLE for an
// unknown id (with EC0103 in the connection's error text) and for the address
// list of a connection without one (no text).
int get_conn_attr(Conn* conn, int id, void* value, int size, int* type, int* len);
// Changes attribute 11 (value: a NUL-terminated text; "ON" or "TRUE" in any
// case turns it on, len is not consulted) or 12 (value: an int): RC_SUCCESS;
// RC_INVALID_HANDLE with EC0104 for any other id, RC_INVALID_HANDLE without
// text for a null value.
int set_conn_attr(Conn* conn, int id, const void* value, int len);

#endif
