#include "store/SqliteHandle.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include "store/Table.h"

namespace lanewright::store {
namespace {

// The budget is checked about this often, in steps: often enough to stop a loop within
// microseconds, rarely enough to cost nothing measurable.
constexpr int kStepsPerCheck = 1000;

// Built-in functions whose one call can take far longer than the size of its result
// (printf's padding loops, and searches that compare every place with every other) are
// refused: a single call cannot be stopped by the budget, which is checked between steps.
// No database of the game needs them in its schema, and our own statements do not use
// them. Registered as deterministic and innocuous so that every use in a schema reaches
// this refusal rather than another error.
constexpr const char* kSlowFunctions[] = {"printf", "format", "instr", "replace",
                                          "trim",   "ltrim",  "rtrim"};

void RefuseSlowFunction(sqlite3_context* context, int, sqlite3_value**) {
  const std::string why = fmt::format("refused: it calls {}(), which can take unbounded time",
                                      static_cast<const char*>(sqlite3_user_data(context)));
  sqlite3_result_error(context, why.c_str(), -1);
}

}  // namespace

void SqliteCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }
void SqliteFinalizer::operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }

void SqliteDb::AllowWork(std::int64_t steps) const {
  if (budget_) *budget_ = {steps, false};
}

void SqliteDb::AddWork(std::int64_t steps) const {
  if (budget_) budget_->left += steps;
}

int SqliteDb::OnProgress(void* budget) {
  auto* b = static_cast<Budget*>(budget);
  b->left -= kStepsPerCheck;
  if (b->left >= 0) return 0;
  b->ranOut = true;
  return 1;
}

SqliteDb OpenSqlite(const std::string& path, int flags, StoreError& err) {
  // This SQLite takes file names that start with "file:" as URIs, which would open another
  // file than the one named; "./" keeps such a (relative) name a plain path.
  const std::string name = path.rfind("file:", 0) == 0 ? "./" + path : path;
  SqliteDb db;
  db.budget_ = std::make_unique<SqliteDb::Budget>();
  sqlite3* raw = nullptr;
  // NOMUTEX: a connection is used by one thread at a time, so SQLite need not lock it
  // for every value read (which costs as much as the reading).
  const int rc = sqlite3_open_v2(name.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  db.db_.reset(raw);  // owned even when opening failed
  if (rc != SQLITE_OK) {
    err = {E_FAIL, fmt::format("{}: {}", path, raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc))};
    return {};
  }
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
  for (const char* name : kSlowFunctions)
    sqlite3_create_function_v2(raw, name, -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                               const_cast<char*>(name), RefuseSlowFunction, nullptr, nullptr,
                               nullptr);
  // Limits: values and statements far above anything a turn's data needs, far below
  // what would hurt; no attached files.
  sqlite3_limit(raw, SQLITE_LIMIT_LENGTH, kSqliteMaxValueBytes);
  sqlite3_limit(raw, SQLITE_LIMIT_SQL_LENGTH, 32 * 1024);
  sqlite3_limit(raw, SQLITE_LIMIT_COLUMN, 255);
  sqlite3_limit(raw, SQLITE_LIMIT_EXPR_DEPTH, 100);
  sqlite3_limit(raw, SQLITE_LIMIT_FUNCTION_ARG, 8);
  sqlite3_limit(raw, SQLITE_LIMIT_VDBE_OP, 25000);
  sqlite3_limit(raw, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 50);
  sqlite3_limit(raw, SQLITE_LIMIT_TRIGGER_DEPTH, 10);
  sqlite3_limit(raw, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_busy_timeout(raw, static_cast<int>(LockWait().count()));
  db.AllowWork(kSqliteLookupSteps);
  sqlite3_progress_handler(raw, kStepsPerCheck, &SqliteDb::OnProgress, db.budget_.get());
  return db;
}

StoreError SqliteFailure(const SqliteDb& db, const std::string& path) {
  if (db.WorkRanOut())
    return {E_FAIL, fmt::format("{}: refused: it makes SQLite work far more for each row than "
                                "any table needs (a damaged or hostile file?)",
                                path)};
  const int code = sqlite3_errcode(db.get()) & 0xFF;
  if (code == SQLITE_TOOBIG)
    return {E_FAIL, fmt::format("{}: refused: it holds or builds a value over {} bytes ({})", path,
                                kSqliteMaxValueBytes, sqlite3_errmsg(db.get()))};
  return {E_FAIL, fmt::format("{}: {}", path, sqlite3_errmsg(db.get()))};
}

SqliteStatement Prepare(const SqliteDb& db, const std::string& sql, StoreError& err,
                        const std::string& path) {
  sqlite3_stmt* raw = nullptr;
  const int rc =
      sqlite3_prepare_v2(db.get(), sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
  SqliteStatement stmt(raw);
  if (rc != SQLITE_OK) {
    err = SqliteFailure(db, path);
    return nullptr;
  }
  return stmt;
}

bool Execute(const SqliteDb& db, const std::string& sql, StoreError& err, const std::string& path) {
  if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  err = SqliteFailure(db, path);
  return false;
}

SqliteTransaction::SqliteTransaction(const SqliteDb& db, StoreError& err, const std::string& path)
    : db_(db), path_(path) {
  began_ = Execute(db_, "BEGIN IMMEDIATE", err, path_);
}

SqliteTransaction::~SqliteTransaction() {
  if (!began_ || committed_) return;
  db_.AllowWork(kSqliteLookupSteps);  // a budget that ran out must not stop the rollback
  sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

bool SqliteTransaction::Commit(StoreError& err) {
  if (!began_) return false;
  committed_ = Execute(db_, "COMMIT", err, path_);
  return committed_;
}

std::string QuoteSqlName(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + '"';
}

}  // namespace lanewright::store
