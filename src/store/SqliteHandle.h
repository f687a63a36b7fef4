#pragma once

#include <memory>
#include <string>

#include "store/ResultCodes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace lanewright::store {

struct SqliteCloser {
  void operator()(sqlite3* db) const;
};
struct SqliteFinalizer {
  void operator()(sqlite3_stmt* stmt) const;
};
using SqliteDb = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// Opens an existing SQLite file with the given SQLITE_OPEN_* flags (never creating it
// unless the flags ask for it) and a busy timeout, so that another program's lock makes
// us wait a few seconds before giving up. On failure returns null and fills err (E_FAIL).
SqliteDb OpenSqlite(const std::string& path, int flags, StoreError& err);

SqliteStatement Prepare(sqlite3* db, const std::string& sql, StoreError& err,
                        const std::string& path);

// Runs statements that return no rows; false with err filled on failure.
bool Execute(sqlite3* db, const std::string& sql, StoreError& err, const std::string& path);

// A transaction that rolls back unless Commit succeeded.
class SqliteTransaction {
 public:
  SqliteTransaction(sqlite3* db, StoreError& err, const std::string& path);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;

  bool Began() const { return began_; }
  bool Commit(StoreError& err);

 private:
  sqlite3* db_;
  std::string path_;
  bool began_ = false;
  bool committed_ = false;
};

inline constexpr int kBusyTimeoutMs = 5000;

}  // namespace lanewright::store
