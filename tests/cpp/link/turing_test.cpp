#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "link/link_cipher.h"
#include "link/turing.h"
#include "platform/memory.h"

namespace {

const uint8_t kCheckKey[16] = {'t', 'e', 's', 't', ' ', 'k', 'e', 'y',
                               ' ', '1', '2', '8', 'b', 'i', 't', 's'};

std::vector<uint8_t> link_key() {
  std::vector<uint8_t> key(32);
  for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i);
  return key;
}

TuringState* keyed_state(const uint8_t* key, uint32_t key_len, const uint8_t* iv, uint32_t iv_len) {
  auto* st = static_cast<TuringState*>(alloc_zeroed(sizeof(TuringState)));
  turing_set_key(st, key, key_len);
  turing_set_iv(st, iv, iv_len);
  return st;
}

// ---- the cipher itself -------------------------------------------------

TEST(TuringCipher, PublishedCheckVector) {
  const uint8_t iv[4] = {0, 0, 0, 0};
  TuringState* st = static_cast<TuringState*>(alloc_zeroed(sizeof(TuringState)));
  turing_set_key(st, kCheckKey, sizeof kCheckKey);
  ASSERT_EQ(st->key_len, 4);
  EXPECT_EQ(st->K[0], 0xf829139cu);
  EXPECT_EQ(st->K[1], 0xc69682abu);
  EXPECT_EQ(st->K[2], 0xd65433acu);
  EXPECT_EQ(st->K[3], 0xd79410d3u);

  turing_set_iv(st, iv, sizeof iv);
  uint8_t block[kTuringBlockBytes];
  ASSERT_EQ(turing_gen(st, block), kTuringBlockBytes);
  const uint8_t expected[20] = {0x69, 0x66, 0x26, 0xbb, 0xdc, 0x6e, 0x09, 0xf6, 0xda, 0x9a,
                                0xba, 0xb5, 0xb5, 0x6c, 0x14, 0x87, 0x82, 0x46, 0xdf, 0x18};
  EXPECT_EQ(0, std::memcmp(block, expected, sizeof expected));
  std::free(st);
}

// The published vector covers the first round only. These bytes come from a
// separate model that shifts the whole register each step, so they check that
// the in-place rounds line up through the end of a block and into the next.
TEST(TuringCipher, LaterRoundsAndSecondBlockMatchShiftingModel) {
  const uint8_t iv[4] = {0, 0, 0, 0};
  TuringState* st = keyed_state(kCheckKey, sizeof kCheckKey, iv, sizeof iv);
  uint8_t first[kTuringBlockBytes];
  uint8_t second[kTuringBlockBytes];
  turing_gen(st, first);
  turing_gen(st, second);
  const uint8_t first_tail[20] = {0x10, 0xd8, 0x3b, 0xeb, 0xe2, 0x28, 0xf7, 0xfc, 0x5d, 0xef,
                                  0x7b, 0x6b, 0x54, 0x53, 0x60, 0x79, 0xd1, 0xd8, 0x27, 0x1a};
  const uint8_t second_head[20] = {0x7c, 0x81, 0xf3, 0x77, 0x00, 0xf1, 0xbf, 0x48, 0x8f, 0xbf,
                                   0xe5, 0xfa, 0x7a, 0x4b, 0x02, 0x4d, 0x3f, 0x0e, 0x22, 0xc1};
  EXPECT_EQ(0, std::memcmp(first + 320, first_tail, 20));
  EXPECT_EQ(0, std::memcmp(second, second_head, 20));
  std::free(st);
}

// Key words in use and the four keyed tables; set-up leaves words past the
// key length as they were.
bool same_key_setup(const TuringState* a, const TuringState* b) {
  return a->key_len == b->key_len &&
         std::memcmp(a->K, b->K, sizeof(uint32_t) * static_cast<size_t>(a->key_len)) == 0 &&
         std::memcmp(a->S0, b->S0, sizeof a->S0) == 0 && std::memcmp(a->S1, b->S1, sizeof a->S1) == 0 &&
         std::memcmp(a->S2, b->S2, sizeof a->S2) == 0 && std::memcmp(a->S3, b->S3, sizeof a->S3) == 0;
}

TEST(TuringCipher, KeyLengthsAreClampedAndRoundedDown) {
  std::vector<uint8_t> key(33);
  for (int i = 0; i < 33; ++i) key[i] = static_cast<uint8_t>(0x5a ^ (i * 7));
  auto* a = static_cast<TuringState*>(alloc_zeroed(sizeof(TuringState)));
  auto* b = static_cast<TuringState*>(alloc_zeroed(sizeof(TuringState)));

  // 33 bytes: the 33rd is ignored.
  turing_set_key(a, key.data(), 33);
  turing_set_key(b, key.data(), 32);
  EXPECT_EQ(a->key_len, 8);
  EXPECT_TRUE(same_key_setup(a, b));

  // 32 bytes: the last group counts (changing its last byte changes the key).
  std::vector<uint8_t> other = key;
  other[31] ^= 1;
  turing_set_key(a, other.data(), 32);
  EXPECT_FALSE(same_key_setup(a, b));

  // 30 bytes: the incomplete last group is dropped.
  turing_set_key(a, key.data(), 30);
  turing_set_key(b, key.data(), 28);
  EXPECT_EQ(a->key_len, 7);
  EXPECT_TRUE(same_key_setup(a, b));
  std::free(a);
  std::free(b);
}

TEST(TuringCipherDeathTest, IvOutsideItsLimitsAborts) {
  const std::vector<uint8_t> key = link_key();
  const uint8_t iv[20] = {};
  auto* st = static_cast<TuringState*>(alloc_zeroed(sizeof(TuringState)));
  turing_set_key(st, key.data(), 32);
  turing_set_iv(st, iv, 16);  // 32 + 16 fills the register exactly
  EXPECT_DEATH(turing_set_iv(st, iv, 20), "");
  EXPECT_DEATH(turing_set_iv(st, iv, 3), "");
  std::free(st);
}

// ---- the per-link ciphers -----------------------------------

struct LinkDeleter {
  void operator()(Link* c) const {
    free_link_ciphers(c);
    std::free(c);
  }
};
using LinkPtr = std::unique_ptr<Link, LinkDeleter>;

LinkPtr keyed_link(const std::vector<uint8_t>& key) {
  LinkPtr conn(static_cast<Link*>(alloc_zeroed(sizeof(Link))));
  EXPECT_TRUE(init_link_ciphers(conn.get(), key.data(), static_cast<int>(key.size())));
  return conn;
}

TEST(LinkCipher, BothDirectionsStartOnTheKeystreamOfTheLinkKey) {
  const std::vector<uint8_t> key = link_key();
  LinkPtr conn = keyed_link(key);
  ASSERT_NE(conn->recv_cipher, nullptr);
  ASSERT_NE(conn->send_cipher, nullptr);
  // The link runs with an empty IV; these bytes come from the shifting model.
  const uint8_t head[8] = {0x38, 0xcb, 0xd9, 0x85, 0x52, 0x34, 0x9d, 0x10};
  for (LinkCipher* c : {conn->recv_cipher, conn->send_cipher}) {
    EXPECT_EQ(c->position, 0);
    EXPECT_EQ(0, std::memcmp(c->block, head, sizeof head));
  }
}

TEST(LinkCipher, PeerWithTheSameKeyRestoresTheBytes) {
  const std::vector<uint8_t> key = link_key();
  LinkPtr client = keyed_link(key);
  LinkPtr server = keyed_link(key);

  // Long enough to cross two block changes, in uneven pieces on each side.
  std::vector<uint8_t> plain(7500);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 31 + 7);
  std::vector<uint8_t> wire = plain;
  const int send_pieces[] = {1, 339, 341, 2048, 3, 2719, 2049};
  size_t at = 0;
  for (int n : send_pieces) {
    cipher_send_bytes(client.get(), wire.data() + at, n);
    at += n;
  }
  ASSERT_EQ(at, wire.size());
  EXPECT_NE(wire, plain);

  const int recv_pieces[] = {3400, 1, 4099};
  at = 0;
  for (int n : recv_pieces) {
    cipher_recv_bytes(server.get(), wire.data() + at, n);
    at += n;
  }
  ASSERT_EQ(at, wire.size());
  EXPECT_EQ(wire, plain);
  EXPECT_EQ(client->send_cipher->position, server->recv_cipher->position);
  // The other directions were left alone.
  EXPECT_EQ(client->recv_cipher->position, 0);
  EXPECT_EQ(server->send_cipher->position, 0);
}

TEST(LinkCipher, EachBlockServesTenPassesThenTheNextIsMade) {
  const std::vector<uint8_t> key = link_key();
  LinkPtr conn = keyed_link(key);
  TuringState* ref = keyed_state(key.data(), 32, nullptr, 0);
  uint8_t first[kTuringBlockBytes];
  uint8_t second[kTuringBlockBytes];
  turing_gen(ref, first);
  turing_gen(ref, second);
  std::free(ref);

  std::vector<uint8_t> ks(3401, 0);  // XOR onto zeros exposes the keystream
  cipher_send_bytes(conn.get(), ks.data(), static_cast<int>(ks.size()));
  for (int i = 0; i < 3400; ++i) ASSERT_EQ(ks[i], first[i % kTuringBlockBytes]) << "byte " << i;
  for (int i = 0; i < 3400; i += kTuringBlockBytes) EXPECT_EQ(ks[i], first[0]);
  EXPECT_EQ(ks[3400], second[0]);
  EXPECT_EQ(conn->send_cipher->position, 1);
}

TEST(LinkCipher, ZeroLengthXorChangesNothing) {
  const std::vector<uint8_t> key = link_key();
  LinkPtr conn = keyed_link(key);
  uint8_t bytes[5] = {1, 2, 3, 4, 5};
  cipher_recv_bytes(conn.get(), bytes, 3);
  const uint8_t before[5] = {bytes[0], bytes[1], bytes[2], bytes[3], bytes[4]};
  cipher_recv_bytes(conn.get(), bytes, 0);
  cipher_send_bytes(conn.get(), bytes, 0);
  EXPECT_EQ(0, std::memcmp(bytes, before, sizeof bytes));
  EXPECT_EQ(conn->recv_cipher->position, 3);
  EXPECT_EQ(conn->send_cipher->position, 0);
}

TEST(LinkCipher, RekeyingAndFreeingLeaveNoContextBehind) {
  const std::vector<uint8_t> key = link_key();
  LinkPtr conn = keyed_link(key);
  uint8_t b = 0;
  cipher_send_bytes(conn.get(), &b, 1);
  // A second keying replaces the old contexts (the leak checker sees the rest).
  ASSERT_TRUE(init_link_ciphers(conn.get(), key.data(), 32));
  EXPECT_EQ(conn->send_cipher->position, 0);
  free_link_ciphers(conn.get());
  EXPECT_EQ(conn->recv_cipher, nullptr);
  EXPECT_EQ(conn->send_cipher, nullptr);
  free_link_ciphers(conn.get());  // already released: harmless
}

}  // namespace
