// Framed, big-endian reading and writing on a link: an 8192-byte send queue
// flushed explicitly, a 65536-byte receive buffer, one given-back reply
// letter, and the link keystream applied in wire order on an encrypted link
// (to what is queued as it is queued, to what is received as it arrives).
#ifndef RIZEZOVA_LINK_WIRE_IO_H
#define RIZEZOVA_LINK_WIRE_IO_H

#include <bit>
#include <cstdint>

#include "link/link.h"

// 1 when the host keeps integers least significant byte first: a fact of the
// build, never written at run time.
inline constexpr uint8_t host_is_little_endian = std::endian::native == std::endian::little ? 1 : 0;

// Readers. recv_bytes: true when all n bytes arrived. The typed readers: true
// with the value stored, false on failure with *out untouched.
bool recv_bytes(Link* link, uint8_t* buf, uint32_t n);
bool recv_char(Link* link, uint8_t* out);
bool recv_short(Link* link, uint16_t* out);
bool recv_int(Link* link, uint32_t* out);
bool recv_long(Link* link, uint64_t* out);
bool recv_float(Link* link, float* out);
bool recv_double(Link* link, double* out);
// A length-prefixed text: LINK_OK with a new heap text (NUL-terminated) in
// *out; LINK_READ_FAILED when the link failed; LINK_NO_MEMORY when it could
// not be allocated. *out is null on failure.
int recv_str(Link* link, char** out);
// 1 to n bytes from the receive buffer, filled (and on an encrypted link
// deciphered) from the link when it is empty; -1 when the link gave nothing:
// in three tries on a plain link, in one on an encrypted link.
int recv_buffered(Link* link, uint8_t* dst, int n);

// The bytes received (deciphered) and not yet handed out, for a reader that
// decodes them where they lie; empty while a letter is given back. recv_take
// then hands out the first n of them (n at most their count).
struct RecvWindow {
  const uint8_t* begin;
  const uint8_t* end;
};
inline RecvWindow recv_window(const Link* link) {
  if (link->pushback_letter != 0 || link->recv_fill == 0) return {nullptr, nullptr};
  return {link->recv_buf + link->recv_pos, link->recv_buf + link->recv_fill};
}
inline void recv_take(Link* link, uint32_t n) {
  link->recv_pos += static_cast<int32_t>(n);
  if (link->recv_pos == link->recv_fill) link->recv_fill = link->recv_pos = 0;
}

// Whether anything received waits unread: a letter given back, bytes in the
// receive buffer or on the socket. Nothing is taken or deciphered.
bool recv_pending(const Link* link);

// Writers. send_bytes: LINK_OK when only queued, else the count sent (the
// queue's or the bytes'), or LINK_SEND_FAILED. send_flush: LINK_OK, or
// LINK_SEND_FAILED. Bytes go out whole however many send calls that takes. A
// send that fails, or a large write on an encrypted link that finds no
// memory, cuts the link both ways and empties the queue: the peer holds part
// of a request and, on an encrypted link, the keystream has run ahead of its
// own, so every later exchange must fail rather than be misread. The socket
// itself stays open until the link is closed.
int send_bytes(Link* link, const void* data, uint32_t n);
int send_short(Link* link, uint16_t value);
int send_int(Link* link, uint32_t value);
int send_long(Link* link, uint64_t value);
int send_flush(Link* link);

// Builders of the same big-endian forms in a caller's buffer; each answers the
// new *pos. The caller sizes the buffer.
uint32_t buf_put_bytes(uint8_t* buf, uint32_t* pos, const void* data, int n);
uint32_t buf_put_short(uint8_t* buf, uint32_t* pos, uint16_t value);
uint32_t buf_put_int(uint8_t* buf, uint32_t* pos, uint32_t value);
uint32_t buf_put_long(uint8_t* buf, uint32_t* pos, uint64_t value);

#endif
