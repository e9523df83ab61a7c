// The two keystream contexts of an encrypted link, one per direction.
#ifndef RIZEZOVA_LINK_LINK_CIPHER_H
#define RIZEZOVA_LINK_LINK_CIPHER_H

#include <cstdint>

#include "link/link.h"
#include "link/turing.h"

// Each generated block serves this many bytes of traffic before the next.
constexpr int kCipherBlockUses = 3400;

struct LinkCipher {
  TuringState state;
  int position;                      // 0 to 3399
  uint8_t block[kTuringBlockBytes];  // the current keystream block
};

// Makes and keys recv_cipher and send_cipher from the 32-byte link key (the
// length argument is not used). False, with both left null, when the
// contexts cannot be allocated.
bool init_link_ciphers(Link* link, const uint8_t* key, int key_len);
// Release both contexts and set them to null.
void free_link_ciphers(Link* link);
// XOR n bytes in place with the send / receive keystream.
void cipher_send_bytes(Link* link, uint8_t* buf, int n);
void cipher_recv_bytes(Link* link, uint8_t* buf, int n);

#endif
