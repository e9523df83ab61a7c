#include "client/conn.h"

#include <cstdlib>
#include <cstring>

void replace_text(char** slot, const char* text) {
  char* copy = text ? strdup(text) : nullptr;
  std::free(*slot);
  *slot = copy;
}

void conn_set_error(Conn* conn, const char* text) { replace_text(&conn->error_text, text); }
