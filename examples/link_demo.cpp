// Logs in to a server on a plain and on an encrypted link and runs a few
// statements over each through the client library: the server's version, an
// INSERT with a bound value, and a SELECT read through a server cursor.
//
//   link_demo HOST PORT
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/vmc.h"

namespace {

std::string error_of(VMC_Handle conn) {
  char text[1024] = {};
  int len = 0;
  VMC_GetError(&conn, text, &len);
  return text;
}

bool try_link(const std::string& host, const std::string& port, bool encrypted) {
  const std::string conn_str = "IP=" + host + ";PORT=" + port + ";DB=demo;USER=demo;PWD=demo-password;verbose_mode=0" +
                               (encrypted ? ";USE_SSL=on" : "");
  std::printf("%s link to %s:%s\n", encrypted ? "encrypted" : "plain", host.c_str(), port.c_str());
  VMC_Handle conn = nullptr;
  if (VMC_OpenConn(conn_str.c_str(), &conn) != RC_OPEN_OK) {
    std::printf("  cannot log in: %s\n", error_of(conn).c_str());
    VMC_CloseConn(&conn);
    return false;
  }
  char version[64] = {};
  int type = 0, len = 0;
  VMC_GetAttr(&conn, 1, version, sizeof version, &type, &len);
  std::printf("  logged in to %s\n", version);

  bool ok = VMC_ExecuteNoQuery(&conn, "CREATE TABLE IF NOT EXISTS greeting (id INTEGER PRIMARY KEY, text VARCHAR(40))") >= 0;
  std::string text = encrypted ? "through the keystream and back" : "over the plain link and back";
  int text_len = static_cast<int>(text.size());
  VMC_BindParam(&conn, 1, 1, CT_TEXT, text.data(), text_len, &text_len);
  ok = ok && VMC_ExecuteNoQuery(&conn, "INSERT INTO greeting (text) VALUES (?)") == 1;

  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t rows = 0;
  ok = ok && VMC_ExecuteQuery(&conn, "SELECT id, text FROM greeting ORDER BY id", &result, &fields, &rows, &affected) >= 0;
  while (ok && VMC_Fetch(&result) == RC_SUCCESS) {
    int64_t id = 0;
    char value[64] = {};
    VMC_GetData(&result, 1, CT_INT64, &id, sizeof id, &len);
    VMC_GetData(&result, 2, CT_TEXT, value, sizeof value, &len);
    std::printf("  row %lld: %s\n", static_cast<long long>(id), value);
  }
  VMC_FreeResult(&result);
  if (!ok) std::printf("  failed: %s\n", error_of(conn).c_str());
  VMC_CloseConn(&conn);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s HOST PORT\n", argv[0]);
    return 2;
  }
  bool ok = try_link(argv[1], argv[2], false);
  ok = try_link(argv[1], argv[2], true) && ok;
  return ok ? 0 : 1;
}
