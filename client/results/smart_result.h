// A SELECT walked through a server cursor: the current block of rows and the
// cursor it came from.
#ifndef RIZEZOVA_CLIENT_RESULTS_SMART_RESULT_H
#define RIZEZOVA_CLIENT_RESULTS_SMART_RESULT_H

#include <cstdint>

struct Conn;
struct ResultSet;

struct SmartResult {
  uint32_t handle_type;  // HandleType::SmartResult
  uint8_t cursor_open;   // 1 while the server cursor is open
  ResultSet* block;      // the current block of rows, owned
  char cursor_name[64];  // "STC%d_SMARTCUR"; zero-filled once the cursor is closed
  uint8_t more_rows;     // the last FETCH brought a full block
  // Set by a reader that converts each block whole before it steps on: the
  // FETCH of the next block goes out as soon as a full block has arrived.
  uint8_t read_ahead;
  uint8_t fetch_sent;    // that FETCH is out and its reply not yet read
  // Its reply when it had to be read before the block in hand was used up:
  // the next block (or null) and the reply's code. Owned.
  uint8_t ahead_read;
  int ahead_code;
  ResultSet* ahead_block;
  Conn* conn;            // the connection of the open cursor; not owned
  char* error_text;      // the server's text when closing the cursor failed
  // The next block could not be had: `block` holds the descriptions of the
  // columns and no row, and stepping answers RC_ERROR from then on.
  uint8_t fetch_failed;
  // Its connection closed while the cursor still had rows: past the rows in
  // hand the result is cut short, not complete.
  uint8_t cut_off;
  // The connection the result was read over, while both live: closing it
  // detaches the result (see detach_conn_results). Not owned.
  Conn* read_over;
  SmartResult* prev_of_conn;  // the connection's other live results
  SmartResult* next_of_conn;
};

#endif
