// The login: what a server answers on the plain link (first byte even) or on
// the encrypted link (odd): its two numbers, then the acceptance.
#include "client/connection/conn_link.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::FuzzConn c(data + 1, size - 1, "USER=u;PWD=p;DB=d;LOB_RET=1;");
  c.conn()->link.use_ssl = data[0] & fuzz::kEnciphered;
  conn_login(c.conn());
  return 0;
}
