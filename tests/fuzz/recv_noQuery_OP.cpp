// The reply to a statement with output values, written into bound slots of
// every direction and of several types and sizes; a result set that ends it
// is read whole.
#include "client/replies/exchange_readers.h"
#include "client/results/result_life.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::FuzzConn c(data + 1, size - 1, nullptr, data[0] & fuzz::kEnciphered);
  alignas(8) char text[9] = {}, bytes[33] = {};
  int32_t i32 = 7;
  double f64 = 0;
  int64_t ms = 0;
  int lengths[5] = {0, 4, 8, 0, 8};
  VMC_Handle* h = c.handle();
  // The set's shape comes from the flags: some slots left out.
  VMC_BindParam(h, 1, 2, CT_TEXT, text, sizeof text, &lengths[0]);
  VMC_BindParam(h, 2, 3, CT_INT32, &i32, sizeof i32, &lengths[1]);
  if (!(data[0] & 8)) VMC_BindParam(h, 3, 2, CT_DOUBLE, &f64, sizeof f64, &lengths[2]);
  if (!(data[0] & 16)) VMC_BindParam(h, 4, 2, CT_BINARY, bytes, sizeof bytes, &lengths[3]);
  VMC_BindParam(h, data[0] & 32 ? 6 : 5, 6, CT_DATETIME_MS, &ms, sizeof ms, &lengths[4]);
  ResultSet* out = nullptr;
  fuzz::check_answer(c, recv_noQuery_OP(c.conn(), &out));
  VMC_Handle result = out;
  fuzz::read_everything(&result);
  free_result_chain(static_cast<ResultSet*>(result));
  return 0;
}
