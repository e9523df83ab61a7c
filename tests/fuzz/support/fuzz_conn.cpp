#include "tests/fuzz/support/fuzz_conn.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "client/connection/conn_string.h"
#include "client/handles/handle.h"
#include "link/link_cipher.h"
#include "platform/lock.h"
#include "tests/fuzz/support/fake_net.h"

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

FuzzConn::FuzzConn(const uint8_t* data, size_t size, const char* conn_str, bool enciphered, size_t piece)
    : bytes_(data, data + size) {
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
  conn->link.sock = kFakeSocket;

  if (enciphered) {
    conn->link.use_ssl = 1;
    key_link(&conn->link);
    // The server enciphers with the keystream the client deciphers with.
    Link server{};
    key_link(&server);
    cipher_send_bytes(&server, bytes_.data(), static_cast<int>(bytes_.size()));
    free_link_ciphers(&server);
  }
  fake_net_serve(bytes_.data(), bytes_.size(), piece);
}

FuzzConn::~FuzzConn() { VMC_CloseConn(&handle_); }

void check_answer(const FuzzConn& c, int rc) {
  const bool closed = c.conn()->link.sock == 0;
  if (closed != (rc == RC_READ_FAILED)) {
    std::fprintf(stderr, "the call answered %d with the link %s\n", rc, closed ? "closed" : "open");
    std::abort();
  }
}

size_t piece_of(uint8_t flags) {
  static const size_t kPieces[] = {1, 16, 4096, kWhole};
  return kPieces[(flags >> 4) & 3];
}

void read_everything(VMC_Handle* handle, int max_rows) {
  constexpr int kRowsRead = 300;
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
    // The values of the first rows of each result are read every way; the
    // rows after them are only stepped over, towards the next block.
    for (int row = 0; max_rows-- > 0 && VMC_Fetch(handle) == RC_SUCCESS; ++row) {
      for (int col = 1; row < kRowsRead && col <= static_cast<int>(fields) + 1; ++col) {
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
