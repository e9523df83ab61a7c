#include "tools/standin/core/kept_rows.h"

#include <utility>

namespace standin {

ReplyWriter& KeptRows::writer() {
  if (!writer_) writer_ = std::make_unique<ReplyWriter>();
  return *writer_;
}

size_t KeptRows::room() const {
  const size_t used = writer_ ? writer_->size() : 0;
  return used < kMaxBytes ? kMaxBytes - used : 0;
}

int64_t KeptRows::send(ReplyWriter& out, int64_t n) {
  const size_t take = n <= 0 ? 0 : static_cast<uint64_t>(n) < rows() ? static_cast<size_t>(n) : rows();
  if (take == 0) return 0;
  const uint32_t from = sent_ == 0 ? 0 : ends_[sent_ - 1];
  sent_ += take;
  out.bytes(writer_->data() + from, ends_[sent_ - 1] - from);
  if (sent_ == ends_.size()) {
    // All sent: the writer starts again at its beginning, its memory kept
    // for the cursor's next block.
    writer_->clear();
    ends_.clear();
    sent_ = 0;
  }
  return static_cast<int64_t>(take);
}

void KeptRows::fail(std::string error, bool misfit) {
  error_ = std::move(error);
  misfit_ = misfit;
}

std::string KeptRows::take_failure() {
  misfit_ = false;
  return std::exchange(error_, std::string());
}

void KeptRows::clear() {
  writer_.reset();
  ends_.clear();
  ends_.shrink_to_fit();
  sent_ = 0;
  error_.clear();
  misfit_ = false;
}

}  // namespace standin
