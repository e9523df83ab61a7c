// The '?' command frame and the parameter records of one row of values.
#include "client/requests/command_frame.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/handles/handle.h"
#include "client/lob/lob.h"
#include "client/values/type_codes.h"
#include "link/reply_letters.h"
#include "link/socket_link.h"
#include "link/wire_io.h"

namespace {

// The wire type of the bind-only client type 58; what the server makes of it
// is the server's.
constexpr uint16_t kWireBindOnly = 1008;

// Binary LOBs above this many bytes are joined into one buffer and written in
// one call rather than chunk by chunk.
constexpr int64_t kLobJoinThreshold = 0x1FE00000;

// The value of one slot as send_params reads it.
struct SlotValue {
  const uint8_t* bytes;  // null when there is none
  int64_t readable;      // bytes that may be read through `bytes`
  int32_t length;        // the bound length L
};

// A fixed-width value in host order, read inside what the slot can give;
// missing bytes read as zero.
template <typename T>
T read_fixed(const SlotValue& v) {
  T out{};
  if (v.bytes) std::memcpy(&out, v.bytes, static_cast<size_t>(std::min<int64_t>(sizeof(T), v.readable)));
  return out;
}

// Wire type, the bound length and, when it is positive, the value at its
// type's full width.
template <typename T>
int send_fixed(Conn* conn, uint16_t wire, const SlotValue& v) {
  send_short(&conn->link, wire);
  send_int(&conn->link, static_cast<uint32_t>(v.length));
  if (v.length <= 0) return RC_SUCCESS;
  const T value = read_fixed<T>(v);
  if constexpr (sizeof(T) == 2) {
    send_short(&conn->link, value);
  } else if constexpr (sizeof(T) == 4) {
    send_int(&conn->link, value);
  } else {
    send_long(&conn->link, value);
  }
  return RC_SUCCESS;
}

// Writes the LOB's bytes piece by piece from its chunks (or joined for a large
// binary LOB). -1 when a piece of a binary LOB failed to go out.
int send_lob_bytes(Conn* conn, const LobObject* lob, bool binary) {
  if (binary && lob->lob_size > kLobJoinThreshold) {
    uint8_t* joined = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(lob->lob_size) + 1));
    if (joined) {
      int64_t done = 0;
      for (const LobChunk* c = lob->first_chunk; c && done < lob->lob_size; c = c->chunk_next) {
        const int64_t piece = std::min<int64_t>(lob->lob_size - done, kLobChunkSize);
        std::memcpy(joined + done, c->chunk_data, static_cast<size_t>(piece));
        done += piece;
      }
      send_bytes(&conn->link, joined, static_cast<uint32_t>(lob->lob_size));
      std::free(joined);
      return RC_SUCCESS;
    }
    // Without the memory to join it, the LOB goes out piece by piece: the
    // bytes on the wire are the same.
  }
  int64_t remaining = lob->lob_size;
  for (const LobChunk* c = lob->first_chunk; c && remaining > 0; c = c->chunk_next) {
    const int64_t piece = std::min<int64_t>(remaining, kLobChunkSize);
    const int rc = send_bytes(&conn->link, c->chunk_data, static_cast<uint32_t>(piece));
    if (binary && rc == LINK_SEND_FAILED) {
      std::printf("send param net Error for BLOB");
      return RC_ERROR;
    }
    remaining -= piece;
  }
  return RC_SUCCESS;
}

// Length field and bytes of a LOB slot: the whole value when it is complete,
// else an empty value.
int send_lob_value(Conn* conn, uint32_t ctype, const SlotValue& v) {
  LobObject* lob = nullptr;
  if (v.bytes && v.readable >= static_cast<int64_t>(sizeof lob)) std::memcpy(&lob, v.bytes, sizeof lob);
  if (!lob || lob->handle_type != static_cast<uint32_t>(HandleType::LobObject) ||
      lob->lob_state != static_cast<uint32_t>(LobState::Complete)) {
    send_int(&conn->link, 0);
    return RC_SUCCESS;
  }
  send_int(&conn->link, static_cast<uint32_t>(lob->lob_size));
  const bool binary = ctype == CT_LOB || ctype == CT_BLOB;
  const int rc = send_lob_bytes(conn, lob, binary);
  return binary ? rc : RC_SUCCESS;
}

// Wire type, length field and value of one bound slot by its client type.
int send_slot_value(Conn* conn, uint32_t ctype, SlotValue v) {
  switch (ctype) {
    case 0:  // no value, a null: the value is not read
      send_short(&conn->link, ST_CHAR);
      send_int(&conn->link, 0);
      return RC_SUCCESS;
    case CT_BIND_58:  // bind-only type: the value is not read
      send_short(&conn->link, kWireBindOnly);
      send_int(&conn->link, 0);
      return RC_SUCCESS;
    case CT_INT16:
      return send_fixed<uint16_t>(conn, ST_INT16, v);
    case CT_INT32: {  // the only fixed type whose length field is its width
      SlotValue as_bound = v;
      as_bound.length = v.length > 0 ? 4 : 0;
      return send_fixed<uint32_t>(conn, ST_INT32, as_bound);
    }
    case CT_INT64:
      return send_fixed<uint64_t>(conn, ST_INT64, v);
    case CT_FLOAT:
      return send_fixed<uint32_t>(conn, ST_FLOAT, v);
    case CT_DOUBLE:
      return send_fixed<uint64_t>(conn, ST_DOUBLE, v);
    case CT_DATETIME_MS:  // datetime as milliseconds
      return send_fixed<uint64_t>(conn, ST_DATETIME, v);
    case CT_LOB:
    case CT_CLOB:
    case CT_BLOB:
    case CT_CLOB_43:
    case CT_CLOB_44: {
      const uint16_t wire = ctype == CT_CLOB      ? ST_CLOB
                            : ctype == CT_CLOB_43 ? ST_LOB
                            : ctype == CT_CLOB_44 ? ST_LOB_64
                                                  : ST_BLOB;
      send_short(&conn->link, wire);
      return send_lob_value(conn, ctype, v);
    }
    default:
      break;
  }
  // Everything else travels as the bytes it was bound with.
  uint16_t wire = ST_CHAR;
  if (ctype == CT_INT) wire = ST_BOOLEAN;
  if (ctype == CT_INT8) wire = ST_INT8;
  if (ctype == CT_BINARY) wire = ST_BINARY;
  // Never more bytes than the slot's memory holds.
  const int32_t length = v.length > v.readable ? static_cast<int32_t>(v.readable) : v.length;
  send_short(&conn->link, wire);
  send_int(&conn->link, static_cast<uint32_t>(length));
  if (length > 0) send_bytes(&conn->link, v.bytes, static_cast<uint32_t>(length));
  return RC_SUCCESS;
}

}  // namespace

int send_query(Conn* conn, const char* sql, uint32_t param_count) {
  // Every request starts here. Bytes still waiting now belong to no reply the
  // link expects (but to a FETCH sent ahead): read as this request's, they
  // would put every later reply one behind. The link is closed instead, and
  // the request fails on it.
  if (conn->fetches_ahead == 0 && recv_pending(&conn->link)) close_link(&conn->link);
  const char* text = sql ? sql : "";
  const uint32_t len = static_cast<uint32_t>(std::strlen(text));
  const uint8_t letter = COMMAND_STATEMENT;
  send_bytes(&conn->link, &letter, 1);
  send_int(&conn->link, len);
  send_bytes(&conn->link, text, len + 1);
  send_int(&conn->link, param_count);
  return RC_SUCCESS;
}

int send_query_flush(Conn* conn, const char* sql) {
  send_query(conn, sql, 0);
  send_flush(&conn->link);
  return RC_SUCCESS;
}

int send_params(Conn* conn, ParamSet* set) {
  if (!set || set->batch_rows > 0) return RC_SUCCESS;
  for (int i = 0; i < set->count; ++i) {
    const uint32_t dir = set->directions ? (set->directions[i] & 0xFFFF) : 0;
    if (dir == PARAM_RETURN_VALUE) continue;

    if (set->names) {
      const char* name = set->names[i];
      const size_t n = name ? std::strlen(name) : 0;
      send_short(&conn->link, static_cast<uint16_t>(n));
      if (n > 0) send_bytes(&conn->link, name, static_cast<uint32_t>(n));
    } else {
      send_short(&conn->link, 0);
    }

    if (dir != 1 && dir != 2 && dir != 3) {
      // A slot between 1 and count that was never bound goes out as a null input.
      send_short(&conn->link, static_cast<uint16_t>(PARAM_IN));
      send_slot_value(conn, 0, SlotValue{nullptr, 0, 0});
      continue;
    }
    send_short(&conn->link, static_cast<uint16_t>(dir));

    SlotValue v{};
    v.bytes = set->values && set->values[0] ? static_cast<const uint8_t*>(set->values[0][i]) : nullptr;
    v.length = set->lengths && set->lengths[i] ? *set->lengths[i] : 0;
    if (!v.bytes) {
      v.readable = 0;
    } else if (dir == PARAM_IN) {
      // The set's own copy holds the bound length and never less than a
      // fixed-width value or a LOB handle.
      v.readable = std::max<int64_t>(v.length, sizeof(uint64_t));
    } else {
      // An output slot's buffer is the caller's: no more than its size is read.
      v.readable = set->buf_sizes ? static_cast<int32_t>(set->buf_sizes[i]) : 0;
      if (v.readable < 0) v.readable = 0;
    }
    const uint32_t ctype = set->ctypes ? set->ctypes[i] : 0;
    if (send_slot_value(conn, ctype, v) < 0) return RC_ERROR;
  }
  if (set->mode != static_cast<uint32_t>(ParamSetMode::CallerOwned)) free_param_copies(set);
  return RC_SUCCESS;
}

int ctype_to_wire_type(uint32_t ctype) {
  switch (ctype) {
    case CT_INT:
    case CT_INT8:
      return ST_INT8;
    case CT_INT16:
      return ST_INT16;
    case CT_INT32:
      return ST_INT32;
    case CT_INT64:
      return ST_INT64;
    case CT_FLOAT:
      return ST_FLOAT;
    case CT_DOUBLE:
      return ST_DOUBLE;
    case CT_BINARY:
      return ST_BINARY;
    case CT_DATETIME_MS:
      return ST_DATETIME;
    default:
      return ST_CHAR;
  }
}
