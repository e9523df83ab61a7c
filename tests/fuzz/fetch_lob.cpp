// The reply to "get lob": field descriptions, then the LOB's pieces; the
// object is read back whole.
#include <cstdlib>
#include <cstring>

#include "client/columns/lob_fetch.h"
#include "client/lob/lob.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::FuzzConn c(data + 1, size - 1, "LOB_RET=1;", data[0] & fuzz::kEnciphered);
  VMC_Handle lob = nullptr;
  VMC_CreateLob(&lob);
  static_cast<LobObject*>(lob)->descriptor = strdup("C000000000001:200000");
  fetch_lob(c.conn(), static_cast<LobObject*>(lob));
  char buf[4096];
  while (VMC_GetLobData(&lob, buf, sizeof buf) > 0) {
  }
  VMC_FreeLob(&lob);
  return 0;
}
