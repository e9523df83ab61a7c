// Copies of texts into fixed buffers that never pass the buffer's end.
#ifndef RIZEZOVA_CLIENT_TEXT_BOUNDED_COPY_H
#define RIZEZOVA_CLIENT_TEXT_BOUNDED_COPY_H

#include <cstddef>

// Zero-fills `cap` bytes of dst, then copies src with its terminator when it
// fits (RC_SUCCESS), else its first cap - 1 characters (RC_TRUNCATED). A null
// src copies "".
int copy_bounded(char* dst, size_t cap, const char* src);
// copy_bounded of src behind the text already in dst, within the room left of
// the whole capacity `cap`; RC_TRUNCATED when dst holds no terminator within
// cap.
int append_bounded(char* dst, size_t cap, const char* src);
// copy_bounded of the n bytes at src (stopping at a zero byte).
int copy_bounded_n(char* dst, size_t cap, const char* src, size_t n);

#endif
