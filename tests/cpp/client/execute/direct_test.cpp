#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "client/params/param_set.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"
#include "client/vmc_internal.h"
#include "platform/lock.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/scripted_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

ReplyBytes& frame(ReplyBytes& w, const char* sql, uint32_t count) {
  return w.letter('?').text(sql).u8(0).u32(count);
}
// A record of a slot bound by position: no name, then direction, wire type and length.
ReplyBytes& record(ReplyBytes& w, uint16_t direction, uint16_t wire, uint32_t length) {
  return w.u16(0).u16(direction).u16(wire).u32(length);
}

// Whether another thread can take the lock now.
bool lock_is_free(PlatformLock* lock) {
  std::promise<void> taken;
  std::future<void> done = taken.get_future();
  std::thread t([&] {
    lock_take(lock);
    lock_release(lock);
    taken.set_value();
  });
  const bool free = done.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  if (!free) lock_release(lock);  // let the waiter through so that it ends
  t.join();
  return free;
}

class Execute : public ::testing::Test {
 protected:
  void SetUp() override {
    conn()->lock = lock_create(0, 2000000000);
    lock_release(conn()->lock);
    handle_ = conn();
  }
  void TearDown() override {
    VMC_ClearParams(&handle_);
    lock_close(conn()->lock);
  }
  Conn* conn() const { return link_.client; }
  void reply(const ReplyBytes& r) { link_.peer_answer(r.bytes); }
  Bytes sent() { return link_.peer_read_available(20); }

  testpeer::LinkPair link_;
  VMC_Handle handle_ = nullptr;
};

}  // namespace

TEST_F(Execute, StatementsWithoutParameters) {
  ReplyBytes expected;
  frame(expected, "UPDATE t SET a = 1", 0);

  reply(ReplyBytes().letter('U').u32(3).letter('K'));
  EXPECT_EQ(VMC_ExecuteNoQuery(&handle_, "UPDATE t SET a = 1"), 3);
  EXPECT_EQ(sent(), expected.bytes);

  char out[64] = {};
  int type = -1;
  reply(ReplyBytes().letter('U').u32(3).letter('K'));
  EXPECT_EQ(VMC_ExecuteValue(&handle_, "UPDATE t SET a = 1", out, &type), 2);
  EXPECT_EQ(sent(), expected.bytes);
  int32_t count = 0;
  std::memcpy(&count, out, 4);
  EXPECT_EQ(count, 3);

  std::memset(out, 0, sizeof out);
  reply(ReplyBytes().letter('A').u32(1).field("auto_commit", ST_CHAR, 8).letter('R').text("ON").letter('K'));
  EXPECT_EQ(VMC_ExecuteValue(&handle_, "SHOW AUTO_COMMIT;", out, &type), 0);
  EXPECT_STREQ(out, "ON");
  EXPECT_EQ(type, ST_CHAR);
  ReplyBytes show;
  frame(show, "SHOW AUTO_COMMIT;", 0);
  EXPECT_EQ(sent(), show.bytes);
}

// A statement whose reply may carry rows goes out and is read as
// VMC_ExecuteValue sends and reads it: the same frame (and the one '.' after
// a full first batch of 200 rows), answer and console lines. A reply of
// counts leaves the same answer area and no rows; one that carries result
// sets hands them all out, in order.
TEST_F(Execute, AValueStatementKeepsTheRowsOfItsReply) {
  const char* sql = "UPDATE t SET a = 1 RETURNING a";
  auto rows = [](int n) {
    ReplyBytes r;
    r.letter('A').u32(1).field("a", ST_INT32, 4);
    for (int i = 0; i < n; ++i) r.letter('R').u32(4).u32(static_cast<uint32_t>(i));
    return r;
  };
  struct Case {
    const char* what;
    ReplyBytes reply;
    int code;
    std::vector<int64_t> kept;  // rows of each result set handed out
    bool dot;                   // the reader asks for the rows after the first 200
    int holds;                  // what the area holds
  };
  constexpr int kNone = 0;
  constexpr int kRowId = SQL_KIND_INSERT;
  constexpr int kUpdated = SQL_KIND_UPDATE;
  constexpr int kDeleted = SQL_KIND_DELETE;
  const Case cases[] = {
      {"a refusal", ReplyBytes().letter('E').text("[ES001]no such table: t").letter('K'), -1, {}, false, kNone},
      // A warning behind a count answers as a row id does; the area's kind tells them apart.
      {"a delete count and a warning", ReplyBytes().letter('D').u32(4).letter('W').text("careful").letter('K'), 1, {},
       false, kDeleted},
      {"an update count and a row id", ReplyBytes().letter('U').u32(4).letter('I').text("8").letter('K'), 1, {}, false,
       kRowId},
      {"a count and 201 rows", ReplyBytes().letter('U').u32(2).then(rows(201)).letter('K'), 0, {201}, true, kUpdated},
      {"two result sets", rows(1).then(rows(3)).letter('K'), 0, {1, 3}, false, kNone},
      {"rows and a count", rows(1).letter('U').u32(1).letter('K'), 2, {1}, false, kUpdated},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReplyBytes expected;
    frame(expected, sql, 0);
    if (c.dot) expected.letter('.');

    char value_area[64] = {};
    int value_type = 0;
    reply(c.reply);
    testing::internal::CaptureStdout();
    EXPECT_EQ(VMC_ExecuteValue(&handle_, sql, value_area, &value_type), c.code);
    const std::string value_lines = testing::internal::GetCapturedStdout();
    EXPECT_EQ(sent(), expected.bytes);

    char area[64] = {};
    int type = 0;
    int on_heap = -1;
    int holds = -1;
    VMC_Handle kept = nullptr;
    reply(c.reply);
    testing::internal::CaptureStdout();
    EXPECT_EQ(vmc_execute_value_rows(&handle_, sql, area, &type, &on_heap, &kept, &holds), c.code);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), value_lines);
    EXPECT_EQ(sent(), expected.bytes);
    EXPECT_EQ(on_heap, 0);
    EXPECT_EQ(holds, c.holds);

    std::vector<int64_t> got;
    for (auto* r = static_cast<ResultSet*>(kept); r; r = r->next) got.push_back(r->row_count);
    EXPECT_EQ(got, c.kept);
    if (c.kept.empty()) {
      EXPECT_EQ(std::memcmp(area, value_area, sizeof area), 0);
      EXPECT_EQ(type, value_type);
    } else {
      EXPECT_EQ(VMC_Fetch(&kept), c.kept[0] > 0 ? RC_SUCCESS : RC_NO_DATA);
    }
    EXPECT_EQ(VMC_FreeResult(&kept), 0);
  }
}

TEST_F(Execute, ATransientSetGoesOutOnceAndIsReleased) {
  int32_t a = 0x01020304;
  char text[] = "hey";
  char ret[8] = {};
  int len4 = 4;
  int len3 = 3;
  int ret_len = 0;
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 1, CT_INT32, &a, 4, &len4), 0);
  ASSERT_EQ(VMC_BindParam(&handle_, 2, 1, CT_TEXT, text, 3, &len3), 0);
  // A return-value slot goes without a record but is counted here.
  ASSERT_EQ(VMC_BindParam(&handle_, 3, 6, CT_TEXT, ret, sizeof ret, &ret_len), 0);
  reply(ReplyBytes().letter('K'));
  EXPECT_EQ(VMC_ExecuteNoQuery(&handle_, "CALL p(?, ?)"), 0);
  ReplyBytes expected;
  frame(expected, "CALL p(?, ?)", 3);
  record(expected, 1, ST_INT32, 4).u32(0x01020304);
  record(expected, 1, ST_CHAR, 3).raw("hey");
  EXPECT_EQ(sent(), expected.bytes);
  EXPECT_EQ(conn()->params, nullptr);

  // The next statement starts without parameters.
  reply(ReplyBytes().letter('K'));
  EXPECT_EQ(VMC_ExecuteValue(&handle_, "COMMIT;", nullptr, nullptr), 0);
  ReplyBytes plain;
  frame(plain, "COMMIT;", 0);
  EXPECT_EQ(sent(), plain.bytes);
}

TEST_F(Execute, ACallerOwnedSetIsOnlyDetached) {
  VMC_Handle set = nullptr;
  ASSERT_EQ(VMC_AllocParams(&set), 0);
  int64_t v = 7;
  int len8 = 8;
  ASSERT_EQ(VMC_BindParam(&set, 1, 1, CT_INT64, &v, 8, &len8), 0);
  ReplyBytes expected;
  frame(expected, "DELETE FROM t WHERE id = ?", 1);
  record(expected, 1, ST_INT64, 8).u64(7);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(VMC_SetParams(&handle_, &set), 0);
    reply(ReplyBytes().letter('D').u32(1).letter('K'));
    char out[64] = {};
    int type = 0;
    EXPECT_EQ(VMC_ExecuteValue(&handle_, "DELETE FROM t WHERE id = ?", out, &type), 3) << round;
    EXPECT_EQ(sent(), expected.bytes) << "the same values go out again";
    EXPECT_EQ(conn()->params, nullptr);
    EXPECT_EQ(static_cast<ParamSet*>(set)->count, 1);
  }
  VMC_FreeHandle(&set);
}

TEST_F(Execute, OutputParametersAndTheReturnValueLandInTheirSlots) {
  int32_t in = 5;
  int32_t out_value = 0;
  char ret[16] = {};
  int len4 = 4;
  int out_len = 4;
  int ret_len = -1;
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 1, CT_INT32, &in, 4, &len4), 0);
  ASSERT_EQ(VMC_BindParam(&handle_, 2, 2, CT_INT32, &out_value, 4, &out_len), 0);
  ASSERT_EQ(VMC_BindParam(&handle_, 3, 6, CT_TEXT, ret, sizeof ret, &ret_len), 0);
  ParamSet* set = conn()->params;
  reply(ReplyBytes().letter('P').u32(1).u32(ST_INT32).u32(4).u32(77).letter('O').u32(ST_CHAR).u32(2).raw("ok")
            .letter('K'));
  VMC_Handle result = nullptr;
  EXPECT_EQ(VMC_ExecuteWithOutput(&handle_, "? = CALL f(?, ?)", &result), 0);
  ReplyBytes expected;
  frame(expected, "? = CALL f(?, ?)", 2);
  record(expected, 1, ST_INT32, 4).u32(5);
  record(expected, 2, ST_INT32, 4).u32(0);
  EXPECT_EQ(sent(), expected.bytes);
  EXPECT_EQ(out_value, 77);
  EXPECT_EQ(out_len, 4);
  EXPECT_STREQ(ret, "ok");
  EXPECT_EQ(ret_len, 2);
  EXPECT_EQ(result, nullptr);
  // The transient set stays attached, emptied for the next statement.
  EXPECT_EQ(conn()->params, set);
  EXPECT_EQ(set->count, 0);
  EXPECT_EQ(set->values, nullptr);
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 1, CT_INT32, &in, 4, &len4), 0);
  EXPECT_EQ(set->count, 1);
}

TEST_F(Execute, OutputExecutionWithAResultSetOrNothingBound) {
  int32_t out_value = 0;
  int out_len = 0;
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 2, CT_INT32, &out_value, 4, &out_len), 0);
  reply(ReplyBytes().letter('A').u32(1).field("n", ST_INT32).letter('R').u32(4).u32(9).letter('K'));
  VMC_Handle result = nullptr;
  EXPECT_EQ(VMC_ExecuteWithOutput(&handle_, "CALL rows(?)", &result), 1);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(static_cast<ResultSet*>(result)->row_count, 1);
  free_result(static_cast<ResultSet*>(result));
  sent();

  VMC_ClearParams(&handle_);
  reply(ReplyBytes().letter('O').u32(ST_INT32).u32(4).u32(1).letter('K'));
  result = nullptr;
  EXPECT_EQ(VMC_ExecuteWithOutput(&handle_, "? = CALL f()", &result), -56);
  EXPECT_STREQ(conn()->error_text, "[EC0056]when execute sql with output params or return value need bind_params");
  ReplyBytes expected;
  frame(expected, "? = CALL f()", 0);
  EXPECT_EQ(sent(), expected.bytes);
}

TEST_F(Execute, AnUnboundSlotKeepsTheSlotsForTheOutputValues) {
  // Bound only at position 2: the unbound first slot keeps the set's slots
  // for the reply, whose return value finds an input slot and is dropped.
  int32_t in = 5;
  int len4 = 4;
  ASSERT_EQ(VMC_BindParam(&handle_, 2, 1, CT_INT32, &in, 4, &len4), 0);
  reply(ReplyBytes().letter('O').u32(ST_INT32).u32(4).u32(42).letter('K'));
  EXPECT_EQ(VMC_ExecuteWithOutput(&handle_, "CALL p(?, ?)", nullptr), 0);
  EXPECT_EQ(conn()->error_text, nullptr);
  sent();
}

TEST_F(Execute, HandlesThatNameNoOpenConnectionAreRefused) {
  VMC_Handle none = nullptr;
  VMC_Handle set = nullptr;
  ASSERT_EQ(VMC_AllocParams(&set), 0);
  char out[64] = {};
  int type = 0;
  for (VMC_Handle* h : {static_cast<VMC_Handle*>(nullptr), &none, &set}) {
    EXPECT_EQ(VMC_ExecuteNoQuery(h, "x"), -3);
    EXPECT_EQ(VMC_ExecuteValue(h, "x", out, &type), -3);
    EXPECT_EQ(VMC_ExecuteWithOutput(h, "x", nullptr), -3);
  }
  VMC_FreeHandle(&set);
  EXPECT_EQ(VMC_ExecuteNoQuery(&handle_, nullptr), -3);
  EXPECT_TRUE(sent().empty());
}

TEST_F(Execute, EachExchangeHoldsTheLockToItsEnd) {
  // Nothing goes out while another exchange holds the lock.
  lock_take(conn()->lock);
  reply(ReplyBytes().letter('U').u32(1).letter('K'));
  std::future<int> run = std::async(std::launch::async, [this] { return VMC_ExecuteNoQuery(&handle_, "U"); });
  EXPECT_TRUE(sent().empty());
  lock_release(conn()->lock);
  EXPECT_EQ(run.get(), 1);
  sent();
  EXPECT_TRUE(lock_is_free(conn()->lock));

  // A link that breaks still gives the lock back, with the transient set gone.
  int one = 1;
  int len4 = 4;
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 1, CT_INT32, &one, 4, &len4), 0);
  link_.peer_close();
  testing::internal::CaptureStdout();
  EXPECT_EQ(VMC_ExecuteNoQuery(&handle_, "U"), -4);
  char out[64] = {};
  int type = 0;
  EXPECT_EQ(VMC_ExecuteValue(&handle_, "U", out, &type), -4);
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 2, CT_INT32, &one, 4, &len4), 0);
  EXPECT_EQ(VMC_ExecuteWithOutput(&handle_, "U", nullptr), -4);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(lock_is_free(conn()->lock));
  ASSERT_NE(conn()->params, nullptr);
  EXPECT_EQ(conn()->params->count, 0);
}

// A set bound by rows has no single row to send: every execution of one row
// refuses it before a byte goes out, and the next statement finds the link in
// step and no set. A caller's own set is only detached, its rows intact.
TEST_F(Execute, ASetBoundByRowsIsRefusedByEveryExecutionOfOneRow) {
  struct Case {
    const char* what;
    std::function<int(VMC_Handle*)> call;
  };
  char out[64] = {};
  int type = 0;
  char cursor[64] = {};
  const Case cases[] = {
      {"VMC_ExecuteNoQuery", [](VMC_Handle* h) { return VMC_ExecuteNoQuery(h, "INSERT INTO t VALUES (?)"); }},
      {"VMC_ExecuteValue", [&](VMC_Handle* h) { return VMC_ExecuteValue(h, "INSERT INTO t VALUES (?)", out, &type); }},
      {"VMC_ExecuteWithOutput", [](VMC_Handle* h) { return VMC_ExecuteWithOutput(h, "CALL p(?)", nullptr); }},
      {"VMC_ExecuteQuery",
       [](VMC_Handle* h) {
         VMC_Handle result = nullptr;
         const int rc = VMC_ExecuteQuery(h, "SELECT a FROM t WHERE a = ?", &result, nullptr, nullptr, nullptr);
         VMC_FreeResult(&result);
         return rc;
       }},
      {"VMC_Execute", [](VMC_Handle* h) { return VMC_Execute(h, nullptr); }},
      {"VMC_Execute2 by name", [](VMC_Handle* h) { return VMC_Execute2(h, "STC0", nullptr, nullptr); }},
      {"VMC_Execute2 through a cursor", [&](VMC_Handle* h) { return VMC_Execute2(h, "STC0", cursor, nullptr); }},
      {"VMC_DeclareCursor",
       [](VMC_Handle* h) {
         ResultSet* declared = nullptr;
         return VMC_DeclareCursor(h, "SELECT a FROM t WHERE a = ?", "C1", &declared, nullptr);
       }},
  };
  conn()->prepare_pending = 1;
  std::snprintf(conn()->prepare_name, sizeof conn()->prepare_name, "STC0");
  int32_t ints[2] = {1, 2};
  int lengths[2] = {4, 4};
  ReplyBytes next;
  frame(next, "COMMIT;", 0);
  for (const bool caller_owned : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (caller_owned ? ", a set of the caller's" : ""));
      VMC_Handle set = nullptr;
      if (caller_owned) {
        ASSERT_EQ(VMC_AllocParams(&set), 0);
        ASSERT_EQ(VMC_BindParamArray(&set, 1, 1, 1, CT_INT32, 2, ints, sizeof ints, lengths), 0);
        ASSERT_EQ(VMC_SetParams(&handle_, &set), 0);
      } else {
        ASSERT_EQ(VMC_BindParamArray(&handle_, 1, 1, 1, CT_INT32, 2, ints, sizeof ints, lengths), 0);
      }
      EXPECT_EQ(c.call(&handle_), -1);
      EXPECT_STREQ(conn()->error_text, "[EC062]Error bindparam array rows 1 do not match the 2 rows bound");
      EXPECT_TRUE(sent().empty());
      EXPECT_EQ(conn()->params, nullptr);
      if (caller_owned) {
        EXPECT_EQ(static_cast<ParamSet*>(set)->batch_rows, 2);
        VMC_FreeHandle(&set);
      }
      reply(ReplyBytes().letter('U').u32(1).letter('K'));
      EXPECT_EQ(VMC_ExecuteNoQuery(&handle_, "COMMIT;"), 1);
      EXPECT_EQ(sent(), next.bytes);
    }
  }
}
