// How a caller's buffer holds the rows of one parameter bound as an array:
// the element layout of each client type, and the walk over the elements.
#ifndef RIZEZOVA_CLIENT_PARAMS_ARRAY_ELEMENTS_H
#define RIZEZOVA_CLIENT_PARAMS_ARRAY_ELEMENTS_H

#include <cstdint>
#include <cstring>

// How the caller's buffer holds one row's element of a client type.
enum class Element : uint8_t {
  Refused,           // no array layout
  Fixed,             // `width` bytes
  Prefixed,          // a u32 n, then n bytes; the row length says how many are sent
  RowLength,         // the row's length in bytes
  PrefixThenLength,  // a u32, then the row's length in bytes
};

struct ElementRule {
  Element kind;
  int width;    // Fixed only
  bool copied;  // the set copies the values; else it points into the caller's buffer
};

// The element layout of a client type; by_name: the value was bound by name
// (a binary value bound by name stays in the caller's buffer).
ElementRule element_rule(int ctype, bool by_name);

// What walk_elements answers when a row does not fit.
constexpr int64_t kElementsDoNotFit = -1;

// The u32 length prefix at the start of an element.
inline uint32_t read_prefix(const uint8_t* at) {
  uint32_t n;
  std::memcpy(&n, at, sizeof n);
  return n;
}

// Walks the R elements of the caller's buffer, checking that every row length
// is 0 or more and that what each row sends lies inside its element and inside
// the buffer (the set reads it there, or copies it from there). visit(row, offset) is called for
// each row. Answers the bytes the set copies (0 when it copies nothing), or
// kElementsDoNotFit with the first row that does not fit in *bad_row.
template <typename Visit>
inline int64_t walk_elements(const ElementRule& rule, int rows, const uint8_t* values, int buf_size,
                             const int* lengths, int* bad_row, Visit visit) {
  const int64_t bound = buf_size > 0 ? buf_size : 0;
  int64_t offset = 0;
  for (int r = 0; r < rows; ++r) {
    const int64_t len = lengths[r];
    int64_t size = 0;
    bool fits = len >= 0;
    switch (rule.kind) {
      case Element::Fixed:
        size = rule.width;
        // One-byte types send their row length in bytes as they lie.
        fits = fits && (rule.width > 1 || len <= 1);
        break;
      case Element::Prefixed:
        fits = fits && offset + 4 <= bound;
        if (fits) {
          const int64_t n = read_prefix(values + offset);
          size = 4 + n;
          fits = len <= n && offset + size <= bound;
        }
        break;
      case Element::RowLength:
        size = len;
        fits = fits && offset + size <= bound;
        break;
      case Element::PrefixThenLength:
        size = 4 + len;
        fits = fits && offset + size <= bound;
        break;
      case Element::Refused:
        fits = false;
        break;
    }
    if (!fits) {
      *bad_row = r;
      return kElementsDoNotFit;
    }
    visit(r, offset);
    offset += size;
  }
  constexpr int64_t kNothingCopied = 0;
  if (!rule.copied) return kNothingCopied;
  // Values with a prefix are copied whole, as far as the caller's buffer goes.
  return rule.kind == Element::Prefixed || rule.kind == Element::PrefixThenLength ? bound : offset;
}

#endif
