// Parameter sets: their tables, the single-value binders and the release of
// their values.
#include "client/params/param_set.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/handles/handle.h"
#include "client/params/array_elements.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/text/heap_text.h"
#include "client/values/type_codes.h"


namespace {

// Rows whose value tables a set holds: one for a single row.
int value_rows(const ParamSet* set) {
  constexpr int kSingleRow = 1;
  return set->batch_rows > 0 ? set->batch_rows : kSingleRow;
}

// Grows one per-slot table from old_n to new_n entries, clearing the new ones.
// The table is left as it was when the memory cannot be had.
template <typename T>
bool grow_table(T*& table, int old_n, int new_n) {
  if (!table) old_n = 0;
  void* grown = std::realloc(table, sizeof(T) * static_cast<size_t>(new_n));
  if (!grown) return false;
  table = static_cast<T*>(grown);
  if (new_n > old_n) std::memset(table + old_n, 0, sizeof(T) * static_cast<size_t>(new_n - old_n));
  return true;
}

// Releases the tables but not what their entries point to.
void release_tables(ParamSet* set) {
  if (set->values) {
    for (int r = 0; r < value_rows(set); ++r) std::free(set->values[r]);
  }
  std::free(set->values);
  std::free(set->names);
  std::free(set->ctypes);
  std::free(set->buf_sizes);
  std::free(set->lengths);
  std::free(set->positions);
  std::free(set->directions);
  set->values = nullptr;
  set->names = nullptr;
  set->ctypes = nullptr;
  set->buf_sizes = nullptr;
  set->lengths = nullptr;
  set->positions = nullptr;
  set->directions = nullptr;
  set->capacity = 0;
  set->count = 0;
}

// The single-row layout of an empty set: one row table and every per-slot
// table of kParamSlotStep cleared entries.
bool lay_out_single_row(ParamSet* set, bool with_names) {
  // An empty set may still hold tables (a set described with no parameters).
  release_tables(set);
  set->batch_rows = 0;
  const size_t n = kParamSlotStep;
  set->values = static_cast<void***>(alloc_zeroed(sizeof(void**)));
  if (set->values) set->values[0] = static_cast<void**>(alloc_zeroed(n * sizeof(void*)));
  set->ctypes = static_cast<uint32_t*>(alloc_zeroed(n * sizeof(uint32_t)));
  set->buf_sizes = static_cast<uint32_t*>(alloc_zeroed(n * sizeof(uint32_t)));
  set->positions = static_cast<uint32_t*>(alloc_zeroed(n * sizeof(uint32_t)));
  set->directions = static_cast<uint32_t*>(alloc_zeroed(n * sizeof(uint32_t)));
  set->lengths = static_cast<int32_t**>(alloc_zeroed(n * sizeof(int32_t*)));
  if (with_names) set->names = static_cast<char**>(alloc_zeroed(n * sizeof(char*)));
  if (!set->values || !set->values[0] || !set->ctypes || !set->buf_sizes || !set->positions ||
      !set->directions || !set->lengths || (with_names && !set->names)) {
    release_tables(set);
    return false;
  }
  set->capacity = kParamSlotStep;
  return true;
}

// The entries the per-slot tables hold now: a described set keeps `count`
// entries until it first grows.
int allocated_slots(const ParamSet* set) { return set->capacity > 0 ? set->capacity : set->count; }

// Adds kParamSlotStep slots to every table; new entries are cleared so that a
// slot never bound reads as unbound. A described set may hold more entries
// than its capacity says: its tables only ever grow from what they hold.
bool grow_slots(ParamSet* set) {
  const int old_n = allocated_slots(set);
  const int new_n = std::max(set->capacity, old_n) + kParamSlotStep;
  if (!set->values) {
    set->values = static_cast<void***>(alloc_zeroed(sizeof(void**) * value_rows(set)));
    if (!set->values) return false;
  }
  for (int r = 0; r < value_rows(set); ++r) {
    if (!grow_table(set->values[r], old_n, new_n)) return false;
  }
  if (!grow_table(set->ctypes, old_n, new_n) || !grow_table(set->buf_sizes, old_n, new_n) ||
      !grow_table(set->positions, old_n, new_n) || !grow_table(set->directions, old_n, new_n) ||
      !grow_table(set->lengths, old_n, new_n)) {
    return false;
  }
  if (set->names && !grow_table(set->names, old_n, new_n)) return false;
  set->capacity = new_n;
  return true;
}

// A described set gets its value, length and direction tables on its first bind.
bool add_described_tables(ParamSet* set) {
  const size_t n = set->count > 0 ? static_cast<size_t>(set->count) : 1;
  if (!set->values) {
    set->values = static_cast<void***>(alloc_zeroed(sizeof(void**)));
    if (!set->values) return false;
    set->values[0] = static_cast<void**>(alloc_zeroed(n * sizeof(void*)));
    if (!set->values[0]) return false;
  }
  if (!set->lengths) set->lengths = static_cast<int32_t**>(alloc_zeroed(n * sizeof(int32_t*)));
  if (!set->directions) set->directions = static_cast<uint32_t*>(alloc_zeroed(n * sizeof(uint32_t)));
  return set->lengths && set->directions;
}

bool is_lob_ctype(int ctype) { return ctype >= CT_LOB && ctype <= CT_CLOB_44; }

// The set's own copies of an input value and its length. The value copy is
// zero-filled, one byte longer than the value (a text copy ends in a zero) and
// never shorter than the widest fixed-width value, so a fixed-width value
// bound with fewer bytes than its type's width goes out with the missing
// bytes zero. Only the L bytes the caller bound are read from its buffer; a
// LOB value is the caller's handle itself.
struct InputCopy {
  void* value;
  int32_t* length;
};

bool make_input_copy(int ctype, const void* value, const int* length, InputCopy* out) {
  const int32_t len = length ? *length : 0;
  const size_t bound = len > 0 ? static_cast<size_t>(len) : 0;
  size_t copy_len = bound;
  if (is_lob_ctype(ctype)) copy_len = sizeof(void*);
  if (!value) copy_len = 0;
  out->value = alloc_zeroed(std::max<size_t>(bound, sizeof(uint64_t)) + 1);
  out->length = static_cast<int32_t*>(alloc_zeroed(sizeof(int32_t)));
  if (!out->value || !out->length) {
    std::free(out->value);
    std::free(out->length);
    return false;
  }
  if (copy_len > 0) std::memcpy(out->value, value, copy_len);
  *out->length = len;
  return true;
}

// Releases a slot's input copies before it is bound again.
void drop_slot_copies(ParamSet* set, int slot) {
  if (!set->directions || set->directions[slot] != PARAM_IN) return;
  if (set->values && set->values[0]) {
    std::free(set->values[0][slot]);
    set->values[0][slot] = nullptr;
  }
  if (set->lengths) {
    std::free(set->lengths[slot]);
    set->lengths[slot] = nullptr;
  }
}

void store_input(ParamSet* set, int slot, int ctype, const InputCopy& copy) {
  drop_slot_copies(set, slot);
  set->ctypes[slot] = static_cast<uint32_t>(ctype);
  set->lengths[slot] = copy.length;
  set->values[0][slot] = copy.value;
  set->directions[slot] = PARAM_IN;
  set->has_copies = 1;
}

void store_caller_slot(ParamSet* set, int slot, int direction, int ctype, void* value, int buf_size,
                       int* length) {
  drop_slot_copies(set, slot);
  set->ctypes[slot] = static_cast<uint32_t>(ctype);
  set->values[0][slot] = value;
  set->buf_sizes[slot] = static_cast<uint32_t>(buf_size);
  set->lengths[slot] = length;
  set->directions[slot] = static_cast<uint32_t>(direction);
}

// The slot a described set holds under name, or kNoSuchSlot.
constexpr int kNoSuchSlot = -1;
int find_described_name(const ParamSet* set, const char* name) {
  if (!set->names) return kNoSuchSlot;
  for (int i = 0; i < set->count; ++i) {
    if (set->names[i] && strcasecmp(set->names[i], name) == 0) return i;
  }
  return kNoSuchSlot;
}

void set_param_error(ParamSet* set, const char* text) { replace_text(&set->error_text, text); }

// Whether the set holds its own copy of an array-bound slot's values.
bool owns_values(const ParamSet* set, int slot) {
  const bool by_name = set->positions && set->positions[slot] == kParamPositionByName;
  return element_rule(static_cast<int>(set->ctypes[slot]), by_name).copied;
}


}  // namespace

bool valid_direction(int direction) {
  return direction == PARAM_IN || direction == PARAM_OUT || direction == PARAM_INOUT ||
         direction == PARAM_RETURN_VALUE;
}

ParamSet* param_bind_target(void** handle, Conn** conn_out) {
  *conn_out = nullptr;
  if (!handle || !*handle) return nullptr;
  const uint32_t type = *static_cast<uint32_t*>(*handle);
  if (type == static_cast<uint32_t>(HandleType::ParamSet)) return static_cast<ParamSet*>(*handle);
  if (type != static_cast<uint32_t>(HandleType::Conn)) return nullptr;
  Conn* conn = static_cast<Conn*>(*handle);
  if (!conn->params) {
    conn->params = static_cast<ParamSet*>(alloc_zeroed(sizeof(ParamSet)));
    if (!conn->params) return nullptr;
    conn->params->handle_type = static_cast<uint32_t>(HandleType::ParamSet);
    conn->params->mode = static_cast<uint32_t>(ParamSetMode::Transient);
  }
  *conn_out = conn;
  return conn->params;
}

void param_bind_fail(Conn* conn, ParamSet* set, const char* text) {
  if (conn) {
    conn_set_error(conn, text);
  } else if (set) {
    set_param_error(set, text);
  }
}

int bind_param_by_name(ParamSet* set, const char* name, int direction, int ctype, void* value,
                       int buf_size, int* /*unused*/, int* length) {
  const bool described = set->mode == static_cast<uint32_t>(ParamSetMode::Described);
  if (!valid_direction(direction)) return RC_DIRECTION_UNSUPPORTED;
  if (set->count == 0 && !lay_out_single_row(set, true)) return RC_NO_MEMORY;
  if (!described && set->count >= set->capacity && !grow_slots(set)) return RC_NO_MEMORY;
  // A set first bound by position has no name table yet.
  if (!set->names) {
    set->names = static_cast<char**>(alloc_zeroed(sizeof(char*) * std::max(allocated_slots(set), 1)));
    if (!set->names) return RC_NO_MEMORY;
  }

  int slot;
  if (described) {
    if (!add_described_tables(set)) return RC_NO_MEMORY;
    slot = find_described_name(set, name);
    if (slot < 0) return RC_ARRAY_NAME_BOUND;
  } else {
    slot = set->count;  // a name bound twice takes two slots
  }

  char* name_copy = nullptr;
  if (!described) {
    name_copy = strdup(name);
    if (!name_copy) return RC_NO_MEMORY;
  }
  if (direction == PARAM_IN) {
    InputCopy copy;
    if (!make_input_copy(ctype, value, length, &copy)) {
      std::free(name_copy);
      return RC_NO_MEMORY;
    }
    store_input(set, slot, ctype, copy);
    set->positions[slot] = kParamPositionByName;
    set->buf_sizes[slot] = static_cast<uint32_t>(buf_size);
  } else {
    store_caller_slot(set, slot, direction, ctype, value, buf_size, length);
  }
  if (!described) {
    set->names[slot] = name_copy;
    set->count = slot + 1;
  }
  return RC_SUCCESS;
}

int bind_param_by_pos(ParamSet* set, int position, int direction, int ctype, void* value,
                      int buf_size, int* length) {
  if (position < 1) return RC_PARAM_SEQUENCE;
  if (set->count == 0 && !lay_out_single_row(set, false)) return RC_NO_MEMORY;
  const bool grows = position > set->count && position > set->capacity;
  if (grows && position > set->capacity + kParamSlotStep) return RC_PARAM_TOO_FAR;
  // Tested before anything changes, so a refused bind leaves the set as it was.
  if (!valid_direction(direction)) return RC_DIRECTION_UNSUPPORTED;
  if (grows && !grow_slots(set)) return RC_NO_MEMORY;
  if (set->mode == static_cast<uint32_t>(ParamSetMode::Described) && !add_described_tables(set)) {
    return RC_NO_MEMORY;
  }

  const int slot = position - 1;
  InputCopy copy{};
  if (direction == PARAM_IN && !make_input_copy(ctype, value, length, &copy)) {
    return RC_NO_MEMORY;
  }
  if (position > set->count) {
    // Skipped positions stay unbound: no value, no length.
    for (int i = set->count; i < slot; ++i) {
      set->values[0][i] = nullptr;
      set->lengths[i] = nullptr;
    }
    set->count = position;
  }
  set->positions[slot] = static_cast<uint32_t>(slot);
  if (direction == PARAM_IN) {
    store_input(set, slot, ctype, copy);
  } else {
    store_caller_slot(set, slot, direction, ctype, value, buf_size, length);
  }
  return RC_SUCCESS;
}

void free_param_copies(ParamSet* set) {
  if (!set) return;
  if (set->batch_rows > 0) return free_array_params(set);
  bool outputs = false;
  for (int i = 0; i < set->count; ++i) {
    // Every slot that is not an input (an unbound one too) keeps the tables
    // and the count for the reader of the output values.
    if (set->directions && set->directions[i] != PARAM_IN) {
      outputs = true;
      continue;
    }
    if (set->has_copies) {
      if (set->values && set->values[0]) {
        std::free(set->values[0][i]);
        set->values[0][i] = nullptr;
      }
      if (set->lengths) {
        std::free(set->lengths[i]);
        set->lengths[i] = nullptr;
      }
      // The slot is unbound again until it is bound anew.
      if (set->directions) set->directions[i] = 0;
    }
    if (set->names) {
      std::free(set->names[i]);
      set->names[i] = nullptr;
    }
  }
  if (!outputs) release_tables(set);
}

void free_params(ParamSet* set) {
  if (!set) return;
  if (set->batch_rows > 0) return free_array_params(set);
  for (int i = 0; i < set->count; ++i) {
    if (set->has_copies && set->directions && set->directions[i] == PARAM_IN) {
      if (set->values && set->values[0]) std::free(set->values[0][i]);
      if (set->lengths) std::free(set->lengths[i]);
    }
    if (set->names) std::free(set->names[i]);
  }
  release_tables(set);
}

void release_param_tables(ParamSet* set) { release_tables(set); }

void release_param_set(ParamSet* set) {
  if (!set) return;
  free_params(set);
  std::free(set->error_text);
  std::free(set);
}

void clear_array_slot(ParamSet* set, int slot) {
  if (set->directions[slot] != PARAM_IN) return;
  if (owns_values(set, slot)) std::free(set->values[0][slot]);
  std::free(set->lengths[slot]);
  set->lengths[slot] = nullptr;
  set->values[0][slot] = nullptr;  // the other rows' pointers are written anew by the next bind
  set->directions[slot] = 0;
}

void free_array_params(ParamSet* set) {
  if (!set) return;
  for (int i = 0; i < set->count; ++i) {
    if (set->directions && set->lengths && set->values && set->values[0]) clear_array_slot(set, i);
    if (set->names) std::free(set->names[i]);
  }
  // Every row table lies in the block that row 0's table starts, so the
  // tables go as those of a single row.
  set->batch_rows = 0;
  release_param_tables(set);
}
