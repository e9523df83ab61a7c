#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/params/param_set.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"
#include "platform/lock.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/scripted_peer.h"
#include "tools/standin/core/command_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

ReplyBytes& frame(ReplyBytes& w, const std::string& sql, uint32_t count) {
  return w.letter('?').text(sql).u8(0).u32(count);
}

// The texts of a run of '?' frames that carry no values.
std::vector<std::string> frame_texts(const Bytes& b) {
  std::vector<std::string> out;
  size_t at = 0;
  auto u32 = [&](size_t i) { return uint32_t{b[i]} << 24 | uint32_t{b[i + 1]} << 16 | uint32_t{b[i + 2]} << 8 | b[i + 3]; };
  while (at + 5 <= b.size() && b[at] == '?') {
    const uint32_t n = u32(at + 1);
    if (at + 10 + n > b.size()) break;
    out.emplace_back(reinterpret_cast<const char*>(&b[at + 5]), n);
    if (u32(at + 6 + n) != 0) break;  // values follow: not read here
    at += 10 + n;
  }
  return out;
}

// A FETCH reply of one int column and no rows.
ReplyBytes empty_block() { return ReplyBytes().letter('A').u32(1).field("t.n", ST_INT32, 4).letter('K'); }

class Prepared : public ::testing::Test {
 protected:
  void SetUp() override {
    conn()->lock = lock_create(0, 2000000000);
    lock_release(conn()->lock);
  }
  void TearDown() override {
    VMC_ClearParams(&h_);
    lock_close(conn()->lock);
  }
  Conn* conn() const { return link_.client; }
  void reply(const ReplyBytes& r) { link_.peer_answer(r.bytes); }
  Bytes sent() { return link_.peer_read_available(20); }
  std::string error() const { return conn()->error_text ? conn()->error_text : ""; }

  testpeer::LinkPair link_;
  VMC_Handle h_ = link_.client;
};

}  // namespace

// Statements and server cursors are named from one counter; the parameters
// that PREPARE describes are bound by name and go out with the execution.
TEST_F(Prepared, DescribedParametersAreBoundByNameAndSentWithTheExecution) {
  for (int i = 0; i < 2; ++i) {
    // DECLARE, OPEN, an empty FETCH and the CLOSE of a short result.
    reply(ReplyBytes().letter('K'));
    reply(ReplyBytes().letter('K'));
    reply(empty_block());
    reply(ReplyBytes().letter('K'));
    VMC_Handle result = nullptr;
    ASSERT_EQ(VMC_ExecuteQuery(&h_, "SELECT n FROM t", &result, nullptr, nullptr, nullptr), 0);
    VMC_FreeResult(&result);
  }
  sent();

  reply(ReplyBytes()
            .letter('$').u32(2).text("a").u32(1).u32(ST_INT32).u32(4).text("b").u32(2).u32(ST_CHAR).u32(20)
            .letter('K'));
  EXPECT_EQ(VMC_Prepare(&h_, "INSERT INTO t VALUES (:a, :b)"), 0);
  EXPECT_EQ(frame_texts(sent()), std::vector<std::string>{"PREPARE STC2 AS INSERT INTO t VALUES (:a, :b)"});
  EXPECT_EQ(conn()->prepare_pending, 1);
  ASSERT_NE(conn()->params, nullptr);
  EXPECT_EQ(conn()->params->count, 2);

  // An unbound description cannot be executed by name.
  EXPECT_EQ(VMC_Execute2(&h_, "STC2", nullptr, nullptr), -59);
  EXPECT_EQ(error(), "[EC059]Error params need values-bind, here params without bindparams-byname or bindparams-bypos  \n");

  char text[] = "hey";
  int32_t value = 7;
  int len3 = 3, len4 = 4;
  ASSERT_EQ(VMC_BindParamByName(&h_, "B", 1, CT_TEXT, text, 20, nullptr, &len3), 0);
  ASSERT_EQ(VMC_BindParamByName(&h_, "a", 1, CT_INT32, &value, 4, nullptr, &len4), 0);
  EXPECT_EQ(VMC_BindParamByName(&h_, "c", 1, CT_INT32, &value, 4, nullptr, &len4), -1);

  reply(ReplyBytes().letter('U').u32(1).letter('K'));
  ResultSet* out = nullptr;
  EXPECT_EQ(VMC_Execute(&h_, &out), 0);
  ReplyBytes expected;
  frame(expected, "? STC2 ", 2);
  expected.u16(1).raw("a").u16(1).u16(ST_INT32).u32(4).u32(7);
  expected.u16(1).raw("b").u16(1).u16(ST_CHAR).u32(3).raw("hey");
  EXPECT_EQ(sent(), expected.bytes);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->affected, 1);
  free_result_chain(out);
  EXPECT_EQ(conn()->params, nullptr);

  // A second prepare releases the first on the server, and a description of
  // result columns says the statement returns rows.
  reply(ReplyBytes().letter('K'));
  reply(ReplyBytes().letter('A').u32(1).field("t.n", ST_INT32, 4).letter('K'));
  EXPECT_EQ(VMC_Prepare(&h_, "SELECT n FROM t"), 19665);
  EXPECT_EQ(frame_texts(sent()), (std::vector<std::string>{"DEALLOCATE STC2 ", "PREPARE STC3 AS SELECT n FROM t"}));
  ASSERT_NE(conn()->prepare_desc, nullptr);
  EXPECT_EQ(conn()->prepare_desc->field_count, 1);
  EXPECT_EQ(conn()->prepare_pending, 1);

  reply(ReplyBytes().letter('K'));
  EXPECT_EQ(VMC_UnPrepare(&h_, nullptr), 0);
  EXPECT_EQ(frame_texts(sent()), std::vector<std::string>{"DEALLOCATE STC3 "});
  EXPECT_EQ(conn()->prepare_pending, 0);
}

// Statements prepared under a name leave the default statement alone, run
// directly or through a cursor over them, and are released by their owner.
TEST_F(Prepared, NamedStatementsRunDirectlyOrThroughACursor) {
  reply(ReplyBytes().letter('K'));
  ASSERT_EQ(VMC_Prepare(&h_, "DELETE FROM t"), 0);  // STC0, the default
  char name[15] = {};
  reply(ReplyBytes().letter('K'));
  ASSERT_EQ(VMC_Prepare2(&h_, "SELECT n FROM t", name), 0);
  EXPECT_STREQ(name, "STC1");
  sent();

  char cursor[57] = {};
  reply(ReplyBytes().letter('K'));
  reply(ReplyBytes().letter('K'));
  EXPECT_EQ(VMC_Execute2(&h_, name, cursor, nullptr), 0);
  EXPECT_STREQ(cursor, "STC1_CUR");
  EXPECT_EQ(frame_texts(sent()), (std::vector<std::string>{"DECLARE  STC1_CUR CURSOR FOR STC1 ", "OPEN STC1_CUR ;"}));

  // OPEN refused: the server's text, and nothing handed out.
  ResultSet* out = nullptr;
  reply(ReplyBytes().letter('A').u32(1).field("t.n", ST_INT32, 4).letter('K'));
  reply(ReplyBytes().letter('E').text("no open").letter('K'));
  EXPECT_EQ(VMC_Execute2(&h_, name, cursor, &out), -1);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(error(), "no open");
  sent();

  // A refused execution keeps the text that was sent with the server's.
  reply(ReplyBytes().letter('E').text("bad").letter('K'));
  EXPECT_EQ(VMC_Execute2(&h_, "STC9", nullptr, &out), -1);
  EXPECT_EQ(error(), "sql:? STC9  errinfo: bad \n");
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(frame_texts(sent()), std::vector<std::string>{"? STC9 "});

  reply(ReplyBytes().letter('K'));
  EXPECT_EQ(VMC_UnPrepare(&h_, name), 0);
  EXPECT_EQ(frame_texts(sent()), std::vector<std::string>{"DEALLOCATE STC1 "});
  EXPECT_EQ(conn()->prepare_pending, 1);  // the default statement is still there

  // Names that do not fit their commands are refused before anything is sent.
  const std::string long_name(60, 'n');
  EXPECT_EQ(VMC_Execute2(&h_, long_name.c_str(), cursor, nullptr), -1);
  EXPECT_EQ(error().rfind("[EC064]", 0), 0u);
  EXPECT_TRUE(sent().empty());
}

TEST_F(Prepared, RefusalsWithoutAStatement) {
  EXPECT_EQ(VMC_Execute(&h_, nullptr), -1);
  EXPECT_EQ(error(), "[EC023]Error Execute without a default prepare ,or you can VMC_Execute2 with a prepare_name value\n");

  // A refused PREPARE is not pending; the server's text stays.
  reply(ReplyBytes().letter('E').text("syntax").letter('K'));
  EXPECT_EQ(VMC_Prepare(&h_, "PREPARE nonsense"), -1);
  EXPECT_EQ(conn()->prepare_pending, 0);
  EXPECT_EQ(error(), "syntax");
  EXPECT_EQ(frame_texts(sent()), std::vector<std::string>{"PREPARE STC0 AS PREPARE nonsense"});
}

// Closing a connection releases its default statement on the server first.
TEST(PreparedClose, ClosingDeallocatesThePendingStatement) {
  std::vector<std::string> texts;
  testpeer::ScriptedPeer peer([&](testpeer::ScriptedPeer::Listener& l) {
    auto c = l.accept();
    if (!c) return;
    c->login_ok();
    standin::Command cmd;
    const Bytes k = ReplyBytes().letter('K').bytes;
    while (standin::read_command(c->link(), &cmd)) {
      texts.push_back(cmd.text);
      c->write_raw(k.data(), k.size());
    }
  });
  VMC_Handle h = nullptr;
  const std::string cs = "IP=127.0.0.1;PORT=" + std::to_string(peer.port()) + ";DB=d;USER=u;PWD=p";
  ASSERT_EQ(VMC_OpenConn(cs.c_str(), &h), 2);
  ASSERT_EQ(VMC_Prepare(&h, "DELETE FROM t"), 0);
  EXPECT_EQ(VMC_CloseConn(&h), 0);
  peer.join();
  EXPECT_EQ(texts, (std::vector<std::string>{"PREPARE STC0 AS DELETE FROM t", "DEALLOCATE STC0 "}));
}

// Arrays bound by name fill the slots that PREPARE described, in the
// described order, whatever order they are bound in.
TEST_F(Prepared, ArraysBindByNameIntoTheDescription) {
  std::snprintf(conn()->version, sizeof conn()->version, "201");
  reply(ReplyBytes()
            .letter('$').u32(3).text("a").u32(1).u32(ST_INT32).u32(4).text("b").u32(2).u32(ST_INT32).u32(4)
            .text("c").u32(3).u32(ST_INT32).u32(4)
            .letter('K'));
  ASSERT_EQ(VMC_Prepare(&h_, "INSERT INTO t VALUES (:a, :b, :c)"), 0);
  sent();
  int32_t as[2] = {1, 2}, bs[2] = {3, 4};
  int lengths[2] = {4, 4};
  EXPECT_EQ(VMC_BindParamArrayByName(&h_, "x", 2, 1, CT_INT32, 2, as, 8, lengths), -53);
  EXPECT_EQ(VMC_BindParamArrayByName(&h_, "B", 2, 1, CT_INT32, 2, bs, 8, lengths), 0);
  EXPECT_EQ(VMC_BindParamArrayByName(&h_, "a", 2, 1, CT_INT32, 2, as, 8, lengths), 0);
  // Beyond the declared count of 2.
  EXPECT_EQ(VMC_BindParamArrayByName(&h_, "c", 2, 1, CT_INT32, 2, as, 8, lengths), -51);

  reply(ReplyBytes().letter('K'));
  EXPECT_EQ(VMC_ExecuteBatch(&h_, "INSERT INTO t VALUES (:a, :b, :c)", 2), 0);
  ReplyBytes expected;
  frame(expected, "INSERT INTO t VALUES (:a, :b, :c)", 3 | (2u << 16));
  expected.u16(1).raw("a").u16(1).u16(ST_INT32).u32(4).u32(1);
  expected.u16(1).raw("b").u16(1).u16(ST_INT32).u32(4).u32(3);
  expected.u16(1).raw("c").u16(1).u16(ST_CHAR).u32(0);  // never bound: a null
  expected.u32(20).u32(4).u32(2).u32(4).u32(4).u32(0);   // row 1 after a 'K' login: no type bytes
  EXPECT_EQ(sent(), expected.bytes);
}
