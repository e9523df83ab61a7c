#include "tests/cpp/support/standin_fixture.h"

#include <cstring>

#include "client/values/type_codes.h"

namespace standin_test {

void StandinTest::SetUp() {
  options.log = nullptr;
  restart();
}

void StandinTest::TearDown() {
  for (VMC_Handle& c : conns_) VMC_CloseConn(&c);
  conns_.clear();
  server_.reset();
}

void StandinTest::restart() {
  server_.reset();
  server_ = std::make_unique<standin::Server>(options);
  std::string error;
  ASSERT_TRUE(server_->start(&error)) << error;
}

std::string StandinTest::conn_string(const std::string& more) const {
  return "IP=127.0.0.1;PORT=" + std::to_string(port()) + ";DB=main;USER=tester;PWD=secret;verbose_mode=0;" + more;
}

VMC_Handle StandinTest::open(const std::string& more) {
  VMC_Handle conn = nullptr;
  const int rc = VMC_OpenConn(conn_string(more).c_str(), &conn);
  if (rc != RC_OPEN_OK) {
    ADD_FAILURE() << "open failed with " << rc << ": " << error_of(conn);
    VMC_CloseConn(&conn);
    return nullptr;
  }
  conns_.push_back(conn);
  return conn;
}

std::string StandinTest::error_of(VMC_Handle handle) {
  char text[1024] = {};
  int len = 0;
  if (!handle) return {};
  VMC_GetError(&handle, text, &len);
  return text;
}

int StandinTest::exec(VMC_Handle conn, const std::string& sql) { return VMC_ExecuteNoQuery(&conn, sql.c_str()); }

std::string StandinTest::value(VMC_Handle conn, const std::string& sql, int* rc) {
  char out[64] = {};
  int type = 0;
  const int code = VMC_ExecuteValue(&conn, sql.c_str(), out, &type);
  if (rc) *rc = code;
  if (code == 2 || code == 3) return std::to_string(*reinterpret_cast<int32_t*>(out));
  return std::string(out, strnlen(out, sizeof out));
}

std::vector<std::string> StandinTest::fetch_all(VMC_Handle* result) {
  std::vector<std::string> out;
  uint32_t fields = 0;
  VMC_GetFieldCount(result, &fields);
  while (VMC_Fetch(result) == RC_SUCCESS) {
    std::string row;
    for (int col = 1; col <= static_cast<int>(fields); ++col) {
      char text[256] = {};
      int len = 0;
      const int got = VMC_GetData(result, col, CT_TEXT, text, sizeof text, &len);
      if (col > 1) row += '|';
      row += got == RC_NO_ROW_OR_NULL ? std::string("~") : std::string(text, strnlen(text, sizeof text));
    }
    out.push_back(row);
  }
  return out;
}

std::vector<std::string> StandinTest::rows(VMC_Handle conn, const std::string& sql, int* rc) {
  VMC_Handle result = nullptr;
  int fields = 0;
  int64_t count = 0;
  int affected = 0;
  const int code = VMC_ExecuteQuery(&conn, sql.c_str(), &result, &fields, &count, &affected);
  if (rc) *rc = code;
  std::vector<std::string> out = result ? fetch_all(&result) : std::vector<std::string>{};
  VMC_FreeResult(&result);
  return out;
}

}  // namespace standin_test
