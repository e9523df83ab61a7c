// Error texts kept in handles, and their split into a code and a message.
//
// A text reads "[EC011]message": '[', E (error), W (warning) or M (message),
// C, three or four digits, ']', then the message. Texts that the server sends
// are kept as they come and need not have that shape.
#ifndef RIZEZOVA_CLIENT_ERRORS_ERROR_TEXT_H
#define RIZEZOVA_CLIENT_ERRORS_ERROR_TEXT_H

#include <cstdint>

#include "client/vmc.h"

constexpr int kErrorCodeLen = 6;
constexpr int kErrorTextMax = 255;
// A message too long for the record keeps this many characters, then the note.
constexpr int kErrorCutLen = 200;
constexpr const char* kErrorCutNote = " extern please call Option\n";
constexpr int kErrorCutNoteLen = 27;

// A text split into its code and its message.
struct ErrorRecord {
  int32_t text_len;                    // characters in `text`
  char code[kErrorCodeLen];            // "EC0103", or "EC011" and a zero byte; no terminator
  char text[kErrorTextMax + 1];        // the message, or its cut form
  char note[kErrorCutNoteLen + 1];     // kErrorCutNote, behind a cut message
  int32_t long_len;                    // length of long_text; 0 when the message fitted
  char* long_text;                     // the whole message when it did not fit
};

// A new record for `text`, owned by the caller (free_error_record); null for a
// null text or when memory runs out.
ErrorRecord* make_error_record(const char* text);
void free_error_record(ErrorRecord* record);

// The error text of the object *handle names: a connection, result set or LOB,
// and with `with_smart_result` also a server-cursor result. Null when there is
// none or the type keeps no text readable here.
const char* handle_error_text(VMC_Handle* handle, bool with_smart_result);

// The per-type halves of VMC_GetError: the text's characters into buf and its
// length into *len, both untouched when there is no text; 0.
int get_conn_error(VMC_Handle* handle, char* buf, int* len);
int get_result_error(VMC_Handle* handle, char* buf, int* len);
int get_lob_error(VMC_Handle* handle, char* buf, int* len);

#endif
