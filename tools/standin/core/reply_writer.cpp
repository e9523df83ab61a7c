#include "tools/standin/core/reply_writer.h"

#include <cstdlib>

#include "link/wire_io.h"

namespace standin {

namespace {
// The staging buffer: twice the room a caller may reserve, so that a reserve
// drains at most once.
constexpr size_t kStaging = 2 * ReplyWriter::kRoom;
// Values longer than this skip the staging buffer and go to the link as they
// lie, unless they are held back.
constexpr size_t kPassThrough = 16 * 1024;
}  // namespace

ReplyWriter::ReplyWriter(Link* link)
    : link_(link), buf_(static_cast<uint8_t*>(std::malloc(kStaging))), size_(kStaging) {
  if (!buf_) std::abort();
}

ReplyWriter::~ReplyWriter() { std::free(buf_); }

void ReplyWriter::drain() {
  holding_ = false;
  if (fill_ == 0) return;
  if (!failed_ && send_bytes(link_, buf_, static_cast<uint32_t>(fill_)) == LINK_SEND_FAILED) failed_ = true;
  drained_ += fill_;
  fill_ = 0;
}

void ReplyWriter::make_room(size_t n) {
  if (!link_ || (holding_ && fill_ + n <= kHoldLimit)) {
    size_t size = size_ * 2;
    while (size < fill_ + n) size *= 2;
    if (link_ && size > kHoldLimit) size = kHoldLimit;
    auto* grown = static_cast<uint8_t*>(std::realloc(buf_, size));
    if (!grown) std::abort();
    buf_ = grown;
    size_ = size;
    return;
  }
  drain();
}

uint8_t* ReplyWriter::reserve_for_fill(size_t n) {
  if (fill_ + n > size_) make_room(n);
  return buf_ + fill_;
}

void ReplyWriter::bytes(const void* data, size_t n) {
  if (!link_ || n <= kPassThrough || (holding_ && fill_ + n <= kHoldLimit)) {
    std::memcpy(reserve(n), data, n);
    return;
  }
  drain();
  const auto* p = static_cast<const uint8_t*>(data);
  drained_ += n;
  // The link takes at most 2^31 - 1 bytes per write.
  constexpr size_t kMaxWrite = size_t{1} << 30;
  while (n > 0 && !failed_) {
    const size_t step = n < kMaxWrite ? n : kMaxWrite;
    if (send_bytes(link_, p, static_cast<uint32_t>(step)) == LINK_SEND_FAILED) failed_ = true;
    p += step;
    n -= step;
  }
}

size_t ReplyWriter::mark() {
  holding_ = true;
  return drained_ + fill_;
}

bool ReplyWriter::take_back(size_t mark) {
  if (mark < drained_) return false;
  fill_ = mark - drained_;
  return true;
}

bool ReplyWriter::flush() {
  drain();
  if (!failed_ && send_flush(link_) != LINK_OK) failed_ = true;
  // A buffer grown for a held result goes back to its usual size.
  if (size_ > kStaging) {
    std::free(buf_);
    buf_ = static_cast<uint8_t*>(std::malloc(kStaging));
    if (!buf_) std::abort();
    size_ = kStaging;
  }
  return !failed_;
}

}  // namespace standin
