#include "client/replies/results_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "client/handles/conn.h"
#include "client/results/result_life.h"
#include "client/results/mem_pool.h"
#include "client/results/result_set.h"
#include "client/results/row_store.h"
#include "client/values/value_text.h"
#include "link/link_cipher.h"
#include "link/wire_io.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/scripted_peer.h"

using testpeer::LinkPair;

namespace {

// Writes the reply from a thread so that a reply larger than the socket's
// buffer can be read while it is written.
class Reply {
 public:
  Reply(LinkPair& link, const ReplyBytes& reply, bool close_after = false)
      : writer_([&link, bytes = reply.bytes, close_after] {
          link.peer_write(bytes);
          if (close_after) link.peer_close();
        }) {}
  ~Reply() { writer_.join(); }

 private:
  std::thread writer_;
};

// An 'A' item of one int field and n rows numbered from 0.
ReplyBytes& int_rows(ReplyBytes& r, int n) {
  r.letter('A').u32(1).field("n", 5);
  for (int i = 0; i < n; ++i) r.letter('R').u32(4).u32(static_cast<uint32_t>(i));
  return r;
}

int32_t int_at(ResultSet* rs, int64_t row, int k) {
  return load_value<int32_t>(row_field_ptr(*result_row_slot(rs, row), rs->fields, k, nullptr));
}

}  // namespace

TEST(ResultsReader, RowsInBlocksOfTwentyThousand) {
  for (const auto& [rows, status] : {std::pair{45000, 5000}, {40000, 0}, {0, 0}, {7, 7}}) {
    LinkPair link;
    ReplyBytes r;
    int_rows(r, rows).letter('K').letter('Z');
    Reply reply(link, r);
    ResultSet* rs = nullptr;
    EXPECT_EQ(recv_results(link.client, &rs), status) << rows;
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(rs->kind, 4);
    EXPECT_EQ(rs->conn, link.client);
    EXPECT_EQ(rs->row_count, rows);
    EXPECT_EQ(rs->next, nullptr);
    if (rows > 0) {
      EXPECT_EQ(int_at(rs, rows - 1, 0), rows - 1);
    }
    uint8_t next = 0;
    EXPECT_EQ(recv_char(link.link(), &next), 1);
    EXPECT_EQ(next, 'Z') << "the reply is read exactly to its end";
    free_result(rs);
  }
}

TEST(ResultsReader, CountsAndRowIdsMakeAChain) {
  LinkPair link;
  ReplyBytes r;
  r.letter('D').u32(3).letter('U').u32(5).letter('I').text("rid-1").letter('I').text("rid-2");
  int_rows(r, 2).letter('D').u32(1).letter('K');
  Reply reply(link, r);
  ResultSet* rs = nullptr;
  EXPECT_EQ(recv_results(link.client, &rs), 2);
  ASSERT_NE(rs, nullptr);
  const int kinds[] = {3, 2, 1, 1, 4, 3};
  ResultSet* at = rs;
  for (int kind : kinds) {
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(at->kind, kind);
    at = at->next;
  }
  EXPECT_EQ(at, nullptr);
  EXPECT_EQ(rs->affected, 3 + 2) << "the head counts every row id";
  EXPECT_EQ(rs->next->affected, 5);
  EXPECT_STREQ(rs->next->next->row_id, "rid-1");
  EXPECT_STREQ(link.client->row_id, "rid-2");
  EXPECT_EQ(link.client->row_id_received, 1);
  EXPECT_EQ(rs->next->next->next->next->conn, link.client);
  EXPECT_EQ(rs->next->conn, nullptr);
  free_result_chain(rs);
}

TEST(ResultsReader, LongRowIdsAreCutButReadWhole) {
  LinkPair link;
  const std::string long_id(40, 'i');
  const std::string long_star(25, 's');
  ReplyBytes r;
  r.letter('I').text(long_id);
  r.letter('A').u32(1).field("n", 5).letter('*').text(long_star).u32(4).u32(9).letter('K');
  Reply reply(link, r);
  ResultSet* rs = nullptr;
  EXPECT_EQ(recv_results(link.client, &rs), 1);
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(std::string(link.client->row_id), long_id.substr(0, 31));
  EXPECT_EQ(std::string(rs->row_id), long_id.substr(0, 31));
  ResultSet* rows = rs->next;
  ASSERT_NE(rows, nullptr);
  uint32_t id_len = 0;
  const uint8_t* id = row_id_of(*result_row_slot(rows, 0), rows->row_size, &id_len);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(id), id_len), long_star.substr(0, 20));
  EXPECT_EQ(int_at(rows, 0, 0), 9);
  free_result_chain(rs);
}

TEST(ResultsReader, ServerTextsSetTheStatusAndThePrintedLines) {
  LinkPair link;
  link.client->verbose_mode = 1;
  ReplyBytes r;
  r.letter('E').text("bad thing").letter('K');
  Reply reply(link, r);
  ResultSet* rs = reinterpret_cast<ResultSet*>(&link);
  testing::internal::CaptureStdout();
  EXPECT_EQ(recv_results(link.client, &rs), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[EC031]Error in recv result :bad thing \n");
  EXPECT_EQ(rs, nullptr);
  EXPECT_STREQ(link.client->error_text, "bad thing");
}

TEST(ResultsReader, MessagesAndWarningsFollowTheVerboseBits) {
  struct {
    int verbose;
    const char* out;
  } cases[] = {
      {0, "[MC033]Server send message :m \n"},
      {2, "[EC031]Error in recv result :e \n[MC033]Server send message :m \n"},
      {4, "[MC033]Server send message :m \n[WC032]Server Warning in recv result :w \n"},
      {1, "[EC031]Error in recv result :e \n[MC033]Server send message :m \n"
          "[WC032]Server Warning in recv result :w \n"},
  };
  for (const auto& c : cases) {
    LinkPair link;
    link.client->verbose_mode = c.verbose;
    ReplyBytes r;
    r.letter('F').text("e").letter('M').text("m").letter('W').text("w").letter('K');
    Reply reply(link, r);
    ResultSet* rs = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(recv_results(link.client, &rs), -1) << "an error fails the reply whatever follows it";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.verbose;
    EXPECT_STREQ(link.client->error_text, "e");
  }
}

TEST(ResultsReader, FieldNamesAndLayout) {
  LinkPair link;
  ReplyBytes r;
  r.letter('A').u32(4).field("t.c", 5, 4, 7).field("c%x", 30, 20).field("a.b.c%x.y", 2).field("", 9);
  r.letter('K');
  Reply reply(link, r);
  ResultSet* rs = nullptr;
  ASSERT_EQ(recv_results(link.client, &rs), 0);
  ASSERT_EQ(rs->field_count, 4);
  const FieldDesc* f = rs->fields;
  EXPECT_STREQ(f[0].table, "t");
  EXPECT_STREQ(f[0].column, "c");
  EXPECT_EQ(f[0].alias, nullptr);
  EXPECT_EQ(f[0].length, 4u);
  EXPECT_EQ(f[0].attr, 7u);
  EXPECT_EQ(f[1].table, nullptr);
  EXPECT_STREQ(f[1].column, "c");
  EXPECT_STREQ(f[1].alias, "x");
  EXPECT_EQ(f[1].ctype, 2u);
  EXPECT_STREQ(f[2].table, "a");
  EXPECT_STREQ(f[2].column, "b.c");
  EXPECT_STREQ(f[2].alias, "x.y");
  EXPECT_STREQ(f[3].column, "");
  EXPECT_EQ(f[0].offset, 1u);
  EXPECT_EQ(f[1].offset, 5u);
  EXPECT_EQ(f[2].offset, 21u);
  EXPECT_EQ(f[3].offset, 22u);
  EXPECT_EQ(rs->row_size, 1 + 30);
  free_result(rs);
}

TEST(ResultsReader, RowValuesOfEveryWidth) {
  LinkPair link;
  ReplyBytes r;
  r.letter('A').u32(8).field("b", 2).field("s", 4).field("i", 5).field("l", 6).field("f", 8).field("d", 9);
  r.field("v", 30).field("z", 30);
  r.letter('R').u32(1).u8('T').u32(2).u16(0xFFFE).u32(4).u32(0x80000000u).u32(8).u64(1ULL << 40);
  r.u32(4).f32(0.5f).u32(8).f64(-3.25).u32(3).raw("xyz").u32(0);
  // NULL by a zero or negative length; fixed types read their own width.
  r.letter('R').u32(0).u32(0xFFFFFFFFu).u32(99).u32(7).u32(0).u32(0).u32(0).u32(0).u32(0);
  r.letter('K');
  Reply reply(link, r);
  ResultSet* rs = nullptr;
  ASSERT_EQ(recv_results(link.client, &rs), 2);
  uint8_t* row = *result_row_slot(rs, 0);
  const FieldDesc* f = rs->fields;
  EXPECT_EQ(load_value<uint8_t>(row_field_ptr(row, f, 0, nullptr)), 'T');
  EXPECT_EQ(load_value<int16_t>(row_field_ptr(row, f, 1, nullptr)), -2);
  EXPECT_EQ(load_value<int32_t>(row_field_ptr(row, f, 2, nullptr)), INT32_MIN);
  EXPECT_EQ(load_value<int64_t>(row_field_ptr(row, f, 3, nullptr)), 1LL << 40);
  EXPECT_EQ(load_value<float>(row_field_ptr(row, f, 4, nullptr)), 0.5f);
  EXPECT_EQ(load_value<double>(row_field_ptr(row, f, 5, nullptr)), -3.25);
  uint32_t len = 0;
  const uint8_t* v = row_field_ptr(row, f, 6, &len);
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(std::memcmp(v, "xyz", 4), 0);
  EXPECT_TRUE(row_is_null(row, 7));

  row = *result_row_slot(rs, 1);
  for (int k : {0, 1, 3, 4, 5, 6, 7}) EXPECT_TRUE(row_is_null(row, k)) << k;
  EXPECT_EQ(load_value<int32_t>(row_field_ptr(row, f, 2, nullptr)), 7);
  free_result(rs);
}

TEST(ResultsReader, TextsBetweenRowsAreJoinedIntoTheResult) {
  LinkPair link;
  link.client->verbose_mode = 1;
  ReplyBytes r;
  r.letter('A').u32(1).field("n", 5).letter('R').u32(4).u32(1).letter('W').text("ab");
  r.letter('R').u32(4).u32(2).letter('E').text("cde").letter('R').u32(4).u32(3).letter('K');
  Reply reply(link, r);
  ResultSet* rs = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_EQ(recv_results(link.client, &rs), 3) << "every row read counts";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_STREQ(rs->error_text, "abcde");
  // The error among the rows is the result's failure and the connection's
  // text; the warning is neither.
  EXPECT_STREQ(rs->failure_text, "cde");
  EXPECT_STREQ(link.client->error_text, "cde");
  EXPECT_EQ(rs->row_count, 2) << "a row behind the error is not the result's";
  free_result(rs);
}

TEST(ResultsReader, FailuresReleaseWhatWasRead) {
  const auto fails_with = [](const ReplyBytes& r, int want) {
    LinkPair link;
    Reply reply(link, r, true);
    ResultSet* untouched = reinterpret_cast<ResultSet*>(&link);
    ResultSet* rs = untouched;
    EXPECT_EQ(recv_results(link.client, &rs), want);
    EXPECT_EQ(rs, untouched);
  };
  ReplyBytes r1;
  r1.letter('D').u32(3);
  int_rows(r1, 30000);  // the link closes inside the rows: no 'K'
  fails_with(r1, -4);

  ReplyBytes r2;
  r2.letter('U').u32(3).letter('A').u32(4001);
  fails_with(r2, -4);

  ReplyBytes r3;  // closed inside a field description
  r3.letter('I').text("x").letter('A').u32(2).field("a", 5).text("b").u32(5);
  fails_with(r3, -4);

  ReplyBytes r4;  // closed inside a row value
  r4.letter('A').u32(1).field("v", 30).letter('R').u32(10).raw("abc");
  fails_with(r4, -4);

  ReplyBytes r5;
  r5.letter('D');
  fails_with(r5, -4);
}

TEST(ResultsReader, OtherLettersBreakTheReply) {
  LinkPair link;
  ReplyBytes r;
  r.letter('U').u32(1).letter('Q').letter('X');
  Reply reply(link, r);
  ResultSet* rs = nullptr;
  // What the reply meant past 'Q' is unknown: the call fails as a reply cut
  // short does, and nothing read before it is handed out.
  EXPECT_EQ(recv_results(link.client, &rs), -4);
  EXPECT_EQ(rs, nullptr);
  // Items carry no length: what follows 'Q' cannot be found, so the link is
  // closed rather than left for the next reply to start in.
  uint8_t next = 0;
  EXPECT_EQ(recv_char(link.link(), &next), 0);
  EXPECT_EQ(link.link()->sock, 0);
}

TEST(ResultsReader, SingleResultHoldsEveryRow) {
  LinkPair link;
  ReplyBytes r;
  r.letter('W').text("w");
  int_rows(r, 45000).letter('K');
  Reply reply(link, r);
  ResultSet* rs = nullptr;
  EXPECT_EQ(recv_result_single(link.client, &rs), 45000);
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->row_count, 45000);
  EXPECT_EQ(int_at(rs, 44999, 0), 44999);
  free_result(rs);
}

TEST(ResultsReader, SingleResultRefusesASecondLayout) {
  LinkPair link;
  ReplyBytes r;
  int_rows(r, 3);
  r.letter('A').u32(2).field("a", 30).field("b", 6).letter('R').u32(1).raw("q").u32(8).u64(5).letter('K');
  r.letter('Z');
  Reply reply(link, r);
  ResultSet* rs = reinterpret_cast<ResultSet*>(&link);
  EXPECT_EQ(recv_result_single(link.client, &rs), -1);
  EXPECT_EQ(rs, nullptr);
  uint8_t next = 0;
  EXPECT_EQ(recv_char(link.link(), &next), 1);
  EXPECT_EQ(next, 'Z') << "the second result set is read to the reply's end";
}

TEST(ResultsReader, SingleResultReadsCountsThroughAndDropsThem) {
  // rows: the result set's rows, -1 for a reply without one.
  for (const int rows : {2, -1}) {
    LinkPair link;
    ReplyBytes r;
    if (rows >= 0) int_rows(r, rows);
    r.letter('D').u32(4).letter('I').text("rid-1").letter('U').u32(1).letter('K').letter('Z');
    Reply reply(link, r);
    ResultSet* rs = nullptr;
    EXPECT_EQ(recv_result_single(link.client, &rs), rows >= 0 ? rows : 0);
    if (rows >= 0) {
      ASSERT_NE(rs, nullptr);
      EXPECT_EQ(rs->row_count, rows);
    } else {
      EXPECT_EQ(rs, nullptr);
    }
    free_result(rs);
    uint8_t next = 0;
    EXPECT_EQ(recv_char(link.link(), &next), 1) << rows;
    EXPECT_EQ(next, 'Z') << "the reply is read to its end and the link stays usable";
  }
}

TEST(ResultsReader, BlockReadersStopAtTheirLimitAndGiveBackTheLetter) {
  LinkPair link;
  ResultSet* rs = new_result(4);
  int status = 0;
  EXPECT_EQ(recv_rows(link.client, rs, 200, &status), 0) << "no rows without a layout";
  // Descriptions and rows leave in one write, in wire order.
  ReplyBytes r;
  r.u32(1).field("n", 5);
  for (int i = 0; i < 250; ++i) r.letter('R').u32(4).u32(static_cast<uint32_t>(i));
  r.letter('K');
  Reply reply(link, r);
  ASSERT_EQ(recv_field_descs(link.client, rs), 0);
  EXPECT_EQ(recv_rows(link.client, rs, 200, &status), 200);
  EXPECT_EQ(recv_rows(link.client, rs, 200, &status), 50);
  EXPECT_EQ(link.client->link.pushback_letter, 'K');
  EXPECT_EQ(rs->row_count, 250);

  EXPECT_EQ(result_next_row(rs), 0);
  EXPECT_EQ(int_at(rs, 0, 0), 0);
  rs->cursor = 249;
  EXPECT_EQ(result_next_row(rs), 0);
  EXPECT_EQ(result_next_row(rs), 100);
  EXPECT_EQ(rs->current_row, nullptr);
  EXPECT_EQ(result_next_row(rs), 100);
  EXPECT_EQ(result_next_row(nullptr), -1);
  free_result(rs);
}

TEST(ResultsReader, RowsAcrossReceiveBufferBoundaries) {
  // Rows of every width and of raw values up to 300 bytes, some NULL, some
  // with row ids, so that rows start and end at every place of the 8192-byte
  // receive buffer. Pool memory comes back from earlier results as they left
  // it, so the zero byte behind each raw value is the reader's own.
  {
    MemPool* dirty = mem_pool_create();
    for (int i = 0; i < 8; ++i) std::memset(mem_pool_alloc(dirty, 65535), 0xAB, 65536);
    mem_pool_destroy(dirty);
  }
  constexpr int kRowsWritten = 3000;
  LinkPair link;
  ReplyBytes r;
  r.letter('A').u32(6).field("a", 3).field("b", 4).field("c", 30).field("d", 13).field("e", 9).field("f", 45);
  auto raw_of = [](int i) { return std::string(static_cast<size_t>(i % 300), static_cast<char>('a' + i % 26)); };
  for (int i = 0; i < kRowsWritten; ++i) {
    if (i % 7 == 0) {
      r.letter('*').text("id" + std::to_string(i));
    } else {
      r.letter('R');
    }
    r.u32(1).u8(static_cast<uint8_t>(i));
    if (i % 5 == 0) {
      r.u32(0);
    } else {
      r.u32(2).u16(static_cast<uint16_t>(-i));
    }
    const std::string raw = raw_of(i);
    r.u32(static_cast<uint32_t>(raw.size())).raw(raw);
    r.u32(8).u64(static_cast<uint64_t>(i) << 33);
    r.u32(8).f64(i / 4.0);
    r.u32(1).raw("z");
    if (i % 500 == 0) r.letter('M').text("m");
  }
  r.letter('K');
  Reply reply(link, r);
  ResultSet* rs = nullptr;
  ASSERT_EQ(recv_results(link.client, &rs), kRowsWritten);
  ASSERT_EQ(rs->row_count, kRowsWritten);
  EXPECT_EQ(std::string(rs->error_text), std::string(kRowsWritten / 500, 'm'));
  const FieldDesc* f = rs->fields;
  for (int i = 0; i < kRowsWritten; ++i) {
    const uint8_t* row = *result_row_slot(rs, i);
    ASSERT_EQ(load_value<int8_t>(row_field_ptr(row, f, 0, nullptr)), static_cast<int8_t>(i)) << i;
    if (i % 5 == 0) {
      ASSERT_TRUE(row_is_null(row, 1)) << i;
    } else {
      ASSERT_EQ(load_value<int16_t>(row_field_ptr(row, f, 1, nullptr)), static_cast<int16_t>(-i)) << i;
    }
    uint32_t len = 0;
    const uint8_t* raw = row_field_ptr(row, f, 2, &len);
    const std::string want = raw_of(i);
    if (want.empty()) {
      ASSERT_TRUE(row_is_null(row, 2)) << i;
    } else {
      ASSERT_EQ(std::string(reinterpret_cast<const char*>(raw), len), want) << i;
      ASSERT_EQ(raw[len], 0) << i;
    }
    ASSERT_EQ(load_value<int64_t>(row_field_ptr(row, f, 3, nullptr)), int64_t{i} << 33) << i;
    ASSERT_EQ(load_value<double>(row_field_ptr(row, f, 4, nullptr)), i / 4.0) << i;
    ASSERT_EQ(*row_field_ptr(row, f, 5, &len), 'z') << i;
    const std::string id = i % 7 == 0 ? "id" + std::to_string(i) : "";
    uint32_t id_len = 0;
    const uint8_t* kept = row_id_of(row, rs->row_size, &id_len);
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(kept), id_len), id) << i;
  }
  free_result(rs);
}

TEST(ResultsReader, LongValuesTakeMemoryAsTheirBytesArrive) {
  // A value longer than the receive buffer and the pool's blocks comes whole,
  // with its zero byte, and the row behind it in step.
  const std::string long_value(200000, 'q');
  {
    LinkPair link;
    ReplyBytes r;
    r.letter('A').u32(2).field("s", 30).field("n", 5);
    r.letter('R').text(long_value).u32(4).u32(7);
    r.letter('R').text("x").u32(4).u32(8);
    r.letter('K');
    Reply reply(link, r);
    ResultSet* rs = nullptr;
    ASSERT_EQ(recv_results(link.client, &rs), 2);
    uint32_t len = 0;
    const uint8_t* p = row_field_ptr(*result_row_slot(rs, 0), rs->fields, 0, &len);
    ASSERT_EQ(len, long_value.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), len), long_value);
    EXPECT_EQ(p[len], 0);
    EXPECT_EQ(int_at(rs, 0, 1), 7);
    EXPECT_EQ(int_at(rs, 1, 1), 8);
    free_result(rs);
  }
  // A length of 2 GiB that the server never sends reserves nothing for it:
  // the read fails when the link does.
  LinkPair link;
  ReplyBytes r;
  r.letter('A').u32(1).field("s", 30);
  r.letter('R').u32(0x7fffffff).raw(long_value);
  Reply reply(link, r, true);
  ResultSet* rs = nullptr;
  EXPECT_EQ(recv_results(link.client, &rs), RC_READ_FAILED);
}

TEST(ResultsReader, AnEncryptedLinkDecodesTheSameRowsAsAPlainOne) {
  // Rows of every width, NULLs, a '*' row and texts between rows, long enough
  // to cross receive buffers and keystream blocks at every offset a row can
  // start at; then the next reply's letter, which must come through in step.
  ReplyBytes r;
  r.letter('A').u32(4).field("i", 5).field("b", 6).field("s", 30).field("d", 9);
  for (int i = 0; i < 3000; ++i) {
    const std::string s(static_cast<size_t>(i % 37), static_cast<char>('a' + i % 26));
    if (i % 500 == 7) r.letter('M').text("note");
    if (i % 400 == 3) {
      r.letter('*').text("row-id");
    } else {
      r.letter('R');
    }
    r.u32(4).u32(static_cast<uint32_t>(i));
    if (i % 9 == 0) {
      r.u32(0);  // NULL
    } else {
      r.u32(8).u64(static_cast<uint64_t>(i) * 1000003);
    }
    r.text(s).u32(8).f64(i * 0.25);
  }
  r.letter('K').letter('Z');

  const uint8_t key[32] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  std::string decoded[2];
  for (const bool encrypted : {false, true}) {
    LinkPair link;
    ReplyBytes wire = r;
    if (encrypted) {
      Link server{};
      ASSERT_TRUE(init_link_ciphers(&server, key, sizeof key));
      cipher_send_bytes(&server, wire.bytes.data(), static_cast<int>(wire.bytes.size()));
      free_link_ciphers(&server);
      link.link()->use_ssl = 1;
      ASSERT_TRUE(init_link_ciphers(link.link(), key, sizeof key));
    }
    Reply reply(link, wire);
    ResultSet* rs = nullptr;
    ASSERT_EQ(recv_results(link.client, &rs), 3000) << encrypted;
    ASSERT_NE(rs, nullptr);
    ASSERT_EQ(rs->row_count, 3000);
    EXPECT_STREQ(rs->error_text, "notenotenotenotenotenote");
    std::string& out = decoded[encrypted];
    char text[kValueTextSize];
    for (int64_t row = 0; row < rs->row_count; ++row) {
      const uint8_t* stored = *result_row_slot(rs, row);
      for (int k = 0; k < 4; ++k) {
        uint32_t len = 0;
        const uint8_t* p = row_field_ptr(stored, rs->fields, k, &len);
        out += p ? std::string(text, static_cast<size_t>(value_text(rs->fields[k].server_type, p, len, text)))
                 : std::string("NULL");
        out += k < 3 ? ',' : ';';
      }
    }
    free_result(rs);
    uint8_t next = 0;
    EXPECT_TRUE(recv_char(link.link(), &next));
    EXPECT_EQ(next, 'Z') << encrypted;
  }
  EXPECT_EQ(decoded[1], decoded[0]);
  EXPECT_NE(decoded[0].find("2999,2999008997,"), std::string::npos);
}

TEST(ResultsReader, TheRowIdCountOfTheHeadStopsAtTheLargest) {
  LinkPair link;
  ReplyBytes r;
  r.letter('U').u32(0x7FFFFFFF).letter('I').text("1").letter('K');
  Reply reply(link, r);
  ResultSet* rs = nullptr;
  EXPECT_EQ(recv_results(link.client, &rs), 0);
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->affected, INT32_MAX);
  free_result_chain(rs);
}
