// Heap texts kept in records: the error texts of connections, results,
// parameter sets and LOBs.
#ifndef RIZEZOVA_CLIENT_TEXT_HEAP_TEXT_H
#define RIZEZOVA_CLIENT_TEXT_HEAP_TEXT_H

// Replaces the heap text in *slot with a copy of text (null clears it). When
// the copy cannot be made the slot is cleared rather than left stale.
void replace_text(char** slot, const char* text);

#endif
