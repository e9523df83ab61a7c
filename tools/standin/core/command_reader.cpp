#include "tools/standin/core/command_reader.h"

#include <algorithm>
#include <vector>

#include "link/reply_letters.h"
#include "link/wire_io.h"

namespace standin {

namespace {
// The longest parameter value or batch block the stand-in takes.
constexpr uint32_t kMaxValue = 64u << 20;
constexpr uint16_t kWireBindOnly = 1008;
// Announced lengths are read in pieces of at most this many bytes, each
// stored once it has arrived.
constexpr uint32_t kPiece = 64u << 10;

// Reads n bytes onto the end of *out piece by piece, so that a length
// announced but never sent costs no memory.
template <typename Bytes>
bool recv_growing(Link* link, uint32_t n, Bytes* out) {
  while (n > 0) {
    const uint32_t step = n < kPiece ? n : kPiece;
    const size_t at = out->size();
    out->resize(at + step);
    if (!recv_bytes(link, reinterpret_cast<uint8_t*>(out->data()) + at, step)) return false;
    n -= step;
  }
  return true;
}

// Bytes of a value whose width its wire type fixes; 0 for values of L bytes.
int fixed_width(uint16_t wire_type) {
  switch (wire_type) {
    case 4: return 2;
    case 5: case 8: return 4;
    case 6: case 9: case 13: return 8;
    default: return 0;
  }
}
}  // namespace

bool read_command(Link* link, Command* out) {
  out->letter = 0;
  out->text.clear();
  out->param_count = 0;
  out->text_too_long = false;
  uint8_t letter = 0;
  if (!recv_char(link, &letter)) return false;
  out->letter = static_cast<char>(letter);
  if (letter != COMMAND_STATEMENT) return true;
  uint32_t len = 0;
  if (!recv_int(link, &len)) return false;
  if (len > kMaxStatementText) {
    out->text_too_long = true;
    return false;
  }
  // The text and its terminator.
  if (!recv_growing(link, len + 1, &out->text) || out->text.back() != 0) return false;
  out->text.pop_back();
  return recv_int(link, &out->param_count);
}

bool read_param_records(Link* link, uint32_t count, std::vector<ParamRecord>* out) {
  out->clear();
  for (uint32_t i = 0; i < count; ++i) {
    ParamRecord rec;
    uint16_t name_len = 0;
    if (!recv_short(link, &name_len)) return false;
    rec.name.resize(name_len);
    if (name_len && !recv_bytes(link, reinterpret_cast<uint8_t*>(rec.name.data()), name_len)) return false;
    uint32_t length = 0;
    if (!recv_short(link, &rec.direction) || !recv_short(link, &rec.wire_type) || !recv_int(link, &length))
      return false;
    rec.length = static_cast<int32_t>(length);
    if (rec.length > 0 && rec.wire_type != kWireBindOnly) {
      const int width = fixed_width(rec.wire_type);
      if (width == 0) {
        if (length > kMaxValue || !recv_growing(link, length, &rec.value)) return false;
      } else {
        // Fixed-width values travel big-endian at their type's full width.
        uint8_t be[8];
        if (!recv_bytes(link, be, static_cast<uint32_t>(width))) return false;
        rec.value.assign(be, be + width);
        if (host_is_little_endian) std::reverse(rec.value.begin(), rec.value.end());
      }
    }
    out->push_back(std::move(rec));
  }
  return true;
}

namespace {

// One packed value at *at inside block[0, end): the type byte (when sent), the
// length and the value. False when it runs past the end.
bool unpack_value(const uint8_t* block, size_t end, size_t* at, bool type_bytes, ParamRecord* rec) {
  if (type_bytes) {
    if (*at + 1 > end) return false;
    rec->wire_type = block[(*at)++];
  }
  if (*at + 4 > end) return false;
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length = length << 8 | block[(*at)++];
  rec->length = static_cast<int32_t>(length);
  rec->value.clear();
  if (rec->length <= 0) return true;
  const int width = fixed_width(rec->wire_type);
  const size_t n = width ? static_cast<size_t>(width) : length;
  if (n > end - *at) return false;
  rec->value.assign(block + *at, block + *at + n);
  if (width > 0 && host_is_little_endian != 0) std::reverse(rec->value.begin(), rec->value.end());
  *at += n;
  return true;
}

}  // namespace

bool read_batch_rows(Link* link, const std::vector<ParamRecord>& row0, uint32_t rows, bool type_bytes,
                     const BatchRowSink& on_row) {
  std::vector<ParamRecord> row = row0;
  std::vector<uint8_t> block;
  // Without parameters no block follows row 0.
  uint32_t left = rows > 0 && !row0.empty() ? rows - 1 : 0;
  while (left > 0) {
    uint32_t size = 0;
    if (!recv_int(link, &size) || size == 0 || size > kMaxValue) return false;
    block.clear();
    if (!recv_growing(link, size, &block)) return false;
    // A block holds whole rows, at least one.
    size_t at = 0;
    while (at < size) {
      if (left == 0) return false;
      for (size_t i = 0; i < row.size(); ++i) {
        row[i].wire_type = row0[i].wire_type;
        if (!unpack_value(block.data(), size, &at, type_bytes, &row[i])) return false;
      }
      on_row(row);
      --left;
    }
  }
  return true;
}

}  // namespace standin
