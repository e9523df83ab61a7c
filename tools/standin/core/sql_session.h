// One client connection of the stand-in after its login: commands read from
// the link, SQL run on the connection's own SQLite connection, replies written
// back. Cursors and prepared statements live here, named as the client named
// them, and the connection's auto-commit mode decides when a transaction
// begins.
//
// While the client has sent nothing new, the cursor it fetched from last gets
// its next block ready, as many rows as that FETCH asked for; see work_ahead.
#ifndef RIZEZOVA_STANDIN_SQL_SESSION_H
#define RIZEZOVA_STANDIN_SQL_SESSION_H

#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/link.h"
#include "tools/standin/core/command_reader.h"
#include "tools/standin/core/driver_texts.h"
#include "tools/standin/core/kept_rows.h"
#include "tools/standin/core/reply_writer.h"
#include "tools/standin/core/row_encoder.h"
#include "tools/standin/core/store_check.h"

namespace standin {

struct SessionSettings {
  bool auto_commit = true;      // the login's auto_commit clause
  bool lob_descriptors = false; // the login asked for LOB descriptors
  bool batch_type_bytes = true; // packed batch values carry their wire type
  std::string version_text;     // the answer to "show version"
  int id = 0;                   // the connection's number in log lines
  bool verbose = false;         // log every statement
  FILE* log = nullptr;
};

struct StmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

class SqlSession {
 public:
  // The session writes on link and runs SQL on db; it owns neither.
  SqlSession(Link* link, sqlite3* db, SessionSettings settings);
  ~SqlSession();
  SqlSession(const SqlSession&) = delete;
  SqlSession& operator=(const SqlSession&) = delete;

  // Serves commands until the client leaves (answers an empty text) or breaks
  // the protocol or the link (answers what happened).
  std::string serve();

 private:
  struct Cursor {
    Stmt stmt;
    std::unique_ptr<RowEncoder> rows;  // the fields, fixed when declared
    bool open = false;
    bool has_row = false;  // stepped onto a row not sent yet
    bool done = false;
    std::string failure;   // set when a value could not be sent: the answer to every later FETCH
  };
  using Values = std::vector<ParamRecord>;

  void answer(const std::string& text, const Values& values);
  void run_sql(const std::string& text, const Values& values);
  // Runs a statement to its end and writes its answer; false, with the
  // error written, when it failed.
  bool run_statement(sqlite3_stmt* stmt);
  bool step_statement(sqlite3_stmt* stmt);
  void run_batch(const std::string& text, uint32_t count, uint32_t rows, bool* broken);

  void declare_cursor(const DriverText& t, const Values& values);
  void close_cursor(const DriverText& t);
  void fetch(const DriverText& t);
  // What taking a cursor's next row came to.
  enum class Step { kRow, kEnd, kDbError, kMisfit, kTooLong };
  // Steps the cursor onto its next row, unless it stands on one not sent yet,
  // and writes that row to `to` in at most `limit` bytes. kEnd when there is
  // none; kDbError or kMisfit, with *error set, when stepping failed or a
  // value does not fit (the cursor then ends); kTooLong when the row is
  // longer than limit (the cursor stays on it).
  Step next_row(Cursor& c, ReplyWriter& to, size_t limit, std::string* error);
  // Steps and encodes rows of the cursor fetched last into kept_ until as many
  // are kept as its last FETCH asked for, the cursor ends, or a command waits.
  void work_ahead();
  // Whether the client has sent something not yet read (or gone away).
  bool command_waiting() const;
  void prepare(const DriverText& t);
  void execute_prepared(const DriverText& t, const Values& values);
  void send_lob(const DriverText& t);
  void answer_value(const char* column, const std::string& value);
  // COMMIT or ROLLBACK of the open transaction, if there is one.
  bool end_transaction(const char* verb);

  // The first statement of a text into *stmt (null when the text holds only
  // blanks or comments) and where the next one starts into *tail. False,
  // with the error written, when SQLite refuses it.
  bool prepare_one(const char* sql, size_t n, Stmt* stmt, const char** tail);
  // Binds a row of values: by name where a value has one, else in order from
  // *next_positional. False, with the error written, when SQLite refuses one.
  bool bind_values(sqlite3_stmt* stmt, const Values& values, size_t* next_positional);
  bool begin_if_needed(sqlite3_stmt* stmt);
  // What writing statements run in, so that they can be undone on their own:
  // a savepoint inside an open transaction, else a transaction that holds
  // the write lock from its start.
  enum class StoreScope { kSavepoint, kTransaction };
  // Opens the scope and has the store check watch the rows written in it;
  // false, with the error written, when that failed.
  bool begin_store(StoreScope* scope);
  // Ends the scope: keeps its writes when keep, else (or when keeping them
  // failed, with *error set) undoes them. Whether they were kept.
  bool end_store(StoreScope scope, bool keep, std::string* error);
  bool exec(const char* sql);
  // Runs one of the fixed statement texts that open and end a scope, kept
  // prepared; false, with SQLite's error standing, when it failed.
  bool step_fixed(const char* sql);
  void write_error(const std::string& text);
  // Writes the error of a statement text that holds a zero byte; false when it holds none.
  bool refuse_zero_byte(const std::string& text);
  // Answers `error` in place of the rows written since the mark `start`.
  void refuse_rows(const std::string& error, size_t start);
  // The connection's last SQLite failure as "[ES<code>]<message><where>".
  std::string db_error(const char* where = "") const;
  void write_db_error(const char* where = "") { write_error(db_error(where)); }
  void write_changes(sqlite3_stmt* stmt, int64_t changes);
  LobStore* lobs() { return settings_.lob_descriptors ? &lob_store_ : nullptr; }

  // SQLite's progress handler: non-zero, which interrupts the statement, once
  // the client's end of the link has closed.
  static int stop_if_client_gone(void* self);

  Link* link_;
  sqlite3* db_;
  SessionSettings settings_;
  ReplyWriter out_;
  std::map<std::string, Cursor> cursors_;
  // The cursor whose rows kept_ holds or will hold, and how many rows its
  // last FETCH asked for; null when no cursor is worked ahead.
  Cursor* ahead_ = nullptr;
  int64_t ahead_rows_ = 0;
  KeptRows kept_;
  std::map<std::string, Stmt> prepared_;
  std::map<std::string, Stmt> fixed_;  // see step_fixed
  LobStore lob_store_;
  StoreCheck store_check_;
  bool client_gone_ = false;
};

}  // namespace standin

#endif
