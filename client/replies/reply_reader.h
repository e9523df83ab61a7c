// The one reader of the reply grammar. A reply is a run of items, each opened
// by a letter, ended by 'K'; read_reply reads it item by item and hands each
// item to a policy, which keeps it, drops it, or ends the reading. Every item
// of the grammar is read whole, kept or not, so a reply is read through to its
// 'K'; a reading that fails part-way closes the link, so that no later
// exchange takes the rest of this reply for its own. A letter the reader
// cannot follow (one the grammar does not know, say) ends the reading with
// the policy's answer and closes the link the same way: items carry no
// length, so the rest of that reply cannot be found.
#ifndef RIZEZOVA_CLIENT_REPLIES_REPLY_READER_H
#define RIZEZOVA_CLIENT_REPLIES_REPLY_READER_H

#include <cstdint>

#include "client/replies/reply_items.h"
#include "client/replies/reply_step.h"

struct Conn;

// How an item is read.
enum class Item : uint8_t {
  End,         // 'K'
  ResultSet,   // 'A'
  Count,       // 'D', 'U'
  RowId,       // 'I'
  Text,        // 'E', 'F', 'M', 'W'
  OutValue,    // 'O', 'P'
  ParamDescs,  // '$'
  Unknown,     // any other letter; rows outside a result set among them
};
Item grammar_item(uint8_t letter);

// Which of the reader's own reads failed.
enum class Failed : uint8_t {
  Letter,   // an item's letter
  Count,    // the count of 'D' or 'U'
  RowId,    // the row id of 'I'
  Payload,  // a text, the head of an output value, the letter that ends a result set's rows
};

// What a reader does with each item. The defaults read every item whole and
// drop it, and end the reading at an unknown letter with the status so far
// (the link is then closed).
class ReplyPolicy {
 public:
  explicit ReplyPolicy(Conn* conn) : conn_(conn) {}
  virtual ~ReplyPolicy() = default;
  ReplyPolicy(const ReplyPolicy&) = delete;
  ReplyPolicy& operator=(const ReplyPolicy&) = delete;

  Conn* conn() const { return conn_; }

  // How the letter is read: by the grammar, unless a reader takes some
  // letters otherwise.
  virtual Item item_of(uint8_t letter) const { return grammar_item(letter); }
  // The reply's 'K'. `last` is the letter of the item that 'K' came right
  // behind, 0 when none. Answers the reader's code.
  virtual int end(uint8_t /*last*/) { return status_; }
  // A text, which has become the connection's error text.
  virtual Step text(uint8_t /*letter*/, const char* /*text*/) { return Step::next(); }
  virtual Step count(uint8_t /*letter*/, uint32_t /*count*/) { return Step::next(); }
  virtual Step row_id(const char (& /*row_id*/)[32]) { return Step::next(); }
  // An output value whose head is read: the policy reads its `length` value
  // bytes or drops them.
  virtual Step out_value(uint8_t letter, const OutHead& head);
  virtual Step param_descs();
  virtual Step result_set();
  virtual Step unknown(uint8_t /*letter*/) { return Step::stop(status_); }
  // One of the reader's own reads failed with `code`: what to answer.
  virtual int failed(Failed /*what*/, int code) { return code; }

 protected:
  // Reads the bytes of an output value and drops them.
  Step drop_value(const OutHead& head);

  Conn* const conn_;
  int status_ = 0;
};

// Reads one reply with the policy: its answer.
int read_reply(ReplyPolicy& policy);

// Closes the link of a reply that cannot be read on: later exchanges fail at
// once rather than read what is left of it.
void abandon_reply(Conn* conn);

#endif
