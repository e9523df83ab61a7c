// The items any reply may carry, read the same way by every reader of a reply.
#include "client/replies/reply_items.h"

#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"
#include "client/vmc.h"
#include "link/wire_io.h"

namespace {

// The link's outcome of reading a text as a result code.
int rc_of_text_read(int outcome) {
  switch (outcome) {
    case LINK_OK:
      return RC_SUCCESS;
    case LINK_NO_MEMORY:
      return RC_NO_MEMORY;
    default:
      return RC_READ_FAILED;
  }
}

}  // namespace

bool is_text_letter(uint8_t letter) { return is_error_letter(letter) || letter == 'M' || letter == 'W'; }

int recv_text(Conn* conn, char** out) { return rc_of_text_read(recv_str(&conn->link, out)); }

int take_server_text(Conn* conn, const char** text) {
  char* received = nullptr;
  const int rc = recv_text(conn, &received);
  if (rc != RC_SUCCESS) return rc;
  std::free(conn->error_text);
  conn->error_text = received;
  *text = received;
  return RC_SUCCESS;
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

Next classify_next(Conn* conn, uint8_t letter) {
  if (letter == 'K') return Next::End;
  conn->link.pushback_letter = letter;
  return Next::Go;
}

Next read_next(Conn* conn) {
  uint8_t letter = 0;
  if (!recv_char(&conn->link, &letter)) return Next::Failed;
  return classify_next(conn, letter);
}
