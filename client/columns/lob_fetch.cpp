// LOB values that a row holds only as a descriptor, fetched from the server,
// and LOB objects filled from the stored value of a column.
#include "client/columns/lob_fetch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/handles/handle.h"
#include "client/lob/lob.h"
#include "client/replies/command_replies.h"
#include "client/requests/command_frame.h"
#include "client/values/type_codes.h"
#include "link/wire_io.h"
#include "platform/lock.h"

namespace {

// Longest descriptor name the command carries.
constexpr size_t kLobNameLen = 13;
// Where the limit text starts in a descriptor.
constexpr size_t kLobLimitAt = 14;

int fetch_lob_exchange(Conn* conn, LobObject* lob, const char* command) {
  send_query(conn, command, 0);
  send_flush(&conn->link);
  return recv_lob_reply(conn, lob);
}

}  // namespace

int fetch_lob(Conn* conn, LobObject* lob) {
  if (!conn || !lob || !lob->descriptor) return RC_INVALID_HANDLE;
  char name[kLobNameLen + 1] = {};
  std::strncpy(name, lob->descriptor, kLobNameLen);
  const char* limit = std::strlen(lob->descriptor) > kLobLimitAt ? lob->descriptor + kLobLimitAt : "";
  char command[128] = {};
  const int n = std::snprintf(command, sizeof command, "get lob '%s' offset 0 limit %s ", name, limit);
  // A limit that does not fit the command is refused, not cut.
  if (n < 0 || static_cast<size_t>(n) >= sizeof command) {
    char text[128];
    std::snprintf(text, sizeof text, "[EC064]Error name too long for its command: %.60s", lob->descriptor);
    conn_set_error(conn, text);
    return RC_ERROR;
  }

  lock_take(conn->lock);
  const int rc = fetch_lob_exchange(conn, lob, command);
  lock_release(conn->lock);
  return rc;
}

int lob_from_column_value(Conn* conn, LobObject* lob, int ctype, bool raw_value, const uint8_t* value,
                          uint32_t value_len, int* out_len) {
  if (!lob || lob->handle_type != static_cast<uint32_t>(HandleType::LobObject)) return RC_INVALID_HANDLE;
  const bool binary = ctype == CT_BLOB;
  int fetched = RC_SUCCESS;
  if (conn && conn->lob_ret == 1) {
    const uint8_t first = value_len > 0 ? value[0] : 0;
    if (first == (binary ? 'B' : 'C')) {
      // The whole value, its letter included, is the descriptor.
      char* descriptor = static_cast<char*>(alloc_zeroed(static_cast<size_t>(value_len) + 1));
      if (!descriptor) return RC_NO_MEMORY;
      std::memcpy(descriptor, value, value_len);
      std::free(lob->descriptor);
      lob->descriptor = descriptor;
      // A fetch that fails leaves what it brought: the object is handed out
      // complete with those bytes, and the failure is told, so that they are
      // not taken for the whole value.
      fetched = fetch_lob(conn, lob);
    } else if (first == (binary ? 'b' : 'c')) {
      const uint32_t inline_len = value_len - 1 < kLobChunkSize ? value_len - 1 : kLobChunkSize;
      const int rc = lob_set_content(lob, value + 1, inline_len);
      if (rc != RC_SUCCESS) return rc;
    } else {
      return RC_SUCCESS;
    }
  } else {
    if (!raw_value) {
      if (out_len) *out_len = 0;
      return RC_NO_CONVERSION;
    }
    const int rc = lob_set_content(lob, value, value_len);
    if (rc != RC_SUCCESS) return rc;
  }
  lob->lob_state = static_cast<uint32_t>(LobState::Complete);
  if (out_len) *out_len = static_cast<int>(lob->lob_size);
  return fetched;
}
