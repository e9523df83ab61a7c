// Everything the stand-in writes to a client goes through a ReplyWriter: reply
// bytes are gathered in big-endian form in a staging buffer and handed to the
// link's writer in large pieces, so that a row costs a few stores rather than
// a call per value. What follows a mark is held back, up to a bound, so that
// a result can still be taken back and answered with an error instead. A
// writer without a link only gathers: it grows as needed and hands nothing on.
#ifndef RIZEZOVA_STANDIN_REPLY_WRITER_H
#define RIZEZOVA_STANDIN_REPLY_WRITER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "link/link.h"
#include "link/reply_letters.h"

namespace standin {

// Big-endian stores into a caller's memory; each answers the position after.
inline uint8_t* put_be16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
  return p + 2;
}
inline uint8_t* put_be32(uint8_t* p, uint32_t v) {
  v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
  return p + 4;
}
inline uint8_t* put_be64(uint8_t* p, uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
  return p + 8;
}

class ReplyWriter {
 public:
  explicit ReplyWriter(Link* link = nullptr);
  ~ReplyWriter();
  ReplyWriter(const ReplyWriter&) = delete;
  ReplyWriter& operator=(const ReplyWriter&) = delete;

  void letter(uint8_t c) { *reserve(1) = c; }
  void u32(uint32_t v) { put_be32(reserve(4), v); }
  void bytes(const void* data, size_t n);
  // A u32 length and the bytes, as texts and names travel.
  void text(std::string_view s) {
    u32(static_cast<uint32_t>(s.size()));
    bytes(s.data(), s.size());
  }
  // One field description of an 'A' item.
  void field(std::string_view name, uint32_t server_type, uint32_t length, uint32_t attr) {
    text(name);
    uint8_t* p = reserve(12);
    p = put_be32(p, server_type);
    p = put_be32(p, length);
    put_be32(p, attr);
  }

  // Room for n bytes (n at most kRoom) at the end of what is gathered; the
  // caller fills them and then calls commit(n).
  static constexpr size_t kRoom = 32 * 1024;
  uint8_t* reserve_for_fill(size_t n);
  void commit(size_t n) { fill_ += n; }

  // Starts holding back what is written from here on, until the reply is
  // flushed or more than kHoldLimit bytes are gathered; answers the place.
  static constexpr size_t kHoldLimit = 4u << 20;
  size_t mark();
  // Drops everything written after the mark; false (nothing dropped) when
  // some of it has gone to the link already.
  bool take_back(size_t mark);

  // Hands everything gathered to the link and flushes it. False once any
  // write on the link has failed.
  bool flush();
  bool failed() const { return failed_; }

  // What a writer without a link has gathered, and forgetting it.
  const uint8_t* data() const { return buf_; }
  size_t size() const { return fill_; }
  void clear() { fill_ = 0; }

 private:
  uint8_t* reserve(size_t n) {
    uint8_t* p = reserve_for_fill(n);
    fill_ += n;
    return p;
  }
  void drain();
  // Room for n more bytes: the buffer grows while it holds back, else drains.
  void make_room(size_t n);

  Link* link_;
  uint8_t* buf_;
  size_t size_;        // bytes of buf_
  size_t fill_ = 0;
  size_t drained_ = 0;  // bytes handed to the link before buf_[0]
  bool holding_ = false;
  bool failed_ = false;
};

}  // namespace standin

#endif
