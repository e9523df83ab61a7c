// Tests against the stand-in server, run in this process on a fresh
// temporary database, through the client library.
#ifndef RIZEZOVA_TESTS_SUPPORT_STANDIN_FIXTURE_H
#define RIZEZOVA_TESTS_SUPPORT_STANDIN_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/vmc.h"
#include "tools/standin/core/server.h"

namespace standin_test {

class StandinTest : public ::testing::Test {
 protected:
  // Options of the server the next start() makes; SetUp starts one with these.
  standin::ServerOptions options;

  void SetUp() override;
  void TearDown() override;
  // Stops the running server and starts one with `options`.
  void restart();
  uint16_t port() const { return server_->port(); }

  // The connection string for this server, with `more` appended.
  std::string conn_string(const std::string& more = "") const;
  // Opens a connection that the test closes at its end; null when the open failed.
  VMC_Handle open(const std::string& more = "");
  // The last error text of a handle.
  static std::string error_of(VMC_Handle handle);

  // A statement without rows; its result code.
  static int exec(VMC_Handle conn, const std::string& sql);
  // The first value of a statement's answer as text (VMC_ExecuteValue).
  static std::string value(VMC_Handle conn, const std::string& sql, int* rc = nullptr);
  // Every row of a SELECT through VMC_ExecuteQuery, each as its column texts
  // joined by '|' (NULL as "~").
  static std::vector<std::string> rows(VMC_Handle conn, const std::string& sql, int* rc = nullptr);
  // The rows of the current result that a handle holds, stepped with VMC_Fetch.
  static std::vector<std::string> fetch_all(VMC_Handle* result);

 private:
  std::unique_ptr<standin::Server> server_;
  std::vector<VMC_Handle> conns_;
};

}  // namespace standin_test

#endif
