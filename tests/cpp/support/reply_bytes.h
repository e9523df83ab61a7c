// Builds the bytes of a server reply the way the server frames them: letters,
// big-endian integers and length-prefixed texts.
#ifndef RIZEZOVA_TESTS_SUPPORT_REPLY_BYTES_H
#define RIZEZOVA_TESTS_SUPPORT_REPLY_BYTES_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct ReplyBytes {
  std::vector<uint8_t> bytes;

  ReplyBytes& letter(char c) {
    bytes.push_back(static_cast<uint8_t>(c));
    return *this;
  }
  ReplyBytes& be(uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  ReplyBytes& u8(uint8_t v) { return be(v, 1); }
  ReplyBytes& u16(uint16_t v) { return be(v, 2); }
  ReplyBytes& u32(uint32_t v) { return be(v, 4); }
  ReplyBytes& u64(uint64_t v) { return be(v, 8); }
  ReplyBytes& f32(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return u32(b);
  }
  ReplyBytes& f64(double v) {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    return u64(b);
  }
  ReplyBytes& raw(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  ReplyBytes& then(const ReplyBytes& more) {
    bytes.insert(bytes.end(), more.bytes.begin(), more.bytes.end());
    return *this;
  }
  // A u32 length and the bytes, as texts and names travel.
  ReplyBytes& text(const std::string& s) { return u32(static_cast<uint32_t>(s.size())).raw(s); }
  // One field description of an 'A' item.
  ReplyBytes& field(const std::string& name, uint32_t server_type, uint32_t length = 0, uint32_t attr = 0) {
    return text(name).u32(server_type).u32(length).u32(attr);
  }
};

#endif
