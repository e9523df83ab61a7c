// A reply whose result sets all go into one result, then every value of it.
#include "client/replies/results_reader.h"
#include "client/results/result_life.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::FuzzConn c(data + 1, size - 1, nullptr, data[0] & fuzz::kEnciphered);
  ResultSet* out = nullptr;
  fuzz::check_answer(c, recv_result_single(c.conn(), &out));
  VMC_Handle result = out;
  fuzz::read_everything(&result);
  free_result_chain(static_cast<ResultSet*>(result));
  return 0;
}
