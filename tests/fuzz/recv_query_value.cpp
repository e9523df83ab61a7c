// The reply whose first value is wanted; a long value comes as a heap copy.
#include <cstring>

#include "client/replies/exchange_readers.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::FuzzConn c(data + 1, size - 1, nullptr, data[0] & fuzz::kEnciphered);
  alignas(8) char out[kQueryValueSize] = {};
  int type = 0;
  int on_heap = 0;
  recv_query_value(c.conn(), out, &type, &on_heap);
  if (on_heap) {
    void* copy = nullptr;
    std::memcpy(&copy, out + sizeof(uint32_t), sizeof copy);
    VMC_FreeBuffer(&copy);
  }
  return 0;
}
