// The default client type of each server type and the width tables of the two
// sets of type codes (ServerType and CType, in the public header).
#ifndef RIZEZOVA_CLIENT_TYPE_CODES_H
#define RIZEZOVA_CLIENT_TYPE_CODES_H

#include <cstdint>

#include "client/vmc.h"

// The default client type of a server type; arrays map to their base's + 10000.
int32_t map_server_type(uint32_t server_type);
// Width of a server type's slot in a stored row: 1, 2, 4, 8, or 16 for a
// length and pointer.
int row_slot_size(uint32_t server_type);
bool is_fixed_size_type(uint32_t ctype);
// The fixed width of a client type, -1 when it has none.
int fixed_type_size(uint32_t ctype);

#endif
