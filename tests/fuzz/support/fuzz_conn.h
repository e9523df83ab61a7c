// What the fuzz targets share: a client connection whose link reads the
// fuzzer's bytes as the server's and then the link's end, and a reader that
// takes every value of a result in every way a caller can.
#ifndef RIZEZOVA_TESTS_FUZZ_SUPPORT_FUZZ_CONN_H
#define RIZEZOVA_TESTS_FUZZ_SUPPORT_FUZZ_CONN_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "client/handles/conn.h"
#include "client/vmc.h"

namespace fuzz {

// The first byte of an input that sets how a target runs; the rest is what
// the server sends.
enum Flag : uint8_t {
  kEnciphered = 1,  // the link is encrypted (after a login with a fixed key)
  kLobRet = 2,      // LOB values come as descriptors
  kNoCursor = 4,    // SELECTs run without a server cursor
  // Bits 4 and 5, for the targets that run several exchanges: how the server
  // sends its bytes (see piece_of).
};

// The most bytes one receive call hands out, by bits 4 and 5 of the flags:
// 1 (0; each request then finds its reply where the one before ended), 16,
// 4096, or everything at once (3; a reply's rest then waits when the next
// request goes out, and the link is closed as out of step).
size_t piece_of(uint8_t flags);

class FuzzConn {
 public:
  // A logged-in connection: settings from conn_str (may be null), the link
  // enciphered when `enciphered`; the server's bytes are data[0, size),
  // enciphered here as the server would, sent `piece` bytes at a time as the
  // client asks for them, or all at once (see fake_net.h).
  FuzzConn(const uint8_t* data, size_t size, const char* conn_str = nullptr, bool enciphered = false,
           size_t piece = SIZE_MAX);
  ~FuzzConn();
  FuzzConn(const FuzzConn&) = delete;
  FuzzConn& operator=(const FuzzConn&) = delete;

  Conn* conn() const { return static_cast<Conn*>(handle_); }
  VMC_Handle* handle() { return &handle_; }

 private:
  VMC_Handle handle_ = nullptr;
  std::vector<uint8_t> bytes_;  // the server's, as they go on the wire
};

// Aborts unless a call that read one reply answers the closed link's code
// exactly when that reply closed the link: a reply judged unreadable never
// passes for an answer, and an answered one leaves the link open.
void check_answer(const FuzzConn& c, int rc);

// Steps through every row of the result *handle names (and of every result
// after it), at most `max_rows` rows in all, reading each column of the first
// few hundred rows of each as its own type, as text into a buffer too small
// for most, and as each number type.
void read_everything(VMC_Handle* handle, int max_rows = 100000);

}  // namespace fuzz

#endif
