// The records of one received result of a reply (a result set, a count or a
// row id) and of the descriptions of its fields.
#ifndef RIZEZOVA_CLIENT_RESULTS_RESULT_SET_H
#define RIZEZOVA_CLIENT_RESULTS_RESULT_SET_H

#include <cstdint>

struct Conn;
struct MemPool;

struct FieldDesc {
  // The three parts of the name "table.column%alias" in one heap buffer that
  // begins at table when there is one, else at column.
  char* table;    // null when the name has no '.'
  char* column;
  char* alias;    // null when the name has no '%'
  uint32_t server_type;
  uint32_t ctype;   // map_server_type of server_type
  uint32_t length;  // as the server sends it
  uint32_t attr;    // a third attribute; nothing reads it
  uint32_t offset;  // of the field's slot, counted from the end of the row header
};

constexpr int32_t kMaxFields = 4000;
// Rows that each FETCH of a server cursor asks for, and the blocks in which
// the results reader reads the rows of a result set.
constexpr int kRowBlock = 20000;

struct ResultSet {
  uint32_t handle_type;  // HandleType::ResultSet
  int32_t field_count;
  FieldDesc* fields;
  int32_t row_size;      // bytes of one stored row
  uint32_t cursor;       // index of the row result_next_row makes current next
  int64_t capacity;      // rows the block table holds at present
  void** blocks;         // the block table: entry 0 the block counter, 1.. row blocks
  int64_t row_count;
  uint8_t* current_row;
  // Where stepping through the rows stands in the block table: the entry of
  // row step_index, and the end of the row block that holds it.
  uint8_t** step_at;
  uint8_t** step_end;
  int64_t step_index;
  // The same for storing: the entry that row fill_index goes to.
  uint8_t** fill_at;
  uint8_t** fill_end;
  int64_t fill_index;
  char* error_text;      // texts that came between rows, joined; or EC080
  // The server's error text when one came among the rows: the rows before it
  // are all there are, and stepping past them answers a failure. Owned.
  char* failure_text;
  // The connection the rows were read over (a result of rows only), while
  // both live: closing it detaches the result (see detach_conn_results).
  Conn* conn;
  ResultSet* next;       // the next result of the same reply
  MemPool* pool;         // memory of the rows; made by the first row read
  int32_t kind;          // SqlKind: 4 rows, 2 update count, 3 delete count, 1 row id
  int32_t affected;
  char row_id[32];
  uint8_t lob_descriptors;  // LOB values came as descriptors, to be fetched over conn
  ResultSet* prev_of_conn;  // the connection's other live results
  ResultSet* next_of_conn;
};

#endif
