#include "client/replies/exchange_readers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "client/params/param_set.h"
#include "client/replies/results_reader.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/values/type_codes.h"
#include "link/wire_io.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/scripted_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An 'A' item of one int field and n rows numbered from 0.
ReplyBytes& int_rows(ReplyBytes& r, int n) {
  r.letter('A').u32(1).field("n", ST_INT32);
  for (int i = 0; i < n; ++i) r.letter('R').u32(4).u32(static_cast<uint32_t>(i));
  return r;
}

class ReplyReaders : public ::testing::Test {
 protected:
  void SetUp() override { handle_ = link_.client; }
  void TearDown() override { VMC_ClearParams(&handle_); }
  Conn* conn() const { return link_.client; }
  void reply(const ReplyBytes& r) { link_.peer_write(r.bytes); }
  // The reply after the one under test: it must be read from its first letter.
  void expect_in_step() {
    reply(ReplyBytes().letter('U').u32(7).letter('K'));
    EXPECT_EQ(recv_noQuery(conn()), 7) << "the link is in step for the next reply";
  }
  // An output slot bound on the connection's transient set.
  void bind_out(int position, int direction, int ctype, void* buf, int size, int* len) {
    ASSERT_EQ(VMC_BindParam(&handle_, position, direction, ctype, buf, size, len), 0);
  }

  testpeer::LinkPair link_;
  VMC_Handle handle_ = nullptr;
};

}  // namespace

TEST_F(ReplyReaders, AReplyOfKAloneChangesNothing) {
  reply(ReplyBytes().letter('K'));
  EXPECT_EQ(recv_noQuery(conn()), 0);

  char out[kQueryValueSize];
  std::memset(out, '#', sizeof out);
  int type = -7;
  reply(ReplyBytes().letter('K'));
  EXPECT_EQ(recv_query_value(conn(), out, &type), 0);
  EXPECT_EQ(type, -7);
  EXPECT_EQ(out[0], '#');

  ResultSet* rs = reinterpret_cast<ResultSet*>(&link_);
  reply(ReplyBytes().letter('K'));
  EXPECT_EQ(recv_noQuery_OP(conn(), &rs), 0);
  EXPECT_EQ(rs, reinterpret_cast<ResultSet*>(&link_));
  EXPECT_TRUE(link_.peer_read_available(20).empty());
}

TEST_F(ReplyReaders, CountsAndRowIds) {
  reply(ReplyBytes().letter('U').u32(5).letter('K'));
  EXPECT_EQ(recv_noQuery(conn()), 5);

  char out[kQueryValueSize] = {};
  int type = -7;
  int32_t count = 0;
  reply(ReplyBytes().letter('U').u32(5).letter('K'));
  EXPECT_EQ(recv_query_value(conn(), out, &type), 2);
  std::memcpy(&count, out, 4);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(type, -7) << "only a result set sets the type";

  reply(ReplyBytes().letter('I').text("rid-1").letter('I').text("rid-2").letter('K'));
  EXPECT_EQ(recv_noQuery(conn()), 2) << "the number of row ids";
  EXPECT_STREQ(conn()->row_id, "rid-2");
  reply(ReplyBytes().letter('I').text("rid-3").letter('I').text("rid-4").letter('K'));
  std::memset(out, 0, sizeof out);
  EXPECT_EQ(recv_query_value(conn(), out, &type), 1);
  EXPECT_STREQ(out, "rid-4");

  // A row id too long for its field is read whole and kept cut.
  const std::string long_id(40, 'r');
  reply(ReplyBytes().letter('I').text(long_id).letter('K'));
  EXPECT_EQ(recv_noQuery(conn()), 1);
  EXPECT_EQ(std::string(conn()->row_id), long_id.substr(0, 31));
  reply(ReplyBytes().letter('I').text(long_id).letter('K'));
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(recv_query_value(conn(), out, &type), 1);
  EXPECT_EQ(std::string(out), long_id.substr(0, 31));
  EXPECT_EQ(out[32], '#') << "no more than the row id field is written";

  // Only a row id that ends the reply makes the answer their count.
  reply(ReplyBytes().letter('I').text("x").letter('U').u32(4).letter('K'));
  EXPECT_EQ(recv_noQuery(conn()), 4);
  expect_in_step();
}

TEST_F(ReplyReaders, ServerErrorsAreReadToTheEndOfTheReply) {
  for (int reader = 0; reader < 3; ++reader) {
    conn_set_error(conn(), nullptr);
    reply(ReplyBytes().letter('E').text("no such table").letter('K'));
    char out[kQueryValueSize] = {};
    int type = 0;
    ResultSet* rs = nullptr;
    testing::internal::CaptureStdout();
    const int rc = reader == 0   ? recv_noQuery(conn())
                   : reader == 1 ? recv_query_value(conn(), out, &type)
                                 : recv_noQuery_OP(conn(), &rs);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, -1) << reader;
    EXPECT_STREQ(conn()->error_text, "no such table");
    EXPECT_EQ(printed, reader == 1 ? "Server Error no such table \n" : "") << reader;
    expect_in_step();
  }
  // Once an error is read the reply is a failure, whatever follows it, and
  // the text it leaves is the last error's; an error among the rows of a
  // result set fails a reader that hands no rows out. Every reader ends its
  // reply by one rule, so one reader stands for them.
  ReplyBytes rows_then_error;
  int_rows(rows_then_error, 3).letter('E').text("overflow").letter('M').text("m").letter('K');
  const struct {
    ReplyBytes reply;
    const char* text;
  } replies[] = {
      {ReplyBytes().letter('F').text("first").letter('U').u32(2).letter('E').text("second").letter('K'), "second"},
      {ReplyBytes().letter('E').text("refused").letter('W').text("w").letter('K'), "refused"},
      {ReplyBytes().letter('E').text("refused").letter('U').u32(3).letter('K'), "refused"},
      {rows_then_error, "overflow"},
  };
  for (const auto& r : replies) {
    conn_set_error(conn(), nullptr);
    reply(r.reply);
    testing::internal::CaptureStdout();
    EXPECT_EQ(recv_noQuery(conn()), -1) << r.text;
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(conn()->error_text, r.text);
    expect_in_step();
  }
}

TEST_F(ReplyReaders, WarningsAndMessagesAreSuccessWithInfo) {
  for (char letter : {'W', 'M'}) {
    reply(ReplyBytes().letter(letter).text("careful").letter('K'));
    testing::internal::CaptureStdout();
    EXPECT_EQ(recv_noQuery(conn()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              letter == 'W' ? "Server Warning careful \n" : "Server Message careful \n");
    EXPECT_STREQ(conn()->error_text, "careful");
  }
}

TEST_F(ReplyReaders, BrokenLinksAnswerMinusFourWithTheirTexts) {
  struct Case {
    ReplyBytes reply;
    std::string printed;
    const char* text;
  } cases[] = {
      {ReplyBytes(), "Net Error recv_noQuery \n", nullptr},
      {ReplyBytes().letter('U').u16(0), "Update Prop NetError  \n", "[EC004]Update Prop NetError"},
      {ReplyBytes().letter('I').u32(10).raw("abc"), "Insert Prop NetError  \n", "[EC004]Insert Prop NetError"},
  };
  for (auto& c : cases) {
    testpeer::LinkPair link;
    link.peer_write(c.reply.bytes);
    link.peer_close();
    testing::internal::CaptureStdout();
    EXPECT_EQ(recv_noQuery(link.client), -4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    if (c.text) {
      EXPECT_STREQ(link.client->error_text, c.text);
    }
  }
  testpeer::LinkPair link;
  link.peer_write(ReplyBytes().letter('A').u32(1).bytes);
  link.peer_close();
  char out[kQueryValueSize] = {};
  int type = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(recv_query_value(link.client, out, &type), -4);
  EXPECT_EQ(recv_noQuery_OP(link.client, nullptr), -4);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Net Error recv_noQuery_OP \n");
}

TEST_F(ReplyReaders, ResultRowsComeInBatchesOf200WithOneContinuation) {
  struct Case {
    int rows;
    bool continued;
  } cases[] = {{0, false}, {7, false}, {200, false}, {201, true}, {400, true}};
  for (const auto& c : cases) {
    ReplyBytes r;
    int_rows(r, c.rows).letter('K');
    reply(r);
    char out[kQueryValueSize];
    std::memset(out, '#', sizeof out);
    int type = -7;
    EXPECT_EQ(recv_query_value(conn(), out, &type), 0) << c.rows;
    const Bytes sent = link_.peer_read_available(20);
    EXPECT_EQ(sent, c.continued ? Bytes{'.'} : Bytes{}) << c.rows;
    if (c.rows == 0) {
      EXPECT_EQ(type, 0);
      EXPECT_EQ(out[0], 0) << "an empty text";
    } else {
      EXPECT_EQ(type, ST_INT32);
      EXPECT_STREQ(out, "0") << "the first row's value";
    }
    expect_in_step();
  }

  // The output reader hands the result set out with every row; its status is
  // the size of the last batch.
  ReplyBytes r;
  int_rows(r, 201).letter('K');
  reply(r);
  ResultSet* rs = nullptr;
  EXPECT_EQ(recv_noQuery_OP(conn(), &rs), 1);
  EXPECT_EQ(link_.peer_read_available(20), Bytes{'.'});
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->row_count, 201);
  EXPECT_EQ(rs->conn, conn());
  free_result(rs);
}

TEST_F(ReplyReaders, OnlyTheResultSetThatEndsTheReplyIsTaken) {
  // The first value reader takes the last result set when 'K' follows it.
  ReplyBytes two;
  int_rows(two, 1);
  two.letter('A').u32(1).field("s", ST_CHAR).letter('R').text("second").letter('K');
  reply(two);
  char out[kQueryValueSize] = {};
  int type = 0;
  EXPECT_EQ(recv_query_value(conn(), out, &type), 0);
  EXPECT_STREQ(out, "second");
  EXPECT_EQ(type, ST_CHAR);

  // The output reader releases one that other items follow.
  ReplyBytes then_value;
  int_rows(then_value, 3).letter('O').u32(ST_INT32).u32(4).u32(1).letter('K');
  reply(then_value);
  ResultSet* rs = nullptr;
  EXPECT_EQ(recv_noQuery_OP(conn(), &rs), -59) << "no slot for the return value";
  EXPECT_EQ(rs, nullptr);
  ReplyBytes then_rows;
  int_rows(then_rows, 3);
  int_rows(then_rows, 2).letter('K');
  reply(then_rows);
  EXPECT_EQ(recv_noQuery_OP(conn(), &rs), 2);
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->row_count, 2);
  free_result(rs);
  expect_in_step();
}

TEST_F(ReplyReaders, ReturnValueIntoATextSlot) {
  for (int size : {8, 1}) {
    char buf[8] = {};
    int len = -1;
    bind_out(1, 6, CT_TEXT, buf, size, &len);
    reply(ReplyBytes().letter('O').u32(ST_INT32).u32(4).u32(42).letter('K'));
    EXPECT_EQ(recv_noQuery_OP(conn(), nullptr), size == 8 ? 0 : -12) << size;
    EXPECT_EQ(std::string(buf), size == 8 ? "42" : "4") << size;
    EXPECT_EQ(len, 2) << "the full length";
    VMC_ClearParams(&handle_);
  }
}

TEST_F(ReplyReaders, OutputValuesConvertByTheirServerType) {
  char text[64] = {};
  char date_text[64] = {};
  int32_t date_parts[4] = {};
  int64_t i64 = 0;
  char time_text[64] = {};
  char dbl[64] = {};
  int len[6] = {-1, -1, -1, -1, -1, -1};
  bind_out(1, 2, CT_TEXT, text, sizeof text, &len[0]);
  bind_out(2, 3, CT_TEXT, date_text, sizeof date_text, &len[1]);
  bind_out(3, 2, CT_DATE, date_parts, sizeof date_parts, &len[2]);
  bind_out(4, 2, CT_INT64, &i64, sizeof i64, &len[3]);
  bind_out(5, 2, CT_TEXT, time_text, sizeof time_text, &len[4]);
  bind_out(6, 2, CT_TEXT, dbl, sizeof dbl, &len[5]);
  const int64_t ms = 789LL * 86400000 + 3723000;  // 1972-02-29 01:02:03
  ReplyBytes r;
  r.letter('P').u32(0).u32(ST_DATETIME).u32(8).u64(static_cast<uint64_t>(ms));
  r.letter('P').u32(1).u32(ST_DATE).u32(4).u32(789);
  r.letter('P').u32(2).u32(ST_DATE).u32(4).u32(static_cast<uint32_t>(-1));
  r.letter('P').u32(3).u32(ST_INT64).u32(8).u64(0x0102030405060708ULL);
  r.letter('P').u32(4).u32(ST_TIME).u32(4).u32(3723004);
  r.letter('P').u32(5).u32(ST_DOUBLE).u32(8).f64(1.0 / 3);
  r.letter('K');
  reply(r);
  EXPECT_EQ(recv_noQuery_OP(conn(), nullptr), 0);
  EXPECT_STREQ(text, "1972-02-29 01:02:03");
  EXPECT_EQ(len[0], 19);
  EXPECT_STREQ(date_text, "1972-02-29");
  EXPECT_EQ(len[1], 10);
  EXPECT_EQ(date_parts[0], 1969);
  EXPECT_EQ(date_parts[1], 12);
  EXPECT_EQ(date_parts[2], 31);
  EXPECT_EQ(len[2], 12) << "a date is three ints";
  EXPECT_EQ(i64, 0x0102030405060708LL);
  EXPECT_STREQ(time_text, "01:02:03.004");
  EXPECT_EQ(len[4], 12);
  EXPECT_STREQ(dbl, "0.3333333333333333");
  EXPECT_EQ(len[5], 18);
}

TEST_F(ReplyReaders, OutputParametersWithoutValuesOrSlots) {
  char buf[8] = "keep";
  int len = 5;
  bind_out(1, 2, CT_TEXT, buf, sizeof buf, &len);
  // Length 0: nothing follows the three integers.
  reply(ReplyBytes().letter('P').u32(0).u32(ST_CHAR).u32(0).letter('K'));
  EXPECT_EQ(recv_noQuery_OP(conn(), nullptr), 0);
  EXPECT_EQ(len, 0);
  EXPECT_STREQ(buf, "keep");
  expect_in_step();

  // An index outside the set is read whole and dropped.
  conn_set_error(conn(), nullptr);
  reply(ReplyBytes().letter('P').u32(1).u32(ST_CHAR).u32(3).raw("abc").letter('P').u32(0xFFFFFFFF).u32(ST_CHAR)
            .u32(0).letter('K'));
  EXPECT_EQ(recv_noQuery_OP(conn(), nullptr), -59);
  EXPECT_STREQ(conn()->error_text, "[EC060]Error params-out index 4294967295 out of range, here params bound 1 \n");
  EXPECT_STREQ(buf, "keep");
  expect_in_step();

  // A slot of another direction does not take the value; the return value
  // goes only to a last slot of direction 6.
  reply(ReplyBytes().letter('O').u32(ST_CHAR).u32(2).raw("xy").letter('K'));
  EXPECT_EQ(recv_noQuery_OP(conn(), nullptr), 0);
  EXPECT_STREQ(buf, "keep");

  // A date that is not four bytes long is dropped with a failure.
  reply(ReplyBytes().letter('P').u32(0).u32(ST_DATE).u32(6).raw("123456").letter('K'));
  EXPECT_EQ(recv_noQuery_OP(conn(), nullptr), -13);
  EXPECT_STREQ(buf, "keep");
  EXPECT_NE(std::strstr(conn()->error_text, "[EC061]"), nullptr);
  expect_in_step();

  // A length too large to hold ends the reader, and the link with it.
  reply(ReplyBytes().letter('P').u32(0).u32(ST_CHAR).u32(0xFFFFFFFF));
  EXPECT_EQ(recv_noQuery_OP(conn(), nullptr), -4);
  VMC_ClearParams(&handle_);

  // Without any slot, both kinds of value fail with their texts.
  testpeer::LinkPair bare;
  bare.peer_write(ReplyBytes().letter('O').u32(ST_INT32).u32(4).u32(1).letter('K').bytes);
  EXPECT_EQ(recv_noQuery_OP(bare.client, nullptr), -59);
  EXPECT_STREQ(bare.client->error_text,
               "[EC060]Error params-return value need bind, here params without bindparams inout type is return "
               "value \n");
  bare.peer_write(ReplyBytes().letter('P').u32(0).u32(ST_INT32).u32(0).letter('K').bytes);
  EXPECT_EQ(recv_noQuery_OP(bare.client, nullptr), -59);
  EXPECT_STREQ(bare.client->error_text,
               "[EC060]Error params-out type need bind, here params without bindparams inout type is out or "
               "inout \n");
}

TEST_F(ReplyReaders, OutputSlotsWithoutBufferOrLengthAreNotWritten) {
  int32_t value = 0;
  char small[2] = {};
  int len = -1;
  bind_out(1, 2, CT_INT32, &value, 4, nullptr);
  bind_out(2, 2, CT_TEXT, nullptr, 16, &len);
  bind_out(3, 2, CT_TEXT, small, -1, nullptr);
  reply(ReplyBytes().letter('P').u32(0).u32(ST_INT32).u32(4).u32(99).letter('P').u32(1).u32(ST_CHAR).u32(3)
            .raw("abc").letter('P').u32(2).u32(ST_CHAR).u32(3).raw("xyz").letter('K'));
  EXPECT_EQ(recv_noQuery_OP(conn(), nullptr), -12);
  EXPECT_EQ(value, 99);
  EXPECT_EQ(len, 3);
  EXPECT_EQ(small[0], 0) << "a negative buffer size takes nothing";
}

TEST_F(ReplyReaders, OutputValuesWithoutBindingFailTheStatementReader) {
  for (char letter : {'O', 'P'}) {
    conn_set_error(conn(), nullptr);
    ReplyBytes r;
    r.letter(letter);
    if (letter == 'P') r.u32(0);
    r.u32(ST_CHAR).u32(3).raw("abc").letter('K');
    reply(r);
    EXPECT_EQ(recv_noQuery(conn()), -56);
    EXPECT_STREQ(conn()->error_text,
                 "[EC0056]when execute sql with output params or return value need bind_params");
    expect_in_step();
  }
}

TEST_F(ReplyReaders, ParameterDescriptionsFillTheSet) {
  ParamSet set{};
  set.handle_type = 2;
  ReplyBytes r;
  r.u32(2).text("id").u32(0).u32(ST_INT32).u32(4).text("name").u32(1).u32(ST_CHAR).u32(40);
  reply(r);
  EXPECT_EQ(recv_param_descs(conn(), &set), 0);
  ASSERT_EQ(set.count, 2);
  EXPECT_STREQ(set.names[0], "id");
  EXPECT_STREQ(set.names[1], "name");
  EXPECT_EQ(set.positions[1], 1u);
  EXPECT_EQ(set.ctypes[0], static_cast<uint32_t>(ST_INT32));
  EXPECT_EQ(set.buf_sizes[1], 40u);
  EXPECT_EQ(set.values, nullptr);
  EXPECT_EQ(set.capacity, 0);

  // A count the server does not follow up costs no more than what came.
  link_.peer_write(ReplyBytes().u32(0x7FFFFFFF).text("only").u32(0).u32(5).u32(4).bytes);
  link_.peer_close();
  EXPECT_EQ(recv_param_descs(conn(), &set), -4);
  EXPECT_EQ(set.count, 1);
  EXPECT_STREQ(set.names[0], "only");
  free_params(&set);
}

TEST_F(ReplyReaders, ZeroBytesAndOutputValuesDoNotEndTheReading) {
  // A zero byte behind an item cannot be given back: it is dropped and the
  // reading goes on to the reply's 'K'.
  reply(ReplyBytes().letter('U').u32(5).u8(0).letter('U').u32(7).letter('K'));
  EXPECT_EQ(recv_noQuery(conn()), 7);
  expect_in_step();
  reply(ReplyBytes().letter('I').text("r1").u8(0).letter('I').text("r2").letter('K'));
  EXPECT_EQ(recv_noQuery(conn()), 2);
  EXPECT_STREQ(conn()->row_id, "r2");
  expect_in_step();

  char out[kQueryValueSize] = {};
  int type = 0;
  int32_t count = 0;
  reply(ReplyBytes().letter('D').u32(5).u8(0).letter('U').u32(7).letter('K'));
  EXPECT_EQ(recv_query_value(conn(), out, &type), 2);
  std::memcpy(&count, out, 4);
  EXPECT_EQ(count, 7);
  expect_in_step();

  // Output values reaching the single-value reader are read whole and
  // dropped; the next reply is read from its first letter.
  for (char letter : {'P', 'O'}) {
    ReplyBytes r;
    r.letter(letter);
    if (letter == 'P') r.u32(0);
    r.u32(ST_INT32).u32(4).u32(99).letter('K');
    reply(r);
    EXPECT_EQ(recv_query_value(conn(), out, &type), 0) << letter;
    reply(ReplyBytes().letter('U').u32(7).letter('K'));
    EXPECT_EQ(recv_query_value(conn(), out, &type), 2) << letter;
    std::memcpy(&count, out, 4);
    EXPECT_EQ(count, 7) << letter;
  }
  EXPECT_TRUE(link_.peer_read_available(20).empty());
}

TEST_F(ReplyReaders, ItemsAReaderDoesNotKeepAreReadWholeAndDropped) {
  // A result set with rows of every kind the reader must find the end of: a
  // value larger than the receive buffer, a row with its row id, a text
  // between rows, more rows than one batch.
  ReplyBytes rows;
  rows.letter('A').u32(2).field("n", ST_INT32).field("s", ST_CHAR);
  for (int i = 0; i < 250; ++i) {
    rows.letter(i == 7 ? '*' : 'R');
    if (i == 7) rows.text("row-id");
    rows.u32(4).u32(static_cast<uint32_t>(i)).text(i == 3 ? std::string(10000, 's') : "v");
    if (i == 100) rows.letter('W').text("between rows");
  }
  ReplyBytes params;
  params.letter('$').u32(2).text("a").u32(0).u32(ST_INT32).u32(4).text("b").u32(1).u32(ST_CHAR).u32(9);
  struct Case {
    ReplyBytes reply;
    int status;
  } cases[] = {
      {ReplyBytes(rows).letter('U').u32(2).letter('K'), 2},
      {ReplyBytes().letter('D').u32(3).then(rows).letter('K'), 3},
      {ReplyBytes(rows).then(rows).letter('K'), 0},
      {ReplyBytes(params).letter('K'), 0},
  };
  for (const auto& c : cases) {
    reply(c.reply);
    EXPECT_EQ(recv_noQuery(conn()), c.status);
    EXPECT_TRUE(link_.peer_read_available(20).empty()) << "no rows are asked for";
    expect_in_step();
  }
  // The chain reader reads output values and parameter descriptions through.
  ReplyBytes outputs;
  outputs.letter('O').u32(ST_INT32).u32(4).u32(1).letter('P').u32(0).u32(ST_CHAR).u32(2).raw("xy");
  outputs.then(params).letter('U').u32(4).letter('K');
  reply(outputs);
  ResultSet* chain = nullptr;
  EXPECT_EQ(recv_results(conn(), &chain), 0);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(chain->affected, 4);
  free_result_chain(chain);
  expect_in_step();
}

TEST_F(ReplyReaders, AReplyLeftPartReadClosesTheLink) {
  ReplyBytes wide;  // more fields than a result may have
  wide.letter('A').u32(4001);
  for (int i = 0; i < 4001; ++i) wide.field("f", ST_INT32);
  wide.letter('K');
  char out[kQueryValueSize] = {};
  int type = 0;
  struct Case {
    ReplyBytes reply;
    std::function<int(Conn*)> read;
    int code;
  } cases[] = {
      {wide, [](Conn* c) { return recv_noQuery(c); }, -4},
      {wide, [&](Conn* c) { return recv_query_value(c, out, &type); }, -4},
      {wide, [](Conn* c) {
         ResultSet* rs = nullptr;
         return recv_results(c, &rs);
       }, -4},
      // A text that cannot be held: the reply cannot be followed past it.
      {ReplyBytes().letter('M').u32(0xFFFFFFFF).raw("abc").letter('K'), [](Conn* c) { return recv_noQuery(c); }, -4},
  };
  for (auto& c : cases) {
    testpeer::LinkPair link;
    link.peer_write(c.reply.bytes);
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.read(link.client), c.code);
    // The next exchange answers the failed link at once, without taking
    // what is left of that reply, or any later one, for its own.
    link.peer_write(ReplyBytes().letter('U').u32(7).letter('K').bytes);
    EXPECT_EQ(recv_noQuery(link.client), -4);
    testing::internal::GetCapturedStdout();
  }
}
