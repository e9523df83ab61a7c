// The text form of a stored value, by its server type.
#ifndef RIZEZOVA_CLIENT_VALUES_VALUE_TEXT_H
#define RIZEZOVA_CLIENT_VALUES_VALUE_TEXT_H

#include <cstdint>
#include <cstring>

#include "client/text/calendar.h"

// What value_text answers for a type without a text form.
constexpr int kNoText = 0;

// Room for the longest text that value_text forms (a double's "%lf" form).
constexpr int kValueTextSize = kNumberTextSize;

// The types whose text form is the value's own bytes, up to the first zero
// byte, however long: numeric texts and types 29 and 45.
bool text_is_value_bytes(uint32_t server_type);

// Writes the text form of a value (p and len as row_field_ptr gives them), with
// its terminator, into out, which holds kValueTextSize bytes; answers its
// length, kNoText when the server type has no text form (out is then not to be
// read). The value-bytes types are cut to fit out: a caller that needs them
// whole takes the bytes themselves.
int value_text(uint32_t server_type, const uint8_t* p, uint32_t len, char* out);

// The interval types 15 to 27 only; 0 for any other type.
int interval_text(uint32_t server_type, const uint8_t* p, char* out);

// A fixed-width value out of an unaligned slot.
template <typename T>
inline T load_value(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

#endif
