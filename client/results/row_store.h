// How the rows of a result are held: one piece of pool memory per row laid out
// by the field descriptions, reached through a two-level block table of row
// pointers that grows tier by tier.
#ifndef RIZEZOVA_CLIENT_RESULTS_ROW_STORE_H
#define RIZEZOVA_CLIENT_RESULTS_ROW_STORE_H

#include <cstdint>
#include <cstring>

#include "client/results/mem_pool.h"
#include "client/results/result_set.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"

// A stored row: a one-byte header (the length of the row id kept for a '*'
// row, 0 for an 'R' row), then two flag bits per field (NULL, indirect), then
// one slot per field at header + FieldDesc::offset, then the kept row id. A
// 16-byte slot holds a u32 length and, in its last eight bytes, a pointer to
// the value's bytes. The slot of a NULL field is never read, and not cleared.
struct RowLayout {
  static constexpr int kHeaderSize = 1;
  static constexpr int kRowIdSize = 20;  // the most of a row id that is kept
  static constexpr int kIndirectSlot = kIndirectSlotSize;
  static constexpr int kIndirectPtrOffset = 8;
  static constexpr int flag_bytes(int32_t field_count) { return (2 * field_count + 7) / 8; }
};

// Sets each field's offset and answers the row size.
int32_t row_layout(FieldDesc* fields, int32_t count);

// A new row whose flag bits and slots are the caller's to write, with room
// for id_len bytes of row id behind its slots (at most RowLayout::kRowIdSize),
// or null.
inline uint8_t* take_row(MemPool* pool, int32_t row_size, uint32_t id_len = 0) {
  if (id_len > RowLayout::kRowIdSize) id_len = RowLayout::kRowIdSize;
  auto* row = static_cast<uint8_t*>(mem_pool_take(pool, static_cast<uint32_t>(row_size) + id_len));
  if (row) row[0] = static_cast<uint8_t>(id_len);
  return row;
}
// A new row with every field NULL and room for id_len bytes of row id behind
// its slots (at most RowLayout::kRowIdSize), or null. Its slots are not
// cleared: a field's value is written when it arrives.
uint8_t* new_row(MemPool* pool, int32_t row_size, int32_t field_count, uint32_t id_len = 0);
// The row id kept for a '*' row (its length in *len; 0 for an 'R' row).
inline const uint8_t* row_id_of(const uint8_t* row, int32_t row_size, uint32_t* len) {
  *len = row[0];
  return row + row_size;
}
// RC_SUCCESS stored; RC_ERROR the result is full (EC080 in its error_text);
// RC_NO_MEMORY. Fills the row block it is in without looking each row up.
inline int result_store_row(ResultSet* result, uint8_t* row);
// The same where the block table has to grow, or filling starts anew.
int result_store_row_at(ResultSet* result, uint8_t* row);
// The block table entry of row index (below row_count).
uint8_t** result_row_slot(ResultSet* result, int64_t index);
// Makes the row at index `cursor` current and moves the cursor on:
// RC_SUCCESS, or RC_NO_DATA (no current row) past the last row. Steps along
// the row block it is in rather than looking each row up.
inline int result_step(ResultSet* result);
// The block table entry of row index and, in *end, the end of its row block.
uint8_t** block_span(ResultSet* result, int64_t index, uint8_t*** end);
// Points the stepping at the entry of row `cursor` and the end of its block.
void result_step_span(ResultSet* result);

// Frees the block table and its row blocks (not the rows: they are pool
// memory).
void free_row_blocks(ResultSet* result);

// Flag bits: field k's pair lies in flag byte k / 4, at bit 2 * (k % 4).
inline uint8_t& row_flag_byte(uint8_t* row, int k) {
  return row[RowLayout::kHeaderSize + (static_cast<unsigned>(k) >> 2)];
}
inline unsigned row_flag_shift(int k) { return 2 * (static_cast<unsigned>(k) & 3); }
inline bool row_is_null(const uint8_t* row, int k) {
  return (row[RowLayout::kHeaderSize + (static_cast<unsigned>(k) >> 2)] >> row_flag_shift(k)) & 1;
}
inline bool row_is_indirect(const uint8_t* row, int k) {
  return (row[RowLayout::kHeaderSize + (static_cast<unsigned>(k) >> 2)] >> (row_flag_shift(k) + 1)) & 1;
}
inline void row_set_null(uint8_t* row, int k) { row_flag_byte(row, k) |= static_cast<uint8_t>(1u << row_flag_shift(k)); }
inline void row_clear_null(uint8_t* row, int k) {
  row_flag_byte(row, k) &= static_cast<uint8_t>(~(1u << row_flag_shift(k)));
}
inline void row_set_indirect(uint8_t* row, int k) {
  row_flag_byte(row, k) |= static_cast<uint8_t>(2u << row_flag_shift(k));
}

inline uint8_t* row_slot(uint8_t* row, const FieldDesc* fields, int k) {
  return row + RowLayout::kHeaderSize + fields[k].offset;
}

// Stores a fixed-width value in host order and clears the NULL bit. Slots
// have no alignment, so values are copied bytewise.
template <typename T>
inline void row_set_value(uint8_t* row, const FieldDesc* fields, int k, T value) {
  std::memcpy(row_slot(row, fields, k), &value, sizeof value);
  row_clear_null(row, k);
}
inline void row_set_i8(uint8_t* row, const FieldDesc* f, int k, int8_t v) { row_set_value(row, f, k, v); }
inline void row_set_i16(uint8_t* row, const FieldDesc* f, int k, int16_t v) { row_set_value(row, f, k, v); }
inline void row_set_i32(uint8_t* row, const FieldDesc* f, int k, int32_t v) { row_set_value(row, f, k, v); }
inline void row_set_i64(uint8_t* row, const FieldDesc* f, int k, int64_t v) { row_set_value(row, f, k, v); }
inline void row_set_f32(uint8_t* row, const FieldDesc* f, int k, float v) { row_set_value(row, f, k, v); }
inline void row_set_f64(uint8_t* row, const FieldDesc* f, int k, double v) { row_set_value(row, f, k, v); }

inline void row_set_ptr(uint8_t* row, const FieldDesc* fields, int k, const uint8_t* p, uint32_t len) {
  uint8_t* slot = row_slot(row, fields, k);
  std::memcpy(slot, &len, sizeof len);
  std::memcpy(slot + RowLayout::kIndirectPtrOffset, &p, sizeof p);
  row_clear_null(row, k);
}

// Null for a NULL field; the stored pointer of an indirect field (len: its
// length); else the slot (len: the slot's width).
const uint8_t* row_field_ptr(const uint8_t* row, const FieldDesc* fields, int k, uint32_t* len);

inline int result_store_row(ResultSet* result, uint8_t* row) {
  if (result->fill_index != result->row_count || result->fill_at == result->fill_end) {
    return result_store_row_at(result, row);
  }
  *result->fill_at++ = row;
  ++result->fill_index;
  ++result->row_count;
  return RC_SUCCESS;
}

inline int result_step(ResultSet* result) {
  if (result->cursor >= result->row_count) {
    result->current_row = nullptr;
    return RC_NO_DATA;
  }
  if (result->step_index != result->cursor || result->step_at == result->step_end) result_step_span(result);
  result->current_row = *result->step_at++;
  ++result->cursor;
  ++result->step_index;
  return RC_SUCCESS;
}

#endif
