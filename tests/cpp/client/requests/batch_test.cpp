#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "client/params/param_set.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"
#include "tests/cpp/support/bare_conn.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/scripted_peer.h"
#include "tools/standin/core/login_responder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Elements of client types 2, 62 and 15 as a caller lays them out: a u32
// length in host order, then the bytes.
Bytes prefixed(const std::vector<std::string>& values) {
  Bytes out;
  for (const auto& v : values) {
    const auto n = static_cast<uint32_t>(v.size());
    const auto* p = reinterpret_cast<const uint8_t*>(&n);
    out.insert(out.end(), p, p + 4);
    out.insert(out.end(), v.begin(), v.end());
  }
  return out;
}

ReplyBytes& frame(ReplyBytes& w, const char* sql, uint32_t count) { return w.letter('?').text(sql).u8(0).u32(count); }
ReplyBytes& record(ReplyBytes& w, const char* name, uint16_t wire, uint32_t length) {
  return w.u16(static_cast<uint16_t>(std::strlen(name))).raw(name).u16(1).u16(wire).u32(length);
}
// One packed value's head: the type byte when the link's level has one, and the length.
ReplyBytes& packed(ReplyBytes& w, bool typed, uint8_t wire, uint32_t length) {
  if (typed) w.u8(wire);
  return w.u32(length);
}

// Binds by position or by name through the connection handle.
int bind(VMC_Handle* h, bool by_name, const char* name, int pos, int ctype, int rows, void* values, int size,
         int* lengths) {
  return by_name ? VMC_BindParamArrayByName(h, name, 4, 1, ctype, rows, values, size, lengths)
                 : VMC_BindParamArray(h, pos, 4, 1, ctype, rows, values, size, lengths);
}

}  // namespace

// Row 0 as records, rows 1 and 2 packed into one block: with a type byte
// before each value after an 'N' login, without after a 'K' login.
TEST(BatchRequest, RowsAfterTheFirstArePackedByTheLoginsLevel) {
  for (const bool n_login : {false, true}) {
    SCOPED_TRACE(n_login ? "N login, by name" : "K login, by position");
    const bool by_name = n_login;
    const char* sql = "INSERT INTO t VALUES (?, ?, ?, ?)";
    ReplyBytes block;
    packed(block, n_login, 5, 0);  // row 1: an int of length 0 is its length alone
    packed(block, n_login, 30, 2).raw("xy");  // only the row's length of "xyz"
    packed(block, n_login, 9, 8).f64(2.5);
    packed(block, n_login, 30, 3).raw("d22");
    packed(block, n_login, 5, 4).u32(9);  // row 2
    packed(block, n_login, 30, 0);
    packed(block, n_login, 9, 8).f64(3.5);
    packed(block, n_login, 30, 0);
    ReplyBytes expected;
    frame(expected, sql, 4 | (3u << 16));
    record(expected, by_name ? "a" : "", 5, 2).u32(7);  // row 0 keeps the int's bound length
    record(expected, by_name ? "b" : "", 30, 2).raw("ab");
    record(expected, by_name ? "c" : "", 9, 8).f64(1.5);
    record(expected, by_name ? "d" : "", 30, 2).raw("d1");
    expected.u32(static_cast<uint32_t>(block.bytes.size())).raw(std::string(block.bytes.begin(), block.bytes.end()));

    Bytes got;
    testpeer::ScriptedPeer peer([&](testpeer::ScriptedPeer::Listener& l) {
      auto c = l.accept();
      if (!c) return;
      standin::LoginRequest req;
      if (!c->read_login(&req)) return;
      const uint8_t level[4] = {0, 0, 0, 1};
      n_login ? standin::accept_login_with_level(c->link(), level) : standin::accept_login(c->link());
      got = c->read_raw(expected.bytes.size());
      const Bytes reply = ReplyBytes().letter('U').u32(3).letter('K').bytes;
      c->write_raw(reply.data(), reply.size());
      c->read_until_quiet(200);
    });
    VMC_Handle h = nullptr;
    const std::string cs = "IP=127.0.0.1;PORT=" + std::to_string(peer.port()) + ";DB=d;USER=u;PWD=p";
    ASSERT_EQ(VMC_OpenConn(cs.c_str(), &h), 2);

    int32_t ints[3] = {7, 8, 9};
    int int_len[3] = {2, 0, 4};
    Bytes texts = prefixed({"ab", "xyz", ""});
    int text_len[3] = {2, 2, 0};
    double dbl[3] = {1.5, 2.5, 3.5};
    int dbl_len[3] = {8, 8, 8};
    char dates[] = "d1d22";  // by row length, and left in the caller's buffer
    int date_len[3] = {2, 3, 0};
    ASSERT_EQ(bind(&h, by_name, "a", 1, CT_INT32, 3, ints, sizeof ints, int_len), 0);
    ASSERT_EQ(bind(&h, by_name, "b", 2, CT_TEXT, 3, texts.data(), static_cast<int>(texts.size()), text_len), 0);
    ASSERT_EQ(bind(&h, by_name, "c", 3, CT_DOUBLE, 3, dbl, sizeof dbl, dbl_len), 0);
    ASSERT_EQ(bind(&h, by_name, "d", 4, CT_DATE, 3, dates, 5, date_len), 0);
    // Copied values and lengths are the set's own from here on.
    std::memset(ints, 0, sizeof ints);
    std::memset(texts.data(), 0, texts.size());
    std::memset(int_len, 0, sizeof int_len);

    EXPECT_EQ(VMC_ExecuteBatch(&h, sql, 3), 0);
    EXPECT_EQ(got, expected.bytes);
    const ParamSet* set = static_cast<Conn*>(h)->params;
    ASSERT_NE(set, nullptr);  // emptied, still attached
    EXPECT_EQ(set->count, 0);
    EXPECT_EQ(set->batch_rows, 0);
    EXPECT_EQ(set->values, nullptr);
    VMC_CloseConn(&h);
    peer.join();
  }
}

// One text slot; rows 1 and later carry values of the lengths given (5 bytes
// of type byte and length each). Blocks end at row boundaries.
TEST(BatchRequest, BlocksEndAtRowsAndGrowForALargeRow) {
  struct Case {
    const char* what;
    std::vector<int> rows;       // lengths of rows 1, 2, ...
    std::vector<uint32_t> blocks;
  };
  std::vector<int> hundreds(4481 + 10, 95);
  const Case cases[] = {
      {"rows of 100 bytes: the row crossing 448000 ends the block", hundreds, {448100, 1000}},
      {"a row that does not fit after complete rows starts the next block", {400000, 200000}, {400005, 200005}},
      {"a row larger than the buffer grows it and goes alone", {600000, 10}, {600005, 15}},
      {"complete rows go first, then the large row alone", {10, 600000}, {15, 600005}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testpeer::LinkPair link;
    std::snprintf(link.client->version, sizeof link.client->version, "301");
    VMC_Handle h = link.client;
    std::vector<std::string> values{"r"};
    for (int n : c.rows) values.emplace_back(static_cast<size_t>(n), 'v');
    Bytes elements = prefixed(values);
    std::vector<int> lengths;
    for (const auto& v : values) lengths.push_back(static_cast<int>(v.size()));
    const int rows = static_cast<int>(values.size());
    ASSERT_EQ(VMC_BindParamArray(&h, 1, 1, 1, CT_TEXT, rows, elements.data(), static_cast<int>(elements.size()),
                                 lengths.data()),
              0);

    const char* sql = "INSERT INTO t VALUES (?)";
    ReplyBytes head;
    frame(head, sql, 1 | (static_cast<uint32_t>(rows) << 16));
    record(head, "", 30, 1).raw("r");
    size_t total = head.bytes.size();
    for (uint32_t b : c.blocks) total += 4 + b;
    Bytes got;
    link.peer_answer(ReplyBytes().letter('K').bytes);
    std::thread reader([&] { got = link.peer_read(total); });
    EXPECT_EQ(VMC_ExecuteBatch(&h, sql, rows), 0);
    reader.join();
    ASSERT_EQ(got.size(), total);
    EXPECT_TRUE(std::equal(head.bytes.begin(), head.bytes.end(), got.begin()));
    std::vector<uint32_t> blocks;
    for (size_t at = head.bytes.size(); at + 4 <= got.size();) {
      const uint32_t b = uint32_t{got[at]} << 24 | uint32_t{got[at + 1]} << 16 | uint32_t{got[at + 2]} << 8 | got[at + 3];
      blocks.push_back(b);
      at += 4 + b;
    }
    EXPECT_EQ(blocks, c.blocks);
    VMC_ClearParams(&h);
  }
}

// A slot between bound ones that was never bound goes out as a null.
TEST(BatchRequest, SlotsNeverBoundGoAsNulls) {
  testpeer::LinkPair link;
  std::snprintf(link.client->version, sizeof link.client->version, "301");
  VMC_Handle h = link.client;
  int16_t shorts[2] = {0x0102, 0x0304};
  int lengths[2] = {2, 2};
  ASSERT_EQ(VMC_BindParamArray(&h, 2, 2, 1, CT_INT16, 2, shorts, sizeof shorts, lengths), 0);
  const char* sql = "INSERT INTO t VALUES (?, ?)";
  ReplyBytes block;
  packed(block, true, 30, 0);
  packed(block, true, 4, 2).u16(0x0304);
  ReplyBytes expected;
  frame(expected, sql, 2 | (2u << 16));
  record(expected, "", 30, 0);
  record(expected, "", 4, 2).u16(0x0102);
  expected.u32(static_cast<uint32_t>(block.bytes.size())).raw(std::string(block.bytes.begin(), block.bytes.end()));
  link.peer_answer(ReplyBytes().letter('K').bytes);
  EXPECT_EQ(VMC_ExecuteBatch(&h, sql, 2), 0);
  EXPECT_EQ(link.peer_read_available(50), expected.bytes);
  VMC_ClearParams(&h);
}

TEST(BatchRequest, RefusedWithoutValuesForOtherRowsAndForASelect) {
  testpeer::LinkPair link;
  VMC_Handle h = link.client;
  const auto text = [&] { return std::string(link.client->error_text ? link.client->error_text : ""); };
  EXPECT_EQ(VMC_ExecuteBatch(&h, "INSERT INTO t VALUES (?)", 3), -1);
  EXPECT_EQ(text(), "[EC025]Error ExecuteBatch without  bindparams  \n");

  int32_t ints[10] = {};
  int lengths[10] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
  for (int pos = 1; pos <= 3; ++pos) ASSERT_EQ(VMC_BindParamArray(&h, pos, 3, 1, CT_INT32, 10, ints, 40, lengths), 0);
  EXPECT_EQ(VMC_ExecuteBatch(&h, "INSERT INTO t VALUES (?, ?, ?)", 9), -1);
  EXPECT_EQ(text(), "[EC057]Error ExecuteBatch with paramsbind arraysize 10  does not match ArrayCount 9 \n");
  EXPECT_TRUE(link.peer_read_available(20).empty());

  for (int pos = 1; pos <= 3; ++pos) ASSERT_EQ(VMC_BindParamArray(&h, pos, 3, 1, CT_INT32, 10, ints, 40, lengths), 0);
  link.peer_answer(ReplyBytes().letter('A').u32(1).field("t.n", ST_INT32, 4).letter('K').bytes);
  std::thread reader([&] { link.peer_read_available(100); });
  EXPECT_EQ(VMC_ExecuteBatch(&h, "SELECT n FROM t WHERE n = ?", 10), -1);
  reader.join();
  EXPECT_EQ(text(), "[EC026]Error ExecuteBatch can't surpport a select_sql  \n");
  VMC_ClearParams(&h);
}

// A batch refused before sending takes its set as an execution does, so that
// the next statement neither meets rows it cannot send nor a set of the
// caller's; the caller's set keeps its rows.
TEST(BatchRequest, ARefusedBatchTakesItsSetAndTheNextStatementGoesOut) {
  struct Case {
    const char* what;
    int rows;           // bound
    int asked;          // given to VMC_ExecuteBatch
    bool caller_owned;
    const char* text;
  };
  const Case cases[] = {
      {"rows other than those bound", 3, 2, false,
       "[EC057]Error ExecuteBatch with paramsbind arraysize 3  does not match ArrayCount 2 \n"},
      {"rows beyond the count word", 65536, 65536, false,
       "[EC065]Error ExecuteBatch with 65536 rows of 1 params, at most 65535 of each \n"},
      {"a set of the caller's", 3, 4, true,
       "[EC057]Error ExecuteBatch with paramsbind arraysize 3  does not match ArrayCount 4 \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testpeer::LinkPair link;
    VMC_Handle h = link.client;
    std::vector<int32_t> ints(static_cast<size_t>(c.rows), 7);
    std::vector<int> lengths(static_cast<size_t>(c.rows), 4);
    VMC_Handle set = nullptr;
    VMC_Handle* target = &h;
    if (c.caller_owned) {
      ASSERT_EQ(VMC_AllocParams(&set), 0);
      target = &set;
    }
    ASSERT_EQ(VMC_BindParamArray(target, 1, 1, 1, CT_INT32, c.rows, ints.data(), c.rows * 4, lengths.data()), 0);
    if (c.caller_owned) {
      ASSERT_EQ(VMC_SetParams(&h, &set), 0);
    }
    EXPECT_EQ(VMC_ExecuteBatch(&h, "INSERT INTO t VALUES (?)", c.asked), -1);
    EXPECT_STREQ(link.client->error_text, c.text);
    EXPECT_EQ(link.client->params, nullptr);
    if (c.caller_owned) {
      EXPECT_EQ(static_cast<ParamSet*>(set)->batch_rows, c.rows);
      VMC_FreeHandle(&set);
    }
    link.peer_answer(ReplyBytes().letter('U').u32(2).letter('K').bytes);
    EXPECT_EQ(VMC_ExecuteNoQuery(&h, "DELETE FROM t"), 2);
    ReplyBytes next;
    frame(next, "DELETE FROM t", 0);
    EXPECT_EQ(link.peer_read_available(50), next.bytes);
  }
}

// The set a PREPARE described goes with the batch, as with an execution by
// name: binding by name afterwards starts a set of its own.
TEST(BatchRequest, ABatchAfterPrepareLeavesTheConnectionBindable) {
  testpeer::LinkPair link;
  VMC_Handle h = link.client;
  link.peer_answer(ReplyBytes().letter('$').u32(1).text("a").u32(1).u32(ST_INT32).u32(4).letter('K').bytes);
  ASSERT_EQ(VMC_Prepare(&h, "INSERT INTO t VALUES (:a)"), 0);
  ASSERT_NE(link.client->params, nullptr);
  int32_t ints[2] = {1, 2};
  int lengths[2] = {4, 4};
  ASSERT_EQ(VMC_BindParamArrayByName(&h, "a", 1, 1, CT_INT32, 2, ints, sizeof ints, lengths), 0);
  link.peer_answer(ReplyBytes().letter('K').bytes);
  EXPECT_EQ(VMC_ExecuteBatch(&h, "INSERT INTO t VALUES (:a)", 2), 0);
  link.peer_read_available(50);
  EXPECT_EQ(link.client->params, nullptr);
  int32_t v = 3;
  int len = 4;
  EXPECT_EQ(VMC_BindParamByName(&h, "a", 1, CT_INT32, &v, 4, nullptr, &len), 0);
  EXPECT_EQ(VMC_BindParamArrayByName(&h, "b", 1, 1, CT_INT32, 1, ints, 4, lengths), 0);
  VMC_ClearParams(&h);
  link.client->prepare_pending = 0;
}

// Every refusal of an array bind, each on a fresh connection. The text is the
// connection's, or the set's for a bind on a set of the caller's.
TEST(ArrayBinding, Refusals) {
  int32_t ints[4] = {1, 2, 3, 4};
  int fours[4] = {4, 4, 4, 4};
  struct Case {
    const char* what;
    std::function<int(VMC_Handle*)> call;
    int rc;
    const char* text;  // null: none
  };
  auto two_rows = [&](VMC_Handle* h) { return VMC_BindParamArray(h, 1, 2, 1, CT_INT32, 2, ints, 8, fours); };
  const Case cases[] = {
      {"a position beyond the declared count",
       [&](VMC_Handle* h) {
         two_rows(h);
         return VMC_BindParamArray(h, 3, 2, 1, CT_INT32, 2, ints, 8, fours);
       }, -51,
       "[EC051]Error invalid param NO : 3 out of range paramnum : 2 "},
      {"a declared count of -1", [&](VMC_Handle* h) { return VMC_BindParamArray(h, 1, -1, 1, CT_INT32, 2, ints, 8, fours); },
       -51, "[EC051]Error invalid param NO : 1 out of range paramnum : -1 "},
      {"a declared count of 0 with two rows",
       [&](VMC_Handle* h) { return VMC_BindParamArray(h, 1, 0, 1, CT_INT32, 2, ints, 8, fours); }, -51,
       "[EC051]Error invalid param NO : 1 out of range paramnum : 0 "},
      {"a type the batch cannot send", [&](VMC_Handle* h) { return VMC_BindParamArray(h, 1, 2, 1, CT_TIME_TZ, 2, ints, 8, fours); },
       -58, "[EC058]Error bindparam unsurpported datatype 12 invalid"},
      {"a LOB type", [&](VMC_Handle* h) { return VMC_BindParamArray(h, 1, 2, 1, CT_LOB, 2, ints, 8, fours); }, -58,
       "[EC058]Error bindparam unsurpported datatype 40 invalid"},
      {"an output direction by position", [&](VMC_Handle* h) { return VMC_BindParamArray(h, 1, 2, 2, CT_INT32, 2, ints, 8, fours); },
       -8, nullptr},
      {"an unknown direction", [&](VMC_Handle* h) { return VMC_BindParamArray(h, 1, 2, 9, CT_INT32, 2, ints, 8, fours); }, -52,
       "[EC052]Error invalid param type 9"},
      {"position 0", [&](VMC_Handle* h) { return VMC_BindParamArray(h, 0, 2, 1, CT_INT32, 2, ints, 8, fours); }, -54,
       "[EC054]Error param_no  param seq 0 invalid"},
      {"a name bound twice in another case",
       [&](VMC_Handle* h) {
         VMC_BindParamArrayByName(h, "id", 2, 1, CT_INT32, 2, ints, 8, fours);
         return VMC_BindParamArrayByName(h, "ID", 2, 1, CT_INT32, 2, ints, 8, fours);
       },
       -53, nullptr},
      {"rows other than those bound",
       [&](VMC_Handle* h) {
         two_rows(h);
         return VMC_BindParamArray(h, 2, 2, 1, CT_INT32, 3, ints, 12, fours);
       }, -1,
       "[EC062]Error bindparam array rows 3 do not match the 2 rows bound"},
      {"a single value into a set bound by rows",
       [&](VMC_Handle* h) {
         two_rows(h);
         return VMC_BindParam(h, 2, 1, CT_INT32, ints, 4, fours);
       }, -1,
       "[EC062]Error bindparam array rows 1 do not match the 2 rows bound"},
      {"a text element running past the buffer",
       [&](VMC_Handle* h) {
         Bytes t = prefixed({"ab", "cdefgh"});
         int lens[2] = {2, 2};
         return VMC_BindParamArray(h, 1, 1, 1, CT_TEXT, 2, t.data(), static_cast<int>(t.size()) - 1, lens);
       },
       -1, "[EC063]Error bindparam array value of row 2 does not fit its buffer"},
      {"a row length beyond its text element",
       [&](VMC_Handle* h) {
         Bytes t = prefixed({"ab", "cd"});
         int lens[2] = {2, 3};
         return VMC_BindParamArray(h, 1, 1, 1, CT_TEXT, 2, t.data(), static_cast<int>(t.size()), lens);
       },
       -1, "[EC063]Error bindparam array value of row 2 does not fit its buffer"},
      {"a negative row length",
       [&](VMC_Handle* h) {
         int lens[2] = {-1, 4};
         return VMC_BindParamArray(h, 1, 1, 1, CT_INT32, 2, ints, 8, lens);
       },
       -1, "[EC063]Error bindparam array value of row 1 does not fit its buffer"},
      {"a one-byte value longer than its byte",
       [&](VMC_Handle* h) {
         int lens[2] = {1, 2};
         return VMC_BindParamArray(h, 1, 1, 1, CT_INT8, 2, ints, 2, lens);
       },
       -1, "[EC063]Error bindparam array value of row 2 does not fit its buffer"},
      {"a position past 4000 on a set of the caller's",
       [&](VMC_Handle*) {
         VMC_Handle set = nullptr;
         VMC_AllocParams(&set);
         const int rc = VMC_BindParamArray(&set, 4001, 2, 1, CT_INT32, 2, ints, 8, fours);
         const std::string text = static_cast<ParamSet*>(set)->error_text;
         VMC_FreeHandle(&set);
         return text == "[EC051]Error invalid param NO 4001 out of range paramnum" ? rc : 0;
       },
       -51, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BareConn conn;
    EXPECT_EQ(c.call(&conn.handle), c.rc);
    EXPECT_STREQ(conn->error_text ? conn->error_text : nullptr, c.text);
    VMC_ClearParams(&conn.handle);
  }
}

// Values sent by their row lengths, read from the caller's buffer or copied
// from it: a length that runs past the buffer is refused, not read beyond it.
TEST(ArrayBinding, RowLengthsBeyondTheBufferAreRefused) {
  // Two elements of 4 bytes each, the binary ones behind their u32 prefix.
  const Bytes plain = {'1', '2', '3', '4', '5', '6', '7', '8'};
  const Bytes binary = prefixed({"abcd", "efgh"});
  int lengths[2] = {4, 20};
  for (const int ctype : {CT_NUMERIC, CT_DATE, CT_TIME, CT_DATETIME, CT_BINARY}) {
    for (const bool by_name : {false, true}) {
      SCOPED_TRACE(std::to_string(ctype) + (by_name ? " by name" : " by position"));
      Bytes values = ctype == CT_BINARY ? binary : plain;
      BareConn conn;
      EXPECT_EQ(bind(&conn.handle, by_name, "v", 1, ctype, 2, values.data(), static_cast<int>(values.size()), lengths),
                -1);
      EXPECT_STREQ(conn->error_text, "[EC063]Error bindparam array value of row 2 does not fit its buffer");
      VMC_ClearParams(&conn.handle);
    }
  }
}

// The layouts a first bind makes: slots of the declared count for the rows,
// or a single row when the declared count is 0.
TEST(ArrayBinding, FirstBindLaysTheSetOut) {
  BareConn conn;
  int32_t ints[10] = {};
  int lengths[10] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
  ASSERT_EQ(VMC_BindParamArray(&conn.handle, 2, 3, 1, CT_INT32, 10, ints, 40, lengths), 0);
  const ParamSet* set = conn->params;
  EXPECT_EQ(set->batch_rows, 10);
  EXPECT_EQ(set->capacity, 3);
  EXPECT_EQ(set->count, 2);
  EXPECT_EQ(set->values[9][0], nullptr);  // slot 1 stays without values until bound
  EXPECT_EQ(static_cast<const uint8_t*>(set->values[9][1]) - static_cast<const uint8_t*>(set->values[0][1]), 36);
  VMC_ClearParams(&conn.handle);

  ASSERT_EQ(VMC_BindParamArray(&conn.handle, 1, 0, 1, CT_INT32, 1, ints, 4, lengths), 0);
  set = conn->params;
  EXPECT_EQ(set->batch_rows, 0);
  EXPECT_EQ(set->capacity, 128);
  VMC_ClearParams(&conn.handle);
}
