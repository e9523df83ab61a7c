// Server cursors: opening them, fetching their blocks and closing them, and
// the mark a connection keeps for the caller-named cursor whose rows ran out
// in a FETCH INTO: that cursor is fetched from no more and not closed again,
// while every other cursor of the connection fetches and closes as usual.
#ifndef RIZEZOVA_CLIENT_EXECUTE_CURSORS_H
#define RIZEZOVA_CLIENT_EXECUTE_CURSORS_H

struct Conn;
struct ResultSet;
struct SmartResult;

// Sends "OPEN cursor ;" and reads its short reply; a refusal's text replaces
// the connection's error text. The caller holds the lock.
int open_cursor(Conn* conn, const char* cursor);
// One FETCH of a block of kRowBlock rows; the caller holds the lock. The
// reply's status, with the block in *block: null when the FETCH failed (a
// reply that failed is no block, whatever it carried).
int fetch_block(Conn* conn, const char* cursor, ResultSet** block);
// Closes a cursor whose FETCH came back without rows to show, or with rows
// that ended at a server error, keeping the server's explanation (not the
// close's) in the connection's error text; how the close went is not told.
void close_after_failed_fetch(Conn* conn, const char* cursor);
// Whether a block leaves the cursor rows to fetch: only a full block whose
// rows did not end at a server error.
bool block_leaves_rows(const ResultSet* block);
// A failed cursor exchange's code as the caller answers it: a failed link
// and memory keep theirs, a refusal is RC_ERROR.
int fetch_failure(int code);
// Reads the reply of the FETCH that the result sent ahead, if one is out,
// and keeps it for the step that needs it: nothing of the result is left on
// the link. Takes the lock.
void settle_fetch(SmartResult* smart);

// Marks the cursor as run out, in place of any earlier mark. A name too long
// to keep is not marked.
void mark_cursor_exhausted(Conn* conn, const char* cursor);
// Whether the cursor (its name compared without case) carries the mark.
bool cursor_is_exhausted(const Conn* conn, const char* cursor);
// A cursor declared anew starts with rows to fetch: drops the mark when it
// names this cursor; a null name drops any mark.
void clear_cursor_exhausted(Conn* conn, const char* cursor);

#endif
