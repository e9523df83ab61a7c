#include "tools/standin/core/sql_session.h"

#include <poll.h>

#include <cctype>
#include <cstring>

#include "client/vmc.h"
#include "tools/standin/core/column_types.h"

namespace standin {

namespace {

constexpr uint16_t kWireBindOnly = 1008;
// The largest piece of a LOB value in one "get lob" reply item.
constexpr size_t kLobPiece = 1u << 20;
// Statement texts in log lines are cut to this many characters.
constexpr int kLogTextMax = 200;
// SQLite instructions between two looks at whether the client is still there.
constexpr int kStepsBetweenLooks = 1000000;

// The first keyword of a statement, upper case, past blanks and comments.
std::string first_keyword(const char* sql) {
  const char* p = sql ? sql : "";
  for (;;) {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (p[0] == '-' && p[1] == '-') {
      while (*p && *p != '\n') ++p;
    } else if (p[0] == '/' && p[1] == '*') {
      const char* end = std::strstr(p + 2, "*/");
      p = end ? end + 2 : p + std::strlen(p);
    } else {
      break;
    }
  }
  std::string word;
  while (std::isalpha(static_cast<unsigned char>(*p))) word += static_cast<char>(std::toupper(static_cast<unsigned char>(*p++)));
  return word;
}

// Statements that write rows of tables, whose values are checked as they are stored.
bool writes_rows(sqlite3_stmt* stmt) {
  if (sqlite3_stmt_readonly(stmt)) return false;
  const std::string keyword = first_keyword(sqlite3_sql(stmt));
  return keyword == "INSERT" || keyword == "REPLACE" || keyword == "UPDATE" || keyword == "DELETE" ||
         keyword == "WITH";
}

bool is_transaction_control(const std::string& keyword) {
  return keyword == "BEGIN" || keyword == "COMMIT" || keyword == "END" || keyword == "ROLLBACK" ||
         keyword == "SAVEPOINT" || keyword == "RELEASE";
}

// Nothing but blanks and ';' left of a text.
bool only_separators(const char* p, const char* end) {
  for (; p < end; ++p) {
    if (*p != ';' && !std::isspace(static_cast<unsigned char>(*p))) return false;
  }
  return true;
}

template <typename T>
T host_value(const std::vector<uint8_t>& v) {
  T out{};
  std::memcpy(&out, v.data(), v.size() < sizeof out ? v.size() : sizeof out);
  return out;
}

int bind_value(sqlite3_stmt* stmt, int index, const ParamRecord& rec) {
  // A value of length 0 cannot be told from a null on the wire: it is a null.
  if (rec.length <= 0 || rec.value.empty() || rec.wire_type == kWireBindOnly) return sqlite3_bind_null(stmt, index);
  const auto* bytes = rec.value.data();
  const int n = static_cast<int>(rec.value.size());
  switch (rec.wire_type) {
    case ST_BOOLEAN: return sqlite3_bind_int(stmt, index, bytes[0] == 'T' || bytes[0] == 1 ? 1 : 0);
    case ST_INT8: return sqlite3_bind_int(stmt, index, static_cast<int8_t>(bytes[0]));
    case ST_INT16: return sqlite3_bind_int(stmt, index, host_value<int16_t>(rec.value));
    case ST_INT32: return sqlite3_bind_int(stmt, index, host_value<int32_t>(rec.value));
    case ST_INT64: return sqlite3_bind_int64(stmt, index, host_value<int64_t>(rec.value));
    case ST_FLOAT: return sqlite3_bind_double(stmt, index, host_value<float>(rec.value));
    case ST_DOUBLE: return sqlite3_bind_double(stmt, index, host_value<double>(rec.value));
    case ST_DATETIME: {
      const std::string text = ms_to_local_text(host_value<int64_t>(rec.value));
      return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    case ST_BINARY:
    case ST_BLOB:
      return sqlite3_bind_blob(stmt, index, bytes, n, SQLITE_TRANSIENT);
    default:
      return sqlite3_bind_text(stmt, index, reinterpret_cast<const char*>(bytes), n, SQLITE_TRANSIENT);
  }
}

// The SQLite parameter a value bound by name goes to: ':name', '@name' or
// '$name', or the name as given when it carries its own prefix.
int parameter_index(sqlite3_stmt* stmt, const std::string& name) {
  if (name[0] == ':' || name[0] == '@' || name[0] == '$') return sqlite3_bind_parameter_index(stmt, name.c_str());
  for (char prefix : {':', '@', '$'}) {
    const int i = sqlite3_bind_parameter_index(stmt, (std::string(1, prefix) + name).c_str());
    if (i > 0) return i;
  }
  return 0;
}

}  // namespace

SqlSession::SqlSession(Link* link, sqlite3* db, SessionSettings settings)
    : link_(link), db_(db), settings_(std::move(settings)), out_(link), store_check_(db) {
  sqlite3_progress_handler(db_, kStepsBetweenLooks, &SqlSession::stop_if_client_gone, this);
}

SqlSession::~SqlSession() {
  sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  // Statements go before the connection that the caller closes.
  cursors_.clear();
  prepared_.clear();
  fixed_.clear();
}

// A statement whose client has closed its end stops (SQLite answers it as
// interrupted) rather than running on for nobody.
int SqlSession::stop_if_client_gone(void* self) {
  auto* session = static_cast<SqlSession*>(self);
  pollfd p{static_cast<int>(session->link_->sock), POLLRDHUP, 0};
  if (poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) session->client_gone_ = true;
  return session->client_gone_ ? 1 : 0;
}

std::string SqlSession::serve() {
  Command cmd;
  Values values;
  for (;;) {
    work_ahead();
    if (!read_command(link_, &cmd)) {
      if (cmd.letter == 0) return std::string();
      if (cmd.text_too_long) return "a statement text longer than " + std::to_string(kMaxStatementText) + " bytes";
      return "a command frame broke off";
    }
    if (cmd.letter == COMMAND_CONTINUE_ROWS) continue;  // the go-on of a reader that reads rows in batches: all rows are sent anyway
    if (cmd.letter != COMMAND_STATEMENT) {
      char why[64];
      std::snprintf(why, sizeof why, "unknown command letter 0x%02x", static_cast<unsigned char>(cmd.letter));
      return why;
    }
    if (settings_.verbose && settings_.log) {
      std::fprintf(settings_.log, "standin: connection %d: %.*s\n", settings_.id, kLogTextMax, cmd.text.c_str());
    }
    const uint32_t rows = cmd.param_count >> 16;
    if (rows > 0) {
      bool broken = false;
      run_batch(cmd.text, cmd.param_count & 0xFFFF, rows, &broken);
      if (broken) return "a batch block broke off or does not hold whole rows";
    } else {
      if (!read_param_records(link_, cmd.param_count, &values)) return "a parameter record broke off";
      answer(cmd.text, values);
    }
    if (client_gone_) return "the client went away while a statement ran: stopped";
    if (!out_.flush()) return "the link failed while answering";
  }
}

void SqlSession::answer(const std::string& text, const Values& values) {
  if (refuse_zero_byte(text)) {
    out_.letter(REPLY_END);
    return;
  }
  const DriverText t = classify_text(text);
  switch (t.kind) {
    case TextKind::Sql: run_sql(text, values); break;
    case TextKind::ShowVersion: answer_value("VERSION", settings_.version_text); break;
    case TextKind::ShowAutoCommit: answer_value("AUTO_COMMIT", settings_.auto_commit ? "T" : "F"); break;
    case TextKind::AutoCommitOn:
      // Switched on only once what was open is committed.
      if (end_transaction("COMMIT")) settings_.auto_commit = true;
      break;
    case TextKind::AutoCommitOff: settings_.auto_commit = false; break;
    case TextKind::Commit: end_transaction("COMMIT"); break;
    case TextKind::Rollback: end_transaction("ROLLBACK"); break;
    case TextKind::Declare: declare_cursor(t, values); break;
    case TextKind::Open: {
      auto it = cursors_.find(t.name);
      if (it == cursors_.end()) {
        write_error("[ES901]no cursor named " + t.name);
      } else {
        it->second.open = true;
      }
      break;
    }
    case TextKind::Fetch: fetch(t); break;
    case TextKind::Close: close_cursor(t); break;
    case TextKind::Prepare: prepare(t); break;
    case TextKind::Deallocate:
      if (prepared_.erase(t.name) == 0) write_error("[ES902]no prepared statement named " + t.name);
      break;
    case TextKind::ExecutePrepared: execute_prepared(t, values); break;
    case TextKind::GetLob:
      send_lob(t);
      return;  // the reply ends with its last piece
  }
  out_.letter(REPLY_END);
}

void SqlSession::write_error(const std::string& text) {
  out_.letter(REPLY_ERROR);
  out_.text(text);
}

// SQLite reads a text only up to a zero byte: the rest would be dropped, or,
// with the zero byte first, no statement would come of the text at all.
bool SqlSession::refuse_zero_byte(const std::string& text) {
  if (text.find('\0') == std::string::npos) return false;
  write_error("[ES909]a statement text holds a zero byte");
  return true;
}

// The rows written since `start` are taken back and the statement answers
// the error alone. A result too large to be held back has gone out in part:
// the error then follows those rows, as errors may come between rows.
void SqlSession::refuse_rows(const std::string& error, size_t start) {
  if (!out_.take_back(start) && settings_.log) {
    std::fprintf(settings_.log, "standin: connection %d: %s, after rows of its result went out\n", settings_.id,
                 error.c_str());
  }
  write_error(error);
}

std::string SqlSession::db_error(const char* where) const {
  char code[16];
  std::snprintf(code, sizeof code, "[ES%03d]", sqlite3_errcode(db_) & 0xFF);
  return code + std::string(sqlite3_errmsg(db_)) + where;
}

// What a statement without rows answers: an INSERT its new row id, an UPDATE
// or DELETE the rows it changed.
void SqlSession::write_changes(sqlite3_stmt* stmt, int64_t changes) {
  const std::string keyword = first_keyword(sqlite3_sql(stmt));
  if ((keyword == "INSERT" || keyword == "REPLACE") && changes > 0) {
    out_.letter(REPLY_INSERTED);
    out_.text(std::to_string(sqlite3_last_insert_rowid(db_)));
  } else if (keyword == "UPDATE" || keyword == "DELETE") {
    out_.letter(keyword == "UPDATE" ? REPLY_UPDATED : REPLY_DELETED);
    out_.u32(static_cast<uint32_t>(changes));
  }
}

bool SqlSession::exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  write_db_error();
  return false;
}

// Without auto-commit, the first statement after a commit or rollback opens
// the connection's next transaction.
bool SqlSession::begin_if_needed(sqlite3_stmt* stmt) {
  if (settings_.auto_commit || !sqlite3_get_autocommit(db_)) return true;
  if (stmt && is_transaction_control(first_keyword(sqlite3_sql(stmt)))) return true;
  // One that begins by writing takes the write lock at once, as its first
  // statement would: the column types that the store check reads then
  // start no snapshot that the write would have to catch up with.
  return exec(stmt && writes_rows(stmt) ? "BEGIN IMMEDIATE" : "BEGIN");
}

// Every writing statement opens and ends a scope: their texts are prepared
// once, not parsed again for each statement.
bool SqlSession::step_fixed(const char* sql) {
  Stmt& stmt = fixed_[sql];
  if (!stmt) {
    sqlite3_stmt* made = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &made, nullptr) != SQLITE_OK) {
      sqlite3_finalize(made);
      return false;
    }
    stmt.reset(made);
  }
  const int rc = sqlite3_step(stmt.get());
  sqlite3_reset(stmt.get());
  return rc == SQLITE_DONE;
}

bool SqlSession::begin_store(StoreScope* scope) {
  *scope = sqlite3_get_autocommit(db_) ? StoreScope::kTransaction : StoreScope::kSavepoint;
  if (!step_fixed(*scope == StoreScope::kTransaction ? "BEGIN IMMEDIATE" : "SAVEPOINT standin_store")) {
    write_db_error();
    return false;
  }
  if (store_check_.watch()) return true;
  write_db_error();
  std::string ignored;
  end_store(*scope, false, &ignored);
  return false;
}

bool SqlSession::end_store(StoreScope scope, bool keep, std::string* error) {
  const bool savepoint = scope == StoreScope::kSavepoint;
  if (keep) {
    if (step_fixed(savepoint ? "RELEASE standin_store" : "COMMIT")) return true;
    *error = db_error();
  }
  sqlite3_exec(db_, savepoint ? "ROLLBACK TO standin_store; RELEASE standin_store" : "ROLLBACK", nullptr, nullptr,
               nullptr);
  return false;
}

bool SqlSession::end_transaction(const char* verb) { return sqlite3_get_autocommit(db_) || exec(verb); }

bool SqlSession::prepare_one(const char* sql, size_t n, Stmt* stmt, const char** tail) {
  sqlite3_stmt* raw = nullptr;
  const char* rest = sql + n;
  const int rc = sqlite3_prepare_v2(db_, sql, static_cast<int>(n), &raw, &rest);
  stmt->reset(raw);
  *tail = rest ? rest : sql + n;
  if (rc == SQLITE_OK) return true;
  write_db_error();
  return false;
}

bool SqlSession::bind_values(sqlite3_stmt* stmt, const Values& values, size_t* next_positional) {
  const int count = sqlite3_bind_parameter_count(stmt);
  for (const ParamRecord& rec : values) {
    if (rec.name.empty()) continue;
    const int index = parameter_index(stmt, rec.name);
    // A name this statement does not use may belong to another of the text.
    if (index > 0 && bind_value(stmt, index, rec) != SQLITE_OK) {
      write_db_error();
      return false;
    }
  }
  for (int index = 1; index <= count && *next_positional < values.size(); ++index) {
    const ParamRecord& rec = values[*next_positional];
    if (!rec.name.empty()) break;
    ++*next_positional;
    if (bind_value(stmt, index, rec) != SQLITE_OK) {
      write_db_error();
      return false;
    }
  }
  return true;
}

void SqlSession::run_sql(const std::string& text, const Values& values) {
  const char* p = text.c_str();
  const char* const end = p + text.size();
  size_t next_positional = 0;
  while (p < end && !only_separators(p, end)) {
    const char* tail = end;
    Stmt stmt;
    if (!prepare_one(p, static_cast<size_t>(end - p), &stmt, &tail)) return;
    p = tail;
    if (!stmt) continue;  // a comment or blanks only
    if (!bind_values(stmt.get(), values, &next_positional) || !begin_if_needed(stmt.get()) ||
        !run_statement(stmt.get())) {
      return;
    }
  }
}

// A statement that writes rows is undone when one of its values is one that
// its column could not send back: it then answers that error alone.
bool SqlSession::run_statement(sqlite3_stmt* stmt) {
  if (!writes_rows(stmt)) return step_statement(stmt);
  StoreScope scope;
  if (!begin_store(&scope)) return false;
  const size_t start = out_.mark();
  const bool ok = step_statement(stmt);
  // Done with, so that nothing of it stands in the way of the scope's end.
  sqlite3_reset(stmt);
  const std::string misfit = store_check_.stop();
  // A statement that failed (its error written) leaves what its conflict
  // clause leaves, as it would on its own.
  std::string error;
  const bool kept = end_store(scope, misfit.empty(), &error);
  if (!ok) return false;
  if (!kept) refuse_rows(misfit.empty() ? error : misfit, start);
  return kept;
}

// Runs a statement to its end: rows become an 'A' item with all of them;
// otherwise an INSERT answers its new row id, an UPDATE or DELETE its count.
bool SqlSession::step_statement(sqlite3_stmt* stmt) {
  int rc = sqlite3_step(stmt);
  if (sqlite3_column_count(stmt) > 0) {
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      write_db_error();
      return false;
    }
    const size_t start = out_.mark();
    RowEncoder rows(describe_columns(stmt, rc == SQLITE_ROW), lobs());
    rows.write_head(out_);
    for (; rc == SQLITE_ROW && !out_.failed(); rc = sqlite3_step(stmt)) {
      if (rows.write_row(out_, stmt) != RowEncoder::Wrote::kRow) {
        refuse_rows(rows.misfit_error(stmt), start);
        return false;
      }
    }
    if (out_.failed()) return false;
    if (rc != SQLITE_DONE) {
      // Rows went out already: the failure follows them.
      write_db_error();
      return false;
    }
    return true;
  }
  while (rc == SQLITE_ROW) rc = sqlite3_step(stmt);
  if (rc != SQLITE_DONE) {
    write_db_error();
    return false;
  }
  write_changes(stmt, sqlite3_changes(db_));
  return true;
}

void SqlSession::run_batch(const std::string& text, uint32_t count, uint32_t rows, bool* broken) {
  Values row0;
  if (!read_param_records(link_, count, &row0)) {
    *broken = true;
    return;
  }
  // The rows are read to the end whatever happens, so that the link stays in step.
  const char* tail = nullptr;
  Stmt stmt;
  bool failed = refuse_zero_byte(text) || !prepare_one(text.c_str(), text.size(), &stmt, &tail);
  if (!failed && (!stmt || !only_separators(tail, text.c_str() + text.size()))) {
    write_error("[ES903]a batch runs one statement");
    failed = true;
  }
  const bool has_rows = !failed && sqlite3_column_count(stmt.get()) > 0;
  // All rows or none: the batch runs in a scope of its own.
  bool in_scope = false;
  StoreScope scope = StoreScope::kSavepoint;
  if (!failed && !has_rows) {
    failed = !begin_if_needed(stmt.get()) || !begin_store(&scope);
    in_scope = !failed;
  }
  int64_t changes = 0;
  uint32_t row_no = 0;
  auto run_row = [&](const Values& values) {
    const uint32_t this_row = row_no++;
    if (failed) return;
    // Only the first row of a SELECT is run: a batch gives no rows.
    if (has_rows && this_row > 0) return;
    sqlite3_reset(stmt.get());
    sqlite3_clear_bindings(stmt.get());
    size_t next = 0;
    if (!bind_values(stmt.get(), values, &next)) {
      failed = true;
      return;
    }
    if (has_rows) {
      failed = !begin_if_needed(stmt.get()) || !run_statement(stmt.get());
      return;
    }
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
      char where[48];
      std::snprintf(where, sizeof where, " (batch row %u)", this_row);
      write_db_error(where);
      store_check_.stop();
      failed = true;
      return;
    }
    // A value that its column could not send back undoes the batch.
    failed = store_check_.found();
    changes += sqlite3_changes(db_);
  };
  run_row(row0);
  if (!read_batch_rows(link_, row0, rows, settings_.batch_type_bytes, run_row)) {
    *broken = true;
    return;
  }
  for (uint32_t r = row_no; count == 0 && r < rows; ++r) run_row(row0);
  if (in_scope) {
    std::string error = store_check_.stop();
    if (!error.empty()) write_error(error);
    error.clear();
    if (!end_store(scope, !failed, &error) && !error.empty()) {
      write_error(error);
      failed = true;
    }
  }
  if (!failed && !has_rows) write_changes(stmt.get(), changes);
  out_.letter(REPLY_END);
}

void SqlSession::declare_cursor(const DriverText& t, const Values& values) {
  if (cursors_.count(t.name)) {
    write_error("[ES904]a cursor named " + t.name + " is open already");
    return;
  }
  // Over a prepared statement the cursor runs a statement of its own, so
  // that the prepared one stays free for other executions.
  auto named = prepared_.find(t.body);
  const std::string sql = named != prepared_.end() ? sqlite3_sql(named->second.get()) : t.body;
  const char* tail = nullptr;
  Stmt stmt;
  if (!prepare_one(sql.c_str(), sql.size(), &stmt, &tail)) return;
  if (!stmt || !only_separators(tail, sql.c_str() + sql.size()) || sqlite3_column_count(stmt.get()) == 0) {
    write_error("[ES905]a cursor runs one statement that returns rows");
    return;
  }
  size_t next = 0;
  if (!bind_values(stmt.get(), values, &next) || !begin_if_needed(stmt.get())) return;
  // The first row is stepped now: a failure shows here rather than inside a
  // block of rows, and it gives expression columns their types.
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    write_db_error();
    return;
  }
  Cursor& c = cursors_[t.name];
  c.has_row = rc == SQLITE_ROW;
  c.done = rc == SQLITE_DONE;
  c.rows = std::make_unique<RowEncoder>(describe_columns(stmt.get(), c.has_row), lobs());
  c.stmt = std::move(stmt);
  c.rows->write_head(out_);
}

void SqlSession::close_cursor(const DriverText& t) {
  auto it = cursors_.find(t.name);
  if (it == cursors_.end()) {
    write_error("[ES901]no cursor named " + t.name);
    return;
  }
  // Rows kept for the cursor go with it.
  if (ahead_ == &it->second) {
    ahead_ = nullptr;
    kept_.clear();
  }
  cursors_.erase(it);
}

void SqlSession::fetch(const DriverText& t) {
  auto it = cursors_.find(t.name);
  if (it == cursors_.end() || !it->second.open) {
    write_error("[ES906]no open cursor named " + t.name);
    return;
  }
  Cursor& c = it->second;
  if (!c.failure.empty()) {
    write_error(c.failure);
    return;
  }
  const size_t start = out_.mark();
  c.rows->write_head(out_);
  Step step = Step::kRow;
  std::string error;
  int64_t sent = 0;
  // Rows kept for this cursor come first, then the failure that followed
  // them when this block reaches it; the rest are stepped as they are sent.
  if (ahead_ == &c) {
    sent = kept_.send(out_, t.count);
    if (sent < t.count && kept_.rows() == 0 && kept_.failed()) {
      step = kept_.misfit() ? Step::kMisfit : Step::kDbError;
      error = kept_.take_failure();
    }
  }
  for (; step == Step::kRow && sent < t.count && !out_.failed(); ++sent) {
    step = next_row(c, out_, SIZE_MAX, &error);
  }
  if (step == Step::kDbError) write_error(error);
  if (step == Step::kMisfit) {
    // The cursor cannot get past this row: every later block answers the same.
    c.failure = error;
    refuse_rows(c.failure, start);
  }
  // A cursor that has run out holds no read lock while it waits for CLOSE.
  if (c.done) sqlite3_reset(c.stmt.get());

  // The next block is made ready for this cursor unless another one's rows
  // are kept. Character LOBs are stored as their rows are read, where a
  // descriptor's number and the values kept depend on what ran before: their
  // rows are read only when asked for.
  if (ahead_ == &c && kept_.empty() && c.done) {
    ahead_ = nullptr;
    kept_.clear();
  }
  if ((ahead_ == &c || !ahead_ || kept_.empty()) && !c.done && t.count > 0 && !c.rows->stores_lobs()) {
    ahead_ = &c;
    ahead_rows_ = t.count;
  }
}

SqlSession::Step SqlSession::next_row(Cursor& c, ReplyWriter& to, size_t limit, std::string* error) {
  if (!c.has_row) {
    if (c.done) return Step::kEnd;
    const int rc = sqlite3_step(c.stmt.get());
    if (rc != SQLITE_ROW) {
      c.done = true;
      if (rc == SQLITE_DONE) return Step::kEnd;
      *error = db_error();
      return Step::kDbError;
    }
    c.has_row = true;
  }
  switch (c.rows->write_row(to, c.stmt.get(), limit)) {
    case RowEncoder::Wrote::kRow: break;
    case RowEncoder::Wrote::kTooLong: return Step::kTooLong;
    case RowEncoder::Wrote::kMisfit:
      *error = c.rows->misfit_error(c.stmt.get());
      c.done = true;
      c.has_row = false;
      return Step::kMisfit;
  }
  c.has_row = false;
  return Step::kRow;
}

// The client reads a block while the next one is made ready, as a server
// that works ahead of its clients does. Nothing the client sees changes:
// rows are kept in the order they are stepped and go out, with the failure
// that followed them, in the place where stepping them at the FETCH would
// have put them. A command that arrives stops the work between two rows (it
// waits at most for the row being stepped and kLookEvery more); the rows kept
// so far stay for the cursor's next FETCH, whatever runs before it, and the
// work goes on after that command is answered. Rows once stepped cannot be
// stepped again: a statement that changes, on this connection, rows that a
// cursor has read ahead finds them sent as they were read, as SQLite leaves
// undefined whether a running query sees its own connection's later changes;
// and a cursor whose end was read ahead lets go of its table at once, so that
// the table can be dropped before the FETCH that finds the end.
void SqlSession::work_ahead() {
  // Rows stepped between two looks for a waiting command.
  constexpr int kLookEvery = 128;
  Cursor* const c = ahead_;
  if (!c || c->done) return;
  std::string error;
  for (int until_look = 0; !c->has_row && kept_.rows() < static_cast<uint64_t>(ahead_rows_); --until_look) {
    if (until_look == 0) {
      if (command_waiting()) return;
      until_look = kLookEvery;
    }
    const Step step = next_row(*c, kept_.writer(), kept_.room(), &error);
    if (step == Step::kRow) {
      kept_.kept();
    } else {
      if (step == Step::kDbError || step == Step::kMisfit) kept_.fail(std::move(error), step == Step::kMisfit);
      break;
    }
  }
  if (c->done) sqlite3_reset(c->stmt.get());
}

bool SqlSession::command_waiting() const {
  if (link_->recv_fill > link_->recv_pos) return true;
  // Readable, closed or failed: either way the work stops for the read.
  pollfd p{static_cast<int>(link_->sock), POLLIN, 0};
  return poll(&p, 1, 0) != 0;
}

void SqlSession::prepare(const DriverText& t) {
  if (prepared_.count(t.name)) {
    write_error("[ES907]a statement named " + t.name + " is prepared already");
    return;
  }
  const char* tail = nullptr;
  Stmt stmt;
  if (!prepare_one(t.body.c_str(), t.body.size(), &stmt, &tail)) return;
  if (!stmt || !only_separators(tail, t.body.c_str() + t.body.size())) {
    write_error("[ES908]a prepared statement is one statement");
    return;
  }
  if (sqlite3_column_count(stmt.get()) > 0) RowEncoder(describe_columns(stmt.get(), false), nullptr).write_head(out_);
  // The parameters: each name without its prefix (empty for '?'), its
  // 0-based place, text as the type, and no size.
  const int n = sqlite3_bind_parameter_count(stmt.get());
  out_.letter(REPLY_PARAM_DESCS);
  out_.u32(static_cast<uint32_t>(n));
  for (int i = 1; i <= n; ++i) {
    const char* name = sqlite3_bind_parameter_name(stmt.get(), i);
    out_.text(name && (name[0] == ':' || name[0] == '@' || name[0] == '$') ? name + 1 : "");
    out_.u32(static_cast<uint32_t>(i - 1));
    out_.u32(ST_CHAR);
    out_.u32(0);
  }
  prepared_[t.name] = std::move(stmt);
}

void SqlSession::execute_prepared(const DriverText& t, const Values& values) {
  auto it = prepared_.find(t.name);
  if (it == prepared_.end()) {
    write_error("[ES902]no prepared statement named " + t.name);
    return;
  }
  sqlite3_stmt* stmt = it->second.get();
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  size_t next = 0;
  if (bind_values(stmt, values, &next) && begin_if_needed(stmt)) run_statement(stmt);
  sqlite3_reset(stmt);
}

void SqlSession::send_lob(const DriverText& t) {
  const std::string* value = lob_store_.find(t.name);
  if (!value) {
    // Any letter but 'A' tells the client there is no value; 'K' is the one
    // that leaves nothing unread.
    out_.letter(REPLY_END);
    return;
  }
  size_t from = t.offset < 0 ? 0 : static_cast<size_t>(t.offset);
  if (from > value->size()) from = value->size();
  size_t n = value->size() - from;
  if (t.count >= 0 && static_cast<uint64_t>(t.count) < n) n = static_cast<size_t>(t.count);
  out_.letter(REPLY_RESULT_SET);
  out_.u32(1);
  out_.field("LOB", ST_CLOB, 0, 0);
  out_.letter(REPLY_ROW);
  uint32_t piece = 1;
  for (size_t done = 0; done < n; ++piece) {
    const size_t step = n - done < kLobPiece ? n - done : kLobPiece;
    out_.u32(piece);
    out_.u32(static_cast<uint32_t>(step));
    out_.bytes(value->data() + from + done, step);
    done += step;
  }
  out_.u32(0);
}

void SqlSession::answer_value(const char* column, const std::string& value) {
  out_.letter(REPLY_RESULT_SET);
  out_.u32(1);
  out_.field(column, ST_CHAR, static_cast<uint32_t>(value.size()), 0);
  out_.letter(REPLY_ROW);
  out_.text(value);
}

}  // namespace standin
