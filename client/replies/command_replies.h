// The replies to the library's own commands: the short reply of OPEN, CLOSE
// and DEALLOCATE, the reply to PREPARE, and the pieces of a LOB value that
// "get lob" brings.
#ifndef RIZEZOVA_CLIENT_REPLIES_COMMAND_REPLIES_H
#define RIZEZOVA_CLIENT_REPLIES_COMMAND_REPLIES_H

struct Conn;
struct LobObject;

// The reply of a command such as OPEN, CLOSE or DEALLOCATE: 'K', or a letter,
// the server's text and the reply's 'K'. RC_SUCCESS; RC_ERROR with the text
// in *text (the caller frees it); RC_READ_FAILED, with no text, when the link
// failed or a letter behind the text cannot be followed (the link is then
// closed).
int recv_short_reply(Conn* conn, char** text);

// What becomes of the two descriptions a PREPARE reply may carry; each reads
// its item's payload and answers RC_SUCCESS or its failure.
struct PrepareItems {
  int (*fields)(Conn*);  // 'A': the statement's field descriptions, no rows
  int (*params)(Conn*);  // '$': its parameter description
};
// The reply to PREPARE: descriptions and refusals (every other letter opens a
// text) up to 'K'. Answers RC_PREPARED_ROWS when it described result fields,
// RC_ERROR after a refusal, else RC_SUCCESS; RC_READ_FAILED when the reply
// cannot be read to its end.
// *prepared is set when the reply ended other than right behind a refusal:
// the statement then exists on the server.
int recv_prepare_reply(Conn* conn, const PrepareItems& items, bool* prepared);

// The reply to "get lob": 'A' with its field descriptions (dropped), then 'R'
// and the value's pieces, each appended to lob, up to a closing 0; nothing
// after it is read. A reply that does not bring them is read to its end.
// RC_SUCCESS (also when no value came); RC_ERROR when the server refused
// ('E' or 'F'), its text the connection's error text; RC_READ_FAILED, the
// link closed, when the link failed or the reply cannot be read to its end (a
// letter the reader does not know, a piece longer than a chunk, memory
// running out). Bytes appended before a failure stay.
int recv_lob_reply(Conn* conn, LobObject* lob);

#endif
