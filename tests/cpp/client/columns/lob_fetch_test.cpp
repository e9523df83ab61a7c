#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "client/columns/lob_fetch.h"
#include "client/lob/lob.h"
#include "client/results/result_life.h"
#include "client/columns/convert.h"
#include "client/values/type_codes.h"
#include "link/wire_io.h"
#include "platform/lock.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/result_builder.h"
#include "tests/cpp/support/scripted_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// 'A' with one field description, then 'R'.
ReplyBytes rows_head() { return std::move(ReplyBytes().letter('A').u32(1).field("t.lob", 34).letter('R')); }
ReplyBytes& piece(ReplyBytes& r, const std::string& s) { return r.u32(1).text(s); }

// The frame of a command without parameters.
Bytes frame_of(const std::string& text) { return ReplyBytes().letter('?').text(text).u8(0).u32(0).bytes; }

class LobFetch : public ::testing::Test {
 protected:
  void SetUp() override {
    link_.client->lock = lock_create(0, 2000000000);
    lock_release(link_.client->lock);
    link_.client->lob_ret = 1;
    ASSERT_EQ(VMC_CreateLob(&handle_), 0);
  }
  void TearDown() override {
    if (peer_.joinable()) peer_.join();
    VMC_FreeLob(&handle_);
    lock_close(link_.client->lock);
  }
  LobObject* lob() const { return static_cast<LobObject*>(handle_); }
  // The peer reads the command it expects and answers with `reply`.
  void answer(const std::string& command, const Bytes& reply, bool close_after = false) {
    peer_ = std::thread([this, command, reply, close_after] {
      command_seen_ = link_.peer_read(frame_of(command).size()) == frame_of(command);
      link_.peer_write(reply);
      if (close_after) link_.peer_close();
    });
  }

  testpeer::LinkPair link_;
  VMC_Handle handle_ = nullptr;
  std::thread peer_;
  bool command_seen_ = false;
};

TEST_F(LobFetch, ADescriptorInARowBringsTheWholeValue) {
  const std::string desc = "C0000000000017" "1048581";
  Bytes big(kLobChunkSize, 'x');
  ReplyBytes r = rows_head();
  piece(r, "hello").u32(1).u32(kLobChunkSize);
  r.bytes.insert(r.bytes.end(), big.begin(), big.end());
  r.u32(0).letter('K');  // not read by the fetch
  answer("get lob 'C000000000001' offset 0 limit 1048581 ", r.bytes);

  int len = 0;
  ASSERT_EQ(lob_from_column_value(link_.client, lob(), 41, false, reinterpret_cast<const uint8_t*>(desc.data()),
                                  static_cast<uint32_t>(desc.size()), &len),
            0);
  peer_.join();
  EXPECT_TRUE(command_seen_);
  EXPECT_EQ(len, static_cast<int>(kLobChunkSize + 5));
  EXPECT_EQ(lob()->lob_state, static_cast<uint32_t>(LobState::Complete));
  EXPECT_STREQ(lob()->descriptor, desc.c_str());
  char head[6] = {};
  ASSERT_EQ(VMC_GetLobData(&handle_, head, 5), 5);
  EXPECT_STREQ(head, "hello");
  EXPECT_EQ(lob()->chunk_count, 2u);
  // The next exchange starts right behind the closing 0.
  uint8_t letter = 0;
  ASSERT_EQ(recv_char(link_.link(), &letter), 1);
  EXPECT_EQ(letter, 'K');
}

TEST_F(LobFetch, RepliesWithoutRowsFetchNothing) {
  lob()->descriptor = strdup("C000000000002");
  answer("get lob 'C000000000002' offset 0 limit  ", ReplyBytes().letter('K').bytes);
  EXPECT_EQ(fetch_lob(link_.client, lob()), 0);
  peer_.join();
  EXPECT_TRUE(command_seen_);
  EXPECT_EQ(lob()->lob_size, 0);
  EXPECT_EQ(fetch_lob(nullptr, nullptr), RC_INVALID_HANDLE);
}

// A value that cannot be had says why, through the column's conversion: a
// refusal answers RC_ERROR with the server's text; a reply that cannot be
// followed, or a link that fails, answers RC_READ_FAILED (the link is then
// closed). Either way the object holds the bytes that came before it, and
// its length says so.
struct LobFailure {
  const char* what;
  std::string descriptor;
  Bytes reply;        // the answer to "get lob"; empty: nothing may be sent
  bool hang_up;       // the server closes the link behind the answer
  int code;
  std::string bytes;  // what the object holds
  std::string error;  // the connection's error text after it (empty: none)
};

std::vector<LobFailure> lob_failures() {
  const std::string too_long = "C000000000004x" + std::string(100, '9');
  ReplyBytes overlong = rows_head();
  piece(overlong, "ab").u32(1).u32(kLobChunkSize + 1);
  ReplyBytes cut = rows_head();
  piece(cut, "cd").u32(1).u32(10).raw("abc");
  ReplyBytes warned = ReplyBytes().letter('W').text("[WS001]note").then(rows_head());
  piece(warned, "abc").u32(0);
  return {
      {"Refusal", "C000000000404:3", ReplyBytes().letter('E').text("[ES404]no LOB C000000000404").letter('K').bytes,
       false, RC_ERROR, "", "[ES404]no LOB C000000000404"},
      {"WarningBeforeTheValue", "C000000000406:3", warned.bytes, false, RC_SUCCESS, "abc", "[WS001]note"},
      {"PieceLongerThanAChunk", "C000000000003x9", overlong.bytes, false, RC_READ_FAILED, "ab", ""},
      {"LinkClosedMidValue", "C000000000003x9", cut.bytes, true, RC_READ_FAILED, "cd", ""},
      {"DescriptorTooLongForTheCommand", too_long, {}, false, RC_ERROR, "",
       "[EC064]Error name too long for its command: " + too_long.substr(0, 60)},
  };
}

void PrintTo(const LobFailure& c, std::ostream* os) { *os << c.what; }

class LobFetchFailure : public LobFetch, public ::testing::WithParamInterface<LobFailure> {};

TEST_P(LobFetchFailure, IsToldWithTheBytesBeforeIt) {
  const LobFailure& c = GetParam();
  if (!c.reply.empty()) {
    answer("get lob '" + c.descriptor.substr(0, 13) + "' offset 0 limit " + c.descriptor.substr(14) + " ", c.reply,
           c.hang_up);
  }
  int len = -1;
  EXPECT_EQ(lob_from_column_value(link_.client, lob(), CT_CLOB, false,
                                  reinterpret_cast<const uint8_t*>(c.descriptor.data()),
                                  static_cast<uint32_t>(c.descriptor.size()), &len),
            c.code);
  if (peer_.joinable()) peer_.join();
  EXPECT_EQ(command_seen_, !c.reply.empty());
  EXPECT_EQ(lob()->lob_state, static_cast<uint32_t>(LobState::Complete));
  EXPECT_EQ(len, static_cast<int>(c.bytes.size()));
  std::string held(c.bytes.size() + 1, '\0');
  held.resize(static_cast<size_t>(VMC_GetLobData(&handle_, held.data(), static_cast<uint32_t>(held.size()))));
  EXPECT_EQ(held, c.bytes);
  EXPECT_EQ(link_.client->error_text ? std::string(link_.client->error_text) : std::string(), c.error);
  if (!c.hang_up) {
    EXPECT_TRUE(link_.peer_read_available(20).empty());
  }
  EXPECT_EQ(link_.client->link.sock == 0, c.code == RC_READ_FAILED) << "the link is closed exactly on a read failure";
}

INSTANTIATE_TEST_SUITE_P(Cases, LobFetchFailure, ::testing::ValuesIn(lob_failures()),
                         [](const ::testing::TestParamInfo<LobFailure>& info) { return info.param.what; });

TEST_F(LobFetch, InlineAndCopiedColumnValues) {
  const std::string inline_value = "chello";
  int len = -1;
  auto fill = [&](int ctype, bool raw, const std::string& v) {
    return lob_from_column_value(link_.client, lob(), ctype, raw, reinterpret_cast<const uint8_t*>(v.data()),
                                 static_cast<uint32_t>(v.size()), &len);
  };
  ASSERT_EQ(fill(43, false, inline_value), 0);
  EXPECT_EQ(len, 5);
  EXPECT_EQ(lob()->chunk_count, 1u);
  EXPECT_EQ(lob()->lob_state, static_cast<uint32_t>(LobState::Complete));

  // A binary LOB takes only 'b' and 'B'; another letter leaves the object alone.
  len = -1;
  ASSERT_EQ(fill(42, false, inline_value), 0);
  EXPECT_EQ(len, -1);
  EXPECT_EQ(lob()->lob_size, 5);
  ASSERT_EQ(fill(42, false, "b"), 0);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(lob()->chunk_count, 1u);

  // Without descriptors the raw value is the content, for raw types only.
  link_.client->lob_ret = 0;
  ASSERT_EQ(fill(41, true, "Cplain"), 0);
  EXPECT_EQ(len, 6);
  EXPECT_EQ(fill(41, false, "12"), RC_NO_CONVERSION);
  EXPECT_EQ(len, 0);

  uint32_t not_a_lob = 4;
  EXPECT_EQ(lob_from_column_value(link_.client, reinterpret_cast<LobObject*>(&not_a_lob), 41, true,
                                  reinterpret_cast<const uint8_t*>("x"), 1, &len),
            RC_INVALID_HANDLE);
}

TEST_F(LobFetch, ColumnValuesReachLobsThroughTheConversion) {
  ResultSet* rs = build_result({{"doc", ST_CLOB}, {"n", ST_INT32}});
  rs->conn = link_.client;
  uint8_t* row = add_row(rs);
  set_raw(rs, row, 0, "cinline", 7);
  int len = 0;
  EXPECT_EQ(get_column_data(&rs, 1, CT_CLOB, &handle_, 8, &len), 0);
  EXPECT_EQ(len, 6);
  EXPECT_EQ(lob()->lob_size, 6);
  // NULL and the LOB type 40 answer as for every other type.
  EXPECT_EQ(get_column_data(&rs, 2, CT_BLOB, &handle_, 8, &len), -11);
  EXPECT_EQ(get_column_data(&rs, 1, CT_LOB, &handle_, 8, &len), -13);
  link_.client->lob_ret = 0;
  EXPECT_EQ(get_column_data(&rs, 1, CT_BLOB, &handle_, 8, &len), 0);
  EXPECT_EQ(len, 7);
  VMC_Handle none = nullptr;
  EXPECT_EQ(get_column_data(&rs, 1, CT_BLOB, &none, 8, &len), -3);
  free_result(rs);
}

}  // namespace
