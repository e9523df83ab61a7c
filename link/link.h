// One end of a TCP link: the socket, the send queue, the receive buffer, a
// reply letter given back, and on an encrypted link the keystream of each
// direction. A client connection holds one; the stand-in server holds one
// per accepted socket.
#ifndef RIZEZOVA_LINK_LINK_H
#define RIZEZOVA_LINK_LINK_H

#include <cstdint>

struct LinkCipher;

constexpr int kSendBufSize = 8192;
// Replies of rows come in long runs: a large receive buffer takes them in
// few receive calls, and most rows lie whole in it.
constexpr int kRecvBufSize = 65536;

// Zero-filled is a link without a socket, plain, with nothing queued or buffered.
struct Link {
  int64_t sock;                    // connected socket; 0 = none
  int32_t use_ssl;                 // 1 = encrypted link
  uint8_t pushback_letter;         // a reply letter given back; 0 = none
  int32_t send_fill;               // bytes queued in send_buf
  uint8_t send_buf[kSendBufSize];  // enciphered already on an encrypted link
  uint8_t recv_buf[kRecvBufSize];
  int32_t recv_fill;               // bytes held in recv_buf; 0 = empty
  int32_t recv_pos;                // the next byte not yet handed out
  LinkCipher* recv_cipher;         // null on a plain link and during the login
  LinkCipher* send_cipher;
};

// What recv_str and the writers answer: recv_str LINK_OK, LINK_READ_FAILED or
// LINK_NO_MEMORY; the writers LINK_OK, a byte count or LINK_SEND_FAILED. (The
// typed readers answer whether the value arrived.) The client library maps
// them onto its own result codes.
enum LinkOutcome : int {
  LINK_OK = 0,
  LINK_SEND_FAILED = -1,
  LINK_READ_FAILED = -4,
  LINK_NO_MEMORY = -5,
};

#endif
