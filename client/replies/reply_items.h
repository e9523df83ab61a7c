// The payloads of reply items, read the same way by every reader of a reply:
// texts, row ids, the heads of output values, parameter descriptions, and
// bytes read and dropped.
#ifndef RIZEZOVA_CLIENT_REPLIES_REPLY_ITEMS_H
#define RIZEZOVA_CLIENT_REPLIES_REPLY_ITEMS_H

#include <cstdint>

#include "link/reply_letters.h"

struct Conn;

inline bool is_error_letter(uint8_t letter) { return letter == REPLY_ERROR || letter == REPLY_FAILURE; }
// 'E' and 'F' (errors), 'M' (a message) and 'W' (a warning) carry a text.
inline bool is_text_letter(uint8_t letter) {
  return is_error_letter(letter) || letter == REPLY_MESSAGE || letter == REPLY_WARNING;
}

// A length-prefixed text from the link: RC_SUCCESS with a new heap text in
// *out; RC_READ_FAILED or RC_NO_MEMORY with *out null.
int recv_text(Conn* conn, char** out);

// Reads n bytes and keeps the first keep of them in dst; the rest is read and
// dropped so the stream stays in step. False when the link failed.
bool recv_bytes_cut(Conn* conn, uint8_t* dst, uint32_t n, uint32_t keep);
// Reads n bytes and drops them.
bool skip_bytes(Conn* conn, uint32_t n);
// The row id of an 'I' item (u32 length and bytes) into a zeroed row_id,
// read whole and kept cut to 31 bytes and its terminator. False when the link failed.
bool recv_row_id(Conn* conn, char (&row_id)[32]);

// The integers before the value of an 'O' item (type, length) or a 'P' item
// (slot index, type, length).
struct OutHead {
  uint32_t index = 0;
  uint32_t type = 0;
  uint32_t length = 0;
};
bool recv_out_head(Conn* conn, uint8_t letter, OutHead* head);

// A parameter description (the payload of '$') read whole and dropped:
// RC_SUCCESS, or RC_READ_FAILED.
int skip_param_descs(Conn* conn);

#endif
