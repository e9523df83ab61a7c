#include "tools/standin/core/reply_writer.h"

#include <cstdlib>

#include "link/wire_io.h"

namespace standin {

namespace {
// The staging buffer: twice the room a caller may reserve, so that a reserve
// drains at most once.
constexpr size_t kStaging = 2 * ReplyWriter::kRoom;
// Values longer than this skip the staging buffer and go to the link as they lie.
constexpr size_t kPassThrough = 16 * 1024;
}  // namespace

ReplyWriter::ReplyWriter(Link* link) : link_(link), buf_(static_cast<uint8_t*>(std::malloc(kStaging))) {
  if (!buf_) std::abort();
}

ReplyWriter::~ReplyWriter() { std::free(buf_); }

void ReplyWriter::drain() {
  if (fill_ == 0) return;
  if (!failed_ && send_bytes(link_, buf_, static_cast<uint32_t>(fill_)) == LINK_SEND_FAILED) failed_ = true;
  fill_ = 0;
}

uint8_t* ReplyWriter::reserve_for_fill(size_t n) {
  if (fill_ + n > kStaging) drain();
  return buf_ + fill_;
}

void ReplyWriter::bytes(const void* data, size_t n) {
  if (n <= kPassThrough) {
    std::memcpy(reserve(n), data, n);
    return;
  }
  drain();
  const auto* p = static_cast<const uint8_t*>(data);
  // The link takes at most 2^31 - 1 bytes per write.
  constexpr size_t kMaxWrite = size_t{1} << 30;
  while (n > 0 && !failed_) {
    const size_t step = n < kMaxWrite ? n : kMaxWrite;
    if (send_bytes(link_, p, static_cast<uint32_t>(step)) == LINK_SEND_FAILED) failed_ = true;
    p += step;
    n -= step;
  }
}

bool ReplyWriter::flush() {
  drain();
  if (!failed_ && send_flush(link_) != LINK_OK) failed_ = true;
  return !failed_;
}

}  // namespace standin
