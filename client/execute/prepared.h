// Statements prepared on the server under a name and executed by that name.
// Each connection has one default statement of the library's naming; others
// are named into a caller's buffer. Statement and cursor names share the
// connection's counter with the server cursors ("STC%d").
#ifndef RIZEZOVA_CLIENT_EXECUTE_PREPARED_H
#define RIZEZOVA_CLIENT_EXECUTE_PREPARED_H

#include "client/handles/conn.h"

// Sends "PREPARE name AS sql" and reads its reply: the field descriptions of an
// 'A' item become the connection's prepare_desc, the parameter description of a
// '$' item its current parameter set (a described one), and a reply ending in
// 'K' marks the default statement pending. 19665 when the statement returns
// rows, RC_SUCCESS when it does not, RC_ERROR when the server refused it (its
// text in the connection's error text), RC_READ_FAILED when the link failed,
// RC_NO_MEMORY when memory ran out.
int prepare_statement(Conn* conn, const char* sql, const char* name);
// Sends "DEALLOCATE name " and reads its reply; the default statement is no
// longer pending afterwards. RC_SUCCESS, RC_ERROR (the server's text in the
// connection's error text), RC_READ_FAILED, or RC_ERROR with a text when the
// name is too long for its command.
int deallocate_prepared(Conn* conn, const char* name);
// Deallocates the default statement when one is pending, as a connection
// closes.
void release_pending_prepare(Conn* conn);

#endif
