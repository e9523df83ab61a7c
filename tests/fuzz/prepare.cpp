// PREPARE, its parameter description and result columns; then an execution
// with values bound by name and position, and the release: each reads on
// where the one before stopped.
#include "client/results/result_life.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::FuzzConn c(data + 1, size - 1, nullptr, data[0] & fuzz::kEnciphered, fuzz::piece_of(data[0]));
  VMC_Handle* h = c.handle();
  char name[32] = {};
  const bool named = data[0] & 8;
  const int prepared = VMC_Prepare2(h, "INSERT INTO t VALUES (:a, ?, :c)", named ? name : nullptr);
  fuzz::check_answer(c, prepared);
  if (prepared < 0) return 0;
  int32_t v = 5;
  int len = 4;
  char text[] = "text";
  int text_len = 4;
  VMC_BindParamByName(h, "a", 1, CT_INT32, &v, 4, &len, &len);
  VMC_BindParam(h, 2, 1, CT_TEXT, text, 4, &text_len);
  VMC_BindParamByName(h, "c", 1, CT_TEXT, text, 4, &len, &text_len);
  ResultSet* out = nullptr;
  VMC_Execute2(h, named ? name : nullptr, nullptr, &out);
  free_result_chain(out);
  VMC_UnPrepare(h, named ? name : nullptr);
  return 0;
}
