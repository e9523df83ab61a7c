// The keystream contexts of an encrypted link and the XOR that applies them.
#include "link/link_cipher.h"

#include <cstdlib>
#include <cstring>

#include "platform/memory.h"

namespace {

constexpr int kLinkKeyBytes = 32;

void key_cipher(LinkCipher* c, const uint8_t* key) {
  turing_set_key(&c->state, key, kLinkKeyBytes);
  turing_set_iv(&c->state, nullptr, 0);
  turing_gen(&c->state, c->block);
  c->position = 0;
}

// Each block serves ten passes before the next is made. Work in runs that end
// at a block boundary so the inner loop is a plain XOR of two byte arrays and
// the block offset is worked out once per run rather than once per byte.
void cipher_xor(LinkCipher* c, uint8_t* buf, int n) {
  if (c == nullptr || n <= 0) return;
  int pos = c->position;
  while (n > 0) {
    const int at = pos % kTuringBlockBytes;
    int run = kTuringBlockBytes - at;
    if (run > n) run = n;
    const uint8_t* ks = c->block + at;
    for (int i = 0; i < run; ++i) buf[i] ^= ks[i];
    buf += run;
    n -= run;
    pos += run;
    if (pos >= kCipherBlockUses) {
      turing_gen(&c->state, c->block);
      pos = 0;
    }
  }
  c->position = pos;
}

void release_cipher(LinkCipher* c) {
  if (c == nullptr) return;
  // The keyed state would let anyone who reads freed memory decipher the link.
  explicit_bzero(c, sizeof *c);
  std::free(c);
}

}  // namespace

bool init_link_ciphers(Link* link, const uint8_t* key, int key_len) {
  (void)key_len;  // the link key is always 32 bytes
  // Contexts of an earlier login must not leak when the caller has not
  // released them yet.
  free_link_ciphers(link);
  auto* recv = static_cast<LinkCipher*>(alloc_zeroed(sizeof(LinkCipher)));
  auto* send = static_cast<LinkCipher*>(alloc_zeroed(sizeof(LinkCipher)));
  if (recv == nullptr || send == nullptr) {
    std::free(recv);
    std::free(send);
    return false;
  }
  // Both directions run the same keystream from its start.
  key_cipher(recv, key);
  key_cipher(send, key);
  link->recv_cipher = recv;
  link->send_cipher = send;
  return true;
}

void free_link_ciphers(Link* link) {
  release_cipher(link->recv_cipher);
  release_cipher(link->send_cipher);
  link->recv_cipher = nullptr;
  link->send_cipher = nullptr;
}

void cipher_send_bytes(Link* link, uint8_t* buf, int n) { cipher_xor(link->send_cipher, buf, n); }

void cipher_recv_bytes(Link* link, uint8_t* buf, int n) { cipher_xor(link->recv_cipher, buf, n); }
