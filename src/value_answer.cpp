// The answer area of VMC_ExecuteValue.
#include "src/value_answer.h"

#include <cstring>

namespace zorezu {

namespace {

// Whether the area holds a heap copy's length and address rather than text.
// The type code alone does not tell: a server type may be VALUE_ON_HEAP or
// more by itself (arrays are 10000 and more), so the fact is decided by the
// library's rule: only these types, too long for the area, go to the heap.
bool on_heap(int type) {
  switch (type - VALUE_ON_HEAP) {
    case ST_NUMERIC:
    case ST_CHAR:
    case ST_VARBYTES_45:
    case ST_CLOB:
    case ST_BINARY:
    case ST_BLOB:
    case ST_LOB:
    case ST_LOB_64:
      return true;
    default:
      return false;
  }
}

}  // namespace

ValueAnswer execute_value(VMC_Handle* conn, const char* sql) {
  char area[VALUE_AREA_SIZE] = {};
  int type = 0;
  ValueAnswer answer;
  answer.code = VMC_ExecuteValue(conn, sql, area, &type);
  std::memcpy(&answer.count, area, sizeof answer.count);
  if (!on_heap(type)) {
    answer.text.assign(area, strnlen(area, sizeof area));
    return answer;
  }
  uint32_t length = 0;
  char* copy = nullptr;
  std::memcpy(&length, area, sizeof length);
  std::memcpy(&copy, area + sizeof length, sizeof copy);
  if (copy) answer.text.assign(copy, strnlen(copy, length));
  VMC_FreeBuffer(reinterpret_cast<void**>(&copy));
  return answer;
}

}  // namespace zorezu
