// A cursor's next rows, stepped and encoded before the FETCH that asks for
// them has come: their 'R' items as they go on the wire, and the failure of
// the row after them when stepping or encoding that row failed.
#ifndef RIZEZOVA_STANDIN_KEPT_ROWS_H
#define RIZEZOVA_STANDIN_KEPT_ROWS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/standin/core/reply_writer.h"

namespace standin {

class KeptRows {
 public:
  // The bytes of rows kept at most; a row that would pass them waits in its
  // statement, stepped but not encoded.
  static constexpr size_t kMaxBytes = ReplyWriter::kHoldLimit;

  // Where the next row's 'R' item goes; kept() once it is written there.
  ReplyWriter& writer();
  void kept() { ends_.push_back(static_cast<uint32_t>(writer_->size())); }
  // Bytes a next row may take.
  size_t room() const;

  // Rows kept and not yet sent.
  size_t rows() const { return ends_.size() - sent_; }
  // Writes the first of them, at most n, to out in their order and forgets
  // them; answers how many.
  int64_t send(ReplyWriter& out, int64_t n);

  // The row after the kept ones failed: its error, and whether a value of it
  // did not fit its field (the FETCH that reaches it then answers the error in
  // place of its rows) rather than the step failing (the error follows them).
  void fail(std::string error, bool misfit);
  bool failed() const { return !error_.empty(); }
  bool misfit() const { return misfit_; }
  // The failure, forgotten once taken.
  std::string take_failure();

  // Nothing kept: no rows and no failure.
  bool empty() const { return rows() == 0 && !failed(); }
  // Forgets everything and gives the memory back.
  void clear();

 private:
  std::unique_ptr<ReplyWriter> writer_;
  std::vector<uint32_t> ends_;  // where each row ends in writer_
  size_t sent_ = 0;             // rows of ends_ sent already
  std::string error_;
  bool misfit_ = false;
};

}  // namespace standin

#endif
