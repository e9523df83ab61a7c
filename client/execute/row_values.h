// The bound values that a single-row execution can send. A set bound by rows
// goes only with a batch: as one row it would send no records while its frame
// announced them, and the server would wait for them for ever.
#ifndef RIZEZOVA_CLIENT_EXECUTE_ROW_VALUES_H
#define RIZEZOVA_CLIENT_EXECUTE_ROW_VALUES_H

struct Conn;

// RC_SUCCESS when the connection's current set (if any) can go as one row.
// For a set bound by rows: RC_ERROR with the EC062 text on the connection,
// nothing sent, and the set taken as an execution takes its values (a set
// the connection made is released, a caller's own set detached intact).
int refuse_rows_in_single_row(Conn* conn);

#endif
