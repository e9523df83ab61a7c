// LOB objects: a value held in a chain of 1 MiB chunks with a size, a read
// position and a state, filled by the caller (to bind it) or by the library
// (from a column value, or fetched from the server by its descriptor).
#ifndef RIZEZOVA_CLIENT_LOB_LOB_H
#define RIZEZOVA_CLIENT_LOB_LOB_H

#include <cstdint>

#include "client/handles/conn.h"

constexpr uint32_t kLobChunkSize = 1048576;
// The most a LOB holds: its size travels as a 32-bit length and is handed out
// as an int.
constexpr int64_t kLobMaxSize = 0x7FFFFFFF;

enum class LobState : uint32_t {
  Empty = 0,
  Writing = 1,
  Complete = 2,
};

struct LobChunk {
  uint32_t chunk_no;    // 0, 1, 2, ... in chain order
  uint8_t* chunk_data;  // kLobChunkSize zero-filled bytes
  LobChunk* chunk_next;
};

struct LobObject {
  uint32_t handle_type;  // HandleType::LobObject
  uint32_t chunk_count;
  uint32_t lob_state;    // LobState
  int64_t lob_size;
  int64_t read_pos;      // next byte to read, 0..lob_size
  LobChunk* last_chunk;  // receives the next bytes
  LobChunk* first_chunk;
  char* descriptor;      // a row's descriptor text: 13 characters of name, the limit from the 15th on
  char* error_text;
};

// Appends n bytes behind the value, filling the last chunk before a new one is
// made. RC_SUCCESS; RC_NO_MEMORY when a chunk cannot be had (the bytes before
// it stay); RC_ERROR when the value would grow beyond kLobMaxSize (nothing is
// appended).
int lob_append(LobObject* lob, const uint8_t* data, uint64_t n);

// Replaces the value with n bytes: the old chunks go, chunk 0 is made (also for
// no bytes) and the bytes appended; the read position returns to 0. RC_SUCCESS;
// RC_NO_MEMORY / RC_ERROR as lob_append.
int lob_set_content(LobObject* lob, const uint8_t* data, uint64_t n);

// Releases the chunks, the descriptor and the error text; every field but the
// handle type becomes zero.
void lob_clear(LobObject* lob);

#endif
