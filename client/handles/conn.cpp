// The connection record's error text.
#include "client/handles/conn.h"

#include "client/text/heap_text.h"

void conn_set_error(Conn* conn, const char* text) { replace_text(&conn->error_text, text); }
