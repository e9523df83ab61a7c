// A reply the client cannot follow to its end puts the link out of step with
// its replies: the link is closed, so that no later call answers with
// another's reply.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "client/columns/lob_fetch.h"
#include "client/lob/lob.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"
#include "platform/lock.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/scripted_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A client on a socket pair with its lock, as an open connection has it.
struct Client {
  testpeer::LinkPair link;
  VMC_Handle h = link.client;
  Client() {
    link.client->lock = lock_create(0, 2000000000);
    lock_release(link.client->lock);
  }
  ~Client() {
    VMC_ClearParams(&h);
    lock_close(link.client->lock);
  }
};

constexpr const char* kNext = "INSERT INTO t VALUES (1)";

}  // namespace

// Each reader meets a letter it cannot follow: the call answers as far as
// it read, and the next call fails on the closed link without a word sent.
TEST(OutOfStep, ALetterNoReaderCanFollowClosesTheLink) {
  struct Case {
    const char* what;
    std::vector<ReplyBytes> answers;
    std::function<int(VMC_Handle*, Conn*)> call;
    int answer;
  };
  const ReplyBytes count_then_stray = ReplyBytes().letter('U').u32(1).letter('Z').letter('K');
  const ReplyBytes refusal_then_stray = ReplyBytes().letter('E').text("no").letter('Z').letter('K');
  const ReplyBytes row_then_stray =
      ReplyBytes().letter('A').u32(1).field("t.n", ST_INT32, 4).letter('R').u32(4).u32(7).letter('Z').letter('K');
  int32_t out_value = 0;
  int out_len = 4;
  const Case cases[] = {
      {"a statement without rows", {count_then_stray},
       [](VMC_Handle* h, Conn*) { return VMC_ExecuteNoQuery(h, "UPDATE t SET a = 1"); }, 1},
      {"a single value", {count_then_stray},
       [](VMC_Handle* h, Conn*) {
         char out[64] = {};
         int type = 0;
         return VMC_ExecuteValue(h, "UPDATE t SET a = 1", out, &type);
       },
       0},
      {"output values", {count_then_stray},
       [&](VMC_Handle* h, Conn*) {
         VMC_BindParam(h, 1, 2, CT_INT32, &out_value, 4, &out_len);
         return VMC_ExecuteWithOutput(h, "CALL p(?)", nullptr);
       },
       0},
      {"a chain of results", {count_then_stray},
       [](VMC_Handle* h, Conn*) {
         VMC_Handle result = nullptr;
         const int rc = VMC_ExecuteQuery(h, "UPDATE t SET a = 1", &result, nullptr, nullptr, nullptr);
         VMC_FreeResult(&result);
         return rc;
       },
       0},
      {"one result", {row_then_stray},
       [](VMC_Handle* h, Conn*) {
         ResultSet* result = nullptr;
         const int rc = VMC_ExecuteToResult(h, "SELECT n FROM t", &result);
         VMC_FreeResult(reinterpret_cast<VMC_Handle*>(&result));
         return rc;
       },
       1},
      {"a block of a server cursor", {ReplyBytes().letter('K'), ReplyBytes().letter('K'), row_then_stray},
       [](VMC_Handle* h, Conn*) {
         VMC_Handle result = nullptr;
         const int rc = VMC_ExecuteQuery(h, "SELECT n FROM t", &result, nullptr, nullptr, nullptr);
         VMC_FreeResult(&result);
         return rc;
       },
       1},
      {"the refusal of an OPEN", {ReplyBytes().letter('K'), refusal_then_stray},
       [](VMC_Handle* h, Conn*) {
         ResultSet* declared = nullptr;
         return VMC_DeclareCursor(h, "SELECT n FROM t", "C1", &declared, nullptr);
       },
       RC_ERROR},
      {"the refusal of a CLOSE", {refusal_then_stray},
       [](VMC_Handle* h, Conn*) { return VMC_CloseCursor(h, "C1"); }, RC_ERROR},
      {"a LOB's pieces", {ReplyBytes().letter('A').u32(1).field("LOB", ST_CLOB).letter('Z').u32(1).text("x")},
       [](VMC_Handle*, Conn* conn) {
         VMC_Handle lob = nullptr;
         VMC_CreateLob(&lob);
         static_cast<LobObject*>(lob)->descriptor = strdup("C000000000001:9");
         const int rc = fetch_lob(conn, static_cast<LobObject*>(lob));
         VMC_FreeLob(&lob);
         return rc;
       },
       0},
  };
  testing::internal::CaptureStdout();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Client client;
    for (const ReplyBytes& a : c.answers) client.link.peer_answer(a.bytes);
    EXPECT_EQ(c.call(&client.h, client.link.client), c.answer);
    client.link.peer_read_available(20);
    client.link.peer_answer(ReplyBytes().letter('I').text("rid-9").letter('K').bytes);
    EXPECT_EQ(VMC_ExecuteNoQuery(&client.h, kNext), RC_READ_FAILED);
    EXPECT_TRUE(client.link.peer_read_available(20).empty());
  }
  testing::internal::GetCapturedStdout();
}
