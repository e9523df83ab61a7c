// The connection record: the settings of its connection string, its link,
// its lock, its current parameters and prepared statement, its error text.
#ifndef RIZEZOVA_CLIENT_HANDLES_CONN_H
#define RIZEZOVA_CLIENT_HANDLES_CONN_H

#include <cstddef>
#include <cstdint>

#include "client/vmc.h"
#include "link/link.h"
#include "platform/memory.h"

struct PlatformLock;
struct ParamSet;
struct ResultSet;
struct SmartResult;
struct IpsList;

// The connection record. Zero-filled when made; the open fills the defaults.
// Texts are NUL-terminated inside their arrays.
struct Conn {
  uint32_t handle_type;        // HandleType::Conn
  char database[128];
  char server_ip[32];          // dotted IPv4 text
  uint16_t port;
  char user[64];
  char password[64];
  char char_set[64];
  char iso_level[64];
  char version[64];            // protocol level the login sends: "301", or "201" after a 'K' login
  char current_schema[64];
  char compatible_mode[64];
  char keyword_filter[64];
  int32_t recv_timeout;        // socket receive time-out in ms; none when 0 or less
  int32_t lock_timeout;
  int32_t auto_commit_off;
  int32_t return_cursor_id_off;
  int32_t lob_ret;             // 1 = LOB values arrive as descriptors
  int32_t state;               // 123 from the open, 1 after a good login
  int32_t verbose_mode;
  Link link;                   // the wire link: socket, queues, given-back letter, keystream
  PlatformLock* lock;          // serialises request/reply exchanges
  uint32_t server_addr;        // IPv4 address in network order
  ParamSet* params;
  int32_t prepare_pending;
  char prepare_name[20];
  uint32_t stc_counter;        // names prepared statements and cursors; never reset
  ResultSet* prepare_desc;
  char* error_text;            // heap text of the last error, warning or message
  uint8_t has_ips;
  IpsList* ips;
  char row_id[32];
  int32_t row_id_received;
  int32_t server_type;
  int32_t srvcursor_off;
  uint8_t login_exponent[32];
  uint8_t login_modulus[32];
  char exhausted_cursor[64];   // the caller-named cursor whose FETCH INTO ran out; empty = none
  SmartResult* smart_results;  // the server-cursor results read over it that are still alive
  ResultSet* results;          // the results of rows read over it that are still alive
  // FETCHes that its server-cursor results sent ahead and whose replies are
  // not read yet: until they are, bytes waiting on the link are theirs.
  uint32_t fetches_ahead;
  // Whether the reply being read carried a server error, and where: once it
  // has, the reply is a failure whatever follows, and its text stays the
  // connection's error text.
  uint8_t reply_error;  // ReplyError
};

enum ReplyError : uint8_t {
  kReplyClean = 0,
  kErrorAmongRows = 1,  // among the rows of a result set
  kErrorItem = 2,       // an item of its own
};

// Replaces the connection's error text with a heap copy of text (null clears it).
void conn_set_error(Conn* conn, const char* text);

#endif
