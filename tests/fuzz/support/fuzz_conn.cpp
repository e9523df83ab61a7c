#include "tests/fuzz/support/fuzz_conn.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "client/connection/conn_string.h"
#include "client/handles/handle.h"
#include "link/link_cipher.h"
#include "platform/lock.h"

namespace fuzz {

namespace {

constexpr int32_t kLockMaxCount = 2000000000;
const uint8_t kKey[32] = {7, 1, 4, 2, 8, 5, 7, 1, 4, 2, 8, 5, 7, 1, 4, 2,
                          8, 5, 7, 1, 4, 2, 8, 5, 7, 1, 4, 2, 8, 5, 7, 1};

// Copies of the two keystream contexts of a link keyed with kKey: keying
// costs more than most inputs, and every encrypted input starts alike.
void key_link(Link* link) {
  static Link keyed = [] {
    Link l{};
    init_link_ciphers(&l, kKey, sizeof kKey);
    return l;
  }();
  for (auto [from, to] : {std::pair{keyed.recv_cipher, &link->recv_cipher}, {keyed.send_cipher, &link->send_cipher}}) {
    *to = static_cast<LinkCipher*>(std::malloc(sizeof(LinkCipher)));
    std::memcpy(*to, from, sizeof(LinkCipher));
  }
}

}  // namespace

FuzzConn::FuzzConn(const uint8_t* data, size_t size, const char* conn_str, bool enciphered) {
  auto* conn = static_cast<Conn*>(alloc_zeroed(sizeof(Conn)));
  if (!conn) std::abort();
  handle_ = conn;
  conn->handle_type = static_cast<uint32_t>(HandleType::Conn);
  conn->lock_timeout = 300;
  std::strcpy(conn->version, "301");
  if (conn_str) parse_conn_string(conn_str, conn);
  conn->state = 1;
  conn->lock = lock_create(0, kLockMaxCount);
  lock_release(conn->lock);

  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
  conn->link.sock = fds[0];
  peer_ = fds[1];
  // What the client sends is never read: a send that finds no room fails
  // instead of waiting for ever.
  timeval wait{0, 10000};
  setsockopt(fds[0], SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);

  std::vector<uint8_t> bytes(data, data + size);
  if (enciphered) {
    conn->link.use_ssl = 1;
    key_link(&conn->link);
    // The server enciphers with the keystream the client deciphers with.
    Link server{};
    key_link(&server);
    cipher_send_bytes(&server, bytes.data(), static_cast<int>(bytes.size()));
    free_link_ciphers(&server);
  }
  // The bytes that fit in the socket's buffer are the server's; then its end.
  fcntl(peer_, F_SETFL, O_NONBLOCK);
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = send(peer_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  shutdown(peer_, SHUT_WR);
}

FuzzConn::~FuzzConn() {
  VMC_CloseConn(&handle_);
  close(peer_);
}

void read_everything(VMC_Handle* handle, int max_rows) {
  static const int kNumberTypes[] = {CT_INT, CT_INT8, CT_INT16, CT_INT32, CT_INT64, CT_FLOAT, CT_DOUBLE,
                                     CT_DATETIME_MS, CT_NUMERIC, CT_DATE, CT_TIME, CT_DATETIME, CT_INTERVAL};
  for (;;) {
    uint32_t fields = 0;
    VMC_GetFieldCount(handle, &fields);
    for (int col = 0; col <= static_cast<int>(fields) + 1; ++col) {
      char table[128], column[128], alias[128];
      int ctype = 0, length = 0, attr = 0;
      VMC_DescribeCol(handle, col, table, column, alias, &ctype, &length, &attr);
    }
    while (max_rows-- > 0 && VMC_Fetch(handle) == RC_SUCCESS) {
      for (int col = 1; col <= static_cast<int>(fields) + 1; ++col) {
        int ctype = 0;
        VMC_GetColType(handle, col, &ctype);
        alignas(8) char buf[300];
        int len = 0;
        if (ctype == CT_CLOB || ctype == CT_BLOB || ctype == CT_CLOB_43 || ctype == CT_CLOB_44) {
          VMC_Handle lob = nullptr;
          VMC_CreateLob(&lob);
          VMC_GetData(handle, col, ctype, &lob, 8, &len);
          while (VMC_GetLobData(&lob, buf, sizeof buf) > 0) {
          }
          VMC_FreeLob(&lob);
        } else {
          VMC_GetData(handle, col, ctype, buf, sizeof buf, &len);
        }
        VMC_GetData(handle, col, CT_TEXT, buf, 7, &len);
        VMC_GetData(handle, col, CT_BINARY, buf, sizeof buf, &len);
        len = 2;
        VMC_GetData(handle, col, CT_BINARY_PIECE, buf, 5, &len);
        for (int type : kNumberTypes) VMC_GetData(handle, col, type, buf, sizeof buf, &len);
      }
    }
    // The next result of the reply, if the handle moves on to one.
    const VMC_Handle before = *handle;
    if (!before || max_rows <= 0 || VMC_NextResult(handle) != RC_SUCCESS || *handle == before) return;
  }
}

}  // namespace fuzz
