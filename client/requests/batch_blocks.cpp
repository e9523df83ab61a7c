// The values of a batch: row 0 as parameter records, the later rows packed in blocks.
#include "client/requests/batch_blocks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "client/params/param_array.h"
#include "client/requests/command_frame.h"
#include "client/values/type_codes.h"
#include "link/wire_io.h"

namespace {

// The protocol level whose packed values carry no type byte.
constexpr char kUntypedVersion[] = "201";

// How a slot's value follows its length field.
enum class ValueForm : uint8_t {
  None,              // an unbound slot: a null, length 0
  Fixed16,           // the value at its type's full width, whatever the length says
  Fixed32,
  Fixed64,
  Bytes,             // L bytes as they lie
  BytesAfterPrefix,  // the L bytes behind the element's u32 prefix
};

// What every row of one slot is sent as; worked out once per slot.
struct SlotPlan {
  ValueForm form;
  uint16_t wire;        // wire type of the row-0 record and of the type byte
  bool length_is_four;  // packed rows give 4 as the length of a 32-bit value
  int32_t* lengths;     // the slot's row lengths
};

SlotPlan plan_slot(const ParamSet* set, int slot) {
  SlotPlan plan{ValueForm::None, ST_CHAR, false, nullptr};
  if (!set->directions || set->directions[slot] != PARAM_IN || !set->lengths ||
      !set->lengths[slot]) {
    return plan;
  }
  const uint32_t ctype = set->ctypes[slot];
  switch (ctype) {
    case CT_INT16:
      plan.form = ValueForm::Fixed16;
      break;
    case CT_INT32:
    case CT_FLOAT:
      plan.form = ValueForm::Fixed32;
      plan.length_is_four = true;
      break;
    case CT_INT64:
    case CT_DOUBLE:
    case CT_DATETIME_MS:
      plan.form = ValueForm::Fixed64;
      break;
    case CT_TEXT:
    case CT_BIND_62:
    case CT_BINARY:
      plan.form = ValueForm::BytesAfterPrefix;
      break;
    case CT_INT:
    case CT_INT8:
    case CT_NUMERIC:
    case CT_DATE:
    case CT_TIME:
    case CT_DATETIME:
    case CT_BYTE:
      plan.form = ValueForm::Bytes;
      break;
    default:
      return plan;  // the binders refuse every other type
  }
  plan.wire = static_cast<uint16_t>(ctype_to_wire_type(ctype));
  plan.lengths = set->lengths[slot];
  return plan;
}

// One row's value of a slot.
struct RowValue {
  int32_t length;        // L
  const uint8_t* bytes;  // the value's bytes (behind the prefix, if any)
  uint32_t prefix;       // the element's own length prefix, for values that have one
};

RowValue row_value(const ParamSet* set, const SlotPlan& plan, int slot, int row) {
  RowValue v{0, nullptr, 0};
  if (plan.form == ValueForm::None) return v;
  v.length = plan.lengths[row];
  v.bytes = static_cast<const uint8_t*>(set->values[row][slot]);
  if (plan.form == ValueForm::BytesAfterPrefix) {
    std::memcpy(&v.prefix, v.bytes, sizeof v.prefix);
    v.bytes += sizeof v.prefix;
  }
  return v;
}

// Bytes a value takes behind its type byte and length field.
int64_t value_bytes(ValueForm form, int32_t length) {
  constexpr int64_t kNoBytes = 0;
  if (length <= 0) return kNoBytes;
  switch (form) {
    case ValueForm::Fixed16: return sizeof(uint16_t);
    case ValueForm::Fixed32: return sizeof(uint32_t);
    case ValueForm::Fixed64: return sizeof(uint64_t);
    case ValueForm::None: return kNoBytes;
    default: return length;
  }
}

template <typename T>
T load(const uint8_t* at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

// The row-0 record of a slot, written to the link.
void send_record(Conn* conn, const ParamSet* set, int slot, const SlotPlan& plan) {
  const char* name = set->names ? set->names[slot] : nullptr;
  const size_t n = name ? std::strlen(name) : 0;
  send_short(&conn->link, static_cast<uint16_t>(n));
  if (n > 0) send_bytes(&conn->link, name, static_cast<uint32_t>(n));
  send_short(&conn->link, static_cast<uint16_t>(PARAM_IN));
  send_short(&conn->link, plan.wire);
  const RowValue v = row_value(set, plan, slot, 0);
  send_int(&conn->link, static_cast<uint32_t>(v.length));
  if (v.length <= 0) return;
  switch (plan.form) {
    case ValueForm::Fixed16: send_short(&conn->link, load<uint16_t>(v.bytes)); break;
    case ValueForm::Fixed32: send_int(&conn->link, load<uint32_t>(v.bytes)); break;
    case ValueForm::Fixed64: send_long(&conn->link, load<uint64_t>(v.bytes)); break;
    case ValueForm::Bytes:
    case ValueForm::BytesAfterPrefix: send_bytes(&conn->link, v.bytes, static_cast<uint32_t>(v.length)); break;
    case ValueForm::None: break;
  }
}

// The block being packed. `room` is the capacity the block rules count with
// (it grows when a row needs more); the memory behind it is had in full before
// anything is queued (see batch_memory).
class BlockPacker {
 public:
  explicit BlockPacker(Conn* conn) : conn_(conn) {}
  ~BlockPacker() { std::free(buf_); }
  BlockPacker(const BlockPacker&) = delete;
  BlockPacker& operator=(const BlockPacker&) = delete;

  bool start(int64_t bytes) {
    buf_ = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes)));
    return buf_ != nullptr;
  }

  int64_t fill() const { return fill_; }
  int64_t room() const { return room_; }
  int64_t mark() const { return mark_; }
  void grow_room(int64_t by) { room_ += by; }
  void end_row() { mark_ = fill_; }

  // Sends the first n bytes as one block and empties the buffer.
  void send_block(int64_t n) {
    send_int(&conn_->link, static_cast<uint32_t>(n));
    send_bytes(&conn_->link, buf_, static_cast<uint32_t>(n));
    fill_ = 0;
    mark_ = 0;
  }

  void put_byte(uint8_t b) { buf_[fill_++] = b; }
  void put_value(const SlotPlan& plan, const RowValue& v) {
    uint32_t pos = static_cast<uint32_t>(fill_);
    const uint32_t length = plan.length_is_four ? 4 : static_cast<uint32_t>(v.length);
    buf_put_int(buf_, &pos, length);
    switch (plan.form) {
      case ValueForm::Fixed16: buf_put_short(buf_, &pos, load<uint16_t>(v.bytes)); break;
      case ValueForm::Fixed32: buf_put_int(buf_, &pos, load<uint32_t>(v.bytes)); break;
      case ValueForm::Fixed64: buf_put_long(buf_, &pos, load<uint64_t>(v.bytes)); break;
      case ValueForm::Bytes:
      case ValueForm::BytesAfterPrefix: buf_put_bytes(buf_, &pos, v.bytes, v.length); break;
      case ValueForm::None: break;
    }
    fill_ = pos;
  }
  void put_empty() {
    uint32_t pos = static_cast<uint32_t>(fill_);
    fill_ = buf_put_int(buf_, &pos, 0);
  }

 private:
  Conn* conn_;
  uint8_t* buf_ = nullptr;
  int64_t fill_ = 0;                 // F
  int64_t room_ = kBatchBlockSize;   // C
  int64_t mark_ = 0;                 // M: the end of the last complete row
};

enum class Packed { Done, Restart };

// Makes room for `need` more bytes under the block rules: the complete rows
// go out and the row starts again in the emptied buffer, or, when the buffer
// holds no complete row, the room grows by `grow`.
Packed make_room(BlockPacker& pk, int64_t need, int64_t grow) {
  if (pk.fill() + need <= pk.room()) return Packed::Done;
  if (pk.mark() > 0) {
    pk.send_block(pk.mark());
    return Packed::Restart;
  }
  pk.grow_room(grow);
  return Packed::Done;
}

// Packs one row; Restart when complete rows went out first and the row has
// to be packed again from its first slot.
Packed pack_row(BlockPacker& pk, const ParamSet* set, const SlotPlan* plans, int row, bool type_byte) {
  for (int slot = 0; slot < set->count; ++slot) {
    const SlotPlan& plan = plans[slot];
    const RowValue v = row_value(set, plan, slot, row);
    // A fixed-width value shorter than its length says still takes its full
    // width; the room counts whichever is more.
    const int64_t need = std::max<int64_t>(v.length, value_bytes(plan.form, v.length)) + 5;
    if (make_room(pk, need, need) == Packed::Restart) return Packed::Restart;
    if (type_byte) pk.put_byte(static_cast<uint8_t>(plan.wire & 0xFF));
    if (v.length == 0 || plan.form == ValueForm::None) {
      pk.put_empty();
      continue;
    }
    // A value with its own length prefix is also given the room that prefix
    // asks for; the memory for what is written is there already.
    if (plan.form == ValueForm::BytesAfterPrefix && make_room(pk, v.prefix, v.prefix) == Packed::Restart) {
      return Packed::Restart;
    }
    pk.put_value(plan, v);
  }
  return Packed::Done;
}

// The most the block buffer ever holds: a row starts with at most
// kBatchBlockSize bytes in it (a finished row beyond that goes out at once),
// and a row that has to start again starts in the emptied buffer. -1 when
// that cannot be counted in a block's 32-bit length.
int64_t batch_memory(const ParamSet* set, const SlotPlan* plans) {
  int64_t largest = 0;
  for (int row = 1; row < set->batch_rows; ++row) {
    int64_t bytes = 0;
    for (int slot = 0; slot < set->count; ++slot) {
      const RowValue v = row_value(set, plans[slot], slot, row);
      // The type byte, the length and the value.
      bytes += 1 + sizeof(uint32_t) + (v.length > 0 ? value_bytes(plans[slot].form, v.length) : 0);
    }
    largest = std::max(largest, bytes);
  }
  const int64_t total = kBatchBlockSize + largest;
  return total > INT32_MAX ? -1 : total;
}

}  // namespace

int send_batch(Conn* conn, const char* sql, ParamSet* set) {
  const int slots = std::max(set->count, 0);
  auto* plans = static_cast<SlotPlan*>(std::malloc(sizeof(SlotPlan) * static_cast<size_t>(std::max(slots, 1))));
  if (!plans) return RC_NO_MEMORY;
  for (int slot = 0; slot < slots; ++slot) plans[slot] = plan_slot(set, slot);
  // Whatever memory the packing needs is had now: a request that broke off
  // for want of it would leave the server waiting for the rest.
  const int64_t bytes = batch_memory(set, plans);
  BlockPacker pk(conn);
  if (bytes < 0 || !pk.start(bytes)) {
    std::free(plans);
    return RC_NO_MEMORY;
  }

  const bool type_byte = std::strcmp(conn->version, kUntypedVersion) != 0;
  send_query(conn, sql, static_cast<uint32_t>(slots) | (static_cast<uint32_t>(set->batch_rows) << 16));
  for (int slot = 0; slot < slots; ++slot) send_record(conn, set, slot, plans[slot]);
  for (int row = 1; slots > 0 && row < set->batch_rows; ++row) {
    if (pack_row(pk, set, plans, row, type_byte) == Packed::Restart) pack_row(pk, set, plans, row, type_byte);
    if (pk.fill() > pk.room() - kBatchBlockSlack || pk.fill() > kBatchBlockSize) pk.send_block(pk.fill());
    pk.end_row();
  }
  if (pk.mark() > 0) pk.send_block(pk.fill());
  std::free(plans);
  free_array_params(set);
  return RC_SUCCESS;
}
