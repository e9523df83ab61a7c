// The answer area of VMC_ExecuteValue.
#include "src/value_answer.h"

#include <cstring>

#include "client/vmc_internal.h"

namespace zorezu {

ValueAnswer execute_value(VMC_Handle* conn, const char* sql, VMC_Handle* rows) {
  char area[VALUE_AREA_SIZE] = {};
  int type = 0;
  int on_heap = 0;
  ValueAnswer answer;
  answer.code = vmc_execute_value_rows(conn, sql, area, &type, &on_heap, rows, &answer.holds);
  std::memcpy(&answer.count, area, sizeof answer.count);
  if (!on_heap) {
    answer.text.assign(area, strnlen(area, sizeof area));
    return answer;
  }
  // The area holds the length and address of a heap copy.
  uint32_t length = 0;
  char* copy = nullptr;
  std::memcpy(&length, area, sizeof length);
  std::memcpy(&copy, area + sizeof length, sizeof copy);
  if (copy) answer.text.assign(copy, strnlen(copy, length));
  VMC_FreeBuffer(reinterpret_cast<void**>(&copy));
  return answer;
}

}  // namespace zorezu
