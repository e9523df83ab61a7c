// The one reader of the reply grammar.
#include "client/replies/reply_reader.h"

#include <cstdlib>

#include "client/handles/conn.h"
#include "client/replies/result_item.h"
#include "client/vmc.h"
#include "link/socket_link.h"
#include "link/wire_io.h"

namespace {

Step failed(ReplyPolicy& p, Failed what) {
  p.failed(what);
  return Step::fail();
}

// One item after its letter: its payload read and handed to the policy. A
// failed read of the reader's own is told to the policy and fails the step.
Step read_item(ReplyPolicy& p, Item item, uint8_t letter) {
  Conn* conn = p.conn();
  switch (item) {
    case Item::Count: {
      uint32_t count = 0;
      if (!recv_int(&conn->link, &count)) return failed(p, Failed::Count);
      return p.count(letter, count);
    }
    case Item::RowId: {
      char row_id[32];
      if (!recv_row_id(conn, row_id)) return failed(p, Failed::RowId);
      return p.row_id(row_id);
    }
    case Item::Text: {
      char* text = nullptr;
      const int rc = recv_text(conn, &text);
      if (rc != RC_SUCCESS) return failed(p, Failed::Payload);
      if (is_error_letter(letter)) {
        conn->reply_error = kErrorItem;
      } else if (conn->reply_error != kReplyClean) {
        // A message or warning behind an error is still the policy's to
        // print, but the error stays the text the reply leaves.
        const Step step = p.text(letter, text);
        std::free(text);
        return step;
      }
      std::free(conn->error_text);
      conn->error_text = text;
      return p.text(letter, text);
    }
    case Item::OutValue: {
      OutHead head;
      if (!recv_out_head(conn, letter, &head)) return failed(p, Failed::Payload);
      return p.out_value(letter, head);
    }
    case Item::ParamDescs:
      return p.param_descs();
    case Item::ResultSet:
      return p.result_set();
    case Item::End:
    case Item::Unknown:
      break;
  }
  return p.unknown(letter);
}

}  // namespace

Item grammar_item(uint8_t letter) {
  switch (letter) {
    case REPLY_END:
      return Item::End;
    case REPLY_RESULT_SET:
      return Item::ResultSet;
    case REPLY_DELETED:
    case REPLY_UPDATED:
      return Item::Count;
    case REPLY_INSERTED:
      return Item::RowId;
    case REPLY_ERROR:
    case REPLY_FAILURE:
    case REPLY_MESSAGE:
    case REPLY_WARNING:
      return Item::Text;
    case REPLY_RETURN_VALUE:
    case REPLY_OUT_PARAM:
      return Item::OutValue;
    case REPLY_PARAM_DESCS:
      return Item::ParamDescs;
    default:
      return Item::Unknown;
  }
}

Step ReplyPolicy::out_value(uint8_t /*letter*/, const OutHead& head) { return drop_value(head); }

Step ReplyPolicy::drop_value(const OutHead& head) {
  return skip_bytes(conn_, head.length) ? Step::next() : Step::fail();
}

Step ReplyPolicy::param_descs() {
  const int rc = skip_param_descs(conn_);
  return rc == RC_SUCCESS ? Step::next() : Step::fail();
}

Step ReplyPolicy::result_set() { return recv_result_item(conn_, nullptr, RowsIn::All); }

void abandon_reply(Conn* conn) { close_link(&conn->link); }

namespace {

// The answer of a reply read to its end. A server error is a failure
// whatever came after it; one among the rows of a result set is the
// failure of that result's rows where the reader hands them out.
int settle_reply(const ReplyPolicy& p, int code) {
  if (code < 0) return code;
  const uint8_t error = p.conn()->reply_error;
  if (error == kErrorItem || (error == kErrorAmongRows && !p.hands_out_rows())) return RC_ERROR;
  return code;
}

}  // namespace

int read_reply(ReplyPolicy& p) {
  Conn* conn = p.conn();
  conn->reply_error = kReplyClean;
  uint8_t last = 0;          // the item whose letter the one in hand came right behind
  Item last_item = Item::End;
  for (;;) {
    uint8_t letter = 0;
    if (!recv_char(&conn->link, &letter)) {
      // The letter behind a result set is the one that ended its rows.
      const Failed what = last != 0 && last_item == Item::ResultSet ? Failed::Payload : Failed::Letter;
      p.failed(what);
      abandon_reply(conn);
      return RC_READ_FAILED;
    }
    if (last != 0 && letter == 0) {
      // A zero byte cannot be given back as a letter: it is dropped, and the
      // next letter starts an item of its own.
      last = 0;
      continue;
    }
    const Item item = p.item_of(letter);
    if (item == Item::End) return settle_reply(p, p.end(last));
    const Step step = read_item(p, item, letter);
    switch (step.kind) {
      case Step::Next:
        break;
      case Step::Ended:
        return settle_reply(p, p.end(letter));
      case Step::Fail:
        // What followed is unknown: the call is answered as a reply cut
        // short is, whatever the reader had made of it so far.
        abandon_reply(conn);
        return RC_READ_FAILED;
    }
    last = letter;
    last_item = item;
  }
}
