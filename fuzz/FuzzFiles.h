#pragma once

// Files for the harnesses: bytes written whole, a scratch folder of the process's own, new
// SQLite files made from SQL.

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace lanewright::fuzz {

// Writes bytes to path, replacing it; false when that fails.
inline bool WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

// A path in a folder made for this process and removed with everything in it at exit.
inline std::string ScratchFile(const std::string& name) {
  static const std::string dir = [] {
    std::string d = (std::filesystem::temp_directory_path() / "lanewright-fuzz-XXXXXX").string();
    if (!::mkdtemp(d.data())) std::abort();
    return d;
  }();
  static const bool removeAtExit =
      std::atexit([] { std::filesystem::remove_all(std::filesystem::path(dir)); }) == 0;
  (void)removeAtExit;
  return dir + "/" + name;
}

// Makes a new SQLite file at path (whatever was there goes, with SQLite's journal files)
// and runs sql on it; returns SQLite's complaint, or "" when it all ran.
inline std::string CreateSqliteFile(const std::string& path, const std::string& sql) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
  sqlite3* db = nullptr;
  char* error = nullptr;
  std::string complaint;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
    complaint = sqlite3_errmsg(db);
  else if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
    complaint = error ? error : sqlite3_errmsg(db);
  sqlite3_free(error);
  sqlite3_close(db);
  return complaint;
}

}  // namespace lanewright::fuzz
