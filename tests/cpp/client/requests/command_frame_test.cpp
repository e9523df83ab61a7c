#include "client/handles/handle.h"
#include "client/requests/command_frame.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client/lob/lob.h"
#include "link/wire_io.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/scripted_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The '?' frame of a text and its count word.
ReplyBytes& frame(ReplyBytes& w, const char* sql, uint32_t count) {
  return w.letter('?').text(sql).u8(0).u32(count);
}
// A record's head: name length and name, direction.
ReplyBytes& head(ReplyBytes& w, const char* name, uint16_t direction) {
  return w.u16(static_cast<uint16_t>(std::strlen(name))).raw(name).u16(direction);
}

// The client's end of a socket pair, read by a thread on the peer's end.
class FrameWire : public ::testing::Test {
 protected:
  void SetUp() override { handle_ = link_.client; }
  void TearDown() override { VMC_ClearParams(&handle_); }
  Conn* conn() const { return link_.client; }

  // Runs send (which ends in a flush) while the peer reads the expected
  // number of bytes, then checks that nothing more came.
  template <typename Send>
  Bytes exchange(size_t expected, Send send) {
    Bytes got;
    std::thread reader([&] { got = link_.peer_read(expected); });
    send();
    reader.join();
    EXPECT_TRUE(link_.peer_read_available(20).empty()) << "bytes beyond the expected ones";
    return got;
  }
  // The frame and the records of the connection's current set.
  Bytes execute(const char* sql, size_t expected) {
    return exchange(expected, [&] {
      ParamSet* set = conn()->params;
      send_query(conn(), sql, set ? static_cast<uint32_t>(set->count) : 0);
      send_params(conn(), set);
      send_flush(&conn()->link);
    });
  }

  testpeer::LinkPair link_;
  VMC_Handle handle_ = nullptr;
};

TEST_F(FrameWire, EmptyTextAndNoParameters) {
  EXPECT_EQ(exchange(10, [&] { send_query_flush(conn(), ""); }), (Bytes{'?', 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(FrameWire, PositionalRecordsOfTheFixedWidthTypes) {
  int32_t i32 = 0x01020304;
  int len4 = 4, len0 = 0, len2 = 2, len8 = 8;
  int64_t i64 = 0x0102030405060708LL;
  int16_t i16 = 0x0A0B;
  double d = 1.5;
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 1, 0, nullptr, 0, &len0), 0);   // null
  ASSERT_EQ(VMC_BindParam(&handle_, 2, 1, 5, &i32, 4, &len0), 0);      // CType 5, length 0
  ASSERT_EQ(VMC_BindParam(&handle_, 3, 1, 5, &i32, 4, &len2), 0);      // CType 5, any length: 4, 2 bytes read
  ASSERT_EQ(VMC_BindParam(&handle_, 4, 1, 6, &i64, 8, &len4), 0);      // CType 6 keeps length 4: 4 bytes read, 8 sent
  ASSERT_EQ(VMC_BindParam(&handle_, 5, 1, 4, &i16, 2, &len2), 0);
  ASSERT_EQ(VMC_BindParam(&handle_, 6, 1, 8, &d, 8, &len8), 0);
  ASSERT_EQ(VMC_BindParam(&handle_, 7, 1, 58, &d, 8, &len8), 0);      // wire type 1008, no value
  uint64_t dbits;
  std::memcpy(&dbits, &d, 8);
  ReplyBytes w;
  frame(w, "x", 7);
  head(w, "", 1).u16(30).u32(0);
  head(w, "", 1).u16(5).u32(0);
  // Only the bound bytes are read from the caller; the rest go out as zero.
  head(w, "", 1).u16(5).u32(4).u32(0x0304);
  head(w, "", 1).u16(6).u32(4).u64(0x05060708ULL);
  head(w, "", 1).u16(4).u32(2).u16(0x0A0B);
  head(w, "", 1).u16(9).u32(8).u64(dbits);
  head(w, "", 1).u16(1008).u32(0);
  EXPECT_EQ(execute("x", w.bytes.size()), w.bytes);
  EXPECT_EQ(conn()->params->count, 0) << "a transient set has no copies left after sending";
}

TEST_F(FrameWire, NamedRecordsWithTextsAGapAndAReturnValue) {
  int len5 = 5, len0 = 0;
  ASSERT_EQ(VMC_BindParamByName(&handle_, "name", 1, 2, const_cast<char*>("hello"), 5, nullptr, &len5), 0);
  ASSERT_EQ(VMC_BindParamByName(&handle_, "empty", 1, 2, const_cast<char*>(""), 0, nullptr, &len0), 0);
  int out = 0, out_len = 4;
  ASSERT_EQ(VMC_BindParamByName(&handle_, "ret", 6, 5, &out, 4, nullptr, &out_len), 0);
  ReplyBytes w;
  frame(w, "call p", 3);  // the return value counts in the count word
  head(w, "name", 1).u16(30).u32(5).raw("hello");
  head(w, "empty", 1).u16(30).u32(0);
  EXPECT_EQ(execute("call p", w.bytes.size()), w.bytes);
}

TEST_F(FrameWire, UnboundPositionsGoOutAsNulls) {
  int len = 1;
  ASSERT_EQ(VMC_BindParam(&handle_, 3, 1, 1, const_cast<char*>("\x01"), 1, &len), 0);
  ReplyBytes w;
  frame(w, "q", 3);
  head(w, "", 1).u16(30).u32(0);
  head(w, "", 1).u16(30).u32(0);
  head(w, "", 1).u16(2).u32(1).u8(1);  // CType 1 travels as wire type 2
  EXPECT_EQ(execute("q", w.bytes.size()), w.bytes);
}

TEST_F(FrameWire, OutputSlotsAreReadNoFurtherThanTheirBuffers) {
  char buf[4] = {'a', 'b', 'c', 'd'};
  int len = 100;  // longer than the buffer the caller gave
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 3, 2, buf, 4, &len), 0);
  int16_t small = 0x0102;
  int len8 = 8;
  ASSERT_EQ(VMC_BindParam(&handle_, 2, 3, 6, &small, 2, &len8), 0);  // 64-bit type, 2-byte buffer
  ReplyBytes w;
  frame(w, "q", 2);
  head(w, "", 3).u16(30).u32(4).raw("abcd");
  head(w, "", 3).u16(6).u32(8).u64(0x0102);
  EXPECT_EQ(execute("q", w.bytes.size()), w.bytes);
}

TEST_F(FrameWire, LobsGoOutWholeOnlyWhenComplete) {
  VMC_Handle partial = nullptr, one = nullptr, two = nullptr;
  ASSERT_EQ(VMC_CreateLob(&partial), 0);
  ASSERT_EQ(VMC_CreateLob(&one), 0);
  ASSERT_EQ(VMC_CreateLob(&two), 0);
  Bytes data(kLobChunkSize + 1);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(VMC_PutLobData(&partial, data.data(), 10), 0);  // state 1: not sent
  ASSERT_EQ(VMC_PutLobData(&one, data.data(), kLobChunkSize), 0);
  ASSERT_EQ(VMC_PutLobData(&one, nullptr, 0xFFFFFFFFu), 0);
  ASSERT_EQ(VMC_PutLobData(&two, data.data(), kLobChunkSize + 1), 0);
  ASSERT_EQ(VMC_PutLobData(&two, nullptr, 0xFFFFFFFFu), 0);

  int len = 8;
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 1, 42, &partial, 8, &len), 0);
  ASSERT_EQ(VMC_BindParam(&handle_, 2, 1, 41, &one, 8, &len), 0);
  ASSERT_EQ(VMC_BindParam(&handle_, 3, 1, 42, &two, 8, &len), 0);
  uint32_t not_a_lob = 4;
  void* wrong = &not_a_lob;
  ASSERT_EQ(VMC_BindParam(&handle_, 4, 1, 44, &wrong, 8, &len), 0);
  ReplyBytes w;
  frame(w, "lobs", 4);
  head(w, "", 1).u16(34).u32(0);
  head(w, "", 1).u16(32).u32(kLobChunkSize);
  w.bytes.insert(w.bytes.end(), data.begin(), data.begin() + kLobChunkSize);
  head(w, "", 1).u16(34).u32(kLobChunkSize + 1);
  w.bytes.insert(w.bytes.end(), data.begin(), data.end());
  head(w, "", 1).u16(64).u32(0);
  EXPECT_EQ(execute("lobs", w.bytes.size()), w.bytes);
  // Sending leaves the objects as they were.
  EXPECT_EQ(static_cast<LobObject*>(two)->lob_size, kLobChunkSize + 1);
  VMC_FreeLob(&partial);
  VMC_FreeLob(&one);
  VMC_FreeLob(&two);
}

TEST_F(FrameWire, ABinaryLobPieceThatCannotGoOutEndsTheRecords) {
  VMC_Handle lob = nullptr;
  ASSERT_EQ(VMC_CreateLob(&lob), 0);
  Bytes data(3000, 0x5A);  // above the size that is queued
  ASSERT_EQ(VMC_PutLobData(&lob, data.data(), 3000), 0);
  ASSERT_EQ(VMC_PutLobData(&lob, nullptr, 0xFFFFFFFFu), 0);
  int len = 8;
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 1, 41, &lob, 8, &len), 0);
  ASSERT_EQ(VMC_BindParam(&handle_, 2, 1, 42, &lob, 8, &len), 0);
  link_.peer_close();

  send_query(conn(), "x", 2);
  testing::internal::CaptureStdout();
  EXPECT_EQ(send_params(conn(), conn()->params), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "send param net Error for BLOB");
  EXPECT_EQ(conn()->params->count, 2) << "the copies stay when the records were cut short";
  VMC_FreeLob(&lob);
}

TEST_F(FrameWire, CallerOwnedSetCanBeSentAgain) {
  VMC_Handle own = nullptr;
  ASSERT_EQ(VMC_AllocParams(&own), 0);
  int v = 9, len = 4;
  ASSERT_EQ(VMC_BindParam(&own, 1, 1, 5, &v, 4, &len), 0);
  ParamSet* set = static_cast<ParamSet*>(own);
  ReplyBytes once;
  head(frame(once, "a", 1), "", 1).u16(5).u32(4).u32(9);
  ReplyBytes w;
  for (int i = 0; i < 2; ++i) w.bytes.insert(w.bytes.end(), once.bytes.begin(), once.bytes.end());
  EXPECT_EQ(exchange(w.bytes.size(), [&] {
              for (int i = 0; i < 2; ++i) {
                send_query(conn(), "a", 1);
                send_params(conn(), set);
              }
              send_flush(&conn()->link);
            }),
            w.bytes);
  release_param_set(set);
}

TEST_F(FrameWire, RowBoundSetsWriteNothing) {
  ParamSet set{};
  set.handle_type = static_cast<uint32_t>(HandleType::ParamSet);
  set.batch_rows = 3;
  set.count = 2;
  EXPECT_EQ(send_params(conn(), &set), 0);
  EXPECT_EQ(conn()->link.send_fill, 0);
}

TEST(WireTypes, BatchRowsMapClientTypes) {
  EXPECT_EQ(ctype_to_wire_type(1), 3);
  EXPECT_EQ(ctype_to_wire_type(3), 3);
  EXPECT_EQ(ctype_to_wire_type(5), 5);
  EXPECT_EQ(ctype_to_wire_type(7), 8);
  EXPECT_EQ(ctype_to_wire_type(15), 33);
  EXPECT_EQ(ctype_to_wire_type(23), 13);
  EXPECT_EQ(ctype_to_wire_type(42), 30);
  EXPECT_EQ(ctype_to_wire_type(58), 30);
  EXPECT_EQ(ctype_to_wire_type(0), 30);
}

}  // namespace
