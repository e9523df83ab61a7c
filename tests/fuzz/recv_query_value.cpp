// The reply whose first value is wanted; a long value comes as a heap copy.
// With bit 8 of the first byte the reply's result sets are kept and stepped
// through instead.
#include <cstring>

#include "client/replies/exchange_readers.h"
#include "client/results/result_set.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::FuzzConn c(data + 1, size - 1, nullptr, data[0] & fuzz::kEnciphered);
  alignas(8) char out[kQueryValueSize] = {};
  int type = 0;
  int on_heap = 0;
  ResultSet* kept = nullptr;
  fuzz::check_answer(c, recv_query_value(c.conn(), out, &type, &on_heap, data[0] & 8 ? &kept : nullptr));
  if (on_heap) {
    void* copy = nullptr;
    std::memcpy(&copy, out + sizeof(uint32_t), sizeof copy);
    VMC_FreeBuffer(&copy);
  }
  VMC_Handle rows = kept;
  while (rows) {
    char text[64];
    int len = 0;
    while (VMC_Fetch(&rows) == RC_SUCCESS) VMC_GetData(&rows, 1, CT_TEXT, text, sizeof text, &len);
    if (VMC_NextResult(&rows) != RC_SUCCESS) VMC_FreeResult(&rows);
  }
  return 0;
}
