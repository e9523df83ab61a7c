#include "tests/cpp/support/result_builder.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "client/handles/conn.h"
#include "client/results/mem_pool.h"
#include "client/results/result_life.h"
#include "client/results/row_store.h"
#include "client/values/type_codes.h"

ResultSet* build_result(std::initializer_list<TestField> fields) {
  ResultSet* result = new_result(4);
  const auto n = static_cast<int32_t>(fields.size());
  result->fields = static_cast<FieldDesc*>(alloc_zeroed(fields.size() * sizeof(FieldDesc)));
  result->field_count = n;
  int k = 0;
  for (const TestField& f : fields) {
    // One buffer per name, table first, as the reader keeps it.
    std::string whole = std::string(f.table ? f.table : "") + '\0' + f.column + '\0' + (f.alias ? f.alias : "");
    auto* buf = static_cast<char*>(alloc_zeroed(whole.size() + 1));
    std::memcpy(buf, whole.data(), whole.size());
    FieldDesc& d = result->fields[k++];
    d.table = f.table ? buf : nullptr;
    d.column = f.table ? buf + std::strlen(f.table) + 1 : buf + 1;
    if (!f.table) {
      // No table: the buffer starts at the column.
      std::memmove(buf, buf + 1, whole.size());
      d.column = buf;
    }
    d.alias = f.alias ? d.column + std::strlen(f.column) + 1 : nullptr;
    d.server_type = f.server_type;
    d.ctype = static_cast<uint32_t>(map_server_type(f.server_type));
    d.length = f.length;
  }
  result->row_size = row_layout(result->fields, n);
  result->pool = mem_pool_create();
  return result;
}

uint8_t* add_row(ResultSet* result) {
  uint8_t* row = new_row(result->pool, result->row_size, result->field_count);
  result_store_row(result, row);
  result->current_row = row;
  return row;
}

void set_raw(ResultSet* result, uint8_t* row, int k, const void* bytes, uint32_t len) {
  auto* p = static_cast<uint8_t*>(mem_pool_alloc(result->pool, len));
  std::memcpy(p, bytes, len);
  p[len] = 0;
  row_set_indirect(row, k);
  row_set_ptr(row, result->fields, k, p, len);
}
