// Heap texts kept in records.
#include "client/text/heap_text.h"

#include <cstdlib>
#include <cstring>

void replace_text(char** slot, const char* text) {
  char* copy = text ? strdup(text) : nullptr;
  std::free(*slot);
  *slot = copy;
}
