// The statement texts that the driver itself sends (cursors, prepared
// statements, LOB fetches, transaction control, the version question), told
// apart from the SQL that goes to the database as it stands. Keywords are
// matched in any letter case and with any spacing; a text that only looks
// like one of these but does not fit its form is SQL.
#ifndef RIZEZOVA_STANDIN_DRIVER_TEXTS_H
#define RIZEZOVA_STANDIN_DRIVER_TEXTS_H

#include <cstdint>
#include <string>
#include <string_view>

namespace standin {

enum class TextKind {
  Sql,
  ShowVersion,      // show version
  ShowAutoCommit,   // SHOW AUTO_COMMIT;
  AutoCommitOn,     // SET AUTO_COMMIT ON;
  AutoCommitOff,    // SET AUTO_COMMIT OFF;
  Commit,           // COMMIT;
  Rollback,         // ROLLBACK;
  Declare,          // DECLARE name CURSOR FOR body
  Open,             // OPEN name ;
  Fetch,            // FETCH count FROM name ;
  Close,            // CLOSE name
  Prepare,          // PREPARE name AS body
  Deallocate,       // DEALLOCATE name
  ExecutePrepared,  // ? name
  GetLob,           // get lob 'name' offset N limit N
};

struct DriverText {
  TextKind kind = TextKind::Sql;
  std::string name;    // the cursor, statement or LOB named
  std::string body;    // DECLARE: the SELECT or statement name; PREPARE: the SQL
  int64_t count = 0;   // FETCH: rows asked; get lob: the limit
  int64_t offset = 0;  // get lob
};

DriverText classify_text(std::string_view text);

}  // namespace standin

#endif
