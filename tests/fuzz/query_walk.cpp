// A SELECT as a script runs it: VMC_ExecuteQuery (DECLARE, OPEN, FETCH and
// perhaps CLOSE, or one reply without a cursor), then every row through
// VMC_Fetch with its further FETCHes, every value through VMC_GetData, and
// the release.
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const char* settings[] = {"", "LOB_RET=1;", "USE_SRVCURSOR=off;", "LOB_RET=1;USE_SRVCURSOR=off;"};
  fuzz::FuzzConn c(data + 1, size - 1, settings[(data[0] >> 1) & 3], data[0] & fuzz::kEnciphered,
                   fuzz::piece_of(data[0]));
  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t rows = 0;
  if (VMC_ExecuteQuery(c.handle(), "SELECT * FROM t", &result, &fields, &rows, &affected) >= 0) {
    fuzz::read_everything(&result);
  }
  VMC_FreeResult(&result);
  return 0;
}
