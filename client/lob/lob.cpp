// LOB objects: chunks of a value filled, read back, reset and freed.
#include "client/lob/lob.h"

#include "client/handles/handle.h"
#include "client/text/heap_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

LobObject* lob_of(VMC_Handle* handle) {
  if (!handle || !*handle) return nullptr;
  LobObject* lob = static_cast<LobObject*>(*handle);
  return lob->handle_type == static_cast<uint32_t>(HandleType::LobObject) ? lob : nullptr;
}

// A new chunk behind the last one; null when its memory cannot be had.
LobChunk* add_chunk(LobObject* lob) {
  LobChunk* chunk = static_cast<LobChunk*>(alloc_zeroed(sizeof(LobChunk)));
  if (!chunk) return nullptr;
  chunk->chunk_data = static_cast<uint8_t*>(alloc_zeroed(kLobChunkSize));
  if (!chunk->chunk_data) {
    std::free(chunk);
    return nullptr;
  }
  chunk->chunk_no = lob->chunk_count;
  if (lob->last_chunk) {
    lob->last_chunk->chunk_next = chunk;
  } else {
    lob->first_chunk = chunk;
  }
  lob->last_chunk = chunk;
  ++lob->chunk_count;
  return chunk;
}

void set_lob_error(LobObject* lob, const char* text) { replace_text(&lob->error_text, text); }

}  // namespace

int lob_append(LobObject* lob, const uint8_t* data, uint64_t n) {
  if (n == 0) return RC_SUCCESS;
  if (n > static_cast<uint64_t>(kLobMaxSize - lob->lob_size)) return RC_ERROR;
  uint64_t done = 0;
  while (done < n) {
    // A new chunk is made only when every chunk there is is full (an inline
    // value of no bytes leaves an empty chunk 0 that is filled first).
    if (lob->lob_size >= static_cast<int64_t>(lob->chunk_count) * kLobChunkSize && !add_chunk(lob)) {
      return RC_NO_MEMORY;
    }
    const uint32_t offset = static_cast<uint32_t>(lob->lob_size % kLobChunkSize);
    const uint64_t piece = std::min<uint64_t>(n - done, kLobChunkSize - offset);
    std::memcpy(lob->last_chunk->chunk_data + offset, data + done, piece);
    lob->lob_size += static_cast<int64_t>(piece);
    done += piece;
  }
  return RC_SUCCESS;
}

namespace {

void drop_chunks(LobObject* lob) {
  LobChunk* chunk = lob->first_chunk;
  while (chunk) {
    LobChunk* next = chunk->chunk_next;
    std::free(chunk->chunk_data);
    std::free(chunk);
    chunk = next;
  }
  lob->first_chunk = nullptr;
  lob->last_chunk = nullptr;
  lob->chunk_count = 0;
  lob->lob_size = 0;
  lob->read_pos = 0;
}

}  // namespace

int lob_set_content(LobObject* lob, const uint8_t* data, uint64_t n) {
  drop_chunks(lob);
  if (n > static_cast<uint64_t>(kLobMaxSize)) return RC_ERROR;
  if (!add_chunk(lob)) return RC_NO_MEMORY;
  return lob_append(lob, data, n);
}

void lob_clear(LobObject* lob) {
  drop_chunks(lob);
  std::free(lob->descriptor);
  std::free(lob->error_text);
  const uint32_t type = lob->handle_type;
  std::memset(lob, 0, sizeof *lob);
  lob->handle_type = type;
}

int VMC_CreateLob(VMC_Handle* handle) {
  if (!handle) return RC_INVALID_HANDLE;
  LobObject* lob = static_cast<LobObject*>(alloc_zeroed(sizeof(LobObject)));
  if (!lob) return RC_NO_MEMORY;
  lob->handle_type = static_cast<uint32_t>(HandleType::LobObject);
  *handle = lob;
  return RC_SUCCESS;
}

int VMC_PutLobData(VMC_Handle* handle, const void* data, uint32_t length) {
  LobObject* lob = lob_of(handle);
  if (!lob) return RC_INVALID_HANDLE;
  if (length == 0xFFFFFFFFu) {
    lob->lob_state = static_cast<uint32_t>(LobState::Complete);
    return RC_SUCCESS;
  }
  if (length == 0 || !data) return RC_SUCCESS;
  const int rc = lob_append(lob, static_cast<const uint8_t*>(data), length);
  // Bytes that went in before a chunk ran short are kept, and so is the state.
  if (rc != RC_ERROR) lob->lob_state = static_cast<uint32_t>(LobState::Writing);
  return rc;
}

int VMC_GetLobData(VMC_Handle* handle, void* buf, uint32_t count) {
  LobObject* lob = lob_of(handle);
  if (!lob) return RC_INVALID_HANDLE;
  constexpr int kNothingCopied = 0;
  if (!lob->first_chunk || lob->read_pos >= lob->lob_size || count == 0) return kNothingCopied;
  if (!buf) return RC_INVALID_HANDLE;
  // The count read is handed back as an int.
  const int64_t want = std::min<int64_t>(count, kLobMaxSize);
  const int64_t total = std::min<int64_t>(want, lob->lob_size - lob->read_pos);
  LobChunk* chunk = lob->first_chunk;
  for (int64_t i = lob->read_pos / kLobChunkSize; i > 0 && chunk; --i) chunk = chunk->chunk_next;
  uint8_t* out = static_cast<uint8_t*>(buf);
  int64_t offset = lob->read_pos % kLobChunkSize;
  int64_t done = 0;
  while (done < total && chunk) {
    const int64_t piece = std::min<int64_t>(total - done, kLobChunkSize - offset);
    std::memcpy(out + done, chunk->chunk_data + offset, static_cast<size_t>(piece));
    done += piece;
    offset = 0;
    chunk = chunk->chunk_next;
  }
  lob->read_pos += done;
  return static_cast<int>(done);
}

int VMC_SetLobReadPos(VMC_Handle* handle, uint32_t position) {
  LobObject* lob = lob_of(handle);
  if (!lob) return RC_INVALID_HANDLE;
  char text[128] = {};
  const int signed_pos = static_cast<int>(position);
  if (signed_pos < 0) {
    std::snprintf(text, sizeof text, "[EC098]Error the ReadPos set error :%d", signed_pos);
    set_lob_error(lob, text);
    return RC_ERROR;
  }
  if (signed_pos > lob->lob_size) {
    std::snprintf(text, sizeof text, "[EC097]Error the ReadPos set larger than max_length :%d > :%d", signed_pos,
                  static_cast<int>(lob->lob_size));
    set_lob_error(lob, text);
    return RC_ERROR;
  }
  lob->read_pos = signed_pos;
  return signed_pos;
}

int VMC_ResetLob(VMC_Handle* handle) {
  if (!handle || !*handle) return RC_SUCCESS;
  LobObject* lob = lob_of(handle);
  if (!lob) return RC_INVALID_HANDLE;
  lob_clear(lob);
  return RC_SUCCESS;
}

int VMC_FreeLob(VMC_Handle* handle) {
  if (!handle || !*handle) return RC_SUCCESS;
  LobObject* lob = lob_of(handle);
  if (!lob) return RC_INVALID_HANDLE;
  lob_clear(lob);
  std::free(lob);
  *handle = nullptr;
  return RC_SUCCESS;
}
