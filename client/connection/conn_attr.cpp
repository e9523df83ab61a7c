// Connection attributes read back by number, and the two that can be changed.
#include "client/connection/conn_attr.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/connection/conn_string.h"
#include "client/replies/exchange_readers.h"
#include "client/requests/exchange.h"
#include "client/vmc.h"

namespace {

constexpr const char* kUnknownGetAttr = "[EC0103]connection attribute type get error,unknown attribute type\n";
constexpr const char* kUnknownSetAttr = "[EC0104]connection attribute type set error,un-supported attribute type\n";
constexpr int32_t kFixedTwo = 2;

// Copies n bytes of a value, cut to the caller's size when it gave one.
void put_bytes(void* value, int size, const void* data, size_t n) {
  if (!value) return;
  if (size > 0 && n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
  std::memcpy(value, data, n);
}

int put_text(void* value, int size, int* type, int* len, const char* text) {
  size_t n = std::strlen(text);
  put_bytes(value, size, text, n);
  if (type) *type = ATTR_TYPE_TEXT;
  if (len) *len = static_cast<int>(n);
  return RC_SUCCESS;
}

int put_int(void* value, int size, int* type, int* len, int32_t v) {
  put_bytes(value, size, &v, sizeof v);
  if (type) *type = ATTR_TYPE_INT;
  if (len) *len = static_cast<int>(sizeof v);
  return RC_SUCCESS;
}

// "<count>:" and the addresses joined by ','.
int put_addresses(const IpsList* list, void* value, int size, int* type, int* len) {
  size_t need = 16;
  for (int32_t i = 0; i < list->ips_count; ++i) {
    const char* address = list->ips_addresses ? list->ips_addresses[i] : nullptr;
    need += (address ? std::strlen(address) : 0) + 1;
  }
  auto* text = static_cast<char*>(alloc_zeroed(need));
  if (!text) return RC_NO_MEMORY;
  size_t at = static_cast<size_t>(std::snprintf(text, need, "%d:", list->ips_count));
  for (int32_t i = 0; i < list->ips_count; ++i) {
    const char* address = list->ips_addresses ? list->ips_addresses[i] : nullptr;
    size_t n = address ? std::strlen(address) : 0;
    if (n) std::memcpy(text + at, address, n);
    at += n;
    if (i + 1 < list->ips_count) text[at++] = ',';
  }
  put_text(value, size, type, len, text);
  std::free(text);
  return RC_SUCCESS;
}

// The server's version text, asked for in one exchange under the lock.
int put_server_version(Conn* conn, void* value, int size, int* type, int* len) {
  char text[kQueryValueSize] = {};
  int value_type = 0;
  int on_heap = 0;
  ExchangeLock lock(conn);
  send_with_params(conn, "show version", nullptr);
  const int rc = recv_query_value(conn, text, &value_type, &on_heap);
  lock.release();

  // A text too long for the value buffer arrives as a heap copy; the caller
  // gets as much of it as the buffer holds.
  size_t n = strnlen(text, sizeof text);
  char* heap = nullptr;
  if (on_heap) {
    uint32_t heap_len = 0;
    std::memcpy(&heap_len, text, sizeof heap_len);
    std::memcpy(&heap, text + sizeof heap_len, sizeof heap);
    n = heap_len < sizeof text ? heap_len : sizeof text;
  }
  put_bytes(value, size > 0 ? size : kQueryValueSize, heap ? heap : text, n);
  std::free(heap);
  if (type) *type = ATTR_TYPE_TEXT;
  if (len) *len = static_cast<int>(n);
  return rc;
}

// Whether the whole text says "ON" or "TRUE", in any case. The length the
// caller gave plays no part: the text is what counts.
bool says_on(const char* text) { return strcasecmp(text, "ON") == 0 || strcasecmp(text, "TRUE") == 0; }

}  // namespace

int get_conn_attr(Conn* conn, int id, void* value, int size, int* type, int* len) {
  if (!conn) return RC_INVALID_HANDLE;
  switch (id) {
    case ATTR_SERVER_VERSION:
      return put_server_version(conn, value, size, type, len);
    case ATTR_DATABASE:
      return put_text(value, size, type, len, conn->database);
    case ATTR_FIXED_TWO:
      return put_int(value, size, type, len, kFixedTwo);
    case ATTR_ENCODING:
      return put_text(value, size, type, len, "UTF-8");
    case ATTR_CHAR_SET:
      return put_text(value, size, type, len, conn->char_set);
    case ATTR_USE_SSL:
      return put_int(value, size, type, len, conn->link.use_ssl);
    case ATTR_ADDRESSES:
      if (!conn->has_ips || !conn->ips) return RC_INVALID_HANDLE;
      return put_addresses(conn->ips, value, size, type, len);
    case ATTR_TIME_ZONE:
      return put_text(value, size, type, len, "GTM+8");
    case ATTR_LOB_RET:
      return put_int(value, size, type, len, conn->lob_ret);
    case ATTR_AUTO_COMMIT_OFF:
      return put_int(value, size, type, len, conn->auto_commit_off);
    case ATTR_SRVCURSOR_OFF:
      return put_int(value, size, type, len, conn->srvcursor_off);
    default:
      conn_set_error(conn, kUnknownGetAttr);
      return RC_INVALID_HANDLE;
  }
}

int set_conn_attr(Conn* conn, int id, const void* value, int /*len*/) {
  if (!conn) return RC_INVALID_HANDLE;
  switch (id) {
    case ATTR_AUTO_COMMIT_OFF:
      if (!value) return RC_INVALID_HANDLE;
      conn->auto_commit_off = says_on(static_cast<const char*>(value)) ? 1 : 0;
      return RC_SUCCESS;
    case ATTR_SRVCURSOR_OFF:
      if (!value) return RC_INVALID_HANDLE;
      std::memcpy(&conn->srvcursor_off, value, sizeof conn->srvcursor_off);
      return RC_SUCCESS;
    default:
      conn_set_error(conn, kUnknownSetAttr);
      return RC_INVALID_HANDLE;
  }
}
