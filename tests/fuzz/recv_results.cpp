// A reply read whole into a chain of results, then every value of it.
#include "client/replies/results_reader.h"
#include "client/results/result_life.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::FuzzConn c(data + 1, size - 1, nullptr, data[0] & fuzz::kEnciphered);
  ResultSet* out = nullptr;
  fuzz::check_answer(c, recv_results(c.conn(), &out));
  VMC_Handle head = out;
  fuzz::read_everything(&head);
  free_result_chain(static_cast<ResultSet*>(head));
  return 0;
}
