// The default client type of each server type and the width tables of the two
// sets of type codes (ServerType and CType, in the public header).
#ifndef RIZEZOVA_CLIENT_VALUES_TYPE_CODES_H
#define RIZEZOVA_CLIENT_VALUES_TYPE_CODES_H

#include <cstdint>

#include "client/vmc.h"

// The default client type of a server type; arrays map to their base's + 10000.
int32_t map_server_type(uint32_t server_type);
// The slot of a value held indirectly: a u32 length, then in its last eight
// bytes a pointer to the bytes.
constexpr int kIndirectSlotSize = 16;
// The width that fixed_type_size gives a numeric client type.
constexpr int kNumericFixedSize = 41;
// What fixed_type_size answers for a client type without a fixed width.
constexpr int kNoFixedSize = -1;

// Width of a server type's slot in a stored row: 1, 2, 4, 8, or
// kIndirectSlotSize for a length and pointer.
int row_slot_size(uint32_t server_type);
bool is_fixed_size_type(uint32_t ctype);
// The fixed width of a client type, kNoFixedSize when it has none.
int fixed_type_size(uint32_t ctype);

#endif
