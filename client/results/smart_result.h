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
  Conn* conn;            // the connection of the open cursor; not owned
  char* error_text;      // the server's text when closing the cursor failed
};

#endif
