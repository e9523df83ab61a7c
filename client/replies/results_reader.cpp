// The readers of a reply into result records.
#include "client/replies/results_reader.h"

#include <cstdio>
#include <cstring>

#include "client/handles/conn.h"
#include "client/replies/reply_items.h"
#include "client/replies/reply_reader.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/vmc.h"
#include "link/reply_letters.h"

namespace {

// The verbose_mode bits that let error and warning lines through.
constexpr int kVerboseAll = 1;
constexpr int kVerboseErrors = 2;
constexpr int kVerboseWarnings = 4;

// An 'E', 'F', 'M' or 'W' item met by these readers: printed as verbose_mode
// allows. Answers the status it sets: RC_ERROR for an error, RC_SUCCESS for a
// message or warning.
int result_text(const Conn* conn, uint8_t letter, const char* text) {
  if (is_error_letter(letter)) {
    if (conn->verbose_mode & (kVerboseAll | kVerboseErrors)) std::printf("[EC031]Error in recv result :%s \n", text);
    return RC_ERROR;
  }
  if (letter == REPLY_MESSAGE) {
    std::printf("[MC033]Server send message :%s \n", text);
  } else if (conn->verbose_mode & (kVerboseAll | kVerboseWarnings)) {
    std::printf("[WC032]Server Warning in recv result :%s \n", text);
  }
  return RC_SUCCESS;
}

// A reply into a chain of results: one per result set, count and row id.
class ChainReader : public ReplyPolicy {
 public:
  ChainReader(Conn* conn, ResultSet** out) : ReplyPolicy(conn), out_(out) {}
  ~ChainReader() override { free_result_chain(head_); }

  bool hands_out_rows() const override { return true; }
  int end(uint8_t /*last*/) override {
    *out_ = head_;
    head_ = nullptr;
    return status_;
  }
  Step text(uint8_t letter, const char* text) override {
    status_ = result_text(conn_, letter, text);
    return Step::next();
  }
  Step count(uint8_t letter, uint32_t count) override {
    ResultSet* result = append(letter == REPLY_DELETED ? SQL_KIND_DELETE : SQL_KIND_UPDATE);
    if (!result) return Step::fail();
    result->affected = static_cast<int32_t>(count);
    return Step::next();
  }
  Step row_id(const char (&row_id)[32]) override {
    std::memcpy(conn_->row_id, row_id, sizeof row_id);
    conn_->row_id_received = 1;
    ResultSet* result = append(SQL_KIND_INSERT);
    if (!result) return Step::fail();
    std::memcpy(result->row_id, row_id, sizeof row_id);
    // The head counts the row ids of its reply; a count that cannot grow stays where it is.
    if (head_->affected < INT32_MAX) ++head_->affected;
    return Step::next();
  }
  Step result_set() override {
    ResultSet* result = nullptr;
    const Step step = recv_new_result(conn_, RowsIn::Blocks, &result);
    link(result);
    if (step.kind == Step::Next) status_ = step.code;
    return step;
  }

 private:
  ResultSet* append(int kind) { return link(new_result(kind)); }
  ResultSet* link(ResultSet* result) {
    if (!result) return nullptr;
    (tail_ ? tail_->next : head_) = result;
    tail_ = result;
    return result;
  }

  ResultSet** out_;
  ResultSet* head_ = nullptr;
  ResultSet* tail_ = nullptr;
};

// A reply into one result: one result set with every row.
class SingleReader : public ReplyPolicy {
 public:
  SingleReader(Conn* conn, ResultSet** out) : ReplyPolicy(conn), out_(out) {}
  ~SingleReader() override { free_result(result_); }

  bool hands_out_rows() const override { return true; }
  // Counts and row ids are not this reader's: the defaults read them whole
  // and drop them.
  int end(uint8_t /*last*/) override {
    if (second_layout_) {
      *out_ = nullptr;
      return RC_ERROR;
    }
    *out_ = result_;
    result_ = nullptr;
    return status_;
  }
  Step text(uint8_t letter, const char* text) override {
    status_ = result_text(conn_, letter, text);
    return Step::next();
  }
  Step result_set() override {
    if (result_) {
      // One record holds one layout: a second result set is read to its end
      // so the link stays in step, then dropped, and the reply fails.
      second_layout_ = true;
      return recv_result_item(conn_, nullptr, RowsIn::All);
    }
    const Step step = recv_new_result(conn_, RowsIn::All, &result_);
    if (step.kind == Step::Next) status_ = step.code;
    return step;
  }

 private:
  ResultSet** out_;
  ResultSet* result_ = nullptr;
  bool second_layout_ = false;
};

}  // namespace

int recv_results(Conn* conn, ResultSet** out) {
  ChainReader reader(conn, out);
  return read_reply(reader);
}

int recv_result_single(Conn* conn, ResultSet** out) {
  SingleReader reader(conn, out);
  return read_reply(reader);
}
