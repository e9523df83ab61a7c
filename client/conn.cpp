#include "client/conn.h"

#include <cstdlib>
#include <cstring>

void* alloc_zeroed(size_t n) {
  // calloc refuses an empty block on some platforms; a record is never empty,
  // but a zero-length text buffer can be asked for.
  return std::calloc(n == 0 ? 1 : n, 1);
}

void replace_text(char** slot, const char* text) {
  char* copy = text ? strdup(text) : nullptr;
  std::free(*slot);
  *slot = copy;
}

void conn_set_error(Conn* conn, const char* text) { replace_text(&conn->error_text, text); }
