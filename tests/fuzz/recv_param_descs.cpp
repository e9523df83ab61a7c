// The parameter description that follows PREPARE, into a set that then takes
// values by name and by position.
#include "client/params/param_set.h"
#include "client/replies/exchange_readers.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::FuzzConn c(data + 1, size - 1, nullptr, data[0] & fuzz::kEnciphered);
  VMC_Handle set = nullptr;
  VMC_AllocParams(&set);
  recv_param_descs(c.conn(), static_cast<ParamSet*>(set));
  int32_t v = 1;
  int len = 4;
  VMC_BindParamByName(&set, "a", 1, CT_INT32, &v, 4, &len, &len);
  VMC_BindParam(&set, 2, 1, CT_INT32, &v, 4, &len);
  release_param_set(static_cast<ParamSet*>(set));
  return 0;
}
