// The layout of a stored row and the block table of row pointers.
#include "client/results/row_store.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "client/handles/conn.h"
#include "client/results/mem_pool.h"
#include "client/text/heap_text.h"
#include "client/values/type_codes.h"

namespace {

constexpr int kTableEntries = 1024;
constexpr int kLastBlock = 256;

// The tiers of the block table: the blocks up to `last` hold `rows` row
// pointers each.
struct Tier {
  int last;
  int64_t rows;
};
constexpr Tier kTiers[] = {{16, 1000}, {32, 10000}, {64, 100000}, {128, 1000000}, {kLastBlock, 10000000}};

int64_t block_rows(int block) {
  for (const Tier& tier : kTiers) {
    if (block <= tier.last) return tier.rows;
  }
  return kTiers[std::size(kTiers) - 1].rows;
}

int16_t* block_counter(ResultSet* result) { return static_cast<int16_t*>(result->blocks[0]); }

// The GBK text of "the statement's result set is too large".
constexpr char kTooLargeLine[] = "\xd3\xef\xbe\xe4\xd0\xd0\xbd\xe1\xb9\xfb\xbc\xaf\xb9\xfd\xb4\xf3\n";
constexpr char kTooLargeText[] = "[EC080]select result-set is too large please connect to db-server";

int refuse_too_large(ResultSet* result) {
  std::fputs(kTooLargeLine, stdout);
  replace_text(&result->error_text, kTooLargeText);
  return RC_ERROR;
}

int first_block(ResultSet* result) {
  auto** table = static_cast<void**>(alloc_zeroed(kTableEntries * sizeof(void*)));
  auto* counter = static_cast<int16_t*>(alloc_zeroed(sizeof(int16_t)));
  void* block = alloc_zeroed(block_rows(1) * sizeof(uint8_t*));
  if (!table || !counter || !block) {
    std::free(table);
    std::free(counter);
    std::free(block);
    return RC_NO_MEMORY;
  }
  *counter = 1;
  table[0] = counter;
  table[1] = block;
  result->blocks = table;
  result->capacity = block_rows(1);
  return RC_SUCCESS;
}

}  // namespace

uint8_t** block_span(ResultSet* result, int64_t index, uint8_t*** end) {
  uint8_t** entry = result_row_slot(result, index);
  // The rows before this tier, and the size of its blocks.
  int64_t tier_start = 0;
  int64_t tier_rows = kTiers[0].rows;
  int tier_first = 1;
  for (const Tier& tier : kTiers) {
    tier_rows = tier.rows;
    const int64_t tier_end = tier_start + (tier.last - tier_first + 1) * tier.rows;
    if (index < tier_end) break;
    tier_start = tier_end;
    tier_first = tier.last + 1;
  }
  *end = entry + (tier_rows - (index - tier_start) % tier_rows);
  return entry;
}

int32_t row_layout(FieldDesc* fields, int32_t count) {
  int32_t pos = RowLayout::flag_bytes(count);
  for (int32_t k = 0; k < count; ++k) {
    fields[k].offset = static_cast<uint32_t>(pos);
    pos += row_slot_size(fields[k].server_type);
  }
  return pos + RowLayout::kHeaderSize;
}

uint8_t* new_row(MemPool* pool, int32_t row_size, int32_t field_count, uint32_t id_len) {
  uint8_t* row = take_row(pool, row_size, id_len);
  if (!row) return nullptr;
  // Every field starts NULL: the NULL bit of each pair, whole bytes at a time.
  uint8_t* flags = row + RowLayout::kHeaderSize;
  const int32_t full = field_count / 4;
  std::memset(flags, 0x55, static_cast<size_t>(full));
  if (full * 4 < field_count) flags[full] = static_cast<uint8_t>(0x55 >> (2 * (4 - (field_count - full * 4))));
  return row;
}

int result_store_row_at(ResultSet* result, uint8_t* row) {
  if (result->capacity == 0) {
    if (first_block(result) != RC_SUCCESS) return RC_NO_MEMORY;
  } else if (result->row_count >= result->capacity) {
    int16_t* counter = block_counter(result);
    // The counter stops one past the last block, so every later row is refused
    // the same way and freeing never walks past the table.
    if (*counter <= kLastBlock) ++*counter;
    const int n = *counter;
    if (n > kLastBlock) return refuse_too_large(result);
    const int64_t rows = block_rows(n);
    // Every entry is written before it is read.
    void* block = std::malloc(static_cast<size_t>(rows) * sizeof(uint8_t*));
    if (!block) {
      --*counter;
      return RC_NO_MEMORY;
    }
    result->blocks[n] = block;
    result->capacity += rows;
  }
  uint8_t** entry = block_span(result, result->row_count, &result->fill_end);
  *entry = row;
  result->fill_at = entry + 1;
  result->fill_index = ++result->row_count;
  return RC_SUCCESS;
}

uint8_t** result_row_slot(ResultSet* result, int64_t index) {
  // One branch per tier so that every division is by a constant.
  auto at = [result](int block, int64_t i) { return static_cast<uint8_t**>(result->blocks[block]) + i; };
  if (index < 16000) return at(1 + static_cast<int>(index / 1000), index % 1000);
  if (index < 176000) {
    index -= 16000;
    return at(17 + static_cast<int>(index / 10000), index % 10000);
  }
  if (index < 3376000) {
    index -= 176000;
    return at(33 + static_cast<int>(index / 100000), index % 100000);
  }
  if (index < 67376000) {
    index -= 3376000;
    return at(65 + static_cast<int>(index / 1000000), index % 1000000);
  }
  index -= 67376000;
  return at(129 + static_cast<int>(index / 10000000), index % 10000000);
}

void result_step_span(ResultSet* result) {
  result->step_index = result->cursor;
  result->step_at = block_span(result, result->cursor, &result->step_end);
}

const uint8_t* row_field_ptr(const uint8_t* row, const FieldDesc* fields, int k, uint32_t* len) {
  if (row_is_null(row, k)) return nullptr;
  const uint8_t* slot = row + RowLayout::kHeaderSize + fields[k].offset;
  if (row_is_indirect(row, k)) {
    const uint8_t* p;
    std::memcpy(&p, slot + RowLayout::kIndirectPtrOffset, sizeof p);
    if (len) std::memcpy(len, slot, sizeof *len);
    return p;
  }
  if (len) *len = static_cast<uint32_t>(row_slot_size(fields[k].server_type));
  return slot;
}

void free_row_blocks(ResultSet* result) {
  if (!result->blocks) return;
  const int counter = *block_counter(result);
  for (int n = 1; n <= counter && n <= kLastBlock; ++n) std::free(result->blocks[n]);
  std::free(result->blocks[0]);
  std::free(result->blocks);
  result->blocks = nullptr;
  result->capacity = 0;
  result->row_count = 0;
  result->fill_at = result->fill_end = nullptr;
  result->step_at = result->step_end = nullptr;
}
