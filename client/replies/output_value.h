// Return values and output parameters that a reply carries ('O' and 'P'
// items): turned from wire order into host values, into calendar parts or into
// text as the bound slot asks, and written into the caller's bound buffer.
#ifndef RIZEZOVA_CLIENT_REPLIES_OUTPUT_VALUE_H
#define RIZEZOVA_CLIENT_REPLIES_OUTPUT_VALUE_H

#include <cstdint>

#include "client/params/param_set.h"

// Room for a converted value: the text forms hold at most 63 characters.
constexpr int kOutValueTextSize = 64;

// A value ready to be stored: bytes and their count.
struct OutValue {
  const uint8_t* bytes;
  uint32_t length;
};

// Converts the `length` bytes at raw (a buffer of at least 8 bytes, zero past
// `length`) of server type `server_type` for a slot of client type `ctype`:
// fixed-width numbers into host order (in place), dates into three i32 (year,
// month, day) and times into four (hour, minute, second, millisecond), and for
// a text slot the numbers, dates and times into their text. `work` receives any
// new form. RC_SUCCESS; RC_NO_CONVERSION for a date or time whose length is not
// 4 (nothing to store then).
int convert_out_value(uint32_t server_type, uint8_t* raw, uint32_t length, uint32_t ctype,
                      char (&work)[kOutValueTextSize], OutValue* out);

// Copies the value into the slot's buffer, never more than the slot's buffer
// size, and sets the slot's length to the full length. RC_TRUNCATED when the
// value was cut, else 0. A slot without a buffer takes no bytes; one without a
// length variable takes no length.
int store_out_value(ParamSet* set, int slot, const OutValue& value);

// Whether the slot is one that output values may be written into: within the
// set, with a direction among `directions` (a bit per direction code).
bool out_slot_accepts(const ParamSet* set, int slot, uint32_t direction_bits);

constexpr uint32_t direction_bit(ParamDirection d) { return 1u << static_cast<uint32_t>(d); }

#endif
