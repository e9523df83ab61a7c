#include "client/command_frame.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client/lob.h"
#include "link/wire_io.h"
#include "tests/cpp/support/scripted_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Expected wire bytes, written big-endian as the link writes them.
struct Wire {
  Bytes b;
  Wire& u8(uint8_t v) { b.push_back(v); return *this; }
  Wire& be16(uint16_t v) { return u8(v >> 8).u8(v & 0xFF); }
  Wire& be32(uint32_t v) { return be16(v >> 16).be16(v & 0xFFFF); }
  Wire& be64(uint64_t v) { return be32(static_cast<uint32_t>(v >> 32)).be32(static_cast<uint32_t>(v)); }
  Wire& raw(const void* p, size_t n) {
    b.insert(b.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    return *this;
  }
  Wire& text(const char* s) { return raw(s, std::strlen(s)); }
  // The '?' frame of a text and its count word.
  Wire& frame(const char* sql, uint32_t count) {
    return u8('?').be32(static_cast<uint32_t>(std::strlen(sql))).raw(sql, std::strlen(sql) + 1).be32(count);
  }
  // A record's head: name length and name, direction.
  Wire& head(const char* name, uint16_t direction) {
    be16(static_cast<uint16_t>(std::strlen(name))).text(name);
    return be16(direction);
  }
};

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
      send_flush(conn());
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
  ASSERT_EQ(VMC_BindParam(&handle_, 3, 1, 5, &i32, 4, &len2), 0);      // CType 5, any length: 4
  ASSERT_EQ(VMC_BindParam(&handle_, 4, 1, 6, &i64, 8, &len4), 0);      // CType 6 keeps length 4, sends 8 bytes
  ASSERT_EQ(VMC_BindParam(&handle_, 5, 1, 4, &i16, 2, &len2), 0);
  ASSERT_EQ(VMC_BindParam(&handle_, 6, 1, 8, &d, 8, &len8), 0);
  ASSERT_EQ(VMC_BindParam(&handle_, 7, 1, 58, &d, 8, &len8), 0);      // wire type 1008, no value
  uint64_t dbits;
  std::memcpy(&dbits, &d, 8);
  Wire w;
  w.frame("x", 7);
  w.head("", 1).be16(30).be32(0);
  w.head("", 1).be16(5).be32(0);
  w.head("", 1).be16(5).be32(4).be32(0x01020304);
  w.head("", 1).be16(6).be32(4).be64(0x0102030405060708ULL);
  w.head("", 1).be16(4).be32(2).be16(0x0A0B);
  w.head("", 1).be16(9).be32(8).be64(dbits);
  w.head("", 1).be16(1008).be32(0);
  EXPECT_EQ(execute("x", w.b.size()), w.b);
  EXPECT_EQ(conn()->params->count, 0) << "a transient set has no copies left after sending";
}

TEST_F(FrameWire, NamedRecordsWithTextsAGapAndAReturnValue) {
  int len5 = 5, len0 = 0;
  ASSERT_EQ(VMC_BindParamByName(&handle_, "name", 1, 2, const_cast<char*>("hello"), 5, nullptr, &len5), 0);
  ASSERT_EQ(VMC_BindParamByName(&handle_, "empty", 1, 2, const_cast<char*>(""), 0, nullptr, &len0), 0);
  int out = 0, out_len = 4;
  ASSERT_EQ(VMC_BindParamByName(&handle_, "ret", 6, 5, &out, 4, nullptr, &out_len), 0);
  Wire w;
  w.frame("call p", 3);  // the return value counts in the count word
  w.head("name", 1).be16(30).be32(5).text("hello");
  w.head("empty", 1).be16(30).be32(0);
  EXPECT_EQ(execute("call p", w.b.size()), w.b);
}

TEST_F(FrameWire, UnboundPositionsGoOutAsNulls) {
  int len = 1;
  ASSERT_EQ(VMC_BindParam(&handle_, 3, 1, 1, const_cast<char*>("\x01"), 1, &len), 0);
  Wire w;
  w.frame("q", 3);
  w.head("", 1).be16(30).be32(0);
  w.head("", 1).be16(30).be32(0);
  w.head("", 1).be16(2).be32(1).u8(1);  // CType 1 travels as wire type 2
  EXPECT_EQ(execute("q", w.b.size()), w.b);
}

TEST_F(FrameWire, OutputSlotsAreReadNoFurtherThanTheirBuffers) {
  char buf[4] = {'a', 'b', 'c', 'd'};
  int len = 100;  // longer than the buffer the caller gave
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 3, 2, buf, 4, &len), 0);
  int16_t small = 0x0102;
  int len8 = 8;
  ASSERT_EQ(VMC_BindParam(&handle_, 2, 3, 6, &small, 2, &len8), 0);  // 64-bit type, 2-byte buffer
  Wire w;
  w.frame("q", 2);
  w.head("", 3).be16(30).be32(4).text("abcd");
  w.head("", 3).be16(6).be32(8).be64(0x0102);
  EXPECT_EQ(execute("q", w.b.size()), w.b);
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
  Wire w;
  w.frame("lobs", 4);
  w.head("", 1).be16(34).be32(0);
  w.head("", 1).be16(32).be32(kLobChunkSize).raw(data.data(), kLobChunkSize);
  w.head("", 1).be16(34).be32(kLobChunkSize + 1).raw(data.data(), kLobChunkSize + 1);
  w.head("", 1).be16(64).be32(0);
  EXPECT_EQ(execute("lobs", w.b.size()), w.b);
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
  Wire once;
  once.frame("a", 1).head("", 1).be16(5).be32(4).be32(9);
  Wire w;
  w.raw(once.b.data(), once.b.size()).raw(once.b.data(), once.b.size());
  EXPECT_EQ(exchange(w.b.size(), [&] {
              for (int i = 0; i < 2; ++i) {
                send_query(conn(), "a", 1);
                send_params(conn(), set);
              }
              send_flush(conn());
            }),
            w.b);
  release_param_set(set);
}

TEST_F(FrameWire, RowBoundSetsWriteNothing) {
  ParamSet set{};
  set.handle_type = static_cast<uint32_t>(HandleType::ParamSet);
  set.batch_rows = 3;
  set.count = 2;
  EXPECT_EQ(send_params(conn(), &set), 0);
  EXPECT_EQ(conn()->send_fill, 0);
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
