// The items any reply may carry, read the same way by every reader of a
// reply: server texts, counts, row ids, the letter that follows an item and
// the letter given back for the reader's next turn.
#ifndef RIZEZOVA_CLIENT_REPLIES_REPLY_ITEMS_H
#define RIZEZOVA_CLIENT_REPLIES_REPLY_ITEMS_H

#include <cstdint>

struct Conn;

// 'E' and 'F' (errors), 'M' (a message) and 'W' (a warning) carry a text.
bool is_text_letter(uint8_t letter);
inline bool is_error_letter(uint8_t letter) { return letter == 'E' || letter == 'F'; }

// A length-prefixed text from the link: RC_SUCCESS with a new heap text in
// *out; RC_READ_FAILED or RC_NO_MEMORY with *out null.
int recv_text(Conn* conn, char** out);
// The text of an 'E', 'F', 'M' or 'W' item, which becomes the connection's
// error text in place of the one before: RC_SUCCESS with *text pointing at it,
// or the failure of reading it.
int take_server_text(Conn* conn, const char** text);

// Reads n bytes and keeps the first keep of them in dst; the rest is read and
// dropped so the stream stays in step. False when the link failed.
bool recv_bytes_cut(Conn* conn, uint8_t* dst, uint32_t n, uint32_t keep);
// Reads n bytes and drops them.
bool skip_bytes(Conn* conn, uint32_t n);
// The row id of an 'I' item (u32 length and bytes) into a zeroed row_id,
// read whole and kept cut to 31 bytes and its terminator. False when the link failed.
bool recv_row_id(Conn* conn, char (&row_id)[32]);

// What follows an item.
enum class Next {
  End,     // 'K': the reply is complete
  Go,      // anything else: given back for the reader's next turn
  Failed,  // the link failed
};
// Classifies a letter read behind an item. A zero byte cannot be given back
// (0 means none): it is dropped and the reader reads on.
Next classify_next(Conn* conn, uint8_t letter);
// Reads the letter behind an item and classifies it.
Next read_next(Conn* conn);

#endif
