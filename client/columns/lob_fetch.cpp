// LOB values that a row holds only as a descriptor, fetched from the server,
// and LOB objects filled from the stored value of a column.
#include "client/columns/lob_fetch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/handles/handle.h"
#include "client/lob/lob.h"
#include "client/replies/results_reader.h"
#include "client/requests/command_frame.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/values/type_codes.h"
#include "link/wire_io.h"
#include "platform/lock.h"

namespace {

// Longest descriptor name the command carries.
constexpr size_t kLobNameLen = 13;
// Where the limit text starts in a descriptor.
constexpr size_t kLobLimitAt = 14;

// Reads the reply's field descriptions one at a time and drops them.
int skip_field_descs(Conn* conn, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    FieldDesc* field = static_cast<FieldDesc*>(alloc_zeroed(sizeof(FieldDesc)));
    if (!field) return RC_INVALID_HANDLE;
    const int rc = recv_field_desc(conn, field);
    free_field_descs(field, 1);
    if (rc == RC_NO_MEMORY) return RC_INVALID_HANDLE;
    // The reply cannot be followed past a description that broke off.
    if (rc != RC_SUCCESS) return RC_READ_FAILED;
  }
  return RC_SUCCESS;
}

// The pieces after 'R', each appended to the object, up to the closing 0.
int recv_lob_pieces(Conn* conn, LobObject* lob) {
  uint8_t* piece = static_cast<uint8_t*>(alloc_zeroed(kLobChunkSize));
  if (!piece) return RC_INVALID_HANDLE;
  int result = RC_SUCCESS;
  for (;;) {
    uint32_t more = 0;
    uint32_t length = 0;
    if (!recv_int(&conn->link, &more)) {
      result = RC_READ_FAILED;
      break;
    }
    if (more == 0) break;
    if (!recv_int(&conn->link, &length)) {
      result = RC_READ_FAILED;
      break;
    }
    // A piece is at most one chunk; a longer one is refused rather than read
    // past the work buffer.
    if (length > kLobChunkSize) {
      result = RC_ERROR;
      break;
    }
    if (!recv_bytes(&conn->link, piece, length)) {
      result = RC_READ_FAILED;
      break;
    }
    const int appended = lob_append(lob, piece, length);
    if (appended != RC_SUCCESS) {
      result = appended == RC_NO_MEMORY ? RC_INVALID_HANDLE : appended;
      break;
    }
  }
  std::free(piece);
  return result;
}

int fetch_lob_exchange(Conn* conn, LobObject* lob, const char* command) {
  send_query(conn, command, 0);
  send_flush(&conn->link);
  uint8_t letter = 0;
  if (!recv_char(&conn->link, &letter)) return RC_READ_FAILED;
  if (letter != 'A') return RC_SUCCESS;
  uint32_t fields = 0;
  if (!recv_int(&conn->link, &fields)) return RC_READ_FAILED;
  const int rc = skip_field_descs(conn, fields);
  if (rc != RC_SUCCESS) return rc;
  if (!recv_char(&conn->link, &letter)) return RC_READ_FAILED;
  if (letter != 'R') return RC_SUCCESS;
  return recv_lob_pieces(conn, lob);
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
  if (n < 0 || static_cast<size_t>(n) >= sizeof command) return RC_ERROR;

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
      // complete with those bytes. A failed link is told, so that they are
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
  return fetched == RC_READ_FAILED ? fetched : RC_SUCCESS;
}
