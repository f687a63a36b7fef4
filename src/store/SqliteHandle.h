#pragma once

#include <cstdint>
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
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// The longest text or blob a connection accepts. Names hold at most 50 characters; a
// larger value can only come from a file built to make us work or allocate.
inline constexpr int kSqliteMaxValueBytes = 32 * 1024;

// A connection to a file that may come from another player, used by one thread at a time
// (it has no mutex of its own), opened the way SQLite's
// advice for untrusted databases says: defensive mode, the schema not trusted to call
// functions with side effects, no extensions, small limits, and a work budget.
//
// The budget counts the steps of SQLite's virtual machine. It is set generously for our
// own look-ups, and tightly around reading and writing rows: each row read or written
// allows a few steps per column more. A large file therefore reads at full speed, while a
// file that makes SQLite work for each row far beyond that (a generated column that builds
// large values, a trigger that loops) runs out and is refused (SQLITE_INTERRUPT).
class SqliteDb {
 public:
  SqliteDb() = default;
  sqlite3* get() const { return db_.get(); }
  explicit operator bool() const { return db_ != nullptr; }

  // Sets what is left of the budget / adds to it, in steps.
  // (const: the budget is bookkeeping beside the connection, not part of it.)
  void AllowWork(std::int64_t steps) const;
  void AddWork(std::int64_t steps) const;
  bool WorkRanOut() const { return budget_ && budget_->ranOut; }

  // Steps allowed per row read: twice what a plain table takes (one per column and a
  // few per row), far below what an expression that builds large values needs.
  static std::int64_t StepsPerRow(std::size_t columns) {
    return 16 + 2 * static_cast<std::int64_t>(columns);
  }

 private:
  friend SqliteDb OpenSqlite(const std::string& path, int flags, StoreError& err);
  struct Budget {
    std::int64_t left = 0;
    bool ranOut = false;
  };
  static int OnProgress(void* budget);

  std::unique_ptr<Budget> budget_;  // outlives the connection that points at it
  std::unique_ptr<sqlite3, SqliteCloser> db_;
};

// Steps for our own look-ups in the schema, however many tables it lists.
inline constexpr std::int64_t kSqliteLookupSteps = 50'000'000;
// Steps before the first row of a read or a write.
inline constexpr std::int64_t kSqliteStartSteps = 2'000;

// Opens an existing SQLite file with the given SQLITE_OPEN_* flags (never creating it
// unless the flags ask for it) and a busy timeout of LockWait(), so that another program's
// lock makes us wait before giving up. On failure returns null and fills err (E_FAIL).
SqliteDb OpenSqlite(const std::string& path, int flags, StoreError& err);

// The failure of the last call on db, with the path: E_FAIL and a reason that says
// "refused" when the file was stopped for the work or the size of a value it asked for.
StoreError SqliteFailure(const SqliteDb& db, const std::string& path);

SqliteStatement Prepare(const SqliteDb& db, const std::string& sql, StoreError& err,
                        const std::string& path);

// Runs statements that return no rows; false with err filled on failure.
bool Execute(const SqliteDb& db, const std::string& sql, StoreError& err, const std::string& path);

// A transaction that rolls back unless Commit succeeded. BEGIN IMMEDIATE takes the write
// lock at once, so that whatever is read inside stays true until the commit.
class SqliteTransaction {
 public:
  SqliteTransaction(const SqliteDb& db, StoreError& err, const std::string& path);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;

  bool Began() const { return began_; }
  bool Commit(StoreError& err);

 private:
  const SqliteDb& db_;
  std::string path_;
  bool began_ = false;
  bool committed_ = false;
};

// A name as an SQL identifier: in double quotes, inner quotes doubled.
std::string QuoteSqlName(const std::string& name);

}  // namespace lanewright::store
