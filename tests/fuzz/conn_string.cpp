// A connection string read into a record, and the login texts its settings
// make on both links.
#include <string>

#include "client/connection/conn_link.h"
#include "client/connection/conn_string.h"
#include "tests/fuzz/support/fuzz_conn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  fuzz::FuzzConn c(nullptr, 0, text.c_str());
  char login[kLoginBufSize];
  build_login_text(login_settings_of(c.conn()), false, login, sizeof login);
  build_login_text(login_settings_of(c.conn()), true, login, kMaxEncryptedLoginText + 1);
  return 0;
}
