// The payloads of reply items, read the same way by every reader of a reply.
#include "client/replies/reply_items.h"

#include <cstring>

#include "client/handles/conn.h"
#include "client/vmc.h"
#include "link/wire_io.h"

int recv_text(Conn* conn, char** out) {
  switch (recv_str(&conn->link, out)) {
    case LINK_OK:
      return RC_SUCCESS;
    case LINK_NO_MEMORY:
      return RC_NO_MEMORY;
    default:
      return RC_READ_FAILED;
  }
}

bool recv_bytes_cut(Conn* conn, uint8_t* dst, uint32_t n, uint32_t keep) {
  const uint32_t kept = n < keep ? n : keep;
  if (!recv_bytes(&conn->link, dst, kept)) return false;
  uint8_t scratch[256];
  for (uint32_t left = n - kept; left > 0;) {
    const uint32_t step = left < sizeof scratch ? left : static_cast<uint32_t>(sizeof scratch);
    if (!recv_bytes(&conn->link, scratch, step)) return false;
    left -= step;
  }
  return true;
}

bool skip_bytes(Conn* conn, uint32_t n) { return recv_bytes_cut(conn, nullptr, n, 0); }

bool recv_row_id(Conn* conn, char (&row_id)[32]) {
  uint32_t n = 0;
  if (!recv_int(&conn->link, &n)) return false;
  std::memset(row_id, 0, sizeof row_id);
  return recv_bytes_cut(conn, reinterpret_cast<uint8_t*>(row_id), n, sizeof row_id - 1);
}

bool recv_out_head(Conn* conn, uint8_t letter, OutHead* head) {
  return (letter != REPLY_OUT_PARAM || recv_int(&conn->link, &head->index)) &&
         recv_int(&conn->link, &head->type) && recv_int(&conn->link, &head->length);
}

int skip_param_descs(Conn* conn) {
  uint32_t n = 0;
  if (!recv_int(&conn->link, &n)) return RC_READ_FAILED;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t name_length = 0;
    uint32_t position_type_size[3];
    if (!recv_int(&conn->link, &name_length) || !skip_bytes(conn, name_length) ||
        !recv_bytes(&conn->link, reinterpret_cast<uint8_t*>(position_type_size), sizeof position_type_size)) {
      return RC_READ_FAILED;
    }
  }
  return RC_SUCCESS;
}
