// The two sets of type codes: the server's (how a value travels and is stored
// in a row) and the client's (what a caller binds or asks a value as), with the
// default client type of each server type and the width tables.
#ifndef RIZEZOVA_CLIENT_TYPE_CODES_H
#define RIZEZOVA_CLIENT_TYPE_CODES_H

#include <cstdint>

// Codes the server sends with field descriptions, output values and parameter
// descriptions. A code above ST_ARRAY_BASE marks an array of code - ST_ARRAY_BASE.
enum ServerType : uint32_t {
  ST_BOOLEAN = 2,            // one byte, 'T' or 'F'
  ST_INT8 = 3,
  ST_INT16 = 4,
  ST_INT32 = 5,
  ST_INT64 = 6,
  ST_NUMERIC = 7,            // decimal text
  ST_FLOAT = 8,
  ST_DOUBLE = 9,
  ST_DATE = 10,              // i32 days since 1970-01-01
  ST_TIME = 11,              // i32 milliseconds of the day
  ST_TIME_TZ = 12,           // 6 bytes: u32 ms, i16 zone minutes, big-endian
  ST_DATETIME = 13,          // i64 ms since 1970-01-01 00:00:00
  ST_DATETIME_TZ = 14,       // 10 bytes: i64 us, i16 zone minutes, big-endian
  ST_IV_YEAR = 15,           // intervals 15 to 23: one i32
  ST_IV_YEAR_MONTH = 16,     // months
  ST_IV_MONTH = 17,
  ST_IV_DAY = 18,
  ST_IV_DAY_HOUR = 19,       // hours
  ST_IV_HOUR = 20,
  ST_IV_DAY_MINUTE = 21,     // minutes
  ST_IV_HOUR_MINUTE = 22,    // minutes
  ST_IV_MINUTE = 23,
  ST_IV_DAY_SECOND = 24,     // intervals 24 to 27: i64 microseconds
  ST_IV_HOUR_SECOND = 25,
  ST_IV_MINUTE_SECOND = 26,
  ST_IV_SECOND = 27,
  ST_VARBYTES = 29,
  ST_CHAR = 30,
  ST_CLOB = 32,
  ST_BINARY = 33,
  ST_BLOB = 34,
  ST_VARBYTES_45 = 45,
  ST_LOB = 47,
  ST_VARBYTES_48 = 48,       // 48 to 60: variable bytes
  ST_VARBYTES_60 = 60,
  ST_LOB_64 = 64,
  ST_ARRAY_BASE = 10000,
};

// Codes with which callers bind parameters and ask for column values.
enum CType : int32_t {
  CT_INT = 1,                // 32-bit integer when fetched, one byte when bound
  CT_TEXT = 2,
  CT_INT8 = 3,
  CT_INT16 = 4,
  CT_INT32 = 5,
  CT_INT64 = 6,
  CT_FLOAT = 7,
  CT_DOUBLE = 8,
  CT_NUMERIC = 9,            // the value's bytes
  CT_DATE = 10,              // 10 to 14: as text
  CT_TIME = 11,
  CT_TIME_TZ = 12,
  CT_DATETIME = 13,
  CT_DATETIME_TZ = 14,
  CT_BINARY = 15,
  CT_BINARY_PIECE = 18,      // binary bytes read piecewise from an offset
  CT_INTERVAL = 21,
  CT_DATETIME_MS = 23,       // datetime as i64 milliseconds
  CT_INTERVAL_MONTHS = 28,
  CT_INTERVAL_I64 = 31,
  CT_LOB = 40,
  CT_CLOB = 41,
  CT_BLOB = 42,
  CT_CLOB_43 = 43,
  CT_CLOB_44 = 44,
  CT_VARBYTES_45 = 45,       // 45 to 57: defaults of server types 48 to 60
  CT_VARBYTES_57 = 57,
  CT_BIND_58 = 58,
  CT_BIND_62 = 62,
  CT_BYTE = 63,
  CT_VARBYTES = 69,          // default of server type 29
  CT_MAX = 63,               // no conversion above this code
};

// The default client type of a server type; arrays map to their base's + 10000.
int32_t map_server_type(uint32_t server_type);
// Width of a server type's slot in a stored row: 1, 2, 4, 8, or 16 for a
// length and pointer.
int row_slot_size(uint32_t server_type);
bool is_fixed_size_type(uint32_t ctype);
// The fixed width of a client type, -1 when it has none.
int fixed_type_size(uint32_t ctype);

#endif
