// The first value of a result as the single-value reader hands it out.
#ifndef RIZEZOVA_CLIENT_REPLIES_FIRST_VALUE_H
#define RIZEZOVA_CLIENT_REPLIES_FIRST_VALUE_H

#include "client/vmc.h"

struct ResultSet;

// Room that first_column_text's out has: the single-value answer's area.
constexpr int kFirstColumnSize = VALUE_AREA_SIZE;

// Field 1 of the row at the result's cursor as text, for the single-value
// reader. out holds kFirstColumnSize bytes. A text form is copied there with
// flag 0; a long text, binary or numeric value goes to a new heap buffer and
// out receives its u32 length followed by the buffer's address, flag 1 (the
// caller frees it). A NULL value writes an empty text and leaves flag alone.
// Always true.
bool first_column_text(ResultSet* result, char* out, int* flag);

#endif
