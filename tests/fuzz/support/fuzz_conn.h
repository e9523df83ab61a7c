// What the fuzz targets share: a client connection whose link reads the
// fuzzer's bytes as the server's and then the link's end, and a reader that
// takes every value of a result in every way a caller can.
#ifndef RIZEZOVA_TESTS_FUZZ_SUPPORT_FUZZ_CONN_H
#define RIZEZOVA_TESTS_FUZZ_SUPPORT_FUZZ_CONN_H

#include <cstddef>
#include <cstdint>

#include "client/handles/conn.h"
#include "client/vmc.h"

namespace fuzz {

// The first byte of an input that sets how a target runs; the rest is what
// the server sends.
enum Flag : uint8_t {
  kEnciphered = 1,  // the link is encrypted (after a login with a fixed key)
  kLobRet = 2,      // LOB values come as descriptors
  kNoCursor = 4,    // SELECTs run without a server cursor
};

class FuzzConn {
 public:
  // A logged-in connection: settings from conn_str (may be null), the link
  // enciphered when `enciphered`; the server's bytes are data[0, size),
  // enciphered here as the server would.
  FuzzConn(const uint8_t* data, size_t size, const char* conn_str = nullptr, bool enciphered = false);
  ~FuzzConn();
  FuzzConn(const FuzzConn&) = delete;
  FuzzConn& operator=(const FuzzConn&) = delete;

  Conn* conn() const { return static_cast<Conn*>(handle_); }
  VMC_Handle* handle() { return &handle_; }

 private:
  VMC_Handle handle_ = nullptr;
  int peer_ = -1;
};

// Steps through every row of the result *handle names (and of every result
// after it), reading each column as its own type, as text into a buffer too
// small for most, and as each number type; at most `max_rows` rows in all.
void read_everything(VMC_Handle* handle, int max_rows = 100000);

}  // namespace fuzz

#endif
