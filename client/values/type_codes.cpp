// The default client type of a server type and the widths of both kinds of code.
#include "client/values/type_codes.h"

namespace {

int32_t base_ctype(uint32_t st) {
  switch (st) {
    case ST_BOOLEAN: return CT_INT;
    case ST_INT8: return CT_INT8;
    case ST_INT16: return CT_INT16;
    case ST_INT32: return CT_INT32;
    case ST_INT64: return CT_INT64;
    case ST_NUMERIC: return CT_NUMERIC;
    case ST_FLOAT: return CT_FLOAT;
    case ST_DOUBLE: return CT_DOUBLE;
    case ST_DATE: return CT_DATE;
    case ST_TIME: return CT_TIME;
    case ST_TIME_TZ: return CT_TIME_TZ;
    case ST_DATETIME: return CT_DATETIME;
    case ST_DATETIME_TZ: return CT_DATETIME_TZ;
    case ST_IV_YEAR_MONTH: return CT_INTERVAL_MONTHS;
    case ST_IV_DAY_SECOND: return CT_INTERVAL_I64;
    case ST_VARBYTES: return CT_VARBYTES;
    case ST_CHAR: return CT_TEXT;
    case ST_CLOB: return CT_CLOB;
    case ST_BINARY: return CT_BINARY;
    case ST_BLOB: return CT_BLOB;
    case ST_VARBYTES_45: return CT_TEXT;
    case ST_LOB: return CT_CLOB_43;
    case ST_LOB_64: return CT_CLOB_44;
    default: break;
  }
  if (st >= ST_IV_YEAR && st <= ST_IV_SECOND) return CT_INTERVAL;
  if (st >= ST_VARBYTES_48 && st <= ST_VARBYTES_60) return static_cast<int32_t>(st) - 3;
  return CT_TEXT;
}

}  // namespace

int32_t map_server_type(uint32_t server_type) {
  if (server_type > ST_ARRAY_BASE) return base_ctype(server_type - ST_ARRAY_BASE) + 10000;
  return base_ctype(server_type);
}

int row_slot_size(uint32_t server_type) {
  switch (server_type) {
    case ST_BOOLEAN:
    case ST_INT8:
      return sizeof(int8_t);
    case ST_INT16:
      return sizeof(int16_t);
    case ST_INT32:
    case ST_FLOAT:
    case ST_DATE:
    case ST_TIME:
      return sizeof(int32_t);
    case ST_INT64:
    case ST_DOUBLE:
    case ST_DATETIME:
      return sizeof(int64_t);
    default:
      break;
  }
  if (server_type >= ST_IV_YEAR && server_type <= ST_IV_MINUTE) return sizeof(int32_t);
  if (server_type >= ST_IV_DAY_SECOND && server_type <= ST_IV_SECOND) return sizeof(int64_t);
  return kIndirectSlotSize;
}

bool is_fixed_size_type(uint32_t ctype) {
  return fixed_type_size(ctype) > 0;
}

int fixed_type_size(uint32_t ctype) {
  switch (ctype) {
    case CT_INT:
    case CT_INT8:
    case CT_BYTE:
      return sizeof(int8_t);
    case CT_INT16:
      return sizeof(int16_t);
    case CT_INT32:
    case CT_FLOAT:
      return sizeof(int32_t);
    case CT_INT64:
    case CT_DOUBLE:
    case CT_DATETIME_MS:
      return sizeof(int64_t);
    case CT_NUMERIC:
      return kNumericFixedSize;
    default:
      return kNoFixedSize;
  }
}
