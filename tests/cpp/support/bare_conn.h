// A connection record made without opening anything, for tests of the code
// that only reads and writes its fields.
#ifndef RIZEZOVA_TESTS_SUPPORT_BARE_CONN_H
#define RIZEZOVA_TESTS_SUPPORT_BARE_CONN_H

#include <cstdlib>

#include "client/handles/conn.h"
#include "client/connection/conn_string.h"
#include "client/handles/handle.h"

struct BareConn {
  Conn* conn;
  VMC_Handle handle;

  BareConn() : conn(static_cast<Conn*>(alloc_zeroed(sizeof(Conn)))), handle(conn) {
    conn->handle_type = static_cast<uint32_t>(HandleType::Conn);
  }
  ~BareConn() {
    std::free(conn->error_text);
    free_ips_list(conn->ips);
    std::free(conn);
  }
  BareConn(const BareConn&) = delete;
  BareConn& operator=(const BareConn&) = delete;

  Conn* operator->() { return conn; }
};

#endif
