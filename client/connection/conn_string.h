// Connection strings: ';'-separated key=value items (',' when the text has no
// ';') read into a connection record, and the list of alternative server
// addresses that an IPS item carries.
#ifndef RIZEZOVA_CLIENT_CONNECTION_CONN_STRING_H
#define RIZEZOVA_CLIENT_CONNECTION_CONN_STRING_H

#include <cstddef>
#include <cstdint>

#include "client/handles/conn.h"

// The alternative server addresses of an IPS item. Every text is a heap copy
// owned by the list; an address sits either in ips_addresses or, after a
// failed connect, in ips_failed, never in both.
struct IpsList {
  int32_t ips_count;        // number of addresses
  int32_t ips_current;      // index of the address picked last
  char** ips_addresses;     // candidates; the first ips_remaining are live
  char** ips_failed;        // addresses that failed, in order of failure
  int32_t ips_remaining;    // addresses not yet failed
};

// Key and value of one item pass through buffers of this size.
constexpr size_t kKeyValueBufSize = 64;
// Items this long or longer (other than an IPS item) are ignored.
constexpr size_t kConnItemMaxLen = 128;
// Room in the address array at first, and after its one growth.
constexpr int kIpsFirstCapacity = 20;
constexpr int kIpsMaxCapacity = 100;

// Reads the settings of `text` into `conn`; false (nothing set) when the text
// is shorter than 5 characters or has neither ';' nor ','.
bool parse_conn_string(const char* text, Conn* conn);
// Splits "key=value" at its first '=' into two kKeyValueBufSize-byte buffers,
// both trimmed of blanks and cut to fit; false when there is no '='.
bool split_key_value(const char* item, char* key, char* value);
// Fills a zero-filled list from an item that begins with "IPS=": one address
// per ','-separated piece. False, with the first 99 addresses kept, when the
// item holds more than kIpsMaxCapacity of them.
bool parse_ips_list(IpsList* list, int capacity, const char* item);

// A copy of `src` for a caller to walk: the same addresses, an ips_failed
// array of ips_count + 1 empty entries, every address remaining. Null when
// memory runs out.
IpsList* copy_ips_list(const IpsList* src);
// Frees every address of both arrays, the arrays and the list itself.
void free_ips_list(IpsList* list);

#endif
