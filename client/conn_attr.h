// Connection attributes read back, and two of them changed, by number.
#ifndef RIZEZOVA_CLIENT_CONN_ATTR_H
#define RIZEZOVA_CLIENT_CONN_ATTR_H

#include "client/conn.h"

enum class ConnAttr : int {
  ServerVersion = 1,  // text: the server's answer to "show version"
  Database = 2,       // text
  FixedTwo = 3,       // int: always 2
  Encoding = 4,       // text: always "UTF-8"
  CharSet = 5,        // text
  UseSsl = 6,         // int
  Addresses = 7,      // text: "<count>:addr,addr,..." of the IPS list
  TimeZone = 8,       // text: always "GTM+8"
  LobRet = 9,         // int
  // 10 is not an attribute
  AutoCommitOff = 11, // int; settable with the text "ON" / "TRUE" (else off)
  SrvCursorOff = 12,  // int; settable with an int
};

// The type a value is handed out as.
enum class AttrValueType : int {
  Text = 1,  // characters without a terminator; the length counts them
  Int = 2,   // a 32-bit int; the length is 4
};

// Writes attribute `id` into value (never more than `size` bytes when size is
// above 0), its type into *type and its full length into *len. 0, or for the
// server version the reply reader's result; -3 for an unknown id (with EC0103
// in the connection's error text) and for the address list of a connection
// without one (no text).
int get_conn_attr(Conn* conn, int id, void* value, int size, int* type, int* len);
// Changes attribute 11 (value: a NUL-terminated text; "ON" or "TRUE" in any
// case turns it on, len is not consulted) or 12 (value: an int): 0; -3 with
// EC0104 for any other id, -3 without text for a null value.
int set_conn_attr(Conn* conn, int id, const void* value, int len);

#endif
