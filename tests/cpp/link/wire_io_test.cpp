#include "link/wire_io.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <csignal>
#include <cstring>
#include <vector>

#include "link/link_cipher.h"
#include "tests/cpp/support/scripted_peer.h"

using testpeer::LinkPair;

namespace {

std::vector<uint8_t> pattern(size_t n, uint8_t seed = 1) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

// The keystream as an independent reader sees it: each 340-byte block is used
// ten times over before the next one is generated.
std::vector<uint8_t> keystream(const uint8_t key[32], size_t n) {
  TuringState st;
  turing_set_key(&st, key, 32);
  turing_set_iv(&st, nullptr, 0);
  std::vector<uint8_t> out;
  uint8_t block[kTuringBlockBytes];
  while (out.size() < n) {
    turing_gen(&st, block);
    for (int use = 0; use < 10 && out.size() < n; ++use)
      for (int i = 0; i < kTuringBlockBytes && out.size() < n; ++i) out.push_back(block[i]);
  }
  return out;
}

constexpr uint8_t kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                              17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

void make_encrypted(Link* link) {
  link->use_ssl = 1;
  ASSERT_TRUE(init_link_ciphers(link, kKey, 32));
}

}  // namespace

TEST(WireWrite, SmallWritesQueueUntilTheQueueWouldFill) {
  LinkPair p;
  auto a = pattern(2048);
  EXPECT_EQ(send_bytes(p.link(), a.data(), 2048), 0);
  EXPECT_EQ(p.link()->send_fill, 2048);
  EXPECT_TRUE(p.peer_read_available(50).empty());

  auto b = pattern(2048, 9);
  EXPECT_EQ(send_bytes(p.link(), b.data(), 2048), 0);
  EXPECT_EQ(send_bytes(p.link(), b.data(), 2048), 0);
  EXPECT_EQ(send_bytes(p.link(), b.data(), 8000 - 3 * 2048), 0);
  auto c = pattern(191, 3);
  EXPECT_EQ(send_bytes(p.link(), c.data(), 191), 0);
  EXPECT_EQ(p.link()->send_fill, 8191);
  EXPECT_TRUE(p.peer_read_available(50).empty());

  // One more byte than fits: the queue leaves, the new bytes stay queued.
  auto d = pattern(1, 77);
  EXPECT_EQ(send_bytes(p.link(), d.data(), 1), 8191);
  EXPECT_EQ(p.link()->send_fill, 1);
  auto wire = p.peer_read(8191);
  std::vector<uint8_t> want(a);
  want.insert(want.end(), b.begin(), b.end());
  want.insert(want.end(), b.begin(), b.end());
  want.insert(want.end(), b.begin(), b.begin() + (8000 - 3 * 2048));
  want.insert(want.end(), c.begin(), c.end());
  EXPECT_EQ(wire, want);
  EXPECT_EQ(send_flush(p.link()), 0);
  EXPECT_EQ(p.peer_read(1), d);
}

TEST(WireWrite, QueueOf8000Takes191ButNot192) {
  LinkPair p;
  auto a = pattern(2000);
  for (int i = 0; i < 4; ++i) send_bytes(p.link(), a.data(), 2000);
  ASSERT_EQ(p.link()->send_fill, 8000);
  auto b = pattern(192, 5);
  EXPECT_EQ(send_bytes(p.link(), b.data(), 192), 8000);
  EXPECT_EQ(p.link()->send_fill, 192);
  EXPECT_EQ(p.peer_read(8000).size(), 8000u);
  EXPECT_EQ(std::memcmp(p.link()->send_buf, b.data(), 192), 0);
}

TEST(WireWrite, LargeWriteSendsTheQueueFirstThenTheData) {
  LinkPair p;
  send_int(p.link(), 0x01020304);
  auto big = pattern(2049);
  EXPECT_EQ(send_bytes(p.link(), big.data(), 2049), 2049);
  EXPECT_EQ(p.link()->send_fill, 0);
  auto wire = p.peer_read(4 + 2049);
  ASSERT_EQ(wire.size(), 4u + 2049u);
  EXPECT_EQ((std::vector<uint8_t>(wire.begin(), wire.begin() + 4)), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_TRUE(std::equal(big.begin(), big.end(), wire.begin() + 4));

  // With nothing queued the data still goes out whole.
  EXPECT_EQ(send_bytes(p.link(), big.data(), 2049), 2049);
  EXPECT_EQ(p.peer_read(2049), big);
  EXPECT_EQ(send_bytes(p.link(), big.data(), 0), 0);
}

TEST(WireWrite, FlushAndBigEndianValues) {
  LinkPair p;
  EXPECT_EQ(send_flush(p.link()), 0);
  EXPECT_TRUE(p.peer_read_available(50).empty());
  send_short(p.link(), 0xA1B2);
  send_int(p.link(), 0xC1C2C3C4);
  send_long(p.link(), 0x0102030405060708ull);
  EXPECT_EQ(send_flush(p.link()), 0);
  EXPECT_EQ(p.link()->send_fill, 0);
  EXPECT_EQ(p.peer_read(14), (std::vector<uint8_t>{0xA1, 0xB2, 0xC1, 0xC2, 0xC3, 0xC4, 1, 2, 3, 4, 5, 6, 7, 8}));

  uint8_t buf[16] = {};
  uint32_t pos = 0;
  buf_put_short(buf, &pos, 0x0102);
  buf_put_int(buf, &pos, 0x03040506);
  EXPECT_EQ(buf_put_long(buf, &pos, 0x0708090A0B0C0D0Eull), 14u);
  EXPECT_EQ(buf_put_bytes(buf, &pos, "xy", 2), 16u);
  const uint8_t want[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 'x', 'y'};
  EXPECT_EQ(std::memcmp(buf, want, 16), 0);
}

TEST(WireWrite, PeerGoneReportsFailureWithoutKillingTheProcess) {
  LinkPair p;
  p.peer_close();
  auto big = pattern(4096);
  // Without care a send to a closed peer raises SIGPIPE and ends the test run.
  EXPECT_EQ(send_bytes(p.link(), big.data(), 4096), -1);
  send_int(p.link(), 7);
  EXPECT_EQ(send_flush(p.link()), -1);
  EXPECT_EQ(p.link()->send_fill, 0);
}

TEST(WireWrite, AFailedSendCutsTheLink) {
  // A send that runs out of time leaves part of a large write with the peer
  // (and, encrypted, the keystream ahead of the peer's): nothing may follow.
  for (const bool enciphered : {false, true}) {
    LinkPair p;
    if (enciphered) make_encrypted(p.link());
    const timeval wait{0, 20000};
    ASSERT_EQ(setsockopt(static_cast<int>(p.link()->sock), SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait), 0);
    send_int(p.link(), 7);
    auto big = pattern(8u << 20);  // more than the socket pair holds
    EXPECT_EQ(send_bytes(p.link(), big.data(), static_cast<uint32_t>(big.size())), -1) << enciphered;
    EXPECT_EQ(p.link()->send_fill, 0);
    p.peer_read_available(20);
    uint8_t byte = 0;
    EXPECT_EQ(recv(p.peer_fd, &byte, 1, MSG_DONTWAIT), 0) << "the peer sees the link end";
    send_int(p.link(), 7);
    EXPECT_EQ(send_flush(p.link()), -1) << "nothing goes out behind the failed write";
  }
}

TEST(WireRead, TypedValuesTextsAndGivenBackLetters) {
  LinkPair p;
  p.peer_write(std::vector<uint8_t>{'A', 0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8,
                                    0x3F, 0x80, 0, 0, 0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18});
  uint8_t c = 0;
  uint16_t s = 0;
  uint32_t i = 0;
  uint64_t l = 0;
  float f = 0;
  double d = 0;
  EXPECT_EQ(recv_char(p.link(), &c), 1);
  EXPECT_EQ(c, 'A');
  EXPECT_EQ(recv_short(p.link(), &s), 1);
  EXPECT_EQ(s, 0x1234);
  EXPECT_EQ(recv_int(p.link(), &i), 1);
  EXPECT_EQ(i, 0xDEADBEEFu);
  EXPECT_EQ(recv_long(p.link(), &l), 1);
  EXPECT_EQ(l, 0x0102030405060708ull);
  EXPECT_EQ(recv_float(p.link(), &f), 1);
  EXPECT_EQ(f, 1.0f);
  EXPECT_EQ(recv_double(p.link(), &d), 1);
  EXPECT_DOUBLE_EQ(d, 3.141592653589793);

  // A given-back letter comes first and alone satisfies a one-byte read.
  p.link()->pushback_letter = 'R';
  EXPECT_EQ(recv_char(p.link(), &c), 1);
  EXPECT_EQ(c, 'R');
  EXPECT_EQ(p.link()->pushback_letter, 0);
  p.peer_write(std::vector<uint8_t>{0x22, 0x33, 0x44});
  p.link()->pushback_letter = 0x11;
  EXPECT_EQ(recv_int(p.link(), &i), 1);
  EXPECT_EQ(i, 0x11223344u);

  p.peer_write(std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 3, 'a', 'b', 'c'});
  char* text = reinterpret_cast<char*>(1);
  EXPECT_EQ(recv_str(p.link(), &text), 0);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "");
  std::free(text);
  EXPECT_EQ(recv_str(p.link(), &text), 0);
  EXPECT_STREQ(text, "abc");
  std::free(text);
}

TEST(WireRead, LengthsThatCannotBeAllocatedAreRefused) {
  LinkPair p;
  char* text = reinterpret_cast<char*>(1);
  p.peer_write(std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(recv_str(p.link(), &text), -5);
  EXPECT_EQ(text, nullptr);
  p.peer_write(std::vector<uint8_t>{0x7F, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(recv_str(p.link(), &text), -5);
  EXPECT_EQ(text, nullptr);
}

TEST(WireRead, PeerClosingMidValueFailsAndLeavesTheTargetAlone) {
  LinkPair p;
  p.peer_write(std::vector<uint8_t>{0xAA, 0xBB});
  p.peer_close();
  uint32_t i = 42;
  EXPECT_EQ(recv_int(p.link(), &i), 0);
  EXPECT_EQ(i, 42u);

  LinkPair q;
  q.peer_write(std::vector<uint8_t>{0, 0, 0, 10, 'a', 'b'});
  q.peer_close();
  char* text = reinterpret_cast<char*>(1);
  EXPECT_EQ(recv_str(q.link(), &text), -4);
  EXPECT_EQ(text, nullptr);
}

TEST(WireRead, PlainLinkReadsAheadIntoItsBuffer) {
  LinkPair p;
  p.peer_write(pattern(10000));
  uint8_t buf[6000];
  ASSERT_TRUE(recv_bytes(p.link(), buf, 6000));
  EXPECT_EQ(std::memcmp(buf, pattern(10000).data(), 6000), 0);
  ASSERT_TRUE(recv_bytes(p.link(), buf, 4000));
  EXPECT_EQ(std::memcmp(buf, pattern(10000).data() + 6000, 4000), 0);
  EXPECT_EQ(p.link()->recv_fill, 0);
  EXPECT_EQ(p.link()->recv_pos, 0);

  // A 1-byte read pulls a whole buffer's worth and serves the rest from it.
  p.peer_write(pattern(20));
  uint8_t one;
  ASSERT_TRUE(recv_bytes(p.link(), &one, 1));
  EXPECT_EQ(p.link()->recv_fill, 20);
  EXPECT_EQ(p.link()->recv_pos, 1);
}

TEST(WireEncrypted, WritesTakeTheKeystreamInWireOrder) {
  LinkPair p;
  make_encrypted(p.link());
  auto small1 = pattern(100, 1);
  auto small2 = pattern(7, 2);
  auto large = pattern(5000, 3);
  send_bytes(p.link(), small1.data(), 100);
  send_int(p.link(), 0x01020304);
  send_bytes(p.link(), small2.data(), 7);
  EXPECT_EQ(send_bytes(p.link(), large.data(), 5000), 5000);
  send_short(p.link(), 0xBEEF);
  EXPECT_EQ(send_flush(p.link()), 0);

  std::vector<uint8_t> plain(small1);
  plain.insert(plain.end(), {1, 2, 3, 4});
  plain.insert(plain.end(), small2.begin(), small2.end());
  plain.insert(plain.end(), large.begin(), large.end());
  plain.insert(plain.end(), {0xBE, 0xEF});
  auto wire = p.peer_read(plain.size());
  ASSERT_EQ(wire.size(), plain.size());
  auto ks = keystream(kKey, plain.size());
  for (size_t i = 0; i < plain.size(); ++i) ASSERT_EQ(wire[i], plain[i] ^ ks[i]) << "byte " << i;
  // The caller's large buffer is left as it was.
  EXPECT_EQ(large, pattern(5000, 3));
}

TEST(WireEncrypted, ReadsDecipherOnlyWhatCameFromTheLink) {
  LinkPair p;
  make_encrypted(p.link());
  auto plain = pattern(4000, 9);
  auto ks = keystream(kKey, plain.size());
  std::vector<uint8_t> wire(plain.size());
  for (size_t i = 0; i < plain.size(); ++i) wire[i] = plain[i] ^ ks[i];
  p.peer_write(wire);

  uint8_t first;
  ASSERT_TRUE(recv_bytes(p.link(), &first, 1));
  EXPECT_EQ(first, plain[0]);
  // Given back and read again as the head of a longer read: only the bytes
  // behind it take keystream.
  p.link()->pushback_letter = first;
  std::vector<uint8_t> got(3999);
  ASSERT_TRUE(recv_bytes(p.link(), got.data(), 3999));
  EXPECT_TRUE(std::equal(got.begin(), got.end(), plain.begin()));
  // The link reads ahead like a plain one: the byte behind lies in the buffer,
  // deciphered once as it arrived, and every byte took its own keystream
  // byte: one block's ten passes and 600 into the next.
  EXPECT_EQ(p.link()->recv_cipher->position, 4000 - kCipherBlockUses);
  uint8_t last = 0;
  ASSERT_TRUE(recv_bytes(p.link(), &last, 1));
  EXPECT_EQ(last, plain[3999]);
  EXPECT_EQ(p.link()->recv_fill, 0);
}
