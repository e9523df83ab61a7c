// Binding every row of one parameter at once, for a batch.
#include "client/params/param_array.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/params/array_elements.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"

namespace {

constexpr size_t kBindTextSize = 80;

// A failure text of one or two numbers, formatted as the binders' texts are.
void fail_text(Conn* conn, ParamSet* set, const char* fmt, int a, int b = 0) {
  char text[kBindTextSize] = {};
  std::snprintf(text, sizeof text, fmt, a, b);
  param_bind_fail(conn, set, text);
}

int refuse_ctype(Conn* conn, ParamSet* set, int ctype) {
  std::printf("bindparam unsurpported datatype\n");
  fail_text(conn, set, "[EC058]Error bindparam unsurpported datatype %d invalid", ctype);
  return RC_ARRAY_CTYPE;
}

// A declared count or a slot that the set cannot hold. The text names the
// position and the declared count on a connection, the position on a set.
int refuse_range(Conn* conn, ParamSet* set, int position, int declared) {
  if (conn) {
    fail_text(conn, set, "[EC051]Error invalid param NO : %d out of range paramnum : %d ", position, declared);
  } else {
    fail_text(conn, set, "[EC051]Error invalid param NO %d out of range paramnum", position);
  }
  return RC_PARAM_POSITION;
}

int refuse_rows(Conn* conn, ParamSet* set, int rows) {
  const int held = set->batch_rows > 0 ? set->batch_rows : 1;
  fail_text(conn, set, "[EC062]Error bindparam array rows %d do not match the %d rows bound", rows, held);
  return RC_ERROR;
}

int refuse_row(Conn* conn, ParamSet* set, int row) {
  fail_text(conn, set, "[EC063]Error bindparam array value of row %d does not fit its buffer", row + 1);
  return RC_ERROR;
}

// Entries of the per-slot tables.
int table_slots(const ParamSet* set) { return std::max(set->capacity, set->count); }

template <typename T>
bool grow_to(T*& table, int old_n, int new_n) {
  if (new_n <= old_n && table) return true;
  void* grown = std::realloc(table, sizeof(T) * static_cast<size_t>(std::max(new_n, 1)));
  if (!grown) return false;
  table = static_cast<T*>(grown);
  const int from = std::min(old_n, new_n);
  std::memset(table + from, 0, sizeof(T) * static_cast<size_t>(std::max(new_n, 1) - from));
  return true;
}

template <typename T>
T* new_table(int n) {
  return static_cast<T*>(alloc_zeroed(sizeof(T) * static_cast<size_t>(std::max(n, 1))));
}

// Lays an unlaid set out for `declared` slots and `rows` rows. A set that
// the server described keeps its descriptions, in tables of at least its
// described count; any other starts empty.
bool lay_out_array(ParamSet* set, int declared, int rows, bool with_names) {
  const bool described = set->mode == static_cast<uint32_t>(ParamSetMode::Described);
  int n = declared;
  if (described) {
    n = std::max(declared, set->count);
    const int had = set->count;
    if (!grow_to(set->names, had, n) || !grow_to(set->positions, had, n) || !grow_to(set->ctypes, had, n) ||
        !grow_to(set->buf_sizes, had, n)) {
      return false;
    }
  } else {
    // An empty set may still hold the tables of a description without parameters.
    free_params(set);
    set->ctypes = new_table<uint32_t>(n);
    set->buf_sizes = new_table<uint32_t>(n);
    set->positions = new_table<uint32_t>(n);
    if (with_names) set->names = new_table<char*>(n);
    if (!set->ctypes || !set->buf_sizes || !set->positions || (with_names && !set->names)) return false;
  }
  set->directions = new_table<uint32_t>(n);
  set->lengths = new_table<int32_t*>(n);
  set->values = new_table<void**>(rows);
  if (!set->directions || !set->lengths || !set->values) return false;
  set->batch_rows = rows;  // from here on free_array_params releases what there is
  // The row tables lie in one block, so that the rows cost no allocation each.
  auto* cells = static_cast<void**>(alloc_zeroed(sizeof(void*) * static_cast<size_t>(rows) * static_cast<size_t>(n)));
  if (!cells) return false;
  for (int r = 0; r < rows; ++r) set->values[r] = cells + static_cast<size_t>(r) * static_cast<size_t>(n);
  set->capacity = declared;
  return true;
}

// What one array bind hands over, checked before anything of the set changes.
struct ArrayInput {
  int ctype;
  int rows;
  const uint8_t* values;
  int buf_size;
  const int* lengths;
  ElementRule rule;
  int64_t copy_size;
};

// Checks the client type, the row count and every element: 0, or the
// refusal's code with its text.
int check_input(Conn* conn, ParamSet* set, ArrayInput* in, bool by_name) {
  in->rule = element_rule(in->ctype, by_name);
  if (in->rule.kind == Element::Refused) return refuse_ctype(conn, set, in->ctype);
  const bool laid_out = set->values != nullptr;
  if (in->rows < 1 || (laid_out && in->rows != std::max(set->batch_rows, 1))) return refuse_rows(conn, set, in->rows);
  int bad_row = 0;
  in->copy_size = walk_elements(in->rule, in->rows, in->values, in->buf_size, in->lengths, &bad_row,
                                [](int, int64_t) {});
  if (in->copy_size < 0) return refuse_row(conn, set, bad_row);
  return RC_SUCCESS;
}

// Stores the checked input into a slot of a set laid out for its rows.
int store_array(ParamSet* set, int slot, const ArrayInput& in, uint32_t position) {
  auto* lengths = static_cast<int32_t*>(alloc_zeroed(sizeof(int32_t) * static_cast<size_t>(in.rows)));
  uint8_t* base = const_cast<uint8_t*>(in.values);
  uint8_t* copy = nullptr;
  if (in.rule.copied) {
    copy = static_cast<uint8_t*>(alloc_zeroed(static_cast<size_t>(in.copy_size) + 1));
    if (copy) std::memcpy(copy, in.values, static_cast<size_t>(in.copy_size));
    base = copy;
  }
  if (!lengths || !base) {
    std::free(lengths);
    std::free(copy);
    return RC_NO_MEMORY;
  }
  std::memcpy(lengths, in.lengths, sizeof(int32_t) * static_cast<size_t>(in.rows));
  clear_array_slot(set, slot);
  int bad_row = 0;
  walk_elements(in.rule, in.rows, in.values, in.buf_size, in.lengths, &bad_row,
                [&](int r, int64_t offset) { set->values[r][slot] = base + offset; });
  set->lengths[slot] = lengths;
  set->ctypes[slot] = static_cast<uint32_t>(in.ctype);
  set->buf_sizes[slot] = static_cast<uint32_t>(in.buf_size);
  set->positions[slot] = position;
  set->directions[slot] = PARAM_IN;
  set->count = std::max(set->count, slot + 1);
  return RC_SUCCESS;
}

// Where the element of a single row starts sending: behind its prefix, if it has one.
void* single_row_value(const ArrayInput& in) {
  const bool prefixed = in.rule.kind == Element::Prefixed || in.rule.kind == Element::PrefixThenLength;
  const uint8_t* start = in.values;
  if (prefixed) start += sizeof(uint32_t);
  return const_cast<uint8_t*>(start);
}

// The slot a name takes in a set that the server did not describe: the first
// free one, or -53 when the name is there already.
int free_name_slot(const ParamSet* set, const char* name, int limit) {
  int slot = 0;
  for (; slot < limit && set->names[slot]; ++slot) {
    if (strcasecmp(set->names[slot], name) == 0) return RC_ARRAY_NAME_BOUND;
  }
  return slot;
}

int find_name(const ParamSet* set, const char* name) {
  for (int i = 0; i < set->count; ++i) {
    if (set->names[i] && strcasecmp(set->names[i], name) == 0) return i;
  }
  return RC_ARRAY_NAME_BOUND;
}

}  // namespace

int refuse_single_into_array(Conn* conn, ParamSet* set) { return refuse_rows(conn, set, 1); }

int bind_array_by_pos(Conn* conn, ParamSet* set, int position, int declared, int direction, int ctype, int rows,
                      void* values, int buf_size, int* lengths) {
  if (direction == PARAM_RETURN_VALUE) return RC_SUCCESS;
  if (direction != PARAM_IN) return RC_DIRECTION_UNSUPPORTED;
  if (!values || !lengths) return RC_INVALID_HANDLE;
  if (declared < 0 || declared > kMaxParamPosition) return refuse_range(conn, set, position, declared);
  ArrayInput in{ctype, rows, static_cast<const uint8_t*>(values), buf_size, lengths, {}, 0};
  const int rc = check_input(conn, set, &in, false);
  if (rc != RC_SUCCESS) return rc;

  const bool laid_out = set->values != nullptr;
  if ((laid_out && set->batch_rows == 0) || (!laid_out && declared == 0)) {
    // A declared count of 0 makes a set of one row, bound as a single value.
    if (!laid_out && rows != 1) return refuse_range(conn, set, position, declared);
    int length = lengths[0];
    const int single = bind_param_by_pos(set, position, direction, ctype, single_row_value(in), buf_size, &length);
    if (single == RC_PARAM_TOO_FAR) fail_text(conn, set, "[EC055]Error bindparam jump long %d invalid", single);
    return single;
  }
  if (position > (laid_out ? set->capacity : declared)) return refuse_range(conn, set, position, declared);
  if (!laid_out && !lay_out_array(set, declared, rows, false)) {
    free_array_params(set);
    return RC_NO_MEMORY;
  }
  return store_array(set, position - 1, in, static_cast<uint32_t>(position));
}

int bind_array_by_name(Conn* conn, ParamSet* set, const char* name, int declared, int direction, int ctype,
                       int rows, void* values, int buf_size, int* lengths) {
  if (direction != PARAM_IN) return RC_SUCCESS;
  if (!values || !lengths) return RC_INVALID_HANDLE;
  if (declared < 0 || declared > kMaxParamPosition) return refuse_range(conn, set, set->count + 1, declared);
  ArrayInput in{ctype, rows, static_cast<const uint8_t*>(values), buf_size, lengths, {}, 0};
  int rc = check_input(conn, set, &in, true);
  if (rc != RC_SUCCESS) return rc;

  const bool described = set->mode == static_cast<uint32_t>(ParamSetMode::Described);
  const bool laid_out = set->values != nullptr;
  if ((laid_out && set->batch_rows == 0) || (!laid_out && declared == 0)) {
    if (!laid_out && rows != 1) return refuse_range(conn, set, set->count + 1, declared);
    if (!described && set->names && set->count > 0 && find_name(set, name) >= 0) return RC_ARRAY_NAME_BOUND;
    int length = lengths[0];
    return bind_param_by_name(set, name, direction, ctype, single_row_value(in), buf_size, nullptr, &length);
  }

  const int slots = laid_out ? set->capacity : declared;
  int slot;
  if (described) {
    slot = find_name(set, name);
    if (slot < 0) return slot;
    if (slot >= slots) {
      std::printf("params bind num %d beyanged given num %d \n", slot + 1, slots);
      return refuse_range(conn, set, slot + 1, declared);
    }
  } else {
    if (laid_out && !set->names) {
      // A set bound by position so far gets its name table now.
      set->names = new_table<char*>(table_slots(set));
      if (!set->names) return RC_NO_MEMORY;
    }
    slot = laid_out ? free_name_slot(set, name, std::min(slots, kMaxArrayNames)) : 0;
    if (slot < 0) return slot;
    if (slot >= std::min(slots, kMaxArrayNames)) return refuse_range(conn, set, slot + 1, declared);
  }

  char* name_copy = nullptr;
  if (!described) {
    name_copy = strdup(name);
    if (!name_copy) return RC_NO_MEMORY;
  }
  if (!laid_out && !lay_out_array(set, declared, rows, true)) {
    std::free(name_copy);
    free_array_params(set);
    return RC_NO_MEMORY;
  }
  rc = store_array(set, slot, in, kParamPositionByName);
  if (rc != RC_SUCCESS) {
    std::free(name_copy);
    return rc;
  }
  if (!described) set->names[slot] = name_copy;
  return RC_SUCCESS;
}

int VMC_BindParamArray(VMC_Handle* handle, int position, int declared, int direction, int ctype, int rows,
                       void* values, int buf_size, int* lengths) {
  Conn* conn;
  ParamSet* set = param_bind_target(handle, &conn);
  if (!set) return RC_INVALID_HANDLE;
  if (conn && (position > kMaxParamPosition || declared > kMaxParamPosition || declared < -1)) {
    return refuse_range(conn, set, position, declared);
  }
  if (!conn && position > kMaxParamPosition) return refuse_range(conn, set, position, declared);
  if (!valid_direction(direction)) {
    fail_text(conn, set, "[EC052]Error invalid param type %d", direction);
    return RC_PARAM_DIRECTION;
  }
  if (position < 1) {
    fail_text(conn, set, "[EC054]Error param_no  param seq %d invalid", position);
    return RC_PARAM_SEQUENCE;
  }
  return bind_array_by_pos(conn, set, position, declared, direction, ctype, rows, values, buf_size, lengths);
}

int VMC_BindParamArrayByName(VMC_Handle* handle, const char* name, int declared, int direction, int ctype, int rows,
                             void* values, int buf_size, int* lengths) {
  if (!name) return RC_INVALID_HANDLE;
  Conn* conn;
  ParamSet* set = param_bind_target(handle, &conn);
  if (!set) return RC_INVALID_HANDLE;
  if (!valid_direction(direction)) {
    fail_text(conn, set, "[EC052]Error invalid param type %d", direction);
    return RC_PARAM_DIRECTION;
  }
  return bind_array_by_name(conn, set, name, declared, direction, ctype, rows, values, buf_size, lengths);
}
