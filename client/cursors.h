// The mark a connection keeps for the caller-named cursor whose rows ran out
// in a FETCH INTO: that cursor is fetched from no more and not closed again,
// while every other cursor of the connection fetches and closes as usual.
#ifndef RIZEZOVA_CLIENT_CURSORS_H
#define RIZEZOVA_CLIENT_CURSORS_H

struct Conn;

// Marks the cursor as run out, in place of any earlier mark. A name too long
// to keep is not marked.
void mark_cursor_exhausted(Conn* conn, const char* cursor);
// Whether the cursor (its name compared without case) carries the mark.
bool cursor_is_exhausted(const Conn* conn, const char* cursor);
// A cursor declared anew starts with rows to fetch: drops the mark when it
// names this cursor; a null name drops any mark.
void clear_cursor_exhausted(Conn* conn, const char* cursor);

#endif
