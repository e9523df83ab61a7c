// The reply to a statement without rows.
#include "client/replies/exchange_readers.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::FuzzConn c(data + 1, size - 1, nullptr, data[0] & fuzz::kEnciphered);
  fuzz::check_answer(c, recv_noQuery(c.conn()));
  return 0;
}
