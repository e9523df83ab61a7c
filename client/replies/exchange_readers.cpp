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
#include "client/replies/reply_reader.h"
#include "client/replies/results_reader.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/vmc.h"
#include "link/wire_io.h"

namespace {

constexpr const char* kOutputUnbound = "[EC0056]when execute sql with output params or return value need bind_params";
constexpr const char* kReturnUnbound =
    "[EC060]Error params-return value need bind, here params without bindparams inout type is return value \n";
constexpr const char* kOutUnbound =
    "[EC060]Error params-out type need bind, here params without bindparams inout type is out or inout \n";

// An 'E', 'F', 'M' or 'W' item met by these readers. Messages and warnings are
// always printed, errors when print_errors is set. Answers the status it
// sets: RC_ERROR for an error, RC_SUCCESS_WITH_INFO for a message or warning.
int exchange_text(uint8_t letter, const char* text, bool print_errors) {
  if (is_error_letter(letter)) {
    if (print_errors) std::printf("Server Error %s \n", text);
    return RC_ERROR;
  }
  std::printf(letter == REPLY_WARNING ? "Server Warning %s \n" : "Server Message %s \n", text);
  return RC_SUCCESS_WITH_INFO;
}

// A letter that could not be read is told on the console with the reader's name.
void letter_failure(const char* reader, Failed what) {
  if (what == Failed::Letter) std::printf("Net Error %s \n", reader);
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

// The value of a result set whose reply ended right behind it; *heap_copy is
// set when out holds a heap copy.
void take_first_value(ResultSet* result, char* out, int* out_type, bool heap_allowed, int* heap_copy) {
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
    *heap_copy = 1;
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

// A reply without a result set: counts and row ids count, result sets and
// output values are read and dropped.
class NoQueryReader : public ReplyPolicy {
 public:
  using ReplyPolicy::ReplyPolicy;

  // The number of row ids when the reply ended right behind one.
  int end(uint8_t last) override { return last == REPLY_INSERTED ? inserts_ : status_; }
  Step text(uint8_t letter, const char* text) override {
    status_ = exchange_text(letter, text, false);
    return Step::next();
  }
  Step count(uint8_t /*letter*/, uint32_t count) override {
    status_ = static_cast<int32_t>(count);
    return Step::next();
  }
  Step row_id(const char (&row_id)[32]) override {
    std::memcpy(conn_->row_id, row_id, sizeof row_id);
    if (inserts_ < INT32_MAX) ++inserts_;
    return Step::next();
  }
  // Output values with nothing bound to take them.
  Step out_value(uint8_t /*letter*/, const OutHead& head) override {
    const Step step = drop_value(head);
    if (step.kind == Step::Next) {
      conn_set_error(conn_, kOutputUnbound);
      status_ = RC_OUTPUT_UNBOUND;
    }
    return step;
  }
  // A count or row id that broke off is told with its own line and text.
  void failed(Failed what) override {
    if (what != Failed::Count && what != Failed::RowId) return letter_failure("recv_noQuery", what);
    const char* item = what == Failed::Count ? "Update" : "Insert";
    std::printf("%s Prop NetError  \n", item);
    char text[80] = {};
    std::snprintf(text, sizeof text, "[EC004]%s Prop NetError", item);
    conn_set_error(conn_, text);
  }

 private:
  int inserts_ = 0;
};

// A reply whose first value is wanted; with `kept`, a reply that carries
// result sets hands them all out instead.
class QueryValueReader : public ReplyPolicy {
 public:
  QueryValueReader(Conn* conn, char* out, int* out_type, bool heap_allowed, int* on_heap,
                   ResultSet** kept, int* out_kind)
      : ReplyPolicy(conn),
        out_(out),
        out_type_(out_type),
        heap_allowed_(heap_allowed),
        on_heap_(on_heap),
        kept_(kept),
        out_kind_(out_kind) {}
  ~QueryValueReader() override {
    free_result(result_);
    free_result_chain(first_);
  }

  int end(uint8_t last) override {
    if (kept_) {
      keep_result();
      *kept_ = first_;
      first_ = nullptr;
    }
    if (last == REPLY_INSERTED) return SQL_KIND_INSERT;
    // The value of a result set is taken when the reply ends right behind it.
    if (last == REPLY_RESULT_SET && !kept_) {
      take_first_value(result_, out_, out_type_, heap_allowed_, on_heap_);
      *out_kind_ = SQL_KIND_SELECT;
    }
    return status_;
  }
  Step text(uint8_t letter, const char* text) override {
    status_ = exchange_text(letter, text, true);
    return Step::next();
  }
  Step count(uint8_t letter, uint32_t count) override {
    std::memcpy(out_, &count, sizeof count);
    status_ = letter == REPLY_DELETED ? SQL_KIND_DELETE : SQL_KIND_UPDATE;
    *out_kind_ = status_;
    return Step::next();
  }
  Step row_id(const char (&row_id)[32]) override {
    std::memcpy(out_, row_id, sizeof row_id);
    *out_kind_ = SQL_KIND_INSERT;
    return Step::next();
  }
  // Output values are not taken here: the item is read whole and dropped.
  Step out_value(uint8_t /*letter*/, const OutHead& head) override {
    status_ = RC_SUCCESS;
    return drop_value(head);
  }
  Step result_set() override {
    // A later result set takes the place of an earlier one, unless all are kept.
    if (kept_) keep_result();
    free_result(result_);
    status_ = RC_SUCCESS;
    return recv_new_result(conn_, RowsIn::Batches, &result_);
  }

 private:
  // The result set read last joins the end of the ones kept.
  void keep_result() {
    if (!result_) return;
    (last_ ? last_->next : first_) = result_;
    last_ = result_;
    result_ = nullptr;
  }

  char* out_;
  int* out_type_;
  bool heap_allowed_;
  int* on_heap_;
  ResultSet** kept_;
  // What out holds: the kind of the item that wrote it last, 0 while none
  // did. The status cannot tell, as a message or warning answers as an 'I'.
  int* out_kind_;
  ResultSet* result_ = nullptr;
  ResultSet* first_ = nullptr;  // the result sets kept, in their order
  ResultSet* last_ = nullptr;
};

// A reply to a statement with output parameters or a return value.
class OutputReader : public ReplyPolicy {
 public:
  OutputReader(Conn* conn, ResultSet** out)
      : ReplyPolicy(conn), out_(out), set_(conn->params), has_slots_(set_ && set_->count > 0) {}
  ~OutputReader() override { free_result(result_); }

  // Only a result set that the reply ends right behind is handed out.
  int end(uint8_t last) override {
    if (last == REPLY_RESULT_SET && out_) {
      *out_ = result_;
      result_ = nullptr;
    }
    return status_;
  }
  Step text(uint8_t letter, const char* text) override {
    status_ = exchange_text(letter, text, false);
    return Step::next();
  }
  Step result_set() override {
    free_result(result_);
    const Step step = recv_new_result(conn_, RowsIn::Batches, &result_);
    if (step.kind != Step::Fail) status_ = step.code;
    return step;
  }
  Step out_value(uint8_t letter, const OutHead& head) override;
  void failed(Failed what) override { letter_failure("recv_noQuery_OP", what); }

 private:
  ResultSet** out_;
  ParamSet* set_;
  bool has_slots_;
  ResultSet* result_ = nullptr;
};

Step OutputReader::out_value(uint8_t letter, const OutHead& head) {
  // The return value goes to the last slot; an output parameter to the slot
  // it names, which must lie within the set.
  int slot = -1;
  uint32_t accepted = 0;
  if (letter == REPLY_RETURN_VALUE) {
    slot = has_slots_ ? set_->count - 1 : -1;
    accepted = direction_bit(PARAM_RETURN_VALUE);
  } else if (has_slots_ && head.index < static_cast<uint32_t>(set_->count)) {
    slot = static_cast<int>(head.index);
    accepted = direction_bit(PARAM_OUT) | direction_bit(PARAM_INOUT);
  }
  if (slot < 0 || !out_slot_accepts(set_, slot, accepted)) {
    const Step step = drop_value(head);
    if (step.kind != Step::Next) return step;
    if (!has_slots_) {
      conn_set_error(conn_, letter == REPLY_RETURN_VALUE ? kReturnUnbound : kOutUnbound);
      status_ = RC_PARAMS_NO_VALUES;
    } else if (slot < 0) {
      set_index_error(conn_, head.index, set_->count);
      status_ = RC_PARAMS_NO_VALUES;
    }
    return step;  // a slot of another direction does not take the value
  }
  if (letter == REPLY_OUT_PARAM && head.length == 0) {
    if (set_->lengths && set_->lengths[slot]) *set_->lengths[slot] = 0;
    return Step::next();
  }
  uint8_t* raw = nullptr;
  const int rc = recv_out_bytes(conn_, head.length, &raw);
  if (rc != RC_SUCCESS) return Step::fail();
  char work[kOutValueTextSize];
  OutValue value{};
  const uint32_t ctype = set_->ctypes ? set_->ctypes[slot] : 0;
  if (convert_out_value(head.type, raw, head.length, ctype, work, &value) != RC_SUCCESS) {
    set_date_length_error(conn_, head.length);
    status_ = RC_NO_CONVERSION;
  } else if (store_out_value(set_, slot, value) != RC_SUCCESS) {
    status_ = RC_TRUNCATED;
  }
  std::free(raw);
  return Step::next();
}

}  // namespace

int recv_noQuery(Conn* conn) {
  NoQueryReader reader(conn);
  return read_reply(reader);
}

int recv_query_value(Conn* conn, void* out, int* out_type, int* on_heap, ResultSet** kept, int* out_kind) {
  // A caller without room for the value still gets the reply read.
  char scratch[kQueryValueSize] = {};
  int scratch_type = 0;
  int scratch_heap = 0;
  int scratch_kind = 0;
  if (!on_heap) on_heap = &scratch_heap;
  *on_heap = 0;
  if (kept) *kept = nullptr;
  if (!out_kind) out_kind = &scratch_kind;
  *out_kind = 0;
  QueryValueReader reader(conn, out ? static_cast<char*>(out) : scratch, out_type ? out_type : &scratch_type,
                          out != nullptr, on_heap, kept, out_kind);
  return read_reply(reader);
}

int recv_noQuery_OP(Conn* conn, ResultSet** out) {
  OutputReader reader(conn, out);
  return read_reply(reader);
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
