// Seeds for sqlite_fuzzer: small SQLite files made with the SQLite library, with 512-byte
// pages to keep them small: empire files with good rows, rows the bindings skip, other
// column types and layouts, and files shaped like a turn entry database.

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "SeedFolder.h"

namespace {

void Make(const lanewright::fuzz::SeedFolder& folder, const std::string& name,
          const std::string& sql) {
  const std::string path = folder.Path(name);
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  char* error = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, ("PRAGMA page_size=512; BEGIN;" + sql + "COMMIT;").c_str(), nullptr, nullptr,
                   &error) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), error ? error : sqlite3_errmsg(db));
    std::exit(1);
  }
  sqlite3_close(db);
}

const char* const kEmpireTable =
    "CREATE TABLE \"Warp Points\" (\"Index\" INTEGER, \"Empire\" INTEGER, \"System\" TEXT,"
    " \"Destination\" TEXT, \"WP\" INTEGER);";

}  // namespace

int main(int argc, char** argv) {
  const lanewright::fuzz::SeedFolder folder(argc, argv);
  const std::string empire = kEmpireTable;
  Make(
      folder, "empire",
      empire +
          "INSERT INTO \"Warp Points\" VALUES (1, 3, 'Sol', 'VegaA', 1), (2, 3, 'Vega', 'SolA', 2),"
          " (3, 3, 'Vega', '?CC', 3), (4, 7, 'S\xc3\xb6l', 'X1B', 4);");
  Make(folder, "empire-skipped",
       empire +
           "INSERT INTO \"Warp Points\" VALUES (NULL, 3, 'Sol', 'VegaA', 1),"
           " ('12', '3', 42, 7.0, '5'), (2.5, 3, 'Sol', 'VegaA', 1),"
           " (4294967296, 3, 'Sol', 'VegaA', 1), (5, 3, '" +
           std::string(51, 'n') +
           "', 'VegaA', 1), (6, 3, x'00', 'VegaA', 1),"
           " (7, 3, 'a' || char(0) || 'b', 'VegaA', 1);");
  Make(folder, "empire-types",
       "CREATE TABLE \"warp points\" (a, b NUMERIC, c VARCHAR(50), d CLOB, e REAL, f BLOB);"
       "INSERT INTO \"warp points\" VALUES (1, '2', 'Sol', 'VegaA', 3.0, x'01');");
  Make(folder, "empire-four-columns",
       "CREATE TABLE \"Warp Points\" (a INTEGER, b INTEGER, c TEXT, d TEXT);"
       "INSERT INTO \"Warp Points\" VALUES (1, 3, 'Sol', 'VegaA');");
  Make(folder, "empire-binary-column",
       "CREATE TABLE \"Warp Points\" (a INTEGER, b INTEGER, c BLOB, d TEXT, e INTEGER);");
  Make(folder, "empire-view",
       "CREATE TABLE t (a INTEGER, b INTEGER, c TEXT, d TEXT, e INTEGER);"
       "INSERT INTO t VALUES (1, 3, 'Sol', 'VegaA', 1);"
       "CREATE VIEW \"Warp Points\" AS SELECT * FROM t UNION ALL SELECT a + 1, b, d, c, e FROM t;");
  Make(folder, "empire-indexed",
       empire +
           "CREATE UNIQUE INDEX wp ON \"Warp Points\" (\"WP\");"
           "INSERT INTO \"Warp Points\" VALUES (1, 3, 'Sol', 'VegaA', 1), (2, 3, 'Vega', 'SolA', "
           "2);");
  Make(folder, "empire-without-rowid",
       "CREATE TABLE \"Warp Points\" (a INTEGER PRIMARY KEY, b INTEGER, c TEXT, d TEXT, e INTEGER)"
       " WITHOUT ROWID; INSERT INTO \"Warp Points\" VALUES (1, 3, 'Sol', 'VegaA', 1);");
  Make(folder, "empire-overflow",
       empire + "INSERT INTO \"Warp Points\" VALUES (1, 3, '" + std::string(700, 'S') +
           "', 'VegaA', 1), (2, 3, 'Sol', '" + std::string(48, 'V') + "A', 2);");
  Make(folder, "turn-entry",
       "CREATE TABLE \"Orders\" (\"Empire\" INTEGER NOT NULL, \"Order Code\" VARCHAR(50) NOT NULL,"
       " \"Order Number\" INTEGER NOT NULL, \"Argument 1\" VARCHAR(50) NOT NULL DEFAULT ' ',"
       " \"Argument 2\" VARCHAR(50));"
       "CREATE TABLE \"Fleets\" (\"Empire\" INTEGER NOT NULL, \"Fleet Number\" INTEGER NOT NULL,"
       " \"Name\" VARCHAR(50) NOT NULL DEFAULT ' ');"
       "INSERT INTO \"Orders\" VALUES (3, 'Move', 10, 'Sol', NULL), (3, 'Move', 20, ' ', 'x');"
       "INSERT INTO \"Fleets\" VALUES (3, 1234, 'Convoy'), (7, 1, ' ');");
  Make(folder, "turn-entry-empty",
       "CREATE TABLE \"Orders\" (a INTEGER, b TEXT, c INTEGER, d TEXT, e TEXT);"
       "CREATE TABLE \"Fleets\" (a INTEGER, b INTEGER, c TEXT);");
}
