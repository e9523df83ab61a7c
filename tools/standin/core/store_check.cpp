#include "tools/standin/core/store_check.h"

#include "tools/standin/core/column_types.h"
#include "tools/standin/core/row_encoder.h"

namespace standin {

namespace {

// Every column of every table of main and temp, with its declared type.
constexpr const char* kColumns =
    "SELECT 'main', m.name, p.name, p.type, p.cid FROM main.sqlite_master AS m, pragma_table_xinfo(m.name, 'main') "
    "AS p WHERE m.type = 'table' UNION ALL "
    "SELECT 'temp', m.name, p.name, p.type, p.cid FROM temp.sqlite_master AS m, pragma_table_xinfo(m.name, 'temp') "
    "AS p WHERE m.type = 'table' ORDER BY 1, 2, 5";

sqlite3_stmt* prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return nullptr;
  }
  return stmt;
}

std::string text_column(sqlite3_stmt* stmt, int k) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, k));
  return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt, k))) : std::string();
}

}  // namespace

StoreCheck::StoreCheck(sqlite3* db)
    : db_(db),
      main_version_(prepare(db, "PRAGMA main.schema_version")),
      temp_version_(prepare(db, "PRAGMA temp.schema_version")) {
  sqlite3_preupdate_hook(db_, &StoreCheck::on_write, this);
}

StoreCheck::~StoreCheck() {
  sqlite3_preupdate_hook(db_, nullptr, nullptr);
  sqlite3_finalize(main_version_);
  sqlite3_finalize(temp_version_);
}

bool StoreCheck::watch() {
  if (!refresh()) return false;
  watching_ = true;
  rows_ = 0;
  misfit_.clear();
  return true;
}

std::string StoreCheck::stop() {
  watching_ = false;
  std::string misfit;
  misfit.swap(misfit_);
  return misfit;
}

int64_t StoreCheck::schema_version(sqlite3_stmt* pragma) {
  if (!pragma) return -1;
  const int64_t version = sqlite3_step(pragma) == SQLITE_ROW ? sqlite3_column_int64(pragma, 0) : -1;
  sqlite3_reset(pragma);
  return version;
}

bool StoreCheck::refresh() {
  const int64_t now[2] = {schema_version(main_version_), schema_version(temp_version_)};
  if (now[0] < 0 || now[1] < 0) return false;
  if (now[0] == versions_[0] && now[1] == versions_[1]) return true;
  sqlite3_stmt* columns = prepare(db_, kColumns);
  if (!columns) return false;
  tables_.clear();
  int rc;
  while ((rc = sqlite3_step(columns)) == SQLITE_ROW) {
    Table& t = tables_[text_column(columns, 0) + "." + text_column(columns, 1)];
    ColumnType type;
    const std::string declared = text_column(columns, 3);
    t.names.push_back(text_column(columns, 2));
    t.types.push_back(declared_column_type(declared.c_str(), &type) ? type.server_type : 0);
  }
  sqlite3_finalize(columns);
  if (rc != SQLITE_DONE) {
    tables_.clear();
    return false;
  }
  versions_[0] = now[0];
  versions_[1] = now[1];
  return true;
}

void StoreCheck::on_write(void* self, sqlite3*, int op, const char* schema, const char* table, sqlite3_int64,
                          sqlite3_int64) {
  auto* check = static_cast<StoreCheck*>(self);
  if (check->watching_ && op != SQLITE_DELETE) check->check_row(schema, table);
}

void StoreCheck::check_row(const char* schema, const char* table) {
  ++rows_;
  if (!misfit_.empty()) return;
  auto it = tables_.find(std::string(schema) + "." + table);
  if (it == tables_.end()) return;
  const Table& t = it->second;
  // A table whose row holds other columns than its declaration lists (such
  // as generated ones) is not checked.
  const int n = sqlite3_preupdate_count(db_);
  if (n != static_cast<int>(t.types.size())) return;
  for (int k = 0; k < n; ++k) {
    sqlite3_value* v = nullptr;
    WireValue cell;
    if (t.types[k] == 0 || sqlite3_preupdate_new(db_, k, &v) != SQLITE_OK || !v || wire_value(v, t.types[k], &cell)) {
      continue;
    }
    misfit_ = misfit_text(rows_, t.names[k].c_str(), v, t.types[k]);
    return;
  }
}

}  // namespace standin
