// Accessors of the columns and counts of a result, and attributes by number.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "client/connection/conn.h"
#include "client/connection/conn_attr.h"
#include "client/values/convert.h"
#include "client/handles/handle.h"
#include "client/results/result_set.h"
#include "client/results/smart_result.h"
#include "client/vmc.h"

namespace {

constexpr size_t kNameBufSize = 128;

enum ResultAttr {
  RA_FIELD_COUNT = 61,
  RA_ROW_COUNT = 62,
  RA_AFFECTED = 63,
  RA_HANDLE_TYPE = 64,
  RA_KIND = 65,
  RA_HAS_NEXT = 66,
};
constexpr int kAttrInt = 2;
constexpr int kAttrInt64 = 3;

constexpr uint32_t kResultSet = static_cast<uint32_t>(HandleType::ResultSet);
constexpr uint32_t kSmartResult = static_cast<uint32_t>(HandleType::SmartResult);

// The ResultSet an accessor reads, or null when the handle names none.
ResultSet** result_of(VMC_Handle* handle) {
  switch (handle_type_of(handle)) {
    case kResultSet:
      return reinterpret_cast<ResultSet**>(handle);
    case kSmartResult: {
      // A server-cursor result stands for its current block.
      auto* smart = static_cast<SmartResult*>(*handle);
      return smart->block ? &smart->block : nullptr;
    }
    default:
      return nullptr;
  }
}

const char* field_name(const FieldDesc& field) { return field.alias ? field.alias : field.column; }

// Copies a name without its terminator, at most 127 characters so a
// zero-filled buffer of 128 bytes keeps one.
void put_name(char* dst, const char* name) {
  if (!dst || !name) return;
  std::memcpy(dst, name, strnlen(name, kNameBufSize - 1));
}

void set_result_error(ResultSet* result, const char* text) { replace_text(&result->error_text, text); }

template <typename T>
void put_attr(void* value, int* type, int* length, T v) {
  std::memcpy(value, &v, sizeof v);
  if (type) *type = sizeof v == 8 ? kAttrInt64 : kAttrInt;
  if (length) *length = sizeof v;
}

int get_result_attr(ResultSet* result, bool smart, int id, void* value, int* type, int* length) {
  if (!result) return -3;
  switch (id) {
    case RA_FIELD_COUNT: put_attr(value, type, length, int32_t{result->field_count}); return 0;
    case RA_ROW_COUNT: put_attr(value, type, length, int64_t{result->row_count}); return 0;
    case RA_AFFECTED: put_attr(value, type, length, int32_t{result->affected}); return 0;
    case RA_HANDLE_TYPE: put_attr(value, type, length, int32_t{smart ? 6 : 4}); return 0;
    case RA_KIND: put_attr(value, type, length, int32_t{result->kind}); return 0;
    case RA_HAS_NEXT:
      if (smart) break;
      put_attr(value, type, length, int32_t{result->next ? 1 : 0});
      return 0;
    default:
      break;
  }
  set_result_error(result, smart ? "[EC0106]smart result attribute type get error,unknown attribute type\n"
                                 : "[EC0105]result attribute type get error,unknown attribute type\n");
  return -3;
}

}  // namespace

extern "C" {

int VMC_GetData(VMC_Handle* handle, int col, int ctype, void* buf, int bufsize, int* len) {
  ResultSet** result = result_of(handle);
  if (!result) return -3;
  return get_column_data(result, col, ctype, buf, bufsize, len);
}

int VMC_GetColType(VMC_Handle* handle, int col, int* ctype) {
  ResultSet** result = result_of(handle);
  if (!result || !ctype) return -3;
  if (col < 1 || col > (*result)->field_count) return -15;
  const uint32_t t = (*result)->fields[col - 1].ctype;
  if (t != 0) *ctype = static_cast<int>(t);
  return 0;
}

int VMC_GetColLen(VMC_Handle* handle, int col, int* length) {
  ResultSet** result = result_of(handle);
  if (!result || !length) return -3;
  if (col < 1 || col > (*result)->field_count) return -15;
  *length = static_cast<int>((*result)->fields[col - 1].length);
  return 0;
}

int VMC_GetColName(VMC_Handle* handle, int col, char* name) {
  ResultSet** result = result_of(handle);
  if (!result || !name) return -3;
  if (col < 1 || col > (*result)->field_count) return -1;
  put_name(name, field_name((*result)->fields[col - 1]));
  return 0;
}

int VMC_GetColIndex(VMC_Handle* handle, const char* name) {
  ResultSet** result = result_of(handle);
  if (!result) return -3;
  if (!name) return 0;
  for (int32_t k = 0; k < (*result)->field_count; ++k) {
    const char* own = field_name((*result)->fields[k]);
    if (own && strcasecmp(own, name) == 0) return k + 1;
  }
  return 0;
}

int VMC_GetFieldCount(VMC_Handle* handle, uint32_t* count) {
  ResultSet** result = result_of(handle);
  if (!result || !count) return -3;
  *count = static_cast<uint32_t>((*result)->field_count);
  return 0;
}

int VMC_GetRowCount(VMC_Handle* handle, uint32_t* count) {
  ResultSet** result = result_of(handle);
  if (!result || !count) return -3;
  *count = static_cast<uint32_t>((*result)->row_count);
  return 0;
}

int VMC_DescribeCol(VMC_Handle* handle, int col, char* table, char* column, char* alias, int* ctype,
                    int* length, int* attr) {
  ResultSet** result = result_of(handle);
  if (!result) return -3;
  if (col < 1 || col > (*result)->field_count) return -1;
  const FieldDesc& field = (*result)->fields[col - 1];
  for (char* buf : {table, column, alias})
    if (buf) std::memset(buf, 0, kNameBufSize);
  put_name(table, field.table);
  put_name(column, field.column);
  put_name(alias, field.alias);
  if (ctype) *ctype = static_cast<int>(field.ctype);
  if (length) *length = static_cast<int>(field.length);
  if (attr) *attr = static_cast<int>(field.attr);
  return 0;
}

int VMC_GetAttr(VMC_Handle* handle, int id, void* value, int size, int* type, int* length) {
  switch (handle_type_of(handle)) {
    case static_cast<uint32_t>(HandleType::Conn):
      return get_conn_attr(static_cast<Conn*>(*handle), id, value, size, type, length);
    case kResultSet:
      if (!value) return -3;
      return get_result_attr(*reinterpret_cast<ResultSet**>(handle), false, id, value, type, length);
    case kSmartResult: {
      ResultSet** block = result_of(handle);
      if (!value || !block) return -3;
      return get_result_attr(*block, true, id, value, type, length);
    }
    case static_cast<uint32_t>(HandleType::ParamSet):
    case static_cast<uint32_t>(HandleType::LobObject):
      return 0;
    default:
      return -3;
  }
}

int VMC_SetAttr(VMC_Handle* handle, int id, void* value, int length) {
  if (handle_type_of(handle) == static_cast<uint32_t>(HandleType::Conn))
    return set_conn_attr(static_cast<Conn*>(*handle), id, value, length) == 0 ? 0 : -1;
  return 0;
}

}  // extern "C"
