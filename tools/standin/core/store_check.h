// Values that a column could not send back are refused when they are stored.
// SQLite keeps any value in any column, while a result carries each column in
// the wire type of its declaration: a row that is written while the check
// watches has each of its values tried in its column's wire type, as a result
// would send it, and the first that does not fit is kept as the error. The
// caller runs the writing statement in a scope of its own (a savepoint or a
// transaction) and undoes it when there is such an error.
#ifndef RIZEZOVA_STANDIN_STORE_CHECK_H
#define RIZEZOVA_STANDIN_STORE_CHECK_H

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace standin {

class StoreCheck {
 public:
  // Hooks into db's row writes; the hook goes with the object.
  explicit StoreCheck(sqlite3* db);
  ~StoreCheck();
  StoreCheck(const StoreCheck&) = delete;
  StoreCheck& operator=(const StoreCheck&) = delete;

  // Watches the rows written from now on, counting them from 1. False, with
  // the failure left in db, when the column types could not be read.
  bool watch();
  // Whether a value written since watch() did not fit.
  bool found() const { return !misfit_.empty(); }
  // Stops watching; the error of the first value that did not fit, empty
  // when every value did.
  std::string stop();

 private:
  struct Table {
    std::vector<std::string> names;
    std::vector<uint32_t> types;  // 0: no declared type, any value goes
  };

  static void on_write(void* self, sqlite3* db, int op, const char* schema, const char* table, sqlite3_int64,
                       sqlite3_int64);
  void check_row(const char* schema, const char* table);
  // Reads every table's declared column types again once a schema changed.
  bool refresh();
  // The version of main's schema and of temp's, or -1 when it cannot be read.
  int64_t schema_version(sqlite3_stmt* pragma);

  sqlite3* db_;
  sqlite3_stmt* main_version_ = nullptr;
  sqlite3_stmt* temp_version_ = nullptr;
  int64_t versions_[2] = {-1, -1};
  std::unordered_map<std::string, Table> tables_;  // by "schema.table"
  bool watching_ = false;
  int64_t rows_ = 0;
  std::string misfit_;
};

}  // namespace standin

#endif
