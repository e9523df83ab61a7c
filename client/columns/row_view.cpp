// The stored values of the current row as they lie, for the Node module.
#include <cstring>

#include "client/columns/convert.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/results/row_store.h"
#include "client/values/type_codes.h"
#include "client/values/value_text.h"
#include "client/vmc_internal.h"

namespace {

void general(vmc_cell* cells, int from, int to) {
  for (int k = from; k < to; ++k) cells[k].form = VMC_CELL_GENERAL;
}

// One non-NULL value by its server type.
void fill_cell(const uint8_t* row, const FieldDesc* fields, int k, vmc_cell* cell) {
  const uint8_t* slot = row + RowLayout::kHeaderSize + fields[k].offset;
  switch (fields[k].server_type) {
    case ST_INT8:
      *cell = {VMC_CELL_INT8, 0, {load_value<int8_t>(slot)}};
      return;
    case ST_INT16:
      *cell = {VMC_CELL_INT16, 0, {load_value<int16_t>(slot)}};
      return;
    case ST_INT32:
      *cell = {VMC_CELL_INT32, 0, {load_value<int32_t>(slot)}};
      return;
    case ST_INT64:
      *cell = {VMC_CELL_INT64, 0, {load_value<int64_t>(slot)}};
      return;
    case ST_DATE:
      *cell = {VMC_CELL_DATE, 0, {load_value<int32_t>(slot)}};
      return;
    case ST_DATETIME:
      *cell = {VMC_CELL_DATETIME, 0, {load_value<int64_t>(slot)}};
      return;
    case ST_FLOAT:
      cell->form = VMC_CELL_FLOAT;
      cell->v.f = load_value<float>(slot);
      return;
    case ST_DOUBLE:
      cell->form = VMC_CELL_DOUBLE;
      cell->v.f = load_value<double>(slot);
      return;
    default:
      break;
  }
  const uint32_t type = fields[k].server_type;
  const bool chars = is_raw_text_type(type);
  if (!row_is_indirect(row, k) || (!chars && !text_is_value_bytes(type))) {
    cell->form = VMC_CELL_GENERAL;
    return;
  }
  cell->form = chars ? VMC_CELL_CHARS : VMC_CELL_DIGITS;
  std::memcpy(&cell->length, slot, sizeof cell->length);
  std::memcpy(&cell->v.bytes, slot + RowLayout::kIndirectPtrOffset, sizeof cell->v.bytes);
}

}  // namespace

extern "C" int vmc_row_cells(VMC_Handle* handle, vmc_cell* cells, int count) {
  if (!cells) return RC_INVALID_HANDLE;
  ResultSet** result = result_of_handle(handle);
  if (!result) {
    // A server-cursor result whose FETCH was refused has no block left: no
    // cell may keep a value read from the block it had.
    general(cells, 0, count);
    return RC_INVALID_HANDLE;
  }
  const ResultSet* rs = *result;
  const int served = count < rs->field_count ? count : rs->field_count;
  general(cells, served > 0 ? served : 0, count);
  const uint8_t* row = rs->current_row;
  if (!row) {
    general(cells, 0, served);
    return RC_NO_ROW_OR_NULL;
  }
  for (int k = 0; k < served; ++k) {
    if (row_is_null(row, k)) {
      cells[k].form = VMC_CELL_GENERAL;
    } else {
      fill_cell(row, rs->fields, k, &cells[k]);
    }
  }
  return RC_SUCCESS;
}

extern "C" int vmc_result_lobs(VMC_Handle* handle, VMC_Handle* conn) {
  ResultSet** result = result_of_handle(handle);
  if (conn) *conn = result ? (*result)->conn : nullptr;
  return result && (*result)->lob_descriptors ? 1 : 0;
}
