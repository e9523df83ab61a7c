// Accessors of the columns and counts of a result, and what a result holds.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "client/columns/convert.h"
#include "client/handles/handle.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/results/smart_result.h"
#include "client/vmc.h"

namespace {

constexpr size_t kNameBufSize = 128;
constexpr size_t kExecInfoRowIdSize = 25;


const char* field_name(const FieldDesc& field) { return field.alias ? field.alias : field.column; }

// Copies a name without its terminator, at most 127 characters so a
// zero-filled buffer of 128 bytes keeps one.
void put_name(char* dst, const char* name) {
  if (!dst || !name) return;
  std::memcpy(dst, name, strnlen(name, kNameBufSize - 1));
}

}  // namespace

extern "C" {

int VMC_GetData(VMC_Handle* handle, int col, int ctype, void* buf, int bufsize, int* len) {
  ResultSet** result = result_of_handle(handle);
  if (!result) return RC_INVALID_HANDLE;
  return get_column_data(result, col, ctype, buf, bufsize, len);
}

int VMC_GetColType(VMC_Handle* handle, int col, int* ctype) {
  ResultSet** result = result_of_handle(handle);
  if (!result || !ctype) return RC_INVALID_HANDLE;
  if (col < 1 || col > (*result)->field_count) return RC_COLUMN_RANGE;
  const uint32_t t = (*result)->fields[col - 1].ctype;
  if (t != 0) *ctype = static_cast<int>(t);
  return RC_SUCCESS;
}

int VMC_GetColLen(VMC_Handle* handle, int col, int* length) {
  ResultSet** result = result_of_handle(handle);
  if (!result || !length) return RC_INVALID_HANDLE;
  if (col < 1 || col > (*result)->field_count) return RC_COLUMN_RANGE;
  *length = static_cast<int>((*result)->fields[col - 1].length);
  return RC_SUCCESS;
}

int VMC_GetColName(VMC_Handle* handle, int col, char* name) {
  ResultSet** result = result_of_handle(handle);
  if (!result || !name) return RC_INVALID_HANDLE;
  if (col < 1 || col > (*result)->field_count) return RC_ERROR;
  put_name(name, field_name((*result)->fields[col - 1]));
  return RC_SUCCESS;
}

int VMC_GetColIndex(VMC_Handle* handle, const char* name) {
  ResultSet** result = result_of_handle(handle);
  if (!result) return RC_INVALID_HANDLE;
  if (!name) return RC_SUCCESS;
  for (int32_t k = 0; k < (*result)->field_count; ++k) {
    const char* own = field_name((*result)->fields[k]);
    if (own && strcasecmp(own, name) == 0) return k + 1;
  }
  return RC_SUCCESS;
}

int VMC_GetFieldCount(VMC_Handle* handle, uint32_t* count) {
  ResultSet** result = result_of_handle(handle);
  if (!result || !count) return RC_INVALID_HANDLE;
  *count = static_cast<uint32_t>((*result)->field_count);
  return RC_SUCCESS;
}

int VMC_GetRowCount(VMC_Handle* handle, uint32_t* count) {
  ResultSet** result = result_of_handle(handle);
  if (!result || !count) return RC_INVALID_HANDLE;
  *count = static_cast<uint32_t>((*result)->row_count);
  return RC_SUCCESS;
}

int VMC_DescribeCol(VMC_Handle* handle, int col, char* table, char* column, char* alias, int* ctype,
                    int* length, int* attr) {
  ResultSet** result = result_of_handle(handle);
  if (!result) return RC_INVALID_HANDLE;
  if (col < 1 || col > (*result)->field_count) return RC_ERROR;
  const FieldDesc& field = (*result)->fields[col - 1];
  for (char* buf : {table, column, alias})
    if (buf) std::memset(buf, 0, kNameBufSize);
  put_name(table, field.table);
  put_name(column, field.column);
  put_name(alias, field.alias);
  if (ctype) *ctype = static_cast<int>(field.ctype);
  if (length) *length = static_cast<int>(field.length);
  if (attr) *attr = static_cast<int>(field.attr);
  return RC_SUCCESS;
}

int VMC_GetExecInfo(VMC_Handle* handle, int* kind, int* fields, int* rows, int* affected, char* row_id) {
  const ResultSet* result = nullptr;
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::ResultSet:
      result = static_cast<const ResultSet*>(*handle);
      break;
    case HandleType::SmartResult:
      result = static_cast<const SmartResult*>(*handle)->block;
      break;
    default:
      break;
  }
  if (!result) return RC_INVALID_HANDLE;
  if (kind) *kind = result->kind;
  switch (result->kind) {
    case SQL_KIND_INSERT:
      if (row_id) {
        std::memset(row_id, 0, kExecInfoRowIdSize);
        std::memcpy(row_id, result->row_id, strnlen(result->row_id, kExecInfoRowIdSize - 1));
      }
      if (affected) *affected = result->affected;
      break;
    case SQL_KIND_UPDATE:
    case SQL_KIND_DELETE:
      if (affected) *affected = result->affected;
      break;
    case SQL_KIND_SELECT:
      if (fields) *fields = result->field_count;
      if (rows) *rows = static_cast<int>(static_cast<uint32_t>(result->row_count));
      break;
    default:
      break;
  }
  return RC_SUCCESS;
}

}  // extern "C"
