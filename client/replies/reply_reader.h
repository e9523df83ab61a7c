// The one reader of the reply grammar. A reply is a run of items, each opened
// by a letter, ended by 'K'; read_reply reads it item by item and hands each
// item to a policy, which keeps it, drops it, or ends the reading. Every item
// of the grammar is read whole, kept or not, so a reply is read through to its
// 'K'; a reading that fails part-way closes the link, so that no later
// exchange takes the rest of this reply for its own. A letter the reader
// cannot follow (one the grammar does not know, say) closes the link the same
// way: items carry no length, so the rest of that reply cannot be found.
// Either way the call is answered RC_READ_FAILED, as for a reply cut short:
// what the reader made of the reply so far may not be what the server said.
//
// A server error ('E', 'F') makes the reply a failure whatever follows it:
// the reading goes on to 'K', so the link stays in step, and then answers
// RC_ERROR, the error's text staying the connection's error text (messages
// and warnings behind it are still the policy's to print). An error among the
// rows of a result set is that result's (see recv_row); a reader that hands
// the rows out keeps its answer, any other answers RC_ERROR.
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
// drop it, and end the reading at an unknown letter (the link is then
// closed).
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
  // Whether the reader hands out the rows of the reply's result sets, so
  // that an error among them is told by the result rather than the answer.
  virtual bool hands_out_rows() const { return false; }
  // The reply's 'K'. `last` is the letter of the item that 'K' came right
  // behind, 0 when none. Answers the reader's code.
  virtual int end(uint8_t /*last*/) { return status_; }
  // A text, which has become the connection's error text (unless an error
  // came before it in the reply).
  virtual Step text(uint8_t /*letter*/, const char* /*text*/) { return Step::next(); }
  virtual Step count(uint8_t /*letter*/, uint32_t /*count*/) { return Step::next(); }
  virtual Step row_id(const char (& /*row_id*/)[32]) { return Step::next(); }
  // An output value whose head is read: the policy reads its `length` value
  // bytes or drops them.
  virtual Step out_value(uint8_t letter, const OutHead& head);
  virtual Step param_descs();
  virtual Step result_set();
  virtual Step unknown(uint8_t /*letter*/) { return Step::fail(); }
  // One of the reader's own reads failed: the policy's chance to tell of it
  // (the reply then answers RC_READ_FAILED).
  virtual void failed(Failed /*what*/) {}

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
