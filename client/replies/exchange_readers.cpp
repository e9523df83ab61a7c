// The readers of the replies to statements run without a server cursor.
#include "client/replies/exchange_readers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"
#include "client/params/param_set.h"
#include "client/replies/first_value.h"
#include "client/replies/output_value.h"
#include "client/replies/reply_items.h"
#include "client/replies/results_reader.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/values/value_text.h"
#include "client/vmc.h"
#include "link/wire_io.h"

namespace {

// Rows of a result set are read this many at a time by these readers.
constexpr int kRowBatch = 200;
// The one-byte command that a reader sends after a full first batch.
constexpr uint8_t kContinueRows = '.';

constexpr const char* kOutputUnbound = "[EC0056]when execute sql with output params or return value need bind_params";
constexpr const char* kReturnUnbound =
    "[EC060]Error params-return value need bind, here params without bindparams inout type is return value \n";
constexpr const char* kOutUnbound =
    "[EC060]Error params-out type need bind, here params without bindparams inout type is out or inout \n";

int net_error(const char* reader) {
  std::printf("Net Error %s \n", reader);
  return RC_READ_FAILED;
}

// A count or row id that broke off: "Update" or "Insert".
int prop_error(Conn* conn, const char* what) {
  std::printf("%s Prop NetError  \n", what);
  char text[80] = {};
  std::snprintf(text, sizeof text, "[EC004]%s Prop NetError", what);
  conn_set_error(conn, text);
  return RC_READ_FAILED;
}

// An 'E', 'F', 'M' or 'W' item: its text becomes the connection's error text
// and sets the status (RC_ERROR for an error, RC_SUCCESS_WITH_INFO for a
// message or warning). Messages and warnings are always printed, errors when
// print_errors is set. RC_SUCCESS, or the failure of reading the text.
int exchange_text(Conn* conn, uint8_t letter, bool print_errors, int* status) {
  const char* text = nullptr;
  const int rc = take_server_text(conn, &text);
  if (rc != RC_SUCCESS) return rc;
  if (is_error_letter(letter)) {
    if (print_errors) std::printf("Server Error %s \n", text);
    *status = RC_ERROR;
  } else {
    std::printf(letter == 'W' ? "Server Warning %s \n" : "Server Message %s \n", text);
    *status = RC_SUCCESS_WITH_INFO;
  }
  return RC_SUCCESS;
}

// The integers before the value of an 'O' item (type, length) or a 'P' item
// (slot index, type, length).
struct OutHead {
  uint32_t index = 0;
  uint32_t type = 0;
  uint32_t length = 0;
};

bool recv_out_head(Conn* conn, uint8_t letter, OutHead* head) {
  return (letter != 'P' || recv_int(&conn->link, &head->index)) && recv_int(&conn->link, &head->type) &&
         recv_int(&conn->link, &head->length);
}

// Reads the rest of an 'O' or 'P' item and drops it: RC_SUCCESS, or RC_READ_FAILED.
int skip_out_item(Conn* conn, uint8_t letter) {
  OutHead head;
  return recv_out_head(conn, letter, &head) && skip_bytes(conn, head.length) ? RC_SUCCESS : RC_READ_FAILED;
}

// The value bytes of an 'O' or 'P' item in a new buffer of at least 8 bytes,
// zero past the value, so that a fixed-width reading never passes its end.
int recv_out_bytes(Conn* conn, uint32_t length, uint8_t** out) {
  *out = nullptr;
  // Sized in signed 32-bit terms like every text the link hands out.
  if (length >= static_cast<uint32_t>(INT32_MAX)) return RC_NO_MEMORY;
  auto* raw = static_cast<uint8_t*>(alloc_zeroed(std::max<size_t>(length, sizeof(uint64_t))));
  if (!raw) return RC_NO_MEMORY;
  if (!recv_bytes(&conn->link, raw, length)) {
    std::free(raw);
    return RC_READ_FAILED;
  }
  *out = raw;
  return RC_SUCCESS;
}

// The field descriptions and rows of an 'A' item, the rows 200 at a time.
// When the first batch is full and the reply does not end behind it, '.' is
// sent once and batches are read while they come full. *next receives the
// letter after the rows. Answers the rows of the last batch, or a failure.
int recv_result_batched(Conn* conn, ResultSet* result, uint8_t* next) {
  *next = 0;
  // Rows cannot be followed without their descriptions.
  if (recv_field_descs(conn, result) != RC_SUCCESS) return RC_READ_FAILED;
  int status = 0;
  int rows = recv_rows(conn, result, kRowBatch, &status);
  if (status < 0) return status;
  if (rows == kRowBatch) {
    if (!recv_char(&conn->link, next)) return RC_READ_FAILED;
    if (*next == 'K') return rows;
    conn->link.pushback_letter = *next;
    send_bytes(&conn->link, &kContinueRows, 1);
    send_flush(&conn->link);
    do {
      rows = recv_rows(conn, result, kRowBatch, &status);
      if (status < 0) return status;
    } while (rows == kRowBatch);
  }
  if (!recv_char(&conn->link, next)) return RC_READ_FAILED;
  return rows;
}

// The value of a result set whose reply ended right behind it.
void take_first_value(ResultSet* result, char* out, int* out_type, bool heap_allowed) {
  if (result->row_count == 0) {
    *out_type = 0;
    std::memset(out, 0, 4);
    return;
  }
  if (result->field_count < 1) return;
  *out_type = static_cast<int>(result->fields[0].server_type);
  int on_heap = 0;
  first_column_text(result, out, &on_heap);
  if (on_heap != 1) return;
  if (heap_allowed) {
    *out_type += kQueryValueOnHeap;
  } else {
    char* copy = nullptr;
    std::memcpy(&copy, out + sizeof(uint32_t), sizeof copy);
    std::free(copy);
  }
}

void set_index_error(Conn* conn, uint32_t index, int32_t count) {
  char text[120] = {};
  std::snprintf(text, sizeof text, "[EC060]Error params-out index %u out of range, here params bound %d \n", index,
                count);
  conn_set_error(conn, text);
}

void set_date_length_error(Conn* conn, uint32_t length) {
  char text[120] = {};
  std::snprintf(text, sizeof text, "[EC061]Error output value of date or time type needs 4 bytes, here %u \n",
                length);
  conn_set_error(conn, text);
}

}  // namespace

int recv_noQuery(Conn* conn) {
  int status = 0;
  int inserts = 0;
  for (;;) {
    uint8_t letter = 0;
    if (!recv_char(&conn->link, &letter)) return net_error("recv_noQuery");
    switch (letter) {
      case 'K':
        return status;
      case 'D':
      case 'U': {
        uint32_t count = 0;
        if (!recv_int(&conn->link, &count)) return prop_error(conn, "Update");
        status = static_cast<int32_t>(count);
        const Next next = read_next(conn);
        if (next == Next::Failed) return net_error("recv_noQuery");
        if (next == Next::End) return status;
        break;
      }
      case 'I': {
        char row_id[32];
        if (!recv_row_id(conn, row_id)) return prop_error(conn, "Insert");
        std::memcpy(conn->row_id, row_id, sizeof row_id);
        ++inserts;
        const Next next = read_next(conn);
        if (next == Next::Failed) return net_error("recv_noQuery");
        if (next == Next::End) return inserts;
        break;
      }
      case 'E':
      case 'F':
      case 'M':
      case 'W': {
        const int rc = exchange_text(conn, letter, false, &status);
        if (rc != RC_SUCCESS) return rc;
        break;
      }
      case 'O':
      case 'P': {
        // Output values with nothing bound to take them: read and dropped.
        const int rc = skip_out_item(conn, letter);
        if (rc != RC_SUCCESS) return rc;
        conn_set_error(conn, kOutputUnbound);
        status = RC_OUTPUT_UNBOUND;
        break;
      }
      default:
        return status;
    }
  }
}

int recv_query_value(Conn* conn, void* out_arg, int* out_type_arg) {
  // A caller without room for the value still gets the reply read.
  char scratch[kQueryValueSize] = {};
  int scratch_type = 0;
  char* out = out_arg ? static_cast<char*>(out_arg) : scratch;
  int* out_type = out_type_arg ? out_type_arg : &scratch_type;

  ResultSet* result = nullptr;
  auto finish = [&result](int code) {
    free_result(result);
    return code;
  };
  int status = 0;
  for (;;) {
    uint8_t letter = 0;
    if (!recv_char(&conn->link, &letter)) return finish(RC_READ_FAILED);
    if (is_text_letter(letter)) {
      const int rc = exchange_text(conn, letter, true, &status);
      if (rc != RC_SUCCESS) return finish(rc);
      continue;
    }
    switch (letter) {
      case 'K':
        return finish(status);
      case 'D':
      case 'U': {
        uint32_t count = 0;
        if (!recv_int(&conn->link, &count)) return finish(RC_READ_FAILED);
        std::memcpy(out, &count, sizeof count);
        status = letter == 'D' ? SQL_KIND_DELETE : SQL_KIND_UPDATE;
        const Next next = read_next(conn);
        if (next == Next::Failed) return finish(RC_READ_FAILED);
        if (next == Next::End) return finish(status);
        break;
      }
      case 'I': {
        char row_id[32];
        if (!recv_row_id(conn, row_id)) return finish(RC_READ_FAILED);
        std::memcpy(out, row_id, sizeof row_id);
        const Next next = read_next(conn);
        if (next == Next::Failed) return finish(RC_READ_FAILED);
        if (next == Next::End) return finish(SQL_KIND_INSERT);
        break;
      }
      case 'A': {
        // A later result set takes the place of an earlier one.
        free_result(result);
        result = new_result(SQL_KIND_SELECT);
        if (!result) return finish(RC_NO_MEMORY);
        result->conn = conn;
        uint8_t after = 0;
        const int rc = recv_result_batched(conn, result, &after);
        if (rc < 0) return finish(rc);
        status = RC_SUCCESS;
        const Next next = classify_next(conn, after);
        if (next == Next::End) {
          take_first_value(result, out, out_type, out_arg != nullptr);
          return finish(RC_SUCCESS);
        }
        break;
      }
      case 'O':
      case 'P': {
        // Output values are not taken here: the item is read whole and
        // dropped, so the rest of the reply stays in step.
        const int rc = skip_out_item(conn, letter);
        if (rc != RC_SUCCESS) return finish(rc);
        status = RC_SUCCESS;
        break;
      }
      default:
        return finish(RC_SUCCESS);
    }
  }
}

int recv_noQuery_OP(Conn* conn, ResultSet** out) {
  ParamSet* set = conn->params;
  const bool has_slots = set && set->count > 0;
  int status = 0;
  for (;;) {
    uint8_t letter = 0;
    if (!recv_char(&conn->link, &letter)) return net_error("recv_noQuery_OP");
    if (is_text_letter(letter)) {
      const int rc = exchange_text(conn, letter, false, &status);
      if (rc != RC_SUCCESS) return rc;
      continue;
    }
    switch (letter) {
      case 'K':
        return status;
      case 'A': {
        ResultSet* result = new_result(SQL_KIND_SELECT);
        if (!result) return RC_NO_MEMORY;
        result->conn = conn;
        uint8_t after = 0;
        const int rc = recv_result_batched(conn, result, &after);
        if (rc < 0) {
          free_result(result);
          return rc;
        }
        status = rc;
        const Next next = classify_next(conn, after);
        if (next == Next::End && out) {
          *out = result;
          return status;
        }
        // Only a result set that ends the reply is handed out.
        free_result(result);
        if (next == Next::End) return status;
        break;
      }
      case 'O':
      case 'P': {
        OutHead head;
        if (!recv_out_head(conn, letter, &head)) return RC_READ_FAILED;
        const uint32_t index = head.index;
        const uint32_t type = head.type;
        const uint32_t length = head.length;
        // The return value goes to the last slot; an output parameter to the
        // slot it names, which must lie within the set.
        int slot = -1;
        uint32_t accepted = 0;
        if (letter == 'O') {
          slot = has_slots ? set->count - 1 : -1;
          accepted = direction_bit(PARAM_RETURN_VALUE);
        } else if (has_slots && index < static_cast<uint32_t>(set->count)) {
          slot = static_cast<int>(index);
          accepted = direction_bit(PARAM_OUT) | direction_bit(PARAM_INOUT);
        }
        if (slot < 0 || !out_slot_accepts(set, slot, accepted)) {
          if (!skip_bytes(conn, length)) return RC_READ_FAILED;
          if (!has_slots) {
            conn_set_error(conn, letter == 'O' ? kReturnUnbound : kOutUnbound);
            status = RC_PARAMS_NO_VALUES;
          } else if (slot < 0) {
            set_index_error(conn, index, set->count);
            status = RC_PARAMS_NO_VALUES;
          }
          break;  // a slot of another direction does not take the value
        }
        if (letter == 'P' && length == 0) {
          if (set->lengths && set->lengths[slot]) *set->lengths[slot] = 0;
          break;
        }
        uint8_t* raw = nullptr;
        const int rc = recv_out_bytes(conn, length, &raw);
        if (rc != RC_SUCCESS) return rc;
        char work[kOutValueTextSize];
        OutValue value{};
        const uint32_t ctype = set->ctypes ? set->ctypes[slot] : 0;
        if (convert_out_value(type, raw, length, ctype, work, &value) != RC_SUCCESS) {
          set_date_length_error(conn, length);
          status = RC_NO_CONVERSION;
        } else if (store_out_value(set, slot, value) != RC_SUCCESS) {
          status = RC_TRUNCATED;
        }
        std::free(raw);
        break;
      }
      default:
        return status;
    }
  }
}

int recv_param_descs(Conn* conn, ParamSet* set) {
  if (!set) return RC_INVALID_HANDLE;
  free_params(set);
  uint32_t n = 0;
  if (!recv_int(&conn->link, &n)) return RC_READ_FAILED;
  if (n > static_cast<uint32_t>(INT32_MAX)) return RC_NO_MEMORY;
  // The tables grow as descriptions arrive, so a count the server does not
  // follow with descriptions costs no memory.
  uint32_t room = 0;
  auto grow = [set, &room](uint32_t want) {
    const size_t entries = want;
    auto* names = static_cast<char**>(std::realloc(set->names, entries * sizeof(char*)));
    if (names) set->names = names;
    auto* positions = static_cast<uint32_t*>(std::realloc(set->positions, entries * sizeof(uint32_t)));
    if (positions) set->positions = positions;
    auto* ctypes = static_cast<uint32_t*>(std::realloc(set->ctypes, entries * sizeof(uint32_t)));
    if (ctypes) set->ctypes = ctypes;
    auto* sizes = static_cast<uint32_t*>(std::realloc(set->buf_sizes, entries * sizeof(uint32_t)));
    if (sizes) set->buf_sizes = sizes;
    if (!names || !positions || !ctypes || !sizes) return false;
    for (uint32_t k = room; k < want; ++k) {
      set->names[k] = nullptr;
      set->positions[k] = set->ctypes[k] = set->buf_sizes[k] = 0;
    }
    room = want;
    return true;
  };
  if (!grow(std::min<uint32_t>(std::max<uint32_t>(n, 1), kParamSlotStep))) return RC_NO_MEMORY;
  for (uint32_t i = 0; i < n; ++i) {
    if (i == room && !grow(static_cast<uint32_t>(std::min<uint64_t>(n, uint64_t{room} * 2)))) return RC_NO_MEMORY;
    char* name = nullptr;
    const int rc = recv_text(conn, &name);
    if (rc != RC_SUCCESS) return rc;
    set->names[i] = name;
    set->count = static_cast<int32_t>(i + 1);
    if (!recv_int(&conn->link, &set->positions[i]) || !recv_int(&conn->link, &set->ctypes[i]) ||
        !recv_int(&conn->link, &set->buf_sizes[i])) {
      return RC_READ_FAILED;
    }
  }
  return RC_SUCCESS;
}
