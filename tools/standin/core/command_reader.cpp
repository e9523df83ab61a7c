#include "tools/standin/core/command_reader.h"

#include <algorithm>
#include <vector>

#include "link/wire_io.h"

namespace standin {

namespace {
// More than any statement a test or the stand-in serves.
constexpr uint32_t kMaxCommandText = 64u << 20;
constexpr uint16_t kWireBindOnly = 1008;

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
  uint8_t letter = 0;
  if (!recv_char(link, &letter)) return false;
  out->letter = static_cast<char>(letter);
  out->text.clear();
  out->param_count = 0;
  if (letter != '?') return true;
  uint32_t len = 0;
  if (!recv_int(link, &len) || len > kMaxCommandText) return false;
  std::vector<uint8_t> text(static_cast<size_t>(len) + 1);
  if (!recv_bytes(link, text.data(), len + 1) || text[len] != 0) return false;
  out->text.assign(reinterpret_cast<const char*>(text.data()), len);
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
        if (length > kMaxCommandText) return false;
        rec.value.resize(length);
        if (!recv_bytes(link, rec.value.data(), length)) return false;
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
  if (width && host_is_little_endian) std::reverse(rec->value.begin(), rec->value.end());
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
    if (!recv_int(link, &size) || size == 0 || size > kMaxCommandText) return false;
    block.resize(size);
    if (!recv_bytes(link, block.data(), size)) return false;
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
