// Statements whose first value is wanted (the row id of an INSERT, the count
// of an UPDATE or DELETE, a setting the server reports): the library's answer
// area read once, in one place.
#ifndef RIZEZOVA_SRC_VALUE_ANSWER_H
#define RIZEZOVA_SRC_VALUE_ANSWER_H

#include <cstdint>
#include <string>

#include "client/vmc.h"

namespace zorezu {

struct ValueAnswer {
  int code = 0;         // what VMC_ExecuteValue answered
  std::string text;     // the value as text: a row id, or the first value of a result
  int32_t count = 0;    // the first four bytes of the area: the count of an UPDATE or DELETE
  int holds = 0;        // what the area holds: the SqlKind of the item that wrote it last, 0 for none
};

// Runs sql as VMC_ExecuteValue does. A value that the library says it copied
// to the heap is read and freed here. With rows, result sets that the reply
// carries are handed out there (the caller frees them) in place of a value.
ValueAnswer execute_value(VMC_Handle* conn, const char* sql, VMC_Handle* rows = nullptr);

}  // namespace zorezu

#endif
