#include "store/SqliteHandle.h"

#include <fmt/format.h>
#include <sqlite3.h>

namespace lanewright::store {

void SqliteCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }
void SqliteFinalizer::operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }

SqliteDb OpenSqlite(const std::string& path, int flags, StoreError& err) {
  // This SQLite takes file names that start with "file:" as URIs, which would open another
  // file than the one named; "./" keeps such a (relative) name a plain path.
  const std::string name = path.rfind("file:", 0) == 0 ? "./" + path : path;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &raw, flags, nullptr);
  SqliteDb db(raw);  // owned even when opening failed
  if (rc != SQLITE_OK) {
    err = {E_FAIL, fmt::format("{}: {}", path, db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc))};
    return nullptr;
  }
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  sqlite3_extended_result_codes(db.get(), 1);
  return db;
}

SqliteStatement Prepare(sqlite3* db, const std::string& sql, StoreError& err,
                        const std::string& path) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
  SqliteStatement stmt(raw);
  if (rc != SQLITE_OK) {
    err = {E_FAIL, fmt::format("{}: {}", path, sqlite3_errmsg(db))};
    return nullptr;
  }
  return stmt;
}

bool Execute(sqlite3* db, const std::string& sql, StoreError& err, const std::string& path) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    err = {E_FAIL, fmt::format("{}: {}", path, message ? message : sqlite3_errstr(rc))};
    sqlite3_free(message);
    return false;
  }
  return true;
}

SqliteTransaction::SqliteTransaction(sqlite3* db, StoreError& err, const std::string& path)
    : db_(db), path_(path) {
  // IMMEDIATE takes the write lock now, so a busy file is noticed before any work.
  began_ = Execute(db_, "BEGIN IMMEDIATE", err, path_);
}

SqliteTransaction::~SqliteTransaction() {
  if (began_ && !committed_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool SqliteTransaction::Commit(StoreError& err) {
  if (!began_) return false;
  committed_ = Execute(db_, "COMMIT", err, path_);
  return committed_;
}

}  // namespace lanewright::store
