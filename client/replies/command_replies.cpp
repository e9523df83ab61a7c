// The replies to the library's own commands.
#include "client/replies/command_replies.h"

#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"
#include "client/lob/lob.h"
#include "client/replies/reply_reader.h"
#include "client/replies/results_reader.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/vmc.h"
#include "link/wire_io.h"

namespace {

// A reply of 'K' alone, or of a refusal: any other letter opens its text.
// Behind the text the letters are the grammar's, and the reply's 'K' is the
// one expected.
class ShortReader : public ReplyPolicy {
 public:
  ShortReader(Conn* conn, char** text) : ReplyPolicy(conn), text_(text) {}

  Item item_of(uint8_t letter) const override {
    if (letter == REPLY_END) return Item::End;
    return status_ == RC_ERROR ? grammar_item(letter) : Item::Text;
  }
  Step text(uint8_t /*letter*/, const char* /*text*/) override {
    status_ = RC_ERROR;
    return Step::next();
  }
  int end(uint8_t /*last*/) override {
    if (status_ == RC_ERROR) {
      *text_ = strdup(conn_->error_text);
      if (!*text_) {
        abandon_reply(conn_);
        return RC_NO_MEMORY;
      }
    }
    return status_;
  }

 private:
  char** text_;
};

class PrepareReader : public ReplyPolicy {
 public:
  PrepareReader(Conn* conn, const PrepareItems& items, bool* prepared)
      : ReplyPolicy(conn), items_(items), prepared_(prepared) {}

  Item item_of(uint8_t letter) const override {
    switch (letter) {
      case REPLY_END:
        return Item::End;
      case REPLY_RESULT_SET:
        return Item::ResultSet;
      case REPLY_PARAM_DESCS:
        return Item::ParamDescs;
      default:
        return Item::Text;
    }
  }
  // A reply that ends right behind a refusal made no statement.
  int end(uint8_t last) override {
    *prepared_ = last == 0 || item_of(last) != Item::Text;
    return status_;
  }
  Step text(uint8_t /*letter*/, const char* /*text*/) override {
    status_ = RC_ERROR;
    return Step::next();
  }
  Step result_set() override {
    const int rc = items_.fields(conn_);
    if (rc != RC_SUCCESS) return Step::fail();
    status_ = RC_PREPARED_ROWS;
    return Step::next();
  }
  Step param_descs() override {
    const int rc = items_.params(conn_);
    return rc == RC_SUCCESS ? Step::next() : Step::fail();
  }

 private:
  PrepareItems items_;
  bool* prepared_;
};

// The pieces after 'R', each appended to the object, up to the closing 0.
int recv_lob_pieces(Conn* conn, LobObject* lob) {
  auto* piece = static_cast<uint8_t*>(alloc_zeroed(kLobChunkSize));
  if (!piece) return RC_NO_MEMORY;
  int result = RC_SUCCESS;
  for (;;) {
    uint32_t more = 0;
    uint32_t length = 0;
    if (!recv_int(&conn->link, &more)) {
      result = RC_READ_FAILED;
      break;
    }
    if (more == 0) break;
    if (!recv_int(&conn->link, &length)) {
      result = RC_READ_FAILED;
      break;
    }
    // A piece is at most one chunk. A longer one is not read past the work
    // buffer, and the rest of the reply cannot be found behind it.
    if (length > kLobChunkSize) {
      result = RC_READ_FAILED;
      break;
    }
    if (!recv_bytes(&conn->link, piece, length)) {
      result = RC_READ_FAILED;
      break;
    }
    result = lob_append(lob, piece, length);
    if (result != RC_SUCCESS) break;
  }
  std::free(piece);
  return result;
}

class LobReader : public ReplyPolicy {
 public:
  LobReader(Conn* conn, LobObject* lob) : ReplyPolicy(conn), lob_(lob) {}

  // The field descriptions are read one at a time and dropped.
  Step result_set() override {
    uint32_t count = 0;
    if (!recv_int(&conn_->link, &count)) return Step::fail();
    for (uint32_t i = 0; i < count; ++i) {
      FieldDesc field{};
      const int rc = recv_field_desc(conn_, &field);
      std::free(field.table ? field.table : field.column);
      if (rc != RC_SUCCESS) return Step::fail();
    }
    described_ = true;
    return Step::next();
  }
  // 'R' behind the descriptions brings the pieces, which end the reply. Any
  // other letter the grammar does not know cannot be followed.
  Step unknown(uint8_t letter) override {
    if (letter != REPLY_ROW || !described_) return Step::fail();
    const int rc = recv_lob_pieces(conn_, lob_);
    return rc == RC_SUCCESS ? Step{Step::Ended, RC_SUCCESS} : Step::fail();
  }

 private:
  LobObject* lob_;
  bool described_ = false;
};

}  // namespace

int recv_short_reply(Conn* conn, char** text) {
  *text = nullptr;
  ShortReader reader(conn, text);
  return read_reply(reader);
}

int recv_prepare_reply(Conn* conn, const PrepareItems& items, bool* prepared) {
  *prepared = false;
  PrepareReader reader(conn, items, prepared);
  return read_reply(reader);
}

int recv_lob_reply(Conn* conn, LobObject* lob) {
  LobReader reader(conn, lob);
  return read_reply(reader);
}
